#include <gtest/gtest.h>

#include <cstring>
#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "Alloc.h"
#include "Argums.h"
#include "Support.h"
#include "ElfTables.h"
#include "Fatal.h"
#include "Mapped.h"
#include "Range.h"
#include "Vortle.h"

namespace {

using vt::Bytes;

// Runs body: 0 when it returned, -1 when the reader stopped the run as cut short.
int ReaderGuard(void (*body)()) {
    try {
        body();
    } catch (const Stop& stop) {
        return stop.exit == kExitReaderAbort ? -1 : -2;
    }
    return 0;
}

TEST(SignatureRange, Layouts) {
    Sig_LPC17_13_xx();
    EXPECT_EQ(signa.mode, 0x44);
    EXPECT_EQ(signa.start, 0u);
    EXPECT_EQ(signa.end, 0x18u);
    EXPECT_EQ(signa.position, 0x1Cu);
    SetSigna(0x2000);
    EXPECT_EQ(signa.mode, 0x44);
    EXPECT_EQ(signa.start, 0x2000u);
    EXPECT_EQ(signa.end, 0x2018u);
    EXPECT_EQ(signa.position, 0x201Cu);
    SetSigna(0xFF000000);
    EXPECT_EQ(signa.end, 0xFF000018u);
    EXPECT_EQ(signa.position, 0xFF00001Cu);
    SetSigna(0);
    EXPECT_EQ(signa.position, 0x1Cu);
    signa = Signa{};
}

class Reader : public ::testing::Test {
  protected:
    vt::TempDir dir;
    void SetUp() override { ClearVariables(); }
    void TearDown() override {
        LoadClear(&xfi);
        FreeAll();
    }
    // Maps a file of the given bytes.
    void Map(const Bytes& b) {
        const auto p = dir / "f.bin";
        vt::WriteFile(p, b);
        ASSERT_EQ(IniLoadFile(&xfi, p.string().c_str()), 0);
    }
};

TEST_F(Reader, FilesThatCannotBeMapped) {
    iFi f{};
    EXPECT_EQ(IniLoadFile(&f, nullptr), kLoadFailed);
    EXPECT_EQ(f.hFile, kNoHandle);
    EXPECT_EQ(IniLoadFile(&f, ""), kLoadFailed);
    EXPECT_EQ(IniLoadFile(&f, (dir / "missing.elf").string().c_str()), kLoadFailed);
    EXPECT_FALSE(vt::fs::exists(dir / "missing.elf"));
    LoadClear(&f);

    vt::WriteFile(dir / "empty.elf", {});
    EXPECT_EQ(IniLoadFile(&f, (dir / "empty.elf").string().c_str()), kLoadFailed);
    LoadClear(&f);

    vt::WriteFile(dir / "ro.elf", {1, 2, 3});
    vt::fs::permissions(dir / "ro.elf", vt::fs::perms::owner_read | vt::fs::perms::group_read);
    EXPECT_EQ(IniLoadFile(&f, (dir / "ro.elf").string().c_str()), kLoadFailed);
    LoadClear(&f);
    EXPECT_EQ(vt::ReadFile(dir / "ro.elf"), (Bytes{1, 2, 3}));

    vt::fs::create_directory(dir / "sub.elf");
    EXPECT_EQ(IniLoadFile(&f, (dir / "sub.elf").string().c_str()), kLoadFailed);
    LoadClear(&f);

#ifndef _WIN32
    ASSERT_EQ(mkfifo((dir / "pipe.elf").string().c_str(), 0666), 0);
    EXPECT_EQ(IniLoadFile(&f, (dir / "pipe.elf").string().c_str()), kLoadFailed);
    LoadClear(&f);
#endif

    const std::string longName(1100, 'x');
    EXPECT_EQ(IniLoadFile(&f, longName.c_str()), kLoadFailed);
    LoadClear(&f);
    EXPECT_EQ(f.view, nullptr);
    EXPECT_EQ(f.hMap, kNoHandle);
    EXPECT_EQ(f.hFile, kNoHandle);
}

Bytes Hundred() {
    Bytes b(100);
    for (size_t i = 0; i < b.size(); ++i) b[i] = static_cast<uint8_t>(i + 1);
    return b;
}

// Each step runs under the abort point; the result is 0 or -1.
TEST_F(Reader, BoundsOfPositionAndRead) {
    Map(Hundred());
    EXPECT_EQ(xfi.size, 100u);
    static uint8_t dst[256];
    struct Step {
        void (*body)();
        int result;
    };
    const Step steps[] = {
        {+[] { SetPos(100); }, 0},
        {+[] {
             SetPos(100);
             Read(dst, 1);
         },
         -1},
        {+[] {
             SetPos(100);
             Read(dst, 0);
         },
         0},
        {+[] { SetPos(101); }, -1},
        {+[] { SetPos(0xFFFFFFFF); }, -1},
        {+[] {
             SetPos(0);
             Read(dst, 100);
         },
         0},
        {+[] {
             SetPos(1);
             Read(dst, 100);
         },
         -1},
        {+[] {
             SetPos(50);
             Read(dst, 0xFFFFFFFF);
         },
         -1},
        {+[] {
             SetPos(97);
             ReadW32();
         },
         -1},
        {+[] {
             SetPos(96);
             ReadW32();
         },
         0},
    };
    for (const Step& s : steps) {
        std::memset(dst, 0xAA, sizeof dst);
        EXPECT_EQ(ReaderGuard(s.body), s.result);
        if (s.result != 0) {
            EXPECT_EQ(dst[0], 0xAA) << "nothing is copied by a failing read";
        }
    }
    EXPECT_EQ(ReaderGuard(+[] {
                  SetPos(0);
                  Read(dst, 100);
              }),
              0);
    EXPECT_EQ(pBuf - xfi.view, 100);
    EXPECT_EQ(dst[99], 100);
}

TEST_F(Reader, WordsAndByteOrder) {
    Map({1, 2, 3, 4});
    static uint32_t w;
    for (uint8_t big : {0, 1}) {
        BigEnd = big;
        EXPECT_EQ(ReaderGuard(+[] {
                      SetPos(0);
                      w = ReadW32();
                  }),
                  0);
        EXPECT_EQ(w, 0x04030201u);
    }
    BigEnd = 1;
    EXPECT_EQ(MakeW32(0x04030201), 0x01020304u);
    EXPECT_EQ(MakeW16(0x1234), 0x3412);
    BigEnd = 0;
    EXPECT_EQ(MakeW32(0x04030201), 0x04030201u);
    EXPECT_EQ(MakeW16(0x1234), 0x1234);
}

TEST_F(Reader, ChangesThroughTheViewReachTheFile) {
    Map(Hundred());
    ASSERT_EQ(ReaderGuard(+[] { SetPos(10); }), 0);
    *pBuf = 0xEE;
    LoadClear(&xfi);
    Bytes expected = Hundred();
    expected[10] = 0xEE;
    EXPECT_EQ(vt::ReadFile(dir / "f.bin"), expected);
    LoadClear(&xfi); // releases nothing the second time
    EXPECT_EQ(xfi.view, nullptr);
}

TEST_F(Reader, LoadClearReleasesOnlyWhatIsHeld) {
    vt::WriteFile(dir / "f.bin", {1});
    iFi f{};
    f.view = nullptr;
    f.hMap = kNoHandle;
    f.hFile = PlatOpenRW((dir / "f.bin").string().c_str());
    ASSERT_NE(f.hFile, kNoHandle);
    const PlatHandle held = f.hFile;
    LoadClear(&f);
    EXPECT_EQ(f.hFile, kNoHandle);
#ifdef _WIN32
    DWORD flags = 0;
    EXPECT_FALSE(GetHandleInformation(reinterpret_cast<HANDLE>(held), &flags))
        << "the file handle is closed";
#else
    EXPECT_EQ(fcntl(static_cast<int>(held), F_GETFD), -1) << "the file handle is closed";
#endif
}

// ---- ELF header and section table -------------------------------------------------------

Bytes Valid(bool big = false) {
    vt::Elf e;
    e.big = big;
    e.segs.push_back({.data = vt::Vectors(16)});
    return e.Build();
}

struct TableCase {
    const char* what;
    Bytes bytes;
    int guard;   // 0 or -1 (abort)
    int32_t err; // error number after the two steps
};

void BothSteps() {
    ReadElfHeader();
    if (mcx.err == 0) ReadElfSections();
}

TEST_F(Reader, HeaderAndSectionTable) {
    const auto with = [](Bytes b, auto edit) {
        edit(b);
        return b;
    };
    const Bytes v = Valid();
    const uint32_t shoff = vt::Get32(v, vt::kShoff);
    const uint32_t strOff = vt::Get32(v, shoff + 40 + 16);
    const TableCase cases[] = {
        {"valid", v, 0, 0},
        {"big-endian", Valid(true), 0, 0},
        {"relocatable", with(v, [](Bytes& b) { vt::Put16(b, vt::kType, 1); }), 0, kErrRefused},
        {"shared object", with(v, [](Bytes& b) { vt::Put16(b, vt::kType, 3); }), 0, kErrRefused},
        {"other machine", with(v, [](Bytes& b) { vt::Put16(b, vt::kMachine, 62); }), 0,
         kErrRefused},
        {"EI_DATA 0", with(v, [](Bytes& b) { b[vt::kEiData] = 0; }), 0, 0},
        {"EI_DATA 3", with(v, [](Bytes& b) { b[vt::kEiData] = 3; }), 0, 0},
        {"big-endian flag on a little-endian file", with(v, [](Bytes& b) { b[vt::kEiData] = 2; }),
         0, kErrRefused},
        {"no identification bytes", with(v, [](Bytes& b) { std::fill_n(b.begin(), 4, 0); }), 0, 0},
        {"51 bytes", Bytes(v.begin(), v.begin() + 51), -1, kErrRefused},
        {"e_shnum 0, e_shoff 0",
         with(v,
              [](Bytes& b) {
                  vt::Put16(b, vt::kShnum, 0);
                  vt::Put32(b, vt::kShoff, 0);
              }),
         0, kErrRefused},
        {"e_shnum 0, e_shoff past the end",
         with(v,
              [](Bytes& b) {
                  vt::Put16(b, vt::kShnum, 0);
                  vt::Put32(b, vt::kShoff, 0x100000);
              }),
         -1, kErrRefused},
        {"table past the end", with(v, [](Bytes& b) { vt::Put16(b, vt::kShnum, 3); }), -1,
         kErrRefused},
        {"e_shstrndx == e_shnum", with(v, [](Bytes& b) { vt::Put16(b, vt::kShstrndx, 2); }), 0,
         kErrRefused},
        {"e_shstrndx 0", with(v, [](Bytes& b) { vt::Put16(b, vt::kShstrndx, 0); }), 0, kErrRefused},
        {"not a string table", with(v, [shoff](Bytes& b) { vt::Put32(b, shoff + 40 + 4, 2); }), 0,
         kErrRefused},
        {"name position past the end",
         with(v, [shoff](Bytes& b) { vt::Put32(b, shoff + 40, 0x7FFFFFF0); }), 0, kErrRefused},
        {"name position wraps",
         with(v, [shoff, strOff](Bytes& b) { vt::Put32(b, shoff + 40, 0u - strOff + 1); }), 0,
         kErrRefused},
        {"string table past the end",
         with(v, [shoff](Bytes& b) { vt::Put32(b, shoff + 40 + 20, 0x7FFFFFF0); }), -1,
         kErrRefused},
        {"string table of 4 GiB",
         with(v, [shoff](Bytes& b) { vt::Put32(b, shoff + 40 + 20, 0xFFFFFFFF); }), -1,
         kErrRefused},
    };
    for (const TableCase& c : cases) {
        SCOPED_TRACE(c.what);
        ClearVariables();
        Map(c.bytes);
        EXPECT_EQ(ReaderGuard(BothSteps), c.guard);
        if (c.guard == 0) {
            EXPECT_EQ(mcx.err, c.err);
        }
        LoadClear(&xfi);
    }
}

TEST_F(Reader, SectionNamesThatAreNotShStrTab) {
    for (const char* name : {".shstrtabx", "shstrtab", ".strtab", ".shstrta", ""}) {
        SCOPED_TRACE(name);
        vt::Elf e;
        e.segs.push_back({.data = vt::Vectors(16)});
        e.strName = name;
        ClearVariables();
        Map(e.Build());
        EXPECT_EQ(ReaderGuard(BothSteps), 0);
        EXPECT_EQ(mcx.err, kErrRefused);
        LoadClear(&xfi);
    }
}

TEST_F(Reader, NameRunningToTheEndWithoutNulIsRefused) {
    // A file that ends inside the section's own name: the table then lies before the name.
    Bytes b = Valid();
    const uint32_t shoff = vt::Get32(b, vt::kShoff);
    const uint32_t nameAt = static_cast<uint32_t>(b.size());
    const std::string name = ".shstrtab";
    b.insert(b.end(), name.begin(), name.end());
    vt::Put32(b, shoff + 40, nameAt - vt::Get32(b, shoff + 40 + 16));
    Map(b);
    EXPECT_EQ(ReaderGuard(BothSteps), 0);
    EXPECT_EQ(mcx.err, kErrRefused);
}

TEST_F(Reader, BigEndianTablesInHostOrder) {
    const Bytes b = Valid(true);
    Map(b);
    ASSERT_EQ(ReaderGuard(BothSteps), 0);
    ASSERT_EQ(mcx.err, 0);
    EXPECT_EQ(BigEnd, 1);
    EXPECT_EQ(mcx.hdr.e_type, 2);
    EXPECT_EQ(mcx.hdr.e_machine, 40);
    EXPECT_EQ(mcx.hdr.e_phoff, 52u);
    EXPECT_EQ(mcx.hdr.e_shnum, 2);
    EXPECT_EQ(mcx.hdr.e_shoff, vt::Get32(b, vt::kShoff, true));
    uint32_t type;
    std::memcpy(&type, mcx.shdr + 40 + 4, 4);
    EXPECT_EQ(type, 3u);
    EXPECT_EQ(mcx.strSize, 11u);
    EXPECT_STREQ(mcx.strTab + 1, ".shstrtab");
}

TEST_F(Reader, StringTableCopyEndsInZeros) {
    // A string table that ends exactly at the end of the file, its last string unterminated.
    Bytes b = Valid();
    const uint32_t shoff = vt::Get32(b, vt::kShoff);
    const std::string tail("\0.shstrtab\0abc", 14);
    const uint32_t at = static_cast<uint32_t>(b.size());
    b.insert(b.end(), tail.begin(), tail.end());
    vt::Put32(b, shoff + 40 + 16, at);
    vt::Put32(b, shoff + 40 + 20, static_cast<uint32_t>(tail.size()));
    Map(b);
    ASSERT_EQ(ReaderGuard(BothSteps), 0);
    ASSERT_EQ(mcx.err, 0);
    EXPECT_EQ(mcx.strSize, tail.size());
    for (size_t i = 0; i < 16; ++i) EXPECT_EQ(mcx.strTab[tail.size() + i], 0);
}

// A run stopped in-process releases the input file: an ELF file refused, a HEX file refused,
// and a range not found after the images were written.
TEST(StoppedRun, ReleasesTheInput) {
    vt::TempDir dir;
    const Bytes hex = {':', '0', '0', '\n'};
    const Bytes elf = vt::Elf{.segs = {{.data = Bytes(64)}}}.Build();
    const struct {
        const char* name;
        Bytes bytes;
        uint32_t base;
    } cases[] = {
        {"refused.elf", Bytes(64, 7), 0}, {"refused.hex", hex, 0}, {"far.elf", elf, 0x8000}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        vt::WriteFile(dir / c.name, c.bytes);
        std::string in = (dir / c.name).string(), bin = (dir / "x.BIN").string();
        bom = Bom{};
        bom.inName = in.data();
        bom.binName = bin.data();
        bom.flags = kBomBinary;
        SetSigna(c.base);
        EXPECT_EQ(VortleRun(), kExitFatal);
        EXPECT_EQ(xfi.view, nullptr);
        EXPECT_EQ(xfi.hFile, kNoHandle);
    }
    signa = Signa{};
    bom = Bom{};
    FreeAll();
}

} // namespace

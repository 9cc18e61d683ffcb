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
#include "ElfTables.h"
#include "Fatal.h"
#include "MappedFile.h"
#include "Range.h"
#include "Support.h"
#include "Vortle.h"

namespace {

using vt::Bytes;

// Runs body: 0 when it returned, -1 when the run was stopped as cut short, -2 when it was
// stopped with a fatal report.
template <class Body> int Guarded(Body body) {
    try {
        body();
    } catch (const Stop& stop) {
        return stop.exit == kExitReaderAbort ? -1 : -2;
    }
    return 0;
}

TEST(SignatureRange, Layouts) {
    EXPECT_FALSE(SignatureRange{}.Configured());
    const struct {
        uint32_t base, end, position;
    } cases[] = {
        {0, 0x18, 0x1C}, {0x2000, 0x2018, 0x201C}, {0xFF000000u, 0xFF000018u, 0xFF00001Cu}};
    for (const auto& c : cases) {
        const SignatureRange r = SignatureRange::VectorTableAt(c.base);
        EXPECT_EQ(r.mode, 0x44);
        EXPECT_EQ(r.start, c.base);
        EXPECT_EQ(r.end, c.end);
        EXPECT_EQ(r.position, c.position);
        EXPECT_TRUE(r.Configured());
        EXPECT_EQ(r.WindowLo(), c.base);
        EXPECT_EQ(r.WindowHi(), static_cast<uint64_t>(c.position) + 4);
        EXPECT_EQ(r.ReportedLast(), c.end + 4);
    }
}

class Reader : public ::testing::Test {
  protected:
    vt::TempDir dir;
    MappedFile file;
    void TearDown() override {
        file.Close();
        FreeAll();
    }
    // Maps a file of the given bytes.
    void Map(const Bytes& b) {
        const auto p = dir / "f.bin";
        file.Close();
        vt::WriteFile(p, b);
        ASSERT_TRUE(file.Open(p.string().c_str(), true));
    }
};

TEST_F(Reader, FilesThatCannotBeMapped) {
    MappedFile f;
    EXPECT_FALSE(f.Open(nullptr, true));
    EXPECT_EQ(f.Handle(), kNoHandle);
    EXPECT_FALSE(f.Open("", true));
    EXPECT_FALSE(f.Open((dir / "missing.elf").string().c_str(), true));
    EXPECT_FALSE(vt::fs::exists(dir / "missing.elf"));

    vt::WriteFile(dir / "empty.elf", {});
    EXPECT_FALSE(f.Open((dir / "empty.elf").string().c_str(), true));

    vt::WriteFile(dir / "ro.elf", {1, 2, 3});
    vt::fs::permissions(dir / "ro.elf", vt::fs::perms::owner_read | vt::fs::perms::group_read);
    EXPECT_FALSE(f.Open((dir / "ro.elf").string().c_str(), true));
    f.Close();
    EXPECT_EQ(vt::ReadFile(dir / "ro.elf"), (Bytes{1, 2, 3}));
    EXPECT_TRUE(f.Open((dir / "ro.elf").string().c_str(), false)) << "read-only for a check";
    f.Close();

    vt::fs::create_directory(dir / "sub.elf");
    EXPECT_FALSE(f.Open((dir / "sub.elf").string().c_str(), true));

#ifndef _WIN32
    ASSERT_EQ(mkfifo((dir / "pipe.elf").string().c_str(), 0666), 0);
    EXPECT_FALSE(f.Open((dir / "pipe.elf").string().c_str(), true));
#endif

    const std::string longName(1100, 'x');
    EXPECT_FALSE(f.Open(longName.c_str(), true));
    f.Close();
    EXPECT_EQ(f.Handle(), kNoHandle);
}

Bytes Hundred() {
    Bytes b(100);
    for (size_t i = 0; i < b.size(); ++i) b[i] = static_cast<uint8_t>(i + 1);
    return b;
}

// Every slice inside the file is handed out; one byte past it stops the run as cut short.
TEST_F(Reader, BoundsOfSlices) {
    Map(Hundred());
    EXPECT_EQ(file.Size(), 100u);
    const struct {
        uint32_t off, len;
        int result;
    } cases[] = {
        {100, 0, 0},  {100, 1, -1},         {101, 0, -1}, {0xFFFFFFFF, 0, -1}, {0, 100, 0},
        {1, 100, -1}, {50, 0xFFFFFFFF, -1}, {97, 4, -1},  {96, 4, 0},          {0xFFFFFFFF, 2, -1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.off) + "+" + std::to_string(c.len));
        const uint8_t* got = nullptr;
        EXPECT_EQ(Guarded([&] { got = file.Slice(c.off, c.len); }), c.result);
        if (c.result == 0 && c.len > 0) {
            EXPECT_EQ(got[0], c.off + 1);
        }
    }
}

TEST(ByteOrder, HostOrder) {
    EXPECT_EQ(HostOrder32(0x04030201, true), 0x01020304u);
    EXPECT_EQ(HostOrder16(0x1234, true), 0x3412);
    EXPECT_EQ(HostOrder32(0x04030201, false), 0x04030201u);
    EXPECT_EQ(HostOrder16(0x1234, false), 0x1234);
    const uint8_t b[4] = {1, 2, 3, 4};
    EXPECT_EQ(LoadLittle32(b), 0x04030201u);
}

TEST_F(Reader, ChangesThroughTheViewReachTheFile) {
    Map(Hundred());
    file.Slice(10, 1)[0] = 0xEE;
    file.Close();
    Bytes expected = Hundred();
    expected[10] = 0xEE;
    EXPECT_EQ(vt::ReadFile(dir / "f.bin"), expected);
    file.Close(); // releases nothing the second time
    EXPECT_EQ(file.Handle(), kNoHandle);
}

TEST_F(Reader, CloseReleasesTheFile) {
    Map({1});
    const PlatHandle held = file.Handle();
    ASSERT_NE(held, kNoHandle);
    file.Close();
    EXPECT_EQ(file.Handle(), kNoHandle);
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
    int result; // 0, -1 (cut short) or -2 (refused)
};

constexpr int kRefused = -2;

// The tables of the mapped file: 0, or how the run stopped.
int ReadTables(MappedFile& file, ElfTables* out = nullptr) {
    return Guarded([&] {
        const ElfTables t = ReadElfTables(file);
        if (out != nullptr) *out = t;
    });
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
        {"valid", v, 0},
        {"big-endian", Valid(true), 0},
        {"relocatable", with(v, [](Bytes& b) { vt::Put16(b, vt::kType, 1); }), kRefused},
        {"shared object", with(v, [](Bytes& b) { vt::Put16(b, vt::kType, 3); }), kRefused},
        {"other machine", with(v, [](Bytes& b) { vt::Put16(b, vt::kMachine, 62); }), kRefused},
        {"EI_DATA 0", with(v, [](Bytes& b) { b[vt::kEiData] = 0; }), 0},
        {"EI_DATA 3", with(v, [](Bytes& b) { b[vt::kEiData] = 3; }), 0},
        {"big-endian flag on a little-endian file", with(v, [](Bytes& b) { b[vt::kEiData] = 2; }),
         kRefused},
        {"no identification bytes", with(v, [](Bytes& b) { std::fill_n(b.begin(), 4, 0); }), 0},
        {"51 bytes", Bytes(v.begin(), v.begin() + 51), -1},
        {"e_shnum 0, e_shoff 0",
         with(v,
              [](Bytes& b) {
                  vt::Put16(b, vt::kShnum, 0);
                  vt::Put32(b, vt::kShoff, 0);
              }),
         kRefused},
        {"e_shnum 0, e_shoff past the end",
         with(v,
              [](Bytes& b) {
                  vt::Put16(b, vt::kShnum, 0);
                  vt::Put32(b, vt::kShoff, 0x100000);
              }),
         -1},
        {"table past the end", with(v, [](Bytes& b) { vt::Put16(b, vt::kShnum, 3); }), -1},
        {"e_shstrndx == e_shnum", with(v, [](Bytes& b) { vt::Put16(b, vt::kShstrndx, 2); }),
         kRefused},
        {"e_shstrndx 0", with(v, [](Bytes& b) { vt::Put16(b, vt::kShstrndx, 0); }), kRefused},
        {"not a string table", with(v, [shoff](Bytes& b) { vt::Put32(b, shoff + 40 + 4, 2); }),
         kRefused},
        {"name position past the end",
         with(v, [shoff](Bytes& b) { vt::Put32(b, shoff + 40, 0x7FFFFFF0); }), kRefused},
        {"name position wraps",
         with(v, [shoff, strOff](Bytes& b) { vt::Put32(b, shoff + 40, 0u - strOff + 1); }),
         kRefused},
        {"string table past the end",
         with(v, [shoff](Bytes& b) { vt::Put32(b, shoff + 40 + 20, 0x7FFFFFF0); }), -1},
        {"string table of 4 GiB",
         with(v, [shoff](Bytes& b) { vt::Put32(b, shoff + 40 + 20, 0xFFFFFFFF); }), -1},
    };
    for (const TableCase& c : cases) {
        SCOPED_TRACE(c.what);
        Map(c.bytes);
        EXPECT_EQ(ReadTables(file), c.result);
    }
}

TEST_F(Reader, SectionNamesThatAreNotShStrTab) {
    for (const char* name : {".shstrtabx", "shstrtab", ".strtab", ".shstrta", ""}) {
        SCOPED_TRACE(name);
        vt::Elf e;
        e.segs.push_back({.data = vt::Vectors(16)});
        e.strName = name;
        Map(e.Build());
        EXPECT_EQ(ReadTables(file), kRefused);
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
    EXPECT_EQ(ReadTables(file), kRefused);
}

TEST_F(Reader, BigEndianTablesInHostOrder) {
    const Bytes b = Valid(true);
    Map(b);
    ElfTables t{};
    ASSERT_EQ(ReadTables(file, &t), 0);
    EXPECT_TRUE(t.bigEndian);
    EXPECT_EQ(t.header.e_type, 2);
    EXPECT_EQ(t.header.e_machine, 40);
    EXPECT_EQ(t.header.e_phoff, 52u);
    EXPECT_EQ(t.header.e_shnum, 2);
    EXPECT_EQ(t.header.e_shoff, vt::Get32(b, vt::kShoff, true));
    uint32_t type;
    std::memcpy(&type, t.sections + 40 + 4, 4);
    EXPECT_EQ(type, 3u);
    EXPECT_EQ(t.nameTableSize, 11u);
    EXPECT_STREQ(t.nameTable + 1, ".shstrtab");
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
    ElfTables t{};
    ASSERT_EQ(ReadTables(file, &t), 0);
    EXPECT_EQ(t.nameTableSize, tail.size());
    for (size_t i = 0; i < 16; ++i) EXPECT_EQ(t.nameTable[tail.size() + i], 0);
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
        Request r;
        r.inputName = in.data();
        r.binaryName = bin.data();
        r.writeBinary = true;
        r.range = SignatureRange::VectorTableAt(c.base);
        EXPECT_EQ(VortleRun(r), kExitFatal);
        EXPECT_FALSE(vt::Holds(dir / c.name)) << "the input is released";
    }
    FreeAll();
}

} // namespace

// HEX and raw binary inputs signed in place, and the HEX image: the built tool on real files,
// checked byte for byte and, where they are installed, with the tools that read these files.
#include <gtest/gtest.h>

#include <cctype>

#include <algorithm>
#include <cstdio>
#include <optional>

#include "Support.h"

namespace {

using vt::Bytes;
using vt::kDone;
using vt::Status;

const vt::fs::path kSamples = vt::fs::path(VORTLE_SOURCE_DIR) / "examples" / "lpc1768-blinky";
constexpr uint32_t kBlinkySig = 0xEFFF7E78;

// One Intel HEX record, as an independent oracle for the tool's encoder and reader.
std::string Rec(uint8_t type, uint16_t addr, const Bytes& data, const char* eol = "\r\n") {
    char head[16];
    uint8_t sum = static_cast<uint8_t>(data.size() + (addr >> 8) + addr + type);
    std::snprintf(head, sizeof head, ":%02X%04X%02X", static_cast<unsigned>(data.size()), addr,
                  type);
    std::string r = head;
    for (uint8_t b : data) {
        char d[3];
        std::snprintf(d, sizeof d, "%02X", b);
        r += d;
        sum = static_cast<uint8_t>(sum + b);
    }
    char c[3];
    std::snprintf(c, sizeof c, "%02X", static_cast<uint8_t>(0u - sum));
    return r + c + eol;
}

const std::string kEof = ":00000001FF\r\n";

std::string Upper(uint16_t hi) {
    return Rec(4, 0, {static_cast<uint8_t>(hi >> 8), static_cast<uint8_t>(hi)});
}

// Records of at most 16 bytes from addr on (all inside one 64 KiB block).
std::string Records(uint16_t addr, const Bytes& data) {
    std::string r;
    for (size_t i = 0; i < data.size(); i += 16) {
        const size_t n = data.size() - i < 16 ? data.size() - i : 16;
        r += Rec(
            0, static_cast<uint16_t>(addr + i),
            Bytes(data.begin() + static_cast<long>(i), data.begin() + static_cast<long>(i + n)));
    }
    return r;
}

Bytes Signed(Bytes b, size_t at = 0) {
    vt::Put32(b, at + 0x1C, vt::SigOf(b, at));
    return b;
}

std::string HexFileReport(int line) {
    return vt::Report("processing hex file",
                      "invalid hex file 'app.hex' (line " + std::to_string(line) + ")");
}

std::string NotFound(uint32_t start) {
    char line[80];
    std::snprintf(line, sizeof line, "Range not found: 0x%08X - 0x%08X", start, start + 0x1C);
    return vt::Report("processing elf/dwarf file", line);
}

TEST(Formats, HexInputErrors) {
    const Bytes v = vt::Vectors(8);
    const std::string good = Records(0, v);
    struct Bad {
        const char* what;
        std::string text;
        int line;
    };
    const Bad cases[] = {
        {"bad checksum", ":10000000008000104300000041000000410000009C\r\n" + kEof, 1},
        {"odd digit count", good + ":0000000\r\n" + kEof, 3},
        {"bad character", good + ":00000001FG\r\n", 3},
        {"blank after the record", good + ":00000001FF \r\n", 3},
        {"count mismatch", good + ":0100000001FF\r\n" + kEof, 3},
        {"unknown type", Rec(6, 0, {}) + kEof, 1},
        {"04 with one byte", Rec(4, 0, {1}) + good + kEof, 1},
        {"01 with data", good + Rec(1, 0, {0}), 3},
        {"data after 01", good + "\r\n" + kEof + "\n" + good, 6},
        {"no 01", good + "\n", 4},
        {"no 01, no final line end", good.substr(0, good.size() - 2), 3},
        {"record across 64 KiB", Rec(0, 0xFFF8, v), 1},
        {"record across 64 KiB with an 02 base", Rec(2, 0, {0x08, 0x00}) + Rec(0, 0x7FF8, v), 2},
        {"address twice", good + Records(0x18, Bytes(4, 0)) + kEof, 3},
        {"address twice, out of order",
         Records(0x40, v) + good + Rec(0, 0x3C, {1, 2, 3, 4, 5}) + kEof, 5},
        {"no colon", good + "10000000\r\n" + kEof, 3},
        {"a lone carriage return", good + "\r" + kEof, 3},
    };
    vt::TempDir dir;
    for (const Bad& c : cases) {
        SCOPED_TRACE(c.what);
        vt::WriteText(dir / "app.hex", c.text);
        vt::WriteFile(dir / "out.bin", {1});
        vt::WriteFile(dir / "out.hex", {2});
        const vt::RunResult r =
            vt::RunVortle(dir.path, {"app.hex", "BIN(out.bin)", "HEX(out.hex)"});
        EXPECT_EQ(r.code, 3);
        EXPECT_EQ(r.out, vt::kBanner + HexFileReport(c.line));
        EXPECT_EQ(vt::ReadText(dir / "app.hex"), c.text);
        EXPECT_FALSE(vt::fs::exists(dir / "out.bin"));
        EXPECT_FALSE(vt::fs::exists(dir / "out.hex"));
    }
}

// HEX and raw inputs: what is signed, what the images hold, and what stays as it is.
struct InputCase {
    const char* what;
    const char* name;
    std::string in;
    std::vector<std::string> opts;
    std::string out;
    std::string after;
    std::optional<Bytes> bin;       // out.bin afterwards
    std::optional<std::string> hex; // out.hex afterwards
};

std::vector<InputCase> InputCases() {
    const Bytes v = vt::Vectors(12);
    const Bytes s = Signed(v);
    const uint32_t sig = vt::SigOf(v);
    // Every line of these holds a hex letter.
    const Bytes vl = vt::Vectors(12, 0x1000ABC0);
    const auto low = [](std::string t) {
        for (char& ch : t) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
        return t;
    };
    const std::string ok = Status(true, 0, sig) + kDone;
    Bytes arm = vt::Vectors(8);
    vt::Put32(arm, 0, 0xEA00003A);
    uint32_t armSig = 0;
    for (size_t i = 0; i < 8; ++i) armSig -= i == 5 ? 0 : vt::Get32(arm, 4 * i);
    const std::string at2000 = Status(true, 0x2000, sig) + kDone;
    // Only the checksums of these lines hold a hex letter; the signature is 0xFFFFFFFF.
    Bytes first1(32, 0);
    first1[0] = 1;
    const std::string sHex = Records(0, s);
    // The record with the signature: only its digits 0x1C..0x1F and its checksum change.
    const std::string lf = Rec(0, 0, Bytes(v.begin(), v.begin() + 16), "\n") +
                           Rec(0, 16, Bytes(v.begin() + 16, v.begin() + 32), "\n") + ":00000001FF";
    const std::string lfSigned = Rec(0, 0, Bytes(s.begin(), s.begin() + 16), "\n") +
                                 Rec(0, 16, Bytes(s.begin() + 16, s.begin() + 32), "\n") +
                                 ":00000001FF";
    return {
        {"HEX in place, CR LF kept", "app.hex", Records(0, v) + kEof, {}, ok, sHex + kEof, {}, {}},
        {"LF lines, no final line end", "app.hex", lf, {}, ok, lfSigned, {}, {}},
        {"blank lines first, kept",
         "app.hex",
         "\r\n \t\n" + Records(0, v) + kEof,
         {},
         ok,
         "\r\n \t\n" + sHex + kEof,
         {},
         {}},
        {"lower-case lines stay lower-case",
         "app.hex",
         low(Records(0, vl)) + kEof,
         {},
         Status(true, 0, vt::SigOf(vl)) + kDone,
         low(Records(0, Signed(vl))) + kEof,
         {},
         {}},
        {"a lower-case checksum alone keeps the line in lower case",
         "app.hex",
         low(Records(0, first1)) + kEof,
         {},
         Status(true, 0, 0xFFFFFFFF) + kDone,
         low(Records(0, Signed(first1))) + kEof,
         {},
         {}},
        // The signature's line holds no letter but the f of its checksum.
        {"a line whose only letter is f stays lower-case",
         "app.hex",
         low(Records(0, vt::Vectors(8, 0x10000020))) + kEof,
         {},
         Status(true, 0, vt::SigOf(vt::Vectors(8, 0x10000020))) + kDone,
         low(Records(0, Signed(vt::Vectors(8, 0x10000020)))) + kEof,
         {},
         {}},
        {"a record may end at 64 KiB",
         "app.hex",
         Records(0, v) + Rec(0, 0xFFF0, Bytes(16, 0x11)) + kEof,
         {},
         ok,
         sHex + Rec(0, 0xFFF0, Bytes(16, 0x11)) + kEof,
         {},
         {}},
        {"03 and 05 are read and ignored, empty lines kept",
         "app.hex",
         Rec(3, 0, {0, 0, 0, 0}) + "\r\n" + Records(0, v) + Rec(5, 0, {0, 0, 1, 0}) + kEof + "\n",
         {},
         ok,
         Rec(3, 0, {0, 0, 0, 0}) + "\r\n" + sHex + Rec(5, 0, {0, 0, 1, 0}) + kEof + "\n",
         {},
         {}},
        {"02 base, the later base wins",
         "app.hex",
         Rec(4, 0, {0, 1}) + Rec(2, 0, {0x02, 0x00}) + Records(0, v) + kEof,
         {"BA(0x2000)", "BIN(out.bin)", "HEX(out.hex)"},
         at2000,
         Rec(4, 0, {0, 1}) + Rec(2, 0, {0x02, 0x00}) + sHex + kEof,
         s,
         Upper(0) + Records(0x2000, s) + kEof},
        {"records out of order, a gap of zeros, images ascending",
         "app.hex",
         Records(0x40, {7, 8}) + Records(0x10, Bytes(v.begin() + 16, v.end())) +
             Records(0, Bytes(v.begin(), v.begin() + 16)) + kEof,
         {"BIN(out.bin)", "HEX(out.hex)"},
         ok,
         Records(0x40, {7, 8}) + Records(0x10, Bytes(s.begin() + 16, s.end())) +
             Records(0, Bytes(s.begin(), s.begin() + 16)) + kEof,
         [&] {
             Bytes b = s;
             b.resize(0x40, 0);
             b.push_back(7);
             b.push_back(8);
             return b;
         }(),
         Upper(0) + Records(0, s) + Rec(0, 0x40, {7, 8}) + kEof},
        {"range not in the data",
         "app.hex",
         Records(0, Bytes(v.begin(), v.begin() + 28)) + kEof,
         {},
         NotFound(0),
         Records(0, Bytes(v.begin(), v.begin() + 28)) + kEof,
         {},
         {}},
        {"range split by a gap",
         "app.hex",
         Records(0, Bytes(v.begin(), v.begin() + 16)) +
             Records(17, Bytes(v.begin() + 17, v.end())) + kEof,
         {},
         NotFound(0),
         Records(0, Bytes(v.begin(), v.begin() + 16)) +
             Records(17, Bytes(v.begin() + 17, v.end())) + kEof,
         {},
         {}},
        {"raw image at 0",
         "app.BiN",
         std::string(v.begin(), v.end()),
         {"BIN(out.bin)", "HEX(out.hex)"},
         ok,
         std::string(s.begin(), s.end()),
         s,
         Upper(0) + Records(0, s) + kEof},
        {"raw image too short",
         "app.bin",
         std::string(v.begin(), v.begin() + 31),
         {},
         NotFound(0),
         std::string(v.begin(), v.begin() + 31),
         {},
         {}},
        {"raw image is read from 0 only",
         "app.bin",
         std::string(v.begin(), v.end()),
         {"BA(0x20)"},
         NotFound(0x20),
         std::string(v.begin(), v.end()),
         {},
         {}},
        {"a .bin is raw even when its first byte is ':' (an ARM branch to 0xF0)",
         "app.bin",
         std::string(arm.begin(), arm.end()),
         {},
         Status(true, 0, armSig, true) + kDone,
         [&] {
             Bytes b = arm;
             vt::Put32(b, 0x14, armSig);
             return std::string(b.begin(), b.end());
         }(),
         {},
         {}},
        {"no ELF file and no .bin",
         "app.dat",
         std::string(v.begin(), v.end()) + std::string(16, 0),
         {},
         vt::Report("accessing file", "invalid elf/dwarf file 'app.dat'"),
         std::string(v.begin(), v.end()) + std::string(16, 0),
         {},
         {}},
    };
}

bool Refused(const InputCase& c) {
    return c.out.find("Fatal") != std::string::npos;
}

void RunInputCase(const InputCase& c) {
    SCOPED_TRACE(c.what);
    vt::TempDir dir;
    vt::WriteText(dir / c.name, c.in);
    std::vector<std::string> args{c.name};
    args.insert(args.end(), c.opts.begin(), c.opts.end());
    const vt::RunResult r = vt::RunVortle(dir.path, args);
    EXPECT_EQ(r.code, Refused(c) ? 3 : 0);
    EXPECT_EQ(r.out, vt::kBanner + c.out);
    EXPECT_EQ(vt::ReadText(dir / c.name), c.after);
    EXPECT_EQ(vt::fs::exists(dir / "out.bin"), c.bin.has_value());
    if (c.bin) {
        EXPECT_EQ(vt::ReadFile(dir / "out.bin"), *c.bin);
    }
    EXPECT_EQ(vt::fs::exists(dir / "out.hex"), c.hex.has_value());
    if (c.hex) {
        EXPECT_EQ(vt::ReadText(dir / "out.hex"), *c.hex);
    }
}

bool IsHex(const InputCase& c) {
    return std::string(c.name).ends_with(".hex");
}

TEST(HexInput, SignedInPlaceAsWritten) {
    for (const InputCase& c : InputCases()) {
        if (IsHex(c) && !Refused(c)) RunInputCase(c);
    }
}

TEST(HexInput, RangeOutsideTheDataIsRefused) {
    for (const InputCase& c : InputCases()) {
        if (IsHex(c) && Refused(c)) RunInputCase(c);
    }
}

TEST(RawInput, SignedAtAddressZeroByItsName) {
    for (const InputCase& c : InputCases()) {
        if (!IsHex(c)) RunInputCase(c);
    }
}

// The HEX image of an ELF input: segments in table order, 04 records where the upper address
// bits change, no record across 64 KiB, and the names it may not take.
TEST(Formats, HexImage) {
    const Bytes v = vt::Vectors(8);
    const Bytes tail = vt::Vectors(6, 0x55);
    const Bytes elf = vt::Elf{.segs = {vt::Code(0, v), vt::Code(0x1FFF8, tail)}}.Build();
    const auto cannotCreate = [](const std::string& n) {
        return vt::Report("accessing file", "cannot create file '" + n + "'");
    };
    const std::string ok = Status(true, 0, vt::SigOf(v)) + kDone;
    const std::string image = Upper(0) + Records(0, Signed(v)) + Upper(1) +
                              Rec(0, 0xFFF8, Bytes(tail.begin(), tail.begin() + 8)) + Upper(2) +
                              Records(0, Bytes(tail.begin() + 8, tail.end())) + kEof;
    struct Case {
        std::vector<std::string> opts;
        int code;
        std::string out;
        std::optional<std::string> hex; // app.HEX afterwards
    };
    const Case cases[] = {
        {{"HEX"}, 0, ok, image},
        {{"hex(app.HEX)", "BINARY"}, 0, ok, image},
        {{}, 0, ok, "stale"}, // untouched without HEX
        {{"HEX(app.elf)"}, 3, cannotCreate("app.elf"), "stale"},
        {{"BIN(app.HEX)", "HEX"}, 3, cannotCreate("app.HEX"), "stale"},
        {{"HEX", "HEX"}, 3, vt::CmdReport(" app.elf HEX HEX", "redefinition"), "stale"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.opts.empty() ? "none" : c.opts.front());
        vt::TempDir dir;
        vt::WriteFile(dir / "app.elf", elf);
        vt::WriteText(dir / "app.HEX", "stale");
        std::vector<std::string> args{"app.elf"};
        args.insert(args.end(), c.opts.begin(), c.opts.end());
        const vt::RunResult r = vt::RunVortle(dir.path, args);
        EXPECT_EQ(r.code, c.code);
        EXPECT_EQ(r.out, vt::kBanner + c.out);
        EXPECT_EQ(vt::fs::exists(dir / "app.HEX"), c.hex.has_value());
        if (c.hex) {
            EXPECT_EQ(vt::ReadText(dir / "app.HEX"), *c.hex);
        }
    }
    // A segment may end at 0xFFFFFFFF; one reaching past it cannot be addressed in a HEX file.
    vt::TempDir dir;
    vt::WriteFile(dir / "app.elf",
                  vt::Elf{.segs = {vt::Code(0, v), vt::Code(0xFFFFFFE0, v)}}.Build());
    vt::RunResult r = vt::RunVortle(dir.path, {"app.elf", "HEX"});
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(vt::ReadText(dir / "app.HEX"),
              Upper(0) + Records(0, Signed(v)) + Upper(0xFFFF) + Records(0xFFE0, v) + kEof);
    vt::WriteFile(dir / "app.elf",
                  vt::Elf{.segs = {vt::Code(0, v), vt::Code(0xFFFFFFF8, v)}}.Build());
    r = vt::RunVortle(dir.path, {"app.elf", "HEX"});
    EXPECT_EQ(r.code, 3);
    EXPECT_EQ(r.out, vt::kBanner + vt::Report("writing file", "I/O error on file 'app.HEX'"));
    EXPECT_FALSE(vt::fs::exists(dir / "app.HEX"));
}

// S-records of at most 16 bytes from addr on, each of the type, as an independent oracle.
std::string Srecs(int type, uint32_t addr, const Bytes& data) {
    const int width = type == 0 || type == 1 || type == 9 ? 2 : type == 2 || type == 8 ? 3 : 4;
    std::string r;
    for (size_t i = 0; i < data.size() || (i == 0 && data.empty()); i += 16) {
        const size_t n = std::min<size_t>(16, data.size() - i);
        Bytes rec{static_cast<uint8_t>(width + n + 1)};
        for (int k = width; k-- > 0;) rec.push_back(static_cast<uint8_t>((addr + i) >> (8 * k)));
        rec.insert(rec.end(), data.begin() + static_cast<long>(i),
                   data.begin() + static_cast<long>(i + n));
        uint8_t sum = 0;
        for (uint8_t b : rec) sum = static_cast<uint8_t>(sum + b);
        rec.push_back(static_cast<uint8_t>(~sum));
        char t[4];
        std::snprintf(t, sizeof t, "S%d", type);
        r += t;
        for (uint8_t b : rec) {
            char d[3];
            std::snprintf(d, sizeof d, "%02X", b);
            r += d;
        }
        r += "\r\n";
    }
    return r;
}

// The S-record image: the header with its name, one record type for all data as the highest
// address needs, the entry point last; the same clash rules as the other images.
TEST(Formats, SrecImage) {
    const Bytes v = vt::Vectors(8);
    const Bytes tail = vt::Vectors(6, 0x55);
    const auto header = [](const std::string& name) {
        return Srecs(0, 0, Bytes(name.begin(), name.end()));
    };
    const std::string ok = Status(true, 0, vt::SigOf(v)) + kDone;
    const auto cannotCreate = [](const std::string& n) {
        return vt::Report("accessing file", "cannot create file '" + n + "'");
    };
    struct Case {
        Bytes elf;
        std::vector<std::string> opts;
        int code;
        std::string out;
        std::optional<std::string> srec; // app.SREC afterwards
    };
    const Bytes low = vt::Elf{.segs = {vt::Code(0, v)}}.Build();
    const Bytes mid = vt::Elf{.segs = {vt::Code(0, v), vt::Code(0x1FFF8, tail)}}.Build();
    const Bytes top = vt::Elf{.segs = {vt::Code(0, v), vt::Code(0xFFFFFFE0, v)}}.Build();
    const Case cases[] = {
        {low, {"SREC"}, 0, ok, header("app.SREC") + Srecs(1, 0, Signed(v)) + Srecs(9, 0, {})},
        {mid,
         {"srec(app.SREC)", "HEX"},
         0,
         ok,
         header("app.SREC") + Srecs(2, 0, Signed(v)) + Srecs(2, 0x1FFF8, tail) + Srecs(8, 0, {})},
        {top,
         {"SREC"},
         0,
         ok,
         header("app.SREC") + Srecs(3, 0, Signed(v)) + Srecs(3, 0xFFFFFFE0, v) + Srecs(7, 0, {})},
        {low, {}, 0, ok, "stale"}, // untouched without SREC
        {low, {"SREC(app.elf)"}, 3, cannotCreate("app.elf"), "stale"},
        {low, {"HEX(app.SREC)", "SREC"}, 3, cannotCreate("app.SREC"), "stale"},
        {vt::Elf{.segs = {vt::Code(0, v), vt::Code(0xFFFFFFF8, v)}}.Build(),
         {"SREC"},
         3,
         vt::Report("writing file", "I/O error on file 'app.SREC'"),
         std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.opts.empty() ? "none" : c.opts.front());
        vt::TempDir dir;
        vt::WriteFile(dir / "app.elf", c.elf);
        vt::WriteText(dir / "app.SREC", "stale");
        std::vector<std::string> args{"app.elf"};
        args.insert(args.end(), c.opts.begin(), c.opts.end());
        const vt::RunResult r = vt::RunVortle(dir.path, args);
        EXPECT_EQ(r.code, c.code);
        EXPECT_EQ(r.out, vt::kBanner + c.out);
        EXPECT_EQ(vt::fs::exists(dir / "app.SREC"), c.srec.has_value());
        if (c.srec) {
            EXPECT_EQ(vt::ReadText(dir / "app.SREC"), *c.srec);
        }
    }
}

TEST(Formats, VerifyImages) {
    vt::TempDir dir;
    const std::string in = Records(0, Signed(vt::Vectors(8))) + kEof;
    vt::WriteText(dir / "app.hex", in);
    const std::string status = Status(false, 0, vt::SigOf(vt::Vectors(8)));
    const std::string failed = "*** Verification failed.\n";
    const std::vector<std::string> args{"app.hex", "BIN(a.bin)", "HEX(a.hex)", "SREC(a.srec)",
                                        "VERIFY"};
    vt::RunResult r = vt::RunVortle(dir.path, args);
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.out, vt::kBanner + status + "*** Image 'a.bin' is missing\n" +
                         "*** Image 'a.hex' is missing\n" + "*** Image 'a.srec' is missing\n" +
                         failed);
    ASSERT_EQ(vt::RunVortle(dir.path, {"app.hex", "BIN(a.bin)", "HEX(a.hex)", "SREC(a.srec)"}).code,
              0);
    r = vt::RunVortle(dir.path, args);
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.out, vt::kBanner + status + kDone);
    vt::WriteText(dir / "a.hex", vt::ReadText(dir / "a.hex") + "\r\n");
    const std::string srec = vt::ReadText(dir / "a.srec");
    vt::WriteText(dir / "a.srec", srec.substr(0, srec.size() - 1));
    r = vt::RunVortle(dir.path, args);
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.out, vt::kBanner + status + "*** Image 'a.hex' differs\n" +
                         "*** Image 'a.srec' differs\n" + failed);
    EXPECT_EQ(vt::ReadText(dir / "app.hex"), in);
}

// The sample firmware as ELF, HEX, S-records and raw image: one signature, the same images,
// and files that the tools of a firmware flow read as the same bytes.
TEST(Formats, SampleInEveryFormat) {
    std::optional<Bytes> bin;
    for (const char* ext : {"elf", "hex", "s19", "bin"}) {
        SCOPED_TRACE(ext);
        vt::TempDir dir;
        const std::string name = std::string("fw.") + ext;
        const Bytes before = vt::ReadFile(kSamples / (std::string("blinky.") + ext));
        vt::WriteFile(dir / name, before);
        const std::vector<std::string> images{"BIN(fw.img)", "HEX(fw.ihx)", "SREC(fw.s37)"};
        std::vector<std::string> args{name};
        args.insert(args.end(), images.begin(), images.end());
        vt::RunResult r = vt::RunVortle(dir.path, args);
        EXPECT_EQ(r.code, 0);
        EXPECT_EQ(r.out, vt::kBanner + Status(true, 0, kBlinkySig) + kDone);
        // At most the signature's digits and the checksum of their record change.
        const Bytes after = vt::ReadFile(dir / name);
        ASSERT_EQ(after.size(), before.size());
        std::vector<size_t> changed;
        for (size_t i = 0; i < after.size(); ++i) {
            if (after[i] != before[i]) changed.push_back(i);
        }
        ASSERT_FALSE(changed.empty());
        if (std::string(ext) == "hex") {
            const std::string text(before.begin(), before.end());
            const size_t line = text.find("\n:10001000") + 1;
            for (size_t i : changed) {
                EXPECT_TRUE((i >= line + 33 && i < line + 41) || i == line + 41 || i == line + 42)
                    << i;
            }
        } else if (std::string(ext) == "s19") {
            // The second data record: "S113" "0010", the signature's digits, then its checksum.
            const std::string text(before.begin(), before.end());
            const size_t line = text.find("\nS1130010") + 1;
            for (size_t i : changed) {
                EXPECT_TRUE((i >= line + 32 && i < line + 40) || i == line + 40 || i == line + 41)
                    << i;
            }
        } else if (std::string(ext) == "bin") {
            EXPECT_TRUE(changed.front() >= 0x1C && changed.back() < 0x20);
        }
        // The images took their names; no temporary file stays behind.
        size_t files = 0;
        for (const auto& e : vt::fs::directory_iterator(dir.path)) files += e.is_regular_file();
        EXPECT_EQ(files, 4u);
        const Bytes image = vt::ReadFile(dir / "fw.img");
        if (bin) {
            EXPECT_EQ(image, *bin);
        }
        bin = image;
        args.push_back("VERIFY");
        r = vt::RunVortle(dir.path, args);
        EXPECT_EQ(r.code, 0);
        EXPECT_EQ(r.out, vt::kBanner + Status(false, 0, kBlinkySig) + kDone);
#ifndef _WIN32
        // Read by the tools of a firmware flow, the HEX image holds the binary image's bytes.
        const std::string cd = "cd '" + dir.path.string() + "' && ";
        if (vt::Succeeds("arm-none-eabi-objcopy --version")) {
            ASSERT_TRUE(vt::Succeeds(cd + "arm-none-eabi-objcopy -I ihex -O binary fw.ihx o.bin"));
            EXPECT_EQ(vt::ReadFile(dir / "o.bin"), image);
            ASSERT_TRUE(vt::Succeeds(cd + "arm-none-eabi-objcopy -I srec -O binary fw.s37 q.bin"));
            EXPECT_EQ(vt::ReadFile(dir / "q.bin"), image);
            if (std::string(ext) == "elf") {
                ASSERT_TRUE(vt::Succeeds(cd +
                                         "arm-none-eabi-objcopy -O ihex fw.elf r.hex && "
                                         "arm-none-eabi-objcopy -I ihex -O binary r.hex r.bin"));
                EXPECT_EQ(vt::ReadFile(dir / "r.bin"), image);
                // objcopy's S-records under the same name are the same file.
                ASSERT_TRUE(vt::Succeeds(cd + "mkdir o && cd o && "
                                              "arm-none-eabi-objcopy -O srec ../fw.elf fw.s37"));
                EXPECT_EQ(vt::ReadFile(dir / "o" / "fw.s37"), vt::ReadFile(dir / "fw.s37"));
            }
        }
        if (vt::Succeeds("srec_cat -version")) {
            ASSERT_TRUE(vt::Succeeds(cd + "srec_cat fw.ihx -intel -o s.bin -binary"));
            EXPECT_EQ(vt::ReadFile(dir / "s.bin"), image);
            ASSERT_TRUE(vt::Succeeds(cd + "srec_cat fw.s37 -o t.bin -binary"));
            EXPECT_EQ(vt::ReadFile(dir / "t.bin"), image);
        }
        if (vt::Succeeds("/usr/bin/python3 -c 'import intelhex'")) {
            ASSERT_TRUE(vt::Succeeds(cd + "/usr/bin/python3 -c \"import intelhex; "
                                          "intelhex.IntelHex('fw.ihx').tobinfile('p.bin')\""));
            EXPECT_EQ(vt::ReadFile(dir / "p.bin"), image);
        }
#endif
    }
}

#ifndef _WIN32
// S-record files as the tools of firmware flows write them (and one with blank lines first, in
// lower case with LF): signed in place with the same signature as the ELF file, only the
// signature's digits and their records' checksums changed, in the file's case, and read back
// by srec_cat as the signed raw image.
TEST(SrecInput, SignedInEveryForm) {
    if (!vt::Succeeds("arm-none-eabi-objcopy --version") || !vt::Succeeds("srec_cat -version")) {
        GTEST_SKIP() << "arm-none-eabi-objcopy and srec_cat are not installed";
    }
    const std::string elf = (kSamples / "blinky.elf").string();
    const std::string hex = (kSamples / "blinky.hex").string();
    const struct {
        const char* name;
        std::string make; // writes the file named name in the current folder
    } forms[] = {
        {"s1.srec", "arm-none-eabi-objcopy -O srec '" + elf + "' s1.srec"},
        {"s3.mot", "arm-none-eabi-objcopy -O srec --srec-forceS3 '" + elf + "' s3.mot"},
        {"len.s28", "arm-none-eabi-objcopy -O srec --srec-len=7 '" + elf + "' len.s28"},
        {"s2.s37", "srec_cat '" + hex + "' -intel -o s2.s37 -address-length=3"}, // with an S5
        {"lower.txt",
         "arm-none-eabi-objcopy -O srec '" + elf +
             "' x && (echo; echo) > lower.txt && tr -d '\\r' < x | tr A-F a-f >> lower.txt"},
    };
    vt::TempDir ref;
    vt::WriteFile(ref / "fw.bin", vt::ReadFile(kSamples / "blinky.bin"));
    ASSERT_EQ(vt::RunVortle(ref.path, {"fw.bin"}).code, 0);
    const Bytes signedImage = vt::ReadFile(ref / "fw.bin");
    for (const auto& f : forms) {
        SCOPED_TRACE(f.name);
        vt::TempDir dir;
        const std::string cd = "cd '" + dir.path.string() + "' && ";
        ASSERT_TRUE(vt::Succeeds(cd + "(" + f.make + ")"));
        const std::string before = vt::ReadText(dir / f.name);
        vt::RunResult r = vt::RunVortle(dir.path, {f.name});
        EXPECT_EQ(r.code, 0) << r.err;
        EXPECT_EQ(r.out, vt::kBanner + Status(true, 0, kBlinkySig) + kDone);
        const std::string after = vt::ReadText(dir / f.name);
        ASSERT_EQ(after.size(), before.size());
        size_t changed = 0;
        for (size_t i = 0; i < after.size(); ++i) {
            if (after[i] == before[i]) continue;
            ++changed;
            EXPECT_TRUE(std::isxdigit(static_cast<unsigned char>(after[i])) &&
                        (std::isupper(static_cast<unsigned char>(after[i])) ==
                             std::isupper(static_cast<unsigned char>(before[i])) ||
                         std::isdigit(static_cast<unsigned char>(after[i])) ||
                         std::isdigit(static_cast<unsigned char>(before[i]))))
                << i;
        }
        EXPECT_LE(changed, 12u);
        ASSERT_TRUE(vt::Succeeds(cd + "srec_cat " + f.name + " -o o.bin -binary"));
        EXPECT_EQ(vt::ReadFile(dir / "o.bin"), signedImage);
        r = vt::RunVortle(dir.path, {f.name, "VERIFY"});
        EXPECT_EQ(r.code, 0);
    }
}
#endif

} // namespace

namespace {

// The code read protection word next to the vector table: reported, and CRP3 refused unless
// the command line accepts it, before anything is stored or written.
struct CrpCase {
    const char* what;
    Bytes input;
    const char* name;
    std::vector<std::string> opts;
    std::string out; // after the banner; a report means exit 3 and the input unchanged
};

std::vector<CrpCase> CrpCases() {
    const auto word = [](uint32_t v) {
        return Bytes{static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8),
                     static_cast<uint8_t>(v >> 16), static_cast<uint8_t>(v >> 24)};
    };
    const Bytes v = vt::Vectors(16);
    const uint32_t sig = vt::SigOf(v);
    Bytes raw = v;
    raw.resize(0x2FC, 0);
    for (uint8_t b : word(0x12345678)) raw.push_back(b);
    const vt::fs::path layouts = vt::fs::path(VORTLE_SOURCE_DIR) / "examples" / "layouts";
    const auto line = [](const char* level, uint32_t at) {
        char l[80];
        std::snprintf(l, sizeof l, "*** Code Read Protection %s at 0x%08X\n", level, at);
        return std::string(l);
    };
    const auto refused = [](uint32_t at) {
        char l[120];
        std::snprintf(l, sizeof l,
                      "Code Read Protection CRP3 at 0x%08X locks the part for good (give CRP3 "
                      "to accept)",
                      at);
        return vt::Report("processing elf/dwarf file", l);
    };
    const Bytes crp3Before =
        vt::Elf{.segs = {vt::Code(0x2FC, word(0x43218765)), vt::Code(0, v)}}.Build();
    const Bytes crp3After =
        vt::Elf{.segs = {vt::Code(0, v), vt::Code(0x2FC, word(0x43218765))}}.Build();
    const std::string blinky = Status(true, 0, 0xEFFF6DF8);
    const std::string lpc2148 = Status(true, 0, 0xB9205F88, true);
    return {
        {"CRP1",
         vt::ReadFile(kSamples / "blinky-crp1.elf"),
         "app.elf",
         {},
         blinky + line("CRP1", 0x2FC) + kDone},
        {"CRP2",
         vt::ReadFile(kSamples / "blinky-crp2.elf"),
         "app.elf",
         {},
         blinky + line("CRP2", 0x2FC) + kDone},
        {"NO_ISP",
         vt::ReadFile(kSamples / "blinky-noisp.elf"),
         "app.elf",
         {},
         blinky + line("NO_ISP", 0x2FC) + kDone},
        {"CRP3 refused", vt::ReadFile(kSamples / "blinky-crp3.elf"), "app.elf", {}, refused(0x2FC)},
        {"CRP3 accepted",
         vt::ReadFile(kSamples / "blinky-crp3.elf"),
         "app.elf",
         {"crp3"},
         blinky + line("CRP3", 0x2FC) + kDone},
        {"CRP3 twice",
         vt::ReadFile(kSamples / "blinky-crp3.elf"),
         "app.elf",
         {"CRP3", "CRP3"},
         vt::CmdReport(" app.elf BIN(out.bin) HEX(out.hex) CRP3 CRP3", "redefinition")},
        {"CRP3 in a segment before the table's", crp3Before, "app.elf", {}, refused(0x2FC)},
        {"CRP3 in a segment after the table's", crp3After, "app.elf", {}, refused(0x2FC)},
        // The word as a flash tool leaves it, byte by byte, the later piece counting.
        {"CRP3 split over two segments",
         vt::Elf{
             .segs = {vt::Code(0, v), vt::Code(0x2FC, {0x65, 0x87}), vt::Code(0x2FE, {0x21, 0x43})}}
             .Build(),
         "app.elf",
         {},
         refused(0x2FC)},
        {"CRP3 made by a later segment",
         vt::Elf{.segs = {vt::Code(0, v), vt::Code(0x2FC, word(0x12348765)),
                          vt::Code(0x2FE, {0x21, 0x43})}}
             .Build(),
         "app.elf",
         {},
         refused(0x2FC)},
        {"CRP3 in a segment that a later one overwrites",
         vt::Elf{.segs = {vt::Code(0, v), vt::Code(0x2FC, word(0x43218765)),
                          vt::Code(0x2FE, {0x34, 0x12})}}
             .Build(),
         "app.elf",
         {},
         refused(0x2FC)},
        {"CRP1 in two segments is reported once",
         vt::Elf{.segs = {vt::Code(0, v), vt::Code(0x2FC, word(0x12345678)),
                          vt::Code(0x2FE, {0x34, 0x12})}}
             .Build(),
         "app.elf",
         {},
         Status(true, 0, sig) + line("CRP1", 0x2FC) + kDone},
        {"CRP3 in a big-endian ELF: the word as the part reads it",
         vt::Elf{.big = true, .segs = {vt::Code(0, v), vt::Code(0x2FC, word(0x43218765))}}.Build(),
         "app.elf",
         {},
         refused(0x2FC)},
        {"three bytes of it are firmware, the fourth a file byte past the segment",
         vt::Elf{.segs = {vt::Code(0, v),
                          {.paddr = 0x2FC, .vaddr = 0x2FC, .data = word(0x43218765), .filesz = 3}}}
             .Build(),
         "app.elf",
         {},
         Status(true, 0, sig) + kDone},
        {"no word at 0x2FC",
         vt::Elf{.segs = {vt::Code(0, v)}}.Build(),
         "app.elf",
         {},
         Status(true, 0, sig) + kDone},
        {"only two bytes of it are firmware",
         vt::Elf{.segs = {vt::Code(0, v), vt::Code(0x2FC, {0x65, 0x87})}}.Build(),
         "app.elf",
         {},
         Status(true, 0, sig) + kDone},
        {"ARM7 at 0x1FC refused",
         vt::ReadFile(layouts / "lpc2148-crp3.elf"),
         "app.elf",
         {},
         refused(0x1FC)},
        {"ARM7 at 0x1FC accepted",
         vt::ReadFile(layouts / "lpc2148-crp3.elf"),
         "app.elf",
         {"CRP3"},
         lpc2148 + line("CRP3", 0x1FC) + kDone},
        {"HEX input",
         [&] {
             const std::string t = Records(0, v) + Rec(0, 0x2FC, word(0x43218765)) + kEof;
             return Bytes(t.begin(), t.end());
         }(),
         "app.hex",
         {},
         refused(0x2FC)},
        {"raw input", raw, "app.bin", {}, Status(true, 0, sig) + line("CRP1", 0x2FC) + kDone},
    };
}

// Runs the rows named, each with both images and then once more with VERIFY.
void RunCrpCases(const std::vector<std::string>& names) {
    size_t ran = 0;
    for (const CrpCase& c : CrpCases()) {
        if (std::find(names.begin(), names.end(), c.what) == names.end()) continue;
        ++ran;
        SCOPED_TRACE(c.what);
        vt::TempDir dir;
        vt::WriteFile(dir / c.name, c.input);
        vt::WriteFile(dir / "out.bin", {1});
        vt::WriteFile(dir / "out.hex", {2});
        std::vector<std::string> args{c.name, "BIN(out.bin)", "HEX(out.hex)"};
        args.insert(args.end(), c.opts.begin(), c.opts.end());
        const vt::RunResult r = vt::RunVortle(dir.path, args);
        const bool fatal = c.out.find("Fatal") != std::string::npos;
        EXPECT_EQ(r.code, fatal ? 3 : 0);
        EXPECT_EQ(r.out, vt::kBanner + c.out);
        const bool refusedLine = c.out.find("parsing command line") != std::string::npos;
        EXPECT_EQ(vt::fs::exists(dir / "out.bin"), !fatal || refusedLine);
        EXPECT_EQ(vt::fs::exists(dir / "out.hex"), !fatal || refusedLine);
        if (fatal) {
            EXPECT_EQ(vt::ReadFile(dir / c.name), c.input);
            continue;
        }
        // A check reports the word too.
        args.push_back("VERIFY");
        const vt::RunResult v2 = vt::RunVortle(dir.path, args);
        EXPECT_EQ(v2.code, 0);
        EXPECT_NE(v2.out.find(c.out.substr(c.out.find('\n') + 1)), std::string::npos);
    }
    EXPECT_EQ(ran, names.size()) << "a row named here is missing";
}

TEST(CodeReadProtection, ReportsEveryLevelFound) {
    RunCrpCases({"CRP1", "CRP2", "NO_ISP", "CRP1 in two segments is reported once", "raw input"});
}

TEST(CodeReadProtection, Crp3IsRefusedUnlessAccepted) {
    RunCrpCases({"CRP3 refused", "CRP3 accepted", "CRP3 twice", "ARM7 at 0x1FC refused",
                 "ARM7 at 0x1FC accepted", "HEX input",
                 "CRP3 in a big-endian ELF: the word as the part reads it"});
}

TEST(CodeReadProtection, TheWordAsAFlashToolLeavesIt) {
    RunCrpCases({"CRP3 in a segment before the table's", "CRP3 in a segment after the table's",
                 "CRP3 split over two segments", "CRP3 made by a later segment",
                 "CRP3 in a segment that a later one overwrites",
                 "three bytes of it are firmware, the fourth a file byte past the segment",
                 "no word at 0x2FC", "only two bytes of it are firmware"});
}

#if !defined(_WIN32) && !defined(__SANITIZE_ADDRESS__)
// Out of memory is the memory report, wherever it happens: here the bookkeeping of a HEX input
// whose every record is a run of its own, under a limit that the mapped file fits.
TEST(Formats, HexInputOutOfMemory) {
    vt::TempDir dir;
    std::string t;
    for (uint32_t a = 0x60000; a-- > 0;) {
        if ((a & 0xFFFF) == 0xFFFF) t += Upper(static_cast<uint16_t>(a >> 16));
        t += Rec(0, static_cast<uint16_t>(a), {static_cast<uint8_t>(a)});
    }
    t += kEof;
    vt::WriteText(dir / "app.hex", t);
    const std::string limit = std::to_string((t.size() + 3 * 1024 * 1024) / 1024);
    const vt::RunResult r = vt::RunVortle(
        dir.path,
        {"-c", "ulimit -v " + limit + "; exec \"$0\" \"$@\"", vt::VortlePath(), "app.hex"},
        "/bin/sh");
    EXPECT_EQ(r.code, 3);
    EXPECT_EQ(r.out, vt::kBanner + vt::Report("allocating memory", "out of memory"));
    EXPECT_EQ(vt::ReadText(dir / "app.hex"), t);
}
#endif

} // namespace

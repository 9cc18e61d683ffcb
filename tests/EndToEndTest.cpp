// Runs the built tool on real files: the output byte for byte, the exit code, the input's bytes
// afterwards and the image file.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <optional>
#ifdef _WIN32
#include <windows.h>
#else
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "Support.h"

namespace {

using vt::Bytes;
using vt::Elf;

using vt::kDone;
using vt::Status;

std::string ArmStatus(bool updated, uint32_t start, uint32_t sig) {
    return Status(updated, start, sig, true);
}

std::string Invalid(const std::string& name) {
    return vt::Report("accessing file", "invalid elf/dwarf file '" + name + "'");
}

std::string CannotOpen(const std::string& name) {
    return vt::Report("accessing file", "cannot open file '" + name + "'");
}

std::string NotFound(uint32_t start) {
    char line[80];
    std::snprintf(line, sizeof line, "Range not found: 0x%08X - 0x%08X", start, start + 0x1C);
    return vt::Report("processing elf/dwarf file", line);
}

// File offset of segment i's data as the builder places it.
uint32_t DataAt(const Bytes& elf, size_t i, bool big = false) {
    return vt::Get32(elf, 52 + 32 * i + 4, big);
}

Bytes WithSig(Bytes b, size_t at) {
    vt::Put32(b, at + 0x1C, vt::SigOf(b, at));
    return b;
}

Bytes Slice(const Bytes& b, size_t at, size_t len) {
    return Bytes(b.begin() + static_cast<long>(at), b.begin() + static_cast<long>(at + len));
}

Bytes Cat(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

struct Case {
    std::string what;
    Bytes input;
    std::vector<std::string> opts; // after the input name app.elf
    int code;
    std::string out;            // after the banner
    Bytes after;                // the input afterwards
    std::optional<Bytes> image; // app.BIN afterwards, or absent
};

void RunCase(const Case& c) {
    SCOPED_TRACE(c.what);
    vt::TempDir dir;
    vt::WriteFile(dir / "app.elf", c.input);
    vt::WriteFile(dir / "app.BIN", {0x5A}); // stale image from an earlier run
    std::vector<std::string> args{"app.elf"};
    args.insert(args.end(), c.opts.begin(), c.opts.end());
    const vt::RunResult r = vt::RunVortle(dir.path, args);
    EXPECT_EQ(r.code, c.code);
    EXPECT_EQ(r.out, vt::kBanner + c.out);
    // One line on standard error exactly when the run fails.
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), c.code == 0 ? 0 : 1) << r.err;
    EXPECT_EQ(vt::ReadFile(dir / "app.elf"), c.after);
    if (c.image) {
        ASSERT_TRUE(vt::fs::exists(dir / "app.BIN"));
        EXPECT_EQ(vt::ReadFile(dir / "app.BIN"), *c.image);
    } else {
        EXPECT_FALSE(vt::fs::exists(dir / "app.BIN"));
    }
}

// A run that signs the table at the start of the first segment, and what it leaves.
Case SignsFirstSegment(std::string what, const Bytes& in, std::vector<std::string> opts,
                       std::optional<Bytes> image) {
    return {std::move(what),
            in,
            std::move(opts),
            0,
            Status(true, 0, vt::SigOf(in, DataAt(in, 0))) + kDone,
            WithSig(in, DataAt(in, 0)),
            std::move(image)};
}

// The default range and BASEADDRESS: signed once, left alone when right, refused when no
// segment holds it.
TEST(SignaturePass, SignsTheConfiguredRange) {
    std::vector<Case> cases;
    const Bytes in = vt::MinimalElf();
    const Bytes out = WithSig(in, DataAt(in, 0));
    const uint32_t sig = vt::SigOf(in, DataAt(in, 0));
    cases.push_back({"signs the default range", in, {}, 0, Status(true, 0, sig) + kDone, out, {}});
    cases.push_back(
        {"a signed file stays as it is", out, {}, 0, Status(false, 0, sig) + kDone, out, {}});
    cases.push_back(
        {"BASEADDRESS(0) is the default", in, {"BA(0)"}, 0, Status(true, 0, sig) + kDone, out, {}});
    cases.push_back(
        {"a range that no segment holds", in, {"BA(0x2000)"}, 3, NotFound(0x2000), in, {}});
    const Bytes app = Elf{.segs = {vt::Code(0x2000, vt::Vectors(16, 0x1234))}}.Build();
    cases.push_back({"application at 0x2000",
                     app,
                     {"BA(0x2000)"},
                     0,
                     Status(true, 0x2000, vt::SigOf(app, DataAt(app, 0))) + kDone,
                     WithSig(app, DataAt(app, 0)),
                     {}});
    cases.push_back({"application at 0x2000, default range", app, {}, 3, NotFound(0), app, {}});
    const Bytes big = Elf{.big = true, .segs = {vt::Code(0, vt::Vectors(16))}}.Build();
    cases.push_back({"big-endian file, little-endian units",
                     big,
                     {},
                     0,
                     Status(true, 0, vt::SigOf(big, DataAt(big, 0, true))) + kDone,
                     WithSig(big, DataAt(big, 0, true)),
                     {}});
    for (const Case& c : cases) RunCase(c);
}

// Which segments hold the range: all of it and the signature word in their file bytes, from
// their start; every one that holds it is signed.
TEST(SignaturePass, SegmentsThatHoldTheRange) {
    std::vector<Case> cases;
    for (uint32_t size : {28u, 29u, 31u}) {
        const Bytes in = Elf{.segs = {vt::Code(0, vt::Vectors(8))}}.Build();
        Bytes cut = in;
        vt::Put32(cut, 52 + 16, size);
        vt::Put32(cut, 52 + 20, size);
        cases.push_back(
            {"segment of " + std::to_string(size) + " bytes", cut, {}, 3, NotFound(0), cut, {}});
    }
    cases.push_back(SignsFirstSegment("segment of 32 bytes",
                                      Elf{.segs = {vt::Code(0, vt::Vectors(8))}}.Build(), {}, {}));
    const Bytes late = Elf{.segs = {vt::Code(0x10, vt::Vectors(16))}}.Build();
    cases.push_back({"segment starting inside the range", late, {}, 3, NotFound(0), late, {}});
    // Two segments hold the range: both are patched, the line tells of the last.
    const Bytes two =
        Elf{.segs = {vt::Code(0, vt::Vectors(16, 1)), vt::Code(0, vt::Vectors(16, 2))}}.Build();
    const Bytes out = WithSig(WithSig(two, DataAt(two, 0)), DataAt(two, 1));
    cases.push_back({"every holding segment is patched",
                     two,
                     {},
                     0,
                     Status(true, 0, vt::SigOf(two, DataAt(two, 1))) + kDone,
                     out,
                     {}});
    const Bytes half = WithSig(two, DataAt(two, 1));
    cases.push_back({"only the first needs it",
                     half,
                     {},
                     0,
                     Status(false, 0, vt::SigOf(two, DataAt(two, 1))) + kDone,
                     out,
                     {}});
    for (const Case& c : cases) RunCase(c);
}

// The binary image: each segment's file bytes at their load-address distance.
TEST(SignaturePass, BinaryImageOfTheSegments) {
    std::vector<Case> cases;
    const Bytes in = vt::MinimalElf();
    cases.push_back(SignsFirstSegment("image of one segment", in, {"BINARY"},
                                      Slice(WithSig(in, DataAt(in, 0)), DataAt(in, 0), 64)));
    // Two segments: the image is the first's file bytes followed by the second's.
    Bytes data(20, 0xD1);
    const Bytes two =
        Elf{.segs =
                {vt::Code(0, vt::Vectors(40)),
                 {.paddr = 0xA0, .vaddr = 0x10000000, .flags = 6, .data = data, .memExtra = 64}}}
            .Build();
    cases.push_back(
        SignsFirstSegment("image of two segments", two, {"bin"},
                          Cat(Slice(WithSig(two, DataAt(two, 0)), DataAt(two, 0), 160), data)));
    // FILL: the gap between the segments holds the byte, as objcopy's --gap-fill writes it.
    const Bytes gap = Elf{.segs = {vt::Code(0, vt::Vectors(40)), vt::Code(0x100, data)}}.Build();
    cases.push_back(SignsFirstSegment(
        "gap filled", gap, {"BINARY", "FILL(0xFF)"},
        Cat(Cat(Slice(WithSig(gap, DataAt(gap, 0)), DataAt(gap, 0), 160), Bytes(0x60, 0xFF)),
            data)));
    // A read-write segment at file offset 0 whose memory exceeds its file bytes keeps none.
    const Bytes zero = Elf{.segs = {vt::Code(0, vt::Vectors(16)), vt::ZeroFilled()}}.Build();
    cases.push_back(SignsFirstSegment("zero-filled segment at offset 0", zero, {"BINARY"},
                                      Slice(WithSig(zero, DataAt(zero, 0)), DataAt(zero, 0), 64)));
    for (const Case& c : cases) RunCase(c);
}

// ELF files that are no usable executable: refused, the file and a stale image untouched
// only by VERIFY.
TEST(SignaturePass, RefusesFilesThatAreNoUsableExecutable) {
    std::vector<Case> cases;
    const Bytes rw =
        Elf{.segs = {{.paddr = 0x2000, .vaddr = 0x2000, .flags = 6, .data = vt::Vectors(16)}}}
            .Build();
    cases.push_back({"nothing loadable", rw, {"BA(0x2000)"}, 3, Invalid("app.elf"), rw, {}});
    const Bytes in = Elf{.segs = {{.paddr = 0, .flags = 5, .data = {}},
                                  {.type = 4, .paddr = 0x100, .flags = 4, .data = {1, 2, 3, 4}}}}
                         .Build();
    cases.push_back({"no segment counts as loadable", in, {}, 3, Invalid("app.elf"), in, {}});
    const Bytes none = Elf{.segs = {vt::Code(0, vt::Vectors(16))}, .phoffZero = true}.Build();
    cases.push_back({"no program headers", none, {"BINARY"}, 3, Invalid("app.elf"), none, {}});
    cases.push_back({"no program headers, VERIFY",
                     none,
                     {"VERIFY"},
                     3,
                     Invalid("app.elf"),
                     none,
                     vt::Bytes{0x5A}});
    Bytes zero = vt::MinimalElf();
    vt::Put16(zero, vt::kPhnum, 0);
    cases.push_back({"e_phnum 0", zero, {}, 3, Invalid("app.elf"), zero, {}});
    for (uint16_t type : {1, 3}) {
        Bytes t = vt::MinimalElf();
        vt::Put16(t, vt::kType, type);
        cases.push_back({"e_type " + std::to_string(type), t, {}, 3, Invalid("app.elf"), t, {}});
    }
    Bytes m = Elf{.machine = 62, .segs = {vt::Code(0, vt::Vectors(16))}}.Build();
    cases.push_back({"other machine", m, {}, 3, Invalid("app.elf"), m, {}});
    Bytes s = Elf{.segs = {vt::Code(0, vt::Vectors(16))}, .strName = ".strtab"}.Build();
    cases.push_back({"no .shstrtab", s, {}, 3, Invalid("app.elf"), s, {}});
    for (const Case& c : cases) RunCase(c);
}

uint32_t ArmSig(const Bytes& b, size_t at) {
    uint32_t sum = 0;
    for (size_t i = 0; i < 8; ++i) sum += i == 5 ? 0 : vt::Get32(b, at + i * 4);
    return 0u - sum;
}

// Layouts that real linkers write: headers inside a segment, vector tables that start a
// section inside a segment, segments without file bytes, gaps between load addresses and
// ARM-state exception tables.
TEST(EndToEnd, LinkerLayouts) {
    std::vector<Case> cases;
    const Bytes vec = vt::Vectors(16);
    {
        // The range falls on the ELF header, the program header table or the section header
        // table: never firmware.
        const Bytes plain = Elf{.segs = {vt::Code(0, vec)}}.Build();
        const uint32_t shoff = vt::Get32(plain, vt::kShoff);
        for (uint32_t off : {0u, 52u, 80u, shoff - 24, shoff + 40}) {
            Elf e{.segs = {vt::Code(0, vec)}};
            e.segs[0].offset = off;
            e.segs[0].filesz = 32;
            const Bytes in = e.Build();
            cases.push_back({"headers at file offset " + std::to_string(off),
                             in,
                             {"BINARY"},
                             3,
                             NotFound(0),
                             in,
                             {}});
        }
    }
    {
        // A vector table at 0x1040 inside a segment based at 0x1000, starting a section.
        const Bytes data = Cat(Bytes(0x40, 0xC3), vec);
        const auto build = [&](vt::Section sec) {
            return Elf{.segs = {vt::Code(0x1000, data)}, .secs = {sec}}.Build();
        };
        const Bytes in = build({.delta = 0x40});
        const uint32_t at = DataAt(in, 0) + 0x40;
        const Bytes out = WithSig(in, at);
        const std::string ok = Status(true, 0x1040, vt::SigOf(in, at)) + kDone;
        cases.push_back({"section start inside a segment",
                         in,
                         {"BINARY", "BA(0x1040)"},
                         0,
                         ok,
                         out,
                         Slice(out, DataAt(in, 0), data.size())});
        cases.push_back({"mistyped base address", in, {"BA(0x1044)"}, 3, NotFound(0x1044), in, {}});
        const std::pair<const char*, vt::Section> refused[] = {
            {"not allocated", {.flags = 4, .delta = 0x40}},
            {"without file bytes", {.type = 8, .delta = 0x40}},
            {"smaller than a table", {.delta = 0x40, .size = 31}},
        };
        for (const auto& [what, sec] : refused) {
            const Bytes b = build(sec);
            cases.push_back(
                {std::string("section ") + what, b, {"BA(0x1040)"}, 3, NotFound(0x1040), b, {}});
        }
    }
    {
        // A segment without file bytes far past the end is never read; the image has the
        // code, a gap up to the data's load address, and a segment below the running address
        // follows directly.
        const Bytes data(8, 0xD1);
        const vt::Segment bss{.paddr = 0x10000000,
                              .vaddr = 0x10000000,
                              .flags = 6,
                              .data = {},
                              .memExtra = 64,
                              .offset = 0x7FFFFFF0,
                              .filesz = 0};
        const Bytes in = Elf{.segs = {vt::Code(0, vec), bss, vt::Code(0x50, data),
                                      vt::Code(0x20, Bytes(4, 0xE2))}}
                             .Build();
        const Bytes out = WithSig(in, DataAt(in, 0));
        Bytes image = Slice(out, DataAt(in, 0), 64);
        image.resize(0x50, 0);
        image = Cat(Cat(image, data), Bytes(4, 0xE2));
        cases.push_back({"zero-size segment past the end, gap, descending segment",
                         in,
                         {"BINARY"},
                         0,
                         Status(true, 0, vt::SigOf(in, DataAt(in, 0))) + kDone,
                         out,
                         image});
        // A gap before a segment large enough for the kernel's copy, and one behind it.
        const Bytes large = vt::Vectors(0x4000, 7);
        const Bytes in2 =
            Elf{.segs = {vt::Code(0, vec), vt::Code(0x100, large), vt::Code(0x20000, data)}}
                .Build();
        const Bytes out2 = WithSig(in2, DataAt(in2, 0));
        Bytes image2 = Slice(out2, DataAt(in2, 0), 64);
        image2.resize(0x100, 0);
        image2 = Cat(image2, large);
        image2.resize(0x20000, 0);
        cases.push_back({"gaps around a large segment",
                         in2,
                         {"BINARY"},
                         0,
                         Status(true, 0, vt::SigOf(in2, DataAt(in2, 0))) + kDone,
                         out2,
                         Cat(image2, data)});
    }
    for (bool big : {false, true}) {
        // ARM-state tables: a branch or a PC load first; eight words, signature at 0x14.
        for (uint32_t first : {0xEA000006u, 0xE59FF018u}) {
            Bytes table = vt::Vectors(16, 0xE59FF018);
            vt::Put32(table, 0, first, big);
            const Bytes in = Elf{.big = big, .segs = {vt::Code(0, table)}}.Build();
            const uint32_t at = DataAt(in, 0, big);
            Bytes out = in;
            vt::Put32(out, at + 0x14, ArmSig(in, at));
            char what[64];
            std::snprintf(what, sizeof what, "ARM-state table 0x%08X%s", first,
                          big ? ", big-endian" : "");
            cases.push_back({what, in, {}, 0, ArmStatus(true, 0, ArmSig(in, at)) + kDone, out, {}});
        }
    }
    for (const Case& c : cases) RunCase(c);
}

// VERIFY changes no file: each outcome with its exit code; the input and any image stay as
// they were, also when an error ends the run.
TEST(EndToEnd, Verify) {
    const Bytes elf = vt::MinimalElf();
    const uint32_t at = DataAt(elf, 0);
    const Bytes good = WithSig(elf, at);
    const Bytes image = Slice(good, at, 64);
    Bytes changed = image;
    changed[40] ^= 1;
    const std::string ok = Status(false, 0, vt::SigOf(elf, at)) + kDone;
    const std::string failed = "*** Verification failed.\n";
    char wrong[160];
    std::snprintf(wrong, sizeof wrong,
                  "*** Wrong Signature over Range[32] (0x00000000 - 0x00000018): @0x0000001C = "
                  "0x%08X, expected 0x%08X\n",
                  vt::Get32(elf, at + 0x1C), vt::SigOf(elf, at));
    const std::string imageLine = Status(false, 0, vt::SigOf(elf, at)) + "*** Image 'app.BIN' ";
    struct VerifyCase {
        const char* what;
        Bytes input;
        std::optional<Bytes> image; // app.BIN before and after the run
        std::vector<std::string> opts;
        int code;
        std::string out;
        bool readOnly = false;
    };
    const VerifyCase cases[] = {
        {"signed", good, {}, {"VERIFY"}, 0, ok},
        {"signed, read-only, stale image kept", good, Bytes{1}, {"verify"}, 0, ok, true},
        {"not signed", elf, Bytes{1}, {"VERIFY", "BINARY"}, 1, wrong + failed},
        {"image right", good, image, {"BINARY", "VERIFY"}, 0, ok},
        {"image missing", good, {}, {"BIN", "VERIFY"}, 1, imageLine + "is missing\n" + failed},
        {"image longer",
         good,
         Cat(image, {0}),
         {"BIN", "VERIFY"},
         1,
         imageLine + "differs\n" + failed},
        {"image changed", good, changed, {"BIN", "VERIFY"}, 1, imageLine + "differs\n" + failed},
        {"range not found", good, image, {"VERIFY", "BA(0x2000)"}, 3, NotFound(0x2000)},
        {"error before the keyword",
         good,
         image,
         {"BIN", "BA(1G)", "VERIFY"},
         3,
         vt::Report("parsing command line", "invalid number '1G'")},
    };
    for (const VerifyCase& c : cases) {
        SCOPED_TRACE(c.what);
        vt::TempDir dir;
        vt::WriteFile(dir / "app.elf", c.input);
        if (c.image) vt::WriteFile(dir / "app.BIN", *c.image);
        if (c.readOnly) vt::fs::permissions(dir / "app.elf", vt::fs::perms::owner_read);
        std::vector<std::string> args{"app.elf"};
        args.insert(args.end(), c.opts.begin(), c.opts.end());
        const vt::RunResult r = vt::RunVortle(dir.path, args);
        EXPECT_EQ(r.code, c.code);
        EXPECT_EQ(r.out, vt::kBanner + c.out);
        EXPECT_EQ(vt::ReadFile(dir / "app.elf"), c.input);
        EXPECT_EQ(vt::fs::exists(dir / "app.BIN"), c.image.has_value());
        if (c.image) {
            EXPECT_EQ(vt::ReadFile(dir / "app.BIN"), *c.image);
        }
    }
}

TEST(EndToEnd, HelpAndVersion) {
    vt::TempDir dir;
    const std::string usage =
        "Usage: vortle <input> [BINARY[(<image>)]] [HEX[(<image>)]] [SREC[(<image>)]]\n";
    for (const char* only : {"--help", "-h", "/?", "--version", "-V"}) {
        SCOPED_TRACE(only);
        const vt::RunResult r = vt::RunVortle(dir.path, {only});
        EXPECT_EQ(r.code, 0);
        if (only[1] == 'V' || only[2] == 'v') {
            EXPECT_EQ(r.out, vt::kBanner);
        } else {
            EXPECT_EQ(r.out.substr(0, vt::kBanner.size() + usage.size()), vt::kBanner + usage);
            EXPECT_NE(r.out.find("Exit codes: 0 signed or verified, 1 verification failed"),
                      std::string::npos);
            // Every line fits a terminal of 80 columns.
            for (size_t at = 0, end; (end = r.out.find('\n', at)) != std::string::npos;
                 at = end + 1) {
                EXPECT_LT(end - at, 80u) << r.out.substr(at, end - at);
            }
        }
    }
    // Next to other arguments they are file names.
    const vt::RunResult r = vt::RunVortle(dir.path, {"--help", "BINARY"});
    EXPECT_EQ(r.code, 3);
    EXPECT_EQ(r.out, vt::kBanner + CannotOpen("--help"));
    EXPECT_TRUE(vt::fs::is_empty(dir.path));
}

// A read outside the file ends the run silently with exit code 2 and no image.
TEST(EndToEnd, ReaderAbort) {
    std::vector<Case> cases;
    const Bytes in =
        Elf{.segs = {vt::Code(0, vt::Vectors(16)),
                     {.paddr = 0x40, .vaddr = 0x10000000, .flags = 6, .data = Bytes(8, 7)}}}
            .Build();
    cases.push_back({"51 bytes", Slice(in, 0, 51), {}, 2, "", Slice(in, 0, 51), {}});
    cases.push_back({"cut in the program headers",
                     Slice(in, 0, 100),
                     {"BINARY"},
                     2,
                     "",
                     Slice(in, 0, 100),
                     {}});
    {
        Bytes b = in;
        vt::Put32(b, vt::kShoff, 0x01000000);
        cases.push_back({"section table past the end", b, {}, 2, "", b, {}});
        b = in;
        vt::Put32(b, vt::kShoff, 0xFFFFFFF0);
        cases.push_back({"section table wraps", b, {}, 2, "", b, {}});
        b = in;
        vt::Put32(b, vt::kPhoff, 0xFFFFFFF0);
        cases.push_back({"program headers wrap", b, {}, 2, "", b, {}});
    }
    {
        // The later segment's bytes lie past the end: the partial image is deleted, the
        // signature written before stays.
        Bytes b = in;
        vt::Put32(b, 52 + 32 + 4, static_cast<uint32_t>(b.size() - 4));
        cases.push_back(
            {"image segment past the end", b, {"BINARY"}, 2, "", WithSig(b, DataAt(in, 0)), {}});
        // Without an image that segment is never read.
        cases.push_back({"unread segment past the end",
                         b,
                         {},
                         0,
                         Status(true, 0, vt::SigOf(in, DataAt(in, 0))) + kDone,
                         WithSig(b, DataAt(in, 0)),
                         {}});
        b = in;
        vt::Put32(b, 52 + 16, 0xFFFFFFF0); // the holding segment runs past the end
        cases.push_back({"holding segment past the end", b, {}, 2, "", b, {}});
        b = in;
        vt::Put32(b, 52 + 4, 0xFFFFFFF0);
        cases.push_back({"holding segment offset wraps", b, {}, 2, "", b, {}});
    }
    {
        Bytes b = in;
        const uint32_t shoff = vt::Get32(b, vt::kShoff);
        vt::Put32(b, shoff + 40 + 20, 0x7FFFFF00);
        cases.push_back({"string table past the end", b, {}, 2, "", b, {}});
    }
    for (const Case& c : cases) RunCase(c);
}

TEST(EndToEnd, InputsThatCannotBeOpened) {
    vt::TempDir dir;
    const Bytes elf = vt::MinimalElf();
    vt::WriteFile(dir / "empty.elf", {});
    vt::WriteFile(dir / "ro.elf", elf);
    vt::fs::permissions(dir / "ro.elf", vt::fs::perms::owner_read);
    vt::fs::create_directory(dir / "dir.elf");
    for (const char* name : {"missing.elf", "empty.elf", "ro.elf", "dir.elf"}) {
        SCOPED_TRACE(name);
        const vt::RunResult r = vt::RunVortle(dir.path, {name, "BINARY"});
        EXPECT_EQ(r.code, 3);
        EXPECT_EQ(r.out, vt::kBanner + CannotOpen(name));
    }
    EXPECT_FALSE(vt::fs::exists(dir / "missing.elf"));
    EXPECT_EQ(vt::ReadFile(dir / "ro.elf"), elf);
    EXPECT_EQ(vt::fs::file_size(dir / "empty.elf"), 0u);
    EXPECT_FALSE(vt::fs::exists(dir / "ro.BIN"));
}

// The image file is never the input file, whatever name designates it.
TEST(EndToEnd, ImageIsNeverTheInput) {
    vt::TempDir dir;
    const Bytes elf = vt::MinimalElf();
    const Bytes signedElf = WithSig(elf, DataAt(elf, 0));
    const std::string ok = Status(true, 0, vt::SigOf(elf, DataAt(elf, 0))) + kDone;
    const auto cannotCreate = [](const std::string& n) {
        return vt::Report("accessing file", "cannot create file '" + n + "'");
    };
    // One file at the root, spelt twice.
#ifdef _WIN32
    const std::string atRoot = "C:\\vortle-root-test.img";
    const std::string atRootAgain = "C:\\.\\vortle-root-test.img";
#else
    const std::string atRoot = "/vortle-root-test-" + std::to_string(getpid()) + ".img";
    const std::string atRootAgain = "/" + atRoot;
#endif
    struct ImgCase {
        std::vector<std::string> args;
        int code;
        std::string out;
    };
    const ImgCase cases[] = {
        {{"app.BIN"}, 0, ok},
        {{"app.BIN", "BINARY"}, 3, cannotCreate("app.BIN")},
        {{"app.elf", "BIN(app.elf)"}, 3, cannotCreate("app.elf")},
        {{"app.elf", "BIN(./app.elf)"}, 3, cannotCreate("./app.elf")},
        {{"app.elf", "BIN(link.elf)"}, 3, cannotCreate("link.elf")},
        {{"app.elf", "BIN(sym.elf)"}, 3, cannotCreate("sym.elf")},
        {{"app.elf", "HEX(sub/../app.elf)"}, 3, cannotCreate("sub/../app.elf")},
        // Nor is one image the other, by any spelling, whether the file exists yet or not.
        {{"app.elf", "BIN(out.img)", "HEX(./out.img)"}, 3, cannotCreate("./out.img")},
        {{"app.elf", "BIN(out.img)", "HEX(sub/../out.img)"}, 3, cannotCreate("sub/../out.img")},
        {{"app.elf", "BIN(sub/out.img)", "HEX(out.img)"}, 0, ok},
        // At the root the folder is the separator itself: nothing is written there.
        {{"app.elf", "BIN(" + atRoot + ")", "HEX(" + atRootAgain + ")"},
         3,
         cannotCreate(atRootAgain)},
    };
    vt::fs::create_directory(dir / "sub");
    bool symlinks = true;
    for (const ImgCase& c : cases) {
        SCOPED_TRACE(c.args.back());
        if (!symlinks && c.args.back() == "BIN(sym.elf)") continue;
        vt::fs::remove(dir / "link.elf");
        vt::fs::remove(dir / "sym.elf");
        vt::fs::remove(dir / "app.BIN");
        vt::fs::remove(dir / "app.elf");
        const std::string in = c.args.front();
        vt::WriteFile(dir / in, elf);
        if (in == "app.elf") {
            vt::fs::create_hard_link(dir / "app.elf", dir / "link.elf");
            std::error_code ec;
            vt::fs::create_symlink("app.elf", dir / "sym.elf", ec);
            symlinks = !ec;
        }
        const vt::RunResult r = vt::RunVortle(dir.path, c.args);
        EXPECT_EQ(r.code, c.code);
        EXPECT_EQ(r.out, vt::kBanner + c.out);
        EXPECT_EQ(vt::ReadFile(dir / in), c.code == 0 ? signedElf : elf);
        EXPECT_EQ(vt::fs::exists(dir / "out.img"), c.code == 0 && c.args.size() == 3);
        vt::fs::remove(dir / "out.img");
        std::error_code ec;
        EXPECT_FALSE(vt::fs::remove(atRoot, ec));
    }
}

TEST(EndToEnd, ImageFileFailures) {
    vt::TempDir dir;
    const Bytes elf = vt::MinimalElf();
    vt::WriteFile(dir / "app.elf", elf);
    const vt::RunResult r = vt::RunVortle(dir.path, {"app.elf", "BIN(nodir/app.bin)"});
    EXPECT_EQ(r.code, 3);
    EXPECT_EQ(r.out,
              vt::kBanner + vt::Report("accessing file", "cannot create file 'nodir/app.bin'"));
    // The signature was written before the image was opened.
    EXPECT_EQ(vt::ReadFile(dir / "app.elf"), WithSig(elf, DataAt(elf, 0)));
}

#ifndef _WIN32
// A device that refuses the bytes, reached through a link: small writes fail when the stream
// is flushed, large ones at once. What is not a regular file is never deleted.
TEST(EndToEnd, ImageDeviceFull) {
    if (!vt::fs::is_character_file("/dev/full")) GTEST_SKIP() << "no /dev/full";
    vt::TempDir dir;
    vt::fs::create_symlink("/dev/full", dir / "full.bin");
    for (size_t words : {16u, 0x10000u}) {
        SCOPED_TRACE(words);
        vt::WriteFile(dir / "app.elf", Elf{.segs = {vt::Code(0, vt::Vectors(words))}}.Build());
        const vt::RunResult r = vt::RunVortle(dir.path, {"app.elf", "BIN(full.bin)"});
        EXPECT_EQ(r.code, 3);
        EXPECT_EQ(r.out, vt::kBanner + vt::Report("writing file", "I/O error on file 'full.bin'"));
        EXPECT_TRUE(vt::fs::is_symlink(dir / "full.bin"));
    }
}
#endif

// File names are taken whole: the input as the shell delivered it, blanks, parentheses and
// quotes included, and names up to 1000 characters in every form. Nothing else is touched.
TEST(EndToEnd, NamesAreTakenWhole) {
    vt::TempDir dir;
    const Bytes elf = vt::MinimalElf();
    const Bytes image = Slice(WithSig(elf, DataAt(elf, 0)), DataAt(elf, 0), 64);
    const std::string ok = Status(true, 0, vt::SigOf(elf, DataAt(elf, 0))) + kDone;
    std::string deep = "out dir (1)";
#ifndef _WIN32
    // Four folders of 230 characters: no component passes 255 bytes.
    for (int i = 0; i < 4; ++i) deep += "/" + std::string(230, static_cast<char>('a' + i));
#endif
    vt::fs::create_directories(dir / deep);
    // What a name cut short would hit.
    const std::string cut = deep.size() > 250 ? deep.substr(0, 250) : "out";
    vt::WriteFile(dir / cut, {9});
    struct Case {
        std::string input;
        std::string opt;
        std::string image; // the image file afterwards
    };
    const Case cases[] = {
        {"my app.elf", "BINARY", "my app.BIN"},
        {"a(1).elf", "BINARY", "a(1).BIN"},
        {"it's [x] {y}.elf", "BINARY", "it's [x] {y}.BIN"},
        {"app.elf", "BIN(" + deep + "/release-firmware-image.bin)",
         deep + "/release-firmware-image.bin"},
        {"app.elf", "HEX(\"" + deep + "/release-firmware-image.hex\")", ""},
        {deep + "/fw.elf", "BINARY", deep + "/fw.BIN"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.input + " " + c.opt.substr(0, 20));
        vt::WriteFile(dir / c.input, elf);
        const vt::RunResult r = vt::RunVortle(dir.path, {c.input, c.opt});
        EXPECT_EQ(r.code, 0);
        EXPECT_EQ(r.out, vt::kBanner + ok);
        EXPECT_EQ(vt::ReadFile(dir / c.input), WithSig(elf, DataAt(elf, 0)));
        if (!c.image.empty()) {
            EXPECT_EQ(vt::ReadFile(dir / c.image), image);
        } else {
            EXPECT_TRUE(vt::fs::exists(dir / deep / "release-firmware-image.hex"));
        }
        EXPECT_EQ(vt::ReadFile(dir / cut), (Bytes{9}));
    }
}

// A run that fails writes one plain line to standard error: the file concerned and the cause;
// a run that succeeds writes nothing there.
TEST(EndToEnd, OneDiagnosticLine) {
    const Bytes elf = vt::MinimalElf();
    const Bytes signedElf = WithSig(elf, DataAt(elf, 0));
    Bytes crp3 = vt::Vectors(16);
    crp3.resize(0x300, 0);
    vt::Put32(crp3, 0x2FC, 0x43218765);
    const std::string hex = ":10000000" + std::string(32, '0') + "00\r\n:00000001FF\r\n";
    const std::string dup = ":0400000001020304F2\r\n:0400100001020304E2\r\n"
                            ":020002000304F5\r\n:00000001FF\r\n";
    const std::string cut = "\r\n:10000000" + std::string(32, '0') + "F0\r\n:000000";
    const std::string count = "S1070104F4010000FE\nS5030002FA\nS9030043B9\n";
    const std::string after = "S1070104F4010000FE\nS9030043B9\nS1070104F4010000FE\n";
    const std::string keywords =
        "BINARY (BIN), HEX, SREC, BASEADDRESS (BA), FILL, CRP3, VERIFY, QUIET";
#ifdef _WIN32
    // The system's words, as FormatMessage gives them here.
    const auto words = [](DWORD code) {
        char text[256];
        DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                 nullptr, code, 0, text, sizeof text, nullptr);
        while (n > 0 && (text[n - 1] == '\r' || text[n - 1] == '\n' || text[n - 1] == '.')) --n;
        return std::string(text, n);
    };
    const std::string noFile = words(ERROR_FILE_NOT_FOUND);
    const std::string noDir = "cannot create: " + words(ERROR_PATH_NOT_FOUND);
#else
    const std::string noFile = "No such file or directory";
    const std::string noDir = "cannot create: its folder: No such file or directory";
#endif
    struct Case {
        std::vector<std::string> args;
        const char* name; // the input written before the run
        Bytes input;
        int code;
        std::string err; // without "vortle: " and the line end
    };
    const Case cases[] = {
        {{"app.elf"}, "app.elf", elf, 0, ""},
        {{}, "", {}, 3, "command line: no input file; vortle --help shows how to use the tool"},
        {{"notes.txt"},
         "notes.txt",
         {'h', 'e', 'l', 'l', 'o', '\n'},
         2,
         "notes.txt: cut short: the file ends at byte 6, and the ELF header (it is no ELF file: "
         "vortle takes ELF files, Intel HEX files (first character ':'), S-record files (first "
         "character 'S') and raw images named *.bin) reaches to byte 52"},
        {{"zeros.dat"},
         "zeros.dat",
         Bytes(100, 0),
         3,
         "zeros.dat: no ELF file (it does not start with 0x7F 'ELF'); vortle takes ELF files, "
         "Intel HEX files (first character ':'), S-record files (first character 'S') and raw "
         "images named *.bin"},
        {{"app.elf", "BIN", "VERIFI"},
         "app.elf",
         elf,
         3,
         "command line: 'VERIFI' is no keyword; did you mean VERIFY? The keywords are " + keywords},
        {{"app.elf", "BINRAY"},
         "app.elf",
         elf,
         3,
         "command line: 'BINRAY' is no keyword; did you mean BINARY? The keywords are " + keywords},
        {{"app.elf", "SPEED"},
         "app.elf",
         elf,
         3,
         "command line: 'SPEED' is no keyword; the keywords are " + keywords},
        {{"app.elf", "-o", "out.bin"},
         "app.elf",
         elf,
         3,
         "command line: '-o' is no option; vortle takes keywords: " + keywords},
        {{"app.elf", "BIN", "--verbose"},
         "app.elf",
         elf,
         3,
         "command line: '--verbose' is no option; vortle takes keywords: " + keywords},
        {{"app.elf", "blinky-be.elf"},
         "app.elf",
         elf,
         3,
         "command line: 'blinky-be.elf' is a second file name; vortle takes one input file a run"},
        {{"app.elf", "FILL(0x100)"},
         "app.elf",
         elf,
         3,
         "command line: 0X100 is out of range: a fill byte is 0 to 0xFF"},
        {{"app.o"},
         "app.o",
         Elf{.type = 1, .segs = {vt::Code(0, vt::Vectors(16))}}.Build(),
         3,
         "app.o: not a usable ELF file: it is a relocatable object (type 1); sign the linked "
         "executable"},
        {{"short.bin"},
         "short.bin",
         Bytes(20, 0),
         3,
         "short.bin: the raw image is 20 bytes long; signing it needs at least 32 (0x00000000 - "
         "0x0000001F)"},
        {{"app.hex"},
         "app.hex",
         Bytes(cut.begin(), cut.end()),
         3,
         "app.hex: invalid Intel HEX file: line 3: the file ends inside this record: it is cut "
         "short"},
        {{"notes.s19"},
         "notes.s19",
         {'h', 'i', '\n'},
         3,
         "notes.s19: invalid S-record file: line 1: it does not start with 'S'"},
        {{"app.s19"},
         "app.s19",
         Bytes(count.begin(), count.end()),
         3,
         "app.s19: invalid S-record file: line 2: an S5 record counts 2 data records and holds no "
         "data; 1 come before it"},
        {{"app.s19"},
         "app.s19",
         Bytes(after.begin(), after.end()),
         3,
         "app.s19: invalid S-record file: line 3: a record after the end record"},
        {{"app.s19"},
         "app.s19",
         Bytes(after.begin(), after.begin() + 19),
         3,
         "app.s19: invalid S-record file: line 2: no termination record (S7, S8 or S9) before "
         "the file ends"},
        {{"app.elf", "BA(0x12G)"},
         "app.elf",
         elf,
         3,
         "command line: '0X12G' is no number: write it in decimal, or in hexadecimal after 0x"},
        {{"app.elf", "BIN(x"},
         "app.elf",
         elf,
         3,
         "command line: ')' is missing after 'app.elf BIN(x'"},
        {{"none.elf"}, "app.elf", elf, 3, "none.elf: cannot open: " + noFile},
        {{"app.elf", "BA(0x2000)"},
         "app.elf",
         Elf{.segs = {vt::Code(0x1000, vt::Vectors(16))}}.Build(),
         3,
         "app.elf: no loadable bytes hold 0x00002000 - 0x0000201C; the firmware lies at "
         "0x00001000 - 0x0000103F: try BASEADDRESS(0x1000)"},
        {{"app.bin", "BA(0x100)"},
         "app.bin",
         vt::Vectors(16),
         3,
         "app.bin: 0x00000100 - 0x0000011C lies outside the raw image, which is loaded at "
         "0x00000000 - 0x0000003F: sign a raw image without BASEADDRESS"},
        {{"app.bin"},
         "app.bin",
         crp3,
         3,
         "app.bin: code read protection CRP3 at 0x000002FC would lock the part for good; give "
         "CRP3 to accept it"},
        {{"app.hex"},
         "app.hex",
         Bytes(hex.begin(), hex.end()),
         3,
         "app.hex: invalid Intel HEX file: line 1: checksum 00, expected F0"},
        {{"app.hex"},
         "app.hex",
         Bytes(dup.begin(), dup.end()),
         3,
         "app.hex: invalid Intel HEX file: line 3: address 0x00000002 was given before, on "
         "line 1"},
        {{"app.elf", "VERIFY"},
         "app.elf",
         elf,
         1,
         "app.elf: verification failed: Wrong Signature over Range[32] (0x00000000 - "
         "0x00000018): @0x0000001C = 0x10008707, expected " +
             [&] {
                 char h[16];
                 std::snprintf(h, sizeof h, "0x%08X", vt::SigOf(elf, DataAt(elf, 0)));
                 return std::string(h);
             }()},
        {{"app.elf", "BINARY", "VERIFY"},
         "app.elf",
         signedElf,
         1,
         "app.BIN: verification failed: the image is missing"},
        {{"app.elf", "BIN(o.img)", "HEX(./o.img)"},
         "app.elf",
         elf,
         3,
         "./o.img: cannot create: it names the binary image as well; nothing was changed"},
        {{"app.elf", "BIN(nodir/x.bin)"}, "app.elf", elf, 3, "nodir/x.bin: " + noDir},
        {{"app.elf"},
         "app.elf",
         Elf{.segs = {vt::Code(0, vt::Vectors(16))}, .phoffZero = true}.Build(),
         3,
         "app.elf: not a usable ELF file: it has no program header table (an object file or a "
         "stripped-down one); sign the linked executable"},
        // A missing input is the input's failure, also where an image name designates it.
        {{"FW.BIN", "BIN"}, "", {}, 3, "FW.BIN: cannot open: " + noFile},
        {{"app.elf", "BIN(app.elf)"}, "", {}, 3, "app.elf: cannot open: " + noFile},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.err.substr(0, 60));
        vt::TempDir dir;
        if (c.name[0] != '\0') vt::WriteFile(dir / c.name, c.input);
        const vt::RunResult r = vt::RunVortle(dir.path, c.args);
        EXPECT_EQ(r.code, c.code) << r.out;
        EXPECT_EQ(r.err, c.err.empty() ? "" : "vortle: " + c.err + "\n");
    }
}

TEST(EndToEnd, StaleImageIsDeletedWithoutBinary) {
    vt::TempDir dir;
    vt::WriteFile(dir / "app.elf", vt::MinimalElf());
    vt::WriteFile(dir / "app.BIN", {1, 2, 3});
    const vt::RunResult r = vt::RunVortle(dir.path, {"app.elf"});
    EXPECT_EQ(r.code, 0);
    EXPECT_FALSE(vt::fs::exists(dir / "app.BIN"));
}

#ifndef _WIN32
TEST(EndToEnd, SignedFileIsNotWritten) {
    vt::TempDir dir;
    const Bytes elf = vt::MinimalElf();
    vt::WriteFile(dir / "app.elf", WithSig(elf, DataAt(elf, 0)));
    struct stat before {};
    ASSERT_EQ(stat((dir / "app.elf").c_str(), &before), 0);
    usleep(20000);
    EXPECT_EQ(vt::RunVortle(dir.path, {"app.elf"}).code, 0);
    struct stat after {};
    ASSERT_EQ(stat((dir / "app.elf").c_str(), &after), 0);
    EXPECT_EQ(after.st_mtim.tv_sec, before.st_mtim.tv_sec);
    EXPECT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);
}
#endif

// A quiet run prints nothing when it succeeds; one that fails prints what the same run without
// QUIET prints, and the same line on standard error.
TEST(EndToEnd, QuietRuns) {
    const Bytes elf = vt::MinimalElf();
    const struct {
        std::vector<std::string> args; // the quiet word last
        int code;
    } cases[] = {
        {{"app.elf", "QUIET"}, 0},        {{"app.elf", "BIN", "--quiet"}, 0},
        {{"app.elf", "HEX", "-q"}, 0},    {{"app.elf", "VERIFY", "quiet"}, 1},
        {{"none.elf", "QUIET"}, 3},       {{"app.elf", "BA(0x40)", "-q"}, 3},
        {{"app.elf", "BINRAY", "-q"}, 3},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args.back() + " " + std::to_string(c.code));
        vt::TempDir quiet, loud;
        vt::WriteFile(quiet / "app.elf", elf);
        vt::WriteFile(loud / "app.elf", elf);
        const vt::RunResult q = vt::RunVortle(quiet.path, c.args);
        const vt::RunResult l =
            vt::RunVortle(loud.path, std::vector<std::string>(c.args.begin(), c.args.end() - 1));
        EXPECT_EQ(q.code, c.code);
        EXPECT_EQ(q.out, c.code == 0 ? "" : l.out);
        EXPECT_EQ(q.err, c.code == 0 ? "" : l.err);
        EXPECT_EQ(vt::ReadFile(quiet / "app.elf"), vt::ReadFile(loud / "app.elf"));
        EXPECT_EQ(vt::fs::exists(quiet / "app.BIN"), vt::fs::exists(loud / "app.BIN"));
    }
}

// ---- The sample firmware ----------------------------------------------------------------

struct Sample {
    const char* file;
    std::vector<std::string> opts;
    uint32_t base;
    uint32_t sig;
    bool big;
};

// Copies the sample firmware file into dir as fw.elf and runs the tool on it with opts.
vt::RunResult RunOnCopy(const vt::TempDir& dir, const vt::fs::path& sample,
                        const std::vector<std::string>& opts) {
    vt::fs::copy_file(sample, dir / "fw.elf");
    std::vector<std::string> args{"fw.elf"};
    args.insert(args.end(), opts.begin(), opts.end());
    return vt::RunVortle(dir.path, args);
}

// objcopy's binary image of dir/fw.elf; nothing where the arm binutils are not installed.
std::optional<Bytes> ObjcopyImage(const vt::TempDir& dir, const std::string& flags = "") {
    static const bool have = std::system("arm-none-eabi-objcopy --version >/dev/null 2>&1") == 0;
    if (!have) return std::nullopt;
    const std::string cmd = "cd '" + dir.path.string() + "' && arm-none-eabi-objcopy " + flags +
                            " -O binary fw.elf ref.bin";
    if (std::system(cmd.c_str()) != 0) return Bytes{};
    return vt::ReadFile(dir / "ref.bin");
}

// The PT_LOAD file bytes in program header order.
Bytes LoadBytes(const Bytes& elf, bool big) {
    Bytes out;
    const uint32_t phoff = vt::Get32(elf, vt::kPhoff, big);
    const uint32_t n = big ? (elf[vt::kPhnum] << 8 | elf[vt::kPhnum + 1])
                           : (elf[vt::kPhnum] | elf[vt::kPhnum + 1] << 8);
    for (uint32_t i = 0; i < n; ++i) {
        const size_t ph = phoff + 32 * i;
        if (vt::Get32(elf, ph, big) != 1) continue;
        const Bytes seg = Slice(elf, vt::Get32(elf, ph + 4, big), vt::Get32(elf, ph + 16, big));
        out.insert(out.end(), seg.begin(), seg.end());
    }
    return out;
}

TEST(EndToEnd, SampleFirmware) {
    const Sample samples[] = {
        {"blinky.elf", {"BINARY"}, 0, 0xEFFF7E78, false},
        {"blinky-app2000.elf", {"BINARY", "BASEADDRESS(0x2000)"}, 0x2000, 0xEFFEBE78, false},
        {"blinky-be.elf", {"BINARY"}, 0, 0x777FFFF0, true},
    };
    const vt::fs::path src = vt::fs::path(VORTLE_SOURCE_DIR) / "examples" / "lpc1768-blinky";
    for (const Sample& s : samples) {
        SCOPED_TRACE(s.file);
        vt::TempDir dir;
        const Bytes before = vt::ReadFile(src / s.file);
        vt::RunResult r = RunOnCopy(dir, src / s.file, s.opts);
        EXPECT_EQ(r.code, 0);
        EXPECT_EQ(r.out, vt::kBanner + Status(true, s.base, s.sig) + kDone);
        const Bytes after = vt::ReadFile(dir / "fw.elf");
        ASSERT_EQ(after.size(), before.size());
        const uint32_t at = vt::Get32(before, vt::Get32(before, vt::kPhoff, s.big) + 4, s.big);
        for (size_t i = 0; i < before.size(); ++i) {
            if (i < at + 0x1C || i >= at + 0x20) {
                ASSERT_EQ(after[i], before[i]) << i;
            }
        }
        const Bytes image = vt::ReadFile(dir / "fw.BIN");
        EXPECT_EQ(image, LoadBytes(after, s.big));
        uint32_t sum = 0;
        for (size_t i = 0; i < 8; ++i) sum += vt::Get32(image, 4 * i);
        EXPECT_EQ(sum, 0u);
        if (const auto ref = ObjcopyImage(dir)) {
            EXPECT_EQ(*ref, image);
        }
        // A second run finds the signature in place and changes nothing.
        std::vector<std::string> args{"fw.elf"};
        args.insert(args.end(), s.opts.begin(), s.opts.end());
        r = vt::RunVortle(dir.path, args);
        EXPECT_EQ(r.out, vt::kBanner + Status(false, s.base, s.sig) + kDone);
        EXPECT_EQ(vt::ReadFile(dir / "fw.elf"), after);
    }
}

// Layouts as GNU ld writes them (examples/layouts): ARM7 table, headers in the first segment,
// a segment without file bytes past the end, gaps between load addresses.
TEST(EndToEnd, LayoutSamples) {
    struct Layout {
        const char* file;
        std::vector<std::string> opts;
        std::string status; // empty: the range is not found at the base
        uint32_t table;     // file offset of the signed table
        size_t imageSize;   // 0: no image; else objcopy's image as well
    };
    const Layout samples[] = {
        {"lpc2148.elf", {"BINARY"}, ArmStatus(true, 0, 0xB9205F88), 0x100, 276},
        {"app1000.elf", {}, "", 0, 0},
        // The headers at the start of the first segment stay out of the image.
        {"app1000.elf", {"BINARY", "BA(0x1000)"}, Status(true, 0x1000, 0xEFFF1E78), 0x1000, 264},
        {"bss-past-end.elf",
         {"BINARY", "BA(0x2000)"},
         Status(true, 0x2000, 0xEFFEBE78),
         0x2000,
         176},
        {"data-gap.elf",
         {"BINARY", "BA(0x1A000000)"},
         Status(true, 0x1A000000, 0x53FF7E78),
         0x100,
         224},
        {"data-gap.elf",
         {"BINARY", "BA(0x1A000000)", "FILL(255)"},
         Status(true, 0x1A000000, 0x53FF7E78),
         0x100,
         224},
        {"far-regions.elf",
         {"BINARY", "BA(0x1A000000)"},
         Status(true, 0x1A000000, 0x53FF7E78),
         0x100,
         0x1000020},
    };
    const vt::fs::path src = vt::fs::path(VORTLE_SOURCE_DIR) / "examples" / "layouts";
    for (const Layout& s : samples) {
        SCOPED_TRACE(s.file);
        vt::TempDir dir;
        const Bytes before = vt::ReadFile(src / s.file);
        // Every image of a layout: the S-record image too, read back as the binary image.
        std::vector<std::string> opts = s.opts;
        if (s.imageSize != 0) opts.push_back("SREC");
        const vt::RunResult r = RunOnCopy(dir, src / s.file, opts);
        const Bytes after = vt::ReadFile(dir / "fw.elf");
        if (s.status.empty()) {
            EXPECT_EQ(r.code, 3);
            EXPECT_EQ(r.out, vt::kBanner + NotFound(0));
            EXPECT_EQ(after, before);
            continue;
        }
        EXPECT_EQ(r.code, 0);
        EXPECT_EQ(r.out, vt::kBanner + s.status + kDone);
        ASSERT_EQ(after.size(), before.size());
        uint32_t sum = 0;
        for (size_t i = 0; i < 8; ++i) sum += vt::Get32(after, s.table + 4 * i);
        EXPECT_EQ(sum, 0u);
        size_t changed = 0;
        for (size_t i = 0; i < before.size(); ++i) changed += after[i] != before[i] ? 1 : 0;
        EXPECT_LE(changed, 4u);
        if (s.imageSize == 0) continue;
        EXPECT_EQ(vt::fs::file_size(dir / "fw.BIN"), s.imageSize);
        const bool fill = s.opts.back() == "FILL(255)";
        if (const auto ref = ObjcopyImage(dir, fill ? "--gap-fill 0xff" : "")) {
            EXPECT_TRUE(*ref == vt::ReadFile(dir / "fw.BIN"));
            const std::string back = "cd '" + dir.path.string() + "' && arm-none-eabi-objcopy " +
                                     (fill ? "--gap-fill 0xff " : "") +
                                     "-I srec -O binary fw.SREC s.bin";
            ASSERT_EQ(std::system(back.c_str()), 0);
            EXPECT_TRUE(vt::ReadFile(dir / "s.bin") == vt::ReadFile(dir / "fw.BIN"));
        }
#ifndef _WIN32
        // The 16 MiB gap is a hole: it takes no disk.
        struct stat st {};
        ASSERT_EQ(stat((dir / "fw.BIN").c_str(), &st), 0);
        EXPECT_LT(static_cast<uint64_t>(st.st_blocks) * 512, 1u << 20);
#endif
    }
}

} // namespace

namespace {

// Files of 2 GiB or more lie outside the reader's 32-bit model: they are not opened.
TEST(EndToEnd, FilesOfTwoGiBAreRefused) {
    vt::TempDir dir;
    const Bytes elf = vt::MinimalElf();
    vt::WriteFile(dir / "big.elf", elf);
    std::error_code ec;
    vt::fs::resize_file(dir / "big.elf", 0x80000000ull, ec); // sparse: no disk space taken
    if (ec) GTEST_SKIP() << "cannot make a sparse file here";
    const vt::RunResult r = vt::RunVortle(dir.path, {"big.elf"});
    EXPECT_EQ(r.code, 3);
    EXPECT_EQ(r.out, vt::kBanner + CannotOpen("big.elf"));
    EXPECT_EQ(vt::fs::file_size(dir / "big.elf"), 0x80000000ull);
}

} // namespace

namespace {

// After a failing run the input is as it was (a signature written before the failure aside),
// and no image is left, stale or partial.
TEST(EndToEnd, FailingRunsLeaveNoDamage) {
    const Bytes elf =
        Elf{.segs = {vt::Code(0, vt::Vectors(16)),
                     {.paddr = 0x40, .vaddr = 0x10000000, .flags = 6, .data = Bytes(8, 7)}}}
            .Build();
    const Bytes signedElf = WithSig(elf, DataAt(elf, 0));
    Bytes truncated = elf;
    vt::Put32(truncated, 52 + 32 + 4, static_cast<uint32_t>(elf.size() - 2));
    struct Damage {
        const char* what;
        Bytes input;
        std::vector<std::string> opts;
        int code;
        Bytes after;
    };
    const Damage cases[] = {
        {"code 1", elf, {"BINARY", "BA"}, 3, elf},
        {"code 2", elf, {"BINARY", "FOO"}, 3, elf},
        {"code 5", elf, {"BIN(nodir/x.bin)"}, 3, signedElf},
        {"code 6",
         [&] {
             Bytes b = elf;
             vt::Put16(b, vt::kMachine, 3);
             return b;
         }(),
         {"BINARY"},
         3,
         [&] {
             Bytes b = elf;
             vt::Put16(b, vt::kMachine, 3);
             return b;
         }()},
        {"code 8", elf, {"BINARY", "BA(0xFF000001)"}, 3, elf},
        {"code 9", elf, {"BINARY", "BA(0x12G)"}, 3, elf},
        {"code 10", elf, {"BINARY", "BA(0x100)"}, 3, elf},
        // A failed run commits no image, whatever its name holds.
        {"code 10, an image name with VERIFY in it",
         elf,
         {"BIN(a", "Verify", "b.bin)", "BA(0x100)"},
         3,
         elf},
        {"abort", truncated, {"BINARY"}, 2, WithSig(truncated, DataAt(elf, 0))},
    };
    for (const Damage& c : cases) {
        SCOPED_TRACE(c.what);
        vt::TempDir dir;
        vt::WriteFile(dir / "app.elf", c.input);
        vt::WriteFile(dir / "app.BIN", {1, 2, 3});
        std::vector<std::string> args{"app.elf"};
        args.insert(args.end(), c.opts.begin(), c.opts.end());
        EXPECT_EQ(vt::RunVortle(dir.path, args).code, c.code);
        EXPECT_EQ(vt::ReadFile(dir / "app.elf"), c.after);
        // With its own image name, the default-named file is none of the run's business; a
        // refused command line touches no file at all.
        const bool refused = c.opts.back() != "BINARY" && c.code == 3 && c.after == elf &&
                             std::string(c.what) != "code 10";
        EXPECT_EQ(vt::fs::exists(dir / "app.BIN"), c.opts.front().starts_with("BIN(") || refused);
        EXPECT_FALSE(vt::fs::exists(dir / "nodir"));
        EXPECT_FALSE(vt::fs::exists(dir / "a Verify b.bin"));
    }
}

} // namespace

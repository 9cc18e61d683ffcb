#include <gtest/gtest.h>

#include <cstring>

#include "Alloc.h"
#include "CommandLine.h"
#include "Options.h"
#include "Plat.h"
#include "Support.h"
#include "Range.h"

namespace {

using vt::CmdReport;
using vt::CmdReportEcho;
using vt::Report;

struct Parsed {
    std::string in, bin, echo;
    bool binary = false;
    SignatureRange range{};
};

// Parses the arguments in-process, as the tool does after its banner.
Parsed Parse(std::vector<std::string> args) {
    FreeAll();
    args.insert(args.begin(), "vortle");
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    Request r;
    ParseCommandLine(static_cast<int>(args.size()), argv.data(), r);
    Parsed p;
    p.in = r.inputName;
    p.bin = r.binaryName;
    const std::string path = PlatProgramPath(nullptr);
    const std::string echo = r.echo;
    p.echo = echo.compare(0, path.size(), path) == 0 ? echo.substr(path.size()) : "?" + echo;
    p.binary = r.writeBinary;
    p.range = r.range;
    return p;
}

struct ParseCase {
    std::vector<std::string> args;
    std::string in, bin;
    bool binary;
    uint32_t base; // 0xFFFFFFFF: no range configured
    std::string echo;
};

constexpr uint32_t kNoBase = 0xFFFFFFFF;

void CheckParsed(const std::vector<ParseCase>& cases) {
    for (const ParseCase& c : cases) {
        SCOPED_TRACE(c.args.back());
        const Parsed p = Parse(c.args);
        EXPECT_EQ(p.in, c.in);
        EXPECT_EQ(p.bin, c.bin);
        EXPECT_EQ(p.binary, c.binary);
        EXPECT_EQ(p.echo, c.echo);
        if (c.base == kNoBase) {
            EXPECT_EQ(p.range.position, 0u);
        } else {
            EXPECT_EQ(p.range.start, c.base);
            EXPECT_EQ(p.range.position, c.base + 28);
        }
    }
    FreeAll();
}

// Keywords in any case, numbers in decimal or 0x hex, the delimiters between them.
TEST(Options, KeywordsAndNumbers) {
    CheckParsed({
        {{"app.elf", "BINARY"}, "app.elf", "app.BIN", true, kNoBase, " app.elf BINARY"},
        {{"app.elf", "binary", "ba(4096)"},
         "app.elf",
         "app.BIN",
         true,
         0x1000,
         " app.elf BINARY BA(4096) "},
        {{"app.elf", "BA(0x2000)", "Bin"},
         "app.elf",
         "app.BIN",
         true,
         0x2000,
         " app.elf BA(0X2000) BIN"},
        {{"app.elf", "BA (0x10 )"}, "app.elf", "app.BIN", false, 0x10, " app.elf BA(0X10) "},
        {{"app.elf", "BA(0xFF000000)"},
         "app.elf",
         "app.BIN",
         false,
         0xFF000000,
         " app.elf BA(0XFF000000) "},
        {{"app.elf", "BA(0xff000000)"},
         "app.elf",
         "app.BIN",
         false,
         0xFF000000,
         " app.elf BA(0XFF000000) "},
        {{"app.elf", "BA('0xab')"}, "app.elf", "app.BIN", false, 0xAB, " app.elf BA(0xab) "},
        {{"app.elf", "BA(000017)"}, "app.elf", "app.BIN", false, 17, " app.elf BA(000017) "},
        {{"app.elf", "BA(0)"}, "app.elf", "app.BIN", false, 0, " app.elf BA(0) "},
        {{"app.elf", "BA(4278190080)"},
         "app.elf",
         "app.BIN",
         false,
         0xFF000000,
         " app.elf BA(4278190080) "},
        {{"app.elf", ";", "BIN"}, "app.elf", "app.BIN", false, kNoBase, " app.elf"},
        {{"app.elf", ",", "BIN"}, "app.elf", "app.BIN", true, kNoBase, " app.elf,BIN"},
        {{"app.elf", "'BIN'"}, "app.elf", "app.BIN", true, kNoBase, " app.elf BIN"},
        {{"app.elf", "BIN\tBA(1)"}, "app.elf", "app.BIN", true, 1, " app.elf BIN\tBA(1) "},
    });
}

// An image name in parentheses: taken whole with its blanks, parentheses and quotes.
TEST(Options, ImageNamesInParentheses) {
    const std::string name1000(1000, 'n');
    CheckParsed({
        {{"a.elf", "BIN(out.bin)", "BA(0x2000)"},
         "a.elf",
         "out.bin",
         true,
         0x2000,
         " a.elf BIN(out.bin) BA(0X2000) "},
        {{"app.elf", "BIN( \"my out.bin\" )"},
         "app.elf",
         "my out.bin",
         true,
         kNoBase,
         " app.elf BIN(my out.bin) "},
        {{"app.elf", "BIN(a;b c )"}, "app.elf", "a;b c", true, kNoBase, " app.elf BIN(a;b c) "},
        {{"app.elf", "BIN(a(b)c.bin)"},
         "app.elf",
         "a(b)c.bin",
         true,
         kNoBase,
         " app.elf BIN(a(b)c.bin) "},
        {{"app.elf", "BIN(Out.Bin)"},
         "app.elf",
         "Out.Bin",
         true,
         kNoBase,
         " app.elf BIN(Out.Bin) "},
        {{"app.elf", "BIN(\"say \"\"hi\"\".bin\")"},
         "app.elf",
         "say \"hi\".bin",
         true,
         kNoBase,
         " app.elf BIN(say \"hi\".bin) "},
        // File names are taken whole up to 1000 characters, in every form.
        {{"app.elf", "BIN(" + name1000 + " )"},
         "app.elf",
         name1000,
         true,
         kNoBase,
         " app.elf BIN(" + name1000 + ") "},
        {{"app.elf", "BIN(\"" + name1000 + "\")"},
         "app.elf",
         name1000,
         true,
         kNoBase,
         " app.elf BIN(" + name1000 + ") "},
    });
}

// The input name as the shell delivered it is one name, whatever it holds; the image names
// derive from it.
TEST(Options, InputNameAsTheShellGaveIt) {
    const std::string name1000(1000, 'n');
    CheckParsed({
        {{"app.elf"}, "app.elf", "app.BIN", false, kNoBase, " app.elf"},
        {{name1000}, name1000, name1000 + ".BIN", false, kNoBase, " " + name1000},
        // The input name as the shell delivered it is one name, whatever it holds.
        {{"a;b"}, "a;b", "a;b.BIN", false, kNoBase, " a;b"},
        {{"my app.elf"}, "my app.elf", "my app.BIN", false, kNoBase, " my app.elf"},
        {{"a(1).elf"}, "a(1).elf", "a(1).BIN", false, kNoBase, " a(1).elf"},
        {{"x'y\"z.elf", "BIN"}, "x'y\"z.elf", "x'y\"z.BIN", true, kNoBase, " x'y\"z.elf BIN"},
        {{"C:\\Users\\John Smith\\fw.elf"},
         "C:\\Users\\John Smith\\fw.elf",
         "C:\\Users\\John Smith\\fw.BIN",
         false,
         kNoBase,
         " C:\\Users\\John Smith\\fw.elf"},
        {{"app.elf,BIN"}, "app.elf,BIN", "app.BIN", false, kNoBase, " app.elf,BIN"},
        {{"\"my file.elf\""}, "my file.elf", "my file.BIN", false, kNoBase, " my file.elf"},
        {{"'it''s.elf'"}, "it's.elf", "it's.BIN", false, kNoBase, " it's.elf"},
        {{"App.Elf"}, "App.Elf", "App.BIN", false, kNoBase, " App.Elf"},
        {{"dir.x/name"}, "dir.x/name", "dir.x/name.BIN", false, kNoBase, " dir.x/name"},
        {{"C:\\fw\\app.elf"},
         "C:\\fw\\app.elf",
         "C:\\fw\\app.BIN",
         false,
         kNoBase,
         " C:\\fw\\app.elf"},
        // A carriage return read by the scanner ends the line.
        {{"app.elf\r", "BIN"}, "app.elf", "app.BIN", false, kNoBase, " app.elf"},
        // Unquoted text in file-name mode keeps tabs, "=" and "+".
        {{"a+b=c.elf"}, "a+b=c.elf", "a+b=c.BIN", false, kNoBase, " a+b=c.elf"},
    });
}

TEST(Options, DerivedImageNames) {
    const std::pair<const char*, const char*> cases[] = {
        {"a.elf", "a.BIN"},
        {"a.b.c", "a.b.BIN"},
        {"name", "name.BIN"},
        {".elf", ".elf.BIN"},
        {"dir.x\\name", "dir.x\\name.BIN"},
        {"dir.x/name", "dir.x/name.BIN"},
        {"a.", "a.BIN"},
        {"x", "x.BIN"},
        {"./app", "./app.BIN"},
        {"../fw/app.axf", "../fw/app.BIN"},
    };
    for (const auto& [in, out] : cases) {
        char name[64];
        std::strcpy(name, in);
        ReplaceExtension(name, "BIN");
        EXPECT_STREQ(name, out) << in;
    }
    char name[64] = "app.elf";
    ReplaceExtension(name, "");
    EXPECT_STREQ(name, "app");
    std::strcpy(name, "app.elf");
    ReplaceExtension(name, "SRECX B");
    EXPECT_STREQ(name, "app.SREC");
}

struct ErrorCase {
    std::vector<std::string> args;
    std::string expected; // the output after the banner
};

// Each rejected command line ends with its exact report and exit code 3.
TEST(CommandLineErrors, Reports) {
    const std::string name1001(1001, 'n');
    const std::string key130(130, 'k');
    const auto invalid = [](const std::string& tok) {
        return Report("parsing command line", "invalid argument '" + tok + "'");
    };
    const auto range = [](const std::string& tok) {
        return Report("parsing command line", "number out of range '" + tok + "'");
    };
    const auto badnum = [](const std::string& tok) {
        return Report("parsing command line", "invalid number '" + tok + "'");
    };
    const ErrorCase cases[] = {
        {{}, CmdReport("", "argument expected")},
        {{"", ","}, CmdReport(",", "argument expected")},
        {{"", ";"}, CmdReport("", "argument expected")},
        {{"app.elf", "FOO"}, invalid("FOO")},
        {{"app.elf", "BIN", "HEX", "VERIFI"}, invalid("VERIFI")},
        {{"app.elf", "'bin'"}, invalid("bin")},
        {{"app.elf", "BINA"}, invalid("BINA")},
        {{"app.elf", "bina"}, invalid("BINA")},
        {{"\"my\" file.elf"}, invalid("FILE.ELF")},
        {{"'ab'cd"}, invalid("CD")},
        {{"app.elf", key130}, invalid(std::string(127, 'K'))},
        {{name1001}, CmdReportEcho(vt::VortlePath() + " ", "file name too long")},
        {{"app.elf", "BIN(" + name1001 + ")"}, CmdReport(" app.elf BIN(", "file name too long")},
        {{"app.elf", "HEX(\"" + name1001 + "\")"},
         CmdReport(" app.elf HEX(", "file name too long")},
        {{"app.elf", "BIN()"}, CmdReport(" app.elf BIN(", "argument expected")},
        {{"app.elf", "BIN(abc"}, CmdReport(" app.elf BIN(abc", ") expected")},
        {{"app.elf", "BIN", "BINARY"}, CmdReport(" app.elf BIN BINARY", "redefinition")},
        {{"app.elf", "BINARY", "BIN(x)"}, CmdReport(" app.elf BINARY BIN(", "redefinition")},
        {{"app.elf", "BA(1)", "BASEADDRESS(2)"},
         CmdReport(" app.elf BA(1) BASEADDRESS(", "redefinition")},
        {{"app.elf", "BA", "BIN"}, CmdReport(" app.elf BA ", "( expected")},
        {{"app.elf", "BA"}, CmdReport(" app.elf BA", "( expected")},
        {{"app.elf", "BA(0x2000"}, CmdReport(" app.elf BA(0X2000", ") expected")},
        {{"app.elf", "BA(0x2000 1)"}, CmdReport(" app.elf BA(0X2000 ", ") expected")},
        {{"app.elf", "BA(-1)"}, CmdReport(" app.elf BA(", "argument expected")},
        {{"app.elf", "BA()"}, CmdReport(" app.elf BA(", "argument expected")},
        {{"app.elf", "BA("}, CmdReport(" app.elf BA(", ") expected")},
        {{"app.elf", ",,", "BIN"}, CmdReport(" app.elf,", "argument expected")},
        {{"app.elf", "BA(0xFF000001)"}, range("0XFF000001")},
        {{"app.elf", "BA(4278190081)"}, range("4278190081")},
        {{"app.elf", "BA(0x100000000)"}, range("0X100000000")},
        {{"app.elf", "BA(4294967296)"}, range("4294967296")},
        {{"app.elf", "BA(0x0000000100000000)"}, range("0X0000000100000000")},
        {{"app.elf", "BA(99999999999Z)"}, badnum("99999999999Z")},
        {{"app.elf", "BA(12a)"}, badnum("12A")},
        {{"app.elf", "BA(0x)"}, badnum("0X")},
        {{"app.elf", "BA(0xG1)"}, badnum("0XG1")},
        {{"app.elf", "BA(1.5)"}, badnum("1.5")},
    };
    // A refused command line touches no file, not even the images it names.
    vt::TempDir dir;
    for (const ErrorCase& c : cases) {
        SCOPED_TRACE(c.args.empty() ? std::string("(none)") : c.args.back().substr(0, 40));
        vt::WriteFile(dir / "app.BIN", {1, 2, 3});
        vt::WriteFile(dir / "app.HEX", {4, 5});
        const vt::RunResult r = vt::RunVortle(dir.path, c.args);
        EXPECT_EQ(r.code, 3);
        EXPECT_EQ(r.out, vt::kBanner + c.expected);
        EXPECT_TRUE(r.err.starts_with("vortle: ") && r.err.find('\n') + 1 == r.err.size()) << r.err;
        EXPECT_EQ(vt::ReadFile(dir / "app.BIN"), (vt::Bytes{1, 2, 3}));
        EXPECT_EQ(vt::ReadFile(dir / "app.HEX"), (vt::Bytes{4, 5}));
    }
}

// The joined command line fills the buffer at most: the program path in quotes, each argument
// and a blank, the line feed and the NUL.
TEST(CommandLine, SizeLimit) {
    vt::TempDir dir;
    const size_t fits = static_cast<size_t>(kCommandLineCap) - vt::VortlePath().size() - 6;
    vt::RunResult r = vt::RunVortle(dir.path, {std::string(fits + 1, 'a')});
    EXPECT_EQ(r.code, 3);
    EXPECT_EQ(r.out, vt::kBanner + vt::CmdReportEcho("", "max. command line size exceeded"));
    // One character less fits, and is too long for a file name.
    r = vt::RunVortle(dir.path, {std::string(fits, 'a')});
    EXPECT_EQ(r.code, 3);
    EXPECT_EQ(r.out, vt::kBanner + vt::CmdReportEcho(vt::VortlePath() + " ", "file name too long"));
}

// Where the tool is installed never changes how the arguments are read.
TEST(CommandLine, InstallationPathIsTakenWhole) {
    vt::TempDir dir;
#ifdef _WIN32
    // Windows names hold no double quote, and paths stay below MAX_PATH.
    const vt::fs::path folder = dir.path / "with (parens) blanks; and = signs";
#else
    const std::string long1(120, 'd');
    const vt::fs::path folder = dir.path / long1 / "with \"quote\" (and) blanks;" / long1;
#endif
    vt::fs::create_directories(folder);
    const vt::fs::path exe = folder / (std::string("vortle") + vt::kExeSuffix);
    vt::fs::copy_file(vt::VortlePath(), exe);
#ifndef _WIN32
    ASSERT_GT(exe.string().size(), 256u);
#endif
    vt::WriteFile(dir / "app.elf", vt::Elf{.segs = {{.data = vt::Vectors(16)}}}.Build());
    vt::RunResult r = vt::RunVortle(dir.path, {"app.elf", "BINARY"}, exe.string());
    EXPECT_EQ(r.code, 0) << r.out;
    EXPECT_TRUE(vt::fs::exists(dir / "app.BIN"));
    r = vt::RunVortle(dir.path, {"app.elf", "BINARY", "FOO"}, exe.string());
    EXPECT_EQ(r.out, vt::kBanner + Report("parsing command line", "invalid argument 'FOO'"));
    r = vt::RunVortle(dir.path, {"app.elf", "BINARY", "BA"}, exe.string());
    EXPECT_EQ(r.out,
              vt::kBanner + vt::CmdReportEcho(exe.string() + " app.elf BINARY BA", "( expected"));
}

// The echo has a buffer of its own: closing parentheses without blanks behind them never
// overwrite text that is still to be scanned.
TEST(CommandLine, EchoNeverOverrunsTheScan) {
    const Parsed p = Parse({"'app.elf')BIN(x)BA(1)"});
    EXPECT_EQ(p.in, "app.elf");
    EXPECT_EQ(p.bin, "x");
    EXPECT_TRUE(p.binary);
    EXPECT_EQ(p.range.start, 1u);
    EXPECT_EQ(p.echo, " app.elf) BIN(x) BA(1) ");
    FreeAll();
}

} // namespace

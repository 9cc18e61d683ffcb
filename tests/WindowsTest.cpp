// Behaviour that only Windows shows: drive letters, case-insensitive names, share modes.
#include <gtest/gtest.h>

#include <windows.h>

#include "Support.h"

namespace {

using vt::Bytes;

const Bytes& Firmware() {
    static const Bytes elf = vt::Elf{.segs = {{.data = vt::Vectors(16)}}}.Build();
    return elf;
}

std::string CannotCreate(const std::string& n) {
    return vt::Report("accessing file", "cannot create file '" + n + "'");
}

TEST(Windows, DriveLetterPaths) {
    vt::TempDir dir;
    const std::string in = dir.path.string() + "\\app.elf";
    ASSERT_EQ(in[1], ':');
    vt::WriteFile(in, Firmware());
    const vt::RunResult r = vt::RunVortle(dir.path, {in, "BINARY"});
    EXPECT_EQ(r.code, 0) << r.out;
    EXPECT_TRUE(vt::fs::exists(dir.path.string() + "\\app.BIN"));
}

TEST(Windows, ProgramPathIsTheWindowsPath) {
    vt::TempDir dir;
    const vt::RunResult r = vt::RunVortle(dir.path, {});
    const std::string path = vt::VortlePath();
    EXPECT_EQ(path[1], ':');
    EXPECT_NE(path.find('\\'), std::string::npos);
    EXPECT_EQ(r.out, vt::kBanner + vt::CmdReport("", "argument expected"));
}

TEST(Windows, NamesDifferingInCaseAreOneFile) {
    vt::TempDir dir;
    struct Case {
        const char* input;
        std::vector<std::string> opts;
        int code;
        std::string out;
    };
    const Case cases[] = {
        {"app.bin", {"BINARY"}, 3, CannotCreate("app.BIN")},
        {"app.elf", {"BIN(APP.ELF)"}, 3, CannotCreate("APP.ELF")},
        {"app.bin", {}, 0, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.input);
        vt::fs::remove(dir / c.input);
        vt::WriteFile(dir / c.input, Firmware());
        std::vector<std::string> args{c.input};
        args.insert(args.end(), c.opts.begin(), c.opts.end());
        const vt::RunResult r = vt::RunVortle(dir.path, args);
        EXPECT_EQ(r.code, c.code);
        if (c.code != 0) {
            EXPECT_EQ(r.out, vt::kBanner + c.out);
            EXPECT_EQ(vt::ReadFile(dir / c.input), Firmware());
        } else {
            EXPECT_TRUE(vt::fs::exists(dir / c.input)) << "the input is never deleted";
        }
    }
}

TEST(Windows, FileHeldOpenForWritingCannotBeOpened) {
    vt::TempDir dir;
    const std::string in = (dir / "app.elf").string();
    vt::WriteFile(in, Firmware());
    const HANDLE h = CreateFileA(in.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                 nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    const vt::RunResult r = vt::RunVortle(dir.path, {"app.elf"});
    CloseHandle(h);
    EXPECT_EQ(r.code, 3);
    EXPECT_EQ(r.out, vt::kBanner + vt::Report("accessing file", "cannot open file 'app.elf'"));
    EXPECT_EQ(vt::ReadFile(in), Firmware());
}

} // namespace

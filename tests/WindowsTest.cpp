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
        {"app.elf", {"BIN(out.img)", "HEX(.\\OUT.IMG)"}, 3, CannotCreate(".\\OUT.IMG")},
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

// The image a run derives from the input's name replaces only a file stored under exactly that
// name: beside zephyr.hex, the flow's zephyr.bin is no stale zephyr.BIN. Asked for with BINARY,
// the image replaces what its name designates.
TEST(Windows, StaleImageOnlyByItsExactName) {
    vt::TempDir dir;
    const vt::fs::path hex =
        vt::fs::path(VORTLE_SOURCE_DIR) / "examples" / "lpc1768-blinky" / "blinky.hex";
    for (const char* stored : {"zephyr.bin", "zephyr.BIN"}) {
        SCOPED_TRACE(stored);
        vt::fs::copy_file(hex, dir / "zephyr.hex", vt::fs::copy_options::overwrite_existing);
        vt::WriteFile(dir / stored, {1, 2, 3});
        EXPECT_EQ(vt::RunVortle(dir.path, {"zephyr.hex"}).code, 0);
        const bool exact = std::string(stored) == "zephyr.BIN";
        EXPECT_EQ(vt::fs::exists(dir / stored), !exact);
        EXPECT_EQ(vt::RunVortle(dir.path, {"zephyr.hex", "BINARY"}).code, 0);
        EXPECT_NE(vt::ReadFile(dir / stored), (vt::Bytes{1, 2, 3}));
        vt::fs::remove(dir / stored);
    }
}

size_t Temporaries(const vt::fs::path& dir) {
    size_t n = 0;
    WIN32_FIND_DATAA found{};
    const HANDLE h = FindFirstFileA((dir / "vtl*.tmp").string().c_str(), &found);
    if (h == INVALID_HANDLE_VALUE) return 0;
    do {
        ++n;
    } while (FindNextFileA(h, &found));
    FindClose(h);
    return n;
}

// A process ended while it writes its images (killed: no handler of its own runs) leaves no
// temporary file and no image: the temporary files are deleted when their handles close.
TEST(Windows, KilledWhileWritingLeavesNothing) {
    vt::TempDir dir;
    vt::WriteFile(dir / "app.elf",
                  vt::Elf{.segs = {vt::Code(0, vt::Vectors(0x800000))}}.Build()); // 32 MiB
    std::string cmd(1, '"');
    cmd += vt::VortlePath();
    cmd += "\" app.elf BINARY HEX";
    STARTUPINFOA si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    const std::string cwd = dir.path.string();
    ASSERT_TRUE(CreateProcessA(vt::VortlePath().c_str(), cmd.data(), nullptr, nullptr, FALSE,
                               CREATE_NO_WINDOW, nullptr, cwd.c_str(), &si, &pi));
    bool writing = false;
    for (int i = 0; i < 20000 && !writing; ++i) {
        writing = Temporaries(dir.path) == 2;
        if (!writing) Sleep(1);
    }
    // The act lands while both temporary files exist.
    if (writing) TerminateProcess(pi.hProcess, 99);
    WaitForSingleObject(pi.hProcess, INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
    ASSERT_TRUE(writing);
    EXPECT_EQ(code, 99u);
    EXPECT_EQ(Temporaries(dir.path), 0u);
    EXPECT_FALSE(vt::fs::exists(dir / "app.BIN"));
    EXPECT_FALSE(vt::fs::exists(dir / "app.HEX"));
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

// Behaviour that only Windows shows: drive letters, case-insensitive names, share modes.
#include <gtest/gtest.h>

#include <windows.h>

#include <optional>

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

// The long-name form of a name below dir (components separated by '/').
std::wstring LongName(const vt::TempDir& dir, const std::string& name) {
    std::wstring w = L"\\\\?\\" + vt::fs::absolute(dir.path).wstring() + L"\\" + vt::Wide(name);
    for (wchar_t& c : w) c = c == L'/' ? L'\\' : c;
    return w;
}

bool WriteLong(const std::wstring& name, const Bytes& b) {
    const HANDLE h = CreateFileW(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                 FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD n = 0;
    const bool ok = h != INVALID_HANDLE_VALUE &&
                    WriteFile(h, b.data(), static_cast<DWORD>(b.size()), &n, nullptr) &&
                    n == b.size();
    if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
    return ok;
}

// The file's bytes; nullopt when it cannot be opened.
std::optional<Bytes> ReadLong(const std::wstring& name) {
    const HANDLE h = CreateFileW(name.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                 OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return std::nullopt;
    Bytes b;
    unsigned char buf[4096];
    DWORD n = 0;
    while (::ReadFile(h, buf, sizeof buf, &n, nullptr) && n > 0) b.insert(b.end(), buf, buf + n);
    CloseHandle(h);
    return b;
}

// Names in any script and of any length up to 1000 characters, in the input and in every
// image: they reach the system whole, and the lines print them as UTF-8.
TEST(Windows, NamesInAnyScriptAndLength) {
    vt::TempDir dir;
    // The same firmware under a plain name: what signing it gives.
    vt::WriteFile(dir / "ref.elf", Firmware());
    ASSERT_EQ(vt::RunVortle(dir.path, {"ref.elf", "BIN(ref.bin)", "HEX(ref.hex)"}).code, 0);
    const Bytes signedElf = vt::ReadFile(dir / "ref.elf");
    const Bytes bin = vt::ReadFile(dir / "ref.bin");
    const Bytes hex = vt::ReadFile(dir / "ref.hex");
    std::string deep; // four folders of 200 characters
    for (const char c : {'a', 'b', 'c', 'd'}) deep += std::string(200, c) + "/";
    const std::string stem = deep + std::string(192, 'e'); // 996 characters, 1000 with ".elf"
    struct Case {
        std::vector<std::string> folders;
        std::vector<std::string> args; // the input first
        std::string bin;               // the images' names, as the files are found
        std::string hex;
    };
    const Case cases[] = {
        {{"Müller"},
         {"Müller/固件 ü.elf", "BIN(Müller/映像.bin)", "HEX(Müller\\Prüfung.hex)"},
         "Müller/映像.bin",
         "Müller/Prüfung.hex"},
        {{deep.substr(0, 200), deep.substr(0, 401), deep.substr(0, 602), deep.substr(0, 803)},
         {stem + ".elf", "BINARY", "HEX"},
         stem + ".BIN",
         stem + ".HEX"},
        {{},
         {"имя.elf", "BIN(" + deep + std::string(192, 'x') + ".bin)"},
         deep + std::string(192, 'x') + ".bin",
         ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.bin.substr(0, 40));
        for (const std::string& f : c.folders) {
            ASSERT_TRUE(CreateDirectoryW(LongName(dir, f).c_str(), nullptr)) << GetLastError();
        }
        ASSERT_TRUE(WriteLong(LongName(dir, c.args[0]), Firmware()));
        const vt::RunResult r = vt::RunVortle(dir.path, c.args);
        EXPECT_EQ(r.code, 0) << r.out << r.err;
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(ReadLong(LongName(dir, c.args[0])), signedElf);
        EXPECT_EQ(ReadLong(LongName(dir, c.bin)), bin);
        if (!c.hex.empty()) {
            EXPECT_EQ(ReadLong(LongName(dir, c.hex)), hex);
        }
    }
    // A name that is not there prints as it was given.
    const vt::RunResult r = vt::RunVortle(dir.path, {"Müller/nö.elf"});
    EXPECT_EQ(r.code, 3);
    EXPECT_EQ(r.out,
              vt::kBanner + vt::Report("accessing file", "cannot open file 'Müller/nö.elf'"));
    EXPECT_TRUE(r.err.starts_with("vortle: Müller/nö.elf: cannot open: ")) << r.err;
}

// Started without standard handles (a service, a scheduler), the tool signs and fails as ever,
// and never writes a line into a file it opened.
TEST(Windows, MissingStandardHandles) {
    struct Case {
        std::vector<std::string> args;
        DWORD code;
    };
    const Case cases[] = {{{"BINARY"}, 0}, {{"BINARY", "BA(0x100)"}, 3}};
    for (const Case& c : cases) {
        vt::TempDir dir;
        vt::WriteFile(dir / "app.elf", Firmware());
        std::wstring cmd = L"\"" + vt::Wide(vt::VortlePath()) + L"\" app.elf";
        for (const std::string& a : c.args) cmd += L" " + vt::Wide(a);
        STARTUPINFOW si{};
        si.cb = sizeof si;
        si.dwFlags = STARTF_USESTDHANDLES;
        si.hStdInput = si.hStdOutput = si.hStdError = INVALID_HANDLE_VALUE;
        PROCESS_INFORMATION pi{};
        ASSERT_TRUE(CreateProcessW(vt::Wide(vt::VortlePath()).c_str(), cmd.data(), nullptr, nullptr,
                                   FALSE, CREATE_NO_WINDOW, nullptr, dir.path.wstring().c_str(),
                                   &si, &pi));
        WaitForSingleObject(pi.hProcess, INFINITE);
        DWORD code = 99;
        GetExitCodeProcess(pi.hProcess, &code);
        CloseHandle(pi.hProcess);
        CloseHandle(pi.hThread);
        EXPECT_EQ(code, c.code);
        const Bytes after = vt::ReadFile(dir / "app.elf");
        EXPECT_EQ(after != Firmware(), c.code == 0) << "signed exactly when the run succeeds";
        EXPECT_EQ(after.size(), Firmware().size());
        EXPECT_EQ(vt::fs::exists(dir / "app.BIN"), c.code == 0);
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

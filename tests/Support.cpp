#include "Support.h"

#include <cstdio>
#include <initializer_list>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>
#ifdef _WIN32
#include <windows.h>
#else
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace vt {

const std::string kBanner =
    "V1.4\nVORTLE - Signature Creator V1.4\n(C) Copyright 2026 The Vortle Authors\n\n";

const std::string kDone = "*** Processing completed, no Errors.\n";

std::string Status(bool updated, uint32_t start, uint32_t sig, bool arm) {
    char line[160];
    std::snprintf(line, sizeof line,
                  "*** %sSignature over Range[32] (0x%08X - 0x%08X): @0x%08X = 0x%08X\n",
                  updated ? "Updated " : "", start, start + (arm ? 0x1C : 0x18),
                  start + (arm ? 0x14 : 0x1C), sig);
    return line;
}

void WriteText(const fs::path& p, const std::string& text) {
    WriteFile(p, Bytes(text.begin(), text.end()));
}

std::string ReadText(const fs::path& p) {
    const Bytes b = ReadFile(p);
    return std::string(b.begin(), b.end());
}

bool Succeeds(const std::string& command) {
#ifdef _WIN32
    (void)command;
    return false;
#else
    return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
#endif
}

uint32_t Get32(const Bytes& b, size_t off, bool big) {
    uint32_t v = 0;
    for (int i = 0; i < 4; ++i) {
        const uint32_t byte = b.at(off + static_cast<size_t>(i));
        v |= big ? byte << (8 * (3 - i)) : byte << (8 * i);
    }
    return v;
}

void Put32(Bytes& b, size_t off, uint32_t v, bool big) {
    for (int i = 0; i < 4; ++i) {
        b.at(off + static_cast<size_t>(i)) =
            static_cast<uint8_t>(big ? v >> (8 * (3 - i)) : v >> (8 * i));
    }
}

void Put16(Bytes& b, size_t off, uint16_t v, bool big) {
    b.at(off) = static_cast<uint8_t>(big ? v >> 8 : v);
    b.at(off + 1) = static_cast<uint8_t>(big ? v : v >> 8);
}

Bytes Vectors(size_t words, uint32_t base) {
    Bytes b(words * 4);
    for (size_t i = 0; i < words; ++i) Put32(b, i * 4, base + 0x101u * static_cast<uint32_t>(i));
    return b;
}

uint32_t SigOf(const Bytes& b, size_t at) {
    uint32_t sum = 0;
    for (size_t i = 0; i < 7; ++i) sum += Get32(b, at + i * 4);
    return 0u - sum;
}

Segment Code(uint32_t paddr, Bytes data) {
    return Segment{.paddr = paddr, .vaddr = paddr, .flags = 5, .data = std::move(data)};
}

Segment ZeroFilled() {
    return Segment{.paddr = 0x10000000,
                   .vaddr = 0x10000000,
                   .flags = 6,
                   .data = {},
                   .memExtra = 64,
                   .offset = 0,
                   .filesz = 40};
}

Bytes Elf::Build() const {
    const uint32_t n = static_cast<uint32_t>(segs.size());
    uint32_t off = 52 + 32 * n;
    std::vector<uint32_t> offs;
    for (const Segment& s : segs) {
        off = (off + 3) & ~3u;
        offs.push_back(off);
        off += static_cast<uint32_t>(s.data.size());
    }
    const std::string strtab = std::string("\0", 1) + strName + std::string("\0", 1);
    const uint32_t strOff = off;
    off += static_cast<uint32_t>(strtab.size());
    const uint32_t shoff = (off + 3) & ~3u;
    const uint32_t shnum = 2 + static_cast<uint32_t>(secs.size());
    Bytes b(shoff + shnum * 40);
    b[0] = 0x7F;
    b[1] = 'E';
    b[2] = 'L';
    b[3] = 'F';
    b[4] = 1;
    b[kEiData] = big ? 2 : 1;
    b[6] = 1;
    Put16(b, kType, type, big);
    Put16(b, kMachine, machine, big);
    Put32(b, 20, 1, big);
    Put32(b, kPhoff, phoffZero ? 0 : 52, big);
    Put32(b, kShoff, shoff, big);
    Put16(b, 40, 52, big);
    Put16(b, 42, 32, big);
    Put16(b, kPhnum, static_cast<uint16_t>(n), big);
    Put16(b, 46, 40, big);
    Put16(b, kShnum, static_cast<uint16_t>(shnum), big);
    Put16(b, kShstrndx, 1, big);
    for (uint32_t i = 0; i < n; ++i) {
        const Segment& s = segs[i];
        const size_t ph = 52 + 32 * i;
        const uint32_t filesz =
            s.filesz >= 0 ? static_cast<uint32_t>(s.filesz) : static_cast<uint32_t>(s.data.size());
        Put32(b, ph + 0, s.type, big);
        Put32(b, ph + 4, s.offset >= 0 ? static_cast<uint32_t>(s.offset) : offs[i], big);
        Put32(b, ph + 8, s.vaddr, big);
        Put32(b, ph + 12, s.paddr, big);
        Put32(b, ph + 16, filesz, big);
        Put32(b, ph + 20, filesz + s.memExtra, big);
        Put32(b, ph + 24, s.flags, big);
        Put32(b, ph + 28, 4, big);
        std::copy(s.data.begin(), s.data.end(), b.begin() + offs[i]);
    }
    std::copy(strtab.begin(), strtab.end(), b.begin() + strOff);
    const size_t sh = shoff + 40; // entry 0 stays the null section
    Put32(b, sh + 0, 1, big);
    Put32(b, sh + 4, strType, big);
    Put32(b, sh + 16, strOff, big);
    Put32(b, sh + 20, static_cast<uint32_t>(strtab.size()), big);
    Put32(b, sh + 32, 1, big);
    for (size_t i = 0; i < secs.size(); ++i) {
        const Section& c = secs[i];
        const size_t e = shoff + 80 + 40 * i;
        Put32(b, e + 4, c.type, big);
        Put32(b, e + 8, c.flags, big);
        Put32(b, e + 12, segs.at(c.seg).paddr + c.delta, big);
        const int64_t at = segs.at(c.seg).offset;
        Put32(b, e + 16, (at >= 0 ? static_cast<uint32_t>(at) : offs[c.seg]) + c.delta, big);
        Put32(b, e + 20, c.size, big);
    }
    return b;
}

TempDir::TempDir() {
    static std::mt19937_64 rng{std::random_device{}()};
    for (;;) {
        path = fs::temp_directory_path() / ("vortle-test-" + std::to_string(rng()));
        if (fs::create_directory(path)) break;
    }
}

TempDir::~TempDir() {
    std::error_code ec;
    fs::permissions(path, fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(path, ec);
}

std::string Lf(const std::string& text) {
#ifdef _WIN32
    std::string lf;
    for (size_t i = 0; i < text.size(); ++i) {
        if (!(text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')) lf += text[i];
    }
    return lf;
#else
    return text;
#endif
}

fs::path DeathDir(const std::string& name) {
    const fs::path p = fs::temp_directory_path() / ("vortle-death-" + name);
    fs::create_directories(p);
    return p;
}

void WriteFile(const fs::path& p, const Bytes& b) {
    std::ofstream f(p, std::ios::binary | std::ios::trunc);
    f.write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
}

Bytes ReadFile(const fs::path& p) {
    std::ifstream f(p, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

std::string VortlePath() {
    return fs::canonical(VORTLE_EXE).string();
}

#ifdef _WIN32
namespace {

// One argument quoted so that the runtime's command-line split gives it back unchanged.
std::string Quote(const std::string& a) {
    if (!a.empty() && a.find_first_of(" \t\n\v\"") == std::string::npos) return a;
    std::string q = "\"";
    for (size_t i = 0;; ++i) {
        size_t slashes = 0;
        while (i < a.size() && a[i] == '\\') {
            ++i;
            ++slashes;
        }
        if (i == a.size()) {
            q.append(slashes * 2, '\\');
            break;
        }
        if (a[i] == '"') {
            q.append(slashes * 2 + 1, '\\');
        } else {
            q.append(slashes, '\\');
        }
        q += a[i];
    }
    return q + "\"";
}

} // namespace

// UTF-8 text as Windows' wide-character calls take it.
std::wstring Wide(const std::string& utf8) {
    const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, nullptr, 0);
    std::wstring w(static_cast<size_t>(n > 0 ? n : 1), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, w.data(), n);
    w.resize(w.size() - 1);
    return w;
}

RunResult RunVortle(const fs::path& dir, const std::vector<std::string>& args,
                    const std::string& exe) {
    std::string cmd = Quote(exe);
    for (const std::string& a : args) {
        cmd += ' ';
        cmd += Quote(a);
    }
    RunResult r;
    SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
    HANDLE rd = nullptr;
    HANDLE wr = nullptr;
    HANDLE erd = nullptr;
    HANDLE ewr = nullptr;
    if (!CreatePipe(&rd, &wr, &sa, 0)) return r;
    if (!CreatePipe(&erd, &ewr, &sa, 0)) {
        CloseHandle(rd);
        CloseHandle(wr);
        return r;
    }
    SetHandleInformation(rd, HANDLE_FLAG_INHERIT, 0);
    SetHandleInformation(erd, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdOutput = wr;
    si.hStdError = ewr;
    si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    PROCESS_INFORMATION pi{};
    // The arguments are UTF-8: the tool receives them whole, in any script.
    const std::wstring cwd = dir.wstring();
    const std::wstring wexe = Wide(exe);
    std::wstring wcmd = Wide(cmd);
    // Under Wine a start now and then fails while another test starts a process: try again.
    bool started = false;
    DWORD error = 0;
    for (int attempt = 0; attempt < 20 && !started; ++attempt) {
        started = CreateProcessW(wexe.c_str(), wcmd.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                 cwd.c_str(), &si, &pi) != 0;
        if (!started) {
            error = GetLastError();
            Sleep(50);
        }
    }
    if (!started) {
        for (HANDLE h : {rd, wr, erd, ewr}) CloseHandle(h);
        r.out = "CreateProcess failed with error " + std::to_string(error);
        return r;
    }
    CloseHandle(wr);
    CloseHandle(ewr);
    char buf[4096];
    DWORD n = 0;
    while (::ReadFile(rd, buf, sizeof buf, &n, nullptr) && n > 0) r.out.append(buf, n);
    while (::ReadFile(erd, buf, sizeof buf, &n, nullptr) && n > 0) r.err.append(buf, n);
    CloseHandle(rd);
    CloseHandle(erd);
    WaitForSingleObject(pi.hProcess, INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
    r.code = static_cast<int>(code);
    r.out = Lf(r.out);
    r.err = Lf(r.err);
    return r;
}
#else
RunResult RunVortle(const fs::path& dir, const std::vector<std::string>& args,
                    const std::string& exe) {
    // VORTLE_TEST_WRAPPER runs the tool under another program, such as a memory checker:
    // words separated by blanks, put before the tool's path.
    std::vector<std::string> wrapper;
    if (const char* w = std::getenv("VORTLE_TEST_WRAPPER")) {
        std::string word;
        for (const char* p = w;; ++p) {
            if (*p == ' ' || *p == '\0') {
                if (!word.empty()) wrapper.push_back(word);
                word.clear();
                if (*p == '\0') break;
            } else {
                word += *p;
            }
        }
    }
    std::vector<char*> argv;
    for (std::string& w : wrapper) argv.push_back(w.data());
    argv.push_back(const_cast<char*>(exe.c_str()));
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    int fds[2];
    int efds[2];
    RunResult r;
    if (pipe(fds) != 0) return r;
    if (pipe(efds) != 0) {
        close(fds[0]);
        close(fds[1]);
        return r;
    }
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(fds[1], 1);
        dup2(efds[1], 2);
        for (int fd : {fds[0], fds[1], efds[0], efds[1]}) close(fd);
        if (chdir(dir.c_str()) != 0) _exit(127);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    close(fds[1]);
    close(efds[1]);
    char buf[4096];
    ssize_t n;
    // Standard error holds a line at most: it never fills its pipe while standard output is read.
    while ((n = read(fds[0], buf, sizeof buf)) > 0) r.out.append(buf, static_cast<size_t>(n));
    while ((n = read(efds[0], buf, sizeof buf)) > 0) r.err.append(buf, static_cast<size_t>(n));
    close(fds[0]);
    close(efds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    r.code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return r;
}

#endif

std::string CmdReportEcho(const std::string& echo, const std::string& error) {
    return "*** Fatal-Error while parsing command line\n***  Command line: '" + echo +
           "'\n***  Error: " + error + "\n*** Vortle terminated.\n";
}

std::string CmdReport(const std::string& echoTail, const std::string& error) {
    return CmdReportEcho(VortlePath() + echoTail, error);
}

std::string Report(const std::string& header, const std::string& detail) {
    return "*** Fatal-Error while " + header + "\n***  Error: " + detail +
           "\n*** Vortle terminated.\n";
}

bool Holds(const fs::path& p) {
#ifdef _WIN32
    // A file held open without delete sharing cannot be opened exclusively.
    HANDLE h =
        CreateFileW(p.wstring().c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return true;
    CloseHandle(h);
    return false;
#else
    const std::string target = fs::canonical(p).string();
    for (const auto& e : fs::directory_iterator("/proc/self/fd")) {
        std::error_code ec;
        if (fs::read_symlink(e.path(), ec).string() == target) return true;
    }
    std::ifstream maps("/proc/self/maps");
    for (std::string line; std::getline(maps, line);) {
        if (line.size() >= target.size() &&
            line.compare(line.size() - target.size(), target.size(), target) == 0) {
            return true;
        }
    }
    return false;
#endif
}

Bytes MinimalElf() {
    return Elf{.segs = {Code(0, Vectors(16))}}.Build();
}

} // namespace vt

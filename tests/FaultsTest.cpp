// Faults a build machine meets while the tool writes an image: a file-size limit, a signal, the
// input rewritten under the tool, names that are no files. The built tool runs on real files;
// afterwards there is no image of either name (its own or a temporary one), and no hang.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "Support.h"

namespace {

using vt::Bytes;

const std::string kImageIo = vt::Report("writing file", "I/O error on file 'app.BIN'");

// A terminal pair: the tool writes its image to the slave, a character device that takes the
// bytes only as fast as the test reads them from the master, so the tool is held in the copy.
struct Pty {
    int master = -1;
    std::string slave;
    Pty() {
        master = posix_openpt(O_RDWR | O_NOCTTY);
        if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) return;
        slave = ptsname(master);
        const int s = open(slave.c_str(), O_RDWR | O_NOCTTY);
        termios t{};
        if (s >= 0 && tcgetattr(s, &t) == 0) {
            cfmakeraw(&t);
            tcsetattr(s, TCSANOW, &t);
        }
        if (s >= 0) close(s);
    }
    ~Pty() {
        if (master >= 0) close(master);
    }
    // Waits until the tool has written something; false after 10 s.
    bool Busy() const {
        pollfd p{master, POLLIN, 0};
        return poll(&p, 1, 10000) == 1;
    }
    void Drain() const {
        char buf[65536];
        pollfd p{master, POLLIN, 0};
        while (poll(&p, 1, 0) == 1 && read(master, buf, sizeof buf) > 0) {
        }
    }
};

// The tool running in dir, its standard output in a pipe.
struct Running {
    pid_t pid = -1;
    int out = -1;
    Running(const vt::fs::path& dir, const std::vector<std::string>& args, rlim_t fsize) {
        std::vector<std::string> all{vt::VortlePath()};
        all.insert(all.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (std::string& a : all) argv.push_back(a.data());
        argv.push_back(nullptr);
        int fds[2];
        if (pipe(fds) != 0) return;
        pid = fork();
        if (pid == 0) {
            dup2(fds[1], 1);
            close(fds[0]);
            close(fds[1]);
            // A sandbox's file-size limit, with SIGXFSZ at its default action (some test
            // runners ignore it, and the child would inherit that).
            signal(SIGXFSZ, SIG_DFL);
            if (fsize != RLIM_INFINITY) {
                const rlimit lim{fsize, fsize};
                setrlimit(RLIMIT_FSIZE, &lim);
            }
            if (chdir(dir.c_str()) != 0) _exit(127);
            execv(argv[0], argv.data());
            _exit(127);
        }
        close(fds[1]);
        out = fds[0];
    }
    // Reads the output to its end (draining the pty meanwhile); the exit code, or 128 + the
    // signal that ended the tool.
    int Finish(std::string& text, const Pty* pty = nullptr) {
        int status = 0;
        for (;;) {
            if (pty != nullptr) pty->Drain();
            pollfd p{out, POLLIN, 0};
            if (poll(&p, 1, 10) == 1) {
                char buf[4096];
                const ssize_t n = read(out, buf, sizeof buf);
                if (n > 0) text.append(buf, static_cast<size_t>(n));
                if (n > 0) continue;
            }
            if (waitpid(pid, &status, WNOHANG) == pid) break;
        }
        char buf[4096];
        ssize_t n;
        while ((n = read(out, buf, sizeof buf)) > 0) text.append(buf, static_cast<size_t>(n));
        close(out);
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
};

// Names in dir other than the given ones: a temporary image left behind shows here.
std::vector<std::string> Others(const vt::fs::path& dir, std::vector<std::string> keep) {
    std::vector<std::string> rest;
    for (const auto& e : vt::fs::directory_iterator(dir)) {
        const std::string n = e.path().filename().string();
        if (std::find(keep.begin(), keep.end(), n) == keep.end()) rest.push_back(n);
    }
    return rest;
}

TEST(Faults, NoPartialImage) {
    const Bytes elf = vt::Elf{.segs = {vt::Code(0, vt::Vectors(0x40000))}}.Build(); // 1 MiB
    const Bytes small = vt::Elf{.segs = {vt::Code(0, vt::Vectors(16))}}.Build();
    const std::string banner = vt::kBanner;
    enum class Act { None, Term, Truncate };
    struct Case {
        const char* what;
        const Bytes& input;
        std::vector<std::string> opts; // after app.elf; "PTY" stands for the terminal's name
        rlim_t fsize;
        Act act;
        int code;
        std::string out; // after the banner
    };
    const Case cases[] = {
        {"file-size limit below the image", elf, {"BINARY"}, 16384, Act::None, 3, kImageIo},
        {"file-size limit, HEX image", elf, {"HEX(app.BIN)"}, 16384, Act::None, 3, kImageIo},
        {"a FIFO as the image",
         small,
         {"BIN(fifo)"},
         RLIM_INFINITY,
         Act::None,
         3,
         vt::Report("accessing file", "cannot create file 'fifo'")},
        {"SIGTERM while writing",
         elf,
         {"BINARY", "HEX(PTY)"},
         RLIM_INFINITY,
         Act::Term,
         128 + SIGTERM,
         ""},
        {"input cut short during the copy", elf, {"BIN(PTY)"}, RLIM_INFINITY, Act::Truncate, 2, ""},
        {"input cut short while encoding HEX",
         elf,
         {"HEX(PTY)"},
         RLIM_INFINITY,
         Act::Truncate,
         2,
         ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        vt::TempDir dir;
        vt::WriteFile(dir / "app.elf", c.input);
        ASSERT_EQ(mkfifo((dir / "fifo").c_str(), 0644), 0);
        Pty pty;
        ASSERT_FALSE(pty.slave.empty());
        std::vector<std::string> args{"app.elf"};
        for (const std::string& o : c.opts) {
            const size_t at = o.find("PTY");
            args.push_back(at == std::string::npos ? o : o.substr(0, at) + pty.slave + ")");
        }
        Running run(dir.path, args, c.fsize);
        ASSERT_GT(run.pid, 0);
        if (c.act != Act::None) {
            ASSERT_TRUE(pty.Busy());
            if (c.act == Act::Term) {
                kill(run.pid, SIGTERM);
            } else {
                ASSERT_EQ(truncate((dir / "app.elf").c_str(), 4096), 0);
            }
        }
        std::string out;
        EXPECT_EQ(run.Finish(out, &pty), c.code);
        if (c.code < 128) {
            EXPECT_EQ(out, banner + c.out);
        }
        EXPECT_EQ(Others(dir.path, {"app.elf", "fifo"}), std::vector<std::string>{});
    }
}

TEST(Faults, VerifyNamesThatAreNoFiles) {
    vt::TempDir dir;
    const Bytes elf = vt::Elf{.segs = {vt::Code(0, vt::Vectors(16))}}.Build();
    vt::WriteFile(dir / "app.elf", elf);
    ASSERT_EQ(vt::RunVortle(dir.path, {"app.elf"}).code, 0);
    ASSERT_EQ(mkfifo((dir / "fifo").c_str(), 0644), 0);
    vt::fs::create_directory(dir / "adir");
    for (const char* name : {"fifo", "adir"}) {
        SCOPED_TRACE(name);
        const vt::RunResult r =
            vt::RunVortle(dir.path, {"app.elf", "BIN(" + std::string(name) + ")", "VERIFY"});
        EXPECT_EQ(r.code, 1);
        EXPECT_EQ(r.out, vt::kBanner + vt::Status(false, 0, vt::SigOf(vt::Vectors(16))) +
                             "*** Image '" + name + "' is missing\n*** Verification failed.\n");
    }
}

} // namespace
#endif

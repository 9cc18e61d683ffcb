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

#include <algorithm>
#include <chrono>
#include <thread>

#include "Support.h"

namespace {

using vt::Bytes;

const std::string kImageIo = vt::Report("writing file", "I/O error on file 'app.BIN'");

// A terminal pair: the tool writes its image to the slave, a character device that takes the
// bytes only as fast as the test reads them from the master, so the tool is held in the copy.
// The test keeps the slave open too: the master then reports data, not a hang-up, and only
// once the tool has written.
struct Pty {
    int master = -1;
    int held = -1;
    std::string slave;
    Pty() {
        master = posix_openpt(O_RDWR | O_NOCTTY);
        if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) return;
        slave = ptsname(master);
        held = open(slave.c_str(), O_RDWR | O_NOCTTY);
        termios t{};
        if (held >= 0 && tcgetattr(held, &t) == 0) {
            cfmakeraw(&t);
            tcsetattr(held, TCSANOW, &t);
        }
    }
    ~Pty() {
        if (held >= 0) close(held);
        if (master >= 0) close(master);
    }
    // Waits until the tool has written bytes to the terminal; false after 10 s.
    bool Busy() const {
        pollfd p{master, POLLIN, 0};
        return poll(&p, 1, 10000) == 1 && (p.revents & POLLIN) != 0;
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
    Running(const vt::fs::path& dir, const std::vector<std::string>& args, rlim_t fsize,
            bool ignoreHup = false) {
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
            signal(SIGHUP, ignoreHup ? SIG_IGN : SIG_DFL); // as nohup starts a program
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

// The temporary images in dir.
size_t Temporaries(const vt::fs::path& dir) {
    size_t n = 0;
    for (const auto& e : vt::fs::directory_iterator(dir)) {
        n += e.path().filename().string().starts_with(".vortle-") ? 1 : 0;
    }
    return n;
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
        // The terminal holds the tool while the other image's temporary file exists.
        {"SIGTERM while writing",
         elf,
         {"BINARY", "HEX(PTY)"},
         RLIM_INFINITY,
         Act::Term,
         128 + SIGTERM,
         ""},
        {"input cut short during the copy",
         elf,
         {"HEX", "BIN(PTY)"},
         RLIM_INFINITY,
         Act::Truncate,
         2,
         ""},
        {"input cut short while encoding HEX",
         elf,
         {"BINARY", "HEX(PTY)"},
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
            // The act lands while the image is being written.
            EXPECT_EQ(Temporaries(dir.path), 1u);
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

// Stops the tool once n temporary images exist (at most 10 s): what the test does next
// happens while the images are being written. False when that moment never came.
bool StopWhileWriting(pid_t pid, const vt::fs::path& dir, size_t n) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (Temporaries(dir) < n) {
        if (std::chrono::steady_clock::now() > until) return false;
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    int status = 0;
    return kill(pid, SIGSTOP) == 0 && waitpid(pid, &status, WUNTRACED) == pid && WIFSTOPPED(status);
}

// The images of a run are one commit: a signal or a failure before both have their names
// leaves neither; an ignored signal stays ignored.
TEST(Faults, ImagesAreOneCommit) {
    const Bytes elf = vt::Elf{.segs = {vt::Code(0, vt::Vectors(0x800000))}}.Build(); // 32 MiB
    enum class Act { Term, HexBlocked, HupIgnored };
    struct Case {
        const char* what;
        Act act;
        int code;
        std::string out; // after the banner
        std::vector<std::string> after;
    };
    const Case cases[] = {
        {"SIGTERM", Act::Term, 128 + SIGTERM, "", {"app.elf"}},
        {"the HEX image cannot take its name",
         Act::HexBlocked,
         3,
         vt::Report("writing file", "I/O error on file 'app.HEX'"),
         {"app.HEX", "app.elf"}},
        {"SIGHUP ignored from the start",
         Act::HupIgnored,
         0,
         vt::Status(true, 0, vt::SigOf(vt::Vectors(16))) + vt::kDone,
         {"app.BIN", "app.HEX", "app.elf"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        vt::TempDir dir;
        vt::WriteFile(dir / "app.elf", elf);
        Running run(dir.path, {"app.elf", "BINARY", "HEX"}, RLIM_INFINITY,
                    c.act == Act::HupIgnored);
        ASSERT_GT(run.pid, 0);
        ASSERT_TRUE(StopWhileWriting(run.pid, dir.path, 2));
        EXPECT_EQ(Others(dir.path, {"app.elf"}).size(), 2u) << "only the temporary images";
        if (c.act == Act::Term) kill(run.pid, SIGTERM);
        if (c.act == Act::HupIgnored) kill(run.pid, SIGHUP);
        if (c.act == Act::HexBlocked) vt::fs::create_directory(dir / "app.HEX");
        kill(run.pid, SIGCONT);
        std::string out;
        EXPECT_EQ(run.Finish(out), c.code);
        if (c.code < 128) {
            EXPECT_EQ(out, vt::kBanner + c.out);
        }
        std::vector<std::string> names = Others(dir.path, {});
        std::sort(names.begin(), names.end());
        EXPECT_EQ(names, c.after);
    }
}

// Links at image names: the stale-image step never deletes one; an image goes where the
// system's own open of the name leads (a file elsewhere is replaced whole in its own folder,
// a device written directly); a link to nothing, or a stranger's link in a sticky folder that
// others may write, takes no image.
TEST(Faults, LinksAtImageNames) {
    const Bytes elf = vt::Elf{.segs = {vt::Code(0, vt::Vectors(16))}}.Build();
    const bool root = geteuid() == 0;
    struct Case {
        const char* what;
        std::vector<std::string> opts;
        const char* link;   // the link at the image name
        const char* target; // what it names, from the link's folder
        int code;
        bool targetWritten;
    };
    const Case cases[] = {
        {"stale image", {}, "app.BIN", "other/target.bin", 0, false},
        {"to a file elsewhere", {"BIN(lnk)"}, "lnk", "other/target.bin", 0, true},
        {"to nothing", {"BIN(lnk)"}, "lnk", "other/none.bin", 3, false},
        {"to a device", {"BIN(lnk)"}, "lnk", "/dev/null", 0, false},
        {"a stranger's link in a sticky folder",
         {"BIN(sticky/lnk)"},
         "sticky/lnk",
         "../other/target.bin",
         3,
         false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const bool sticky = std::string(c.link).starts_with("sticky/");
        if (sticky && !root) continue; // handing a link to another user needs root
        vt::TempDir dir;
        vt::WriteFile(dir / "app.elf", elf);
        vt::fs::create_directory(dir / "other");
        vt::WriteFile(dir / "other" / "target.bin", {7});
        if (sticky) {
            vt::fs::create_directory(dir / "sticky");
            ASSERT_EQ(chmod((dir / "sticky").c_str(), 01777), 0);
        }
        vt::fs::create_symlink(c.target, dir / c.link);
        if (sticky) {
            ASSERT_EQ(lchown((dir / c.link).c_str(), 65534, 65534), 0);
        }
        std::vector<std::string> args{"app.elf"};
        args.insert(args.end(), c.opts.begin(), c.opts.end());
        const vt::RunResult r = vt::RunVortle(dir.path, args);
        EXPECT_EQ(r.code, c.code) << r.out;
        EXPECT_TRUE(vt::fs::is_symlink(dir / c.link));
        const Bytes after = vt::ReadFile(dir / "other" / "target.bin");
        EXPECT_EQ(after.size() > 1, c.targetWritten);
        EXPECT_EQ(Others(dir / "other", {"target.bin"}), std::vector<std::string>{});
        EXPECT_EQ(Temporaries(dir.path), 0u);
    }
}

// A root run while another user plants links at the image name in a sticky folder that all
// may write, as fast as it can: the root-only file the links name is never written.
TEST(Faults, PlantedLinksAsRoot) {
    if (geteuid() != 0) GTEST_SKIP() << "the probe runs as root";
    vt::TempDir dir;
    vt::WriteFile(dir / "app.elf", vt::Elf{.segs = {vt::Code(0, vt::Vectors(16))}}.Build());
    vt::fs::create_directory(dir / "vault");
    vt::WriteFile(dir / "vault" / "secret", {1, 2, 3});
    ASSERT_EQ(chmod((dir / "vault").c_str(), 0700), 0);
    vt::fs::create_directory(dir / "pub");
    ASSERT_EQ(chmod((dir / "pub").c_str(), 01777), 0);
    ASSERT_EQ(chmod(dir.path.c_str(), 0755), 0);
    const std::string secret = (dir / "vault" / "secret").string();
    const std::string planted = (dir / "pub" / "img.bin").string();
    const pid_t planter = fork();
    if (planter == 0) {
        if (setgid(65534) != 0 || setuid(65534) != 0) _exit(1);
        for (;;) {
            symlink(secret.c_str(), planted.c_str());
            unlink(planted.c_str());
            symlink(secret.c_str(), planted.c_str());
        }
    }
    ASSERT_GT(planter, 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    if (waitpid(planter, nullptr, WNOHANG) != 0) GTEST_SKIP() << "no other user to plant links";
    constexpr int kTrials = 300;
    int signedRuns = 0;
    for (int i = 0; i < kTrials; ++i) {
        const vt::RunResult r = vt::RunVortle(dir.path, {"app.elf", "BIN(pub/img.bin)"});
        signedRuns += r.code == 0 ? 1 : 0;
        EXPECT_TRUE(r.code == 0 || r.code == 3) << r.out;
    }
    kill(planter, SIGKILL);
    waitpid(planter, nullptr, 0);
    EXPECT_EQ(vt::ReadFile(secret), (Bytes{1, 2, 3}));
    EXPECT_EQ(Temporaries(dir / "pub"), 0u);
    std::printf("planted links: %d runs, %d wrote their image\n", kTrials, signedRuns);
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

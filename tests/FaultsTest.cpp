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
#include <set>
#include <thread>

#include "Plat.h"
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
            bool ignoreHup = false, int closed = -1) {
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
            if (closed >= 0) close(closed); // a standard descriptor closed at the start
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

// The temporary images in dir: named ones, and the unnamed ones that process pid holds open
// there (they show as "<dir>/#<number> (deleted)" among its descriptors).
size_t Temporaries(const vt::fs::path& dir, pid_t pid = 0) {
    size_t n = 0;
    for (const auto& e : vt::fs::directory_iterator(dir)) {
        n += e.path().filename().string().starts_with(".vortle-") ? 1 : 0;
    }
    const std::string unnamed = vt::fs::canonical(dir).string() + "/#";
    std::error_code ec;
    const vt::fs::path fds = "/proc/" + std::to_string(pid) + "/fd";
    for (const auto& e : vt::fs::directory_iterator(fds, ec)) {
        const std::string target = vt::fs::read_symlink(e.path(), ec).string();
        n += pid != 0 && target.starts_with(unnamed) && target.ends_with(" (deleted)") ? 1 : 0;
    }
    return n;
}

TEST(Faults, NoPartialImage) {
    const Bytes elf = vt::Elf{.segs = {vt::Code(0, vt::Vectors(0x40000))}}.Build(); // 1 MiB
    const Bytes small = vt::MinimalElf();
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
        int closed = -1; // a standard descriptor closed at the start
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
        // A quiet run that fails prints its report: the banner it held.
        {"input cut short while encoding HEX, quiet",
         elf,
         {"BINARY", "HEX(PTY)", "QUIET"},
         RLIM_INFINITY,
         Act::Truncate,
         2,
         ""},
        // The input never takes the number of the standard error: its line goes nowhere.
        {"input cut short while encoding HEX, standard error closed",
         elf,
         {"BINARY", "HEX(PTY)"},
         RLIM_INFINITY,
         Act::Truncate,
         2,
         "",
         2},
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
        Running run(dir.path, args, c.fsize, false, c.closed);
        ASSERT_GT(run.pid, 0);
        if (c.act != Act::None) {
            ASSERT_TRUE(pty.Busy());
            // The act lands while the image is being written.
            EXPECT_EQ(Temporaries(dir.path, run.pid), 1u);
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
        EXPECT_EQ(vt::ReadFile(dir / "app.elf")[0], 0x7F) << "nothing written into the input";
    }
}

// Standard output that cannot be written (a reader gone, a full device) never cuts the file
// work short: the run signs, writes its image and says once that its output was lost. A
// standard descriptor closed at the start is the null device's.
TEST(Faults, StandardStreams) {
    const Bytes elf = vt::MinimalElf();
    enum class Out { Pipe, GonePipe, Full, Closed };
    struct Case {
        const char* what;
        Out out;
        int closed; // another standard descriptor closed at the start
        std::vector<std::string> opts;
        int code;
        std::string err;
    };
    const Case cases[] = {
        {"a pipe whose reader is gone",
         Out::GonePipe,
         -1,
         {"BINARY"},
         0,
         "vortle: standard output: Broken pipe\n"},
        {"a full device",
         Out::Full,
         -1,
         {"BINARY"},
         0,
         "vortle: standard output: No space left on device\n"},
        {"a failing run keeps its own line",
         Out::GonePipe,
         -1,
         {"BINARY", "BA(0x100)"},
         3,
         "vortle: app.elf: no loadable bytes hold 0x00000100 - 0x0000011C; the firmware lies at "
         "0x00000000 - 0x0000003F: try BASEADDRESS(0x0)\n"},
        {"standard output closed", Out::Closed, -1, {"BINARY"}, 0, ""},
        {"standard input closed", Out::Pipe, 0, {"BINARY"}, 0, ""},
        {"standard error closed", Out::Pipe, 2, {"BINARY"}, 0, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        vt::TempDir dir;
        vt::WriteFile(dir / "app.elf", elf);
        int out[2];
        int err[2];
        ASSERT_EQ(pipe(out), 0);
        ASSERT_EQ(pipe(err), 0);
        // The reader is gone before the tool starts.
        if (c.out == Out::GonePipe) close(out[0]);
        std::vector<std::string> all{vt::VortlePath(), "app.elf"};
        all.insert(all.end(), c.opts.begin(), c.opts.end());
        std::vector<char*> argv;
        for (std::string& a : all) argv.push_back(a.data());
        argv.push_back(nullptr);
        const pid_t pid = fork();
        if (pid == 0) {
            const int full = open("/dev/full", O_WRONLY);
            dup2(c.out == Out::Full ? full : out[1], 1);
            dup2(err[1], 2);
            if (c.out == Out::Closed) close(1);
            if (c.closed >= 0) close(c.closed);
            for (int fd : {out[0], out[1], err[0], err[1], full}) {
                if (fd > 2) close(fd);
            }
            signal(SIGPIPE, SIG_DFL); // as a shell starts a pipeline's programs
            if (chdir(dir.path.c_str()) != 0) _exit(127);
            execv(argv[0], argv.data());
            _exit(127);
        }
        close(out[1]);
        close(err[1]);
        std::string text;
        char buf[4096];
        ssize_t n;
        while ((n = read(err[0], buf, sizeof buf)) > 0) text.append(buf, static_cast<size_t>(n));
        close(err[0]);
        if (c.out != Out::GonePipe) close(out[0]);
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
        EXPECT_EQ(WEXITSTATUS(status), c.code);
        EXPECT_EQ(text, c.err);
        const Bytes after = vt::ReadFile(dir / "app.elf");
        EXPECT_EQ(vt::Get32(after, vt::Get32(elf, 56) + 0x1C) == vt::SigOf(elf, vt::Get32(elf, 56)),
                  c.code == 0)
            << "signed exactly when the run succeeds";
        EXPECT_EQ(vt::fs::exists(dir / "app.BIN"), c.code == 0);
    }
}

// The bytes written so far into the unnamed temporary images that process pid holds in dir.
uint64_t TemporaryBytes(const vt::fs::path& dir, pid_t pid) {
    const std::string unnamed = vt::fs::canonical(dir).string() + "/#";
    std::error_code ec;
    uint64_t n = 0;
    for (const auto& e : vt::fs::directory_iterator("/proc/" + std::to_string(pid) + "/fd", ec)) {
        struct stat st {};
        if (vt::fs::read_symlink(e.path(), ec).string().starts_with(unnamed) &&
            stat(e.path().c_str(), &st) == 0) {
            n += static_cast<uint64_t>(st.st_size);
        }
    }
    return n;
}

// Stops the tool once n temporary images exist in dir and hold at least bytes (at most 10 s):
// what the test does next happens while the images are being written. False when that moment
// never came.
bool StopWhileWriting(pid_t pid, const vt::fs::path& dir, size_t n, uint64_t bytes = 0) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (Temporaries(dir, pid) < n || (bytes > 0 && TemporaryBytes(dir, pid) < bytes)) {
        if (std::chrono::steady_clock::now() > until) return false;
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    int status = 0;
    return kill(pid, SIGSTOP) == 0 && waitpid(pid, &status, WUNTRACED) == pid && WIFSTOPPED(status);
}

// The images of a run are one commit: a signal, a kill or a failure before both have their
// names leaves neither (nor a temporary file); an ignored signal stays ignored.
TEST(Faults, ImagesAreOneCommit) {
    const Bytes elf = vt::Elf{.segs = {vt::Code(0, vt::Vectors(0x800000))}}.Build(); // 32 MiB
    enum class Act { Term, Kill, HexBlocked, HupIgnored };
    const std::vector<std::string> both{"app.elf", "BINARY", "HEX"};
    struct Case {
        const char* what;
        std::vector<std::string> args;
        size_t temporaries; // in the run's folder when the act lands
        uint64_t bytes;     // written into them by then
        Act act;
        int code;
        std::string out; // after the banner
        std::vector<std::string> after;
    };
    const Case cases[] = {
        {"SIGTERM", both, 2, 0, Act::Term, 128 + SIGTERM, "", {"app.elf"}},
        {"SIGKILL at the first image", both, 1, 0, Act::Kill, 128 + SIGKILL, "", {"app.elf"}},
        {"SIGKILL while both are written", both, 2, 0, Act::Kill, 128 + SIGKILL, "", {"app.elf"}},
        {"SIGKILL deep into the HEX image",
         both,
         2,
         48 << 20,
         Act::Kill,
         128 + SIGKILL,
         "",
         {"app.elf"}},
        {"the HEX image cannot take its name",
         both,
         2,
         0,
         Act::HexBlocked,
         3,
         vt::Report("writing file", "I/O error on file 'app.HEX'"),
         {"app.HEX", "app.elf"}},
        // The binary image, renamed into the folder its link leads to, is taken back there.
        {"the HEX image cannot take its name, the binary image behind a link",
         {"app.elf", "BIN(lnk)", "HEX"},
         1,
         0,
         Act::HexBlocked,
         3,
         vt::Report("writing file", "I/O error on file 'app.HEX'"),
         {"app.HEX", "app.elf", "lnk", "other"}},
        {"SIGHUP ignored from the start",
         both,
         2,
         0,
         Act::HupIgnored,
         0,
         vt::Status(true, 0, vt::SigOf(vt::Vectors(16))) + vt::kDone,
         {"app.BIN", "app.HEX", "app.elf"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        vt::TempDir dir;
        vt::WriteFile(dir / "app.elf", elf);
        if (c.args[1] == "BIN(lnk)") {
            vt::fs::create_directory(dir / "other");
            vt::WriteFile(dir / "other" / "target.bin", {7});
            vt::fs::create_symlink("other/target.bin", dir / "lnk");
        }
        Running run(dir.path, c.args, RLIM_INFINITY, c.act == Act::HupIgnored);
        ASSERT_GT(run.pid, 0);
        ASSERT_TRUE(StopWhileWriting(run.pid, dir.path, c.temporaries, c.bytes));
        // Only the temporary images are there, named where the system cannot leave them
        // unnamed.
        EXPECT_EQ(Others(dir.path, {"app.elf", "lnk", "other"}).size(), Temporaries(dir.path));
        if (c.act == Act::Term) kill(run.pid, SIGTERM);
        if (c.act == Act::Kill) kill(run.pid, SIGKILL);
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
        if (vt::fs::exists(dir / "other")) {
            EXPECT_EQ(Others(dir / "other", {}), std::vector<std::string>{});
        }
    }
}

// Links at image names: the stale-image step never deletes one; an image goes where the
// system's own open of the name leads (a file elsewhere is replaced whole in its own folder,
// a device written directly); a link to nothing, or a stranger's link in a sticky folder that
// others may write, takes no image.
TEST(Faults, LinksAtImageNames) {
    const Bytes elf = vt::MinimalElf();
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
        {"to a file elsewhere, range not found",
         {"BIN(lnk)", "BA(0x100)"},
         "lnk",
         "other/target.bin",
         3,
         false},
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
// A file this user may read but not write (another user's): signing cannot open it and says
// that VERIFY can; VERIFY checks it.
TEST(Faults, ReadOnlyForThisUser) {
    if (geteuid() != 0) GTEST_SKIP() << "the probe runs as root";
    vt::TempDir dir;
    ASSERT_EQ(chmod(dir.path.c_str(), 0755), 0);
    const Bytes elf = vt::MinimalElf();
    vt::WriteFile(dir / "app.elf", elf);
    const std::string as = "cd '" + dir.path.string() +
                           "' && setpriv --reuid=65534 --regid=65534 --clear-groups '" +
                           vt::VortlePath() + "' app.elf";
    const int sign = std::system((as + " >out.txt 2>err.txt").c_str());
    if (!WIFEXITED(sign) || WEXITSTATUS(sign) == 126 || WEXITSTATUS(sign) == 127) {
        GTEST_SKIP() << "no other user to run as";
    }
    EXPECT_EQ(WEXITSTATUS(sign), 3);
    EXPECT_EQ(vt::ReadText(dir / "err.txt"),
              "vortle: app.elf: cannot open: Permission denied; signing writes into it (VERIFY "
              "only reads)\n");
    EXPECT_EQ(vt::ReadFile(dir / "app.elf"), elf);
    const int check = std::system((as + " VERIFY >out.txt 2>err.txt").c_str());
    EXPECT_EQ(WEXITSTATUS(check), 1) << "a check reads it: the signature is wrong";
}

TEST(Faults, PlantedLinksAsRoot) {
    if (geteuid() != 0) GTEST_SKIP() << "the probe runs as root";
    vt::TempDir dir;
    vt::WriteFile(dir / "app.elf", vt::MinimalElf());
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

// Temporary names come from the system's random source: each of their twelve characters takes
// many values over a few dozen names (a name from the process id and a counter would not),
// whether the file is named when created or only when it is complete.
TEST(Faults, TemporaryNamesAreRandom) {
    vt::TempDir dir;
    PlatSpot spot{};
    ASSERT_EQ(PlatLocate((dir / "app.BIN").c_str(), spot), PlatKind::Absent);
    for (const bool unnamed : {false, true}) {
        SCOPED_TRACE(unnamed ? "named when complete" : "named when created");
        std::vector<std::string> tags;
        for (int i = 0; i < 64; ++i) {
            char tmp[kPlatLeafCap];
            std::FILE* f = PlatTempCreate(spot, tmp, sizeof tmp, unnamed);
            ASSERT_NE(f, nullptr);
            ASSERT_EQ(PlatTempName(spot, tmp, sizeof tmp, f), 0);
            std::fclose(f);
            const std::string name = tmp;
            ASSERT_TRUE(name.starts_with(".vortle-") && name.size() == 20) << name;
            ASSERT_TRUE(vt::fs::exists(dir / name));
            vt::fs::remove(dir / name);
            tags.push_back(name.substr(8));
        }
        for (size_t at = 0; at < 12; ++at) {
            std::set<char> seen;
            for (const std::string& t : tags) seen.insert(t[at]);
            EXPECT_GE(seen.size(), 8u) << "character " << at;
        }
    }
    PlatSpotClose(spot);
}

TEST(Faults, VerifyNamesThatAreNoFiles) {
    vt::TempDir dir;
    const Bytes elf = vt::MinimalElf();
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

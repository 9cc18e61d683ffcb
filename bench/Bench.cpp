// Times whole runs of the tool against the process floor, objcopy and cp, interleaved, and
// prints a Markdown report; optionally draws time against file size as an SVG plot.
//
//   vortle_bench [--quick] [--rounds N] [--svg FILE] [--baseline EXE]
//
// With --baseline, the firmware and HEX runs are timed with another build of the tool as well,
// interleaved with this one's in the same rounds.
//
// Inputs are generated in a temporary folder, removed at the end.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

constexpr uint64_t KiB = 1024, MiB = 1024 * KiB, GiB = 1024 * MiB;
constexpr uint32_t kPayload = 0x1000; // file offset of the segment's bytes

void Put(Bytes& b, size_t at, uint64_t v, int width) {
    for (int i = 0; i < width; ++i)
        b[at + static_cast<size_t>(i)] = static_cast<uint8_t>(v >> (8 * i));
}

Bytes Header(uint32_t phnum, uint32_t shoff, uint16_t shnum) {
    Bytes h(52);
    h[0] = 0x7F;
    h[1] = 'E';
    h[2] = 'L';
    h[3] = 'F';
    h[4] = 1;
    h[5] = 1;
    h[6] = 1;
    Put(h, 16, 2, 2);  // ET_EXEC
    Put(h, 18, 40, 2); // ARM
    Put(h, 20, 1, 4);
    Put(h, 28, 52, 4);
    Put(h, 32, shoff, 4);
    Put(h, 40, 52, 2);
    Put(h, 42, 32, 2);
    Put(h, 44, phnum, 2);
    Put(h, 46, 40, 2);
    Put(h, 48, shnum, 2);
    Put(h, 50, shnum - 1, 2);
    return h;
}

Bytes Phdr(uint32_t off, uint32_t paddr, uint32_t size, uint32_t flags) {
    Bytes p(32);
    Put(p, 0, 1, 4);
    Put(p, 4, off, 4);
    Put(p, 8, paddr, 4);
    Put(p, 12, paddr, 4);
    Put(p, 16, size, 4);
    Put(p, 20, size, 4);
    Put(p, 24, flags, 4);
    Put(p, 28, 4, 4);
    return p;
}

// Section names and headers: null, .text over the first segment, .shstrtab.
Bytes Sections(uint32_t strOff, uint32_t textSize) {
    const std::string names("\0.text\0.shstrtab\0", 17);
    Bytes b(names.begin(), names.end());
    b.resize(20);
    Bytes sh(120);
    Put(sh, 40, 1, 4);
    Put(sh, 44, 1, 4); // PROGBITS
    Put(sh, 48, 6, 4); // ALLOC | EXEC
    Put(sh, 56, kPayload, 4);
    Put(sh, 60, textSize, 4);
    Put(sh, 72, 4, 4);
    Put(sh, 80, 7, 4);
    Put(sh, 84, 3, 4); // STRTAB
    Put(sh, 96, strOff, 4);
    Put(sh, 100, names.size(), 4);
    Put(sh, 112, 1, 4);
    b.insert(b.end(), sh.begin(), sh.end());
    return b;
}

// A firmware of one loadable segment at address 0 with size bytes of code.
void MakeFirmware(const fs::path& p, uint64_t size) {
    const uint32_t strOff = static_cast<uint32_t>(kPayload + size);
    std::ofstream f(p, std::ios::binary | std::ios::trunc);
    Bytes head = Header(1, strOff + 20, 3);
    const Bytes ph = Phdr(kPayload, 0, static_cast<uint32_t>(size), 5);
    head.insert(head.end(), ph.begin(), ph.end());
    head.resize(kPayload);
    f.write(reinterpret_cast<const char*>(head.data()), static_cast<std::streamsize>(head.size()));
    Bytes chunk(std::min<uint64_t>(size, MiB));
    for (size_t i = 0; i < chunk.size(); ++i) chunk[i] = static_cast<uint8_t>(i * 7 + 1);
    for (uint64_t left = size; left > 0;) {
        const uint64_t n = std::min<uint64_t>(left, chunk.size());
        f.write(reinterpret_cast<const char*>(chunk.data()), static_cast<std::streamsize>(n));
        left -= n;
    }
    const Bytes tail = Sections(strOff, static_cast<uint32_t>(size));
    f.write(reinterpret_cast<const char*>(tail.data()), static_cast<std::streamsize>(tail.size()));
}

// A firmware with n program headers: the first holds the vector table, the others are data.
void MakeHeaders(const fs::path& p, uint32_t n) {
    const uint32_t phEnd = 52 + 32 * n;
    const uint32_t data = (phEnd + 0xFFF) & ~0xFFFu;
    const uint32_t strOff = data + 64;
    Bytes b = Header(n, strOff + 20, 3);
    for (uint32_t i = 0; i < n; ++i) {
        const Bytes ph = i == 0 ? Phdr(data, 0, 64, 5) : Phdr(data, 0x10000000 + 16 * i, 16, 6);
        b.insert(b.end(), ph.begin(), ph.end());
    }
    b.resize(data + 64, 0x11);
    Bytes tail = Sections(strOff, 64);
    Put(tail, 20 + 56, data, 4);
    b.insert(b.end(), tail.begin(), tail.end());
    std::ofstream(p, std::ios::binary)
        .write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
}

// Clears the signature word so that every run has to write it, as after a fresh link.
void Unsign(const fs::path& p, uint32_t at) {
    const int fd = open(p.c_str(), O_WRONLY);
    const uint8_t zero[4] = {};
    if (fd < 0 || pwrite(fd, zero, 4, at + 0x1C) != 4) std::perror("unsign");
    if (fd >= 0) close(fd);
}

// Restores the first bytes of a HEX file from its pristine copy: the signature's record is
// among them.
void RestoreHead(const fs::path& p, const fs::path& pristine) {
    char head[4096];
    std::ifstream in(pristine, std::ios::binary);
    in.read(head, sizeof head);
    const int fd = open(p.c_str(), O_WRONLY);
    if (fd < 0 || pwrite(fd, head, static_cast<size_t>(in.gcount()), 0) != in.gcount()) {
        std::perror("restore");
    }
    if (fd >= 0) close(fd);
}

// A HEX (or S-record) input of n data records in an order that makes every record a run of
// its own: 16-byte records in descending or random order, or 1-byte records at the even
// addresses and then at the odd ones. The records cover the addresses 0 to the end without a
// gap.
void TextInOrder(const fs::path& p, const std::string& order, uint32_t n, bool srec) {
    const uint32_t len = order == "even-odd" ? 1 : 16;
    std::vector<uint32_t> at(n);
    for (uint32_t i = 0; i < n; ++i) at[i] = i * len;
    if (order == "descending") std::reverse(at.begin(), at.end());
    if (order == "random") {
        uint64_t x = 0x9E3779B97F4A7C15ull;
        for (uint32_t i = n - 1; i > 0; --i) {
            x ^= x << 13, x ^= x >> 7, x ^= x << 17;
            std::swap(at[i], at[x % (i + 1)]);
        }
    }
    if (order == "even-odd") {
        std::stable_partition(at.begin(), at.end(), [](uint32_t a) { return a % 2 == 0; });
    }
    std::string t;
    t.reserve(static_cast<size_t>(n) * (13 + 2 * len));
    const auto rec = [&](uint8_t type, uint16_t addr, const uint8_t* d, uint32_t k) {
        uint8_t sum = static_cast<uint8_t>(k + (addr >> 8) + addr + type);
        char h[16];
        std::snprintf(h, sizeof h, ":%02X%04X%02X", k, addr, type);
        t += h;
        for (uint32_t i = 0; i < k; ++i) {
            std::snprintf(h, sizeof h, "%02X", d[i]);
            t += h;
            sum = static_cast<uint8_t>(sum + d[i]);
        }
        std::snprintf(h, sizeof h, "%02X\r\n", static_cast<uint8_t>(0u - sum));
        t += h;
    };
    // S3 records: "S3", count, four address bytes, the data, the ones' complement checksum.
    const auto s3 = [&](uint32_t addr, const uint8_t* d, uint32_t k) {
        uint8_t sum =
            static_cast<uint8_t>(k + 5 + (addr >> 24) + (addr >> 16) + (addr >> 8) + addr);
        char h[16];
        std::snprintf(h, sizeof h, "S3%02X%08X", k + 5, addr);
        t += h;
        for (uint32_t i = 0; i < k; ++i) {
            std::snprintf(h, sizeof h, "%02X", d[i]);
            t += h;
            sum = static_cast<uint8_t>(sum + d[i]);
        }
        std::snprintf(h, sizeof h, "%02X\r\n", static_cast<uint8_t>(~sum));
        t += h;
    };
    int64_t upper = -1;
    for (uint32_t a : at) {
        if (srec) {
            uint8_t d[16];
            for (uint32_t k = 0; k < len; ++k) d[k] = static_cast<uint8_t>((a + k) * 7);
            s3(a, d, len);
            continue;
        }
        if ((a >> 16) != upper) {
            upper = a >> 16;
            const uint8_t u[2] = {static_cast<uint8_t>(upper >> 8), static_cast<uint8_t>(upper)};
            rec(4, 0, u, 2);
        }
        uint8_t d[16];
        for (uint32_t k = 0; k < len; ++k) d[k] = static_cast<uint8_t>((a + k) * 7);
        rec(0, static_cast<uint16_t>(a), d, len);
    }
    t += srec ? "S70500000000FA\r\n" : ":00000001FF\r\n";
    std::ofstream(p, std::ios::binary).write(t.data(), static_cast<std::streamsize>(t.size()));
}

struct Job {
    std::string group;
    std::string label;
    std::vector<std::string> argv;
    std::function<void()> prepare;
    uint64_t size = 0; // input size, for the plot
    std::string series;
    std::vector<double> ms;
    long rssKb = 0;
    bool failed = false;
};

Job MakeJob(std::string group, std::string label, std::vector<std::string> argv,
            std::function<void()> prepare = {}, uint64_t size = 0, std::string series = {}) {
    Job j;
    j.group = std::move(group);
    j.label = std::move(label);
    j.argv = std::move(argv);
    j.prepare = std::move(prepare);
    j.size = size;
    j.series = std::move(series);
    return j;
}

// One run; through the launcher, only the peak resident memory is taken, else only the time.
std::string launcher;

double RunOnce(Job& j, bool viaLauncher = false) {
    if (j.prepare) j.prepare();
    std::vector<char*> argv;
    std::string rssFile = "rss.txt";
    if (viaLauncher) {
        argv.push_back(launcher.data());
        argv.push_back(rssFile.data());
    }
    for (std::string& a : j.argv) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 1, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    const auto t0 = std::chrono::steady_clock::now();
    const int rc = posix_spawnp(&pid, argv[0], &fa, nullptr, argv.data(), environ);
    int status = 0;
    if (rc == 0) waitpid(pid, &status, 0);
    const auto t1 = std::chrono::steady_clock::now();
    posix_spawn_file_actions_destroy(&fa);
    if (rc != 0 || !WIFEXITED(status) || WEXITSTATUS(status) != 0) j.failed = true;
    if (viaLauncher) {
        long kb = 0;
        if (std::FILE* f = std::fopen(rssFile.c_str(), "r")) {
            if (std::fscanf(f, "%ld", &kb) != 1) kb = 0;
            std::fclose(f);
        }
        j.rssKb = std::max(j.rssKb, kb);
    }
    return std::chrono::duration<double, std::milli>(t1 - t0).count();
}

double Min(const Job& j) {
    return *std::min_element(j.ms.begin(), j.ms.end());
}

double Median(const Job& j) {
    std::vector<double> v = j.ms;
    std::sort(v.begin(), v.end());
    return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

std::string SizeText(uint64_t s) {
    char b[32];
    if (s >= GiB) {
        std::snprintf(b, sizeof b, "%llu GiB", static_cast<unsigned long long>(s / GiB));
    } else if (s >= MiB) {
        std::snprintf(b, sizeof b, "%llu MiB", static_cast<unsigned long long>(s / MiB));
    } else {
        std::snprintf(b, sizeof b, "%llu KiB", static_cast<unsigned long long>(s / KiB));
    }
    return b;
}

bool OnPath(const std::string& prog) {
    const std::string cmd = "command -v " + prog + " >/dev/null 2>&1";
    return std::system(cmd.c_str()) == 0;
}

void WriteSvg(const std::string& path, const std::vector<Job>& jobs) {
    const std::vector<std::pair<std::string, std::string>> series = {
        {"vortle BINARY", "#d62728"},
        {"vortle (patch only)", "#ff7f0e"},
        {"objcopy -O binary", "#1f77b4"},
        {"cp", "#2ca02c"}};
    double lo = 1e9, hi = 0;
    uint64_t smin = ~0ull, smax = 0;
    for (const Job& j : jobs) {
        if (j.series.empty() || j.ms.empty()) continue;
        lo = std::min(lo, Median(j));
        hi = std::max(hi, Median(j));
        smin = std::min(smin, j.size);
        smax = std::max(smax, j.size);
    }
    if (smax == 0) return;
    const double W = 720, H = 440, L = 70, R = 190, T = 30, B = 50;
    const double ylo = std::floor(std::log10(lo)), yhi = std::ceil(std::log10(hi));
    const double xlo = std::log2(static_cast<double>(smin)),
                 xhi = std::log2(static_cast<double>(smax));
    const auto X = [&](uint64_t s) {
        return L +
               (std::log2(static_cast<double>(s)) - xlo) / std::max(1.0, xhi - xlo) * (W - L - R);
    };
    const auto Y = [&](double ms) {
        return H - B - (std::log10(ms) - ylo) / std::max(1.0, yhi - ylo) * (H - T - B);
    };
    std::ofstream f(path);
    f << "<svg xmlns='http://www.w3.org/2000/svg' width='" << W << "' height='" << H
      << "' font-family='sans-serif' font-size='12'>\n<rect width='100%' height='100%' "
         "fill='white'/>\n";
    f << "<text x='" << L
      << "' y='18' font-size='14'>Median wall time of one run against input size "
         "(log-log)</text>\n";
    for (double e = ylo; e <= yhi; e += 1) {
        const double y = Y(std::pow(10, e));
        f << "<line x1='" << L << "' y1='" << y << "' x2='" << W - R << "' y2='" << y
          << "' stroke='#ddd'/><text x='" << L - 8 << "' y='" << y + 4 << "' text-anchor='end'>"
          << std::pow(10, e) << " ms</text>\n";
    }
    for (uint64_t s = smin; s <= smax; s *= 16) {
        const double x = X(s);
        f << "<line x1='" << x << "' y1='" << T << "' x2='" << x << "' y2='" << H - B
          << "' stroke='#eee'/><text x='" << x << "' y='" << H - B + 18 << "' text-anchor='middle'>"
          << SizeText(s) << "</text>\n";
    }
    f << "<text x='" << (L + W - R) / 2 << "' y='" << H - 12
      << "' text-anchor='middle'>input size</text>\n";
    double ly = T + 20;
    for (const auto& [name, color] : series) {
        std::string pts;
        for (const Job& j : jobs) {
            if (j.series != name || j.ms.empty()) continue;
            pts += std::to_string(X(j.size)) + "," + std::to_string(Y(Median(j))) + " ";
            f << "<circle cx='" << X(j.size) << "' cy='" << Y(Median(j)) << "' r='3' fill='"
              << color << "'/>\n";
        }
        if (pts.empty()) continue;
        f << "<polyline fill='none' stroke='" << color << "' stroke-width='2' points='" << pts
          << "'/>\n";
        f << "<line x1='" << W - R + 15 << "' y1='" << ly << "' x2='" << W - R + 40 << "' y2='"
          << ly << "' stroke='" << color << "' stroke-width='3'/><text x='" << W - R + 46 << "' y='"
          << ly + 4 << "'>" << name << "</text>\n";
        ly += 20;
    }
    f << "</svg>\n";
}

} // namespace

int main(int argc, char** argv) {
    bool quick = false;
    int rounds = 0;
    std::string svg;
    std::string baseline;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--quick") {
            quick = true;
        } else if (a == "--rounds" && i + 1 < argc) {
            rounds = std::atoi(argv[++i]);
        } else if (a == "--svg" && i + 1 < argc) {
            svg = fs::absolute(argv[++i]).string();
        } else if (a == "--baseline" && i + 1 < argc) {
            baseline = fs::canonical(argv[++i]).string();
        } else {
            std::fprintf(stderr, "usage: %s [--quick] [--rounds N] [--svg FILE] [--baseline EXE]\n",
                         argv[0]);
            return 2;
        }
    }
    if (rounds <= 0) rounds = quick ? 3 : 15;
    const std::string vortle = fs::canonical(VORTLE_EXE).string();
    const std::string empty = fs::canonical(BENCH_EMPTY).string();
    const std::string hello = fs::canonical(BENCH_HELLO).string();
    launcher = fs::canonical(BENCH_EXEC).string();
    const fs::path sample =
        fs::path(VORTLE_SOURCE_DIR) / "examples" / "lpc1768-blinky" / "blinky.elf";
    const bool objcopy = OnPath("arm-none-eabi-objcopy");

    const fs::path dir = fs::temp_directory_path() / ("vortle-bench-" + std::to_string(getpid()));
    fs::create_directories(dir);
    if (chdir(dir.c_str()) != 0) return 1;
    std::fprintf(stderr, "generating inputs in %s\n", dir.c_str());
    fs::copy_file(sample, dir / "sample.elf");
    for (const char* ext : {"hex", "bin"}) {
        fs::copy_file(fs::path(sample).replace_extension(ext),
                      dir / ("sample." + std::string(ext)));
    }
    const std::vector<uint64_t> patchSizes =
        quick ? std::vector<uint64_t>{KiB, MiB}
              : std::vector<uint64_t>{KiB, MiB, 16 * MiB, 256 * MiB, GiB};
    const std::vector<uint64_t> imageSizes =
        quick ? std::vector<uint64_t>{MiB} : std::vector<uint64_t>{MiB, 16 * MiB, 256 * MiB, GiB};
    const std::vector<uint32_t> phCounts =
        quick ? std::vector<uint32_t>{4096, 65535} : std::vector<uint32_t>{4096, 16384, 65535};
    for (uint64_t s : patchSizes) MakeFirmware("fw-" + std::to_string(s) + ".elf", s);
    for (uint32_t n : phCounts) MakeHeaders("ph-" + std::to_string(n) + ".elf", n);

    std::vector<Job> jobs;
    const auto rm = [](std::string f) { return [f] { std::remove(f.c_str()); }; };
    jobs.push_back(MakeJob("process floor", "empty static C program", {empty}));
    jobs.push_back(MakeJob("process floor", "dynamic C++ hello", {hello}));
    // The sample's vector table is the segment at offset 0x100 of the file.
    const auto firmware = [&](const std::string& name, const std::string& label, uint32_t at) {
        const std::string base = name.substr(0, name.size() - 4);
        jobs.push_back(
            MakeJob("firmware", "vortle " + label + " BINARY", {vortle, name, "BINARY"}, [=] {
                Unsign(name, at);
                std::remove((base + ".BIN").c_str());
            }));
        if (objcopy) {
            jobs.push_back(MakeJob("firmware", "objcopy -O binary " + label,
                                   {"arm-none-eabi-objcopy", "-O", "binary", name, "obj.bin"},
                                   rm("obj.bin")));
        }
    };
    firmware("sample.elf", "sample firmware", 0x100);
    // The same firmware as a HEX file and a raw image, signed in place.
    fs::copy_file("sample.hex", "sample.hex.orig");
    jobs.push_back(MakeJob("firmware", "vortle sample.hex", {vortle, "sample.hex"},
                           [] { RestoreHead("sample.hex", "sample.hex.orig"); }));
    jobs.push_back(MakeJob("firmware", "vortle sample.bin", {vortle, "sample.bin"},
                           [] { Unsign("sample.bin", 0); }));
    // HEX: a large image written as HEX, and that HEX file signed in place.
    const uint64_t hexSize = quick ? MiB : 16 * MiB;
    const std::string hexElf = "fw-" + std::to_string(hexSize) + ".elf";
    if (std::system((vortle + " " + hexElf + " 'HEX(big.hex)' >/dev/null").c_str()) != 0) return 1;
    fs::copy_file("big.hex", "big.hex.orig");
    const uint64_t bigHex = fs::file_size("big.hex");
    jobs.push_back(
        MakeJob("hex", "vortle HEX, " + SizeText(hexSize), {vortle, hexElf, "HEX(o.hex)"}, [=] {
            Unsign(hexElf, kPayload);
            std::remove("o.hex");
        }));
    jobs.push_back(MakeJob("hex", "vortle big.hex in place", {vortle, "big.hex"},
                           [] { RestoreHead("big.hex", "big.hex.orig"); }));
    if (objcopy) {
        jobs.push_back(MakeJob("hex", "objcopy -O ihex, " + SizeText(hexSize),
                               {"arm-none-eabi-objcopy", "-O", "ihex", hexElf, "obj.hex"},
                               rm("obj.hex")));
        jobs.push_back(
            MakeJob("hex", "objcopy -I ihex -O binary big.hex",
                    {"arm-none-eabi-objcopy", "-I", "ihex", "-O", "binary", "big.hex", "obj.bin"},
                    rm("obj.bin")));
    }
    // S-records: the same image written as S-records, and that file signed in place.
    if (std::system((vortle + " " + hexElf + " 'SREC(big.srec)' >/dev/null").c_str()) != 0)
        return 1;
    fs::copy_file("big.srec", "big.srec.orig");
    const uint64_t bigSrec = fs::file_size("big.srec");
    jobs.push_back(
        MakeJob("srec", "vortle SREC, " + SizeText(hexSize), {vortle, hexElf, "SREC(o.srec)"}, [=] {
            Unsign(hexElf, kPayload);
            std::remove("o.srec");
        }));
    jobs.push_back(MakeJob("srec", "vortle big.srec in place", {vortle, "big.srec"},
                           [] { RestoreHead("big.srec", "big.srec.orig"); }));
    if (objcopy) {
        jobs.push_back(MakeJob("srec", "objcopy -O srec, " + SizeText(hexSize),
                               {"arm-none-eabi-objcopy", "-O", "srec", hexElf, "obj.srec"},
                               rm("obj.srec")));
        jobs.push_back(
            MakeJob("srec", "objcopy -I srec -O binary big.srec",
                    {"arm-none-eabi-objcopy", "-I", "srec", "-O", "binary", "big.srec", "obj.bin"},
                    rm("obj.bin")));
    }
    // Text inputs whose every record is a run of its own: the bookkeeping at its largest.
    const uint32_t orderedRecords = quick ? 100000 : 2000000;
    const std::vector<std::string> orders{"descending.hex", "random.hex",      "even-odd.hex",
                                          "ascending.srec", "descending.srec", "random.srec"};
    std::vector<uint64_t> orderedSize;
    for (const std::string& name : orders) {
        const std::string order = name.substr(0, name.find('.'));
        TextInOrder(name + ".orig", order, orderedRecords, name.ends_with(".srec"));
        orderedSize.push_back(fs::file_size(name + ".orig"));
        jobs.push_back(MakeJob(name.ends_with(".srec") ? "srec" : "hex",
                               "vortle " + name + " in place", {vortle, name}, [=] {
                                   fs::copy_file(name + ".orig", name,
                                                 fs::copy_options::overwrite_existing);
                               }));
    }
    firmware("fw-" + std::to_string(MiB) + ".elf", "1 MiB firmware", kPayload);
    for (uint64_t s : patchSizes) {
        const std::string name = "fw-" + std::to_string(s) + ".elf";
        jobs.push_back(MakeJob(
            "patch only", "vortle, " + SizeText(s), {vortle, name}, [=] { Unsign(name, kPayload); },
            s, "vortle (patch only)"));
    }
    for (uint64_t s : imageSizes) {
        const std::string name = "fw-" + std::to_string(s) + ".elf";
        const std::string base = "fw-" + std::to_string(s);
        jobs.push_back(MakeJob(
            "image", "vortle BINARY, " + SizeText(s), {vortle, name, "BINARY"},
            [=] {
                Unsign(name, kPayload);
                std::remove((base + ".BIN").c_str());
            },
            s, "vortle BINARY"));
        jobs.push_back(MakeJob("image", "cp, " + SizeText(s), {"cp", name, "copy.bin"},
                               rm("copy.bin"), s, "cp"));
        if (objcopy) {
            jobs.push_back(MakeJob("image", "objcopy -O binary, " + SizeText(s),
                                   {"arm-none-eabi-objcopy", "-O", "binary", name, "obj.bin"},
                                   rm("obj.bin"), s, "objcopy -O binary"));
        }
    }
    for (uint32_t n : phCounts) {
        const std::string name = "ph-" + std::to_string(n) + ".elf";
        jobs.push_back(MakeJob("program headers", "vortle, " + std::to_string(n) + " headers",
                               {vortle, name}));
    }

    if (!baseline.empty()) {
        const size_t n = jobs.size();
        for (size_t i = 0; i < n; ++i) {
            if (jobs[i].argv[0] != vortle ||
                (jobs[i].group != "firmware" && jobs[i].group != "hex"))
                continue;
            Job twin = jobs[i];
            twin.argv[0] = baseline;
            twin.label += " [baseline]";
            twin.series.clear();
            jobs.push_back(twin);
        }
    }
    // Runs on large files first write their images back: the small runs go first, on a quiet
    // disk, then the image runs. Within each phase the runs are interleaved.
    for (const bool images : {false, true}) {
        sync();
        for (Job& j : jobs) {
            if ((j.group == "image") == images) RunOnce(j, true); // warm-up, peak memory
        }
        for (int r = 0; r < rounds; ++r) {
            for (Job& j : jobs) {
                if ((j.group == "image") == images) j.ms.push_back(RunOnce(j));
            }
        }
    }
    fs::current_path(fs::temp_directory_path());
    fs::remove_all(dir);

    const auto find = [&](const std::string& label) -> const Job* {
        for (const Job& j : jobs) {
            if (j.label == label) return &j;
        }
        return nullptr;
    };
    std::printf("| group | run | min ms | median ms | max RSS KiB |\n|---|---|---:|---:|---:|\n");
    bool anyFailed = false;
    for (const Job& j : jobs) {
        std::printf("| %s | %s%s | %.3f | %.3f | %ld |\n", j.group.c_str(), j.label.c_str(),
                    j.failed ? " (FAILED)" : "", Min(j), Median(j), j.rssKb);
        anyFailed |= j.failed;
    }

    std::printf("\n| target | measured (medians) | goal | met |\n|---|---|---|---|\n");
    const auto target = [](const std::string& what, double value, const char* goal, bool met) {
        std::printf("| %s | %.2f | %s | %s |\n", what.c_str(), value, goal, met ? "yes" : "no");
    };
    const Job* floor = find("empty static C program");
    for (const std::string fw : {"sample firmware", "1 MiB firmware"}) {
        const Job* v = find("vortle " + fw + " BINARY");
        target("vortle " + fw + " BINARY / empty static program", Median(*v) / Median(*floor),
               "<= 1.2", Median(*v) / Median(*floor) <= 1.2);
        if (const Job* o = find("objcopy -O binary " + fw)) {
            target("vortle " + fw + " BINARY / objcopy", Median(*v) / Median(*o), "<= 0.5",
                   Median(*v) / Median(*o) <= 0.5);
        }
    }
    for (const std::string fmt : {"hex", "bin"}) {
        const Job* v = find("vortle sample." + fmt);
        const Job* e = find("vortle sample firmware BINARY");
        target("vortle sample." + fmt + " / sample ELF run", Median(*v) / Median(*e), "<= 1.2",
               Median(*v) / Median(*e) <= 1.2);
    }
    const Job* hexW = find("vortle HEX, " + SizeText(hexSize));
    const Job* hexS = find("vortle big.hex in place");
    if (const Job* o = find("objcopy -O ihex, " + SizeText(hexSize))) {
        target("vortle HEX / objcopy -O ihex, " + SizeText(hexSize), Median(*hexW) / Median(*o),
               "<= 0.5", Median(*hexW) / Median(*o) <= 0.5);
    }
    if (const Job* o = find("objcopy -I ihex -O binary big.hex")) {
        target("vortle big.hex (" + SizeText(bigHex) + ") / objcopy -I ihex -O binary",
               Median(*hexS) / Median(*o), "<= 0.25", Median(*hexS) / Median(*o) <= 0.25);
    }
    target("peak RSS of big.hex in place - its size, MiB",
           (static_cast<double>(hexS->rssKb) * 1024 - static_cast<double>(bigHex)) / MiB, "<= 8",
           static_cast<double>(hexS->rssKb) * 1024 <= static_cast<double>(bigHex + 8 * MiB));
    const Job* srecW = find("vortle SREC, " + SizeText(hexSize));
    const Job* srecS = find("vortle big.srec in place");
    if (const Job* o = find("objcopy -O srec, " + SizeText(hexSize))) {
        target("vortle SREC / objcopy -O srec, " + SizeText(hexSize), Median(*srecW) / Median(*o),
               "<= 0.5", Median(*srecW) / Median(*o) <= 0.5);
    }
    if (const Job* o = find("objcopy -I srec -O binary big.srec")) {
        target("vortle big.srec (" + SizeText(bigSrec) + ") / objcopy -I srec -O binary",
               Median(*srecS) / Median(*o), "<= 0.25", Median(*srecS) / Median(*o) <= 0.25);
    }
    target("peak RSS of big.srec in place - its size, MiB",
           (static_cast<double>(srecS->rssKb) * 1024 - static_cast<double>(bigSrec)) / MiB, "<= 8",
           static_cast<double>(srecS->rssKb) * 1024 <= static_cast<double>(bigSrec + 8 * MiB));
    for (size_t i = 0; i < orders.size(); ++i) {
        const Job* j = find("vortle " + orders[i] + " in place");
        const double over = static_cast<double>(j->rssKb) * 1024 -
                            static_cast<double>(orderedSize[i]) - 16.0 * orderedRecords;
        target("peak RSS of " + orders[i] + " (" + SizeText(orderedSize[i]) + ", " +
                   std::to_string(orderedRecords) + " runs) - size - 16 B a run, MiB",
               over / MiB, "<= 8", over <= 8.0 * MiB);
    }
    const Job* p0 = find("vortle, " + SizeText(patchSizes.front()));
    const Job* p1 = find("vortle, " + SizeText(patchSizes.back()));
    target("patch " + SizeText(patchSizes.back()) + " / patch " + SizeText(patchSizes.front()),
           Median(*p1) / Median(*p0), "<= 2", Median(*p1) / Median(*p0) <= 2);
    const std::string big = SizeText(imageSizes.back());
    const Job* vb = find("vortle BINARY, " + big);
    const Job* cb = find("cp, " + big);
    target("throughput of vortle BINARY / cp, " + big, Median(*cb) / Median(*vb), ">= 0.8",
           Median(*cb) / Median(*vb) >= 0.8);
    if (const Job* ob = find("objcopy -O binary, " + big)) {
        target("vortle BINARY / objcopy, " + big, Median(*vb) / Median(*ob), "< 1",
               Median(*vb) < Median(*ob));
    }
    // The cost a header beyond the process, at the largest count and at the one before; the
    // smallest count's share is too small to tell from the start's jitter.
    const uint32_t n0 = phCounts[phCounts.size() - 2];
    const uint32_t n1 = phCounts.back();
    const Job* h0 = find("vortle, " + std::to_string(n0) + " headers");
    const Job* h1 = find("vortle, " + std::to_string(n1) + " headers");
    const double per0 = (Median(*h0) - Median(*p0)) / n0;
    const double per1 = (Median(*h1) - Median(*p0)) / n1;
    // A cost lost in the start's jitter (a quick run) is no measurement: never "met".
    const bool measured = per0 > 0 && per1 > 0;
    target("cost a header at " + std::to_string(n1) + " / at " + std::to_string(n0) + " headers" +
               (measured ? "" : " (lost in the jitter: not measured)"),
           measured ? per1 / per0 : 0, "<= 1.5 (linear)", measured && per1 / per0 <= 1.5);
    if (measured) {
        std::printf("| cost a header at %u headers, us | %.3f | - | - |\n", n1, per1 * 1000);
    }
    long rss = 0;
    for (const Job& j : jobs) {
        if (j.group == "patch only") rss = std::max(rss, j.rssKb);
    }
    target("peak RSS of a patch-only run, MiB", static_cast<double>(rss) / 1024.0, "< 4",
           rss < 4 * 1024);
    std::printf("\n%d rounds, runs interleaved; %s.\n", rounds,
                objcopy ? "objcopy is arm-none-eabi-objcopy"
                        : "arm-none-eabi-objcopy not installed");
    if (!svg.empty()) WriteSvg(svg, jobs);
    return anyFailed ? 1 : 0;
}

// Test support: a small ELF builder, temporary folders, file helpers and a runner for the
// built executable.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace vt {

using Bytes = std::vector<uint8_t>;
namespace fs = std::filesystem;

// Offsets of ELF header fields.
constexpr uint32_t kEiData = 5, kType = 16, kMachine = 18, kPhoff = 28, kShoff = 32, kPhnum = 44,
                   kShnum = 48, kShstrndx = 50;

struct Segment {
    uint32_t type = 1; // PT_LOAD
    uint32_t paddr = 0;
    uint32_t vaddr = 0;
    uint32_t flags = 5;    // readable, executable
    Bytes data;            // file bytes
    uint32_t memExtra = 0; // memory bytes beyond the file bytes
    int64_t offset = -1;   // file offset; -1 places the data after the program headers
    int64_t filesz = -1;   // -1: the data's size
};

// A readable, executable segment of the given bytes at paddr (and vaddr).
Segment Code(uint32_t paddr, Bytes data);
// A read-write segment at file offset 0 whose memory exceeds its 40 file bytes: the tool
// treats it as purely zero-filled.
Segment ZeroFilled();

// A section header that describes bytes of a segment: they start delta bytes into the data of
// segment seg.
struct Section {
    uint32_t type = 1;  // SHT_PROGBITS
    uint32_t flags = 6; // allocated, executable
    size_t seg = 0;
    uint32_t delta = 0;
    uint32_t size = 32;
};

struct Elf {
    bool big = false;
    uint16_t type = 2;
    uint16_t machine = 40;
    std::vector<Segment> segs;
    std::string strName = ".shstrtab"; // name of the section-name string table
    uint32_t strType = 3;
    bool phoffZero = false;
    std::vector<Section> secs{}; // after the null section and the string table

    Bytes Build() const;
};

// Field access in the byte order of the file.
// The smallest executable the tool signs: one code segment at 0 holding a 16-word vector table.
Bytes MinimalElf();

uint32_t Get32(const Bytes& b, size_t off, bool big = false);
void Put32(Bytes& b, size_t off, uint32_t v, bool big = false);
void Put16(Bytes& b, size_t off, uint16_t v, bool big = false);

// A vector table of n words: word i is base + 0x101 * i.
Bytes Vectors(size_t words, uint32_t base = 0x10008000);
// The signature that makes the first eight little-endian words sum to zero.
uint32_t SigOf(const Bytes& b, size_t at = 0);

// A fresh empty folder below the system's temporary folder, removed with the object.
struct TempDir {
    fs::path path;
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    fs::path operator/(const std::string& name) const { return path / name; }
};

// Text as the tool wrote it to standard output, with Windows line ends as "\n".
std::string Lf(const std::string& text);

// A folder of a fixed name for a death test: its child process, which runs the test body
// again on some systems, finds the same folder.
fs::path DeathDir(const std::string& name);

void WriteFile(const fs::path& p, const Bytes& b);
void WriteText(const fs::path& p, const std::string& text);
std::string ReadText(const fs::path& p);
// True when the command runs and succeeds (a shell line; output discarded).
bool Succeeds(const std::string& command);
Bytes ReadFile(const fs::path& p);
// True when this process still holds the file open or mapped.
bool Holds(const fs::path& p);

// The tool's path as the tool reports it.
std::string VortlePath();

struct RunResult {
    int code = -1;
    std::string out;
    std::string err; // standard error
};
// Runs the built tool in dir with the given arguments.
RunResult RunVortle(const fs::path& dir, const std::vector<std::string>& args,
                    const std::string& exe = VortlePath());

#ifdef _WIN32
// UTF-8 text as Windows' wide-character calls take it.
std::wstring Wide(const std::string& utf8);
constexpr const char* kNullDevice = "NUL";
constexpr const char* kExeSuffix = ".exe";
#else
constexpr const char* kNullDevice = "/dev/null";
constexpr const char* kExeSuffix = "";
#endif

// The banner, as every run prints it first.
extern const std::string kBanner;
// The completion line of a run without errors.
extern const std::string kDone;
// The status line; an ARM-state table sums all eight words and keeps the signature at 0x14.
std::string Status(bool updated, uint32_t start, uint32_t sig, bool arm = false);
// The report of a fatal code-1 error whose echo is the tool's path and echoTail.
std::string CmdReport(const std::string& echoTail, const std::string& error);
// The same with the whole echo given.
std::string CmdReportEcho(const std::string& echo, const std::string& error);
// A three-line fatal report.
std::string Report(const std::string& header, const std::string& detail);

} // namespace vt

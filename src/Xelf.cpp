#include "Xelf.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <initializer_list>

#include "Alloc.h"
#include "Argums.h"
#include "Crp.h"
#include "Diag.h"
#include "Hex.h"
#include "Vortle.h"

Signa signa;
char szStat[kStatCap];
Verdict verdict;
char szWrong[kStatCap];

namespace {

// ---- Signature range --------------------------------------------------------------------

constexpr uint8_t kModeWidth4 = 0x04; // 32-bit units
constexpr uint8_t kModeTail4 = 0x40;  // a missing range is reported up to the signature word
constexpr uint32_t kRangeLast = 24;   // offset of the last word summed
constexpr uint32_t kSigOffset = 28;   // offset of the signature word

void SetRange(uint32_t base) {
    signa.mode = static_cast<uint8_t>((signa.mode & 0xF0) | kModeWidth4);
    signa.mode = static_cast<uint8_t>((signa.mode & 0x0F) | kModeTail4);
    signa.start = base;
    signa.end = base + kRangeLast;
    signa.position = base + kSigOffset;
}

// ---- ELF header and section table -------------------------------------------------------

constexpr uint16_t kExec = 2;     // ET_EXEC
constexpr uint16_t kMachine = 40; // the ARM machine number
constexpr uint8_t kBigEndian = 2; // EI_DATA for big-endian files
constexpr uint32_t kShEntry = 40; // section header entry size
constexpr uint32_t kStrTab = 3;   // SHT_STRTAB
constexpr int kStrPad = 16;       // zero bytes behind the string-table copy
constexpr char kShStrTab[] = ".shstrtab";
constexpr const char* kInputs =
    "vortle takes ELF files, Intel HEX files (first character ':') and raw images named *.bin";
constexpr const char* kNoElfHeader =
    "the ELF header (it is no ELF file: vortle takes ELF files, Intel HEX files (first "
    "character ':') and raw images named *.bin)";

Ehdr ehdr;

// The ELF file is refused: says which test it failed.
void RefuseElf(const char* why) {
    Why(bom.inName, "not a usable ELF file: %s", why);
    mcx.err = kErrRefused;
}

int LocateShStrTab() {
    Reading("the section-name string table");
    mcx.strTab = nullptr;
    mcx.strOff = 0;
    mcx.strSize = 0;
    if (mcx.hdr.e_shstrndx >= mcx.hdr.e_shnum) {
        RefuseElf("the index of its section-name string table lies outside the section table");
        return 0;
    }
    // The entry is still in the file's byte order.
    const uint8_t* entry = mcx.shdr + mcx.hdr.e_shstrndx * kShEntry;
    const uint32_t shName = MakeW32(Load32(entry + 0));
    const uint32_t shType = MakeW32(Load32(entry + 4));
    const uint32_t shOffset = MakeW32(Load32(entry + 16));
    const uint32_t shSize = MakeW32(Load32(entry + 20));
    if (shType != kStrTab) {
        RefuseElf("its section-name string table is no string table");
        return 0;
    }
    // The section's own name must lie inside the file, NUL included.
    const uint64_t namePos = static_cast<uint64_t>(shOffset) + shName;
    if (namePos >= xfi.size) {
        RefuseElf("the name of its section-name string table lies outside the file");
        return 0;
    }
    SetPos(static_cast<uint32_t>(namePos));
    const uint64_t left = xfi.size - namePos;
    if (std::memchr(pBuf, 0, left) == nullptr ||
        std::strcmp(reinterpret_cast<const char*>(pBuf), kShStrTab) != 0) {
        RefuseElf("its section-name string table is not named .shstrtab");
        return 0;
    }
    mcx.strOff = shOffset;
    mcx.strSize = shSize;
    // The table's range is tested before its copy is taken from the pool.
    Span(shOffset, shSize);
    mcx.strTab = static_cast<char*>(GetMem(static_cast<int>(shSize + kStrPad), 1));
    Read(mcx.strTab, shSize);
    return 1;
}

// ---- The ELF input ---------------------------------------------------------------------

constexpr uint32_t kLoad = 1;      // PT_LOAD
constexpr uint32_t kPhEntry = 32;  // program header entry size
constexpr uint32_t kExecBit = 1;   // PF_X
constexpr uint32_t kRwOnly = 6;    // PF_R | PF_W without PF_X
constexpr uint32_t kAllocBit = 2;  // SHF_ALLOC
constexpr uint32_t kNoBits = 8;    // SHT_NOBITS
constexpr uint32_t kMinTable = 32; // the smallest section that can start a vector table

struct Phdr {
    uint32_t p_type;
    uint32_t p_offset;
    uint32_t p_vaddr;
    uint32_t p_paddr;
    uint32_t p_filesz;
    uint32_t p_memsz;
    uint32_t p_flags;
    uint32_t p_align;
};
static_assert(sizeof(Phdr) == kPhEntry, "a program header is 32 bytes");

uint8_t* pH;       // program header table in host byte order, pool 1
uint32_t CsActual; // file bytes of the segments that count as loadable
uint32_t phNext;   // the next entry the walk looks at

uint32_t UnitWidth() {
    const uint32_t w = signa.mode & 0x0F;
    return w == 1 || w == 2 ? w : 4;
}

// True when [off, off + len) shares a byte with [at, at + size).
bool Overlaps(uint64_t off, uint64_t len, uint64_t at, uint64_t size) {
    return len != 0 && size != 0 && off < at + size && at < off + len;
}

// True when any of the file bytes [off, off + len) belongs to the ELF header, the program
// header table or the section header table: those bytes are never firmware.
bool InHeaders(uint64_t off, uint64_t len) {
    const Ehdr& h = mcx.hdr;
    const uint64_t ehsize = h.e_ehsize > sizeof(Ehdr) ? h.e_ehsize : sizeof(Ehdr);
    return Overlaps(off, len, 0, ehsize) ||
           Overlaps(off, len, h.e_phoff, static_cast<uint64_t>(h.e_phnum) * kPhEntry) ||
           Overlaps(off, len, h.e_shoff, static_cast<uint64_t>(h.e_shnum) * kShEntry);
}

// True when section i is allocated and holds at least min bytes in the file; its file offset
// then goes to off.
bool AllocatedBytes(uint32_t i, uint32_t min, uint64_t& off) {
    const uint8_t* entry = mcx.shdr + i * kShEntry;
    off = Load32(entry + 16);
    return (Load32(entry + 8) & kAllocBit) != 0 && Load32(entry + 4) != kNoBits &&
           Load32(entry + 20) >= min;
}

// True when an allocated section with file bytes, large enough for a vector table, begins at
// file offset off.
bool SectionStartsAt(uint64_t off) {
    uint64_t at;
    for (uint32_t i = 0; i < mcx.hdr.e_shnum; ++i) {
        if (AllocatedBytes(i, kMinTable, at) && at == off) return true;
    }
    return false;
}

// True when the segment holds the whole range and the whole signature unit in its file bytes:
// either the segment starts at the range, or the range starts an allocated section inside it.
// Bytes that the ELF headers occupy never hold it.
bool ElfHolds(const Piece& p, uint32_t lo, uint64_t hi) {
    const uint32_t w = UnitWidth();
    const uint32_t limit = signa.end + (signa.mode & 0x0F) - signa.start;
    const uint64_t segEnd = static_cast<uint64_t>(p.addr) + p.len;
    if (p.len == 0 || static_cast<uint64_t>(signa.end) + w > segEnd ||
        static_cast<uint64_t>(signa.position) + w > segEnd) {
        return false;
    }
    const uint64_t rangeAt = static_cast<uint64_t>(p.fileOff) + (signa.start - p.addr);
    if (p.addr == signa.start) {
        if (!(signa.start < signa.end && p.len > limit)) return false;
    } else if (p.addr > signa.start || !SectionStartsAt(rangeAt)) {
        return false;
    }
    return lo >= p.addr && !InHeaders(static_cast<uint64_t>(p.fileOff) + (lo - p.addr), hi - lo);
}

// How many of the segment's first file bytes stay out of the image: where a linker put the
// ELF headers at the start of a segment, they and the padding behind them up to the first
// allocated section are no firmware (all of the segment when no such section follows).
uint32_t ImageSkip(const Phdr& ph) {
    if (ph.p_filesz == 0 || !InHeaders(ph.p_offset, 1)) return 0;
    const uint64_t from = ph.p_offset;
    uint64_t first = from + ph.p_filesz;
    uint64_t at;
    for (uint32_t i = 0; i < mcx.hdr.e_shnum; ++i) {
        if (AllocatedBytes(i, 1, at) && at >= from && at < first) first = at;
    }
    return static_cast<uint32_t>(first - from);
}

// The PT_LOAD segments in table order, with their file bytes.
bool ElfNext(Piece& p) {
    const uint32_t n = mcx.hdr.e_phnum;
    for (; phNext < n; ++phNext) {
        Phdr ph;
        std::memcpy(&ph, pH + phNext * kPhEntry, sizeof ph);
        if (ph.p_type != kLoad) continue;
        ++phNext;
        p = Piece{ph.p_paddr, ph.p_filesz, ImageSkip(ph), ph.p_offset};
        return true;
    }
    return false;
}

// Pieces whose bytes stand in the mapped file as they are: the whole piece must lie inside
// the file, and a piece without bytes is never read.
void MappedRead(const Piece& p, uint32_t addr, uint8_t* dst, uint32_t len) {
    std::memcpy(dst, Span(p.fileOff, p.len) + (addr - p.addr), len);
}

void MappedStore(const Piece& p, uint32_t addr, const uint8_t* src, uint32_t len) {
    std::memcpy(Span(p.fileOff, p.len) + (addr - p.addr), src, len);
}

void MappedEmit(const Piece& p, ImageSink sink) {
    if (p.len == 0) return;
    const uint8_t* bytes = Span(p.fileOff, p.len);
    sink(bytes + p.skip, p.len - p.skip, static_cast<int64_t>(p.fileOff) + p.skip);
}

void ElfRewind() {
    phNext = 0;
}

// The image bytes of a piece that stands in the mapped file, when the file holds all of it.
bool MappedHas(const Piece& p, uint32_t addr, uint32_t len) {
    return addr >= static_cast<uint64_t>(p.addr) + p.skip &&
           static_cast<uint64_t>(addr) + len <= static_cast<uint64_t>(p.addr) + p.len &&
           static_cast<uint64_t>(p.fileOff) + p.len <= xfi.size;
}

constexpr Firmware kElfFirmware{ElfNext,    ElfRewind,   ElfHolds,  MappedHas,
                                MappedRead, MappedStore, MappedEmit};

// Reads the program header table; the ELF input, or null when there is none (no table, or
// the file is refused and the error number says so).
const Firmware* ReadProgHeader() {
    if (mcx.hdr.e_phoff == 0) return nullptr;
    Reading("the program header table");
    CsActual = 0;
    const uint32_t n = mcx.hdr.e_phnum;
    // A table that does not fit into the file ends the pass before its memory is taken.
    Span(mcx.hdr.e_phoff, n * kPhEntry);
    pH = static_cast<uint8_t*>(GetMem(static_cast<int>((n + 1) * kPhEntry), 1));
    SetPos(mcx.hdr.e_phoff);
    for (uint32_t i = 0; i < n; ++i) {
        uint32_t word[8];
        for (uint32_t& v : word) v = MakeW32(ReadW32());
        Phdr ph;
        std::memcpy(&ph, word, sizeof ph);
        // A read-write segment at file offset 0 that is mostly zero-filled keeps no file bytes.
        if (ph.p_offset == 0 && ph.p_paddr == ph.p_vaddr && ph.p_filesz < ph.p_memsz &&
            (ph.p_flags & 7) == kRwOnly) {
            ph.p_paddr += ph.p_filesz;
            ph.p_vaddr += ph.p_filesz;
            ph.p_memsz -= ph.p_filesz;
            ph.p_filesz = 0;
        }
        if (ph.p_memsz != 0 &&
            ((ph.p_flags & kExecBit) != 0 || (ph.p_paddr == 0 && ph.p_type == kLoad))) {
            CsActual += ph.p_filesz;
        }
        std::memcpy(pH + i * kPhEntry, &ph, sizeof ph);
    }
    if (CsActual == 0) {
        RefuseElf("no loadable segment holds file bytes of firmware");
        return nullptr;
    }
    return &kElfFirmware;
}

const Firmware* ElfInput() {
    ReadElfHeader();
    if (mcx.err == 0) ReadElfSections();
    return mcx.err == 0 ? ReadProgHeader() : nullptr;
}

// ---- The raw binary input ---------------------------------------------------------------

bool binGiven; // the one piece has been handed out

// The whole file, loaded at address 0.
bool BinNext(Piece& p) {
    if (binGiven) return false;
    binGiven = true;
    p = Piece{0, xfi.size, 0, 0};
    return true;
}

void BinRewind() {
    binGiven = false;
}

constexpr Firmware kBinFirmware{BinNext,    BinRewind,   InsidePiece, MappedHas,
                                MappedRead, MappedStore, MappedEmit};

const Firmware* BinInput() {
    return &kBinFirmware;
}

// True when the name's extension is "bin" in any case.
bool BinName(const char* name) {
    const char* dot = std::strrchr(name, '.');
    if (dot == nullptr || std::strpbrk(dot, "/\\") != nullptr) return false;
    return std::strlen(dot) == 4 && std::toupper(static_cast<unsigned char>(dot[1])) == 'B' &&
           std::toupper(static_cast<unsigned char>(dot[2])) == 'I' &&
           std::toupper(static_cast<unsigned char>(dot[3])) == 'N';
}

// The input's format: raw binary when it is no ELF file and its name ends in .bin (its first
// word may well start with ':'), HEX when it starts with ':', else ELF.
const Firmware* OpenInput() {
    BigEnd = 0;
    const uint8_t* head = Span(0, 1);
    constexpr uint8_t kMagic[4] = {0x7F, 'E', 'L', 'F'};
    const bool elf = xfi.size >= sizeof kMagic && std::memcmp(head, kMagic, sizeof kMagic) == 0;
    if (!elf && BinName(bom.inName)) return BinInput();
    if (head[0] == ':') return &HexInput();
    return ElfInput();
}

// ---- The signature pass -----------------------------------------------------------------

constexpr const char* kStatUpdated = "Updated ";
constexpr const char* kStat8 = "Signature over Range[8] (0x%08X - 0x%08X): @0x%08X = 0x%08X";
constexpr const char* kStat16 = "Signature over Range[16] (0x%08X - 0x%08X): @0x%08X = 0x%04X";
constexpr const char* kStat32 = "Signature over Range[32] (0x%08X - 0x%08X): @0x%08X = 0x%08X";
constexpr const char* kStatWrong = "Wrong ";
constexpr const char* kExpected = ", expected 0x%08X";
constexpr const char* kExpected16 = ", expected 0x%04X";
constexpr const char* kNotFound = "Range not found: 0x%08X - 0x%08X";
constexpr const char* kCrp3Refused =
    "Code Read Protection CRP3 at 0x%08X locks the part for good (give CRP3 to accept)";
constexpr uint32_t kArmLast = 0x1C; // ARM-state table: offset of the last word summed
constexpr uint32_t kArmSig = 0x14;  // and of its reserved signature word
constexpr uint32_t kWindow = 64;    // the most bytes a range and its signature unit span

uint32_t LoadUnit(const uint8_t* p, uint32_t w) {
    uint32_t v = 0;
    for (uint32_t i = 0; i < w; ++i) v |= static_cast<uint32_t>(p[i]) << (8 * i);
    return v;
}

void StoreUnit(uint8_t* p, uint32_t w, uint32_t v) {
    for (uint32_t i = 0; i < w; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

// Where one piece's signature goes: the first and last unit summed and the signature unit.
struct Layout {
    uint32_t start;
    uint32_t end;
    uint32_t position;
};

// True for an ARM-state exception table: a branch or a PC load as its first word.
bool ArmTable(const uint8_t* first, uint32_t w) {
    if (w != 4) return false;
    const uint32_t word = MakeW32(Load32(first));
    return (word & 0xFF000000u) == 0xEA000000u || (word & 0xFFFFF000u) == 0xE59FF000u;
}

// An ARM-state table keeps its checksum in the reserved word 0x14 and sums all eight words;
// any other table takes the configured range.
Layout LayoutOf(const uint8_t* first, uint32_t w) {
    if (ArmTable(first, w)) return {signa.start, signa.start + kArmLast, signa.start + kArmSig};
    return {signa.start, signa.end, signa.position};
}

// The load addresses that the range and its signature unit cover: lo..hi, hi exclusive.
uint32_t WindowLo() {
    return signa.position < signa.start ? signa.position : signa.start;
}

uint64_t WindowHi() {
    const uint32_t last = signa.position > signa.end ? signa.position : signa.end;
    return static_cast<uint64_t>(last) + UnitWidth();
}

// Sums the range in the piece and stores the signature when it differs.
void Patch(const Firmware& in, const Piece& p) {
    const uint32_t w = UnitWidth();
    const uint32_t lo = WindowLo();
    uint8_t win[kWindow];
    in.read(p, lo, win, static_cast<uint32_t>(WindowHi() - lo));
    const Layout r = LayoutOf(win + (signa.start - lo), w);
    const uint32_t mask = w == 4 ? 0xFFFFFFFFu : (1u << (8 * w)) - 1;
    uint32_t sum = 0;
    for (uint64_t a = r.start; a <= r.end; a += w) {
        if (a == r.position) continue;
        sum += LoadUnit(win + (a - lo), w);
    }
    const uint32_t sig = (0u - sum) & mask;
    uint8_t* at = win + (r.position - lo);
    const uint32_t stored = LoadUnit(at, w);
    const char* fmt = w == 1 ? kStat8 : w == 2 ? kStat16 : kStat32;
    int n = 0;
    szStat[0] = '\0';
    if (stored != sig && Checking()) {
        verdict = Verdict::WrongSignature;
        const int m = std::snprintf(szWrong, sizeof szWrong, "%s", kStatWrong);
        const int k = std::snprintf(szWrong + m, sizeof szWrong - static_cast<size_t>(m), fmt,
                                    r.start, r.end, r.position, stored);
        std::snprintf(szWrong + m + k, sizeof szWrong - static_cast<size_t>(m + k),
                      w == 2 ? kExpected16 : kExpected, sig);
    } else if (stored != sig) {
        StoreUnit(at, w, sig);
        in.store(p, r.position, at, w);
        n = std::snprintf(szStat, sizeof szStat, "%s", kStatUpdated);
    }
    std::snprintf(szStat + n, sizeof szStat - static_cast<size_t>(n), fmt, r.start, r.end,
                  r.position, sig);
}

// Where the firmware lies and what to try, for a range that no piece holds.
void NotFoundWhy(bool raw, uint64_t low, uint64_t high) {
    const uint32_t last = signa.end + (signa.mode >> 4);
    if (low >= high) {
        Why(bom.inName, "no loadable bytes to sign");
    } else if (raw) {
        Why(bom.inName,
            "0x%08X - 0x%08X lies outside the raw image, which is loaded at 0x00000000 - "
            "0x%08llX: sign a raw image without BASEADDRESS",
            signa.start, last, static_cast<unsigned long long>(high - 1));
    } else if (low != signa.start) {
        Why(bom.inName,
            "no loadable bytes hold 0x%08X - 0x%08X; the firmware lies at 0x%08llX - 0x%08llX: "
            "try BASEADDRESS(0x%llX)",
            signa.start, last, static_cast<unsigned long long>(low),
            static_cast<unsigned long long>(high - 1), static_cast<unsigned long long>(low));
    } else {
        Why(bom.inName,
            "no segment holds all of 0x%08X - 0x%08X in its file bytes (the firmware lies at "
            "0x%08llX - 0x%08llX)",
            signa.start, last, static_cast<unsigned long long>(low),
            static_cast<unsigned long long>(high - 1));
    }
}

[[noreturn]] void ImageFatal(int code) {
    if (code == kImageIo) CheckInput();
    const char* name = ImageFailed();
    Why(name, code == kImageCreate ? "cannot create: %s" : "cannot write: %s", SystemError());
    LoadClear(&xfi);
    ImagesAbandon();
    Fatal(code == kImageCreate ? NFACT::CreateFile : NFACT::IoError, name);
}

void Feed(const uint8_t* bytes, uint32_t len, int64_t fileOff) {
    const int r = ImageData(bytes, len, fileOff);
    if (r != kImageOk) ImageFatal(r);
}

// Before anything is stored or written: the code read protection word of each range the pass
// signs, 0x2FC past a Cortex-M table or 0x1FC past an ARM-state one, wherever it lies.
void GuardCrp(const Firmware& in, uint32_t lo, uint64_t hi) {
    constexpr int kMax = 4;
    uint32_t at[kMax];
    int n = 0;
    Piece p;
    in.rewind();
    while (n < kMax && in.next(p)) {
        if (hi - lo > kWindow || !in.holds(p, lo, hi)) continue;
        uint8_t first[4];
        in.read(p, signa.start, first, sizeof first);
        at[n++] = signa.start + (ArmTable(first, UnitWidth()) ? kCrpArm : kCrpCortex);
    }
    CrpFind(in, at, n);
    uint32_t locked = 0;
    if ((bom.flags & kBomCrp3) == 0 && CrpLocked(locked)) {
        Why(bom.inName,
            "code read protection CRP3 at 0x%08X would lock the part for good; give CRP3 to "
            "accept it",
            locked);
        std::snprintf(szStat, sizeof szStat, kCrp3Refused, locked);
        LoadClear(&xfi);
        Fatal(NFACT::Crp3, szStat);
    }
}

// Every piece in turn: signed when it holds the range, then handed to the images, so that
// a piece written after a signed one sees the signature.
uint32_t Walk(const Firmware& in) {
    const uint32_t lo = WindowLo();
    const uint64_t hi = WindowHi();
    GuardCrp(in, lo, hi);
    const bool images = (bom.flags & (kBomBinary | kBomHex)) != 0;
    uint32_t count = 0;
    uint64_t low = UINT64_MAX; // where the firmware lies, for a range not found
    uint64_t high = 0;
    Piece p;
    Reading("a segment's file bytes");
    while (in.next(p)) {
        if (p.len > p.skip) {
            low = std::min<uint64_t>(low, static_cast<uint64_t>(p.addr) + p.skip);
            high = std::max<uint64_t>(high, static_cast<uint64_t>(p.addr) + p.len);
        }
        if (hi - lo <= kWindow && in.holds(p, lo, hi)) {
            Patch(in, p);
            ++count;
        }
        if (!images) continue;
        int r = ImageBegin(static_cast<uint64_t>(p.addr) + p.skip);
        if (r == kImageOk) {
            in.emit(p, Feed);
            r = ImageEnd();
        }
        if (r != kImageOk) ImageFatal(r);
    }
    if (ImagesClose() != kImageOk) ImageFatal(kImageIo);
    if (count == 0) {
        NotFoundWhy(&in == BinInput(), low, high);
        LoadClear(&xfi);
        std::snprintf(szStat, sizeof szStat, kNotFound, signa.start, signa.end + (signa.mode >> 4));
        Fatal(NFACT::RangeNotFound, szStat);
    }
    return count;
}

// The steps of the pass between the abort point and the release of the file.
void Pass() {
    // A check-only pass opens and maps the file for reading only: it cannot change a byte.
    if (IniLoadFile(&xfi, bom.inName, !Checking()) != 0) {
        LoadClear(&xfi);
        Fatal(NFACT::OpenFile, bom.inName);
    }
    const Firmware* in = OpenInput();
    if (mcx.err != 0) {
        LoadClear(&xfi);
        Fatal(NFACT::InvalidElf, bom.inName);
    }
    if (in != nullptr) Walk(*in);
    LoadClear(&xfi);
}

} // namespace

// ---- Signature range --------------------------------------------------------------------

void Sig_LPC17_13_xx() {
    SetRange(0);
}

void SetSigna(uint32_t value) {
    SetRange(value);
}

// ---- ELF header and section table -------------------------------------------------------

void ClearVariables() {
    mcx = Mcx{};
    xfi = iFi{};
    xfi.hFile = kNoHandle;
    xfi.hMap = kNoHandle;
    pH = nullptr;
}

void ReadElfHeader() {
    constexpr uint8_t kMagic[4] = {0x7F, 'E', 'L', 'F'};
    const bool magic = xfi.size >= 4 && std::memcmp(xfi.view, kMagic, 4) == 0;
    Reading(magic ? "the ELF header" : kNoElfHeader);
    SetPos(0);
    Read(&ehdr, sizeof ehdr);
    BigEnd = 0;
    if (ehdr.e_ident[5] == kBigEndian) {
        BigEnd = 1;
        for (uint16_t* f : {&ehdr.e_type, &ehdr.e_machine}) *f = MakeW16(*f);
        for (uint32_t* f :
             {&ehdr.e_version, &ehdr.e_entry, &ehdr.e_phoff, &ehdr.e_shoff, &ehdr.e_flags}) {
            *f = MakeW32(*f);
        }
        for (uint16_t* f : {&ehdr.e_ehsize, &ehdr.e_phentsize, &ehdr.e_phnum, &ehdr.e_shentsize,
                            &ehdr.e_shnum, &ehdr.e_shstrndx}) {
            *f = MakeW16(*f);
        }
    }
    if (ehdr.e_type != kExec || ehdr.e_machine != kMachine) {
        mcx.err = kErrRefused;
        if (!magic) {
            Why(bom.inName, "no ELF file (it does not start with 0x7F 'ELF'); %s", kInputs);
        } else if (ehdr.e_type != kExec) {
            Why(bom.inName, "not a usable ELF file: its type is %u, an executable's is 2",
                ehdr.e_type);
        } else {
            Why(bom.inName, "not a usable ELF file: its machine is %u, ARM's is 40",
                ehdr.e_machine);
        }
    }
    mcx.hdr = ehdr;
}

void ReadElfSections() {
    Reading("the section header table");
    SetPos(mcx.hdr.e_shoff);
    const uint32_t n = mcx.hdr.e_shnum;
    if (n == 0) {
        RefuseElf("it has no section table");
        return;
    }
    Span(mcx.hdr.e_shoff, n * kShEntry);
    mcx.shdr = static_cast<uint8_t*>(GetMem(static_cast<int>((n + 2) * kShEntry), 1));
    Read(mcx.shdr, n * kShEntry);
    if (LocateShStrTab() == 0) {
        mcx.err = kErrRefused;
        return;
    }
    for (uint32_t i = 0; i < n * kShEntry; i += 4)
        Store32(mcx.shdr + i, MakeW32(Load32(mcx.shdr + i)));
}

// ---- Signature pass ---------------------------------------------------------------------

int Vortle_Reader() {
    ClearVariables();
    ImagesStart();
    if (signa.position == 0) Sig_LPC17_13_xx();
    szStat[0] = '\0';
    szWrong[0] = '\0';
    verdict = Verdict::Right;
    if (ReaderGuard(Pass) != 0) {
        ImagesAbandon();
        LoadClear(&xfi);
        return 1;
    }
    return 0;
}

#include "Xelf.h"

#include <bit>
#include <cstdio>
#include <cstring>
#include <initializer_list>

#include "Alloc.h"
#include "Argums.h"
#include "Vortle.h"

static_assert(std::endian::native == std::endian::little,
              "raw values copied out of the file are read as little-endian");

Signa signa;
iFi xfi;
uint8_t* pBuf;
uint8_t BigEnd;
Mcx mcx;
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

// ---- Mapped image access ----------------------------------------------------------------

// The reader's abort: thrown by the reader only, caught only at the abort point.
struct ReaderAbort {};

[[noreturn]] void Abort() {
    mcx.err = kErrRefused;
    throw ReaderAbort{};
}

uint64_t CurPos() {
    return static_cast<uint64_t>(pBuf - xfi.view);
}

// Positions the reader at off and returns the len bytes there; aborts unless all of them lie
// inside the file.
uint8_t* Span(uint32_t off, uint32_t len) {
    if (static_cast<uint64_t>(off) + len > xfi.size) Abort();
    SetPos(off);
    return pBuf;
}

uint32_t Load32(const uint8_t* p) {
    uint32_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

void Store32(uint8_t* p, uint32_t v) {
    std::memcpy(p, &v, sizeof v);
}

// ---- ELF header and section table -------------------------------------------------------

constexpr uint16_t kExec = 2;     // ET_EXEC
constexpr uint16_t kMachine = 40; // the ARM machine number
constexpr uint8_t kBigEndian = 2; // EI_DATA for big-endian files
constexpr uint32_t kShEntry = 40; // section header entry size
constexpr uint32_t kStrTab = 3;   // SHT_STRTAB
constexpr int kStrPad = 16;       // zero bytes behind the string-table copy
constexpr char kShStrTab[] = ".shstrtab";

Ehdr ehdr;

int LocateShStrTab() {
    mcx.strTab = nullptr;
    mcx.strOff = 0;
    mcx.strSize = 0;
    if (mcx.hdr.e_shstrndx >= mcx.hdr.e_shnum) {
        mcx.err = kErrRefused;
        return 0;
    }
    // The entry is still in the file's byte order.
    const uint8_t* entry = mcx.shdr + mcx.hdr.e_shstrndx * kShEntry;
    const uint32_t shName = MakeW32(Load32(entry + 0));
    const uint32_t shType = MakeW32(Load32(entry + 4));
    const uint32_t shOffset = MakeW32(Load32(entry + 16));
    const uint32_t shSize = MakeW32(Load32(entry + 20));
    if (shType != kStrTab) {
        mcx.err = kErrRefused;
        return 0;
    }
    // The section's own name must lie inside the file, NUL included.
    const uint64_t namePos = static_cast<uint64_t>(shOffset) + shName;
    if (namePos >= xfi.size) {
        mcx.err = kErrRefused;
        return 0;
    }
    SetPos(static_cast<uint32_t>(namePos));
    const uint64_t left = xfi.size - namePos;
    if (std::memchr(pBuf, 0, left) == nullptr ||
        std::strcmp(reinterpret_cast<const char*>(pBuf), kShStrTab) != 0) {
        mcx.err = kErrRefused;
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

// ---- Signature pass and binary image ----------------------------------------------------

constexpr uint32_t kLoad = 1;     // PT_LOAD
constexpr uint32_t kPhEntry = 32; // program header entry size
constexpr uint32_t kExecBit = 1;  // PF_X
constexpr uint32_t kRwOnly = 6;   // PF_R | PF_W without PF_X

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

constexpr const char* kStatUpdated = "Updated ";
constexpr const char* kStat8 = "Signature over Range[8] (0x%08X - 0x%08X): @0x%08X = 0x%08X";
constexpr const char* kStat16 = "Signature over Range[16] (0x%08X - 0x%08X): @0x%08X = 0x%04X";
constexpr const char* kStat32 = "Signature over Range[32] (0x%08X - 0x%08X): @0x%08X = 0x%08X";
constexpr const char* kStatWrong = "Wrong ";
constexpr const char* kExpected = ", expected 0x%08X";
constexpr const char* kExpected16 = ", expected 0x%04X";
constexpr const char* kNotFound = "Range not found: 0x%08X - 0x%08X";

uint32_t UnitWidth() {
    const uint32_t w = signa.mode & 0x0F;
    return w == 1 || w == 2 ? w : 4;
}

uint32_t LoadUnit(const uint8_t* p, uint32_t w) {
    uint32_t v = 0;
    for (uint32_t i = 0; i < w; ++i) v |= static_cast<uint32_t>(p[i]) << (8 * i);
    return v;
}

void StoreUnit(uint8_t* p, uint32_t w, uint32_t v) {
    for (uint32_t i = 0; i < w; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

constexpr uint32_t kAllocBit = 2;   // SHF_ALLOC
constexpr uint32_t kNoBits = 8;     // SHT_NOBITS
constexpr uint32_t kMinTable = 32;  // the smallest section that can start a vector table
constexpr uint32_t kArmLast = 0x1C; // ARM-state table: offset of the last word summed
constexpr uint32_t kArmSig = 0x14;  // and of its reserved signature word

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

bool Checking() {
    return (bom.flags & kBomVerify) != 0;
}

// True when the segment holds the whole range and the whole signature unit in its file bytes:
// either the segment starts at the range, or the range starts an allocated section inside it.
// Bytes that the ELF headers occupy never hold it.
bool Holds(const Phdr& ph, uint32_t limit, uint32_t w) {
    const uint64_t segEnd = static_cast<uint64_t>(ph.p_paddr) + ph.p_filesz;
    if (ph.p_filesz == 0 || static_cast<uint64_t>(signa.end) + w > segEnd ||
        static_cast<uint64_t>(signa.position) + w > segEnd) {
        return false;
    }
    const uint64_t rangeAt = static_cast<uint64_t>(ph.p_offset) + (signa.start - ph.p_paddr);
    if (ph.p_paddr == signa.start) {
        if (!(signa.start < signa.end && ph.p_filesz > limit)) return false;
    } else if (ph.p_paddr > signa.start || !SectionStartsAt(rangeAt)) {
        return false;
    }
    const uint32_t lo = signa.position < signa.start ? signa.position : signa.start;
    const uint32_t hi = signa.position > signa.end ? signa.position : signa.end;
    return lo >= ph.p_paddr && !InHeaders(static_cast<uint64_t>(ph.p_offset) + (lo - ph.p_paddr),
                                          static_cast<uint64_t>(hi) + w - lo);
}

// Where one segment's signature goes: the first and last unit summed and the signature unit.
struct Layout {
    uint32_t start;
    uint32_t end;
    uint32_t position;
};

// An ARM-state exception table (a branch or a PC load as its first word) keeps its checksum
// in the reserved word 0x14 and sums all eight words; any other table takes the configured
// range.
Layout LayoutOf(const uint8_t* first, uint32_t w) {
    if (w == 4) {
        const uint32_t word = MakeW32(Load32(first));
        if ((word & 0xFF000000u) == 0xEA000000u || (word & 0xFFFFF000u) == 0xE59FF000u) {
            return {signa.start, signa.start + kArmLast, signa.start + kArmSig};
        }
    }
    return {signa.start, signa.end, signa.position};
}

// Sums the range in the segment and stores the signature when it differs.
void Patch(const Phdr& ph, uint32_t w) {
    uint8_t* seg = Span(ph.p_offset, ph.p_filesz);
    const Layout r = LayoutOf(seg + (signa.start - ph.p_paddr), w);
    const uint32_t mask = w == 4 ? 0xFFFFFFFFu : (1u << (8 * w)) - 1;
    uint32_t sum = 0;
    for (uint64_t a = r.start; a <= r.end; a += w) {
        if (a == r.position) continue;
        sum += LoadUnit(seg + (a - ph.p_paddr), w);
    }
    const uint32_t sig = (0u - sum) & mask;
    uint8_t* at = seg + (r.position - ph.p_paddr);
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
        n = std::snprintf(szStat, sizeof szStat, "%s", kStatUpdated);
    }
    std::snprintf(szStat + n, sizeof szStat - static_cast<size_t>(n), fmt, r.start, r.end,
                  r.position, sig);
}

// A check-only pass reads the image instead of writing it: what it found so far.
Verdict imageState;

// Compares the next len bytes of the image with bytes (zeros when bytes is null).
void CompareBin(const uint8_t* bytes, uint64_t len) {
    uint8_t buf[16384];
    while (len > 0 && imageState == Verdict::Right) {
        const size_t n = len < sizeof buf ? static_cast<size_t>(len) : sizeof buf;
        if (std::fread(buf, 1, n, bom.binFp) != n) {
            imageState = Verdict::ImageDiffers;
        } else if (bytes != nullptr ? std::memcmp(buf, bytes, n) != 0
                                    : buf[0] != 0 || std::memcmp(buf, buf + 1, n - 1) != 0) {
            imageState = Verdict::ImageDiffers;
        }
        if (bytes != nullptr) bytes += n;
        len -= n;
    }
}

// Closes the image stream if one is open; nonzero when its last bytes could not be written.
// A checked image must end where the bytes a signing run writes end.
int CloseBin() {
    if (bom.binFp == nullptr) return 0;
    if (Checking()) {
        if (imageState == Verdict::Right && std::fgetc(bom.binFp) != EOF) {
            imageState = Verdict::ImageDiffers;
        }
        std::fclose(bom.binFp);
        bom.binFp = nullptr;
        return 0;
    }
    int bad = std::fflush(bom.binFp) != 0 || std::ferror(bom.binFp) != 0;
    if (std::fclose(bom.binFp) != 0) bad = 1;
    bom.binFp = nullptr;
    return bad;
}

// The image's load address reached so far, once a segment has been written.
uint64_t binAddr;
bool binStarted;

// Appends len zero bytes to the image; nonzero when the stream reports an error.
int WriteFill(uint64_t len) {
    if (PlatImageHole(bom.binFp, len) != 0) return 0;
    static constexpr uint8_t kZeros[4096] = {};
    while (len > 0 && std::ferror(bom.binFp) == 0) {
        const size_t n = len < sizeof kZeros ? static_cast<size_t>(len) : sizeof kZeros;
        std::fwrite(kZeros, 1, n, bom.binFp);
        len -= n;
    }
    return std::ferror(bom.binFp);
}

[[noreturn]] void ImageIoError() {
    LoadClear(&xfi);
    CloseBin();
    Fatal(NFACT::IoError, bom.binName);
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

// Appends the segment's file bytes to the image at their load-address distance from the
// bytes before them, opening the image first. A segment without file bytes is never read.
void WriteBin(const Phdr& ph) {
    const uint32_t skip = ImageSkip(ph);
    const uint32_t len = ph.p_filesz - skip;
    const uint64_t addr = static_cast<uint64_t>(ph.p_paddr) + skip;
    // All of the file bytes must be there, also those that stay out of the image.
    const uint8_t* bytes = ph.p_filesz != 0 ? Span(ph.p_offset, ph.p_filesz) + skip : nullptr;
    if (Checking()) {
        if (imageState == Verdict::ImageMissing) return;
        if (bom.binFp == nullptr) bom.binFp = PlatOpenImage(bom.binName, false);
        if (bom.binFp == nullptr) {
            imageState = Verdict::ImageMissing;
            return;
        }
    }
    if (bom.binFp == nullptr) {
        bom.binFp = PlatOpenImage(bom.binName, true);
        if (bom.binFp == nullptr) {
            LoadClear(&xfi);
            Fatal(NFACT::CreateFile, bom.binName);
        }
    }
    if (len == 0) return;
    if (!binStarted) {
        binStarted = true;
        binAddr = addr;
    } else if (addr > binAddr) {
        if (Checking()) {
            CompareBin(nullptr, addr - binAddr);
        } else if (WriteFill(addr - binAddr) != 0) {
            ImageIoError();
        }
        binAddr = addr;
    }
    if (Checking()) {
        CompareBin(bytes, len);
    } else if (PlatWriteImage(bom.binFp, xfi.hFile, ph.p_offset + skip, bytes, len) != 0) {
        ImageIoError();
    }
    binAddr += len;
}

Phdr LoadPh(uint32_t i) {
    Phdr ph;
    std::memcpy(&ph, pH + i * kPhEntry, sizeof ph);
    return ph;
}

uint32_t ReadProgHeader() {
    if (mcx.hdr.e_phoff == 0) return 0;
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
        mcx.err = kErrRefused;
        return 0;
    }
    const uint32_t w = UnitWidth();
    const uint32_t limit = signa.end + (signa.mode & 0x0F) - signa.start;
    uint32_t count = 0;
    binStarted = false;
    binAddr = 0;
    imageState = Verdict::Right;
    for (uint32_t i = 0; i < n; ++i) {
        const Phdr ph = LoadPh(i);
        if (ph.p_type != kLoad) continue;
        if (Holds(ph, limit, w)) {
            Patch(ph, w);
            ++count;
        }
        if ((bom.flags & kBomBinary) != 0) WriteBin(ph);
    }
    if (CloseBin() != 0) {
        LoadClear(&xfi);
        Fatal(NFACT::IoError, bom.binName);
    }
    if (verdict == Verdict::Right && (bom.flags & kBomBinary) != 0) verdict = imageState;
    if (count == 0) {
        LoadClear(&xfi);
        std::snprintf(szStat, sizeof szStat, kNotFound, signa.start, signa.end + (signa.mode >> 4));
        Fatal(NFACT::RangeNotFound, szStat);
    }
    return count;
}

// The steps of the pass between the abort point and the release of the file.
void Pass() {
    if (IniLoadFile(&xfi, bom.inName) != 0) {
        LoadClear(&xfi);
        Fatal(NFACT::OpenFile, bom.inName);
    }
    ReadElfHeader();
    if (mcx.err == 0) ReadElfSections();
    if (mcx.err == 0) ReadProgHeader();
    if (mcx.err != 0) {
        LoadClear(&xfi);
        Fatal(NFACT::InvalidElf, bom.inName);
    }
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

// ---- Mapped image access ----------------------------------------------------------------

int IniLoadFile(iFi* f, const char* name) {
    f->view = nullptr;
    f->hMap = kNoHandle;
    f->hFile = kNoHandle;
    if (name == nullptr || name[0] == '\0') return kLoadFailed;
    const size_t len = std::strlen(name);
    if (len >= sizeof f->name) return kLoadFailed;
    std::memcpy(f->name, name, len + 1);
    // A check-only pass opens and maps the file for reading only: it cannot change a byte.
    const bool write = !Checking();
    f->hFile = PlatOpenRW(f->name, write);
    if (f->hFile == kNoHandle) return kLoadFailed;
    f->hMap = PlatCreateMapping(f->hFile, write);
    if (f->hMap == kNoHandle) return kLoadFailed;
    if (PlatFileStatus(f->name, f->hFile, &f->status, write) != 0) return kLoadFailed;
    // The size is a 32-bit count below 2 GiB; larger files lie outside the reader's model.
    if (f->status.st_size <= 0 || f->status.st_size > 0x7FFFFFFF) return kLoadFailed;
    f->size = static_cast<uint32_t>(f->status.st_size);
    f->view = static_cast<uint8_t*>(PlatMapView(f->hMap, f->hFile, f->size, write));
    if (f->view == nullptr) return kLoadFailed;
    return 0;
}

void LoadClear(iFi* f) {
    if (f->view != nullptr) {
        PlatUnmapView(f->view, f->size);
        f->view = nullptr;
    }
    if (f->hMap != kNoHandle) {
        PlatCloseMapping(f->hMap);
        f->hMap = kNoHandle;
    }
    if (f->hFile != kNoHandle) {
        PlatCloseFile(f->hFile);
        f->hFile = kNoHandle;
    }
}

void SetPos(uint32_t position) {
    if (position > xfi.size) Abort();
    pBuf = xfi.view + position;
}

uint32_t Read(void* dst, uint32_t len) {
    if (CurPos() + len > xfi.size) Abort();
    if (len == 0) return 0;
    std::memcpy(dst, pBuf, len);
    pBuf += len;
    return len;
}

uint32_t ReadW32() {
    uint8_t b[4];
    for (uint8_t& byte : b) Read(&byte, 1);
    return b[0] | static_cast<uint32_t>(b[1]) << 8 | static_cast<uint32_t>(b[2]) << 16 |
           static_cast<uint32_t>(b[3]) << 24;
}

uint16_t MakeW16(uint16_t v) {
    return BigEnd ? static_cast<uint16_t>((v >> 8) | (v << 8)) : v;
}

uint32_t MakeW32(uint32_t v) {
    if (!BigEnd) return v;
    return (v >> 24) | ((v >> 8) & 0x0000FF00u) | ((v << 8) & 0x00FF0000u) | (v << 24);
}

int ReaderGuard(void (*body)()) {
    try {
        body();
    } catch (const ReaderAbort&) {
        return -1;
    }
    return 0;
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
    if (ehdr.e_type != kExec) mcx.err = kErrRefused;
    if (ehdr.e_machine != kMachine) mcx.err = kErrRefused;
    mcx.hdr = ehdr;
}

void ReadElfSections() {
    SetPos(mcx.hdr.e_shoff);
    const uint32_t n = mcx.hdr.e_shnum;
    if (n == 0) {
        mcx.err = kErrRefused;
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
    if (signa.position == 0) Sig_LPC17_13_xx();
    szStat[0] = '\0';
    szWrong[0] = '\0';
    verdict = Verdict::Right;
    if (ReaderGuard(Pass) != 0) {
        CloseBin();
        LoadClear(&xfi);
        return 1;
    }
    return 0;
}

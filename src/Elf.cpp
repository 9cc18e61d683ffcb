#include "Elf.h"

#include <cstring>

#include "Alloc.h"
#include "Diag.h"
#include "ElfTables.h"
#include "Mapped.h"
#include "Range.h"

namespace {

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

// The PT_LOAD segments of the program header table.
class ElfFirmware : public MappedFirmware {
  public:
    explicit ElfFirmware(const uint8_t* table) : pH(table) {}
    bool Next(size_t& at, Piece& p) const override;
    bool Holds(const Piece& p, uint32_t lo, uint64_t hi) const override;

  private:
    const uint8_t* pH; // program header table in host byte order, pool 1
};

// The PT_LOAD segments in table order, with their file bytes.
bool ElfFirmware::Next(size_t& at, Piece& p) const {
    const uint32_t n = mcx.hdr.e_phnum;
    for (; at < n; ++at) {
        Phdr ph;
        std::memcpy(&ph, pH + at * kPhEntry, sizeof ph);
        if (ph.p_type != kLoad) continue;
        ++at;
        p = Piece{ph.p_paddr, ph.p_filesz, ImageSkip(ph), ph.p_offset, 0};
        return true;
    }
    return false;
}

// True when the segment holds the whole range and the whole signature word in its file bytes:
// either the segment starts at the range, or the range starts an allocated section inside it.
// Bytes that the ELF headers occupy never hold it.
bool ElfFirmware::Holds(const Piece& p, uint32_t lo, uint64_t hi) const {
    const uint32_t limit = signa.end + kUnit - signa.start;
    const uint64_t segEnd = static_cast<uint64_t>(p.addr) + p.len;
    if (p.len == 0 || static_cast<uint64_t>(signa.end) + kUnit > segEnd ||
        static_cast<uint64_t>(signa.position) + kUnit > segEnd) {
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

} // namespace

std::unique_ptr<Firmware> ElfInput() {
    ReadElfHeader();
    if (mcx.err == 0) ReadElfSections();
    if (mcx.err != 0) return nullptr;
    if (mcx.hdr.e_phoff == 0) {
        RefuseElf("it has no program header table (an object file or a stripped-down one); "
                  "sign the linked executable");
        return nullptr;
    }
    Reading("the program header table");
    uint32_t CsActual = 0; // file bytes of the segments that count as loadable
    const uint32_t n = mcx.hdr.e_phnum;
    // A table that does not fit into the file ends the pass before its memory is taken.
    Span(mcx.hdr.e_phoff, n * kPhEntry);
    uint8_t* pH = static_cast<uint8_t*>(GetMem(static_cast<int>((n + 1) * kPhEntry), 1));
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
    return std::make_unique<ElfFirmware>(pH);
}

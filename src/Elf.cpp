#include "Elf.h"

#include <cstring>

#include "Alloc.h"
#include "Diag.h"
#include "ElfTables.h"
#include "Fatal.h"

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
bool InHeaders(const ElfHeader& h, uint64_t off, uint64_t len) {
    const uint64_t ehsize = h.e_ehsize > sizeof(ElfHeader) ? h.e_ehsize : sizeof(ElfHeader);
    return Overlaps(off, len, 0, ehsize) ||
           Overlaps(off, len, h.e_phoff, static_cast<uint64_t>(h.e_phnum) * kPhEntry) ||
           Overlaps(off, len, h.e_shoff, static_cast<uint64_t>(h.e_shnum) * kShEntry);
}

// True when section i is allocated and holds at least min bytes in the file; its file offset
// then goes to off.
bool AllocatedBytes(const ElfTables& t, uint32_t i, uint32_t min, uint64_t& off) {
    const uint8_t* entry = t.sections + i * kShEntry;
    off = LoadLittle32(entry + 16);
    return (LoadLittle32(entry + 8) & kAllocBit) != 0 && LoadLittle32(entry + 4) != kNoBits &&
           LoadLittle32(entry + 20) >= min;
}

// True when an allocated section with file bytes, large enough for a vector table, begins at
// file offset off.
bool SectionStartsAt(const ElfTables& t, uint64_t off) {
    uint64_t at;
    for (uint32_t i = 0; i < t.header.e_shnum; ++i) {
        if (AllocatedBytes(t, i, kMinTable, at) && at == off) return true;
    }
    return false;
}

// How many of the segment's first file bytes stay out of the image: where a linker put the
// ELF headers at the start of a segment, they and the padding behind them up to the first
// allocated section are no firmware (all of the segment when no such section follows).
uint32_t ImageSkip(const ElfTables& t, const Phdr& ph) {
    if (ph.p_filesz == 0 || !InHeaders(t.header, ph.p_offset, 1)) return 0;
    const uint64_t from = ph.p_offset;
    uint64_t first = from + ph.p_filesz;
    uint64_t at;
    for (uint32_t i = 0; i < t.header.e_shnum; ++i) {
        if (AllocatedBytes(t, i, 1, at) && at >= from && at < first) first = at;
    }
    return static_cast<uint32_t>(first - from);
}

// The PT_LOAD segments of the program header table.
class ElfFirmware : public MappedFirmware {
  public:
    ElfFirmware(const MappedFile& file, const ElfTables& tables, const uint8_t* programHeaders)
        : MappedFirmware(file), tables_(tables), programHeaders_(programHeaders) {}
    bool Next(size_t& at, Piece& p) const override;
    bool Holds(const Piece& p, const SignatureRange& range) const override;
    bool BigEndian() const override { return tables_.bigEndian; }
    uint32_t Entry() const override { return tables_.header.e_entry; }

  private:
    ElfTables tables_;
    const uint8_t* programHeaders_; // in host byte order, ELF-tables pool
};

// The PT_LOAD segments in table order, with their file bytes.
bool ElfFirmware::Next(size_t& at, Piece& p) const {
    const uint32_t n = tables_.header.e_phnum;
    for (; at < n; ++at) {
        Phdr ph;
        std::memcpy(&ph, programHeaders_ + at * kPhEntry, sizeof ph);
        if (ph.p_type != kLoad) continue;
        ++at;
        p = Piece{ph.p_paddr, ph.p_filesz, ImageSkip(tables_, ph), ph.p_offset, 0};
        return true;
    }
    return false;
}

// True when the segment holds the whole range and the whole signature word in its file bytes:
// either the segment starts at the range, or the range starts an allocated section inside it.
// Bytes that the ELF headers occupy never hold it.
bool ElfFirmware::Holds(const Piece& p, const SignatureRange& r) const {
    const uint32_t limit = r.end + kUnit - r.start;
    const uint64_t segEnd = static_cast<uint64_t>(p.addr) + p.len;
    if (p.len == 0 || static_cast<uint64_t>(r.end) + kUnit > segEnd ||
        static_cast<uint64_t>(r.position) + kUnit > segEnd) {
        return false;
    }
    const uint64_t rangeAt = static_cast<uint64_t>(p.fileOff) + (r.start - p.addr);
    if (p.addr == r.start) {
        if (!(r.start < r.end && p.len > limit)) return false;
    } else if (p.addr > r.start || !SectionStartsAt(tables_, rangeAt)) {
        return false;
    }
    const uint32_t lo = r.WindowLo();
    const uint64_t hi = r.WindowHi();
    return lo >= p.addr &&
           !InHeaders(tables_.header, static_cast<uint64_t>(p.fileOff) + (lo - p.addr), hi - lo);
}

} // namespace

std::unique_ptr<Firmware> ElfInput(MappedFile& file) {
    const ElfTables tables = ReadElfTables(file);
    const ElfHeader& h = tables.header;
    if (h.e_phoff == 0) {
        RefuseElf(file, "it has no program header table (an object file or a stripped-down one); "
                        "sign the linked executable");
    }
    file.Reading("the program header table");
    uint32_t loadable = 0; // file bytes of the segments that count as loadable
    const uint32_t n = h.e_phnum;
    // A table that does not fit into the file ends the pass before its memory is taken.
    const uint8_t* table = file.Slice(h.e_phoff, n * kPhEntry);
    uint8_t* headers =
        static_cast<uint8_t*>(GetMem(static_cast<int>((n + 1) * kPhEntry), kPoolElfTables));
    for (uint32_t i = 0; i < n; ++i) {
        uint32_t word[8];
        std::memcpy(word, table + i * kPhEntry, sizeof word);
        for (uint32_t& v : word) v = HostOrder32(v, tables.bigEndian);
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
            loadable += ph.p_filesz;
        }
        std::memcpy(headers + i * kPhEntry, &ph, sizeof ph);
    }
    if (loadable == 0) RefuseElf(file, "no loadable segment holds file bytes of firmware");
    return std::make_unique<ElfFirmware>(file, tables, headers);
}

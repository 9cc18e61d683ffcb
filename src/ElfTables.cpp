#include "ElfTables.h"

#include <cstring>
#include <initializer_list>

#include "Alloc.h"
#include "Diag.h"
#include "Mapped.h"

Mcx mcx;

namespace {

constexpr uint16_t kExec = 2;     // ET_EXEC
constexpr uint16_t kMachine = 40; // the ARM machine number
constexpr uint8_t kBigEndian = 2; // EI_DATA for big-endian files
constexpr uint32_t kStrTab = 3;   // SHT_STRTAB
constexpr int kStrPad = 16;       // zero bytes behind the string-table copy
constexpr char kShStrTab[] = ".shstrtab";
constexpr const char* kInputs =
    "vortle takes ELF files, Intel HEX files (first character ':') and raw images named *.bin";
constexpr const char* kNoElfHeader =
    "the ELF header (it is no ELF file: vortle takes ELF files, Intel HEX files (first "
    "character ':') and raw images named *.bin)";

Ehdr ehdr;

// The section-name string table: its entry must be a string table named .shstrtab, and its
// bytes are copied into pool 1.
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

} // namespace

void RefuseElf(const char* why) {
    Why(xfi.name, "not a usable ELF file: %s", why);
    mcx.err = kErrRefused;
}

void ClearVariables() {
    mcx = Mcx{};
    xfi = iFi{};
    xfi.hFile = kNoHandle;
    xfi.hMap = kNoHandle;
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
            Why(xfi.name, "no ELF file (it does not start with 0x7F 'ELF'); %s", kInputs);
        } else if (ehdr.e_type != kExec) {
            Why(xfi.name, "not a usable ELF file: its type is %u, an executable's is 2",
                ehdr.e_type);
        } else {
            Why(xfi.name, "not a usable ELF file: its machine is %u, ARM's is 40", ehdr.e_machine);
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

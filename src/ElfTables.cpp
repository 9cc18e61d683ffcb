#include "ElfTables.h"

#include <cstring>
#include <initializer_list>

#include "Alloc.h"
#include "Diag.h"
#include "Fatal.h"

namespace {

constexpr uint16_t kExec = 2;     // ET_EXEC
constexpr uint16_t kMachine = 40; // the ARM machine number
constexpr uint8_t kBigEndian = 2; // EI_DATA for big-endian files
constexpr uint32_t kStrTab = 3;   // SHT_STRTAB
constexpr int kStrPad = 16;       // zero bytes behind the string-table copy
constexpr char kShStrTab[] = ".shstrtab";
constexpr const char* kInputs =
    "vortle takes ELF files, Intel HEX files (first character ':'), S-record files (first "
    "character 'S') and raw images named *.bin";
constexpr const char* kNoElfHeader =
    "the ELF header (it is no ELF file: vortle takes ELF files, Intel HEX files (first "
    "character ':'), S-record files (first character 'S') and raw images named *.bin)";

// The header in host byte order; a file that is no ARM executable is refused.
void ReadHeader(MappedFile& file, ElfTables& t) {
    constexpr uint8_t kMagic[4] = {0x7F, 'E', 'L', 'F'};
    const bool magic = file.Size() >= 4 && std::memcmp(file.Slice(0, 4), kMagic, 4) == 0;
    file.Reading(magic ? "the ELF header" : kNoElfHeader);
    ElfHeader& h = t.header;
    std::memcpy(&h, file.Slice(0, sizeof h), sizeof h);
    t.bigEndian = h.e_ident[5] == kBigEndian;
    for (uint16_t* f : {&h.e_type, &h.e_machine, &h.e_ehsize, &h.e_phentsize, &h.e_phnum,
                        &h.e_shentsize, &h.e_shnum, &h.e_shstrndx}) {
        *f = HostOrder16(*f, t.bigEndian);
    }
    for (uint32_t* f : {&h.e_version, &h.e_entry, &h.e_phoff, &h.e_shoff, &h.e_flags}) {
        *f = HostOrder32(*f, t.bigEndian);
    }
    if (h.e_type == kExec && h.e_machine == kMachine) return;
    if (!magic) {
        Why(file.Name(), "no ELF file (it does not start with 0x7F 'ELF'); %s", kInputs);
    } else if (h.e_type != kExec) {
        if (h.e_type == 1) {
            Why(file.Name(), "not a usable ELF file: it is a relocatable object (type 1); sign the "
                             "linked executable");
        } else {
            Why(file.Name(), "not a usable ELF file: its type is %u, an executable's is 2",
                h.e_type);
        }
    } else {
        Why(file.Name(), "not a usable ELF file: its machine is %u, ARM's is 40", h.e_machine);
    }
    Fatal(Failure::InvalidElf, file.Name());
}

// The section-name string table: its entry must be a string table named .shstrtab, and its
// bytes are copied into the ELF-tables pool. The entry is still in the file's byte order.
void ReadNameTable(MappedFile& file, ElfTables& t) {
    file.Reading("the section-name string table");
    if (t.header.e_shstrndx >= t.header.e_shnum) {
        RefuseElf(file, "the index of its section-name string table lies outside the section "
                        "table");
    }
    const uint8_t* entry = t.sections + t.header.e_shstrndx * kShEntry;
    const uint32_t shName = HostOrder32(LoadLittle32(entry + 0), t.bigEndian);
    const uint32_t shType = HostOrder32(LoadLittle32(entry + 4), t.bigEndian);
    const uint32_t shOffset = HostOrder32(LoadLittle32(entry + 16), t.bigEndian);
    const uint32_t shSize = HostOrder32(LoadLittle32(entry + 20), t.bigEndian);
    if (shType != kStrTab) RefuseElf(file, "its section-name string table is no string table");
    // The section's own name must lie inside the file, NUL included.
    const uint64_t namePos = static_cast<uint64_t>(shOffset) + shName;
    if (namePos >= file.Size()) {
        RefuseElf(file, "the name of its section-name string table lies outside the file");
    }
    const uint32_t left = file.Size() - static_cast<uint32_t>(namePos);
    const char* name =
        reinterpret_cast<const char*>(file.Slice(static_cast<uint32_t>(namePos), left));
    if (std::memchr(name, 0, left) == nullptr || std::strcmp(name, kShStrTab) != 0) {
        RefuseElf(file, "its section-name string table is not named .shstrtab");
    }
    t.nameTableOffset = shOffset;
    t.nameTableSize = shSize;
    // The table's range is tested before its copy is taken from the pool.
    const uint8_t* bytes = file.Slice(shOffset, shSize);
    t.nameTable = static_cast<char*>(GetMem(static_cast<int>(shSize + kStrPad), kPoolElfTables));
    std::memcpy(t.nameTable, bytes, shSize);
}

// The section header table, in host byte order.
void ReadSections(MappedFile& file, ElfTables& t) {
    file.Reading("the section header table");
    file.Slice(t.header.e_shoff, 0);
    const uint32_t n = t.header.e_shnum;
    if (n == 0) RefuseElf(file, "it has no section table");
    const uint8_t* table = file.Slice(t.header.e_shoff, n * kShEntry);
    t.sections =
        static_cast<uint8_t*>(GetMem(static_cast<int>((n + 2) * kShEntry), kPoolElfTables));
    std::memcpy(t.sections, table, n * kShEntry);
    ReadNameTable(file, t);
    for (uint32_t i = 0; i < n * kShEntry; i += 4) {
        StoreLittle32(t.sections + i, HostOrder32(LoadLittle32(t.sections + i), t.bigEndian));
    }
}

} // namespace

void RefuseElf(const MappedFile& file, const char* why) {
    Why(file.Name(), "not a usable ELF file: %s", why);
    Fatal(Failure::InvalidElf, file.Name());
}

ElfTables ReadElfTables(MappedFile& file) {
    ElfTables t{};
    ReadHeader(file, t);
    ReadSections(file, t);
    return t;
}

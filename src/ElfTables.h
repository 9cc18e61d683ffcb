// The ELF file's tables: its header and its section header table with the section-name string
// table, read through the bounded accessor, in host byte order.
#pragma once

#include <cstdint>

#include "MappedFile.h"

constexpr uint32_t kShEntry = 40; // section header entry size

// The 32-bit ELF header.
struct ElfHeader {
    uint8_t e_ident[16];
    uint16_t e_type;
    uint16_t e_machine;
    uint32_t e_version;
    uint32_t e_entry;
    uint32_t e_phoff;
    uint32_t e_shoff;
    uint32_t e_flags;
    uint16_t e_ehsize;
    uint16_t e_phentsize;
    uint16_t e_phnum;
    uint16_t e_shentsize;
    uint16_t e_shnum;
    uint16_t e_shstrndx;
};
static_assert(sizeof(ElfHeader) == 52, "the ELF header is 52 bytes");

// What the tables say.
struct ElfTables {
    ElfHeader header;         // in host byte order
    bool bigEndian;           // the file's byte order
    uint8_t* sections;        // section header table (40-byte entries), ELF-tables pool
    uint32_t nameTableOffset; // sh_offset of the section-name string table
    uint32_t nameTableSize;   // its sh_size
    char* nameTable;          // copy of that table followed by 16 zero bytes, ELF-tables pool
};

// Reads the ELF header, the section header table and the section-name string table. A file
// that is no ARM executable, or whose tables cannot be used, is refused.
ElfTables ReadElfTables(MappedFile& file);
// Refuses the ELF file: says which test it failed and stops the run with the invalid-ELF report.
[[noreturn]] void RefuseElf(const MappedFile& file, const char* why);

// The ELF file's tables: its header and its section header table with the section-name
// string table, read through the bounded reader, in host byte order.
#pragma once

#include <cstdint>

constexpr int32_t kErrRefused = 59;
constexpr uint32_t kShEntry = 40; // section header entry size

// The 32-bit ELF header.
struct Ehdr {
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
static_assert(sizeof(Ehdr) == 52, "the ELF header is 52 bytes");

// What the tables say.
struct Mcx {
    Ehdr hdr;         // the ELF header in host byte order
    uint8_t* shdr;    // section header table (40-byte entries), pool 1
    uint32_t strOff;  // sh_offset of the section-name string table
    uint32_t strSize; // its sh_size
    char* strTab;     // copy of the string table followed by 16 zero bytes, pool 1
    int32_t err;      // 0, or kErrRefused
};
extern Mcx mcx;

// Forgets the tables and the mapped file of an earlier run.
void ClearVariables();
// Reads the ELF header; a file that is no ARM executable is refused (the error number).
void ReadElfHeader();
// Reads the section header table and the section-name string table.
void ReadElfSections();
// Refuses the ELF file: says which test it failed and sets the error number.
void RefuseElf(const char* why);

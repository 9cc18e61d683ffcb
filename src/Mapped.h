// Mapped image access: the input file as one block of memory, and the bounded reader through
// which every file offset passes. The reader state (the ELF header copy, the tables read from
// the file and the error number) lives here too: the reader's abort sets its error number.
#pragma once

#include <cstdint>

#include "Plat.h"

constexpr int kLoadFailed = 1000;

// The mapped input file.
struct iFi {
    uint8_t* view;    // first byte of the mapped file; null when nothing is mapped
    PlatHandle hMap;  // the file-mapping object; kNoHandle when there is none
    PlatHandle hFile; // the open file; kNoHandle when there is none
    uint32_t size;    // the file's length in bytes
    PlatStat status;  // the file's status record
    char name[1024];  // copy of the file name
};
extern iFi xfi;
extern uint8_t* pBuf;  // current read position in the view
extern uint8_t BigEnd; // 1 when the file is big-endian

// Opens and maps the file for reading and writing (for reading only when write is false):
// 0, or kLoadFailed.
int IniLoadFile(iFi* f, const char* name, bool write = true);
// Releases view, mapping and file, whatever of them is held.
void LoadClear(iFi* f);
// Sets the read position; a position past the end of the file aborts the pass.
void SetPos(uint32_t position);
// Copies len bytes from the read position and advances it; a read past the end aborts.
uint32_t Read(void* dst, uint32_t len);
// Reads four bytes as a little-endian word.
uint32_t ReadW32();
// Positions the reader at off and returns the len bytes there; aborts unless all of them lie
// inside the file.
uint8_t* Span(uint32_t off, uint32_t len);
// Aborts the pass when the file has become shorter than its mapping: another program rewrote
// it meanwhile, and a failing copy out of the mapping is the input's fault, not the image's.
void CheckInput();
// The value in the file's byte order.
uint16_t MakeW16(uint16_t v);
uint32_t MakeW32(uint32_t v);
// Runs body under the reader's abort point: 0 when it returned, -1 when the reader aborted.
int ReaderGuard(void (*body)());

// Raw little-endian words out of the view.
uint32_t Load32(const uint8_t* p);
void Store32(uint8_t* p, uint32_t v);

// ---- Reader state -----------------------------------------------------------------------

constexpr int32_t kErrRefused = 59;

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

struct Mcx {
    Ehdr hdr;         // the ELF header in host byte order
    uint8_t* shdr;    // section header table (40-byte entries), pool 1
    uint32_t strOff;  // sh_offset of the section-name string table
    uint32_t strSize; // its sh_size
    char* strTab;     // copy of the string table followed by 16 zero bytes, pool 1
    int32_t err;      // 0, or kErrRefused
};
extern Mcx mcx;

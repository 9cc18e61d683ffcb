// Signature engine: signature range, mapped image access, ELF tables, signature pass and
// binary image.
#pragma once

#include <cstdint>

#include "Plat.h"

// ---- Signature range --------------------------------------------------------------------

// Which target addresses are summed, where the signature goes and in which unit width.
struct Signa {
    uint8_t mode;      // low nibble: unit width in bytes; high nibble: added to the end when
                       // a missing range is reported
    uint32_t start;    // address of the first unit summed
    uint32_t end;      // address of the last unit summed, inclusive
    uint32_t position; // address of the signature unit; 0: no range configured yet
};
extern Signa signa;

// The vector-table checksum of the LPC17xx and LPC13xx parts: words 0x00..0x18, signature 0x1C.
void Sig_LPC17_13_xx();
// The same layout based at value.
void SetSigna(uint32_t value);

// ---- Mapped image access ----------------------------------------------------------------

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

// Opens and maps the file for reading and writing: 0, or kLoadFailed.
int IniLoadFile(iFi* f, const char* name);
// Releases view, mapping and file, whatever of them is held.
void LoadClear(iFi* f);
// Sets the read position; a position past the end of the file aborts the pass.
void SetPos(uint32_t position);
// Copies len bytes from the read position and advances it; a read past the end aborts.
uint32_t Read(void* dst, uint32_t len);
// Reads four bytes as a little-endian word.
uint32_t ReadW32();
// The value in the file's byte order.
uint16_t MakeW16(uint16_t v);
uint32_t MakeW32(uint32_t v);
// Runs body under the reader's abort point: 0 when it returned, -1 when the reader aborted.
int ReaderGuard(void (*body)());

// ---- ELF header and section table -------------------------------------------------------

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

// The reader state.
struct Mcx {
    Ehdr hdr;         // the ELF header in host byte order
    uint8_t* shdr;    // section header table (40-byte entries), pool 1
    uint32_t strOff;  // sh_offset of the section-name string table
    uint32_t strSize; // its sh_size
    char* strTab;     // copy of the string table followed by 16 zero bytes, pool 1
    int32_t err;      // 0, or kErrRefused
};
extern Mcx mcx;

void ClearVariables();
void ReadElfHeader();
void ReadElfSections();

// ---- Signature pass ---------------------------------------------------------------------

constexpr int kStatCap = 256;
extern char szStat[kStatCap];

// What a check-only pass (kBomVerify) found: the signature, then the image.
enum class Verdict : int { Right, WrongSignature, ImageMissing, ImageDiffers };
extern Verdict verdict;
extern char szWrong[kStatCap]; // the wrong signature's line, with the right value

// The whole pass: 0 on success, 1 when the reader aborted. Fatal conditions do not return.
int Vortle_Reader();

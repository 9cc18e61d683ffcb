// Signature engine: the signature range, the ELF tables, the inputs (ELF, HEX, raw binary)
// and the signature pass over their pieces of firmware.
#pragma once

#include <cstdint>

#include "Firmware.h"
#include "Image.h"
#include "Mapped.h"

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

// ---- ELF header and section table -------------------------------------------------------

void ClearVariables();
void ReadElfHeader();
void ReadElfSections();

// ---- Signature pass ---------------------------------------------------------------------

constexpr int kStatCap = 256;
extern char szStat[kStatCap];

// What a check-only pass (kBomVerify) found about the signature; each image has its own.
extern Verdict verdict;
extern char szWrong[kStatCap]; // the wrong signature's line, with the right value

// The whole pass: 0 on success, 1 when the reader aborted. Fatal conditions do not return.
int Vortle_Reader();

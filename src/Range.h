// The signature range: which target addresses are summed, where the signature goes, and the
// window of load addresses they cover.
#pragma once

#include <cstdint>

struct Signa {
    uint8_t mode;      // low nibble: unit width in bytes (4); high nibble: added to the end when
                       // a missing range is reported
    uint32_t start;    // address of the first word summed
    uint32_t end;      // address of the last word summed, inclusive
    uint32_t position; // address of the signature word; 0: no range configured yet
};
extern Signa signa;

constexpr uint32_t kUnit = 4; // the signature is one 32-bit word

// The vector-table checksum of the LPC17xx and LPC13xx parts: words 0x00..0x18, signature 0x1C.
void Sig_LPC17_13_xx();
// The same layout based at value.
void SetSigna(uint32_t value);

// The load addresses that the range and its signature word cover: lo..hi, hi exclusive.
uint32_t WindowLo();
uint64_t WindowHi();
// The last address that the report of a missing range names.
uint32_t RangeLast();

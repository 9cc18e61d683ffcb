// The signature range: which target addresses are summed, where the signature goes, and the
// window of load addresses they cover.
#pragma once

#include <cstdint>

constexpr uint32_t kUnit = 4; // the signature is one 32-bit word

struct SignatureRange {
    uint8_t mode = 0;      // low nibble: unit width in bytes (4); high nibble: added to the end
                           // when a missing range is reported
    uint32_t start = 0;    // address of the first word summed
    uint32_t end = 0;      // address of the last word summed, inclusive
    uint32_t position = 0; // address of the signature word; 0: no range configured yet

    // The vector-table checksum of the LPC17xx and LPC13xx parts with the table at base: words
    // base..base+0x18 summed, the signature at base+0x1C.
    static SignatureRange VectorTableAt(uint32_t base);
    bool Configured() const { return position != 0; }
    // The load addresses that the range and its signature word cover: lo..hi, hi exclusive.
    uint32_t WindowLo() const;
    uint64_t WindowHi() const;
    // The last address that the report of a missing range names.
    uint32_t ReportedLast() const;
};

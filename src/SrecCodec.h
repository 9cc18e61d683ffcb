// The Motorola S-record codec, beside the HEX codec and below both the S-record input and the
// S-record image: one record encoded; a line's record decoded, saying what is wrong with one
// that does not decode.
#pragma once

#include "TextLine.h"

// The address bytes of a record type (S0 to S9); 0 for S4, which no file may hold.
constexpr uint32_t SrecAddressBytes(uint8_t type) {
    constexpr uint8_t kBytes[10] = {2, 2, 3, 4, 0, 2, 3, 4, 3, 2};
    return type < 10 ? kBytes[type] : 0;
}

constexpr uint32_t kSrecRecordMax = 4 + 2 * 255 + 2; // the longest record with its CR LF

// Encodes one record of the type (0 to 9), upper-case, with CR LF, at out; returns its length.
uint32_t SrecEncode(char* out, uint8_t type, uint32_t addr, const uint8_t* data, uint32_t n);

// Says what is wrong with a line whose record does not decode.
void SrecExplain(const uint8_t* text, const TextLine& l, char* because, size_t cap);

// Decodes the line's record: 'S' (either case), a type digit and pairs of hex digits whose
// count byte fits their number, long enough for the type's address, summing to 0xFF. On a
// fault, says what is wrong in because.
inline bool SrecDecode(const uint8_t* text, TextLine& l, char* because, size_t cap) {
    const uint8_t* p = text + l.at;
    const uint32_t digits = l.end - l.at - 2;
    uint8_t sum = 0;
    if (l.end - l.at >= 2 && (p[0] == 'S' || p[0] == 's') && p[1] >= '0' && p[1] <= '9' &&
        p[1] != '4' && digits % 2 == 0 && digits >= 8 && digits <= 2 * 256 &&
        DecodePairs(p + 2, digits / 2, l.b, sum) && sum == 0xFF && digits / 2 == l.b[0] + 1u) {
        l.type = static_cast<uint8_t>(p[1] - '0');
        const uint32_t address = SrecAddressBytes(l.type);
        if (l.b[0] >= address + 1) {
            l.data = static_cast<uint16_t>(1 + address);
            l.n = static_cast<uint16_t>(l.b[0] - address - 1);
            return true;
        }
    }
    SrecExplain(text, l, because, cap);
    return false;
}

// The address a decoded record gives.
inline uint32_t SrecAddress(const TextLine& l) {
    uint32_t a = 0;
    for (uint32_t i = 1; i < l.data; ++i) a = a << 8 | l.b[i];
    return a;
}

// The data bytes of a data record (S1, S2, S3) from its count digits; 0 for any other record.
uint32_t SrecDataCount(const uint8_t* line);

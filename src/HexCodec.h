// The Intel HEX record codec, below both the HEX input and the HEX image: one record encoded;
// a line's record decoded, saying what is wrong with one that does not decode.
#pragma once

#include "TextLine.h"

// Record types.
constexpr uint8_t kRecData = 0x00;
constexpr uint8_t kRecEnd = 0x01;
constexpr uint8_t kRecSegment = 0x02; // segment base: address bits 4..19
constexpr uint8_t kRecStartSeg = 0x03;
constexpr uint8_t kRecUpper = 0x04; // upper 16 address bits
constexpr uint8_t kRecStartLin = 0x05;

constexpr uint32_t kRecordMax = 11 + 2 * 255 + 2; // the longest record with its CR LF

// Encodes one record, upper-case, with CR LF, at out; returns its length.
uint32_t HexEncode(char* out, uint8_t type, uint16_t addr, const uint8_t* data, uint32_t n);

// Says what is wrong with a line whose record does not decode.
void HexExplain(const uint8_t* text, const TextLine& l, char* because, size_t cap);

// Decodes the line's record: ':' and pairs of hex digits whose count byte fits their number
// and whose bytes sum to zero. On a fault, says what is wrong in because. Inline: a HEX input
// decodes every line of a file of many MiB.
inline bool HexDecode(const uint8_t* text, TextLine& l, char* because, size_t cap) {
    const uint8_t* p = text + l.at;
    const uint32_t digits = l.end - l.at - 1;
    uint8_t sum = 0;
    if (p[0] == ':' && digits % 2 == 0 && digits >= 10 && digits <= 2 * kLineBytes &&
        DecodePairs(p + 1, digits / 2, l.b, sum) && sum == 0 && digits / 2 == l.b[0] + 5u) {
        l.type = l.b[3];
        l.data = 4;
        l.n = l.b[0];
        return true;
    }
    HexExplain(text, l, because, cap);
    return false;
}

// The data bytes of a data record, from its count digits; 0 for any other record.
uint32_t HexDataCount(const uint8_t* line);

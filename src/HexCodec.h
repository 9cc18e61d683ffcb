// The Intel HEX record codec, below both the HEX input and the HEX image: one record encoded;
// a text split into lines and each line's record decoded, saying what is wrong with one that
// does not decode.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

// Record types.
constexpr uint8_t kRecData = 0x00;
constexpr uint8_t kRecEnd = 0x01;
constexpr uint8_t kRecSegment = 0x02; // segment base: address bits 4..19
constexpr uint8_t kRecStartSeg = 0x03;
constexpr uint8_t kRecUpper = 0x04; // upper 16 address bits
constexpr uint8_t kRecStartLin = 0x05;

constexpr uint32_t kRecordMax = 11 + 2 * 255 + 2; // the longest record with its CR LF
constexpr uint32_t kLineBytes = 260; // count, address (2), type, 255 data bytes and checksum

// Encodes one record, upper-case, with CR LF, at out; returns its length.
uint32_t HexEncode(char* out, uint8_t type, uint16_t addr, const uint8_t* data, uint32_t n);

// One line of a text: where it starts, where its text ends (before CR LF) and where the next
// line starts; its record's bytes once decoded: count, address (2), type, data, checksum.
struct HexLine {
    uint32_t at, end, next;
    uint8_t b[kLineBytes];
};

// Finds the line at pos of the size bytes of text; false when it is empty.
inline bool HexSplitLine(const uint8_t* text, uint32_t size, uint32_t pos, HexLine& l) {
    const void* nl = std::memchr(text + pos, '\n', size - pos);
    const uint32_t end =
        nl != nullptr ? static_cast<uint32_t>(static_cast<const uint8_t*>(nl) - text) : size;
    l.at = pos;
    l.next = nl != nullptr ? end + 1 : size;
    l.end = end > pos && text[end - 1] == '\r' ? end - 1 : end;
    return l.end > pos;
}

// The reader's side is inline: a HEX input decodes every line of a file of many MiB.
constexpr uint8_t kHexNoDigit = 0xFF;
// The value of each character as a hex digit, kHexNoDigit for any other character.
inline constexpr struct HexNibbles {
    uint8_t v[256];
    constexpr HexNibbles() : v{} {
        for (int c = 0; c < 256; ++c) v[c] = kHexNoDigit;
        for (int c = 0; c < 10; ++c) v['0' + c] = static_cast<uint8_t>(c);
        for (int c = 0; c < 6; ++c) {
            v['A' + c] = static_cast<uint8_t>(10 + c);
            v['a' + c] = static_cast<uint8_t>(10 + c);
        }
    }
} kHexNibble;

// Says what is wrong with a line whose record does not decode.
void HexExplain(const uint8_t* text, const HexLine& l, char* because, size_t cap);

// Decodes the line's record: ':' and pairs of hex digits whose count byte fits their number
// and whose bytes sum to zero. On a fault, says what is wrong in because.
inline bool HexDecode(const uint8_t* text, HexLine& l, char* because, size_t cap) {
    const uint8_t* p = text + l.at;
    const uint32_t digits = l.end - l.at - 1;
    bool ok = p[0] == ':' && digits % 2 == 0 && digits >= 10 && digits <= 2 * kLineBytes;
    const uint32_t n = digits / 2;
    uint8_t sum = 0;
    for (uint32_t i = 0; ok && i < n; ++i) {
        const uint8_t hi = kHexNibble.v[p[1 + 2 * i]];
        const uint8_t lo = kHexNibble.v[p[2 + 2 * i]];
        if (((hi | lo) & 0xF0) != 0) { // either is no digit
            ok = false;
            break;
        }
        l.b[i] = static_cast<uint8_t>(hi << 4 | lo);
        sum = static_cast<uint8_t>(sum + l.b[i]);
    }
    if (ok && sum == 0 && n == l.b[0] + 5u) return true;
    HexExplain(text, l, because, cap);
    return false;
}

// The data bytes of a data record, from its count digits; 0 for any other record.
uint32_t HexDataCount(const uint8_t* line);
// Writes the byte's two digits at at, lower-case when lower.
void HexPutDigits(uint8_t* at, uint8_t b, bool lower);

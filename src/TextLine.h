// One line of a text firmware file (Intel HEX, S-records) and the hex digits both formats
// write their bytes in: below both codecs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

constexpr uint32_t kLineBytes = 260; // the most bytes a record of either format holds

// One line of a text: where it starts, where its text ends (before CR LF) and where the next
// line starts; its record once decoded: its bytes from the first pair of digits on, its type,
// and where its data bytes stand among them.
struct TextLine {
    uint32_t at, end, next;
    uint8_t type;  // the record type
    uint16_t data; // index in b of the first data byte
    uint16_t n;    // data bytes
    uint8_t b[kLineBytes];
};

// Finds the line at pos of the size bytes of text; false when it holds nothing but blanks and
// tabs (such lines are skipped wherever they stand).
inline bool SplitTextLine(const uint8_t* text, uint32_t size, uint32_t pos, TextLine& l) {
    const void* nl = std::memchr(text + pos, '\n', size - pos);
    const uint32_t end =
        nl != nullptr ? static_cast<uint32_t>(static_cast<const uint8_t*>(nl) - text) : size;
    l.at = pos;
    l.next = nl != nullptr ? end + 1 : size;
    l.end = end > pos && text[end - 1] == '\r' ? end - 1 : end;
    if (l.end == pos) return false;
    if (text[pos] != ' ' && text[pos] != '\t') return true;
    for (uint32_t i = pos; i < l.end; ++i) {
        if (text[i] != ' ' && text[i] != '\t') return true;
    }
    return false;
}

// True when the line is the file's last and no line ending follows it: a record that does not
// decode there may be one the file was cut inside.
inline bool LastLineUnended(const TextLine& l) {
    return l.next == l.end;
}

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

// Decodes count pairs of hex digits at p into out and returns their sum; false when a
// character is no hex digit.
inline bool DecodePairs(const uint8_t* p, uint32_t count, uint8_t* out, uint8_t& sum) {
    uint8_t s = 0;
    uint8_t bad = 0; // no digit has a high nibble: one that is set marks a character that is none
    for (uint32_t i = 0; i < count; ++i) {
        const uint8_t hi = kHexNibble.v[p[2 * i]];
        const uint8_t lo = kHexNibble.v[p[2 * i + 1]];
        bad |= hi | lo;
        out[i] = static_cast<uint8_t>(hi << 4 | lo);
        s = static_cast<uint8_t>(s + out[i]);
    }
    sum = s;
    return (bad & 0xF0) == 0;
}

// Says what is wrong with the line's digits from its character first on: one that is no hex
// digit, or, on the file's last line without a line end, fewer digits than its count byte
// (the first pair) and the fixed bytes beside the counted ones ask for: the file ends inside
// the record. False when neither is so.
bool ExplainDigits(const uint8_t* text, const TextLine& l, uint32_t first, uint32_t fixed,
                   char* because, size_t cap);
// Writes the byte's two digits at at, lower-case when lower.
void PutHexDigits(uint8_t* at, uint8_t b, bool lower);
// The two upper-case digits of each byte.
inline constexpr struct HexPairs {
    char v[256][2];
    constexpr HexPairs() : v{} {
        constexpr char kDigits[] = "0123456789ABCDEF";
        for (int b = 0; b < 256; ++b) {
            v[b][0] = kDigits[b >> 4];
            v[b][1] = kDigits[b & 15];
        }
    }
} kHexPairs;

// Writes the byte's two upper-case digits at out; returns the position behind them. Inline:
// the images encode every byte of a firmware of many MiB.
inline char* PutHexByte(char* out, uint8_t b) {
    std::memcpy(out, kHexPairs.v[b], 2);
    return out + 2;
}

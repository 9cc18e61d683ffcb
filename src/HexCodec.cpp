#include "HexCodec.h"

#include <cstdio>

uint32_t HexEncode(char* out, uint8_t type, uint16_t addr, const uint8_t* data, uint32_t n) {
    char* w = out;
    *w++ = ':';
    uint8_t sum = static_cast<uint8_t>(n + (addr >> 8) + (addr & 0xFF) + type);
    w = PutHexByte(w, static_cast<uint8_t>(n));
    w = PutHexByte(w, static_cast<uint8_t>(addr >> 8));
    w = PutHexByte(w, static_cast<uint8_t>(addr));
    w = PutHexByte(w, type);
    for (uint32_t i = 0; i < n; ++i) {
        w = PutHexByte(w, data[i]);
        sum = static_cast<uint8_t>(sum + data[i]);
    }
    w = PutHexByte(w, static_cast<uint8_t>(0u - sum));
    *w++ = '\r';
    *w++ = '\n';
    return static_cast<uint32_t>(w - out);
}

void HexExplain(const uint8_t* text, const TextLine& l, char* because, size_t cap) {
    const uint8_t* p = text + l.at;
    const uint32_t digits = l.end - l.at - 1;
    const uint32_t n = digits / 2;
    if (p[0] != ':') {
        std::snprintf(because, cap, "it does not start with ':'");
        return;
    }
    if (ExplainDigits(text, l, 1, 5, because, cap)) return;
    if (digits % 2 != 0 || digits < 10 || digits > 2 * kLineBytes) {
        std::snprintf(because, cap, "%u hex digits; a record has an even number from 10 to 520",
                      digits);
        return;
    }
    if (n != l.b[0] + 5u) {
        std::snprintf(because, cap, "its count says %u data bytes, the line holds %u", l.b[0],
                      n - 5);
        return;
    }
    uint8_t sum = 0;
    for (uint32_t i = 0; i + 1 < n; ++i) sum = static_cast<uint8_t>(sum + l.b[i]);
    std::snprintf(because, cap, "checksum %02X, expected %02X", l.b[n - 1],
                  static_cast<uint8_t>(0u - sum));
}

uint32_t HexDataCount(const uint8_t* line) {
    if (line[7] != '0' || line[8] != '0') return 0;
    return static_cast<uint32_t>(kHexNibble.v[line[1]] << 4 | kHexNibble.v[line[2]]);
}

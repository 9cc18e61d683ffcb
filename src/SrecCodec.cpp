#include "SrecCodec.h"

#include <cstdio>

uint32_t SrecEncode(char* out, uint8_t type, uint32_t addr, const uint8_t* data, uint32_t n) {
    const uint32_t address = SrecAddressBytes(type);
    char* w = out;
    *w++ = 'S';
    *w++ = static_cast<char>('0' + type);
    const uint8_t count = static_cast<uint8_t>(address + n + 1);
    uint8_t sum = count;
    w = PutHexByte(w, count);
    for (uint32_t i = address; i-- > 0;) {
        const uint8_t b = static_cast<uint8_t>(addr >> (8 * i));
        w = PutHexByte(w, b);
        sum = static_cast<uint8_t>(sum + b);
    }
    for (uint32_t i = 0; i < n; ++i) {
        w = PutHexByte(w, data[i]);
        sum = static_cast<uint8_t>(sum + data[i]);
    }
    w = PutHexByte(w, static_cast<uint8_t>(~sum));
    *w++ = '\r';
    *w++ = '\n';
    return static_cast<uint32_t>(w - out);
}

void SrecExplain(const uint8_t* text, const TextLine& l, char* because, size_t cap) {
    const uint8_t* p = text + l.at;
    const uint32_t length = l.end - l.at;
    if (p[0] != 'S' && p[0] != 's') {
        std::snprintf(because, cap, "it does not start with 'S'");
        return;
    }
    if (length < 2 && LastLineUnended(l)) {
        std::snprintf(because, cap, "the file ends inside this record: it is cut short");
        return;
    }
    if (length < 2 || p[1] < '0' || p[1] > '9') {
        std::snprintf(because, cap, "no record type digit follows the 'S'");
        return;
    }
    if (p[1] == '4') {
        std::snprintf(because, cap, "record type S4 is none of S0 to S3 and S5 to S9");
        return;
    }
    const uint32_t digits = length - 2;
    if (ExplainDigits(text, l, 2, 1, because, cap)) return;
    if (digits % 2 != 0 || digits < 8 || digits > 2 * 256) {
        std::snprintf(because, cap, "%u hex digits; a record has an even number from 8 to 512",
                      digits);
        return;
    }
    const uint32_t n = digits / 2;
    if (n != l.b[0] + 1u) {
        std::snprintf(because, cap, "its count says %u bytes follow it, the line holds %u", l.b[0],
                      n - 1);
        return;
    }
    uint8_t sum = 0;
    for (uint32_t i = 0; i + 1 < n; ++i) sum = static_cast<uint8_t>(sum + l.b[i]);
    if (l.b[n - 1] != static_cast<uint8_t>(~sum)) {
        std::snprintf(because, cap, "checksum %02X, expected %02X", l.b[n - 1],
                      static_cast<uint8_t>(~sum));
        return;
    }
    std::snprintf(because, cap, "an S%c record holds %u bytes, fewer than its address and checksum",
                  p[1], l.b[0]);
}

uint32_t SrecDataCount(const uint8_t* line) {
    const uint8_t type = static_cast<uint8_t>(line[1] - '0');
    if (type < 1 || type > 3) return 0;
    const uint32_t count =
        static_cast<uint32_t>(kHexNibble.v[line[2]] << 4 | kHexNibble.v[line[3]]);
    return count - SrecAddressBytes(type) - 1;
}

#include "TextLine.h"

#include <cstdio>

namespace {

constexpr char kLowerDigits[] = "0123456789abcdef";

} // namespace

bool ExplainDigits(const uint8_t* text, const TextLine& l, uint32_t first, uint32_t fixed,
                   char* because, size_t cap) {
    const uint8_t* p = text + l.at;
    const uint32_t length = l.end - l.at;
    for (uint32_t i = first; i < length; ++i) {
        if (kHexNibble.v[p[i]] != kHexNoDigit) continue;
        std::snprintf(because, cap, "character %u (0x%02X) is no hex digit", i + 1, p[i]);
        return true;
    }
    const uint32_t digits = length - first;
    if (LastLineUnended(l) && (digits < 2 || digits < 2 * (fixed + (kHexNibble.v[p[first]] << 4 |
                                                                    kHexNibble.v[p[first + 1]])))) {
        std::snprintf(because, cap, "the file ends inside this record: it is cut short");
        return true;
    }
    return false;
}

void PutHexDigits(uint8_t* at, uint8_t b, bool lower) {
    if (!lower) {
        std::memcpy(at, kHexPairs.v[b], 2);
        return;
    }
    at[0] = static_cast<uint8_t>(kLowerDigits[b >> 4]);
    at[1] = static_cast<uint8_t>(kLowerDigits[b & 15]);
}

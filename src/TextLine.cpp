#include "TextLine.h"

namespace {

constexpr char kUpperDigits[] = "0123456789ABCDEF";
constexpr char kLowerDigits[] = "0123456789abcdef";

// The two upper-case digits of each byte.
constexpr struct Pairs {
    char v[256][2];
    constexpr Pairs() : v{} {
        for (int b = 0; b < 256; ++b) {
            v[b][0] = kUpperDigits[b >> 4];
            v[b][1] = kUpperDigits[b & 15];
        }
    }
} kPairs;

} // namespace

void PutHexDigits(uint8_t* at, uint8_t b, bool lower) {
    const char* digits = lower ? kLowerDigits : kUpperDigits;
    at[0] = static_cast<uint8_t>(digits[b >> 4]);
    at[1] = static_cast<uint8_t>(digits[b & 15]);
}

char* PutHexByte(char* out, uint8_t b) {
    std::memcpy(out, kPairs.v[b], 2);
    return out + 2;
}

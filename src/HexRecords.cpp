#include "HexRecords.h"

#include <cstdio>
#include <cstring>

namespace {

constexpr uint64_t kAddrEnd = 0x100000000ull;

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

char* PutByte(char* out, uint8_t b) {
    std::memcpy(out, kPairs.v[b], 2);
    return out + 2;
}

} // namespace

uint32_t HexRecord(char* out, uint8_t type, uint16_t addr, const uint8_t* data, uint32_t n) {
    char* w = out;
    *w++ = ':';
    uint8_t sum = static_cast<uint8_t>(n + (addr >> 8) + (addr & 0xFF) + type);
    w = PutByte(w, static_cast<uint8_t>(n));
    w = PutByte(w, static_cast<uint8_t>(addr >> 8));
    w = PutByte(w, static_cast<uint8_t>(addr));
    w = PutByte(w, type);
    for (uint32_t i = 0; i < n; ++i) {
        w = PutByte(w, data[i]);
        sum = static_cast<uint8_t>(sum + data[i]);
    }
    w = PutByte(w, static_cast<uint8_t>(0u - sum));
    *w++ = '\r';
    *w++ = '\n';
    return static_cast<uint32_t>(w - out);
}

// ---- Cutting ----------------------------------------------------------------------------

void HexCutter::Emit(uint8_t type, uint32_t addr16, const uint8_t* data, uint32_t n) {
    if (pendingLen_ + kRecordMax > sizeof pending_) Flush();
    pendingLen_ += HexRecord(pending_ + pendingLen_, type, static_cast<uint16_t>(addr16), data, n);
}

// One data record of n bytes at at, behind a 04 record where the upper address bits change.
void HexCutter::EmitData(uint64_t at, const uint8_t* data, uint32_t n) {
    const int64_t upper = static_cast<int64_t>(at >> 16);
    if (upper != lastUpper_) {
        const uint8_t hi[2] = {static_cast<uint8_t>(upper >> 8), static_cast<uint8_t>(upper)};
        Emit(kRecUpper, 0, hi, 2);
        lastUpper_ = upper;
    }
    Emit(kRecData, static_cast<uint32_t>(at & 0xFFFF), data, n);
}

void HexCutter::Begin(uint64_t addr) {
    addr_ = addr;
    recLen_ = 0;
}

// Whole records go straight from the bytes; the rest waits in the record being filled.
bool HexCutter::Data(const uint8_t* bytes, uint32_t len) {
    if (addr_ + len > kAddrEnd) return false;
    while (len > 0) {
        const uint64_t toBoundary = 0x10000 - (addr_ & 0xFFFF);
        uint32_t take = kDataBytes - recLen_;
        if (take > len) take = len;
        if (take > toBoundary) take = static_cast<uint32_t>(toBoundary);
        const bool ends = recLen_ + take == kDataBytes || take == toBoundary;
        if (recLen_ == 0 && ends) {
            EmitData(addr_, bytes, take);
        } else {
            std::memcpy(rec_ + recLen_, bytes, take);
            recLen_ += take;
        }
        addr_ += take;
        bytes += take;
        len -= take;
        if (ends) End();
    }
    return true;
}

void HexCutter::End() {
    if (recLen_ == 0) return;
    const uint32_t n = recLen_;
    recLen_ = 0;
    EmitData(addr_ - n, rec_, n);
}

void HexCutter::Finish() {
    Emit(kRecEnd, 0, nullptr, 0);
    Flush();
}

void HexCutter::Flush() {
    out_.Put(reinterpret_cast<const uint8_t*>(pending_), pendingLen_, -1);
    pendingLen_ = 0;
}

// ---- Reading ----------------------------------------------------------------------------

void HexExplain(const uint8_t* text, const HexLine& l, char* because, size_t cap) {
    const uint8_t* p = text + l.at;
    const uint32_t digits = l.end - l.at - 1;
    if (p[0] != ':') {
        std::snprintf(because, cap, "it does not start with ':'");
        return;
    }
    for (uint32_t i = 1; i <= digits; ++i) {
        if (kHexNibble.v[p[i]] != kHexNoDigit) continue;
        std::snprintf(because, cap, "character %u (0x%02X) is no hex digit", i + 1, p[i]);
        return;
    }
    if (digits % 2 != 0 || digits < 10 || digits > 2 * kLineBytes) {
        std::snprintf(because, cap, "%u hex digits; a record has an even number from 10 to 520",
                      digits);
        return;
    }
    const uint32_t n = digits / 2;
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

void HexPutDigits(uint8_t* at, uint8_t b, bool lower) {
    const char* digits = lower ? kLowerDigits : kUpperDigits;
    at[0] = static_cast<uint8_t>(digits[b >> 4]);
    at[1] = static_cast<uint8_t>(digits[b & 15]);
}

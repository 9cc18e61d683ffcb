#include "Crp.h"

#include <cstdio>

#include "Mapped.h"

namespace {

struct Level {
    uint32_t value;
    const char* name;
};
constexpr Level kLevels[] = {
    {0x12345678u, "CRP1"},
    {0x87654321u, "CRP2"},
    {0x43218765u, "CRP3"},
    {0x4E697370u, "NO_ISP"},
};
constexpr int kCrp3 = 2; // its row

struct Found {
    uint32_t at;
    int level; // row of kLevels
};
constexpr int kMaxFound = 4;
Found found[kMaxFound];
int nFound;

bool Seen(uint32_t at) {
    for (int i = 0; i < nFound; ++i) {
        if (found[i].at == at) return true;
    }
    return false;
}

} // namespace

void CrpFind(const Firmware& in, const uint32_t* at, int n) {
    nFound = 0;
    Piece p;
    in.rewind();
    while (in.next(p)) {
        for (int i = 0; i < n && nFound < kMaxFound; ++i) {
            if (Seen(at[i]) || !in.has(p, at[i], 4)) continue;
            uint8_t b[4];
            in.read(p, at[i], b, 4);
            const uint32_t word = Load32(b); // little-endian in every format
            for (int k = 0; k < static_cast<int>(sizeof kLevels / sizeof kLevels[0]); ++k) {
                if (word == kLevels[k].value) found[nFound++] = {at[i], k};
            }
        }
    }
    in.rewind();
}

bool CrpLocked(uint32_t& at) {
    for (int i = 0; i < nFound; ++i) {
        if (found[i].level != kCrp3) continue;
        at = found[i].at;
        return true;
    }
    return false;
}

void CrpPrint() {
    for (int i = 0; i < nFound; ++i) {
        std::printf("*** Code Read Protection %s at 0x%08X\n", kLevels[found[i].level].name,
                    found[i].at);
    }
}

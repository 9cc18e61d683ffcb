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
constexpr int kMaxFound = 16; // four addresses, each with up to four levels
Found found[kMaxFound];
int nFound;

// The word as the part reads it: little-endian in every format, a big-endian ELF file too.
uint32_t Word(const uint8_t* b) {
    return Load32(b);
}

// Records the word at at when it is a special value; each level at an address once.
void Judge(uint32_t at, uint32_t word) {
    for (int k = 0; k < static_cast<int>(sizeof kLevels / sizeof kLevels[0]); ++k) {
        if (word != kLevels[k].value) continue;
        for (int i = 0; i < nFound; ++i) {
            if (found[i].at == at && found[i].level == k) return;
        }
        if (nFound < kMaxFound) found[nFound++] = {at, k};
    }
}

// The word at at as a flash tool leaves it: each byte from the last piece in the images'
// order that holds it. Each piece that holds all four bytes is judged on its own as well.
void Find(const Firmware& in, uint32_t at) {
    uint8_t word[4] = {};
    bool got[4] = {};
    Piece p;
    size_t c = 0;
    while (in.Next(c, p)) {
        if (in.Has(p, at, 4)) {
            in.Read(p, at, word, 4);
            Judge(at, Word(word));
            for (bool& g : got) g = true;
            continue;
        }
        for (uint32_t j = 0; j < 4; ++j) {
            if (!in.Has(p, at + j, 1)) continue;
            in.Read(p, at + j, word + j, 1);
            got[j] = true;
        }
    }
    if (got[0] && got[1] && got[2] && got[3]) Judge(at, Word(word));
}

} // namespace

void CrpFind(const Firmware& in, const uint32_t* at, int n) {
    nFound = 0;
    for (int i = 0; i < n; ++i) {
        bool again = false;
        for (int k = 0; k < i; ++k) again |= at[k] == at[i];
        if (!again) Find(in, at[i]);
    }
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

#include "Crp.h"

#include <cstdio>

#include "Diag.h"
#include "MappedFile.h"

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

// The word as the part reads it: little-endian in every format, a big-endian ELF file too.
uint32_t Word(const uint8_t* b) {
    return LoadLittle32(b);
}

constexpr int kLevelCount = static_cast<int>(sizeof kLevels / sizeof kLevels[0]);

// The row of the word's level, or -1 when it is no special value (the values differ).
int LevelRow(uint32_t word) {
    for (int k = 0; k < kLevelCount; ++k) {
        if (word == kLevels[k].value) return k;
    }
    return -1;
}

} // namespace

// Records the word at at when it is a special value; each level at an address once.
void CrpFindings::Judge(uint32_t at, uint32_t word) {
    const int k = LevelRow(word);
    if (k < 0) return;
    for (int i = 0; i < count_; ++i) {
        if (found_[i].at == at && found_[i].level == k) return;
    }
    if (count_ < kMaxFound) found_[count_++] = {at, k};
}

// The word at at as a flash tool leaves it: each byte from the last piece in the images'
// order that holds it. Each piece that holds all four bytes is judged on its own as well.
void CrpFindings::Gather(const Firmware& in, uint32_t at) {
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

CrpFindings CrpFindings::Find(const Firmware& in, const uint32_t* at, int n) {
    CrpFindings findings;
    for (int i = 0; i < n; ++i) {
        bool again = false;
        for (int k = 0; k < i; ++k) again |= at[k] == at[i];
        if (!again) findings.Gather(in, at[i]);
    }
    return findings;
}

bool CrpFindings::Locked(uint32_t& at) const {
    for (int i = 0; i < count_; ++i) {
        if (found_[i].level != kCrp3) continue;
        at = found_[i].at;
        return true;
    }
    return false;
}

void CrpFindings::Print() const {
    for (int i = 0; i < count_; ++i) {
        Say("*** Code Read Protection %s at 0x%08X\n", kLevels[found_[i].level].name, found_[i].at);
    }
}

const char* CrpFindings::LevelOf(uint32_t word) {
    const int k = LevelRow(word);
    return k < 0 ? nullptr : kLevels[k].name;
}

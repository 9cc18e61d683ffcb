// Code read protection: the word that the boot ROM reads next to the vector table. A run
// reports the special values it finds; the pass refuses CRP3, which locks a part for good,
// unless the command line accepts it.
#pragma once

#include <cstdint>

#include "Firmware.h"

constexpr uint32_t kCrpCortex = 0x2FC; // past a Cortex-M vector table
constexpr uint32_t kCrpArm = 0x1FC;    // past an ARM-state exception table

// The protection words with a special value that a run found, in the order found.
class CrpFindings {
  public:
    // Looks for the protection word at each of the n load addresses among the input's
    // firmware bytes.
    static CrpFindings Find(const Firmware& in, const uint32_t* at, int n);
    // True when a word found is CRP3; at is then its address.
    bool Locked(uint32_t& at) const;
    // Prints the report line of each word found.
    void Print() const;
    // The level's name of a special value ("CRP1", "CRP2", "CRP3", "NO_ISP"), or null.
    static const char* LevelOf(uint32_t word);

  private:
    void Judge(uint32_t at, uint32_t word);
    void Gather(const Firmware& in, uint32_t at);

    struct Found {
        uint32_t at;
        int level; // row of the levels' table
    };
    static constexpr int kMaxFound = 16; // four addresses, each with up to four levels
    Found found_[kMaxFound] = {};
    int count_ = 0;
};

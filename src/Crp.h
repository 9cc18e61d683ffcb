// Code read protection: the word that the boot ROM reads next to the vector table. A run
// reports the special values it finds; the pass refuses CRP3, which locks a part for good,
// unless the command line accepts it.
#pragma once

#include <cstdint>

#include "Firmware.h"

constexpr uint32_t kCrpCortex = 0x2FC; // past a Cortex-M vector table
constexpr uint32_t kCrpArm = 0x1FC;    // past an ARM-state exception table

// Looks for the protection word at each of the n load addresses among the input's firmware
// bytes.
void CrpFind(const Firmware& in, const uint32_t* at, int n);
// True when a word found is CRP3; at is then its address.
bool CrpLocked(uint32_t& at);
// Prints the report line of each word found with a special value.
void CrpPrint();

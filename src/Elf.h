// The ELF input: the loadable segments of an ARM executable as pieces of firmware.
#pragma once

#include <memory>

#include "Firmware.h"

// Reads the ELF header, the section and the program header tables. The input, or null when
// the file has no program header table or is refused (the tables' error number says so).
std::unique_ptr<Firmware> ElfInput();

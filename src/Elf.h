// The ELF input: the loadable segments of an ARM executable as pieces of firmware.
#pragma once

#include <memory>

#include "Firmware.h"

// Reads the ELF header, the section and the program header tables of the mapped file; a file
// that cannot be signed as an ELF executable is refused.
std::unique_ptr<Firmware> ElfInput(MappedFile& file);

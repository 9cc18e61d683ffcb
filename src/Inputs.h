// The inputs: which format the mapped file is, and its firmware.
#pragma once

#include <memory>

#include "Firmware.h"

// The mapped input's firmware: raw binary when it is no ELF file and its name ends in .bin
// (its first word may well start with ':'), Intel HEX when it starts with ':', else ELF. A file
// that is none of them is refused.
std::unique_ptr<Firmware> OpenInput(MappedFile& file, const char* name);

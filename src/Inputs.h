// The inputs: which format the mapped file is, and its firmware.
#pragma once

#include <memory>

#include "Firmware.h"

// The mapped input's firmware: raw binary when it is no ELF file and its name ends in .bin
// (its first word may well start with ':'), Intel HEX when it starts with ':', else ELF. Null
// when an ELF file has no program header table or is refused (the tables' error number).
std::unique_ptr<Firmware> OpenInput(const char* name);

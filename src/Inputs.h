// The inputs: which format the mapped file is, and its firmware.
#pragma once

#include <memory>

#include "Firmware.h"

// The mapped input's firmware: ELF by its magic number; else raw binary when its name ends in
// .bin (its first word may well start with ':' or 'S'); else S-records when its first character
// other than blank, tab, CR and LF is 'S' and a digit, or its name ends in .srec, .s19, .s28,
// .s37 or .mot; Intel HEX when that character is ':'. A file that is none of them is refused
// as no ELF file.
std::unique_ptr<Firmware> OpenInput(MappedFile& file, const char* name);

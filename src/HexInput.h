// The Intel HEX input: the whole mapped file checked as HEX records, its data handed to the
// signature pass as pieces, and the signature stored by rewriting hex digits in place.
#pragma once

#include <memory>

#include "Firmware.h"

// Checks the whole mapped file as Intel HEX and indexes its data. A fault stops the run with
// the invalid-hex-file report, naming the first faulty line.
std::unique_ptr<Firmware> HexInput(MappedFile& file);

// The Motorola S-record input: the whole mapped file checked as S-records (S0 header, S1 to S3
// data, S5 and S6 counts, S7 to S9 termination), signed in place as a HEX input is.
#pragma once

#include <memory>

#include "Firmware.h"

// Checks the whole mapped file as S-records and indexes its data. A fault stops the run with
// the invalid-hex-file report, naming the first faulty line.
std::unique_ptr<Firmware> SrecInput(MappedFile& file);

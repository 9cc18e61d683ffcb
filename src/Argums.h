// Command line: the token scanner with its echo, and the option grammar that fills the
// command-line record from the joined command line.
#pragma once

#include "Bom.h"
#include "CmdLine.h"

// Parses the whole command line (after ArgPrepare) into the record and the signature range.
void Options();

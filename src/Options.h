// The option grammar: the token scanner with its echo, reading the joined command line into the
// request: the input, the images, the signature range and the switches.
#pragma once

#include "Request.h"

// Joins the arguments and parses the whole command line into the request. A command line that
// is refused stops the run; the request then holds what was read so far (its echo for the
// report, and whether VERIFY keeps the images).
void ParseCommandLine(int argc, char** argv, Request& request);

// The command line as one text: the program path and the arguments joined into the text that
// the option grammar reads, and the image names derived from the input's name.
#pragma once

#include "Request.h"

// The characters that end a file name outside quotes, in their stored order.
constexpr char kNameDelimiters[14] = {' ',  ';',  ',',    '(', ')', '[', ']',
                                      '\n', '\r', '\x7F', '"', '{', '}', '\x1A'};

// Joins the program path and the arguments into the request's command line (taken from the
// command-line pool with its echo); an argument VERIFY marks the request to keep every image.
void JoinCommandLine(int argc, char** argv, Request& request);

// Replaces the extension of name (in place) with ext: at most four characters of ext up to
// its first blank. Both "\" and "/" end the backwards search for the dot.
void ReplaceExtension(char* name, const char* ext);

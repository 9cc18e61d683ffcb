// The command line as one text: the program path and the arguments joined into the buffer
// that the option grammar reads, and the image names derived from the input's name.
#pragma once

// The file-name delimiter set, in its stored order.
constexpr char del95[14] = {' ',  ';',  ',',    '(', ')', '[', ']',
                            '\n', '\r', '\x7F', '"', '{', '}', '\x1A'};

// Joins the program path and the arguments into the command line of the record.
int ArgPrepare(int argc, char** argv);

// Replaces the extension of name (in place) with ext: at most three characters of ext up to
// its first blank. Both "\" and "/" end the backwards search for the dot.
void chgext(char* name, const char* ext);

// What the command line asks of a run: the input, the images, the signature range and the
// run's switches. The command line fills it; the driver hands it to the pass and the images.
#pragma once

#include <cstdint>

#include "Range.h"

constexpr int kCommandLineCap = 0x8000; // capacity of the joined command line and its echo
constexpr int kNameCap = 1024;          // capacity of each file-name buffer

struct Request {
    char* commandLine = nullptr;   // program path and arguments joined (command-line pool)
    int32_t programPathLength = 0; // length of the program path that opens it, inside its quotes
    char* echo = nullptr;          // what has been parsed so far, for a refused command line
    char* inputName = nullptr;     // the firmware file (kNameCap characters, command-line pool)
    char* binaryName = nullptr;    // the binary image's name (derived from the input's or given)
    char* hexName = nullptr;       // the HEX image's name (derived from the input's or given)
    char* srecName = nullptr;      // the S-record image's name (derived from the input's or given)
    bool writeBinary = false;      // write the binary image (check it when checkOnly)
    bool writeHex = false;         // write the HEX image (check it when checkOnly)
    bool writeSrec = false;        // write the S-record image (check it when checkOnly)
    bool gapFill = false;          // the binary image's gaps hold fillByte (else zeros or holes)
    uint8_t fillByte = 0;
    bool checkOnly = false;      // VERIFY: nothing is written, created or deleted
    bool keepImages = false;     // an argument is VERIFY: no image is deleted, even by an
                                 // error reported before the keyword is read
    bool acceptCrp3 = false;     // a CRP3 word is accepted
    bool quiet = false;          // nothing on standard output unless the run fails
    bool staleImagesDue = false; // the command line is accepted: stale images may go
    SignatureRange range;        // not Configured() until BASEADDRESS or the pass sets it
};

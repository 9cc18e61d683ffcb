// The command-line record: what the command line asks of the run. The command line fills it;
// the pass, the images and the driver read it.
#pragma once

#include <cstdint>

constexpr int kCmdCap = 0x8000; // capacity of the command-line buffer
constexpr int kNameCap = 1024;  // capacity of each file-name buffer

struct Bom {
    char* cmd;       // the joined command line (kCmdCap characters, pool 0)
    int32_t cap;     // its capacity
    int32_t pathLen; // length of the program path that opens it, inside its quotes
    char* echo;      // echo of what has been parsed so far (same capacity, pool 0)
    char* inName;    // input file name (kNameCap characters, pool 0)
    char* binName;   // binary image file name (kNameCap characters, pool 0)
    char* hexName;   // HEX image file name (kNameCap characters, pool 0)
    uint8_t flags;   // kBom... bits
};
constexpr uint8_t kBomBinary = 0x01; // write the binary image (check it with kBomVerify)
constexpr uint8_t kBomVerify = 0x02; // check only: nothing is written, created or deleted
constexpr uint8_t kBomKeep = 0x04;   // an argument is VERIFY: no image is deleted, even by
                                     // an error reported before the keyword is read
constexpr uint8_t kBomHex = 0x08;    // write the HEX image (check it with kBomVerify)
constexpr uint8_t kBomCrp3 = 0x10;   // a CRP3 word is accepted
constexpr uint8_t kBomStale = 0x20;  // the command line is accepted: stale images may go

extern Bom bom;

// True in a check-only run (VERIFY): nothing is written, created or deleted.
inline bool Checking() {
    return (bom.flags & kBomVerify) != 0;
}

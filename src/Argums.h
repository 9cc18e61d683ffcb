// Command line: the joined buffer, the token scanner with its echo, and the option grammar.
#pragma once

#include <cstdint>
#include <cstdio>

constexpr int kCmdCap = 0x8000; // capacity of the command-line buffer
constexpr int kNameCap = 1024;  // capacity of each file-name buffer

// The command-line record.
struct Bom {
    char* cmd;        // the joined command line (kCmdCap characters, pool 0)
    int32_t cap;      // its capacity
    char* echo;       // echo of what has been parsed so far (same capacity, pool 0)
    char* inName;     // input file name (kNameCap characters, pool 0)
    char* binName;    // binary image file name (kNameCap characters, pool 0)
    uint8_t flags;    // kBom... bits
    std::FILE* binFp; // open image stream, null when none is open
    char* hexName;    // HEX image file name (kNameCap characters, pool 0)
    std::FILE* hexFp; // open HEX image stream, null when none is open
};
constexpr uint8_t kBomBinary = 0x01; // write the binary image (check it with kBomVerify)
constexpr uint8_t kBomVerify = 0x02; // check only: nothing is written, created or deleted
constexpr uint8_t kBomKeep = 0x04;   // an argument is VERIFY: no image is deleted, even by
                                     // an error reported before the keyword is read
constexpr uint8_t kBomHex = 0x08;    // write the HEX image (check it with kBomVerify)
constexpr uint8_t kBomCrp3 = 0x10;   // a CRP3 word is accepted
constexpr uint8_t kBomStale = 0x20;  // the command line is accepted: stale images may go

extern Bom bom;
extern Bom* pBom;

// True in a check-only run (VERIFY): nothing is written, created or deleted.
inline bool Checking() {
    return (bom.flags & kBomVerify) != 0;
}

// Joins the program path and the arguments into the command line.
int ArgPrepare(int argc, char** argv);
// Parses the whole command line into the record; returns pBom.
Bom* Options();

// Replaces the extension of name (in place) with ext: at most three characters of ext up to
// its first blank. Both "\" and "/" end the backwards search for the dot.
void chgext(char* name, const char* ext);

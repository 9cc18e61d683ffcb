// How a run stops before its end: a fatal report (exit code 3) or the reader's abort, an input
// cut short (exit code 2). Both travel as one typed error to the driver, which releases what
// the run holds, once, on the way out, and then reports.
#pragma once

// The fatal conditions; each selects a fixed report.
enum class Failure : int {
    CmdLine = 1,        // command-line grammar, prints the echo of what was parsed
    InvalidArg = 2,     // unrecognised keyword
    OutOfMemory = 3,    // memory exhaustion
    OpenFile = 4,       // input file cannot be opened or mapped
    CreateFile = 5,     // image file cannot be created
    InvalidElf = 6,     // input is not a usable ELF file
    IoError = 7,        // write error on the image file
    NumRange = 8,       // number outside its bounds
    InvalidNum = 9,     // malformed number
    RangeNotFound = 10, // signature range not found
    HexFile = 11,       // input is not a valid Intel HEX file; the text names the line
    Crp3 = 12,          // a CRP3 word that the command line does not accept
};

constexpr int kExitOk = 0;
constexpr int kExitWrong = 1; // a check-only run found the signature or an image not right
constexpr int kExitFatal = 3;

// The one error of a run.
struct Stop {
    int exit;        // kExitFatal, or the reader's abort
    Failure failure; // the report of a fatal stop (none for the reader's abort)
    char text[1100]; // its text: a file name of up to 1000 characters and a line number
};

// Stops the run with the report of failure and the caller's text.
[[noreturn]] void Fatal(Failure failure, const char* text);
// Stops the run as cut short: the input ends before what it describes.
[[noreturn]] void CutShort();

// Prints the fatal report of stop on standard output (the command line's echo for a
// command-line report) and the diagnostic line on standard error; input names the input file.
void FatalReport(const Stop& stop, const char* echo, const char* input);

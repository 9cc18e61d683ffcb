// Tool driver: entry, banner, stale-image removal and the one fatal error report.
#pragma once

// The fatal conditions; each selects a fixed report.
enum class NFACT : int {
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

// Deletes the image file, prints the report of the code with the caller's text and ends the
// process with exit code 3.
[[noreturn]] void Fatal(NFACT code, const char* text);
// Prints the banner.
void SigPrn();
// Deletes the image files named in the command-line record (the HEX image only when it is
// requested), unless one is the input file.
void RemoveBin();
// Copies the input and image names out of pool 0, so that they stay readable after the pools
// are released.
void KeepNames();
// Where a fatal report ends. By default the process exits with code 3; a harness that runs the
// tool in-process installs a hook that takes the run back and does not return.
using ExitHook = void (*)(int code);
void SetExitHook(ExitHook hook);

// The whole life of the tool; returns the process exit code.
int VortleMain(int argc, char** argv);
// The part after the command line: the signature pass and its report, as the command-line
// record and the signature range say. Returns the process exit code.
int VortleRun();

// The version text, "1.4".
const char* VersionText();

#include "Fatal.h"

#include <cstdio>

#include "Diag.h"
#include "Plat.h"

namespace {

// Header lines and detail format of each failure, indexed by its number.
struct Report {
    const char* header;
    const char* detail;
};
constexpr const char* kHdrCmd = "*** Fatal-Error while parsing command line\n";
constexpr const char* kHdrFile = "*** Fatal-Error while accessing file\n";
constexpr const char* kHdrElf = "*** Fatal-Error while processing elf/dwarf file\n";
constexpr int kCodes = 12;
constexpr Report kReports[kCodes + 1] = {
    {nullptr, nullptr},
    {kHdrCmd, "***  Error: %s\n"},
    {kHdrCmd, "***  Error: invalid argument '%s'\n"},
    {"*** Fatal-Error while allocating memory\n", "***  Error: %s\n"},
    {kHdrFile, "***  Error: cannot open file '%s'\n"},
    {kHdrFile, "***  Error: cannot create file '%s'\n"},
    {kHdrFile, "***  Error: invalid elf/dwarf file '%s'\n"},
    {"*** Fatal-Error while writing file\n", "***  Error: I/O error on file '%s'\n"},
    {kHdrCmd, "***  Error: number out of range '%s'\n"},
    {kHdrCmd, "***  Error: invalid number '%s'\n"},
    {kHdrElf, "***  Error: %s\n"},
    {"*** Fatal-Error while processing hex file\n", "***  Error: invalid hex file %s\n"},
    {kHdrElf, "***  Error: %s\n"},
};

// The diagnostic line of a fatal report: the cause a deeper step said, else the report's own
// words with the file concerned.
void SayWhy(Failure failure, const char* text, const char* in) {
    switch (failure) {
    case Failure::CmdLine:
    case Failure::InvalidArg:
    case Failure::NumRange:
    case Failure::InvalidNum:
        WhyPrint("command line", text);
        return;
    case Failure::CreateFile:
        WhyPrint(text, "cannot create the image");
        return;
    case Failure::IoError:
        WhyPrint(text, "cannot write the image");
        return;
    case Failure::OutOfMemory:
        WhyPrint(in[0] != '\0' ? in : "vortle", "out of memory");
        return;
    default:
        WhyPrint(in, text[0] != '\0' ? text : "cannot be signed");
        return;
    }
}

} // namespace

void Fatal(Failure failure, const char* text) {
    Stop stop; // its text is written whole below
    stop.exit = kExitFatal;
    stop.failure = failure;
    std::snprintf(stop.text, sizeof stop.text, "%s", text != nullptr ? text : "");
    throw stop;
}

void CutShort() {
    Stop stop; // no report: no text
    stop.exit = kExitReaderAbort;
    stop.failure = Failure{};
    stop.text[0] = '\0';
    throw stop;
}

void FatalReport(const Stop& stop, const char* echo, const char* input) {
    const int c = static_cast<int>(stop.failure);
    if (c >= 1 && c <= kCodes) {
        Say("%s", kReports[c].header);
        if (stop.failure == Failure::CmdLine) {
            Say("***  Command line: '%s'\n", echo != nullptr ? echo : "");
        }
        Say(kReports[c].detail, stop.text);
    }
    Say("*** Vortle terminated.\n");
    FlushOutput();
    SayWhy(stop.failure, stop.text, input != nullptr ? input : "");
}

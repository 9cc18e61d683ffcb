#include "Vortle.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <new>
#include <string_view>

#include "Argums.h"
#include "Crp.h"
#include "Diag.h"
#include "Names.h"
#include "Plat.h"
#include "TempImage.h"
#include "Xelf.h"

namespace {

constexpr int kMajor = 1;
constexpr int kMinor = 4;
constexpr const char* kTitle = "VORTLE - Signature Creator";
constexpr const char* kCopyright = "(C) Copyright 2026 The Vortle Authors";

constexpr int kExitOk = 0;
constexpr int kExitWrong = 1;
constexpr int kExitAbort = kExitReaderAbort;
constexpr int kExitFatal = 3;

char version[5];
ExitHook exitHook;

// Header lines and detail format of each fatal code, indexed by the code.
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

constexpr const char* kUsage =
    "Usage: vortle <input> [BINARY[(<image>)]] [HEX[(<image>)]] [BASEADDRESS(<number>)]\n"
    "              [CRP3] [VERIFY]\n"
    "\n"
    "Signs the firmware in place: the vector table's first eight words then sum to zero.\n"
    "The input is an ELF executable, an Intel HEX file (its first character is ':') or a raw\n"
    "image named *.bin (loaded at address 0).\n"
    "  BINARY, BIN            also write the binary image, named like the input with .BIN\n"
    "  BINARY(<image>)        write the binary image to <image>\n"
    "  HEX, HEX(<image>)      also write the Intel HEX image (default: the input's name\n"
    "                         with .HEX)\n"
    "  BASEADDRESS(<number>)  the vector table's address, decimal or 0x hex (default 0);\n"
    "                         BA(<number>) for short\n"
    "  CRP3                   accept a code read protection word of level CRP3, which\n"
    "                         locks the part for good (refused without it)\n"
    "  VERIFY                 check only, change nothing: exit 1 when the signature or,\n"
    "                         with BINARY or HEX, an image is not right\n"
    "In a shell, quote the parentheses: 'BIN(out/app.bin)' 'HEX(out/app.hex)' 'BA(0x2000)'.\n"
    "\n"
    "Exit codes: 0 signed or verified, 1 verification failed, 2 damaged ELF file (or an\n"
    "            input cut short while it was read), 3 fatal error (a report follows)\n";

// Copies of the file names that outlive the pools.
char keptIn[kNameCap];
char keptBin[kNameCap];
char keptHex[kNameCap];

void Keep(char*& name, char* copy) {
    if (name == nullptr || name == copy) return;
    std::snprintf(copy, kNameCap, "%s", name);
    name = copy;
}

// An image is written by truncating its file: that file must not be the input, nor the other
// image, whichever spelling names it. Such a run changes nothing, not even a stale image.
void CheckImageNames() {
    const bool bin = (bom.flags & kBomBinary) != 0;
    const bool hex = (bom.flags & kBomHex) != 0;
    const char* clash = nullptr;
    const char* other = "the input file";
    if (bin && SameTarget(bom.binName, bom.inName)) {
        clash = bom.binName;
    } else if (hex && SameTarget(bom.hexName, bom.inName)) {
        clash = bom.hexName;
    } else if (hex && bin && SameTarget(bom.hexName, bom.binName)) {
        clash = bom.hexName;
        other = "the binary image";
    }
    if (clash == nullptr) return;
    Why(clash, "cannot create: it names %s as well; nothing was changed", other);
    Fatal(NFACT::CreateFile, clash);
}

// Deletes a stale image. Never the user's firmware, whatever name designates it, nor a device
// or a folder; a name the user did not give (exact) only where the folder stores it so.
void RemoveImage(const char* name, bool exact) {
    if (name != nullptr && (!exact || StoredExactly(name))) TempRemoveStale(name, bom.inName);
}

// The diagnostic line of a fatal report: the cause a deeper step said, else the report's own
// words with the file concerned.
void SayWhy(NFACT code, const char* text) {
    const char* in = bom.inName != nullptr ? bom.inName : "";
    const char* t = text != nullptr ? text : "";
    switch (code) {
    case NFACT::CmdLine:
    case NFACT::InvalidArg:
    case NFACT::NumRange:
    case NFACT::InvalidNum:
        WhyPrint("command line", t);
        return;
    case NFACT::CreateFile:
        WhyPrint(t, "cannot create the image");
        return;
    case NFACT::IoError:
        WhyPrint(t, "cannot write the image");
        return;
    case NFACT::OutOfMemory:
        WhyPrint(in[0] != '\0' ? in : "vortle", "out of memory");
        return;
    default:
        WhyPrint(in, t[0] != '\0' ? t : "cannot be signed");
        return;
    }
}

} // namespace

const char* VersionText() {
    if (version[0] == '\0') {
        int n = std::snprintf(version, sizeof version, "%d", kMajor);
        n += std::snprintf(version + n, sizeof version - static_cast<size_t>(n), ".");
        char minor[16];
        std::snprintf(minor, sizeof minor, "%d", kMinor);
        std::snprintf(version + n, sizeof version - static_cast<size_t>(n), "%.2s", minor);
    }
    return version;
}

void SigPrn() {
    std::printf("V%s", VersionText());
    std::printf("\n%s V%s", kTitle, VersionText());
    std::printf("\n%s\n\n", kCopyright);
}

void RemoveBin() {
    // A check-only run leaves every file as it is (VERIFY always sets kBomKeep), and so does
    // a run that ends before its stale images are due (a refused command line).
    if ((bom.flags & kBomKeep) != 0 || (bom.flags & kBomStale) == 0) return;
    RemoveImage(bom.binName, (bom.flags & kBomBinary) == 0);
    if ((bom.flags & kBomHex) != 0) RemoveImage(bom.hexName, false);
}

void KeepNames() {
    Keep(bom.inName, keptIn);
    Keep(bom.binName, keptBin);
    Keep(bom.hexName, keptHex);
    bom.cmd = nullptr;
    bom.echo = nullptr;
}

void Fatal(NFACT code, const char* text) {
    const int c = static_cast<int>(code);
    ImagesAbandon();
    RemoveBin();
    if (c >= 1 && c <= kCodes) {
        std::fputs(kReports[c].header, stdout);
        if (code == NFACT::CmdLine) {
            std::printf("***  Command line: '%s'\n", bom.echo != nullptr ? bom.echo : "");
        }
        std::printf(kReports[c].detail, text != nullptr ? text : "");
    }
    std::fputs("*** Vortle terminated.\n", stdout);
    std::fflush(stdout);
    SayWhy(code, text);
    if (exitHook != nullptr) exitHook(kExitFatal);
    std::exit(kExitFatal);
}

void SetExitHook(ExitHook hook) {
    exitHook = hook;
}

int VortleMain(int argc, char** argv) {
    PlatInit();
    WhyReset();
    SigPrn();
    if (argc == 2) {
        const std::string_view only = argv[1];
        const bool help = only == "--help" || only == "-h" || only == "/?";
        if (help) std::fputs(kUsage, stdout);
        if (help || only == "--version" || only == "-V") {
            std::fflush(stdout);
            return kExitOk;
        }
    }
    ArgPrepare(argc, argv);
    Options();
    return VortleRun();
}

namespace {

// The run after the command line: the stale images, the pass and its report.
int Run() {
    CheckImageNames();
    bom.flags |= kBomStale;
    RemoveBin();
    // What is printed so far stays printed when the platform ends the pass at a fault.
    std::fflush(stdout);
    if (Vortle_Reader() != 0) {
        RemoveBin();
        std::fflush(stdout);
        WhyPrint(bom.inName, "cut short: the file ends before what it describes");
        return kExitAbort;
    }
    bool wrong = verdict != Verdict::Right;
    for (int i = 0; i < kImages; ++i) wrong |= ImageVerdict(i) != Verdict::Right;
    if (wrong) {
        if (verdict == Verdict::WrongSignature) {
            std::printf("*** %s\n", szWrong);
            CrpPrint();
        } else {
            std::printf("*** %s\n", szStat);
            CrpPrint();
            for (int i = 0; i < kImages; ++i) {
                const Verdict v = ImageVerdict(i);
                if (v == Verdict::Right) continue;
                std::printf("*** Image '%s' %s\n", ImageName(i),
                            v == Verdict::ImageMissing ? "is missing" : "differs");
            }
        }
        std::printf("*** Verification failed.\n");
        std::fflush(stdout);
        if (verdict == Verdict::WrongSignature) Why(bom.inName, "verification failed: %s", szWrong);
        for (int i = 0; i < kImages; ++i) {
            const Verdict v = ImageVerdict(i);
            if (v == Verdict::Right) continue;
            Why(ImageName(i), "verification failed: %s",
                v == Verdict::ImageMissing ? "the image is missing"
                                           : "the image differs from the one "
                                             "signing writes");
        }
        WhyPrint(bom.inName, "verification failed");
        return kExitWrong;
    }
    std::printf("*** %s\n", szStat);
    CrpPrint();
    std::printf("*** Processing completed, no Errors.\n");
    std::fflush(stdout);
    return kExitOk;
}

} // namespace

int VortleRun() {
    WhyReset();
    try {
        return Run();
    } catch (const std::bad_alloc&) {
        // Running out of memory anywhere is the memory report, never an abort.
        ImagesAbandon();
        LoadClear(&xfi);
        Fatal(NFACT::OutOfMemory, "out of memory");
    }
}

#include "Vortle.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "Alloc.h"
#include "Argums.h"
#include "Plat.h"
#include "Xelf.h"

namespace {

constexpr int kMajor = 1;
constexpr int kMinor = 4;
constexpr const char* kTitle = "VORTLE - Signature Creator";
constexpr const char* kCopyright = "(C) Copyright 2026 The Vortle Authors";

constexpr int kExitOk = 0;
constexpr int kExitWrong = 1;
constexpr int kExitAbort = 2;
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
constexpr Report kReports[11] = {
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
    {"*** Fatal-Error while processing elf/dwarf file\n", "***  Error: %s\n"},
};

constexpr const char* kUsage =
    "Usage: vortle <input.elf> [BINARY[(<image>)]] [BASEADDRESS(<number>)] [VERIFY]\n"
    "\n"
    "Signs the firmware in place: the vector table's first eight words then sum to zero.\n"
    "  BINARY, BIN            also write the binary image, named like the input with .BIN\n"
    "  BINARY(<image>)        write the binary image to <image>\n"
    "  BASEADDRESS(<number>)  the vector table's address, decimal or 0x hex (default 0);\n"
    "                         BA(<number>) for short\n"
    "  VERIFY                 check only, change nothing: exit 1 when the signature or,\n"
    "                         with BINARY, the image is not right\n"
    "In a shell, quote the parentheses: 'BIN(out/app.bin)' 'BA(0x2000)'.\n"
    "\n"
    "Exit codes: 0 signed or verified, 1 verification failed, 2 damaged ELF file,\n"
    "            3 fatal error (a report follows)\n";

// Copies of the file names that outlive the pools.
char keptIn[kNameCap];
char keptBin[kNameCap];

void Keep(char*& name, char* copy) {
    if (name == nullptr || name == copy) return;
    std::snprintf(copy, kNameCap, "%s", name);
    name = copy;
}

// With BINARY the image is written by truncating its file: that file must not be the input.
void CheckBinNotInput() {
    if ((bom.flags & kBomBinary) != 0 && PlatSameFile(bom.binName, bom.inName)) {
        Fatal(NFACT::CreateFile, bom.binName);
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
    if (bom.binName == nullptr || bom.binName[0] == '\0') return;
    // A check-only run leaves every file as it is (VERIFY always sets kBomKeep).
    if ((bom.flags & kBomKeep) != 0) return;
    // Never the user's firmware, whatever name designates it, nor a device or a folder.
    if (PlatStaleImage(bom.binName, bom.inName)) PlatRemoveFile(bom.binName);
}

void KeepNames() {
    Keep(bom.inName, keptIn);
    Keep(bom.binName, keptBin);
    bom.cmd = nullptr;
    bom.echo = nullptr;
}

void Fatal(NFACT code, const char* text) {
    const int c = static_cast<int>(code);
    if (bom.binFp != nullptr) {
        std::fclose(bom.binFp);
        bom.binFp = nullptr;
    }
    RemoveBin();
    if (c >= 1 && c <= 10) {
        std::fputs(kReports[c].header, stdout);
        if (code == NFACT::CmdLine) {
            std::printf("***  Command line: '%s'\n", bom.echo != nullptr ? bom.echo : "");
        }
        std::printf(kReports[c].detail, text != nullptr ? text : "");
    }
    std::fputs("*** Vortle terminated.\n", stdout);
    std::fflush(stdout);
    if (exitHook != nullptr) exitHook(kExitFatal);
    std::exit(kExitFatal);
}

void SetExitHook(ExitHook hook) {
    exitHook = hook;
}

int VortleMain(int argc, char** argv) {
    PlatInit();
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

int VortleRun() {
    CheckBinNotInput();
    RemoveBin();
    if (Vortle_Reader() != 0) {
        RemoveBin();
        std::fflush(stdout);
        return kExitAbort;
    }
    if (verdict != Verdict::Right) {
        if (verdict == Verdict::WrongSignature) {
            std::printf("*** %s\n", szWrong);
        } else {
            std::printf("*** %s\n", szStat);
            std::printf("*** Image '%s' %s\n", bom.binName,
                        verdict == Verdict::ImageMissing ? "is missing" : "differs");
        }
        std::printf("*** Verification failed.\n");
        std::fflush(stdout);
        return kExitWrong;
    }
    std::printf("*** %s\n", szStat);
    std::printf("*** Processing completed, no Errors.\n");
    std::fflush(stdout);
    return kExitOk;
}

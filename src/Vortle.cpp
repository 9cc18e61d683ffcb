#include "Vortle.h"

#include <cstdio>
#include <new>
#include <string_view>

#include "Alloc.h"
#include "Argums.h"
#include "Crp.h"
#include "Diag.h"
#include "Fatal.h"
#include "Names.h"
#include "Pass.h"
#include "Plat.h"
#include "TempImage.h"

namespace {

constexpr const char* kVersion = "1.4";
constexpr const char* kTitle = "VORTLE - Signature Creator";
constexpr const char* kCopyright = "(C) Copyright 2026 The Vortle Authors";

// At most 79 columns a line, as a terminal shows them.
constexpr const char* kUsage =
    "Usage: vortle <input> [BINARY[(<image>)]] [HEX[(<image>)]]\n"
    "              [BASEADDRESS(<number>)] [CRP3] [VERIFY]\n"
    "\n"
    "Signs the firmware in place: the vector table's first eight words then sum to\n"
    "zero. The input is an ELF executable, an Intel HEX file (its first character\n"
    "is ':') or a raw image named *.bin (loaded at address 0).\n"
    "  BINARY, BIN            also write the binary image, named like the input\n"
    "                         with .BIN\n"
    "  BINARY(<image>)        write the binary image to <image>\n"
    "  HEX, HEX(<image>)      also write the Intel HEX image (default: the input's\n"
    "                         name with .HEX)\n"
    "  BASEADDRESS(<number>)  the vector table's address, decimal or 0x hex\n"
    "                         (default 0); BA(<number>) for short\n"
    "  CRP3                   accept a code read protection word of level CRP3,\n"
    "                         which locks the part for good (refused without it)\n"
    "  VERIFY                 check only, change nothing: exit 1 when the signature\n"
    "                         or, with BINARY or HEX, an image is not right\n"
    "In a shell, quote the parentheses:\n"
    "  vortle app.elf 'BIN(out/app.bin)' 'HEX(out/app.hex)' 'BA(0x2000)'\n"
    "\n"
    "Exit codes: 0 signed or verified, 1 verification failed, 2 damaged ELF file\n"
    "            (or an input cut short while it was read), 3 fatal error (a report\n"
    "            follows)\n";

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
    if (bin && SameTarget(bom.binName, bom.inName)) {
        clash = bom.binName;
    } else if (hex && SameTarget(bom.hexName, bom.inName)) {
        clash = bom.hexName;
    }
    if (clash != nullptr) {
        // Only an input that is there is protected: a missing one is the input's own failure.
        const PlatHandle input = PlatOpenRW(bom.inName, false);
        if (input == kNoHandle) {
            Why(bom.inName, "cannot open: %s", SystemError());
            Fatal(NFACT::OpenFile, bom.inName);
        }
        PlatCloseFile(input);
        Why(clash, "cannot create: it names the input file as well; nothing was changed");
        Fatal(NFACT::CreateFile, clash);
    }
    if (hex && bin && SameTarget(bom.hexName, bom.binName)) {
        Why(bom.hexName, "cannot create: it names the binary image as well; nothing was changed");
        Fatal(NFACT::CreateFile, bom.hexName);
    }
}

// Deletes a stale image. Never the user's firmware, whatever name designates it, nor a device
// or a folder; a name the user did not give (exact) only where the folder stores it so.
void RemoveImage(const char* name, bool exact) {
    if (name != nullptr && (!exact || StoredExactly(name))) TempRemoveStale(name, bom.inName);
}

void SigPrn() {
    std::printf("V%s", kVersion);
    std::printf("\n%s V%s", kTitle, kVersion);
    std::printf("\n%s\n\n", kCopyright);
}

// Deletes the image files named in the command-line record (the HEX image only when it is
// requested), unless one is the input file.
void RemoveBin() {
    // A check-only run leaves every file as it is (VERIFY always sets kBomKeep), and so does
    // a run that ends before its stale images are due (a refused command line).
    if ((bom.flags & kBomKeep) != 0 || (bom.flags & kBomStale) == 0) return;
    RemoveImage(bom.binName, (bom.flags & kBomBinary) == 0);
    if ((bom.flags & kBomHex) != 0) RemoveImage(bom.hexName, false);
}

// Copies the input and image names out of pool 0, so that they stay readable after the pools
// are released.
void KeepNames() {
    Keep(bom.inName, keptIn);
    Keep(bom.binName, keptBin);
    Keep(bom.hexName, keptHex);
    bom.cmd = nullptr;
    bom.echo = nullptr;
}

// A stopped run: what it held is released by now (its images and the mapping, as the stop
// left them); the stale images go, and the report follows.
int Stopped(const Stop& stop) {
    if (stop.code == NFACT::OutOfMemory) {
        // The file names live in pool 0: copies stay readable for the image deletion.
        KeepNames();
        FreeAll();
    }
    RemoveBin();
    if (stop.exit == kExitReaderAbort) {
        FlushOutput();
        WhyPrint(bom.inName, "cut short: the file ends before what it describes");
        return kExitReaderAbort;
    }
    FatalReport(stop, bom.echo, bom.inName);
    return kExitFatal;
}

// The name of an image, by its place in the order of the images.
const char* ImageName(int which) {
    return which == kImageHex ? bom.hexName : bom.binName;
}

// A check-only run that found the signature or an image not right: a wrong signature is the
// one finding; else each image that is missing or differs.
int Wrong() {
    const bool signature = verdict == Verdict::WrongSignature;
    for (int i = 0; i < kImages && !signature; ++i) {
        if (imageVerdict[i] == Verdict::Right) continue;
        std::printf("*** Image '%s' %s\n", ImageName(i),
                    imageVerdict[i] == Verdict::ImageMissing ? "is missing" : "differs");
    }
    std::printf("*** Verification failed.\n");
    FlushOutput();
    if (signature) Why(bom.inName, "verification failed: %s", szWrong);
    for (int i = 0; i < kImages; ++i) {
        if (imageVerdict[i] == Verdict::Right) continue;
        Why(ImageName(i), "verification failed: %s",
            imageVerdict[i] == Verdict::ImageMissing
                ? "the image is missing"
                : "the image differs from the one signing writes");
    }
    WhyPrint(bom.inName, "verification failed");
    return kExitWrong;
}

// The run after the command line: the stale images, the pass and its report.
int Run() {
    CheckImageNames();
    bom.flags |= kBomStale;
    RemoveBin();
    // What is printed so far stays printed when the platform ends the pass at a fault.
    FlushOutput();
    Vortle_Reader();
    std::printf("*** %s\n", verdict == Verdict::WrongSignature ? szWrong : szStat);
    CrpPrint();
    bool wrong = verdict != Verdict::Right;
    for (const Verdict v : imageVerdict) wrong |= v != Verdict::Right;
    if (wrong) return Wrong();
    std::printf("*** Processing completed, no Errors.\n");
    FlushOutput();
    return kExitOk;
}

} // namespace

int VortleGuard(const std::function<int()>& body) {
    try {
        return body();
    } catch (const Stop& stop) {
        return Stopped(stop);
    } catch (const std::bad_alloc&) {
        // Running out of memory anywhere is the memory report, never an abort.
        return Stopped(Stop{kExitFatal, NFACT::OutOfMemory, "out of memory"});
    }
}

int VortleMain(int argc, char** argv) {
    PlatInit();
    WhyReset();
    SigPrn();
    if (argc == 2) {
        const std::string_view only = argv[1];
        const bool help = only == "--help" || only == "-h" || only == "/?";
        if (help) std::fputs(kUsage, stdout);
        if (help || only == "--version" || only == "-V") return ReportOutput(kExitOk);
    }
    return ReportOutput(VortleGuard([argc, argv] {
        ArgPrepare(argc, argv);
        Options();
        return Run();
    }));
}

int VortleRun() {
    WhyReset();
    return ReportOutput(VortleGuard(Run));
}

#include "Vortle.h"

#include <cstdio>
#include <new>
#include <string_view>

#include "Alloc.h"
#include "Crp.h"
#include "Diag.h"
#include "Fatal.h"
#include "Names.h"
#include "Options.h"
#include "Pass.h"
#include "Plat.h"
#include "TempImage.h"

namespace {

constexpr const char* kVersion = "1.4";
constexpr const char* kTitle = "VORTLE - Signature Creator";
constexpr const char* kCopyright = "(C) Copyright 2026 The Vortle Authors";

// At most 79 columns a line, as a terminal shows them.
constexpr const char* kUsage =
    "Usage: vortle <input> [BINARY[(<image>)]] [HEX[(<image>)]] [SREC[(<image>)]]\n"
    "              [BASEADDRESS(<number>)] [FILL(<byte>)] [CRP3] [VERIFY] [QUIET]\n"
    "\n"
    "Signs the firmware in place: the vector table's first eight words then sum to\n"
    "zero. The input is an ELF executable, an Intel HEX file (its first character\n"
    "is ':'), an S-record file (its first character is 'S', or it is named *.srec,\n"
    "*.s19, *.s28, *.s37 or *.mot) or a raw image named *.bin (loaded at 0).\n"
    "  BINARY, BIN            also write the binary image, named like the input\n"
    "                         with .BIN\n"
    "  BINARY(<image>)        write the binary image to <image>\n"
    "  HEX, HEX(<image>)      also write the Intel HEX image (default: the input's\n"
    "                         name with .HEX)\n"
    "  SREC, SREC(<image>)    also write the S-record image (default: the input's\n"
    "                         name with .SREC)\n"
    "  BASEADDRESS(<number>)  the vector table's address, decimal or 0x hex\n"
    "                         (default 0); BA(<number>) for short\n"
    "  FILL(<byte>)           the binary image's gaps hold this byte (0 to 0xFF)\n"
    "                         instead of zeros\n"
    "  CRP3                   accept a code read protection word of level CRP3,\n"
    "                         which locks the part for good (refused without it)\n"
    "  VERIFY                 check only, change nothing: exit 1 when the signature\n"
    "                         or, with BINARY, HEX or SREC, an image is not right\n"
    "  QUIET, --quiet, -q     print nothing unless the run fails\n"
    "In a shell, quote the parentheses:\n"
    "  vortle app.elf 'BIN(out/app.bin)' 'HEX(out/app.hex)' 'BA(0x2000)'\n"
    "\n"
    "Exit codes: 0 signed or verified, 1 verification failed, 2 damaged ELF file\n"
    "            (or an input cut short while it was read), 3 fatal error (a report\n"
    "            follows)\n";

// The name of an image, by its place in the order of the images, and what it is called.
const char* ImageName(const Request& r, int which) {
    const char* names[kImages] = {r.binaryName, r.hexName, r.srecName};
    return names[which];
}
bool ImageWanted(const Request& r, int which) {
    const bool wanted[kImages] = {r.writeBinary, r.writeHex, r.writeSrec};
    return wanted[which];
}
constexpr const char* kImageTitles[kImages] = {"the binary image", "the HEX image",
                                               "the S-record image"};

// An image is written by truncating its file: that file must not be the input, nor another
// image, whichever spelling names it. Such a run changes nothing, not even a stale image.
void CheckImageNames(const Request& r) {
    const char* clash = nullptr;
    for (int i = 0; i < kImages && clash == nullptr; ++i) {
        if (ImageWanted(r, i) && SameTarget(ImageName(r, i), r.inputName)) clash = ImageName(r, i);
    }
    if (clash != nullptr) {
        // Only an input that is there is protected: a missing one is the input's own failure.
        const PlatHandle input = PlatOpenRW(r.inputName, false);
        if (input == kNoHandle) {
            Why(r.inputName, "cannot open: %s", SystemError());
            Fatal(Failure::OpenFile, r.inputName);
        }
        PlatCloseFile(input);
        Why(clash, "cannot create: it names the input file as well; nothing was changed");
        Fatal(Failure::CreateFile, clash);
    }
    for (int later = 1; later < kImages; ++later) {
        for (int i = 0; i < later; ++i) {
            if (!ImageWanted(r, i) || !ImageWanted(r, later) ||
                !SameTarget(ImageName(r, later), ImageName(r, i))) {
                continue;
            }
            Why(ImageName(r, later), "cannot create: it names %s as well; nothing was changed",
                kImageTitles[i]);
            Fatal(Failure::CreateFile, ImageName(r, later));
        }
    }
}

// Deletes a stale image. Never the user's firmware, whatever name designates it, nor a device
// or a folder; a name the user did not give (exact) only where the folder stores it so.
void RemoveImage(const char* name, const char* input, bool exact) {
    if (name != nullptr && (!exact || StoredExactly(name))) TempRemoveStale(name, input);
}

void PrintBanner() {
    Say("V%s", kVersion);
    Say("\n%s V%s", kTitle, kVersion);
    Say("\n%s\n\n", kCopyright);
}

// Deletes the image files the request names (the HEX and S-record images only when they are
// requested), unless one is the input file.
void RemoveStaleImages(const Request& r) {
    // A check-only run leaves every file as it is (VERIFY always keeps the images), and so does
    // a run that ends before its stale images are due (a refused command line).
    if (r.keepImages || !r.staleImagesDue) return;
    RemoveImage(r.binaryName, r.inputName, !r.writeBinary);
    if (r.writeHex) RemoveImage(r.hexName, r.inputName, false);
    if (r.writeSrec) RemoveImage(r.srecName, r.inputName, false);
}

// Copies of the file names, for a run whose pools are released before it reports.
struct KeptNames {
    char input[kNameCap];
    char binary[kNameCap];
    char hex[kNameCap];
    char srec[kNameCap];
};

void Keep(char*& name, char* copy) {
    if (name == nullptr) return;
    std::snprintf(copy, kNameCap, "%s", name);
    name = copy;
}

// A stopped run: what it held is released by now (its images and the mapping, as the stop
// left them); the stale images go, and the report follows.
int Stopped(const Stop& stop, Request& r) {
    KeptNames kept;
    if (stop.failure == Failure::OutOfMemory) {
        // The file names live in the command-line pool: copies stay readable for the image
        // deletion and the report, which has no echo then.
        Keep(r.inputName, kept.input);
        Keep(r.binaryName, kept.binary);
        Keep(r.hexName, kept.hex);
        Keep(r.srecName, kept.srec);
        r.commandLine = nullptr;
        r.echo = nullptr;
        FreeAll();
    }
    RemoveStaleImages(r);
    int code = kExitFatal;
    if (stop.exit == kExitReaderAbort) {
        FlushOutput();
        WhyPrint(r.inputName, "cut short: the file ends before what it describes");
        code = kExitReaderAbort;
    } else {
        FatalReport(stop, r.echo, r.inputName);
    }
    if (stop.failure == Failure::OutOfMemory) r = Request{}; // the copies end here
    return code;
}

// A check-only run that found the signature or an image not right: a wrong signature is the
// one finding; else each image that is missing or differs.
int Wrong(const Request& r, const PassResult& result) {
    const bool signature = result.signature == Verdict::WrongSignature;
    for (int i = 0; i < kImages && !signature; ++i) {
        if (result.images[i] == Verdict::Right) continue;
        Say("*** Image '%s' %s\n", ImageName(r, i),
            result.images[i] == Verdict::ImageMissing ? "is missing" : "differs");
    }
    Say("*** Verification failed.\n");
    FlushOutput();
    if (signature) Why(r.inputName, "verification failed: %s", result.wrongLine);
    for (int i = 0; i < kImages; ++i) {
        if (result.images[i] == Verdict::Right) continue;
        Why(ImageName(r, i), "verification failed: %s",
            result.images[i] == Verdict::ImageMissing
                ? "the image is missing"
                : "the image differs from the one signing writes");
    }
    WhyPrint(r.inputName, "verification failed");
    return kExitWrong;
}

// The run after the command line: the stale images, the pass and its report.
int Run(Request& r) {
    CheckImageNames(r);
    r.staleImagesDue = true;
    RemoveStaleImages(r);
    // What is printed so far stays printed when the platform ends the pass at a fault.
    FlushOutput();
    const PassResult result = SignFirmware(r);
    Say("*** %s\n", result.signature == Verdict::WrongSignature ? result.wrongLine : result.status);
    result.protection.Print();
    bool wrong = result.signature != Verdict::Right;
    for (const Verdict v : result.images) wrong |= v != Verdict::Right;
    if (wrong) return Wrong(r, result);
    Say("*** Processing completed, no Errors.\n");
    FlushOutput();
    return kExitOk;
}

} // namespace

int VortleGuard(Request& request, const std::function<int()>& body) {
    try {
        return body();
    } catch (const Stop& stop) {
        return Stopped(stop, request);
    } catch (const std::bad_alloc&) {
        // Running out of memory anywhere is the memory report, never an abort.
        return Stopped(Stop{kExitFatal, Failure::OutOfMemory, "out of memory"}, request);
    }
}

int VortleMain(int argc, char** argv) {
    PlatInit();
    WhyReset();
    PrintBanner();
    if (argc == 2) {
        const std::string_view only = argv[1];
        const bool help = only == "--help" || only == "-h" || only == "/?";
        if (help) Say("%s", kUsage);
        if (help || only == "--version" || only == "-V") return ReportOutput(kExitOk);
    }
    Request request;
    return ReportOutput(VortleGuard(request, [argc, argv, &request] {
        ParseCommandLine(argc, argv, request);
        return Run(request);
    }));
}

int VortleRun(Request& request) {
    WhyReset();
    return ReportOutput(VortleGuard(request, [&request] { return Run(request); }));
}

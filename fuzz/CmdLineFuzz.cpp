// The command line on arbitrary argument vectors: the input's NUL bytes separate the arguments.
#include <cstring>
#include <string>

#include "Argums.h"
#include "Harness.h"
#include "Fatal.h"
#include "Range.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    HarnessInit();
    // A fatal report deletes the image file by its name: names stay inside the working folder.
    if (std::memchr(data, '/', size) != nullptr || std::memchr(data, '\\', size) != nullptr) {
        return 0;
    }
    std::vector<std::string> args{"vortle"};
    std::string cur;
    for (size_t i = 0; i < size && args.size() < 64; ++i) {
        if (data[i] == 0) {
            args.push_back(cur);
            cur.clear();
        } else {
            cur += static_cast<char>(data[i]);
        }
    }
    if (args.size() < 64) args.push_back(cur);
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);

    HarnessReset();
    HarnessEnter();
    try {
        ArgPrepare(static_cast<int>(args.size()), argv.data());
        Options();
    } catch (const Stop& f) {
        HarnessLeave();
        HARNESS_CHECK(f.exit == kExitFatal);
        HARNESS_CHECK(bom.echo == nullptr || std::strlen(bom.echo) < static_cast<size_t>(kCmdCap));
        return 0;
    }
    HarnessLeave();
    const size_t in = std::strlen(bom.inName);
    HARNESS_CHECK(in >= 1 && in <= 1000); // names are taken whole or refused
    HARNESS_CHECK(std::strlen(bom.binName) <= 1004);
    HARNESS_CHECK(std::strlen(bom.hexName) <= 1004);
    HARNESS_CHECK(std::strlen(bom.echo) < static_cast<size_t>(kCmdCap - 31));
    HARNESS_CHECK(signa.position == 0 ||
                  (signa.position == signa.start + 28 && signa.start <= 0xFF000000u));
    HARNESS_CHECK((bom.flags & ~(kBomBinary | kBomVerify | kBomKeep | kBomHex | kBomCrp3)) == 0);
    // VERIFY, once read, keeps every image.
    HARNESS_CHECK((bom.flags & kBomVerify) == 0 || (bom.flags & kBomKeep) != 0);
    return 0;
}

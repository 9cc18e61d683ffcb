// The command line on arbitrary argument vectors: the input's NUL bytes separate the arguments.
#include <cstring>
#include <string>

#include "Fatal.h"
#include "Harness.h"
#include "Options.h"

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
    Request r;
    try {
        ParseCommandLine(static_cast<int>(args.size()), argv.data(), r);
    } catch (const Stop& f) {
        HarnessLeave();
        HARNESS_CHECK(f.exit == kExitFatal);
        HARNESS_CHECK(r.echo == nullptr ||
                      std::strlen(r.echo) < static_cast<size_t>(kCommandLineCap));
        return 0;
    }
    HarnessLeave();
    const size_t in = std::strlen(r.inputName);
    HARNESS_CHECK(in >= 1 && in <= 1000); // names are taken whole or refused
    HARNESS_CHECK(std::strlen(r.binaryName) <= 1004);
    HARNESS_CHECK(std::strlen(r.hexName) <= 1004);
    HARNESS_CHECK(std::strlen(r.echo) < static_cast<size_t>(kCommandLineCap - 31));
    HARNESS_CHECK(!r.range.Configured() ||
                  (r.range.position == r.range.start + 28 && r.range.start <= 0xFF000000u));
    HARNESS_CHECK(!r.staleImagesDue); // the command line alone never lets an image go
    // VERIFY, once read, keeps every image.
    HARNESS_CHECK(!r.checkOnly || r.keepImages);
    return 0;
}

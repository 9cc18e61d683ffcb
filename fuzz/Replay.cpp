// Replays saved inputs through a fuzz target, without the fuzzer: each argument is a file or
// a folder of files.
#include <cstdio>
#include <filesystem>

#include "Harness.h"

int main(int argc, char** argv) {
    namespace fs = std::filesystem;
    std::vector<fs::path> files;
    for (int i = 1; i < argc; ++i) {
        if (fs::is_directory(argv[i])) {
            for (const auto& e : fs::directory_iterator(argv[i])) {
                if (e.is_regular_file()) files.push_back(fs::absolute(e.path()));
            }
        } else if (fs::exists(argv[i])) {
            files.push_back(fs::absolute(argv[i]));
        }
    }
    int n = 0;
    for (const fs::path& f : files) {
        const std::vector<uint8_t> b = HarnessRead(f.string());
        LLVMFuzzerTestOneInput(b.data(), b.size());
        ++n;
    }
    std::fprintf(stderr, "replayed %d inputs\n", n);
    return n > 0 ? 0 : 1;
}

#include "Harness.h"

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "Alloc.h"
#include "Diag.h"

namespace {

int home = -1;      // the current folder outside the runs
std::string output; // what the run wrote to standard output

// Standard output goes into memory: a stream that makes no system call.
ssize_t Keep(void*, const char* bytes, size_t size) {
    output.append(bytes, size);
    return static_cast<ssize_t>(size);
}

} // namespace

const std::string& HarnessInit() {
    static std::string dir;
    if (dir.empty()) {
        static const cookie_io_functions_t sink{nullptr, Keep, nullptr, nullptr};
        if (std::FILE* f = fopencookie(nullptr, "w", sink)) {
            stdout = f;
            WhySink(f);
        }
        const char* base = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
        std::string tmpl = std::string(base) + "/vortle-fuzz-XXXXXX";
        if (mkdtemp(tmpl.data()) == nullptr) HarnessFail("cannot make the working folder");
        home = open(".", O_RDONLY | O_CLOEXEC);
        dir = tmpl;
    }
    return dir;
}

void HarnessEnter() {
    if (chdir(HarnessInit().c_str()) != 0) HarnessFail("cannot enter the working folder");
}

void HarnessLeave() {
    if (home < 0 || fchdir(home) != 0) HarnessFail("cannot leave the working folder");
}

void HarnessReset() {
    FreeAll();
    output.clear();
}

const std::string& HarnessOutput() {
    return output;
}

void HarnessFail(const char* what) {
    std::fprintf(stderr, "invariant broken: %s\n", what);
    std::abort();
}

std::vector<uint8_t> HarnessRead(const std::string& path) {
    std::vector<uint8_t> b;
    if (std::FILE* f = std::fopen(path.c_str(), "rb")) {
        uint8_t buf[65536];
        size_t n;
        while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) b.insert(b.end(), buf, buf + n);
        std::fclose(f);
    }
    return b;
}

void HarnessWrite(const std::string& path, const uint8_t* data, size_t size) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) HarnessFail("cannot write the input file");
    if (size > 0) std::fwrite(data, 1, size, f);
    std::fclose(f);
}

bool HarnessExists(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0;
}

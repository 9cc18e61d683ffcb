// The engine target's files as real files in the working folder, for the replay of saved
// inputs against the system's platform layer. The input stays open across runs.
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>

#include "Harness.h"

namespace {
int input = -1;
std::string inputPath;
} // namespace

void HarnessPutInput(const std::string& path, const uint8_t* data, size_t size) {
    if (input >= 0 && path != inputPath) {
        close(input);
        input = -1;
    }
    inputPath = path;
    if (input < 0) input = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (input < 0 || ftruncate(input, static_cast<off_t>(size)) != 0 ||
        pwrite(input, data, size, 0) != static_cast<ssize_t>(size)) {
        HarnessFail("cannot write the input file");
    }
}

const std::vector<uint8_t>& HarnessGetInput(size_t size) {
    static std::vector<uint8_t> b;
    b.resize(size + 1);
    const ssize_t n = pread(input, b.data(), b.size(), 0);
    b.resize(n > 0 ? static_cast<size_t>(n) : 0);
    return b;
}

bool HarnessGetFile(const std::string& path, std::vector<uint8_t>& bytes) {
    bytes.clear();
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    uint8_t buf[65536];
    ssize_t n;
    while ((n = read(fd, buf, sizeof buf)) > 0) bytes.insert(bytes.end(), buf, buf + n);
    close(fd);
    return true;
}

void HarnessPutFile(const std::string& path, const uint8_t* data, size_t size) {
    HarnessWrite(path, data, size);
}

void HarnessRemoveFile(const std::string& path) {
    std::remove(path.c_str());
}

// POSIX platform layer: open/fstat/mmap in place of the Windows file mapping.
#include "Plat.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#if defined(__GLIBC__)
#include <malloc.h>
#endif
#include <sys/mman.h>
#include <unistd.h>

#ifdef __APPLE__
#include <mach-o/dyld.h>
#endif

namespace {
char progPath[PATH_MAX + 1];
// Pool blocks from this size on are mapped fresh: already zero, and only the pages that are
// used are ever touched.
constexpr int kMapFrom = 16 * 1024;
// Segments from this size on are copied to the image by the kernel.
constexpr uint32_t kKernelCopyFrom = 64 * 1024;
} // namespace

void PlatInit() {
#ifdef M_MMAP_THRESHOLD
    mallopt(M_MMAP_THRESHOLD, kMapFrom);
#endif
}

const char* PlatProgramPath(const char* argv0) {
#if defined(__APPLE__)
    char raw[PATH_MAX + 1];
    uint32_t size = sizeof raw;
    if (_NSGetExecutablePath(raw, &size) == 0 && realpath(raw, progPath) != nullptr) {
        return progPath;
    }
#else
    const ssize_t n = readlink("/proc/self/exe", progPath, sizeof progPath - 1);
    if (n > 0) {
        progPath[n] = '\0';
        return progPath;
    }
#endif
    if (argv0 != nullptr && argv0[0] != '\0') return argv0;
    return "vortle";
}

PlatHandle PlatOpenRW(const char* name, bool write) {
    const int fd = open(name, (write ? O_RDWR : O_RDONLY) | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    return fd < 0 ? kNoHandle : static_cast<PlatHandle>(fd);
}

// POSIX maps straight from the descriptor: the mapping handle is the descriptor itself and
// owns nothing of its own.
PlatHandle PlatCreateMapping(PlatHandle file, bool /*write*/) {
    return file;
}

int PlatFileStatus(const char* /*name*/, PlatHandle file, PlatStat* status, bool write) {
    if (fstat(static_cast<int>(file), status) != 0) return -1;
    if (!S_ISREG(status->st_mode)) return -1;
    // A file that nobody may write is read-only, also for a privileged user.
    if (write && (status->st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) return -1;
    return 0;
}

void* PlatMapView(PlatHandle /*mapping*/, PlatHandle file, uint32_t size, bool write) {
    if (size == 0) return nullptr;
    void* view = mmap(nullptr, size, write ? PROT_READ | PROT_WRITE : PROT_READ, MAP_SHARED,
                      static_cast<int>(file), 0);
    return view == MAP_FAILED ? nullptr : view;
}

void PlatUnmapView(void* view, uint32_t size) {
    munmap(view, size);
}

void PlatCloseMapping(PlatHandle /*mapping*/) {}

void PlatCloseFile(PlatHandle file) {
    close(static_cast<int>(file));
}

int PlatWriteImage(std::FILE* image, PlatHandle file, uint32_t offset, const uint8_t* bytes,
                   uint32_t len) {
#ifdef __linux__
    // The kernel copies the bytes from file to file, patched signature included (the mapping
    // shares the file's pages), without faulting them into this process. Where it cannot,
    // the rest goes through the stream.
    if (len >= kKernelCopyFrom && std::fflush(image) == 0) {
        off_t from = offset;
        while (len > 0) {
            const ssize_t n =
                copy_file_range(static_cast<int>(file), &from, fileno(image), nullptr, len, 0);
            if (n <= 0) break;
            bytes += n;
            len -= static_cast<uint32_t>(n);
        }
    }
#else
    (void)file;
    (void)offset;
#endif
    if (len > 0) std::fwrite(bytes, 1, len, image);
    return std::ferror(image) != 0 ? -1 : 0;
}

int PlatImageHole(std::FILE* image, uint64_t len) {
    // Moving the descriptor past the end leaves a hole that the next bytes close: no time and
    // no disk for the gap. The stream is flushed first; it only ever appends at the
    // descriptor's position. What cannot seek (a pipe) is refused.
    return std::fflush(image) == 0 && len <= static_cast<uint64_t>(INT64_MAX) &&
                   lseek(fileno(image), static_cast<off_t>(len), SEEK_CUR) >= 0
               ? 1
               : 0;
}

int PlatStaleImage(const char* image, const char* input) {
    struct stat si {};
    if (stat(image, &si) != 0 || !S_ISREG(si.st_mode)) return 0;
    struct stat sn {};
    if (input == nullptr || stat(input, &sn) != 0) return 1;
    return si.st_dev == sn.st_dev && si.st_ino == sn.st_ino ? 0 : 1;
}

int PlatSameFile(const char* a, const char* b) {
    struct stat sa {};
    struct stat sb {};
    if (a == nullptr || b == nullptr || stat(a, &sa) != 0 || stat(b, &sb) != 0) return 0;
    return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino ? 1 : 0;
}

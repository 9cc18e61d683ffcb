// POSIX platform layer: open/fstat/mmap in place of the Windows file mapping.
#include "Plat.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <fcntl.h>
#if defined(__GLIBC__)
#include <malloc.h>
#endif
#include <csignal>
#include <cstdlib>
#include <dirent.h>
#include <strings.h>
#include <sys/mman.h>
#include <unistd.h>
#ifdef __linux__
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/vfs.h>
#endif

#ifdef __APPLE__
#include <mach-o/dyld.h>
#endif

namespace {
char progPath[PATH_MAX + 1];
#ifdef M_MMAP_THRESHOLD
// Pool blocks from this size on are mapped fresh: already zero, and only the pages that are
// used are ever touched.
constexpr int kMapFrom = 16 * 1024;
#endif
#ifdef __linux__
// Segments from this size on are copied to the image by the kernel.
constexpr uint32_t kKernelCopyFrom = 64 * 1024;
#endif

// What the tool deletes when a signal ends it or the mapped input faults.
void (*volatile onAbort)();
// What it says when the input faults, and what standard output still owes then.
char faultLine[2048];
size_t faultLen;
const char* volatile owedOutput;
volatile size_t owedLen;

void Cleanup() {
    if (void (*f)() = onAbort) f();
}

// SIGINT, SIGTERM, SIGHUP: no half-written image stays; the signal then ends the process as
// it would have (the handler is reset before it runs).
void OnSignal(int sig) {
    Cleanup();
    raise(sig);
}

// SIGBUS: the input became shorter while it is mapped (rewritten by a linker or an IDE). That
// is the reader's abort: no message, no image, exit code 2. Standard output was flushed before
// the pass.
void OnFault(int) {
    Cleanup();
    if (owedOutput != nullptr && owedLen > 0) {
        const ssize_t n = write(1, owedOutput, owedLen);
        (void)n;
    }
    if (faultLen > 0) {
        const ssize_t n = write(2, faultLine, faultLen);
        (void)n;
    }
    _exit(kExitReaderAbort);
}

void Handle(int sig, void (*handler)(int), int flags) {
    struct sigaction sa {};
    sa.sa_handler = handler;
    sa.sa_flags = flags;
    sigemptyset(&sa.sa_mask);
    sigaction(sig, &sa, nullptr);
}

// Opens name without waiting (a FIFO without a peer would block) and keeps the descriptor
// only for a regular file or a character device; -1 otherwise.
int OpenKind(const char* name, int flags) {
    const int fd = open(name, flags | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return -1;
    struct stat st {};
    if (fstat(fd, &st) != 0 || !(S_ISREG(st.st_mode) || S_ISCHR(st.st_mode))) {
        close(fd);
        return -1;
    }
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return fd;
}

std::FILE* Stream(int fd, const char* mode) {
    std::FILE* f = fd >= 0 ? fdopen(fd, mode) : nullptr;
    if (f == nullptr && fd >= 0) close(fd);
    return f;
}

} // namespace

void PlatInit() {
    // A standard descriptor closed at the start would be the number of the first file opened:
    // the input would receive the diagnostics. The null device takes its place first.
    for (int fd = 0; fd <= 2; ++fd) {
        if (fcntl(fd, F_GETFD) >= 0 || errno != EBADF) continue;
        const int null = open("/dev/null", O_RDWR | O_NOCTTY);
        if (null >= 0 && null != fd) {
            dup2(null, fd);
            close(null);
        }
    }
    // A reader that went away (a pipe into head) never cuts the file work short: the write
    // fails instead, and the run says so at its end.
    signal(SIGPIPE, SIG_IGN);
#ifdef M_MMAP_THRESHOLD
    mallopt(M_MMAP_THRESHOLD, kMapFrom);
#endif
    // A file-size limit makes the write fail (an I/O error on the image), not the process.
    signal(SIGXFSZ, SIG_IGN);
    // A signal that the tool was started with ignored (nohup, a background job) stays ignored.
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
        struct sigaction old {};
        if (sigaction(sig, nullptr, &old) == 0 && old.sa_handler == SIG_DFL) {
            Handle(sig, OnSignal, SA_RESETHAND);
        }
    }
    Handle(SIGBUS, OnFault, 0);
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
    if (!S_ISREG(status->st_mode)) return kStatNotRegular;
    // A file that nobody may write is read-only, also for a privileged user.
    if (write && (status->st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) return kStatReadOnly;
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

std::FILE* PlatReadImage(const char* name) {
    return Stream(OpenKind(name, O_RDONLY), "rb");
}

int PlatRemoveFile(const char* name) {
    return unlink(name);
}

int64_t PlatFileSize(PlatHandle file) {
    struct stat st {};
    return fstat(static_cast<int>(file), &st) == 0 ? static_cast<int64_t>(st.st_size) : -1;
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

bool PlatImageHole(std::FILE* image, uint64_t len) {
    // Moving the descriptor past the end leaves a hole that the next bytes close: no time and
    // no disk for the gap. The stream is flushed first; it only ever appends at the
    // descriptor's position. What cannot seek (a pipe) is refused.
    return std::fflush(image) == 0 && len <= static_cast<uint64_t>(INT64_MAX) &&
           lseek(fileno(image), static_cast<off_t>(len), SEEK_CUR) >= 0;
}

bool PlatStaleImage(const char* image, const char* input) {
    struct stat si {};
    if (lstat(image, &si) != 0 || !S_ISREG(si.st_mode)) return false;
    struct stat sn {};
    if (input == nullptr || stat(input, &sn) != 0) return true;
    return si.st_dev != sn.st_dev || si.st_ino != sn.st_ino;
}

bool PlatSameFile(const char* a, const char* b) {
    struct stat sa {};
    struct stat sb {};
    if (a == nullptr || b == nullptr || stat(a, &sa) != 0 || stat(b, &sb) != 0) return false;
    return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

namespace {

// True when the open folder's volume compares names ignoring case: a case-folding folder
// (ext4, f2fs), a FAT, exFAT, NTFS or SMB volume; on macOS, what the volume says.
bool FoldsCase(int fd) {
#if defined(__APPLE__)
    return fpathconf(fd, _PC_CASE_SENSITIVE) == 0;
#elif defined(__linux__)
    constexpr long kCaseFold = 0x40000000; // FS_CASEFOLD_FL
    long flags = 0;
    if (ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0 && (flags & kCaseFold) != 0) return true;
    struct statfs fs {};
    if (fstatfs(fd, &fs) != 0) return false;
    constexpr long kFolding[] = {0x4d44,     0x2011BAB0, 0x5346544e, 0x7366746e,
                                 0xFF534D42, 0xFE534D42, 0x517B};
    for (long t : kFolding) {
        if (static_cast<long>(fs.f_type) == t) return true;
    }
    return false;
#else
    (void)fd;
    return false;
#endif
}

} // namespace

int PlatFolderOf(const char* folder, PlatFolder& out) {
    const int fd = open(folder, O_RDONLY | O_DIRECTORY | O_NOCTTY | O_CLOEXEC);
    struct stat st {};
    if (fd >= 0) {
        const bool ok = fstat(fd, &st) == 0;
        out = {static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino), FoldsCase(fd)};
        close(fd);
        return ok ? 0 : -1;
    }
    // A folder that may be searched but not read: its identity, and names taken as they are.
    if (stat(folder, &st) != 0 || !S_ISDIR(st.st_mode)) return -1;
    out = {static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino), false};
    return 0;
}

bool PlatSameLeaf(const char* a, const char* b, bool foldsCase) {
    return (foldsCase ? strcasecmp(a, b) : std::strcmp(a, b)) == 0;
}

bool PlatStoredExactly(const char* folder, const char* leaf) {
    DIR* d = opendir(folder);
    if (d == nullptr) return false;
    bool found = false;
    while (const dirent* e = readdir(d)) {
        if (std::strcmp(e->d_name, leaf) == 0) {
            found = true;
            break;
        }
    }
    closedir(d);
    return found;
}

void PlatOnAbort(void (*cleanup)()) {
    onAbort = cleanup;
}

void PlatHoldSignals(bool hold) {
    sigset_t set;
    sigemptyset(&set);
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&set, sig);
    sigprocmask(hold ? SIG_BLOCK : SIG_UNBLOCK, &set, nullptr);
}

void PlatOnFaultOutput(const char* text, size_t len) {
    owedLen = 0;
    owedOutput = text;
    owedLen = len;
}

void PlatOnFault(const char* line) {
    faultLen = 0;
    const int n = std::snprintf(faultLine, sizeof faultLine, "%s\n", line);
    if (n > 0) faultLen = std::strlen(faultLine);
}

// POSIX platform layer, image files: where an image name leads, temporary files created in the
// folder that holds the image and renamed onto it. Every name is resolved by the kernel, from
// a folder held open; nothing walks a path in user space.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#if defined(__linux__)
#include <sys/random.h>
#endif

#include "Plat.h"

namespace {

constexpr PlatHandle kNoLeaf = -2; // a spot whose name ends in no component

#ifdef O_PATH
constexpr int kFolderFlags = O_PATH | O_DIRECTORY | O_CLOEXEC;
constexpr int kFollowFlags = O_PATH | O_CLOEXEC;
#else
constexpr int kFolderFlags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;
constexpr int kFollowFlags = O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
#endif

// Opens the folder that holds name's last component, and puts that component into the spot.
// False when the name ends in no component, or the folder cannot be opened (spot.dir is then
// kNoHandle and errno says why).
bool OpenSpot(const char* name, PlatSpot& spot) {
    spot.dir = kNoHandle;
    const char* slash = std::strrchr(name, '/');
    const char* leaf = slash != nullptr ? slash + 1 : name;
    if (leaf[0] == '\0' || std::strcmp(leaf, ".") == 0 || std::strcmp(leaf, "..") == 0 ||
        std::snprintf(spot.leaf, sizeof spot.leaf, "%s", leaf) >=
            static_cast<int>(sizeof spot.leaf)) {
        spot.dir = kNoLeaf;
        return false;
    }
    char folder[kPlatLeafCap];
    if (slash == nullptr) {
        std::snprintf(folder, sizeof folder, ".");
    } else if (std::snprintf(folder, sizeof folder, "%.*s", static_cast<int>(slash - name + 1),
                             name) >= static_cast<int>(sizeof folder)) {
        return false;
    }
    const int fd = open(folder, kFolderFlags);
    spot.dir = fd < 0 ? kNoHandle : static_cast<PlatHandle>(fd);
    return fd >= 0;
}

int Dir(const PlatSpot& spot) {
    return static_cast<int>(spot.dir);
}

// The kernel's rule for links in a sticky folder that others may write, kept where the system
// does not enforce it: such a link is followed only when it belongs to the folder's owner or
// to this process.
bool MayFollow(const PlatSpot& spot, const struct stat& link) {
    struct stat dir {};
    if (fstat(Dir(spot), &dir) != 0) return false;
    const bool shared = (dir.st_mode & S_ISVTX) != 0 && (dir.st_mode & S_IWOTH) != 0;
    return !shared || link.st_uid == dir.st_uid || link.st_uid == geteuid();
}

// The path the kernel reached for an open file.
bool KernelPath(int fd, char* path, size_t cap) {
#if defined(__linux__)
    char self[64];
    std::snprintf(self, sizeof self, "/proc/self/fd/%d", fd);
    const ssize_t n = readlink(self, path, cap - 1);
    if (n <= 0 || static_cast<size_t>(n) >= cap - 1) return false;
    path[n] = '\0';
    return path[0] == '/';
#elif defined(F_GETPATH)
    return cap >= 1024 && fcntl(fd, F_GETPATH, path) == 0;
#else
    (void)fd, (void)path, (void)cap;
    return false;
#endif
}

// A link at the image name: the image goes where the system's open of it leads. A regular file
// there is replaced in the folder that holds it, once that folder is shown to hold this very
// file.
PlatKind FollowLink(PlatSpot& spot) {
    const int fd = openat(Dir(spot), spot.leaf, kFollowFlags);
    if (fd < 0) return PlatKind::Other; // a link to nothing, or one the kernel refuses
    struct stat st {};
    char path[kPlatLeafCap];
    PlatKind kind = PlatKind::Other;
    if (fstat(fd, &st) == 0 && S_ISCHR(st.st_mode)) {
        kind = PlatKind::Device;
    } else if (S_ISREG(st.st_mode) && KernelPath(fd, path, sizeof path)) {
        PlatSpotClose(spot);
        struct stat there {};
        if (OpenSpot(path, spot) &&
            fstatat(Dir(spot), spot.leaf, &there, AT_SYMLINK_NOFOLLOW) == 0 &&
            there.st_dev == st.st_dev && there.st_ino == st.st_ino) {
            kind = PlatKind::Regular;
        }
    }
    close(fd);
    return kind;
}

// Random characters for a temporary name from the system's random source.
bool RandomTag(char* tag, size_t n) {
    unsigned char r[16];
    if (n > sizeof r) return false;
#if defined(__linux__)
    if (getrandom(r, n, 0) != static_cast<ssize_t>(n)) return false;
#else
    arc4random_buf(r, n);
#endif
    static constexpr char kDigits[] = "0123456789abcdefghijklmnopqrstuvwxyz";
    for (size_t i = 0; i < n; ++i) tag[i] = kDigits[r[i] % 36];
    tag[n] = '\0';
    return true;
}

} // namespace

PlatKind PlatLocate(const char* name, PlatSpot& spot) {
    if (!OpenSpot(name, spot)) return spot.dir == kNoHandle ? PlatKind::NoFolder : PlatKind::Other;
    struct stat st {};
    if (fstatat(Dir(spot), spot.leaf, &st, AT_SYMLINK_NOFOLLOW) != 0) {
        return errno == ENOENT ? PlatKind::Absent : PlatKind::Other;
    }
    if (S_ISREG(st.st_mode)) return PlatKind::Regular;
    if (S_ISCHR(st.st_mode)) return PlatKind::Device;
    if (S_ISLNK(st.st_mode) && MayFollow(spot, st)) return FollowLink(spot);
    return PlatKind::Other;
}

void PlatSpotClose(PlatSpot& spot) {
    if (spot.dir >= 0) close(Dir(spot));
    spot.dir = kNoHandle;
}

std::FILE* PlatOpenDevice(const char* name) {
    const int fd = open(name, O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    struct stat st {};
    if (fd < 0) return nullptr;
    if (fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode)) {
        close(fd);
        return nullptr;
    }
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    std::FILE* f = fdopen(fd, "wb");
    if (f == nullptr) close(fd);
    return f;
}

namespace {

// A temporary file's name: ".vortle-" and twelve characters from the system's random source.
bool TempLeaf(char* leaf, size_t cap) {
    char tag[13];
    return cap >= 24 && RandomTag(tag, 12) && std::snprintf(leaf, cap, ".vortle-%s", tag) > 0;
}

// A named temporary file: created exclusively under a random name, never through a link (a
// name planted in the folder is never ours). Its name goes to tmp.
int CreateNamed(const PlatSpot& spot, char* tmp, size_t cap) {
    for (int attempt = 0; attempt < 16; ++attempt) {
        if (!TempLeaf(tmp, cap)) return -1;
        const int fd = openat(
            Dir(spot), tmp, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC, 0666);
        if (fd >= 0 || errno != EEXIST) return fd;
    }
    return -1;
}

// An unnamed file in the spot's folder: it has no name until it is linked, so a process
// killed meanwhile leaves nothing. -1 where the file system refuses it.
int CreateUnnamed(const PlatSpot& spot) {
#if defined(O_TMPFILE)
    return openat(Dir(spot), ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
#else
    (void)spot;
    return -1;
#endif
}

// Gives the unnamed file open at fd the name leaf in the spot's folder; never replaces a name.
bool LinkUnnamed(const PlatSpot& spot, int fd, const char* leaf) {
#if defined(__linux__)
    // With the right to open any file, straight from the descriptor; else through /proc.
    if (linkat(fd, "", Dir(spot), leaf, AT_EMPTY_PATH) == 0) return true;
    if (errno == EEXIST) return false;
    char self[64];
    std::snprintf(self, sizeof self, "/proc/self/fd/%d", fd);
    return linkat(AT_FDCWD, self, Dir(spot), leaf, AT_SYMLINK_FOLLOW) == 0;
#else
    (void)spot, (void)fd, (void)leaf;
    return false;
#endif
}

} // namespace

std::FILE* PlatTempCreate(const PlatSpot& spot, char* tmp, size_t cap, bool unnamed) {
    tmp[0] = '\0';
    int fd = unnamed ? CreateUnnamed(spot) : -1;
    if (fd < 0) fd = CreateNamed(spot, tmp, cap);
    if (fd < 0) return nullptr;
    std::FILE* f = fdopen(fd, "wb");
    if (f == nullptr) {
        close(fd);
        if (tmp[0] != '\0') unlinkat(Dir(spot), tmp, 0);
    }
    return f;
}

int PlatTempName(const PlatSpot& spot, char* tmp, size_t cap, std::FILE* fp) {
    if (tmp[0] != '\0') return 0;
    char name[32];
    for (int attempt = 0; attempt < 16; ++attempt) {
        if (cap < sizeof name || !TempLeaf(name, sizeof name)) return -1;
        if (LinkUnnamed(spot, fileno(fp), name)) {
            std::snprintf(tmp, cap, "%s", name);
            return 0;
        }
        if (errno != EEXIST) return -1;
    }
    return -1;
}

int PlatTempKeep(const PlatSpot& spot, const char* tmp, std::FILE* /*fp*/) {
    // The rename replaces the entry in the folder, whatever it is by now: a link planted there
    // meanwhile is replaced itself, never followed.
    return renameat(Dir(spot), tmp, Dir(spot), spot.leaf) == 0 ? 0 : -1;
}

void PlatUnlinkAt(const PlatSpot& spot, const char* leaf) {
    unlinkat(Dir(spot), leaf, 0);
}

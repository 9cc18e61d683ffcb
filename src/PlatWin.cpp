// Windows platform layer: the Win32 file mapping and the runtime's program path.
#include "Plat.h"

#include <cstdlib>
#include <windows.h>

namespace {

HANDLE H(PlatHandle h) {
    return reinterpret_cast<HANDLE>(h);
}

PlatHandle P(HANDLE h) {
    return reinterpret_cast<PlatHandle>(h);
}

char modulePath[MAX_PATH * 4];

// Opens a name for identity queries only, folders included.
HANDLE OpenForQuery(const char* name) {
    return CreateFileA(name, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                       OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

} // namespace

void PlatInit() {}

const char* PlatProgramPath(const char* argv0) {
    if (_pgmptr != nullptr && _pgmptr[0] != '\0') return _pgmptr;
    const DWORD n = GetModuleFileNameA(nullptr, modulePath, sizeof modulePath);
    if (n > 0 && n < sizeof modulePath) return modulePath;
    if (argv0 != nullptr && argv0[0] != '\0') return argv0;
    return "vortle.exe";
}

PlatHandle PlatOpenRW(const char* name, bool write) {
    const HANDLE h =
        CreateFileA(name, write ? GENERIC_READ | GENERIC_WRITE : GENERIC_READ, FILE_SHARE_READ,
                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    return h == INVALID_HANDLE_VALUE ? kNoHandle : P(h);
}

PlatHandle PlatCreateMapping(PlatHandle file, bool write) {
    const HANDLE h =
        CreateFileMappingA(H(file), nullptr, write ? PAGE_READWRITE : PAGE_READONLY, 0, 0, nullptr);
    return h == nullptr ? kNoHandle : P(h);
}

int PlatFileStatus(const char* name, PlatHandle file, PlatStat* status, bool write) {
    if (_stat64i32(name, status) != 0) return -1;
    if ((status->st_mode & _S_IFREG) == 0) return -1;
    // A read-only file is refused by the open already; this holds for privileged users too.
    if (write && (status->st_mode & _S_IWRITE) == 0) return -1;
    // The status record counts in 32 bits: a file of 2 GiB or more must not pass as a small one.
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(H(file), &size) || size.QuadPart != status->st_size) return -1;
    return 0;
}

void* PlatMapView(PlatHandle mapping, PlatHandle /*file*/, uint32_t /*size*/, bool write) {
    return MapViewOfFile(H(mapping), write ? FILE_MAP_WRITE : FILE_MAP_READ, 0, 0, 0);
}

void PlatUnmapView(void* view, uint32_t /*size*/) {
    UnmapViewOfFile(view);
}

void PlatCloseMapping(PlatHandle mapping) {
    CloseHandle(H(mapping));
}

void PlatCloseFile(PlatHandle file) {
    CloseHandle(H(file));
}

int PlatWriteImage(std::FILE* image, PlatHandle /*file*/, uint32_t /*offset*/, const uint8_t* bytes,
                   uint32_t len) {
    if (len > 0) std::fwrite(bytes, 1, len, image);
    return std::ferror(image) != 0 ? -1 : 0;
}

int PlatImageHole(std::FILE* /*image*/, uint64_t /*len*/) {
    return 0; // the gap is written as zeros
}

int PlatStaleImage(const char* image, const char* input) {
    const DWORD attr = GetFileAttributesA(image);
    if (attr == INVALID_FILE_ATTRIBUTES) return 0;
    if ((attr & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) != 0) return 0;
    return input != nullptr && PlatSameFile(image, input) ? 0 : 1;
}

int PlatSameFile(const char* a, const char* b) {
    if (a == nullptr || b == nullptr) return 0;
    const HANDLE ha = OpenForQuery(a);
    if (ha == INVALID_HANDLE_VALUE) return 0;
    const HANDLE hb = OpenForQuery(b);
    int same = 0;
    if (hb != INVALID_HANDLE_VALUE) {
        BY_HANDLE_FILE_INFORMATION ia{};
        BY_HANDLE_FILE_INFORMATION ib{};
        if (GetFileInformationByHandle(ha, &ia) && GetFileInformationByHandle(hb, &ib)) {
            same = ia.dwVolumeSerialNumber == ib.dwVolumeSerialNumber &&
                   ia.nFileIndexHigh == ib.nFileIndexHigh && ia.nFileIndexLow == ib.nFileIndexLow;
        }
        CloseHandle(hb);
    }
    CloseHandle(ha);
    return same;
}

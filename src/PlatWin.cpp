// Windows platform layer: the Win32 file mapping, the program path, the console's events.
// Every name reaches the system through the wide-character calls (see PlatWinNames.h).
#include "Plat.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include "PlatWinNames.h"

namespace {

HANDLE H(PlatHandle h) {
    return reinterpret_cast<HANDLE>(h);
}

PlatHandle P(HANDLE h) {
    return reinterpret_cast<PlatHandle>(h);
}

char modulePath[kWideCap * 3];

// What the tool deletes when a console event ends it or the mapped input faults.
void (*volatile onAbort)();
// What it says when the input faults.
char faultLine[2048];
DWORD faultLen;
// What standard output still owes when the input faults (a quiet run's held report).
const char* volatile owedOutput;
volatile DWORD owedLen;
// Held while the images' files and their records change together (PlatHoldSignals): the
// console handler, which runs on a thread of its own, waits for it. Static, as the handler
// reaches it.
SRWLOCK holdLock = SRWLOCK_INIT;

void Cleanup() {
    if (void (*f)() = onAbort) f();
}

// Ctrl+C, Ctrl+Break, closing the console: no half-written image stays, and never half a pair.
// The clean-up waits until the main thread is outside a commit, and the process then ends
// with the system's own code for it, the main thread never getting to finish the run.
BOOL WINAPI OnConsole(DWORD) {
    AcquireSRWLockExclusive(&holdLock);
    Cleanup();
    TerminateProcess(GetCurrentProcess(), static_cast<UINT>(STATUS_CONTROL_C_EXIT));
    return TRUE;
}

// A standard handle that is not there would let the C runtime give its number to the first
// file opened; the null device takes its place.
void HoldStandardHandles() {
    constexpr DWORD kIds[] = {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE};
    for (int fd = 0; fd <= 2; ++fd) {
        const HANDLE h = GetStdHandle(kIds[fd]);
        const intptr_t crt = _get_osfhandle(fd);
        const bool missing =
            h == nullptr || h == INVALID_HANDLE_VALUE ||
            (GetFileType(h) == FILE_TYPE_UNKNOWN && GetLastError() == ERROR_INVALID_HANDLE);
        if (!missing && crt != -1 && crt != -2) continue;
        const int null = _wopen(L"NUL", fd == 0 ? _O_RDONLY : _O_WRONLY);
        if (null < 0) continue;
        if (null != fd) {
            _dup2(null, fd);
            _close(null);
        }
        SetStdHandle(kIds[fd], reinterpret_cast<HANDLE>(_get_osfhandle(fd)));
    }
}

// An in-page error reading the mapped input: the file became shorter while it is mapped.
// That is the reader's abort: no message, no image, exit code 2.
LONG WINAPI OnException(EXCEPTION_POINTERS* info) {
    if (info->ExceptionRecord->ExceptionCode != EXCEPTION_IN_PAGE_ERROR) {
        return EXCEPTION_CONTINUE_SEARCH;
    }
    Cleanup();
    DWORD written = 0;
    if (owedOutput != nullptr && owedLen > 0) {
        WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), owedOutput, owedLen, &written, nullptr);
    }
    WriteFile(GetStdHandle(STD_ERROR_HANDLE), faultLine, faultLen, &written, nullptr);
    ExitProcess(kExitReaderAbort);
}

// The kind of file a name designates without opening it for data: FILE_TYPE_DISK, _CHAR,
// _PIPE, or FILE_TYPE_UNKNOWN when there is none (or a folder: -1).
int KindOf(const char* name) {
    const WideName wide(name);
    if (!wide.ok) return FILE_TYPE_UNKNOWN;
    const DWORD attr = GetFileAttributesW(wide.c_str());
    if (attr != INVALID_FILE_ATTRIBUTES && (attr & FILE_ATTRIBUTE_DIRECTORY) != 0) return -1;
    const HANDLE h =
        CreateFileW(wide.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return FILE_TYPE_UNKNOWN;
    const DWORD type = GetFileType(h);
    CloseHandle(h);
    return static_cast<int>(type);
}

// Opens a name for identity queries only, folders included.
HANDLE OpenForQuery(const char* name) {
    const WideName wide(name);
    if (!wide.ok) return INVALID_HANDLE_VALUE;
    return CreateFileW(wide.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                       nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

} // namespace

void PlatInit() {
    HoldStandardHandles();
    SetConsoleCtrlHandler(OnConsole, TRUE);
    SetUnhandledExceptionFilter(OnException);
}

const char* PlatProgramPath(const char* argv0) {
    wchar_t wide[kWideCap];
    const DWORD n = GetModuleFileNameW(nullptr, wide, kWideCap);
    if (n > 0 && n < kWideCap && Utf8Into(wide, modulePath, sizeof modulePath)) return modulePath;
    if (argv0 != nullptr && argv0[0] != '\0') return argv0;
    return "vortle.exe";
}

PlatHandle PlatOpenRW(const char* name, bool write) {
    const WideName wide(name);
    if (!wide.ok) {
        SetLastError(ERROR_INVALID_NAME);
        return kNoHandle;
    }
    const HANDLE h =
        CreateFileW(wide.c_str(), write ? GENERIC_READ | GENERIC_WRITE : GENERIC_READ,
                    FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    return h == INVALID_HANDLE_VALUE ? kNoHandle : P(h);
}

PlatHandle PlatCreateMapping(PlatHandle file, bool write) {
    const HANDLE h =
        CreateFileMappingA(H(file), nullptr, write ? PAGE_READWRITE : PAGE_READONLY, 0, 0, nullptr);
    return h == nullptr ? kNoHandle : P(h);
}

int PlatFileStatus(const char* /*name*/, PlatHandle file, PlatStat* status, bool write) {
    // The status comes from the open file itself: no second lookup of its name.
    *status = PlatStat{};
    if (GetFileType(H(file)) != FILE_TYPE_DISK) return kStatNotRegular;
    BY_HANDLE_FILE_INFORMATION info{};
    if (!GetFileInformationByHandle(H(file), &info)) return -1;
    if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return kStatNotRegular;
    status->st_mode = _S_IFREG | _S_IREAD;
    if ((info.dwFileAttributes & FILE_ATTRIBUTE_READONLY) == 0) status->st_mode |= _S_IWRITE;
    // A read-only file is refused by the open already; this holds for privileged users too.
    if (write && (status->st_mode & _S_IWRITE) == 0) return kStatReadOnly;
    const uint64_t size = static_cast<uint64_t>(info.nFileSizeHigh) << 32 | info.nFileSizeLow;
    // A file of 2 GiB or more must not pass as a small one in the record's 32-bit count.
    if (size > 0x7FFFFFFF) return -1;
    status->st_size = static_cast<long>(size);
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

std::FILE* PlatReadImage(const char* name) {
    const int kind = KindOf(name);
    if (kind != FILE_TYPE_DISK && kind != FILE_TYPE_CHAR) return nullptr;
    const WideName wide(name);
    return wide.ok ? _wfopen(wide.c_str(), L"rb") : nullptr;
}

PlatKind PlatLocate(const char* name, PlatSpot& spot) {
    spot.dir = kNoHandle;
    if (std::snprintf(spot.leaf, sizeof spot.leaf, "%s", name) >=
        static_cast<int>(sizeof spot.leaf)) {
        return PlatKind::Other;
    }
    switch (KindOf(name)) {
    case FILE_TYPE_DISK:
        return PlatKind::Regular;
    case FILE_TYPE_CHAR:
        return PlatKind::Device;
    case FILE_TYPE_UNKNOWN:
        // Nothing there yet; a link to nothing is no place for an image.
        return GetFileAttributesW(WideName(name).c_str()) == INVALID_FILE_ATTRIBUTES
                   ? PlatKind::Absent
                   : PlatKind::Other;
    default:
        return PlatKind::Other;
    }
}

void PlatSpotClose(PlatSpot& spot) {
    spot.dir = kNoHandle;
}

std::FILE* PlatOpenDevice(const char* name) {
    const WideName wide(name);
    return wide.ok ? _wfopen(wide.c_str(), L"wb") : nullptr;
}

int PlatRemoveFile(const char* name) {
    const WideName wide(name);
    return wide.ok && DeleteFileW(wide.c_str()) ? 0 : -1;
}

int64_t PlatFileSize(PlatHandle file) {
    LARGE_INTEGER size{};
    return GetFileSizeEx(H(file), &size) ? static_cast<int64_t>(size.QuadPart) : -1;
}

int PlatWriteImage(std::FILE* image, PlatHandle /*file*/, uint32_t /*offset*/, const uint8_t* bytes,
                   uint32_t len) {
    if (len > 0) std::fwrite(bytes, 1, len, image);
    return std::ferror(image) != 0 ? -1 : 0;
}

bool PlatImageHole(std::FILE* /*image*/, uint64_t /*len*/) {
    return false; // the gap is written as zeros
}

bool PlatStaleImage(const char* image, const char* input) {
    const DWORD attr = GetFileAttributesW(WideName(image).c_str());
    if (attr == INVALID_FILE_ATTRIBUTES) return false;
    constexpr DWORD kNoFile =
        FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE | FILE_ATTRIBUTE_REPARSE_POINT;
    if ((attr & kNoFile) != 0) return false;
    return input == nullptr || !PlatSameFile(image, input);
}

void PlatOnAbort(void (*cleanup)()) {
    onAbort = cleanup;
}

// A temporary file is deleted when the process ends, whenever that is; the console handler
// waits while the images' names change, so that it never takes back half a pair.
void PlatHoldSignals(bool hold) {
    if (hold) {
        AcquireSRWLockExclusive(&holdLock);
    } else {
        ReleaseSRWLockExclusive(&holdLock);
    }
}

bool PlatSameFile(const char* a, const char* b) {
    if (a == nullptr || b == nullptr) return false;
    const HANDLE ha = OpenForQuery(a);
    if (ha == INVALID_HANDLE_VALUE) return false;
    const HANDLE hb = OpenForQuery(b);
    bool same = false;
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

int PlatFolderOf(const char* folder, PlatFolder& out) {
    const HANDLE h = OpenForQuery(folder);
    if (h == INVALID_HANDLE_VALUE) return -1;
    BY_HANDLE_FILE_INFORMATION info{};
    const bool ok = GetFileInformationByHandle(h, &info) &&
                    (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    CloseHandle(h);
    if (!ok) return -1;
    // Windows volumes compare names ignoring case.
    out = {info.dwVolumeSerialNumber,
           static_cast<uint64_t>(info.nFileIndexHigh) << 32 | info.nFileIndexLow, true};
    return 0;
}

bool PlatSameLeaf(const char* a, const char* b, bool foldsCase) {
    if (!foldsCase) return std::strcmp(a, b) == 0;
    wchar_t wa[kWideCap];
    wchar_t wb[kWideCap];
    if (!WideInto(a, wa, kWideCap) || !WideInto(b, wb, kWideCap)) {
        return _stricmp(a, b) == 0;
    }
    return CompareStringOrdinal(wa, -1, wb, -1, TRUE) == CSTR_EQUAL;
}

bool PlatStoredExactly(const char* folder, const char* leaf) {
    char name[kWideCap * 3];
    const size_t n = std::strlen(folder);
    const bool sep =
        n > 0 && (folder[n - 1] == '\\' || folder[n - 1] == '/' || folder[n - 1] == ':');
    if (std::snprintf(name, sizeof name, "%s%s%s", folder, sep ? "" : "\\", leaf) >=
        static_cast<int>(sizeof name)) {
        return false;
    }
    const WideName wide(name);
    wchar_t exact[kWideCap];
    if (!wide.ok || !WideInto(leaf, exact, kWideCap)) return false;
    WIN32_FIND_DATAW found{};
    const HANDLE h = FindFirstFileW(wide.c_str(), &found);
    if (h == INVALID_HANDLE_VALUE) return false;
    FindClose(h);
    return std::wcscmp(found.cFileName, exact) == 0;
}

void PlatOnFaultOutput(const char* text, size_t len) {
    owedLen = 0;
    owedOutput = text;
    owedLen = static_cast<DWORD>(len);
}

void PlatOnFault(const char* line) {
    const int n = std::snprintf(faultLine, sizeof faultLine, "%s\r\n", line);
    faultLen = n > 0 ? static_cast<DWORD>(std::strlen(faultLine)) : 0;
}

// Windows platform layer, image files: temporary files that are deleted when closed until they
// are kept, so that Ctrl+C, an in-page error or a killed process leaves none behind.
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#include <bcrypt.h>

#include "Plat.h"
#include "PlatWinNames.h"

namespace {

// The delete disposition of an open file: set, it is deleted when its last handle closes.
bool DeleteOnClose(HANDLE h, bool on) {
    FILE_DISPOSITION_INFO d{};
    d.DeleteFile = on ? TRUE : FALSE;
    return SetFileInformationByHandle(h, FileDispositionInfo, &d, sizeof d) != 0;
}

// The folder part of a name, with its separator ("" for the current folder).
int FolderLength(const char* name) {
    int cut = 0;
    for (int i = 0; name[i] != '\0'; ++i) {
        if (name[i] == '\\' || name[i] == '/' || (i == 1 && name[1] == ':')) cut = i + 1;
    }
    return cut;
}

} // namespace

std::FILE* PlatTempCreate(const PlatSpot& spot, char* tmp, size_t cap, bool /*unnamed*/) {
    for (int attempt = 0; attempt < 16; ++attempt) {
        unsigned char r[12];
        if (BCryptGenRandom(nullptr, r, sizeof r, BCRYPT_USE_SYSTEM_PREFERRED_RNG) != 0) {
            return nullptr;
        }
        static constexpr char kDigits[] = "0123456789abcdefghijklmnopqrstuvwxyz";
        char tag[sizeof r + 1];
        for (size_t i = 0; i < sizeof r; ++i) tag[i] = kDigits[r[i] % 36];
        tag[sizeof r] = '\0';
        if (std::snprintf(tmp, cap, "%.*svtl%s.tmp", FolderLength(spot.leaf), spot.leaf, tag) >=
            static_cast<int>(cap)) {
            return nullptr;
        }
        // A new file only (never an existing name or a link), that may be deleted while open.
        const WideName wide(tmp);
        if (!wide.ok) return nullptr;
        const HANDLE h =
            CreateFileW(wide.c_str(), GENERIC_WRITE | DELETE, FILE_SHARE_READ | FILE_SHARE_DELETE,
                        nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h == INVALID_HANDLE_VALUE && GetLastError() == ERROR_FILE_EXISTS) continue;
        if (h == INVALID_HANDLE_VALUE) return nullptr;
        if (!DeleteOnClose(h, true)) {
            CloseHandle(h);
            DeleteFileW(wide.c_str());
            return nullptr;
        }
        const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(h), _O_WRONLY | _O_BINARY);
        std::FILE* f = fd >= 0 ? _fdopen(fd, "wb") : nullptr;
        if (f == nullptr) {
            if (fd >= 0) {
                _close(fd);
            } else {
                CloseHandle(h);
            }
        }
        return f;
    }
    return nullptr;
}

// A Windows temporary file has its name from the start: it is deleted when closed instead.
int PlatTempName(const PlatSpot& /*spot*/, char* /*tmp*/, size_t /*cap*/, std::FILE* /*fp*/) {
    return 0;
}

int PlatTempKeep(const PlatSpot& spot, const char* /*tmp*/, std::FILE* fp) {
    const HANDLE h = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(fp)));
    // The rename through the open handle takes the system's full name of the image: its
    // long-name form, \\?\ turned into the object manager's \??\.
    wchar_t wide[kWideCap];
    wchar_t full[kWideCap];
    if (!WideInto(spot.leaf, wide, kWideCap) || !LongNameInto(wide, full, kWideCap)) return -1;
    full[1] = L'?';
    const size_t n = std::wcslen(full);
    constexpr size_t kAt = offsetof(FILE_RENAME_INFO, FileName);
    alignas(FILE_RENAME_INFO) unsigned char buf[kAt + kWideCap * sizeof(wchar_t)];
    std::memset(buf, 0, kAt);
    auto* info = reinterpret_cast<FILE_RENAME_INFO*>(buf);
    info->ReplaceIfExists = TRUE;
    info->FileNameLength = static_cast<DWORD>(n * sizeof(wchar_t));
    std::memcpy(buf + kAt, full, (n + 1) * sizeof(wchar_t));
    if (!DeleteOnClose(h, false)) return -1;
    const size_t size = kAt + (n + 1) * sizeof(wchar_t);
    if (!SetFileInformationByHandle(h, FileRenameInfo, info, static_cast<DWORD>(size))) {
        DeleteOnClose(h, true);
        return -1;
    }
    return 0;
}

void PlatUnlinkAt(const PlatSpot& /*spot*/, const char* leaf) {
    const WideName wide(leaf);
    if (wide.ok) DeleteFileW(wide.c_str());
}

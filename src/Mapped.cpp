#include "Mapped.h"

#include <bit>
#include <cstdio>
#include <cstring>

#include "Diag.h"
#include "Fatal.h"

static_assert(std::endian::native == std::endian::little,
              "raw values copied out of the file are read as little-endian");

iFi xfi;
uint8_t* pBuf;
uint8_t BigEnd;

namespace {

constexpr size_t kLoadLine = 1200; // the fault's line: the name and the cause
constexpr const char* kShrank =
    "cut short: the file became shorter while it was read (another program rewrote it)";

// A position or read past the end of the file: end is the first byte it would need beyond.
[[noreturn]] void Abort(uint64_t end) {
    Why(xfi.name, "cut short: the file ends at byte %u, and %s reaches to byte %llu", xfi.size,
        ReadingWhat(), static_cast<unsigned long long>(end));
    CutShort();
}

int Refused(const char* name, const char* why) {
    Why(name, "cannot open: %s", why);
    return kLoadFailed;
}

uint64_t CurPos() {
    return static_cast<uint64_t>(pBuf - xfi.view);
}

} // namespace

int IniLoadFile(iFi* f, const char* name, bool write) {
    f->view = nullptr;
    f->hMap = kNoHandle;
    f->hFile = kNoHandle;
    if (name == nullptr || name[0] == '\0') return kLoadFailed;
    const size_t len = std::strlen(name);
    if (len >= sizeof f->name) return kLoadFailed;
    std::memcpy(f->name, name, len + 1);
    f->hFile = PlatOpenRW(f->name, write);
    if (f->hFile == kNoHandle) return Refused(name, SystemError());
    f->hMap = PlatCreateMapping(f->hFile, write);
    const int status = PlatFileStatus(f->name, f->hFile, &f->status, write);
    if (status == kStatNotRegular) return Refused(name, "it is no regular file");
    if (status == kStatReadOnly) {
        return Refused(name, "it is read-only, and signing writes into it (VERIFY only reads)");
    }
    if (status != 0) return Refused(name, SystemError());
    // The size is a 32-bit count below 2 GiB; larger files lie outside the reader's model.
    if (f->status.st_size <= 0) return Refused(name, "it is empty");
    if (f->status.st_size > 0x7FFFFFFF) return Refused(name, "it is 2 GiB or larger");
    if (f->hMap == kNoHandle) return Refused(name, SystemError());
    f->size = static_cast<uint32_t>(f->status.st_size);
    f->view = static_cast<uint8_t*>(PlatMapView(f->hMap, f->hFile, f->size, write));
    if (f->view == nullptr) return Refused(name, SystemError());
    char line[kLoadLine];
    std::snprintf(line, sizeof line, "vortle: %s: %s", f->name, kShrank);
    PlatOnFault(line);
    return 0;
}

void LoadClear(iFi* f) {
    if (f->view != nullptr) {
        PlatUnmapView(f->view, f->size);
        f->view = nullptr;
    }
    if (f->hMap != kNoHandle) {
        PlatCloseMapping(f->hMap);
        f->hMap = kNoHandle;
    }
    if (f->hFile != kNoHandle) {
        PlatCloseFile(f->hFile);
        f->hFile = kNoHandle;
    }
}

void SetPos(uint32_t position) {
    if (position > xfi.size) Abort(position);
    pBuf = xfi.view + position;
}

uint32_t Read(void* dst, uint32_t len) {
    if (CurPos() + len > xfi.size) Abort(CurPos() + len);
    if (len == 0) return 0;
    std::memcpy(dst, pBuf, len);
    pBuf += len;
    return len;
}

uint32_t ReadW32() {
    uint8_t b[4];
    for (uint8_t& byte : b) Read(&byte, 1);
    return b[0] | static_cast<uint32_t>(b[1]) << 8 | static_cast<uint32_t>(b[2]) << 16 |
           static_cast<uint32_t>(b[3]) << 24;
}

uint8_t* Span(uint32_t off, uint32_t len) {
    if (static_cast<uint64_t>(off) + len > xfi.size) Abort(static_cast<uint64_t>(off) + len);
    SetPos(off);
    return pBuf;
}

void CheckInput() {
    const int64_t size = PlatFileSize(xfi.hFile);
    if (size >= 0 && size < static_cast<int64_t>(xfi.size)) {
        Why(xfi.name, "%s", kShrank);
        Abort(xfi.size);
    }
}

uint16_t MakeW16(uint16_t v) {
    return BigEnd ? static_cast<uint16_t>((v >> 8) | (v << 8)) : v;
}

uint32_t MakeW32(uint32_t v) {
    if (!BigEnd) return v;
    return (v >> 24) | ((v >> 8) & 0x0000FF00u) | ((v << 8) & 0x00FF0000u) | (v << 24);
}

uint32_t Load32(const uint8_t* p) {
    uint32_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

void Store32(uint8_t* p, uint32_t v) {
    std::memcpy(p, &v, sizeof v);
}

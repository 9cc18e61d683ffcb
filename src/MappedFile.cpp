#include "MappedFile.h"

#include <bit>
#include <cstdio>

#include "Diag.h"
#include "Fatal.h"

static_assert(std::endian::native == std::endian::little,
              "raw values copied out of the file are read as little-endian");

namespace {

constexpr const char* kShrank =
    "cut short: the file became shorter while it was read (another program rewrote it)";

bool Refused(const char* name, const char* why) {
    Why(name, "cannot open: %s", why);
    return false;
}

// The line the platform writes when the mapping faults: "vortle: <name>: <kShrank>".
void SayOnFault(const char* name) {
    char line[1200]; // the platform keeps a copy for its fault handler
    constexpr char kHead[] = "vortle: ";
    const size_t head = sizeof kHead - 1;
    const size_t n = std::strlen(name);
    const size_t tail = std::strlen(kShrank);
    std::memcpy(line, kHead, head);
    std::memcpy(line + head, name, n);
    std::memcpy(line + head + n, ": ", 2);
    std::memcpy(line + head + n + 2, kShrank, tail + 1);
    PlatOnFault(line);
}

} // namespace

bool MappedFile::Open(const char* name, bool write) {
    Close();
    if (name == nullptr || name[0] == '\0') return false;
    const size_t len = std::strlen(name);
    if (len >= sizeof name_) return false;
    std::memcpy(name_, name, len + 1);
    file_ = PlatOpenRW(name_, write);
    if (file_ == kNoHandle) {
        char why[320];
        std::snprintf(why, sizeof why, "%s", SystemError());
        // A file this user may read but not write: a check still can.
        const PlatHandle reading = write ? PlatOpenRW(name_, false) : kNoHandle;
        if (reading != kNoHandle) {
            PlatCloseFile(reading);
            const size_t n = std::strlen(why);
            std::snprintf(why + n, sizeof why - n, "; signing writes into it (VERIFY only reads)");
        }
        return Refused(name, why);
    }
    map_ = PlatCreateMapping(file_, write);
    PlatStat status;
    const int found = PlatFileStatus(name_, file_, &status, write);
    if (found == kStatNotRegular) return Refused(name, "it is no regular file");
    if (found == kStatReadOnly) {
        return Refused(name, "it is read-only, and signing writes into it (VERIFY only reads)");
    }
    if (found != 0) return Refused(name, SystemError());
    // The size is a 32-bit count below 2 GiB; larger files lie outside the reader's model.
    if (status.st_size <= 0) return Refused(name, "it is empty");
    if (status.st_size > 0x7FFFFFFF) return Refused(name, "it is 2 GiB or larger");
    if (map_ == kNoHandle) return Refused(name, SystemError());
    size_ = static_cast<uint32_t>(status.st_size);
    view_ = static_cast<uint8_t*>(PlatMapView(map_, file_, size_, write));
    if (view_ == nullptr) return Refused(name, SystemError());
    SayOnFault(name_);
    return true;
}

void MappedFile::Close() {
    if (view_ != nullptr) PlatUnmapView(view_, size_);
    if (map_ != kNoHandle) PlatCloseMapping(map_);
    if (file_ != kNoHandle) PlatCloseFile(file_);
    view_ = nullptr;
    map_ = kNoHandle;
    file_ = kNoHandle;
}

void MappedFile::CutShortAt(uint64_t end) const {
    Why(name_, "cut short: the file ends at byte %u, and %s reaches to byte %llu", size_, reading_,
        static_cast<unsigned long long>(end));
    CutShort();
}

void MappedFile::CheckNotShrunk() const {
    const int64_t size = PlatFileSize(file_);
    if (size >= 0 && size < static_cast<int64_t>(size_)) {
        Why(name_, "%s", kShrank);
        CutShortAt(size_);
    }
}

// The input file as one block of memory, and the one bounded accessor through which every file
// offset passes: a slice that does not lie inside the file stops the run as cut short.
#pragma once

#include <cstdint>
#include <cstring>

#include "Plat.h"

class MappedFile {
  public:
    MappedFile() { name_[0] = '\0'; }
    ~MappedFile() { Close(); }
    MappedFile(const MappedFile&) = delete;
    MappedFile& operator=(const MappedFile&) = delete;

    // Opens and maps the file for reading and writing (for reading only when write is false).
    // False when it cannot; the cause is said.
    bool Open(const char* name, bool write);
    // Releases view, mapping and file, whatever of them is held.
    void Close();

    const char* Name() const { return name_; }
    uint32_t Size() const { return size_; }
    PlatHandle Handle() const { return file_; }
    // The len bytes at off; stops the run as cut short unless all of them lie inside the file.
    uint8_t* Slice(uint32_t off, uint32_t len) const {
        if (static_cast<uint64_t>(off) + len > size_) CutShortAt(static_cast<uint64_t>(off) + len);
        return view_ + off;
    }
    // Names what the next slices are for, in the report of one that leaves the file.
    void Reading(const char* what) { reading_ = what; }
    // Stops the run when the file has become shorter than its mapping: another program rewrote
    // it meanwhile, and a failing copy out of the mapping is the input's fault, not the image's.
    void CheckNotShrunk() const;

  private:
    [[noreturn]] void CutShortAt(uint64_t end) const;

    uint8_t* view_ = nullptr;    // first byte of the mapped file
    PlatHandle map_ = kNoHandle; // the file-mapping object
    PlatHandle file_ = kNoHandle;
    uint32_t size_ = 0;
    const char* reading_ = "the file's contents";
    char name_[1024]; // set by Open: "" before
};

// A value of the file in host byte order (the same swap turns it back).
inline uint16_t HostOrder16(uint16_t v, bool bigEndian) {
    return bigEndian ? static_cast<uint16_t>((v >> 8) | (v << 8)) : v;
}
inline uint32_t HostOrder32(uint32_t v, bool bigEndian) {
    if (!bigEndian) return v;
    return (v >> 24) | ((v >> 8) & 0x0000FF00u) | ((v << 8) & 0x00FF0000u) | (v << 24);
}

// Raw little-endian words in memory.
inline uint32_t LoadLittle32(const uint8_t* p) {
    uint32_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}
inline void StoreLittle32(uint8_t* p, uint32_t v) {
    std::memcpy(p, &v, sizeof v);
}

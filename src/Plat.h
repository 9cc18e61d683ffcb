// Platform layer: the few calls that differ between Windows and POSIX systems.
#pragma once

#include <cstdint>
#include <cstdio>
#include <sys/stat.h>

using PlatHandle = intptr_t;
constexpr PlatHandle kNoHandle = -1;

#ifdef _WIN32
using PlatStat = struct _stat64i32;
#else
using PlatStat = struct stat;
#endif

// Prepares the process; called once at the start.
void PlatInit();

// Full path of the running executable; argv0 serves only when the system cannot tell.
const char* PlatProgramPath(const char* argv0);

// Opens an existing file for reading and writing (for reading only when write is false),
// never creating or truncating it; other processes may read it meanwhile. kNoHandle on
// failure.
PlatHandle PlatOpenRW(const char* name, bool write = true);
// Creates a mapping object of the whole open file, read-write or read-only. kNoHandle on
// failure.
PlatHandle PlatCreateMapping(PlatHandle file, bool write = true);
// Fills the status record of the open file; fails for anything but a regular file, and for a
// file that nobody may write when write is true. Returns 0 on success.
int PlatFileStatus(const char* name, PlatHandle file, PlatStat* status, bool write = true);
// Maps the whole file, shared with the file, for reading and writing or for reading only.
// Null on failure.
void* PlatMapView(PlatHandle mapping, PlatHandle file, uint32_t size, bool write = true);
// Releases a view; changed bytes reach the file.
void PlatUnmapView(void* view, uint32_t size);
void PlatCloseMapping(PlatHandle mapping);
void PlatCloseFile(PlatHandle file);

// The exit code of the reader's abort, also where the platform takes it (the input shrank
// under its mapping).
constexpr int kExitReaderAbort = 2;

// Opens the image file as a binary stream. For writing: a regular file (or an absent name) is
// written under a temporary name in the same folder and takes its own name only when it is
// complete (PlatCloseImage); a character device is written directly; anything else (a FIFO, a
// socket, a folder) fails at once, without blocking. For reading: an existing regular file or
// character device, never waiting on the name. Null on failure.
std::FILE* PlatOpenImage(const char* name, bool write);
// Closes an image stream. A stream written with keep set is flushed and takes its name;
// without keep a temporary file is deleted. Nonzero when keep was asked and the image could
// not be completed (it is then gone).
int PlatCloseImage(std::FILE* image, bool keep);
// The current size of the open input file, or -1.
int64_t PlatFileSize(PlatHandle file);
// Deletes a file; 0 on success.
int PlatRemoveFile(const char* name);

// Appends len bytes of the mapped file, found at bytes and at file offset offset, to the image
// stream. Returns 0, or nonzero when the stream reports an error.
int PlatWriteImage(std::FILE* image, PlatHandle file, uint32_t offset, const uint8_t* bytes,
                   uint32_t len);

// Advances the image stream by len bytes, leaving a hole that reads as zeros once the next
// bytes are written. Returns 1, or 0 where the platform or the stream cannot: the caller then
// writes the zeros.
int PlatImageHole(std::FILE* image, uint64_t len);

// 1 when image names an existing regular file that is not the input file (input may be null):
// only such a file is a stale image to delete, never a device, a folder or the firmware.
int PlatStaleImage(const char* image, const char* input);

// 1 when both names designate the same existing file (links and case-insensitive names
// included), else 0.
int PlatSameFile(const char* a, const char* b);

// A folder as the system knows it: its identity, and whether its volume compares names
// ignoring case.
struct PlatFolder {
    uint64_t dev;
    uint64_t ino;
    bool foldsCase;
};
// Fills the record of the folder the system's own lookup of name reaches; 0 on success.
int PlatFolderOf(const char* folder, PlatFolder& out);
// 1 when the two last components are one name in a folder of that kind, else 0.
int PlatSameLeaf(const char* a, const char* b, bool foldsCase);
// 1 when the folder stores an entry spelt exactly leaf, case included, else 0.
int PlatStoredExactly(const char* folder, const char* leaf);

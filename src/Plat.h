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
// file that nobody may write when write is true. Returns 0 on success, kStatNotRegular,
// kStatReadOnly, or -1 (the system's error).
constexpr int kStatNotRegular = -2;
constexpr int kStatReadOnly = -3;
int PlatFileStatus(const char* name, PlatHandle file, PlatStat* status, bool write = true);
// Maps the whole file, shared with the file, for reading and writing or for reading only.
// Null on failure.
void* PlatMapView(PlatHandle mapping, PlatHandle file, uint32_t size, bool write = true);
// The line written to standard error when the mapped input faults (it became shorter).
void PlatOnFault(const char* line);
// What standard output still owes when the mapped input faults (a quiet run's held report),
// written before that line; the text must stay in place. Null: nothing.
void PlatOnFaultOutput(const char* text, size_t len);
// Releases a view; changed bytes reach the file.
void PlatUnmapView(void* view, uint32_t size);
void PlatCloseMapping(PlatHandle mapping);
void PlatCloseFile(PlatHandle file);

// The exit code of the reader's abort, also where the platform takes it (the input shrank
// under its mapping).
constexpr int kExitReaderAbort = 2;

// Opens an existing image file (a regular file or a character device) for reading, never
// waiting on the name. Null on failure.
std::FILE* PlatReadImage(const char* name);

// ---- Image files written all or nothing: the calls that differ --------------------------

constexpr int kPlatLeafCap = 4200; // a name in its folder, or a whole name (Windows)

// Where an image file goes: the folder that holds it, held open, and its name there. On
// Windows the folder is not held and the name is the whole name.
struct PlatSpot {
    PlatHandle dir;
    char leaf[kPlatLeafCap];
};
// What an image name leads to, as the system's own open of it finds it (links followed with
// the kernel's link protections): nothing yet, a regular file, a character device, or
// anything else (a FIFO, a socket, a folder, a link to nothing); NoFolder when the folder that
// would hold it cannot be opened (the system's error says why).
enum class PlatKind { Absent, Regular, Device, Other, NoFolder };
// For Absent and Regular, spot is where the file is replaced: the folder that holds it.
// Release the spot with PlatSpotClose whatever the kind.
PlatKind PlatLocate(const char* name, PlatSpot& spot);
void PlatSpotClose(PlatSpot& spot);
// Opens a character device for writing: the image goes to it directly.
std::FILE* PlatOpenDevice(const char* name);
// Creates a temporary file in the spot's folder, exclusively and never through a link. Where
// the system can and unnamed is true, the file has no name yet (tmp is then empty) and a
// process killed meanwhile leaves nothing; else its name from the system's random source goes
// to tmp (as PlatUnlinkAt takes it). On Windows the file is deleted when it is closed, until it
// is kept.
std::FILE* PlatTempCreate(const PlatSpot& spot, char* tmp, size_t cap, bool unnamed = true);
// Gives a complete unnamed temporary file a random name in its folder, into tmp (nothing to do
// for a named one). 0 on success.
int PlatTempName(const PlatSpot& spot, char* tmp, size_t cap, std::FILE* fp);
// The flushed, named temporary file takes the spot's name, replacing what is there. 0 on
// success.
int PlatTempKeep(const PlatSpot& spot, const char* tmp, std::FILE* fp);
// Deletes the name in the spot's folder; safe in a signal handler.
void PlatUnlinkAt(const PlatSpot& spot, const char* leaf);
// cleanup runs when a signal or a console event ends the process (only a signal whose action
// at the start was the default), and when the mapped input faults (the reader's abort then
// ends the process with its exit code).
void PlatOnAbort(void (*cleanup)());
// Holds back (true) or lets through (false) the signals whose clean-up PlatOnAbort names, so that
// a file and the record of it change together.
void PlatHoldSignals(bool hold);

// The current size of the open input file, or -1.
int64_t PlatFileSize(PlatHandle file);
// Deletes a file; 0 on success.
int PlatRemoveFile(const char* name);

// Appends len bytes of the mapped file, found at bytes and at file offset offset, to the image
// stream. Returns 0, or nonzero when the stream reports an error.
int PlatWriteImage(std::FILE* image, PlatHandle file, uint32_t offset, const uint8_t* bytes,
                   uint32_t len);

// Advances the image stream by len bytes, leaving a hole that reads as zeros once the next
// bytes are written. False where the platform or the stream cannot: the caller then writes
// the zeros.
bool PlatImageHole(std::FILE* image, uint64_t len);

// True when the name itself is a regular file, not a link to one, and not the input file (input
// may be null): only such a file is a stale image to delete, never a link, a device, a folder
// or the firmware.
bool PlatStaleImage(const char* image, const char* input);

// True when both names designate the same existing file (links and case-insensitive names
// included).
bool PlatSameFile(const char* a, const char* b);

// A folder as the system knows it: its identity, and whether its volume compares names
// ignoring case.
struct PlatFolder {
    uint64_t dev;
    uint64_t ino;
    bool foldsCase;
};
// Fills the record of the folder the system's own lookup of name reaches; 0 on success.
int PlatFolderOf(const char* folder, PlatFolder& out);
// True when the two last components are one name in a folder of that kind.
bool PlatSameLeaf(const char* a, const char* b, bool foldsCase);
// True when the folder stores an entry spelt exactly leaf, case included.
bool PlatStoredExactly(const char* folder, const char* leaf);

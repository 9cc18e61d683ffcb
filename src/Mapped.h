// Mapped image access: the input file as one block of memory, and the bounded reader through
// which every file offset passes. A read past the end of the file stops the run as cut short.
#pragma once

#include <cstdint>

#include "Plat.h"

constexpr int kLoadFailed = 1000;

// The mapped input file.
struct iFi {
    uint8_t* view;    // first byte of the mapped file; null when nothing is mapped
    PlatHandle hMap;  // the file-mapping object; kNoHandle when there is none
    PlatHandle hFile; // the open file; kNoHandle when there is none
    uint32_t size;    // the file's length in bytes
    PlatStat status;  // the file's status record
    char name[1024];  // copy of the file name
};
extern iFi xfi;
extern uint8_t* pBuf;  // current read position in the view
extern uint8_t BigEnd; // 1 when the file is big-endian

// Opens and maps the file for reading and writing (for reading only when write is false):
// 0, or kLoadFailed.
int IniLoadFile(iFi* f, const char* name, bool write = true);
// Releases view, mapping and file, whatever of them is held.
void LoadClear(iFi* f);
// Sets the read position; a position past the end of the file stops the run as cut short.
void SetPos(uint32_t position);
// Copies len bytes from the read position and advances it; a read past the end stops the run.
uint32_t Read(void* dst, uint32_t len);
// Reads four bytes as a little-endian word.
uint32_t ReadW32();
// Positions the reader at off and returns the len bytes there; stops the run unless all of
// them lie inside the file.
uint8_t* Span(uint32_t off, uint32_t len);
// Stops the run when the file has become shorter than its mapping: another program rewrote
// it meanwhile, and a failing copy out of the mapping is the input's fault, not the image's.
void CheckInput();
// The value in the file's byte order.
uint16_t MakeW16(uint16_t v);
uint32_t MakeW32(uint32_t v);

// Raw little-endian words out of the view.
uint32_t Load32(const uint8_t* p);
void Store32(uint8_t* p, uint32_t v);

// What every input format hands the signature pass: pieces of firmware at their load
// addresses, a way to read and store bytes in them, and their bytes for the images. The pass
// works on these alone and never asks which format it reads.
#pragma once

#include <cstdint>

// One piece of firmware: bytes at consecutive load addresses.
struct Piece {
    uint32_t addr;    // load address of the first byte
    uint32_t len;     // bytes in the piece
    uint32_t skip;    // leading bytes that stay out of the images (ELF headers at its start)
    uint32_t fileOff; // file offset of the first byte where the bytes stand in the file as is
};

// Hands the images the next len bytes of a piece; fileOff is their file offset when the
// bytes stand in the input file as is (the kernel may then copy them), else -1.
using ImageSink = void (*)(const uint8_t* bytes, uint32_t len, int64_t fileOff);

struct Firmware {
    // The next piece in the order the images take them; false after the last.
    bool (*next)(Piece& p);
    // Starts the pieces again from the first.
    void (*rewind)();
    // True when the piece holds the whole signature range and the signature unit, whose bytes
    // are the lo..hi load addresses (hi exclusive).
    bool (*holds)(const Piece& p, uint32_t lo, uint64_t hi);
    // True when the addr..addr+len bytes are firmware bytes of the piece: bytes the images
    // take, present in the file.
    bool (*has)(const Piece& p, uint32_t addr, uint32_t len);
    // Copies len bytes at load address addr of the current piece; stores len bytes there.
    void (*read)(const Piece& p, uint32_t addr, uint8_t* dst, uint32_t len);
    void (*store)(const Piece& p, uint32_t addr, const uint8_t* src, uint32_t len);
    // Hands the piece's image bytes (those behind the skip) to sink, in address order.
    void (*emit)(const Piece& p, ImageSink sink);
};

// True when the lo..hi addresses lie inside the piece's bytes.
inline bool InsidePiece(const Piece& p, uint32_t lo, uint64_t hi) {
    return lo >= p.addr && hi <= static_cast<uint64_t>(p.addr) + p.len;
}

// What every input format hands the signature pass: pieces of firmware at their load
// addresses, a way to read and store bytes in them, and their bytes for the images. The pass
// works on these alone and never asks which format it reads.
#pragma once

#include <cstddef>
#include <cstdint>

#include "MappedFile.h"
#include "Range.h"

// One piece of firmware: bytes at consecutive load addresses.
struct Piece {
    uint32_t addr;    // load address of the first byte
    uint32_t len;     // bytes in the piece
    uint32_t skip;    // leading bytes that stay out of the images (ELF headers at its start)
    uint32_t fileOff; // file offset of the first byte where the bytes stand in the file as is
    size_t first;     // the input's own index of where the piece starts (a HEX input's run)
};

// True when the lo..hi addresses lie inside the piece's bytes.
inline bool InsidePiece(const Piece& p, uint32_t lo, uint64_t hi) {
    return lo >= p.addr && hi <= static_cast<uint64_t>(p.addr) + p.len;
}

// Takes a piece's image bytes in address order.
class ImageSink {
  public:
    // The next len bytes; fileOff is their file offset when the bytes stand in the input file
    // as is (the kernel may then copy them), else -1.
    virtual void Data(const uint8_t* bytes, uint32_t len, int64_t fileOff) = 0;

  protected:
    ~ImageSink() = default;
};

class Firmware {
  public:
    virtual ~Firmware() = default;
    // The piece at cursor at (0 for the first) in the order the images take them; at then
    // stands at the next one. False after the last.
    virtual bool Next(size_t& at, Piece& p) const = 0;
    // True when the piece holds the whole signature range and the signature word.
    virtual bool Holds(const Piece& p, const SignatureRange& range) const {
        return InsidePiece(p, range.WindowLo(), range.WindowHi());
    }
    // True when the addr..addr+len bytes are firmware bytes of the piece: bytes the images
    // take, present in the file.
    virtual bool Has(const Piece& p, uint32_t addr, uint32_t len) const = 0;
    // Copies len bytes at load address addr of the piece; stores len bytes there.
    virtual void Read(const Piece& p, uint32_t addr, uint8_t* dst, uint32_t len) const = 0;
    virtual void Store(const Piece& p, uint32_t addr, const uint8_t* src, uint32_t len) = 0;
    // Hands the piece's image bytes (those behind the skip) to the sink, in address order.
    virtual void Emit(const Piece& p, ImageSink& sink) = 0;
    // True for a raw image, loaded at address 0 as a whole.
    virtual bool Raw() const { return false; }
    // True when the firmware's words are big-endian (a big-endian ELF file).
    virtual bool BigEndian() const { return false; }
    // Where execution starts (an ELF file's entry point; 0 where the format does not say).
    virtual uint32_t Entry() const { return 0; }
};

// Pieces whose bytes stand in the mapped input file as they are (ELF and raw inputs).
class MappedFirmware : public Firmware {
  public:
    explicit MappedFirmware(const MappedFile& file) : file_(file) {}
    bool Has(const Piece& p, uint32_t addr, uint32_t len) const override;
    void Read(const Piece& p, uint32_t addr, uint8_t* dst, uint32_t len) const override;
    void Store(const Piece& p, uint32_t addr, const uint8_t* src, uint32_t len) override;
    void Emit(const Piece& p, ImageSink& sink) override;

  protected:
    const MappedFile& file_;
};

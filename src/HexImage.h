// The HEX image's records: bytes at load addresses cut into data records of 16 bytes, with an
// 04 record wherever the upper address bits change and an end record last.
#pragma once

#include <cstddef>
#include <cstdint>

#include "ImageText.h"

// Data records of at most 16 bytes, each starting where the last ended, none crossing a 64 KiB
// boundary, with an 04 record wherever the upper address bits change; an end record last. The
// text goes to the image out.
class HexRecordCutter {
  public:
    explicit HexRecordCutter(ImageOut& out) : text_(out) {}
    // A piece of bytes starts at load address addr.
    void Begin(uint64_t addr);
    // The piece's next len bytes; false when they reach past 0xFFFFFFFF.
    bool Data(const uint8_t* bytes, uint32_t len);
    // The piece is complete: the record being filled is written.
    void End();
    // The end record, and all text written.
    void Finish();

  private:
    void Emit(uint8_t type, uint32_t addr16, const uint8_t* data, uint32_t n);
    void EmitData(uint64_t at, const uint8_t* data, uint32_t n);

    static constexpr uint32_t kDataBytes = 16; // data bytes in a record the cutter writes
    ImageText text_;                           // encoded records not yet written
    uint64_t addr_ = 0;                        // load address of the next byte
    uint8_t rec_[kDataBytes];                  // the record being filled
    uint32_t recLen_ = 0;
    int64_t lastUpper_ = -1; // upper 16 address bits of the last 04 record; -1 before the first
};

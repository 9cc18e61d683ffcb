// The S-record image's records: an S0 header with the image's name, the bytes at their load
// addresses in data records of 16 bytes cut from the start of each piece, all of one type (S1,
// S2 or S3, as the highest address needs), and the matching S9, S8 or S7 with the entry point.
#pragma once

#include <cstddef>
#include <cstdint>

#include "ImageText.h"
#include "SrecCodec.h"

class SrecRecordCutter {
  public:
    // The records for bytes below end (the highest load address plus one) and the entry point,
    // the header holding name (its first 40 characters).
    SrecRecordCutter(ImageOut& out, const char* name, uint64_t end, uint32_t entry);
    // A piece of bytes starts at load address addr.
    void Begin(uint64_t addr);
    // The piece's next len bytes; false when they reach past 0xFFFFFFFF.
    bool Data(const uint8_t* bytes, uint32_t len);
    // The piece is complete: the record being filled is written.
    void End();
    // The termination record, and all text written.
    void Finish();

  private:
    void Emit(uint8_t type, uint32_t addr, const uint8_t* data, uint32_t n);

    static constexpr uint32_t kDataBytes = 16; // data bytes in a record the cutter writes
    ImageText text_;                           // encoded records not yet written
    uint8_t type_;                             // 1, 2 or 3: the data records' type
    uint32_t entry_;                           // the termination record's address
    uint64_t addr_ = 0;                        // load address of the next byte
    uint8_t rec_[kDataBytes];                  // the record being filled
    uint32_t recLen_ = 0;
    uint64_t recAddr_ = 0; // its load address
};

// Intel HEX records: the one place where they are encoded, cut and read. The cutter turns
// bytes at load addresses into the records of a HEX image; the reader's side splits a text
// into lines and decodes each line's record, saying what is wrong with one that does not
// decode.
#pragma once

#include <cstddef>
#include <cstdint>

#include "ImageOut.h"

// Record types.
constexpr uint8_t kRecData = 0x00;
constexpr uint8_t kRecEnd = 0x01;
constexpr uint8_t kRecSegment = 0x02; // segment base: address bits 4..19
constexpr uint8_t kRecStartSeg = 0x03;
constexpr uint8_t kRecUpper = 0x04; // upper 16 address bits
constexpr uint8_t kRecStartLin = 0x05;

constexpr uint32_t kRecordMax = 11 + 2 * 255 + 2; // the longest record with its CR LF
constexpr uint32_t kLineBytes = 260; // count, address (2), type, 255 data bytes and checksum

// Encodes one record, upper-case, with CR LF, at out; returns its length.
uint32_t HexRecord(char* out, uint8_t type, uint16_t addr, const uint8_t* data, uint32_t n);

// ---- Cutting ----------------------------------------------------------------------------

// Data records of at most 16 bytes, each starting where the last ended, none crossing a 64 KiB
// boundary, with an 04 record wherever the upper address bits change; an end record last. The
// text goes to the image out.
class HexCutter {
  public:
    explicit HexCutter(ImageOut& out) : out_(out) {}
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
    void Flush();

    static constexpr uint32_t kDataBytes = 16; // data bytes in a record the cutter writes
    ImageOut& out_;
    char pending_[65536]; // encoded records not yet written
    size_t pendingLen_ = 0;
    uint64_t addr_ = 0;       // load address of the next byte
    uint8_t rec_[kDataBytes]; // the record being filled
    uint32_t recLen_ = 0;
    int64_t lastUpper_ = -1; // upper 16 address bits of the last 04 record; -1 before the first
};

// ---- Reading ----------------------------------------------------------------------------

// One line of a text: where it starts, where its text ends (before CR LF) and where the next
// line starts; its record's bytes once decoded: count, address (2), type, data, checksum.
struct HexLine {
    uint32_t at, end, next;
    uint8_t b[kLineBytes];
};

// Finds the line at pos of the size bytes of text; false when it is empty.
bool HexSplit(const uint8_t* text, uint32_t size, uint32_t pos, HexLine& l);
// Decodes the line's record: ':' and pairs of hex digits whose count byte fits their number
// and whose bytes sum to zero. On a fault, says what is wrong in because.
bool HexDecode(const uint8_t* text, HexLine& l, char* because, size_t cap);
// The data bytes of a data record, from its count digits; 0 for any other record.
uint32_t HexDataCount(const uint8_t* line);
// Writes the byte's two digits at at, lower-case when lower.
void HexPutDigits(uint8_t* at, uint8_t b, bool lower);

// The text inputs (Intel HEX, S-records): the whole mapped file checked record by record, its
// data handed to the signature pass as pieces, and the signature stored by rewriting hex
// digits in place. What differs between the formats is a TextFormat.
#pragma once

#include <memory>

#include "Firmware.h"
#include "TextLine.h"

// What a scan carries from record to record.
struct ScanState {
    uint64_t base = 0;        // an address the format's records add to the data's own
    uint32_t dataRecords = 0; // data records so far
};

// What one decoded record means to the reader.
enum class RecordKind { Data, End, Other };

class TextFormat {
  public:
    // The format's name in the standard-error line ("Intel HEX").
    virtual const char* Name() const = 0;
    // Decodes the line's record into l; false with the fault in because.
    virtual bool Decode(const uint8_t* text, TextLine& l, char* because, size_t cap) const = 0;
    // What the decoded record means, and for data the address of its first byte; false with
    // the fault in because (a type the format lacks, a wrong length or count).
    virtual bool Interpret(const TextLine& l, ScanState& s, RecordKind& kind, uint64_t& addr,
                           char* because, size_t cap) const = 0;
    // The fault of a file that ends without its end record.
    virtual const char* NoEnd() const = 0;
    // The data bytes of a data record, from a checked line alone; 0 for any other record.
    virtual uint32_t DataCount(const uint8_t* line) const = 0;
    // The checksum of a record whose other bytes sum to sum.
    virtual uint8_t Checksum(uint8_t sum) const = 0;
    // Characters before the digits of the record's first byte.
    virtual uint32_t DigitsAt() const = 0;

  protected:
    ~TextFormat() = default;
};

// Checks the whole mapped file in the format and indexes its data. A fault stops the run with
// the invalid-hex-file report, naming the first faulty line.
std::unique_ptr<Firmware> TextInput(MappedFile& file, const TextFormat& format);

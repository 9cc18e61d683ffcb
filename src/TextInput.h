// The text inputs (Intel HEX, S-records): the whole mapped file checked record by record, its
// data handed to the signature pass as pieces, and the signature stored by rewriting hex
// digits in place. What differs between the formats is a TextFormat.
#pragma once

#include <cstdio>
#include <deque>
#include <memory>

#include "Firmware.h"
#include "TextLine.h"

// A run of data records, consecutive in the file and in their addresses: the whole
// bookkeeping of a text input, 12 bytes a run whatever the record order.
struct Run {
    uint32_t first;   // its first address
    uint32_t len;     // the bytes it covers
    uint32_t fileOff; // where its first record's line starts
    uint64_t End() const { return static_cast<uint64_t>(first) + len; }
};
static_assert(sizeof(Run) == 12, "a run takes 12 bytes");
using Runs = std::deque<Run>;

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
    // Checks every line of the text and gathers its data records' runs in file order
    // (ScanText with the format's records); 0, or the first faulty line with the fault in
    // because.
    virtual uint32_t Scan(const uint8_t* text, uint32_t size, Runs& runs, char* because,
                          size_t cap) const = 0;
    // Decodes the line's record into l; false with the fault in because.
    virtual bool Decode(const uint8_t* text, TextLine& l, char* because, size_t cap) const = 0;
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

// The scan of a format whose Records say, inline, what each line holds: Records::DecodeLine
// (as Decode), Records::Meaning (what the decoded record means, and for data the address of
// its first byte; false with the fault in because) and Records::kNoEnd (the fault of a file
// that ends without its end record). Blank lines are skipped wherever they stand.
template <class Records>
uint32_t ScanText(const uint8_t* text, uint32_t size, Runs& runs, char* because, size_t cap) {
    Run* last = nullptr; // the run of the last data record
    ScanState state;
    bool ended = false;
    uint32_t line = 1;
    TextLine l;
    for (uint32_t pos = 0; pos < size; pos = l.next, ++line) {
        if (!SplitTextLine(text, size, pos, l)) continue;
        if (ended) {
            std::snprintf(because, cap, "a record after the end record");
            return line;
        }
        RecordKind kind = RecordKind::Other;
        uint64_t a = 0;
        if (!Records::DecodeLine(text, l, because, cap) ||
            !Records::Meaning(l, state, kind, a, because, cap)) {
            return line;
        }
        if (kind == RecordKind::End) ended = true;
        if (kind != RecordKind::Data) continue;
        // The previous data record's run goes on where it ends (a reference into the deque
        // stays valid while it grows at its end).
        if (last != nullptr && last->End() == a) {
            last->len += l.n;
        } else {
            last = &runs.emplace_back(Run{static_cast<uint32_t>(a), l.n, l.at});
        }
    }
    if (ended) return 0;
    std::snprintf(because, cap, "%s", Records::kNoEnd);
    return line;
}

// The format whose Records say it all: besides what ScanText takes, Records::kName (as Name),
// Records::DataCount, Records::Checksum and Records::kDigitsAt.
template <class Records> class RecordFormat final : public TextFormat {
  public:
    const char* Name() const override { return Records::kName; }
    uint32_t Scan(const uint8_t* text, uint32_t size, Runs& runs, char* because,
                  size_t cap) const override {
        return ScanText<Records>(text, size, runs, because, cap);
    }
    bool Decode(const uint8_t* text, TextLine& l, char* because, size_t cap) const override {
        return Records::DecodeLine(text, l, because, cap);
    }
    uint32_t DataCount(const uint8_t* line) const override { return Records::DataCount(line); }
    uint8_t Checksum(uint8_t sum) const override { return Records::Checksum(sum); }
    uint32_t DigitsAt() const override { return Records::kDigitsAt; }
};

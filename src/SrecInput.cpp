#include "SrecInput.h"

#include <cstdio>

#include "SrecCodec.h"
#include "TextInput.h"

namespace {

constexpr uint64_t kAddrEnd = 0x100000000ull;

// What each line of an S-record file holds, inline for the scan of every line.
struct SrecRecords {
    static bool DecodeLine(const uint8_t* text, TextLine& l, char* because, size_t cap) {
        return SrecDecode(text, l, because, cap);
    }
    static bool Meaning(const TextLine& l, ScanState& s, RecordKind& kind, uint64_t& addr,
                        char* because, size_t cap);
    static constexpr const char* kNoEnd =
        "no termination record (S7, S8 or S9) before the file ends";
    static constexpr const char* kName = "S-record";
    static uint32_t DataCount(const uint8_t* line) { return SrecDataCount(line); }
    static uint8_t Checksum(uint8_t sum) { return static_cast<uint8_t>(~sum); }
    static constexpr uint32_t kDigitsAt = 2; // after 'S' and the type digit
};

inline bool SrecRecords::Meaning(const TextLine& l, ScanState& s, RecordKind& kind, uint64_t& addr,
                                 char* because, size_t cap) {
    const uint32_t given = SrecAddress(l);
    kind = RecordKind::Other;
    switch (l.type) {
    case 1:
    case 2:
    case 3:
        ++s.dataRecords;
        if (l.n == 0) return true;
        addr = given;
        if (addr + l.n > kAddrEnd) {
            std::snprintf(because, cap, "its data at 0x%08X run past 0xFFFFFFFF", given);
            return false;
        }
        kind = RecordKind::Data;
        return true;
    case 5:
    case 6:
        if (l.n != 0 || given != s.dataRecords) {
            std::snprintf(because, cap,
                          "an S%u record counts %u data records and holds no data; %u come "
                          "before it",
                          l.type, given, s.dataRecords);
            return false;
        }
        return true;
    case 7:
    case 8:
    case 9:
        kind = RecordKind::End;
        if (l.n == 0) return true;
        std::snprintf(because, cap,
                      "an S%u record holds the entry address alone, not %u bytes more", l.type,
                      l.n);
        return false;
    default: // S0, the header
        return true;
    }
}

constexpr RecordFormat<SrecRecords> kSrecFormat;

} // namespace

std::unique_ptr<Firmware> SrecInput(MappedFile& file) {
    return TextInput(file, kSrecFormat);
}

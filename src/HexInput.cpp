#include "HexInput.h"

#include <cstdio>

#include "HexCodec.h"
#include "TextInput.h"

namespace {

constexpr uint64_t k64K = 0x10000;

// What each line of an Intel HEX file holds, inline for the scan of every line.
struct HexRecords {
    static bool DecodeLine(const uint8_t* text, TextLine& l, char* because, size_t cap) {
        return HexDecode(text, l, because, cap);
    }
    static bool Meaning(const TextLine& l, ScanState& s, RecordKind& kind, uint64_t& addr,
                        char* because, size_t cap);
    static constexpr const char* kNoEnd = "no end record (:00000001FF) before the file ends";
    static constexpr const char* kName = "Intel HEX";
    static uint32_t DataCount(const uint8_t* line) { return HexDataCount(line); }
    static uint8_t Checksum(uint8_t sum) { return static_cast<uint8_t>(0u - sum); }
    static constexpr uint32_t kDigitsAt = 1; // after ':'
};

// A record whose type needs another count of data bytes.
bool Length(const TextLine& l, uint32_t want, char* because, size_t cap) {
    if (l.n == want) return true;
    std::snprintf(because, cap, "a type %02X record holds %u data bytes, not %u", l.type, l.n,
                  want);
    return false;
}

inline bool HexRecords::Meaning(const TextLine& l, ScanState& s, RecordKind& kind, uint64_t& addr,
                                char* because, size_t cap) {
    const uint32_t offset = static_cast<uint32_t>(l.b[1]) << 8 | l.b[2];
    const uint32_t value = l.n >= 2 ? static_cast<uint32_t>(l.b[4]) << 8 | l.b[5] : 0;
    kind = RecordKind::Other;
    switch (l.type) {
    case kRecData:
        if (l.n == 0) return true;
        addr = s.base + offset;
        if (offset + l.n > k64K || (addr >> 16) != ((addr + l.n - 1) >> 16)) {
            std::snprintf(because, cap, "its data at 0x%08llX run across a 64 KiB boundary",
                          static_cast<unsigned long long>(addr));
            return false;
        }
        kind = RecordKind::Data;
        return true;
    case kRecEnd:
        kind = RecordKind::End;
        return Length(l, 0, because, cap);
    case kRecSegment:
    case kRecUpper:
        s.base = l.type == kRecSegment ? static_cast<uint64_t>(value) << 4
                                       : static_cast<uint64_t>(value) << 16;
        return Length(l, 2, because, cap);
    case kRecStartSeg:
    case kRecStartLin:
        return Length(l, 4, because, cap);
    default:
        std::snprintf(because, cap, "record type %02X is none of 00 to 05", l.type);
        return false;
    }
}

constexpr RecordFormat<HexRecords> kHexFormat;

} // namespace

std::unique_ptr<Firmware> HexInput(MappedFile& file) {
    return TextInput(file, kHexFormat);
}

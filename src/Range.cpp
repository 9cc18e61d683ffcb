#include "Range.h"

namespace {

constexpr uint8_t kMode = 0x44;     // 32-bit units; a missing range is reported up to the
                                    // signature word
constexpr uint32_t kRangeLast = 24; // offset of the last word summed
constexpr uint32_t kSigOffset = 28; // offset of the signature word

} // namespace

SignatureRange SignatureRange::VectorTableAt(uint32_t base) {
    return SignatureRange{kMode, base, base + kRangeLast, base + kSigOffset};
}

uint32_t SignatureRange::WindowLo() const {
    return position < start ? position : start;
}

uint64_t SignatureRange::WindowHi() const {
    const uint32_t last = position > end ? position : end;
    return static_cast<uint64_t>(last) + kUnit;
}

uint32_t SignatureRange::ReportedLast() const {
    return end + (mode >> 4);
}

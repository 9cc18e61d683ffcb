#include "Range.h"

Signa signa;

namespace {

constexpr uint8_t kMode = 0x44;     // 32-bit units; a missing range is reported up to the
                                    // signature word
constexpr uint32_t kRangeLast = 24; // offset of the last word summed
constexpr uint32_t kSigOffset = 28; // offset of the signature word

} // namespace

void Sig_LPC17_13_xx() {
    SetSigna(0);
}

void SetSigna(uint32_t value) {
    signa.mode = kMode;
    signa.start = value;
    signa.end = value + kRangeLast;
    signa.position = value + kSigOffset;
}

uint32_t WindowLo() {
    return signa.position < signa.start ? signa.position : signa.start;
}

uint64_t WindowHi() {
    const uint32_t last = signa.position > signa.end ? signa.position : signa.end;
    return static_cast<uint64_t>(last) + kUnit;
}

uint32_t RangeLast() {
    return signa.end + (signa.mode >> 4);
}

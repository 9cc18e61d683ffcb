#include "HexImage.h"

#include <cstring>

#include "HexCodec.h"

namespace {

constexpr uint64_t kAddrEnd = 0x100000000ull;

} // namespace

void HexRecordCutter::Emit(uint8_t type, uint32_t addr16, const uint8_t* data, uint32_t n) {
    text_.Took(HexEncode(text_.Room(kRecordMax), type, static_cast<uint16_t>(addr16), data, n));
}

// One data record of n bytes at at, behind a 04 record where the upper address bits change.
void HexRecordCutter::EmitData(uint64_t at, const uint8_t* data, uint32_t n) {
    const int64_t upper = static_cast<int64_t>(at >> 16);
    if (upper != lastUpper_) {
        const uint8_t hi[2] = {static_cast<uint8_t>(upper >> 8), static_cast<uint8_t>(upper)};
        Emit(kRecUpper, 0, hi, 2);
        lastUpper_ = upper;
    }
    Emit(kRecData, static_cast<uint32_t>(at & 0xFFFF), data, n);
}

void HexRecordCutter::Begin(uint64_t addr) {
    addr_ = addr;
    recLen_ = 0;
}

// Whole records go straight from the bytes; the rest waits in the record being filled.
bool HexRecordCutter::Data(const uint8_t* bytes, uint32_t len) {
    if (addr_ + len > kAddrEnd) return false;
    while (len > 0) {
        const uint64_t toBoundary = 0x10000 - (addr_ & 0xFFFF);
        uint32_t take = kDataBytes - recLen_;
        if (take > len) take = len;
        if (take > toBoundary) take = static_cast<uint32_t>(toBoundary);
        const bool ends = recLen_ + take == kDataBytes || take == toBoundary;
        if (recLen_ == 0 && ends) {
            EmitData(addr_, bytes, take);
        } else {
            std::memcpy(rec_ + recLen_, bytes, take);
            recLen_ += take;
        }
        addr_ += take;
        bytes += take;
        len -= take;
        if (ends) End();
    }
    return true;
}

void HexRecordCutter::End() {
    if (recLen_ == 0) return;
    const uint32_t n = recLen_;
    recLen_ = 0;
    EmitData(addr_ - n, rec_, n);
}

void HexRecordCutter::Finish() {
    Emit(kRecEnd, 0, nullptr, 0);
    text_.Flush();
}

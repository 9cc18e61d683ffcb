#include "SrecImage.h"

#include <cstring>

namespace {

constexpr uint64_t kAddrEnd = 0x100000000ull;
constexpr size_t kHeaderName = 40; // the header holds at most this much of the name

// The data record type whose addresses reach the highest address.
uint8_t TypeFor(uint64_t highest) {
    if (highest <= 0xFFFF) return 1;
    return highest <= 0xFFFFFF ? 2 : 3;
}

} // namespace

SrecRecordCutter::SrecRecordCutter(ImageOut& out, const char* name, uint64_t end, uint32_t entry)
    : text_(out), entry_(entry) {
    // The termination record gives the entry point in the data records' address width: wide
    // enough for both.
    const uint64_t highest = end > 0 ? end - 1 : 0;
    type_ = TypeFor(highest > entry ? highest : entry);
    const size_t n = std::strlen(name);
    Emit(0, 0, reinterpret_cast<const uint8_t*>(name),
         static_cast<uint32_t>(n < kHeaderName ? n : kHeaderName));
}

void SrecRecordCutter::Emit(uint8_t type, uint32_t addr, const uint8_t* data, uint32_t n) {
    text_.Took(SrecEncode(text_.Room(kSrecRecordMax), type, addr, data, n));
}

void SrecRecordCutter::Begin(uint64_t addr) {
    addr_ = addr;
    recLen_ = 0;
}

// Whole records go straight from the bytes; the rest waits in the record being filled.
bool SrecRecordCutter::Data(const uint8_t* bytes, uint32_t len) {
    if (addr_ + len > kAddrEnd) return false;
    while (len > 0) {
        uint32_t take = kDataBytes - recLen_;
        if (take > len) take = len;
        if (recLen_ == 0 && take == kDataBytes) {
            Emit(type_, static_cast<uint32_t>(addr_), bytes, take);
        } else {
            if (recLen_ == 0) recAddr_ = addr_;
            std::memcpy(rec_ + recLen_, bytes, take);
            recLen_ += take;
            if (recLen_ == kDataBytes) End();
        }
        addr_ += take;
        bytes += take;
        len -= take;
    }
    return true;
}

void SrecRecordCutter::End() {
    if (recLen_ == 0) return;
    const uint32_t n = recLen_;
    recLen_ = 0;
    Emit(type_, static_cast<uint32_t>(recAddr_), rec_, n);
}

void SrecRecordCutter::Finish() {
    Emit(static_cast<uint8_t>(10 - type_), entry_, nullptr, 0);
    text_.Flush();
}

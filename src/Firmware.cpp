#include "Firmware.h"

#include <cstring>

// The image bytes of a piece, when the file holds all of it.
bool MappedFirmware::Has(const Piece& p, uint32_t addr, uint32_t len) const {
    return addr >= static_cast<uint64_t>(p.addr) + p.skip &&
           static_cast<uint64_t>(addr) + len <= static_cast<uint64_t>(p.addr) + p.len &&
           static_cast<uint64_t>(p.fileOff) + p.len <= file_.Size();
}

// The whole piece must lie inside the file, and a piece without bytes is never read.
void MappedFirmware::Read(const Piece& p, uint32_t addr, uint8_t* dst, uint32_t len) const {
    std::memcpy(dst, file_.Slice(p.fileOff, p.len) + (addr - p.addr), len);
}

void MappedFirmware::Store(const Piece& p, uint32_t addr, const uint8_t* src, uint32_t len) {
    std::memcpy(file_.Slice(p.fileOff, p.len) + (addr - p.addr), src, len);
}

void MappedFirmware::Emit(const Piece& p, ImageSink& sink) {
    if (p.len == 0) return;
    const uint8_t* bytes = file_.Slice(p.fileOff, p.len);
    sink.Data(bytes + p.skip, p.len - p.skip, static_cast<int64_t>(p.fileOff) + p.skip);
}

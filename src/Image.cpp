#include "Image.h"

#include <cstdio>
#include <cstring>

#include "Argums.h"
#include "Diag.h"
#include "Hex.h"
#include "Mapped.h"
#include "Plat.h"
#include "TempImage.h"

namespace {

// One image: its name, its stream in the command-line record and what a check found.
struct Out {
    bool on;          // requested
    bool open;        // opened at the first piece (or found missing)
    std::FILE** fp;   // the stream, held in the command-line record
    const char* name; // the file name
    Verdict state;    // check-only: what was found so far
};
Out outs[kImages];
int failed = kImageBinary;

int Fail(int which, int code) {
    failed = which;
    return code;
}

// Writes n bytes to the image, or compares them with the image's next bytes (with zeros
// when bytes is null).
int Put(Out& o, const void* bytes, uint64_t n) {
    std::FILE* fp = *o.fp;
    if (!Checking()) {
        if (n > 0) std::fwrite(bytes, 1, static_cast<size_t>(n), fp);
        return std::ferror(fp) != 0 ? kImageIo : kImageOk;
    }
    const uint8_t* p = static_cast<const uint8_t*>(bytes);
    uint8_t buf[16384];
    while (n > 0 && o.state == Verdict::Right) {
        const size_t k = n < sizeof buf ? static_cast<size_t>(n) : sizeof buf;
        if (std::fread(buf, 1, k, fp) != k) {
            o.state = Verdict::ImageDiffers;
        } else if (p != nullptr ? std::memcmp(buf, p, k) != 0
                                : buf[0] != 0 || std::memcmp(buf, buf + 1, k - 1) != 0) {
            o.state = Verdict::ImageDiffers;
        }
        if (p != nullptr) p += k;
        n -= k;
    }
    return kImageOk;
}

// True when the image takes bytes: requested, and open (not found missing by a check).
bool Live(const Out& o) {
    return o.on && *o.fp != nullptr;
}

// ---- The raw binary image ---------------------------------------------------------------

uint64_t binAddr; // the load address reached so far
bool binStarted;  // once a piece with bytes has been written

// Appends len zero bytes: a hole where the platform can leave one.
int Fill(Out& o, uint64_t len) {
    if (Checking()) return Put(o, nullptr, len);
    if (PlatImageHole(*o.fp, len) != 0) return kImageOk;
    static constexpr uint8_t kZeros[4096] = {};
    while (len > 0 && std::ferror(*o.fp) == 0) {
        const uint64_t n = len < sizeof kZeros ? len : sizeof kZeros;
        std::fwrite(kZeros, 1, static_cast<size_t>(n), *o.fp);
        len -= n;
    }
    return std::ferror(*o.fp) != 0 ? kImageIo : kImageOk;
}

// A piece's bytes go at their load-address distance from the bytes before them; a piece
// below the running address follows them directly.
int BinData(uint64_t addr, const uint8_t* bytes, uint32_t len, int64_t fileOff) {
    Out& o = outs[kImageBinary];
    if (!binStarted) {
        binStarted = true;
        binAddr = addr;
    } else if (addr > binAddr) {
        if (Fill(o, addr - binAddr) != kImageOk) return kImageIo;
        binAddr = addr;
    }
    binAddr += len;
    if (Checking()) return Put(o, bytes, len);
    if (fileOff >= 0) {
        return PlatWriteImage(*o.fp, xfi.hFile, static_cast<uint32_t>(fileOff), bytes, len) != 0
                   ? kImageIo
                   : kImageOk;
    }
    return Put(o, bytes, len);
}

// ---- The HEX image ----------------------------------------------------------------------

constexpr uint64_t kAddrEnd = 0x100000000ull;
constexpr size_t kTextCap = 65536;

char text[kTextCap]; // encoded records not yet written
size_t textLen;
uint64_t hexAddr;      // load address of the next byte
uint8_t rec[kHexData]; // the record being filled
uint32_t recLen;
int64_t lastUpper; // upper 16 address bits of the last 04 record; -1 before the first

int FlushText() {
    const int r = Put(outs[kImageHex], text, textLen);
    textLen = 0;
    return r;
}

int Emit(uint8_t type, uint32_t addr16, const uint8_t* data, uint32_t n) {
    if (textLen + kHexRecordMax > sizeof text && FlushText() != kImageOk) return kImageIo;
    textLen += HexRecord(text + textLen, type, static_cast<uint16_t>(addr16), data, n);
    return kImageOk;
}

// One data record of n bytes at at, behind a 04 record where the upper address bits change.
int EmitData(uint64_t at, const uint8_t* data, uint32_t n) {
    const int64_t upper = static_cast<int64_t>(at >> 16);
    if (upper != lastUpper) {
        const uint8_t hi[2] = {static_cast<uint8_t>(upper >> 8), static_cast<uint8_t>(upper)};
        if (Emit(kHexUpper, 0, hi, 2) != kImageOk) return kImageIo;
        lastUpper = upper;
    }
    return Emit(kHexData00, static_cast<uint32_t>(at & 0xFFFF), data, n);
}

int FlushRecord() {
    if (recLen == 0) return kImageOk;
    const uint32_t n = recLen;
    recLen = 0;
    return EmitData(hexAddr - n, rec, n);
}

// Records of at most 16 bytes, each starting where the last ended, none crossing 64 KiB.
// Whole records go straight from the bytes; the rest waits in rec for the next bytes.
int HexData(const uint8_t* bytes, uint32_t len) {
    if (hexAddr + len > kAddrEnd) {
        Why(outs[kImageHex].name,
            "cannot write: a segment reaches past 0xFFFFFFFF, beyond what a HEX file addresses");
        return kImageIo;
    }
    while (len > 0) {
        const uint64_t toBoundary = 0x10000 - (hexAddr & 0xFFFF);
        uint32_t take = kHexData - recLen;
        if (take > len) take = len;
        if (take > toBoundary) take = static_cast<uint32_t>(toBoundary);
        const bool ends = recLen + take == kHexData || take == toBoundary;
        if (recLen == 0 && ends) {
            if (EmitData(hexAddr, bytes, take) != kImageOk) return kImageIo;
        } else {
            std::memcpy(rec + recLen, bytes, take);
            recLen += take;
        }
        hexAddr += take;
        bytes += take;
        len -= take;
        if (ends && FlushRecord() != kImageOk) return kImageIo;
    }
    return kImageOk;
}

} // namespace

void ImagesStart() {
    outs[kImageBinary] = {(bom.flags & kBomBinary) != 0, false, &bom.binFp, bom.binName,
                          Verdict::Right};
    outs[kImageHex] = {(bom.flags & kBomHex) != 0, false, &bom.hexFp, bom.hexName, Verdict::Right};
    binStarted = false;
    binAddr = 0;
    textLen = 0;
    recLen = 0;
    lastUpper = -1;
    failed = kImageBinary;
}

int ImageBegin(uint64_t addr) {
    for (int i = 0; i < kImages; ++i) {
        Out& o = outs[i];
        if (!o.on || o.open) continue;
        o.open = true;
        *o.fp = Checking() ? PlatReadImage(o.name) : TempOpen(i, o.name);
        if (*o.fp != nullptr) continue;
        if (!Checking()) return Fail(i, kImageCreate);
        o.state = Verdict::ImageMissing;
    }
    hexAddr = addr;
    recLen = 0;
    return kImageOk;
}

int ImageData(const uint8_t* bytes, uint32_t len, int64_t fileOff) {
    if (len == 0) return kImageOk;
    const uint64_t addr = hexAddr;
    if (Live(outs[kImageHex]) && HexData(bytes, len) != kImageOk) return Fail(kImageHex, kImageIo);
    hexAddr = addr + len;
    if (Live(outs[kImageBinary]) && BinData(addr, bytes, len, fileOff) != kImageOk) {
        return Fail(kImageBinary, kImageIo);
    }
    return kImageOk;
}

int ImageEnd() {
    if (Live(outs[kImageHex]) && FlushRecord() != kImageOk) return Fail(kImageHex, kImageIo);
    return kImageOk;
}

int ImagesClose() {
    int result = kImageOk;
    if (Live(outs[kImageHex]) &&
        (Emit(kHexEnd, 0, nullptr, 0) != kImageOk || FlushText() != kImageOk)) {
        result = Fail(kImageHex, kImageIo);
    }
    if (!Checking()) {
        // The images take their names only now, together and complete; a failed run has none.
        int which = kImageBinary;
        if (TempFinish(result == kImageOk, which) != 0 && result == kImageOk) {
            result = Fail(which, kImageIo);
        }
        for (Out& o : outs) *o.fp = nullptr;
        return result;
    }
    for (Out& o : outs) {
        if (*o.fp == nullptr) continue;
        if (o.state == Verdict::Right && std::fgetc(*o.fp) != EOF) o.state = Verdict::ImageDiffers;
        std::fclose(*o.fp);
        *o.fp = nullptr;
    }
    return result;
}

void ImagesAbandon() {
    if (!Checking()) {
        int which = 0;
        TempFinish(false, which);
    }
    for (Out& o : outs) {
        if (o.fp == nullptr || *o.fp == nullptr) continue;
        if (Checking()) std::fclose(*o.fp);
        *o.fp = nullptr;
    }
}

const char* ImageFailed() {
    return outs[failed].name;
}

Verdict ImageVerdict(int which) {
    return outs[which].on ? outs[which].state : Verdict::Right;
}

const char* ImageName(int which) {
    return outs[which].name;
}

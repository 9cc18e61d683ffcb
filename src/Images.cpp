#include "Images.h"

#include <cstring>

#include "Diag.h"
#include "Fatal.h"

Images::Images(const Request& request, const MappedFile& input, const ImageSpan& span)
    : on_{request.writeBinary, request.writeHex, request.writeSrec}, name_{request.binaryName,
                                                                           request.hexName,
                                                                           request.srecName},
      checking_(request.checkOnly), fill_(request.gapFill ? request.fillByte : -1), input_(input),
      span_(span) {}

Images::~Images() {
    if (opened_ && !checking_) DropImages();
}

void Images::Begin(uint64_t addr) {
    if (!opened_) {
        opened_ = true;
        for (int i = 0; i < kImages; ++i) {
            if (!on_[i]) continue;
            out_[i] = checking_ ? CheckImage(name_[i]) : WriteImage(i, name_[i], input_);
            // A check that finds no image takes no bytes.
            missing_[i] = out_[i]->Found() == Verdict::ImageMissing;
            if (missing_[i]) out_[i].reset();
        }
        if (out_[kImageHex]) cutter_ = std::make_unique<HexRecordCutter>(*out_[kImageHex]);
        if (out_[kImageSrec]) {
            srec_ = std::make_unique<SrecRecordCutter>(*out_[kImageSrec], name_[kImageSrec],
                                                       span_.end, span_.entry);
        }
    }
    at_ = addr;
    if (cutter_) cutter_->Begin(addr);
    if (srec_) srec_->Begin(addr);
}

// A piece's bytes go into the binary image at their load-address distance from the bytes
// before them; a piece below the running address follows them directly.
void Images::Data(const uint8_t* bytes, uint32_t len, int64_t fileOff) {
    if (len == 0) return;
    const uint64_t addr = at_;
    at_ += len;
    if (cutter_ && !cutter_->Data(bytes, len)) BeyondAddresses(kImageHex);
    if (srec_ && !srec_->Data(bytes, len)) BeyondAddresses(kImageSrec);
    if (!out_[kImageBinary]) return;
    ImageOut& bin = *out_[kImageBinary];
    if (!binStarted_) {
        binStarted_ = true;
        binAddr_ = addr;
    } else if (addr > binAddr_) {
        Gap(bin, addr - binAddr_);
        binAddr_ = addr;
    }
    binAddr_ += len;
    bin.Put(bytes, len, fileOff);
}

// A gap of the binary image: the fill byte, else zeros or a hole.
void Images::Gap(ImageOut& bin, uint64_t len) {
    if (fill_ < 0) {
        bin.Put(nullptr, len, -1);
        return;
    }
    uint8_t fill[4096];
    std::memset(fill, fill_, sizeof fill);
    for (uint64_t left = len; left > 0;) {
        const uint64_t n = left < sizeof fill ? left : sizeof fill;
        bin.Put(fill, n, -1);
        left -= n;
    }
}

void Images::BeyondAddresses(int which) {
    Why(name_[which],
        "cannot write: a segment reaches past 0xFFFFFFFF, beyond what a %s file "
        "addresses",
        which == kImageHex ? "HEX" : "S-record");
    input_.CheckNotShrunk();
    Fatal(Failure::IoError, name_[which]);
}

void Images::End() {
    if (cutter_) cutter_->End();
    if (srec_) srec_->End();
}

void Images::Close() {
    if (cutter_) cutter_->Finish();
    if (srec_) srec_->Finish();
    for (auto& out : out_) {
        if (out) out->Close();
    }
    if (opened_) CommitImages(name_, input_);
}

Verdict Images::Found(int which) const {
    if (missing_[which]) return Verdict::ImageMissing;
    return out_[which] ? out_[which]->Found() : Verdict::Right;
}

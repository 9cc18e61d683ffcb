#include "Images.h"

#include "Diag.h"
#include "Fatal.h"

Images::Images(const Request& request, const MappedFile& input)
    : on_{request.writeBinary, request.writeHex}, name_{request.binaryName, request.hexName},
      checking_(request.checkOnly), input_(input) {}

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
    }
    at_ = addr;
    if (cutter_) cutter_->Begin(addr);
}

// A piece's bytes go into the binary image at their load-address distance from the bytes
// before them; a piece below the running address follows them directly.
void Images::Data(const uint8_t* bytes, uint32_t len, int64_t fileOff) {
    if (len == 0) return;
    const uint64_t addr = at_;
    at_ += len;
    if (cutter_ && !cutter_->Data(bytes, len)) {
        Why(name_[kImageHex],
            "cannot write: a segment reaches past 0xFFFFFFFF, beyond what a HEX file addresses");
        input_.CheckNotShrunk();
        Fatal(Failure::IoError, name_[kImageHex]);
    }
    if (!out_[kImageBinary]) return;
    ImageOut& bin = *out_[kImageBinary];
    if (!binStarted_) {
        binStarted_ = true;
        binAddr_ = addr;
    } else if (addr > binAddr_) {
        bin.Put(nullptr, addr - binAddr_, -1);
        binAddr_ = addr;
    }
    binAddr_ += len;
    bin.Put(bytes, len, fileOff);
}

void Images::End() {
    if (cutter_) cutter_->End();
}

void Images::Close() {
    if (cutter_) cutter_->Finish();
    for (auto& out : out_) {
        if (out) out->Close();
    }
    if (opened_) CommitImages(name_, input_);
}

Verdict Images::Found(int which) const {
    if (missing_[which]) return Verdict::ImageMissing;
    return out_[which] ? out_[which]->Found() : Verdict::Right;
}

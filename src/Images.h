// The images a flash tool takes, as sinks of the signature pass: the raw binary image
// (load-address gaps as holes, zeros or the fill byte), the Intel HEX image and the S-record
// image, written in one walk, or compared with the files there in a check-only run.
#pragma once

#include <memory>

#include "Firmware.h"
#include "HexImage.h"
#include "SrecImage.h"
#include "ImageOut.h"
#include "Request.h"

// The images, in the order they are checked and reported.
constexpr int kImageBinary = 0;
constexpr int kImageHex = 1;
constexpr int kImageSrec = 2;
constexpr int kImages = 3;

// Where the images' bytes end and start execution, for the S-record image's record type and
// termination record.
struct ImageSpan {
    uint64_t end = 0;   // the highest load address of a byte, plus one
    uint32_t entry = 0; // the entry point
};

class Images final : public ImageSink {
  public:
    // The images the request names; none is opened yet. Bytes that stand in the input file as
    // they are may be copied from it.
    Images(const Request& request, const MappedFile& input, const ImageSpan& span);
    // Images written but not committed are deleted: the run stopped.
    ~Images();
    Images(const Images&) = delete;
    Images& operator=(const Images&) = delete;
    // True when the command line requests any image.
    bool Any() const { return on_[kImageBinary] || on_[kImageHex] || on_[kImageSrec]; }
    // A piece starts at load address addr; the images are opened at the first piece.
    void Begin(uint64_t addr);
    void Data(const uint8_t* bytes, uint32_t len, int64_t fileOff) override;
    // The piece is complete.
    void End();
    // After the last piece: the images are complete (written ones take their names).
    void Close();
    // A check's finding for one image (Right when it was not requested).
    Verdict Found(int which) const;

  private:
    void Gap(ImageOut& bin, uint64_t len);
    [[noreturn]] void BeyondAddresses(int which);

    bool on_[kImages];
    const char* name_[kImages];
    bool checking_; // a check-only run: the images are compared, never written
    int fill_;      // the binary image's gap byte, or -1: zeros or holes
    const MappedFile& input_;
    ImageSpan span_;
    std::unique_ptr<ImageOut> out_[kImages]; // the images open for bytes
    bool missing_[kImages] = {};             // a check found no image file
    bool opened_ = false;
    uint64_t at_ = 0;                         // load address of the next byte
    bool binStarted_ = false;                 // once a piece with bytes has been written
    uint64_t binAddr_ = 0;                    // the load address the binary image has reached
    std::unique_ptr<HexRecordCutter> cutter_; // the HEX image's records, while it takes bytes
    std::unique_ptr<SrecRecordCutter> srec_;  // the S-record image's records
};

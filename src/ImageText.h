// The text of a record image (HEX, S-records) on its way out: records encoded into a block
// that goes to the image whole.
#pragma once

#include <cstddef>
#include <cstdint>

#include "ImageOut.h"

class ImageText {
  public:
    explicit ImageText(ImageOut& out) : out_(out) {}
    // Where to encode a record of at most max characters (the block goes out first when it
    // lacks the room); Took then says how many it took.
    char* Room(size_t max) {
        if (len_ + max > sizeof text_) Flush();
        return text_ + len_;
    }
    void Took(size_t n) { len_ += n; }
    // The block goes to the image.
    void Flush() {
        out_.Put(reinterpret_cast<const uint8_t*>(text_), len_, -1);
        len_ = 0;
    }

  private:
    ImageOut& out_;
    char text_[65536];
    size_t len_ = 0;
};

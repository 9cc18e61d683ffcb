// Where an image's bytes go: into its file, which takes its name only when every image of the
// run is complete, or, in a check-only run, into a comparison with the file that is there.
#pragma once

#include <cstdint>
#include <memory>

#include "MappedFile.h"

// What a check-only run found.
enum class Verdict : int { Right, WrongSignature, ImageMissing, ImageDiffers };

class ImageOut {
  public:
    virtual ~ImageOut() = default;
    // The image's next n bytes, zeros when bytes is null; fileOff is their offset in the input
    // file when they stand there as is (the kernel may copy them), else -1.
    virtual void Put(const uint8_t* bytes, uint64_t n, int64_t fileOff) = 0;
    // The image is complete: a check learns whether the file ends there too.
    virtual void Close() {}
    // What a check found (an image that is written is Right).
    virtual Verdict Found() const { return Verdict::Right; }
};

// The image name, written through a temporary file of the slot; stops the run when it cannot
// be created. Bytes that stand in the input file as they are may be copied from it.
std::unique_ptr<ImageOut> WriteImage(int slot, const char* name, const MappedFile& input);
// The image name, compared byte by byte; missing when it cannot be opened.
std::unique_ptr<ImageOut> CheckImage(const char* name);
// Every written image takes its name, together; names[slot] is the image of each slot. Stops
// the run, leaving none of them, when one cannot (cut short when the input shrank meanwhile).
void CommitImages(const char* const* names, const MappedFile& input);
// Deletes every written image that has not taken its name (the run stopped before).
void DropImages();

// The images a flash tool takes: the raw binary image (load-address gaps as holes or zeros)
// and the Intel HEX image, written in one walk, or compared with the files there in a
// check-only run. The pass hands them each piece of firmware in turn.
#pragma once

#include <cstdint>

// What a check-only run found.
enum class Verdict : int { Right, WrongSignature, ImageMissing, ImageDiffers };

// The images, in the order they are checked and reported.
constexpr int kImageBinary = 0;
constexpr int kImageHex = 1;
constexpr int kImages = 2;

// Outcomes of the image steps.
constexpr int kImageOk = 0;
constexpr int kImageCreate = 5; // an image file cannot be created
constexpr int kImageIo = 7;     // an image file cannot be written

// Before the walk: which images the command line requests, nothing open.
void ImagesStart();
// A piece starts at load address addr; the requested images are opened at the first piece.
int ImageBegin(uint64_t addr);
// The piece's next len bytes; fileOff is their offset in the input file when the bytes stand
// there as is (the kernel may copy them), else -1.
int ImageData(const uint8_t* bytes, uint32_t len, int64_t fileOff);
// The piece is complete.
int ImageEnd();
// After the walk: ends and closes the images; a check-only run learns whether they end where
// they must.
int ImagesClose();
// Closes whatever is open without finishing it (the run has failed).
void ImagesAbandon();
// The image that the last failing step concerned.
const char* ImageFailed();
// A check-only run's finding for one image (Right when it was not requested).
Verdict ImageVerdict(int which);
const char* ImageName(int which);

#include "ImageOut.h"

#include <cstdio>
#include <cstring>

#include "Diag.h"
#include "Fatal.h"
#include "Plat.h"
#include "TempImage.h"

namespace {

// Stops the run with the report of an image that cannot be created or written. A write that
// fails because the input shrank under its mapping is the input's fault: the run is cut short.
[[noreturn]] void ImageFail(const char* name, bool create, const MappedFile& input) {
    if (!create) input.CheckNotShrunk();
    Why(name, create ? "cannot create: %s" : "cannot write: %s", SystemError());
    Fatal(create ? Failure::CreateFile : Failure::IoError, name);
}

class Writer : public ImageOut {
  public:
    Writer(int slot, const char* name, const MappedFile& input)
        : fp_(TempOpen(slot, name)), name_(name), input_(input) {
        if (fp_ == nullptr) ImageFail(name, true, input);
    }
    void Put(const uint8_t* bytes, uint64_t n, int64_t fileOff) override {
        if (bytes == nullptr) {
            Zeros(n);
        } else if (fileOff >= 0) {
            if (PlatWriteImage(fp_, input_.Handle(), static_cast<uint32_t>(fileOff), bytes,
                               static_cast<uint32_t>(n)) != 0) {
                ImageFail(name_, false, input_);
            }
        } else if (n > 0) {
            std::fwrite(bytes, 1, static_cast<size_t>(n), fp_);
        }
        if (std::ferror(fp_) != 0) ImageFail(name_, false, input_);
    }

  private:
    // A hole where the platform can leave one.
    void Zeros(uint64_t len) {
        if (PlatImageHole(fp_, len)) return;
        static constexpr uint8_t kZeros[4096] = {};
        while (len > 0 && std::ferror(fp_) == 0) {
            const uint64_t n = len < sizeof kZeros ? len : sizeof kZeros;
            std::fwrite(kZeros, 1, static_cast<size_t>(n), fp_);
            len -= n;
        }
    }

    std::FILE* fp_;
    const char* name_;
    const MappedFile& input_; // where bytes that stand in it as they are may be copied from
};

class Comparer : public ImageOut {
  public:
    explicit Comparer(const char* name)
        : fp_(PlatReadImage(name)),
          state_(fp_ != nullptr ? Verdict::Right : Verdict::ImageMissing) {}
    ~Comparer() override {
        if (fp_ != nullptr) std::fclose(fp_);
    }
    Comparer(const Comparer&) = delete;
    Comparer& operator=(const Comparer&) = delete;

    void Put(const uint8_t* bytes, uint64_t n, int64_t) override {
        uint8_t buf[16384];
        while (n > 0 && state_ == Verdict::Right) {
            const size_t k = n < sizeof buf ? static_cast<size_t>(n) : sizeof buf;
            if (std::fread(buf, 1, k, fp_) != k) {
                state_ = Verdict::ImageDiffers;
            } else if (bytes != nullptr ? std::memcmp(buf, bytes, k) != 0
                                        : buf[0] != 0 || std::memcmp(buf, buf + 1, k - 1) != 0) {
                state_ = Verdict::ImageDiffers;
            }
            if (bytes != nullptr) bytes += k;
            n -= k;
        }
    }
    void Close() override {
        if (fp_ == nullptr) return;
        if (state_ == Verdict::Right && std::fgetc(fp_) != EOF) state_ = Verdict::ImageDiffers;
        std::fclose(fp_);
        fp_ = nullptr;
    }
    Verdict Found() const override { return state_; }

  private:
    std::FILE* fp_;
    Verdict state_;
};

} // namespace

std::unique_ptr<ImageOut> WriteImage(int slot, const char* name, const MappedFile& input) {
    return std::make_unique<Writer>(slot, name, input);
}

std::unique_ptr<ImageOut> CheckImage(const char* name) {
    return std::make_unique<Comparer>(name);
}

void DropImages() {
    int failed = 0;
    TempFinish(false, failed);
}

void CommitImages(const char* const* names, const MappedFile& input) {
    int failed = 0;
    if (TempFinish(true, failed) != 0) ImageFail(names[failed], false, input);
}

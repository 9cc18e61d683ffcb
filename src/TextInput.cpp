#include "TextInput.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <deque>
#include <memory>

#include "Diag.h"
#include "Fatal.h"

namespace {

constexpr uint32_t kNoClash = 0xFFFFFFFFu;

// Runs in address order (a type of its own, so that the sort inlines it).
struct ByAddress {
    bool operator()(const Run& a, const Run& b) const { return a.first < b.first; }
};

class TextFirmware : public Firmware {
  public:
    TextFirmware(MappedFile& file, const TextFormat& format)
        : file_(file), format_(format), text_(file.Slice(0, file.Size())), size_(file.Size()) {
        Scan();
    }
    bool Next(size_t& at, Piece& p) const override;
    bool Has(const Piece& p, uint32_t addr, uint32_t len) const override {
        return InsidePiece(p, addr, static_cast<uint64_t>(addr) + len);
    }
    void Read(const Piece& p, uint32_t addr, uint8_t* dst, uint32_t len) const override;
    void Store(const Piece& p, uint32_t addr, const uint8_t* src, uint32_t len) override;
    void Emit(const Piece& p, ImageSink& sink) override;

  private:
    void Scan();
    bool Clash(uint32_t last) const;
    uint32_t LineOf(uint32_t pos) const;
    uint32_t LineHolding(const Run& r, uint64_t addr) const;
    uint32_t FirstClash();
    [[noreturn]] void Invalid(uint32_t line);
    size_t RunAt(const Piece& p, uint32_t addr) const;
    template <class Fn> void Records(const Piece& p, uint64_t from, uint64_t to, Fn fn) const;

    MappedFile& file_;
    const TextFormat& format_;
    uint8_t* text_; // the whole mapped file
    uint32_t size_;
    Runs runs_;                        // in file order while the file is scanned, then by address
    char because_[160];                // what is wrong with the line a fault names
    std::unique_ptr<uint8_t[]> chunk_; // image bytes gathered from the records of a piece
};

// True when two of the runs that start at file offsets up to last share an address (the runs
// are in address order).
bool TextFirmware::Clash(uint32_t last) const {
    uint64_t end = 0;
    bool any = false;
    for (const Run& r : runs_) {
        if (r.fileOff > last) continue;
        if (any && r.first < end) return true;
        if (!any || r.End() > end) end = r.End();
        any = true;
    }
    return false;
}

uint32_t TextFirmware::LineOf(uint32_t pos) const {
    return 1 + static_cast<uint32_t>(std::count(text_, text_ + pos, '\n'));
}

// The line of the run's data record that holds addr.
uint32_t TextFirmware::LineHolding(const Run& r, uint64_t addr) const {
    uint64_t a = r.first;
    TextLine l;
    for (uint32_t pos = r.fileOff; pos < size_; pos = l.next) {
        if (!SplitTextLine(text_, size_, pos, l)) continue;
        const uint32_t n = format_.DataCount(text_ + l.at);
        if (n == 0) continue;
        if (a + n > addr) return LineOf(l.at);
        a += n;
    }
    return LineOf(r.fileOff);
}

// The line of the first data record in the file that gives an address an earlier line gave,
// or kNoClash; says which address and where it was given first. Sorts the runs by address.
uint32_t TextFirmware::FirstClash() {
    std::sort(runs_.begin(), runs_.end(), ByAddress{});
    if (!Clash(kNoClash)) return kNoClash;
    // The first run, in file order, that meets an earlier one.
    uint32_t lo = 0;
    uint32_t hi = size_;
    while (lo < hi) {
        const uint32_t mid = lo + (hi - lo) / 2;
        if (Clash(mid)) {
            hi = mid;
        } else {
            lo = mid + 1;
        }
    }
    const Run* e = nullptr;
    for (const Run& r : runs_) {
        if (r.fileOff == lo) e = &r;
    }
    // Its lowest address that an earlier run gave, the record that holds it and the first.
    uint64_t low = e->End();
    const Run* first = e;
    for (const Run& r : runs_) {
        if (r.fileOff < lo && r.first < e->End() && r.End() > e->first &&
            std::max<uint64_t>(r.first, e->first) < low) {
            low = std::max<uint64_t>(r.first, e->first);
            first = &r;
        }
    }
    std::snprintf(because_, sizeof because_, "address 0x%08llX was given before, on line %u",
                  static_cast<unsigned long long>(low), LineHolding(*first, low));
    return LineHolding(*e, low);
}

void TextFirmware::Invalid(uint32_t line) {
    // A record that gives an address twice may come before the fault found.
    char fault[sizeof because_];
    std::memcpy(fault, because_, sizeof fault);
    const uint32_t clash = FirstClash();
    if (clash < line) {
        line = clash;
    } else {
        std::memcpy(because_, fault, sizeof fault);
    }
    Why(file_.Name(), "invalid %s file: line %u: %s", format_.Name(), line, because_);
    char detail[sizeof Stop{}.text];
    std::snprintf(detail, sizeof detail, "'%s' (line %u)", file_.Name(), line);
    Fatal(Failure::HexFile, detail);
}

void TextFirmware::Scan() {
    const uint32_t line = format_.Scan(text_, size_, runs_, because_, sizeof because_);
    if (line != 0) Invalid(line);
    const uint32_t clash = FirstClash();
    if (clash != kNoClash) Invalid(clash);
}

// ---- Pieces: runs that meet end to end --------------------------------------------------

bool TextFirmware::Next(size_t& at, Piece& p) const {
    if (at >= runs_.size()) return false;
    p = Piece{runs_[at].first, 0, 0, 0, at};
    uint64_t end = runs_[at].End();
    for (++at; at < runs_.size() && runs_[at].first == end; ++at) end = runs_[at].End();
    p.len = static_cast<uint32_t>(end - p.addr);
    return true;
}

// The piece's run that holds addr, or the first behind it.
size_t TextFirmware::RunAt(const Piece& p, uint32_t addr) const {
    const Run key{addr, 0, 0};
    const auto from = runs_.begin() + static_cast<std::ptrdiff_t>(p.first);
    size_t i =
        static_cast<size_t>(std::upper_bound(from, runs_.end(), key, ByAddress{}) - runs_.begin());
    if (i > p.first && runs_[i - 1].End() > addr) --i;
    return i;
}

// Calls fn(address, line) for each data record of the piece whose addresses meet [from, to),
// in address order: the runs are walked record by record in the file.
template <class Fn>
void TextFirmware::Records(const Piece& p, uint64_t from, uint64_t to, Fn fn) const {
    char scratch[sizeof because_];
    for (size_t i = RunAt(p, static_cast<uint32_t>(from)); i < runs_.size() && runs_[i].first < to;
         ++i) {
        uint64_t a = runs_[i].first;
        const uint64_t end = runs_[i].End();
        TextLine l;
        for (uint32_t pos = runs_[i].fileOff; a < end && a < to; pos = l.next) {
            if (!SplitTextLine(text_, size_, pos, l)) continue;
            const uint32_t n = format_.DataCount(text_ + l.at);
            if (n == 0) continue;
            if (a + n > from) {
                format_.Decode(text_, l, scratch, sizeof scratch);
                fn(a, l);
            }
            a += n;
        }
    }
}

void TextFirmware::Read(const Piece& p, uint32_t addr, uint8_t* dst, uint32_t len) const {
    const uint64_t to = static_cast<uint64_t>(addr) + len;
    Records(p, addr, to, [&](uint64_t a, const TextLine& l) {
        for (uint32_t i = 0; i < l.n; ++i) {
            if (a + i >= addr && a + i < to) dst[a + i - addr] = l.b[l.data + i];
        }
    });
}

// Rewrites the digits of the bytes that change and the record's checksum, in upper case
// unless the line holds a lower-case hex letter.
void TextFirmware::Store(const Piece& p, uint32_t addr, const uint8_t* src, uint32_t len) {
    const uint64_t to = static_cast<uint64_t>(addr) + len;
    const uint32_t digitsAt = format_.DigitsAt();
    Records(p, addr, to, [&](uint64_t a, const TextLine& l) {
        bool lower = false;
        for (uint32_t i = l.at; i < l.end; ++i) lower |= text_[i] >= 'a' && text_[i] <= 'f';
        const uint32_t check = l.data + l.n; // the checksum's index
        uint8_t sum = 0;
        for (uint32_t i = 0; i < check; ++i) {
            uint8_t b = l.b[i];
            const uint64_t at = a + i - l.data;
            if (i >= l.data && at >= addr && at < to && src[at - addr] != b) {
                b = src[at - addr];
                PutHexDigits(text_ + l.at + digitsAt + 2 * i, b, lower);
            }
            sum = static_cast<uint8_t>(sum + b);
        }
        const uint8_t checksum = format_.Checksum(sum);
        if (checksum != l.b[check]) {
            PutHexDigits(text_ + l.at + digitsAt + 2 * check, checksum, lower);
        }
    });
}

void TextFirmware::Emit(const Piece& p, ImageSink& sink) {
    constexpr size_t kChunk = 65536;
    if (!chunk_) chunk_ = std::make_unique_for_overwrite<uint8_t[]>(kChunk);
    uint32_t fill = 0;
    const uint64_t to = static_cast<uint64_t>(p.addr) + p.len;
    Records(p, p.addr, to, [&](uint64_t, const TextLine& l) {
        const uint32_t n = l.n;
        if (fill + n > kChunk) {
            sink.Data(chunk_.get(), fill, -1);
            fill = 0;
        }
        std::memcpy(chunk_.get() + fill, l.b + l.data, n);
        fill += n;
    });
    sink.Data(chunk_.get(), fill, -1);
}

} // namespace

std::unique_ptr<Firmware> TextInput(MappedFile& file, const TextFormat& format) {
    return std::make_unique<TextFirmware>(file, format);
}

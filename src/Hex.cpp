#include "Hex.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <deque>

#include "Argums.h"
#include "Diag.h"
#include "Mapped.h"
#include "Vortle.h"

namespace {

constexpr uint8_t kNoDigit = 0xFF;

// The value of each character as a hex digit, kNoDigit for any other character.
constexpr struct Nibbles {
    uint8_t v[256];
    constexpr Nibbles() : v{} {
        for (int c = 0; c < 256; ++c) v[c] = kNoDigit;
        for (int c = 0; c < 10; ++c) v['0' + c] = static_cast<uint8_t>(c);
        for (int c = 0; c < 6; ++c) {
            v['A' + c] = static_cast<uint8_t>(10 + c);
            v['a' + c] = static_cast<uint8_t>(10 + c);
        }
    }
} kNibble;

constexpr char kUpperDigits[] = "0123456789ABCDEF";
constexpr char kLowerDigits[] = "0123456789abcdef";

// The two upper-case digits of each byte.
constexpr struct Pairs {
    char v[256][2];
    constexpr Pairs() : v{} {
        for (int b = 0; b < 256; ++b) {
            v[b][0] = kUpperDigits[b >> 4];
            v[b][1] = kUpperDigits[b & 15];
        }
    }
} kPairs;

char* PutByte(char* out, uint8_t b) {
    std::memcpy(out, kPairs.v[b], 2);
    return out + 2;
}

// ---- Reading ----------------------------------------------------------------------------

constexpr uint32_t kMaxBytes = 260; // count, address, type, 255 data bytes and checksum
constexpr uint64_t k64K = 0x10000;

// One record line: where it starts, where its text ends (before CR LF) and where the next
// line starts; its bytes decoded: count, address (2), type, data, checksum.
struct Line {
    uint32_t at, end, next;
    uint8_t b[kMaxBytes];
};

const uint8_t* text; // the whole mapped file
uint32_t textSize;

// Finds the line at pos; false when it is empty.
bool Split(uint32_t pos, Line& l) {
    const void* nl = std::memchr(text + pos, '\n', textSize - pos);
    const uint32_t end =
        nl != nullptr ? static_cast<uint32_t>(static_cast<const uint8_t*>(nl) - text) : textSize;
    l.at = pos;
    l.next = nl != nullptr ? end + 1 : textSize;
    l.end = end > pos && text[end - 1] == '\r' ? end - 1 : end;
    return l.end > pos;
}

char because[160]; // what is wrong with the line a fault names

// Says what is wrong with a line that does not decode.
void Explain(const Line& l) {
    const uint8_t* p = text + l.at;
    const uint32_t digits = l.end - l.at - 1;
    if (p[0] != ':') {
        std::snprintf(because, sizeof because, "it does not start with ':'");
        return;
    }
    for (uint32_t i = 1; i <= digits; ++i) {
        if (kNibble.v[p[i]] != kNoDigit) continue;
        std::snprintf(because, sizeof because, "character %u (0x%02X) is no hex digit", i + 1,
                      p[i]);
        return;
    }
    if (digits % 2 != 0 || digits < 10 || digits > 2 * kMaxBytes) {
        std::snprintf(because, sizeof because,
                      "%u hex digits; a record has an even number from 10 to 520", digits);
        return;
    }
    const uint32_t n = digits / 2;
    if (n != l.b[0] + 5u) {
        std::snprintf(because, sizeof because, "its count says %u data bytes, the line holds %u",
                      l.b[0], n - 5);
        return;
    }
    uint8_t sum = 0;
    for (uint32_t i = 0; i + 1 < n; ++i) sum = static_cast<uint8_t>(sum + l.b[i]);
    std::snprintf(because, sizeof because, "checksum %02X, expected %02X", l.b[n - 1],
                  static_cast<uint8_t>(0u - sum));
}

// Decodes the line's record: ':' and pairs of hex digits whose count byte fits their number
// and whose bytes sum to zero.
bool Decodes(Line& l) {
    const uint8_t* p = text + l.at;
    const uint32_t digits = l.end - l.at - 1;
    if (p[0] != ':' || digits % 2 != 0 || digits < 10 || digits > 2 * kMaxBytes) return false;
    const uint32_t n = digits / 2;
    uint8_t sum = 0;
    for (uint32_t i = 0; i < n; ++i) {
        const uint8_t hi = kNibble.v[p[1 + 2 * i]];
        const uint8_t lo = kNibble.v[p[2 + 2 * i]];
        if (hi == kNoDigit || lo == kNoDigit) return false;
        l.b[i] = static_cast<uint8_t>(hi << 4 | lo);
        sum = static_cast<uint8_t>(sum + l.b[i]);
    }
    return sum == 0 && n == l.b[0] + 5u;
}

// The same; on a fault, says what is wrong.
bool Decode(Line& l) {
    if (Decodes(l)) return true;
    Explain(l);
    return false;
}

// A run of data records, consecutive in the file and in their addresses: the whole
// bookkeeping of a HEX input, 12 bytes a run whatever the record order.
struct Run {
    uint32_t first;   // its first address
    uint32_t len;     // the bytes it covers
    uint32_t fileOff; // where its first record's line starts
    uint64_t End() const { return static_cast<uint64_t>(first) + len; }
};
static_assert(sizeof(Run) == 12, "a run takes 12 bytes");
std::deque<Run> runs; // in file order while the file is scanned, then by address
constexpr uint32_t kNoClash = 0xFFFFFFFFu;

bool ByAddress(const Run& a, const Run& b) {
    return a.first < b.first;
}

// True when two of the runs that start at file offsets up to last share an address (the runs
// are in address order).
bool Clash(uint32_t last) {
    uint64_t end = 0;
    bool any = false;
    for (const Run& r : runs) {
        if (r.fileOff > last) continue;
        if (any && r.first < end) return true;
        if (!any || r.End() > end) end = r.End();
        any = true;
    }
    return false;
}

uint32_t LineOf(uint32_t pos) {
    return 1 + static_cast<uint32_t>(std::count(text, text + pos, '\n'));
}

// The line of the run's data record that holds addr.
uint32_t LineHolding(const Run& r, uint64_t addr) {
    uint64_t a = r.first;
    Line l;
    for (uint32_t pos = r.fileOff; pos < textSize; pos = l.next) {
        if (!Split(pos, l)) continue;
        const uint8_t* p = text + l.at;
        const uint32_t n = static_cast<uint32_t>(kNibble.v[p[1]] << 4 | kNibble.v[p[2]]);
        if (p[7] != '0' || p[8] != '0' || n == 0) continue;
        if (a + n > addr) return LineOf(l.at);
        a += n;
    }
    return LineOf(r.fileOff);
}

// The line of the first data record in the file that gives an address an earlier line gave,
// or kNoClash; says which address and where it was given first. Sorts the runs by address.
uint32_t FirstClash() {
    std::sort(runs.begin(), runs.end(), ByAddress);
    if (!Clash(kNoClash)) return kNoClash;
    // The first run, in file order, that meets an earlier one.
    uint32_t lo = 0;
    uint32_t hi = textSize;
    while (lo < hi) {
        const uint32_t mid = lo + (hi - lo) / 2;
        if (Clash(mid)) {
            hi = mid;
        } else {
            lo = mid + 1;
        }
    }
    const Run* e = nullptr;
    for (const Run& r : runs) {
        if (r.fileOff == lo) e = &r;
    }
    // Its lowest address that an earlier run gave, the record that holds it and the first.
    uint64_t low = e->End();
    const Run* first = e;
    for (const Run& r : runs) {
        if (r.fileOff < lo && r.first < e->End() && r.End() > e->first &&
            std::max<uint64_t>(r.first, e->first) < low) {
            low = std::max<uint64_t>(r.first, e->first);
            first = &r;
        }
    }
    std::snprintf(because, sizeof because, "address 0x%08llX was given before, on line %u",
                  static_cast<unsigned long long>(low), LineHolding(*first, low));
    return LineHolding(*e, low);
}

[[noreturn]] void Invalid(uint32_t line) {
    // A record that gives an address twice may come before the fault found.
    char fault[sizeof because];
    std::memcpy(fault, because, sizeof fault);
    const uint32_t clash = FirstClash();
    if (clash < line) {
        line = clash;
    } else {
        std::memcpy(because, fault, sizeof fault);
    }
    Why(bom.inName, "invalid Intel HEX file: line %u: %s", line, because);
    char detail[kNameCap + 32];
    std::snprintf(detail, sizeof detail, "'%s' (line %u)", bom.inName, line);
    LoadClear(&xfi);
    Fatal(NFACT::HexFile, detail);
}

// A record whose type needs another count of data bytes.
[[noreturn]] void Length(uint32_t line, uint8_t type, uint32_t n, uint32_t want) {
    std::snprintf(because, sizeof because, "a type %02X record holds %u data bytes, not %u", type,
                  n, want);
    Invalid(line);
}

void Scan() {
    textSize = xfi.size;
    text = Span(0, textSize);
    runs.clear();
    Run* last = nullptr; // the run of the last data record
    uint64_t base = 0;
    bool ended = false;
    uint32_t line = 1;
    Line l;
    for (uint32_t pos = 0; pos < textSize; pos = l.next, ++line) {
        if (!Split(pos, l)) continue;
        if (ended) {
            std::snprintf(because, sizeof because, "a record after the end record");
            Invalid(line);
        }
        if (!Decode(l)) Invalid(line);
        const uint32_t n = l.b[0];
        const uint32_t addr = static_cast<uint32_t>(l.b[1]) << 8 | l.b[2];
        const uint32_t value = n >= 2 ? static_cast<uint32_t>(l.b[4]) << 8 | l.b[5] : 0;
        switch (l.b[3]) {
        case kHexData00: {
            if (n == 0) break;
            const uint64_t a = base + addr;
            if (addr + n > k64K || (a >> 16) != ((a + n - 1) >> 16)) {
                std::snprintf(because, sizeof because,
                              "its data at 0x%08llX run across a 64 KiB boundary",
                              static_cast<unsigned long long>(a));
                Invalid(line);
            }
            // The previous data record's run goes on where it ends (a reference into the
            // deque stays valid while it grows at its end).
            if (last != nullptr && last->End() == a) {
                last->len += n;
            } else {
                last = &runs.emplace_back(Run{static_cast<uint32_t>(a), n, l.at});
            }
            break;
        }
        case kHexEnd:
            if (n != 0) Length(line, l.b[3], n, 0);
            ended = true;
            break;
        case kHexSegment:
        case kHexUpper:
            if (n != 2) Length(line, l.b[3], n, 2);
            base = l.b[3] == kHexSegment ? static_cast<uint64_t>(value) << 4
                                         : static_cast<uint64_t>(value) << 16;
            break;
        case kHexStartSeg:
        case kHexStartLin:
            if (n != 4) Length(line, l.b[3], n, 4);
            break;
        default:
            std::snprintf(because, sizeof because, "record type %02X is none of 00 to 05", l.b[3]);
            Invalid(line);
        }
    }
    if (!ended) {
        std::snprintf(because, sizeof because, "no end record (:00000001FF) before the file ends");
        Invalid(line);
    }
    const uint32_t clash = FirstClash();
    if (clash != kNoClash) Invalid(clash);
}

// ---- Pieces -----------------------------------------------------------------------------

size_t runNext; // the first run of the next piece

// Calls fn(address, line) for each data record of the runs from first on whose addresses
// meet [from, to), in address order: the runs are walked record by record in the file.
template <class Fn> void Records(size_t first, uint64_t from, uint64_t to, Fn fn) {
    for (size_t i = first; i < runs.size() && runs[i].first < to; ++i) {
        uint64_t a = runs[i].first;
        const uint64_t end = runs[i].End();
        Line l;
        for (uint32_t pos = runs[i].fileOff; a < end && a < to; pos = l.next) {
            if (!Split(pos, l)) continue;
            const uint8_t* p = text + l.at;
            const uint32_t n = static_cast<uint32_t>(kNibble.v[p[1]] << 4 | kNibble.v[p[2]]);
            const bool data = p[7] == '0' && p[8] == '0';
            if (!data || n == 0) continue;
            if (a + n > from) {
                Decode(l);
                fn(a, l);
            }
            a += n;
        }
    }
}

// The run that holds addr, or the first behind it.
size_t RunAt(uint32_t addr) {
    const Run key{addr, 0, 0};
    size_t i = static_cast<size_t>(std::upper_bound(runs.begin(), runs.end(), key, ByAddress) -
                                   runs.begin());
    if (i > 0 && runs[i - 1].End() > addr) --i;
    return i;
}

bool HexNext(Piece& p) {
    if (runNext >= runs.size()) return false;
    p = Piece{runs[runNext].first, 0, 0, 0};
    uint64_t end = runs[runNext].End();
    for (++runNext; runNext < runs.size() && runs[runNext].first == end; ++runNext) {
        end = runs[runNext].End();
    }
    p.len = static_cast<uint32_t>(end - p.addr);
    return true;
}

void HexRead(const Piece&, uint32_t addr, uint8_t* dst, uint32_t len) {
    const uint64_t to = static_cast<uint64_t>(addr) + len;
    Records(RunAt(addr), addr, to, [&](uint64_t a, const Line& l) {
        for (uint32_t i = 0; i < l.b[0]; ++i) {
            if (a + i >= addr && a + i < to) dst[a + i - addr] = l.b[4 + i];
        }
    });
}

// Rewrites the digits of the bytes that change and the record's checksum, in upper case
// unless the line holds a lower-case hex letter.
void HexStore(const Piece&, uint32_t addr, const uint8_t* src, uint32_t len) {
    const uint64_t to = static_cast<uint64_t>(addr) + len;
    uint8_t* view = xfi.view;
    Records(RunAt(addr), addr, to, [&](uint64_t a, const Line& l) {
        bool lower = false;
        for (uint32_t i = l.at; i < l.end; ++i) lower |= text[i] >= 'a' && text[i] <= 'f';
        const char* digits = lower ? kLowerDigits : kUpperDigits;
        const uint32_t n = l.b[0];
        uint8_t sum = 0;
        for (uint32_t i = 0; i < 4 + n; ++i) {
            uint8_t b = l.b[i];
            const uint64_t at = a + i - 4;
            if (i >= 4 && at >= addr && at < to && src[at - addr] != b) {
                b = src[at - addr];
                view[l.at + 1 + 2 * i] = static_cast<uint8_t>(digits[b >> 4]);
                view[l.at + 2 + 2 * i] = static_cast<uint8_t>(digits[b & 15]);
            }
            sum = static_cast<uint8_t>(sum + b);
        }
        const uint8_t check = static_cast<uint8_t>(0u - sum);
        if (check != l.b[4 + n]) {
            view[l.at + 1 + 2 * (4 + n)] = static_cast<uint8_t>(digits[check >> 4]);
            view[l.at + 2 + 2 * (4 + n)] = static_cast<uint8_t>(digits[check & 15]);
        }
    });
}

void HexEmit(const Piece& p, ImageSink sink) {
    static uint8_t buf[65536];
    uint32_t fill = 0;
    const uint64_t to = static_cast<uint64_t>(p.addr) + p.len;
    Records(RunAt(p.addr), p.addr, to, [&](uint64_t, const Line& l) {
        const uint32_t n = l.b[0];
        if (fill + n > sizeof buf) {
            sink(buf, fill, -1);
            fill = 0;
        }
        std::memcpy(buf + fill, l.b + 4, n);
        fill += n;
    });
    sink(buf, fill, -1);
}

void HexRewind() {
    runNext = 0;
}

bool HexHas(const Piece& p, uint32_t addr, uint32_t len) {
    return InsidePiece(p, addr, static_cast<uint64_t>(addr) + len);
}

constexpr Firmware kHexFirmware{HexNext, HexRewind, InsidePiece, HexHas,
                                HexRead, HexStore,  HexEmit};

} // namespace

uint32_t HexRecord(char* out, uint8_t type, uint16_t addr, const uint8_t* data, uint32_t n) {
    char* w = out;
    *w++ = ':';
    uint8_t sum = static_cast<uint8_t>(n + (addr >> 8) + (addr & 0xFF) + type);
    w = PutByte(w, static_cast<uint8_t>(n));
    w = PutByte(w, static_cast<uint8_t>(addr >> 8));
    w = PutByte(w, static_cast<uint8_t>(addr));
    w = PutByte(w, type);
    for (uint32_t i = 0; i < n; ++i) {
        w = PutByte(w, data[i]);
        sum = static_cast<uint8_t>(sum + data[i]);
    }
    w = PutByte(w, static_cast<uint8_t>(0u - sum));
    *w++ = '\r';
    *w++ = '\n';
    return static_cast<uint32_t>(w - out);
}

const Firmware& HexInput() {
    Scan();
    return kHexFirmware;
}

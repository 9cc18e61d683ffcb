// The tool after its command line, on arbitrary file bytes: with and without an image, a base
// address and VERIFY, with and without an image file present before the run.
// Input: one option byte, four bytes of base address, then the file. Option bits:
//   1 BINARY, 2 BASEADDRESS, 4 a stale image (the file's first bytes) before the run,
//   8 VERIFY, 16 the image a signing run writes is there before the run, 32 the HEX image too,
//   64 the input is named app.bin (a file that is no ELF file is then a raw image),
//   128 the S-record image too.
// An input whose first character other than blanks and line ends is ':' is read as Intel HEX,
// one where it is 'S' and a digit as S-records, unless it is named app.bin.
#include <algorithm>
#include <cstring>
#include <string>

#include "Alloc.h"
#include "Harness.h"
#include "Vortle.h"

namespace {

using Bytes = std::vector<uint8_t>;

struct Seg {
    uint32_t type, off, paddr, filesz;
};

uint32_t Get(const Bytes& b, size_t at, int width, bool big) {
    const uint8_t* p = b.data() + at;
    uint32_t v = 0;
    for (int i = 0; i < width; ++i) {
        const uint32_t byte = p[i];
        v |= big ? byte << (8 * (width - 1 - i)) : byte << (8 * i);
    }
    return v;
}

// The file as the tool should see it, read independently of the tool.
struct Model {
    bool big = false;
    bool none = false; // no program header table
    std::vector<Seg> segs;
    uint64_t ehsize = 52, phoff = 0, phsize = 0, shoff = 0, shsize = 0;
    std::vector<uint64_t> tableStarts; // offsets where an allocated section of 32+ bytes begins
    std::vector<uint64_t> dataStarts;  // offsets where an allocated section with bytes begins

    // As new, keeping the vectors' memory.
    void Clear() {
        big = none = false;
        ehsize = 52;
        phoff = phsize = shoff = shsize = 0;
        segs.clear();
        tableStarts.clear();
        dataStarts.clear();
    }
};

// False when the program header table is not inside the file (the tool then never succeeds).
bool Parse(const Bytes& b, Model& m) {
    if (b.size() < 52) return false;
    m.big = b[5] == 2;
    const uint32_t phoff = Get(b, 28, 4, m.big);
    const uint32_t phnum = Get(b, 44, 2, m.big);
    const uint32_t shoff = Get(b, 32, 4, m.big);
    const uint32_t shnum = Get(b, 48, 2, m.big);
    m.ehsize = Get(b, 40, 2, m.big) > 52 ? Get(b, 40, 2, m.big) : 52;
    m.phoff = phoff;
    m.phsize = 32ull * phnum;
    m.shoff = shoff;
    m.shsize = 40ull * shnum;
    if (shoff + m.shsize <= b.size()) {
        for (uint32_t i = 0; i < shnum; ++i) {
            const size_t e = shoff + 40ull * i;
            const uint32_t bytes = Get(b, e + 20, 4, m.big);
            if ((Get(b, e + 8, 4, m.big) & 2) != 0 && Get(b, e + 4, 4, m.big) != 8 && bytes != 0) {
                m.dataStarts.push_back(Get(b, e + 16, 4, m.big));
                if (bytes >= 32) m.tableStarts.push_back(Get(b, e + 16, 4, m.big));
            }
        }
    }
    if (phoff == 0) {
        m.none = true;
        return true;
    }
    if (phoff + m.phsize > b.size()) return false;
    for (uint32_t i = 0; i < phnum; ++i) {
        const size_t e = phoff + 32ull * i;
        Seg s{Get(b, e, 4, m.big), Get(b, e + 4, 4, m.big), Get(b, e + 12, 4, m.big),
              Get(b, e + 16, 4, m.big)};
        const uint32_t vaddr = Get(b, e + 8, 4, m.big);
        const uint32_t memsz = Get(b, e + 20, 4, m.big);
        const uint32_t flags = Get(b, e + 24, 4, m.big);
        if (s.off == 0 && s.paddr == vaddr && s.filesz < memsz && (flags & 7) == 6) {
            s.paddr += s.filesz;
            s.filesz = 0;
        }
        m.segs.push_back(s);
    }
    return true;
}

bool Overlap(uint64_t off, uint64_t at, uint64_t size, uint64_t len = 32) {
    return size != 0 && off < at + size && at < off + len;
}

// The segment's first bytes that stay out of the image: ELF headers at its start and the
// padding up to its first allocated section.
uint64_t Skip(const Model& m, const Seg& s) {
    if (s.filesz == 0 || !(Overlap(s.off, 0, m.ehsize, 1) || Overlap(s.off, m.phoff, m.phsize, 1) ||
                           Overlap(s.off, m.shoff, m.shsize, 1))) {
        return 0;
    }
    uint64_t first = static_cast<uint64_t>(s.off) + s.filesz;
    for (uint64_t t : m.dataStarts) {
        if (t >= s.off && t < first) first = t;
    }
    return first - s.off;
}

// File offset of the 32-byte table at start when the segment holds it, else -1: the segment
// starts at start, or an allocated section starts there inside it; never on header bytes.
int64_t TableAt(const Model& m, const Seg& s, uint32_t start) {
    if (s.type != 1 || s.paddr > start) return -1;
    const uint64_t into = start - s.paddr;
    if (into + 32 > s.filesz) return -1;
    const uint64_t at = s.off + into;
    if (into != 0) {
        bool section = false;
        for (uint64_t t : m.tableStarts) section |= t == at;
        if (!section) return -1;
    }
    if (Overlap(at, 0, m.ehsize) || Overlap(at, m.phoff, m.phsize) ||
        Overlap(at, m.shoff, m.shsize)) {
        return -1;
    }
    return static_cast<int64_t>(at);
}

// The image's length: each segment with file bytes at its load-address distance from the
// ones before, a segment below the running address directly behind them.
uint64_t ImageSize(const Model& m) {
    uint64_t addr = 0, size = 0;
    bool started = false;
    for (const Seg& s : m.segs) {
        const uint64_t skip = Skip(m, s);
        const uint64_t at = s.paddr + skip;
        if (s.type != 1 || s.filesz == skip) continue;
        if (started && at > addr) {
            size += at - addr;
            addr = at;
        }
        if (!started) addr = at;
        started = true;
        size += s.filesz - skip;
        addr += s.filesz - skip;
    }
    return size;
}

// The signing walk, simulated: each holding segment is signed, then written to the image, in
// table order (segments that overlap in the file see the signatures written before them).
// False when a segment that the walk reads lies outside the file: the tool then aborts.
// flat, when given, receives the image bytes without the gaps: what a HEX image holds, in order.
bool Simulate(const Model& m, uint32_t start, bool binary, Bytes* flat, Bytes& sim, Bytes& image) {
    uint64_t addr = 0;
    bool started = false;
    for (const Seg& s : m.segs) {
        if (s.type != 1) continue;
        const int64_t at = TableAt(m, s, start);
        if ((at >= 0 || ((binary || flat != nullptr) && s.filesz != 0)) &&
            static_cast<uint64_t>(s.off) + s.filesz > sim.size()) {
            return false;
        }
        if (at >= 0) {
            const size_t t = static_cast<size_t>(at);
            const uint32_t first = Get(sim, t, 4, m.big);
            const bool arm =
                (first & 0xFF000000u) == 0xEA000000u || (first & 0xFFFFF000u) == 0xE59FF000u;
            const size_t unit = arm ? 0x14 : 0x1C;
            uint32_t sum = 0;
            for (size_t w = 0; w < (arm ? 8u : 7u); ++w)
                if (4 * w != unit) sum += Get(sim, t + 4 * w, 4, false);
            const uint32_t sig = 0u - sum;
            for (uint32_t k = 0; k < 4; ++k)
                sim[t + unit + k] = static_cast<uint8_t>(sig >> (8 * k));
        }
        const uint64_t skip = Skip(m, s);
        const uint64_t load = s.paddr + skip;
        if (flat != nullptr) {
            flat->insert(flat->end(), sim.begin() + static_cast<long>(s.off + skip),
                         sim.begin() + static_cast<long>(s.off + s.filesz));
        }
        if (binary && s.filesz != skip) {
            if (started && load > addr) {
                image.resize(image.size() + (load - addr), 0);
                addr = load;
            }
            if (!started) addr = load;
            started = true;
            addr += s.filesz - skip;
            image.insert(image.end(), sim.begin() + static_cast<long>(s.off + skip),
                         sim.begin() + static_cast<long>(s.off + s.filesz));
        }
    }
    return true;
}

uint8_t Nibble(uint8_t c) {
    return c <= '9' ? c - '0' : c - 'A' + 10;
}

// The byte of the two digits at at.
uint32_t Nibbles(const Bytes& text, size_t at) {
    return static_cast<uint32_t>(Nibble(text[at]) << 4 | Nibble(text[at + 1]));
}

// The data bytes of a HEX image in record order; every record checked on the way: upper-case
// digits, CR LF, its checksum, at most 16 bytes, none across 64 KiB, the end record last.
const Bytes& HexData(const Bytes& text) {
    static Bytes out;
    out.clear();
    for (size_t at = 0; at < text.size();) {
        HARNESS_CHECK(text[at] == ':' && at + 13 <= text.size());
        uint8_t b[260];
        const size_t n = (Nibble(text[at + 1]) << 4 | Nibble(text[at + 2])) + 5u;
        HARNESS_CHECK(at + 1 + 2 * n + 2 <= text.size());
        uint8_t sum = 0;
        for (size_t i = 0; i < n; ++i) {
            for (size_t k = 1; k <= 2; ++k) {
                const uint8_t c = text[at + 2 * i + k];
                HARNESS_CHECK((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'));
            }
            b[i] = static_cast<uint8_t>(Nibble(text[at + 1 + 2 * i]) << 4 |
                                        Nibble(text[at + 2 + 2 * i]));
            sum = static_cast<uint8_t>(sum + b[i]);
        }
        HARNESS_CHECK(sum == 0 && text[at + 1 + 2 * n] == '\r' && text[at + 2 + 2 * n] == '\n');
        const uint32_t addr = static_cast<uint32_t>(b[1]) << 8 | b[2];
        if (b[3] == 4) {
            HARNESS_CHECK(b[0] == 2);
        } else if (b[3] == 0) {
            HARNESS_CHECK(b[0] <= 16 && addr + b[0] <= 0x10000u);
            out.insert(out.end(), b + 4, b + 4 + b[0]);
        } else {
            HARNESS_CHECK(b[3] == 1 && at + 13 == text.size());
        }
        at += 1 + 2 * n + 2;
    }
    return out;
}

// The data bytes of an S-record image in file order; every record checked.
const Bytes& SrecData(const Bytes& text) {
    static Bytes data;
    data.clear();
    for (size_t at = 0; at < text.size();) {
        HARNESS_CHECK(text[at] == 'S' && at + 10 <= text.size());
        const int type = text[at + 1] - '0';
        const uint32_t count = Nibbles(text, at + 2);
        HARNESS_CHECK(at + 4 + 2 * count + 2 <= text.size());
        uint8_t sum = 0;
        for (uint32_t i = 0; i <= count; ++i)
            sum = static_cast<uint8_t>(sum + Nibbles(text, at + 2 + 2 * i));
        HARNESS_CHECK(sum == 0xFF);
        const uint32_t address = type == 0 || type == 1 || type == 9 ? 2
                                 : type == 2 || type == 8            ? 3
                                                                     : 4;
        if (type >= 1 && type <= 3) {
            for (uint32_t i = address + 1; i < count; ++i)
                data.push_back(static_cast<uint8_t>(Nibbles(text, at + 2 + 2 * i)));
        }
        at += 4 + 2 * count + 2;
    }
    return data;
}

// What the command line asks: the images and VERIFY.
struct Ask {
    bool binary, hex, verify, srec;
};

// Names that stay valid across runs.
char inName[kNameCap];
char binName[kNameCap];
char hexName[kNameCap];
char srecName[kNameCap];
Request request;

// The request as the options give them.
void Setup(const std::string& in, const std::string& image, const std::string& hex, Ask ask,
           bool ba, uint32_t base) {
    HarnessReset();
    std::snprintf(inName, sizeof inName, "%s", in.c_str());
    std::snprintf(binName, sizeof binName, "%s", image.c_str());
    std::snprintf(hexName, sizeof hexName, "%s", hex.c_str());
    std::snprintf(srecName, sizeof srecName, "%s.SREC", in.substr(0, in.size() - 4).c_str());
    request = Request{};
    request.inputName = inName;
    request.binaryName = binName;
    request.hexName = hexName;
    request.writeBinary = ask.binary;
    request.writeHex = ask.hex;
    request.srecName = srecName;
    request.writeSrec = ask.srec;
    request.checkOnly = request.keepImages = ask.verify;
    if (ba) request.range = SignatureRange::VectorTableAt(base);
}

int Run() {
    const int code = VortleRun(request);
    FreeAll();
    return code;
}

bool HexDigit(uint8_t c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}

uint32_t HexValue(uint8_t c) {
    return c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10;
}

// True when the first character other than blanks and line ends is ':', or 'S' and a digit.
bool TextStart(const uint8_t* data, size_t size) {
    size_t i = 0;
    while (i < size && (data[i] == ' ' || data[i] == '\t' || data[i] == '\r' || data[i] == '\n')) {
        ++i;
    }
    if (i < size && data[i] == ':') return true;
    return i + 1 < size && (data[i] == 'S' || data[i] == 's') && data[i + 1] >= '0' &&
           data[i + 1] <= '9';
}

// The lowest and the highest data address a text input's records give, read loosely (a file
// the tool takes is well formed); true when they lie within 64 KiB of each other, so that its
// binary image stays small enough to be read back.
bool TextSpanSmall(const uint8_t* data, size_t size) {
    const auto byte = [&](size_t at) -> uint32_t {
        return at + 1 < size && HexDigit(data[at]) && HexDigit(data[at + 1])
                   ? static_cast<uint32_t>(HexValue(data[at]) << 4 | HexValue(data[at + 1]))
                   : 0;
    };
    uint64_t low = UINT64_MAX, high = 0, base = 0;
    for (size_t at = 0; at < size; ++at) {
        if (at > 0 && data[at - 1] != '\n') continue;
        uint64_t addr = 0;
        if (data[at] == ':') {
            const uint32_t type = byte(at + 7);
            const uint64_t value = byte(at + 9) << 8 | byte(at + 11);
            if (type == 2) base = value << 4;
            if (type == 4) base = value << 16;
            if (type != 0) continue;
            addr = base + (byte(at + 3) << 8 | byte(at + 5));
        } else if ((data[at] == 'S' || data[at] == 's') && at + 1 < size && data[at + 1] >= '1' &&
                   data[at + 1] <= '3') {
            for (int i = 0; i <= data[at + 1] - '0'; ++i) addr = addr << 8 | byte(at + 4 + 2 * i);
        } else {
            continue;
        }
        low = std::min(low, addr);
        high = std::max(high, addr + 255);
    }
    return low == UINT64_MAX || high - low <= (64u << 10);
}

// A HEX or raw input: only hex digits (of a HEX file) or the signature word (of a raw image)
// change, a failing run changes nothing, and what a run signed, a check-only run of the same
// command line finds right, images included.
int OtherInput(const std::string& in, const std::string& image, const std::string& hex,
               const uint8_t* data, size_t size, Ask ask, bool ba, uint32_t base) {
    const bool text = TextStart(data, size) && !in.ends_with(".bin"); // a .bin is raw
    ask.binary = ask.binary && (!text || TextSpanSmall(data, size));
    HarnessPutInput(in, data, size);
    HarnessRemoveFile(image);
    HarnessRemoveFile(hex);
    HarnessRemoveFile(srecName);
    Setup(in, image, hex, ask, ba, base);
    const int code = Run();
    const bool verify = ask.verify;
    HARNESS_CHECK(code == 0 || code == 3 || (verify && code == 1));
    static std::vector<uint8_t> after, img;
    after = HarnessGetInput(size);
    HARNESS_CHECK(after.size() == size);
    size_t changed = 0;
    for (size_t i = 0; i < size; ++i) {
        if (after[i] == data[i]) continue;
        ++changed;
        HARNESS_CHECK(text ? HexDigit(after[i]) && HexDigit(data[i])
                           : i >= (ba ? base : 0) && i < (ba ? base : 0) + 0x20u);
    }
    HARNESS_CHECK(changed <= 12);
    if (verify || code != 0) {
        HARNESS_CHECK(changed == 0);
        return 0;
    }
    const bool hasBin = HarnessGetFile(image, img);
    HARNESS_CHECK(hasBin == ask.binary);
    HARNESS_CHECK(HarnessGetFile(srecName, img) == ask.srec);
    HARNESS_CHECK(!ask.srec || (img.size() >= 4 && img[0] == 'S' && img[1] == '0'));
    Setup(in, image, hex, Ask{ask.binary, ask.hex, true, ask.srec}, ba, base);
    HARNESS_CHECK(Run() == 0);
    HARNESS_CHECK(HarnessGetInput(size) == after);
    return 0;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 5) return 0;
    const std::string& dir = HarnessInit();
    const uint8_t opt = data[0];
    uint32_t base = 0;
    std::memcpy(&base, data + 1, 4);
    base %= 0xFF000001u;
    data += 5;
    size -= 5;
    const bool ba = (opt & 2) != 0;
    const bool verify = (opt & 8) != 0;
    const uint32_t start = ba ? base : 0;
    // The buffers keep their memory from run to run.
    static Bytes before, sim, expected, old, now;
    static Model m;
    before.assign(data, data + size);
    m.Clear();
    const bool parsed = Parse(before, m);
    // Images are read back whole: a gap of gigabytes stays out of the harness.
    const bool binary = (opt & 1) != 0 && ImageSize(m) <= (64u << 10);
    sim = before;
    expected.clear();
    // The HEX image is decoded and compared where its bytes stay small.
    uint64_t flatSize = 0;
    for (const Seg& s : m.segs) flatSize += s.type == 1 ? s.filesz - Skip(m, s) : 0;
    const bool hexCheck = (opt & 32) != 0 && flatSize <= (1u << 20);
    static Bytes flat;
    flat.clear();
    const bool walks =
        parsed && Simulate(m, start, binary, hexCheck ? &flat : nullptr, sim, expected);

    static const std::string elfIn = dir + "/app.elf";
    static const std::string binIn = dir + "/app.bin";
    static const std::string image = dir + "/app.BIN";
    static const std::string hex = dir + "/app.HEX";
    const std::string& in = (opt & 64) != 0 ? binIn : elfIn;
    const bool hexImage = (opt & 32) != 0;
    const bool elf = size >= 4 && std::memcmp(data,
                                              "\x7F"
                                              "ELF",
                                              4) == 0;
    const bool srecImage = (opt & 128) != 0;
    if (size > 0 && !elf && (TextStart(data, size) || (opt & 64) != 0)) {
        return OtherInput(in, image, hex, data, size,
                          Ask{(opt & 1) != 0, hexImage, verify, srecImage}, ba, base);
    }
    HarnessRemoveFile(hex);
    HarnessPutInput(in, data, size);
    HarnessRemoveFile(image);
    bool hadImage = true; // the image file before the run: old
    if ((opt & 16) != 0 && walks) {
        old = expected;
    } else if ((opt & 4) != 0) {
        old.assign(data, data + (size > 16 ? 16 : size));
    } else {
        hadImage = false;
    }
    if (hadImage) HarnessPutFile(image, old.data(), old.size());

    // The pools go back at the end of the run: a run that ends with what it took looks
    // leak-free to the fuzzer.
    Setup(in, image, hex, Ask{binary, hexImage, verify, srecImage && hexImage}, ba, base);
    HarnessRemoveFile(srecName);
    const int code = Run();
    HARNESS_CHECK(code == 0 || code == 2 || code == 3 || (verify && code == 1));
    HARNESS_CHECK(code != 0 || parsed);
    HARNESS_CHECK(code == 2 || code == 3 || walks);
    static Bytes hexNow;
    const bool hexExists = HarnessGetFile(hex, hexNow);
    if (verify || code != 0 || !hexImage || m.none) {
        HARNESS_CHECK(!hexExists);
    } else if (hexExists) {
        // The HEX image ends with its end record, and its data records hold the image's bytes.
        HARNESS_CHECK(hexNow.size() >= 13 &&
                      std::memcmp(hexNow.data() + hexNow.size() - 13, ":00000001FF\r\n", 13) == 0);
        if (hexCheck) HARNESS_CHECK(HexData(hexNow) == flat);
    }
    // The S-record image, asked with the HEX image, holds the same bytes.
    static Bytes srecNow;
    if (HarnessGetFile(srecName, srecNow)) {
        HARNESS_CHECK(hexExists && srecImage);
        if (hexCheck) HARNESS_CHECK(SrecData(srecNow) == flat);
    } else {
        HARNESS_CHECK(!hexExists || !srecImage);
    }
    const Bytes& after = HarnessGetInput(size);
    HARNESS_CHECK(after.size() == before.size());
    const bool exists = HarnessGetFile(image, now);

    if (verify) {
        // Nothing changes; 0 only when signing would change nothing and the image is the one
        // signing writes (when there is a segment to write), 1 when either is not so.
        HARNESS_CHECK(after == before);
        HARNESS_CHECK(exists == hadImage && (!exists || now == old));
        bool anyLoad = false;
        for (const Seg& s : m.segs) anyLoad |= s.type == 1;
        // The HEX image is never there before a run: a check that looks for it finds it missing.
        const bool imageRight = (!binary || m.none || !anyLoad || (exists && now == expected)) &&
                                (!hexImage || m.none || !anyLoad);
        if (code == 0) HARNESS_CHECK(sim == before && imageRight);
        if (code == 1) HARNESS_CHECK(sim != before || !imageRight);
        return 0;
    }

    // Only the signature word of a table that a segment holds may change: 0x1C, or 0x14 in an
    // ARM-state table.
    bool changed = false;
    for (size_t i = 0; i < before.size(); ++i) {
        if (before[i] == after[i]) continue;
        changed = true;
        bool inUnit = false;
        for (const Seg& s : m.segs) {
            const int64_t at = TableAt(m, s, start);
            if (at < 0) continue;
            for (uint64_t unit : {at + 0x1C, at + 0x14}) inUnit |= i >= unit && i < unit + 4;
        }
        HARNESS_CHECK(inUnit);
    }
    if (code == 0 && HarnessOutput().find("*** Updated ") != std::string::npos) {
        HARNESS_CHECK(changed);
    }
    if (code != 0) {
        HARNESS_CHECK(!exists);
        return 0;
    }
    HARNESS_CHECK(after == sim);
    if (!binary || m.none) {
        HARNESS_CHECK(!exists);
        return 0;
    }
    HARNESS_CHECK(now == expected);
    return 0;
}

// The whole tool on arbitrary file bytes, with and without an image and a base address.
// Input: one option byte, four bytes of base address, then the file.
#include <cstring>
#include <string>

#include "Harness.h"
#include "Vortle.h"
#include "Xelf.h"

namespace {

struct Seg {
    uint32_t type, off, paddr, filesz;
};

uint32_t Get(const std::vector<uint8_t>& b, size_t at, int width, bool big) {
    uint32_t v = 0;
    for (int i = 0; i < width; ++i) {
        const uint32_t byte = b[at + static_cast<size_t>(i)];
        v |= big ? byte << (8 * (width - 1 - i)) : byte << (8 * i);
    }
    return v;
}

// The program headers as the tool takes them, read independently; false when the table is
// not inside the file (the tool then never succeeds).
bool Segments(const std::vector<uint8_t>& b, std::vector<Seg>& segs, bool& none) {
    none = false;
    if (b.size() < 52) return false;
    const bool big = b[5] == 2;
    const uint32_t phoff = Get(b, 28, 4, big);
    const uint32_t phnum = Get(b, 44, 2, big);
    if (phoff == 0) {
        none = true;
        return true;
    }
    if (static_cast<uint64_t>(phoff) + 32ull * phnum > b.size()) return false;
    for (uint32_t i = 0; i < phnum; ++i) {
        const size_t e = phoff + 32ull * i;
        Seg s{Get(b, e, 4, big), Get(b, e + 4, 4, big), Get(b, e + 12, 4, big),
              Get(b, e + 16, 4, big)};
        const uint32_t vaddr = Get(b, e + 8, 4, big);
        const uint32_t memsz = Get(b, e + 20, 4, big);
        const uint32_t flags = Get(b, e + 24, 4, big);
        if (s.off == 0 && s.paddr == vaddr && s.filesz < memsz && (flags & 7) == 6) {
            s.paddr += s.filesz;
            s.filesz = 0;
        }
        segs.push_back(s);
    }
    return true;
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
    const bool binary = (opt & 1) != 0;
    const bool ba = (opt & 2) != 0;
    const uint32_t start = ba ? base : 0;

    const std::string in = dir + "/app.elf";
    const std::string image = dir + "/app.BIN";
    HarnessWrite(in, data, size);
    std::remove(image.c_str());
    if ((opt & 4) != 0) HarnessWrite(image, data, size > 16 ? 16 : size); // a stale image

    char baArg[32];
    std::snprintf(baArg, sizeof baArg, "BA(0x%X)", base);
    std::vector<std::string> args{"vortle", in};
    if (binary) args.emplace_back("BINARY");
    if (ba) args.emplace_back(baArg);
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);

    HarnessReset();
    int code;
    try {
        code = VortleMain(static_cast<int>(args.size()), argv.data());
    } catch (const FatalExit& f) {
        code = f.code;
    }
    HARNESS_CHECK(code == 0 || code == 2 || code == 3);

    const std::vector<uint8_t> before(data, data + size);
    const std::vector<uint8_t> after = HarnessRead(in);
    HARNESS_CHECK(after.size() == before.size());
    std::vector<Seg> segs;
    bool none = false;
    const bool parsed = Segments(before, segs, none);
    HARNESS_CHECK(code != 0 || parsed);

    // Only signature words of segments based at the range's start may change.
    bool changed = false;
    for (size_t i = 0; i < before.size(); ++i) {
        if (before[i] == after[i]) continue;
        changed = true;
        bool inUnit = false;
        for (const Seg& s : segs) {
            const uint64_t unit = static_cast<uint64_t>(s.off) + 28;
            inUnit |= s.type == 1 && s.paddr == start && i >= unit && i < unit + 4;
        }
        HARNESS_CHECK(inUnit);
    }
    if (code == 0 && std::strncmp(szStat, "Updated ", 8) == 0) HARNESS_CHECK(changed);

    if (code != 0) {
        HARNESS_CHECK(!HarnessExists(image));
        return 0;
    }
    // The walk, simulated: each holding segment is signed, then written to the image, in table
    // order (segments that overlap in the file see the signatures written before them).
    std::vector<uint8_t> sim = before;
    std::vector<uint8_t> expected;
    for (const Seg& s : segs) {
        if (s.type != 1) continue;
        const bool holds = s.paddr == start && s.filesz >= 32;
        if (holds || binary) HARNESS_CHECK(static_cast<uint64_t>(s.off) + s.filesz <= sim.size());
        if (holds) {
            uint32_t sum = 0;
            for (uint32_t w = 0; w < 7; ++w) sum += Get(sim, s.off + 4 * w, 4, false);
            const uint32_t sig = 0u - sum;
            for (uint32_t k = 0; k < 4; ++k)
                sim[s.off + 28 + k] = static_cast<uint8_t>(sig >> (8 * k));
        }
        if (binary)
            expected.insert(expected.end(), sim.begin() + s.off, sim.begin() + s.off + s.filesz);
    }
    HARNESS_CHECK(after == sim);
    if (!binary || none) {
        HARNESS_CHECK(!HarnessExists(image));
        return 0;
    }
    HARNESS_CHECK(HarnessRead(image) == expected);
    return 0;
}

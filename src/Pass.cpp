#include "Pass.h"

#include <algorithm>
#include <cstdio>
#include <memory>

#include "Bom.h"
#include "Crp.h"
#include "Diag.h"
#include "ElfTables.h"
#include "Fatal.h"
#include "Inputs.h"
#include "Mapped.h"
#include "Range.h"

char szStat[kStatCap];
Verdict verdict;
Verdict imageVerdict[kImages];
char szWrong[kStatCap];

namespace {

constexpr const char* kStatUpdated = "Updated ";
constexpr const char* kStat32 = "Signature over Range[32] (0x%08X - 0x%08X): @0x%08X = 0x%08X";
constexpr const char* kStatWrong = "Wrong ";
constexpr const char* kExpected = ", expected 0x%08X";
constexpr const char* kNotFound = "Range not found: 0x%08X - 0x%08X";
constexpr const char* kCrp3Refused =
    "Code Read Protection CRP3 at 0x%08X locks the part for good (give CRP3 to accept)";
constexpr uint32_t kArmLast = 0x1C; // ARM-state table: offset of the last word summed
constexpr uint32_t kArmSig = 0x14;  // and of its reserved signature word
constexpr uint32_t kWindow = 64;    // the most bytes a range and its signature word span

// Where one piece's signature goes: the first and last word summed and the signature word.
struct Layout {
    uint32_t start;
    uint32_t end;
    uint32_t position;
};

// True for an ARM-state exception table: a branch or a PC load as its first word.
bool ArmTable(const uint8_t* first) {
    const uint32_t word = MakeW32(Load32(first));
    return (word & 0xFF000000u) == 0xEA000000u || (word & 0xFFFFF000u) == 0xE59FF000u;
}

// An ARM-state table keeps its checksum in the reserved word 0x14 and sums all eight words;
// any other table takes the configured range.
Layout LayoutOf(const uint8_t* first) {
    if (ArmTable(first)) return {signa.start, signa.start + kArmLast, signa.start + kArmSig};
    return {signa.start, signa.end, signa.position};
}

// True when the piece holds the range and its signature word.
bool Signs(const Firmware& in, const Piece& p) {
    const uint32_t lo = WindowLo();
    const uint64_t hi = WindowHi();
    return hi - lo <= kWindow && in.Holds(p, lo, hi);
}

// Sums the range in the piece and stores the signature when it differs.
void Patch(Firmware& in, const Piece& p) {
    const uint32_t lo = WindowLo();
    uint8_t win[kWindow];
    in.Read(p, lo, win, static_cast<uint32_t>(WindowHi() - lo));
    const Layout r = LayoutOf(win + (signa.start - lo));
    uint32_t sum = 0;
    for (uint64_t a = r.start; a <= r.end; a += kUnit) {
        if (a != r.position) sum += Load32(win + (a - lo));
    }
    const uint32_t sig = 0u - sum;
    uint8_t* at = win + (r.position - lo);
    const uint32_t stored = Load32(at);
    int n = 0;
    szStat[0] = '\0';
    if (stored != sig && Checking()) {
        verdict = Verdict::WrongSignature;
        const int m = std::snprintf(szWrong, sizeof szWrong, "%s", kStatWrong);
        const int k = std::snprintf(szWrong + m, sizeof szWrong - static_cast<size_t>(m), kStat32,
                                    r.start, r.end, r.position, stored);
        std::snprintf(szWrong + m + k, sizeof szWrong - static_cast<size_t>(m + k), kExpected, sig);
    } else if (stored != sig) {
        Store32(at, sig);
        in.Store(p, r.position, at, kUnit);
        n = std::snprintf(szStat, sizeof szStat, "%s", kStatUpdated);
    }
    std::snprintf(szStat + n, sizeof szStat - static_cast<size_t>(n), kStat32, r.start, r.end,
                  r.position, sig);
}

// Where the firmware lies and what to try, for a range that no piece holds.
void NotFoundWhy(bool raw, uint64_t low, uint64_t high) {
    const uint32_t last = RangeLast();
    if (low >= high) {
        Why(bom.inName, "no loadable bytes to sign");
    } else if (raw) {
        Why(bom.inName,
            "0x%08X - 0x%08X lies outside the raw image, which is loaded at 0x00000000 - "
            "0x%08llX: sign a raw image without BASEADDRESS",
            signa.start, last, static_cast<unsigned long long>(high - 1));
    } else if (low != signa.start) {
        Why(bom.inName,
            "no loadable bytes hold 0x%08X - 0x%08X; the firmware lies at 0x%08llX - 0x%08llX: "
            "try BASEADDRESS(0x%llX)",
            signa.start, last, static_cast<unsigned long long>(low),
            static_cast<unsigned long long>(high - 1), static_cast<unsigned long long>(low));
    } else {
        Why(bom.inName,
            "no segment holds all of 0x%08X - 0x%08X in its file bytes (the firmware lies at "
            "0x%08llX - 0x%08llX)",
            signa.start, last, static_cast<unsigned long long>(low),
            static_cast<unsigned long long>(high - 1));
    }
}

// Before anything is stored or written: the code read protection word of each range the pass
// signs, 0x2FC past a Cortex-M table or 0x1FC past an ARM-state one, wherever it lies.
void GuardCrp(const Firmware& in) {
    constexpr int kMax = 4;
    uint32_t at[kMax];
    int n = 0;
    Piece p;
    for (size_t c = 0; n < kMax && in.Next(c, p);) {
        if (!Signs(in, p)) continue;
        uint8_t first[4];
        in.Read(p, signa.start, first, sizeof first);
        at[n++] = signa.start + (ArmTable(first) ? kCrpArm : kCrpCortex);
    }
    CrpFind(in, at, n);
    uint32_t locked = 0;
    if ((bom.flags & kBomCrp3) == 0 && CrpLocked(locked)) {
        Why(bom.inName,
            "code read protection CRP3 at 0x%08X would lock the part for good; give CRP3 to "
            "accept it",
            locked);
        std::snprintf(szStat, sizeof szStat, kCrp3Refused, locked);
        Fatal(NFACT::Crp3, szStat);
    }
}

// Every piece in turn: signed when it holds the range, then handed to the images, so that
// a piece written after a signed one sees the signature.
void Walk(Firmware& in) {
    GuardCrp(in);
    const std::unique_ptr<Images> images = std::make_unique<Images>();
    uint32_t count = 0;
    uint64_t low = UINT64_MAX; // where the firmware lies, for a range not found
    uint64_t high = 0;
    Piece p;
    Reading("a segment's file bytes");
    for (size_t c = 0; in.Next(c, p);) {
        if (p.len > p.skip) {
            low = std::min<uint64_t>(low, static_cast<uint64_t>(p.addr) + p.skip);
            high = std::max<uint64_t>(high, static_cast<uint64_t>(p.addr) + p.len);
        }
        if (Signs(in, p)) {
            Patch(in, p);
            ++count;
        }
        if (!images->Any()) continue;
        images->Begin(static_cast<uint64_t>(p.addr) + p.skip);
        in.Emit(p, *images);
        images->End();
    }
    // A run that signed nothing commits no image: the images are dropped as the run stops.
    if (count == 0) {
        NotFoundWhy(in.Raw(), low, high);
        std::snprintf(szStat, sizeof szStat, kNotFound, signa.start, RangeLast());
        Fatal(NFACT::RangeNotFound, szStat);
    }
    images->Close();
    for (int i = 0; i < kImages; ++i) imageVerdict[i] = images->Found(i);
}

// The mapped input, released however the pass ends.
struct Mapping {
    Mapping() { ClearVariables(); }
    ~Mapping() { LoadClear(&xfi); }
    Mapping(const Mapping&) = delete;
    Mapping& operator=(const Mapping&) = delete;
};

} // namespace

void Vortle_Reader() {
    if (signa.position == 0) Sig_LPC17_13_xx();
    szStat[0] = '\0';
    szWrong[0] = '\0';
    verdict = Verdict::Right;
    for (Verdict& v : imageVerdict) v = Verdict::Right;
    const Mapping mapping;
    // A check-only pass opens and maps the file for reading only: it cannot change a byte.
    if (IniLoadFile(&xfi, bom.inName, !Checking()) != 0) Fatal(NFACT::OpenFile, bom.inName);
    std::unique_ptr<Firmware> in = OpenInput(bom.inName);
    // An input that yields no firmware is refused, never passed as signed.
    if (mcx.err != 0 || in == nullptr) Fatal(NFACT::InvalidElf, bom.inName);
    Walk(*in);
}

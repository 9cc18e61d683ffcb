#include "Pass.h"

#include <algorithm>
#include <cstdio>
#include <memory>

#include "Diag.h"
#include "Fatal.h"
#include "Inputs.h"

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
bool ArmTable(const Firmware& in, const uint8_t* first) {
    const uint32_t word = HostOrder32(LoadLittle32(first), in.BigEndian());
    return (word & 0xFF000000u) == 0xEA000000u || (word & 0xFFFFF000u) == 0xE59FF000u;
}

// An ARM-state table keeps its checksum in the reserved word 0x14 and sums all eight words;
// any other table takes the configured range.
Layout LayoutOf(const Firmware& in, const SignatureRange& range, const uint8_t* first) {
    if (ArmTable(in, first)) return {range.start, range.start + kArmLast, range.start + kArmSig};
    return {range.start, range.end, range.position};
}

// True when the piece holds the range and its signature word.
bool Signs(const Firmware& in, const Piece& p, const SignatureRange& range) {
    return range.WindowHi() - range.WindowLo() <= kWindow && in.Holds(p, range);
}

// Sums the range in the piece and stores the signature when it differs (a check-only pass
// notes a wrong one instead).
void Patch(Firmware& in, const Piece& p, const SignatureRange& range, bool checking,
           PassResult& result) {
    const uint32_t lo = range.WindowLo();
    uint8_t win[kWindow];
    in.Read(p, lo, win, static_cast<uint32_t>(range.WindowHi() - lo));
    const Layout r = LayoutOf(in, range, win + (range.start - lo));
    uint32_t sum = 0;
    for (uint64_t a = r.start; a <= r.end; a += kUnit) {
        if (a != r.position) sum += LoadLittle32(win + (a - lo));
    }
    const uint32_t sig = 0u - sum;
    uint8_t* at = win + (r.position - lo);
    const uint32_t stored = LoadLittle32(at);
    char* status = result.status;
    char* wrong = result.wrongLine;
    int n = 0;
    status[0] = '\0';
    if (stored != sig && checking) {
        result.signature = Verdict::WrongSignature;
        const int m = std::snprintf(wrong, kLineCap, "%s", kStatWrong);
        const int k = std::snprintf(wrong + m, kLineCap - static_cast<size_t>(m), kStat32, r.start,
                                    r.end, r.position, stored);
        std::snprintf(wrong + m + k, kLineCap - static_cast<size_t>(m + k), kExpected, sig);
    } else if (stored != sig) {
        StoreLittle32(at, sig);
        in.Store(p, r.position, at, kUnit);
        n = std::snprintf(status, kLineCap, "%s", kStatUpdated);
    }
    std::snprintf(status + n, kLineCap - static_cast<size_t>(n), kStat32, r.start, r.end,
                  r.position, sig);
}

// Where the firmware lies and what to try, for a range that no piece holds.
void NotFoundWhy(const char* name, const SignatureRange& range, bool raw, uint64_t low,
                 uint64_t high) {
    const uint32_t last = range.ReportedLast();
    if (low >= high) {
        Why(name, "no loadable bytes to sign");
    } else if (raw && range.start < high) {
        Why(name,
            "the raw image is %llu bytes long; signing it needs at least %llu (0x%08X - 0x%08llX)",
            static_cast<unsigned long long>(high),
            static_cast<unsigned long long>(range.WindowHi()), range.WindowLo(),
            static_cast<unsigned long long>(range.WindowHi() - 1));
    } else if (raw) {
        Why(name,
            "0x%08X - 0x%08X lies outside the raw image, which is loaded at 0x00000000 - "
            "0x%08llX: sign a raw image without BASEADDRESS",
            range.start, last, static_cast<unsigned long long>(high - 1));
    } else if (low != range.start) {
        Why(name,
            "no loadable bytes hold 0x%08X - 0x%08X; the firmware lies at 0x%08llX - 0x%08llX: "
            "try BASEADDRESS(0x%llX)",
            range.start, last, static_cast<unsigned long long>(low),
            static_cast<unsigned long long>(high - 1), static_cast<unsigned long long>(low));
    } else {
        Why(name,
            "no segment holds all of 0x%08X - 0x%08X in its file bytes (the firmware lies at "
            "0x%08llX - 0x%08llX)",
            range.start, last, static_cast<unsigned long long>(low),
            static_cast<unsigned long long>(high - 1));
    }
}

// Before anything is stored or written: the code read protection word of each range the pass
// signs, 0x2FC past a Cortex-M table or 0x1FC past an ARM-state one, wherever it lies.
CrpFindings GuardCrp(const Firmware& in, const Request& request, const SignatureRange& range) {
    constexpr int kMax = 4;
    uint32_t at[kMax];
    int n = 0;
    Piece p;
    for (size_t c = 0; n < kMax && in.Next(c, p);) {
        if (!Signs(in, p, range)) continue;
        uint8_t first[4];
        in.Read(p, range.start, first, sizeof first);
        at[n++] = range.start + (ArmTable(in, first) ? kCrpArm : kCrpCortex);
    }
    const CrpFindings findings = CrpFindings::Find(in, at, n);
    uint32_t locked = 0;
    if (!request.acceptCrp3 && findings.Locked(locked)) {
        Why(request.inputName,
            "code read protection CRP3 at 0x%08X would lock the part for good; give CRP3 to "
            "accept it",
            locked);
        char text[kLineCap];
        std::snprintf(text, sizeof text, kCrp3Refused, locked);
        Fatal(Failure::Crp3, text);
    }
    return findings;
}

// Every piece in turn: signed when it holds the range, then handed to the images, so that
// a piece written after a signed one sees the signature.
void Walk(Firmware& in, MappedFile& file, const Request& request, const SignatureRange& range,
          PassResult& result) {
    result.protection = GuardCrp(in, request, range);
    file.Reading("a segment's file bytes");
    // The S-record image's records are as wide as its highest address needs: known first.
    ImageSpan span;
    span.entry = in.Entry();
    Piece p;
    for (size_t c = 0; request.writeSrec && in.Next(c, p);) {
        if (p.len > p.skip) {
            span.end = std::max<uint64_t>(span.end, static_cast<uint64_t>(p.addr) + p.len);
        }
    }
    Images images(request, file, span);
    uint32_t count = 0;
    uint64_t low = UINT64_MAX; // where the firmware lies, for a range not found
    uint64_t high = 0;
    for (size_t c = 0; in.Next(c, p);) {
        if (p.len > p.skip) {
            low = std::min<uint64_t>(low, static_cast<uint64_t>(p.addr) + p.skip);
            high = std::max<uint64_t>(high, static_cast<uint64_t>(p.addr) + p.len);
        }
        if (Signs(in, p, range)) {
            Patch(in, p, range, request.checkOnly, result);
            ++count;
        }
        if (!images.Any()) continue;
        images.Begin(static_cast<uint64_t>(p.addr) + p.skip);
        in.Emit(p, images);
        images.End();
    }
    // A run that signed nothing commits no image: the images are dropped as the run stops.
    if (count == 0) {
        NotFoundWhy(request.inputName, range, in.Raw(), low, high);
        char text[kLineCap];
        std::snprintf(text, sizeof text, kNotFound, range.start, range.ReportedLast());
        Fatal(Failure::RangeNotFound, text);
    }
    images.Close();
    for (int i = 0; i < kImages; ++i) result.images[i] = images.Found(i);
}

} // namespace

PassResult SignFirmware(const Request& request) {
    const SignatureRange range =
        request.range.Configured() ? request.range : SignatureRange::VectorTableAt(0);
    PassResult result;
    MappedFile file;
    // A check-only pass opens and maps the file for reading only: it cannot change a byte.
    if (!file.Open(request.inputName, !request.checkOnly)) {
        Fatal(Failure::OpenFile, request.inputName);
    }
    std::unique_ptr<Firmware> in = OpenInput(file, request.inputName);
    Walk(*in, file, request, range, result);
    return result;
}

// Writes the seed corpus of the engine target: the sample firmware and the test suite's ELF
// shapes, each malformed case included, behind the five option bytes of the target.
#include <cstdio>
#include <filesystem>
#include <string>

#include "Support.h"

namespace {

using vt::Bytes;
using vt::Elf;

int count = 0;

void Seed(const std::filesystem::path& dir, const std::string& name, const Bytes& elf,
          uint8_t opt = 1, uint32_t base = 0) {
    Bytes b{opt, static_cast<uint8_t>(base), static_cast<uint8_t>(base >> 8),
            static_cast<uint8_t>(base >> 16), static_cast<uint8_t>(base >> 24)};
    b.insert(b.end(), elf.begin(), elf.end());
    vt::WriteFile(dir / name, b);
    ++count;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: make_corpus <examples folder> <corpus folder>\n");
        return 2;
    }
    const std::filesystem::path ex = argv[1];
    const std::filesystem::path out = argv[2];
    std::filesystem::create_directories(out);
    Seed(out, "blinky", vt::ReadFile(ex / "blinky.elf"), 1);
    Seed(out, "blinky-app2000", vt::ReadFile(ex / "blinky-app2000.elf"), 3, 0x2000);
    Seed(out, "blinky-be", vt::ReadFile(ex / "blinky-be.elf"), 5);

    const Bytes one = Elf{.segs = {vt::Code(0, vt::Vectors(16))}}.Build();
    Seed(out, "one-segment", one, 1);
    Seed(out, "one-segment-ba", Elf{.segs = {vt::Code(0x2000, vt::Vectors(16))}}.Build(), 3,
         0x2000);
    Seed(out, "big-endian", Elf{.big = true, .segs = {vt::Code(0, vt::Vectors(16))}}.Build(), 1);
    Seed(out, "two-segments",
         Elf{.segs = {vt::Code(0, vt::Vectors(40)),
                      {.paddr = 0xA0,
                       .vaddr = 0x10000000,
                       .flags = 6,
                       .data = Bytes(20, 0xD1),
                       .memExtra = 64}}}
             .Build());
    Seed(out, "two-holding",
         Elf{.segs = {vt::Code(0, vt::Vectors(16, 1)), vt::Code(0, vt::Vectors(16, 2))}}.Build());
    Seed(out, "zero-filled", Elf{.segs = {vt::Code(0, vt::Vectors(16)), vt::ZeroFilled()}}.Build());
    Seed(out, "no-phdrs", Elf{.segs = {vt::Code(0, vt::Vectors(16))}, .phoffZero = true}.Build());
    Seed(out, "no-shstrtab",
         Elf{.segs = {vt::Code(0, vt::Vectors(16))}, .strName = ".strtab"}.Build());
    Seed(out, "late-segment", Elf{.segs = {vt::Code(0x10, vt::Vectors(16))}}.Build());

    const auto edit = [&](const std::string& name, auto fn) {
        Bytes b = one;
        fn(b);
        Seed(out, name, b);
    };
    const uint32_t shoff = vt::Get32(one, vt::kShoff);
    edit("short-segment", [](Bytes& b) {
        vt::Put32(b, 52 + 16, 29);
        vt::Put32(b, 52 + 20, 29);
    });
    edit("relocatable", [](Bytes& b) { vt::Put16(b, vt::kType, 1); });
    edit("other-machine", [](Bytes& b) { vt::Put16(b, vt::kMachine, 62); });
    edit("phnum-0", [](Bytes& b) { vt::Put16(b, vt::kPhnum, 0); });
    edit("shnum-0", [](Bytes& b) { vt::Put16(b, vt::kShnum, 0); });
    edit("shstrndx-out", [](Bytes& b) { vt::Put16(b, vt::kShstrndx, 2); });
    edit("shoff-past-end", [](Bytes& b) { vt::Put32(b, vt::kShoff, 0x01000000); });
    edit("phoff-wraps", [](Bytes& b) { vt::Put32(b, vt::kPhoff, 0xFFFFFFF0); });
    edit("segment-past-end", [](Bytes& b) { vt::Put32(b, 52 + 16, 0xFFFFFFF0); });
    edit("name-past-end", [shoff](Bytes& b) { vt::Put32(b, shoff + 40, 0x7FFFFFF0); });
    edit("strtab-past-end", [shoff](Bytes& b) { vt::Put32(b, shoff + 40 + 20, 0x7FFFFF00); });
    Seed(out, "truncated-51", Bytes(one.begin(), one.begin() + 51));
    Seed(out, "truncated-phdrs", Bytes(one.begin(), one.begin() + 70));
    Seed(out, "empty", {});
    std::printf("%d seeds written\n", count);
    return 0;
}

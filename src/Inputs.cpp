#include "Inputs.h"

#include <cctype>
#include <cstring>

#include "Elf.h"
#include "HexInput.h"
#include "PathNames.h"

namespace {

// The whole file, one piece loaded at address 0.
class RawFirmware : public MappedFirmware {
  public:
    using MappedFirmware::MappedFirmware;
    bool Next(size_t& at, Piece& p) const override {
        if (at != 0) return false;
        at = 1;
        p = Piece{0, file_.Size(), 0, 0, 0};
        return true;
    }
    bool Raw() const override { return true; }
};

// True when the name's extension is "bin" in any case.
bool BinName(const char* name) {
    const char* dot = std::strrchr(LastComponent(name, Slashes::Both), '.');
    if (dot == nullptr) return false;
    return std::strlen(dot) == 4 && std::toupper(static_cast<unsigned char>(dot[1])) == 'B' &&
           std::toupper(static_cast<unsigned char>(dot[2])) == 'I' &&
           std::toupper(static_cast<unsigned char>(dot[3])) == 'N';
}

} // namespace

std::unique_ptr<Firmware> OpenInput(MappedFile& file, const char* name) {
    const uint8_t* head = file.Slice(0, 1);
    constexpr uint8_t kMagic[4] = {0x7F, 'E', 'L', 'F'};
    const bool elf = file.Size() >= sizeof kMagic && std::memcmp(head, kMagic, sizeof kMagic) == 0;
    if (!elf && BinName(name)) return std::make_unique<RawFirmware>(file);
    if (head[0] == ':') return HexInput(file);
    return ElfInput(file);
}

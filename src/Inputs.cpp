#include "Inputs.h"

#include <cctype>
#include <cstring>
#include <initializer_list>

#include "Elf.h"
#include "HexInput.h"
#include "PathNames.h"
#include "SrecInput.h"

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

// True when the name's extension is one of the upper-case extensions, in any case.
bool NameEndsIn(const char* name, std::initializer_list<const char*> extensions) {
    const char* dot = std::strrchr(LastComponent(name, Slashes::Both), '.');
    if (dot == nullptr) return false;
    for (const char* e : extensions) {
        size_t i = 0;
        while (e[i] != '\0' && std::toupper(static_cast<unsigned char>(dot[1 + i])) == e[i]) ++i;
        if (e[i] == '\0' && dot[1 + i] == '\0') return true;
    }
    return false;
}

// The first character of a text that is no blank, tab, CR or LF; 0 when there is none.
uint8_t FirstMark(const uint8_t* text, uint32_t size, uint32_t& at) {
    for (at = 0; at < size; ++at) {
        const uint8_t c = text[at];
        if (c != ' ' && c != '\t' && c != '\r' && c != '\n') return c;
    }
    return 0;
}

} // namespace

std::unique_ptr<Firmware> OpenInput(MappedFile& file, const char* name) {
    const uint8_t* head = file.Slice(0, 1);
    constexpr uint8_t kMagic[4] = {0x7F, 'E', 'L', 'F'};
    const bool elf = file.Size() >= sizeof kMagic && std::memcmp(head, kMagic, sizeof kMagic) == 0;
    if (elf) return ElfInput(file);
    if (NameEndsIn(name, {"BIN"})) return std::make_unique<RawFirmware>(file);
    const uint8_t* text = file.Slice(0, file.Size());
    uint32_t at = 0;
    const uint8_t mark = FirstMark(text, file.Size(), at);
    const bool record = at + 1 < file.Size() && text[at + 1] >= '0' && text[at + 1] <= '9';
    if (((mark == 'S' || mark == 's') && record) ||
        NameEndsIn(name, {"SREC", "S19", "S28", "S37", "MOT"})) {
        return SrecInput(file);
    }
    if (mark == ':') return HexInput(file);
    return ElfInput(file);
}

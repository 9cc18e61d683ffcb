#include "TempImage.h"

#include <csignal>

#include "Diag.h"
#include "Plat.h"

namespace {

// What a slot holds on disk. A signal handler reads it: it deletes the temporary file while
// the image is written (an unnamed one needs nothing: it goes with the process) and the image
// itself between its rename and the run's commit.
constexpr sig_atomic_t kNone = 0;
constexpr sig_atomic_t kWriting = 1;
constexpr sig_atomic_t kRenamed = 2;

struct Slot {
    std::FILE* fp;
    bool spotHeld;
    PlatSpot spot;
    char tmp[kPlatLeafCap];
    volatile sig_atomic_t state;
};
Slot slots[kTempSlots];
volatile sig_atomic_t committed; // every image of the run has its name: nothing to take back

// Safe in a signal handler: only deletions by names already formed.
void DropAll() {
    if (committed) return;
    for (Slot& s : slots) {
        const sig_atomic_t state = s.state;
        s.state = kNone;
        if (state == kWriting && s.tmp[0] != '\0') PlatUnlinkAt(s.spot, s.tmp);
        if (state == kRenamed) PlatUnlinkAt(s.spot, s.spot.leaf);
    }
}

void Release(Slot& s) {
    if (s.spotHeld) PlatSpotClose(s.spot);
    s.spotHeld = false;
    s.fp = nullptr;
}

} // namespace

std::FILE* TempOpen(int slot, const char* name) {
    PlatOnAbort(DropAll);
    committed = 0;
    Slot& s = slots[slot];
    Release(s);
    s.state = kNone;
    s.spotHeld = true;
    switch (PlatLocate(name, s.spot)) {
    case PlatKind::Device:
        s.fp = PlatOpenDevice(name);
        break;
    case PlatKind::Absent:
    case PlatKind::Regular:
        // A signal between the file's creation and its record would leave it behind.
        PlatHoldSignals(true);
        s.fp = PlatTempCreate(s.spot, s.tmp, sizeof s.tmp);
        if (s.fp != nullptr) s.state = kWriting;
        PlatHoldSignals(false);
        break;
    case PlatKind::Other:
        Why(name, "cannot create: it is no regular file or device (a FIFO, a socket, a folder "
                  "or a link to nothing)");
        Release(s);
        return nullptr;
    case PlatKind::NoFolder:
        Why(name, "cannot create: its folder: %s", SystemError());
        Release(s);
        return nullptr;
    }
    if (s.fp == nullptr) {
        Why(name, "cannot create: %s", SystemError());
        Release(s);
    }
    return s.fp;
}

int TempFinish(bool commit, int& failed) {
    failed = -1;
    // Every image complete first: flushed and checked, a device closed.
    for (int i = 0; i < kTempSlots; ++i) {
        Slot& s = slots[i];
        if (s.fp == nullptr) continue;
        bool bad = std::fflush(s.fp) != 0 || std::ferror(s.fp) != 0;
        if (s.state != kWriting) {
            bad |= std::fclose(s.fp) != 0;
            s.fp = nullptr;
        }
        if (commit && bad && failed < 0) failed = i;
    }
    // Then the unnamed temporary files get names, and only then does each take the image's
    // name: the renames follow one another with nothing slow between them.
    for (int i = 0; i < kTempSlots && commit && failed < 0; ++i) {
        Slot& s = slots[i];
        if (s.state != kWriting) continue;
        // The name and its record change together: a signal between them would leave the file.
        PlatHoldSignals(true);
        if (PlatTempName(s.spot, s.tmp, sizeof s.tmp, s.fp) != 0) failed = i;
        PlatHoldSignals(false);
    }
    for (int i = 0; i < kTempSlots && commit && failed < 0; ++i) {
        Slot& s = slots[i];
        if (s.state != kWriting) continue;
        // Likewise between the rename and its record: the image would stay without its pair.
        PlatHoldSignals(true);
        if (PlatTempKeep(s.spot, s.tmp, s.fp) != 0) {
            failed = i;
        } else {
            s.state = kRenamed;
        }
        PlatHoldSignals(false);
    }
    // One commit: a failure takes back the images already renamed.
    if (!commit || failed >= 0) DropAll();
    committed = 1;
    for (Slot& s : slots) {
        if (s.fp != nullptr) std::fclose(s.fp);
        Release(s);
        s.state = kNone;
    }
    return failed >= 0 ? -1 : 0;
}

void TempRemoveStale(const char* name, const char* input) {
    if (name != nullptr && name[0] != '\0' && PlatStaleImage(name, input)) {
        PlatRemoveFile(name);
    }
}

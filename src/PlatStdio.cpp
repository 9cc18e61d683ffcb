// Platform layer, the part that the C library serves alike on every system: deleting a file.
#include "Plat.h"

int PlatRemoveFile(const char* name) {
    return std::remove(name);
}

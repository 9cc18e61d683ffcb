// Platform layer, the part that the C library serves alike on every system: the image stream
// and deleting a file.
#include "Plat.h"

std::FILE* PlatOpenImage(const char* name, bool write) {
    return std::fopen(name, write ? "wb" : "rb");
}

int PlatRemoveFile(const char* name) {
    return std::remove(name);
}

// The parts of a file name as text: where its last component starts. The kernel resolves every
// folder; nothing here looks at the disk.
#pragma once

#include <cstring>

enum class Slashes {
    OfThisSystem, // '/' and, on Windows, '\' too
    Both,         // '/' and '\' on every system (how an image name is derived from the input's)
};

// The last component of name: what follows its last separator, the whole name without one.
inline const char* LastComponent(const char* name,
                                 [[maybe_unused]] Slashes slashes = Slashes::OfThisSystem) {
#ifdef _WIN32
    const bool backslash = true;
#else
    const bool backslash = slashes == Slashes::Both;
#endif
    const char* slash = std::strrchr(name, '/');
    const char* other = backslash ? std::strrchr(name, '\\') : nullptr;
    if (other != nullptr && (slash == nullptr || other > slash)) slash = other;
    return slash != nullptr ? slash + 1 : name;
}

#include "Names.h"

#include <cctype>
#include <cstdio>
#include <cstring>

#include "Bom.h"
#include "Plat.h"

namespace {

// A name cut into the folder that holds its last component and that component.
struct Split {
    char folder[kNameCap + 8];
    const char* leaf;
};

bool IsSeparator(char c) {
#ifdef _WIN32
    return c == '\\' || c == '/';
#else
    return c == '/';
#endif
}

void SplitName(const char* name, Split& s) {
    const char* cut = nullptr;
    for (const char* c = name; *c != '\0'; ++c) {
        if (IsSeparator(*c)) cut = c;
    }
#ifdef _WIN32
    // "C:app.bin" lies in the current folder of drive C.
    if (cut == nullptr && name[0] != '\0' && name[1] == ':') {
        std::snprintf(s.folder, sizeof s.folder, "%.2s.", name);
        s.leaf = name + 2;
        return;
    }
#endif
    if (cut == nullptr) {
        std::snprintf(s.folder, sizeof s.folder, ".");
        s.leaf = name;
        return;
    }
    // The folder keeps its separator: "/" stays the root, "C:\" the root of drive C.
    std::snprintf(s.folder, sizeof s.folder, "%.*s", static_cast<int>(cut - name + 1), name);
    s.leaf = cut + 1;
}

// True when two ASCII last components differ even ignoring case: no folder takes them for one
// name, so their folders need not be asked.
bool Unlike(const char* a, const char* b) {
    for (;; ++a, ++b) {
        const unsigned char x = static_cast<unsigned char>(*a);
        const unsigned char y = static_cast<unsigned char>(*b);
        if (x >= 0x80 || y >= 0x80) return false;
        if (std::tolower(x) != std::tolower(y)) return true;
        if (x == 0) return false;
    }
}

} // namespace

bool SameTarget(const char* a, const char* b) {
    if (PlatSameFile(a, b) != 0) return true;
    Split sa;
    Split sb;
    SplitName(a, sa);
    SplitName(b, sb);
    if (Unlike(sa.leaf, sb.leaf)) return false;
    PlatFolder fa;
    PlatFolder fb;
    if (PlatFolderOf(sa.folder, fa) != 0 || PlatFolderOf(sb.folder, fb) != 0) {
        // A folder that cannot be reached takes no file: the names clash only as equal text.
        return std::strcmp(a, b) == 0;
    }
    return fa.dev == fb.dev && fa.ino == fb.ino && PlatSameLeaf(sa.leaf, sb.leaf, fa.foldsCase);
}

bool StoredExactly(const char* name) {
    Split s;
    SplitName(name, s);
    PlatFolder f;
    if (PlatFolderOf(s.folder, f) != 0) return false;
    return !f.foldsCase || PlatStoredExactly(s.folder, s.leaf) != 0;
}

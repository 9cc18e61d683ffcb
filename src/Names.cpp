#include "Names.h"

#include <cctype>
#include <cstring>

#include "PathNames.h"
#include "Plat.h"
#include "Request.h"

namespace {

// A name cut into the folder that holds its last component and that component.
struct Split {
    char folder[kNameCap + 8];
    const char* leaf;
};

void SplitName(const char* name, Split& s) {
    s.leaf = LastComponent(name);
    size_t folder = static_cast<size_t>(s.leaf - name);
#ifdef _WIN32
    // "C:app.bin" lies in the current folder of drive C.
    if (folder == 0 && name[0] != '\0' && name[1] == ':') {
        std::memcpy(s.folder, name, 2);
        std::memcpy(s.folder + 2, ".", 2);
        s.leaf = name + 2;
        return;
    }
#endif
    if (folder == 0) {
        std::memcpy(s.folder, ".", 2);
        return;
    }
    // The folder keeps its separator: "/" stays the root, "C:\" the root of drive C.
    if (folder >= sizeof s.folder) folder = sizeof s.folder - 1;
    std::memcpy(s.folder, name, folder);
    s.folder[folder] = '\0';
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
    if (PlatSameFile(a, b)) return true;
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
    return !f.foldsCase || PlatStoredExactly(s.folder, s.leaf);
}

#include "CmdLine.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>

#include "Alloc.h"
#include "Bom.h"
#include "Diag.h"
#include "Fatal.h"
#include "Plat.h"

namespace {

constexpr const char* szPST = "\"%s\" "; // program-path prefix of the command line
constexpr char kVerify[] = "VERIFY";

// True when the argument is the keyword VERIFY, in any case: such a run must not delete an
// image, even when it fails before the keyword is read.
bool IsVerify(const char* a) {
    size_t i = 0;
    while (kVerify[i] != '\0' && std::toupper(static_cast<unsigned char>(a[i])) == kVerify[i]) ++i;
    return kVerify[i] == '\0' && a[i] == '\0';
}

// True when the input name, as the shell delivered it, would not scan as one file name: it
// holds a character of the file-name delimiter set or an apostrophe. A name that opens with a
// quote of its own is quoted already.
bool NeedsQuotes(const char* a) {
    if (a[0] == '"' || a[0] == '\'') return false;
    for (const char* c = a; *c != '\0'; ++c) {
        if (*c == '\'' || std::memchr(del95, *c, sizeof del95) != nullptr) return true;
    }
    return false;
}

} // namespace

int ArgPrepare(int argc, char** argv) {
    bom.cap = kCmdCap;
    bom.cmd = static_cast<char*>(GetMem(kCmdCap, 0));
    bom.echo = static_cast<char*>(GetMem(kCmdCap, 0));
    bom.flags = 0;

    const char* path = PlatProgramPath(argc > 0 ? argv[0] : nullptr);
    size_t need = std::strlen(path) + 3 + 2; // quotes, blank, line feed, NUL
    const bool quote = argc > 1 && NeedsQuotes(argv[1]);
    for (int i = 1; i < argc; ++i) {
        need += std::strlen(argv[i]) + 1;
        if (i > 1 && IsVerify(argv[i])) bom.flags |= kBomKeep;
    }
    if (quote)
        need += 2 + static_cast<size_t>(std::count(argv[1], argv[1] + std::strlen(argv[1]), '"'));
    if (need > static_cast<size_t>(bom.cap)) {
        Why("command line", "longer than %d characters", bom.cap);
        Fatal(NFACT::CmdLine, "max. command line size exceeded");
    }

    bom.pathLen = static_cast<int32_t>(std::strlen(path));
    char* w = bom.cmd + std::snprintf(bom.cmd, static_cast<size_t>(bom.cap), szPST, path);
    for (int i = 1; i < argc; ++i) {
        if (i == 1 && quote) {
            // The input name as the shell delivered it, one token whatever it holds.
            *w++ = '"';
            for (const char* c = argv[1]; *c != '\0'; ++c) {
                if (*c == '"') *w++ = '"';
                *w++ = *c;
            }
            *w++ = '"';
            *w++ = ' ';
            continue;
        }
        const size_t len = std::strlen(argv[i]);
        std::memcpy(w, argv[i], len);
        w += len;
        *w++ = ' ';
    }
    *w++ = '\n';
    *w = '\0';
    return 0;
}

void chgext(char* name, const char* ext) {
    size_t extLen = 0;
    while (extLen < 3 && ext[extLen] != '\0' && ext[extLen] != ' ') ++extLen;
    const size_t len = std::strlen(name);
    char* end = name + len;
    for (size_t i = len; i-- > 1;) {
        if (name[i] == '\\' || name[i] == '/') break;
        if (name[i] == '.') {
            end = name + i;
            break;
        }
    }
    if (extLen > 0) {
        *end++ = '.';
        std::memcpy(end, ext, extLen);
        end += extLen;
    }
    *end = '\0';
}

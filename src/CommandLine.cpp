#include "CommandLine.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "Alloc.h"
#include "Diag.h"
#include "Fatal.h"
#include "PathNames.h"
#include "Plat.h"

namespace {

constexpr const char* kQuotedPath = "\"%s\" "; // the program path that opens the command line
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
        if (*c == '\'' || std::memchr(kNameDelimiters, *c, sizeof kNameDelimiters) != nullptr)
            return true;
    }
    return false;
}

// The argument as the command line takes it: --quiet and -q (which the joined line would read
// as separators and letters) are the keyword QUIET.
const char* Argument(char** argv, int i) {
    const std::string_view a = argv[i];
    return i > 1 && (a == "--quiet" || a == "-q") ? "QUIET" : argv[i];
}

} // namespace

void JoinCommandLine(int argc, char** argv, Request& request) {
    request.commandLine = static_cast<char*>(GetMem(kCommandLineCap, kPoolCommandLine));
    request.echo = static_cast<char*>(GetMem(kCommandLineCap, kPoolCommandLine));

    const char* path = PlatProgramPath(argc > 0 ? argv[0] : nullptr);
    size_t need = std::strlen(path) + 3 + 2; // quotes, blank, line feed, NUL
    const bool quote = argc > 1 && NeedsQuotes(argv[1]);
    for (int i = 1; i < argc; ++i) {
        need += std::strlen(Argument(argv, i)) + 1;
        if (i > 1 && IsVerify(argv[i])) request.keepImages = true;
    }
    if (quote)
        need += 2 + static_cast<size_t>(std::count(argv[1], argv[1] + std::strlen(argv[1]), '"'));
    if (need > static_cast<size_t>(kCommandLineCap)) {
        Why("command line", "longer than %d characters", kCommandLineCap);
        Fatal(Failure::CmdLine, "max. command line size exceeded");
    }

    request.programPathLength = static_cast<int32_t>(std::strlen(path));
    char* w =
        request.commandLine +
        std::snprintf(request.commandLine, static_cast<size_t>(kCommandLineCap), kQuotedPath, path);
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
        const char* a = Argument(argv, i);
        const size_t len = std::strlen(a);
        std::memcpy(w, a, len);
        w += len;
        *w++ = ' ';
    }
    *w++ = '\n';
    *w = '\0';
}

void ReplaceExtension(char* name, const char* ext) {
    size_t extLen = 0;
    while (extLen < 4 && ext[extLen] != '\0' && ext[extLen] != ' ') ++extLen;
    const size_t len = std::strlen(name);
    char* end = name + len;
    // The last dot of the last component, never the name's first character.
    const size_t leaf = static_cast<size_t>(LastComponent(name, Slashes::Both) - name);
    for (size_t i = len; i-- > (leaf > 1 ? leaf : 1);) {
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

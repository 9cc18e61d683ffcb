#include "Diag.h"

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstring>
#ifdef _WIN32
#include <windows.h>
#endif

#include "Plat.h"

namespace {

constexpr size_t kLineCap = 1536; // a file name of 1004 characters and the cause
char line[kLineCap];
bool said;
std::FILE* sink;
char outputFailure[256]; // why standard output could not be written; empty when it could
bool quietRun;           // standard output is held until the run ends
char held[16384];        // what a quiet run printed so far (the report of a run is far shorter)
size_t heldLen;

} // namespace

void Why(const char* file, const char* fmt, ...) {
    if (said) return;
    said = true;
    int n = std::snprintf(line, sizeof line, "vortle: %s: ", file != nullptr ? file : "");
    if (n < 0 || static_cast<size_t>(n) >= sizeof line) n = 0;
    va_list ap;
    va_start(ap, fmt);
    std::vsnprintf(line + n, sizeof line - static_cast<size_t>(n), fmt, ap);
    va_end(ap);
}

void WhyPrint(const char* file, const char* fallback) {
    if (!said) Why(file, "%s", fallback);
    std::FILE* out = sink != nullptr ? sink : stderr;
    std::fprintf(out, "%s\n", line);
    std::fflush(out);
    said = false;
}

void WhyReset() {
    said = false;
    outputFailure[0] = '\0';
    quietRun = false;
    heldLen = 0;
}

// Standard output is held here until it is flushed: a quiet run, known only once its command
// line is read, then drops the banner printed before.
void Say(const char* fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    va_list again;
    va_copy(again, ap);
    const size_t room = sizeof held - heldLen;
    const int n = std::vsnprintf(held + heldLen, room, fmt, ap);
    if (n >= 0 && static_cast<size_t>(n) < room) {
        heldLen += static_cast<size_t>(n);
    } else if (quietRun) {
        heldLen = sizeof held - 1; // what fits
    } else {
        held[heldLen] = '\0';
        FlushOutput();
        std::vprintf(fmt, again);
    }
    va_end(again);
    va_end(ap);
}

void QuietOutput(bool quiet) {
    quietRun = quiet;
}

void FlushOutput() {
    if (quietRun) {
        // The held report is printed even when the mapped input faults and the platform ends
        // the run.
        PlatOnFaultOutput(held, heldLen);
        return;
    }
    if (heldLen > 0) std::fwrite(held, 1, heldLen, stdout);
    heldLen = 0;
    if (std::fflush(stdout) != 0 && outputFailure[0] == '\0') {
        std::snprintf(outputFailure, sizeof outputFailure, "%s", std::strerror(errno));
    }
}

int ReportOutput(int code) {
    if (quietRun) {
        quietRun = false;
        PlatOnFaultOutput(nullptr, 0);
        if (code == 0) heldLen = 0; // a quiet run that succeeds prints nothing
    }
    FlushOutput();
    if (code == 0 && outputFailure[0] != '\0') {
        said = false; // the run succeeded: nothing else is due on standard error
        WhyPrint("standard output", outputFailure);
    }
    return code;
}

void WhySink(std::FILE* out) {
    sink = out;
}

const char* SystemError() {
#ifdef _WIN32
    static char text[256];
    const DWORD code = GetLastError();
    DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                             code, 0, text, sizeof text, nullptr);
    while (n > 0 && (text[n - 1] == '\r' || text[n - 1] == '\n' || text[n - 1] == '.')) --n;
    if (n == 0) return "the system gave no reason";
    text[n] = '\0';
    return text;
#else
    return std::strerror(errno);
#endif
}

#include "Diag.h"

#include <cerrno>
#include <cstdarg>
#include <cstring>
#ifdef _WIN32
#include <windows.h>
#endif

namespace {

constexpr size_t kLineCap = 1536; // a file name of 1004 characters and the cause
char line[kLineCap];
bool said;
std::FILE* sink;
char outputFailure[256]; // why standard output could not be written; empty when it could

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
}

void FlushOutput() {
    if (std::fflush(stdout) != 0 && outputFailure[0] == '\0') {
        std::snprintf(outputFailure, sizeof outputFailure, "%s", std::strerror(errno));
    }
}

int ReportOutput(int code) {
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

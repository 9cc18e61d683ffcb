#include "PlatWinNames.h"

#include <cwchar>
#include <windows.h>

namespace {

// The classic calls take names below MAX_PATH; a folder name must leave room for an 8.3 name.
constexpr size_t kClassicLimit = MAX_PATH - 12;

bool StartsWith(const wchar_t* text, const wchar_t* prefix) {
    return std::wcsncmp(text, prefix, std::wcslen(prefix)) == 0;
}

} // namespace

bool WideInto(const char* utf8, wchar_t* out, size_t cap) {
    out[0] = L'\0';
    if (utf8[0] == '\0') return true;
    const int n =
        MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8, -1, out, static_cast<int>(cap));
    if (n == 0) out[0] = L'\0';
    return n != 0;
}

bool LongNameInto(const wchar_t* plain, wchar_t* out, size_t cap) {
    if (StartsWith(plain, L"\\\\?\\")) {
        if (std::wcslen(plain) >= cap) return false;
        std::wcscpy(out, plain);
        return true;
    }
    // The long-name form takes a whole name with backslashes only, as the system makes it.
    wchar_t full[kWideCap];
    const DWORD n = GetFullPathNameW(plain, kWideCap, full, nullptr);
    if (n == 0 || n >= kWideCap) return false;
    const bool unc = full[0] == L'\\' && full[1] == L'\\';
    const wchar_t* prefix = unc ? L"\\\\?\\UNC\\" : L"\\\\?\\";
    const wchar_t* rest = unc ? full + 2 : full;
    if (std::wcslen(prefix) + std::wcslen(rest) >= cap) return false;
    std::wcscpy(out, prefix);
    std::wcscat(out, rest);
    return true;
}

WideName::WideName(const char* utf8) : text{}, ok(false) {
    wchar_t plain[kWideCap];
    if (!WideInto(utf8, plain, kWideCap)) return;
    const size_t len = std::wcslen(plain);
    if (len < kClassicLimit || StartsWith(plain, L"\\\\.\\")) {
        std::wmemcpy(text, plain, len + 1);
        ok = true;
        return;
    }
    ok = LongNameInto(plain, text, kWideCap);
    if (!ok) text[0] = L'\0';
}

bool Utf8Into(const wchar_t* wide, char* out, size_t cap) {
    const int n =
        WideCharToMultiByte(CP_UTF8, 0, wide, -1, out, static_cast<int>(cap), nullptr, nullptr);
    if (n == 0 && cap > 0) out[0] = '\0';
    return n != 0;
}

std::string Utf8(const wchar_t* wide) {
    const int n = WideCharToMultiByte(CP_UTF8, 0, wide, -1, nullptr, 0, nullptr, nullptr);
    if (n <= 1) return std::string();
    std::string text(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide, -1, text.data(), n, nullptr, nullptr);
    text.resize(static_cast<size_t>(n - 1));
    return text;
}

// Windows names: UTF-8 inside the tool, UTF-16 at the system, in the long-name form (\\?\)
// where a name is too long for the classic calls. Any character and any length up to the
// tool's own limit then work as on other systems.
#pragma once

#include <cstddef>
#include <string>

// The most UTF-16 units of a name with its long-name prefix: a name of 1000 characters made
// whole by the current folder's path.
constexpr size_t kWideCap = 4400;

// A UTF-8 name as the wide-character calls take it. ok is false (and text empty) when the
// name is no UTF-8 or too long.
struct WideName {
    explicit WideName(const char* utf8);
    wchar_t text[kWideCap];
    bool ok;
    const wchar_t* c_str() const { return text; }
};

// The whole name of plain in its long-name form, \\?\C:\... or \\?\UNC\server\..., into out
// (cap units); false when the system cannot make it whole or it does not fit.
bool LongNameInto(const wchar_t* plain, wchar_t* out, size_t cap);

// The UTF-8 form of a UTF-16 text (a lone surrogate becomes U+FFFD).
std::string Utf8(const wchar_t* wide);
// The same into a buffer of cap bytes; false when it does not fit.
bool Utf8Into(const wchar_t* wide, char* out, size_t cap);
// The UTF-16 form of UTF-8 text, as it stands (no long-name prefix); false when it does not
// fit or is no UTF-8.
bool WideInto(const char* utf8, wchar_t* out, size_t cap);

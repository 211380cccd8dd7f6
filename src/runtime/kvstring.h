// The component's 8-bit text type and the helpers every layer shares.
#pragma once

#include <cstdarg>
#include <cstdint>
#include <string>
#include <string_view>

namespace kv {

// 8-bit text in a known code page (the mail's, a body's, or the ANSI code page).
using String = std::string;
// Interface text: UTF-16, as BSTRs carry it.
using WString = std::u16string;

// ASCII case folding, the comparison of header names, option keys, charsets.
char AsciiLower(char c);
bool EqualsNoCase(std::string_view a, std::string_view b);
int CompareNoCase(std::string_view a, std::string_view b);
bool StartsWithNoCase(std::string_view text, std::string_view prefix);
String ToLower(std::string_view text);
String ToUpper(std::string_view text);
std::string_view TrimView(std::string_view text);

struct NoCaseLess {
    using is_transparent = void;
    bool operator()(std::string_view a, std::string_view b) const { return CompareNoCase(a, b) < 0; }
};

// String compared without regard to case.
class IString : public String {
  public:
    using String::String;
    IString() = default;
    IString(const String &s) : String(s) {}
    IString(String &&s) : String(std::move(s)) {}
    const String &str() const { return *this; }
    friend bool operator==(const IString &a, const IString &b) { return EqualsNoCase(a, b); }
    friend bool operator!=(const IString &a, const IString &b) { return !EqualsNoCase(a, b); }
    friend bool operator<(const IString &a, const IString &b) { return CompareNoCase(a, b) < 0; }
    friend bool operator==(const IString &a, const char *b) { return EqualsNoCase(a, b); }
    friend bool operator==(const IString &a, std::string_view b) { return EqualsNoCase(a, b); }
};

// printf-style formatting. Beyond the C conversions it takes "%ws" and "%S"
// (a const char16_t*, written as UTF-8, null as "(NULL)") and "%hs" (a narrow
// string), the forms the trace texts use.
String Format(const char *format, ...);
String VFormat(const char *format, va_list args);

// Code-page conversion between interface text and 8-bit text. Code page 0
// means the system ANSI code page. Bytes or characters that cannot be
// converted become a replacement; conversion never fails.
WString Widen(std::string_view text, uint32_t codepage = 0);
String Narrow(std::u16string_view text, uint32_t codepage = 0);
// Null-safe length of a zero-terminated UTF-16 string.
size_t WideLength(const char16_t *text);
inline std::u16string_view WideView(const char16_t *text) {
    return text ? std::u16string_view(text, WideLength(text)) : std::u16string_view();
}

} // namespace kv

#include "runtime/kvstring.h"

#include <climits>
#include <cstdio>
#include <cstring>

#include "pal/codepage.h"

namespace kv {

char AsciiLower(char c) { return (c >= 'A' && c <= 'Z') ? char(c + ('a' - 'A')) : c; }

bool EqualsNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
    return true;
}

int CompareNoCase(std::string_view a, std::string_view b) {
    size_t n = a.size() < b.size() ? a.size() : b.size();
    for (size_t i = 0; i < n; ++i) {
        unsigned char x = (unsigned char)AsciiLower(a[i]), y = (unsigned char)AsciiLower(b[i]);
        if (x != y) return x < y ? -1 : 1;
    }
    return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && EqualsNoCase(text.substr(0, prefix.size()), prefix);
}

String ToLower(std::string_view text) {
    String r(text);
    for (char &c : r) c = AsciiLower(c);
    return r;
}

String ToUpper(std::string_view text) {
    String r(text);
    for (char &c : r)
        if (c >= 'a' && c <= 'z') c = char(c - ('a' - 'A'));
    return r;
}

std::string_view TrimView(std::string_view text) {
    size_t b = 0, e = text.size();
    while (b < e && (text[b] == ' ' || text[b] == '\t' || text[b] == '\r' || text[b] == '\n')) ++b;
    while (e > b && (text[e - 1] == ' ' || text[e - 1] == '\t' || text[e - 1] == '\r' || text[e - 1] == '\n'))
        --e;
    return text.substr(b, e - b);
}

size_t WideLength(const char16_t *text) {
    size_t n = 0;
    if (text)
        while (text[n]) ++n;
    return n;
}

WString Widen(std::string_view text, uint32_t codepage) { return pal::ToWide(text, codepage); }

String Narrow(std::u16string_view text, uint32_t codepage) { return pal::FromWide(text, codepage); }

namespace {

// Width or precision not given by '*'.
constexpr int kNoArg = INT_MIN;

// Appends one C conversion, formatted by the C library.
template <class T> void AppendOne(String &out, const std::string &pattern, int width, int precision, T value) {
    char buf[512];
    int n;
    if (width != kNoArg && precision != kNoArg)
        n = std::snprintf(buf, sizeof buf, pattern.c_str(), width, precision, value);
    else if (width != kNoArg) n = std::snprintf(buf, sizeof buf, pattern.c_str(), width, value);
    else if (precision != kNoArg) n = std::snprintf(buf, sizeof buf, pattern.c_str(), precision, value);
    else n = std::snprintf(buf, sizeof buf, pattern.c_str(), value);
    if (n < 0) return;
    if (size_t(n) < sizeof buf) {
        out.append(buf, size_t(n));
        return;
    }
    std::string big(size_t(n) + 1, '\0');
    if (width != kNoArg && precision != kNoArg)
        std::snprintf(&big[0], big.size(), pattern.c_str(), width, precision, value);
    else if (width != kNoArg) std::snprintf(&big[0], big.size(), pattern.c_str(), width, value);
    else if (precision != kNoArg) std::snprintf(&big[0], big.size(), pattern.c_str(), precision, value);
    else std::snprintf(&big[0], big.size(), pattern.c_str(), value);
    out.append(big.data(), size_t(n));
}

} // namespace

String VFormat(const char *format, va_list args) {
    String out;
    if (!format) return out;
    const char *p = format;
    while (*p) {
        const char *pct = std::strchr(p, '%');
        if (!pct) {
            out.append(p);
            break;
        }
        out.append(p, size_t(pct - p));
        const char *q = pct + 1;
        if (*q == '%') {
            out.push_back('%');
            p = q + 1;
            continue;
        }
        std::string pattern = "%";
        while (*q && std::strchr("-+ #0", *q)) pattern.push_back(*q++);
        // A '*' argument may be negative: the C rules (left-justify, no precision) apply.
        int width = kNoArg, precision = kNoArg;
        if (*q == '*') {
            width = va_arg(args, int);
            if (width == kNoArg) width = INT_MIN + 1;
            pattern.push_back(*q++);
        } else
            while (*q >= '0' && *q <= '9') pattern.push_back(*q++);
        if (*q == '.') {
            pattern.push_back(*q++);
            if (*q == '*') {
                precision = va_arg(args, int);
                if (precision == kNoArg) precision = -1;
                pattern.push_back(*q++);
            } else
                while (*q >= '0' && *q <= '9') pattern.push_back(*q++);
        }
        // Length modifiers; 'w' and 'h' before 's' select wide and narrow text.
        std::string length;
        bool wide = false, narrowText = false;
        if (*q == 'w' && q[1] == 's') {
            wide = true;
            ++q;
        } else if (*q == 'h' && q[1] == 's') {
            narrowText = true;
            ++q;
        } else {
            while (*q && std::strchr("hlLqjzt", *q)) length.push_back(*q++);
        }
        char conv = *q;
        if (!conv) {
            out.append(pct);
            break;
        }
        p = q + 1;
        if (conv == 'S') wide = true;
        if (wide && (conv == 's' || conv == 'S')) {
            const char16_t *w = va_arg(args, const char16_t *);
            String text = w ? Narrow(WideView(w), 0) : String("(NULL)");
            AppendOne(out, pattern + "s", width, precision, text.c_str());
            continue;
        }
        (void)narrowText;
        switch (conv) {
        case 'd':
        case 'i':
        case 'u':
        case 'x':
        case 'X':
        case 'o':
        case 'c': {
            std::string s = pattern + length + conv;
            // "l" is the 32-bit LONG/DWORD/HRESULT of the COM types, as on Windows;
            // reading a 64-bit long here would take garbage above a 32-bit argument.
            if (length == "l") AppendOne(out, pattern + conv, width, precision, va_arg(args, int));
            else if (length == "ll" || length == "q" || length == "j")
                AppendOne(out, s, width, precision, va_arg(args, long long));
            else if (length == "z" || length == "t") AppendOne(out, s, width, precision, va_arg(args, size_t));
            else AppendOne(out, s, width, precision, va_arg(args, int));
            break;
        }
        case 'e':
        case 'E':
        case 'f':
        case 'F':
        case 'g':
        case 'G':
        case 'a':
        case 'A':
            if (length == "L") AppendOne(out, pattern + "L" + conv, width, precision, va_arg(args, long double));
            else AppendOne(out, pattern + conv, width, precision, va_arg(args, double));
            break;
        case 's': {
            const char *s = va_arg(args, const char *);
            AppendOne(out, pattern + "s", width, precision, s ? s : "(null)");
            break;
        }
        case 'p':
            AppendOne(out, pattern + "p", width, precision, va_arg(args, void *));
            break;
        default:
            out.append(pct, size_t(p - pct));
            break;
        }
    }
    return out;
}

String Format(const char *format, ...) {
    va_list args;
    va_start(args, format);
    String r = VFormat(format, args);
    va_end(args);
    return r;
}

} // namespace kv

#include "pal/codepage.h"

#include <windows.h>

namespace kv::pal {

namespace {

// UTF-16 is not a code page the conversion functions accept; it is plain byte order.
bool IsUtf16(uint32_t codepage) { return codepage == 1200 || codepage == 1201; }

uint32_t Effective(uint32_t codepage) { return IsCodePageSupported(codepage) ? codepage : 0; }

} // namespace

uint32_t AnsiCodePage() { return GetACP(); }

bool IsCodePageSupported(uint32_t codepage) {
    return codepage == 0 || IsUtf16(codepage) || IsValidCodePage(codepage);
}

std::u16string ToWide(std::string_view text, uint32_t codepage) {
    std::u16string out;
    if (text.empty()) return out;
    codepage = Effective(codepage);
    if (IsUtf16(codepage)) {
        out.resize(text.size() / 2);
        int hi = codepage == 1200 ? 1 : 0;
        for (size_t i = 0; i < out.size(); ++i)
            out[i] = char16_t((unsigned char)text[2 * i + 1 - hi] | ((unsigned char)text[2 * i + hi] << 8));
        return out;
    }
    UINT cp = codepage ? codepage : CP_ACP;
    int n = MultiByteToWideChar(cp, 0, text.data(), int(text.size()), nullptr, 0);
    if (n <= 0) return out;
    out.resize(size_t(n));
    MultiByteToWideChar(cp, 0, text.data(), int(text.size()), reinterpret_cast<wchar_t *>(&out[0]), n);
    return out;
}

std::string FromWide(std::u16string_view text, uint32_t codepage) {
    std::string out;
    if (text.empty()) return out;
    codepage = Effective(codepage);
    if (IsUtf16(codepage)) {
        out.resize(text.size() * 2);
        int hi = codepage == 1200 ? 1 : 0;
        for (size_t i = 0; i < text.size(); ++i) {
            out[2 * i + hi] = char(text[i] >> 8);
            out[2 * i + 1 - hi] = char(text[i] & 0xFF);
        }
        return out;
    }
    UINT cp = codepage ? codepage : CP_ACP;
    // UTF-7 and UTF-8 take no default character.
    bool utf = cp == CP_UTF7 || cp == CP_UTF8;
    const wchar_t *in = reinterpret_cast<const wchar_t *>(text.data());
    int n = WideCharToMultiByte(cp, 0, in, int(text.size()), nullptr, 0, utf ? nullptr : "?", nullptr);
    if (n <= 0) return out;
    out.resize(size_t(n));
    WideCharToMultiByte(cp, 0, in, int(text.size()), &out[0], n, utf ? nullptr : "?", nullptr);
    return out;
}

} // namespace kv::pal

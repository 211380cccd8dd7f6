#include "pal/codepage.h"

#include <iconv.h>

#include <cerrno>
#include <cstring>
#include <mutex>
#include <utility>
#include <unordered_map>

namespace kv::pal {

namespace {

struct CodePageName {
    uint32_t codepage;
    const char *iconvName;
};

// Windows code pages and the iconv names that carry the same repertoire.
// 52936 (HZ) has no converter here: EUC-CN bytes labelled HZ would be garbage.
const CodePageName kCodePages[] = {
    {437, "CP437"},          {737, "CP737"},          {775, "CP775"},          {850, "CP850"},
    {852, "CP852"},          {855, "CP855"},          {857, "CP857"},          {860, "CP860"},
    {861, "CP861"},          {862, "CP862"},          {863, "CP863"},          {865, "CP865"},
    {866, "CP866"},          {869, "CP869"},          {874, "CP874"},          {932, "CP932"},
    {936, "CP936"},          {949, "CP949"},          {950, "CP950"},          {1200, "UTF-16LE"},
    {1201, "UTF-16BE"},      {1250, "CP1250"},        {1251, "CP1251"},        {1252, "CP1252"},
    {1253, "CP1253"},        {1254, "CP1254"},        {1255, "CP1255"},        {1256, "CP1256"},
    {1257, "CP1257"},        {1258, "CP1258"},        {10000, "MACINTOSH"},    {20105, "ISO_646.IRV:1991"},
    {20106, "ISO646-DE"},    {20107, "ISO646-SE"},    {20108, "ISO646-NO"},    {20127, "ASCII"},
    {20866, "KOI8-R"},       {21866, "KOI8-U"},       {28591, "ISO-8859-1"},   {28592, "ISO-8859-2"},
    {28593, "ISO-8859-3"},   {28594, "ISO-8859-4"},   {28595, "ISO-8859-5"},   {28596, "ISO-8859-6"},
    {28597, "ISO-8859-7"},   {28598, "ISO-8859-8"},   {28599, "ISO-8859-9"},   {28603, "ISO-8859-13"},
    {28605, "ISO-8859-15"},  {38598, "ISO-8859-8"},   {50220, "ISO-2022-JP"},  {50221, "ISO-2022-JP"},
    {50222, "ISO-2022-JP"},  {50225, "ISO-2022-KR"},  {50932, "EUC-JP"},       {50949, "EUC-KR"},
    {51932, "EUC-JP"},       {51949, "EUC-KR"},       {54936, "GB18030"},
    {65000, "UTF-7"},
};

const char *IconvName(uint32_t codepage) {
    for (const auto &row : kCodePages)
        if (row.codepage == codepage) return row.iconvName;
    return nullptr;
}

void AppendUtf16FromUtf8(std::string_view in, std::u16string &out) {
    out.reserve(out.size() + in.size());
    const unsigned char *p = reinterpret_cast<const unsigned char *>(in.data());
    const unsigned char *end = p + in.size();
    while (p < end) {
        unsigned c = *p;
        if (c < 0x80) {
            out.push_back(char16_t(c));
            ++p;
            continue;
        }
        int extra;
        unsigned cp, min;
        if ((c & 0xE0) == 0xC0) extra = 1, cp = c & 0x1F, min = 0x80;
        else if ((c & 0xF0) == 0xE0) extra = 2, cp = c & 0x0F, min = 0x800;
        else if ((c & 0xF8) == 0xF0) extra = 3, cp = c & 0x07, min = 0x10000;
        else {
            out.push_back(u'\uFFFD');
            ++p;
            continue;
        }
        if (end - p <= extra) {
            out.push_back(u'\uFFFD');
            ++p;
            continue;
        }
        bool ok = true;
        for (int i = 1; i <= extra; ++i) {
            if ((p[i] & 0xC0) != 0x80) {
                ok = false;
                break;
            }
            cp = (cp << 6) | (p[i] & 0x3F);
        }
        if (!ok || cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
            out.push_back(u'\uFFFD');
            ++p;
            continue;
        }
        p += extra + 1;
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out.push_back(char16_t(0xD800 + (cp >> 10)));
            out.push_back(char16_t(0xDC00 + (cp & 0x3FF)));
        } else
            out.push_back(char16_t(cp));
    }
}

void AppendUtf8FromUtf16(std::u16string_view in, std::string &out) {
    out.reserve(out.size() + in.size());
    for (size_t i = 0; i < in.size(); ++i) {
        unsigned c = in[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < in.size() && in[i + 1] >= 0xDC00 && in[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (in[i + 1] - 0xDC00);
            ++i;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = 0xFFFD;
        }
        if (c < 0x80) out.push_back(char(c));
        else if (c < 0x800) {
            out.push_back(char(0xC0 | (c >> 6)));
            out.push_back(char(0x80 | (c & 0x3F)));
        } else if (c < 0x10000) {
            out.push_back(char(0xE0 | (c >> 12)));
            out.push_back(char(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(char(0x80 | (c & 0x3F)));
        } else {
            out.push_back(char(0xF0 | (c >> 18)));
            out.push_back(char(0x80 | ((c >> 12) & 0x3F)));
            out.push_back(char(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(char(0x80 | (c & 0x3F)));
        }
    }
}

// Converts with iconv; an invalid or unmappable input unit is replaced and skipped.
bool IconvConvert(const char *to, const char *from, const char *in, size_t inLen, size_t unit,
                  const char *replacement, size_t replacementLen, std::string &out) {
    iconv_t cd = iconv_open(to, from);
    if (cd == (iconv_t)-1) return false;
    char buf[4096];
    char *src = const_cast<char *>(in);
    size_t left = inLen;
    while (left > 0) {
        char *dst = buf;
        size_t room = sizeof buf;
        size_t r = iconv(cd, &src, &left, &dst, &room);
        out.append(buf, size_t(dst - buf));
        if (r == (size_t)-1) {
            if (errno == E2BIG) continue;
            // EILSEQ or EINVAL (truncated input): replace one unit and go on.
            // A stateful encoder (ISO-2022) first writes its way back to the
            // initial state, or the replacement would be read as a double byte.
            dst = buf;
            room = sizeof buf;
            iconv(cd, nullptr, nullptr, &dst, &room);
            out.append(buf, size_t(dst - buf));
            out.append(replacement, replacementLen);
            size_t skip = unit < left ? unit : left;
            src += skip;
            left -= skip;
        }
    }
    char *dst = buf;
    size_t room = sizeof buf;
    iconv(cd, nullptr, nullptr, &dst, &room); // flush shift state
    out.append(buf, size_t(dst - buf));
    iconv_close(cd);
    return true;
}

} // namespace

uint32_t AnsiCodePage() { return 65001; }

bool IsCodePageSupported(uint32_t codepage) {
    if (codepage == 0 || codepage == 65001) return true;
    const char *name = IconvName(codepage);
    if (!name) return false;
    static std::mutex lock;
    static std::unordered_map<uint32_t, bool> known;
    std::lock_guard<std::mutex> guard(lock);
    auto it = known.find(codepage);
    if (it != known.end()) return it->second;
    iconv_t cd = iconv_open("UTF-16LE", name);
    bool ok = cd != (iconv_t)-1;
    if (ok) iconv_close(cd);
    known[codepage] = ok;
    return ok;
}

std::u16string ToWide(std::string_view text, uint32_t codepage) {
    std::u16string out;
    if (text.empty()) return out;
    if (codepage == 0 || codepage == 65001 || !IsCodePageSupported(codepage)) {
        AppendUtf16FromUtf8(text, out);
        return out;
    }
    if (codepage == 1200 || codepage == 1201) {
        // Code units as they are, lone surrogates included; a trailing odd byte is no character.
        const int hi = codepage == 1201 ? 0 : 1;
        out.resize(text.size() / 2);
        for (size_t i = 0; i < out.size(); ++i)
            out[i] = char16_t((unsigned char)text[2 * i + size_t(1 - hi)] | ((unsigned char)text[2 * i + size_t(hi)] << 8));
        if (text.size() % 2) out.push_back(u'\uFFFD');
        return out;
    }
    std::string raw;
    static const char kReplacement[] = {'\xFD', '\xFF'}; // U+FFFD, little-endian
    IconvConvert("UTF-16LE", IconvName(codepage), text.data(), text.size(), 1, kReplacement, 2, raw);
    out.resize(raw.size() / 2);
    for (size_t i = 0; i < out.size(); ++i)
        out[i] = char16_t((unsigned char)raw[2 * i] | ((unsigned char)raw[2 * i + 1] << 8));
    return out;
}

std::string FromWide(std::u16string_view text, uint32_t codepage) {
    std::string out;
    if (text.empty()) return out;
    if (codepage == 0 || codepage == 65001 || !IsCodePageSupported(codepage)) {
        AppendUtf8FromUtf16(text, out);
        return out;
    }
    std::string raw(text.size() * 2, '\0');
    for (size_t i = 0; i < text.size(); ++i) {
        raw[2 * i] = char(text[i] & 0xFF);
        raw[2 * i + 1] = char(text[i] >> 8);
    }
    if (codepage == 1200) return raw;
    if (codepage == 1201) {
        for (size_t i = 0; i < raw.size(); i += 2) std::swap(raw[i], raw[i + 1]);
        return raw;
    }
    IconvConvert(IconvName(codepage), "UTF-16LE", raw.data(), raw.size(), 2, "?", 1, out);
    return out;
}

} // namespace kv::pal

#include "text.h"

#include <cstdio>

namespace kvmail {

namespace {

// Length of the well-formed UTF-8 sequence at text[i] (shortest form, no
// surrogates), or 0.
size_t SequenceLength(std::string_view text, size_t i) {
    unsigned char c = (unsigned char)text[i];
    size_t n;
    unsigned cp, min;
    if (c < 0x80) return 1;
    if ((c & 0xE0) == 0xC0) n = 2, cp = c & 0x1Fu, min = 0x80;
    else if ((c & 0xF0) == 0xE0) n = 3, cp = c & 0x0Fu, min = 0x800;
    else if ((c & 0xF8) == 0xF0) n = 4, cp = c & 0x07u, min = 0x10000;
    else return 0;
    if (i + n > text.size()) return 0;
    for (size_t k = 1; k < n; ++k) {
        unsigned char t = (unsigned char)text[i + k];
        if ((t & 0xC0) != 0x80) return 0;
        cp = (cp << 6) | (t & 0x3Fu);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
    return n;
}

bool IsC1(std::string_view text, size_t i, size_t n) {
    return n == 2 && (unsigned char)text[i] == 0xC2 && (unsigned char)text[i + 1] < 0xA0;
}

} // namespace

std::string EscapeText(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    char escape[8];
    for (size_t i = 0; i < text.size();) {
        unsigned char c = (unsigned char)text[i];
        size_t n = SequenceLength(text, i);
        if (n == 0 || c < 0x20 || c == 0x7F) {
            std::snprintf(escape, sizeof escape, "\\x%02x", c);
            out += escape;
            ++i;
        } else if (IsC1(text, i, n)) {
            std::snprintf(escape, sizeof escape, "\\u%04x", (unsigned char)text[i + 1]);
            out += escape;
            i += n;
        } else {
            out.append(text.substr(i, n));
            i += n;
        }
    }
    return out;
}

std::string SafeFileName(std::string_view name) {
    size_t slash = name.find_last_of("/\\");
    if (slash != std::string_view::npos) name.remove_prefix(slash + 1);
    std::string out;
    for (size_t i = 0; i < name.size();) {
        unsigned char c = (unsigned char)name[i];
        size_t n = SequenceLength(name, i);
        bool reserved = n == 0 || c < 0x20 || c == 0x7F || IsC1(name, i, n) ||
                        std::string_view("<>:\"|?*").find(char(c)) != std::string_view::npos;
        if (reserved) out += '_', n = n ? n : 1;
        else out.append(name.substr(i, n));
        i += n;
    }
    size_t first = out.find_first_not_of(". ");
    size_t last = out.find_last_not_of(". ");
    out = first == std::string::npos ? std::string() : out.substr(first, last - first + 1);
    if (out.size() > kMaxFileName) {
        size_t dot = out.rfind('.');
        std::string extension = dot != std::string::npos && out.size() - dot <= 16 ? out.substr(dot) : "";
        size_t keep = kMaxFileName - extension.size();
        // Never cut a character in two.
        while (keep > 0 && ((unsigned char)out[keep] & 0xC0) == 0x80) --keep;
        out = out.substr(0, keep) + extension;
    }
    return out.empty() ? "attachment" : out;
}

std::string NumberedName(const std::string &name, unsigned k) {
    if (k == 0) return name;
    size_t dot = name.rfind('.');
    if (dot == std::string::npos || dot == 0) dot = name.size();
    return name.substr(0, dot) + "-" + std::to_string(k) + name.substr(dot);
}

} // namespace kvmail

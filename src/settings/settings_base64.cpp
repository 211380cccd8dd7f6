#include "settings/settings_base64.h"

#include "pal/system.h"

namespace kv::settings {

namespace {

const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

int SextetOf(char16_t c) {
    if (c >= u'A' && c <= u'Z') return c - u'A';
    if (c >= u'a' && c <= u'z') return c - u'a' + 26;
    if (c >= u'0' && c <= u'9') return c - u'0' + 52;
    if (c == u'+') return 62;
    if (c == u'/') return 63;
    return -1;
}

bool BadFormat(std::vector<uint8_t> &out) {
    out.clear();
    pal::DebugOutput("ERR: Base64 string has bad format!");
    return false;
}

} // namespace

std::string Base64Encode(const uint8_t *data, size_t length) {
    std::string out;
    out.reserve((length + 2) / 3 * 4);
    size_t i = 0;
    for (; i + 3 <= length; i += 3) {
        uint32_t v = uint32_t(data[i]) << 16 | uint32_t(data[i + 1]) << 8 | data[i + 2];
        out += kAlphabet[v >> 18];
        out += kAlphabet[(v >> 12) & 63];
        out += kAlphabet[(v >> 6) & 63];
        out += kAlphabet[v & 63];
    }
    if (size_t rest = length - i) {
        uint32_t v = uint32_t(data[i]) << 16 | (rest == 2 ? uint32_t(data[i + 1]) << 8 : 0);
        out += kAlphabet[v >> 18];
        out += kAlphabet[(v >> 12) & 63];
        out += rest == 2 ? kAlphabet[(v >> 6) & 63] : '=';
        out += '=';
    }
    return out;
}

bool Base64Decode(std::u16string_view text, std::vector<uint8_t> &out, Base64Groups groups) {
    out.clear();
    out.reserve(text.size() / 4 * 3);
    uint32_t group = 0;
    int filled = 0;  // characters of the current group
    int padding = 0; // "=" seen in the current group
    bool ended = false;
    for (char16_t c : text) {
        int v = SextetOf(c);
        if (v < 0 && c != u'=') continue;
        if (ended) return BadFormat(out);
        if (c == u'=') {
            if (filled < 2) return BadFormat(out);
            ++padding;
            v = 0;
        } else if (padding) {
            return BadFormat(out);
        }
        group = group << 6 | uint32_t(v);
        if (++filled < 4) continue;
        size_t bytes = groups == Base64Groups::Whole ? 3 : size_t(3 - padding);
        const uint8_t b[3] = {uint8_t(group >> 16), uint8_t(group >> 8), uint8_t(group)};
        out.insert(out.end(), b, b + bytes);
        ended = padding != 0;
        group = 0;
        filled = 0;
        padding = 0;
    }
    if (filled) return BadFormat(out);
    return true;
}

} // namespace kv::settings

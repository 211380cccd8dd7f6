#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

#include "mime/base64.h"
#include "pal/codepage.h"

namespace kv {

namespace codec {

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr uint8_t kSkip = 0x80; // outside the alphabet
constexpr uint8_t kPad = 0x40;  // "="

constexpr std::array<uint8_t, 256> MakeDecodeTable() {
    std::array<uint8_t, 256> t{};
    for (auto &v : t) v = kSkip;
    for (int i = 0; i < 64; ++i) t[uint8_t(kAlphabet[i])] = uint8_t(i);
    t['='] = kPad;
    return t;
}
constexpr std::array<uint8_t, 256> kDecode = MakeDecodeTable();

// For each place in a group, what a character adds to the little-endian
// word of the group's three bytes; kNotPlaced for "=" and what is not in the
// alphabet.
constexpr uint32_t kNotPlaced = 0x01000000;
constexpr std::array<std::array<uint32_t, 256>, 4> MakePlacedTables() {
    std::array<std::array<uint32_t, 256>, 4> t{};
    for (int c = 0; c < 256; ++c) {
        uint32_t v = kDecode[c];
        bool ok = !(v & (kSkip | kPad));
        t[0][c] = ok ? v << 2 : kNotPlaced;
        t[1][c] = ok ? (v >> 4) | ((v & 15) << 12) : kNotPlaced;
        t[2][c] = ok ? ((v >> 2) << 8) | ((v & 3) << 22) : kNotPlaced;
        t[3][c] = ok ? v << 16 : kNotPlaced;
    }
    return t;
}
constexpr std::array<std::array<uint32_t, 256>, 4> kPlaced = MakePlacedTables();

// Two output characters for every 12 input bits.
constexpr std::array<char, 8192> MakePairTable() {
    std::array<char, 8192> t{};
    for (int i = 0; i < 4096; ++i) {
        t[2 * i] = kAlphabet[i >> 6];
        t[2 * i + 1] = kAlphabet[i & 63];
    }
    return t;
}
constexpr std::array<char, 8192> kPairs = MakePairTable();

inline void EncodeGroup(const uint8_t *in, char *out) {
    uint32_t v = uint32_t(in[0]) << 16 | uint32_t(in[1]) << 8 | in[2];
    std::memcpy(out, &kPairs[(v >> 12) * 2], 2);
    std::memcpy(out + 2, &kPairs[(v & 0xFFF) * 2], 2);
}

// Whole groups of three; returns the characters written.
inline size_t EncodeWholeGroups(const uint8_t *in, size_t groups, char *out) {
    for (size_t g = 0; g < groups; ++g) EncodeGroup(in + 3 * g, out + 4 * g);
    return groups * 4;
}

size_t EncodeTail(const uint8_t *in, size_t n, char *out, bool pad) {
    size_t groups = n / 3;
    char *o = out + EncodeWholeGroups(in, groups, out);
    size_t rest = n - groups * 3;
    if (rest) {
        uint8_t last[3] = {in[groups * 3], uint8_t(rest == 2 ? in[groups * 3 + 1] : 0), 0};
        EncodeGroup(last, o);
        if (pad) {
            o[3] = '=';
            if (rest == 1) o[2] = '=';
        }
        o += 4;
    }
    return size_t(o - out);
}

// The one or two bytes of a group that ends after two or three characters.
inline size_t EndGroup(Base64Decoder &s, uint8_t *out) {
    size_t count = s.values > 1 ? s.values - 1u : 0;
    uint32_t bits = s.bits << (6 * (4 - s.values));
    for (size_t i = 0; i < count; ++i) out[i] = uint8_t(bits >> (16 - 8 * i));
    s = Base64Decoder();
    return count;
}

} // namespace

size_t Base64Encode(const uint8_t *in, size_t n, char *out) { return EncodeTail(in, n, out, true); }

size_t Base64EncodeUnpadded(const uint8_t *in, size_t n, char *out) { return EncodeTail(in, n, out, false); }

size_t Base64EncodeLines(const uint8_t *in, size_t n, char *out) {
    char *o = out;
    while (n >= kBase64LineBytes) {
        __builtin_prefetch(in + 1024); // far enough ahead for large bodies
        o += EncodeWholeGroups(in, kBase64LineBytes / 3, o);
        *o++ = '\r';
        *o++ = '\n';
        in += kBase64LineBytes;
        n -= kBase64LineBytes;
    }
    if (n) {
        o += EncodeTail(in, n, o, true);
        *o++ = '\r';
        *o++ = '\n';
    }
    return size_t(o - out);
}

size_t Base64DecodeEnd(Base64Decoder &s, uint8_t *out) { return EndGroup(s, out); }

size_t Base64DecodeStep(Base64Decoder &s, const char *text, size_t n, uint8_t *out) {
    const uint8_t *p = reinterpret_cast<const uint8_t *>(text);
    const uint8_t *end = p + n;
    uint8_t *o = out;
    while (p < end) {
        if (s.values == 0) {
            // Whole groups of four alphabet characters: the common case.
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
            // Each character's bits already in place for a four-byte store of
            // the group's three bytes (the output has room for the fourth).
            while (end - p >= 8) {
                __builtin_prefetch(p + 1024); // far enough ahead for large bodies
                uint32_t x = kPlaced[0][p[0]] | kPlaced[1][p[1]] | kPlaced[2][p[2]] | kPlaced[3][p[3]];
                uint32_t y = kPlaced[0][p[4]] | kPlaced[1][p[5]] | kPlaced[2][p[6]] | kPlaced[3][p[7]];
                if ((x | y) & kNotPlaced) break;
                std::memcpy(o, &x, 4);
                std::memcpy(o + 3, &y, 4);
                o += 6;
                p += 8;
            }
#endif
            while (end - p >= 4) {
                uint8_t a = kDecode[p[0]], b = kDecode[p[1]], c = kDecode[p[2]], d = kDecode[p[3]];
                if ((a | b | c | d) & (kSkip | kPad)) break;
                uint32_t v = uint32_t(a) << 18 | uint32_t(b) << 12 | uint32_t(c) << 6 | d;
                o[0] = uint8_t(v >> 16);
                o[1] = uint8_t(v >> 8);
                o[2] = uint8_t(v);
                o += 3;
                p += 4;
            }
            if (p == end) break;
        }
        // A line end, padding, or a group that a line end cut.
        uint8_t v = kDecode[*p++];
        if (v & kSkip) continue;
        if (v == kPad) {
            if (s.values >= 2) o += EndGroup(s, o);
            continue;
        }
        s.bits = s.bits << 6 | v;
        if (++s.values == 4) {
            o[0] = uint8_t(s.bits >> 16);
            o[1] = uint8_t(s.bits >> 8);
            o[2] = uint8_t(s.bits);
            o += 3;
            s = Base64Decoder();
        }
    }
    return size_t(o - out);
}

} // namespace codec

namespace {

String EncodeToString(const void *bytes, size_t length, bool pad) {
    String out(codec::Base64EncodedLength(length), '\0');
    const uint8_t *in = static_cast<const uint8_t *>(bytes);
    size_t n = pad ? codec::Base64Encode(in, length, &out[0]) : codec::Base64EncodeUnpadded(in, length, &out[0]);
    out.resize(n);
    return out;
}

} // namespace

String EncodeBase64(const void *bytes, size_t length) { return EncodeToString(bytes, length, true); }

String EncodeBase64(const String &text, uint32_t codepage) {
    uint32_t ansi = pal::AnsiCodePage();
    if (codepage == 0 || codepage == ansi || !pal::IsCodePageSupported(codepage))
        return EncodeBase64(text.data(), text.size());
    String converted = Narrow(Widen(text, 0), codepage);
    return EncodeBase64(converted.data(), converted.size());
}

String EncodeBase64Unpadded(const void *bytes, size_t length) { return EncodeToString(bytes, length, false); }

String EncodeBase64Unpadded(std::u16string_view text) {
    String bytes = Narrow(text, 1252);
    bytes.push_back('\0');
    return EncodeBase64Unpadded(bytes.data(), bytes.size());
}

String DecodeBase64(std::string_view text) {
    String out(codec::Base64DecodeMaxLength(text.size()), '\0');
    uint8_t *o = reinterpret_cast<uint8_t *>(&out[0]);
    codec::Base64Decoder state;
    size_t n = codec::Base64DecodeStep(state, text.data(), text.size(), o);
    n += codec::Base64DecodeEnd(state, o + n);
    out.resize(std::find(out.begin(), out.begin() + ptrdiff_t(n), '\0') - out.begin());
    return out;
}

void DecodeBase64Lines(clsLineText lines, const clsOutputTarget &target) {
    DecodeTextInPieces<codec::Base64Decoder>(lines.text, 256 * 1024, target, codec::Base64DecodeMaxLength,
                                             codec::Base64DecodeStep, codec::Base64DecodeEnd);
}

} // namespace kv

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "mime/quoted_printable.h"

namespace kv {

namespace codec {

namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";

enum : uint8_t { kLiteral = 0, kEncode = 1, kSpecial = 2 };

constexpr std::array<uint8_t, 256> MakeEncodeClasses() {
    std::array<uint8_t, 256> t{};
    for (int c = 0; c < 256; ++c) t[c] = (c >= 0x20 && c <= 0x7E) ? kLiteral : kEncode;
    // Characters that some gateways change (the EBCDIC-unsafe set) go encoded.
    const char unsafe[] = "=!\"#$@[\\]^`{|}~";
    for (size_t k = 0; k + 1 < sizeof unsafe; ++k) t[uint8_t(unsafe[k])] = kEncode;
    // Bytes whose encoding depends on where they stand.
    t[uint8_t(' ')] = kSpecial;
    t[uint8_t('.')] = kSpecial;
    t[uint8_t('\r')] = kSpecial;
    return t;
}
constexpr std::array<uint8_t, 256> kEncodeClass = MakeEncodeClasses();

// "=XX" for every byte, padded to four so it can be stored in one move.
constexpr std::array<std::array<char, 4>, 256> MakeEncodedForms() {
    std::array<std::array<char, 4>, 256> t{};
    for (int c = 0; c < 256; ++c) t[c] = {'=', kHexDigits[c >> 4], kHexDigits[c & 15], 0};
    return t;
}
constexpr std::array<std::array<char, 4>, 256> kEncoded = MakeEncodedForms();

// What a byte becomes where nothing about its place matters: itself, or "=XX".
constexpr std::array<std::array<char, 4>, 256> MakeForms() {
    std::array<std::array<char, 4>, 256> t = MakeEncodedForms();
    for (int c = 0; c < 256; ++c)
        if (kEncodeClass[c] != kEncode) t[c] = {char(c), 0, 0, 0};
    return t;
}
constexpr std::array<std::array<char, 4>, 256> kForms = MakeForms();

constexpr std::array<uint8_t, 256> MakeFormLengths() {
    std::array<uint8_t, 256> t{};
    for (int c = 0; c < 256; ++c) t[c] = kEncodeClass[c] == kEncode ? 3 : 1;
    return t;
}
constexpr std::array<uint8_t, 256> kFormLength = MakeFormLengths();

#if !defined(__SSE2__)
// 1 for bytes copied as they are anywhere but at a line start or before a
// line end: the safe characters, the blank and the period.
constexpr std::array<uint8_t, 256> MakePlainBytes() {
    std::array<uint8_t, 256> t{};
    for (int c = 0; c < 256; ++c) t[c] = kEncodeClass[c] == kLiteral || c == ' ' || c == '.';
    return t;
}
constexpr std::array<uint8_t, 256> kPlain = MakePlainBytes();
#endif

enum : uint8_t { kCopy = 0, kLineEnd = 2, kBlank = 4 };

constexpr std::array<uint8_t, 256> MakeDecodeClasses() {
    std::array<uint8_t, 256> t{};
    t[uint8_t('\r')] = kLineEnd;
    t[uint8_t('\n')] = kLineEnd;
    t[uint8_t(' ')] = kBlank;
    t[uint8_t('\t')] = kBlank;
    return t;
}
constexpr std::array<uint8_t, 256> kDecodeClass = MakeDecodeClasses();

// A hex digit's value in two tables: the byte is high[a] + low[b]; kNoDigit
// marks what is no hex digit, and a sum with kNoPair bits is no hex pair.
constexpr uint16_t kNoDigit = 0x100, kNoPair = 0x300;
constexpr std::array<uint16_t, 256> MakeHexTable(unsigned factor) {
    std::array<uint16_t, 256> t{};
    for (unsigned c = 0; c < 256; ++c) {
        int digit = c >= '0' && c <= '9' ? int(c - '0') : c >= 'A' && c <= 'F' ? int(c - 'A' + 10)
                                                        : c >= 'a' && c <= 'f' ? int(c - 'a' + 10) : -1;
        t[c] = digit < 0 ? kNoDigit : uint16_t(unsigned(digit) * factor);
    }
    return t;
}
constexpr std::array<uint16_t, 256> kHexHigh = MakeHexTable(16);
constexpr std::array<uint16_t, 256> kHexLow = MakeHexTable(1);

inline bool IsLineEnd(uint8_t c) { return c == '\r' || c == '\n'; }
inline bool IsBlank(uint8_t c) { return c == ' ' || c == '\t'; }
inline bool IsHexDigit(uint8_t c) { return kHexLow[c] != kNoDigit; }

// Marks (top bit) the bytes of w that equal b.
inline uint64_t ByteMask(uint64_t w, uint8_t b) {
    constexpr uint64_t kLow7 = 0x7F7F7F7F7F7F7F7Full;
    uint64_t x = w ^ (0x0101010101010101ull * b);
    return ~(((x & kLow7) + kLow7) | x | kLow7);
}
// Index of the first marked byte in memory order.
inline size_t FirstMarked(uint64_t mask) {
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
    return size_t(__builtin_clzll(mask)) / 8;
#else
    return size_t(__builtin_ctzll(mask)) / 8;
#endif
}

// Whether the current line, four characters long, reads "From". Its start
// may lie in the output of an earlier call, kept in the state.
bool LineIsFrom(const QpEncoder &s, const char *out, const char *o) {
    size_t written = size_t(o - out);
    char head[4];
    if (written >= 4) {
        std::memcpy(head, o - 4, 4);
    } else {
        std::memcpy(head, s.head, 4);
        std::memcpy(head + 4 - written, o - written, written);
    }
    return std::memcmp(head, "From", 4) == 0;
}

// One character of the decoder, in any state. An "=" that starts no escape
// and no soft line break (RFC 2045: two hex digits, or the line end, perhaps
// after one blank) stays as it stands, and so does what follows it.
inline void DecodeOne(QpDecoder &s, uint8_t c, uint8_t *&o) {
    if (s.afterCR) {
        s.afterCR = false;
        if (c == '\n') return;
    }
    if (s.pending) {
        uint8_t held = uint8_t(s.held);
        bool softBreak = IsLineEnd(c) && (s.pending == 1 || IsBlank(held));
        if (softBreak) {
            s.pending = 0;
            s.lineOpen = false;
            s.afterCR = c == '\r';
            return;
        }
        if (s.pending == 1 && (IsHexDigit(c) || IsBlank(c))) {
            s.held = char(c);
            s.pending = 2;
            return;
        }
        if (s.pending == 2 && IsHexDigit(held) && IsHexDigit(c)) {
            *o++ = uint8_t(kHexHigh[held] + kHexLow[c]);
            s.pending = 0;
            return;
        }
        *o++ = '=';
        if (s.pending == 2) *o++ = held;
        s.pending = 0;
    }
    if (c == '=') {
        s.pending = 1;
        s.lineOpen = true;
    } else if (IsLineEnd(c)) {
        o[0] = '\r';
        o[1] = '\n';
        o += 2;
        s.lineOpen = false;
        s.afterCR = c == '\r';
    } else {
        *o++ = c;
        s.lineOpen = true;
    }
}

} // namespace

size_t QpEncodeStep(QpEncoder &s, const uint8_t *in, size_t n, bool final, char *out, size_t *consumed) {
    char *o = out;
    size_t line = s.lineLength;
    size_t i = 0;
    while (i < n) {
        __builtin_prefetch(in + i + 1024); // far enough ahead for large bodies
        uint8_t c = in[i];
        bool atLineEnd = false;
        if (c == '\r') {
            if (i + 1 == n && !final) break; // is an LF next?
            if (i + 1 < n && in[i + 1] == '\n') {
                std::memcpy(o, "\r\n", 2);
                o += 2;
                line = 0;
                i += 2;
                continue;
            }
        } else if (c == ' ') {
            if (i + 1 == n && !final) break; // does a line end follow?
            if (i + 2 == n && in[i + 1] == '\r' && !final) break;
            atLineEnd = i + 1 == n || (in[i + 1] == '\r' && i + 2 < n && in[i + 2] == '\n');
        }
        if (line > 72) {
            std::memcpy(o, "=\r\n", 3);
            o += 3;
            line = 0;
        }
        // The common case: a run of bytes that are all copied as they are,
        // past the line's fifth character (no leading period, no "From "
        // test) and within the room the line has left. A blank right before
        // a CR may be a trailing one and ends the run.
        bool progressed = false;
#if defined(__SSE2__)
        while (line >= 5 && line <= 72 && n - i >= 17) {
            const uint8_t *b = in + i;
            if (kEncodeClass[b[0]] == kEncode) { // "=XX" wherever it stands
                std::memcpy(o, kEncoded[b[0]].data(), 4);
                o += 3;
                line += 3;
                ++i;
                progressed = true;
                continue;
            }
            __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(b));
            auto within = [&](char lo, char hi) {
                __m128i t = _mm_sub_epi8(v, _mm_set1_epi8(lo));
                return _mm_cmpeq_epi8(_mm_min_epu8(t, _mm_set1_epi8(char(hi - lo))), t);
            };
            // Blank, "%" to "<" (with the period), ">" "?", "A" to "Z", "_", "a" to "z".
            __m128i plain = _mm_or_si128(
                _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8(' ')), within('%', '<')),
                             _mm_or_si128(within('>', '?'), within('A', 'Z'))),
                _mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8('_')), within('a', 'z')));
            unsigned other = ~unsigned(_mm_movemask_epi8(plain)) & 0xFFFFu;
            size_t run = std::min<size_t>(other ? size_t(__builtin_ctz(other)) : 16, 73 - line);
            if (run > 0 && b[run - 1] == ' ' && b[run] == '\r') --run;
            if (run == 0) break;
            _mm_storeu_si128(reinterpret_cast<__m128i *>(o), v); // the output has room for the block
            o += run;
            line += run;
            i += run;
            progressed = true;
            if (run < 3) break; // short runs go faster byte by byte
        }
#else
        while (line >= 5 && line <= 65 && n - i >= 9) {
            const uint8_t *b = in + i;
            if (!(kPlain[b[0]] & kPlain[b[1]] & kPlain[b[2]] & kPlain[b[3]] & kPlain[b[4]] & kPlain[b[5]] &
                  kPlain[b[6]] & kPlain[b[7]]) ||
                b[8] == '\r')
                break;
            std::memcpy(o, b, 8);
            o += 8;
            line += 8;
            i += 8;
            progressed = true;
        }
#endif
        // Then byte by byte for a while: bytes whose form does not depend on
        // their place, and blanks and periods where it does not matter. The
        // last input byte is left to the general path below.
        size_t stop = std::min(n - 1, i + 16);
        while (i < stop && line <= 72) {
            uint8_t d = in[i];
            bool placed = (d == '\r') | ((d == '.') & (line == 0)) |
                          ((d == ' ') & ((in[i + 1] == '\r') | (line == 4)));
            if (placed) break;
            std::memcpy(o, kForms[d].data(), 4); // the output has room for the padding
            size_t length = kFormLength[d];
            o += length;
            line += length;
            ++i;
            progressed = true;
        }
        if (progressed) continue;
        bool encode;
        if (c == ' ') {
            // A blank before a line end would be stripped in transport; one
            // after a leading "From" would make the line look like an mbox separator.
            encode = atLineEnd || (line == 4 && LineIsFrom(s, out, o));
        } else {
            // Bytes outside the safe set, a lone CR, a period opening the line.
            encode = kEncodeClass[c] == kEncode || c == '\r' || (c == '.' && line == 0);
        }
        if (encode) {
            std::memcpy(o, kEncoded[c].data(), 4); // the output has room for the padding
            o += 3;
            line += 3;
        } else {
            *o++ = char(c);
            ++line;
        }
        ++i;
    }
    if (final && i == n && line > 0) {
        std::memcpy(o, "\r\n", 2);
        o += 2;
        line = 0;
    }
    // Keep what of the line's first four characters this call wrote.
    size_t written = size_t(o - out);
    if (line <= 4) {
        size_t k = std::min(line, written);
        std::memcpy(s.head + (line - k), o - k, k);
    }
    s.lineLength = line;
    *consumed = i;
    return written;
}

bool QpEndsInSoftBreak(const char *text, size_t n) {
    for (size_t i = 0; i < n; ++i) {
        if (text[i] != '=') continue;
        size_t rest = n - i - 1;
        if (rest == 0 || (rest == 1 && IsBlank(uint8_t(text[i + 1])))) return true;
        if (rest >= 2 && IsHexDigit(uint8_t(text[i + 1])) && IsHexDigit(uint8_t(text[i + 2]))) i += 2;
    }
    return false;
}

size_t QpDecodeLine(const char *text, size_t n, uint8_t *out) {
    const uint8_t *in = reinterpret_cast<const uint8_t *>(text);
    uint8_t *o = out;
    size_t i = 0;
    while (i < n) {
        uint8_t c = in[i];
        if (c != '=') {
            *o++ = c;
            ++i;
            continue;
        }
        size_t rest = n - i - 1;
        if (rest == 0 || (rest == 1 && IsBlank(in[i + 1]))) return size_t(o - out); // soft line break
        if (rest >= 2) {
            uint16_t v = kHexHigh[in[i + 1]] + kHexLow[in[i + 2]];
            if (!(v & kNoPair)) {
                *o++ = uint8_t(v);
                i += 3;
                continue;
            }
        }
        *o++ = '='; // no escape: kept as it stands
        ++i;
    }
    o[0] = '\r';
    o[1] = '\n';
    return size_t(o - out) + 2;
}

size_t QpDecodeStep(QpDecoder &s, const char *text, size_t n, uint8_t *out) {
    const uint8_t *p = reinterpret_cast<const uint8_t *>(text);
    const uint8_t *end = p + n;
    uint8_t *o = out;
    while (p < end && (s.pending || s.afterCR)) DecodeOne(s, *p++, o);
    // Runs of plain characters are copied a block at a time up to the next
    // "=", CR or LF, which is then settled on the spot; ten characters in view
    // beyond the block cover every case. The output has room for a whole
    // block (two bytes per input character).
    const uint8_t *fastStart = p;
    const uint8_t *lineStart = nullptr; // after the last line end seen here
    auto settle = [&] {
        uint8_t c = *p;
        if (c == '=') {
            // A soft line break (the line ends without CR LF), an escape, or
            // an "=" that starts none.
            uint8_t a = p[1], b = p[2];
            if (kDecodeClass[a] == kLineEnd) {
                p += 1;
            } else {
                uint16_t v = kHexHigh[a] + kHexLow[b];
                if (!(v & kNoPair)) {
                    *o++ = uint8_t(v);
                    p += 3;
                    return;
                }
                if (kDecodeClass[a] != kBlank || kDecodeClass[b] != kLineEnd) {
                    *o++ = '=';
                    ++p;
                    return;
                }
                p += 2;
            }
            c = *p;
        } else {
            o[0] = '\r';
            o[1] = '\n';
            o += 2;
        }
        ++p;
        if (c == '\r') {
            if (p == end) s.afterCR = true;
            else if (*p == '\n') ++p;
        }
        lineStart = p;
    };
#if defined(__SSE2__)
    const __m128i equals = _mm_set1_epi8('='), cr = _mm_set1_epi8('\r'), lf = _mm_set1_epi8('\n');
    while (end - p >= 18) {
        __builtin_prefetch(p + 1024); // far enough ahead for large bodies
        __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(o), v);
        unsigned eqs = unsigned(_mm_movemask_epi8(_mm_cmpeq_epi8(v, equals)));
        unsigned breaks = unsigned(_mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(v, cr), _mm_cmpeq_epi8(v, lf))));
        unsigned mask = eqs | breaks;
        if (!mask) {
            o += 16;
            p += 16;
            continue;
        }
        if (end - p >= 32) {
            // The escapes before the block's first line end (or its end), each
            // from the mask of the one load, so the next does not wait for
            // this one; then the line end, or an escape that runs into one, is
            // settled. (The copies read up to 31 bytes ahead.)
            size_t limit = breaks ? size_t(__builtin_ctz(breaks)) : 16;
            size_t at = 0; // consumed in the block
            bool settleEscape = false; // a soft line break, or an "=" that starts no escape
            while (eqs) {
                size_t k = size_t(__builtin_ctz(eqs));
                if (k >= limit) break;
                _mm_storeu_si128(reinterpret_cast<__m128i *>(o), _mm_loadu_si128(reinterpret_cast<const __m128i *>(p + at)));
                o += k - at;
                at = k;
                uint16_t v = kHexHigh[p[k + 1]] + kHexLow[p[k + 2]];
                if (v & kNoPair) {
                    settleEscape = true;
                    break;
                }
                *o++ = uint8_t(v);
                at = k + 3;
                eqs = at >= 16 ? 0 : eqs & (~0u << at);
            }
            if (!settleEscape && at < limit) {
                _mm_storeu_si128(reinterpret_cast<__m128i *>(o), _mm_loadu_si128(reinterpret_cast<const __m128i *>(p + at)));
                o += limit - at;
                at = limit;
            }
            p += at;
            if (settleEscape || breaks) settle();
            continue;
        }
        size_t run = size_t(__builtin_ctz(mask));
        o += run;
        p += run;
        settle();
    }
#endif
    while (end - p >= 10) {
        __builtin_prefetch(p + 1024);
        uint64_t w;
        std::memcpy(&w, p, 8);
        std::memcpy(o, p, 8);
        uint64_t stops = ByteMask(w, '=') | ByteMask(w, '\r') | ByteMask(w, '\n');
        if (!stops) {
            o += 8;
            p += 8;
            continue;
        }
        size_t run = FirstMarked(stops);
        o += run;
        p += run;
        settle();
    }
    s.lineOpen = lineStart ? p > lineStart : s.lineOpen || p > fastStart;
    while (p < end) DecodeOne(s, *p++, o);
    return size_t(o - out);
}

size_t QpDecodeEnd(QpDecoder &s, uint8_t *out) {
    size_t written = 0;
    // "=" last, or "=" and a blank last: a soft line break; "=" and another
    // character stay.
    if (s.pending == 2 && !IsBlank(uint8_t(s.held))) {
        out[written++] = '=';
        out[written++] = uint8_t(s.held);
        s.pending = 0;
    }
    if (s.pending == 0 && s.lineOpen) {
        out[written++] = '\r';
        out[written++] = '\n';
    }
    s = QpDecoder();
    return written;
}

} // namespace codec

void DecodeQuotedPrintableLines(clsLineText lines, const clsOutputTarget &target) {
    if (lines.crlfOnly) {
        // A lone CR or LF inside a line is no line end here: line by line.
        // No larger than the text needs, as for the pieces below.
        std::vector<uint8_t> out(codec::QpDecodeMaxLength(std::min<size_t>(128 * 1024, lines.text.size() + 1)) + 8);
        clsLineCursor cursor(lines);
        size_t used = 0;
        for (std::string_view line; cursor.Next(line);) {
            if (out.size() - used < codec::QpDecodeMaxLength(line.size())) {
                target.Write(out.data(), used);
                used = 0;
                if (out.size() < codec::QpDecodeMaxLength(line.size())) out.resize(codec::QpDecodeMaxLength(line.size()));
            }
            used += codec::QpDecodeLine(line.data(), line.size(), out.data() + used);
        }
        target.Write(out.data(), used);
        return;
    }
    // The stream decoder reads CR, LF and CR LF as the line decoder's line ends.
    DecodeTextInPieces<codec::QpDecoder>(lines.text, 128 * 1024, target, codec::QpDecodeMaxLength,
                                         codec::QpDecodeStep, codec::QpDecodeEnd);
}

} // namespace kv

#include <array>
#include <cstring>
#include <vector>

#include "mime/codecs.h"
#include "mime/encodings.h"

namespace kv {

namespace codec {

namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";

enum : uint8_t { kLiteral = 0, kEncode = 1, kSpecial = 2 };

constexpr std::array<uint8_t, 256> MakeEncodeClasses() {
    std::array<uint8_t, 256> t{};
    for (int c = 0; c < 256; ++c) t[c] = (c >= 0x20 && c <= 0x7E) ? kLiteral : kEncode;
    // Characters that some gateways change (the EBCDIC-unsafe set) go encoded.
    for (char c : "=!\"#$@[\\]^`{|}~") t[uint8_t(c)] = kEncode;
    t[0] = kEncode; // the loop above also hit the string's terminator
    // Bytes whose encoding depends on where they stand.
    t[uint8_t(' ')] = kSpecial;
    t[uint8_t('.')] = kSpecial;
    t[uint8_t('\r')] = kSpecial;
    return t;
}
constexpr std::array<uint8_t, 256> kEncodeClass = MakeEncodeClasses();

// 1: ends the copy run of the decoder.
constexpr std::array<uint8_t, 256> MakeDecodeStops() {
    std::array<uint8_t, 256> t{};
    t[uint8_t('=')] = 1;
    t[uint8_t('\r')] = 1;
    t[uint8_t('\n')] = 1;
    return t;
}
constexpr std::array<uint8_t, 256> kDecodeStop = MakeDecodeStops();

inline bool IsLineEnd(char c) { return c == '\r' || c == '\n'; }

} // namespace

size_t QpEncodeStep(QpEncoder &s, const uint8_t *in, size_t n, bool final, char *out, size_t *consumed) {
    char *o = out;
    size_t line = s.lineLength;
    size_t i = 0;
    auto encodeByte = [&](uint8_t c) {
        o[0] = '=';
        o[1] = kHexDigits[c >> 4];
        o[2] = kHexDigits[c & 15];
    };
    // Keeps the line's first four characters for the "From " test.
    auto noteHead = [&](const char *written, size_t count) {
        for (size_t k = 0; k < count && line + k < 4; ++k) s.head[line + k] = written[k];
    };
    while (i < n) {
        uint8_t c = in[i];
        uint8_t cls = kEncodeClass[c];
        if (cls == kSpecial) {
            if (c == '\r') {
                if (i + 1 == n && !final) break; // is an LF next?
                if (i + 1 < n && in[i + 1] == '\n') {
                    o[0] = '\r';
                    o[1] = '\n';
                    o += 2;
                    line = 0;
                    i += 2;
                    continue;
                }
            } else if (c == ' ') {
                if (i + 1 == n && !final) break; // does a line end follow?
                if (i + 2 == n && in[i + 1] == '\r' && !final) break;
            }
        }
        if (line > 72) {
            o[0] = '=';
            o[1] = '\r';
            o[2] = '\n';
            o += 3;
            line = 0;
        }
        bool encode = cls == kEncode;
        if (cls == kSpecial) {
            if (c == '\r') {
                encode = true; // not part of a CR LF pair
            } else if (c == '.') {
                encode = line == 0;
            } else {
                // A space before a line end would be stripped in transport; one
                // after a leading "From" would make the line look like an mbox separator.
                bool atLineEnd = i + 1 == n || (in[i + 1] == '\r' && i + 2 < n && in[i + 2] == '\n');
                encode = atLineEnd || (line == 4 && std::memcmp(s.head, "From", 4) == 0);
            }
        }
        if (encode) {
            encodeByte(c);
            if (line < 4) noteHead(o, 3);
            o += 3;
            line += 3;
        } else {
            if (line < 4) s.head[line] = char(c);
            *o++ = char(c);
            ++line;
            // The common run: characters copied as they are while the line has room.
            ++i;
            while (i < n && line <= 72 && kEncodeClass[in[i]] == kLiteral) {
                if (line < 4) s.head[line] = char(in[i]);
                *o++ = char(in[i++]);
                ++line;
            }
            continue;
        }
        ++i;
    }
    if (final && i == n && line > 0) {
        o[0] = '\r';
        o[1] = '\n';
        o += 2;
        line = 0;
    }
    s.lineLength = line;
    *consumed = i;
    return size_t(o - out);
}

size_t QpDecodeLine(const char *in, size_t n, uint8_t *out) {
    uint8_t *o = out;
    size_t i = 0;
    while (i < n) {
        char c = in[i];
        if (c != '=') {
            *o++ = uint8_t(c);
            ++i;
            continue;
        }
        if (n - i < 3) return size_t(o - out); // soft line break
        *o++ = HexPairValue(uint8_t(in[i + 1]), uint8_t(in[i + 2]));
        i += 3;
    }
    o[0] = '\r';
    o[1] = '\n';
    return size_t(o - out) + 2;
}

size_t QpDecodeStep(QpDecoder &s, const char *text, size_t n, uint8_t *out) {
    const char *p = text;
    const char *end = text + n;
    uint8_t *o = out;
    auto lineEnd = [&](char c, bool soft) {
        if (!soft) {
            o[0] = '\r';
            o[1] = '\n';
            o += 2;
        }
        s.pending = 0;
        s.lineOpen = false;
        s.afterCR = c == '\r';
    };
    while (p < end) {
        char c = *p;
        if (s.afterCR) {
            s.afterCR = false;
            if (c == '\n') {
                ++p;
                continue;
            }
        }
        if (s.pending == 1) {
            ++p;
            if (IsLineEnd(c)) lineEnd(c, true);
            else s.held = c, s.pending = 2;
            continue;
        }
        if (s.pending == 2) {
            ++p;
            if (IsLineEnd(c)) lineEnd(c, true);
            else *o++ = HexPairValue(uint8_t(s.held), uint8_t(c)), s.pending = 0;
            continue;
        }
        // Copy the run up to the next "=" or line end.
        const char *run = p;
        while (p < end && !kDecodeStop[uint8_t(*p)]) ++p;
        if (p != run) {
            std::memcpy(o, run, size_t(p - run));
            o += p - run;
            s.lineOpen = true;
        }
        if (p == end) break;
        c = *p;
        if (IsLineEnd(c)) {
            ++p;
            lineEnd(c, false);
            continue;
        }
        // "=" with what follows it in this block.
        s.lineOpen = true;
        if (end - p >= 3 && !IsLineEnd(p[1]) && !IsLineEnd(p[2])) {
            *o++ = HexPairValue(uint8_t(p[1]), uint8_t(p[2]));
            p += 3;
            continue;
        }
        ++p;
        s.pending = 1;
    }
    return size_t(o - out);
}

size_t QpDecodeEnd(QpDecoder &s, uint8_t *out) {
    size_t written = 0;
    if (s.pending == 0 && s.lineOpen) {
        out[0] = '\r';
        out[1] = '\n';
        written = 2;
    }
    s = QpDecoder();
    return written;
}

} // namespace codec

void EncodeQuotedPrintableBody(const clsBodySource &source, const clsOutputTarget &target) {
    constexpr size_t kBlock = 64 * 1024;
    std::vector<uint8_t> in(kBlock + 2);
    std::vector<char> out(codec::QpEncodeMaxLength(kBlock + 2));
    codec::QpEncoder state;
    size_t carried = 0; // bytes kept back for a look at what follows
    for (;;) {
        size_t n = source.Read(in.data() + carried, kBlock);
        size_t available = carried + n;
        bool final = n < kBlock;
        size_t consumed = 0;
        size_t written = codec::QpEncodeStep(state, in.data(), available, final, out.data(), &consumed);
        target.Write(out.data(), written);
        if (final) break;
        carried = available - consumed;
        std::memmove(in.data(), in.data() + consumed, carried);
    }
}

void DecodeQuotedPrintableLines(clsLineList &lines, const clsOutputTarget &target) {
    // Lines of any length decode; long lines are common in real mail.
    constexpr size_t kFlushAt = 64 * 1024;
    std::vector<uint8_t> out;
    out.reserve(kFlushAt + 1024);
    while (!lines.empty()) {
        const String &line = lines.front();
        size_t used = out.size();
        out.resize(used + codec::QpDecodeMaxLength(line.size()));
        used += codec::QpDecodeLine(line.data(), line.size(), out.data() + used);
        out.resize(used);
        lines.pop_front();
        if (out.size() >= kFlushAt) {
            target.Write(out.data(), out.size());
            out.clear();
        }
    }
    if (!out.empty()) target.Write(out.data(), out.size());
}

} // namespace kv

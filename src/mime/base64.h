// Base64 and quoted-printable as step functions over buffers. Each codec keeps
// its carry-over in a small state object that the caller passes from one call
// to the next, and has a worst-case output size so callers allocate once. The
// named encodings (encodings.h) are built on these.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kv::codec {

// ---- base64 ----

// Output length of Base64Encode / Base64EncodeUnpadded: four characters for
// every started group of three bytes.
constexpr size_t Base64EncodedLength(size_t n) { return (n + 2) / 3 * 4; }
// Padded ("=" / "=="), no line breaks.
size_t Base64Encode(const uint8_t *in, size_t n, char *out);
// A short last group is filled with zero bits and written as four characters.
size_t Base64EncodeUnpadded(const uint8_t *in, size_t n, char *out);

// Body lines: 57 bytes give 76 characters and CR LF; a shorter last line.
constexpr size_t kBase64LineBytes = 57;
constexpr size_t Base64LinesMaxLength(size_t n) {
    return Base64EncodedLength(n) + (n + kBase64LineBytes - 1) / kBase64LineBytes * 2;
}
size_t Base64EncodeLines(const uint8_t *in, size_t n, char *out);

// Decoding: line ends, blanks and whatever else is outside the alphabet are
// skipped, so a group of four may run across a line end (RFC 2045). "=" after
// two or three characters of a group ends it with the one or two bytes they
// carry; elsewhere it is skipped. Decoding goes on after the padding.
struct Base64Decoder {
    uint32_t bits = 0;  // values read into the current group
    uint8_t values = 0; // how many (0..3)
};
// Room for what n characters give (with a group carried over), plus the
// slack the block stores use.
constexpr size_t Base64DecodeMaxLength(size_t n) { return n / 4 * 3 + 8; }
size_t Base64DecodeStep(Base64Decoder &state, const char *in, size_t n, uint8_t *out);
// Ends the input: a group cut short gives the bytes its characters carry.
size_t Base64DecodeEnd(Base64Decoder &state, uint8_t *out);

// ---- quoted-printable ----

struct QpEncoder {
    size_t lineLength = 0; // characters in the current output line
    char head[4] = {};     // its first four characters ("From" test)
};
// Worst case: every byte as "=XX", plus soft line breaks.
constexpr size_t QpEncodeMaxLength(size_t n) { return 4 * n + 16; }
// Encodes in[0..n). Unless final, up to two bytes at the end whose encoding
// depends on what follows are left unconsumed (*consumed tells how many were
// taken); hand them in again in front of the next input. With final, the
// input ends there and an open line is closed with CR LF.
size_t QpEncodeStep(QpEncoder &state, const uint8_t *in, size_t n, bool final, char *out, size_t *consumed);

struct QpDecoder {
    uint8_t pending = 0;   // 1: after "=", 2: after "=" and one character
    char held = 0;         // the character after "="
    bool lineOpen = false; // characters seen since the last line end
    bool afterCR = false;
};
// Worst case: a lone CR or LF gives CR LF; an "=" and a character held
// back from before give themselves, and a line ends after the last one.
constexpr size_t QpDecodeMaxLength(size_t n) { return 2 * n + 4; }
// Decodes text in which CR, LF or CR LF end a line.
size_t QpDecodeStep(QpDecoder &state, const char *in, size_t n, uint8_t *out);
// Ends the input: an open line is finished as if a line end followed.
size_t QpDecodeEnd(QpDecoder &state, uint8_t *out);
// Decodes one line without its line end; appends CR LF unless it ends in a
// soft line break.
size_t QpDecodeLine(const char *in, size_t n, uint8_t *out);
// Whether a line (without its line end) ends in a soft line break: "=" last,
// or "=" and one blank or tab.
bool QpEndsInSoftBreak(const char *in, size_t n);

// The value of a hex pair the way the header decoders (Q text, percent
// escapes) read it: any character is accepted, upper and lower case digits
// both work.
inline uint8_t HexPairValue(unsigned char hi, unsigned char lo) {
    auto digit = [](unsigned c) -> unsigned { return c < 'A' ? c - '0' : c < 'a' ? c - 'A' + 10 : c - 'a' + 10; };
    return uint8_t(digit(hi) * 16 + digit(lo));
}

} // namespace kv::codec

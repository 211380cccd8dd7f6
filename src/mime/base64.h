// Base64: the step codec over buffers, base64 on strings, and the body
// decoder over a text in place. The step codec keeps its carry-over in a
// small state object that the caller passes from one call to the next, and
// has a worst-case output size so callers allocate once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "mime/body_io.h"
#include "runtime/kvstring.h"

namespace kv {

namespace codec {

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

} // namespace codec

String EncodeBase64(const void *bytes, size_t length);
// The text (in the ANSI code page) converted to the code page first.
String EncodeBase64(const String &text, uint32_t codepage);
String EncodeBase64Unpadded(const void *bytes, size_t length);
// The text in code page 1252 with its terminating zero byte.
String EncodeBase64Unpadded(std::u16string_view text);
// Decoded as base64 bodies are (padding honoured); the result ends at the
// first zero byte.
String DecodeBase64(std::string_view text);

// A base64 body over the lines of a text in place.
void DecodeBase64Lines(clsLineText lines, const clsOutputTarget &target);

} // namespace kv

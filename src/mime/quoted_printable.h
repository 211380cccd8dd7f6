// Quoted-printable: the step codecs over buffers and the body decoder over a
// text in place. Each step codec keeps its carry-over in a small state object
// that the caller passes from one call to the next, and has a worst-case
// output size so callers allocate once.
#pragma once

#include <cstddef>
#include <cstdint>

#include "mime/body_io.h"

namespace kv {

namespace codec {

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

} // namespace codec

// A quoted-printable body over the lines of a text in place.
void DecodeQuotedPrintableLines(clsLineText lines, const clsOutputTarget &target);

} // namespace kv

// RFC 2047 encoded words in both directions, RFC 2231 parameter values and
// percent escapes. Failures throw clsExcept with code -5.
#pragma once

#include <string_view>

#include "runtime/kvstring.h"

namespace kv {

// RFC 2047 encoded words replaced by their text. The 8-bit form keeps the
// text around the words as it is and converts each word from its charset to
// the given code page (0: ANSI).
String DecodeEncodedWords(std::string_view text, uint32_t codepage = 0);
WString DecodeEncodedWords(std::u16string_view text);
// Q text: "_" a space, "=XX" a byte, a cut "=" ends the text.
String DecodeQText(std::string_view text);

// The whole text as one encoded word in the charset when it needs one.
String EncodeHeaderWord(std::u16string_view text, std::string_view charset);
// Unstructured text (a subject): chunked, encoded where needed, folded.
String EncodeHeaderText(std::u16string_view text, std::string_view charset);

// An RFC 2231 value; an extended one may name its charset, which sets the
// code page (carried from one section to the next). Result in the ANSI code page.
String DecodeParameterValue(std::string_view value, bool extended, uint32_t &codepage);
// "%XX" escapes; the bytes are read in the code page, the result is in the
// ANSI code page.
String DecodePercentText(std::string_view text, uint32_t codepage);

// Bytes from one code page to another (0: ANSI); unchanged when both are the same.
String ConvertCodePage(const String &bytes, uint32_t from, uint32_t to);

namespace detail {

// One encoded word of the text in the charset; base64 or Q.
String EncodeWord(std::u16string_view text, std::string_view charset, bool base64);
// A piece of a header: unchanged when it needs no encoding or is an angle
// address, else one encoded word (inside its quotes or parentheses). The
// address-field encoder's pieces; *encoded tells whether it became an
// encoded word.
String EncodePiece(std::u16string_view piece, std::string_view charset, bool *encoded);

} // namespace detail

} // namespace kv

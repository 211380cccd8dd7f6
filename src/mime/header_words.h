// Helpers shared by the header-word and address-field encoders.
#pragma once

#include <string_view>

#include "runtime/kvstring.h"

namespace kv {

// Bytes from one code page to another (0: ANSI); unchanged when both are the same.
String ConvertCodePage(const String &bytes, uint32_t from, uint32_t to);

namespace detail {

// One encoded word of the text in the charset; base64 or Q.
String EncodeWord(std::u16string_view text, std::string_view charset, bool base64);
// A piece of a header: unchanged when it needs no encoding or is an angle
// address, else one encoded word (inside its quotes or parentheses).
// *encoded tells whether it became an encoded word.
String EncodePiece(std::u16string_view piece, std::string_view charset, bool *encoded);

} // namespace detail

} // namespace kv

// The charset table (charset name <-> Windows code page) and the media-type
// table (file extension <-> media type). Row order matters: every lookup takes
// the first matching row.
#pragma once

#include <cstdint>
#include <string_view>

#include "runtime/kvstring.h"

namespace kv {

// Charset name for a code page; an unknown code page falls back to the ANSI
// code page's name, and to "US_ASCII" when that has no row either.
String CharsetForCodePage(uint32_t codepage);
// Code page for a charset name (case-insensitive); unknown: the ANSI code page.
uint32_t CodePageForCharset(std::string_view charset);
// Media type for an extension with its period (".jpg"); unknown: "".
String MediaTypeForExtension(std::string_view extension);
// Extension with its period for a media type; unknown: "".
String ExtensionForMediaType(std::string_view mediaType);
// The extension of the last path component, period included, at most 255
// characters; "" when the name has no period.
String ExtensionOfPath(std::string_view path);

} // namespace kv

// Windows code-page conversion (MultiByteToWideChar / WideCharToMultiByte on
// Windows, iconv with a table of Windows code pages elsewhere).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace kv::pal {

// The system ANSI code page; fixed at 65001 (UTF-8) on POSIX.
uint32_t AnsiCodePage();

// Whether text in this code page can be converted here.
bool IsCodePageSupported(uint32_t codepage);

// Conversions; code page 0 is the ANSI code page. Unconvertible input becomes
// U+FFFD (to wide) or '?' (to 8-bit); an unsupported code page converts as
// the ANSI code page. Never throws for bad input.
std::u16string ToWide(std::string_view text, uint32_t codepage);
std::string FromWide(std::u16string_view text, uint32_t codepage);

} // namespace kv::pal

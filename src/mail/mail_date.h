// The date of a message head ("Tue, 03 Mar 2026 14:05:09 +0100") as a
// calendar time in its own zone, so a rebuilt head keeps the instant it had.
#pragma once

#include <string_view>

#include "pal/system.h"

namespace kv {

// RFC 5322 date-time, with the obsolete forms mail still carries (two-digit
// years, named zones, comments). The weekday is computed, not trusted;
// false when any field is out of range.
bool ParseHeaderDate(std::string_view text, pal::LocalTime &out);

} // namespace kv

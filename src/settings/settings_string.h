// Settings strings: an option list written as scrambled, Base64-encoded text.
#pragma once

#include "connection/option_list.h"

namespace kv {

// Reads a settings string into the list: every entry is stored under its own
// key. A malformed string leaves the list unchanged and answers false.
bool ReadSettingsString(std::u16string_view text, clsOptionList &list);
// Writes the list as a settings string.
WString WriteSettingsString(const clsOptionList &list);

} // namespace kv

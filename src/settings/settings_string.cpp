#include "settings/settings_string.h"

namespace kv {

// Placeholder until the settings format lands: reads nothing.
bool ReadSettingsString(std::u16string_view, clsOptionList &) { return false; }
WString WriteSettingsString(const clsOptionList &) { return WString(); }

} // namespace kv

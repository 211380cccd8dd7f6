// Settings strings: an option list written as scrambled, Base64-encoded text.
#pragma once

#include <cstdint>
#include <vector>

#include "settings/option_list.h"

namespace kv {

// Reads a settings string into the list: every entry is stored under its own
// key. A malformed string leaves the list unchanged and answers false.
bool ReadSettingsString(std::u16string_view text, clsOptionList &list);
// Writes the list as a settings string.
WString WriteSettingsString(const clsOptionList &list);

// The record layer beneath the text form (before enciphering / after
// deciphering and unpacking).
std::vector<uint8_t> SerializeOptionList(const clsOptionList &list);
// All or nothing: false leaves the list unchanged.
bool ParseOptionRecords(const uint8_t *data, size_t size, clsOptionList &list);

// Largest unpacked length a packed settings string may declare.
constexpr uint32_t kMaxUnpackedSettings = 16u << 20;

// Type tags of the records.
enum SettingsTag : uint32_t {
    kTagEmpty = 0,
    kTagBool = 1,
    kTagInt32 = 2,
    kTagUInt32 = 3,
    kTagText = 10,
    kTagWideText = 12,
    kTagDouble = 13,
    kTagInt64 = 14,
    kTagUInt64 = 15,
};

} // namespace kv

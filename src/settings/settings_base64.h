// Base64 as the settings store writes it: one line, "=" padded. Kept here so
// the store's stored format never depends on the mail encoders.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kv::settings {

std::string Base64Encode(const uint8_t *data, size_t length);

enum class Base64Groups {
    Padded, // "=" shortens the last group
    Whole,  // every group of four is three bytes, padding included
};

// Characters outside the alphabet (line breaks, spaces) are skipped. False,
// with a diagnostic line, when the groups do not come out whole or "=" stands
// anywhere but at the end of the last group.
bool Base64Decode(std::u16string_view text, std::vector<uint8_t> &out, Base64Groups groups = Base64Groups::Padded);

} // namespace kv::settings

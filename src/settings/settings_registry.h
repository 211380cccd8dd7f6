// The registry store of the configuration object's option lists: one string
// value per option below HKEY_CURRENT_USER, password values scrambled.
#pragma once

#include <memory>

#include "settings/option_list.h"
#include "pal/com.h"
#include "pal/registry.h"

namespace kv {

// Keys of secrets stored scrambled: ending in "Password" or "OAuth2Token",
// in any letter case.
bool IsPasswordOption(std::string_view key);

// Base64 text of the value's UTF-16 form, filled with noise to at least 100
// bytes and enciphered with the password key.
WString ScramblePassword(std::u16string_view value);
// False when the text is not Base64; the value is the text up to its zero.
bool UnscramblePassword(std::u16string_view scrambled, String &value);

// Where the store's keys are opened: the current user's registry, unless
// another store is put in its place (tests).
class clsSettingsRegistry {
  public:
    virtual ~clsSettingsRegistry() = default;
    virtual std::unique_ptr<pal::RegKey> Create(const WString &path) = 0;
    virtual std::unique_ptr<pal::RegKey> OpenForReading(const WString &path) = 0;
};
clsSettingsRegistry &SettingsRegistry();
// Null restores the current user's registry.
void SetSettingsRegistry(clsSettingsRegistry *registry);

// Flags: 1 the user list, 2 the global list.
enum : DWORD { kSettingsUser = 1, kSettingsGlobal = 2 };

// Writes below "software\Orvane\orvnkv\<application or @@GlobalSettings>\User"
// and "...\Computer". E_ACCESSDENIED when a key or a value cannot be written;
// the other list is still written.
HRESULT SaveOptionsToRegistry(clsSettingsRegistry &registry, std::u16string_view application, bool hasApplication,
                              DWORD flags, const clsOptionList &user, const clsOptionList &global);
// Reads the given key for both lists, or else the fixed keys ending in "\User"
// and "\Global" (not where the writer puts them; stored settings rely on it).
// E_ACCESSDENIED when a key cannot be opened; the other list is still read.
HRESULT LoadOptionsFromRegistry(clsSettingsRegistry &registry, std::u16string_view applicationKey, bool hasKey,
                                DWORD flags, clsOptionList &user, clsOptionList &global);

} // namespace kv

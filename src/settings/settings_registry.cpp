#include "settings/settings_registry.h"

#include <algorithm>
#include <vector>

#include "settings/blowfish.h"
#include "settings/settings_base64.h"
#include "pal/system.h"

namespace kv {

namespace {

constexpr size_t kScrambledMinimum = 100;
const char16_t kWriterBase[] = u"software\\Orvane\\orvnkv\\";
const char16_t kReaderBase[] = u"software\\Orvane\\orvnkv";

uint8_t NoiseByte() { return uint8_t(pal::CycleCounter()); }

class clsCurrentUserRegistry final : public clsSettingsRegistry {
  public:
    std::unique_ptr<pal::RegKey> Create(const WString &path) override {
        return pal::RegCreate(pal::RegRoot::CurrentUser, path);
    }
    std::unique_ptr<pal::RegKey> OpenForReading(const WString &path) override {
        return pal::RegOpen(pal::RegRoot::CurrentUser, path, false);
    }
};

clsSettingsRegistry *g_override = nullptr;

bool WriteList(pal::RegKey &key, const clsOptionList &list) {
    bool ok = true;
    for (const WString &name : key.ValueNames()) ok = key.DeleteValue(name) && ok;
    for (const auto &entry : list.Entries()) {
        WString text = entry.second.Text();
        if (IsPasswordOption(entry.first)) text = ScramblePassword(text);
        ok = key.SetString(Widen(entry.first.str(), 0), text) && ok;
    }
    return ok;
}

void ReadList(const pal::RegKey &key, clsOptionList &list) {
    for (const WString &name : key.ValueNames()) {
        WString text;
        if (!key.GetString(name, text)) continue; // only string values carry options
        String option = Narrow(name, 0);
        if (IsPasswordOption(option)) {
            String plain;
            // Undecodable text keeps what the list holds rather than storing garbage.
            if (!UnscramblePassword(text, plain)) continue;
            text = Widen(plain, 0);
        }
        list.SetText(option, text);
    }
}

} // namespace

bool IsPasswordOption(std::string_view key) {
    // An access token opens the mailbox as a password does.
    for (std::string_view word : {std::string_view("Password"), std::string_view("OAuth2Token")})
        if (key.size() >= word.size() && EqualsNoCase(key.substr(key.size() - word.size()), word)) return true;
    return false;
}

WString ScramblePassword(std::u16string_view value) {
    std::vector<uint8_t> buffer;
    buffer.reserve(std::max((value.size() + 1) * 2, kScrambledMinimum));
    for (char16_t c : value) {
        buffer.push_back(uint8_t(c));
        buffer.push_back(uint8_t(c >> 8));
    }
    buffer.push_back(0);
    buffer.push_back(0);
    while (buffer.size() < kScrambledMinimum) buffer.push_back(NoiseByte());
    clsBlowfish(kPasswordKey).Encode(buffer.data(), buffer.size());
    return Widen(settings::Base64Encode(buffer.data(), buffer.size()), 0);
}

bool UnscramblePassword(std::u16string_view scrambled, String &value) {
    std::vector<uint8_t> data;
    if (!settings::Base64Decode(scrambled, data)) return false;
    if (data.size() >= 8) clsBlowfish(kPasswordKey).Decode(data.data(), data.size());
    WString text;
    for (size_t i = 0; i + 1 < data.size(); i += 2) {
        char16_t c = char16_t(data[i] | data[i + 1] << 8);
        if (!c) break;
        text.push_back(c);
    }
    value = Narrow(text, 0);
    return true;
}

clsSettingsRegistry &SettingsRegistry() {
    static clsCurrentUserRegistry system;
    return g_override ? *g_override : system;
}

void SetSettingsRegistry(clsSettingsRegistry *registry) { g_override = registry; }

HRESULT SaveOptionsToRegistry(clsSettingsRegistry &registry, std::u16string_view application, bool hasApplication,
                              DWORD flags, const clsOptionList &user, const clsOptionList &global) {
    struct Target {
        DWORD flag;
        const clsOptionList &list;
        const char16_t *suffix;
    };
    const Target targets[] = {{kSettingsUser, user, u"\\User"}, {kSettingsGlobal, global, u"\\Computer"}};
    // The name travels through 8-bit text, as it always has.
    WString name = hasApplication ? Widen(Narrow(application, 0), 0) : WString(u"@@GlobalSettings");
    HRESULT hr = S_OK;
    for (const Target &target : targets) {
        if (!(flags & target.flag)) continue;
        std::unique_ptr<pal::RegKey> key = registry.Create(kWriterBase + name + target.suffix);
        if (!key || !WriteList(*key, target.list)) hr = E_ACCESSDENIED;
    }
    return hr;
}

HRESULT LoadOptionsFromRegistry(clsSettingsRegistry &registry, std::u16string_view applicationKey, bool hasKey,
                                DWORD flags, clsOptionList &user, clsOptionList &global) {
    struct Target {
        DWORD flag;
        clsOptionList &list;
        const char16_t *suffix;
    };
    const Target targets[] = {{kSettingsUser, user, u"\\User"}, {kSettingsGlobal, global, u"\\Global"}};
    HRESULT hr = S_OK;
    for (const Target &target : targets) {
        if (!(flags & target.flag)) continue;
        WString path = hasKey ? WString(applicationKey) : WString(kReaderBase) + target.suffix;
        std::unique_ptr<pal::RegKey> key = registry.OpenForReading(path);
        if (!key) {
            hr = E_ACCESSDENIED;
            continue;
        }
        ReadList(*key, target.list);
    }
    return hr;
}

} // namespace kv

// Reading settings strings. Input: a mode byte, then the payload. Bit 0 clear: the payload is the
// settings text (bytes widened one to one); set: the deciphered data, enciphered and encoded here with
// the markers of bits 1-2 (none, "@2@", "@2@@1@", "@1@"), to reach the records and packed data directly.
// Checked: a refused string leaves the list as it was; an accepted one survives a write and a read.
#include <vector>

#include "fuzz_util.h"
#include "settings/blowfish.h"
#include "settings/settings_base64.h"
#include "settings/settings_string.h"

namespace {

std::u16string Enciphered(const uint8_t *data, size_t size, unsigned markers) {
    std::vector<uint8_t> bytes(data, data + size);
    while (markers >= 2 && bytes.size() % 3) bytes.push_back(0); // whole Base64 groups
    if (bytes.size() >= 8) kv::clsBlowfish(kv::kSettingsStringKey).Encode(bytes.data(), bytes.size());
    static const char *const kMarkers[] = {"", "@2@", "@2@@1@", "@1@"};
    std::string text = std::string("01:") + kMarkers[markers] + kv::settings::Base64Encode(bytes.data(), bytes.size());
    return std::u16string(text.begin(), text.end());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 1) return 0;
    uint8_t mode = data[0];
    std::u16string text =
        (mode & 1) ? Enciphered(data + 1, size - 1, (mode >> 1) & 3) : std::u16string(data + 1, data + size);

    kv::clsOptionList list;
    list.SetText("Fuzz.Sentinel", u"unchanged");
    if (!kv::ReadSettingsString(text, list)) {
        fuzz::Check(list.Size() == 1 && list.ReadText("Fuzz.Sentinel", u"") == u"unchanged");
        return 0;
    }
    kv::clsOptionList again;
    fuzz::Check(kv::ReadSettingsString(kv::WriteSettingsString(list), again) && again.Size() == list.Size());
    return 0;
}

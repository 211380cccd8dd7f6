#include "component/resources.h"

#include "pal/resources.h"
#include "pal/system.h"

namespace kv {

namespace {

struct Row {
    int id;
    const char *english;
    const char *german;
};

// 8-bit texts in the ANSI code page of this platform (UTF-8); orkv14.rc carries the same.
const Row kStrings[] = {
    {IDS_REGISTRY_KEY_FAILED,
     "The registry key '%1' cannot be created. Make sure you have the permissions to create this key.",
     "Der Registrierungsschl\xC3\xBCssel '%1' kann nicht angelegt werden. Stellen Sie sicher, dass Sie die "
     "Berechtigung haben, diesen Schl\xC3\xBCssel anzulegen."},
    {IDS_LIMITED_FUNCTIONALITY, "\n\nFunctionality will be limited due to this error.",
     "\n\nDie Funktionalit\xC3\xA4t ist aufgrund dieses Fehlers eingeschr\xC3\xA4nkt."},
    {IDS_WARNING, "Warning", "Warnung"},
};

} // namespace

String LoadResourceString(int id, bool german) {
    // The module's own string table where the platform has one (Windows).
    if (auto text = pal::LoadModuleString(id, german)) return *text;
    for (const Row &row : kStrings)
        if (row.id == id) return german ? row.german : row.english;
    return String();
}

String LoadResourceString(int id) { return LoadResourceString(id, pal::UiLanguageIsGerman()); }

} // namespace kv

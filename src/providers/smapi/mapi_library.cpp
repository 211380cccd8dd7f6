#include "providers/smapi/mapi_library.h"

#include <cstdlib>
#include <mutex>

#include "pal/library.h"
#include "pal/registry.h"
#include "pal/system.h"

namespace kv {

namespace {

pal::DynamicLibrary *Decide() {
    if (pal::LegacyProfileInt("Mail", "MAPI", 0) == 0) {
        auto key = pal::RegOpen(pal::RegRoot::LocalMachine, u"Software\\Microsoft\\Windows Messaging Subsystem");
        std::u16string text;
        if (!key || !key->GetString(u"MAPI", text)) return nullptr;
        std::string narrow(text.begin(), text.end());
        if (std::atoi(narrow.c_str()) == 0) return nullptr;
    }
    // Never unloaded: providers keep function pointers into it.
    auto *library = new pal::DynamicLibrary("MAPI32.DLL");
    return library;
}

} // namespace

void *IsMapiAvailable() {
    static std::once_flag once;
    static pal::DynamicLibrary *library = nullptr;
    std::call_once(once, [] { library = Decide(); });
    return library && library->Loaded() ? library : nullptr;
}

} // namespace kv

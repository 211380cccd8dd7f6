#include "ui/win32/dialog_resources.h"

#include <string>

#include "pal/system.h"
#include "pal/win32/module_handle.h"

namespace kv::ui {

const void *UiResource(LPCSTR type, const char *name) {
    HMODULE module = pal::win32::ThisModule();
    HRSRC found = FindResourceExA(module, type, name, pal::win32::ResourceLanguage(pal::UiLanguageIsGerman()));
    if (!found) found = FindResourceA(module, name, type);
    HGLOBAL loaded = found ? LoadResource(module, found) : nullptr;
    return loaded ? LockResource(loaded) : nullptr;
}

WString WindowText(HWND window) {
    int n = GetWindowTextLengthW(window);
    std::wstring buffer(size_t(n > 0 ? n : 0) + 1, L'\0');
    n = GetWindowTextW(window, buffer.data(), int(buffer.size()));
    return WString(reinterpret_cast<const char16_t *>(buffer.data()), size_t(n > 0 ? n : 0));
}

} // namespace kv::ui

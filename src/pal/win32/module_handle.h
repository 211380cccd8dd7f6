// The component's own module handle, for the win32 layer only.
#pragma once

#include <windows.h>

namespace kv::pal::win32 {

// The module that holds this code: the DLL, or the executable a static core is linked into.
inline HMODULE ThisModule() {
    HMODULE module = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&ThisModule), &module);
    return module;
}

// The language of the component's resources: German, or English (US).
inline LANGID ResourceLanguage(bool german) {
    return german ? MAKELANGID(LANG_GERMAN, SUBLANG_GERMAN) : MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);
}

} // namespace kv::pal::win32

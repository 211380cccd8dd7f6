#include "pal/library.h"

#include <windows.h>

namespace kv::pal {

bool DynamicLibrary::Load(const std::string &name) {
    Free();
    handle_ = reinterpret_cast<void *>(LoadLibraryA(name.c_str()));
    return handle_ != nullptr;
}

void DynamicLibrary::Free() {
    if (handle_) FreeLibrary(static_cast<HMODULE>(handle_));
    handle_ = nullptr;
}

void *DynamicLibrary::Symbol(const char *name) const {
    return handle_ ? reinterpret_cast<void *>(GetProcAddress(static_cast<HMODULE>(handle_), name)) : nullptr;
}

} // namespace kv::pal

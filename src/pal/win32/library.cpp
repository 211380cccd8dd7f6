#include "pal/library.h"

#include <windows.h>

namespace kv::pal {

bool DynamicLibrary::Load(const std::string &name) {
    Free();
    // A missing or broken library is an answer, not a reason for a system
    // box in the host's face; only this thread's mode changes, and only for
    // the load.
    DWORD old = 0;
    bool quiet = SetThreadErrorMode(SEM_NOOPENFILEERRORBOX | SEM_FAILCRITICALERRORS, &old) != FALSE;
    handle_ = reinterpret_cast<void *>(LoadLibraryA(name.c_str()));
    if (quiet) SetThreadErrorMode(old, nullptr);
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

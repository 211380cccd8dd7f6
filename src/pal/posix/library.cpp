#include "pal/library.h"

#include <dlfcn.h>

namespace kv::pal {

bool DynamicLibrary::Load(const std::string &name) {
    Free();
    handle_ = dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL);
    return handle_ != nullptr;
}

void DynamicLibrary::Free() {
    if (handle_) dlclose(handle_);
    handle_ = nullptr;
}

void *DynamicLibrary::Symbol(const char *name) const { return handle_ ? dlsym(handle_, name) : nullptr; }

} // namespace kv::pal

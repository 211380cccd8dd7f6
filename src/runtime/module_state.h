// Module-wide counters behind DllCanUnloadNow. Plain integers: the component
// is apartment-threaded.
#pragma once

#include <cstdint>

namespace kv {

void ModuleAddRef();
void ModuleRelease();
void ModuleLock(bool lock);
int32_t ModuleRefCount();
int32_t ModuleLockCount();

} // namespace kv

#include "runtime/module_state.h"

namespace kv {

namespace {
int32_t g_references = 0;
int32_t g_locks = 0;
} // namespace

void ModuleAddRef() { ++g_references; }
void ModuleRelease() { --g_references; }
void ModuleLock(bool lock) { lock ? ++g_locks : --g_locks; }
int32_t ModuleRefCount() { return g_references; }
int32_t ModuleLockCount() { return g_locks; }

} // namespace kv

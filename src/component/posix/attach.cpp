// Process attach and detach of the shared library (DllMain on Windows).
#include "component/module.h"

namespace {

__attribute__((constructor)) void OnLoad() { kv::ComponentAttach(); }
__attribute__((destructor)) void OnUnload() { kv::ComponentDetach(); }

} // namespace

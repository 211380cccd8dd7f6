// Stand-in for the platform registry while this tree has no implementation of
// it: every key is unavailable, so the store answers E_ACCESSDENIED. The
// definitions are weak and compiled only while the real one is absent; remove
// this file once src/pal/posix/registry.cpp is in the tree.
#include "pal/registry.h"

#if !defined(_WIN32) && !__has_include("pal/posix/registry.cpp")

namespace kv::pal {

__attribute__((weak)) std::unique_ptr<RegKey> RegCreate(RegRoot, const std::u16string &) { return nullptr; }
__attribute__((weak)) std::unique_ptr<RegKey> RegOpen(RegRoot, const std::u16string &, bool) { return nullptr; }

} // namespace kv::pal

#endif

#include "pal/memory.h"

namespace kv::pal {

// The heap commits large blocks as they are allocated; nothing to add.
void PrefaultPages(void *, size_t) {}

} // namespace kv::pal

#include "runtime/memory_block.h"

namespace kv {

// Large pages need a privilege that hosts do not have; the heap's own
// handling of large blocks is left as it is.
void AdviseLargeBlock(void *, size_t) {}

} // namespace kv

#include <sys/mman.h>

#include <cstdint>

#include "runtime/memory_block.h"

namespace kv {

void AdviseLargeBlock(void *data, size_t size) {
#ifdef MADV_HUGEPAGE
    // Only whole huge pages inside the block.
    constexpr uintptr_t kHuge = uintptr_t(2) << 20;
    uintptr_t from = (uintptr_t(data) + kHuge - 1) & ~(kHuge - 1);
    uintptr_t to = (uintptr_t(data) + size) & ~(kHuge - 1);
    if (to > from) madvise(reinterpret_cast<void *>(from), to - from, MADV_HUGEPAGE);
#else
    (void)data;
    (void)size;
#endif
}

} // namespace kv

#include <sys/mman.h>

#include <cstdint>

#include "runtime/memory_block.h"

#ifndef MADV_POPULATE_WRITE
#define MADV_POPULATE_WRITE 23 // Linux 5.14; older kernels refuse it, which is harmless
#endif

namespace kv {

void PrepareLargeBlock(void *data, size_t size) {
    // Only whole pages inside the block.
    constexpr uintptr_t kPage = 4096;
    uintptr_t from = (uintptr_t(data) + kPage - 1) & ~(kPage - 1);
    uintptr_t to = (uintptr_t(data) + size) & ~(kPage - 1);
    if (to > from) madvise(reinterpret_cast<void *>(from), to - from, MADV_POPULATE_WRITE);
}

} // namespace kv

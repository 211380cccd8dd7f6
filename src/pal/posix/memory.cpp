#include "pal/memory.h"

#include <sys/mman.h>

#include <cstdint>

#ifndef MADV_POPULATE_WRITE
#define MADV_POPULATE_WRITE 23 // Linux 5.14; older kernels refuse it, which is harmless
#endif

namespace kv::pal {

void PrefaultPages(void *data, size_t size) {
    constexpr uintptr_t kPage = 4096;
    uintptr_t from = (uintptr_t(data) + kPage - 1) & ~(kPage - 1);
    uintptr_t to = (uintptr_t(data) + size) & ~(kPage - 1);
    if (to > from) madvise(reinterpret_cast<void *>(from), to - from, MADV_POPULATE_WRITE);
}

} // namespace kv::pal

#include "runtime/memory_block.h"

#include <new>

namespace kv {

void ResizeBlock(clsMemoryBlock &block, size_t size) {
    char *p = static_cast<char *>(std::realloc(block.get(), size ? size : 1));
    if (!p) throw std::bad_alloc();
    (void)block.release();
    block.reset(p);
}

} // namespace kv

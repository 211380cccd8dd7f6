// Large blocks of bytes (whole message texts) from malloc: they grow by
// realloc, which moves a large block without copying it, and go back by free.
#pragma once

#include <cstddef>
#include <cstdlib>
#include <memory>

namespace kv {

struct clsFreeBlock {
    void operator()(char *p) const { std::free(p); }
};
using clsMemoryBlock = std::unique_ptr<char, clsFreeBlock>;

// Makes the block size bytes long, its first bytes kept; throws std::bad_alloc.
void ResizeBlock(clsMemoryBlock &block, size_t size);

} // namespace kv

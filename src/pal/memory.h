// Memory hints for large blocks.
#pragma once

#include <cstddef>

namespace kv::pal {

// Maps the whole pages of a stretch about to be filled in one go, rather than
// one fault at a time as they are first written. Only a hint.
void PrefaultPages(void *data, size_t size);

} // namespace kv::pal

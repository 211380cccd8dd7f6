// The system messaging library, decided once per process.
#pragma once

namespace kv {

// The loaded messaging library's handle, or null when the system has none.
// The first call decides; the library stays loaded for the life of the process.
void *IsMapiAvailable();

} // namespace kv

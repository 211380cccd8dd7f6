#include "pal/resources.h"

namespace kv::pal {

std::optional<std::string> LoadModuleString(int, bool) { return std::nullopt; }

std::string ModuleFileVersion() { return KV_VERSION_STRING; }

} // namespace kv::pal

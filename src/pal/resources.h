// The component's own resources: string table and version.
#pragma once

#include <optional>
#include <string>

namespace kv::pal {

// A string of the module's string table in English or German, converted to the
// ANSI code page; nothing where the platform keeps no resources in the module
// (the caller then uses its built-in table).
std::optional<std::string> LoadModuleString(int id, bool german);

// "FileVersion" of the module's version resource; the build's version where
// the platform has no version resource.
std::string ModuleFileVersion();

} // namespace kv::pal

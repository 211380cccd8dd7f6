// Creating a file only when no file of that name exists (CREATE_NEW / O_EXCL).
#pragma once

#include <string>

namespace kv::pal {

enum class CreateNewResult { Created, Exists, Failed };

// Creates and closes an empty file; on failure `error` holds the system's text.
CreateNewResult FileCreateNew(const std::string &path, std::string &error);

} // namespace kv::pal

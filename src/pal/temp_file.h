// Hidden temporary files that remove themselves when closed (Windows:
// FILE_FLAG_DELETE_ON_CLOSE; POSIX: unlinked right after creation), so none
// outlives its owner, not even after a crash. Read, write and close them with
// FileRead, FileWrite and FileClose of pal/system.h.
#pragma once

#include <cstdint>
#include <string>

#include "pal/system.h"

namespace kv::pal {

// Creates "<temp dir><prefix>XXXX<extension>" for reading and writing;
// kInvalidFile on failure.
FileHandle TempFileOpen(const std::string &prefix, const std::string &extension);
// Moves the position to the offset from the start.
bool FileSeek(FileHandle file, uint64_t offset);
bool FileSetSize(FileHandle file, uint64_t size);
// -1 on failure.
int64_t FileSize(FileHandle file);

} // namespace kv::pal

// Reading a file named by an attachment or an HTML reference, into a stream or whole.
#pragma once

#include <string>

#include "pal/com.h"
#include "runtime/kvstring.h"

namespace kv {

// Appends the whole file to the stream at its position. False when the file
// cannot be opened; a failing read or write throws clsExcept (kErrGeneral).
bool CopyFileToStream(const String &path, IStream *destination);

enum class WholeFile { Read, NotOpened, ReadFailed };
// The whole file into `out` (what was read before a failing read stays).
WholeFile ReadWholeFile(const String &path, std::string &out);

} // namespace kv

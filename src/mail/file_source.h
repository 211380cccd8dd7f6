// Copying a file named by an attachment or an HTML reference into a stream.
#pragma once

#include "pal/com.h"
#include "runtime/kvstring.h"

namespace kv {

// Appends the whole file to the stream at its position. False when the file
// cannot be opened; a failing read or write throws clsExcept (-5).
bool CopyFileToStream(const String &path, IStream *destination);

} // namespace kv

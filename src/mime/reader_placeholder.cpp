// Stands in for the message reader until it is built: every call fails honestly.
#include "log/except.h"
#include "mime/reader.h"

namespace kv {

void ReadMail(clsMail &, std::deque<String> &, int, uint32_t, int) {
    throw clsExcept(-5, "ReadMail(): the message reader is not available in this build");
}

} // namespace kv

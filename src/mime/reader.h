// The message reader: RFC 822/MIME text, as lines without their line ends,
// into a mail's fields, header list, bodies and attachments.
#pragma once

#include <cstdint>
#include <deque>

#include "runtime/kvstring.h"

namespace kv {

class clsMail;

// Flags of a read.
enum : uint32_t { kReadHeadersOnly = 1, kReadInAlternative = 2, kReadInRelated = 4 };

// Takes lines off the front of the list. Throws clsExcept (-5) on bad input;
// what was read before stays in the mail.
void ReadMail(clsMail &mail, std::deque<String> &lines, int depth, uint32_t flags, int partIndex);

} // namespace kv

// The message reader: RFC 822/MIME text, as lines without their line ends,
// into a mail's fields, header list, bodies and attachments.
#pragma once

#include <cstdint>
#include <deque>
#include <string_view>

#include "runtime/kvstring.h"

namespace kv {

class clsMail;

// Flags of a read.
enum : uint32_t {
    kReadHeadersOnly = 1,
    kReadInAlternative = 2,
    kReadInRelated = 4,
    kReadRawTextKept = 8,
    // Only CR LF ends a line: the text was joined from received lines, and a CR or LF inside one is its data.
    kReadJoinedLines = 16,
};

// Whether the text is already what the reader keeps as raw text: every line
// ended by CR LF, no CR or LF elsewhere.
bool IsRawForm(std::string_view text);

// Looks at a message text piece by piece as it is read (while the piece is
// still in the cache): the reader needs no copy of a text that is already in
// raw form.
class clsTextScan {
  public:
    void Feed(const char *data, size_t size);
    bool RawForm() const { return raw_ && (empty_ || lastLF_); }

  private:
    bool empty_ = true;
    bool raw_ = true;
    bool lastCR_ = false;
    bool lastLF_ = false;
};

// Reads a whole message text (lines end at CR LF, a lone CR or a lone LF)
// and keeps it, each line ended by CR LF, as the mail's raw text. Throws
// clsExcept (kErrGeneral) on bad input; what was read before stays in the mail.
void ReadMail(clsMail &mail, std::string_view text, uint32_t flags);
// The same for lines without their line ends (a line may hold a lone CR or
// LF); takes them all. Only depth 0 keeps the raw text.
void ReadMail(clsMail &mail, std::deque<String> &lines, int depth, uint32_t flags, int partIndex);

} // namespace kv

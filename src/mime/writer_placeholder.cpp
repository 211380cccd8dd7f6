// Stands in for the MIME writer until it is built: every call fails honestly.
#include "log/except.h"
#include "mime/writer.h"

namespace kv {

void RenderMail(clsMail &) { throw clsExcept(-5, "RenderMail(): the MIME writer is not available in this build"); }

void BuildAttachmentHeader(clsMailAttachment &) {
    throw clsExcept(-5, "BuildAttachmentHeader(): the MIME writer is not available in this build");
}

} // namespace kv

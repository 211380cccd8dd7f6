// The MIME message writer: a mail as RFC 822/MIME text, and the part headers
// of bodies and attachments.
#pragma once

#include "runtime/kvstring.h"

namespace kv {

class clsMail;
class clsMailAttachment;

// What the writer takes from outside the mail, read once per message.
struct WriterOptions {
    String senderDomain; // the Message-ID's domain
};

// Writes the whole message into the mail's raw text (from its start, cut at
// the end). Throws clsExcept on failure.
void RenderMail(clsMail &mail, const WriterOptions &options);
// Fills the attachment's header items with its part header.
void BuildAttachmentHeader(clsMailAttachment &attachment);

} // namespace kv

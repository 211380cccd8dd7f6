// The MIME message writer: a mail as RFC 822/MIME text, and the part headers
// of bodies and attachments.
#pragma once

#include "runtime/kvstring.h"

namespace kv {

class clsFileRWTemp;
class clsMail;
class clsMailAttachment;

// What the writer takes from outside the mail, read once per message.
struct WriterOptions {
    String senderDomain; // the Message-ID's domain
    // For a server without 8BITMIME: 8-bit text goes quoted-printable.
    bool sevenBit = false;
    // Kept instead of a new one when the text is rendered once more for the wire.
    String messageId;
};

// Writes the whole message into the mail's raw text (from its start, cut at
// the end). Throws clsExcept on failure.
void RenderMail(clsMail &mail, const WriterOptions &options);
// The same text into another file; the mail's raw text stays as it is.
void RenderMailTo(clsMail &mail, const WriterOptions &options, clsFileRWTemp &file);
// Fills the attachment's header items with its part header.
void BuildAttachmentHeader(clsMailAttachment &attachment);

} // namespace kv

// Reading messages of the inbox into mails.
#pragma once

#include "providers/xmapi/xmapi_objects.h"
#include "providers/xmapi/xmapi_send.h"

namespace kv {

class clsMail;

// An entry identifier as hexadecimal text and back (bad text gives empty bytes).
String EntryIdText(const std::string &bytes);
std::string EntryIdBytes(const String &text);

// "Sun, 06 Dec 2026 21:00:00 +0000" for a time in 100 ns units since 1601 (UTC).
String MapiTimeText(uint64_t time);

// Fills the mail from the message; throws clsExcept.
void XmapiFillMail(clsMail &mail, xmapi::ReadMessage &message, bool envelopeOnly, const clsXMAPIProps &props);

} // namespace kv

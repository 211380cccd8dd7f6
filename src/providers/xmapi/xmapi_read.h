// Reading messages of the inbox into mails.
#pragma once

#include <functional>

#include "providers/xmapi/xmapi_objects.h"
#include "providers/xmapi/xmapi_send.h"

namespace kv {

class clsMail;

// An entry identifier as hexadecimal text and back (bad text gives empty bytes).
String EntryIdText(const std::string &bytes);
std::string EntryIdBytes(const String &text);

// "Sun, 06 Dec 2026 21:00:00 +0000" for a time in 100 ns units since 1601 (UTC).
String MapiTimeText(uint64_t time);

// The SMTP address of an address of type "EX" that the message does not give;
// empty when there is none.
using XmapiSmtpLookup = std::function<String(const String &address)>;

// Fills the mail from the message; throws clsExcept.
void XmapiFillMail(clsMail &mail, xmapi::ReadMessage &message, bool envelopeOnly, const clsXMAPIProps &props,
                   const XmapiSmtpLookup &smtpOf);

} // namespace kv

// clsArpaMail: the internet providers' mail (SMTP sends it, POP3 lists it).
#pragma once

#include "mail/mail.h"

namespace kv {

// Answered by QueryInterface with the object itself, so that a connection
// can accept only mails of this class.
ORKV14_GUID(IID_clsArpaMail, 0x6E2B7C41, 0x93D5, 0x4F0A, 0x8C, 0x1E, 0x5A, 0x27, 0xB4, 0xD9, 0x60, 0x13);

class clsArpaMail : public clsMail {
  public:
    using clsMail::clsMail;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **ppv) override;
    // Also refuses an address type other than "smtp" ("fax:<...>").
    bool IsValidAddress(const String &address) override;
};

} // namespace kv

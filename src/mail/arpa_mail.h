// clsArpaMail: the internet providers' mail (SMTP sends it, POP3 lists it).
#pragma once

#include "mail/mail.h"

namespace kv {

ORKV14_GUID(IID_clsArpaMail, 0x6E2B7C41, 0x93D5, 0x4F0A, 0x8C, 0x1E, 0x5A, 0x27, 0xB4, 0xD9, 0x60, 0x13);

class clsArpaMail : public clsProviderMail<clsArpaMail> {
  public:
    using clsProviderMail::clsProviderMail;
    static const IID &ClassId() { return IID_clsArpaMail; }

    // Also refuses an address type other than "smtp" ("fax:<...>").
    bool IsValidAddress(const String &address) override;
};

} // namespace kv

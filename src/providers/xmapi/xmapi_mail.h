// clsXMAPIMail: the Extended MAPI provider's mail.
#pragma once

#include "mail/mail.h"

namespace kv {

ORKV14_GUID(IID_clsXMAPIMail, 0x9A3F5D17, 0x62C4, 0x4B8E, 0xA1, 0x7D, 0x0E, 0x59, 0xC2, 0x84, 0x3B, 0x66);

class clsXMAPIMail : public clsProviderMail<clsXMAPIMail> {
  public:
    using clsProviderMail::clsProviderMail;
    static const IID &ClassId() { return IID_clsXMAPIMail; }
};

} // namespace kv

// clsCDOSYSMail: the CDOSYS provider's mail.
#pragma once

#include "mail/mail.h"

namespace kv {

ORKV14_GUID(IID_clsCDOSYSMail, 0x3F81A6D2, 0x47C9, 0x4E15, 0xB2, 0x6A, 0x91, 0x0D, 0x5C, 0xE3, 0x28, 0x7F);

class clsCDOSYSMail : public clsProviderMail<clsCDOSYSMail> {
  public:
    using clsProviderMail::clsProviderMail;
    static const IID &ClassId() { return IID_clsCDOSYSMail; }
};

} // namespace kv

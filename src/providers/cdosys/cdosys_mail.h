// clsCDOSYSMail: the CDOSYS provider's mail.
#pragma once

#include "mail/mail.h"

namespace kv {

// Answered by QueryInterface with the object itself, so that the connection
// can accept only mails of this class.
ORKV14_GUID(IID_clsCDOSYSMail, 0x3F81A6D2, 0x47C9, 0x4E15, 0xB2, 0x6A, 0x91, 0x0D, 0x5C, 0xE3, 0x28, 0x7F);

class clsCDOSYSMail : public clsMail {
  public:
    using clsMail::clsMail;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **ppv) override {
        if (ppv && IsEqualIID(riid, IID_clsCDOSYSMail)) {
            *ppv = this;
            AddRef();
            return S_OK;
        }
        return clsMail::QueryInterface(riid, ppv);
    }
};

} // namespace kv

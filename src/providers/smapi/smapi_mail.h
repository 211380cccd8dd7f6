// clsSMAPIMail: the Simple MAPI provider's mail, for sending or as a message
// of the messaging system's inbox.
#pragma once

#include "mail/mail.h"
#include "providers/smapi/smapi_session.h"

namespace kv {

class clsConnectionBase;

ORKV14_GUID(IID_clsSMAPIMail, 0x5C1E92A4, 0x0B7D, 0x4A63, 0x9E, 0x21, 0x3F, 0x84, 0xD6, 0x5A, 0x17, 0xC8);

class clsSMAPIMail : public clsProviderMail<clsSMAPIMail> {
  public:
    using clsProviderMail::clsProviderMail;
    static const IID &ClassId() { return IID_clsSMAPIMail; }

    const String &MessageId() const { return Cookie(); }
    bool EnvelopeOnly() const { return envelopeOnly_; }

    // Sends through the session; throws clsExcept.
    void Send(clsSMAPI &session, clsConnectionBase &connection);
    // Takes what a read message record holds.
    void Fill(const smapi::MapiMessage &record, bool envelopeOnly);

  private:
    bool envelopeOnly_ = false;
};

// The recipient record for one address string of a mail: the display name and
// the address passed, or none to let the messaging system resolve the name.
struct SmapiRecipient {
    uint32_t recipClass = 0;
    String name;
    String address;
    bool hasAddress = false;
};
SmapiRecipient SmapiRecipientFor(const String &addressText, uint32_t recipClass, const String &clientName);

// The address string of a received recipient.
String SmapiAddressOf(const smapi::MapiRecipDesc &recipient);

} // namespace kv

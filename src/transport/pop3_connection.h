// clsPOP3MailConnection: the receive connection of the internet provider.
#pragma once

#include "connection/connection_base.h"

namespace kv {

class clsPOP3MailConnection : public clsConnectionBase {
  public:
    clsPOP3MailConnection();

    HRESULT OnConnect() override;
    HRESULT OnDisconnect() override;
    HRESULT OnCreateMail(LONG codepage, const String &cookie, IKvMail **mail) override;
    HRESULT OnSend(IKvMail *mail) override;
    HRESULT OnQueryMailbox(BYTE flag) override;
    HRESULT OnDeleteMail(const String &id) override;
    String GetProviderName() const override { return "POP3"; }
    HRESULT LoadRestOfMail(IKvMail *mail) override;
    bool IsProviderAvailable() override { return true; }
    bool AnswersSelector(REFIID riid) const override;
};

} // namespace kv

// clsSMTPMailConnection: the send connection of the internet provider.
#pragma once

#include "connection/connection_base.h"

namespace kv {

class clsSMTPMailConnection : public clsConnectionBase {
  public:
    clsSMTPMailConnection();

    HRESULT OnConnect() override;
    HRESULT OnDisconnect() override;
    HRESULT OnCreateMail(LONG codepage, const String &cookie, IKvMail **mail) override;
    HRESULT OnSend(IKvMail *mail) override;
    HRESULT OnQueryMailbox(BYTE flag) override;
    HRESULT OnDeleteMail(const String &id) override;
    String GetProviderName() const override { return "SMTP"; }
    HRESULT LoadRestOfMail(IKvMail *mail) override;
    bool IsProviderAvailable() override { return true; }
    bool AnswersSelector(REFIID riid) const override;
    virtual DWORD GetMailCapabilities() { return 7; }
};

} // namespace kv

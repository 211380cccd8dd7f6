// clsSMAPIMailConnection: the Simple MAPI provider's connection.
#pragma once

#include "connection/connection_base.h"

namespace kv {

class clsSMAPIMailConnection : public clsConnectionBase {
  public:
    explicit clsSMAPIMailConnection(bool sendRole);

    HRESULT OnConnect() override;
    HRESULT OnDisconnect() override;
    HRESULT OnCreateMail(LONG codepage, const String &cookie, IKvMail **mail) override;
    HRESULT OnSend(IKvMail *mail) override;
    HRESULT OnQueryMailbox(BYTE flag) override;
    HRESULT OnDeleteMail(const String &id) override;
    HRESULT OnMarkMailAsRead(const String &id) override;
    String GetProviderName() const override { return "SMAPI"; }
    HRESULT LoadRestOfMail(IKvMail *mail) override;
    bool IsProviderAvailable() override;
    bool AnswersSelector(REFIID riid) const override;
    virtual DWORD GetMailCapabilities();
};

} // namespace kv

// clsSMAPIMailConnection: the Simple MAPI provider's connection.
#pragma once

#include <memory>

#include "connection/connection_base.h"
#include "providers/smapi/smapi_session.h"

namespace kv {

class clsSMAPIMail;

class clsSMAPIMailConnection : public clsConnectionBase {
  public:
    explicit clsSMAPIMailConnection(bool sendRole);
    // Through a given function table (a substitute of the platform).
    clsSMAPIMailConnection(bool sendRole, const SmapiFunctions &functions);

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

    clsSMAPI &Session() { return *session_; }

  private:
    // Reads one message into `mail`. Throws clsExcept.
    void ReadMail(const String &id, bool markAsRead, clsSMAPIMail &mail, bool envelopeOnly);

    std::unique_ptr<clsSMAPI> session_;
};

} // namespace kv

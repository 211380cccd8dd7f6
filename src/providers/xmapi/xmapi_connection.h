// clsXMAPIMailConnection: the Extended MAPI provider's connection.
#pragma once

#include <memory>

#include "connection/connection_base.h"
#include "providers/xmapi/xmapi_session.h"

namespace kv {

class clsXMAPIMail;

class clsXMAPIMailConnection : public clsConnectionBase {
  public:
    explicit clsXMAPIMailConnection(bool sendRole);
    // Through a given platform (a substitute in tests).
    clsXMAPIMailConnection(bool sendRole, std::unique_ptr<xmapi::Platform> platform);

    HRESULT OnConnect() override;
    HRESULT OnDisconnect() override;
    HRESULT OnCreateMail(LONG codepage, const String &cookie, IKvMail **mail) override;
    HRESULT OnSend(IKvMail *mail) override;
    HRESULT OnQueryMailbox(BYTE flag) override;
    HRESULT OnDeleteMail(const String &id) override;
    HRESULT OnMarkMailAsRead(const String &id) override;
    String GetProviderName() const override { return "XMAPI"; }
    HRESULT LoadRestOfMail(IKvMail *mail) override;
    bool IsProviderAvailable() override;
    bool AnswersSelector(REFIID riid) const override;
    // Throws clsExcept when the store cannot create messages.
    virtual DWORD GetMailCapabilities();

    clsXMAPI &Session() { return *session_; }

  private:
    void Logon();
    // Reads one message into `mail`, or into a new mail when null, which is
    // returned with the caller's reference. Throws clsExcept.
    clsXMAPIMail *ReadMail(const String &id, bool markAsRead, clsXMAPIMail *mail, bool envelopeOnly);
    std::unique_ptr<clsXMAPI> session_;
};

} // namespace kv

// clsCDOSYSMailConnection: the CDOSYS provider's connection.
#pragma once

#include <memory>

#include "connection/connection_base.h"
#include "providers/cdosys/cdo_objects.h"

namespace kv {

class clsCDOSYSMailConnection : public clsConnectionBase {
  public:
    explicit clsCDOSYSMailConnection(bool sendRole);
    // The objects that sends go through (tests put recording ones here).
    clsCDOSYSMailConnection(bool sendRole, std::shared_ptr<cdo::Platform> platform);

    HRESULT OnConnect() override;
    HRESULT OnDisconnect() override;
    HRESULT OnCreateMail(LONG codepage, const String &cookie, IKvMail **mail) override;
    HRESULT OnSend(IKvMail *mail) override;
    HRESULT OnQueryMailbox(BYTE flag) override;
    HRESULT OnDeleteMail(const String &id) override;
    HRESULT OnMarkMailAsRead(const String &id) override;
    String GetProviderName() const override { return "CDOSYS"; }
    HRESULT LoadRestOfMail(IKvMail *mail) override;
    bool IsProviderAvailable() override;
    bool AnswersSelector(REFIID riid) const override;
    virtual DWORD GetMailCapabilities();

  private:
    std::shared_ptr<cdo::Platform> platform_;
};

} // namespace kv

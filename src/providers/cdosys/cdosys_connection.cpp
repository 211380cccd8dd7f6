#include "providers/cdosys/cdosys_connection.h"

#include <new>

#include "runtime/com_util.h"

#include "providers/cdosys/cdo_system.h"
#include "providers/cdosys/cdosys_mail.h"
#include "providers/cdosys/cdosys_send.h"

namespace kv {

clsCDOSYSMailConnection::clsCDOSYSMailConnection(bool sendRole)
    : clsCDOSYSMailConnection(sendRole, cdo::DefaultPlatform()) {}

clsCDOSYSMailConnection::clsCDOSYSMailConnection(bool sendRole, std::shared_ptr<cdo::Platform> platform)
    : clsConnectionBase(sendRole), platform_(std::move(platform)) {
    WriteTextOption("ConfigSource", u"");
    WriteIntOption("SocketTimeout", 10000);
    WriteIntOption("ServerPort", 25);
    WriteIntOption("ProxyPort", 1080);
    WriteBoolOption("UseSSL", false);
    WriteTextOption("AuthProtocol", u"");
}

bool clsCDOSYSMailConnection::AnswersSelector(REFIID riid) const {
    return IsEqualIID(riid, IID_IKvCDOSYSSendConnection) || IsEqualIID(riid, IID_IKvCDOSYSRecvConnection);
}

bool clsCDOSYSMailConnection::IsProviderAvailable() { return true; }
DWORD clsCDOSYSMailConnection::GetMailCapabilities() { return 3; }

// Nothing to reach before a send: the platform objects connect per message.
HRESULT clsCDOSYSMailConnection::OnConnect() {
    SetState(kConnected);
    return S_OK;
}
HRESULT clsCDOSYSMailConnection::OnDisconnect() {
    SetState(kDisconnected);
    return S_OK;
}
HRESULT clsCDOSYSMailConnection::OnCreateMail(LONG codepage, const String &cookie, IKvMail **mail) {
    clsCDOSYSMail *created = new (std::nothrow) clsCDOSYSMail(this, cookie, uint32_t(codepage), GetMailCapabilities());
    if (!created) return E_OUTOFMEMORY;
    return created->QueryInterface(IID_IKvMail, reinterpret_cast<void **>(mail));
}
HRESULT clsCDOSYSMailConnection::OnSend(IKvMail *mail) {
    clsAutoRelease<clsCDOSYSMail> ours = clsCDOSYSMail::Of(mail);
    if (!ours) return E_NOINTERFACE;
    CdoSendMail(*platform_, *this, *ours);
    return S_OK;
}
HRESULT clsCDOSYSMailConnection::OnQueryMailbox(BYTE) { return E_NOTIMPL; }
HRESULT clsCDOSYSMailConnection::OnDeleteMail(const String &) { return E_NOTIMPL; }
HRESULT clsCDOSYSMailConnection::OnMarkMailAsRead(const String &) { return E_NOTIMPL; }
HRESULT clsCDOSYSMailConnection::LoadRestOfMail(IKvMail *) { return E_NOTIMPL; }

} // namespace kv

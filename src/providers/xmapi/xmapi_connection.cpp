#include "providers/xmapi/xmapi_connection.h"

#include <new>

#include "runtime/com_util.h"

#include "pal/system.h"
#include "providers/smapi/mapi_library.h"
#include "providers/xmapi/xmapi_mail.h"
#include "providers/xmapi/xmapi_send.h"

namespace kv {

clsXMAPIMailConnection::clsXMAPIMailConnection(bool sendRole)
    : clsXMAPIMailConnection(sendRole, xmapi::SystemPlatform()) {
    session_->errorBox = [](const String &text) { pal::ShowInfoMessage(text, "orkv14"); };
}

clsXMAPIMailConnection::clsXMAPIMailConnection(bool sendRole, std::unique_ptr<xmapi::Platform> platform)
    : clsConnectionBase(sendRole), session_(std::make_unique<clsXMAPI>(std::move(platform), false)) {}

bool clsXMAPIMailConnection::AnswersSelector(REFIID riid) const {
    return IsEqualIID(riid, IID_IKvXMAPISendConnection) || IsEqualIID(riid, IID_IKvXMAPIRecvConnection);
}

bool clsXMAPIMailConnection::IsProviderAvailable() { return IsMapiAvailable() != nullptr; }

void clsXMAPIMailConnection::Logon() {
    bool suppress = ReadBoolOption("SuppressLogonFailure");
    String password = ReadTextOptionA("ServerPassword");
    String user = ReadTextOptionA("ServerUser");
    session_->Logon(password, user, suppress);
}

DWORD clsXMAPIMailConnection::GetMailCapabilities() {
    if (!session_->Available()) return 1;
    bool temporary = !session_->LoggedOn();
    if (temporary) Logon();
    uint32_t mask = session_->SupportMask();
    if (temporary) session_->Logoff();
    if (!(mask & xmapi::STORE_CREATE_OK)) throw clsExcept(-5, "XMAPI store does not allow to create any message");
    return 7;
}

HRESULT clsXMAPIMailConnection::OnConnect() {
    try {
        Logon();
    } catch (clsExcept &e) {
        e.Push("[clsXMAPIMailConnection::OnConnect]");
        throw;
    }
    SetState(kConnected);
    return S_OK;
}

HRESULT clsXMAPIMailConnection::OnDisconnect() {
    // The spooler's queue is not flushed yet: messages wait for the messaging system's own schedule.
    if (State() != kConnecting) session_->Logoff();
    SetState(kDisconnected);
    return S_OK;
}

HRESULT clsXMAPIMailConnection::OnCreateMail(LONG codepage, const String &cookie, IKvMail **mail) {
    DWORD mask = GetMailCapabilities();
    auto *created = new (std::nothrow) clsXMAPIMail(this, cookie, uint32_t(codepage), mask);
    if (!created) return E_OUTOFMEMORY;
    created->AddRef();
    HRESULT hr = created->QueryInterface(IID_IKvMail, reinterpret_cast<void **>(mail));
    created->Release();
    return hr;
}

HRESULT clsXMAPIMailConnection::OnSend(IKvMail *mail) {
    clsXMAPIMail *ours = nullptr;
    if (!mail || FAILED(mail->QueryInterface(IID_clsXMAPIMail, reinterpret_cast<void **>(&ours))) || !ours)
        return E_NOINTERFACE;
    clsAutoRelease<clsXMAPIMail> hold(ours);
    if (!session_->Available()) throw clsExcept(-5, "MAPI is not available!");
    xmapi::SendSite *site = session_->Site();
    if (!site) return NotAvailable("OnSend");
    XmapiSendMail(*site, session_->SupportMask(), *ours, ReadBoolOption("DeleteAfterSend"));
    return S_OK;
}

HRESULT clsXMAPIMailConnection::OnQueryMailbox(BYTE) { return NotAvailable("OnQueryMailbox"); }

HRESULT clsXMAPIMailConnection::OnDeleteMail(const String &) {
    if (IsSendRole()) return Fail(E_UNEXPECTED, -5, "clsXMAPIMailConnection::OnDeleteMail(): not in RECV connection");
    if (State() != kConnected) return Fail(E_UNEXPECTED, -13, "clsXMAPIMailConnection::OnDeleteMail(): not connected");
    return NotAvailable("OnDeleteMail");
}

HRESULT clsXMAPIMailConnection::OnMarkMailAsRead(const String &) {
    if (IsSendRole())
        return Fail(E_UNEXPECTED, -5, "clsXMAPIMailConnection::OnMarkMailAsRead(): not in RECV connection");
    if (State() != kConnected)
        return Fail(E_UNEXPECTED, -13, "clsXMAPIMailConnection::OnMarkMailAsRead(): not connected");
    return NotAvailable("OnMarkMailAsRead");
}

HRESULT clsXMAPIMailConnection::LoadRestOfMail(IKvMail *) { return NotAvailable("LoadRestOfMail"); }

} // namespace kv

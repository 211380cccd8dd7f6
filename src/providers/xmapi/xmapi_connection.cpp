#include "providers/xmapi/xmapi_connection.h"

#include "providers/smapi/mapi_library.h"

namespace kv {

clsXMAPIMailConnection::clsXMAPIMailConnection(bool sendRole) : clsConnectionBase(sendRole) {}

bool clsXMAPIMailConnection::AnswersSelector(REFIID riid) const {
    return IsEqualIID(riid, IID_IKvXMAPISendConnection) || IsEqualIID(riid, IID_IKvXMAPIRecvConnection);
}

bool clsXMAPIMailConnection::IsProviderAvailable() { return IsMapiAvailable() != nullptr; }
// Plain text only while the messaging library is not loaded.
DWORD clsXMAPIMailConnection::GetMailCapabilities() { return 1; }

HRESULT clsXMAPIMailConnection::OnConnect() { return NotAvailable("OnConnect"); }
HRESULT clsXMAPIMailConnection::OnDisconnect() { return NotAvailable("OnDisconnect"); }
HRESULT clsXMAPIMailConnection::OnCreateMail(LONG, const String &, IKvMail **) { return NotAvailable("OnCreateMail"); }
HRESULT clsXMAPIMailConnection::OnSend(IKvMail *) { return NotAvailable("OnSend"); }
HRESULT clsXMAPIMailConnection::OnQueryMailbox(BYTE) { return NotAvailable("OnQueryMailbox"); }
HRESULT clsXMAPIMailConnection::OnDeleteMail(const String &) { return NotAvailable("OnDeleteMail"); }
HRESULT clsXMAPIMailConnection::OnMarkMailAsRead(const String &) { return NotAvailable("OnMarkMailAsRead"); }
HRESULT clsXMAPIMailConnection::LoadRestOfMail(IKvMail *) { return NotAvailable("LoadRestOfMail"); }

} // namespace kv

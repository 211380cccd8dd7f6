#include "providers/smapi/smapi_connection.h"

#include "providers/smapi/mapi_library.h"

namespace kv {

clsSMAPIMailConnection::clsSMAPIMailConnection(bool sendRole) : clsConnectionBase(sendRole) {}

bool clsSMAPIMailConnection::AnswersSelector(REFIID riid) const {
    return IsEqualIID(riid, IID_IKvSMAPISendConnection) || IsEqualIID(riid, IID_IKvSMAPIRecvConnection);
}

bool clsSMAPIMailConnection::IsProviderAvailable() { return IsMapiAvailable() != nullptr; }
DWORD clsSMAPIMailConnection::GetMailCapabilities() { return 1; }

HRESULT clsSMAPIMailConnection::OnConnect() { return NotAvailable("OnConnect"); }
HRESULT clsSMAPIMailConnection::OnDisconnect() { return NotAvailable("OnDisconnect"); }
HRESULT clsSMAPIMailConnection::OnCreateMail(LONG, const String &, IKvMail **) { return NotAvailable("OnCreateMail"); }
HRESULT clsSMAPIMailConnection::OnSend(IKvMail *) { return NotAvailable("OnSend"); }
HRESULT clsSMAPIMailConnection::OnQueryMailbox(BYTE) { return NotAvailable("OnQueryMailbox"); }
HRESULT clsSMAPIMailConnection::OnDeleteMail(const String &) { return NotAvailable("OnDeleteMail"); }
HRESULT clsSMAPIMailConnection::OnMarkMailAsRead(const String &) { return NotAvailable("OnMarkMailAsRead"); }
HRESULT clsSMAPIMailConnection::LoadRestOfMail(IKvMail *) { return NotAvailable("LoadRestOfMail"); }

} // namespace kv

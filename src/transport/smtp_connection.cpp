#include "transport/smtp_connection.h"

#include <new>

#include "mail/arpa_mail.h"
#include "pal/system.h"

namespace kv {

clsSMTPMailConnection::clsSMTPMailConnection() : clsConnectionBase(true) {
    String host = pal::ComputerName().substr(0, 15);
    WriteTextOption("ServerAddress", u"");
    WriteIntOption("ServerPort", 25);
    WriteIntOption("SocketTimeout", 10000);
    WriteTextOption("LogonName", Widen(ToLower(host)));
    WriteTextOption("ServerUser", u"");
    WriteTextOption("ServerPassword", u"");
    WriteBoolOption("POPBeforeSMTP", false);
    WriteIntOption("ProxyType", 0);
    WriteTextOption("ProxyAddress", u"");
    WriteIntOption("ProxyPort", 1080);
    WriteTextOption("ProxyUser", u"");
    WriteTextOption("ProxyPassword", u"");
}

bool clsSMTPMailConnection::AnswersSelector(REFIID riid) const {
    return IsEqualIID(riid, IID_IKvSMTPSendConnection);
}

HRESULT clsSMTPMailConnection::OnConnect() { return NotAvailable("OnConnect"); }
HRESULT clsSMTPMailConnection::OnDisconnect() { return NotAvailable("OnDisconnect"); }
HRESULT clsSMTPMailConnection::OnCreateMail(LONG codepage, const String &cookie, IKvMail **mail) {
    clsArpaMail *created = new (std::nothrow) clsArpaMail(this, cookie, uint32_t(codepage), GetMailCapabilities());
    if (!created) return E_OUTOFMEMORY;
    return created->QueryInterface(IID_IKvMail, reinterpret_cast<void **>(mail));
}
HRESULT clsSMTPMailConnection::OnSend(IKvMail *) { return NotAvailable("OnSend"); }
HRESULT clsSMTPMailConnection::OnQueryMailbox(BYTE) { return E_FAIL; }
HRESULT clsSMTPMailConnection::OnDeleteMail(const String &) { return E_FAIL; }
HRESULT clsSMTPMailConnection::LoadRestOfMail(IKvMail *) { return E_NOTIMPL; }

} // namespace kv

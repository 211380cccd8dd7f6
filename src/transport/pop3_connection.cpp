#include "transport/pop3_connection.h"

#include "pal/system.h"

namespace kv {

clsPOP3MailConnection::clsPOP3MailConnection() : clsConnectionBase(false) {
    WriteTextOption("ServerAddress", u"");
    WriteIntOption("ServerPort", 110);
    WriteIntOption("SocketTimeout", 10000);
    WriteTextOption("ServerUser", u"");
    WriteTextOption("ServerPassword", u"");
    WriteTextOption("SenderDomain", Widen(ToLower(pal::ComputerName())));
    // "ProxyAddress" stays unset: the proxy options count only once it holds a value.
    WriteIntOption("ProxyType", 0);
    WriteIntOption("ProxyPort", 1080);
    WriteTextOption("ProxyUser", u"");
    WriteTextOption("ProxyPassword", u"");
}

bool clsPOP3MailConnection::AnswersSelector(REFIID riid) const {
    return IsEqualIID(riid, IID_IKvPOP3RecvConnection);
}

HRESULT clsPOP3MailConnection::OnConnect() { return NotAvailable("OnConnect"); }
HRESULT clsPOP3MailConnection::OnDisconnect() { return NotAvailable("OnDisconnect"); }
HRESULT clsPOP3MailConnection::OnCreateMail(LONG, const String &, IKvMail **) { return E_FAIL; }
HRESULT clsPOP3MailConnection::OnSend(IKvMail *) { return E_FAIL; }
HRESULT clsPOP3MailConnection::OnQueryMailbox(BYTE) { return NotAvailable("OnQueryMailbox"); }
HRESULT clsPOP3MailConnection::OnDeleteMail(const String &) { return NotAvailable("OnDeleteMail"); }
HRESULT clsPOP3MailConnection::LoadRestOfMail(IKvMail *) { return NotAvailable("LoadRestOfMail"); }

} // namespace kv

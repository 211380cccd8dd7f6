#include "providers/smtp/smtp_connection.h"

#include <algorithm>
#include <memory>
#include <new>

#include "runtime/kvlog.h"
#include "mail/arpa_mail.h"
#include "mime/charset_table.h"
#include "mime/header_words.h"
#include "mime/address_field.h"
#include "mail/writer.h"
#include "pal/codepage.h"
#include "pal/system.h"
#include "runtime/com_util.h"
#include "runtime/regex.h"
#include "providers/internet/sasl.h"
#include "providers/internet/server_link.h"

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
    WriteIntOption("ProxyType", kProxyNone);
    WriteTextOption("ProxyAddress", u"");
    WriteIntOption("ProxyPort", 1080);
    WriteTextOption("ProxyUser", u"");
    WriteTextOption("ProxyPassword", u"");
}

clsSMTPMailConnection::~clsSMTPMailConnection() = default;

bool clsSMTPMailConnection::AnswersSelector(REFIID riid) const {
    return IsEqualIID(riid, IID_IKvSMTPSendConnection);
}

HRESULT clsSMTPMailConnection::OnCreateMail(LONG codepage, const String &cookie, IKvMail **mail) {
    clsArpaMail *created = new (std::nothrow) clsArpaMail(this, cookie, uint32_t(codepage), GetMailCapabilities());
    if (!created) return E_OUTOFMEMORY;
    return created->QueryInterface(IID_IKvMail, reinterpret_cast<void **>(mail));
}

namespace {

// The mail's rendered text, read from its hidden file.
class RawTextOf final : public clsMailText {
  public:
    explicit RawTextOf(clsFileRWTemp &file) : file_(file) { file_.Rewind(); }
    uint64_t Size() override { return file_.Size(); }
    size_t Read(void *buffer, size_t size) override { return file_.Read(buffer, size); }

  private:
    clsFileRWTemp &file_;
};

} // namespace

HRESULT clsSMTPMailConnection::OnSend(IKvMail *mail) {
    clsArpaMail *arpa = nullptr;
    if (!mail || FAILED(mail->QueryInterface(IID_clsArpaMail, reinterpret_cast<void **>(&arpa))) || !arpa)
        return E_NOINTERFACE;
    struct Hold {
        clsArpaMail *mail;
        ~Hold() { mail->Release(); }
    } hold{arpa};
    clsSmtpEnvelope envelope{arpa->EffectiveSender(), arpa->To(), arpa->CC(), arpa->BCC()};
    try {
        if (arpa->RawText().Empty()) RenderMail(*arpa, WriterOptions{arpa->SenderDomain()});
    } catch (clsExcept &e) {
        e.Push("[clsArpaMail::Send()]");
        throw;
    }
    RawTextOf text(arpa->RawText());
    Transfer(envelope, text);
    return S_OK;
}
HRESULT clsSMTPMailConnection::OnQueryMailbox(BYTE) { return E_FAIL; }
HRESULT clsSMTPMailConnection::OnDeleteMail(const String &) { return E_FAIL; }
HRESULT clsSMTPMailConnection::LoadRestOfMail(IKvMail *) { return E_NOTIMPL; }

String clsSMTPMailConnection::LogonName() {
    String name = ReadTextOptionA("LogonName");
    if (name.empty()) name = pal::ComputerName();
    static const clsRegEx kOther(u"[^\\[\\]A-Za-z0-9.]+");
    WString wide = Widen(name);
    WString cleaned;
    size_t at = 0;
    clsRegExMatch m;
    while (at <= wide.size() && kOther.Match(wide, at, m)) {
        cleaned.append(wide, at, m.Start() - at);
        cleaned += u"_";
        at = m.End();
    }
    if (at < wide.size()) cleaned.append(wide, at, WString::npos);
    return EncodeHeaderWord(cleaned, CharsetForCodePage(pal::AnsiCodePage()));
}

void clsSMTPMailConnection::PopBeforeSmtp() {
    clsAutoRelease<IClassFactory> factory;
    if (FAILED(DllGetClassObject(CLSID_KvComponent, IID_IClassFactory, reinterpret_cast<void **>(factory.put()))) ||
        !factory)
        throw clsExcept(kErrGeneral, "ClassFactory not found");
    clsAutoRelease<IKvMailConnection2> pop;
    factory->CreateInstance(nullptr, IID_IKvPOP3RecvConnection, reinterpret_cast<void **>(pop.put()));
    if (!pop) throw clsExcept(kErrGeneral, "mail connection interface for POP3 could not be created");
    for (const auto &entry : Options().Entries()) {
        if (!StartsWithNoCase(entry.first, "POP3.")) continue;
        WString name = Widen(entry.first.substr(5));
        VARIANT value = entry.second.get();
        pop->SetOption(reinterpret_cast<LPCWSTR>(name.c_str()), &value);
    }
    if (FAILED(pop->Connect())) {
        BSTR text = nullptr;
        pop->GetErrorInformation(nullptr, &text);
        String message = Narrow(WideView(reinterpret_cast<const char16_t *>(text)));
        SysFreeString(text);
        throw clsExcept(kErrLogonFailed, message);
    }
    pop->Disconnect();
}

namespace {

// Whether an EHLO reply lists this extension keyword.
bool Offers(const std::vector<String> &ehlo, std::string_view keyword) {
    for (size_t i = 1; i < ehlo.size(); ++i) {
        const String &line = ehlo[i];
        if (line.size() < 4) continue;
        std::string_view rest = TrimView(std::string_view(line).substr(4));
        std::string_view word = rest.substr(0, rest.find(' '));
        if (EqualsNoCase(word, keyword)) return true;
    }
    return false;
}

} // namespace

void clsSMTPMailConnection::Hello(const String &name) {
    if (socket_.SocketQuery("EHLO " + name, {kSmtpOk, kSmtpUnknownCommand}) != 0)
        throw clsExcept(kErrGeneral, "EHLO was not responded correctly");
    if (!socket_.ReplyLines().empty() &&
        socket_.ReplyLines().front().compare(0, 3, std::to_string(kSmtpUnknownCommand)) == 0)
        if (socket_.SocketQuery("HELO " + name, {kSmtpOk, kSmtpUnknownCommand}) != 0)
            throw clsExcept(kErrGeneral, "HELO was not responded correctly");
    ehlo_ = socket_.ReplyLines();
}

void clsSMTPMailConnection::StartTlsIfAsked(TlsMode mode, const String &name) {
    if (mode != TlsMode::StartTls && mode != TlsMode::Auto) return;
    if (!Offers(ehlo_, "STARTTLS")) {
        if (mode == TlsMode::Auto) return;
        throw clsExcept(kErrGeneral, "TLS required, but the server does not offer STARTTLS");
    }
    if (socket_.SocketQueryWithUnexpected("STARTTLS", {kSmtpReady}) != 0) {
        if (mode == TlsMode::Auto) return;
        String reply = socket_.ReplyLines().empty() ? String() : socket_.ReplyLines().front();
        throw clsExcept(kErrGeneral, Format("TLS required, but the server refused STARTTLS: %s", reply.c_str()));
    }
    socket_.StartTls(ReadTlsOptions(*this, ReadTextOptionA("ServerAddress")));
    // What the server said before TLS counts no more.
    ehlo_.clear();
    Hello(name);
}

namespace {

// The engine's exchanges over the SMTP socket: 334 is a challenge, 235 and
// 535 end the exchange; a strict step throws on any other code.
class SmtpSaslChannel final : public clsSaslChannel {
  public:
    explicit SmtpSaslChannel(clsSMTPSocket &socket) : socket_(socket) {}

    clsSaslReply Exchange(const clsSaslLine &line) override {
        allowed_.clear();
        if (line.expect & kSaslExpectChallenge) allowed_.push_back(kSmtpChallenge);
        if (line.expect & kSaslExpectSuccess) allowed_.push_back(kSmtpAuthenticated);
        if (line.expect & kSaslExpectFailure) allowed_.push_back(kSmtpAuthFailed);
        int rc = line.strict ? socket_.SocketQuery(line.text, allowed_, line.secrecy)
                             : socket_.SocketQueryWithUnexpected(line.text, allowed_, line.secrecy);
        clsSaslReply reply;
        if (!socket_.ReplyLines().empty()) reply.line = socket_.ReplyLines().front();
        if (rc != 0) return reply;
        switch (socket_.LastReplyCode()) {
        case kSmtpChallenge: reply.kind = SaslReplyKind::Challenge; break;
        case kSmtpAuthenticated: reply.kind = SaslReplyKind::Success; break;
        case kSmtpAuthFailed: reply.kind = SaslReplyKind::Failure; break;
        default: break;
        }
        return reply;
    }

  private:
    clsSMTPSocket &socket_;
    std::vector<int32_t> allowed_;
};

} // namespace

HRESULT clsSMTPMailConnection::OnConnect() {
    SetState(kOpening);
    try {
        clsServerLink link(*this, 25, clsServerLink::kProxyAlways);
        if (ReadBoolOption("POPBeforeSMTP")) PopBeforeSmtp();
        link.Open(socket_);
        if (socket_.SocketWaitReply({kSmtpReady}) == -6) throw clsExcept(kErrUnexpectedReply, "Logon unsuccessful");

        String name = LogonName();
        Hello(name);
        StartTlsIfAsked(link.Mode(), name);

        if (ReadTextOption("ServerUser").empty()) {
            SetState(kConnected);
            return S_OK;
        }
        SetState(kConnecting);
        // Every line counts, the last one too: servers list AUTH wherever they like.
        static const clsRegEx kAuth(u"\\d{3}[- ]AUTH[= ](.*)");
        String names;
        for (const String &line : ehlo_) {
            clsRegExMatchA m;
            if (kAuth.Match(line, m)) names += m.text[1] + " ";
        }
        NtfyConnectionState(kEventLogon, 0);
        clsSaslCredentials credentials{ReadTextOptionA("ServerUser"), ReadTextOptionA("ServerPassword"),
                                       ReadTextOptionA("OAuth2Token"), link.Host(), link.Port()};
        SmtpSaslChannel channel(socket_);
        clsSaslOutcome outcome = SaslAuthenticate(channel, kSaslSmtp, SaslMechanismsIn(names), credentials);
        if (outcome.result == SaslResult::Refused) throw clsExcept(kErrAuthRefused, "authentication failed!");
        // Nothing offered logs on without a word; a reply no step expected fails without one.
        bool loggedOn = outcome.result != SaslResult::Unexpected;
        NtfyConnectionState(kEventLoggedOn, loggedOn ? 1 : 0);
        if (!loggedOn) return E_FAIL;
        SetState(kConnected);
        return S_OK;
    } catch (clsExcept &e) {
        NtfyConnectionState(kEventServer, 0);
        OnDisconnect();
        e.Push("[clsSMTPMailConnection::OnConnect]");
        throw;
    }
}

HRESULT clsSMTPMailConnection::OnDisconnect() {
    // Saying goodbye may fail on a connection that is already gone; closing it must not.
    try {
        if (socket_.HasSocket()) {
            socket_.SocketQuery("RSET", {kSmtpClosing, kSmtpOk});
            socket_.SocketQuery("QUIT", {kSmtpClosing});
        }
    } catch (const clsExcept &) {
    }
    socket_.Disconnect();
    SetState(kDisconnected);
    return S_OK;
}

void clsSMTPMailConnection::OnSendCancelled() { Reset(); }

void clsSMTPMailConnection::Reset() {
    try {
        socket_.SocketQuery("RSET", {kSmtpOk});
    } catch (const clsExcept &) {
    }
}

namespace {

String AddressOf(const String &field) {
    String address = GetFieldAddress(ParseAddressField(field));
    while (!address.empty() && (unsigned char)address.back() < 0x20) address.pop_back();
    return address;
}

String Bracketed(const char *verb, const String &address) {
    return address.compare(0, 1, "<") == 0 ? Format("%s:%s", verb, address.c_str())
                                             : Format("%s:<%s>", verb, address.c_str());
}

constexpr size_t kTextBlock = 1024 * 1024;

} // namespace

void clsSMTPMailConnection::SendText(clsMailText &text) {
    SendEvent(kEventSend, 1);
    uint64_t size = text.Size();
    // Large blocks: one read and one send per block, and the system's send
    // buffer (often 16 KiB at the start) would make thousands of each.
    size_t capacity = std::max(size_t(std::max(socket_.SendBufferSize(), 1024)), kTextBlock);
    // A size the text cannot tell (0) must not make a block of one byte.
    if (size < capacity) capacity = size_t(std::max<uint64_t>(size, 64 * 1024));
    std::unique_ptr<char[]> block(new char[capacity]);
    // A short text leaves together with the terminator that follows it.
    struct Gather {
        clsSocket &socket;
        ~Gather() { socket.GatherSends(false); }
    } gather{socket_};
    socket_.GatherSends(true);
    uint64_t position = 0;
    uint64_t lastEvent = pal::TickCountMs();
    char last2[2] = {0, 0};
    for (;;) {
        size_t n = text.Read(block.get(), capacity);
        if (n == 0) break;
        socket_.SocketSend(block.get(), n);
        if (n >= 2) last2[0] = block[n - 2], last2[1] = block[n - 1];
        else last2[0] = last2[1], last2[1] = block[0];
        position += n;
        uint64_t now = pal::TickCountMs();
        if (now - lastEvent >= 500 && size > 0) {
            SendEvent(kEventSend, LONG(position * 100 / size));
            lastEvent = now;
        }
    }
    // One line end before the terminator, never two: a text ending in CR LF needs none.
    bool endsInLineEnd = position >= 2 && last2[0] == '\r' && last2[1] == '\n';
    if (!endsInLineEnd) socket_.SocketSend("\r\n", 2);
}

void clsSMTPMailConnection::Transfer(const clsSmtpEnvelope &envelope, clsMailText &text) {
    try {
        String sender = AddressOf(envelope.sender);
        if (socket_.SocketQueryWithUnexpected(Bracketed("MAIL FROM", sender), {kSmtpOk}) != 0) {
            String reply = socket_.ReplyLines().empty() ? String() : socket_.ReplyLines().front();
            Reset();
            throw clsExcept(kErrRefused, Format("Sender Address '%s' ('%s') bad: %s", envelope.sender.c_str(),
                                                sender.c_str(), reply.c_str()));
        }
        std::vector<String> refused;
        size_t total = 0;
        for (const auto *list : {&envelope.to, &envelope.cc, &envelope.bcc}) {
            for (const String &entry : *list) {
                ++total;
                String address = AddressOf(entry);
                int rc = socket_.SocketQueryWithUnexpected(Bracketed("RCPT TO", address),
                                                           {kSmtpPositive, kSmtpPermanentFailure});
                String reply = socket_.ReplyLines().empty() ? String() : socket_.ReplyLines().front();
                int32_t code = socket_.LastReplyCode();
                if (rc == 0 && SmtpClassOf(code) == kSmtpPositive) continue;
                String text = Format("Recipient Address '%s': %s", address.c_str(), reply.c_str());
                if (rc == 0 && SmtpClassOf(code) == kSmtpPermanentFailure) {
                    refused.push_back(text);
                    continue;
                }
                Reset();
                throw clsExcept(kErrRefused, text);
            }
        }
        bool sent = false;
        if (refused.size() >= total) {
            Reset();
        } else {
            if (socket_.SocketQueryWithUnexpected("DATA", {kSmtpStartData}) != 0) {
                String reply = socket_.ReplyLines().empty() ? String() : socket_.ReplyLines().front();
                Reset();
                throw clsExcept(kErrGeneral, Format("Message could not be posted: %s", reply.c_str()));
            }
            try {
                SendText(text);
            } catch (const clsExcept &e) {
                // Cancelled inside the data: only closing keeps the server from taking the mail.
                if (e.Code() == kErrCancelled) {
                    socket_.Disconnect();
                    SetState(kDisconnected);
                } else {
                    Reset();
                }
                throw;
            }
            if (socket_.SocketQueryWithUnexpected(".", {kSmtpOk}) != 0) {
                String reply = socket_.ReplyLines().empty() ? String() : socket_.ReplyLines().front();
                Reset();
                throw clsExcept(kErrGeneral, Format("Message could not be posted: %s", reply.c_str()));
            }
            sent = true;
        }
        if (!refused.empty()) {
            String message;
            if (!sent) message = "The Message has not been sent!";
            for (const String &r : refused) message += (message.empty() ? "" : "\n") + r;
            throw clsExcept(kErrRefused, message);
        }
    } catch (clsExcept &e) {
        e.Push("[clsArpaMail::Send()]");
        throw;
    }
}


} // namespace kv

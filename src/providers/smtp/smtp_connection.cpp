#include "providers/smtp/smtp_connection.h"

#include <algorithm>
#include <memory>
#include <new>

#include "mail/arpa_mail.h"
#include "mail/writer.h"
#include "mime/address_field.h"
#include "mime/charset_table.h"
#include "mime/header_words.h"
#include "pal/codepage.h"
#include "pal/idn.h"
#include "pal/system.h"
#include "providers/internet/sasl.h"
#include "providers/internet/server_link.h"
#include "runtime/com_util.h"
#include "runtime/kvlog.h"
#include "runtime/regex.h"

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

bool HasEightBit(clsFileRWTemp &file) {
    file.Rewind();
    std::unique_ptr<unsigned char[]> block(new unsigned char[64 * 1024]);
    for (size_t n; (n = file.Read(block.get(), 64 * 1024)) != 0;)
        for (size_t i = 0; i < n; ++i)
            if (block[i] >= 0x80) return true;
    return false;
}

// The Message-ID line of the text's header, so that the text rendered again
// for the wire names the mail as the host saw it.
String MessageIdOf(clsFileRWTemp &file) {
    file.Rewind();
    String head(64 * 1024, '\0');
    head.resize(file.Read(head.data(), head.size()));
    for (size_t at = 0; at < head.size();) {
        size_t end = head.find("\r\n", at);
        if (end == String::npos || end == at) break;
        std::string_view line(head.data() + at, end - at);
        if (StartsWithNoCase(line, "Message-ID:")) return String(TrimView(line.substr(11)));
        at = end + 2;
    }
    return String();
}

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
        if (arpa->RawText().Empty()) RenderMail(*arpa, WriterOptions{arpa->SenderDomain(), false, {}});
    } catch (clsExcept &e) {
        e.Push("[clsArpaMail::Send()]");
        throw;
    }
    // A server without 8BITMIME gets 8-bit text quoted-printable; the raw
    // text the host reads stays as it is.
    if (!extensions_.eightBitMime && HasEightBit(arpa->RawText())) {
        clsFileRWTemp wire;
        RenderMailTo(*arpa, WriterOptions{arpa->SenderDomain(), true, MessageIdOf(arpa->RawText())}, wire);
        if (!wire.Empty()) {
            RawTextOf text(wire);
            Transfer(envelope, text);
            return S_OK;
        }
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

bool AllDigits(std::string_view text) {
    return !text.empty() && text.find_first_not_of("0123456789") == std::string_view::npos;
}

} // namespace

clsSmtpExtensions SmtpExtensionsOf(const std::vector<String> &ehlo) {
    clsSmtpExtensions x;
    for (size_t i = 1; i < ehlo.size(); ++i) {
        if (ehlo[i].size() < 4) continue;
        std::string_view rest = TrimView(std::string_view(ehlo[i]).substr(4));
        size_t space = rest.find(' ');
        std::string_view word = rest.substr(0, space);
        std::string_view parameter = space == std::string_view::npos ? "" : TrimView(rest.substr(space + 1));
        if (EqualsNoCase(word, "8BITMIME"))
            x.eightBitMime = true;
        else if (EqualsNoCase(word, "PIPELINING"))
            x.pipelining = true;
        else if (EqualsNoCase(word, "DSN"))
            x.dsn = true;
        else if (EqualsNoCase(word, "SMTPUTF8"))
            x.smtpUtf8 = true;
        // 19 digits always fit; a longer limit is no limit worth keeping.
        else if (EqualsNoCase(word, "SIZE") && AllDigits(parameter) && parameter.size() <= 19) {
            x.size = true;
            x.sizeLimit = std::stoull(String(parameter));
        }
    }
    return x;
}

void clsSMTPMailConnection::Hello(const String &name) {
    if (socket_.SocketQuery("EHLO " + name, {kSmtpOk, kSmtpUnknownCommand}) != 0)
        throw clsExcept(kErrGeneral, "EHLO was not responded correctly");
    bool helo = !socket_.ReplyLines().empty() &&
                socket_.ReplyLines().front().compare(0, 3, std::to_string(kSmtpUnknownCommand)) == 0;
    if (helo && socket_.SocketQuery("HELO " + name, {kSmtpOk, kSmtpUnknownCommand}) != 0)
        throw clsExcept(kErrGeneral, "HELO was not responded correctly");
    ehlo_ = socket_.ReplyLines();
    extensions_ = helo ? clsSmtpExtensions() : SmtpExtensionsOf(ehlo_);
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
    extensions_ = clsSmtpExtensions();
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

bool IsAscii(std::u16string_view text) {
    return std::all_of(text.begin(), text.end(), [](char16_t c) { return c < 0x80; });
}

// The address as it goes on the wire: as it is when ASCII; in UTF-8 with
// SMTPUTF8 (`utf8` set); else with its domain in A-labels. A local part that
// is not ASCII cannot go to a server without SMTPUTF8.
String WireAddress(const String &address, bool smtpUtf8, bool &utf8) {
    WString wide = Widen(address);
    if (IsAscii(wide)) return address;
    if (smtpUtf8) {
        utf8 = true;
        return Narrow(wide, 65001);
    }
    size_t at = wide.rfind(u'@');
    size_t close = wide.size() && wide.back() == u'>' ? wide.size() - 1 : wide.size();
    if (at == WString::npos || at > close || !IsAscii(std::u16string_view(wide).substr(0, at)))
        throw clsExcept(kErrRefused, Format("The address '%s' is not ASCII before its domain, and the server does not "
                                            "offer SMTPUTF8",
                                            address.c_str()));
    String domain;
    if (!pal::DomainToAscii(std::u16string_view(wide).substr(at + 1, close - at - 1), domain))
        throw clsExcept(kErrRefused,
                        Format("The domain of the address '%s' is not a valid international name", address.c_str()));
    return Narrow(std::u16string_view(wide).substr(0, at + 1)) + domain + (close < wide.size() ? ">" : "");
}

// An option's value as a parameter value: printable ASCII, nothing else.
String DsnValue(const clsConnectionBase &connection, const char *option) {
    WString value = connection.ReadTextOption(option);
    for (char16_t c : value)
        if (c <= 0x20 || c >= 0x7f)
            throw clsExcept(kErrGeneral, Format("option %s: the value must be printable ASCII without spaces", option));
    return Narrow(value);
}

// The DSN parameters of MAIL FROM (RET, ENVID) and RCPT TO (NOTIFY), checked
// before anything is sent.
struct DsnParameters {
    String mail, rcpt;
};

DsnParameters ReadDsn(const clsConnectionBase &connection) {
    DsnParameters dsn;
    String notify = DsnValue(connection, "DSNNotify");
    if (!notify.empty()) {
        String words;
        bool never = false;
        for (size_t at = 0; at <= notify.size();) {
            size_t comma = std::min(notify.find(',', at), notify.size());
            String word = ToUpper(std::string_view(notify).substr(at, comma - at));
            if (word != "NEVER" && word != "SUCCESS" && word != "FAILURE" && word != "DELAY")
                throw clsExcept(kErrGeneral, Format("option DSNNotify: '%s' is none of never, success, failure, delay",
                                                    word.c_str()));
            never = never || word == "NEVER";
            words += (words.empty() ? "" : ",") + word;
            at = comma + 1;
        }
        if (never && words != "NEVER") throw clsExcept(kErrGeneral, "option DSNNotify: never stands alone");
        dsn.rcpt = " NOTIFY=" + words;
    }
    String ret = DsnValue(connection, "DSNReturn");
    if (EqualsNoCase(ret, "full"))
        dsn.mail += " RET=FULL";
    else if (EqualsNoCase(ret, "headers"))
        dsn.mail += " RET=HDRS";
    else if (!ret.empty())
        throw clsExcept(kErrGeneral, "option DSNReturn: neither full nor headers");
    String envid = DsnValue(connection, "DSNEnvelopeID");
    if (envid.size() > 100) throw clsExcept(kErrGeneral, "option DSNEnvelopeID: longer than 100 characters");
    if (!envid.empty()) {
        dsn.mail += " ENVID=";
        // xtext: "+" and "=" as "+" and two hex digits.
        for (char c : envid) dsn.mail += c == '+' || c == '=' ? Format("+%02X", unsigned(c)) : String(1, c);
    }
    return dsn;
}

// The commands of one transfer: MAIL FROM, one RCPT TO per recipient (with
// the address the errors name), DATA when there is a recipient.
struct TransferPlan {
    String mail;
    std::vector<std::pair<String, String>> rcpts; // command, address
};

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

int32_t clsSMTPMailConnection::Answer(const String &command, bool pipelined) {
    static const std::vector<int32_t> kAny = {1, 2, 3, 4, 5, 6, 7, 8, 9};
    int rc = pipelined ? socket_.SocketWaitReply({1, 2, 3, 4, 5, 6, 7, 8, 9})
                       : socket_.SocketQueryWithUnexpected(command, kAny);
    return rc == 0 ? socket_.LastReplyCode() : 0;
}

void clsSMTPMailConnection::OutOfStep(const String &command) {
    String reply = socket_.ReplyLines().empty() ? String() : socket_.ReplyLines().front();
    socket_.Disconnect();
    SetState(kDisconnected);
    throw clsExcept(kErrUnexpectedReply,
                    Format("The server's replies are out of step with the commands: '%s' answers '%s'", reply.c_str(),
                           command.c_str()));
}

void clsSMTPMailConnection::Drain(size_t owed, bool dataOwed) {
    for (size_t i = 0; i < owed; ++i)
        if (Answer(String(), true) == kSmtpStartData) OutOfStep("RCPT TO");
    if (dataOwed && Answer(String(), true) == kSmtpStartData) {
        socket_.Disconnect();
        SetState(kDisconnected);
    }
}

void clsSMTPMailConnection::Transfer(const clsSmtpEnvelope &envelope, clsMailText &text) {
    try {
        // Everything is checked before the first command leaves.
        const clsSmtpExtensions x = extensions_;
        DsnParameters dsn = ReadDsn(*this);
        if (!x.dsn && !(dsn.mail.empty() && dsn.rcpt.empty()))
            LogWrite(kLogDetails, "DSN options not used: the server does not offer DSN");
        if (!x.dsn) dsn = DsnParameters();
        uint64_t size = text.Size();
        if (x.size && x.sizeLimit != 0 && size > x.sizeLimit)
            throw clsExcept(kErrGeneral, Format("The message of %llu bytes is larger than the server's limit of %llu "
                                                "bytes",
                                                (unsigned long long)size, (unsigned long long)x.sizeLimit));
        bool utf8 = false;
        TransferPlan plan;
        String sender = AddressOf(envelope.sender);
        plan.mail = Bracketed("MAIL FROM", WireAddress(sender, x.smtpUtf8, utf8));
        for (const auto *list : {&envelope.to, &envelope.cc, &envelope.bcc})
            for (const String &entry : *list) {
                String address = AddressOf(entry);
                plan.rcpts.emplace_back(Bracketed("RCPT TO", WireAddress(address, x.smtpUtf8, utf8)) + dsn.rcpt,
                                        address);
            }
        if (x.size) plan.mail += Format(" SIZE=%llu", (unsigned long long)size);
        if (x.eightBitMime) plan.mail += " BODY=8BITMIME";
        if (utf8) plan.mail += " SMTPUTF8";
        plan.mail += dsn.mail;
        bool pipelined = x.pipelining;
        size_t total = plan.rcpts.size();
        // Commands leave in windows: a server whose replies fill its socket
        // while we are still writing would otherwise stall both sides.
        const size_t kWindow = 100;
        size_t written = 0;
        bool mailWritten = false;
        auto writeWindow = [&]() {
            size_t end = std::min(total, written + kWindow);
            String batch = mailWritten ? String() : plan.mail + "\r\n";
            for (size_t i = written; i < end; ++i) batch += plan.rcpts[i].first + "\r\n";
            bool withData = end == total && total > 0;
            if (withData) batch += "DATA\r\n";
            // A line break inside an address would smuggle in a command.
            auto lines = std::ptrdiff_t(end - written + !mailWritten + withData);
            if (std::count(batch.begin(), batch.end(), '\n') != lines ||
                std::count(batch.begin(), batch.end(), '\r') != lines)
                throw clsExcept(kErrGeneral, "command refused: it contains a line break");
            int rc = socket_.SocketSend(batch.data(), batch.size());
            if (rc != 0) throw clsExcept(rc, "the commands could not be sent");
            mailWritten = true;
            written = end;
        };
        auto dataWritten = [&]() { return written == total && total > 0; };
        if (pipelined) writeWindow();
        int32_t code = Answer(plan.mail, pipelined);
        if (code != kSmtpOk) {
            if (pipelined && code == kSmtpStartData) OutOfStep("MAIL FROM");
            String reply = socket_.ReplyLines().empty() ? String() : socket_.ReplyLines().front();
            if (pipelined) Drain(written, dataWritten());
            Reset();
            throw clsExcept(kErrRefused, Format("Sender Address '%s' ('%s') bad: %s", envelope.sender.c_str(),
                                                sender.c_str(), reply.c_str()));
        }
        std::vector<String> refused;
        for (size_t i = 0; i < total; ++i) {
            if (pipelined && i == written) writeWindow();
            code = Answer(plan.rcpts[i].first, pipelined);
            if (pipelined && code == kSmtpStartData) OutOfStep("RCPT TO");
            if (SmtpClassOf(code) == kSmtpPositive) continue;
            String reply = socket_.ReplyLines().empty() ? String() : socket_.ReplyLines().front();
            String text = Format("Recipient Address '%s': %s", plan.rcpts[i].second.c_str(), reply.c_str());
            if (SmtpClassOf(code) == kSmtpPermanentFailure) {
                refused.push_back(text);
                continue;
            }
            if (pipelined) Drain(written - i - 1, dataWritten());
            Reset();
            throw clsExcept(kErrRefused, text);
        }
        bool sent = false;
        if (refused.size() >= total) {
            if (pipelined) Drain(0, dataWritten());
            Reset();
        } else {
            code = Answer("DATA", pipelined);
            // DATA never earns a 2xx; bytes after its reply answer nothing sent.
            if (pipelined && (SmtpClassOf(code) == kSmtpPositive || socket_.HasUnreadReply())) OutOfStep("DATA");
            if (code != kSmtpStartData) {
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

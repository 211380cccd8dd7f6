#include "providers/smtp/smtp_connection.h"

#include <algorithm>
#include <memory>
#include <new>

#include "runtime/kvlog.h"
#include "mail/arpa_mail.h"
#include "mime/charset_table.h"
#include "mime/base64.h"
#include "mime/header_words.h"
#include "mime/address_field.h"
#include "providers/internet/md5.h"
#include "mail/writer.h"
#include "pal/codepage.h"
#include "pal/system.h"
#include "runtime/com_util.h"
#include "runtime/regex.h"
#include "providers/internet/security_options.h"

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
        throw clsExcept(-5, "ClassFactory not found");
    clsAutoRelease<IKvMailConnection2> pop;
    factory->CreateInstance(nullptr, IID_IKvPOP3RecvConnection, reinterpret_cast<void **>(pop.put()));
    if (!pop) throw clsExcept(-5, "mail connection interface for POP3 could not be created");
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
        throw clsExcept(-4, message);
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
    if (socket_.SocketQuery("EHLO " + name, {250, 500}) != 0) throw clsExcept(-5, "EHLO was not responded correctly");
    if (!socket_.ReplyLines().empty() && socket_.ReplyLines().front().compare(0, 3, "500") == 0)
        if (socket_.SocketQuery("HELO " + name, {250, 500}) != 0)
            throw clsExcept(-5, "HELO was not responded correctly");
    ehlo_ = socket_.ReplyLines();
}

void clsSMTPMailConnection::StartTlsIfAsked(TlsMode mode, const String &name) {
    if (mode != TlsMode::StartTls && mode != TlsMode::Auto) return;
    if (!Offers(ehlo_, "STARTTLS")) {
        if (mode == TlsMode::Auto) return;
        throw clsExcept(-5, "TLS required, but the server does not offer STARTTLS");
    }
    if (socket_.SocketQueryWithUnexpected("STARTTLS", {220}) != 0) {
        if (mode == TlsMode::Auto) return;
        String reply = socket_.ReplyLines().empty() ? String() : socket_.ReplyLines().front();
        throw clsExcept(-5, Format("TLS required, but the server refused STARTTLS: %s", reply.c_str()));
    }
    socket_.StartTls(ReadTlsOptions(*this, ReadTextOptionA("ServerAddress")));
    // What the server said before TLS counts no more.
    ehlo_.clear();
    Hello(name);
}

HRESULT clsSMTPMailConnection::OnConnect() {
    SetState(0);
    try {
        TlsMode mode = ReadTlsMode(*this);
        socket_.SetProxyResolveRemote(ReadProxyResolveRemote(*this));
        if (ReadBoolOption("POPBeforeSMTP")) PopBeforeSmtp();
        socket_.SetProxy(ReadTextOptionA("ProxyAddress"), ReadIntOption("ProxyPort", 1080),
                         ReadTextOptionA("ProxyUser"), ReadTextOptionA("ProxyPassword"), ReadIntOption("ProxyType", 0));
        String host = ReadTextOptionA("ServerAddress");
        uint16_t port = uint16_t(ReadIntOption("ServerPort", 25));
        socket_.Connect(host, port, uint32_t(ReadIntOption("SocketTimeout", 10000)));
        NtfyConnectionState(3, 1);
        if (mode == TlsMode::Implicit) socket_.StartTls(ReadTlsOptions(*this, host));
        if (socket_.SocketWaitReply({220}) == -6) throw clsExcept(-6, "Logon unsuccessful");

        String name = LogonName();
        Hello(name);
        StartTlsIfAsked(mode, name);

        if (ReadTextOption("ServerUser").empty()) {
            SetState(kConnected);
            return S_OK;
        }
        SetState(kConnecting);
        // Every line counts, the last one too: servers list AUTH wherever they like.
        static const clsRegEx kAuth(u"\\d{3}[- ]AUTH[= ](.*)");
        bool login = false, plain = false, cram = false, xoauth2 = false, oauthbearer = false;
        for (const String &line : ehlo_) {
            clsRegExMatchA m;
            if (!kAuth.Match(line, m)) continue;
            String words = m.text[1];
            size_t at = 0;
            while (at < words.size()) {
                size_t end = words.find(' ', at);
                if (end == String::npos) end = words.size();
                std::string_view word = TrimView(std::string_view(words).substr(at, end - at));
                if (EqualsNoCase(word, "login")) login = true;
                else if (EqualsNoCase(word, "plain")) plain = true;
                else if (EqualsNoCase(word, "cram-md5")) cram = true;
                else if (EqualsNoCase(word, "xoauth2")) xoauth2 = true;
                else if (EqualsNoCase(word, "oauthbearer")) oauthbearer = true;
                at = end + 1;
            }
        }
        NtfyConnectionState(4, 0);
        int result = 0;
        String token = ReadTextOptionA("OAuth2Token");
        if (!token.empty() && !oauthbearer && !xoauth2 && ReadTextOption("ServerPassword").empty())
            throw clsExcept(-8, "the server offers neither OAUTHBEARER nor XOAUTH2 for the access token");
        if (!token.empty() && (oauthbearer || xoauth2)) {
            // A token the server refuses ends the logon: falling back to a password is not what was asked.
            result = AuthOAuth(oauthbearer, token, host, port);
            if (result == -8) throw clsExcept(-8, "authentication failed!");
        } else if (login || plain || cram) {
            result = -8;
            if (cram) result = AuthCramMd5();
            if (result == -8) {
                bool ran = false;
                if (login) result = AuthLogin(), ran = true;
                else if (plain) result = AuthPlain(), ran = true;
                if (!ran && !cram) result = -8;
                if (result == -8) throw clsExcept(-8, "authentication failed!");
            }
        }
        NtfyConnectionState(5, result == 0 ? 1 : 0);
        if (result == 0) {
            SetState(kConnected);
            return S_OK;
        }
        return E_FAIL;
    } catch (clsExcept &e) {
        NtfyConnectionState(3, 0);
        OnDisconnect();
        e.Push("[clsSMTPMailConnection::OnConnect]");
        throw;
    }
}

HRESULT clsSMTPMailConnection::OnDisconnect() {
    // Saying goodbye may fail on a connection that is already gone; closing it must not.
    try {
        if (socket_.HasSocket()) {
            socket_.SocketQuery("RSET", {221, 250});
            socket_.SocketQuery("QUIT", {221});
        }
    } catch (const clsExcept &) {
    }
    socket_.Disconnect();
    SetState(kDisconnected);
    return S_OK;
}

int clsSMTPMailConnection::AuthCramMd5() {
    socket_.SocketQuery("AUTH CRAM-MD5", {334});
    const String &first = socket_.ReplyLines().front();
    String challenge = DecodeBase64(first.size() > 4 ? std::string_view(first).substr(4) : std::string_view());
    String password = ReadTextOptionA("ServerPassword");
    String response = ReadTextOptionA("ServerUser") + " " + HmacMd5Hex(password, challenge);
    socket_.SetNextCommandSecret();
    int rc = socket_.SocketQueryWithUnexpected(EncodeBase64(response, pal::AnsiCodePage()), {235, 535});
    if (socket_.LastReplyCode() == 535) return -8;
    return rc;
}

int clsSMTPMailConnection::AuthLogin() {
    socket_.SocketQuery("AUTH LOGIN", {334});
    socket_.SetNextCommandSecret();
    socket_.SocketQuery(EncodeBase64(ReadTextOptionA("ServerUser"), pal::AnsiCodePage()), {334});
    socket_.SetNextCommandSecret();
    int rc = socket_.SocketQuery(EncodeBase64(ReadTextOptionA("ServerPassword"), pal::AnsiCodePage()), {235, 535});
    return (socket_.LastReplyCode() == 535 || rc != 0) ? -8 : 0;
}

int clsSMTPMailConnection::AuthPlain() {
    String bytes;
    bytes.push_back('\0');
    bytes += ReadTextOptionA("ServerUser");
    bytes.push_back('\0');
    bytes += ReadTextOptionA("ServerPassword");
    if (bytes.size() > 2000) throw clsExcept(-8, "user name and password too long for AUTH PLAIN");
    socket_.SetNextCommandSecret();
    int rc = socket_.SocketQuery("AUTH PLAIN " + EncodeBase64(bytes.data(), bytes.size()), {235, 535});
    return (socket_.LastReplyCode() == 535 || rc != 0) ? -8 : 0;
}

int clsSMTPMailConnection::AuthOAuth(bool bearer, const String &token, const String &host, uint16_t port) {
    String user = ReadTextOptionA("ServerUser");
    String message = bearer ? OAuthBearerMessage(user, host, port, token) : XOAuth2Message(user, token);
    socket_.SetNextCommandSecret();
    int rc = socket_.SocketQueryWithUnexpected(
        String(bearer ? "AUTH OAUTHBEARER " : "AUTH XOAUTH2 ") + EncodeBase64(message.data(), message.size()),
        {235, 334, 535});
    if (rc == 0 && socket_.LastReplyCode() == 334) {
        // The server's error report; the empty or %x01 answer lets it end the exchange with 535.
        socket_.SocketQueryWithUnexpected(bearer ? kOAuthBearerAbort : "", {235, 535});
        return -8;
    }
    return (rc != 0 || socket_.LastReplyCode() != 235) ? -8 : 0;
}

void clsSMTPMailConnection::Reset() {
    try {
        socket_.SocketQuery("RSET", {250});
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

std::vector<int32_t> AcceptOrRefuse() {
    std::vector<int32_t> codes;
    for (int32_t c = 200; c < 300; ++c) codes.push_back(c);
    for (int32_t c = 500; c < 600; ++c) codes.push_back(c);
    return codes;
}

constexpr size_t kTextBlock = 1024 * 1024;

} // namespace

void clsSMTPMailConnection::SendText(clsMailText &text) {
    SendEvent(8, 1);
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
            SendEvent(8, LONG(position * 100 / size));
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
        if (socket_.SocketQueryWithUnexpected(Bracketed("MAIL FROM", sender), {250}) != 0) {
            String reply = socket_.ReplyLines().empty() ? String() : socket_.ReplyLines().front();
            Reset();
            throw clsExcept(-14, Format("Sender Address '%s' ('%s') bad: %s", envelope.sender.c_str(),
                                        sender.c_str(), reply.c_str()));
        }
        std::vector<String> refused;
        size_t total = 0;
        static const std::vector<int32_t> kCodes = AcceptOrRefuse();
        for (const auto *list : {&envelope.to, &envelope.cc, &envelope.bcc}) {
            for (const String &entry : *list) {
                ++total;
                String address = AddressOf(entry);
                int rc = socket_.SocketQueryWithUnexpected(Bracketed("RCPT TO", address), kCodes);
                String reply = socket_.ReplyLines().empty() ? String() : socket_.ReplyLines().front();
                int32_t code = socket_.LastReplyCode();
                if (rc == 0 && code >= 200 && code < 300) continue;
                String text = Format("Recipient Address '%s': %s", address.c_str(), reply.c_str());
                if (rc == 0 && code >= 500 && code < 600) {
                    refused.push_back(text);
                    continue;
                }
                Reset();
                throw clsExcept(-14, text);
            }
        }
        bool sent = false;
        if (refused.size() >= total) {
            Reset();
        } else {
            if (socket_.SocketQueryWithUnexpected("DATA", {354}) != 0) {
                String reply = socket_.ReplyLines().empty() ? String() : socket_.ReplyLines().front();
                Reset();
                throw clsExcept(-5, Format("Message could not be posted: %s", reply.c_str()));
            }
            try {
                SendText(text);
            } catch (const clsExcept &) {
                Reset();
                throw;
            }
            if (socket_.SocketQueryWithUnexpected(".", {250}) != 0) {
                String reply = socket_.ReplyLines().empty() ? String() : socket_.ReplyLines().front();
                Reset();
                throw clsExcept(-5, Format("Message could not be posted: %s", reply.c_str()));
            }
            sent = true;
        }
        if (!refused.empty()) {
            String message;
            if (!sent) message = "The Message has not been sent!";
            for (const String &r : refused) message += (message.empty() ? "" : "\n") + r;
            throw clsExcept(-14, message);
        }
    } catch (clsExcept &e) {
        e.Push("[clsArpaMail::Send()]");
        throw;
    }
}


} // namespace kv

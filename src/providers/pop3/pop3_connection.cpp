#include "providers/pop3/pop3_connection.h"

#include <algorithm>
#include <cstdint>
#include <deque>
#include <iterator>
#include <new>

#include "runtime/kvlog.h"
#include "mail/arpa_mail.h"
#include "mail/reader.h"
#include "mime/base64.h"
#include "mime/address_field.h"
#include "providers/internet/md5.h"
#include "pal/channel.h"
#include "pal/system.h"
#include "runtime/com_util.h"
#include "providers/internet/security_options.h"

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

clsPOP3MailConnection::~clsPOP3MailConnection() = default;

bool clsPOP3MailConnection::AnswersSelector(REFIID riid) const {
    return IsEqualIID(riid, IID_IKvPOP3RecvConnection);
}

HRESULT clsPOP3MailConnection::OnCreateMail(LONG, const String &, IKvMail **) { return E_FAIL; }
HRESULT clsPOP3MailConnection::OnSend(IKvMail *) { return E_FAIL; }

uint32_t MessageNumberOf(const String &id) {
    uint32_t n = 0;
    for (char c : id) {
        if (c < '0' || c > '9' || n > 100000000) break;
        n = n * 10 + uint32_t(c - '0');
    }
    return n;
}

std::vector<String> clsPOP3MailConnection::TakeLines() {
    std::vector<String> lines = socket_.TakeReplyLines();
    if (!lines.empty()) lines.erase(lines.begin()); // the status line
    return lines;
}

namespace {

bool FirstIsOk(const std::vector<String> &reply) { return !reply.empty() && StartsWithNoCase(reply.front(), "+OK"); }

// Whether a CAPA listing holds this capability, or with `argument` this SASL mechanism.
bool Lists(const std::vector<String> &capabilities, std::string_view name, std::string_view argument = {}) {
    for (const String &line : capabilities) {
        std::string_view rest = TrimView(line);
        std::string_view word = rest.substr(0, rest.find(' '));
        if (!EqualsNoCase(word, name)) continue;
        if (argument.empty()) return true;
        rest = rest.substr(word.size());
        while (!rest.empty()) {
            rest = TrimView(rest);
            std::string_view item = rest.substr(0, rest.find(' '));
            if (EqualsNoCase(item, argument)) return true;
            rest = rest.substr(item.size());
        }
    }
    return false;
}

} // namespace

std::vector<String> clsPOP3MailConnection::Capabilities() {
    try {
        socket_.SocketQueryMulti("CAPA");
    } catch (const clsExcept &) {
        if (!socket_.HasSocket()) throw;
        return {}; // a server without CAPA lists nothing
    }
    return TakeLines();
}

void clsPOP3MailConnection::StartTlsIfAsked(TlsMode mode, const String &host, std::vector<String> &capabilities) {
    if (mode == TlsMode::Auto && !Lists(capabilities, "STLS")) return;
    if (mode != TlsMode::StartTls && mode != TlsMode::Auto) return;
    socket_.SocketQueryStep("STLS");
    if (!FirstIsOk(socket_.ReplyLines())) {
        if (mode == TlsMode::Auto) return;
        String reply = socket_.ReplyLines().empty() ? String() : socket_.ReplyLines().front();
        throw clsExcept(-5, Format("TLS required, but the server refused STLS: %s", reply.c_str()));
    }
    socket_.StartTls(ReadTlsOptions(*this, host));
    // What the server said before TLS counts no more.
    capabilities.clear();
}

int clsPOP3MailConnection::AuthOAuth(bool bearer, const String &token, const String &host, uint16_t port) {
    String user = ReadTextOptionA("ServerUser");
    String message = bearer ? OAuthBearerMessage(user, host, port, token) : XOAuth2Message(user, token);
    // Without an initial response: with a token it would pass the 255 octets a command may have.
    socket_.SocketQueryStep(bearer ? "AUTH OAUTHBEARER" : "AUTH XOAUTH2");
    const String *reply = socket_.ReplyLines().empty() ? nullptr : &socket_.ReplyLines().front();
    if (!reply || (*reply)[0] != '+' || StartsWithNoCase(*reply, "+OK")) return -8;
    socket_.SetNextCommandSecret();
    socket_.SocketQueryStep(EncodeBase64(message.data(), message.size()));
    if (FirstIsOk(socket_.ReplyLines())) return 0;
    if (!socket_.ReplyLines().empty() && socket_.ReplyLines().front()[0] == '+')
        socket_.SocketQueryStep(bearer ? kOAuthBearerAbort : ""); // lets the server end the exchange
    return -8;
}

HRESULT clsPOP3MailConnection::OnConnect() {
    SetState(0);
    try {
        TlsMode mode = ReadTlsMode(*this);
        socket_.SetProxyResolveRemote(ReadProxyResolveRemote(*this));
        if (!ReadTextOption("ProxyAddress").empty())
            socket_.SetProxy(ReadTextOptionA("ProxyAddress"), ReadIntOption("ProxyPort", 1080),
                             ReadTextOptionA("ProxyUser"), ReadTextOptionA("ProxyPassword"),
                             ReadIntOption("ProxyType", 0));
        String host = ReadTextOptionA("ServerAddress");
        uint16_t port = uint16_t(ReadIntOption("ServerPort", 110));
        socket_.Connect(host, port, uint32_t(ReadIntOption("SocketTimeout", 10000)));
        NtfyConnectionState(3, 1);
        if (mode == TlsMode::Implicit) socket_.StartTls(ReadTlsOptions(*this, host));
        socket_.SocketQuery(String(), false, false);
        SetState(kConnecting);
        NtfyConnectionState(4, 0);

        String greeting = socket_.ReplyLines().empty() ? String() : socket_.ReplyLines().front();
        String rest = greeting.size() > 4 ? greeting.substr(4) : String();
        // Raw: the digest covers the timestamp exactly as sent (RFC 1939), so one
        // holding ":" must not be cut as an address type would be.
        String timestamp = GetFieldAddress(ParseAddressField(rest), true);
        pal::ChannelSend(Format("timestamp='%s'", timestamp.c_str()));

        String token = ReadTextOptionA("OAuth2Token");
        std::vector<String> capabilities;
        if (mode == TlsMode::Auto) capabilities = Capabilities();
        StartTlsIfAsked(mode, host, capabilities);
        if (!token.empty()) {
            if (capabilities.empty()) capabilities = Capabilities();
            bool bearer = Lists(capabilities, "SASL", "OAUTHBEARER");
            if (bearer || Lists(capabilities, "SASL", "XOAUTH2")) {
                if (AuthOAuth(bearer, token, host, port) != 0) {
                    NtfyConnectionState(5, 0);
                    throw clsExcept(-8, "authentication failed!");
                }
                NtfyConnectionState(5, 1);
                SetState(kConnected);
                return S_OK;
            }
            if (ReadTextOption("ServerPassword").empty())
                throw clsExcept(-8, "the server offers neither OAUTHBEARER nor XOAUTH2 for the access token");
        }

        String user = ReadTextOptionA("ServerUser");
        String password = ReadTextOptionA("ServerPassword");
        // "-ERR" to a logon command is a refused logon, not a broken dialogue.
        bool refused = false;
        String refusal;
        auto step = [&](const String &command, bool secret) {
            if (refused) return;
            if (secret) socket_.SetNextCommandSecret();
            socket_.SocketQueryStep(command);
            refused = !FirstIsOk(socket_.ReplyLines());
            if (refused && !socket_.ReplyLines().empty()) refusal = socket_.ReplyLines().front();
        };
        if (!timestamp.empty() && timestamp != rest) {
            String digest = Md5Hex(("<" + timestamp + ">" + password).data(), timestamp.size() + 2 + password.size());
            step(Format("APOP %s %s", user.c_str(), digest.c_str()), true);
        } else {
            step("USER " + user, false);
            step("PASS " + password, true);
        }
        if (refused) {
            NtfyConnectionState(5, 0);
            throw clsExcept(-8, Format("unexpected reply '%s'", refusal.c_str()));
        }
        NtfyConnectionState(5, 1);
        SetState(kConnected);
        return S_OK;
    } catch (clsExcept &e) {
        NtfyConnectionState(3, 0);
        OnDisconnect();
        e.Push("[clsPOP3MailConnection::OnConnect]");
        throw;
    }
}

HRESULT clsPOP3MailConnection::OnDisconnect() {
    try {
        if (socket_.HasSocket()) socket_.SocketQuerySingle("QUIT");
    } catch (const clsExcept &) {
        // The connection may already be gone; it is closed below either way.
    }
    socket_.Disconnect();
    SetState(kDisconnected);
    return S_OK;
}

namespace {

// Hostile counts and sizes: digits only, saturating.
bool ReadNumber(std::string_view &text, uint64_t &value) {
    size_t i = 0;
    value = 0;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
        value = value > (uint64_t(1) << 60) ? value : value * 10 + uint64_t(text[i] - '0');
        ++i;
    }
    if (i == 0) return false;
    text.remove_prefix(i);
    while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
    return true;
}

// A message of unknown size may be as large as this.
constexpr uint64_t kUnannouncedSize = 256 * 1024 * 1024;
// STAT's count is believed up to this many messages.
constexpr uint64_t kMostMessages = 1 << 20;

} // namespace

void clsPOP3MailConnection::ExpectMessage(uint32_t number) {
    auto known = sizes_.find(number);
    uint64_t size = known != sizes_.end() && known->second > 0 ? known->second : kUnannouncedSize;
    // A size counted with bare line ends doubles on the wire, and so may dot-stuffing.
    uint64_t bytes = std::min<uint64_t>(size * 2 + 64 * 1024, SIZE_MAX);
    uint64_t lines = std::min<uint64_t>(size + 1024, SIZE_MAX);
    socket_.ExpectData(size_t(lines), size_t(bytes));
}

std::vector<uint32_t> clsPOP3MailConnection::ListMessages() {
    std::vector<uint32_t> numbers;
    if (socket_.SocketQuerySingle("STAT") != 0 || socket_.ReplyLines().empty()) return numbers;
    const String &status = socket_.ReplyLines().front();
    std::string_view rest = std::string_view(status).substr(std::min<size_t>(status.size(), 4));
    uint64_t count = 0, maildrop = 0;
    if (!ReadNumber(rest, count)) throw clsExcept(-6, Format("unexpected reply '%s'", status.c_str()));
    ReadNumber(rest, maildrop);
    sizes_.clear();
    if (count == 0) return numbers;
    // The numbers that exist, which after a DELE need not run from 1 to the count.
    uint64_t expected = std::min(count, kMostMessages) + 1024;
    socket_.ExpectData(size_t(expected), size_t(expected * 48));
    try {
        socket_.SocketQueryMulti("LIST");
    } catch (const clsExcept &) {
        if (!socket_.HasSocket()) throw;
        // A server without LIST: STAT's count, each message at most the whole maildrop.
        for (uint64_t n = 1; n <= std::min(count, kMostMessages); ++n) {
            numbers.push_back(uint32_t(n));
            sizes_[uint32_t(n)] = maildrop;
        }
        return numbers;
    }
    const std::vector<String> &lines = socket_.ReplyLines();
    for (size_t i = 1; i < lines.size(); ++i) {
        std::string_view line = lines[i];
        uint64_t n = 0, size = 0;
        if (!ReadNumber(line, n) || n == 0 || n > UINT32_MAX || !ReadNumber(line, size)) continue;
        if (sizes_.emplace(uint32_t(n), size).second) numbers.push_back(uint32_t(n));
    }
    return numbers;
}

HRESULT clsPOP3MailConnection::OnQueryMailbox(BYTE complete) {
    // The slot stays alive while the listing reports to it.
    try {
        std::vector<uint32_t> numbers = ListMessages();
        SendEvent(10, LONG(numbers.size()));
        auto lost = [] { return clsExcept(-2, "the connection to the server was lost"); };
        for (uint32_t n : numbers) {
            SendEvent(11, LONG(n));
            if (socket_.SocketQuerySingle(Format("UIDL %u", n)) != 0) throw lost();
            String id = Format("%u ", n);
            IKvMail *mail = CreateReceivedMail(id);
            if (!mail) return E_OUTOFMEMORY;
            clsAutoRelease<IKvMail> hold(mail);
            bool whole = complete != 0;
            if (!whole) {
                try {
                    ExpectMessage(n);
                    if (socket_.SocketQueryMulti(Format("TOP %u 1", n)) != 0) throw lost();
                } catch (const clsExcept &) {
                    if (!socket_.HasSocket()) throw; // only a refused TOP falls back
                    whole = true;
                }
            }
            if (whole) {
                ExpectMessage(n);
                if (socket_.SocketQueryMulti(Format("RETR %u", n)) != 0) throw lost();
            }
            std::vector<String> lines = TakeLines();
            try {
                ReadMailLines(mail, lines, whole);
            } catch (const clsExcept &) {
                // One unreadable head must not hide the other mails: this one is
                // listed with what was read, and loading it reports why.
            }
            AppendMail(mail);
        }
        return S_OK;
    } catch (clsExcept &e) {
        e.Push("[clsPOP3MailConnection::OnQueryMailbox]");
        throw;
    }
}

HRESULT clsPOP3MailConnection::LoadRestOfMail(IKvMail *mail) {
    if (IsSendRole()) return Fail(E_UNEXPECTED, -5, "clsPOP3MailConnection::LoadRestOfMail(): not in RECV connection");
    if (State() != kConnected)
        return Fail(E_UNEXPECTED, -13, "clsPOP3MailConnection::LoadRestOfMail(): not connected");
    BSTR cookie = nullptr;
    mail->GetCookie(&cookie);
    String id = Narrow(WideView(reinterpret_cast<const char16_t *>(cookie)));
    SysFreeString(cookie);
    try {
        ExpectMessage(MessageNumberOf(id));
        if (socket_.SocketQueryMulti(Format("RETR %u", MessageNumberOf(id))) != 0)
            throw clsExcept(-2, "the connection to the server was lost");
        std::vector<String> lines = TakeLines();
        ReadMailLines(mail, lines, true);
    } catch (clsExcept &e) {
        e.Push("[clsPOP3MailConnection::LoadRestOfMail]");
        return Fail(E_FAIL, e);
    }
    return S_OK;
}

HRESULT clsPOP3MailConnection::OnDeleteMail(const String &id) {
    if (IsSendRole()) return Fail(E_UNEXPECTED, -5, "clsPOP3MailConnection::OnDeleteMail(): not in RECV connection");
    if (State() != kConnected) return Fail(E_UNEXPECTED, -13, "clsPOP3MailConnection::OnDeleteMail(): not connected");
    for (IKvMail *mail : Mails()) {
        BSTR cookie = nullptr;
        mail->GetCookie(&cookie);
        String mailId = Narrow(WideView(reinterpret_cast<const char16_t *>(cookie)));
        SysFreeString(cookie);
        if (mailId != id) continue;
        if (socket_.SocketQuerySingle(Format("DELE %u", MessageNumberOf(id))) != 0)
            return Fail(E_FAIL, -2, "the connection to the server was lost");
        MarkDeleted(mail);
    }
    return S_OK;
}

IKvMail *clsPOP3MailConnection::CreateReceivedMail(const String &id) {
    auto *mail = new (std::nothrow) clsArpaMail(this, id);
    if (!mail) return nullptr;
    IKvMail *out = nullptr;
    mail->QueryInterface(IID_IKvMail, reinterpret_cast<void **>(&out));
    return out;
}

namespace {

clsArpaMail *ArpaOf(IKvMail *mail) {
    clsArpaMail *arpa = nullptr;
    if (mail && SUCCEEDED(mail->QueryInterface(IID_clsArpaMail, reinterpret_cast<void **>(&arpa))) && arpa) {
        arpa->Release(); // the caller holds the mail
        return arpa;
    }
    return nullptr;
}

} // namespace

void clsPOP3MailConnection::ReadMailLines(IKvMail *mail, std::vector<String> &lines, bool complete) {
    clsArpaMail *arpa = ArpaOf(mail);
    if (!arpa) throw clsExcept(-5, "clsPOP3MailConnection: the mail is not an internet mail");
    // A complete read replaces what the head-only read filled in.
    arpa->To().clear();
    arpa->CC().clear();
    arpa->BCC().clear();
    arpa->Bodies().Clear();
    arpa->Attachments().Clear();
    arpa->GeneratedHeaders().Clear();
    // The reader keeps the received text as the mail's raw text.
    std::deque<String> queue(std::make_move_iterator(lines.begin()), std::make_move_iterator(lines.end()));
    lines.clear();
    ReadMail(*arpa, queue, 0, complete ? 0u : uint32_t(kReadHeadersOnly), 0);
    arpa->SetState(complete ? kMailLoaded : kMailListed);
}

void clsPOP3MailConnection::MarkDeleted(IKvMail *mail) {
    if (clsArpaMail *arpa = ArpaOf(mail)) arpa->SetState(kMailDeleted);
}

} // namespace kv

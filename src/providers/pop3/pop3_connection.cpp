#include "providers/pop3/pop3_connection.h"

#include <algorithm>
#include <cstdint>
#include <deque>
#include <iterator>
#include <new>
#include <optional>

#include "runtime/kvlog.h"
#include "mail/arpa_mail.h"
#include "mail/reader.h"
#include "mime/base64.h"
#include "mime/address_field.h"
#include "providers/internet/md5.h"
#include "pal/channel.h"
#include "pal/system.h"
#include "runtime/com_util.h"
#include "providers/internet/sasl.h"
#include "providers/internet/server_link.h"

namespace kv {

clsPOP3MailConnection::clsPOP3MailConnection() : clsConnectionBase(false) {
    WriteTextOption("ServerAddress", u"");
    WriteIntOption("ServerPort", 110);
    WriteIntOption("SocketTimeout", 10000);
    WriteTextOption("ServerUser", u"");
    WriteTextOption("ServerPassword", u"");
    WriteTextOption("SenderDomain", Widen(ToLower(pal::ComputerName())));
    // "ProxyAddress" stays unset: the proxy options count only once it holds a value.
    WriteIntOption("ProxyType", kProxyNone);
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

bool FirstIsOk(const std::vector<String> &reply) {
    return !reply.empty() && Pop3StatusOf(reply.front()) == Pop3Status::Ok;
}

// Whether a CAPA listing holds this capability; `arguments` receives what
// its lines list after the name.
bool Lists(const std::vector<String> &capabilities, std::string_view name, String *arguments = nullptr) {
    bool found = false;
    for (const String &line : capabilities) {
        std::string_view rest = TrimView(line);
        std::string_view word = rest.substr(0, rest.find(' '));
        if (!EqualsNoCase(word, name)) continue;
        found = true;
        if (arguments) *arguments += String(rest.substr(word.size())) + " ";
    }
    return found;
}

// The engine's exchanges over the POP3 socket: "+" and "+ " are challenges,
// "+OK" and "-ERR" end the exchange. The POP3 table is lenient: no step is strict.
class Pop3SaslChannel final : public clsSaslChannel {
  public:
    explicit Pop3SaslChannel(clsPOP3Socket &socket) : socket_(socket) {}

    clsSaslReply Exchange(const clsSaslLine &line) override {
        socket_.SocketQueryStep(line.text, line.secrecy);
        clsSaslReply reply;
        if (socket_.ReplyLines().empty()) return reply;
        reply.line = socket_.ReplyLines().front();
        switch (Pop3StatusOf(reply.line)) {
        case Pop3Status::Continuation: reply.kind = SaslReplyKind::Challenge; break;
        case Pop3Status::Ok: reply.kind = SaslReplyKind::Success; break;
        case Pop3Status::Error: reply.kind = SaslReplyKind::Failure; break;
        case Pop3Status::Other: break;
        }
        return reply;
    }

  private:
    clsPOP3Socket &socket_;
};

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
        throw clsExcept(kErrGeneral, Format("TLS required, but the server refused STLS: %s", reply.c_str()));
    }
    socket_.StartTls(ReadTlsOptions(*this, host));
    // What the server said before TLS counts no more.
    capabilities.clear();
}

HRESULT clsPOP3MailConnection::OnConnect() {
    SetState(kOpening);
    try {
        clsServerLink link(*this, 110, clsServerLink::kProxyWhenAddressSet);
        link.Open(socket_);
        socket_.SocketQuery(String(), false, false);
        SetState(kConnecting);
        NtfyConnectionState(kEventLogon, 0);

        String greeting = socket_.ReplyLines().empty() ? String() : socket_.ReplyLines().front();
        String rest = greeting.size() > 4 ? greeting.substr(4) : String();
        // Raw: the digest covers the timestamp exactly as sent (RFC 1939), so one
        // holding ":" must not be cut as an address type would be.
        String timestamp = GetFieldAddress(ParseAddressField(rest), true);
        pal::ChannelSend(Format("timestamp='%s'", timestamp.c_str()));

        clsSaslCredentials credentials{ReadTextOptionA("ServerUser"), ReadTextOptionA("ServerPassword"),
                                       ReadTextOptionA("OAuth2Token"), link.Host(), link.Port()};
        std::vector<String> capabilities;
        if (link.Mode() == TlsMode::Auto) capabilities = Capabilities();
        StartTlsIfAsked(link.Mode(), link.Host(), capabilities);
        // A token is the one thing SASL does here; a password goes with APOP or USER and PASS.
        if (!credentials.token.empty()) {
            if (capabilities.empty()) capabilities = Capabilities();
            String names;
            Lists(capabilities, "SASL", &names);
            uint32_t offered = SaslMechanismsIn(names) & (kSaslOAuthBearer | kSaslXOAuth2);
            Pop3SaslChannel channel(socket_);
            clsSaslOutcome outcome = SaslAuthenticate(channel, kSaslPop3, offered, credentials);
            if (outcome.result != SaslResult::NotOffered) {
                bool loggedOn = outcome.result == SaslResult::Success;
                NtfyConnectionState(kEventLoggedOn, loggedOn ? 1 : 0);
                if (!loggedOn) throw clsExcept(kErrAuthRefused, "authentication failed!");
                SetState(kConnected);
                return S_OK;
            }
        }

        const String &user = credentials.user, &password = credentials.password;
        // "-ERR" to a logon command is a refused logon, not a broken dialogue.
        bool refused = false;
        String refusal;
        auto step = [&](const String &command, Secrecy secrecy) {
            if (refused) return;
            socket_.SocketQueryStep(command, secrecy);
            refused = !FirstIsOk(socket_.ReplyLines());
            if (refused && !socket_.ReplyLines().empty()) refusal = socket_.ReplyLines().front();
        };
        if (!timestamp.empty() && timestamp != rest) {
            String digest = Md5Hex(("<" + timestamp + ">" + password).data(), timestamp.size() + 2 + password.size());
            step(Format("APOP %s %s", user.c_str(), digest.c_str()), Secrecy::Secret);
        } else {
            step("USER " + user, Secrecy::Shown);
            step("PASS " + password, Secrecy::Secret);
        }
        if (refused) {
            NtfyConnectionState(kEventLoggedOn, 0);
            throw clsExcept(kErrAuthRefused, Format("unexpected reply '%s'", refusal.c_str()));
        }
        NtfyConnectionState(kEventLoggedOn, 1);
        SetState(kConnected);
        return S_OK;
    } catch (clsExcept &e) {
        NtfyConnectionState(kEventServer, 0);
        OnDisconnect();
        e.Push("[clsPOP3MailConnection::OnConnect]");
        throw;
    }
}

HRESULT clsPOP3MailConnection::OnDisconnect() {
    capabilitiesAsked_ = pipelining_ = false;
    ahead_.clear();
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
    if (!ReadNumber(rest, count)) throw clsExcept(kErrUnexpectedReply, Format("unexpected reply '%s'", status.c_str()));
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

namespace {

// Messages whose commands leave in one write when the server pipelines: about
// 5 KB, far below any socket buffer, so neither side blocks while the replies
// wait unread.
constexpr size_t kPipelineWindow = 250;

clsExcept Lost() { return clsExcept(kErrSocket, "the connection to the server was lost"); }

} // namespace

void clsPOP3MailConnection::ListBatch(const std::vector<uint32_t> &numbers, size_t first, size_t last, bool complete) {
    const bool pipelined = pipelining_;
    if (pipelined) {
        String batch;
        for (size_t i = first; i < last; ++i)
            batch += Format(complete ? "UIDL %u\r\nRETR %u\r\n" : "UIDL %u\r\nTOP %u 1\r\n", numbers[i], numbers[i]);
        if (socket_.SocketSend(batch) != 0) throw Lost();
    }
    auto outOfStep = [&](const String &line) {
        socket_.Disconnect(); // what follows cannot be matched to a command any more
        return clsExcept(kErrUnexpectedReply,
                         Format("reply out of step with the pipelined commands: '%s'", line.c_str()));
    };
    // Reads the replies still due from message `from` on, so that the next command finds the stream in step.
    auto drain = [&](size_t from) {
        for (size_t i = from; pipelined && i < last; ++i) {
            if (socket_.ReadSingle() != 0) throw Lost();
            try {
                ExpectMessage(numbers[i]);
                if (socket_.ReadMulti() != 0) throw Lost();
            } catch (const clsExcept &) {
                if (!socket_.HasSocket()) throw;
            }
        }
    };
    struct Item {
        clsAutoRelease<IKvMail> mail;
        uint32_t number;
        bool retr; // TOP was refused: RETR after the batch
    };
    std::vector<Item> items;
    size_t appended = 0; // mails are listed in order, each once it is filled
    auto appendFilled = [&] {
        for (; appended < items.size() && !items[appended].retr; ++appended) AppendMail(items[appended].mail.get());
    };
    for (size_t i = first; i < last; ++i) {
        uint32_t n = numbers[i];
        try {
            SendEvent(kEventMailboxItem, LONG(n));
        } catch (const clsExcept &) {
            drain(i); // cancelled: the commands sent are still answered
            appendFilled();
            throw;
        }
        try {
            if ((pipelined ? socket_.ReadSingle() : socket_.SocketQuerySingle(Format("UIDL %u", n))) != 0) throw Lost();
            if (pipelined) {
                // "+OK n id": the number ties the reply to its command.
                const String &status = socket_.ReplyLines().front();
                std::string_view rest(status);
                rest.remove_prefix(std::min<size_t>(rest.size(), 4)); // "+OK "
                uint64_t echoed = 0;
                if (!ReadNumber(rest, echoed) || echoed != n) throw outOfStep(status);
            }
            IKvMail *created = CreateReceivedMail(Format("%u ", n));
            if (!created) throw std::bad_alloc();
            items.push_back({clsAutoRelease<IKvMail>(created), n, false});
            bool whole = complete;
            clsReceivedText text;
            if (!whole) {
                try {
                    ExpectMessage(n);
                    if (socket_.SocketQueryText(pipelined ? String() : Format("TOP %u 1", n), text) != 0) throw Lost();
                } catch (const clsExcept &) {
                    if (!socket_.HasSocket()) throw; // only a refused TOP falls back
                    const std::vector<String> &reply = socket_.ReplyLines();
                    if (pipelined && (reply.empty() || Pop3StatusOf(reply.front()) != Pop3Status::Error))
                        throw outOfStep(reply.empty() ? String() : reply.front());
                    whole = true;
                    items.back().retr = pipelined; // read once the batch is answered
                    if (pipelined) continue;
                }
            }
            if (whole) {
                ExpectMessage(n);
                if (socket_.SocketQueryText(pipelined ? String() : Format("RETR %u", n), text) != 0) throw Lost();
            }
            try {
                ReadMailText(items.back().mail.get(), text, whole);
            } catch (const clsExcept &) {
                // One unreadable head must not hide the other mails: this one is
                // listed with what was read, and loading it reports why.
            }
        } catch (const clsExcept &) {
            // Replies still due would pass for those of the next commands.
            if (pipelined) socket_.Disconnect();
            throw;
        }
        // Pipelined, a batch counts once all its replies arrived in step: a
        // reply left out would otherwise fill a mail with the next one's text.
        if (!pipelined) appendFilled();
    }
    for (Item &item : items) {
        if (!item.retr) continue;
        ExpectMessage(item.number);
        clsReceivedText text;
        if (socket_.SocketQueryText(Format("RETR %u", item.number), text) != 0) throw Lost();
        try {
            ReadMailText(item.mail.get(), text, true);
        } catch (const clsExcept &) {
        }
        item.retr = false;
    }
    appendFilled();
}

HRESULT clsPOP3MailConnection::OnQueryMailbox(BYTE complete) {
    // The slot stays alive while the listing reports to it.
    try {
        if (!capabilitiesAsked_ && socket_.HasSocket()) {
            // Asked after logon: a server may offer more to a user it knows (RFC 2449).
            pipelining_ = Lists(Capabilities(), "PIPELINING");
            capabilitiesAsked_ = true;
        }
        ahead_.clear(); // a new listing: the numbers may name other messages now
        std::vector<uint32_t> numbers = ListMessages();
        SendEvent(kEventMailbox, LONG(numbers.size()));
        size_t window = pipelining_ ? kPipelineWindow : 1;
        for (size_t first = 0; first < numbers.size(); first += window)
            ListBatch(numbers, first, std::min(numbers.size(), first + window), complete != 0);
        return S_OK;
    } catch (clsExcept &e) {
        e.Push("[clsPOP3MailConnection::OnQueryMailbox]");
        throw;
    }
}

namespace {
// Loading one message with PIPELINING fetches the messages listed after it
// along, up to this many and this many announced bytes: a host loads its
// mails one by one, and each would cost a round trip.
constexpr size_t kLoadAheadCount = 250;
constexpr uint64_t kLoadAheadBytes = 4 << 20;
} // namespace

void clsPOP3MailConnection::LoadAhead(uint32_t n, clsReceivedText &text) {
    std::vector<uint32_t> batch{n};
    uint64_t bytes = 0;
    for (auto next = sizes_.upper_bound(n); pipelining_ && next != sizes_.end() && batch.size() < kLoadAheadCount;
         ++next) {
        if (next->second == 0 || (bytes += next->second) > kLoadAheadBytes) break;
        if (!ahead_.count(next->first)) batch.push_back(next->first);
    }
    String commands;
    for (uint32_t m : batch) commands += Format("RETR %u\r\n", m);
    if (batch.size() > 1 && socket_.SocketSend(commands) != 0) throw Lost();
    std::optional<clsExcept> refused;
    for (uint32_t m : batch) {
        clsReceivedText received;
        try {
            ExpectMessage(m);
            if (socket_.SocketQueryText(batch.size() > 1 ? String() : Format("RETR %u", m), received) != 0)
                throw Lost();
        } catch (const clsExcept &e) {
            if (!socket_.HasSocket()) throw;
            const std::vector<String> &reply = socket_.ReplyLines();
            if (batch.size() > 1 && (reply.empty() || Pop3StatusOf(reply.front()) != Pop3Status::Error)) {
                socket_.Disconnect(); // what follows cannot be matched to a command any more
                ahead_.clear();
                throw;
            }
            if (m == n) refused = e; // the others are only not fetched ahead
            continue;
        }
        if (m == n)
            text = std::move(received);
        else
            ahead_[m] = std::move(received);
    }
    if (refused) throw *refused;
}

HRESULT clsPOP3MailConnection::LoadRestOfMail(IKvMail *mail) {
    if (IsSendRole())
        return Fail(E_UNEXPECTED, kErrGeneral, "clsPOP3MailConnection::LoadRestOfMail(): not in RECV connection");
    if (State() != kConnected)
        return Fail(E_UNEXPECTED, kErrNotConnected, "clsPOP3MailConnection::LoadRestOfMail(): not connected");
    BSTR cookie = nullptr;
    mail->GetCookie(&cookie);
    String id = Narrow(WideView(reinterpret_cast<const char16_t *>(cookie)));
    SysFreeString(cookie);
    try {
        uint32_t n = MessageNumberOf(id);
        clsReceivedText text;
        auto ahead = ahead_.find(n);
        if (ahead != ahead_.end()) {
            text = std::move(ahead->second);
            ahead_.erase(ahead);
        } else {
            LoadAhead(n, text);
        }
        ReadMailText(mail, text, true);
    } catch (clsExcept &e) {
        e.Push("[clsPOP3MailConnection::LoadRestOfMail]");
        return Fail(E_FAIL, e);
    }
    return S_OK;
}

HRESULT clsPOP3MailConnection::OnDeleteMail(const String &id) {
    if (IsSendRole())
        return Fail(E_UNEXPECTED, kErrGeneral, "clsPOP3MailConnection::OnDeleteMail(): not in RECV connection");
    if (State() != kConnected)
        return Fail(E_UNEXPECTED, kErrNotConnected, "clsPOP3MailConnection::OnDeleteMail(): not connected");
    for (IKvMail *mail : Mails()) {
        BSTR cookie = nullptr;
        mail->GetCookie(&cookie);
        String mailId = Narrow(WideView(reinterpret_cast<const char16_t *>(cookie)));
        SysFreeString(cookie);
        if (mailId != id) continue;
        ahead_.erase(MessageNumberOf(id));
        if (socket_.SocketQuerySingle(Format("DELE %u", MessageNumberOf(id))) != 0)
            return Fail(E_FAIL, kErrSocket, "the connection to the server was lost");
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

void clsPOP3MailConnection::ReadMailText(IKvMail *mail, clsReceivedText &text, bool complete) {
    clsArpaMail *arpa = ArpaOf(mail);
    if (!arpa) throw clsExcept(kErrGeneral, "clsPOP3MailConnection: the mail is not an internet mail");
    // A complete read replaces what the head-only read filled in.
    arpa->ForgetReadContent();
    uint32_t flags = kReadJoinedLines | (complete ? 0u : uint32_t(kReadHeadersOnly));
    // The received text becomes the raw text itself where it can, not a copy of it.
    if (text.size <= arpa->RawText().MemoryLimit()) {
        size_t size = text.size;
        if (size > 0) ResizeBlock(text.data, size); // what the growth reserved goes back
        arpa->RawText().KeepInMemory(std::move(text.data), size);
        text = clsReceivedText();
        ReadMail(*arpa, arpa->RawText().Memory(), flags | kReadRawTextKept);
    } else {
        ReadMail(*arpa, text.View(), flags);
    }
    arpa->SetState(complete ? kMailLoaded : kMailListed);
}

void clsPOP3MailConnection::MarkDeleted(IKvMail *mail) {
    if (clsArpaMail *arpa = ArpaOf(mail)) arpa->SetState(kMailDeleted);
}

} // namespace kv

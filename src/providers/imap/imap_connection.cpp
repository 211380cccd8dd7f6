#include "providers/imap/imap_connection.h"

#include <algorithm>
#include <map>
#include <new>
#include <optional>

#include "runtime/kvlog.h"
#include "mail/arpa_mail.h"
#include "mail/reader.h"
#include "providers/internet/sasl.h"
#include "providers/internet/server_link.h"
#include "runtime/com_util.h"

namespace kv {

namespace {

// A UID set stays below this in one command; longer sets take several.
constexpr size_t kLongestSet = 1000;
// A loaded mail larger than this keeps its raw text in its file rather than in memory.
constexpr size_t kLargeText = 4u << 20;
// Loading reads the listed mails after the asked one ahead: at most this many, this many bytes together.
constexpr size_t kReadAhead = 64;
constexpr uint64_t kReadAheadBytes = 8u << 20;

using Kind = clsImapResponse::Kind;

bool IsFetch(const clsImapResponse &r) {
    return r.kind == Kind::Untagged && r.data.size() >= 3 && r.data[0].kind == clsImapValue::Kind::Number &&
           r.data[1].Is("FETCH") && r.data[2].kind == clsImapValue::Kind::List;
}

// The value after NAME in "* n FETCH (NAME value ...)".
clsImapValue *FetchItem(clsImapResponse &r, std::string_view name) {
    auto &items = r.data[2].items;
    for (size_t i = 0; i + 1 < items.size(); i += 2)
        if (items[i].Is(name)) return &items[i + 1];
    return nullptr;
}

bool ToUid(const clsImapValue *v, uint32_t &uid) {
    if (!v || v->kind != clsImapValue::Kind::Number || v->number == 0 || v->number > UINT32_MAX) return false;
    uid = uint32_t(v->number);
    return true;
}

bool HasFlag(const clsImapValue *flags, std::string_view flag) {
    if (!flags) return false;
    for (const clsImapValue &f : flags->items)
        if (f.Is(flag)) return true;
    return false;
}

// Ascending UIDs as sets ("1:5,7,9:12"), each short enough for one command.
std::vector<String> UidSets(const std::vector<uint32_t> &uids) {
    std::vector<String> sets(1);
    for (size_t i = 0; i < uids.size();) {
        size_t j = i;
        while (j + 1 < uids.size() && uids[j + 1] == uids[j] + 1) ++j;
        String range = i == j ? Format("%u", uids[i]) : Format("%u:%u", uids[i], uids[j]);
        if (sets.back().size() + range.size() + 1 > kLongestSet) sets.emplace_back();
        sets.back() += (sets.back().empty() ? "" : ",") + range;
        i = j + 1;
    }
    if (sets.back().empty()) sets.pop_back();
    return sets;
}

String MailIdOf(IKvMail *mail) {
    clsBstr cookie;
    mail->GetCookie(cookie.put());
    return Narrow(WideView(cookie.get()));
}

// The engine's exchanges over the IMAP socket: the command gets a tag, "+"
// is a challenge, the tagged OK, NO and BAD end the exchange.
class ImapSaslChannel final : public clsSaslChannel {
  public:
    ImapSaslChannel(clsIMAPSocket &socket, clsIMAPSocket::Untagged untagged)
        : socket_(socket), untagged_(std::move(untagged)) {}

    clsSaslReply Exchange(const clsSaslLine &line) override {
        if (line.command) tag_ = socket_.NextTag();
        socket_.SendLine(line.command ? tag_ + " " + line.text : line.text, line.secrecy);
        for (;;) {
            clsImapResponse r = socket_.Read();
            clsSaslReply reply;
            uint32_t kind = 0;
            if (r.kind == Kind::Continuation) {
                reply.kind = SaslReplyKind::Challenge;
                reply.line = "+ " + r.text;
                kind = kSaslExpectChallenge;
            } else if (r.tag == tag_ && r.kind != Kind::Untagged) {
                reply.line = r.line;
                if (r.status == "OK") reply.kind = SaslReplyKind::Success, kind = kSaslExpectSuccess;
                else if (r.status == "NO") reply.kind = SaslReplyKind::Failure, kind = kSaslExpectFailure;
                last_ = std::move(r);
            } else {
                if (r.kind != Kind::Tagged) untagged_(r);
                continue;
            }
            if (line.strict && !(line.expect & kind))
                throw clsExcept(kErrUnexpectedReply,
                                Format("unexpected reply '%s'", PrintableText(reply.line).c_str()));
            return reply;
        }
    }
    const clsImapResponse &Last() const { return last_; }

  private:
    clsIMAPSocket &socket_;
    clsIMAPSocket::Untagged untagged_;
    String tag_;
    clsImapResponse last_;
};

bool ParseNumber(std::string_view text, uint32_t &out) {
    if (text.empty() || text.size() > 10) return false;
    uint64_t n = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        n = n * 10 + uint64_t(c - '0');
    }
    if (n == 0 || n > UINT32_MAX) return false;
    out = uint32_t(n);
    return true;
}

// Restores a flag however the scope ends.
struct Scoped {
    bool &flag;
    explicit Scoped(bool &f) : flag(f) { flag = true; }
    ~Scoped() { flag = false; }
};

} // namespace

String ImapMailId(uint32_t uidValidity, uint32_t uid) { return Format("%u.%u", uidValidity, uid); }

bool ParseImapMailId(std::string_view id, uint32_t &uidValidity, uint32_t &uid) {
    // The reader adds ":" and the Message-ID.
    id = id.substr(0, id.find(':'));
    size_t dot = id.find('.');
    return dot != std::string_view::npos && ParseNumber(id.substr(0, dot), uidValidity) &&
           ParseNumber(id.substr(dot + 1), uid);
}

clsIMAPMailConnection::clsIMAPMailConnection() : clsConnectionBase(false) {
    WriteTextOption("ServerAddress", u"");
    WriteIntOption("ServerPort", 143);
    WriteIntOption("SocketTimeout", 10000);
    WriteTextOption("ServerUser", u"");
    WriteTextOption("ServerPassword", u"");
    WriteTextOption("Folder", u"INBOX");
    // "ProxyAddress" stays unset: the proxy options count only once it holds a value.
    WriteIntOption("ProxyType", 0);
    WriteIntOption("ProxyPort", 1080);
    WriteTextOption("ProxyUser", u"");
    WriteTextOption("ProxyPassword", u"");
}

clsIMAPMailConnection::~clsIMAPMailConnection() = default;

bool clsIMAPMailConnection::AnswersSelector(REFIID riid) const { return IsEqualIID(riid, IID_IKvIMAPRecvConnection); }

HRESULT clsIMAPMailConnection::OnCreateMail(LONG, const String &, IKvMail **) { return E_FAIL; }
HRESULT clsIMAPMailConnection::OnSend(IKvMail *) { return E_FAIL; }

String clsIMAPMailConnection::FolderName() const {
    String name = ReadTextOptionA("Folder", u"INBOX");
    return name.empty() ? String("INBOX") : name;
}

void clsIMAPMailConnection::SetCapabilities(std::string_view words) {
    capabilities_.clear();
    size_t at = 0;
    while (at < words.size()) {
        size_t end = words.find(' ', at);
        if (end == std::string_view::npos) end = words.size();
        if (end > at) capabilities_.insert(ToUpper(words.substr(at, end - at)));
        at = end + 1;
    }
    socket_.SetLiteralPlus(Offers("LITERAL+"));
}

void clsIMAPMailConnection::Untagged(clsImapResponse &r) {
    if (r.kind == Kind::Broken) {
        LogWriteF(kLogDetails, "IMAP: response not understood (%s): '%s'", r.error.c_str(), PrintableText(r.line).c_str());
        return;
    }
    if (!r.status.empty()) {
        if (r.status == "BYE") bye_ = r.text;
        if (r.code == "CAPABILITY") SetCapabilities(r.codeText);
        if (r.code == "UIDVALIDITY" && selecting_ && !ParseNumber(r.codeText, uidValidity_)) uidValidity_ = 0;
        if (r.code == "ALERT") LogWriteF(kLogDetails, "IMAP alert: %s", PrintableText(r.text).c_str());
        return;
    }
    if (r.data.empty()) return;
    if (r.data[0].Is("CAPABILITY")) {
        String words;
        for (size_t i = 1; i < r.data.size(); ++i) words += r.data[i].text + " ";
        SetCapabilities(words);
    } else if (r.data.size() >= 2 && r.data[0].kind == clsImapValue::Kind::Number) {
        if (r.data[1].Is("EXISTS")) exists_ = uint32_t(std::min<uint64_t>(r.data[0].number, UINT32_MAX));
        else if (r.data[1].Is("EXPUNGE") && exists_ > 0) --exists_;
    }
}

void clsIMAPMailConnection::AskCapabilities() {
    socket_.Query(clsImapCommand("CAPABILITY"), [this](clsImapResponse &r) { Untagged(r); });
}

void clsIMAPMailConnection::StartTlsIfAsked(TlsMode mode, const String &host) {
    if (mode != TlsMode::StartTls && mode != TlsMode::Auto) return;
    if (!Offers("STARTTLS")) {
        if (mode == TlsMode::Auto) return;
        throw clsExcept(kErrGeneral, "TLS required, but the server does not offer STARTTLS");
    }
    clsImapResponse r = socket_.Command(clsImapCommand("STARTTLS"), [this](clsImapResponse &u) { Untagged(u); });
    if (r.status != "OK") {
        if (mode == TlsMode::Auto) return;
        throw clsExcept(kErrGeneral,
                        Format("TLS required, but the server refused STARTTLS: %s", PrintableText(r.line).c_str()));
    }
    socket_.StartTls(ReadTlsOptions(*this, host));
    // What the server said before TLS counts no more.
    capabilities_.clear();
    AskCapabilities();
}

void clsIMAPMailConnection::Logon(const String &host, uint16_t port) {
    clsSaslCredentials credentials{ReadTextOptionA("ServerUser"), ReadTextOptionA("ServerPassword"),
                                   ReadTextOptionA("OAuth2Token"), host, port};
    String names;
    for (const String &c : capabilities_)
        if (c.compare(0, 5, "AUTH=") == 0) names += c.substr(5) + " ";
    uint32_t offered = SaslMechanismsIn(names);
    auto refused = [this](const String &reply) {
        NtfyConnectionState(kEventLoggedOn, 0);
        clsExcept e(kErrAuthRefused, Format("unexpected reply '%s'", PrintableText(reply).c_str()));
        e.Push("authentication failed!");
        return e;
    };
    // After the logon the server may offer more; it says so, or is asked again.
    auto after = [this](const clsImapResponse &ok) {
        if (ok.code == "CAPABILITY") SetCapabilities(ok.codeText);
        else capabilities_.clear();
    };
    if (!credentials.token.empty() || (offered & (kSaslPlain | kSaslLogin | kSaslCramMd5))) {
        clsSaslProtocol protocol = kSaslImap;
        protocol.initialResponse = Offers("SASL-IR");
        ImapSaslChannel channel(socket_, [this](clsImapResponse &r) { Untagged(r); });
        clsSaslOutcome outcome = SaslAuthenticate(channel, protocol, offered, credentials);
        if (outcome.result == SaslResult::Success) return after(channel.Last());
        if (outcome.result != SaslResult::NotOffered) throw refused(outcome.reply);
    }
    if (Offers("LOGINDISABLED")) {
        NtfyConnectionState(kEventLoggedOn, 0);
        throw clsExcept(kErrAuthRefused,
                        "the server takes no LOGIN on this connection (LOGINDISABLED) and no mechanism this "
                        "client has");
    }
    clsImapCommand login("LOGIN ");
    login.AddString(credentials.user, false).Add(" ").AddString(credentials.password, false);
    clsImapResponse r = socket_.Command(login, [this](clsImapResponse &u) { Untagged(u); }, Secrecy::Secret);
    if (r.status != "OK") throw refused(r.line);
    after(r);
}

void clsIMAPMailConnection::SelectFolder() {
    WString name = ReadTextOption("Folder", u"INBOX");
    if (name.empty()) name = u"INBOX";
    bool ascii = std::all_of(name.begin(), name.end(), [](char16_t c) { return c < 0x80; });
    bool utf8 = false;
    if (!ascii && Offers("UTF8=ACCEPT")) {
        bool enabled = false;
        clsImapResponse r = socket_.Command(clsImapCommand("ENABLE UTF8=ACCEPT"), [&](clsImapResponse &u) {
            if (u.kind == Kind::Untagged && !u.data.empty() && u.data[0].Is("ENABLED")) {
                for (const clsImapValue &v : u.data) enabled = enabled || v.Is("UTF8=ACCEPT");
                return;
            }
            Untagged(u);
        });
        // A refused ENABLE leaves the name in modified UTF-7, which every server takes.
        utf8 = r.status == "OK" && enabled;
    }
    folder_ = utf8 ? Narrow(name, 65001) : EncodeModifiedUtf7(name);
    clsImapCommand select(ReadBoolOption("ReadOnly") ? "EXAMINE " : "SELECT ");
    select.AddString(folder_, utf8);
    uidValidity_ = exists_ = 0;
    {
        Scoped scope(selecting_);
        socket_.Query(select, [this](clsImapResponse &u) { Untagged(u); });
    }
    if (uidValidity_ == 0)
        throw clsExcept(kErrUnexpectedReply,
                        Format("the server named no UIDVALIDITY for the folder '%s'", FolderName().c_str()));
}

HRESULT clsIMAPMailConnection::OnConnect() {
    SetState(kOpening);
    capabilities_.clear();
    sizes_.clear();
    bye_.clear();
    expungeAtLogout_ = false;
    try {
        clsServerLink link(*this, 143, clsServerLink::kProxyWhenAddressSet);
        TlsMode mode = link.Mode();
        socket_.SetLiteralBudget(clsImapParser::kDefaultLiteralBudget);
        link.Open(socket_);
        const String &host = link.Host();
        clsImapResponse greeting = socket_.Read();
        bool preauth = greeting.kind == Kind::Untagged && greeting.status == "PREAUTH";
        if (greeting.kind != Kind::Untagged || (greeting.status != "OK" && !preauth)) {
            if (greeting.status == "BYE") throw clsExcept(kErrUnexpectedReply, UnexpectedReply(greeting));
            throw clsExcept(kErrUnexpectedReply, Format("Server response '%s' unexpected from an IMAP server",
                                                        PrintableText(greeting.line).c_str()));
        }
        SetState(kConnecting);
        NtfyConnectionState(kEventLogon, 0);
        if (greeting.code == "CAPABILITY") SetCapabilities(greeting.codeText);
        if (capabilities_.empty()) AskCapabilities();
        if (!preauth) {
            StartTlsIfAsked(mode, host);
            Logon(host, link.Port());
        } else if (mode == TlsMode::StartTls) {
            throw clsExcept(kErrGeneral,
                            "TLS required, but the server logged the connection on before STARTTLS (PREAUTH)");
        }
        NtfyConnectionState(kEventLoggedOn, 1);
        if (capabilities_.empty()) AskCapabilities();
        SelectFolder();
        SetState(kConnected);
        return S_OK;
    } catch (clsExcept &e) {
        NtfyConnectionState(kEventServer, 0);
        Close();
        e.Push("[clsIMAPMailConnection::OnConnect]");
        throw;
    }
}

String clsIMAPMailConnection::Close() {
    String failure;
    auto untagged = [this](clsImapResponse &u) { Untagged(u); };
    bool expunging = expungeAtLogout_;
    try {
        if (socket_.HasSocket() && expunging) {
            clsImapResponse r = socket_.Command(clsImapCommand("EXPUNGE"), untagged);
            if (r.status != "OK") failure = UnexpectedReply(r);
            expunging = false;
        }
        if (socket_.HasSocket()) socket_.Command(clsImapCommand("LOGOUT"), untagged);
    } catch (const clsExcept &e) {
        // Saying goodbye may fail on a connection that is already gone; closing it must not.
        if (expunging && !e.Messages().empty()) failure = e.Messages().front();
    }
    if (expunging && failure.empty()) failure = "the connection to the server was lost";
    socket_.Disconnect();
    SetState(kDisconnected);
    expungeAtLogout_ = false;
    uidValidity_ = exists_ = 0;
    sizes_.clear();
    return failure;
}

HRESULT clsIMAPMailConnection::OnDisconnect() {
    String failure = Close();
    // Mails the host deleted are still in the folder: that must not pass for success.
    if (!failure.empty())
        throw clsExcept(kErrUnexpectedReply,
                        "clsIMAPMailConnection::OnDisconnect(): the deleted mails were not removed: " + failure);
    return S_OK;
}

HRESULT clsIMAPMailConnection::OnQueryMailbox(BYTE complete) {
    try {
        // Without a connection the mailbox counts as empty, as with POP3.
        if (State() != kConnected || !socket_.HasSocket()) {
            SendEvent(kEventMailbox, 0);
            return S_OK;
        }
        auto untagged = [this](clsImapResponse &u) { Untagged(u); };
        bool unreadOnly = ReadBoolOption("QueryUnreadMailsOnly");
        std::vector<uint32_t> uids;
        std::optional<clsExcept> failed;
        auto broken = [&](const clsImapResponse &r) {
            if (!failed)
                failed = clsExcept(kErrUnexpectedReply, Format("IMAP response not understood (%s): '%s'",
                                                               r.error.c_str(), PrintableText(r.line).c_str()));
        };
        if (exists_ > 0) {
            socket_.Query(clsImapCommand("UID FETCH 1:* (UID FLAGS RFC822.SIZE)"), [&](clsImapResponse &r) {
                if (r.kind == Kind::Broken && r.tag == "*") return broken(r);
                uint32_t uid = 0;
                if (!IsFetch(r)) return untagged(r);
                if (!ToUid(FetchItem(r, "UID"), uid)) return;
                const clsImapValue *flags = FetchItem(r, "FLAGS");
                if (HasFlag(flags, "\\Deleted") || (unreadOnly && HasFlag(flags, "\\Seen"))) return;
                const clsImapValue *size = FetchItem(r, "RFC822.SIZE");
                if (size && size->kind == clsImapValue::Kind::Number) sizes_[uid] = size->number;
                uids.push_back(uid);
            });
            if (failed) throw *failed;
        }
        std::sort(uids.begin(), uids.end());
        uids.erase(std::unique(uids.begin(), uids.end()), uids.end());
        SendEvent(kEventMailbox, LONG(uids.size()));

        const char *item = !complete ? "BODY.PEEK[HEADER]" : ReadBoolOption("QueryMarksMailsAsRead") ? "BODY[]" : "BODY.PEEK[]";
        const char *echo = complete ? "BODY[]" : "BODY[HEADER]";
        socket_.SetLiteralBudget(complete ? kLargestMail : clsImapParser::kDefaultLiteralBudget);
        LONG n = 0;
        bool outOfMemory = false;
        for (const String &set : UidSets(uids)) {
            socket_.Query(clsImapCommand(Format("UID FETCH %s (UID %s)", set.c_str(), item)), [&](clsImapResponse &r) {
                if (r.kind == Kind::Broken && r.tag == "*") return broken(r);
                uint32_t uid = 0;
                if (!IsFetch(r)) return untagged(r);
                clsImapValue *text = FetchItem(r, echo);
                if (failed || outOfMemory || !ToUid(FetchItem(r, "UID"), uid) || !text ||
                    text->kind != clsImapValue::Kind::String || !std::binary_search(uids.begin(), uids.end(), uid))
                    return;
                try {
                    SendEvent(kEventMailboxItem, ++n);
                } catch (const clsExcept &e) {
                    failed = e; // cancelled: the command's responses are still read
                    return;
                }
                IKvMail *mail = CreateReceivedMail(ImapMailId(uidValidity_, uid));
                if (!mail) {
                    outOfMemory = true;
                    return;
                }
                clsAutoRelease<IKvMail> hold(mail);
                // The rest of the command's responses are still read: the next command finds the stream in step.
                try {
                    ReadMailText(mail, text->text, complete != 0);
                    AppendMail(mail);
                } catch (const clsExcept &e) {
                    failed = e;
                }
            });
            if (failed) throw *failed;
            if (outOfMemory) break;
        }
        socket_.SetLiteralBudget(clsImapParser::kDefaultLiteralBudget);
        return outOfMemory ? E_OUTOFMEMORY : S_OK;
    } catch (clsExcept &e) {
        socket_.SetLiteralBudget(clsImapParser::kDefaultLiteralBudget);
        e.Push("[clsIMAPMailConnection::OnQueryMailbox]");
        throw;
    }
}

uint32_t clsIMAPMailConnection::UidOf(const String &id, const char *operation) {
    uint32_t validity = 0, uid = 0;
    if (!ParseImapMailId(id, validity, uid))
        throw clsExcept(kErrGeneral,
                        Format("clsIMAPMailConnection::%s(): '%s' is no IMAP mail identifier", operation, id.c_str()));
    if (validity != uidValidity_)
        throw clsExcept(kErrGeneral,
                        Format("clsIMAPMailConnection::%s(): the mail '%s' was listed under UIDVALIDITY %u, but "
                               "the folder '%s' now has UIDVALIDITY %u: its UID may name another mail now",
                               operation, id.c_str(), validity, FolderName().c_str(), uidValidity_));
    return uid;
}

HRESULT clsIMAPMailConnection::LoadRestOfMail(IKvMail *mail) {
    if (IsSendRole())
        return Fail(E_UNEXPECTED, kErrGeneral, "clsIMAPMailConnection::LoadRestOfMail(): not in RECV connection");
    if (State() != kConnected)
        return Fail(E_UNEXPECTED, kErrNotConnected, "clsIMAPMailConnection::LoadRestOfMail(): not connected");
    String id = MailIdOf(mail);
    try {
        std::map<uint32_t, IKvMail *> batch{{UidOf(id, "LoadRestOfMail"), mail}};
        bool mark = ReadBoolOption("QueryMarksMailsAsRead");
        // A host loads its mails one after another: the listed ones after this one
        // come along while they fit, so it waits for the server once per batch, not
        // once per mail. Never with BODY[]: that would mark mails nobody asked for.
        uint64_t largest = 0;
        auto size = [this](uint32_t uid) { auto it = sizes_.find(uid); return it == sizes_.end() ? kLargestMail : it->second; };
        uint64_t bytes = size(batch.begin()->first);
        const std::vector<IKvMail *> &mails = Mails();
        auto next = std::find(mails.begin(), mails.end(), mail);
        for (size_t looked = 0; !mark && next != mails.end() && ++next != mails.end() && looked < kReadAhead; ++looked) {
            uint32_t validity = 0, uid = 0;
            if (!IsListed(*next) || !ParseImapMailId(MailIdOf(*next), validity, uid) || validity != uidValidity_) continue;
            if (bytes + size(uid) > kReadAheadBytes) break;
            bytes += size(uid);
            batch.emplace(uid, *next);
        }
        std::vector<uint32_t> uids;
        for (const auto &[uid, m] : batch) uids.push_back(uid), largest = std::max(largest, size(uid));
        // The sizes the listing gave bound the memory a server can make us take (with room for a wrong count).
        socket_.SetLiteralBudget(std::min(std::max(largest * 2, largest + (1u << 20)), kLargestMail));
        bool found = false;
        std::optional<clsExcept> failed;
        const char *item = mark ? "BODY[]" : "BODY.PEEK[]";
        socket_.Query(clsImapCommand(Format("UID FETCH %s (UID %s)", UidSets(uids).front().c_str(), item)),
                      [&](clsImapResponse &r) {
                          if (r.kind == Kind::Broken && r.tag == "*") {
                              if (!failed)
                                  failed = clsExcept(kErrUnexpectedReply,
                                                     Format("IMAP response not understood (%s): '%s'", r.error.c_str(),
                                                            PrintableText(r.line).c_str()));
                              return;
                          }
                          uint32_t got = 0;
                          if (!IsFetch(r) || !ToUid(FetchItem(r, "UID"), got) || !batch.count(got)) return Untagged(r);
                          clsImapValue *text = FetchItem(r, "BODY[]");
                          IKvMail *target = batch[got];
                          if (!target || !text || text->kind != clsImapValue::Kind::String) return;
                          batch[got] = nullptr; // read once
                          try {
                              ReadMailText(target, text->text, true);
                              found = found || target == mail;
                          } catch (const clsExcept &e) {
                              // A mail read ahead that fails stays listed and fails when it is asked for.
                              if (target == mail) failed = e;
                          }
                      });
        socket_.SetLiteralBudget(clsImapParser::kDefaultLiteralBudget);
        if (failed) throw *failed;
        if (!found)
            throw clsExcept(kErrUnexpectedReply,
                            Format("the mail '%s' is no longer in the folder '%s'", id.c_str(), FolderName().c_str()));
    } catch (clsExcept &e) {
        socket_.SetLiteralBudget(clsImapParser::kDefaultLiteralBudget);
        e.Push("[clsIMAPMailConnection::LoadRestOfMail]");
        return Fail(E_FAIL, e);
    }
    return S_OK;
}

void clsIMAPMailConnection::StoreFlag(const String &id, const char *flag, const char *operation) {
    uint32_t uid = UidOf(id, operation);
    socket_.Query(clsImapCommand(Format("UID STORE %u +FLAGS.SILENT (%s)", uid, flag)),
                  [this](clsImapResponse &u) { Untagged(u); });
}

HRESULT clsIMAPMailConnection::OnDeleteMail(const String &id) {
    if (IsSendRole())
        return Fail(E_UNEXPECTED, kErrGeneral, "clsIMAPMailConnection::OnDeleteMail(): not in RECV connection");
    if (State() != kConnected)
        return Fail(E_UNEXPECTED, kErrNotConnected, "clsIMAPMailConnection::OnDeleteMail(): not connected");
    try {
        StoreFlag(id, "\\Deleted", "OnDeleteMail");
        if (Offers("UIDPLUS")) {
            // Only this mail goes: EXPUNGE would also take what others marked deleted.
            socket_.Query(clsImapCommand(Format("UID EXPUNGE %u", UidOf(id, "OnDeleteMail"))),
                          [this](clsImapResponse &u) { Untagged(u); });
        } else {
            expungeAtLogout_ = true;
        }
    } catch (clsExcept &e) {
        e.Push("[clsIMAPMailConnection::OnDeleteMail]");
        throw;
    }
    uint32_t validity = 0, uid = 0, deleted = UidOf(id, "OnDeleteMail");
    for (IKvMail *mail : Mails())
        if (ParseImapMailId(MailIdOf(mail), validity, uid) && validity == uidValidity_ && uid == deleted)
            MarkDeleted(mail);
    return S_OK;
}

HRESULT clsIMAPMailConnection::OnMarkMailAsRead(const String &id) {
    if (IsSendRole())
        return Fail(E_UNEXPECTED, kErrGeneral, "clsIMAPMailConnection::OnMarkMailAsRead(): not in RECV connection");
    if (State() != kConnected)
        return Fail(E_UNEXPECTED, kErrNotConnected, "clsIMAPMailConnection::OnMarkMailAsRead(): not connected");
    try {
        StoreFlag(id, "\\Seen", "OnMarkMailAsRead");
    } catch (clsExcept &e) {
        e.Push("[clsIMAPMailConnection::OnMarkMailAsRead]");
        throw;
    }
    return S_OK;
}

IKvMail *clsIMAPMailConnection::CreateReceivedMail(const String &id) {
    auto *mail = new (std::nothrow) clsArpaMail(this, id);
    if (!mail) return nullptr;
    IKvMail *out = nullptr;
    mail->QueryInterface(IID_IKvMail, reinterpret_cast<void **>(&out));
    return out;
}

void clsIMAPMailConnection::ReadMailText(IKvMail *mail, String &text, bool complete) {
    clsAutoRelease<clsArpaMail> arpa = clsArpaMail::Of(mail);
    if (!arpa) throw clsExcept(kErrGeneral, "clsIMAPMailConnection: the mail is not an internet mail");
    // A complete read replaces what the head-only read filled in.
    arpa->ForgetReadContent();
    if (complete && text.size() > kLargeText && IsRawForm(text)) {
        // The raw text goes to its file: a second copy in memory would double the peak.
        clsFileRWTemp &raw = arpa->RawText();
        raw.Truncate();
        raw.Write(text.data(), text.size());
        ReadMail(*arpa, text, kReadRawTextKept);
    } else {
        ReadMail(*arpa, text, complete ? 0u : uint32_t(kReadHeadersOnly));
    }
    // The reader kept its own copy as the raw text.
    String().swap(text);
    arpa->SetState(complete ? kMailLoaded : kMailListed);
}

bool clsIMAPMailConnection::IsListed(IKvMail *mail) {
    clsAutoRelease<clsArpaMail> arpa = clsArpaMail::Of(mail);
    return arpa && arpa->State() == kMailListed;
}

void clsIMAPMailConnection::MarkDeleted(IKvMail *mail) {
    if (clsAutoRelease<clsArpaMail> arpa = clsArpaMail::Of(mail)) arpa->SetState(kMailDeleted);
}

} // namespace kv

// Connection base behaviour that needs a provider of our own making: hook
// failures, events, the mail list and option readers.
#include <gtest/gtest.h>

#include <functional>

#include "connection/connection_base.h"
#include "dialled.h"
#include "log_lines.h"
#include "mail/arpa_mail.h"
#include "providers/imap/imap_connection.h"
#include "providers/pop3/pop3_connection.h"
#include "providers/smtp/smtp_connection.h"
#include "runtime/module_state.h"
#include "script_server.h"

namespace kv {
namespace {

using testsupport::CodedError;
using testsupport::Events;
using testsupport::ScriptServer;

// A provider whose hooks do what the test says.
class Provider : public clsConnectionBase {
  public:
    explicit Provider(bool send) : clsConnectionBase(send) {}
    std::function<HRESULT()> onConnect = [this] {
        SetState(kConnected);
        return S_OK;
    };
    std::function<HRESULT()> onDisconnect = [this] {
        SetState(kDisconnected);
        return S_OK;
    };
    std::function<HRESULT()> onSend = [] { return S_OK; };
    HRESULT OnConnect() override { return onConnect(); }
    HRESULT OnDisconnect() override { return onDisconnect(); }
    HRESULT OnCreateMail(LONG, const String &, IKvMail **) override { return E_NOTIMPL; }
    HRESULT OnSend(IKvMail *) override { return onSend(); }
    HRESULT OnQueryMailbox(BYTE) override { return S_OK; }
    HRESULT OnDeleteMail(const String &) override { return S_OK; }
    String GetProviderName() const override { return "TEST"; }
    HRESULT LoadRestOfMail(IKvMail *) override { return E_NOTIMPL; }
    bool IsProviderAvailable() override { return true; }
    bool AnswersSelector(REFIID) const override { return false; }
};

[[noreturn]] HRESULT ThrowTwo(int32_t code) {
    clsExcept e(code, "socket closed");
    e.Push("[clsArpaMail::Send()]");
    throw e;
}

// A hook's exception becomes the record, oldest line first, and the events
// around the hook are sent all the same; no other exception crosses the
// interface. ConnectWithNotifications sends the events only.
TEST(ConnectionBase, HookExceptionsBecomeTheRecordAndEventsFrameTheHook) {
    using Seen = std::vector<std::pair<LONG, LONG>>;
    struct Case {
        const char *name;
        int32_t code;
        Seen events;
        std::function<HRESULT()> hook = {}; // when not ThrowTwo(code)
        HRESULT result = E_ABORT;
        std::string text = "socket closed\r\n[clsArpaMail::Send()]\r\n";
    } cases[] = {
        {"connect", -2, {{2, 0}, {3, 0}}},
        {"connect", 0, {{2, 0}, {3, 1}}}, // code 0 reports the connection as made
        {"send", -14, {{8, 0}, {8, 100}}},
        {"disconnect", -6, {{6, 0}, {7, 0}}}, // detail by the exception's code
        // clang-format off
        {"connect", -5, {{2, 0}, {3, 0}}, [] () -> HRESULT { throw std::runtime_error("boom"); }, E_FAIL,
         "internal failure: boom\r\n"},
        {"connect", -5, {{2, 0}, {3, 0}}, [] () -> HRESULT { throw std::bad_alloc(); }, E_OUTOFMEMORY,
         "out of memory\r\n"},
        // For providers that connect on their own: no trace, no record, only the events.
        {"notify", 0, {{2, 0}, {3, 1}}, [] { return S_OK; }, S_OK, ""},
        {"notify", 0, {{2, 0}, {3, 0}}, [] { return ThrowTwo(-2); }, E_FAIL, ""},
        {"notify", 0, {{2, 0}}, [] { return E_ACCESSDENIED; }, E_ACCESSDENIED, ""},
        // clang-format on
    };
    for (const Case &c : cases) {
        Provider p(true);
        Events events;
        p.SetMailStateNotificationSlot(&events);
        auto thrower = c.hook ? c.hook : [&] { return ThrowTwo(c.code); };
        if (c.name[0] == 'c' || c.name[0] == 'n')
            p.onConnect = thrower;
        else
            ASSERT_EQ(p.Connect(), S_OK);
        if (c.name[0] == 's') p.onSend = thrower;
        if (c.name[0] == 'd') p.onDisconnect = thrower;
        events.seen.clear();
        HRESULT hr = c.name[0] == 'c'   ? p.Connect()
                     : c.name[0] == 'n' ? p.ConnectWithNotifications()
                     : c.name[0] == 's' ? p.Send(nullptr)
                                        : p.Disconnect();
        EXPECT_EQ(hr, c.result) << c.name;
        EXPECT_EQ(CodedError(&p), std::to_string(c.code) + ":" + c.text) << c.name;
        EXPECT_EQ(events.seen, c.events) << c.name << c.code;
        p.SetMailStateNotificationSlot(nullptr);
    }
}

// A host's slot that lets go of itself inside its call and counts what is
// left of its references there.
struct Detaching final : testsupport::Counted<Events> {
    explicit Detaching(clsConnectionBase &c) : Counted(IID_IKvMailStateNotificationSlot), connection(c) {}
    HRESULT STDMETHODCALLTYPE NotifyConnectionState(LONG, LONG) override {
        connection.SetMailStateNotificationSlot(nullptr);
        leftInCall = refs;
        return S_OK;
    }
    clsConnectionBase &connection;
    ULONG leftInCall = 0;
};

TEST(ConnectionBase, ASlotThatLetsGoOfItselfLivesToTheEndOfItsCall) {
    for (bool send : {false, true}) { // the logged events and the direct ones
        Provider p(true);
        ASSERT_EQ(send ? p.Connect() : S_OK, S_OK);
        Detaching slot(p);
        p.SetMailStateNotificationSlot(&slot);
        slot.Release(); // the connection holds the only reference
        EXPECT_EQ(send ? p.Send(nullptr) : p.Connect(), S_OK);
        EXPECT_EQ(slot.leftInCall, 1u) << send;
    }
}

TEST(ConnectionBase, SecretOptionsAreMaskedInTheTraceWhateverTheirCase) {
    testsupport::LogLines log(2);
    Provider p(true);
    for (const char16_t *name : {u"ServerPassword", u"serverpassword", u"PROXYPASSWORD", u"oauth2token", u"ServerUser"})
        testsupport::SetTextOption(&p, name, "v4lue");
    for (const char *shown : {"ServerPassword','*****'", "serverpassword','*****'", "PROXYPASSWORD','*****'",
                              "oauth2token','*****'", "ServerUser','v4lue'"})
        EXPECT_NE(log.Text().find(shown), std::string::npos) << shown << "\n" << log.Text();
}

// The enumerator holds its own references on a copy of the list (its cursor
// is the mail body enumerator's, mail_body_test); connecting and
// disconnecting let the list go; releasing the connection frees its mails
// without a disconnect, once the host lets go of those it kept.
TEST(ConnectionBase, MailListEnumeratorAndRelease) {
    int32_t before = ModuleRefCount();
    testsupport::FakeMail m[3]; // outlive the connection, which releases them
    auto *p = new Provider(false);
    p->AddRef();
    for (auto &x : m) p->AppendMail(&x);
    IKvEnumMail *e = nullptr;
    ASSERT_EQ(p->EnumMails(&e), S_OK);
    EXPECT_EQ(m[0].refs, 2u) << "list and enumerator each hold one";
    ASSERT_EQ(p->Connect(), S_OK);
    EXPECT_TRUE(p->Mails().empty());
    IKvMail *got[4] = {};
    ULONG fetched = 0;
    EXPECT_EQ(e->Next(4, got, &fetched), S_FALSE);
    ASSERT_EQ(fetched, 3u) << "the copy outlives the list";
    for (ULONG i = 0; i < fetched; ++i) {
        EXPECT_EQ(got[i], &m[i]);
        got[i]->Release();
    }
    e->Release();
    EXPECT_EQ(m[0].refs, 0u);
    p->AppendMail(&m[0]);
    ASSERT_EQ(p->Disconnect(), S_OK);
    EXPECT_EQ(m[0].refs, 0u);

    for (const char *id : {"1 ", "2 "}) {
        auto *mail = new clsArpaMail(p, id);
        mail->AddRef();
        p->AppendMail(mail);
        mail->Release(); // the list holds it now, and it holds the connection
    }
    ASSERT_EQ(p->EnumMails(&e), S_OK);
    ASSERT_EQ(e->Next(1, got, nullptr), S_OK);
    e->Release();
    p->Release(); // the host is done with the connection, but keeps one mail
    EXPECT_GT(ModuleRefCount(), before) << "the kept mail still holds its connection";
    BSTR cookie = nullptr;
    EXPECT_EQ(got[0]->GetCookie(&cookie), S_OK);
    SysFreeString(cookie);
    got[0]->Release();
    EXPECT_EQ(ModuleRefCount(), before) << "mails and connection are all gone";
}

TEST(ConnectionBase, TypedOptionReaders) {
    Provider p(true);
    clsVariant text = clsVariant::FromText(u"25"), flag = clsVariant::FromInt(2);
    VARIANT byReference; // as Visual Basic passes it: the value is kept, not the reference
    VariantInit(&byReference);
    byReference.vt = VT_BYREF | VT_BSTR;
    byReference.pbstrVal = &text.ptr()->bstrVal;
    EXPECT_EQ(p.SetOption(u"ServerPort", &byReference), S_OK);
    text.ptr()->bstrVal[0] = u'x';
    EXPECT_EQ(p.SetOption(u"BadPort", text.ptr()), S_OK);
    EXPECT_EQ(p.SetOption(u"Flag", flag.ptr()), S_OK);

    // Text from a settings string converts, keys ignore case, a failed conversion reads 0, absent: the default.
    for (auto [name, expected] : std::initializer_list<std::pair<const char *, int32_t>>{
             {"ServerPort", 25}, {"serverport", 25}, {"BadPort", 0}, {"Missing", 1080}})
        EXPECT_EQ(p.ReadIntOption(name, 1080), expected) << name;
    EXPECT_EQ(std::vector<bool>({p.ReadBoolOption("Flag"), p.ReadBoolOption("BadPort"), p.ReadBoolOption("Missing")}),
              std::vector<bool>({true, false, false}));
    EXPECT_EQ(p.ReadTextOption("Missing", u"dflt"), u"dflt");
    EXPECT_TRUE(p.Options().Contains("TEST.ServerPort"));
    EXPECT_FALSE(p.Options().Contains("TEST.Missing")) << "typed readers do not insert";
    EXPECT_TRUE(p.ReadOption("Missing").IsEmpty());
    EXPECT_TRUE(p.Options().Contains("TEST.Missing")) << "the plain reader inserts an empty value";
}

using V = std::vector<std::string>;
V operator+(V a, const V &b) { return a.insert(a.end(), b.begin(), b.end()), a; }

// Answers E_ABORT (or another failure) to one event; every event is kept.
class Cancelling : public testsupport::Events {
  public:
    Cancelling(std::pair<LONG, LONG> a, HRESULT r) : at(a), answer(r) {}
    std::pair<LONG, LONG> at;
    HRESULT answer;
    HRESULT STDMETHODCALLTYPE NotifyConnectionState(LONG event, LONG detail) override {
        Events::NotifyConnectionState(event, detail);
        return std::make_pair(event, detail) == at ? answer : S_OK;
    }
};

TEST(ConnectionBase, TheHostCancelsASendOrReceiveWithEAbortOnly) {
    const V envelope = {
        "MAIL FROM:<a@b.c>\r\n", "250 ok\r\n", "RCPT TO:<d@e.f>\r\n", "250 ok\r\n", "DATA\r\n", "354 go\r\n"};
    const V head = {"CAPA\r\n", "+OK\r\nPIPELINING\r\n.\r\n",  "STAT\r\n", "+OK 2 40\r\n",
                    "LIST\r\n", "+OK\r\n1 20\r\n2 20\r\n.\r\n"},
            dele = {"DELE 1\r\n", "-ERR locked\r\n"}, text = {"Subject: x\r\n\r\nhi\r\n.\r\n", "250 ok\r\n"};
    const V imap = {
        "a3 UID FETCH 1:* (UID FLAGS RFC822.SIZE)\r\n",
        "* 1 FETCH (UID 4 FLAGS () RFC822.SIZE 3)\r\n* 2 FETCH (UID 5 FLAGS () RFC822.SIZE 3)\r\na3 OK\r\n",
        "a4 UID FETCH 4:5 (UID BODY.PEEK[HEADER])\r\n",
        "* 1 FETCH (UID 4 BODY[HEADER] {3}\r\nA:b)\r\n* 2 FETCH (UID 5 BODY[HEADER] {3}\r\nC:d)\r\na4 OK\r\n"};
    const char *kCancelled = "cancelled by the host\r\n",
               *kInSend = "cancelled by the host\r\n[clsArpaMail::Send()]\r\n",
               *kInQuery = "cancelled by the host\r\n[clsPOP3MailConnection::OnQueryMailbox]\r\n";
    const V listing = head + V{"UIDL 1\r\nTOP 1 1\r\nUIDL 2\r\nTOP 2 1\r\n",
                               "+OK 1 a\r\n+OK\r\nSubject: one\r\n.\r\n+OK 2 b\r\n+OK\r\nSubject: two\r\n.\r\n"};
    struct Case {
        const char *name;
        char kind; // SMTP, POP3, IMAP
        std::pair<LONG, LONG> at;
        HRESULT answer;
        V dialogue; // after the logon: expected, sent, expected, sent...
        HRESULT result;
        const char *error;
        ConnectionState after;
        size_t listed;
    } cases[] = {
        // clang-format off
        // Nothing of the mail went out; RSET makes sure the server holds no transaction.
        {"smtp, first event", 's', {8, 0}, E_ABORT, {"RSET\r\n", "250 ok\r\n"}, E_ABORT, kCancelled, kConnected, 0},
        // The server has the envelope and waits for text: only closing keeps it from delivering.
        {"smtp, in the text", 's', {8, 1}, E_ABORT, envelope, E_ABORT, kInSend, kDisconnected, 0},
        {"smtp, other failures ignored", 's', {8, 1}, E_FAIL, envelope + text, S_OK, "", kConnected, 0},
        {"pop3, at the count", 'p', {10, 2}, E_ABORT, head, E_ABORT, kInQuery, kConnected, 0},
        // The second message's replies are read before the call returns: DELE gets its own.
        {"pop3, inside a batch", 'p', {11, 2}, E_ABORT, listing + dele, E_ABORT, kInQuery, kConnected, 1},
        {"pop3, other failures ignored", 'p', {11, 2}, E_INVALIDARG, listing + dele, S_OK, "", kConnected, 2},
        // The rest of the FETCH is read: the next command finds the stream in step.
        {"imap, inside a fetch", 'i', {11, 2}, E_ABORT, imap, E_ABORT,
         "cancelled by the host\r\n[clsIMAPMailConnection::OnQueryMailbox]\r\n", kConnected, 1}, // clang-format on
    };
    for (const Case &c : cases) {
        ScriptServer server, again;
        for (ScriptServer *s : {&server, &again}) {
            const int tag = s == &server ? 1 : 6; // IMAP's tags run on over the second connection
            if (c.kind == 's') s->Play({"220 hi\r\n", "EHLO client\r\n", "250 ok\r\n"}, true);
            if (c.kind == 'p') s->Play({"+OK hi\r\n", "USER u\r\n", "+OK\r\n", "PASS p\r\n", "+OK\r\n"}, true);
            if (c.kind == 'i')
                s->Play(
                    {"* OK [CAPABILITY IMAP4rev1] hi\r\n", Format("a%d LOGIN \"u\" \"p\"\r\n", tag),
                     Format("a%d OK [CAPABILITY IMAP4rev1] in\r\n", tag), Format("a%d SELECT \"INBOX\"\r\n", tag + 1),
                     (tag == 1 ? "* 2 EXISTS\r\n" : "") + Format("* OK [UIDVALIDITY 9] v\r\na%d OK done\r\n", tag + 1)},
                    true);
            if (s == &server) server.Play(c.dialogue);
            // A send cancelled in its text must find the server still reading: no QUIT, no RSET in the text.
            if (s == &server && c.after == kConnected)
                server.Expect(c.kind == 's' ? "RSET\r\n" : c.kind == 'i' ? "a5 LOGOUT\r\n" : "QUIT\r\n");
            s->Pause(100).Start();
        }
        clsConnectionBase *made = c.kind == 's'   ? static_cast<clsConnectionBase *>(new clsSMTPMailConnection())
                                  : c.kind == 'i' ? static_cast<clsConnectionBase *>(new clsIMAPMailConnection())
                                                  : new clsPOP3MailConnection();
        clsAutoRelease<clsConnectionBase> conn(made, true);
        testsupport::SetTextOption(made, u"ServerAddress", "127.0.0.1");
        testsupport::SetTextOption(made, u"ServerUser", c.kind == 's' ? "" : "u");
        testsupport::SetTextOption(made, u"ServerPassword", "p");
        testsupport::SetTextOption(made, u"LogonName", "client");
        testsupport::SetIntOption(made, u"ServerPort", server.Port());
        Cancelling slot(c.at, c.answer);
        made->SetMailStateNotificationSlot(&slot);
        ASSERT_EQ(made->Connect(), S_OK) << c.name << ": " << testsupport::ErrorText(made);
        HRESULT hr = S_OK;
        if (c.kind == 's') {
            clsAutoRelease<clsArpaMail> mail(new clsArpaMail(made, ""), true);
            mail->SetSenderText("a@b.c");
            mail->To().push_back("d@e.f");
            mail->RawText().Write("Subject: x\r\n\r\nhi\r\n");
            clsAutoRelease<IKvMail> m;
            mail->QueryInterface(IID_IKvMail, reinterpret_cast<void **>(m.put()));
            hr = made->Send(m.get());
        } else {
            hr = made->QueryMailbox(0);
        }
        EXPECT_EQ(hr, c.result) << c.name;
        EXPECT_EQ(CodedError(made), (c.result == S_OK ? "0:" : "-15:") + std::string(c.error)) << c.name;
        EXPECT_EQ(made->State(), c.after) << c.name;
        ASSERT_EQ(made->Mails().size(), c.listed) << c.name;
        if (c.listed && c.kind == 'p') {
            BSTR cookie = nullptr;
            made->Mails()[0]->GetCookie(&cookie);
            EXPECT_EQ(made->DeleteMail(cookie), E_ABORT) << c.name << ": the stream is in step";
            SysFreeString(cookie);
        }
        made->SetMailStateNotificationSlot(nullptr);
        made->Disconnect();
        EXPECT_TRUE(server.Finish()) << c.name << ": " << server.Failure();
        EXPECT_EQ(c.after == kDisconnected ? server.Received().find("\r\n.\r\n") : std::string::npos, std::string::npos)
            << c.name << ": the text was ended";
        testsupport::SetIntOption(made, u"ServerPort", again.Port());
        EXPECT_EQ(made->Connect(), S_OK) << c.name << ": usable again";
        made->Disconnect();
        EXPECT_TRUE(again.Finish()) << c.name << ": " << again.Failure();
    }
}

} // namespace
} // namespace kv

// Connection base behaviour that needs a provider of its own: hook failures, events, mail list, option readers.
// A host's cancel is tested in the dialogue tests, against the real providers.
#include <gtest/gtest.h>

#include <functional>

#include "connection/connection_base.h"
#include "dialled.h"
#include "log_lines.h"
#include "mail/arpa_mail.h"
#include "runtime/module_state.h"

namespace kv {
namespace {

using testsupport::CodedError;
using testsupport::Events;

// A provider whose hooks do what the test says.
class Provider : public clsConnectionBase {
  public:
    explicit Provider(bool send) : clsConnectionBase(send) {}
    std::function<HRESULT()> onConnect = [this] { return SetState(kConnected), S_OK; };
    std::function<HRESULT()> onDisconnect = [this] { return SetState(kDisconnected), S_OK; };
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

} // namespace
} // namespace kv

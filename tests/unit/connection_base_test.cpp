// Connection base behaviour that needs a provider of our own making: hook
// failures, events, the mail list and option readers.
#include <gtest/gtest.h>

#include <functional>

#include "connection/connection_base.h"
#include "fake_mail.h"
#include "runtime/module_state.h"

namespace kv {
namespace {

// A mail that only counts references.
class FakeMail : public testsupport::FakeMail {
  public:
    FakeMail() : testsupport::FakeMail("", false, 1) {}
};

class Events : public IKvMailStateNotificationSlot {
  public:
    std::vector<std::pair<LONG, LONG>> seen;
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void **ppv) override {
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE NotifyConnectionState(LONG e, LONG d) override {
        seen.emplace_back(e, d);
        return S_OK;
    }
};

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

std::string Text(clsConnectionBase &c, LONG *code = nullptr) {
    BSTR b = nullptr;
    EXPECT_EQ(c.GetErrorInformation(code, &b), S_OK);
    String r = Narrow(WideView(reinterpret_cast<const char16_t *>(b)));
    SysFreeString(b);
    return r;
}

[[noreturn]] HRESULT ThrowTwo(int32_t code) {
    clsExcept e(code, "socket closed");
    e.Push("[clsArpaMail::Send()]");
    throw e;
}

TEST(ConnectionBase, HookExceptionBecomesRecordOldestFirst) {
    auto *p = new Provider(true);
    p->AddRef();
    Events events;
    p->SetMailStateNotificationSlot(&events);
    p->onConnect = [] { return ThrowTwo(-2); };
    EXPECT_EQ(p->Connect(), E_ABORT);
    LONG code = 0;
    EXPECT_EQ(Text(*p, &code), "socket closed\r\n[clsArpaMail::Send()]\r\n");
    EXPECT_EQ(code, -2);
    std::vector<std::pair<LONG, LONG>> expected = {{2, 0}, {3, 0}};
    EXPECT_EQ(events.seen, expected);

    // A thrown exception with code 0 reports the connection as made.
    events.seen.clear();
    p->onConnect = [] { return ThrowTwo(0); };
    EXPECT_EQ(p->Connect(), E_ABORT);
    expected = {{2, 0}, {3, 1}};
    EXPECT_EQ(events.seen, expected);
    p->SetMailStateNotificationSlot(nullptr);
    p->Release();
}

TEST(ConnectionBase, SendEventsFrameTheHookEvenWhenItThrows) {
    auto *p = new Provider(true);
    p->AddRef();
    Events events;
    p->SetMailStateNotificationSlot(&events);
    ASSERT_EQ(p->Connect(), S_OK);
    events.seen.clear();
    p->onSend = [] { return ThrowTwo(-14); };
    EXPECT_EQ(p->Send(nullptr), E_ABORT);
    std::vector<std::pair<LONG, LONG>> expected = {{8, 0}, {8, 100}};
    EXPECT_EQ(events.seen, expected);
    LONG code = 0;
    Text(*p, &code);
    EXPECT_EQ(code, -14);

    // A failed disconnect hook: event 7 with detail by the exception's code.
    events.seen.clear();
    p->onDisconnect = [] { return ThrowTwo(-6); };
    EXPECT_EQ(p->Disconnect(), E_ABORT);
    expected = {{6, 0}, {7, 0}};
    EXPECT_EQ(events.seen, expected);
    p->SetMailStateNotificationSlot(nullptr);
    p->Release();
}

TEST(ConnectionBase, ForeignExceptionsDoNotCrossTheInterface) {
    auto *p = new Provider(true);
    p->AddRef();
    p->onConnect = []() -> HRESULT { throw std::runtime_error("boom"); };
    EXPECT_EQ(p->Connect(), E_FAIL);
    EXPECT_EQ(Text(*p), "internal failure: boom\r\n");
    p->onConnect = []() -> HRESULT { throw std::bad_alloc(); };
    EXPECT_EQ(p->Connect(), E_OUTOFMEMORY);
    p->Release();
}

TEST(ConnectionBase, ConnectWithNotifications) {
    Provider p(true);
    Events events;
    p.SetMailStateNotificationSlot(&events);
    EXPECT_EQ(p.ConnectWithNotifications(), S_OK);
    std::vector<std::pair<LONG, LONG>> expected = {{2, 0}, {3, 1}};
    EXPECT_EQ(events.seen, expected);

    events.seen.clear();
    p.onConnect = [] { return ThrowTwo(-2); };
    EXPECT_EQ(p.ConnectWithNotifications(), E_FAIL);
    expected = {{2, 0}, {3, 0}};
    EXPECT_EQ(events.seen, expected);
    EXPECT_EQ(Text(p), "") << "the exception's record is not copied";

    events.seen.clear();
    p.onConnect = [] { return E_ACCESSDENIED; };
    EXPECT_EQ(p.ConnectWithNotifications(), E_ACCESSDENIED);
    expected = {{2, 0}};
    EXPECT_EQ(events.seen, expected);
    p.SetMailStateNotificationSlot(nullptr);
}

TEST(ConnectionBase, MailListIsReleasedOnConnectAndDisconnect) {
    Provider p(false);
    FakeMail a, b;
    p.AppendMail(&a);
    p.AppendMail(&b);
    EXPECT_EQ(a.refs, 2u);
    ASSERT_EQ(p.Connect(), S_OK);
    EXPECT_EQ(a.refs, 1u);
    EXPECT_TRUE(p.Mails().empty());
    p.AppendMail(&a);
    ASSERT_EQ(p.Disconnect(), S_OK);
    EXPECT_EQ(a.refs, 1u);
}

TEST(ConnectionBase, EnumeratorNextSkipCloneOverACopy) {
    // The mails outlive the connection, whose list releases them last.
    FakeMail m[5];
    Provider p(false);
    for (auto &x : m) p.AppendMail(&x);
    IKvEnumMail *e = nullptr;
    ASSERT_EQ(p.EnumMails(&e), S_OK);
    EXPECT_EQ(m[0].refs, 3u) << "list and enumerator each hold one";

    EXPECT_EQ(e->Skip(2), S_OK);
    IKvMail *got[3] = {};
    ULONG fetched = 0;
    EXPECT_EQ(e->Next(1, got, &fetched), S_OK);
    EXPECT_EQ(got[0], &m[2]);
    got[0]->Release();

    IKvEnumMail *clone = nullptr;
    ASSERT_EQ(e->Clone(&clone), S_OK);
    EXPECT_EQ(e->Next(3, got, &fetched), S_FALSE);
    EXPECT_EQ(fetched, 2u);
    EXPECT_EQ(got[0], &m[3]);
    EXPECT_EQ(got[1], &m[4]);
    got[0]->Release();
    got[1]->Release();

    // The clone continues where the original was when it was cloned.
    EXPECT_EQ(clone->Next(1, got, nullptr), S_OK);
    EXPECT_EQ(got[0], &m[3]);
    got[0]->Release();
    EXPECT_EQ(clone->Skip(5), S_FALSE);
    EXPECT_EQ(clone->Reset(), S_OK);
    EXPECT_EQ(clone->Next(1, got, nullptr), S_OK);
    EXPECT_EQ(got[0], &m[0]);
    got[0]->Release();

    EXPECT_EQ(e->Next(1, nullptr, nullptr), E_INVALIDARG);
    clone->Release();
    e->Release();
    EXPECT_EQ(m[0].refs, 2u);
}

TEST(ConnectionBase, TypedOptionReaders) {
    Provider p(true);
    auto set = [&](const char16_t *name, VARIANT v) { EXPECT_EQ(p.SetOption(name, &v), S_OK); };
    VARIANT text;
    VariantInit(&text);
    text.vt = VT_BSTR;
    text.bstrVal = SysAllocString(u"25");
    set(u"ServerPort", text);
    text.bstrVal[0] = u'x';
    set(u"BadPort", text);
    VariantClear(&text);
    VARIANT i4;
    VariantInit(&i4);
    i4.vt = VT_I4;
    i4.lVal = 2;
    set(u"Flag", i4);

    struct Case {
        const char *name;
        int32_t expected;
    } ints[] = {
        {"ServerPort", 25},   // text from a settings string converts
        {"serverport", 25},   // keys ignore case
        {"BadPort", 0},       // failed conversion reads 0, not the default
        {"Missing", 1080},    // absent: the default
    };
    for (const Case &c : ints) EXPECT_EQ(p.ReadIntOption(c.name, 1080), c.expected) << c.name;
    EXPECT_TRUE(p.ReadBoolOption("Flag"));
    EXPECT_FALSE(p.ReadBoolOption("BadPort"));
    EXPECT_FALSE(p.ReadBoolOption("Missing"));
    EXPECT_EQ(p.ReadTextOption("Missing", u"dflt"), u"dflt");
    EXPECT_TRUE(p.Options().Contains("TEST.ServerPort"));
    EXPECT_FALSE(p.Options().Contains("TEST.Missing")) << "typed readers do not insert";
    EXPECT_TRUE(p.ReadOption("Missing").IsEmpty());
    EXPECT_TRUE(p.Options().Contains("TEST.Missing")) << "the plain reader inserts an empty value";
}

} // namespace
} // namespace kv

#include "settings/settings_string.h"
#include "transport/smtp_connection.h"

namespace kv {
namespace {

TEST(ConnectionBase, SettingsStringCarriesOptionsOfSeveralProviders) {
    clsOptionList source;
    source.SetInt("SMTP.ServerPort", 587);
    source.SetText("POP3.ServerAddress", u"pop.example.org");
    source.SetText("SMTP.ServerPassword", u"s3cret");
    WString text = WriteSettingsString(source);
    ASSERT_FALSE(text.empty());

    auto *smtp = new clsSMTPMailConnection();
    smtp->AddRef();
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_BSTR;
    v.bstrVal = SysAllocStringLen(reinterpret_cast<const OLECHAR *>(text.data()), UINT(text.size()));
    EXPECT_EQ(smtp->SetOption(nullptr, &v), S_OK);
    EXPECT_EQ(smtp->ReadIntOption("ServerPort", 25), 587);
    EXPECT_EQ(smtp->ReadTextOption("ServerPassword"), u"s3cret");
    EXPECT_EQ(smtp->Options().ReadText("POP3.ServerAddress", u""), u"pop.example.org")
        << "keys keep their own provider prefix";

    // A damaged string changes nothing and still answers S_OK.
    v.bstrVal[5] = u'!';
    v.bstrVal[6] = u'!';
    EXPECT_EQ(smtp->SetOption(nullptr, &v), S_OK);
    EXPECT_EQ(smtp->ReadIntOption("ServerPort", 25), 587);
    VariantClear(&v);
    smtp->Release();
}

} // namespace
} // namespace kv

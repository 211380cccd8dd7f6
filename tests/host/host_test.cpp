// The component as a host sees it: entry points, class object, connections,
// error records, events and the log, through the public header only.
#include <cstdlib>

#include "host_fixture.h"

extern "C" int kv_c_host_connect_twice(IClassFactory *factory, LONG *code);

namespace {

using host::Events;
using host::Library;
using host::Sink;

// The log's banner names the file and its version ("FileVersion" of the version resource on Windows), the header's.
const std::string kBanner = std::string(":[") + KV_LIBRARY_FILE_NAME + " " ORKV14_VERSION_STRING ".0]";

bool EndsWith(const std::string &s, const std::string &tail) {
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

class HostTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_NE(lib.handle, nullptr) << lib.error;
        ASSERT_EQ(lib.getClassObject(CLSID_KvComponent, IID_IClassFactory, reinterpret_cast<void **>(&factory)), S_OK);
    }
    void TearDown() override {
        if (log) {
            log->SetLogSlot(nullptr);
            log->SetOutputMode(0);
            log->SetLogLevel(1);
        }
        if (factory) factory->Release();
        EXPECT_EQ(lib.canUnloadNow(), S_OK) << "a reference was left behind";
    }
    IKvMailConnection2 *Create(const IID &selector) {
        IKvMailConnection2 *c = nullptr;
        EXPECT_EQ(factory->CreateInstance(nullptr, selector, reinterpret_cast<void **>(&c)), S_OK);
        return c;
    }
    IKvLog *Log() {
        if (!log) {
            EXPECT_EQ(factory->CreateInstance(nullptr, IID_IKvLog, reinterpret_cast<void **>(&log)), S_OK);
        }
        return log;
    }
    static std::string ErrorText(IKvMailConnection2 *c, LONG *code = nullptr) {
        orkv14::Error e = orkv14::LastError(c);
        if (code) *code = e.code;
        return e.text;
    }

    Library lib;
    IClassFactory *factory = nullptr;
    IKvLog *log = nullptr;
};

TEST(HostEntry, ClassObjectOnlyForTheComponentClass) {
    Library lib;
    ASSERT_NE(lib.handle, nullptr);
    void *out = reinterpret_cast<void *>(1);
    EXPECT_EQ(lib.getClassObject(IID_IKvMail, IID_IClassFactory, &out), E_FAIL);
    EXPECT_EQ(out, nullptr);

    out = reinterpret_cast<void *>(1);
    EXPECT_EQ(lib.getClassObject(CLSID_KvComponent, IID_IKvLog, &out), E_NOINTERFACE);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(lib.canUnloadNow(), S_OK) << "the refused class object must not stay alive";

    IUnknown *unknown = nullptr;
    ASSERT_EQ(lib.getClassObject(CLSID_KvComponent, IID_IUnknown, reinterpret_cast<void **>(&unknown)), S_OK);
    EXPECT_EQ(lib.canUnloadNow(), S_FALSE);
    unknown->Release();
    EXPECT_EQ(lib.canUnloadNow(), S_OK);
}

TEST_F(HostTest, CreateInstanceRefusals) {
    struct Case {
        const char *what;
        bool outer;
        const IID *iid;
        HRESULT expected;
    } cases[] = {
        {"IUnknown selects nothing", false, &IID_IUnknown, E_NOINTERFACE},
        {"aggregation refused", true, &IID_IKvConfiguration, CLASS_E_NOAGGREGATION},
        {"outer with IUnknown is ignored", true, &IID_IUnknown, E_NOINTERFACE},
        {"no messaging library: Simple MAPI", false, &IID_IKvSMAPISendConnection, E_ACCESSDENIED},
        {"no messaging library: Extended MAPI", false, &IID_IKvXMAPIRecvConnection, E_ACCESSDENIED},
    };
    for (const Case &c : cases) {
        void *out = reinterpret_cast<void *>(1);
        EXPECT_EQ(factory->CreateInstance(c.outer ? reinterpret_cast<IUnknown *>(factory) : nullptr, *c.iid, &out),
                  c.expected)
            << c.what;
        EXPECT_EQ(out, nullptr) << c.what;
    }
}

TEST_F(HostTest, EverySelectorGivesAConnectionAnsweringItsInterfaces) {
    // A selector and its other role (null: one role only).
    const IID *const cases[][2] = {{&IID_IKvSMTPSendConnection, nullptr}, {&IID_IKvPOP3RecvConnection, nullptr},
                                   {&IID_IKvIMAPRecvConnection, nullptr},
                                   {&IID_IKvCDOSYSSendConnection, &IID_IKvCDOSYSRecvConnection},
                                   {&IID_IKvCDOSYSRecvConnection, &IID_IKvCDOSYSSendConnection}};
    for (const auto &[selector, otherRole] : cases) {
        IKvMailConnection2 *conn = Create(*selector);
        ASSERT_NE(conn, nullptr);
        for (const IID *iid : {&IID_IUnknown, &IID_IKvMailConnection, &IID_IKvMailConnection2, selector}) {
            void *p = nullptr;
            EXPECT_EQ(conn->QueryInterface(*iid, &p), S_OK);
            EXPECT_EQ(p, static_cast<void *>(conn));
            if (p) conn->Release();
        }
        void *p = nullptr;
        EXPECT_EQ(conn->QueryInterface(otherRole ? *otherRole : IID_IKvSMAPISendConnection, &p),
                  otherRole ? S_OK : E_NOINTERFACE);
        if (p) conn->Release();
        EXPECT_EQ(conn->QueryInterface(IID_IKvMail, &p), E_NOINTERFACE);
        conn->Release();
    }
}

// One log for all; every configuration its own. Each reference, and the lock, keeps the library loaded.
TEST_F(HostTest, LogIsOneObjectAndUnloadingFollowsReferencesAndLocks) {
    EXPECT_EQ(lib.canUnloadNow(), S_FALSE) << "the class object itself is referenced";
    IKvLog *b = nullptr;
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_IKvLog, reinterpret_cast<void **>(&b)), S_OK);
    EXPECT_EQ(Log(), b);
    EXPECT_EQ(b->Release(), 1u);
    IKvMailConnection2 *conn = Create(IID_IKvSMTPSendConnection);
    IKvConfiguration2 *config = nullptr, *other = nullptr;
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_IKvConfiguration2, reinterpret_cast<void **>(&config)), S_OK);
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_IKvConfiguration, reinterpret_cast<void **>(&other)), S_OK);
    EXPECT_NE(static_cast<void *>(config), static_cast<void *>(other));
    other->Release();
    factory->LockServer(TRUE);
    factory->Release();
    factory = nullptr;
    EXPECT_EQ(lib.canUnloadNow(), S_FALSE);
    conn->Release();
    EXPECT_EQ(lib.canUnloadNow(), S_FALSE) << "configuration and lock still count";
    config->Release();
    EXPECT_EQ(lib.canUnloadNow(), S_FALSE) << "the lock still counts";
    ASSERT_EQ(lib.getClassObject(CLSID_KvComponent, IID_IClassFactory, reinterpret_cast<void **>(&factory)), S_OK);
    factory->LockServer(FALSE);
}

TEST_F(HostTest, GuardsSetCodeAndText) {
    IKvMailConnection2 *send = Create(IID_IKvCDOSYSSendConnection), *recv = Create(IID_IKvPOP3RecvConnection);
    LONG code = 0;
    using Call = HRESULT (*)(IKvMailConnection2 *);
    const struct {
        IKvMailConnection2 *c;
        Call call;
        const char *text; // after "clsConnectionBase::"
        LONG code;
    } cases[] = {
        {send, [](IKvMailConnection2 *c) { return c->Send(nullptr); }, "Send(): not connected", -13},
        {send, [](IKvMailConnection2 *c) { return c->QueryMailbox(0); }, "QueryMailbox(): not in RECV connection", -5},
        {send, [](IKvMailConnection2 *c) { return c->DeleteMail(OLESTR("1 x")); },
         "DeleteMail(): not in RECV connection", -5},
        {send, [](IKvMailConnection2 *c) { return c->MarkMailAsRead(OLESTR("1 x")); },
         "MarkMailAsRead(): not in RECV connection", -5},
        {recv, [](IKvMailConnection2 *c) { IKvMail *m = nullptr; return c->CreateMail(0, OLESTR("x"), &m); },
         "CreateMail(): not in SEND connection", -5},
    };
    for (const auto &g : cases) {
        EXPECT_EQ(g.call(g.c), E_UNEXPECTED) << g.text;
        EXPECT_EQ(ErrorText(g.c, &code), std::string("clsConnectionBase::") + g.text + "\r\n");
        EXPECT_EQ(code, g.code) << g.text;
    }

    // A fresh connection: disconnect answers S_FALSE, -13 and event (7, 0).
    Events events;
    EXPECT_EQ(recv->SetMailStateNotificationSlot(&events), S_OK);
    EXPECT_EQ(recv->Disconnect(), S_FALSE);
    // This guard does not clear the record first: the older message stays below it.
    const char *both = "clsConnectionBase::CreateMail(): not in SEND connection\r\n"
                       "clsConnectionBase::Disconnect(): not connected\r\n";
    EXPECT_EQ(ErrorText(recv, &code), both);
    EXPECT_EQ(code, -13);
    ASSERT_EQ(events.seen.size(), 1u);
    EXPECT_EQ(events.seen[0], std::make_pair(LONG(7), LONG(0)));

    // Both pointers null: nothing happens.
    EXPECT_EQ(recv->GetErrorInformation(nullptr, nullptr), S_OK);
    EXPECT_EQ(ErrorText(recv, &code), both);

    recv->SetMailStateNotificationSlot(nullptr);
    EXPECT_EQ(events.refs, 1u) << "the slot's reference is given back";

    // Connected: no second connect and no options; a good disconnect clears the record.
    EXPECT_EQ(send->Connect(), S_OK);
    EXPECT_EQ(send->Connect(), E_UNEXPECTED);
    EXPECT_EQ(ErrorText(send, &code), "clsConnectionBase::Connect(): still connected\r\n");
    EXPECT_EQ(code, -12);
    EXPECT_EQ(send->SetOption(OLESTR("ServerPort"), orkv14::Variant(LONG(587)).get()), E_UNEXPECTED);
    EXPECT_EQ(send->Disconnect(), S_OK);
    EXPECT_EQ(ErrorText(send, &code), "");
    send->Release();
    recv->Release();
    // The same through the C vtable layout.
    EXPECT_EQ(kv_c_host_connect_twice(factory, &code), 1);
    EXPECT_EQ(code, -12);
}

// A message read and rendered inside the component with the platform's own
// memory streams: the raw text comes back with CR LF line ends, a large
// attachment with its bytes, whether the text came with CR LF or LF.
TEST_F(HostTest, RawTextAndAttachmentOfALargeMessageComeBack) {
    std::string bytes, base64;
    for (int i = 0; i < 300000; ++i) bytes += char(i * 7 + i / 256);
    static const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    for (size_t i = 0; i < bytes.size(); i += 3) {
        unsigned v = unsigned(uint8_t(bytes[i])) << 16 | unsigned(uint8_t(bytes[i + 1])) << 8 | uint8_t(bytes[i + 2]);
        for (int k = 18; k >= 0; k -= 6) base64 += kAlphabet[(v >> k) & 63];
        if ((i / 3) % 19 == 18) base64 += "\r\n";
    }
    std::string crlf = "Subject: big\r\nMIME-Version: 1.0\r\nContent-Type: multipart/mixed; boundary=\"b\"\r\n\r\n"
                       "--b\r\n\r\nhello\r\n--b\r\nContent-Type: application/octet-stream; name=\"a.bin\"\r\n"
                       "Content-Transfer-Encoding: base64\r\n\r\n" +
                       base64 + "\r\n--b--\r\n";
    std::string lf;
    for (char ch : crlf)
        if (ch != '\r') lf += ch;
    IKvMailConnection2 *c = Create(IID_IKvSMTPSendConnection);
    for (const std::string *text : {&crlf, &lf}) {
        orkv14::Ptr<IKvMail> mail;
        ASSERT_EQ(c->CreateMail(0, OLESTR("x"), mail.put()), S_OK);
        EXPECT_EQ(mail->SetRawText(orkv14::MemoryStream(*text).get()), S_OK);
        orkv14::Ptr<IStream> raw = orkv14::MemoryStream({}), contents = orkv14::MemoryStream({});
        EXPECT_EQ(mail->GetRawText(raw.get()), S_OK);
        EXPECT_TRUE(orkv14::ReadAll(raw.get()) == crlf);
        orkv14::Ptr<IKvEnumMailAttachment> attachments;
        ASSERT_EQ(mail->EnumAttachments(attachments.put()), S_OK);
        orkv14::Ptr<IKvMailAttachment> a;
        ULONG got = 0;
        ASSERT_EQ(attachments->Next(1, a.put(), &got), S_OK);
        EXPECT_EQ(a->GetContents(contents.get()), S_OK);
        EXPECT_TRUE(orkv14::ReadAll(contents.get()) == bytes);
    }
    c->Release();
}

// The log through the platform's channel, then through the host's sink.
TEST_F(HostTest, TraceLinesThroughTheChannelAndTheSink) {
    host::ChannelViewer viewer;
    ASSERT_TRUE(viewer.Ready());
    IKvLog *l = Log();
    l->SetOutputMode(3);
    l->SetLogLevel(2); // writes the banner
    std::string record;
    ASSERT_TRUE(viewer.Read(record)) << "no record reached the viewer";
    // The record's layout is the log test's; here, that it reaches the platform's channel.
    EXPECT_EQ(record.substr(0, 10), "orkv14  : ") << record;
    EXPECT_TRUE(EndsWith(record, kBanner)) << record;
    IKvMailConnection2 *c = Create(IID_IKvCDOSYSSendConnection);
    c->Connect();
    bool seen = false;
    for (int i = 0; i < 8 && !seen && viewer.Read(record); ++i)
        seen = record.find(":>clsConnectionBase::Connect()") != std::string::npos;
    EXPECT_TRUE(seen) << "the method trace did not reach the viewer";
    c->Disconnect();

    Sink sink;
    l->SetLogSlot(&sink);
    EXPECT_EQ(sink.refs, 2u);
    l->SetOutputMode(2); // writes the banner
    ASSERT_FALSE(sink.lines.empty());
    EXPECT_TRUE(EndsWith(sink.lines.back(), kBanner)) << sink.lines.back();
    sink.lines.clear();
    c->Connect();
    ASSERT_EQ(sink.lines.size(), 2u);
    EXPECT_NE(sink.lines[0].find(":>clsConnectionBase::Connect()"), std::string::npos) << sink.lines[0];
    EXPECT_NE(sink.lines[1].find(":<S_OK"), std::string::npos) << sink.lines[1];
    int first = std::atoi(sink.lines[0].substr(9, 8).c_str());
    int second = std::atoi(sink.lines[1].substr(9, 8).c_str());
    EXPECT_EQ(second, first + 1);

    sink.lines.clear();
    c->Connect(); // fails: still connected
    ASSERT_EQ(sink.lines.size(), 2u);
    EXPECT_NE(sink.lines[1].find(":<" + host::ResultText(E_UNEXPECTED)), std::string::npos) << sink.lines[1];
    c->Disconnect();
    c->Release();
    l->SetLogSlot(nullptr);
    EXPECT_EQ(sink.refs, 1u);
}

TEST_F(HostTest, RegisterAndUnregister) {
    EXPECT_EQ(lib.Call("DllUnregisterServer"), S_OK) << "unregistering when never registered";
    EXPECT_EQ(lib.Call("DllRegisterServer"), S_OK);
    EXPECT_EQ(lib.Call("DllUnregisterServer"), S_OK);
}

// Written once on Linux; Windows must read it, and write it back, to the byte.
const OLECHAR kSettings[] = OLESTR(
    "01:TSn7Ht9M9HdXO/pHNSzOxL5XmJBRTyZPLqWr24nHbAq7nBnwwMSOemIste1K2hgPDFzAA7vucW1Xymq/HQeJNoy5nMtZxgHobPXw5/"
    "1GxbffeOM+5SuItjhFG4PSzkqNxoLK1ZF18cTPPHc3RyX/sJ2FSbHEAf+VdSMmn3v6SZbspfoKqAyTvz0U4mCvcQqQhhEEL0prEB//gg==");

TEST_F(HostTest, SettingsStringsAreTheSameOnEveryPlatform) {
    IKvConfiguration2 *config = nullptr;
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_IKvConfiguration2, reinterpret_cast<void **>(&config)), S_OK);
    ASSERT_EQ(config->SetUserParameters(kSettings), S_OK);
    BSTR back = nullptr;
    ASSERT_EQ(config->GetUserParameters(&back), S_OK);
    EXPECT_EQ(host::Utf8(back), host::Utf8(kSettings));
    SysFreeString(back);
    config->Release();

    // The entries reach a connection: its server address is the one in the string, the broadcast
    // address, refused before any lookup on every platform (Windows resolves an empty name).
    IKvMailConnection2 *c = Create(IID_IKvSMTPSendConnection);
    EXPECT_EQ(c->SetOption(nullptr, orkv14::Variant(host::Utf8(kSettings)).get()), S_OK);
    Events events;
    c->SetMailStateNotificationSlot(&events);
    EXPECT_EQ(c->Connect(), E_ABORT);
    LONG code = 0;
    std::string text = ErrorText(c, &code);
    EXPECT_EQ(text.rfind("gethostby[addr|name](255.255.255.255) failed: ", 0), 0u) << text;
    const std::string context = "\r\n[Connect()]\r\n[clsSMTPMailConnection::OnConnect]\r\n";
    EXPECT_TRUE(EndsWith(text, context)) << text;
    EXPECT_EQ(text.find("\r\n"), text.size() - context.size()) << "one line before the context: " << text;
    EXPECT_EQ(code, -2);
    EXPECT_EQ(events.seen, (std::vector<std::pair<LONG, LONG>>{{2, 0}, {3, 0}, {3, 0}}));
    c->SetMailStateNotificationSlot(nullptr);
    c->Release();
}

// orkv14.hpp, the C++ helpers hosts build on, against the library's COM
// services (on Windows, the system's).
namespace helpers {
using namespace orkv14;

TEST(CppHelpers, VariantsKeepTheirType) {
    const char *text = "text";
    std::string owned = "owned";
    const struct {
        VARTYPE vt;
        Variant v;
    } cases[] = {{VT_BSTR, Variant(text)}, {VT_BSTR, Variant(owned)}, {VT_I4, Variant(LONG(7))},
                 {VT_BOOL, Variant(true)}};
    for (const auto &c : cases) EXPECT_EQ((*c.v).vt, c.vt);
    EXPECT_EQ(Bstr(text).Utf8(), "text");
}

TEST(CppHelpers, Utf8AndUtf16) {
    const struct {
        std::string utf8;
        std::u16string utf16;
    } both[] = {{"a\xC3\xA4\xE2\x82\xAC\xF0\x9F\x98\x80", u"a\u00E4\u20AC\U0001F600"}, {"", u""}};
    for (const auto &c : both) {
        EXPECT_EQ(Wide(c.utf8), c.utf16) << c.utf8;
        EXPECT_EQ(Utf8(reinterpret_cast<const OLECHAR *>(c.utf16.data()), c.utf16.size()), c.utf8);
    }
    // Malformed input: truncated, overlong, a surrogate, past U+10FFFF.
    EXPECT_EQ(Wide("x\xC3"), u"x\uFFFD");
    EXPECT_EQ(Wide("\xC0\xAF" "a"), u"\uFFFD" "a");
    EXPECT_EQ(Wide("\xED\xA0\x80"), u"\uFFFD");
    EXPECT_EQ(Wide("\xF4\x90\x80\x80"), u"\uFFFD");
    const char16_t lone[] = {0xD800, u'x', 0xDC00};
    EXPECT_EQ(Utf8(reinterpret_cast<const OLECHAR *>(lone), 3), "\xEF\xBF\xBDx\xEF\xBF\xBD");
}

TEST(CppHelpers, StreamsAndPointers) {
    const std::string bytes("a\0b\r\n", 5);
    Ptr<IStream> stream = MemoryStream(bytes);
    ASSERT_TRUE(stream);
    EXPECT_EQ(ReadAll(stream.get()), bytes);
    EXPECT_EQ(ReadAll(MemoryStream({}).get()), "");
    Ptr<IUnknown> unknown = stream.As<IUnknown>();
    EXPECT_TRUE(unknown);
    EXPECT_FALSE(stream.As<IKvMail>());
    IStream *raw = stream.release();
    EXPECT_EQ(raw->Release(), 1u) << "As<> holds its own reference";
    unknown.reset();
}

} // namespace helpers

} // namespace

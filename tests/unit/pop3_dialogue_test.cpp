// The POP3 connection's dialogue against a scripted server: logon forms,
// listing with TOP and the RETR fallback, load on demand and deletion.
#include <gtest/gtest.h>

#include "mime/md5.h"
#include "script_server.h"
#include "transport/pop3_connection.h"

namespace kv {
namespace {

using testsupport::ScriptServer;

// A received mail that records what the connection hands it.
class RecordingMail final : public IKvMail {
  public:
    explicit RecordingMail(String id) : id_(std::move(id)) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void **ppv) override {
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
    ULONG STDMETHODCALLTYPE Release() override {
        ULONG n = --refs;
        if (n == 0) delete this;
        return n;
    }
    HRESULT STDMETHODCALLTYPE GetCookie(BSTR *cookie) override {
        WString w = Widen(id_);
        *cookie = SysAllocString(reinterpret_cast<const OLECHAR *>(w.c_str()));
        return S_OK;
    }
#define KV_NOT(name, ...) \
    HRESULT STDMETHODCALLTYPE name(__VA_ARGS__) override { return E_NOTIMPL; }
    KV_NOT(SetSender, BSTR) KV_NOT(GetSender, BSTR *) KV_NOT(SetSubject, BSTR) KV_NOT(GetSubject, BSTR *)
    KV_NOT(GetCharset, BSTR *, ULONG *, ULONG *) KV_NOT(SetHeaderEntry, BSTR, BSTR) KV_NOT(GetHeaderEntry, BSTR, BSTR *)
    KV_NOT(IsValid) KV_NOT(AddRecipients, BSTR) KV_NOT(EnumRecipients, IEnumString **) KV_NOT(AddCCRecipients, BSTR)
    KV_NOT(EnumCCRecipients, IEnumString **) KV_NOT(CreateAndAddAttachment, IKvMailAttachment **)
    KV_NOT(EnumAttachments, IKvEnumMailAttachment **) KV_NOT(CreateAndAddBody, IKvMailBody **, BSTR, ULONG)
    KV_NOT(EnumBodies, IKvEnumMailBody **) KV_NOT(SetRawText, IStream *) KV_NOT(GetRawText, IStream *)
    KV_NOT(Edit, HWND, LONG, LONG, DWORD)
#undef KV_NOT
    ULONG refs = 0;
    String id_;
    std::vector<String> lines;
    bool complete = false;
    bool deleted = false;
};

class TestPop3 : public clsPOP3MailConnection {
  public:
    std::vector<RecordingMail *> made;

  protected:
    IKvMail *CreateReceivedMail(const String &id) override {
        auto *m = new RecordingMail(id);
        m->AddRef();
        made.push_back(m);
        return m;
    }
    void ReadMailLines(IKvMail *mail, std::vector<String> &lines, bool complete) override {
        auto *m = static_cast<RecordingMail *>(mail);
        m->lines = lines;
        m->complete = complete;
    }
    void MarkDeleted(IKvMail *mail) override { static_cast<RecordingMail *>(mail)->deleted = true; }
};

struct Pop3 {
    TestPop3 *c = new TestPop3();
    explicit Pop3(uint16_t port) {
        c->AddRef();
        Set(u"ServerAddress", u"127.0.0.1");
        Set(u"ServerUser", u"mrose");
        Set(u"ServerPassword", u"tanstaaf");
        VARIANT v;
        VariantInit(&v);
        v.vt = VT_I4;
        v.lVal = port;
        c->SetOption(u"ServerPort", &v);
        v.lVal = 3000;
        c->SetOption(u"SocketTimeout", &v);
    }
    ~Pop3() { c->Release(); }
    void Set(const char16_t *name, const char16_t *value) {
        VARIANT v;
        VariantInit(&v);
        v.vt = VT_BSTR;
        v.bstrVal = SysAllocString(value);
        c->SetOption(name, &v);
        VariantClear(&v);
    }
    std::string Error(LONG *code = nullptr) {
        BSTR b = nullptr;
        c->GetErrorInformation(code, &b);
        String r = Narrow(WideView(reinterpret_cast<const char16_t *>(b)));
        SysFreeString(b);
        return r;
    }
};

TEST(Pop3Dialogue, LogonForms) {
    // RFC 1939's own APOP example.
    const std::string apop = "APOP mrose " + Md5Hex(std::string("<1896.697170952@dbc.mtview.ca.us>tanstaaf").data(), 41) + "\r\n";
    ASSERT_EQ(apop, "APOP mrose c4c9334bac560ecc979e58001b3e22fb\r\n");
    struct Case {
        const char *name;
        const char *greeting;
        std::vector<std::string> script;
        HRESULT result;
        const char *error;
    } cases[] = {
        {"apop", "+OK POP3 server ready <1896.697170952@dbc.mtview.ca.us>\r\n", {apop, "+OK maildrop\r\n"}, S_OK, ""},
        {"user pass", "+OK ready\r\n", {"USER mrose\r\n", "+OK\r\n", "PASS tanstaaf\r\n", "+OK\r\n"}, S_OK, ""},
        {"wrong password", "+OK ready\r\n",
         {"USER mrose\r\n", "+OK\r\n", "PASS tanstaaf\r\n", "-ERR invalid password\r\n"}, E_ABORT,
         "unexpected reply '-ERR invalid password'\r\n[clsTextSocket::SocketQuery]\r\n"
         "[clsPOP3MailConnection::OnConnect]\r\n"},
        {"not a pop3 server", "220 smtp here\r\n", {}, E_ABORT,
         "Server response '220 smtp here' unexpected from a POP3 server\r\n[clsTextSocket::SocketQuery]\r\n"
         "[clsPOP3MailConnection::OnConnect]\r\n"},
    };
    for (const Case &c : cases) {
        ScriptServer server;
        server.Send(c.greeting);
        for (size_t i = 0; i < c.script.size(); ++i) {
            if (i % 2 == 0) server.Expect(c.script[i]);
            else server.Send(c.script[i]);
        }
        if (c.result == S_OK) server.Expect("QUIT\r\n").Send("+OK bye\r\n");
        server.Pause(50);
        server.Start();
        Pop3 pop(server.Port());
        EXPECT_EQ(pop.c->Connect(), c.result) << c.name;
        EXPECT_EQ(pop.Error(), c.error) << c.name;
        if (c.result == S_OK) {
            EXPECT_EQ(pop.c->State(), kConnected);
            EXPECT_EQ(pop.c->Disconnect(), S_OK);
        }
        EXPECT_EQ(pop.c->State(), kDisconnected) << c.name;
        EXPECT_TRUE(server.Finish()) << c.name << ": " << server.Failure();
    }
}

TEST(Pop3Dialogue, ListingWithTopAndRetrFallbackThenLoadAndDelete) {
    ScriptServer server;
    server.Send("+OK ready\r\n").Expect("USER mrose\r\n").Send("+OK\r\n").Expect("PASS tanstaaf\r\n").Send("+OK\r\n");
    server.Expect("STAT\r\n").Send("+OK 2 320\r\n");
    server.Expect("UIDL 1\r\n").Send("+OK 1 whqtswO00WBw418f9t5JxYwZ\r\n");
    server.Expect("TOP 1 1\r\n").Send("+OK\r\nSubject: one\r\n\r\n..first line\r\n.\r\n");
    server.Expect("UIDL 2\r\n").Send("+OK 2 QhdPYR:00WBw1Ph7x7\r\n");
    server.Expect("TOP 2 1\r\n").Send("-ERR TOP not supported\r\n");
    server.Expect("RETR 2\r\n").Send("+OK\r\nSubject: two\r\n\r\nall of it\r\n.\r\n");
    server.Expect("RETR 1\r\n").Send("+OK\r\nSubject: one\r\n\r\n..first line\r\nsecond\r\n.\r\n");
    server.Expect("DELE 2\r\n").Send("+OK deleted\r\n");
    server.Expect("QUIT\r\n").Send("+OK bye\r\n").Pause(50);
    server.Start();

    Pop3 pop(server.Port());
    ASSERT_EQ(pop.c->Connect(), S_OK) << pop.Error();
    ASSERT_EQ(pop.c->QueryMailbox(0), S_OK) << pop.Error();
    ASSERT_EQ(pop.c->made.size(), 2u);
    RecordingMail *one = pop.c->made[0], *two = pop.c->made[1];
    EXPECT_EQ(one->id_, "1 ");
    EXPECT_EQ(two->id_, "2 ");
    EXPECT_EQ(one->lines, (std::vector<String>{"Subject: one", "", ".first line"}));
    EXPECT_FALSE(one->complete);
    EXPECT_EQ(two->lines, (std::vector<String>{"Subject: two", "", "all of it"}));
    EXPECT_TRUE(two->complete) << "a refused TOP falls back to RETR";

    EXPECT_EQ(pop.c->LoadRestOfMail(one), S_OK);
    EXPECT_EQ(one->lines, (std::vector<String>{"Subject: one", "", ".first line", "second"}));
    EXPECT_TRUE(one->complete);

    EXPECT_EQ(pop.c->DeleteMail(u"7 "), S_OK) << "no such mail: nothing sent";
    EXPECT_EQ(pop.c->DeleteMail(u"2 "), S_OK);
    EXPECT_TRUE(two->deleted);
    EXPECT_FALSE(one->deleted);

    one->AddRef(); // outlive the mail list
    EXPECT_EQ(pop.c->Disconnect(), S_OK);
    EXPECT_EQ(pop.c->LoadRestOfMail(one), E_UNEXPECTED);
    LONG code = 0;
    EXPECT_EQ(pop.Error(&code), "clsPOP3MailConnection::LoadRestOfMail(): not connected\r\n");
    EXPECT_EQ(code, -13);
    one->Release();
    EXPECT_TRUE(server.Finish()) << server.Failure();
}

TEST(Pop3Dialogue, QueryWithoutConnectionFindsAnEmptyMailbox) {
    Pop3 pop(testsupport::ClosedPort());
    EXPECT_EQ(pop.c->QueryMailbox(1), S_OK);
    EXPECT_TRUE(pop.c->made.empty());
    EXPECT_EQ(pop.c->DeleteMail(u"1 "), E_UNEXPECTED);
    EXPECT_EQ(pop.Error(), "clsPOP3MailConnection::OnDeleteMail(): not connected\r\n");
}

TEST(Pop3Dialogue, MessageNumbers) {
    EXPECT_EQ(MessageNumberOf("12 abc"), 12u);
    EXPECT_EQ(MessageNumberOf("x"), 0u);
    EXPECT_EQ(MessageNumberOf(""), 0u);
    EXPECT_EQ(MessageNumberOf("99999999999999999999 "), 999999999u) << "digits stop before an overflow";
}

} // namespace
} // namespace kv

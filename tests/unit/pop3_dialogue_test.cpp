// The POP3 connection's dialogue against a scripted server: logon forms,
// listing with TOP and the RETR fallback, load on demand and deletion.
#include <gtest/gtest.h>

#include "dialled.h"
#include "log_lines.h"
#include "mime/base64.h"
#include "providers/internet/security_options.h"
#include "providers/pop3/pop3_connection.h"
#include "runtime/except.h"
#include "script_server.h"

namespace kv {
namespace {

using testsupport::LinesMail;
using testsupport::ScriptServer;

class TestPop3 : public clsPOP3MailConnection {
  public:
    std::vector<LinesMail *> made;

  protected:
    IKvMail *CreateReceivedMail(const String &id) override {
        auto *m = new LinesMail(id);
        m->AddRef();
        made.push_back(m);
        return m;
    }
    void ReadMailText(IKvMail *mail, clsReceivedText &text, bool complete) override {
        auto *m = static_cast<LinesMail *>(mail);
        m->Take(text.View());
        for (const String &line : m->lines)
            if (line == "X-Unreadable: yes") throw clsExcept(-5, "unexpected empty boundary");
        m->complete = complete;
    }
    void MarkDeleted(IKvMail *mail) override { static_cast<LinesMail *>(mail)->deleted = true; }
};

using Pop3 = testsupport::Dialled<TestPop3>;
using Options = std::vector<std::pair<const char16_t *, std::string>>;

std::string B64(const std::string &s) { return EncodeBase64(s.data(), s.size()); }

// Logon forms, STLS and OAuth: the password never shows in the trace.
TEST(Pop3Dialogue, LogonForms) {
    const std::string ready = "+OK ready\r\n", onConnect = "[clsPOP3MailConnection::OnConnect]\r\n";
    const std::vector<std::string> userPass = {"USER mrose\r\n", "+OK\r\n", "PASS tanstaaf\r\n", "+OK in\r\n"};
    auto then = [&](std::vector<std::string> a) { return a.insert(a.end(), userPass.begin(), userPass.end()), a; };
    const Options tls = {{u"TLSMode", "starttls"}}, autoTls = {{u"TLSMode", "auto"}},
                  token = {{u"OAuth2Token", "tok-5ecret"}};
    struct Case {
        const char *name;
        Options options;
        std::vector<std::string> script; // send, expect, send...
        std::string error;
        LONG code = 0;
        bool closed = false; // the connection is dropped without a goodbye
    } cases[] = {
        // clang-format off
        // RFC 1939's own APOP example.
        {"apop", {}, {"+OK POP3 server ready <1896.697170952@dbc.mtview.ca.us>\r\n",
          "APOP mrose c4c9334bac560ecc979e58001b3e22fb\r\n", "+OK maildrop\r\n"}, ""},
        // The digest covers a timestamp holding ":" whole, or no server could accept it.
        {"apop, colon", {}, {"+OK <1896.6971:70952@dbc>\r\n",
          "APOP mrose e54a3a11cec3afd74b2f55edc48f90b3\r\n", "+OK\r\n"}, ""},
        {"wrong password", {}, {ready, "USER mrose\r\n", "+OK\r\n", "PASS tanstaaf\r\n", "-ERR invalid password\r\n"},
         "unexpected reply '-ERR invalid password'\r\n" + onConnect, -8},
        {"not a pop3 server", {}, {"220 smtp here\r\n"},
         "Server response '220 smtp here' unexpected from a POP3 server\r\n[clsTextSocket::SocketQuery]\r\n" +
         onConnect, -6, true},
        {"stls refused: no USER", tls, {ready, "STLS\r\n", "-ERR not here\r\n"},
         "TLS required, but the server refused STLS: -ERR not here\r\n" + onConnect, -5},
        {"auto, CAPA without STLS", autoTls, then({ready, "CAPA\r\n", "+OK\r\nUSER\r\nUIDL\r\n.\r\n"}), ""},
        {"auto, no CAPA", autoTls, then({ready, "CAPA\r\n", "-ERR what\r\n"}), ""},
        {"auto, STLS refused", autoTls,
         then({ready, "CAPA\r\n", "+OK\r\nSTLS\r\n.\r\n", "STLS\r\n", "-ERR no\r\n"}), ""},
        {"bytes after +OK to STLS", tls, {ready, "STLS\r\n", "+OK begin\r\n+OK injected\r\n"},
         "TLS not started: the server sent more than its reply before the handshake\r\n" + onConnect, -2, true},
        {"xoauth2 error challenge", token,
         {ready, "CAPA\r\n", "+OK\r\nSASL XOAUTH2\r\n.\r\n", "AUTH XOAUTH2\r\n", "+\r\n",
          B64("user=mrose\x01" "auth=Bearer tok-5ecret\x01\x01") + "\r\n", "+ " + B64("{\"status\":\"401\"}") + "\r\n",
          "\r\n", "-ERR denied\r\n"},
         "authentication failed!\r\n" + onConnect, -8},
        {"token, no SASL: password", token, then({ready, "CAPA\r\n", "+OK\r\nUSER\r\n.\r\n"}), ""},
        // clang-format on
    };
    for (const Case &c : cases) {
        ScriptServer server;
        server.Send(c.script[0]);
        Play(server, std::vector<std::string>(c.script.begin() + 1, c.script.end()));
        if (!c.closed) server.Expect("QUIT\r\n").Send("+OK bye\r\n");
        server.Pause(50);
        server.Start();
        Pop3 pop(server.Port());
        for (const auto &o : c.options) pop.Set(o.first, o.second);
        testsupport::LogLines log(kLogProtocol);
        EXPECT_EQ(pop.c->Connect(), c.error.empty() ? S_OK : E_ABORT) << c.name;
        EXPECT_TRUE(log.Starting({"->'PASS", "->'APOP"}).empty()) << c.name << ": the password shows";
        LONG code = 0;
        EXPECT_EQ(pop.Error(&code), c.error) << c.name;
        EXPECT_EQ(code, c.code) << c.name;
        EXPECT_EQ(pop.c->State(), c.error.empty() ? kConnected : kDisconnected) << c.name;
        EXPECT_EQ(pop.c->Disconnect(), c.error.empty() ? S_OK : S_FALSE) << c.name;
        EXPECT_TRUE(server.Finish()) << c.name << ": " << server.Failure();
    }
}

TEST(Pop3Dialogue, TlsOptionsReadBeforeConnecting) {
    Pop3 pop(testsupport::ClosedPort());
    pop.Set(u"TLSMode", "ssl");
    LONG code = 0;
    EXPECT_EQ(pop.c->Connect(), E_ABORT);
    EXPECT_EQ(pop.Error(&code), "option TLSMode: unknown value 'ssl' (none, starttls, implicit or auto)\r\n"
                                "[clsPOP3MailConnection::OnConnect]\r\n");
    EXPECT_EQ(code, -5);
    // Verification stays on unless clearly off.
    struct Case {
        const char *value; // null: unset
        bool verify;
    } cases[] = {{nullptr, true}, {"0", false}, {"false", false}, {"1", true}, {"yes please", true}, {"", true}};
    for (const Case &c : cases) {
        Pop3 other(0);
        if (c.value) other.Set(u"TLSVerify", c.value);
        EXPECT_EQ(ReadTlsOptions(*other.c, "h").verify, c.verify) << (c.value ? c.value : "unset");
    }
}

// The logon, and the capabilities a listing asks for first.
void LogOn(ScriptServer &server, const char *capa = "-ERR no CAPA\r\n") {
    server.Send("+OK ready\r\n").Expect("USER mrose\r\n").Send("+OK\r\n").Expect("PASS tanstaaf\r\n").Send("+OK\r\n");
    server.Expect("CAPA\r\n").Send(capa);
}

TEST(Pop3Dialogue, ListingWithTopAndRetrFallbackThenLoadAndDelete) {
    ScriptServer server;
    LogOn(server, "+OK\r\nUIDL\r\nTOP\r\n.\r\n"); // no PIPELINING: one command at a time
    // STAT counts a message that LIST does not have, and LIST names one twice: the others are listed once.
    server.Expect("STAT\r\n").Send("+OK 3 520\r\n").Expect("LIST\r\n").Send("+OK\r\n1 120\r\n2 200\r\n1 120\r\n.\r\n");
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
    LinesMail *one = pop.c->made[0], *two = pop.c->made[1];
    EXPECT_EQ(one->cookie, "1 ");
    EXPECT_EQ(two->cookie, "2 ");
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

// Listings by the mailbox's status, and pipelined ones whose replies are matched in order.
TEST(Pop3Dialogue, ListingsByStatusAndPipelined) {
    const std::string heads = "UIDL 1\r\nTOP 1 1\r\nUIDL 2\r\nTOP 2 1\r\n", two = "+OK 2 40\r\n";
    const std::string outOfStep = "reply out of step with the pipelined commands: ";
    const std::string badStat = "\r\n[clsPOP3MailConnection::OnQueryMailbox]\r\n";
    struct Case {
        const char *name;
        BYTE complete;
        std::vector<std::string> script; // after STAT: sent, expected, sent...
        std::string error;               // its start; empty when listed
        std::vector<std::string> listed; // cookie and whether whole
        bool load = false;               // then each mail is loaded
    } cases[] = {
        // clang-format off
        // Loading the first fetches the second along: its own load sends nothing.
        {"loads ahead", 0, {two, heads, "+OK 1 a\r\n+OK\r\n.\r\n+OK 2 b\r\n+OK\r\n.\r\n", "RETR 1\r\nRETR 2\r\n",
          "+OK\r\nx\r\n.\r\n+OK\r\ny\r\n.\r\n"}, "", {"1  whole", "2  whole"}, true},
        {"empty: no LIST", 0, {"+OK 0 0\r\n"}, "", {}},
        {"negative count", 0, {"+OK -1 0\r\n"}, "unexpected reply '+OK -1 0'" + badStat, {}},
        {"no count", 0, {"+OK\r\n"}, "unexpected reply '+OK'" + badStat, {}},
        {"heads, one TOP refused", 0, {two, heads, "+OK 1 a\r\n+OK\r\nSubject: one\r\n.\r\n+OK 2 b\r\n-ERR no\r\n",
          "RETR 2\r\n", "+OK\r\nSubject: two\r\n\r\nall\r\n.\r\n"}, "", {"1  head", "2  whole"}},
        {"whole", 1, {two, "UIDL 1\r\nRETR 1\r\nUIDL 2\r\nRETR 2\r\n",
          "+OK 1 a\r\n+OK\r\n\r\nx\r\n.\r\n+OK 2 b\r\n+OK\r\n\r\ny\r\n.\r\n"}, "", {"1  whole", "2  whole"}},
        {"UIDL of another message", 0, {two, heads, "+OK 2 b\r\n"}, outOfStep + "'+OK 2 b'\r\n", {}},
        {"garbage for a TOP", 0, {two, heads, "+OK 1 a\r\nhello\r\n"}, outOfStep + "'hello'\r\n", {}},
        // The first TOP's reply left out: the second's passes for it until the next UIDL is missing.
        {"a reply left out", 0, {two, heads, "+OK 1 a\r\n+OK 2 b\r\n+OK\r\nSubject: two\r\n.\r\n"}, "recv() fail", {}},
        // clang-format on
    };
    for (const Case &c : cases) {
        ScriptServer server;
        LogOn(server, "+OK\r\nUIDL\r\nPIPELINING\r\n.\r\n");
        server.Expect("STAT\r\n").Send(c.script[0]);
        if (c.script.size() > 1) server.Expect("LIST\r\n").Send("+OK\r\n1 20\r\n2 20\r\n.\r\n");
        for (size_t i = 1; i < c.script.size(); ++i) i % 2 ? server.Expect(c.script[i]) : server.Send(c.script[i]);
        if (c.error.empty() || c.script.size() == 1) server.Expect("QUIT\r\n");
        server.Pause(50);
        server.Start();
        Pop3 pop(server.Port());
        ASSERT_EQ(pop.c->Connect(), S_OK) << pop.Error();
        EXPECT_EQ(pop.c->QueryMailbox(c.complete), c.error.empty() ? S_OK : E_ABORT) << c.name;
        LONG code = 0;
        EXPECT_EQ(pop.Error(&code).substr(0, c.error.size()), c.error) << c.name;
        EXPECT_EQ(code, c.error.empty() ? 0 : c.error.rfind("recv", 0) == 0 ? -2 : -6) << c.name;
        for (LinesMail *m : pop.c->made) EXPECT_EQ(c.load ? pop.c->LoadRestOfMail(m) : S_OK, S_OK) << c.name;
        EXPECT_EQ(c.load ? pop.c->made[1]->lines : std::vector<String>{"y"}, std::vector<String>{"y"}) << c.name;
        std::vector<std::string> listed;
        for (IKvMail *m : pop.c->Mails()) {
            auto *mail = static_cast<LinesMail *>(m);
            listed.push_back(mail->cookie + " " + (mail->complete ? "whole" : "head"));
        }
        EXPECT_EQ(listed, c.listed) << c.name;
        EXPECT_EQ(pop.c->Disconnect(), S_OK);
        EXPECT_TRUE(server.Finish()) << c.name << ": " << server.Failure();
    }
}

TEST(Pop3Dialogue, AnUnreadableHeadIsListedAndReportedWhenLoaded) {
    ScriptServer server;
    LogOn(server);
    // Without LIST the numbers run up to STAT's count.
    server.Expect("STAT\r\n").Send("+OK 2 200\r\n").Expect("LIST\r\n").Send("-ERR no LIST here\r\n");
    for (const char *n : {"1", "2"}) {
        server.Expect(std::string("UIDL ") + n + "\r\n").Send("+OK\r\n").Expect(std::string("TOP ") + n + " 1\r\n");
        server.Send(n[0] == '1' ? "+OK\r\nSubject: bad\r\nX-Unreadable: yes\r\n.\r\n"
                                : "+OK\r\nSubject: good\r\n.\r\n");
    }
    server.Expect("RETR 1\r\n").Send("+OK\r\nSubject: bad\r\nX-Unreadable: yes\r\n\r\ntext\r\n.\r\n");
    server.Expect("QUIT\r\n").Send("+OK\r\n").Pause(50);
    server.Start();
    Pop3 pop(server.Port());
    ASSERT_EQ(pop.c->Connect(), S_OK) << pop.Error();
    ASSERT_EQ(pop.c->QueryMailbox(0), S_OK) << pop.Error();
    ASSERT_EQ(pop.c->Mails().size(), 2u);
    EXPECT_EQ(pop.c->made[0]->lines, (std::vector<String>{"Subject: bad", "X-Unreadable: yes"}));
    EXPECT_EQ(pop.c->made[1]->lines, (std::vector<String>{"Subject: good"}));
    EXPECT_EQ(pop.c->LoadRestOfMail(pop.c->made[0]), E_FAIL);
    LONG code = 0;
    EXPECT_EQ(pop.Error(&code), "unexpected empty boundary\r\n[clsPOP3MailConnection::LoadRestOfMail]\r\n");
    EXPECT_EQ(code, -5);
    EXPECT_EQ(pop.c->Disconnect(), S_OK);
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

// A proxy the host cleared between two connections is not used for the second.
TEST(Pop3Dialogue, ProxyClearedBeforeReconnect) {
    ScriptServer proxy, direct;
    const std::string port{char(direct.Port() >> 8), char(direct.Port() & 0xff)};
    proxy.Expect("\x04\x01" + port + std::string("\x7f\0\0\x01\0", 5)).Send(std::string("\0\x5a\0\0\0\0\0\0", 8));
    for (ScriptServer *s : {&proxy, &direct}) {
        s->Send("+OK ready\r\n").Expect("USER mrose\r\n").Send("+OK\r\n").Expect("PASS tanstaaf\r\n").Send("+OK\r\n");
        s->Expect("QUIT\r\n").Send("+OK\r\n").Start();
    }
    Pop3 pop(direct.Port());
    pop.Set(u"ProxyAddress", "127.0.0.1");
    testsupport::SetIntOption(pop.c, u"ProxyPort", proxy.Port());
    testsupport::SetIntOption(pop.c, u"ProxyType", kProxySocks4);
    EXPECT_EQ(pop.c->Connect(), S_OK) << pop.Error();
    EXPECT_EQ(pop.c->Disconnect(), S_OK);
    pop.Set(u"ProxyAddress", "");
    EXPECT_EQ(pop.c->Connect(), S_OK) << pop.Error();
    EXPECT_EQ(pop.c->Disconnect(), S_OK);
    EXPECT_TRUE(proxy.Finish()) << proxy.Failure();
    EXPECT_TRUE(direct.Finish()) << direct.Failure();
}

} // namespace
} // namespace kv

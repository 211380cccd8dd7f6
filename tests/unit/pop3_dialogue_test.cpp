// The POP3 connection's dialogue against a scripted server: logon forms,
// listing with TOP and the RETR fallback, load on demand and deletion.
#include <gtest/gtest.h>

#include "dialled.h"
#include "log_lines.h"
#include "providers/internet/security_options.h"
#include "providers/pop3/pop3_connection.h"
#include "runtime/except.h"
#include "script_server.h"

namespace kv {
namespace {

using testsupport::B64;
using testsupport::LinesMail;
using testsupport::ScriptServer;
using V = std::vector<std::string>;

class TestPop3 : public testsupport::Receiving<clsPOP3MailConnection> {
    void ReadMailText(IKvMail *mail, clsReceivedText &text, bool complete) override {
        auto *m = static_cast<LinesMail *>(mail);
        m->Take(text.View());
        for (const String &line : m->lines)
            if (line == "X-Unreadable: yes") throw clsExcept(-5, "unexpected empty boundary");
        m->complete = complete;
    }
};

using Pop3 = testsupport::Dialled<TestPop3>;
using Options = std::vector<std::pair<const char16_t *, std::string>>;

// Each mail as "cookie whole|head text", its lines joined by "|".
template <class Mail> V Listed(const std::vector<Mail *> &mails) {
    V out;
    for (IKvMail *m : mails) {
        auto *mail = static_cast<LinesMail *>(m);
        out.push_back(mail->cookie + (mail->complete ? " whole " : " head ") + (mail->deleted ? "deleted " : ""));
        for (const String &line : mail->lines) out.back() += line + "|";
    }
    return out;
}

// Without a server: TLS options read before connecting, an empty mailbox, message numbers.
TEST(Pop3Dialogue, WithoutAServer) {
    Pop3 pop(testsupport::ClosedPort());
    EXPECT_EQ(pop.c->QueryMailbox(1), S_OK);
    EXPECT_TRUE(pop.c->made.empty());
    EXPECT_EQ(pop.c->DeleteMail(u"1 "), E_UNEXPECTED);
    EXPECT_EQ(pop.Error(), "clsPOP3MailConnection::OnDeleteMail(): not connected\r\n");
    testsupport::FakeMail stray("1 ");
    EXPECT_EQ(pop.c->LoadRestOfMail(&stray), E_UNEXPECTED);
    EXPECT_EQ(pop.Coded(), "-13:clsPOP3MailConnection::LoadRestOfMail(): not connected\r\n");
    // Digits stop before an overflow.
    for (auto [id, n] : std::initializer_list<std::pair<const char *, uint32_t>>{
             {"12 abc", 12}, {"x", 0}, {"", 0}, {"99999999999999999999 ", 999999999}})
        EXPECT_EQ(MessageNumberOf(id), n) << id;
    pop.Set(u"TLSMode", "ssl");
    EXPECT_EQ(pop.c->Connect(), E_ABORT);
    EXPECT_EQ(pop.Coded(), "-5:option TLSMode: unknown value 'ssl' (none, starttls, implicit or auto)\r\n"
                           "[clsPOP3MailConnection::OnConnect]\r\n");
    // Verification stays on unless clearly off; null: unset.
    Pop3 other(0);
    for (auto [value, verify] : std::initializer_list<std::pair<const char *, bool>>{
             {nullptr, true}, {"0", false}, {"false", false}, {"1", true}, {"yes please", true}, {"", true}}) {
        if (value) other.Set(u"TLSVerify", value);
        EXPECT_EQ(ReadTlsOptions(*other.c, "h").verify, verify) << (value ? value : "unset");
    }
}

V operator+(V a, const V &b) { return a.insert(a.end(), b.begin(), b.end()), a; }

// The logon, and the capabilities a listing asks for first.
V LogOn(const std::string &capa) {
    return {"+OK ready\r\n", "USER mrose\r\n", "+OK\r\n", "PASS tanstaaf\r\n", "+OK\r\n", "CAPA\r\n", capa};
}

// Logon forms, STLS and OAuth; listings, loads and deletions, pipelined replies matched in order. The password never
// shows in the trace.
TEST(Pop3Dialogue, Transcripts) {
    const std::string ready = "+OK ready\r\n", onConnect = "[clsPOP3MailConnection::OnConnect]\r\n", quit = "QUIT\r\n";
    const std::string heads = "UIDL 1\r\nTOP 1 1\r\nUIDL 2\r\nTOP 2 1\r\n", pipe = "+OK\r\nUIDL\r\nPIPELINING\r\n.\r\n";
    const std::string locked = "-6:unexpected reply '-ERR locked'\r\n[clsTextSocket::SocketQuery]\r\n";
    const std::string listing = "+OK 1 a\r\n+OK\r\nSubject: one\r\n.\r\n+OK 2 b\r\n+OK\r\nSubject: two\r\n.\r\n";
    const std::string outOfStep = "-6:reply out of step with the pipelined commands: ";
    const std::string badStat = "\r\n[clsPOP3MailConnection::OnQueryMailbox]\r\n",
                      bad = "+OK\r\nSubject: bad\r\nX-Unreadable: yes\r\n";
    const V userPass = {"USER mrose\r\n", "+OK\r\n", "PASS tanstaaf\r\n", "+OK in\r\n", quit, "+OK bye\r\n"},
            two = {"STAT\r\n", "+OK 2 40\r\n", "LIST\r\n", "+OK\r\n1 20\r\n2 20\r\n.\r\n"}, query = {"query"};
    const Options tls = {{u"TLSMode", "starttls"}}, autoTls = {{u"TLSMode", "auto"}},
                  token = {{u"OAuth2Token", "tok-5ecret"}};
    struct Case {
        const char *name;
        Options options;
        V script;          // send, expect, send...
        std::string error; // "code:text"
        V ops = {};        // after connecting: query, whole, load <n-th made>, delete <id>
        V listed = {};
        HRESULT result = E_ABORT;      // of the first call that fails
        std::pair<LONG, LONG> at = {}; // the event the host answers
        HRESULT answer = S_OK;
    } cases[] = {
        // clang-format off
        // RFC 1939's own APOP example.
        {"apop", {}, {"+OK POP3 server ready <1896.697170952@dbc.mtview.ca.us>\r\n",
          "APOP mrose c4c9334bac560ecc979e58001b3e22fb\r\n", "+OK maildrop\r\n", quit, "+OK bye\r\n"}, "0:"},
        // The digest covers a timestamp holding ":" whole, or no server could accept it.
        {"apop, colon", {}, {"+OK <1896.6971:70952@dbc>\r\n",
          "APOP mrose e54a3a11cec3afd74b2f55edc48f90b3\r\n", "+OK\r\n", quit, "+OK bye\r\n"}, "0:"},
        {"wrong password", {}, {ready, "USER mrose\r\n", "+OK\r\n", "PASS tanstaaf\r\n", "-ERR invalid password\r\n",
         quit,
          "+OK bye\r\n"}, "-8:unexpected reply '-ERR invalid password'\r\n" + onConnect},
        {"not a pop3 server", {}, {"220 smtp here\r\n"},
         "-6:Server response '220 smtp here' unexpected from a POP3 server\r\n[clsTextSocket::SocketQuery]\r\n" +
          onConnect},
        {"stls refused: no USER", tls, {ready, "STLS\r\n", "-ERR not here\r\n", quit, "+OK bye\r\n"},
         "-5:TLS required, but the server refused STLS: -ERR not here\r\n" + onConnect},
        {"auto, CAPA without STLS", autoTls, V{ready, "CAPA\r\n", "+OK\r\nUSER\r\nUIDL\r\n.\r\n"} + userPass, "0:"},
        {"auto, no CAPA", autoTls, V{ready, "CAPA\r\n", "-ERR what\r\n"} + userPass, "0:"},
        {"auto, STLS refused", autoTls, V{ready, "CAPA\r\n", "+OK\r\nSTLS\r\n.\r\n", "STLS\r\n", "-ERR no\r\n"} +
         userPass,
         "0:"},
        {"bytes after +OK to STLS", tls, {ready, "STLS\r\n", "+OK begin\r\n+OK injected\r\n"},
         "-2:TLS not started: the server sent more than its reply before the handshake\r\n" + onConnect},
        {"xoauth2 error challenge", token,
         {ready, "CAPA\r\n", "+OK\r\nSASL XOAUTH2\r\n.\r\n", "AUTH XOAUTH2\r\n", "+\r\n",
          B64("user=mrose\x01" "auth=Bearer tok-5ecret\x01\x01") + "\r\n", "+ " + B64("{\"status\":\"401\"}") + "\r\n",
          "\r\n", "-ERR denied\r\n", quit, "+OK bye\r\n"}, "-8:authentication failed!\r\n" + onConnect},
        {"token, no SASL: password", token, V{ready, "CAPA\r\n", "+OK\r\nUSER\r\n.\r\n"} + userPass, "0:"},
        // No PIPELINING: one command at a time. STAT counts a message that LIST does not have, and LIST names one
        // twice: the others are listed once. A refused TOP falls back to RETR.
        {"top, retr fallback, load, delete", {}, LogOn("+OK\r\nUIDL\r\nTOP\r\n.\r\n") + V{"STAT\r\n", "+OK 3 520\r\n",
          "LIST\r\n", "+OK\r\n1 120\r\n2 200\r\n1 120\r\n.\r\n", "UIDL 1\r\n", "+OK 1 whqtswO00WBw418f9t5JxYwZ\r\n",
          "TOP 1 1\r\n", "+OK\r\nSubject: one\r\n\r\n..first line\r\n.\r\n", "UIDL 2\r\n",
           "+OK 2 QhdPYR:00WBw1Ph7x7\r\n",
          "TOP 2 1\r\n", "-ERR TOP not supported\r\n", "RETR 2\r\n", "+OK\r\nSubject: two\r\n\r\nall of it\r\n.\r\n",
          "RETR 1\r\n", "+OK\r\nSubject: one\r\n\r\n..first line\r\nsecond\r\n.\r\n", "DELE 2\r\n", "+OK deleted\r\n",
           quit},
         "0:", {"query", "load 1", "delete 7 ", "delete 2 "},
         {"1  whole Subject: one||.first line|second|", "2  whole deleted Subject: two||all of it|"}},
        // Without LIST the numbers run up to STAT's count; an unreadable head is listed.
        {"unreadable", {}, LogOn("-ERR no CAPA\r\n") + V{"STAT\r\n", "+OK 2 200\r\n", "LIST\r\n",
         "-ERR no LIST here\r\n",
          "UIDL 1\r\n", "+OK\r\n", "TOP 1 1\r\n", bad + ".\r\n", "UIDL 2\r\n", "+OK\r\n", "TOP 2 1\r\n",
          "+OK\r\nSubject: good\r\n.\r\n", "RETR 1\r\n", bad + "\r\ntext\r\n.\r\n", quit},
         "-5:unexpected empty boundary\r\n[clsPOP3MailConnection::LoadRestOfMail]\r\n", {"query", "load 1"},
         {"1  head Subject: bad|X-Unreadable: yes||text|", "2  head Subject: good|"}, E_FAIL},
        // Loading the first fetches the second along: its own load sends nothing.
        {"loads ahead", {}, LogOn(pipe) + two + V{heads, "+OK 1 a\r\n+OK\r\n.\r\n+OK 2 b\r\n+OK\r\n.\r\n",
          "RETR 1\r\nRETR 2\r\n", "+OK\r\nx\r\n.\r\n+OK\r\ny\r\n.\r\n", quit}, "0:", {"query", "load 1", "load 2"},
         {"1  whole x|", "2  whole y|"}},
        {"empty: no LIST", {}, LogOn(pipe) + V{"STAT\r\n", "+OK 0 0\r\n", quit}, "0:", query},
        {"negative count", {}, LogOn(pipe) + V{"STAT\r\n", "+OK -1 0\r\n", quit}, "-6:unexpected reply '+OK -1 0'" +
         badStat,
         query},
        {"no count", {}, LogOn(pipe) + V{"STAT\r\n", "+OK\r\n", quit}, "-6:unexpected reply '+OK'" + badStat, query},
        {"heads, one TOP refused", {}, LogOn(pipe) + two + V{heads,
          "+OK 1 a\r\n+OK\r\nSubject: one\r\n.\r\n+OK 2 b\r\n-ERR no\r\n", "RETR 2\r\n",
          "+OK\r\nSubject: two\r\n\r\nall\r\n.\r\n", quit}, "0:", query, {"1  head Subject: one|",
           "2  whole Subject: two||all|"}},
        {"whole", {}, LogOn(pipe) + two + V{"UIDL 1\r\nRETR 1\r\nUIDL 2\r\nRETR 2\r\n",
          "+OK 1 a\r\n+OK\r\n\r\nx\r\n.\r\n+OK 2 b\r\n+OK\r\n\r\ny\r\n.\r\n", quit}, "0:", {"whole"}, {"1  whole |x|",
           "2  whole |y|"}},
        {"UIDL of another message", {}, LogOn(pipe) + two + V{heads, "+OK 2 b\r\n"}, outOfStep + "'+OK 2 b'" +
         badStat, query},
        {"garbage for a TOP", {}, LogOn(pipe) + two + V{heads, "+OK 1 a\r\nhello\r\n"}, outOfStep + "'hello'" +
         badStat, query},
        // The first TOP's reply left out: the second's passes for it until the next UIDL is missing.
        {"a reply left out", {}, LogOn(pipe) + two + V{heads, "+OK 1 a\r\n+OK 2 b\r\n+OK\r\nSubject: two\r\n.\r\n"},
         "-2:recv() failed: socket was disconnected\r\n[clsTextSocket::SocketQuery]" + badStat, query},
        // The host cancels with E_ABORT only; the batch's other replies are read, so DELE gets its own.
        {"cancelled at the count", {}, LogOn(pipe) + two + V{quit}, "-15:cancelled by the host" + badStat, query, {},
         E_ABORT, {10, 2}, E_ABORT},
        {"cancelled inside a batch", {}, LogOn(pipe) + two + V{heads, listing, "DELE 1\r\n", "-ERR locked\r\n", quit},
         locked, {"query", "delete 1 "}, {"1  head Subject: one|"}, E_ABORT, {11, 2},
         E_ABORT},
        {"another failure is no cancel", {}, LogOn(pipe) + two + V{heads, listing, "DELE 1\r\n", "-ERR locked\r\n",
          quit}, locked, {"query", "delete 1 "},
         {"1  head Subject: one|", "2  head Subject: two|"}, E_ABORT, {11, 2}, E_INVALIDARG},
        // clang-format on
    };
    for (const Case &c : cases) {
        ScriptServer server;
        server.Serve(c.script, true);
        Pop3 pop(server.Port());
        pop.events.at = c.at, pop.events.answer = c.answer;
        for (const auto &o : c.options) pop.Set(o.first, o.second);
        testsupport::LogLines log(kLogProtocol);
        HRESULT hr = pop.c->Connect();
        for (const std::string &op : c.ops) {
            HRESULT r = op == "query"   ? pop.c->QueryMailbox(0)
                        : op == "whole" ? pop.c->QueryMailbox(1)
                        : op[0] == 'l'  ? pop.c->LoadRestOfMail(pop.c->made.at(size_t(op[5] - '1')))
                                        : pop.c->DeleteMail(Widen(op.substr(7)).c_str());
            hr = hr == S_OK ? r : hr;
        }
        EXPECT_EQ(hr, c.error == "0:" ? S_OK : c.result) << c.name;
        EXPECT_EQ(pop.Coded(), c.error) << c.name;
        EXPECT_EQ(Listed(pop.c->Mails()), c.listed) << c.name;
        for (const char *secret : {"->'PASS", "->'APOP"})
            EXPECT_EQ(log.Text().find(secret), std::string::npos) << c.name << ": the password shows";
        EXPECT_EQ(pop.c->Disconnect(), c.ops.empty() && c.error != "0:" ? S_FALSE : S_OK) << c.name << ": cleaned up";
        EXPECT_TRUE(server.Finish()) << c.name << ": " << server.Failure();
    }
}

// A proxy the host cleared between two connections is not used for the second.
TEST(Pop3Dialogue, ProxyClearedBeforeReconnect) {
    ScriptServer proxy, direct;
    const std::string port{char(direct.Port() >> 8), char(direct.Port() & 0xff)};
    proxy.Expect("\x04\x01" + port + std::string("\x7f\0\0\x01\0", 5)).Send(std::string("\0\x5a\0\0\0\0\0\0", 8));
    for (ScriptServer *s : {&proxy, &direct})
        s->Play({"+OK ready\r\n", "USER mrose\r\n", "+OK\r\n", "PASS tanstaaf\r\n", "+OK\r\n", "QUIT\r\n", "+OK\r\n"},
                true)
            .Start();
    Pop3 pop(direct.Port());
    testsupport::SetIntOption(pop.c, u"ProxyPort", proxy.Port());
    testsupport::SetIntOption(pop.c, u"ProxyType", kProxySocks4);
    for (const char *address : {"127.0.0.1", ""}) {
        pop.Set(u"ProxyAddress", address);
        EXPECT_EQ(pop.c->Connect(), S_OK) << pop.Error();
        EXPECT_EQ(pop.c->Disconnect(), S_OK);
    }
    EXPECT_TRUE(proxy.Finish()) << proxy.Failure();
    EXPECT_TRUE(direct.Finish()) << direct.Failure();
}

} // namespace
} // namespace kv

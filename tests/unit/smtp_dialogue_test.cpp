// The SMTP connection's dialogue against a scripted server: greeting, EHLO and
// HELO, where AUTH is read from, and the mail transfer with refused
// recipients, exact bytes on the wire.
#include <gtest/gtest.h>

#include "dialled.h"
#include "providers/smtp/smtp_connection.h"
#include "script_server.h"
#include "test_text.h"
#include "thrown.h"

namespace kv {
namespace {

using testsupport::B64;
using testsupport::ScriptServer;

// Without a user unless a case names one.
struct Smtp : testsupport::Dialled<clsSMTPMailConnection> {
    explicit Smtp(uint16_t port) : Dialled(port, "", "tanstaaf") { Set(u"LogonName", "client"); }
};

using Options = std::vector<std::pair<const char16_t *, std::string>>;

// The logon up to the first mail: EHLO, HELO, AUTH, STARTTLS and OAuth.
TEST(SmtpDialogue, GreetingEhloHeloTlsAndAuth) {
    const std::vector<std::pair<LONG, LONG>> connected = {{2, 0}, {3, 1}, {6, 0}, {7, 1}};
    const std::vector<std::pair<LONG, LONG>> failed = {{2, 0}, {3, 1}, {3, 0}, {3, 0}, {7, 0}};
    const std::string hi = "220 x\r\n", ehlo = "EHLO client\r\n", ok = "235 ok\r\n",
                      onConnect = "[clsSMTPMailConnection::OnConnect]\r\n";
    const std::string plain = "AUTH PLAIN " + B64(std::string("\0tim\0tanstaaf", 13)) + "\r\n";
    const std::string tls = "250-x\r\n250-STARTTLS\r\n250 AUTH PLAIN\r\n";
    const Options tim = {{u"ServerUser", "tim"}};
    auto with = [&](Options o) { return o.insert(o.begin(), tim.begin(), tim.end()), o; };
    struct Case {
        const char *name;
        Options options;
        std::vector<std::string> script; // send, expect, send...
        std::string error;               // empty: connected
        LONG code;
        bool closed = false; // the connection is dropped without a goodbye
    } cases[] = {
        // clang-format off
        {"greeting other than 220", {}, {"554 go away\r\n"}, "Logon unsuccessful\r\n" + onConnect, -6, true},
        // Without a user no AUTH, and no logon events, even when offered.
        {"ehlo", {{u"LogonName", "my pc#1"}}, {hi, "EHLO my_pc_1\r\n", "250-hi\r\n250 AUTH PLAIN\r\n"}, "", 0},
        {"helo fallback", {}, {hi, ehlo, "500 what\r\n", "HELO client\r\n", "250 ok\r\n"}, "", 0},
        {"helo answered 500 is accepted", {}, {hi, ehlo, "500 what\r\n", "HELO client\r\n", "500 no\r\n"}, "", 0},
        {"ehlo 502", {}, {hi, ehlo, "502 not implemented\r\n"},
         "unexpected reply '502 not implemented'\r\n[clsTextSocket::SocketQuery]\r\n[clsSMTPSocket::SocketQuery]\r\n" +
         onConnect, -6, true},
        {"auth=plain", tim, {hi, ehlo, "250-x\r\n250-AUTH=PLAIN\r\n250 ok\r\n", plain, ok}, "", 0},
        // Servers may list AUTH on the last line of the reply too.
        {"auth on the last line", tim, {hi, ehlo, "250-x\r\n250 AUTH PLAIN\r\n", plain, ok}, "", 0},
        {"no mechanism offered", tim, {hi, ehlo, "250 x\r\n"}, "", 0},
        {"starttls not offered: nothing more than goodbye", with({{u"TLSMode", "starttls"}}),
         {hi, ehlo, "250-x\r\n250-AUTH PLAIN\r\n250 ok\r\n"},
         "TLS required, but the server does not offer STARTTLS\r\n" + onConnect, -5},
        {"starttls refused", with({{u"TLSMode", "STARTTLS"}}),
         {hi, ehlo, tls, "STARTTLS\r\n", "454 TLS not available\r\n"},
         "TLS required, but the server refused STARTTLS: 454 TLS not available\r\n" + onConnect, -5},
        {"auto, not offered: in clear", with({{u"TLSMode", "auto"}}),
         {hi, ehlo, "250-x\r\n250 AUTH PLAIN\r\n", plain, ok}, "", 0},
        {"auto, refused: in clear", with({{u"TLSMode", " Auto "}}),
         {hi, ehlo, tls, "STARTTLS\r\n", "454 later\r\n", plain, ok}, "", 0},
        {"none ignores STARTTLS", with({{u"TLSMode", "none"}}), {hi, ehlo, tls, plain, ok}, "", 0},
        {"bytes after the STARTTLS reply", with({{u"TLSMode", "starttls"}}),
         {hi, ehlo, "250-x\r\n250 STARTTLS\r\n", "STARTTLS\r\n", "220 go ahead\r\n250 injected\r\n"},
         "TLS not started: the server sent more than its reply before the handshake\r\n" + onConnect, -2, true},
        {"oauthbearer error challenge", {{u"ServerUser", "a,b=c"}, {u"OAuth2Token", "tok"}},
         {hi, ehlo, "250-x\r\n250 AUTH OAUTHBEARER\r\n", "{bearer}", "334 " + B64("{\"status\":\"401\"}") + "\r\n",
          "AQ==\r\n", "535 5.7.8 invalid token\r\n"},
         "authentication failed!\r\n" + onConnect, -8},
        {"token only, server without OAuth", with({{u"OAuth2Token", "tok"}, {u"ServerPassword", ""}}),
         {hi, ehlo, "250-x\r\n250 AUTH PLAIN LOGIN\r\n"},
         "the server offers neither OAUTHBEARER nor XOAUTH2 for the access token\r\n" + onConnect, -8},
        // clang-format on
    };
    for (const Case &c : cases) {
        ScriptServer server;
        std::vector<std::string> script = c.script;
        for (std::string &line : script) // the user name escaped: "," and "=" would end its field
            if (line == "{bearer}")
                line = "AUTH OAUTHBEARER " +
                       B64("n,a=a=2Cb=3Dc,\001host=127.0.0.1\001port=" + std::to_string(server.Port()) +
                           "\001auth=Bearer tok\001\001") +
                       "\r\n";
        server.Play(script, true);
        if (!c.closed) server.Expect("RSET\r\n").Send("250 ok\r\n").Expect("QUIT\r\n").Send("221 bye\r\n");
        server.Pause(50).Start();
        Smtp smtp(server.Port());
        for (const auto &o : c.options) smtp.Set(o.first, o.second);
        EXPECT_EQ(smtp.c->Connect(), c.error.empty() ? S_OK : E_ABORT) << c.name;
        EXPECT_EQ(smtp.Coded(), std::to_string(c.code) + ":" + c.error) << c.name;
        EXPECT_EQ(smtp.c->Disconnect(), c.error.empty() ? S_OK : S_FALSE) << c.name << ": a failed connect cleans up";
        if (c.options.empty() || c.options[0].first != std::u16string_view(u"ServerUser")) {
            EXPECT_EQ(smtp.events.seen, c.error.empty() ? connected : failed) << c.name;
        }
        EXPECT_TRUE(server.Finish()) << c.name << ": " << server.Failure();
    }
}

TEST(SmtpDialogue, PopBeforeSmtpLogsOnWithThePop3Options) {
    ScriptServer pop, server;
    pop.Serve({"+OK ready\r\n", "USER tim\r\n", "+OK\r\n", "PASS pw\r\n", "+OK\r\n", "QUIT\r\n", "+OK bye\r\n"}, true);
    server.Serve({"220 hi\r\n", "EHLO client\r\n", "250 ok\r\n"}, true);
    Smtp smtp(server.Port());
    clsOptionList &options = smtp.c->Options();
    options.SetBool("SMTP.POPBeforeSMTP", true);
    options.SetText("POP3.ServerAddress", u"127.0.0.1");
    options.SetInt("POP3.ServerPort", pop.Port());
    options.SetText("POP3.ServerUser", u"tim");
    options.SetText("POP3.ServerPassword", u"pw");
    EXPECT_EQ(smtp.c->Connect(), S_OK) << smtp.Error();
    EXPECT_TRUE(pop.Finish()) << pop.Failure();
    smtp.c->Disconnect();
    EXPECT_TRUE(server.Finish()) << server.Failure();
}

// Each script starts at MAIL FROM; the EHLO reply decides the extensions.
TEST(SmtpDialogue, TransferOutcomes) {
    const std::string M = "MAIL FROM:<me@x.org>\r\n", OK = "250 ok\r\n", A = "RCPT TO:<a@x.org>\r\n";
    const std::string B = "RCPT TO:<b@x.org>\r\n", D = "DATA\r\n", GO = "354 go\r\n", X = "x\r\n.\r\n";
    const char *plain = "250 ok\r\n", *pipe = "250-x\r\n250 PIPELINING\r\n";
    const char *dsn = "250-x\r\n250 DSN\r\n";
    const Options dsnOptions = {
        {u"DSNNotify", "success,Failure"}, {u"DSNReturn", "headers"}, {u"DSNEnvelopeID", "q+1=2"}};
    // 101 recipients: a window of 100 commands, then the last with DATA once their replies are in.
    std::vector<String> many;
    std::string window = M, windowOks = OK;
    for (int i = 0; i < 101; ++i) {
        many.push_back("r" + std::to_string(i) + "@x.org");
        if (i < 100) window += "RCPT TO:<" + many.back() + ">\r\n", windowOks += OK;
    }
    struct Case {
        const char *name;
        const char *ehlo;
        std::vector<String> to, cc;
        std::string text;
        std::vector<std::string> script;
        const char *error; // "" = success
        int32_t code;
        Options options = {};
        bool closed = false; // the connection given up
    } cases[] = {
        // clang-format off
        {"text without a final line end", plain, {"a@x.org"}, {}, "Subject: s\r\n\r\nbody",
         {M, OK, A, OK, D, GO, "Subject: s\r\n\r\nbody\r\n.\r\n", "250 queued\r\n"}, "", 0},
        // A text one byte over a send block: its final LF comes alone.
        {"CR LF across blocks", plain, {"a@x.org"}, {}, std::string((1 << 20) - 1, 'a') + "\r\n",
         {M, OK, A, OK, D, GO, std::string((1 << 20) - 1, 'a') + "\r\n.\r\n", OK}, "", 0},
        {"251 and 252 accept", plain, {"\"A\" <a@x.org>", "smtp:b@x.org"}, {}, "x\r\n",
         {M, OK, A, "251 forwarded\r\n", B, "252 cannot verify\r\n", D, GO, X, OK}, "", 0},
        {"one of two refused", plain, {"a@x.org", "b@x.org"}, {}, "x\r\n",
         {M, OK, A, "550 no such user\r\n", B, OK, D, GO, X, OK},
         "Recipient Address 'a@x.org': 550 no such user\r\n[clsArpaMail::Send()]\r\n", -14},
        {"all refused (553 too)", plain, {"a@x.org"}, {"c@x.org"}, "x\r\n",
         {M, OK, A, "550 no\r\n", "RCPT TO:<c@x.org>\r\n", "553 bad\r\n", "RSET\r\n", OK},
         "The Message has not been sent!\nRecipient Address 'a@x.org': 550 no\nRecipient Address 'c@x.org': 553 "
         "bad\r\n[clsArpaMail::Send()]\r\n", -14},
        {"no recipients at all", plain, {}, {}, "x\r\n", {M, OK, "RSET\r\n", OK}, "", 0},
        {"temporary failure", plain, {"a@x.org"}, {}, "x\r\n", {M, OK, A, "451 later\r\n", "RSET\r\n", OK},
         "Recipient Address 'a@x.org': 451 later\r\n[clsArpaMail::Send()]\r\n", -14},
        {"data refused at the end", plain, {"a@x.org"}, {}, "x\r\n",
         {M, OK, A, OK, D, GO, X, "554 spam\r\n", "RSET\r\n", OK},
         "Message could not be posted: 554 spam\r\n[clsArpaMail::Send()]\r\n", -5},
        {"sender refused", plain, {"a@x.org"}, {}, "x", {M, "553 not you\r\n", "RSET\r\n", OK},
         "Sender Address 'Me <me@x.org>' ('me@x.org') bad: 553 not you\r\n[clsArpaMail::Send()]\r\n", -14},
        // PIPELINING: one write, the replies in order, the outcomes as above.
        {"pipelined, sender refused", pipe, {"a@x.org"}, {}, "x\r\n",
         {M + A + D, "553 not you\r\n503 no\r\n503 no\r\n", "RSET\r\n", OK},
         "Sender Address 'Me <me@x.org>' ('me@x.org') bad: 553 not you\r\n[clsArpaMail::Send()]\r\n", -14},
        {"pipelined, all refused", pipe, {"a@x.org"}, {}, "x\r\n",
         {M + A + D, OK + "550 no\r\n554 none\r\n", "RSET\r\n", OK},
         "The Message has not been sent!\nRecipient Address 'a@x.org': 550 no\r\n[clsArpaMail::Send()]\r\n", -14},
        {"pipelined, temporary failure while DATA was accepted", pipe, {"a@x.org", "b@x.org"}, {}, "x\r\n",
         {M + A + B + D, OK + "451 later\r\n" + OK + GO},
         "Recipient Address 'a@x.org': 451 later\r\n[clsArpaMail::Send()]\r\n", -14, {}, true},
        {"pipelined, a reply too many", pipe, {"a@x.org"}, {}, "x\r\n", {M + A + D, OK + OK + OK + GO},
         "The server's replies are out of step with the commands: '250 ok' answers 'DATA'\r\n[clsArpaMail::Send()]\r\n",
         -6, {}, true},
        {"pipelined, DATA's reply to a RCPT", pipe, {"a@x.org", "b@x.org"}, {}, "x\r\n", {M + A + B + D, OK + GO},
         "The server's replies are out of step with the commands: '354 go' answers 'RCPT TO'\r\n"
         "[clsArpaMail::Send()]\r\n", -6, {}, true},
        {"pipelined in windows", pipe, many, {}, "x\r\n",
         {window, windowOks, "RCPT TO:<r100@x.org>\r\n" + D, OK + GO, X, OK}, "", 0},
        // SIZE and 8BITMIME; a SIZE without a number and garbage keywords are not used.
        {"size at the limit, 8bitmime", "250-x\r\n250-8BITMIME\r\n250 SIZE 3\r\n", {"a@x.org"}, {}, "x\r\n",
         {"MAIL FROM:<me@x.org> SIZE=3 BODY=8BITMIME\r\n", OK, A, OK, D, GO, X, OK}, "", 0},
        {"garbage keywords", "250-x\r\n250-SIZE\r\n250-SIZE 2x\r\n250-PIPELINING\x01\r\n250 8BITMIMEX\r\n", {"a@x.org"},
         {}, "xy\r\n", {M, OK, A, OK, D, GO, "xy\r\n.\r\n", OK}, "", 0},
        // DSN: the options as parameters, only where offered; bad values fail before anything is sent.
        {"dsn not offered", plain, {"a@x.org"}, {}, "x\r\n", {M, OK, A, OK, D, GO, X, OK}, "", 0, dsnOptions},
        {"dsn value with a space", dsn, {"a@x.org"}, {}, "x\r\n", {},
         "option DSNNotify: the value must be printable ASCII without spaces\r\n[clsArpaMail::Send()]\r\n", -5,
         {{u"DSNNotify", "success, failure"}}},
        {"dsn never with another", dsn, {"a@x.org"}, {}, "x\r\n", {},
         "option DSNNotify: never stands alone\r\n[clsArpaMail::Send()]\r\n", -5, {{u"DSNNotify", "never,delay"}}},
        // An international domain goes as A-labels to a server without SMTPUTF8.
        {"idn domain", plain, {"b@B\xC3\xBC" "cher.example"}, {}, "x\r\n",
         {M, OK, "RCPT TO:<b@xn--bcher-kva.example>\r\n", OK, D, GO, X, OK}, "", 0},
        // clang-format on
    };
    for (const Case &c : cases) {
        ScriptServer server;
        server.Send("220 hi\r\n").Expect("EHLO client\r\n").Send(c.ehlo).Serve(c.script);
        Smtp smtp(server.Port());
        for (const auto &o : c.options) smtp.Set(o.first, o.second);
        ASSERT_EQ(smtp.c->Connect(), S_OK) << c.name;
        clsSmtpEnvelope envelope{"Me <me@x.org>", c.to, c.cc, {}};
        testsupport::StringText text(c.text);
        testsupport::Caught e = testsupport::Catch([&] { smtp.c->Transfer(envelope, text); });
        std::string error;
        for (const auto &m : e.messages) error += m + "\r\n";
        EXPECT_EQ(error, c.error) << c.name;
        EXPECT_EQ(e.code, c.code) << c.name;
        EXPECT_EQ(smtp.c->State() == kDisconnected, c.closed) << c.name;
        EXPECT_TRUE(server.Finish()) << c.name << ": " << server.Failure().substr(0, 200);
    }
}

} // namespace
} // namespace kv

// The SMTP connection's dialogue against a scripted server: greeting, EHLO and
// HELO, where AUTH is read from, and the mail transfer with refused
// recipients, exact bytes on the wire.
#include <gtest/gtest.h>

#include "dialled.h"
#include "mail/arpa_mail.h"
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
using V = std::vector<std::string>;

V operator+(V a, const V &b) { return a.insert(a.end(), b.begin(), b.end()), a; }

// The logon (EHLO, HELO, AUTH, STARTTLS and OAuth), then a mail's transfer when it has a text.
TEST(SmtpDialogue, LogonAndTransfer) {
    const std::vector<std::pair<LONG, LONG>> connected = {{2, 0}, {3, 1}, {6, 0}, {7, 1}};
    const std::vector<std::pair<LONG, LONG>> failed = {{2, 0}, {3, 1}, {3, 0}, {3, 0}, {7, 0}};
    const std::string hi = "220 x\r\n", ehlo = "EHLO client\r\n", ok = "235 ok\r\n",
                      onConnect = "[clsSMTPMailConnection::OnConnect]\r\n";
    const std::string plain = "AUTH PLAIN " + B64(std::string("\0tim\0tanstaaf", 13)) + "\r\n";
    const std::string tls = "250-x\r\n250-STARTTLS\r\n250 AUTH PLAIN\r\n";
    const Options tim = {{u"ServerUser", "tim"}};
    auto with = [&](Options o) { return o.insert(o.begin(), tim.begin(), tim.end()), o; };
    const std::string M = "MAIL FROM:<me@x.org>\r\n", OK = "250 ok\r\n", A = "RCPT TO:<a@x.org>\r\n";
    const std::string B = "RCPT TO:<b@x.org>\r\n", D = "DATA\r\n", GO = "354 go\r\n", X = "x\r\n.\r\n";
    const std::string pipe = "250-x\r\n250 PIPELINING\r\n", dsn = "250-x\r\n250 DSN\r\n",
                      inSend = "\r\n[clsArpaMail::Send()]\r\n";
    auto hello = [](const std::string &reply) { return V{"220 hi\r\n", "EHLO client\r\n", reply}; };
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
        Options options;
        V script;              // send, expect, send...
        std::string error;     // "code:text"
        std::string text = ""; // a mail to transfer after the logon
        bool closed = false;   // the connection is given up without a goodbye
        std::vector<String> to = {"a@x.org"}, cc = {};
    } cases[] = {
        // clang-format off
        {"greeting other than 220", {}, {"554 go away\r\n"}, "-6:Logon unsuccessful\r\n" + onConnect, "", true},
        // Without a user no AUTH, and no logon events, even when offered.
        {"ehlo", {{u"LogonName", "my pc#1"}}, {hi, "EHLO my_pc_1\r\n", "250-hi\r\n250 AUTH PLAIN\r\n"}, "0:"},
        {"helo fallback", {}, {hi, ehlo, "500 what\r\n", "HELO client\r\n", "250 ok\r\n"}, "0:"},
        {"helo answered 500 is accepted", {}, {hi, ehlo, "500 what\r\n", "HELO client\r\n", "500 no\r\n"}, "0:"},
        {"ehlo 502", {}, {hi, ehlo, "502 not implemented\r\n"},
         "-6:unexpected reply '502 not implemented'\r\n[clsTextSocket::SocketQuery]\r\n[clsSMTPSocket::SocketQuery]\r\n"
         + onConnect, "", true},
        {"auth=plain", tim, {hi, ehlo, "250-x\r\n250-AUTH=PLAIN\r\n250 ok\r\n", plain, ok}, "0:"},
        // Servers may list AUTH on the last line of the reply too.
        {"auth on the last line", tim, {hi, ehlo, "250-x\r\n250 AUTH PLAIN\r\n", plain, ok}, "0:"},
        {"no mechanism offered", tim, {hi, ehlo, "250 x\r\n"}, "0:"},
        {"starttls not offered: nothing more than goodbye", with({{u"TLSMode", "starttls"}}), {hi, ehlo,
         "250-x\r\n250-AUTH PLAIN\r\n250 ok\r\n"}, "-5:TLS required, but the server does not offer STARTTLS\r\n" +
         onConnect},
        {"starttls refused", with({{u"TLSMode", "STARTTLS"}}), {hi, ehlo, tls, "STARTTLS\r\n",
         "454 TLS not available\r\n"}, "-5:TLS required, but the server refused STARTTLS: 454 TLS not available\r\n" +
         onConnect},
        {"auto, not offered: in clear", with({{u"TLSMode", "auto"}}), {hi, ehlo, "250-x\r\n250 AUTH PLAIN\r\n", plain,
         ok}, "0:"},
        {"auto, refused: in clear", with({{u"TLSMode", " Auto "}}), {hi, ehlo, tls, "STARTTLS\r\n", "454 later\r\n",
         plain, ok}, "0:"},
        {"none ignores STARTTLS", with({{u"TLSMode", "none"}}), {hi, ehlo, tls, plain, ok}, "0:"},
        {"bytes after the STARTTLS reply", with({{u"TLSMode", "starttls"}}), {hi, ehlo, "250-x\r\n250 STARTTLS\r\n",
         "STARTTLS\r\n", "220 go ahead\r\n250 injected\r\n"},
         "-2:TLS not started: the server sent more than its reply before the handshake\r\n" + onConnect, "", true},
        {"oauthbearer error challenge", {{u"ServerUser", "a,b=c"}, {u"OAuth2Token", "tok"}}, {hi, ehlo,
         "250-x\r\n250 AUTH OAUTHBEARER\r\n", "{bearer}", "334 " + B64("{\"status\":\"401\"}") + "\r\n",
          "AQ==\r\n", "535 5.7.8 invalid token\r\n"}, "-8:authentication failed!\r\n" + onConnect},
        {"token only, server without OAuth", with({{u"OAuth2Token", "tok"}, {u"ServerPassword", ""}}), {hi, ehlo,
         "250-x\r\n250 AUTH PLAIN LOGIN\r\n"},
         "-8:the server offers neither OAUTHBEARER nor XOAUTH2 for the access token\r\n" + onConnect},
        {"text without a final line end", {}, hello(OK) + V{M, OK, A, OK, D, GO, "Subject: s\r\n\r\nbody\r\n.\r\n",
         "250 queued\r\n"}, "0:", "Subject: s\r\n\r\nbody"},
        // A text one byte over a send block: its final LF comes alone.
        {"CR LF across blocks", {}, hello(OK) + V{M, OK, A, OK, D, GO, std::string((1 << 20) - 1, 'a') + "\r\n.\r\n",
         OK}, "0:", std::string((1 << 20) - 1, 'a') + "\r\n"},
        {"251 and 252 accept", {}, hello(OK) + V{M, OK, A, "251 forwarded\r\n", B, "252 cannot verify\r\n", D, GO, X,
         OK}, "0:", "x\r\n", false, {"\"A\" <a@x.org>", "smtp:b@x.org"}},
        {"one of two refused", {}, hello(OK) + V{M, OK, A, "550 no such user\r\n", B, OK, D, GO, X, OK},
         "-14:Recipient Address 'a@x.org': 550 no such user" + inSend, "x\r\n", false, {"a@x.org", "b@x.org"}},
        {"all refused (553 too)", {}, hello(OK) + V{M, OK, A, "550 no\r\n", "RCPT TO:<c@x.org>\r\n", "553 bad\r\n",
         "RSET\r\n", OK},
         "-14:The Message has not been sent!\nRecipient Address 'a@x.org': 550 no\nRecipient Address 'c@x.org': 553 "
         "bad" + inSend, "x\r\n", false, {"a@x.org"}, {"c@x.org"}},
        {"no recipients at all", {}, hello(OK) + V{M, OK, "RSET\r\n", OK}, "0:", "x\r\n", false, {}},
        {"temporary failure", {}, hello(OK) + V{M, OK, A, "451 later\r\n", "RSET\r\n", OK},
         "-14:Recipient Address 'a@x.org': 451 later" + inSend, "x\r\n"},
        {"data refused at the end", {}, hello(OK) + V{M, OK, A, OK, D, GO, X, "554 spam\r\n", "RSET\r\n", OK},
         "-5:Message could not be posted: 554 spam" + inSend, "x\r\n"},
        {"sender refused", {}, hello(OK) + V{M, "553 not you\r\n", "RSET\r\n", OK},
         "-14:Sender Address 'Me <me@x.org>' ('me@x.org') bad: 553 not you" + inSend, "x"},
        // PIPELINING: one write, the replies in order, the outcomes as above.
        {"pipelined, sender refused", {}, hello(pipe) + V{M + A + D, "553 not you\r\n503 no\r\n503 no\r\n",
         "RSET\r\n", OK}, "-14:Sender Address 'Me <me@x.org>' ('me@x.org') bad: 553 not you" + inSend, "x\r\n"},
        {"pipelined, all refused", {}, hello(pipe) + V{M + A + D, OK + "550 no\r\n554 none\r\n", "RSET\r\n", OK},
         "-14:The Message has not been sent!\nRecipient Address 'a@x.org': 550 no" + inSend, "x\r\n"},
        {"pipelined, temporary failure while DATA was accepted", {}, hello(pipe) + V{M + A + B + D, OK +
         "451 later\r\n" + OK + GO}, "-14:Recipient Address 'a@x.org': 451 later" + inSend, "x\r\n", true, {"a@x.org",
         "b@x.org"}},
        {"pipelined, a reply too many", {}, hello(pipe) + V{M + A + D, OK + OK + OK + GO},
         "-6:The server's replies are out of step with the commands: '250 ok' answers 'DATA'" + inSend, "x\r\n", true},
        {"pipelined, DATA's reply to a RCPT", {}, hello(pipe) + V{M + A + B + D, OK + GO},
         "-6:The server's replies are out of step with the commands: '354 go' answers 'RCPT TO'" + inSend, "x\r\n",
         true, {"a@x.org", "b@x.org"}},
        {"pipelined in windows", {}, hello(pipe) + V{window, windowOks, "RCPT TO:<r100@x.org>\r\n" + D, OK + GO, X,
         OK}, "0:", "x\r\n", false, many},
        // SIZE and 8BITMIME; a SIZE without a number and garbage keywords are not used.
        {"size at the limit, 8bitmime", {}, hello("250-x\r\n250-8BITMIME\r\n250 SIZE 3\r\n") +
         V{"MAIL FROM:<me@x.org> SIZE=3 BODY=8BITMIME\r\n", OK, A, OK, D, GO, X, OK}, "0:", "x\r\n"},
        {"garbage keywords", {},
         hello("250-x\r\n250-SIZE\r\n250-SIZE 2x\r\n250-PIPELINING\x01\r\n250 8BITMIMEX\r\n") + V{M, OK, A, OK, D, GO,
         "xy\r\n.\r\n", OK}, "0:", "xy\r\n"},
        // DSN: the options as parameters, only where offered; bad values fail before anything is sent.
        {"dsn not offered", dsnOptions, hello(OK) + V{M, OK, A, OK, D, GO, X, OK}, "0:", "x\r\n"},
        {"dsn value with a space", {{u"DSNNotify", "success, failure"}}, hello(dsn),
         "-5:option DSNNotify: the value must be printable ASCII without spaces" + inSend, "x\r\n"},
        {"dsn never with another", {{u"DSNNotify", "never,delay"}}, hello(dsn),
         "-5:option DSNNotify: never stands alone" + inSend, "x\r\n"},
        // An international domain goes as A-labels to a server without SMTPUTF8.
        {"idn domain", {}, hello(OK) + V{M, OK, "RCPT TO:<b@xn--bcher-kva.example>\r\n", OK, D, GO, X, OK}, "0:",
         "x\r\n", false, {"b@B\xC3\xBC" "cher.example"}},
        // clang-format on
    };
    for (const Case &c : cases) {
        ScriptServer server;
        V script = c.script;
        for (std::string &line : script) // the user name escaped: "," and "=" would end its field
            if (line == "{bearer}")
                line = "AUTH OAUTHBEARER " +
                       B64("n,a=a=2Cb=3Dc,\001host=127.0.0.1\001port=" + std::to_string(server.Port()) +
                           "\001auth=Bearer tok\001\001") +
                       "\r\n";
        server.Play(script, true);
        const bool logon = c.text.empty();
        if (logon && !c.closed) server.Expect("RSET\r\n").Send("250 ok\r\n").Expect("QUIT\r\n").Send("221 bye\r\n");
        server.Pause(50).Start();
        Smtp smtp(server.Port());
        for (const auto &o : c.options) smtp.Set(o.first, o.second);
        HRESULT hr = smtp.c->Connect();
        std::string error = smtp.Coded();
        if (!logon) {
            clsSmtpEnvelope envelope{"Me <me@x.org>", c.to, c.cc, {}};
            testsupport::StringText text(c.text);
            testsupport::Caught e = testsupport::Catch([&] { smtp.c->Transfer(envelope, text); });
            error = std::to_string(e.code) + ":";
            for (const auto &m : e.messages) error += m + "\r\n";
        }
        EXPECT_EQ(hr, logon && c.error != "0:" ? E_ABORT : S_OK) << c.name;
        EXPECT_EQ(error, c.error) << c.name;
        EXPECT_EQ(smtp.c->State() == kDisconnected, logon ? c.error != "0:" : c.closed) << c.name << ": cleaned up";
        if (logon) smtp.c->Disconnect();
        if (logon && (c.options.empty() || c.options[0].first != std::u16string_view(u"ServerUser"))) {
            EXPECT_EQ(smtp.events.seen, c.error == "0:" ? connected : failed) << c.name;
        }
        EXPECT_TRUE(server.Finish()) << c.name << ": " << server.Failure().substr(0, 200);
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

// The host cancels a send with E_ABORT only. At its first event nothing went out, and RSET makes sure the server
// holds no transaction; in the text the server has the envelope and waits: only closing keeps it from delivering (no
// RSET, no end of the text). The connection is usable again.
TEST(SmtpDialogue, TheHostCancelsASendWithEAbortOnly) {
    const V hello = {"220 hi\r\n", "EHLO client\r\n", "250 ok\r\n"},
            envelope = {
                "MAIL FROM:<a@b.c>\r\n", "250 ok\r\n", "RCPT TO:<d@e.f>\r\n", "250 ok\r\n", "DATA\r\n", "354 go\r\n"};
    struct Case {
        const char *name;
        std::pair<LONG, LONG> at;
        HRESULT answer;
        V script; // after the logon
        std::string error;
        bool closed = false;
    } cases[] = {
        {"first event", {8, 0}, E_ABORT, {"RSET\r\n", "250 ok\r\n", "RSET\r\n"}, "-15:cancelled by the host\r\n"},
        {"in the text", {8, 1}, E_ABORT, envelope, "-15:cancelled by the host\r\n[clsArpaMail::Send()]\r\n", true},
        {"other failures ignored",
         {8, 1},
         E_FAIL,
         envelope + V{"Subject: x\r\n\r\nhi\r\n.\r\n", "250 ok\r\n", "RSET\r\n"},
         "0:"},
    };
    for (const Case &c : cases) {
        ScriptServer server, again;
        server.Play(hello + c.script, true).Pause(100).Start();
        again.Play(hello, true).Pause(100).Start();
        Smtp smtp(server.Port());
        smtp.events.at = c.at, smtp.events.answer = c.answer;
        ASSERT_EQ(smtp.c->Connect(), S_OK) << c.name << ": " << smtp.Error();
        clsAutoRelease<clsArpaMail> mail(new clsArpaMail(smtp.c, ""), true);
        mail->SetSenderText("a@b.c");
        mail->To().push_back("d@e.f");
        mail->RawText().Write("Subject: x\r\n\r\nhi\r\n");
        clsAutoRelease<IKvMail> m;
        mail->QueryInterface(IID_IKvMail, reinterpret_cast<void **>(m.put()));
        EXPECT_EQ(smtp.c->Send(m.get()), c.error == "0:" ? S_OK : E_ABORT) << c.name;
        EXPECT_EQ(smtp.Coded(), c.error) << c.name;
        EXPECT_EQ(smtp.c->State(), c.closed ? kDisconnected : kConnected) << c.name;
        smtp.c->Disconnect();
        EXPECT_TRUE(server.Finish()) << c.name << ": " << server.Failure();
        EXPECT_EQ(c.closed ? server.Received().find("\r\n.\r\n") : std::string::npos, std::string::npos)
            << c.name << ": the text was ended";
        testsupport::SetIntOption(smtp.c, u"ServerPort", again.Port());
        EXPECT_EQ(smtp.c->Connect(), S_OK) << c.name << ": usable again";
        smtp.c->Disconnect();
        EXPECT_TRUE(again.Finish()) << c.name << ": " << again.Failure();
    }
}

} // namespace
} // namespace kv

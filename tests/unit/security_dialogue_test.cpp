// The security parts of the SMTP and POP3 dialogues against a scripted
// server, exact bytes on the wire: STARTTLS/STLS not offered or refused (no
// password follows), "auto" going on in clear, bytes smuggled after the
// STARTTLS reply, XOAUTH2 and OAUTHBEARER with their error challenges.
#include <gtest/gtest.h>

#include "dialled.h"
#include "mime/base64.h"
#include "providers/pop3/pop3_connection.h"
#include "providers/smtp/smtp_connection.h"
#include "script_server.h"

namespace kv {
namespace {

using testsupport::ScriptServer;

std::string B64(const std::string &s) { return EncodeBase64(s.data(), s.size()); }

using Smtp = testsupport::Dialled<clsSMTPMailConnection>;

// Options for one case: name, value.
using Options = std::vector<std::pair<const char16_t *, std::string>>;

const std::string kSmtpEnd = "RSET\r\n";

TEST(SecurityDialogue, SmtpTlsModesAndOAuth) {
    auto bearer = [](uint16_t port, const std::string &name) {
        return "AUTH OAUTHBEARER " +
               B64("n,a=" + name + ",\x01" "host=127.0.0.1\x01port=" + std::to_string(port) +
                   "\x01" "auth=Bearer tok-5ecret\x01\x01") +
               "\r\n";
    };
    const std::string plain = "AUTH PLAIN " + B64(std::string("\0tim@example.org\0pw", 19)) + "\r\n";
    const std::string errorChallenge = "334 " + B64("{\"status\":\"401\"}") + "\r\n";
    struct Case {
        const char *name;
        Options options;
        const char *ehlo;
        // Expect, send, expect, send... after the EHLO reply; {port} marks the OAUTHBEARER line.
        std::vector<std::string> script;
        HRESULT result;
        std::string error;
        LONG code;
        bool closed = false; // the connection is dropped without a goodbye
    } cases[] = {
        {"starttls not offered: nothing more than goodbye", {{u"TLSMode", "starttls"}},
         "250-x\r\n250-AUTH PLAIN\r\n250 ok\r\n", {}, E_ABORT,
         "TLS required, but the server does not offer STARTTLS\r\n[clsSMTPMailConnection::OnConnect]\r\n", -5},
        {"starttls refused", {{u"TLSMode", "STARTTLS"}}, "250-x\r\n250-STARTTLS\r\n250 AUTH PLAIN\r\n",
         {"STARTTLS\r\n", "454 TLS not available\r\n"}, E_ABORT,
         "TLS required, but the server refused STARTTLS: 454 TLS not available\r\n"
         "[clsSMTPMailConnection::OnConnect]\r\n",
         -5},
        {"auto, not offered: in clear", {{u"TLSMode", "auto"}}, "250-x\r\n250 AUTH PLAIN\r\n",
         {plain, "235 ok\r\n"}, S_OK, "", 0},
        {"auto, refused: in clear", {{u"TLSMode", " Auto "}}, "250-x\r\n250-STARTTLS\r\n250 AUTH PLAIN\r\n",
         {"STARTTLS\r\n", "454 later\r\n", plain, "235 ok\r\n"}, S_OK, "", 0},
        {"none ignores STARTTLS", {{u"TLSMode", "none"}}, "250-x\r\n250-STARTTLS\r\n250 AUTH PLAIN\r\n",
         {plain, "235 ok\r\n"}, S_OK, "", 0},
        {"bytes after the STARTTLS reply", {{u"TLSMode", "starttls"}}, "250-x\r\n250 STARTTLS\r\n",
         {"STARTTLS\r\n", "220 go ahead\r\n250 injected\r\n"}, E_ABORT,
         "TLS not started: the server sent more than its reply before the handshake\r\n"
         "[clsSMTPMailConnection::OnConnect]\r\n",
         -2, true},
        {"oauthbearer error challenge", {{u"OAuth2Token", "tok-5ecret"}}, "250-x\r\n250 AUTH OAUTHBEARER\r\n",
         {"{port}", errorChallenge, "AQ==\r\n", "535 5.7.8 invalid token\r\n"}, E_ABORT,
         "authentication failed!\r\n[clsSMTPMailConnection::OnConnect]\r\n", -8},
        {"token only, server without OAuth", {{u"OAuth2Token", "tok-5ecret"}, {u"ServerPassword", ""}},
         "250-x\r\n250 AUTH PLAIN LOGIN\r\n", {}, E_ABORT,
         "the server offers neither OAUTHBEARER nor XOAUTH2 for the access token\r\n"
         "[clsSMTPMailConnection::OnConnect]\r\n",
         -8},
    };
    for (const Case &c : cases) {
        ScriptServer server;
        server.Send("220 hi\r\n").Expect("EHLO client\r\n").Send(c.ehlo);
        std::vector<std::string> script = c.script;
        for (std::string &line : script)
            if (line == "{port}") line = bearer(server.Port(), "tim@example.org");
        Play(server, script);
        if (!c.closed) server.Expect(kSmtpEnd).Send("250 ok\r\n").Expect("QUIT\r\n").Send("221 bye\r\n");
        server.Pause(50);
        server.Start();
        Smtp smtp(server.Port(), "tim@example.org", "pw");
        smtp.Set(u"LogonName", "client");
        for (const auto &o : c.options) smtp.Set(o.first, o.second);
        LONG code = 0;
        EXPECT_EQ(smtp.c->Connect(), c.result) << c.name;
        EXPECT_EQ(smtp.Error(&code), c.error) << c.name;
        EXPECT_EQ(code, c.code) << c.name;
        smtp.c->Disconnect();
        EXPECT_TRUE(server.Finish()) << c.name << ": " << server.Failure();
    }
}

TEST(SecurityDialogue, OAuthBearerEscapesTheUserName) {
    EXPECT_EQ(OAuthBearerMessage("a,b=c", "mail.example.org", 587, "t"),
              std::string("n,a=a=2Cb=3Dc,\x01" "host=mail.example.org\x01port=587\x01" "auth=Bearer t\x01\x01"));
}

class Pop3Only : public clsPOP3MailConnection {
  protected:
    IKvMail *CreateReceivedMail(const String &) override { return nullptr; }
    void ReadMailText(IKvMail *, clsReceivedText &, bool) override {}
};
using Pop3 = testsupport::Dialled<Pop3Only>;

TEST(SecurityDialogue, TlsOptionsReadBeforeConnecting) {
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

TEST(SecurityDialogue, Pop3TlsModesAndOAuth) {
    const std::string xoauth2 = B64("user=mrose\x01" "auth=Bearer tok-5ecret\x01\x01") + "\r\n";
    const std::string errorChallenge = "+ " + B64("{\"status\":\"401\"}") + "\r\n";
    const std::vector<std::string> userPass = {"USER mrose\r\n", "+OK\r\n", "PASS tanstaaf\r\n", "+OK in\r\n"};
    struct Case {
        const char *name;
        Options options;
        std::vector<std::string> script; // after the greeting
        bool loggedOn;
        std::string error;
        bool password = false; // USER and PASS follow the script
        bool closed = false;   // the connection is dropped without a goodbye
    } cases[] = {
        {"stls refused: no USER", {{u"TLSMode", "starttls"}}, {"STLS\r\n", "-ERR not here\r\n"}, false,
         "TLS required, but the server refused STLS: -ERR not here\r\n[clsPOP3MailConnection::OnConnect]\r\n"},
        {"auto, CAPA without STLS", {{u"TLSMode", "auto"}}, {"CAPA\r\n", "+OK\r\nUSER\r\nUIDL\r\n.\r\n"}, true, "", true},
        {"auto, no CAPA", {{u"TLSMode", "auto"}}, {"CAPA\r\n", "-ERR what\r\n"}, true, "", true},
        {"auto, STLS refused", {{u"TLSMode", "auto"}}, {"CAPA\r\n", "+OK\r\nSTLS\r\n.\r\n", "STLS\r\n", "-ERR no\r\n"},
         true, "", true},
        {"bytes after +OK to STLS", {{u"TLSMode", "starttls"}}, {"STLS\r\n", "+OK begin\r\n+OK injected\r\n"}, false,
         "TLS not started: the server sent more than its reply before the handshake\r\n"
         "[clsPOP3MailConnection::OnConnect]\r\n", false, true},
        {"xoauth2 error challenge", {{u"OAuth2Token", "tok-5ecret"}},
         {"CAPA\r\n", "+OK\r\nSASL XOAUTH2\r\n.\r\n", "AUTH XOAUTH2\r\n", "+\r\n", xoauth2, errorChallenge, "\r\n",
          "-ERR denied\r\n"},
         false, "authentication failed!\r\n[clsPOP3MailConnection::OnConnect]\r\n"},
        {"token, no SASL: password", {{u"OAuth2Token", "tok-5ecret"}}, {"CAPA\r\n", "+OK\r\nUSER\r\n.\r\n"}, true,
         "", true},
    };
    for (const Case &c : cases) {
        ScriptServer server;
        server.Send("+OK POP3 ready\r\n");
        std::vector<std::string> script = c.script;
        if (c.password) script.insert(script.end(), userPass.begin(), userPass.end());
        Play(server, script);
        if (!c.closed) server.Expect("QUIT\r\n").Send("+OK bye\r\n");
        server.Pause(50);
        server.Start();
        Pop3 pop(server.Port());
        for (const auto &o : c.options) pop.Set(o.first, o.second);
        EXPECT_EQ(pop.c->Connect(), c.loggedOn ? S_OK : E_ABORT) << c.name;
        EXPECT_EQ(pop.Error(), c.error) << c.name;
        pop.c->Disconnect();
        EXPECT_TRUE(server.Finish()) << c.name << ": " << server.Failure();
    }
}

} // namespace
} // namespace kv

// The SMTP connection's dialogue against a scripted server: greeting, EHLO and
// HELO, the AUTH choice and fallbacks, and the mail transfer with refused
// recipients, exact bytes on the wire.
#include <gtest/gtest.h>

#include <cstring>

#include "runtime/kvlog.h"
#include "mime/base64.h"
#include "providers/internet/md5.h"
#include "script_server.h"
#include "test_text.h"
#include "providers/smtp/smtp_connection.h"

namespace kv {
namespace {

using testsupport::ScriptServer;

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

struct Smtp {
    clsSMTPMailConnection *c = new clsSMTPMailConnection();
    Events events;
    explicit Smtp(uint16_t port, const char16_t *user = u"", const char16_t *password = u"",
                  const char16_t *logon = u"client") {
        c->AddRef();
        Set(u"ServerAddress", u"127.0.0.1");
        Set(u"ServerUser", user);
        Set(u"ServerPassword", password);
        Set(u"LogonName", logon);
        VARIANT v;
        VariantInit(&v);
        v.vt = VT_I4;
        v.lVal = port;
        c->SetOption(u"ServerPort", &v);
        v.lVal = 3000;
        c->SetOption(u"SocketTimeout", &v);
        c->SetMailStateNotificationSlot(&events);
    }
    ~Smtp() {
        c->SetMailStateNotificationSlot(nullptr);
        c->Release();
    }
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

TEST(SmtpDialogue, EhloHeloAndLogonName) {
    struct Case {
        const char *name;
        const char16_t *logon;
        std::vector<std::string> script; // expect, send, expect, send...
        HRESULT result;
        const char *error;
    } cases[] = {
        {"ehlo", u"my pc#1", {"EHLO my_pc_1\r\n", "250 hi\r\n"}, S_OK, ""},
        {"helo fallback", u"client",
         {"EHLO client\r\n", "500 what\r\n", "HELO client\r\n", "250 ok\r\n"}, S_OK, ""},
        {"helo answered 500 is accepted", u"client",
         {"EHLO client\r\n", "500 what\r\n", "HELO client\r\n", "500 no\r\n"}, S_OK, ""},
        {"ehlo 502", u"client", {"EHLO client\r\n", "502 not implemented\r\n"}, E_ABORT,
         "unexpected reply '502 not implemented'\r\n[clsTextSocket::SocketQuery]\r\n[clsSMTPSocket::SocketQuery]\r\n"
         "[clsSMTPMailConnection::OnConnect]\r\n"},
    };
    for (const Case &c : cases) {
        ScriptServer server;
        server.Send("220 test ESMTP\r\n");
        for (size_t i = 0; i < c.script.size(); ++i) {
            if (i % 2 == 0) server.Expect(c.script[i]);
            else server.Send(c.script[i]);
        }
        if (c.result == S_OK) server.Expect("RSET\r\n").Send("250 ok\r\n").Expect("QUIT\r\n").Send("221 bye\r\n");
        server.Pause(50);
        server.Start();
        Smtp smtp(server.Port(), u"", u"", c.logon);
        EXPECT_EQ(smtp.c->Connect(), c.result) << c.name;
        EXPECT_EQ(smtp.Error(), c.error) << c.name;
        if (c.result == S_OK) {
            EXPECT_EQ(smtp.c->State(), kConnected);
            EXPECT_EQ(smtp.c->Disconnect(), S_OK);
        } else {
            EXPECT_EQ(smtp.c->State(), kDisconnected) << "a failed connect cleans up";
        }
        EXPECT_TRUE(server.Finish()) << c.name << ": " << server.Failure();
    }
}

TEST(SmtpDialogue, GreetingOtherThan220) {
    ScriptServer server;
    server.Send("554 go away\r\n").Pause(50);
    server.Start();
    Smtp smtp(server.Port());
    EXPECT_EQ(smtp.c->Connect(), E_ABORT);
    LONG code = 0;
    EXPECT_EQ(smtp.Error(&code), "Logon unsuccessful\r\n[clsSMTPMailConnection::OnConnect]\r\n");
    EXPECT_EQ(code, -6);
    std::vector<std::pair<LONG, LONG>> expected = {{2, 0}, {3, 1}, {3, 0}, {3, 0}};
    EXPECT_EQ(smtp.events.seen, expected);
    EXPECT_TRUE(server.Finish()) << server.Failure();
}

std::string B64(const std::string &s) { return EncodeBase64(s.data(), s.size()); }

TEST(SmtpDialogue, AuthenticationChoiceAndFallbacks) {
    const std::string challenge = "<1896.697170952@postoffice.example.net>";
    const std::string cramAnswer = B64("tim " + HmacMd5Hex("tanstaaftanstaaf", challenge)) + "\r\n";
    const std::string plain = "AUTH PLAIN " + B64(std::string("\0tim\0tanstaaftanstaaf", 21)) + "\r\n";
    struct Case {
        const char *name;
        const char *ehlo;
        std::vector<std::string> script;
        HRESULT result;
        const char *error;
    } cases[] = {
        {"cram refused, login", "250-x\r\n250-AUTH LOGIN PLAIN CRAM-MD5\r\n250 ok\r\n",
         {"AUTH CRAM-MD5\r\n", "334 " + B64(challenge) + "\r\n", cramAnswer, "535 no\r\n", "AUTH LOGIN\r\n",
          "334 VXNlcm5hbWU6\r\n", B64("tim") + "\r\n", "334 UGFzc3dvcmQ6\r\n", B64("tanstaaftanstaaf") + "\r\n",
          "235 ok\r\n"},
         S_OK, ""},
        {"both refused", "250-x\r\n250-AUTH LOGIN PLAIN CRAM-MD5\r\n250 ok\r\n",
         {"AUTH CRAM-MD5\r\n", "334 " + B64(challenge) + "\r\n", cramAnswer, "535 no\r\n", "AUTH LOGIN\r\n",
          "334 VXNlcm5hbWU6\r\n", B64("tim") + "\r\n", "334 UGFzc3dvcmQ6\r\n", B64("tanstaaftanstaaf") + "\r\n",
          "535 no\r\n"},
         E_ABORT, "authentication failed!\r\n[clsSMTPMailConnection::OnConnect]\r\n"},
        {"plain only", "250-x\r\n250-AUTH=PLAIN\r\n250 ok\r\n", {plain, "235 ok\r\n"}, S_OK, ""},
        // Servers may list AUTH on the last line of the reply too.
        {"auth on the last line", "250-x\r\n250 AUTH PLAIN\r\n", {plain, "235 ok\r\n"}, S_OK, ""},
        {"no mechanism offered", "250 x\r\n", {}, S_OK, ""},
    };
    for (const Case &c : cases) {
        ScriptServer server;
        server.Send("220 hi\r\n").Expect("EHLO client\r\n").Send(c.ehlo);
        for (size_t i = 0; i < c.script.size(); ++i) {
            if (i % 2 == 0) server.Expect(c.script[i]);
            else server.Send(c.script[i]);
        }
        server.Pause(50);
        server.Start();
        Smtp smtp(server.Port(), u"tim", u"tanstaaftanstaaf");
        EXPECT_EQ(smtp.c->Connect(), c.result) << c.name;
        EXPECT_EQ(smtp.Error(), c.error) << c.name;
        smtp.c->Disconnect();
        EXPECT_TRUE(server.Finish()) << c.name << ": " << server.Failure();
    }
}

TEST(SmtpDialogue, NoUserNoAuthEvenWhenOffered) {
    ScriptServer server;
    server.Send("220 hi\r\n").Expect("EHLO client\r\n").Send("250-x\r\n250-AUTH PLAIN\r\n250 ok\r\n");
    server.Expect("RSET\r\n").Send("250 ok\r\n").Expect("QUIT\r\n").Send("221 bye\r\n").Pause(50);
    server.Start();
    Smtp smtp(server.Port());
    EXPECT_EQ(smtp.c->Connect(), S_OK);
    EXPECT_EQ(smtp.c->Disconnect(), S_OK);
    std::vector<std::pair<LONG, LONG>> expected = {{2, 0}, {3, 1}, {6, 0}, {7, 1}};
    EXPECT_EQ(smtp.events.seen, expected) << "no logon events without a user";
    EXPECT_TRUE(server.Finish()) << server.Failure();
}

TEST(SmtpDialogue, PopBeforeSmtpLogsOnWithThePop3Options) {
    ScriptServer pop, server;
    pop.Send("+OK ready\r\n").Expect("USER tim\r\n").Send("+OK\r\n").Expect("PASS pw\r\n").Send("+OK\r\n");
    pop.Expect("QUIT\r\n").Send("+OK bye\r\n");
    server.Send("220 hi\r\n").Expect("EHLO client\r\n").Send("250 ok\r\n").Pause(50);
    pop.Start();
    server.Start();
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

TEST(SmtpDialogue, TransferOutcomes) {
    struct Case {
        const char *name;
        std::vector<String> to, cc;
        std::string text;
        std::vector<std::string> script;
        const char *error; // "" = success
        int32_t code;
    } cases[] = {
        {"text ending in CR LF gets no extra line", {"a@x.org"}, {}, "Subject: s\r\n\r\nbody\r\n",
         {"RCPT TO:<a@x.org>\r\n", "250 ok\r\n", "DATA\r\n", "354 go\r\n",
          "Subject: s\r\n\r\nbody\r\n.\r\n", "250 queued\r\n"},
         "", 0},
        {"text without a final line end", {"a@x.org"}, {}, "Subject: s\r\n\r\nbody",
         {"RCPT TO:<a@x.org>\r\n", "250 ok\r\n", "DATA\r\n", "354 go\r\n", "Subject: s\r\n\r\nbody\r\n.\r\n",
          "250 queued\r\n"},
         "", 0},
        // Texts larger than one send block: the final CR LF split across two blocks, or missing.
        {"CR LF across blocks", {"a@x.org"}, {}, std::string((1 << 20) - 1, 'a') + "\r\n",
         {"RCPT TO:<a@x.org>\r\n", "250 ok\r\n", "DATA\r\n", "354 go\r\n",
          std::string((1 << 20) - 1, 'a') + "\r\n.\r\n", "250 queued\r\n"},
         "", 0},
        {"large text without a final line end", {"a@x.org"}, {}, std::string(3 << 20, 'b'),
         {"RCPT TO:<a@x.org>\r\n", "250 ok\r\n", "DATA\r\n", "354 go\r\n",
          std::string(3 << 20, 'b') + "\r\n.\r\n", "250 queued\r\n"},
         "", 0},
        {"251 and 252 accept", {"\"A\" <a@x.org>", "smtp:b@x.org"}, {}, "x\r\n",
         {"RCPT TO:<a@x.org>\r\n", "251 forwarded\r\n", "RCPT TO:<b@x.org>\r\n", "252 cannot verify\r\n",
          "DATA\r\n", "354 go\r\n", "x\r\n.\r\n", "250 ok\r\n"},
         "", 0},
        {"one of two refused", {"a@x.org", "b@x.org"}, {}, "x\r\n",
         {"RCPT TO:<a@x.org>\r\n", "550 no such user\r\n", "RCPT TO:<b@x.org>\r\n", "250 ok\r\n", "DATA\r\n",
          "354 go\r\n", "x\r\n.\r\n", "250 ok\r\n"},
         "Recipient Address 'a@x.org': 550 no such user\r\n[clsArpaMail::Send()]\r\n", -14},
        {"all refused (553 too)", {"a@x.org"}, {"c@x.org"}, "x\r\n",
         {"RCPT TO:<a@x.org>\r\n", "550 no\r\n", "RCPT TO:<c@x.org>\r\n", "553 bad\r\n", "RSET\r\n", "250 ok\r\n"},
         "The Message has not been sent!\nRecipient Address 'a@x.org': 550 no\nRecipient Address 'c@x.org': 553 "
         "bad\r\n[clsArpaMail::Send()]\r\n",
         -14},
        {"no recipients at all", {}, {}, "x\r\n", {"RSET\r\n", "250 ok\r\n"}, "", 0},
        {"temporary failure", {"a@x.org"}, {}, "x\r\n",
         {"RCPT TO:<a@x.org>\r\n", "451 later\r\n", "RSET\r\n", "250 ok\r\n"},
         "Recipient Address 'a@x.org': 451 later\r\n[clsArpaMail::Send()]\r\n", -14},
        {"data refused at the end", {"a@x.org"}, {}, "x\r\n",
         {"RCPT TO:<a@x.org>\r\n", "250 ok\r\n", "DATA\r\n", "354 go\r\n", "x\r\n.\r\n", "554 spam\r\n",
          "RSET\r\n", "250 ok\r\n"},
         "Message could not be posted: 554 spam\r\n[clsArpaMail::Send()]\r\n", -5},
    };
    for (const Case &c : cases) {
        ScriptServer server;
        server.Send("220 hi\r\n").Expect("EHLO client\r\n").Send("250 ok\r\n");
        server.Expect("MAIL FROM:<me@x.org>\r\n").Send("250 ok\r\n");
        for (size_t i = 0; i < c.script.size(); ++i) {
            if (i % 2 == 0) server.Expect(c.script[i]);
            else server.Send(c.script[i]);
        }
        server.Pause(50);
        server.Start();
        Smtp smtp(server.Port());
        ASSERT_EQ(smtp.c->Connect(), S_OK) << c.name;
        clsSmtpEnvelope envelope{"Me <me@x.org>", c.to, c.cc, {}};
        testsupport::StringText text(c.text);
        std::string error;
        int32_t code = 0;
        try {
            smtp.c->Transfer(envelope, text);
        } catch (const clsExcept &e) {
            for (const auto &m : e.Messages()) error += m + "\r\n";
            code = e.Code();
        }
        EXPECT_EQ(error, c.error) << c.name;
        EXPECT_EQ(code, c.code) << c.name;
        EXPECT_TRUE(server.Finish()) << c.name << ": " << server.Failure().substr(0, 200);
    }
}

TEST(SmtpDialogue, SenderRefused) {
    ScriptServer server;
    server.Send("220 hi\r\n").Expect("EHLO client\r\n").Send("250 ok\r\n");
    server.Expect("MAIL FROM:<me@x.org>\r\n").Send("553 not you\r\n").Expect("RSET\r\n").Send("250 ok\r\n").Pause(50);
    server.Start();
    Smtp smtp(server.Port());
    ASSERT_EQ(smtp.c->Connect(), S_OK);
    clsSmtpEnvelope envelope{"Me <me@x.org>", {"a@x.org"}, {}, {}};
    testsupport::StringText text("x");
    try {
        smtp.c->Transfer(envelope, text);
        ADD_FAILURE() << "no error";
    } catch (const clsExcept &e) {
        EXPECT_EQ(e.Messages()[0], "Sender Address 'Me <me@x.org>' ('me@x.org') bad: 553 not you");
        EXPECT_EQ(e.Code(), -14);
    }
    EXPECT_TRUE(server.Finish()) << server.Failure();
}

} // namespace
} // namespace kv

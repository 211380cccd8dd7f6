// SMTP, POP3 and SOCKS against real servers on loopback.
#include <gtest/gtest.h>

#include <pwd.h>

#include <cstring>

#include "fake_mail.h"
#include "fixtures.h"
#include "log_lines.h"
#include "providers/pop3/pop3_connection.h"
#include "providers/smtp/smtp_connection.h"
#include "test_text.h"

namespace kv {
namespace {

void SetText(IKvMailConnection2 *c, const char16_t *name, const std::string &value) {
    testsupport::SetTextOption(c, name, value);
}
void SetInt(IKvMailConnection2 *c, const char16_t *name, int32_t value) { testsupport::SetIntOption(c, name, value); }
std::string ErrorOf(IKvMailConnection2 *c) { return testsupport::ErrorText(c); }
using Text = testsupport::StringText;


struct SmtpClient {
    clsSMTPMailConnection *c = new clsSMTPMailConnection();
    SmtpClient(uint16_t port, const std::string &user = "", const std::string &password = "") {
        c->AddRef();
        SetText(c, u"ServerAddress", "127.0.0.1");
        SetInt(c, u"ServerPort", port);
        SetText(c, u"ServerUser", user);
        SetText(c, u"ServerPassword", password);
        SetInt(c, u"SocketTimeout", 5000);
    }
    ~SmtpClient() { c->Release(); }
};

const std::string kMessage =
    "From: Me <me@example.org>\r\nTo: you@example.org\r\nSubject: integration\r\n\r\n"
    "line one\r\n..a dot-stuffed line\r\n\r\nlast line\r\n";

TEST(SmtpIntegration, AuthenticatedSendArrivesByteForByte) {
    fixtures::SmtpSink sink;
    ASSERT_TRUE(sink.Start("tim", "tanstaaf"));
    SmtpClient smtp(sink.Port(), "tim", "tanstaaf");
    ASSERT_EQ(smtp.c->Connect(), S_OK) << ErrorOf(smtp.c);
    clsSmtpEnvelope envelope{"Me <me@example.org>", {"you@example.org", "refuse@example.org"}, {}, {"hidden@example.org"}};
    Text text(kMessage);
    std::string error;
    try {
        smtp.c->Transfer(envelope, text);
    } catch (const clsExcept &e) {
        error = e.Messages().front();
    }
    EXPECT_EQ(error, "Recipient Address 'refuse@example.org': 550 no such user here");
    EXPECT_EQ(smtp.c->Disconnect(), S_OK);
    // The sink sees the message unstuffed, as any server stores it.
    std::string expected = kMessage;
    expected.replace(expected.find("..a dot"), 2, ".");
    EXPECT_EQ(sink.Message(1), expected);
    EXPECT_EQ(sink.Envelope(1), "me@example.org\nyou@example.org\nhidden@example.org\n");
}

TEST(SmtpIntegration, WrongPasswordFailsAfterEveryMechanism) {
    fixtures::SmtpSink sink;
    ASSERT_TRUE(sink.Start("tim", "tanstaaf"));
    SmtpClient smtp(sink.Port(), "tim", "wrong");
    EXPECT_EQ(smtp.c->Connect(), E_ABORT);
    EXPECT_EQ(ErrorOf(smtp.c), "authentication failed!\r\n[clsSMTPMailConnection::OnConnect]\r\n");
}

TEST(SmtpIntegration, ThroughSocks4And5) {
    if (!fixtures::Dante::Available()) GTEST_SKIP() << "danted is not installed";
    fixtures::SmtpSink sink;
    ASSERT_TRUE(sink.Start());
    fixtures::Dante proxy;
    ASSERT_TRUE(proxy.Start(false));
    for (int type : {1, 2}) {
        SmtpClient smtp(sink.Port());
        SetInt(smtp.c, u"ProxyType", type);
        SetText(smtp.c, u"ProxyAddress", "127.0.0.1");
        SetInt(smtp.c, u"ProxyPort", proxy.Port());
        ASSERT_EQ(smtp.c->Connect(), S_OK) << "SOCKS " << (type == 1 ? 4 : 5) << ": " << ErrorOf(smtp.c) << proxy.Log();
        clsSmtpEnvelope envelope{"me@example.org", {"you@example.org"}, {}, {}};
        Text text(kMessage);
        EXPECT_NO_THROW(smtp.c->Transfer(envelope, text));
        smtp.c->Disconnect();
    }
    EXPECT_FALSE(sink.Message(2).empty());
}

TEST(SmtpIntegration, ThroughSocks5WithUserAndPassword) {
    if (!fixtures::Dante::Available()) GTEST_SKIP() << "danted is not installed";
    // A system account that the CI set-up creates for this test.
    if (!getpwnam("kvsocks")) GTEST_SKIP() << "no account kvsocks for the SOCKS 5 password test";
    fixtures::SmtpSink sink;
    ASSERT_TRUE(sink.Start());
    fixtures::Dante proxy;
    ASSERT_TRUE(proxy.Start(true));
    for (const char *password : {"kvsocks-pw", "wrong"}) {
        SmtpClient smtp(sink.Port());
        SetInt(smtp.c, u"ProxyType", 2);
        SetText(smtp.c, u"ProxyAddress", "127.0.0.1");
        SetInt(smtp.c, u"ProxyPort", proxy.Port());
        SetText(smtp.c, u"ProxyUser", "kvsocks");
        SetText(smtp.c, u"ProxyPassword", password);
        HRESULT hr = smtp.c->Connect();
        if (std::string(password) == "wrong") {
            EXPECT_EQ(hr, E_ABORT);
            EXPECT_EQ(ErrorOf(smtp.c).rfind("proxy authorization failed\r\n", 0), 0u) << ErrorOf(smtp.c);
        } else {
            EXPECT_EQ(hr, S_OK) << ErrorOf(smtp.c) << proxy.Log();
        }
        smtp.c->Disconnect();
    }
}

using testsupport::LinesMail;

class RecordingPop3 : public clsPOP3MailConnection {
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
        static_cast<LinesMail *>(mail)->Take(text.View());
        static_cast<LinesMail *>(mail)->complete = complete;
    }
};

std::string Joined(const std::vector<String> &lines) {
    std::string r;
    for (const auto &l : lines) r += l + "\r\n";
    return r;
}

TEST(Pop3Integration, ListLoadAndDeleteAgainstDovecot) {
    if (!fixtures::Dovecot::Available()) GTEST_SKIP() << "dovecot is not installed";
    for (bool apop : {false, true}) {
        fixtures::Dovecot server;
        ASSERT_TRUE(server.Start("mrose", "tanstaaf", apop)) << server.Log();
        const std::string messages[] = {
            "Subject: one\r\n\r\nfirst body\r\n.starts with a period\r\n",
            "Subject: two\r\nX-Long: yes\r\n\r\nsecond\r\nbody\r\n",
            "Subject: three\r\n\r\n",
        };
        for (int i = 0; i < 3; ++i) server.Deliver("mrose", "100000000" + std::to_string(i) + ".M1P1.test", messages[i]);

        auto *pop = new RecordingPop3();
        pop->AddRef();
        SetText(pop, u"ServerAddress", "127.0.0.1");
        SetInt(pop, u"ServerPort", server.Port());
        SetText(pop, u"ServerUser", "mrose");
        SetText(pop, u"ServerPassword", "tanstaaf");
        ASSERT_EQ(pop->Connect(), S_OK) << ErrorOf(pop) << server.Log();
        testsupport::LogLines log(kLogProtocol);
        ASSERT_EQ(pop->QueryMailbox(0), S_OK) << ErrorOf(pop);
        ASSERT_EQ(pop->made.size(), 3u);
        // dovecot offers PIPELINING: the commands for all three leave in one write.
        std::vector<std::string> sent = log.Starting({"->'UIDL"});
        ASSERT_EQ(sent.size(), 1u) << testing::PrintToString(log.lines);
        EXPECT_NE(sent[0].find("TOP 3 1"), std::string::npos) << sent[0];
        for (int i = 0; i < 3; ++i) {
            LinesMail *m = pop->made[size_t(i)];
            EXPECT_EQ(m->cookie, std::to_string(i + 1) + " ");
            EXPECT_FALSE(m->complete);
            ASSERT_EQ(pop->LoadRestOfMail(m), S_OK) << ErrorOf(pop);
            EXPECT_EQ(Joined(m->lines), messages[i]) << "apop " << apop << " message " << i;
        }
        EXPECT_EQ(pop->DeleteMail(u"2 "), S_OK) << ErrorOf(pop);
        EXPECT_EQ(pop->Disconnect(), S_OK);
        pop->Release();
        EXPECT_EQ(server.MessagesLeft("mrose"), 2u) << "DELE takes effect at QUIT";
        if (apop) {
            EXPECT_NE(server.Log().find("APOP"), std::string::npos) << server.Log();
        }
    }
}

} // namespace
} // namespace kv

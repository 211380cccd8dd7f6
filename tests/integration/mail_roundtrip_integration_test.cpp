// Mails as a host builds them, through the public interfaces, to real servers:
// through the SMTP and the CDOSYS provider (its CDO objects here the substitute
// over the component's own writer and SMTP), through dante, and to Postfix for
// the SMTP extensions as it sees them.
#include <gtest/gtest.h>

#include <pwd.h>

#include <map>

#include "clients.h"
#include "fixtures.h"

namespace {

using orkv14::Bstr;
using orkv14::Ptr;
using testsupport::ErrorText;

TEST(MailRoundTrip, SentMailArrivesAsRendered) {
    std::string binary(150000, '\0');
    for (size_t i = 0; i < binary.size(); ++i) binary[i] = char(i * 13 + i / 511);
    struct Case {
        const IID *selector;
        const char *auth, *password; // AuthProtocol, "" unset
        std::string error;           // "" sent
    } cases[] = {
        {&IID_IKvSMTPSendConnection, "", "tanstaaf", ""},
        // CDO's basic logon: the SMTP provider below picks the mechanism.
        {&IID_IKvCDOSYSSendConnection, "Plain", "tanstaaf", ""},
        {&IID_IKvCDOSYSSendConnection, "plain", "wrong",
         "authentication failed!\r\n[clsSMTPMailConnection::OnConnect]\r\nOperation aborted (80004004)\r\n"
         "[clsCDOSYSMail::Send()]\r\n"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.password);
        fixtures::SmtpSink sink;
        ASSERT_TRUE(sink.Start("tim", "tanstaaf"));
        Ptr<IKvMailConnection2> smtp = testsupport::Connection(*c.selector, sink.port, "tim", c.password);
        ASSERT_TRUE(smtp);
        if (*c.auth) testsupport::SetTextOption(smtp.get(), u"AuthProtocol", c.auth);

        Ptr<IKvMail> mail = testsupport::NewMail(smtp.get(), "\"Ann Example\" <ann@example.org>",
                                                 "bob@example.org\tcarl@example.org", "Gr\u00fc\u00dfe aus K\u00f6ln",
                                                 "Hallo,\r\n.a line with a period\r\n\r\nbis bald \xC3\xA4\r\n");
        EXPECT_EQ(mail->AddCCRecipients(Bstr("dora@example.org").get()), S_OK);
        EXPECT_EQ(mail.As<IKvMail2>()->AddBCCRecipients(Bstr("hidden@example.org").get()), S_OK);
        testsupport::AddBody(mail.get(), "text/html", "<p>Hallo \xC3\xA4</p>\r\n");
        Ptr<IKvMailAttachment> attachment;
        ASSERT_EQ(mail->CreateAndAddAttachment(attachment.put()), S_OK);
        attachment->SetName(Bstr("data.bin").get());
        attachment->SetContents(orkv14::MemoryStream(binary).get());

        ASSERT_EQ(smtp->Connect(), S_OK) << ErrorText(smtp.get());
        HRESULT sent = smtp->Send(mail.get());
        const std::string arrived = sink.Message(1);
        if (!c.error.empty()) {
            LONG code = 0;
            EXPECT_EQ(sent, E_ABORT);
            EXPECT_EQ(ErrorText(smtp.get(), &code), c.error);
            EXPECT_EQ(code, -5);
            EXPECT_EQ(arrived, "");
            continue;
        }
        ASSERT_EQ(sent, S_OK) << ErrorText(smtp.get());
        EXPECT_EQ(smtp->Disconnect(), S_OK);
        EXPECT_EQ(sink.AuthMechanism(), "CRAM-MD5") << "the configured user logged on";
        EXPECT_EQ(sink.Envelope(1),
                  "ann@example.org\nbob@example.org\ncarl@example.org\ndora@example.org\nhidden@example.org\n");
        EXPECT_EQ(arrived.find("hidden@example.org"), std::string::npos) << "a blind copy stays out of the text";
        if (*c.auth) {
            EXPECT_NE(arrived.find("X-Mailer: orkv14 " KV_VERSION_STRING "\r\n"), std::string::npos) << arrived;
            continue;
        }
        // What arrived is the rendered text with its dots unstuffed, byte for byte.
        Ptr<IStream> raw = orkv14::MemoryStream("");
        ASSERT_EQ(mail->GetRawText(raw.get()), S_OK);
        EXPECT_EQ(arrived, testsupport::Unstuffed(orkv14::ReadAll(raw.get())));
    }
}

TEST(MailRoundTrip, SmtpThroughSocksInClearAndOverTls) {
    KV_NEED_PEER(fixtures::TestPki::Available(), "the openssl command");
    KV_NEED_PEER(fixtures::Dante::Available(), "danted");
    // A system account that scripts/setup-test-accounts.sh creates for this test.
    KV_NEED_PEER(getpwnam("kvsocks") != nullptr, "the account kvsocks");
    fixtures::TestPki pki;
    ASSERT_TRUE(pki.Make());
    fixtures::Dante open, guarded;
    ASSERT_TRUE(open.Start(false));
    ASSERT_TRUE(guarded.Start(true));
    struct Case {
        int type;
        const char *server, *tls, *password;
    } cases[] = {
        {1, "127.0.0.1", "none", ""},
        // The proxy resolves the name. dante refuses SOCKS 4a name requests;
        // their bytes are checked against a scripted proxy.
        {2, "localhost", "implicit", ""},
        {2, "127.0.0.1", "starttls", "kvsocks-pw"},
    };
    for (const Case &t : cases) {
        SCOPED_TRACE(std::to_string(t.type) + " " + t.server + " " + t.tls + " " + t.password);
        fixtures::SmtpSink sink;
        std::vector<std::string> tls = {"--tls", t.tls, pki.Cert("good"), pki.Key("good")};
        ASSERT_TRUE(sink.Start("tim", "tanstaaf", *t.tls == 'n' ? std::vector<std::string>{} : tls));
        fixtures::Dante &proxy = *t.password ? guarded : open;
        auto smtp = testsupport::Connection(IID_IKvSMTPSendConnection, sink.port, "tim", "tanstaaf");
        ASSERT_TRUE(smtp);
        for (const auto &[name, value] : std::map<const char16_t *, std::string>{
                 {u"ServerAddress", t.server},
                 {u"ProxyAddress", "127.0.0.1"},
                 {u"ProxyResolve", std::string(t.server) == "localhost" ? "remote" : "local"},
                 {u"TLSMode", t.tls},
                 {u"TLSCAFile", pki.CaFile()},
                 {u"ProxyUser", *t.password ? "kvsocks" : ""},
                 {u"ProxyPassword", t.password}})
            if (!value.empty()) testsupport::SetTextOption(smtp.get(), name, value);
        testsupport::SetIntOption(smtp.get(), u"ProxyType", t.type);
        testsupport::SetIntOption(smtp.get(), u"ProxyPort", proxy.port);
        ASSERT_EQ(smtp->Connect(), S_OK) << testsupport::ErrorText(smtp.get()) << proxy.Log();
        auto mail = testsupport::NewMail(smtp.get(), "me@example.org", "you@example.org", "proxied", "over the proxy\r\n");
        EXPECT_EQ(smtp->Send(mail.get()), S_OK) << testsupport::ErrorText(smtp.get());
        smtp->Disconnect();
        EXPECT_NE(sink.Message(1).find("\r\n\r\nover the proxy\r\n"), std::string::npos) << sink.Message(1);
        EXPECT_EQ(sink.AuthMechanism(), "CRAM-MD5");
    }
}


TEST(PostfixIntegration, ExtensionsAsPostfixSeesThem) {
    KV_NEED_PEER(fixtures::Postfix::Available(), "postfix (installed, and the tests run as root)");
    fixtures::Postfix postfix;
    ASSERT_TRUE(postfix.Start()) << postfix.Log();
    const std::string umlaut = "gr\xC3\xBC\xC3\x9F"
                               "e\r\n";
    struct Case {
        const char *name;
        bool plain; // the listener without 8BITMIME and SMTPUTF8, SIZE 2000
        std::string to, body;
        std::vector<std::pair<const char16_t *, const char *>> options;
        std::string error; // the first line
        const char *box;   // where the mail (or the report) arrives
        std::vector<std::string> present, absent;
    } cases[] = {
        // clang-format off
        {"8bitmime", false, "you@example.org", umlaut, {}, "", "you",
         {"Content-Transfer-Encoding: 8bit", "gr\xC3\xBC\xC3\x9F" "e\n"}, {"=C3"}},
        {"no 8bitmime: quoted-printable", true, "you@example.org", umlaut, {}, "", "you",
         {"Content-Transfer-Encoding: quoted-printable", "gr=C3=BC=C3=9Fe"}, {"\xC3"}},
        {"size over the limit", true, "you@example.org", std::string(3000, 'x'), {}, "The message of 3", nullptr,
         {}, {}},
        {"one refused among pipelined recipients", false, "you@example.org\tnobody@example.org\tme@example.org",
         "hi\r\n", {}, "Recipient Address 'nobody@example.org': 550 5.1.1 <nobody@example.org>: Recipient address "
         "rejected: User unknown in virtual mailbox table", "me", {"Delivered-To: me@example.org", "hi"}, {}},
        {"dsn", false, "you@example.org", "hi\r\n",
         {{u"DSNNotify", "success"}, {u"DSNReturn", "headers"}, {u"DSNEnvelopeID", "kv+1=2"}}, "", "me",
         {"Successful Mail Delivery Report", "Original-Envelope-Id: kv+1=2", "text/rfc822-headers"}, {}},
        {"international domain", true, "b@b\xC3\xBC" "cher.example", "hi\r\n", {}, "", "idn",
         {"Delivered-To: b@xn--bcher-kva.example"}, {}},
        {"smtputf8", false, "j\xC3\xB6rg@example.org", "hi\r\n", {}, "", "jorg",
         {"Delivered-To: j\xC3\xB6rg@example.org", "with UTF8SMTP"}, {}},
        {"no smtputf8", true, "j\xC3\xB6rg@example.org", "hi\r\n", {},
         "The address 'j\xC3\xB6rg@example.org' is not ASCII before its domain", nullptr, {}, {}},
        // clang-format on
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        auto smtp = testsupport::Connection(IID_IKvSMTPSendConnection, c.plain ? postfix.plainPort : postfix.port);
        ASSERT_TRUE(smtp);
        for (const auto &o : c.options) testsupport::SetTextOption(smtp.get(), o.first, o.second);
        Ptr<IKvMail> mail = testsupport::NewMail(smtp.get(), "Me <me@example.org>", c.to, c.name, c.body);

        ASSERT_EQ(smtp->Connect(), S_OK) << ErrorText(smtp.get());
        HRESULT sent = smtp->Send(mail.get());
        kv::String error = ErrorText(smtp.get());
        EXPECT_EQ(sent, c.error.empty() ? S_OK : E_ABORT) << error;
        EXPECT_EQ(error.substr(0, c.error.size()), c.error);
        smtp->Disconnect();
        // What the host reads back is the text as rendered, whatever went on
        // the wire, and names the mail as delivered.
        Ptr<IStream> raw = orkv14::MemoryStream("");
        mail->GetRawText(raw.get());
        std::string rendered = orkv14::ReadAll(raw.get());
        bool eightBit = c.body == umlaut;
        EXPECT_TRUE(!eightBit || rendered.find(umlaut) != std::string::npos);
        if (!c.box) continue;
        std::string text = postfix.Delivered(c.box, c.present);
        EXPECT_FALSE(text.empty()) << postfix.Log().substr(postfix.Log().size() - 2000);
        for (const std::string &a : c.absent) EXPECT_EQ(text.find(a), std::string::npos) << a;
        size_t id = eightBit ? rendered.find("Message-ID: ") : 0;
        EXPECT_NE(text.find(rendered.substr(id, rendered.find('\r', id) - id)), std::string::npos);
    }
}

} // namespace

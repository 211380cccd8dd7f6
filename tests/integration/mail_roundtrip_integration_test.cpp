// A mail as a host builds it, sent through the SMTP provider and through the
// CDOSYS provider (its CDO objects here are the substitute over the
// component's own writer and SMTP) to a real SMTP server, only through the
// public interfaces. Reading mail back from a real mailbox: imap_integration_test.
#include <gtest/gtest.h>

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
        Ptr<IKvMailConnection2> smtp;
        Ptr<IClassFactory> f;
        DllGetClassObject(CLSID_KvComponent, IID_IClassFactory, f.put_void());
        f->CreateInstance(nullptr, *c.selector, smtp.put_void());
        testsupport::Configure(smtp.get(), {{u"ServerAddress", "127.0.0.1"},
                                            {u"ServerPort", sink.Port()},
                                            {u"ServerUser", "tim"},
                                            {u"ServerPassword", c.password}});
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

} // namespace

// A mail as a host builds it, sent through the SMTP provider and through the
// CDOSYS provider (its CDO objects here are the substitute over the
// component's own writer and SMTP) to a real SMTP server, and read back
// through POP3 from a real mailbox, only through the public interfaces.
#include <gtest/gtest.h>

#include "fake_mail.h"
#include "fixtures.h"
#include "orkv14.hpp"
#include "peers.h"

namespace {

using orkv14::Bstr;
using orkv14::Ptr;
using testsupport::ErrorText;
using testsupport::SetIntOption;
using testsupport::SetTextOption;
using testsupport::Unstuffed;

Ptr<IKvMailConnection2> Create(const IID &selector, uint16_t port, const char *user, const char *password) {
    Ptr<IClassFactory> f;
    DllGetClassObject(CLSID_KvComponent, IID_IClassFactory, f.put_void());
    Ptr<IKvMailConnection2> c;
    f->CreateInstance(nullptr, selector, c.put_void());
    SetTextOption(c.get(), u"ServerAddress", "127.0.0.1");
    SetIntOption(c.get(), u"ServerPort", port);
    SetTextOption(c.get(), u"ServerUser", user);
    SetTextOption(c.get(), u"ServerPassword", password);
    return c;
}

void AddBody(IKvMail *mail, const char *type, const std::string &text) {
    Ptr<IKvMailBody> body;
    ASSERT_EQ(mail->CreateAndAddBody(body.put(), Bstr(type).get(), 65001), S_OK);
    EXPECT_EQ(body->SetContents(orkv14::MemoryStream(text).get()), S_OK);
}

std::string Trimmed(std::string s) {
    while (!s.empty() && (s.back() == '\n' || s.back() == '\r')) s.pop_back();
    return s;
}

const char *const kSubject = "Gr\u00fc\u00dfe aus K\u00f6ln";

TEST(MailRoundTrip, SentMailArrivesAsRenderedAndReadsBackFromAMailbox) {
    KV_NEED_PEER(fixtures::Dovecot::Available(), "dovecot");
    const std::string plain = "Hallo,\r\n.a line with a period\r\n\r\nbis bald \xC3\xA4\r\n",
                      html = "<p>Hallo \xC3\xA4</p>\r\n";
    std::string binary(150000, '\0');
    for (size_t i = 0; i < binary.size(); ++i) binary[i] = char(i * 13 + i / 511);
    struct Case {
        const IID *selector;
        const char *auth; // the AuthProtocol option, "" unset
        bool asRendered;  // what arrives is the mail's own raw text
    } cases[] = {
        {&IID_IKvSMTPSendConnection, "", true},
        // CDO's basic logon: the SMTP provider below picks the mechanism.
        {&IID_IKvCDOSYSSendConnection, "Plain", false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.auth);
        fixtures::SmtpSink sink;
        ASSERT_TRUE(sink.Start("tim", "tanstaaf"));
        Ptr<IKvMailConnection2> smtp = Create(*c.selector, sink.Port(), "tim", "tanstaaf");
        if (*c.auth) SetTextOption(smtp.get(), u"AuthProtocol", c.auth);

        Ptr<IKvMail> mail;
        ASSERT_EQ(smtp->CreateMail(65001, u"", mail.put()), S_OK);
        EXPECT_EQ(mail->SetSender(Bstr("\"Ann Example\" <ann@example.org>").get()), S_OK);
        EXPECT_EQ(mail->AddRecipients(Bstr("bob@example.org\tcarl@example.org").get()), S_OK);
        EXPECT_EQ(mail->AddCCRecipients(Bstr("dora@example.org").get()), S_OK);
        EXPECT_EQ(mail->SetSubject(Bstr(kSubject).get()), S_OK);
        EXPECT_EQ(mail.As<IKvMail2>()->AddBCCRecipients(Bstr("hidden@example.org").get()), S_OK);
        AddBody(mail.get(), "text/plain", plain);
        AddBody(mail.get(), "text/html", html);
        Ptr<IKvMailAttachment> attachment;
        ASSERT_EQ(mail->CreateAndAddAttachment(attachment.put()), S_OK);
        attachment->SetName(Bstr("data.bin").get());
        attachment->SetContents(orkv14::MemoryStream(binary).get());

        ASSERT_EQ(smtp->Connect(), S_OK) << ErrorText(smtp.get());
        ASSERT_EQ(smtp->Send(mail.get()), S_OK) << ErrorText(smtp.get());
        EXPECT_EQ(smtp->Disconnect(), S_OK);
        EXPECT_EQ(sink.AuthMechanism(), "CRAM-MD5") << "the configured user logged on";
        const std::string arrived = sink.Message(1);
        EXPECT_EQ(sink.Envelope(1),
                  "ann@example.org\nbob@example.org\ncarl@example.org\ndora@example.org\nhidden@example.org\n");
        EXPECT_EQ(arrived.find("hidden@example.org"), std::string::npos) << "a blind copy stays out of the text";
        if (c.asRendered) {
            // What arrived is the rendered text with its dots unstuffed, byte for byte.
            Ptr<IStream> raw = orkv14::MemoryStream("");
            ASSERT_EQ(mail->GetRawText(raw.get()), S_OK);
            EXPECT_EQ(arrived, Unstuffed(orkv14::ReadAll(raw.get())));
        } else {
            EXPECT_NE(arrived.find("X-Mailer: orkv14 " KV_VERSION_STRING "\r\n"), std::string::npos) << arrived;
        }

        // The same message in a mailbox, listed and loaded through POP3.
        fixtures::Dovecot pop3;
        ASSERT_TRUE(pop3.Start("you", "pw", false));
        pop3.Deliver("you", "1000000000.M1P1.test", arrived);
        Ptr<IKvMailConnection2> pop = Create(IID_IKvPOP3RecvConnection, pop3.Port(), "you", "pw");
        ASSERT_EQ(pop->Connect(), S_OK) << ErrorText(pop.get());
        ASSERT_EQ(pop->QueryMailbox(0), S_OK) << ErrorText(pop.get());
        Ptr<IKvEnumMail> mails;
        ASSERT_EQ(pop->EnumMails(mails.put()), S_OK);
        Ptr<IKvMail> got;
        ASSERT_EQ(mails->Next(1, got.put(), nullptr), S_OK);
        Bstr text;
        EXPECT_EQ(got->GetSubject(text.put()), S_OK);
        EXPECT_EQ(text.Utf8(), kSubject);
        EXPECT_EQ(got->GetHeaderEntry(Bstr("CC").get(), text.put()), S_OK);
        EXPECT_EQ(text.Utf8(), "dora@example.org");

        Ptr<IKvEnumMailBody> bodies;
        ASSERT_EQ(got->EnumBodies(bodies.put()), S_OK) << ErrorText(pop.get());
        std::vector<std::string> seen;
        for (Ptr<IKvMailBody> body; bodies->Next(1, body.put(), nullptr) == S_OK;) {
            Ptr<IStream> contents = orkv14::MemoryStream("");
            body->GetType(text.put());
            body->GetContents(contents.get());
            // The reader keeps the line break that ends a part before its boundary.
            seen.push_back(text.Utf8() + ": " + Trimmed(orkv14::ReadAll(contents.get())));
        }
        EXPECT_EQ(seen, (std::vector<std::string>{"text/plain: " + Trimmed(plain), "text/html: " + Trimmed(html)}));
        Ptr<IKvEnumMailAttachment> attachments;
        ASSERT_EQ(got->EnumAttachments(attachments.put()), S_OK);
        Ptr<IKvMailAttachment> a;
        ASSERT_EQ(attachments->Next(1, a.put(), nullptr), S_OK);
        a->GetName(text.put());
        EXPECT_EQ(text.Utf8(), "data.bin");
        Ptr<IStream> data = orkv14::MemoryStream("");
        EXPECT_EQ(a->GetContents(data.get()), S_OK);
        EXPECT_TRUE(orkv14::ReadAll(data.get()) == binary) << "the attachment comes back byte for byte";
        EXPECT_EQ(pop->Disconnect(), S_OK);
    }
}

TEST(MailRoundTrip, CdosysReportsARefusedLogonWithItsReason) {
    fixtures::SmtpSink sink;
    ASSERT_TRUE(sink.Start("tim", "tanstaaf"));
    Ptr<IKvMailConnection2> cdo = Create(IID_IKvCDOSYSSendConnection, sink.Port(), "tim", "wrong");
    SetTextOption(cdo.get(), u"AuthProtocol", "plain");
    Ptr<IKvMail> mail;
    ASSERT_EQ(cdo->CreateMail(65001, u"", mail.put()), S_OK);
    mail->AddRecipients(Bstr("bob@example.org").get());
    AddBody(mail.get(), "text/plain", "x");
    ASSERT_EQ(cdo->Connect(), S_OK);
    LONG code = 0;
    EXPECT_EQ(cdo->Send(mail.get()), E_ABORT);
    std::string error = ErrorText(cdo.get(), &code);
    EXPECT_EQ(code, -5);
    EXPECT_NE(error.find("[clsCDOSYSMail::Send()]"), std::string::npos) << error;
    EXPECT_NE(error.find("authentication failed!"), std::string::npos) << error;
    EXPECT_TRUE(sink.Message(1).empty());
}

} // namespace

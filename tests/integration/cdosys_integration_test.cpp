// A mail sent through the CDOSYS provider, whose CDO objects here are the
// substitute over the component's own writer and SMTP, to a real SMTP server;
// what arrives is read back with the component's reader.
#include <gtest/gtest.h>

#include "fake_mail.h"
#include "fixtures.h"
#include "test_text.h"
#include "orkv14.h"
#include "runtime/kvstring.h"

namespace {

using testsupport::BytesOf;
using testsupport::StreamOf;


using testsupport::ErrorText;
using testsupport::SetIntOption;
using testsupport::SetTextOption;

BSTR B(const char16_t *s) { return SysAllocString(reinterpret_cast<const OLECHAR *>(s)); }



std::string Trimmed(std::string s) {
    while (!s.empty() && (s.back() == '\n' || s.back() == '\r')) s.pop_back();
    return s;
}

std::string Text(BSTR b) { return kv::Narrow(kv::WideView(reinterpret_cast<const char16_t *>(b))); }

IKvMailConnection2 *Create(const IID &selector) {
    IClassFactory *f = nullptr;
    DllGetClassObject(CLSID_KvComponent, IID_IClassFactory, reinterpret_cast<void **>(&f));
    IKvMailConnection2 *c = nullptr;
    f->CreateInstance(nullptr, selector, reinterpret_cast<void **>(&c));
    f->Release();
    return c;
}

void AddBody(IKvMail *mail, const char16_t *type, const std::string &text) {
    IKvMailBody *body = nullptr;
    BSTR t = B(type);
    ASSERT_EQ(mail->CreateAndAddBody(&body, t, 65001), S_OK);
    SysFreeString(t);
    IStream *s = StreamOf(text);
    body->SetContents(s);
    s->Release();
    body->Release();
}

TEST(CdosysIntegration, AlternativeBodiesAndAnAttachmentArriveThroughSmtp) {
    fixtures::SmtpSink sink;
    ASSERT_TRUE(sink.Start("tim", "tanstaaf"));
    IKvMailConnection2 *cdo = Create(IID_IKvCDOSYSSendConnection);
    ASSERT_NE(cdo, nullptr);
    SetTextOption(cdo, u"ServerAddress", "127.0.0.1");
    SetIntOption(cdo, u"ServerPort", sink.Port());
    SetTextOption(cdo, u"ServerUser", "tim");
    SetTextOption(cdo, u"ServerPassword", "tanstaaf");
    SetTextOption(cdo, u"AuthProtocol", "Plain");

    IKvMail *mail = nullptr;
    ASSERT_EQ(cdo->CreateMail(65001, u"", &mail), S_OK);
    BSTR from = B(u"\"Ann Example\" <ann@example.org>"), to = B(u"bob@example.org\tcarl@example.org"),
         cc = B(u"dora@example.org"), subject = B(u"Gr\u00fc\u00dfe per CDO");
    EXPECT_EQ(mail->SetSender(from), S_OK);
    EXPECT_EQ(mail->AddRecipients(to), S_OK);
    EXPECT_EQ(mail->AddCCRecipients(cc), S_OK);
    EXPECT_EQ(mail->SetSubject(subject), S_OK);
    for (BSTR b : {from, to, cc, subject}) SysFreeString(b);
    IKvMail2 *mail2 = nullptr;
    ASSERT_EQ(mail->QueryInterface(IID_IKvMail2, reinterpret_cast<void **>(&mail2)), S_OK);
    BSTR bcc = B(u"hidden@example.org");
    EXPECT_EQ(mail2->AddBCCRecipients(bcc), S_OK);
    SysFreeString(bcc);
    mail2->Release();
    const std::string plain = "Hallo \xC3\xA4\r\nzweite Zeile\r\n";
    const std::string html = "<p>Hallo \xC3\xA4</p>\r\n";
    AddBody(mail, u"text/plain", plain);
    AddBody(mail, u"text/html", html);
    IKvMailAttachment *attachment = nullptr;
    ASSERT_EQ(mail->CreateAndAddAttachment(&attachment), S_OK);
    BSTR name = B(u"data.bin");
    attachment->SetName(name);
    SysFreeString(name);
    std::string binary(150000, '\0');
    for (size_t i = 0; i < binary.size(); ++i) binary[i] = char(i * 13 + i / 511);
    IStream *contents = StreamOf(binary);
    attachment->SetContents(contents);
    contents->Release();
    attachment->Release();

    ASSERT_EQ(cdo->Connect(), S_OK);
    ASSERT_EQ(cdo->Send(mail), S_OK) << ErrorText(cdo);
    EXPECT_EQ(cdo->Disconnect(), S_OK);
    mail->Release();

    EXPECT_FALSE(sink.AuthMechanism().empty()) << "the configured user logged on";
    const std::string arrived = sink.Message(1);
    EXPECT_EQ(sink.Envelope(1),
              "ann@example.org\nbob@example.org\ncarl@example.org\ndora@example.org\nhidden@example.org\n");
    EXPECT_EQ(arrived.find("hidden@example.org"), std::string::npos) << "a blind copy stays out of the text";
    EXPECT_NE(arrived.find("X-Mailer: orkv14 " KV_VERSION_STRING "\r\n"), std::string::npos) << arrived;
    EXPECT_NE(arrived.find("multipart/alternative"), std::string::npos);

    // Read back as a mailbox mail would be.
    IKvMailConnection2 *reader = Create(IID_IKvSMTPSendConnection);
    IKvMail *back = nullptr;
    ASSERT_EQ(reader->CreateMail(65001, u"", &back), S_OK);
    IStream *raw = StreamOf(arrived);
    ASSERT_EQ(back->SetRawText(raw), S_OK);
    raw->Release();
    BSTR got = nullptr;
    EXPECT_EQ(back->GetSubject(&got), S_OK);
    EXPECT_EQ(kv::WideView(reinterpret_cast<const char16_t *>(got)), u"Gr\u00fc\u00dfe per CDO");
    SysFreeString(got);
    got = nullptr;
    EXPECT_EQ(back->GetSender(&got), S_OK);
    EXPECT_NE(Text(got).find("ann@example.org"), std::string::npos);
    SysFreeString(got);
    got = nullptr;
    BSTR ccName = B(u"CC");
    EXPECT_EQ(back->GetHeaderEntry(ccName, &got), S_OK);
    EXPECT_EQ(Text(got), "dora@example.org");
    SysFreeString(got);
    got = nullptr;
    SysFreeString(ccName);

    IKvEnumMailBody *bodies = nullptr;
    ASSERT_EQ(back->EnumBodies(&bodies), S_OK);
    std::vector<std::pair<std::string, std::string>> seen;
    IKvMailBody *body = nullptr;
    ULONG fetched = 0;
    while (bodies->Next(1, &body, &fetched) == S_OK && fetched) {
        BSTR type = nullptr;
        body->GetType(&type);
        IStream *text = nullptr;
        CreateStreamOnHGlobal(nullptr, TRUE, &text);
        body->GetContents(text);
        seen.emplace_back(Text(type), BytesOf(text));
        SysFreeString(type);
        text->Release();
        body->Release();
    }
    bodies->Release();
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0].first, "text/plain");
    // The reader keeps the line break that ends a part before its boundary.
    EXPECT_EQ(Trimmed(seen[0].second), Trimmed(plain));
    EXPECT_EQ(seen[1].first, "text/html");
    EXPECT_EQ(Trimmed(seen[1].second), Trimmed(html));

    IKvEnumMailAttachment *attachments = nullptr;
    ASSERT_EQ(back->EnumAttachments(&attachments), S_OK);
    IKvMailAttachment *a = nullptr;
    ASSERT_EQ(attachments->Next(1, &a, &fetched), S_OK);
    BSTR gotName = nullptr;
    a->GetName(&gotName);
    EXPECT_EQ(Text(gotName), "data.bin");
    SysFreeString(gotName);
    IStream *data = nullptr;
    CreateStreamOnHGlobal(nullptr, TRUE, &data);
    EXPECT_EQ(a->GetContents(data), S_OK);
    EXPECT_TRUE(BytesOf(data) == binary) << "the attachment arrives byte for byte";
    data->Release();
    a->Release();
    attachments->Release();
    back->Release();
    reader->Release();
    cdo->Release();
}

TEST(CdosysIntegration, AServerThatRefusesTheLogonIsReportedWithItsReason) {
    fixtures::SmtpSink sink;
    ASSERT_TRUE(sink.Start("tim", "tanstaaf"));
    IKvMailConnection2 *cdo = Create(IID_IKvCDOSYSSendConnection);
    SetTextOption(cdo, u"ServerAddress", "127.0.0.1");
    SetIntOption(cdo, u"ServerPort", sink.Port());
    SetTextOption(cdo, u"ServerUser", "tim");
    SetTextOption(cdo, u"ServerPassword", "wrong");
    SetTextOption(cdo, u"AuthProtocol", "plain");
    IKvMail *mail = nullptr;
    ASSERT_EQ(cdo->CreateMail(65001, u"", &mail), S_OK);
    BSTR to = B(u"bob@example.org");
    mail->AddRecipients(to);
    SysFreeString(to);
    AddBody(mail, u"text/plain", "x");
    ASSERT_EQ(cdo->Connect(), S_OK);
    LONG code = 0;
    EXPECT_EQ(cdo->Send(mail), E_ABORT);
    std::string error = ErrorText(cdo, &code);
    EXPECT_EQ(code, -5);
    EXPECT_NE(error.find("[clsCDOSYSMail::Send()]"), std::string::npos) << error;
    EXPECT_NE(error.find("authentication failed!"), std::string::npos) << error;
    EXPECT_TRUE(sink.Message(1).empty());
    mail->Release();
    cdo->Release();
}

} // namespace

// A mail as a host builds it, sent through SMTP to a real server and read
// back through POP3 from a real mailbox, only through the public interfaces.
#include <gtest/gtest.h>

#include <algorithm>

#include "fake_mail.h"
#include "fixtures.h"
#include "test_text.h"
#include "orkv14.h"
#include "runtime/kvstring.h"
#include "stack_doubles.h"

namespace {

using testsupport::BytesOf;
using testsupport::StreamOf;


using testsupport::ErrorText;
using testsupport::SetIntOption;
using testsupport::SetTextOption;

struct Factory {
    IClassFactory *f = nullptr;
    Factory() { DllGetClassObject(CLSID_KvComponent, IID_IClassFactory, reinterpret_cast<void **>(&f)); }
    ~Factory() { f->Release(); }
    IKvMailConnection2 *Create(const IID &selector) {
        IKvMailConnection2 *c = nullptr;
        f->CreateInstance(nullptr, selector, reinterpret_cast<void **>(&c));
        return c;
    }
};

BSTR B(const char16_t *s) { return SysAllocString(reinterpret_cast<const OLECHAR *>(s)); }



using testsupport::Events;

TEST(MailRoundTrip, SentMailArrivesAsRenderedAndReadsBackFromAMailbox) {
    if (!fixtures::Dovecot::Available()) GTEST_SKIP() << "dovecot is not installed";
    fixtures::SmtpSink sink;
    ASSERT_TRUE(sink.Start("tim", "tanstaaf"));
    Factory factory;

    IKvMailConnection2 *smtp = factory.Create(IID_IKvSMTPSendConnection);
    SetTextOption(smtp, u"ServerAddress", "127.0.0.1");
    SetIntOption(smtp, u"ServerPort", sink.Port());
    SetTextOption(smtp, u"ServerUser", "tim");
    SetTextOption(smtp, u"ServerPassword", "tanstaaf");
    Events events;
    smtp->SetMailStateNotificationSlot(&events);

    IKvMail *mail = nullptr;
    ASSERT_EQ(smtp->CreateMail(65001, u"", &mail), S_OK);
    BSTR from = B(u"Me <me@example.org>"), to = B(u"you@example.org\tother@example.org"),
         subject = B(u"Gr\u00fc\u00dfe aus K\u00f6ln"), plain = B(u"text/plain");
    EXPECT_EQ(mail->SetSender(from), S_OK);
    EXPECT_EQ(mail->AddRecipients(to), S_OK);
    EXPECT_EQ(mail->SetSubject(subject), S_OK);
    IKvMailBody *body = nullptr;
    ASSERT_EQ(mail->CreateAndAddBody(&body, plain, 65001), S_OK);
    const std::string text = "Hallo,\r\n.a line with a period\r\n\r\nbis bald \xC3\xA4\r\n";
    IStream *contents = StreamOf(text);
    EXPECT_EQ(body->SetContents(contents), S_OK);
    contents->Release();
    body->Release();
    IKvMailAttachment *attachment = nullptr;
    ASSERT_EQ(mail->CreateAndAddAttachment(&attachment), S_OK);
    BSTR name = B(u"data.bin");
    attachment->SetName(name);
    std::string binary(70000, '\0');
    for (size_t i = 0; i < binary.size(); ++i) binary[i] = char(i * 7 + i / 256);
    contents = StreamOf(binary);
    attachment->SetContents(contents);
    contents->Release();
    attachment->Release();

    ASSERT_EQ(smtp->Connect(), S_OK) << ErrorText(smtp);
    ASSERT_EQ(smtp->Send(mail), S_OK) << ErrorText(smtp);
    EXPECT_EQ(smtp->Disconnect(), S_OK);
    ASSERT_GE(events.seen.size(), 4u);
    EXPECT_NE(std::find(events.seen.begin(), events.seen.end(), std::make_pair(LONG(8), LONG(1))), events.seen.end());
    EXPECT_EQ(events.seen.back(), std::make_pair(LONG(7), LONG(1))) << "QUIT ends it well";

    // What arrived is the rendered text with its dots unstuffed, byte for byte.
    IStream *raw = nullptr;
    CreateStreamOnHGlobal(nullptr, TRUE, &raw);
    ASSERT_EQ(mail->GetRawText(raw), S_OK);
    std::string rendered = BytesOf(raw);
    raw->Release();
    std::string unstuffed;
    for (size_t at = 0; at < rendered.size();) {
        size_t end = rendered.find("\r\n", at);
        end = end == std::string::npos ? rendered.size() : end + 2;
        std::string line = rendered.substr(at, end - at);
        if (line.compare(0, 2, "..") == 0) line.erase(0, 1);
        unstuffed += line;
        at = end;
    }
    std::string arrived = sink.Message(1);
    EXPECT_EQ(arrived, unstuffed);
    EXPECT_EQ(sink.Envelope(1), "me@example.org\nyou@example.org\nother@example.org\n");

    // The same message in a mailbox, listed and loaded through POP3.
    fixtures::Dovecot pop3;
    ASSERT_TRUE(pop3.Start("you", "pw", false));
    pop3.Deliver("you", "1000000000.M1P1.test", arrived);
    IKvMailConnection2 *pop = factory.Create(IID_IKvPOP3RecvConnection);
    SetTextOption(pop, u"ServerAddress", "127.0.0.1");
    SetIntOption(pop, u"ServerPort", pop3.Port());
    SetTextOption(pop, u"ServerUser", "you");
    SetTextOption(pop, u"ServerPassword", "pw");
    ASSERT_EQ(pop->Connect(), S_OK) << ErrorText(pop);
    ASSERT_EQ(pop->QueryMailbox(0), S_OK) << ErrorText(pop);
    IKvEnumMail *mails = nullptr;
    ASSERT_EQ(pop->EnumMails(&mails), S_OK);
    IKvMail *got = nullptr;
    ULONG fetched = 0;
    ASSERT_EQ(mails->Next(1, &got, &fetched), S_OK);
    mails->Release();
    BSTR gotSubject = nullptr;
    EXPECT_EQ(got->GetSubject(&gotSubject), S_OK);
    EXPECT_EQ(kv::WideView(reinterpret_cast<const char16_t *>(gotSubject)), u"Gr\u00fc\u00dfe aus K\u00f6ln");
    SysFreeString(gotSubject);

    IKvEnumMailAttachment *attachments = nullptr;
    ASSERT_EQ(got->EnumAttachments(&attachments), S_OK) << ErrorText(pop);
    IKvMailAttachment *a = nullptr;
    ASSERT_EQ(attachments->Next(1, &a, &fetched), S_OK);
    IStream *data = nullptr;
    CreateStreamOnHGlobal(nullptr, TRUE, &data);
    EXPECT_EQ(a->GetContents(data), S_OK);
    EXPECT_TRUE(BytesOf(data) == binary) << "the attachment comes back byte for byte";
    data->Release();
    a->Release();
    attachments->Release();
    got->Release();
    EXPECT_EQ(pop->Disconnect(), S_OK);

    for (BSTR b : {from, to, subject, plain, name}) SysFreeString(b);
    smtp->SetMailStateNotificationSlot(nullptr);
    mail->Release();
    smtp->Release();
    pop->Release();
}

} // namespace

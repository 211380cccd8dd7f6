// The mail object as a host drives it: through the SMTP connection's
// CreateMail and the mail interfaces only.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <regex>

#include "mail/arpa_mail.h"
#include "mail_test_util.h"
#include "pal/system.h"

namespace kv {
namespace {

using mailtest::Bstr;
using mailtest::MakeStream;
using mailtest::Strings;

class MailObject : public mailtest::MailFixture {
  protected:
    std::string Header(const char16_t *name, HRESULT expected = S_OK) {
        Bstr value;
        EXPECT_EQ(mail_->GetHeaderEntry(Bstr(name), value.put()), expected) << Narrow(WideView(name));
        return value.Utf8();
    }
};

TEST_F(MailObject, RecipientListsSplitAtTabsOnly) {
    const struct {
        const char16_t *input;
        HRESULT result;
        std::vector<std::string> list;
    } cases[] = {
        {u"a@example.com\t c@example.org ", S_OK, {"a@example.com", "c@example.org"}},
        {u"\t", E_INVALIDARG, {}},
        {u"no address\ta@example.com", E_INVALIDARG, {"a@example.com"}},
        {u"\"Doe, John\" <john@example.com>", S_OK, {"\"Doe, John\" <john@example.com>"}},
        {u"a@example.com\r\nBcc: x@example.com", E_INVALIDARG, {}},
        // An internet mail takes no address type but SMTP.
        {u"<SMTP:a@example.com>\t<fax:b@example.com>", E_INVALIDARG, {"<SMTP:a@example.com>"}},
    };
    for (const auto &c : cases) {
        ASSERT_EQ(mail2_->AddBCCRecipients(Bstr(u"")), S_OK);
        EXPECT_EQ(mail2_->AddBCCRecipients(Bstr(c.input)), c.result) << Narrow(c.input);
        EXPECT_EQ(Recipients(&IKvMail2::EnumBCCRecipients), c.list) << Narrow(c.input);
    }
}

TEST_F(MailObject, RecipientsAccumulateAndAnEmptyStringClears) {
    EXPECT_EQ(mail_->AddRecipients(Bstr(u"a@example.com")), S_OK);
    EXPECT_EQ(mail_->AddRecipients(Bstr(u"a@example.com")), S_OK);
    // Refused pieces only: the list is non-empty, but the call still fails.
    EXPECT_EQ(mail_->AddRecipients(Bstr(u"nothing")), E_INVALIDARG);
    // Only a TAB adds nothing; the list is not empty, so it succeeds.
    EXPECT_EQ(mail_->AddRecipients(Bstr(u"\t")), S_OK);
    EXPECT_EQ(Recipients(&IKvMail2::EnumRecipients), (std::vector<std::string>{"a@example.com", "a@example.com"}));

    // An enumerator is a copy: later changes do not reach it.
    clsAutoRelease<IEnumString> before;
    ASSERT_EQ(mail_->EnumRecipients(before.put()), S_OK);
    EXPECT_EQ(mail_->AddRecipients(nullptr), S_OK);
    EXPECT_EQ(Strings(before.get()).size(), 2u);
    EXPECT_TRUE(Recipients(&IKvMail2::EnumRecipients).empty());

    EXPECT_EQ(mail_->EnumCCRecipients(nullptr), E_INVALIDARG);
}

TEST_F(MailObject, SenderWithALineBreakIsRefusedAndNotStored) {
    ASSERT_EQ(mail_->SetSender(Bstr(u"me@example.com")), S_OK);
    EXPECT_EQ(mail_->SetSender(Bstr(u"me@example.com\r\nBcc: x@example.com")), E_INVALIDARG);
    EXPECT_EQ(mail2_->SetReplyAddress(Bstr(u"r@example.com\nX: y")), E_INVALIDARG);
    Bstr sender, reply;
    mail_->GetSender(sender.put());
    mail2_->GetReplyAddress(reply.put());
    EXPECT_EQ(sender.Utf8(), "me@example.com");
    EXPECT_EQ(reply.Utf8(), "");
    EXPECT_EQ(Header(u"From"), "me@example.com");
    EXPECT_EQ(mail2_->SetReplyAddress(Bstr(u"Fax <fax:b@example.com>")), E_INVALIDARG);
}

// Without a stored sender, From and the sender come from the options, From
// falls back to the provider at the sender domain or the computer.
TEST_F(MailObject, EffectiveSenderComesFromTheOptions) {
    Bstr sender;
    EXPECT_EQ(mail_->GetSender(sender.put()), S_OK);
    EXPECT_EQ(sender.Utf8(), "");
    EXPECT_EQ(Header(u"From"), "SMTP@" + ToLower(pal::ComputerName().substr(0, 15)));
    SetOption(u"SenderDomain", u"example.org");
    // The option only counts after an invalidation rebuilds the list.
    mail_->SetSubject(Bstr(u"x"));
    EXPECT_EQ(Header(u"from"), "SMTP@example.org");
    SetOption(u"SenderAddress", u"me@example.com");
    EXPECT_EQ(mail_->GetSender(sender.put()), S_OK);
    EXPECT_EQ(sender.Utf8(), "<me@example.com>");
    SetOption(u"SenderName", u"Me Myself");
    EXPECT_EQ(mail_->GetSender(sender.put()), S_OK);
    EXPECT_EQ(sender.Utf8(), "\"Me Myself\" <me@example.com>");
    // A stored sender wins; a name outside ASCII is encoded in From as in To.
    EXPECT_EQ(mail_->SetSender(Bstr(u"\"M\u00fcller, Hans\" <m@example.com>")), S_OK);
    EXPECT_EQ(mail_->GetSender(sender.put()), S_OK);
    EXPECT_EQ(sender.Utf8(), "\"M\xC3\xBCller, Hans\" <m@example.com>");
    EXPECT_EQ(Header(u"From"), "\"=?utf-8?Q?M=C3=BCller,_Hans?=\" <m@example.com>");
}

TEST_F(MailObject, GeneratedHeaders) {
    ASSERT_EQ(mail_->AddRecipients(Bstr(u"smtp:a@example.com\tB <b@example.com>")), S_OK);
    ASSERT_EQ(mail_->AddCCRecipients(Bstr(u"c@example.com")), S_OK);
    ASSERT_EQ(mail2_->AddBCCRecipients(Bstr(u"hidden@example.com")), S_OK);
    ASSERT_EQ(mail_->SetSubject(Bstr(u"Hello there")), S_OK);
    EXPECT_EQ(Header(u"To"), "a@example.com,\r\n B <b@example.com>");
    EXPECT_EQ(Header(u"cc"), "c@example.com");
    EXPECT_EQ(Header(u"Subject"), "Hello there");
    EXPECT_EQ(Header(u"Importance"), "Normal");
    Bstr untouched(u"keep");
    EXPECT_EQ(mail_->GetHeaderEntry(Bstr(u"Bcc"), untouched.put()), S_FALSE);
    EXPECT_EQ(mail_->GetHeaderEntry(Bstr(u"Subject"), nullptr), E_INVALIDARG);

    // The list is reused until something invalidates it.
    SetOption(u"Importance", u"High");
    EXPECT_EQ(Header(u"Importance"), "Normal");
    ASSERT_EQ(mail_->SetSubject(Bstr(u"Again")), S_OK);
    EXPECT_EQ(Header(u"Importance"), "High");
    EXPECT_EQ(Header(u"Subject"), "Again");
}

// What a provider does that needs fresh headers for every send: no field is
// repeated, and a received date does not turn into now.
TEST_F(MailObject, ForcedRebuildDoesNotRepeatFieldsOrChangeTheDate) {
    clsAutoRelease<IStream> in =
        MakeStream("Date: Tue, 03 Mar 2026 14:05:09 +0100\r\nTo: a@example.com\r\nX-Tag: t\r\n\r\nbody\r\n");
    ASSERT_EQ(mail_->SetRawText(in.get()), S_OK);
    clsMail *object = nullptr;
    ASSERT_EQ(mail_->QueryInterface(IID_clsArpaMail, reinterpret_cast<void **>(&object)), S_OK);
    for (int round = 0; round < 2; ++round) {
        object->SetHeadersReusable(false);
        EXPECT_EQ(Header(u"To"), "a@example.com");
        EXPECT_EQ(Header(u"X-Tag"), "t");
        EXPECT_EQ(Header(u"Date"), "Tue, 03 Mar 2026 14:05:09 +0100");
    }
    object->Release();
}

TEST_F(MailObject, DateCarriesTheRealZoneOffset) {
    const char *saved = std::getenv("TZ");
    std::string restore = saved ? saved : "";
    const struct {
        const char *tz, *zone;
    } cases[] = {
        {"UTC0", "+0000"},
        {"ACST+9:30", "-0930"},
        {"NPT-5:45", "+0545"},
    };
    for (const auto &c : cases) {
        setenv("TZ", c.tz, 1);
        tzset();
        mail_->SetSubject(Bstr(u"rebuild"));
        std::string date = Header(u"Date");
        EXPECT_TRUE(std::regex_match(date, std::regex("(Sun|Mon|Tue|Wed|Thu|Fri|Sat), [0-3][0-9] "
                                                      "(Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec) [0-9]{4} "
                                                      "[0-2][0-9]:[0-5][0-9]:[0-6][0-9] [-+][0-9]{4}")))
            << date;
        EXPECT_EQ(date.substr(date.size() - 5), c.zone) << c.tz;
    }
    if (saved) setenv("TZ", restore.c_str(), 1);
    else unsetenv("TZ");
    tzset();
}

// The first value of a name stays; a line break in a name or value could
// start a field of its own and is refused.
TEST_F(MailObject, HostHeaderEntries) {
    EXPECT_EQ(mail_->SetHeaderEntry(Bstr(u"X-Tag"), Bstr(u"first")), S_OK);
    EXPECT_EQ(mail_->SetHeaderEntry(Bstr(u"x-TAG"), Bstr(u"second")), S_OK);
    EXPECT_EQ(Header(u"X-Tag"), "first");
    // 0x01 cuts a value into several values of one field, read back apart as given.
    EXPECT_EQ(mail_->SetHeaderEntry(Bstr(u"X-Multi"), Bstr(u"a\x01" u"b")), S_OK);
    EXPECT_EQ(Header(u"X-Multi"), "a\x01"
                                  "b");
    EXPECT_EQ(mail_->SetHeaderEntry(Bstr(u"X-A\r\nBcc"), Bstr(u"v")), E_INVALIDARG);
    EXPECT_EQ(mail_->SetHeaderEntry(Bstr(u"X-B\n"), Bstr(u"v")), E_INVALIDARG);
    EXPECT_EQ(mail_->SetHeaderEntry(Bstr(u"X-C"), Bstr(u"ok\rBcc: x@example.com")), E_INVALIDARG);
    EXPECT_EQ(Header(u"X-C", S_FALSE), "");
    EXPECT_EQ(Header(u"Bcc", S_FALSE), "");
}

TEST_F(MailObject, RawTextReadStaysUntilAChangeRendersAgain) {
    EXPECT_EQ(mail_->GetRawText(nullptr), E_INVALIDARG);
    clsAutoRelease<IStream> in = MakeStream("Subject: x\r\n\r\nbody\r\n");
    EXPECT_EQ(mail_->SetRawText(in.get()), S_OK);
    // A change empties it; the next call renders the mail anew.
    ASSERT_EQ(mail_->AddRecipients(Bstr(u"a@example.com")), S_OK);
    clsAutoRelease<IStream> again = MakeStream("");
    EXPECT_EQ(mail_->GetRawText(again.get()), S_OK);
    std::string text = StreamBytes(again.get());
    EXPECT_NE(text.find("\r\nTo: a@example.com\r\n"), std::string::npos) << text;
}

TEST_F(MailObject, ASecondRawTextReplacesTheFirst) {
    clsAutoRelease<IStream> first =
        MakeStream("To: a@example.org\r\nMIME-Version: 1.0\r\nContent-Type: multipart/mixed; boundary=M\r\n\r\n"
                   "--M\r\nContent-Type: text/plain\r\n\r\none\r\n--M\r\nContent-Type: application/octet-stream; "
                   "name=one.bin\r\n\r\nx\r\n--M--\r\n");
    ASSERT_EQ(mail_->SetRawText(first.get()), S_OK);
    clsAutoRelease<IStream> second = MakeStream("To: b@example.org\r\nSubject: two\r\n\r\ntwo\r\n");
    ASSERT_EQ(mail_->SetRawText(second.get()), S_OK);
    EXPECT_EQ(Recipients(&IKvMail2::EnumRecipients), std::vector<std::string>{"b@example.org"});
    clsAutoRelease<clsArpaMail> arpa = clsArpaMail::Of(mail_.get());
    ASSERT_EQ(arpa->Bodies().Size(), 1u) << "the new text part is the body, not an attachment";
    EXPECT_TRUE(arpa->Attachments().Empty());
    EXPECT_EQ(Header(u"Subject"), "two");
}

} // namespace
} // namespace kv

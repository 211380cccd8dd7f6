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
    std::string Sender() {
        Bstr value;
        EXPECT_EQ(mail_->GetSender(value.put()), S_OK);
        return value.Utf8();
    }
};

// Each call adds the pieces between TABs, duplicates too; a piece that is no
// SMTP address fails the call and the others are added all the same. A TAB
// alone fails only on an empty list; an empty string clears it.
TEST_F(MailObject, RecipientListsSplitAtTabsOnly) {
    const std::string a = "a@example.com", c = "c@example.org";
    const struct {
        const char16_t *input;
        HRESULT result;
        std::vector<std::string> list;
    } steps[] = {
        {u"\t", E_INVALIDARG, {}},
        {u"a@example.com\t c@example.org ", S_OK, {a, c}},
        {u"a@example.com", S_OK, {a, c, a}},
        {u"nothing", E_INVALIDARG, {a, c, a}},
        {u"\t", S_OK, {a, c, a}},
        {nullptr, S_OK, {}},
        {u"no address\ta@example.com", E_INVALIDARG, {a}},
        {u"", S_OK, {}},
        {u"\"Doe, John\" <john@example.com>", S_OK, {"\"Doe, John\" <john@example.com>"}},
        {u"", S_OK, {}},
        {u"a@example.com\r\nBcc: x@example.com", E_INVALIDARG, {}},
        {u"<SMTP:a@example.com>\t<fax:b@example.com>", E_INVALIDARG, {"<SMTP:a@example.com>"}},
    };
    clsAutoRelease<IEnumString> before;
    for (const auto &step : steps) {
        if (!step.input) {
            ASSERT_EQ(mail_->EnumRecipients(before.put()), S_OK);
        }
        EXPECT_EQ(mail_->AddRecipients(step.input ? Bstr(step.input) : Bstr()), step.result) << step.list.size();
        EXPECT_EQ(Recipients(&IKvMail2::EnumRecipients), step.list) << Narrow(step.input ? step.input : u"");
    }
    // An enumerator is a copy: later changes do not reach it.
    EXPECT_EQ(Strings(before.get()).size(), 3u);
    EXPECT_EQ(mail_->EnumCCRecipients(nullptr), E_INVALIDARG);
}

// Without a stored sender, From and the sender come from the options, From
// falls back to the provider at the sender domain or the computer.
TEST_F(MailObject, EffectiveSenderComesFromTheOptions) {
    EXPECT_EQ(Sender(), "");
    EXPECT_EQ(Header(u"From"), "SMTP@" + ToLower(pal::ComputerName().substr(0, 15)));
    SetOption(u"SenderDomain", u"example.org");
    // The option only counts after an invalidation rebuilds the list.
    mail_->SetSubject(Bstr(u"x"));
    EXPECT_EQ(Header(u"from"), "SMTP@example.org");
    SetOption(u"SenderAddress", u"me@example.com");
    EXPECT_EQ(Sender(), "<me@example.com>");
    SetOption(u"SenderName", u"Me Myself");
    EXPECT_EQ(Sender(), "\"Me Myself\" <me@example.com>");
    // A stored sender wins; a name outside ASCII is encoded in From as in To.
    EXPECT_EQ(mail_->SetSender(Bstr(u"\"M\u00fcller, Hans\" <m@example.com>")), S_OK);
    // A line break could start a field of its own: refused, and nothing stored.
    EXPECT_EQ(mail_->SetSender(Bstr(u"me@example.com\r\nBcc: x@example.com")), E_INVALIDARG);
    EXPECT_EQ(mail2_->SetReplyAddress(Bstr(u"r@example.com\nX: y")), E_INVALIDARG);
    Bstr reply;
    mail2_->GetReplyAddress(reply.put());
    EXPECT_EQ(reply.Utf8(), "");
    EXPECT_EQ(mail2_->SetReplyAddress(Bstr(u"Fax <fax:b@example.com>")), E_INVALIDARG);
    EXPECT_EQ(Sender(), "\"M\xC3\xBCller, Hans\" <m@example.com>");
    EXPECT_EQ(Header(u"From"), "\"=?utf-8?Q?M=C3=BCller,_Hans?=\" <m@example.com>");
}

TEST_F(MailObject, GeneratedAndHostHeaders) {
    SetOption(u"Importance", u"High");
    ASSERT_EQ(mail_->AddRecipients(Bstr(u"smtp:a@example.com\tB <b@example.com>")), S_OK);
    ASSERT_EQ(mail_->AddCCRecipients(Bstr(u"c@example.com")), S_OK);
    ASSERT_EQ(mail2_->AddBCCRecipients(Bstr(u"hidden@example.com")), S_OK);
    ASSERT_EQ(mail_->SetSubject(Bstr(u"Hello there")), S_OK);
    EXPECT_EQ(Header(u"To"), "a@example.com,\r\n B <b@example.com>");
    EXPECT_EQ(Header(u"cc"), "c@example.com");
    EXPECT_EQ(Header(u"Subject"), "Hello there");
    EXPECT_EQ(Header(u"Importance"), "High");
    Bstr untouched(u"keep");
    EXPECT_EQ(mail_->GetHeaderEntry(Bstr(u"Bcc"), untouched.put()), S_FALSE);
    EXPECT_EQ(mail_->GetHeaderEntry(Bstr(u"Subject"), nullptr), E_INVALIDARG);
    // The first value of a name stays; a line break in a name or value could start a field of its own.
    EXPECT_EQ(mail_->SetHeaderEntry(Bstr(u"X-Tag"), Bstr(u"first")), S_OK);
    EXPECT_EQ(mail_->SetHeaderEntry(Bstr(u"x-TAG"), Bstr(u"second")), S_OK);
    EXPECT_EQ(Header(u"X-Tag"), "first");
    // 0x01 cuts a value into several values of one field, read back apart as given.
    EXPECT_EQ(mail_->SetHeaderEntry(Bstr(u"X-Multi"), Bstr(u"a\x01" u"b")), S_OK);
    EXPECT_EQ(Header(u"X-Multi"), "a\x01" "b");
    EXPECT_EQ(mail_->SetHeaderEntry(Bstr(u"X-A\r\nBcc"), Bstr(u"v")), E_INVALIDARG);
    EXPECT_EQ(mail_->SetHeaderEntry(Bstr(u"X-B\n"), Bstr(u"v")), E_INVALIDARG);
    EXPECT_EQ(mail_->SetHeaderEntry(Bstr(u"X-C"), Bstr(u"ok\rBcc: x@example.com")), E_INVALIDARG);
    EXPECT_EQ(Header(u"X-C", S_FALSE), "");
    EXPECT_EQ(Header(u"Bcc", S_FALSE), "");
}

// What a provider does that needs fresh headers for every send: no field is
// repeated, and a received date does not turn into now.
TEST_F(MailObject, ForcedRebuildDoesNotRepeatFieldsOrChangeTheDate) {
    const char *text = "Date: Tue, 03 Mar 2026 14:05:09 +0100\r\nTo: a@example.com\r\nX-Tag: t\r\n\r\nbody\r\n";
    ASSERT_EQ(mail_->SetRawText(MakeStream(text).get()), S_OK);
    clsAutoRelease<clsArpaMail> object = clsArpaMail::Of(mail_.get());
    for (int round = 0; round < 2; ++round) {
        object->SetHeadersReusable(false);
        EXPECT_EQ(Header(u"To"), "a@example.com");
        EXPECT_EQ(Header(u"X-Tag"), "t");
        EXPECT_EQ(Header(u"Date"), "Tue, 03 Mar 2026 14:05:09 +0100");
    }
}

TEST_F(MailObject, DateCarriesTheRealZoneOffset) {
    const char *saved = std::getenv("TZ");
    std::string restore = saved ? saved : "";
    const std::regex format("(Sun|Mon|Tue|Wed|Thu|Fri|Sat), [0-3][0-9] (Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|"
                            "Nov|Dec) [0-9]{4} [0-2][0-9]:[0-5][0-9]:[0-6][0-9] [-+][0-9]{4}");
    for (const auto &[tz, zone] : {std::pair("UTC0", "+0000"), {"ACST+9:30", "-0930"}, {"NPT-5:45", "+0545"}}) {
        setenv("TZ", tz, 1);
        tzset();
        mail_->SetSubject(Bstr(u"rebuild"));
        std::string date = Header(u"Date");
        EXPECT_TRUE(std::regex_match(date, format)) << date;
        EXPECT_EQ(date.substr(date.size() - 5), zone) << tz;
    }
    if (saved) setenv("TZ", restore.c_str(), 1);
    else unsetenv("TZ");
    tzset();
}

// A second raw text replaces the first: its text part is the body, not an
// attachment. A change drops the text read; the next call renders anew.
TEST_F(MailObject, ASecondRawTextReplacesTheFirst) {
    for (const char *text : {"To: a@example.org\r\nMIME-Version: 1.0\r\nContent-Type: multipart/mixed; boundary=M\r\n"
                             "\r\n--M\r\nContent-Type: text/plain\r\n\r\none\r\n--M\r\nContent-Type: "
                             "application/octet-stream; name=one.bin\r\n\r\nx\r\n--M--\r\n",
                             "To: b@example.org\r\nSubject: two\r\n\r\ntwo\r\n"})
        ASSERT_EQ(mail_->SetRawText(MakeStream(text).get()), S_OK);
    clsAutoRelease<clsArpaMail> arpa = clsArpaMail::Of(mail_.get());
    ASSERT_EQ(arpa->Bodies().Size(), 1u);
    EXPECT_TRUE(arpa->Attachments().Empty());
    EXPECT_EQ(Header(u"Subject"), "two");
    ASSERT_EQ(mail_->AddRecipients(Bstr(u"a@example.com")), S_OK);
    clsAutoRelease<IStream> again = MakeStream("");
    EXPECT_EQ(mail_->GetRawText(again.get()), S_OK);
    EXPECT_NE(StreamBytes(again.get()).find("\r\nTo: b@example.org,\r\n a@example.com\r\n"), std::string::npos)
        << StreamBytes(again.get());
    EXPECT_EQ(mail_->GetRawText(nullptr), E_INVALIDARG);
}

} // namespace
} // namespace kv

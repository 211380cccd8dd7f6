// The IMAP provider against dovecot: listing as POP3 lists, loading byte for byte,
// a read flag and a deletion, CRAM-MD5 and POP3's APOP, TLS for both.
#include <gtest/gtest.h>

#include "fake_mail.h"
#include "fixtures.h"
#include "orkv14.hpp"
#include "providers/imap/imap_connection.h"
#include "providers/pop3/pop3_connection.h"
#include "settings/settings_string.h"

namespace kv {
namespace {

using orkv14::Bstr;
using orkv14::Ptr;
using testsupport::ErrorText;

// What a host sees of a mail without loading it (the recipients come from the same To).
std::string Envelope(IKvMail *mail) {
    Bstr b;
    mail->GetSender(b.put());
    std::string out = "From " + b.Utf8();
    mail->GetSubject(b.put());
    out += "|Subject " + b.Utf8();
    for (const char *name : {"Date", "To", "Message-ID", "X-Tag"}) {
        mail->GetHeaderEntry(Bstr(name).get(), b.put());
        out += "|" + b.Utf8();
    }
    return out;
}

std::string RawText(IKvMail *mail) {
    Ptr<IStream> s = orkv14::MemoryStream("");
    mail->GetRawText(s.get());
    return orkv14::ReadAll(s.get());
}

std::vector<Ptr<IKvMail>> Mails(IKvMailConnection2 *c) {
    std::vector<Ptr<IKvMail>> out;
    Ptr<IKvEnumMail> e;
    if (FAILED(c->EnumMails(e.put()))) return out;
    for (Ptr<IKvMail> m; e->Next(1, m.put(), nullptr) == S_OK;) out.push_back(std::move(m));
    return out;
}

// Options as a host keeps them: one settings string for both providers.
WString Settings(uint16_t pop3, uint16_t imap, const char16_t *tlsMode = nullptr, const std::string &caFile = "") {
    clsOptionList list;
    for (const char *p : {"POP3", "IMAP"}) {
        list.SetText(String(p) + ".ServerAddress", u"127.0.0.1");
        list.SetInt(String(p) + ".ServerPort", p[0] == 'P' ? pop3 : imap);
        list.SetText(String(p) + ".ServerUser", u"mrose");
        list.SetText(String(p) + ".ServerPassword", u"tanstaaf");
        list.SetInt(String(p) + ".SocketTimeout", 5000);
        if (tlsMode) list.SetText(String(p) + ".TLSMode", tlsMode);
        if (tlsMode) list.SetText(String(p) + ".TLSCAFile", Widen(caFile));
    }
    return WriteSettingsString(list);
}

template <class Connection> Ptr<Connection> Configured(const WString &settings) {
    Ptr<Connection> c(new Connection());
    c->AddRef();
    c->SetOption(nullptr, orkv14::Variant(Narrow(settings, 65001)).get());
    return c;
}

const std::string kPlain = "From: Anna <anna@example.org>\r\nTo: Bo <bo@example.org>, cy@example.org\r\n"
                           "Subject: =?utf-8?q?gr=C3=BC=C3=9Fe?=\r\nDate: Tue, 3 Dec 2024 10:00:00 +0100\r\n"
                           "Message-ID: <1@example.org>\r\nX-Tag: one\r\n\r\nHello,\r\n..two dots\r\n";
const std::string kWithAttachment =
    "From: bo@example.org\r\nTo: anna@example.org\r\nSubject: with a file\r\nMIME-Version: 1.0\r\n"
    "Content-Type: multipart/mixed; boundary=\"b\"\r\n\r\n--b\r\nContent-Type: text/plain\r\n\r\nsee file\r\n"
    "--b\r\nContent-Type: application/octet-stream; name=\"a.bin\"\r\nContent-Transfer-Encoding: base64\r\n\r\n"
    "AAECAwQF\r\n--b--\r\n";
const std::string kThird = "From: cy@example.org\r\nSubject: third\r\nX-Tag: three\r\n\r\nlast\r\n";

TEST(ImapIntegration, ListsAsPop3DoesLoadsByteForByteMarksAndDeletes) {
    KV_NEED_PEER(fixtures::Dovecot::ImapAvailable(), "dovecot's IMAP server");
    fixtures::Dovecot server;
    server.imap = true;
    server.mechanisms = "plain cram-md5";
    ASSERT_TRUE(server.Start("mrose", "tanstaaf", true)) << server.Log();
    server.Deliver("mrose", "1000000001.M1P1.test", kPlain);
    server.Deliver("mrose", "1000000002.M2P1.test", kWithAttachment);
    server.Deliver("mrose", "1000000003.M3P1.test", kThird);
    WString settings = Settings(server.port, server.imapPort);

    // What POP3 makes of the heads, for comparison.
    std::vector<std::string> pop3Envelopes;
    {
        auto pop = Configured<clsPOP3MailConnection>(settings);
        ASSERT_EQ(pop->Connect(), S_OK) << ErrorText(pop.get());
        ASSERT_EQ(pop->QueryMailbox(0), S_OK) << ErrorText(pop.get());
        std::vector<Ptr<IKvMail>> mails = Mails(pop.get());
        for (const auto &m : mails) pop3Envelopes.push_back(Envelope(m.get()));
        pop->Disconnect();
    }
    ASSERT_EQ(pop3Envelopes.size(), 3u);
    EXPECT_NE(server.Log().find("method=APOP"), std::string::npos) << server.Log();

    auto imap = Configured<clsIMAPMailConnection>(settings);
    ASSERT_EQ(imap->Connect(), S_OK) << ErrorText(imap.get()) << server.Log();
    ASSERT_EQ(imap->QueryMailbox(0), S_OK) << ErrorText(imap.get());
    std::vector<Ptr<IKvMail>> mails = Mails(imap.get());
    ASSERT_EQ(mails.size(), 3u);
    for (size_t i = 0; i < mails.size(); ++i) EXPECT_EQ(Envelope(mails[i].get()), pop3Envelopes[i]) << i;
    // Asking for the bodies loads the whole mail.
    Ptr<IKvEnumMailAttachment> attachments;
    ASSERT_EQ(mails[1]->EnumAttachments(attachments.put()), S_OK) << ErrorText(imap.get());
    Ptr<IKvMailAttachment> one;
    EXPECT_EQ(attachments->Next(1, one.put(), nullptr), S_OK);
    Ptr<IKvEnumMailBody> bodies;
    ASSERT_EQ(mails[0]->EnumBodies(bodies.put()), S_OK) << ErrorText(imap.get());
    EXPECT_EQ(RawText(mails[0].get()), kPlain);
    EXPECT_EQ(RawText(mails[1].get()), kWithAttachment);
    // What the next session sees of a read flag and a deletion: kvmail_integration_test.
    Bstr read, deleted;
    mails[0]->GetCookie(read.put());
    mails[1]->GetCookie(deleted.put());
    EXPECT_EQ(imap->MarkMailAsRead(read.get()), S_OK);
    EXPECT_EQ(imap->DeleteMail(deleted.get()), S_OK);
    EXPECT_EQ(server.MessagesLeft("mrose"), 2u) << "UIDPLUS: expunged at once";
    EXPECT_EQ(imap->Disconnect(), S_OK) << ErrorText(imap.get());
    EXPECT_NE(server.Log().find("method=CRAM-MD5"), std::string::npos) << server.Log();
}

// Both providers on one dovecot: STARTTLS (POP3's STLS) and TLS from the first byte.
TEST(ImapIntegration, StartTlsAndImplicitTlsForImapAndPop3) {
    KV_NEED_PEER(fixtures::Dovecot::ImapAvailable(), "dovecot's IMAP server");
    KV_NEED_PEER(fixtures::TestPki::Available(), "the openssl command");
    fixtures::TestPki pki;
    ASSERT_TRUE(pki.Make());
    fixtures::Dovecot server;
    server.imap = true;
    ASSERT_TRUE(server.Start("mrose", "tanstaaf", false, pki.Cert("good"), pki.Key("good"))) << server.Log();
    server.Deliver("mrose", "1000000001.M1P1.test", kPlain);
    // Large enough for the raw text to go to its file.
    std::string big = "Subject: big\r\n\r\n";
    while (big.size() < (5u << 20)) big += std::string(76, char('A' + big.size() % 26)) + "\r\n";
    server.Deliver("mrose", "1000000002.M2P1.test", big);
    auto check = [&](IKvMailConnection2 *c) {
        ASSERT_EQ(c->Connect(), S_OK) << ErrorText(c) << server.Log();
        ASSERT_EQ(c->QueryMailbox(1), S_OK) << ErrorText(c);
        std::vector<Ptr<IKvMail>> mails = Mails(c);
        ASSERT_EQ(mails.size(), 2u);
        EXPECT_EQ(RawText(mails[0].get()), kPlain);
        EXPECT_TRUE(RawText(mails[1].get()) == big);
        EXPECT_EQ(c->Disconnect(), S_OK);
    };
    for (const bool implicit : {false, true}) {
        SCOPED_TRACE(implicit);
        WString settings = Settings(implicit ? server.tlsPort : server.port, implicit ? server.imapTlsPort : server.imapPort,
                                    implicit ? u"implicit" : u"starttls", pki.CaFile());
        check(Configured<clsIMAPMailConnection>(settings).get());
        check(Configured<clsPOP3MailConnection>(settings).get());
    }
    // dovecot marks logons over TLS in its log; there was none in clear.
    std::string log = server.Log();
    size_t logons = 0;
    for (size_t at = log.find("Login: user=<mrose>"); at != std::string::npos; at = log.find("Login: user=<mrose>", at + 1)) {
        ++logons;
        std::string line = log.substr(at, log.find('\n', at) - at);
        EXPECT_NE(line.find("TLS"), std::string::npos) << line;
    }
    EXPECT_EQ(logons, 4u) << log;
}

} // namespace
} // namespace kv

// The IMAP provider against dovecot: listing as POP3 lists, loading byte for
// byte, read flags and deletions seen by the next session, a non-ASCII
// folder, a folder made anew (a new UIDVALIDITY), logons, TLS.
#include <gtest/gtest.h>

#include <map>

#include "fake_mail.h"
#include "fixtures.h"
#include "orkv14.hpp"
#include "peers.h"
#include "providers/imap/imap_connection.h"
#include "providers/pop3/pop3_connection.h"
#include "settings/settings_string.h"

namespace kv {
namespace {

using orkv14::Bstr;
using orkv14::Ptr;
std::string ErrorOf(IKvMailConnection2 *c) { return testsupport::ErrorText(c); }

// What a host sees of a mail without loading it.
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
    Ptr<IEnumString> to;
    if (SUCCEEDED(mail->EnumRecipients(to.put())) && to) {
        for (LPOLESTR s = nullptr; to->Next(1, &s, nullptr) == S_OK; CoTaskMemFree(s))
            out += "|rcpt " + orkv14::Utf8(s);
    }
    return out;
}

std::string RawText(IKvMail *mail) {
    Ptr<IStream> s = orkv14::MemoryStream("");
    mail->GetRawText(s.get());
    return orkv14::ReadAll(s.get());
}

String Cookie(IKvMail *mail) {
    Bstr b;
    mail->GetCookie(b.put());
    return b.Utf8();
}

std::vector<Ptr<IKvMail>> Mails(IKvMailConnection2 *c) {
    std::vector<Ptr<IKvMail>> out;
    Ptr<IKvEnumMail> e;
    if (FAILED(c->EnumMails(e.put()))) return out;
    for (Ptr<IKvMail> m; e->Next(1, m.put(), nullptr) == S_OK;) out.push_back(std::move(m));
    return out;
}

// Options as a host keeps them: one settings string for both providers.
WString Settings(uint16_t pop3, uint16_t imap, const std::map<std::string, std::string> &more = {}) {
    clsOptionList list;
    for (const char *p : {"POP3", "IMAP"}) {
        list.SetText(String(p) + ".ServerAddress", u"127.0.0.1");
        list.SetInt(String(p) + ".ServerPort", p[0] == 'P' ? pop3 : imap);
        list.SetText(String(p) + ".ServerUser", u"mrose");
        list.SetText(String(p) + ".ServerPassword", u"tanstaaf");
        list.SetInt(String(p) + ".SocketTimeout", 5000);
    }
    for (const auto &[key, value] : more) list.SetText(key, Widen(value));
    return WriteSettingsString(list);
}

template <class Connection> Ptr<Connection> Configured(const WString &settings) {
    Ptr<Connection> c(new Connection());
    c->AddRef();
    c->SetOption(nullptr, orkv14::Variant(Narrow(settings, 65001)).get());
    return c;
}

// Another mail program (Python's imaplib) removes a folder and makes it again.
bool MakeFolderAnew(uint16_t port, const std::string &folder) {
    std::string script = "import imaplib; m = imaplib.IMAP4('127.0.0.1', " + std::to_string(port) +
                         "); m.login('mrose', 'tanstaaf'); assert m.delete('" + folder + "')[0] == 'OK'; assert m.create('" +
                         folder + "')[0] == 'OK'";
    return std::system(("/usr/bin/python3 -c \"" + script + "\"").c_str()) == 0;
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

TEST(ImapIntegration, ListsAsPop3DoesLoadsByteForByteAndKeepsFlagsAndDeletions) {
    KV_NEED_PEER(fixtures::Dovecot::ImapAvailable(), "dovecot's IMAP server");
    fixtures::Dovecot server;
    server.imap = true;
    ASSERT_TRUE(server.Start("mrose", "tanstaaf", false)) << server.Log();
    server.Deliver("mrose", "1000000001.M1P1.test", kPlain);
    server.Deliver("mrose", "1000000002.M2P1.test", kWithAttachment);
    server.Deliver("mrose", "1000000003.M3P1.test", kThird);
    WString settings = Settings(server.Port(), server.ImapPort());

    // What POP3 makes of the heads, for comparison.
    std::vector<std::string> pop3Envelopes;
    {
        auto pop = Configured<clsPOP3MailConnection>(settings);
        ASSERT_EQ(pop->Connect(), S_OK) << ErrorOf(pop.get());
        ASSERT_EQ(pop->QueryMailbox(0), S_OK) << ErrorOf(pop.get());
        std::vector<Ptr<IKvMail>> mails = Mails(pop.get());
        for (const auto &m : mails) pop3Envelopes.push_back(Envelope(m.get()));
        pop->Disconnect();
    }
    ASSERT_EQ(pop3Envelopes.size(), 3u);

    std::vector<String> ids;
    {
        auto imap = Configured<clsIMAPMailConnection>(settings);
        ASSERT_EQ(imap->Connect(), S_OK) << ErrorOf(imap.get()) << server.Log();
        ASSERT_EQ(imap->QueryMailbox(0), S_OK) << ErrorOf(imap.get());
        std::vector<Ptr<IKvMail>> mails = Mails(imap.get());
        ASSERT_EQ(mails.size(), 3u);
        for (size_t i = 0; i < mails.size(); ++i) {
            EXPECT_EQ(Envelope(mails[i].get()), pop3Envelopes[i]) << i;
            ids.push_back(Cookie(mails[i].get()));
        }
        // Asking for the bodies loads the whole mail.
        Ptr<IKvEnumMailAttachment> attachments;
        ASSERT_EQ(mails[1]->EnumAttachments(attachments.put()), S_OK) << ErrorOf(imap.get());
        Ptr<IKvMailAttachment> one;
        EXPECT_EQ(attachments->Next(1, one.put(), nullptr), S_OK);
        Ptr<IKvEnumMailBody> bodies;
        ASSERT_EQ(mails[0]->EnumBodies(bodies.put()), S_OK) << ErrorOf(imap.get());
        EXPECT_EQ(RawText(mails[0].get()), kPlain);
        EXPECT_EQ(RawText(mails[1].get()), kWithAttachment);

        EXPECT_EQ(imap->MarkMailAsRead(reinterpret_cast<LPCWSTR>(Widen(ids[0]).c_str())), S_OK) << ErrorOf(imap.get());
        EXPECT_EQ(imap->DeleteMail(reinterpret_cast<LPCWSTR>(Widen(ids[1]).c_str())), S_OK) << ErrorOf(imap.get());
        EXPECT_EQ(server.MessagesLeft("mrose"), 2u) << "UIDPLUS: expunged at once";
        EXPECT_EQ(imap->Disconnect(), S_OK) << ErrorOf(imap.get());
    }

    // The next session: the read mail is left out of an unread-only listing,
    // the deleted one is gone, the names are the same.
    auto imap = Configured<clsIMAPMailConnection>(
        Settings(server.Port(), server.ImapPort(), {{"IMAP.QueryUnreadMailsOnly", "1"}}));
    ASSERT_EQ(imap->Connect(), S_OK) << ErrorOf(imap.get());
    ASSERT_EQ(imap->QueryMailbox(1), S_OK) << ErrorOf(imap.get());
    std::vector<Ptr<IKvMail>> mails = Mails(imap.get());
    ASSERT_EQ(mails.size(), 1u);
    EXPECT_EQ(Cookie(mails[0].get()), ids[2]);
    EXPECT_EQ(RawText(mails[0].get()), kThird);
    imap->Disconnect();
}

TEST(ImapIntegration, NonAsciiFolderAndAFolderMadeAnew) {
    KV_NEED_PEER(fixtures::Dovecot::ImapAvailable(), "dovecot's IMAP server");
    fixtures::Dovecot server;
    server.imap = true;
    ASSERT_TRUE(server.Start("mrose", "tanstaaf", false)) << server.Log();
    const std::string folder = "Gr&APw-n"; // "Grün" as IMAP4rev1 and dovecot's maildir write it
    server.Deliver("mrose", "1000000001.M1P1.test", kThird, folder);
    WString settings = Settings(server.Port(), server.ImapPort(), {{"IMAP.Folder", "Gr\xC3\xBCn"}});

    String id;
    {
        auto imap = Configured<clsIMAPMailConnection>(settings);
        ASSERT_EQ(imap->Connect(), S_OK) << ErrorOf(imap.get()) << server.Log();
        ASSERT_EQ(imap->QueryMailbox(1), S_OK) << ErrorOf(imap.get());
        std::vector<Ptr<IKvMail>> mails = Mails(imap.get());
        ASSERT_EQ(mails.size(), 1u);
        id = Cookie(mails[0].get());
        EXPECT_EQ(RawText(mails[0].get()), kThird);
        imap->Disconnect();
    }
    // Another program removes the folder and makes it again: its UIDs start anew.
    ASSERT_TRUE(MakeFolderAnew(server.ImapPort(), folder));
    server.Deliver("mrose", "1000000002.M2P1.test", kPlain, folder);

    auto imap = Configured<clsIMAPMailConnection>(settings);
    ASSERT_EQ(imap->Connect(), S_OK) << ErrorOf(imap.get());
    EXPECT_EQ(imap->DeleteMail(reinterpret_cast<LPCWSTR>(Widen(id).c_str())), E_ABORT);
    std::string error = ErrorOf(imap.get());
    EXPECT_NE(error.find("the mail '" + id + "' was listed under UIDVALIDITY"), std::string::npos) << error;
    EXPECT_NE(error.find("the folder 'Gr\xC3\xBCn' now has UIDVALIDITY"), std::string::npos) << error;
    EXPECT_EQ(imap->Disconnect(), S_OK);
    EXPECT_EQ(server.MessagesLeft("mrose", folder), 1u) << "nothing was deleted";
}

TEST(ImapIntegration, LogonsAndRefusals) {
    KV_NEED_PEER(fixtures::Dovecot::ImapAvailable(), "dovecot's IMAP server");
    fixtures::Dovecot server;
    server.imap = true;
    server.mechanisms = "plain cram-md5";
    ASSERT_TRUE(server.Start("mrose", "tanstaaf", false)) << server.Log();
    server.Deliver("mrose", "1000000001.M1P1.test", kThird);
    struct Case {
        const char *name;
        std::map<std::string, std::string> options;
        std::string error; // "" for success
    } cases[] = {
        {"CRAM-MD5 first", {}, ""},
        // Last: dovecot makes the next logon from this address wait after a failed one.
        {"wrong password",
         {{"IMAP.ServerPassword", "wrong"}},
         "unexpected reply 'a2 NO [AUTHENTICATIONFAILED] Authentication failed.'\r\nauthentication failed!\r\n"
         "[clsIMAPMailConnection::OnConnect]\r\n"},
    };
    for (const Case &c : cases) {
        auto imap = Configured<clsIMAPMailConnection>(Settings(server.Port(), server.ImapPort(), c.options));
        EXPECT_EQ(imap->Connect(), c.error.empty() ? S_OK : E_ABORT) << c.name;
        std::string error = ErrorOf(imap.get());
        EXPECT_EQ(error.substr(0, c.error.size()), c.error) << c.name << ": " << error;
        const std::string tail = "[clsIMAPMailConnection::OnConnect]\r\n";
        if (!c.error.empty()) {
            EXPECT_EQ(error.substr(std::max(tail.size(), error.size()) - tail.size()), tail) << error;
        }
        imap->Disconnect();
    }
    EXPECT_NE(server.Log().find("method=CRAM-MD5"), std::string::npos) << server.Log();
}

TEST(ImapIntegration, StartTlsAndImplicitTls) {
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
    for (const char *mode : {"starttls", "implicit"}) {
        bool implicit = std::string(mode) == "implicit";
        auto imap = Configured<clsIMAPMailConnection>(
            Settings(server.Port(), implicit ? server.ImapTlsPort() : server.ImapPort(),
                     {{"IMAP.TLSMode", mode}, {"IMAP.TLSCAFile", pki.CaFile()}}));
        ASSERT_EQ(imap->Connect(), S_OK) << mode << ": " << ErrorOf(imap.get()) << server.Log();
        ASSERT_EQ(imap->QueryMailbox(1), S_OK) << ErrorOf(imap.get());
        std::vector<Ptr<IKvMail>> mails = Mails(imap.get());
        ASSERT_EQ(mails.size(), 2u);
        EXPECT_EQ(RawText(mails[0].get()), kPlain) << mode;
        EXPECT_TRUE(RawText(mails[1].get()) == big) << mode;
        EXPECT_EQ(imap->Disconnect(), S_OK);
    }
    // dovecot marks logons over TLS in its log; there was none in clear.
    std::string log = server.Log();
    size_t logons = 0;
    for (size_t at = log.find("Login: user=<mrose>"); at != std::string::npos; at = log.find("Login: user=<mrose>", at + 1)) {
        ++logons;
        size_t end = log.find('\n', at);
        EXPECT_NE(log.substr(at, end - at).find("TLS"), std::string::npos) << log.substr(at, end - at);
    }
    EXPECT_EQ(logons, 2u) << log;
}

} // namespace
} // namespace kv

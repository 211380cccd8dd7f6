// The IMAP provider against dovecot: listing as POP3 lists, loading byte for
// byte, read flags and deletions seen by the next session, a non-ASCII
// folder, a folder made anew (a new UIDVALIDITY), logons, TLS.
#include <gtest/gtest.h>

#include <map>

#include "fake_mail.h"
#include "fixtures.h"
#include "providers/imap/imap_connection.h"
#include "runtime/com_util.h"
#include "settings/settings_string.h"
#include "providers/pop3/pop3_connection.h"

namespace kv {
namespace {

std::string ErrorOf(IKvMailConnection2 *c) { return testsupport::ErrorText(c); }

std::string Text(BSTR b) {
    std::string t = Narrow(WideView(reinterpret_cast<const char16_t *>(b)));
    SysFreeString(b);
    return t;
}

// What a host sees of a mail without loading it.
std::string Envelope(IKvMail *mail) {
    BSTR b = nullptr;
    std::string out;
    mail->GetSender(&b);
    out += "From " + Text(b);
    b = nullptr;
    mail->GetSubject(&b);
    out += "|Subject " + Text(b);
    for (const char16_t *name : {u"Date", u"To", u"Message-ID", u"X-Tag"}) {
        b = nullptr;
        BSTR n = SysAllocString(reinterpret_cast<const OLECHAR *>(name));
        mail->GetHeaderEntry(n, &b);
        SysFreeString(n);
        out += "|" + Text(b);
    }
    IEnumString *to = nullptr;
    if (SUCCEEDED(mail->EnumRecipients(&to)) && to) {
        LPOLESTR s = nullptr;
        while (to->Next(1, &s, nullptr) == S_OK) {
            out += "|rcpt " + Narrow(WideView(reinterpret_cast<const char16_t *>(s)));
            CoTaskMemFree(s);
        }
        to->Release();
    }
    return out;
}

std::string RawText(IKvMail *mail) {
    IStream *s = nullptr;
    CreateStreamOnHGlobal(nullptr, TRUE, &s);
    mail->GetRawText(s);
    LARGE_INTEGER zero{};
    s->Seek(zero, STREAM_SEEK_SET, nullptr);
    std::string out;
    char buf[65536];
    ULONG n = 0;
    while (s->Read(buf, sizeof buf, &n) == S_OK && n > 0) out.append(buf, n);
    s->Release();
    return out;
}

String Cookie(IKvMail *mail) {
    BSTR b = nullptr;
    mail->GetCookie(&b);
    return Text(b);
}

std::vector<IKvMail *> Mails(IKvMailConnection2 *c) {
    std::vector<IKvMail *> out;
    IKvEnumMail *e = nullptr;
    if (FAILED(c->EnumMails(&e))) return out;
    IKvMail *m = nullptr;
    while (e->Next(1, &m, nullptr) == S_OK) out.push_back(m);
    e->Release();
    return out;
}

void ReleaseAll(std::vector<IKvMail *> &mails) {
    for (IKvMail *m : mails) m->Release();
    mails.clear();
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

template <class Connection> Connection *Configured(const WString &settings) {
    auto *c = new Connection();
    c->AddRef();
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_BSTR;
    v.bstrVal = SysAllocStringLen(reinterpret_cast<const OLECHAR *>(settings.data()), UINT(settings.size()));
    c->SetOption(nullptr, &v);
    VariantClear(&v);
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
    if (!fixtures::Dovecot::ImapAvailable()) GTEST_SKIP() << "dovecot's IMAP server is not installed";
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
        auto *pop = Configured<clsPOP3MailConnection>(settings);
        ASSERT_EQ(pop->Connect(), S_OK) << ErrorOf(pop);
        ASSERT_EQ(pop->QueryMailbox(0), S_OK) << ErrorOf(pop);
        std::vector<IKvMail *> mails = Mails(pop);
        for (IKvMail *m : mails) pop3Envelopes.push_back(Envelope(m));
        ReleaseAll(mails);
        pop->Disconnect();
        pop->Release();
    }
    ASSERT_EQ(pop3Envelopes.size(), 3u);

    std::vector<String> ids;
    {
        auto *imap = Configured<clsIMAPMailConnection>(settings);
        ASSERT_EQ(imap->Connect(), S_OK) << ErrorOf(imap) << server.Log();
        ASSERT_EQ(imap->QueryMailbox(0), S_OK) << ErrorOf(imap);
        std::vector<IKvMail *> mails = Mails(imap);
        ASSERT_EQ(mails.size(), 3u);
        for (size_t i = 0; i < mails.size(); ++i) {
            EXPECT_EQ(Envelope(mails[i]), pop3Envelopes[i]) << i;
            ids.push_back(Cookie(mails[i]));
        }
        // Asking for the bodies loads the whole mail.
        IKvEnumMailAttachment *attachments = nullptr;
        ASSERT_EQ(mails[1]->EnumAttachments(&attachments), S_OK) << ErrorOf(imap);
        IKvMailAttachment *one = nullptr;
        EXPECT_EQ(attachments->Next(1, &one, nullptr), S_OK);
        if (one) one->Release();
        attachments->Release();
        IKvEnumMailBody *bodies = nullptr;
        ASSERT_EQ(mails[0]->EnumBodies(&bodies), S_OK) << ErrorOf(imap);
        bodies->Release();
        EXPECT_EQ(RawText(mails[0]), kPlain);
        EXPECT_EQ(RawText(mails[1]), kWithAttachment);

        EXPECT_EQ(imap->MarkMailAsRead(reinterpret_cast<LPCWSTR>(Widen(ids[0]).c_str())), S_OK) << ErrorOf(imap);
        EXPECT_EQ(imap->DeleteMail(reinterpret_cast<LPCWSTR>(Widen(ids[1]).c_str())), S_OK) << ErrorOf(imap);
        EXPECT_EQ(server.MessagesLeft("mrose"), 2u) << "UIDPLUS: expunged at once";
        ReleaseAll(mails);
        EXPECT_EQ(imap->Disconnect(), S_OK) << ErrorOf(imap);
        imap->Release();
    }

    // The next session: the read mail is left out of an unread-only listing,
    // the deleted one is gone, the names are the same.
    auto *imap = Configured<clsIMAPMailConnection>(Settings(server.Port(), server.ImapPort(),
                                                            {{"IMAP.QueryUnreadMailsOnly", "1"}}));
    ASSERT_EQ(imap->Connect(), S_OK) << ErrorOf(imap);
    ASSERT_EQ(imap->QueryMailbox(1), S_OK) << ErrorOf(imap);
    std::vector<IKvMail *> mails = Mails(imap);
    ASSERT_EQ(mails.size(), 1u);
    EXPECT_EQ(Cookie(mails[0]), ids[2]);
    EXPECT_EQ(RawText(mails[0]), kThird);
    ReleaseAll(mails);
    imap->Disconnect();
    imap->Release();
}

TEST(ImapIntegration, NonAsciiFolderAndAFolderMadeAnew) {
    if (!fixtures::Dovecot::ImapAvailable()) GTEST_SKIP() << "dovecot's IMAP server is not installed";
    fixtures::Dovecot server;
    server.imap = true;
    ASSERT_TRUE(server.Start("mrose", "tanstaaf", false)) << server.Log();
    const std::string folder = "Gr&APw-n"; // "Grün" as IMAP4rev1 and dovecot's maildir write it
    server.Deliver("mrose", "1000000001.M1P1.test", kThird, folder);
    WString settings = Settings(server.Port(), server.ImapPort(), {{"IMAP.Folder", "Gr\xC3\xBCn"}});

    String id;
    {
        auto *imap = Configured<clsIMAPMailConnection>(settings);
        ASSERT_EQ(imap->Connect(), S_OK) << ErrorOf(imap) << server.Log();
        ASSERT_EQ(imap->QueryMailbox(1), S_OK) << ErrorOf(imap);
        std::vector<IKvMail *> mails = Mails(imap);
        ASSERT_EQ(mails.size(), 1u);
        id = Cookie(mails[0]);
        EXPECT_EQ(RawText(mails[0]), kThird);
        ReleaseAll(mails);
        imap->Disconnect();
        imap->Release();
    }
    // Another program removes the folder and makes it again: its UIDs start anew.
    ASSERT_TRUE(MakeFolderAnew(server.ImapPort(), folder));
    server.Deliver("mrose", "1000000002.M2P1.test", kPlain, folder);

    auto *imap = Configured<clsIMAPMailConnection>(settings);
    ASSERT_EQ(imap->Connect(), S_OK) << ErrorOf(imap);
    EXPECT_EQ(imap->DeleteMail(reinterpret_cast<LPCWSTR>(Widen(id).c_str())), E_ABORT);
    std::string error = ErrorOf(imap);
    EXPECT_NE(error.find("the mail '" + id + "' was listed under UIDVALIDITY"), std::string::npos) << error;
    EXPECT_NE(error.find("the folder 'Gr\xC3\xBCn' now has UIDVALIDITY"), std::string::npos) << error;
    EXPECT_EQ(imap->Disconnect(), S_OK);
    imap->Release();
    EXPECT_EQ(server.MessagesLeft("mrose", folder), 1u) << "nothing was deleted";
}

TEST(ImapIntegration, LogonsAndRefusals) {
    if (!fixtures::Dovecot::ImapAvailable()) GTEST_SKIP() << "dovecot's IMAP server is not installed";
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
        {"no such folder",
         {{"IMAP.Folder", "Nope"}},
         "unexpected reply 'a2 NO Mailbox doesn't exist: Nope"}, // dovecot adds its timing
        // Last: dovecot makes the next logon from this address wait after a failed one.
        {"wrong password",
         {{"IMAP.ServerPassword", "wrong"}},
         "unexpected reply 'a2 NO [AUTHENTICATIONFAILED] Authentication failed.'\r\nauthentication failed!\r\n"
         "[clsIMAPMailConnection::OnConnect]\r\n"},
    };
    for (const Case &c : cases) {
        auto *imap = Configured<clsIMAPMailConnection>(Settings(server.Port(), server.ImapPort(), c.options));
        EXPECT_EQ(imap->Connect(), c.error.empty() ? S_OK : E_ABORT) << c.name;
        std::string error = ErrorOf(imap);
        EXPECT_EQ(error.substr(0, c.error.size()), c.error) << c.name << ": " << error;
        const std::string tail = "[clsIMAPMailConnection::OnConnect]\r\n";
        if (!c.error.empty()) {
            EXPECT_EQ(error.substr(std::max(tail.size(), error.size()) - tail.size()), tail) << error;
        }
        imap->Disconnect();
        imap->Release();
    }
    EXPECT_NE(server.Log().find("method=CRAM-MD5"), std::string::npos) << server.Log();
}

TEST(ImapIntegration, StartTlsAndImplicitTls) {
    if (!fixtures::Dovecot::ImapAvailable() || !fixtures::TestPki::Available())
        GTEST_SKIP() << "dovecot's IMAP server or openssl is not installed";
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
        auto *imap = Configured<clsIMAPMailConnection>(Settings(
            server.Port(), implicit ? server.ImapTlsPort() : server.ImapPort(),
            {{"IMAP.TLSMode", mode}, {"IMAP.TLSCAFile", pki.CaFile()}}));
        ASSERT_EQ(imap->Connect(), S_OK) << mode << ": " << ErrorOf(imap) << server.Log();
        ASSERT_EQ(imap->QueryMailbox(1), S_OK) << ErrorOf(imap);
        std::vector<IKvMail *> mails = Mails(imap);
        ASSERT_EQ(mails.size(), 2u);
        EXPECT_EQ(RawText(mails[0]), kPlain) << mode;
        EXPECT_TRUE(RawText(mails[1]) == big) << mode;
        ReleaseAll(mails);
        EXPECT_EQ(imap->Disconnect(), S_OK);
        imap->Release();
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

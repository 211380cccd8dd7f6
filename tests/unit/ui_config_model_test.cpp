// The configuration dialog without a window: pages by flags and provider,
// what the fields show, what OK stores, the provider list, the test mail.
#include <gtest/gtest.h>

#include <functional>

#include "runtime/kvlog.h"
#include "script_server.h"
#include "temp_registry.h"
#include "ui/config/config_model.h"
#include "ui/config/test_mail.h"

namespace kv::ui {
namespace {

using P = ConfigPage;
using F = FieldId;
using Options = std::vector<std::pair<const char *, clsVariant>>;

clsOptionList List(const Options &entries) {
    clsOptionList l;
    for (const auto &[key, value] : entries) l.Set(key, value);
    return l;
}

clsVariant T(const char16_t *text) { return clsVariant::FromText(text); }

clsConfigModel Model(uint32_t flags, const clsOptionList &global = {}, const clsOptionList &user = {},
                     const MailClientAccount &account = {}) {
    return clsConfigModel(flags, global, user, account, {u"Outlook", u"Work"}, u"HOSTX");
}

std::string Visible(const clsConfigModel &m) {
    static const char *const names[] = {"Provider",   "MapiUser", "SmtpServer", "SmtpUser",
                                        "Pop3Server", "Pop3User", "ImapServer"};
    std::string out;
    for (int p = 0; p <= int(P::ImapServer); ++p)
        if (m.PageVisible(P(p))) out += (out.empty() ? "" : " ") + std::string(names[p]);
    return out;
}

// "key=value key=value ...": the pairs of a text (values without blanks).
std::vector<std::pair<std::string, std::string>> Pairs(const std::string &text) {
    std::vector<std::pair<std::string, std::string>> out;
    for (size_t at = 0; at < text.size();) {
        size_t eq = text.find('=', at), end = std::min(text.find(' ', eq), text.size());
        out.emplace_back(text.substr(at, eq - at), text.substr(eq + 1, end - eq - 1));
        at = end + 1;
    }
    return out;
}

FieldId ByKey(const std::string &key) {
    for (const FieldInfo &f : ConfigFields())
        if (key == f.key) return f.id;
    ADD_FAILURE() << key;
    return F::Provider;
}

void Edit(clsConfigModel &m, const std::string &edits) {
    for (const auto &[key, value] : Pairs(edits)) m.SetField(ByKey(key), Widen(value, 65001));
}

std::string Each(const std::string &expected, const std::function<std::string(const std::string &)> &value) {
    std::string out;
    for (const auto &[key, ignored] : Pairs(expected)) out += (out.empty() ? "" : " ") + key + "=" + value(key);
    return out;
}

std::string Shown(const clsConfigModel &m, const std::string &expected) {
    return Each(expected, [&](const std::string &key) { return Narrow(m.Field(ByKey(key)), 65001); });
}

// The options named in `expected` as "<type>:<value>" (i: 32-bit number, b: boolean, s: text), "-" when absent.
std::string Stored(const clsOptionList &l, const std::string &expected) {
    return Each(expected, [&](const std::string &key) {
        const clsVariant *v = l.Find(key);
        return !v                   ? "-"
               : v->vt() == VT_I4   ? "i:" + std::to_string(v->get().lVal)
               : v->vt() == VT_BOOL ? std::string("b:") + (v->get().boolVal ? "1" : "0")
               : v->vt() == VT_BSTR ? "s:" + Narrow(v->Text(), 65001)
                                    : "?";
    });
}

TEST(ConfigModel, PagesByFlagsAndProvider) {
    struct Case { uint32_t flags; const char16_t *provider; bool pop; const char *visible, *receive = nullptr; };
    const Case cases[] = {
        {0x1000, u"SMAPI", false, "Provider MapiUser"},
        {0x1000, u"SMTP", false, "Provider"},
        {0x1001, u"XMAPI", true, "Provider MapiUser"},
        {0x1011, u"SMTP", false, "Provider SmtpServer SmtpUser Pop3Server Pop3User"},
        {0x5011, u"SMTP", false, "Provider SmtpUser Pop3User"},
        {0x9011, u"SMTP", true, "Provider SmtpServer Pop3Server"},
        {0xD011, u"SMTP", true, "Provider"},
        // Without a provider page the internet pages are the dialog.
        {0x0001, u"", false, "SmtpServer SmtpUser"},
        {0x0011, u"", false, "SmtpServer SmtpUser Pop3Server Pop3User"},
        {0x0010, u"", false, "Pop3Server Pop3User"},
        {0x0000, u"SMTP", false, ""},
        // Receiving through IMAP: its page instead of the POP3 pages, which POP-before-SMTP still needs.
        {0x1011, u"SMTP", false, "Provider SmtpServer SmtpUser ImapServer", "imap"},
        {0x1011, u"SMTP", true, "Provider SmtpServer SmtpUser Pop3Server Pop3User ImapServer", "IMAP"},
        {0x1011, u"XMAPI", false, "Provider MapiUser", "IMAP"},
        {0x1001, u"SMTP", false, "Provider SmtpServer SmtpUser", "IMAP"},
        {0x0010, u"", false, "ImapServer", "IMAP"},
        {0x0010, u"", false, "Pop3Server Pop3User", "Exchange"},
        {0x4010, u"", false, "", "IMAP"},
    };
    for (const Case &c : cases) {
        clsOptionList user = List({{"Provider", T(c.provider)}, {"SMTP.POPBeforeSMTP", clsVariant::FromInt(c.pop)}});
        if (c.receive) user.SetText("ReceiveProvider", Widen(c.receive, 65001));
        EXPECT_EQ(Visible(Model(c.flags, {}, user)), c.visible)
            << std::hex << c.flags << " " << Narrow(c.provider, 65001);
    }
}

TEST(ConfigModel, EditsSwitchPagesAndTheTestMail) {
    const struct { const char *edit, *visible; bool testMail = true; } steps[] = {
        {"SMTP.ServerAddress=mail.example.org", "Provider SmtpServer SmtpUser"},
        {"Provider=XMAPI", "Provider MapiUser"},
        {"Provider=SMAPI", "Provider MapiUser"},
        {"Provider=CDOSYS", "Provider", false},
        {"Provider=SMTP", "Provider SmtpServer SmtpUser"},
        {"SMTP.POPBeforeSMTP=1", "Provider SmtpServer SmtpUser Pop3Server Pop3User"},
        {"SMTP.POPBeforeSMTP=0", "Provider SmtpServer SmtpUser"},
    };
    clsOptionList user = List({{"Provider", T(u"SMTP")}, {"SMTP.ServerAddress", T(u"old")}, {"Other.Key", T(u"kept")}});
    clsConfigModel m = Model(0x1001, {}, user);
    for (const auto &s : steps) {
        SCOPED_TRACE(s.edit);
        Edit(m, s.edit);
        EXPECT_EQ(Visible(m), s.visible);
        EXPECT_EQ(m.TestMailEnabled(), s.testMail);
    }
    // The provider changes kept what had been entered; OK replaces the caller's entries of the same key
    // (Cancel leaving them alone: test_mail_integration_test, ConfigDialog).
    MergeOptions(user, m.User());
    const char *merged = "SMTP.ServerAddress=s:mail.example.org Other.Key=s:kept";
    EXPECT_EQ(Stored(user, merged), merged);
    // Without a provider page the SMTP pages and the SMTP test mail are the dialog.
    clsConfigModel internetOnly = Model(0x0001, {}, List({{"Provider", T(u"XMAPI")}}));
    EXPECT_EQ(internetOnly.EffectiveProvider(), "SMTP");
    EXPECT_TRUE(internetOnly.TestMailEnabled());
}

TEST(ConfigModel, FieldsShowOptionsBeforeTheAccountAndTheUserListFirst) {
    const MailClientAccount account{{{IString("SMTP Server"), u"smtp.account.example"},
                                     {IString("SMTP LogonName"), u"DOMAIN"},
                                     {IString("POP3 Server"), u"pop.account.example"}},
                                    {{IString("SMTP Port"), 587}, {IString("SMTP Timeout"), 45}, {IString("POP3 Port"), 995}}};
    clsOptionList global = List({{"SMTP.ServerAddress", T(u"global.example")},
                                 {"SMTP.ServerUser", T(u"globaluser")},
                                 {"SMTP.ProxyType", clsVariant::FromInt(7)}, // out of range: the first entry
                                 {"POP3.OAuth2Token", T(u"globaltoken")}});
    clsOptionList user = List({{"SMTP.ServerAddress", T(u"user.example")},
                               {"SMTP.ServerPort", clsVariant::FromInt(2525)},
                               {"POP3.ProxyType", clsVariant::FromInt(2)},
                               {"POP3.ProxyResolve", T(u" REMOTE")},
                               {"SMTP.TLSMode", T(u" STARTTLS ")},
                               {"POP3.TLSMode", T(u"tls")}, // refused by the transports: shown as it is
                               {"IMAP.TLSMode", T(u"")},
                               {"SMTP.TLSVerify", clsVariant::FromInt(0)},
                               {"POP3.TLSVerify", clsVariant::FromInt(7)},
                               {"IMAP.TLSVerify", clsVariant()}});
    const std::string shown =
        "SMTP.ServerAddress=user.example SMTP.ServerUser=globaluser SMTP.ServerPort=2525 SMTP.SocketTimeout=45000 "
        "SMTP.LogonName=DOMAIN POP3.ServerAddress=pop.account.example POP3.ServerPort=995 SMTP.ProxyType=0 "
        "POP3.ProxyType=2 POP3.ProxyResolve=1 SMTP.ProxyResolve=0 POP3.OAuth2Token=globaltoken "
        "SMTP.TLSMode=starttls POP3.TLSMode=tls IMAP.TLSMode=none SMTP.TLSVerify=0 POP3.TLSVerify=1 IMAP.TLSVerify=1";
    EXPECT_EQ(Shown(Model(0x0011, global, user, account), shown), shown);
    // The account's values count only with the SMTP flag.
    EXPECT_EQ(Model(0x0010, {}, {}, account).Field(F::Pop3ServerAddress), u"");
}

TEST(ConfigModel, StoreWritesTheOfferedPagesWithTheirTypes) {
    const struct { uint32_t flags; Options global, user; const char *edits, *inUser, *inGlobal; } cases[] = {
        {0x0011, {}, {}, "SMTP.ServerPort=465 SMTP.ProxyType=2 SMTP.ProxyPort=x25 SMTP.ServerPassword=s3cret",
         "SMTP.ServerPort=i:465 SMTP.ProxyType=i:2 SMTP.ProxyPort=i:0 SMTP.POPBeforeSMTP=i:0 "
         "SMTP.ServerPassword=s:s3cret SMTP.LogonName=s:HOSTX Provider=- @MAPI.ServerUser=-",
         "Provider=-"},
        // Flag 0x1000 without 0x8000: the choice of provider is the computer's.
        {0x1000, {}, {}, "Provider=XMAPI @MAPI.ServerUser=Work @MAPI.ServerPassword=pw",
         "XMAPI.ServerUser=s:Work XMAPI.ServerPassword=s:pw @MAPI.ServerUser=s:Work @MAPI.ServerPassword=s:pw "
         "SMAPI.ServerUser=- Provider=-",
         "Provider=s:XMAPI"},
        {0x1000, {}, {}, "Provider=XMAPI @MAPI.ServerUser=Work Provider=SMAPI @MAPI.ServerUser=Outlook",
         "SMAPI.ServerUser=s:Outlook XMAPI.ServerUser=s:Work @MAPI.ServerUser=s:Outlook", ""},
        {0x9000, {}, {}, "Provider=SMAPI", "Provider=s:SMAPI", "Provider=-"},
        {0x1011, {}, {{"Provider", T(u"SMTP")}},
         "ReceiveProvider=imap IMAP.TLSMode=implicit IMAP.Folder=Archiv/Gr\xC3\xBCn",
         "ReceiveProvider=s:IMAP IMAP.ServerPort=i:993 IMAP.TLSMode=s:implicit IMAP.Folder=s:Archiv/Gr\xC3\xBCn "
         "IMAP.OAuth2Token=-",
         ""},
        // A choice never made is not stored; one undone after a store in between (the provider's) is undone.
        {0x0011, {{"POP3.TLSMode", T(u"implicit")}, {"POP3.OAuth2Token", T(u"globaltoken")}},
         {{"SMTP.TLSMode", T(u"STARTTLS")}, {"SMTP.TLSVerify", clsVariant::FromInt(0)},
          {"POP3.ProxyResolve", T(u"REMOTE")}},
         "SMTP.ServerPort=465 SMTP.TLSMode=auto SMTP.ProxyResolve=1 POP3.OAuth2Token=tok Provider=SMTP "
         "SMTP.TLSMode=starttls SMTP.ProxyResolve=0 POP3.OAuth2Token=globaltoken",
         "SMTP.TLSMode=s:STARTTLS SMTP.TLSVerify=i:0 SMTP.ProxyResolve=- SMTP.TLSCAFile=- SMTP.OAuth2Token=- "
         "POP3.TLSMode=- POP3.TLSVerify=- POP3.OAuth2Token=- POP3.ProxyResolve=s:REMOTE ReceiveProvider=- "
         "SMTP.ServerPort=i:465",
         ""},
        // Switching to or from implicit TLS moves only the other standard port: a port chosen stays.
        {0x0011, {}, {{"POP3.ProxyResolve", T(u"REMOTE")}},
         "SMTP.ServerPort=2525 SMTP.TLSMode=implicit SMTP.TLSVerify=0 SMTP.TLSVerify=1 POP3.TLSMode=implicit "
         "POP3.TLSMode=auto POP3.TLSVerify=0 POP3.TLSCAFile=C:\\ca.pem SMTP.OAuth2Token=ya29.token "
         "SMTP.ProxyResolve=1 POP3.ProxyResolve=0",
         "SMTP.ServerPort=i:2525 SMTP.TLSMode=s:implicit SMTP.TLSVerify=- POP3.ServerPort=i:110 POP3.TLSMode=s:auto "
         "POP3.TLSVerify=b:0 POP3.TLSCAFile=s:C:\\ca.pem SMTP.OAuth2Token=s:ya29.token SMTP.ProxyResolve=s:remote "
         "POP3.ProxyResolve=s:local",
         ""},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.edits);
        clsConfigModel m = Model(c.flags, List(c.global), List(c.user));
        Edit(m, c.edits);
        m.StoreFields();
        EXPECT_EQ(Stored(m.User(), c.inUser), c.inUser);
        EXPECT_EQ(Stored(m.Global(), c.inGlobal), c.inGlobal);
    }
}

TEST(ConfigModel, ProviderListLeavesOutDashEntries) {
    auto texts = [](int id) -> String { return id == 10 ? "Simple MAPI" : id == 11 ? "---" : "SMTP"; };
    std::string shown;
    for (auto &e : BuildProviderList("SMAPI; XMAPI;;SMTP", texts, 10)) shown += e.code + "=" + e.display + ";";
    EXPECT_EQ(shown, "SMAPI=Simple MAPI;SMTP=SMTP;");
}

// The token typed into the dialog reaches the server, but neither the
// collected protocol nor the failure text the test mail shows.
TEST(ConfigModel, TestMailNeverShowsTheAccessToken) {
    testsupport::ScriptServer server;
    server.Send("220 hi\r\n").Expect("EHLO client\r\n").Send("250-x\r\n250 AUTH XOAUTH2\r\n");
    server.Expect("AUTH XOAUTH2 dXNlcj10aW0BYXV0aD1CZWFyZXIgdG9rLTVlY3JldAEB\r\n").Send("535 no\r\n");
    server.Expect("RSET\r\n").Send("250 ok\r\n").Expect("QUIT\r\n").Send("221 bye\r\n").Pause(50);
    server.Start();
    clsConfigModel m = Model(0x0001);
    Edit(m, "SMTP.ServerAddress=127.0.0.1 SMTP.SocketTimeout=3000 SMTP.ServerUser=tim SMTP.OAuth2Token=tok-5ecret "
            "SMTP.LogonName=client SMTP.SenderAddress=tim@example.org SMTP.ServerPort=" +
                std::to_string(server.Port()));
    m.StoreFields();
    TestMailResult result = RunTestMail(
        {&m.Global(), &m.User(), "SMTP", "orkv14.dll", &DllGetClassObject, [](IKvMail *) { return true; }});
    EXPECT_TRUE(server.Finish()) << server.Failure();
    EXPECT_EQ(result.outcome, TestMailResult::Failed);
    EXPECT_NE(result.message.find("->'*****'"), String::npos) << result.message; // the protocol was collected
    EXPECT_NE(result.message.find("535 no"), String::npos) << result.message;
    EXPECT_EQ(result.message.find("tok-5ecret"), String::npos) << result.message;
    EXPECT_EQ(result.message.find("dXNlcj10aW0B"), String::npos) << result.message;
    KvLog().ResetForTests();
}

using MailClientAccountRegistry = testsupport::TempRegistry;

TEST_F(MailClientAccountRegistry, TextsAndNumbersOfTheDefaultAccount) {
    EXPECT_TRUE(ReadMailClientAccount().texts.empty());
    auto key =
        pal::RegCreate(pal::RegRoot::CurrentUser, u"Software\\Microsoft\\Internet Account Manager\\Accounts\\0000000a");
    ASSERT_TRUE(key);
    key->SetString(u"SMTP Server", u"smtp.reg.example");
    key->SetDWord(u"SMTP Timeout", 60);
    key->SetBinary(u"SMTP Port", {1, 0, 0, 0}); // neither text nor number
    MailClientAccount a = ReadMailClientAccount();
    EXPECT_EQ(a.texts, (decltype(a.texts){{IString("smtp server"), u"smtp.reg.example"}}));
    EXPECT_EQ(a.numbers, (decltype(a.numbers){{IString("SMTP TIMEOUT"), 60u}}));
}

} // namespace
} // namespace kv::ui

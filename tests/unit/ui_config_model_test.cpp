// The configuration dialog without a window: pages by flags and provider,
// fields with keys and defaults, the provider list, OK and Cancel.
#include <gtest/gtest.h>

#include <filesystem>
#include <unistd.h>

#include "orkv14.h"
#include "pal/registry.h"
#include "runtime/kvlog.h"
#include "runtime/string_table.h"
#include "script_server.h"
#include "temp_registry.h"
#include "ui/config/config_model.h"
#include "ui/config/test_mail.h"

namespace kv::ui {
namespace {

using P = ConfigPage;

clsConfigModel Model(uint32_t flags, const clsOptionList &global = {}, const clsOptionList &user = {},
                     const MailClientAccount &account = {}) {
    return clsConfigModel(flags, global, user, account, {u"Outlook", u"Work"}, u"HOSTX");
}

std::vector<P> Visible(const clsConfigModel &m) {
    std::vector<P> out;
    for (P p : {P::Provider, P::MapiUser, P::SmtpServer, P::SmtpUser, P::Pop3Server, P::Pop3User, P::ImapServer})
        if (m.PageVisible(p)) out.push_back(p);
    return out;
}

clsOptionList WithProvider(const char16_t *provider) {
    clsOptionList l;
    l.SetText("Provider", provider);
    return l;
}

TEST(ConfigModel, PagesByFlagsAndProvider) {
    struct Case {
        uint32_t flags;
        const char16_t *provider;
        bool popBeforeSmtp;
        std::vector<P> visible;
        const char16_t *receive = nullptr; // "ReceiveProvider"
    };
    const Case cases[] = {
        {0x1000, u"SMAPI", false, {P::Provider, P::MapiUser}},
        {0x1000, u"SMTP", false, {P::Provider}},
        {0x1000, u"", false, {P::Provider}},
        {0x1001, u"XMAPI", true, {P::Provider, P::MapiUser}},
        {0x1011, u"SMTP", false, {P::Provider, P::SmtpServer, P::SmtpUser, P::Pop3Server, P::Pop3User}},
        {0x5011, u"SMTP", false, {P::Provider, P::SmtpUser, P::Pop3User}},
        {0x9011, u"SMTP", true, {P::Provider, P::SmtpServer, P::Pop3Server}},
        {0xD011, u"SMTP", true, {P::Provider}},
        // Without a provider page the internet pages are the dialog.
        {0x0001, u"", false, {P::SmtpServer, P::SmtpUser}},
        {0x0011, u"", false, {P::SmtpServer, P::SmtpUser, P::Pop3Server, P::Pop3User}},
        {0x0010, u"", false, {P::Pop3Server, P::Pop3User}},
        {0x0000, u"SMTP", false, {}},
        // Receiving through IMAP: its page instead of the POP3 pages, which POP-before-SMTP still needs.
        {0x1011, u"SMTP", false, {P::Provider, P::SmtpServer, P::SmtpUser, P::ImapServer}, u"imap"},
        {0x1011, u"SMTP", true, {P::Provider, P::SmtpServer, P::SmtpUser, P::Pop3Server, P::Pop3User, P::ImapServer},
         u"IMAP"},
        {0x1011, u"XMAPI", false, {P::Provider, P::MapiUser}, u"IMAP"},
        {0x1001, u"SMTP", false, {P::Provider, P::SmtpServer, P::SmtpUser}, u"IMAP"},
        {0x0010, u"", false, {P::ImapServer}, u"IMAP"},
        {0x0010, u"", false, {P::Pop3Server, P::Pop3User}, u"Exchange"},
        {0x4010, u"", false, {}, u"IMAP"},
    };
    for (const Case &c : cases) {
        clsOptionList user = WithProvider(c.provider);
        user.SetInt("SMTP.POPBeforeSMTP", c.popBeforeSmtp);
        if (c.receive) user.SetText("ReceiveProvider", c.receive);
        clsConfigModel m = Model(c.flags, {}, user);
        EXPECT_EQ(Visible(m), c.visible) << std::hex << c.flags << " " << Narrow(c.provider, 65001);
    }
}

TEST(ConfigModel, TickingPop3AuthenticationShowsAndHidesBothPop3Pages) {
    for (uint32_t flags : {0x1001u, 0x1011u}) {
        clsConfigModel m = Model(flags, {}, WithProvider(u"SMTP"));
        bool pop3Flag = flags & 0x10;
        EXPECT_EQ(m.PageVisible(P::Pop3Server), pop3Flag);
        m.SetField(FieldId::SmtpPopBeforeSmtp, u"1");
        EXPECT_TRUE(m.PageVisible(P::Pop3Server));
        EXPECT_TRUE(m.PageVisible(P::Pop3User));
        m.SetField(FieldId::SmtpPopBeforeSmtp, u"0");
        EXPECT_EQ(m.PageVisible(P::Pop3Server), pop3Flag);
        EXPECT_EQ(m.PageVisible(P::Pop3User), pop3Flag);
    }
}

TEST(ConfigModel, ChangingTheProviderSwitchesPagesAndTestMailButton) {
    clsConfigModel m = Model(0x1001, {}, WithProvider(u"SMTP"));
    m.SetField(FieldId::SmtpServerAddress, u"mail.example.org");
    struct Step {
        const char16_t *provider;
        bool testMail;
        std::vector<P> visible;
    };
    const Step steps[] = {{u"XMAPI", true, {P::Provider, P::MapiUser}},
                          {u"SMAPI", true, {P::Provider, P::MapiUser}},
                          {u"CDOSYS", false, {P::Provider}},
                          {u"SMTP", true, {P::Provider, P::SmtpServer, P::SmtpUser}}};
    for (const Step &s : steps) {
        m.SetField(FieldId::Provider, s.provider);
        EXPECT_EQ(m.TestMailEnabled(), s.testMail) << Narrow(s.provider, 65001);
        EXPECT_EQ(Visible(m), s.visible) << Narrow(s.provider, 65001);
    }
    // Without a provider page the SMTP pages and the SMTP test mail are the dialog.
    clsConfigModel internetOnly = Model(0x0001, {}, WithProvider(u"XMAPI"));
    EXPECT_EQ(internetOnly.EffectiveProvider(), "SMTP");
    EXPECT_TRUE(internetOnly.TestMailEnabled());
    // The change kept what had been entered.
    EXPECT_EQ(m.User().ReadText("SMTP.ServerAddress", u""), u"mail.example.org");
    EXPECT_EQ(m.Field(FieldId::SmtpServerAddress), u"mail.example.org");
}

TEST(ConfigModel, ReceivingThroughImap) {
    clsConfigModel untouched = Model(0x1011, {}, WithProvider(u"SMTP"));
    EXPECT_EQ(untouched.Field(FieldId::ReceiveProvider), u"POP3");
    untouched.StoreFields();
    EXPECT_FALSE(untouched.User().Contains("ReceiveProvider")) << "a choice never made is not stored";

    clsConfigModel m = Model(0x1011, {}, WithProvider(u"SMTP"));
    m.SetField(FieldId::ReceiveProvider, u"imap");
    EXPECT_EQ(Visible(m), (std::vector<P>{P::Provider, P::SmtpServer, P::SmtpUser, P::ImapServer}));
    EXPECT_EQ(m.Field(FieldId::ImapServerPort), u"143");
    EXPECT_EQ(m.Field(FieldId::ImapFolder), u"INBOX");
    m.SetField(FieldId::ImapTlsMode, u"implicit");
    EXPECT_EQ(m.Field(FieldId::ImapServerPort), u"993");
    m.SetField(FieldId::ImapFolder, u"Archiv/Grün");
    m.StoreFields();
    const clsOptionList &u = m.User();
    EXPECT_EQ(u.ReadText("ReceiveProvider", u""), u"IMAP");
    EXPECT_EQ(u.Find("IMAP.ServerPort")->vt(), VT_I4);
    EXPECT_EQ(u.ReadInt("IMAP.ServerPort", 0), 993);
    EXPECT_EQ(u.ReadText("IMAP.TLSMode", u""), u"implicit");
    EXPECT_EQ(u.ReadText("IMAP.Folder", u""), u"Archiv/Grün");
    EXPECT_FALSE(u.Contains("IMAP.OAuth2Token"));
}

MailClientAccount Account() {
    MailClientAccount a;
    a.texts[IString("SMTP Server")] = u"smtp.account.example";
    a.texts[IString("SMTP LogonName")] = u"DOMAIN";
    a.texts[IString("SMTP Display Name")] = u"Erika Mustermann";
    a.texts[IString("SMTP EMail Address")] = u"erika@account.example";
    a.texts[IString("POP3 Server")] = u"pop.account.example";
    a.numbers[IString("SMTP Port")] = 587;
    a.numbers[IString("SMTP Timeout")] = 45;
    a.numbers[IString("POP3 Port")] = 995;
    a.numbers[IString("POP3 Timeout")] = 1;
    return a;
}

TEST(ConfigModel, AccountValuesAreDefaultsOnlyWithTheSmtpFlagAndNeverOverrideOptions) {
    clsOptionList user;
    user.SetInt("SMTP.ServerPort", 2525);
    clsConfigModel m = Model(0x0011, {}, user, Account());
    EXPECT_EQ(m.Field(FieldId::SmtpServerAddress), u"smtp.account.example");
    EXPECT_EQ(m.Field(FieldId::SmtpServerPort), u"2525");
    EXPECT_EQ(m.Field(FieldId::SmtpSocketTimeout), u"45000");
    EXPECT_EQ(m.Field(FieldId::SmtpLogonName), u"DOMAIN");
    EXPECT_EQ(m.Field(FieldId::SmtpSenderName), u"Erika Mustermann");
    EXPECT_EQ(m.Field(FieldId::SmtpSenderAddress), u"erika@account.example");
    EXPECT_EQ(m.Field(FieldId::Pop3ServerAddress), u"pop.account.example");
    EXPECT_EQ(m.Field(FieldId::Pop3ServerPort), u"995");
    EXPECT_EQ(m.Field(FieldId::Pop3SocketTimeout), u"1000");

    clsConfigModel pop3Only = Model(0x0010, {}, {}, Account());
    EXPECT_EQ(pop3Only.Field(FieldId::Pop3ServerAddress), u"");
    EXPECT_EQ(pop3Only.Field(FieldId::Pop3ServerPort), u"110");
}

TEST(ConfigModel, FieldsReadTheUserListBeforeTheGlobalList) {
    clsOptionList global, user;
    global.SetText("SMTP.ServerAddress", u"global.example");
    global.SetText("SMTP.ServerUser", u"globaluser");
    user.SetText("SMTP.ServerAddress", u"user.example");
    global.SetInt("SMTP.ProxyType", 7); // out of range: the first entry
    user.SetInt("POP3.ProxyType", 2);
    clsConfigModel m = Model(0x0011, global, user);
    EXPECT_EQ(m.Field(FieldId::SmtpServerAddress), u"user.example");
    EXPECT_EQ(m.Field(FieldId::SmtpServerUser), u"globaluser");
    EXPECT_EQ(m.Field(FieldId::SmtpProxyType), u"0");
    EXPECT_EQ(m.Field(FieldId::Pop3ProxyType), u"2");
}

TEST(ConfigModel, ConfirmStoresEveryFieldOfOfferedPagesWithItsType) {
    clsConfigModel m = Model(0x0011);
    m.SetField(FieldId::SmtpServerPort, u"465");
    m.SetField(FieldId::SmtpProxyType, u"2");
    m.SetField(FieldId::SmtpProxyPort, u"not a number");
    m.SetField(FieldId::SmtpServerPassword, u"s3cret");
    m.StoreFields();
    const clsOptionList &u = m.User();
    const clsVariant *port = u.Find("SMTP.ServerPort");
    ASSERT_TRUE(port);
    EXPECT_EQ(port->vt(), VT_I4);
    EXPECT_EQ(u.ReadInt("SMTP.ServerPort", 0), 465);
    EXPECT_EQ(u.ReadInt("SMTP.ProxyType", -1), 2);
    EXPECT_EQ(u.ReadInt("SMTP.ProxyPort", -1), 0);
    EXPECT_EQ(u.ReadInt("SMTP.SocketTimeout", 0), 30000);
    EXPECT_EQ(u.ReadInt("POP3.ServerPort", 0), 110);
    EXPECT_EQ(u.Find("SMTP.ServerPassword")->vt(), VT_BSTR);
    EXPECT_EQ(u.ReadText("SMTP.ServerPassword", u""), u"s3cret");
    EXPECT_EQ(u.ReadText("SMTP.LogonName", u""), u"HOSTX");
    // Pages that were not offered write nothing.
    EXPECT_FALSE(u.Contains("Provider"));
    EXPECT_FALSE(u.Contains("@MAPI.ServerUser"));
    EXPECT_TRUE(m.Global().Entries().empty());
}

TEST(ConfigModel, ExtendedMapiProfileIsStoredUnderProviderAndMapiKeys) {
    clsConfigModel m = Model(0x1000);
    m.SetField(FieldId::Provider, u"XMAPI");
    m.SetField(FieldId::MapiProfile, u"Work");
    m.SetField(FieldId::MapiPassword, u"pw");
    m.StoreFields();
    const clsOptionList &u = m.User();
    EXPECT_EQ(u.ReadText("XMAPI.ServerUser", u""), u"Work");
    EXPECT_EQ(u.ReadText("XMAPI.ServerPassword", u""), u"pw");
    EXPECT_EQ(u.ReadText("@MAPI.ServerUser", u""), u"Work");
    EXPECT_EQ(u.ReadText("@MAPI.ServerPassword", u""), u"pw");
    EXPECT_FALSE(u.Contains("SMAPI.ServerUser"));
    // Flag 0x1000 without 0x8000: the choice is the computer's.
    EXPECT_EQ(m.Global().ReadText("Provider", u""), u"XMAPI");
    EXPECT_FALSE(u.Contains("Provider"));
}

TEST(ConfigModel, SwitchingMapiProvidersKeepsEachProvidersProfile) {
    clsConfigModel m = Model(0x1000);
    m.SetField(FieldId::Provider, u"XMAPI");
    m.SetField(FieldId::MapiProfile, u"Work");
    m.SetField(FieldId::Provider, u"SMAPI");
    EXPECT_EQ(m.User().ReadText("XMAPI.ServerUser", u""), u"Work");
    EXPECT_FALSE(m.User().Contains("SMAPI.ServerUser"));
    m.SetField(FieldId::MapiProfile, u"Outlook");
    m.StoreFields();
    EXPECT_EQ(m.User().ReadText("SMAPI.ServerUser", u""), u"Outlook");
    EXPECT_EQ(m.User().ReadText("XMAPI.ServerUser", u""), u"Work");
    EXPECT_EQ(m.User().ReadText("@MAPI.ServerUser", u""), u"Outlook");
}

TEST(ConfigModel, ProviderGoesToTheUserListWhenUserPagesAreLeftOut) {
    clsConfigModel m = Model(0x9000);
    m.SetField(FieldId::Provider, u"SMAPI");
    m.StoreFields();
    EXPECT_EQ(m.User().ReadText("Provider", u""), u"SMAPI");
    EXPECT_FALSE(m.Global().Contains("Provider"));
}

TEST(ConfigModel, CancelLeavesTheCallersListsAndOkMergesByKey) {
    clsOptionList global, user;
    user.SetText("SMTP.ServerAddress", u"old.example");
    user.SetText("Other.Key", u"kept");
    clsConfigModel m = Model(0x0001, global, user);
    m.SetField(FieldId::SmtpServerAddress, u"new.example");
    m.StoreFields();
    // Cancel: the model's copies changed, the caller's lists did not.
    EXPECT_EQ(user.ReadText("SMTP.ServerAddress", u""), u"old.example");
    EXPECT_EQ(user.Size(), 2u);
    EXPECT_TRUE(global.Entries().empty());
    // OK.
    MergeOptions(user, m.User());
    MergeOptions(global, m.Global());
    EXPECT_EQ(user.ReadText("SMTP.ServerAddress", u""), u"new.example");
    EXPECT_EQ(user.ReadText("Other.Key", u""), u"kept");
}

TEST(ConfigModel, ProviderListLeavesOutDashEntries) {
    auto texts = [](int id) -> String {
        switch (id) {
        case 10: return "Simple MAPI";
        case 11: return "---";
        case 12: return "SMTP";
        default: return "";
        }
    };
    std::vector<ProviderEntry> l = BuildProviderList("SMAPI;XMAPI;SMTP", texts, 10);
    ASSERT_EQ(l.size(), 2u);
    EXPECT_EQ(l[0].code, "SMAPI");
    EXPECT_EQ(l[0].display, "Simple MAPI");
    EXPECT_EQ(l[1].code, "SMTP");
    EXPECT_EQ(l[1].display, "SMTP");
}

TEST(ConfigModel, StoredSecurityOptionsAsTheFieldsShowThem) {
    struct Case {
        clsVariant mode;
        clsVariant verify;
        const char16_t *shownMode;
        const char16_t *shownVerify;
    };
    const Case cases[] = {
        {clsVariant::FromText(u" STARTTLS "), clsVariant::FromBool(false), u"starttls", u"0"},
        {clsVariant::FromText(u"Implicit"), clsVariant::FromInt(0), u"implicit", u"0"},
        {clsVariant::FromText(u"auto"), clsVariant::FromInt(7), u"auto", u"1"},
        {clsVariant::FromText(u""), clsVariant::FromBool(true), u"none", u"1"},
        // A value the transports refuse is shown as it is: the list then shows no choice.
        {clsVariant::FromText(u"tls"), clsVariant(), u"tls", u"1"},
    };
    for (const Case &c : cases) {
        clsOptionList user;
        user.Set("SMTP.TLSMode", c.mode);
        user.Set("POP3.TLSVerify", c.verify);
        clsConfigModel m = Model(0x0011, {}, user);
        EXPECT_EQ(m.Field(FieldId::SmtpTlsMode), c.shownMode) << Narrow(c.mode.Text(), 65001);
        EXPECT_EQ(m.Field(FieldId::Pop3TlsVerify), c.shownVerify) << Narrow(c.mode.Text(), 65001);
    }
}

TEST(ConfigModel, ImplicitTlsSwitchesOnlyTheOtherStandardPort) {
    struct Case {
        FieldId mode;
        const char16_t *fromMode; // stored before the dialog opens
        const char16_t *fromPort;
        const char16_t *toMode;
        const char16_t *port; // afterwards
    };
    const FieldId S = FieldId::SmtpTlsMode, Q = FieldId::Pop3TlsMode;
    const Case cases[] = {
        {S, u"starttls", u"25", u"implicit", u"465"},
        {S, u"implicit", u"465", u"auto", u"25"},
        {S, u"none", u"2525", u"implicit", u"2525"},
        {S, u"implicit", u"2465", u"none", u"2465"},
        {S, u"none", u"", u"implicit", u""},
        // No move between implicit and not: a port the user chose stays.
        {S, u"none", u"465", u"starttls", u"465"},
        {S, u"implicit", u"25", u"implicit", u"25"},
        {Q, u"none", u"110", u"implicit", u"995"},
        {Q, u"implicit", u"995", u"starttls", u"110"},
        {Q, u"implicit", u"465", u"none", u"465"},
    };
    for (const Case &c : cases) {
        bool smtp = c.mode == S;
        String prefix = smtp ? "SMTP." : "POP3.";
        FieldId port = smtp ? FieldId::SmtpServerPort : FieldId::Pop3ServerPort;
        FieldId otherPort = smtp ? FieldId::Pop3ServerPort : FieldId::SmtpServerPort;
        clsOptionList user;
        user.SetText(prefix + "TLSMode", c.fromMode);
        clsConfigModel m = Model(0x0011, {}, user);
        m.SetField(port, c.fromPort);
        WString other = m.Field(otherPort);
        m.SetField(c.mode, c.toMode);
        SCOPED_TRACE(prefix + Narrow(c.fromMode, 65001) + " " + Narrow(c.fromPort, 65001) + " -> " +
                     Narrow(c.toMode, 65001));
        EXPECT_EQ(m.Field(port), c.port);
        EXPECT_EQ(m.Field(otherPort), other);
        m.StoreFields();
        EXPECT_EQ(m.User().ReadText(prefix + "ServerPort", u"?"), WString(*c.port ? c.port : u"0"));
    }
}

TEST(ConfigModel, UntouchedSecurityFieldsLeaveTheirOptionsAsTheyWere) {
    const char *keys[] = {"SMTP.TLSMode", "SMTP.TLSVerify", "SMTP.TLSCAFile", "SMTP.OAuth2Token", "SMTP.ProxyResolve",
                          "POP3.TLSMode", "POP3.TLSVerify", "POP3.TLSCAFile", "POP3.OAuth2Token", "POP3.ProxyResolve"};
    // Absent stays absent, also after a provider change stored the fields in between.
    clsConfigModel m = Model(0x1011, {}, WithProvider(u"SMTP"));
    m.SetField(FieldId::SmtpTlsMode, u"starttls");
    m.SetField(FieldId::SmtpTlsVerify, u"0");
    m.SetField(FieldId::Pop3OAuth2Token, u"tok");
    m.SetField(FieldId::SmtpProxyResolve, u"1");
    m.SetField(FieldId::Provider, u"XMAPI");
    EXPECT_EQ(m.User().ReadText("SMTP.TLSMode", u""), u"starttls");
    m.SetField(FieldId::Provider, u"SMTP");
    m.SetField(FieldId::SmtpTlsMode, u"none");
    m.SetField(FieldId::SmtpTlsVerify, u"1");
    m.SetField(FieldId::Pop3OAuth2Token, u"");
    m.SetField(FieldId::SmtpProxyResolve, u"0");
    m.StoreFields();
    for (const char *key : keys) EXPECT_FALSE(m.User().Contains(key)) << key;
    EXPECT_TRUE(m.User().Contains("SMTP.ServerPort")); // the other fields are all written, as before

    // Stored values stay exactly as they were, in the list they were in.
    clsOptionList global, user;
    user.SetText("SMTP.TLSMode", u"STARTTLS");
    user.SetInt("SMTP.TLSVerify", 0);
    global.SetText("POP3.TLSMode", u"implicit");
    global.SetText("POP3.OAuth2Token", u"globaltoken");
    user.SetText("POP3.ProxyResolve", u" REMOTE");
    clsConfigModel kept = Model(0x0011, global, user);
    kept.StoreFields();
    EXPECT_EQ(kept.User().ReadText("SMTP.TLSMode", u""), u"STARTTLS");
    EXPECT_EQ(kept.User().Find("SMTP.TLSVerify")->vt(), VT_I4);
    EXPECT_FALSE(kept.User().Contains("POP3.TLSMode"));
    EXPECT_FALSE(kept.User().Contains("POP3.OAuth2Token"));
    EXPECT_EQ(kept.Field(FieldId::Pop3OAuth2Token), u"globaltoken");
    EXPECT_EQ(kept.Field(FieldId::Pop3ProxyResolve), u"1");
    EXPECT_EQ(kept.User().ReadText("POP3.ProxyResolve", u""), u" REMOTE");

    // Changed fields are written with their types.
    clsConfigModel changed = Model(0x0011, global, user);
    changed.SetField(FieldId::SmtpTlsMode, u"auto");
    changed.SetField(FieldId::SmtpTlsVerify, u"1");
    changed.SetField(FieldId::Pop3TlsVerify, u"0");
    changed.SetField(FieldId::Pop3TlsCaFile, u"C:\\certs\\ca.pem");
    changed.SetField(FieldId::SmtpOAuth2Token, u"ya29.token");
    changed.SetField(FieldId::SmtpProxyResolve, u"1");
    changed.SetField(FieldId::Pop3ProxyResolve, u"0");
    changed.StoreFields();
    const clsOptionList &u = changed.User();
    EXPECT_EQ(u.ReadText("SMTP.TLSMode", u""), u"auto");
    ASSERT_TRUE(u.Find("SMTP.TLSVerify"));
    EXPECT_EQ(u.Find("SMTP.TLSVerify")->vt(), VT_BOOL);
    EXPECT_TRUE(u.ReadBool("SMTP.TLSVerify"));
    ASSERT_TRUE(u.Find("POP3.TLSVerify"));
    EXPECT_FALSE(u.ReadBool("POP3.TLSVerify"));
    EXPECT_EQ(u.ReadText("POP3.TLSCAFile", u""), u"C:\\certs\\ca.pem");
    EXPECT_EQ(u.ReadText("SMTP.OAuth2Token", u""), u"ya29.token");
    EXPECT_EQ(u.ReadText("SMTP.ProxyResolve", u""), u"remote");
    EXPECT_EQ(u.ReadText("POP3.ProxyResolve", u""), u"local");
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
    m.SetField(FieldId::SmtpServerAddress, u"127.0.0.1");
    m.SetField(FieldId::SmtpServerPort, Widen(std::to_string(server.Port()), 65001));
    m.SetField(FieldId::SmtpSocketTimeout, u"3000");
    m.SetField(FieldId::SmtpServerUser, u"tim");
    m.SetField(FieldId::SmtpOAuth2Token, u"tok-5ecret");
    m.SetField(FieldId::SmtpLogonName, u"client");
    m.SetField(FieldId::SmtpSenderAddress, u"tim@example.org");
    m.StoreFields();
    TestMailRequest r;
    r.global = &m.Global();
    r.user = &m.User();
    r.provider = "SMTP";
    r.getClassObject = &DllGetClassObject;
    r.review = [](IKvMail *) { return true; };
    TestMailResult result = RunTestMail(r);
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
    auto key = pal::RegCreate(pal::RegRoot::CurrentUser,
                              u"Software\\Microsoft\\Internet Account Manager\\Accounts\\0000000a");
    ASSERT_TRUE(key);
    key->SetString(u"SMTP Server", u"smtp.reg.example");
    key->SetDWord(u"SMTP Port", 2525);
    key->SetDWord(u"SMTP Timeout", 60);
    MailClientAccount a = ReadMailClientAccount();
    clsConfigModel m = Model(0x0001, {}, {}, a);
    EXPECT_EQ(m.Field(FieldId::SmtpServerAddress), u"smtp.reg.example");
    EXPECT_EQ(m.Field(FieldId::SmtpServerPort), u"2525");
    EXPECT_EQ(m.Field(FieldId::SmtpSocketTimeout), u"60000");
    EXPECT_EQ(m.Field(FieldId::SmtpSenderName), u"");
}

} // namespace
} // namespace kv::ui

// The configuration dialog's test mail, driven through the public interfaces
// against a real SMTP server; the host's log comes back as it was.
#include <gtest/gtest.h>

#include <atomic>
#include <functional>

#include "runtime/string_table.h"
#include "fixtures.h"
#include "runtime/kvlog.h"
#include "orkv14.h"
#include "ui/config/config_dialog.h"
#include "ui/config/test_mail.h"

namespace {

using kv::String;
using kv::clsOptionList;
using kv::ui::RunTestMail;
using kv::ui::TestMailRequest;
using kv::ui::TestMailResult;

class HostSlot : public IKvLogSlot {
  public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void **ppv) override {
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
    ULONG STDMETHODCALLTYPE Release() override { return --refs; }
    HRESULT STDMETHODCALLTYPE WriteLine(BSTR) override {
        ++lines;
        return S_OK;
    }
    std::atomic<ULONG> refs{1};
    int lines = 0;
};

class TestMail : public ::testing::Test {
  protected:
    void SetUp() override {
        kv::KvLog().SetLogSlot(&host_);
        kv::KvLog().SetLogLevel(3);
        kv::KvLog().SetOutputMode(2);
    }
    void TearDown() override {
        ExpectHostLogBack();
        kv::KvLog().ResetForTests();
        EXPECT_EQ(host_.refs, 1u);
    }
    void ExpectHostLogBack() {
        kv::clsKvLog::Settings s = kv::KvLog().CurrentSettings();
        EXPECT_EQ(s.mode, 2);
        EXPECT_EQ(s.level, 3);
        EXPECT_EQ(s.slot, &host_);
        if (s.slot) s.slot->Release();
        // Lines of the host's own calls reach the host's sink again.
        int before = host_.lines;
        kv::LogWrite(kv::kLogDetails, "after the test mail");
        EXPECT_EQ(host_.lines, before + 1);
    }
    TestMailRequest Request(const String &provider, bool send = true) {
        TestMailRequest r;
        r.global = &global_;
        r.user = &user_;
        r.provider = provider;
        r.getClassObject = &DllGetClassObject;
        r.review = [this, send](IKvMail *mail) {
            reviewed_ = mail != nullptr;
            return send;
        };
        return r;
    }

    HostSlot host_;
    clsOptionList global_, user_;
    bool reviewed_ = false;
};

TEST_F(TestMail, SentToTheSendersOwnAddressWithoutTestRecipient) {
    fixtures::SmtpSink server;
    ASSERT_TRUE(server.Start());
    global_.SetText("SMTP.ServerAddress", u"127.0.0.1");
    global_.SetInt("SMTP.ServerPort", 1); // the user's value wins
    user_.SetInt("SMTP.ServerPort", server.Port());
    user_.SetText("SMTP.SenderName", u"Erika Mustermann");
    user_.SetText("SMTP.SenderAddress", u"erika@example.org");
    TestMailResult r = RunTestMail(Request("SMTP"));
    EXPECT_TRUE(reviewed_);
    EXPECT_EQ(r.outcome, TestMailResult::Sent) << r.message;
    EXPECT_EQ(r.message, "The Testmail has been successfully sent.");
    std::string mail = server.Message(1);
    EXPECT_NE(mail.find("Subject: Test-mail"), std::string::npos) << mail;
    EXPECT_NE(mail.find("From: \"Erika Mustermann\" <erika@example.org>"), std::string::npos) << mail;
    EXPECT_NE(mail.find("To: erika@example.org"), std::string::npos) << mail;
    EXPECT_NE(mail.find("This is a test mail that has been sent by the eMail module."), std::string::npos);
    EXPECT_NE(server.Envelope(1).find("erika@example.org"), std::string::npos);
}

TEST_F(TestMail, TestRecipientWhenSet) {
    fixtures::SmtpSink server;
    ASSERT_TRUE(server.Start());
    user_.SetText("SMTP.ServerAddress", u"127.0.0.1");
    user_.SetInt("SMTP.ServerPort", server.Port());
    user_.SetText("SMTP.SenderAddress", u"erika@example.org");
    user_.SetText("SMTP.TestRecipient", u"admin@example.org");
    TestMailResult r = RunTestMail(Request("SMTP"));
    ASSERT_EQ(r.outcome, TestMailResult::Sent) << r.message;
    EXPECT_NE(server.Message(1).find("To: admin@example.org"), std::string::npos);
}

TEST_F(TestMail, NotConfirmedSendsNothingAndReportsNothing) {
    fixtures::SmtpSink server;
    ASSERT_TRUE(server.Start());
    user_.SetText("SMTP.ServerAddress", u"127.0.0.1");
    user_.SetInt("SMTP.ServerPort", server.Port());
    user_.SetText("SMTP.SenderAddress", u"erika@example.org");
    TestMailResult r = RunTestMail(Request("SMTP", false));
    EXPECT_TRUE(reviewed_);
    EXPECT_EQ(r.outcome, TestMailResult::NotSent);
    EXPECT_EQ(r.message, "");
    EXPECT_EQ(server.Message(1), "");
}

TEST_F(TestMail, RefusedConnectionShowsTheFailureTextAndTheErrorRecord) {
    user_.SetText("SMTP.ServerAddress", u"127.0.0.1");
    user_.SetInt("SMTP.ServerPort", fixtures::FreePort());
    user_.SetInt("SMTP.SocketTimeout", 5000);
    user_.SetText("SMTP.SenderAddress", u"erika@example.org");
    TestMailResult r = RunTestMail(Request("SMTP"));
    EXPECT_EQ(r.outcome, TestMailResult::Failed);
    String head = kv::LoadResourceString(kv::IDS_TESTMAIL_FAILED);
    ASSERT_EQ(r.message.compare(0, head.size(), head), 0) << r.message;
    EXPECT_GT(r.message.size(), head.size() + 4);
}

TEST_F(TestMail, RefusedRecipientShowsTheErrorAndTheCollectedProtocol) {
    fixtures::SmtpSink server;
    ASSERT_TRUE(server.Start());
    user_.SetText("SMTP.ServerAddress", u"127.0.0.1");
    user_.SetInt("SMTP.ServerPort", server.Port());
    user_.SetText("SMTP.SenderAddress", u"erika@example.org");
    user_.SetText("SMTP.TestRecipient", u"refused@example.org");
    TestMailResult r = RunTestMail(Request("SMTP"));
    EXPECT_EQ(r.outcome, TestMailResult::Failed);
    // Only the protocol dialogue was collected.
    EXPECT_NE(r.message.find("->'MAIL FROM:"), String::npos) << r.message;
    EXPECT_NE(r.message.find("<-[1]'220 "), String::npos) << r.message;
    EXPECT_NE(r.message.find("Recipient Address 'refused@example.org': 550 no such user here"), String::npos);
    EXPECT_EQ(r.message.find(">clsConnectionBase"), String::npos) << r.message;
    EXPECT_EQ(r.message.find("[kv_integration_tests"), String::npos) << r.message;
}

TEST_F(TestMail, CreationFailuresNameTheLibraryAndProvider) {
    struct Case {
        String provider;
        String library;
        bool inject;
        String text;
    };
    const Case cases[] = {
        {"SMTP", "/nonexistent/liborkv14-missing.so", false,
         "unexpected: DllGetClassObject() failed in DLL '/nonexistent/liborkv14-missing.so'"},
        {"POP3", "orkv14.dll", true,
         "unexpected: mail connection interface for provider 'POP3' cannot be created in DLL 'orkv14.dll'"},
        {"", "orkv14.dll", true,
         "unexpected: mail connection interface for provider '' cannot be created in DLL 'orkv14.dll'"},
    };
    for (const Case &c : cases) {
        TestMailRequest r = Request(c.provider);
        r.libraryName = c.library;
        if (!c.inject) r.getClassObject = nullptr;
        TestMailResult result = RunTestMail(r);
        EXPECT_EQ(result.outcome, TestMailResult::Failed);
        EXPECT_EQ(result.message, kv::LoadResourceString(kv::IDS_TESTMAIL_FAILED) + c.text);
        EXPECT_FALSE(reviewed_);
        ExpectHostLogBack();
    }
}

TEST_F(TestMail, FailingClassObjectGivesTheSystemText) {
    TestMailRequest r = Request("SMTP");
    r.getClassObject = [](REFCLSID, REFIID, LPVOID *out) -> HRESULT {
        *out = nullptr;
        return E_OUTOFMEMORY;
    };
    TestMailResult result = RunTestMail(r);
    EXPECT_EQ(result.message, kv::LoadResourceString(kv::IDS_TESTMAIL_FAILED) + "DllGetClassObject() failed: " +
                                  kv::HResultText(E_OUTOFMEMORY));
}

TEST(TestMailProviders, SelectorsByProviderCode) {
    EXPECT_TRUE(IsEqualIID(*kv::ui::SendConnectionIid("SMAPI"), IID_IKvSMAPISendConnection));
    EXPECT_TRUE(IsEqualIID(*kv::ui::SendConnectionIid("MSMAPI"), IID_IKvSMAPISendConnection));
    EXPECT_TRUE(IsEqualIID(*kv::ui::SendConnectionIid("SMTP"), IID_IKvSMTPSendConnection));
    EXPECT_TRUE(IsEqualIID(*kv::ui::SendConnectionIid("XMAPI"), IID_IKvXMAPISendConnection));
    EXPECT_TRUE(IsEqualIID(*kv::ui::SendConnectionIid("CDOSYS"), IID_IKvCDOSYSSendConnection));
    EXPECT_EQ(kv::ui::SendConnectionIid("POP3"), nullptr);
}


namespace dialog {

using kv::ui::ConfigDialogEnvironment;
using kv::ui::FieldId;
using kv::ui::clsConfigDialog;

class ScriptedView : public kv::ui::IConfigDialogView {
  public:
    std::function<bool(clsConfigDialog &)> run;
    bool send = true;
    int reviews = 0;
    std::vector<std::pair<String, uint32_t>> messages;
    bool Run(clsConfigDialog &d) override { return run(d); }
    bool ReviewMail(IKvMail *) override {
        ++reviews;
        return send;
    }
    void ShowMessage(const String &text, uint32_t icon) override { messages.emplace_back(text, icon); }
};

ConfigDialogEnvironment Environment() {
    ConfigDialogEnvironment e;
    e.getClassObject = &DllGetClassObject;
    e.computerName = u"HOSTX";
    return e;
}

TEST(ConfigDialog, CancelAfterATestMailLeavesBothListsAsTheyWere) {
    fixtures::SmtpSink server;
    ASSERT_TRUE(server.Start());
    // No provider page and no "Provider" option: the dialog is about SMTP.
    clsOptionList global, user;
    user.SetText("SMTP.ServerAddress", u"127.0.0.1");
    user.SetText("SMTP.SenderAddress", u"erika@example.org");
    ScriptedView view;
    view.run = [&](clsConfigDialog &d) {
        d.Model().SetField(FieldId::SmtpServerPort, kv::Widen(std::to_string(server.Port()), 65001));
        EXPECT_EQ(d.SendTestMail().outcome, TestMailResult::Sent);
        return false;
    };
    EXPECT_EQ(kv::ui::RunConfigDialog(global, user, 0x0001, view, Environment()), S_FALSE);
    EXPECT_EQ(view.reviews, 1);
    ASSERT_EQ(view.messages.size(), 1u);
    EXPECT_EQ(view.messages[0].first, "The Testmail has been successfully sent.");
    EXPECT_EQ(view.messages[0].second, 0x30u);
    EXPECT_NE(server.Message(1).find("Subject: Test-mail"), std::string::npos);
    EXPECT_EQ(user.Size(), 2u);
    EXPECT_FALSE(user.Contains("SMTP.ServerPort"));
    EXPECT_TRUE(global.Entries().empty());
}

TEST(ConfigDialog, OkStoresTheFieldsIntoTheCallersLists) {
    clsOptionList global, user;
    user.SetText("Unrelated", u"kept");
    ScriptedView view;
    view.run = [](clsConfigDialog &d) {
        EXPECT_EQ(d.Providers().size(), 3u);
        EXPECT_TRUE(d.Model().Profiles().empty()); // no messaging system here
        d.Model().SetField(FieldId::Provider, u"SMTP");
        d.Model().SetField(FieldId::SmtpServerAddress, u"mail.example.org");
        return true;
    };
    EXPECT_EQ(kv::ui::RunConfigDialog(global, user, 0x1001, view, Environment()), S_OK);
    EXPECT_EQ(global.ReadText("Provider", u""), u"SMTP");
    EXPECT_EQ(user.ReadText("SMTP.ServerAddress", u""), u"mail.example.org");
    EXPECT_EQ(user.ReadInt("SMTP.ServerPort", 0), 25);
    EXPECT_EQ(user.ReadText("Unrelated", u""), u"kept");
}

TEST(ConfigDialog, NotSentTestMailShowsNoMessageAndFailedOneShowsTheFailureText) {
    clsOptionList global, user;
    user.SetText("SMTP.ServerAddress", u"127.0.0.1");
    user.SetInt("SMTP.ServerPort", fixtures::FreePort());
    user.SetText("SMTP.SenderAddress", u"erika@example.org");
    ScriptedView view;
    view.run = [&](clsConfigDialog &d) {
        d.Model().SetField(FieldId::Provider, u"SMTP");
        view.send = false;
        EXPECT_EQ(d.SendTestMail().outcome, TestMailResult::NotSent);
        EXPECT_TRUE(view.messages.empty());
        view.send = true;
        EXPECT_EQ(d.SendTestMail().outcome, TestMailResult::Failed);
        return false;
    };
    kv::ui::RunConfigDialog(global, user, 0x1001, view, Environment());
    ASSERT_EQ(view.messages.size(), 1u);
    String head = kv::LoadResourceString(kv::IDS_TESTMAIL_FAILED);
    EXPECT_EQ(view.messages[0].first.compare(0, head.size(), head), 0);
    EXPECT_EQ(view.messages[0].second, 0x30u);
}

// A class object whose profile enumerator lists two names.
class FakeProfiles : public IKvEnumMAPIProfiles {
  public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void **ppv) override {
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
    ULONG STDMETHODCALLTYPE Release() override { return --refs; }
    HRESULT STDMETHODCALLTYPE Next(ULONG count, BSTR *items, ULONG *fetched) override {
        static const char16_t *const names[] = {u"Outlook", u"Work"};
        if (count != 1 || at >= 2) {
            if (fetched) *fetched = 0;
            return S_FALSE;
        }
        items[0] = SysAllocString(reinterpret_cast<const OLECHAR *>(names[at++]));
        if (fetched) *fetched = 1;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Skip(ULONG) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Reset() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Clone(IKvEnumMAPIProfiles **) override { return E_NOTIMPL; }
    ULONG refs = 0;
    int at = 0;
};

class FakeFactory : public IClassFactory {
  public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void **ppv) override {
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
    ULONG STDMETHODCALLTYPE Release() override { return --refs; }
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown *, REFIID iid, void **ppv) override {
        *ppv = nullptr;
        if (!IsEqualIID(iid, IID_IKvEnumMAPIProfiles)) return E_NOINTERFACE;
        profiles.AddRef();
        *ppv = &profiles;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }
    ULONG refs = 0;
    FakeProfiles profiles;
};

FakeFactory g_factory;

TEST(ConfigDialog, ProfileNamesFromTheComponentsEnumerator) {
    auto get = [](REFCLSID clsid, REFIID, LPVOID *out) -> HRESULT {
        if (!IsEqualCLSID(clsid, CLSID_KvComponent)) return E_FAIL;
        g_factory.AddRef();
        *out = &g_factory;
        return S_OK;
    };
    EXPECT_EQ(kv::ui::ReadMapiProfiles("orkv14.dll", get), (std::vector<kv::WString>{u"Outlook", u"Work"}));
    EXPECT_EQ(g_factory.refs, 0u);
    EXPECT_EQ(g_factory.profiles.refs, 0u);
    EXPECT_TRUE(kv::ui::ReadMapiProfiles("/nonexistent/liborkv14-missing.so", nullptr).empty());
}

} // namespace dialog

} // namespace

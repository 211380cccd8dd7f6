// The configuration dialog's test mail, driven through the public interfaces
// against a real SMTP server; the host's log comes back as it was.
#include <gtest/gtest.h>

#include "fixtures.h"
#include "log_sink.h"
#include "runtime/kvlog.h"
#include "runtime/string_table.h"
#include "ui/config/config_dialog.h"
#include "ui/config/test_mail.h"

namespace {

using kv::String;
using kv::clsOptionList;
using kv::ui::RunTestMail;
using kv::ui::TestMailRequest;
using kv::ui::TestMailResult;

// The host's own sink: it must get its reference and its lines back.
struct HostSlot : testsupport::Counted<testsupport::LogSink> {
    HostSlot() : Counted(IID_IKvLogSlot) {}
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
        size_t before = host_.lines.size();
        kv::LogWrite(kv::kLogDetails, "after the test mail");
        EXPECT_EQ(host_.lines.size(), before + 1);
    }
    TestMailRequest Request() {
        return {&global_, &user_, "SMTP", "orkv14.dll", &DllGetClassObject, [this](IKvMail *mail) {
                    reviewed_ = mail != nullptr;
                    return confirm_;
                }};
    }

    HostSlot host_;
    clsOptionList global_, user_;
    bool reviewed_ = false, confirm_ = true;
};

// The dialog around it: ConfigDialogUi under Wine.
TEST_F(TestMail, SentToTheTestRecipientOrTheSenderOnceConfirmed) {
    struct Case {
        const char16_t *recipient; // SMTP.TestRecipient, unset when null
        bool confirm;              // what the review answers
        TestMailResult::Outcome outcome;
        const char *to;      // in the mail that arrived; nothing arrives when null
        const char *message; // the start of the message shown
    } cases[] = {
        {nullptr, false, TestMailResult::NotSent, nullptr, ""},
        {nullptr, true, TestMailResult::Sent, "To: erika@example.org", "The Testmail has been successfully sent."},
        {u"admin@example.org", true, TestMailResult::Sent, "To: admin@example.org", "The Testmail has been"},
        {u"refused@example.org", true, TestMailResult::Failed, nullptr, ""},
    };
    for (const Case &c : cases) {
        fixtures::SmtpSink server;
        ASSERT_TRUE(server.Start());
        global_.SetText("SMTP.ServerAddress", u"127.0.0.1");
        global_.SetInt("SMTP.ServerPort", 1); // the user's value wins
        user_.SetInt("SMTP.ServerPort", server.port);
        user_.SetText("SMTP.SenderName", u"Erika Mustermann");
        user_.SetText("SMTP.SenderAddress", u"erika@example.org");
        if (c.recipient) user_.SetText("SMTP.TestRecipient", c.recipient);
        reviewed_ = false;
        confirm_ = c.confirm;
        TestMailResult r = RunTestMail(Request());
        EXPECT_TRUE(reviewed_);
        EXPECT_EQ(r.outcome, c.outcome) << r.message;
        EXPECT_EQ(r.message.rfind(c.message, 0), 0u) << r.message;
        std::string mail = server.Message(1);
        EXPECT_EQ(mail.empty(), !c.to);
        for (const char *text : {"Subject: Test-mail", "From: \"Erika Mustermann\" <erika@example.org>", c.to,
                                 "This is a test mail that has been sent by the eMail module."})
            EXPECT_TRUE(!c.to || mail.find(text) != std::string::npos) << text << "\n" << mail;
        for (const char *text : {"->'MAIL FROM:", "<-[1]'220 ",
                                 "Recipient Address 'refused@example.org': 550 no such user here"})
            EXPECT_TRUE(c.outcome != TestMailResult::Failed || r.message.find(text) != String::npos)
                << text << "\n" << r.message;
        // Only the protocol dialogue: no trace lines of the component or the host.
        EXPECT_EQ(r.message.find(">clsConnectionBase"), String::npos) << r.message;
        EXPECT_EQ(r.message.find("[kv_integration_tests"), String::npos) << r.message;
    }
}

TEST_F(TestMail, FailuresShowTheFailureTextAndTheirCause) {
    const struct {
        const char *library;
        kv::ui::GetClassObjectFn getClassObject;
        String text; // after the failure text; "" for a refused connection, whose error record follows
    } cases[] = {
        {"", &DllGetClassObject, ""},
        {"/nonexistent/liborkv14-missing.so", nullptr,
         "unexpected: DllGetClassObject() failed in DLL '/nonexistent/liborkv14-missing.so'"},
        {"", [](REFCLSID, REFIID, LPVOID *out) { return *out = nullptr, E_OUTOFMEMORY; },
         "DllGetClassObject() failed: " + kv::HResultText(E_OUTOFMEMORY)},
    };
    user_.SetText("SMTP.ServerAddress", u"127.0.0.1");
    user_.SetInt("SMTP.ServerPort", testsupport::ClosedPort());
    user_.SetInt("SMTP.SocketTimeout", 5000);
    user_.SetText("SMTP.SenderAddress", u"erika@example.org");
    const String head = kv::LoadResourceString(kv::IDS_TESTMAIL_FAILED);
    for (const auto &c : cases) {
        TestMailRequest r = Request();
        if (*c.library) r.libraryName = c.library;
        r.getClassObject = c.getClassObject;
        reviewed_ = false;
        TestMailResult result = RunTestMail(r);
        EXPECT_EQ(result.outcome, TestMailResult::Failed) << c.text;
        EXPECT_EQ(result.message.substr(0, head.size()), head);
        if (c.text.empty()) {
            EXPECT_GT(result.message.size(), head.size() + 4);
        } else {
            EXPECT_EQ(result.message, head + c.text);
            EXPECT_FALSE(reviewed_);
        }
        ExpectHostLogBack();
    }
}

// A class object that makes a profile enumerator listing two names.
struct ProfileNames : testsupport::Unowned<IClassFactory>, testsupport::Unowned<IKvEnumMAPIProfiles> {
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown *, REFIID iid, void **ppv) override {
        *ppv = IsEqualIID(iid, IID_IKvEnumMAPIProfiles) ? static_cast<IKvEnumMAPIProfiles *>(this) : nullptr;
        refs += *ppv != nullptr;
        return *ppv ? S_OK : E_NOINTERFACE;
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE Next(ULONG, BSTR *items, ULONG *fetched) override {
        static const char16_t *const names[] = {u"Outlook", u"Work"};
        *fetched = at < 2;
        if (at < 2) items[0] = SysAllocString(reinterpret_cast<const OLECHAR *>(names[at++]));
        return *fetched ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE Skip(ULONG) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Reset() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Clone(IKvEnumMAPIProfiles **) override { return E_NOTIMPL; }
    ULONG STDMETHODCALLTYPE Release() override { return --refs; }
    int at = 0, refs = 0;
} g_profiles;

TEST(ConfigDialog, ProfileNamesFromTheComponentsEnumerator) {
    auto get = [](REFCLSID clsid, REFIID, LPVOID *out) -> HRESULT {
        if (!IsEqualCLSID(clsid, CLSID_KvComponent)) return E_FAIL;
        ++g_profiles.refs;
        *out = static_cast<IClassFactory *>(&g_profiles);
        return S_OK;
    };
    EXPECT_EQ(kv::ui::ReadMapiProfiles("orkv14.dll", get), (std::vector<kv::WString>{u"Outlook", u"Work"}));
    EXPECT_EQ(g_profiles.refs, 0) << "the class object and the enumerator were given back";
    EXPECT_TRUE(kv::ui::ReadMapiProfiles("/nonexistent/liborkv14-missing.so", nullptr).empty());
}

} // namespace

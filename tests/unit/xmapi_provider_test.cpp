// The Extended MAPI provider's own logic against a substitute platform: the
// subsystem initialisation and its retry, logon flags and results, the store
// check of the capabilities, address types and the profile enumerator.
#include <gtest/gtest.h>

#include <set>

#include "fake_mail.h"
#include "log_lines.h"
#include "orkv14.h"
#include "runtime/kvlog.h"
#include "pal/system.h"
#include "providers/xmapi/enum_mapi_profiles.h"
#include "providers/xmapi/xmapi_connection.h"

namespace kv {
namespace {

using testsupport::SetIntOption;
using testsupport::SetTextOption;

struct Log {
    std::vector<std::string> calls;
    std::vector<HRESULT> initResults{S_OK};
    HRESULT oleResult = S_OK, logonResult = S_OK, storeResult = S_OK, profileResult = S_OK;
    uint32_t mask = xmapi::STORE_CREATE_OK | xmapi::STORE_UNICODE_OK;
    std::set<std::string> missing;
    std::vector<xmapi::ProfileRow> profiles;
};

class FakeSession final : public xmapi::Session {
  public:
    explicit FakeSession(std::shared_ptr<Log> log) : log_(std::move(log)) {}
    HRESULT Logoff(uintptr_t) override {
        log_->calls.push_back("Logoff");
        return S_OK;
    }
    HRESULT OpenDefaultStore(uint32_t &mask) override {
        log_->calls.push_back("OpenDefaultStore");
        mask = log_->mask;
        return log_->storeResult;
    }
    String LastErrorText(HRESULT) override { return "no default store\norkv14"; }

  private:
    std::shared_ptr<Log> log_;
};

class FakePlatform final : public xmapi::Platform {
  public:
    explicit FakePlatform(std::shared_ptr<Log> log, bool loaded = true) : log_(std::move(log)), loaded_(loaded) {}
    bool Loaded() const override { return loaded_; }
    bool Has(const char *f) const override { return !log_->missing.count(f); }
    HRESULT InitializeOle() override {
        log_->calls.push_back("OleInitialize");
        return log_->oleResult;
    }
    void UninitializeOle() override { log_->calls.push_back("OleUninitialize"); }
    HRESULT Initialize(uint32_t flags) override {
        log_->calls.push_back("Initialize " + std::to_string(flags));
        size_t n = std::count_if(log_->calls.begin(), log_->calls.end(),
                                 [](const std::string &c) { return c.rfind("Initialize", 0) == 0; });
        return log_->initResults[std::min(n, log_->initResults.size()) - 1];
    }
    void Uninitialize() override { log_->calls.push_back("Uninitialize"); }
    HRESULT LogonEx(uintptr_t, const char *profile, const char *password, uint32_t flags,
                    std::unique_ptr<xmapi::Session> &session) override {
        log_->calls.push_back(Format("LogonEx %s %s 0x%x", profile ? profile : "(null)", password ? password : "(null)",
                                     unsigned(flags)));
        if (SUCCEEDED(log_->logonResult)) session = std::make_unique<FakeSession>(log_);
        return log_->logonResult;
    }
    HRESULT ProfileTable(std::vector<xmapi::ProfileRow> &rows) override {
        log_->calls.push_back("ProfileTable");
        rows = log_->profiles;
        return log_->profileResult;
    }

  private:
    std::shared_ptr<Log> log_;
    bool loaded_;
};

TEST(XmapiProvider, InitialisationRetriesOnceWithoutCoInitAndReportsFailures) {
    const String versionText = "The version of OLE installed on the workstation is not compatible with this version of MAPI.";
    // The object model is started first and ended last, when it was started here.
    const std::string start = "OleInitialize", end = "OleUninitialize";
    const HRESULT changed = xmapi::kRpcChangedMode, unknown = xmapi::MAPI_E_UNKNOWN_FLAGS;
    struct Case {
        std::vector<HRESULT> results;
        bool visible;
        HRESULT ole;
        std::vector<std::string> calls;
        bool available;
        std::vector<String> boxes;
    } cases[] = {
        {{S_OK}, true, S_OK, {start, "Initialize 0", "Uninitialize", end}, true, {}},
        {{changed, S_OK}, true, changed, {start, "Initialize 0", "Initialize 8", "Uninitialize"}, true, {}},
        {{unknown, unknown}, false, S_FALSE, {start, "Initialize 0", "Initialize 8", end}, false, {}},
        {{xmapi::MAPI_E_VERSION}, true, S_OK, {start, "Initialize 0", end}, false, {versionText}},
        {{xmapi::MAPI_E_VERSION}, false, S_OK, {start, "Initialize 0", end}, false, {}},
        {{E_ACCESSDENIED}, true, S_OK, {start, "Initialize 0", end}, false,
         {"MAPIInitialize() failed, reason '" + HResultText(E_ACCESSDENIED) + "'"}},
    };
    for (const auto &k : cases) {
        auto log = std::make_shared<Log>();
        log->initResults = k.results;
        log->oleResult = k.ole;
        std::vector<String> boxes;
        {
            clsXMAPIDLL dll(std::make_unique<FakePlatform>(log), k.visible, [&](const String &t) { boxes.push_back(t); });
            EXPECT_EQ(dll.Available(), k.available);
        }
        EXPECT_EQ(log->calls, k.calls);
        EXPECT_EQ(boxes, k.boxes);
    }
}

struct Xmapi {
    std::shared_ptr<Log> log = std::make_shared<Log>();
    clsXMAPIMailConnection *c;
    std::vector<String> boxes;
    explicit Xmapi(bool send = true, bool loaded = true)
        : c(new clsXMAPIMailConnection(send, std::make_unique<FakePlatform>(log, loaded))) {
        c->AddRef();
        c->Session().errorBox = [this](const String &t) { boxes.push_back(t); };
    }
    ~Xmapi() { c->Release(); }
};

TEST(XmapiProvider, LogonFlags) {
    struct Case {
        const char *user, *password;
        std::string call;
    } cases[] = {
        {"", "", "LogonEx (null) (null) 0x61"},
        {"Outlook", "", "LogonEx Outlook (null) 0x20022"},
        {"Outlook", "pw", "LogonEx Outlook pw 0x22"},
        {"", "pw", "LogonEx (null) pw 0x60"},
    };
    for (const auto &k : cases) {
        Xmapi t;
        SetTextOption(t.c, u"ServerUser", k.user);
        SetTextOption(t.c, u"ServerPassword", k.password);
        ASSERT_EQ(t.c->Connect(), S_OK);
        EXPECT_EQ(t.log->calls,
                  (std::vector<std::string>{"OleInitialize", "Initialize 0", k.call, "OpenDefaultStore"}));
        EXPECT_TRUE(t.c->Session().LoggedOn());
        EXPECT_EQ(t.c->Disconnect(), S_OK);
        EXPECT_EQ(t.log->calls.back(), "Logoff");
        EXPECT_FALSE(t.c->Session().LoggedOn());
    }
}

TEST(XmapiProvider, LogonFailures) {
    const String other = "MAPILogonEx() failed, reason '" + HResultText(E_FAIL) + "'";
    struct Case {
        HRESULT logon, store;
        bool suppress;
        int32_t code;
        String text;
        std::vector<String> boxes;
    } cases[] = {
        {xmapi::MAPI_E_LOGON_FAILED, S_OK, false, -4, "MAPI LOGON failed!",
         {"LOGON failed - usually due to a bad profile name or password."}},
        {xmapi::MAPI_E_LOGON_FAILED, S_OK, true, -4, "MAPI LOGON failed!", {}},
        {xmapi::MAPI_E_USER_CANCEL, S_OK, false, -11, "MAPI LOGON cancelled!", {}},
        {E_FAIL, S_OK, true, -4, other, {other}},
        {S_OK, HRESULT(0x8004010F), false, -5, "no default store\norkv14", {}},
    };
    for (const auto &k : cases) {
        Xmapi t;
        if (k.suppress) SetIntOption(t.c, u"SuppressLogonFailure", 1);
        t.log->logonResult = k.logon;
        t.log->storeResult = k.store;
        EXPECT_EQ(t.c->Connect(), E_ABORT);
        EXPECT_EQ(t.c->ErrorCode(), k.code);
        EXPECT_EQ(t.c->ErrorMessages(),
                  (std::vector<String>{k.text, "[clsXMAPI::Logon]", "[clsXMAPIMailConnection::OnConnect]"}));
        EXPECT_EQ(t.boxes, k.boxes);
        EXPECT_FALSE(t.c->Session().LoggedOn());
        if (FAILED(k.store)) {
            EXPECT_EQ(t.log->calls.back(), "Logoff") << "a session without its store is closed";
        }
    }
}

TEST(XmapiProvider, HooksAreTracedWithTheirScopes) {
    Xmapi t;
    testsupport::LogLines log(2);
    ASSERT_EQ(t.c->Connect(), S_OK);
    EXPECT_EQ(t.c->Disconnect(), S_OK) << "a spooler that cannot be reached is no failure of the disconnect";
    t.log->logonResult = xmapi::MAPI_E_USER_CANCEL;
    EXPECT_EQ(t.c->Connect(), E_ABORT);
    const std::string aborted = "<" + HResultText(E_ABORT);
    EXPECT_EQ(log.Starting({">", "<"}),
              (std::vector<std::string>{">clsConnectionBase::Connect()", ">[clsXMAPIMailConnection::OnConnect]",
                                        ">[clsXMAPI::Logon]", "<S_OK", "<S_OK", "<S_OK",
                                        ">clsConnectionBase::Disconnect()", ">[clsXMAPIMailConnection::OnDisconnect]",
                                        ">[clsXMAPI::GetMAPIStatus]", aborted, "<S_OK", "<S_OK",
                                        ">clsConnectionBase::Connect()", ">[clsXMAPIMailConnection::OnConnect]",
                                        ">[clsXMAPI::Logon]", aborted, aborted, aborted}));
}

TEST(XmapiProvider, UnavailableSubsystemAndMissingLogon) {
    {
        Xmapi t(true, false);
        EXPECT_EQ(t.c->Connect(), E_ABORT);
        EXPECT_EQ(t.c->ErrorCode(), -5);
        EXPECT_EQ(t.c->ErrorMessages().front(), "MAPI is not available on this computer!");
        EXPECT_EQ(t.c->GetMailCapabilities(), 1u);
        EXPECT_EQ(t.log->calls, std::vector<std::string>{"OleInitialize"});
    }
    {
        Xmapi t;
        t.log->missing.insert("MAPILogonEx");
        EXPECT_EQ(t.c->Connect(), E_ABORT);
        EXPECT_EQ(t.c->ErrorMessages().front(), "The MAPI-DLL does not support XMAPI!");
    }
}

TEST(XmapiProvider, CapabilitiesLogOnForTheStoreMaskWhenNeeded) {
    {
        Xmapi t;
        EXPECT_EQ(t.c->GetMailCapabilities(), 7u);
        EXPECT_EQ(t.log->calls, (std::vector<std::string>{"OleInitialize", "Initialize 0", "LogonEx (null) (null) 0x61",
                                                         "OpenDefaultStore", "Logoff"}));
        EXPECT_FALSE(t.c->Session().LoggedOn());
    }
    {
        Xmapi t;
        t.log->mask = xmapi::STORE_UNICODE_OK;
        try {
            t.c->GetMailCapabilities();
            ADD_FAILURE() << "no exception";
        } catch (const clsExcept &e) {
            EXPECT_EQ(e.Code(), -5);
            EXPECT_EQ(e.Messages().front(), "XMAPI store does not allow to create any message");
        }
        IKvMail *mail = nullptr;
        EXPECT_EQ(t.c->CreateMail(0, OLESTR(""), &mail), E_ABORT);
        EXPECT_EQ(mail, nullptr);
    }
}

TEST(XmapiProvider, AddressTypes) {
    struct Case {
        const char *address, *defaultType, *type;
    } cases[] = {
        {"bob@example.org", "SMTP", "SMTP"},
        {"bob@example.org", "", "SMTP"},
        {"bob@example.org", "X", "X"},
        {"bob@example.org1", "SMTP", "FAX"},
        {"Bob <bob@example.org>", "SMTP", "FAX"},
        {"<bob@example.org>x", "SMTP", "SMTP"},
        {"{bob@example.org}x", "SMTP", "MHS"},
        {"/O=Org/OU=Site/CN=Recipients/CN=bob", "SMTP", "X500"},
        {"  /CN=bob", "SMTP", "X500"},
        {"ATTMAIL!bob/x", "SMTP", "ATT"},
        {"server/bob", "SMTP", "MS"},
        {"MCI:12345;x", "SMTP", "MCI"},
        {"G=Bob;S=Smith;O=Org", "SMTP", "X400"},
        {"net:bob;x1", "SMTP", "3COM"},
        {"bob;net", "SMTP", "3COM"},
        {"bob;1", "SMTP", "MSN"},
        {"030-1234", "SMTP", "FAX"},
        {"Smith, Bob", "SMTP", "COMPUSERVE"},
        {"a,b,c", "SMTP", "SMTP"},
        {"12345", "SMTP", "FAX"},
        {"Bob", "SMTP", "SMTP"},
        {"", "SMTP", "SMTP"},
    };
    for (const auto &k : cases) EXPECT_EQ(AddressTypeOf(k.address, k.defaultType), k.type) << k.address;
}

std::vector<std::string> All(IKvEnumMAPIProfiles *e) {
    std::vector<std::string> out;
    BSTR b[2] = {nullptr, nullptr};
    ULONG n = 0;
    for (;;) {
        HRESULT hr = e->Next(2, b, &n);
        for (ULONG i = 0; i < n; ++i) {
            out.push_back(Narrow(WideView(reinterpret_cast<const char16_t *>(b[i]))));
            SysFreeString(b[i]);
            b[i] = nullptr;
        }
        if (hr != S_OK) break;
    }
    return out;
}

TEST(XmapiProvider, ProfilesAreListedWithTheDefaultMarked) {
    auto log = std::make_shared<Log>();
    log->profiles = {{"Outlook", false}, {"Work", true}, {"", false}};
    FakePlatform platform(log);
    IKvEnumMAPIProfiles *e = nullptr;
    ASSERT_EQ(clsEnumMAPIProfiles::FromPlatform(&platform)->QueryInterface(IID_IKvEnumMAPIProfiles,
                                                                           reinterpret_cast<void **>(&e)),
              S_OK);
    EXPECT_EQ(All(e), (std::vector<std::string>{" Outlook", "*Work", " "}));
    e->Release();

    for (HRESULT failure : {E_FAIL}) {
        log->profileResult = failure;
        clsEnumMAPIProfiles *empty = clsEnumMAPIProfiles::FromPlatform(&platform);
        IKvEnumMAPIProfiles *f = nullptr;
        empty->QueryInterface(IID_IKvEnumMAPIProfiles, reinterpret_cast<void **>(&f));
        EXPECT_EQ(All(f), std::vector<std::string>{});
        f->Release();
    }
    log->missing.insert("MAPIAdminProfiles");
    log->calls.clear();
    clsEnumMAPIProfiles *none = clsEnumMAPIProfiles::FromPlatform(&platform);
    IKvEnumMAPIProfiles *g = nullptr;
    none->QueryInterface(IID_IKvEnumMAPIProfiles, reinterpret_cast<void **>(&g));
    EXPECT_EQ(All(g), std::vector<std::string>{});
    EXPECT_TRUE(log->calls.empty());
    g->Release();
}

TEST(XmapiProvider, WithoutAMessagingLibraryTheFactoryGivesAnEmptyProfileList) {
    IClassFactory *f = nullptr;
    ASSERT_EQ(DllGetClassObject(CLSID_KvComponent, IID_IClassFactory, reinterpret_cast<void **>(&f)), S_OK);
    IKvEnumMAPIProfiles *e = nullptr;
    ASSERT_EQ(f->CreateInstance(nullptr, IID_IKvEnumMAPIProfiles, reinterpret_cast<void **>(&e)), S_OK);
    BSTR b = nullptr;
    ULONG n = 7;
    EXPECT_EQ(e->Next(1, &b, &n), S_FALSE);
    EXPECT_EQ(n, 0u);
    e->Release();
    f->Release();
}

TEST(XmapiProvider, NotYetBuiltOperationsSaySo) {
    Xmapi t(false);
    ASSERT_EQ(t.c->Connect(), S_OK);
    EXPECT_EQ(t.c->QueryMailbox(0), E_NOTIMPL);
    EXPECT_EQ(t.c->ErrorCode(), -5);
    EXPECT_EQ(t.c->ErrorMessages().back(),
              "clsXMAPIMailConnection::OnQueryMailbox(): not available in this build of the component");
    Xmapi s(true);
    IKvMail *mail = nullptr;
    ASSERT_EQ(s.c->CreateMail(0, OLESTR(""), &mail), S_OK);
    ASSERT_EQ(s.c->Connect(), S_OK);
    EXPECT_EQ(s.c->Send(mail), E_NOTIMPL) << "this platform's session offers no outbox";
    EXPECT_EQ(s.c->ErrorMessages().back(), "clsXMAPIMailConnection::OnSend(): not available in this build of the component");
    mail->Release();
    EXPECT_EQ(s.c->OnDeleteMail("x"), E_UNEXPECTED);
    EXPECT_EQ(s.c->ErrorMessages().back(), "clsXMAPIMailConnection::OnDeleteMail(): not in RECV connection");
    Xmapi r(false);
    EXPECT_EQ(r.c->OnMarkMailAsRead("x"), E_UNEXPECTED);
    EXPECT_EQ(r.c->ErrorCode(), -13);
}

} // namespace
} // namespace kv

// The Extended MAPI provider's own logic against the recording platform: the
// subsystem initialisation and its retry, logon flags and results, the store
// check of the capabilities, address types and the profile enumerator.
#include <gtest/gtest.h>

#include <set>

#include "fake_mail.h"
#include "orkv14.h"
#include "pal/system.h"
#include "providers/xmapi/enum_mapi_profiles.h"
#include "providers/xmapi/xmapi_connection.h"
#include "recording_xmapi.h"
#include "runtime/kvlog.h"
#include "thrown.h"

namespace kv {
namespace {

using testsupport::SetIntOption;
using testsupport::SetTextOption;

using testsupport::mapi::XmapiLog;

TEST(XmapiProvider, InitialisationRetriesOnceWithoutCoInitAndReportsFailures) {
    const String versionText = "The version of OLE installed on the workstation is not compatible with this version of MAPI.";
    // The object model is started first and ended last, when it was started here.
    const std::string start = "OleInitialize", end = "OleUninitialize";
    const HRESULT changed = xmapi::kRpcChangedMode, unknown = xmapi::MAPI_E_UNKNOWN_FLAGS;
    // The answers of the first MAPIInitialize (flags 0) and of its retry (8).
    struct Case {
        HRESULT first, retry;
        bool visible;
        HRESULT ole;
        std::vector<std::string> calls;
        bool available;
        std::vector<String> boxes;
    } cases[] = {
        {S_OK, S_OK, true, S_OK, {start, "Initialize 0", "Uninitialize", end}, true, {}},
        {changed, S_OK, true, changed, {start, "Initialize 0", "Initialize 8", "Uninitialize"}, true, {}},
        {unknown, unknown, false, S_FALSE, {start, "Initialize 0", "Initialize 8", end}, false, {}},
        {xmapi::MAPI_E_VERSION, S_OK, true, S_OK, {start, "Initialize 0", end}, false, {versionText}},
        {xmapi::MAPI_E_VERSION, S_OK, false, S_OK, {start, "Initialize 0", end}, false, {}},
        {E_ACCESSDENIED,
         S_OK,
         true,
         S_OK,
         {start, "Initialize 0", end},
         false,
         {"MAPIInitialize() failed, reason '" + HResultText(E_ACCESSDENIED) + "'"}},
    };
    for (const auto &k : cases) {
        auto log = std::make_shared<XmapiLog>();
        log->failures = {{"Initialize 0", k.first}, {"Initialize 8", k.retry}, {"OleInitialize", k.ole}};
        std::vector<String> boxes;
        {
            clsXMAPIDLL dll(std::make_unique<testsupport::mapi::RecPlatform>(log), k.visible,
                            [&](const String &t) { boxes.push_back(t); });
            EXPECT_EQ(dll.Available(), k.available);
        }
        EXPECT_EQ(log->calls, k.calls);
        EXPECT_EQ(boxes, k.boxes);
    }
}

struct Xmapi {
    std::shared_ptr<XmapiLog> log = std::make_shared<XmapiLog>();
    clsXMAPIMailConnection *c;
    std::vector<String> boxes;
    // The platform's library is looked at when the connection is made.
    explicit Xmapi(bool send = true, bool loaded = true)
        : c((log->loaded = loaded,
             new clsXMAPIMailConnection(send, std::make_unique<testsupport::mapi::RecPlatform>(log)))) {
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
        // Both given, or neither: the Wine test.
        {"Outlook", "", "LogonEx Outlook (null) 0x20022"},
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
        t.log->failures = {{"LogonEx", k.logon}, {"OpenDefaultStore", k.store}};
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
        testsupport::Caught e = testsupport::Catch([&] { t.c->GetMailCapabilities(); });
        EXPECT_EQ(e.code, -5);
        EXPECT_EQ(e.Front(), "XMAPI store does not allow to create any message");
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

// Read two at a time; a failing table or a library without the function
// lists nothing.
TEST(XmapiProvider, ProfilesAreListedWithTheDefaultMarked) {
    struct Case {
        HRESULT table;
        const char *missing;
        std::vector<std::string> names;
    } cases[] = {
        {S_OK, "", {" Outlook", "*Work", " "}},
        {E_FAIL, "", {}},
        {S_OK, "MAPIAdminProfiles", {}},
    };
    for (const auto &k : cases) {
        auto log = std::make_shared<XmapiLog>();
        log->profiles = {{"Outlook", false}, {"Work", true}, {"", false}};
        log->failures["ProfileTable"] = k.table;
        log->missing.insert(k.missing);
        testsupport::mapi::RecPlatform platform(log);
        IKvEnumMAPIProfiles *e = nullptr;
        ASSERT_EQ(clsEnumMAPIProfiles::FromPlatform(&platform)->QueryInterface(IID_IKvEnumMAPIProfiles,
                                                                               reinterpret_cast<void **>(&e)),
                  S_OK);
        EXPECT_EQ(All(e), k.names);
        EXPECT_EQ(log->calls.empty(), *k.missing != 0);
        e->Release();
    }
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
    Xmapi r(false);
    EXPECT_EQ(r.c->OnMarkMailAsRead("x"), E_UNEXPECTED);
    EXPECT_EQ(r.c->ErrorCode(), -13);
}

} // namespace
} // namespace kv

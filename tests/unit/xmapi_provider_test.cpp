// The Extended MAPI provider's choices, retries and failure texts against the
// recording platform; the calls through the system's interfaces are the Wine test's.
#include <gtest/gtest.h>

#include "fake_mail.h"
#include "mail/mail.h"
#include "mail_builder.h"
#include "providers/xmapi/enum_mapi_profiles.h"
#include "providers/xmapi/xmapi_connection.h"
#include "providers/xmapi/xmapi_mail.h"
#include "providers/xmapi/xmapi_read.h"
#include "providers/xmapi/xmapi_send.h"
#include "recording_xmapi.h"
#include "runtime/kvlog.h"
#include "thrown.h"

namespace kv {
namespace {

using namespace xmapi;
using testsupport::SetIntOption;
using testsupport::SetTextOption;
using testsupport::mapi::L;
using testsupport::mapi::S8;
using testsupport::mapi::XmapiLog;

// A mail of a send connection, sent to the recording site. The subject is in
// the mail's code page; the store gets it wide, or in the system's 8-bit code
// page (UTF-8 here).
struct Send {
    XmapiLog log;
    testsupport::mapi::Obj site{log};
    clsXMAPIMailConnection *c = new clsXMAPIMailConnection(true, nullptr);
    clsMail *m = new clsMail((c->AddRef(), c), "", 1252, 7);
    Send() {
        m->AddRef();
        m->SetSubjectText("Betreff \xE4");
    }
    ~Send() {
        m->Release();
        c->Release();
    }
    void Body(const char *type, const std::string &text) { testsupport::AddBody(*m, type, text); }
    void Run(uint32_t mask) { XmapiSendMail(site, mask, *m, false); }
};
using Lines = std::vector<std::string>;

// A store without wide strings gets every string in 8-bit form; one may refuse
// them, or keep RTF in step itself (the Wine test: one that does not).
TEST(XmapiSend, NarrowStoresAndAStoreThatSynchronisesRtf) {
    Send s;
    s.m->To() = {"bob@example.org"};
    s.Body("text/plain", "x");
    s.Run(STORE_CREATE_OK);
    for (const auto &line : s.log.calls) EXPECT_EQ(line.find("001F="), std::string::npos) << line;
    EXPECT_EQ(s.log.With("Msg.SetProps 0037"), Lines{"Msg.SetProps 0037001E=a:Betreff \xC3\xA4"});
    EXPECT_EQ(s.log.With("Msg.OpenProperty 1000"), Lines{"Msg.OpenProperty 1000001E 1001 3 S1"});

    Send r;
    r.log.narrowOnly = true;
    r.Body("application/RTF", "{\\rtf1 Hi}");
    r.Run(STORE_CREATE_OK | STORE_UNICODE_OK | STORE_RTF_OK);
    EXPECT_EQ(r.log.With(" 0037"),
              (Lines{"Msg.SetProps refused 0037001F=u:Betreff \xC3\xA4", "Msg.SetProps 0037001E=a:Betreff \xC3\xA4"}));
    EXPECT_TRUE(r.log.With("Book.").empty()) << "no recipient, no resolving";
    EXPECT_EQ(r.log.With("Wrap"), Lines{"Wrap 1 S2"});
    EXPECT_TRUE(r.log.With("RTFSync").empty());
}

TEST(XmapiSend, SubmitRetriesAfterAChangedObjectAndReportsAFinalFailure) {
    {
        Send s;
        s.log.submits = {MAPI_E_OBJECT_CHANGED, S_OK};
        s.Run(STORE_CREATE_OK);
        EXPECT_EQ(Lines(s.log.calls.end() - 4, s.log.calls.end()),
                  (Lines{"Msg.SubmitMessage 0", "Msg.SetProps 0037001E=a:Betreff \xC3\xA4", "Msg.SaveChanges 6",
                         "Msg.SubmitMessage 0"}));
    }
    const String failed = "'" + HResultText(E_FAIL) + "'";
    struct Case {
        std::vector<HRESULT> submits;
        std::string failing;
        String text;
    } cases[] = {
        {{MAPI_E_CORRUPT_DATA, E_FAIL}, "", "IMessage::SubmitMessage() failed: " + failed},
        {{E_ACCESSDENIED}, "", "IMessage::SubmitMessage() failed: '" + HResultText(E_ACCESSDENIED) + "'"},
        {{MAPI_E_CORRUPT_DATA}, "Msg.SaveChanges", "IMessage::SaveChanges(FORCE_SAVE) failed: " + failed},
        {{S_OK}, "Store.GetProps 35E2", "No outbox message store found: " + failed},
        {{S_OK}, "OpenFolder", "Outbox message store can not be opened: " + failed},
        {{S_OK}, "Outbox.CreateMessage", "IMAPIFolder::CreateMessage() failed: " + failed},
        {{S_OK}, "OpenAddressBook", "IMAPISession::OpenAddressBook() failed: " + failed},
        {{S_OK}, "AllocateAdrList", "MAPIAllocateBuffer() failed: " + failed},
        {{S_OK}, "Book.ResolveName", "IAddressBook::ResolveName() failed: " + failed},
        {{S_OK}, "Msg.ModifyRecipients", "IMessage::ModifyRecipients() failed: " + failed},
        {{S_OK}, "Msg.CreateAttach", "IMessage::CreateAttach() failed: " + failed},
        {{S_OK}, "OpenStreamOnFile", "opening attachment (a.txt) failed: " + failed},
        {{S_OK}, "A1.OpenProperty", "IAttachment::OpenProperty() failed: " + failed},
        {{S_OK}, "S1.CopyFrom", "IStream::CopyTo() failed: " + failed},
        {{S_OK}, "S1.Commit", "IStream::Commit() failed: " + failed},
        {{S_OK}, "A1.SaveChanges", "IAttach::SaveChanges(FORCE_SAVE) failed: " + failed},
        {{S_OK}, "Store.GetProps 35E4", "IMessage::GetProps(PR_IPM_SENTMAIL_ENTRYID) failed: " + failed},
        {{S_OK}, "Msg.SetProps 0E0A", "IMessage::SetProps(PR_SENTMAIL_ENTRYID) failed: " + failed},
        {{S_OK}, "Msg.SetProps 0037", "SetProps(0x0037001e) failed: " + failed},
    };
    for (const auto &k : cases) {
        Send s;
        s.log.submits = k.submits;
        if (!k.failing.empty()) s.log.failures[k.failing] = E_FAIL;
        s.m->To() = {"bob@example.org"};
        testsupport::AddAttachment(*s.m, "a.txt", nullptr); // the file of that name
        testsupport::Caught e = testsupport::Catch([&] { s.Run(STORE_CREATE_OK); });
        EXPECT_EQ(e.code, -5);
        EXPECT_EQ(e.Front(), k.text);
    }
}

TEST(XmapiSend, UnknownBodyTypesAndAttachmentNames) {
    {
        Send s;
        s.Body("text/enriched", "x");
        EXPECT_EQ(testsupport::Catch([&] { s.Run(STORE_CREATE_OK); }).Front(), "unknown body type 'text/enriched'");
        EXPECT_TRUE(s.log.With("Msg.SubmitMessage").empty());
    }
    Send s;
    const std::string bytes = "a";
    for (const char *name : {"*", "", "C:\\docs\\report.pdf"}) testsupport::AddAttachment(*s.m, name, &bytes);
    s.Run(STORE_CREATE_OK);
    const char *names[] = {"3704001E=a:ATT00001 ", "3704001E=a:ATT00002 ",
                           "3704001E=a:report.pdf 3707001E=a:report.pdf 3703001E=a:.pdf "};
    for (int i = 0; i < 3; ++i) {
        Lines sets = s.log.With("A" + std::to_string(i + 1) + ".SetProps");
        EXPECT_TRUE(sets.size() == 1 && sets[0].find(names[i]) != std::string::npos) << testing::PrintToString(sets);
    }
}

// A connection on the recording platform. Its library is looked at when the
// connection is made; with a site the session reaches the inbox below.
struct Xmapi {
    std::shared_ptr<XmapiLog> log = std::make_shared<XmapiLog>();
    clsXMAPIMailConnection *c;
    testsupport::mapi::Obj site{*log};
    testsupport::Events events;
    std::vector<String> boxes;
    explicit Xmapi(bool send = true, bool withSite = false, bool loaded = true)
        : c((log->loaded = loaded,
             new clsXMAPIMailConnection(send, std::make_unique<testsupport::mapi::RecPlatform>(log, withSite)))) {
        c->AddRef();
        c->SetMailStateNotificationSlot(&events);
        c->Session().errorBox = [this](const String &t) { boxes.push_back(t); };
        if (!withSite) return;
        log->mask = STORE_CREATE_OK;
        log->messages = {
            {"\x01\xAB",
             {S8(ID_SUBJECT, "Hello"), S8(ID_BODY, "Body text")},
             {{{L(ID_ATTACH_NUM, 0), L(ID_ATTACH_SIZE, 3), S8(ID_ATTACH_FILENAME, "a.bin")}, "ABC"}}},
            {"\x02", {S8(ID_SUBJECT, "Old"), S8(ID_SENDER_ADDRTYPE, "EX"), S8(ID_SENDER_EMAIL_ADDRESS, "/O=ORG/CN=EVE")},
             {}, MSGFLAG_READ}};
        log->hierarchy = {{testsupport::mapi::Bin(ID_ENTRYID, "GALID"), L(ID_DISPLAY_TYPE, DT_GLOBAL)}};
        log->gal = {{S8(ID_EMAIL_ADDRESS, "/o=org/cn=eve"), S8(ID_SMTP_ADDRESS, "eve@example.org")}};
    }
    ~Xmapi() {
        if (c->State() == kConnected) c->Disconnect();
        c->SetMailStateNotificationSlot(nullptr);
        c->Release();
    }
    clsXMAPIMail *Mail(size_t i) {
        clsXMAPIMail *m = nullptr;
        c->Mails()[i]->QueryInterface(IID_clsXMAPIMail, reinterpret_cast<void **>(&m));
        m->Release();
        return m;
    }
};

// A listing reads envelopes only, with its events; bodies and attachments on first use.
TEST(XmapiRead, ListingLeavesTheRestForFirstUse) {
    Xmapi t(false, true);
    ASSERT_EQ(t.c->Connect(), S_OK);
    ASSERT_EQ(t.c->QueryMailbox(0), S_OK) << testsupport::ErrorText(t.c);
    ASSERT_EQ(t.c->Mails().size(), 2u);
    EXPECT_EQ(t.events.seen,
              (std::vector<std::pair<LONG, LONG>>{{2, 0}, {10, -1}, {9, 0}, {10, 2}, {11, 1}, {11, 2}, {12, 0}}));
    clsXMAPIMail *m = t.Mail(0);
    EXPECT_TRUE(m->Bodies().Empty());
    EXPECT_EQ(m->State(), kMailListed);
    EXPECT_TRUE(t.log->With("AttachmentData").empty());
    IKvEnumMailBody *bodies = nullptr;
    ASSERT_EQ(m->EnumBodies(&bodies), S_OK);
    bodies->Release();
    ASSERT_EQ(m->Bodies().Size(), 1u);
    ASSERT_EQ(m->Attachments().Size(), 1u);
    EXPECT_EQ(m->Attachments()[0]->Name(), "a.bin");
    EXPECT_EQ(t.log->With("AttachmentData"), Lines{"AttachmentData 0"});
}

TEST(XmapiRead, UnreadOnlyMarkingDeletingAndMissingItems) {
    Xmapi t(false, true);
    SetIntOption(t.c, u"QueryUnreadMailsOnly", 1);
    SetIntOption(t.c, u"QueryMarksMailsAsRead", 1);
    ASSERT_EQ(t.c->Connect(), S_OK);
    ASSERT_EQ(t.c->QueryMailbox(1), S_OK) << testsupport::ErrorText(t.c);
    ASSERT_EQ(t.c->Mails().size(), 1u) << "a read message is left out";
    EXPECT_EQ(t.log->With("SetReadFlag"), Lines{"SetReadFlag 01AB"});
    EXPECT_EQ(t.Mail(0)->State(), kMailLoaded);

    EXPECT_EQ(t.c->DeleteMail(OLESTR("01AB")), S_OK);
    EXPECT_EQ(t.Mail(0)->State(), kMailDeleted);

    EXPECT_EQ(t.c->MarkMailAsRead(OLESTR("02")), S_OK);
    EXPECT_EQ(t.log->With("SetReadFlag").back(), "SetReadFlag 02");
    t.log->failures["Inbox.DeleteMessage"] = E_ACCESSDENIED;
    EXPECT_EQ(t.c->DeleteMail(OLESTR("01AB")), E_FAIL);
    EXPECT_EQ(t.c->ErrorMessages().front(),
              "XMAPI item '01AB' cannot be deleted from inbox: " + HResultText(E_ACCESSDENIED));
}

TEST(XmapiRead, InboxFailuresHaveTheirTexts) {
    struct Case {
        std::string failing;
        HRESULT result;
        String text;
    } cases[] = {
        {"OpenInbox", E_ABORT, "No inbox folder found in default message store!"},
        {"Inbox.ContentsRows", E_ABORT, "Cannot use inbox!"},
        {"Inbox.OpenMessage 02", E_UNEXPECTED, "XMAPI item '02' not found in inbox: " + HResultText(E_FAIL)},
    };
    for (const auto &k : cases) {
        Xmapi t(false, true);
        t.log->failures[k.failing] = E_FAIL;
        ASSERT_EQ(t.c->Connect(), S_OK);
        t.events.seen.clear();
        EXPECT_EQ(t.c->QueryMailbox(0), k.result) << k.failing;
        EXPECT_EQ(t.c->ErrorCode(), -13);
        EXPECT_EQ(t.c->ErrorMessages().front(), k.text);
        EXPECT_EQ(t.events.seen.back(), (std::pair<LONG, LONG>{12, 0}));
    }
}

TEST(XmapiRead, GlobalAddressListFailuresAreReportedAndTheMailStillRead) {
    const String failed = "'" + HResultText(E_FAIL) + "'";
    struct Case {
        std::string failing;
        HRESULT result;
        String text;
    } cases[] = {
        {"", S_OK, ""},
        {"OpenAddressBook", E_FAIL, "IMAPISession::OpenAddressBook() failed: " + failed},
        {"Book.OpenEntry root", E_FAIL, "IAddrBook::OpenEntry() failed: " + failed},
        {"Root.GetHierarchyTable", E_FAIL, "ABRoot::GetHierarchyTable() failed: " + failed},
        {"Hierarchy.QueryAllRows", E_FAIL, "HrQueryAllRows(HierarchyTable) failed: " + failed},
        {"Book.OpenEntry GALID", E_FAIL, "IAddressBook::OpenEntry(GAL) failed: " + failed},
        {"Book.OpenEntry GALID", MAPI_W_ERRORS_RETURNED, "IAddressBook::OpenEntry(GAL) returns errors"},
        {"GAL.GetContentsTable", E_FAIL, "GAL::GetContentsTable() failed: " + failed},
        {"Contents.QueryAllRows", E_FAIL, "GAL::QueryAllRows() failed: " + failed},
    };
    for (const auto &k : cases) {
        Xmapi t(false, true);
        if (!k.failing.empty()) t.log->failures[k.failing] = k.result;
        String smtp;
        auto lookUp = [&] { smtp = XmapiGalSmtpAddresses(t.site, PT_STRING8).at("/O=ORG/CN=EVE"); };
        EXPECT_EQ(testsupport::Catch(lookUp).messages,
                  k.text.empty() ? std::vector<String>{} : std::vector<String>{k.text});
        EXPECT_EQ(smtp, k.text.empty() ? "eve@example.org" : "");
        ASSERT_EQ(t.c->Connect(), S_OK);
        ASSERT_EQ(t.c->QueryMailbox(0), S_OK) << k.failing;
        EXPECT_EQ(t.Mail(1)->Sender(), k.text.empty() ? "EX:/O=ORG/CN=EVE <SMTP:eve@example.org>" : "EX:/O=ORG/CN=EVE");
    }
}

TEST(XmapiRead, EntryIdsAndTimes) {
    EXPECT_EQ(EntryIdText(std::string("\x00\x7F\xFF", 3)), "007FFF");
    EXPECT_EQ(EntryIdBytes("007fFF"), std::string("\x00\x7F\xFF", 3));
    EXPECT_EQ(EntryIdBytes("0"), "");
    EXPECT_EQ(EntryIdBytes("0G"), "");
    EXPECT_EQ(MapiTimeText(0), "Mon, 01 Jan 1601 00:00:00 +0000");
    EXPECT_EQ(MapiTimeText(125911584000000000ULL + 864000000000ULL * 59), "Tue, 29 Feb 2000 00:00:00 +0000");
}

TEST(XmapiSpooler, FailuresToReachTheSpoolerAreReportedToTheCaller) {
    const std::string ni = HResultText(E_NOTIMPL);
    struct Case {
        std::string failing;
        HRESULT result;
        bool hasSpooler;
        uint32_t type;
        String text;
    } cases[] = {
        {"GetStatusTable", E_NOTIMPL, true, MAPI_STATUS, "ISession::GetStatusTable() failed: '" + ni + "'"},
        {"Spooler.QueryRows", E_NOTIMPL, true, MAPI_STATUS, "HrQueryAllRows() failed: '" + ni + "'"},
        {"", S_OK, false, MAPI_STATUS, "MAPI_SPOOLER not found"},
        {"OpenStatus", E_FAIL, true, MAPI_STATUS,
         "MAPI_SPOOLER can not be opened due to a known MAPI bug. Ignore the error."},
        {"OpenStatus", E_NOTIMPL, true, MAPI_STATUS, "MAPI_SPOOLER can not be opened (1): '" + ni + "'"},
        {"", S_OK, true, 3, "MAPI_SPOOLER can not be opened (2): no STATUS resource"},
        {"Spooler.FlushQueues", MAPI_E_BUSY, true, MAPI_STATUS, ""},
    };
    for (const auto &k : cases) {
        auto log = std::make_shared<XmapiLog>();
        if (!k.failing.empty()) log->failures[k.failing] = k.result;
        log->hasSpooler = k.hasSpooler;
        log->statusType = k.type;
        clsXMAPI x(std::make_unique<testsupport::mapi::RecPlatform>(log, true), false);
        x.Logon("", "", true);
        testsupport::Caught e = testsupport::Catch([&] { x.FlushSpooler(); });
        // A busy spooler is no failure.
        EXPECT_EQ(e.Front(), k.text.empty() ? "(nothing thrown)" : "Status interface not found: '" + k.text + "'");
        EXPECT_EQ(e.code, k.text.empty() ? 0 : -5);
        EXPECT_EQ(log->With("Spooler.FlushQueues").size(), k.text.empty() ? 1u : 0u);
    }
}

TEST(XmapiProvider, InitialisationRetriesOnceWithoutCoInitAndReportsFailures) {
    const String versionText = "The version of OLE installed on the workstation is not compatible with this version of MAPI.";
    // The object model is started first and ended last, when it was started here.
    const std::string start = "OleInitialize", end = "OleUninitialize";
    const HRESULT changed = xmapi::kRpcChangedMode, unknown = xmapi::MAPI_E_UNKNOWN_FLAGS;
    const String denied = "MAPIInitialize() failed, reason '" + HResultText(E_ACCESSDENIED) + "'";
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
        {E_ACCESSDENIED, S_OK, true, S_OK, {start, "Initialize 0", end}, false, {denied}},
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
        EXPECT_TRUE(t.c->Session().LoggedOn());
        EXPECT_EQ(t.c->Disconnect(), S_OK);
        EXPECT_FALSE(t.c->Session().LoggedOn());
        EXPECT_EQ(t.log->calls, (Lines{"OleInitialize", "Initialize 0", k.call, "OpenDefaultStore", "Logoff"}));
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
        const char *missing = ""; // a function the library lacks
    } cases[] = {
        {xmapi::MAPI_E_LOGON_FAILED, S_OK, false, -4, "MAPI LOGON failed!",
         {"LOGON failed - usually due to a bad profile name or password."}},
        {xmapi::MAPI_E_LOGON_FAILED, S_OK, true, -4, "MAPI LOGON failed!", {}},
        {xmapi::MAPI_E_USER_CANCEL, S_OK, false, -11, "MAPI LOGON cancelled!", {}},
        {E_FAIL, S_OK, true, -4, other, {other}},
        {S_OK, HRESULT(0x8004010F), false, -5, "no default store\norkv14", {}},
        {S_OK, S_OK, false, -5, "The MAPI-DLL does not support XMAPI!", {}, "MAPILogonEx"},
    };
    for (const auto &k : cases) {
        Xmapi t;
        if (k.suppress) SetIntOption(t.c, u"SuppressLogonFailure", 1);
        t.log->failures = {{"LogonEx", k.logon}, {"OpenDefaultStore", k.store}};
        t.log->missing.insert(k.missing);
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

TEST(XmapiProvider, CapabilitiesLogOnForTheStoreMaskWhenNeeded) {
    {
        Xmapi t(true, false, false);
        EXPECT_EQ(t.c->Connect(), E_ABORT);
        EXPECT_EQ(t.c->ErrorCode(), -5);
        EXPECT_EQ(t.c->ErrorMessages().front(), "MAPI is not available on this computer!");
        EXPECT_EQ(t.c->GetMailCapabilities(), 1u);
        EXPECT_EQ(t.log->calls, Lines{"OleInitialize"});
    }
    {
        Xmapi t;
        EXPECT_EQ(t.c->GetMailCapabilities(), 7u);
        EXPECT_EQ(t.log->calls,
                  (Lines{"OleInitialize", "Initialize 0", "LogonEx (null) (null) 0x61", "OpenDefaultStore", "Logoff"}));
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

Lines All(IKvEnumMAPIProfiles *e) {
    Lines out;
    for (HRESULT hr = S_OK; hr == S_OK;) {
        BSTR b[2];
        ULONG n = 0;
        hr = e->Next(2, b, &n);
        for (ULONG i = 0; i < n; SysFreeString(b[i++])) out.push_back(Narrow(WideView((const char16_t *)b[i])));
    }
    return out;
}

// Read two at a time; a failing table, a library without the function or no
// library at all lists nothing.
TEST(XmapiProvider, ProfilesAreListedWithTheDefaultMarked) {
    struct Case {
        HRESULT table;
        const char *missing;
        std::vector<std::string> names;
        bool loaded = true;
    } cases[] = {
        {S_OK, "", {" Outlook", "*Work", " "}},
        {E_FAIL, "", {}},
        {S_OK, "MAPIAdminProfiles", {}},
        {S_OK, "", {}, false},
    };
    for (const auto &k : cases) {
        auto log = std::make_shared<XmapiLog>();
        log->profiles = {{"Outlook", false}, {"Work", true}, {"", false}};
        log->failures["ProfileTable"] = k.table;
        log->missing.insert(k.missing);
        log->loaded = k.loaded;
        testsupport::mapi::RecPlatform platform(log);
        IKvEnumMAPIProfiles *e = nullptr;
        ASSERT_EQ(clsEnumMAPIProfiles::FromPlatform(&platform)->QueryInterface(IID_IKvEnumMAPIProfiles,
                                                                               reinterpret_cast<void **>(&e)),
                  S_OK);
        EXPECT_EQ(All(e), k.names);
        EXPECT_EQ(log->calls.empty(), *k.missing || !k.loaded);
        e->Release();
    }
}

TEST(XmapiProvider, NotYetBuiltOperationsSaySo) {
    Xmapi t(false);
    EXPECT_EQ(t.c->OnMarkMailAsRead("x"), E_UNEXPECTED) << "not connected";
    EXPECT_EQ(t.c->ErrorCode(), -13);
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
    EXPECT_EQ(s.c->ErrorMessages().back(),
              "clsXMAPIMailConnection::OnSend(): not available in this build of the component");
    mail->Release();
}

} // namespace
} // namespace kv

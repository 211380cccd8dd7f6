// The Simple MAPI provider against a recording function table: logon, the
// message record of a send, error texts, listing, reading, deleting, marking.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>

#include "fake_mail.h"
#include "mail/mail.h"
#include "mail_builder.h"
#include "providers/smapi/smapi_connection.h"
#include "providers/smapi/smapi_mail.h"
#include "stack_doubles.h"
#include "test_text.h"
#include "thrown.h"

namespace kv {
namespace {

namespace fs = std::filesystem;

void SetEnv(const char *name, const std::string &value) {
    value.empty() ? unsetenv(name) : setenv(name, value.c_str(), 1);
}
using testsupport::SetIntOption;
using testsupport::SetTextOption;

struct SentFile {
    uint32_t position;
    std::string path;
    bool fileNameNull;
    std::string content; // as found at the time of the call
};

// What the platform saw, a line per call, reached from the functions below.
struct Platform {
    std::vector<std::string> calls;
    uint32_t logonResult = 0, sendResult = 0, deleteResult = 0, readResult = 0;
    uint32_t findFailAt = 0, findFailCode = 0, finds = 0; // the call numbered findFailAt (from 1) fails
    std::string sendChangesDirectory;                     // as a messaging client's dialog may
    std::string note;
    std::vector<SentFile> files;
    std::vector<std::string> ids;
    std::map<std::string, smapi::MapiMessage *> records;
};
Platform *g = nullptr;

// Class, name and address; "(none)" for a null address.
std::string Copy(uint32_t cls, const char *name, const char *address) {
    return std::to_string(cls) + " " + (name ? name : "(null)") + " " + (address ? address : "(none)");
}
std::string Copy(const smapi::MapiRecipDesc &r) { return Copy(r.ulRecipClass, r.lpszName, r.lpszAddress); }

uint32_t STDMETHODCALLTYPE Logon(uintptr_t ui, char *profile, char *password, smapi::FLAGS flags, uint32_t,
                                 smapi::LHANDLE *session) {
    g->calls.push_back(Format("Logon %x '%s' '%s' %x", unsigned(ui), profile, password, unsigned(flags)));
    *session = 0x5150;
    return g->logonResult;
}
uint32_t STDMETHODCALLTYPE Logoff(smapi::LHANDLE session, uintptr_t ui, smapi::FLAGS, uint32_t) {
    g->calls.push_back(Format("Logoff %x %x", unsigned(session), unsigned(ui)));
    return 0;
}
// The message as a line: subject, originator, then each recipient.
uint32_t STDMETHODCALLTYPE SendMail(smapi::LHANDLE session, uintptr_t ui, smapi::MapiMessage *m, smapi::FLAGS flags,
                                    uint32_t) {
    std::string line = Format("SendMail %x %x %x ", unsigned(session), unsigned(ui), unsigned(flags)) +
                       (m->lpszSubject ? m->lpszSubject : "(null)") + " from " +
                       (m->lpOriginator ? Copy(*m->lpOriginator) : "(none)");
    for (uint32_t i = 0; i < m->nRecipCount; ++i) line += ", " + Copy(m->lpRecips[i]);
    g->calls.push_back(line);
    if (!g->sendChangesDirectory.empty()) fs::current_path(g->sendChangesDirectory);
    g->note = m->lpszNoteText ? m->lpszNoteText : "(null)";
    for (uint32_t i = 0; i < m->nFileCount; ++i) {
        const smapi::MapiFileDesc &f = m->lpFiles[i];
        std::ifstream in(f.lpszPathName, std::ios::binary);
        std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        g->files.push_back({f.nPosition, f.lpszPathName, f.lpszFileName == nullptr, content});
    }
    return g->sendResult;
}
uint32_t STDMETHODCALLTYPE FindNext(smapi::LHANDLE, uintptr_t, char *type, char *seed, smapi::FLAGS flags, uint32_t,
                                    char *id) {
    g->calls.push_back(Format("FindNext '%s' %x", seed ? seed : "(null)", unsigned(flags)));
    if (type) return 2;
    if (++g->finds == g->findFailAt) return g->findFailCode;
    if (g->finds > g->ids.size()) return smapi::MAPI_E_NO_MESSAGES;
    std::snprintf(id, smapi::kMessageIdSize, "%s", g->ids[g->finds - 1].c_str());
    return 0;
}
uint32_t STDMETHODCALLTYPE ReadMail(smapi::LHANDLE, uintptr_t, char *id, smapi::FLAGS flags, uint32_t,
                                    smapi::MapiMessage **out) {
    g->calls.push_back(Format("ReadMail %s %x", id, unsigned(flags)));
    if (g->readResult) return g->readResult;
    auto it = g->records.find(id);
    *out = it == g->records.end() ? nullptr : it->second;
    return 0;
}
uint32_t STDMETHODCALLTYPE DeleteMail(smapi::LHANDLE, uintptr_t, char *id, smapi::FLAGS, uint32_t) {
    g->calls.push_back(std::string("DeleteMail ") + id);
    return g->deleteResult;
}
// Named by the subject of the record it frees.
uint32_t STDMETHODCALLTYPE FreeBuffer(void *p) {
    g->calls.push_back(std::string("FreeBuffer ") + static_cast<smapi::MapiMessage *>(p)->lpszSubject);
    return 0;
}

SmapiFunctions Table() { return {Logon, Logoff, SendMail, FindNext, ReadMail, DeleteMail, FreeBuffer}; }

// A private temporary directory for the attachment copies.
struct TempDir {
    const char *t = std::getenv("TMPDIR");
    std::string old = t ? t : "", pattern = (fs::temp_directory_path() / "smapi-test-XXXXXX").string();
    fs::path dir = mkdtemp(pattern.data());
    TempDir() { SetEnv("TMPDIR", dir.string()); }
    ~TempDir() {
        SetEnv("TMPDIR", old);
        fs::remove_all(dir);
    }
    size_t Count() const { return size_t(std::distance(fs::directory_iterator(dir), fs::directory_iterator())); }
};

struct Smapi {
    Platform platform;
    clsSMAPIMailConnection *c;
    std::vector<std::string> boxes; // "<owner> <text>"
    testsupport::Events events;
    IKvMail *mail = nullptr;
    clsMail *m = nullptr;
    Platform *outer = g;

    explicit Smapi(bool send = true) : c(new clsSMAPIMailConnection(send, Table())) {
        g = &platform;
        c->AddRef();
        c->Session().errorBox = [this](uintptr_t owner, const String &t) {
            boxes.push_back(Format("%x ", unsigned(owner)) + t);
        };
        c->SetMailStateNotificationSlot(&events);
    }
    ~Smapi() {
        if (mail) mail->Release();
        // Listed mails hold the connection until it lets them go.
        if (c->State() == kConnected) c->Disconnect();
        c->SetMailStateNotificationSlot(nullptr);
        g = &platform;
        c->Release();
        g = outer;
    }
    void NewMail() {
        ASSERT_EQ(c->CreateMail(0, OLESTR(""), &mail), S_OK);
        m = static_cast<clsMail *>(mail);
        m->SetSubjectText("Betreff");
        m->To() = {"bob@example.org"};
    }
    void Body(const char *type, const std::string &text) { testsupport::AddBody(*m, type, text); }
    void Attachment(const std::string &name, const std::string *bytes) { testsupport::AddAttachment(*m, name, bytes); }
    HRESULT Send() {
        if (c->State() != kConnected && c->Connect() != S_OK) ADD_FAILURE() << "no connection";
        return c->Send(mail);
    }
};

TEST(SmapiProvider, LogonFlagsResultsAndBoxes) {
    const String other = pal::SystemMessageText(2);
    const String reason =
        "MAPILogon() failed, reason '" + (other.empty() ? "(error code 0x000002)" : other + " (00000002)") + "'";
    const std::string bad = "99 LOGON failed - usually due to a bad profile name or password.";
    struct Case {
        const char *user, *password;
        uint32_t result;
        bool suppress;
        smapi::FLAGS flags;
        int32_t code;
        String text;
        std::vector<std::string> boxes;
    } cases[] = {
        {"", "", 0, false, 0x9, 0, "", {}},
        {"Outlook", "", 0, false, 0x20002, 0, "", {}},
        {"", "pw", 0, false, 0x8, 0, "", {}},
        {"Prof", "pw", 1, false, 0x2, -11, "MAPI LOGON cancelled!", {}},
        {"Prof", "pw", 3, false, 0x2, -4, "MAPI LOGON failed!", {bad}},
        {"Prof", "pw", 3, true, 0x2, -4, "MAPI LOGON failed!", {}},
        {"Prof", "pw", 2, true, 0x2, -4, reason, {"99 " + reason}},
    };
    for (const auto &k : cases) {
        SCOPED_TRACE(std::string(k.user) + "/" + k.password + " " + std::to_string(k.result));
        Smapi t; // the window active at logon owns the boxes
        t.c->Session().activeWindow = [] { return uintptr_t(0x99); };
        t.c->Session().isWindow = [](uintptr_t) { return true; };
        SetTextOption(t.c, u"ServerUser", k.user);
        SetTextOption(t.c, u"ServerPassword", k.password);
        if (k.suppress) SetIntOption(t.c, u"SuppressLogonFailure", 7);
        t.platform.logonResult = k.result;
        EXPECT_EQ(t.c->Connect(), k.code ? E_ABORT : S_OK);
        EXPECT_EQ(t.platform.calls.front(), Format("Logon 99 '%s' '%s' %x", k.user, k.password, unsigned(k.flags)));
        EXPECT_EQ(t.c->ErrorCode(), k.code);
        if (k.code) {
            EXPECT_EQ(t.c->ErrorMessages(), (std::vector<String>{k.text, "[clsSMAPI::Logon]",
                                                                 "[clsSMAPIMailConnection::OnConnect(user:'Prof')]"}));
        } else {
            EXPECT_EQ(t.c->Disconnect(), S_OK);
            EXPECT_EQ(t.platform.calls.back(), "Logoff 5150 99");
        }
        EXPECT_EQ(t.boxes, k.boxes);
        EXPECT_FALSE(t.c->Session().LoggedOn());
    }
}

TEST(SmapiProvider, TheWindowActiveAtLogonOwnsTheDialogsWhileItExists) {
    Smapi t;
    bool exists = true;
    t.c->Session().activeWindow = [] { return uintptr_t(0x4711); };
    t.c->Session().isWindow = [&](uintptr_t w) { return exists && w == 0x4711; };
    t.NewMail();
    ASSERT_EQ(t.Send(), S_OK);
    exists = false;
    t.platform.sendResult = 2;
    EXPECT_EQ(t.c->Send(t.mail), E_ABORT);
    testsupport::FakeMail foreign;
    EXPECT_EQ(t.c->Send(&foreign), E_NOINTERFACE) << "a mail of another kind: no call";
    EXPECT_EQ(t.c->Disconnect(), S_OK);
    // A window that is gone is not passed.
    EXPECT_EQ(t.platform.calls,
              (std::vector<std::string>{
                  "Logon 4711 '' '' 9", "SendMail 5150 4711 0 Betreff from (none), 1 bob@example.org (none)",
                  "SendMail 5150 0 0 Betreff from (none), 1 bob@example.org (none)", "Logoff 5150 0"}));
}

TEST(SmapiProvider, NoteTextJoinsPlainBodiesAndReservesABlankPerAttachment) {
    const std::string dashes = std::string(65, '-') + "\r\n";
    struct Case {
        std::vector<std::pair<const char *, std::string>> bodies;
        int attachments;
        std::string note;
        std::vector<uint32_t> positions;
    } cases[] = {
        {{{"text/plain", "eins"}, {"text/plain", "zwei"}}, 0, "eins" + dashes + "zwei", {}},
        {{{"text/plain", "a"}, {"text/plain", ""}, {"text/plain", "c"}}, 0, "a" + dashes + dashes + "c", {}},
        {{{"text/html", "<p>x</p>"}, {"text/plain", "p"}}, 0, "p", {}},
        {{}, 0, " ", {}},
        {{}, 2, "   ", {1, 2}},
        {{{"text/plain", "Hi"}}, 3, "Hi   ", {2, 3, 4}},
    };
    TempDir temp;
    for (const auto &k : cases) {
        Smapi t;
        t.NewMail();
        for (const auto &[type, text] : k.bodies) t.Body(type, text);
        std::string bytes = "data";
        for (int i = 0; i < k.attachments; ++i) t.Attachment("a.txt", &bytes);
        ASSERT_EQ(t.Send(), S_OK) << testsupport::ErrorText(t.c);
        EXPECT_EQ(t.platform.note, k.note);
        std::vector<uint32_t> positions;
        for (const auto &f : t.platform.files) positions.push_back(f.position);
        EXPECT_EQ(positions, k.positions);
        EXPECT_EQ(temp.Count(), 0u) << "temporary copies are gone after the send";
    }
}

TEST(SmapiProvider, RecipientRule) {
    struct Case {
        std::string text, client, expected;
    } cases[] = {
        {"Bob", "", "2 Bob (none)"},
        {"\"Bob Example\" <bob@example.org>", "", "2 Bob Example SMTP:bob@example.org"},
        {"bob@example.org", "", "2 bob@example.org (none)"},
        {"<SMTP:bob@example.org>", "", "2 bob@example.org SMTP:bob@example.org"},
        {"\"Doe, \\\"John\\\"\" <j@example.org>", "", "2 Doe, \"John\" SMTP:j@example.org"},
        {"\"Fax\" <FAX:+49 30 1234>", "", "2 Fax FAX:+49 30 1234"},
        {"\"Bob\" <bob@example.org>", "Mozilla", "2 Bob bob@example.org"},
        {"\"Bob\" <bob@example.org>", "mozilla", "2 Bob SMTP:bob@example.org"},
    };
    for (const auto &k : cases) {
        SmapiRecipient r = SmapiRecipientFor(k.text, 2, k.client);
        EXPECT_EQ(Copy(r.recipClass, r.name.c_str(), r.hasAddress ? r.address.c_str() : nullptr), k.expected)
            << k.text << " / " << k.client;
    }
}

TEST(SmapiProvider, RecipientClassesOriginatorAndDialogFlag) {
    TempDir temp;
    {
        Smapi t;
        t.NewMail();
        t.m->SetSenderText("\"Ann\" <ann@example.org>");
        t.m->To() = {"to1@example.org", "to2@example.org"};
        t.m->CC() = {"Carl <cc@example.org>"};
        t.m->BCC() = {"bcc@example.org"};
        ASSERT_EQ(t.Send(), S_OK);
        EXPECT_EQ(t.platform.calls.back(),
                  "SendMail 5150 0 0 Betreff from 0 Ann SMTP:ann@example.org, 1 to1@example.org "
                  "(none), 1 to2@example.org (none), 2 Carl SMTP:cc@example.org, 3 "
                  "bcc@example.org (none)");
    }
    {
        Smapi t;
        t.NewMail();
        t.m->To().clear();
        const fs::path current = fs::current_path();
        t.platform.sendChangesDirectory = temp.dir.string();
        ASSERT_EQ(t.Send(), S_OK);
        EXPECT_EQ(t.platform.calls.back(), "SendMail 5150 0 8 Betreff from (none)") << "no recipient: the system asks";
        EXPECT_EQ(fs::current_path(), current) << "the host's current directory is restored";
    }
}

TEST(SmapiProvider, SendFailuresInBothLanguages) {
    struct Case {
        uint32_t result;
        bool german;
        int32_t code;
        String text;
    } cases[] = {
        {14, false, -14,
         "Fehler bei MAPISendMail(). One or more of the addresses are wrong. (MAPI_E_UNKNOWN_RECIPIENT (14))."},
        {15, false, -14,
         "Fehler bei MAPISendMail(). One or more of the addresses are wrong. (MAPI_E_BAD_RECIPTYPE (15))."},
        {21, true, -14,
         "Fehler bei MAPISendMail(). Eine oder mehrere eMail-Adressen sind falsch. (MAPI_E_AMBIGUOUS_RECIPIENT (21))."},
        {25, false, -14,
         "Fehler bei MAPISendMail(). One or more of the addresses are wrong. (MAPI_E_INVALID_RECIPS (25))."},
        {2, false, -6, "MAPISendMail() failed. (MAPI_E_FAILURE (2))."},
        {1, true, -6, "Fehler bei MAPISendMail(). (MAPI_E_USER_ABORT (1))."},
        {7, false, -6, "MAPISendMail() failed. ."},
        {26, false, -6, "MAPISendMail() failed. (MAPI_E_NOT_SUPPORTED (26))."},
        {27, false, -6, "MAPISendMail() failed. ."},
    };
    TempDir temp;
    const char *lcAll = std::getenv("LC_ALL");
    std::string saved = lcAll ? lcAll : "";
    for (const auto &k : cases) {
        SetEnv("LC_ALL", k.german ? "de_DE.UTF-8" : "en_US.UTF-8");
        Smapi t;
        t.NewMail();
        std::string bytes = "x";
        t.Attachment("keep.txt", &bytes);
        t.platform.sendResult = k.result;
        EXPECT_EQ(t.Send(), E_ABORT);
        EXPECT_EQ(t.c->ErrorCode(), k.code) << k.result;
        EXPECT_EQ(t.c->ErrorMessages(),
                  (std::vector<String>{k.text, "[clsSMAPIMail::Send]", "[clsSMAPIMailConnection::OnSend]"}));
        EXPECT_EQ(temp.Count(), 0u) << "a failed send deletes its copies too";
    }
    SetEnv("LC_ALL", saved);
}

TEST(SmapiProvider, AttachmentFilesAreCopiesWithUniqueNamesOrTheirOwnPath) {
    TempDir temp;
    const std::string dir = temp.dir.string() + "/";
    fs::path own = temp.dir / "own";
    fs::create_directories(own);
    std::ofstream(own / "report.pdf") << "PDF";
    Smapi t;
    t.NewMail();
    std::string one = "first", two = "second", three = "third";
    t.Attachment("C:\\x\\same.txt", &one);
    t.Attachment("same.txt", &two);
    t.Attachment("*.dat", &three);
    t.Attachment((own / "report.pdf").string(), nullptr);
    ASSERT_EQ(t.Send(), S_OK) << testsupport::ErrorText(t.c);
    ASSERT_EQ(t.platform.files.size(), 4u);
    std::vector<std::string> paths, contents;
    for (const auto &f : t.platform.files) {
        paths.push_back(f.path);
        contents.push_back(f.content);
        EXPECT_TRUE(f.fileNameNull);
    }
    EXPECT_EQ(paths[0].substr(paths[0].rfind('/') + 1).find("same"), 0u);
    EXPECT_EQ(paths, (std::vector<std::string>{paths[0], dir + "same00001.txt", dir + "ATTACH",
                                               (own / "report.pdf").string()}));
    EXPECT_EQ(contents, (std::vector<std::string>{"first", "second", "third", "PDF"}));
    EXPECT_TRUE(fs::exists(own / "report.pdf")) << "the attachment's own file stays";
    EXPECT_EQ(temp.Count(), 1u) << "only the own folder is left";

    // A missing file stops the send before the platform is called.
    const std::string missing = (temp.dir / "gone.bin").string();
    t.Attachment(missing, nullptr);
    const size_t calls = t.platform.calls.size();
    EXPECT_EQ(t.Send(), E_ABORT);
    EXPECT_EQ(t.c->ErrorCode(), -5);
    EXPECT_EQ(t.c->ErrorMessages().front(), "Read error file '" + missing + "' - file not found?!");
    EXPECT_EQ(t.platform.calls.size(), calls);
    EXPECT_EQ(temp.Count(), 1u) << "the copies made before are gone too";

    EXPECT_EQ(UniqueTempFileName(dir, "n.txt"), dir + "n.txt");
    EXPECT_EQ(UniqueTempFileName(dir, "/elsewhere/n.txt"), dir + "n00001.txt");
    EXPECT_EQ(UniqueTempFileName(dir, "n.txt"), dir + "n00002.txt");
    EXPECT_EQ(UniqueTempFileName(dir, ""), dir + "ATTACH");
    EXPECT_EQ(UniqueTempFileName(dir, "?"), dir + "ATT00001");
    const std::string nowhere = dir + "no/such/dir/";
    testsupport::Caught e = testsupport::Catch([&] { UniqueTempFileName(nowhere, "x"); });
    EXPECT_EQ(e.code, -5);
    EXPECT_EQ(e.Front().rfind("Cannot create file '" + nowhere + "x': '", 0), 0u) << e.Front();
}

char *C(const char *text) { return const_cast<char *>(text); }
struct Records {
    smapi::MapiRecipDesc orig{0, 0, C("Ann Example"), C("SMTP:ann@example.org"), 0, nullptr};
    smapi::MapiRecipDesc recips[4] = {{0, 1, C("Bob"), C("smtp:bob@example.org"), 0, nullptr},
                                      {0, 2, nullptr, C("cc@example.org"), 0, nullptr},
                                      {0, 3, C("Hidden"), C("SMTP:h@example.org"), 0, nullptr},
                                      {0, 1, C("Only Name"), nullptr, 0, nullptr}};
    std::string path;
    smapi::MapiFileDesc file{0, 0, 0, nullptr, C("shown.bin"), nullptr};
    smapi::MapiMessage first{0, C("First"), C("Body text\r\n"), nullptr, C("2026/12/06 21:00"), nullptr, 0, &orig, 4,
                             recips, 1, &file},
        second{0, C("Second"), nullptr, nullptr, nullptr, nullptr, 0, nullptr, 0, nullptr, 0, nullptr};

    explicit Records(const fs::path &dir) : path((dir / "received.bin").string()) {
        std::ofstream(path, std::ios::binary) << "ATTACHED";
        file.lpszPathName = path.data();
    }
};

TEST(SmapiProvider, MailboxListingReadsEnvelopesWithItsEvents) {
    TempDir temp;
    Records r(temp.dir);
    Smapi t(false);
    t.platform.ids = {"id-1", "id-2"};
    t.platform.records = {{"id-1", &r.first}, {"id-2", &r.second}};
    SetIntOption(t.c, u"QueryUnreadMailsOnly", 1);
    ASSERT_EQ(t.c->Connect(), S_OK);
    t.events.seen.clear();
    ASSERT_EQ(t.c->QueryMailbox(0), S_OK) << testsupport::ErrorText(t.c);
    EXPECT_EQ(
        t.platform.calls,
        (std::vector<std::string>{"Logon 0 '' '' 9", "FindNext '' 4120", "FindNext 'id-1' 4120", "FindNext 'id-2' 4120",
                                  "ReadMail id-1 c0", "FreeBuffer First", "ReadMail id-2 c0", "FreeBuffer Second"}));
    EXPECT_EQ(t.events.seen, (std::vector<std::pair<LONG, LONG>>{
                                 {10, -1}, {9, 0}, {9, 0}, {9, 0}, {10, 2}, {11, 1}, {11, 2}, {12, 0}}));
    ASSERT_EQ(t.c->Mails().size(), 2u);
    IKvMail *m = t.c->Mails()[0];
    clsSMAPIMail *ours = nullptr;
    ASSERT_EQ(m->QueryInterface(IID_clsSMAPIMail, reinterpret_cast<void **>(&ours)), S_OK);
    EXPECT_TRUE(ours->EnvelopeOnly());
    EXPECT_EQ(ours->MessageId(), "id-1");
    EXPECT_EQ(ours->Sender(), "\"Ann Example\" <ann@example.org>");
    EXPECT_EQ(ours->To(), (std::vector<String>{"\"Bob\" <bob@example.org>", "<Only Name>"}));
    EXPECT_EQ(ours->CC(), (std::vector<String>{"<cc@example.org>"}));
    EXPECT_EQ(ours->Subject(), "First");
    ASSERT_NE(ours->GeneratedHeaders().Find("Date"), nullptr);
    EXPECT_EQ(ours->GeneratedHeaders().Find("Date")->Joined(), "2026/12/06 21:00");
    EXPECT_TRUE(ours->Bodies().Empty());
    EXPECT_TRUE(fs::exists(r.path)) << "an envelope read leaves the file";
    t.platform.calls.clear();
    IKvEnumMailBody *bodies = nullptr;
    ASSERT_EQ(m->EnumBodies(&bodies), S_OK) << "the first enumeration loads the rest";
    bodies->Release();
    EXPECT_FALSE(ours->EnvelopeOnly());
    EXPECT_EQ(t.platform.calls, (std::vector<std::string>{"ReadMail id-1 80", "FreeBuffer First"}));
    EXPECT_EQ(ours->To().size(), 2u) << "recipients are not doubled by the second read";
    ours->Release();
}

// A complete read takes the text and the messaging system's copy of each
// file, deleting it; a file that cannot be read is reported and left where it
// is, the message listed with what it kept.
TEST(SmapiProvider, CompleteReadTakesTheFilesAndReportsOneThatCannotBeRead) {
    TempDir temp;
    Records r(temp.dir);
    const std::string unreadable = (temp.dir / "folder.bin").string();
    fs::create_directories(unreadable);
    smapi::MapiFileDesc files[2] = {r.file, {}};
    files[1].lpszPathName = const_cast<char *>(unreadable.c_str());
    r.first.nFileCount = 2;
    r.first.lpFiles = files;
    Smapi t(false);
    t.platform.ids = {"id-1"};
    t.platform.records = {{"id-1", &r.first}};
    SetIntOption(t.c, u"QueryMarksMailsAsRead", 1);
    ASSERT_EQ(t.c->Connect(), S_OK);
    EXPECT_EQ(t.c->QueryMailbox(1), E_ABORT);
    EXPECT_EQ(t.platform.calls, (std::vector<std::string>{"Logon 0 '' '' 9", "FindNext '' 4100", "FindNext 'id-1' 4100",
                                                          "ReadMail id-1 0", "FreeBuffer First"}));
    EXPECT_EQ(t.c->ErrorCode(), -5);
    EXPECT_EQ(t.c->ErrorMessages(), std::vector<String>{"Read error file '" + unreadable + "' - file not found?!"});
    ASSERT_EQ(t.c->Mails().size(), 1u);
    auto *ours = static_cast<clsMail *>(t.c->Mails()[0]);
    ASSERT_EQ(ours->Bodies().Size(), 1u);
    EXPECT_EQ(std::string(ours->Bodies()[0]->MediaType()), "text/plain");
    ASSERT_EQ(ours->Attachments().Size(), 1u);
    EXPECT_EQ(ours->Attachments()[0]->Name(), "shown.bin");
    IStream *data = testsupport::StreamOf("");
    EXPECT_EQ(ours->Attachments()[0]->GetContents(data), S_OK);
    EXPECT_EQ(testsupport::BytesOf(data), "ATTACHED");
    data->Release();
    EXPECT_FALSE(fs::exists(r.path)) << "the messaging system's copy is deleted";
}

TEST(SmapiProvider, ListingFailsWithItsReason) {
    {
        Smapi t(false);
        t.platform.ids = {"a", "b", "c"};
        t.platform.findFailAt = 2;
        t.platform.findFailCode = 19;
        ASSERT_EQ(t.c->Connect(), S_OK);
        t.events.seen.clear();
        EXPECT_EQ(t.c->QueryMailbox(0), E_ABORT);
        EXPECT_EQ(t.c->ErrorCode(), -6);
        EXPECT_EQ(t.c->ErrorMessages().front(), "MAPIFindNext() failed, reason '(MAPI_E_INVALID_SESSION (19))'");
        EXPECT_EQ(t.events.seen.back(), (std::pair<LONG, LONG>{12, 0}));
    }
    {
        Smapi t(false);
        t.platform.ids = {"a"};
        t.platform.readResult = 17;
        ASSERT_EQ(t.c->Connect(), S_OK);
        EXPECT_EQ(t.c->QueryMailbox(0), E_ABORT);
        EXPECT_EQ(t.c->ErrorMessages().front(), "MAPIReadMail() failed, reason '(MAPI_E_INVALID_MESSAGE (17))'");
        EXPECT_EQ(t.platform.calls.back(), "ReadMail a c0") << "nothing to free";
    }
}

TEST(SmapiProvider, DeleteAndMarkAsRead) {
    TempDir temp;
    Records r(temp.dir);
    Smapi t(false);
    t.platform.ids = {"a", "b"};
    t.platform.records = {{"a", &r.second}, {"b", &r.second}};
    EXPECT_EQ(t.c->OnDeleteMail("a"), E_UNEXPECTED);
    EXPECT_EQ(t.c->ErrorCode(), -13);
    EXPECT_EQ(t.c->ErrorMessages().back(), "clsSMAPIMailConnection::OnDeleteMail(): not connected");
    EXPECT_EQ(t.c->OnMarkMailAsRead("a"), E_UNEXPECTED);
    EXPECT_EQ(t.c->ErrorMessages().back(), "clsSMAPIMailConnection::OnMarkMailAsRead(): not connected");
    ASSERT_EQ(t.c->Connect(), S_OK);
    ASSERT_EQ(t.c->QueryMailbox(0), S_OK);
    t.platform.calls.clear();
    EXPECT_EQ(t.c->DeleteMail(OLESTR("b")), S_OK);
    EXPECT_EQ(t.c->DeleteMail(OLESTR("zzz")), S_OK);
    clsSMAPIMail *b = nullptr;
    ASSERT_EQ(t.c->Mails()[1]->QueryInterface(IID_clsSMAPIMail, reinterpret_cast<void **>(&b)), S_OK);
    EXPECT_EQ(b->State(), kMailDeleted);
    b->Release();
    EXPECT_EQ(t.c->Mails().size(), 2u);

    t.platform.deleteResult = 22;
    EXPECT_EQ(t.c->DeleteMail(OLESTR("a")), E_FAIL);
    EXPECT_EQ(t.c->ErrorCode(), -6);
    EXPECT_EQ(t.c->ErrorMessages(), (std::vector<String>{"MAPIDeleteMail() failed, reason '(MAPI_E_MESSAGE_IN_USE (22))'",
                                                         "[clsSMAPIMailConnection::OnDeleteMail]"}));

    EXPECT_EQ(t.c->MarkMailAsRead(OLESTR("not-listed")), S_OK);
    t.platform.readResult = 2;
    EXPECT_EQ(t.c->MarkMailAsRead(OLESTR("a")), E_FAIL);
    EXPECT_EQ(t.c->ErrorMessages(), (std::vector<String>{"MAPIReadMail() failed, reason '(MAPI_E_FAILURE (2))'",
                                                         "[clsSMAPIMailConnection::OnMarkMailAsRead]"}));
    // Only listed mails are deleted; any id is marked.
    EXPECT_EQ(t.platform.calls,
              (std::vector<std::string>{"DeleteMail b", "DeleteMail a", "ReadMail not-listed 40", "ReadMail a 40"}));
}

} // namespace
} // namespace kv

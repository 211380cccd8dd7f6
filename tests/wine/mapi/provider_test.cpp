// The Extended MAPI and CDOSYS providers on the system's interfaces, as a host
// reaches them, against stand-ins for MAPI32.DLL and the CDO objects that
// record every call. run.sh announces the messaging subsystem for this run.
#include <windows.h>

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "host_fixture.h"
#include "orkv14.h"

namespace {

using orkv14::Bstr;
using orkv14::Utf8;

template <class T> T Proc(HMODULE module, const char *name) {
    return reinterpret_cast<T>(reinterpret_cast<void *>(GetProcAddress(module, name)));
}

std::vector<std::string> Lines(const std::string &text) {
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
        lines.push_back(text.substr(start, end - start));
    return lines;
}

std::string Hex(const std::string &bytes) {
    std::string out;
    char two[3];
    for (unsigned char c : bytes) std::snprintf(two, sizeof two, "%02X", c), out += two;
    return out;
}

class ProviderTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
        ASSERT_NE(lib.handle, nullptr) << lib.error;
        ASSERT_EQ(lib.getClassObject(CLSID_KvComponent, IID_IClassFactory, reinterpret_cast<void **>(&factory)), S_OK);
        mapi = LoadLibraryA("MAPI32.DLL");
        ASSERT_NE(mapi, nullptr);
        takeLog = Proc<decltype(takeLog)>(mapi, "FakeMapiTakeLog");
        outstanding = Proc<decltype(outstanding)>(mapi, "FakeMapiOutstanding");
        ASSERT_NE(takeLog, nullptr) << "MAPI32.DLL is not the stand-in (WINEDLLOVERRIDES=mapi32=n missing?)";
        TakeMapiLog();
    }
    void TearDown() override {
        if (factory) factory->Release();
        if (mapi) FreeLibrary(mapi);
        CoUninitialize();
    }

    IKvMailConnection2 *Create(const IID &selector) {
        IKvMailConnection2 *c = nullptr;
        EXPECT_EQ(factory->CreateInstance(nullptr, selector, reinterpret_cast<void **>(&c)), S_OK);
        return c;
    }
    static void Option(IKvMailConnection2 *c, const char *name, const char *value) {
        EXPECT_EQ(c->SetOption(Bstr(name).get(), orkv14::Variant(value).get()), S_OK) << name;
    }
    static std::string ErrorText(IKvMailConnection2 *c, LONG *code) {
        orkv14::Error e = orkv14::LastError(c);
        *code = e.code;
        return e.text;
    }
    // The whole record since the last call.
    std::vector<std::string> TakeMapiLog() {
        std::vector<char> buffer(1 << 20);
        takeLog(buffer.data(), DWORD(buffer.size()));
        return Lines(buffer.data());
    }
    // A mail of the connection: recipients, subject, plain and HTML bodies, one attachment.
    static IKvMail2 *Compose(IKvMailConnection2 *c, const std::string &attachment, bool rtf = false) {
        IKvMail *mail = nullptr;
        EXPECT_EQ(c->CreateMail(65001, L"", &mail), S_OK);
        if (!mail) return nullptr;
        IKvMail2 *m = nullptr;
        EXPECT_EQ(mail->QueryInterface(IID_IKvMail2, reinterpret_cast<void **>(&m)), S_OK);
        mail->Release();
        auto put = [](IKvMail2 *m, HRESULT (STDMETHODCALLTYPE IKvMail2::*set)(BSTR), const char *value) {
            EXPECT_EQ((m->*set)(Bstr(value).get()), S_OK);
        };
        put(m, &IKvMail2::SetSender, "\"Sender\" <sender@example.org>");
        put(m, &IKvMail2::AddRecipients, "Ann Example <ann@example.org>\tbob@example.org");
        put(m, &IKvMail2::AddCCRecipients, "Carl <carl@example.org>");
        put(m, &IKvMail2::SetSubject, "Quarterly report \xC3\xA4");
        put(m, &IKvMail2::AddBCCRecipients, "dora@example.org");
        struct {
            const char *type, *content;
        } bodies[] = {{"text/plain", "Plain text"}, {"text/html", "<p>Hi</p>"}, {"application/rtf", "{\\rtf1 x}"}};
        for (const auto &b : bodies) {
            if (!rtf && b.content[0] == '{') continue;
            orkv14::Ptr<IKvMailBody> body;
            EXPECT_EQ(m->CreateAndAddBody(body.put(), Bstr(b.type).get(), 65001), S_OK);
            if (body) {
                EXPECT_EQ(body->SetContents(orkv14::MemoryStream(b.content).get()), S_OK);
            }
        }
        orkv14::Ptr<IKvMailAttachment> a;
        EXPECT_EQ(m->CreateAndAddAttachment(a.put()), S_OK);
        if (a) {
            EXPECT_EQ(a->SetName(Bstr("data.bin").get()), S_OK);
            EXPECT_EQ(a->SetContents(orkv14::MemoryStream(attachment).get()), S_OK);
        }
        return m;
    }

    host::Library lib;
    IClassFactory *factory = nullptr;
    HMODULE mapi = nullptr;
    DWORD(WINAPI *takeLog)(char *, DWORD) = nullptr;
    LONG(WINAPI *outstanding)(LONG *) = nullptr;
};

// Each expected line must appear, in this order; other lines may lie between.
void ExpectInOrder(const std::vector<std::string> &log, const std::vector<std::string> &expected) {
    size_t at = 0;
    for (const std::string &line : expected) {
        size_t found = at;
        while (found < log.size() && log[found] != line) ++found;
        if (found == log.size()) {
            std::string all;
            for (const std::string &l : log) all += "  " + l + "\n";
            ADD_FAILURE() << "missing (in order): " << line << "\nrecord:\n" << all;
            return;
        }
        at = found + 1;
    }
}

void ExpectNothingUnexpected(const std::vector<std::string> &log) {
    for (const std::string &line : log) EXPECT_EQ(line.find("UNEXPECTED"), std::string::npos) << line;
}

TEST_F(ProviderTest, ExtendedMapiSendsThroughTheOutbox) {
    IKvMailConnection2 *c = Create(IID_IKvXMAPISendConnection);
    ASSERT_NE(c, nullptr);
    Option(c, "ServerUser", "Work");
    Option(c, "ServerPassword", "secret");
    ASSERT_EQ(c->Connect(), S_OK);
    IKvMail2 *mail = Compose(c, std::string("abc\0\x01xyz", 8), true);
    ASSERT_NE(mail, nullptr);
    // and an attachment that stays in its file
    char directory[MAX_PATH];
    GetTempPathA(MAX_PATH, directory);
    const std::string file = std::string(directory) + "kv-xmapi-plan.txt";
    std::ofstream(file, std::ios::binary) << "file content";
    IKvMailAttachment *a = nullptr;
    ASSERT_EQ(mail->CreateAndAddAttachment(&a), S_OK);
    EXPECT_EQ(a->SetName(Bstr(file).get()), S_OK);
    a->Release();
    IKvMail *plain = nullptr;
    ASSERT_EQ(mail->QueryInterface(IID_IKvMail, reinterpret_cast<void **>(&plain)), S_OK);
    LONG code = 0;
    EXPECT_EQ(c->Send(plain), S_OK) << ErrorText(c, &code);
    plain->Release();
    mail->Release();
    DeleteFileA(file.c_str());

    // A failing send keeps its reason, also where the system has no text for its code.
    auto failAbove = Proc<void(WINAPI *)(ULONG)>(mapi, "FakeMapiFailAllocationsAbove");
    ASSERT_NE(failAbove, nullptr);
    const struct {
        std::wstring recipient;
        ULONG allocationLimit;
        std::string text;
    } failures[] = {
        {L"Ambiguous <amb@example.org>", 0, "IAddressBook::ResolveName() failed: '(error code 0x80040700)'\r\n"},
        {L"\"" + std::wstring(1000, L'x') + L"\" <long@example.org>", 1500,
         "MAPIAllocateBuffer() failed: '" + host::ResultText(E_OUTOFMEMORY) + "'\r\n"},
    };
    for (const auto &k : failures) {
        ASSERT_EQ(c->CreateMail(65001, L"", &plain), S_OK);
        BSTR to = SysAllocString(k.recipient.c_str());
        EXPECT_EQ(plain->AddRecipients(to), S_OK);
        SysFreeString(to);
        failAbove(k.allocationLimit);
        EXPECT_EQ(c->Send(plain), E_ABORT);
        failAbove(0);
        EXPECT_EQ(ErrorText(c, &code), k.text);
        EXPECT_EQ(code, -5);
        plain->Release();
    }
    EXPECT_EQ(c->Disconnect(), S_OK) << ErrorText(c, &code);
    c->Release();

    const std::vector<std::string> log = TakeMapiLog();
    ExpectNothingUnexpected(log);
    auto recipient = [](const char *name, const char *address, int type) {
        return std::string("  recipient 0x3001001F=L'") + name + "' 0x3002001F=L'SMTP' 0x3003001F=L'" + address +
               "' 0x0C150003=" + std::to_string(type) + " 0x0FFF0102=<" + Hex(std::string("1OFF:") + address) + ">";
    };
    ExpectInOrder(
        log,
        {
            "MAPIInitialize version=0 flags=0x0",
            "MAPILogonEx profile=Work password=(given) flags=0x22",
            "Session.GetMsgStoresTable flags=0x0",
            "HrQueryAllRows stores columns=0x0FFF0102,0x3001001E where rt=4 relop=4 0x3400000B==1 max=0",
            "Session.OpenMsgStore STORE1 iid=null flags=0x10",
            "HrGetOneProp Store 0x340D0003",
            "FreeProws 1",
            // the send
            "Store.GetProps 0x35E20102 flags=0x0",
            "Store.OpenEntry OUTBOX iid=null flags=0x10",
            "Outbox.CreateMessage iid=null flags=0x0",
            "Message.SetProps 0x3FDE0003=65001",
            "Session.OpenAddressBook iid=null flags=0x1",
            "AddrBook.CreateOneOff 'Ann Example' 'SMTP' 'ann@example.org' flags=0x80010000",
            "AddrBook.CreateOneOff 'bob@example.org' 'SMTP' 'bob@example.org' flags=0x80010000",
            "AddrBook.CreateOneOff 'Carl' 'SMTP' 'carl@example.org' flags=0x80010000",
            "AddrBook.CreateOneOff 'dora@example.org' 'SMTP' 'dora@example.org' flags=0x80010000",
            // one list: resolved, added to the message, given back
            "AddrBook.ResolveName flags=0x0 count=4",
            "Message.ModifyRecipients flags=0x2 count=4",
            recipient("Ann Example", "ann@example.org", 1),
            recipient("bob@example.org", "bob@example.org", 1),
            recipient("Carl", "carl@example.org", 2),
            recipient("dora@example.org", "dora@example.org", 3),
            "FreePadrlist 4",
            "Message.SetProps 0x0037001F=L'Quarterly report \\xC3\\xA4'",
            "Message.OpenProperty 0x1000001F iid=IStream options=0x1001 flags=0x3",
            "Stream[0x1000001F].Commit 0x0 'Plain text'",
            "Message.OpenProperty 0x1013001E iid=IStream options=0x1001 flags=0x3",
            "Stream[0x1013001E].Commit 0x0 '<p>Hi</p>'",
            "Message.OpenProperty 0x10090102 iid=IStream options=0x1001 flags=0x3",
            "WrapCompressedRTFStream Stream[0x10090102] flags=0x1",
            "RTF[0x10090102].Commit 0x0 '{\\rtf1\\ansi\\ansicpg65001\\fromhtml1 {\\*\\htmltag1 <p>Hi</p> }}'",
            "Stream[0x10090102].Commit 0x0 ''",
            "Message.OpenProperty 0x10090102 iid=IStream options=0x1001 flags=0x3",
            "WrapCompressedRTFStream Stream[0x10090102] flags=0x1",
            "RTF[0x10090102].Commit 0x0 '{\\rtf1 x}'",
            "Stream[0x10090102].Commit 0x0 ''",
            // a store that does not keep RTF in step by itself
            "RTFSync Message 0x1",
            "Message.SetProps 0x001A001F=L'IPM.Note'",
            "Message.CreateAttach iid=null flags=0x0",
            "Attach.SetProps 0x37050003=1 0x370B0003=-1 0x3704001F=L'data.bin' 0x3707001F=L'data.bin' "
            "0x3703001F=L'.bin' 0x3712001F=L'' 0x37140003=0",
            "Attach.OpenProperty 0x37010102 iid=IStream options=0x1001 flags=0x3",
            "Stream[0x37010102].Commit 0x0 'abc\\x00\\x01xyz'",
            "Attach.SaveChanges 0x4",
            "OpenStreamOnFile " + file + " flags=0x0 allocators=given",
            "File.CopyTo 12",
            "Stream[0x37010102].Commit 0x0 'file content'",
            "Message.SetProps 0x0E01000B=0",
            "Store.GetProps 0x35E40102 flags=0x0",
            "Message.SetProps 0x0E0A0102=<53454E54>",
            "Message.SubmitMessage 0x0",
            // the disconnect: the spooler is asked to send, then the session ends
            "Session.GetStatusTable flags=0x0",
            "HrQueryAllRows status columns=0x0FFF0102,0x3E030003 where rt=4 relop=4 0x3E030003==37 max=0",
            "FreeProws 1",
            "Session.OpenEntry SPOOLER iid=null flags=0x10",
            "Spooler.FlushQueues transport=null flags=0x32",
            "Session.Logoff flags=0x0",
            "MAPIUninitialize",
        });
    LONG objects = -1;
    EXPECT_EQ(outstanding(&objects), 0) << "buffers not given back";
    EXPECT_EQ(objects, 0) << "objects not released";
}

TEST_F(ProviderTest, ExtendedMapiListsReadsMarksAndDeletes) {
    IKvMailConnection2 *c = Create(IID_IKvXMAPIRecvConnection);
    ASSERT_NE(c, nullptr);
    host::Events events;
    c->SetMailStateNotificationSlot(&events);
    LONG code = 0;
    ASSERT_EQ(c->Connect(), S_OK) << ErrorText(c, &code);
    ASSERT_EQ(c->QueryMailbox(1), S_OK) << ErrorText(c, &code);
    IKvEnumMail *list = nullptr;
    ASSERT_EQ(c->EnumMails(&list), S_OK);
    IKvMail *mails[3] = {};
    ULONG fetched = 0;
    list->Next(3, mails, &fetched);
    list->Release();
    ASSERT_EQ(fetched, 2u);

    struct Expected {
        const char *cookie, *sender, *subject, *date, *to, *cc, *body, *attachmentName;
        std::string attachment;
    } expected[] = {
        // An Exchange recipient with the primary SMTP address of the global address list.
        {"4D534731", "\"Ann Example\" <SMTP:ann@example.org>", "First \xC3\xA4", "Fri, 02 Jan 2026 03:04:05 +0000",
         "\"Carl\" <SMTP:carl@example.org>|\"Eve\" <EX:/O=ORG/CN=EVE> <SMTP:eve@example.org>",
         "\"Dora\" <SMTP:dora@example.org>", "Hello\r\nthere", "notes.txt", std::string("line 1\r\n\x01\xff!")},
        // An Exchange sender whose SMTP address only the global address list
        // gives; the body kept only in 8-bit form.
        {"4D534732", "\"Bob\" <EX:/O=ORG/CN=BOB> <SMTP:bob@example.org>", "Second", nullptr, "", "", "8-bit body",
         nullptr, ""},
    };
    for (ULONG i = 0; i < fetched; ++i) {
        const Expected &e = expected[i];
        IKvMail *m = mails[i];
        Bstr s;
        m->GetCookie(s.put());
        EXPECT_EQ(s.Utf8(), e.cookie);
        m->GetSender(s.put());
        EXPECT_EQ(s.Utf8(), e.sender);
        m->GetSubject(s.put());
        EXPECT_EQ(s.Utf8(), e.subject);
        m->GetHeaderEntry(Bstr("Date").get(), s.put());
        // Without a creation time the mail dates itself when asked.
        if (e.date) {
            EXPECT_EQ(s.Utf8(), e.date);
        }
        for (int list = 0; list < 2; ++list) {
            orkv14::Ptr<IEnumString> addresses;
            ASSERT_EQ(list ? m->EnumCCRecipients(addresses.put()) : m->EnumRecipients(addresses.put()), S_OK);
            std::string joined;
            for (LPOLESTR one = nullptr; addresses->Next(1, &one, nullptr) == S_OK; CoTaskMemFree(one))
                joined += (joined.empty() ? "" : "|") + Utf8(one);
            // The blind copy of the store is no visible recipient.
            EXPECT_EQ(joined, list ? e.cc : e.to);
        }
        orkv14::Ptr<IKvEnumMailBody> bodies;
        ASSERT_EQ(m->EnumBodies(bodies.put()), S_OK);
        orkv14::Ptr<IKvMailBody> body;
        ASSERT_EQ(bodies->Next(1, body.put(), nullptr), S_OK);
        orkv14::Ptr<IStream> out = orkv14::MemoryStream("");
        body->GetContents(out.get());
        EXPECT_EQ(orkv14::ReadAll(out.get()), e.body);
        orkv14::Ptr<IKvEnumMailAttachment> attachments;
        ASSERT_EQ(m->EnumAttachments(attachments.put()), S_OK);
        orkv14::Ptr<IKvMailAttachment> a;
        EXPECT_EQ(attachments->Next(1, a.put(), nullptr) == S_OK, e.attachmentName != nullptr);
        if (a) {
            a->GetName(s.put());
            EXPECT_EQ(s.Utf8(), e.attachmentName ? e.attachmentName : "");
            out = orkv14::MemoryStream("");
            a->GetContents(out.get());
            EXPECT_EQ(orkv14::ReadAll(out.get()), e.attachment);
        }
        m->Release();
    }
    EXPECT_EQ(c->MarkMailAsRead(L"4D534731"), S_OK) << ErrorText(c, &code);
    EXPECT_EQ(c->DeleteMail(L"4D534732"), S_OK) << ErrorText(c, &code);
    // An id of the host that names a folder is not used as a message.
    EXPECT_EQ(c->MarkMailAsRead(L"535542"), E_FAIL);
    EXPECT_EQ(ErrorText(c, &code), "XMAPI item '535542' not found in inbox: (error code 0x8004010f)\r\n"
                                   "[clsXMAPIMailConnection::OnMarkMailAsRead]\r\n");
    EXPECT_EQ(code, -13);
    EXPECT_EQ(c->Disconnect(), S_OK);
    c->SetMailStateNotificationSlot(nullptr);
    c->Release();
    std::vector<std::pair<LONG, LONG>> wantEvents = {{2, 0}, {10, -1}, {9, 0}, {10, 2}, {11, 1}, {11, 2}, {12, 0}};
    std::vector<std::pair<LONG, LONG>> seen;
    for (const auto &ev : events.seen)
        if (ev.first != 6 && ev.first != 7 && ev.first != 3) seen.push_back(ev);
    EXPECT_EQ(seen, wantEvents);

    const std::vector<std::string> log = TakeMapiLog();
    ExpectNothingUnexpected(log);
    ExpectInOrder(log, {
                           // no profile, no password: the default profile and the logon dialog
                           "MAPILogonEx profile=(null) password=(null) flags=0x61",
                           "Store.GetReceiveFolder class=null flags=0x0",
                           "Store.OpenEntry INBOX iid=null flags=0x10",
                           "Inbox.GetContentsTable flags=0x80000000",
                           "HrQueryAllRows contents columns=0x0042001F,0x0037001F,0x0FFF0102,0x0E070003 max=0",
                           "FreeProws 2",
                           "Inbox.OpenEntry MSG1 iid=null flags=0x10",
                           "MSG1.GetProps 0x0C1E001F flags=0x0",
                           "MSG1.GetRecipientTable flags=0x80000000",
                           "HrQueryAllRows recipients columns=0x3001001F,0x3002001F,0x3003001F,0x39FE001F,0x0C150003 "
                           "max=0",
                           "FreeProws 4",
                           // the global address list, read once
                           "AddrBook.OpenEntry (root) iid=null flags=0x0",
                           "HrQueryAllRows hierarchy columns=0x0FFF0102,0x39000003 max=0",
                           "AddrBook.OpenEntry GAL iid=null flags=0x0",
                           "HrQueryAllRows gal columns=0x3001001F,0x3002001F,0x3003001F,0x39FE001F,0x800F101E max=0",
                           "MSG1.GetProps 0x1000001F flags=0x0",
                           "MSG1.GetAttachmentTable flags=0x80000000",
                           "HrQueryAllRows attachments columns=0x0E210003,0x0E200003,0x3704001F max=0",
                           "MSG1.OpenAttach 0 iid=null flags=0x0",
                           "Attach.OpenProperty 0x37010102 iid=IStream options=0x0 flags=0x0",
                           "Inbox.OpenEntry MSG2 iid=null flags=0x10",
                           // the store refuses the wide body: asked again in 8-bit form
                           "MSG2.GetProps 0x1000001F flags=0x0",
                           "MSG2.GetProps 0x1000001E flags=0x0",
                           "Inbox.OpenEntry MSG1 iid=null flags=0x10",
                           "MSG1.SetReadFlag 0x0",
                           "Inbox.DeleteMessages MSG2 flags=0x0",
                           "Inbox.OpenEntry SUB iid=null flags=0x10",
                           "Session.Logoff flags=0x0",
                       });
    size_t marked = 0, galReads = 0;
    for (const std::string &line : log) {
        marked += line.find("SetReadFlag") != std::string::npos;
        galReads += line.rfind("GAL.GetContentsTable", 0) == 0;
    }
    EXPECT_EQ(marked, 1u) << "the listing itself marks nothing as read";
    EXPECT_EQ(galReads, 1u);
    LONG objects = -1;
    EXPECT_EQ(outstanding(&objects), 0) << "buffers not given back";
    EXPECT_EQ(objects, 0) << "objects not released";
}

TEST_F(ProviderTest, ProfileNamesMarkTheDefault) {
    IKvEnumMAPIProfiles *profiles = nullptr;
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_IKvEnumMAPIProfiles, reinterpret_cast<void **>(&profiles)), S_OK);
    BSTR names[3] = {};
    ULONG fetched = 0;
    profiles->Next(3, names, &fetched);
    ASSERT_EQ(fetched, 2u);
    EXPECT_EQ(Utf8(names[0]), " Work");
    EXPECT_EQ(Utf8(names[1]), "*Home");
    SysFreeString(names[0]);
    SysFreeString(names[1]);
    profiles->Release();
    ExpectInOrder(TakeMapiLog(), {"MAPIAdminProfiles flags=0x0", "ProfAdmin.GetProfileTable flags=0x0",
                                  "HrQueryAllRows profiles columns=0x3001001E,0x3D04000B max=0", "FreeProws 2"});
}

// A library without the Simple MAPI functions: the connection is made (the
// library is there) and the logon reports what is missing.
TEST_F(ProviderTest, SimpleMapiWithoutItsFunctionsRefusesTheLogon) {
    IKvMailConnection2 *c = Create(IID_IKvSMAPISendConnection);
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(c->Connect(), E_ABORT);
    LONG code = 0;
    EXPECT_EQ(ErrorText(c, &code),
              "MAPI is not available!\r\n[clsSMAPI::Logon]\r\n[clsSMAPIMailConnection::OnConnect(user:'')]\r\n");
    EXPECT_EQ(code, -5);
    c->Release();
}

// The stand-in CDO classes, registered for one test.
class CdoRegistration {
  public:
    static constexpr const wchar_t *kKeys[] = {L"CLSID\\{CD000001-8B95-11D1-82DB-00C04FB1625D}",
                                               L"CLSID\\{CD000002-8B95-11D1-82DB-00C04FB1625D}"};
    CdoRegistration() {
        wchar_t path[MAX_PATH];
        DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
        std::wstring dll(path, n);
        dll = dll.substr(0, dll.find_last_of(L"\\/") + 1) + L"fake_cdo.dll";
        for (const wchar_t *key : kKeys) {
            HKEY k = nullptr;
            std::wstring server = std::wstring(key) + L"\\InprocServer32";
            if (RegCreateKeyExW(HKEY_CLASSES_ROOT, server.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &k, nullptr))
                continue;
            RegSetValueExW(k, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE *>(dll.c_str()),
                           DWORD((dll.size() + 1) * sizeof(wchar_t)));
            const wchar_t model[] = L"Both";
            RegSetValueExW(k, L"ThreadingModel", 0, REG_SZ, reinterpret_cast<const BYTE *>(model), sizeof model);
            RegCloseKey(k);
        }
        module = LoadLibraryW(dll.c_str());
        if (module) takeLog = Proc<decltype(takeLog)>(module, "FakeCdoTakeLog");
        if (module) objects = Proc<decltype(objects)>(module, "FakeCdoObjects");
    }
    ~CdoRegistration() {
        for (const wchar_t *key : kKeys) RegDeleteTreeW(HKEY_CLASSES_ROOT, key);
        if (module) FreeLibrary(module);
    }
    std::vector<std::string> Log() {
        std::vector<char> buffer(1 << 20);
        takeLog(buffer.data(), DWORD(buffer.size()));
        return Lines(buffer.data());
    }
    HMODULE module = nullptr;
    DWORD(WINAPI *takeLog)(char *, DWORD) = nullptr;
    LONG(WINAPI *objects)() = nullptr;
};

TEST_F(ProviderTest, CdoSendsThroughTheSystemObjects) {
    IKvMailConnection2 *c = Create(IID_IKvCDOSYSSendConnection);
    ASSERT_NE(c, nullptr);
    Option(c, "ServerAddress", "mail.example.org");
    Option(c, "AuthProtocol", "ntlm");
    ASSERT_EQ(c->Connect(), S_OK);
    const std::string attachment(200000, 'x');
    LONG code = 0;

    // Without the classes (the plain prefix): the reason, not a crash.
    IKvMail2 *mail = Compose(c, attachment);
    ASSERT_NE(mail, nullptr);
    IKvMail *plain = nullptr;
    mail->QueryInterface(IID_IKvMail, reinterpret_cast<void **>(&plain));
    EXPECT_EQ(c->Send(plain), E_ABORT);
    const std::string refused = ErrorText(c, &code);
    EXPECT_EQ(code, -5);
    EXPECT_EQ(refused.rfind("Can not create CDO message object: ", 0), 0u) << refused;

    CdoRegistration cdo;
    ASSERT_NE(cdo.takeLog, nullptr);
    EXPECT_EQ(c->Send(plain), S_OK) << ErrorText(c, &code);
    const std::string config = "Configuration.Fields";
    auto field = [](const std::string &fields, const std::string &name, const std::string &value) {
        const bool header = fields != "Configuration.Fields";
        const std::string full =
            (header ? "urn:schemas:mailheader:" : "http://schemas.microsoft.com/cdo/configuration/") + name;
        return std::vector<std::string>{fields + ".Item get|call('" + full + "')",
                                        fields + "[" + name + "].Value put(" + value + ")"};
    };
    std::vector<std::string> expected = {"CoCreateInstance Message", "CoCreateInstance Configuration",
                                         "Configuration.Load call(-1)", "Configuration.Fields get()"};
    auto add = [&expected](const std::vector<std::string> &lines) {
        expected.insert(expected.end(), lines.begin(), lines.end());
    };
    add(field(config, "sendusing", "2"));
    add(field(config, "smtpconnectiontimeout", "10"));
    add(field(config, "smtpserver", "'mail.example.org'"));
    add(field(config, "smtpserverport", "25"));
    add(field(config, "sendusername", "''"));
    add(field(config, "sendpassword", "''"));
    add(field(config, "smtpusessl", "false"));
    add(field(config, "smtpauthenticate", "2"));
    add({"Configuration.Fields.Update call()", "Message.Configuration putref(<Configuration>)",
         "Message.From put('\"Sender\" <sender@example.org>')", "Message.Subject put('Quarterly report \xC3\xA4')",
         "Message.To put('Ann Example <ann@example.org>, bob@example.org')",
         "Message.CC put('Carl <carl@example.org>')", "Message.BCC put('dora@example.org')",
         "Message.Fields get()"});
    add(field("Message.Fields", "X-Mailer", std::string("'orkv14 ") + KV_EXPECTED_VERSION + "'"));
    add({"Message.Fields.Update call()", "Message.BodyPart get()", "Part0.Fields get()"});
    add(field("Part0.Fields", "content-type", "'multipart/mixed'"));
    add({"Part0.Fields.Update call()", "Part0.AddBodyPart call(-1)", "Part1.Fields get()"});
    add(field("Part1.Fields", "content-type", "'multipart/alternative'"));
    add({"Part1.Fields.Update call()", "Part1.AddBodyPart call(-1)",
         "Part2.ContentMediaType put('text/plain; charset=\"utf-8\"')", "Part2.GetDecodedContentStream call()",
         "Part2.Stream.Charset put('utf-8')", "Part2.Stream.WriteText call('Plain text')",
         "Part2.Stream.Flush call()", "Part1.AddBodyPart call(-1)",
         "Part3.ContentMediaType put('text/html; charset=\"utf-8\"')", "Part3.GetDecodedContentStream call()",
         "Part3.Stream.Charset put('utf-8')", "Part3.Stream.WriteText call('<p>Hi</p>')",
         "Part3.Stream.Flush call()", "Part0.AddBodyPart call(-1)",
         "Part4.ContentTransferEncoding put('base64')", "Part4.Fields get()"});
    add(field("Part4.Fields", "content-disposition", "'attachment; filename=\"data.bin\"'"));
    add({"Part4.Fields.Update call()", "Part4.GetDecodedContentStream call()",
         // 64 KiB pieces as byte arrays
         "Part4.Stream.Write call(bytes[65536])", "Part4.Stream.Write call(bytes[65536])",
         "Part4.Stream.Write call(bytes[65536])", "Part4.Stream.Write call(bytes[3392])", "Part4.Stream.Flush call()",
         "Message.Send call()"});
    EXPECT_EQ(cdo.Log(), expected);
    EXPECT_EQ(cdo.objects(), 0) << "every CDO object is released after the send";

    // A failure that the objects report as an exception carries their account
    // of it, and its code where the system has no text for it.
    mail->AddRecipients(Bstr("bob@unreachable.example").get());
    EXPECT_EQ(c->Send(plain), E_ABORT);
    EXPECT_EQ(ErrorText(c, &code), "The transport failed to connect to the server.\r\n(error code 0x80040213)\r\n"
                                   "[clsCDOSYSMail::Send()]\r\n");
    EXPECT_EQ(code, -5);
    plain->Release();
    mail->Release();
    EXPECT_EQ(c->Disconnect(), S_OK);
    c->Release();
    EXPECT_EQ(cdo.objects(), 0);
}

} // namespace

// The Extended MAPI and CDOSYS providers on the system's interfaces, as a host
// reaches them, against stand-ins for MAPI32.DLL and the CDO objects that
// record every call. run.sh announces the messaging subsystem for this run.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "host_fixture.h"
#include "orkv14.h"

namespace {

using orkv14::Bstr;
using orkv14::Ptr;

// A stand-in DLL: its record since the last Take, and what the component has not given back.
struct StandIn : testsupport::Library {
    using Library::Library;
    std::vector<std::string> Take() const {
        auto take = reinterpret_cast<DWORD(WINAPI *)(char *, DWORD)>(Symbol("FakeTakeLog"));
        std::vector<char> buffer(1 << 20);
        take(buffer.data(), DWORD(buffer.size()));
        std::istringstream text(buffer.data());
        std::vector<std::string> lines;
        for (std::string line; std::getline(text, line);) lines.push_back(line);
        return lines;
    }
    std::string Outstanding() const {
        auto outstanding = reinterpret_cast<LONG(WINAPI *)(LONG *)>(Symbol("FakeOutstanding"));
        LONG objects = -1, buffers = outstanding(&objects);
        return std::to_string(buffers) + " buffers, " + std::to_string(objects) + " objects";
    }
};

// The stand-in CDO classes, registered in this process while this lives.
struct CdoClasses : StandIn {
    CdoClasses() : StandIn("fake_cdo.dll") {
        for (ULONG i = 0; i < 2 && getClassObject; ++i) {
            CLSID clsid = {0xCD000001 + i, 0x8B95, 0x11D1, {0x82, 0xDB, 0x00, 0xC0, 0x4F, 0xB1, 0x62, 0x5D}};
            Ptr<IUnknown> factory;
            if (getClassObject(clsid, IID_IUnknown, factory.put_void()) == S_OK)
                CoRegisterClassObject(clsid, factory.get(), CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE, &cookies[i]);
        }
    }
    ~CdoClasses() {
        for (DWORD cookie : cookies) CoRevokeClassObject(cookie);
    }
    DWORD cookies[2] = {};
};

std::string Failure(IKvMailConnection *c) {
    orkv14::Error e = orkv14::LastError(c);
    return std::to_string(e.code) + " " + e.text;
}

class ProviderTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
        ASSERT_NE(lib.handle, nullptr) << lib.error;
        ASSERT_NE(mapi.Symbol("FakeTakeLog"), nullptr) << "not the stand-in (WINEDLLOVERRIDES=mapi32=n missing?)";
        mapi.Take();
    }
    void TearDown() override { CoUninitialize(); }

    Ptr<IKvMailConnection2> Create(const IID &selector, std::initializer_list<const char *> options = {}) {
        Ptr<IKvMailConnection2> c;
        EXPECT_EQ(lib.Create(CLSID_KvComponent, selector, c.put()), S_OK);
        for (auto at = options.begin(); c && at != options.end(); at += 2)
            EXPECT_EQ(c->SetOption(Bstr(at[0]).get(), orkv14::Variant(at[1]).get()), S_OK) << at[0];
        return c;
    }
    // A mail of the connection: recipients, subject, plain and HTML bodies, one attachment.
    static Ptr<IKvMail> Compose(IKvMailConnection2 *c, const std::string &attachment, bool rtf = false) {
        Ptr<IKvMail> mail;
        EXPECT_EQ(c->CreateMail(65001, L"", mail.put()), S_OK);
        Ptr<IKvMail2> m = mail.As<IKvMail2>();
        if (!m) return mail;
        EXPECT_EQ(m->SetSender(Bstr("\"Sender\" <sender@example.org>").get()), S_OK);
        EXPECT_EQ(m->AddRecipients(Bstr("Ann Example <ann@example.org>\tbob@example.org").get()), S_OK);
        EXPECT_EQ(m->AddCCRecipients(Bstr("Carl <carl@example.org>").get()), S_OK);
        EXPECT_EQ(m->SetSubject(Bstr("Quarterly report \xC3\xA4").get()), S_OK);
        EXPECT_EQ(m->AddBCCRecipients(Bstr("dora@example.org").get()), S_OK);
        for (const char *type : {"text/plain", "text/html", "application/rtf"}) {
            Ptr<IKvMailBody> body;
            if (type[0] == 'a' && !rtf) break;
            EXPECT_EQ(m->CreateAndAddBody(body.put(), Bstr(type).get(), 65001), S_OK);
            const char *content = type[5] == 'p' ? "Plain text" : type[5] == 'h' ? "<p>Hi</p>" : "{\\rtf1 x}";
            EXPECT_EQ(body ? body->SetContents(orkv14::MemoryStream(content).get()) : E_POINTER, S_OK);
        }
        Ptr<IKvMailAttachment> a;
        EXPECT_EQ(m->CreateAndAddAttachment(a.put()), S_OK);
        EXPECT_EQ(a ? a->SetName(Bstr("data.bin").get()) : E_POINTER, S_OK);
        EXPECT_EQ(a ? a->SetContents(orkv14::MemoryStream(attachment).get()) : E_POINTER, S_OK);
        return mail;
    }

    host::Library lib;
    StandIn mapi{"MAPI32.DLL"};
};

// Each expected line must appear, in this order; other lines may lie between.
void ExpectInOrder(const std::vector<std::string> &log, const std::vector<std::string> &expected) {
    size_t at = 0;
    for (const std::string &line : expected) {
        while (at < log.size() && log[at] != line) ++at;
        if (at++ < log.size()) continue;
        std::string all;
        for (const std::string &l : log) all += "  " + l + "\n";
        ADD_FAILURE() << "missing (in order): " << line << "\nrecord:\n" << all;
        return;
    }
    for (const std::string &line : log) EXPECT_EQ(line.find("UNEXPECTED"), std::string::npos) << line;
}

// A received mail as text: cookie, sender, subject, To, CC, the first body and
// each attachment as name=bytes.
std::string Describe(IKvMail *m) {
    Bstr s;
    std::string out;
    for (auto get : {&IKvMail::GetCookie, &IKvMail::GetSender, &IKvMail::GetSubject}) {
        (m->*get)(s.put());
        out += s.Utf8() + "\n";
    }
    for (auto list : {&IKvMail::EnumRecipients, &IKvMail::EnumCCRecipients}) {
        Ptr<IEnumString> addresses;
        EXPECT_EQ((m->*list)(addresses.put()), S_OK);
        for (LPOLESTR one = nullptr; addresses && addresses->Next(1, &one, nullptr) == S_OK; CoTaskMemFree(one))
            out += orkv14::Utf8(one) + "|";
        out += "\n";
    }
    Ptr<IKvEnumMailBody> bodies;
    Ptr<IKvMailBody> body;
    Ptr<IStream> bytes = orkv14::MemoryStream("");
    if (m->EnumBodies(bodies.put()) == S_OK && bodies->Next(1, body.put(), nullptr) == S_OK)
        body->GetContents(bytes.get());
    out += orkv14::ReadAll(bytes.get()) + "\n";
    Ptr<IKvEnumMailAttachment> attachments;
    EXPECT_EQ(m->EnumAttachments(attachments.put()), S_OK);
    for (Ptr<IKvMailAttachment> a; attachments && attachments->Next(1, a.put(), nullptr) == S_OK;) {
        bytes = orkv14::MemoryStream("");
        a->GetName(s.put());
        a->GetContents(bytes.get());
        out += s.Utf8() + "=" + orkv14::ReadAll(bytes.get()) + "\n";
    }
    return out;
}

TEST_F(ProviderTest, ExtendedMapiSendsThroughTheOutbox) {
    Ptr<IKvMailConnection2> c = Create(IID_IKvXMAPISendConnection, {"ServerUser", "Work", "ServerPassword", "secret"});
    ASSERT_TRUE(c);
    ASSERT_EQ(c->Connect(), S_OK);
    Ptr<IKvMail> mail = Compose(c.get(), std::string("abc\0\x01xyz", 8), true);
    char directory[MAX_PATH];
    GetTempPathA(MAX_PATH, directory);
    const std::string file = std::string(directory) + "kv-xmapi-plan.txt";
    std::ofstream(file, std::ios::binary) << "file content";
    Ptr<IKvMailAttachment> a;
    ASSERT_EQ(mail->CreateAndAddAttachment(a.put()), S_OK);
    EXPECT_EQ(a->SetName(Bstr(file).get()), S_OK);
    EXPECT_EQ(c->Send(mail.get()), S_OK) << Failure(c.get());
    DeleteFileA(file.c_str());

    // A failing send keeps its reason (the resolve failure's text: the unit test).
    auto failAbove = reinterpret_cast<void(WINAPI *)(ULONG)>(mapi.Symbol("FakeMapiFailAllocationsAbove"));
    ASSERT_EQ(c->CreateMail(65001, L"", mail.put()), S_OK);
    EXPECT_EQ(mail->AddRecipients(Bstr("\"" + std::string(1000, 'x') + "\" <long@example.org>").get()), S_OK);
    failAbove(1500);
    EXPECT_EQ(c->Send(mail.get()), E_ABORT);
    failAbove(0);
    EXPECT_EQ(Failure(c.get()), "-5 MAPIAllocateBuffer() failed: '" + host::ResultText(E_OUTOFMEMORY) + "'\r\n");
    mail.reset();
    a.reset();
    EXPECT_EQ(c->Disconnect(), S_OK) << Failure(c.get());
    c.reset();

    auto recipient = [](const char *name, const char *address, int type) {
        return std::string("  recipient 0x3001001F=L'") + name + "' 0x3002001F=L'SMTP' 0x3003001F=L'" + address +
               "' 0x0C150003=" + std::to_string(type) + " 0x0FFF0102=<1OFF:" + address + ">";
    };
    ExpectInOrder(
        mapi.Take(),
        {
            "MAPIInitialize version=0 flags=0x0",
            "MAPILogonEx profile=Work password=(given) flags=0x22",
            "Session.GetMsgStoresTable flags=0x0",
            "HrQueryAllRows stores columns=0x0FFF0102,0x3001001E where rt=4 relop=4 0x3400000B==1 max=0",
            "Session.OpenMsgStore STORE1 iid=null flags=0x10",
            "HrGetOneProp Store 0x340D0003",
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
            // one list: resolved, then added to the message (given back: the leak check)
            "AddrBook.ResolveName flags=0x0 count=4",
            "Message.ModifyRecipients flags=0x2 count=4",
            recipient("Ann Example", "ann@example.org", 1),
            recipient("bob@example.org", "bob@example.org", 1),
            recipient("Carl", "carl@example.org", 2),
            recipient("dora@example.org", "dora@example.org", 3),
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
            "Message.SetProps 0x0E0A0102=<SENT>",
            "Message.SubmitMessage 0x0",
            // the disconnect: the spooler is asked to send, then the session ends
            "Session.GetStatusTable flags=0x0",
            "HrQueryAllRows status columns=0x0FFF0102,0x3E030003 where rt=4 relop=4 0x3E030003==37 max=0",
            "Session.OpenEntry SPOOLER iid=null flags=0x10",
            "Spooler.FlushQueues transport=null flags=0x32",
            "Session.Logoff flags=0x0",
            "MAPIUninitialize",
        });
    EXPECT_EQ(mapi.Outstanding(), "0 buffers, 0 objects");
}

TEST_F(ProviderTest, ExtendedMapiListsProfilesAndReadsMarksAndDeletesMails) {
    Ptr<IKvEnumMAPIProfiles> profiles;
    ASSERT_EQ(lib.Create(CLSID_KvComponent, IID_IKvEnumMAPIProfiles, profiles.put()), S_OK);
    BSTR names[3] = {};
    ULONG fetched = 0;
    profiles->Next(3, names, &fetched);
    EXPECT_EQ(fetched, 2u);
    EXPECT_EQ(orkv14::Utf8(names[0]) + "|" + orkv14::Utf8(names[1]), " Work|*Home");
    for (BSTR name : names) SysFreeString(name);

    Ptr<IKvMailConnection2> c = Create(IID_IKvXMAPIRecvConnection);
    ASSERT_TRUE(c);
    ASSERT_EQ(c->Connect(), S_OK) << Failure(c.get());
    ASSERT_EQ(c->QueryMailbox(1), S_OK) << Failure(c.get());
    Ptr<IKvEnumMail> list;
    ASSERT_EQ(c->EnumMails(list.put()), S_OK);
    std::vector<std::string> described, dates;
    for (Ptr<IKvMail> m; list->Next(1, m.put(), nullptr) == S_OK;) {
        described.push_back(Describe(m.get()));
        Bstr date;
        m->GetHeaderEntry(Bstr("Date").get(), date.put());
        dates.push_back(date.Utf8());
    }
    list.reset();
    // Without a creation time (the second) the mail dates itself when asked.
    EXPECT_EQ(dates.at(0), "Fri, 02 Jan 2026 03:04:05 +0000");
    EXPECT_EQ(described,
              (std::vector<std::string>{
                  // The blind copy of the store is no visible recipient; an Exchange
                  // recipient with the primary SMTP address of the global address list.
                  "4D534731\n\"Ann Example\" <SMTP:ann@example.org>\nFirst \xC3\xA4\n"
                  "\"Carl\" <SMTP:carl@example.org>|\"Eve\" <EX:/O=ORG/CN=EVE> <SMTP:eve@example.org>|\n"
                  "\"Dora\" <SMTP:dora@example.org>|\nHello\r\nthere\nnotes.txt=line 1\r\n\x01\xff!\n",
                  // An Exchange sender whose SMTP address only the global address
                  // list gives; the body kept only in 8-bit form.
                  "4D534732\n\"Bob\" <EX:/O=ORG/CN=BOB> <SMTP:bob@example.org>\nSecond\n\n\n8-bit body\n",
              }));
    EXPECT_EQ(c->MarkMailAsRead(L"4D534731"), S_OK) << Failure(c.get());
    EXPECT_EQ(c->DeleteMail(L"4D534732"), S_OK) << Failure(c.get());
    // An id of the host that names a folder is not used as a message (the text: the unit test).
    EXPECT_EQ(c->MarkMailAsRead(L"535542"), E_FAIL);
    EXPECT_EQ(c->Disconnect(), S_OK);
    c.reset();

    const std::vector<std::string> log = mapi.Take();
    ExpectInOrder(log, {
                           "MAPIAdminProfiles flags=0x0",
                           "ProfAdmin.GetProfileTable flags=0x0",
                           "HrQueryAllRows profiles columns=0x3001001E,0x3D04000B max=0",
                           // no profile, no password: the default profile and the logon dialog
                           "MAPILogonEx profile=(null) password=(null) flags=0x61",
                           "Store.GetReceiveFolder class=null flags=0x0",
                           "Store.OpenEntry INBOX iid=null flags=0x10",
                           "Inbox.GetContentsTable flags=0x80000000",
                           "HrQueryAllRows contents columns=0x0042001F,0x0037001F,0x0FFF0102,0x0E070003 max=0",
                           "Inbox.OpenEntry MSG1 iid=null flags=0x10",
                           "MSG1.GetProps 0x0C1E001F flags=0x0",
                           "MSG1.GetRecipientTable flags=0x80000000",
                           "HrQueryAllRows recipients columns=0x3001001F,0x3002001F,0x3003001F,0x39FE001F,0x0C150003 "
                           "max=0",
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
    auto count = [&log](const char *piece) {
        return std::count_if(log.begin(), log.end(), [&](const std::string &l) { return l.find(piece) != l.npos; });
    };
    EXPECT_EQ(count("SetReadFlag"), 1) << "the listing itself marks nothing as read";
    EXPECT_EQ(count("GAL.GetContentsTable"), 1);
    EXPECT_EQ(mapi.Outstanding(), "0 buffers, 0 objects");
}

TEST_F(ProviderTest, SimpleMapiWithoutItsFunctionsRefusesTheLogonAndCdoSendsThroughTheSystemObjects) {
    // The connection is made (the library is there); the logon reports what is missing.
    Ptr<IKvMailConnection2> simple = Create(IID_IKvSMAPISendConnection);
    ASSERT_TRUE(simple);
    EXPECT_EQ(simple->Connect(), E_ABORT);
    EXPECT_EQ(Failure(simple.get()),
              "-5 MAPI is not available!\r\n[clsSMAPI::Logon]\r\n[clsSMAPIMailConnection::OnConnect(user:'')]\r\n");

    Ptr<IKvMailConnection2> c =
        Create(IID_IKvCDOSYSSendConnection, {"ServerAddress", "mail.example.org", "AuthProtocol", "ntlm"});
    ASSERT_TRUE(c);
    ASSERT_EQ(c->Connect(), S_OK);
    Ptr<IKvMail> mail = Compose(c.get(), std::string(200000, 'x'));

    // Without the classes: the reason, not a crash.
    EXPECT_EQ(c->Send(mail.get()), E_ABORT);
    EXPECT_EQ(Failure(c.get()).rfind("-5 Can not create CDO message object: ", 0), 0u) << Failure(c.get());

    CdoClasses cdo;
    ASSERT_NE(cdo.cookies[1], 0u) << cdo.error;
    EXPECT_EQ(c->Send(mail.get()), S_OK) << Failure(c.get());
    std::vector<std::string> expected = {"CoCreateInstance Message", "CoCreateInstance Configuration",
                                         "Configuration.Load call(-1)", "Configuration.Fields get()"};
    auto add = [&expected](std::initializer_list<std::string> lines) { expected.insert(expected.end(), lines); };
    auto field = [&add](const std::string &fields, const std::string &name, const std::string &value) {
        const bool header = fields != "Configuration.Fields";
        add({fields + ".Item get|call('" +
                 (header ? "urn:schemas:mailheader:" : "http://schemas.microsoft.com/cdo/configuration/") + name + "')",
             fields + "[" + name + "].Value put(" + value + ")"});
    };
    for (const char *nameValue : {"sendusing 2", "smtpconnectiontimeout 10", "smtpserver 'mail.example.org'",
                                  "smtpserverport 25", "sendusername ''", "sendpassword ''", "smtpusessl false",
                                  "smtpauthenticate 2"}) {
        const std::string both = nameValue;
        field("Configuration.Fields", both.substr(0, both.find(' ')), both.substr(both.find(' ') + 1));
    }
    add({"Configuration.Fields.Update call()", "Message.Configuration putref(<Configuration>)",
         "Message.From put('\"Sender\" <sender@example.org>')", "Message.Subject put('Quarterly report \xC3\xA4')",
         "Message.To put('Ann Example <ann@example.org>, bob@example.org')",
         "Message.CC put('Carl <carl@example.org>')", "Message.BCC put('dora@example.org')",
         "Message.Fields get()"});
    field("Message.Fields", "X-Mailer", std::string("'orkv14 ") + KV_EXPECTED_VERSION + "'");
    add({"Message.Fields.Update call()", "Message.BodyPart get()", "Part0.Fields get()"});
    field("Part0.Fields", "content-type", "'multipart/mixed'");
    add({"Part0.Fields.Update call()", "Part0.AddBodyPart call(-1)", "Part1.Fields get()"});
    field("Part1.Fields", "content-type", "'multipart/alternative'");
    add({"Part1.Fields.Update call()", "Part1.AddBodyPart call(-1)",
         "Part2.ContentMediaType put('text/plain; charset=\"utf-8\"')", "Part2.GetDecodedContentStream call()",
         "Part2.Stream.Charset put('utf-8')", "Part2.Stream.WriteText call('Plain text')",
         "Part2.Stream.Flush call()", "Part1.AddBodyPart call(-1)",
         "Part3.ContentMediaType put('text/html; charset=\"utf-8\"')", "Part3.GetDecodedContentStream call()",
         "Part3.Stream.Charset put('utf-8')", "Part3.Stream.WriteText call('<p>Hi</p>')",
         "Part3.Stream.Flush call()", "Part0.AddBodyPart call(-1)",
         "Part4.ContentTransferEncoding put('base64')", "Part4.Fields get()"});
    field("Part4.Fields", "content-disposition", "'attachment; filename=\"data.bin\"'");
    add({"Part4.Fields.Update call()", "Part4.GetDecodedContentStream call()",
         // 64 KiB pieces as byte arrays
         "Part4.Stream.Write call(bytes[65536])", "Part4.Stream.Write call(bytes[65536])",
         "Part4.Stream.Write call(bytes[65536])", "Part4.Stream.Write call(bytes[3392])", "Part4.Stream.Flush call()",
         "Message.Send call()"});
    EXPECT_EQ(cdo.Take(), expected);
    EXPECT_EQ(cdo.Outstanding(), "0 buffers, 0 objects") << "every CDO object is released after the send";

    // A failure that the objects report as an exception carries their account
    // of it, and its code where the system has no text for it.
    mail->AddRecipients(Bstr("bob@unreachable.example").get());
    EXPECT_EQ(c->Send(mail.get()), E_ABORT);
    EXPECT_EQ(Failure(c.get()), "-5 The transport failed to connect to the server.\r\n(error code 0x80040213)\r\n"
                                "[clsCDOSYSMail::Send()]\r\n");
    mail.reset();
    EXPECT_EQ(c->Disconnect(), S_OK);
    c.reset();
    EXPECT_EQ(cdo.Outstanding(), "0 buffers, 0 objects");
}

} // namespace

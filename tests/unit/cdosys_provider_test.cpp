// The CDOSYS provider against recording CDO objects: the configuration fields
// the options give, the order and arguments of every object call, the part
// structure, attachment chunks and the error texts with their scopes.
#include <gtest/gtest.h>

#include <algorithm>

#include "fake_mail.h"
#include "mail/mail.h"
#include "mail_builder.h"
#include "providers/cdosys/cdosys_connection.h"
#include "recording_cdo.h"
#include "runtime/kvlog.h"

namespace kv {
namespace {

using testsupport::CdoLog;
using testsupport::SetIntOption;
using testsupport::SetTextOption;

const std::string kNs = "http://schemas.microsoft.com/cdo/configuration/";
const std::string kHdr = "urn:schemas:mailheader:";

struct Cdo {
    std::shared_ptr<CdoLog> log = std::make_shared<CdoLog>();
    clsCDOSYSMailConnection *c =
        new clsCDOSYSMailConnection(true, std::make_shared<testsupport::RecCdo>(*log, ""));
    IKvMail *mail = nullptr;
    clsMail *m = nullptr;

    Cdo() {
        c->AddRef();
        SetTextOption(c, u"ServerAddress", "smtp.example");
        EXPECT_EQ(c->CreateMail(65001, OLESTR(""), &mail), S_OK);
        m = static_cast<clsMail *>(mail);
        m->SetSenderText("\"Ann\" <ann@example.org>");
        m->SetSubjectText("Hello");
        m->To() = {"bob@example.org"};
    }
    ~Cdo() {
        if (mail) mail->Release();
        c->Release();
    }
    // Options are fixed once connected.
    HRESULT Send() {
        EXPECT_EQ(c->Connect(), S_OK);
        return c->Send(mail);
    }
    void Body(const char *type, const std::string &text) { testsupport::AddBody(*m, type, text); }
    void Attachment(const char *name, const std::string *bytes) { testsupport::AddAttachment(*m, name, bytes); }
};

struct OptionCase {
    const char16_t *name;
    const char *text; // null: the integer
    int32_t number;
    std::string expected; // one configuration value
};

// Every row has a proxy. The defaults and NTLM are the Wine test's; port, user,
// password and a basic logon the integration test's round trip through a server.
TEST(CdosysProvider, OptionsMapToConfigurationValues) {
    const OptionCase cases[] = {
        {u"SocketTimeout", nullptr, 4500, "smtpconnectiontimeout=i4:4"},
        {u"SocketTimeout", nullptr, 999, "smtpconnectiontimeout=i4:0"},
        {u"ProxyAddress", "10.0.0.1", 0, "urlproxyserver=text:10.0.0.1:1080"},
        {u"ProxyPort", nullptr, 3128, "urlproxyserver=text:proxy.example:3128"},
        {u"UseSSL", nullptr, 1, "smtpusessl=bool:true"},
        {u"AuthProtocol", "login", 0, "smtpauthenticate=i4:0"},
    };
    for (const auto &k : cases) {
        Cdo t;
        t.Body("text/plain", "x");
        SetTextOption(t.c, u"ProxyAddress", "proxy.example");
        k.text ? SetTextOption(t.c, k.name, k.text) : SetIntOption(t.c, k.name, k.number);
        ASSERT_EQ(t.Send(), S_OK) << k.expected;
        const std::string line = kNs + k.expected;
        EXPECT_NE(std::find(t.log->calls.begin(), t.log->calls.end(), line), t.log->calls.end()) << line;
    }
}

// One body is a child of the root, no multipart (the Wine test: two bodies);
// text attachments go quoted-printable, a file is loaded by the objects.
TEST(CdosysProvider, AttachmentNamesEncodingsAndFiles) {
    Cdo t;
    t.Body("text/plain", "H\xC3\xA4llo");
    std::string bytes = "abc";
    t.Attachment("/out/*.csv", &bytes);
    t.Attachment("part*", &bytes);
    t.Attachment("say \"hi\".TXT", &bytes);
    t.Attachment("/tmp/nowhere/logo.png", nullptr);
    ASSERT_EQ(t.Send(), S_OK);
    EXPECT_EQ(t.log->With("WriteText"), std::vector<std::string>{"Stream1.WriteText H\xC3\xA4llo"});
    const std::string disposition = kHdr + "content-disposition=text:attachment; filename=";
    EXPECT_EQ(t.log->With("content-disposition="),
              (std::vector<std::string>{disposition + "\"ATT00001.csv\"", disposition + "\"ATT00002\"",
                                        disposition + "\"say _hi_.TXT\"", disposition + "\"logo.png\""}));
    EXPECT_EQ(t.log->With("TransferEncoding"),
              (std::vector<std::string>{"Part2.ContentTransferEncoding base64",
                                        "Part3.ContentTransferEncoding base64",
                                        "Part4.ContentTransferEncoding quoted-printable",
                                        "Part5.ContentTransferEncoding base64"}));
    EXPECT_EQ(t.log->With("Stream5."),
              (std::vector<std::string>{"Stream5.LoadFromFile /tmp/nowhere/logo.png", "Stream5.Flush"}));
    EXPECT_TRUE(t.log->With("Msg.BCC").empty()) << "no blind copies, no call";

    // A wildcard name needs a stream; a mail of another kind is refused.
    Cdo f;
    f.Body("text/plain", "x");
    f.Attachment("/out/*.csv", nullptr);
    EXPECT_EQ(f.Send(), E_ABORT);
    EXPECT_EQ(f.c->ErrorCode(), -5);
    EXPECT_EQ(f.c->ErrorMessages(),
              (std::vector<String>{"Cannot use wildcard file name for a non-stream file!",
                                   "[clsCDOSYSMail::SendAttachment()]", "[clsCDOSYSMail::Send()]"}));
    EXPECT_TRUE(f.log->With("Msg.Send").empty());
    testsupport::FakeMail foreign;
    const size_t calls = f.log->calls.size();
    EXPECT_EQ(f.c->Send(&foreign), E_NOINTERFACE);
    EXPECT_EQ(f.log->calls.size(), calls);
    EXPECT_EQ(f.c->State(), kConnected);
}

// A failing call ends the send before Msg.Send; an attachment's write names
// its range. The configuration source selects what is loaded.
TEST(CdosysProvider, EachFailingCallRaisesItsTextUnderItsScopes) {
    const std::string ni = "'" + HResultText(E_NOTIMPL) + "'";
    const String send = "[clsCDOSYSMail::Send()]", body = "[clsCDOSYSMail::SendBody]",
                 attachment = "[clsCDOSYSMail::SendAttachment()]";
    struct Case {
        std::string failing;
        std::vector<String> messages;
        bool fromFile = false;
        const char *source = "";
    } cases[] = {
        {"Config.Load -1", {"Config->Load(cdoDefault) failed", send}},
        {"Config.Load 2", {"Config->Load(cdoOutlookExpress) failed", send}, false, "OutlookExpress"},
        {"Config.Load 2", {"Config->Load(cdoOutlookExpress) failed", send}, false, "outlookexpress"},
        {"Config.Load 1", {"Config->Load(cdoIIS) failed", send}, false, "iis"},
        {"CreateMessage", {"Can not create CDO message object: " + HResultText(E_NOTIMPL) + "\n", send}},
        {"CreateConfiguration", {"Can not create CDO config object: " + HResultText(E_NOTIMPL) + "\n", send}},
        {"Config.Fields.Item " + kNs + "smtpserver", {"error in CDOFields->get_Item(): " + ni, "[SetFields()]", send}},
        {"Config.Fields.Update", {"CDOFields::Update() failed: " + ni, "[SetFields()]", send}},
        {"Msg.Fields", {"CDOMsg->get_Fields() failed: " + ni, send}},
        {"Root.AddBodyPart", {"Parent->AddBodyPart(-1) failed: " + ni, body, send}},
        {"Part1.ContentMediaType", {"BodyPart->put_ContentMediaType() failed: " + ni, body, send}},
        {"Part1.GetDecodedContentStream", {"BodyPart->get_Stream() failed: " + ni, body, send}},
        {"Msg.Send", {HResultText(E_NOTIMPL), send}},
        {"Root.AddBodyPart(-1) Part2", {"MsgBody->AddBodyPart(-1) failed: " + ni, attachment, send}},
        {"Part2.Fields", {"BodyPart->get_Fields(-1) failed: " + ni, attachment, send}},
        {"Part2.GetDecodedContentStream", {"BodyPart->get_Stream(-1) failed: " + ni, attachment, send}},
        {"Stream2.Write 3392", {"Stream->Write(196608..200000/200000) failed: " + ni, attachment, send}},
        {"Stream2.LoadFromFile", {"LoadFromFile() failed: " + ni, attachment, send}, true},
    };
    for (const auto &k : cases) {
        Cdo t;
        t.Body("text/plain", "x");
        std::string big(200000, 'b');
        t.Attachment("data.bin", k.fromFile ? nullptr : &big);
        SetTextOption(t.c, u"ConfigSource", k.source);
        t.log->failures[k.failing] = E_NOTIMPL;
        EXPECT_EQ(t.Send(), E_ABORT) << k.failing;
        EXPECT_EQ(t.c->ErrorCode(), -5) << k.failing;
        EXPECT_EQ(t.c->ErrorMessages(), k.messages) << k.failing;
        EXPECT_EQ(t.log->With("Msg.Send").size(), k.failing == "Msg.Send" ? 1u : 0u) << k.failing;
    }
}

} // namespace
} // namespace kv

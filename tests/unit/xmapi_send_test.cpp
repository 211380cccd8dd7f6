// An Extended MAPI send against recording store, folder, message, attachment
// and address-book objects: every property written, in order, with its type
// by the store's Unicode bit, the recipients, the bodies and the submit.
#include <gtest/gtest.h>

#include <map>

#include "fake_mail.h"
#include "test_text.h"
#include "mail/mail.h"
#include "runtime/kvlog.h"
#include "pal/system.h"
#include "providers/xmapi/xmapi_connection.h"
#include "providers/xmapi/xmapi_mail.h"
#include "providers/xmapi/xmapi_read.h"
#include "providers/xmapi/xmapi_send.h"
#include "runtime/com_util.h"
#include "stack_doubles.h"

namespace kv {
namespace {

using namespace xmapi;
using testsupport::SetIntOption;

struct SendLog {
    std::vector<std::string> calls;
    std::map<std::string, HRESULT> failures; // by log-line prefix
    std::vector<HRESULT> submits{S_OK};
    bool narrowOnly = false; // objects refuse wide strings
    int attaches = 0, streams = 0;
    std::map<std::string, std::string> written; // stream name -> bytes
    std::map<std::string, std::string> files;   // what OpenStreamOnFile finds

    HRESULT Record(const std::string &line) {
        calls.push_back(line);
        for (const auto &[prefix, hr] : failures)
            if (line.compare(0, prefix.size(), prefix) == 0) return hr;
        return S_OK;
    }
    std::vector<std::string> With(const std::string &prefix) const {
        std::vector<std::string> out;
        for (const auto &c : calls)
            if (c.compare(0, prefix.size(), prefix) == 0) out.push_back(c);
        return out;
    }
};

std::string Show(const Prop &p) {
    std::string v;
    switch (TypeOf(p.tag)) {
    case PT_LONG: v = "l:" + std::to_string(p.number); break;
    case PT_BOOLEAN_: v = "bool:" + std::to_string(p.number); break;
    case PT_STRING8: v = "a:" + p.text8; break;
    case PT_UNICODE: v = "u:" + Narrow(p.text); break;
    case PT_BINARY: v = "bin:" + p.bytes; break;
    default: v = "?"; break;
    }
    return Format("%08X=", unsigned(p.tag)) + v;
}

std::string ShowAll(const std::vector<Prop> &props) {
    std::string out;
    for (const auto &p : props) out += (out.empty() ? "" : " ") + Show(p);
    return out;
}

class RecStream final : public PropStream {
  public:
    RecStream(SendLog &log, std::string name) : log_(log), name_(std::move(name)) {}
    HRESULT Write(const void *data, size_t size) override {
        log_.written[name_].append(static_cast<const char *>(data), size);
        return log_.Record(name_ + ".Write " + std::to_string(size));
    }
    HRESULT CopyFrom(IStream *source) override {
        std::string bytes = testsupport::BytesOf(source);
        log_.written[name_] += bytes;
        return log_.Record(name_ + ".CopyFrom " + std::to_string(bytes.size()));
    }
    HRESULT Commit() override { return log_.Record(name_ + ".Commit"); }

  private:
    SendLog &log_;
    std::string name_;
};

class RecProp {
  public:
    RecProp(SendLog &log, std::string name) : log_(log), name_(std::move(name)) {}
    HRESULT DoSet(const std::vector<Prop> &values) {
        if (log_.narrowOnly)
            for (const auto &p : values)
                if (TypeOf(p.tag) == PT_UNICODE) {
                    log_.calls.push_back(name_ + ".SetProps refused " + ShowAll(values));
                    return MAPI_E_BAD_CHARWIDTH;
                }
        return log_.Record(name_ + ".SetProps " + ShowAll(values));
    }
    HRESULT DoOpen(uint32_t tag, uint32_t options, uint32_t flags, std::unique_ptr<PropStream> &stream) {
        std::string s = "S" + std::to_string(++log_.streams);
        HRESULT hr = log_.Record(Format("%s.OpenProperty %08X %x %x ", name_.c_str(), unsigned(tag), unsigned(options),
                                        unsigned(flags)) + s);
        if (SUCCEEDED(hr)) stream = std::make_unique<RecStream>(log_, s);
        return hr;
    }

  protected:
    SendLog &log_;
    std::string name_;
};

class RecAttach final : public Attach, RecProp {
  public:
    using RecProp::RecProp;
    HRESULT GetProps(const std::vector<uint32_t> &, std::vector<Prop> &) override { return E_NOTIMPL; }
    HRESULT SetProps(const std::vector<Prop> &v) override { return DoSet(v); }
    HRESULT OpenProperty(uint32_t t, uint32_t o, uint32_t f, std::unique_ptr<PropStream> &s) override {
        return DoOpen(t, o, f, s);
    }
    HRESULT SaveChanges(uint32_t flags) override { return log_.Record(name_ + ".SaveChanges " + std::to_string(flags)); }
};

class RecMessage final : public Message, RecProp {
  public:
    using RecProp::RecProp;
    HRESULT GetProps(const std::vector<uint32_t> &, std::vector<Prop> &) override { return E_NOTIMPL; }
    HRESULT SetProps(const std::vector<Prop> &v) override { return DoSet(v); }
    HRESULT OpenProperty(uint32_t t, uint32_t o, uint32_t f, std::unique_ptr<PropStream> &s) override {
        return DoOpen(t, o, f, s);
    }
    HRESULT SaveChanges(uint32_t flags) override { return log_.Record("Msg.SaveChanges " + std::to_string(flags)); }
    HRESULT ModifyRecipients(uint32_t flags, AdrList &list) override {
        std::string line = "Msg.ModifyRecipients " + std::to_string(flags);
        for (const auto &row : list.Rows()) line += " [" + ShowAll(row) + "]";
        return log_.Record(line);
    }
    HRESULT CreateAttach(std::unique_ptr<Attach> &attach) override {
        std::string a = "A" + std::to_string(++log_.attaches);
        HRESULT hr = log_.Record("Msg.CreateAttach " + a);
        if (SUCCEEDED(hr)) attach = std::make_unique<RecAttach>(log_, a);
        return hr;
    }
    HRESULT SubmitMessage(uint32_t flags) override {
        log_.calls.push_back("Msg.SubmitMessage " + std::to_string(flags));
        HRESULT hr = log_.submits.front();
        if (log_.submits.size() > 1) log_.submits.erase(log_.submits.begin());
        return hr;
    }
};

class RecFolder final : public Folder {
  public:
    explicit RecFolder(SendLog &log) : log_(log) {}
    HRESULT CreateMessage(std::unique_ptr<Message> &m) override {
        HRESULT hr = log_.Record("Outbox.CreateMessage");
        if (SUCCEEDED(hr)) m = std::make_unique<RecMessage>(log_, "Msg");
        return hr;
    }

  private:
    SendLog &log_;
};

class RecBook final : public AddrBook {
  public:
    explicit RecBook(SendLog &log) : log_(log) {}
    HRESULT CreateOneOff(const WString &name, const WString &type, const WString &address, uint32_t flags,
                         std::string &entryId) override {
        entryId = "EID:" + Narrow(address);
        return log_.Record(Format("Book.CreateOneOff %s|%s|%s|%x", Narrow(name).c_str(), Narrow(type).c_str(),
                                  Narrow(address).c_str(), unsigned(flags)));
    }
    HRESULT ResolveName(AdrList &list) override {
        return log_.Record("Book.ResolveName " + std::to_string(list.Rows().size()));
    }

  private:
    SendLog &log_;
};

class RecStore final : public MapiProp {
  public:
    explicit RecStore(SendLog &log) : log_(log) {}
    HRESULT GetProps(const std::vector<uint32_t> &tags, std::vector<Prop> &values) override {
        HRESULT hr = log_.Record(Format("Store.GetProps %08X", unsigned(tags[0])));
        if (FAILED(hr)) return hr;
        Prop p;
        p.tag = tags[0];
        p.bytes = IdOf(tags[0]) == ID_IPM_OUTBOX_ENTRYID ? "OUTBOX" : "SENT";
        values = {p};
        return S_OK;
    }
    HRESULT SetProps(const std::vector<Prop> &) override { return E_NOTIMPL; }
    HRESULT OpenProperty(uint32_t, uint32_t, uint32_t, std::unique_ptr<PropStream> &) override { return E_NOTIMPL; }
    HRESULT SaveChanges(uint32_t) override { return E_NOTIMPL; }

  private:
    SendLog &log_;
};

struct RecList final : AdrList {
    explicit RecList(std::vector<std::vector<Prop>> r) : rows(std::move(r)) {}
    std::vector<std::vector<Prop>> rows;
    std::vector<std::vector<Prop>> Rows() const override { return rows; }
};

class RecSite final : public SendSite {
  public:
    explicit RecSite(SendLog &log) : log_(log), store_(log) {}
    HRESULT AllocateAdrList(const std::vector<std::vector<Prop>> &rows, std::unique_ptr<AdrList> &list) override {
        list = std::make_unique<RecList>(rows);
        return log_.Record("AllocateAdrList " + std::to_string(rows.size()));
    }
    HRESULT OpenStreamOnFile(const String &path, IStream **stream) override {
        HRESULT hr = log_.Record("OpenStreamOnFile " + path);
        auto file = log_.files.find(path);
        if (file == log_.files.end()) return MAPI_E_NOT_FOUND;
        if (SUCCEEDED(hr)) *stream = testsupport::StreamOf(file->second);
        return hr;
    }
    MapiProp &Store() override { return store_; }
    HRESULT OpenFolder(const std::string &id, std::unique_ptr<Folder> &folder) override {
        HRESULT hr = log_.Record("OpenFolder " + id);
        if (SUCCEEDED(hr)) folder = std::make_unique<RecFolder>(log_);
        return hr;
    }
    HRESULT OpenAddressBook(std::unique_ptr<AddrBook> &book) override {
        HRESULT hr = log_.Record("OpenAddressBook");
        if (SUCCEEDED(hr)) book = std::make_unique<RecBook>(log_);
        return hr;
    }
    HRESULT WrapCompressedRTFStream(PropStream &, uint32_t flags, std::unique_ptr<PropStream> &rtf) override {
        std::string s = "S" + std::to_string(++log_.streams);
        HRESULT hr = log_.Record(Format("Wrap %x ", unsigned(flags)) + s);
        if (SUCCEEDED(hr)) rtf = std::make_unique<RecStream>(log_, s);
        return hr;
    }
    HRESULT RTFSync(Message &, uint32_t flags) override { return log_.Record("RTFSync " + std::to_string(flags)); }

  private:
    SendLog &log_;
    RecStore store_;
};

// A mail of the connection, filled as a host would.
struct Mail {
    clsXMAPIMailConnection *c;
    IKvMail *mail = nullptr;
    clsMail *m = nullptr;
    Mail() : c(new clsXMAPIMailConnection(true, nullptr)) {
        c->AddRef();
        // No subsystem: the mask of a mail is given here.
        m = new clsMail(c, "", 65001, 7);
        m->AddRef();
        mail = m;
        m->SetSubjectText("Betreff");
    }
    ~Mail() {
        m->Release();
        c->Release();
    }
    void Body(const char *type, const std::string &text) {
        IKvMailBody *body = nullptr;
        ASSERT_EQ(m->Bodies().CreateAndAdd(&body, IString(type), 65001), S_OK);
        IStream *s = nullptr;
        CreateStreamOnHGlobal(nullptr, TRUE, &s);
        ULONG w = 0;
        s->Write(text.data(), ULONG(text.size()), &w);
        body->SetContents(s);
        s->Release();
        body->Release();
    }
    // Without bytes: the attachment is the file of that name.
    void Attachment(const std::string &name, const std::string &bytes) {
        IKvMailAttachment *a = nullptr;
        ASSERT_EQ(m->Attachments().CreateAndAdd(&a), S_OK);
        auto *ours = static_cast<clsMailAttachment *>(a);
        ours->SetNameText(name);
        if (!bytes.empty()) {
            clsAutoRelease<IStream> s(testsupport::StreamOf(bytes));
            ours->SetContentsStream(s.get());
        }
        a->Release();
    }
};

TEST(XmapiSend, APlainMailInAUnicodeStore) {
    SendLog log;
    RecSite site(log);
    Mail t;
    t.m->To() = {"\"Bob B\" <bob@example.org>", "/O=Org/OU=Site/CN=carl"};
    t.m->CC() = {"dora@example.org"};
    t.m->BCC() = {"Smith, Eve"};
    t.Body("text/plain", "Hallo \xC3\xA4");
    t.Attachment("C:\\docs\\report.pdf", "PDF");
    XmapiSendMail(site, STORE_CREATE_OK | STORE_UNICODE_OK, *t.m, true);
    const std::vector<std::string> expected = {
        "Store.GetProps 35E20102",
        "OpenFolder OUTBOX",
        "Outbox.CreateMessage",
        "Msg.SetProps 3FDE0003=l:65001",
        "OpenAddressBook",
        "Book.CreateOneOff Bob B|SMTP|bob@example.org|10000",
        "Book.CreateOneOff /O=Org/OU=Site/CN=carl|X500|/O=Org/OU=Site/CN=carl|10000",
        "Book.CreateOneOff dora@example.org|SMTP|dora@example.org|10000",
        "Book.CreateOneOff Smith, Eve|COMPUSERVE|Smith, Eve|10000",
        "AllocateAdrList 4",
        "Book.ResolveName 4",
        "Msg.ModifyRecipients 2"
        " [3001001F=u:Bob B 3002001F=u:SMTP 3003001F=u:bob@example.org 0C150003=l:1 0FFF0102=bin:EID:bob@example.org]"
        " [3001001F=u:/O=Org/OU=Site/CN=carl 3002001F=u:X500 3003001F=u:/O=Org/OU=Site/CN=carl 0C150003=l:1 0FFF0102=bin:EID:/O=Org/OU=Site/CN=carl]"
        " [3001001F=u:dora@example.org 3002001F=u:SMTP 3003001F=u:dora@example.org 0C150003=l:2 0FFF0102=bin:EID:dora@example.org]"
        " [3001001F=u:Smith, Eve 3002001F=u:COMPUSERVE 3003001F=u:Smith, Eve 0C150003=l:3 0FFF0102=bin:EID:Smith, Eve]",
        "Msg.SetProps 0037001F=u:Betreff",
        "Msg.OpenProperty 1000001F 1001 3 S1",
        "S1.Write 14",
        "S1.Commit",
        "Msg.SetProps 001A001F=u:IPM.Note",
        "Msg.CreateAttach A1",
        "A1.SetProps 37050003=l:1 370B0003=l:-1 3704001F=u:report.pdf 3707001F=u:report.pdf 3703001F=u:.pdf "
        "3712001F=u: 37140003=l:0",
        "A1.OpenProperty 37010102 1001 3 S2",
        "S2.CopyFrom 3",
        "S2.Commit",
        "A1.SaveChanges 4",
        "Msg.SetProps 0E01000B=bool:1",
        "Store.GetProps 35E40102",
        "Msg.SetProps 0E0A0102=bin:SENT",
        "Msg.SubmitMessage 0",
    };
    EXPECT_EQ(log.calls, expected);
    EXPECT_EQ(log.written["S1"], std::string("H\0a\0l\0l\0o\0 \0\xE4\0", 14)) << "UTF-16 for a Unicode store";
}

TEST(XmapiSend, A8BitStoreGetsEveryStringIn8BitForm) {
    SendLog log;
    RecSite site(log);
    Mail t;
    t.m->To() = {"bob@example.org"};
    t.Body("text/plain", "x");
    XmapiSendMail(site, STORE_CREATE_OK, *t.m, false);
    for (const auto &line : log.calls)
        EXPECT_EQ(line.find("001F="), std::string::npos) << line;
    EXPECT_EQ(log.With("Msg.SetProps 0037"), std::vector<std::string>{"Msg.SetProps 0037001E=a:Betreff"});
    EXPECT_EQ(log.With("Msg.OpenProperty 1000"), std::vector<std::string>{"Msg.OpenProperty 1000001E 1001 3 S1"});
    EXPECT_EQ(log.With("Msg.SetProps 0E01"), std::vector<std::string>{"Msg.SetProps 0E01000B=bool:0"});
}

// A subject is kept in the mail's code page; the store gets it wide, or in the
// system's 8-bit code page (UTF-8 here).
TEST(XmapiSend, TextsAreConvertedFromTheirCodePage) {
    struct Case {
        bool unicode;
        uint32_t codepage;
        std::string text;
        uint32_t tag;
        WString wide;
        std::string narrow;
    } cases[] = {
        {true, 1252, "\xE4", Tag(ID_SUBJECT, PT_UNICODE), u"\u00e4", ""},
        {true, 65001, "\xC3\xA4", Tag(ID_SUBJECT, PT_UNICODE), u"\u00e4", ""},
        {false, 1252, "\xE4", Tag(ID_SUBJECT, PT_STRING8), u"", "\xC3\xA4"},
        {false, 0, "\xC3\xA4", Tag(ID_SUBJECT, PT_STRING8), u"", "\xC3\xA4"},
    };
    for (const Case &c : cases) {
        Prop p = clsXMAPIProps(c.unicode).Text(ID_SUBJECT, c.text, c.codepage);
        EXPECT_EQ(p.tag, c.tag) << c.codepage;
        EXPECT_EQ(p.text, c.wide) << c.codepage;
        EXPECT_EQ(p.text8, c.narrow) << c.codepage;
    }
}

TEST(XmapiSend, RefusedWideStringsAreWrittenAgainIn8Bit) {
    SendLog log;
    log.narrowOnly = true;
    RecSite site(log);
    Mail t;
    XmapiSendMail(site, STORE_CREATE_OK | STORE_UNICODE_OK, *t.m, false);
    EXPECT_EQ(log.With("Msg.SetProps 0037"), std::vector<std::string>{"Msg.SetProps 0037001E=a:Betreff"});
    EXPECT_EQ(log.With("Msg.SetProps refused 0037"), std::vector<std::string>{"Msg.SetProps refused 0037001F=u:Betreff"});
    EXPECT_TRUE(log.With("Book.").empty()) << "no recipient, no resolving";
}

TEST(XmapiSend, HtmlAndRtfBodies) {
    SendLog log;
    RecSite site(log);
    Mail t;
    t.Body("text/HTML", "<p>Hi</p>");
    t.Body("application/RTF", "{\\rtf1 Hi}");
    XmapiSendMail(site, STORE_CREATE_OK, *t.m, false);
    EXPECT_EQ(log.With("Msg.OpenProperty"),
              (std::vector<std::string>{"Msg.OpenProperty 1013001E 1001 3 S1", "Msg.OpenProperty 10090102 1001 3 S2",
                                        "Msg.OpenProperty 10090102 1001 3 S4"}));
    EXPECT_EQ(log.written["S1"], "<p>Hi</p>");
    EXPECT_EQ(log.written["S3"], "{\\rtf1\\ansi\\ansicpg65001\\fromhtml1 {\\*\\htmltag1 <p>Hi</p> }}");
    EXPECT_EQ(log.written["S5"], "{\\rtf1 Hi}");
    EXPECT_EQ(log.With("Wrap"), (std::vector<std::string>{"Wrap 1 S3", "Wrap 1 S5"}));
    EXPECT_EQ(log.With("RTFSync"), std::vector<std::string>{"RTFSync 1"}) << "a store without STORE_RTF_OK";

    SendLog aware;
    RecSite site2(aware);
    XmapiSendMail(site2, STORE_CREATE_OK | STORE_RTF_OK, *t.m, false);
    EXPECT_TRUE(aware.With("RTFSync").empty());
}

TEST(XmapiSend, SubmitRetriesAfterAChangedObjectAndReportsAFinalFailure) {
    {
        SendLog log;
        log.submits = {MAPI_E_OBJECT_CHANGED, S_OK};
        RecSite site(log);
        Mail t;
        XmapiSendMail(site, STORE_CREATE_OK, *t.m, false);
        std::vector<std::string> tail(log.calls.end() - 4, log.calls.end());
        EXPECT_EQ(tail, (std::vector<std::string>{"Msg.SubmitMessage 0", "Msg.SetProps 0037001E=a:Betreff",
                                                  "Msg.SaveChanges 6", "Msg.SubmitMessage 0"}));
    }
    struct Case {
        std::vector<HRESULT> submits;
        std::string failing;
        String text;
    } cases[] = {
        {{MAPI_E_CORRUPT_DATA, E_FAIL}, "", "IMessage::SubmitMessage() failed: '" + HResultText(E_FAIL) + "'"},
        {{E_ACCESSDENIED}, "", "IMessage::SubmitMessage() failed: '" + HResultText(E_ACCESSDENIED) + "'"},
        {{MAPI_E_CORRUPT_DATA}, "Msg.SaveChanges",
         "IMessage::SaveChanges(FORCE_SAVE) failed: '" + HResultText(E_FAIL) + "'"},
        {{S_OK}, "Store.GetProps 35E2", "No outbox message store found: '" + HResultText(E_FAIL) + "'"},
        {{S_OK}, "OpenFolder", "Outbox message store can not be opened: '" + HResultText(E_FAIL) + "'"},
        {{S_OK}, "Outbox.CreateMessage", "IMAPIFolder::CreateMessage() failed: '" + HResultText(E_FAIL) + "'"},
        {{S_OK}, "OpenAddressBook", "IMAPISession::OpenAddressBook() failed: '" + HResultText(E_FAIL) + "'"},
        {{S_OK}, "AllocateAdrList", "MAPIAllocateBuffer() failed: '" + HResultText(E_FAIL) + "'"},
        {{S_OK}, "Book.ResolveName", "IAddressBook::ResolveName() failed: '" + HResultText(E_FAIL) + "'"},
        {{S_OK}, "Msg.ModifyRecipients", "IMessage::ModifyRecipients() failed: '" + HResultText(E_FAIL) + "'"},
        {{S_OK}, "Msg.CreateAttach", "IMessage::CreateAttach() failed: '" + HResultText(E_FAIL) + "'"},
        {{S_OK}, "OpenStreamOnFile", "opening attachment (a.txt) failed: '" + HResultText(E_FAIL) + "'"},
        {{S_OK}, "A1.OpenProperty", "IAttachment::OpenProperty() failed: '" + HResultText(E_FAIL) + "'"},
        {{S_OK}, "S1.CopyFrom", "IStream::CopyTo() failed: '" + HResultText(E_FAIL) + "'"},
        {{S_OK}, "S1.Commit", "IStream::Commit() failed: '" + HResultText(E_FAIL) + "'"},
        {{S_OK}, "A1.SaveChanges", "IAttach::SaveChanges(FORCE_SAVE) failed: '" + HResultText(E_FAIL) + "'"},
        {{S_OK}, "Store.GetProps 35E4",
         "IMessage::GetProps(PR_IPM_SENTMAIL_ENTRYID) failed: '" + HResultText(E_FAIL) + "'"},
        {{S_OK}, "Msg.SetProps 0E0A",
         "IMessage::SetProps(PR_SENTMAIL_ENTRYID) failed: '" + HResultText(E_FAIL) + "'"},
        {{S_OK}, "Msg.SetProps 0037", "SetProps(0x0037001e) failed: '" + HResultText(E_FAIL) + "'"},
    };
    for (const auto &k : cases) {
        SendLog log;
        log.submits = k.submits;
        if (!k.failing.empty()) log.failures[k.failing] = E_FAIL;
        RecSite site(log);
        Mail t;
        t.m->To() = {"bob@example.org"};
        log.files["a.txt"] = "x";
        t.Attachment("a.txt", "");
        try {
            XmapiSendMail(site, STORE_CREATE_OK, *t.m, false);
            ADD_FAILURE() << "no exception: " << k.text;
        } catch (const clsExcept &e) {
            EXPECT_EQ(e.Code(), -5);
            EXPECT_EQ(e.Messages().front(), k.text);
        }
    }
}

TEST(XmapiSend, UnknownBodyTypesAndWildcardNames) {
    {
        SendLog log;
        RecSite site(log);
        Mail t;
        t.Body("text/enriched", "x");
        try {
            XmapiSendMail(site, STORE_CREATE_OK, *t.m, false);
            ADD_FAILURE() << "no exception";
        } catch (const clsExcept &e) {
            EXPECT_EQ(e.Messages().front(), "unknown body type 'text/enriched'");
        }
        EXPECT_TRUE(log.With("Msg.SubmitMessage").empty());
    }
    {
        SendLog log;
        RecSite site(log);
        Mail t;
        t.Attachment("*", "a");
        t.Attachment("", "b");
        XmapiSendMail(site, STORE_CREATE_OK, *t.m, false);
        auto sets = log.With("A");
        ASSERT_GE(sets.size(), 2u);
        EXPECT_NE(log.With("A1.SetProps")[0].find("3704001E=a:ATT00001 "), std::string::npos);
        EXPECT_NE(log.With("A2.SetProps")[0].find("3704001E=a:ATT00002 "), std::string::npos);
    }
}

} // namespace
} // namespace kv

namespace kv {
namespace {

// A received message and the inbox that holds it.
struct Stored {
    std::string entryId;
    std::vector<Prop> props;
    std::vector<std::vector<Prop>> recipients;
    std::vector<std::pair<std::vector<Prop>, std::string>> attachments;
    int32_t flags = 0;
};

Prop S8(uint32_t id, const std::string &text) {
    Prop p;
    p.tag = Tag(id, PT_STRING8);
    p.text8 = text;
    return p;
}
Prop L(uint32_t id, int32_t n) {
    Prop p;
    p.tag = Tag(id, PT_LONG);
    p.number = n;
    return p;
}

class StoredMessage final : public ReadMessage {
  public:
    StoredMessage(SendLog &log, const Stored &m) : log_(log), m_(m) {}
    HRESULT GetProps(const std::vector<uint32_t> &tags, std::vector<Prop> &values) override {
        for (const Prop &p : m_.props)
            if (p.tag == tags[0]) {
                values = {p};
                return S_OK;
            }
        Prop err;
        err.tag = Tag(IdOf(tags[0]), PT_ERROR);
        err.number = int32_t(0x8004010F);
        values = {err};
        return MAPI_W_ERRORS_RETURNED;
    }
    HRESULT SetProps(const std::vector<Prop> &) override { return E_NOTIMPL; }
    HRESULT OpenProperty(uint32_t, uint32_t, uint32_t, std::unique_ptr<PropStream> &) override { return E_NOTIMPL; }
    HRESULT SaveChanges(uint32_t) override { return E_NOTIMPL; }
    HRESULT RecipientRows(std::vector<std::vector<Prop>> &rows) override {
        rows = m_.recipients;
        return S_OK;
    }
    HRESULT AttachmentRows(std::vector<std::vector<Prop>> &rows) override {
        for (const auto &a : m_.attachments) rows.push_back(a.first);
        return S_OK;
    }
    HRESULT AttachmentData(int32_t number, std::string &bytes) override {
        bytes = m_.attachments.at(size_t(number)).second;
        return log_.Record("AttachmentData " + std::to_string(number));
    }
    HRESULT SetReadFlag(uint32_t flags) override { return log_.Record("SetReadFlag " + EntryIdText(m_.entryId)); }

  private:
    SendLog &log_;
    const Stored &m_;
};

class StoredInbox final : public Inbox {
  public:
    StoredInbox(SendLog &log, const std::vector<Stored> &messages) : log_(log), messages_(messages) {}
    HRESULT ContentsRows(std::vector<std::vector<Prop>> &rows) override {
        HRESULT hr = log_.Record("Inbox.ContentsRows");
        for (const Stored &m : messages_) {
            Prop id;
            id.tag = Tag(ID_ENTRYID, PT_BINARY);
            id.bytes = m.entryId;
            rows.push_back({S8(ID_SENT_REPRESENTING_NAME, "x"), S8(ID_SUBJECT, "s"), id, L(ID_MESSAGE_FLAGS, m.flags)});
        }
        return hr;
    }
    HRESULT OpenMessage(const std::string &entryId, std::unique_ptr<ReadMessage> &message) override {
        HRESULT hr = log_.Record("Inbox.OpenMessage " + EntryIdText(entryId));
        if (FAILED(hr)) return hr;
        for (const Stored &m : messages_)
            if (m.entryId == entryId) {
                message = std::make_unique<StoredMessage>(log_, m);
                return S_OK;
            }
        return HRESULT(0x8004010F);
    }
    HRESULT DeleteMessage(const std::string &entryId) override {
        return log_.Record("Inbox.DeleteMessage " + EntryIdText(entryId));
    }

  private:
    SendLog &log_;
    const std::vector<Stored> &messages_;
};

// The address book of a read with the root's hierarchy and a global list:
// book, containers and tables in one class, each call recorded under the
// name of what it was made on.
struct Gal {
    std::vector<std::vector<Prop>> hierarchy, entries;
};

class GalPart final : public AddrBook, public AbContainer, public AbTable {
  public:
    GalPart(SendLog &log, const Gal &gal, std::string name, const std::vector<std::vector<Prop>> *rows = nullptr)
        : log_(log), gal_(gal), name_(std::move(name)), rows_(rows) {}
    HRESULT CreateOneOff(const WString &, const WString &, const WString &, uint32_t, std::string &) override {
        return E_NOTIMPL;
    }
    HRESULT ResolveName(AdrList &) override { return E_NOTIMPL; }
    HRESULT OpenEntry(const std::string &id, std::unique_ptr<AbContainer> &container) override {
        container = std::make_unique<GalPart>(log_, gal_, id.empty() ? "Root" : "GAL");
        return log_.Record("Book.OpenEntry " + (id.empty() ? "root" : id));
    }
    HRESULT GetHierarchyTable(std::unique_ptr<AbTable> &t) override {
        return Table(t, "GetHierarchyTable", "Hierarchy", gal_.hierarchy);
    }
    HRESULT GetContentsTable(std::unique_ptr<AbTable> &t) override {
        return Table(t, "GetContentsTable", "Contents", gal_.entries);
    }
    HRESULT QueryAllRows(const std::vector<uint32_t> &, std::vector<std::vector<Prop>> &rows) override {
        rows = *rows_;
        return log_.Record(name_ + ".QueryAllRows");
    }

  private:
    HRESULT Table(std::unique_ptr<AbTable> &table, const char *call, const char *name,
                  const std::vector<std::vector<Prop>> &rows) {
        table = std::make_unique<GalPart>(log_, gal_, name, &rows);
        return log_.Record(name_ + "." + call);
    }
    SendLog &log_;
    const Gal &gal_;
    std::string name_;
    const std::vector<std::vector<Prop>> *rows_;
};

class ReadSite final : public SendSite {
  public:
    ReadSite(SendLog &log, const std::vector<Stored> &messages) : log_(log), store_(log), messages_(messages) {}
    Gal gal;
    MapiProp &Store() override { return store_; }
    HRESULT OpenFolder(const std::string &, std::unique_ptr<Folder> &) override { return E_NOTIMPL; }
    HRESULT OpenAddressBook(std::unique_ptr<AddrBook> &book) override {
        book = std::make_unique<GalPart>(log_, gal, "Book");
        return log_.Record("OpenAddressBook");
    }
    HRESULT WrapCompressedRTFStream(PropStream &, uint32_t, std::unique_ptr<PropStream> &) override { return E_NOTIMPL; }
    HRESULT RTFSync(Message &, uint32_t) override { return E_NOTIMPL; }
    HRESULT OpenInbox(std::unique_ptr<Inbox> &inbox) override {
        HRESULT hr = log_.Record("OpenInbox");
        if (SUCCEEDED(hr)) inbox = std::make_unique<StoredInbox>(log_, messages_);
        return hr;
    }

  private:
    SendLog &log_;
    RecStore store_;
    const std::vector<Stored> &messages_;
};

class SiteSession final : public Session {
  public:
    explicit SiteSession(SendSite &site) : site_(site) {}
    HRESULT Logoff(uintptr_t) override { return S_OK; }
    HRESULT OpenDefaultStore(uint32_t &mask) override {
        mask = STORE_CREATE_OK;
        return S_OK;
    }
    String LastErrorText(HRESULT) override { return ""; }
    SendSite *Site() override { return &site_; }

  private:
    SendSite &site_;
};

class SitePlatform final : public Platform {
  public:
    explicit SitePlatform(SendSite &site) : site_(site) {}
    bool Loaded() const override { return true; }
    bool Has(const char *) const override { return true; }
    HRESULT InitializeOle() override { return S_OK; }
    void UninitializeOle() override {}
    HRESULT Initialize(uint32_t) override { return S_OK; }
    void Uninitialize() override {}
    HRESULT LogonEx(uintptr_t, const char *, const char *, uint32_t, std::unique_ptr<Session> &s) override {
        s = std::make_unique<SiteSession>(site_);
        return S_OK;
    }
    HRESULT ProfileTable(std::vector<ProfileRow> &) override { return E_NOTIMPL; }

  private:
    SendSite &site_;
};

using testsupport::Events;

struct Inboxed {
    SendLog log;
    std::vector<Stored> messages;
    ReadSite site{log, messages};
    clsXMAPIMailConnection *c = new clsXMAPIMailConnection(false, std::make_unique<SitePlatform>(site));
    Events events;
    Inboxed() {
        c->AddRef();
        c->SetMailStateNotificationSlot(&events);
        Stored first;
        first.entryId = std::string("\x01\xAB", 2);
        first.props = {S8(ID_SENDER_NAME, "Ann"), S8(ID_SENDER_ADDRTYPE, "SMTP"),
                       S8(ID_SENDER_EMAIL_ADDRESS, "ann@example.org"), S8(ID_SUBJECT, "Hello"),
                       S8(ID_BODY, "Body text")};
        Prop time;
        time.tag = Tag(ID_CREATION_TIME, PT_SYSTIME);
        time.time = 134095296000000000ULL; // 2025-12-06 21:20:00 UTC
        first.props.push_back(time);
        first.recipients = {{S8(ID_DISPLAY_NAME, "Bob"), S8(ID_ADDRTYPE, "SMTP"), S8(ID_EMAIL_ADDRESS, "bob@example.org"),
                             L(ID_RECIPIENT_TYPE, 1)},
                            {S8(ID_DISPLAY_NAME, "Carl"), S8(ID_ADDRTYPE, "EX"), S8(ID_EMAIL_ADDRESS, "/O=Org/CN=carl"),
                             S8(ID_SMTP_ADDRESS, "carl@example.org"), L(ID_RECIPIENT_TYPE, 2)},
                            {S8(ID_DISPLAY_NAME, "Hidden"), L(ID_RECIPIENT_TYPE, 3)}};
        first.attachments = {{{L(ID_ATTACH_NUM, 0), L(ID_ATTACH_SIZE, 3), S8(ID_ATTACH_FILENAME, "a.bin")}, "ABC"}};
        Stored second;
        second.entryId = "\x02";
        second.flags = MSGFLAG_READ;
        second.props = {S8(ID_SUBJECT, "Old"), S8(ID_SENDER_ADDRTYPE, "EX"),
                        S8(ID_SENDER_EMAIL_ADDRESS, "/O=ORG/CN=EVE")};
        messages = {first, second};
        Prop global;
        global.tag = Tag(ID_ENTRYID, PT_BINARY);
        global.bytes = "GALID";
        site.gal = {{{global, L(ID_DISPLAY_TYPE, DT_GLOBAL)}},
                    {{S8(ID_EMAIL_ADDRESS, "/o=org/cn=eve"), S8(ID_SMTP_ADDRESS, "eve@example.org")}}};
    }
    ~Inboxed() {
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

TEST(XmapiRead, ListingReadsEnvelopesWithTheirEvents) {
    Inboxed t;
    ASSERT_EQ(t.c->Connect(), S_OK);
    t.events.seen.clear();
    ASSERT_EQ(t.c->QueryMailbox(0), S_OK) << testsupport::ErrorText(t.c);
    EXPECT_EQ(t.events.seen, (std::vector<std::pair<LONG, LONG>>{{10, -1}, {9, 0}, {10, 2}, {11, 1}, {11, 2}, {12, 0}}));
    ASSERT_EQ(t.c->Mails().size(), 2u);
    clsXMAPIMail *m = t.Mail(0);
    EXPECT_EQ(m->Cookie(), "01AB");
    EXPECT_EQ(m->Sender(), "\"Ann\" <SMTP:ann@example.org>");
    EXPECT_EQ(m->Subject(), "Hello");
    EXPECT_EQ(m->To(), std::vector<String>{"\"Bob\" <SMTP:bob@example.org>"});
    EXPECT_EQ(m->CC(), std::vector<String>{"\"Carl\" <EX:/O=Org/CN=carl> <SMTP:carl@example.org>"});
    ASSERT_NE(m->GeneratedHeaders().Find("Date"), nullptr);
    EXPECT_EQ(m->GeneratedHeaders().Find("Date")->Joined(), "Sat, 06 Dec 2025 21:20:00 +0000");
    EXPECT_TRUE(m->Bodies().Empty());
    EXPECT_EQ(m->State(), kMailListed);
    EXPECT_TRUE(t.log.With("SetReadFlag").empty());

    IKvEnumMailBody *bodies = nullptr;
    ASSERT_EQ(m->EnumBodies(&bodies), S_OK) << "the rest is read on first use";
    bodies->Release();
    ASSERT_EQ(m->Bodies().Size(), 1u);
    ASSERT_EQ(m->Attachments().Size(), 1u);
    EXPECT_EQ(m->Attachments()[0]->Name(), "a.bin");
    EXPECT_EQ(t.log.With("AttachmentData"), std::vector<std::string>{"AttachmentData 0"});
}

TEST(XmapiRead, UnreadOnlyMarkingDeletingAndMissingItems) {
    Inboxed t;
    SetIntOption(t.c, u"QueryUnreadMailsOnly", 1);
    SetIntOption(t.c, u"QueryMarksMailsAsRead", 1);
    ASSERT_EQ(t.c->Connect(), S_OK);
    ASSERT_EQ(t.c->QueryMailbox(1), S_OK) << testsupport::ErrorText(t.c);
    ASSERT_EQ(t.c->Mails().size(), 1u) << "a read message is left out";
    EXPECT_EQ(t.log.With("SetReadFlag"), std::vector<std::string>{"SetReadFlag 01AB"});
    EXPECT_EQ(t.Mail(0)->State(), kMailLoaded);

    EXPECT_EQ(t.c->DeleteMail(OLESTR("01AB")), S_OK);
    EXPECT_EQ(t.log.With("Inbox.DeleteMessage"), std::vector<std::string>{"Inbox.DeleteMessage 01AB"});
    EXPECT_EQ(t.Mail(0)->State(), kMailDeleted);

    EXPECT_EQ(t.c->MarkMailAsRead(OLESTR("02")), S_OK);
    EXPECT_EQ(t.log.With("SetReadFlag").back(), "SetReadFlag 02");
    EXPECT_EQ(t.c->MarkMailAsRead(OLESTR("FF")), E_FAIL);
    EXPECT_EQ(t.c->ErrorCode(), -13);
    EXPECT_EQ(t.c->ErrorMessages(),
              (std::vector<String>{"XMAPI item 'FF' not found in inbox: (error code 0x8004010f)",
                                   "[clsXMAPIMailConnection::OnMarkMailAsRead]"}));

    t.log.failures["Inbox.DeleteMessage"] = E_ACCESSDENIED;
    EXPECT_EQ(t.c->DeleteMail(OLESTR("01AB")), E_FAIL);
    EXPECT_EQ(t.c->ErrorMessages().front(),
              "XMAPI item '01AB' cannot be deleted from inbox: " + HResultText(E_ACCESSDENIED));
}

TEST(XmapiRead, InboxFailuresHaveTheirTexts) {
    struct Case {
        std::string failing;
        HRESULT result;
        int32_t code;
        String text;
    } cases[] = {
        {"OpenInbox", E_ABORT, -13, "No inbox folder found in default message store!"},
        {"Inbox.ContentsRows", E_ABORT, -13, "Cannot use inbox!"},
        {"Inbox.OpenMessage 02", E_UNEXPECTED, -13,
         "XMAPI item '02' not found in inbox: " + HResultText(E_FAIL)},
    };
    for (const auto &k : cases) {
        Inboxed t;
        t.log.failures[k.failing] = E_FAIL;
        ASSERT_EQ(t.c->Connect(), S_OK);
        t.events.seen.clear();
        EXPECT_EQ(t.c->QueryMailbox(0), k.result) << k.failing;
        EXPECT_EQ(t.c->ErrorCode(), k.code);
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
        Inboxed t;
        if (!k.failing.empty()) t.log.failures[k.failing] = k.result;
        try {
            EXPECT_EQ(XmapiGalSmtpAddresses(t.site, PT_STRING8).at("/O=ORG/CN=EVE"), "eve@example.org");
            EXPECT_EQ(k.text, "");
        } catch (const clsExcept &e) {
            EXPECT_EQ(e.Messages(), std::vector<String>{k.text});
        }
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
    EXPECT_EQ(MapiTimeText(116444736000000000ULL), "Thu, 01 Jan 1970 00:00:00 +0000");
    EXPECT_EQ(MapiTimeText(125911584000000000ULL + 864000000000ULL * 59), "Tue, 29 Feb 2000 00:00:00 +0000");
}

} // namespace
} // namespace kv

namespace kv {
namespace {

class SpoolSite final : public SendSite {
  public:
    explicit SpoolSite(SendLog &log) : log_(log), store_(log) {}
    MapiProp &Store() override { return store_; }
    HRESULT OpenFolder(const std::string &, std::unique_ptr<Folder> &) override { return E_NOTIMPL; }
    HRESULT OpenAddressBook(std::unique_ptr<AddrBook> &) override { return E_NOTIMPL; }
    HRESULT WrapCompressedRTFStream(PropStream &, uint32_t, std::unique_ptr<PropStream> &) override { return E_NOTIMPL; }
    HRESULT RTFSync(Message &, uint32_t) override { return E_NOTIMPL; }
    class Table final : public StatusTable {
      public:
        explicit Table(SpoolSite &s) : s_(s) {}
        HRESULT QueryRows(int32_t type, std::vector<std::vector<Prop>> &rows) override {
            HRESULT hr = s_.log_.Record("QueryRows " + std::to_string(type));
            if (s_.hasSpooler) {
                Prop id;
                id.tag = Tag(ID_ENTRYID, PT_BINARY);
                id.bytes = "SPOOL";
                rows.push_back({L(ID_RESOURCE_TYPE, type), id});
            }
            return hr;
        }
        SpoolSite &s_;
    };
    class Spool final : public Status {
      public:
        explicit Spool(SendLog &log) : log_(log) {}
        HRESULT FlushQueues(uint32_t flags) override { return log_.Record(Format("FlushQueues %x", unsigned(flags))); }
        SendLog &log_;
    };
    HRESULT GetStatusTable(std::unique_ptr<StatusTable> &table) override {
        HRESULT hr = log_.Record("GetStatusTable");
        if (SUCCEEDED(hr)) table = std::make_unique<Table>(*this);
        return hr;
    }
    HRESULT OpenStatus(const std::string &id, uint32_t &type, std::unique_ptr<Status> &status) override {
        HRESULT hr = log_.Record("OpenStatus " + id);
        type = statusType;
        if (SUCCEEDED(hr)) status = std::make_unique<Spool>(log_);
        return hr;
    }
    SendLog &log_;
    RecStore store_;
    bool hasSpooler = true;
    uint32_t statusType = MAPI_STATUS;
};

TEST(XmapiSpooler, DisconnectFlushesTheSpoolerThenLogsOff) {
    SendLog log;
    SpoolSite site(log);
    auto *c = new clsXMAPIMailConnection(true, std::make_unique<SitePlatform>(site));
    c->AddRef();
    ASSERT_EQ(c->Connect(), S_OK);
    EXPECT_EQ(c->Disconnect(), S_OK);
    EXPECT_EQ(log.calls, (std::vector<std::string>{"GetStatusTable", "QueryRows 37", "OpenStatus SPOOL", "FlushQueues 32"}));
    EXPECT_FALSE(c->Session().LoggedOn());
    c->Release();
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
        {"QueryRows", E_NOTIMPL, true, MAPI_STATUS, "HrQueryAllRows() failed: '" + ni + "'"},
        {"", S_OK, false, MAPI_STATUS, "MAPI_SPOOLER not found"},
        {"OpenStatus", E_FAIL, true, MAPI_STATUS,
         "MAPI_SPOOLER can not be opened due to a known MAPI bug. Ignore the error."},
        {"OpenStatus", E_NOTIMPL, true, MAPI_STATUS, "MAPI_SPOOLER can not be opened (1): '" + ni + "'"},
        {"", S_OK, true, 3, "MAPI_SPOOLER can not be opened (2): no STATUS resource"},
    };
    for (const auto &k : cases) {
        SendLog log;
        if (!k.failing.empty()) log.failures[k.failing] = k.result;
        SpoolSite site(log);
        site.hasSpooler = k.hasSpooler;
        site.statusType = k.type;
        clsXMAPI x(std::make_unique<SitePlatform>(site), false);
        x.Logon("", "", true);
        try {
            x.FlushSpooler();
            ADD_FAILURE() << "no exception: " << k.text;
        } catch (const clsExcept &e) {
            EXPECT_EQ(e.Code(), -5);
            EXPECT_EQ(e.Messages().front(), "Status interface not found: '" + k.text + "'");
        }
        EXPECT_TRUE(log.With("FlushQueues").empty());
    }
    SendLog busy;
    busy.failures["FlushQueues"] = MAPI_E_BUSY;
    SpoolSite site(busy);
    clsXMAPI x(std::make_unique<SitePlatform>(site), false);
    x.Logon("", "", true);
    EXPECT_NO_THROW(x.FlushSpooler()) << "a busy spooler is no failure";
}

} // namespace
} // namespace kv

// An Extended MAPI send against recording store, folder, message, attachment
// and address-book objects: every property written, in order, with its type
// by the store's Unicode bit, the recipients, the bodies and the submit.
#include <gtest/gtest.h>

#include <map>

#include "fake_mail.h"
#include "mail/mail.h"
#include "pal/system.h"
#include "providers/xmapi/xmapi_connection.h"
#include "providers/xmapi/xmapi_send.h"

namespace kv {
namespace {

using namespace xmapi;

struct SendLog {
    std::vector<std::string> calls;
    std::map<std::string, HRESULT> failures; // by log-line prefix
    std::vector<HRESULT> submits{S_OK};
    bool narrowOnly = false; // objects refuse wide strings
    int attaches = 0, streams = 0;
    std::map<std::string, std::string> written; // stream name -> bytes

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
    HRESULT ModifyRecipients(uint32_t flags, const std::vector<std::vector<Prop>> &rows) override {
        std::string line = "Msg.ModifyRecipients " + std::to_string(flags);
        for (const auto &row : rows) line += " [" + ShowAll(row) + "]";
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
    HRESULT ResolveName(std::vector<std::vector<Prop>> &rows) override {
        return log_.Record("Book.ResolveName " + std::to_string(rows.size()));
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

class RecSite final : public SendSite {
  public:
    explicit RecSite(SendLog &log) : log_(log), store_(log) {}
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
    void Attachment(const std::string &name, const std::string &bytes) {
        IKvMailAttachment *a = nullptr;
        ASSERT_EQ(m->Attachments().CreateAndAdd(&a), S_OK);
        auto *ours = static_cast<clsMailAttachment *>(a);
        ours->SetNameText(name);
        IStream *s = nullptr;
        CreateStreamOnHGlobal(nullptr, TRUE, &s);
        ULONG w = 0;
        s->Write(bytes.data(), ULONG(bytes.size()), &w);
        ours->SetContentsStream(s);
        s->Release();
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
        "S2.Write 3",
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
        {{MAPI_E_CORRUPT_DATA, E_FAIL}, "", "IMessage::SubmitMessage() failed: '" + pal::SystemMessageText(E_FAIL) + "'"},
        {{E_ACCESSDENIED}, "", "IMessage::SubmitMessage() failed: '" + pal::SystemMessageText(E_ACCESSDENIED) + "'"},
        {{MAPI_E_CORRUPT_DATA}, "Msg.SaveChanges",
         "IMessage::SaveChanges(FORCE_SAVE) failed: '" + pal::SystemMessageText(E_FAIL) + "'"},
        {{S_OK}, "Store.GetProps 35E2", "No outbox message store found: '" + pal::SystemMessageText(E_FAIL) + "'"},
        {{S_OK}, "OpenFolder", "Outbox message store can not be opened: '" + pal::SystemMessageText(E_FAIL) + "'"},
        {{S_OK}, "Outbox.CreateMessage", "IMAPIFolder::CreateMessage() failed: '" + pal::SystemMessageText(E_FAIL) + "'"},
        {{S_OK}, "OpenAddressBook", "IMAPISession::OpenAddressBook() failed: '" + pal::SystemMessageText(E_FAIL) + "'"},
        {{S_OK}, "Book.ResolveName", "IAddressBook::ResolveName() failed: '" + pal::SystemMessageText(E_FAIL) + "'"},
        {{S_OK}, "Msg.ModifyRecipients", "IMessage::ModifyRecipients() failed: '" + pal::SystemMessageText(E_FAIL) + "'"},
        {{S_OK}, "Msg.CreateAttach", "IMessage::CreateAttach() failed: '" + pal::SystemMessageText(E_FAIL) + "'"},
        {{S_OK}, "A1.SaveChanges", "IAttach::SaveChanges(FORCE_SAVE) failed: '" + pal::SystemMessageText(E_FAIL) + "'"},
        {{S_OK}, "Store.GetProps 35E4",
         "IMessage::GetProps(PR_IPM_SENTMAIL_ENTRYID) failed: '" + pal::SystemMessageText(E_FAIL) + "'"},
        {{S_OK}, "Msg.SetProps 0E0A",
         "IMessage::SetProps(PR_SENTMAIL_ENTRYID) failed: '" + pal::SystemMessageText(E_FAIL) + "'"},
        {{S_OK}, "Msg.SetProps 0037", "SetProps(0x0037001e) failed: '" + pal::SystemMessageText(E_FAIL) + "'"},
    };
    for (const auto &k : cases) {
        SendLog log;
        log.submits = k.submits;
        if (!k.failing.empty()) log.failures[k.failing] = E_FAIL;
        RecSite site(log);
        Mail t;
        t.m->To() = {"bob@example.org"};
        t.Attachment("a.txt", "x");
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

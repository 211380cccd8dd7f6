// Mails built through the COM interface, rendered by GetRawText and parsed by
// Python's email package (policy default): decoded headers, MIME tree and
// the decoded bytes of every part must be what was put in.
#include <gtest/gtest.h>

#include <functional>
#include <tuple>
#include <utility>
#include <vector>

#include "interop_util.h"
#include "mail/arpa_mail.h"
#include "orkv14.hpp"
#include "providers/smtp/smtp_connection.h"
#include "runtime/com_util.h"
#include "runtime/module_state.h"

namespace kv {
namespace {

using interop::Hex;
using interop::Json;

std::string Utf8(std::u16string_view text) { return Narrow(text, 65001); }

using orkv14::Bstr;
using orkv14::MemoryStream;

// What one leaf part must look like in Python's view.
struct Part {
    std::string type, bytes;
    const char *filename = nullptr; // UTF-8
    std::string charset;            // empty: not checked
    std::string cid;                // empty: none
    std::string text;               // decoded text (UTF-8), checked when not empty
};

struct Expected {
    std::string subject; // UTF-8
    std::vector<std::pair<std::string, std::string>> from, to, cc;
    std::string tree;
    std::vector<Part> parts;
};

std::string ToJson(const Expected &e) {
    auto addresses = [](const std::vector<std::pair<std::string, std::string>> &list) {
        std::string out = "[";
        for (const auto &a : list) out += (out.size() > 1 ? "," : "") + ("[" + Json(a.first) + "," + Json(a.second) + "]");
        return out + "]";
    };
    std::string out = "{\"subject\":" + Json(e.subject) + ",\"from\":" + addresses(e.from) + ",\"to\":" +
                      addresses(e.to) + ",\"cc\":" + addresses(e.cc) + ",\"tree\":" + Json(e.tree) + ",\"parts\":[";
    for (size_t i = 0; i < e.parts.size(); ++i) {
        const Part &p = e.parts[i];
        out += i ? "," : "";
        out += "{\"type\":" + Json(p.type) + ",\"hex\":" + Json(Hex(p.bytes));
        out += ",\"filename\":" + (p.filename ? Json(p.filename) : std::string("null"));
        if (!p.charset.empty()) out += ",\"charset\":" + Json(p.charset);
        out += ",\"cid\":" + (p.cid.empty() ? std::string("null") : Json(p.cid));
        if (!p.text.empty()) out += ",\"text\":" + Json(p.text);
        out += "}";
    }
    return out + "]}";
}

class WriterInterop : public ::testing::Test {
  protected:
    void SetUp() override {
        KV_NEED_PEER(testsupport::Executable("/usr/bin/python3"), "python3");
        baseline_ = ModuleRefCount();
        connection_ = new clsSMTPMailConnection();
        connection_->AddRef();
        dir_ = interop::MakeDir("kv_writer_interop");
    }
    void TearDown() override {
        connection_->Release();
        EXPECT_EQ(ModuleRefCount(), baseline_);
        std::string output;
        interop::Run("rm -rf '" + dir_ + "'", output);
    }

    clsAutoRelease<IKvMail2> NewMail(ULONG codepage, std::u16string_view to = u"to@example.com") {
        clsAutoRelease<IKvMail> m;
        EXPECT_EQ(connection_->CreateMail(LONG(codepage), u"interop", m.put()), S_OK);
        clsAutoRelease<IKvMail2> m2;
        EXPECT_EQ(m->QueryInterface(IID_IKvMail2, reinterpret_cast<void **>(m2.put())), S_OK);
        EXPECT_EQ(m2->SetSender(Bstr(u"Ann Example <ann@example.com>").get()), S_OK);
        EXPECT_EQ(m2->AddRecipients(Bstr(to).get()), S_OK);
        return m2;
    }
    clsAutoRelease<IKvMailBody> Body(IKvMail2 *mail, const char16_t *type, const std::string &bytes, ULONG cp) {
        clsAutoRelease<IKvMailBody> b;
        EXPECT_EQ(mail->CreateAndAddBody(b.put(), Bstr(type).get(), cp), S_OK);
        EXPECT_EQ(b->SetContents(MemoryStream(bytes).get()), S_OK);
        return b;
    }
    template <class Owner> void Attach(Owner *owner, std::u16string_view name, const std::string *bytes) {
        clsAutoRelease<IKvMailAttachment> a;
        ASSERT_EQ(owner->CreateAndAddAttachment(a.put()), S_OK);
        EXPECT_EQ(a->SetName(Bstr(name).get()), S_OK);
        if (bytes) {
            EXPECT_EQ(a->SetContents(MemoryStream(*bytes).get()), S_OK);
        }
    }
    std::string ContentIdOf(IKvMailBody *body, ULONG index) {
        clsAutoRelease<IKvEnumMailAttachment> e;
        EXPECT_EQ(body->EnumAttachments(e.put()), S_OK);
        clsAutoRelease<IKvMailAttachment> a;
        Bstr cid;
        if (e->Skip(index) == S_OK && e->Next(1, a.put(), nullptr) == S_OK) {
            EXPECT_EQ(a->GetHeaderEntry(Bstr(u"Content-ID").get(), cid.put()), S_OK);
        }
        return cid.Utf8();
    }

    // Renders the mail and has Python check it.
    void Check(const char *name, IKvMail2 *mail, const Expected &expected) {
        orkv14::Ptr<IStream> out = MemoryStream("");
        ASSERT_EQ(mail->GetRawText(out.get()), S_OK);
        std::string text = orkv14::ReadAll(out.get());
        std::string eml = dir_ + name + ".eml", json = dir_ + name + ".json";
        interop::WriteFile(eml, text);
        interop::WriteFile(json, ToJson(expected));
        std::string output;
        int status = interop::Run("/usr/bin/python3 " KV_INTEROP_DIR "/check_written.py " + eml + " " + json, output);
        EXPECT_EQ(status, 0) << name << ":\n" << output << "\n" << text.substr(0, 4000);
        ++checked_;
    }

    int32_t baseline_ = 0;
    clsSMTPMailConnection *connection_ = nullptr;
    std::string dir_;
    int checked_ = 0;
};

const std::pair<std::string, std::string> kAnn{"Ann Example", "ann@example.com"};

// A mail from Ann to to@example.com.
Expected ToOne(const std::string &tree, std::vector<Part> parts, const std::string &subject = "") {
    return {subject, {kAnn}, {{"", "to@example.com"}}, {}, tree, std::move(parts)};
}

TEST_F(WriterInterop, PlainBodiesInSeveralCharsets) {
    struct Case {
        const char *name;
        ULONG codepage;
        std::u16string subject, body, toName;
        const char *charset;
    } cases[] = {
        {"plain-japanese", 932, u"\u65e5\u672c\u8a9e\u306e\u4ef6\u540d\u3067\u3059",
         u"\u3053\u3093\u306b\u3061\u306f\u4e16\u754c\r\n", u"\u7530\u4e2d", "shift-jis"},
        {"plain-utf8-long-line", 65001,
         u"Long line \u00e9\u00e8 with many words so that the subject must be folded into several lines",
         std::u16string(100, u'x') + u" \u00e9\u00e8\u00ea " + std::u16string(100, u'y') + u"\r\n", u"Zo\u00eb",
         "utf-8"},
    };
    for (const Case &c : cases) {
        clsAutoRelease<IKvMail2> mail = NewMail(c.codepage, c.toName + u" <to@example.com>\tsecond@example.org");
        ASSERT_EQ(mail->SetSubject(Bstr(c.subject).get()), S_OK);
        ASSERT_EQ(mail->AddCCRecipients(Bstr(u"\"Carl, the Copy\" <cc@example.net>").get()), S_OK);
        std::string bytes = Narrow(c.body, c.codepage);
        Body(mail.get(), u"text/plain", bytes, c.codepage);
        // The only part: the line end that ends the message belongs to it.
        Check(c.name, mail.get(),
              {Utf8(c.subject), {kAnn}, {{Utf8(c.toName), "to@example.com"}, {"", "second@example.org"}},
               {{"Carl, the Copy", "cc@example.net"}}, "text/plain",
               {{"text/plain", bytes, nullptr, c.charset, "", Utf8(c.body)}}});
    }
}

TEST_F(WriterInterop, StructuresAttachmentsAndRelatedImages) {
    std::string dir = dir_;
    std::string png("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16), gif = "GIF89a\x01\x00\x01\x00";
    interop::WriteFile(dir + "pic one.png", png);
    interop::WriteFile(dir + "pic2.gif", gif);
    std::string binary;
    for (int i = 0; i < 256; ++i) binary += char(i);
    binary += binary;
    const std::string notes = "first line\r\nsecond line\r\nno final line end";
    const std::string notesEnd = "ends\r\nwith a line end\r\n";
    {
        clsAutoRelease<IKvMail2> mail = NewMail(0);
        ASSERT_EQ(mail->SetSubject(Bstr(u"Related").get()), S_OK);
        Body(mail.get(), u"text/plain", "see the pictures\r\n", 0);
        std::string ref1 = "file://" + dir + "pic%20one.png", ref2 = dir + "pic2.gif";
        clsAutoRelease<IKvMailBody> h = Body(mail.get(), u"text/html",
                                             "<img src=\"" + ref1 + "\"><IMG SRC=\"" + ref2 + "\" alt=\"x\"><img src=\"" + ref1 + "\">", 0);
        std::string cid1 = ContentIdOf(h.get(), 0), cid2 = ContentIdOf(h.get(), 1);
        ASSERT_FALSE(cid1.empty());
        ASSERT_FALSE(cid2.empty());
        std::string htmlOut = "<img src=\"cid:" + cid1 + "\"><IMG SRC=\"cid:" + cid2 + "\" alt=\"x\"><img src=\"cid:" + cid1 + "\">";
        Attach(mail.get(), u"notes.txt", &notes);
        Check("related-images", mail.get(),
              ToOne("multipart/mixed(multipart/alternative(text/plain,multipart/related(text/html,image/png,image/gif)),"
                    "text/plain)",
                    {{"text/plain", "see the pictures\r\n", nullptr, "utf-8", "", ""},
                     {"text/html", htmlOut, nullptr, "utf-8", "", ""},
                     {"image/png", png, "pic one.png", "", cid1, ""},
                     {"image/gif", gif, "pic2.gif", "", cid2, ""},
                     {"text/plain", notes, "notes.txt", "", "", ""}},
                    "Related"));
    }
    {
        // A body's own attachment, given with a path: the HTML body is wrapped in its own mixed part.
        clsAutoRelease<IKvMail2> mail = NewMail(0);
        Body(mail.get(), u"text/plain", "plain\r\n", 0);
        clsAutoRelease<IKvMailBody> h = Body(mail.get(), u"text/html", "<b>html</b>", 0);
        Attach(h.get(), u"/some/where/own.bin", &binary);
        Check("html-body-wrapped", mail.get(),
              ToOne("multipart/mixed(multipart/alternative(text/plain,multipart/mixed(text/html,application/octet-stream)))",
                    {{"text/plain", "plain\r\n", nullptr, "utf-8", "", ""},
                     {"text/html", "<b>html</b>", nullptr, "utf-8", "", ""},
                     {"application/octet-stream", binary, "own.bin", "", "", ""}}));
    }
    {
        std::string onDisk = dir + "from disk.pdf";
        std::string pdf = "%PDF-1.4\n" + binary;
        interop::WriteFile(onDisk, pdf);
        std::string cyr = Utf8(u"\u0442\u0435\u043a\u0441\u0442\r\n");
        clsAutoRelease<IKvMail2> mail = NewMail(0);
        Body(mail.get(), u"text/plain", "three attachments\r\n", 0);
        Attach(mail.get(), Widen(onDisk), nullptr);
        Attach(mail.get(), u"\u043e\u0442\u0447\u0451\u0442 2024.bin", &binary);
        Attach(mail.get(), u"\u65e5\u672c\u8a9e.txt", &cyr);
        Attach(mail.get(), u"quote\".txt", &notesEnd);
        Check("file-and-memory-attachments", mail.get(),
              ToOne("multipart/mixed(text/plain,application/pdf,application/octet-stream,text/plain,text/plain)",
                    {{"text/plain", "three attachments\r\n", nullptr, "utf-8", "", ""},
                     {"application/pdf", pdf, "from disk.pdf", "", "", ""},
                     {"application/octet-stream", binary, "\xD0\xBE\xD1\x82\xD1\x87\xD1\x91\xD1\x82 2024.bin", "", "", ""},
                     {"text/plain", cyr, "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E.txt", "", "", ""},
                     {"text/plain", notesEnd, "quote\".txt", "", "", ""}}));
    }
    // A lone attachment is the message.
    for (const auto &[name, type, bytes] : {std::tuple(u"only.zip", "application/zip", &std::as_const(binary)),
                                            std::tuple(u"only.txt", "text/plain", &notes)}) {
        clsAutoRelease<IKvMail2> mail = NewMail(0);
        Attach(mail.get(), name, bytes);
        std::string file = Utf8(name);
        Check(file.c_str(), mail.get(), ToOne(type, {{type, *bytes, file.c_str(), "", "", ""}}));
    }
    EXPECT_EQ(checked_, 5);
}

} // namespace
} // namespace kv

// Mails built through the COM interface, rendered by GetRawText and parsed by
// Python's email package (policy default): decoded headers, MIME tree and
// the decoded bytes of every part must be what was put in.
#include <gtest/gtest.h>

#include <tuple>
#include <utility>
#include <vector>

#include "interop_util.h"
#include "mail/mail_body.h"
#include "orkv14.hpp"
#include "providers/smtp/smtp_connection.h"
#include "runtime/module_state.h"

namespace kv {
namespace {

using interop::Json;
using orkv14::Bstr;
using orkv14::MemoryStream;
using orkv14::Ptr;

std::string Utf8(std::u16string_view text) { return Narrow(text, 65001); }

// One leaf part as Python must see it; an empty filename or cid is none, an
// empty charset or text is not checked.
struct Part {
    std::string type, bytes, filename = "", charset = "", cid = "", text = "";
};
using Addresses = std::vector<std::pair<std::string, std::string>>; // name, address

struct Expected {
    std::string subject; // UTF-8
    Addresses from, to, cc;
    std::string tree;
    std::vector<Part> parts;
};

std::string ToJson(const Expected &e) {
    auto list = [](const Addresses &l) {
        std::string out;
        for (const auto &[name, address] : l) out += (out.empty() ? "[" : ",[") + Json(name) + "," + Json(address) + "]";
        return "[" + out + "]";
    };
    auto nullable = [](const std::string &s) { return s.empty() ? std::string("null") : Json(s); };
    std::string out = "{\"subject\":" + Json(e.subject) + ",\"from\":" + list(e.from) + ",\"to\":" + list(e.to) +
                      ",\"cc\":" + list(e.cc) + ",\"tree\":" + Json(e.tree) + ",\"parts\":[";
    for (const Part &p : e.parts) {
        out += (&p == &e.parts[0] ? "{\"type\":" : ",{\"type\":") + Json(p.type) + ",\"hex\":" +
               Json(interop::Hex(p.bytes)) + ",\"filename\":" + nullable(p.filename) + ",\"cid\":" + nullable(p.cid);
        if (!p.charset.empty()) out += ",\"charset\":" + Json(p.charset);
        out += (p.text.empty() ? "" : ",\"text\":" + Json(p.text)) + "}";
    }
    return out + "]}";
}

class WriterInterop : public ::testing::Test {
  protected:
    void SetUp() override {
        KV_NEED_PEER(testsupport::Executable("/usr/bin/python3"), "python3");
        baseline_ = ModuleRefCount();
        connection_->AddRef();
        dir_ = interop::MakeDir("kv_writer_interop");
    }
    void TearDown() override {
        connection_->Release();
        EXPECT_EQ(ModuleRefCount(), baseline_);
        std::string output;
        interop::Run("rm -rf '" + dir_ + "'", output);
    }

    Ptr<IKvMail2> NewMail(ULONG codepage, std::u16string_view to = u"to@example.com") {
        Ptr<IKvMail> m;
        EXPECT_EQ(connection_->CreateMail(LONG(codepage), u"interop", m.put()), S_OK);
        Ptr<IKvMail2> mail = m.As<IKvMail2>();
        EXPECT_EQ(mail->SetSender(Bstr(u"Ann Example <ann@example.com>").get()), S_OK);
        EXPECT_EQ(mail->AddRecipients(Bstr(to).get()), S_OK);
        return mail;
    }
    Ptr<IKvMailBody> Body(IKvMail2 *mail, const char16_t *type, const std::string &bytes, ULONG cp = 0) {
        Ptr<IKvMailBody> b;
        EXPECT_EQ(mail->CreateAndAddBody(b.put(), Bstr(type).get(), cp), S_OK);
        EXPECT_EQ(b->SetContents(MemoryStream(bytes).get()), S_OK);
        return b;
    }
    // Without bytes, the attachment is the file it names.
    template <class Owner> void Attach(Owner *owner, std::u16string_view name, const std::string *bytes) {
        Ptr<IKvMailAttachment> a;
        ASSERT_EQ(owner->CreateAndAddAttachment(a.put()), S_OK);
        EXPECT_EQ(a->SetName(Bstr(name).get()), S_OK);
        if (bytes) {
            EXPECT_EQ(a->SetContents(MemoryStream(*bytes).get()), S_OK);
        }
    }
    // Renders the mail and has Python check it.
    void Check(const std::string &name, IKvMail2 *mail, const Expected &expected) {
        Ptr<IStream> out = MemoryStream("");
        ASSERT_EQ(mail->GetRawText(out.get()), S_OK);
        std::string text = orkv14::ReadAll(out.get()), eml = dir_ + name + ".eml", json = dir_ + name + ".json";
        interop::WriteFile(eml, text);
        interop::WriteFile(json, ToJson(expected));
        std::string output;
        EXPECT_EQ(interop::Run("/usr/bin/python3 " KV_INTEROP_DIR "/check_written.py " + eml + " " + json, output), 0)
            << name << ":\n" << output << "\n" << text.substr(0, 4000);
    }

    int32_t baseline_ = 0;
    clsSMTPMailConnection *connection_ = new clsSMTPMailConnection();
    std::string dir_;
};

const std::pair<std::string, std::string> kAnn{"Ann Example", "ann@example.com"};

// A mail from Ann to to@example.com.
Expected ToOne(const std::string &tree, std::vector<Part> parts, const std::string &subject = "") {
    return {subject, {kAnn}, {{"", "to@example.com"}}, {}, tree, std::move(parts)};
}

TEST_F(WriterInterop, CharsetsStructuresAttachmentsAndRelatedImages) {
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
        Ptr<IKvMail2> mail = NewMail(c.codepage, c.toName + u" <to@example.com>\tsecond@example.org");
        ASSERT_EQ(mail->SetSubject(Bstr(c.subject).get()), S_OK);
        ASSERT_EQ(mail->AddCCRecipients(Bstr(u"\"Carl, the Copy\" <cc@example.net>").get()), S_OK);
        std::string bytes = Narrow(c.body, c.codepage);
        Body(mail.get(), u"text/plain", bytes, c.codepage);
        // The only part: the line end that ends the message belongs to it.
        Check(c.name, mail.get(),
              {Utf8(c.subject), {kAnn}, {{Utf8(c.toName), "to@example.com"}, {"", "second@example.org"}},
               {{"Carl, the Copy", "cc@example.net"}}, "text/plain",
               {{"text/plain", bytes, "", c.charset, "", Utf8(c.body)}}});
    }
    std::string png("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16), gif = "GIF89a\x01\x00\x01\x00", binary;
    interop::WriteFile(dir_ + "pic one.png", png);
    interop::WriteFile(dir_ + "pic2.gif", gif);
    for (int i = 0; i < 512; ++i) binary += char(i);
    const std::string notes = "first line\r\nsecond line\r\nno final line end", notesEnd = "ends\r\nwith a line end\r\n";
    {
        Ptr<IKvMail2> mail = NewMail(0);
        ASSERT_EQ(mail->SetSubject(Bstr(u"Related").get()), S_OK);
        Body(mail.get(), u"text/plain", "see the pictures\r\n");
        std::string ref1 = "file://" + dir_ + "pic%20one.png", ref2 = dir_ + "pic2.gif";
        Ptr<IKvMailBody> h = Body(mail.get(), u"text/html",
                                  "<img src=\"" + ref1 + "\"><IMG SRC=\"" + ref2 + "\" alt=\"x\"><img src=\"" + ref1 + "\">");
        clsMailAttachmentList &related = static_cast<clsMailBody *>(h.get())->Attachments();
        ASSERT_EQ(related.Size(), 2u);
        std::string cid1 = related[0]->ContentId(), cid2 = related[1]->ContentId();
        ASSERT_FALSE(cid1.empty() || cid2.empty());
        std::string htmlOut = "<img src=\"cid:" + cid1 + "\"><IMG SRC=\"cid:" + cid2 + "\" alt=\"x\"><img src=\"cid:" + cid1 + "\">";
        Attach(mail.get(), u"notes.txt", &notes);
        Check("related-images", mail.get(),
              ToOne("multipart/mixed(multipart/alternative(text/plain,multipart/related(text/html,image/png,image/gif)),"
                    "text/plain)",
                    {{"text/plain", "see the pictures\r\n", "", "utf-8"},
                     {"text/html", htmlOut, "", "utf-8"},
                     {"image/png", png, "pic one.png", "", cid1},
                     {"image/gif", gif, "pic2.gif", "", cid2},
                     {"text/plain", notes, "notes.txt"}},
                    "Related"));
    }
    {
        // A body's own attachment, given with a path, wraps the HTML body in a mixed part of its own; the
        // mail's attachments from a file and from memory follow the bodies.
        std::string onDisk = dir_ + "from disk.pdf", pdf = "%PDF-1.4\n" + binary;
        interop::WriteFile(onDisk, pdf);
        std::string cyr = Utf8(u"\u0442\u0435\u043a\u0441\u0442\r\n");
        Ptr<IKvMail2> mail = NewMail(0);
        Body(mail.get(), u"text/plain", "plain\r\n");
        Attach(Body(mail.get(), u"text/html", "<b>html</b>").get(), u"/some/where/own.bin", &binary);
        Attach(mail.get(), Widen(onDisk), nullptr);
        Attach(mail.get(), u"\u043e\u0442\u0447\u0451\u0442 2024.bin", &binary);
        Attach(mail.get(), u"\u65e5\u672c\u8a9e.txt", &cyr);
        Attach(mail.get(), u"quote\".txt", &notesEnd);
        Check("body-and-mail-attachments", mail.get(),
              ToOne("multipart/mixed(multipart/alternative(text/plain,multipart/mixed(text/html,application/octet-stream)),"
                    "application/pdf,application/octet-stream,text/plain,text/plain)",
                    {{"text/plain", "plain\r\n", "", "utf-8"},
                     {"text/html", "<b>html</b>", "", "utf-8"},
                     {"application/octet-stream", binary, "own.bin"},
                     {"application/pdf", pdf, "from disk.pdf"},
                     {"application/octet-stream", binary, "\xD0\xBE\xD1\x82\xD1\x87\xD1\x91\xD1\x82 2024.bin"},
                     {"text/plain", cyr, "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E.txt"},
                     {"text/plain", notesEnd, "quote\".txt"}}));
    }
    // A lone attachment is the message.
    for (const auto &[name, type, bytes] : {std::tuple(u"only.zip", "application/zip", &std::as_const(binary)),
                                            std::tuple(u"only.txt", "text/plain", &notes)}) {
        Ptr<IKvMail2> mail = NewMail(0);
        Attach(mail.get(), name, bytes);
        Check(Utf8(name), mail.get(), ToOne(type, {{type, *bytes, Utf8(name)}}));
    }
}

} // namespace
} // namespace kv

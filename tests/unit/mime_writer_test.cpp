#include <gtest/gtest.h>

#include <fstream>
#include <regex>

#include "mime/base64.h"
#include "mail_test_util.h"
#include "pal/system.h"

namespace kv {
namespace {

using testsupport::AddAttachment;
using testsupport::AddBody;

class MimeWriter : public mailtest::MimeFixture {};

// One body stands alone under the head: no boundary, no preamble. Lines of 7bit
// and 8bit text have their dots doubled and end in CR LF.
TEST_F(MimeWriter, PlainTransferEncodingFollowsLineLengthAndEightBitBytes) {
    const struct {
        std::string bytes;
        const char *encoding, *written; // null: not compared
    } cases[] = {
        {std::string(78, 'a') + "\r\nb", "7bit", nullptr},
        {std::string(79, 'a'), "quoted-printable", nullptr},
        {"caf\xE9\r\n.", "8bit", "caf\xE9\r\n..\r\n"},
        {"caf\xE9" + std::string(80, 'a'), "quoted-printable", nullptr},
        // CR alone and LF alone each end a line.
        {std::string(70, 'a') + "\r" + std::string(70, 'a') + "\n" + std::string(70, 'a'), "7bit", nullptr},
        {".x\r\n..y\r\nz.\r\n.", "7bit", "..x\r\n...y\r\nz.\r\n..\r\n"},
        {"a\n.b\r.c", "7bit", "a\r\n..b\r\n..c\r\n"},
        {"a\r", "7bit", "a\r\n"},
        {"no line end", "7bit", "no line end\r\n"},
    };
    for (const auto &c : cases) {
        clsArpaMail *mail = NewMail(0, u"");
        AddBody(*mail, "text/plain", c.bytes);
        std::string text = Render(mail), tail = text.substr(text.find("\r\nMIME-Version: "));
        std::string head = std::string("\r\nMIME-Version: 1.0\r\nContent-Type: text/plain; charset=\"utf-8\"\r\n"
                                       "Content-Transfer-Encoding: ") +
                           c.encoding + "\r\n\r\n";
        EXPECT_EQ(c.written ? tail : tail.substr(0, head.size()), head + (c.written ? c.written : "")) << c.bytes;
    }
}

// Plain bodies first, the newest in front; another media type goes out as
// base64. The line end that ends a part without one belongs to the delimiter.
TEST_F(MimeWriter, BodiesMakeMixedWithAlternativePlainFirst) {
    for (const std::string type : {"text/html", "text/plain", "application/rtf", "TEXT/PLAIN"})
        AddBody(*arpa_, type.c_str(), type.substr(type.find('/') + 1) + (type[5] == 'p' ? "\r\n" : ""));
    std::string text = Render(arpa_);
    std::smatch m;
    ASSERT_TRUE(std::regex_search(text, m, std::regex("boundary=\"(---[0-9a-f]{16})\\.Mixed\""))) << text;
    std::string normalized = std::regex_replace(text, std::regex(std::string(m[1])), "B");
    const std::string part = "--B.Alt\r\nContent-Type: ", qp = "Content-Transfer-Encoding: quoted-printable\r\n\r\n";
    EXPECT_EQ(normalized.substr(normalized.find("\r\nMIME-Version: ")),
              "\r\nMIME-Version: 1.0\r\nContent-Type: multipart/mixed;\r\n boundary=\"B.Mixed\"\r\n\r\n"
              "This is a multi-part message in MIME format.\r\n"
              "Its text contains 4 versions of alternative formats.\r\n"
              "If you read this, you should consider to update or change your mail reader.\r\n\r\n"
              "--B.Mixed\r\nContent-Type: multipart/alternative;\r\n boundary=\"B.Alt\"\r\n\r\n" +
                  part + "TEXT/PLAIN; charset=\"utf-8\"\r\nContent-Transfer-Encoding: 7bit\r\n\r\nPLAIN\r\n" +
                  part + "text/plain; charset=\"utf-8\"\r\nContent-Transfer-Encoding: 7bit\r\n\r\nplain\r\n\r\n" +
                  part + "text/html; charset=\"utf-8\"\r\n" + qp + "html=\r\n\r\n" +
                  part + "application/rtf; charset=\"utf-8\"\r\nContent-Transfer-Encoding: base64\r\n\r\ncnRm\r\n\r\n"
                  "--B.Alt--\r\n\r\n--B.Mixed--\r\n\r\n");
}

TEST_F(MimeWriter, AttachmentHeadersNameTheLastPathElementOnly) {
    struct Case {
        const char16_t *name;
        std::vector<std::string> header; // "Name: value" in order
    } cases[] = {
        {u"/tmp/dir/report.pdf",
         {"Content-Type: application/pdf;\r\n    name=\"report.pdf\"", "Content-Transfer-Encoding: base64",
          "Content-Disposition: attachment;\r\n    filename=\"report.pdf\""}},
        {u"C:\\Docs\\notes.TXT",
         {"Content-Type: text/plain;\r\n    name=\"notes.TXT\"", "Content-Transfer-Encoding: quoted-printable",
          "Content-Disposition: attachment;\r\n    filename=\"notes.TXT\""}},
        {u"*hidden.gif", {"Content-Type: image/gif", "Content-Transfer-Encoding: base64"}},
        {u"",
         {"Content-Type: application/octet-stream", "Content-Transfer-Encoding: base64",
          "Content-Disposition: attachment;\r\n    filename=\"\""}},
        // Characters that cannot stand in a quoted string go as an RFC 2231 value.
        {u"\"q\".gif",
         {"Content-Type: image/gif;\r\n    name*=utf-8''%22q%22.gif", "Content-Transfer-Encoding: base64",
          "Content-Disposition: attachment;\r\n    filename*=utf-8''%22q%22.gif"}},
    };
    std::string bytes = "abc";
    for (const Case &c : cases) {
        clsArpaMail *mail = NewMail(0, u"");
        AddBody(*mail, "text/plain", "x");
        AddAttachment(*mail, Narrow(c.name), &bytes);
        Render(mail);
        clsMailAttachment *a = mail->Attachments()[0];
        std::vector<std::string> header;
        for (const clsHeaderItem &item : a->Headers())
            for (const String &v : item.values) header.push_back(item.name + ": " + v);
        EXPECT_EQ(header, c.header) << Narrow(c.name);
    }
    // A missing attachment file gives an empty part.
    AddBody(*arpa_, "text/plain", "body");
    AddAttachment(*arpa_, "/nonexistent/dir/missing.gif", nullptr);
    std::string text = Render(arpa_);
    EXPECT_NE(text.find("filename=\"missing.gif\"\r\n\r\n\r\n--"), std::string::npos) << text;
}

// A text larger than a mail may keep in memory goes on to its file, written
// and read the same as one kept in memory.
TEST_F(MimeWriter, TextBeyondTheMemoryLimitGoesOnToTheFile) {
    std::string binary, text;
    for (int i = 0; i < 200000; ++i) binary += char(i * 131 + i / 7);
    for (int i = 0; i < 3000; ++i) text += "Gr\xC3\xBC\xC3\x9F" "e, a line of text = " + std::to_string(i) + "\r\n";
    AddBody(*arpa_, "text/plain", "body\r\n");
    AddAttachment(*arpa_, "big.bin", &binary);
    AddAttachment(*arpa_, "t.txt", &text);
    arpa_->RawText().SetMemoryLimit(10000);
    std::string rendered = Render(arpa_);
    EXPECT_TRUE(arpa_->RawText().Memory().empty());
    EXPECT_EQ(Render(arpa_), rendered); // the kept text, from the file
    for (size_t limit : {size_t(100), size_t(1) << 30}) {
        clsArpaMail *back = NewMail(0, u"");
        back->RawText().SetMemoryLimit(limit);
        ASSERT_EQ(Read(back, rendered), S_OK) << ErrorText();
        EXPECT_EQ(back->RawText().Memory().empty(), limit == 100);
        EXPECT_EQ(Render(back), rendered);
        ASSERT_EQ(back->Attachments().Size(), 2u);
        EXPECT_TRUE(testsupport::BytesOf(back->Attachments()[0]->Contents()) == binary);
        EXPECT_TRUE(testsupport::BytesOf(back->Attachments()[1]->Contents()) == text);
    }
}

// The only body, HTML with a local picture: the related multipart is the
// message; the picture is an inline part named by its content ID.
TEST_F(MimeWriter, HtmlWithRelatedImageIsMultipartRelated) {
    std::string path = ::testing::TempDir() + "kv_writer_pic.gif";
    std::ofstream(path, std::ios::binary) << "GIF89a";
    AddBody(*arpa_, "text/html", "<img src=\"" + path + "\">");
    std::remove(path.c_str());
    ASSERT_EQ(arpa_->Bodies()[0]->Attachments().Size(), 1u);
    std::string cid = arpa_->Bodies()[0]->Attachments()[0]->ContentId();
    std::string text = std::regex_replace(Render(arpa_), std::regex(cid), "C");
    std::smatch m;
    ASSERT_TRUE(std::regex_search(
        text, m, std::regex("\r\nContent-Type: multipart/related;\r\n boundary=\"([0-9a-f]{8}\\.[0-9a-f]{8})\\.Related\"\r\n\r\n")))
        << text;
    EXPECT_EQ(std::regex_replace(text.substr(text.find("\r\n\r\n") + 4), std::regex(std::string(m[1])), "B"),
              "--B.Related\r\nContent-Type: text/html; charset=\"utf-8\"\r\n"
              "Content-Transfer-Encoding: quoted-printable\r\n\r\n<img src=3D=22cid:C=22>=\r\n\r\n"
              "--B.Related\r\nContent-Type: image/gif;\r\n    name=\"kv_writer_pic.gif\"\r\n"
              "Content-Transfer-Encoding: base64\r\nContent-ID: C\r\nContent-Disposition: inline\r\n\r\n"
              "R0lGODlh\r\n\r\n--B.Related--\r\n\r\n");
}

// An empty mail is its head alone: the Message-ID has the cookie (base64 of
// its UTF-16 text) or "chk", then the sender domain. Line breaks in the sender
// from the options become folds, never fields. Listed and deleted mails render nothing.
TEST_F(MimeWriter, HeadOfAnEmptyMail) {
    testsupport::SetTextOption(connection_, u"SenderDomain", "mail.example.org");
    testsupport::SetTextOption(connection_, u"SenderName", "Ann\r\nBcc: x@example.com\nX-Two: y");
    testsupport::SetTextOption(connection_, u"SenderAddress", "ann@example.com");
    for (int32_t state : {kMailListed, kMailDeleted}) {
        arpa_->SetState(state);
        EXPECT_EQ(Render(arpa_), "") << state;
    }
    arpa_->SetState(kMailNew);
    for (const std::string &cookie : {EncodeBase64Unpadded(u"cookie-1"), std::string("chk")}) {
        clsArpaMail *mail = cookie == "chk" ? NewMail(0, u"") : arpa_;
        std::string text = Render(mail);
        const std::string id = "[0-9a-f]{4,}[0-9A-F]+@mail\\.example\\.org>\r\nMIME-Version: 1\\.0\r\n\r\n$";
        EXPECT_TRUE(std::regex_search(text, std::regex("\r\nMessage-ID: <" + cookie + id))) << text;
        const std::string from = "From: \"Ann\r\n Bcc: x@example.com\r\n X-Two: y\" <ann@example.com>\r\nDate: ";
        EXPECT_NE(text.find(from), std::string::npos) << text;
        EXPECT_EQ(text.find("\r\nBcc:"), std::string::npos);
    }
}

} // namespace
} // namespace kv

// The message reader through SetRawText (and ReadMail for the POP3 listing):
// header block, multipart recursion, body/attachment decisions, decoding,
// errors and what stays after them.
#include <gtest/gtest.h>

#include "mime/base64.h"
#include "mail/reader.h"
#include "mime_test_util.h"

namespace kv {
namespace {

using mimetest::Bstr;
using mimetest::MakeStream;

class MimeReader : public mimetest::MimeFixture {
  protected:
    static std::string BodyBytes(clsMailBody *b) { return Contents(b->Contents()); }
    static std::string AttachmentBytes(clsMailAttachment *a) { return Contents(a->Contents()); }
};

TEST_F(MimeReader, MessageWithoutMimeFieldsIsOnePlainBody) {
    ASSERT_EQ(Read(mail_, "From: Ann <ann@example.com>\r\nTo: b@example.com\r\nSubject: Hi\r\n\r\nline 1\r\nline 2\r\n"),
              S_OK);
    ASSERT_EQ(mail_->Bodies().Size(), 1u);
    clsMailBody *b = mail_->Bodies()[0];
    EXPECT_EQ(b->MediaType().str(), "text/plain");
    EXPECT_EQ(BodyBytes(b), "line 1\r\nline 2\r\n");
    EXPECT_EQ(mail_->Sender(), "Ann <ann@example.com>");
    EXPECT_EQ(mail_->Subject(), "Hi");
    EXPECT_EQ(mail_->To(), (std::vector<String>{"b@example.com"}));
    EXPECT_EQ(mail_->State(), kMailLoaded);
}

TEST_F(MimeReader, TransferEncodingsAreNamedWithoutRegardToCase) {
    struct Case {
        const char *encoding, *lines, *bytes;
    } cases[] = {
        {"base64", "YWJj\r\nZGVm", "abcdef"},
        {"BASE64", "YWI=", "ab"},
        {"quoted-printable", "a=3Db=\r\nc", "a=bc\r\n"},
        {"UTF-8", "caf\xC3\xA9", "caf\xE9"},
        {"7bit", "..\r\n.x", "..\r\n.x\r\n"},
        {"x-unknown", "YWJj", "YWJj\r\n"},
    };
    for (const Case &c : cases) {
        clsArpaMail *mail = NewMail(0, u"");
        std::string text = std::string("Content-Type: text/plain\r\nContent-Transfer-Encoding: ") + c.encoding +
                           "\r\n\r\n" + c.lines;
        ASSERT_EQ(Read(mail, text), S_OK) << c.encoding;
        ASSERT_EQ(mail->Bodies().Size(), 1u);
        EXPECT_EQ(BodyBytes(mail->Bodies()[0]), c.bytes) << c.encoding;
    }
}

// Bodies are decoded into the room made for them beforehand; lone line ends
// (each becomes CR LF) can outgrow it, and the decoding goes on past it.
TEST_F(MimeReader, LargeBodiesKeepEveryByteWhereverTheirRoomEnds) {
    std::string lone, loneBytes, binary, wrapped;
    for (int i = 0; i < 100000; ++i) {
        lone += i % 3 ? "ab\n" : "a\r";
        loneBytes += i % 3 ? "ab\r\n" : "a\r\n";
    }
    for (int i = 0; i < 600000; ++i) binary += char(i * 131 % 251);
    std::string encoded = EncodeBase64(binary.data(), binary.size());
    for (size_t at = 0; at < encoded.size(); at += 76) wrapped += encoded.substr(at, 76) + "\r\n";
    const struct {
        const char *encoding;
        const std::string &lines, &bytes;
    } cases[] = {
        {"quoted-printable", lone, loneBytes},
        {"base64", wrapped, binary},
    };
    for (const auto &c : cases) {
        clsArpaMail *mail = NewMail(0, u"");
        ASSERT_EQ(Read(mail, std::string("Content-Transfer-Encoding: ") + c.encoding + "\r\n\r\n" + c.lines), S_OK);
        ASSERT_EQ(mail->Bodies().Size(), 1u);
        EXPECT_TRUE(BodyBytes(mail->Bodies()[0]) == c.bytes) << c.encoding;
    }
}

// Only a hard line end before the delimiter is the delimiter's; a soft one
// (also "=" and a blank) leaves the decoded bytes whole.
TEST_F(MimeReader, QuotedPrintableAttachmentEndsKeepTheirBytes) {
    const struct {
        const char *last, *bytes;
    } cases[] = {
        {"abc", "abc"}, {"abc= ", "abc"}, {"abc=4", "abc=4"}, {"=4=", "=4"}, {"x=3D", "x="},
    };
    for (const auto &c : cases) {
        clsArpaMail *mail = NewMail(0, u"");
        ASSERT_EQ(Read(mail, std::string("Content-Type: multipart/mixed; boundary=b\r\n\r\n--b\r\n\r\nbody\r\n--b\r\n"
                                         "Content-Type: text/plain; name=a.txt\r\n"
                                         "Content-Transfer-Encoding: quoted-printable\r\n\r\n") +
                             c.last + "\r\n--b--\r\n"),
                  S_OK);
        ASSERT_EQ(mail->Attachments().Size(), 1u) << c.last;
        EXPECT_EQ(AttachmentBytes(mail->Attachments()[0]), c.bytes) << c.last;
    }
}

TEST_F(MimeReader, MimeVersionIsReadAsANumber) {
    struct Case {
        const char *version;
        HRESULT result;
    } cases[] = {{"1.0", S_OK}, {"1", S_OK}, {"(produced by X) 1.0", S_OK}, {"2.0", E_UNEXPECTED}, {"", E_UNEXPECTED}};
    for (const Case &c : cases) {
        clsArpaMail *mail = NewMail(0, u"");
        std::string text = std::string("Subject: s\r\nMIME-Version: ") + c.version + "\r\n\r\nbody\r\n";
        EXPECT_EQ(Read(mail, text), c.result) << c.version;
        if (c.result == S_OK) continue;
        EXPECT_EQ(ErrorText().substr(0, 24 + strlen(c.version)),
                  std::string("unexpected MIME version ") + c.version);
        // The head was read before the error; no body was made.
        EXPECT_EQ(mail->Subject(), "s");
        EXPECT_TRUE(mail->Bodies().Empty());
        clsAutoRelease<IStream> out = MakeStream("");
        ASSERT_EQ(mail->GetRawText(out.get()), S_OK);
        EXPECT_EQ(StreamBytes(out.get()), text);
    }
}

TEST_F(MimeReader, MultipartStructuresGiveBodiesAndAttachments) {
    struct Case {
        const char *name, *text;
        std::vector<std::string> bodies;                 // media types
        std::vector<size_t> bodyAttachments;              // per body
        std::vector<std::string> mailAttachments;         // names
    } cases[] = {
        {"alternative",
         "Content-Type: multipart/alternative; boundary=\"a\"\r\n\r\npreamble\r\n--a\r\nContent-Type: "
         "text/plain\r\n\r\n"
         "p\r\n--a\r\nContent-Type: text/html\r\n\r\n<p>h</p>\r\n--a--\r\nepilogue\r\n",
         {"text/plain", "text/html"},
         {0, 0},
         {}},
        {"related with two images",
         "Content-Type: multipart/related; boundary=r\r\n\r\n--r\r\nContent-Type: text/html\r\n\r\n<img>\r\n"
         "--r\r\nContent-Type: image/gif; name=a.gif\r\nContent-ID: <a@x>\r\n\r\nR0lG\r\n"
         "--r\r\nContent-Type: image/gif; name=b.gif\r\nContent-ID: <b@x>\r\n\r\nR0lG\r\n--r--\r\n",
         {"text/html"},
         {2},
         {}},
        {"alternative inside mixed, attachment in the alternative goes to the last body",
         "Content-Type: multipart/mixed; boundary=m\r\n\r\n--m\r\nContent-Type: multipart/alternative; "
         "boundary=a\r\n\r\n"
         "--a\r\nContent-Type: text/plain\r\n\r\np\r\n--a\r\nContent-Type: text/html\r\n\r\nh\r\n"
         "--a\r\nContent-Disposition: attachment; filename=z\r\n\r\nz\r\n--a--\r\n"
         "--m\r\nContent-Type: application/zip; name=\"f.zip\"\r\nContent-Transfer-Encoding: "
         "base64\r\n\r\nUEs=\r\n--m--\r\n",
         {"text/plain", "text/html"},
         {0, 1},
         {"f.zip"}},
        {"delimiters padded with blanks (RFC 2046)",
         "Content-Type: multipart/mixed; boundary=m\r\n\r\n--m \r\n\r\nx\r\n--m\t \r\nContent-Type: image/png; "
         "name=i.png\r\n"
         "\r\nabc\r\n--m-- \r\n--m\r\n\r\nepilogue\r\n",
         {"text/plain"},
         {0},
         {"i.png"}},
        {"no closing delimiter",
         "Content-Type: multipart/mixed; boundary=m\r\n\r\n--m\r\n\r\nx\r\n--m\r\nContent-Type: image/png; "
         "name=i.png\r\n\r\nabc\r\n",
         {"text/plain"},
         {0},
         {"i.png"}},
        {"no delimiter at all", "Content-Type: multipart/mixed; boundary=m\r\n\r\nonly a preamble\r\n", {}, {}, {}},
    };
    for (const Case &c : cases) {
        clsArpaMail *mail = NewMail(0, u"");
        ASSERT_EQ(Read(mail, c.text), S_OK) << c.name << ": " << ErrorText();
        std::vector<std::string> bodies;
        std::vector<size_t> bodyAttachments;
        for (clsMailBody *b : mail->Bodies()) {
            bodies.push_back(b->MediaType());
            bodyAttachments.push_back(b->Attachments().Size());
        }
        std::vector<std::string> names;
        for (clsMailAttachment *a : mail->Attachments()) names.push_back(a->Name());
        EXPECT_EQ(bodies, c.bodies) << c.name;
        EXPECT_EQ(bodyAttachments, c.bodyAttachments) << c.name;
        EXPECT_EQ(names, c.mailAttachments) << c.name;
    }
}

TEST_F(MimeReader, HeaderBlockFoldsDecodesAndGroupsRepeatedFields) {
    ASSERT_EQ(Read(mail_, "Received: one\r\nSubject: =?iso-8859-1?Q?Gr=FC=DFe?=\r\n   aus    Berlin\r\n"
                          "received: two\r\nTo: \"Doe, John\" <j@example.com>,\r\n\tb@example.com\r\n"
                          "Subject: second one\r\n\r\nbody\r\n"),
              S_OK);
    const clsHeaderList &head = mail_->GeneratedHeaders();
    const clsHeaderItem *received = head.Find("RECEIVED");
    ASSERT_NE(received, nullptr);
    EXPECT_EQ(received->values, (std::vector<String>{"one", "two"}));
    EXPECT_EQ(mail_->Subject(), "Gr\xC3\xBC\xC3\x9F" "e aus Berlin");
    EXPECT_EQ(mail_->To(), (std::vector<String>{"\"Doe, John\" <j@example.com>", "b@example.com"}));
    EXPECT_EQ(head.Find("Subject")->values.size(), 2u);
    Bstr subject;
    ASSERT_EQ(mail_->GetSubject(subject.put()), S_OK);
    EXPECT_EQ(subject.Wide(), u"Gr\u00fc\u00dfe aus Berlin");
}

// Unstructured fields are text (a control character is no end, a backslash
// stays); a repeated address field reads as one list, any other repeated
// field with its values apart; a group gives its members as recipients.
TEST_F(MimeReader, FieldValuesAsHostsReadThem) {
    const struct {
        const char *fields, *name, *value;
        std::vector<String> to;
    } cases[] = {
        {"Subject: =?utf-8?Q?a=0Db?= c\\d\r\n", "Subject", "a b c\\d", {}},
        {"Subject: =?UTF-8?B?4oI=?=\r\n =?UTF-8?B?rA==?= \"a  b\"\r\n", "Subject", "\xE2\x82\xAC \"a  b\"", {}},
        {"X-Note: a\\b\r\nX-Note: c\r\n", "X-Note", "a\\b\x01" "c", {}},
        {"To: a@example.com\r\nTo: b@example.com\r\n", "to", "a@example.com, b@example.com", {"a@example.com", "b@example.com"}},
        {"To: undisclosed-recipients:;\r\n", "To", "undisclosed-recipients:;", {}},
        {"To: Team: Ann <a@x.org>, b@y.org;, c@z.org\r\n", "To", "Team: Ann <a@x.org>, b@y.org;, c@z.org",
         {"Ann <a@x.org>", "b@y.org", "c@z.org"}},
        {"To: smtp:a@x.org\r\n", "To", "smtp:a@x.org", {"smtp:a@x.org"}},
    };
    for (const auto &c : cases) {
        clsArpaMail *mail = NewMail(0, u"");
        ASSERT_EQ(Read(mail, std::string(c.fields) + "\r\nbody\r\n"), S_OK) << c.fields;
        Bstr value;
        ASSERT_EQ(mail->GetHeaderEntry(Bstr(Widen(c.name, 0).c_str()), value.put()), S_OK) << c.fields;
        EXPECT_EQ(value.Utf8(), c.value) << c.fields;
        EXPECT_EQ(mail->To(), c.to) << c.fields;
    }
}

TEST_F(MimeReader, HeadWithoutEmptyLineEndsAtTheFirstLineThatIsNoField) {
    struct Case {
        const char *text, *subject, *body;
    } cases[] = {
        {"Subject: s\r\nThis is the body\r\n", "s", "This is the body\r\n"},
        {" lone continuation\r\nSubject: s\r\n\r\nx\r\n", "s", "x\r\n"},
        // mbox envelope lines: the first line, or one among the fields, is passed over.
        {"From someone@example.org Wed Oct  4 10:00:00 2006\r\nSubject: s\r\n\r\nx\r\n", "s", "x\r\n"},
        {"X-A: 1\r\nFrom a@b.org  Thu Oct  3 12:25:11 2002\r\n more\r\nSubject: s\r\n\r\nx\r\n", "s", "x\r\n"},
        {"Subject: s\r\nFrom here on\r\n\r\nx\r\n", "s", "From here on\r\n\r\nx\r\n"},
    };
    for (const Case &c : cases) {
        clsArpaMail *mail = NewMail(0, u"");
        ASSERT_EQ(Read(mail, c.text), S_OK) << c.text;
        EXPECT_EQ(mail->Subject(), c.subject) << c.text;
        ASSERT_EQ(mail->Bodies().Size(), 1u);
        EXPECT_EQ(BodyBytes(mail->Bodies()[0]), c.body) << c.text;
    }
}

// The name of Content-Type, else the file name of Content-Disposition; RFC
// 2231 sections join in the order in which they stand.
TEST_F(MimeReader, AttachmentNamesComeFromTheTypeOrTheDisposition) {
    const struct {
        const char *fields, *name;
    } cases[] = {
        {"Content-Type: application/octet-stream;\r\n name*1*=.txt;\r\n name*0*=iso-8859-1''caf%E9\r\n",
         ".txtcaf\xC3\xA9"},
        {"Content-Type: application/pdf\r\nContent-Disposition: attachment; filename=\"a b.pdf\"\r\n", "a b.pdf"},
        {"Content-Disposition: attachment;\r\n filename*=utf-8''caf%C3%A9.txt\r\n", "caf\xC3\xA9.txt"},
    };
    for (const auto &c : cases) {
        clsArpaMail *mail = NewMail(0, u"");
        ASSERT_EQ(Read(mail, std::string("Content-Type: multipart/mixed; boundary=m\r\n\r\n--m\r\n\r\nx\r\n--m\r\n") +
                             c.fields + "\r\nabc\r\n--m--\r\n"),
                  S_OK);
        ASSERT_EQ(mail->Attachments().Size(), 1u) << c.fields;
        EXPECT_EQ(mail->Attachments()[0]->Name(), c.name) << c.fields;
    }
}

TEST_F(MimeReader, ErrorsStopTheReadAndKeepWhatWasRead) {
    struct Case {
        const char *text, *message;
        size_t bodies;
    } cases[] = {
        {"Content-Type: multipart/mixed; boundary=\"\"\r\n\r\nx\r\n",
         "unexpected empty boundary in 'multipart/mixed; boundary=\"\"'", 0},
        {"Content-Type: multipart/mixed; boundary=m\r\n\r\n--m\r\n\r\nfirst\r\n--m\r\nContent-Type: multipart/mixed\r\n"
         "\r\n--m--\r\n",
         "unexpected empty boundary in 'multipart/mixed'", 1},
        {"Content-Type: text/plain\r\nContent-Transfer-Encoding: UTF-8\r\n\r\n\xC0\x80\r\n", "invalid UTF-8 encoding!",
         1},
    };
    for (const Case &c : cases) {
        clsArpaMail *mail = NewMail(0, u"");
        EXPECT_EQ(Read(mail, c.text), E_UNEXPECTED) << c.text;
        EXPECT_EQ(ErrorText().substr(0, strlen(c.message)), c.message);
        EXPECT_EQ(mail->Bodies().Size(), c.bodies) << c.text;
    }
}

std::string Nested(int levels) {
    std::string text;
    for (int i = 0; i < levels; ++i)
        text += "Content-Type: multipart/mixed; boundary=b" + std::to_string(i) + "\r\n\r\n--b" + std::to_string(i) + "\r\n";
    return text + "Content-Type: text/plain\r\n\r\ninnermost\r\n";
}

TEST_F(MimeReader, NestingIsBoundedAndWhatWasReadStays) {
    clsArpaMail *deep = NewMail(0, u"");
    ASSERT_EQ(Read(deep, Nested(64)), S_OK) << ErrorText();
    ASSERT_EQ(deep->Bodies().Size(), 1u);
    EXPECT_EQ(BodyBytes(deep->Bodies()[0]), "innermost\r\n");

    clsArpaMail *tooDeep = NewMail(0, u"");
    EXPECT_EQ(Read(tooDeep, "Subject: deep\r\n" + Nested(65)), E_UNEXPECTED);
    EXPECT_EQ(ErrorText().substr(0, 50), "unexpected nesting of more than 64 multipart level");
    EXPECT_EQ(tooDeep->Subject(), "deep");

    // Thousands of levels fail the same way instead of overflowing the stack.
    clsArpaMail *hostile = NewMail(0, u"");
    EXPECT_EQ(Read(hostile, Nested(5000)), E_UNEXPECTED);
}

TEST_F(MimeReader, CookieGetsTheMessageIdOnce) {
    clsArpaMail *listed = NewMail(0, u"7");
    std::deque<String> head{"Message-ID: <id@x>", "Subject: s", "", "body"};
    ReadMail(*listed, head, 0, kReadHeadersOnly, 0);
    EXPECT_EQ(listed->Cookie(), "7:<id@x>");
    EXPECT_TRUE(listed->Bodies().Empty());
    EXPECT_EQ(listed->State(), kMailNew); // the headers-only read does not load
    std::deque<String> whole{"Message-ID: <id@x>", "Subject: s", "", "body"};
    ReadMail(*listed, whole, 0, 0, 0);
    EXPECT_EQ(listed->Cookie(), "7:<id@x>");
    EXPECT_EQ(listed->State(), kMailLoaded);
    ASSERT_EQ(listed->Bodies().Size(), 1u);
}

TEST_F(MimeReader, WhatTheWriterWritesReadsBack) {
    std::string pdf("%PDF\x00\xFF", 6), txt = "one\r\ntwo";
    IKvMailBody *plain = AddBody(mail_, u"text/plain", "Hello\r\n.dot\r\n");
    AddBody(mail_, u"text/html", "<p>caf\xC3\xA9</p>");
    AddAttachment(plain, u"inner.pdf", &pdf);
    AddAttachment(mail_, u"t.txt", &txt);
    ASSERT_EQ(mail_->SetSubject(Bstr(u"R\u00e9sum\u00e9 of a long subject line that has to be folded somewhere")), S_OK);
    std::string text = Render(mail_);
    // The text is ready for SMTP: a receiver removes the dot-stuffing before reading.
    EXPECT_NE(text.find("\r\n..dot\r\n"), std::string::npos);
    std::string unstuffed;
    for (const std::string &line : mimetest::CrLfLines(text))
        unstuffed += (line.size() > 1 && line[0] == '.' ? line.substr(1) : line) + "\r\n";
    clsArpaMail *back = NewMail(0, u"");
    ASSERT_EQ(Read(back, unstuffed), S_OK) << ErrorText();
    ASSERT_EQ(back->Bodies().Size(), 2u);
    EXPECT_EQ(back->Bodies()[0]->MediaType().str(), "text/plain");
    // Every line of a part is stored with its line end, the last one too.
    EXPECT_EQ(BodyBytes(back->Bodies()[0]), "Hello\r\n.dot\r\n\r\n");
    EXPECT_EQ(BodyBytes(back->Bodies()[1]), "<p>caf\xC3\xA9</p>\r\n");
    // The wrapped attachment of the plain body comes back as the plain body's own.
    ASSERT_EQ(back->Bodies()[0]->Attachments().Size(), 1u);
    EXPECT_EQ(back->Bodies()[0]->Attachments()[0]->Name(), "inner.pdf");
    EXPECT_EQ(AttachmentBytes(back->Bodies()[0]->Attachments()[0]), pdf);
    ASSERT_EQ(back->Bodies()[1]->Attachments().Size(), 0u);
    ASSERT_EQ(back->Attachments().Size(), 1u);
    EXPECT_EQ(back->Attachments()[0]->Name(), "t.txt");
    EXPECT_EQ(AttachmentBytes(back->Attachments()[0]), txt) << "a file comes back as it was sent";
    EXPECT_EQ(back->Subject(), "R\xC3\xA9sum\xC3\xA9 of a long subject line that has to be folded somewhere");
}

} // namespace
} // namespace kv

namespace kv {
namespace {

// A delimiter counts only as a whole line, whatever ends the lines; a text
// in raw form (CR LF only) and any other text give the same mail, and so do
// the same lines handed over one by one.
TEST_F(MimeReader, DelimitersAreWholeLinesWhateverEndsTheLines) {
    const std::string crlf = "Content-Type: multipart/mixed; boundary=b\r\n\r\npre --b\r\n--b\r\n\r\n"
                             "one --b x\r\n--bx\r\n--b--x\r\n---b\r\n--b\r\nContent-Disposition: attachment\r\n\r\n"
                             "two\r\n--b--\r\nepilogue\r\n--b\r\n\r\nignored\r\n";
    auto replaced = [&](const char *lineEnd) {
        std::string text;
        for (const std::string &line : mimetest::CrLfLines(crlf)) text += line + lineEnd;
        return text;
    };
    for (const std::string &text : {crlf, replaced("\n"), replaced("\r")}) {
        clsArpaMail *mail = NewMail(0, u"");
        ASSERT_EQ(Read(mail, text), S_OK) << text;
        ASSERT_EQ(mail->Bodies().Size(), 1u) << text;
        EXPECT_EQ(BodyBytes(mail->Bodies()[0]), "one --b x\r\n--bx\r\n--b--x\r\n---b\r\n") << text;
        ASSERT_EQ(mail->Attachments().Size(), 1u) << text;
        EXPECT_EQ(AttachmentBytes(mail->Attachments()[0]), "two") << text;
        EXPECT_EQ(Render(mail), crlf) << text;
    }
    std::deque<String> lines;
    for (const std::string &line : mimetest::CrLfLines(crlf)) lines.push_back(line);
    clsArpaMail *listed = NewMail(0, u"");
    ReadMail(*listed, lines, 0, 0, 0);
    EXPECT_TRUE(lines.empty());
    ASSERT_EQ(listed->Bodies().Size(), 1u);
    EXPECT_EQ(BodyBytes(listed->Bodies()[0]), "one --b x\r\n--bx\r\n--b--x\r\n---b\r\n");
    ASSERT_EQ(listed->Attachments().Size(), 1u);
    EXPECT_EQ(Render(listed), crlf);
}

// A zero byte is a byte of its part; the parts after it are read too.
TEST_F(MimeReader, ZeroBytesDoNotEndTheText) {
    const std::string text("Content-Type: multipart/mixed; boundary=m\r\n\r\n--m\r\n\r\na\0b\r\n--m\r\n"
                           "Content-Disposition: attachment; filename=one\r\n\r\n1\r\n--m\r\n"
                           "Content-Disposition: attachment; filename=two\r\n\r\n2\r\n--m--\r\n",
                           178);
    ASSERT_EQ(Read(mail_, text), S_OK);
    ASSERT_EQ(mail_->Bodies().Size(), 1u);
    EXPECT_EQ(BodyBytes(mail_->Bodies()[0]), std::string("a\0b\r\n", 5));
    ASSERT_EQ(mail_->Attachments().Size(), 2u);
    EXPECT_EQ(AttachmentBytes(mail_->Attachments()[1]), "2");
    EXPECT_EQ(Render(mail_), text);
}

// Lines handed over one by one end only where they end: a lone CR or LF
// inside one stays in it, in the body and in the raw text.
TEST_F(MimeReader, HandedOverLinesKeepALoneCrOrLfInside) {
    std::deque<String> lines{"Subject: s", "", "x\ny", "z\r", "--"};
    ReadMail(*mail_, lines, 0, 0, 0);
    ASSERT_EQ(mail_->Bodies().Size(), 1u);
    EXPECT_EQ(BodyBytes(mail_->Bodies()[0]), "x\ny\r\nz\r\r\n--\r\n");
    EXPECT_EQ(Render(mail_), "Subject: s\r\n\r\nx\ny\r\nz\r\r\n--\r\n");
}

TEST(MimeTextScan, PiecesGiveTheAnswerOfTheWholeText) {
    const std::string x15(15, 'x'), y14(14, 'y');
    const struct {
        std::vector<std::string> pieces;
        bool raw;
    } cases[] = {
        {{}, true},
        {{"a\r", "\nb\r\n"}, true},
        {{"a\n"}, false},
        // Across the sixteen-byte blocks of the vector path.
        {{x15 + "\r\n" + y14 + "\r\n"}, true},
        {{x15 + "\r", "\n" + y14 + "\r\n"}, true},
        {{x15 + "\rx" + y14 + "\r\n"}, false},
    };
    for (const auto &c : cases) {
        clsTextScan scan;
        std::string whole;
        for (const std::string &piece : c.pieces) {
            scan.Feed(piece.data(), piece.size());
            whole += piece;
        }
        EXPECT_EQ(scan.RawForm(), c.raw) << whole;
        EXPECT_EQ(IsRawForm(whole), c.raw) << whole;
    }
}

} // namespace
} // namespace kv

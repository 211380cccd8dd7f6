#include <gtest/gtest.h>

#include <regex>

#include "mail/reader.h"
#include "mail_test_util.h"

namespace kv {
namespace {

using namespace std::string_literals;
using mailtest::Bstr;

class MimeReader : public mailtest::MimeFixture {
  protected:
    // What the reader made of a mail: "(subject)", each body as "[type:bytes"
    // with its attachments as " +name:bytes", then the mail's attachments.
    static std::string Shape(clsMail *mail) {
        auto bytes = [](IStream *s) { return ":" + testsupport::BytesOf(s); };
        std::string out = mail->Subject().empty() ? "" : "(" + mail->Subject() + ") ";
        for (clsMailBody *b : mail->Bodies()) {
            out += "[" + b->MediaType() + bytes(b->Contents());
            for (clsMailAttachment *a : b->Attachments()) out += " +" + a->Name() + bytes(a->Contents());
            out += "]";
        }
        for (clsMailAttachment *a : mail->Attachments()) out += " " + a->Name() + bytes(a->Contents());
        return out;
    }
};

std::string Encoded(const char *encoding, const char *lines) {
    return "Content-Type: text/plain\r\nContent-Transfer-Encoding: "s + encoding + "\r\n\r\n" + lines;
}

std::string Multi(const std::string &type, const std::string &rest) {
    return "Content-Type: multipart/" + type + "\r\n\r\n" + rest;
}

// A mixed multipart of a plain body and one more part.
std::string Mixed(const std::string &fields, const std::string &bytes) {
    return Multi("mixed; boundary=m", "--m\r\n\r\nx\r\n--m\r\n" + fields + "\r\n" + bytes + "\r\n--m--\r\n");
}

std::string Nested(int levels) {
    std::string text;
    for (int i = 0; i < levels; ++i)
        text += "Content-Type: multipart/mixed; boundary=b" + std::to_string(i) + "\r\n\r\n--b" + std::to_string(i) +
                "\r\n";
    return text + "Content-Type: text/plain\r\n\r\ninnermost\r\n";
}

const std::string kQpPart = "Content-Type: text/plain; name=a.txt\r\nContent-Transfer-Encoding: quoted-printable\r\n";

// Every line of a body keeps its line end; an attachment loses the one before
// the delimiter. The raw text stays as it came, each line ended by CR LF.
TEST_F(MimeReader, TextsBecomeBodiesAndAttachments) {
    const struct {
        std::string text, shape, error = "";
    } cases[] = {
        // Transfer encodings are named without regard to case.
        {Encoded("BASE64", "YWI="), "[text/plain:ab]"},
        {Encoded("quoted-printable", "a=3Db=\r\nc"), "[text/plain:a=bc\r\n]"},
        {Encoded("UTF-8", "caf\xC3\xA9"), "[text/plain:caf\xE9]"},
        {Encoded("7bit", "..\r\n.x"), "[text/plain:..\r\n.x\r\n]"},
        {Encoded("x-unknown", "YWJj"), "[text/plain:YWJj\r\n]"},
        // Only a hard line end before the delimiter is the delimiter's.
        {Mixed(kQpPart, "abc"), "[text/plain:x\r\n] a.txt:abc"},
        {Mixed(kQpPart, "abc= "), "[text/plain:x\r\n] a.txt:abc"},
        {Mixed(kQpPart, "abc=4"), "[text/plain:x\r\n] a.txt:abc=4"},
        {Mixed(kQpPart, "=4="), "[text/plain:x\r\n] a.txt:=4"},
        {Mixed(kQpPart, "x=3D"), "[text/plain:x\r\n] a.txt:x="},
        // The name of Content-Type, else the file name of Content-Disposition, as UTF-8.
        {Mixed("Content-Type: application/pdf\r\nContent-Disposition: attachment; filename=\"a b.pdf\"\r\n", "a"),
         "[text/plain:x\r\n] a b.pdf:a"},
        {Mixed("Content-Disposition: attachment;\r\n filename*=utf-8''caf%C3%A9.txt\r\n", "a"),
         "[text/plain:x\r\n] caf\xC3\xA9.txt:a"},
        // A zero byte is a byte of its part; the parts after it are read too.
        {Mixed("Content-Disposition: attachment; filename=one\r\n", "a\0b\r\n--m\r\n\r\n2"s),
         "[text/plain:x\r\n] one:a\0b :2"s},
        // A head without an empty line ends at the first line that is no field.
        {"From: Ann <ann@example.com>\r\nSubject: Hi\r\n\r\nline 1\r\nline 2\r\n",
         "(Hi) [text/plain:line 1\r\nline 2\r\n]"},
        {" lone continuation\r\nSubject: s\r\n\r\nx\r\n", "(s) [text/plain:x\r\n]"},
        {"Subject: s\r\nFrom here on\r\n\r\nx\r\n", "(s) [text/plain:From here on\r\n\r\nx\r\n]"},
        // mbox envelope lines: the first line, or one among the fields, is passed over.
        {"From someone@example.org Wed Oct  4 10:00:00 2006\r\nSubject: s\r\n\r\nx\r\n", "(s) [text/plain:x\r\n]"},
        {"X-A: 1\r\nFrom a@b.org  Thu Oct  3 12:25:11 2002\r\n more\r\nSubject: s\r\n\r\nx\r\n",
         "(s) [text/plain:x\r\n]"},
        // The MIME version is read as a number.
        {"MIME-Version: (produced by X) 1.0\r\n\r\nb\r\n", "[text/plain:b\r\n]"},
        {"MIME-Version: 1\r\n\r\nb\r\n", "[text/plain:b\r\n]"},
        {Multi("alternative; boundary=\"a\"", "preamble\r\n--a\r\nContent-Type: text/plain\r\n\r\np\r\n--a\r\n"
                                               "Content-Type: text/html\r\n\r\n<p>h</p>\r\n--a--\r\nepilogue\r\n"),
         "[text/plain:p\r\n][text/html:<p>h</p>\r\n]"},
        {Multi("related; boundary=r", "--r\r\nContent-Type: text/html\r\n\r\n<img>\r\n--r\r\nContent-Type: image/gif; "
                                      "name=a.gif\r\nContent-ID: <a@x>\r\n\r\nR0lG\r\n--r\r\nContent-Type: image/gif; "
                                      "name=b.gif\r\nContent-ID: <b@x>\r\n\r\nR0lG\r\n--r--\r\n"),
         "[text/html:<img>\r\n +a.gif:R0lG +b.gif:R0lG]"},
        // An attachment in an alternative goes to the last body, also from a mixed inside it.
        {Multi("mixed; boundary=m",
               "--m\r\nContent-Type: multipart/alternative; boundary=a\r\n\r\n--a\r\nContent-Type: text/plain\r\n\r\n"
               "p\r\n--a\r\nContent-Type: text/html\r\n\r\nh\r\n--a\r\nContent-Disposition: attachment; filename=z\r\n"
               "\r\nz\r\n--a--\r\n--m\r\nContent-Type: application/zip; name=\"f.zip\"\r\n"
               "Content-Transfer-Encoding: base64\r\n\r\nUEs=\r\n--m--\r\n"),
         "[text/plain:p\r\n][text/html:h\r\n +z:z] f.zip:PK"},
        {Multi("alternative; boundary=a", "--a\r\nContent-Type: multipart/mixed; boundary=m\r\n\r\n--m\r\n\r\np\r\n"
                                          "--m\r\nContent-Disposition: attachment; filename=in.pdf\r\n\r\nx\r\n"
                                          "--m--\r\n--a--\r\n"),
         "[text/plain:p\r\n +in.pdf:x]"},
        // Delimiters padded with blanks (RFC 2046); nothing after the closing one.
        {Multi("mixed; boundary=m", "--m \r\n\r\nx\r\n--m\t \r\nContent-Type: image/png; name=i.png\r\n\r\nabc\r\n"
                                    "--m-- \r\n--m\r\n\r\nepilogue\r\n"),
         "[text/plain:x\r\n] i.png:abc"},
        {Multi("mixed; boundary=m", "--m\r\n\r\nx\r\n--m\r\nContent-Type: image/png; name=i.png\r\n\r\nabc\r\n"),
         "[text/plain:x\r\n] i.png:abc"},
        {Multi("mixed; boundary=m", "only a preamble\r\n"), ""},
        {Nested(64), "[text/plain:innermost\r\n]"},
        // An error stops the read; the head and the parts read before it stay, and so does the raw text.
        {"Subject: s\r\nMIME-Version: 2.0\r\n\r\nbody\r\n", "(s) ", "unexpected MIME version 2.0"},
        {Multi("mixed; boundary=\"\"", "x\r\n"), "", "unexpected empty boundary in 'multipart/mixed; boundary=\"\"'"},
        {Mixed("Content-Type: multipart/mixed\r\n", ""), "[text/plain:x\r\n]",
         "unexpected empty boundary in 'multipart/mixed'"},
        {Encoded("UTF-8", "\xC0\x80\r\n"), "[text/plain:]", "invalid UTF-8 encoding!"},
        {"Subject: deep\r\n" + Nested(65), "(deep) ", "unexpected nesting of more than 64 multipart level"},
        // Thousands of levels fail the same way instead of overflowing the stack.
        {Nested(5000), "", "unexpected nesting of more than 64 multipart level"},
    };
    for (const auto &c : cases) {
        clsArpaMail *mail = NewMail(0, u"");
        EXPECT_EQ(Read(mail, c.text), c.error.empty() ? S_OK : E_UNEXPECTED) << c.text << ErrorText();
        EXPECT_EQ(ErrorText().substr(0, c.error.size()), c.error);
        EXPECT_EQ(Shape(mail), c.shape) << c.text;
        if (c.error.empty()) {
            EXPECT_EQ(mail->State(), kMailLoaded);
        }
        EXPECT_EQ(Render(mail), c.text.substr(c.text.size() - 2) == "\r\n" ? c.text : c.text + "\r\n");
    }
}

// Bodies are decoded into the room made for them beforehand; lone line ends
// (each becomes CR LF) can outgrow it, and the decoding goes on past it.
TEST_F(MimeReader, LoneLineEndsOutgrowTheRoomMadeForTheBody) {
    std::string lone, bytes;
    for (int i = 0; i < 100000; ++i) {
        lone += i % 3 ? "ab\n" : "a\r";
        bytes += i % 3 ? "ab\r\n" : "a\r\n";
    }
    ASSERT_EQ(Read(arpa_, "Content-Transfer-Encoding: quoted-printable\r\n\r\n" + lone), S_OK);
    EXPECT_TRUE(Shape(arpa_) == "[text/plain:" + bytes + "]");
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
        {"Subject: =?iso-8859-1?Q?Gr=FC=DF?=\r\n   aus    Berlin\r\n", "Subject", "Gr\xC3\xBC\xC3\x9F aus Berlin", {}},
        {"X-Note: a\\b\r\nx-note: x\r\n", "X-Note", "a\\b\x01x", {}},
        {"To: \"Doe, Jo\" <j@x.org>,\r\n\tb@x.org\r\n",
         "To",
         "\"Doe, Jo\" <j@x.org>, b@x.org",
         {"\"Doe, Jo\" <j@x.org>", "b@x.org"}},
        {"To: a@x.org\r\nTo: b@x.org\r\n", "to", "a@x.org, b@x.org", {"a@x.org", "b@x.org"}},
        {"To: undisclosed-recipients:;\r\n", "To", "undisclosed-recipients:;", {}},
        {"To: Team: Ann <a@x.org>, b@y.org;, c@z.org\r\n",
         "To",
         "Team: Ann <a@x.org>, b@y.org;, c@z.org",
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

// A delimiter counts only as a whole line, whatever ends the lines; a text
// in raw form (CR LF only) and any other text give the same mail, and so do
// the same lines handed over one by one.
TEST_F(MimeReader, LineEndsDelimitersAndTheCookie) {
    const std::string crlf = "Content-Type: multipart/mixed; boundary=b\r\n\r\npre --b\r\n--b\r\n\r\n"
                             "one --b x\r\n--bx\r\n--b--x\r\n---b\r\n--b\r\nContent-Disposition: attachment\r\n\r\n"
                             "two\r\n--b--\r\nepilogue\r\n--b\r\n\r\nignored\r\n";
    const std::string shape = "[text/plain:one --b x\r\n--bx\r\n--b--x\r\n---b\r\n] :two";
    for (const char *lineEnd : {"\r\n", "\n", "\r"}) {
        const std::string text = std::regex_replace(crlf, std::regex("\r\n"), lineEnd);
        clsArpaMail *mail = NewMail(0, u"");
        ASSERT_EQ(Read(mail, text), S_OK) << text;
        EXPECT_EQ(Shape(mail), shape) << text;
        EXPECT_EQ(Render(mail), crlf) << text;
    }
    std::deque<String> lines;
    for (size_t at = 0, end; (end = crlf.find("\r\n", at)) != std::string::npos; at = end + 2)
        lines.push_back(crlf.substr(at, end - at));
    clsArpaMail *listed = NewMail(0, u"");
    ReadMail(*listed, lines, 0, 0, 0);
    EXPECT_EQ(Shape(listed), shape);
    EXPECT_EQ(Render(listed), crlf);
    // Lines handed over one by one end only where they end: a lone CR or LF inside one stays in it. The
    // cookie gets the Message-ID once, from the headers-only read of a listing (no load) or the whole one.
    clsArpaMail *cookie = NewMail(0, u"7");
    std::deque<String> whole{"Message-ID: <id@x>", "Subject: s", "", "x\ny", "z\r", "--"}, head = whole;
    ReadMail(*cookie, head, 0, kReadHeadersOnly, 0);
    EXPECT_EQ(cookie->Cookie(), "7:<id@x>");
    EXPECT_EQ(Shape(cookie), "(s) ");
    EXPECT_EQ(cookie->State(), kMailNew);
    ReadMail(*cookie, whole, 0, 0, 0);
    EXPECT_EQ(cookie->Cookie(), "7:<id@x>");
    EXPECT_EQ(Shape(cookie), "(s) [text/plain:x\ny\r\nz\r\r\n--\r\n]");
    EXPECT_EQ(Render(cookie), "Message-ID: <id@x>\r\nSubject: s\r\n\r\nx\ny\r\nz\r\r\n--\r\n");
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

// The mail dialog without a window: fields, date, pages, "cid:" pictures in
// temporary files, write-back on Send, and the print layout.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

#include "mail_test_util.h"
#include "temp_registry.h"
#include "test_files.h"
#include "ui/mail_editor/mail_editor_model.h"

namespace kv::ui {
namespace {

using mailtest::Bstr;
using mailtest::MakeStream;
using testsupport::ReadFile;

struct FakeFormatter : DateFormatter {
    WString LongDate(const MailDate &d) const override {
        return Widen(Format("%02d.%02d.%04d", d.day, d.month, d.year), 65001);
    }
    WString TimeWithoutSeconds(const MailDate &d) const override {
        return Widen(Format("%02d:%02d", d.hour, d.minute), 65001);
    }
};

class MailEditorModel : public mailtest::MailFixture {
  protected:
    void Raw(const std::string &text) { ASSERT_EQ(mail_->SetRawText(MakeStream(text).get()), S_OK); }
    // The body's contents, read back.
    std::function<std::string()> AddBody(const char16_t *type, const std::string &content) {
        clsAutoRelease<IKvMailBody> body;
        EXPECT_EQ(mail_->CreateAndAddBody(body.put(), Bstr(type), 65001), S_OK);
        EXPECT_EQ(body->SetContents(MakeStream(content).get()), S_OK);
        return [body = std::move(body)] {
            clsAutoRelease<IStream> s = MakeStream("");
            body->GetContents(s.get());
            return std::string(StreamBytes(s.get()));
        };
    }

    FakeFormatter formatter_;
};

TEST(MailEditorDate, DisplayOfDateValues) {
    FakeFormatter f;
    const std::pair<const char16_t *, const char16_t *> dates[] = {
        {u"Fri, 04 Dec 2026 17:05:09 +0100", u"04.12.2026, 17:05"},
        {u"4 jan 2027 00:00:00 GMT", u"04.01.2027, 00:00"},
        {u"Mon, 31 MAY 1999 23:59:60 -0000", u"31.05.1999, 23:59"},
    };
    for (auto [value, shown] : dates) EXPECT_EQ(DateDisplay(value, f), shown) << Narrow(value, 65001);
    // Not a date: shown as it is.
    for (const char16_t *value : {u"Fri, 04 Dez 2026 17:05:09 +0100", u"Fri, 32 Dec 2026 17:05:09 +0100",
                                  u"Fri, 04 Dec 2026 24:05:09 +0100", u"Fri, 04 Dec 26 17:05:09 +0100",
                                  u"Fri, 04 Dec 2026 17:05 +0100", u""})
        EXPECT_EQ(DateDisplay(value, f), value) << Narrow(value, 65001);
}

TEST(MailEditorBrowser, NavigationAcceptsOnlyItsOwnFileBlankAndTheCancelPage) {
    for (const char16_t *target : {u"/tmp/kvmAB12.htm", u"file:///tmp/kvmab12.HTM", u"about:blank",
                                   u"res://ieframe.dll/navcancl.htm", u"res://ieframe.dll/NAVCANCL.HTM"})
        EXPECT_TRUE(AcceptNavigation(target, u"/tmp/kvmAB12.htm")) << Narrow(target, 65001);
    for (const char16_t *target : {u"http://example.org/", u"http://example.org/navcancl.html",
                                   u"file:///tmp/kvmAB12.htm.exe", u"about:blank#x", u"javascript:alert(1)"})
        EXPECT_FALSE(AcceptNavigation(target, u"/tmp/kvmAB12.htm")) << Narrow(target, 65001);
    EXPECT_TRUE(AcceptNavigation(u"file:///C:/Temp/kvm1.htm", u"c:\\temp\\KVM1.htm"));
    EXPECT_FALSE(AcceptNavigation(u"", u""));
}

TEST(MailEditorRecipients, SplitKeepsQuotedAndBracketedSeparators) {
    const struct { const char16_t *text; std::vector<WString> pieces; } cases[] = {
        {u"a@x; b@y", {u"a@x", u"b@y"}},
        {u"\"Doe, John\" <j@x>, k@y", {u"\"Doe, John\" <j@x>", u"k@y"}},
        {u"\"A;B\" <a@x>\tb@y;;", {u"\"A;B\" <a@x>", u"b@y"}},
        {u"\"q\\\"; x\" <q@x>", {u"\"q\\\"; x\" <q@x>"}},
        {u"  ;  ", {}},
        {u"", {}},
    };
    for (const auto &c : cases) EXPECT_EQ(SplitRecipients(c.text), c.pieces) << Narrow(c.text, 65001);
    EXPECT_EQ(JoinRecipients({u"a@x", u"b@y"}), u"a@x; b@y");
}

TEST_F(MailEditorModel, SendWritesBackModifiedFieldsAndReplacesRecipientLists) {
    ASSERT_EQ(mail_->SetSender(Bstr(u"old@example.org")), S_OK);
    ASSERT_EQ(mail_->AddRecipients(Bstr(u"to1@example.org\tto2@example.org")), S_OK);
    ASSERT_EQ(mail_->AddCCRecipients(Bstr(u"cc@example.org")), S_OK);
    ASSERT_EQ(mail_->SetSubject(Bstr(u"Subject")), S_OK);
    clsMailEditorModel m(mail_.get(), true, formatter_);
    EXPECT_TRUE(m.HasField(EditorField::BCC));
    ASSERT_EQ(m.Pages().size(), 1u);
    EXPECT_EQ(m.Pages()[0].kind, PageKind::NonDisplayable); // no body
    EXPECT_EQ(m.Pages()[0].text, u"No text available.");
    EXPECT_EQ(m.Field(EditorField::To), u"to1@example.org; to2@example.org");
    for (EditorField f :
         {EditorField::Sender, EditorField::To, EditorField::CC, EditorField::BCC, EditorField::Subject})
        EXPECT_FALSE(m.FieldModified(f));

    m.SetField(EditorField::To, u"to2@example.org; \"New, One\" <new@example.org>");
    m.SetField(EditorField::BCC, u"hidden@example.org");
    m.SetField(EditorField::CC, u"");
    m.SetField(EditorField::Subject, u"New subject");
    m.SetField(EditorField::Sender, u"\"Me\" <me@example.org>");
    EXPECT_EQ(m.Send(), 1);
    EXPECT_EQ(Recipients(&IKvMail2::EnumRecipients),
              (std::vector<std::string>{"to2@example.org", "\"New, One\" <new@example.org>"}));
    EXPECT_TRUE(Recipients(&IKvMail2::EnumCCRecipients).empty());
    EXPECT_EQ(Recipients(&IKvMail2::EnumBCCRecipients), (std::vector<std::string>{"hidden@example.org"}));
    Bstr sender, subject;
    mail_->GetSender(sender.put()), mail_->GetSubject(subject.put());
    EXPECT_EQ(sender.Utf8() + " | " + subject.Utf8(), "\"Me\" <me@example.org> | New subject");
}

const char kRelated[] =
    "From: a@example.org\r\nTo: b@example.org\r\nSubject: pics\r\nMIME-Version: 1.0\r\n"
    "Content-Type: multipart/related; boundary=\"R\"\r\n\r\n"
    "--R\r\nContent-Type: text/html; charset=us-ascii\r\n\r\n"
    "<img src=\"cid:img1\"><img src='cid:img10'><a href=\"cid:img1\">again</a> cid:img1x"
    "<p style=\"background:url(cid:img10)\">\r\n"
    "--R\r\nContent-Type: image/png\r\nContent-ID: <img1>\r\nContent-Transfer-Encoding: base64\r\n\r\n"
    "UE5HMQ==\r\n"
    "--R\r\nContent-Type: image/gif\r\nContent-ID: <img10>\r\nContent-Transfer-Encoding: base64\r\n\r\n"
    "R0lGMTA=\r\n"
    "--R--\r\n";

TEST_F(MailEditorModel, CidPicturesAreWrittenToTemporaryFilesThatCloseRemoves) {
    Raw(kRelated);
    std::string htmlFile, text;
    std::vector<std::string> files;
    {
        clsMailEditorModel m(mail_.get(), false, formatter_);
        ASSERT_EQ(m.Pages().size(), 1u);
        const EditorPage &p = m.Pages()[0];
        ASSERT_EQ(p.kind, PageKind::Html);
        htmlFile = p.htmlFile;
        ASSERT_GT(htmlFile.size(), 4u);
        EXPECT_EQ(htmlFile.substr(htmlFile.size() - 4), ".htm");
        text = ReadFile(htmlFile);
        EXPECT_EQ(text.find("cid:img1\""), std::string::npos) << text;
        EXPECT_EQ(text.find("cid:img10"), std::string::npos) << text;
        EXPECT_NE(text.find("cid:img1x"), std::string::npos) << text; // another id is left alone

        // Every reference points at a file with the picture's bytes.
        for (size_t at = 0; (at = text.find("file://", at)) != std::string::npos;) {
            size_t end = text.find_first_of("\"')", at);
            files.push_back(text.substr(at + 7, end - at - 7));
            at = end;
        }
        ASSERT_EQ(files.size(), 4u) << text;
        EXPECT_EQ(files[0], files[2]);
        EXPECT_EQ(files[1], files[3]);
        EXPECT_EQ(ReadFile(files[0]), "PNG1");
        EXPECT_EQ(ReadFile(files[1]), "GIF10");
        EXPECT_EQ(files[1].substr(files[1].size() - 4), ".gif");
        // The printout shows the same pictures; its file goes with the others.
        EXPECT_NE(m.HtmlPrintoutOf(0).find(Widen(files[1], 0)), WString::npos);
        String printout = m.WritePrintout(0);
        EXPECT_EQ(ReadFile(printout), "\xEF\xBB\xBF" + Narrow(m.HtmlPrintoutOf(0), 65001));
        files.insert(files.end(), {printout, htmlFile});
    }
    for (const std::string &f : files) EXPECT_FALSE(std::filesystem::exists(f)) << f;
}

// One page per body by its media type, in any case; only modified RTF pages are written back.
TEST_F(MailEditorModel, ModifiedRtfPageBecomesTheBodysText) {
    std::function<std::string()> bodies[] = {AddBody(u"Text/Plain", "Gr\xC3\xBC\xC3\x9F" "e"),
                                             AddBody(u"TEXT/RTF", "{\\rtf1 old}"),
                                             AddBody(u"application/rtf", "{\\rtf1 untouched}"),
                                             AddBody(u"text/enriched", "e")};
    clsMailEditorModel m(mail_.get(), true, formatter_);
    std::vector<PageKind> kinds;
    for (const EditorPage &p : m.Pages()) kinds.push_back(p.kind);
    EXPECT_EQ(kinds, (std::vector<PageKind>{PageKind::Plain, PageKind::Rtf, PageKind::Rtf, PageKind::Div}));
    EXPECT_EQ(m.Pages()[0].text, u"Gr\u00FC\u00DFe"); // decoded with the body's code page
    m.SetRtfPageContent(1, "{\\rtf1 new}");
    for (size_t page : {0, 5}) m.SetRtfPageContent(page, "{\\rtf1 nowhere}"); // not an RTF page, none
    EXPECT_EQ(m.Send(), 1);
    std::vector<std::string> contents;
    for (auto &body : bodies) contents.push_back(body());
    EXPECT_EQ(contents,
              (std::vector<std::string>{"Gr\xC3\xBC\xC3\x9F" "e", "{\\rtf1 new}", "{\\rtf1 untouched}", "e"}));
}

std::string Rows(const clsMailEditorModel &m) {
    std::string out;
    for (const PrintRow &r : m.PrintHeaderRows()) out += Narrow(r.label + u" " + r.value, 65001) + "\n";
    return out;
}

TEST_F(MailEditorModel, HeaderFieldsAndPrintLayout) {
    Raw("From: \"Ann\" <ann@example.org>\r\nTo: bob@example.org, \"Doe, Carl\" <carl@example.org>\r\n"
        "Cc: dan@example.org\r\nSubject: S\r\nDate: Tue, 01 Dec 2026 08:09:10 +0000\r\n"
        "MIME-Version: 1.0\r\nContent-Type: multipart/mixed; boundary=\"M\"\r\n\r\n"
        "--M\r\nContent-Type: multipart/alternative; boundary=\"A\"\r\n\r\n"
        "--A\r\nContent-Type: text/plain\r\n\r\nplain\r\n"
        "--A\r\nContent-Type: text/html\r\n\r\n<p>html</p>\r\n"
        "--A\r\nContent-Type: text/x-other\r\n\r\nother\r\n--A--\r\n"
        "--M\r\nContent-Type: application/octet-stream; name=\"one.bin\"\r\n"
        "Content-Disposition: attachment; filename=\"one.bin\"\r\n\r\nx\r\n--M--\r\n");
    clsMailEditorModel view(mail_.get(), false, formatter_);
    EXPECT_EQ(Rows(view), "Sender: \"Ann\" <ann@example.org>\nDate: 01.12.2026, 08:09\n"
                          "To: bob@example.org; \"Doe, Carl\" <carl@example.org>\nCC: dan@example.org\nSubject: S\n"
                          "Attachment: one.bin\n");
    // The read-only form writes nothing back.
    view.SetField(EditorField::Subject, u"changed");
    EXPECT_EQ(view.Send(), 0);
    Bstr subject;
    EXPECT_TRUE(mail_->GetSubject(subject.put()) == S_OK && subject.Utf8() == "S");
    std::vector<PrintItem> items = view.PrintBodies();
    ASSERT_EQ(items.size(), 3u);
    EXPECT_EQ(items[0].kind, PrintItem::RichEditPage);
    EXPECT_EQ(items[1].text, u"(See separate printout)");
    EXPECT_EQ(items[2].text, u"(unknown format)");
    EXPECT_EQ(PrintPageHeader(u"Mail 01.12.2026", 3), u"Mail 01.12.2026\t-3-");

    // The edit form has a BCC row; without attachments there is no row, with two the label is plural.
    Raw("Subject: T\r\nDate: 2 Dec 2026 10:00:00 GMT\r\n\r\nx\r\n");
    EXPECT_EQ(Rows(clsMailEditorModel(mail_.get(), true, formatter_)),
              "Sender: \nDate: 02.12.2026, 10:00\nTo: \nCC: \nBCC: \nSubject: T\n");
    for (const char16_t *name : {u"a.txt", u"b.txt"}) {
        clsAutoRelease<IKvMailAttachment> a;
        ASSERT_TRUE(mail_->CreateAndAddAttachment(a.put()) == S_OK && a->SetName(Bstr(name)) == S_OK);
    }
    EXPECT_EQ(Rows(clsMailEditorModel(mail_.get(), false, formatter_)),
              "Sender: \nDate: 02.12.2026, 10:00\nTo: \nCC: \nSubject: T\nAttachments: a.txt, b.txt\n");
}

TEST(MailEditorPrint, HtmlPrintoutExactTextWithEscapedHeaderValues) {
    std::vector<PrintRow> rows = {{u"Sender:", u"\"Ann & Co\" <ann@example.org>"}, {u"To:", u"x@y\r\nz@w"}};
    WString page = HtmlPrintout(rows, u"<p>body</p>");
    EXPECT_EQ(page, u"<html><body><font face=\"Lucida Sans Unicode,Verdana,Arial,Helvetica\" size=-1>"
                    u"<table border=0>"
                    u"<tr><td><b><u>Sender:</u></b></td><td>&quot;Ann &amp; Co&quot; &lt;ann@example.org&gt;</td></tr>"
                    u"<tr><td><b><u>To:</u></b></td><td>x@y<br>z@w</td></tr>"
                    u"</table></font><br><hr><br><p>body</p></body></html>");
}

using MailEditorWindowSize = testsupport::TempRegistry;

TEST_F(MailEditorWindowSize, StoredSizeNotPositionIsRestored) {
    EXPECT_FALSE(ReadStoredWindowRect());
    StoreWindowRect({-10, 20, 630, 500});
    std::optional<WindowRect> stored = ReadStoredWindowRect();
    ASSERT_TRUE(stored);
    EXPECT_EQ(*stored, (WindowRect{-10, 20, 630, 500}));

    auto key = pal::RegOpen(pal::RegRoot::CurrentUser, u"Software\\Orvane\\orvnkv");
    ASSERT_TRUE(key);
    pal::RegValue v;
    ASSERT_TRUE(key->GetValue(u"RTFDlg.Position", v));
    EXPECT_EQ(v.type, pal::RegType::Binary);
    EXPECT_EQ(v.data, (std::vector<uint8_t>{0xF6, 0xFF, 0xFF, 0xFF, 20, 0, 0, 0, 0x76, 2, 0, 0, 0xF4, 1, 0, 0}));

    EXPECT_EQ(OpeningRect({100, 100, 400, 300}, stored), (WindowRect{100, 100, 740, 580}));
    EXPECT_FALSE(OpeningRect({-10, 20, 630, 500}, stored));
    EXPECT_FALSE(OpeningRect({0, 0, 640, 480}, stored)); // same size elsewhere: nothing to do
    EXPECT_FALSE(OpeningRect({0, 0, 10, 10}, WindowRect{5, 5, 5, 100}));

    // A value of the wrong length is no size.
    key = pal::RegCreate(pal::RegRoot::CurrentUser, u"Software\\Orvane\\orvnkv");
    key->SetBinary(u"RTFDlg.Position", std::vector<uint8_t>(15, 1));
    EXPECT_FALSE(ReadStoredWindowRect());
}

} // namespace
} // namespace kv::ui

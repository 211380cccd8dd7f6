// The mail dialog of orkv14.dll under Wine: Edit runs it on one thread, this
// thread drives it with window messages. What it shows and writes back is the
// model's (ui_mail_editor_model_test); here, that the window follows it.
// "--screenshot DIR": both forms in turn, each until DIR\editor-<form>.ready
// (the window rectangle) is gone again (scripts/screenshot-editor.sh).
#include <windows.h>
#include <richedit.h>

#include <filesystem>
#include <fstream>
#include <set>

#include "dialog_windows.h" // with commctrl, gtest, cstdio, string, vector
#include "dll_loader.h"
#include "orkv14.hpp"
#include "ui/mail_editor/win32/mail_editor_ids.h"

namespace {

using namespace uitest;
using orkv14::Ptr;

const char kMail[] =
    "From: \"Ada Sender\" <ada@example.org>\r\nTo: bob@example.org, carol@example.org\r\nCc: dave@example.org\r\n"
    "Subject: Quarterly figures\r\nDate: Tue, 03 Mar 2026 14:05:09 +0100\r\nMIME-Version: 1.0\r\n"
    "Content-Type: multipart/mixed; boundary=\"outer\"\r\n\r\n"
    "--outer\r\nContent-Type: multipart/alternative; boundary=\"alt\"\r\n\r\n"
    "--alt\r\nContent-Type: text/plain\r\n\r\nHello Bob\r\n"
    "--alt\r\nContent-Type: text/html\r\n\r\n<p>Hello Bob</p>\r\n--alt--\r\n"
    "--outer\r\nContent-Type: application/pdf\r\nContent-Disposition: attachment; filename=\"figures.pdf\"\r\n\r\n"
    "%PDF\r\n--outer--\r\n";

const wchar_t kRegistryKey[] = L"Software\\Orvane\\orvnkv";

std::set<std::string> TempFiles() {
    std::set<std::string> out;
    for (const auto &entry : std::filesystem::directory_iterator(std::filesystem::temp_directory_path()))
        if (std::string name = entry.path().filename().string(); name.rfind("kvm", 0) == 0) out.insert(name);
    return out;
}

SIZE SizeOf(const RECT &r) { return {r.right - r.left, r.bottom - r.top}; }

struct EditRun : DialogThread {
    EditRun(IKvMail2 *mail, bool editable) : DialogThread([=] { return mail->Edit(nullptr, 0, editable, 0); }) {}
};

void Click(HWND dialog, int id) {
    PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
}

// Types at the end of an edit field as a user would: the control marks itself changed.
void Type(HWND edit, const wchar_t *text, bool replace) {
    LRESULT end = GetWindowTextLengthW(edit);
    SendMessageW(edit, EM_SETSEL, replace ? 0 : end, end);
    SendMessageW(edit, EM_REPLACESEL, TRUE, reinterpret_cast<LPARAM>(text));
}

std::string BodyContents(IKvMailBody *body) {
    Ptr<IStream> stream = orkv14::MemoryStream({});
    return body->GetContents(stream.get()) == S_OK ? orkv14::ReadAll(stream.get()) : "";
}

Ptr<IKvMailBody> AddBody(IKvMail2 *mail, const char *type, const std::string &content) {
    Ptr<IKvMailBody> body;
    if (mail->CreateAndAddBody(body.put(), orkv14::Bstr(type).get(), 1252) == S_OK)
        body->SetContents(orkv14::MemoryStream(content).get());
    return body;
}

Ptr<IKvMail2> NewMail(IKvMailConnection2 *connection, const char *raw) {
    Ptr<IKvMail> mail;
    if (connection->CreateMail(0, L"", mail.put()) != S_OK) return {};
    if (raw && mail->SetRawText(orkv14::MemoryStream(raw).get()) != S_OK) return {};
    return mail.As<IKvMail2>();
}

struct Component {
    Component() {
        if (library_.Create(CLSID_KvComponent, IID_IKvSMTPSendConnection, connection_.put()) == S_OK)
            mail_ = NewMail(connection_.get(), kMail);
    }
    testsupport::Library library_{KV_LIBRARY_PATH};
    Ptr<IKvMailConnection2> connection_;
    Ptr<IKvMail2> mail_; // read from kMail
};

class MailEditorUi : public ::testing::Test, protected Component {
  protected:
    void SetUp() override { ASSERT_TRUE(mail_); }
    void SetStoredRect(const LONG *rect) {
        if (rect) RegSetKeyValueW(HKEY_CURRENT_USER, kRegistryKey, L"RTFDlg.Position", REG_BINARY, rect, 16);
        else RegDeleteKeyValueW(HKEY_CURRENT_USER, kRegistryKey, L"RTFDlg.Position");
    }
};

TEST_F(MailEditorUi, EditedSubjectAndRtfBodyAreWrittenBackOnSendOnly) {
    const std::string rtf = "{\\rtf1\\ansi\\deff0{\\fonttbl{\\f0 Arial;}}Hello {\\b bold} world\\par}";
    for (bool send : {true, false}) {
        SCOPED_TRACE(send ? "send" : "close");
        Ptr<IKvMail2> mail = NewMail(connection_.get(), nullptr);
        ASSERT_TRUE(mail);
        ASSERT_EQ(mail->SetSubject(orkv14::Bstr("Figures").get()), S_OK);
        Ptr<IKvMailBody> plain = AddBody(mail.get(), "text/plain", "Plain words");
        Ptr<IKvMailBody> formatted = AddBody(mail.get(), "text/rtf", rtf);
        ASSERT_TRUE(plain && formatted);
        {
            EditRun run(mail.get(), true);
            HWND dialog = run.Find();
            ASSERT_NE(dialog, nullptr);
            EXPECT_NE(GetDlgItem(dialog, IDC_MAIL_BCC), nullptr);
            Type(GetDlgItem(dialog, IDC_MAIL_SUBJECT), L"Figures, corrected", true);
            std::vector<HWND> edits = Windows(0, dialog, L"RichEdit20A");
            ASSERT_EQ(edits.size(), 2u);
            HWND plainEdit = Text(edits[0]) == L"Plain words" ? edits[0] : edits[1];
            HWND rtfEdit = plainEdit == edits[0] ? edits[1] : edits[0];
            EXPECT_EQ(Text(plainEdit), L"Plain words");
            EXPECT_EQ(Text(rtfEdit).substr(0, 16), L"Hello bold world");
            for (HWND e : {plainEdit, rtfEdit}) {
                // Plain or rich text (Wine's rich edit keeps its own undo and code-page modes).
                EXPECT_EQ(SendMessageW(e, EM_GETTEXTMODE, 0, 0) & (TM_PLAINTEXT | TM_RICHTEXT),
                          e == plainEdit ? TM_PLAINTEXT : TM_RICHTEXT);
                EXPECT_EQ(SendMessageW(e, EM_GETLIMITTEXT, 0, 0), 0x7FFFFFFF);
                EXPECT_EQ(SendMessageW(e, EM_GETOPTIONS, 0, 0) & 0x01009100, 0x01009100);
                EXPECT_EQ(GetWindowLongW(e, GWL_STYLE) & ES_READONLY, 0);
            }
            Type(rtfEdit, L" again", false);
            Click(dialog, send ? IDC_MAIL_SEND : IDC_MAIL_CLOSE);
            EXPECT_EQ(run.Finish(), send ? S_OK : S_FALSE);
        }
        orkv14::Bstr subject;
        mail->GetSubject(subject.put());
        EXPECT_EQ(subject.Utf8(), send ? "Figures, corrected" : "Figures");
        // Sent: the rich edit's text streamed out as RTF; closed: the body as it was.
        std::string after = BodyContents(formatted.get());
        auto has = [&](const char *text) { return after.find(text) != after.npos; };
        EXPECT_TRUE(send ? after.rfind("{\\rtf", 0) == 0 && has("again") && has("bold") : after == rtf) << after;
    }
}

// The read-only form: the mail without Bcc or Send, its files removed on close. Which stored rectangles
// are used is the model's; here the window stores its own, takes its size back but not its place, and
// keeps a tiny one usable.
TEST_F(MailEditorUi, ReadOnlyFormShowsTheMailAndReopensWithTheLastSizeButNotTheLastPositionNorATinyOne) {
    // No such window: the dialog cannot be created with it as its owner, a failure, not a cancel.
    EXPECT_EQ(mail_->Edit(reinterpret_cast<HWND>(uintptr_t(0x7FFF0F0)), 0, 1, 0), E_FAIL);
    SetStoredRect(nullptr);
    std::set<std::string> before = TempFiles();
    RECT first{};
    {
        EditRun run(mail_.get(), false);
        HWND dialog = run.Find();
        ASSERT_NE(dialog, nullptr);
        EXPECT_EQ(GetDlgItem(dialog, IDC_MAIL_BCC), nullptr);
        EXPECT_EQ(GetDlgItem(dialog, IDC_MAIL_BCC_LABEL), nullptr);
        EXPECT_EQ(GetDlgItem(dialog, IDC_MAIL_SEND), nullptr);
        EXPECT_EQ(Text(GetDlgItem(dialog, IDC_MAIL_SUBJECT)), L"Quarterly figures");
        EXPECT_EQ(Text(GetDlgItem(dialog, IDC_MAIL_TO)), L"bob@example.org; carol@example.org");
        EXPECT_EQ(Text(GetDlgItem(dialog, IDC_MAIL_CC)), L"dave@example.org");
        // The header's own clock time in the user's long date and short time.
        SYSTEMTIME st{2026, 3, 0, 3, 14, 5, 9, 0};
        char date[50], time[30], shown[128] = "";
        ASSERT_GT(GetDateFormatA(LOCALE_USER_DEFAULT, DATE_LONGDATE, &st, nullptr, date, sizeof date), 0);
        ASSERT_GT(GetTimeFormatA(LOCALE_USER_DEFAULT, TIME_NOSECONDS, &st, nullptr, time, sizeof time), 0);
        GetDlgItemTextA(dialog, IDC_MAIL_DATE, shown, sizeof shown);
        EXPECT_EQ(std::string(shown), std::string(date) + ", " + time);
        EXPECT_EQ(SendDlgItemMessageW(dialog, IDC_MAIL_PAGES, TCM_GETITEMCOUNT, 0, 0), 2); // which pages: the model's
        std::vector<HWND> edits = Windows(0, dialog, L"RichEdit20A");
        ASSERT_FALSE(edits.empty());
        for (HWND e : edits) EXPECT_NE(GetWindowLongW(e, GWL_STYLE) & ES_READONLY, 0);
        EXPECT_EQ(SendDlgItemMessageW(dialog, IDC_MAIL_ATTACHMENTS, LB_GETCOUNT, 0, 0), 1);
        // The HTML page in a file of its own (its contents are the model test's), gone on close.
        EXPECT_GT(TempFiles().size(), before.size());
        first = RectOf(dialog);
        SendMessageW(dialog, WM_SYSCOMMAND, SC_RESTORE, 0);
        SetWindowPos(dialog, nullptr, 20, 30, 900, 640, SWP_NOZORDER);
        Click(dialog, IDC_MAIL_CLOSE);
        EXPECT_EQ(run.Finish(), S_FALSE);
    }
    EXPECT_EQ(TempFiles(), before);
    LONG stored[4] = {};
    DWORD size = sizeof stored;
    ASSERT_EQ(
        RegGetValueW(HKEY_CURRENT_USER, kRegistryKey, L"RTFDlg.Position", RRF_RT_REG_BINARY, nullptr, stored, &size),
        ERROR_SUCCESS);
    EXPECT_EQ(std::vector<LONG>(stored, stored + 4), (std::vector<LONG>{20, 30, 920, 670}));
    const LONG tiny[] = {0, 0, 10, 10};
    for (bool isTiny : {false, true}) {
        SCOPED_TRACE(isTiny ? "tiny" : "900x640");
        if (isTiny) SetStoredRect(tiny);
        EditRun run(mail_.get(), false);
        RECT now = RectOf(run.Find());
        SIZE size = SizeOf(now), firstSize = SizeOf(first);
        // Where the dialog places itself, not the stored place.
        EXPECT_TRUE(now.left == first.left && now.top == first.top) << now.left << "," << now.top;
        bool expected = isTiny ? size.cx >= firstSize.cx / 2 && size.cy >= firstSize.cy / 2
                               : size.cx == 900 && size.cy == 640;
        EXPECT_TRUE(expected) << size.cx << "x" << size.cy;
        Click(run.Find(), IDC_MAIL_CLOSE);
        EXPECT_EQ(run.Finish(), S_FALSE);
    }
    SetStoredRect(nullptr);
}

int Screenshots(const std::string &dir) {
    Component component;
    if (!component.mail_) return 1;
    int failures = 0;
    for (bool editable : {true, false}) {
        EditRun run(component.mail_.get(), editable);
        HWND dialog = run.Find();
        if (!dialog) return 1;
        RECT r = RectOf(dialog);
        std::string ready = dir + "\\editor-" + (editable ? "editable" : "readonly") + ".ready";
        std::ofstream(ready) << r.left << ' ' << r.top << ' ' << r.right - r.left << ' ' << r.bottom - r.top << '\n';
        for (int i = 0; i < 600 && GetFileAttributesA(ready.c_str()) != INVALID_FILE_ATTRIBUTES; ++i) Sleep(100);
        Click(dialog, IDC_MAIL_CLOSE);
        if (run.Finish() != S_FALSE) ++failures;
    }
    return failures;
}

} // namespace

int main(int argc, char **argv) {
    if (argc == 3 && std::string(argv[1]) == "--screenshot") return Screenshots(argv[2]);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

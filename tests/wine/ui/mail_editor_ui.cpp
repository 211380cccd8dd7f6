// The mail dialog of orkv14.dll under Wine: Edit runs it on one thread, this
// thread drives it with window messages. The component is loaded as a host
// loads it, through LoadLibrary and the public header only.
//
// With "--screenshot DIR" it instead opens both forms in turn and, for each,
// writes DIR\editor-<form>.ready with the window rectangle and waits until
// that file is gone (scripts/screenshot-editor.sh takes the picture).
#include <windows.h>
#include <commctrl.h>
#include <richedit.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <set>
#include <string>
#include <vector>

#include "dll_loader.h"
#include "orkv14.hpp"
#include "ui/mail_editor/win32/mail_editor_ids.h"

namespace {

// A received HTML mail with a plain alternative, an inline "cid:" picture and an attachment.
const char kMail[] =
    "From: \"Ada Sender\" <ada@example.org>\r\n"
    "To: bob@example.org, carol@example.org\r\n"
    "Cc: dave@example.org\r\n"
    "Subject: Quarterly figures\r\n"
    "Date: Tue, 03 Mar 2026 14:05:09 +0100\r\n"
    "MIME-Version: 1.0\r\n"
    "Content-Type: multipart/mixed; boundary=\"outer\"\r\n"
    "\r\n"
    "--outer\r\n"
    "Content-Type: multipart/alternative; boundary=\"alt\"\r\n"
    "\r\n"
    "--alt\r\n"
    "Content-Type: text/plain; charset=us-ascii\r\n"
    "\r\n"
    "Hello Bob,\r\nthe figures are attached.\r\n"
    "--alt\r\n"
    "Content-Type: multipart/related; boundary=\"rel\"\r\n"
    "\r\n"
    "--rel\r\n"
    "Content-Type: text/html; charset=us-ascii\r\n"
    "\r\n"
    "<html><body><p>Hello Bob,</p><img src=\"cid:chart1@example.org\"><a href=\"http://example.org/\">x</a>"
    "<script>document.title='ran'</script></body></html>\r\n"
    "--rel\r\n"
    "Content-Type: image/png\r\n"
    "Content-ID: <chart1@example.org>\r\n"
    "Content-Transfer-Encoding: base64\r\n"
    "\r\n"
    "iVBORw0KGgoAAAANSUhEUgAAAAEAAAABCAYAAAAfFcSJAAAADUlEQVR42mNk+M9QDwADhgGAWjR9awAAAABJRU5ErkJggg==\r\n"
    "--rel--\r\n"
    "--alt--\r\n"
    "--outer\r\n"
    "Content-Type: application/pdf; name=\"figures-2026-q4.pdf\"\r\n"
    "Content-Disposition: attachment; filename=\"figures-2026-q4.pdf\"\r\n"
    "Content-Transfer-Encoding: base64\r\n"
    "\r\n"
    "JVBERi0xLjQK\r\n"
    "--outer--\r\n";

const wchar_t kRegistryKey[] = L"Software\\Orvane\\orvnkv";

std::wstring Text(HWND window) {
    wchar_t buffer[1024] = L"";
    if (window) GetWindowTextW(window, buffer, 1024);
    return buffer;
}

std::string TempDir() {
    char buffer[MAX_PATH + 1];
    DWORD n = GetTempPathA(sizeof buffer, buffer);
    return std::string(buffer, n);
}

// The component's temporary files ("kvm*") in the temp directory.
std::set<std::string> TempFiles() {
    std::set<std::string> out;
    WIN32_FIND_DATAA data;
    HANDLE find = FindFirstFileA((TempDir() + "kvm*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) return out;
    do out.insert(TempDir() + data.cFileName);
    while (FindNextFileA(find, &data));
    FindClose(find);
    return out;
}

// The component and one mail made from kMail.
class Component {
  public:
    Component() { library_.Create(CLSID_KvComponent, IID_IKvSMTPSendConnection, &connection_); }
    ~Component() {
        if (connection_) connection_->Release();
    }
    Component(const Component &) = delete;
    Component &operator=(const Component &) = delete;

    // A mail read from kMail, or an empty one.
    IKvMail2 *NewMail(bool received = true) {
        IKvMail *mail = nullptr;
        IKvMail2 *mail2 = nullptr;
        if (!connection_ || connection_->CreateMail(0, L"", &mail) != S_OK) return nullptr;
        if (!received) {
            mail->QueryInterface(IID_IKvMail2, reinterpret_cast<void **>(&mail2));
            mail->Release();
            return mail2;
        }
        if (mail->SetRawText(orkv14::MemoryStream(kMail).get()) == S_OK)
            mail->QueryInterface(IID_IKvMail2, reinterpret_cast<void **>(&mail2));
        mail->Release();
        return mail2;
    }

  private:
    testsupport::Library library_{KV_LIBRARY_PATH};
    IKvMailConnection2 *connection_ = nullptr;
};

// Edit on a thread of its own; this thread finds its window and drives it.
class EditRun {
  public:
    EditRun(IKvMail2 *mail, bool editable) : mail_(mail), editable_(editable) {
        thread_ = CreateThread(nullptr, 0, Run, this, 0, &threadId_);
    }
    ~EditRun() {
        if (thread_) {
            Finish();
            CloseHandle(thread_);
        }
    }
    EditRun(const EditRun &) = delete;
    EditRun &operator=(const EditRun &) = delete;

    // The dialog once it is visible; null when none came up (a hang guard, not a timing check).
    HWND Dialog() {
        for (int i = 0; i < 600 && thread_; ++i) {
            HWND found = nullptr;
            EnumThreadWindows(threadId_, FindDialog, reinterpret_cast<LPARAM>(&found));
            if (found) return found;
            if (WaitForSingleObject(thread_, 100) == WAIT_OBJECT_0) return nullptr;
        }
        return nullptr;
    }
    // Edit's result once the dialog is gone; E_PENDING when it did not end.
    HRESULT Finish() {
        if (WaitForSingleObject(thread_, 60000) != WAIT_OBJECT_0) return E_PENDING;
        return result_;
    }

  private:
    static BOOL CALLBACK FindDialog(HWND w, LPARAM p) {
        wchar_t cls[32] = L"";
        GetClassNameW(w, cls, 32);
        if (IsWindowVisible(w) && std::wstring(cls) == L"#32770") {
            *reinterpret_cast<HWND *>(p) = w;
            return FALSE;
        }
        return TRUE;
    }
    static DWORD WINAPI Run(void *p) {
        auto *self = static_cast<EditRun *>(p);
        self->result_ = self->mail_->Edit(nullptr, 0, self->editable_ ? 1 : 0, 0);
        return 0;
    }
    IKvMail2 *mail_;
    bool editable_;
    HANDLE thread_ = nullptr;
    DWORD threadId_ = 0;
    HRESULT result_ = E_UNEXPECTED;
};

void Click(HWND dialog, int id) {
    PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
}

// Types into an edit field as a user would: the control marks itself changed.
void Type(HWND edit, const wchar_t *text) {
    SendMessageW(edit, EM_SETSEL, 0, -1);
    SendMessageW(edit, EM_REPLACESEL, TRUE, reinterpret_cast<LPARAM>(text));
}

std::wstring TabText(HWND tabs, int index) {
    wchar_t buffer[64] = L"";
    TCITEMW item{};
    item.mask = TCIF_TEXT;
    item.pszText = buffer;
    item.cchTextMax = 64;
    SendMessageW(tabs, TCM_GETITEMW, WPARAM(index), reinterpret_cast<LPARAM>(&item));
    return buffer;
}

bool StoredRect(RECT &rect) {
    BYTE data[32];
    DWORD size = sizeof data, type = 0;
    HKEY key;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, kRegistryKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    LONG rc = RegQueryValueExW(key, L"RTFDlg.Position", nullptr, &type, data, &size);
    RegCloseKey(key);
    if (rc != ERROR_SUCCESS || type != REG_BINARY || size != 16) return false;
    memcpy(&rect, data, 16);
    return true;
}

class MailEditorUi : public ::testing::Test {
  protected:
    void SetUp() override {
        mail_ = component_.NewMail();
        ASSERT_NE(mail_, nullptr);
    }
    void TearDown() override {
        if (mail_) mail_->Release();
    }
    std::wstring Subject() {
        orkv14::Bstr b;
        EXPECT_EQ(mail_->GetSubject(b.put()), S_OK);
        return b.get() ? b.get() : L"";
    }
    std::vector<std::wstring> Recipients() {
        std::vector<std::wstring> out;
        IEnumString *e = nullptr;
        if (mail_->EnumRecipients(&e) != S_OK || !e) return out;
        LPOLESTR item;
        ULONG n;
        while (e->Next(1, &item, &n) == S_OK && n == 1) {
            out.push_back(item);
            CoTaskMemFree(item);
        }
        e->Release();
        return out;
    }

    Component component_;
    IKvMail2 *mail_ = nullptr;
};

TEST_F(MailEditorUi, ReadOnlyFormShowsTheMailWithoutBccOrSendAndRemovesItsFilesOnClose) {
    std::set<std::string> before = TempFiles();
    EditRun run(mail_, false);
    HWND dialog = run.Dialog();
    ASSERT_NE(dialog, nullptr);

    EXPECT_EQ(GetDlgItem(dialog, IDC_MAIL_BCC), nullptr);
    EXPECT_EQ(GetDlgItem(dialog, IDC_MAIL_BCC_LABEL), nullptr);
    EXPECT_EQ(GetDlgItem(dialog, IDC_MAIL_SEND), nullptr);
    EXPECT_EQ(Text(GetDlgItem(dialog, IDC_MAIL_CLOSE)), L"Close");
    EXPECT_EQ(Text(GetDlgItem(dialog, IDC_MAIL_SUBJECT)), L"Quarterly figures");
    EXPECT_EQ(Text(GetDlgItem(dialog, IDC_MAIL_TO)), L"bob@example.org; carol@example.org");
    EXPECT_EQ(Text(GetDlgItem(dialog, IDC_MAIL_CC)), L"dave@example.org");

    // The header's own clock time in the user's long date and short time.
    SYSTEMTIME st{};
    st.wYear = 2026, st.wMonth = 3, st.wDay = 3, st.wHour = 14, st.wMinute = 5, st.wSecond = 9;
    char date[50], time[30];
    ASSERT_GT(GetDateFormatA(LOCALE_USER_DEFAULT, DATE_LONGDATE, &st, nullptr, date, sizeof date), 0);
    ASSERT_GT(GetTimeFormatA(LOCALE_USER_DEFAULT, TIME_NOSECONDS, &st, nullptr, time, sizeof time), 0);
    char shown[128] = "";
    GetDlgItemTextA(dialog, IDC_MAIL_DATE, shown, sizeof shown);
    EXPECT_EQ(std::string(shown), std::string(date) + ", " + time);

    HWND tabs = GetDlgItem(dialog, IDC_MAIL_PAGES);
    ASSERT_EQ(SendMessageW(tabs, TCM_GETITEMCOUNT, 0, 0), 2);
    EXPECT_EQ(TabText(tabs, 0), L"&Plain text");
    EXPECT_EQ(TabText(tabs, 1), L"&HTML");
    EXPECT_EQ(SendDlgItemMessageW(dialog, IDC_MAIL_ATTACHMENTS, LB_GETCOUNT, 0, 0), 1);
    // The page and its picture in files of their own (their contents are the model test's), gone on close.
    EXPECT_GT(TempFiles().size(), before.size());
    Click(dialog, IDC_MAIL_CLOSE);
    EXPECT_EQ(run.Finish(), S_FALSE);
    EXPECT_EQ(TempFiles(), before);
}

struct EditCase {
    const char *name;
    int button;
    HRESULT result;
    const wchar_t *subjectAfter;
};

TEST_F(MailEditorUi, EditableFormWritesAChangedSubjectBackOnSendOnly) {
    const EditCase cases[] = {
        {"send", IDC_MAIL_SEND, S_OK, L"Figures, corrected"},
        {"cancel", IDC_MAIL_CLOSE, S_FALSE, L"Quarterly figures"},
    };
    for (const EditCase &c : cases) {
        SCOPED_TRACE(c.name);
        BSTR subject = SysAllocString(L"Quarterly figures");
        EXPECT_EQ(mail_->SetSubject(subject), S_OK);
        SysFreeString(subject);
        std::vector<std::wstring> recipients = Recipients();
        EditRun run(mail_, true);
        HWND dialog = run.Dialog();
        ASSERT_NE(dialog, nullptr);
        EXPECT_NE(GetDlgItem(dialog, IDC_MAIL_BCC), nullptr);
        EXPECT_EQ(Text(GetDlgItem(dialog, IDC_MAIL_SEND)), L"&Send");
        EXPECT_EQ(Text(GetDlgItem(dialog, IDC_MAIL_CLOSE)), L"Cancel");
        Type(GetDlgItem(dialog, IDC_MAIL_SUBJECT), L"Figures, corrected");
        Click(dialog, c.button);
        EXPECT_EQ(run.Finish(), c.result);
        EXPECT_EQ(Subject(), c.subjectAfter);
        EXPECT_EQ(Recipients(), recipients); // untouched fields are not written back
    }
}

TEST_F(MailEditorUi, ReopenedDialogHasTheLastSizeButNotTheLastPosition) {
    HKEY key;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, kRegistryKey, 0, KEY_SET_VALUE, &key) == ERROR_SUCCESS) {
        RegDeleteValueW(key, L"RTFDlg.Position");
        RegCloseKey(key);
    }
    RECT first{};
    {
        EditRun run(mail_, false);
        HWND dialog = run.Dialog();
        ASSERT_NE(dialog, nullptr);
        GetWindowRect(dialog, &first);
        SendMessageW(dialog, WM_SYSCOMMAND, SC_RESTORE, 0);
        SetWindowPos(dialog, nullptr, 20, 30, 900, 640, SWP_NOZORDER);
        Click(dialog, IDC_MAIL_CLOSE);
        EXPECT_EQ(run.Finish(), S_FALSE);
    }
    RECT stored{};
    ASSERT_TRUE(StoredRect(stored));
    EXPECT_EQ(stored.left, 20);
    EXPECT_EQ(stored.top, 30);
    EXPECT_EQ(stored.right - stored.left, 900);
    EXPECT_EQ(stored.bottom - stored.top, 640);
    {
        EditRun run(mail_, false);
        HWND dialog = run.Dialog();
        ASSERT_NE(dialog, nullptr);
        RECT now{};
        GetWindowRect(dialog, &now);
        EXPECT_EQ(now.right - now.left, 900);
        EXPECT_EQ(now.bottom - now.top, 640);
        EXPECT_EQ(now.left, first.left); // where the dialog places itself, not the stored place
        EXPECT_EQ(now.top, first.top);
        Click(dialog, IDC_MAIL_CLOSE);
        EXPECT_EQ(run.Finish(), S_FALSE);
    }
}

// Which stored rectangles are used is the model's; the window keeps a tiny one usable.
TEST_F(MailEditorUi, ATinyStoredSizeLeavesAUsableDialog) {
    HKEY key;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, kRegistryKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    RegDeleteValueW(key, L"RTFDlg.Position");
    SIZE natural{};
    for (bool tiny : {false, true}) {
        const LONG rect[] = {0, 0, 10, 10};
        if (tiny) {
            ASSERT_EQ(RegSetValueExW(key, L"RTFDlg.Position", 0, REG_BINARY, reinterpret_cast<const BYTE *>(rect),
                                     sizeof rect),
                      ERROR_SUCCESS);
        }
        EditRun run(mail_, false);
        HWND dialog = run.Dialog();
        ASSERT_NE(dialog, nullptr);
        RECT r;
        GetWindowRect(dialog, &r);
        if (!tiny) natural = {r.right - r.left, r.bottom - r.top};
        EXPECT_GE(r.right - r.left, natural.cx / 2);
        EXPECT_GE(r.bottom - r.top, natural.cy / 2);
        Click(dialog, IDC_MAIL_CLOSE);
        EXPECT_EQ(run.Finish(), S_FALSE);
    }
    RegCloseKey(key);
}

std::string BodyContents(IKvMailBody *body) {
    orkv14::Ptr<IStream> stream = orkv14::MemoryStream({});
    return body->GetContents(stream.get()) == S_OK ? orkv14::ReadAll(stream.get()) : "";
}

IKvMailBody *AddBody(IKvMail2 *mail, const wchar_t *type, const std::string &content) {
    IKvMailBody *body = nullptr;
    BSTR t = SysAllocString(type);
    HRESULT hr = mail->CreateAndAddBody(&body, t, 1252);
    SysFreeString(t);
    if (hr == S_OK) body->SetContents(orkv14::MemoryStream(content).get());
    return body;
}

BOOL CALLBACK CollectRichEdits(HWND w, LPARAM p) {
    char cls[32] = "";
    GetClassNameA(w, cls, sizeof cls);
    if (std::string(cls) == "RichEdit20A") reinterpret_cast<std::vector<HWND> *>(p)->push_back(w);
    return TRUE;
}

TEST_F(MailEditorUi, RichEditPagesAreSetUpAndAnEditedRtfBodyIsWrittenBackOnSendOnly) {
    const std::string rtf = "{\\rtf1\\ansi\\deff0{\\fonttbl{\\f0 Arial;}}Hello {\\b bold} world\\par}";
    const struct {
        const char *name;
        bool editable;
        int button;
        HRESULT result;
        bool written;
    } cases[] = {
        {"send", true, IDC_MAIL_SEND, S_OK, true},
        {"cancel", true, IDC_MAIL_CLOSE, S_FALSE, false},
        {"read-only", false, IDC_MAIL_CLOSE, S_FALSE, false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        IKvMail2 *mail = component_.NewMail(false);
        ASSERT_NE(mail, nullptr);
        IKvMailBody *plain = AddBody(mail, L"text/plain", "Plain words");
        IKvMailBody *formatted = AddBody(mail, L"text/rtf", rtf);
        ASSERT_NE(plain, nullptr);
        ASSERT_NE(formatted, nullptr);
        {
            EditRun run(mail, c.editable);
            HWND dialog = run.Dialog();
            ASSERT_NE(dialog, nullptr);
            std::vector<HWND> edits;
            EnumChildWindows(dialog, CollectRichEdits, reinterpret_cast<LPARAM>(&edits));
            ASSERT_EQ(edits.size(), 2u);
            HWND plainEdit = nullptr, rtfEdit = nullptr;
            for (HWND e : edits) (Text(e) == L"Plain words" ? plainEdit : rtfEdit) = e;
            ASSERT_NE(plainEdit, nullptr);
            ASSERT_NE(rtfEdit, nullptr);
            EXPECT_EQ(Text(rtfEdit).substr(0, 16), L"Hello bold world");
            for (HWND e : {plainEdit, rtfEdit}) {
                // Plain or rich text (Wine's rich edit keeps its own undo and code-page modes).
                EXPECT_EQ(SendMessageW(e, EM_GETTEXTMODE, 0, 0) & (TM_PLAINTEXT | TM_RICHTEXT),
                          e == plainEdit ? TM_PLAINTEXT : TM_RICHTEXT);
                EXPECT_EQ(SendMessageW(e, EM_GETLIMITTEXT, 0, 0), 0x7FFFFFFF);
                EXPECT_EQ(SendMessageW(e, EM_GETOPTIONS, 0, 0) & 0x01009100, 0x01009100);
                EXPECT_EQ((GetWindowLongW(e, GWL_STYLE) & ES_READONLY) != 0, !c.editable);
            }
            LRESULT end = GetWindowTextLengthW(rtfEdit);
            SendMessageW(rtfEdit, EM_SETSEL, end, end);
            SendMessageW(rtfEdit, EM_REPLACESEL, TRUE, reinterpret_cast<LPARAM>(L" again"));
            Click(dialog, c.button);
            EXPECT_EQ(run.Finish(), c.result);
        }
        std::string after = BodyContents(formatted);
        if (c.written) {
            EXPECT_EQ(after.substr(0, 5), "{\\rtf");
            EXPECT_NE(after.find("again"), std::string::npos) << after;
            EXPECT_NE(after.find("bold"), std::string::npos) << after;
        } else {
            EXPECT_EQ(after, rtf);
        }
        EXPECT_EQ(BodyContents(plain), "Plain words"); // plain pages are never written back
        plain->Release();
        formatted->Release();
        mail->Release();
    }
}

TEST_F(MailEditorUi, ADialogThatCannotBeShownIsAFailureNotACancel) {
    // No such window: the dialog cannot be created with it as its owner.
    EXPECT_EQ(mail_->Edit(reinterpret_cast<HWND>(uintptr_t(0x7FFF0F0)), 0, 1, 0), E_FAIL);
}

// The screenshot mode: each form shown until the script has taken its picture.
int Screenshots(const std::string &dir) {
    Component component;
    IKvMail2 *mail = component.NewMail();
    if (!mail) return 1;
    int failures = 0;
    for (bool editable : {true, false}) {
        EditRun run(mail, editable);
        HWND dialog = run.Dialog();
        if (!dialog) return 1;
        RECT r;
        GetWindowRect(dialog, &r);
        std::string ready = dir + "\\editor-" + (editable ? "editable" : "readonly") + ".ready";
        if (FILE *f = std::fopen(ready.c_str(), "w")) {
            std::fprintf(f, "%ld %ld %ld %ld\n", r.left, r.top, r.right - r.left, r.bottom - r.top);
            std::fclose(f);
        }
        for (int i = 0; i < 600 && GetFileAttributesA(ready.c_str()) != INVALID_FILE_ATTRIBUTES; ++i) Sleep(100);
        Click(dialog, IDC_MAIL_CLOSE);
        if (run.Finish() != S_FALSE) ++failures;
    }
    mail->Release();
    return failures;
}

} // namespace

int main(int argc, char **argv) {
    if (argc == 3 && std::string(argv[1]) == "--screenshot") return Screenshots(argv[2]);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

// The configuration dialog of orkv14.dll under Wine, driven by window messages while a host thread calls
// ConfigDlg (run.sh: xvfb-run, an SMTP sink at KV_SMTP_PORT writing to KV_SMTP_SINK_DIR). Pages, defaults and
// stored values are the model's (ui_config_model_test); here, that the window follows the model.
// --show FLAGS PROVIDER PAGE SECONDS (scripts/screenshots.sh): one page with sample values; prints
// "READY left top width height" and holds the dialog SECONDS.
#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "config_dialog_ids.h"
#include "dialog_windows.h" // with windows, commctrl, gtest, chrono, cstdio, functional, string, thread, vector
#include "dll_loader.h"
#include "orkv14.hpp"
#include "test_files.h"
#include "ui/mail_editor/win32/mail_editor_ids.h"

namespace {

using namespace std::chrono_literals;
using namespace uitest;

// The component, as a host loads it; kept until the process ends.
testsupport::Library &Dll() {
    static testsupport::Library &library = *new testsupport::Library("orkv14.dll");
    return library;
}

// Returns once the thread takes messages again: its handler ended or a modal loop began.
void Settle(HWND window) { SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_NORMAL, 60000, nullptr); }

void Click(HWND frame, int button) { PostMessageW(GetDlgItem(frame, button), BM_CLICK, 0, 0); }

// A field's control, on whichever page it is (the ids are unique over all pages).
HWND Control(HWND frame, int control) {
    for (int page = IDC_CFG_PAGE_PROVIDER; page <= IDC_CFG_PAGE_IMAP; ++page)
        if (HWND found = GetDlgItem(GetDlgItem(frame, page), control)) return found;
    return nullptr;
}

std::vector<std::wstring> Tabs(HWND frame) {
    HWND tabs = GetDlgItem(frame, IDC_CFG_TABS);
    std::vector<std::wstring> titles;
    for (LRESULT i = 0, count = SendMessageW(tabs, TCM_GETITEMCOUNT, 0, 0); i < count; ++i) {
        wchar_t text[128] = L"";
        TCITEMW item{TCIF_TEXT, 0, 0, text, 128, 0, 0};
        SendMessageW(tabs, TCM_GETITEMW, WPARAM(i), reinterpret_cast<LPARAM>(&item));
        titles.push_back(text);
    }
    return titles;
}

std::vector<int> ShownPages(HWND frame) {
    std::vector<int> shown;
    for (int id = IDC_CFG_PAGE_PROVIDER; id <= IDC_CFG_PAGE_IMAP; ++id)
        if (HWND page = GetDlgItem(frame, id); page && IsWindowVisible(page)) shown.push_back(id);
    return shown;
}

// As the user picks entry `index` of a drop-down list: the selection, then the notification the list sends.
void ChooseEntry(HWND frame, int control, LRESULT index) {
    HWND list = Control(frame, control);
    SendMessageW(list, CB_SETCURSEL, WPARAM(index), 0);
    SendMessageW(GetParent(list), WM_COMMAND, MAKEWPARAM(control, CBN_SELCHANGE), reinterpret_cast<LPARAM>(list));
}

bool ChooseProvider(HWND frame, const std::wstring &display) {
    LRESULT at = SendMessageW(Control(frame, IDC_CFG_PROVIDER), CB_FINDSTRINGEXACT, WPARAM(-1),
                              reinterpret_cast<LPARAM>(display.c_str()));
    return at >= 0 && (ChooseEntry(frame, IDC_CFG_PROVIDER, at), true);
}

// A click on the tab of a page (found by the page's title, in any language).
bool SelectPage(HWND frame, int page) {
    std::vector<std::wstring> tabs = Tabs(frame);
    auto at = std::find(tabs.begin(), tabs.end(), Text(GetDlgItem(frame, page)));
    if (at == tabs.end()) return false;
    HWND control = GetDlgItem(frame, IDC_CFG_TABS);
    SendMessageW(control, TCM_SETCURSEL, WPARAM(at - tabs.begin()), 0);
    NMHDR header{control, UINT_PTR(IDC_CFG_TABS), UINT(TCN_SELCHANGE)};
    SendMessageW(frame, WM_NOTIFY, IDC_CFG_TABS, reinterpret_cast<LPARAM>(&header));
    return true;
}

void Type(HWND frame, int control, const std::wstring &text) {
    SendMessageW(Control(frame, control), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
}

using Host = std::function<void(IKvConfiguration2 *)>;

HRESULT ConfigDlg(DWORD flags, const Host &before = nullptr, const Host &after = nullptr) {
    orkv14::Ptr<IKvConfiguration2> configuration;
    HRESULT hr = Dll().Create(CLSID_KvComponent, IID_IKvConfiguration2, configuration.put());
    if (FAILED(hr)) return hr;
    if (before) before(configuration.get());
    hr = configuration->ConfigDlg(nullptr, 0, flags);
    if (after) after(configuration.get());
    return hr;
}

HWND Frame(const DialogThread &session) {
    return session.Find([](HWND window) { return GetDlgItem(window, IDC_CFG_TABS) != nullptr; });
}

// An option as SetParametersToRegistry writes it (a string per key).
const std::wstring kRegistryKey = L"software\\Orvane\\orvnkv\\orkv14-config-dialog-ui";

std::wstring Stored(const wchar_t *list, const wchar_t *name) {
    wchar_t data[2048] = L"";
    DWORD size = sizeof data;
    std::wstring key = kRegistryKey + list;
    return RegGetValueW(HKEY_CURRENT_USER, key.c_str(), name, RRF_RT_REG_SZ, nullptr, data, &size) ? L"(absent)" : data;
}

// Wine draws on the X display it inherits: run.sh runs the test under xvfb-run.
class ConfigDialogUi : public ::testing::Test {
  protected:
    void SetUp() override {
        const char *display = std::getenv("DISPLAY");
        ASSERT_TRUE(display && *display) << "no X display: run through run.sh (xvfb-run)";
        ASSERT_NE(Dll().getClassObject, nullptr) << "orkv14.dll beside the test: " << Dll().error;
    }
};

// The tabs follow the provider, the receiving protocol and the POP3 box. The test mail is reviewed in the
// mail editor that IKvMail::Edit opens, then its outcome shows in a message box modal to the dialog (a
// failure's text is the test mail's, test_mail_integration_test; it takes the same way to the box). OK
// writes what was typed, ticked and chosen (lists, boxes, the encryption lists that move the port);
// options left alone stay absent. Opened again over that, the fields show it.
TEST_F(ConfigDialogUi, TabsFollowTheChoicesTheTestMailIsSentAndOkWritesWhatWasEntered) {
    enum { None, StartTls, Implicit, Auto };
    const std::string port = testsupport::Env("KV_SMTP_PORT");
    ASSERT_FALSE(port.empty()) << "no SMTP sink: run through run.sh";
    RegDeleteTreeW(HKEY_CURRENT_USER, kRegistryKey.c_str());
    orkv14::Bstr user, global;
    {
        DialogThread session([&] {
            return ConfigDlg(0x1011, nullptr, [&](IKvConfiguration2 *configuration) {
                configuration->GetUserParameters(user.put());
                configuration->GetGlobalParameters(global.put());
                configuration->SetParametersToRegistry(L"orkv14-config-dialog-ui", 3);
            });
        });
        HWND frame = Frame(session);
        ASSERT_NE(frame, nullptr);
        // No provider chosen yet: only the provider page, and nothing to test.
        EXPECT_EQ(Tabs(frame).size(), 1u);
        EXPECT_FALSE(IsWindowEnabled(GetDlgItem(frame, IDC_CFG_TESTMAIL)));
        ASSERT_TRUE(ChooseProvider(frame, L"Extended MAPI"));
        EXPECT_EQ(Tabs(frame).size(), 2u);
        EXPECT_TRUE(IsWindowEnabled(GetDlgItem(frame, IDC_CFG_TESTMAIL)));
        ASSERT_TRUE(SelectPage(frame, IDC_CFG_PAGE_MAPIUSER));
        EXPECT_EQ(ShownPages(frame), (std::vector<int>{IDC_CFG_PAGE_MAPIUSER}));
        // The MAPI page goes away under the user's eyes; the first page takes its place.
        ASSERT_TRUE(ChooseProvider(frame, L"SMTP"));
        EXPECT_EQ(Tabs(frame).size(), 5u);
        EXPECT_EQ(ShownPages(frame), (std::vector<int>{IDC_CFG_PAGE_PROVIDER}));
        ChooseEntry(frame, IDC_CFG_RECEIVE_PROVIDER, 1); // IMAP: its page instead of the POP3 pages
        EXPECT_EQ(Tabs(frame).size(), 4u);
        ASSERT_TRUE(SelectPage(frame, IDC_CFG_PAGE_SMTP));
        HWND popFirst = Control(frame, IDC_CFG_SMTP_POP_BEFORE_SMTP);
        SendMessageW(popFirst, BM_CLICK, 0, 0);
        EXPECT_EQ(Tabs(frame).size(), 6u);
        EXPECT_EQ(ShownPages(frame), (std::vector<int>{IDC_CFG_PAGE_SMTP})); // the page stays
        SendMessageW(popFirst, BM_CLICK, 0, 0);
        EXPECT_EQ(Tabs(frame).size(), 4u);

        Type(frame, IDC_CFG_SMTP_SERVER_ADDRESS, L"127.0.0.1");
        Type(frame, IDC_CFG_SMTP_SERVER_PORT, std::wstring(port.begin(), port.end()));
        Type(frame, IDC_CFG_SMTP_SOCKET_TIMEOUT, L"5000");
        Type(frame, IDC_CFG_SMTP_SENDER_NAME, L"Erika Mustermann");
        Type(frame, IDC_CFG_SMTP_SENDER_ADDRESS, L"erika@example.org");
        Click(frame, IDC_CFG_TESTMAIL);
        Settle(frame);
        HWND review = session.Find([&](HWND window) { return window != frame; }, 5s);
        ASSERT_NE(review, nullptr);
        ASSERT_EQ(Text(review), L"e-mail");
        Click(review, IDC_MAIL_SEND);
        HWND box = session.Find(
            [&](HWND window) { return window != frame && window != review && GetDlgItem(window, 0xFFFF); }, 60s);
        ASSERT_NE(box, nullptr) << "no message box";
        EXPECT_EQ(Text(box), L"Mail Settings");
        EXPECT_EQ(Text(GetDlgItem(box, 0xFFFF)), L"The Testmail has been successfully sent.");
        EXPECT_FALSE(IsWindowEnabled(frame));
        Click(box, IDOK);
        ASSERT_NE(WaitFor([&]() -> HWND { return IsWindow(box) ? nullptr : HWND(1); }, 10s), nullptr);
        Settle(frame);
        EXPECT_TRUE(IsWindowEnabled(frame));

        ChooseEntry(frame, IDC_CFG_IMAP_TLS_MODE, Implicit);
        EXPECT_EQ(Text(Control(frame, IDC_CFG_IMAP_SERVER_PORT)), L"993");
        Type(frame, IDC_CFG_IMAP_SERVER_ADDRESS, L"imap.example.org");
        Type(frame, IDC_CFG_SMTP_SERVER_ADDRESS, L"mail.example.org");
        ChooseEntry(frame, IDC_CFG_SMTP_TLS_MODE, Implicit);
        Type(frame, IDC_CFG_SMTP_SERVER_PORT, L"2525"); // reaches the model before the next change of mode
        ChooseEntry(frame, IDC_CFG_SMTP_TLS_MODE, StartTls);
        EXPECT_EQ(Text(Control(frame, IDC_CFG_SMTP_SERVER_PORT)), L"2525");
        SendMessageW(Control(frame, IDC_CFG_SMTP_PROXY_RESOLVE), BM_CLICK, 0, 0);
        ChooseEntry(frame, IDC_CFG_SMTP_PROXY_TYPE, 2); // "Socks 5"
        EXPECT_NE(GetWindowLongW(Control(frame, IDC_CFG_SMTP_OAUTH2_TOKEN), GWL_STYLE) & ES_PASSWORD, 0) << "masked";
        Type(frame, IDC_CFG_SMTP_SERVER_PASSWORD, L"geheim");
        Click(frame, IDC_CFG_OK);
        ASSERT_EQ(session.Finish(), S_OK);
    }
    std::string mail = testsupport::ReadFile(testsupport::Env("KV_SMTP_SINK_DIR") + "\\1.eml");
    EXPECT_NE(mail.find("From: \"Erika Mustermann\" <erika@example.org>"), std::string::npos) << mail;
    // The provider choice goes to the global list (flag 0x1000 without 0x8000), the fields to the user list.
    EXPECT_EQ(Stored(L"\\Computer", L"Provider"), L"SMTP");
    const std::pair<const wchar_t *, const wchar_t *> expected[] = {
        {L"SMTP.ServerAddress", L"mail.example.org"}, {L"SMTP.ServerPort", L"2525"}, {L"SMTP.TLSMode", L"starttls"},
        {L"SMTP.ProxyResolve", L"remote"}, {L"SMTP.ProxyType", L"2"}, {L"ReceiveProvider", L"IMAP"},
        {L"IMAP.ServerAddress", L"imap.example.org"}, {L"IMAP.ServerPort", L"993"}, {L"IMAP.TLSMode", L"implicit"},
        {L"SMTP.TLSVerify", nullptr}, {L"SMTP.OAuth2Token", nullptr}, {L"IMAP.TLSVerify", nullptr}, // never touched
    };
    for (auto [key, value] : expected) EXPECT_EQ(Stored(L"\\User", key), value ? value : L"(absent)") << key;
    RegDeleteTreeW(HKEY_CURRENT_USER, kRegistryKey.c_str());

    DialogThread session([&] {
        return ConfigDlg(0x1011, [&](IKvConfiguration2 *configuration) {
            configuration->SetUserParameters(user.get());
            configuration->SetGlobalParameters(global.get());
        });
    });
    HWND frame = Frame(session);
    ASSERT_NE(frame, nullptr);
    EXPECT_EQ(Text(Control(frame, IDC_CFG_SMTP_SERVER_ADDRESS)), L"mail.example.org");
    EXPECT_EQ(Text(Control(frame, IDC_CFG_SMTP_SERVER_PASSWORD)), L"geheim");
    EXPECT_EQ(SendMessageW(Control(frame, IDC_CFG_SMTP_PROXY_RESOLVE), BM_GETCHECK, 0, 0), BST_CHECKED);
    for (auto [list, index] :
         {std::pair{IDC_CFG_SMTP_PROXY_TYPE, 2}, {IDC_CFG_SMTP_TLS_MODE, int(StartTls)}, {IDC_CFG_RECEIVE_PROVIDER, 1}})
        EXPECT_EQ(SendMessageW(Control(frame, list), CB_GETCURSEL, 0, 0), index) << list;
    Click(frame, IDC_CFG_CANCEL);
    EXPECT_EQ(session.Finish(), S_FALSE);
}

int Show(char **argv) {
    const std::string pages[] = {"provider", "mapi", "smtp", "smtpuser", "pop3", "pop3user"}; // in the ids' order
    const std::string provider = argv[3];
    auto page = std::find(std::begin(pages), std::end(pages), argv[4]);
    DWORD flags = DWORD(std::strtoul(argv[2], nullptr, 0));
    DialogThread session([flags] { return ConfigDlg(flags); });
    HWND frame = page != std::end(pages) ? Frame(session) : nullptr;
    if (!frame || (!provider.empty() && !ChooseProvider(frame, std::wstring(provider.begin(), provider.end()))))
        return std::fprintf(stderr, "no dialog with provider '%s' and page '%s'\n", argv[3], argv[4]), 1;
    for (auto [control, text] :
         {std::pair{IDC_CFG_SMTP_SERVER_ADDRESS, L"smtp.example.com"}, {IDC_CFG_SMTP_SERVER_USER, L"erika"},
          {IDC_CFG_SMTP_SERVER_PASSWORD, L"secret"}, {IDC_CFG_SMTP_OAUTH2_TOKEN, L"token"},
          {IDC_CFG_SMTP_SENDER_NAME, L"Erika Mustermann"}, {IDC_CFG_POP3_SERVER_ADDRESS, L"pop.example.com"},
          {IDC_CFG_SMTP_SENDER_ADDRESS, L"erika.mustermann@example.com"}, {IDC_CFG_POP3_SERVER_USER, L"erika"},
          {IDC_CFG_POP3_SERVER_PASSWORD, L"secret"}, {IDC_CFG_MAPI_PROFILE, L"Outlook"}})
        Type(frame, control, text);
    ChooseEntry(frame, IDC_CFG_SMTP_TLS_MODE, 1); // STARTTLS
    if (!SelectPage(frame, IDC_CFG_PAGE_PROVIDER + int(page - std::begin(pages))))
        return std::fprintf(stderr, "page '%s' is not shown\n", argv[4]), 1;
    SetForegroundWindow(frame);
    SendMessageW(frame, WM_NCACTIVATE, TRUE, 0); // drawn active even where the desktop gave no focus
    RedrawWindow(frame, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
    Settle(frame);
    RECT r = RectOf(frame);
    std::printf("READY %ld %ld %ld %ld\n", r.left, r.top, r.right - r.left, r.bottom - r.top);
    std::fflush(stdout);
    std::this_thread::sleep_for(std::chrono::seconds(std::atoi(argv[5])));
    return 0;
}

} // namespace

int main(int argc, char **argv) {
    if (argc == 6 && std::strcmp(argv[1], "--show") == 0) return Show(argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

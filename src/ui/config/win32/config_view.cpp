#include "ui/config/win32/config_view.h"

#include <windows.h>
#include <commctrl.h>

#include <new>
#include <string>
#include <vector>

#include "pal/system.h"
#include "pal/win32/module_handle.h"
#include "ui/config/config_window.h"
#include "ui/config/config_dialog.h"
#include "ui/config/win32/config_dialog_ids.h"
#include "ui/win32/dialog_resources.h"

namespace kv::ui::win32 {

namespace {

static_assert(IDC_CFG_SMTP_SERVER_ADDRESS == IDC_CFG_PROVIDER + int(FieldId::SmtpServerAddress));
static_assert(IDC_CFG_SMTP_POP_BEFORE_SMTP == IDC_CFG_PROVIDER + int(FieldId::SmtpPopBeforeSmtp));
static_assert(IDC_CFG_SMTP_SENDER_ADDRESS == IDC_CFG_PROVIDER + int(FieldId::SmtpSenderAddress));
static_assert(IDC_CFG_POP3_SERVER_ADDRESS == IDC_CFG_PROVIDER + int(FieldId::Pop3ServerAddress));
static_assert(IDC_CFG_POP3_PROXY_PASSWORD == IDC_CFG_PROVIDER + int(FieldId::Pop3ProxyPassword));
static_assert(IDC_CFG_SMTP_TLS_MODE == IDC_CFG_PROVIDER + int(FieldId::SmtpTlsMode));
static_assert(IDC_CFG_SMTP_OAUTH2_TOKEN == IDC_CFG_PROVIDER + int(FieldId::SmtpOAuth2Token));
static_assert(IDC_CFG_POP3_TLS_MODE == IDC_CFG_PROVIDER + int(FieldId::Pop3TlsMode));
static_assert(IDC_CFG_POP3_OAUTH2_TOKEN == IDC_CFG_PROVIDER + int(FieldId::Pop3OAuth2Token));
static_assert(IDC_CFG_POP3_PROXY_RESOLVE == IDC_CFG_PROVIDER + int(FieldId::Pop3ProxyResolve));
static_assert(IDC_CFG_RECEIVE_PROVIDER == IDC_CFG_PROVIDER + int(FieldId::ReceiveProvider));
static_assert(IDC_CFG_IMAP_TLS_MODE == IDC_CFG_PROVIDER + int(FieldId::ImapTlsMode));
static_assert(IDC_CFG_IMAP_OAUTH2_TOKEN == IDC_CFG_PROVIDER + int(FieldId::ImapOAuth2Token));

int ControlId(FieldId id) { return IDC_CFG_PROVIDER + int(id); }

struct PageTemplate {
    ConfigPage page;
    const char *resource;
    int id;
};

// In the order of the tabs.
const PageTemplate kPages[] = {
    {ConfigPage::Provider, "CONFIGDLGPROVIDER", IDC_CFG_PAGE_PROVIDER},
    {ConfigPage::MapiUser, "CONFIGDLGMAPIUSER", IDC_CFG_PAGE_MAPIUSER},
    {ConfigPage::SmtpServer, "CONFIGDLGSMTP", IDC_CFG_PAGE_SMTP},
    {ConfigPage::SmtpUser, "CONFIGDLGSMTPUSER", IDC_CFG_PAGE_SMTPUSER},
    {ConfigPage::Pop3Server, "CONFIGDLGPOP3", IDC_CFG_PAGE_POP3},
    {ConfigPage::Pop3User, "CONFIGDLGPOP3USER", IDC_CFG_PAGE_POP3USER},
    {ConfigPage::ImapServer, "CONFIGDLGIMAP", IDC_CFG_PAGE_IMAP},
};

// The module that holds the templates: the component's own file.
using pal::win32::ThisModule;

WString Decimal(LRESULT n) { return Widen(std::to_string(n), 65001); }

class clsConfigDialogView final : public IConfigDialogView {
  public:
    explicit clsConfigDialogView(HWND parent) : parent_(parent) {}

    bool Run(clsConfigDialog &dialog) override {
        dialog_ = &dialog;
        const DLGTEMPLATE *frame = DialogTemplate("CONFIGDLG");
        if (!frame) {
            failed_ = true;
            return false;
        }
        INT_PTR result =
            DialogBoxIndirectParamW(ThisModule(), frame, parent_, &FrameProc, reinterpret_cast<LPARAM>(this));
        // 0: the parent was no window; -1: the dialog could not be made.
        if (result <= 0) failed_ = true;
        frame_ = tabs_ = nullptr;
        pages_.clear();
        return result == IDOK && !failed_;
    }

    bool ReviewMail(IKvMail *mail) override {
        // The mail editor's result: S_OK when it was closed with Send.
        return mail && mail->Edit(frame_ ? frame_ : parent_, 0, kReviewEditable, kReviewFlags) == S_OK;
    }

    void ShowMessage(const String &text, uint32_t icon) override {
        HWND owner = frame_ ? frame_ : parent_;
        char caption[256] = "";
        if (frame_) GetWindowTextA(frame_, caption, int(sizeof caption));
        MessageBoxA(owner, text.c_str(), caption, MB_OK | UINT(icon));
    }

    bool Failed() const { return failed_; }

  private:
    struct Page {
        ConfigPage page;
        HWND window;
    };

    static clsConfigDialogView *From(HWND window) {
        return reinterpret_cast<clsConfigDialogView *>(GetWindowLongPtrW(window, DWLP_USER));
    }

    static INT_PTR CALLBACK FrameProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
        if (message == WM_INITDIALOG) SetWindowLongPtrW(window, DWLP_USER, lParam);
        clsConfigDialogView *view = From(window);
        return view ? view->Guarded(window, [&] { return view->OnFrame(window, message, wParam, lParam); }) : FALSE;
    }

    static INT_PTR CALLBACK PageProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
        if (message == WM_INITDIALOG) {
            SetWindowLongPtrW(window, DWLP_USER, lParam);
            return FALSE; // the frame keeps the focus
        }
        clsConfigDialogView *view = From(window);
        return view ? view->Guarded(window, [&] { return view->OnPage(message, wParam); }) : FALSE;
    }

    // Nothing is thrown through the system's frames: a failure ends the dialog
    // as one that could not be shown, the lists unchanged.
    template <class Body> INT_PTR Guarded(HWND window, Body body) {
        try {
            return body();
        } catch (...) {
            failed_ = true;
            if (HWND frame = frame_ ? frame_ : window) EndDialog(frame, IDCANCEL);
            return TRUE;
        }
    }

    INT_PTR OnFrame(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
        switch (message) {
        case WM_INITDIALOG: return Init(window);
        case WM_COMMAND:
            switch (LOWORD(wParam)) {
            case IDC_CFG_OK:
            case IDOK:
                Collect();
                EndDialog(window, IDOK);
                return TRUE;
            case IDC_CFG_CANCEL:
            case IDCANCEL: EndDialog(window, IDCANCEL); return TRUE;
            case IDC_CFG_TESTMAIL:
                if (HIWORD(wParam) == BN_CLICKED) {
                    Collect();
                    dialog_->SendTestMail();
                }
                return TRUE;
            }
            return FALSE;
        case WM_NOTIFY: {
            const NMHDR *header = reinterpret_cast<const NMHDR *>(lParam);
            if (header && header->hwndFrom == tabs_ && header->code == TCN_SELCHANGE) {
                ShowSelectedPage();
                return TRUE;
            }
            return FALSE;
        }
        }
        return FALSE;
    }

    INT_PTR OnPage(UINT message, WPARAM wParam) {
        if (message != WM_COMMAND) return FALSE;
        if ((LOWORD(wParam) == IDC_CFG_PROVIDER || LOWORD(wParam) == IDC_CFG_RECEIVE_PROVIDER) &&
            HIWORD(wParam) == CBN_SELCHANGE) {
            // What was entered stays with the provider it was entered for (the model stores it).
            Collect();
            RefreshPages();
            return TRUE;
        }
        if ((LOWORD(wParam) == IDC_CFG_SMTP_TLS_MODE || LOWORD(wParam) == IDC_CFG_POP3_TLS_MODE ||
             LOWORD(wParam) == IDC_CFG_IMAP_TLS_MODE) &&
            HIWORD(wParam) == CBN_SELCHANGE) {
            OnTlsModeChosen(FieldId(LOWORD(wParam) - IDC_CFG_PROVIDER));
            return TRUE;
        }
        if (LOWORD(wParam) == IDC_CFG_SMTP_POP_BEFORE_SMTP && HIWORD(wParam) == BN_CLICKED) {
            HWND box = Control(FieldId::SmtpPopBeforeSmtp);
            bool ticked = SendMessageW(box, BM_GETCHECK, 0, 0) == BST_CHECKED;
            Model().SetField(FieldId::SmtpPopBeforeSmtp, ticked ? u"1" : u"0");
            RefreshPages();
            return TRUE;
        }
        return FALSE;
    }

    clsConfigModel &Model() { return dialog_->Model(); }

    // The model moves the port between the standard ports; the port as typed so far goes in first.
    void OnTlsModeChosen(FieldId mode) {
        LRESULT at = SendMessageW(Control(mode), CB_GETCURSEL, 0, 0);
        if (at < 0 || size_t(at) >= TlsModeValues().size()) return;
        for (const StandardPorts &s : StandardPortTable()) {
            if (s.mode != mode) continue;
            HWND port = Control(s.port);
            if (port) Model().SetField(s.port, WindowText(port));
            Model().SetField(mode, Widen(TlsModeValues()[size_t(at)], 65001));
            if (port && WindowText(port) != Model().Field(s.port)) SetWindowTextW(port, Wide(Model().Field(s.port)));
        }
    }

    INT_PTR Init(HWND frame) {
        frame_ = frame;
        tabs_ = GetDlgItem(frame, IDC_CFG_TABS);
        for (const PageTemplate &p : kPages) {
            if (!Model().PageOffered(p.page)) continue;
            const DLGTEMPLATE *t = DialogTemplate(p.resource);
            HWND page = t ? CreateDialogIndirectParamW(ThisModule(), t, frame, &PageProc,
                                                       reinterpret_cast<LPARAM>(this))
                          : nullptr;
            if (!page) {
                failed_ = true;
                EndDialog(frame, IDCANCEL);
                return TRUE;
            }
            SetWindowLongPtrW(page, GWLP_ID, p.id);
            pages_.push_back({p.page, page});
        }
        Fill();
        RefreshPages();
        return TRUE;
    }

    // The control of a field; null when its page is not offered.
    HWND Control(FieldId id) const {
        ConfigPage page = ConfigField(id).page;
        for (const Page &p : pages_)
            if (p.page == page) return GetDlgItem(p.window, ControlId(id));
        return nullptr;
    }

    void Fill() {
        for (const FieldInfo &f : ConfigFields()) {
            HWND control = Control(f.id);
            if (!control) continue;
            const WString &value = Model().Field(f.id);
            switch (f.kind) {
            case FieldKind::Provider: {
                LRESULT selected = -1;
                const std::vector<ProviderEntry> &providers = dialog_->Providers();
                for (size_t i = 0; i < providers.size(); ++i) {
                    WString display = Widen(providers[i].display, 0);
                    LRESULT at = SendMessageW(control, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(Wide(display)));
                    SendMessageW(control, CB_SETITEMDATA, WPARAM(at), LPARAM(i));
                    if (EqualsNoCase(providers[i].code, Model().Provider())) selected = at;
                }
                SendMessageW(control, CB_SETCURSEL, WPARAM(selected), 0);
                break;
            }
            case FieldKind::Profile:
                for (const WString &profile : Model().Profiles())
                    SendMessageW(control, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(Wide(profile)));
                SetWindowTextW(control, Wide(value));
                break;
            case FieldKind::ProxyType:
                for (const String &name : ProxyTypeNames()) {
                    WString text = Widen(name, 0);
                    SendMessageW(control, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(Wide(text)));
                }
                SendMessageW(control, CB_SETCURSEL, WPARAM(std::stoi(Narrow(value, 65001))), 0);
                break;
            case FieldKind::ReceiveProvider: {
                const std::vector<String> &values = ReceiveProviderValues();
                for (size_t i = 0; i < values.size(); ++i) {
                    WString text = Widen(values[i], 0);
                    SendMessageW(control, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(Wide(text)));
                    if (value == text) SendMessageW(control, CB_SETCURSEL, WPARAM(i), 0);
                }
                break;
            }
            case FieldKind::TlsMode: {
                std::vector<String> names = TlsModeNamesFromResources();
                LRESULT selected = -1; // a value the transports would refuse: no choice shown
                for (size_t i = 0; i < names.size(); ++i) {
                    WString text = Widen(names[i], 0);
                    SendMessageW(control, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(Wide(text)));
                    if (value == Widen(TlsModeValues()[i], 65001)) selected = LRESULT(i);
                }
                SendMessageW(control, CB_SETCURSEL, WPARAM(selected), 0);
                break;
            }
            case FieldKind::Check:
            case FieldKind::Bool:
            case FieldKind::ProxyResolve:
                SendMessageW(control, BM_SETCHECK, value == u"1" ? BST_CHECKED : BST_UNCHECKED, 0);
                break;
            case FieldKind::Text:
            case FieldKind::Number: SetWindowTextW(control, Wide(value)); break;
            }
        }
    }

    // The controls into the model; the provider last, so that what was entered
    // is stored under the provider it was entered for.
    void Collect() {
        for (const FieldInfo &f : ConfigFields()) {
            HWND control = Control(f.id);
            if (!control) continue;
            switch (f.kind) {
            case FieldKind::Provider: break;
            case FieldKind::ProxyType: {
                LRESULT at = SendMessageW(control, CB_GETCURSEL, 0, 0);
                Model().SetField(f.id, Decimal(at < 0 ? 0 : at));
                break;
            }
            case FieldKind::ReceiveProvider: {
                LRESULT at = SendMessageW(control, CB_GETCURSEL, 0, 0);
                if (at >= 0 && size_t(at) < ReceiveProviderValues().size())
                    Model().SetField(f.id, Widen(ReceiveProviderValues()[size_t(at)], 0));
                break;
            }
            case FieldKind::TlsMode: {
                // No choice (a value the list does not know) leaves the option as it was.
                LRESULT at = SendMessageW(control, CB_GETCURSEL, 0, 0);
                if (at >= 0 && size_t(at) < TlsModeValues().size())
                    Model().SetField(f.id, Widen(TlsModeValues()[size_t(at)], 65001));
                break;
            }
            case FieldKind::Check:
            case FieldKind::Bool:
            case FieldKind::ProxyResolve:
                Model().SetField(f.id, SendMessageW(control, BM_GETCHECK, 0, 0) == BST_CHECKED ? u"1" : u"0");
                break;
            case FieldKind::Text:
            case FieldKind::Number:
            case FieldKind::Profile: Model().SetField(f.id, WindowText(control)); break;
            }
        }
        // A mode chosen without its notification may have moved a port in the model.
        for (const StandardPorts &s : StandardPortTable()) {
            HWND port = Control(s.port);
            if (port && WindowText(port) != Model().Field(s.port)) SetWindowTextW(port, Wide(Model().Field(s.port)));
        }
        if (HWND providers = Control(FieldId::Provider)) {
            LRESULT at = SendMessageW(providers, CB_GETCURSEL, 0, 0);
            if (at >= 0) {
                size_t index = size_t(SendMessageW(providers, CB_GETITEMDATA, WPARAM(at), 0));
                const String &code = dialog_->Providers().at(index).code;
                if (!EqualsNoCase(code, Model().Provider())) Model().SetField(FieldId::Provider, Widen(code, 65001));
            }
        }
    }

    // The tabs of the visible pages, the same page selected when it stays visible.
    void RefreshPages() {
        LRESULT current = SelectedPage();
        SendMessageW(tabs_, TCM_DELETEALLITEMS, 0, 0);
        int count = 0, select = 0;
        for (size_t i = 0; i < pages_.size(); ++i) {
            if (!Model().PageVisible(pages_[i].page)) continue;
            WString title = WindowText(pages_[i].window);
            TCITEMW item{};
            item.mask = TCIF_TEXT | TCIF_PARAM;
            item.pszText = const_cast<wchar_t *>(Wide(title));
            item.lParam = LPARAM(i);
            SendMessageW(tabs_, TCM_INSERTITEMW, WPARAM(count), reinterpret_cast<LPARAM>(&item));
            if (LRESULT(i) == current) select = count;
            ++count;
        }
        if (count) SendMessageW(tabs_, TCM_SETCURSEL, WPARAM(select), 0);
        LayoutPages();
        ShowSelectedPage();
        EnableWindow(GetDlgItem(frame_, IDC_CFG_TESTMAIL), Model().TestMailEnabled());
    }

    // Index into pages_ of the selected tab; -1 without tabs.
    LRESULT SelectedPage() const {
        LRESULT selected = SendMessageW(tabs_, TCM_GETCURSEL, 0, 0);
        if (selected < 0) return -1;
        TCITEMW item{};
        item.mask = TCIF_PARAM;
        if (!SendMessageW(tabs_, TCM_GETITEMW, WPARAM(selected), reinterpret_cast<LPARAM>(&item))) return -1;
        return item.lParam;
    }

    // Every page fills the tab control's display area, above the tab control.
    void LayoutPages() {
        RECT area;
        GetWindowRect(tabs_, &area);
        MapWindowPoints(nullptr, frame_, reinterpret_cast<POINT *>(&area), 2);
        SendMessageW(tabs_, TCM_ADJUSTRECT, FALSE, reinterpret_cast<LPARAM>(&area));
        for (const Page &p : pages_)
            SetWindowPos(p.window, HWND_TOP, area.left, area.top, area.right - area.left, area.bottom - area.top,
                         SWP_NOACTIVATE);
    }

    void ShowSelectedPage() {
        LRESULT selected = SelectedPage();
        HWND focus = GetFocus();
        for (size_t i = 0; i < pages_.size(); ++i) {
            bool show = LRESULT(i) == selected;
            // A control that keeps the focus while its page hides would take the keys unseen.
            if (!show && focus && IsChild(pages_[i].window, focus)) SetFocus(tabs_);
            ShowWindow(pages_[i].window, show ? SW_SHOW : SW_HIDE);
        }
    }

    HWND parent_;
    HWND frame_ = nullptr;
    HWND tabs_ = nullptr;
    clsConfigDialog *dialog_ = nullptr;
    std::vector<Page> pages_;
    bool failed_ = false;
};

} // namespace

} // namespace kv::ui::win32

namespace kv::ui {

HRESULT ShowConfigDialog(HWND parent, clsOptionList &global, clsOptionList &user, uint32_t flags) {
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_TAB_CLASSES | ICC_STANDARD_CLASSES};
    if (!InitCommonControlsEx(&controls)) return E_FAIL;
    ConfigDialogEnvironment environment;
    environment.account = ReadMailClientAccount();
    environment.computerName = Widen(pal::ComputerName(), 0);
    win32::clsConfigDialogView view(parent);
    HRESULT hr = RunConfigDialog(global, user, flags, view, environment);
    return view.Failed() ? E_FAIL : hr;
}

} // namespace kv::ui

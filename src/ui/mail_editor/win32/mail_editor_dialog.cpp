// clsMailEditor: the Win32 view of the mail dialog over clsMailEditorModel.
#include "ui/mail_editor/mail_editor_dialog.h"

#include <windows.h>
#include <commctrl.h>
#include <richedit.h>
#include <shellapi.h>

#include <new>
#include <vector>

#include "runtime/string_table.h"
#include "pal/system.h"
#include "pal/win32/module_handle.h"
#include "ui/mail_editor/mail_editor_model.h"
#include "ui/mail_editor/win32/browser_host.h"
#include "ui/mail_editor/win32/mail_editor_ids.h"
#include "ui/mail_editor/win32/mail_editor_view.h"
#include "ui/win32/dialog_resources.h"

namespace kv::ui {

namespace {

// The header fields and the edit controls that show them.
const struct {
    EditorField field;
    int id;
} kFieldControls[] = {{EditorField::Sender, IDC_MAIL_SENDER},
                      {EditorField::To, IDC_MAIL_TO},
                      {EditorField::CC, IDC_MAIL_CC},
                      {EditorField::BCC, IDC_MAIL_BCC},
                      {EditorField::Subject, IDC_MAIL_SUBJECT}};

class clsSystemDateFormatter : public DateFormatter {
  public:
    WString LongDate(const MailDate &d) const override {
        SYSTEMTIME st = ToSystemTime(d);
        char buffer[50];
        if (!GetDateFormatA(LOCALE_USER_DEFAULT, DATE_LONGDATE, &st, nullptr, buffer, sizeof buffer)) return WString();
        return Widen(buffer, 0);
    }
    WString TimeWithoutSeconds(const MailDate &d) const override {
        SYSTEMTIME st = ToSystemTime(d);
        char buffer[30];
        if (!GetTimeFormatA(LOCALE_USER_DEFAULT, TIME_NOSECONDS, &st, nullptr, buffer, sizeof buffer)) return WString();
        return Widen(buffer, 0);
    }

  private:
    static SYSTEMTIME ToSystemTime(const MailDate &d) {
        SYSTEMTIME st{};
        st.wYear = WORD(d.year);
        st.wMonth = WORD(d.month);
        st.wDay = WORD(d.day);
        st.wHour = WORD(d.hour);
        st.wMinute = WORD(d.minute);
        st.wSecond = WORD(d.second > 59 ? 59 : d.second);
        return st;
    }
};

// How a control follows the dialog's edges when it is resized.
enum Anchor : unsigned { kFixed = 0, kMoveX = 1, kSizeX = 2, kMoveY = 4, kSizeY = 8 };

unsigned AnchorOf(int id) {
    switch (id) {
    case IDC_MAIL_DATE: return kMoveX;
    case IDC_MAIL_SENDER:
    case IDC_MAIL_TO:
    case IDC_MAIL_CC:
    case IDC_MAIL_BCC:
    case IDC_MAIL_SUBJECT: return kSizeX;
    case IDC_MAIL_PAGES: return kSizeX | kSizeY;
    case IDC_MAIL_ATTACH_GROUP:
    case IDC_MAIL_ATTACHMENTS: return kSizeX | kMoveY;
    case IDC_MAIL_STATUS: return kMoveY;
    case IDC_MAIL_PRINT:
    case IDC_MAIL_SEND:
    case IDC_MAIL_CLOSE: return kMoveX | kMoveY;
    default: return kFixed;
    }
}

struct StreamSource {
    const char *data;
    size_t size;
    size_t position;
};

DWORD CALLBACK ReadSource(DWORD_PTR cookie, LPBYTE buffer, LONG wanted, LONG *given) {
    auto *source = reinterpret_cast<StreamSource *>(cookie);
    size_t n = source->size - source->position;
    if (wanted < 0) wanted = 0;
    if (n > size_t(wanted)) n = size_t(wanted);
    memcpy(buffer, source->data + source->position, n);
    source->position += n;
    *given = LONG(n);
    return 0;
}

DWORD CALLBACK WriteSink(DWORD_PTR cookie, LPBYTE buffer, LONG count, LONG *taken) {
    try {
        reinterpret_cast<String *>(cookie)->append(reinterpret_cast<const char *>(buffer), size_t(count > 0 ? count : 0));
    } catch (const std::bad_alloc &) {
        return 1; // stops the stream
    }
    *taken = count;
    return 0;
}

void StreamIn(HWND edit, const String &bytes, WPARAM format) {
    StreamSource source{bytes.data(), bytes.size(), 0};
    EDITSTREAM stream{};
    stream.dwCookie = reinterpret_cast<DWORD_PTR>(&source);
    stream.pfnCallback = ReadSource;
    SendMessageW(edit, EM_STREAMIN, format, reinterpret_cast<LPARAM>(&stream));
}

String Utf16Bytes(const WString &text) {
    return String(reinterpret_cast<const char *>(text.data()), text.size() * sizeof(char16_t));
}

INT_PTR CALLBACK PageProc(HWND, UINT message, WPARAM, LPARAM) { return message == WM_INITDIALOG; }

} // namespace

class clsMailEditor : public clsMailEditorView {
  public:
    clsMailEditor(IKvMail *mail, bool editable, HWND parent, DWORD flags)
        : model_(mail, editable, formatter_), parent_(parent), flags_(flags) {}
    ~clsMailEditor() {
        if (font_) DeleteObject(font_);
    }

    int Show() {
        INITCOMMONCONTROLSEX icc{sizeof icc, ICC_TAB_CLASSES};
        InitCommonControlsEx(&icc);
        const DLGTEMPLATE *dialog = DialogTemplate(model_.Editable() ? "MailEditor" : "MailEditorRO");
        if (!dialog) return -1;
        INT_PTR result = DialogBoxIndirectParamW(pal::win32::ThisModule(), dialog, parent_, DialogProc,
                                                 reinterpret_cast<LPARAM>(this));
        // 0: the parent was no window; -1: the dialog could not be made. The
        // dialog itself ends with 1 (sent) or IDCANCEL.
        return result <= 0 ? -1 : int(result);
    }

    // clsMailEditorView
    HWND Window() const override { return dlg_; }
    const clsMailEditorModel &Model() const override { return model_; }
    HWND PageEdit(size_t page) const override { return page < pages_.size() ? pages_[page].edit : nullptr; }
    Host *PageHost(size_t page) const override { return page < pages_.size() ? pages_[page].host : nullptr; }
    void SetStatus(int textId) override {
        WString text = textId ? Widen(LoadResourceString(textId), 0) : WString();
        SetDlgItemTextW(dlg_, IDC_MAIL_STATUS, Wide(text));
        UpdateWindow(GetDlgItem(dlg_, IDC_MAIL_STATUS));
    }
    void ShowPageFile(size_t page) override {
        if (page < pages_.size() && pages_[page].host && !model_.Pages()[page].htmlFile.empty())
            pages_[page].host->Show(WidePath(model_.Pages()[page].htmlFile));
    }
    String WritePrintout(size_t page) override { return model_.WritePrintout(page); }

  private:
    struct PageView {
        PageKind kind;
        HWND window = nullptr;
        HWND edit = nullptr;
        Host *host = nullptr;
    };
    struct Placement {
        HWND window;
        RECT rect;
        unsigned anchor;
    };

    static std::wstring WidePath(const String &path) {
        WString w = Widen(path, 0);
        return std::wstring(w.begin(), w.end());
    }

    static INT_PTR CALLBACK DialogProc(HWND dlg, UINT message, WPARAM wParam, LPARAM lParam) {
        if (message == WM_INITDIALOG) SetWindowLongPtrW(dlg, DWLP_USER, lParam);
        auto *self = reinterpret_cast<clsMailEditor *>(GetWindowLongPtrW(dlg, DWLP_USER));
        if (message == WM_MEASUREITEM) {
            // Comes before WM_INITDIALOG, while the list is created.
            auto *measure = reinterpret_cast<MEASUREITEMSTRUCT *>(lParam);
            measure->itemHeight = UINT(GetSystemMetrics(SM_CYICON) + 22);
            SetWindowLongPtrW(dlg, DWLP_MSGRESULT, TRUE);
            return TRUE;
        }
        if (!self) return FALSE;
        try {
            return self->Handle(dlg, message, wParam, lParam);
        } catch (const std::bad_alloc &) {
            if (message != WM_DESTROY) EndDialog(dlg, -1);
            return TRUE;
        }
    }

    INT_PTR Handle(HWND dlg, UINT message, WPARAM wParam, LPARAM lParam) {
        switch (message) {
        case WM_INITDIALOG:
            dlg_ = dlg;
            Initialise();
            return TRUE;
        case WM_SIZE:
            if (wParam != SIZE_MINIMIZED) Layout(LOWORD(lParam), HIWORD(lParam));
            return TRUE;
        case WM_GETMINMAXINFO: {
            auto *info = reinterpret_cast<MINMAXINFO *>(lParam);
            info->ptMinTrackSize.x = minSize_.cx;
            info->ptMinTrackSize.y = minSize_.cy;
            return TRUE;
        }
        case WM_NOTIFY: {
            auto *header = reinterpret_cast<NMHDR *>(lParam);
            if (header->idFrom == IDC_MAIL_PAGES && header->code == TCN_SELCHANGE)
                SelectPage(int(SendDlgItemMessageW(dlg, IDC_MAIL_PAGES, TCM_GETCURSEL, 0, 0)));
            return FALSE;
        }
        case WM_DRAWITEM:
            if (wParam == IDC_MAIL_ATTACHMENTS) {
                DrawAttachment(*reinterpret_cast<DRAWITEMSTRUCT *>(lParam));
                return TRUE;
            }
            return FALSE;
        case WM_COMMAND:
            switch (LOWORD(wParam)) {
            case IDC_MAIL_SEND:
                if (model_.Editable()) Send();
                return TRUE;
            case IDC_MAIL_PRINT: PrintMail(*this); return TRUE;
            case IDC_MAIL_CLOSE:
            case IDCANCEL: EndDialog(dlg, IDCANCEL); return TRUE;
            }
            return FALSE;
        case WM_CLOSE: EndDialog(dlg, IDCANCEL); return TRUE;
        case WM_DESTROY: Closing(); return FALSE;
        }
        return FALSE;
    }

    void Initialise() {
        RECT client;
        GetClientRect(dlg_, &client);
        clientSize_ = {client.right, client.bottom};
        RECT window;
        GetWindowRect(dlg_, &window);
        minSize_ = {(window.right - window.left) / 2, (window.bottom - window.top) / 2};
        for (HWND child = GetWindow(dlg_, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
            RECT r;
            GetWindowRect(child, &r);
            MapWindowPoints(nullptr, dlg_, reinterpret_cast<POINT *>(&r), 2);
            placements_.push_back({child, r, AnchorOf(GetDlgCtrlID(child))});
        }
        HDC screen = GetDC(dlg_);
        int dpi = GetDeviceCaps(screen, LOGPIXELSY);
        ReleaseDC(dlg_, screen);
        font_ = CreateFontW(-MulDiv(9, dpi, 72), 0, 0, 0, FW_NORMAL, FALSE, FALSE,
                            FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                            DEFAULT_PITCH, L"Lucida Sans Unicode");

        for (const auto &f : kFieldControls) {
            HWND edit = GetDlgItem(dlg_, f.id);
            if (!edit || !model_.HasField(f.field)) continue;
            SetWindowTextW(edit, Wide(model_.Field(f.field)));
            SendMessageW(edit, EM_SETMODIFY, FALSE, 0);
        }
        SetDlgItemTextW(dlg_, IDC_MAIL_DATE, Wide(model_.DateText()));

        CreatePages();
        FillAttachments();

        // The last size, at the position the dialog chose.
        WindowRect current{window.left, window.top, window.right, window.bottom};
        if (auto r = OpeningRect(current, ReadStoredWindowRect()))
            SetWindowPos(dlg_, nullptr, 0, 0, r->right - r->left, r->bottom - r->top,
                         SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
        GetClientRect(dlg_, &client);
        Layout(client.right, client.bottom);
        SelectPage(0);
    }

    void CreatePages() {
        HWND tabs = GetDlgItem(dlg_, IDC_MAIL_PAGES);
        const auto &pages = model_.Pages();
        for (size_t i = 0; i < pages.size(); ++i) {
            PageView view{pages[i].kind};
            const DLGTEMPLATE *page = DialogTemplate(PageResourceName(pages[i].kind));
            if (page) view.window = CreateDialogIndirectParamW(pal::win32::ThisModule(), page, dlg_, PageProc, 0);
            if (view.window) {
                SetWindowPos(view.window, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
                WString title = WindowText(view.window);
                TCITEMW item{};
                item.mask = TCIF_TEXT;
                item.pszText = const_cast<wchar_t *>(Wide(title));
                SendMessageW(tabs, TCM_INSERTITEMW, WPARAM(i), reinterpret_cast<LPARAM>(&item));
                if (pages[i].kind == PageKind::Plain || pages[i].kind == PageKind::Rtf) {
                    view.edit = GetDlgItem(view.window, IDC_PART_EDIT);
                    if (view.edit) SetUpRichEdit(view.edit, pages[i]);
                } else if (pages[i].kind == PageKind::Html) {
                    HWND placeholder = GetDlgItem(view.window, IDC_PART_BROWSER);
                    if (placeholder) {
                        view.host = new Host(placeholder, flags_);
                        if (!view.host->Create()) {
                            view.host->Release();
                            view.host = nullptr;
                        }
                    }
                }
            }
            pages_.push_back(view);
        }
        for (size_t i = 0; i < pages_.size(); ++i) ShowPageFile(i);
    }

    void SetUpRichEdit(HWND edit, const EditorPage &page) {
        bool rtf = page.kind == PageKind::Rtf;
        SendMessageW(edit, EM_FORMATRANGE, 0, 0);
        SendMessageW(edit, EM_EXLIMITTEXT, 0, 0x7FFFFFFF);
        // The mode only changes while the control is empty and has nothing to undo.
        SendMessageW(edit, EM_EMPTYUNDOBUFFER, 0, 0);
        SendMessageW(edit, EM_SETTEXTMODE, rtf ? 22 : 21, 0);
        SendMessageW(edit, EM_SETOPTIONS, ECOOP_OR, 0x01009100);
        if (font_) SendMessageW(edit, WM_SETFONT, reinterpret_cast<WPARAM>(font_), FALSE);
        if (rtf) StreamIn(edit, page.bytes, 18);
        if (!rtf || GetWindowTextLengthW(edit) == 0) StreamIn(edit, Utf16Bytes(page.text), 17);
        SendMessageW(edit, EM_SETMODIFY, FALSE, 0);
        if (!model_.Editable()) {
            SendMessageW(edit, EM_SETREADONLY, TRUE, 0);
            SendMessageW(edit, EM_SETBKGNDCOLOR, 0, GetSysColor(COLOR_3DFACE));
        }
    }

    void FillAttachments() {
        HWND list = GetDlgItem(dlg_, IDC_MAIL_ATTACHMENTS);
        if (!list) return;
        SendMessageW(list, LB_SETCOLUMNWIDTH, 120, 0);
        for (const WString &name : model_.AttachmentNames()) {
            SHFILEINFOA info{};
            HICON icon = nullptr;
            if (SHGetFileInfoA(Narrow(name, 0).c_str(), FILE_ATTRIBUTE_NORMAL, &info, sizeof info,
                               SHGFI_ICON | SHGFI_LARGEICON | SHGFI_USEFILEATTRIBUTES))
                icon = info.hIcon;
            if (icon) icons_.push_back(icon);
            LRESULT at = SendMessageW(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(Wide(name)));
            if (at >= 0) SendMessageW(list, LB_SETITEMDATA, WPARAM(at), reinterpret_cast<LPARAM>(icon));
        }
    }

    void DrawAttachment(const DRAWITEMSTRUCT &item) {
        if (item.itemID == UINT(-1)) {
            if (item.itemState & ODS_FOCUS) DrawFocusRect(item.hDC, &item.rcItem);
            return;
        }
        bool selected = (item.itemState & ODS_SELECTED) != 0;
        FillRect(item.hDC, &item.rcItem, GetSysColorBrush(selected ? COLOR_HIGHLIGHT : COLOR_WINDOW));
        int cx = GetSystemMetrics(SM_CXICON), cy = GetSystemMetrics(SM_CYICON);
        auto icon = reinterpret_cast<HICON>(SendMessageW(item.hwndItem, LB_GETITEMDATA, item.itemID, 0));
        if (icon && icon != reinterpret_cast<HICON>(LB_ERR))
            DrawIconEx(item.hDC, item.rcItem.left + (item.rcItem.right - item.rcItem.left - cx) / 2,
                       item.rcItem.top + 2, icon, cx, cy, 0, nullptr, DI_NORMAL);
        LRESULT length = SendMessageW(item.hwndItem, LB_GETTEXTLEN, item.itemID, 0);
        if (length > 0) {
            std::wstring name(size_t(length) + 1, L'\0');
            length = SendMessageW(item.hwndItem, LB_GETTEXT, item.itemID, reinterpret_cast<LPARAM>(&name[0]));
            RECT text{item.rcItem.left + 2, item.rcItem.top + cy + 4, item.rcItem.right - 2, item.rcItem.bottom - 2};
            SetBkMode(item.hDC, TRANSPARENT);
            SetTextColor(item.hDC, GetSysColor(selected ? COLOR_HIGHLIGHTTEXT : COLOR_WINDOWTEXT));
            DrawTextW(item.hDC, name.c_str(), int(length > 0 ? length : 0), &text,
                      DT_CENTER | DT_SINGLELINE | DT_PATH_ELLIPSIS | DT_NOPREFIX);
        }
        if (item.itemState & ODS_FOCUS) DrawFocusRect(item.hDC, &item.rcItem);
    }

    void Layout(int width, int height) {
        int dx = width - clientSize_.cx, dy = height - clientSize_.cy;
        for (const Placement &p : placements_) {
            RECT r = p.rect;
            if (p.anchor & kMoveX) OffsetRect(&r, dx, 0);
            if (p.anchor & kSizeX) r.right += dx;
            if (p.anchor & kMoveY) OffsetRect(&r, 0, dy);
            if (p.anchor & kSizeY) r.bottom += dy;
            if (r.right < r.left) r.right = r.left;
            if (r.bottom < r.top) r.bottom = r.top;
            SetWindowPos(p.window, nullptr, r.left, r.top, r.right - r.left, r.bottom - r.top,
                         SWP_NOZORDER | SWP_NOACTIVATE);
        }
        HWND tabs = GetDlgItem(dlg_, IDC_MAIL_PAGES);
        RECT area;
        GetWindowRect(tabs, &area);
        MapWindowPoints(nullptr, dlg_, reinterpret_cast<POINT *>(&area), 2);
        SendMessageW(tabs, TCM_ADJUSTRECT, FALSE, reinterpret_cast<LPARAM>(&area));
        for (PageView &page : pages_) {
            if (!page.window) continue;
            SetWindowPos(page.window, HWND_TOP, area.left, area.top, area.right - area.left, area.bottom - area.top,
                         SWP_NOACTIVATE);
            HWND inner = page.edit ? page.edit : GetDlgItem(page.window, IDC_PART_BROWSER);
            if (inner)
                SetWindowPos(inner, nullptr, 0, 0, area.right - area.left, area.bottom - area.top,
                             SWP_NOZORDER | SWP_NOACTIVATE);
            if (page.host) page.host->Resize();
        }
        InvalidateRect(dlg_, nullptr, TRUE);
    }

    void SelectPage(int index) {
        for (size_t i = 0; i < pages_.size(); ++i)
            if (pages_[i].window) ShowWindow(pages_[i].window, int(i) == index ? SW_SHOW : SW_HIDE);
    }

    void Send() {
        for (const auto &f : kFieldControls) {
            HWND edit = GetDlgItem(dlg_, f.id);
            if (edit && SendMessageW(edit, EM_GETMODIFY, 0, 0)) model_.SetField(f.field, WindowText(edit));
        }
        for (size_t i = 0; i < pages_.size(); ++i) {
            if (pages_[i].kind != PageKind::Rtf || !pages_[i].edit) continue;
            if (!SendMessageW(pages_[i].edit, EM_GETMODIFY, 0, 0)) continue;
            String rtf;
            EDITSTREAM stream{};
            stream.dwCookie = reinterpret_cast<DWORD_PTR>(&rtf);
            stream.pfnCallback = WriteSink;
            SendMessageW(pages_[i].edit, EM_STREAMOUT, SF_RTF, reinterpret_cast<LPARAM>(&stream));
            if (stream.dwError == 0) model_.SetRtfPageContent(i, rtf);
        }
        EndDialog(dlg_, model_.Send());
    }

    void Closing() {
        WINDOWPLACEMENT placement{};
        placement.length = sizeof placement;
        RECT r;
        GetWindowRect(dlg_, &r);
        // A minimised or maximised dialog keeps the size it had before.
        if ((IsIconic(dlg_) || IsZoomed(dlg_)) && GetWindowPlacement(dlg_, &placement))
            r = placement.rcNormalPosition;
        if (r.right > r.left && r.bottom > r.top) StoreWindowRect({r.left, r.top, r.right, r.bottom});
        for (PageView &page : pages_) {
            if (page.host) {
                page.host->Destroy();
                page.host->Release();
                page.host = nullptr;
            }
        }
        model_.Close();
        for (HICON icon : icons_) DestroyIcon(icon);
        icons_.clear();
    }

    clsSystemDateFormatter formatter_;
    clsMailEditorModel model_;
    HWND parent_;
    DWORD flags_;
    HWND dlg_ = nullptr;
    HFONT font_ = nullptr;
    SIZE clientSize_{};
    SIZE minSize_{};
    std::vector<Placement> placements_;
    std::vector<PageView> pages_;
    std::vector<HICON> icons_;
};

int ShowMailEditor(uintptr_t parent, IKvMail *mail, bool editable, uint32_t flags) {
    if (!mail) return -1;
    try {
        clsMailEditor editor(mail, editable, reinterpret_cast<HWND>(parent), flags);
        return editor.Show();
    } catch (const std::bad_alloc &) {
        return -1;
    }
}

} // namespace kv::ui

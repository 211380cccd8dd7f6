// Printing the mail: one printer job with the header rows and the plain and
// RTF bodies, then each HTML body through the browser as a page of its own.
#include <windows.h>
#include <commdlg.h>
#include <richedit.h>

#include <algorithm>

#include "runtime/string_table.h"
#include "pal/system.h"
#include "ui/mail_editor/win32/browser_host.h"
#include "ui/mail_editor/win32/mail_editor_view.h"
#include "ui/win32/dialog_resources.h"

namespace kv::ui {

namespace {

WString NowText() {
    char date[50] = "", time[30] = "";
    GetDateFormatA(LOCALE_USER_DEFAULT, 0, nullptr, nullptr, date, sizeof date);
    GetTimeFormatA(LOCALE_USER_DEFAULT, 0, nullptr, nullptr, time, sizeof time);
    return Widen(date, 0) + u" " + Widen(time, 0);
}

class clsPrintJob {
  public:
    clsPrintJob(HDC dc, WString title) : dc_(dc), title_(std::move(title)) {
        dpiX_ = GetDeviceCaps(dc, LOGPIXELSX);
        dpiY_ = GetDeviceCaps(dc, LOGPIXELSY);
        if (dpiX_ <= 0) dpiX_ = 96;
        if (dpiY_ <= 0) dpiY_ = 96;
        width_ = GetDeviceCaps(dc, HORZRES);
        height_ = GetDeviceCaps(dc, VERTRES);
        area_ = {dpiX_ / 2, dpiY_ / 2, width_ - dpiX_ / 2, height_ - dpiY_ / 2};
        int size = -MulDiv(10, dpiY_, 72);
        font_ = CreateFontW(size, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                            CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH, L"Lucida Sans Unicode");
        bold_ = CreateFontW(size, 0, 0, 0, FW_BOLD, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                            CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH, L"Lucida Sans Unicode");
        HGDIOBJ old = SelectObject(dc_, font_);
        TEXTMETRICW tm{};
        GetTextMetricsW(dc_, &tm);
        line_ = tm.tmHeight + tm.tmExternalLeading;
        if (line_ <= 0) line_ = dpiY_ / 6;
        SelectObject(dc_, old);
    }
    ~clsPrintJob() {
        if (started_) {
            if (inPage_) EndPage(dc_);
            EndDoc(dc_);
        }
        DeleteObject(font_);
        DeleteObject(bold_);
    }
    clsPrintJob(const clsPrintJob &) = delete;
    clsPrintJob &operator=(const clsPrintJob &) = delete;

    bool Start(const String &name) {
        DOCINFOA info{};
        info.cbSize = sizeof info;
        info.lpszDocName = name.c_str();
        started_ = StartDocA(dc_, &info) > 0;
        return started_;
    }

    void NewPage() {
        if (inPage_) EndPage(dc_);
        StartPage(dc_);
        inPage_ = true;
        ++number_;
        WString header = PrintPageHeader(title_, number_);
        size_t tab = header.find(u'\t');
        HGDIOBJ old = SelectObject(dc_, font_);
        RECT r{area_.left, area_.top, area_.right, area_.top + line_};
        DrawTextW(dc_, Wide(header), int(tab), &r, DT_LEFT | DT_SINGLELINE | DT_NOPREFIX | DT_END_ELLIPSIS);
        DrawTextW(dc_, Wide(header) + tab + 1, int(header.size() - tab - 1), &r, DT_RIGHT | DT_SINGLELINE | DT_NOPREFIX);
        SelectObject(dc_, old);
        y_ = area_.top + 2 * line_;
    }

    void Row(const WString &label, const WString &value, int labelWidth) {
        RECT valueRect{area_.left + labelWidth, 0, area_.right, 0};
        HGDIOBJ old = SelectObject(dc_, font_);
        DrawTextW(dc_, Wide(value), int(value.size()), &valueRect, DT_CALCRECT | DT_WORDBREAK | DT_NOPREFIX);
        int height = std::max<int>(line_, valueRect.bottom - valueRect.top);
        if (!inPage_ || y_ + height > area_.bottom) NewPage();
        RECT r{area_.left + labelWidth, y_, area_.right, y_ + height};
        DrawTextW(dc_, Wide(value), int(value.size()), &r, DT_WORDBREAK | DT_NOPREFIX);
        SelectObject(dc_, bold_);
        RECT l{area_.left, y_, area_.left + labelWidth, y_ + line_};
        DrawTextW(dc_, Wide(label), int(label.size()), &l, DT_LEFT | DT_SINGLELINE | DT_NOPREFIX);
        SelectObject(dc_, old);
        y_ += height;
    }

    int LabelWidth(const std::vector<PrintRow> &rows) {
        HGDIOBJ old = SelectObject(dc_, bold_);
        int widest = 0;
        for (const PrintRow &row : rows) {
            SIZE size{};
            GetTextExtentPoint32W(dc_, Wide(row.label), int(row.label.size()), &size);
            widest = std::max<int>(widest, size.cx);
        }
        SelectObject(dc_, old);
        return widest + dpiX_ / 4;
    }

    void Gap() { y_ += line_; }

    void RichEdit(HWND edit) {
        LONG length = LONG(GetWindowTextLengthW(edit));
        FORMATRANGE range{};
        range.hdc = range.hdcTarget = dc_;
        range.rcPage = {0, 0, TwipsX(width_), TwipsY(height_)};
        LONG start = 0;
        while (start < length) {
            if (!inPage_ || y_ >= area_.bottom - line_) NewPage();
            bool atTop = y_ == area_.top + 2 * line_;
            range.rc = {TwipsX(area_.left), TwipsY(y_), TwipsX(area_.right), TwipsY(area_.bottom)};
            range.chrg.cpMin = start;
            range.chrg.cpMax = -1;
            LONG next = LONG(SendMessageW(edit, EM_FORMATRANGE, TRUE, reinterpret_cast<LPARAM>(&range)));
            y_ = MulDiv(range.rc.bottom, dpiY_, 1440);
            if (next <= start) {
                if (atTop) break; // nothing fits even on an empty page
                NewPage();
                continue;
            }
            start = next;
            if (start < length) NewPage();
        }
        SendMessageW(edit, EM_FORMATRANGE, FALSE, 0);
        Gap();
    }

    void Line(const WString &text) { Row(WString(), text, 0); }

  private:
    int TwipsX(int pixels) const { return MulDiv(pixels, 1440, dpiX_); }
    int TwipsY(int pixels) const { return MulDiv(pixels, 1440, dpiY_); }

    HDC dc_;
    WString title_;
    HFONT font_ = nullptr, bold_ = nullptr;
    int dpiX_ = 96, dpiY_ = 96, width_ = 0, height_ = 0, line_ = 16;
    RECT area_{};
    int y_ = 0, number_ = 0;
    bool started_ = false, inPage_ = false;
};

void PrintHtmlPages(clsMailEditorView &view) {
    const clsMailEditorModel &model = view.Model();
    for (size_t i = 0; i < model.Pages().size(); ++i) {
        Host *host = view.PageHost(i);
        if (model.Pages()[i].kind != PageKind::Html || !host || !host->Browser()) continue;
        String path = view.WritePrintout(i);
        if (path.empty()) continue;
        WString wide = Widen(path, 0);
        host->Show(std::wstring(wide.begin(), wide.end()));
        if (host->WaitUntilLoaded(15000))
            host->Browser()->ExecWB(OLECMDID_PRINT, OLECMDEXECOPT_DONTPROMPTUSER, nullptr, nullptr);
        view.ShowPageFile(i);
    }
}

} // namespace

void PrintMail(clsMailEditorView &view) {
    const clsMailEditorModel &model = view.Model();
    view.SetStatus(IDS_PLEASE_WAIT);
    PRINTDLGA dialog{};
    dialog.lStructSize = sizeof dialog;
    dialog.hwndOwner = view.Window();
    dialog.Flags = PD_RETURNDC | PD_NOPAGENUMS;
    BOOL chosen = PrintDlgA(&dialog);
    if (dialog.hDevMode) GlobalFree(dialog.hDevMode);
    if (dialog.hDevNames) GlobalFree(dialog.hDevNames);
    if (!chosen || !dialog.hDC) {
        if (dialog.hDC) DeleteDC(dialog.hDC);
        view.SetStatus(0);
        return;
    }
    view.SetStatus(IDS_PRINTING);
    WString title = WindowText(view.Window());
    {
        clsPrintJob job(dialog.hDC, title + u" " + NowText());
        if (job.Start(Format("%s - Mail", Narrow(title, 0).c_str()))) {
            std::vector<PrintRow> rows = model.PrintHeaderRows();
            int labelWidth = job.LabelWidth(rows);
            for (const PrintRow &row : rows) job.Row(row.label, row.value, labelWidth);
            job.Gap();
            for (const PrintItem &item : model.PrintBodies()) {
                if (item.kind == PrintItem::Text) job.Line(item.text);
                else if (HWND edit = view.PageEdit(item.page)) job.RichEdit(edit);
            }
        }
    }
    DeleteDC(dialog.hDC);
    PrintHtmlPages(view);
    view.SetStatus(0);
}

} // namespace kv::ui

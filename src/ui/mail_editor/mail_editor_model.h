// clsMailEditorModel: what the mail dialog shows, edits, writes back and
// prints, without any window. The view reads fields and pages from it, hands
// edits back, and calls Send/Close; the tests drive it the same way.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "pal/com.h"
#include "runtime/com_util.h"
#include "runtime/kvstring.h"

namespace kv::ui {

enum class EditorField { Sender, To, CC, BCC, Subject };
enum class PageKind { Plain, Rtf, Html, Div, NonDisplayable };

// "MailPartPlain" and so on: the page's dialog resource.
const char *PageResourceName(PageKind kind);

struct MailDate {
    int year, month, day, hour, minute, second;
};
// Day, month abbreviation (any letter case), year and time out of a "Date" value.
std::optional<MailDate> ParseMailDate(const WString &value);

// The user's locale formats (the view: GetDateFormatA/GetTimeFormatA); "" when a date cannot be formatted.
class DateFormatter {
  public:
    virtual ~DateFormatter() = default;
    virtual WString LongDate(const MailDate &date) const = 0;
    virtual WString TimeWithoutSeconds(const MailDate &date) const = 0;
};
// "%s, %s" of date and time, or the value unchanged when it does not parse.
WString DateDisplay(const WString &value, const DateFormatter &formatter);

// The download-control ambient flags the browser host answers with: images
// load, but scripts, Java, ActiveX controls, behaviours, frames and refreshes
// of a received mail never run, and the browser shows no dialogs of its own.
enum : uint32_t {
    kDlctlDlImages = 0x00000010,
    kDlctlNoScripts = 0x00000080,
    kDlctlNoJava = 0x00000100,
    kDlctlNoRunActiveXCtls = 0x00000200,
    kDlctlNoDlActiveXCtls = 0x00000400,
    kDlctlNoFrameDownload = 0x00001000,
    kDlctlNoBehaviors = 0x00008000,
    kDlctlNoClientPull = 0x20000000,
    kDlctlSilent = 0x40000000,
};
constexpr int32_t kDispidAmbientDlControl = -5512;
constexpr uint32_t kBrowserDownloadControl = kDlctlDlImages | kDlctlNoScripts | kDlctlNoJava | kDlctlNoRunActiveXCtls |
                                             kDlctlNoDlActiveXCtls | kDlctlNoFrameDownload | kDlctlNoBehaviors |
                                             kDlctlNoClientPull | kDlctlSilent;
// Host flag that leaves the context menu to the browser.
constexpr uint32_t kHostBrowserContextMenu = 0x40;

// Whether the browser may go to target while showing ownFile; links are cancelled.
bool AcceptNavigation(const WString &target, const WString &ownFile);

// The dialog's last window rectangle ("RTFDlg.Position").
struct WindowRect {
    int32_t left, top, right, bottom;
    bool operator==(const WindowRect &o) const {
        return left == o.left && top == o.top && right == o.right && bottom == o.bottom;
    }
};
std::optional<WindowRect> ReadStoredWindowRect();
void StoreWindowRect(const WindowRect &rect);
// The rectangle to open with: the stored size at the current position; nullopt when nothing changes.
std::optional<WindowRect> OpeningRect(const WindowRect &current, const std::optional<WindowRect> &stored);

struct EditorPage {
    PageKind kind;
    clsAutoRelease<IKvMailBody> body; // null for the "Content" page
    String mediaType;
    uint32_t codepage = 0;
    String bytes;  // the body's content as stored (RTF: the RTF text)
    WString text;  // plain text for the rich-edit control
    String htmlFile; // the HTML page's temporary file
    bool modified = false;
};

struct PrintRow {
    WString label;
    WString value;
};

struct PrintItem {
    enum Kind { RichEditPage, Text } kind;
    size_t page = 0;
    WString text;
};

// "%s", a tab and "-%d-": the line that heads every printed page.
WString PrintPageHeader(const WString &title, int page);
// The HTML printout of an HTML page: the header table, a separator and the HTML body.
WString HtmlPrintout(const std::vector<PrintRow> &rows, const WString &html);

class clsMailEditorModel {
  public:
    clsMailEditorModel(IKvMail *mail, bool editable, const DateFormatter &formatter);
    ~clsMailEditorModel();
    clsMailEditorModel(const clsMailEditorModel &) = delete;
    clsMailEditorModel &operator=(const clsMailEditorModel &) = delete;

    bool Editable() const { return editable_; }
    // The read-only form has no BCC field.
    bool HasField(EditorField field) const { return editable_ || field != EditorField::BCC; }
    const WString &Field(EditorField field) const { return fields_[size_t(field)]; }
    void SetField(EditorField field, const WString &value);
    bool FieldModified(EditorField field) const { return modified_[size_t(field)]; }
    const WString &DateText() const { return date_; }

    const std::vector<EditorPage> &Pages() const { return pages_; }
    // An RTF page's control content after an edit, as RTF.
    void SetRtfPageContent(size_t page, const String &rtf);
    const std::vector<WString> &AttachmentNames() const { return attachments_; }

    // Writes the modified fields and RTF pages back; the dialog's result (1).
    int Send();
    // Deletes the temporary files; also done on destruction.
    void Close();

    std::vector<PrintRow> PrintHeaderRows() const;
    std::vector<PrintItem> PrintBodies() const;
    // The separate printout of an HTML page.
    WString HtmlPrintoutOf(size_t page) const;
    // That printout in a temporary file (UTF-8 with its byte-order mark),
    // deleted with the others; "" when it cannot be written.
    String WritePrintout(size_t page);

  private:
    void LoadPages();
    void MakeHtmlPage(EditorPage &page);

    clsAutoRelease<IKvMail> mail_;
    clsAutoRelease<IKvMail2> mail2_;
    bool editable_;
    WString fields_[5];
    bool modified_[5] = {};
    WString date_;
    std::vector<EditorPage> pages_;
    std::vector<WString> attachments_;
    std::vector<String> tempFiles_;
};

// Display form of a recipient list and back: "; " between addresses; ";", ","
// and tabs outside quotes and angle brackets separate them again.
WString JoinRecipients(const std::vector<WString> &addresses);
std::vector<WString> SplitRecipients(const WString &text);

} // namespace kv::ui

#include "ui/mail_editor/mail_editor_model.h"

#include "runtime/string_table.h"
#include "mime/charset_table.h"
#include "pal/registry.h"
#include "pal/system.h"
#include "runtime/regex.h"
#include "runtime/com_util.h"

namespace kv::ui {

namespace {

const char16_t kRegistryPath[] = u"Software\\Orvane\\orvnkv";
const char16_t kPositionValue[] = u"RTFDlg.Position";

std::vector<WString> ReadStrings(IEnumString *e) {
    std::vector<WString> out;
    if (!e) return out;
    for (;;) {
        LPOLESTR item = nullptr;
        ULONG fetched = 0;
        if (e->Next(1, &item, &fetched) != S_OK || fetched != 1) break;
        out.emplace_back(WideView(reinterpret_cast<const char16_t *>(item)));
        CoTaskMemFree(item);
    }
    return out;
}

template <class Getter> WString Recipients(Getter get) {
    clsAutoRelease<IEnumString> e;
    if (FAILED(get(e.put()))) return WString();
    return JoinRecipients(ReadStrings(e.get()));
}

template <class T> String Contents(T *item) {
    clsAutoRelease<IStream> s;
    if (FAILED(CreateStreamOnHGlobal(nullptr, TRUE, s.put()))) return String();
    if (FAILED(item->GetContents(s.get()))) return String();
    return StreamBytes(s.get());
}

bool WriteFile(const String &path, const String &bytes) {
    pal::FileHandle f = pal::FileOpen(path, true);
    if (f == pal::kInvalidFile) return false;
    bool ok = pal::FileWrite(f, bytes.data(), bytes.size());
    pal::FileClose(f);
    return ok;
}

// Characters that may continue a content ID, so that "cid:a" never rewrites inside "cid:ab".
bool IdChar(char16_t c) {
    return !(c == u'"' || c == u'\'' || c == u')' || c == u'>' || c == u'<' || c == u' ' || c == u'\t' ||
             c == u'\r' || c == u'\n' || c == u'#' || c == u'?' || c == u'&');
}

WString StripAccelerator(std::u16string_view label) {
    WString out;
    for (size_t i = 0; i < label.size(); ++i) {
        if (label[i] == u'&' && i + 1 < label.size()) ++i;
        out += label[i];
    }
    return out;
}

WString HtmlEscape(std::u16string_view text) {
    WString out;
    for (size_t i = 0; i < text.size(); ++i) {
        char16_t c = text[i];
        if (c == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n') {
            out += u"<br>";
            ++i;
        } else if (c == u'&') {
            out += u"&amp;";
        } else if (c == u'<') {
            out += u"&lt;";
        } else if (c == u'>') {
            out += u"&gt;";
        } else if (c == u'"') {
            out += u"&quot;";
        } else {
            out += c;
        }
    }
    return out;
}

bool EqualsNoCaseW(std::u16string_view a, std::u16string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char16_t x = a[i], y = b[i];
        if (x >= u'A' && x <= u'Z') x = char16_t(x + 32);
        if (y >= u'A' && y <= u'Z') y = char16_t(y + 32);
        if (x != y) return false;
    }
    return true;
}

// "file:///C:/dir/x.png" for a drive path, "file:///tmp/x.png" for a POSIX one.
WString FileUrl(const String &path) {
    WString p = Widen(path, 0);
    for (char16_t &c : p)
        if (c == u'\\') c = u'/';
    return (!p.empty() && p[0] == u'/') ? u"file://" + p : u"file:///" + p;
}

} // namespace

const char *PageResourceName(PageKind kind) {
    switch (kind) {
    case PageKind::Plain: return "MailPartPlain";
    case PageKind::Rtf: return "MailPartRTF";
    case PageKind::Html: return "MailPartHTML";
    case PageKind::Div: return "MailPartDiv";
    case PageKind::NonDisplayable: return "MailPartNonDisplayable";
    }
    return "";
}

std::optional<MailDate> ParseMailDate(const WString &value) {
    static const clsRegEx pattern(std::u16string_view(u"(\\d+)\\s+(\\w{3})\\s+(\\d{4})\\s+(\\d+):(\\d+):(\\d+)"));
    static const char *const months[] = {"jan", "feb", "mar", "apr", "may", "jun",
                                         "jul", "aug", "sep", "oct", "nov", "dec"};
    clsRegExMatch m;
    if (!pattern.Match(value, 0, m)) return std::nullopt;
    auto number = [&](size_t g) {
        const WString &t = m.Text(g);
        if (t.empty() || t.size() > 6) return -1;
        int n = 0;
        for (char16_t c : t) n = n * 10 + (c - u'0');
        return n;
    };
    MailDate d{number(3), 0, number(1), number(4), number(5), number(6)};
    String month = ToLower(Narrow(m.Text(2), 65001));
    for (int i = 0; i < 12; ++i)
        if (month == months[i]) d.month = i + 1;
    if (d.month == 0 || d.day < 1 || d.day > 31 || d.hour > 23 || d.minute > 59 || d.second > 60 || d.year < 1601)
        return std::nullopt;
    return d;
}

WString DateDisplay(const WString &value, const DateFormatter &formatter) {
    std::optional<MailDate> d = ParseMailDate(value);
    if (!d) return value;
    WString date = formatter.LongDate(*d), time = formatter.TimeWithoutSeconds(*d);
    if (date.empty() || time.empty()) return value;
    return date + u", " + time;
}

bool AcceptNavigation(const WString &target, const WString &ownFile) {
    if (target == u"about:blank") return true;
    static const std::u16string_view cancelPage = u"/navcancl.htm";
    if (target.size() >= cancelPage.size() &&
        EqualsNoCaseW(std::u16string_view(target).substr(target.size() - cancelPage.size()), cancelPage))
        return true;
    if (ownFile.empty()) return false;
    std::u16string_view t = target;
    static const std::u16string_view scheme = u"file://";
    if (t.size() >= scheme.size() && EqualsNoCaseW(t.substr(0, scheme.size()), scheme)) {
        t.remove_prefix(scheme.size());
        // "file:///C:/x" names "C:/x"; "file:///tmp/x" names "/tmp/x".
        if (t.size() >= 3 && t[0] == u'/' && t[2] == u':') t.remove_prefix(1);
    }
    WString a(t), b(ownFile);
    for (WString *s : {&a, &b})
        for (char16_t &c : *s)
            if (c == u'\\') c = u'/';
    return EqualsNoCaseW(a, b);
}

std::optional<WindowRect> ReadStoredWindowRect() {
    auto key = pal::RegOpen(pal::RegRoot::CurrentUser, kRegistryPath);
    pal::RegValue v;
    if (!key || !key->GetValue(kPositionValue, v) || v.type != pal::RegType::Binary || v.data.size() != 16)
        return std::nullopt;
    int32_t n[4];
    for (int i = 0; i < 4; ++i)
        n[i] = int32_t(uint32_t(v.data[4 * i]) | uint32_t(v.data[4 * i + 1]) << 8 |
                       uint32_t(v.data[4 * i + 2]) << 16 | uint32_t(v.data[4 * i + 3]) << 24);
    return WindowRect{n[0], n[1], n[2], n[3]};
}

void StoreWindowRect(const WindowRect &rect) {
    auto key = pal::RegCreate(pal::RegRoot::CurrentUser, kRegistryPath);
    if (!key) return; // a lost size is no reason to fail a closing dialog
    std::vector<uint8_t> data;
    for (int32_t n : {rect.left, rect.top, rect.right, rect.bottom})
        for (int shift = 0; shift < 32; shift += 8) data.push_back(uint8_t(uint32_t(n) >> shift));
    key->SetBinary(kPositionValue, data);
}

std::optional<WindowRect> OpeningRect(const WindowRect &current, const std::optional<WindowRect> &stored) {
    if (!stored || *stored == current) return std::nullopt;
    int64_t width = int64_t(stored->right) - stored->left, height = int64_t(stored->bottom) - stored->top;
    if (width <= 0 || height <= 0) return std::nullopt;
    WindowRect r{current.left, current.top, int32_t(current.left + width), int32_t(current.top + height)};
    if (r == current) return std::nullopt;
    return r;
}

WString PrintPageHeader(const WString &title, int page) {
    return title + u"\t-" + Widen(std::to_string(page), 65001) + u"-";
}

WString HtmlPrintout(const std::vector<PrintRow> &rows, const WString &html) {
    WString out = u"<html><body>";
    out += u"<font face=\"Lucida Sans Unicode,Verdana,Arial,Helvetica\" size=-1>";
    out += u"<table border=0>";
    for (const PrintRow &row : rows) {
        out += u"<tr>";
        out += u"<td><b><u>" + HtmlEscape(row.label) + u"</u></b></td>";
        out += u"<td>" + HtmlEscape(row.value) + u"</td>";
        out += u"</tr>";
    }
    out += u"</table>";
    out += u"</font>";
    out += u"<br><hr><br>";
    out += html;
    out += u"</body></html>";
    return out;
}

WString JoinRecipients(const std::vector<WString> &addresses) {
    WString out;
    for (const WString &a : addresses) {
        if (!out.empty()) out += u"; ";
        out += a;
    }
    return out;
}

std::vector<WString> SplitRecipients(const WString &text) {
    std::vector<WString> out;
    WString piece;
    bool quoted = false;
    int angle = 0;
    auto flush = [&] {
        size_t b = piece.find_first_not_of(u" \t");
        size_t e = piece.find_last_not_of(u" \t");
        if (b != WString::npos) out.push_back(piece.substr(b, e - b + 1));
        piece.clear();
    };
    for (size_t i = 0; i < text.size(); ++i) {
        char16_t c = text[i];
        if (quoted) {
            if (c == u'\\' && i + 1 < text.size()) {
                piece += c;
                c = text[++i];
            } else if (c == u'"') {
                quoted = false;
            }
        } else if (c == u'"') {
            quoted = true;
        } else if (c == u'<') {
            ++angle;
        } else if (c == u'>' && angle > 0) {
            --angle;
        } else if (angle == 0 && (c == u';' || c == u',' || c == u'\t' || c == u'\r' || c == u'\n')) {
            flush();
            continue;
        }
        piece += c;
    }
    flush();
    return out;
}

clsMailEditorModel::clsMailEditorModel(IKvMail *mail, bool editable, const DateFormatter &formatter)
    : mail_(mail, true), editable_(editable) {
    mail_->QueryInterface(IID_IKvMail2, reinterpret_cast<void **>(mail2_.put()));
    clsBstr b;
    if (SUCCEEDED(mail_->GetSender(b.put()))) fields_[size_t(EditorField::Sender)] = b.View();
    fields_[size_t(EditorField::To)] = Recipients([&](IEnumString **e) { return mail_->EnumRecipients(e); });
    fields_[size_t(EditorField::CC)] = Recipients([&](IEnumString **e) { return mail_->EnumCCRecipients(e); });
    if (editable_ && mail2_)
        fields_[size_t(EditorField::BCC)] =
            Recipients([&](IEnumString **e) { return mail2_->EnumBCCRecipients(e); });
    if (SUCCEEDED(mail_->GetSubject(b.put()))) fields_[size_t(EditorField::Subject)] = b.View();
    clsBstr dateName(u"Date");
    if (SUCCEEDED(mail_->GetHeaderEntry(dateName.get(), b.put()))) date_ = DateDisplay(WString(b.View()), formatter);

    LoadPages();

    clsAutoRelease<IKvEnumMailAttachment> e;
    if (SUCCEEDED(mail_->EnumAttachments(e.put())) && e) {
        for (;;) {
            clsAutoRelease<IKvMailAttachment> a;
            ULONG fetched = 0;
            if (e->Next(1, a.put(), &fetched) != S_OK || fetched != 1) break;
            if (SUCCEEDED(a->GetName(b.put()))) attachments_.emplace_back(b.View());
        }
    }
}

clsMailEditorModel::~clsMailEditorModel() { Close(); }

void clsMailEditorModel::LoadPages() {
    clsAutoRelease<IKvEnumMailBody> e;
    if (SUCCEEDED(mail_->EnumBodies(e.put())) && e) {
        for (;;) {
            clsAutoRelease<IKvMailBody> body;
            ULONG fetched = 0;
            if (e->Next(1, body.put(), &fetched) != S_OK || fetched != 1) break;
            EditorPage page{PageKind::Div, body, String(), 0, String(), WString(), String(), false};
            clsBstr type;
            if (SUCCEEDED(body->GetType(type.put()))) page.mediaType = ToLower(Narrow(type.View(), 65001));
            ULONG cp = 0;
            if (SUCCEEDED(body->GetCodepage(&cp))) page.codepage = cp;
            const String &t = page.mediaType;
            if (t == "text/plain") {
                page.kind = PageKind::Plain;
            } else if (t == "text/rtf" || t == "application/rtf") {
                page.kind = PageKind::Rtf;
            } else if (t == "text/html" || t == "multipart/related") {
                // An HTML body with related parts reports itself as multipart/related.
                page.kind = PageKind::Html;
            }
            if (page.kind != PageKind::Div) {
                page.bytes = Contents(body.get());
                page.text = Widen(page.bytes, page.codepage);
            }
            if (page.kind == PageKind::Html) MakeHtmlPage(page);
            pages_.push_back(std::move(page));
        }
    }
    if (pages_.empty())
        pages_.push_back(EditorPage{PageKind::NonDisplayable, {}, String(), 0, String(), u"No text available.",
                                    String(), false});
}

void clsMailEditorModel::MakeHtmlPage(EditorPage &page) {
    WString html = page.text;
    clsAutoRelease<IKvEnumMailAttachment> e;
    if (SUCCEEDED(page.body->EnumAttachments(e.put())) && e) {
        clsBstr idName(u"Content-ID"), typeName(u"Content-Type"), value;
        for (;;) {
            clsAutoRelease<IKvMailAttachment> a;
            ULONG fetched = 0;
            if (e->Next(1, a.put(), &fetched) != S_OK || fetched != 1) break;
            if (a->GetHeaderEntry(idName.get(), value.put()) != S_OK) continue;
            WString id(value.View());
            size_t b = id.find_first_not_of(u" \t<"), end = id.find_last_not_of(u" \t>");
            if (b == WString::npos) continue;
            id = id.substr(b, end - b + 1);
            String ext;
            if (a->GetHeaderEntry(typeName.get(), value.put()) == S_OK) {
                String type = Narrow(value.View(), 65001);
                type = String(TrimView(type.substr(0, type.find(';'))));
                ext = ExtensionForMediaType(type);
            }
            if (ext.empty()) ext = ".tmp";
            String path = pal::CreateTempFileName("kvm", ext);
            if (path.empty()) continue;
            tempFiles_.push_back(path);
            if (!WriteFile(path, Contents(a.get()))) continue;
            WString reference = u"cid:" + id, url = FileUrl(path);
            for (size_t at = 0; (at = html.find(reference, at)) != WString::npos;) {
                size_t after = at + reference.size();
                if (after < html.size() && IdChar(html[after])) {
                    at = after;
                    continue;
                }
                html.replace(at, reference.size(), url);
                at += url.size();
            }
        }
    }
    page.text = html; // the printout shows the same pictures
    String path = pal::CreateTempFileName("kvm", ".htm");
    if (path.empty()) return;
    tempFiles_.push_back(path);
    if (WriteFile(path, Narrow(html, page.codepage))) page.htmlFile = path;
}

void clsMailEditorModel::SetField(EditorField field, const WString &value) {
    if (!HasField(field)) return;
    fields_[size_t(field)] = value;
    modified_[size_t(field)] = true;
}

void clsMailEditorModel::SetRtfPageContent(size_t page, const String &rtf) {
    if (page >= pages_.size() || pages_[page].kind != PageKind::Rtf) return;
    pages_[page].bytes = rtf;
    pages_[page].modified = true;
}

int clsMailEditorModel::Send() {
    if (!editable_) return 0;
    auto tabbed = [](const WString &text) {
        WString out;
        for (const WString &a : SplitRecipients(text)) {
            if (!out.empty()) out += u'\t';
            out += a;
        }
        return out;
    };
    auto text = [&](EditorField f) { return fields_[size_t(f)]; };
    if (FieldModified(EditorField::Sender)) {
        clsBstr v(text(EditorField::Sender));
        mail_->SetSender(v.get());
    }
    // The mail only appends recipients: an empty list first, so an edited field replaces it.
    clsBstr empty(u"");
    if (FieldModified(EditorField::To)) {
        clsBstr v(tabbed(text(EditorField::To)));
        mail_->AddRecipients(empty.get());
        mail_->AddRecipients(v.get());
    }
    if (FieldModified(EditorField::CC)) {
        clsBstr v(tabbed(text(EditorField::CC)));
        mail_->AddCCRecipients(empty.get());
        mail_->AddCCRecipients(v.get());
    }
    if (FieldModified(EditorField::BCC) && mail2_) {
        clsBstr v(tabbed(text(EditorField::BCC)));
        mail2_->AddBCCRecipients(empty.get());
        mail2_->AddBCCRecipients(v.get());
    }
    if (FieldModified(EditorField::Subject)) {
        clsBstr v(text(EditorField::Subject));
        mail_->SetSubject(v.get());
    }
    for (EditorPage &page : pages_) {
        if (page.kind != PageKind::Rtf || !page.modified) continue;
        clsAutoRelease<IStream> s;
        ULONG written = 0;
        if (FAILED(CreateStreamOnHGlobal(nullptr, TRUE, s.put()))) continue;
        if (!page.bytes.empty() && FAILED(s->Write(page.bytes.data(), ULONG(page.bytes.size()), &written))) continue;
        LARGE_INTEGER zero{};
        s->Seek(zero, STREAM_SEEK_SET, nullptr);
        page.body->SetContents(s.get());
    }
    return 1;
}

String clsMailEditorModel::WritePrintout(size_t page) {
    String path = pal::CreateTempFileName("kvp", ".htm");
    if (path.empty()) return String();
    tempFiles_.push_back(path);
    return WriteFile(path, "\xEF\xBB\xBF" + Narrow(HtmlPrintoutOf(page), 65001)) ? path : String();
}

void clsMailEditorModel::Close() {
    for (const String &path : tempFiles_) pal::DeleteFilePath(path);
    tempFiles_.clear();
    for (EditorPage &page : pages_) page.htmlFile.clear();
}

std::vector<PrintRow> clsMailEditorModel::PrintHeaderRows() const {
    static const char16_t *const editLabels[] = {u"Sende&r:", u"&To:", u"&CC:", u"&BCC:", u"S&ubject:"};
    static const char16_t *const viewLabels[] = {u"Sender:", u"To:", u"CC:", u"", u"Subject:"};
    const char16_t *const *labels = editable_ ? editLabels : viewLabels;
    std::vector<PrintRow> rows;
    rows.push_back({StripAccelerator(labels[0]), Field(EditorField::Sender)});
    rows.push_back({Widen(LoadResourceString(IDS_DATE_LABEL), 0), date_});
    for (EditorField f : {EditorField::To, EditorField::CC, EditorField::BCC, EditorField::Subject})
        if (HasField(f)) rows.push_back({StripAccelerator(labels[size_t(f)]), Field(f)});
    if (!attachments_.empty()) {
        String both = LoadResourceString(IDS_ATTACHMENT_LABELS);
        size_t bar = both.find('|');
        String label = attachments_.size() == 1 ? both.substr(0, bar)
                                                : (bar == String::npos ? both : both.substr(bar + 1));
        WString names;
        for (const WString &n : attachments_) names += (names.empty() ? u"" : u", ") + n;
        rows.push_back({Widen(label, 0), names});
    }
    return rows;
}

std::vector<PrintItem> clsMailEditorModel::PrintBodies() const {
    std::vector<PrintItem> items;
    for (size_t i = 0; i < pages_.size(); ++i) {
        switch (pages_[i].kind) {
        case PageKind::Plain:
        case PageKind::Rtf: items.push_back({PrintItem::RichEditPage, i, WString()}); break;
        case PageKind::Html:
            items.push_back({PrintItem::Text, i, Widen(LoadResourceString(IDS_SEE_SEPARATE_PRINTOUT), 0)});
            break;
        case PageKind::Div:
            items.push_back({PrintItem::Text, i, Widen(LoadResourceString(IDS_UNKNOWN_FORMAT), 0)});
            break;
        case PageKind::NonDisplayable: break;
        }
    }
    return items;
}

WString clsMailEditorModel::HtmlPrintoutOf(size_t page) const {
    if (page >= pages_.size() || pages_[page].kind != PageKind::Html) return WString();
    return HtmlPrintout(PrintHeaderRows(), pages_[page].text);
}

} // namespace kv::ui

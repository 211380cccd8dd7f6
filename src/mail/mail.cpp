#include "mail/mail.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <new>

#include "runtime/except.h"
#include "runtime/kvlog.h"
#include "runtime/com_enum.h"
#include "mail/gdi_charset.h"
#include "mail/header_entry.h"
#include "mime/charset_table.h"
#include "mime/header_words.h"
#include "mime/address_field.h"
#include "mail/reader.h"
#include "mail/writer.h"
#include "pal/library.h"
#include "pal/memory.h"
#include "pal/resources.h"
#include "pal/system.h"
#include "runtime/com_util.h"
#include "mail/mail_date.h"

namespace kv {

namespace {

const char *const kDayNames[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
const char *const kMonthNames[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                   "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

bool HasLineBreak(std::u16string_view text) { return text.find_first_of(u"\r\n") != std::u16string_view::npos; }

// An OLE date (days since 1899-12-30, the fraction the time of day) as a
// calendar time; false outside the years 100 to 9999.
bool FromOleDate(double date, pal::LocalTime &t) {
    if (!(date >= -657434.0 && date < 2958466.0)) return false;
    double whole = std::floor(date);
    long long days = (long long)whole;
    long long secs = std::llround(std::fabs(date - whole) * 86400.0);
    if (date < 0 && secs != 0) secs = 86400 - secs; // negative dates count the time forward
    if (secs >= 86400) {
        secs -= 86400;
        ++days;
    }
    // Days from 1970-01-01, then the civil date (Howard Hinnant's algorithm).
    long long z = days - 25569 + 719468;
    long long era = (z >= 0 ? z : z - 146096) / 146097;
    long long doe = z - era * 146097;
    long long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    long long doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    long long mp = (5 * doy + 2) / 153;
    t.day = int(doy - (153 * mp + 2) / 5 + 1);
    t.month = int(mp < 10 ? mp + 3 : mp - 9);
    t.year = int(yoe + era * 400 + (t.month <= 2 ? 1 : 0));
    long long dow = (days - 25569 + 4) % 7; // 1970-01-01 was a Thursday
    t.dayOfWeek = int(dow < 0 ? dow + 7 : dow);
    t.hour = int(secs / 3600);
    t.minute = int(secs / 60 % 60);
    t.second = int(secs % 60);
    t.millisecond = 0;
    return true;
}

// "+0530", "-0930": the real offset, minutes included.
String ZoneText(int offsetMinutes) {
    int magnitude = offsetMinutes < 0 ? -offsetMinutes : offsetMinutes;
    return Format("%c%02d%02d", offsetMinutes < 0 ? '-' : '+', magnitude / 60, magnitude % 60);
}

// Installed by the component: the dialog lies above the mail.
MailEditorFn mailEditor = nullptr;

} // namespace

void SetMailEditor(MailEditorFn editor) { mailEditor = editor; }

clsMail::clsMail(clsMailSite *site, const String &cookie, uint32_t codepage, uint32_t bodyTypes)
    : cookie_(cookie), state_(kMailNew), charset_(CharsetForCodePage(codepage)), bodyTypes_(bodyTypes),
      site_(site) {
    if (site_) site_->AttachMail();
}

clsMail::clsMail(clsMailSite *site, const String &cookie)
    : cookie_(cookie), state_(kMailListed), bodyTypes_(0), site_(site) {
    if (site_) site_->AttachMail();
}

clsMail::~clsMail() {
    if (site_) site_->DetachMail();
}

uint32_t clsMail::CodePage() const { return CodePageForCharset(charset_); }

void clsMail::Invalidate() {
    generated_.Clear();
    try {
        rawText_.Truncate();
    } catch (const clsExcept &) {
        // A raw text that cannot be cut is rendered anew on the next request anyway.
    }
}

void clsMail::KeepRecord(const clsExcept &e) {
    // The host reads why from the connection that made the mail.
    if (site_ && !e.Messages().empty()) site_->Fail(E_UNEXPECTED, e.Code(), e.Messages().front());
}

// ---- virtual operations ----

HRESULT clsMail::GetCodepage(ULONG *codepage) {
    HRESULT hr = S_OK;
    clsTraceScope trace(&hr, "clsMail::GetCodepage(%p)", (void *)codepage);
    if (!codepage) return hr = E_INVALIDARG;
    *codepage = CodePage();
    if (trace.Active()) trace.Value(Format("%d", int(*codepage)));
    return hr;
}

bool clsMail::IsValidAddress(const String &address) { return HasFieldAddress(ParseAddressField(address)); }

// ---- sender, reply address, subject, charset ----

HRESULT clsMail::GetCookie(BSTR *cookie) {
    HRESULT hr = S_OK;
    clsTraceScope trace(&hr, "clsMail::GetCookie(%p)", (void *)cookie);
    hr = AssignBstr(cookie, cookie_, 0);
    if (trace.Active() && SUCCEEDED(hr)) trace.Value("'" + cookie_ + "'");
    return hr;
}

HRESULT clsMail::SetSender(BSTR address) {
    HRESULT hr = S_OK;
    clsTraceScope trace(&hr, "clsMail::SetSender('%ws')", address);
    // The sender goes into the message head as it is: a line break would add header lines.
    if (HasLineBreak(WideView(address))) return hr = E_INVALIDARG;
    Invalidate();
    sender_ = Narrow(WideView(address));
    if (!sender_.empty() && !IsValidAddress(sender_)) hr = E_INVALIDARG;
    return hr;
}

String clsMail::SenderDomain() const {
    static const String host = ToLower(pal::ComputerName().substr(0, 15));
    return site_ ? site_->ReadTextOptionA("SenderDomain", Widen(host)) : host;
}

String clsMail::EffectiveSender() const {
    if (!sender_.empty() || !site_) return sender_;
    String address = site_->ReadTextOptionA("SenderAddress");
    if (address.empty()) return String();
    String name = site_->ReadTextOptionA("SenderName");
    return name.empty() ? Format("<%s>", address.c_str()) : Format("\"%s\" <%s>", name.c_str(), address.c_str());
}

HRESULT clsMail::GetSender(BSTR *address) {
    HRESULT hr = S_OK;
    clsTraceScope trace(&hr, "clsMail::GetSender(%p)", (void *)address);
    String sender = EffectiveSender();
    hr = AssignBstr(address, sender, 0);
    if (trace.Active() && SUCCEEDED(hr)) trace.Value("'" + sender + "'");
    return hr;
}

HRESULT clsMail::SetReplyAddress(BSTR address) {
    HRESULT hr = S_OK;
    clsTraceScope trace(&hr, "clsMail::SetReplyAddress('%ws')", address);
    if (HasLineBreak(WideView(address))) return hr = E_INVALIDARG;
    Invalidate();
    replyAddress_ = Narrow(WideView(address));
    if (!replyAddress_.empty() && !IsValidAddress(replyAddress_)) hr = E_INVALIDARG;
    return hr;
}

HRESULT clsMail::GetReplyAddress(BSTR *address) {
    HRESULT hr = S_OK;
    clsTraceScope trace(&hr, "clsMail::GetReplyAddress(%p)", (void *)address);
    hr = AssignBstr(address, replyAddress_, 0);
    if (trace.Active() && SUCCEEDED(hr)) trace.Value("'" + replyAddress_ + "'");
    return hr;
}

HRESULT clsMail::SetSubject(BSTR subject) {
    HRESULT hr = S_OK;
    clsTraceScope trace(&hr, "clsMail::SetSubject('%ws')", subject);
    Invalidate();
    subject_ = Narrow(WideView(subject), CodePage());
    return hr;
}

HRESULT clsMail::GetSubject(BSTR *subject) {
    HRESULT hr = S_OK;
    clsTraceScope trace(&hr, "clsMail::GetSubject(%p)", (void *)subject);
    hr = AssignBstr(subject, subject_, CodePage());
    if (trace.Active() && SUCCEEDED(hr)) trace.Value("'" + subject_ + "'");
    return hr;
}

HRESULT clsMail::GetCharset(BSTR *charset, ULONG *codepage, ULONG *gdiCharset) {
    HRESULT hr = S_OK;
    clsTraceScope trace(&hr, "clsMail::GetCharset(%p,%p,%p)", (void *)charset, (void *)codepage, (void *)gdiCharset);
    hr = AssignBstr(charset, charset_, 0);
    if (FAILED(hr)) return hr;
    uint32_t cp = CodePage();
    if (codepage) *codepage = cp;
    if (gdiCharset) *gdiCharset = GdiCharsetForCodePage(cp);
    if (trace.Active()) trace.Value("'" + charset_ + "'");
    return hr;
}

// ---- header entries ----

HRESULT clsMail::SetHeaderEntry(BSTR name, BSTR value) {
    HRESULT hr = S_OK;
    clsTraceScope trace(&hr, "clsMail::SetHeaderEntry(%ws,%ws)", name, value);
    // Entries are written into the message head as they are.
    if (HasLineBreak(WideView(name)) || HasLineBreak(WideView(value))) return hr = E_INVALIDARG;
    Invalidate();
    headerEntries_.emplace(IString(Narrow(WideView(name))), Narrow(WideView(value), CodePage()));
    return hr;
}

String clsMail::DateText() {
    pal::LocalTime now = pal::GetLocalTime();
    pal::LocalTime t = now;
    const clsHeaderItem *date = generated_.Find("Date");
    // A mail's own date keeps its instant and zone; the variant conversion
    // reads neither the RFC 822 form nor its zone.
    if (date && !ParseHeaderDate(date->Joined(), t)) {
        VARIANT text, converted;
        VariantInit(&text);
        VariantInit(&converted);
        text.vt = VT_BSTR;
        text.bstrVal = clsBstr(Widen(date->Joined())).release();
        if (text.bstrVal && SUCCEEDED(VariantChangeType(&converted, &text, 0, VT_DATE)) &&
            FromOleDate(converted.date, t))
            t.utcOffsetMinutes = now.utcOffsetMinutes;
        else
            t = now;
        VariantClear(&text);
        VariantClear(&converted);
    }
    return Format("%s, %02d %s %04d %02d:%02d:%02d", kDayNames[t.dayOfWeek % 7], t.day,
                  kMonthNames[(t.month + 11) % 12], t.year, t.hour, t.minute, t.second) +
           " " + ZoneText(t.utcOffsetMinutes);
}

void clsMail::BuildGeneratedHeaders() {
    if (!generated_.Empty() && headersReusable_) return;
    String charset = charset_.empty() ? CharsetForCodePage(0) : charset_;
    uint32_t cp = CodePage();
    String date = DateText();

    String from = EffectiveSender();
    if (from.empty()) {
        String provider = site_ ? site_->GetProviderName() : String();
        String domain = site_ ? SenderDomain() : String();
        from = Format("%s@%s", provider.c_str(), domain.c_str());
    }
    // A display name outside ASCII goes as encoded words, as in To and CC;
    // raw 8-bit bytes in a head are mangled on the way.
    if (std::any_of(from.begin(), from.end(), [](char c) { return (unsigned char)c >= 0x80; })) {
        try {
            from = EncodeAddressField(Widen(from, 0), charset);
        } catch (const clsExcept &) {
            // no address in it: written as it stands
        }
    }
    generated_.Set("From", from);

    auto addAddresses = [&](const char *name, const std::vector<String> &list) {
        String joined;
        for (const String &address : list) {
            std::string_view a = address;
            if (a.substr(0, 5) == "smtp:") a.remove_prefix(5);
            String encoded;
            try {
                encoded = EncodeAddressField(Widen(a, 0), charset);
            } catch (const clsExcept &) {
                continue; // no address in it: left out
            }
            if (!joined.empty()) joined += ",\r\n ";
            joined += encoded;
        }
        if (!joined.empty()) generated_.Add(name, joined);
    };
    // A forced rebuild starts these afresh instead of adding to what stands.
    generated_.Remove("To");
    generated_.Remove("CC");
    for (const auto &entry : headerEntries_) generated_.Remove(entry.first);
    addAddresses("To", to_);
    addAddresses("CC", cc_);

    generated_.Set("Date", date);
    generated_.Set("Subject", EncodeHeaderText(Widen(subject_, cp), charset));
    generated_.Set("Importance", site_ ? site_->ReadTextOptionA("Importance", u"Normal") : "Normal");
    generated_.Set("X-Mailer", Format("%s %s", "orkv14", pal::ModuleFileVersion().c_str()));
    for (const auto &entry : headerEntries_) {
        std::string_view value = entry.second;
        for (;;) {
            size_t cut = value.find('\x01');
            generated_.Add(entry.first, String(value.substr(0, cut)));
            if (cut == std::string_view::npos) break;
            value.remove_prefix(cut + 1);
        }
    }
    headersReusable_ = true;
}

HRESULT clsMail::GetHeaderEntry(BSTR name, BSTR *value) {
    HRESULT hr = S_OK;
    clsTraceScope trace(&hr, "clsMail::GetHeaderEntry(%ws,%p)", name, (void *)value);
    if (!value) return hr = E_INVALIDARG;
    try {
        BuildGeneratedHeaders();
    } catch (const clsExcept &) {
        return hr = E_UNEXPECTED;
    } catch (const std::bad_alloc &) {
        return hr = E_OUTOFMEMORY;
    }
    const clsHeaderItem *item = generated_.Find(Narrow(WideView(name)));
    if (!item) return hr = S_FALSE;
    String joined = item->Joined();
    hr = AssignBstr(value, joined, CodePage());
    if (trace.Active() && SUCCEEDED(hr)) trace.Value(joined);
    return hr;
}

HRESULT clsMail::GetHeaderEntry2(BSTR name, BSTR *value, IEnumString **parameters) {
    HRESULT hr = S_OK;
    clsTraceScope trace(&hr, "clsMail::GetHeaderEntry2(%ws,%p)", name, (void *)value);
    if (!parameters) return hr = E_INVALIDARG;
    *parameters = nullptr;
    hr = static_cast<IKvMail2 *>(this)->GetHeaderEntry(name, value);
    if (FAILED(hr)) return hr;
    return hr = SplitHeaderEntry(hr, value, parameters, CodePage());
}

HRESULT clsMail::IsValid() {
    HRESULT hr = S_OK;
    clsTraceScope trace(&hr, "clsMail::IsValid()");
    return hr = (state_ == kMailDeleted ? S_FALSE : S_OK);
}

// ---- recipients ----

HRESULT clsMail::AddTo(std::vector<String> &list, BSTR text) {
    Invalidate();
    String all = Narrow(WideView(text));
    if (all.empty()) {
        list.clear();
        return S_OK;
    }
    bool refused = false;
    std::string_view rest = all;
    for (;;) {
        size_t tab = rest.find('\t');
        std::string_view piece = rest.substr(0, tab);
        while (!piece.empty() && piece.front() == ' ') piece.remove_prefix(1);
        while (!piece.empty() && piece.back() == ' ') piece.remove_suffix(1);
        if (!piece.empty()) {
            String address(piece);
            // A line break would reach the message head inside the address.
            if (address.find_first_of("\r\n") != String::npos || !IsValidAddress(address)) refused = true;
            else list.push_back(address);
        }
        if (tab == std::string_view::npos) break;
        rest.remove_prefix(tab + 1);
    }
    if (refused) return E_INVALIDARG;
    return list.empty() ? E_INVALIDARG : S_OK;
}

HRESULT clsMail::AddRecipients(BSTR list) {
    HRESULT hr = S_OK;
    clsTraceScope trace(&hr, "clsMail::AddRecipients('%ws')", list);
    return hr = AddTo(to_, list);
}

HRESULT clsMail::AddCCRecipients(BSTR list) {
    HRESULT hr = S_OK;
    clsTraceScope trace(&hr, "clsMail::AddCCRecipients('%ws')", list);
    return hr = AddTo(cc_, list);
}

HRESULT clsMail::AddBCCRecipients(BSTR list) {
    HRESULT hr = S_OK;
    clsTraceScope trace(&hr, "clsMail::AddBCCRecipients('%ws')", list);
    return hr = AddTo(bcc_, list);
}

HRESULT clsMail::Enumerate(const std::vector<String> &list, IEnumString **out) {
    if (!out) return E_INVALIDARG;
    std::vector<WString> texts;
    for (const String &text : list) texts.push_back(Widen(text, 0));
    return clsEnumString::Create(std::move(texts), out);
}

HRESULT clsMail::EnumRecipients(IEnumString **recipients) {
    HRESULT hr = S_OK;
    clsTraceScope trace(&hr, "clsMail::EnumRecipients(%p)", (void *)recipients);
    return hr = Enumerate(to_, recipients);
}

HRESULT clsMail::EnumCCRecipients(IEnumString **recipients) {
    HRESULT hr = S_OK;
    clsTraceScope trace(&hr, "clsMail::EnumCCRecipients()");
    return hr = Enumerate(cc_, recipients);
}

HRESULT clsMail::EnumBCCRecipients(IEnumString **recipients) {
    HRESULT hr = S_OK;
    clsTraceScope trace(&hr, "clsMail::EnumBCCRecipients()");
    return hr = Enumerate(bcc_, recipients);
}

// ---- bodies and attachments ----

HRESULT clsMail::CreateAndAddAttachment(IKvMailAttachment **attachment) {
    HRESULT hr = S_OK;
    clsTraceScope trace(&hr, "clsMail::CreateAndAddAttachment()");
    if (!attachment) return hr = E_INVALIDARG;
    return hr = attachments_.CreateAndAdd(attachment);
}

HRESULT clsMail::CreateAndAddBody(IKvMailBody **body, BSTR mediaType, ULONG codepage) {
    HRESULT hr = S_OK;
    clsTraceScope trace(&hr, "clsMail::CreateAndAddBody(...,%ws,%d)", mediaType, int(codepage));
    if (!body) return hr = E_INVALIDARG;
    IString type(Narrow(WideView(mediaType)));
    if ((type == "text/plain" && !(bodyTypes_ & kBodyPlain)) || (type == "text/HTML" && !(bodyTypes_ & kBodyHtml)) ||
        (type == "application/RTF" && !(bodyTypes_ & kBodyRtf)))
        return hr = E_INVALIDARG;
    return hr = bodies_.CreateAndAdd(body, type, codepage);
}

HRESULT clsMail::EnsureLoaded() {
    switch (state_) {
    case kMailNew:
    case kMailLoaded:
        return S_OK;
    case kMailListed: {
        if (!site_) return E_UNEXPECTED;
        HRESULT hr = S_OK;
        try {
            hr = site_->LoadRestOfMail(Interface());
        } catch (clsExcept &e) {
            e.Push("[clsMail::LoadRestOfMail()]");
            KeepRecord(e);
            return E_ABORT;
        }
        if (FAILED(hr)) return hr;
        state_ = kMailLoaded;
        return S_OK;
    }
    case kMailDeleted:
        return kMailDeletedResult;
    default:
        return E_UNEXPECTED;
    }
}

HRESULT clsMail::EnumAttachments(IKvEnumMailAttachment **attachments) {
    HRESULT hr = S_OK;
    clsTraceScope trace(&hr, "clsMail::EnumAttachments()");
    if (!attachments) return hr = E_INVALIDARG;
    *attachments = nullptr;
    hr = EnsureLoaded();
    if (hr != S_OK) return hr;
    return hr = attachments_.CreateEnum(attachments);
}

HRESULT clsMail::EnumBodies(IKvEnumMailBody **bodies) {
    HRESULT hr = S_OK;
    clsTraceScope trace(&hr, "clsMail::EnumBodies()");
    if (!bodies) return hr = E_INVALIDARG;
    *bodies = nullptr;
    hr = EnsureLoaded();
    if (hr != S_OK) return hr;
    return hr = bodies_.CreateEnum(bodies);
}

// ---- raw text ----

namespace {

// A message text in one block, not cleared before it is filled.
struct clsWholeText {
    clsMemoryBlock data;
    size_t size = 0;
    size_t capacity = 0;
    size_t prepared = 0;
    void Reserve(size_t wanted) {
        if (wanted <= capacity) return;
        ResizeBlock(data, wanted);
        capacity = wanted;
    }
    // The pages of the piece about to be read, mapped in one go just before
    // it is copied in (the cleared pages are then still in the cache); no
    // more than the text fills, whatever size the stream claims.
    void Prepare(size_t upTo) {
        if (upTo <= prepared) return;
        size_t end = std::min(capacity, upTo);
        pal::PrefaultPages(data.get() + prepared, end - prepared);
        prepared = end;
    }
};

// The stream from its start to its end, scanned as it comes. rewound tells
// whether the stream could be set to its start; nothing is read when it could not.
HRESULT ReadWhole(IStream *source, clsWholeText &whole, clsTextScan &scan, bool &rewound) {
    LARGE_INTEGER zero{};
    HRESULT hr = source->Seek(zero, STREAM_SEEK_SET, nullptr);
    if (FAILED(hr)) return hr;
    rewound = true;
    // The size is a hint (one byte more, so the read that finds the end
    // needs no room of its own); a stream may grow while it is read.
    size_t hint = 64 * 1024;
    if (uint64_t size = StreamSize(source); size < (uint64_t(1) << 30)) hint = std::max(hint, size_t(size) + 1);
    whole.Reserve(hint);
    for (;;) {
        if (whole.size == whole.capacity) whole.Reserve(whole.capacity + std::max<size_t>(whole.capacity, 64 * 1024));
        // Pieces small enough to be scanned while they are in the cache.
        ULONG room = ULONG(std::min<size_t>(whole.capacity - whole.size, 256 * 1024));
        whole.Prepare(whole.size + room);
        ULONG got = 0;
        hr = source->Read(whole.data.get() + whole.size, room, &got);
        if (FAILED(hr)) return hr;
        if (got == 0) break;
        got = std::min(got, room);
        scan.Feed(whole.data.get() + whole.size, got);
        whole.size += got;
    }
    return S_OK;
}

} // namespace

void clsMail::ForgetReadContent() {
    to_.clear();
    cc_.clear();
    bcc_.clear();
    bodies_.Clear();
    attachments_.Clear();
    generated_.Clear();
}

HRESULT clsMail::SetRawText(IStream *source) {
    HRESULT hr = S_OK;
    clsTraceScope trace(&hr, "clsMail::SetRawText(%p)", (void *)source);
    if (!source) return hr = E_INVALIDARG;
    try {
        clsWholeText whole;
        clsTextScan scan;
        bool rewound = false;
        hr = ReadWhole(source, whole, scan, rewound);
        if (FAILED(hr)) {
            // What came before the failure is kept, as a copy into the raw text would have.
            if (rewound) {
                rawText_.Truncate();
                rawText_.Handle();
                rawText_.Write(whole.data.get(), whole.size);
            }
            return hr;
        }
        // A second text replaces the first; appended to it, its first text part would become an attachment.
        ForgetReadContent();
        // The whole text: a zero byte is a byte of its part like any other.
        std::string_view text(whole.data.get(), whole.size);
        if (text.size() <= rawText_.MemoryLimit() && scan.RawForm()) {
            // The text is its own raw text: kept as it came, not written out
            // unless something asks for the file.
            rawText_.KeepInMemory(std::move(whole.data), text.size());
            ReadMail(*this, rawText_.Memory(), kReadRawTextKept);
        } else {
            ReadMail(*this, text, 0);
        }
    } catch (clsExcept &e) {
        e.Push("[clsMail::SetRawText()]");
        KeepRecord(e);
        return hr = E_UNEXPECTED;
    } catch (const std::bad_alloc &) {
        return hr = E_OUTOFMEMORY;
    }
    return hr = S_OK;
}

HRESULT clsMail::GetRawText(IStream *destination) {
    HRESULT hr = S_OK;
    clsTraceScope trace(&hr, "clsMail::GetRawText(%p)", (void *)destination);
    if (!destination) return hr = E_INVALIDARG;
    try {
        if (rawText_.Empty()) RenderMail(*this, WriterOptions{SenderDomain(), false, {}});
        return hr = rawText_.SaveTo(destination);
    } catch (clsExcept &e) {
        e.Push("[clsMail::GetRawText()]");
        KeepRecord(e);
        return hr = E_UNEXPECTED;
    } catch (const std::bad_alloc &) {
        return hr = E_OUTOFMEMORY;
    }
}

// ---- dialog ----

HRESULT clsMail::Edit(HWND parent, LONG value, LONG editable, DWORD flags) {
    HRESULT hr = S_OK;
    clsTraceScope trace(&hr, "clsMail::Edit(0x%08x,%d,%d,0x%08x)", unsigned(uintptr_t(parent)), int(value),
                        int(editable), unsigned(flags));
    pal::DynamicLibrary richEdit("RICHED20.DLL");
    if (!richEdit.Loaded()) {
        String text = Format("RTF editor file '%s' not found", "RICHED20.DLL");
        if (site_)
            site_->Fail(E_INVALIDARG, kErrGeneral, text);
        else
            clsExcept(kErrGeneral, text); // logged all the same
        return hr = E_INVALIDARG;
    }
    int result = mailEditor ? mailEditor(uintptr_t(parent), static_cast<IKvMail *>(this), editable != 0, flags) : -1;
    if (result == -1) return hr = E_FAIL; // the dialog could not be shown
    return hr = result == 1 ? S_OK : S_FALSE;
}

} // namespace kv

#include "mail/mail_body.h"

#include <new>

#include "runtime/except.h"
#include "runtime/kvlog.h"
#include "mail/gdi_charset.h"
#include "mail/header_entry.h"
#include "mail/html_scan.h"
#include "mime/charset_table.h"
#include "runtime/com_util.h"

namespace kv {

namespace {
const ULARGE_INTEGER kCopyAll = {{0xFFFFFFFFu, 0xFFFFFFFFu}};
}

clsMailBody *clsMailBody::Create(const IString &mediaType, uint32_t codepage) {
    IStream *contents = nullptr;
    if (FAILED(CreateStreamOnHGlobal(nullptr, TRUE, &contents))) return nullptr;
    clsMailBody *body = new (std::nothrow) clsMailBody(mediaType, contents, CharsetForCodePage(codepage));
    contents->Release();
    return body;
}

clsMailBody::clsMailBody(const IString &mediaType, IStream *contents, const String &charset)
    : mediaType_(mediaType), contents_(contents), charset_(charset) {
    contents_->AddRef();
}

clsMailBody::~clsMailBody() { contents_->Release(); }

uint32_t clsMailBody::CodePage() const { return CodePageForCharset(charset_); }

bool clsMailBody::HasRelatedAttachments() const {
    for (const clsMailAttachment *a : attachments_)
        if (!a->ContentId().empty()) return true;
    return false;
}

HRESULT clsMailBody::GetType(BSTR *mediaType) {
    HRESULT hr = S_OK;
    clsTraceScope trace(&hr, "clsMailBody::GetType(%p)", (void *)mediaType);
    if (!mediaType) return hr = E_INVALIDARG;
    String type = HasRelatedAttachments() ? String("multipart/related") : mediaType_.str();
    hr = AssignBstr(mediaType, type, 0);
    if (trace.Active() && SUCCEEDED(hr)) trace.Value("'" + type + "'");
    return hr;
}

HRESULT clsMailBody::SetContents(IStream *source) {
    HRESULT hr = S_OK;
    clsTraceScope trace(&hr, "clsMailBody::SetContents(%p)", (void *)source);
    if (!source) return hr = E_INVALIDARG;
    LARGE_INTEGER zero{};
    hr = source->Seek(zero, STREAM_SEEK_SET, nullptr);
    if (FAILED(hr)) return hr;
    hr = contents_->Seek(zero, STREAM_SEEK_SET, nullptr);
    if (FAILED(hr)) return hr;
    ULARGE_INTEGER written{};
    hr = source->CopyTo(contents_, kCopyAll, nullptr, &written);
    if (FAILED(hr)) return hr;
    contents_->SetSize(written);
    if (mediaType_ == "text/html") ScanHtmlBody(*this);
    return hr;
}

HRESULT clsMailBody::GetContents(IStream *destination) {
    HRESULT hr = S_OK;
    clsTraceScope trace(&hr, "clsMailBody::GetContents(%p)", (void *)destination);
    if (!destination) return hr = E_INVALIDARG;
    LARGE_INTEGER zero{};
    if (FAILED(contents_->Seek(zero, STREAM_SEEK_SET, nullptr)) ||
        FAILED(destination->Seek(zero, STREAM_SEEK_SET, nullptr)))
        return hr = E_UNEXPECTED;
    ULARGE_INTEGER written{};
    hr = contents_->CopyTo(destination, kCopyAll, nullptr, &written);
    if (FAILED(hr)) return hr;
    destination->SetSize(written);
    return hr = S_OK;
}

HRESULT clsMailBody::GetCharset(BSTR *charset, ULONG *codepage, ULONG *gdiCharset) {
    HRESULT hr = S_OK;
    clsTraceScope trace(&hr, "clsMailBody::GetCharset(%p,%p,%p)", (void *)charset, (void *)codepage,
                        (void *)gdiCharset);
    if (!charset) return hr = E_INVALIDARG;
    hr = AssignBstr(charset, charset_, 0);
    if (FAILED(hr)) return hr;
    uint32_t cp = CodePage();
    if (codepage) *codepage = cp;
    if (gdiCharset) *gdiCharset = GdiCharsetForCodePage(cp);
    if (trace.Active()) trace.Value("'" + charset_ + "'");
    return hr;
}

HRESULT clsMailBody::GetHeaderEntry(BSTR name, BSTR *value) {
    HRESULT hr = S_OK;
    clsTraceScope trace(&hr, "clsMailBody::GetHeaderEntry(%ws,%p)", name, (void *)value);
    if (!value) return hr = E_INVALIDARG;
    const clsHeaderItem *item = headers_.Find(Narrow(WideView(name)));
    if (!item) return hr = S_FALSE;
    String joined = item->Joined();
    hr = AssignBstr(value, joined, CodePage());
    if (trace.Active() && SUCCEEDED(hr)) trace.Value(joined);
    return hr;
}

HRESULT clsMailBody::CreateAndAddAttachment(IKvMailAttachment **attachment) {
    HRESULT hr = S_OK;
    clsTraceScope trace(&hr, "clsMailBody::CreateAndAddAttachment(%p)", (void *)attachment);
    return hr = attachments_.CreateAndAdd(attachment);
}

HRESULT clsMailBody::EnumAttachments(IKvEnumMailAttachment **attachments) {
    HRESULT hr = S_OK;
    clsTraceScope trace(&hr, "clsMailBody::EnumAttachments(%p)", (void *)attachments);
    return hr = attachments_.CreateEnum(attachments);
}

HRESULT clsMailBody::GetHeaderEntry2(BSTR name, BSTR *value, IEnumString **parameters) {
    HRESULT hr = S_OK;
    clsTraceScope trace(&hr, "clsMailBody::GetHeaderEntry2(%ws,%p)", name, (void *)value);
    if (!parameters) return hr = E_INVALIDARG;
    *parameters = nullptr;
    hr = static_cast<IKvMailBody *>(this)->GetHeaderEntry(name, value);
    if (FAILED(hr)) return hr;
    return hr = SplitHeaderEntry(hr, value, parameters, CodePage());
}

HRESULT clsMailBody::GetCodepage(ULONG *codepage) {
    HRESULT hr = S_OK;
    clsTraceScope trace(&hr, "clsMailBody::GetCodepage(%p)", (void *)codepage);
    if (!codepage) return hr = E_INVALIDARG;
    *codepage = CodePage();
    if (trace.Active()) trace.Value(Format("%d", int(*codepage)));
    return hr;
}

} // namespace kv

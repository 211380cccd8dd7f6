#include "mail/mail_attachment.h"

#include "runtime/except.h"
#include "runtime/kvlog.h"
#include "mail/file_source.h"
#include "mail/header_entry.h"
#include "mail/writer.h"
#include "runtime/com_util.h"

namespace kv {

namespace {
const ULARGE_INTEGER kCopyAll = {{0x7FFFFFFFu, 0}};
}

clsMailAttachment::~clsMailAttachment() {
    if (contents_) contents_->Release();
}

void clsMailAttachment::SetContentsStream(IStream *stream) {
    if (stream) stream->AddRef();
    if (contents_) contents_->Release();
    contents_ = stream;
}

HRESULT clsMailAttachment::SetName(BSTR name) {
    HRESULT hr = S_OK;
    clsTraceScope trace(&hr, "clsMailAttachment::SetName('%ws')", name);
    name_ = Narrow(WideView(name));
    return hr;
}

HRESULT clsMailAttachment::GetName(BSTR *name) {
    HRESULT hr = S_OK;
    clsTraceScope trace(&hr, "clsMailAttachment::GetName(%p)", (void *)name);
    hr = AssignBstr(name, name_, 0);
    if (trace.Active() && SUCCEEDED(hr)) trace.Value("'" + name_ + "'");
    return hr;
}

HRESULT clsMailAttachment::SetContents(IStream *source) {
    HRESULT hr = S_OK;
    clsTraceScope trace(&hr, "clsMailAttachment::SetContents(%p)", (void *)source);
    if (!source) return hr = E_UNEXPECTED;
    clsAutoRelease<IStream> stream;
    hr = CreateStreamOnHGlobal(nullptr, TRUE, stream.put());
    if (FAILED(hr)) return hr = E_OUTOFMEMORY;
    SetContentsStream(stream.get());
    LARGE_INTEGER zero{};
    if (FAILED(source->Seek(zero, STREAM_SEEK_SET, nullptr))) return hr = E_UNEXPECTED;
    return hr = source->CopyTo(contents_, kCopyAll, nullptr, nullptr);
}

HRESULT clsMailAttachment::GetContents(IStream *destination) {
    HRESULT hr = S_OK;
    clsTraceScope trace(&hr, "clsMailAttachment::GetContents(%p)", (void *)destination);
    if (contents_) {
        LARGE_INTEGER zero{};
        if (FAILED(contents_->Seek(zero, STREAM_SEEK_SET, nullptr))) return hr = E_UNEXPECTED;
        if (!destination) return hr = E_UNEXPECTED;
        // Emptied and written from its start: a position left at the old end would leave a gap of zeros.
        ULARGE_INTEGER empty{};
        destination->SetSize(empty);
        destination->Seek(zero, STREAM_SEEK_SET, nullptr);
        return hr = contents_->CopyTo(destination, kCopyAll, nullptr, nullptr);
    }
    if (!destination) return hr = E_UNEXPECTED;
    try {
        if (!CopyFileToStream(name_, destination)) return hr = E_UNEXPECTED;
    } catch (const clsExcept &) {
        return hr = E_UNEXPECTED;
    }
    return hr = S_OK;
}

HRESULT clsMailAttachment::GetHeaderEntry(BSTR name, BSTR *value) {
    HRESULT hr = S_OK;
    clsTraceScope trace(&hr, "clsMailAttachment::GetHeaderEntry(%ws,%p)", name, (void *)value);
    if (!value) return hr = E_INVALIDARG;
    try {
        if (headers_.Empty()) BuildAttachmentHeader(*this);
    } catch (const clsExcept &) {
        return hr = E_UNEXPECTED;
    }
    const clsHeaderItem *item = headers_.Find(Narrow(WideView(name)));
    if (!item) return hr = S_FALSE;
    String joined = item->Joined();
    hr = AssignBstr(value, joined, 1252);
    if (trace.Active() && SUCCEEDED(hr)) trace.Value(joined);
    return hr;
}

HRESULT clsMailAttachment::GetHeaderEntry2(BSTR name, BSTR *value, IEnumString **parameters) {
    HRESULT hr = S_OK;
    clsTraceScope trace(&hr, "clsMailAttachment::GetHeaderEntry2(%ws,%p)", name, (void *)value);
    if (!parameters) return hr = E_INVALIDARG;
    *parameters = nullptr;
    hr = static_cast<IKvMailAttachment *>(this)->GetHeaderEntry(name, value);
    if (FAILED(hr)) return hr;
    return hr = SplitHeaderEntry(hr, value, parameters, 1252);
}

} // namespace kv

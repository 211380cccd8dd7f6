// The Body and Attachment objects over the core's IKvMailBody and IKvMailAttachment.
#include "object.h"
#include "objects.h"
#include "values.h"

namespace kvauto {
namespace {

BSTR OrEmpty(Bstr &text) { return text.get() ? text.release() : SysAllocString(L""); }

class BodyObject : public Dispatch<IKvAutoBody> {
  public:
    explicit BodyObject(Ptr<IKvMailBody> body) : Dispatch("Orkv14.Body"), body_(std::move(body)) {}

    STDMETHODIMP get_Type(BSTR *out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        Bstr type;
        HRESULT hr = body_->GetType(type.put());
        if (FAILED(hr)) return Fail(hr, "The media type cannot be read: " + SystemText(hr));
        *out = OrEmpty(type);
        return S_OK;
    }
    STDMETHODIMP get_Text(BSTR *out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        return Guarded([&] {
            std::string bytes;
            HRESULT hr = Contents(bytes);
            if (FAILED(hr)) return hr;
            *out = Decode(bytes, Codepage());
            return *out ? S_OK : Fail(E_OUTOFMEMORY, "Not enough memory");
        });
    }
    STDMETHODIMP put_Text(BSTR text) override {
        return Guarded([&] {
            Ptr<IStream> stream;
            HRESULT hr = StreamOf(Encode(text, Codepage()), stream);
            if (SUCCEEDED(hr)) hr = body_->SetContents(stream.get());
            return FAILED(hr) ? Fail(hr, "The text cannot be set: " + SystemText(hr)) : S_OK;
        });
    }
    STDMETHODIMP get_Charset(BSTR *out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        Bstr charset;
        HRESULT hr = body_->GetCharset(charset.put(), nullptr, nullptr);
        if (FAILED(hr)) return Fail(hr, "The charset cannot be read: " + SystemText(hr));
        *out = OrEmpty(charset);
        return S_OK;
    }
    STDMETHODIMP get_CodePage(long *out) override {
        if (!out) return E_POINTER;
        *out = long(Codepage());
        return S_OK;
    }
    STDMETHODIMP get_Attachments(IKvAutoAttachments **out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        return Guarded([&] { return NewAttachments(nullptr, body_.get(), nullptr, out); });
    }
    STDMETHODIMP get_Header(BSTR name, BSTR *out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (!IsFieldName(name)) return Fail(E_INVALIDARG, "A header name is printable ASCII without a colon");
        Bstr value;
        HRESULT hr = body_->GetHeaderEntry(name, value.put());
        if (FAILED(hr)) return Fail(hr, "The header cannot be read: " + SystemText(hr));
        if (hr != S_OK) value.put();
        *out = OrEmpty(value);
        return S_OK;
    }
    STDMETHODIMP get_Data(VARIANT *out) override {
        if (!out) return E_POINTER;
        VariantInit(out);
        return Guarded([&] {
            std::string bytes;
            HRESULT hr = Contents(bytes);
            return FAILED(hr) ? hr : ByteArray(bytes, out);
        });
    }

  private:
    UINT Codepage() {
        ULONG codepage = 0;
        body_->GetCodepage(&codepage);
        return codepage;
    }
    HRESULT Contents(std::string &bytes) {
        Ptr<IStream> stream;
        HRESULT hr = EmptyStream(stream);
        if (SUCCEEDED(hr)) hr = body_->GetContents(stream.get());
        if (FAILED(hr)) return Fail(hr, "The body's contents cannot be read: " + SystemText(hr));
        bytes = BytesOf(stream.get());
        return S_OK;
    }

    Ptr<IKvMailBody> body_;
};

class AttachmentObject : public Dispatch<IKvAutoAttachment> {
  public:
    explicit AttachmentObject(Ptr<IKvMailAttachment> attachment)
        : Dispatch("Orkv14.Attachment"), attachment_(std::move(attachment)) {}

    STDMETHODIMP get_Name(BSTR *out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        Bstr name;
        HRESULT hr = attachment_->GetName(name.put());
        if (FAILED(hr)) return Fail(hr, "The name cannot be read: " + SystemText(hr));
        *out = OrEmpty(name);
        return S_OK;
    }
    STDMETHODIMP put_Name(BSTR name) override {
        HRESULT hr = attachment_->SetName(name);
        return FAILED(hr) ? Fail(hr, "The name cannot be set: " + SystemText(hr)) : S_OK;
    }
    STDMETHODIMP get_FileName(BSTR *out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        Bstr name;
        HRESULT hr = attachment_->GetName(name.put());
        if (FAILED(hr)) return Fail(hr, "The name cannot be read: " + SystemText(hr));
        *out = SafeFileName(name.get());
        return *out ? S_OK : Fail(E_OUTOFMEMORY, "Not enough memory");
    }
    STDMETHODIMP get_Data(VARIANT *out) override {
        if (!out) return E_POINTER;
        VariantInit(out);
        return Guarded([&] {
            std::string bytes;
            HRESULT hr = Contents(bytes);
            return FAILED(hr) ? hr : ByteArray(bytes, out);
        });
    }
    STDMETHODIMP put_Data(VARIANT data) override {
        return Guarded([&] {
            std::string bytes, why;
            HRESULT hr = BytesArg(data, bytes, why);
            if (FAILED(hr)) return Fail(hr, why);
            Ptr<IStream> stream;
            hr = StreamOf(bytes, stream);
            if (SUCCEEDED(hr)) hr = attachment_->SetContents(stream.get());
            return FAILED(hr) ? Fail(hr, "The contents cannot be set: " + SystemText(hr)) : S_OK;
        });
    }
    STDMETHODIMP get_Size(long *out) override {
        if (!out) return E_POINTER;
        *out = 0;
        return Guarded([&] {
            std::string bytes;
            HRESULT hr = Contents(bytes);
            if (SUCCEEDED(hr)) *out = long(bytes.size());
            return hr;
        });
    }
    STDMETHODIMP get_ContentId(BSTR *out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        Bstr name(std::string_view("Content-ID")), value;
        HRESULT hr = attachment_->GetHeaderEntry(name.get(), value.put());
        if (FAILED(hr)) return Fail(hr, "The header cannot be read: " + SystemText(hr));
        std::wstring id(hr == S_OK && value.get() ? value.get() : L"", value.size());
        size_t first = id.find_first_not_of(L" \t<"), last = id.find_last_not_of(L" \t>");
        id = first == std::wstring::npos ? std::wstring() : id.substr(first, last - first + 1);
        *out = SysAllocStringLen(id.data(), UINT(id.size()));
        return *out ? S_OK : Fail(E_OUTOFMEMORY, "Not enough memory");
    }
    STDMETHODIMP get_Header(BSTR name, BSTR *out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (!IsFieldName(name)) return Fail(E_INVALIDARG, "A header name is printable ASCII without a colon");
        Bstr value;
        HRESULT hr = attachment_->GetHeaderEntry(name, value.put());
        if (FAILED(hr)) return Fail(hr, "The header cannot be read: " + SystemText(hr));
        if (hr != S_OK) value.put();
        *out = OrEmpty(value);
        return S_OK;
    }
    STDMETHODIMP SaveAs(BSTR path, VARIANT_BOOL overwrite) override {
        return Guarded([&] {
            std::string bytes, why;
            if (SysStringLen(path) == 0) return Fail(E_INVALIDARG, "No file name was given");
            HRESULT hr = Contents(bytes);
            if (FAILED(hr)) return hr;
            hr = WriteWholeFile(path, bytes, overwrite != VARIANT_FALSE, why);
            return FAILED(hr) ? Fail(hr, why) : S_OK;
        });
    }

  private:
    HRESULT Contents(std::string &bytes) {
        Ptr<IStream> stream;
        HRESULT hr = EmptyStream(stream);
        if (SUCCEEDED(hr)) hr = attachment_->GetContents(stream.get());
        if (FAILED(hr)) {
            // Without contents of its own an attachment reads the file its name gives.
            Bstr name;
            attachment_->GetName(name.put());
            return Fail(hr, "The contents cannot be read (no data, and no readable file " + Quoted(name.get()) + ")");
        }
        bytes = BytesOf(stream.get());
        return S_OK;
    }

    Ptr<IKvMailAttachment> attachment_;
};

} // namespace

HRESULT NewBody(Ptr<IKvMailBody> body, IKvAutoBody **out) {
    *out = new BodyObject(std::move(body));
    return S_OK;
}

HRESULT NewAttachment(Ptr<IKvMailAttachment> attachment, IKvAutoAttachment **out) {
    *out = new AttachmentObject(std::move(attachment));
    return S_OK;
}

} // namespace kvauto

// The Mail object over the core's IKvMail2.
#include "object.h"
#include "objects.h"
#include "values.h"

namespace kvauto {
namespace {

// Asked by Send and DeleteMail: hands out the object itself, so that only
// mails of this DLL (in this apartment) are taken.
const GUID IID_KvAutoCoreMail = {0xB580399E, 0xBA4E, 0x4CF4, {0x98, 0x6D, 0xE3, 0x57, 0x69, 0x25, 0xBB, 0xE3}};

bool IsOneLine(BSTR text) {
    for (UINT i = 0, n = SysStringLen(text); i < n; ++i)
        if (text[i] == L'\r' || text[i] == L'\n' || text[i] == 0) return false;
    return true;
}

UINT CodepageOf(IKvMail2 *mail) {
    Bstr charset;
    ULONG codepage = 0;
    mail->GetCharset(charset.put(), &codepage, nullptr);
    return codepage;
}

class MailObject : public Dispatch<IKvAutoMail> {
  public:
    MailObject(Ptr<IKvMail2> mail, IKvMailConnection2 *connection)
        : Dispatch("Orkv14.Mail"), mail_(std::move(mail)), connection_(Share(connection)) {}

    IKvMail2 *Core() const { return mail_.get(); }

    STDMETHODIMP get_Cookie(BSTR *out) override { return Text(out, &IKvMail2::GetCookie); }
    STDMETHODIMP get_Sender(BSTR *out) override { return Text(out, &IKvMail2::GetSender); }
    STDMETHODIMP put_Sender(BSTR value) override { return Address(value, &IKvMail2::SetSender); }
    STDMETHODIMP get_ReplyTo(BSTR *out) override { return Text(out, &IKvMail2::GetReplyAddress); }
    STDMETHODIMP put_ReplyTo(BSTR value) override { return Address(value, &IKvMail2::SetReplyAddress); }
    STDMETHODIMP get_Subject(BSTR *out) override { return Text(out, &IKvMail2::GetSubject); }
    STDMETHODIMP put_Subject(BSTR value) override {
        HRESULT hr = mail_->SetSubject(value);
        return FAILED(hr) ? Fail(hr, "The subject cannot be set: " + SystemText(hr)) : S_OK;
    }
    STDMETHODIMP get_Charset(BSTR *out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        Bstr charset;
        HRESULT hr = mail_->GetCharset(charset.put(), nullptr, nullptr);
        if (FAILED(hr)) return Fail(hr, "The charset cannot be read: " + SystemText(hr));
        *out = charset.get() ? charset.release() : SysAllocString(L"");
        return S_OK;
    }
    STDMETHODIMP get_CodePage(long *out) override {
        if (!out) return E_POINTER;
        *out = long(CodepageOf(mail_.get()));
        return S_OK;
    }
    STDMETHODIMP get_To(IKvAutoRecipients **out) override { return Recipients(RecipientList::To, out); }
    STDMETHODIMP get_CC(IKvAutoRecipients **out) override { return Recipients(RecipientList::CC, out); }
    STDMETHODIMP get_BCC(IKvAutoRecipients **out) override { return Recipients(RecipientList::BCC, out); }
    STDMETHODIMP get_Bodies(IKvAutoBodies **out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        return Guarded([&] { return NewBodies(mail_.get(), connection_.get(), out); });
    }
    STDMETHODIMP get_Attachments(IKvAutoAttachments **out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        return Guarded([&] { return NewAttachments(mail_.get(), nullptr, connection_.get(), out); });
    }
    STDMETHODIMP AddBody(BSTR type, BSTR text, IKvAutoBody **out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        return Guarded([&] {
            Ptr<IKvMailBody> body;
            std::string why;
            HRESULT hr = AddBodyTo(mail_.get(), type, text, body, why);
            return FAILED(hr) ? Fail(hr, why) : NewBody(std::move(body), out);
        });
    }
    STDMETHODIMP AddAttachment(BSTR path, IKvAutoAttachment **out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        return Guarded([&] {
            Ptr<IKvMailAttachment> attachment;
            std::string why;
            HRESULT hr = AddFileTo(mail_.get(), nullptr, path, attachment, why);
            return FAILED(hr) ? Fail(hr, why) : NewAttachment(std::move(attachment), out);
        });
    }
    STDMETHODIMP AddAttachmentData(BSTR name, VARIANT data, IKvAutoAttachment **out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        return Guarded([&] {
            Ptr<IKvMailAttachment> attachment;
            std::string why;
            HRESULT hr = AddDataTo(mail_.get(), nullptr, name, data, attachment, why);
            return FAILED(hr) ? Fail(hr, why) : NewAttachment(std::move(attachment), out);
        });
    }
    STDMETHODIMP get_Header(BSTR name, BSTR *out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (!IsFieldName(name)) return Fail(E_INVALIDARG, "A header name is printable ASCII without a colon");
        Bstr value;
        HRESULT hr = mail_->GetHeaderEntry(name, value.put());
        if (FAILED(hr)) return Fail(hr, "The mail's header cannot be made: " + SystemText(hr));
        *out = hr == S_OK && value.get() ? value.release() : SysAllocString(L"");
        return S_OK;
    }
    STDMETHODIMP put_Header(BSTR name, BSTR value) override {
        if (!IsFieldName(name)) return Fail(E_INVALIDARG, "A header name is printable ASCII without a colon");
        if (!IsOneLine(value)) return Fail(E_INVALIDARG, "A header value is one line, without CR, LF or NUL");
        HRESULT hr = mail_->SetHeaderEntry(name, value);
        return FAILED(hr) ? Fail(hr, "The header field cannot be set: " + SystemText(hr)) : S_OK;
    }
    STDMETHODIMP get_RawText(BSTR *out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        return Guarded([&] {
            std::string bytes, why;
            HRESULT hr = Rendered(bytes, why);
            if (FAILED(hr)) return Fail(hr, why);
            *out = Latin1(bytes);
            return *out ? S_OK : Fail(E_OUTOFMEMORY, "Not enough memory");
        });
    }
    STDMETHODIMP put_RawText(BSTR text) override {
        return Guarded([&] {
            UINT n = SysStringLen(text);
            std::string bytes(n, '\0');
            for (UINT i = 0; i < n; ++i) {
                if (text[i] > 0xFF) {
                    char where[64];
                    snprintf(where, sizeof where, "Character U+%04X at position %u", unsigned(text[i]), i + 1);
                    return Fail(E_INVALIDARG, std::string(where) +
                                                  " is not a byte: RawText holds the mail's bytes, one character each");
                }
                bytes[i] = char(text[i]);
            }
            Ptr<IStream> stream;
            HRESULT hr = StreamOf(bytes, stream);
            if (SUCCEEDED(hr)) hr = mail_->SetRawText(stream.get());
            return FAILED(hr) ? Fail(hr, "The text cannot be read as a mail (what was read before the fault stays)")
                              : S_OK;
        });
    }
    STDMETHODIMP SaveAs(BSTR path, VARIANT_BOOL overwrite) override {
        return Guarded([&] {
            std::string bytes, why;
            HRESULT hr = SysStringLen(path) == 0 ? E_INVALIDARG : Rendered(bytes, why);
            if (hr == E_INVALIDARG && why.empty()) why = "No file name was given";
            if (SUCCEEDED(hr)) hr = WriteWholeFile(path, bytes, overwrite != VARIANT_FALSE, why);
            return FAILED(hr) ? Fail(hr, why) : S_OK;
        });
    }
    STDMETHODIMP get_IsValid(VARIANT_BOOL *out) override {
        if (!out) return E_POINTER;
        *out = mail_->IsValid() == S_OK ? VARIANT_TRUE : VARIANT_FALSE;
        return S_OK;
    }
    STDMETHODIMP Edit(long parent, VARIANT_BOOL editable, long flags, VARIANT_BOOL *confirmed) override {
        if (!confirmed) return E_POINTER;
        *confirmed = VARIANT_FALSE;
        // Window handles are 32-bit values on 64-bit Windows too.
        HRESULT hr = mail_->Edit(reinterpret_cast<HWND>(static_cast<LONG_PTR>(parent)), 0,
                                 editable != VARIANT_FALSE ? 1 : 0, DWORD(flags));
        if (FAILED(hr)) return FailCall(hr, connection_.get(), "The mail dialog");
        *confirmed = hr == S_OK ? VARIANT_TRUE : VARIANT_FALSE;
        return S_OK;
    }

  protected:
    void *Other(REFIID iid) override {
        return iid == IID_KvAutoCoreMail ? static_cast<IKvAutoMail *>(this) : nullptr;
    }

  private:
    HRESULT Text(BSTR *out, HRESULT (STDMETHODCALLTYPE IKvMail2::*get)(BSTR *)) {
        if (!out) return E_POINTER;
        *out = nullptr;
        Bstr value;
        HRESULT hr = (mail_.get()->*get)(value.put());
        if (FAILED(hr)) return Fail(hr, "The value cannot be read: " + SystemText(hr));
        *out = value.get() ? value.release() : SysAllocString(L"");
        return S_OK;
    }
    HRESULT Address(BSTR value, HRESULT (STDMETHODCALLTYPE IKvMail2::*set)(BSTR)) {
        HRESULT hr = (mail_.get()->*set)(value);
        if (hr == E_INVALIDARG) return Fail(hr, Quoted(value) + " is not a valid e-mail address");
        return FAILED(hr) ? Fail(hr, "The address cannot be set: " + SystemText(hr)) : S_OK;
    }
    HRESULT Recipients(RecipientList list, IKvAutoRecipients **out) {
        if (!out) return E_POINTER;
        *out = nullptr;
        return Guarded([&] { return NewRecipients(mail_.get(), list, out); });
    }
    HRESULT Rendered(std::string &bytes, std::string &why) {
        Ptr<IStream> stream;
        HRESULT hr = EmptyStream(stream);
        if (SUCCEEDED(hr)) hr = mail_->GetRawText(stream.get());
        if (FAILED(hr)) {
            why = "The mail cannot be written as RFC 822 text: " + SystemText(hr);
            return hr;
        }
        bytes = BytesOf(stream.get());
        return S_OK;
    }

    Ptr<IKvMail2> mail_;
    Ptr<IKvMailConnection2> connection_;
};

} // namespace

HRESULT NewMail(Ptr<IKvMail2> mail, IKvMailConnection2 *connection, IKvAutoMail **out) {
    *out = new MailObject(std::move(mail), connection);
    return S_OK;
}

Ptr<IKvMail> CoreMailOf(IUnknown *object) {
    Ptr<IKvAutoMail> own;
    Ptr<IKvMail> core;
    if (object && SUCCEEDED(object->QueryInterface(IID_KvAutoCoreMail, own.put_void())))
        static_cast<MailObject *>(own.get())->Core()->QueryInterface(IID_IKvMail, core.put_void());
    return core;
}

HRESULT AddBodyTo(IKvMail2 *mail, BSTR type, BSTR text, Ptr<IKvMailBody> &body, std::string &why) {
    if (SysStringLen(type) == 0) {
        why = "No media type was given (text/plain, text/html, application/rtf, ...)";
        return E_INVALIDARG;
    }
    UINT codepage = CodepageOf(mail);
    HRESULT hr = mail->CreateAndAddBody(body.put(), type, codepage);
    if (hr == E_INVALIDARG) {
        why = "The provider's mails take no body of type " + Quoted(type);
        return hr;
    }
    Ptr<IStream> stream;
    if (SUCCEEDED(hr)) hr = StreamOf(Encode(text, codepage), stream);
    // An HTML body's local pictures become its inline parts here.
    if (SUCCEEDED(hr)) hr = body->SetContents(stream.get());
    if (FAILED(hr)) why = "The body cannot be added: " + SystemText(hr);
    return hr;
}

HRESULT AddFileTo(IKvMail2 *mail, IKvMailBody *body, BSTR path, Ptr<IKvMailAttachment> &attachment,
                  std::string &why) {
    // The file is read when the mail is written; a wrong name fails here, not then.
    HRESULT hr = CheckReadable(path, why);
    if (FAILED(hr)) return hr;
    hr = mail ? mail->CreateAndAddAttachment(attachment.put()) : body->CreateAndAddAttachment(attachment.put());
    if (SUCCEEDED(hr)) hr = attachment->SetName(path);
    if (FAILED(hr)) why = "The attachment cannot be added: " + SystemText(hr);
    return hr;
}

HRESULT AddDataTo(IKvMail2 *mail, IKvMailBody *body, BSTR name, const VARIANT &data,
                  Ptr<IKvMailAttachment> &attachment, std::string &why) {
    if (SysStringLen(name) == 0) {
        why = "No name was given for the attachment";
        return E_INVALIDARG;
    }
    std::string bytes;
    HRESULT hr = BytesArg(data, bytes, why);
    if (FAILED(hr)) return hr;
    Ptr<IStream> stream;
    hr = StreamOf(bytes, stream);
    if (SUCCEEDED(hr))
        hr = mail ? mail->CreateAndAddAttachment(attachment.put()) : body->CreateAndAddAttachment(attachment.put());
    if (SUCCEEDED(hr)) hr = attachment->SetName(name);
    if (SUCCEEDED(hr)) hr = attachment->SetContents(stream.get());
    if (FAILED(hr)) why = "The attachment cannot be added: " + SystemText(hr);
    return hr;
}

} // namespace kvauto

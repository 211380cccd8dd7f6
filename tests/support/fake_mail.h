// Test doubles of the mail interface: every method answers E_NOTIMPL unless
// a test overrides it; references are counted, the object deletes itself
// only when made with `owned`.
#pragma once

#include "orkv14.h"
#include <vector>

#include "runtime/kvstring.h"

namespace testsupport {

class FakeMail : public IKvMail {
  public:
    explicit FakeMail(kv::String cookie = "", bool owned = false, ULONG refs = 0)
        : cookie(std::move(cookie)), refs(refs), owned_(owned) {}
    virtual ~FakeMail() = default;
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **ppv) override {
        *ppv = nullptr;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IKvMail)) {
            *ppv = this;
            AddRef();
            return S_OK;
        }
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
    ULONG STDMETHODCALLTYPE Release() override {
        ULONG n = --refs;
        if (n == 0 && owned_) delete this;
        return n;
    }
    HRESULT STDMETHODCALLTYPE GetCookie(BSTR *out) override {
        kv::WString w = kv::Widen(cookie);
        *out = SysAllocStringLen(reinterpret_cast<const OLECHAR *>(w.data()), UINT(w.size()));
        return S_OK;
    }
#define KV_FAKE(name, ...) \
    HRESULT STDMETHODCALLTYPE name(__VA_ARGS__) override { return E_NOTIMPL; }
    KV_FAKE(SetSender, BSTR)
    KV_FAKE(GetSender, BSTR *)
    KV_FAKE(SetSubject, BSTR)
    KV_FAKE(GetSubject, BSTR *)
    KV_FAKE(GetCharset, BSTR *, ULONG *, ULONG *)
    KV_FAKE(SetHeaderEntry, BSTR, BSTR)
    KV_FAKE(GetHeaderEntry, BSTR, BSTR *)
    KV_FAKE(IsValid)
    KV_FAKE(AddRecipients, BSTR)
    KV_FAKE(EnumRecipients, IEnumString **)
    KV_FAKE(AddCCRecipients, BSTR)
    KV_FAKE(EnumCCRecipients, IEnumString **)
    KV_FAKE(CreateAndAddAttachment, IKvMailAttachment **)
    KV_FAKE(EnumAttachments, IKvEnumMailAttachment **)
    KV_FAKE(CreateAndAddBody, IKvMailBody **, BSTR, ULONG)
    KV_FAKE(EnumBodies, IKvEnumMailBody **)
    KV_FAKE(SetRawText, IStream *)
    KV_FAKE(GetRawText, IStream *)
    KV_FAKE(Edit, HWND, LONG, LONG, DWORD)
#undef KV_FAKE

    kv::String cookie;
    ULONG refs;

  private:
    bool owned_;
};

// A mail that keeps what a receive connection hands its reader.
class LinesMail final : public FakeMail {
  public:
    explicit LinesMail(kv::String id) : FakeMail(std::move(id), true) {}
    std::vector<kv::String> lines;
    bool complete = false;
    bool deleted = false;
    // Keeps a received text as its lines; a text whose last line lacks its CR LF keeps none.
    void Take(std::string_view text) {
        lines.clear();
        for (size_t end; (end = text.find("\r\n")) != std::string_view::npos; text.remove_prefix(end + 2))
            lines.emplace_back(text.substr(0, end));
        if (!text.empty()) lines = {"<no CR LF at the end>"};
    }
};

// Setting options the way a host does.
inline void SetTextOption(IKvMailConnection2 *c, const char16_t *name, const kv::String &value) {
    kv::WString w = kv::Widen(value);
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_BSTR;
    v.bstrVal = SysAllocStringLen(reinterpret_cast<const OLECHAR *>(w.data()), UINT(w.size()));
    c->SetOption(name, &v);
    VariantClear(&v);
}

inline void SetIntOption(IKvMailConnection2 *c, const char16_t *name, int32_t value) {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_I4;
    v.lVal = value;
    c->SetOption(name, &v);
}

inline kv::String ErrorText(IKvMailConnection2 *c, LONG *code = nullptr) {
    BSTR b = nullptr;
    c->GetErrorInformation(code, &b);
    kv::String r = kv::Narrow(kv::WideView(reinterpret_cast<const char16_t *>(b)));
    SysFreeString(b);
    return r;
}

} // namespace testsupport

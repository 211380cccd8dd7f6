#include "providers/cdosys/cdo_system.h"

#include <cstring>
#include <vector>

#include "runtime/com_util.h"

namespace kv::cdo {

namespace {

// Late binding by name: the objects' dual interfaces need no declared layout.
// `description` receives the object's own account of a failure it raised.
HRESULT Invoke(IDispatch *target, const wchar_t *name, WORD kind, std::vector<VARIANT> args, VARIANT *result,
               String *description = nullptr) {
    DISPID id = 0;
    LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
    HRESULT hr = target->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
    if (FAILED(hr)) return hr;
    std::vector<VARIANT> reversed(args.rbegin(), args.rend());
    DISPPARAMS params{reversed.empty() ? nullptr : reversed.data(), nullptr, UINT(reversed.size()), 0};
    DISPID put = DISPID_PROPERTYPUT;
    if (kind & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) {
        params.rgdispidNamedArgs = &put;
        params.cNamedArgs = 1;
    }
    VARIANT ignored;
    VariantInit(&ignored);
    EXCEPINFO exception{};
    UINT badArgument = 0;
    hr = target->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, kind, &params, result ? result : &ignored, &exception,
                        &badArgument);
    VariantClear(&ignored);
    if (hr == DISP_E_EXCEPTION) {
        // The objects report their failures (a refused recipient, an unreachable
        // server) as an exception: its code is the reason, not DISP_E_EXCEPTION.
        if (exception.pfnDeferredFillIn) exception.pfnDeferredFillIn(&exception);
        if (FAILED(exception.scode)) hr = exception.scode;
        else if (exception.wCode) hr = MAKE_HRESULT(SEVERITY_ERROR, FACILITY_DISPATCH, exception.wCode);
        if (description && exception.bstrDescription)
            *description = String(TrimView(Narrow(WideView(exception.bstrDescription))));
    }
    SysFreeString(exception.bstrSource);
    SysFreeString(exception.bstrDescription);
    SysFreeString(exception.bstrHelpFile);
    return hr;
}

VARIANT Text(const WString &text) {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_BSTR;
    v.bstrVal = clsBstr(text).release();
    return v;
}

VARIANT Int(int32_t n) {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_I4;
    v.lVal = n;
    return v;
}

struct Args {
    std::vector<VARIANT> list;
    ~Args() {
        for (VARIANT &v : list) VariantClear(&v);
    }
};

HRESULT Put(IDispatch *target, const wchar_t *name, VARIANT value) {
    Args a{{value}};
    return Invoke(target, name, DISPATCH_PROPERTYPUT, a.list, nullptr);
}

HRESULT GetObject(IDispatch *target, const wchar_t *name, WORD kind, std::vector<VARIANT> args, IDispatch **out) {
    Args a{std::move(args)};
    VARIANT result;
    VariantInit(&result);
    HRESULT hr = Invoke(target, name, kind, a.list, &result);
    if (SUCCEEDED(hr) && result.vt == VT_DISPATCH && result.pdispVal) {
        *out = result.pdispVal;
        return S_OK;
    }
    VariantClear(&result);
    return FAILED(hr) ? hr : E_NOINTERFACE;
}

class Held {
  public:
    explicit Held(IDispatch *p) : p_(p) {}
    ~Held() {
        if (p_) p_->Release();
    }
    Held(const Held &) = delete;
    Held &operator=(const Held &) = delete;
    IDispatch *get() const { return p_; }

  private:
    IDispatch *p_;
};

class SysField final : public Field, Held {
  public:
    using Held::Held;
    HRESULT PutValue(const Value &value) override {
        VARIANT v;
        VariantInit(&v);
        switch (value.kind) {
        case Value::Int: v = Int(value.number); break;
        case Value::Bool:
            v.vt = VT_BOOL;
            v.boolVal = value.flag ? VARIANT_TRUE : VARIANT_FALSE;
            break;
        default: v = Text(value.text); break;
        }
        return Put(get(), L"Value", v);
    }
};

class SysFields final : public Fields, Held {
  public:
    using Held::Held;
    HRESULT Item(const WString &name, std::unique_ptr<Field> &field) override {
        IDispatch *out = nullptr;
        HRESULT hr = GetObject(get(), L"Item", DISPATCH_PROPERTYGET | DISPATCH_METHOD, {Text(name)}, &out);
        if (SUCCEEDED(hr)) field = std::make_unique<SysField>(out);
        return hr;
    }
    HRESULT Update() override { return Invoke(get(), L"Update", DISPATCH_METHOD, {}, nullptr); }
};

class SysStream final : public Stream, Held {
  public:
    using Held::Held;
    HRESULT PutCharset(const WString &charset) override { return Put(get(), L"Charset", Text(charset)); }
    HRESULT WriteText(const WString &text) override {
        Args a{{Text(text)}};
        return Invoke(get(), L"WriteText", DISPATCH_METHOD, a.list, nullptr);
    }
    HRESULT Write(const uint8_t *bytes, size_t size) override {
        SAFEARRAY *array = SafeArrayCreateVector(VT_UI1, 0, ULONG(size));
        if (!array) return E_OUTOFMEMORY;
        void *data = nullptr;
        HRESULT hr = SafeArrayAccessData(array, &data);
        if (FAILED(hr)) {
            SafeArrayDestroy(array);
            return hr;
        }
        if (size) std::memcpy(data, bytes, size);
        SafeArrayUnaccessData(array);
        VARIANT v;
        VariantInit(&v);
        v.vt = VT_ARRAY | VT_UI1;
        v.parray = array;
        Args a{{v}};
        return Invoke(get(), L"Write", DISPATCH_METHOD, a.list, nullptr);
    }
    HRESULT LoadFromFile(const WString &path) override {
        Args a{{Text(path)}};
        return Invoke(get(), L"LoadFromFile", DISPATCH_METHOD, a.list, nullptr);
    }
    HRESULT Flush() override { return Invoke(get(), L"Flush", DISPATCH_METHOD, {}, nullptr); }
};

class SysBodyPart final : public BodyPart, Held {
  public:
    using Held::Held;
    HRESULT AddBodyPart(int32_t index, std::unique_ptr<BodyPart> &part) override {
        IDispatch *out = nullptr;
        HRESULT hr = GetObject(get(), L"AddBodyPart", DISPATCH_METHOD, {Int(index)}, &out);
        if (SUCCEEDED(hr)) part = std::make_unique<SysBodyPart>(out);
        return hr;
    }
    HRESULT GetFields(std::unique_ptr<Fields> &fields) override {
        IDispatch *out = nullptr;
        HRESULT hr = GetObject(get(), L"Fields", DISPATCH_PROPERTYGET, {}, &out);
        if (SUCCEEDED(hr)) fields = std::make_unique<SysFields>(out);
        return hr;
    }
    HRESULT PutContentMediaType(const WString &type) override { return Put(get(), L"ContentMediaType", Text(type)); }
    HRESULT PutContentTransferEncoding(const WString &encoding) override {
        return Put(get(), L"ContentTransferEncoding", Text(encoding));
    }
    HRESULT GetDecodedContentStream(std::unique_ptr<Stream> &stream) override {
        IDispatch *out = nullptr;
        HRESULT hr = GetObject(get(), L"GetDecodedContentStream", DISPATCH_METHOD, {}, &out);
        if (SUCCEEDED(hr)) stream = std::make_unique<SysStream>(out);
        return hr;
    }
};

class SysConfiguration final : public Configuration, Held {
  public:
    using Held::Held;
    HRESULT Load(int32_t source) override {
        Args a{{Int(source)}};
        return Invoke(get(), L"Load", DISPATCH_METHOD, a.list, nullptr);
    }
    HRESULT GetFields(std::unique_ptr<Fields> &fields) override {
        IDispatch *out = nullptr;
        HRESULT hr = GetObject(get(), L"Fields", DISPATCH_PROPERTYGET, {}, &out);
        if (SUCCEEDED(hr)) fields = std::make_unique<SysFields>(out);
        return hr;
    }
    IDispatch *Object() const { return get(); }
};

class SysMessage final : public Message, Held {
  public:
    using Held::Held;
    HRESULT PutConfiguration(Configuration &configuration) override {
        auto *ours = dynamic_cast<SysConfiguration *>(&configuration);
        if (!ours) return E_INVALIDARG;
        VARIANT v;
        VariantInit(&v);
        v.vt = VT_DISPATCH;
        v.pdispVal = ours->Object();
        v.pdispVal->AddRef();
        Args a{{v}};
        return Invoke(get(), L"Configuration", DISPATCH_PROPERTYPUTREF, a.list, nullptr);
    }
    HRESULT PutFrom(const WString &t) override { return Put(get(), L"From", Text(t)); }
    HRESULT PutSubject(const WString &t) override { return Put(get(), L"Subject", Text(t)); }
    HRESULT PutTo(const WString &t) override { return Put(get(), L"To", Text(t)); }
    HRESULT PutCC(const WString &t) override { return Put(get(), L"CC", Text(t)); }
    HRESULT PutBCC(const WString &t) override { return Put(get(), L"BCC", Text(t)); }
    HRESULT GetFields(std::unique_ptr<Fields> &fields) override {
        IDispatch *out = nullptr;
        HRESULT hr = GetObject(get(), L"Fields", DISPATCH_PROPERTYGET, {}, &out);
        if (SUCCEEDED(hr)) fields = std::make_unique<SysFields>(out);
        return hr;
    }
    HRESULT GetBodyPart(std::unique_ptr<BodyPart> &root) override {
        IDispatch *out = nullptr;
        HRESULT hr = GetObject(get(), L"BodyPart", DISPATCH_PROPERTYGET, {}, &out);
        if (SUCCEEDED(hr)) root = std::make_unique<SysBodyPart>(out);
        return hr;
    }
    HRESULT Send() override {
        description_.clear();
        return Invoke(get(), L"Send", DISPATCH_METHOD, {}, nullptr, &description_);
    }
    std::vector<String> FailureDetail() const override {
        return description_.empty() ? std::vector<String>{} : std::vector<String>{description_};
    }

  private:
    String description_;
};

// CDO.Message and CDO.Configuration of CDO for Windows 2000.
const CLSID kClsidMessage = {0xCD000001, 0x8B95, 0x11D1, {0x82, 0xDB, 0x00, 0xC0, 0x4F, 0xB1, 0x62, 0x5D}};
const CLSID kClsidConfiguration = {0xCD000002, 0x8B95, 0x11D1, {0x82, 0xDB, 0x00, 0xC0, 0x4F, 0xB1, 0x62, 0x5D}};

HRESULT Create(const CLSID &clsid, IDispatch **out) {
    return CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch, reinterpret_cast<void **>(out));
}

class SystemPlatform final : public Platform {
  public:
    HRESULT CreateMessage(std::unique_ptr<Message> &message) override {
        IDispatch *out = nullptr;
        HRESULT hr = Create(kClsidMessage, &out);
        if (SUCCEEDED(hr)) message = std::make_unique<SysMessage>(out);
        return hr;
    }
    HRESULT CreateConfiguration(std::unique_ptr<Configuration> &configuration) override {
        IDispatch *out = nullptr;
        HRESULT hr = Create(kClsidConfiguration, &out);
        if (SUCCEEDED(hr)) configuration = std::make_unique<SysConfiguration>(out);
        return hr;
    }
};

} // namespace

std::shared_ptr<Platform> DefaultPlatform() { return std::make_shared<SystemPlatform>(); }

} // namespace kv::cdo

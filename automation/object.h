// The base of every automation object: reference count and module lock,
// IDispatch served by the system from the type library (ITypeInfo::Invoke on
// the dual interface's own table), and errors as IErrorInfo.
#pragma once

#include <new>
#include <string>
#include <string_view>

#include "module.h"

namespace kvauto {

// Sets the thread's error object (description, source, interface) and returns hr.
HRESULT Raise(HRESULT hr, REFIID iid, const char *source, std::string_view description);
// The system's text for a code, with the code: "Access is denied. (0x80070005)".
std::string SystemText(HRESULT hr);
// A connection's error record as one text, lines kept apart by CR LF, the
// last line end dropped; empty when the record is.
std::string RecordText(IKvMailConnection2 *connection, LONG *code = nullptr);

template <class I> class Dispatch : public I, public ISupportErrorInfo {
  public:
    Dispatch(const Dispatch &) = delete;
    Dispatch &operator=(const Dispatch &) = delete;

    STDMETHODIMP QueryInterface(REFIID iid, void **out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (iid == IID_IUnknown || iid == IID_IDispatch || iid == __uuidof(I))
            *out = static_cast<I *>(this);
        else if (iid == IID_ISupportErrorInfo)
            *out = static_cast<ISupportErrorInfo *>(this);
        else
            *out = Other(iid);
        if (!*out) return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ULONG(InterlockedIncrement(&refs_)); }
    STDMETHODIMP_(ULONG) Release() override {
        LONG n = InterlockedDecrement(&refs_);
        if (n == 0) delete this;
        return ULONG(n);
    }

    STDMETHODIMP GetTypeInfoCount(UINT *count) override {
        if (!count) return E_POINTER;
        *count = 1;
        return S_OK;
    }
    STDMETHODIMP GetTypeInfo(UINT index, LCID, ITypeInfo **info) override {
        if (!info) return E_POINTER;
        *info = nullptr;
        if (index != 0) return DISP_E_BADINDEX;
        ITypeInfo *t = TypeInfoOf(__uuidof(I));
        if (!t) return TYPE_E_CANTLOADLIBRARY;
        t->AddRef();
        *info = t;
        return S_OK;
    }
    STDMETHODIMP GetIDsOfNames(REFIID riid, LPOLESTR *names, UINT count, LCID, DISPID *ids) override {
        if (riid != IID_NULL) return DISP_E_UNKNOWNINTERFACE;
        if (count == 1 && names && ids && names[0] && DispIdOf(__uuidof(I), names[0], ids)) return S_OK;
        ITypeInfo *t = TypeInfoOf(__uuidof(I));
        return t ? DispGetIDsOfNames(t, names, count, ids) : TYPE_E_CANTLOADLIBRARY;
    }
    STDMETHODIMP Invoke(DISPID id, REFIID riid, LCID, WORD flags, DISPPARAMS *params, VARIANT *result,
                        EXCEPINFO *exception, UINT *argError) override {
        if (riid != IID_NULL) return DISP_E_UNKNOWNINTERFACE;
        ITypeInfo *t = TypeInfoOf(__uuidof(I));
        if (!t) return TYPE_E_CANTLOADLIBRARY;
        HRESULT hr = t->Invoke(static_cast<I *>(this), id, flags, params, result, exception, argError);
        // A property read as a method, as JScript reads _NewEnum for its Enumerator and
        // coll.Item(1): Windows' Invoke answers with the property, Wine's does not.
        if (hr == DISP_E_MEMBERNOTFOUND && flags == DISPATCH_METHOD)
            hr = t->Invoke(static_cast<I *>(this), id, DISPATCH_PROPERTYGET, params, result, exception, argError);
        return hr;
    }

    STDMETHODIMP InterfaceSupportsErrorInfo(REFIID iid) override {
        return iid == __uuidof(I) ? S_OK : S_FALSE;
    }

  protected:
    explicit Dispatch(const char *source) : source_(source) { Lock(); }
    virtual ~Dispatch() { Unlock(); }
    // Further interfaces of a derived class (not AddRef'ed here).
    virtual void *Other(REFIID) { return nullptr; }

    HRESULT Fail(HRESULT hr, std::string_view description) const {
        return Raise(hr, __uuidof(I), source_, description);
    }
    // A failed call of the core on a connection: its error record, or what
    // failed and the system's text for the code when the record is empty.
    HRESULT FailCall(HRESULT hr, IKvMailConnection2 *connection, std::string_view what) const {
        std::string text = connection ? RecordText(connection) : std::string();
        if (text.empty()) text = std::string(what) + " failed: " + SystemText(hr);
        return Fail(hr, text);
    }
    // Runs a method body; an allocation failure inside becomes E_OUTOFMEMORY.
    template <class F> HRESULT Guarded(F body) const {
        try {
            return body();
        } catch (const std::bad_alloc &) {
            return Fail(E_OUTOFMEMORY, "Not enough memory");
        }
    }
    const char *source_;

  private:
    LONG refs_ = 1;
};

} // namespace kvauto

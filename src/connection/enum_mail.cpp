#include "connection/enum_mail.h"

#include <new>

#include "runtime/kvlog.h"
#include "runtime/module_state.h"

namespace kv {

clsEnumMail::clsEnumMail(const std::vector<IKvMail *> &mails, size_t position) : mails_(mails), position_(position) {
    for (IKvMail *m : mails_) m->AddRef();
}

clsEnumMail::~clsEnumMail() {
    for (IKvMail *m : mails_) m->Release();
}

HRESULT clsEnumMail::QueryInterface(REFIID riid, void **ppv) {
    if (!ppv) return E_POINTER;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IKvEnumMail)) {
        *ppv = static_cast<IKvEnumMail *>(this);
        AddRef();
        return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
}

ULONG clsEnumMail::AddRef() {
    ModuleAddRef();
    return ULONG(++refs_);
}

ULONG clsEnumMail::Release() {
    ModuleRelease();
    LONG n = --refs_;
    if (n == 0) delete this;
    return ULONG(n);
}

HRESULT clsEnumMail::Next(ULONG count, IKvMail **items, ULONG *fetched) {
    HRESULT hr = S_OK;
    clsTraceScope trace(&hr, "clsEnumMail::Next(%d,%p,%d)", int(count), (void *)items, int(fetched ? *fetched : 0));
    if (fetched) *fetched = 0;
    if (count > 0 && !items) return hr = E_INVALIDARG;
    ULONG n = 0;
    while (n < count && position_ < mails_.size()) {
        IKvMail *m = mails_[position_++];
        m->AddRef();
        items[n++] = m;
    }
    if (fetched) *fetched = n;
    return hr = (n == count ? S_OK : S_FALSE);
}

HRESULT clsEnumMail::Skip(ULONG count) {
    HRESULT hr = S_OK;
    clsTraceScope trace(&hr, "clsEnumMail::Skip(%d)", int(count));
    size_t left = mails_.size() - position_;
    if (count > left) {
        position_ = mails_.size();
        return hr = S_FALSE;
    }
    position_ += count;
    return hr;
}

HRESULT clsEnumMail::Reset() {
    HRESULT hr = S_OK;
    clsTraceScope trace(&hr, "clsEnumMail::Reset");
    position_ = 0;
    return hr;
}

HRESULT clsEnumMail::Clone(IKvEnumMail **clone) {
    HRESULT hr = S_OK;
    clsTraceScope trace(&hr, "clsEnumMail::Clone(%p)", (void *)clone);
    if (!clone) return hr = E_INVALIDARG;
    *clone = nullptr;
    // The clone takes over the position, as platform enumerators do.
    clsEnumMail *c = new (std::nothrow) clsEnumMail(mails_, position_);
    if (!c) return hr = E_OUTOFMEMORY;
    return hr = c->QueryInterface(IID_IKvEnumMail, reinterpret_cast<void **>(clone));
}

} // namespace kv

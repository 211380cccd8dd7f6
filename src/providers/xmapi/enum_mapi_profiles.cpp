#include "providers/xmapi/enum_mapi_profiles.h"

#include <new>

#include "runtime/kvlog.h"
#include "providers/xmapi/xmapi_session.h"
#include "runtime/com_util.h"
#include "runtime/module_state.h"

namespace kv {

clsEnumMAPIProfiles::clsEnumMAPIProfiles(std::vector<String> names, size_t position)
    : names_(std::move(names)), position_(position) {}

clsEnumMAPIProfiles *clsEnumMAPIProfiles::FromPlatform(xmapi::Platform *platform) {
    return new (std::nothrow) clsEnumMAPIProfiles(MapiProfileNames(platform));
}

clsEnumMAPIProfiles *clsEnumMAPIProfiles::FromSystem() {
    // The subsystem is initialised for the listing and let go after it.
    clsXMAPIDLL dll(xmapi::SystemPlatform(), false);
    return FromPlatform(dll.Available() ? &dll.Platform() : nullptr);
}

HRESULT clsEnumMAPIProfiles::QueryInterface(REFIID riid, void **ppv) {
    if (!ppv) return E_POINTER;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IKvEnumMAPIProfiles)) {
        *ppv = static_cast<IKvEnumMAPIProfiles *>(this);
        AddRef();
        return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
}

ULONG clsEnumMAPIProfiles::AddRef() {
    ModuleAddRef();
    return ULONG(++refs_);
}

ULONG clsEnumMAPIProfiles::Release() {
    ModuleRelease();
    LONG n = --refs_;
    if (n == 0) delete this;
    return ULONG(n);
}

HRESULT clsEnumMAPIProfiles::Next(ULONG count, BSTR *items, ULONG *fetched) {
    HRESULT hr = S_OK;
    clsTraceScope trace(&hr, "clsEnumMAPIProfiles::Next(%d,%p,%d)", int(count), (void *)items,
                        fetched ? int(*fetched) : 0);
    if (fetched) *fetched = 0;
    if (count > 0 && !items) return hr = E_INVALIDARG;
    ULONG n = 0;
    while (n < count && position_ < names_.size()) {
        items[n] = nullptr;
        if (FAILED(AssignBstr(&items[n], names_[position_], 0))) {
            for (ULONG i = 0; i <= n; ++i) {
                SysFreeString(items[i]);
                items[i] = nullptr;
            }
            position_ -= n;
            return hr = E_OUTOFMEMORY;
        }
        ++n;
        ++position_;
    }
    if (fetched) *fetched = n;
    return hr = n == count ? S_OK : S_FALSE;
}

HRESULT clsEnumMAPIProfiles::Skip(ULONG count) {
    HRESULT hr = S_OK;
    clsTraceScope trace(&hr, "clsEnumMAPIProfiles::Skip(%d)", int(count));
    size_t left = names_.size() - position_;
    if (count > left) {
        position_ = names_.size();
        return hr = S_FALSE;
    }
    position_ += count;
    return hr;
}

HRESULT clsEnumMAPIProfiles::Reset() {
    HRESULT hr = S_OK;
    clsTraceScope trace(&hr, "clsEnumMAPIProfiles::Reset");
    position_ = 0;
    return hr;
}

HRESULT clsEnumMAPIProfiles::Clone(IKvEnumMAPIProfiles **clone) {
    HRESULT hr = S_OK;
    clsTraceScope trace(&hr, "clsEnumMAPIProfiles::Clone(%p)", (void *)clone);
    if (!clone) return hr = E_INVALIDARG;
    *clone = nullptr;
    auto *copy = new (std::nothrow) clsEnumMAPIProfiles(names_, position_);
    if (!copy) return hr = E_OUTOFMEMORY;
    return hr = copy->QueryInterface(IID_IKvEnumMAPIProfiles, reinterpret_cast<void **>(clone));
}

} // namespace kv

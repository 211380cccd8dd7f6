#include "component/configuration.h"

#include "log/kvlog.h"
#include "runtime/module_state.h"

namespace kv {

// Counted toward the unload check (unlike the original design): a host holding
// only this object must not see the library reported unloadable.
clsKvConfiguration::clsKvConfiguration() = default;
clsKvConfiguration::~clsKvConfiguration() = default;

HRESULT clsKvConfiguration::QueryInterface(REFIID riid, void **ppv) {
    if (!ppv) return E_POINTER;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IKvConfiguration) ||
        IsEqualIID(riid, IID_IKvConfiguration2)) {
        *ppv = static_cast<IKvConfiguration2 *>(this);
        AddRef();
        return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
}

ULONG clsKvConfiguration::AddRef() {
    ModuleAddRef();
    return ULONG(++refs_);
}

ULONG clsKvConfiguration::Release() {
    ModuleRelease();
    LONG n = --refs_;
    if (n == 0) delete this;
    return ULONG(n);
}

HRESULT clsKvConfiguration::ConfigDlg(HWND, LONG, DWORD) {
    HRESULT hr = E_NOTIMPL; // no dialogs on this platform
    clsTraceScope trace(&hr, "clsKvConfiguration::ConfigDlg()");
    return hr;
}

HRESULT clsKvConfiguration::SetUserParameters(LPCWSTR) { return E_NOTIMPL; }
HRESULT clsKvConfiguration::GetUserParameters(BSTR *) { return E_NOTIMPL; }
HRESULT clsKvConfiguration::SetGlobalParameters(LPCWSTR) { return E_NOTIMPL; }
HRESULT clsKvConfiguration::GetGlobalParameters(BSTR *) { return E_NOTIMPL; }
HRESULT clsKvConfiguration::SetParametersToRegistry(LPCWSTR, DWORD) { return E_NOTIMPL; }
HRESULT clsKvConfiguration::GetParametersFromRegistry(LPCWSTR, DWORD) { return E_NOTIMPL; }

} // namespace kv

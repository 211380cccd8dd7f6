// clsKvConfiguration: the configuration object with a user and a global option list.
#pragma once

#include "settings/option_list.h"
#include "pal/com.h"
#include "runtime/com_object.h"

namespace kv {

// Counted toward the unload check (unlike the original design): a host holding
// only this object must not see the library reported unloadable.
class clsKvConfiguration final : public clsComObject<kModuleCounted, IKvConfiguration2> {
  public:
    // Also answers IKvConfiguration, with the same pointer.
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **ppv) override {
        return QueryInterfaceOf<IKvConfiguration2, IKvConfiguration>(this, riid, ppv);
    }
    HRESULT STDMETHODCALLTYPE ConfigDlg(HWND parent, LONG value, DWORD flags) override;
    HRESULT STDMETHODCALLTYPE SetUserParameters(LPCWSTR settings) override;
    HRESULT STDMETHODCALLTYPE GetUserParameters(BSTR *settings) override;
    HRESULT STDMETHODCALLTYPE SetGlobalParameters(LPCWSTR settings) override;
    HRESULT STDMETHODCALLTYPE GetGlobalParameters(BSTR *settings) override;
    HRESULT STDMETHODCALLTYPE SetParametersToRegistry(LPCWSTR applicationKey, DWORD flags) override;
    HRESULT STDMETHODCALLTYPE GetParametersFromRegistry(LPCWSTR applicationKey, DWORD flags) override;

    clsOptionList &UserOptions() { return user_; }
    clsOptionList &GlobalOptions() { return global_; }

  private:
    clsOptionList user_;
    clsOptionList global_;
};

} // namespace kv

// clsKvConfiguration: the configuration object with a user and a global option list.
#pragma once

#include <atomic>

#include "settings/option_list.h"
#include "pal/com.h"

namespace kv {

class clsKvConfiguration final : public IKvConfiguration2 {
  public:
    clsKvConfiguration();
    ~clsKvConfiguration();

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **ppv) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;
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
    std::atomic<LONG> refs_{0};
    clsOptionList user_;
    clsOptionList global_;
};

} // namespace kv

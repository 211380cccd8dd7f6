// clsClassFactory: the component's one class object. The requested
// identifier alone decides what it makes.
#pragma once

#include <atomic>

#include "pal/com.h"

namespace kv {

class clsClassFactory final : public IClassFactory {
  public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **ppv) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown *outer, REFIID riid, void **ppv) override;
    HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override;

  private:
    std::atomic<LONG> refs_{0};
};

} // namespace kv

// clsClassFactory: the component's one class object. The requested
// identifier alone decides what it makes.
#pragma once

#include "pal/com.h"
#include "runtime/com_object.h"

namespace kv {

class clsClassFactory final : public clsComObject<kModuleCounted, IClassFactory> {
  public:
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown *outer, REFIID riid, void **ppv) override;
    HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override;
};

} // namespace kv

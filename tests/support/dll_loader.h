// A component's DLL or shared library loaded at run time, as a host loads it:
// LoadLibrary or dlopen, then its entry points by name.
#pragma once

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#endif

#include <string>

#include "orkv14.h"

namespace testsupport {

class Library {
  public:
    explicit Library(const char *path) {
#ifdef _WIN32
        handle = reinterpret_cast<void *>(LoadLibraryA(path));
        if (!handle) error = std::string("LoadLibrary(") + path + ") failed: " + std::to_string(GetLastError());
#else
        handle = dlopen(path, RTLD_NOW);
        if (!handle) error = dlerror();
#endif
        getClassObject = reinterpret_cast<PFN_DllGetClassObject>(Symbol("DllGetClassObject"));
        canUnloadNow = reinterpret_cast<PFN_DllCanUnloadNow>(Symbol("DllCanUnloadNow"));
    }
    ~Library() {
#ifdef _WIN32
        if (handle) FreeLibrary(static_cast<HMODULE>(handle));
#else
        if (handle) dlclose(handle);
#endif
    }
    void *Symbol(const char *name) const {
        if (!handle) return nullptr;
#ifdef _WIN32
        return reinterpret_cast<void *>(GetProcAddress(static_cast<HMODULE>(handle), name));
#else
        return dlsym(handle, name);
#endif
    }
    HRESULT Call(const char *name) const {
        auto entry = reinterpret_cast<HRESULT(STDAPICALLTYPE *)(void)>(Symbol(name));
        return entry ? entry() : E_NOTIMPL;
    }
    template <class I> HRESULT Create(REFCLSID clsid, REFIID iid, I **out) const {
        *out = nullptr;
        IClassFactory *factory = nullptr;
        HRESULT hr =
            getClassObject ? getClassObject(clsid, IID_IClassFactory, reinterpret_cast<void **>(&factory)) : E_FAIL;
        if (FAILED(hr)) return hr;
        hr = factory->CreateInstance(nullptr, iid, reinterpret_cast<void **>(out));
        factory->Release();
        return hr;
    }

    void *handle = nullptr;
    std::string error;
    PFN_DllGetClassObject getClassObject = nullptr;
    PFN_DllCanUnloadNow canUnloadNow = nullptr;
};

} // namespace testsupport

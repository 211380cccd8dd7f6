// A host's view of the component: the shared library loaded at run time and
// only the public header.
#pragma once

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "orkv14.h"

namespace host {

struct Library {
    void *handle = nullptr;
    PFN_DllGetClassObject getClassObject = nullptr;
    PFN_DllCanUnloadNow canUnloadNow = nullptr;
    HRESULT (*registerServer)() = nullptr;
    HRESULT (*unregisterServer)() = nullptr;

    Library() {
        handle = dlopen(KV_LIBRARY_PATH, RTLD_NOW);
        if (!handle) return;
        getClassObject = reinterpret_cast<PFN_DllGetClassObject>(dlsym(handle, "DllGetClassObject"));
        canUnloadNow = reinterpret_cast<PFN_DllCanUnloadNow>(dlsym(handle, "DllCanUnloadNow"));
        registerServer = reinterpret_cast<HRESULT (*)()>(dlsym(handle, "DllRegisterServer"));
        unregisterServer = reinterpret_cast<HRESULT (*)()>(dlsym(handle, "DllUnregisterServer"));
    }
    ~Library() {
        if (handle) dlclose(handle);
    }
};

inline std::string Utf8(const OLECHAR *s) {
    std::string r;
    if (!s) return r;
    for (; *s; ++s) r.push_back(*s < 0x80 ? char(*s) : '?');
    return r;
}

// Collects the log lines.
class Sink : public IKvLogSlot {
  public:
    std::vector<std::string> lines;
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **ppv) override {
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IKvLogSlot)) {
            *ppv = this;
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
    ULONG STDMETHODCALLTYPE Release() override { return --refs; }
    HRESULT STDMETHODCALLTYPE WriteLine(BSTR line) override {
        lines.push_back(Utf8(line));
        return S_OK;
    }
    ULONG refs = 1;
};

// Collects state events.
class Events : public IKvMailStateNotificationSlot {
  public:
    std::vector<std::pair<LONG, LONG>> seen;
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **ppv) override {
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IKvMailStateNotificationSlot)) {
            *ppv = this;
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
    ULONG STDMETHODCALLTYPE Release() override { return --refs; }
    HRESULT STDMETHODCALLTYPE NotifyConnectionState(LONG event, LONG detail) override {
        seen.emplace_back(event, detail);
        return S_OK;
    }
    ULONG refs = 1;
};

} // namespace host

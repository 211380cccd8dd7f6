// The body and attachment enumerators: a copy of the owning list with one
// reference per element, and a cursor.
#pragma once

#include <atomic>
#include <new>
#include <optional>
#include <vector>

#include "runtime/kvlog.h"
#include "pal/com.h"
#include "runtime/module_state.h"

namespace kv {

template <class Item, class Enum> class clsEnumRefs : public Enum {
  public:
    clsEnumRefs(const std::vector<Item *> &items, size_t position, const char *traceName)
        : items_(items), position_(position), traceName_(traceName) {
        for (Item *item : items_) item->AddRef();
    }
    virtual ~clsEnumRefs() {
        for (Item *item : items_) item->Release();
    }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **ppv) override {
        if (!ppv) return E_POINTER;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, kv_uuidof<Enum>())) {
            *ppv = static_cast<Enum *>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override {
        ModuleAddRef();
        return ULONG(++refs_);
    }
    ULONG STDMETHODCALLTYPE Release() override {
        ModuleRelease();
        LONG n = --refs_;
        if (n == 0) delete this;
        return ULONG(n);
    }

    HRESULT STDMETHODCALLTYPE Next(ULONG count, Item **items, ULONG *fetched) override {
        HRESULT hr = S_OK;
        Trace trace(traceName_, &hr, "Next(%d,%p,%p)", int(count), (void *)items, (void *)fetched);
        if (fetched) *fetched = 0;
        if (count > 0 && !items) return hr = E_INVALIDARG;
        ULONG n = 0;
        while (n < count && position_ < items_.size()) {
            Item *item = items_[position_++];
            item->AddRef();
            items[n++] = item;
        }
        if (fetched) *fetched = n;
        return hr = (n == count ? S_OK : S_FALSE);
    }
    HRESULT STDMETHODCALLTYPE Skip(ULONG count) override {
        HRESULT hr = S_OK;
        Trace trace(traceName_, &hr, "Skip(%d)", int(count));
        size_t left = items_.size() - position_;
        if (count > left) {
            position_ = items_.size();
            return hr = S_FALSE;
        }
        position_ += count;
        return hr;
    }
    HRESULT STDMETHODCALLTYPE Reset() override {
        HRESULT hr = S_OK;
        Trace trace(traceName_, &hr, "Reset()");
        position_ = 0;
        return hr;
    }
    HRESULT STDMETHODCALLTYPE Clone(Enum **clone) override {
        HRESULT hr = S_OK;
        Trace trace(traceName_, &hr, "Clone(%p)", (void *)clone);
        if (!clone) return hr = E_INVALIDARG;
        *clone = nullptr;
        // The clone takes over the position, as platform enumerators do.
        auto *c = new (std::nothrow) clsEnumRefs(items_, position_, traceName_);
        if (!c) return hr = E_OUTOFMEMORY;
        return hr = c->QueryInterface(kv_uuidof<Enum>(), reinterpret_cast<void **>(clone));
    }

  private:
    // Traces as "<class>::<call>" when the enumerator has a trace name.
    class Trace {
      public:
        template <class... Args> Trace(const char *name, const HRESULT *hr, const char *format, Args... args) {
            if (name) scope_.emplace(hr, (String(name) + "::" + format).c_str(), args...);
        }

      private:
        std::optional<clsTraceScope> scope_;
    };

    std::atomic<LONG> refs_{0};
    std::vector<Item *> items_;
    size_t position_;
    const char *traceName_;
};

} // namespace kv

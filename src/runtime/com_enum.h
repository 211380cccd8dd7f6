// The enumerators (IEnumString and the IKvEnum... interfaces): their own copy
// of the items and a cursor. What an item is kept as and how a caller gets
// its copy is the Items policy's; how the calls are traced, the Trace's.
#pragma once

#include <cstring>
#include <new>
#include <optional>
#include <vector>

#include "pal/com.h"
#include "runtime/com_object.h"
#include "runtime/com_util.h"
#include "runtime/kvlog.h"

namespace kv {

// The trace formats of an enumerator's calls; an enumerator without them does
// not trace. Next's third argument is the out pointer for fetched, or with
// fetchedValue what it points to.
struct clsEnumTrace {
    const char *next, *skip, *reset, *clone;
    bool fetchedValue;
};
inline constexpr clsEnumTrace kEnumNoTrace = {nullptr, nullptr, nullptr, nullptr, false};

// Items that are interface pointers: one reference per item held, one more
// for each handed out.
template <class Item> struct clsEnumRefs {
    using Kept = Item *;
    using Out = Item *;
    static void Hold(Kept item) { item->AddRef(); }
    static void Drop(Kept item) { item->Release(); }
    static HRESULT Copy(Kept item, Out *out) {
        item->AddRef();
        *out = item;
        return S_OK;
    }
    static void Free(Out &) {}
};

// Items kept as values: nothing to hold or drop.
template <class KeptType, class OutType> struct clsEnumValues {
    using Kept = KeptType;
    using Out = OutType;
    static void Hold(const Kept &) {}
    static void Drop(const Kept &) {}
};

// Texts handed out as CoTaskMemAlloc copies (IEnumString).
struct clsEnumTaskTexts : clsEnumValues<WString, LPOLESTR> {
    static HRESULT Copy(const Kept &text, Out *out) {
        auto *copy = static_cast<OLECHAR *>(CoTaskMemAlloc((text.size() + 1) * sizeof(OLECHAR)));
        if (!copy) return E_OUTOFMEMORY;
        if (!text.empty()) std::memcpy(copy, text.data(), text.size() * sizeof(OLECHAR));
        copy[text.size()] = 0;
        *out = copy;
        return S_OK;
    }
    static void Free(Out &text) {
        CoTaskMemFree(text);
        text = nullptr;
    }
};

// Texts in the ANSI code page handed out as BSTRs.
struct clsEnumBstrTexts : clsEnumValues<String, BSTR> {
    static HRESULT Copy(const Kept &text, Out *out) {
        *out = nullptr;
        return AssignBstr(out, text, 0);
    }
    static void Free(Out &text) {
        SysFreeString(text);
        text = nullptr;
    }
};

// IEnumString over its own copy of a list of texts.
template <class Enum, class Items, const clsEnumTrace *trace = &kEnumNoTrace> class clsComEnum;
using clsEnumString = clsComEnum<IEnumString, clsEnumTaskTexts>;

template <class Enum, class Items, const clsEnumTrace *trace>
class clsComEnum : public clsComObject<kModuleCounted, Enum> {
  public:
    using Kept = typename Items::Kept;
    using Out = typename Items::Out;

    explicit clsComEnum(std::vector<Kept> items, size_t position = 0) : items_(std::move(items)), position_(position) {
        for (const Kept &item : items_) Items::Hold(item);
    }

    // A new enumerator handed out with the caller's reference.
    static HRESULT Create(std::vector<Kept> items, Enum **out) {
        if (!out) return E_INVALIDARG;
        *out = nullptr;
        auto *e = new (std::nothrow) clsComEnum(std::move(items));
        if (!e) return E_OUTOFMEMORY;
        return e->QueryInterface(kv_uuidof<Enum>(), reinterpret_cast<void **>(out));
    }

    HRESULT STDMETHODCALLTYPE Next(ULONG count, Out *items, ULONG *fetched) override {
        HRESULT hr = S_OK;
        Scope scope;
        if (kTraces && trace->fetchedValue)
            scope.Open(&hr, trace->next, int(count), (void *)items, fetched ? int(*fetched) : 0);
        else if (kTraces)
            scope.Open(&hr, trace->next, int(count), (void *)items, (void *)fetched);
        if (fetched) *fetched = 0;
        if (count > 0 && !items) return hr = E_INVALIDARG;
        ULONG n = 0;
        while (n < count && position_ < items_.size()) {
            if (FAILED(Items::Copy(items_[position_], &items[n]))) {
                // All or nothing: what was handed out is taken back.
                for (ULONG i = 0; i < n; ++i) Items::Free(items[i]);
                position_ -= n;
                return hr = E_OUTOFMEMORY;
            }
            ++n;
            ++position_;
        }
        if (fetched) *fetched = n;
        return hr = (n == count ? S_OK : S_FALSE);
    }
    HRESULT STDMETHODCALLTYPE Skip(ULONG count) override {
        HRESULT hr = S_OK;
        Scope scope;
        if (kTraces) scope.Open(&hr, trace->skip, int(count));
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
        Scope scope;
        if (kTraces) scope.Open(&hr, trace->reset);
        position_ = 0;
        return hr;
    }
    HRESULT STDMETHODCALLTYPE Clone(Enum **clone) override {
        HRESULT hr = S_OK;
        Scope scope;
        if (kTraces) scope.Open(&hr, trace->clone, (void *)clone);
        if (!clone) return hr = E_INVALIDARG;
        *clone = nullptr;
        // The clone takes over the position, as platform enumerators do.
        auto *c = new (std::nothrow) clsComEnum(items_, position_);
        if (!c) return hr = E_OUTOFMEMORY;
        return hr = c->QueryInterface(kv_uuidof<Enum>(), reinterpret_cast<void **>(clone));
    }

  protected:
    ~clsComEnum() override {
        for (const Kept &item : items_) Items::Drop(item);
    }

  private:
    static constexpr bool kTraces = trace->next != nullptr;
    // A trace scope opened only by an enumerator that traces.
    class Scope {
      public:
        template <class... Args> void Open(const HRESULT *hr, const char *format, Args... args) {
            scope_.emplace(hr, format, args...);
        }

      private:
        std::optional<clsTraceScope> scope_;
    };

    std::vector<Kept> items_;
    size_t position_;
};

} // namespace kv

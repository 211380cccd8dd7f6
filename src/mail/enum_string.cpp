#include "mail/enum_string.h"

#include <cstring>
#include <new>

#include "runtime/module_state.h"

namespace kv {

clsEnumString::clsEnumString(std::vector<WString> items, size_t position)
    : items_(std::move(items)), position_(position) {}

std::vector<WString> clsEnumString::Convert(const std::vector<String> &items, uint32_t codepage) {
    std::vector<WString> wide;
    wide.reserve(items.size());
    for (const String &s : items) wide.push_back(Widen(s, codepage));
    return wide;
}

HRESULT clsEnumString::Create(std::vector<WString> items, IEnumString **out) {
    if (!out) return E_INVALIDARG;
    *out = nullptr;
    clsEnumString *e = new (std::nothrow) clsEnumString(std::move(items));
    if (!e) return E_OUTOFMEMORY;
    return e->QueryInterface(IID_IEnumString, reinterpret_cast<void **>(out));
}

HRESULT clsEnumString::QueryInterface(REFIID riid, void **ppv) {
    if (!ppv) return E_POINTER;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IEnumString)) {
        *ppv = static_cast<IEnumString *>(this);
        AddRef();
        return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
}

ULONG clsEnumString::AddRef() {
    ModuleAddRef();
    return ULONG(++refs_);
}

ULONG clsEnumString::Release() {
    ModuleRelease();
    LONG n = --refs_;
    if (n == 0) delete this;
    return ULONG(n);
}

HRESULT clsEnumString::Next(ULONG count, LPOLESTR *items, ULONG *fetched) {
    if (fetched) *fetched = 0;
    if (count > 0 && !items) return E_INVALIDARG;
    ULONG n = 0;
    while (n < count && position_ < items_.size()) {
        const WString &text = items_[position_];
        auto *copy = static_cast<OLECHAR *>(CoTaskMemAlloc((text.size() + 1) * sizeof(OLECHAR)));
        if (!copy) {
            for (ULONG i = 0; i < n; ++i) {
                CoTaskMemFree(items[i]);
                items[i] = nullptr;
            }
            position_ -= n;
            if (fetched) *fetched = 0;
            return E_OUTOFMEMORY;
        }
        if (!text.empty()) std::memcpy(copy, text.data(), text.size() * sizeof(OLECHAR));
        copy[text.size()] = 0;
        items[n++] = copy;
        ++position_;
    }
    if (fetched) *fetched = n;
    return n == count ? S_OK : S_FALSE;
}

HRESULT clsEnumString::Skip(ULONG count) {
    size_t left = items_.size() - position_;
    if (count > left) {
        position_ = items_.size();
        return S_FALSE;
    }
    position_ += count;
    return S_OK;
}

HRESULT clsEnumString::Reset() {
    position_ = 0;
    return S_OK;
}

HRESULT clsEnumString::Clone(IEnumString **clone) {
    if (!clone) return E_INVALIDARG;
    *clone = nullptr;
    clsEnumString *c = new (std::nothrow) clsEnumString(items_, position_);
    if (!c) return E_OUTOFMEMORY;
    return c->QueryInterface(IID_IEnumString, reinterpret_cast<void **>(clone));
}

} // namespace kv

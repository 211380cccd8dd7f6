// One enumerator for the three kinds the objects hand out: IEnumVARIANT
// (For Each over a collection), IEnumConnections and IEnumConnectionPoints.
// Each walks its own copy of the items, taken when it was made.
#pragma once

#include <vector>

#include "module.h"

namespace kvauto {

struct VariantItems {
    using Item = VARIANT;
    static HRESULT Copy(VARIANT *to, const VARIANT &from) {
        VariantInit(to);
        return VariantCopy(to, const_cast<VARIANT *>(&from));
    }
    static void Clear(VARIANT &item) { VariantClear(&item); }
};

struct ConnectionItems {
    using Item = CONNECTDATA;
    static HRESULT Copy(CONNECTDATA *to, const CONNECTDATA &from) {
        *to = from;
        to->pUnk->AddRef();
        return S_OK;
    }
    static void Clear(CONNECTDATA &item) { item.pUnk->Release(); }
};

struct PointItems {
    using Item = IConnectionPoint *;
    static HRESULT Copy(IConnectionPoint **to, IConnectionPoint *const &from) {
        *to = from;
        from->AddRef();
        return S_OK;
    }
    static void Clear(IConnectionPoint *&item) { item->Release(); }
};

template <class IEnum, class Items> class Enumerator final : public IEnum {
  public:
    using Item = typename Items::Item;
    // Takes over the items and the references they hold.
    explicit Enumerator(std::vector<Item> &&items) : items_(std::move(items)) { Lock(); }
    Enumerator(const Enumerator &) = delete;
    Enumerator &operator=(const Enumerator &) = delete;

    STDMETHODIMP QueryInterface(REFIID iid, void **out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (iid != IID_IUnknown && iid != __uuidof(IEnum)) return E_NOINTERFACE;
        *out = static_cast<IEnum *>(this);
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ULONG(InterlockedIncrement(&refs_)); }
    STDMETHODIMP_(ULONG) Release() override {
        LONG n = InterlockedDecrement(&refs_);
        if (n == 0) delete this;
        return ULONG(n);
    }

    STDMETHODIMP Next(ULONG count, Item *out, ULONG *fetched) override {
        if (fetched) *fetched = 0;
        if (!out) return E_POINTER;
        if (count > 1 && !fetched) return E_INVALIDARG;
        ULONG n = 0;
        while (n < count && position_ < items_.size()) {
            if (FAILED(Items::Copy(&out[n], items_[position_]))) break;
            ++n;
            ++position_;
        }
        if (fetched) *fetched = n;
        return n == count ? S_OK : S_FALSE;
    }
    STDMETHODIMP Skip(ULONG count) override {
        size_t left = items_.size() - position_;
        position_ += count < left ? count : left;
        return count <= left ? S_OK : S_FALSE;
    }
    STDMETHODIMP Reset() override {
        position_ = 0;
        return S_OK;
    }
    // A clone starts where the original stands, as enumerators of the platform do.
    STDMETHODIMP Clone(IEnum **out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        try {
            std::vector<Item> copy(items_.size());
            size_t made = 0;
            for (; made < items_.size(); ++made)
                if (FAILED(Items::Copy(&copy[made], items_[made]))) break;
            if (made < items_.size()) {
                for (size_t i = 0; i < made; ++i) Items::Clear(copy[i]);
                return E_OUTOFMEMORY;
            }
            auto *clone = new Enumerator(std::move(copy));
            clone->position_ = position_;
            *out = clone;
            return S_OK;
        } catch (const std::bad_alloc &) {
            return E_OUTOFMEMORY;
        }
    }

  private:
    ~Enumerator() {
        for (Item &item : items_) Items::Clear(item);
        Unlock();
    }
    std::vector<Item> items_;
    size_t position_ = 0;
    LONG refs_ = 1;
};

using VariantEnumerator = Enumerator<IEnumVARIANT, VariantItems>;

// For Each over objects: a VARIANT (VT_DISPATCH) per object, each holding a reference.
template <class I> HRESULT NewEnumOf(std::vector<Ptr<I>> &objects, IUnknown **out) {
    std::vector<VARIANT> items;
    items.reserve(objects.size());
    for (Ptr<I> &o : objects) {
        VARIANT v;
        VariantInit(&v);
        v.vt = VT_DISPATCH;
        v.pdispVal = o.release();
        items.push_back(v);
    }
    try {
        *out = new VariantEnumerator(std::move(items));
    } catch (const std::bad_alloc &) {
        for (VARIANT &v : items) VariantClear(&v);
        throw;
    }
    return S_OK;
}

} // namespace kvauto

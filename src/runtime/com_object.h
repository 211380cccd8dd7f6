// COM objects without ATL: an atomic reference count and one QueryInterface
// over the list of interfaces an object answers.
#pragma once

#include <atomic>

#include "pal/com.h"
#include "runtime/module_state.h"

namespace kv {

// An entry of a QueryInterface list that answers the identifier of Id with
// the object's Part: for an interface that more than one base brings, or one
// that a derived interface answers for.
template <class Id, class Part> struct clsComAlias {};

namespace detail {
template <class Entry> struct ComEntry {
    using Id = Entry;
    using Part = Entry;
};
template <class IdType, class PartType> struct ComEntry<clsComAlias<IdType, PartType>> {
    using Id = IdType;
    using Part = PartType;
};
template <class First, class...> struct ComFirst {
    using Part = typename ComEntry<First>::Part;
};
} // namespace detail

// QueryInterface over the entries: IUnknown gives the first entry's part,
// each entry's identifier its part, with a reference added. A null out
// pointer gives E_POINTER; any other identifier E_NOINTERFACE and a null out
// pointer.
template <class... Entries, class Object> HRESULT QueryInterfaceOf(Object *object, REFIID riid, void **ppv) {
    if (!ppv) return E_POINTER;
    using First = typename detail::ComFirst<Entries...>::Part;
    void *found = nullptr;
    if (IsEqualIID(riid, IID_IUnknown)) found = static_cast<First *>(object);
    else
        (void)((IsEqualIID(riid, kv_uuidof<typename detail::ComEntry<Entries>::Id>()) &&
                (found = static_cast<typename detail::ComEntry<Entries>::Part *>(object))) ||
               ...);
    *ppv = found;
    if (!found) return E_NOINTERFACE;
    static_cast<First *>(object)->AddRef();
    return S_OK;
}

// Whether an object's references keep the library loaded (DllCanUnloadNow).
enum ModuleCounting : bool { kModuleApart = false, kModuleCounted = true };

// IUnknown for an object of the interfaces:
//   class clsThing final : public clsComObject<kModuleCounted, IKvThing> { ... };
// QueryInterface answers IUnknown and the interfaces (a class that answers
// more overrides it with QueryInterfaceOf); the last Release deletes the object.
template <ModuleCounting counting, class... Interfaces> class clsComObject : public Interfaces... {
  public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **ppv) override {
        return QueryInterfaceOf<Interfaces...>(this, riid, ppv);
    }
    ULONG STDMETHODCALLTYPE AddRef() override {
        if (counting) ModuleAddRef();
        return ULONG(++refs_);
    }
    ULONG STDMETHODCALLTYPE Release() override {
        LONG n = DropReference();
        if (n == 0) delete this;
        return ULONG(n);
    }

  protected:
    clsComObject() = default;
    clsComObject(const clsComObject &) = delete;
    clsComObject &operator=(const clsComObject &) = delete;
    virtual ~clsComObject() = default;
    // One reference less, without deleting at zero: the count left.
    LONG DropReference() {
        if (counting) ModuleRelease();
        return --refs_;
    }

  private:
    std::atomic<LONG> refs_{0};
};

} // namespace kv

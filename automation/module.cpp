// Module state, the class objects and the entry points that hand them out.
#include <string>
#include <unordered_map>
#include <vector>

#include "classes.h"
#include "object.h"

namespace kvauto {
namespace {

HMODULE g_module;
LONG g_locks;
// Guards the core's module and the type descriptions.
SRWLOCK g_lock = SRWLOCK_INIT;
HMODULE g_core;
PFN_DllGetClassObject g_coreGetClassObject;
PFN_DllCanUnloadNow g_coreCanUnloadNow;
ITypeLib *g_typeLib;
struct CachedInfo {
    GUID guid;
    ITypeInfo *info;
    // Member names (upper case) and their DISPIDs, read once from the type description.
    std::unordered_map<std::wstring, DISPID> ids;
};
std::vector<CachedInfo> g_infos;

std::wstring Upper(const wchar_t *name) {
    std::wstring upper(name);
    bool ascii = true;
    for (wchar_t &c : upper) {
        if (c >= L'a' && c <= L'z') c = wchar_t(c - L'a' + L'A');
        ascii = ascii && c < 128;
    }
    // Member names are ASCII; anything else is compared as the system would.
    if (!ascii)
        LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_UPPERCASE, name, int(upper.size()), &upper[0], int(upper.size()),
                      nullptr, nullptr, 0);
    return upper;
}

void ReadIds(ITypeInfo *info, std::unordered_map<std::wstring, DISPID> &ids) {
    TYPEATTR *attributes = nullptr;
    if (FAILED(info->GetTypeAttr(&attributes))) return;
    for (UINT i = 0; i < attributes->cFuncs; ++i) {
        FUNCDESC *function = nullptr;
        if (FAILED(info->GetFuncDesc(i, &function))) continue;
        Bstr name;
        UINT got = 0;
        if (SUCCEEDED(info->GetNames(function->memid, name.put(), 1, &got)) && got == 1)
            ids.emplace(Upper(name.get()), function->memid);
        info->ReleaseFuncDesc(function);
    }
    info->ReleaseTypeAttr(attributes);
}

class Exclusive {
  public:
    Exclusive() { AcquireSRWLockExclusive(&g_lock); }
    ~Exclusive() { ReleaseSRWLockExclusive(&g_lock); }
    Exclusive(const Exclusive &) = delete;
    Exclusive &operator=(const Exclusive &) = delete;
};

std::string Narrow(const std::wstring &text) {
    return orkv14::Utf8(reinterpret_cast<const OLECHAR *>(text.c_str()), text.size());
}

const CreatableClass kClasses[] = {
    {&CLSID_SMTP, "SMTP", "Orkv14.SMTP", "orkv14 SMTP connection", CreateConnection, &IID_IKvSMTPSendConnection, nullptr},
    {&CLSID_POP3, "POP3", "Orkv14.POP3", "orkv14 POP3 connection", CreateConnection, nullptr, &IID_IKvPOP3RecvConnection},
    {&CLSID_SMAPI, "SMAPI", "Orkv14.SMAPI", "orkv14 Simple MAPI connection", CreateConnection, &IID_IKvSMAPISendConnection,
     &IID_IKvSMAPIRecvConnection},
    {&CLSID_XMAPI, "XMAPI", "Orkv14.XMAPI", "orkv14 Extended MAPI connection", CreateConnection, &IID_IKvXMAPISendConnection,
     &IID_IKvXMAPIRecvConnection},
    {&CLSID_CDOSYS, "CDOSYS", "Orkv14.CDOSYS", "orkv14 CDOSYS connection", CreateConnection, &IID_IKvCDOSYSSendConnection,
     &IID_IKvCDOSYSRecvConnection},
    {&CLSID_Configuration, "Configuration", "Orkv14.Configuration", "orkv14 configuration", CreateConfiguration, nullptr, nullptr},
};

// Class objects do not keep the module: COM may cache them (Wine's host
// apartment does, and its script engines hold one); LockServer does.
class Factory final : public IClassFactory {
  public:
    explicit Factory(const CreatableClass &cls) : cls_(cls) {}
    Factory(const Factory &) = delete;
    Factory &operator=(const Factory &) = delete;

    STDMETHODIMP QueryInterface(REFIID iid, void **out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (iid != IID_IUnknown && iid != IID_IClassFactory) return E_NOINTERFACE;
        *out = static_cast<IClassFactory *>(this);
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ULONG(InterlockedIncrement(&refs_)); }
    STDMETHODIMP_(ULONG) Release() override {
        LONG n = InterlockedDecrement(&refs_);
        if (n == 0) delete this;
        return ULONG(n);
    }
    STDMETHODIMP CreateInstance(IUnknown *outer, REFIID iid, void **out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (outer) return CLASS_E_NOAGGREGATION;
        try {
            return cls_.create(cls_, iid, out);
        } catch (const std::bad_alloc &) {
            return E_OUTOFMEMORY;
        }
    }
    STDMETHODIMP LockServer(BOOL lock) override {
        if (lock)
            Lock();
        else
            Unlock();
        return S_OK;
    }

  private:
    ~Factory() = default;
    const CreatableClass &cls_;
    LONG refs_ = 1;
};

} // namespace

HMODULE Module() { return g_module; }

const wchar_t *ModulePath() {
    static const std::wstring path = [] {
        std::wstring p(MAX_PATH, L'\0');
        for (;;) {
            DWORD n = GetModuleFileNameW(g_module, &p[0], DWORD(p.size()));
            if (n < p.size()) {
                p.resize(n);
                return p;
            }
            p.resize(p.size() * 2);
        }
    }();
    return path.c_str();
}

void Lock() { InterlockedIncrement(&g_locks); }
void Unlock() { InterlockedDecrement(&g_locks); }
LONG Locks() { return InterlockedCompareExchange(&g_locks, 0, 0); }

HRESULT CoreFactory(Ptr<IClassFactory> &factory, std::string &why) {
    PFN_DllGetClassObject get = nullptr;
    {
        Exclusive lock;
        if (!g_core) {
            // Beside this DLL, as the installation puts them; never found by the search path.
            std::wstring path = ModulePath();
            path.erase(path.find_last_of(L"\\/") + 1);
            path += L"orkv14.dll";
            HMODULE core = LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
            if (!core) {
                why = "The component '" + Narrow(path) + "' cannot be loaded: " +
                      SystemText(HRESULT_FROM_WIN32(GetLastError()));
                return CO_E_DLLNOTFOUND;
            }
            auto getClassObject = reinterpret_cast<PFN_DllGetClassObject>(
                reinterpret_cast<void *>(GetProcAddress(core, "DllGetClassObject")));
            auto canUnloadNow = reinterpret_cast<PFN_DllCanUnloadNow>(
                reinterpret_cast<void *>(GetProcAddress(core, "DllCanUnloadNow")));
            if (!getClassObject || !canUnloadNow) {
                FreeLibrary(core);
                why = "'" + Narrow(path) + "' is not the orkv14 component";
                return CO_E_ERRORINDLL;
            }
            g_core = core;
            g_coreGetClassObject = getClassObject;
            g_coreCanUnloadNow = canUnloadNow;
        }
        get = g_coreGetClassObject;
    }
    HRESULT hr = get(CLSID_KvComponent, IID_IClassFactory, factory.put_void());
    if (FAILED(hr)) why = "The component gives no class object: " + SystemText(hr);
    return hr;
}

namespace {

// Under the lock.
CachedInfo *Cached(REFGUID guid) {
    for (CachedInfo &c : g_infos)
        if (c.guid == guid) return &c;
    if (!g_typeLib && FAILED(LoadTypeLibEx(ModulePath(), REGKIND_NONE, &g_typeLib))) return nullptr;
    ITypeInfo *info = nullptr;
    if (FAILED(g_typeLib->GetTypeInfoOfGuid(guid, &info))) return nullptr;
    try {
        g_infos.push_back({guid, info, {}});
        ReadIds(info, g_infos.back().ids);
    } catch (const std::bad_alloc &) {
        if (!g_infos.empty() && g_infos.back().info == info) g_infos.pop_back();
        info->Release();
        return nullptr;
    }
    return &g_infos.back();
}

} // namespace

ITypeInfo *TypeInfoOf(REFGUID guid) {
    Exclusive lock;
    CachedInfo *c = Cached(guid);
    return c ? c->info : nullptr;
}

bool DispIdOf(REFGUID guid, const wchar_t *name, DISPID *id) {
    try {
        std::wstring key = Upper(name);
        Exclusive lock;
        CachedInfo *c = Cached(guid);
        auto found = c ? c->ids.find(key) : decltype(c->ids.end())();
        if (!c || found == c->ids.end()) return false;
        *id = found->second;
        return true;
    } catch (const std::bad_alloc &) {
        return false;
    }
}

const CreatableClass *Classes(size_t *count) {
    *count = sizeof kClasses / sizeof kClasses[0];
    return kClasses;
}

const CreatableClass *ClassOf(REFCLSID clsid) {
    for (const CreatableClass &c : kClasses)
        if (*c.clsid == clsid) return &c;
    return nullptr;
}

} // namespace kvauto

using namespace kvauto;

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        g_module = instance;
        DisableThreadLibraryCalls(instance);
    }
    return TRUE;
}

STDAPI DllGetClassObject(REFCLSID clsid, REFIID iid, LPVOID *out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    const CreatableClass *cls = ClassOf(clsid);
    if (!cls) return CLASS_E_CLASSNOTAVAILABLE;
    Factory *factory = new (std::nothrow) Factory(*cls);
    if (!factory) return E_OUTOFMEMORY;
    HRESULT hr = factory->QueryInterface(iid, out);
    factory->Release();
    return hr;
}

STDAPI DllCanUnloadNow() {
    if (Locks() > 0) return S_FALSE;
    Exclusive lock;
    for (CachedInfo &c : g_infos) c.info->Release();
    g_infos.clear();
    if (g_typeLib) g_typeLib->Release();
    g_typeLib = nullptr;
    if (g_core && g_coreCanUnloadNow() == S_OK) {
        FreeLibrary(g_core);
        g_core = nullptr;
    }
    return S_OK;
}

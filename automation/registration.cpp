// Registration: per machine (regsvr32, DllRegisterServer) under
// HKEY_LOCAL_MACHINE\Software\Classes, or per user (regsvr32 /n /i:user,
// DllInstall) under HKEY_CURRENT_USER\Software\Classes, which needs no
// elevation. Both write the same keys: the classes with their ProgIDs, the
// type library, and the interfaces, whose proxies the system's automation
// marshaler makes from the type library (Apartment objects used from an MTA).
// Unregistering removes exactly these keys again.
#include <string>
#include <vector>

#include "classes.h"
#include "object.h"

namespace kvauto {
namespace {

const wchar_t kClasses[] = L"Software\\Classes\\";
const wchar_t kLibraryVersion[] = L"1.0";
const wchar_t kLibraryName[] = L"orkv14 mail component (automation)";
// The system's marshalers: type-library driven (dual interfaces), and IDispatch (dispinterfaces).
const wchar_t kAutomationMarshaler[] = L"{00020424-0000-0000-C000-000000000046}";
const wchar_t kDispatchMarshaler[] = L"{00020420-0000-0000-C000-000000000046}";
// The type library's platform key follows the DLL's bitness.
const wchar_t *const kPlatform = sizeof(void *) == 8 ? L"win64" : L"win32";

std::wstring Text(const char *ascii) { return std::wstring(ascii, ascii + strlen(ascii)); }

std::wstring GuidText(REFGUID guid) {
    wchar_t text[40];
    StringFromGUID2(guid, text, 40);
    return text;
}

HRESULT SetValue(HKEY root, const std::wstring &path, const wchar_t *name, const std::wstring &value) {
    HKEY key = nullptr;
    LSTATUS status = RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr);
    if (status == ERROR_SUCCESS) {
        status = RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE *>(value.c_str()),
                                DWORD((value.size() + 1) * sizeof(wchar_t)));
        RegCloseKey(key);
    }
    return HRESULT_FROM_WIN32(status);
}

void DeleteTree(HKEY root, const std::wstring &path) { RegDeleteTreeW(root, path.c_str()); }

bool HasSubkeys(HKEY root, const std::wstring &path) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    DWORD subkeys = 0;
    RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                     nullptr);
    RegCloseKey(key);
    return subkeys > 0;
}

bool HasValues(HKEY root, const std::wstring &path) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    DWORD values = 0;
    RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values, nullptr, nullptr, nullptr,
                     nullptr);
    RegCloseKey(key);
    return values > 0;
}

struct InterfaceKey {
    std::wstring iid, name;
    bool dual;
};

// Every interface of the type library, read from the library itself.
HRESULT Interfaces(std::vector<InterfaceKey> &out) {
    Ptr<ITypeLib> library;
    HRESULT hr = LoadTypeLibEx(ModulePath(), REGKIND_NONE, library.put());
    if (FAILED(hr)) return hr;
    for (UINT i = 0, n = library->GetTypeInfoCount(); i < n; ++i) {
        TYPEKIND kind;
        if (FAILED(library->GetTypeInfoType(i, &kind)) || kind != TKIND_DISPATCH) continue;
        Ptr<ITypeInfo> info;
        TYPEATTR *attributes = nullptr;
        if (FAILED(library->GetTypeInfo(i, info.put())) || FAILED(info->GetTypeAttr(&attributes))) continue;
        Bstr name;
        library->GetDocumentation(INT(i), name.put(), nullptr, nullptr, nullptr);
        out.push_back({GuidText(attributes->guid), name.get() ? name.get() : L"",
                       (attributes->wTypeFlags & TYPEFLAG_FDUAL) != 0});
        info->ReleaseTypeAttr(attributes);
    }
    return S_OK;
}

std::wstring LibraryKey() { return std::wstring(kClasses) + L"TypeLib\\" + GuidText(LIBID_Orkv14); }

HRESULT Unregister(HKEY root);

HRESULT Register(HKEY root) {
    try {
        const std::wstring base = kClasses, path = ModulePath(), library = GuidText(LIBID_Orkv14);
        std::vector<InterfaceKey> interfaces;
        HRESULT hr = Interfaces(interfaces);
        size_t count = 0;
        const CreatableClass *classes = Classes(&count);
        for (size_t i = 0; i < count && SUCCEEDED(hr); ++i) {
            const CreatableClass &c = classes[i];
            std::wstring clsid = base + L"CLSID\\" + GuidText(*c.clsid), progId = Text(c.progId),
                         versioned = progId + L".1", description = Text(c.description);
            HRESULT results[] = {
                SetValue(root, clsid, nullptr, description),
                SetValue(root, clsid + L"\\InprocServer32", nullptr, path),
                SetValue(root, clsid + L"\\InprocServer32", L"ThreadingModel", L"Apartment"),
                SetValue(root, clsid + L"\\ProgID", nullptr, versioned),
                SetValue(root, clsid + L"\\VersionIndependentProgID", nullptr, progId),
                SetValue(root, clsid + L"\\TypeLib", nullptr, library),
                SetValue(root, clsid + L"\\Version", nullptr, kLibraryVersion),
                SetValue(root, base + progId, nullptr, description),
                SetValue(root, base + progId + L"\\CLSID", nullptr, GuidText(*c.clsid)),
                SetValue(root, base + progId + L"\\CurVer", nullptr, versioned),
                SetValue(root, base + versioned, nullptr, description),
                SetValue(root, base + versioned + L"\\CLSID", nullptr, GuidText(*c.clsid)),
            };
            for (HRESULT r : results)
                if (FAILED(r) && SUCCEEDED(hr)) hr = r;
        }
        std::wstring version = LibraryKey() + L"\\" + kLibraryVersion;
        if (SUCCEEDED(hr)) hr = SetValue(root, version, nullptr, kLibraryName);
        if (SUCCEEDED(hr)) hr = SetValue(root, version + L"\\0\\" + kPlatform, nullptr, path);
        if (SUCCEEDED(hr)) hr = SetValue(root, version + L"\\FLAGS", nullptr, L"0");
        if (SUCCEEDED(hr)) hr = SetValue(root, version + L"\\HELPDIR", nullptr, path.substr(0, path.find_last_of(L'\\')));
        for (const InterfaceKey &k : interfaces) {
            std::wstring key = base + L"Interface\\" + k.iid;
            if (SUCCEEDED(hr)) hr = SetValue(root, key, nullptr, k.name);
            if (SUCCEEDED(hr))
                hr = SetValue(root, key + L"\\ProxyStubClsid32", nullptr, k.dual ? kAutomationMarshaler : kDispatchMarshaler);
            if (SUCCEEDED(hr)) hr = SetValue(root, key + L"\\TypeLib", nullptr, library);
            if (SUCCEEDED(hr)) hr = SetValue(root, key + L"\\TypeLib", L"Version", kLibraryVersion);
        }
        if (FAILED(hr)) Unregister(root);
        return hr;
    } catch (const std::bad_alloc &) {
        return E_OUTOFMEMORY;
    }
}

HRESULT Unregister(HKEY root) {
    try {
        const std::wstring base = kClasses;
        size_t count = 0;
        const CreatableClass *classes = Classes(&count);
        for (size_t i = 0; i < count; ++i) {
            std::wstring progId = Text(classes[i].progId);
            DeleteTree(root, base + L"CLSID\\" + GuidText(*classes[i].clsid));
            DeleteTree(root, base + progId);
            DeleteTree(root, base + progId + L".1");
        }
        // The type library's key is one for both bitnesses (Windows 7 on, and Wine, share it
        // between the 32- and 64-bit views): the other bitness's part stays. The interfaces'
        // keys are each view's own.
        std::wstring library = LibraryKey(), version = library + L"\\" + kLibraryVersion;
        DeleteTree(root, version + L"\\0\\" + kPlatform);
        if (!HasSubkeys(root, version + L"\\0")) DeleteTree(root, version);
        if (!HasSubkeys(root, library)) DeleteTree(root, library);
        std::vector<InterfaceKey> interfaces;
        Interfaces(interfaces);
        for (const InterfaceKey &k : interfaces) DeleteTree(root, base + L"Interface\\" + k.iid);
        // Registering made these where they were missing (a user's classes often lack them).
        for (const wchar_t *container : {L"CLSID", L"Interface", L"TypeLib"})
            if (!HasSubkeys(root, base + container) && !HasValues(root, base + container))
                RegDeleteKeyW(root, (base + container).c_str());
        return S_OK;
    } catch (const std::bad_alloc &) {
        return E_OUTOFMEMORY;
    }
}

} // namespace
} // namespace kvauto

using namespace kvauto;

STDAPI DllRegisterServer() { return Register(HKEY_LOCAL_MACHINE); }

STDAPI DllUnregisterServer() { return Unregister(HKEY_LOCAL_MACHINE); }

// regsvr32 /n /i:user registers for the current user, /u /n /i:user removes that again;
// "machine" (or nothing) does what DllRegisterServer does.
STDAPI DllInstall(BOOL install, LPCWSTR scope) {
    HKEY root;
    if (!scope || !*scope || CompareStringOrdinal(scope, -1, L"machine", -1, TRUE) == CSTR_EQUAL)
        root = HKEY_LOCAL_MACHINE;
    else if (CompareStringOrdinal(scope, -1, L"user", -1, TRUE) == CSTR_EQUAL)
        root = HKEY_CURRENT_USER;
    else
        return E_INVALIDARG;
    return install ? Register(root) : Unregister(root);
}

// The four exported entry points and the library's attach/detach.
#include <new>

#include "component/class_factory.h"
#include "component/module.h"
#include "mail/mail_site.h"
#include "runtime/string_table.h"
#include "runtime/kvlog.h"
#include "pal/channel.h"
#include "pal/registry.h"
#include "pal/system.h"
#include "runtime/com_util.h"
#include "runtime/module_state.h"
#include "ui/mail_editor/mail_editor_dialog.h"

namespace kv {

namespace {
// Function-local: attach may run before namespace-scope objects are constructed.
std::string &ModulePathStore() {
    static std::string path;
    return path;
}
} // namespace

void ComponentAttach() {
    ModulePathStore() = pal::ModulePath();
    SetMailEditor(&ui::ShowMailEditor);
    pal::ChannelOpen("orkv14");
}

void ComponentDetach() { pal::ChannelClose(); }

const std::string &ComponentPath() {
    // Linked statically (tests), attach may never have run.
    if (ModulePathStore().empty()) ModulePathStore() = pal::ModulePath();
    return ModulePathStore();
}

namespace {

std::u16string ClassKeyPath() { return u"CLSID\\" + Widen(GuidToRegistryForm(CLSID_KvComponent)); }

} // namespace

} // namespace kv

using namespace kv;

ORKV14_API HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID clsid, REFIID iid, LPVOID *object) {
    if (!object) return E_POINTER;
    *object = nullptr;
    if (!IsEqualCLSID(clsid, CLSID_KvComponent)) return E_FAIL;
    auto *factory = new (std::nothrow) clsClassFactory();
    if (!factory) return E_OUTOFMEMORY;
    HRESULT hr = factory->QueryInterface(iid, object);
    if (FAILED(hr)) delete factory;
    return hr;
}

ORKV14_API HRESULT STDAPICALLTYPE DllCanUnloadNow(void) {
    return (ModuleRefCount() > 0 || ModuleLockCount() > 0) ? S_FALSE : S_OK;
}

ORKV14_API HRESULT STDAPICALLTYPE DllRegisterServer(void) {
    std::u16string path = ClassKeyPath();
    auto key = pal::RegCreate(pal::RegRoot::ClassesRoot, path);
    if (!key) {
        String text = LoadResourceString(IDS_REGISTRY_KEY_FAILED);
        size_t at = text.find("%1");
        if (at != String::npos) text.replace(at, 2, Narrow(path));
        text += LoadResourceString(IDS_LIMITED_FUNCTIONALITY);
        pal::ShowInfoMessage(text, LoadResourceString(IDS_WARNING));
        return E_FAIL;
    }
    key->SetString(u"", u"orkv14 mail component");
    key->SetString(u"LoadWithoutCOM", u"");
    auto server = pal::RegCreate(pal::RegRoot::ClassesRoot, path + u"\\InProcServer32");
    if (server) {
        server->SetString(u"", Widen(ComponentPath()));
        server->SetString(u"ThreadingModel", u"Apartment");
    }
    return S_OK;
}

ORKV14_API HRESULT STDAPICALLTYPE DllUnregisterServer(void) {
    if (pal::RegOpen(pal::RegRoot::ClassesRoot, u"CLSID")) pal::RegDeleteKeyTree(pal::RegRoot::ClassesRoot, ClassKeyPath());
    return S_OK;
}

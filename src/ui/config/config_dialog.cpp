#include "ui/config/config_dialog.h"

#include "pal/library.h"
#include "runtime/com_util.h"

namespace kv::ui {

std::vector<WString> ReadMapiProfiles(const String &libraryName, GetClassObjectFn getClassObject) {
    std::vector<WString> names;
    pal::DynamicLibrary library;
    if (!getClassObject) {
        if (library.Load(libraryName))
            getClassObject = reinterpret_cast<GetClassObjectFn>(library.Symbol("DllGetClassObject"));
        if (!getClassObject) return names;
    }
    clsAutoRelease<IClassFactory> factory;
    if (FAILED(getClassObject(CLSID_KvComponent, IID_IClassFactory, reinterpret_cast<void **>(factory.put()))) ||
        !factory)
        return names;
    clsAutoRelease<IKvEnumMAPIProfiles> profiles;
    if (FAILED(factory->CreateInstance(nullptr, IID_IKvEnumMAPIProfiles, reinterpret_cast<void **>(profiles.put()))) ||
        !profiles)
        return names;
    for (;;) {
        clsBstr name;
        ULONG fetched = 0;
        if (profiles->Next(1, name.put(), &fetched) != S_OK || fetched != 1) break;
        names.emplace_back(name.View());
    }
    return names;
}

clsConfigDialog::clsConfigDialog(uint32_t flags, const clsOptionList &global, const clsOptionList &user,
                                 IConfigDialogView &view, ConfigDialogEnvironment environment)
    : view_(view), environment_(std::move(environment)),
      model_(flags, global, user, environment_.account,
             ReadMapiProfiles(environment_.libraryName, environment_.getClassObject), environment_.computerName),
      providers_(ProviderListFromResources()) {}

TestMailResult clsConfigDialog::SendTestMail() {
    model_.StoreFields();
    TestMailRequest request;
    request.global = &model_.Global();
    request.user = &model_.User();
    request.provider = model_.EffectiveProvider();
    request.libraryName = environment_.libraryName;
    request.getClassObject = environment_.getClassObject;
    request.review = [this](IKvMail *mail) { return view_.ReviewMail(mail); };
    TestMailResult result = RunTestMail(request);
    if (result.outcome != TestMailResult::NotSent) view_.ShowMessage(result.message, kMessageIconWarning);
    return result;
}

HRESULT RunConfigDialog(clsOptionList &global, clsOptionList &user, uint32_t flags, IConfigDialogView &view,
                        const ConfigDialogEnvironment &environment) {
    clsConfigDialog dialog(flags, global, user, view, environment);
    if (!view.Run(dialog)) return S_FALSE;
    dialog.Ok();
    MergeOptions(global, dialog.Model().Global());
    MergeOptions(user, dialog.Model().User());
    return S_OK;
}

} // namespace kv::ui

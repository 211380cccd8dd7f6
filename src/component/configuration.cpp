#include "component/configuration.h"

#include <new>

#include "runtime/kvlog.h"
#include "runtime/com_util.h"
#include "settings/settings_registry.h"
#include "settings/settings_string.h"
#include "ui/config/config_window.h"

namespace kv {

namespace {

// A string without the "01:" prefix or with bad content leaves the list as it
// was; the call succeeds either way.
const char16_t *Wide(LPCWSTR text) { return reinterpret_cast<const char16_t *>(text); }

HRESULT ReadInto(clsOptionList &list, LPCWSTR settings) {
    ReadSettingsString(WideView(Wide(settings)), list);
    return S_OK;
}

HRESULT WriteFrom(const clsOptionList &list, BSTR *settings, clsTraceScope &trace) {
    WString text = WriteSettingsString(list);
    HRESULT hr = AssignBstr(settings, text);
    if (SUCCEEDED(hr)) trace.SetDetail(Format("'%ws'", text.c_str()));
    return hr;
}

// Nothing may be thrown across the interface.
template <class Body> HRESULT Guarded(Body body) {
    try {
        return body();
    } catch (const std::bad_alloc &) {
        return E_OUTOFMEMORY;
    }
}

} // namespace

// The dialog edits copies of both lists; after OK its fields replace entries of
// the same key (S_OK), after Cancel nothing changes (S_FALSE); without dialogs
// on the platform, E_NOTIMPL. The integer is only traced.
HRESULT clsKvConfiguration::ConfigDlg(HWND parent, LONG value, DWORD flags) {
    HRESULT hr = S_OK;
    clsTraceScope trace(&hr, "clsKvConfiguration::ConfigDlg(0x%08x,%d,0x%08x)", unsigned(uintptr_t(parent)),
                        int(value), unsigned(flags));
    hr = Guarded([&] { return ui::ShowConfigDialog(parent, global_, user_, flags); });
    return hr;
}

HRESULT clsKvConfiguration::SetUserParameters(LPCWSTR settings) {
    HRESULT hr = S_OK;
    clsTraceScope trace(&hr, "clsKvConfiguration::SetUserParameters(%ws)", Wide(settings));
    hr = Guarded([&] { return ReadInto(user_, settings); });
    return hr;
}

HRESULT clsKvConfiguration::GetUserParameters(BSTR *settings) {
    HRESULT hr = S_OK;
    clsTraceScope trace(&hr, "clsKvConfiguration::GetUserParameters(%p)", static_cast<void *>(settings));
    hr = Guarded([&] { return WriteFrom(user_, settings, trace); });
    return hr;
}

HRESULT clsKvConfiguration::SetGlobalParameters(LPCWSTR settings) {
    HRESULT hr = S_OK;
    clsTraceScope trace(&hr, "clsKvConfiguration::SetGlobalParameters(%ws)", Wide(settings));
    hr = Guarded([&] { return ReadInto(global_, settings); });
    return hr;
}

HRESULT clsKvConfiguration::GetGlobalParameters(BSTR *settings) {
    HRESULT hr = S_OK;
    clsTraceScope trace(&hr, "clsKvConfiguration::GetGlobalParameters(%p)", static_cast<void *>(settings));
    hr = Guarded([&] { return WriteFrom(global_, settings, trace); });
    return hr;
}

HRESULT clsKvConfiguration::SetParametersToRegistry(LPCWSTR applicationKey, DWORD flags) {
    HRESULT hr = S_OK;
    clsTraceScope trace(&hr, "clsKvConfiguration::SetParametersToRegistry(%ws,0x%08x)", Wide(applicationKey),
                        unsigned(flags));
    hr = Guarded([&] {
        return SaveOptionsToRegistry(SettingsRegistry(), WideView(Wide(applicationKey)), applicationKey != nullptr,
                                     flags, user_, global_);
    });
    return hr;
}

HRESULT clsKvConfiguration::GetParametersFromRegistry(LPCWSTR applicationKey, DWORD flags) {
    HRESULT hr = S_OK;
    clsTraceScope trace(&hr, "clsKvConfiguration::GetParametersFromRegistry(%ws,0x%08x)", Wide(applicationKey),
                        unsigned(flags));
    hr = Guarded([&] {
        return LoadOptionsFromRegistry(SettingsRegistry(), WideView(Wide(applicationKey)), applicationKey != nullptr,
                                       flags, user_, global_);
    });
    return hr;
}

} // namespace kv

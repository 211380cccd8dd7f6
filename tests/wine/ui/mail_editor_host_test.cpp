// The HTML page's browser host as the browser sees it: the download-control
// ambient property that keeps a received mail's scripts, Java and ActiveX
// from running, and which navigations go ahead.
#include <windows.h>
#include <exdispid.h>
#include <gtest/gtest.h>
#include <mshtmdid.h>
#include <olectl.h>

#include <string>

#include "ui/mail_editor/win32/browser_host.h"

namespace kv::ui {
namespace {

// Invokes an event whose last parameter is the Cancel flag; its value afterwards. The arguments in
// reverse: BeforeNavigate2 has the URL at 5 of 7, NewWindow3 the URL at 0 and Cancel at 3 of 5.
VARIANT_BOOL Fire(IDispatch *host, DISPID id, const std::wstring &url) {
    VARIANT_BOOL cancel = VARIANT_FALSE;
    VARIANT urlValue{}, args[7]{};
    urlValue.vt = VT_BSTR;
    urlValue.bstrVal = SysAllocString(url.c_str());
    UINT count = id == DISPID_BEFORENAVIGATE2 ? 7 : id == DISPID_NEWWINDOW2 ? 2 : 5, cancelAt = count == 5 ? 3 : 0;
    if (count == 7) args[5].vt = VT_BYREF | VT_VARIANT, args[5].pvarVal = &urlValue;
    if (count == 5) args[0] = urlValue;
    args[cancelAt].vt = VT_BYREF | VT_BOOL;
    args[cancelAt].pboolVal = &cancel;
    DISPPARAMS params{args, nullptr, count, 0};
    EXPECT_EQ(host->Invoke(id, IID_NULL, 0, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr), S_OK);
    VariantClear(&urlValue);
    return cancel;
}

TEST(BrowserHost, RefusesScriptsJavaAndActiveXAndNavigatesOnlyToItsOwnFile) {
    wchar_t dir[MAX_PATH], file[MAX_PATH];
    GetTempPathW(MAX_PATH, dir);
    ASSERT_NE(GetTempFileNameW(dir, L"kvh", 0, file), 0u);
    Host *host = new Host(nullptr, 0);
    host->Show(file); // no browser: only the file is kept
    IDispatch *events = nullptr, *ambient = nullptr; // how a control finds the ambient properties: its site's
    IOleClientSite *site = nullptr;
    ASSERT_EQ(host->QueryInterface(IID_IDispatch, reinterpret_cast<void **>(&events)), S_OK);
    ASSERT_EQ(host->QueryInterface(IID_IOleClientSite, reinterpret_cast<void **>(&site)), S_OK);
    ASSERT_EQ(site->QueryInterface(IID_IDispatch, reinterpret_cast<void **>(&ambient)), S_OK);
    VARIANT result{}; // VT_EMPTY
    DISPPARAMS none{nullptr, nullptr, 0, 0};
    auto get = [&](IDispatch *d, DISPID id) {
        return d->Invoke(id, IID_NULL, 0, DISPATCH_PROPERTYGET, &none, &result, nullptr, nullptr);
    };
    ASSERT_EQ(get(ambient, DISPID_AMBIENT_DLCONTROL), S_OK);
    ASSERT_EQ(result.vt, VT_I4);
    const LONG required = DLCTL_NO_SCRIPTS | DLCTL_NO_JAVA | DLCTL_NO_RUNACTIVEXCTLS | DLCTL_NO_DLACTIVEXCTLS |
                          DLCTL_NO_BEHAVIORS | DLCTL_NO_FRAMEDOWNLOAD | DLCTL_DLIMAGES;
    EXPECT_EQ(result.lVal & required, required);
    EXPECT_EQ(result.lVal & (DLCTL_DOWNLOADONLY | DLCTL_OFFLINE | DLCTL_VIDEOS | DLCTL_BGSOUNDS), 0);
    EXPECT_EQ(get(events, DISPID_AMBIENT_USERMODE), DISP_E_MEMBERNOTFOUND);

    std::wstring url = L"file:///" + std::wstring(file);
    for (wchar_t &c : url)
        if (c == L'\\') c = L'/';
    // Which targets pass is the unit test's; here, that the browser's event reaches that rule.
    EXPECT_EQ(Fire(events, DISPID_BEFORENAVIGATE2, url), VARIANT_FALSE);
    EXPECT_EQ(Fire(events, DISPID_BEFORENAVIGATE2, L"http://example.org/"), VARIANT_TRUE);
    // A link with a target of its own would open a browser window: never.
    EXPECT_EQ(Fire(events, DISPID_NEWWINDOW2, L""), VARIANT_TRUE);
    EXPECT_EQ(Fire(events, DISPID_NEWWINDOW3, file), VARIANT_TRUE);
    DeleteFileW(file);
}

} // namespace
} // namespace kv::ui

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

class HostTest : public ::testing::Test {
  protected:
    void SetUp() override {
        char dir[MAX_PATH], name[MAX_PATH];
        GetTempPathA(MAX_PATH, dir);
        ASSERT_NE(GetTempFileNameA(dir, "kvh", 0, name), 0u);
        file_ = name;
        wfile_ = std::wstring(file_.begin(), file_.end());
        host_ = new Host(nullptr, 0);
        host_->Show(wfile_); // no browser: only the file is kept
        ASSERT_EQ(host_->QueryInterface(IID_IDispatch, reinterpret_cast<void **>(&dispatch_)), S_OK);
    }
    // Invokes an event whose last parameter is the Cancel flag; its value afterwards. The arguments in
    // reverse: BeforeNavigate2 has the URL at 5 of 7, NewWindow3 the URL at 0 and Cancel at 3 of 5.
    VARIANT_BOOL Fire(DISPID id, const std::wstring &url) {
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
        EXPECT_EQ(dispatch_->Invoke(id, IID_NULL, 0, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr), S_OK);
        VariantClear(&urlValue);
        return cancel;
    }

    std::string file_;
    std::wstring wfile_;
    Host *host_ = nullptr;
    IDispatch *dispatch_ = nullptr;
};

TEST_F(HostTest, AmbientDownloadControlRefusesScriptsJavaAndActiveX) {
    IOleClientSite *site = nullptr;
    ASSERT_EQ(host_->QueryInterface(IID_IOleClientSite, reinterpret_cast<void **>(&site)), S_OK);
    IDispatch *ambient = nullptr; // how a control finds the ambient properties
    ASSERT_EQ(site->QueryInterface(IID_IDispatch, reinterpret_cast<void **>(&ambient)), S_OK);
    site->Release();
    VARIANT result;
    VariantInit(&result);
    DISPPARAMS none{nullptr, nullptr, 0, 0};
    ASSERT_EQ(ambient->Invoke(DISPID_AMBIENT_DLCONTROL, IID_NULL, 0, DISPATCH_PROPERTYGET, &none, &result, nullptr,
                              nullptr),
              S_OK);
    ambient->Release();
    ASSERT_EQ(result.vt, VT_I4);
    const LONG required = DLCTL_NO_SCRIPTS | DLCTL_NO_JAVA | DLCTL_NO_RUNACTIVEXCTLS | DLCTL_NO_DLACTIVEXCTLS |
                          DLCTL_NO_BEHAVIORS | DLCTL_NO_FRAMEDOWNLOAD | DLCTL_DLIMAGES;
    EXPECT_EQ(result.lVal & required, required);
    EXPECT_EQ(result.lVal & (DLCTL_DOWNLOADONLY | DLCTL_OFFLINE | DLCTL_VIDEOS | DLCTL_BGSOUNDS), 0);

    EXPECT_EQ(dispatch_->Invoke(DISPID_AMBIENT_USERMODE, IID_NULL, 0, DISPATCH_PROPERTYGET, &none, &result, nullptr,
                                nullptr),
              DISP_E_MEMBERNOTFOUND);
}

TEST_F(HostTest, OnlyItsOwnFileAndTheBrowsersOwnPagesAreNavigatedTo) {
    std::wstring url = L"file:///" + wfile_;
    for (wchar_t &c : url)
        if (c == L'\\') c = L'/';
    // Which targets pass is the unit test's; here, that the browser's event reaches that rule.
    EXPECT_EQ(Fire(DISPID_BEFORENAVIGATE2, url), VARIANT_FALSE);
    EXPECT_EQ(Fire(DISPID_BEFORENAVIGATE2, L"http://example.org/"), VARIANT_TRUE);
    // A link with a target of its own would open a browser window: never.
    EXPECT_EQ(Fire(DISPID_NEWWINDOW2, L""), VARIANT_TRUE);
    EXPECT_EQ(Fire(DISPID_NEWWINDOW3, wfile_), VARIANT_TRUE);
}

} // namespace
} // namespace kv::ui

#include "ui/mail_editor/win32/browser_host.h"
#include "ui/win32/dialog_resources.h"

#include <exdispid.h>
#include <mshtmdid.h>
#include <olectl.h>

#include "runtime/com_util.h"
#include "runtime/string_table.h"
#include "pal/system.h"
#include "pal/win32/module_handle.h"
#include "ui/mail_editor/mail_editor_model.h"
#include "ui/mail_editor/win32/mail_editor_ids.h"

// The identifiers of the OLE interfaces the host answers.
template <> const IID &kv_uuidof<IOleClientSite>() { return IID_IOleClientSite; }
template <> const IID &kv_uuidof<IOleWindow>() { return IID_IOleWindow; }
template <> const IID &kv_uuidof<IOleInPlaceSite>() { return IID_IOleInPlaceSite; }
template <> const IID &kv_uuidof<IOleInPlaceUIWindow>() { return IID_IOleInPlaceUIWindow; }
template <> const IID &kv_uuidof<IOleInPlaceFrame>() { return IID_IOleInPlaceFrame; }
template <> const IID &kv_uuidof<IDocHostUIHandler>() { return IID_IDocHostUIHandler; }
template <> const IID &kv_uuidof<IDispatch>() { return IID_IDispatch; }
template <> const IID &kv_uuidof<DWebBrowserEvents2>() { return DIID_DWebBrowserEvents2; }

namespace kv::ui {

namespace {

std::wstring ShortPath(const std::wstring &path) {
    if (path.empty()) return path;
    wchar_t buffer[MAX_PATH];
    DWORD n = GetShortPathNameW(path.c_str(), buffer, MAX_PATH);
    return (n > 0 && n < MAX_PATH) ? std::wstring(buffer, n) : path;
}

// The local path a "file:" address names; empty for any other address.
std::wstring PathOfFileUrl(const std::wstring &url) {
    if (url.size() < 5 || _wcsnicmp(url.c_str(), L"file:", 5) != 0) return std::wstring();
    std::wstring p = url.substr(5);
    while (!p.empty() && p[0] == L'/') p.erase(0, 1);
    std::wstring out;
    for (size_t i = 0; i < p.size(); ++i) {
        wchar_t c = p[i];
        if (c == L'%' && i + 2 < p.size() && iswxdigit(p[i + 1]) && iswxdigit(p[i + 2])) {
            out += wchar_t(std::stoi(p.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else {
            out += c == L'/' ? L'\\' : c;
        }
    }
    return out;
}

WString U16(const std::wstring &s) { return WString(s.begin(), s.end()); }

void NavigateTo(IWebBrowser2 *browser, const wchar_t *target) {
    VARIANT empty;
    VariantInit(&empty);
    clsBstr url(WideView(target));
    if (url.get()) browser->Navigate(url.get(), &empty, &empty, &empty, &empty);
}

} // namespace

Host::Host(HWND placeholder, DWORD flags) : placeholder_(placeholder), flags_(flags) { AddRef(); }

Host::~Host() { Destroy(); }

bool Host::Create() {
    HRESULT hr = OleInitialize(nullptr);
    oleInitialised_ = SUCCEEDED(hr); // S_FALSE too: every successful call is balanced
    if (SUCCEEDED(hr))
        hr = CoCreateInstance(CLSID_WebBrowser, nullptr, CLSCTX_INPROC_SERVER, IID_IOleObject,
                              reinterpret_cast<void **>(&oleObject_));
    if (FAILED(hr) || !oleObject_) {
        pal::DebugOutput("no browser control found");
        Destroy();
        return false;
    }
    oleObject_->SetClientSite(static_cast<IOleClientSite *>(this));
    // The download control is an ambient property: tell a browser that read it early.
    IOleControl *control = nullptr;
    if (SUCCEEDED(oleObject_->QueryInterface(IID_IOleControl, reinterpret_cast<void **>(&control)))) {
        control->OnAmbientPropertyChange(DISPID_AMBIENT_DLCONTROL);
        control->Release();
    }
    RECT rect;
    GetClientRect(placeholder_, &rect);
    OleSetContainedObject(oleObject_, TRUE);
    hr = oleObject_->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, static_cast<IOleClientSite *>(this), 0, placeholder_,
                            &rect);
    if (SUCCEEDED(hr))
        hr = oleObject_->QueryInterface(IID_IWebBrowser2, reinterpret_cast<void **>(&browser_));
    if (FAILED(hr) || !browser_) {
        pal::DebugOutput("no browser control found");
        Destroy();
        return false;
    }
    oleObject_->QueryInterface(IID_IOleInPlaceObject, reinterpret_cast<void **>(&inPlace_));
    IConnectionPointContainer *container = nullptr;
    if (SUCCEEDED(browser_->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void **>(&container)))) {
        if (SUCCEEDED(container->FindConnectionPoint(DIID_DWebBrowserEvents2, &events_)) &&
            FAILED(events_->Advise(static_cast<IDispatch *>(this), &eventsCookie_))) {
            events_->Release();
            events_ = nullptr;
        }
        container->Release();
    }
    if (!events_) {
        // Without the navigation events links could lead anywhere: no browser then.
        pal::DebugOutput("no browser control found");
        Destroy();
        return false;
    }
    Resize();
    return true;
}

void Host::Show(const std::wstring &file) {
    file_ = file;
    if (!browser_) return;
    browser_->Stop();
    NavigateTo(browser_, L"about:blank");
    NavigateTo(browser_, file.c_str());
}

void Host::Resize() {
    if (!inPlace_) return;
    RECT rect;
    GetClientRect(placeholder_, &rect);
    inPlace_->SetObjectRects(&rect, &rect);
}

bool Host::WaitUntilLoaded(DWORD timeoutMs) {
    if (!browser_) return false;
    DWORD start = GetTickCount();
    for (;;) {
        READYSTATE state = READYSTATE_UNINITIALIZED;
        if (FAILED(browser_->get_ReadyState(&state))) return false;
        if (state == READYSTATE_COMPLETE) return true;
        if (GetTickCount() - start > timeoutMs) return false;
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
    }
}

void Host::Destroy() {
    if (events_) {
        events_->Unadvise(eventsCookie_);
        events_->Release();
        events_ = nullptr;
    }
    if (browser_) {
        browser_->Stop();
        browser_->Release();
        browser_ = nullptr;
    }
    if (inPlace_) {
        inPlace_->InPlaceDeactivate();
        inPlace_->Release();
        inPlace_ = nullptr;
    }
    if (oleObject_) {
        oleObject_->Close(OLECLOSE_NOSAVE);
        oleObject_->SetClientSite(nullptr);
        oleObject_->Release();
        oleObject_ = nullptr;
    }
    if (oleInitialised_) {
        oleInitialised_ = false;
        OleUninitialize();
    }
}

STDMETHODIMP Host::QueryInterface(REFIID riid, void **ppv) {
    return QueryInterfaceOf<IOleClientSite, clsComAlias<IOleWindow, IOleInPlaceSite>, IOleInPlaceSite,
                            clsComAlias<IOleInPlaceUIWindow, IOleInPlaceFrame>, IOleInPlaceFrame, IDocHostUIHandler,
                            IDispatch, clsComAlias<DWebBrowserEvents2, IDispatch>>(this, riid, ppv);
}

STDMETHODIMP Host::GetContainer(IOleContainer **container) {
    if (container) *container = nullptr;
    return E_NOINTERFACE;
}

STDMETHODIMP Host::GetWindow(HWND *window) {
    if (!window) return E_POINTER;
    *window = placeholder_;
    return S_OK;
}

STDMETHODIMP Host::GetWindowContext(IOleInPlaceFrame **frame, IOleInPlaceUIWindow **doc, LPRECT pos, LPRECT clip,
                                    LPOLEINPLACEFRAMEINFO info) {
    if (!frame || !doc || !pos || !clip || !info) return E_POINTER;
    *frame = static_cast<IOleInPlaceFrame *>(this);
    AddRef();
    *doc = nullptr;
    GetClientRect(placeholder_, pos);
    *clip = *pos;
    info->fMDIApp = FALSE;
    info->hwndFrame = GetAncestor(placeholder_, GA_ROOT);
    info->haccel = nullptr;
    info->cAccelEntries = 0;
    return S_OK;
}

STDMETHODIMP Host::OnPosRectChange(LPCRECT pos) {
    if (inPlace_ && pos) inPlace_->SetObjectRects(pos, pos);
    return S_OK;
}

STDMETHODIMP Host::ShowContextMenu(DWORD, POINT *pt, IUnknown *, IDispatch *) {
    if (flags_ & kHostBrowserContextMenu) return S_FALSE; // the browser's own menu
    const void *resource = UiResource(MAKEINTRESOURCEA(4) /* RT_MENU */, "HTMLRBUTTONMENU");
    HMENU menu = resource ? LoadMenuIndirectW(resource) : nullptr;
    if (!menu) return S_OK;
    POINT at{};
    if (pt) at = *pt;
    else GetCursorPos(&at);
    int command = TrackPopupMenu(GetSubMenu(menu, 0), TPM_RETURNCMD | TPM_RIGHTBUTTON, at.x, at.y, 0, placeholder_,
                                 nullptr);
    DestroyMenu(menu);
    if (browser_ && command == IDM_HTML_PRINT)
        browser_->ExecWB(OLECMDID_PRINT, OLECMDEXECOPT_DODEFAULT, nullptr, nullptr);
    else if (browser_ && command == IDM_HTML_PREVIEW)
        browser_->ExecWB(OLECMDID_PRINTPREVIEW, OLECMDEXECOPT_DODEFAULT, nullptr, nullptr);
    return S_OK;
}

STDMETHODIMP Host::GetHostInfo(DOCHOSTUIINFO *info) {
    if (!info) return E_POINTER;
    info->cbSize = 12;
    info->dwFlags = (info->dwFlags | DOCHOSTUIFLAG_NO3DBORDER) & ~DWORD(DOCHOSTUIFLAG_SCROLL_NO);
    info->dwDoubleClick = DOCHOSTUIDBLCLK_DEFAULT;
    return S_OK;
}

STDMETHODIMP Host::GetOptionKeyPath(LPOLESTR *key, DWORD) {
    if (key) *key = nullptr;
    return E_NOTIMPL;
}

STDMETHODIMP Host::GetExternal(IDispatch **external) {
    if (external) *external = nullptr;
    return E_NOTIMPL;
}

STDMETHODIMP Host::TranslateUrl(DWORD, LPWSTR, LPWSTR *out) {
    if (out) *out = nullptr;
    return E_NOTIMPL;
}

STDMETHODIMP Host::FilterDataObject(IDataObject *, IDataObject **out) {
    if (out) *out = nullptr;
    return E_NOTIMPL;
}

STDMETHODIMP Host::GetTypeInfoCount(UINT *count) {
    if (count) *count = 0;
    return S_OK;
}

bool Host::AcceptTarget(const std::wstring &url) const {
    if (AcceptNavigation(U16(url), U16(file_))) return true;
    std::wstring path = PathOfFileUrl(url);
    return !path.empty() && !file_.empty() && AcceptNavigation(U16(ShortPath(path)), U16(ShortPath(file_)));
}

STDMETHODIMP Host::Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS *params, VARIANT *result, EXCEPINFO *,
                          UINT *) {
    // Arguments arrive last first: rgvarg[count - 1] is the event's first parameter.
    auto cancelArgument = [&](UINT count, UINT index) -> VARIANT_BOOL * {
        if (!params || params->cArgs != count) return nullptr;
        VARIANT &cancel = params->rgvarg[index];
        return cancel.vt == (VT_BYREF | VT_BOOL) ? cancel.pboolVal : nullptr;
    };
    switch (id) {
    case DISPID_AMBIENT_DLCONTROL:
        if (!result) return E_POINTER;
        VariantInit(result);
        result->vt = VT_I4;
        result->lVal = LONG(kBrowserDownloadControl);
        return S_OK;
    case DISPID_BEFORENAVIGATE2: {
        VARIANT_BOOL *cancel = cancelArgument(7, 0);
        if (!cancel) return S_OK;
        VARIANT *url = &params->rgvarg[5];
        if (url->vt == (VT_BYREF | VT_VARIANT) && url->pvarVal) url = url->pvarVal;
        std::wstring target = (url->vt == VT_BSTR && url->bstrVal) ? std::wstring(url->bstrVal) : std::wstring();
        *cancel = AcceptTarget(target) ? VARIANT_FALSE : VARIANT_TRUE;
        return S_OK;
    }
    case DISPID_NEWWINDOW2:
    case DISPID_NEWWINDOW3: {
        // A link with a target would open a browser window of its own.
        VARIANT_BOOL *cancel = id == DISPID_NEWWINDOW2 ? cancelArgument(2, 0) : cancelArgument(5, 3);
        if (cancel) *cancel = VARIANT_TRUE;
        return S_OK;
    }
    default: return DISP_E_MEMBERNOTFOUND;
    }
}

} // namespace kv::ui

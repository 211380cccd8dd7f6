// Host: a minimal OLE container for the WebBrowser control that shows one
// local HTML file of a received mail. Its ambient properties keep scripts,
// Java and ActiveX from running; links and new windows are cancelled.
#pragma once

#include <windows.h>
#include <exdisp.h>
#include <mshtmhst.h>
#include <ole2.h>

#include <string>

#include "runtime/com_object.h"

namespace kv::ui {

class Host : public clsComObject<kModuleApart, IOleClientSite, IOleInPlaceSite, IOleInPlaceFrame, IDocHostUIHandler,
                                 IDispatch> {
  public:
    // flags: the dialog flags; kHostBrowserContextMenu leaves the context menu to the browser.
    // Made with the creator's reference.
    Host(HWND placeholder, DWORD flags);
    Host(const Host &) = delete;
    Host &operator=(const Host &) = delete;

    // Creates and activates the browser; false (page left empty) without one.
    bool Create();
    // Stops, goes to "about:blank" and then to the file (a local path).
    void Show(const std::wstring &file);
    void Resize();
    // Disconnects and lets go of the browser; the object lives on while referenced.
    void Destroy();
    IWebBrowser2 *Browser() const { return browser_; }
    // Waits (pumping messages) until the document is complete, at most timeoutMs.
    bool WaitUntilLoaded(DWORD timeoutMs);

    // IUnknown: also the interfaces that more than one of these derive from,
    // and the browser's events.
    STDMETHODIMP QueryInterface(REFIID riid, void **ppv) override;

    // IOleClientSite
    STDMETHODIMP SaveObject() override { return E_NOTIMPL; }
    STDMETHODIMP GetMoniker(DWORD, DWORD, IMoniker **) override { return E_NOTIMPL; }
    STDMETHODIMP GetContainer(IOleContainer **container) override;
    STDMETHODIMP ShowObject() override { return S_OK; }
    STDMETHODIMP OnShowWindow(BOOL) override { return S_OK; }
    STDMETHODIMP RequestNewObjectLayout() override { return E_NOTIMPL; }

    // IOleWindow (IOleInPlaceSite, IOleInPlaceFrame)
    STDMETHODIMP GetWindow(HWND *window) override;
    STDMETHODIMP ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }

    // IOleInPlaceSite
    STDMETHODIMP CanInPlaceActivate() override { return S_OK; }
    STDMETHODIMP OnInPlaceActivate() override { return S_OK; }
    STDMETHODIMP OnUIActivate() override { return S_OK; }
    STDMETHODIMP GetWindowContext(IOleInPlaceFrame **frame, IOleInPlaceUIWindow **doc, LPRECT pos, LPRECT clip,
                                  LPOLEINPLACEFRAMEINFO info) override;
    STDMETHODIMP Scroll(SIZE) override { return E_NOTIMPL; }
    STDMETHODIMP OnUIDeactivate(BOOL) override { return S_OK; }
    STDMETHODIMP OnInPlaceDeactivate() override { return S_OK; }
    STDMETHODIMP DiscardUndoState() override { return E_NOTIMPL; }
    STDMETHODIMP DeactivateAndUndo() override { return E_NOTIMPL; }
    STDMETHODIMP OnPosRectChange(LPCRECT pos) override;

    // IOleInPlaceUIWindow, IOleInPlaceFrame
    STDMETHODIMP GetBorder(LPRECT) override { return INPLACE_E_NOTOOLSPACE; }
    STDMETHODIMP RequestBorderSpace(LPCBORDERWIDTHS) override { return INPLACE_E_NOTOOLSPACE; }
    STDMETHODIMP SetBorderSpace(LPCBORDERWIDTHS) override { return E_NOTIMPL; }
    STDMETHODIMP SetActiveObject(IOleInPlaceActiveObject *, LPCOLESTR) override { return S_OK; }
    STDMETHODIMP InsertMenus(HMENU, LPOLEMENUGROUPWIDTHS) override { return E_NOTIMPL; }
    STDMETHODIMP SetMenu(HMENU, HOLEMENU, HWND) override { return S_OK; }
    STDMETHODIMP RemoveMenus(HMENU) override { return E_NOTIMPL; }
    STDMETHODIMP SetStatusText(LPCOLESTR) override { return S_OK; }
    STDMETHODIMP EnableModeless(BOOL) override { return S_OK; }
    STDMETHODIMP TranslateAccelerator(LPMSG, WORD) override { return S_FALSE; }

    // IDocHostUIHandler
    STDMETHODIMP ShowContextMenu(DWORD id, POINT *pt, IUnknown *target, IDispatch *object) override;
    STDMETHODIMP GetHostInfo(DOCHOSTUIINFO *info) override;
    // The browser keeps its own behaviour for all of these.
    STDMETHODIMP ShowUI(DWORD, IOleInPlaceActiveObject *, IOleCommandTarget *, IOleInPlaceFrame *,
                        IOleInPlaceUIWindow *) override {
        return E_NOTIMPL;
    }
    STDMETHODIMP HideUI() override { return E_NOTIMPL; }
    STDMETHODIMP UpdateUI() override { return E_NOTIMPL; }
    STDMETHODIMP OnDocWindowActivate(BOOL) override { return E_NOTIMPL; }
    STDMETHODIMP OnFrameWindowActivate(BOOL) override { return E_NOTIMPL; }
    STDMETHODIMP ResizeBorder(LPCRECT, IOleInPlaceUIWindow *, BOOL) override { return E_NOTIMPL; }
    STDMETHODIMP TranslateAccelerator(LPMSG, const GUID *, DWORD) override { return E_NOTIMPL; }
    STDMETHODIMP GetOptionKeyPath(LPOLESTR *key, DWORD) override;
    STDMETHODIMP GetDropTarget(IDropTarget *, IDropTarget **) override { return E_NOTIMPL; }
    STDMETHODIMP GetExternal(IDispatch **external) override;
    STDMETHODIMP TranslateUrl(DWORD, LPWSTR, LPWSTR *out) override;
    STDMETHODIMP FilterDataObject(IDataObject *, IDataObject **out) override;

    // IDispatch: the ambient properties and the browser's events.
    STDMETHODIMP GetTypeInfoCount(UINT *count) override;
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo **) override { return E_NOTIMPL; }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR *, UINT, LCID, DISPID *) override { return E_NOTIMPL; }
    STDMETHODIMP Invoke(DISPID id, REFIID riid, LCID, WORD flags, DISPPARAMS *params, VARIANT *result, EXCEPINFO *,
                        UINT *) override;

  private:
    virtual ~Host();
    bool AcceptTarget(const std::wstring &url) const;

    HWND placeholder_;
    DWORD flags_;
    bool oleInitialised_ = false;
    IOleObject *oleObject_ = nullptr;
    IOleInPlaceObject *inPlace_ = nullptr;
    IWebBrowser2 *browser_ = nullptr;
    IConnectionPoint *events_ = nullptr;
    DWORD eventsCookie_ = 0;
    std::wstring file_;
};

} // namespace kv::ui

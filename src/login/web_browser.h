// The system's WebBrowser control as a child window, and the controller that takes over
// its host UI so that embedded pages look like part of the skin: no context menu, no 3-D
// border and, when asked, no scroll bars, on every document the browser loads.
#pragma once

#include <windows.h>
#include <ole2.h>
#include <exdisp.h>
#include <exdispid.h>
#include <mshtmhst.h>

#include "framework/activex.h"

// {8856F961-340A-11D0-A96B-00C04FD705A2}
extern const CLSID kWebBrowserClassId;
// DWebBrowserEvents2 {34A715A0-6587-11D0-924A-0020AFC7AC4D}
extern const IID kWebBrowserEventsId;

// Dispatch identifiers of the IWebBrowser2 members used here; the events' identifiers are
// exdispid.h's (DISPID_BEFORENAVIGATE2, DISPID_NAVIGATECOMPLETE2, DISPID_DOCUMENTCOMPLETE).
enum : DISPID {
    kDispidNavigate = 104,
    kDispidSilent = 551,
};

class CWebBrowser : public CAxWnd {
public:
    // Creates the hosted control; false when there is no WebBrowser control.
    BOOL Create(DWORD style, const RECT& rect, CWnd* parent, UINT id);
    // Both answer false when the control refuses; nothing is thrown.
    bool Navigate(const wchar_t* address);
    bool SetSilent(bool silent);
    bool GetSilent() const;
};

// Sink of the browser's events and its documents' host UI handler in one object. It
// lives inside its CWebBrowserEx: the reference count never frees it.
class CWebUIController : public IDispatch, public IDocHostUIHandler {
public:
    CWebUIController() = default;
    ~CWebUIController();
    CWebUIController(const CWebUIController&) = delete;
    CWebUIController& operator=(const CWebUIController&) = delete;

    // Drops the connection to the current browser and, given one, advises this sink on
    // its DWebBrowserEvents2; the advice's result.
    HRESULT Connect(IWebBrowser2* browser);
    void HideBorder3D() { showBorder3D_ = false; }
    void HideScrollBars() { showScrollBars_ = false; }

    // IUnknown (the event sink answers for IDispatch and DWebBrowserEvents2, the handler
    // for IDocHostUIHandler and IUnknown).
    STDMETHODIMP QueryInterface(REFIID id, void** object) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;

    // IDispatch: every document that completes its navigation gets this handler.
    STDMETHODIMP GetTypeInfoCount(UINT* count) override;
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo** info) override;
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override;
    STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* parameters, VARIANT* result, EXCEPINFO*,
                        UINT*) override;

    // IDocHostUIHandler
    STDMETHODIMP ShowContextMenu(DWORD, POINT*, IUnknown*, IDispatch*) override;
    STDMETHODIMP GetHostInfo(DOCHOSTUIINFO* info) override;
    STDMETHODIMP ShowUI(DWORD, IOleInPlaceActiveObject*, IOleCommandTarget*, IOleInPlaceFrame*,
                        IOleInPlaceUIWindow*) override;
    STDMETHODIMP HideUI() override;
    STDMETHODIMP UpdateUI() override;
    STDMETHODIMP EnableModeless(BOOL) override;
    STDMETHODIMP OnDocWindowActivate(BOOL) override;
    STDMETHODIMP OnFrameWindowActivate(BOOL) override;
    STDMETHODIMP ResizeBorder(LPCRECT, IOleInPlaceUIWindow*, BOOL) override;
    STDMETHODIMP TranslateAccelerator(LPMSG, const GUID*, DWORD) override;
    STDMETHODIMP GetOptionKeyPath(LPOLESTR* key, DWORD) override;
    STDMETHODIMP GetDropTarget(IDropTarget*, IDropTarget** target) override;
    STDMETHODIMP GetExternal(IDispatch** external) override;
    STDMETHODIMP TranslateUrl(DWORD, LPWSTR, LPWSTR* translated) override;
    STDMETHODIMP FilterDataObject(IDataObject*, IDataObject** filtered) override;

private:
    void AttachToDocumentOf(IDispatch* browserOrFrame);

    LONG references_ = 0;
    CComPtr<IWebBrowser2> browser_;
    DWORD cookie_ = 0;
    BOOL showBorder3D_ = TRUE;
    BOOL showScrollBars_ = TRUE;
};

class CWebBrowserEx : public CWebBrowser {
public:
    CWebBrowserEx() = default;
    ~CWebBrowserEx() override;

    // Takes over the browser's host UI: no 3-D border, and no scroll bars unless allowed.
    // False when the control is missing or is no IWebBrowser2.
    bool AttachUIController(bool scrollBarsAllowed);
    CWebUIController& controller() { return controller_; }

private:
    CWebUIController controller_;
};

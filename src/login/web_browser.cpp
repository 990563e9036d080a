#include "login/web_browser.h"

#include <ocidl.h>

const CLSID kWebBrowserClassId = {0x8856F961, 0x340A, 0x11D0, {0xA9, 0x6B, 0x00, 0xC0, 0x4F, 0xD7, 0x05, 0xA2}};
const IID kWebBrowserEventsId = {0x34A715A0, 0x6587, 0x11D0, {0x92, 0x4A, 0x00, 0x20, 0xAF, 0xC7, 0xAC, 0x4D}};

namespace {

const IID kWebBrowser2Id = {0xD30C1661, 0xCDAF, 0x11D0, {0x8A, 0x3E, 0x00, 0xC0, 0x4F, 0xC9, 0xE2, 0x6E}};
const IID kDocHostUIHandlerId = {0xBD3F23C0, 0xD43E, 0x11CF, {0x89, 0x3B, 0x00, 0xAA, 0x00, 0xBD, 0xCE, 0x1A}};
const IID kCustomDocId = {0x3050F3F0, 0x98B5, 0x11CF, {0xBB, 0x82, 0x00, 0xAA, 0x00, 0xBD, 0xCE, 0x0B}};

}  // namespace

// ---------------------------------------------------------------------------
// CWebBrowser

BOOL CWebBrowser::Create(DWORD style, const RECT& rect, CWnd* parent, UINT id) {
    return CreateControl(kWebBrowserClassId, L"", style, rect, parent, id);
}

bool CWebBrowser::Navigate(const wchar_t* address) {
    // Flags, target frame, post data and headers stay empty.
    VARIANT empty[4];
    VARIANT arguments[5];
    arguments[0].vt = VT_BSTR;
    arguments[0].bstrVal = SysAllocString(address ? address : L"");
    for (int i = 0; i < 4; ++i) {
        VariantInit(&empty[i]);
        arguments[i + 1].vt = VT_VARIANT | VT_BYREF;
        arguments[i + 1].pvarVal = &empty[i];
    }
    bool done = true;
    try {
        InvokeHelper(kDispidNavigate, DISPATCH_METHOD, VT_EMPTY, nullptr, arguments, 5);
    } catch (const CDispatchException&) {
        done = false;
    }
    SysFreeString(arguments[0].bstrVal);
    return done;
}

bool CWebBrowser::SetSilent(bool silent) {
    VARIANT argument;
    argument.vt = VT_BOOL;
    argument.boolVal = silent ? VARIANT_TRUE : VARIANT_FALSE;
    try {
        InvokeHelper(kDispidSilent, DISPATCH_PROPERTYPUT, VT_EMPTY, nullptr, &argument, 1);
    } catch (const CDispatchException&) {
        return false;
    }
    return true;
}

bool CWebBrowser::GetSilent() const {
    VARIANT answer;
    VariantInit(&answer);
    try {
        InvokeHelper(kDispidSilent, DISPATCH_PROPERTYGET, VT_BOOL, &answer, nullptr, 0);
    } catch (const CDispatchException&) {
        return false;
    }
    return answer.boolVal != VARIANT_FALSE;
}

// ---------------------------------------------------------------------------
// CWebUIController

CWebUIController::~CWebUIController() { Connect(nullptr); }

HRESULT CWebUIController::Connect(IWebBrowser2* browser) {
    if (browser_) {
        CComPtr<IConnectionPointContainer> container;
        if (SUCCEEDED(browser_->QueryInterface(IID_IConnectionPointContainer, container.ReceiveVoid())) &&
            container) {
            CComPtr<IConnectionPoint> point;
            if (SUCCEEDED(container->FindConnectionPoint(kWebBrowserEventsId, point.Receive())) && point)
                point->Unadvise(cookie_);
        }
        cookie_ = 0;
        browser_.Reset();
    }
    if (!browser) return S_OK;
    browser_.Assign(browser);
    CComPtr<IConnectionPointContainer> container;
    HRESULT hr = browser_->QueryInterface(IID_IConnectionPointContainer, container.ReceiveVoid());
    if (FAILED(hr) || !container) return FAILED(hr) ? hr : E_NOINTERFACE;
    CComPtr<IConnectionPoint> point;
    hr = container->FindConnectionPoint(kWebBrowserEventsId, point.Receive());
    if (FAILED(hr) || !point) return FAILED(hr) ? hr : E_NOINTERFACE;
    return point->Advise(static_cast<IDispatch*>(this), &cookie_);
}

STDMETHODIMP CWebUIController::QueryInterface(REFIID id, void** object) {
    if (!object) return E_POINTER;
    if (IsEqualIID(id, kWebBrowserEventsId) || IsEqualIID(id, IID_IDispatch)) {
        *object = static_cast<IDispatch*>(this);
    } else if (IsEqualIID(id, kDocHostUIHandlerId) || IsEqualIID(id, IID_IUnknown)) {
        *object = static_cast<IDocHostUIHandler*>(this);
    } else {
        *object = nullptr;
        return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
}

STDMETHODIMP_(ULONG) CWebUIController::AddRef() { return static_cast<ULONG>(InterlockedIncrement(&references_)); }

STDMETHODIMP_(ULONG) CWebUIController::Release() {
    return static_cast<ULONG>(InterlockedDecrement(&references_));
}

STDMETHODIMP CWebUIController::GetTypeInfoCount(UINT*) { return E_NOTIMPL; }

STDMETHODIMP CWebUIController::GetTypeInfo(UINT, LCID, ITypeInfo** info) {
    if (info) *info = nullptr;
    return E_NOTIMPL;
}

STDMETHODIMP CWebUIController::GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) { return E_NOTIMPL; }

STDMETHODIMP CWebUIController::Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* parameters, VARIANT*,
                                      EXCEPINFO*, UINT*) {
    if (!parameters) return E_INVALIDARG;
    if (id != DISPID_NAVIGATECOMPLETE2) return S_OK;
    // The browser or frame that navigated comes first, so it is the last of the array.
    if (parameters->cArgs < 2 || !parameters->rgvarg) return E_INVALIDARG;
    const VARIANT& first = parameters->rgvarg[parameters->cArgs - 1];
    if (first.vt != VT_DISPATCH) return E_INVALIDARG;
    AttachToDocumentOf(first.pdispVal);
    return S_OK;
}

void CWebUIController::AttachToDocumentOf(IDispatch* browserOrFrame) {
    if (!browserOrFrame) return;
    CComPtr<IWebBrowser2> browser;
    CComPtr<IDispatch> document;
    CComPtr<ICustomDoc> custom;
    if (SUCCEEDED(browserOrFrame->QueryInterface(kWebBrowser2Id, browser.ReceiveVoid())) && browser &&
        SUCCEEDED(browser->get_Document(document.Receive())) && document &&
        SUCCEEDED(document->QueryInterface(kCustomDocId, custom.ReceiveVoid())) && custom)
        custom->SetUIHandler(static_cast<IDocHostUIHandler*>(this));
}

// The browser's own context menu never shows.
STDMETHODIMP CWebUIController::ShowContextMenu(DWORD, POINT*, IUnknown*, IDispatch*) { return S_OK; }

STDMETHODIMP CWebUIController::GetHostInfo(DOCHOSTUIINFO* info) {
    if (!info) return S_OK;
    if (!showBorder3D_) info->dwFlags |= DOCHOSTUIFLAG_NO3DBORDER;
    if (!showScrollBars_) info->dwFlags |= DOCHOSTUIFLAG_SCROLL_NO;
    return S_OK;
}

// Everything else is left to the browser's defaults.
STDMETHODIMP CWebUIController::ShowUI(DWORD, IOleInPlaceActiveObject*, IOleCommandTarget*, IOleInPlaceFrame*,
                                      IOleInPlaceUIWindow*) {
    return E_NOTIMPL;
}
STDMETHODIMP CWebUIController::HideUI() { return E_NOTIMPL; }
STDMETHODIMP CWebUIController::UpdateUI() { return E_NOTIMPL; }
STDMETHODIMP CWebUIController::EnableModeless(BOOL) { return E_NOTIMPL; }
STDMETHODIMP CWebUIController::OnDocWindowActivate(BOOL) { return E_NOTIMPL; }
STDMETHODIMP CWebUIController::OnFrameWindowActivate(BOOL) { return E_NOTIMPL; }
STDMETHODIMP CWebUIController::ResizeBorder(LPCRECT, IOleInPlaceUIWindow*, BOOL) { return E_NOTIMPL; }
STDMETHODIMP CWebUIController::TranslateAccelerator(LPMSG, const GUID*, DWORD) { return E_NOTIMPL; }

STDMETHODIMP CWebUIController::GetOptionKeyPath(LPOLESTR* key, DWORD) {
    if (key) *key = nullptr;
    return E_NOTIMPL;
}

STDMETHODIMP CWebUIController::GetDropTarget(IDropTarget*, IDropTarget** target) {
    if (target) *target = nullptr;
    return E_NOTIMPL;
}

// No external object: a page that calls window.external gets nothing.
STDMETHODIMP CWebUIController::GetExternal(IDispatch** external) {
    if (external) *external = nullptr;
    return E_NOTIMPL;
}

STDMETHODIMP CWebUIController::TranslateUrl(DWORD, LPWSTR, LPWSTR* translated) {
    if (translated) *translated = nullptr;
    return E_NOTIMPL;
}

STDMETHODIMP CWebUIController::FilterDataObject(IDataObject*, IDataObject** filtered) {
    if (filtered) *filtered = nullptr;
    return E_NOTIMPL;
}

// ---------------------------------------------------------------------------
// CWebBrowserEx

CWebBrowserEx::~CWebBrowserEx() {
    // The control goes first, while the controller it calls is still whole.
    if (m_hWnd) DestroyWindow();
    controller_.Connect(nullptr);
}

bool CWebBrowserEx::AttachUIController(bool scrollBarsAllowed) {
    IUnknown* control = GetControlUnknown();
    if (!control) return false;
    CComPtr<IWebBrowser2> browser;
    if (FAILED(control->QueryInterface(kWebBrowser2Id, browser.ReceiveVoid())) || !browser) return false;
    controller_.HideBorder3D();
    if (!scrollBarsAllowed) controller_.HideScrollBars();
    controller_.Connect(browser.get());
    return true;
}

#include "framework/activex.h"

#include <string.h>

#include <algorithm>
#include <vector>

#include "framework/escaped_exception.h"

namespace {

using AtlAxWinInitFunction = BOOL(WINAPI*)();
using AtlAxGetControlFunction = HRESULT(WINAPI*)(HWND, IUnknown**);

struct AtlHost {
    HMODULE module = nullptr;
    AtlAxGetControlFunction getControl = nullptr;
    bool ready = false;
};

// atl.dll stays loaded for the process: its window class lives in it.
const AtlHost& Atl() {
    static AtlHost host = [] {
        AtlHost loaded;
        loaded.module = LoadLibraryW(L"atl.dll");
        if (!loaded.module) return loaded;
        auto init = reinterpret_cast<AtlAxWinInitFunction>(
            reinterpret_cast<void*>(GetProcAddress(loaded.module, "AtlAxWinInit")));
        loaded.getControl = reinterpret_cast<AtlAxGetControlFunction>(
            reinterpret_cast<void*>(GetProcAddress(loaded.module, "AtlAxGetControl")));
        loaded.ready = init && loaded.getControl && init();
        return loaded;
    }();
    return host;
}

}  // namespace

CAxWnd::~CAxWnd() { ReleaseControl(); }

void CAxWnd::ReleaseControl() { control_.Reset(); }

void CAxWnd::PostNcDestroy() { ReleaseControl(); }

BOOL CAxWnd::CreateControl(REFCLSID classId, const wchar_t* windowName, DWORD style, const RECT& rect,
                           CWnd* parent, UINT id) {
    if (m_hWnd || !parent || !parent->m_hWnd) return FALSE;
    const AtlHost& atl = Atl();
    if (!atl.ready) return FALSE;
    wchar_t classText[40];
    if (!StringFromGUID2(classId, classText, 40)) return FALSE;
    // AtlAxWin creates the control its window text names; the window then takes its own name.
    if (!CreateEx(0, L"AtlAxWin", classText, style, rect, parent->m_hWnd, id)) return FALSE;
    if (FAILED(atl.getControl(m_hWnd, control_.Receive())) || !control_) {
        control_.Detach();  // what a failed call left in the slot holds no reference
        CWnd::DestroyWindow();
        return FALSE;
    }
    SetWindowText(windowName ? windowName : L"");
    return TRUE;
}

void CAxWnd::InvokeHelper(DISPID id, WORD flags, VARTYPE resultType, VARIANT* result, const VARIANT* arguments,
                          UINT argumentCount) const {
    if (!control_) throw CDispatchException(E_POINTER);
    CComPtr<IDispatch> dispatch;
    HRESULT hr = control_->QueryInterface(IID_IDispatch, dispatch.ReceiveVoid());
    if (FAILED(hr) || !dispatch) throw CDispatchException(FAILED(hr) ? hr : E_NOINTERFACE);
    // DISPPARAMS hold the arguments last to first.
    std::vector<VARIANT> reversed;
    if (arguments) reversed.assign(arguments, arguments + argumentCount);
    std::reverse(reversed.begin(), reversed.end());
    DISPPARAMS parameters = {reversed.empty() ? nullptr : reversed.data(), nullptr,
                             static_cast<UINT>(reversed.size()), 0};
    DISPID named = DISPID_PROPERTYPUT;
    if (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) {
        parameters.rgdispidNamedArgs = &named;
        parameters.cNamedArgs = 1;
    }
    VARIANT answer;
    VariantInit(&answer);
    EXCEPINFO exception = {};
    UINT badArgument = 0;
    hr = dispatch->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &parameters,
                          resultType == VT_EMPTY ? nullptr : &answer, &exception, &badArgument);
    dispatch.Reset();
    SysFreeString(exception.bstrSource);
    SysFreeString(exception.bstrDescription);
    SysFreeString(exception.bstrHelpFile);
    if (FAILED(hr)) {
        VariantClear(&answer);
        throw CDispatchException(hr);
    }
    if (resultType != VT_EMPTY && answer.vt != resultType) {
        hr = VariantChangeType(&answer, &answer, 0, resultType);
        if (FAILED(hr)) {
            VariantClear(&answer);
            throw CDispatchException(hr);
        }
    }
    if (result)
        *result = answer;
    else
        VariantClear(&answer);
}

bool CAxWnd::TranslateAccelerator(MSG* message) const {
    if (!control_) return false;
    CComPtr<IOleInPlaceActiveObject> active;
    if (FAILED(control_->QueryInterface(IID_IOleInPlaceActiveObject, active.ReceiveVoid())) || !active)
        return false;
    return active->TranslateAccelerator(message) == S_OK;
}

CEventSink::CEventSink(IControlEventHandler* handler, UINT controlId, REFIID eventsId)
    : handler_(handler), controlId_(controlId), eventsId_(eventsId) {}

CEventSink::~CEventSink() { Unadvise(); }

bool CEventSink::Advise(IUnknown* control) {
    Unadvise();
    if (!control) return false;
    CComPtr<IConnectionPointContainer> container;
    if (FAILED(control->QueryInterface(IID_IConnectionPointContainer, container.ReceiveVoid())) || !container)
        return false;
    if (FAILED(container->FindConnectionPoint(eventsId_, point_.Receive())) || !point_) {
        point_.Detach();  // what a failed call left in the slot holds no reference
        return false;
    }
    if (FAILED(point_->Advise(static_cast<IDispatch*>(this), &cookie_))) {
        point_.Reset();
        return false;
    }
    return true;
}

void CEventSink::Unadvise() {
    if (!point_) return;
    point_->Unadvise(cookie_);
    point_.Reset();
    cookie_ = 0;
}

STDMETHODIMP CEventSink::QueryInterface(REFIID id, void** object) {
    if (!object) return E_POINTER;
    if (IsEqualIID(id, IID_IUnknown) || IsEqualIID(id, IID_IDispatch) || IsEqualIID(id, eventsId_)) {
        *object = static_cast<IDispatch*>(this);
        AddRef();
        return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
}

// The sink lives inside its window object; the count only keeps COM's bookkeeping honest.
STDMETHODIMP_(ULONG) CEventSink::AddRef() { return ++references_; }
STDMETHODIMP_(ULONG) CEventSink::Release() { return references_ > 1 ? --references_ : 1; }

STDMETHODIMP CEventSink::GetTypeInfoCount(UINT* count) {
    if (count) *count = 0;
    return S_OK;
}

STDMETHODIMP CEventSink::GetTypeInfo(UINT, LCID, ITypeInfo** info) {
    if (info) *info = nullptr;
    return E_NOTIMPL;
}

STDMETHODIMP CEventSink::GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) { return E_NOTIMPL; }

STDMETHODIMP CEventSink::Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* parameters, VARIANT* result,
                                EXCEPINFO*, UINT*) {
    if (result) VariantInit(result);
    if (!handler_) return S_OK;
    try {
        handler_->OnControlEvent(controlId_, id, parameters);
    } catch (...) {
        ReportEscapedException("an event of a hosted control");
        return E_FAIL;
    }
    return S_OK;
}

const wchar_t* EventStringArgument(const DISPPARAMS* parameters, UINT index) {
    if (!parameters || index >= parameters->cArgs || !parameters->rgvarg) return nullptr;
    // Arguments arrive last to first.
    const VARIANT* given = &parameters->rgvarg[parameters->cArgs - 1 - index];
    // Events with VARIANT* parameters (the browser's) pass a reference to the variant.
    if (given->vt == (VT_VARIANT | VT_BYREF)) {
        if (!given->pvarVal) return nullptr;
        given = given->pvarVal;
    }
    const VARIANT& argument = *given;
    if (argument.vt == VT_BSTR) return argument.bstrVal ? argument.bstrVal : L"";
    if (argument.vt == (VT_BSTR | VT_BYREF) && argument.pbstrVal)
        return *argument.pbstrVal ? *argument.pbstrVal : L"";
    return nullptr;
}

// ActiveX containment: a control hosted in a child window of atl.dll's AtlAxWin class,
// its dispatch members called through InvokeHelper, and its events delivered by an
// IDispatch sink advised on the control's connection point.
#pragma once

#include <windows.h>
#include <ole2.h>
#include <oaidl.h>
#include <ocidl.h>

#include "framework/handles.h"
#include "framework/window.h"

// A failed dispatch call. Callers that may meet a failing control catch it.
class CDispatchException {
public:
    explicit CDispatchException(HRESULT result) : result_(result) {}
    HRESULT result() const { return result_; }

private:
    HRESULT result_;
};

class CAxWnd : public CWnd {
public:
    CAxWnd() = default;
    ~CAxWnd() override;

    // Creates the control as a child window: false when the host or the control cannot
    // be made (no such control installed). The window gets the child id.
    BOOL CreateControl(REFCLSID classId, const wchar_t* windowName, DWORD style, const RECT& rect,
                       CWnd* parent, UINT id);
    // The control's IUnknown, not AddRef'ed; null without a control.
    IUnknown* GetControlUnknown() const { return control_.get(); }

    // Calls a dispatch member. `arguments` are in call order; `result` (may be null)
    // receives the answer converted to `resultType` (VT_EMPTY: none). Throws
    // CDispatchException when there is no control or the call fails.
    void InvokeHelper(DISPID id, WORD flags, VARTYPE resultType, VARIANT* result, const VARIANT* arguments,
                      UINT argumentCount) const;

    // Offers a key message to the control first, through its
    // IOleInPlaceActiveObject::TranslateAccelerator: true when the control used it (the
    // message is then not dispatched).
    bool TranslateAccelerator(MSG* message) const;

protected:
    void PostNcDestroy() override;

private:
    void ReleaseControl();

    CComPtr<IUnknown> control_;
};

// Receives a control's events by dispatch id.
class IControlEventHandler {
public:
    virtual void OnControlEvent(UINT controlId, DISPID id, DISPPARAMS* parameters) = 0;

protected:
    ~IControlEventHandler() = default;
};

// An IDispatch advised on a control's connection point for `eventsId`. The handler is
// called on the thread the control fires on (the control's own, for our controls).
class CEventSink : public IDispatch {
public:
    CEventSink(IControlEventHandler* handler, UINT controlId, REFIID eventsId);
    ~CEventSink();
    CEventSink(const CEventSink&) = delete;
    CEventSink& operator=(const CEventSink&) = delete;

    bool Advise(IUnknown* control);
    void Unadvise();

    STDMETHODIMP QueryInterface(REFIID id, void** object) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;
    STDMETHODIMP GetTypeInfoCount(UINT* count) override;
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override;
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override;
    STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* parameters, VARIANT* result, EXCEPINFO*,
                        UINT*) override;

private:
    IControlEventHandler* handler_;
    UINT controlId_;
    IID eventsId_;
    CComPtr<IConnectionPoint> point_;
    DWORD cookie_ = 0;
    ULONG references_ = 1;
};

// A BSTR argument of an event (by value, by reference, or in a VARIANT passed by
// reference), or null when the argument is missing or of another type.
const wchar_t* EventStringArgument(const DISPPARAMS* parameters, UINT index);

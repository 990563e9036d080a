// The control's one connection point, for _IShockwaveFlashEvents. It lives inside the
// control and shares its reference count. Sinks that only answer IDispatch are taken
// too: the events reach every sink through IDispatch::Invoke.
#pragma once

#include <ocidl.h>
#include <olectl.h>

#include <vector>

#include "framework/handles.h"

class FlashEventPoint : public IConnectionPoint {
public:
    FlashEventPoint(IConnectionPointContainer* owner, REFIID eventsId);
    FlashEventPoint(const FlashEventPoint&) = delete;
    FlashEventPoint& operator=(const FlashEventPoint&) = delete;

    // Calls the event `id` with `arguments` (first to last) on every sink advised when
    // the call begins; returns how many were called. A sink may unadvise meanwhile.
    size_t Fire(DISPID id, const VARIANT* arguments, UINT count);
    size_t sinkCount() const { return sinks_.size(); }

    STDMETHODIMP QueryInterface(REFIID id, void** object) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;
    STDMETHODIMP GetConnectionInterface(IID* id) override;
    STDMETHODIMP GetConnectionPointContainer(IConnectionPointContainer** container) override;
    STDMETHODIMP Advise(IUnknown* sink, DWORD* cookie) override;
    STDMETHODIMP Unadvise(DWORD cookie) override;
    STDMETHODIMP EnumConnections(IEnumConnections** connections) override;

private:
    struct Sink {
        DWORD cookie;
        CComPtr<IDispatch> dispatch;
    };

    IConnectionPointContainer* owner_;
    IID eventsId_;
    std::vector<Sink> sinks_;
    DWORD nextCookie_ = 1;
};

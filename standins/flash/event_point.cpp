#include "standins/flash/event_point.h"

#include <algorithm>
#include <new>

FlashEventPoint::FlashEventPoint(IConnectionPointContainer* owner, REFIID eventsId)
    : owner_(owner), eventsId_(eventsId) {}

size_t FlashEventPoint::Fire(DISPID id, const VARIANT* arguments, UINT count) {
    std::vector<CComPtr<IDispatch>> called;
    std::vector<VARIANT> reversed;
    try {
        for (const Sink& sink : sinks_) called.push_back(sink.dispatch);
        // DISPPARAMS hold the arguments last to first.
        reversed.assign(arguments, arguments + count);
    } catch (const std::bad_alloc&) {
        return 0;
    }
    std::reverse(reversed.begin(), reversed.end());
    for (const CComPtr<IDispatch>& sink : called) {
        DISPPARAMS parameters = {reversed.empty() ? nullptr : reversed.data(), nullptr, count, 0};
        VARIANT result;
        VariantInit(&result);
        sink->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &parameters, &result, nullptr, nullptr);
        VariantClear(&result);
    }
    return called.size();
}

STDMETHODIMP FlashEventPoint::QueryInterface(REFIID id, void** object) {
    if (!object) return E_POINTER;
    if (IsEqualIID(id, IID_IUnknown) || IsEqualIID(id, IID_IConnectionPoint)) {
        *object = static_cast<IConnectionPoint*>(this);
        AddRef();
        return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) FlashEventPoint::AddRef() { return owner_->AddRef(); }
STDMETHODIMP_(ULONG) FlashEventPoint::Release() { return owner_->Release(); }

STDMETHODIMP FlashEventPoint::GetConnectionInterface(IID* id) {
    if (!id) return E_POINTER;
    *id = eventsId_;
    return S_OK;
}

STDMETHODIMP FlashEventPoint::GetConnectionPointContainer(IConnectionPointContainer** container) {
    if (!container) return E_POINTER;
    owner_->AddRef();
    *container = owner_;
    return S_OK;
}

STDMETHODIMP FlashEventPoint::Advise(IUnknown* sink, DWORD* cookie) {
    if (!cookie) return E_POINTER;
    *cookie = 0;
    if (!sink) return E_POINTER;
    CComPtr<IDispatch> dispatch;
    if (FAILED(sink->QueryInterface(eventsId_, dispatch.ReceiveVoid())) &&
        FAILED(sink->QueryInterface(IID_IDispatch, dispatch.ReceiveVoid())))
        return CONNECT_E_CANNOTCONNECT;
    if (!dispatch) return CONNECT_E_CANNOTCONNECT;
    try {
        sinks_.push_back({nextCookie_, dispatch});
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    *cookie = nextCookie_++;
    if (nextCookie_ == 0) nextCookie_ = 1;
    return S_OK;
}

STDMETHODIMP FlashEventPoint::Unadvise(DWORD cookie) {
    auto found = std::find_if(sinks_.begin(), sinks_.end(), [cookie](const Sink& sink) { return sink.cookie == cookie; });
    if (found == sinks_.end()) return CONNECT_E_NOCONNECTION;
    // The sink's release may call back into the control: take it out of the list first.
    CComPtr<IDispatch> released = found->dispatch;
    sinks_.erase(found);
    return S_OK;
}

STDMETHODIMP FlashEventPoint::EnumConnections(IEnumConnections** connections) {
    if (connections) *connections = nullptr;
    return E_NOTIMPL;
}

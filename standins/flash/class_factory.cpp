#include "standins/flash/flash_standin.h"
#include "standins/flash/module.h"

#include <new>

namespace {

LONG liveObjects = 0;
LONG serverLocks = 0;
DWORD registration = 0;

// The factory is a static object: its references only keep the module in use.
class FlashStandinFactory : public IClassFactory {
public:
    STDMETHODIMP QueryInterface(REFIID id, void** object) override {
        if (!object) return E_POINTER;
        if (IsEqualIID(id, IID_IUnknown) || IsEqualIID(id, IID_IClassFactory)) {
            *object = static_cast<IClassFactory*>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&serverLocks)) + 1; }
    STDMETHODIMP_(ULONG) Release() override { return static_cast<ULONG>(InterlockedDecrement(&serverLocks)) + 1; }

    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID id, void** object) override {
        if (!object) return E_POINTER;
        *object = nullptr;
        if (outer) return CLASS_E_NOAGGREGATION;
        FlashStandin* standin = new (std::nothrow) FlashStandin();
        if (!standin) return E_OUTOFMEMORY;
        HRESULT hr = standin->QueryInterface(id, object);
        standin->Release();
        return hr;
    }
    STDMETHODIMP LockServer(BOOL lock) override {
        if (lock)
            InterlockedIncrement(&serverLocks);
        else
            InterlockedDecrement(&serverLocks);
        return S_OK;
    }
};

FlashStandinFactory factory;

}  // namespace

void FlashStandinObjectCreated() { InterlockedIncrement(&liveObjects); }
void FlashStandinObjectDestroyed() { InterlockedDecrement(&liveObjects); }

HMODULE FlashStandinModule() {
    HMODULE module = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<const wchar_t*>(&liveObjects), &module);
    return module;
}

IClassFactory* FlashStandinClassFactory() { return &factory; }

bool FlashStandinModuleInUse() {
    return InterlockedCompareExchange(&liveObjects, 0, 0) != 0 || InterlockedCompareExchange(&serverLocks, 0, 0) != 0;
}

HRESULT RegisterFlashStandin(REFCLSID classId) {
    if (registration) return S_FALSE;
    return CoRegisterClassObject(classId, &factory, CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE,
                                 &registration);
}

void RevokeFlashStandin() {
    if (!registration) return;
    CoRevokeClassObject(registration);
    registration = 0;
}

#include "service.h"

#include "busy.h"
#include "trace.h"
#include "wia_ids.h"

namespace fotex {

HRESULT CreateDeviceManagerQuietly(IWiaDevMgr** manager) {
    if (manager == nullptr) return E_INVALIDARG;
    *manager = nullptr;
    HRESULT hr = CoCreateInstance(wia::CLSID_WiaDevMgr, nullptr, CLSCTX_LOCAL_SERVER,
                                  wia::IID_IWiaDevMgr, reinterpret_cast<void**>(manager));
    // Some marshalling paths leave the out-pointer set on failure; never hand it on.
    if (FAILED(hr)) *manager = nullptr;
    return hr;
}

HRESULT CreateDeviceManager(IWiaDevMgr** manager) {
    HRESULT hr = CreateDeviceManagerQuietly(manager);
    if (FAILED(hr) && manager != nullptr) TraceHresult("CoCreateInstance failed on CLSID_WiaDevMgr", hr);
    return hr;
}

HRESULT QueryPropertyStorage(IWiaItem* item, ComPtr<IWiaPropertyStorage>& storage) {
    const HRESULT hr = Retrying(
        [&] { return storage.receive(item->QueryInterface(wia::IID_IWiaPropertyStorage, storage.put_void())); });
    if (SUCCEEDED(hr) && !storage) return E_NOINTERFACE;
    return hr;
}

int ServiceStatus(HRESULT hr) {
    switch (static_cast<int>(hr)) {
    case FOTEX_E_HANDLE:
    case FOTEX_E_POINTER:
    case FOTEX_E_INVALIDARG:
    case FOTEX_E_BOUNDS:
    case FOTEX_E_INSUFFICIENT_BUFFER:
    case FOTEX_E_MORE_DATA:
        return FOTEX_E_SERVICE_FAILED;
    case static_cast<int>(0x800706BA):  // RPC_S_SERVER_UNAVAILABLE
    case static_cast<int>(0x800706BE):  // RPC_S_CALL_FAILED
    case static_cast<int>(0x800706BF):  // RPC_S_CALL_FAILED_DNE
    case static_cast<int>(0x800401FD):  // CO_E_OBJNOTCONNECTED
    case FOTEX_E_DISCONNECTED:          // RPC_E_DISCONNECTED
        return FOTEX_E_DISCONNECTED;
    default:
        return hr;
    }
}

bool ReleaseUnlessProxy(IUnknown* object) {
    if (object == nullptr) return false;
    // A standard proxy's manager answers IClientSecurity itself, calling nobody; objects of
    // this process do not have it.
    IClientSecurity* security = nullptr;
    if (SUCCEEDED(object->QueryInterface(IID_IClientSecurity, reinterpret_cast<void**>(&security))) &&
        security != nullptr) {
        security->Release();  // ours is still held: this one only counts down
        return true;
    }
    object->Release();
    return false;
}

}  // namespace fotex

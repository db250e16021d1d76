#include "service.h"

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
    const HRESULT hr = storage.receive(item->QueryInterface(wia::IID_IWiaPropertyStorage, storage.put_void()));
    if (SUCCEEDED(hr) && !storage) return E_NOINTERFACE;
    return hr;
}

}  // namespace fotex

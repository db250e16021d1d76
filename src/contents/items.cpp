// Item handles beyond the list: found by full name, deleted, given back.
#include "com.h"
#include "conditions.h"
#include "contents.h"
#include "fotex.h"
#include "handles.h"
#include "service.h"

using namespace fotex;

extern "C" int FOTEX_CALL FindCameraItem(FOTEX_DEVICE device, const wchar_t* fullName, FOTEX_ITEM* item) {
    if (device == 0) return FOTEX_E_HANDLE;
    if (fullName == nullptr || item == nullptr) return FOTEX_E_POINTER;
    Bstr name(fullName);
    if (!name) return E_OUTOFMEMORY;
    ComPtr<IWiaItem> found;
    const HRESULT hr = OnDevice(device, [&](IWiaItem* root) {
        return Retrying([&] { return found.receive(root->FindItemByName(0, name.get(), found.put())); });
    });
    if (FAILED(hr)) return ServiceStatus(hr);
    // The service answers S_FALSE for a name it does not know.
    if (hr != S_OK || !found) return FOTEX_E_NOT_FOUND;
    *item = HandleFromItem(found.detach());
    return FOTEX_OK;
}

extern "C" int FOTEX_CALL DeleteCameraItem(FOTEX_ITEM item) {
    if (item == 0) return FOTEX_E_HANDLE;
    const ComPtr<IWiaItem> picture = HoldHandle(item);
    ForgetKeptRead(picture.get());
    const HRESULT hr = Retrying([&] { return picture->DeleteItem(0); });
    return SUCCEEDED(hr) ? FOTEX_OK : ServiceStatus(hr);
}

extern "C" void FOTEX_CALL ReleaseCameraItem(FOTEX_ITEM* item) {
    if (item == nullptr || *item == 0) return;
    IWiaItem* picture = ItemFromHandle(*item);
    *item = 0;
    ReleaseHandle(picture);  // its list goes with it
}

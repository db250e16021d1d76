// Device handles: the root item of an open device, owned by the host between open and close.
#include "com.h"
#include "conditions.h"
#include "device_list.h"
#include "fotex.h"
#include "handles.h"
#include "service.h"

using namespace fotex;

extern "C" int FOTEX_CALL OpenWiaDevice(int index, FOTEX_DEVICE* device) {
    ComPtr<IWiaDevMgr> manager;
    if (FAILED(CreateDeviceManager(manager.put())) || !manager) return FOTEX_OPEN_NO_MANAGER;

    const uint32_t position = static_cast<uint32_t>(index);
    if (position >= Devices().count()) return FOTEX_OPEN_BAD_INDEX;
    if (device == nullptr) return FOTEX_OPEN_NULL;

    *device = 0;
    // The field is zero-terminated within its width, so the string is the stored text.
    Bstr id(Devices().at(position).id);
    if (!id) return FOTEX_OK;

    ComPtr<IWiaItem> root;
    if (FAILED(Retrying([&] { return root.receive(manager->CreateDevice(id.get(), root.put())); }))) return FOTEX_OK;
    // Without its id kept the handle still works; it only cannot be reconnected.
    RememberDevice(root.get(), id);
    *device = HandleFromItem(root.detach());
    return FOTEX_OK;
}

extern "C" void FOTEX_CALL CloseWiaDevice(FOTEX_DEVICE* device) {
    if (device == nullptr || *device == 0) return;
    IWiaItem* root = ItemFromHandle(*device);
    *device = 0;
    ForgetDevice(root);   // with the root a reconnect put in its place
    ReleaseHandle(root);  // its item list goes with it
}

// The cost of a camera's conditions on a call that never meets one: the same property read with
// each service call going through the busy retry and the device call through the reconnect
// watch, against the bare calls, on the same virtual camera in this process.
#include <windows.h>
#include <objbase.h>
#include <wia.h>

#include <cstdio>

#include "conditions.h"
#include "fotexsim.h"
#include "service.h"
#include "support.h"
#include "wia_ids.h"

using namespace fotexbench;
namespace wia = fotex::wia;

namespace {

constexpr PROPID kFlashMode = 2056;

// HandReadInt's read, each service call through the busy retry and the whole through the watch.
int GuardedRead(FOTEX_DEVICE device, int* out) {
    return fotex::OnDevice(device, [&](IWiaItem* root) {
        IWiaPropertyStorage* storage = nullptr;
        if (FAILED(fotex::Retrying([&] {
                return root->QueryInterface(wia::IID_IWiaPropertyStorage, reinterpret_cast<void**>(&storage));
            })))
            return -2;
        PROPSPEC selector{};
        selector.ulKind = PRSPEC_PROPID;
        selector.propid = kFlashMode;
        PROPVARIANT value;
        PropVariantInit(&value);
        const int status = fotex::Retrying([&] { return storage->ReadMultiple(1, &selector, &value); }) == S_OK ? 1 : -1;
        if (value.vt == VT_I4) *out = value.lVal;
        FreePropVariantArray(1, &value);
        storage->Release();
        return status;
    });
}

}  // namespace

int main() {
    CoInitialize(nullptr);
    fotexsim::Camera camera;
    if (!RegisterBenchCamera(camera)) return 2;
    fotex::ComPtr<IWiaDevMgr> manager;
    fotex::ComPtr<IWiaItem> root;
    fotex::Bstr id(L"bench-camera");
    if (FAILED(fotex::CreateDeviceManagerQuietly(manager.put())) || FAILED(manager->CreateDevice(id.get(), root.put()))) {
        std::printf("cannot open the virtual camera\n");
        return 2;
    }
    // Kept as OpenWiaDevice keeps it, so the watch looks it up as for a host's handle.
    fotex::RememberDevice(root.get(), id);
    const FOTEX_DEVICE device = fotex::HandleFromItem(root.get());

    Title("A camera's conditions: a read with the busy retry and the reconnect watch / the bare calls");
    int value = 0;
    const Paired p = Compare([&] { GuardedRead(device, &value); }, [&] { HandReadInt(root.get(), kFlashMode, &value); }, 41);
    Row("integer property read, never busy", Format("%.3f x (%.2f us / %.2f us)", p.ratio, p.a * 1e6, p.b * 1e6),
        "<= 1.02 x", p.ratio <= 1.02 ? 1 : 0);
    fotex::ForgetDevice(root.get());
    root.reset();
    manager.reset();
    camera.Revoke();
    CoUninitialize();
    return Verdict();
}

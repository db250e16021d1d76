// The event exports and the one registration and queue they share.
#include "conditions.h"
#include "events.h"
#include "fotex.h"
#include "service.h"

namespace {

fotex::CameraEvents g_events;

}  // namespace

namespace fotex {

bool UnloadCameraEvents() { return g_events.Unload(); }

}  // namespace fotex

extern "C" int FOTEX_CALL WaitForCameraEvent(int timeout_ms, int* kind, void* device_id, int device_id_bytes,
                                             void* item_name, int item_name_bytes) {
    // A device opened again after its service ended renews the registration, which ended too.
    fotex::SetReconnectListener([](HRESULT cause) {
        if (fotex::ServiceStatus(cause) == FOTEX_E_DISCONNECTED) g_events.Renew();
    });
    return g_events.Wait(timeout_ms, kind, device_id, device_id_bytes, item_name, item_name_bytes);
}

extern "C" void FOTEX_CALL StopCameraEvents(void) { g_events.Stop(); }

// FotexSim.dll: the default virtual camera for hosts that load Fotex.dll without a camera.
#include "fotexsim.h"
#include "fotexsim_api.h"

namespace {

// Lives until the process ends: objects a host still holds after revoking stay usable, and
// nothing COM-related may run from DllMain at unload.
fotexsim::Camera* g_camera = nullptr;
bool g_registered = false;

fotexsim::Camera& TheCamera() {
    if (!g_camera) {
        g_camera = new fotexsim::Camera();
        g_camera->LoadDefaultScenario();
    }
    return *g_camera;
}

}  // namespace

extern "C" int __cdecl FotexSimRegister(void) {
    if (g_registered) return 0;
    TheCamera();
    HRESULT hr = g_camera->Register();
    if (FAILED(hr)) return static_cast<int>(hr);
    g_registered = true;
    return 1;
}

extern "C" void __cdecl FotexSimRevoke(void) {
    if (!g_registered) return;
    g_camera->Revoke();
    g_registered = false;
}

extern "C" int __cdecl FotexSimAddFolderCamera(const wchar_t* folder, const wchar_t* name) {
    if (!folder) return static_cast<int>(E_POINTER);
    const HRESULT hr = TheCamera().AddFolderCamera(folder, name ? name : L"");
    return FAILED(hr) ? static_cast<int>(hr) : 1;
}

namespace {

bool Known(int camera) { return g_camera != nullptr && camera >= 0 && static_cast<size_t>(camera) < g_camera->devices.size(); }

}  // namespace

extern "C" int __cdecl FotexSimPressShutter(int camera) {
    return Known(camera) && g_camera->PressShutter(static_cast<size_t>(camera)) != nullptr ? 1 : 0;
}

extern "C" int __cdecl FotexSimUnplug(int camera) {
    return Known(camera) && g_camera->Unplug(static_cast<size_t>(camera)) ? 1 : 0;
}

extern "C" int __cdecl FotexSimPlugIn(int camera) {
    return Known(camera) && g_camera->PlugIn(static_cast<size_t>(camera)) ? 1 : 0;
}

extern "C" int __cdecl FotexSimSetTransferRate(int camera, int bytesPerSecond) {
    TheCamera();
    if (!Known(camera) || bytesPerSecond < 0) return 0;
    g_camera->devices[static_cast<size_t>(camera)].transferRate = bytesPerSecond;
    return 1;
}

extern "C" int __cdecl FotexSimPressShutterNamed(int camera, const wchar_t* name, const wchar_t* extension) {
    if (!name || !Known(camera)) return 0;
    const std::wstring ext = extension ? extension : L"";
    return g_camera->PressShutter(static_cast<size_t>(camera), name, extension ? &ext : nullptr) != nullptr ? 1 : 0;
}

extern "C" int __cdecl FotexSimSetEventMode(int camera, int mode, int value) {
    return Known(camera) && g_camera->SetEventMode(static_cast<size_t>(camera), mode, value) ? 1 : 0;
}

extern "C" int __cdecl FotexSimCutTransfer(int hresult, int nth) {
    if (!g_camera || nth < 1) return 0;
    g_camera->CutTransfer(static_cast<HRESULT>(hresult), nth);
    return 1;
}

extern "C" int __cdecl FotexSimFailDelete(int hresult, int nth) {
    if (!g_camera || nth < 1) return 0;
    g_camera->FailOn(fotexsim::Op::DeleteItem, static_cast<HRESULT>(hresult), nth);
    return 1;
}

extern "C" int __cdecl FotexSimSetCondition(int camera, int condition, int value) {
    if (!Known(camera) || condition < FOTEXSIM_BUSY_AFTER_SHOT || condition > FOTEXSIM_PLUG_IN_ANEW) return 0;
    return g_camera->SetCondition(static_cast<size_t>(camera), static_cast<fotexsim::Camera::Condition>(condition),
                                  value)
               ? 1
               : 0;
}

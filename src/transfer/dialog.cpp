// Acquisition dialog: the service's own dialog picks one picture and writes it to C:\kalto.jpg.
#include <cstdio>

#include "com.h"
#include "conditions.h"
#include "fotex.h"
#include "handles.h"
#include "service.h"
#include "wia_ids.h"

using namespace fotex;

extern "C" int FOTEX_CALL ImageTransferDialog(FOTEX_HANDLE parent, FOTEX_DEVICE device) {
    // The dialog is modal: the host's handlers run inside it and may close the device.
    const ComPtr<IWiaItem> root = HoldDevice(device);
    if (!root) return FOTEX_DIALOG_NO_DEVICE;

    ComPtr<IWiaDevMgr> manager;
    if (FAILED(CreateDeviceManager(manager.put())) || !manager) return FOTEX_DIALOG_NO_MANAGER;

    HRESULT hr = E_OUTOFMEMORY;
    Bstr fileName(L"C:\\kalto.jpg");
    if (fileName) {
        GUID format = wia::WiaImgFmt_JPEG;  // the dialog may write into it; ours is a copy
        hr = manager->GetImageDlg(reinterpret_cast<HWND>(static_cast<INT_PTR>(parent)),
                                  wia::kStiDeviceTypeDigitalCamera, wia::kDialogSingleImage,
                                  wia::kIntentColourMaximumQuality, root.get(), fileName.get(), &format);
    }
    if (hr == E_NOTIMPL) MessageBoxA(nullptr, "No UI is available", "Info", MB_ICONERROR);
    if (hr != S_OK) {
        char text[128];
        __ms_sprintf(text, "Open UI error: %8x\n", static_cast<unsigned>(hr));
        MessageBoxA(nullptr, text, "Info", MB_ICONERROR);
    }
    return FOTEX_OK;
}

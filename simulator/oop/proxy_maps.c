/* FotexSimPS.dll: proxies and stubs for the camera's interfaces that no system DLL marshals,
   and for the server's control interface. The proxy code is widl's; here are the mapping
   functions of the [local] methods and the DLL's class object and registration. */
#define COBJMACROS
#include <windows.h>
#include <ole2.h>

#include "wia_remote.h"
#include "fotexsim_control.h"

/* Enumerators: the caller may pass no count for a single element, which the remote form must
   have; the slots it did not get are cleared, as an in-process enumerator leaves them. */
HRESULT CALLBACK IEnumWiaItem_Next_Proxy(IEnumWiaItem *This, ULONG celt, IWiaItem **items, ULONG *fetched)
{
    ULONG got = 0, i;
    HRESULT hr;
    if (fetched) *fetched = 0;
    if (!items) return E_POINTER;
    if (celt > 1 && !fetched) return E_INVALIDARG;
    for (i = 0; i < celt; ++i) items[i] = NULL;
    hr = IEnumWiaItem_RemoteNext_Proxy(This, celt, items, &got);
    if (fetched) *fetched = got;
    return hr;
}

HRESULT __RPC_STUB IEnumWiaItem_Next_Stub(IEnumWiaItem *This, ULONG celt, IWiaItem **items, ULONG *fetched)
{
    *fetched = 0;
    return IEnumWiaItem_Next(This, celt, items, fetched);
}

HRESULT CALLBACK IEnumWIA_DEV_CAPS_Next_Proxy(IEnumWIA_DEV_CAPS *This, ULONG celt, WIA_DEV_CAP *caps, ULONG *fetched)
{
    ULONG got = 0;
    HRESULT hr;
    if (fetched) *fetched = 0;
    if (!caps) return E_POINTER;
    if (celt > 1 && !fetched) return E_INVALIDARG;
    memset(caps, 0, sizeof(*caps) * celt);
    hr = IEnumWIA_DEV_CAPS_RemoteNext_Proxy(This, celt, caps, &got);
    if (fetched) *fetched = got;
    return hr;
}

HRESULT __RPC_STUB IEnumWIA_DEV_CAPS_Next_Stub(IEnumWIA_DEV_CAPS *This, ULONG celt, WIA_DEV_CAP *caps, ULONG *fetched)
{
    *fetched = 0;
    return IEnumWIA_DEV_CAPS_Next(This, celt, caps, fetched);
}

HRESULT CALLBACK IWiaDataCallback_BandedDataCallback_Proxy(IWiaDataCallback *This, LONG message, LONG status,
                                                           LONG percent, LONG offset, LONG length, LONG reserved,
                                                           LONG bufferLength, BYTE *buffer)
{
    return IWiaDataCallback_RemoteBandedDataCallback_Proxy(This, message, status, percent, offset, length,
                                                           reserved, buffer ? bufferLength : 0, buffer);
}

HRESULT __RPC_STUB IWiaDataCallback_BandedDataCallback_Stub(IWiaDataCallback *This, LONG message, LONG status,
                                                            LONG percent, LONG offset, LONG length, LONG reserved,
                                                            LONG bufferLength, BYTE *buffer)
{
    return IWiaDataCallback_BandedDataCallback(This, message, status, percent, offset, length, reserved,
                                               bufferLength, buffer);
}

/* A file transfer: the service writes the file the client named. The service runs with another
   working directory, so a relative name goes in full as the client resolves it. The client's
   own medium is never handed to the marshaller: its name may live anywhere, and what comes back
   is unmarshalled into a copy. */
HRESULT CALLBACK IWiaDataTransfer_idtGetData_Proxy(IWiaDataTransfer *This, LPSTGMEDIUM medium,
                                                   IWiaDataCallback *callback)
{
    STGMEDIUM sent;
    WCHAR *full = NULL;
    HRESULT hr;
    if (!medium) return E_INVALIDARG;
    sent = *medium;
    sent.pUnkForRelease = NULL;
    if (medium->tymed == TYMED_FILE && medium->lpszFileName) {
        DWORD need = GetFullPathNameW(medium->lpszFileName, 0, NULL, NULL);
        if (need == 0) return HRESULT_FROM_WIN32(GetLastError());
        full = CoTaskMemAlloc(need * sizeof(WCHAR));
        if (!full) return E_OUTOFMEMORY;
        if (GetFullPathNameW(medium->lpszFileName, need, full, NULL) >= need) {
            CoTaskMemFree(full);
            return E_FAIL;
        }
        sent.lpszFileName = full;
    } else if (medium->tymed != TYMED_FILE && medium->tymed != TYMED_NULL) {
        /* Only files travel here; other media would hand the service handles of this process. */
        sent.tymed = TYMED_NULL;
    }
    hr = IWiaDataTransfer_idtGetDataEx_Proxy(This, &sent, callback);
    if (sent.tymed == TYMED_FILE && sent.lpszFileName != full) CoTaskMemFree(sent.lpszFileName);
    if (sent.tymed != TYMED_NULL && sent.pUnkForRelease) sent.pUnkForRelease->lpVtbl->Release(sent.pUnkForRelease);
    CoTaskMemFree(full);
    return hr;
}

/* After the call the stub frees the medium by ReleaseStgMedium, which deletes a named file that
   has no release object: the name is dropped first, so the file stays for the client. */
HRESULT __RPC_STUB IWiaDataTransfer_idtGetData_Stub(IWiaDataTransfer *This, LPSTGMEDIUM medium,
                                                    IWiaDataCallback *callback)
{
    HRESULT hr = IWiaDataTransfer_idtGetData(This, medium, callback);
    if (medium->tymed == TYMED_FILE && medium->lpszFileName && !medium->pUnkForRelease) {
        CoTaskMemFree(medium->lpszFileName);
        medium->lpszFileName = NULL;
    }
    return hr;
}

HRESULT CALLBACK IWiaDataTransfer_idtGetBandedData_Proxy(IWiaDataTransfer *This, PWIA_DATA_TRANSFER_INFO info,
                                                         IWiaDataCallback *callback)
{
    return IWiaDataTransfer_idtGetBandedDataEx_Proxy(This, info, callback);
}

HRESULT __RPC_STUB IWiaDataTransfer_idtGetBandedData_Stub(IWiaDataTransfer *This, PWIA_DATA_TRANSFER_INFO info,
                                                          IWiaDataCallback *callback)
{
    return IWiaDataTransfer_idtGetBandedData(This, info, callback);
}

/* The class object and registration, as widl's dlldata.c would make them for both files. */
#define PROXY_CLSID_IS { 0xAD8A4453, 0x3288, 0x4A29, { 0xBC, 0xB1, 0xFB, 0x77, 0xCD, 0x3B, 0xC6, 0x11 } }
#define REGISTER_PROXY_DLL
#include <rpcproxy.h>

extern const ExtendedProxyFileInfo wia_remote_ProxyFileInfo;
extern const ExtendedProxyFileInfo fotexsim_control_ProxyFileInfo;
static const ProxyFileInfo *proxy_files[] = {
    (const ProxyFileInfo *)&wia_remote_ProxyFileInfo,
    (const ProxyFileInfo *)&fotexsim_control_ProxyFileInfo,
    NULL,
};
DLLDATA_ROUTINES(proxy_files, GET_DLL_CLSID)

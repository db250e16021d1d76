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
/* The device manager and items: straight through, but for the pointers that the remote forms
   cannot carry as null. */
HRESULT CALLBACK IWiaDevMgr_CreateDevice_Proxy(IWiaDevMgr *This, BSTR id, IWiaItem **root)
{
    return IWiaDevMgr_LocalCreateDevice_Proxy(This, id, root);
}

HRESULT __RPC_STUB IWiaDevMgr_CreateDevice_Stub(IWiaDevMgr *This, BSTR id, IWiaItem **root)
{
    return IWiaDevMgr_CreateDevice(This, id, root);
}

HRESULT CALLBACK IWiaDevMgr_SelectDeviceDlg_Proxy(IWiaDevMgr *This, HWND parent, LONG type, LONG flags, BSTR *id,
                                                  IWiaItem **root)
{
    return IWiaDevMgr_LocalSelectDeviceDlg_Proxy(This, parent, type, flags, id, root);
}

HRESULT __RPC_STUB IWiaDevMgr_SelectDeviceDlg_Stub(IWiaDevMgr *This, HWND parent, LONG type, LONG flags, BSTR *id,
                                                   IWiaItem **root)
{
    return IWiaDevMgr_SelectDeviceDlg(This, parent, type, flags, id, root);
}

HRESULT CALLBACK IWiaDevMgr_SelectDeviceDlgID_Proxy(IWiaDevMgr *This, HWND parent, LONG type, LONG flags, BSTR *id)
{
    return IWiaDevMgr_LocalSelectDeviceDlgID_Proxy(This, parent, type, flags, id);
}

HRESULT __RPC_STUB IWiaDevMgr_SelectDeviceDlgID_Stub(IWiaDevMgr *This, HWND parent, LONG type, LONG flags, BSTR *id)
{
    return IWiaDevMgr_SelectDeviceDlgID(This, parent, type, flags, id);
}

HRESULT CALLBACK IWiaDevMgr_GetImageDlg_Proxy(IWiaDevMgr *This, HWND parent, LONG type, LONG flags, LONG intent,
                                              IWiaItem *root, BSTR file, GUID *format)
{
    return IWiaDevMgr_LocalGetImageDlg_Proxy(This, parent, type, flags, intent, root, file, format);
}

HRESULT __RPC_STUB IWiaDevMgr_GetImageDlg_Stub(IWiaDevMgr *This, HWND parent, LONG type, LONG flags, LONG intent,
                                               IWiaItem *root, BSTR file, GUID *format)
{
    return IWiaDevMgr_GetImageDlg(This, parent, type, flags, intent, root, file, format);
}

HRESULT CALLBACK IWiaDevMgr_RegisterEventCallbackProgram_Proxy(IWiaDevMgr *This, LONG flags, BSTR id,
                                                               const GUID *event, BSTR command, BSTR name,
                                                               BSTR description, BSTR icon)
{
    return IWiaDevMgr_LocalRegisterEventCallbackProgram_Proxy(This, flags, id, event, command, name, description,
                                                              icon);
}

HRESULT __RPC_STUB IWiaDevMgr_RegisterEventCallbackProgram_Stub(IWiaDevMgr *This, LONG flags, BSTR id,
                                                                const GUID *event, BSTR command, BSTR name,
                                                                BSTR description, BSTR icon)
{
    return IWiaDevMgr_RegisterEventCallbackProgram(This, flags, id, event, command, name, description, icon);
}

HRESULT CALLBACK IWiaDevMgr_RegisterEventCallbackInterface_Proxy(IWiaDevMgr *This, LONG flags, BSTR id,
                                                                 const GUID *event, IWiaEventCallback *callback,
                                                                 IUnknown **registration)
{
    if (!registration) return E_POINTER;
    return IWiaDevMgr_LocalRegisterEventCallbackInterface_Proxy(This, flags, id, event, callback, registration);
}

HRESULT __RPC_STUB IWiaDevMgr_RegisterEventCallbackInterface_Stub(IWiaDevMgr *This, LONG flags, BSTR id,
                                                                  const GUID *event, IWiaEventCallback *callback,
                                                                  IUnknown **registration)
{
    return IWiaDevMgr_RegisterEventCallbackInterface(This, flags, id, event, callback, registration);
}

HRESULT CALLBACK IWiaDevMgr_RegisterEventCallbackCLSID_Proxy(IWiaDevMgr *This, LONG flags, BSTR id,
                                                             const GUID *event, const GUID *clsid, BSTR name,
                                                             BSTR description, BSTR icon)
{
    return IWiaDevMgr_LocalRegisterEventCallbackCLSID_Proxy(This, flags, id, event, clsid, name, description, icon);
}

HRESULT __RPC_STUB IWiaDevMgr_RegisterEventCallbackCLSID_Stub(IWiaDevMgr *This, LONG flags, BSTR id,
                                                              const GUID *event, const GUID *clsid, BSTR name,
                                                              BSTR description, BSTR icon)
{
    return IWiaDevMgr_RegisterEventCallbackCLSID(This, flags, id, event, clsid, name, description, icon);
}

HRESULT CALLBACK IWiaItem_DeviceDlg_Proxy(IWiaItem *This, HWND parent, LONG flags, LONG intent, LONG *count,
                                          IWiaItem ***items)
{
    if (!count || !items) return E_POINTER;
    return IWiaItem_LocalDeviceDlg_Proxy(This, parent, flags, intent, count, items);
}

HRESULT __RPC_STUB IWiaItem_DeviceDlg_Stub(IWiaItem *This, HWND parent, LONG flags, LONG intent, LONG *count,
                                           IWiaItem ***items)
{
    *count = 0;
    *items = NULL;
    return IWiaItem_DeviceDlg(This, parent, flags, intent, count, items);
}

HRESULT CALLBACK IWiaPropertyStorage_WriteMultiple_Proxy(IWiaPropertyStorage *This, ULONG count, const PROPSPEC specs[],
                                                        const PROPVARIANT values[], PROPID nameFirst)
{
    return IWiaPropertyStorage_RemoteWriteMultiple_Proxy(This, count, specs, values, nameFirst);
}

HRESULT __RPC_STUB IWiaPropertyStorage_WriteMultiple_Stub(IWiaPropertyStorage *This, ULONG count, const PROPSPEC *specs,
                                                         const PROPVARIANT *values, PROPID nameFirst)
{
    return IWiaPropertyStorage_WriteMultiple(This, count, specs, values, nameFirst);
}

HRESULT CALLBACK IWiaPropertyStorage_SetPropertyStream_Proxy(IWiaPropertyStorage *This, GUID *id, IStream *stream)
{
    return IWiaPropertyStorage_RemoteSetPropertyStream_Proxy(This, id, stream);
}

HRESULT __RPC_STUB IWiaPropertyStorage_SetPropertyStream_Stub(IWiaPropertyStorage *This, GUID *id, IStream *stream)
{
    return IWiaPropertyStorage_SetPropertyStream(This, id, stream);
}

HRESULT CALLBACK IEnumWIA_DEV_INFO_Next_Proxy(IEnumWIA_DEV_INFO *This, ULONG celt, IWiaPropertyStorage **storages,
                                              ULONG *fetched)
{
    ULONG got = 0, i;
    HRESULT hr;
    if (fetched) *fetched = 0;
    if (!storages) return E_POINTER;
    if (celt > 1 && !fetched) return E_INVALIDARG;
    for (i = 0; i < celt; ++i) storages[i] = NULL;
    hr = IEnumWIA_DEV_INFO_RemoteNext_Proxy(This, celt, storages, &got);
    if (fetched) *fetched = got;
    return hr;
}

HRESULT __RPC_STUB IEnumWIA_DEV_INFO_Next_Stub(IEnumWIA_DEV_INFO *This, ULONG celt, IWiaPropertyStorage **storages,
                                               ULONG *fetched)
{
    *fetched = 0;
    return IEnumWIA_DEV_INFO_Next(This, celt, storages, fetched);
}

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

/* Media on the wire. Wine 8's ole32 writes a file name's characters but leaves them out of the
   length it reports, so the name never arrives. These routines write the same wire form (the
   medium type, the arm's and the release object's pointer ids, then the name as a conformant
   varying string) for the null and file media, and leave every other medium to ole32. A
   release object never travels here: the proxy clears it. */
typedef ULONG(__RPC_USER *medium_size_fn)(ULONG *, ULONG, STGMEDIUM *);
typedef unsigned char *(__RPC_USER *medium_move_fn)(ULONG *, unsigned char *, STGMEDIUM *);
typedef void(__RPC_USER *medium_free_fn)(ULONG *, STGMEDIUM *);

static void *ole32_routine(const char *name)
{
    return (void *)GetProcAddress(GetModuleHandleW(L"ole32.dll"), name);
}

static int ours(const STGMEDIUM *m)
{
    return (m->tymed == TYMED_NULL || m->tymed == TYMED_FILE) && !m->pUnkForRelease;
}

static ULONG align4(ULONG n) { return (n + 3) & ~3u; }
static unsigned char *align_ptr(unsigned char *p) { return (unsigned char *)(((ULONG_PTR)p + 3) & ~(ULONG_PTR)3); }

ULONG __RPC_USER STGMEDIUM_UserSize(ULONG *flags, ULONG start, STGMEDIUM *m)
{
    if (!ours(m)) return ((medium_size_fn)ole32_routine("STGMEDIUM_UserSize"))(flags, start, m);
    start = align4(start) + 4 + (m->tymed != TYMED_NULL ? 4 : 0) + 4;
    if (m->tymed == TYMED_FILE && m->lpszFileName)
        start = align4(start) + 12 + (ULONG)(lstrlenW(m->lpszFileName) + 1) * sizeof(WCHAR);
    return start;
}

unsigned char *__RPC_USER STGMEDIUM_UserMarshal(ULONG *flags, unsigned char *p, STGMEDIUM *m)
{
    ULONG chars;
    if (!ours(m)) return ((medium_move_fn)ole32_routine("STGMEDIUM_UserMarshal"))(flags, p, m);
    p = align_ptr(p);
    *(DWORD *)p = m->tymed, p += 4;
    if (m->tymed != TYMED_NULL) *(DWORD *)p = m->lpszFileName ? 0x20000 : 0, p += 4;
    *(DWORD *)p = 0, p += 4;
    if (m->tymed != TYMED_FILE || !m->lpszFileName) return p;
    chars = (ULONG)lstrlenW(m->lpszFileName) + 1;
    p = align_ptr(p);
    *(DWORD *)p = chars, p += 4;
    *(DWORD *)p = 0, p += 4;
    *(DWORD *)p = chars, p += 4;
    memcpy(p, m->lpszFileName, chars * sizeof(WCHAR));
    return p + chars * sizeof(WCHAR);
}

unsigned char *__RPC_USER STGMEDIUM_UserUnmarshal(ULONG *flags, unsigned char *p, STGMEDIUM *m)
{
    unsigned char *q = align_ptr(p);
    DWORD tymed = *(DWORD *)q, content = 0, unk, chars, offset, variance;
    WCHAR *name;
    if (tymed != TYMED_NULL && tymed != TYMED_FILE)
        return ((medium_move_fn)ole32_routine("STGMEDIUM_UserUnmarshal"))(flags, p, m);
    q += 4;
    if (tymed != TYMED_NULL) content = *(DWORD *)q, q += 4;
    unk = *(DWORD *)q, q += 4;
    if (unk) RpcRaiseException(RPC_X_BAD_STUB_DATA);
    m->tymed = tymed;
    m->lpszFileName = NULL;
    m->pUnkForRelease = NULL;
    if (tymed != TYMED_FILE || !content) return q;
    q = align_ptr(q);
    chars = *(DWORD *)q, q += 4;
    offset = *(DWORD *)q, q += 4;
    variance = *(DWORD *)q, q += 4;
    if (offset != 0 || chars != variance || chars == 0 || chars > 0x10000) RpcRaiseException(RPC_X_BAD_STUB_DATA);
    name = CoTaskMemAlloc(chars * sizeof(WCHAR));
    if (!name) RpcRaiseException(E_OUTOFMEMORY);
    memcpy(name, q, chars * sizeof(WCHAR));
    name[chars - 1] = 0;
    m->lpszFileName = name;
    return q + chars * sizeof(WCHAR);
}

/* Frees what unmarshalling made; never deletes the named file as ReleaseStgMedium would. */
void __RPC_USER STGMEDIUM_UserFree(ULONG *flags, STGMEDIUM *m)
{
    if (!ours(m)) {
        ((medium_free_fn)ole32_routine("STGMEDIUM_UserFree"))(flags, m);
        return;
    }
    if (m->tymed == TYMED_FILE) CoTaskMemFree(m->lpszFileName);
    m->lpszFileName = NULL;
    m->tymed = TYMED_NULL;
}

/* A file transfer: the service writes the file the client named. The record crosses as ole32
   sends it (TYMED_NULL as its type alone, so a name set in such a record stays behind). The
   service runs with another working directory, so a relative name goes in full as the client
   resolves it. The client's own medium is never handed to the marshaller: its name may live
   anywhere, and what comes back is unmarshalled into a copy. */
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
    } else if (medium->tymed != TYMED_FILE) {
        /* Only files travel here; other media would hand the service handles of this process. */
        sent.tymed = TYMED_NULL;
        sent.lpszFileName = NULL;
    }
    hr = IWiaDataTransfer_idtGetDataEx_Proxy(This, &sent, callback);
    /* What comes back is the service's copy; the client's record keeps its own name. */
    if (sent.tymed == TYMED_FILE && sent.lpszFileName != full) CoTaskMemFree(sent.lpszFileName);
    if (sent.tymed != TYMED_NULL && sent.pUnkForRelease) sent.pUnkForRelease->lpVtbl->Release(sent.pUnkForRelease);
    CoTaskMemFree(full);
    return hr;
}

/* After the call the stub frees the medium; should that reach ReleaseStgMedium (a medium that
   ole32 marshals), a named file without a release object would be deleted. The name is dropped
   first, so the file stays for the client whichever routine frees. */
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

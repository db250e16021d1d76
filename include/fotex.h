/*
 * fotex.h: the interface of Fotex.dll, control of the digital cameras attached to a PC through
 * the Windows Image Acquisition service.
 *
 * Conventions, for every function below:
 * - Plain C functions, cdecl calling convention, exported under these undecorated names.
 * - Integers are 32 bits. Handles are 32 bits in the 32-bit DLL and pointer-sized in the
 *   64-bit DLL (FOTEX_HANDLE).
 * - Every buffer belongs to the caller; the library writes into it only during the call.
 * - Call the functions from the thread that loaded the DLL, one at a time: the DLL joins that
 *   thread to a single-threaded COM apartment when it is loaded.
 * - Most functions return a status: 1 for success, 0 or a negative code for failure.
 * - Failing service calls on the enumeration and transfer paths print one line on standard
 *   output: "message: HRESULT: 0x%08X" (or the message alone).
 * - Text from the caller is NUL-terminated ANSI (the system code page); text to the caller is
 *   UTF-16LE, at most 128 bytes, in a buffer of at least 128 bytes.
 */
#ifndef FOTEX_H
#define FOTEX_H

#ifdef __cplusplus
extern "C" {
#endif

#ifndef FOTEX_CALL
#define FOTEX_CALL __cdecl
#endif

/* An open device (DeviceHandle) or a camera item (ItemHandle): the interface pointer of the
   service object, holding one reference that belongs to the caller; 0 means none. */
#if defined(_WIN64)
typedef __int64 FOTEX_HANDLE;
#else
typedef long FOTEX_HANDLE;
#endif
typedef FOTEX_HANDLE FOTEX_DEVICE;
typedef FOTEX_HANDLE FOTEX_ITEM;

/* Size in bytes of every buffer that receives UTF-16 text (device identity, property text). */
#define FOTEX_TEXT_BYTES 128
/* Size in bytes of each of the three buffers of VexaVersionInfo. */
#define FOTEX_VERSION_BYTES 10

/* ---- Version ------------------------------------------------------------------------------ */

/* Writes "Fotex 1.3" into `product`, the file version "1.3.0.0" into `file_version` and the
   build's architecture, "x86" or "x64", into `architecture`: NUL-terminated ANSI, each buffer at
   least FOTEX_VERSION_BYTES bytes. A null pointer is skipped. Needs no device. */
void FOTEX_CALL VexaVersionInfo(char* product, char* file_version, char* architecture);

/* ---- Device directory --------------------------------------------------------------------- */

/* Lists the local image-acquisition devices anew and writes how many were listed to *count
   (skipped when count is null). Indexes 0 to *count - 1 are then valid for GetWiaDeviceInfo and
   OpenWiaDevice, until the next enumeration.
   Returns 1 done; -1 the service failed (the count is written when the failure came part-way,
   with the devices listed before it); -2 the device manager could not be created (the list and
   *count are unchanged). Traces each failing service call. */
int FOTEX_CALL EnumerateWiaDevices(int* count);

/* Copies the identifier, name and description of the listed device at `index` into three
   buffers of at least FOTEX_TEXT_BYTES bytes each: raw UTF-16LE, at most 64 code units, zero
   filled to 128 bytes; a text of 64 units or more arrives without terminator. A null buffer is
   skipped. An index out of range prints "Device index overflow" and touches no buffer. */
void FOTEX_CALL GetWiaDeviceInfo(int index, void* id, void* name, void* description);

/* ---- Device handles ----------------------------------------------------------------------- */

/* Opens the listed device at `index` and stores its handle in *device. Every call opens anew:
   each handle is closed once, with CloseWiaDevice.
   Returns 1 asked (*device is 0 when the service could not open the device); -1 the device
   manager could not be created; -2 index out of range; -3 device is null. On -1, -2 and -3
   *device is unchanged. */
int FOTEX_CALL OpenWiaDevice(int index, FOTEX_DEVICE* device);

/* Releases the handle in *device and sets *device to 0. Does nothing when *device is 0 or
   device is null. */
void FOTEX_CALL CloseWiaDevice(FOTEX_DEVICE* device);

#ifdef __cplusplus
}
#endif

#endif /* FOTEX_H */

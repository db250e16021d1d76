/*
 * fotex.h: the interface of Fotex.dll 1.3, control of the digital cameras attached to a PC
 * through the Windows Image Acquisition (WIA) service.
 *
 * Read top to bottom: conventions, types, constants, then the functions by family in the order
 * a host calls them. docs/host-guide.md has the same calling sequence with examples, and the
 * declarations for C#, Python (ctypes) and LabVIEW.
 *
 * Conventions, for every function below:
 * - Plain C functions, cdecl calling convention (the caller cleans the stack), exported under
 *   these undecorated names from both the 32-bit and the 64-bit DLL.
 * - Integers are 32 bits. Handles are 32 bits in the 32-bit DLL and pointer-sized in the
 *   64-bit DLL (FOTEX_HANDLE).
 * - Every buffer belongs to the caller; the library writes into it only during the call.
 * - Call the functions from the thread that loaded the DLL, one at a time: the DLL joins that
 *   thread to a single-threaded COM apartment when it is loaded (and leaves it when unloaded,
 *   only if loading joined it and the unload left no object of the service's process there: a
 *   thread already in COM keeps its own set-up; when the process exits with the DLL loaded, it
 *   releases nothing and leaves COM alone). A call from any
 *   other thread that has not joined COM itself fails where it needs the service's device
 *   manager, printing "CoCreateInstance failed on CLSID_WiaDevMgr: HRESULT: 0x800401F0"
 *   (CO_E_NOTINITIALIZED): EnumerateWiaDevices returns FOTEX_ENUM_NO_MANAGER (-2),
 *   OpenWiaDevice FOTEX_OPEN_NO_MANAGER (-1), ImageTransferDialog FOTEX_DIALOG_NO_MANAGER (-2).
 *   A .NET host marks its entry point [STAThread] and makes its first call (which loads the DLL)
 *   on the thread that makes all calls; LabVIEW's "Run in UI thread" call setting gives one
 *   thread.
 * - A call that reaches the service can run the thread's message handlers before it returns
 *   (COM handles the thread's messages while it waits for the service; WaitForCameraEvent
 *   dispatches them). Never unload the DLL (FreeLibrary) from a handler that runs inside a
 *   Fotex call: that call would return into code no longer there.
 * - Most functions return a status: FOTEX_OK (1) for success, 0 or a negative code for failure;
 *   the codes are listed per function, with named constants below.
 * - Failing service calls on the enumeration and transfer paths print one line on standard
 *   output: "message: HRESULT: 0x%08X" (or the message alone). The settings and the device
 *   commands print nothing.
 * - Text from the caller is NUL-terminated ANSI (the system code page); text to the caller is
 *   UTF-16LE, at most 128 bytes, in a buffer of at least FOTEX_TEXT_BYTES (128) bytes. The
 *   camera contents, setting choices, camera events and settings-by-id functions at the end
 *   differ: UTF-16 both ways, statuses as HRESULTs, any length (see their sections).
 *
 * The header is C89 and C++; in C it includes <stddef.h> for wchar_t and nothing else (include
 * <windows.h> before or after it, or not at all).
 */
#ifndef FOTEX_H
#define FOTEX_H

#ifndef __cplusplus
#include <stddef.h>
#endif

#ifdef __cplusplus
extern "C" {
#endif

#ifndef FOTEX_CALL
#define FOTEX_CALL __cdecl
#endif

/* ---- Types -------------------------------------------------------------------------------- */

/* An open device (FOTEX_DEVICE) or a camera item (FOTEX_ITEM): the interface pointer of the
   service object, holding one reference that belongs to the caller; 0 means none. A device
   handle comes from OpenWiaDevice and goes back through CloseWiaDevice; an item handle comes
   from TakeAPicture (or OpenCameraItem, FindCameraItem) and goes back through TransferPicture
   (or ReleaseCameraItem). */
#if defined(_WIN64) && defined(_MSC_VER) && !defined(__clang__)
typedef __int64 FOTEX_HANDLE;
#elif defined(_WIN64)
/* long long is not C89 nor C++98, but the 64-bit handle needs it; clang reads these pragmas too,
   and warns of __int64 as an extension under -pedantic */
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wlong-long"
typedef long long FOTEX_HANDLE;
#pragma GCC diagnostic pop
#else
typedef long FOTEX_HANDLE;
#endif
typedef FOTEX_HANDLE FOTEX_DEVICE;
typedef FOTEX_HANDLE FOTEX_ITEM;

/* ---- Sizes -------------------------------------------------------------------------------- */

/* Size in bytes of every buffer that receives UTF-16 text (device identity, property text). */
#define FOTEX_TEXT_BYTES 128
/* Size in bytes of each of the three buffers of VexaVersionInfo. */
#define FOTEX_VERSION_BYTES 10
/* Room a file-name buffer needs beyond the name: the longest extension and the terminator. */
#define FOTEX_EXTENSION_ROOM 6
/* Longest complete file name a transfer accepts, in UTF-16 units. */
#define FOTEX_MAX_FILE_NAME 127

/* ---- Status codes ------------------------------------------------------------------------- */

/* Success, for every function that returns a status. */
#define FOTEX_OK 1

/* Camera settings (Get... / Set...) and GetStorageInfo. */
#define FOTEX_ERR_REFUSED (-1)    /* the camera refused the read or write, or bad argument */
#define FOTEX_ERR_NO_STORAGE (-2) /* the handle yields no property storage */
#define FOTEX_ERR_NO_DEVICE (-3)  /* the device handle is 0 */

/* EnumerateWiaDevices. */
#define FOTEX_ENUM_SERVICE_FAILED (-1) /* the service failed part-way */
#define FOTEX_ENUM_NO_MANAGER (-2)     /* the device manager could not be created */

/* OpenWiaDevice. */
#define FOTEX_OPEN_NO_MANAGER (-1) /* the device manager could not be created */
#define FOTEX_OPEN_BAD_INDEX (-2)  /* the index is not in the device list */
#define FOTEX_OPEN_NULL (-3)       /* the pointer for the handle is null */

/* EnumDeviceCap: a count of 0 or more on success. */
#define FOTEX_CAP_ASK_FAILED (-2)   /* the capabilities could not be asked for */
#define FOTEX_CAP_RESET_FAILED (-1) /* the capability list could not be reset */
#define FOTEX_CAP_COUNT_FAILED (-4) /* the capability list could not be counted */
#define FOTEX_CAP_NO_LIST (-5)      /* the device gave no capability list */
#define FOTEX_CAP_READ_FAILED (-6)  /* a capability could not be read */
/* and FOTEX_ERR_NO_DEVICE (-3) when the device handle is 0 */

/* ImageTransferDialog. */
#define FOTEX_DIALOG_NO_DEVICE (-1)  /* the device handle is 0 */
#define FOTEX_DIALOG_NO_MANAGER (-2) /* the device manager could not be created */

/* ---- Transfer formats --------------------------------------------------------------------- */

/* Format codes of TransferPicture and TransferAllImages, with the extension each appends to the
   caller's name. Every other code transfers JPEG and appends nothing. */
#define FOTEX_FORMAT_BMP 0       /* .bmp */
#define FOTEX_FORMAT_EMF 1       /* .emf */
#define FOTEX_FORMAT_WMF 2       /* .wmf */
#define FOTEX_FORMAT_JPEG 3      /* .jpg */
#define FOTEX_FORMAT_PNG 4       /* .png */
#define FOTEX_FORMAT_GIF 5       /* .gif */
#define FOTEX_FORMAT_TIFF 6      /* .tiff */
#define FOTEX_FORMAT_EXIF 7      /* .exif */
#define FOTEX_FORMAT_PHOTOCD 8   /* .pcd */
#define FOTEX_FORMAT_FLASHPIX 9  /* .fpix */
#define FOTEX_FORMAT_ICO 10      /* .ico */
#define FOTEX_FORMAT_CIFF 11     /* .ciff */
#define FOTEX_FORMAT_PICT 12     /* .pict */
#define FOTEX_FORMAT_JPEG2K 13   /* JPEG 2000, .jpg */
#define FOTEX_FORMAT_JPEG2KX 14  /* JPEG 2000 (JPX), .jpg */
#define FOTEX_FORMAT_RAWRGB 15   /* raw RGB, .raw */
#define FOTEX_FORMAT_AVI 128     /* .avi */
#define FOTEX_FORMAT_MPG 129     /* .mpg */
/* The item's own format, the one the camera stores it in (its preferred format, with its own
   file name extension): taken by SaveCameraItem, SaveCameraItemWithProgress and ReadCameraItem.
   TransferPicture and TransferAllImages keep the table above, where 256 is an unlisted code. */
#define FOTEX_FORMAT_NATIVE 256
/* What FOTEX_ITEM_FORMAT says of an item whose own format the table above lacks. */
#define FOTEX_FORMAT_NONE (-1)

/* The delete flag of TransferPicture and TransferAllImages: only exactly 1 deletes. */
#define FOTEX_KEEP 0
#define FOTEX_DELETE_AFTER_TRANSFER 1

/* ---- Item types --------------------------------------------------------------------------- */

/* The service's item-type flags that TransferAllImages looks at while it walks the camera:
   images and videos are transferred (an item flagged both, twice), folders and items with
   attachments are walked into. */
#define FOTEX_ITEM_IMAGE 0x00000001L
#define FOTEX_ITEM_FOLDER 0x00000004L
#define FOTEX_ITEM_HAS_ATTACHMENTS 0x00008000L
#define FOTEX_ITEM_VIDEO 0x00010000L

/* ---- Camera property ids ------------------------------------------------------------------ */

/* The service's camera property ids (WIA_DPC_*). Each settings function below names the one it
   reads or writes; 2050 and 2051 are read by GetStorageInfo; four have no function. */
#define FOTEX_PROP_PICTURES_TAKEN 2050
#define FOTEX_PROP_PICTURES_REMAINING 2051
#define FOTEX_PROP_EXPOSURE_MODE 2052
#define FOTEX_PROP_EXPOSURE_COMP 2053
#define FOTEX_PROP_EXPOSURE_TIME 2054
#define FOTEX_PROP_FNUMBER 2055
#define FOTEX_PROP_FLASH_MODE 2056
#define FOTEX_PROP_FOCUS_MODE 2057
#define FOTEX_PROP_FOCUS_MANUAL_DIST 2058 /* no function */
#define FOTEX_PROP_ZOOM_POSITION 2059     /* no function */
#define FOTEX_PROP_PAN_POSITION 2060
#define FOTEX_PROP_TILT_POSITION 2061
#define FOTEX_PROP_TIMER_MODE 2062
#define FOTEX_PROP_TIMER_VALUE 2063
#define FOTEX_PROP_POWER_MODE 2064
#define FOTEX_PROP_BATTERY_STATUS 2065
#define FOTEX_PROP_THUMB_WIDTH 2066
#define FOTEX_PROP_THUMB_HEIGHT 2067
#define FOTEX_PROP_PICT_WIDTH 2068
#define FOTEX_PROP_PICT_HEIGHT 2069
#define FOTEX_PROP_DIMENSION 2070 /* no function */
#define FOTEX_PROP_COMPRESSION_SETTING 2071
#define FOTEX_PROP_FOCUS_METERING 2072 /* no function */
#define FOTEX_PROP_TIMELAPSE_INTERVAL 2073
#define FOTEX_PROP_TIMELAPSE_NUMBER 2074
#define FOTEX_PROP_BURST_INTERVAL 2075
#define FOTEX_PROP_BURST_NUMBER 2076
#define FOTEX_PROP_EFFECT_MODE 2077
#define FOTEX_PROP_DIGITAL_ZOOM 2078
#define FOTEX_PROP_SHARPNESS 2079
#define FOTEX_PROP_CONTRAST 2080
#define FOTEX_PROP_CAPTURE_MODE 2081
#define FOTEX_PROP_CAPTURE_DELAY 2082
#define FOTEX_PROP_EXPOSURE_INDEX 2083
#define FOTEX_PROP_EXPOSURE_METERING_MODE 2084
#define FOTEX_PROP_FOCUS_METERING_MODE 2085
#define FOTEX_PROP_FOCUS_DISTANCE 2086
#define FOTEX_PROP_FOCAL_LENGTH 2087
#define FOTEX_PROP_RGB_GAIN 2088
#define FOTEX_PROP_WHITE_BALANCE 2089
#define FOTEX_PROP_UPLOAD_URL 2090
#define FOTEX_PROP_ARTIST 2091
#define FOTEX_PROP_COPYRIGHT_INFO 2092

/* ---- Version ------------------------------------------------------------------------------ */

/* Writes "Fotex 1.3" into `product`, the file version "1.3.0.0" into `file_version` and the
   build's architecture, "x86" or "x64", into `architecture`: NUL-terminated ANSI, each buffer at
   least FOTEX_VERSION_BYTES bytes. A null pointer is skipped. Needs no device. */
void FOTEX_CALL VexaVersionInfo(char* product, char* file_version, char* architecture);

/* ---- Device directory --------------------------------------------------------------------- */

/* Lists the local image-acquisition devices anew and writes how many were listed to *count
   (skipped when count is null). Indexes 0 to *count - 1 are then valid for GetWiaDeviceInfo and
   OpenWiaDevice, until the next enumeration.
   Returns FOTEX_OK (1) done; FOTEX_ENUM_SERVICE_FAILED (-1) the service failed (the count is
   written when the failure came part-way, with the devices listed before it): this includes an
   enumerator that answers success without a device ("Error calling IEnumWIA_DEV_INFO::Next:
   HRESULT: 0x80004003"), one that lists more than 65536 devices ("Too many devices: HRESULT:
   0x8000000B") and a list that cannot grow for want of memory ("Device list cannot grow:
   HRESULT: 0x80070008"); FOTEX_ENUM_NO_MANAGER (-2) the device manager could not be created
   (the list and *count are unchanged). Traces each failing service call ("Error calling
   IWiaDevMgr::EnumDeviceInfo: HRESULT: ...", "CoCreateInstance failed on CLSID_WiaDevMgr:
   HRESULT: ...", and others). The new list replaces the old one when the enumeration ends, so a
   message handler that runs meanwhile reads the old one whole; an enumeration started from such
   a handler returns FOTEX_ENUM_SERVICE_FAILED at once, printing nothing, the list and *count
   unchanged. */
int FOTEX_CALL EnumerateWiaDevices(int* count);

/* Copies the identifier, name and description of the listed device at `index` into three
   buffers of at least FOTEX_TEXT_BYTES bytes each: raw UTF-16LE, at most 64 code units, zero
   filled to 128 bytes; a text of 64 units or more arrives without terminator. A null buffer is
   skipped. An index out of range prints "Device index overflow" and touches no buffer. */
void FOTEX_CALL GetWiaDeviceInfo(int index, void* id, void* name, void* description);

/* ---- Device handles ----------------------------------------------------------------------- */

/* Opens the listed device at `index` and stores its handle in *device. Every call opens anew:
   each handle is closed once, with CloseWiaDevice.
   Returns FOTEX_OK (1) asked (*device is 0 when the service could not open the device);
   FOTEX_OPEN_NO_MANAGER (-1) the device manager could not be created (traced as in
   EnumerateWiaDevices); FOTEX_OPEN_BAD_INDEX (-2) index out of range; FOTEX_OPEN_NULL (-3)
   device is null. On every failure *device is unchanged. */
int FOTEX_CALL OpenWiaDevice(int index, FOTEX_DEVICE* device);

/* Releases the handle in *device, with the item list ListCameraItems made for it, and sets
   *device to 0. Does nothing when *device is 0 or device is null. A call that uses the handle
   and is under way (this one runs in a message handler inside it) ends as it would have. */
void FOTEX_CALL CloseWiaDevice(FOTEX_DEVICE* device);

/* ---- Device commands and queries ---------------------------------------------------------- */

/* Asks the device which commands it offers. Sets *take_picture and *delete_all to 1 when it
   offers take picture or delete all, else to 0 (a null flag pointer is skipped).
   Returns the number of commands the device offers in all (0 when none), or a FOTEX_CAP_*
   code: FOTEX_ERR_NO_DEVICE (-3) device is 0; FOTEX_CAP_ASK_FAILED (-2) the capabilities could
   not be asked for; FOTEX_CAP_NO_LIST (-5) the device gave no capability list;
   FOTEX_CAP_RESET_FAILED (-1) the list could not be reset (on these four the flags are
   untouched); FOTEX_CAP_COUNT_FAILED (-4) the list could not be counted (both flags 0);
   FOTEX_CAP_READ_FAILED (-6) a capability could not be read (the flags of those read before it
   are set). Prints nothing. */
int FOTEX_CALL EnumDeviceCap(FOTEX_DEVICE device, int* take_picture, int* delete_all);

/* Asks the camera to delete all its pictures and videos. Reports nothing; does nothing when
   device is 0. */
void FOTEX_CALL DeleteAll(FOTEX_DEVICE device);

/* Has the camera take a picture and stores the new picture's item handle in *item; the caller
   owns it and hands it to TransferPicture, which releases it. When the camera refuses, shows the
   modal box "error taking picture" (caption "Info", stop icon) and returns once it is closed;
   *item is then 0. Does nothing when device is 0 or item is null. */
void FOTEX_CALL TakeAPicture(FOTEX_DEVICE device, FOTEX_ITEM* item);

/* Reads the camera's counts of pictures taken and pictures remaining into *taken and
   *remaining; a count the camera does not give as a 32-bit integer is left unchanged (as is a
   null pointer). FOTEX_PROP_PICTURES_TAKEN and FOTEX_PROP_PICTURES_REMAINING, read together.
   Returns FOTEX_OK (1) read; FOTEX_ERR_REFUSED (-1) the read failed; FOTEX_ERR_NO_STORAGE (-2)
   the device has no property storage; FOTEX_ERR_NO_DEVICE (-3) device is 0. On failure neither
   count is written. Prints nothing. */
int FOTEX_CALL GetStorageInfo(FOTEX_DEVICE device, int* taken, int* remaining);

/* ---- Transfer ----------------------------------------------------------------------------- */

/* Transfers the picture `item` (from TakeAPicture) into a file and releases the handle, whatever
   the outcome: do not use it again. `name` is the caller's NUL-terminated ANSI buffer holding the
   file name without extension (C:\pics\shot); the extension of `format` is appended to it in
   place, so it needs FOTEX_EXTENSION_ROOM bytes beyond the name. The complete name may be at most
   FOTEX_MAX_FILE_NAME (127) UTF-16 units: a longer one prints "File name too long: HRESULT: 0x800700CE" and leaves the
   buffer, the item and the file system alone. With delete_flag exactly 1 the picture is deleted
   (FOTEX_DELETE_AFTER_TRANSFER) from the camera after a successful transfer. An existing file of that name is replaced.
   A free name is held by an empty file from just before the service writes; a transfer that fails part-way
   removes that file unless another file has taken its place. An existing file keeps what the service left in it.
   A format without extension leaves the buffer untouched (it may then be read-only).
   Nothing is returned: failures print a line ("pWiaDataTransfer->idtGetData failed: HRESULT:
   ..." and others). Does nothing when item is 0; with a null name only the handle is released. */
void FOTEX_CALL TransferPicture(FOTEX_ITEM item, char* name, int format, int delete_flag);

/* Transfers every image and video item of the device into files named
   folder\prefix<number><extension>, the number right-aligned in eight characters ("img       3.jpg"),
   walking the camera's tree depth first (FOTEX_ITEM_* flags above). Images and videos are numbered by two counters that
   start at 0 when the DLL is loaded and continue across calls and devices. An existing file is
   never replaced: the item then goes to the first free name with "~1", "~2", ... before the
   extension. Each name is checked, and held by an empty file, just before the service is asked
   to write it: another program creating that name meanwhile finds it taken. Each complete name may be at most 127 UTF-16 units. With delete_flag exactly 1 each
   item is deleted after its successful transfer. The walk stops at the first failure (printing
   its line) and at 64 levels below the root ("Item tree too deep: HRESULT: 0x800703E9"); files
   written before stay, and the file of the failed transfer is removed. Does nothing when device is 0, folder or prefix is null. */
void FOTEX_CALL TransferAllImages(FOTEX_DEVICE device, const char* folder, const char* prefix, int format,
                                  int delete_flag);

/* Shows the system's acquisition dialog for the device (parent: the owner window's HWND, may be
   0); the picture the user picks is written as JPEG to C:\kalto.jpg. When the dialog fails, shows
   the modal box "Open UI error: <result in hex>" (caption "Info", stop icon), preceded by "No UI is
   available" when the system has no dialog. Returns FOTEX_OK (1) the dialog was called
   (whatever its outcome); FOTEX_DIALOG_NO_DEVICE (-1) device is 0; FOTEX_DIALOG_NO_MANAGER (-2)
   the device manager could not be created (prints "CoCreateInstance failed on CLSID_WiaDevMgr:
   HRESULT: ..."). */
int FOTEX_CALL ImageTransferDialog(FOTEX_HANDLE parent, FOTEX_DEVICE device);

/* ---- Camera settings ---------------------------------------------------------------------- */

/* One getter per camera setting and a setter for each writable one; each reads or writes one
   property of the open device (the FOTEX_PROP_* id in the comment) and keeps no copy of it. The
   camera decides which values it accepts: no range is checked here. Four shapes:

   int GetX(FOTEX_DEVICE device, int* value)
       Stores the setting in *value. When the camera returns it as another type than a 32-bit
       signed integer, returns 1 and leaves *value unchanged.
   int SetX(FOTEX_DEVICE device, int value)
       Sends value unchanged.
   int GetX(FOTEX_DEVICE device, void* text)
       Copies the text into a buffer of at least FOTEX_TEXT_BYTES (128) bytes as raw UTF-16LE:
       up to 63 code units arrive with a two-byte terminator; 64 or more fill the 128 bytes with
       the first 64 units and no terminator. Bytes after the terminator are unspecified. When
       the camera returns another type, returns 1 and leaves the buffer unchanged.
   int SetX(FOTEX_DEVICE device, const char* text)
       Sends NUL-terminated ANSI text (system code page), widened to UTF-16. Text that needs more
       than 127 UTF-16 units is refused with -1 and nothing reaches the camera.

   Status, for all of them:
     FOTEX_OK (1)              the camera accepted the read or the write
     FOTEX_ERR_REFUSED (-1)    the camera refused the read or the write (including a setting
                               it does not have), the text was too long, or value/text is null
     FOTEX_ERR_NO_STORAGE (-2) the handle yields no property storage
     FOTEX_ERR_NO_DEVICE (-3)  device is 0
   On any status but 1 nothing is written to *value or to the buffer. Nothing is printed. */
int FOTEX_CALL GetExposureMode(FOTEX_DEVICE device, int* value); /* FOTEX_PROP_EXPOSURE_MODE */
int FOTEX_CALL SetExposureMode(FOTEX_DEVICE device, int value);
int FOTEX_CALL GetExposureComp(FOTEX_DEVICE device, int* value); /* FOTEX_PROP_EXPOSURE_COMP */
int FOTEX_CALL SetExposureComp(FOTEX_DEVICE device, int value);
int FOTEX_CALL GetExposureTime(FOTEX_DEVICE device, int* value); /* FOTEX_PROP_EXPOSURE_TIME */
int FOTEX_CALL SetExposureTime(FOTEX_DEVICE device, int value);
int FOTEX_CALL GetFNumber(FOTEX_DEVICE device, int* value); /* FOTEX_PROP_FNUMBER */
int FOTEX_CALL SetFNumber(FOTEX_DEVICE device, int value);
int FOTEX_CALL GetFlashMode(FOTEX_DEVICE device, int* value); /* FOTEX_PROP_FLASH_MODE */
int FOTEX_CALL SetFlashMode(FOTEX_DEVICE device, int value);
int FOTEX_CALL GetFocusMode(FOTEX_DEVICE device, int* value); /* FOTEX_PROP_FOCUS_MODE */
int FOTEX_CALL SetFocusMode(FOTEX_DEVICE device, int value);
int FOTEX_CALL GetPanPosition(FOTEX_DEVICE device, int* value); /* FOTEX_PROP_PAN_POSITION */
int FOTEX_CALL SetPanPos(FOTEX_DEVICE device, int value);
int FOTEX_CALL GetTiltPosition(FOTEX_DEVICE device, int* value); /* FOTEX_PROP_TILT_POSITION */
int FOTEX_CALL SetTiltPos(FOTEX_DEVICE device, int value);
int FOTEX_CALL GetTimerMode(FOTEX_DEVICE device, int* value); /* FOTEX_PROP_TIMER_MODE */
int FOTEX_CALL SetTimerMode(FOTEX_DEVICE device, int value);
int FOTEX_CALL GetTimerValue(FOTEX_DEVICE device, int* value); /* FOTEX_PROP_TIMER_VALUE */
int FOTEX_CALL SetTimerValue(FOTEX_DEVICE device, int value);
int FOTEX_CALL GetPowerMode(FOTEX_DEVICE device, int* value); /* FOTEX_PROP_POWER_MODE, read only */
int FOTEX_CALL GetBatteryStatus(FOTEX_DEVICE device, int* value); /* FOTEX_PROP_BATTERY_STATUS, read only */
int FOTEX_CALL GetThumbWidth(FOTEX_DEVICE device, int* value); /* FOTEX_PROP_THUMB_WIDTH */
int FOTEX_CALL SetThumbWidth(FOTEX_DEVICE device, int value);
int FOTEX_CALL GetThumbHeight(FOTEX_DEVICE device, int* value); /* FOTEX_PROP_THUMB_HEIGHT */
int FOTEX_CALL SetThumbHeight(FOTEX_DEVICE device, int value);
int FOTEX_CALL GetPictWidth(FOTEX_DEVICE device, int* value); /* FOTEX_PROP_PICT_WIDTH */
int FOTEX_CALL SetPictWidth(FOTEX_DEVICE device, int value);
int FOTEX_CALL GetPictHeight(FOTEX_DEVICE device, int* value); /* FOTEX_PROP_PICT_HEIGHT */
int FOTEX_CALL SetPictHeight(FOTEX_DEVICE device, int value);
int FOTEX_CALL GetComprSetting(FOTEX_DEVICE device, int* value); /* FOTEX_PROP_COMPRESSION_SETTING */
int FOTEX_CALL SetComprSetting(FOTEX_DEVICE device, int value);
int FOTEX_CALL GetTimeLapseInterval(FOTEX_DEVICE device, int* value); /* FOTEX_PROP_TIMELAPSE_INTERVAL */
int FOTEX_CALL SetTimeElapseInterval(FOTEX_DEVICE device, int value);
int FOTEX_CALL GetTimeLapseNumber(FOTEX_DEVICE device, int* value); /* FOTEX_PROP_TIMELAPSE_NUMBER */
int FOTEX_CALL SetTimeLapseNumber(FOTEX_DEVICE device, int value);
int FOTEX_CALL GetBurstInterval(FOTEX_DEVICE device, int* value); /* FOTEX_PROP_BURST_INTERVAL */
int FOTEX_CALL SetBurstInterval(FOTEX_DEVICE device, int value);
int FOTEX_CALL GetBurstNumber(FOTEX_DEVICE device, int* value); /* FOTEX_PROP_BURST_NUMBER */
int FOTEX_CALL SetBurstNumber(FOTEX_DEVICE device, int value);
int FOTEX_CALL GetEffectMode(FOTEX_DEVICE device, int* value); /* FOTEX_PROP_EFFECT_MODE */
int FOTEX_CALL SetEffectMode(FOTEX_DEVICE device, int value);
int FOTEX_CALL GetDigitalZoom(FOTEX_DEVICE device, int* value); /* FOTEX_PROP_DIGITAL_ZOOM */
int FOTEX_CALL SetDigitalZoom(FOTEX_DEVICE device, int value);
int FOTEX_CALL GetSharpness(FOTEX_DEVICE device, int* value); /* FOTEX_PROP_SHARPNESS */
int FOTEX_CALL SetSharpness(FOTEX_DEVICE device, int value);
int FOTEX_CALL GetContrast(FOTEX_DEVICE device, int* value); /* FOTEX_PROP_CONTRAST */
int FOTEX_CALL SetContrast(FOTEX_DEVICE device, int value);
int FOTEX_CALL GetCaptMode(FOTEX_DEVICE device, int* value); /* FOTEX_PROP_CAPTURE_MODE */
int FOTEX_CALL SetCaptMode(FOTEX_DEVICE device, int value);
int FOTEX_CALL GetCaptDelay(FOTEX_DEVICE device, int* value); /* FOTEX_PROP_CAPTURE_DELAY */
int FOTEX_CALL SetCaptDelay(FOTEX_DEVICE device, int value);
int FOTEX_CALL GetExposIndex(FOTEX_DEVICE device, int* value); /* FOTEX_PROP_EXPOSURE_INDEX */
int FOTEX_CALL SetExposureIndex(FOTEX_DEVICE device, int value);
int FOTEX_CALL GetExposMetMode(FOTEX_DEVICE device, int* value); /* FOTEX_PROP_EXPOSURE_METERING_MODE */
int FOTEX_CALL SetExposMetMode(FOTEX_DEVICE device, int value);
int FOTEX_CALL GetFocusMetMode(FOTEX_DEVICE device, int* value); /* FOTEX_PROP_FOCUS_METERING_MODE */
int FOTEX_CALL SetFocusMetMode(FOTEX_DEVICE device, int value);
int FOTEX_CALL GetFocusDist(FOTEX_DEVICE device, int* value); /* FOTEX_PROP_FOCUS_DISTANCE */
int FOTEX_CALL SetFocusDist(FOTEX_DEVICE device, int value);
int FOTEX_CALL GetFocusLength(FOTEX_DEVICE device, int* value); /* FOTEX_PROP_FOCAL_LENGTH, read only */
int FOTEX_CALL GetRGBGain(FOTEX_DEVICE device, void* text); /* FOTEX_PROP_RGB_GAIN */
int FOTEX_CALL SetRGBGain(FOTEX_DEVICE device, const char* text);
int FOTEX_CALL GetWhiteBalance(FOTEX_DEVICE device, int* value); /* FOTEX_PROP_WHITE_BALANCE */
int FOTEX_CALL SetWhiteBalance(FOTEX_DEVICE device, int value);
int FOTEX_CALL GetUploadURL(FOTEX_DEVICE device, void* text); /* FOTEX_PROP_UPLOAD_URL */
int FOTEX_CALL SetUploadURL(FOTEX_DEVICE device, const char* text);
int FOTEX_CALL GetArtist(FOTEX_DEVICE device, void* text); /* FOTEX_PROP_ARTIST */
int FOTEX_CALL SetArtist(FOTEX_DEVICE device, const char* text);
int FOTEX_CALL GetCopyRight(FOTEX_DEVICE device, void* text); /* FOTEX_PROP_COPYRIGHT_INFO */
int FOTEX_CALL SetCopyRight(FOTEX_DEVICE device, const char* text);

/* The 37 settings above as one list, for a host that builds its tables from it (the fotex tool
   names its settings after the getters): X(kind, property id, getter, setter), where kind is
   FOTEX_KIND_INTEGER, FOTEX_KIND_READ_ONLY (the setter is then FOTEX_NO_SETTER) or
   FOTEX_KIND_TEXT. These four are tokens for X to paste or quote (## and #), not macros.
   The list is in parts so that each line stays within C89's 509 characters. */
#define FOTEX_SETTINGS_1(X) \
    X(FOTEX_KIND_INTEGER, FOTEX_PROP_EXPOSURE_MODE, GetExposureMode, SetExposureMode) \
    X(FOTEX_KIND_INTEGER, FOTEX_PROP_EXPOSURE_COMP, GetExposureComp, SetExposureComp) \
    X(FOTEX_KIND_INTEGER, FOTEX_PROP_EXPOSURE_TIME, GetExposureTime, SetExposureTime) \
    X(FOTEX_KIND_INTEGER, FOTEX_PROP_FNUMBER, GetFNumber, SetFNumber) \
    X(FOTEX_KIND_INTEGER, FOTEX_PROP_FLASH_MODE, GetFlashMode, SetFlashMode)
#define FOTEX_SETTINGS_2(X) \
    X(FOTEX_KIND_INTEGER, FOTEX_PROP_FOCUS_MODE, GetFocusMode, SetFocusMode) \
    X(FOTEX_KIND_INTEGER, FOTEX_PROP_PAN_POSITION, GetPanPosition, SetPanPos) \
    X(FOTEX_KIND_INTEGER, FOTEX_PROP_TILT_POSITION, GetTiltPosition, SetTiltPos) \
    X(FOTEX_KIND_INTEGER, FOTEX_PROP_TIMER_MODE, GetTimerMode, SetTimerMode) \
    X(FOTEX_KIND_INTEGER, FOTEX_PROP_TIMER_VALUE, GetTimerValue, SetTimerValue)
#define FOTEX_SETTINGS_3(X) \
    X(FOTEX_KIND_READ_ONLY, FOTEX_PROP_POWER_MODE, GetPowerMode, FOTEX_NO_SETTER) \
    X(FOTEX_KIND_READ_ONLY, FOTEX_PROP_BATTERY_STATUS, GetBatteryStatus, FOTEX_NO_SETTER) \
    X(FOTEX_KIND_INTEGER, FOTEX_PROP_THUMB_WIDTH, GetThumbWidth, SetThumbWidth) \
    X(FOTEX_KIND_INTEGER, FOTEX_PROP_THUMB_HEIGHT, GetThumbHeight, SetThumbHeight) \
    X(FOTEX_KIND_INTEGER, FOTEX_PROP_PICT_WIDTH, GetPictWidth, SetPictWidth)
#define FOTEX_SETTINGS_4(X) \
    X(FOTEX_KIND_INTEGER, FOTEX_PROP_PICT_HEIGHT, GetPictHeight, SetPictHeight) \
    X(FOTEX_KIND_INTEGER, FOTEX_PROP_COMPRESSION_SETTING, GetComprSetting, SetComprSetting) \
    X(FOTEX_KIND_INTEGER, FOTEX_PROP_TIMELAPSE_INTERVAL, GetTimeLapseInterval, SetTimeElapseInterval) \
    X(FOTEX_KIND_INTEGER, FOTEX_PROP_TIMELAPSE_NUMBER, GetTimeLapseNumber, SetTimeLapseNumber)
#define FOTEX_SETTINGS_5(X) \
    X(FOTEX_KIND_INTEGER, FOTEX_PROP_BURST_INTERVAL, GetBurstInterval, SetBurstInterval) \
    X(FOTEX_KIND_INTEGER, FOTEX_PROP_BURST_NUMBER, GetBurstNumber, SetBurstNumber) \
    X(FOTEX_KIND_INTEGER, FOTEX_PROP_EFFECT_MODE, GetEffectMode, SetEffectMode) \
    X(FOTEX_KIND_INTEGER, FOTEX_PROP_DIGITAL_ZOOM, GetDigitalZoom, SetDigitalZoom) \
    X(FOTEX_KIND_INTEGER, FOTEX_PROP_SHARPNESS, GetSharpness, SetSharpness)
#define FOTEX_SETTINGS_6(X) \
    X(FOTEX_KIND_INTEGER, FOTEX_PROP_CONTRAST, GetContrast, SetContrast) \
    X(FOTEX_KIND_INTEGER, FOTEX_PROP_CAPTURE_MODE, GetCaptMode, SetCaptMode) \
    X(FOTEX_KIND_INTEGER, FOTEX_PROP_CAPTURE_DELAY, GetCaptDelay, SetCaptDelay) \
    X(FOTEX_KIND_INTEGER, FOTEX_PROP_EXPOSURE_INDEX, GetExposIndex, SetExposureIndex) \
    X(FOTEX_KIND_INTEGER, FOTEX_PROP_EXPOSURE_METERING_MODE, GetExposMetMode, SetExposMetMode)
#define FOTEX_SETTINGS_7(X) \
    X(FOTEX_KIND_INTEGER, FOTEX_PROP_FOCUS_METERING_MODE, GetFocusMetMode, SetFocusMetMode) \
    X(FOTEX_KIND_INTEGER, FOTEX_PROP_FOCUS_DISTANCE, GetFocusDist, SetFocusDist) \
    X(FOTEX_KIND_READ_ONLY, FOTEX_PROP_FOCAL_LENGTH, GetFocusLength, FOTEX_NO_SETTER) \
    X(FOTEX_KIND_TEXT, FOTEX_PROP_RGB_GAIN, GetRGBGain, SetRGBGain) \
    X(FOTEX_KIND_INTEGER, FOTEX_PROP_WHITE_BALANCE, GetWhiteBalance, SetWhiteBalance)
#define FOTEX_SETTINGS_8(X) \
    X(FOTEX_KIND_TEXT, FOTEX_PROP_UPLOAD_URL, GetUploadURL, SetUploadURL) \
    X(FOTEX_KIND_TEXT, FOTEX_PROP_ARTIST, GetArtist, SetArtist) \
    X(FOTEX_KIND_TEXT, FOTEX_PROP_COPYRIGHT_INFO, GetCopyRight, SetCopyRight)
#define FOTEX_SETTINGS(X) \
    FOTEX_SETTINGS_1(X) \
    FOTEX_SETTINGS_2(X) \
    FOTEX_SETTINGS_3(X) \
    FOTEX_SETTINGS_4(X) \
    FOTEX_SETTINGS_5(X) \
    FOTEX_SETTINGS_6(X) \
    FOTEX_SETTINGS_7(X) \
    FOTEX_SETTINGS_8(X)

/* ---- Camera contents ---------------------------------------------------------------------- */

/* List what is on the camera, read each item's name, time, size and thumbnail size, save one
   item or its thumbnail under any name, delete one item, and describe a status. These ten
   functions came after the 83 above: a host that must also run with an older Fotex.dll finds
   them by name (GetProcAddress) and does without them when they are missing.

   Conventions of these ten functions (they differ from the functions above):
   - They return FOTEX_OK (1) on success, otherwise a negative HRESULT: the failing service
     call's own, or one of the FOTEX_E_* codes below. DescribeStatus turns any of them into text.
     The statuses that ask the caller to change its call (FOTEX_E_HANDLE, FOTEX_E_POINTER,
     FOTEX_E_INVALIDARG, FOTEX_E_BOUNDS, FOTEX_E_INSUFFICIENT_BUFFER, FOTEX_E_MORE_DATA) come only
     from the library's own checks, with the out-values documented for them: the same number
     from the service arrives as FOTEX_E_SERVICE_FAILED, and every status of a vanished service
     process as FOTEX_E_DISCONNECTED. This holds for every function that came after the 83 of
     1.3 (settings by id, choices, events, transfers with progress and into memory, item facts).
   - Text out is UTF-16, NUL-terminated, into the caller's buffer, whose size in bytes the caller
     passes; when the text and its terminator do not fit, FOTEX_E_INSUFFICIENT_BUFFER is returned
     and nothing is written. Text in is UTF-16 (wchar_t), NUL-terminated.
   - On failure no output (value, handle, text) is written.
   - Nothing is printed and no message box is shown.
   - An item handle (FOTEX_ITEM) from OpenCameraItem or FindCameraItem holds one reference that
     belongs to the caller: give it back with ReleaseCameraItem, or hand it to TransferPicture,
     which consumes it. SaveCameraItem, SaveCameraThumbnail and DeleteCameraItem leave it the
     caller's. */

/* Statuses, as HRESULTs. */
#define FOTEX_E_HANDLE ((int)0x80070006L)              /* the device or item handle is 0 */
#define FOTEX_E_POINTER ((int)0x80004003L)             /* a pointer the call needs is null */
#define FOTEX_E_INVALIDARG ((int)0x80070057L)          /* an unknown selector or flag */
#define FOTEX_E_BOUNDS ((int)0x8000000BL)              /* the index is not in the list */
#define FOTEX_E_INSUFFICIENT_BUFFER ((int)0x8007007AL) /* the text or data buffer is too small */
#define FOTEX_E_NOT_FOUND ((int)0x80070490L)           /* no such property, or no such item */
#define FOTEX_E_FILE_EXISTS ((int)0x80070050L)         /* the file exists; replacing was not asked for */
#define FOTEX_E_BUSY ((int)0x800700AAL)                /* refused: a camera event wait (or a look for new
                                                          items of one handle) from a handler inside one */
#define FOTEX_E_FOLDER ((int)0x80070150L)              /* the item is a folder: it has no data */
#define FOTEX_E_FORMAT ((int)0x80070032L)              /* the camera refuses the format for this item */
#define FOTEX_E_TREE_TOO_DEEP ((int)0x800703E9L)       /* the item tree is deeper than 64 levels (ERROR_STACK_OVERFLOW) */
#define FOTEX_E_OVERFLOW ((int)0x80070216L)            /* a value beyond what an int holds (ERROR_ARITHMETIC_OVERFLOW) */
#define FOTEX_E_INCOMPLETE ((int)0x8007012BL)          /* the camera's data did not arrive whole, or not as long as
                                                          the item says it is (ERROR_PARTIAL_COPY) */
#define FOTEX_E_SERVICE_FAILED ((int)0x80004005L)      /* the device or the service failed (E_FAIL); a service's own
                                                          status that would read as a mistake in the call becomes this */
/* A camera's conditions, as the service reports them (WIA_ERROR_*), and its process gone. */
#define FOTEX_E_OFFLINE ((int)0x80210005L)             /* the camera is off, asleep or unplugged */
#define FOTEX_E_DEVICE_BUSY ((int)0x80210006L)         /* the camera stayed busy for longer than the busy wait */
#define FOTEX_E_DEVICE_COMMUNICATION ((int)0x8021000AL) /* an exchange with the camera failed */
#define FOTEX_E_DISCONNECTED ((int)0x80010108L)        /* the service's process ended (a restart, a crash): every
                                                          RPC status of a vanished server reads as this */

/* The `what` of GetCameraItemText. */
#define FOTEX_ITEM_FILE_NAME 1 /* the item's name, then "." and its file name extension if any */
#define FOTEX_ITEM_FULL_NAME 2 /* the service's full item name, as FindCameraItem and events take it */
#define FOTEX_ITEM_TIME 3      /* the item's time, "YYYY-MM-DDThh:mm:ss" as the camera keeps it */

/* The `what` of GetCameraItemValue. */
#define FOTEX_ITEM_TYPE 1         /* the item-type flags (FOTEX_ITEM_IMAGE, FOTEX_ITEM_VIDEO, ...) */
#define FOTEX_ITEM_SIZE 2         /* the item's size in bytes, as the camera gives it */
#define FOTEX_ITEM_THUMB_WIDTH 3  /* the thumbnail's width in pixels */
#define FOTEX_ITEM_THUMB_HEIGHT 4 /* the thumbnail's height in pixels */
#define FOTEX_ITEM_FORMAT 5       /* the FOTEX_FORMAT_* code of the item's own format;
                                     FOTEX_FORMAT_NONE (-1) when the table above has none */

/* The flags of SaveCameraItem and SaveCameraThumbnail; other bits are refused. */
#define FOTEX_SAVE_DELETE 1  /* delete the item from the camera after a complete transfer */
#define FOTEX_SAVE_REPLACE 2 /* an existing file of that name may be replaced */

/* Lists the device's items anew and writes their number to *count. `device` may also be an item
   handle (a folder found with FindCameraItem, say): its items are listed the same way, and the
   functions below take that handle in place of the device. Walks the camera's tree as
   TransferAllImages does (depth first, an item before its children; folders and items with
   attachments walked into; at most 64 levels and 1,000,000 items in a folder) and lists every
   item flagged FOTEX_ITEM_IMAGE or FOTEX_ITEM_VIDEO, each once. Indexes 0 to *count - 1 are then
   valid for the functions below taking a device and an index. Each item is read once, its type
   flags (WIA_IPA_ITEM_FLAGS, or IWiaItem::GetItemType where the service lacks them) with every
   fact the functions below give, and each folder is asked for up to 32 items a call: out of
   process a listing with every fact costs about one call into the service per item, and more
   for an item whose property storage the process has not asked for before (a first listing).
   The list belongs to the handle and holds its own references to the items: it lasts until the
   next ListCameraItems on that handle, until the handle is given back (CloseWiaDevice,
   ReleaseCameraItem, TransferPicture), or the unloading of the DLL. Any number of handles can
   have lists at once. The new list is made beside the old one and replaces it once complete, so
   the service hands out the item objects it already has; meanwhile (in a message handler that
   runs while the camera works) the functions below read the old list whole. A handle given back
   during the listing keeps no list. The service keeps one object per item, so two handles to the
   same item (FindCameraItem twice, say) are equal and share one list: giving back either drops it.
   Returns FOTEX_OK; FOTEX_E_HANDLE device is 0; FOTEX_E_POINTER count is null; the service's
   HRESULT when the walk failed (E_FAIL for a success code other than S_OK, FOTEX_E_TREE_TOO_DEEP for a
   tree deeper than 64 levels, FOTEX_E_BOUNDS for a folder of more than 1,000,000 items). When the walk
   failed, the handle's list is empty; when an argument is refused, it is as it was. On every
   failure *count is not written. */
int FOTEX_CALL ListCameraItems(FOTEX_DEVICE device, int* count);

/* Copies a text of the listed item at `index` into `text`, a buffer of `bytes` bytes, as
   NUL-terminated UTF-16: `what` is FOTEX_ITEM_FILE_NAME (the item name, then "." and the file
   name extension when the item has one: "IMG_0001.jpg"), FOTEX_ITEM_FULL_NAME
   ("0000\Root\DCIM\IMG_0001") or FOTEX_ITEM_TIME ("2026-12-08T10:30:00"). The texts and numbers
   are those ListCameraItems read with the item's type, in one read per item: reading them calls
   nothing on the camera, and an item renamed since shows its new facts once listed again (an item
   handle's GetItemText reads the camera). An item whose facts that read could not give, and an
   item listed by ListNewCameraItems, is read on the camera when asked. Walks nothing and
   allocates nothing.
   Returns FOTEX_OK; FOTEX_E_HANDLE device is 0; FOTEX_E_POINTER text is null; FOTEX_E_INVALIDARG
   unknown `what`; FOTEX_E_BOUNDS index not in the device's list (or no list); FOTEX_E_NOT_FOUND
   the item lacks the property (or gives it in a form that is not text or time);
   FOTEX_E_INSUFFICIENT_BUFFER the text and terminator need more than `bytes`; or the service's
   HRESULT (E_FAIL for a success code other than S_OK). On failure nothing is written. */
int FOTEX_CALL GetCameraItemText(FOTEX_DEVICE device, int index, int what, void* text, int bytes);

/* Stores a number of the listed item at `index` in *value: `what` is FOTEX_ITEM_TYPE (the type
   flags seen when the list was made), FOTEX_ITEM_SIZE (bytes), FOTEX_ITEM_THUMB_WIDTH or
   FOTEX_ITEM_THUMB_HEIGHT (pixels), FOTEX_ITEM_FORMAT (the code of the item's own format, -1
   when the format table has none: a RAW file, which WIA gives as WiaImgFmt_UNDEFINED, and whose
   extension FOTEX_ITEM_FILE_NAME still carries), as GetCameraItemText has them. Walks nothing and
   allocates nothing.
   The camera may give a number in any integer type (8, 16, 32 or 64 bits, signed or not).
   Returns FOTEX_OK; FOTEX_E_HANDLE; FOTEX_E_POINTER value is null; FOTEX_E_INVALIDARG unknown
   `what`; FOTEX_E_BOUNDS; FOTEX_E_NOT_FOUND the item lacks the property (or gives it as no
   integer); FOTEX_E_OVERFLOW a value beyond an int (above 2,147,483,647 or below its minimum);
   or the service's HRESULT. On failure *value is not written. */
int FOTEX_CALL GetCameraItemValue(FOTEX_DEVICE device, int index, int what, int* value);

/* Stores a new handle to the listed item at `index` in *item; release it with ReleaseCameraItem
   (or hand it to TransferPicture, which consumes it). The handle stays valid after the list is
   renewed or the device closed.
   Returns FOTEX_OK; FOTEX_E_HANDLE; FOTEX_E_POINTER item is null; FOTEX_E_BOUNDS. */
int FOTEX_CALL OpenCameraItem(FOTEX_DEVICE device, int index, FOTEX_ITEM* item);

/* Stores in *item a new handle to the device's item whose full name (FOTEX_ITEM_FULL_NAME) is
   `full_name`, listed or not (a folder too); release it with ReleaseCameraItem.
   Items may share a name (a RAW+JPEG pair through Windows' layer over the PTP driver: IMG_0010
   with the extensions CR2 and JPG). The item is the one the service gives for exactly
   `full_name`, so take full names from FOTEX_ITEM_FULL_NAME or events. A full name that more
   than one item answers to (one made from an item name, "0002\Root\IMG_0010", or one a
   service gives both halves of a pair) finds at most one of them (on the virtual camera, which
   gives each a full name of its own, the first of them that ListCameraItems lists);
   FOTEX_ITEM_FILE_NAME of the handle says which.
   Returns FOTEX_OK; FOTEX_E_HANDLE; FOTEX_E_POINTER full_name or item is null; FOTEX_E_NOT_FOUND
   no item has that name; or the service's HRESULT. */
int FOTEX_CALL FindCameraItem(FOTEX_DEVICE device, const wchar_t* full_name, FOTEX_ITEM* item);

/* Transfers the item into exactly the file `file_name` (no extension is added; relative names
   are taken from the current folder; any length the file system takes, \\?\ names included) in
   the transfer format `format` (FOTEX_FORMAT_*; FOTEX_FORMAT_NATIVE the item's own format; an
   unlisted code means JPEG). The data goes to a
   temporary file in the target's folder and is moved to the name only when the transfer is
   complete: a failed transfer leaves no file behind and never touches an existing one. Without
   FOTEX_SAVE_REPLACE in `flags` an existing file is never replaced, not even one that appears
   during the transfer. With FOTEX_SAVE_DELETE the item is deleted from the camera only once the
   file's data is flushed to the disk and the file has its name (moved with write-through), so
   that a power cut cannot lose both copies: at worst a complete temporary file remains. The
   handle stays the caller's.
   Returns FOTEX_OK; FOTEX_E_HANDLE item is 0; FOTEX_E_POINTER file_name is null;
   FOTEX_E_INVALIDARG a flag other than these two; FOTEX_E_FOLDER the item is a folder (nothing
   is written); FOTEX_E_FORMAT the camera refuses `format` for this item (nothing is written);
   FOTEX_E_NOT_FOUND FOTEX_FORMAT_NATIVE for an item that names no format of its own;
   FOTEX_E_INCOMPLETE in the item's own format (FOTEX_FORMAT_NATIVE or the format it prefers),
   the file the service wrote is shorter or longer than the item's size (WIA_IPA_ITEM_SIZE,
   where it gives one): no file is left and nothing is deleted;
   FOTEX_E_FILE_EXISTS the file exists and FOTEX_SAVE_REPLACE was not given (nothing was
   transferred when it existed before the call); the service's HRESULT when the transfer failed
   or the item's type could not be read (E_FAIL for a success code other than S_OK); the file system's (as an HRESULT) when the
   file could not be made; the deletion's HRESULT when only the deletion failed (the file is
   then complete and in place). */
int FOTEX_CALL SaveCameraItem(FOTEX_ITEM item, const wchar_t* file_name, int format, int flags);

/* Writes the item's thumbnail into the file `file_name` as a 24-bit BMP, with the file rules of
   SaveCameraItem; `flags` is 0 or FOTEX_SAVE_REPLACE.
   Returns FOTEX_OK; FOTEX_E_HANDLE; FOTEX_E_POINTER; FOTEX_E_INVALIDARG any other flag;
   FOTEX_E_FOLDER the item is a folder (nothing is written); FOTEX_E_NOT_FOUND the item has no
   thumbnail; FOTEX_E_VALUE (invalid data) the camera's thumbnail
   is shorter than its width and height need; FOTEX_E_FILE_EXISTS; or the service's or the file
   system's HRESULT. */
int FOTEX_CALL SaveCameraThumbnail(FOTEX_ITEM item, const wchar_t* file_name, int flags);

/* Deletes the item from the camera. The handle stays the caller's (release it as usual).
   Returns FOTEX_OK; FOTEX_E_HANDLE item is 0; or the service's HRESULT. */
int FOTEX_CALL DeleteCameraItem(FOTEX_ITEM item);

/* Gives the handle in *item back, with the list ListCameraItems made for it, and sets *item to
   0. Does nothing when item is null or *item is 0. */
void FOTEX_CALL ReleaseCameraItem(FOTEX_ITEM* item);

/* Copies a short English text for `status` into `text`, a buffer of `bytes` bytes, as
   NUL-terminated UTF-16: every status of the functions from ListCameraItems on, the
   service's errors by name and meaning ("WIA_ERROR_OFFLINE: the device is offline"), the
   system's message otherwise
   (-1 to -6, the statuses of the functions above the camera contents, have one text saying so).
   256 bytes hold every text of the library's own.
   Returns FOTEX_OK; FOTEX_E_POINTER text is null; FOTEX_E_INSUFFICIENT_BUFFER. */
int FOTEX_CALL DescribeStatus(int status, void* text, int bytes);

/* ---- Setting choices and camera events ---------------------------------------------------- */

/* What values a setting takes, and what the camera just did. These three functions came after
   the 83 of 1.3 and follow the conventions of the camera contents functions: a host that must
   also run with an older Fotex.dll finds them by name (GetProcAddress); they return FOTEX_OK (1)
   or a negative HRESULT; text out is NUL-terminated UTF-16 into a buffer whose size in bytes the
   caller passes; on failure no output is written; nothing is printed. */

/* Statuses of these three beside the FOTEX_E_* codes above, as HRESULTs. */
#define FOTEX_E_MORE_DATA ((int)0x800700EAL)    /* more values than the capacity */
#define FOTEX_E_WRONG_THREAD ((int)0x8001010EL) /* events were registered on another thread */

/* The access of GetSettingChoices: bits. */
#define FOTEX_ACCESS_READ 1
#define FOTEX_ACCESS_WRITE 2

/* The kind of GetSettingChoices: the form of the valid values. */
#define FOTEX_CHOICES_ANY 0   /* any value; no values */
#define FOTEX_CHOICES_RANGE 1 /* three values: minimum, maximum, step */
#define FOTEX_CHOICES_LIST 2  /* the valid values, in the camera's order */
#define FOTEX_CHOICES_FLAGS 3 /* one value: the mask of the bits that may be set */

/* Tells which values the property `property_id` of the device's root item takes: any property
   id the camera has, not only the 37 settings above (FOTEX_PROP_*). Asks the camera each time
   (IWiaPropertyStorage::GetPropertyAttributes) and keeps nothing.
   - *access receives FOTEX_ACCESS_READ | FOTEX_ACCESS_WRITE as the camera grants them.
   - *kind receives FOTEX_CHOICES_*, *nominal the camera's nominal (default) value (0 for
     FOTEX_CHOICES_ANY), and *count the number of values: 0 for ANY, 3 for RANGE (minimum,
     maximum, step), the number of valid values for LIST, 1 for FLAGS (the mask).
   - `values` is an array of `capacity` integers that receives the first `capacity` values.
   Text settings, and settings whose valid values the camera gives in another form than 8-, 16-
   or 32-bit integers, report their access and FOTEX_CHOICES_ANY; unsigned 32-bit values arrive
   as their bit patterns. A null access, kind, nominal or count is
   skipped; `values` may be null only when capacity is 0 (to learn the count first).
   Returns FOTEX_OK; FOTEX_E_MORE_DATA the count exceeds `capacity` (the first `capacity` values
   and every other output are written, so call again with capacity *count); FOTEX_E_HANDLE device
   is 0; FOTEX_E_INVALIDARG capacity is negative; FOTEX_E_POINTER values is null with a capacity
   above 0; FOTEX_E_NOT_FOUND the camera lacks the property; or the service's HRESULT (the
   property storage could not be had, or the camera refused the question). */
int FOTEX_CALL GetSettingChoices(FOTEX_DEVICE device, int property_id, int* access, int* kind, int* nominal,
                                 int* values, int capacity, int* count);

/* The kinds of WaitForCameraEvent. */
#define FOTEX_EVENT_DEVICE_CONNECTED 1    /* a camera was plugged in */
#define FOTEX_EVENT_DEVICE_DISCONNECTED 2 /* a camera was unplugged */
#define FOTEX_EVENT_ITEM_CREATED 3        /* a new item, such as a picture taken */
#define FOTEX_EVENT_ITEM_DELETED 4        /* an item was deleted */
#define FOTEX_EVENT_TREE_UPDATED 5        /* many items changed (delete all): list them again */
#define FOTEX_EVENT_LOST 6                /* the queue was full: events after the ones before were dropped */

/* Most events the queue holds between two calls; one more arriving is dropped, and the whole run
   of dropped events is reported as one FOTEX_EVENT_LOST in its place. */
#define FOTEX_EVENT_QUEUE 1024
/* Longest device identifier and item name an event carries, in UTF-16 units with the terminator;
   a longer one arrives cut to this length. */
#define FOTEX_EVENT_DEVICE_UNITS 256
#define FOTEX_EVENT_NAME_UNITS 1024

/* Takes the oldest camera event of the queue, waiting up to `timeout_ms` milliseconds for one
   (0 polls: it only looks; -1 waits without end).
   - *kind receives FOTEX_EVENT_*; `device_id` (a buffer of `device_id_bytes` bytes) the device's
     identifier, as GetWiaDeviceInfo gives it; `item_name` (a buffer of `item_name_bytes` bytes)
     the item's full name for FOTEX_EVENT_ITEM_CREATED and FOTEX_EVENT_ITEM_DELETED (the name
     FindCameraItem takes), an empty text for the other kinds. Both as NUL-terminated UTF-16;
     FOTEX_EVENT_DEVICE_UNITS and FOTEX_EVENT_NAME_UNITS units always suffice. A null kind is
     skipped; a null buffer (with a size of 0) is skipped.
   - The first call registers for the five events on every device (IWiaDevMgr::
     RegisterEventCallbackInterface) in the calling thread's apartment. The registration lasts
     until StopCameraEvents (it keeps the DLL loaded until then: see StopCameraEvents), and every
     later call must come from the same thread. Events arriving between calls are queued (FOTEX_EVENT_QUEUE at most).
   - The service delivers events as calls into that thread's apartment, which it receives only
     while the thread handles its window messages. A wait (timeout_ms above 0, or -1) dispatches
     the thread's messages for windows (the host's included) and the ticks of thread timers that
     have a routine of their own, until an event is queued. It takes no thread message: the
     first thread message (PostThreadMessage, no window; a thread timer's tick without a
     routine; WM_QUIT) ends the wait, which returns 0, and stays in its place in the queue for
     the host's own loop, in its order with every message behind it. A host that waits again
     and again handles those messages between its waits; a wait with one queued returns 0 at
     once. A poll (timeout_ms 0) dispatches no message: it returns an event already queued, or
     0. Only a poll that registers (the first call, or the first after StopCameraEvents) can
     run the host's handlers: the service's calls during the registration may handle the
     thread's messages, as any call that reaches the service may. A host with a message loop
     receives events through that loop and polls, from a timer say, without its other handlers
     running inside the later polls; a thread that neither waits here nor runs a message loop
     receives no events.
   - Called from a handler that runs inside a wait or inside the registration (a message it
     dispatched), it returns FOTEX_E_BUSY at once and dispatches nothing: the outer call takes
     the events. StopCameraEvents from such a handler ends the outer call, which returns 0.
   Returns 1 with an event; 0 when none came within the time (or a thread message or WM_QUIT
   came first, or StopCameraEvents was called from a message handled during the wait);
   FOTEX_E_BUSY called inside a wait or the registration; FOTEX_E_INSUFFICIENT_BUFFER a text and
   its terminator do not fit its buffer (the event stays first in the queue: call again with
   larger buffers); FOTEX_E_INVALIDARG timeout_ms below -1 or a negative size; FOTEX_E_POINTER a
   null buffer with a size above 0; FOTEX_E_WRONG_THREAD the events were registered on another
   thread; or the service's HRESULT when the registration failed (nothing is registered then,
   nor queued: the next call tries again). Against Wine's own service, which lacks events, that
   is 0x80004001 (E_NOTIMPL). */
int FOTEX_CALL WaitForCameraEvent(int timeout_ms, int* kind, void* device_id, int device_id_bytes, void* item_name,
                                  int item_name_bytes);

/* Ends the registration of WaitForCameraEvent and empties its queue; the next WaitForCameraEvent
   registers again, on its own thread. Call it from the thread that registered: on any other
   thread it does nothing (the registration belongs to the registering thread's apartment). Does
   nothing when nothing is registered.
   Call it before unloading the DLL. While a registration is live the DLL holds a reference to
   its own module (taken by the registering WaitForCameraEvent, given back by StopCameraEvents or
   a failed registration), so FreeLibrary then, on any thread, only counts down: the DLL stays
   loaded and the registration goes on working, and nothing the service calls, nor the end of
   the registering thread's apartment, can enter code no longer loaded. A LoadLibrary finds it
   again; StopCameraEvents on the registering thread, through that handle, then ends the
   registration, and the FreeLibrary after it unloads the DLL. Without that the DLL stays until
   the process exits. When the process exits with the DLL loaded, the DLL releases nothing and
   leaves COM alone: the service's objects may be gone by then. */
void FOTEX_CALL StopCameraEvents(void);

/* ---- Settings by property id -------------------------------------------------------------- */

/* Any setting of the device's root item by its property id, with the names of settings and of
   their values: what a host needs to build a settings screen from GetSettingChoices alone.
   These seven came after the 83 of 1.3 and follow the conventions of the camera contents
   functions: found by name (GetProcAddress) by a host that must also run with an older
   Fotex.dll; FOTEX_OK (1) or a negative HRESULT; text out is NUL-terminated UTF-16 into a buffer
   whose size in bytes the caller passes; on failure no output is written; nothing is printed. */

/* Statuses of these seven beside the FOTEX_E_* codes above. */
#define FOTEX_E_VALUE ((int)0x8007000DL)         /* the value is not one the setting takes (ERROR_INVALID_DATA) */
#define FOTEX_E_TYPE ((int)0x80020005L)          /* text asked for as a number, or a number as text (DISP_E_TYPEMISMATCH) */
#define FOTEX_E_ACCESS_DENIED ((int)0x80070005L) /* the setting is read only (E_ACCESSDENIED; the
                                                    camera contents give it for files the system refuses) */

/* The documented values of the enumerated settings (WIA_DPC_*; DescribeSettingValue names them). */
/* FOTEX_PROP_FLASH_MODE */
#define FOTEX_FLASH_AUTO 1
#define FOTEX_FLASH_OFF 2
#define FOTEX_FLASH_FILL 3
#define FOTEX_FLASH_REDEYE_AUTO 4
#define FOTEX_FLASH_REDEYE_FILL 5
#define FOTEX_FLASH_EXTERNAL_SYNC 6
/* FOTEX_PROP_WHITE_BALANCE */
#define FOTEX_WHITEBALANCE_MANUAL 1
#define FOTEX_WHITEBALANCE_AUTO 2
#define FOTEX_WHITEBALANCE_ONEPUSH_AUTO 3
#define FOTEX_WHITEBALANCE_DAYLIGHT 4
#define FOTEX_WHITEBALANCE_FLUORESCENT 5
#define FOTEX_WHITEBALANCE_TUNGSTEN 6
#define FOTEX_WHITEBALANCE_FLASH 7
/* FOTEX_PROP_EXPOSURE_MODE */
#define FOTEX_EXPOSUREMODE_MANUAL 1
#define FOTEX_EXPOSUREMODE_AUTO 2
#define FOTEX_EXPOSUREMODE_APERTURE_PRIORITY 3
#define FOTEX_EXPOSUREMODE_SHUTTER_PRIORITY 4
#define FOTEX_EXPOSUREMODE_PROGRAM_CREATIVE 5
#define FOTEX_EXPOSUREMODE_PROGRAM_ACTION 6
#define FOTEX_EXPOSUREMODE_PORTRAIT 7
/* FOTEX_PROP_FOCUS_MODE */
#define FOTEX_FOCUSMODE_MANUAL 1
#define FOTEX_FOCUSMODE_AUTO 2
#define FOTEX_FOCUSMODE_MACRO_AUTO 3
/* FOTEX_PROP_EXPOSURE_METERING_MODE */
#define FOTEX_EXPOSUREMETERING_AVERAGE 1
#define FOTEX_EXPOSUREMETERING_CENTER_WEIGHT 2
#define FOTEX_EXPOSUREMETERING_MULTISPOT 3
#define FOTEX_EXPOSUREMETERING_CENTER_SPOT 4
/* FOTEX_PROP_FOCUS_METERING_MODE */
#define FOTEX_FOCUSMETERING_CENTER_SPOT 1
#define FOTEX_FOCUSMETERING_MULTISPOT 2
/* FOTEX_PROP_CAPTURE_MODE */
#define FOTEX_CAPTUREMODE_NORMAL 1
#define FOTEX_CAPTUREMODE_BURST 2
#define FOTEX_CAPTUREMODE_TIMELAPSE 3
/* FOTEX_PROP_EFFECT_MODE */
#define FOTEX_EFFECTMODE_STANDARD 1
#define FOTEX_EFFECTMODE_BW 2
#define FOTEX_EFFECTMODE_SEPIA 3
/* FOTEX_PROP_POWER_MODE */
#define FOTEX_POWERMODE_LINE 1
#define FOTEX_POWERMODE_BATTERY 2

/* Stores the integer property `property_id` of the device's root item in *value: any property id
   the camera has, not only the 37 settings. 8-, 16- and 32-bit values arrive as they are (an
   unsigned 32-bit one as its bit pattern, as GetSettingChoices gives its limits); a 64-bit one
   only when it fits an int. Reads the camera each time and allocates nothing.
   Returns FOTEX_OK; FOTEX_E_HANDLE device is 0; FOTEX_E_POINTER value is null; FOTEX_E_NOT_FOUND
   the camera lacks the property (or has it without a value); FOTEX_E_TYPE the property is text
   or anything else but an integer; FOTEX_E_OVERFLOW a 64-bit value beyond an int;
   or the service's HRESULT (E_FAIL for a success code other than S_OK). */
int FOTEX_CALL GetSetting(FOTEX_DEVICE device, int property_id, int* value);

/* Sends `value` to the integer property `property_id`, after checking it against the property's
   access and valid values as GetSettingChoices reports them: a range takes minimum <= value <=
   maximum, on a step from the minimum when the step is above 0; a list takes its values; flags
   take the values within the mask; any value passes otherwise. For an unsigned 32-bit property
   (or limits the camera gives as unsigned) `value` and the limits are bit patterns compared as
   unsigned: a range of 80 to 0x80000000 takes 240. The value is sent in the property's own type
   (8, 16, 32 or 64 bits, signed or not); one that type cannot hold (-1 or 65536 for an unsigned
   16-bit property, a negative value for an unsigned 64-bit one) is FOTEX_E_VALUE.
   Returns FOTEX_OK; FOTEX_E_HANDLE; FOTEX_E_NOT_FOUND; FOTEX_E_TYPE the property is not an
   integer; FOTEX_E_ACCESS_DENIED the property is read only; FOTEX_E_VALUE the value is not one
   the property takes (in these three cases nothing is sent); or the service's HRESULT, its
   refusal of the write included, as it comes. */
int FOTEX_CALL SetSetting(FOTEX_DEVICE device, int property_id, int value);

/* Copies the text property `property_id` into `text`, a buffer of `bytes` bytes, as
   NUL-terminated UTF-16, whatever its length (a null string reads as empty).
   Returns FOTEX_OK; FOTEX_E_HANDLE; FOTEX_E_POINTER text is null; FOTEX_E_NOT_FOUND;
   FOTEX_E_TYPE the property is not text; FOTEX_E_INSUFFICIENT_BUFFER the text and terminator
   need more than `bytes` (nothing is written: call again with a larger buffer); or the service's
   HRESULT. */
int FOTEX_CALL GetSettingText(FOTEX_DEVICE device, int property_id, void* text, int bytes);

/* Sends the NUL-terminated UTF-16 `text`, of any length, to the text property `property_id`,
   after checking its access.
   Returns FOTEX_OK; FOTEX_E_HANDLE; FOTEX_E_POINTER text is null; FOTEX_E_NOT_FOUND;
   FOTEX_E_TYPE the property is not text; FOTEX_E_ACCESS_DENIED the property is read only
   (nothing is sent); E_OUTOFMEMORY the text could not be copied; or the service's HRESULT. */
int FOTEX_CALL SetSettingText(FOTEX_DEVICE device, int property_id, const wchar_t* text);

/* Copies the name that the service's headers give the property `property_id` ("Flash Mode",
   "F Number", "White Balance"; the WIA_*_STR names of device, camera, scanner and item
   properties alike) into `label`, a buffer of `bytes` bytes, as NUL-terminated UTF-16. Needs no
   device; allocates nothing. 72 bytes hold every name.
   Returns FOTEX_OK; FOTEX_E_POINTER label is null; FOTEX_E_NOT_FOUND the id has no name;
   FOTEX_E_INSUFFICIENT_BUFFER. */
int FOTEX_CALL DescribeSetting(int property_id, void* label, int bytes);

/* Copies what `value` of the property `property_id` means into `text` (a buffer of `bytes`
   bytes, NUL-terminated UTF-16): the documented name of an enumerated value (flash, white
   balance, exposure mode, focus mode, exposure and focus metering, capture mode, effect mode and
   power mode: "Auto", "Red-eye fill", "Daylight"), or a value with a unit as photographers read
   it: an f-number, kept in hundredths, as "f/2.8"; an exposure time, kept in ten-thousandths of
   a second, as "1/250 s", "0.4 s" or "2 s" (rounded to the nearest such step); an exposure
   compensation, kept in thousandths of a stop, as "+0.7 EV", "0.0 EV" or "-1.3 EV" (rounded to
   a tenth). Needs no device; allocates nothing. 64 bytes hold every text.
   Returns FOTEX_OK; FOTEX_E_POINTER text is null; FOTEX_E_NOT_FOUND the value has no name (an
   unlisted value, a time or f-number of 0 or less, a property without names);
   FOTEX_E_INSUFFICIENT_BUFFER. */
int FOTEX_CALL DescribeSettingValue(int property_id, int value, void* text, int bytes);

/* Stores in *value the value of the property `property_id` that `name` names, ignoring case:
   the names DescribeSettingValue gives the enumerated values, and f-numbers written as plain
   decimals of whole hundredths ("f/2.8", "F/5.6", "f/11", "f/5.600", "f/8."; not "f/2.888",
   nor exponents). The exposure texts are rounded, so they are not taken back.
   Returns FOTEX_OK; FOTEX_E_POINTER name or value is null; FOTEX_E_NOT_FOUND no value has that
   name. */
int FOTEX_CALL FindSettingValue(int property_id, const wchar_t* name, int* value);

/* ---- Transfers with progress, into memory, and any item's facts ---------------------------- */

/* A long transfer that reports its progress and can be cancelled, the item's data or thumbnail
   in the host's memory, and the name, size, format and time of any item handle (an event's
   picture found with FindCameraItem, say) without listing the camera. These five came after the
   83 of 1.3 and follow the conventions of the camera contents functions: found by name
   (GetProcAddress) by a host that must also run with an older Fotex.dll; FOTEX_OK (1) or a
   negative HRESULT; nothing is printed. */

/* The transfer was cancelled by the progress routine (HRESULT_FROM_WIN32(ERROR_CANCELLED)). */
#define FOTEX_E_CANCELLED ((int)0x800704C7L)

/* Called during a transfer with the percentage done (0 to 100, never decreasing) as the service
   reports it. The call with 100 comes once, when the data is complete (for a save, before the
   file takes its name). Return 0 to go on; any other value cancels the transfer, which then
   returns FOTEX_E_CANCELLED. cdecl, like every export.
   The thread is the service's choice. When the calling thread is in a single-threaded apartment
   (the one loading the DLL makes), the routine runs on the calling thread, inside the transfer,
   as a message handler does: it may update windows and call Fotex. When the calling thread is in
   the multithreaded apartment, the service may call it on a thread of its own while the calling
   thread waits inside the transfer: the routine may then only keep the percentage, post messages
   (PostMessage; a SendMessage to the waiting thread's windows never returns) and answer; it must
   not call Fotex, whose calls belong to the calling thread, one at a time. */
typedef int (FOTEX_CALL *FOTEX_PROGRESS)(void* context, int percent);

/* SaveCameraItem with progress: the same file rules, flags and statuses, and `progress` (null:
   none) is called with `context` as the transfer goes. A cancel leaves no file and no temporary
   file, and the item stays on the camera even with FOTEX_SAVE_DELETE.
   Returns what SaveCameraItem returns, and FOTEX_E_CANCELLED. */
int FOTEX_CALL SaveCameraItemWithProgress(FOTEX_ITEM item, const wchar_t* file_name, int format, int flags,
                                          FOTEX_PROGRESS progress, void* context);

/* Transfers the item's data in `format` (FOTEX_FORMAT_*, FOTEX_FORMAT_NATIVE included; an
   unlisted code means JPEG) into `buffer`, `capacity` bytes, and stores the byte count in *size.
   The data comes through the service's memory transfer when the item offers one, else through a
   temporary file that is always removed. `progress` (null: none) works as for
   SaveCameraItemWithProgress. Nothing is ever written past `capacity`; on failure the first
   `capacity` bytes may hold part of the data. Success means every byte from the first to
   *size arrived; *size never counts a byte that did not.
   Asking for the size costs one transfer, the only one: a null buffer with capacity 0 (or any
   capacity too small) transfers the data and, up to 64 MiB (67,108,864 bytes), keeps it
   in the library, so that the next ReadCameraItem of the same item in the same format copies
   it from memory without reaching the camera (its progress routine is called once, with 100);
   a capacity still too small keeps it again. The kept data goes with the release of the
   handle (ReleaseCameraItem, TransferPicture, CloseWiaDevice of a device handle), with any
   other Fotex call for that item, and with the next read that does not fit (one read is kept
   at a time); a larger item is transferred again by the second call.
   Returns FOTEX_OK; FOTEX_E_HANDLE item is 0; FOTEX_E_POINTER size is null, or buffer is null
   with a capacity above 0; FOTEX_E_INVALIDARG capacity is negative; FOTEX_E_INSUFFICIENT_BUFFER
   the data needs more than `capacity` (*size receives the bytes needed: call again with that
   capacity); FOTEX_E_FOLDER; FOTEX_E_FORMAT the camera refuses the format for this item, or
   delivers data of another format than the one asked for; FOTEX_E_INCOMPLETE the camera's data
   did not arrive whole (a part the library had to refuse, a gap between parts, a part longer
   than what came with it); FOTEX_E_NOT_FOUND FOTEX_FORMAT_NATIVE for an item that names no
   format of its own; FOTEX_E_CANCELLED; FOTEX_E_OVERFLOW data beyond 2,147,483,647 bytes;
   or the service's or the file system's HRESULT. *size is written only with FOTEX_OK and
   FOTEX_E_INSUFFICIENT_BUFFER. */
int FOTEX_CALL ReadCameraItem(FOTEX_ITEM item, int format, void* buffer, int capacity, int* size,
                              FOTEX_PROGRESS progress, void* context);

/* Copies the item's thumbnail into `buffer` as the bytes of the 24-bit BMP file that
   SaveCameraThumbnail writes, with the capacity rule of ReadCameraItem.
   Width and height may come in any integer type.
   Returns FOTEX_OK; FOTEX_E_HANDLE; FOTEX_E_POINTER; FOTEX_E_INVALIDARG;
   FOTEX_E_INSUFFICIENT_BUFFER (*size receives the bytes needed); FOTEX_E_FOLDER;
   FOTEX_E_NOT_FOUND the item has no thumbnail; FOTEX_E_VALUE (invalid data); or the service's
   HRESULT. */
int FOTEX_CALL ReadCameraThumbnail(FOTEX_ITEM item, void* buffer, int capacity, int* size);

/* GetCameraItemText and GetCameraItemValue for any item handle (from OpenCameraItem,
   FindCameraItem or TakeAPicture): the same `what` values, buffer rules and statuses, except
   that FOTEX_E_BOUNDS does not occur and FOTEX_ITEM_TYPE is read from the camera. Each call
   reads the camera. */
int FOTEX_CALL GetItemText(FOTEX_ITEM item, int what, void* text, int bytes);
int FOTEX_CALL GetItemValue(FOTEX_ITEM item, int what, int* value);

/* ---- New items, for tethering ------------------------------------------------------------- */

/* The items that came onto the camera since the previous look, whether or not the camera's events
   told of them: a camera's events may be lost, come twice, come late or name an item already
   gone (through the WIA-WPD layer item events may not come at all). A tethering host waits for
   an event or a timeout, then calls this, then saves each item listed. Came after the 83 of 1.3
   with the conventions of the camera contents functions: found by name (GetProcAddress).
   Returns FOTEX_OK (1) or a negative HRESULT; nothing is printed. */

/* The flags of ListNewCameraItems; other bits are refused. */
#define FOTEX_NEW_RESET 1 /* take what is on the camera now as seen, and list none */

/* Lists, into the handle's list exactly as ListCameraItems does (GetCameraItemText,
   GetCameraItemValue, OpenCameraItem take it), the image and video items on the camera now that
   were not there at the previous ListNewCameraItems for this handle, in the camera's order, and
   writes their number to *count. The first call for a handle, or one with FOTEX_NEW_RESET, takes
   what is there as seen and lists none (*count 0). An item is the same item when its full name,
   size and time are the same: a card emptied and refilled gives new items under old names, and
   an item deleted and taken again with the same name is new when its size or time differ. The
   walk is that of ListCameraItems; the camera is asked for the types and facts of the item
   objects the previous look did not have alone (and for the folders' types), so that a look at a
   full camera costs at most about one ListCameraItems and, out of process, far less: two calls
   per folder and one per 32 items beside those of the new items (an item object the service
   keeps is taken as the item it was, with its type). An item gone from the camera while it is
   looked at is neither listed nor taken as seen.
   What counts as seen belongs to the handle and holds its own references to the items, until
   the handle is given back (CloseWiaDevice, ReleaseCameraItem) or the DLL is unloaded. The look
   is made aside and takes effect when complete: a failed call changes neither the handle's list
   nor what counts as seen, so the next call lists what this one would have.
   Returns FOTEX_OK; FOTEX_E_HANDLE device is 0; FOTEX_E_POINTER count is null;
   FOTEX_E_INVALIDARG an unknown flag; FOTEX_E_BUSY called for this handle from a message handler
   that runs inside another ListNewCameraItems of it; the statuses of ListCameraItems' walk; or the
   service's HRESULT when an item's facts could not be read. On every failure *count is not
   written. */
int FOTEX_CALL ListNewCameraItems(FOTEX_DEVICE device, int flags, int* count);

/* ---- API level: which functions a DLL has ---------------------------------------------------- */

/* Every build keeps the version texts and resource of 1.3 (VexaVersionInfo: "Fotex 1.3",
   "1.3.0.0"), whatever functions it has. The API level says which: each level adds one group of
   functions to those of the levels below it, in the order the groups came, and no level takes
   one away. Each group is named with its count and its first function (as Fotex.def lists them):

     level 1 (83 functions, from VexaVersionInfo): those of Fotex 1.3
     level 2 (10 functions, from ListCameraItems): camera contents
     level 3 (3 functions, from GetSettingChoices): setting choices and camera events
     level 4 (7 functions, from GetSetting): settings by property id
     level 5 (5 functions, from SaveCameraItemWithProgress): transfers with progress, into
             memory, and any item's facts
     level 6 (1 function, from GetFotexApiLevel): the API level
     level 7 (1 function, from ListNewCameraItems): new items, for tethering
     level 8 (3 functions, from SetFotexOption): a camera's conditions, options and the log

   Levels 1 to 5 hold 108 functions, levels 1 to 6 hold 109, levels 1 to 7 hold 110, levels 1 to 8
   hold 113. Functions added later come in later levels.

   A host finds GetFotexApiLevel by name (GetProcAddress): a DLL without it is of level 5 or
   below, where a host finds each function it needs by name, as the sections above say. The CMake
   package's version is 1.3.L, L the level of its DLLs, so find_package(Fotex 1.3.6) accepts
   only a kit with this function. */

/* The level this header declares. */
#define FOTEX_API_LEVEL 8

/* Returns the API level of this Fotex.dll (6 or more): every function of that level and the
   levels below it is exported. Needs no device, may be called from any thread, prints nothing. */
int FOTEX_CALL GetFotexApiLevel(void);
/* ---- A camera's conditions: options and the log ---------------------------------------------- */

/* A camera that is busy (after a shot, or held by another program) is asked again; one that went
   away (asleep, unplugged, or the service's process ended) is opened again from its device id;
   the library's trace lines can go to the host. These three came after the 83 of 1.3 and follow
   the conventions of the camera contents functions: found by name (GetProcAddress); FOTEX_OK (1)
   or a negative HRESULT. The options are process-wide and may be set at any time.

   Busy: a call that reaches the device and gets WIA_ERROR_BUSY (0x80210006) is made again after
   20 ms, then 40, 80, ... up to 500 ms between tries, until the busy wait is spent (the device
   did nothing meanwhile, so a picture is taken once). While it waits, window messages are
   handled as WaitForCameraEvent handles them (a thread message stays in the queue). A device
   still busy then: the later functions return FOTEX_E_DEVICE_BUSY, those of 1.3 what they
   return for any failure. Each try is traced ("The camera is busy; trying again in 20 ms:
   HRESULT: 0x80210006").
   Reconnect: when a call on a device handle finds the device gone (FOTEX_E_OFFLINE, or the
   service's process ended), the device is opened again once from its id; on success the handle
   reaches the new device from then on (its value stays; the old object is released by
   CloseWiaDevice with the new one) and the call is made once more; an event registration of
   WaitForCameraEvent is made again when the service had ended. Items, item handles and lists
   made before keep the old objects, which go on failing: list again (ListCameraItems) to reach
   the new ones. TransferAllImages stops where the device went away, without starting over: call
   it again. Traced as "The camera came back; its device was opened again". */
#define FOTEX_OPTION_BUSY_WAIT 1 /* milliseconds, 0 to 60000 (0: one try only); 3000 at first */
#define FOTEX_OPTION_RECONNECT 2 /* 1 (at first) reconnects as above, 0 does not */

/* Sets an option. Returns FOTEX_OK; FOTEX_E_INVALIDARG an unknown option or a value out of its
   range (the option is unchanged). */
int FOTEX_CALL SetFotexOption(int option, int value);

/* Stores an option's value in *value. Returns FOTEX_OK; FOTEX_E_POINTER value is null;
   FOTEX_E_INVALIDARG an unknown option (*value is unchanged). */
int FOTEX_CALL GetFotexOption(int option, int* value);

/* Receives one trace line: UTF-8, NUL-terminated, without its newline, valid during the call. It
   may come on any thread, several at once; it must not call Fotex. cdecl, like every export. */
typedef void (FOTEX_CALL *FOTEX_LOG)(void* context, const char* line);

/* While `routine` is set, every trace line (those the functions above print, and the lines of
   each busy retry, reconnect and event renewal) goes to it with `context`, instead of standard
   output; null restores standard output. Returns FOTEX_OK. */
int FOTEX_CALL SetFotexLog(FOTEX_LOG routine, void* context);

#ifdef __cplusplus
}
#endif

#endif /* FOTEX_H */

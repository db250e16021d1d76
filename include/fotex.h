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
#if defined(_WIN64) && defined(_MSC_VER)
typedef __int64 FOTEX_HANDLE;
#elif defined(_WIN64)
__extension__ typedef long long FOTEX_HANDLE; /* no warning for long long in C89 */
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

/* ---- Device commands and queries ---------------------------------------------------------- */

/* Asks the device which commands it offers. Sets *take_picture and *delete_all to 1 when it
   offers take picture or delete all, else to 0 (a null flag pointer is skipped).
   Returns the number of commands the device offers in all (0 when none), or: -3 device is 0;
   -2 the capabilities could not be asked for; -5 the device gave no capability list; -1 the list
   could not be reset (on -3, -2, -5 and -1 the flags are untouched); -4 the list could not be
   counted (both flags 0); -6 a capability could not be read (the flags of those read before it
   are set). Prints nothing. */
int FOTEX_CALL EnumDeviceCap(FOTEX_DEVICE device, int* take_picture, int* delete_all);

/* Asks the camera to delete all its pictures and videos. Reports nothing; does nothing when
   device is 0. */
void FOTEX_CALL DeleteAll(FOTEX_DEVICE device);

/* Has the camera take a picture and stores the new picture's item handle in *item; the caller
   owns it and hands it to TransferPicture, which releases it. When the camera refuses, shows the
   modal box "error taking picture" (caption "Info", stop icon) and returns once it is closed;
   *item then holds whatever the service left there. Does nothing when device is 0 or item is
   null. */
void FOTEX_CALL TakeAPicture(FOTEX_DEVICE device, FOTEX_ITEM* item);

/* Reads the camera's counts of pictures taken and pictures remaining into *taken and
   *remaining; a count the camera does not give as a 32-bit integer is left unchanged (as is a
   null pointer). Returns 1 read; -1 the read failed; -2 the device has no property storage;
   -3 device is 0. On failure neither count is written. Prints nothing. */
int FOTEX_CALL GetStorageInfo(FOTEX_DEVICE device, int* taken, int* remaining);

/* ---- Transfer ----------------------------------------------------------------------------- */

/* Format codes of TransferPicture and TransferAllImages, with the extension appended:
   0 BMP .bmp, 1 EMF .emf, 2 WMF .wmf, 3 JPEG .jpg, 4 PNG .png, 5 GIF .gif, 6 TIFF .tiff,
   7 EXIF .exif, 8 PhotoCD .pcd, 9 FlashPix .fpix, 10 ICO .ico, 11 CIFF .ciff, 12 PICT .pict,
   13 JPEG 2000 .jpg, 14 JPEG 2000 (JPX) .jpg, 15 raw RGB .raw, 128 AVI .avi, 129 MPEG .mpg.
   Every other code transfers JPEG and appends nothing. */
#define FOTEX_FORMAT_BMP 0
#define FOTEX_FORMAT_JPEG 3
#define FOTEX_FORMAT_PNG 4
#define FOTEX_FORMAT_AVI 128
#define FOTEX_FORMAT_MPG 129

/* Room a name buffer needs beyond the name: the longest extension and the terminator. */
#define FOTEX_EXTENSION_ROOM 6

/* Transfers the picture `item` (from TakeAPicture) into a file and releases the handle, whatever
   the outcome: do not use it again. `name` is the caller's NUL-terminated ANSI buffer holding the
   file name without extension (C:\pics\shot); the extension of `format` is appended to it in
   place, so it needs FOTEX_EXTENSION_ROOM bytes beyond the name. The complete name may be at most
   127 UTF-16 units: a longer one prints "File name too long: HRESULT: 0x800700CE" and leaves the
   buffer, the item and the file system alone. With delete_flag exactly 1 the picture is deleted
   from the camera after a successful transfer. An existing file of that name is replaced.
   Nothing is returned: failures print a line ("pWiaDataTransfer->idtGetData failed: HRESULT:
   ..." and others). Does nothing when item is 0; with a null name only the handle is released. */
void FOTEX_CALL TransferPicture(FOTEX_ITEM item, char* name, int format, int delete_flag);

/* Transfers every image and video item of the device into files named
   folder\prefix<number><extension>, the number right-aligned in eight characters ("img       3.jpg"),
   walking the camera's tree depth first. Images and videos are numbered by two counters that
   start at 0 when the DLL is loaded and continue across calls and devices. An existing file is
   never replaced: the item then goes to the first free name with "~1", "~2", ... before the
   extension. Each complete name may be at most 127 UTF-16 units. With delete_flag exactly 1 each
   item is deleted after its successful transfer. The walk stops at the first failure (printing
   its line) and at 64 levels below the root ("Item tree too deep: HRESULT: 0x800703E9"); files
   written before stay. Does nothing when device is 0, folder or prefix is null. */
void FOTEX_CALL TransferAllImages(FOTEX_DEVICE device, const char* folder, const char* prefix, int format,
                                  int delete_flag);

/* Shows the system's acquisition dialog for the device (parent: the owner window's HWND, may be
   0); the picture the user picks is written as JPEG to C:\kalto.jpg. When the dialog fails, shows
   the modal box "Open UI error: <result in hex>" (caption "Info", stop icon), preceded by "No UI is
   available" when the system has no dialog. Returns 1 the dialog was called (whatever its
   outcome); -1 device is 0; -2 the device manager could not be created (prints
   "CoCreateInstance failed on CLSID_WiaDevMgr: HRESULT: ..."). */
int FOTEX_CALL ImageTransferDialog(FOTEX_HANDLE parent, FOTEX_DEVICE device);
/* ---- Camera settings ---------------------------------------------------------------------- */

/* One getter per camera setting and a setter for each writable one; each reads or writes one
   property of the open device (WIA_DPC_*, id in the comment) and keeps no copy of it. The
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
     1  the camera accepted the read or the write
    -1  the camera refused the read or the write (including a setting it does not have), the
        text was too long, or value/text is null
    -2  the handle yields no property storage
    -3  device is 0
   On any status but 1 nothing is written to *value or to the buffer. Nothing is printed. */
int FOTEX_CALL GetExposureMode(FOTEX_DEVICE device, int* value); /* 2052 EXPOSURE_MODE */
int FOTEX_CALL SetExposureMode(FOTEX_DEVICE device, int value);
int FOTEX_CALL GetExposureComp(FOTEX_DEVICE device, int* value); /* 2053 EXPOSURE_COMP */
int FOTEX_CALL SetExposureComp(FOTEX_DEVICE device, int value);
int FOTEX_CALL GetExposureTime(FOTEX_DEVICE device, int* value); /* 2054 EXPOSURE_TIME */
int FOTEX_CALL SetExposureTime(FOTEX_DEVICE device, int value);
int FOTEX_CALL GetFNumber(FOTEX_DEVICE device, int* value); /* 2055 FNUMBER */
int FOTEX_CALL SetFNumber(FOTEX_DEVICE device, int value);
int FOTEX_CALL GetFlashMode(FOTEX_DEVICE device, int* value); /* 2056 FLASH_MODE */
int FOTEX_CALL SetFlashMode(FOTEX_DEVICE device, int value);
int FOTEX_CALL GetFocusMode(FOTEX_DEVICE device, int* value); /* 2057 FOCUS_MODE */
int FOTEX_CALL SetFocusMode(FOTEX_DEVICE device, int value);
int FOTEX_CALL GetPanPosition(FOTEX_DEVICE device, int* value); /* 2060 PAN_POSITION */
int FOTEX_CALL SetPanPos(FOTEX_DEVICE device, int value);
int FOTEX_CALL GetTiltPosition(FOTEX_DEVICE device, int* value); /* 2061 TILT_POSITION */
int FOTEX_CALL SetTiltPos(FOTEX_DEVICE device, int value);
int FOTEX_CALL GetTimerMode(FOTEX_DEVICE device, int* value); /* 2062 TIMER_MODE */
int FOTEX_CALL SetTimerMode(FOTEX_DEVICE device, int value);
int FOTEX_CALL GetTimerValue(FOTEX_DEVICE device, int* value); /* 2063 TIMER_VALUE */
int FOTEX_CALL SetTimerValue(FOTEX_DEVICE device, int value);
int FOTEX_CALL GetPowerMode(FOTEX_DEVICE device, int* value); /* 2064 POWER_MODE, read only */
int FOTEX_CALL GetBatteryStatus(FOTEX_DEVICE device, int* value); /* 2065 BATTERY_STATUS, read only */
int FOTEX_CALL GetThumbWidth(FOTEX_DEVICE device, int* value); /* 2066 THUMB_WIDTH */
int FOTEX_CALL SetThumbWidth(FOTEX_DEVICE device, int value);
int FOTEX_CALL GetThumbHeight(FOTEX_DEVICE device, int* value); /* 2067 THUMB_HEIGHT */
int FOTEX_CALL SetThumbHeight(FOTEX_DEVICE device, int value);
int FOTEX_CALL GetPictWidth(FOTEX_DEVICE device, int* value); /* 2068 PICT_WIDTH */
int FOTEX_CALL SetPictWidth(FOTEX_DEVICE device, int value);
int FOTEX_CALL GetPictHeight(FOTEX_DEVICE device, int* value); /* 2069 PICT_HEIGHT */
int FOTEX_CALL SetPictHeight(FOTEX_DEVICE device, int value);
int FOTEX_CALL GetComprSetting(FOTEX_DEVICE device, int* value); /* 2071 COMPRESSION_SETTING */
int FOTEX_CALL SetComprSetting(FOTEX_DEVICE device, int value);
int FOTEX_CALL GetTimeLapseInterval(FOTEX_DEVICE device, int* value); /* 2073 TIMELAPSE_INTERVAL */
int FOTEX_CALL SetTimeElapseInterval(FOTEX_DEVICE device, int value);
int FOTEX_CALL GetTimeLapseNumber(FOTEX_DEVICE device, int* value); /* 2074 TIMELAPSE_NUMBER */
int FOTEX_CALL SetTimeLapseNumber(FOTEX_DEVICE device, int value);
int FOTEX_CALL GetBurstInterval(FOTEX_DEVICE device, int* value); /* 2075 BURST_INTERVAL */
int FOTEX_CALL SetBurstInterval(FOTEX_DEVICE device, int value);
int FOTEX_CALL GetBurstNumber(FOTEX_DEVICE device, int* value); /* 2076 BURST_NUMBER */
int FOTEX_CALL SetBurstNumber(FOTEX_DEVICE device, int value);
int FOTEX_CALL GetEffectMode(FOTEX_DEVICE device, int* value); /* 2077 EFFECT_MODE */
int FOTEX_CALL SetEffectMode(FOTEX_DEVICE device, int value);
int FOTEX_CALL GetDigitalZoom(FOTEX_DEVICE device, int* value); /* 2078 DIGITAL_ZOOM */
int FOTEX_CALL SetDigitalZoom(FOTEX_DEVICE device, int value);
int FOTEX_CALL GetSharpness(FOTEX_DEVICE device, int* value); /* 2079 SHARPNESS */
int FOTEX_CALL SetSharpness(FOTEX_DEVICE device, int value);
int FOTEX_CALL GetContrast(FOTEX_DEVICE device, int* value); /* 2080 CONTRAST */
int FOTEX_CALL SetContrast(FOTEX_DEVICE device, int value);
int FOTEX_CALL GetCaptMode(FOTEX_DEVICE device, int* value); /* 2081 CAPTURE_MODE */
int FOTEX_CALL SetCaptMode(FOTEX_DEVICE device, int value);
int FOTEX_CALL GetCaptDelay(FOTEX_DEVICE device, int* value); /* 2082 CAPTURE_DELAY */
int FOTEX_CALL SetCaptDelay(FOTEX_DEVICE device, int value);
int FOTEX_CALL GetExposIndex(FOTEX_DEVICE device, int* value); /* 2083 EXPOSURE_INDEX */
int FOTEX_CALL SetExposureIndex(FOTEX_DEVICE device, int value);
int FOTEX_CALL GetExposMetMode(FOTEX_DEVICE device, int* value); /* 2084 EXPOSURE_METERING_MODE */
int FOTEX_CALL SetExposMetMode(FOTEX_DEVICE device, int value);
int FOTEX_CALL GetFocusMetMode(FOTEX_DEVICE device, int* value); /* 2085 FOCUS_METERING_MODE */
int FOTEX_CALL SetFocusMetMode(FOTEX_DEVICE device, int value);
int FOTEX_CALL GetFocusDist(FOTEX_DEVICE device, int* value); /* 2086 FOCUS_DISTANCE */
int FOTEX_CALL SetFocusDist(FOTEX_DEVICE device, int value);
int FOTEX_CALL GetFocusLength(FOTEX_DEVICE device, int* value); /* 2087 FOCAL_LENGTH, read only */
int FOTEX_CALL GetRGBGain(FOTEX_DEVICE device, void* text); /* 2088 RGB_GAIN */
int FOTEX_CALL SetRGBGain(FOTEX_DEVICE device, const char* text);
int FOTEX_CALL GetWhiteBalance(FOTEX_DEVICE device, int* value); /* 2089 WHITE_BALANCE */
int FOTEX_CALL SetWhiteBalance(FOTEX_DEVICE device, int value);
int FOTEX_CALL GetUploadURL(FOTEX_DEVICE device, void* text); /* 2090 UPLOAD_URL */
int FOTEX_CALL SetUploadURL(FOTEX_DEVICE device, const char* text);
int FOTEX_CALL GetArtist(FOTEX_DEVICE device, void* text); /* 2091 ARTIST */
int FOTEX_CALL SetArtist(FOTEX_DEVICE device, const char* text);
int FOTEX_CALL GetCopyRight(FOTEX_DEVICE device, void* text); /* 2092 COPYRIGHT_INFO */
int FOTEX_CALL SetCopyRight(FOTEX_DEVICE device, const char* text);

#ifdef __cplusplus
}
#endif

#endif /* FOTEX_H */

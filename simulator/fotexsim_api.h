/* FotexSim.dll: a virtual camera that a host registers in its own process, so that it can
   call Fotex.dll without a camera attached. */
#ifndef FOTEXSIM_API_H
#define FOTEXSIM_API_H

#ifndef __cplusplus
#include <stddef.h>
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Registers the default virtual camera for the image-acquisition service's class, in the calling
   process and on the calling thread, which must have initialised COM (Fotex.dll does so on the
   thread that loads it: load Fotex.dll first, then call this from the same thread).
   Returns 1 on success, 0 when it is registered already, or the negative HRESULT of the
   registration. */
int __cdecl FotexSimRegister(void);

/* Revokes the registration; the service's objects that are still held stay valid until released. */
void __cdecl FotexSimRevoke(void);

/* Adds a camera whose items are the picture and video files under `folder` (UTF-16 path,
   NUL-terminated): .jpg/.jpeg/.jpe, .png, .bmp, .gif, .tif/.tiff, .heic/.heif and the RAW
   files .dng, .nef/.nrw, .cr2, .cr3, .crw, .arw, .orf, .rw2, .raf, .pef and .srw are pictures,
   .avi, .mpg/.mpeg, .mp4/.m4v, .mov and .mts videos; each item gives its file's format as
   WIA_IPA_PREFERRED_FORMAT (a format GUID of the camera's own where WIA has none) and its
   extension as WIA_IPA_FILENAME_EXTENSION; subfolders become camera folders, names starting with "." are skipped. The
   camera is named `name` (null: "Fotex Folder Camera") and listed after the default ones; call
   it before or after FotexSimRegister, then enumerate again.
   Each item transfers its file's bytes unchanged in the file's own format and refuses every other
   format, as a camera does. Thumbnails are the pictures scaled into 160 x 120 (JPEG, PNG, BMP and
   GIF; TIFF files and videos have none). Item names are the file names without extension, times
   the files' last-write times; files of one folder that share a name without extension (a
   RAW+JPEG pair) keep their extensions in their full names ("0002\Root\IMG_0010.jpg" and
   "0002\Root\IMG_0010.cr2"), so that each full name is one item's. Sizes beyond 2,147,483,647
   bytes are given whole, as 64-bit values. Deleting items or taking pictures changes the camera only: the
   files in the folder are never changed, and a new picture is generated.
   Returns 1 on success, or a negative HRESULT: E_POINTER (0x80004003) folder is null; the file
   system's error when the folder does not exist or cannot be read. */
int __cdecl FotexSimAddFolderCamera(const wchar_t* folder, const wchar_t* name);

/* Things that happen to a camera by themselves; `camera` is the index of the device as
   EnumerateWiaDevices lists the virtual cameras: 0 "Fotex Virtual Camera", 1 "Fotex Pocket
   Camera", then the folder cameras, 2, 3, ... in the order FotexSimAddFolderCamera added them
   (its first folder camera is 2, whether added before or after FotexSimRegister). Each raises its event for the hosts that registered (WaitForCameraEvent): it is
   posted to the registering thread, which receives it only while it handles its messages, as
   the service's events reach a host. They may be called from any thread, as long as no other
   thread is inside a call to Fotex.dll then, except WaitForCameraEvent.

   FotexSimPressShutter: a picture taken with the camera's own button, a new item in its first
   folder; FOTEX_EVENT_ITEM_CREATED with the item's full name. Returns 1, or 0 when there is no
   such camera or it is unplugged.
   FotexSimUnplug: the camera goes offline (every call on its open handles fails, and it cannot
   be opened); FOTEX_EVENT_DEVICE_DISCONNECTED. FotexSimPlugIn: back again, and its open handles
   work again; FOTEX_EVENT_DEVICE_CONNECTED. Each returns 1, or 0 when there is no such camera or
   it is already unplugged (plugged in).
   The camera also raises FOTEX_EVENT_ITEM_CREATED for TakeAPicture, FOTEX_EVENT_ITEM_DELETED for
   each item deleted on its own, and FOTEX_EVENT_TREE_UPDATED for DeleteAll.
   Before FotexSimRegister has been called, all three return 0. */
int __cdecl FotexSimPressShutter(int camera);
int __cdecl FotexSimUnplug(int camera);
int __cdecl FotexSimPlugIn(int camera);

/* Slows the transfers of camera `camera` (numbered as above) to `bytes_per_second` (0: full
   speed, the default), so that a host sees a transfer's progress and can cancel it. Transfers
   report their progress to the host's callback at least every 64 KiB either way. May be called
   before FotexSimRegister and from any thread, as FotexSimPressShutter, FotexSimUnplug and
   FotexSimPlugIn.
   Returns 1, or 0 when there is no such camera or the rate is negative. */
int __cdecl FotexSimSetTransferRate(int camera, int bytes_per_second);

/* FotexSimPressShutter with the name the camera gives the picture (any text) and, when
   `extension` is not null, its file name extension. Returns 1, or 0 as FotexSimPressShutter, and
   when name is null. */
int __cdecl FotexSimPressShutterNamed(int camera, const wchar_t* name, const wchar_t* extension);

/* Faults for hosts that test their failure paths, on every virtual camera. The `nth` transfer
   from now (1 the next one) writes the first half of its data, then fails with `hresult`, as a
   camera unplugged part-way or a disk that fills up; with `hresult` 0 (S_OK) it reports success,
   as a faulty service that takes a short write for a whole one. The `nth` deletion of an item fails with
   `hresult`. Each returns 1, or 0 before the camera exists (FotexSimRegister or
   FotexSimAddFolderCamera first) or when nth is below 1. */
int __cdecl FotexSimCutTransfer(int hresult, int nth);
int __cdecl FotexSimFailDelete(int hresult, int nth);

/* How camera `camera` (numbered as above) sends its item events (FOTEX_EVENT_ITEM_CREATED,
   _ITEM_DELETED, _TREE_UPDATED), as real cameras and the layers between them do; connection
   events always come. `value` is the share lost in percent (1 to 100) for FOTEXSIM_EVENTS_LOST,
   the delay in milliseconds (0 to 600000) for FOTEXSIM_EVENTS_LATE, and 0 for the others.
   FOTEXSIM_EVENTS_DELETED_FIRST: each picture goes into the camera's memory first, as an item
   "CAPT_TMP" that is deleted before its FOTEX_EVENT_ITEM_CREATED can be delivered (its
   FOTEX_EVENT_ITEM_DELETED follows), then onto the card as the picture with its own event.
   Lost events are spread evenly (30: the 4th, 7th, 10th, ...). May be called before
   FotexSimRegister, as FotexSimSetTransferRate.
   Returns 1, or 0 when there is no such camera or the mode or value is not one of these. */
#define FOTEXSIM_EVENTS_ALL 0
#define FOTEXSIM_EVENTS_NONE 1
#define FOTEXSIM_EVENTS_LOST 2
#define FOTEXSIM_EVENTS_TWICE 3
#define FOTEXSIM_EVENTS_LATE 4
#define FOTEXSIM_EVENTS_DELETED_FIRST 5
int __cdecl FotexSimSetEventMode(int camera, int mode, int value);
/* Conditions a real camera meets, for camera `camera` (numbered as above). While busy, every call
   on the camera's objects answers WIA_ERROR_BUSY (0x80210006); while asleep, WIA_ERROR_OFFLINE
   (0x80210005), and it cannot be opened, though it stays listed.
   FOTEXSIM_BUSY_AFTER_SHOT: busy for `value` milliseconds after each picture taken (0: never).
   FOTEXSIM_HELD: 1, another program holds the camera (busy); 0, it lets go.
   FOTEXSIM_ASLEEP: 1, asleep; 0, woken.
   FOTEXSIM_UNPLUG_AFTER: the camera is unplugged (as FotexSimUnplug) once its transfers have
   moved `value` more bytes, in the middle of the transfer that reaches it: that one answers
   WIA_ERROR_OFFLINE, and a file transfer leaves the partial file the service wrote. -1 cancels.
   FOTEXSIM_PLUG_IN_ANEW: an unplugged camera comes back with the same device id and a new root
   item, as after its driver started over: the objects handed out before answer
   WIA_ERROR_OFFLINE; its pictures are the same. `value` is unused.
   Returns 1, or 0 when there is no such camera, or the condition or value is unknown. May be
   called from any thread, as FotexSimUnplug. */
#define FOTEXSIM_BUSY_AFTER_SHOT 1
#define FOTEXSIM_HELD 2
#define FOTEXSIM_ASLEEP 3
#define FOTEXSIM_UNPLUG_AFTER 4
#define FOTEXSIM_PLUG_IN_ANEW 5
int __cdecl FotexSimSetCondition(int camera, int condition, int value);

/* How camera `camera` (numbered as above) presents its contents to hosts.
   FOTEXSIM_PROFILE_TREE: the camera's own tree, as above (the default).
   FOTEXSIM_PROFILE_PTP: as Windows' compatibility layer over the PTP/MTP driver presents a real
   camera. Every folder is flattened into the root; item names carry no extension, which is in
   WIA_IPA_FILENAME_EXTENSION; an object without a name gets a generated one, "Image" and its
   number ("Image5"); formats WIA has no GUID for (RAW files, HEIF, MP4, MOV, ...) are
   WiaImgFmt_UNDEFINED, their bytes unchanged; every picture and video has a thumbnail and its
   width and height (a RAW file shows the picture of the JPEG of its name); the built-in
   cameras shoot RAW+JPEG: each generated picture is a RAW item (extension "nef", the picture's
   pixels under a header of the camera's own) followed by the JPEG of the same name, and so are
   their later pictures. Items that share a name have distinct full names: the first in the
   camera's order has "0002\Root\IMG_0010", each later one its extension after the name
   ("0002\Root\IMG_0010.JPG"), and a number before the extension when that is taken too
   ("0002\Root\IMG_0010~2.JPG", a name two DCIM folders share).
   The camera's items as they are now are presented so at once, as new objects: an item or
   folder a host held before answers WIA_ERROR_ITEM_DELETED; a camera in the PTP profile stays
   in it. May be called before FotexSimRegister, as FotexSimSetTransferRate.
   Returns 1, or 0 when there is no such camera or profile, or the camera is in the PTP profile
   and FOTEXSIM_PROFILE_TREE is asked. */
#define FOTEXSIM_PROFILE_TREE 0
#define FOTEXSIM_PROFILE_PTP 1
int __cdecl FotexSimSetProfile(int camera, int profile);

#ifdef __cplusplus
}
#endif

#endif

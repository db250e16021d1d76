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
   NUL-terminated): .jpg/.jpeg/.jpe, .png, .bmp, .gif and .tif/.tiff are pictures, .avi and
   .mpg/.mpeg videos; subfolders become camera folders, names starting with "." are skipped. The
   camera is named `name` (null: "Fotex Folder Camera") and listed after the default ones; call
   it before or after FotexSimRegister, then enumerate again.
   Each item transfers its file's bytes unchanged in the file's own format and refuses every other
   format, as a camera does. Thumbnails are the pictures scaled into 160 x 120 (JPEG, PNG, BMP and
   GIF; TIFF files and videos have none). Item names are the file names without extension, times
   the files' last-write times. Deleting items or taking pictures changes the camera only: the
   files in the folder are never changed, and a new picture is generated.
   Returns 1 on success, or a negative HRESULT: E_POINTER (0x80004003) folder is null; the file
   system's error when the folder does not exist or cannot be read. */
int __cdecl FotexSimAddFolderCamera(const wchar_t* folder, const wchar_t* name);

#ifdef __cplusplus
}
#endif

#endif

/* FotexSim.dll: a virtual camera that a host registers in its own process, so that it can
   call Fotex.dll without a camera attached. */
#ifndef FOTEXSIM_API_H
#define FOTEXSIM_API_H

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

#ifdef __cplusplus
}
#endif

#endif

/* Compiled by header_compile_test.sh for both machines, as C89 and as C++98, strict, with and
   without <windows.h> around it: what a host's first line of code meets. */
#ifdef FOTEX_WINDOWS_FIRST
#include <windows.h>
#endif
#include "fotex.h"
#include "fotexsim_api.h"
#ifdef FOTEX_WINDOWS_AFTER
#include <windows.h>
#endif

/* The handle holds a pointer: 32 bits in the i686 build, 64 in the x86_64 build. */
typedef char handle_holds_a_pointer[sizeof(FOTEX_HANDLE) == sizeof(void*) ? 1 : -1];
typedef char device_and_item_are_handles[sizeof(FOTEX_DEVICE) == sizeof(FOTEX_ITEM) ? 1 : -1];
typedef char status_is_32_bits[sizeof(int) == 4 ? 1 : -1];
typedef char formats_fit_a_byte[FOTEX_FORMAT_MPG == 129 && FOTEX_FORMAT_RAWRGB == 15 ? 1 : -1];
typedef char text_is_64_units[FOTEX_TEXT_BYTES == 128 ? 1 : -1];

/* Function pointer types as a host declares them for GetProcAddress. */
typedef int(FOTEX_CALL* IntegerGetter)(FOTEX_DEVICE, int*);
typedef int(FOTEX_CALL* IntegerSetter)(FOTEX_DEVICE, int);
typedef int(FOTEX_CALL* TextGetter)(FOTEX_DEVICE, void*);
typedef int(FOTEX_CALL* TextSetter)(FOTEX_DEVICE, const char*);

int take_and_save(void);
int take_and_save(void) {
    IntegerGetter get = GetFlashMode;
    IntegerSetter set = SetFlashMode;
    TextGetter get_text = GetArtist;
    TextSetter set_text = SetArtist;
    int (*sim)(void) = FotexSimRegister;
    char name[32 + FOTEX_EXTENSION_ROOM] = "shot";
    char text[FOTEX_TEXT_BYTES];
    int count = 0, value = 0;
    FOTEX_DEVICE device = 0;
    FOTEX_ITEM item = 0;

    if (sim() != FOTEX_OK || EnumerateWiaDevices(&count) != FOTEX_OK || OpenWiaDevice(0, &device) != FOTEX_OK)
        return 0;
    if (get(device, &value) == FOTEX_ERR_NO_DEVICE || set(device, value) != FOTEX_OK) return 0;
    if (get_text(device, text) != FOTEX_OK || set_text(device, "Ann") != FOTEX_OK) return 0;
    TakeAPicture(device, &item);
    TransferPicture(item, name, FOTEX_FORMAT_JPEG, FOTEX_KEEP);
    CloseWiaDevice(&device);
    return 1;
}

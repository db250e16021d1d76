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
typedef int(FOTEX_CALL* ChoicesFn)(FOTEX_DEVICE, int, int*, int*, int*, int*, int, int*);
typedef int(FOTEX_CALL* WaitFn)(int, int*, void*, int, void*, int);
typedef void(FOTEX_CALL* StopFn)(void);

/* The settings list builds C89 tables, its kinds passed through a second macro as hosts do;
   a host's own macros named like ordinary words (Integer, Text) never meet its tokens. */
#define Integer (
#define Text )
#define SETTING_KIND(kind) KIND_##kind
#define KIND_FOTEX_KIND_INTEGER 1
#define KIND_FOTEX_KIND_READ_ONLY 2
#define KIND_FOTEX_KIND_TEXT 3
#define SETTING_ROW(kind, id, getter, setter) {SETTING_KIND(kind), id, #getter},
static const struct {
    int kind, id;
    const char* getter;
} settings[] = {FOTEX_SETTINGS(SETTING_ROW) {0, 0, 0}};
#undef Integer
#undef Text
typedef char thirty_seven_settings[sizeof settings / sizeof settings[0] == 38 ? 1 : -1];
int first_setting(void);
int first_setting(void) { return settings[0].kind + settings[0].id + (settings[0].getter[0] == 'G'); }

int take_and_save(void);
int take_and_save(void) {
    IntegerGetter get = GetFlashMode;
    IntegerSetter set = SetFlashMode;
    TextGetter get_text = GetArtist;
    TextSetter set_text = SetArtist;
    int (*sim)(void) = FotexSimRegister;
    int (*shutter)(int) = FotexSimPressShutter;
    ChoicesFn choices = GetSettingChoices;
    WaitFn wait = WaitForCameraEvent;
    StopFn stop = StopCameraEvents;
    int flash_modes[16];
    short id[FOTEX_EVENT_DEVICE_UNITS], item_name[FOTEX_EVENT_NAME_UNITS];
    int access = 0, kind = 0, nominal = 0, choices_count = 0;
    char name[32 + FOTEX_EXTENSION_ROOM] = "shot";
    char text[FOTEX_TEXT_BYTES];
    int count = 0, value = 0;
    FOTEX_DEVICE device = 0;
    FOTEX_ITEM item = 0;

    if (sim() != FOTEX_OK || EnumerateWiaDevices(&count) != FOTEX_OK || OpenWiaDevice(0, &device) != FOTEX_OK)
        return 0;
    if (get(device, &value) == FOTEX_ERR_NO_DEVICE || set(device, value) != FOTEX_OK) return 0;
    if (get_text(device, text) != FOTEX_OK || set_text(device, "Ann") != FOTEX_OK) return 0;
    if (choices(device, FOTEX_PROP_FLASH_MODE, &access, &kind, &nominal, flash_modes, 16, &choices_count) != FOTEX_OK ||
        kind != FOTEX_CHOICES_LIST || (access & FOTEX_ACCESS_WRITE) == 0)
        return 0;
    if (wait(0, &kind, id, (int)sizeof id, item_name, (int)sizeof item_name) < 0 || shutter(0) != 1) return 0;
    if (wait(-1, &kind, id, (int)sizeof id, item_name, (int)sizeof item_name) != 1 || kind != FOTEX_EVENT_ITEM_CREATED)
        return 0;
    stop();
    TakeAPicture(device, &item);
    TransferPicture(item, name, FOTEX_FORMAT_JPEG, FOTEX_KEEP);
    CloseWiaDevice(&device);
    return 1;
}

/* A C host: lists the cameras, takes a picture with the first one and saves it as a JPEG.
   Run with --virtual to use the virtual camera of FotexSim.dll instead of a real one. */
#include <windows.h>
#include <stdio.h>
#include <string.h>

#include <fotex.h>

/* UTF-16LE identity text (128 bytes, maybe unterminated) as ANSI for printing. */
static void PrintUtf16(const char* label, const char* bytes) {
    WCHAR text[65];
    char ansi[200];
    memcpy(text, bytes, FOTEX_TEXT_BYTES);
    text[64] = 0;
    WideCharToMultiByte(CP_ACP, 0, text, -1, ansi, (int)sizeof ansi, NULL, NULL);
    printf("  %s: %s\n", label, ansi);
}

static int RegisterVirtualCamera(void) {
    typedef int(__cdecl * RegisterFn)(void);
    HMODULE sim = LoadLibraryA("FotexSim.dll");
    RegisterFn reg = sim ? (RegisterFn)(void (*)(void))GetProcAddress(sim, "FotexSimRegister") : NULL;
    return reg != NULL && reg() == 1;
}

int main(int argc, char** argv) {
    int count = 0, i;
    FOTEX_DEVICE device = 0;
    FOTEX_ITEM picture = 0;
    char file[MAX_PATH] = "capture-c-picture";

    if (argc > 1 && strcmp(argv[1], "--virtual") == 0 && !RegisterVirtualCamera()) {
        fprintf(stderr, "capture: cannot register the virtual camera\n");
        return 1;
    }
    if (EnumerateWiaDevices(&count) != 1 || count == 0) {
        fprintf(stderr, "capture: no camera found\n");
        return 1;
    }
    for (i = 0; i < count; ++i) {
        char id[FOTEX_TEXT_BYTES], name[FOTEX_TEXT_BYTES], description[FOTEX_TEXT_BYTES];
        GetWiaDeviceInfo(i, id, name, description);
        printf("device %d\n", i);
        PrintUtf16("name", name);
        PrintUtf16("description", description);
    }
    if (OpenWiaDevice(0, &device) != 1 || device == 0) {
        fprintf(stderr, "capture: cannot open the camera\n");
        return 1;
    }
    TakeAPicture(device, &picture);
    if (picture == 0) {
        fprintf(stderr, "capture: the camera took no picture\n");
        CloseWiaDevice(&device);
        return 1;
    }
    /* The buffer must have room for the extension that the format appends. */
    TransferPicture(picture, file, FOTEX_FORMAT_JPEG, 0);
    printf("saved %s\n", file);
    CloseWiaDevice(&device);
    return GetFileAttributesA(file) == INVALID_FILE_ATTRIBUTES;
}

/* A host as Microsoft's toolchain builds it, linked against the kit's Fotex.lib and FotexSim.lib:
   no C runtime, no <windows.h>, only the kit's headers and the kernel32 calls it declares itself.
   Registers the virtual camera, then goes through the calling sequence and prints what each step
   gave. */
#include <fotex.h>
#include <fotexsim_api.h>

#define WINAPI __stdcall
__declspec(dllimport) void WINAPI ExitProcess(unsigned code);
__declspec(dllimport) void* WINAPI GetStdHandle(unsigned long which);
__declspec(dllimport) int WINAPI WriteFile(void* file, const void* data, unsigned long size,
                                           unsigned long* written, void* overlapped);

static void Write(const char* text) {
    unsigned long length = 0, written = 0;
    while (text[length] != 0) ++length;
    WriteFile(GetStdHandle((unsigned long)-11), text, length, &written, 0);
}

static void WriteNumber(int value) {
    char digits[16];
    int at = 15;
    unsigned magnitude = value < 0 ? 0u - (unsigned)value : (unsigned)value;
    digits[at] = 0;
    do {
        digits[--at] = (char)('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude != 0);
    if (value < 0) digits[--at] = '-';
    Write(digits + at);
}

/* Buffers are filled by hand: an initialiser would call memset or memcpy, which no CRT provides. */
static void Copy(char* to, const char* from) {
    while ((*to++ = *from++) != 0) {
    }
}

static void Line(const char* label, int value) {
    Write(label);
    WriteNumber(value);
    Write("\n");
}

/* UTF-16LE from the DLL, ASCII only: enough for the virtual camera's name. */
static void WriteUtf16(const unsigned char* bytes) {
    char text[FOTEX_TEXT_BYTES / 2 + 1];
    int i;
    for (i = 0; i < FOTEX_TEXT_BYTES / 2 && (bytes[2 * i] | bytes[2 * i + 1]) != 0; ++i)
        text[i] = bytes[2 * i + 1] == 0 && bytes[2 * i] < 128 ? (char)bytes[2 * i] : '?';
    text[i] = 0;
    Write(text);
}

void start(void) {
    char product[FOTEX_VERSION_BYTES], version[FOTEX_VERSION_BYTES], arch[FOTEX_VERSION_BYTES];
    unsigned char name[FOTEX_TEXT_BYTES];
    char file[32 + FOTEX_EXTENSION_ROOM];
    int count = -99, flash = -99, flashAfter = -99, i;
    FOTEX_DEVICE device = 0;
    FOTEX_ITEM item = 0;

    Copy(product, "-");
    Copy(version, "-");
    Copy(arch, "-");
    Copy(file, "msvc-host-picture");
    for (i = 0; i < FOTEX_TEXT_BYTES; ++i) name[i] = 0x5A; /* unterminated unless the DLL writes */
    VexaVersionInfo(product, version, arch);
    Write(product);
    Write(" ");
    Write(version);
    Write(" ");
    Write(arch);
    Write("\n");
    Line("register: ", FotexSimRegister());
    Line("enumerate: ", EnumerateWiaDevices(&count));
    Line("devices: ", count);
    GetWiaDeviceInfo(0, 0, name, 0);
    Write("device 0: ");
    WriteUtf16(name);
    Write("\n");
    Line("open: ", OpenWiaDevice(0, &device));
    if (device != 0) {
        Line("get flash mode: ", GetFlashMode(device, &flash));
        Line("set flash mode: ", SetFlashMode(device, 3));
        GetFlashMode(device, &flashAfter);
        Write("flash mode: ");
        WriteNumber(flash);
        Write(" -> ");
        WriteNumber(flashAfter);
        Write("\n");
        TakeAPicture(device, &item);
        Line("picture taken: ", item != 0);
        if (item != 0) {
            TransferPicture(item, file, FOTEX_FORMAT_JPEG, FOTEX_KEEP);
            Write("saved ");
            Write(file);
            Write("\n");
        }
        CloseWiaDevice(&device);
        Line("closed: ", device == 0);
    }
    ExitProcess(0);
}

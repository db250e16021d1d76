// A C++ host: reads some camera settings, then changes the flash mode and the artist and reads
// them back. Run with --virtual to use the virtual camera of FotexSim.dll instead of a real one.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

#include <fotex.h>
#include <fotexsim_api.h>

namespace {

// Closes the device on every way out of main.
class Device {
public:
    ~Device() { CloseWiaDevice(&handle_); }
    FOTEX_DEVICE* put() { return &handle_; }
    FOTEX_DEVICE get() const { return handle_; }

private:
    FOTEX_DEVICE handle_ = 0;
};

// FotexSim.dll has no import library: it is meant to be loaded only when a test asks for it.
bool RegisterVirtualCamera() {
    HMODULE sim = LoadLibraryA("FotexSim.dll");
    if (!sim) return false;
    auto reg = reinterpret_cast<decltype(&FotexSimRegister)>(
        reinterpret_cast<void (*)()>(GetProcAddress(sim, "FotexSimRegister")));
    return reg && reg() == FOTEX_OK;
}

// Text settings arrive as UTF-16LE, unterminated when they fill all 128 bytes.
std::string TextSetting(int(FOTEX_CALL* get)(FOTEX_DEVICE, void*), FOTEX_DEVICE device, int* status) {
    unsigned char bytes[FOTEX_TEXT_BYTES] = {};
    *status = get(device, bytes);
    if (*status != FOTEX_OK) return {};
    wchar_t text[FOTEX_TEXT_BYTES / 2 + 1] = {};
    std::memcpy(text, bytes, sizeof bytes);
    char ansi[4 * FOTEX_TEXT_BYTES];
    WideCharToMultiByte(CP_ACP, 0, text, -1, ansi, sizeof ansi, nullptr, nullptr);
    return ansi;
}

struct IntegerSetting {
    const char* label;
    int(FOTEX_CALL* get)(FOTEX_DEVICE, int*);
};

const IntegerSetting kShown[] = {
    {"exposure time", GetExposureTime}, {"f-number x100", GetFNumber},
    {"white balance", GetWhiteBalance}, {"battery status", GetBatteryStatus},
    {"pan position", GetPanPosition},
};

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1 && std::strcmp(argv[1], "--virtual") == 0 && !RegisterVirtualCamera()) {
        std::fprintf(stderr, "settings: cannot register the virtual camera\n");
        return 1;
    }
    int count = 0;
    Device device;
    if (EnumerateWiaDevices(&count) != FOTEX_OK || count == 0 || OpenWiaDevice(0, device.put()) != FOTEX_OK ||
        device.get() == 0) {
        std::fprintf(stderr, "settings: no camera to open\n");
        return 1;
    }

    for (const IntegerSetting& s : kShown) {
        int value = 0;
        const int status = s.get(device.get(), &value);
        if (status == FOTEX_OK)
            std::printf("%s = %d\n", s.label, value);
        else
            std::printf("%s: not available (status %d)\n", s.label, status);
    }

    // The camera decides which values it takes; read back to see what it kept.
    int before = 0, after = 0;
    if (GetFlashMode(device.get(), &before) != FOTEX_OK || SetFlashMode(device.get(), 3) != FOTEX_OK ||
        GetFlashMode(device.get(), &after) != FOTEX_OK) {
        std::fprintf(stderr, "settings: the flash mode cannot be changed\n");
        return 1;
    }
    std::printf("flash mode: %d -> %d\n", before, after);

    int status = 0;
    const std::string oldArtist = TextSetting(GetArtist, device.get(), &status);
    if (status != FOTEX_OK || SetArtist(device.get(), "Ann Smith") != FOTEX_OK) {
        std::fprintf(stderr, "settings: the artist cannot be changed\n");
        return 1;
    }
    const std::string newArtist = TextSetting(GetArtist, device.get(), &status);
    std::printf("artist: \"%s\" -> \"%s\"\n", oldArtist.c_str(), newArtist.c_str());
    return after == 3 && newArtist == "Ann Smith" ? 0 : 1;
}

// A C++ host: a settings screen built from what the library and the camera say. For every
// setting it shows the service's label, the current value by its name, and the values the camera
// takes, then changes the flash mode by name and the artist, and reads them back. Run with
// --virtual to use the virtual camera of FotexSim.dll instead of a real one.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

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

std::string Narrow(const wchar_t* text) {
    char out[1024];
    return WideCharToMultiByte(CP_ACP, 0, text, -1, out, sizeof out, nullptr, nullptr) > 0 ? out : "?";
}

// The setting's label, as the service's headers name it.
std::string Label(int id) {
    wchar_t label[128];
    return DescribeSetting(id, label, sizeof label) == FOTEX_OK ? Narrow(label) : "setting " + std::to_string(id);
}

// A value by its name ("Auto", "f/2.8", "1/125 s"), or the number when it has none.
std::string Value(int id, int value) {
    wchar_t text[64];
    return DescribeSettingValue(id, value, text, sizeof text) == FOTEX_OK ? Narrow(text) : std::to_string(value);
}

// The current value: an integer by its name, or a text in quotes.
std::string Current(FOTEX_DEVICE device, int id) {
    int value = 0;
    const int status = GetSetting(device, id, &value);
    if (status == FOTEX_OK) return Value(id, value);
    if (status != FOTEX_E_TYPE) return "(cannot be read)";
    std::vector<wchar_t> text(64);
    int got = 0;
    while ((got = GetSettingText(device, id, text.data(), static_cast<int>(text.size() * sizeof(wchar_t)))) ==
           FOTEX_E_INSUFFICIENT_BUFFER)
        text.resize(text.size() * 2);
    return got == FOTEX_OK ? "\"" + Narrow(text.data()) + "\"" : "(cannot be read)";
}

// What the camera takes, as the screen offers it.
std::string Offered(FOTEX_DEVICE device, int id) {
    int access = 0, kind = 0, nominal = 0, count = 0;
    std::vector<int> values(16);
    int status;
    while ((status = GetSettingChoices(device, id, &access, &kind, &nominal, values.data(), static_cast<int>(values.size()),
                                       &count)) == FOTEX_E_MORE_DATA)
        values.resize(static_cast<size_t>(count));
    if (status != FOTEX_OK) return "";
    std::string offered = access & FOTEX_ACCESS_WRITE ? "" : "read only";
    std::string choices;
    if (kind == FOTEX_CHOICES_RANGE) {
        choices = Value(id, values[0]) + " to " + Value(id, values[1]) + ", step " + std::to_string(values[2]);
    } else if (kind == FOTEX_CHOICES_LIST) {
        for (int i = 0; i < count; ++i) choices += (i ? ", " : "") + Value(id, values[i]);
    } else if (kind == FOTEX_CHOICES_FLAGS) {
        char mask[16];
        std::snprintf(mask, sizeof mask, "0x%X", static_cast<unsigned>(values[0]));
        choices = std::string("bits of ") + mask;
    }
    if (!choices.empty()) offered += (offered.empty() ? "" : "; ") + choices;
    return offered.empty() ? "" : "  [" + offered + "]";
}

// The settings the library names; the camera says for each what it holds and takes.
#define SCREEN_ROW(kind, id, getter, setter) id,
const int kScreen[] = {FOTEX_SETTINGS(SCREEN_ROW)};

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

    for (int id : kScreen)
        std::printf("%s = %s%s\n", Label(id).c_str(), Current(device.get(), id).c_str(), Offered(device.get(), id).c_str());

    // A choice is made by its name; the camera decides whether it takes it.
    const int flash = FOTEX_PROP_FLASH_MODE, artist = FOTEX_PROP_ARTIST;
    const std::string flashBefore = Current(device.get(), flash), artistBefore = Current(device.get(), artist);
    int fill = 0;
    if (FindSettingValue(flash, L"Fill", &fill) != FOTEX_OK || SetSetting(device.get(), flash, fill) != FOTEX_OK ||
        SetSettingText(device.get(), artist, L"Ann Smith") != FOTEX_OK) {
        std::fprintf(stderr, "settings: the flash mode or the artist cannot be changed\n");
        return 1;
    }
    const std::string flashAfter = Current(device.get(), flash), artistAfter = Current(device.get(), artist);
    std::printf("%s: %s -> %s\n", Label(flash).c_str(), flashBefore.c_str(), flashAfter.c_str());
    std::printf("%s: %s -> %s\n", Label(artist).c_str(), artistBefore.c_str(), artistAfter.c_str());
    return flashAfter == "Fill" && artistAfter == "\"Ann Smith\"" ? 0 : 1;
}

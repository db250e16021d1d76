// fotex: control a camera through Fotex.dll from the command line.
#include <windows.h>
#include <objbase.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "cli.h"
#include "commands.h"
#include "fotexsim.h"

namespace fotexcli {

namespace {

const char kUsage[] =
    "Usage: fotex [OPTION...]\n"
    "  --version            show the library's version\n"
    "  --virtual            register the virtual camera in this process first\n"
    "  --device N           the device to use, by its index in --auto-detect (default 0)\n"
    "  --auto-detect        list the image-acquisition devices\n"
    "  --summary            show the device's identity and settings\n"
    "  --list-config        list every camera setting with its value\n"
    "  --get-config NAME    show one setting (names as --list-config shows them)\n"
    "  --set-config NAME=VALUE  change one setting\n"
    "  --help               show this text\n";

bool ParseInt(const char* text, int& value) {
    char* end = nullptr;
    const long v = std::strtol(text, &end, 10);
    if (end == text || *end != '\0') return false;
    value = static_cast<int>(v);
    return true;
}

}  // namespace

int Fail(const std::string& message) {
    std::fflush(stdout);
    std::fprintf(stderr, "fotex: %s\n", message.c_str());
    return 1;
}

std::string FromUtf16(const void* bytes, size_t maxBytes) {
    const auto* units = static_cast<const wchar_t*>(bytes);
    size_t n = 0;
    while (n < maxBytes / 2 && units[n] != 0) ++n;
    if (n == 0) return {};
    const int size = WideCharToMultiByte(CP_UTF8, 0, units, static_cast<int>(n), nullptr, 0, nullptr, nullptr);
    std::string text(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, units, static_cast<int>(n), &text[0], size, nullptr, nullptr);
    return text;
}

Session::~Session() { CloseWiaDevice(&device_); }

bool Session::Open() {
    if (device_ != 0) return true;
    const int status = EnumerateWiaDevices(&count_);
    if (status != 1) {
        Fail("cannot list the devices (status " + std::to_string(status) + ")");
        return false;
    }
    if (options_.device < 0 || options_.device >= count_) {
        Fail(count_ == 0 ? std::string("no device found") : "no device " + std::to_string(options_.device) + " (" + std::to_string(count_) + " listed)");
        return false;
    }
    const int opened = OpenWiaDevice(options_.device, &device_);
    if (opened != 1 || device_ == 0) {
        Fail("cannot open device " + std::to_string(options_.device) + " (status " + std::to_string(opened) + ")");
        return false;
    }
    return true;
}

int PrintVersion() {
    char product[FOTEX_VERSION_BYTES], file[FOTEX_VERSION_BYTES], arch[FOTEX_VERSION_BYTES];
    VexaVersionInfo(product, file, arch);
    std::printf("%s (file version %s, %s)\n", product, file, arch);
    return 0;
}

int AutoDetect() {
    int count = 0;
    const int status = EnumerateWiaDevices(&count);
    if (status != 1) return Fail("cannot list the devices (status " + std::to_string(status) + ")");
    std::printf("%-6s %-28s %-36s %s\n", "Index", "Name", "Description", "Identifier");
    std::printf("%-6s %-28s %-36s %s\n", "-----", "----", "-----------", "----------");
    for (int i = 0; i < count; ++i) {
        char id[FOTEX_TEXT_BYTES], name[FOTEX_TEXT_BYTES], description[FOTEX_TEXT_BYTES];
        GetWiaDeviceInfo(i, id, name, description);
        std::printf("%-6d %-28s %-36s %s\n", i, FromUtf16(name).c_str(), FromUtf16(description).c_str(), FromUtf16(id).c_str());
    }
    if (count == 0) std::printf("(no device found)\n");
    return 0;
}

int Summary(Session& session) {
    if (!session.Open()) return 1;
    char id[FOTEX_TEXT_BYTES], name[FOTEX_TEXT_BYTES], description[FOTEX_TEXT_BYTES];
    GetWiaDeviceInfo(session.index(), id, name, description);
    std::printf("Camera summary:\n");
    std::printf("  Device:      %d of %d\n", session.index(), session.count());
    std::printf("  Name:        %s\n", FromUtf16(name).c_str());
    std::printf("  Description: %s\n", FromUtf16(description).c_str());
    std::printf("  Identifier:  %s\n", FromUtf16(id).c_str());
    std::printf("Settings:\n");
    PrintSettings(session, "  ");
    return 0;
}

}  // namespace fotexcli

int main(int argc, char** argv) {
    using namespace fotexcli;
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            std::fputs(kUsage, stdout);
            std::fputs(kCommandsUsage, stdout);
            return 0;
        } else if (arg == "--virtual") {
            options.virtualCamera = true;
        } else if (arg == "--device") {
            if (i + 1 >= argc || !ParseInt(argv[++i], options.device)) return Fail("--device needs an index");
        } else if (arg == "--version" || arg == "--auto-detect" || arg == "--summary") {
            options.actions.push_back(arg.substr(2));
        } else if (const int taken = ParseCommandOption(argc, argv, i, options.actions)) {
            if (taken < 0) return 1;
        } else if (arg == "--list-config") {
            options.actions.push_back("list-config");
        } else if (arg == "--get-config" || arg == "--set-config") {
            if (i + 1 >= argc) return Fail(arg + " needs an argument");
            options.actions.push_back(arg.substr(2) + " " + argv[++i]);
        } else {
            return Fail("unknown option " + arg + " (see --help)");
        }
    }
    if (options.actions.empty()) {
        std::fputs(kUsage, stderr);
        return 2;
    }

    // Fotex.dll joined this thread to a COM apartment when it loaded; the virtual camera
    // registers in the same one.
    CoInitialize(nullptr);
    int status = 0;
    {
        fotexsim::Camera camera;
        if (options.virtualCamera) {
            camera.LoadDefaultScenario();
            const HRESULT hr = camera.Register();
            if (FAILED(hr)) return Fail("cannot register the virtual camera");
        }
        Session session(options);
        for (const std::string& action : options.actions) {
            if (action == "version") status = PrintVersion();
            else if (action == "auto-detect") status = AutoDetect();
            else if (action == "summary") status = Summary(session);
            else if ((status = RunCommandAction(action, session)) == -1) status = Settings(session, action);
            if (status != 0) break;
        }
    }
    CoUninitialize();
    return status;
}

// fotex: control a camera through Fotex.dll from the command line.
#include <windows.h>
#include <objbase.h>
#include <shellapi.h>

#include <string>
#include <vector>

#include "cli.h"
#include "commands.h"
#include "fotexsim.h"
#include "options.h"

namespace {

// The command line as the user typed it, in UTF-8 (argv would be in the system code page).
std::vector<std::string> Arguments() {
    std::vector<std::string> args;
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    for (int i = 1; argv && i < argc; ++i) args.push_back(fotexcli::Utf8(argv[i]));
    LocalFree(argv);
    return args;
}

// A console shows UTF-8 while fotex runs; pipes and files get the bytes as they are.
class Utf8Console {
public:
    Utf8Console() : previous_(GetConsoleOutputCP()) {
        DWORD mode;
        switched_ = GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode) && SetConsoleOutputCP(CP_UTF8);
    }
    ~Utf8Console() {
        if (switched_) SetConsoleOutputCP(previous_);
    }

private:
    UINT previous_;
    bool switched_ = false;
};

}  // namespace

int main() {
    using namespace fotexcli;
    Utf8Console console;
    Options options;
    const int parsed = ParseCommandLine(Arguments(), options);
    if (parsed >= 0) return parsed;

    // Fotex.dll joined this thread to a COM apartment when it loaded; the virtual camera
    // registers in the same one.
    CoInitialize(nullptr);
    int status = kDone;
    {
        Trace trace;
        fotexsim::Camera camera;
        if (options.virtualCamera) camera.LoadDefaultScenario();
        if (!options.virtualFolder.empty()) {
            const HRESULT hr = camera.AddFolderCamera(Wide(options.virtualFolder), L"Fotex Folder Camera");
            if (FAILED(hr)) status = Fail("cannot make a camera of the folder " + options.virtualFolder + ": " + StatusText(hr));
        }
        if (status == kDone && (options.virtualCamera || !options.virtualFolder.empty()) && FAILED(camera.Register()))
            status = Fail("cannot register the virtual camera");
        Session session(options, trace);
        // Named pictures first: at once, or as the button's first presses while fotex waits.
        size_t named = 0;
        auto press = [&] {
            const size_t device = static_cast<size_t>(options.device);
            if (named == options.virtualItems.size()) return camera.PressShutter(device) != nullptr;
            const Options::VirtualItem& item = options.virtualItems[named++];
            const std::wstring extension = Wide(item.extension);
            return camera.PressShutter(device, Wide(item.name), item.hasExtension ? &extension : nullptr) != nullptr;
        };
        if (options.virtualCamera && options.virtualShutter == 0)
            while (status == kDone && named < options.virtualItems.size())
                if (!press()) status = Fail("the virtual camera has no device " + std::to_string(options.device));
        if (options.virtualCamera) session.pressShutter = [&] { press(); };
        // Later actions may rely on earlier ones (a setting before a capture): stop at a failure.
        for (size_t i = 0; status == kDone && i < options.actions.size(); ++i) status = RunAction(session, options.actions[i]);
    }
    CoUninitialize();
    return status;
}

// fotex: control a camera through Fotex.dll from the command line.
#include <windows.h>
#include <objbase.h>
#include <shellapi.h>

#include <cstdio>
#include <string>
#include <vector>

#include "cli.h"
#include "commands.h"
#include "fotexsim_api.h"
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

// --debug: the library's trace lines, each on a line of its own, on standard error or in a file.
void __cdecl DebugLine(void* file, const char* line) {
    std::fprintf(static_cast<FILE*>(file), "fotex: debug: %s\n", line);
    std::fflush(static_cast<FILE*>(file));
}

}  // namespace

int main() {
    using namespace fotexcli;
    Utf8Console console;
    Options options;
    const int parsed = ParseCommandLine(Arguments(), options);
    if (parsed >= 0) return parsed;
    // Ctrl-C stops every long action between two steps, for the whole run.
    CatchInterrupts();
    // Lines end in LF alone on pipes and in files, as gphoto2's do.
    LinesEndInLineFeeds();

    // Fotex.dll joined this thread to a COM apartment when it loaded; the virtual camera
    // registers in the same one.
    CoInitialize(nullptr);
    int status = kDone;
    FILE* debugFile = nullptr;
    if (options.debug) {
        debugFile = options.debugLogfile.empty() ? stderr : _wfopen(Wide(options.debugLogfile).c_str(), L"a");
        if (!debugFile) return Fail("cannot open the debug log file " + options.debugLogfile);
        SetFotexLog(DebugLine, debugFile);
    }
    {
        Trace trace;
        const bool simulated = options.virtualCamera || !options.virtualFolder.empty();
        if (!options.virtualFolder.empty()) {
            const int added = FotexSimAddFolderCamera(Wide(options.virtualFolder).c_str(), L"Fotex Folder Camera");
            if (added != 1) status = Fail("cannot make a camera of the folder " + options.virtualFolder + ": " + StatusText(added));
        }
        if (status == kDone && simulated && FotexSimRegister() < 0) status = Fail("cannot register the virtual camera");
        constexpr int kDiskFull = static_cast<int>(0x80070070);  // HRESULT_FROM_WIN32(ERROR_DISK_FULL)
        constexpr int kDeviceBusy = static_cast<int>(0x800700AA);  // HRESULT_FROM_WIN32(ERROR_BUSY)
        if (options.virtualCut) FotexSimCutTransfer(kDiskFull, options.virtualCut);
        if (options.virtualShort) FotexSimCutTransfer(S_OK, options.virtualShort);
        if (options.virtualFailDelete) FotexSimFailDelete(kDeviceBusy, options.virtualFailDelete);
        if (options.virtualRate) FotexSimSetTransferRate(options.device, options.virtualRate);
        if (options.virtualEvents) FotexSimSetEventMode(options.device, options.virtualEvents, options.virtualEventsValue);
        for (const Options::VirtualCondition& c : options.virtualConditions)
            FotexSimSetCondition(options.device, c.condition, c.value);
        Session session(options, trace);
        // Named pictures first: at once, or as the button's first presses while fotex waits.
        size_t named = 0;
        auto press = [&] {
            if (named == options.virtualItems.size()) return FotexSimPressShutter(options.device) == 1;
            const Options::VirtualItem& item = options.virtualItems[named++];
            const std::wstring name = Wide(item.name), extension = Wide(item.extension);
            return FotexSimPressShutterNamed(options.device, name.c_str(), item.hasExtension ? extension.c_str() : nullptr) == 1;
        };
        if (options.virtualCamera && options.virtualShutter == 0 && options.virtualFlood == 0)
            while (status == kDone && named < options.virtualItems.size())
                if (!press()) status = Fail("the virtual camera has no device " + std::to_string(options.device));
        if (options.virtualCamera) session.pressShutter = [&] { press(); };
        // Presses by the clock, the first at once; from the thread that calls the library, as
        // the camera's own button is pressed between two of its calls.
        int pressed = 0;
        DWORD firstPress = 0;
        if (options.virtualCamera && options.virtualShutterEvery)
            session.pressDue = [&] {
                const DWORD now = GetTickCount();
                if (pressed == 0) firstPress = now;
                while (pressed < options.virtualShutter &&
                       now - firstPress >= static_cast<DWORD>(pressed) * static_cast<DWORD>(options.virtualShutterEvery)) {
                    ++pressed;
                    press();
                }
            };
        // The other camera's pictures, then one of this one's, all delivered at once as a host's
        // message handling between two waits does: more than the queue holds.
        if (options.virtualCamera && options.virtualFlood)
            session.flood = [&] {
                for (int i = 0; i < options.virtualFlood; ++i) FotexSimPressShutter(options.device == 0 ? 1 : 0);
                press();
                for (MSG msg; PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE);) DispatchMessageW(&msg);
            };
        // Later actions may rely on earlier ones (a setting before a capture): stop at a failure.
        // As gphoto2: a script that fails at init stops everything.
        if (status == kDone && !session.Hook("init")) status = Fail("the hook script failed at init: nothing done");
        if (status == kDone) {
            session.Hook("start");
            for (size_t i = 0; status == kDone && i < options.actions.size(); ++i) status = RunAction(session, options.actions[i]);
            session.Hook("stop");
        }
        if (simulated) FotexSimRevoke();
    }
    CoUninitialize();
    if (options.debug) {
        SetFotexLog(nullptr, nullptr);
        if (debugFile != stderr) std::fclose(debugFile);
    }
    return status;
}

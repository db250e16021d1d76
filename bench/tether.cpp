// Tethering: what a look for new items costs beside a listing of the same camera, and the time
// from the shutter to the saved file with each way the camera may send its events, and with
// polling alone. The loop is the host guide's: wait for an event or a timeout, then
// ListNewCameraItems, then save each.
#include <windows.h>
#include <objbase.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "fotexsim.h"
#include "host.h"
#include "support.h"

using namespace fotexbench;

namespace {

using fotexsim::Device;

double Percentile(std::vector<double> values, double p) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    const size_t at = std::min(values.size() - 1, static_cast<size_t>(p * static_cast<double>(values.size() - 1) + 0.5));
    return values[at];
}

// With 1,000 items and one new each time: the look against a listing of the camera.
void LookCost(fotexsim::Camera& camera, fotextest::Library& lib) {
    Title("Tethering: ListNewCameraItems with 1,000 items and one new / ListCameraItems");
    BuildTree(camera, Shape::Flat, 1000);
    int count = 0;
    lib.EnumerateWiaDevices(&count);
    FOTEX_DEVICE looking = 0, listing = 0;
    lib.OpenWiaDevice(0, &looking);
    lib.OpenWiaDevice(0, &listing);
    fotexsim::Item& folder = *camera.devices[0].root->children[0];
    LookAgainstListing(lib, looking, listing, 41, [&](int round) {
        // 8x8 as BuildTree's: the virtual camera makes a picture's bytes to tell its size.
        fotexsim::Item& added = folder.Add(L"NEW" + std::to_wstring(round), 0x3);
        added.width = added.height = 8;
    }, "in process");
    std::vector<double> quiet;
    for (int round = 0; round < 41; ++round) {
        const double start = Seconds();
        lib.ListNewCameraItems(looking, 0, &count);
        quiet.push_back(Seconds() - start);
    }
    Row("in process, a look with nothing new", Format("%.3f ms", Median(quiet) * 1e3), "", -1);
    lib.CloseWiaDevice(&listing);
    lib.CloseWiaDevice(&looking);
}

struct Run {
    std::vector<double> latencies;  // seconds from the shutter to the file in place
    int saved = 0, twice = 0, failed = 0;
};

// 100 presses, five a second; saves what each look lists until all are saved or 30 s pass.
Run Tether(fotexsim::Camera& camera, fotextest::Library& lib, const std::wstring& folder, int mode, int value, DWORD pollMs,
           bool events) {
    camera.devices.clear();
    camera.AddStandardCamera(L"bench\\0000", L"Tether", L"Tethered camera", 3);
    camera.SetEventMode(0, mode, value);
    Run run;
    int count = 0;
    lib.EnumerateWiaDevices(&count);
    FOTEX_DEVICE device = 0;
    lib.OpenWiaDevice(0, &device);
    wchar_t id[FOTEX_EVENT_DEVICE_UNITS], name[FOTEX_EVENT_NAME_UNITS];
    int kind = 0;
    if (events) lib.WaitForCameraEvent(0, &kind, id, sizeof id, name, sizeof name);
    lib.ListNewCameraItems(device, FOTEX_NEW_RESET, &count);
    std::map<std::wstring, double> pressed;
    std::set<std::wstring> saved;
    constexpr int kPresses = 100;
    const double start = Seconds();
    double lastLook = start;
    int presses = 0;
    auto pressDue = [&] {
        while (presses < kPresses && Seconds() - start >= presses * 0.2) {
            const std::wstring picture = L"T" + std::to_wstring(presses++);
            pressed[picture + L".jpg"] = Seconds();
            camera.PressShutter(0, picture, nullptr);
        }
    };
    while (static_cast<int>(saved.size()) < kPresses && Seconds() - start < 30) {
        pressDue();
        const double now = Seconds();
        const double nextPress = presses < kPresses ? start + presses * 0.2 : now + 0.1;
        const double nextPoll = lastLook + pollMs / 1000.0;
        const int wait = static_cast<int>(std::max(0.0, (std::min(nextPress, nextPoll) - now) * 1000) + 1);
        bool wake = false;
        if (events) {
            while (lib.WaitForCameraEvent(wake ? 0 : wait, &kind, id, sizeof id, name, sizeof name) == 1) wake = true;
        } else {
            Sleep(static_cast<DWORD>(wait));
        }
        if (!wake && Seconds() < nextPoll) continue;
        lastLook = Seconds();
        if (lib.ListNewCameraItems(device, 0, &count) != FOTEX_OK) continue;
        for (int i = 0; i < count; ++i) {
            FOTEX_ITEM item = 0;
            if (lib.GetCameraItemText(device, i, FOTEX_ITEM_FILE_NAME, name, sizeof name) != FOTEX_OK ||
                lib.OpenCameraItem(device, i, &item) != FOTEX_OK) {
                ++run.failed;
                continue;
            }
            const std::wstring file = folder + L"\\" + name;
            if (!saved.insert(name).second) ++run.twice;
            if (lib.SaveCameraItem(item, file.c_str(), FOTEX_FORMAT_NATIVE, FOTEX_SAVE_REPLACE) == FOTEX_OK) {
                ++run.saved;
                const auto at = pressed.find(name);
                if (at != pressed.end()) run.latencies.push_back(Seconds() - at->second);
            } else {
                ++run.failed;
            }
            lib.ReleaseCameraItem(&item);
            pressDue();  // the shutter goes on while pictures are saved
        }
    }
    if (events) lib.StopCameraEvents();
    lib.CloseWiaDevice(&device);
    return run;
}

struct Mode {
    const char* what;
    int mode, value;
    DWORD pollMs;
    bool events;
};
const Mode kModes[] = {
    {"events: all, poll 2 s", Device::Events::All, 0, 2000, true},
    {"events: none, poll 2 s", Device::Events::None, 0, 2000, true},
    {"events: 30% lost, poll 2 s", Device::Events::Lost, 30, 2000, true},
    {"events: each twice, poll 2 s", Device::Events::Twice, 0, 2000, true},
    {"events: 700 ms late, poll 2 s", Device::Events::Late, 700, 2000, true},
    {"events: a deleted item first, poll 2 s", Device::Events::DeletedFirst, 0, 2000, true},
    {"polling alone, every 2 s", Device::Events::All, 0, 2000, false},
    {"polling alone, every 0.5 s", Device::Events::All, 0, 500, false},
};
constexpr int kModeCount = sizeof kModes / sizeof kModes[0];

// The folder a mode's copy of this program saves into, by its process id.
std::wstring FolderOf(DWORD process) {
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    return std::wstring(temp) + L"fotex-bench-tether-" + std::to_wstring(process);
}

void RemoveFolder(const std::wstring& folder) {
    WIN32_FIND_DATAW found;
    HANDLE h = FindFirstFileW((folder + L"\\*").c_str(), &found);
    if (h != INVALID_HANDLE_VALUE) {
        do DeleteFileW((folder + L"\\" + found.cFileName).c_str());
        while (FindNextFileW(h, &found));
        FindClose(h);
    }
    RemoveDirectoryW(folder.c_str());
}

// One mode's row, in a process of its own (the event queue is the process's).
void OneMode(fotexsim::Camera& camera, fotextest::Library& lib, const Mode& m) {
    const std::wstring folder = FolderOf(GetCurrentProcessId());
    CreateDirectoryW(folder.c_str(), nullptr);
    const Run run = Tether(camera, lib, folder, m.mode, m.value, m.pollMs, m.events);
    const bool whole = run.saved == 100 && run.twice == 0 && run.failed == 0;
    Row(m.what,
        Format("%.0f ms, %.0f ms (%d saved, %d twice, %d failed)", Percentile(run.latencies, 0.5) * 1e3,
               Percentile(run.latencies, 0.99) * 1e3, run.saved, run.twice, run.failed),
        "100 saved, none twice", whole);
    RemoveFolder(folder);
}

// Each mode takes 20 s of presses, so the modes run at once, each in a copy of this program
// writing its row to a file of its own; the rows are printed in the table's order. A copy still
// running after kModesSeconds (each stops its presses at 30 s) is ended and reported. False when a
// copy could not run, did not finish, failed or missed its target.
constexpr DWORD kModesSeconds = 120;
bool AllModes() {
    Title("Tethering: 100 presses, five a second; shutter to saved file (median, 99th percentile; the modes at once)");
    wchar_t self[MAX_PATH], temp[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    GetTempPathW(MAX_PATH, temp);
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    std::vector<std::wstring> outputs;
    std::vector<HANDLE> processes;
    std::vector<DWORD> ids;
    const ULONGLONG deadline = GetTickCount64() + kModesSeconds * 1000;
    for (int k = 0; k < kModeCount; ++k) {
        outputs.push_back(std::wstring(temp) + L"fotex-bench-tether-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                          std::to_wstring(k) + L".txt");
        HANDLE out = CreateFileW(outputs.back().c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS,
                                 FILE_ATTRIBUTE_NORMAL, nullptr);
        std::wstring command = L"\"" + std::wstring(self) + L"\" --mode " + std::to_wstring(k);
        STARTUPINFOW start{};
        start.cb = sizeof start;
        start.dwFlags = STARTF_USESTDHANDLES;
        start.hStdOutput = start.hStdError = out;
        start.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
        PROCESS_INFORMATION process{};
        if (out != INVALID_HANDLE_VALUE &&
            CreateProcessW(self, &command[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &start, &process)) {
            CloseHandle(process.hThread);
            processes.push_back(process.hProcess);
            ids.push_back(process.dwProcessId);
        } else {
            processes.push_back(nullptr);
            ids.push_back(0);
        }
        if (out != INVALID_HANDLE_VALUE) CloseHandle(out);
    }
    bool met = true;
    for (int k = 0; k < kModeCount; ++k) {
        DWORD code = 2;
        bool ended = false;
        if (processes[k]) {
            const ULONGLONG now = GetTickCount64();
            const DWORD left = now < deadline ? static_cast<DWORD>(deadline - now) : 0;
            if (WaitForSingleObject(processes[k], left) != WAIT_OBJECT_0) {
                TerminateProcess(processes[k], 3);
                WaitForSingleObject(processes[k], 5000);
                ended = true;
            }
            GetExitCodeProcess(processes[k], &code);
            CloseHandle(processes[k]);
            RemoveFolder(FolderOf(ids[k]));  // what an ended or failed copy left
        }
        std::string row;
        HANDLE in = CreateFileW(outputs[k].c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        if (in != INVALID_HANDLE_VALUE) {
            char chunk[1024];
            DWORD got = 0;
            while (ReadFile(in, chunk, sizeof chunk, &got, nullptr) && got > 0) row.append(chunk, got);
            CloseHandle(in);
        }
        DeleteFileW(outputs[k].c_str());
        if (code != 0) met = false;
        if (ended)
            row = Format("| %s | did not finish in %lu s, ended |  | **no** |\n", kModes[k].what, kModesSeconds);
        else if (row.empty())
            row = Format("| %s | did not run (exit %lu) |  | **no** |\n", kModes[k].what, code);
        else if (code != 0 && row.find("**no**") == std::string::npos)
            row += Format("| %s | its process failed after its row (exit %lu) |  | **no** |\n", kModes[k].what, code);
        std::fputs(row.c_str(), stdout);
    }
    std::fflush(stdout);
    return met;
}

}  // namespace

int main(int argc, char** argv) {
    // --mode K: one row of the presses, for AllModes.
    const int mode = argc == 3 && std::strcmp(argv[1], "--mode") == 0 ? std::atoi(argv[2]) : -1;
    if (mode >= kModeCount) return 2;
    fotextest::Library lib;
    if (!lib.Load()) {
        std::printf("cannot load Fotex.dll\n");
        return 2;
    }
    fotexsim::Camera camera;
    if (!RegisterCamera(camera)) return 2;
    bool met = true;
    if (mode >= 0) {
        OneMode(camera, lib, kModes[mode]);
    } else {
        LookCost(camera, lib);
        met = AllModes();
    }
    camera.Revoke();
    return met ? Verdict() : 1;
}

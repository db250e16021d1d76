// A camera's conditions: busy after a shot or held by another program, asleep, unplugged in the
// middle of a transfer, back with a new root; the options, the reconnect and the host's log.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "fixture.h"

namespace fotextest {
namespace {

constexpr int kOk = 1;
constexpr int kDeviceBusy = static_cast<int>(0x80210006);     // WIA_ERROR_BUSY
constexpr int kOffline = static_cast<int>(0x80210005);        // WIA_ERROR_OFFLINE
constexpr int kInvalidArg = static_cast<int>(0x80070057);     // E_INVALIDARG
constexpr int kPointer = static_cast<int>(0x80004003);        // E_POINTER
constexpr int kMoreData = static_cast<int>(0x800700EA);    // HRESULT_FROM_WIN32(ERROR_MORE_DATA)
constexpr int kDisconnected = static_cast<int>(0x80010108);   // RPC_E_DISCONNECTED
constexpr int kBusyWait = 1;
constexpr int kReconnect = 2;
constexpr int kFlashMode = 2056;  // WIA_DPC_FLASH_MODE
constexpr int kJpeg = 3;
constexpr int kSaveDelete = 1;
using Op = fotexsim::Op;
using Condition = fotexsim::Camera::Condition;

using SetOptionFn = int(__cdecl*)(int, int);
using GetOptionFn = int(__cdecl*)(int, int*);
using LogFn = void(__cdecl*)(void*, const char*);
using SetLogFn = int(__cdecl*)(LogFn, void*);

class ConditionsTest : public FotexTest {
protected:
    void SetUp() override {
        FotexTest::SetUp();
        if (HasFatalFailure()) return;
        setOption = reinterpret_cast<SetOptionFn>(lib.Symbol("SetFotexOption"));
        getOption = reinterpret_cast<GetOptionFn>(lib.Symbol("GetFotexOption"));
        setLog = reinterpret_cast<SetLogFn>(lib.Symbol("SetFotexLog"));
        getFlash = reinterpret_cast<int(__cdecl*)(FOTEX_DEVICE, int*)>(lib.Symbol("GetFlashMode"));
        setFlash = reinterpret_cast<int(__cdecl*)(FOTEX_DEVICE, int)>(lib.Symbol("SetFlashMode"));
        ASSERT_TRUE(setOption && getOption && setLog && getFlash && setFlash);
        camera.AddStandardCamera(L"dev-a", L"Alpha", L"First camera", 3);
        Enumerate(1);
        handle = Open();
        wchar_t temp[MAX_PATH];
        GetTempPathW(MAX_PATH, temp);
        dir = std::wstring(temp) + L"fotex-conditions-" + std::to_wstring(GetCurrentProcessId());
        CreateDirectoryW(dir.c_str(), nullptr);
    }
    void TearDown() override {
        for (FOTEX_ITEM& item : items) lib.ReleaseCameraItem(&item);
        lib.CloseWiaDevice(&handle);
        EXPECT_TRUE(Ledger(0));
        for (const std::wstring& f : Files()) DeleteFileW((dir + L"\\" + f).c_str());
        RemoveDirectoryW(dir.c_str());
        FotexTest::TearDown();
    }

    fotexsim::Device& device() { return camera.devices[0]; }
    std::vector<std::wstring> Files() const {
        std::vector<std::wstring> names;
        WIN32_FIND_DATAW data;
        HANDLE find = FindFirstFileW((dir + L"\\*").c_str(), &data);
        if (find == INVALID_HANDLE_VALUE) return names;
        do {
            if (data.cFileName[0] != L'.') names.push_back(data.cFileName);
        } while (FindNextFileW(find, &data));
        FindClose(find);
        return names;
    }
    FOTEX_ITEM Item(int index) {
        int count = 0;
        EXPECT_EQ(kOk, lib.ListCameraItems(handle, &count));
        FOTEX_ITEM item = 0;
        EXPECT_EQ(kOk, lib.OpenCameraItem(handle, index, &item));
        items.push_back(item);
        return item;
    }
    int Flash() {
        int value = -1;
        return lib.GetSetting(handle, kFlashMode, &value) == kOk ? value : -1;
    }

    SetOptionFn setOption = nullptr;
    GetOptionFn getOption = nullptr;
    SetLogFn setLog = nullptr;
    int(__cdecl* getFlash)(FOTEX_DEVICE, int*) = nullptr;
    int(__cdecl* setFlash)(FOTEX_DEVICE, int) = nullptr;
    FOTEX_DEVICE handle = 0;
    std::vector<FOTEX_ITEM> items;
    std::wstring dir;
};

TEST_F(ConditionsTest, OptionsTakeTheirRangesOnly) {
    int value = -7;
    EXPECT_EQ(kPointer, getOption(kBusyWait, nullptr));
    EXPECT_EQ(kInvalidArg, getOption(3, &value));
    EXPECT_EQ(-7, value);
    EXPECT_EQ(kOk, getOption(kBusyWait, &value));
    EXPECT_EQ(3000, value);
    EXPECT_EQ(kOk, getOption(kReconnect, &value));
    EXPECT_EQ(1, value);
    const struct {
        int option, value, status;
    } cases[] = {
        {kBusyWait, 0, kOk},       {kBusyWait, 60000, kOk},   {kBusyWait, 60001, kInvalidArg},
        {kBusyWait, -1, kInvalidArg}, {kReconnect, 0, kOk},   {kReconnect, 1, kOk},
        {kReconnect, 2, kInvalidArg}, {kReconnect, -1, kInvalidArg}, {0, 0, kInvalidArg},
        {3, 1, kInvalidArg},
    };
    for (size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
        const auto& c = cases[i];
        int before = -7, after = -7;
        getOption(c.option, &before);
        EXPECT_EQ(c.status, setOption(c.option, c.value)) << "case " << i;
        getOption(c.option, &after);
        EXPECT_EQ(c.status == kOk ? c.value : before, after) << "case " << i;
    }
}

TEST_F(ConditionsTest, SecondShotWhileBusyIsTakenOnceAfterRetries) {
    device().busyAfterShot = 250;
    const size_t before = camera.ItemsOf(device()).size();
    FOTEX_ITEM first = 0, second = 0;
    lib.TakeAPicture(handle, &first);
    const int commands = camera.Calls(Op::DeviceCommand);
    lib.TakeAPicture(handle, &second);
    items = {first, second};
    EXPECT_NE(0, first);
    EXPECT_NE(0, second);
    EXPECT_TRUE(Boxes().empty());
    EXPECT_EQ(before + 2, camera.ItemsOf(device()).size()) << "each picture taken once";
    EXPECT_GT(camera.Calls(Op::DeviceCommand) - commands, 2) << "retried while busy";
    const std::string out = Output();
    EXPECT_NE(std::string::npos, out.find("The camera is busy; trying again in 20 ms: HRESULT: 0x80210006")) << out;
    EXPECT_NE(std::string::npos, out.find("trying again in 40 ms")) << out;
}

TEST_F(ConditionsTest, HeldBeyondTheBudgetIsDeviceBusyAndZeroMeansOneTry) {
    device().held = true;
    ASSERT_EQ(kOk, setOption(kBusyWait, 200));
    int value = -1;
    const ULONGLONG start = GetTickCount64();
    EXPECT_EQ(kDeviceBusy, lib.GetSetting(handle, kFlashMode, &value));
    const ULONGLONG took = GetTickCount64() - start;
    EXPECT_GE(took, 190u) << "the whole busy wait";
    EXPECT_EQ(-1, value);
    EXPECT_NE(std::string::npos, Output().find("The camera stayed busy: HRESULT: 0x80210006"));
    // The 83 of 1.3 report it as any failure.
    EXPECT_EQ(-2, getFlash(handle, &value));  // FOTEX_ERR_NO_STORAGE
    ASSERT_EQ(kOk, setOption(kBusyWait, 0));
    const int queries = camera.Calls(Op::QueryPropertyStorage);
    EXPECT_EQ(kDeviceBusy, lib.GetSetting(handle, kFlashMode, &value));
    EXPECT_EQ(1, camera.Calls(Op::QueryPropertyStorage) - queries);
    device().held = false;
    EXPECT_EQ(1, Flash());
}

fotexsim::Device* g_held = nullptr;
void CALLBACK LetGo(HWND window, UINT, UINT_PTR id, DWORD) {
    g_held->held = false;
    KillTimer(window, id);
}

// A walk that meets a camera held past the busy wait gives up after that one wait, whatever it
// reads of each item.
TEST_F(ConditionsTest, WalksHeldBeyondTheBudgetWaitOnce) {
    using ListNewFn = int(__cdecl*)(FOTEX_DEVICE, int, int*);
    const auto listNew = reinterpret_cast<ListNewFn>(lib.Symbol("ListNewCameraItems"));
    ASSERT_TRUE(listNew);
    const struct {
        const char* name;
        std::function<int(int*)> call;
    } walks[] = {
        {"ListCameraItems", [&](int* count) { return lib.ListCameraItems(handle, count); }},
        {"ListNewCameraItems", [&](int* count) { return listNew(handle, 0, count); }},
    };
    ASSERT_EQ(kOk, setOption(kBusyWait, 150));
    for (const auto& w : walks) {
        device().held = true;
        int count = -7;
        EXPECT_EQ(kDeviceBusy, w.call(&count)) << w.name;
        device().held = false;
        EXPECT_EQ(-7, count) << w.name;
        const std::string out = Output();
        size_t waits = 0;
        for (size_t at = out.find("The camera stayed busy"); at != std::string::npos; at = out.find("The camera stayed busy", at + 1))
            ++waits;
        EXPECT_EQ(1u, waits) << w.name << "\n" << out;
    }
}

// A window's timer, dispatched during the pause, lets the device go.
TEST_F(ConditionsTest, WindowMessagesAreHandledWhileBusy) {
    g_held = &device();
    g_held->held = true;
    HWND window = CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    ASSERT_NE(nullptr, window);
    SetTimer(window, 1, 60, LetGo);
    EXPECT_EQ(1, Flash()) << "let go within the busy wait";
    DestroyWindow(window);
}

std::function<void()> g_inTimer;
void CALLBACK RunInTimer(HWND window, UINT, UINT_PTR id, DWORD) {
    KillTimer(window, id);
    g_inTimer();
}

// A handler run during the pause meets a camera gone for a moment on a call of its own; the shot
// it interrupts goes through, and is neither repeated nor followed by a reconnect.
TEST_F(ConditionsTest, AHandlersOwnFailureInTheBusyWaitLeavesTheCallAlone) {
    const FOTEX_ITEM item = Item(0);
    int nested = 0;
    g_inTimer = [&] {
        int type = 0;
        camera.SetCondition(0, Condition::Asleep, 1);
        nested = lib.GetItemValue(item, 1, &type);
        camera.SetCondition(0, Condition::Asleep, 0);
        device().held = false;  // held until now: the shot can only follow the handler
    };
    HWND window = CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    ASSERT_NE(nullptr, window);
    device().held = true;
    SetTimer(window, 1, 10, RunInTimer);
    const size_t before = camera.ItemsOf(device()).size();
    const int creations = camera.Calls(Op::CreateDevice);
    FOTEX_ITEM shot = 0;
    lib.TakeAPicture(handle, &shot);
    items.push_back(shot);
    DestroyWindow(window);
    EXPECT_EQ(kOffline, nested);
    EXPECT_NE(0, shot);
    EXPECT_EQ(before + 1, camera.ItemsOf(device()).size()) << "one picture";
    EXPECT_EQ(0, camera.Calls(Op::CreateDevice) - creations) << "nothing to reconnect";
}

// A thread message is the host's: it stays in its place while the call waits out the busy time.
TEST_F(ConditionsTest, ThreadMessagesStayInTheQueueWhileBusy) {
    device().busyUntil = GetTickCount64() + 150;
    ASSERT_TRUE(PostThreadMessageW(GetCurrentThreadId(), WM_APP + 5, 42, 0));
    EXPECT_EQ(1, Flash());
    MSG msg;
    ASSERT_TRUE(PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(static_cast<UINT>(WM_APP + 5), msg.message);
    EXPECT_EQ(42u, msg.wParam);
}

TEST_F(ConditionsTest, AsleepAnswersOfflineUntilWokenOnTheSameHandle) {
    ASSERT_TRUE(camera.SetCondition(0, Condition::Asleep, 1));
    const int creations = camera.Calls(Op::CreateDevice);
    int value = -1;
    EXPECT_EQ(kOffline, lib.GetSetting(handle, kFlashMode, &value));
    EXPECT_EQ(1, camera.Calls(Op::CreateDevice) - creations) << "one attempt to open it again";
    EXPECT_EQ("", Output()) << "a failed reconnect has no line of its own";
    ASSERT_TRUE(camera.SetCondition(0, Condition::Asleep, 0));
    EXPECT_EQ(1, Flash());
}

TEST_F(ConditionsTest, PluggedInAnewTheHandleReachesTheNewRootOnlyWhileReconnectingAndOldItemsStayOld) {
    const FOTEX_ITEM before = Item(1);
    ASSERT_TRUE(camera.Unplug(0));
    ASSERT_TRUE(camera.SetCondition(0, Condition::PlugInAnew, 0));
    // Without reconnecting the gone device stays gone.
    ASSERT_EQ(kOk, setOption(kReconnect, 0));
    const int unopened = camera.Calls(Op::CreateDevice);
    int setting = -1;
    EXPECT_EQ(kOffline, lib.GetSetting(handle, kFlashMode, &setting));
    EXPECT_EQ(0, camera.Calls(Op::CreateDevice) - unopened);
    ASSERT_EQ(kOk, setOption(kReconnect, 1));
    const FOTEX_DEVICE value = handle;
    EXPECT_EQ(1, Flash());
    EXPECT_EQ(value, handle);
    EXPECT_NE(std::string::npos, Output().find("The camera came back; its device was opened again"));
    const int creations = camera.Calls(Op::CreateDevice);
    EXPECT_EQ(1, Flash());
    EXPECT_EQ(0, camera.Calls(Op::CreateDevice) - creations) << "the new root serves from now on";
    // The item from before keeps its old object; listing again reaches the new ones.
    int type = 0;
    EXPECT_EQ(kOffline, lib.GetItemValue(before, 1, &type));
    const FOTEX_ITEM after = Item(1);
    EXPECT_EQ(kOk, lib.GetItemValue(after, 1, &type));
    FOTEX_ITEM shot = 0;
    lib.TakeAPicture(handle, &shot);
    EXPECT_NE(0, shot);
    items.push_back(shot);
}

// Each device function finds its way back after a vanished service, once.
TEST_F(ConditionsTest, EveryDeviceCallTriesOnceMoreAfterAVanishedService) {
    struct Case {
        const char* name;
        Op op;
        std::function<bool()> call;
    };
    int value = 0, taken = 0, left = 0, pictures = 0, count = 0;
    FOTEX_ITEM found = 0;
    const std::vector<Case> cases = {
        {"GetSetting", Op::QueryPropertyStorage, [&] { return lib.GetSetting(handle, kFlashMode, &value) == kOk; }},
        {"GetFlashMode", Op::ReadMultiple, [&] { return getFlash(handle, &value) == kOk; }},
        {"SetFlashMode", Op::WriteMultiple, [&] { return setFlash(handle, 2) == kOk; }},
        {"GetStorageInfo", Op::ReadMultiple, [&] { return lib.GetStorageInfo(handle, &taken, &left) == kOk; }},
        {"EnumDeviceCap", Op::EnumDeviceCapabilities,
         [&] { return lib.EnumDeviceCap(handle, &pictures, nullptr) > 0; }},
        {"ListCameraItems", Op::EnumChildItems, [&] { return lib.ListCameraItems(handle, &count) == kOk; }},
        {"ListNewCameraItems", Op::EnumChildItems, [&] { return lib.ListNewCameraItems(handle, 0, &count) == kOk; }},
        {"FindCameraItem", Op::FindItemByName,
         [&] {
             const bool ok = lib.FindCameraItem(handle, L"dev-a\\Root\\DCIM", &found) == kOk;
             lib.ReleaseCameraItem(&found);
             return ok;
         }},
        {"GetSettingChoices", Op::GetPropertyAttributes,
         [&] {
             const int status = lib.GetSettingChoices(handle, kFlashMode, nullptr, nullptr, nullptr, nullptr, 0, &count);
             return status == kOk || status == kMoreData;
         }},
    };
    for (const Case& c : cases) {
        camera.FailOn(c.op, kDisconnected);
        const int creations = camera.Calls(Op::CreateDevice);
        EXPECT_TRUE(c.call()) << c.name;
        EXPECT_EQ(1, camera.Calls(Op::CreateDevice) - creations) << c.name;
        camera.ClearFaults();
    }
}

// Pulled out part-way through each kind of transfer, then plugged in anew for the next: no file
// and no temporary file is left, and nothing is deleted from the camera.
TEST_F(ConditionsTest, UnpluggedMidTransferLeavesNoFileAndDeletesNothing) {
    const std::wstring name = dir + L"\\cut.jpg";
    const std::string folder(dir.begin(), dir.end());
    std::vector<char> buffer(1 << 20);
    int size = -1;
    const struct {
        const char* what;
        std::function<int(FOTEX_ITEM)> call;
    } cases[] = {
        {"SaveCameraItem with delete", [&](FOTEX_ITEM item) { return lib.SaveCameraItem(item, name.c_str(), kJpeg, kSaveDelete); }},
        {"ReadCameraItem into memory",
         [&](FOTEX_ITEM item) {
             return lib.ReadCameraItem(item, kJpeg, buffer.data(), static_cast<int>(buffer.size()), &size, nullptr, nullptr);
         }},
        {"TransferAllImages with delete",
         [&](FOTEX_ITEM) {
             lib.TransferAllImages(handle, folder.c_str(), "img", kJpeg, 1);
             return kOffline;  // returns nothing
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const FOTEX_ITEM item = Item(0);
        const size_t media = camera.ItemsOf(device()).size();
        ASSERT_TRUE(camera.SetCondition(0, Condition::UnplugAfterBytes, 100));
        EXPECT_EQ(kOffline, c.call(item));
        EXPECT_TRUE(Files().empty()) << "no file, no temporary file";
        EXPECT_EQ(media, camera.ItemsOf(device()).size());
        EXPECT_TRUE(device().offline);
        ASSERT_TRUE(camera.SetCondition(0, Condition::PlugInAnew, 0));
    }
}

// A faulty service's short file, its size read back from a camera busy for a moment: the read is
// asked again, and the short file is refused as ever.
TEST_F(ConditionsTest, ASizeReadBackWhileBusyStillCatchesAShortFile) {
    const FOTEX_ITEM item = Item(0);
    const size_t media = camera.ItemsOf(device()).size();
    bool transferred = false, busied = false;
    camera.onCall = [&](Op op) {
        if (op == Op::GetData) transferred = true;
        if (op == Op::ReadMultiple && transferred && !busied) {
            busied = true;
            device().busyUntil = GetTickCount64() + 60;
        }
    };
    camera.CutTransfer(S_OK);
    const std::wstring name = dir + L"\\half.jpg";
    EXPECT_EQ(static_cast<int>(0x8007012B), lib.SaveCameraItem(item, name.c_str(), kJpeg, kSaveDelete));  // ERROR_PARTIAL_COPY
    camera.onCall = nullptr;
    EXPECT_TRUE(busied);
    EXPECT_TRUE(Files().empty());
    EXPECT_EQ(media, camera.ItemsOf(device()).size());
}

// A handler stops the events while the registration is made again after the service ended: the
// stop holds, and no registration is left behind.
TEST_F(ConditionsTest, EventsStoppedWhileRegisteredAgainStayStopped) {
    ASSERT_EQ(0, lib.WaitForCameraEvent(0, nullptr, nullptr, 0, nullptr, 0));
    ASSERT_EQ(5, camera.EventRegistrations());
    bool stopped = false;
    camera.onCall = [&](Op op) {
        if (op != Op::RegisterEventCallback || stopped) return;
        stopped = true;
        lib.StopCameraEvents();
    };
    camera.FailOn(Op::QueryPropertyStorage, kDisconnected);
    EXPECT_EQ(1, Flash());
    camera.onCall = nullptr;
    EXPECT_TRUE(stopped);
    EXPECT_EQ(0, camera.EventRegistrations());
    EXPECT_EQ(0, lib.WaitForCameraEvent(0, nullptr, nullptr, 0, nullptr, 0));
    EXPECT_EQ(5, camera.EventRegistrations());
    lib.StopCameraEvents();
}

// A handler closes the device while its events are registered again after the service ended:
// the call that opened it again ends on the object it holds, never on the closed handle.
TEST_F(ConditionsTest, ADeviceClosedWhileItsEventsAreRegisteredAgainIsLeftAlone) {
    ASSERT_EQ(0, lib.WaitForCameraEvent(0, nullptr, nullptr, 0, nullptr, 0));
    const FOTEX_DEVICE device = handle;
    bool closed = false;
    camera.onCall = [&](Op op) {
        if (op != Op::RegisterEventCallback || closed) return;
        closed = true;
        lib.CloseWiaDevice(&handle);
    };
    camera.FailOn(Op::QueryPropertyStorage, kDisconnected);
    int value = -1;
    EXPECT_EQ(kOk, lib.GetSetting(device, kFlashMode, &value));
    camera.onCall = nullptr;
    EXPECT_TRUE(closed);
    EXPECT_EQ(0, handle);
    lib.StopCameraEvents();
}

// A handler closes the device after its first reconnect, in the call itself or in its second
// reconnect, and opens another device until one takes the closed root's place in memory (the heap
// reuses it within a few tries), as a host's next open may: that device keeps its own root, and
// the call on the closed handle is not made on it.
TEST_F(ConditionsTest, ADeviceOpenedByAHandlerDuringAReconnectIsNotTakenForTheClosedOne) {
    camera.AddStandardCamera(L"dev-b", L"Beta", L"Second camera", 3);
    Enumerate(2);
    const std::string folder(dir.begin(), dir.end());
    const auto getSetting = [&](FOTEX_DEVICE device, int* value) { return lib.GetSetting(device, kFlashMode, value); };
    const struct {
        Op at;  // the handler's moment, and the failure that finds the device gone
        std::function<int(FOTEX_DEVICE, int*)> call;
    } cases[] = {
        {Op::CreateDevice, getSetting},
        {Op::QueryPropertyStorage, getSetting},
        {Op::EnumChildItems,
         [&](FOTEX_DEVICE device, int*) {
             lib.TransferAllImages(device, folder.c_str(), "img", kJpeg, 0);
             return kDisconnected;  // returns nothing
         }},
    };
    for (const auto& c : cases) {
        const Op at = c.at;
        SCOPED_TRACE(static_cast<int>(at));
        if (handle == 0) handle = Open(0);
        FOTEX_DEVICE other = Open(1);
        ASSERT_EQ(kOk, setFlash(other, 2));
        lib.CloseWiaDevice(&other);
        camera.FailOn(Op::QueryPropertyStorage, kDisconnected);
        ASSERT_EQ(1, Flash()) << "the first reconnect";
        camera.ClearFaults();
        bool opened = false;
        int creations = 0;
        camera.onCall = [&](Op op) {
            if (op != at || opened) return;
            opened = true;
            const FOTEX_DEVICE closed = handle;
            lib.CloseWiaDevice(&handle);
            std::vector<FOTEX_DEVICE> others;
            for (int i = 0; i < 64 && other != closed; ++i) {
                if (other != 0) others.push_back(other);
                other = Open(1);
            }
            for (FOTEX_DEVICE& d : others) lib.CloseWiaDevice(&d);
            creations = camera.Calls(Op::CreateDevice);
        };
        camera.FailOn(at == Op::CreateDevice ? Op::QueryPropertyStorage : at, kDisconnected);
        int value = -1;
        EXPECT_NE(kOk, c.call(handle, &value));
        EXPECT_EQ(-1, value) << "read from the other camera";
        EXPECT_EQ(creations, camera.Calls(Op::CreateDevice)) << "the other camera opened again";
        camera.onCall = nullptr;
        camera.ClearFaults();
        EXPECT_TRUE(opened);
        ASSERT_NE(0, other);
        EXPECT_EQ(0, handle);
        value = -1;
        EXPECT_EQ(kOk, lib.GetSetting(other, kFlashMode, &value));
        EXPECT_EQ(2, value) << "the second camera's own setting";
        lib.CloseWiaDevice(&other);
    }
}

struct Lines {
    std::vector<std::string> lines;
    DWORD thread = 0;
};

TEST_F(ConditionsTest, TraceLinesGoToTheHostsRoutineUntilItIsCleared) {
    Lines got;
    ASSERT_EQ(kOk, setLog([](void* context, const char* line) {
        auto* l = static_cast<Lines*>(context);
        l->lines.push_back(line);
        l->thread = GetCurrentThreadId();
    }, &got));
    lib.GetWiaDeviceInfo(99, nullptr, nullptr, nullptr);
    device().held = true;
    ASSERT_EQ(kOk, setOption(kBusyWait, 30));
    int value = 0;
    lib.GetSetting(handle, kFlashMode, &value);
    EXPECT_EQ("", Output()) << "nothing on standard output";
    ASSERT_GE(got.lines.size(), 3u);
    EXPECT_EQ("Device index overflow", got.lines[0]);
    EXPECT_EQ("The camera is busy; trying again in 20 ms: HRESULT: 0x80210006", got.lines[1]);
    EXPECT_EQ("The camera stayed busy: HRESULT: 0x80210006", got.lines.back());
    EXPECT_EQ(GetCurrentThreadId(), got.thread);
    ASSERT_EQ(kOk, setLog(nullptr, nullptr));
    const size_t before = got.lines.size();
    lib.GetWiaDeviceInfo(99, nullptr, nullptr, nullptr);
    EXPECT_EQ(before, got.lines.size());
    EXPECT_EQ("Device index overflow\n", Output());
    device().held = false;
}

}  // namespace
}  // namespace fotextest

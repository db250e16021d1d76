// Camera events: registration, delivery into the waiting thread's apartment, the queue and its
// overflow, stopping, unloading, and the wait's own rules.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "fixture.h"
#include "wia_ids.h"

namespace {

using fotextest::FotexTest;
using fotextest::Guarded;

constexpr int kSentinel = 0x5EED;
constexpr int kNameBytes = 2048;

// The documented event identifiers, written out rather than taken from the library.
constexpr GUID kConnected = {0xA28BBADE, 0x64B6, 0x11D2, {0xA2, 0x31, 0x00, 0xC0, 0x4F, 0xA3, 0x18, 0x09}};
constexpr GUID kDisconnected = {0x143E4E83, 0x6497, 0x11D2, {0xA2, 0x31, 0x00, 0xC0, 0x4F, 0xA3, 0x18, 0x09}};
constexpr GUID kItemCreated = {0x4C8F4EF5, 0xE14F, 0x11D2, {0xB3, 0x26, 0x00, 0xC0, 0x4F, 0x68, 0xCE, 0x61}};
constexpr GUID kItemDeleted = {0x1D22A559, 0xE14F, 0x11D2, {0xB3, 0x26, 0x00, 0xC0, 0x4F, 0x68, 0xCE, 0x61}};
constexpr GUID kTreeUpdated = {0xC9859B91, 0x4AB2, 0x4CD6, {0xA1, 0xFC, 0x58, 0x2E, 0xEC, 0x55, 0xE5, 0x85}};
constexpr GUID kVolumeInsert = {0x9638BBFD, 0xD1BD, 0x11D2, {0xB3, 0x1F, 0x00, 0xC0, 0x4F, 0x68, 0xCE, 0x61}};

constexpr int kDeviceConnected = 1, kDeviceDisconnected = 2, kItemCreatedKind = 3, kItemDeletedKind = 4,
              kTreeUpdatedKind = 5, kLost = 6;

struct Event {
    int status = kSentinel;
    int kind = kSentinel;
    std::wstring device, item;
};

class EventsTest : public FotexTest {
protected:
    void SetUp() override {
        FotexTest::SetUp();
        if (HasFatalFailure()) return;
        camera.AddStandardCamera(L"{6BDD1FC6-810F-11D0-BEC7-08002BE2092F}\\0000", L"Alpha", L"First camera");
        camera.AddStandardCamera(L"{6BDD1FC6-810F-11D0-BEC7-08002BE2092F}\\0001", L"Beta", L"Second camera");
    }
    void TearDown() override {
        if (lib.loaded()) lib.StopCameraEvents();
        EXPECT_EQ(0, camera.EventRegistrations());
        EXPECT_TRUE(Ledger(0));
        FotexTest::TearDown();
    }

    // One wait with room for every text.
    Event Wait(int timeoutMs) {
        Guarded<FOTEX_EVENT_DEVICE_UNITS * 2> device;
        Guarded<kNameBytes> item;
        Event e;
        e.status = lib.WaitForCameraEvent(timeoutMs, &e.kind, device.data(), FOTEX_EVENT_DEVICE_UNITS * 2, item.data(),
                                          kNameBytes);
        EXPECT_TRUE(device.GuardsIntact() && item.GuardsIntact());
        if (e.status == 1) {
            e.device = reinterpret_cast<const wchar_t*>(device.data());
            e.item = reinterpret_cast<const wchar_t*>(item.data());
        } else {
            EXPECT_TRUE(device.Untouched() && item.Untouched()) << "status " << e.status;
        }
        return e;
    }
    // Registers, and expects nothing queued yet.
    void Register() {
        ASSERT_EQ(0, Wait(0).status);
        ASSERT_EQ(5, camera.EventRegistrations());
    }
    // What a host's own message loop does between waits. Out of process a delivery reaches the
    // host only once the server makes its call, after the one before it returned: the loop goes
    // on until the server has nothing pending and a few rounds in a row bring nothing. A server
    // that stops answering, or a delivery that never comes, fails the test instead of hanging it.
    int Pump() {
        int n = 0;
        ULONGLONG lastSeen = GetTickCount64();
        for (int quiet = 0; quiet < 3;) {
            const int before = n;
            MSG m;
            while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) {
                DispatchMessageW(&m);
                ++n;
            }
            if (!fotextest::ServerMode()) break;
            const long pending = camera.EventsPending();
            if (pending < 0) {
                ADD_FAILURE() << "the server did not say what it has pending";
                break;
            }
            if (n != before) lastSeen = GetTickCount64();
            if (GetTickCount64() - lastSeen > 20000) {
                ADD_FAILURE() << pending << " deliveries pending, none came for 20 s";
                break;
            }
            quiet = n == before && pending == 0 ? quiet + 1 : 0;
            Sleep(5);
        }
        return n;
    }
    std::wstring Id(size_t device) { return camera.devices[device].id; }
    std::wstring NameOf(fotexsim::Item* item, size_t device = 0) {
        return fotexsim::FullItemName(camera.devices[device], *item);
    }
};

// ---- registration ----------------------------------------------------------------------------

TEST_F(EventsTest, WineServiceWithoutEventsRefusesTheRegistrationEachTime) {
    camera.Revoke();  // the service is now Wine's own, out of process
    for (int attempt = 0; attempt < 2; ++attempt) {
        const Event e = Wait(0);
        EXPECT_EQ(static_cast<int>(0x80004001), e.status) << "attempt " << attempt;  // E_NOTIMPL
        EXPECT_EQ(kSentinel, e.kind) << "attempt " << attempt;
    }
    EXPECT_EQ("", Output());
    // Once a service with events is there, the next call registers.
    ASSERT_EQ(S_OK, camera.Register());
    Register();
}

TEST_F(EventsTest, FirstWaitRegistersTheFiveEventsOnEveryDeviceOnce) {
    Register();
    const auto& r = camera.last.registration;
    EXPECT_EQ(0, r.flags);
    EXPECT_TRUE(r.deviceIdNull);
    const std::vector<GUID> expected = {kConnected, kDisconnected, kItemCreated, kItemDeleted, kTreeUpdated};
    EXPECT_TRUE(r.events == expected);
    EXPECT_TRUE(Ledger(5)) << "one registration object per event, held by the library";
    EXPECT_EQ(0, Wait(0).status);
    EXPECT_EQ(5u, r.events.size()) << "registered once";
    EXPECT_EQ(5, camera.Calls(fotexsim::Op::RegisterEventCallback));
    EXPECT_EQ("", Output());
}

TEST_F(EventsTest, FailedRegistrationLeavesNothingRegisteredAndIsTriedAgain) {
    const HRESULT kBusy = static_cast<HRESULT>(0x80210006);  // WIA_ERROR_BUSY
    for (int nth = 1; nth <= 5; ++nth) {
        camera.FailOn(fotexsim::Op::RegisterEventCallback, kBusy, nth);
        EXPECT_EQ(kBusy, Wait(0).status) << "registration " << nth << " failing";
        EXPECT_EQ(0, camera.EventRegistrations()) << nth;
        EXPECT_TRUE(Ledger(0)) << nth;
        camera.ClearFaults();
    }
    // Success without an object is the service's fault, never a null pointer of the caller's.
    camera.FailOn(fotexsim::Op::RegisterEventCallback, S_FALSE);
    EXPECT_EQ(static_cast<int>(0x80004005), Wait(0).status);
    EXPECT_EQ(0, camera.EventRegistrations());
    Register();
}

TEST_F(EventsTest, FailedRegistrationLeavesNoEventsForTheNextOne) {
    const HRESULT kBusy = static_cast<HRESULT>(0x80210006);  // WIA_ERROR_BUSY
    // The fourth call fails after the first three were made; an event for the third arrives
    // meanwhile, as the service's calls handle the thread's messages.
    int registering = 0;
    camera.onCall = [&](fotexsim::Op op) {
        if (op != fotexsim::Op::RegisterEventCallback || ++registering != 4) return;
        camera.PressShutter(0);
        Pump();
    };
    camera.FailOn(fotexsim::Op::RegisterEventCallback, kBusy, 4);
    EXPECT_EQ(kBusy, Wait(0).status);
    camera.onCall = nullptr;
    camera.ClearFaults();
    EXPECT_EQ(1, camera.EventsDelivered()) << "the event reached the half-made registration";
    EXPECT_EQ(0, camera.EventRegistrations());
    Register();  // and finds nothing queued
    EXPECT_EQ(0, Wait(0).status);
}

TEST_F(EventsTest, WaitFromAnotherThreadIsRefused) {
    Register();
    int status = kSentinel;
    std::thread other([&] { status = lib.WaitForCameraEvent(0, nullptr, nullptr, 0, nullptr, 0); });
    other.join();
    EXPECT_EQ(static_cast<int>(0x8001010E), status);  // RPC_E_WRONG_THREAD
    EXPECT_EQ(5, camera.EventRegistrations());
}

// ---- delivery --------------------------------------------------------------------------------

TEST_F(EventsTest, ShutterPressedOnAnotherThreadReachesTheWaitingThread) {
    Register();
    fotexsim::Item* taken = nullptr;
    std::thread shutter([&] {
        Sleep(50);
        taken = camera.PressShutter(1);
    });
    const Event e = Wait(10000);
    shutter.join();
    ASSERT_EQ(1, e.status);
    ASSERT_NE(nullptr, taken);
    EXPECT_EQ(kItemCreatedKind, e.kind);
    EXPECT_EQ(Id(1), e.device);
    EXPECT_EQ(L"0001\\Root\\DCIM\\" + taken->name, e.item);
    EXPECT_EQ(GetCurrentThreadId(), camera.LastDeliveryThread());
}

TEST_F(EventsTest, NoEventReachesAThreadThatDoesNotHandleItsMessages) {
    Register();
    std::thread shutter([&] { camera.PressShutter(0); });
    shutter.join();
    camera.PressShutter(0);
    Sleep(100);
    EXPECT_EQ(0, camera.EventsDelivered());
    EXPECT_EQ(2, camera.EventsPending());
    // A poll handles no message either: the deliveries stay posted.
    EXPECT_EQ(0, Wait(0).status);
    EXPECT_EQ(2, camera.EventsPending());
    // A wait handles them, one for each event it returns.
    EXPECT_EQ(1, Wait(1000).status);
    EXPECT_EQ(1, Wait(1000).status);
    EXPECT_EQ(2, camera.EventsDelivered());
    EXPECT_EQ(0, Wait(0).status);
}

TEST_F(EventsTest, EachKindCarriesItsDeviceAndAnItemNameOnlyForItems) {
    Enumerate(2);
    FOTEX_DEVICE device = Open(0);
    Register();
    FOTEX_ITEM item = 0;
    lib.TakeAPicture(device, &item);
    ASSERT_NE(0, item);
    const std::wstring picture = L"0000\\Root\\DCIM\\IMG_0004";  // after the three the camera holds
    char name[MAX_PATH];
    GetTempPathA(MAX_PATH, name);
    std::strcat(name, "fotex-events-shot");
    lib.TransferPicture(item, name, 0, 1);  // BMP, deleted after the transfer
    EXPECT_TRUE(DeleteFileA(name)) << name;
    lib.DeleteAll(device);
    camera.Unplug(1);
    camera.PlugIn(1);
    camera.RaiseEvent(kItemCreated, 0, std::wstring(3000, L'x'));  // longer than the field
    lib.CloseWiaDevice(&device);

    const struct {
        int kind;
        size_t device;
        std::wstring item;
    } expected[] = {
        {kItemCreatedKind, 0, picture},
        {kItemDeletedKind, 0, picture},
        {kTreeUpdatedKind, 0, L""},
        {kDeviceDisconnected, 1, L""},
        {kDeviceConnected, 1, L""},
        {kItemCreatedKind, 0, std::wstring(FOTEX_EVENT_NAME_UNITS - 1, L'x')},
    };
    for (size_t i = 0; i < std::size(expected); ++i) {
        const Event e = Wait(1000);
        ASSERT_EQ(1, e.status) << "event " << i;
        EXPECT_EQ(expected[i].kind, e.kind) << "event " << i;
        EXPECT_EQ(Id(expected[i].device), e.device) << "event " << i;
        EXPECT_EQ(expected[i].item, e.item) << "event " << i;
    }
    EXPECT_EQ(0, Wait(0).status);
    EXPECT_EQ("", Output());
}

// Ten presses in each way a camera may send its item events: the events arrive as the mode says
// (none, 3 of 10 lost, each twice, late, a deleted item's first), and a host that looks for new
// items at each wake-up, or 100 ms without one, lists each picture once whatever came.
TEST_F(EventsTest, EachEventModeArrivesAsCamerasSendAndLooksListEachPictureOnce) {
    using Events = fotexsim::Device::Events;
    const struct {
        int mode, value;
        int created, deleted;
    } modes[] = {
        {Events::All, 0, 10, 0},   {Events::None, 0, 0, 0},   {Events::Lost, 30, 7, 0},
        {Events::Twice, 0, 20, 0}, {Events::Late, 300, 10, 0}, {Events::DeletedFirst, 0, 20, 10},
    };
    EXPECT_FALSE(camera.SetEventMode(0, Events::Lost, 0));
    EXPECT_FALSE(camera.SetEventMode(0, Events::Count, 0));
    EXPECT_FALSE(camera.SetEventMode(5, Events::All, 0));
    Enumerate(2);
    FOTEX_DEVICE device = Open(0);
    Register();
    for (size_t m = 0; m < std::size(modes); ++m) {
        ASSERT_TRUE(camera.SetEventMode(0, modes[m].mode, modes[m].value));
        int count = kSentinel;
        // The call also takes the mode over to a camera in another process.
        ASSERT_EQ(1, lib.ListNewCameraItems(device, 1, &count)) << "mode " << m;
        for (int press = 0; press < 10; ++press) ASSERT_NE(nullptr, camera.PressShutter(0)) << "mode " << m;
        std::map<std::wstring, int> listed;
        int created = 0, deleted = 0;
        // Until every picture is listed and the camera has nothing left to deliver (out of
        // process, deliveries come as the host makes its calls), then the last ones taken in.
        int quiet = 0;
        for (const DWORD start = GetTickCount(); quiet < 3 && GetTickCount() - start < 60000;) {
            const DWORD late = modes[m].mode == Events::Late ? static_cast<DWORD>(modes[m].value) : 0;
            const bool settled = listed.size() == 10 && GetTickCount() - start > late + 200 && camera.EventsPending() == 0;
            const Event e = Wait(100);
            quiet = settled && e.status == 0 ? quiet + 1 : 0;
            created += e.status == 1 && e.kind == kItemCreatedKind;
            deleted += e.status == 1 && e.kind == kItemDeletedKind;
            ASSERT_EQ(1, lib.ListNewCameraItems(device, 0, &count)) << "mode " << m;
            for (int i = 0; i < count; ++i) {
                wchar_t name[256] = L"";
                ASSERT_EQ(1, lib.GetCameraItemText(device, i, FOTEX_ITEM_FULL_NAME, name, sizeof name)) << "mode " << m;
                ++listed[name];
            }
        }
        EXPECT_EQ(10u, listed.size()) << "mode " << m;
        for (const auto& [name, times] : listed) {
            EXPECT_EQ(1, times) << "mode " << m << " " << std::string(name.begin(), name.end());
            EXPECT_EQ(std::wstring::npos, name.find(L"CAPT_TMP")) << "mode " << m << ": an item gone is not listed";
        }
        EXPECT_EQ(modes[m].created, created) << "mode " << m;
        EXPECT_EQ(modes[m].deleted, deleted) << "mode " << m;
    }
    lib.CloseWiaDevice(&device);
    EXPECT_EQ("", Output());
}

TEST_F(EventsTest, EventsOfOtherKindsAreNotQueued) {
    Register();
    camera.RaiseEvent(kVolumeInsert, 0, L"x");  // not registered for: the service keeps it
    camera.RaiseEvent(kTreeUpdated, 0, L"0000\\Root");  // a name on a kind that carries none
    const Event e = Wait(1000);
    ASSERT_EQ(1, e.status);
    EXPECT_EQ(kTreeUpdatedKind, e.kind);
    EXPECT_EQ(L"", e.item);
    EXPECT_EQ(0, Wait(0).status);
}

TEST_F(EventsTest, ThousandsOfEventsFromAnotherThreadArriveInOrderWhenTheHostKeepsUp) {
    Register();
    const int kEvents = 3000;
    std::thread producer([&] {
        for (int i = 0; i < kEvents; ++i) camera.RaiseEvent(kItemCreated, 0, std::to_wstring(i));
    });
    int received = 0, outOfOrder = 0, lost = 0;
    while (received < kEvents) {
        const Event e = Wait(5000);
        if (e.status != 1) break;
        if (e.kind == kLost) ++lost;
        else if (e.item != std::to_wstring(received++)) ++outOfOrder;
    }
    producer.join();
    EXPECT_EQ(kEvents, received);
    EXPECT_EQ(0, outOfOrder);
    EXPECT_EQ(0, lost);
}

// ---- the queue -------------------------------------------------------------------------------

TEST_F(EventsTest, FullQueueKeepsTheOldestAndOneLostStandsForEachRunOfDropped) {
    Register();
    auto raise = [&](int from, int to) {
        for (int i = from; i < to; ++i) camera.RaiseEvent(kItemCreated, 0, std::to_wstring(i));
        Pump();  // the host's own loop: every event reaches the queue before any is taken
    };
    auto take = [&](int n, std::vector<std::wstring>& seen) {
        for (int i = 0; i < n; ++i) {
            const Event e = Wait(0);
            if (e.status != 1) return;
            seen.push_back(e.kind == kLost ? L"LOST" + e.device + e.item : e.item);
        }
    };
    std::vector<std::wstring> seen;
    raise(0, 1100);                  // 1,024 kept, 76 dropped
    take(1, seen);                   // room for one more, yet the run goes on
    raise(1100, 1101);               // dropped
    take(1, seen);
    raise(1101, 1102);               // queued after the LOST
    raise(1102, 1200);               // a second run
    take(2000, seen);
    std::vector<std::wstring> expected;
    for (int i = 0; i < 1024; ++i) expected.push_back(std::to_wstring(i));
    expected.push_back(L"LOST");
    expected.push_back(L"1101");
    expected.push_back(L"LOST");
    EXPECT_EQ(expected.size(), seen.size());
    for (size_t i = 0; i < std::min(expected.size(), seen.size()); ++i)
        ASSERT_EQ(expected[i], seen[i]) << "entry " << i;
    EXPECT_EQ(0, Wait(0).status);
    raise(1200, 1201);
    EXPECT_EQ(L"1200", Wait(0).item) << "the queue works on after overflowing";
}

TEST_F(EventsTest, TooSmallBufferKeepsTheEventFirstAndWritesNothing) {
    Register();
    const std::wstring name = L"0000\\Root\\DCIM\\IMG_0042";
    camera.RaiseEvent(kItemCreated, 0, name);
    Pump();  // queued by the host's own loop; the polls below only take it
    const std::wstring id = Id(0);
    const int idBytes = static_cast<int>((id.size() + 1) * 2), nameBytes = static_cast<int>((name.size() + 1) * 2);
    struct Case {
        int deviceBytes, itemBytes;
        int status;
    } cases[] = {
        {idBytes - 1, nameBytes, static_cast<int>(0x8007007A)},
        {idBytes, nameBytes - 1, static_cast<int>(0x8007007A)},
        {idBytes, 0, static_cast<int>(0x8007007A)},
        {idBytes, nameBytes, 1},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        Guarded<512> device, item;
        int kind = kSentinel;
        const int status = lib.WaitForCameraEvent(0, &kind, device.data(), cases[i].deviceBytes, item.data(),
                                                  cases[i].itemBytes);
        EXPECT_EQ(cases[i].status, status) << "case " << i;
        EXPECT_TRUE(device.GuardsIntact() && item.GuardsIntact()) << "case " << i;
        if (status == 1) {
            EXPECT_EQ(kItemCreatedKind, kind);
            EXPECT_EQ(name, std::wstring(reinterpret_cast<const wchar_t*>(item.data())));
            EXPECT_EQ(id, std::wstring(reinterpret_cast<const wchar_t*>(device.data())));
        } else {
            EXPECT_EQ(kSentinel, kind) << "case " << i;
            EXPECT_TRUE(device.Untouched() && item.Untouched()) << "case " << i;
        }
    }
    // Without buffers only the kind comes out.
    camera.RaiseEvent(kItemDeleted, 0, name);
    int kind = kSentinel;
    EXPECT_EQ(1, lib.WaitForCameraEvent(1000, &kind, nullptr, 0, nullptr, 0));
    EXPECT_EQ(kItemDeletedKind, kind);
    camera.RaiseEvent(kItemDeleted, 0, L"");
    EXPECT_EQ(1, lib.WaitForCameraEvent(1000, nullptr, nullptr, 0, nullptr, 0));
}

TEST_F(EventsTest, BadArgumentsAreRefusedBeforeAnythingIsRegistered) {
    Guarded<64> buffer;
    struct Case {
        int timeout;
        void* device;
        int deviceBytes;
        void* item;
        int itemBytes;
        int status;
    } cases[] = {
        {-2, nullptr, 0, nullptr, 0, static_cast<int>(0x80070057)},
        {INT_MIN, nullptr, 0, nullptr, 0, static_cast<int>(0x80070057)},
        {0, buffer.data(), -1, nullptr, 0, static_cast<int>(0x80070057)},
        {0, nullptr, 0, buffer.data(), -2, static_cast<int>(0x80070057)},
        {0, nullptr, 2, nullptr, 0, static_cast<int>(0x80004003)},
        {0, nullptr, 0, nullptr, 64, static_cast<int>(0x80004003)},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        int kind = kSentinel;
        EXPECT_EQ(cases[i].status, lib.WaitForCameraEvent(cases[i].timeout, &kind, cases[i].device, cases[i].deviceBytes,
                                                          cases[i].item, cases[i].itemBytes))
            << "case " << i;
        EXPECT_EQ(kSentinel, kind) << "case " << i;
    }
    EXPECT_TRUE(buffer.Untouched() && buffer.GuardsIntact());
    EXPECT_EQ(0, camera.TotalCalls());
    EXPECT_EQ(0, camera.EventRegistrations());
}

TEST_F(EventsTest, StatusesOfChoicesAndEventsAreDescribed) {
    const struct {
        int status;
        const wchar_t* part;
    } cases[] = {
        {static_cast<int>(0x800700EA), L"ERROR_MORE_DATA"},
        {static_cast<int>(0x8001010E), L"RPC_E_WRONG_THREAD"},
        {static_cast<int>(0x80070490), L"camera or item lacks the property"},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        Guarded<256> text;
        ASSERT_EQ(1, lib.DescribeStatus(cases[i].status, text.data(), 256)) << "case " << i;
        EXPECT_NE(std::wstring::npos, std::wstring(reinterpret_cast<const wchar_t*>(text.data())).find(cases[i].part))
            << "case " << i;
    }
}

// ---- waiting ---------------------------------------------------------------------------------

TEST_F(EventsTest, WaitWithoutEventsReturnsZeroAfterItsTime) {
    Register();
    const ULONGLONG start = GetTickCount64();
    EXPECT_EQ(0, Wait(150).status);
    EXPECT_GE(GetTickCount64() - start, 140u) << "returned before its time";
    // An event that comes during a wait without end ends it.
    std::thread later([&] {
        Sleep(100);
        camera.Unplug(0);
    });
    const Event e = Wait(-1);
    later.join();
    EXPECT_EQ(1, e.status);
    EXPECT_EQ(kDeviceDisconnected, e.kind);
}

// A host's window: counts one message and stops the events on another.
int g_handled = 0;
fotextest::Library* g_library = nullptr;
LRESULT CALLBACK HostWindow(HWND w, UINT m, WPARAM wp, LPARAM lp) {
    if (m == WM_APP + 1) ++g_handled;
    if (m == WM_APP + 2) g_library->StopCameraEvents();
    return DefWindowProcW(w, m, wp, lp);
}

TEST_F(EventsTest, HostMessagesAreDispatchedDuringTheWaitAndQuitEndsIt) {
    Register();
    g_handled = 0;
    g_library = &lib;
    WNDCLASSW c{};
    c.lpfnWndProc = HostWindow;
    c.hInstance = GetModuleHandleW(nullptr);
    c.lpszClassName = L"FotexEventsTestHost";
    RegisterClassW(&c);
    HWND window = CreateWindowExW(0, c.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, c.hInstance, nullptr);
    ASSERT_NE(nullptr, window);

    PostMessageW(window, WM_APP + 1, 0, 0);
    PostMessageW(window, WM_APP + 1, 0, 0);
    EXPECT_EQ(0, Wait(50).status);
    EXPECT_EQ(2, g_handled);

    // A quit message ends even a wait without end, and stays for the host's own loop.
    PostQuitMessage(7);
    EXPECT_EQ(0, Wait(-1).status);
    MSG m{};
    ASSERT_TRUE(PeekMessageW(&m, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
    EXPECT_EQ(7u, m.wParam);

    // Stopping from a handler ends the wait it interrupts.
    PostMessageW(window, WM_APP + 2, 0, 0);
    EXPECT_EQ(0, Wait(-1).status);
    EXPECT_EQ(0, camera.EventRegistrations());
    DestroyWindow(window);
}

// ---- re-entry: the host's messages and handlers during a call --------------------------------

// The messages of a host window that calls the library back.
constexpr UINT kCount = WM_APP + 1;        // counted, nothing else
constexpr UINT kStop = WM_APP + 2;         // StopCameraEvents
constexpr UINT kNestedWait = WM_APP + 3;   // a wait from inside the handler
constexpr UINT kNestedPoll = WM_APP + 4;   // a poll from inside the handler
constexpr UINT kThreadNote = WM_APP + 20;  // posted to the thread, no window

struct HostState {
    fotextest::Library* lib = nullptr;
    int counted = 0;
    int depth = 0, deepest = 0;
    std::vector<int> nested;   // the status of each wait made from a handler
    int countedDuringNested = 0;  // counted messages handled while a nested call ran
    // The timer's handler polls; what it saw.
    int ticks = 0, polled = 0, countedDuringPolls = 0, strangePolls = 0;
};
HostState g_host;

LRESULT CALLBACK ReentrantHost(HWND w, UINT m, WPARAM wp, LPARAM lp) {
    switch (m) {
    case kCount: ++g_host.counted; return 0;
    case kStop: g_host.lib->StopCameraEvents(); return 0;
    case kNestedWait:
    case kNestedPoll:
    {
        g_host.deepest = std::max(g_host.deepest, ++g_host.depth);
        const int before = g_host.counted;
        g_host.nested.push_back(g_host.lib->WaitForCameraEvent(m == kNestedWait ? 50 : 0, nullptr, nullptr, 0, nullptr, 0));
        g_host.countedDuringNested += g_host.counted - before;
        --g_host.depth;
        return 0;
    }
    case WM_TIMER:
    {
        ++g_host.ticks;
        // Other messages for this window arrive while the timer's handler runs.
        PostMessageW(w, kCount, 0, 0);
        PostMessageW(w, kCount, 0, 0);
        const int before = g_host.counted;
        int kind = kSentinel;
        const int status = g_host.lib->WaitForCameraEvent(0, &kind, nullptr, 0, nullptr, 0);
        g_host.countedDuringPolls += g_host.counted - before;
        if (status == 1 && kind == kItemCreatedKind) ++g_host.polled;
        else if (status != 0) ++g_host.strangePolls;
        return 0;
    }
    default: return DefWindowProcW(w, m, wp, lp);
    }
}

class ReentryTest : public EventsTest {
protected:
    void SetUp() override {
        EventsTest::SetUp();
        if (HasFatalFailure()) return;
        g_host = HostState{};
        g_host.lib = &lib;
        WNDCLASSW c{};
        c.lpfnWndProc = ReentrantHost;
        c.hInstance = GetModuleHandleW(nullptr);
        c.lpszClassName = L"FotexEventsReentrantHost";
        RegisterClassW(&c);
        window = CreateWindowExW(0, c.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, c.hInstance, nullptr);
        ASSERT_NE(nullptr, window);
    }
    void TearDown() override {
        camera.onCall = nullptr;
        if (window != nullptr) DestroyWindow(window);
        Pump();
        EventsTest::TearDown();
    }
    // The thread messages in the queue, in order, taken out of it.
    static std::vector<std::pair<UINT, WPARAM>> TakeThreadMessages() {
        std::vector<std::pair<UINT, WPARAM>> taken;
        MSG m;
        while (PeekMessageW(&m, reinterpret_cast<HWND>(-1), 0, 0, PM_REMOVE)) taken.emplace_back(m.message, m.wParam);
        return taken;
    }
    static void Note(WPARAM n) { PostThreadMessageW(GetCurrentThreadId(), kThreadNote, n, 0); }

    HWND window = nullptr;
};

TEST_F(ReentryTest, ThreadMessageEndsTheWaitAndStaysInItsPlace) {
    Register();
    const DWORD self = GetCurrentThreadId();
    using Taken = std::vector<std::pair<UINT, WPARAM>>;
    const Taken notes = {{kThreadNote, 0}, {kThreadNote, 1}, {kThreadNote, 2}};

    // The window's message before the first note is dispatched; the wait ends at the note, even
    // one without end, and leaves it and all behind it to the host's loop.
    PostMessageW(window, kCount, 0, 0);
    Note(0);
    PostMessageW(window, kCount, 0, 0);
    Note(1);
    Note(2);
    ULONGLONG start = GetTickCount64();
    EXPECT_EQ(0, Wait(-1).status);
    EXPECT_LT(GetTickCount64() - start, 2500u) << "the wait went on";
    EXPECT_EQ(1, g_host.counted) << "only the window's message before the note is dispatched";
    EXPECT_TRUE(notes == TakeThreadMessages()) << "ended at once";
    EXPECT_EQ(1, Pump()) << "the window's message behind the note is the host's loop's";
    EXPECT_EQ(2, g_host.counted);

    // Notes from another thread during the wait end it as they come.
    std::thread poster([self] {
        Sleep(50);
        for (WPARAM n = 0; n < 3; ++n) PostThreadMessageW(self, kThreadNote, n, 0);
    });
    start = GetTickCount64();
    EXPECT_EQ(0, Wait(5000).status);
    poster.join();
    EXPECT_LT(GetTickCount64() - start, 2500u) << "the wait went on after a note came";
    EXPECT_TRUE(notes == TakeThreadMessages()) << "from another thread";

    // An event delivered before the notes is returned; the notes stay behind it.
    camera.PressShutter(0);
    for (WPARAM n = 0; n < 3; ++n) Note(n);
    EXPECT_EQ(1, Wait(1000).status);
    EXPECT_TRUE(notes == TakeThreadMessages()) << "ended by an event";

    // WM_QUIT still comes last, after the notes.
    for (WPARAM n = 0; n < 3; ++n) Note(n);
    PostQuitMessage(3);
    EXPECT_EQ(0, Wait(-1).status);
    Taken withQuit = notes;
    withQuit.emplace_back(WM_QUIT, 3);
    EXPECT_TRUE(withQuit == TakeThreadMessages()) << "ended by WM_QUIT";

    // StopCameraEvents from a handler before the notes.
    PostMessageW(window, kStop, 0, 0);
    for (WPARAM n = 0; n < 3; ++n) Note(n);
    EXPECT_EQ(0, Wait(-1).status);
    EXPECT_EQ(0, camera.EventRegistrations());
    EXPECT_TRUE(notes == TakeThreadMessages()) << "ended by a stop";
}

TEST_F(ReentryTest, ThreadMessageBeforeAnEventsDeliveryEndsTheWaitAndLeavesBoth) {
    Register();
    // The note stands before the event's delivery: the wait ends there, the delivery stays too.
    Note(0);
    camera.PressShutter(0);
    Note(1);
    Note(2);
    EXPECT_EQ(0, Wait(1000).status);
    EXPECT_EQ(1, camera.EventsPending());
    using Taken = std::vector<std::pair<UINT, WPARAM>>;
    const Taken expected = {{kThreadNote, 0}, {kThreadNote, 1}, {kThreadNote, 2}};
    EXPECT_TRUE(expected == TakeThreadMessages());
    // The host's loop delivers it; the next call takes it.
    Pump();
    EXPECT_EQ(1, Wait(1000).status);
}

TEST_F(ReentryTest, PostedQuitLeftBehindTheWaitKeepsTheNotesInOrderAndLeavesNoStrayMessage) {
    Register();
    // Another thread's PostThreadMessage(WM_QUIT) is an ordinary posted message.
    const DWORD self = GetCurrentThreadId();
    using Taken = std::vector<std::pair<UINT, WPARAM>>;
    const Taken expected = {{kThreadNote, 0}, {WM_QUIT, 5}, {kThreadNote, 1}};
    // Before the event's delivery: the first note ends the wait.
    Note(0);
    camera.PressShutter(0);
    PostThreadMessageW(self, WM_QUIT, 5, 0);
    Note(1);
    EXPECT_EQ(0, Wait(1000).status);
    Taken taken = TakeThreadMessages();
    for (const auto& m : taken)
        EXPECT_TRUE(m.first == kThreadNote || m.first == WM_QUIT) << "a stray message 0x" << std::hex << m.first;
    EXPECT_TRUE(expected == taken) << "out of order, before the delivery";
    Pump();
    EXPECT_EQ(1, Wait(1000).status);
    // After it: the wait ends at the event.
    camera.PressShutter(0);
    Note(0);
    PostThreadMessageW(self, WM_QUIT, 5, 0);
    Note(1);
    EXPECT_EQ(1, Wait(1000).status);
    taken = TakeThreadMessages();
    for (const auto& m : taken)
        EXPECT_TRUE(m.first == kThreadNote || m.first == WM_QUIT) << "a stray message 0x" << std::hex << m.first;
    EXPECT_TRUE(expected == taken) << "out of order, after the delivery";
}

TEST_F(ReentryTest, NotesFromAnotherThreadKeepTheirOrderThroughManyWaits) {
    Register();
    // Another thread posts numbered notes while the host waits again and again; the host's own
    // loop then finds them in the order they were posted.
    const DWORD self = GetCurrentThreadId();
    constexpr WPARAM kNotes = 1000;
    volatile LONG done = 0;
    std::thread poster([&] {
        for (WPARAM n = 0; n < kNotes; ++n) {
            while (!PostThreadMessageW(self, kThreadNote, n, 0)) Sleep(1);
            if (n % 64 == 0) Sleep(0);
        }
        InterlockedExchange(&done, 1);
    });
    std::vector<WPARAM> seen;
    const ULONGLONG start = GetTickCount64();
    while (GetTickCount64() - start < 30000) {
        EXPECT_EQ(0, Wait(2).status);
        MSG m;
        // The host's loop takes a few between waits, as a busy one does.
        for (int i = 0; i < 8 && PeekMessageW(&m, reinterpret_cast<HWND>(-1), 0, 0, PM_REMOVE); ++i)
            if (m.message == kThreadNote) seen.push_back(m.wParam);
        if (done != 0 && !PeekMessageW(&m, reinterpret_cast<HWND>(-1), 0, 0, PM_NOREMOVE)) break;
    }
    poster.join();
    for (const auto& m : TakeThreadMessages())
        if (m.first == kThreadNote) seen.push_back(m.second);
    ASSERT_EQ(kNotes, seen.size()) << "notes lost";
    size_t inversions = 0, first = 0;
    for (size_t i = 1; i < seen.size(); ++i)
        if (seen[i] < seen[i - 1] && inversions++ == 0) first = i;
    EXPECT_EQ(0u, inversions) << "first: " << seen[first - (first > 0)] << " then " << seen[first];
}

int g_reallocFailures = 0;
void* __cdecl NoRealloc(void*, size_t) {
    ++g_reallocFailures;
    return nullptr;
}

TEST_F(ReentryTest, WaitWithoutMemoryEndsAtAThreadMessageAndLosesNone) {
    Register();
    void* original = fotextest::PatchImport(lib.module(), "msvcrt.dll", "realloc", reinterpret_cast<void*>(&NoRealloc));
    ASSERT_NE(nullptr, original);
    g_reallocFailures = 0;
    for (WPARAM n = 0; n < 4; ++n) Note(n);
    const ULONGLONG start = GetTickCount64();
    EXPECT_EQ(0, Wait(5000).status);
    EXPECT_LT(GetTickCount64() - start, 2500u) << "the wait went on";
    fotextest::PatchImport(lib.module(), "msvcrt.dll", "realloc", original);
    EXPECT_EQ(0, g_reallocFailures) << "the wait kept thread messages in memory";
    using Taken = std::vector<std::pair<UINT, WPARAM>>;
    const Taken expected = {{kThreadNote, 0}, {kThreadNote, 1}, {kThreadNote, 2}, {kThreadNote, 3}};
    EXPECT_TRUE(expected == TakeThreadMessages());
    // With memory again, the same.
    for (WPARAM n = 0; n < 4; ++n) Note(n);
    EXPECT_EQ(0, Wait(50).status);
    EXPECT_TRUE(expected == TakeThreadMessages());
}

int g_timerCalls = 0;
void CALLBACK CountTick(HWND, UINT, UINT_PTR, DWORD) { ++g_timerCalls; }

TEST_F(ReentryTest, ThreadTimersKeepTheirTicksThroughAWait) {
    Register();
    // A timer with its own routine: the wait runs it, as the host's loop would.
    g_timerCalls = 0;
    const UINT_PTR counted = SetTimer(nullptr, 0, 10, CountTick);
    ASSERT_NE(0u, counted);
    EXPECT_EQ(0, Wait(200).status);
    KillTimer(nullptr, counted);
    EXPECT_GT(g_timerCalls, 0);
    // A timer without one is the host's loop's: its tick is there after the wait.
    const UINT_PTR plain = SetTimer(nullptr, 0, 10, nullptr);
    ASSERT_NE(0u, plain);
    Sleep(30);
    EXPECT_EQ(0, Wait(50).status);
    // Counted before the timer is killed, which takes its pending tick with it.
    MSG m;
    int ticks = 0;
    while (PeekMessageW(&m, nullptr, WM_TIMER, WM_TIMER, PM_REMOVE))
        if (m.hwnd == nullptr && m.wParam == plain) ++ticks;
    KillTimer(nullptr, plain);
    EXPECT_GE(ticks, 1) << "the ticks the wait took were dropped";
}

TEST_F(ReentryTest, RepeatedWaitsDoNotMultiplyTheTicksOfAThreadTimer) {
    Register();
    // A host that waits again and again before its own loop runs: the system keeps at most one
    // tick of a timer pending, and the waits must not turn each tick they took into a message.
    const UINT_PTR plain = SetTimer(nullptr, 0, 5, nullptr);
    ASSERT_NE(0u, plain);
    for (int i = 0; i < 40; ++i) EXPECT_EQ(0, Wait(20).status);
    // Counted before the timer is killed, which takes its pending tick with it.
    MSG m;
    int ticks = 0;
    while (PeekMessageW(&m, nullptr, WM_TIMER, WM_TIMER, PM_REMOVE))
        if (m.hwnd == nullptr && m.wParam == plain) ++ticks;
    KillTimer(nullptr, plain);
    EXPECT_GE(ticks, 1) << "the ticks the waits took were dropped";
    EXPECT_LE(ticks, 2) << "the waits made ticks of their own";
}

TEST_F(ReentryTest, PollTakesOnlyWhatIsQueuedAndDispatchesNothing) {
    Register();
    PostMessageW(window, kCount, 0, 0);
    Note(7);
    camera.PressShutter(0);  // a delivery still only posted
    EXPECT_EQ(0, Wait(0).status);
    EXPECT_EQ(0, g_host.counted);
    EXPECT_EQ(1, camera.EventsPending());
    EXPECT_EQ(0, camera.EventsDelivered());
    // The host's loop delivers the event; the next poll takes it.
    MSG m;
    int notes = 0;
    while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) {
        if (m.hwnd == nullptr && m.message == kThreadNote && m.wParam == 7) ++notes;
        DispatchMessageW(&m);
    }
    EXPECT_EQ(1, notes);
    EXPECT_EQ(1, g_host.counted);
    const Event e = Wait(0);
    EXPECT_EQ(1, e.status);
    EXPECT_EQ(kItemCreatedKind, e.kind);
    EXPECT_EQ(0, Wait(0).status);
}

TEST_F(ReentryTest, HostPollingFromATimerFindsNoOtherHandlerRunningInsideIt) {
    Register();
    ASSERT_NE(0u, SetTimer(window, 1, 10, nullptr));
    // The host's own loop, for a while; the camera takes pictures meanwhile.
    const ULONGLONG start = GetTickCount64();
    int pressed = 0;
    while (GetTickCount64() - start < 10000 && (g_host.polled < 3 || g_host.ticks < 6)) {
        if (pressed < 3 && g_host.ticks > pressed * 2) {
            camera.PressShutter(0);
            ++pressed;
        }
        MSG m;
        if (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&m);
        else MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    }
    KillTimer(window, 1);
    Pump();
    EXPECT_EQ(3, pressed);
    EXPECT_EQ(3, g_host.polled) << "each picture is polled once the host's loop delivered it";
    EXPECT_EQ(0, g_host.countedDuringPolls) << "handlers ran inside the timer's poll";
    EXPECT_EQ(2 * g_host.ticks, g_host.counted) << "the host's loop handled every message";
    EXPECT_EQ(0, g_host.strangePolls);
}

TEST_F(ReentryTest, WaitFromAHandlerInsideAWaitIsRefusedWithoutDispatching) {
    Register();
    camera.PressShutter(0);
    Pump();  // one event queued
    // Each nested call comes before a counted message, which it must not handle.
    for (int i = 0; i < 3; ++i) {
        PostMessageW(window, i == 1 ? kNestedPoll : kNestedWait, 0, 0);
        PostMessageW(window, kCount, 0, 0);
    }
    // The outer wait takes the queued event at once: it handles no message at all.
    EXPECT_EQ(1, Wait(-1).status);
    EXPECT_EQ(0, g_host.counted);
    EXPECT_TRUE(g_host.nested.empty());
    // With nothing queued, it handles them all; each nested call returns at once.
    EXPECT_EQ(0, Wait(100).status);
    EXPECT_EQ(1, g_host.deepest) << "handlers nested inside handlers";
    EXPECT_EQ(3, g_host.counted);
    EXPECT_EQ(0, g_host.countedDuringNested) << "a refused call dispatched messages";
    const std::vector<int> busy(3, static_cast<int>(0x800700AA));  // HRESULT_FROM_WIN32(ERROR_BUSY)
    EXPECT_TRUE(busy == g_host.nested);
    // The event that came during the refused calls is the outer wait's to take.
    PostMessageW(window, kNestedWait, 0, 0);
    camera.PressShutter(0);
    const Event e = Wait(1000);
    EXPECT_EQ(1, e.status);
    EXPECT_EQ(kItemCreatedKind, e.kind);
    EXPECT_EQ(4u, g_host.nested.size());
    // Outside a wait the calls work again.
    EXPECT_EQ(0, Wait(0).status);
    EXPECT_EQ(5, camera.EventRegistrations());
}

// The service's own calls handle the thread's messages while they wait for the service's
// answer, as COM does for a call to another process: here the registration's calls do.
TEST_F(ReentryTest, WaitFromAHandlerDuringTheRegistrationIsRefused) {
    int registering = 0;
    camera.onCall = [&](fotexsim::Op op) {
        if (op == fotexsim::Op::RegisterEventCallback && ++registering == 2) Pump();
    };
    PostMessageW(window, kNestedPoll, 0, 0);
    PostMessageW(window, kNestedWait, 0, 0);
    EXPECT_EQ(0, Wait(0).status);
    EXPECT_EQ(1, g_host.deepest);
    EXPECT_TRUE(std::vector<int>(2, static_cast<int>(0x800700AA)) == g_host.nested);
    EXPECT_EQ(5, camera.EventRegistrations()) << "registered once";
    EXPECT_TRUE(Ledger(5));
    camera.onCall = nullptr;
    camera.PressShutter(0);
    EXPECT_EQ(kItemCreatedKind, Wait(1000).kind);
}

TEST_F(ReentryTest, StopFromAHandlerDuringTheRegistrationEndsTheWaitAndTheRegistration) {
    int registering = 0;
    camera.onCall = [&](fotexsim::Op op) {
        if (op == fotexsim::Op::RegisterEventCallback && ++registering == 3) Pump();
    };
    PostMessageW(window, kStop, 0, 0);
    EXPECT_EQ(0, Wait(500).status);
    EXPECT_EQ(0, camera.EventRegistrations());
    EXPECT_TRUE(Ledger(0));
    camera.onCall = nullptr;
    camera.PressShutter(0);
    EXPECT_EQ(0, camera.EventsPending()) << "nobody is registered";
    Register();  // the next call registers again
}

TEST_F(ReentryTest, StopFromAnotherThreadDoesNothing) {
    Register();
    camera.PressShutter(0);
    Pump();
    std::thread other([&] { lib.StopCameraEvents(); });
    other.join();
    EXPECT_EQ(5, camera.EventRegistrations());
    EXPECT_TRUE(Ledger(5));
    EXPECT_EQ(1, Wait(0).status) << "the queue is kept";
    lib.StopCameraEvents();
    EXPECT_EQ(0, camera.EventRegistrations());
}

// ---- stopping and unloading ------------------------------------------------------------------

TEST_F(EventsTest, StopReleasesTheRegistrationsAndEmptiesTheQueue) {
    lib.StopCameraEvents();  // nothing registered: nothing happens
    EXPECT_EQ(0, camera.TotalCalls());
    Register();
    camera.PressShutter(0);
    camera.PressShutter(0);
    Pump();  // both queued
    lib.StopCameraEvents();
    EXPECT_EQ(0, camera.EventRegistrations());
    EXPECT_TRUE(Ledger(0));
    camera.PressShutter(0);  // nobody registered: no delivery is even posted
    EXPECT_EQ(0, camera.EventsPending());
    lib.StopCameraEvents();

    // Registering again starts from an empty queue.
    Register();
    EXPECT_EQ(10, camera.Calls(fotexsim::Op::RegisterEventCallback));
    fotexsim::Item* taken = camera.PressShutter(0);
    const Event e = Wait(1000);
    EXPECT_EQ(1, e.status);
    EXPECT_EQ(NameOf(taken), e.item);
    EXPECT_EQ(0, Wait(0).status);
}

TEST_F(EventsTest, UnloadWhileRegisteredKeepsTheModuleUntilStop) {
    Register();
    fotexsim::Item* taken = camera.PressShutter(0);  // posted, not yet delivered
    const HMODULE module = lib.module();
    lib.Unload();
    // The live registration keeps the module and goes on working: the late delivery is queued,
    // and the next load finds it.
    EXPECT_EQ(module, GetModuleHandleW(L"Fotex.dll"));
    EXPECT_EQ(5, camera.EventRegistrations());
    Pump();
    EXPECT_EQ(0, camera.EventsPending());
    ASSERT_TRUE(lib.Load());
    EXPECT_EQ(NameOf(taken), Wait(0).item);
    lib.StopCameraEvents();
    EXPECT_EQ(0, camera.EventRegistrations());
    EXPECT_TRUE(Ledger(0));
    lib.Unload();
    EXPECT_EQ(nullptr, GetModuleHandleW(L"Fotex.dll"));

    ASSERT_TRUE(lib.Load());
    Register();
    camera.Unplug(0);
    EXPECT_EQ(kDeviceDisconnected, Wait(1000).kind);
}

// ---- the end of the process ------------------------------------------------------------------


// The published identifiers of the service's class and its manager.
constexpr GUID kClsidWiaDevMgr = {0xA1F4E726, 0x8CF1, 0x11D1, {0xBF, 0x92, 0x00, 0x60, 0x08, 0x1E, 0xD8, 0x11}};
constexpr GUID kIidWiaDevMgr = {0x5EB2502A, 0x8CF1, 0x11D1, {0xBF, 0x92, 0x00, 0x60, 0x08, 0x1E, 0xD8, 0x11}};

const wchar_t kChildVariable[] = L"FOTEX_EVENTS_TEST_EXIT_CHILD";
constexpr UINT kChildExitCode = 42;

// Straight to the standard output handle: the runtime's buffers are not flushed at ExitProcess.
void Say(const char* text) {
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), text, static_cast<DWORD>(std::strlen(text)), &written, nullptr);
}

void WINAPI SayUninitialised() { Say("CoUninitialize\n"); }

volatile LONG g_registrations = 0;

// A registration that holds the callback as a service does. A hanging one never returns from its
// last release, as one that must reach the service's process can hang under the loader lock.
class Registration final : public IUnknown {
public:
    Registration(IWiaEventCallback* callback, bool hangs) : callback_(callback), hangs_(hangs) { callback_->AddRef(); }
    HRESULT WINAPI QueryInterface(REFIID riid, void** ppv) override {
        if (ppv == nullptr) return E_POINTER;
        *ppv = riid == IID_IUnknown ? this : nullptr;
        if (*ppv == nullptr) return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    ULONG WINAPI AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&refs_)); }
    ULONG WINAPI Release() override {
        const LONG r = InterlockedDecrement(&refs_);
        if (r == 0 && hangs_) {
            Say("released\n");
            Sleep(INFINITE);
        }
        if (r == 0) {
            callback_->Release();
            delete this;
        }
        return static_cast<ULONG>(r);
    }

private:
    LONG refs_ = 1;
    IWiaEventCallback* callback_;
    const bool hangs_;
};

// A manager that only takes event registrations, and keeps the last callback it was given.
class EventOnlyManager final : public IWiaDevMgr {
public:
    explicit EventOnlyManager(bool hanging) : hanging_(hanging) {}
    IWiaEventCallback* last = nullptr;
    HRESULT WINAPI QueryInterface(REFIID riid, void** ppv) override {
        if (ppv == nullptr) return E_POINTER;
        *ppv = riid == IID_IUnknown || riid == kIidWiaDevMgr ? this : nullptr;
        if (*ppv == nullptr) return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    ULONG WINAPI AddRef() override { return 2; }
    ULONG WINAPI Release() override { return 1; }
    HRESULT WINAPI EnumDeviceInfo(LONG, IEnumWIA_DEV_INFO**) override { return E_NOTIMPL; }
    HRESULT WINAPI CreateDevice(BSTR, IWiaItem**) override { return E_NOTIMPL; }
    HRESULT WINAPI SelectDeviceDlg(HWND, LONG, LONG, BSTR*, IWiaItem**) override { return E_NOTIMPL; }
    HRESULT WINAPI SelectDeviceDlgID(HWND, LONG, LONG, BSTR*) override { return E_NOTIMPL; }
    HRESULT WINAPI GetImageDlg(HWND, LONG, LONG, LONG, IWiaItem*, BSTR, GUID*) override { return E_NOTIMPL; }
    HRESULT WINAPI RegisterEventCallbackProgram(LONG, BSTR, const GUID*, BSTR, BSTR, BSTR, BSTR) override {
        return E_NOTIMPL;
    }
    HRESULT WINAPI RegisterEventCallbackInterface(LONG, BSTR, const GUID*, IWiaEventCallback* callback,
                                                  IUnknown** registration) override {
        if (callback == nullptr || registration == nullptr) return E_POINTER;
        *registration = new Registration(callback, hanging_);
        last = callback;
        InterlockedIncrement(&g_registrations);
        return S_OK;
    }
    HRESULT WINAPI RegisterEventCallbackCLSID(LONG, BSTR, const GUID*, const GUID*, BSTR, BSTR, BSTR) override {
        return E_NOTIMPL;
    }
    HRESULT WINAPI AddDeviceDlg(HWND, LONG) override { return E_NOTIMPL; }

private:
    const bool hanging_;
};

class Factory final : public IClassFactory {
public:
    explicit Factory(bool hanging) : manager_(hanging) {}
    EventOnlyManager& manager() { return manager_; }
    HRESULT WINAPI QueryInterface(REFIID riid, void** ppv) override {
        if (ppv == nullptr) return E_POINTER;
        *ppv = riid == IID_IUnknown || riid == IID_IClassFactory ? this : nullptr;
        return *ppv != nullptr ? S_OK : E_NOINTERFACE;
    }
    ULONG WINAPI AddRef() override { return 2; }
    ULONG WINAPI Release() override { return 1; }
    HRESULT WINAPI CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
        if (outer != nullptr) return CLASS_E_NOAGGREGATION;
        return manager_.QueryInterface(riid, ppv);
    }
    HRESULT WINAPI LockServer(BOOL) override { return S_OK; }

private:
    EventOnlyManager manager_;
};

Factory g_factory(true);

// Runs only as the child of the test below: exits the process with the library loaded and
// registered for events.
TEST(EventsAtExit, ChildExitsWithEventsRegistered) {
    if (GetEnvironmentVariableW(kChildVariable, nullptr, 0) == 0) GTEST_SKIP() << "the child of another test";
    DWORD cookie = 0;
    ASSERT_EQ(S_OK, CoRegisterClassObject(kClsidWiaDevMgr, &g_factory, CLSCTX_LOCAL_SERVER, REGCLS_MULTIPLEUSE, &cookie));
    fotextest::Library lib;
    ASSERT_TRUE(lib.Load());
    ASSERT_NE(nullptr, fotextest::PatchImport(lib.module(), "ole32.dll", "CoUninitialize",
                                              reinterpret_cast<void*>(&SayUninitialised)));
    ASSERT_EQ(0, lib.WaitForCameraEvent(0, nullptr, nullptr, 0, nullptr, 0));
    ASSERT_EQ(5, g_registrations);
    Say("registered\n");
    ExitProcess(kChildExitCode);
}

TEST(EventsAtExit, ProcessExitWithEventsRegisteredReleasesNothingAndEndsPromptly) {
    const fotextest::ChildRun run =
        fotextest::RunThisProgram(L"EventsAtExit.ChildExitsWithEventsRegistered", kChildVariable, L"1", 60000);
    const std::string& output = run.output;
    const DWORD code = run.exit;
    EXPECT_TRUE(run.ended) << "the exit hung\n" << output;
    EXPECT_EQ(kChildExitCode, code) << output;
    EXPECT_NE(std::string::npos, output.find("registered\n")) << output;
    EXPECT_EQ(std::string::npos, output.find("released")) << "a registration was released at exit\n" << output;
    EXPECT_EQ(std::string::npos, output.find("CoUninitialize")) << "COM was uninitialised at exit\n" << output;
}

// A read-only page whose first read stops the reading thread until the test lets it go on.
class HeldRead {
public:
    HeldRead() {
        page_ = static_cast<GUID*>(VirtualAlloc(nullptr, 4096, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
        self_ = this;
        handler_ = AddVectoredExceptionHandler(1, &Held);
    }
    ~HeldRead() {
        RemoveVectoredExceptionHandler(handler_);
        VirtualFree(page_, 0, MEM_RELEASE);
        CloseHandle(reached_);
        CloseHandle(resume_);
    }
    // The value at the page, to be read once more than now.
    const GUID* Arm(const GUID& value) {
        *page_ = value;
        DWORD old = 0;
        VirtualProtect(page_, 4096, PAGE_READONLY | PAGE_GUARD, &old);
        return page_;
    }
    bool WaitReached() { return WaitForSingleObject(reached_, 10000) == WAIT_OBJECT_0; }
    void Resume() { SetEvent(resume_); }

private:
    static LONG CALLBACK Held(EXCEPTION_POINTERS* e) {
        const EXCEPTION_RECORD* r = e->ExceptionRecord;
        if (r->ExceptionCode != STATUS_GUARD_PAGE_VIOLATION || r->NumberParameters < 2 ||
            r->ExceptionInformation[1] - reinterpret_cast<ULONG_PTR>(self_->page_) >= 4096)
            return EXCEPTION_CONTINUE_SEARCH;
        SetEvent(self_->reached_);
        WaitForSingleObject(self_->resume_, 10000);
        return EXCEPTION_CONTINUE_EXECUTION;  // the guard is gone: the read now succeeds
    }

    static HeldRead* self_;
    GUID* page_;
    PVOID handler_;
    HANDLE reached_ = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    HANDLE resume_ = CreateEventW(nullptr, FALSE, FALSE, nullptr);
};
HeldRead* HeldRead::self_ = nullptr;

// In a multithreaded apartment the service calls the sink on threads of its own. A call that
// began before StopCameraEvents and ends after it adds nothing to the queue: the next
// registration starts empty.
TEST(EventsInTheMultithreadedApartment, StopIsFinalForACallUnderWayOnAnotherThread) {
    std::thread host([] {
        ASSERT_EQ(S_OK, CoInitializeEx(nullptr, COINIT_MULTITHREADED));
        Factory factory(false);
        DWORD cookie = 0;
        ASSERT_EQ(S_OK, CoRegisterClassObject(kClsidWiaDevMgr, &factory, CLSCTX_LOCAL_SERVER, REGCLS_MULTIPLEUSE, &cookie));
        {
            fotextest::Library lib;
            ASSERT_TRUE(lib.Load());
            ASSERT_EQ(0, lib.WaitForCameraEvent(0, nullptr, nullptr, 0, nullptr, 0));
            IWiaEventCallback* sink = factory.manager().last;
            ASSERT_NE(nullptr, sink);
            sink->AddRef();  // the service's reference for the call under way
            HeldRead held;
            const GUID* event = held.Arm(kItemCreated);
            BSTR device = SysAllocString(L"late"), item = SysAllocString(L"late\\IMG");
            std::thread service([&] {
                ULONG type = 1;
                sink->ImageEventCallback(event, nullptr, device, nullptr, 0, item, &type, 0);
            });
            ASSERT_TRUE(held.WaitReached()) << "the call never read the event";
            lib.StopCameraEvents();
            held.Resume();
            service.join();
            sink->Release();
            SysFreeString(device);
            SysFreeString(item);
            int kind = kSentinel;
            EXPECT_EQ(0, lib.WaitForCameraEvent(0, &kind, nullptr, 0, nullptr, 0)) << "an event of the old registration";
            EXPECT_EQ(kSentinel, kind);
            lib.StopCameraEvents();
        }
        CoRevokeClassObject(cookie);
        CoUninitialize();
    });
    host.join();
}

}  // namespace

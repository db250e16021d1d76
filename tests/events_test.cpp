// Camera events: registration, delivery into the waiting thread's apartment, the queue and its
// overflow, stopping, unloading, and the wait's own rules.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
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
    // What a host's own message loop does between waits.
    static int Pump() {
        int n = 0;
        MSG m;
        while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) {
            DispatchMessageW(&m);
            ++n;
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
    camera.FailOn(fotexsim::Op::RegisterEventCallback, S_FALSE);  // success without an object
    EXPECT_EQ(static_cast<int>(0x80004003), Wait(0).status);
    EXPECT_EQ(0, camera.EventRegistrations());
    Register();
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
    EXPECT_EQ(1, Wait(0).status);
    EXPECT_EQ(1, Wait(0).status);
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

TEST_F(EventsTest, UnloadWhileRegisteredReleasesEverythingAndLateDeliveriesAreDropped) {
    Register();
    camera.PressShutter(0);  // posted, not yet delivered
    lib.Unload();
    EXPECT_EQ(0, camera.EventRegistrations());
    EXPECT_TRUE(Ledger(0));
    Pump();  // the late delivery finds its registration gone and calls nothing
    EXPECT_EQ(0, camera.EventsDelivered());
    EXPECT_EQ(0, camera.EventsPending());

    ASSERT_TRUE(lib.Load());
    Register();
    camera.Unplug(0);
    EXPECT_EQ(kDeviceDisconnected, Wait(1000).kind);
}

}  // namespace

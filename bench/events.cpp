// Camera events, end to end as a host sees them: FotexSim.dll's shutter pressed on one thread,
// WaitForCameraEvent returning on the host's thread; the queue's allocations; a long run of
// events; and what a wait without events costs the processor.
#include <windows.h>
#include <objbase.h>

#include <algorithm>
#include <cstdio>
#include <thread>
#include <vector>

#include "fotex.h"
#include "host.h"
#include "support.h"

using namespace fotexbench;

namespace {

using PressShutter = int(__cdecl*)(int);

double Percentile(std::vector<double> values, double p) {
    std::sort(values.begin(), values.end());
    return values[static_cast<size_t>(p * static_cast<double>(values.size() - 1))];
}

}  // namespace

int main() {
    CoInitialize(nullptr);
    fotextest::Library lib;
    HMODULE sim = LoadLibraryW(L"FotexSim.dll");
    auto simRegister = reinterpret_cast<int(__cdecl*)()>(reinterpret_cast<void*>(GetProcAddress(sim, "FotexSimRegister")));
    auto press = reinterpret_cast<PressShutter>(reinterpret_cast<void*>(GetProcAddress(sim, "FotexSimPressShutter")));
    if (!lib.Load() || simRegister == nullptr || press == nullptr || simRegister() != 1) {
        std::printf("cannot load Fotex.dll and register FotexSim.dll\n");
        return 2;
    }
    HookAllocators(lib.module());
    int kind = 0;
    WCHAR device[FOTEX_EVENT_DEVICE_UNITS], item[FOTEX_EVENT_NAME_UNITS];
    auto wait = [&](int timeoutMs) {
        return lib.WaitForCameraEvent(timeoutMs, &kind, device, sizeof device, item, sizeof item);
    };
    if (wait(0) != 0) {
        std::printf("cannot register for events\n");
        return 2;
    }

    Title("Camera events: FotexSim.dll's shutter to WaitForCameraEvent, through the host's messages");

    // Another thread presses while this one waits without end and does nothing else.
    const int kPresses = 1000;
    std::vector<double> pressed(kPresses), returned(kPresses);
    HANDLE taken = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    std::thread shutter([&] {
        for (int i = 0; i < kPresses; ++i) {
            if (i > 0) WaitForSingleObject(taken, INFINITE);
            Sleep(1);  // the host is back in its wait
            pressed[i] = Seconds();
            press(0);
        }
    });
    int missed = 0;
    for (int i = 0; i < kPresses; ++i) {
        if (wait(-1) != 1 || kind != FOTEX_EVENT_ITEM_CREATED) ++missed;
        returned[i] = Seconds();
        SetEvent(taken);
    }
    shutter.join();
    CloseHandle(taken);
    std::vector<double> latency(kPresses);
    for (int i = 0; i < kPresses; ++i) latency[i] = (returned[i] - pressed[i]) * 1e3;
    const double median = Percentile(latency, 0.5), p99 = Percentile(latency, 0.99);
    Row(Format("shutter to return, median of %d", kPresses), Format("%.3f ms", median), "< 1 ms", median < 1.0 && missed == 0);
    Row(Format("shutter to return, 99th percentile of %d", kPresses), Format("%.3f ms (worst %.3f ms)", p99, Percentile(latency, 1.0)),
        "< 5 ms", p99 < 5.0 && missed == 0);

    // A second of waiting with nothing to wait for.
    const double cpu = ThreadSeconds();
    wait(1000);
    const double idle = (ThreadSeconds() - cpu) * 1e3;
    Row("processor time of a 1 s wait without events", Format("%.1f ms", idle), "< 10 ms (the thread sleeps)", idle < 10.0);

    // The host's own message loop delivers 1,000 events at once; the waits then take them.
    const int kQueued = 1000;
    for (int i = 0; i < kQueued; ++i) press(0);
    ResetCounts();
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
    int got = 0;
    while (wait(0) == 1) ++got;
    Row(Format("%d events queued, then taken (allocations by Fotex.dll)", kQueued),
        Format("%d taken; %ld heap, %ld BSTR", got, Counts().heap, Counts().strings), "all taken; 0 heap, 0 BSTR",
        got == kQueued && Counts().heap == 0 && Counts().strings == 0);

    // Events back to back from another thread, the host taking each as it comes.
    const int kRun = 10000;
    std::thread burst([&] {
        for (int i = 0; i < kRun; ++i) press(0);
    });
    int received = 0, lost = 0;
    const double start = Seconds();
    while (received + lost < kRun) {
        if (wait(5000) != 1) break;
        if (kind == FOTEX_EVENT_LOST) ++lost;
        else ++received;
    }
    const double run = Seconds() - start;
    burst.join();
    Row(Format("%d events in a row, the host keeping up", kRun),
        Format("%d received, %d lost; %.0f events/s", received, lost, received / run), "none lost",
        received == kRun && lost == 0);

    lib.StopCameraEvents();
    lib.Unload();
    CoUninitialize();
    return Verdict();
}

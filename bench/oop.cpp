// Fotex.dll against the virtual camera in another process (FotexSimServer.exe, through Wine's COM
// marshalling): call overhead against the same calls by hand on proxies of their own, the time
// from the shutter to the event, and a large transfer. Needs the prefix of scripts/oop-prefix.sh.
#include <windows.h>
#include <objbase.h>
#include <oleauto.h>
#include <wia.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "fotexsim.h"
#include "host.h"
#include "image.h"
#include "server.h"
#include "support.h"
#include "wia_ids.h"

using namespace fotexbench;
namespace wia = fotex::wia;

namespace {

using IntGetter = int(FOTEX_CALL*)(FOTEX_DEVICE, int*);
constexpr PROPID kFlashMode = 2056;

// The device's root as a host would open it: its own device manager from the server.
IWiaItem* HandOpen() {
    IWiaDevMgr* manager = nullptr;
    if (FAILED(CoCreateInstance(wia::CLSID_WiaDevMgr, nullptr, CLSCTX_LOCAL_SERVER, wia::IID_IWiaDevMgr,
                                reinterpret_cast<void**>(&manager))))
        return nullptr;
    IWiaItem* root = nullptr;
    IEnumWIA_DEV_INFO* devices = nullptr;
    if (SUCCEEDED(manager->EnumDeviceInfo(wia::kDevInfoEnumLocal, &devices)) && devices) {
        IWiaPropertyStorage* storage = nullptr;
        if (devices->Next(1, &storage, nullptr) == S_OK) {
            PROPSPEC selector{};
            selector.ulKind = PRSPEC_PROPID;
            selector.propid = wia::kDipDevId;
            PROPVARIANT value;
            PropVariantInit(&value);
            if (storage->ReadMultiple(1, &selector, &value) == S_OK && value.vt == VT_BSTR)
                manager->CreateDevice(value.bstrVal, &root);
            FreePropVariantArray(1, &value);
            storage->Release();
        }
        devices->Release();
    }
    manager->Release();
    return root;
}

void OverheadRow(const char* what, const Paired& p, double per = 1, const char* unit = "") {
    Row(what, Format("%.3f (%.1f us vs %.1f us by hand%s)", p.ratio, p.a * 1e6 / per, p.b * 1e6 / per, unit),
        "<= 1.05", p.ratio <= 1.05);
}

// Medians of several interleaved comparisons: one comparison's rounds share whatever load the
// machine had meanwhile.
template <class A, class B>
Paired Repeated(A a, B b, int repetitions, int rounds, double blockSeconds) {
    std::vector<double> ta, tb, ratios;
    for (int i = 0; i < repetitions; ++i) {
        const Paired p = Compare(a, b, rounds, blockSeconds);
        ta.push_back(p.a);
        tb.push_back(p.b);
        ratios.push_back(p.ratio);
    }
    Paired p;
    p.a = Median(ta);
    p.b = Median(tb);
    p.ratio = Median(ratios);
    return p;
}

// Calls that reached the server: every interface call the virtual camera counts (a proxy's
// AddRef and Release are not among them).
long ServerCalls(fotextest::Server& server) {
    long total = 0;
    for (int op = 0; op < fotexsim::kOpCount; ++op) total += server.Calls(static_cast<fotexsim::Op>(op));
    return total;
}

template <class F>
long TripsOf(fotextest::Server& server, F f) {
    const long before = ServerCalls(server);
    f();
    return ServerCalls(server) - before;
}

// The same with the calls by name, per `per` ("ReadMultiple 1.00, ItemNext 0.03").
template <class F>
std::string TripsByCall(fotextest::Server& server, F f, double per, long* total) {
    long before[fotexsim::kOpCount];
    for (int op = 0; op < fotexsim::kOpCount; ++op) before[op] = server.Calls(static_cast<fotexsim::Op>(op));
    f();
    std::string text;
    *total = 0;
    for (int op = 0; op < fotexsim::kOpCount; ++op) {
        const long calls = server.Calls(static_cast<fotexsim::Op>(op)) - before[op];
        if (calls == 0) continue;
        *total += calls;
        text += Format("%s%s %.2f", text.empty() ? "" : ", ", fotexsim::OpName(static_cast<fotexsim::Op>(op)),
                       calls / per);
    }
    return text;
}

// Every fact a host shows of an item: its file name, full name and time; its size and format.
int ReadFacts(fotextest::Library& lib, FOTEX_DEVICE device, int items) {
    wchar_t text[256];
    int value = 0, failed = 0;
    for (int i = 0; i < items; ++i) {
        for (int what : {FOTEX_ITEM_FILE_NAME, FOTEX_ITEM_FULL_NAME, FOTEX_ITEM_TIME})
            failed += lib.GetCameraItemText(device, i, what, text, sizeof text) != FOTEX_OK;
        for (int what : {FOTEX_ITEM_SIZE, FOTEX_ITEM_FORMAT})
            failed += lib.GetCameraItemValue(device, i, what, &value) != FOTEX_OK;
    }
    return failed;
}

// Round trips to the service per item and per call, the listing's wall time on 1,000 items, and
// the memory Fotex.dll keeps per listed item. `large` is a device of 1,000 items, `small` one of
// a few pictures.
void RoundTrips(fotextest::Library& lib, fotextest::Server& server, int large, int small) {
    Title("Out of process: round trips (the server's calls) and the listing of 1,000 items");
    int count = 0;
    FOTEX_DEVICE device = 0;
    lib.OpenWiaDevice(large, &device);
    HookAllocators(lib.module());
    ResetCounts();
    long first = 0, again = 0;
    const std::string firstByCall = TripsByCall(server, [&] { lib.ListCameraItems(device, &count); }, 1000, &first);
    const int items = count > 0 ? count : 1;
    const std::string againByCall = TripsByCall(server, [&] { lib.ListCameraItems(device, &count); }, items, &again);
    // The list and what it keeps, after a listing and a listing again (both arrays in use).
    const double kept = static_cast<double>(Counts().liveBytes) / items;
    Row(Format("ListCameraItems, per item (%d items): first listing; again", count),
        Format("%.2f (%s); %.2f (%s)", static_cast<double>(first) / items, firstByCall.c_str(),
               static_cast<double>(again) / items, againByCall.c_str()),
        "", -1);
    int failed = 0;
    long facts = 0;
    const std::string byCall = TripsByCall(server, [&] {
        lib.ListCameraItems(device, &count);
        failed = ReadFacts(lib, device, count);
    }, items, &facts);
    Row("ListCameraItems, then the name, full name, time, size and format of every item, per item",
        Format("%.2f (%s)%s", static_cast<double>(facts) / items, byCall.c_str(), failed ? " (some facts failed!)" : ""),
        "<= 1.2", facts <= 1.2 * items && failed == 0);
    const double wall = Fastest([&] {
        lib.ListCameraItems(device, &count);
        ReadFacts(lib, device, count);
    }, 0, 2);
    Row("the same, wall time (fastest of 2)", Format("%.0f ms (%.2f ms per item)", wall * 1e3, wall * 1e3 / items),
        "", -1);
    Row("memory Fotex.dll keeps per listed item (heap blocks, after two listings)", Format("%.0f bytes", kept),
        "<= 512 bytes", kept <= 512);

    // A wake of a tethering host: one new picture since the last look.
    lib.ListNewCameraItems(device, FOTEX_NEW_RESET, &count);
    server->PressShutter(large);
    long wake = 0;
    const std::string wakeByCall = TripsByCall(server, [&] { lib.ListNewCameraItems(device, 0, &count); }, 1, &wake);
    Row(Format("ListNewCameraItems, per wake (%d items, %d new)", items + 1, count),
        Format("%ld (%s)", wake, wakeByCall.c_str()), "", -1);
    lib.CloseWiaDevice(&device);

    lib.OpenWiaDevice(small, &device);
    int value = 0;
    auto getFlash = reinterpret_cast<IntGetter>(lib.Symbol("GetFlashMode"));
    Row("GetFlashMode (a getter of 1.3), per call", Format("%ld", TripsOf(server, [&] { getFlash(device, &value); })),
        "", -1);
    Row("GetSetting (by id), per call",
        Format("%ld", TripsOf(server, [&] { lib.GetSetting(device, static_cast<int>(kFlashMode), &value); })), "",
        -1);
    lib.ListCameraItems(device, &count);
    FOTEX_ITEM item = 0;
    lib.OpenCameraItem(device, 0, &item);
    char folder[MAX_PATH];
    GetTempPathA(MAX_PATH, folder);
    const std::string path = std::string(folder) + "fotex-bench-trips.jpg";
    const std::wstring wide(path.begin(), path.end());
    int status = 0;
    const long save = TripsOf(server, [&] {
        status = lib.SaveCameraItem(item, wide.c_str(), FOTEX_FORMAT_JPEG, FOTEX_SAVE_REPLACE);
    });
    Row("SaveCameraItem, per call", Format("%ld%s", save, status == FOTEX_OK ? "" : " (failed!)"), "", -1);
    DeleteFileA(path.c_str());
    std::vector<char> buffer(16 << 20);
    int size = 0;
    const long read = TripsOf(server, [&] {
        status = lib.ReadCameraItem(item, FOTEX_FORMAT_JPEG, buffer.data(), static_cast<int>(buffer.size()), &size,
                                    nullptr, nullptr);
    });
    Row("ReadCameraItem, per call", Format("%ld%s", read, status == FOTEX_OK ? "" : " (failed!)"), "", -1);
    lib.ReleaseCameraItem(&item);
    const long take = TripsOf(server, [&] { lib.TakeAPicture(device, &item); });
    Row("TakeAPicture, per call", Format("%ld%s", take, item != 0 ? "" : " (no item!)"), "", -1);
    if (item != 0) lib.ReleaseCameraItem(&item);
    lib.CloseWiaDevice(&device);
}

}  // namespace

int main(int argc, char** argv) {
    // --trips: the round trips alone. --full: the look against the listing over 11 pairs, not 5
    // (each pair lists 1,000 items through the server: seconds).
    bool tripsOnly = false, full = false;
    for (int i = 1; i < argc; ++i) {
        tripsOnly = tripsOnly || std::strcmp(argv[i], "--trips") == 0;
        full = full || std::strcmp(argv[i], "--full") == 0;
    }
    CoInitialize(nullptr);
    fotextest::Server server;
    HRESULT hr = server.Connect();
    if (FAILED(hr)) {
        std::printf("FotexSimServer.exe did not answer (0x%08lx): is the prefix made by scripts/oop-prefix.sh?\n",
                    static_cast<unsigned long>(hr));
        return 2;
    }
    constexpr int kPictures = 20;
    server.AddCamera(L"bench-camera", L"Bench camera", L"Virtual camera for benchmarks", kPictures);
    fotextest::Library lib;
    if (!lib.Load()) {
        std::printf("cannot load Fotex.dll\n");
        return 2;
    }
    int count = 0;
    lib.EnumerateWiaDevices(&count);
    FOTEX_DEVICE device = 0;
    lib.OpenWiaDevice(0, &device);
    IWiaItem* root = HandOpen();
    if (device == 0 || root == nullptr) {
        std::printf("cannot open the camera in the server\n");
        return 2;
    }
    auto getFlash = reinterpret_cast<IntGetter>(lib.Symbol("GetFlashMode"));

    int items = 0;
    std::vector<IWiaItem*> list, spare;
    auto relist = [&] {
        spare.clear();
        HandList(root, spare);
        for (IWiaItem* item : list) item->Release();
        list.swap(spare);
    };
    if (!tripsOnly) {
        Title("Out of process: export time / the same WIA calls by hand through the server (median of interleaved "
              "comparisons: 5 for the getter, 3 for the listing, whose calls take milliseconds)");
        int value = 0;
        OverheadRow("integer getter GetFlashMode",
                    Repeated([&] { getFlash(device, &value); }, [&] { HandReadInt(root, kFlashMode, &value); }, 5, 21,
                             0.02));
        lib.ListCameraItems(device, &items);
        relist();
        OverheadRow(Format("ListCameraItems, per item (%d items)", items).c_str(),
                    Repeated([&] { lib.ListCameraItems(device, &count); }, relist, 3, 7, 0.05), items > 0 ? items : 1);
        for (IWiaItem* item : list) item->Release();
        list.clear();
    }

    // --- a look for new items ------------------------------------------------------------------
    // A second camera of 1,000 pictures; the server's shutter adds the one new item of each pair.
    {
        server.AddCamera(L"bench-large", L"Large camera", L"1,000 pictures", 999);
        lib.EnumerateWiaDevices(&count);
        RoundTrips(lib, server, 1, 0);
        if (tripsOnly) {
            lib.CloseWiaDevice(&device);
            root->Release();
            lib.Unload();
            server.Disconnect();
            CoUninitialize();
            return Verdict();
        }
        FOTEX_DEVICE looking = 0, listing = 0;
        lib.OpenWiaDevice(1, &looking);
        lib.OpenWiaDevice(1, &listing);
        LookAgainstListing(lib, looking, listing, full ? 11 : 5, [&](int) { server->PressShutter(1); },
                           "out of process, 1,000 items and one new");
        lib.CloseWiaDevice(&listing);
        lib.CloseWiaDevice(&looking);
    }

    // --- shutter to event ----------------------------------------------------------------------
    Title("Out of process: PressShutter in the server to WaitForCameraEvent returning the new item");
    wchar_t id[FOTEX_EVENT_DEVICE_UNITS], name[FOTEX_EVENT_NAME_UNITS];
    int kind = 0;
    lib.WaitForCameraEvent(0, &kind, id, sizeof id, name, sizeof name);  // registers
    while (lib.WaitForCameraEvent(0, &kind, id, sizeof id, name, sizeof name) == 1) {
    }
    constexpr int kPresses = 300;
    std::vector<double> latencies;
    int lost = 0;
    for (int i = 0; i < kPresses; ++i) {
        const double start = Seconds();
        if (server->PressShutter(0) != S_OK) {
            ++lost;
            continue;
        }
        bool seen = false;
        while (!seen && lib.WaitForCameraEvent(5000, &kind, id, sizeof id, name, sizeof name) == 1)
            seen = kind == FOTEX_EVENT_ITEM_CREATED;
        if (!seen) {
            ++lost;
            continue;
        }
        latencies.push_back(Seconds() - start);
    }
    std::sort(latencies.begin(), latencies.end());
    if (!latencies.empty()) {
        Row(Format("median over %zu presses", latencies.size()), Format("%.2f ms", Median(latencies) * 1e3), "", -1);
        Row("99th percentile", Format("%.2f ms", latencies[(latencies.size() - 1) * 99 / 100] * 1e3), "", -1);
    }
    Row("presses without an event", Format("%d", lost), "0", lost == 0);
    lib.StopCameraEvents();
    relist();  // nothing: the lists are given back below with the device
    for (IWiaItem* item : list) item->Release();
    list.clear();
    root->Release();
    lib.CloseWiaDevice(&device);

    // --- a large item --------------------------------------------------------------------------
    // A picture of 2592 x 2700 as a 24-bit BMP: 7776-byte rows, 20.0 MiB with its header.
    Title("Out of process: SaveCameraItem of one large picture as BMP (fastest of 3)");
    fotexsim::Camera local;
    fotexsim::Device& camera = local.AddStandardCamera(L"bench-large", L"Large camera", L"One large picture", 1);
    for (fotexsim::Item* item : local.ItemsOf(camera))
        if (item->type & wia::kItemTypeImage) {
            item->width = 2592;
            item->height = 2700;
        }
    server.Reset(L"empty");
    const std::string image = fotexsim::SaveImage(local);
    BSTR bytes = SysAllocStringByteLen(image.data(), static_cast<UINT>(image.size()));
    hr = server->Load(bytes);
    SysFreeString(bytes);
    lib.EnumerateWiaDevices(&count);
    lib.OpenWiaDevice(0, &device);
    lib.ListCameraItems(device, &items);
    FOTEX_ITEM picture = 0;
    int opened = FAILED(hr) ? 0 : lib.OpenCameraItem(device, 0, &picture);
    char folder[MAX_PATH];
    GetTempPathA(MAX_PATH, folder);
    const std::string path = std::string(folder) + "fotex-bench-large.bmp";
    const std::wstring wide(path.begin(), path.end());
    int status = 0;
    const double t = opened == 1 ? Fastest([&] {
        status = lib.SaveCameraItem(picture, wide.c_str(), FOTEX_FORMAT_BMP, FOTEX_SAVE_REPLACE);
    }, 0, 3)
                                 : 0;
    WIN32_FILE_ATTRIBUTE_DATA facts{};
    const double size =
        GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &facts) ? static_cast<double>(facts.nFileSizeLow) : 0;
    if (opened == 1 && status == 1 && size > 0) {
        Row(Format("%.1f MiB BMP written", size / 1048576), Format("%.0f ms, %.1f MB/s", t * 1e3, size / 1e6 / t), "",
            -1);
    } else {
        Row("large transfer", Format("failed (load 0x%08lx, open %d, save %d)", static_cast<unsigned long>(hr), opened,
                                     status),
            "", 0);
    }
    DeleteFileA(path.c_str());
    if (picture) lib.ReleaseCameraItem(&picture);
    lib.CloseWiaDevice(&device);
    lib.Unload();
    server.Disconnect();
    CoUninitialize();
    return Verdict();
}

// Camera contents: ListCameraItems over item trees of 10 to 100,000 items, the Get functions
// (no walk, no allocation, a cost that does not grow with the list) and SaveCameraItem against
// the same service calls written by hand, with the check of the written length and the final move.
#include <windows.h>
#include <objbase.h>
#include <wia.h>

#include <cstdio>
#include <string>
#include <vector>

#include "fotexsim.h"
#include "host.h"
#include "support.h"
#include "wia_ids.h"

using namespace fotexbench;
namespace wia = fotex::wia;

namespace {

struct Opened {
    fotextest::Library& lib;
    FOTEX_DEVICE device = 0;
    explicit Opened(fotextest::Library& l) : lib(l) {
        int count = 0;
        lib.EnumerateWiaDevices(&count);
        lib.OpenWiaDevice(0, &device);
    }
    ~Opened() { lib.CloseWiaDevice(&device); }
};

void Relist(IWiaItem* root, std::vector<IWiaItem*>& list, std::vector<IWiaItem*>& spare) {
    spare.clear();
    HandList(root, spare);
    for (IWiaItem* item : list) item->Release();
    list.swap(spare);
}

void Listing(fotexsim::Camera& camera, fotextest::Library& lib) {
    Title("Camera contents: ListCameraItems, listing again (processor time of this thread per call)");
    const char* shapeNames[] = {"flat", "deep", "wide"};
    const int sizes[] = {10, 100, 1000, 10000, 100000};
    for (Shape shape : {Shape::Flat, Shape::Deep, Shape::Wide}) {
        double first = 0, last = 0, best = 1e30;
        std::string figures;
        long relisting = 0, growths = 0;
        double ownRatio = 0;
        for (int n : sizes) {
            BuildTree(camera, shape, n);
            Opened open(lib);
            int count = 0;
            ResetCounts();
            lib.ListCameraItems(open.device, &count);
            lib.ListCameraItems(open.device, &count);  // the second list's array
            if (n == sizes[4]) growths = Counts().heap;
            ResetCounts();
            const double t = CpuPerCall([&] { lib.ListCameraItems(open.device, &count); });
            relisting += Counts().heap + Counts().strings;
            // A new handle has no list: the hand walk starts from nothing too.
            lib.CloseWiaDevice(&open.device);
            lib.OpenWiaDevice(0, &open.device);
            {
                IWiaItem* root = reinterpret_cast<IWiaItem*>(static_cast<INT_PTR>(open.device));
                std::vector<IWiaItem*> list, spare;
                list.reserve(n);
                spare.reserve(n);
                const double hand = CpuPerCall([&] { Relist(root, list, spare); });
                for (IWiaItem* item : list) item->Release();
                figures += Format("%s%d: %.3f (%.3f)", figures.empty() ? "" : ", ", n, t / n * 1e6, hand / n * 1e6);
                if (n == sizes[4]) ownRatio = t / hand;
            }
            const double perItem = t / n;
            if (n == sizes[0]) first = perItem;
            if (n >= 100 && perItem < best) best = perItem;
            last = perItem;
            if (count != n) figures += Format(" (only %d listed!)", count);
        }
        const char* name = shapeNames[static_cast<int>(shape)];
        Row(Format("%s tree, us per item (the same walk by hand, reading the same facts)", name), figures, "", -1);
        Row(Format("%s tree, per item 100,000 / best of 100 and more", name), Format("%.2f", last / best), "<= 1.5",
            last / best <= 1.5);
        Row(Format("%s tree, per item 100,000 / 10", name), Format("%.2f", last / first), "<= 1.5", last / first <= 1.5);
        Row(Format("%s tree, 100,000 items, export / by hand", name), Format("%.3f", ownRatio), "<= 1.05",
            ownRatio <= 1.05);
        Row(Format("%s tree, allocations: first two lists of 100,000, then every list again", name),
            Format("%ld growths; %ld", growths, relisting), "a growth per doubling of each of the two arrays; 0 again", relisting == 0);
    }
}

void Getters(fotexsim::Camera& camera, fotextest::Library& lib) {
    Title("Camera contents: the Get functions on the last item of a list (no walk, no allocation)");
    struct Get {
        const char* name;
        bool text;
        int what;
    };
    const Get gets[] = {{"GetCameraItemText FILE_NAME", true, FOTEX_ITEM_FILE_NAME},
                        {"GetCameraItemText FULL_NAME", true, FOTEX_ITEM_FULL_NAME},
                        {"GetCameraItemText TIME", true, FOTEX_ITEM_TIME},
                        {"GetCameraItemValue TYPE", false, FOTEX_ITEM_TYPE},
                        {"GetCameraItemValue SIZE", false, FOTEX_ITEM_SIZE},
                        {"GetCameraItemValue THUMB_WIDTH", false, FOTEX_ITEM_THUMB_WIDTH},
                        {"GetCameraItemValue THUMB_HEIGHT", false, FOTEX_ITEM_THUMB_HEIGHT}};
    const int sizes[] = {10, 100000};
    double times[7][2] = {};
    long walks[7] = {}, heap[7] = {}, strings[7] = {};
    for (int s = 0; s < 2; ++s) {
        BuildTree(camera, Shape::Flat, sizes[s]);
        Opened open(lib);
        int count = 0;
        lib.ListCameraItems(open.device, &count);
        const int last = count - 1;
        WCHAR text[256];
        int value = 0;
        for (int g = 0; g < 7; ++g) {
            auto call = [&] {
                if (gets[g].text)
                    lib.GetCameraItemText(open.device, last, gets[g].what, text, sizeof text);
                else
                    lib.GetCameraItemValue(open.device, last, gets[g].what, &value);
            };
            const int before = camera.Calls(fotexsim::Op::EnumChildItems) + camera.Calls(fotexsim::Op::ItemNext) +
                               camera.Calls(fotexsim::Op::GetItemType);
            ResetCounts();
            call();
            walks[g] += camera.Calls(fotexsim::Op::EnumChildItems) + camera.Calls(fotexsim::Op::ItemNext) +
                        camera.Calls(fotexsim::Op::GetItemType) - before;
            heap[g] += Counts().heap;
            strings[g] += Counts().strings;
            times[g][s] = Fastest([&] {
                for (int i = 0; i < 100; ++i) call();
            }, 0.05, 3) / 100;
        }
    }
    for (int g = 0; g < 7; ++g) {
        Row(gets[g].name,
            Format("%ld walk calls, %ld heap, %ld BSTR; %.2f us at 10 items, %.2f us at 100,000", walks[g], heap[g],
                   strings[g], times[g][0] * 1e6, times[g][1] * 1e6),
            "0 walk calls, 0 heap, 0 BSTR", walks[g] == 0 && heap[g] == 0 && strings[g] == 0);
    }
}

void Saving(fotexsim::Camera& camera, fotextest::Library& lib) {
    Title("Camera contents: SaveCameraItem / the same service calls by hand, the length check and the final move");
    camera.devices.clear();
    camera.AddStandardCamera(L"bench\\0000", L"Bench camera", L"Virtual camera for benchmarks", 1);
    Opened open(lib);
    int count = 0;
    lib.ListCameraItems(open.device, &count);
    FOTEX_ITEM item = 0;
    lib.OpenCameraItem(open.device, 0, &item);
    IWiaItem* picture = reinterpret_cast<IWiaItem*>(static_cast<INT_PTR>(item));

    WCHAR folder[MAX_PATH];
    GetTempPathW(MAX_PATH, folder);
    const std::wstring target = std::wstring(folder) + L"fotex-bench-saved.jpg";
    const std::wstring temporary = std::wstring(folder) + L"fotex-bench-saved.part";
    auto exported = [&](int flags) {
        return [&, flags] {
            lib.SaveCameraItem(item, target.c_str(), FOTEX_FORMAT_JPEG, flags);
            DeleteFileW(target.c_str());
        };
    };
    // The save's own check that the file is whole: the item's format and size, read together,
    // against the length written (a full disk may cut a file short without an error).
    auto whole = [&] {
        IWiaPropertyStorage* storage = nullptr;
        if (FAILED(picture->QueryInterface(wia::IID_IWiaPropertyStorage, reinterpret_cast<void**>(&storage)))) return false;
        PROPSPEC specs[2]{};
        specs[0].ulKind = specs[1].ulKind = PRSPEC_PROPID;
        specs[0].propid = wia::kIpaPreferredFormat;
        specs[1].propid = wia::kIpaItemSize;
        PROPVARIANT values[2]{};
        const bool read = storage->ReadMultiple(2, specs, values) == S_OK && values[1].vt == VT_I4;
        const LONG expected = read ? values[1].lVal : 0;
        FreePropVariantArray(2, values);
        storage->Release();
        WIN32_FILE_ATTRIBUTE_DATA data;
        return read && GetFileAttributesExW(temporary.c_str(), GetFileExInfoStandard, &data) &&
               data.nFileSizeLow == static_cast<DWORD>(expected);
    };
    auto byHand = [&] {
        // The temporary file is removed only when it stayed: the save makes no call for it then.
        if (HandTransferTo(picture, temporary.c_str()) != S_OK || !whole() ||
            !MoveFileExW(temporary.c_str(), target.c_str(), 0))
            DeleteFileW(temporary.c_str());
        DeleteFileW(target.c_str());
    };
    auto row = [](const char* what, const Paired& p) {
        Row(what, Format("%.3f (%.2f us vs %.2f us by hand)", p.ratio, p.a * 1e6, p.b * 1e6), "<= 1.05", p.ratio <= 1.05);
    };
    if (HandTransferTo(picture, temporary.c_str()) != S_OK || !whole()) Row("the save by hand", "failed", "", 0);
    DeleteFileW(temporary.c_str());
    row("SaveCameraItem, 160x120 JPEG, a new name", Compare(exported(0), byHand, 15, 0.02));
    row("SaveCameraItem, 160x120 JPEG, FOTEX_SAVE_REPLACE", Compare(exported(FOTEX_SAVE_REPLACE), byHand, 15, 0.02));

    // Moving off the camera: each round takes a new picture, saves it and deletes it from the
    // camera, with FOTEX_SAVE_DELETE (the file flushed to the disk and moved through before the
    // deletion) or with a plain save and DeleteCameraItem after it (neither).
    auto moved = [&](bool durable) {
        return [&, durable] {
            FOTEX_ITEM taken = 0;
            lib.TakeAPicture(open.device, &taken);
            if (durable) {
                lib.SaveCameraItem(taken, target.c_str(), FOTEX_FORMAT_JPEG, FOTEX_SAVE_DELETE);
            } else if (lib.SaveCameraItem(taken, target.c_str(), FOTEX_FORMAT_JPEG, 0) == FOTEX_OK) {
                lib.DeleteCameraItem(taken);
            }
            lib.ReleaseCameraItem(&taken);
            DeleteFileW(target.c_str());
        };
    };
    const Paired flushed = Compare(moved(true), moved(false), 15, 0.05);
    Row("SaveCameraItem FOTEX_SAVE_DELETE / save then DeleteCameraItem (flush and write-through)",
        Format("%.3f (%.2f us vs %.2f us: %.2f us more)", flushed.ratio, flushed.a * 1e6, flushed.b * 1e6,
               (flushed.a - flushed.b) * 1e6),
        "", -1);

    const std::wstring thumbnail = std::wstring(folder) + L"fotex-bench-thumb.bmp";
    const double t = Fastest([&] {
        lib.SaveCameraThumbnail(item, thumbnail.c_str(), FOTEX_SAVE_REPLACE);
    }, 0.2, 3);
    DeleteFileW(thumbnail.c_str());
    Row("SaveCameraThumbnail, 160x120 BMP", Format("%.2f us", t * 1e6), "", -1);

    auto allocations = [&](auto call) {
        call();
        ResetCounts();
        call();
        return Format("%ld heap, %ld BSTR", Counts().heap, Counts().strings);
    };
    Row("allocations: SaveCameraItem", allocations(exported(0)), "the file names' block", -1);
    Row("allocations: SaveCameraThumbnail",
        allocations([&] { lib.SaveCameraThumbnail(item, thumbnail.c_str(), FOTEX_SAVE_REPLACE); }), "the file names' block", -1);
    DeleteFileW(thumbnail.c_str());
    WCHAR text[256];
    Row("allocations: DescribeStatus", allocations([&] { lib.DescribeStatus(static_cast<int>(0x80070005), text, sizeof text); }),
        "", -1);
    lib.ReleaseCameraItem(&item);
}

}  // namespace

int main() {
    CoInitialize(nullptr);
    fotexsim::Camera camera;
    if (!RegisterCamera(camera)) return 2;
    fotextest::Library lib;
    lib.Load();
    HookAllocators(lib.module());
    Listing(camera, lib);
    Getters(camera, lib);
    Saving(camera, lib);
    lib.Unload();
    camera.devices.clear();
    camera.Revoke();
    CoUninitialize();
    return Verdict();
}

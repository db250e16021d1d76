// Scaling: EnumerateWiaDevices over 1 to 10,000 devices and TransferAllImages over item trees of
// 10 to 1,000 items (100,000 with --full) in three shapes. Time per device and per item must stay flat; the
// allocations Fotex.dll makes show that its memory stays bounded.
#include <windows.h>
#include <objbase.h>
#include <wia.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "fotexsim.h"
#include "host.h"
#include "support.h"
#include "wia_ids.h"

using namespace fotexbench;
namespace wia = fotex::wia;

namespace {

bool g_full = false;

fotexsim::Device InfoOnlyDevice(int i) {
    fotexsim::Device d;
    wchar_t id[64];
    swprintf(id, 64, L"{6BDD1FC6-810F-11D0-BEC7-08002BE2092F}\\%04d", i);
    d.id = id;
    d.name = L"Bench camera";
    d.description = L"Virtual camera for benchmarks";
    d.info[wia::kDipDevId].value = fotexsim::Value::Text(d.id);
    d.info[wia::kDipDevName].value = fotexsim::Value::Text(d.name);
    d.info[wia::kDipDevDesc].value = fotexsim::Value::Text(d.description);
    return d;
}

int CeilLog2(int n) {
    int bits = 0;
    while ((1 << bits) < n) ++bits;
    return bits;
}

void Devices(fotexsim::Camera& camera) {
    Title("Scaling: EnumerateWiaDevices (a fresh DLL per size; time is the fastest of repeated calls)");
    const int sizes[] = {1, 10, 100, 1000, 10000};
    double first = 0, last = 0;
    for (int n : sizes) {
        camera.devices.clear();
        for (int i = 0; i < n; ++i) camera.devices.push_back(InfoOnlyDevice(i));

        fotextest::Library lib;
        lib.Load();
        HookAllocators(lib.module());
        int count = 0;
        ResetCounts();
        lib.EnumerateWiaDevices(&count);
        const long growths = Counts().heap;
        const long bytes = Counts().heapBytes;
        ResetCounts();
        const double t = Fastest([&] { lib.EnumerateWiaDevices(&count); }, 0.2, 3);
        const long again = Counts().heap;
        lib.Unload();

        const double perDevice = t / n;
        if (n == sizes[0]) first = perDevice;
        last = perDevice;
        const int expected = 1 + CeilLog2(n);
        Row(Format("%d devices", n),
            Format("%.2f us/device (%.2f ms); %ld growths from empty (%ld KiB in all), %ld after",
                   perDevice * 1e6, t * 1e3, growths, bytes / 1024, again),
            Format("%d growths (1 + ceil(log2 n)), 0 after", expected), count == n && growths == expected && again == 0);
    }
    Row("time per device, 10,000 / 1", Format("%.2f", last / first), "<= 1.5", last / first <= 1.5);
    camera.devices.clear();
}

void EmptyFolder(const std::string& dir) {
    WIN32_FIND_DATAA found;
    HANDLE h = FindFirstFileA((dir + "\\*").c_str(), &found);
    if (h == INVALID_HANDLE_VALUE) return;
    do DeleteFileA((dir + "\\" + found.cFileName).c_str());
    while (FindNextFileA(h, &found));
    FindClose(h);
}

// The same walk written by hand against the service: the baseline of TransferAllImages.
int g_handCounter = 0;

HRESULT HandWalk(IWiaItem* item, const char* folder, const char* prefix) {
    LONG type = 0;
    HRESULT hr = item->GetItemType(&type);
    if (type & wia::kItemTypeImage) {
        char name[512];
        std::sprintf(name, "%s\\%s%8d.jpg", folder, prefix, g_handCounter++);
        WCHAR wide[128];
        MultiByteToWideChar(CP_ACP, 0, name, -1, wide, 128);
        hr = HandTransferTo(item, wide);
    }
    if ((type & (wia::kItemTypeFolder | wia::kItemTypeHasAttachments)) == 0) return hr;
    IEnumWiaItem* children = nullptr;
    if (item->EnumChildItems(&children) != S_OK || !children) return E_FAIL;
    IWiaItem* child = nullptr;
    while ((hr = children->Next(1, &child, nullptr)) == S_OK) {
        hr = HandWalk(child, folder, prefix);
        child->Release();
    }
    children->Release();
    return hr == S_FALSE ? S_OK : hr;
}

void Trees(fotexsim::Camera& camera, fotextest::Library& lib, const std::string& folder) {
    Title("Scaling: TransferAllImages (the service answers each transfer without writing a file)");
    {
        // The walk checks each numbered name for an existing file before it transfers.
        const std::string missing = folder + "\\img-missing.jpg";
        const double t = Fastest([&] {
            for (int i = 0; i < 1000; ++i) GetFileAttributesA(missing.c_str());
        }, 0.1, 3);
        Row("GetFileAttributes of a missing name", Format("%.1f us", t * 1e3), "", -1);
        // What the walk does instead for a free name: the claim, then (the transfer failing) its
        // removal, step by step.
        WCHAR wide[MAX_PATH];
        MultiByteToWideChar(CP_ACP, 0, missing.c_str(), -1, wide, MAX_PATH);
        double create = 0, identity = 0, close = 0, remove = 0;
        const int rounds = 200;
        for (int i = 0; i < rounds; ++i) {
            double at = Seconds();
            const HANDLE h = CreateFileW(wide, FILE_READ_ATTRIBUTES, 7, nullptr, CREATE_NEW, 0, nullptr);
            create += Seconds() - at;
            at = Seconds();
            FILE_ID_INFO id;
            GetFileInformationByHandleEx(h, FileIdInfo, &id, sizeof id);
            identity += Seconds() - at;
            at = Seconds();
            CloseHandle(h);
            close += Seconds() - at;
            at = Seconds();
            DeleteFileW(wide);
            remove += Seconds() - at;
        }
        Row("the claim of a free name: CreateFile (CREATE_NEW), its file id, CloseHandle; DeleteFile",
            Format("%.1f + %.1f + %.1f us; %.1f us", create / rounds * 1e6, identity / rounds * 1e6,
                   close / rounds * 1e6, remove / rounds * 1e6), "", -1);
    }
    const char* shapeNames[] = {"flat", "deep", "wide"};
    // The walk claims each name with an empty file, which stays when the service writes nothing:
    // 10,000 items and more take minutes of file creation under Wine, hence --full.
    std::vector<int> sizes = {10, 100, 1000};
    if (g_full) sizes.insert(sizes.end(), {10000, 100000});
    for (Shape shape : {Shape::Flat, Shape::Deep, Shape::Wide}) {
        double first = 0, last = 0;
        std::string figures;
        long allocations = 0;
        for (int n : sizes) {
            BuildTree(camera, shape, n);
            FOTEX_DEVICE device = 0;
            int count = 0;
            lib.EnumerateWiaDevices(&count);
            lib.OpenWiaDevice(0, &device);
            EmptyFolder(folder);
            camera.FailOn(fotexsim::Op::GetData, S_OK, 1, -1);
            const int gets = camera.Calls(fotexsim::Op::GetData);
            ResetCounts();
            lib.TransferAllImages(device, folder.c_str(), "img", FOTEX_FORMAT_JPEG, 0);
            allocations += Counts().heap + Counts().strings;
            const int transferred = camera.Calls(fotexsim::Op::GetData) - gets;
            // Each walk starts in an empty folder, as the first did: what is timed is the walk,
            // not Wine's lookups growing with the files earlier walks left.
            double t = 1e30;
            for (int run = 0; run < (n >= 1000 ? 1 : 3); ++run) {
                EmptyFolder(folder);
                const double start = Seconds();
                lib.TransferAllImages(device, folder.c_str(), "img", FOTEX_FORMAT_JPEG, 0);
                t = std::min(t, Seconds() - start);
            }
            IWiaItem* root = reinterpret_cast<IWiaItem*>(static_cast<INT_PTR>(device));
            const double hand = Fastest([&] { HandWalk(root, folder.c_str(), "img"); },
                                        n >= 10000 ? 0 : 0.2, n >= 10000 ? 1 : 3);
            camera.ClearFaults();
            lib.CloseWiaDevice(&device);
            const double perItem = t / n;
            if (n == sizes.front()) first = perItem;
            last = perItem;
            EmptyFolder(folder);
            figures += Format("%s%d: %.1f (%.1f)", figures.empty() ? "" : ", ", n, perItem * 1e6, hand / n * 1e6);
            if (transferred != n) figures += Format(" (only %d transferred!)", transferred);
        }
        Row(Format("%s tree, us per item (by hand)", shapeNames[static_cast<int>(shape)]), figures, "", -1);
        Row(Format("%s tree, per item %d / 10", shapeNames[static_cast<int>(shape)], sizes.back()),
            Format("%.2f", last / first), "<= 1.5", last / first <= 1.5);
        Row(Format("%s tree, Fotex.dll allocations in all walks", shapeNames[static_cast<int>(shape)]),
            Format("%ld", allocations), "0 (memory bounded)", allocations == 0);
    }
}

void Files(fotexsim::Camera& camera, fotextest::Library& lib, const std::string& folder) {
    Title("Scaling: TransferAllImages with files written (flat tree, 8x8 BMP per item, a fresh folder per size)");
    std::vector<int> sizes = {10, 100, 1000};
    if (g_full) sizes.push_back(10000);
    double first = 0, last = 0;
    std::string figures;
    for (int n : sizes) {
        BuildTree(camera, Shape::Flat, n);
        const std::string dir = folder + Format("\\files-%d", n);
        CreateDirectoryA(dir.c_str(), nullptr);
        FOTEX_DEVICE device = 0;
        int count = 0;
        lib.EnumerateWiaDevices(&count);
        lib.OpenWiaDevice(0, &device);
        const double start = Seconds();
        lib.TransferAllImages(device, dir.c_str(), "img", FOTEX_FORMAT_BMP, 0);
        const double t = Seconds() - start;
        lib.CloseWiaDevice(&device);
        const double perItem = t / n;
        if (n == sizes.front()) first = perItem;
        last = perItem;
        figures += Format("%s%d: %.0f", figures.empty() ? "" : ", ", n, perItem * 1e6);
        EmptyFolder(dir);  // for the next run
        RemoveDirectoryA(dir.c_str());
    }
    Row("flat tree with files, us per item", figures, "", -1);
    Row(Format("flat tree with files, per item %d / 10", sizes.back()), Format("%.2f", last / first), "<= 1.5",
        last / first <= 1.5);
}

}  // namespace

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], "--full") == 0) g_full = true;
    CoInitialize(nullptr);
    fotexsim::Camera camera;
    if (!RegisterCamera(camera)) return 2;
    Devices(camera);

    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    const std::string folder = std::string(temp) + "fotex-bench-walk";
    CreateDirectoryA(folder.c_str(), nullptr);
    fotextest::Library lib;
    lib.Load();
    HookAllocators(lib.module());
    Trees(camera, lib, folder);
    Files(camera, lib, folder);
    lib.Unload();
    RemoveDirectoryA(folder.c_str());

    camera.devices.clear();
    camera.Revoke();
    CoUninitialize();
    return Verdict();
}

// Call overhead and allocations per call: each family's export against the same WIA calls
// written by hand on the same service objects, and what Fotex.dll allocates in each export.
#include <windows.h>
#include <objbase.h>
#include <oleauto.h>
#include <wia.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "fotexsim.h"
#include "host.h"
#include "property_table.h"
#include "support.h"
#include "wia_ids.h"

using namespace fotexbench;
namespace wia = fotex::wia;

namespace {

using IntGetter = int(FOTEX_CALL*)(FOTEX_DEVICE, int*);
using IntSetter = int(FOTEX_CALL*)(FOTEX_DEVICE, int);
using TextGetter = int(FOTEX_CALL*)(FOTEX_DEVICE, void*);
using TextSetter = int(FOTEX_CALL*)(FOTEX_DEVICE, const char*);

constexpr PROPID kFlashMode = 2056;
constexpr PROPID kArtist = 2091;

// --- the hand-written sequences: what a host would write against the service itself ----------

int HandWriteInt(IWiaItem* root, PROPID id, int in) {
    IWiaPropertyStorage* storage = nullptr;
    if (FAILED(root->QueryInterface(wia::IID_IWiaPropertyStorage, reinterpret_cast<void**>(&storage)))) return -2;
    PROPSPEC selector{};
    selector.ulKind = PRSPEC_PROPID;
    selector.propid = id;
    PROPVARIANT value{};
    value.vt = VT_I4;
    value.lVal = in;
    const int status = storage->WriteMultiple(1, &selector, &value, wia::kIpaFirst) == S_OK ? 1 : -1;
    storage->Release();
    return status;
}

int HandReadText(IWiaItem* root, PROPID id, void* out) {
    IWiaPropertyStorage* storage = nullptr;
    if (FAILED(root->QueryInterface(wia::IID_IWiaPropertyStorage, reinterpret_cast<void**>(&storage)))) return -2;
    PROPSPEC selector{};
    selector.ulKind = PRSPEC_PROPID;
    selector.propid = id;
    PROPVARIANT value;
    PropVariantInit(&value);
    int status = -1;
    if (storage->ReadMultiple(1, &selector, &value) == S_OK) {
        if (value.vt == VT_BSTR) {
            size_t units = value.bstrVal ? wcsnlen(value.bstrVal, 64) : 0;
            std::memcpy(out, value.bstrVal, units * 2);
            if (units < 64) static_cast<WCHAR*>(out)[units] = 0;
        }
        status = 1;
    }
    FreePropVariantArray(1, &value);
    storage->Release();
    return status;
}

int HandWriteText(IWiaItem* root, PROPID id, const char* text) {
    IWiaPropertyStorage* storage = nullptr;
    if (FAILED(root->QueryInterface(wia::IID_IWiaPropertyStorage, reinterpret_cast<void**>(&storage)))) return -2;
    WCHAR wide[128];
    MultiByteToWideChar(CP_ACP, 0, text, -1, wide, 128);
    PROPSPEC selector{};
    selector.ulKind = PRSPEC_PROPID;
    selector.propid = id;
    PROPVARIANT value{};
    value.vt = VT_BSTR;
    value.bstrVal = SysAllocString(wide);
    const int status = storage->WriteMultiple(1, &selector, &value, wia::kIpaFirst) == S_OK ? 1 : -1;
    SysFreeString(value.bstrVal);
    storage->Release();
    return status;
}

int HandStorageInfo(IWiaItem* root, int* taken, int* remaining) {
    IWiaPropertyStorage* storage = nullptr;
    if (FAILED(root->QueryInterface(wia::IID_IWiaPropertyStorage, reinterpret_cast<void**>(&storage)))) return -2;
    PROPSPEC specs[2]{};
    specs[0].ulKind = specs[1].ulKind = PRSPEC_PROPID;
    specs[0].propid = wia::kDpcPicturesTaken;
    specs[1].propid = wia::kDpcPicturesRemaining;
    PROPVARIANT values[2];
    PropVariantInit(&values[0]);
    PropVariantInit(&values[1]);
    int status = -1;
    if (storage->ReadMultiple(2, specs, values) == S_OK) {
        if (values[0].vt == VT_I4) *taken = values[0].lVal;
        if (values[1].vt == VT_I4) *remaining = values[1].lVal;
        status = 1;
    }
    FreePropVariantArray(2, values);
    storage->Release();
    return status;
}

int HandDeviceCaps(IWiaItem* root, int* take, int* del) {
    IEnumWIA_DEV_CAPS* caps = nullptr;
    if (root->EnumDeviceCapabilities(wia::kDeviceCommands, &caps) != S_OK || !caps) return -2;
    ULONG count = 0;
    if (caps->Reset() != S_OK || caps->GetCount(&count) != S_OK) {
        caps->Release();
        return -1;
    }
    *take = *del = 0;
    for (ULONG i = 0; i < count; ++i) {
        WIA_DEV_CAP cap{};
        if (caps->Next(1, &cap, nullptr) != S_OK) break;
        if (IsEqualGUID(cap.guid, wia::WIA_CMD_TAKE_PICTURE)) *take = 1;
        if (IsEqualGUID(cap.guid, wia::WIA_CMD_DELETE_ALL_ITEMS)) *del = 1;
        SysFreeString(cap.bstrName);
        SysFreeString(cap.bstrDescription);
        SysFreeString(cap.bstrIcon);
        SysFreeString(cap.bstrCommandline);
    }
    caps->Release();
    return static_cast<int>(count);
}

// Appends the extension, widens the name, asks for the format on the file medium, transfers.
HRESULT HandTransfer(IWiaItem* item, char* name) {
    std::strcat(name, ".jpg");
    WCHAR wide[128];
    if (MultiByteToWideChar(CP_ACP, 0, name, -1, wide, 128) == 0) return E_INVALIDARG;
    return HandTransferTo(item, wide);
}

struct Record {
    WCHAR id[129], name[129], description[129];
};

int HandEnumerate(std::vector<Record>& list, int* count) {
    IWiaDevMgr* manager = nullptr;
    if (FAILED(CoCreateInstance(wia::CLSID_WiaDevMgr, nullptr, CLSCTX_LOCAL_SERVER, wia::IID_IWiaDevMgr,
                                reinterpret_cast<void**>(&manager))))
        return -2;
    IEnumWIA_DEV_INFO* devices = nullptr;
    HRESULT hr = manager->EnumDeviceInfo(wia::kDevInfoEnumLocal, &devices);
    if (FAILED(hr) || !devices) {
        manager->Release();
        return -1;
    }
    hr = devices->Reset();
    list.clear();
    while (hr == S_OK) {
        IWiaPropertyStorage* storage = nullptr;
        hr = devices->Next(1, &storage, nullptr);
        if (hr != S_OK) break;
        PROPSPEC specs[3]{};
        const PROPID ids[3] = {wia::kDipDevId, wia::kDipDevName, wia::kDipDevDesc};
        PROPVARIANT values[3];
        for (int i = 0; i < 3; ++i) {
            specs[i].ulKind = PRSPEC_PROPID;
            specs[i].propid = ids[i];
            PropVariantInit(&values[i]);
        }
        if (SUCCEEDED(storage->ReadMultiple(3, specs, values))) {
            Record r{};
            WCHAR* fields[3] = {r.id, r.name, r.description};
            for (int i = 0; i < 3; ++i)
                if (values[i].vt == VT_BSTR && values[i].bstrVal)
                    wcsncpy(fields[i], values[i].bstrVal, 64);
            list.push_back(r);
            FreePropVariantArray(3, values);
        }
        storage->Release();
    }
    *count = static_cast<int>(list.size());
    devices->Release();
    manager->Release();
    return hr == S_FALSE ? 1 : -1;
}

IWiaItem* FirstImage(IWiaItem* item) {
    LONG type = 0;
    item->GetItemType(&type);
    if (type & wia::kItemTypeImage) {
        item->AddRef();
        return item;
    }
    IEnumWiaItem* children = nullptr;
    if (item->EnumChildItems(&children) != S_OK || !children) return nullptr;
    IWiaItem* found = nullptr;
    IWiaItem* child = nullptr;
    while (!found && children->Next(1, &child, nullptr) == S_OK) {
        found = FirstImage(child);
        child->Release();
    }
    children->Release();
    return found;
}

void OverheadRow(const char* what, const Paired& p) {
    Row(what, Format("%.3f (%.2f us vs %.2f us by hand)", p.ratio, p.a * 1e6, p.b * 1e6), "<= 1.05",
        p.ratio <= 1.05);
}

struct Export {
    std::string name;
    char kind;  // 'i' integer getter, 'I' setter, 't' text getter, 'T' text setter
};

std::vector<Export> PropertyExports() {
    std::vector<Export> list;
#define BENCH_GET_FOTEX_KIND_INTEGER(getter) list.push_back({#getter, 'i'});
#define BENCH_GET_FOTEX_KIND_READ_ONLY(getter) list.push_back({#getter, 'i'});
#define BENCH_GET_FOTEX_KIND_TEXT(getter) list.push_back({#getter, 't'});
#define BENCH_SET_FOTEX_KIND_INTEGER(setter) list.push_back({#setter, 'I'});
#define BENCH_SET_FOTEX_KIND_READ_ONLY(setter)
#define BENCH_SET_FOTEX_KIND_TEXT(setter) list.push_back({#setter, 'T'});
#define BENCH_ROW(kind, id, getter, setter) BENCH_GET_##kind(getter) BENCH_SET_##kind(setter)
    FOTEX_PROPERTY_TABLE(BENCH_ROW)
    return list;
}

}  // namespace

int main() {
    CoInitialize(nullptr);
    fotexsim::Camera camera;
    if (!RegisterBenchCamera(camera)) return 2;
    fotextest::Library lib;
    if (!lib.Load()) {
        std::printf("cannot load Fotex.dll\n");
        return 2;
    }
    const std::vector<std::string> hooked = HookAllocators(lib.module());

    int count = 0;
    lib.EnumerateWiaDevices(&count);
    FOTEX_DEVICE device = 0;
    lib.OpenWiaDevice(0, &device);
    IWiaItem* root = reinterpret_cast<IWiaItem*>(static_cast<INT_PTR>(device));
    if (root == nullptr) {
        std::printf("cannot open the virtual camera\n");
        return 2;
    }
    auto getFlash = reinterpret_cast<IntGetter>(lib.Symbol("GetFlashMode"));
    auto setFlash = reinterpret_cast<IntSetter>(lib.Symbol("SetFlashMode"));
    auto getArtist = reinterpret_cast<TextGetter>(lib.Symbol("GetArtist"));
    auto setArtist = reinterpret_cast<TextSetter>(lib.Symbol("SetArtist"));

    Title("Call overhead: export time / the same WIA calls by hand (median of paired rounds)");
    int value = 0, taken = 0, remaining = 0, take = 0, del = 0;
    char text[128];
    OverheadRow("integer getter GetFlashMode",
                Compare([&] { getFlash(device, &value); }, [&] { HandReadInt(root, kFlashMode, &value); }));
    OverheadRow("integer setter SetFlashMode",
                Compare([&] { setFlash(device, 2); }, [&] { HandWriteInt(root, kFlashMode, 2); }));
    OverheadRow("text getter GetArtist",
                Compare([&] { getArtist(device, text); }, [&] { HandReadText(root, kArtist, text); }));
    OverheadRow("text setter SetArtist",
                Compare([&] { setArtist(device, "Fotex bench"); },
                        [&] { HandWriteText(root, kArtist, "Fotex bench"); }));
    // The generic read against the named getter of 1.3 for the same property.
    {
        const Paired p = Compare([&] { lib.GetSetting(device, static_cast<int>(kFlashMode), &value); },
                                 [&] { getFlash(device, &value); });
        Row("GetSetting / GetFlashMode", Format("%.3f (%.2f us vs %.2f us)", p.ratio, p.a * 1e6, p.b * 1e6), "<= 1.05",
            p.ratio <= 1.05);
    }
    OverheadRow("GetStorageInfo", Compare([&] { lib.GetStorageInfo(device, &taken, &remaining); },
                                          [&] { HandStorageInfo(root, &taken, &remaining); }));
    OverheadRow("EnumDeviceCap", Compare([&] { lib.EnumDeviceCap(device, &take, &del); },
                                         [&] { HandDeviceCaps(root, &take, &del); }));

    IWiaItem* picture = FirstImage(root);
    char folder[MAX_PATH];
    GetTempPathA(MAX_PATH, folder);
    const std::string base = std::string(folder) + "fotex-bench-picture";
    char name[256];
    // The item handle is the host's reference, consumed by TransferPicture.
    auto exportTransfer = [&] {
        picture->AddRef();
        std::strcpy(name, base.c_str());
        lib.TransferPicture(reinterpret_cast<INT_PTR>(picture), name, FOTEX_FORMAT_JPEG, 0);
    };
    auto handTransfer = [&] {
        picture->AddRef();
        std::strcpy(name, base.c_str());
        HandTransfer(picture, name);
        picture->Release();
    };
    // The service answers the transfer without writing: what remains is the calls around it. The
    // name exists after the first call, so the claim is refused at once. A hand-written transfer
    // that may remove its file after a failure, and none that was there, must look first.
    auto handCheckedTransfer = [&] {
        handTransfer();
        GetFileAttributesA(name);
    };
    camera.FailOn(fotexsim::Op::GetData, S_OK, 1, -1);
    {
        const Paired p = Compare(exportTransfer, handTransfer);
        Row("TransferPicture, service writes nothing / by hand without a look at the name",
            Format("%.3f (%.2f us vs %.2f us by hand)", p.ratio, p.a * 1e6, p.b * 1e6), "", -1);
    }
    OverheadRow("TransferPicture, service writes nothing / by hand with one GetFileAttributes",
                Compare(exportTransfer, handCheckedTransfer));
    {
        WCHAR wide[MAX_PATH];
        MultiByteToWideChar(CP_ACP, 0, (base + ".jpg").c_str(), -1, wide, MAX_PATH);
        const double look = Fastest([&] { for (int i = 0; i < 1000; ++i) GetFileAttributesW(wide); }, 0.1, 3);
        const double claim = Fastest([&] {
            for (int i = 0; i < 1000; ++i) {
                const HANDLE h = CreateFileW(wide, FILE_READ_ATTRIBUTES, 7, nullptr, CREATE_NEW, 0, nullptr);
                if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
            }
        }, 0.1, 3);
        Row("an existing name: the claim refused (CreateFile, CREATE_NEW) / GetFileAttributes",
            Format("%.2f (%.2f us vs %.2f us)", claim / look, claim * 1e3, look * 1e3), "<= 1", claim <= look);
    }
    camera.ClearFaults();
    OverheadRow("TransferPicture, 160x120 JPEG file written",
                Compare(exportTransfer, handTransfer, 15, 0.02));
    DeleteFileA((base + ".jpg").c_str());

    std::vector<Record> records;
    OverheadRow("EnumerateWiaDevices, 1 device",
                Compare([&] { lib.EnumerateWiaDevices(&count); }, [&] { HandEnumerate(records, &count); }));

    // --- allocations ---------------------------------------------------------------------------
    Title("Allocations made by Fotex.dll per call (second call; first-call figures alike)");
    std::string hookedList;
    for (const std::string& h : hooked) hookedList += (hookedList.empty() ? "" : ", ") + h;
    Row("counted imports", hookedList, "", -1);

    struct Count {
        long heap, strings;
    };
    auto measure = [&](auto call) {
        call();
        ResetCounts();
        call();
        return Count{Counts().heap, Counts().strings};
    };
    auto allocRow = [&](const std::string& what, Count c, long strings, const char* why) {
        Row(what, Format("%ld heap, %ld BSTR", c.heap, c.strings),
            Format("0 heap, %ld BSTR%s", strings, why), c.heap == 0 && c.strings == strings);
    };

    // Every property export, with a value the camera accepts: the one it holds.
    long propertyHeap = 0, worstStrings = 0;
    std::string offenders;
    int getters = 0, setters = 0;
    for (const Export& e : PropertyExports()) {
        void* symbol = lib.Symbol(e.name.c_str());
        Count c{};
        long expectedStrings = 0;
        if (e.kind == 'i') {
            c = measure([&] { reinterpret_cast<IntGetter>(symbol)(device, &value); });
            ++getters;
        } else if (e.kind == 't') {
            c = measure([&] { reinterpret_cast<TextGetter>(symbol)(device, text); });
            ++getters;
        } else if (e.kind == 'I') {
            std::string getter = "Get" + e.name.substr(3);
            int current = 0;
            if (void* g = lib.Symbol(getter.c_str())) reinterpret_cast<IntGetter>(g)(device, &current);
            c = measure([&] { reinterpret_cast<IntSetter>(symbol)(device, current); });
            ++setters;
        } else {
            c = measure([&] { reinterpret_cast<TextSetter>(symbol)(device, "Fotex bench"); });
            expectedStrings = 1;
            ++setters;
        }
        propertyHeap += c.heap;
        if (c.heap != 0 || c.strings != expectedStrings) offenders += " " + e.name;
        if (c.strings > worstStrings) worstStrings = c.strings;
    }
    Row(Format("all %d property getters and %d setters", getters, setters),
        Format("%ld heap in all;%s", propertyHeap, offenders.empty() ? " as targeted" : (" off:" + offenders).c_str()),
        "0 heap; BSTR only in text setters", offenders.empty());
    allocRow("integer getter GetFlashMode", measure([&] { getFlash(device, &value); }), 0, "");
    allocRow("integer setter SetFlashMode", measure([&] { setFlash(device, 2); }), 0, "");
    allocRow("text getter GetArtist", measure([&] { getArtist(device, text); }), 0, "");
    allocRow("text setter SetArtist", measure([&] { setArtist(device, "Fotex bench"); }), 1,
             " (the value the service is handed)");
    {
        wchar_t wide[256];
        int found = 0;
        allocRow("GetSetting", measure([&] { lib.GetSetting(device, static_cast<int>(kFlashMode), &value); }), 0, "");
        allocRow("SetSetting (checked against the choices)",
                 measure([&] { lib.SetSetting(device, static_cast<int>(kFlashMode), 2); }), 0, "");
        allocRow("GetSettingText", measure([&] { lib.GetSettingText(device, static_cast<int>(kArtist), wide, sizeof wide); }),
                 0, "");
        allocRow("SetSettingText", measure([&] { lib.SetSettingText(device, static_cast<int>(kArtist), L"Fotex bench"); }), 1,
                 " (the text handed to the service)");
        allocRow("DescribeSetting", measure([&] { lib.DescribeSetting(static_cast<int>(kFlashMode), wide, sizeof wide); }), 0,
                 "");
        allocRow("DescribeSettingValue, a name, an f-number, a time, a compensation", measure([&] {
                     lib.DescribeSettingValue(static_cast<int>(kFlashMode), 5, wide, sizeof wide);
                     lib.DescribeSettingValue(FOTEX_PROP_FNUMBER, 280, wide, sizeof wide);
                     lib.DescribeSettingValue(FOTEX_PROP_EXPOSURE_TIME, 40, wide, sizeof wide);
                     lib.DescribeSettingValue(FOTEX_PROP_EXPOSURE_COMP, 667, wide, sizeof wide);
                 }), 0, "");
        allocRow("FindSettingValue", measure([&] { lib.FindSettingValue(static_cast<int>(kFlashMode), L"red-eye fill", &found); }),
                 0, "");
    }
    allocRow("GetStorageInfo", measure([&] { lib.GetStorageInfo(device, &taken, &remaining); }), 0, "");
    allocRow("EnumDeviceCap", measure([&] { lib.EnumDeviceCap(device, &take, &del); }), 0, "");
    camera.FailOn(fotexsim::Op::GetData, S_OK, 1, -1);
    allocRow("TransferPicture", measure(exportTransfer), 0, "");
    allocRow("TransferAllImages (4 items)",
             measure([&] { lib.TransferAllImages(device, folder, "fotex-bench-", FOTEX_FORMAT_JPEG, 0); }), 0, "");
    camera.ClearFaults();
    allocRow("TakeAPicture + TransferPicture", measure([&] {
                 FOTEX_ITEM item = 0;
                 lib.TakeAPicture(device, &item);
                 std::strcpy(name, base.c_str());
                 lib.TransferPicture(item, name, 16, 1);  // no extension; deleted after
             }),
             0, "");
    DeleteFileA(base.c_str());
    allocRow("ImageTransferDialog", measure([&] { lib.ImageTransferDialog(0, device); }), 1,
             " (the file name the service is handed)");
    allocRow("DeleteAll", measure([&] { lib.DeleteAll(device); }), 0, "");
    allocRow("OpenWiaDevice + CloseWiaDevice", measure([&] {
                 FOTEX_DEVICE other = 0;
                 lib.OpenWiaDevice(0, &other);
                 lib.CloseWiaDevice(&other);
             }),
             1, " (the device id the service is handed)");
    allocRow("GetWiaDeviceInfo", measure([&] {
                 char id[128], n[128], d[128];
                 lib.GetWiaDeviceInfo(0, id, n, d);
             }),
             0, "");
    allocRow("EnumerateWiaDevices, capacity sufficing", measure([&] { lib.EnumerateWiaDevices(&count); }), 0, "");

    lib.CloseWiaDevice(&device);
    picture->Release();
    lib.Unload();
    camera.Revoke();
    CoUninitialize();
    return Verdict();
}

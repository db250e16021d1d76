#include "support.h"

#include <objbase.h>
#include <oleauto.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <malloc.h>

#include "host.h"
#include "wia_ids.h"

namespace fotexbench {

double Seconds() {
    static const double frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return static_cast<double>(f.QuadPart);
    }();
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart) / frequency;
}

double ThreadSeconds() {
    FILETIME created, exited, kernel, user;
    GetThreadTimes(GetCurrentThread(), &created, &exited, &kernel, &user);
    auto seconds = [](const FILETIME& t) {
        return static_cast<double>((static_cast<ULONGLONG>(t.dwHighDateTime) << 32) | t.dwLowDateTime) * 1e-7;
    };
    return seconds(kernel) + seconds(user);
}

double Median(std::vector<double> values) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

void LookAgainstListing(fotextest::Library& lib, FOTEX_HANDLE looking, FOTEX_HANDLE listing, int rounds,
                        const std::function<void(int)>& addOne, const char* where) {
    int count = 0;
    lib.ListNewCameraItems(looking, FOTEX_NEW_RESET, &count);
    lib.ListCameraItems(listing, &count);
    std::vector<double> looks, lists, ratios;
    bool found = true;
    for (int round = 0; round < rounds; ++round) {
        addOne(round);
        double start = Seconds();
        lib.ListNewCameraItems(looking, 0, &count);
        const double look = Seconds() - start;
        found = found && count == 1;
        start = Seconds();
        lib.ListCameraItems(listing, &count);
        const double listed = Seconds() - start;
        looks.push_back(look);
        lists.push_back(listed);
        ratios.push_back(look / listed);
    }
    const double ratio = Median(ratios);
    Row(Format("%s, look / listing (median of %d pairs)", where, rounds),
        Format("%.3f (%.2f ms vs %.2f ms)%s", ratio, Median(looks) * 1e3, Median(lists) * 1e3,
               found ? "" : ", the new item not always listed!"),
        "<= 1.2", ratio <= 1.2 && found);
}

AllocCounts& Counts() {
    static AllocCounts counts;
    return counts;
}

namespace {

// The originals, called through after counting.
void* (*g_malloc)(size_t);
void* (*g_calloc)(size_t, size_t);
void* (*g_realloc)(void*, size_t);
void (*g_free)(void*);
LPVOID(WINAPI* g_taskAlloc)(SIZE_T);
LPVOID(WINAPI* g_taskRealloc)(LPVOID, SIZE_T);
void(WINAPI* g_taskFree)(LPVOID);
BSTR(WINAPI* g_sysAlloc)(const OLECHAR*);
BSTR(WINAPI* g_sysAllocLen)(const OLECHAR*, UINT);
BSTR(WINAPI* g_sysAllocByteLen)(LPCSTR, UINT);
INT(WINAPI* g_sysReAlloc)(BSTR*, const OLECHAR*);
INT(WINAPI* g_sysReAllocLen)(BSTR*, const OLECHAR*, UINT);

long BlockBytes(void* p) { return p ? static_cast<long>(_msize(p)) : 0; }

void* CountMalloc(size_t n) {
    ++Counts().heap;
    Counts().heapBytes += static_cast<long>(n);
    void* p = g_malloc(n);
    Counts().liveBytes += BlockBytes(p);
    return p;
}
void* CountCalloc(size_t n, size_t size) {
    ++Counts().heap;
    Counts().heapBytes += static_cast<long>(n * size);
    void* p = g_calloc(n, size);
    Counts().liveBytes += BlockBytes(p);
    return p;
}
void* CountRealloc(void* p, size_t n) {
    ++Counts().heap;
    Counts().heapBytes += static_cast<long>(n);
    const long before = BlockBytes(p);
    void* q = g_realloc(p, n);
    if (q != nullptr || n == 0) Counts().liveBytes += BlockBytes(q) - before;
    return q;
}
void CountFree(void* p) {
    if (p) ++Counts().frees;
    Counts().liveBytes -= BlockBytes(p);
    g_free(p);
}
LPVOID WINAPI CountTaskAlloc(SIZE_T n) {
    ++Counts().heap;
    return g_taskAlloc(n);
}
LPVOID WINAPI CountTaskRealloc(LPVOID p, SIZE_T n) {
    ++Counts().heap;
    return g_taskRealloc(p, n);
}
void WINAPI CountTaskFree(LPVOID p) {
    if (p) ++Counts().frees;
    g_taskFree(p);
}
BSTR WINAPI CountSysAlloc(const OLECHAR* s) {
    ++Counts().strings;
    return g_sysAlloc(s);
}
BSTR WINAPI CountSysAllocLen(const OLECHAR* s, UINT n) {
    ++Counts().strings;
    return g_sysAllocLen(s, n);
}
BSTR WINAPI CountSysAllocByteLen(LPCSTR s, UINT n) {
    ++Counts().strings;
    return g_sysAllocByteLen(s, n);
}
INT WINAPI CountSysReAlloc(BSTR* b, const OLECHAR* s) {
    ++Counts().strings;
    return g_sysReAlloc(b, s);
}
INT WINAPI CountSysReAllocLen(BSTR* b, const OLECHAR* s, UINT n) {
    ++Counts().strings;
    return g_sysReAllocLen(b, s, n);
}

template <class F>
void Hook(HMODULE module, const char* dll, const char* name, F& original, F replacement,
          std::vector<std::string>& hooked) {
    void* was = fotextest::PatchImport(module, dll, name, reinterpret_cast<void*>(replacement));
    if (was == nullptr) return;
    original = reinterpret_cast<F>(was);
    hooked.push_back(std::string(dll) + "!" + name);
}

int g_missed = 0;

}  // namespace

std::vector<std::string> HookAllocators(HMODULE module) {
    std::vector<std::string> hooked;
    Hook(module, "msvcrt.dll", "malloc", g_malloc, &CountMalloc, hooked);
    Hook(module, "msvcrt.dll", "calloc", g_calloc, &CountCalloc, hooked);
    Hook(module, "msvcrt.dll", "realloc", g_realloc, &CountRealloc, hooked);
    Hook(module, "msvcrt.dll", "free", g_free, &CountFree, hooked);
    Hook(module, "ole32.dll", "CoTaskMemAlloc", g_taskAlloc, &CountTaskAlloc, hooked);
    Hook(module, "ole32.dll", "CoTaskMemRealloc", g_taskRealloc, &CountTaskRealloc, hooked);
    Hook(module, "ole32.dll", "CoTaskMemFree", g_taskFree, &CountTaskFree, hooked);
    Hook(module, "oleaut32.dll", "SysAllocString", g_sysAlloc, &CountSysAlloc, hooked);
    Hook(module, "oleaut32.dll", "SysAllocStringLen", g_sysAllocLen, &CountSysAllocLen, hooked);
    Hook(module, "oleaut32.dll", "SysAllocStringByteLen", g_sysAllocByteLen, &CountSysAllocByteLen, hooked);
    Hook(module, "oleaut32.dll", "SysReAllocString", g_sysReAlloc, &CountSysReAlloc, hooked);
    Hook(module, "oleaut32.dll", "SysReAllocStringLen", g_sysReAllocLen, &CountSysReAllocLen, hooked);
    return hooked;
}

std::string Format(const char* format, ...) {
    char text[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    return text;
}

void Title(const char* text) {
    std::printf("\n### %s\n\n| Benchmark | Figure | Target | Met |\n|---|---|---|---|\n", text);
    std::fflush(stdout);
}

void Row(const std::string& what, const std::string& figure, const std::string& target, int met) {
    if (met == 0) ++g_missed;
    std::printf("| %s | %s | %s | %s |\n", what.c_str(), figure.c_str(), target.c_str(),
                met < 0 ? "" : met ? "yes" : "**no**");
    std::fflush(stdout);
}

int Verdict() { return g_missed ? 1 : 0; }

// A JPEG transfer of one item into a file, written by hand against the service: the baseline
// that the DLL's transfers are measured against.
HRESULT HandTransferTo(IWiaItem* item, const WCHAR* wide) {
    IWiaPropertyStorage* storage = nullptr;
    HRESULT hr = item->QueryInterface(fotex::wia::IID_IWiaPropertyStorage, reinterpret_cast<void**>(&storage));
    if (FAILED(hr)) return hr;
    GUID format = fotex::wia::WiaImgFmt_JPEG;
    PROPSPEC specs[2]{};
    specs[0].ulKind = specs[1].ulKind = PRSPEC_PROPID;
    specs[0].propid = fotex::wia::kIpaFormat;
    specs[1].propid = fotex::wia::kIpaTymed;
    PROPVARIANT values[2]{};
    values[0].vt = VT_CLSID;
    values[0].puuid = &format;
    values[1].vt = VT_I4;
    values[1].lVal = TYMED_FILE;
    hr = storage->WriteMultiple(2, specs, values, fotex::wia::kIpaFirst);
    if (SUCCEEDED(hr)) {
        IWiaDataTransfer* transfer = nullptr;
        hr = item->QueryInterface(fotex::wia::IID_IWiaDataTransfer, reinterpret_cast<void**>(&transfer));
        if (hr == S_OK) {
            STGMEDIUM medium{};
            medium.tymed = TYMED_FILE;  // the service refuses a file name in a record of another kind
            medium.lpszFileName = const_cast<WCHAR*>(wide);
            hr = transfer->idtGetData(&medium, nullptr);
            transfer->Release();
        }
    }
    storage->Release();
    return hr;
}

bool RegisterCamera(fotexsim::Camera& camera) {
    camera.SetLogging(false);
    if (SUCCEEDED(camera.Register())) return true;
    std::printf("cannot register the virtual camera\n");
    return false;
}

bool RegisterBenchCamera(fotexsim::Camera& camera) {
    camera.AddStandardCamera(L"bench-camera", L"Bench camera", L"Virtual camera for benchmarks", 3);
    return RegisterCamera(camera);
}

void BuildTree(fotexsim::Camera& camera, Shape shape, int n) {
    namespace wia = fotex::wia;
    camera.devices.clear();
    fotexsim::Device& d = camera.AddDevice(L"bench-camera", L"Bench camera", L"Virtual camera for benchmarks");
    fotexsim::Item& root = *d.root;
    const LONG image = fotex::wia::kItemTypeImage | fotex::wia::kItemTypeFile;
    wchar_t name[32];
    auto addImage = [&](fotexsim::Item& parent, int i) {
        swprintf(name, 32, L"IMG_%06d", i);
        fotexsim::Item& item = parent.Add(name, image);
        item.width = item.height = 8;
    };
    if (shape == Shape::Flat) {
        fotexsim::Item& dcim = root.Add(L"DCIM", fotex::wia::kItemTypeFolder);
        for (int i = 0; i < n; ++i) addImage(dcim, i);
    } else if (shape == Shape::Wide) {
        for (int f = 0; f * 10 < n; ++f) {
            swprintf(name, 32, L"F%06d", f);
            fotexsim::Item& folder = root.Add(name, fotex::wia::kItemTypeFolder);
            for (int i = f * 10; i < n && i < f * 10 + 10; ++i) addImage(folder, i);
        }
    } else {
        const int levels = n < 60 ? n : 60;
        fotexsim::Item* folder = &root;
        int placed = 0;
        for (int level = 0; level < levels; ++level) {
            swprintf(name, 32, L"L%02d", level);
            folder = &folder->Add(name, fotex::wia::kItemTypeFolder);
            const int here = level == levels - 1 ? n - placed : n / levels;
            for (int i = 0; i < here; ++i) addImage(*folder, placed++);
        }
    }
}

// An integer property read by hand: 1 read, -1 refused, -2 no property storage.
int HandReadInt(IWiaItem* root, PROPID id, int* out) {
    IWiaPropertyStorage* storage = nullptr;
    if (FAILED(root->QueryInterface(fotex::wia::IID_IWiaPropertyStorage, reinterpret_cast<void**>(&storage)))) return -2;
    PROPSPEC selector{};
    selector.ulKind = PRSPEC_PROPID;
    selector.propid = id;
    PROPVARIANT value;
    PropVariantInit(&value);
    int status = -1;
    if (storage->ReadMultiple(1, &selector, &value) == S_OK) {
        if (value.vt == VT_I4) *out = value.lVal;
        status = 1;
    }
    FreePropVariantArray(1, &value);
    storage->Release();
    return status;
}

// The walk of ListCameraItems, by hand.
void HandList(IWiaItem* item, std::vector<IWiaItem*>& list, int depth) {
    namespace wia = fotex::wia;
    static const PROPID ids[] = {wia::kIpaItemFlags,    wia::kIpaItemName, wia::kIpaFilenameExtension,
                                 wia::kIpaFullItemName, wia::kIpaItemTime, wia::kIpaItemSize,
                                 wia::kIpcThumbWidth,   wia::kIpcThumbHeight, wia::kIpaPreferredFormat};
    constexpr ULONG kIds = sizeof ids / sizeof ids[0];
    if (depth > 64) return;
    LONG type = 0;
    IWiaPropertyStorage* storage = nullptr;
    if (FAILED(item->QueryInterface(wia::IID_IWiaPropertyStorage, reinterpret_cast<void**>(&storage)))) return;
    PROPSPEC specs[kIds]{};
    PROPVARIANT values[kIds]{};
    for (ULONG i = 0; i < kIds; ++i) {
        specs[i].ulKind = PRSPEC_PROPID;
        specs[i].propid = ids[i];
    }
    if (SUCCEEDED(storage->ReadMultiple(kIds, specs, values)) && values[0].vt == VT_I4) type = values[0].lVal;
    FreePropVariantArray(kIds, values);
    storage->Release();
    if (type & (wia::kItemTypeImage | wia::kItemTypeVideo)) {
        item->AddRef();
        list.push_back(item);
    }
    if ((type & (wia::kItemTypeFolder | wia::kItemTypeHasAttachments)) == 0) return;
    IEnumWiaItem* children = nullptr;
    if (item->EnumChildItems(&children) != S_OK || !children) return;
    HRESULT hr = S_OK;
    while (hr == S_OK) {
        IWiaItem* got[32] = {};
        ULONG count = 0;
        hr = children->Next(32, got, &count);
        if (FAILED(hr)) break;
        for (ULONG i = 0; i < count && i < 32; ++i) {
            HandList(got[i], list, depth + 1);
            got[i]->Release();
        }
    }
    children->Release();
}

}  // namespace fotexbench

// Reliability: every service failure of every export, string and value balance, random bad input,
// unplugged devices, repeated loading and a long capture-transfer-delete cycle.
#include <gtest/gtest.h>

#include <windows.h>
#include <psapi.h>

#include <array>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "fixture.h"
#include "property_table.h"
#include "wia_ids.h"

namespace {

using fotexsim::Op;
using fotextest::FotexTest;
using fotextest::Guarded;
using fotextest::Library;
namespace wia = fotex::wia;

constexpr int kUnset = 7;

// A progress routine that answers what its context holds: 0 goes on, anything else cancels.
int FOTEX_CALL AnswerReport(void* answer, int) { return *static_cast<int*>(answer); }

// A progress routine that counts its calls and never cancels.
int FOTEX_CALL CountReport(void* count, int) {
    ++*static_cast<int*>(count);
    return 0;
}
constexpr HRESULT kNegative = E_FAIL;
constexpr HRESULT kOtherSuccess = 2;
const HRESULT kResults[] = {kNegative, S_FALSE, kOtherSuccess};

// ---- string and value balance, seen through the DLL's own imports ----------------------------

struct Balance {
    std::set<BSTR> made;   // made by the DLL and not yet freed
    long foreignFreed = 0; // strings the service handed out, freed by the DLL
    long valueFrees = 0;   // FreePropVariantArray and PropVariantClear calls
};
Balance g_balance;

void FreedValue(const PROPVARIANT& v) {
    if (v.vt == VT_BSTR && v.bstrVal != nullptr) ++g_balance.foreignFreed;
}
BSTR WINAPI CountSysAllocString(const OLECHAR* text) {
    BSTR s = SysAllocString(text);
    if (s != nullptr) g_balance.made.insert(s);
    return s;
}
void WINAPI CountSysFreeString(BSTR s) {
    if (s != nullptr && g_balance.made.erase(s) == 0) ++g_balance.foreignFreed;
    SysFreeString(s);
}
HRESULT WINAPI CountFreePropVariantArray(ULONG n, PROPVARIANT* values) {
    ++g_balance.valueFrees;
    for (ULONG i = 0; values != nullptr && i < n; ++i) FreedValue(values[i]);
    return FreePropVariantArray(n, values);
}
HRESULT WINAPI CountPropVariantClear(PROPVARIANT* value) {
    ++g_balance.valueFrees;
    if (value != nullptr) FreedValue(*value);
    return PropVariantClear(value);
}

void CountStrings(Library& lib) {
    fotextest::PatchImport(lib.module(), "oleaut32.dll", "SysAllocString", reinterpret_cast<void*>(&CountSysAllocString));
    fotextest::PatchImport(lib.module(), "oleaut32.dll", "SysFreeString", reinterpret_cast<void*>(&CountSysFreeString));
    fotextest::PatchImport(lib.module(), "ole32.dll", "FreePropVariantArray", reinterpret_cast<void*>(&CountFreePropVariantArray));
    fotextest::PatchImport(lib.module(), "ole32.dll", "PropVariantClear", reinterpret_cast<void*>(&CountPropVariantClear));
}

// Every string the DLL made is freed, every string the service handed out is freed by the DLL,
// and every read that handed values out is followed by a free.
class BalanceMark {
public:
    explicit BalanceMark(const fotexsim::Camera& camera)
        : camera_(camera), freed_(g_balance.foreignFreed), frees_(g_balance.valueFrees),
          out_(camera.StringsHandedOut()), reads_(camera.ValuesHandedOut()) {}
    ::testing::AssertionResult Balanced() const {
        const long out = camera_.StringsHandedOut() - out_, freed = g_balance.foreignFreed - freed_;
        const long reads = camera_.ValuesHandedOut() - reads_, frees = g_balance.valueFrees - frees_;
        if (g_balance.made.empty() && out == freed && frees >= reads) return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure() << g_balance.made.size() << " strings of the DLL live; " << out
                                             << " handed out, " << freed << " freed; " << reads << " reads, "
                                             << frees << " frees";
    }

private:
    const fotexsim::Camera& camera_;
    long freed_, frees_, out_, reads_;
};

std::string Traced(const char* message, HRESULT hr) {
    char line[160];
    std::snprintf(line, sizeof line, "%s: HRESULT: 0x%08X\n", message, static_cast<unsigned>(hr));
    return line;
}

std::string Box(const std::string& text) { return text + "/Info/16;"; }

std::string Hex8(HRESULT hr) {
    char text[16];
    std::snprintf(text, sizeof text, "%8x", static_cast<unsigned>(hr));
    return text;
}

// Memory and handles of this process, for the checks that they stay flat.
struct Footprint {
    SIZE_T privateBytes = 0;
    DWORD handles = 0;
    static Footprint Now() {
        Footprint f;
        PROCESS_MEMORY_COUNTERS pmc{};
        GetProcessMemoryInfo(GetCurrentProcess(), &pmc, sizeof pmc);
        f.privateBytes = pmc.PagefileUsage;  // the commit charge; Wine leaves PrivateUsage at 0
        GetProcessHandleCount(GetCurrentProcess(), &f.handles);
        if (f.handles != 0) return f;
        // Wine reports no count: probe its handle table, whose values start low and step by 4.
        for (UINT_PTR h = 4; h < 0x10000; h += 4) {
            DWORD flags;
            if (GetHandleInformation(reinterpret_cast<HANDLE>(h), &flags)) ++f.handles;
        }
        return f;
    }
};

long EnvCount(const char* name, long fallback) {
    const char* text = std::getenv(name);
    return text != nullptr && *text != 0 ? std::strtol(text, nullptr, 10) : fallback;
}

// A line in the test's own output, outside the capture of what the DLL prints.
void Report(const std::string& line) {
    fotextest::StdoutCapture* capture = fotextest::StdoutCapture::Active();
    if (capture != nullptr) capture->Suspend();
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
    if (capture != nullptr) capture->Resume();
}

class ReliabilityTest : public FotexTest {
public:
    using FotexTest::Boxes;
    using FotexTest::camera;
    using FotexTest::lib;
    using FotexTest::Output;

protected:
    void SetUp() override {
        FotexTest::SetUp();
        CountStrings(lib);
        char temp[MAX_PATH];
        GetTempPathA(MAX_PATH, temp);
        dir = std::string(temp) + "fotex-reliability-" + std::to_string(GetCurrentProcessId());
        CreateDirectoryA(dir.c_str(), nullptr);
    }
    void TearDown() override {
        ClearFolder();
        RemoveDirectoryA(dir.c_str());
        FotexTest::TearDown();
    }
public:
    void Reload() {
        lib.Unload();
        ASSERT_TRUE(lib.Load());
        CountStrings(lib);
    }
    // A fresh camera with 3 pictures and a video in a DCIM folder.
    void FreshCamera(int devices = 1) {
        camera.ClearFaults();
        camera.ReleaseStrays();
        camera.devices.clear();
        for (int i = 0; i < devices; ++i)
            camera.AddStandardCamera(L"dev-" + std::to_wstring(i), L"Camera", L"Camera " + std::to_wstring(i));
    }
    int Files() {
        int n = 0;
        WIN32_FIND_DATAA found;
        HANDLE h = FindFirstFileA((dir + "\\*").c_str(), &found);
        if (h == INVALID_HANDLE_VALUE) return 0;
        do {
            if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) ++n;
        } while (FindNextFileA(h, &found));
        FindClose(h);
        return n;
    }
    void ClearFolder() {
        WIN32_FIND_DATAA found;
        HANDLE h = FindFirstFileA((dir + "\\*").c_str(), &found);
        if (h == INVALID_HANDLE_VALUE) return;
        do {
            if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) DeleteFileA((dir + "\\" + found.cFileName).c_str());
        } while (FindNextFileA(h, &found));
        FindClose(h);
    }
    int Media(int device = 0) {
        int n = 0;
        for (fotexsim::Item* item : camera.ItemsOf(camera.devices[device]))
            if (item->type & (wia::kItemTypeImage | wia::kItemTypeVideo)) ++n;
        return n;
    }
    std::string BoxesSeen() {
        std::string text;
        for (const auto& b : Boxes()) text += b.text + "/" + b.caption + "/" + std::to_string(b.style) + ";";
        Boxes().clear();
        return text;
    }

    std::string dir;
};

// ---- the fault sweep -------------------------------------------------------------------------

// One export, called once between Arm() and Done(); what it left behind is described in text so
// that one comparison covers status, outputs, trace and boxes.
struct Scenario {
    std::string name;
    bool usesDevice;  // works on an open device, so an unplugged one changes its outcome
    std::function<std::string(struct Sweep&)> run;
    // The documented outcome when `op` fails with `hr`; empty when the pair has no expectation.
    std::function<std::string(Op op, HRESULT hr)> expect;
    std::string clean = "";  // the outcome without a fault, where the scenario pins it
};

struct Sweep {
    ReliabilityTest* test;
    std::function<void()> arm;
    std::array<int, fotexsim::kOpCount> calls{};
    std::vector<Op> log;

    void Arm() {
        test->Output();
        test->Boxes().clear();
        Camera().ClearLog();
        arm();
    }
    void Done() {
        for (int i = 0; i < fotexsim::kOpCount; ++i) calls[i] = Camera().Calls(static_cast<Op>(i));
        log = Camera().Log();
        Camera().ClearFaults();
        Camera().SetDirtyFailures(false);
    }
    fotexsim::Camera& Camera();
};

using SweepAccess = ReliabilityTest;
SweepAccess& Access(ReliabilityTest* t) { return *t; }
fotexsim::Camera& Sweep::Camera() { return test->camera; }

std::string Outcome(SweepAccess& t, const std::string& parts) {
    return parts + " trace[" + t.Output() + "] box[" + t.BoxesSeen() + "]";
}

// The exports, each with the documented outcome of every failure of every operation it calls.
std::vector<Scenario> Scenarios() {
    std::vector<Scenario> all;
    auto open = [](SweepAccess& t) {
        int count = 0;
        t.lib.EnumerateWiaDevices(&count);
        FOTEX_DEVICE device = 0;
        t.lib.OpenWiaDevice(0, &device);
        return device;
    };
    auto value = [](int v) { return v == kUnset ? std::string(" untouched") : " " + std::to_string(v); };

    all.push_back({"VexaVersionInfo", false, [](Sweep& s) {
        Guarded<64> a, b, c;
        s.Arm();
        Access(s.test).lib.VexaVersionInfo(a.chars(), b.chars(), c.chars());
        s.Done();
        return Outcome(Access(s.test), a.str() + (a.GuardsIntact() && b.GuardsIntact() && c.GuardsIntact() ? "" : " OVERRUN"));
    }, nullptr});

    // Three records listed before, two devices now: "list" tells refilled from unchanged.
    all.push_back({"EnumerateWiaDevices", false, [](Sweep& s) {
        SweepAccess& t = Access(s.test);
        t.camera.AddStandardCamera(L"dev-x", L"Camera", L"Camera x");
        int count = 0;
        t.lib.EnumerateWiaDevices(&count);
        t.camera.devices.pop_back();
        count = kUnset;
        s.Arm();
        const int result = t.lib.EnumerateWiaDevices(&count);
        s.Done();
        const std::string trace = t.Output();
        int listed = 0;
        for (; listed < 4; ++listed) {
            Guarded<128> id, name, desc;
            t.lib.GetWiaDeviceInfo(listed, id.data(), name.data(), desc.data());
            if (id.Untouched()) break;
        }
        t.Output();
        return "status=" + std::to_string(result) + " count=" + std::to_string(count) + " list=" +
               std::to_string(listed) + " trace[" + trace + "] box[" + t.BoxesSeen() + "]";
    }, [](Op op, HRESULT hr) -> std::string {
        const bool negative = FAILED(hr);
        auto out = [](const char* parts, const std::string& trace = "") {
            return std::string(parts) + " trace[" + trace + "] box[]";
        };
        switch (op) {
        case Op::CreateInstance:
            return out("status=-2 count=7 list=3", negative ? Traced("CoCreateInstance failed on CLSID_WiaDevMgr", hr) : "");
        case Op::EnumDeviceInfo:
            // Success without an enumerator is traced as a missing pointer.
            return out("status=-1 count=7 list=3", Traced("Error calling IWiaDevMgr::EnumDeviceInfo", negative ? hr : E_POINTER));
        case Op::DevInfoReset:
            if (negative) return out("status=-1 count=7 list=3", Traced("Error calling IEnumWIA_DEV_INFO::Reset()", hr));
            return out(hr == S_FALSE ? "status=1 count=0 list=0" : "status=-1 count=0 list=0");
        case Op::DevInfoNext:
            return out(hr == S_FALSE ? "status=1 count=0 list=0" : "status=-1 count=0 list=0");
        case Op::ReadMultiple:
            // Only readable records are counted; a read without values gives an empty record.
            if (negative) return out("status=1 count=1 list=1", Traced("Error calling IWiaPropertyStorage::ReadMultiple", hr));
            return out("status=1 count=2 list=2");
        default:
            return "";
        }
    }});

    all.push_back({"GetWiaDeviceInfo", false, [](Sweep& s) {
        SweepAccess& t = Access(s.test);
        int count = 0;
        t.lib.EnumerateWiaDevices(&count);
        Guarded<128> id, name, desc;
        s.Arm();
        t.lib.GetWiaDeviceInfo(0, id.data(), name.data(), desc.data());
        s.Done();
        return Outcome(t, id.GuardsIntact() && name.GuardsIntact() && desc.GuardsIntact() ? "ok" : "OVERRUN");
    }, nullptr});

    all.push_back({"OpenWiaDevice", false, [](Sweep& s) {
        SweepAccess& t = Access(s.test);
        int count = 0;
        t.lib.EnumerateWiaDevices(&count);
        FOTEX_DEVICE device = kUnset;
        s.Arm();
        const int result = t.lib.OpenWiaDevice(0, &device);
        s.Done();
        const std::string handle = device == kUnset ? "untouched" : device == 0 ? "0" : "open";
        if (device != kUnset) t.lib.CloseWiaDevice(&device);
        return Outcome(t, "status=" + std::to_string(result) + " handle=" + handle);
    }, [](Op op, HRESULT hr) -> std::string {
        if (op == Op::CreateInstance)
            return "status=-1 handle=untouched trace[" +
                   (FAILED(hr) ? Traced("CoCreateInstance failed on CLSID_WiaDevMgr", hr) : "") + "] box[]";
        if (op == Op::CreateDevice) return "status=1 handle=0 trace[] box[]";
        return "";
    }});

    all.push_back({"CloseWiaDevice", false, [open](Sweep& s) {
        SweepAccess& t = Access(s.test);
        FOTEX_DEVICE device = open(t);
        s.Arm();
        t.lib.CloseWiaDevice(&device);
        t.lib.CloseWiaDevice(&device);  // a second close of the cleared variable does nothing
        s.Done();
        return Outcome(t, "handle=" + std::to_string(device));
    }, nullptr});

    all.push_back({"TakeAPicture", true, [open](Sweep& s) {
        SweepAccess& t = Access(s.test);
        FOTEX_DEVICE device = open(t);
        FOTEX_ITEM item = 0;
        s.Arm();
        t.lib.TakeAPicture(device, &item);
        s.Done();
        const std::string parts = item == 0 ? "item=0" : "item=new";
        if (item != 0) reinterpret_cast<IUnknown*>(item)->Release();
        t.lib.CloseWiaDevice(&device);
        return Outcome(t, parts);
    }, [](Op op, HRESULT) -> std::string {
        return op == Op::DeviceCommand ? "item=0 trace[] box[" + Box("error taking picture") + "]" : "";
    }});

    all.push_back({"DeleteAll", true, [open](Sweep& s) {
        SweepAccess& t = Access(s.test);
        FOTEX_DEVICE device = open(t);
        s.Arm();
        t.lib.DeleteAll(device);
        s.Done();
        t.lib.CloseWiaDevice(&device);
        return Outcome(t, "media=" + std::to_string(t.Media()));
    }, [](Op op, HRESULT) -> std::string { return op == Op::DeviceCommand ? "media=4 trace[] box[]" : ""; }});

    all.push_back({"EnumDeviceCap", true, [open](Sweep& s) {
        SweepAccess& t = Access(s.test);
        FOTEX_DEVICE device = open(t);
        int take = kUnset, remove = kUnset;
        s.Arm();
        const int result = t.lib.EnumDeviceCap(device, &take, &remove);
        s.Done();
        t.lib.CloseWiaDevice(&device);
        return Outcome(t, "status=" + std::to_string(result) + " flags=" + std::to_string(take) + std::to_string(remove));
    }, [](Op op, HRESULT) -> std::string {
        switch (op) {
        case Op::EnumDeviceCapabilities: return "status=-2 flags=77 trace[] box[]";
        case Op::CapsReset: return "status=-1 flags=77 trace[] box[]";
        case Op::CapsGetCount: return "status=-4 flags=00 trace[] box[]";
        case Op::CapsNext: return "status=-6 flags=00 trace[] box[]";
        default: return "";
        }
    }});

    all.push_back({"GetStorageInfo", true, [open](Sweep& s) {
        SweepAccess& t = Access(s.test);
        FOTEX_DEVICE device = open(t);
        int taken = kUnset, remaining = kUnset;
        s.Arm();
        const int result = t.lib.GetStorageInfo(device, &taken, &remaining);
        s.Done();
        t.lib.CloseWiaDevice(&device);
        return Outcome(t, "status=" + std::to_string(result) + " counts=" + std::to_string(taken) + "," + std::to_string(remaining));
    }, [](Op op, HRESULT) -> std::string {
        if (op == Op::QueryPropertyStorage) return "status=-2 counts=7,7 trace[] box[]";
        if (op == Op::ReadMultiple) return "status=-1 counts=7,7 trace[] box[]";
        return "";
    }});

    // A new picture, transferred as BMP (the cheapest file the camera makes) and deleted after the
    // transfer.
    all.push_back({"TransferPicture", true, [open](Sweep& s) {
        SweepAccess& t = Access(s.test);
        FOTEX_DEVICE device = open(t);
        FOTEX_ITEM item = 0;
        t.lib.TakeAPicture(device, &item);
        Guarded<300> name;
        name.Set((t.dir + "\\pic").c_str());
        s.Arm();
        t.lib.TransferPicture(item, name.chars(), 0, 1);
        s.Done();
        t.lib.CloseWiaDevice(&device);
        const std::string tail = name.str().substr(t.dir.size());
        return Outcome(t, "name=" + tail + " files=" + std::to_string(t.Files()) + " media=" + std::to_string(t.Media()) +
                              (name.GuardsIntact() ? "" : " OVERRUN"));
    }, [](Op op, HRESULT hr) -> std::string {
        const char* storage = "pWiaItem->QueryInterface failed on IID_IWiaPropertyStorage";
        switch (op) {
        case Op::QueryPropertyStorage:
            return "name=\\pic files=0 media=5 trace[" + Traced(storage, FAILED(hr) ? hr : E_NOINTERFACE) + "] box[]";
        case Op::WriteMultiple:
            // Only a negative write stops the routine; the service then refuses a transfer whose
            // format and medium it never stored.
            return FAILED(hr) ? "name=\\pic.bmp files=0 media=5 trace[] box[]"
                              : "name=\\pic.bmp files=0 media=5 trace[" + Traced("pWiaDataTransfer->idtGetData failed", E_INVALIDARG) + "] box[]";
        case Op::QueryDataTransfer: return "name=\\pic.bmp files=0 media=5 trace[] box[]";
        case Op::GetData:
            return "name=\\pic.bmp files=0 media=5 trace[" + Traced("pWiaDataTransfer->idtGetData failed", hr) + "] box[]";
        case Op::DeleteItem: return "name=\\pic.bmp files=1 media=5 trace[] box[]";
        default: return "";
        }
    }});

    // The whole DCIM folder (3 pictures, then a video that refuses BMP at the write and so ends
    // the walk without a trace); each case makes the first call fail.
    all.push_back({"TransferAllImages", true, [open](Sweep& s) {
        SweepAccess& t = Access(s.test);
        FOTEX_DEVICE device = open(t);
        s.Arm();
        t.lib.TransferAllImages(device, t.dir.c_str(), "img", 0, 1);
        s.Done();
        t.lib.CloseWiaDevice(&device);
        return Outcome(t, "files=" + std::to_string(t.Files()) + " media=" + std::to_string(t.Media()));
    }, [](Op op, HRESULT hr) -> std::string {
        const bool negative = FAILED(hr);
        switch (op) {
        case Op::GetItemType:
        case Op::EnumChildItems:
        case Op::QueryDataTransfer:
            return "files=0 media=4 trace[] box[]";
        case Op::ItemNext:
            return "files=0 media=4 trace[" + (negative ? Traced("Error calling pEnumWiaItem->Next", hr) : "") + "] box[]";
        case Op::QueryPropertyStorage:
            return "files=0 media=4 trace[" +
                   Traced("pWiaItem->QueryInterface failed on IID_IWiaPropertyStorage", negative ? hr : E_NOINTERFACE) + "] box[]";
        case Op::WriteMultiple:  // as for one picture: a write that stored nothing fails the transfer
            return "files=0 media=4 trace[" + (negative ? "" : Traced("pWiaDataTransfer->idtGetData failed", E_INVALIDARG)) + "] box[]";
        case Op::GetData:
            return "files=0 media=4 trace[" + Traced("pWiaDataTransfer->idtGetData failed", hr) + "] box[]";
        case Op::DeleteItem: return "files=3 media=2 trace[] box[]";  // the first picture and the video stay
        default: return "";
        }
    }});

    all.push_back({"ImageTransferDialog", false, [open](Sweep& s) {
        SweepAccess& t = Access(s.test);
        FOTEX_DEVICE device = open(t);
        t.camera.dialogResult = E_ABORT;  // no file at the fixed path
        s.Arm();
        const int result = t.lib.ImageTransferDialog(0, device);
        s.Done();
        t.camera.dialogResult = S_OK;
        t.lib.CloseWiaDevice(&device);
        return Outcome(t, "status=" + std::to_string(result));
    }, [](Op op, HRESULT hr) -> std::string {
        if (op == Op::CreateInstance)
            return "status=-2 trace[" + (FAILED(hr) ? Traced("CoCreateInstance failed on CLSID_WiaDevMgr", hr) : "") + "] box[]";
        if (op == Op::GetImageDlg) return "status=1 trace[] box[" + Box("Open UI error: " + Hex8(hr) + "\n") + "]";
        return "";
    }});

    // The camera contents functions: each reports the failing call's own HRESULT, writes no output
    // and leaves no file; a success other than S_OK is no success.
    auto status = [](int s) { return "status=" + Hex8(static_cast<HRESULT>(s)); };
    auto listed = [open](SweepAccess& t) {
        FOTEX_DEVICE device = open(t);
        int count = 0;
        t.lib.ListCameraItems(device, &count);
        return device;
    };
    const HRESULT kNoInterface = E_NOINTERFACE;
    const HRESULT kNotFound = HRESULT_FROM_WIN32(ERROR_NOT_FOUND);

    all.push_back({"ListCameraItems", true, [open, status](Sweep& s) {
        SweepAccess& t = Access(s.test);
        FOTEX_DEVICE device = open(t);
        int count = kUnset;
        s.Arm();
        const int result = t.lib.ListCameraItems(device, &count);
        s.Done();
        int type = kUnset;
        const int first = t.lib.GetCameraItemValue(device, 0, FOTEX_ITEM_TYPE, &type);
        t.lib.CloseWiaDevice(&device);
        return Outcome(t, status(result) + " count=" + std::to_string(count) + " first=" + status(first));
    }, [status](Op op, HRESULT hr) -> std::string {
        const std::string empty = " count=7 first=" + status(FOTEX_E_BOUNDS) + " trace[] box[]";
        switch (op) {
        case Op::GetItemType: return status(FAILED(hr) ? hr : E_FAIL) + empty;
        // The read of an item's type and facts: where it fails, the type is asked for instead
        // and the facts are read when asked.
        case Op::QueryPropertyStorage:
        case Op::ReadMultiple:
            if (hr == wia::kWiaErrorOffline || hr == static_cast<HRESULT>(0x80210006)) return status(hr) + empty;
            return status(FOTEX_OK) + " count=4 first=" + status(FOTEX_OK) + " trace[] box[]";
        // No enumerator and no failure: a folder without children.
        case Op::EnumChildItems:
        case Op::ItemNext:
            if (hr == S_FALSE) return status(FOTEX_OK) + " count=0 first=" + status(FOTEX_E_BOUNDS) + " trace[] box[]";
            return status(FAILED(hr) ? hr : E_FAIL) + empty;
        default: return "";
        }
    }});

    // The property reads of the Get functions and of the thumbnail.
    auto read = [status, kNoInterface, kNotFound](const std::string& outputs) {
        return [status, kNoInterface, kNotFound, outputs](Op op, HRESULT hr) -> std::string {
            if (op == Op::QueryPropertyStorage) return status(FAILED(hr) ? hr : kNoInterface) + outputs + " trace[] box[]";
            if (op == Op::ReadMultiple) return status(FAILED(hr) ? hr : kNotFound) + outputs + " trace[] box[]";
            return "";
        };
    };
    all.push_back({"GetCameraItemText", true, [listed, status](Sweep& s) {
        SweepAccess& t = Access(s.test);
        FOTEX_DEVICE device = listed(t);
        Guarded<256> text;
        s.Arm();
        const int result = t.lib.GetCameraItemText(device, 0, FOTEX_ITEM_FULL_NAME, text.data(), 256);
        s.Done();
        t.lib.CloseWiaDevice(&device);
        return Outcome(t, status(result) + (text.Untouched() ? " untouched" : " written") + (text.GuardsIntact() ? "" : " OVERRUN"));
    }, read(" untouched")});

    all.push_back({"GetCameraItemValue", true, [listed, status, value](Sweep& s) {
        SweepAccess& t = Access(s.test);
        FOTEX_DEVICE device = listed(t);
        int v = kUnset;
        s.Arm();
        const int result = t.lib.GetCameraItemValue(device, 0, FOTEX_ITEM_SIZE, &v);
        s.Done();
        t.lib.CloseWiaDevice(&device);
        return Outcome(t, status(result) + value(v));
    }, read(" untouched")});

    // These make no service call.
    all.push_back({"OpenCameraItem", false, [listed, status](Sweep& s) {
        SweepAccess& t = Access(s.test);
        FOTEX_DEVICE device = listed(t);
        FOTEX_ITEM item = 0;
        s.Arm();
        const int result = t.lib.OpenCameraItem(device, 0, &item);
        s.Done();
        t.lib.ReleaseCameraItem(&item);
        t.lib.CloseWiaDevice(&device);
        return Outcome(t, status(result));
    }, nullptr});
    all.push_back({"ReleaseCameraItem", false, [listed](Sweep& s) {
        SweepAccess& t = Access(s.test);
        FOTEX_DEVICE device = listed(t);
        FOTEX_ITEM item = 0;
        t.lib.OpenCameraItem(device, 0, &item);
        s.Arm();
        t.lib.ReleaseCameraItem(&item);
        s.Done();
        t.lib.CloseWiaDevice(&device);
        return Outcome(t, "item=" + std::to_string(item));
    }, nullptr});
    all.push_back({"DescribeStatus", false, [status](Sweep& s) {
        Guarded<256> text;
        s.Arm();
        const int result = Access(s.test).lib.DescribeStatus(wia::kWiaErrorOffline, text.data(), 256);
        s.Done();
        return Outcome(Access(s.test), status(result) + (text.GuardsIntact() ? "" : " OVERRUN"));
    }, nullptr});

    all.push_back({"FindCameraItem", true, [open, status](Sweep& s) {
        SweepAccess& t = Access(s.test);
        FOTEX_DEVICE device = open(t);
        FOTEX_ITEM item = kUnset;
        s.Arm();
        const int result = t.lib.FindCameraItem(device, L"dev-0\\Root\\DCIM\\IMG_0002", &item);
        s.Done();
        const std::string handle = item == kUnset ? " untouched" : " found";
        if (item != kUnset) t.lib.ReleaseCameraItem(&item);
        t.lib.CloseWiaDevice(&device);
        return Outcome(t, status(result) + handle);
    }, [status, kNotFound](Op op, HRESULT hr) -> std::string {
        return op == Op::FindItemByName ? status(FAILED(hr) ? hr : kNotFound) + " untouched trace[] box[]" : "";
    }});

    // A call on the handle of the first listed picture, between Arm() and Done(); the handle and
    // the device are given back afterwards.
    auto onFirstItem = [listed, status](Sweep& s, const std::function<int(SweepAccess&, FOTEX_ITEM)>& call,
                                        const std::function<std::string(SweepAccess&)>& outputs) {
        SweepAccess& t = Access(s.test);
        FOTEX_DEVICE device = listed(t);
        FOTEX_ITEM item = 0;
        t.lib.OpenCameraItem(device, 0, &item);
        s.Arm();
        const int result = call(t, item);
        s.Done();
        t.lib.ReleaseCameraItem(&item);
        t.lib.CloseWiaDevice(&device);
        return Outcome(t, status(result) + outputs(t));
    };
    auto inFolder = [](SweepAccess& t, const wchar_t* name) { return std::wstring(t.dir.begin(), t.dir.end()) + name; };
    auto filesAndMedia = [](SweepAccess& t) {
        return " files=" + std::to_string(t.Files()) + " media=" + std::to_string(t.Media());
    };

    // The first picture, saved as EMF (the cheapest file) and deleted after the transfer.
    all.push_back({"SaveCameraItem", true, [onFirstItem, inFolder, filesAndMedia](Sweep& s) {
        return onFirstItem(s, [inFolder](SweepAccess& t, FOTEX_ITEM item) {
            return t.lib.SaveCameraItem(item, inFolder(t, L"\\first.emf").c_str(), FOTEX_FORMAT_EMF, FOTEX_SAVE_DELETE);
        }, filesAndMedia);
    }, [status, kNoInterface](Op op, HRESULT hr) -> std::string {
        const std::string none = " files=0 media=4 trace[] box[]";
        switch (op) {
        // Without the item's type nothing is asked of it: it may be a folder.
        case Op::GetItemType: return status(FAILED(hr) ? hr : E_FAIL) + none;
        case Op::QueryPropertyStorage: return status(FAILED(hr) ? hr : kNoInterface) + none;
        // A write that stored nothing: the service then refuses the transfer.
        case Op::WriteMultiple: return status(FAILED(hr) ? hr : E_FAIL) + none;  // the service's refusal, as a failed service
        case Op::QueryDataTransfer:
        case Op::GetData: return status(FAILED(hr) ? hr : E_FAIL) + none;
        // Only the deletion failed: the file is in place.
        case Op::DeleteItem: return status(FAILED(hr) ? hr : FOTEX_OK) + " files=1 media=4 trace[] box[]";
        default: return "";
        }
    }});

    all.push_back({"SaveCameraThumbnail", true, [onFirstItem, inFolder](Sweep& s) {
        return onFirstItem(s, [inFolder](SweepAccess& t, FOTEX_ITEM item) {
            return t.lib.SaveCameraThumbnail(item, inFolder(t, L"\\thumb.bmp").c_str(), 0);
        }, [](SweepAccess& t) { return " files=" + std::to_string(t.Files()); });
    }, [status, read](Op op, HRESULT hr) -> std::string {
        if (op == Op::GetItemType) return status(FAILED(hr) ? hr : E_FAIL) + " files=0 trace[] box[]";
        return read(" files=0")(op, hr);
    }});

    // The save functions' refusals: a folder, and a format the camera does not offer for the
    // item; each writes nothing and deletes nothing, whatever fails on the way.
    all.push_back({"SaveCameraItem of a folder", true, [open, inFolder, filesAndMedia, status](Sweep& s) {
        SweepAccess& t = Access(s.test);
        FOTEX_DEVICE device = open(t);
        FOTEX_ITEM folder = 0;
        t.lib.FindCameraItem(device, L"dev-0\\Root\\DCIM", &folder);
        s.Arm();
        const int result = t.lib.SaveCameraItem(folder, inFolder(t, L"\\folder.jpg").c_str(), FOTEX_FORMAT_JPEG,
                                                FOTEX_SAVE_DELETE | FOTEX_SAVE_REPLACE);
        s.Done();
        t.lib.ReleaseCameraItem(&folder);
        t.lib.CloseWiaDevice(&device);
        return Outcome(t, status(result) + filesAndMedia(t));
    }, [status](Op op, HRESULT hr) -> std::string {
        return op == Op::GetItemType ? status(FAILED(hr) ? hr : E_FAIL) + " files=0 media=4 trace[] box[]" : "";
    }, status(FOTEX_E_FOLDER) + " files=0 media=4 trace[] box[]"});
    all.push_back({"SaveCameraItem in a refused format", true, [onFirstItem, inFolder, filesAndMedia](Sweep& s) {
        Access(s.test).camera.devices[0].root->children[0]->children[0]->formats = {wia::WiaImgFmt_JPEG};
        return onFirstItem(s, [inFolder](SweepAccess& t, FOTEX_ITEM item) {
            return t.lib.SaveCameraItem(item, inFolder(t, L"\\refused.bmp").c_str(), FOTEX_FORMAT_BMP, FOTEX_SAVE_DELETE);
        }, filesAndMedia);
    }, [status, kNoInterface](Op op, HRESULT hr) -> std::string {
        const std::string none = " files=0 media=4 trace[] box[]";
        switch (op) {
        case Op::GetItemType: return status(FAILED(hr) ? hr : E_FAIL) + none;
        case Op::QueryPropertyStorage: return status(FAILED(hr) ? hr : kNoInterface) + none;
        // The write's own failure; a write that stored nothing leaves the transfer to refuse.
        case Op::WriteMultiple: return status(FAILED(hr) ? hr : E_FAIL) + none;  // the service's refusal, as a failed service
        default: return "";
        }
    }, status(FOTEX_E_FORMAT) + " files=0 media=4 trace[] box[]"});

    // With a progress routine, in the item's own format, deleted after the transfer.
    all.push_back({"SaveCameraItemWithProgress", true, [onFirstItem, inFolder, filesAndMedia](Sweep& s) {
        return onFirstItem(s, [inFolder](SweepAccess& t, FOTEX_ITEM item) {
            int reports = 0;
            return t.lib.SaveCameraItemWithProgress(item, inFolder(t, L"\\own").c_str(), FOTEX_FORMAT_NATIVE,
                                                    FOTEX_SAVE_DELETE, &CountReport, &reports);
        }, filesAndMedia);
    }, [status, kNoInterface, kNotFound](Op op, HRESULT hr) -> std::string {
        const std::string none = " files=0 media=4 trace[] box[]";
        switch (op) {
        case Op::GetItemType: return status(FAILED(hr) ? hr : E_FAIL) + none;
        case Op::QueryPropertyStorage: return status(FAILED(hr) ? hr : kNoInterface) + none;
        // The item's own format unread: no format to ask for.
        case Op::ReadMultiple: return status(FAILED(hr) ? hr : kNotFound) + none;
        case Op::WriteMultiple: return status(FAILED(hr) ? hr : E_FAIL) + none;  // the service's refusal, as a failed service
        case Op::QueryDataTransfer:
        case Op::GetData: return status(FAILED(hr) ? hr : E_FAIL) + none;
        case Op::DeleteItem: return status(FAILED(hr) ? hr : FOTEX_OK) + " files=1 media=4 trace[] box[]";
        default: return "";
        }
    }});

    // Into memory, by the service's memory transfer or, where the item offers none, a file.
    for (const bool memory : {true, false}) {
        const std::string name = memory ? "ReadCameraItem" : "ReadCameraItem through a file";
        all.push_back({name, true, [onFirstItem, memory](Sweep& s) {
            if (!memory) Access(s.test).camera.devices[0].root->children[0]->children[0]->props[wia::kIpaTymed].allowed = {TYMED_FILE};
            std::vector<uint8_t> buffer(1 << 20);
            int size = kUnset;
            return onFirstItem(s, [&buffer, &size](SweepAccess& t, FOTEX_ITEM item) {
                int reports = 0;
                return t.lib.ReadCameraItem(item, FOTEX_FORMAT_JPEG, buffer.data(), static_cast<int>(buffer.size()), &size,
                                            &CountReport, &reports);
            }, [&size](SweepAccess&) { return size == kUnset ? std::string(" untouched") : " size"; });
        }, [status, kNoInterface](Op op, HRESULT hr) -> std::string {
            const std::string none = " untouched trace[] box[]";
            switch (op) {
            case Op::GetItemType: return status(FAILED(hr) ? hr : E_FAIL) + none;
            case Op::QueryPropertyStorage: return status(FAILED(hr) ? hr : kNoInterface) + none;
            // Without the medium's values the file serves.
            case Op::GetPropertyAttributes: return status(FOTEX_OK) + " size trace[] box[]";
            case Op::WriteMultiple: return status(FAILED(hr) ? hr : E_FAIL) + none;  // the service's refusal, as a failed service
            case Op::QueryDataTransfer:
            case Op::GetBandedData:
            case Op::GetData: return status(FAILED(hr) ? hr : E_FAIL) + none;
            default: return "";
            }
        }, status(FOTEX_OK) + " size trace[] box[]"});
    }

    all.push_back({"ReadCameraThumbnail", true, [onFirstItem](Sweep& s) {
        Guarded<64 * 1024> buffer;
        int size = kUnset;
        return onFirstItem(s, [&buffer, &size](SweepAccess& t, FOTEX_ITEM item) {
            return t.lib.ReadCameraThumbnail(item, buffer.data(), 64 * 1024, &size);
        }, [&buffer, &size](SweepAccess&) {
            return std::string(size == kUnset ? " untouched" : " size") + (buffer.GuardsIntact() ? "" : " OVERRUN");
        });
    }, [status, read](Op op, HRESULT hr) -> std::string {
        if (op == Op::GetItemType) return status(FAILED(hr) ? hr : E_FAIL) + " untouched trace[] box[]";
        return read(" untouched")(op, hr);
    }});

    all.push_back({"GetItemText", true, [onFirstItem](Sweep& s) {
        Guarded<256> text;
        return onFirstItem(s, [&text](SweepAccess& t, FOTEX_ITEM item) {
            return t.lib.GetItemText(item, FOTEX_ITEM_FULL_NAME, text.data(), 256);
        }, [&text](SweepAccess&) { return std::string(text.Untouched() ? " untouched" : " written"); });
    }, read(" untouched")});
    all.push_back({"GetItemValue", true, [onFirstItem](Sweep& s) {
        int value = kUnset;
        return onFirstItem(s, [&value](SweepAccess& t, FOTEX_ITEM item) {
            return t.lib.GetItemValue(item, FOTEX_ITEM_FORMAT, &value);
        }, [&value](SweepAccess&) { return value == kUnset ? std::string(" untouched") : " " + std::to_string(value); });
    }, read(" untouched")});

    all.push_back({"DeleteCameraItem", true, [onFirstItem](Sweep& s) {
        return onFirstItem(s, [](SweepAccess& t, FOTEX_ITEM item) { return t.lib.DeleteCameraItem(item); },
                           [](SweepAccess& t) { return " media=" + std::to_string(t.Media()); });
    }, [status](Op op, HRESULT hr) -> std::string {
        return op == Op::DeleteItem ? status(FAILED(hr) ? hr : FOTEX_OK) + " media=4 trace[] box[]" : "";
    }});

    // Setting choices and events, with the same reporting.
    all.push_back({"GetSettingChoices", true, [open, status](Sweep& s) {
        SweepAccess& t = Access(s.test);
        FOTEX_DEVICE device = open(t);
        int access = kUnset, kind = kUnset, nominal = kUnset, count = kUnset;
        Guarded<8 * sizeof(int)> values;
        s.Arm();
        const int result = t.lib.GetSettingChoices(device, 2056, &access, &kind, &nominal,
                                                   reinterpret_cast<int*>(values.data()), 8, &count);
        s.Done();
        t.lib.CloseWiaDevice(&device);
        const bool untouched = values.Untouched() && access == kUnset && kind == kUnset && nominal == kUnset && count == kUnset;
        return Outcome(t, status(result) + (untouched ? " untouched" : " written") + (values.GuardsIntact() ? "" : " OVERRUN"));
    }, [status, kNoInterface, kNotFound](Op op, HRESULT hr) -> std::string {
        // A success without a storage is no storage; a question answered without success, no such property.
        if (op == Op::QueryPropertyStorage) return status(FAILED(hr) ? hr : kNoInterface) + " untouched trace[] box[]";
        if (op == Op::GetPropertyAttributes) return status(FAILED(hr) ? hr : kNotFound) + " untouched trace[] box[]";
        return "";
    }});

    // The first wait registers for the five events; a failure leaves nothing registered.
    all.push_back({"WaitForCameraEvent", false, [status](Sweep& s) {
        SweepAccess& t = Access(s.test);
        Guarded<512> device, item;
        int kind = kUnset;
        s.Arm();
        const int result = t.lib.WaitForCameraEvent(0, &kind, device.data(), 512, item.data(), 512);
        s.Done();
        const long registered = t.camera.EventRegistrations();
        t.lib.StopCameraEvents();
        const bool untouched = kind == kUnset && device.Untouched() && item.Untouched();
        return Outcome(t, status(result) + (untouched ? " untouched" : " written") + " registered=" + std::to_string(registered) +
                              (device.GuardsIntact() && item.GuardsIntact() ? "" : " OVERRUN"));
    }, [status](Op op, HRESULT hr) -> std::string {
        // A success that yields no object is the service's failure.
        if (op == Op::CreateInstance || op == Op::RegisterEventCallback)
            return status(FAILED(hr) ? hr : E_FAIL) + " untouched registered=0 trace[] box[]";
        return "";
    }});

    all.push_back({"StopCameraEvents", false, [](Sweep& s) {
        SweepAccess& t = Access(s.test);
        t.lib.WaitForCameraEvent(0, nullptr, nullptr, 0, nullptr, 0);
        s.Arm();
        t.lib.StopCameraEvents();
        t.lib.StopCameraEvents();  // a second stop does nothing
        s.Done();
        return Outcome(t, "registered=" + std::to_string(t.camera.EventRegistrations()));
    }, nullptr});

    // The settings by property id: the failing call's own HRESULT; a success other than S_OK is
    // no such property from a question, and no success from a write.
    auto settled = [status, kNoInterface, kNotFound](Op op, HRESULT hr, const std::string& outputs,
                                                     std::initializer_list<Op> asked) -> std::string {
        if (op == Op::QueryPropertyStorage) return status(FAILED(hr) ? hr : kNoInterface) + outputs + " trace[] box[]";
        for (Op a : asked)
            if (op == a) return status(FAILED(hr) ? hr : hr == S_FALSE ? kNotFound : E_FAIL) + outputs + " trace[] box[]";
        if (op == Op::WriteMultiple) return status(FAILED(hr) ? hr : E_FAIL) + outputs + " trace[] box[]";
        return "";
    };
    all.push_back({"GetSetting", true, [open, status, value](Sweep& s) {
        SweepAccess& t = Access(s.test);
        FOTEX_DEVICE device = open(t);
        int v = kUnset;
        s.Arm();
        const int result = t.lib.GetSetting(device, 2056, &v);
        s.Done();
        t.lib.CloseWiaDevice(&device);
        return Outcome(t, status(result) + value(v));
    }, [settled](Op op, HRESULT hr) { return settled(op, hr, " untouched", {Op::ReadMultiple}); }});
    all.push_back({"SetSetting", true, [open, status](Sweep& s) {
        SweepAccess& t = Access(s.test);
        FOTEX_DEVICE device = open(t);
        s.Arm();
        const int result = t.lib.SetSetting(device, 2056, 2);
        s.Done();
        t.lib.CloseWiaDevice(&device);
        return Outcome(t, status(result));
    }, [settled](Op op, HRESULT hr) { return settled(op, hr, "", {Op::ReadMultiple, Op::GetPropertyAttributes}); }});
    all.push_back({"GetSettingText", true, [open, status](Sweep& s) {
        SweepAccess& t = Access(s.test);
        FOTEX_DEVICE device = open(t);
        Guarded<256> text;
        s.Arm();
        const int result = t.lib.GetSettingText(device, 2091, text.data(), 256);
        s.Done();
        t.lib.CloseWiaDevice(&device);
        return Outcome(t, status(result) + (text.Untouched() ? " untouched" : " written") + (text.GuardsIntact() ? "" : " OVERRUN"));
    }, [settled](Op op, HRESULT hr) { return settled(op, hr, " untouched", {Op::ReadMultiple}); }});
    all.push_back({"SetSettingText", true, [open, status](Sweep& s) {
        SweepAccess& t = Access(s.test);
        FOTEX_DEVICE device = open(t);
        s.Arm();
        const int result = t.lib.SetSettingText(device, 2091, L"abc");
        s.Done();
        t.lib.CloseWiaDevice(&device);
        return Outcome(t, status(result));
    }, [settled](Op op, HRESULT hr) { return settled(op, hr, "", {Op::ReadMultiple, Op::GetPropertyAttributes}); }});
    // The names ask nothing of the service.
    all.push_back({"DescribeSetting", false, [status](Sweep& s) {
        Guarded<64> text;
        s.Arm();
        const int result = Access(s.test).lib.DescribeSetting(2056, text.data(), 64);
        s.Done();
        return Outcome(Access(s.test), status(result) + (text.GuardsIntact() ? "" : " OVERRUN"));
    }, nullptr});
    all.push_back({"DescribeSettingValue", false, [status](Sweep& s) {
        Guarded<64> text;
        s.Arm();
        const int result = Access(s.test).lib.DescribeSettingValue(2056, 1, text.data(), 64);
        s.Done();
        return Outcome(Access(s.test), status(result) + (text.GuardsIntact() ? "" : " OVERRUN"));
    }, nullptr});
    all.push_back({"FindSettingValue", false, [status](Sweep& s) {
        int v = kUnset;
        s.Arm();
        const int result = Access(s.test).lib.FindSettingValue(2056, L"fill", &v);
        s.Done();
        return Outcome(Access(s.test), status(result) + " " + std::to_string(v));
    }, nullptr});

    // The camera settings, from the table that generates their exports.
    auto property = [&](const char* name, bool text, bool setter) {
        all.push_back({name, true, [open, name, text, setter, value](Sweep& s) {
            SweepAccess& t = Access(s.test);
            FOTEX_DEVICE device = open(t);
            void* export_ = t.lib.Symbol(name);
            int result = 0;
            std::string outputs;
            if (setter) {
                s.Arm();
                result = text ? reinterpret_cast<int(FOTEX_CALL*)(FOTEX_DEVICE, const char*)>(export_)(device, "abc")
                              : reinterpret_cast<int(FOTEX_CALL*)(FOTEX_DEVICE, int)>(export_)(device, 1);
                s.Done();
            } else if (text) {
                Guarded<128> buffer;
                s.Arm();
                result = reinterpret_cast<int(FOTEX_CALL*)(FOTEX_DEVICE, void*)>(export_)(device, buffer.data());
                s.Done();
                outputs = buffer.Untouched() ? " untouched" : " written";
                if (!buffer.GuardsIntact()) outputs += " OVERRUN";
            } else {
                int v = kUnset;
                s.Arm();
                result = reinterpret_cast<int(FOTEX_CALL*)(FOTEX_DEVICE, int*)>(export_)(device, &v);
                s.Done();
                outputs = value(v);
            }
            t.lib.CloseWiaDevice(&device);
            return Outcome(t, "status=" + std::to_string(result) + outputs);
        }, [text, setter](Op op, HRESULT) -> std::string {
            const std::string outputs = setter ? "" : " untouched";
            if (op == Op::QueryPropertyStorage) return "status=-2" + outputs + " trace[] box[]";
            if (op == (setter ? Op::WriteMultiple : Op::ReadMultiple)) return "status=-1" + outputs + " trace[] box[]";
            (void)text;
            return "";
        }});
    };
#define FOTEX_SWEEP_FOTEX_KIND_INTEGER(getter, setter) property(#getter, false, false); property(#setter, false, true);
#define FOTEX_SWEEP_FOTEX_KIND_READ_ONLY(getter, setter) property(#getter, false, false);
#define FOTEX_SWEEP_FOTEX_KIND_TEXT(getter, setter) property(#getter, true, false); property(#setter, true, true);
#define FOTEX_SWEEP_ROW(kind, id, getter, setter) FOTEX_SWEEP_##kind(getter, setter)
    FOTEX_PROPERTY_TABLE(FOTEX_SWEEP_ROW)
#undef FOTEX_SWEEP_ROW
    return all;
}

// The operations that reach an open device (and fail while it is unplugged).
bool DeviceBound(Op op) {
    return op != Op::CreateInstance && op != Op::EnumDeviceInfo && op != Op::DevInfoReset && op != Op::DevInfoNext &&
           op != Op::CreateDevice && op != Op::GetImageDlg && op != Op::RegisterEventCallback;
}

TEST_F(ReliabilityTest, EveryFailureOfEveryOperationOfEveryExportIsReportedAsDocumented) {
    const std::vector<Scenario> scenarios = Scenarios();
    std::set<std::string> names;
    for (const Scenario& s : scenarios) names.insert(s.name);
    // The 108 exports, the two refusals of SaveCameraItem, and ReadCameraItem through a file.
    ASSERT_EQ(111u, scenarios.size());
    ASSERT_EQ(111u, names.size());

    // Busy is one try here, so that it fails as any status does; the retries have tests of their own.
    auto setOption = reinterpret_cast<int(__cdecl*)(int, int)>(lib.Symbol("SetFotexOption"));
    ASSERT_NE(nullptr, setOption);
    ASSERT_EQ(1, setOption(1, 0));
    int cases = 0, unplugged = 0;
    for (const Scenario& scenario : scenarios) {
        Sweep sweep;
        sweep.test = this;
        sweep.arm = [] {};
        FreshCamera(2);
        const BalanceMark cleanMark(camera);
        const std::string clean = scenario.run(sweep);
        EXPECT_TRUE(Ledger(0)) << scenario.name << " clean";
        EXPECT_TRUE(cleanMark.Balanced()) << scenario.name << " clean";
        EXPECT_EQ(std::string::npos, clean.find("OVERRUN")) << scenario.name << ": " << clean;
        if (!scenario.clean.empty()) {
            EXPECT_EQ(scenario.clean, clean) << scenario.name;
        }
        ClearFolder();
        const auto called = sweep.calls;
        const std::vector<Op> log = sweep.log;

        // Each failure twice: clean, and dirty (the outputs left holding strays and garbage),
        // which the library must discard without freeing, releasing or reading them.
        for (int o = 0; o < fotexsim::kOpCount; ++o) {
            const Op op = static_cast<Op>(o);
            if (called[o] == 0) continue;
            for (HRESULT hr : kResults)
            for (bool dirty : {false, true}) {
                const std::string expected = scenario.expect ? scenario.expect(op, hr) : "";
                ASSERT_NE("", expected) << "no expectation for " << scenario.name << " when " << fotexsim::OpName(op) << " fails";
                FreshCamera(2);
                BalanceMark mark(camera);
                sweep.arm = [this, op, hr, dirty] {
                    camera.SetDirtyFailures(dirty);
                    camera.FailOn(op, hr);
                };
                const std::string seen = scenario.run(sweep);
                const std::string where = scenario.name + " with " + fotexsim::OpName(op) + " failing with " + Hex8(hr) +
                                          (dirty ? ", dirty" : "");
                EXPECT_EQ(expected, seen) << where;
                EXPECT_TRUE(Ledger(0)) << where;
                EXPECT_TRUE(mark.Balanced()) << where;
                ClearFolder();
                ++cases;
            }
        }

        // Unplugged after opening: the first call that reaches the device fails as offline.
        if (!scenario.usesDevice) continue;
        Op first = Op::Count;
        for (Op op : log)
            if (DeviceBound(op)) {
                first = op;
                break;
            }
        // A listed item's kept facts reach no device.
        if (first == Op::Count) continue;
        // The camera's own conditions, at the first call as well: held by another program past
        // a busy wait of one try, and asleep (the one reconnect finds it asleep too).
        const struct {
            const char* what;
            HRESULT hr;
            void (*arm)(fotexsim::Device&);
        } conditions[] = {
            {"unplugged", wia::kWiaErrorOffline, [](fotexsim::Device& d) { d.offline = true; }},
            {"busy", static_cast<HRESULT>(0x80210006), [](fotexsim::Device& d) { d.held = true; }},
            {"asleep", wia::kWiaErrorOffline, [](fotexsim::Device& d) { d.asleep = true; }},
        };
        for (const auto& condition : conditions) {
            FreshCamera(2);
            BalanceMark mark(camera);
            sweep.arm = [this, &condition] { condition.arm(camera.devices[0]); };
            const std::string seen = scenario.run(sweep);
            const std::string where = scenario.name + " " + condition.what;
            EXPECT_EQ(scenario.expect(first, condition.hr), seen) << where;
            EXPECT_TRUE(Ledger(0)) << where;
            EXPECT_TRUE(mark.Balanced()) << where;
            ClearFolder();
            ++unplugged;
        }
    }
    Report("fault sweep: " + std::to_string(scenarios.size()) + " exports, " + std::to_string(cases) +
           " failure cases (half of them dirty), " + std::to_string(unplugged) + " unplugged, busy and asleep cases, ledger and strings balanced after each");
}

}  // namespace

namespace {

// ---- random bad input ------------------------------------------------------------------------

using IntGetter = int(FOTEX_CALL*)(FOTEX_DEVICE, int*);
using IntSetter = int(FOTEX_CALL*)(FOTEX_DEVICE, int);
using TextGetter = int(FOTEX_CALL*)(FOTEX_DEVICE, void*);
using TextSetter = int(FOTEX_CALL*)(FOTEX_DEVICE, const char*);

struct PropertyExport {
    const char* name;
    int shape;  // 0 integer getter, 1 integer setter, 2 text getter, 3 text setter
};
const PropertyExport kProperties[] = {
#define FOTEX_FUZZ_FOTEX_KIND_INTEGER(getter, setter) {#getter, 0}, {#setter, 1},
#define FOTEX_FUZZ_FOTEX_KIND_READ_ONLY(getter, setter) {#getter, 0},
#define FOTEX_FUZZ_FOTEX_KIND_TEXT(getter, setter) {#getter, 2}, {#setter, 3},
#define FOTEX_FUZZ_ROW(kind, id, getter, setter) FOTEX_FUZZ_##kind(getter, setter)
    FOTEX_PROPERTY_TABLE(FOTEX_FUZZ_ROW)
#undef FOTEX_FUZZ_ROW
};

TEST_F(ReliabilityTest, RandomBadInputNeitherCrashesNorWritesOutOfBoundsNorLeaks) {
    const unsigned seed = static_cast<unsigned>(EnvCount("FOTEX_FUZZ_SEED", 20240607));
    const long total = EnvCount("FOTEX_FUZZ_CALLS", 100000);
    Report("bad input: seed " + std::to_string(seed) + " (FOTEX_FUZZ_SEED=" + std::to_string(seed) + " replays it)");
    camera.SetLogging(false);
    FreshCamera(2);
    camera.dialogResult = E_ABORT;  // the dialog writes no file
    // The cameras' first items are offered as JPEG alone: most codes asked for them are refused.
    for (fotexsim::Device& d : camera.devices)
        for (auto& item : d.root->children[0]->children) item->formats = {wia::WiaImgFmt_JPEG};
    BalanceMark mark(camera);

    std::mt19937 rng(seed);
    auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
    const int kIndexes[] = {0, 1, 2, 3, -1, INT_MIN, INT_MAX, 1000};
    auto index = [&] { return pick(4) == 0 ? static_cast<int>(rng()) : kIndexes[pick(8)]; };
    // One of every class of format code: listed, gap, video, above, negative, extreme.
    auto code = [&] {
        switch (pick(6)) {
        case 0: return pick(16);
        case 1: return 16 + pick(112);
        case 2: return 128 + pick(2);
        case 3: return 130 + pick(100000);
        case 4: return -1 - pick(100000);
        default: return pick(2) ? INT_MIN : INT_MAX;
        }
    };
    auto flag = [&] { const int flags[] = {0, 1, 2, -1}; return flags[pick(4)]; };
    // 0 to `most` bytes, many above 127, none that would lead a file name out of the folder.
    auto text = [&](char* out, int most) {
        const int n = pick(most + 1);
        for (int i = 0; i < n; ++i) {
            char c;
            do c = static_cast<char>(32 + pick(224));
            while (std::strchr("\\/:*?\"<>|.", c) != nullptr);
            out[i] = c;
        }
        out[n] = 0;
    };

    std::vector<FOTEX_DEVICE> devices;
    std::vector<FOTEX_ITEM> items;
    Guarded<128> a, b, c;
    Guarded<8> x, y;
    Guarded<420> name;
    Guarded<512> event, eventName;
    Guarded<8 * sizeof(int)> list;
    auto device = [&]() -> FOTEX_DEVICE { return devices.empty() || pick(10) == 0 ? 0 : devices[pick(devices.size())]; };
    auto buffer = [&](Guarded<128>& g) -> void* { return pick(8) == 0 ? nullptr : g.data(); };
    auto integer = [&](Guarded<8>& g) -> int* { return pick(8) == 0 ? nullptr : reinterpret_cast<int*>(g.data()); };
    const HRESULT kFaults[] = {E_FAIL, S_FALSE, 2, wia::kWiaErrorOffline, E_OUTOFMEMORY};

    // The statuses of the camera contents functions, nested or not.
    std::set<int> seen;
    auto note = [&seen](int status) {
        seen.insert(status);
        return status;
    };
    // The host's message handlers: while one of the functions that keep their ground under them
    // (the camera contents, the enumeration, the whole-device transfer, a wait for events) waits
    // for the camera, now and then another call runs, which may list, read, open, close or give
    // back what the outer call is using, or wait for events itself.
    bool handlers = false, inHandler = false;
    long nested = 0;
    camera.onCall = [&](Op) {
        if (!handlers || inHandler || pick(25) != 0) return;
        inHandler = true;
        ++nested;
        switch (pick(9)) {
        case 8: {
            // Inside a wait (or its registration) another wait is refused.
            int kind = 0;
            note(lib.WaitForCameraEvent(static_cast<int>(pick(2)), &kind, nullptr, 0, nullptr, 0));
            break;
        }
        case 0: {
            int n = 0;
            note(lib.ListCameraItems(pick(3) == 0 && !items.empty() ? items[pick(items.size())] : device(), &n));
            break;
        }
        case 1: {
            wchar_t t[64];
            note(lib.GetCameraItemText(device(), pick(5), 1 + pick(3), t, sizeof t));
            break;
        }
        case 2: {
            FOTEX_ITEM opened = 0;
            if (items.size() < 8 && note(lib.OpenCameraItem(device(), pick(5), &opened)) == 1) items.push_back(opened);
            break;
        }
        case 3:
            if (!devices.empty()) {
                const size_t k = pick(devices.size());
                lib.CloseWiaDevice(&devices[k]);
                devices.erase(devices.begin() + k);
            }
            break;
        case 4:
            if (!items.empty()) {
                const size_t k = pick(items.size());
                lib.ReleaseCameraItem(&items[k]);
                items.erase(items.begin() + k);
            }
            break;
        case 5: {
            int n = 0;
            lib.EnumerateWiaDevices(&n);
            break;
        }
        case 6:
            if (!items.empty())
                note(lib.SaveCameraItem(items[pick(items.size())], (std::wstring(dir.begin(), dir.end()) + L"\\nested.jpg").c_str(),
                                        pick(2) ? FOTEX_FORMAT_JPEG : FOTEX_FORMAT_PNG, pick(2) | FOTEX_SAVE_REPLACE));
            break;
        default: {
            FOTEX_ITEM found = 0;
            if (items.size() < 8 && note(lib.FindCameraItem(device(), L"dev-0\\Root\\DCIM", &found)) == 1) items.push_back(found);
            break;
        }
        }
        inHandler = false;
    };

    long call = 0;
    for (; call < total && !HasFatalFailure(); ++call) {
        const int r = pick(1000);
        if (r < 15) {
            handlers = true;
            lib.EnumerateWiaDevices(integer(x));
            handlers = false;
        } else if (r < 50) {
            lib.GetWiaDeviceInfo(index(), buffer(a), buffer(b), buffer(c));
        } else if (r < 80) {
            if (devices.size() >= 4) lib.CloseWiaDevice(&devices[0]), devices.erase(devices.begin());
            FOTEX_DEVICE opened = 0;
            if (lib.OpenWiaDevice(index(), pick(8) == 0 ? nullptr : &opened) == 1 && opened != 0) devices.push_back(opened);
        } else if (r < 110) {
            // A close of a variable already cleared, of a null pointer, or of an open handle.
            FOTEX_DEVICE cleared = 0;
            if (!devices.empty() && pick(2)) {
                const size_t i = pick(devices.size());
                lib.CloseWiaDevice(&devices[i]);
                lib.CloseWiaDevice(&devices[i]);
                devices.erase(devices.begin() + i);
            } else {
                lib.CloseWiaDevice(pick(2) ? &cleared : nullptr);
            }
        } else if (r < 130) {
            FOTEX_ITEM item = 0;
            lib.TakeAPicture(device(), items.size() < 8 && pick(8) != 0 ? &item : nullptr);
            if (item != 0) items.push_back(item);
        } else if (r < 135) {
            lib.DeleteAll(device());
        } else if (r < 165) {
            lib.EnumDeviceCap(device(), integer(x), integer(y));
        } else if (r < 195) {
            lib.GetStorageInfo(device(), integer(x), integer(y));
        } else if (r < 205) {
            FOTEX_ITEM item = 0;
            if (!items.empty() && pick(4) != 0) item = items.back(), items.pop_back();
            const std::string folder = dir + "\\";
            name.Fill(0);
            std::memcpy(name.chars(), folder.data(), folder.size());
            text(name.chars() + folder.size(), 300);
            lib.TransferPicture(item, pick(10) == 0 ? nullptr : name.chars(), code(), flag());
        } else if (r < 207) {
            char prefix[160];
            text(prefix, 150);
            handlers = true;
            lib.TransferAllImages(device(), dir.c_str(), prefix, code(), flag());
            handlers = false;
        } else if (r < 210) {
            lib.ImageTransferDialog(static_cast<FOTEX_HANDLE>(rng()), device());
        } else if (r < 215) {
            lib.VexaVersionInfo(a.chars(), pick(2) ? b.chars() : nullptr, pick(2) ? c.chars() : nullptr);
        } else if (r < 300) {
            // The camera contents functions, with byte counts no larger than the real buffers.
            const int kBytes[] = {0, 1, 2, 3, 16, 64, 127, 128, -1, INT_MIN};
            const int what = pick(7) - 1;
            FOTEX_ITEM item = items.empty() || pick(8) == 0 ? 0 : items[pick(items.size())];
            wchar_t wide[320];
            const std::string folder = dir + "\\";
            char tail[160];
            text(tail, 150);
            // Through the code page, so that the folder's clean-up finds the file by its ANSI name.
            MultiByteToWideChar(CP_ACP, 0, (folder + tail).c_str(), -1, wide, 320);
            const int flags[] = {0, 1, 2, 3, 4, -1};
            handlers = true;
            switch (r % 10) {
            case 0: {
                // A device, or any item handle (a folder among them).
                const FOTEX_HANDLE listed = pick(4) == 0 && !items.empty() ? items[pick(items.size())] : device();
                note(lib.ListCameraItems(listed, integer(x)));
                break;
            }
            case 1:
                if (pick(3) == 0) note(lib.GetItemText(item, what, buffer(a), kBytes[pick(10)]));
                else note(lib.GetCameraItemText(device(), index(), what, buffer(a), kBytes[pick(10)]));
                break;
            case 2:
                if (pick(3) == 0) note(lib.GetItemValue(item, what, integer(x)));
                else note(lib.GetCameraItemValue(device(), index(), what, integer(x)));
                break;
            case 3: {
                FOTEX_ITEM opened = 0;
                if (note(lib.OpenCameraItem(device(), index(), items.size() < 8 && pick(8) != 0 ? &opened : nullptr)) == 1)
                    items.push_back(opened);
                break;
            }
            case 4: {
                const wchar_t* names[] = {L"dev-0\\Root\\DCIM\\IMG_0001", L"dev-1\\Root\\DCIM", L"", nullptr, wide,
                                          L"dev-0\\Root\\DCIM"};
                FOTEX_ITEM found = 0;
                if (note(lib.FindCameraItem(device(), names[pick(6)], items.size() < 8 && pick(8) != 0 ? &found : nullptr)) == 1)
                    items.push_back(found);
                break;
            }
            case 5: {
                // No routine, one that goes on, or one that cancels.
                int answer = pick(2);
                const FOTEX_PROGRESS progress = pick(3) == 0 ? nullptr : &AnswerReport;
                if (pick(2)) note(lib.SaveCameraItem(item, pick(10) == 0 ? nullptr : wide, code(), flags[pick(6)]));
                else note(lib.SaveCameraItemWithProgress(item, pick(10) == 0 ? nullptr : wide, pick(4) ? code() : FOTEX_FORMAT_NATIVE,
                                                         flags[pick(6)], progress, &answer));
                break;
            }
            case 6:
                if (pick(2)) note(lib.SaveCameraThumbnail(item, pick(10) == 0 ? nullptr : wide, flags[pick(6)]));
                else note(lib.ReadCameraThumbnail(item, buffer(a), kBytes[pick(10)], integer(x)));
                break;
            case 7: {
                int answer = pick(2);
                if (pick(2)) note(lib.DeleteCameraItem(item));
                else note(lib.ReadCameraItem(item, pick(4) ? code() : FOTEX_FORMAT_NATIVE, buffer(a), kBytes[pick(10)], integer(x),
                                             pick(3) == 0 ? nullptr : &AnswerReport, &answer));
                break;
            }
            case 8:
                if (!items.empty() && pick(2)) {
                    const size_t i = pick(items.size());
                    lib.ReleaseCameraItem(&items[i]);
                    lib.ReleaseCameraItem(&items[i]);
                    items.erase(items.begin() + i);
                } else {
                    FOTEX_ITEM cleared = 0;
                    lib.ReleaseCameraItem(pick(2) ? &cleared : nullptr);
                }
                break;
            default: lib.DescribeStatus(pick(2) ? static_cast<int>(rng()) : kFaults[pick(5)], buffer(a), kBytes[pick(10)]); break;
            }
            handlers = false;
        } else if (r < 310) {
            // The driver misbehaves for a while, or the camera is unplugged or plugged back.
            if (pick(4) == 0) camera.devices[pick(2)].offline ^= true;
            else camera.FailOn(static_cast<Op>(pick(fotexsim::kOpCount)), kFaults[pick(5)], 1 + pick(3), 1 + pick(3));
            camera.SetDirtyFailures(pick(2) == 0);
        } else if (r < 330) {
            const int ids[] = {2056, 2079, 2062, 2091, 2050, 9999, 0, -1, static_cast<int>(rng())};
            const int capacities[] = {0, 1, 3, 8, -1, INT_MIN};
            const int capacity = capacities[pick(6)];
            int* values = pick(6) == 0 ? nullptr : reinterpret_cast<int*>(list.data());
            lib.GetSettingChoices(device(), ids[pick(9)], integer(x), integer(y), pick(4) ? integer(x) : nullptr, values,
                                  capacity, integer(y));
        } else if (r < 340) {
            // The settings by id and their names, with sizes no larger than the real buffers.
            const int ids[] = {2056, 2055, 2054, 2053, 2079, 2062, 2064, 2091, 2050, 9999, 0, -1, static_cast<int>(rng())};
            const int kBytes[] = {0, 1, 2, 3, 16, 64, 127, 128, -1, INT_MIN};
            const int id = ids[pick(13)];
            const int number = pick(2) ? static_cast<int>(rng()) : pick(12) - 2;
            const wchar_t* names[] = {L"Auto", L"red-EYE fill", L"f/2.8", L"f/", L"", nullptr};
            wchar_t sent[310];
            char narrow[310];
            text(narrow, 300);
            MultiByteToWideChar(CP_ACP, 0, narrow, -1, sent, 310);
            switch (r % 7) {
            case 0: lib.GetSetting(device(), id, integer(x)); break;
            case 1: lib.SetSetting(device(), id, number); break;
            case 2: lib.GetSettingText(device(), id, buffer(a), kBytes[pick(10)]); break;
            case 3: lib.SetSettingText(device(), id, pick(8) == 0 ? nullptr : sent); break;
            case 4: lib.DescribeSetting(pick(2) ? id : static_cast<int>(rng() % 7000), buffer(a), kBytes[pick(10)]); break;
            case 5: lib.DescribeSettingValue(id, number, buffer(a), kBytes[pick(10)]); break;
            default: lib.FindSettingValue(id, pick(3) ? names[pick(6)] : sent, integer(x)); break;
            }
        } else if (r < 350) {
            const int sizes[] = {-5, 0, 1, 2, 7, 40, 128, 512};
            handlers = true;
            lib.WaitForCameraEvent(pick(20) == 0 ? 1 : pick(20) == 0 ? -2 : 0, integer(x), pick(8) ? event.data() : nullptr,
                                   sizes[pick(8)], pick(8) ? eventName.data() : nullptr, sizes[pick(8)]);
            handlers = false;
        } else if (r < 353) {
            lib.StopCameraEvents();
        } else if (r < 358) {
            // Saving what the camera cannot give, on a device opened for it: a folder, or an item
            // (offered from now on as JPEG alone) in another format.
            const size_t which = static_cast<size_t>(pick(2));
            fotexsim::Device& d = camera.devices[which];
            std::vector<fotexsim::Item*> present = camera.ItemsOf(d);
            std::wstring name = FullItemName(d, *d.root);  // a folder too
            if (pick(3) != 0 && !present.empty()) {
                fotexsim::Item* picked = present[pick(present.size())];
                picked->formats = {wia::WiaImgFmt_JPEG};
                name = FullItemName(d, *picked);
            }
            const std::wstring target = std::wstring(dir.begin(), dir.end()) + L"\\refusal";
            FOTEX_DEVICE own = 0;
            FOTEX_ITEM found = 0;
            handlers = true;
            if (lib.OpenWiaDevice(static_cast<int>(which), &own) == 1 && own != 0 &&
                note(lib.FindCameraItem(own, name.c_str(), &found)) == 1) {
                if (pick(3) != 0)
                    note(lib.SaveCameraItem(found, target.c_str(), pick(2) ? pick(3) : code(), pick(4)));
                else
                    note(lib.SaveCameraThumbnail(found, target.c_str(), pick(2) * FOTEX_SAVE_REPLACE));
                lib.ReleaseCameraItem(&found);
            }
            lib.CloseWiaDevice(&own);
            handlers = false;
        } else if (r < 363) {
            // The camera's own button, and its cable.
            const size_t which = static_cast<size_t>(pick(3));  // 2: no such camera
            switch (pick(3)) {
            case 0: camera.PressShutter(which); break;
            case 1: camera.Unplug(which); break;
            default: camera.PlugIn(which); break;
            }
        } else {
            const PropertyExport& p = kProperties[pick(sizeof kProperties / sizeof kProperties[0])];
            void* f = lib.Symbol(p.name);
            char sent[310];
            text(sent, 300);
            switch (p.shape) {
            case 0: reinterpret_cast<IntGetter>(f)(device(), integer(x)); break;
            case 1: reinterpret_cast<IntSetter>(f)(device(), static_cast<int>(rng())); break;
            case 2: reinterpret_cast<TextGetter>(f)(device(), buffer(a)); break;
            default: reinterpret_cast<TextSetter>(f)(device(), pick(8) == 0 ? nullptr : sent); break;
            }
        }
        if (!(a.GuardsIntact() && b.GuardsIntact() && c.GuardsIntact() && x.GuardsIntact() && y.GuardsIntact() &&
              name.GuardsIntact() && event.GuardsIntact() && eventName.GuardsIntact() && list.GuardsIntact()))
            FAIL() << "write out of bounds at call " << call << ", seed " << seed << " (choice " << r << ")";
        if (call % 4096 == 0) {
            Output();
            Boxes().clear();
            ClearFolder();
        }
    }

    camera.onCall = nullptr;
    camera.ClearFaults();
    lib.StopCameraEvents();
    for (FOTEX_DEVICE& d : devices) lib.CloseWiaDevice(&d);
    for (FOTEX_ITEM& item : items) lib.ReleaseCameraItem(&item);
    EXPECT_TRUE(Ledger(0)) << "seed " << seed;
    EXPECT_TRUE(mark.Balanced()) << "seed " << seed;
    Output();
    Report("bad input: " + std::to_string(call) + " calls across 108 exports, " + std::to_string(nested) +
           " of them from a handler inside another, seed " + std::to_string(seed));
    // The refusals of the save functions came up among them.
    std::string statuses;
    for (int status : seen) statuses += " " + Hex8(static_cast<HRESULT>(status));
    if (total >= 100000) {
        EXPECT_EQ(1u, seen.count(FOTEX_E_FOLDER)) << "seed " << seed << ", statuses seen:" << statuses;
        EXPECT_EQ(1u, seen.count(FOTEX_E_FORMAT)) << "seed " << seed << ", statuses seen:" << statuses;
        EXPECT_EQ(1u, seen.count(FOTEX_E_BUSY)) << "seed " << seed << ", statuses seen:" << statuses;
    }
}

// ---- lifetime --------------------------------------------------------------------------------

TEST_F(ReliabilityTest, DeviceUnpluggedBetweenEnumerationAndOpenGivesNoHandle) {
    FreshCamera(2);
    Enumerate(2);
    camera.devices[0].present = false;  // detached, still listed by the service
    camera.devices.pop_back();          // gone from the service altogether
    for (int index : {0, 1}) {
        FOTEX_DEVICE device = kUnset;
        EXPECT_EQ(1, lib.OpenWiaDevice(index, &device)) << "index " << index;
        EXPECT_EQ(0, device) << "index " << index;
    }
    EXPECT_EQ("", Output());
    EXPECT_TRUE(Ledger(0));
}

TEST_F(ReliabilityTest, HandleOfAnUnpluggedCameraWorksAgainOncePluggedBack) {
    FreshCamera(1);
    Enumerate(1);
    FOTEX_DEVICE device = Open();
    int flash = kUnset;
    camera.devices[0].offline = true;
    EXPECT_EQ(-2, lib.GetStorageInfo(device, &flash, &flash));
    camera.devices[0].offline = false;
    EXPECT_EQ(1, reinterpret_cast<IntGetter>(lib.Symbol("GetFlashMode"))(device, &flash));
    lib.CloseWiaDevice(&device);
    EXPECT_TRUE(Ledger(0));
}

// Unloaded with a handle left open whose device was opened again: the root that replaced the
// handle's goes with the library, the handle's own stays the host's.
TEST_F(ReliabilityTest, UnloadWithAReconnectedHandleLeftOpenReleasesTheRootThatReplacedIt) {
    FreshCamera(1);
    Reload();
    const size_t strings = g_balance.made.size();
    Enumerate(1);
    FOTEX_DEVICE device = Open();
    ASSERT_TRUE(camera.Unplug(0));
    ASSERT_TRUE(camera.SetCondition(0, fotexsim::Camera::Condition::PlugInAnew, 0));
    int flash = kUnset;
    ASSERT_EQ(1, reinterpret_cast<IntGetter>(lib.Symbol("GetFlashMode"))(device, &flash));
    ASSERT_NE(std::string::npos, Output().find("its device was opened again"));
    lib.Unload();
    ASSERT_EQ(nullptr, GetModuleHandleW(L"Fotex.dll"));
    EXPECT_TRUE(Ledger(1)) << "the handle's root alone";
    EXPECT_EQ(strings, g_balance.made.size()) << "its id went with the library";
    reinterpret_cast<IUnknown*>(device)->Release();
    EXPECT_TRUE(Ledger(0));
    ASSERT_TRUE(lib.Load());
}

TEST_F(ReliabilityTest, LoadedAndUnloadedRepeatedlyWithHandlesLeftOpenStaysFlat) {
    FreshCamera(1);
    camera.SetLogging(false);
    const long kLoads = EnvCount("FOTEX_RELOADS", 1000);
    Footprint warm;
    for (long i = 0; i < kLoads; ++i) {
        if (i == kLoads / 10) warm = Footprint::Now();
        Reload();
        int count = 0;
        ASSERT_EQ(1, lib.EnumerateWiaDevices(&count)) << "load " << i;
        FOTEX_DEVICE device = 0;
        ASSERT_EQ(1, lib.OpenWiaDevice(0, &device)) << "load " << i;
        FOTEX_ITEM item = 0;
        lib.TakeAPicture(device, &item);
        ASSERT_NE(0, item) << "load " << i;
        lib.DeleteAll(device);  // the camera keeps no picture per load, so its memory is flat too
        ASSERT_EQ(0, lib.WaitForCameraEvent(0, nullptr, nullptr, 0, nullptr, 0)) << "load " << i;
        lib.Unload();  // still registered for events, which keeps the module until they stop
        ASSERT_NE(nullptr, GetModuleHandleW(L"Fotex.dll")) << "load " << i;
        ASSERT_EQ(5, camera.EventRegistrations()) << "load " << i;
        ASSERT_TRUE(lib.Load());
        lib.StopCameraEvents();
        lib.Unload();
        ASSERT_EQ(nullptr, GetModuleHandleW(L"Fotex.dll")) << "load " << i;
        ASSERT_EQ(0, camera.EventRegistrations()) << "load " << i;
        // The host still owns both references after the library is gone.
        ASSERT_TRUE(Ledger(2)) << "load " << i;
        reinterpret_cast<IUnknown*>(item)->Release();
        reinterpret_cast<IUnknown*>(device)->Release();
    }
    // What the library kept for each device left open (its id, for reconnecting) went with it.
    EXPECT_EQ(0u, g_balance.made.size()) << "strings of the DLL live after its unloads";
    const Footprint end = Footprint::Now();
    ASSERT_TRUE(lib.Load());
    EXPECT_LE(end.handles, warm.handles + 4) << "handles";
    EXPECT_LT(end.privateBytes, warm.privateBytes + (256u << 10)) << "private bytes " << warm.privateBytes << " -> " << end.privateBytes;
    Report("lifetime: " + std::to_string(kLoads) + " loads and unloads (FOTEX_RELOADS), handles " + std::to_string(warm.handles) + " -> " +
           std::to_string(end.handles) + ", private KiB " + std::to_string(warm.privateBytes >> 10) + " -> " +
           std::to_string(end.privateBytes >> 10));
}

TEST_F(ReliabilityTest, LongCaptureTransferDeleteCycleKeepsHandlesAndMemoryFlat) {
    const long cycles = EnvCount("FOTEX_SOAK_CYCLES", 10000);
    FreshCamera(1);
    camera.SetLogging(false);
    Enumerate(1);
    FOTEX_DEVICE device = Open();
    BalanceMark mark(camera);
    const std::string base = dir + "\\soak";
    Footprint warm;
    long transferred = 0;
    for (long i = 0; i < cycles; ++i) {
        if (i == cycles / 10) warm = Footprint::Now();
        FOTEX_ITEM item = 0;
        lib.TakeAPicture(device, &item);
        ASSERT_NE(0, item) << "cycle " << i;
        char name[MAX_PATH];
        std::snprintf(name, sizeof name, "%s", base.c_str());
        lib.TransferPicture(item, name, 0, 1);
        if (DeleteFileA(name)) ++transferred;
        int taken = 0, remaining = 0;
        ASSERT_EQ(1, lib.GetStorageInfo(device, &taken, &remaining)) << "cycle " << i;
    }
    const Footprint end = Footprint::Now();
    EXPECT_EQ(cycles, transferred);
    EXPECT_EQ(4, Media()) << "every new picture was deleted after its transfer";
    EXPECT_EQ("", Output());
    EXPECT_TRUE(Ledger(1));
    lib.CloseWiaDevice(&device);  // its id, kept for reconnecting, goes with it
    EXPECT_TRUE(mark.Balanced());
    EXPECT_LE(end.handles, warm.handles + 4) << "handles";
    EXPECT_LT(end.privateBytes, warm.privateBytes + (256u << 10)) << "private bytes " << warm.privateBytes << " -> " << end.privateBytes;
    Report("soak: " + std::to_string(cycles) + " capture-transfer-delete cycles (FOTEX_SOAK_CYCLES), handles " +
           std::to_string(warm.handles) + " -> " + std::to_string(end.handles) + ", private KiB " +
           std::to_string(warm.privateBytes >> 10) + " -> " + std::to_string(end.privateBytes >> 10));
}

// ---- allocations that fail -------------------------------------------------------------------

BSTR WINAPI FailSysAllocString(const OLECHAR*) { return nullptr; }

// Each export that hands the service a string of its own fails cleanly without it: no call with
// a null string, the documented status, nothing leaked.
TEST_F(ReliabilityTest, StringsThatCannotBeMadeFailTheirCallsCleanly) {
    FreshCamera(1);
    Enumerate(1);
    FOTEX_DEVICE device = Open();
    camera.ClearLog();
    fotextest::PatchImport(lib.module(), "oleaut32.dll", "SysAllocString", reinterpret_cast<void*>(&FailSysAllocString));

    FOTEX_DEVICE other = kUnset;
    EXPECT_EQ(1, lib.OpenWiaDevice(0, &other));  // asked, but no device could be named
    EXPECT_EQ(0, other);
    EXPECT_EQ(-1, reinterpret_cast<TextSetter>(lib.Symbol("SetArtist"))(device, "Ann"));
    EXPECT_EQ(static_cast<int>(E_OUTOFMEMORY), lib.SetSettingText(device, 2091, L"Ann"));
    EXPECT_EQ(1, lib.ImageTransferDialog(0, device));
    EXPECT_EQ(Box("Open UI error: " + Hex8(E_OUTOFMEMORY) + "\n"), BoxesSeen());
    EXPECT_EQ(0, camera.Calls(Op::CreateDevice) + camera.Calls(Op::WriteMultiple) + camera.Calls(Op::GetImageDlg));
    EXPECT_EQ("", Output());

    CountStrings(lib);
    lib.CloseWiaDevice(&device);
    EXPECT_TRUE(Ledger(0));
}

// ---- a driver whose enumerator never ends ----------------------------------------------------

TEST_F(ReliabilityTest, WalkStopsAtAMillionItemsInOneFolderWhenTheEnumeratorNeverEnds) {
    FreshCamera(1);
    camera.SetLogging(false);
    fotexsim::Item& loop = camera.devices[0].root->Add(L"Loop", wia::kItemTypeFolder);
    loop.Add(L"Sound", wia::kItemTypeAudio);
    loop.endless = true;
    // The video gives a still in BMP too, so that one format code takes the walk past DCIM.
    for (fotexsim::Item* item : camera.ItemsOf(camera.devices[0]))
        if (item->type & wia::kItemTypeVideo) item->formats = {wia::WiaImgFmt_AVI, wia::WiaImgFmt_BMP};
    Enumerate(1);
    FOTEX_DEVICE device = Open();
    lib.TransferAllImages(device, dir.c_str(), "img", 0, 0);
    EXPECT_EQ("Too many items in one folder: HRESULT: 0x8000000B\n", Output());
    EXPECT_EQ(4, Files()) << "the folders before the endless one are transferred";
    lib.CloseWiaDevice(&device);
    EXPECT_TRUE(Ledger(0));
}

}  // namespace

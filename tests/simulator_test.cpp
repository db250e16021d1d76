// The virtual camera on its own, driven through its COM interfaces the way a client of the real
// service drives it. Its own test program: links fotexsim and gtest_main (or a main that joins an
// apartment); the fixture joins one itself for the registration tests.
#include <gtest/gtest.h>

#include <windows.h>
#include <objbase.h>
#include <winioctl.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "com.h"
#include "fixture.h"
#include "fotexsim.h"
#include "wia_ids.h"

namespace {

using fotex::ComPtr;
using fotex::PropSpecById;
using fotex::PropVariants;
using fotexsim::Camera;
using fotexsim::Device;
using fotexsim::Item;
using fotexsim::Op;
using fotexsim::Value;
namespace wia = fotex::wia;

constexpr HRESULT kSentinelHr = static_cast<HRESULT>(0x8BADF00D);
constexpr HRESULT kItemDeleted = static_cast<HRESULT>(0x80210009);
constexpr HRESULT kNoDevice = static_cast<HRESULT>(0x80210015);
const std::wstring kCameraId = L"{6BDD1FC6-810F-11D0-BEC7-08002BE2092F}\\0000";

template <class T>
T* Sentinel() {
    return reinterpret_cast<T*>(static_cast<uintptr_t>(0xDEADBEEF));
}

std::vector<unsigned char> ReadFileBytes(const std::wstring& path) {
    std::vector<unsigned char> bytes;
    FILE* f = _wfopen(path.c_str(), L"rb");
    if (!f) return bytes;
    unsigned char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, f)) > 0) bytes.insert(bytes.end(), buf, buf + n);
    fclose(f);
    return bytes;
}

std::wstring TempPath(const wchar_t* name) {
    wchar_t dir[MAX_PATH];
    GetTempPathW(MAX_PATH, dir);
    return std::wstring(dir) + L"fotexsim_" + name;
}

class SimulatorTest : public ::testing::Test {
protected:
    void SetUp() override { CoInitialize(nullptr); }
    void TearDown() override {
        // Every test releases what it obtained: nothing of the camera may stay alive.
        EXPECT_EQ(camera.LiveReferences(), 0) << camera.Describe();
        camera.Revoke();
        CoUninitialize();
    }

    ComPtr<IWiaDevMgr> Manager() {
        ComPtr<IWiaDevMgr> mgr;
        if (!registered_) {
            EXPECT_EQ(camera.Register(), S_OK);
            registered_ = true;
        }
        EXPECT_EQ(CoCreateInstance(wia::CLSID_WiaDevMgr, nullptr, CLSCTX_LOCAL_SERVER,
                                   wia::IID_IWiaDevMgr, mgr.put_void()),
                  S_OK);
        return mgr;
    }

    ComPtr<IWiaItem> Open(const std::wstring& id = kCameraId) {
        ComPtr<IWiaDevMgr> mgr = Manager();
        ComPtr<IWiaItem> root;
        fotex::Bstr bid(id.c_str());
        EXPECT_EQ(mgr->CreateDevice(bid.get(), root.put()), S_OK);
        return root;
    }

    ComPtr<IWiaPropertyStorage> Storage(IWiaItem* item) {
        ComPtr<IWiaPropertyStorage> s;
        EXPECT_EQ(item->QueryInterface(wia::IID_IWiaPropertyStorage, s.put_void()), S_OK);
        return s;
    }

    // The first child of `parent`, or null.
    ComPtr<IWiaItem> FirstChild(IWiaItem* parent) {
        ComPtr<IEnumWiaItem> e;
        ComPtr<IWiaItem> child;
        if (parent->EnumChildItems(e.put()) == S_OK) e->Next(1, child.put(), nullptr);
        return child;
    }

    // The first picture of the standard camera: Root / DCIM / IMG_0001.
    ComPtr<IWiaItem> FirstPicture(IWiaItem* root) {
        ComPtr<IWiaItem> dcim = FirstChild(root);
        return dcim ? FirstChild(dcim.get()) : ComPtr<IWiaItem>();
    }

    HRESULT SetFormatAndMedium(IWiaItem* item, const GUID& format, LONG tymed = TYMED_FILE) {
        ComPtr<IWiaPropertyStorage> s = Storage(item);
        PROPSPEC specs[2] = {PropSpecById(wia::kIpaFormat), PropSpecById(wia::kIpaTymed)};
        PROPVARIANT values[2];
        PropVariantInit(&values[0]);
        PropVariantInit(&values[1]);
        GUID g = format;
        values[0].vt = VT_CLSID;
        values[0].puuid = &g;
        values[1].vt = VT_I4;
        values[1].lVal = tymed;
        return s->WriteMultiple(2, specs, values, wia::kIpaFirst);
    }

    HRESULT Transfer(IWiaItem* item, const std::wstring& path, DWORD record = TYMED_FILE) {
        ComPtr<IWiaDataTransfer> t;
        HRESULT hr = item->QueryInterface(wia::IID_IWiaDataTransfer, t.put_void());
        if (FAILED(hr)) return hr;
        STGMEDIUM medium{};
        medium.tymed = record;
        medium.lpszFileName = const_cast<LPOLESTR>(path.c_str());
        return t->idtGetData(&medium, nullptr);
    }

    Camera camera;
    bool registered_ = false;
};

class StandardCameraTest : public SimulatorTest {
protected:
    void SetUp() override {
        SimulatorTest::SetUp();
        camera.AddStandardCamera(kCameraId, L"Test Camera", L"A camera for tests", 3);
    }
};

// --- scenario ----------------------------------------------------------------------------------

TEST_F(SimulatorTest, AddDeviceGivesRootWithCountersSettingsAndThreeCommands) {
    Device& d = camera.AddDevice(L"id", L"name", L"desc");
    ASSERT_TRUE(d.root);
    EXPECT_EQ(d.root->type, wia::kItemTypeRoot | wia::kItemTypeFolder | wia::kItemTypeDevice);
    EXPECT_EQ(d.root->props.at(wia::kDpcPicturesTaken).value.type, VT_I4);
    EXPECT_TRUE(d.root->props.at(wia::kDpcPicturesRemaining).readOnly);
    int settings = 0;
    for (const auto& [id, p] : d.root->props) settings += id >= 2052 && id <= 2092;
    EXPECT_EQ(settings, 37);
    for (PROPID text : {2088u, 2090u, 2091u, 2092u}) EXPECT_EQ(d.root->props.at(text).value.type, VT_BSTR) << text;
    for (PROPID ro : {2064u, 2065u, 2087u}) EXPECT_TRUE(d.root->props.at(ro).readOnly) << ro;
    ASSERT_EQ(d.capabilities.size(), 3u);
    EXPECT_EQ(d.capabilities[0].command, wia::WIA_CMD_TAKE_PICTURE);
    EXPECT_EQ(d.capabilities[1].command, wia::WIA_CMD_DELETE_ALL_ITEMS);
    EXPECT_EQ(d.capabilities[2].command, wia::WIA_CMD_SYNCHRONIZE);
    EXPECT_EQ(d.info.at(wia::kDipDevName).value, Value::Text(L"name"));
}

TEST_F(SimulatorTest, StandardCameraHoldsPicturesAndOneVideoInDcim) {
    Device& d = camera.AddStandardCamera(L"id", L"n", L"d", 2);
    std::vector<Item*> items = camera.ItemsOf(d);
    ASSERT_EQ(items.size(), 4u);
    EXPECT_EQ(items[0]->name, L"DCIM");
    EXPECT_EQ(items[1]->type & wia::kItemTypeImage, wia::kItemTypeImage);
    EXPECT_EQ(items[2]->parent, items[0]);
    EXPECT_EQ(items[3]->type & wia::kItemTypeVideo, wia::kItemTypeVideo);
}

TEST_F(SimulatorTest, DefaultScenarioListsTheVirtualCameraFirst) {
    camera.LoadDefaultScenario();
    ASSERT_GE(camera.devices.size(), 2u);
    EXPECT_EQ(camera.devices[0].name, L"Fotex Virtual Camera");
    EXPECT_EQ(camera.FindDevice(kCameraId), &camera.devices[0]);
    EXPECT_FALSE(camera.ItemsOf(camera.devices[0]).empty());
}

TEST_F(SimulatorTest, CurrentIsTheLiveCamera) { EXPECT_EQ(Camera::Current(), &camera); }

// --- registration and the factory --------------------------------------------------------------

TEST_F(SimulatorTest, RegisteredFactoryServesDeviceManager) {
    ComPtr<IWiaDevMgr> mgr = Manager();
    ASSERT_TRUE(mgr);
    EXPECT_EQ(camera.Calls(Op::CreateInstance), 1);
    EXPECT_EQ(camera.LiveReferences(), 1) << camera.Describe();
    EXPECT_EQ(camera.Register(), S_FALSE);  // once is enough
}

TEST_F(SimulatorTest, FactoryResultRefusesCreation) {
    camera.factoryResult = REGDB_E_CLASSNOTREG;
    ASSERT_EQ(camera.Register(), S_OK);
    IWiaDevMgr* mgr = Sentinel<IWiaDevMgr>();
    EXPECT_EQ(CoCreateInstance(wia::CLSID_WiaDevMgr, nullptr, CLSCTX_LOCAL_SERVER, wia::IID_IWiaDevMgr,
                               reinterpret_cast<void**>(&mgr)),
              REGDB_E_CLASSNOTREG);
    EXPECT_EQ(mgr, nullptr);
}

TEST_F(SimulatorTest, FaultOfSuccessOnCreationYieldsNoObject) {
    camera.FailOn(Op::CreateInstance, S_OK);
    ASSERT_EQ(camera.Register(), S_OK);
    IWiaDevMgr* mgr = Sentinel<IWiaDevMgr>();
    EXPECT_EQ(CoCreateInstance(wia::CLSID_WiaDevMgr, nullptr, CLSCTX_LOCAL_SERVER, wia::IID_IWiaDevMgr,
                               reinterpret_cast<void**>(&mgr)),
              S_OK);
    EXPECT_EQ(mgr, nullptr);
    EXPECT_EQ(camera.ObjectsCreated(), 0);
}

// --- device directory --------------------------------------------------------------------------

TEST_F(SimulatorTest, EnumerationYieldsEachDeviceThenFalse) {
    camera.AddDevice(L"id0", L"first", L"d0");
    camera.AddDevice(L"id1", L"second", L"d1");
    ComPtr<IWiaDevMgr> mgr = Manager();
    ComPtr<IEnumWIA_DEV_INFO> e;
    ASSERT_EQ(mgr->EnumDeviceInfo(wia::kDevInfoEnumLocal, e.put()), S_OK);
    EXPECT_EQ(camera.last.enumDeviceInfoFlag, wia::kDevInfoEnumLocal);
    ASSERT_EQ(e->Reset(), S_OK);
    ULONG count = 0;
    EXPECT_EQ(e->GetCount(&count), S_OK);
    EXPECT_EQ(count, 2u);
    std::vector<std::wstring> names;
    for (;;) {
        ComPtr<IWiaPropertyStorage> s;
        HRESULT hr = e->Next(1, s.put(), nullptr);
        if (hr != S_OK) {
            EXPECT_EQ(hr, S_FALSE);
            EXPECT_FALSE(s);
            break;
        }
        PROPSPEC specs[3] = {PropSpecById(wia::kDipDevId), PropSpecById(wia::kDipDevName),
                             PropSpecById(wia::kDipDevDesc)};
        PropVariants<3> v;
        ASSERT_EQ(s->ReadMultiple(3, specs, v.data()), S_OK);
        ASSERT_EQ(v[1].vt, VT_BSTR);
        // A real BSTR: its length prefix is right.
        EXPECT_EQ(SysStringLen(v[1].bstrVal), wcslen(v[1].bstrVal));
        names.push_back(v[1].bstrVal);
    }
    EXPECT_EQ(names, (std::vector<std::wstring>{L"first", L"second"}));
}

TEST_F(SimulatorTest, InfoStorageReadsAbsentAsEmptyAndAllAbsentAsFalse) {
    Device& d = camera.AddDevice(L"id", L"n", L"d");
    d.info.erase(wia::kDipDevDesc);
    ComPtr<IWiaDevMgr> mgr = Manager();
    ComPtr<IEnumWIA_DEV_INFO> e;
    ASSERT_EQ(mgr->EnumDeviceInfo(0, e.put()), S_OK);
    ComPtr<IWiaPropertyStorage> s;
    ASSERT_EQ(e->Next(1, s.put(), nullptr), S_OK);
    PROPSPEC specs[2] = {PropSpecById(wia::kDipDevId), PropSpecById(wia::kDipDevDesc)};
    PropVariants<2> v;
    EXPECT_EQ(s->ReadMultiple(2, specs, v.data()), S_OK);
    EXPECT_EQ(v[0].vt, VT_BSTR);
    EXPECT_EQ(v[1].vt, VT_EMPTY);
    PROPSPEC missing = PropSpecById(9999);
    PropVariants<1> none;
    EXPECT_EQ(s->ReadMultiple(1, &missing, none.data()), S_FALSE);
    EXPECT_EQ(none[0].vt, VT_EMPTY);
}

TEST_F(SimulatorTest, CreateDeviceFindsPresentDevicesOnly) {
    camera.AddDevice(L"here", L"n", L"d");
    camera.AddDevice(L"gone", L"n", L"d").present = false;
    ComPtr<IWiaDevMgr> mgr = Manager();
    struct Case {
        const wchar_t* id;
        HRESULT hr;
    } cases[] = {{L"here", S_OK}, {L"gone", kNoDevice}, {L"unknown", kNoDevice}};
    for (size_t i = 0; i < std::size(cases); ++i) {
        IWiaItem* root = Sentinel<IWiaItem>();
        fotex::Bstr id(cases[i].id);
        EXPECT_EQ(mgr->CreateDevice(id.get(), &root), cases[i].hr) << "case " << i;
        EXPECT_EQ(camera.last.createDeviceId, cases[i].id) << "case " << i;
        EXPECT_EQ(root != nullptr, cases[i].hr == S_OK) << "case " << i;
        if (root) {
            LONG type = 0;
            EXPECT_EQ(root->GetItemType(&type), S_OK);
            EXPECT_TRUE(type & wia::kItemTypeRoot);
            root->Release();
        }
    }
}

// --- item properties ---------------------------------------------------------------------------

TEST_F(StandardCameraTest, ItemFormatComesBackAsTaskMemoryGuid) {
    ComPtr<IWiaItem> root = Open();
    ComPtr<IWiaItem> pic = FirstPicture(root.get());
    ASSERT_TRUE(pic);
    ComPtr<IWiaPropertyStorage> s = Storage(pic.get());
    PROPSPEC specs[2] = {PropSpecById(wia::kIpaFormat), PropSpecById(wia::kIpaTymed)};
    PropVariants<2> v;
    ASSERT_EQ(s->ReadMultiple(2, specs, v.data()), S_OK);
    ASSERT_EQ(v[0].vt, VT_CLSID);
    EXPECT_EQ(*v[0].puuid, wia::WiaImgFmt_JPEG);
    // Task memory, as PropVariantClear frees it.
    ComPtr<IMalloc> malloc;
    ASSERT_EQ(CoGetMalloc(1, malloc.put()), S_OK);
    EXPECT_EQ(malloc->GetSize(v[0].puuid), sizeof(GUID));
    EXPECT_EQ(v[1].vt, VT_I4);
    EXPECT_EQ(v[1].lVal, TYMED_NULL);
}

TEST_F(StandardCameraTest, WriteIsRefusedWholeWhenOneEntryIsBad) {
    ComPtr<IWiaItem> root = Open();
    ComPtr<IWiaPropertyStorage> s = Storage(root.get());
    struct Case {
        PROPID id;
        VARTYPE vt;
        LONG value;
        HRESULT hr;
    } cases[] = {
        {2056, VT_I4, 2, S_OK},               // flash mode, allowed value
        {2056, VT_I4, 42, E_INVALIDARG},      // not among the allowed values
        {2060, VT_UI4, 1, E_INVALIDARG},      // wrong type
        {2065, VT_I4, 10, E_ACCESSDENIED},    // battery status is read-only
        {2079, VT_I4, 2, S_OK},               // sharpness, the top of its range
        {2079, VT_I4, 3, E_INVALIDARG},       // above the range
        {2066, VT_I4, 100, E_INVALIDARG},     // thumbnail width between the range's steps
        {2062, VT_I4, 3, S_OK},               // timer mode, both valid flags
        {2062, VT_I4, 4, E_INVALIDARG},       // a flag outside the mask
        {9999, VT_I4, 1, E_INVALIDARG},       // no such property
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        // Each bad entry rides along with a good one that must not be stored either.
        PROPSPEC specs[2] = {PropSpecById(2053), PropSpecById(cases[i].id)};
        PROPVARIANT v[2];
        PropVariantInit(&v[0]);
        PropVariantInit(&v[1]);
        v[0].vt = VT_I4;
        v[0].lVal = static_cast<LONG>(100 + i);
        v[1].vt = cases[i].vt;
        v[1].lVal = cases[i].value;
        EXPECT_EQ(s->WriteMultiple(2, specs, v, wia::kIpaFirst), cases[i].hr) << "case " << i;
        const Value& stored = camera.devices[0].root->props.at(2053).value;
        EXPECT_EQ(stored.i == static_cast<int32_t>(100 + i), cases[i].hr == S_OK) << "case " << i;
        EXPECT_EQ(camera.last.write.nameFirst, wia::kIpaFirst) << "case " << i;
        ASSERT_EQ(camera.last.write.values.size(), 2u) << "case " << i;
        EXPECT_EQ(camera.last.write.specs[1].propid, cases[i].id) << "case " << i;
    }
}

TEST_F(StandardCameraTest, TextWrittenIsReadBackAsNewBstr) {
    ComPtr<IWiaItem> root = Open();
    ComPtr<IWiaPropertyStorage> s = Storage(root.get());
    PROPSPEC selector = PropSpecById(2091);
    fotex::Bstr text(L"abc");
    PROPVARIANT in;
    PropVariantInit(&in);
    in.vt = VT_BSTR;
    in.bstrVal = text.get();
    ASSERT_EQ(s->WriteMultiple(1, &selector, &in, wia::kIpaFirst), S_OK);
    PropVariants<1> out;
    ASSERT_EQ(s->ReadMultiple(1, &selector, out.data()), S_OK);
    ASSERT_EQ(out[0].vt, VT_BSTR);
    EXPECT_NE(out[0].bstrVal, text.get());
    EXPECT_STREQ(out[0].bstrVal, L"abc");
    EXPECT_EQ(camera.last.read, std::vector<PROPID>{2091});
}

TEST_F(StandardCameraTest, FormatTheItemDoesNotAcceptIsRefused) {
    camera.ItemsOf(camera.devices[0])[1]->formats = {wia::WiaImgFmt_BMP};
    ComPtr<IWiaItem> root = Open();
    ComPtr<IWiaItem> pic = FirstPicture(root.get());
    EXPECT_EQ(SetFormatAndMedium(pic.get(), wia::WiaImgFmt_PNG), E_INVALIDARG);
    EXPECT_EQ(SetFormatAndMedium(pic.get(), wia::WiaImgFmt_BMP), S_OK);
}

// --- commands and capabilities -----------------------------------------------------------------

TEST_F(StandardCameraTest, TakePictureAddsImageToFirstFolderAndCounts) {
    ComPtr<IWiaItem> root = Open();
    ComPtr<IWiaItem> pic;
    ASSERT_EQ(root->DeviceCommand(0, &wia::WIA_CMD_TAKE_PICTURE, pic.put()), S_OK);
    ASSERT_TRUE(pic);
    EXPECT_TRUE(camera.last.command.itemOut);
    EXPECT_EQ(camera.last.command.command, wia::WIA_CMD_TAKE_PICTURE);
    LONG type = 0;
    EXPECT_EQ(pic->GetItemType(&type), S_OK);
    EXPECT_TRUE(type & wia::kItemTypeImage);
    const Device& d = camera.devices[0];
    EXPECT_EQ(d.root->children[0]->children.size(), 5u);  // 3 pictures, 1 video, the new one
    EXPECT_EQ(d.root->props.at(wia::kDpcPicturesTaken).value.i, 4);
    EXPECT_EQ(d.root->props.at(wia::kDpcPicturesRemaining).value.i, 496);
}

TEST_F(StandardCameraTest, DeleteAllRemovesImagesAndVideosButKeepsFolders) {
    ComPtr<IWiaItem> root = Open();
    IWiaItem* unused = Sentinel<IWiaItem>();
    ASSERT_EQ(root->DeviceCommand(0, &wia::WIA_CMD_DELETE_ALL_ITEMS, &unused), S_OK);
    EXPECT_EQ(unused, nullptr);
    std::vector<Item*> left = camera.ItemsOf(camera.devices[0]);
    ASSERT_EQ(left.size(), 1u);
    EXPECT_EQ(left[0]->name, L"DCIM");
}

TEST_F(StandardCameraTest, CommandsOutsideTheCapabilitiesAreRefused) {
    camera.devices[0].capabilities.resize(1);  // take picture only
    ComPtr<IWiaItem> root = Open();
    const GUID unknown = {0x12345678, 1, 2, {3, 4, 5, 6, 7, 8, 9, 10}};
    for (const GUID* cmd : {&wia::WIA_CMD_DELETE_ALL_ITEMS, &unknown}) {
        IWiaItem* out = Sentinel<IWiaItem>();
        EXPECT_EQ(root->DeviceCommand(0, cmd, &out), E_INVALIDARG);
        EXPECT_EQ(out, nullptr);
    }
    EXPECT_EQ(camera.ItemsOf(camera.devices[0]).size(), 5u);
}

TEST_F(StandardCameraTest, CapabilitiesEnumerateWithFreshStrings) {
    ComPtr<IWiaItem> root = Open();
    ComPtr<IEnumWIA_DEV_CAPS> e;
    ASSERT_EQ(root->EnumDeviceCapabilities(wia::kDeviceCommands, e.put()), S_OK);
    EXPECT_EQ(camera.last.capsFlag, wia::kDeviceCommands);
    ASSERT_EQ(e->Reset(), S_OK);
    ULONG count = 0;
    ASSERT_EQ(e->GetCount(&count), S_OK);
    ASSERT_EQ(count, 3u);
    for (ULONG i = 0; i < count; ++i) {
        WIA_DEV_CAP cap;
        ASSERT_EQ(e->Next(1, &cap, nullptr), S_OK) << i;
        EXPECT_EQ(cap.guid, camera.devices[0].capabilities[i].command) << i;
        EXPECT_EQ(SysStringLen(cap.bstrName), camera.devices[0].capabilities[i].name.size()) << i;
        SysFreeString(cap.bstrName);
        SysFreeString(cap.bstrDescription);
        SysFreeString(cap.bstrIcon);
        SysFreeString(cap.bstrCommandline);
    }
    WIA_DEV_CAP past;
    EXPECT_EQ(e->Next(1, &past, nullptr), S_FALSE);
}

// --- transfer ----------------------------------------------------------------------------------

TEST_F(StandardCameraTest, TransferWritesRealPictures) {
    struct Case {
        const GUID* format;
        const wchar_t* file;
        std::vector<unsigned char> magic;
    } cases[] = {
        {&wia::WiaImgFmt_BMP, L"t.bmp", {'B', 'M'}},
        {&wia::WiaImgFmt_PNG, L"t.png", {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A}},
        {&wia::WiaImgFmt_JPEG, L"t.jpg", {0xFF, 0xD8, 0xFF}},
    };
    ComPtr<IWiaItem> root = Open();
    ComPtr<IWiaItem> pic = FirstPicture(root.get());
    for (size_t i = 0; i < std::size(cases); ++i) {
        std::wstring path = TempPath(cases[i].file);
        DeleteFileW(path.c_str());
        ASSERT_EQ(SetFormatAndMedium(pic.get(), *cases[i].format), S_OK) << "case " << i;
        ASSERT_EQ(Transfer(pic.get(), path), S_OK) << "case " << i;
        EXPECT_EQ(camera.last.getData.fileName, path) << "case " << i;
        EXPECT_EQ(camera.last.getData.format, *cases[i].format) << "case " << i;
        EXPECT_EQ(camera.last.getData.tymed, static_cast<DWORD>(TYMED_FILE)) << "case " << i;
        std::vector<unsigned char> bytes = ReadFileBytes(path);
        ASSERT_GE(bytes.size(), cases[i].magic.size()) << "case " << i;
        EXPECT_TRUE(std::equal(cases[i].magic.begin(), cases[i].magic.end(), bytes.begin())) << "case " << i;
        EXPECT_GT(bytes.size(), 100u) << "case " << i;
        DeleteFileW(path.c_str());
    }
}

// As a real service's enumerator: up to celt items a call, S_OK with all of them, S_FALSE with
// fewer at the end (then none); more than one needs the count's address. Every item's
// WIA_IPA_ITEM_FLAGS (4101) is its type.
TEST_F(StandardCameraTest, ItemEnumeratorHandsOutSeveralAtOnceAndItemFlagsAreTheType) {
    ComPtr<IWiaItem> root = Open();
    ComPtr<IWiaItem> dcim = FirstChild(root.get());
    ComPtr<IEnumWiaItem> e;
    ASSERT_EQ(dcim->EnumChildItems(e.put()), S_OK);
    IWiaItem* got[3] = {};
    EXPECT_EQ(e->Next(3, got, nullptr), E_INVALIDARG);
    const struct {
        HRESULT hr;
        ULONG fetched;
    } steps[] = {{S_OK, 3}, {S_FALSE, 1}, {S_FALSE, 0}};  // IMG_0001 to 0003, then MOV_0001
    std::vector<ComPtr<IWiaItem>> items;
    for (size_t i = 0; i < std::size(steps); ++i) {
        ULONG fetched = 99;
        EXPECT_EQ(e->Next(3, got, &fetched), steps[i].hr) << "step " << i;
        ASSERT_EQ(fetched, steps[i].fetched) << "step " << i;
        for (ULONG n = 0; n < fetched; ++n) items.push_back(ComPtr<IWiaItem>::attach(got[n]));
    }
    items.push_back(std::move(root));
    items.push_back(std::move(dcim));
    const LONG types[] = {0x00000003, 0x00000003, 0x00000003, 0x00010002, 0, 0x00000004};  // image, file, video, folder
    for (size_t i = 0; i < items.size(); ++i) {
        LONG type = -1;
        ASSERT_EQ(items[i]->GetItemType(&type), S_OK) << "item " << i;
        if (types[i] != 0) {
            EXPECT_EQ(types[i], type & types[i]) << "item " << i;
        }
        ComPtr<IWiaPropertyStorage> storage;
        ASSERT_EQ(items[i]->QueryInterface(wia::IID_IWiaPropertyStorage, storage.put_void()), S_OK);
        PROPSPEC selector = PropSpecById(4101);
        PropVariants<1> flags;
        ASSERT_EQ(storage->ReadMultiple(1, &selector, flags.data()), S_OK) << "item " << i;
        EXPECT_EQ(flags[0].vt, VT_I4) << "item " << i;
        EXPECT_EQ(flags[0].lVal, type) << "item " << i;
    }
}

TEST_F(StandardCameraTest, VideoTransfersAsAnAviHoldingAJpegFrame) {
    ComPtr<IWiaItem> root = Open();
    ComPtr<IWiaItem> dcim = FirstChild(root.get());
    ComPtr<IEnumWiaItem> e;
    ASSERT_EQ(dcim->EnumChildItems(e.put()), S_OK);
    ASSERT_EQ(e->Skip(3), S_OK);
    ComPtr<IWiaItem> video;
    ASSERT_EQ(e->Next(1, video.put(), nullptr), S_OK);
    ASSERT_EQ(SetFormatAndMedium(video.get(), wia::WiaImgFmt_AVI), S_OK);
    std::wstring path = TempPath(L"v.avi");
    ASSERT_EQ(Transfer(video.get(), path), S_OK);
    const std::vector<unsigned char> bytes = ReadFileBytes(path);
    DeleteFileW(path.c_str());
    ASSERT_GT(bytes.size(), 12u);
    const std::string data(bytes.begin(), bytes.end());
    EXPECT_EQ(data.substr(0, 4), "RIFF");
    EXPECT_EQ(data.substr(8, 4), "AVI ");
    // The RIFF size covers the rest of the file exactly.
    const uint32_t riff = bytes[4] | bytes[5] << 8 | bytes[6] << 16 | static_cast<uint32_t>(bytes[7]) << 24;
    EXPECT_EQ(riff + 8u, bytes.size());
    for (const char* chunk : {"hdrl", "avih", "strl", "strh", "vids", "MJPG", "strf", "movi", "00dc", "idx1"})
        EXPECT_NE(data.find(chunk), std::string::npos) << chunk;
    const size_t frame = data.find("00dc");
    ASSERT_NE(frame, std::string::npos);
    EXPECT_EQ(data.substr(frame + 8, 2), "\xFF\xD8") << "the frame is a JPEG picture";
}

// A chunk's size counts its data only, never the pad byte that keeps an odd-sized chunk
// word-aligned, and the index gives the frame's size the same way. Several seeds and sizes, so
// that some frames have an odd length.
TEST_F(SimulatorTest, AviChunkSizesCountTheirDataWithoutThePadByte) {
    Device& d = camera.AddDevice(kCameraId, L"Test Camera", L"A camera for tests");
    constexpr int kVideos = 8;
    for (int i = 0; i < kVideos; ++i) {
        Item& v = d.root->Add(L"MVI_000" + std::to_wstring(i), wia::kItemTypeVideo | wia::kItemTypeFile);
        v.seed = 0x9E3779B9u * static_cast<uint32_t>(i + 1);
        v.width = 31 + i;
        v.height = 21 + i;
    }
    ComPtr<IWiaItem> root = Open();
    ComPtr<IEnumWiaItem> e;
    ASSERT_EQ(root->EnumChildItems(e.put()), S_OK);
    int odd = 0;
    for (int i = 0; i < kVideos; ++i) {
        ComPtr<IWiaItem> video;
        ASSERT_EQ(e->Next(1, video.put(), nullptr), S_OK) << i;
        ASSERT_EQ(SetFormatAndMedium(video.get(), wia::WiaImgFmt_AVI), S_OK) << i;
        const std::wstring path = TempPath(L"pad.avi");
        ASSERT_EQ(Transfer(video.get(), path), S_OK) << i;
        const std::vector<unsigned char> b = ReadFileBytes(path);
        DeleteFileW(path.c_str());
        const std::string data(b.begin(), b.end());
        auto u32 = [&b](size_t at) {
            return at + 4 <= b.size() ? b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<uint32_t>(b[at + 3]) << 24
                                      : 0xFFFFFFFFu;
        };
        const size_t movi = data.find("movi");
        ASSERT_NE(movi, std::string::npos) << i;
        const size_t frame = movi + 4;  // the movi list's first chunk
        ASSERT_EQ(data.substr(frame, 4), "00dc") << i;
        const size_t eoi = data.rfind("\xFF\xD9");
        ASSERT_NE(eoi, std::string::npos) << i;
        const uint32_t jpeg = static_cast<uint32_t>(eoi + 2 - (frame + 8));  // the frame up to its end marker
        odd += jpeg % 2;
        EXPECT_EQ(u32(frame + 4), jpeg) << i << ": the 00dc chunk's size";
        const size_t idx1 = data.find("idx1", frame + 8 + jpeg);
        ASSERT_NE(idx1, std::string::npos) << i;
        EXPECT_EQ(idx1, frame + 8 + jpeg + jpeg % 2) << i << ": the index follows the word-aligned frame";
        EXPECT_EQ(u32(idx1 + 8 + 12), jpeg) << i << ": the index's size of the frame";
    }
    EXPECT_GT(odd, 0) << "no frame of odd length: the pad byte was not tried";
}

// A picture offers the formats the camera encodes, a video its AVI, a folder nothing: any other
// format is refused when it is written, as a real service refuses it, and the old one stays.
TEST_F(StandardCameraTest, ItemsOfferOnlyTheFormatsTheyHave) {
    ComPtr<IWiaItem> root = Open();
    ComPtr<IWiaItem> dcim = FirstChild(root.get());
    ComPtr<IEnumWiaItem> e;
    ASSERT_EQ(dcim->EnumChildItems(e.put()), S_OK);
    ComPtr<IWiaItem> picture, video;
    ASSERT_EQ(e->Next(1, picture.put(), nullptr), S_OK);
    ASSERT_EQ(e->Skip(2), S_OK);
    ASSERT_EQ(e->Next(1, video.put(), nullptr), S_OK);
    const GUID* all[] = {&wia::WiaImgFmt_BMP,     &wia::WiaImgFmt_EMF,     &wia::WiaImgFmt_WMF,
                         &wia::WiaImgFmt_JPEG,    &wia::WiaImgFmt_PNG,     &wia::WiaImgFmt_GIF,
                         &wia::WiaImgFmt_TIFF,    &wia::WiaImgFmt_EXIF,    &wia::WiaImgFmt_PHOTOCD,
                         &wia::WiaImgFmt_FLASHPIX, &wia::WiaImgFmt_ICO,    &wia::WiaImgFmt_CIFF,
                         &wia::WiaImgFmt_PICT,    &wia::WiaImgFmt_JPEG2K,  &wia::WiaImgFmt_JPEG2KX,
                         &wia::WiaImgFmt_RAWRGB,  &wia::WiaImgFmt_AVI,     &wia::WiaImgFmt_MPG};
    const struct {
        const char* what;
        IWiaItem* item;
        GUID first;  // the format it starts with
        std::vector<GUID> offered;
    } cases[] = {
        {"picture", picture.get(), wia::WiaImgFmt_JPEG, {wia::WiaImgFmt_BMP, wia::WiaImgFmt_JPEG, wia::WiaImgFmt_PNG}},
        {"video", video.get(), wia::WiaImgFmt_AVI, {wia::WiaImgFmt_AVI}},
        {"folder", dcim.get(), wia::WiaImgFmt_JPEG, {}},
        {"root", root.get(), wia::WiaImgFmt_JPEG, {}},
    };
    for (const auto& c : cases) {
        ComPtr<IWiaPropertyStorage> s = Storage(c.item);
        PROPSPEC selector = PropSpecById(wia::kIpaFormat);
        GUID held = c.first;
        for (size_t i = 0; i < std::size(all); ++i) {
            const bool offered = std::find(c.offered.begin(), c.offered.end(), *all[i]) != c.offered.end();
            EXPECT_EQ(SetFormatAndMedium(c.item, *all[i]), offered ? S_OK : E_INVALIDARG) << c.what << ", format " << i;
            if (offered) held = *all[i];
            PropVariants<1> v;
            ASSERT_EQ(v.ReadFrom(s.get(), &selector), S_OK) << c.what;
            ASSERT_EQ(v[0].vt, VT_CLSID) << c.what;
            EXPECT_EQ(*v[0].puuid, held) << c.what << ", format " << i << ": a refused write changes nothing";
        }
    }
}

// Folders, the root among them, hold no data: they offer no transfer at all.
TEST_F(StandardCameraTest, FoldersOfferNoDataTransfer) {
    ComPtr<IWiaItem> root = Open();
    ComPtr<IWiaItem> dcim = FirstChild(root.get());
    ComPtr<IWiaItem> picture = FirstChild(dcim.get());
    const long before = camera.LiveReferences();
    for (IWiaItem* folder : {root.get(), dcim.get()}) {
        IWiaDataTransfer* t = Sentinel<IWiaDataTransfer>();
        EXPECT_EQ(folder->QueryInterface(wia::IID_IWiaDataTransfer, reinterpret_cast<void**>(&t)), E_NOINTERFACE);
        EXPECT_EQ(t, nullptr);
    }
    EXPECT_EQ(camera.LiveReferences(), before) << camera.Describe();
    ComPtr<IWiaDataTransfer> t;
    EXPECT_EQ(picture->QueryInterface(wia::IID_IWiaDataTransfer, t.put_void()), S_OK);
}

TEST_F(StandardCameraTest, TransferNeedsFileMediumAndName) {
    ComPtr<IWiaItem> root = Open();
    ComPtr<IWiaItem> pic = FirstPicture(root.get());
    std::wstring path = TempPath(L"never.jpg");
    EXPECT_EQ(Transfer(pic.get(), path), E_INVALIDARG);  // medium still TYMED_NULL
    ASSERT_EQ(SetFormatAndMedium(pic.get(), wia::WiaImgFmt_JPEG), S_OK);
    // The property alone is not enough: a record of another medium carries no file a service could use.
    for (DWORD record : {TYMED_NULL, TYMED_HGLOBAL, TYMED_ISTREAM})
        EXPECT_EQ(Transfer(pic.get(), path, record), E_INVALIDARG) << "record " << record;
    EXPECT_EQ(Transfer(pic.get(), L""), HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND));
    EXPECT_EQ(Transfer(pic.get(), L"C:\\no\\such\\folder\\x.jpg"), HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND));
    ComPtr<IWiaDataTransfer> t;
    ASSERT_EQ(pic->QueryInterface(wia::IID_IWiaDataTransfer, t.put_void()), S_OK);
    STGMEDIUM medium{};
    EXPECT_EQ(t->idtGetData(&medium, nullptr), E_INVALIDARG);
    EXPECT_TRUE(camera.last.getData.fileNameNull);
    EXPECT_EQ(GetFileAttributesW(path.c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST_F(StandardCameraTest, DeletedItemIsGoneAndRefusesFurtherCalls) {
    ComPtr<IWiaItem> root = Open();
    ComPtr<IWiaItem> pic = FirstPicture(root.get());
    ASSERT_EQ(pic->DeleteItem(0), S_OK);
    EXPECT_EQ(camera.last.deleteFlags, 0);
    EXPECT_EQ(camera.ItemsOf(camera.devices[0]).size(), 4u);
    EXPECT_EQ(camera.devices[0].root->children[0]->children.size(), 3u);
    LONG type = -1;
    EXPECT_EQ(pic->GetItemType(&type), kItemDeleted);
    EXPECT_EQ(type, 0);
    EXPECT_EQ(root->DeleteItem(0), E_INVALIDARG);  // the device itself stays
}

TEST_F(StandardCameraTest, DialogRecordsItsArgumentsAndWritesJpeg) {
    ComPtr<IWiaItem> root = Open();
    ComPtr<IWiaDevMgr> mgr = Manager();
    std::wstring path = TempPath(L"dialog.jpg");
    fotex::Bstr name(path.c_str());
    GUID format = wia::WiaImgFmt_JPEG;
    ASSERT_EQ(mgr->GetImageDlg(nullptr, 2, 2, 0x20001, root.get(), name.get(), &format), S_OK);
    EXPECT_EQ(camera.last.dialog.root, root.get());
    EXPECT_EQ(camera.last.dialog.intent, 0x20001);
    EXPECT_EQ(camera.last.dialog.fileName, path);
    EXPECT_FALSE(camera.last.dialog.formatNull);
    std::vector<unsigned char> bytes = ReadFileBytes(path);
    ASSERT_GE(bytes.size(), 3u);
    EXPECT_EQ(bytes[0], 0xFF);
    EXPECT_EQ(bytes[1], 0xD8);
    DeleteFileW(path.c_str());

    camera.dialogResult = E_NOTIMPL;
    EXPECT_EQ(mgr->GetImageDlg(nullptr, 2, 2, 0x20001, root.get(), name.get(), &format), E_NOTIMPL);
    EXPECT_EQ(GetFileAttributesW(path.c_str()), INVALID_FILE_ATTRIBUTES);
}

// --- fault plan, offline devices, call log -----------------------------------------------------

TEST_F(StandardCameraTest, FaultHitsTheNthCallFromNowOnly) {
    ComPtr<IWiaItem> root = Open();
    camera.FailOn(Op::GetItemType, E_FAIL, 2);
    LONG type = -1;
    EXPECT_EQ(root->GetItemType(&type), S_OK);
    EXPECT_EQ(root->GetItemType(&type), E_FAIL);
    EXPECT_EQ(type, 0);  // cleared, not left as it was
    EXPECT_EQ(root->GetItemType(&type), S_OK);
    EXPECT_EQ(camera.Calls(Op::GetItemType), 3);
}

TEST_F(StandardCameraTest, SeveralFaultsOnOneOperationAndRepeats) {
    ComPtr<IWiaItem> root = Open();
    camera.FailOn(Op::GetItemType, E_FAIL, 1);
    camera.FailOn(Op::GetItemType, E_ABORT, 3, 2);
    camera.FailOn(Op::EnumChildItems, E_OUTOFMEMORY, 1, -1);
    HRESULT expected[] = {E_FAIL, S_OK, E_ABORT, E_ABORT, S_OK};
    for (size_t i = 0; i < std::size(expected); ++i) {
        LONG type;
        EXPECT_EQ(root->GetItemType(&type), expected[i]) << "call " << i + 1;
    }
    for (int i = 0; i < 3; ++i) {
        IEnumWiaItem* e = Sentinel<IEnumWiaItem>();
        EXPECT_EQ(root->EnumChildItems(&e), E_OUTOFMEMORY);
        EXPECT_EQ(e, nullptr);
    }
    camera.ClearFaults();
    ComPtr<IEnumWiaItem> e;
    EXPECT_EQ(root->EnumChildItems(e.put()), S_OK);
}

TEST_F(StandardCameraTest, FaultedCallsHandOutNothing) {
    ComPtr<IWiaItem> root = Open();
    long before = camera.ObjectsCreated();
    camera.FailOn(Op::QueryPropertyStorage, S_OK);
    camera.FailOn(Op::DeviceCommand, S_OK);
    camera.FailOn(Op::ReadMultiple, E_FAIL);
    void* s = Sentinel<void>();
    EXPECT_EQ(root->QueryInterface(wia::IID_IWiaPropertyStorage, &s), S_OK);
    EXPECT_EQ(s, nullptr);
    IWiaItem* pic = Sentinel<IWiaItem>();
    EXPECT_EQ(root->DeviceCommand(0, &wia::WIA_CMD_TAKE_PICTURE, &pic), S_OK);
    EXPECT_EQ(pic, nullptr);
    EXPECT_EQ(camera.ObjectsCreated(), before);
    EXPECT_EQ(camera.ItemsOf(camera.devices[0]).size(), 5u);
    ComPtr<IWiaPropertyStorage> storage = Storage(root.get());
    PROPSPEC selector = PropSpecById(2052);
    PropVariants<1> v;
    EXPECT_EQ(storage->ReadMultiple(1, &selector, v.data()), E_FAIL);
    EXPECT_EQ(v[0].vt, VT_EMPTY);
}

TEST_F(StandardCameraTest, OfflineDeviceFailsEveryCallButStillCounts) {
    ComPtr<IWiaItem> root = Open();
    camera.devices[0].offline = true;
    LONG type;
    EXPECT_EQ(root->GetItemType(&type), wia::kWiaErrorOffline);
    ComPtr<IWiaPropertyStorage> s;
    EXPECT_EQ(root->QueryInterface(wia::IID_IWiaPropertyStorage, s.put_void()), wia::kWiaErrorOffline);
    EXPECT_FALSE(s);
    EXPECT_EQ(root->DeviceCommand(0, &wia::WIA_CMD_TAKE_PICTURE, nullptr), wia::kWiaErrorOffline);
    EXPECT_EQ(camera.Calls(Op::GetItemType), 1);
    EXPECT_EQ(camera.Calls(Op::DeviceCommand), 1);
    // The fault plan still comes first.
    camera.FailOn(Op::GetItemType, E_ABORT);
    EXPECT_EQ(root->GetItemType(&type), E_ABORT);
    camera.devices[0].offline = false;
    EXPECT_EQ(root->GetItemType(&type), S_OK);
}

TEST_F(StandardCameraTest, LogKeepsOrderWhileOnAndCountsAlways) {
    ComPtr<IWiaItem> root = Open();
    camera.ClearLog();
    LONG type;
    root->GetItemType(&type);
    ComPtr<IEnumWiaItem> e;
    root->EnumChildItems(e.put());
    EXPECT_EQ(camera.Log(), (std::vector<Op>{Op::GetItemType, Op::EnumChildItems}));
    camera.SetLogging(false);
    root->GetItemType(&type);
    EXPECT_EQ(camera.Log().size(), 2u);
    EXPECT_EQ(camera.Calls(Op::GetItemType), 2);
    EXPECT_EQ(camera.TotalCalls(), 3);
    EXPECT_STREQ(fotexsim::OpName(Op::GetData), "GetData");
}

// --- reference ledger --------------------------------------------------------------------------

TEST_F(StandardCameraTest, LedgerSeesEveryHeldReferenceWithKindAndItem) {
    ComPtr<IWiaItem> root = Open();
    ComPtr<IWiaItem> pic = FirstPicture(root.get());
    ComPtr<IWiaPropertyStorage> s = Storage(pic.get());
    pic->AddRef();
    EXPECT_EQ(camera.LiveReferences(), 4) << camera.Describe();
    bool sawStorage = false;
    for (const auto& o : camera.LiveObjects())
        if (std::string(o.kind) == "ItemStorage" && o.item == L"IMG_0001") sawStorage = true;
    EXPECT_TRUE(sawStorage) << camera.Describe();
    EXPECT_NE(camera.Describe().find("Item 'IMG_0001' refs=2"), std::string::npos) << camera.Describe();
    pic->Release();
}

// Dirty failures: what a careless service leaves behind, and the ledger seeing a caller that
// releases it, keeps a reference to it, or frees its strings.
TEST_F(StandardCameraTest, DirtyFailuresLeaveStraysThatTheLedgerWatches) {
    ComPtr<IWiaItem> root = Open();
    ComPtr<IWiaPropertyStorage> storage = Storage(root.get());
    const long held = camera.LiveReferences();
    const long strings = camera.StringsHandedOut();
    camera.SetDirtyFailures(true);
    camera.FailOn(Op::QueryPropertyStorage, E_FAIL);
    camera.FailOn(Op::GetItemType, E_FAIL);
    camera.FailOn(Op::ReadMultiple, E_FAIL);

    void* stray = nullptr;
    EXPECT_EQ(root->QueryInterface(wia::IID_IWiaPropertyStorage, &stray), E_FAIL);
    ASSERT_NE(stray, nullptr);
    auto* object = static_cast<IUnknown*>(stray);
    EXPECT_EQ(camera.LiveReferences(), held) << camera.Describe();  // left alone, as if never there
    object->AddRef();
    EXPECT_EQ(camera.LiveReferences(), held + 1) << "a kept reference shows";
    object->Release();
    object->Release();
    EXPECT_EQ(camera.LiveReferences(), held - 1) << "a wrong release shows";
    object->AddRef();
    EXPECT_EQ(camera.LiveReferences(), held) << "the stray outlives a wrong release";

    LONG type = 0;
    EXPECT_EQ(root->GetItemType(&type), E_FAIL);
    EXPECT_EQ(type, -1);
    PROPSPEC selector = PropSpecById(2052);
    PROPVARIANT value;
    PropVariantInit(&value);
    EXPECT_EQ(storage->ReadMultiple(1, &selector, &value), E_FAIL);
    EXPECT_EQ(value.vt, VT_BSTR);
    EXPECT_NE(value.bstrVal, nullptr);
    EXPECT_EQ(camera.StringsHandedOut(), strings) << "not the caller's to free";
    camera.SetDirtyFailures(false);
}

// --- property attributes -----------------------------------------------------------------------

TEST_F(StandardCameraTest, PropertyAttributesFollowTheDocumentedLayouts) {
    ComPtr<IWiaItem> root = Open();
    ComPtr<IWiaPropertyStorage> s = Storage(root.get());
    // Flags: READ 0x01, WRITE 0x02, NONE 0x08, RANGE 0x10, LIST 0x20, FLAG 0x40. Vectors of VT_I4
    // (0x1003): a range is min, nominal, max, step; a list count, nominal, values; flags nominal, mask.
    struct Case {
        PROPID id;
        ULONG flags;
        VARTYPE vt;
        std::vector<LONG> elements;
    } cases[] = {
        {2089, 0x23, 0x1003, {7, 2, 1, 2, 3, 4, 5, 6, 7}},  // white balance
        {2079, 0x13, 0x1003, {-2, 0, 2, 1}},                 // sharpness
        {2062, 0x43, 0x1003, {0, 3}},                        // timer mode
        {2065, 0x11, 0x1003, {0, 80, 100, 1}},               // battery status, read only
        {2053, 0x0B, VT_EMPTY, {}},                          // exposure compensation: any value
        {2091, 0x0B, VT_EMPTY, {}},                          // artist: text
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        PROPSPEC property = PropSpecById(cases[i].id);
        ULONG flags = 0xFFFFFFFF;
        PropVariants<1> v;
        ASSERT_EQ(s->GetPropertyAttributes(1, &property, &flags, v.data()), S_OK) << "case " << i;
        EXPECT_EQ(flags, cases[i].flags) << "case " << i;
        ASSERT_EQ(v[0].vt, cases[i].vt) << "case " << i;
        if (cases[i].vt == VT_EMPTY) continue;
        EXPECT_EQ(std::vector<LONG>(v[0].cal.pElems, v[0].cal.pElems + v[0].cal.cElems), cases[i].elements) << "case " << i;
        ComPtr<IMalloc> malloc;
        ASSERT_EQ(CoGetMalloc(1, malloc.put()), S_OK);
        EXPECT_EQ(malloc->GetSize(v[0].cal.pElems), cases[i].elements.size() * sizeof(LONG)) << "task memory, case " << i;
    }
    // Absent alone: S_FALSE with nothing; beside a present one: S_OK for both.
    PROPSPEC specs[2] = {PropSpecById(9999), PropSpecById(2056)};
    ULONG flags[2] = {7, 7};
    PropVariants<2> v;
    EXPECT_EQ(s->GetPropertyAttributes(1, specs, flags, v.data()), S_FALSE);
    EXPECT_EQ(flags[0], 0u);
    EXPECT_EQ(s->GetPropertyAttributes(2, specs, flags, v.data()), S_OK);
    EXPECT_EQ(flags[0], 0u);
    EXPECT_EQ(v[0].vt, VT_EMPTY);
    EXPECT_EQ(flags[1], 0x23u);
}

// --- events ------------------------------------------------------------------------------------

// A client's callback: records each call and its thread.
class Recorder final : public IWiaEventCallback {
public:
    struct Call {
        GUID event;
        std::wstring description, device, deviceDescription, item;
        DWORD type;
        ULONG eventType;
        DWORD thread;
    };
    HRESULT WINAPI QueryInterface(REFIID riid, void** ppv) override {
        if (riid != IID_IUnknown && riid != wia::IID_IWiaEventCallback) {
            *ppv = nullptr;
            return E_NOINTERFACE;
        }
        *ppv = this;
        AddRef();
        return S_OK;
    }
    ULONG WINAPI AddRef() override { return ++refs; }
    ULONG WINAPI Release() override { return --refs; }
    HRESULT WINAPI ImageEventCallback(const GUID* event, BSTR description, BSTR device, BSTR deviceDescription,
                                      DWORD type, BSTR item, ULONG* eventType, ULONG) override {
        calls.push_back({*event, description, device, deviceDescription, item, type, eventType ? *eventType : 0,
                         GetCurrentThreadId()});
        return S_OK;
    }
    ULONG refs = 1;
    std::vector<Call> calls;
};

void PumpMessages() {
    MSG m;
    while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&m);
}

TEST_F(StandardCameraTest, EventsReachTheirRegistrationsThroughTheRegisteringThreadsMessages) {
    camera.AddStandardCamera(L"other", L"Other", L"Another camera", 1);
    ComPtr<IWiaDevMgr> mgr = Manager();
    Recorder created, tree;
    fotex::Bstr id(kCameraId.c_str());
    ComPtr<IUnknown> createdHere, treeAnywhere;
    ASSERT_EQ(mgr->RegisterEventCallbackInterface(0, id.get(), &wia::WIA_EVENT_ITEM_CREATED, &created, createdHere.put()), S_OK);
    ASSERT_EQ(mgr->RegisterEventCallbackInterface(0, nullptr, &wia::WIA_EVENT_TREE_UPDATED, &tree, treeAnywhere.put()), S_OK);
    EXPECT_EQ(camera.EventRegistrations(), 2);
    EXPECT_EQ(created.refs, 2u) << "the registration holds the callback";

    Item* taken = nullptr;
    std::thread([&] {
        taken = camera.PressShutter(0);
        camera.PressShutter(1);  // another device: not for `created`
        camera.RaiseEvent(wia::WIA_EVENT_TREE_UPDATED, 1);
    }).join();
    ASSERT_NE(taken, nullptr);
    EXPECT_TRUE(created.calls.empty()) << "nothing arrives before the thread handles its messages";
    PumpMessages();

    ASSERT_EQ(created.calls.size(), 1u);
    const Recorder::Call& c = created.calls[0];
    EXPECT_EQ(c.event, wia::WIA_EVENT_ITEM_CREATED);
    EXPECT_EQ(c.device, kCameraId);
    EXPECT_EQ(c.deviceDescription, L"A camera for tests");
    EXPECT_EQ(c.item, L"0000\\Root\\DCIM\\" + taken->name);
    EXPECT_EQ(c.type, 0x00020000u);  // StiDeviceTypeDigitalCamera in the high word
    EXPECT_EQ(c.eventType, 1u);      // WIA_NOTIFICATION_EVENT
    EXPECT_EQ(c.thread, GetCurrentThreadId());
    ASSERT_EQ(tree.calls.size(), 1u);
    EXPECT_EQ(tree.calls[0].device, L"other");

    // Released: the callback goes back at once, and a delivery already posted calls nothing.
    camera.PressShutter(0);
    createdHere.reset();
    EXPECT_EQ(created.refs, 1u);
    PumpMessages();
    EXPECT_EQ(created.calls.size(), 1u);
    EXPECT_EQ(camera.EventsPending(), 0);
    treeAnywhere.reset();
    EXPECT_EQ(camera.EventRegistrations(), 0);
}

TEST_F(StandardCameraTest, EventRegistrationNeedsEventCallbackAndOutPointer) {
    ComPtr<IWiaDevMgr> mgr = Manager();
    Recorder r;
    ComPtr<IUnknown> out;
    EXPECT_EQ(mgr->RegisterEventCallbackInterface(0, nullptr, nullptr, &r, out.put()), E_INVALIDARG);
    EXPECT_EQ(mgr->RegisterEventCallbackInterface(0, nullptr, &wia::WIA_EVENT_ITEM_CREATED, nullptr, out.put()), E_INVALIDARG);
    EXPECT_EQ(mgr->RegisterEventCallbackInterface(0, nullptr, &wia::WIA_EVENT_ITEM_CREATED, &r, nullptr), E_POINTER);
    EXPECT_EQ(r.refs, 1u);
    EXPECT_EQ(camera.EventRegistrations(), 0);
}

TEST_F(StandardCameraTest, UnplugAndPlugInChangeTheStateOnce) {
    EXPECT_TRUE(camera.Unplug(0));
    EXPECT_FALSE(camera.Unplug(0));
    EXPECT_TRUE(camera.devices[0].offline);
    EXPECT_EQ(camera.PressShutter(0), nullptr) << "an unplugged camera takes no picture";
    EXPECT_TRUE(camera.PlugIn(0));
    EXPECT_FALSE(camera.PlugIn(0));
    EXPECT_FALSE(camera.devices[0].offline);
    EXPECT_FALSE(camera.Unplug(5));
    EXPECT_EQ(camera.PressShutter(5), nullptr);
}

TEST(SimulatorLifetime, ObjectsOutliveTheirCamera) {
    IWiaItem* root = nullptr;
    IWiaItem* pic = nullptr;
    {
        Camera camera;
        camera.AddStandardCamera(kCameraId, L"n", L"d", 1);
        CoInitialize(nullptr);
        ASSERT_EQ(camera.Register(), S_OK);
        ComPtr<IWiaDevMgr> mgr;
        ASSERT_EQ(CoCreateInstance(wia::CLSID_WiaDevMgr, nullptr, CLSCTX_LOCAL_SERVER, wia::IID_IWiaDevMgr,
                                   mgr.put_void()),
                  S_OK);
        fotex::Bstr id(kCameraId.c_str());
        ASSERT_EQ(mgr->CreateDevice(id.get(), &root), S_OK);
        ASSERT_EQ(root->DeviceCommand(0, &wia::WIA_CMD_TAKE_PICTURE, &pic), S_OK);
    }
    EXPECT_EQ(Camera::Current(), nullptr);
    LONG type = 0;
    EXPECT_EQ(root->GetItemType(&type), wia::kWiaErrorOffline);  // the device went with its camera
    EXPECT_EQ(pic->Release(), 0u);
    EXPECT_EQ(root->Release(), 0u);
    CoUninitialize();
}

// --- the folder camera ---------------------------------------------------------------------------

// A fresh folder of files for each test, taken as a camera; removed again afterwards.
class FolderCameraTest : public SimulatorTest {
protected:
    void SetUp() override {
        SimulatorTest::SetUp();
        folder = TempPath((L"card" + std::to_wstring(GetCurrentProcessId())).c_str());
        Remove();
        ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
    }
    void TearDown() override {
        SimulatorTest::TearDown();
        Remove();
    }
    void Write(const std::wstring& name, const char* bytes = "data") {
        FILE* f = _wfopen((folder + L"\\" + name).c_str(), L"wb");
        ASSERT_NE(f, nullptr) << std::string(name.begin(), name.end());
        fputs(bytes, f);
        fclose(f);
    }
    // The camera's items below its root, in the order a client walks them, each with its
    // full name.
    void Walk(IWiaItem* parent, std::vector<std::pair<std::wstring, ComPtr<IWiaItem>>>& out) {
        ComPtr<IEnumWiaItem> e;
        ASSERT_EQ(parent->EnumChildItems(e.put()), S_OK);
        for (;;) {
            ComPtr<IWiaItem> child;
            if (e->Next(1, child.put(), nullptr) != S_OK) break;
            const std::wstring name = Text(child.get(), wia::kIpaFullItemName);
            IWiaItem* raw = child.get();
            out.emplace_back(name, std::move(child));
            LONG type = 0;
            ASSERT_EQ(raw->GetItemType(&type), S_OK);
            if (type & wia::kItemTypeFolder) Walk(raw, out);
        }
    }
    std::wstring Text(IWiaItem* item, PROPID id) {
        ComPtr<IWiaPropertyStorage> s = Storage(item);
        PROPSPEC selector = PropSpecById(id);
        PropVariants<1> v;
        if (v.ReadFrom(s.get(), &selector) != S_OK || v[0].vt != VT_BSTR || !v[0].bstrVal) return L"?";
        return v[0].bstrVal;
    }

    std::wstring folder;

private:
    void Remove() {
        // Two levels are all these tests make.
        for (const std::wstring& dir : {folder + L"\\IMG_0012", folder}) {
            WIN32_FIND_DATAW found;
            HANDLE h = FindFirstFileW((dir + L"\\*").c_str(), &found);
            if (h != INVALID_HANDLE_VALUE) {
                do {
                    if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
                        DeleteFileW((dir + L"\\" + found.cFileName).c_str());
                } while (FindNextFileW(h, &found));
                FindClose(h);
            }
            RemoveDirectoryW(dir.c_str());
        }
    }
};

// RAW+JPEG and JPEG+PNG pairs share a name without extension; the full name, the item's
// identity, tells them apart, and finds each again. A name of its own stays as it was.
TEST_F(FolderCameraTest, FullNamesAreUniqueWhenFilesShareAName) {
    for (const wchar_t* name : {L"IMG_0010.jpg", L"IMG_0010.PNG", L"IMG_0011.jpg", L"IMG_0012.jpg", L"img_0013.tif",
                                L"IMG_0013.jpg"})
        Write(name);
    ASSERT_TRUE(CreateDirectoryW((folder + L"\\IMG_0012").c_str(), nullptr));
    Write(L"IMG_0012\\IMG_0012.png");
    ASSERT_EQ(camera.AddFolderCamera(folder, L"Card"), S_OK);
    ComPtr<IWiaItem> root = Open();
    std::vector<std::pair<std::wstring, ComPtr<IWiaItem>>> items;
    Walk(root.get(), items);
    const wchar_t* expected[] = {
        L"0000\\Root\\IMG_0010.jpg", L"0000\\Root\\IMG_0010.PNG", L"0000\\Root\\IMG_0011",
        L"0000\\Root\\IMG_0012",     L"0000\\Root\\IMG_0012\\IMG_0012", L"0000\\Root\\IMG_0012.jpg",
        L"0000\\Root\\IMG_0013.jpg", L"0000\\Root\\img_0013.tif",
    };
    ASSERT_EQ(items.size(), std::size(expected));
    for (size_t i = 0; i < items.size(); ++i) {
        EXPECT_EQ(items[i].first, expected[i]) << "item " << i;
        // The same item, object for object, comes back by its full name.
        fotex::Bstr name(items[i].first.c_str());
        ComPtr<IWiaItem> found;
        EXPECT_EQ(root->FindItemByName(0, name.get(), found.put()), S_OK) << "item " << i;
        EXPECT_EQ(found.get(), items[i].second.get()) << "item " << i;
    }
    // The item's own name is still the file's name without its extension.
    EXPECT_EQ(Text(items[1].second.get(), wia::kIpaItemName), L"IMG_0010");
    EXPECT_EQ(Text(items[7].second.get(), wia::kIpaItemName), L"img_0013");
}

// A picture taken on a folder camera gets a full name no item has, and its event names it.
TEST_F(FolderCameraTest, NewPictureTakesAFullNameNoItemHas) {
    Write(L"IMG_0001.jpg");
    Write(L"IMG_0001.png");
    ASSERT_EQ(camera.AddFolderCamera(folder, L"Card"), S_OK);
    Item* taken = camera.PressShutter(0);
    ASSERT_NE(taken, nullptr);
    std::vector<std::wstring> names;
    for (Item* item : camera.ItemsOf(camera.devices[0])) names.push_back(fotexsim::FullItemName(camera.devices[0], *item));
    ASSERT_EQ(names.size(), 3u);
    EXPECT_NE(names[0], names[1]);
    EXPECT_EQ(std::count(names.begin(), names.end(), fotexsim::FullItemName(camera.devices[0], *taken)), 1);
}

// WIA_IPA_ITEM_SIZE as a real service gives it: the whole size, in 64 bits when 32 cannot hold
// it, never cut to the largest 32-bit value. A sparse file stands in for a long video.
TEST_F(FolderCameraTest, SizeBeyondTwoGigabytesIsGivenWhole) {
    constexpr LONGLONG kBig = 2306867200LL;  // 2.15 GiB
    Write(L"MVI_0001.avi", "RIFF");
    Write(L"IMG_0001.jpg", "0123456789");
    HANDLE file = CreateFileW((folder + L"\\MVI_0001.avi").c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    DWORD unused = 0;
    DeviceIoControl(file, FSCTL_SET_SPARSE, nullptr, 0, nullptr, 0, &unused, nullptr);
    LARGE_INTEGER end;
    end.QuadPart = kBig;
    ASSERT_TRUE(SetFilePointerEx(file, end, nullptr, FILE_BEGIN));
    ASSERT_TRUE(SetEndOfFile(file));
    CloseHandle(file);
    ASSERT_EQ(camera.AddFolderCamera(folder, L"Card"), S_OK);
    ComPtr<IWiaItem> root = Open();
    std::vector<std::pair<std::wstring, ComPtr<IWiaItem>>> items;
    Walk(root.get(), items);
    ASSERT_EQ(items.size(), 2u);
    PROPSPEC selector = PropSpecById(wia::kIpaItemSize);
    {
        PropVariants<1> v;
        ASSERT_EQ(v.ReadFrom(Storage(items[0].second.get()).get(), &selector), S_OK);
        EXPECT_EQ(v[0].vt, VT_I4) << "a size that fits stays 32 bits";
        EXPECT_EQ(v[0].lVal, 10);
    }
    PropVariants<1> v;
    ASSERT_EQ(v.ReadFrom(Storage(items[1].second.get()).get(), &selector), S_OK);
    ASSERT_EQ(v[0].vt, VT_I8);
    EXPECT_EQ(v[0].hVal.QuadPart, kBig);
}

// The same video as a host reads it through Fotex.dll: the overflow its header promises.
class FolderCameraThroughTheDll : public fotextest::FotexTest {};

TEST_F(FolderCameraThroughTheDll, SizeBeyondTwoGigabytesIsAnOverflow) {
    const std::wstring folder = TempPath((L"bigcard" + std::to_wstring(GetCurrentProcessId())).c_str());
    const std::wstring video = folder + L"\\MVI_0001.avi";
    CreateDirectoryW(folder.c_str(), nullptr);
    HANDLE file = CreateFileW(video.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    DWORD unused = 0;
    DeviceIoControl(file, FSCTL_SET_SPARSE, nullptr, 0, nullptr, 0, &unused, nullptr);
    LARGE_INTEGER end;
    end.QuadPart = 2306867200LL;
    SetFilePointerEx(file, end, nullptr, FILE_BEGIN);
    SetEndOfFile(file);
    CloseHandle(file);
    struct Cleanup {
        const std::wstring &file, &dir;
        ~Cleanup() {
            DeleteFileW(file.c_str());
            RemoveDirectoryW(dir.c_str());
        }
    } cleanup{video, folder};
    ASSERT_EQ(camera.AddFolderCamera(folder, L"Card"), S_OK);
    Enumerate(1);
    FOTEX_DEVICE device = Open();
    int count = -7;
    ASSERT_EQ(lib.ListCameraItems(device, &count), 1);
    ASSERT_EQ(count, 1);
    int size = -7;
    EXPECT_EQ(lib.GetCameraItemValue(device, 0, 2, &size), static_cast<int>(0x80070216));  // FOTEX_ITEM_SIZE
    EXPECT_EQ(size, -7) << "nothing written on failure";
    lib.CloseWiaDevice(&device);
    EXPECT_TRUE(Ledger(0));
}

// The same video read into memory: the item offers the memory transfer, and its data is beyond
// what an int counts, so the read is the overflow the header promises, not a refused argument.
TEST_F(FolderCameraThroughTheDll, ReadingDataBeyondTwoGigabytesIsAnOverflow) {
    const std::wstring folder = TempPath((L"bigread" + std::to_wstring(GetCurrentProcessId())).c_str());
    const std::wstring video = folder + L"\\MVI_0001.avi";
    CreateDirectoryW(folder.c_str(), nullptr);
    HANDLE file = CreateFileW(video.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    DWORD unused = 0;
    DeviceIoControl(file, FSCTL_SET_SPARSE, nullptr, 0, nullptr, 0, &unused, nullptr);
    LARGE_INTEGER end;
    end.QuadPart = 2306867200LL;
    SetFilePointerEx(file, end, nullptr, FILE_BEGIN);
    SetEndOfFile(file);
    CloseHandle(file);
    struct Cleanup {
        const std::wstring &file, &dir;
        ~Cleanup() {
            DeleteFileW(file.c_str());
            RemoveDirectoryW(dir.c_str());
        }
    } cleanup{video, folder};
    ASSERT_EQ(camera.AddFolderCamera(folder, L"Card"), S_OK);
    Enumerate(1);
    FOTEX_DEVICE device = Open();
    int count = -7;
    ASSERT_EQ(lib.ListCameraItems(device, &count), 1);
    FOTEX_ITEM item = 0;
    ASSERT_EQ(lib.OpenCameraItem(device, 0, &item), 1);
    int size = -7;
    // 256: the item's own format; a null buffer with capacity 0 asks for the size.
    EXPECT_EQ(lib.ReadCameraItem(item, 256, nullptr, 0, &size, nullptr, nullptr), static_cast<int>(0x80070216));
    EXPECT_EQ(size, -7) << "nothing written on failure";
    EXPECT_EQ(camera.Calls(Op::GetBandedData), 1) << "through the memory transfer";
    lib.ReleaseCameraItem(&item);
    lib.CloseWiaDevice(&device);
}

// --- scale -------------------------------------------------------------------------------------

TEST_F(SimulatorTest, TenThousandDevicesEnumerate) {
    for (int i = 0; i < 10000; ++i) camera.AddDevice(L"id" + std::to_wstring(i), L"n", L"d");
    ComPtr<IWiaDevMgr> mgr = Manager();
    ComPtr<IEnumWIA_DEV_INFO> e;
    ASSERT_EQ(mgr->EnumDeviceInfo(wia::kDevInfoEnumLocal, e.put()), S_OK);
    int n = 0;
    for (;;) {
        ComPtr<IWiaPropertyStorage> s;
        if (e->Next(1, s.put(), nullptr) != S_OK) break;
        ++n;
    }
    EXPECT_EQ(n, 10000);
    fotex::Bstr last(L"id9999");
    ComPtr<IWiaItem> root;
    EXPECT_EQ(mgr->CreateDevice(last.get(), root.put()), S_OK);
}

TEST_F(SimulatorTest, FlatFolderOfHundredThousandDeletesInLinearTime) {
    Device& d = camera.AddDevice(kCameraId, L"n", L"d");
    Item& folder = d.root->Add(L"DCIM", wia::kItemTypeFolder);
    for (int i = 0; i < 100000; ++i) folder.Add(L"IMG", wia::kItemTypeImage);
    ComPtr<IWiaItem> root = Open();
    ComPtr<IWiaItem> dcim = FirstChild(root.get());
    ComPtr<IEnumWiaItem> e;
    ASSERT_EQ(dcim->EnumChildItems(e.put()), S_OK);
    camera.SetLogging(false);
    DWORD start = GetTickCount();
    int deleted = 0;
    for (;;) {
        ComPtr<IWiaItem> child;
        if (e->Next(1, child.put(), nullptr) != S_OK) break;
        deleted += child->DeleteItem(0) == S_OK;
    }
    EXPECT_EQ(deleted, 100000);
    EXPECT_LT(GetTickCount() - start, 20000u);
    EXPECT_TRUE(camera.ItemsOf(d).size() == 1);
    EXPECT_TRUE(folder.children.empty());
}

TEST_F(SimulatorTest, HundredThousandLevelsBuildWalkAndTearDown) {
    Device& d = camera.AddDevice(kCameraId, L"n", L"d");
    Item* level = d.root.get();
    for (int i = 0; i < 100000; ++i) level = &level->Add(L"F", wia::kItemTypeFolder);
    level->Add(L"IMG", wia::kItemTypeImage);
    EXPECT_EQ(camera.ItemsOf(d).size(), 100001u);
    {
        // A client holding an item deep down keeps it (and only it) alive after the tree goes.
        ComPtr<IWiaItem> root = Open();
        ComPtr<IWiaItem> item = FirstChild(root.get());
        for (int i = 0; i < 1000 && item; ++i) item = FirstChild(item.get());
        ASSERT_TRUE(item);
        camera.devices.clear();
        LONG type;
        EXPECT_EQ(item->GetItemType(&type), wia::kWiaErrorOffline);
    }
    Device& again = camera.AddDevice(L"again", L"n", L"d");
    level = again.root.get();
    for (int i = 0; i < 100000; ++i) level = &level->Add(L"F", wia::kItemTypeFolder);
    IWiaItem* unused = nullptr;
    ComPtr<IWiaItem> root = Open(L"again");
    EXPECT_EQ(root->DeviceCommand(0, &wia::WIA_CMD_DELETE_ALL_ITEMS, &unused), S_OK);
    camera.devices.clear();  // the deep tree is torn down here, without recursion
}

}  // namespace

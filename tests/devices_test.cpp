// The device directory and device handles.
#include <gtest/gtest.h>

#include <cstdlib>
#include <iterator>
#include <string>
#include <vector>

#include "fixture.h"
#include "wia_ids.h"

namespace {

using fotexsim::Op;
using fotexsim::Value;
using fotextest::FotexTest;
using fotextest::Guarded;
using fotextest::Utf16Bytes;

constexpr HRESULT kNotFound = static_cast<HRESULT>(0x80070490);

// The bytes a 128-byte identity buffer holds for a text: its units, then zeros.
std::vector<uint8_t> Field(const std::wstring& text) {
    std::vector<uint8_t> bytes = Utf16Bytes(text.substr(0, 64));
    bytes.resize(128, 0);
    return bytes;
}

class DirectoryTest : public FotexTest {
protected:
    struct Identity {
        Guarded<128> id, name, description;
    };

    void Read(int index, Identity& out) {
        lib.GetWiaDeviceInfo(index, out.id.data(), out.name.data(), out.description.data());
        EXPECT_TRUE(out.id.GuardsIntact() && out.name.GuardsIntact() && out.description.GuardsIntact());
    }

    void ExpectIdentity(int index, const std::wstring& id, const std::wstring& name, const std::wstring& description) {
        Identity out;
        Read(index, out);
        EXPECT_EQ(Field(id), out.id.bytes()) << "index " << index;
        EXPECT_EQ(Field(name), out.name.bytes()) << "index " << index;
        EXPECT_EQ(Field(description), out.description.bytes()) << "index " << index;
        EXPECT_EQ("", Output());
    }

    void ExpectOverflow(int index) {
        Identity out;
        Read(index, out);
        EXPECT_TRUE(out.id.Untouched() && out.name.Untouched() && out.description.Untouched()) << "index " << index;
        EXPECT_EQ("Device index overflow\n", Output()) << "index " << index;
    }

    void AddThree() {
        camera.AddDevice(L"dev-a", L"Alpha", L"First camera");
        camera.AddDevice(L"dev-b", L"Beta", L"Second camera");
        camera.AddDevice(L"dev-c", L"Gamma", L"Third camera");
    }
};

TEST_F(DirectoryTest, NoDeviceListsNothingAndIndexZeroOverflows) {
    int count = -7;
    EXPECT_EQ(1, lib.EnumerateWiaDevices(&count));
    EXPECT_EQ(0, count);
    EXPECT_EQ(fotex::wia::kDevInfoEnumLocal, camera.last.enumDeviceInfoFlag);
    EXPECT_TRUE(Ledger(0));
    ExpectOverflow(0);
}

TEST_F(DirectoryTest, IndexOverflowsBeforeAnyEnumeration) {
    AddThree();
    ExpectOverflow(0);
    EXPECT_EQ(0, camera.TotalCalls());
}

TEST_F(DirectoryTest, ListsDevicesInEnumerationOrder) {
    AddThree();
    Enumerate(3);
    EXPECT_TRUE(Ledger(0));
    ExpectIdentity(0, L"dev-a", L"Alpha", L"First camera");
    ExpectIdentity(2, L"dev-c", L"Gamma", L"Third camera");
    ExpectOverflow(3);
    ExpectOverflow(-1);
    ExpectOverflow(0x7FFFFFFF);
}

TEST_F(DirectoryTest, TextsAreCutToSixtyFourUnitsWithoutTerminator) {
    const std::wstring longName(70, L'N');
    const std::wstring exact(64, L'E');
    const std::wstring shortest(63, L'S');
    camera.AddDevice(exact, longName, shortest);
    Enumerate(1);
    Identity out;
    Read(0, out);
    EXPECT_EQ(Utf16Bytes(exact), out.id.bytes());
    EXPECT_EQ(Utf16Bytes(longName.substr(0, 64)), out.name.bytes());
    EXPECT_EQ(Field(shortest), out.description.bytes());
}

TEST_F(DirectoryTest, ShortTextIsFollowedByZeroBytes) {
    camera.AddDevice(L"id", L"abc", L"\u00e9\u4e2d");  // copied as UTF-16, not converted
    Enumerate(1);
    Identity out;
    Read(0, out);
    std::vector<uint8_t> name = {'a', 0, 'b', 0, 'c', 0};
    name.resize(128, 0);
    EXPECT_EQ(name, out.name.bytes());
    std::vector<uint8_t> description = {0xE9, 0x00, 0x2D, 0x4E};
    description.resize(128, 0);
    EXPECT_EQ(description, out.description.bytes());
}

TEST_F(DirectoryTest, PropertyThatIsNotAStringYieldsAnEmptyField) {
    fotexsim::Device& device = camera.AddDevice(L"dev-a", L"Alpha", L"First camera");
    device.info[fotex::wia::kDipDevDesc].value = Value::Int(5);
    device.info[fotex::wia::kDipDevName].value = Value::NullText();
    Enumerate(1);
    ExpectIdentity(0, L"dev-a", L"", L"");
}

TEST_F(DirectoryTest, DeviceWithoutIdentityPropertiesGetsAnEmptyRecord) {
    fotexsim::Device& device = camera.AddDevice(L"dev-a", L"Alpha", L"First camera");
    device.info.clear();  // the read answers S_FALSE
    Enumerate(1);
    ExpectIdentity(0, L"", L"", L"");
}

TEST_F(DirectoryTest, DeviceWhoseIdentityCannotBeReadIsSkippedAndNotCounted) {
    AddThree();
    camera.FailOn(Op::ReadMultiple, E_ACCESSDENIED, 2);
    int count = -7;
    EXPECT_EQ(1, lib.EnumerateWiaDevices(&count));
    EXPECT_EQ("Error calling IWiaPropertyStorage::ReadMultiple: HRESULT: 0x80070005\n", Output());
    EXPECT_EQ(2, count) << "every index below the count must be readable";
    EXPECT_TRUE(Ledger(0));
    ExpectIdentity(0, L"dev-a", L"Alpha", L"First camera");
    ExpectIdentity(1, L"dev-c", L"Gamma", L"Third camera");
    ExpectOverflow(2);
}

TEST_F(DirectoryTest, ManagerThatCannotBeCreatedKeepsThePreviousList) {
    AddThree();
    Enumerate(3);
    camera.FailOn(Op::CreateInstance, E_OUTOFMEMORY);
    int count = -7;
    EXPECT_EQ(-2, lib.EnumerateWiaDevices(&count));
    EXPECT_EQ(-7, count);
    EXPECT_EQ("CoCreateInstance failed on CLSID_WiaDevMgr: HRESULT: 0x8007000E\n", Output());
    EXPECT_TRUE(Ledger(0));
    ExpectIdentity(2, L"dev-c", L"Gamma", L"Third camera");
}

TEST_F(DirectoryTest, ManagerCreatedWithoutAnObjectCountsAsNotCreated) {
    AddThree();
    camera.FailOn(Op::CreateInstance, S_OK);
    int count = -7;
    EXPECT_EQ(-2, lib.EnumerateWiaDevices(&count));
    EXPECT_EQ(-7, count);
    Output();
    EXPECT_TRUE(Ledger(0));
}

TEST_F(DirectoryTest, EnumeratorThatCannotBeObtainedKeepsThePreviousList) {
    AddThree();
    Enumerate(3);
    camera.FailOn(Op::EnumDeviceInfo, E_FAIL);
    int count = -7;
    EXPECT_EQ(-1, lib.EnumerateWiaDevices(&count));
    EXPECT_EQ(-7, count);
    EXPECT_EQ("Error calling IWiaDevMgr::EnumDeviceInfo: HRESULT: 0x80004005\n", Output());
    EXPECT_TRUE(Ledger(0));
    ExpectIdentity(1, L"dev-b", L"Beta", L"Second camera");
}

TEST_F(DirectoryTest, EnumeratorThatCannotBeResetKeepsThePreviousList) {
    AddThree();
    Enumerate(3);
    camera.FailOn(Op::DevInfoReset, E_UNEXPECTED);
    int count = -7;
    EXPECT_EQ(-1, lib.EnumerateWiaDevices(&count));
    EXPECT_EQ(-7, count);
    EXPECT_EQ("Error calling IEnumWIA_DEV_INFO::Reset(): HRESULT: 0x8000FFFF\n", Output());
    EXPECT_TRUE(Ledger(0));
    ExpectIdentity(1, L"dev-b", L"Beta", L"Second camera");
}

TEST_F(DirectoryTest, ResetAnsweringFalseEndsAnEmptyEnumeration) {
    AddThree();
    Enumerate(3);
    camera.FailOn(Op::DevInfoReset, S_FALSE);
    const int nextCalls = camera.Calls(Op::DevInfoNext);
    Enumerate(0);
    EXPECT_EQ(nextCalls, camera.Calls(Op::DevInfoNext));
    ExpectOverflow(0);
}

TEST_F(DirectoryTest, ResetAnsweringAnotherSuccessCodeFailsWithTheListEmptied) {
    AddThree();
    Enumerate(3);
    camera.FailOn(Op::DevInfoReset, 2);
    int count = -7;
    EXPECT_EQ(-1, lib.EnumerateWiaDevices(&count));
    EXPECT_EQ(0, count);
    EXPECT_EQ("", Output());
    ExpectOverflow(0);
}

TEST_F(DirectoryTest, EnumeratorFailingPartWayDeliversTheDevicesReadBefore) {
    const HRESULT results[] = {E_FAIL, static_cast<HRESULT>(0x80210005), 2};
    for (HRESULT hr : results) {
        camera.devices.clear();
        AddThree();
        camera.FailOn(Op::DevInfoNext, hr, 3);
        int count = -7;
        EXPECT_EQ(-1, lib.EnumerateWiaDevices(&count)) << std::hex << hr;
        EXPECT_EQ(2, count) << std::hex << hr;
        EXPECT_EQ("", Output()) << "a failing Next is not traced";
        EXPECT_TRUE(Ledger(0));
        ExpectIdentity(1, L"dev-b", L"Beta", L"Second camera");
        ExpectOverflow(2);
    }
}

// A faulty service that keeps answering success without handing out a device: each answer ends
// the enumeration as a failure, where asking again would never end.
TEST_F(DirectoryTest, EnumeratorAnsweringSuccessWithoutADeviceFailsTheEnumeration) {
    for (int times : {1, -1}) {
        camera.devices.clear();
        AddThree();
        camera.FailOn(Op::DevInfoNext, S_OK, 2, times);
        camera.ClearLog();
        int count = -7;
        EXPECT_EQ(-1, lib.EnumerateWiaDevices(&count)) << times;
        EXPECT_EQ(1, count) << times;
        EXPECT_EQ(2, camera.Calls(Op::DevInfoNext)) << times;
        EXPECT_EQ("Error calling IEnumWIA_DEV_INFO::Next: HRESULT: 0x80004003\n", Output()) << times;
        EXPECT_TRUE(Ledger(0)) << times;
        ExpectIdentity(0, L"dev-a", L"Alpha", L"First camera");
        ExpectOverflow(1);
        camera.ClearFaults();
    }
}

TEST_F(DirectoryTest, EnumeratorThatNeverEndsStopsAfter65536Devices) {
    AddThree();
    camera.endlessDevices = true;
    camera.SetLogging(false);
    int count = -7;
    EXPECT_EQ(-1, lib.EnumerateWiaDevices(&count));
    EXPECT_EQ(65536, count);
    EXPECT_EQ("Too many devices: HRESULT: 0x8000000B\n", Output());
    EXPECT_TRUE(Ledger(0));
    ExpectIdentity(65535, L"dev-a", L"Alpha", L"First camera");  // 65535 = 3 * 21845
    ExpectOverflow(65536);
}

TEST_F(DirectoryTest, EnumerationReplacesTheWholeList) {
    AddThree();
    Enumerate(3);
    camera.devices.erase(camera.devices.begin(), camera.devices.begin() + 2);
    Enumerate(1);
    ExpectIdentity(0, L"dev-c", L"Gamma", L"Third camera");
    ExpectOverflow(1);
}

TEST_F(DirectoryTest, ManyDevicesGrowTheListWithoutLosingRecords) {
    for (int i = 0; i < 100; ++i) camera.AddDevice(L"id" + std::to_wstring(i), L"name" + std::to_wstring(i), L"d");
    Enumerate(100);
    Enumerate(100);
    ExpectIdentity(0, L"id0", L"name0", L"d");
    ExpectIdentity(63, L"id63", L"name63", L"d");
    ExpectIdentity(99, L"id99", L"name99", L"d");
    ExpectOverflow(100);
}

// The list's storage that cannot grow ends the enumeration as a failure: the devices listed
// before stay readable under their indexes and are counted, none is lost silently.
int g_allocationsLeft = -1;
void* __cdecl LimitedRealloc(void* block, size_t size) {
    if (g_allocationsLeft == 0) return nullptr;
    if (g_allocationsLeft > 0) --g_allocationsLeft;
    return std::realloc(block, size);
}

TEST_F(DirectoryTest, ListThatCannotGrowKeepsTheDevicesListedBefore) {
    for (int i = 0; i < 5; ++i) camera.AddDevice(L"id" + std::to_wstring(i), L"name" + std::to_wstring(i), L"d");
    ASSERT_NE(nullptr, fotextest::PatchImport(lib.module(), "msvcrt.dll", "realloc", reinterpret_cast<void*>(&LimitedRealloc)));
    g_allocationsLeft = 2;  // room for 1, then 2 records; growing to 4 fails
    int count = -7;
    EXPECT_EQ(-1, lib.EnumerateWiaDevices(&count));
    g_allocationsLeft = -1;
    EXPECT_EQ(2, count);
    EXPECT_EQ("Device list cannot grow: HRESULT: 0x80070008\n", Output());
    EXPECT_TRUE(Ledger(0));
    ExpectIdentity(1, L"id1", L"name1", L"d");
    ExpectOverflow(2);
    Enumerate(5);  // with memory again, the list grows
    ExpectIdentity(4, L"id4", L"name4", L"d");
}

// The list swapped out keeps its storage for the next enumeration: from the second enumeration
// on, as many devices as before need no allocation, while a handler inside it still reads the
// previous list.
int g_reallocs = 0;
void* __cdecl CountedRealloc(void* block, size_t size) {
    ++g_reallocs;
    return std::realloc(block, size);
}

TEST_F(DirectoryTest, EnumerationsAfterTheFirstReuseTheStorageSwappedOut) {
    ASSERT_NE(nullptr, fotextest::PatchImport(lib.module(), "msvcrt.dll", "realloc", reinterpret_cast<void*>(&CountedRealloc)));
    const struct {
        int devices, reallocs;
    } steps[] = {{100, 8}, {100, 0}, {100, 0}, {37, 0}, {100, 0}, {129, 1}, {129, 0}};
    std::wstring previous;  // index 0 of the list before, as a handler during the next one reads it
    for (size_t s = 0; s < std::size(steps); ++s) {
        const std::wstring tag = L"s" + std::to_wstring(s) + L"-";
        camera.devices.clear();
        for (int i = 0; i < steps[s].devices; ++i) camera.AddDevice(tag + std::to_wstring(i), L"n", L"d");
        Identity during;
        bool read = false;  // handlers run in process only
        camera.onCall = [&](Op op) {
            if (op != Op::DevInfoNext || read) return;
            read = true;
            Read(0, during);
        };
        g_reallocs = 0;
        Enumerate(steps[s].devices);
        camera.onCall = nullptr;
        EXPECT_EQ(steps[s].reallocs, g_reallocs) << "step " << s;
        if (read && !previous.empty()) {
            EXPECT_EQ(Field(previous), during.id.bytes()) << "step " << s;
        }
        Output();  // the overflow line of the read before any list
        ExpectIdentity(steps[s].devices - 1, tag + std::to_wstring(steps[s].devices - 1), L"n", L"d");
        ExpectOverflow(steps[s].devices);
        previous = tag + L"0";
    }
}

TEST_F(DirectoryTest, NullCountStillRefillsTheList) {
    AddThree();
    EXPECT_EQ(1, lib.EnumerateWiaDevices(nullptr));
    ExpectIdentity(2, L"dev-c", L"Gamma", L"Third camera");
}

TEST_F(DirectoryTest, NullBuffersAreLeftOutOfTheCopy) {
    AddThree();
    Enumerate(3);
    Guarded<128> name;
    lib.GetWiaDeviceInfo(1, nullptr, name.data(), nullptr);
    EXPECT_EQ(Field(L"Beta"), name.bytes());
}

// Without the virtual camera, Wine's own service answers: it lists through an enumerator whose
// Reset is not implemented.
TEST_F(DirectoryTest, WinesOwnServiceReportsItsResetFailure) {
    camera.Revoke();
    int count = -7;
    EXPECT_EQ(-1, lib.EnumerateWiaDevices(&count));
    EXPECT_EQ(-7, count);
    EXPECT_EQ("Error calling IEnumWIA_DEV_INFO::Reset(): HRESULT: 0x80004001\n", Output());
}

// An enumeration run from a handler inside another is refused with the documented failure (-1,
// list unchanged, count not written); meanwhile the list of the last enumeration stays readable.
TEST_F(DirectoryTest, EnumerationInsideAnEnumerationIsRefusedAndTheOuterListIsWhole) {
    AddThree();
    Enumerate(3);
    camera.devices.erase(camera.devices.begin());
    camera.AddDevice(L"dev-d", L"Delta", L"Fourth camera");
    camera.AddDevice(L"dev-e", L"Epsilon", L"Fifth camera");
    int inner = -7, innerStatus = 0;
    Identity during;
    int calls = 0;
    camera.onCall = [&](Op op) {
        if (op != Op::DevInfoNext || ++calls != 2) return;
        innerStatus = lib.EnumerateWiaDevices(&inner);
        Read(0, during);
    };
    int count = -7;
    EXPECT_EQ(1, lib.EnumerateWiaDevices(&count));
    camera.onCall = nullptr;
    EXPECT_EQ(4, count);
    EXPECT_EQ(-1, innerStatus);
    EXPECT_EQ(-7, inner);
    EXPECT_EQ(Field(L"dev-a"), during.id.bytes()) << "the previous list, whole, until the new one is complete";
    EXPECT_EQ("", Output());
    ExpectIdentity(0, L"dev-b", L"Beta", L"Second camera");
    ExpectIdentity(3, L"dev-e", L"Epsilon", L"Fifth camera");
    ExpectOverflow(4);
    EXPECT_TRUE(Ledger(0));
}

class HandleTest : public DirectoryTest {};

TEST_F(HandleTest, IndexZeroIsOutOfRangeBeforeAnyDeviceIsListed) {
    camera.AddDevice(L"dev-a", L"Alpha", L"First camera");
    FOTEX_DEVICE device = 77;
    EXPECT_EQ(-2, lib.OpenWiaDevice(0, &device));
    EXPECT_EQ(77, device);
    Enumerate(1);
    camera.devices.clear();
    Enumerate(0);
    EXPECT_EQ(-2, lib.OpenWiaDevice(0, &device));
    EXPECT_EQ(77, device);
    EXPECT_TRUE(Ledger(0));
    EXPECT_EQ("", Output());
}

TEST_F(HandleTest, OpensTheDeviceAtTheIndexAndClosesIt) {
    AddThree();
    Enumerate(3);
    FOTEX_DEVICE device = 77;
    EXPECT_EQ(1, lib.OpenWiaDevice(1, &device));
    EXPECT_NE(0, device);
    EXPECT_EQ(L"dev-b", camera.last.createDeviceId);
    EXPECT_TRUE(Ledger(1)) << "only the root item the host owns";
    LONG type = 0;
    EXPECT_EQ(S_OK, reinterpret_cast<IWiaItem*>(device)->GetItemType(&type));
    EXPECT_TRUE(type & fotex::wia::kItemTypeRoot);

    lib.CloseWiaDevice(&device);
    EXPECT_EQ(0, device);
    EXPECT_TRUE(Ledger(0));
    lib.CloseWiaDevice(&device);
    lib.CloseWiaDevice(nullptr);
    EXPECT_TRUE(Ledger(0));
    EXPECT_EQ("", Output());
}

TEST_F(HandleTest, BadIndexIsReportedBeforeANullVariable) {
    AddThree();
    Enumerate(3);
    FOTEX_DEVICE device = 77;
    EXPECT_EQ(-2, lib.OpenWiaDevice(3, &device));
    EXPECT_EQ(-2, lib.OpenWiaDevice(-1, &device));
    EXPECT_EQ(77, device);
    EXPECT_EQ(-2, lib.OpenWiaDevice(3, nullptr));
    EXPECT_EQ(-3, lib.OpenWiaDevice(0, nullptr));
    EXPECT_EQ(0, camera.Calls(Op::CreateDevice));
    EXPECT_TRUE(Ledger(0));
}

TEST_F(HandleTest, ManagerThatCannotBeCreatedFailsEveryIndex) {
    AddThree();
    Enumerate(3);
    camera.FailOn(Op::CreateInstance, E_ACCESSDENIED, 1, -1);
    for (int index : {0, 2, 3, -1}) {
        FOTEX_DEVICE device = 77;
        EXPECT_EQ(-1, lib.OpenWiaDevice(index, &device)) << index;
        EXPECT_EQ(77, device);
        EXPECT_EQ("CoCreateInstance failed on CLSID_WiaDevMgr: HRESULT: 0x80070005\n", Output());
    }
    EXPECT_EQ(-1, lib.OpenWiaDevice(0, nullptr));
    Output();
    EXPECT_TRUE(Ledger(0));
}

TEST_F(HandleTest, DeviceThatCannotBeCreatedGivesStatusOneAndNoHandle) {
    AddThree();
    Enumerate(3);
    camera.devices[0].present = false;  // detached after the enumeration
    FOTEX_DEVICE device = 77;
    EXPECT_EQ(1, lib.OpenWiaDevice(0, &device));
    EXPECT_EQ(0, device);
    camera.FailOn(Op::CreateDevice, E_FAIL);
    device = 77;
    EXPECT_EQ(1, lib.OpenWiaDevice(1, &device));
    EXPECT_EQ(0, device);
    EXPECT_EQ("", Output());
    EXPECT_TRUE(Ledger(0));
}

TEST_F(HandleTest, EachOpenOwnsItsOwnReference) {
    AddThree();
    Enumerate(3);
    FOTEX_DEVICE first = Open(0);
    FOTEX_DEVICE second = Open(0);
    EXPECT_NE(first, second);
    EXPECT_TRUE(Ledger(2));
    lib.CloseWiaDevice(&first);
    EXPECT_TRUE(Ledger(1));
    LONG type = 0;
    EXPECT_EQ(S_OK, reinterpret_cast<IWiaItem*>(second)->GetItemType(&type));
    lib.CloseWiaDevice(&second);
    EXPECT_TRUE(Ledger(0));
}

TEST_F(HandleTest, HandleOutlivesAReEnumeration) {
    AddThree();
    Enumerate(3);
    FOTEX_DEVICE device = Open(2);
    camera.devices.erase(camera.devices.begin());
    Enumerate(2);
    LONG type = 0;
    EXPECT_EQ(S_OK, reinterpret_cast<IWiaItem*>(device)->GetItemType(&type));
    lib.CloseWiaDevice(&device);
    EXPECT_TRUE(Ledger(0));
}

TEST_F(HandleTest, IdentifierIsSentAsStoredUpToSixtyFourUnits) {
    const std::wstring id(80, L'i');
    camera.AddDevice(id, L"Long", L"id");
    Enumerate(1);
    FOTEX_DEVICE device = 77;
    EXPECT_EQ(1, lib.OpenWiaDevice(0, &device));
    EXPECT_EQ(id.substr(0, 64), camera.last.createDeviceId);
    EXPECT_EQ(0, device) << "no device bears the shortened identifier";
    EXPECT_TRUE(Ledger(0));
}

// A handler inside a device command may close the device: the command holds it for its own
// length and ends as it would have.
TEST_F(HandleTest, CloseInsideACommandOfThatDeviceLetsTheCommandEnd) {
    camera.AddDevice(L"dev-a", L"Alpha", L"First camera");
    Enumerate(1);
    const Op inside[] = {Op::DeviceCommand, Op::CapsGetCount, Op::ReadMultiple, Op::DeviceCommand};
    for (int c = 0; c < 4; ++c) {
        FOTEX_DEVICE device = 0;
        ASSERT_EQ(1, lib.OpenWiaDevice(0, &device));
        const FOTEX_DEVICE used = device;
        int calls = 0;
        bool rootAlive = false;
        camera.onCall = [&](Op op) {
            if (op != inside[c] || ++calls != 1) return;
            lib.CloseWiaDevice(&device);
            for (const fotexsim::LiveObject& o : camera.LiveObjects())
                if (std::string(o.kind) == "Item" && o.item == L"Root") rootAlive = true;
        };
        int status = 1, first = -7, second = -7;
        FOTEX_ITEM taken = 0;
        switch (c) {
        case 0: lib.TakeAPicture(used, &taken); break;
        case 1: status = lib.EnumDeviceCap(used, &first, &second); break;
        case 2: status = lib.GetStorageInfo(used, &first, &second); break;
        default: lib.DeleteAll(used); break;
        }
        camera.onCall = nullptr;
        EXPECT_EQ(0, device) << "case " << c;
        EXPECT_TRUE(rootAlive) << "case " << c << ": the device outlives the host's close while the command runs";
        EXPECT_LT(0, status) << "case " << c;
        EXPECT_EQ(c == 0, taken != 0) << "case " << c;
        lib.ReleaseCameraItem(&taken);
        EXPECT_TRUE(Ledger(0)) << "case " << c;
    }
    EXPECT_TRUE(Boxes().empty());
    EXPECT_EQ("", Output());
}

// The settings and the dialog use the device while the service works on it, as the commands
// do: a handler inside them that closes the device must not free it under the call. The handler
// closes only when the call holds a reference of its own, so that a fault shows as a count, not
// as a crash in the service.
TEST_F(HandleTest, SettingsAndDialogHoldTheDeviceWhileTheServiceWorks) {
    camera.AddDevice(L"dev-a", L"Alpha", L"First camera");
    Enumerate(1);
    using Getter = int(FOTEX_CALL*)(FOTEX_DEVICE, int*);
    const auto getFNumber = reinterpret_cast<Getter>(lib.Symbol("GetFNumber"));
    ASSERT_NE(nullptr, getFNumber);
    const char* names[] = {"GetSetting", "SetSetting", "GetSettingText", "GetSettingChoices", "GetFNumber",
                           "ImageTransferDialog"};
    for (int c = 0; c < 6; ++c) {
        FOTEX_DEVICE device = 0;
        ASSERT_EQ(1, lib.OpenWiaDevice(0, &device));
        const FOTEX_DEVICE used = device;
        const Op inside = c == 5 ? Op::GetImageDlg : Op::QueryPropertyStorage;
        int calls = 0;
        ULONG rootReferences = 0;
        camera.onCall = [&](Op op) {
            if (op != inside || ++calls != 1) return;
            for (const fotexsim::LiveObject& o : camera.LiveObjects())
                if (std::string(o.kind) == "Item" && o.item == L"Root") rootReferences = o.refs;
            if (rootReferences > 1) lib.CloseWiaDevice(&device);
        };
        int value = 0, count = 0;
        Guarded<128> text;
        switch (c) {
        case 0: lib.GetSetting(used, FOTEX_PROP_FNUMBER, &value); break;
        case 1: lib.SetSetting(used, FOTEX_PROP_FNUMBER, 280); break;
        case 2: lib.GetSettingText(used, FOTEX_PROP_FNUMBER, text.data(), 128); break;
        case 3: lib.GetSettingChoices(used, FOTEX_PROP_FNUMBER, nullptr, nullptr, nullptr, nullptr, 0, &count); break;
        case 4: getFNumber(used, &value); break;
        default: lib.ImageTransferDialog(0, used); break;
        }
        camera.onCall = nullptr;
        EXPECT_EQ(1, calls) << names[c];
        EXPECT_LT(1u, rootReferences) << names[c] << ": only the host's reference holds the device during the call";
        lib.CloseWiaDevice(&device);
        EXPECT_TRUE(Ledger(0)) << names[c];
    }
    Boxes().clear();
    Output();
}

}  // namespace

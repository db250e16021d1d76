// Device commands and queries: take picture, delete all, capabilities, storage counters.
#include <gtest/gtest.h>

#include "fixture.h"
#include "wia_ids.h"

namespace {

using fotexsim::Op;
using fotexsim::Value;
using fotextest::FotexTest;
namespace wia = fotex::wia;

constexpr int kUnset = 7;

using CommandsTest = fotextest::OpenDeviceTest;

fotexsim::Capability Command(const GUID& id) {
    fotexsim::Capability cap;
    cap.command = id;
    cap.name = L"name";
    cap.description = L"description";
    cap.icon = L"icon";
    cap.commandline = L"cmd";
    return cap;
}

// ---- EnumDeviceCap --------------------------------------------------------------------------

TEST_F(CommandsTest, CapabilitiesCountEveryCommandAndFlagTheTwoKnownOnes) {
    int take = kUnset, remove = kUnset;
    EXPECT_EQ(3, lib.EnumDeviceCap(handle, &take, &remove));
    EXPECT_EQ(1, take);
    EXPECT_EQ(1, remove);
    EXPECT_EQ(wia::kDeviceCommands, camera.last.capsFlag);
    EXPECT_EQ("", Output());
    EXPECT_TRUE(Ledger(1));
}

TEST_F(CommandsTest, CapabilitiesClearTheFlagOfACommandNotOffered) {
    const struct {
        std::vector<GUID> commands;
        int count, take, remove;
    } cases[] = {
        {{wia::WIA_CMD_TAKE_PICTURE}, 1, 1, 0},
        {{wia::WIA_CMD_SYNCHRONIZE, wia::WIA_CMD_DELETE_ALL_ITEMS}, 2, 0, 1},
        {{}, 0, 0, 0},
    };
    for (size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
        device().capabilities.clear();
        for (const GUID& g : cases[i].commands) device().capabilities.push_back(Command(g));
        int take = kUnset, remove = kUnset;
        EXPECT_EQ(cases[i].count, lib.EnumDeviceCap(handle, &take, &remove)) << "case " << i;
        EXPECT_EQ(cases[i].take, take) << "case " << i;
        EXPECT_EQ(cases[i].remove, remove) << "case " << i;
        EXPECT_TRUE(Ledger(1)) << "case " << i;
    }
}

TEST_F(CommandsTest, CapabilityFailuresReturnTheirCodes) {
    const struct {
        Op op;
        HRESULT hr;
        int nth;
        int status, take, remove;
    } cases[] = {
        {Op::EnumDeviceCapabilities, E_FAIL, 1, -2, kUnset, kUnset},
        {Op::EnumDeviceCapabilities, S_FALSE, 1, -2, kUnset, kUnset},
        {Op::EnumDeviceCapabilities, S_OK, 1, -5, kUnset, kUnset},  // no enumerator
        {Op::CapsReset, E_FAIL, 1, -1, kUnset, kUnset},
        {Op::CapsReset, S_FALSE, 1, -1, kUnset, kUnset},
        {Op::CapsGetCount, E_FAIL, 1, -4, 0, 0},
        {Op::CapsNext, E_FAIL, 2, -6, 1, 0},  // take picture was read first
        {Op::CapsNext, S_FALSE, 1, -6, 0, 0},
    };
    for (size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
        camera.FailOn(cases[i].op, cases[i].hr, cases[i].nth);
        int take = kUnset, remove = kUnset;
        EXPECT_EQ(cases[i].status, lib.EnumDeviceCap(handle, &take, &remove)) << "case " << i;
        EXPECT_EQ(cases[i].take, take) << "case " << i;
        EXPECT_EQ(cases[i].remove, remove) << "case " << i;
        EXPECT_EQ("", Output()) << "case " << i;
        EXPECT_TRUE(Ledger(1)) << "case " << i;
        camera.ClearFaults();
    }
}

int g_freedStrings = 0;
void WINAPI CountingSysFreeString(BSTR s) {
    if (s != nullptr) ++g_freedStrings;
    SysFreeString(s);
}

TEST_F(CommandsTest, CapabilityStringsAreFreedForEveryRecord) {
    ASSERT_NE(nullptr, fotextest::PatchImport(lib.module(), "oleaut32.dll", "SysFreeString",
                                              reinterpret_cast<void*>(&CountingSysFreeString)));
    g_freedStrings = 0;
    int take = 0, remove = 0;
    EXPECT_EQ(3, lib.EnumDeviceCap(handle, &take, &remove));
    EXPECT_EQ(12, g_freedStrings);
}

TEST_F(CommandsTest, NullFlagPointersAreSkipped) {
    EXPECT_EQ(3, lib.EnumDeviceCap(handle, nullptr, nullptr));
    EXPECT_TRUE(Ledger(1));
}

// ---- null device ----------------------------------------------------------------------------

TEST_F(CommandsTest, NullDeviceCallsNothingAndTouchesNothing) {
    const int before = camera.TotalCalls();
    int a = kUnset, b = kUnset;
    EXPECT_EQ(-3, lib.EnumDeviceCap(0, &a, &b));
    EXPECT_EQ(-3, lib.GetStorageInfo(0, &a, &b));
    FOTEX_ITEM item = 0x55;
    lib.TakeAPicture(0, &item);
    lib.DeleteAll(0);
    EXPECT_EQ(kUnset, a);
    EXPECT_EQ(kUnset, b);
    EXPECT_EQ(0x55, item);
    EXPECT_EQ(before, camera.TotalCalls());
    EXPECT_TRUE(Boxes().empty());
    EXPECT_EQ("", Output());
}

// ---- TakeAPicture and DeleteAll -------------------------------------------------------------

TEST_F(CommandsTest, TakePictureHandsTheNewItemToTheHost) {
    const size_t before = Media();
    FOTEX_ITEM item = 0;
    lib.TakeAPicture(handle, &item);
    ASSERT_NE(0, item);
    EXPECT_EQ(before + 1, Media());
    EXPECT_EQ(0, camera.last.command.flags);
    EXPECT_TRUE(IsEqualGUID(wia::WIA_CMD_TAKE_PICTURE, camera.last.command.command));
    EXPECT_TRUE(Boxes().empty());
    EXPECT_TRUE(Ledger(2));
    reinterpret_cast<IWiaItem*>(item)->Release();
}

TEST_F(CommandsTest, RefusedPictureShowsOneStopBox) {
    Reconnecting(false);  // the failure's own status, not a device opened again
    const HRESULT results[] = {E_FAIL, S_FALSE, fotex::wia::kWiaErrorOffline};
    for (size_t i = 0; i < sizeof results / sizeof results[0]; ++i) {
        Boxes().clear();
        camera.FailOn(Op::DeviceCommand, results[i]);
        FOTEX_ITEM item = 0;
        lib.TakeAPicture(handle, &item);
        ASSERT_EQ(1u, Boxes().size()) << "case " << i;
        EXPECT_EQ("error taking picture", Boxes()[0].text);
        EXPECT_EQ("Info", Boxes()[0].caption);
        EXPECT_EQ(static_cast<UINT>(MB_ICONERROR), Boxes()[0].style);
        EXPECT_EQ(nullptr, Boxes()[0].owner);
        EXPECT_EQ("", Output());
        EXPECT_TRUE(Ledger(1)) << "case " << i;
    }
}

TEST_F(CommandsTest, CameraWithoutTakePictureRefusesWithTheBox) {
    device().capabilities.clear();
    FOTEX_ITEM item = 0;
    lib.TakeAPicture(handle, &item);
    EXPECT_EQ(1u, Boxes().size());
    EXPECT_EQ(0, item);
}

TEST_F(CommandsTest, TakePictureWithoutPlaceForTheItemTakesNone) {
    const size_t before = Media();
    lib.TakeAPicture(handle, nullptr);
    EXPECT_EQ(before, Media());
    EXPECT_EQ(0, camera.Calls(Op::DeviceCommand));
    EXPECT_TRUE(Boxes().empty());
}

TEST_F(CommandsTest, DeleteAllRemovesEveryPictureAndVideo) {
    camera.devices.clear();
    camera.AddStandardCamera(L"dev-s", L"Standard", L"Pictures", 4);
    Enumerate(1);
    lib.CloseWiaDevice(&handle);
    handle = Open();
    ASSERT_EQ(5u, Media());
    lib.DeleteAll(handle);
    EXPECT_EQ(0u, Media());
    EXPECT_EQ(0, camera.last.command.flags);
    EXPECT_TRUE(camera.last.command.itemOut);
    EXPECT_TRUE(IsEqualGUID(wia::WIA_CMD_DELETE_ALL_ITEMS, camera.last.command.command));
    EXPECT_TRUE(Ledger(1));
}

TEST_F(CommandsTest, RefusedDeleteAllReportsNothing) {
    camera.FailOn(Op::DeviceCommand, E_ACCESSDENIED);
    lib.DeleteAll(handle);
    EXPECT_EQ("", Output());
    EXPECT_TRUE(Boxes().empty());
    EXPECT_TRUE(Ledger(1));
}

// ---- GetStorageInfo -------------------------------------------------------------------------

TEST_F(CommandsTest, StorageInfoWritesEachCountThatIsAnInteger) {
    const struct {
        Value taken, remaining;
        int status, expectTaken, expectRemaining;
    } cases[] = {
        {Value::Int(12), Value::Int(88), 1, 12, 88},
        {Value::Int(12), Value::Empty(), 1, 12, kUnset},
        {Value::Text(L"12"), Value::Int(-1), 1, kUnset, -1},
        {Value::UInt(12), Value::Empty(), 1, kUnset, kUnset},
        {Value::Empty(), Value::Empty(), -1, kUnset, kUnset},  // neither counter: S_FALSE
    };
    for (size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
        fotexsim::PropertyMap& props = device().root->props;
        props.erase(wia::kDpcPicturesTaken);
        props.erase(wia::kDpcPicturesRemaining);
        if (cases[i].taken.type != VT_EMPTY) props[wia::kDpcPicturesTaken].value = cases[i].taken;
        if (cases[i].remaining.type != VT_EMPTY) props[wia::kDpcPicturesRemaining].value = cases[i].remaining;
        int taken = kUnset, remaining = kUnset;
        EXPECT_EQ(cases[i].status, lib.GetStorageInfo(handle, &taken, &remaining)) << "case " << i;
        EXPECT_EQ(cases[i].expectTaken, taken) << "case " << i;
        EXPECT_EQ(cases[i].expectRemaining, remaining) << "case " << i;
        EXPECT_EQ((std::vector<PROPID>{wia::kDpcPicturesTaken, wia::kDpcPicturesRemaining}), camera.last.read);
        EXPECT_TRUE(Ledger(1)) << "case " << i;
    }
}

TEST_F(CommandsTest, StorageInfoFailuresWriteNoCount) {
    const struct {
        Op op;
        HRESULT hr;
        int status;
    } cases[] = {
        {Op::ReadMultiple, E_FAIL, -1},
        {Op::ReadMultiple, S_FALSE, -1},
        {Op::QueryPropertyStorage, E_NOINTERFACE, -2},
        {Op::QueryPropertyStorage, S_OK, -2},  // no storage handed out
    };
    for (size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
        camera.FailOn(cases[i].op, cases[i].hr);
        int taken = kUnset, remaining = kUnset;
        EXPECT_EQ(cases[i].status, lib.GetStorageInfo(handle, &taken, &remaining)) << "case " << i;
        EXPECT_EQ(kUnset, taken) << "case " << i;
        EXPECT_EQ(kUnset, remaining) << "case " << i;
        EXPECT_EQ("", Output()) << "case " << i;
        EXPECT_TRUE(Ledger(1)) << "case " << i;
    }
}

}  // namespace

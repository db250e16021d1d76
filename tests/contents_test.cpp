// Camera contents: the item list, the texts and numbers of its items, item handles, saving items
// and thumbnails into files, deleting items, status texts, and the virtual and folder cameras
// that serve them.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "fixture.h"
#include "sim_internal.h"
#include "wia_ids.h"

namespace {

using fotexsim::Item;
using fotexsim::Op;
using fotexsim::Value;
using fotextest::FotexTest;
using fotextest::Guarded;
namespace wia = fotex::wia;

// The statuses as the published HRESULT values, not the header's names for them.
constexpr int kOk = 1;
constexpr int kHandle = static_cast<int>(0x80070006);
constexpr int kPointer = static_cast<int>(0x80004003);
constexpr int kInvalidArg = static_cast<int>(0x80070057);
constexpr int kBounds = static_cast<int>(0x8000000B);
constexpr int kSmallBuffer = static_cast<int>(0x8007007A);
constexpr int kNotFound = static_cast<int>(0x80070490);
constexpr int kFileExists = static_cast<int>(0x80070050);
constexpr int kBusy = static_cast<int>(0x800700AA);
constexpr int kIsFolder = static_cast<int>(0x80070150);
constexpr int kFormat = static_cast<int>(0x80070032);
constexpr int kInvalidData = static_cast<int>(0x8007000D);
constexpr int kOverflow = static_cast<int>(0x80070216);
constexpr int kTooDeep = static_cast<int>(0x800703E9);
constexpr int kFail = static_cast<int>(0x80004005);
constexpr int kOffline = static_cast<int>(0x80210005);
constexpr int kItemDeleted = static_cast<int>(0x80210009);
constexpr int kCancelled = static_cast<int>(0x800704C7);
// The selectors and flags as the issue numbers them.
constexpr int kFileName = 1, kFullName = 2, kTime = 3;
constexpr int kType = 1, kSize = 2, kThumbWidth = 3, kThumbHeight = 4, kOwnFormat = 5;
constexpr int kNative = 256;
constexpr int kDelete = 1, kReplace = 2;
// Item-type flags of the WIA documentation.
constexpr LONG kImage = 0x1, kFile = 0x2, kFolder = 0x4, kAudio = 0x20, kAttachments = 0x8000, kVideo = 0x10000;

constexpr int kSentinel = 0x5EA7;
constexpr FOTEX_ITEM kNoItem = 0x5EA7;

std::string ReadAll(const std::wstring& path) {
    std::string data;
    HANDLE f = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (f == INVALID_HANDLE_VALUE) return data;
    char chunk[65536];
    DWORD n = 0;
    while (ReadFile(f, chunk, sizeof chunk, &n, nullptr) && n > 0) data.append(chunk, n);
    CloseHandle(f);
    return data;
}

void WriteAll(const std::wstring& path, const std::string& data) {
    HANDLE f = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, f);
    DWORD n = 0;
    WriteFile(f, data.data(), static_cast<DWORD>(data.size()), &n, nullptr);
    CloseHandle(f);
}

bool Exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

void RemoveTree(const std::wstring& path) {
    WIN32_FIND_DATAW found;
    HANDLE h = FindFirstFileW((path + L"\\*").c_str(), &found);
    if (h != INVALID_HANDLE_VALUE) {
        do {
            const std::wstring name = found.cFileName;
            if (name == L"." || name == L"..") continue;
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                RemoveTree(path + L"\\" + name);
            else
                DeleteFileW((path + L"\\" + name).c_str());
        } while (FindNextFileW(h, &found));
        FindClose(h);
    }
    RemoveDirectoryW(path.c_str());
}

// A little-endian field of a file's bytes.
uint32_t Field(const std::string& d, size_t at, int bytes) {
    uint32_t v = 0;
    for (int i = bytes - 1; i >= 0; --i) v = (v << 8) | static_cast<uint8_t>(d[at + i]);
    return v;
}

bool IsJpeg(const std::string& d) { return d.size() > 4 && d.compare(0, 2, "\xFF\xD8") == 0; }

class ContentsTest : public FotexTest {
protected:
    void SetUp() override {
        wchar_t temp[MAX_PATH];
        GetTempPathW(MAX_PATH, temp);
        dir = std::wstring(temp) + L"fotex-contents-" + std::to_wstring(GetCurrentProcessId());
        CreateDirectoryW(dir.c_str(), nullptr);
        FotexTest::SetUp();
        if (HasFatalFailure()) return;
        // DCIM holding IMG_0001 to IMG_0003 and MOV_0001.
        camera.AddStandardCamera(L"fotex\\0000", L"Alpha", L"First camera");
        Enumerate(1);
        handle = Open();
    }
    void TearDown() override {
        camera.ClearFaults();
        lib.CloseWiaDevice(&handle);
        EXPECT_TRUE(Ledger(0));
        FotexTest::TearDown();
        RemoveTree(dir);
    }

    Item& root() { return *camera.devices[0].root; }
    Item& dcim() { return *root().children[0]; }
    Item& Picture(int i) { return *dcim().children[i]; }

    int List(FOTEX_DEVICE device = 0) {
        int count = kSentinel;
        EXPECT_EQ(kOk, lib.ListCameraItems(device ? device : handle, &count));
        return count;
    }
    // The text, or the status in brackets when there is none.
    std::wstring Text(int index, int what, FOTEX_DEVICE device = 0) {
        Guarded<512> text;
        const int status = lib.GetCameraItemText(device ? device : handle, index, what, text.data(), 512);
        EXPECT_TRUE(text.GuardsIntact());
        if (status != kOk) return L"[" + std::to_wstring(status) + L"]";
        return reinterpret_cast<const wchar_t*>(text.data());
    }
    int Value(int index, int what, int* status = nullptr) {
        int value = kSentinel;
        const int s = lib.GetCameraItemValue(handle, index, what, &value);
        if (status) *status = s;
        else EXPECT_EQ(kOk, s) << "index " << index << " what " << what;
        return value;
    }
    FOTEX_ITEM OpenItem(int index) {
        FOTEX_ITEM item = 0;
        EXPECT_EQ(kOk, lib.OpenCameraItem(handle, index, &item));
        return item;
    }
    std::wstring At(const std::wstring& name) const { return dir + L"\\" + name; }
    std::vector<std::wstring> Files() const {
        std::vector<std::wstring> names;
        WIN32_FIND_DATAW found;
        HANDLE h = FindFirstFileW((dir + L"\\*").c_str(), &found);
        if (h == INVALID_HANDLE_VALUE) return names;
        do
            if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) names.push_back(found.cFileName);
        while (FindNextFileW(h, &found));
        FindClose(h);
        std::sort(names.begin(), names.end());
        return names;
    }
    int Media() {
        int n = 0;
        for (Item* item : camera.ItemsOf(camera.devices[0]))
            if (item->type & (kImage | kVideo)) ++n;
        return n;
    }

    std::wstring dir;
    FOTEX_DEVICE handle = 0;
};

// ---- identifiers -----------------------------------------------------------------------------

TEST(ContentsIdentifiers, ItemPropertyIdsAreThoseOfTheWiaDocumentation) {
    EXPECT_EQ(4098u, wia::kIpaItemName);
    EXPECT_EQ(4099u, wia::kIpaFullItemName);
    EXPECT_EQ(4100u, wia::kIpaItemTime);
    EXPECT_EQ(4116u, wia::kIpaItemSize);
    EXPECT_EQ(4123u, wia::kIpaFilenameExtension);
    EXPECT_EQ(5122u, wia::kIpcThumbnail);
    EXPECT_EQ(5123u, wia::kIpcThumbWidth);
    EXPECT_EQ(5124u, wia::kIpcThumbHeight);
    EXPECT_EQ(4105u, wia::kIpaPreferredFormat);
}

TEST(ContentsIdentifiers, HeaderConstantsAreThoseOfTheContract) {
    const int pairs[][2] = {
        {FOTEX_E_HANDLE, kHandle},           {FOTEX_E_POINTER, kPointer},   {FOTEX_E_INVALIDARG, kInvalidArg},
        {FOTEX_E_BOUNDS, kBounds},           {FOTEX_E_INSUFFICIENT_BUFFER, kSmallBuffer},
        {FOTEX_E_NOT_FOUND, kNotFound},      {FOTEX_E_FILE_EXISTS, kFileExists},
        {FOTEX_E_BUSY, kBusy},               {FOTEX_E_FOLDER, kIsFolder},     {FOTEX_E_FORMAT, kFormat},
        {FOTEX_ITEM_FILE_NAME, 1},           {FOTEX_ITEM_FULL_NAME, 2},     {FOTEX_ITEM_TIME, 3},
        {FOTEX_ITEM_TYPE, 1},                {FOTEX_ITEM_SIZE, 2},          {FOTEX_ITEM_THUMB_WIDTH, 3},
        {FOTEX_ITEM_THUMB_HEIGHT, 4},        {FOTEX_SAVE_DELETE, 1},        {FOTEX_SAVE_REPLACE, 2},
        {FOTEX_ITEM_FORMAT, 5},              {FOTEX_FORMAT_NATIVE, 256},    {FOTEX_E_CANCELLED, kCancelled},
    };
    for (size_t i = 0; i < std::size(pairs); ++i) EXPECT_EQ(pairs[i][1], pairs[i][0]) << "pair " << i;
}

// ---- any item's facts ------------------------------------------------------------------------

TEST_F(ContentsTest, ItemFactsComeFromAnyHandleAndFromTheCameraEachTime) {
    FOTEX_ITEM found = 0, taken = 0;
    ASSERT_EQ(kOk, lib.FindCameraItem(handle, L"0000\\Root\\DCIM\\IMG_0002", &found));
    lib.TakeAPicture(handle, &taken);
    ASSERT_NE(0, taken);
    ASSERT_EQ(5, List());
    const FOTEX_ITEM items[] = {found, taken};
    const int indexes[] = {1, 4};
    for (size_t i = 0; i < std::size(items); ++i) {
        for (int what : {kFileName, kFullName, kTime}) {
            Guarded<256> text;
            ASSERT_EQ(kOk, lib.GetItemText(items[i], what, text.data(), 256)) << i << " what " << what;
            EXPECT_EQ(Text(indexes[i], what), reinterpret_cast<const wchar_t*>(text.data())) << i << " what " << what;
        }
        for (int what : {kType, kSize, kThumbWidth, kThumbHeight, kOwnFormat}) {
            int value = kSentinel;
            ASSERT_EQ(kOk, lib.GetItemValue(items[i], what, &value)) << i << " what " << what;
            EXPECT_EQ(Value(indexes[i], what), value) << i << " what " << what;
        }
    }
    // Read anew: a renamed item and a changed type show at once, with no listing between.
    Picture(1).name = L"Renamed";
    Picture(1).type = kImage | kFile | kAttachments;
    Guarded<256> text;
    ASSERT_EQ(kOk, lib.GetItemText(found, kFileName, text.data(), 256));
    EXPECT_EQ(std::wstring(L"Renamed.jpg"), reinterpret_cast<const wchar_t*>(text.data()));
    int type = kSentinel;
    ASSERT_EQ(kOk, lib.GetItemValue(found, kType, &type));
    EXPECT_EQ(kImage | kFile | kAttachments, type);
    lib.ReleaseCameraItem(&found);
    lib.ReleaseCameraItem(&taken);
    EXPECT_EQ("", Output());
}

TEST_F(ContentsTest, ItemFactStatusesWriteNothing) {
    FOTEX_ITEM item = 0;
    ASSERT_EQ(kOk, lib.FindCameraItem(handle, L"0000\\Root\\DCIM\\IMG_0001", &item));
    Guarded<16> text;
    int value = kSentinel;
    Picture(0).lacks.push_back(wia::kIpaItemSize);
    camera.FailOn(Op::GetItemType, kOffline);
    const int statuses[][2] = {
        {lib.GetItemText(0, kFileName, text.data(), 16), kHandle},
        {lib.GetItemText(item, kFileName, nullptr, 16), kPointer},
        {lib.GetItemText(item, 0, text.data(), 16), kInvalidArg},
        {lib.GetItemText(item, 4, text.data(), 16), kInvalidArg},
        {lib.GetItemText(item, kFullName, text.data(), 16), kSmallBuffer},
        {lib.GetItemValue(0, kSize, &value), kHandle},
        {lib.GetItemValue(item, kSize, nullptr), kPointer},
        {lib.GetItemValue(item, 0, &value), kInvalidArg},
        {lib.GetItemValue(item, 6, &value), kInvalidArg},
        {lib.GetItemValue(item, kSize, &value), kNotFound},
        {lib.GetItemValue(item, kType, &value), kOffline},
    };
    for (size_t i = 0; i < std::size(statuses); ++i) EXPECT_EQ(statuses[i][1], statuses[i][0]) << "case " << i;
    EXPECT_TRUE(text.Untouched());
    EXPECT_TRUE(text.GuardsIntact());
    EXPECT_EQ(kSentinel, value);
    lib.ReleaseCameraItem(&item);
}

// ---- the item's own format -------------------------------------------------------------------

TEST_F(ContentsTest, NativeFormatIsTheItemsPreferredOneWhateverTheTableSays) {
    // A GUID no table has, as a camera's RAW format has.
    const GUID kRaw = {0x6F120719, 0xF1A8, 0x4E07, {0x9A, 0xDE, 0x9B, 0x64, 0xC6, 0x3A, 0x3D, 0xCC}};
    const struct {
        GUID own;
        int code;
        const char* magic;
    } cases[] = {
        {wia::WiaImgFmt_JPEG, 3, "\xFF\xD8"},
        {wia::WiaImgFmt_PNG, 4, "\x89PNG"},
        {kRaw, -1, ""},
        {wia::WiaImgFmt_AVI, 128, "RIFF"},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        Item& item = Picture(static_cast<int>(i));  // the last one is the video
        if (i < 3) item.formats = {cases[i].own, wia::WiaImgFmt_JPEG};
        item.props[wia::kIpaPreferredFormat].value = Value::Guid(cases[i].own);
    }
    ASSERT_EQ(4, List());
    for (size_t i = 0; i < std::size(cases); ++i) {
        EXPECT_EQ(cases[i].code, Value(static_cast<int>(i), kOwnFormat)) << "case " << i;
        FOTEX_ITEM item = OpenItem(static_cast<int>(i));
        const std::wstring name = At(L"own" + std::to_wstring(i));
        ASSERT_EQ(kOk, lib.SaveCameraItem(item, name.c_str(), kNative, 0)) << "case " << i;
        EXPECT_TRUE(IsEqualGUID(cases[i].own, camera.last.getData.format)) << "case " << i;
        EXPECT_EQ(0, ReadAll(name).compare(0, std::strlen(cases[i].magic), cases[i].magic)) << "case " << i;
        lib.ReleaseCameraItem(&item);
    }
    // The 1.3 transfers keep their table, where 256 is JPEG.
    FOTEX_ITEM item = OpenItem(1);
    std::string old = std::string(dir.begin(), dir.end()) + "\\old";
    old.resize(old.size() + 8, '\0');
    lib.TransferPicture(item, old.data(), kNative, 0);
    EXPECT_TRUE(IsEqualGUID(wia::WiaImgFmt_JPEG, camera.last.getData.format));
}

TEST_F(ContentsTest, NativeFormatOfAnItemWithoutOneIsNotFoundAndWritesNothing) {
    Picture(0).lacks.push_back(wia::kIpaPreferredFormat);
    Picture(0).props.erase(wia::kIpaPreferredFormat);
    ASSERT_EQ(4, List());
    int status = 0;
    EXPECT_EQ(kSentinel, Value(0, kOwnFormat, &status));
    EXPECT_EQ(kNotFound, status);
    FOTEX_ITEM item = OpenItem(0);
    EXPECT_EQ(kNotFound, lib.SaveCameraItem(item, At(L"none").c_str(), kNative, 0));
    int size = kSentinel;
    EXPECT_EQ(kNotFound, lib.ReadCameraItem(item, kNative, nullptr, 0, &size, nullptr, nullptr));
    EXPECT_EQ(kSentinel, size);
    EXPECT_EQ(0, camera.Calls(Op::GetData));
    EXPECT_TRUE(Files().empty());
    lib.ReleaseCameraItem(&item);
}

// ---- ListCameraItems -------------------------------------------------------------------------

TEST_F(ContentsTest, ListHoldsImagesAndVideosInWalkOrderEachOnce) {
    root().Add(L"ROOTPIC", kImage | kFile);
    Item& pic = dcim().Add(L"WITHSOUND", kImage | kFile | kAttachments);
    pic.Add(L"SOUND", kAudio | kFile);
    pic.Add(L"ATTACHED", kImage | kFile);
    dcim().Add(L"BOTH", kImage | kVideo | kFile);
    dcim().Add(L"EMPTY", kFolder);
    ASSERT_EQ(8, List());
    const wchar_t* names[] = {L"IMG_0001.jpg", L"IMG_0002.jpg", L"IMG_0003.jpg", L"MOV_0001.avi",
                              L"WITHSOUND.jpg", L"ATTACHED.jpg", L"BOTH.jpg", L"ROOTPIC.jpg"};
    const LONG types[] = {kImage | kFile, kImage | kFile, kImage | kFile, kVideo | kFile,
                          kImage | kFile | kAttachments, kImage | kFile, kImage | kVideo | kFile, kImage | kFile};
    for (int i = 0; i < 8; ++i) {
        EXPECT_EQ(names[i], Text(i, kFileName)) << "index " << i;
        EXPECT_EQ(types[i], Value(i, kType)) << "index " << i;
    }
    EXPECT_EQ("", Output());
    EXPECT_TRUE(Ledger(1 + 8)) << "the list holds a reference to each item";
}

TEST_F(ContentsTest, ListIsRenewedByTheNextListAndDroppedByClose) {
    ASSERT_EQ(4, List());
    EXPECT_TRUE(Ledger(5));
    Picture(0).deleted = true;
    dcim().children.erase(dcim().children.begin());
    ASSERT_EQ(3, List());
    EXPECT_TRUE(Ledger(4)) << "the old list's references went back";
    EXPECT_EQ(L"IMG_0002.jpg", Text(0, kFileName));
    lib.CloseWiaDevice(&handle);
    EXPECT_TRUE(Ledger(0));
    // Reopened, the device has no list until it is listed.
    handle = Open();
    EXPECT_EQ(L"[" + std::to_wstring(kBounds) + L"]", Text(0, kFileName));
}

// The new list is walked while the old one still holds the items, so the service hands out the
// objects it has instead of making them anew; an item keeps one identity, as through a real
// service's proxies.
TEST_F(ContentsTest, ListingAgainReusesTheServicesItemObjects) {
    ASSERT_EQ(4, List());
    FOTEX_ITEM first = OpenItem(2);
    const long created = camera.ObjectsCreated(), storages = camera.Calls(Op::QueryPropertyStorage);
    ASSERT_EQ(4, List());
    // Out of process a proxy answers the storage's query itself once it has asked the service.
    EXPECT_EQ(created + 3 + camera.Calls(Op::QueryPropertyStorage) - storages, camera.ObjectsCreated())
        << "two enumerators, the unlisted DCIM folder and a property storage for each item read, no picture";
    FOTEX_ITEM again = OpenItem(2);
    EXPECT_EQ(first, again);
    FOTEX_ITEM found = 0;
    ASSERT_EQ(kOk, lib.FindCameraItem(handle, L"0000\\Root\\DCIM\\IMG_0003", &found));
    EXPECT_EQ(first, found);
    EXPECT_TRUE(Ledger(1 + 4 + 3));
    for (FOTEX_ITEM* item : {&first, &again, &found}) lib.ReleaseCameraItem(item);
    EXPECT_TRUE(Ledger(1 + 4));
}

TEST_F(ContentsTest, EachDeviceHandleHasItsOwnList) {
    camera.AddStandardCamera(L"fotex\\0001", L"Beta", L"Second camera", 1);
    Enumerate(2);
    FOTEX_DEVICE second = Open(1);
    FOTEX_DEVICE again = Open(0);
    EXPECT_EQ(4, List());
    EXPECT_EQ(2, List(second));
    EXPECT_EQ(L"[" + std::to_wstring(kBounds) + L"]", Text(0, kFileName, again)) << "a second handle to the same camera";
    EXPECT_EQ(L"0001\\Root\\DCIM\\IMG_0001", Text(0, kFullName, second));
    lib.CloseWiaDevice(&second);
    EXPECT_EQ(L"0000\\Root\\DCIM\\MOV_0001", Text(3, kFullName)) << "closing one leaves the others";
    lib.CloseWiaDevice(&again);
    EXPECT_TRUE(Ledger(1 + 4));
}

TEST_F(ContentsTest, FailedListIsEmptyAndLeavesTheCountAlone) {
    Reconnecting(false);  // the failure's own status, not a device opened again
    const struct {
        Op op;
        HRESULT hr;
        int status;
    } cases[] = {
        {Op::GetItemType, E_FAIL, kFail},
        {Op::EnumChildItems, wia::kWiaErrorOffline, kOffline},
        {Op::ItemNext, E_OUTOFMEMORY, static_cast<int>(E_OUTOFMEMORY)},
        {Op::GetItemType, 2, kFail},  // a success that is not S_OK stops the walk as in TransferAllImages
        {Op::ItemNext, S_OK, kFail},  // a success without an item
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        ASSERT_EQ(4, List()) << "case " << i;
        // Part-way through the walk: at the third picture, at DCIM's children, at its first
        // children. The type is asked for where the read that gives it with the facts fails.
        if (cases[i].op == Op::GetItemType) camera.FailOn(Op::ReadMultiple, E_FAIL, 1, -1);
        camera.FailOn(cases[i].op, cases[i].hr, cases[i].op == Op::GetItemType ? 5 : 2);
        int count = kSentinel;
        EXPECT_EQ(cases[i].status, lib.ListCameraItems(handle, &count)) << "case " << i;
        EXPECT_EQ(kSentinel, count) << "case " << i;
        EXPECT_EQ(L"[" + std::to_wstring(kBounds) + L"]", Text(0, kFileName)) << "case " << i;
        EXPECT_TRUE(Ledger(1)) << "case " << i;
        camera.ClearFaults();
    }
    EXPECT_EQ("", Output());
}

TEST_F(ContentsTest, ListStopsSilentlyBelowSixtyFourLevels) {
    Item* at = &dcim();
    for (int level = 2; level <= 66; ++level) at = &at->Add(L"F" + std::to_wstring(level), kFolder);
    at->Add(L"DEEP", kImage | kFile);
    int count = kSentinel;
    EXPECT_EQ(kTooDeep, lib.ListCameraItems(handle, &count));
    EXPECT_EQ(kSentinel, count);
    EXPECT_EQ("", Output());
    EXPECT_TRUE(Ledger(1));
}

TEST_F(ContentsTest, ListRefusesAZeroHandleAndANullCount) {
    int count = kSentinel;
    EXPECT_EQ(kHandle, lib.ListCameraItems(0, &count));
    EXPECT_EQ(kSentinel, count);
    ASSERT_EQ(4, List());
    camera.ClearLog();
    EXPECT_EQ(kPointer, lib.ListCameraItems(handle, nullptr));
    EXPECT_EQ(0, camera.TotalCalls()) << "no walk without a count";
    EXPECT_EQ(L"IMG_0001.jpg", Text(0, kFileName)) << "a refused argument leaves the list as it was";
    EXPECT_TRUE(Ledger(1 + 4));
}

// The list's storage failing for an item the walk goes into (one with attachments) fails the
// list: the item is not left out silently while its children's walk succeeds.
int g_reallocsBeforeFailure = -1;  // -1: none fails
void* __cdecl FailingRealloc(void* block, size_t size) {
    if (g_reallocsBeforeFailure >= 0 && g_reallocsBeforeFailure-- == 0) return nullptr;
    return std::realloc(block, size);
}

TEST_F(ContentsTest, ListThatCannotGrowForAnItemWithAttachmentsFails) {
    Picture(0).type |= kAttachments;
    ASSERT_NE(nullptr, fotextest::PatchImport(lib.module(), "msvcrt.dll", "realloc", reinterpret_cast<void*>(&FailingRealloc)));
    g_reallocsBeforeFailure = 1;  // the table of lists grows, then the list for IMG_0001 cannot
    int count = kSentinel;
    EXPECT_EQ(static_cast<int>(0x8007000E), lib.ListCameraItems(handle, &count));
    g_reallocsBeforeFailure = -1;
    EXPECT_EQ(kSentinel, count);
    EXPECT_EQ(L"[" + std::to_wstring(kBounds) + L"]", Text(0, kFileName)) << "a failed list is empty";
    EXPECT_EQ(4, List()) << "with memory again, every item is listed";
    EXPECT_TRUE(Ledger(5)) << "the device and the list's four items";
}

// ---- calls from a handler inside another call ------------------------------------------------

// Runs `act` once, at the `nth` call of `op` from now: a host's message handler running while
// the service works on a call of the library.
void Inside(fotexsim::Camera& camera, Op op, int nth, std::function<void()> act) {
    auto left = std::make_shared<int>(nth);
    camera.onCall = [op, left, act](Op called) {
        if (called == op && --*left == 0) act();
    };
}

TEST_F(ContentsTest, ListingInsideAListingOfTheSameDeviceLeavesBothWhole) {
    ASSERT_EQ(4, List());
    dcim().Add(L"IMG_0004", kImage | kFile);
    int inner = kSentinel, innerStatus = 0;
    // After the first picture of the outer walk: the root, DCIM and that picture are read.
    Inside(camera, Op::ReadMultiple, 4, [&] { innerStatus = lib.ListCameraItems(handle, &inner); });
    int count = kSentinel;
    EXPECT_EQ(kOk, lib.ListCameraItems(handle, &count));
    camera.onCall = nullptr;
    EXPECT_EQ(kOk, innerStatus);
    EXPECT_EQ(5, inner);
    EXPECT_EQ(5, count);
    const wchar_t* names[] = {L"IMG_0001.jpg", L"IMG_0002.jpg", L"IMG_0003.jpg", L"MOV_0001.avi", L"IMG_0004.jpg"};
    for (int i = 0; i < 5; ++i) EXPECT_EQ(names[i], Text(i, kFileName)) << "index " << i;
    EXPECT_EQ(L"[" + std::to_wstring(kBounds) + L"]", Text(5, kFileName));
    EXPECT_TRUE(Ledger(1 + 5)) << "one list, one reference each";
}

// Eleven more lists make the table of lists grow while the outer listing is under way.
TEST_F(ContentsTest, ListingsOfOtherDevicesInsideAListingLeaveItWhole) {
    for (int i = 1; i <= 11; ++i) {
        wchar_t id[16];
        swprintf(id, 16, L"fotex\\%04d", i);
        camera.AddStandardCamera(id, L"Other", L"Another camera", i % 3 + 1);
    }
    Enumerate(12);
    std::vector<FOTEX_DEVICE> others;
    for (int i = 1; i <= 11; ++i) others.push_back(Open(i));
    std::vector<int> counts(11, kSentinel), statuses(11, 0);
    Inside(camera, Op::ReadMultiple, 4, [&] {
        for (size_t i = 0; i < others.size(); ++i) statuses[i] = lib.ListCameraItems(others[i], &counts[i]);
    });
    EXPECT_EQ(4, List());
    camera.onCall = nullptr;
    long references = 1 + 4;
    for (int i = 1; i <= 11; ++i) {
        EXPECT_EQ(kOk, statuses[i - 1]) << "device " << i;
        EXPECT_EQ(i % 3 + 2, counts[i - 1]) << "device " << i;
        wchar_t full[40];
        swprintf(full, 40, L"%04d\\Root\\DCIM\\MOV_0001", i);
        EXPECT_EQ(full, Text(i % 3 + 1, kFullName, others[i - 1])) << "device " << i;
        references += 1 + (i % 3 + 2);
    }
    for (int i = 0; i < 4; ++i) EXPECT_EQ(i < 3 ? L"IMG_000" + std::to_wstring(i + 1) + L".jpg" : L"MOV_0001.avi", Text(i, kFileName));
    EXPECT_TRUE(Ledger(references));
    for (FOTEX_DEVICE& other : others) lib.CloseWiaDevice(&other);
    EXPECT_TRUE(Ledger(1 + 4));
}

// The outer listing ends with the result it would have had, and keeps no list for a handle that
// is gone: neither the old list nor the new one holds an item afterwards.
TEST_F(ContentsTest, CloseInsideAListingOfThatDeviceLeavesNoListBehind) {
    for (bool listedBefore : {false, true}) {
        if (listedBefore) {
            ASSERT_EQ(4, List());
        }
        const FOTEX_DEVICE device = handle;
        Inside(camera, Op::ReadMultiple, 4, [&] { lib.CloseWiaDevice(&handle); });
        int count = kSentinel;
        EXPECT_EQ(kOk, lib.ListCameraItems(device, &count)) << listedBefore;
        camera.onCall = nullptr;
        EXPECT_EQ(0, handle);
        EXPECT_EQ(4, count) << listedBefore;
        EXPECT_TRUE(Ledger(0)) << listedBefore;
        handle = Open();
    }
}

// ---- new items -------------------------------------------------------------------------------

TEST_F(ContentsTest, NewItemsAreThoseNotThereAtThePreviousLookByNameSizeAndTime) {
    constexpr int kReset = 1;  // FOTEX_NEW_RESET
    EXPECT_EQ(kReset, FOTEX_NEW_RESET);
    auto look = [&](int flags = 0) {
        int count = kSentinel;
        EXPECT_EQ(kOk, lib.ListNewCameraItems(handle, flags, &count));
        return count;
    };
    ASSERT_EQ(4, List());
    EXPECT_EQ(0, look()) << "the first look takes the camera as seen";
    EXPECT_EQ(L"[" + std::to_wstring(kBounds) + L"]", Text(0, kFileName)) << "and lists none";
    EXPECT_EQ(0, look());
    dcim().Add(L"IMG_0004", kImage | kFile);
    root().Add(L"ROOTPIC", kImage | kFile);
    ASSERT_EQ(2, look());
    EXPECT_EQ(L"0000\\Root\\DCIM\\IMG_0004", Text(0, kFullName)) << "in the camera's order";
    EXPECT_EQ(L"ROOTPIC.jpg", Text(1, kFileName));
    EXPECT_EQ(kImage | kFile, Value(1, kType));
    FOTEX_ITEM opened = OpenItem(0);
    EXPECT_EQ(0, look());
    EXPECT_TRUE(Ledger(1 + 6 + 1)) << "what counts as seen holds each item once, the list none";

    // Deleted, then the name taken again: new when its size or time differ, not when all agree.
    auto same = std::make_shared<Item>(Picture(0));
    auto later = std::make_shared<Item>(Picture(1));
    later->time.wSecond = static_cast<WORD>((later->time.wSecond + 1) % 60);
    Picture(0).deleted = Picture(1).deleted = true;
    dcim().children.erase(dcim().children.begin(), dcim().children.begin() + 2);
    for (const auto& item : {same, later}) {
        item->parent = &dcim();
        dcim().children.push_back(item);
    }
    ASSERT_EQ(1, look());
    EXPECT_EQ(L"0000\\Root\\DCIM\\IMG_0002", Text(0, kFullName));

    // A reset takes what is there as seen; nothing else changes it.
    dcim().Add(L"IMG_0009", kImage | kFile);
    EXPECT_EQ(0, look(kReset));
    EXPECT_EQ(0, look());
    lib.ReleaseCameraItem(&opened);
    lib.CloseWiaDevice(&handle);
    EXPECT_TRUE(Ledger(0)) << "closing gives back what counted as seen";
    handle = Open();
    dcim().Add(L"IMG_0010", kImage | kFile);
    EXPECT_EQ(0, look()) << "a new handle starts anew";
}

// Steady looks read the camera for the items new to them alone: their facts and their types (the
// folders' types are asked each time); an item gone between the walk and its read is neither
// listed nor seen.
TEST_F(ContentsTest, NewItemsReadOnlyTheItemsTheyHaveNotSeenAndPassOverOnesGone) {
    for (int i = 0; i < 40; ++i) dcim().Add(L"P" + std::to_wstring(i), kImage | kFile);
    int count = kSentinel;
    ASSERT_EQ(kOk, lib.ListNewCameraItems(handle, 0, &count));
    camera.ClearLog();
    ASSERT_EQ(kOk, lib.ListNewCameraItems(handle, 0, &count));
    EXPECT_EQ(0, count);
    EXPECT_EQ(0, camera.Calls(Op::ReadMultiple));
    EXPECT_EQ(2, camera.Calls(Op::GetItemType)) << "the root and DCIM";
    dcim().Add(L"NEW", kImage | kFile);
    camera.ClearLog();
    ASSERT_EQ(kOk, lib.ListNewCameraItems(handle, 0, &count));
    EXPECT_EQ(1, count);
    EXPECT_EQ(1, camera.Calls(Op::ReadMultiple));
    EXPECT_EQ(3, camera.Calls(Op::GetItemType)) << "the root, DCIM and the new item";
    // Met out of order, the items are still known by their objects, the new one too.
    std::swap(dcim().children[0], dcim().children.back());
    std::swap(dcim().children[1], dcim().children[20]);
    camera.ClearLog();
    ASSERT_EQ(kOk, lib.ListNewCameraItems(handle, 0, &count));
    EXPECT_EQ(0, count);
    EXPECT_EQ(0, camera.Calls(Op::ReadMultiple));
    EXPECT_EQ(2, camera.Calls(Op::GetItemType));

    dcim().Add(L"GONE", kImage | kFile);
    dcim().Add(L"KEPT", kImage | kFile);
    camera.FailOn(Op::ReadMultiple, wia::kWiaErrorItemDeleted);
    ASSERT_EQ(kOk, lib.ListNewCameraItems(handle, 0, &count));
    ASSERT_EQ(1, count);
    EXPECT_EQ(L"KEPT.jpg", Text(0, kFileName));
    ASSERT_EQ(kOk, lib.ListNewCameraItems(handle, 0, &count));
    EXPECT_EQ(1, count) << "an item that only seemed gone is new at the next look";
    EXPECT_EQ(L"GONE.jpg", Text(0, kFileName));
}

TEST_F(ContentsTest, NewItemsRefusalsAndFailuresChangeNeitherTheListNorWhatIsSeen) {
    Reconnecting(false);  // the failure's own status, not a device opened again
    int count = kSentinel;
    ASSERT_EQ(kOk, lib.ListNewCameraItems(handle, 0, &count));
    dcim().Add(L"IMG_0004", kImage | kFile);
    ASSERT_EQ(kOk, lib.ListNewCameraItems(handle, 0, &count));
    ASSERT_EQ(1, count);
    dcim().Add(L"IMG_0005", kImage | kFile);
    const struct {
        FOTEX_DEVICE device;
        int flags;
        bool nullCount;
        Op op;
        HRESULT hr;
        int nth;
        int status;
    } cases[] = {
        {0, 0, false, Op::Count, S_OK, 0, kHandle},
        {1, 0, true, Op::Count, S_OK, 0, kPointer},
        {1, 2, false, Op::Count, S_OK, 0, kInvalidArg},
        {1, -1, false, Op::Count, S_OK, 0, kInvalidArg},
        {1, 0, false, Op::ItemNext, wia::kWiaErrorOffline, 2, kOffline},  // DCIM's items, asked for in batches
        {1, 0, false, Op::GetItemType, 2, 3, kFail},  // the new picture's, after the root's and DCIM's
        {1, 0, false, Op::ReadMultiple, E_OUTOFMEMORY, 1, static_cast<int>(E_OUTOFMEMORY)},
        {1, 0, false, Op::QueryPropertyStorage, E_NOINTERFACE, 1, static_cast<int>(E_NOINTERFACE)},
        {1, 1, false, Op::ItemNext, E_FAIL, 2, kFail},
        {1, 0, false, Op::ItemNext, S_OK, 2, kFail},  // a success without an item
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        if (cases[i].op != Op::Count) camera.FailOn(cases[i].op, cases[i].hr, cases[i].nth);
        count = kSentinel;
        EXPECT_EQ(cases[i].status, lib.ListNewCameraItems(cases[i].device ? handle : 0, cases[i].flags,
                                                          cases[i].nullCount ? nullptr : &count)) << "case " << i;
        camera.ClearFaults();
        EXPECT_EQ(kSentinel, count) << "case " << i;
        EXPECT_EQ(L"IMG_0004.jpg", Text(0, kFileName)) << "case " << i << ": the list is as it was";
        EXPECT_EQ(L"[" + std::to_wstring(kBounds) + L"]", Text(1, kFileName)) << "case " << i;
    }
    ASSERT_EQ(kOk, lib.ListNewCameraItems(handle, 0, &count));
    EXPECT_EQ(1, count) << "what failed looks did not see is new now";
    EXPECT_EQ(L"IMG_0005.jpg", Text(0, kFileName));
    EXPECT_EQ("", Output());
}

// A careless service that hands one item object out at two places of its tree: the looks keep it
// as one seen item, with one reference, and a close gives it back.
TEST_F(ContentsTest, NewItemsMetTwiceInOneWalkAreSeenOnce) {
    int count = kSentinel;
    ASSERT_EQ(kOk, lib.ListNewCameraItems(handle, 0, &count));
    dcim().children.push_back(dcim().children[0]);
    for (int look = 0; look < 2; ++look) {
        ASSERT_EQ(kOk, lib.ListNewCameraItems(handle, 0, &count)) << "look " << look;
        EXPECT_EQ(0, count) << "look " << look;
    }
    dcim().children.pop_back();
    lib.CloseWiaDevice(&handle);
    EXPECT_TRUE(Ledger(0));
    handle = Open();
}

TEST_F(ContentsTest, NewItemsInsideALookOfTheSameHandleAreRefusedAndACloseLeavesNothing) {
    int count = kSentinel, inner = kSentinel, innerStatus = 0, listed = kSentinel;
    ASSERT_EQ(kOk, lib.ListNewCameraItems(handle, 0, &count));
    dcim().Add(L"IMG_0004", kImage | kFile);
    Inside(camera, Op::GetItemType, 3, [&] {  // the new picture's, after the root's and DCIM's
        innerStatus = lib.ListNewCameraItems(handle, 0, &inner);
        lib.ListCameraItems(handle, &listed);
    });
    ASSERT_EQ(kOk, lib.ListNewCameraItems(handle, 0, &count));
    camera.onCall = nullptr;
    EXPECT_EQ(kBusy, innerStatus);
    EXPECT_EQ(kSentinel, inner);
    EXPECT_EQ(5, listed);
    EXPECT_EQ(1, count);
    EXPECT_EQ(L"IMG_0004.jpg", Text(0, kFileName)) << "the outer look is published last";
    EXPECT_EQ(L"[" + std::to_wstring(kBounds) + L"]", Text(1, kFileName));

    dcim().Add(L"IMG_0005", kImage | kFile);
    const FOTEX_DEVICE device = handle;
    Inside(camera, Op::ReadMultiple, 1, [&] { lib.CloseWiaDevice(&handle); });
    EXPECT_EQ(kOk, lib.ListNewCameraItems(device, 0, &count));
    camera.onCall = nullptr;
    EXPECT_EQ(1, count);
    EXPECT_TRUE(Ledger(0)) << "a handle given back during the look keeps neither list nor seen items";
    handle = Open();
}

// The call holds the device for its own length: the walk goes on into a root given back at its
// very first service call.
TEST_F(ContentsTest, CloseInsideTransferAllImagesOfThatDeviceLetsTheWalkEnd) {
    Picture(3).formats = {wia::WiaImgFmt_AVI, wia::WiaImgFmt_JPEG};  // a still of the video too
    const FOTEX_DEVICE device = handle;
    Inside(camera, Op::GetItemType, 1, [&] { lib.CloseWiaDevice(&handle); });
    char folder[MAX_PATH];
    std::snprintf(folder, sizeof folder, "%ls", dir.c_str());
    lib.TransferAllImages(device, folder, "all", 3, 0);
    camera.onCall = nullptr;
    EXPECT_EQ(4u, Files().size()) << "three pictures and a video";
    EXPECT_TRUE(Ledger(0));
    EXPECT_EQ("", Output());
    handle = Open();
}

// Numbers are taken before each transfer, so a walk run from a handler inside another never
// hands out a number twice.
TEST_F(ContentsTest, TransferAllImagesInsideAnotherNumbersEachFileOnce) {
    char folder[MAX_PATH];
    std::snprintf(folder, sizeof folder, "%ls", dir.c_str());
    Picture(3).formats = {wia::WiaImgFmt_AVI, wia::WiaImgFmt_BMP};  // a still of the video too
    Inside(camera, Op::GetData, 1, [&] { lib.TransferAllImages(handle, folder, "in", 0, 0); });
    lib.TransferAllImages(handle, folder, "out", 0, 0);
    camera.onCall = nullptr;
    const std::vector<std::wstring> expected = {L"in       0.bmp", L"in       1.bmp", L"in       2.bmp", L"in       3.bmp",
                                                L"out       0.bmp", L"out       1.bmp", L"out       4.bmp", L"out       5.bmp"};
    EXPECT_EQ(expected, Files());
    EXPECT_TRUE(Ledger(1));
}

TEST_F(ContentsTest, CloseInsideASaveOfAnItemOfThatDevice) {
    ASSERT_EQ(4, List());
    FOTEX_ITEM item = OpenItem(1);
    Inside(camera, Op::GetData, 1, [&] { lib.CloseWiaDevice(&handle); });
    EXPECT_EQ(kOk, lib.SaveCameraItem(item, At(L"during-close.jpg").c_str(), 3, kDelete));
    camera.onCall = nullptr;
    EXPECT_TRUE(IsJpeg(ReadAll(At(L"during-close.jpg"))));
    EXPECT_EQ(3, Media());
    EXPECT_TRUE(Ledger(1)) << "the item's handle alone";
    lib.ReleaseCameraItem(&item);
    EXPECT_TRUE(Ledger(0));
    handle = Open();
}

// The host gives back the very handle that is being saved: the save holds the item for its
// own length and ends as it would have.
TEST_F(ContentsTest, ReleaseInsideASaveOfThatItem) {
    ASSERT_EQ(4, List());
    FOTEX_ITEM item = OpenItem(1);
    lib.CloseWiaDevice(&handle);
    const FOTEX_ITEM saved = item;
    Inside(camera, Op::WriteMultiple, 1, [&] { lib.ReleaseCameraItem(&item); });
    EXPECT_EQ(kOk, lib.SaveCameraItem(saved, At(L"during-release.jpg").c_str(), 3, 0));
    camera.onCall = nullptr;
    EXPECT_EQ(0, item);
    EXPECT_TRUE(IsJpeg(ReadAll(At(L"during-release.jpg"))));
    EXPECT_TRUE(Ledger(0));
    handle = Open();
}

// Inside a listing the Get functions and OpenCameraItem read the list made before it, which
// stays whole until the new one replaces it.
TEST_F(ContentsTest, TextAndOpenInsideAListingReadTheListBeforeIt) {
    ASSERT_EQ(4, List());
    dcim().children.erase(dcim().children.begin());  // IMG_0001 leaves the camera
    std::wstring during;
    FOTEX_ITEM opened = kNoItem;
    int openStatus = 0;
    Inside(camera, Op::ReadMultiple, 4, [&] {
        during = Text(0, kFullName);
        openStatus = lib.OpenCameraItem(handle, 0, &opened);
    });
    EXPECT_EQ(3, List());
    camera.onCall = nullptr;
    EXPECT_EQ(L"0000\\Root\\DCIM\\IMG_0001", during);
    ASSERT_EQ(kOk, openStatus);
    EXPECT_EQ(L"IMG_0002.jpg", Text(0, kFileName));
    EXPECT_TRUE(Ledger(1 + 3 + 1)) << "the opened item outlives the list it came from";
    EXPECT_EQ(kOk, lib.SaveCameraItem(opened, At(L"first.jpg").c_str(), 3, 0));
    lib.ReleaseCameraItem(&opened);
    EXPECT_TRUE(Ledger(1 + 3));
}

// ---- a list goes with its handle -------------------------------------------------------------

TEST_F(ContentsTest, ListOfAnItemHandleGoesWithTheHandle) {
    for (int way = 0; way < 2; ++way) {
        FOTEX_ITEM folder = kNoItem;
        ASSERT_EQ(kOk, lib.FindCameraItem(handle, L"0000\\Root\\DCIM", &folder));
        int count = kSentinel;
        ASSERT_EQ(kOk, lib.ListCameraItems(folder, &count));
        EXPECT_EQ(4, count);
        EXPECT_EQ(L"0000\\Root\\DCIM\\MOV_0001", Text(3, kFullName, folder));
        EXPECT_TRUE(Ledger(1 + 1 + 4)) << way;
        if (way == 0) {
            lib.ReleaseCameraItem(&folder);
        } else {
            // TransferPicture consumes the handle.
            char name[MAX_PATH];
            std::snprintf(name, sizeof name, "%ls", At(L"folder").c_str());
            lib.TransferPicture(folder, name, 3, 0);
        }
        EXPECT_TRUE(Ledger(1)) << "no list outlives its handle: " << way;
    }
    Output();
}

// ---- folders and refused formats -------------------------------------------------------------

TEST_F(ContentsTest, FolderItemIsRefusedAndNothingIsWritten) {
    FOTEX_ITEM folder = kNoItem;
    ASSERT_EQ(kOk, lib.FindCameraItem(handle, L"0000\\Root\\DCIM", &folder));
    camera.ClearLog();
    for (FOTEX_ITEM item : {folder, static_cast<FOTEX_ITEM>(handle)}) {
        EXPECT_EQ(kIsFolder, lib.SaveCameraItem(item, At(L"f.jpg").c_str(), 3, kDelete | kReplace));
        EXPECT_EQ(kIsFolder, lib.SaveCameraThumbnail(item, At(L"f.bmp").c_str(), kReplace));
    }
    EXPECT_EQ(0, camera.Calls(Op::WriteMultiple));
    EXPECT_EQ(0, camera.Calls(Op::GetData));
    EXPECT_EQ(0, camera.Calls(Op::DeleteItem));
    EXPECT_TRUE(Files().empty());
    EXPECT_EQ(4, Media());
    // The type is read from the camera; without it nothing is written either.
    camera.FailOn(Op::GetItemType, kOffline);
    EXPECT_EQ(kOffline, lib.SaveCameraItem(folder, At(L"f.jpg").c_str(), 3, 0));
    camera.FailOn(Op::GetItemType, S_FALSE);
    EXPECT_EQ(kFail, lib.SaveCameraThumbnail(folder, At(L"f.bmp").c_str(), 0));
    EXPECT_TRUE(Files().empty());
    lib.ReleaseCameraItem(&folder);
    // A picture with attachments is no folder.
    Picture(0).type |= kAttachments;
    ASSERT_EQ(4, List());
    FOTEX_ITEM item = OpenItem(0);
    EXPECT_EQ(kOk, lib.SaveCameraItem(item, At(L"p.jpg").c_str(), 3, 0));
    EXPECT_EQ(kOk, lib.SaveCameraThumbnail(item, At(L"p.bmp").c_str(), 0));
    lib.ReleaseCameraItem(&item);
    EXPECT_EQ("", Output());
}

TEST_F(ContentsTest, RefusedFormatHasItsOwnStatusAndOtherWriteFailuresTheirs) {
    Picture(0).formats = {wia::WiaImgFmt_JPEG};
    ASSERT_EQ(4, List());
    FOTEX_ITEM item = OpenItem(0);
    EXPECT_EQ(kFormat, lib.SaveCameraItem(item, At(L"refused.bmp").c_str(), 0, kDelete));
    const struct {
        HRESULT hr;
        int status;
    } cases[] = {{E_INVALIDARG, kFormat}, {E_ACCESSDENIED, static_cast<int>(E_ACCESSDENIED)}, {kOffline, kOffline}};
    for (size_t i = 0; i < std::size(cases); ++i) {
        camera.FailOn(Op::WriteMultiple, cases[i].hr);
        EXPECT_EQ(cases[i].status, lib.SaveCameraItem(item, At(L"refused.jpg").c_str(), 3, kDelete)) << "case " << i;
    }
    // A refusal after the write is the transfer's own: the service failed, not the call.
    camera.FailOn(Op::GetData, E_INVALIDARG);
    EXPECT_EQ(kFail, lib.SaveCameraItem(item, At(L"refused.jpg").c_str(), 3, kDelete));
    EXPECT_TRUE(Files().empty());
    EXPECT_EQ(4, Media());
    lib.ReleaseCameraItem(&item);
}

// ---- nothing is deleted before its file is safe on disk ---------------------------------------

std::vector<std::string> g_diskSteps;
BOOL g_flushFails = FALSE;
BOOL WINAPI RecordingFlush(HANDLE file) {
    LARGE_INTEGER size{};
    GetFileSizeEx(file, &size);
    g_diskSteps.push_back(size.QuadPart > 0 ? "flush" : "flush of an empty file");
    if (g_flushFails) {
        SetLastError(ERROR_WRITE_FAULT);
        return FALSE;
    }
    return FlushFileBuffers(file);
}
BOOL WINAPI RecordingMove(LPCWSTR from, LPCWSTR to, DWORD flags) {
    g_diskSteps.push_back("move " + std::to_string(flags));
    return MoveFileExW(from, to, flags);
}

TEST_F(ContentsTest, DeletedItemsFileIsFlushedAndMovedThroughFirst) {
    ASSERT_NE(nullptr, fotextest::PatchImport(lib.module(), "kernel32.dll", "FlushFileBuffers", reinterpret_cast<void*>(&RecordingFlush)));
    ASSERT_NE(nullptr, fotextest::PatchImport(lib.module(), "kernel32.dll", "MoveFileExW", reinterpret_cast<void*>(&RecordingMove)));
    camera.onCall = [](Op op) {
        if (op == Op::DeleteItem) g_diskSteps.push_back("delete");
    };
    ASSERT_EQ(4, List());
    FOTEX_ITEM item = OpenItem(0);
    g_diskSteps.clear();
    EXPECT_EQ(kOk, lib.SaveCameraItem(item, At(L"moved.jpg").c_str(), 3, kDelete));
    const std::vector<std::string> durable = {"flush", "move " + std::to_string(MOVEFILE_WRITE_THROUGH), "delete"};
    EXPECT_EQ(durable, g_diskSteps);
    lib.ReleaseCameraItem(&item);
    // Kept on the camera, a file needs no flush.
    item = OpenItem(1);
    g_diskSteps.clear();
    EXPECT_EQ(kOk, lib.SaveCameraItem(item, At(L"copied.jpg").c_str(), 3, kReplace));
    EXPECT_EQ(std::vector<std::string>{"move " + std::to_string(MOVEFILE_REPLACE_EXISTING)}, g_diskSteps);
    // A flush that fails keeps the item and leaves no file.
    g_diskSteps.clear();
    g_flushFails = TRUE;
    EXPECT_EQ(static_cast<int>(0x8007001D), lib.SaveCameraItem(item, At(L"unsafe.jpg").c_str(), 3, kDelete));
    g_flushFails = FALSE;
    EXPECT_EQ(std::vector<std::string>{"flush"}, g_diskSteps);
    EXPECT_FALSE(Exists(At(L"unsafe.jpg")));
    EXPECT_EQ(3, Media());
    camera.onCall = nullptr;
    lib.ReleaseCameraItem(&item);
    EXPECT_EQ((std::vector<std::wstring>{L"copied.jpg", L"moved.jpg"}), Files());
}

// ---- GetCameraItemText -----------------------------------------------------------------------

TEST_F(ContentsTest, TextsAreFileNameFullNameAndTime) {
    Picture(1).time = {2027, 2, 0, 28, 23, 5, 9, 999};
    ASSERT_EQ(4, List());
    EXPECT_EQ(L"IMG_0002.jpg", Text(1, kFileName));
    EXPECT_EQ(L"0000\\Root\\DCIM\\IMG_0002", Text(1, kFullName));
    EXPECT_EQ(L"2027-02-28T23:05:09", Text(1, kTime));
    EXPECT_EQ(L"MOV_0001.avi", Text(3, kFileName));
    EXPECT_EQ(L"2026-12-01T09:00:00", Text(0, kTime));
    EXPECT_EQ("", Output());
}

TEST_F(ContentsTest, FileNameTakesTheExtensionOnlyWhenThereIsOne) {
    Picture(0).props[wia::kIpaFilenameExtension].value = Value::Text(L"");
    Picture(1).lacks = {wia::kIpaFilenameExtension};
    Picture(2).props[wia::kIpaFilenameExtension].value = Value::Int(3);
    Picture(2).name = L"name.with.dots";
    ASSERT_EQ(4, List());
    EXPECT_EQ(L"IMG_0001", Text(0, kFileName));
    EXPECT_EQ(L"IMG_0002", Text(1, kFileName));
    EXPECT_EQ(L"name.with.dots", Text(2, kFileName));
}

TEST_F(ContentsTest, TextThatDoesNotFitWritesNothing) {
    ASSERT_EQ(4, List());
    const int exact = static_cast<int>(sizeof(L"IMG_0001.jpg"));  // 13 units with the terminator
    for (int bytes : {exact - 1, exact - 2, 2, 1, 0, -1, INT_MIN}) {
        Guarded<64> text;
        EXPECT_EQ(kSmallBuffer, lib.GetCameraItemText(handle, 0, kFileName, text.data(), bytes)) << bytes;
        EXPECT_TRUE(text.Untouched()) << bytes;
        EXPECT_TRUE(text.GuardsIntact()) << bytes;
    }
    Guarded<64> text;
    EXPECT_EQ(kOk, lib.GetCameraItemText(handle, 0, kFileName, text.data(), exact));
    EXPECT_EQ(L"IMG_0001.jpg", std::wstring(reinterpret_cast<const wchar_t*>(text.data())));
    EXPECT_EQ(Guarded<64>::kSentinel, text.data()[exact]) << "nothing after the terminator";
}

TEST_F(ContentsTest, TextStatusesLeaveTheBufferUntouched) {
    Picture(0).lacks = {wia::kIpaItemName, wia::kIpaFullItemName};
    Picture(1).props[wia::kIpaItemTime].value = Value::Text(L"yesterday");
    Picture(2).props[wia::kIpaItemTime].value = Value::Words({2026, 12, 2});
    ASSERT_EQ(4, List());
    const struct {
        FOTEX_DEVICE device;
        int index, what;
        bool buffer;
        int status;
    } cases[] = {
        {0, 3, kFileName, true, kHandle},
        {1, 3, kFileName, false, kPointer},
        {1, 3, 0, true, kInvalidArg},
        {1, 3, 4, true, kInvalidArg},
        {1, 3, -1, true, kInvalidArg},
        {1, -1, kFileName, true, kBounds},
        {1, 4, kFileName, true, kBounds},
        {1, INT_MAX, kFileName, true, kBounds},
        {1, INT_MIN, kFileName, true, kBounds},
        {1, 0, kFileName, true, kNotFound},
        {1, 0, kFullName, true, kNotFound},
        {1, 1, kTime, true, kNotFound},
        {1, 2, kTime, true, kNotFound},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        Guarded<256> text;
        const FOTEX_DEVICE device = cases[i].device ? handle : 0;
        EXPECT_EQ(cases[i].status,
                  lib.GetCameraItemText(device, cases[i].index, cases[i].what, cases[i].buffer ? text.data() : nullptr, 256))
            << "case " << i;
        EXPECT_TRUE(text.Untouched()) << "case " << i;
    }
    EXPECT_EQ("", Output());
}

TEST_F(ContentsTest, ServiceFailuresOfTheGetFunctionsAreTheirOwn) {
    // Listed while the service gives no item's property storage: the facts are read when asked
    // (and out of process the storage is then asked for anew).
    camera.FailOn(Op::QueryPropertyStorage, E_NOINTERFACE, 1, -1);
    ASSERT_EQ(4, List());
    camera.ClearFaults();
    const struct {
        Op op;
        HRESULT hr;
    } cases[] = {{Op::QueryPropertyStorage, E_NOINTERFACE}, {Op::ReadMultiple, E_FAIL}, {Op::ReadMultiple, kOffline}};
    for (size_t i = 0; i < std::size(cases); ++i) {
        Guarded<256> text;
        camera.FailOn(cases[i].op, cases[i].hr);
        EXPECT_EQ(cases[i].hr, lib.GetCameraItemText(handle, 0, kFullName, text.data(), 256)) << "case " << i;
        EXPECT_TRUE(text.Untouched()) << "case " << i;
        int value = kSentinel;
        camera.FailOn(cases[i].op, cases[i].hr);
        EXPECT_EQ(cases[i].hr, lib.GetCameraItemValue(handle, 0, kSize, &value)) << "case " << i;
        EXPECT_EQ(kSentinel, value) << "case " << i;
    }
    // A read of a deleted item is answered by the service.
    Picture(0).deleted = true;
    int value = kSentinel;
    EXPECT_EQ(kItemDeleted, lib.GetCameraItemValue(handle, 0, kSize, &value));
    EXPECT_EQ(kSentinel, value);
    EXPECT_EQ(kOk, lib.GetCameraItemValue(handle, 0, kType, &value)) << "the type is the list's own";
    EXPECT_EQ("", Output());
}

// The statuses that tell a caller to change its call come only from the library's own checks:
// the same number from the service is a failed service, and a vanished server says so.
TEST_F(ContentsTest, ServiceStatusesNeverReadAsTheCallersMistakes) {
    constexpr int kDisconnected = static_cast<int>(0x80010108);
    const struct {
        HRESULT hr;
        int status;
    } statuses[] = {
        {static_cast<HRESULT>(0x80070006), kFail},         {static_cast<HRESULT>(0x80004003), kFail},
        {static_cast<HRESULT>(0x80070057), kFail},         {static_cast<HRESULT>(0x8000000B), kFail},
        {static_cast<HRESULT>(0x8007007A), kFail},         {static_cast<HRESULT>(0x800700EA), kFail},
        {static_cast<HRESULT>(0x800706BA), kDisconnected}, {static_cast<HRESULT>(0x800706BE), kDisconnected},
        {static_cast<HRESULT>(0x800706BF), kDisconnected}, {static_cast<HRESULT>(0x800401FD), kDisconnected},
        {static_cast<HRESULT>(0x80010108), kDisconnected},
    };
    Reconnecting(false);  // the failure's own status, not a device opened again
    Picture(1).props[wia::kIpaTymed].allowed = {TYMED_FILE};  // read through a temporary file
    ASSERT_EQ(4, List());
    FOTEX_ITEM memory = OpenItem(0), file = OpenItem(1);
    int flash = kSentinel;
    ASSERT_EQ(kOk, lib.GetSetting(handle, 2056, &flash));
    int value = kSentinel, access = kSentinel, kind = kSentinel, nominal = kSentinel, count = kSentinel;
    int values[4] = {kSentinel, kSentinel, kSentinel, kSentinel};
    FOTEX_ITEM found = kNoItem;
    Guarded<256> text;
    const struct {
        const char* name;
        Op op;
        std::function<int()> call;
        bool unread = false;  // the item listed without its facts, which are then read when asked
    } calls[] = {
        {"ReadCameraItem", Op::GetBandedData, [&] { return lib.ReadCameraItem(memory, 3, nullptr, 0, &value, nullptr, nullptr); }},
        {"ReadCameraItem through a file", Op::GetData,
         [&] { return lib.ReadCameraItem(file, 3, text.data(), 256, &value, nullptr, nullptr); }},
        {"ReadCameraThumbnail", Op::ReadMultiple, [&] { return lib.ReadCameraThumbnail(memory, nullptr, 0, &value); }},
        {"SaveCameraItem", Op::GetData, [&] { return lib.SaveCameraItem(memory, At(L"x.jpg").c_str(), 3, 0); }},
        {"SaveCameraThumbnail", Op::ReadMultiple, [&] { return lib.SaveCameraThumbnail(memory, At(L"x.bmp").c_str(), 0); }},
        {"GetItemText", Op::ReadMultiple, [&] { return lib.GetItemText(memory, kFullName, text.data(), 256); }},
        {"GetItemValue", Op::ReadMultiple, [&] { return lib.GetItemValue(memory, kSize, &value); }},
        {"GetItemValue of the type", Op::GetItemType, [&] { return lib.GetItemValue(memory, kType, &value); }},
        {"GetCameraItemText", Op::ReadMultiple, [&] { return lib.GetCameraItemText(handle, 0, kTime, text.data(), 256); },
         true},
        {"GetCameraItemValue", Op::ReadMultiple, [&] { return lib.GetCameraItemValue(handle, 0, kThumbWidth, &value); },
         true},
        {"FindCameraItem", Op::FindItemByName, [&] { return lib.FindCameraItem(handle, L"0000\\Root", &found); }},
        {"DeleteCameraItem", Op::DeleteItem, [&] { return lib.DeleteCameraItem(file); }},
        {"ListCameraItems", Op::EnumChildItems, [&] { return lib.ListCameraItems(handle, &count); }},
        {"ListCameraItems, an item", Op::ItemNext, [&] { return lib.ListCameraItems(handle, &count); }},
        {"ListNewCameraItems, an item", Op::ItemNext, [&] { return lib.ListNewCameraItems(handle, 0, &count); }},
        {"ListNewCameraItems, a type", Op::GetItemType, [&] { return lib.ListNewCameraItems(handle, 0, &count); }},
        {"GetSetting", Op::ReadMultiple, [&] { return lib.GetSetting(handle, 2056, &value); }},
        {"SetSetting", Op::WriteMultiple, [&] { return lib.SetSetting(handle, 2056, flash); }},
        {"GetSettingText", Op::ReadMultiple,
         [&] { return lib.GetSettingText(handle, 2091, text.data(), 256); }},
        {"SetSettingText", Op::WriteMultiple, [&] { return lib.SetSettingText(handle, 2091, L"Ann"); }},
        {"GetSettingChoices", Op::GetPropertyAttributes,
         [&] { return lib.GetSettingChoices(handle, 2056, &access, &kind, &nominal, values, 4, &count); }},
        {"WaitForCameraEvent", Op::RegisterEventCallback,
         [&] { return lib.WaitForCameraEvent(0, &kind, text.data(), 256, nullptr, 0); }},
    };
    for (const auto& s : statuses) {
        for (const auto& c : calls) {
            const long asked = camera.Calls(Op::QueryPropertyStorage);
            if (c.unread) camera.FailOn(Op::QueryPropertyStorage, E_NOINTERFACE, 1, -1);
            ASSERT_EQ(4, List());
            camera.ClearFaults();
            // Out of process the proxies answer the query themselves once asked: the facts were read.
            if (c.unread && camera.Calls(Op::QueryPropertyStorage) - asked < 6) continue;  // the root, DCIM, four items
            camera.FailOn(c.op, s.hr);
            EXPECT_EQ(s.status, c.call()) << c.name << " when the service fails with " << std::hex << s.hr;
            camera.ClearFaults();
            EXPECT_EQ(kSentinel, value) << c.name;
            EXPECT_TRUE(text.Untouched()) << c.name;
            EXPECT_EQ(kNoItem, found) << c.name;
            EXPECT_EQ(kSentinel, access) << c.name;
            EXPECT_EQ(kSentinel, nominal) << c.name;
            EXPECT_EQ(std::vector<int>(4, kSentinel), std::vector<int>(values, values + 4)) << c.name;
            EXPECT_EQ(kSentinel, count) << c.name;
            EXPECT_EQ(kSentinel, kind) << c.name;
        }
    }
    EXPECT_EQ(5u, camera.ItemsOf(camera.devices[0]).size()) << "nothing deleted";
    EXPECT_TRUE(Files().empty());
    lib.ReleaseCameraItem(&memory);
    lib.ReleaseCameraItem(&file);
    lib.StopCameraEvents();
    EXPECT_EQ("", Output());
}

TEST_F(ContentsTest, GetFunctionsNeitherWalkNorChangeTheList) {
    ASSERT_EQ(4, List());
    camera.ClearLog();
    for (int i = 0; i < 4; ++i) {
        for (int what : {kFileName, kFullName, kTime}) Text(i, what);
        for (int what : {kType, kSize, kThumbWidth, kThumbHeight}) Value(i, what);
    }
    EXPECT_EQ(0, camera.TotalCalls()) << "the facts are the list's own";
    EXPECT_TRUE(Ledger(5));
}

// ---- what the listing reads ------------------------------------------------------------------

// The listing reads each item once, its type flags (WIA_IPA_ITEM_FLAGS) with every fact, and asks
// each folder's enumerator for 32 items a call; reading the listed items' facts then makes no
// call. TransferAllImages walks as ever: an item a call, its type asked for.
TEST_F(ContentsTest, ListingReadsEachItemOnceAndAsksForItemsInBatches) {
    const std::string folder(dir.begin(), dir.end());
    const struct {
        size_t media;
        int nexts;  // the root's one (DCIM, then the end), then DCIM's: 32 a call, the end with fewer
    } sizes[] = {{4, 2}, {31, 2}, {32, 3}, {33, 3}, {70, 4}};
    Picture(3).type = kImage | kFile;  // a video would end the walk of JPEG transfers
    for (const auto& size : sizes) {
        while (dcim().children.size() < size.media)
            dcim().Add(L"IMG_" + std::to_wstring(1000 + dcim().children.size()), kImage | kFile);
        const int n = static_cast<int>(size.media);
        camera.ClearLog();
        ASSERT_EQ(n, List());
        EXPECT_EQ(size.nexts, camera.Calls(Op::ItemNext)) << n;
        EXPECT_EQ(0, camera.Calls(Op::GetItemType)) << n;
        EXPECT_EQ(n + 2, camera.Calls(Op::ReadMultiple)) << n << ": the root, DCIM, each item";
        EXPECT_EQ(std::vector<PROPID>({4101, 4098, 4123, 4099, 4100, 4116, 5123, 5124, 4105}), camera.last.read);
        camera.ClearLog();
        for (int i = 0; i < n; ++i) {
            for (int what : {kFileName, kFullName, kTime}) EXPECT_NE(L'[', Text(i, what).front()) << i;
            int status = 0;
            for (int what : {kType, kSize, kThumbWidth, kThumbHeight, kOwnFormat}) Value(i, what, &status);
        }
        EXPECT_EQ(0, camera.TotalCalls()) << n;

        camera.FailOn(Op::GetData, S_OK, 1, -1);  // nothing written
        camera.ClearLog();
        lib.TransferAllImages(handle, folder.c_str(), "t", 3, 0);
        camera.ClearFaults();
        EXPECT_EQ(n + 2, camera.Calls(Op::GetItemType)) << n;
        EXPECT_EQ(n + 3, camera.Calls(Op::ItemNext)) << n << ": one each, and each folder's end";
    }
    EXPECT_EQ("", Output());
}

TEST_F(ContentsTest, ListedFactsAreTheListingsWhileItemHandlesReadTheCamera) {
    ASSERT_EQ(4, List());
    Picture(0).name = L"Renamed";
    Picture(0).time.wYear = 2030;
    FOTEX_ITEM item = OpenItem(0);
    EXPECT_EQ(L"IMG_0001.jpg", Text(0, kFileName)) << "as listed";
    EXPECT_EQ(L"2026", Text(0, kTime).substr(0, 4));
    Guarded<256> text;
    ASSERT_EQ(kOk, lib.GetItemText(item, kFileName, text.data(), 256));
    EXPECT_EQ(std::wstring(L"Renamed.jpg"), reinterpret_cast<const wchar_t*>(text.data()));
    ASSERT_EQ(4, List());
    EXPECT_EQ(L"Renamed.jpg", Text(0, kFileName)) << "listed again";
    EXPECT_EQ(L"2030", Text(0, kTime).substr(0, 4));
    lib.ReleaseCameraItem(&item);
    EXPECT_EQ("", Output());
}

// An item the listing could not read whole is listed all the same: its type asked for, its facts
// read from the camera when asked.
TEST_F(ContentsTest, ItemsListedWithoutTheirFactsReadThemWhenAsked) {
    const struct {
        const char* what;
        std::function<void()> arrange;  // for the second picture, the listing's fourth read
        int typeReads;                  // GetItemType in the listing
        int reads;                      // the camera's reads for its file name afterwards
    } cases[] = {
        {"no type flags", [&] { Picture(1).lacks.push_back(wia::kIpaItemFlags); }, 1, 0},
        {"the read refused", [&] { camera.FailOn(Op::ReadMultiple, E_FAIL, 4); }, 1, 1},
        {"the read busy, then answered", [&] { camera.FailOn(Op::ReadMultiple, wia::kWiaErrorBusy, 4); }, 0, 0},
        // The refusal is first taken for a proxy whose server may have ended: a type read asks.
        {"no property storage", [&] { camera.FailOn(Op::QueryPropertyStorage, E_NOINTERFACE, 4); }, 2, 1},
    };
    for (const auto& c : cases) {
        Picture(1).lacks.clear();
        camera.ClearLog();
        c.arrange();
        ASSERT_EQ(4, List()) << c.what;
        camera.ClearFaults();
        EXPECT_EQ(c.typeReads, camera.Calls(Op::GetItemType)) << c.what;
        EXPECT_EQ(kImage | kFile, Value(1, kType) & (kImage | kFile)) << c.what;
        camera.ClearLog();
        EXPECT_EQ(L"IMG_0002.jpg", Text(1, kFileName)) << c.what;
        EXPECT_EQ(L"IMG_0001.jpg", Text(0, kFileName)) << c.what;
        EXPECT_EQ(c.reads, camera.Calls(Op::ReadMultiple)) << c.what;
        Output();  // the busy wait's trace line
    }
}

// ---- GetCameraItemValue ----------------------------------------------------------------------

TEST_F(ContentsTest, ValuesAreTypeSizeAndThumbnailSize) {
    Picture(2).thumbWidth = 90;
    Picture(2).thumbHeight = 67;
    ASSERT_EQ(4, List());
    EXPECT_EQ(kImage | kFile, Value(0, kType));
    EXPECT_EQ(kVideo | kFile, Value(3, kType));
    EXPECT_EQ(160, Value(0, kThumbWidth));
    EXPECT_EQ(120, Value(0, kThumbHeight));
    EXPECT_EQ(90, Value(2, kThumbWidth));
    EXPECT_EQ(67, Value(2, kThumbHeight));
    // The size is that of the file the item gives in its format.
    FOTEX_ITEM item = OpenItem(0);
    ASSERT_EQ(kOk, lib.SaveCameraItem(item, At(L"first.jpg").c_str(), 3, 0));
    lib.ReleaseCameraItem(&item);
    EXPECT_EQ(static_cast<int>(ReadAll(At(L"first.jpg")).size()), Value(0, kSize));
}

TEST_F(ContentsTest, ItemNumbersComeInAnyIntegerType) {
    Picture(0).thumbWidth = 100;
    Picture(0).thumbHeight = 75;
    ASSERT_EQ(4, List());
    FOTEX_ITEM item = OpenItem(0);
    for (const VARTYPE type : {VT_I1, VT_UI1, VT_I2, VT_UI2, VT_I4, VT_UI4, VT_INT, VT_UINT, VT_I8, VT_UI8}) {
        Picture(0).props[wia::kIpcThumbWidth].value = fotexsim::Value::Integer(type, 100);
        Picture(0).props[wia::kIpcThumbHeight].value = fotexsim::Value::Integer(type, 75);
        Picture(0).props[wia::kIpaItemSize].value = fotexsim::Value::Integer(type, 120);
        int width = kSentinel, height = kSentinel, size = kSentinel, bmp = kSentinel;
        EXPECT_EQ(kOk, lib.GetItemValue(item, kThumbWidth, &width)) << "type " << type;
        EXPECT_EQ(kOk, lib.GetCameraItemValue(handle, 0, kThumbHeight, &height)) << "type " << type;
        EXPECT_EQ(kOk, lib.GetItemValue(item, kSize, &size)) << "type " << type;
        EXPECT_EQ(kSmallBuffer, lib.ReadCameraThumbnail(item, nullptr, 0, &bmp)) << "type " << type;
        EXPECT_EQ(100, width) << "type " << type;
        EXPECT_EQ(75, height) << "type " << type;
        EXPECT_EQ(120, size) << "type " << type;
        EXPECT_EQ(54 + 300 * 75, bmp) << "type " << type;
    }
    // Signed values keep their sign; beyond an int is an overflow whatever the type.
    const struct {
        fotexsim::Value given;
        int status, value;
    } edges[] = {
        {fotexsim::Value::Integer(VT_I2, -2), kOk, -2},  {fotexsim::Value::Integer(VT_I8, -2), kOk, -2},
        {fotexsim::Value::Integer(VT_UI2, 65535), kOk, 65535},
        {fotexsim::Value::Integer(VT_I8, 1LL << 31), kOverflow, kSentinel}, {fotexsim::Value::Integer(VT_UI8, 1LL << 31), kOverflow, kSentinel},
        {fotexsim::Value::Integer(VT_UINT, 0x80000000LL), kOverflow, kSentinel},
    };
    for (size_t i = 0; i < std::size(edges); ++i) {
        Picture(0).props[wia::kIpaItemSize].value = edges[i].given;
        int size = kSentinel;
        EXPECT_EQ(edges[i].status, lib.GetItemValue(item, kSize, &size)) << "case " << i;
        EXPECT_EQ(edges[i].value, size) << "case " << i;
    }
    lib.ReleaseCameraItem(&item);
}

TEST_F(ContentsTest, ValueStatusesLeaveTheValueUntouched) {
    Picture(0).props[wia::kIpaItemSize].value = Value::UInt(0x80000000u);
    Picture(1).props[wia::kIpaItemSize].value = Value::Text(L"big");
    Picture(2).lacks = {wia::kIpcThumbnail, wia::kIpcThumbWidth, wia::kIpcThumbHeight};
    ASSERT_EQ(4, List());
    const struct {
        bool device;
        int index, what;
        bool pointer;
        int status;
    } cases[] = {
        {false, 0, kType, true, kHandle},   {true, 0, kType, false, kPointer},    {true, 0, 0, true, kInvalidArg},
        {true, 0, 6, true, kInvalidArg},    {true, 4, kType, true, kBounds},      {true, -1, kSize, true, kBounds},
        {true, 0, kSize, true, kOverflow},  {true, 1, kSize, true, kNotFound},    {true, 2, kThumbWidth, true, kNotFound},
        {true, 2, kThumbHeight, true, kNotFound},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        int value = kSentinel;
        EXPECT_EQ(cases[i].status, lib.GetCameraItemValue(cases[i].device ? handle : 0, cases[i].index, cases[i].what,
                                                          cases[i].pointer ? &value : nullptr))
            << "case " << i;
        EXPECT_EQ(kSentinel, value) << "case " << i;
    }
}

// ---- OpenCameraItem, FindCameraItem, ReleaseCameraItem ----------------------------------------

TEST_F(ContentsTest, OpenedItemOutlivesItsListAndItsDevice) {
    ASSERT_EQ(4, List());
    FOTEX_ITEM item = OpenItem(1);
    ASSERT_NE(0, item);
    EXPECT_TRUE(Ledger(1 + 4 + 1));
    lib.CloseWiaDevice(&handle);
    EXPECT_TRUE(Ledger(1));
    ASSERT_EQ(kOk, lib.SaveCameraItem(item, At(L"kept.jpg").c_str(), 3, 0));
    EXPECT_TRUE(Ledger(1)) << "saving leaves the handle the caller's";
    // TransferPicture consumes it, as it does a new picture's.
    char name[MAX_PATH];
    std::snprintf(name, sizeof name, "%ls", At(L"moved").c_str());
    lib.TransferPicture(item, name, 3, 0);
    EXPECT_TRUE(Ledger(0));
    EXPECT_TRUE(IsJpeg(ReadAll(At(L"moved.jpg"))));
    handle = Open();
}

TEST_F(ContentsTest, OpenStatusesLeaveTheHandleUntouched) {
    ASSERT_EQ(4, List());
    const struct {
        bool device;
        int index;
        bool pointer;
        int status;
    } cases[] = {{false, 0, true, kHandle}, {true, 0, false, kPointer}, {true, 4, true, kBounds}, {true, -1, true, kBounds}};
    for (size_t i = 0; i < std::size(cases); ++i) {
        FOTEX_ITEM item = kNoItem;
        EXPECT_EQ(cases[i].status,
                  lib.OpenCameraItem(cases[i].device ? handle : 0, cases[i].index, cases[i].pointer ? &item : nullptr))
            << "case " << i;
        EXPECT_EQ(kNoItem, item) << "case " << i;
    }
    EXPECT_TRUE(Ledger(5));
}

TEST_F(ContentsTest, FindTakesFullNamesOfListedAndUnlistedItems) {
    Reconnecting(false);  // the failure's own status, not a device opened again
    FOTEX_ITEM item = kNoItem;
    ASSERT_EQ(kOk, lib.FindCameraItem(handle, L"0000\\Root\\DCIM\\IMG_0003", &item));
    ASSERT_EQ(kOk, lib.SaveCameraItem(item, At(L"third.jpg").c_str(), 3, 0));
    lib.ReleaseCameraItem(&item);
    FOTEX_ITEM folder = kNoItem;
    ASSERT_EQ(kOk, lib.FindCameraItem(handle, L"0000\\Root\\DCIM", &folder));
    EXPECT_TRUE(Ledger(2));
    lib.ReleaseCameraItem(&folder);
    EXPECT_EQ(0, folder);

    const struct {
        bool device;
        const wchar_t* name;
        bool pointer;
        int status;
    } cases[] = {
        {false, L"0000\\Root\\DCIM", true, kHandle},         {true, nullptr, true, kPointer},
        {true, L"0000\\Root\\DCIM", false, kPointer},        {true, L"0000\\Root\\DCIM\\IMG_0009", true, kNotFound},
        {true, L"0001\\Root\\DCIM\\IMG_0001", true, kNotFound}, {true, L"", true, kNotFound},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        FOTEX_ITEM found = kNoItem;
        EXPECT_EQ(cases[i].status,
                  lib.FindCameraItem(cases[i].device ? handle : 0, cases[i].name, cases[i].pointer ? &found : nullptr))
            << "case " << i;
        EXPECT_EQ(kNoItem, found) << "case " << i;
    }
    camera.FailOn(Op::FindItemByName, kOffline);
    FOTEX_ITEM found = kNoItem;
    EXPECT_EQ(kOffline, lib.FindCameraItem(handle, L"0000\\Root\\DCIM", &found));
    EXPECT_EQ(kNoItem, found);
    EXPECT_EQ("", Output());
}

TEST_F(ContentsTest, ReleaseGivesTheHandleBackOnceAndIgnoresNothing) {
    ASSERT_EQ(4, List());
    FOTEX_ITEM item = OpenItem(0);
    FOTEX_ITEM zero = 0;
    lib.ReleaseCameraItem(nullptr);
    lib.ReleaseCameraItem(&zero);
    EXPECT_TRUE(Ledger(6));
    lib.ReleaseCameraItem(&item);
    EXPECT_EQ(0, item);
    lib.ReleaseCameraItem(&item);
    EXPECT_TRUE(Ledger(5));
}

// ---- SaveCameraItem --------------------------------------------------------------------------

TEST_F(ContentsTest, SaveWritesExactlyTheNamedFileInTheAskedFormat) {
    ASSERT_EQ(4, List());
    FOTEX_ITEM item = OpenItem(0);
    const struct {
        const wchar_t* name;
        int format;
        const char* magic;
        GUID asked;
    } cases[] = {
        {L"plain", 3, "\xFF\xD8", wia::WiaImgFmt_JPEG},
        {L"picture.data", 0, "BM", wia::WiaImgFmt_BMP},
        {L"p.png", 4, "\x89PNG", wia::WiaImgFmt_PNG},
        {L"unlisted.x", 77, "\xFF\xD8", wia::WiaImgFmt_JPEG},
        {L"Bild \x00e4\x00f6\x00fc \x6771\x4eac.jpg", 3, "\xFF\xD8", wia::WiaImgFmt_JPEG},
    };
    std::vector<std::wstring> expected;
    for (size_t i = 0; i < std::size(cases); ++i) {
        ASSERT_EQ(kOk, lib.SaveCameraItem(item, At(cases[i].name).c_str(), cases[i].format, 0)) << "case " << i;
        EXPECT_EQ(0, ReadAll(At(cases[i].name)).compare(0, std::strlen(cases[i].magic), cases[i].magic)) << "case " << i;
        EXPECT_TRUE(IsEqualGUID(cases[i].asked, camera.last.getData.format)) << "case " << i;
        expected.push_back(cases[i].name);
    }
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(expected, Files()) << "no temporary file is left";
    // The service wrote into another name in the same folder.
    EXPECT_EQ(0u, camera.last.getData.fileName.find(dir + L"\\"));
    EXPECT_EQ(std::wstring::npos, camera.last.getData.fileName.find(L"\\", dir.size() + 1));
    EXPECT_EQ(4, Media());
    lib.ReleaseCameraItem(&item);
    EXPECT_EQ("", Output());
}

TEST_F(ContentsTest, RelativeNamesAreTakenFromTheCurrentFolder) {
    ASSERT_EQ(4, List());
    wchar_t saved[MAX_PATH];
    GetCurrentDirectoryW(MAX_PATH, saved);
    SetCurrentDirectoryW(dir.c_str());
    FOTEX_ITEM item = OpenItem(0);
    EXPECT_EQ(kOk, lib.SaveCameraItem(item, L"relative.jpg", 3, 0));
    lib.ReleaseCameraItem(&item);
    SetCurrentDirectoryW(saved);
    EXPECT_TRUE(IsJpeg(ReadAll(At(L"relative.jpg"))));
}

TEST_F(ContentsTest, LongNamesAreSavedWithAndWithoutTheLongForm) {
    ASSERT_EQ(4, List());
    std::wstring deep = dir;
    for (int i = 0; i < 6; ++i) {
        deep += L"\\" + std::wstring(60, static_cast<wchar_t>(L'a' + i));
        ASSERT_TRUE(CreateDirectoryW((L"\\\\?\\" + deep).c_str(), nullptr)) << GetLastError();
    }
    ASSERT_GT(deep.size(), 300u);
    FOTEX_ITEM item = OpenItem(0);
    EXPECT_EQ(kOk, lib.SaveCameraItem(item, (deep + L"\\plain.jpg").c_str(), 3, 0));
    EXPECT_EQ(kOk, lib.SaveCameraItem(item, (L"\\\\?\\" + deep + L"\\prefixed.jpg").c_str(), 3, 0));
    lib.ReleaseCameraItem(&item);
    EXPECT_TRUE(IsJpeg(ReadAll(L"\\\\?\\" + deep + L"\\plain.jpg")));
    EXPECT_TRUE(IsJpeg(ReadAll(L"\\\\?\\" + deep + L"\\prefixed.jpg")));
    RemoveTree(L"\\\\?\\" + dir + L"\\" + std::wstring(60, L'a'));
}

TEST_F(ContentsTest, ExistingFileIsKeptUnlessReplacingIsAsked) {
    ASSERT_EQ(4, List());
    WriteAll(At(L"taken.jpg"), "mine");
    FOTEX_ITEM item = OpenItem(0);
    camera.ClearLog();
    for (int flags : {0, kDelete}) {
        EXPECT_EQ(kFileExists, lib.SaveCameraItem(item, At(L"taken.jpg").c_str(), 3, flags)) << flags;
        EXPECT_EQ("mine", ReadAll(At(L"taken.jpg"))) << flags;
    }
    EXPECT_EQ(0, camera.Calls(Op::GetData)) << "nothing is transferred for a name in use";
    EXPECT_EQ(4, Media());
    EXPECT_EQ(kOk, lib.SaveCameraItem(item, At(L"taken.jpg").c_str(), 3, kReplace));
    EXPECT_TRUE(IsJpeg(ReadAll(At(L"taken.jpg"))));
    EXPECT_EQ(std::vector<std::wstring>{L"taken.jpg"}, Files());
    lib.ReleaseCameraItem(&item);
}

// A name the system will not let a file replace is refused with the system's "access denied"; its
// text must not send the host looking for a read-only camera setting.
TEST_F(ContentsTest, AFileThatCannotBeReplacedIsNotDescribedAsAReadOnlySetting) {
    ASSERT_EQ(4, List());
    const std::wstring target = At(L"locked.jpg");
    ASSERT_TRUE(CreateDirectoryW(target.c_str(), nullptr));  // a folder by the name: no file replaces it
    FOTEX_ITEM item = OpenItem(0);
    const int status = lib.SaveCameraItem(item, target.c_str(), 3, kReplace);
    RemoveDirectoryW(target.c_str());
    lib.ReleaseCameraItem(&item);
    ASSERT_EQ(static_cast<int>(0x80070005), status);
    Guarded<1024> text;
    ASSERT_EQ(kOk, lib.DescribeStatus(status, text.data(), 1024));
    const std::wstring got = reinterpret_cast<const wchar_t*>(text.data());
    EXPECT_EQ(std::wstring::npos, got.find(L"setting")) << std::string(got.begin(), got.end());
}

TEST_F(ContentsTest, FileAppearingDuringTheTransferIsNeverReplaced) {
    ASSERT_EQ(4, List());
    FOTEX_ITEM item = OpenItem(0);
    const std::wstring target = At(L"race.jpg");
    camera.onCall = [&target](Op op) {
        if (op == Op::GetData) WriteAll(target, "theirs");
    };
    EXPECT_EQ(kFileExists, lib.SaveCameraItem(item, target.c_str(), 3, kDelete));
    EXPECT_EQ("theirs", ReadAll(target));
    EXPECT_EQ(std::vector<std::wstring>{L"race.jpg"}, Files()) << "the transferred data is not left behind";
    EXPECT_EQ(4, Media()) << "an item whose file was not kept stays on the camera";
    // Asked to replace, the complete transfer takes the name.
    DeleteFileW(target.c_str());
    EXPECT_EQ(kOk, lib.SaveCameraItem(item, target.c_str(), 3, kReplace));
    EXPECT_TRUE(IsJpeg(ReadAll(target)));
    camera.onCall = nullptr;
    lib.ReleaseCameraItem(&item);
}

TEST_F(ContentsTest, FailedTransferLeavesNoFileAndTheExistingOneAlone) {
    ASSERT_EQ(4, List());
    FOTEX_ITEM item = OpenItem(0);
    WriteAll(At(L"old.jpg"), "old");
    const struct {
        Op op;
        HRESULT hr;
        int status;
    } cases[] = {
        {Op::QueryPropertyStorage, E_NOINTERFACE, static_cast<int>(E_NOINTERFACE)},
        {Op::WriteMultiple, kOffline, kOffline},
        {Op::QueryDataTransfer, E_FAIL, kFail},
        {Op::GetData, E_FAIL, kFail},
        {Op::GetData, S_FALSE, kFail},  // a transfer that did not complete
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        for (const wchar_t* name : {L"new.jpg", L"old.jpg"}) {
            camera.FailOn(cases[i].op, cases[i].hr);
            EXPECT_EQ(cases[i].status, lib.SaveCameraItem(item, At(name).c_str(), 3, kReplace | kDelete))
                << "case " << i;
            camera.ClearFaults();
        }
        EXPECT_EQ(std::vector<std::wstring>{L"old.jpg"}, Files()) << "case " << i;
        EXPECT_EQ("old", ReadAll(At(L"old.jpg"))) << "case " << i;
        EXPECT_EQ(4, Media()) << "case " << i;
    }
    // The service refuses a format the item does not offer.
    Picture(0).formats = {wia::WiaImgFmt_JPEG};
    EXPECT_EQ(kFormat, lib.SaveCameraItem(item, At(L"new.bmp").c_str(), 0, 0));
    // A folder that does not exist.
    EXPECT_EQ(static_cast<int>(0x80070003), lib.SaveCameraItem(item, At(L"none\\new.jpg").c_str(), 3, 0));
    EXPECT_EQ(std::vector<std::wstring>{L"old.jpg"}, Files());
    lib.ReleaseCameraItem(&item);
    EXPECT_EQ("", Output());
}

// A disk with little room: the file system takes what fits of a write and reports no error.
// This program's own import of WriteFile is the one patched: the original is called through it.
DWORD g_room = 0;
decltype(&WriteFile) g_write = nullptr;
BOOL WINAPI FillingWrite(HANDLE file, LPCVOID data, DWORD count, LPDWORD written, LPOVERLAPPED overlapped) {
    const DWORD taken = std::min(count, g_room);
    g_room -= taken;
    return g_write(file, data, taken, written, overlapped);
}

TEST_F(ContentsTest, AFileNotAsLongAsTheItemSaysFailsLeavesNoFileAndDeletesNothing) {
    ASSERT_EQ(4, List());
    FOTEX_ITEM item = OpenItem(0);
    const int kIncomplete = static_cast<int>(0x8007012B);  // HRESULT_FROM_WIN32(ERROR_PARTIAL_COPY)
    const int kNative = 256, kJpeg = 3, kBmp = 0;
    // A faulty service writes half the data and reports success, in the item's own format by
    // either name.
    for (int format : {kNative, kJpeg}) {
        camera.CutTransfer(S_OK);
        EXPECT_EQ(kIncomplete, lib.SaveCameraItem(item, At(L"half.jpg").c_str(), format, kDelete)) << format;
    }
    // Longer than the item says.
    Picture(0).props[wia::kIpaItemSize].value = Value::Int(100);
    EXPECT_EQ(kIncomplete, lib.SaveCameraItem(item, At(L"long.jpg").c_str(), kNative, kDelete));
    EXPECT_TRUE(Files().empty());
    EXPECT_EQ(4, Media());
    // A converted format's size is unknown before the transfer, and an item without a size
    // gives nothing to check.
    EXPECT_EQ(kOk, lib.SaveCameraItem(item, At(L"converted.bmp").c_str(), kBmp, 0));
    Picture(0).props.erase(wia::kIpaItemSize);
    Picture(0).lacks = {wia::kIpaItemSize};
    EXPECT_EQ(kOk, lib.SaveCameraItem(item, At(L"unsized.jpg").c_str(), kNative, 0));
    // The virtual camera's own writer on a nearly full disk (1 KiB free, less than a picture)
    // reports the full disk. Out of process the writer is the server's, which no patch here reaches.
    if (fotextest::ServerMode()) {
        lib.ReleaseCameraItem(&item);
        return;
    }
    lib.ReleaseCameraItem(&item);
    item = OpenItem(1);
    g_write = reinterpret_cast<decltype(&WriteFile)>(
        fotextest::PatchImport(GetModuleHandleW(nullptr), "kernel32.dll", "WriteFile", reinterpret_cast<void*>(&FillingWrite)));
    ASSERT_NE(nullptr, g_write);
    g_room = 1024;
    EXPECT_EQ(static_cast<int>(0x80070070), lib.SaveCameraItem(item, At(L"full.jpg").c_str(), kNative, kDelete));
    fotextest::PatchImport(GetModuleHandleW(nullptr), "kernel32.dll", "WriteFile", reinterpret_cast<void*>(g_write));
    EXPECT_EQ((std::vector<std::wstring>{L"converted.bmp", L"unsized.jpg"}), Files());
    EXPECT_EQ(4, Media());
    lib.ReleaseCameraItem(&item);
}

TEST_F(ContentsTest, DeleteFlagDeletesTheItemOnceItsFileIsInPlace) {
    ASSERT_EQ(4, List());
    FOTEX_ITEM item = OpenItem(1);
    EXPECT_EQ(kOk, lib.SaveCameraItem(item, At(L"gone.jpg").c_str(), 3, kDelete));
    EXPECT_TRUE(IsJpeg(ReadAll(At(L"gone.jpg"))));
    EXPECT_EQ(3, Media());
    EXPECT_EQ(0, camera.last.deleteFlags);
    EXPECT_TRUE(Ledger(1 + 4 + 1)) << "the handle stays the caller's";
    lib.ReleaseCameraItem(&item);
    // Only the deletion failed: the file is complete and in place.
    item = OpenItem(2);
    camera.FailOn(Op::DeleteItem, kOffline);
    EXPECT_EQ(kOffline, lib.SaveCameraItem(item, At(L"kept.jpg").c_str(), 3, kDelete));
    EXPECT_TRUE(IsJpeg(ReadAll(At(L"kept.jpg"))));
    EXPECT_EQ(3, Media());
    lib.ReleaseCameraItem(&item);
}

TEST_F(ContentsTest, SaveRefusesBadArgumentsBeforeTouchingAnything) {
    ASSERT_EQ(4, List());
    FOTEX_ITEM item = OpenItem(0);
    camera.ClearLog();
    EXPECT_EQ(kHandle, lib.SaveCameraItem(0, At(L"a.jpg").c_str(), 3, 0));
    EXPECT_EQ(kPointer, lib.SaveCameraItem(item, nullptr, 3, 0));
    for (int flags : {4, 8, -1, INT_MIN, 3 | 16})
        EXPECT_EQ(kInvalidArg, lib.SaveCameraItem(item, At(L"a.jpg").c_str(), 3, flags)) << flags;
    EXPECT_EQ(0, camera.TotalCalls());
    EXPECT_TRUE(Files().empty());
    lib.ReleaseCameraItem(&item);
}

// ---- SaveCameraThumbnail ---------------------------------------------------------------------

TEST_F(ContentsTest, ThumbnailIsABmpOfTheCamerasPixels) {
    // 3 x 2 pixels: rows of 9 bytes, padded to 12 in the service's layout or left unpadded.
    std::vector<uint8_t> padded, unpadded;
    for (int y = 0; y < 2; ++y) {
        for (int x = 0; x < 9; ++x) {
            padded.push_back(static_cast<uint8_t>(16 * y + x));
            unpadded.push_back(static_cast<uint8_t>(16 * y + x));
        }
        padded.insert(padded.end(), 3, 0);
    }
    for (int i = 0; i < 2; ++i) {
        Picture(i).props[wia::kIpcThumbnail].value = Value::Bytes(i == 0 ? padded : unpadded);
        Picture(i).props[wia::kIpcThumbWidth].value = Value::Int(3);
        Picture(i).props[wia::kIpcThumbHeight].value = Value::Int(2);
    }
    ASSERT_EQ(4, List());
    for (int i = 0; i < 2; ++i) {
        FOTEX_ITEM item = OpenItem(i);
        const std::wstring name = At(L"thumb" + std::to_wstring(i) + L".bmp");
        ASSERT_EQ(kOk, lib.SaveCameraThumbnail(item, name.c_str(), 0)) << i;
        lib.ReleaseCameraItem(&item);
        const std::string bmp = ReadAll(name);
        ASSERT_EQ(54u + 24u, bmp.size()) << i;
        EXPECT_EQ("BM", bmp.substr(0, 2));
        EXPECT_EQ(78u, Field(bmp, 2, 4)) << "file size";
        EXPECT_EQ(54u, Field(bmp, 10, 4)) << "pixel offset";
        EXPECT_EQ(40u, Field(bmp, 14, 4)) << "info header size";
        EXPECT_EQ(3u, Field(bmp, 18, 4)) << "width";
        EXPECT_EQ(2u, Field(bmp, 22, 4)) << "height, bottom-up";
        EXPECT_EQ(1u, Field(bmp, 26, 2)) << "planes";
        EXPECT_EQ(24u, Field(bmp, 28, 2)) << "bits per pixel";
        EXPECT_EQ(0u, Field(bmp, 30, 4)) << "uncompressed";
        EXPECT_EQ(24u, Field(bmp, 34, 4)) << "image size";
        EXPECT_EQ(std::string(padded.begin(), padded.end()), bmp.substr(54)) << i;
    }
}

TEST_F(ContentsTest, GeneratedThumbnailIsTheRenderedPicture) {
    ASSERT_EQ(4, List());
    FOTEX_ITEM item = OpenItem(0);
    ASSERT_EQ(kOk, lib.SaveCameraThumbnail(item, At(L"t.bmp").c_str(), 0));
    lib.ReleaseCameraItem(&item);
    const std::string bmp = ReadAll(At(L"t.bmp"));
    const std::vector<unsigned char> pixels = fotexsim::RenderThumbnail(Picture(0));
    ASSERT_EQ(54u + 160u * 120u * 3u, bmp.size());
    EXPECT_EQ(std::string(pixels.begin(), pixels.end()), bmp.substr(54));
}

TEST_F(ContentsTest, ThumbnailStatusesLeaveNoFile) {
    Picture(0).lacks = {wia::kIpcThumbnail};
    Picture(1).props[wia::kIpcThumbnail].value = Value::Bytes(std::vector<uint8_t>(17, 1));
    Picture(1).props[wia::kIpcThumbWidth].value = Value::Int(3);
    Picture(1).props[wia::kIpcThumbHeight].value = Value::Int(2);
    Picture(2).props[wia::kIpcThumbWidth].value = Value::Int(0);
    ASSERT_EQ(4, List());
    FOTEX_ITEM items[3] = {OpenItem(0), OpenItem(1), OpenItem(2)};
    const std::wstring name = At(L"t.bmp");
    EXPECT_EQ(kNotFound, lib.SaveCameraThumbnail(items[0], name.c_str(), 0));
    EXPECT_EQ(kInvalidData, lib.SaveCameraThumbnail(items[1], name.c_str(), 0)) << "one byte short";
    EXPECT_EQ(kInvalidData, lib.SaveCameraThumbnail(items[2], name.c_str(), 0)) << "no width";
    EXPECT_EQ(kHandle, lib.SaveCameraThumbnail(0, name.c_str(), 0));
    EXPECT_EQ(kPointer, lib.SaveCameraThumbnail(items[0], nullptr, 0));
    for (int flags : {kDelete, 4, -1}) EXPECT_EQ(kInvalidArg, lib.SaveCameraThumbnail(items[0], name.c_str(), flags));
    camera.FailOn(Op::ReadMultiple, kOffline);
    EXPECT_EQ(kOffline, lib.SaveCameraThumbnail(items[0], name.c_str(), 0));
    EXPECT_TRUE(Files().empty());
    for (FOTEX_ITEM& item : items) lib.ReleaseCameraItem(&item);
}

TEST_F(ContentsTest, ThumbnailKeepsAnExistingFileUnlessReplacingIsAsked) {
    ASSERT_EQ(4, List());
    FOTEX_ITEM item = OpenItem(3);
    WriteAll(At(L"t.bmp"), "mine");
    EXPECT_EQ(kFileExists, lib.SaveCameraThumbnail(item, At(L"t.bmp").c_str(), 0));
    EXPECT_EQ("mine", ReadAll(At(L"t.bmp")));
    EXPECT_EQ(kOk, lib.SaveCameraThumbnail(item, At(L"t.bmp").c_str(), kReplace));
    EXPECT_EQ("BM", ReadAll(At(L"t.bmp")).substr(0, 2)) << "videos have thumbnails too";
    EXPECT_EQ(std::vector<std::wstring>{L"t.bmp"}, Files());
    lib.ReleaseCameraItem(&item);
}

// ---- DeleteCameraItem ------------------------------------------------------------------------

TEST_F(ContentsTest, ThumbnailInMemoryIsTheBytesOfTheThumbnailFile) {
    ASSERT_EQ(4, List());
    FOTEX_ITEM item = OpenItem(0);
    ASSERT_EQ(kOk, lib.SaveCameraThumbnail(item, At(L"t.bmp").c_str(), 0));
    const std::string file = ReadAll(At(L"t.bmp"));
    const int needed = static_cast<int>(file.size());
    int size = kSentinel;
    EXPECT_EQ(kSmallBuffer, lib.ReadCameraThumbnail(item, nullptr, 0, &size));
    EXPECT_EQ(needed, size);
    // One byte short: nothing written, the size told; then exactly enough.
    std::vector<uint8_t> buffer(file.size() + 64, 0xCD);
    size = kSentinel;
    EXPECT_EQ(kSmallBuffer, lib.ReadCameraThumbnail(item, buffer.data(), needed - 1, &size));
    EXPECT_EQ(needed, size);
    EXPECT_EQ(std::vector<uint8_t>(buffer.size(), 0xCD), buffer);
    size = kSentinel;
    ASSERT_EQ(kOk, lib.ReadCameraThumbnail(item, buffer.data(), needed, &size));
    EXPECT_EQ(needed, size);
    EXPECT_EQ(file, std::string(buffer.begin(), buffer.begin() + needed));
    EXPECT_EQ(std::vector<uint8_t>(64, 0xCD), std::vector<uint8_t>(buffer.begin() + needed, buffer.end()));
    lib.ReleaseCameraItem(&item);
}

TEST_F(ContentsTest, ThumbnailInMemoryStatusesWriteNothing) {
    FOTEX_ITEM item = 0, folder = 0;
    ASSERT_EQ(kOk, lib.FindCameraItem(handle, L"0000\\Root\\DCIM\\IMG_0001", &item));
    ASSERT_EQ(kOk, lib.FindCameraItem(handle, L"0000\\Root\\DCIM", &folder));
    Picture(1).lacks.push_back(wia::kIpcThumbnail);
    FOTEX_ITEM bare = 0;
    ASSERT_EQ(kOk, lib.FindCameraItem(handle, L"0000\\Root\\DCIM\\IMG_0002", &bare));
    Guarded<64> buffer;
    int size = kSentinel;
    const int statuses[][2] = {
        {lib.ReadCameraThumbnail(0, buffer.data(), 64, &size), kHandle},
        {lib.ReadCameraThumbnail(item, buffer.data(), 64, nullptr), kPointer},
        {lib.ReadCameraThumbnail(item, nullptr, 64, &size), kPointer},
        {lib.ReadCameraThumbnail(item, buffer.data(), -1, &size), kInvalidArg},
        {lib.ReadCameraThumbnail(folder, buffer.data(), 64, &size), kIsFolder},
        {lib.ReadCameraThumbnail(bare, buffer.data(), 64, &size), kNotFound},
    };
    for (size_t i = 0; i < std::size(statuses); ++i) EXPECT_EQ(statuses[i][1], statuses[i][0]) << "case " << i;
    EXPECT_EQ(kSentinel, size);
    EXPECT_TRUE(buffer.Untouched());
    for (FOTEX_ITEM* h : {&item, &folder, &bare}) lib.ReleaseCameraItem(h);
}

TEST_F(ContentsTest, DeleteRemovesTheItemAndLeavesTheHandleTheCallers) {
    ASSERT_EQ(4, List());
    FOTEX_ITEM item = OpenItem(0);
    EXPECT_EQ(kOk, lib.DeleteCameraItem(item));
    EXPECT_EQ(3, Media());
    EXPECT_EQ(0, camera.last.deleteFlags);
    EXPECT_TRUE(Ledger(1 + 4 + 1));
    EXPECT_EQ(kItemDeleted, lib.DeleteCameraItem(item)) << "the service's own status";
    EXPECT_EQ(kHandle, lib.DeleteCameraItem(0));
    lib.ReleaseCameraItem(&item);
    EXPECT_EQ(3, List());
    EXPECT_EQ("", Output());
}

// ---- DescribeStatus --------------------------------------------------------------------------

TEST_F(ContentsTest, EveryStatusHasAText) {
    const struct {
        int status;
        const wchar_t* part;
    } cases[] = {
        {kOk, L"Done"},
        {kHandle, L"E_HANDLE"},
        {kPointer, L"E_POINTER"},
        {kInvalidArg, L"E_INVALIDARG"},
        {kBounds, L"E_BOUNDS"},
        {kSmallBuffer, L"ERROR_INSUFFICIENT_BUFFER"},
        {kNotFound, L"ERROR_NOT_FOUND"},
        {kFileExists, L"ERROR_FILE_EXISTS"},
        {kBusy, L"ERROR_BUSY: called from a message handler"},
        {kIsFolder, L"ERROR_DIRECTORY_NOT_SUPPORTED: the item is a folder"},
        {kFormat, L"ERROR_NOT_SUPPORTED: the camera does not offer this item in the format"},
        {kInvalidData, L"ERROR_INVALID_DATA"},
        {kOverflow, L"ERROR_ARITHMETIC_OVERFLOW"},
        {kTooDeep, L"deeper than 64"},
        {static_cast<int>(0x800700CE), L"too long"},
        {kOffline, L"WIA_ERROR_OFFLINE: the device is offline"},
        {kItemDeleted, L"WIA_ERROR_ITEM_DELETED"},
        {kCancelled, L"ERROR_CANCELLED: the transfer was cancelled"},
        {static_cast<int>(0x80210006), L"WIA_ERROR_BUSY"},
        {static_cast<int>(0x80210015), L"WIA_S_NO_DEVICE_AVAILABLE"},
        {static_cast<int>(0x12345678), L"Unknown status 0x12345678"},
        {-1, L"Fotex 1.3"},
        {-6, L"Fotex 1.3"},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        Guarded<512> text;
        ASSERT_EQ(kOk, lib.DescribeStatus(cases[i].status, text.data(), 512)) << "case " << i;
        const std::wstring got = reinterpret_cast<const wchar_t*>(text.data());
        EXPECT_NE(std::wstring::npos, got.find(cases[i].part)) << "case " << i;
        EXPECT_LE(got.size() * 2 + 2, 256u) << "case " << i << ": 256 bytes hold the library's own texts";
    }
    // Any other HRESULT, Win32 ones included, gets the system's message, one line, no period.
    for (int status : {static_cast<int>(0x80070005), static_cast<int>(E_OUTOFMEMORY), static_cast<int>(0x800706F4)}) {
        Guarded<1024> text;
        ASSERT_EQ(kOk, lib.DescribeStatus(status, text.data(), 1024)) << status;
        const std::wstring got = reinterpret_cast<const wchar_t*>(text.data());
        EXPECT_FALSE(got.empty()) << status;
        EXPECT_EQ(std::wstring::npos, got.find(L"Unknown")) << status;
        EXPECT_EQ(std::wstring::npos, got.find_first_of(L"\r\n")) << status;
        EXPECT_NE(L'.', got.back()) << status;
    }
}

TEST_F(ContentsTest, StatusTextThatDoesNotFitWritesNothing) {
    Guarded<64> text;
    EXPECT_EQ(kPointer, lib.DescribeStatus(kHandle, nullptr, 64));
    const int exact = static_cast<int>(sizeof(L"Done"));
    EXPECT_EQ(kSmallBuffer, lib.DescribeStatus(kOk, text.data(), exact - 1));
    EXPECT_EQ(kSmallBuffer, lib.DescribeStatus(0x12345678, text.data(), 8));
    EXPECT_EQ(kSmallBuffer, lib.DescribeStatus(0x80070005, text.data(), 4));
    EXPECT_TRUE(text.Untouched());
    EXPECT_EQ(kOk, lib.DescribeStatus(kOk, text.data(), exact));
    EXPECT_EQ(L"Done", std::wstring(reinterpret_cast<const wchar_t*>(text.data())));
    EXPECT_TRUE(text.GuardsIntact());
}

// ---- Wine's own service ----------------------------------------------------------------------

// Without the virtual camera, Wine's own service answers: it opens no device, so no handle exists
// and every function taking one says so, printing nothing and writing nothing.
TEST_F(ContentsTest, WithWinesOwnServiceNoHandleExistsAndEachFunctionSaysSo) {
    Reconnecting(false);  // the failure's own status, not a device opened again
    lib.CloseWiaDevice(&handle);
    camera.Revoke();
    int count = kSentinel;
    EXPECT_EQ(-1, lib.EnumerateWiaDevices(&count));
    // The device listed before stays listed, but Wine's service does not create it.
    FOTEX_DEVICE device = kNoItem;
    EXPECT_EQ(1, lib.OpenWiaDevice(0, &device));
    ASSERT_EQ(0, device);
    Output();
    Guarded<256> text;
    int value = kSentinel;
    FOTEX_ITEM item = kNoItem;
    const std::wstring name = At(L"none.jpg");
    const int statuses[] = {
        lib.ListCameraItems(device, &count),
        lib.GetCameraItemText(device, 0, kFileName, text.data(), 256),
        lib.GetCameraItemValue(device, 0, kSize, &value),
        lib.OpenCameraItem(device, 0, &item),
        lib.FindCameraItem(device, L"0000\\Root", &item),
        lib.SaveCameraItem(0, name.c_str(), 3, 0),
        lib.SaveCameraThumbnail(0, name.c_str(), 0),
        lib.DeleteCameraItem(0),
        lib.SaveCameraItemWithProgress(0, name.c_str(), kNative, 0, nullptr, nullptr),
        lib.ReadCameraItem(0, kNative, text.data(), 256, &count, nullptr, nullptr),
        lib.ReadCameraThumbnail(0, text.data(), 256, &count),
        lib.GetItemText(0, kFileName, text.data(), 256),
        lib.GetItemValue(0, kOwnFormat, &value),
    };
    for (size_t i = 0; i < std::size(statuses); ++i) EXPECT_EQ(kHandle, statuses[i]) << "function " << i;
    FOTEX_ITEM zero = 0;
    lib.ReleaseCameraItem(&zero);
    EXPECT_EQ(kSentinel, count);
    EXPECT_EQ(kSentinel, value);
    EXPECT_EQ(kNoItem, item);
    EXPECT_TRUE(text.Untouched());
    EXPECT_TRUE(Files().empty());
    EXPECT_EQ("", Output());
    camera.Register();
}

// The failures Wine's service reports (E_NOTIMPL from Reset and CreateDevice, the RPC failure of
// Next and GetImageDlg) are described like any other status.
TEST_F(ContentsTest, WinesServiceFailuresAreDescribed) {
    lib.CloseWiaDevice(&handle);
    camera.Revoke();
    int count = 0;
    lib.EnumerateWiaDevices(&count);
    Output();
    const struct {
        int status;
        const wchar_t* part;
    } cases[] = {{static_cast<int>(0x80004001), L"E_NOTIMPL"}, {static_cast<int>(0x800706F4), L""}};
    for (size_t i = 0; i < std::size(cases); ++i) {
        Guarded<512> text;
        ASSERT_EQ(kOk, lib.DescribeStatus(cases[i].status, text.data(), 512)) << "case " << i;
        const std::wstring got = reinterpret_cast<const wchar_t*>(text.data());
        EXPECT_NE(std::wstring::npos, got.find(cases[i].part)) << "case " << i;
        EXPECT_EQ(std::wstring::npos, got.find(L"Unknown status")) << "case " << i;
    }
    camera.Register();
}

// ---- the virtual camera ----------------------------------------------------------------------

TEST_F(ContentsTest, CaptureAddsAnItemWithANameNotInUse) {
    dcim().Add(L"IMG_0004", kImage | kFile);
    for (int shot = 0; shot < 2; ++shot) {
        FOTEX_ITEM taken = 0;
        lib.TakeAPicture(handle, &taken);
        ASSERT_NE(0, taken);
        lib.ReleaseCameraItem(&taken);
    }
    ASSERT_EQ(7, List());
    EXPECT_EQ(L"0000\\Root\\DCIM\\IMG_0005", Text(5, kFullName));
    EXPECT_EQ(L"IMG_0006.jpg", Text(6, kFileName));
    SYSTEMTIME now;
    GetLocalTime(&now);
    EXPECT_EQ(0u, Text(6, kTime).find(std::to_wstring(now.wYear) + L"-")) << "taken now";
    FOTEX_ITEM found = kNoItem;
    EXPECT_EQ(kOk, lib.FindCameraItem(handle, L"0000\\Root\\DCIM\\IMG_0006", &found));
    lib.ReleaseCameraItem(&found);
    EXPECT_TRUE(Ledger(1 + 7));
}

// ---- the folder camera -----------------------------------------------------------------------

std::string Encoded(bool png, int w, int h, uint8_t r, uint8_t g, uint8_t b) {
    std::vector<unsigned char> rgb;
    for (int i = 0; i < w * h; ++i) rgb.insert(rgb.end(), {r, g, b});
    std::vector<unsigned char> out;
    EXPECT_TRUE(png ? fotexsim::EncodePng(out, w, h, rgb.data()) : fotexsim::EncodeJpeg(out, w, h, rgb.data()));
    return std::string(out.begin(), out.end());
}

// A camera of a memory card copied to disk, in place of the standard one.
class CardTest : public ContentsTest {
protected:
    // No device yet, and the card's folders (under `card`) made.
    void MakeCard(std::initializer_list<const wchar_t*> folders) {
        lib.CloseWiaDevice(&handle);
        camera.devices.clear();
        card = dir + L"\\card";
        CreateDirectoryW(card.c_str(), nullptr);
        for (const wchar_t* folder : folders) CreateDirectoryW((card + L"\\" + folder).c_str(), nullptr);
    }

    std::wstring card;
};

// A memory card copied to disk: DCIM\100TEST with a JPEG, a PNG, a video, a text file and a
// hidden picture, an empty folder, and a TIFF at the top.
class FolderCameraTest : public CardTest {
protected:
    void SetUp() override {
        ContentsTest::SetUp();
        if (HasFatalFailure()) return;
        MakeCard({L"DCIM", L"DCIM\\100TEST", L"DCIM\\EMPTY"});
        const std::wstring shots = card + L"\\DCIM\\100TEST";
        WriteAll(shots + L"\\IMG_A.JPG", Encoded(false, 320, 240, 200, 40, 40));
        WriteAll(shots + L"\\img_b.png", Encoded(true, 100, 50, 10, 20, 250));
        WriteAll(shots + L"\\clip.avi", "RIFF....AVI LIST");
        WriteAll(shots + L"\\notes.txt", "not a picture");
        WriteAll(shots + L"\\.hidden.jpg", Encoded(false, 8, 8, 0, 0, 0));
        WriteAll(card + L"\\scan.tif", "II*\0 not decoded");
        fotexsim::Device* added = nullptr;
        ASSERT_EQ(S_OK, camera.AddFolderCamera(card, L"Card", &added));
        ASSERT_NE(nullptr, added);
        Enumerate(1);
        handle = Open();
    }
    std::wstring Shot(const wchar_t* name) const { return card + L"\\DCIM\\100TEST\\" + name; }
};

TEST_F(FolderCameraTest, ListsPicturesAndVideosWithNamesSizesAndTimes) {
    ASSERT_EQ(4, List());
    const wchar_t* names[] = {L"clip.avi", L"IMG_A.JPG", L"img_b.png", L"scan.tif"};
    const wchar_t* full[] = {L"0000\\Root\\DCIM\\100TEST\\clip", L"0000\\Root\\DCIM\\100TEST\\IMG_A",
                             L"0000\\Root\\DCIM\\100TEST\\img_b", L"0000\\Root\\scan"};
    const std::wstring files[] = {Shot(L"clip.avi"), Shot(L"IMG_A.JPG"), Shot(L"img_b.png"), card + L"\\scan.tif"};
    const LONG types[] = {kVideo | kFile, kImage | kFile, kImage | kFile, kImage | kFile};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(names[i], Text(i, kFileName)) << i;
        EXPECT_EQ(full[i], Text(i, kFullName)) << i;
        EXPECT_EQ(types[i], Value(i, kType)) << i;
        EXPECT_EQ(static_cast<int>(ReadAll(files[i]).size()), Value(i, kSize)) << i;
        WIN32_FILE_ATTRIBUTE_DATA data;
        ASSERT_TRUE(GetFileAttributesExW(files[i].c_str(), GetFileExInfoStandard, &data));
        FILETIME local;
        SYSTEMTIME t;
        FileTimeToLocalFileTime(&data.ftLastWriteTime, &local);
        FileTimeToSystemTime(&local, &t);
        wchar_t expected[32];
        swprintf(expected, 32, L"%04u-%02u-%02uT%02u:%02u:%02u", t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond);
        EXPECT_EQ(expected, Text(i, kTime)) << i;
    }
    FOTEX_ITEM folder = kNoItem;
    EXPECT_EQ(kOk, lib.FindCameraItem(handle, L"0000\\Root\\DCIM\\EMPTY", &folder)) << "empty folders are kept";
    lib.ReleaseCameraItem(&folder);
    Guarded<128> id, name, description;
    lib.GetWiaDeviceInfo(0, id.data(), name.data(), description.data());
    EXPECT_EQ(L"Card", std::wstring(reinterpret_cast<const wchar_t*>(name.data())));
}

TEST_F(FolderCameraTest, TransferGivesTheFilesBytesInTheirOwnFormatOnly) {
    ASSERT_EQ(4, List());
    const struct {
        int index, format;
        std::wstring source;
    } cases[] = {{0, 128, Shot(L"clip.avi")}, {1, 3, Shot(L"IMG_A.JPG")}, {2, 4, Shot(L"img_b.png")}, {3, 6, card + L"\\scan.tif"}};
    for (const auto& c : cases) {
        FOTEX_ITEM item = OpenItem(c.index);
        const std::wstring copy = At(L"copy" + std::to_wstring(c.index));
        EXPECT_EQ(kOk, lib.SaveCameraItem(item, copy.c_str(), c.format, 0)) << c.index;
        EXPECT_EQ(ReadAll(c.source), ReadAll(copy)) << c.index;
        // Any other format is refused, and nothing is written.
        for (int other : {0, 3, 4, 6, 128, 129}) {
            if (other == c.format) continue;
            EXPECT_EQ(kFormat, lib.SaveCameraItem(item, At(L"other").c_str(), other, 0)) << c.index << " as " << other;
        }
        EXPECT_FALSE(Exists(At(L"other")));
        lib.ReleaseCameraItem(&item);
    }
}

TEST_F(FolderCameraTest, ThumbnailsAreThePicturesScaledToFit) {
    ASSERT_EQ(4, List());
    EXPECT_EQ(160, Value(1, kThumbWidth)) << "320 x 240 halved";
    EXPECT_EQ(120, Value(1, kThumbHeight));
    EXPECT_EQ(100, Value(2, kThumbWidth)) << "never enlarged";
    EXPECT_EQ(50, Value(2, kThumbHeight));
    for (int index : {0, 3}) {
        int status = 0;
        Value(index, kThumbWidth, &status);
        EXPECT_EQ(kNotFound, status) << "a video and a TIFF have none: " << index;
    }
    const struct {
        int index;
        uint8_t r, g, b;
        int tolerance;
    } cases[] = {{1, 200, 40, 40, 8}, {2, 10, 20, 250, 0}};
    for (const auto& c : cases) {
        FOTEX_ITEM item = OpenItem(c.index);
        const std::wstring name = At(L"thumb" + std::to_wstring(c.index) + L".bmp");
        ASSERT_EQ(kOk, lib.SaveCameraThumbnail(item, name.c_str(), 0));
        lib.ReleaseCameraItem(&item);
        const std::string bmp = ReadAll(name);
        const uint32_t w = Field(bmp, 18, 4), h = Field(bmp, 22, 4), stride = (w * 3 + 3) & ~3u;
        ASSERT_EQ(54u + stride * h, bmp.size()) << c.index;
        // The middle pixel, stored blue, green, red.
        const size_t at = 54 + stride * (h / 2) + 3 * (w / 2);
        EXPECT_NEAR(c.b, static_cast<uint8_t>(bmp[at]), c.tolerance) << c.index;
        EXPECT_NEAR(c.g, static_cast<uint8_t>(bmp[at + 1]), c.tolerance) << c.index;
        EXPECT_NEAR(c.r, static_cast<uint8_t>(bmp[at + 2]), c.tolerance) << c.index;
    }
}

TEST_F(FolderCameraTest, DeletingChangesTheCameraNeverTheFolder) {
    ASSERT_EQ(4, List());
    FOTEX_ITEM item = OpenItem(1);
    EXPECT_EQ(kOk, lib.SaveCameraItem(item, At(L"moved.jpg").c_str(), 3, kDelete));
    lib.ReleaseCameraItem(&item);
    lib.DeleteAll(handle);
    EXPECT_EQ(0, List());
    for (const wchar_t* name : {L"clip.avi", L"IMG_A.JPG", L"img_b.png"}) EXPECT_TRUE(Exists(Shot(name))) << name;
    EXPECT_TRUE(Exists(card + L"\\scan.tif"));
}

TEST_F(FolderCameraTest, AFolderThatCannotBeReadAddsNoCamera) {
    const HRESULT missing = camera.AddFolderCamera(card + L"\\none", L"x");
    EXPECT_TRUE(missing == HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND) || missing == HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND))
        << std::hex << missing;
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_DIRECTORY), camera.AddFolderCamera(card + L"\\scan.tif", L"x"));
    EXPECT_EQ(1u, camera.devices.size());
}

TEST_F(FolderCameraTest, FotexSimDllAddsTheFolderCameraForHosts) {
    lib.CloseWiaDevice(&handle);
    camera.Revoke();
    HMODULE sim = LoadLibraryW(L"FotexSim.dll");
    ASSERT_NE(nullptr, sim);
    auto symbol = [sim](const char* name) { return reinterpret_cast<void*>(GetProcAddress(sim, name)); };
    auto add = reinterpret_cast<int(__cdecl*)(const wchar_t*, const wchar_t*)>(symbol("FotexSimAddFolderCamera"));
    auto registerSim = reinterpret_cast<int(__cdecl*)()>(symbol("FotexSimRegister"));
    auto revokeSim = reinterpret_cast<void(__cdecl*)()>(symbol("FotexSimRevoke"));
    ASSERT_TRUE(add && registerSim && revokeSim);
    EXPECT_EQ(kPointer, add(nullptr, L"x"));
    EXPECT_GT(0, add((card + L"\\none").c_str(), nullptr));
    EXPECT_EQ(1, add(card.c_str(), nullptr));
    EXPECT_EQ(1, registerSim());
    Enumerate(3);  // the two default cameras, then the folder camera
    Guarded<128> name;
    lib.GetWiaDeviceInfo(2, nullptr, name.data(), nullptr);
    EXPECT_EQ(L"Fotex Folder Camera", std::wstring(reinterpret_cast<const wchar_t*>(name.data())));
    FOTEX_DEVICE folder = Open(2);
    int count = kSentinel;
    EXPECT_EQ(kOk, lib.ListCameraItems(folder, &count));
    EXPECT_EQ(4, count);
    // A slowed camera still delivers whole pictures, its progress reported on the way.
    auto rate = reinterpret_cast<int(__cdecl*)(int, int)>(symbol("FotexSimSetTransferRate"));
    ASSERT_NE(nullptr, rate);
    EXPECT_EQ(0, rate(3, 1000));
    EXPECT_EQ(0, rate(0, -1));
    EXPECT_EQ(1, rate(0, 4 << 20));
    FOTEX_DEVICE slowed = Open(0);
    EXPECT_EQ(kOk, lib.ListCameraItems(slowed, &count));
    FOTEX_ITEM item = 0;
    ASSERT_EQ(kOk, lib.OpenCameraItem(slowed, 0, &item));
    int size = kSentinel, reports = 0;
    EXPECT_EQ(kSmallBuffer, lib.ReadCameraItem(item, kNative, nullptr, 0, &size, nullptr, nullptr));
    std::vector<char> data(static_cast<size_t>(std::max(size, 0)));
    auto counted = [](void* n, int) {
        ++*static_cast<int*>(n);
        return 0;
    };
    EXPECT_EQ(kOk, lib.ReadCameraItem(item, kNative, data.data(), size, &size, counted, &reports));
    EXPECT_TRUE(IsJpeg(std::string(data.begin(), data.end())));
    EXPECT_LT(0, reports);
    EXPECT_EQ(1, rate(0, 0));
    lib.ReleaseCameraItem(&item);
    lib.CloseWiaDevice(&slowed);
    lib.CloseWiaDevice(&folder);
    revokeSim();
    camera.Register();
}

// ---- the PTP profile: a card as Windows' layer over the PTP driver presents it ----------------

// WiaImgFmt_UNDEFINED and the item properties as the WIA documentation gives them.
constexpr GUID kUndefinedFormat = {0xB96B3CA9, 0x0728, 0x11D3, {0x9D, 0x7B, 0x00, 0x00, 0xF8, 0x1E, 0xF3, 0x2E}};
constexpr GUID kJpegFormat = {0xB96B3CAE, 0x0728, 0x11D3, {0x9D, 0x7B, 0x00, 0x00, 0xF8, 0x1E, 0xF3, 0x2E}};
constexpr IID kPropertyStorageIid = {0x98B5E8A0, 0x29CC, 0x491A, {0xAA, 0xC0, 0xE6, 0xDB, 0x4F, 0xDC, 0xCE, 0xB6}};
constexpr PROPID kItemNameId = 4098, kPreferredFormatId = 4105, kExtensionId = 4123;
constexpr int kProfilePtp = 1;

// What the service itself says of the item behind a handle: its name, extension and format.
struct Presented {
    std::wstring name, extension;
    GUID format{};
};
Presented ReadPresented(FOTEX_ITEM handle) {
    Presented out;
    IWiaPropertyStorage* storage = nullptr;
    auto* item = reinterpret_cast<IWiaItem*>(handle);
    if (FAILED(item->QueryInterface(kPropertyStorageIid, reinterpret_cast<void**>(&storage)))) return out;
    PROPSPEC specs[3] = {};
    const PROPID ids[3] = {kItemNameId, kExtensionId, kPreferredFormatId};
    for (int i = 0; i < 3; ++i) specs[i].ulKind = PRSPEC_PROPID, specs[i].propid = ids[i];
    PROPVARIANT values[3] = {};
    if (storage->ReadMultiple(3, specs, values) == S_OK) {
        if (values[0].vt == VT_BSTR && values[0].bstrVal) out.name = values[0].bstrVal;
        if (values[1].vt == VT_BSTR && values[1].bstrVal) out.extension = values[1].bstrVal;
        if (values[2].vt == VT_CLSID && values[2].puuid) out.format = *values[2].puuid;
        FreePropVariantArray(3, values);
    }
    storage->Release();
    return out;
}

// A RAW+JPEG camera's card: 100CANON with a pair, 101CANON with a JPEG of the same name and a
// video; then the PTP profile.
class PtpCardTest : public CardTest {
protected:
    void SetUp() override {
        ContentsTest::SetUp();
        if (HasFatalFailure()) return;
        MakeCard({L"DCIM", L"DCIM\\100CANON", L"DCIM\\101CANON"});
        sources = {card + L"\\DCIM\\100CANON\\IMG_0001.CR2", card + L"\\DCIM\\100CANON\\IMG_0001.JPG",
                   card + L"\\DCIM\\101CANON\\IMG_0001.JPG", card + L"\\DCIM\\101CANON\\MVI_0002.MP4"};
        WriteAll(sources[0], std::string("II*\0raw sensor data", 19));
        WriteAll(sources[1], Encoded(false, 320, 240, 30, 200, 30));
        WriteAll(sources[2], Encoded(false, 64, 48, 200, 30, 30));
        WriteAll(sources[3], "....ftypmp42");
        ASSERT_EQ(S_OK, camera.AddFolderCamera(card, L"Card"));
        ASSERT_TRUE(camera.SetProfile(0, kProfilePtp));
        Enumerate(1);
        handle = Open();
    }

    std::vector<std::wstring> sources;  // in the camera's order
};

TEST_F(PtpCardTest, TheCardIsFlatNamesLackExtensionsAndSharedNamesHaveDistinctFullNames) {
    ASSERT_EQ(4, List());
    const struct {
        const wchar_t *fileName, *fullName, *name, *extension;
        int format;
        const GUID* wiaFormat;
    } cases[] = {
        {L"IMG_0001.CR2", L"0000\\Root\\IMG_0001", L"IMG_0001", L"CR2", -1, &kUndefinedFormat},
        {L"IMG_0001.JPG", L"0000\\Root\\IMG_0001.JPG", L"IMG_0001", L"JPG", 3, &kJpegFormat},
        {L"IMG_0001.JPG", L"0000\\Root\\IMG_0001~2.JPG", L"IMG_0001", L"JPG", 3, &kJpegFormat},
        {L"MVI_0002.MP4", L"0000\\Root\\MVI_0002", L"MVI_0002", L"MP4", -1, &kUndefinedFormat},
    };
    for (int i = 0; i < 4; ++i) {
        const auto& c = cases[i];
        EXPECT_EQ(c.fileName, Text(i, kFileName)) << i;
        EXPECT_EQ(c.fullName, Text(i, kFullName)) << i;
        EXPECT_EQ(c.format, Value(i, kOwnFormat)) << i;
        FOTEX_ITEM item = OpenItem(i);
        const Presented presented = ReadPresented(item);
        EXPECT_EQ(c.name, presented.name) << i;
        EXPECT_EQ(c.extension, presented.extension) << i;
        EXPECT_TRUE(IsEqualGUID(*c.wiaFormat, presented.format)) << i;
        lib.ReleaseCameraItem(&item);
        // Each full name finds its own item, and the item handle says the same.
        FOTEX_ITEM found = kNoItem;
        ASSERT_EQ(kOk, lib.FindCameraItem(handle, c.fullName, &found)) << i;
        Guarded<256> text;
        ASSERT_EQ(kOk, lib.GetItemText(found, kFileName, text.data(), 256)) << i;
        EXPECT_EQ(c.fileName, std::wstring(reinterpret_cast<const wchar_t*>(text.data()))) << i;
        int format = kSentinel;
        EXPECT_EQ(kOk, lib.GetItemValue(found, kOwnFormat, &format)) << i;
        EXPECT_EQ(c.format, format) << i;
        lib.ReleaseCameraItem(&found);
    }
    FOTEX_ITEM folder = kNoItem;
    EXPECT_EQ(kNotFound, lib.FindCameraItem(handle, L"0000\\Root\\DCIM\\100CANON\\IMG_0001", &folder)) << "no folders";
    EXPECT_EQ(kNoItem, folder);
    EXPECT_TRUE(Ledger(1 + 4));
}

TEST_F(PtpCardTest, EachItemSavesAndReadsInItsOwnFormatByteForByte) {
    ASSERT_EQ(4, List());
    for (int i = 0; i < 4; ++i) {
        FOTEX_ITEM item = OpenItem(i);
        const std::wstring copy = At(L"copy" + std::to_wstring(i));
        EXPECT_EQ(kOk, lib.SaveCameraItem(item, copy.c_str(), kNative, 0)) << i;
        EXPECT_EQ(ReadAll(sources[i]), ReadAll(copy)) << i;
        std::vector<char> data(ReadAll(sources[i]).size() + 16);
        int size = kSentinel;
        EXPECT_EQ(kOk, lib.ReadCameraItem(item, kNative, data.data(), static_cast<int>(data.size()), &size, nullptr, nullptr)) << i;
        EXPECT_EQ(ReadAll(sources[i]), std::string(data.data(), static_cast<size_t>(std::max(size, 0)))) << i;
        // Undefined is the format to ask for: a RAW file is no JPEG.
        if (i == 0) {
            EXPECT_EQ(kFormat, lib.SaveCameraItem(item, At(L"as.jpg").c_str(), 3, 0));
        }
        lib.ReleaseCameraItem(&item);
    }
    EXPECT_FALSE(Exists(At(L"as.jpg")));
}

TEST_F(PtpCardTest, EveryItemHasAThumbnailAndARawFileShowsItsJpegs) {
    ASSERT_EQ(4, List());
    const int sizes[][2] = {{160, 120}, {160, 120}, {64, 48}, {160, 120}};
    std::string thumbs[4];
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(sizes[i][0], Value(i, kThumbWidth)) << i;
        EXPECT_EQ(sizes[i][1], Value(i, kThumbHeight)) << i;
        FOTEX_ITEM item = OpenItem(i);
        std::vector<char> bmp(256 * 1024);
        int size = kSentinel;
        EXPECT_EQ(kOk, lib.ReadCameraThumbnail(item, bmp.data(), static_cast<int>(bmp.size()), &size)) << i;
        thumbs[i].assign(bmp.data(), static_cast<size_t>(std::max(size, 0)));
        lib.ReleaseCameraItem(&item);
    }
    EXPECT_EQ(thumbs[1], thumbs[0]) << "the RAW file's preview is its JPEG's picture";
    EXPECT_NE(thumbs[2], thumbs[0]) << "not the JPEG of the same name in the other folder";
}

// The layer's objects are new ones: a picture or folder a host held of the camera's own tree
// is gone, in process as across processes, and the camera lists the presented items.
TEST_F(ContentsTest, ItemsHandedOutBeforeThePtpProfileAreGone) {
    ASSERT_EQ(4, List());
    FOTEX_ITEM picture = OpenItem(0), folder = kNoItem;
    ASSERT_EQ(kOk, lib.FindCameraItem(handle, L"0000\\Root\\DCIM", &folder));
    ASSERT_TRUE(camera.SetProfile(0, kProfilePtp));
    for (FOTEX_ITEM* held : {&picture, &folder}) {
        int type = kSentinel;
        EXPECT_EQ(kItemDeleted, lib.GetItemValue(*held, kType, &type)) << (held == &picture ? "picture" : "folder");
        lib.ReleaseCameraItem(held);
    }
    ASSERT_EQ(7, List());
    EXPECT_EQ(L"IMG_0001.jpg", Text(1, kFileName));
    FOTEX_ITEM found = kNoItem;
    ASSERT_EQ(kOk, lib.FindCameraItem(handle, L"0000\\Root\\IMG_0001.jpg", &found));
    int type = kSentinel;
    EXPECT_EQ(kOk, lib.GetItemValue(found, kType, &type));
    lib.ReleaseCameraItem(&found);
}

TEST_F(ContentsTest, ThePtpProfileMakesTheBuiltInCameraShootRawAndJpegPairsAndNameTheNameless) {
    // Refused: no such device, no such profile; and once in it, a camera stays in it.
    EXPECT_FALSE(camera.SetProfile(1, kProfilePtp));
    EXPECT_FALSE(camera.SetProfile(0, 2));
    EXPECT_FALSE(camera.SetProfile(0, -1));
    ASSERT_TRUE(camera.SetProfile(0, kProfilePtp));
    EXPECT_TRUE(camera.SetProfile(0, kProfilePtp));
    EXPECT_FALSE(camera.SetProfile(0, 0));
    ASSERT_EQ(7, List());
    const wchar_t* const names[] = {L"IMG_0001.nef", L"IMG_0001.jpg", L"IMG_0002.nef", L"IMG_0002.jpg",
                                    L"IMG_0003.nef", L"IMG_0003.jpg", L"MOV_0001.avi"};
    for (int i = 0; i < 7; ++i) EXPECT_EQ(names[i], Text(i, kFileName)) << i;
    EXPECT_EQ(L"0000\\Root\\IMG_0002", Text(2, kFullName));
    EXPECT_EQ(L"0000\\Root\\IMG_0002.jpg", Text(3, kFullName));
    EXPECT_EQ(-1, Value(0, kOwnFormat));
    // The RAW half: the picture's pixels under the camera's header, as big as it says.
    FOTEX_ITEM raw = OpenItem(0);
    std::vector<char> data(256 * 1024);
    int size = kSentinel;
    ASSERT_EQ(kOk, lib.ReadCameraItem(raw, kNative, data.data(), static_cast<int>(data.size()), &size, nullptr, nullptr));
    EXPECT_EQ(Value(0, kSize), size);
    EXPECT_EQ(16 + 160 * 120 * 3, size);
    EXPECT_EQ("FOTEXRAW", std::string(data.data(), 8));
    lib.ReleaseCameraItem(&raw);
    // A shot: a pair in the root. A nameless one: named by its number, both halves.
    FOTEX_ITEM taken = 0;
    lib.TakeAPicture(handle, &taken);
    ASSERT_NE(0, taken);
    lib.ReleaseCameraItem(&taken);
    ASSERT_NE(nullptr, camera.PressShutter(0, L"", nullptr));
    ASSERT_EQ(11, List());
    const wchar_t* const later[] = {L"IMG_0004.nef", L"IMG_0004.jpg", L"Image10.nef", L"Image10.jpg"};
    for (int i = 0; i < 4; ++i) EXPECT_EQ(later[i], Text(7 + i, kFileName)) << i;
    EXPECT_EQ(L"0000\\Root\\Image10.jpg", Text(10, kFullName));
    EXPECT_TRUE(Ledger(1 + 11));
}

}  // namespace

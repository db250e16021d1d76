// Item transfer to file, whole-device transfer and the acquisition dialog.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "fixture.h"
#include "wia_ids.h"

namespace {

using fotexsim::Item;
using fotexsim::Op;
using fotextest::FotexTest;
using fotextest::Guarded;
namespace wia = fotex::wia;

const char kStorageTrace[] = "pWiaItem->QueryInterface failed on IID_IWiaPropertyStorage: HRESULT: ";
const char kGetDataTrace[] = "pWiaDataTransfer->idtGetData failed: HRESULT: ";
const char kTooLongTrace[] = "File name too long: HRESULT: 0x800700CE\n";
const char kTooDeepTrace[] = "Item tree too deep: HRESULT: 0x800703E9\n";

std::string ReadFile(const std::string& path) {
    std::string data;
    if (FILE* f = std::fopen(path.c_str(), "rb")) {
        char chunk[4096];
        size_t n;
        while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0) data.append(chunk, n);
        std::fclose(f);
    }
    return data;
}

bool Exists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

void WriteFile(const std::string& path, const std::string& data) {
    FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(nullptr, f) << path;
    std::fwrite(data.data(), 1, data.size(), f);
    std::fclose(f);
}

bool IsBmp(const std::string& d) { return d.compare(0, 2, "BM") == 0; }

bool IsJpeg(const std::string& d) {
    return d.size() > 4 && d.compare(0, 2, "\xFF\xD8") == 0 && d.compare(d.size() - 2, 2, "\xFF\xD9") == 0;
}

// The walk's name for a counter value: eight characters, blank-padded.
std::string Numbered(const std::string& prefix, int n, const std::string& tail = ".jpg") {
    char text[32];
    std::snprintf(text, sizeof text, "%8d", n);
    return prefix + text + tail;
}

class TransferTest : public fotextest::OpenDeviceTest {
protected:
    void SetUp() override {
        char temp[MAX_PATH];
        GetTempPathA(MAX_PATH, temp);
        // The process id at a fixed width keeps the longest names in one length: a name part of
        // 85 three-byte characters would pass Linux's 255-byte limit under Wine.
        char id[16];
        std::snprintf(id, sizeof id, "%08lu", GetCurrentProcessId());
        dir = std::string(temp) + "fotex-transfer-" + id;
        CreateDirectoryA(dir.c_str(), nullptr);
        OpenDeviceTest::SetUp();
    }
    void TearDown() override {
        OpenDeviceTest::TearDown();
        // By wide names: a name outside the ANSI code page has no ANSI form to delete it by.
        const std::wstring wide(dir.begin(), dir.end());
        WIN32_FIND_DATAW data;
        HANDLE find = FindFirstFileW((wide + L"\\*").c_str(), &data);
        if (find != INVALID_HANDLE_VALUE) {
            do DeleteFileW((wide + L"\\" + data.cFileName).c_str());
            while (FindNextFileW(find, &data));
            FindClose(find);
        }
        RemoveDirectoryA(dir.c_str());
    }

    Item& root() { return *device().root; }
    FOTEX_ITEM Take() {
        FOTEX_ITEM item = 0;
        lib.TakeAPicture(handle, &item);
        EXPECT_NE(0, item);
        return item;
    }
    // The folder's file names, sorted.
    std::vector<std::string> Files() {
        std::vector<std::string> names;
        WIN32_FIND_DATAA data;
        HANDLE find = FindFirstFileA((dir + "\\*").c_str(), &data);
        if (find == INVALID_HANDLE_VALUE) return names;
        do {
            if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) names.push_back(data.cFileName);
        } while (FindNextFileA(find, &data));
        FindClose(find);
        std::sort(names.begin(), names.end());
        return names;
    }
    void Walk(const char* prefix = "img", int code = 3, int deleteFlag = 0) {
        lib.TransferAllImages(handle, dir.c_str(), prefix, code, deleteFlag);
    }
    std::string At(const std::string& name) { return dir + "\\" + name; }

    std::string dir;
};

// ---- TransferPicture ------------------------------------------------------------------------

TEST_F(TransferTest, PictureIsWrittenAsJpegAndTheHandleReleased) {
    FOTEX_ITEM item = Take();
    Guarded<256> name;
    name.Set((dir + "\\shot").c_str());
    lib.TransferPicture(item, name.chars(), 3, 0);
    EXPECT_EQ(dir + "\\shot.jpg", name.str());
    EXPECT_TRUE(name.GuardsIntact());
    EXPECT_TRUE(IsJpeg(ReadFile(dir + "\\shot.jpg")));

    const auto& write = camera.last.write;
    ASSERT_EQ(2u, write.specs.size());
    EXPECT_EQ(wia::kIpaFirst, write.nameFirst);
    EXPECT_EQ(static_cast<ULONG>(PRSPEC_PROPID), write.specs[0].ulKind);
    EXPECT_EQ(wia::kIpaFormat, write.specs[0].propid);
    EXPECT_TRUE(fotexsim::Value::Guid(wia::WiaImgFmt_JPEG) == write.values[0]);
    EXPECT_EQ(wia::kIpaTymed, write.specs[1].propid);
    EXPECT_TRUE(fotexsim::Value::Int(TYMED_FILE) == write.values[1]);

    const auto& data = camera.last.getData;
    EXPECT_EQ(static_cast<DWORD>(TYMED_FILE), data.tymed);
    EXPECT_EQ(std::wstring(dir.begin(), dir.end()) + L"\\shot.jpg", data.fileName);
    EXPECT_FALSE(data.callback);
    EXPECT_FALSE(data.releaseObject);
    EXPECT_EQ("", Output());
    EXPECT_TRUE(Ledger(1));
}

TEST_F(TransferTest, EveryFormatCodeSelectsItsFormatAndExtension) {
    const struct {
        int code;
        GUID format;
        const char* extension;
        const char* magic;  // start of the file; null: a format the camera's pictures lack
    } cases[] = {
        {0, wia::WiaImgFmt_BMP, ".bmp", "BM"},         {1, wia::WiaImgFmt_EMF, ".emf", nullptr},
        {2, wia::WiaImgFmt_WMF, ".wmf", nullptr},      {3, wia::WiaImgFmt_JPEG, ".jpg", "\xFF\xD8"},
        {4, wia::WiaImgFmt_PNG, ".png", "\x89PNG"},    {5, wia::WiaImgFmt_GIF, ".gif", nullptr},
        {6, wia::WiaImgFmt_TIFF, ".tiff", nullptr},    {7, wia::WiaImgFmt_EXIF, ".exif", nullptr},
        {8, wia::WiaImgFmt_PHOTOCD, ".pcd", nullptr},  {9, wia::WiaImgFmt_FLASHPIX, ".fpix", nullptr},
        {10, wia::WiaImgFmt_ICO, ".ico", nullptr},     {11, wia::WiaImgFmt_CIFF, ".ciff", nullptr},
        {12, wia::WiaImgFmt_PICT, ".pict", nullptr},   {13, wia::WiaImgFmt_JPEG2K, ".jpg", nullptr},
        {14, wia::WiaImgFmt_JPEG2KX, ".jpg", nullptr}, {15, wia::WiaImgFmt_RAWRGB, ".raw", nullptr},
        {128, wia::WiaImgFmt_AVI, ".avi", nullptr},    {129, wia::WiaImgFmt_MPG, ".mpg", nullptr},
        // Unlisted codes: JPEG, and the name as the host gave it.
        {16, wia::WiaImgFmt_JPEG, "", "\xFF\xD8"},     {20, wia::WiaImgFmt_JPEG, "", "\xFF\xD8"},
        {127, wia::WiaImgFmt_JPEG, "", "\xFF\xD8"},    {130, wia::WiaImgFmt_JPEG, "", "\xFF\xD8"},
        {-1, wia::WiaImgFmt_JPEG, "", "\xFF\xD8"},     {INT_MIN, wia::WiaImgFmt_JPEG, "", "\xFF\xD8"},
    };
    for (size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
        const std::string base = dir + "\\f" + std::to_string(i);
        Guarded<256> name;
        name.Set(base.c_str());
        lib.TransferPicture(Take(), name.chars(), cases[i].code, 0);
        EXPECT_EQ(base + cases[i].extension, name.str()) << "case " << i;
        // Every code reaches the camera as its format; the camera's pictures come as BMP, PNG or
        // JPEG, and it refuses the rest as a real one does, at the write: nothing is written,
        // nothing printed.
        EXPECT_TRUE(fotexsim::Value::Guid(cases[i].format) == camera.last.write.values.at(0)) << "case " << i;
        const std::string data = ReadFile(name.str());
        if (cases[i].magic) {
            EXPECT_EQ(0u, data.find(cases[i].magic)) << "case " << i;
        } else {
            EXPECT_FALSE(Exists(name.str())) << "case " << i;
        }
        EXPECT_EQ("", Output()) << "case " << i;
        EXPECT_TRUE(Ledger(1)) << "case " << i;
    }
}

TEST_F(TransferTest, ReusedBufferGetsASecondExtension) {
    Guarded<256> name;
    name.Set((dir + "\\a").c_str());
    lib.TransferPicture(Take(), name.chars(), 3, 0);
    lib.TransferPicture(Take(), name.chars(), 3, 0);
    EXPECT_EQ(dir + "\\a.jpg.jpg", name.str());
    EXPECT_TRUE(Exists(dir + "\\a.jpg.jpg"));
}

TEST_F(TransferTest, OnlyDeleteFlagOneDeletesTheTransferredPicture) {
    const struct {
        int flag;
        bool deleted;
    } cases[] = {{1, true}, {0, false}, {2, false}, {-1, false}};
    for (size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
        FOTEX_ITEM item = Take();
        const size_t before = Media();
        Guarded<256> name;
        name.Set((dir + "\\d" + std::to_string(i)).c_str());
        lib.TransferPicture(item, name.chars(), 3, cases[i].flag);
        EXPECT_TRUE(Exists(name.str())) << "case " << i;
        EXPECT_EQ(cases[i].deleted ? before - 1 : before, Media()) << "case " << i;
        if (cases[i].deleted) {
            EXPECT_EQ(0, camera.last.deleteFlags);
        }
        EXPECT_TRUE(Ledger(1)) << "case " << i;
    }
}

TEST_F(TransferTest, FailuresKeepThePictureAndTraceAsTabulated) {
    const struct {
        Op op;
        HRESULT hr;
        std::string trace;
        bool extended, written;
    } cases[] = {
        {Op::QueryPropertyStorage, E_NOINTERFACE, std::string(kStorageTrace) + "0x80004002\n", false, false},
        {Op::QueryPropertyStorage, S_OK, std::string(kStorageTrace) + "0x80004002\n", false, false},
        {Op::WriteMultiple, E_ACCESSDENIED, "", true, false},
        {Op::QueryDataTransfer, E_NOINTERFACE, "", true, false},
        {Op::QueryDataTransfer, S_OK, "", true, false},  // no interface handed out
        {Op::GetData, E_FAIL, std::string(kGetDataTrace) + "0x80004005\n", true, false},
        {Op::GetData, S_FALSE, std::string(kGetDataTrace) + "0x00000001\n", true, false},
        {Op::DeleteItem, E_FAIL, "", true, true},
    };
    for (size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
        FOTEX_ITEM item = Take();
        const size_t before = Media();
        const std::string base = dir + "\\e" + std::to_string(i);
        Guarded<256> name;
        name.Set(base.c_str());
        camera.FailOn(cases[i].op, cases[i].hr);
        lib.TransferPicture(item, name.chars(), 3, 1);
        EXPECT_EQ(cases[i].trace, Output()) << "case " << i;
        EXPECT_EQ(cases[i].extended ? base + ".jpg" : base, name.str()) << "case " << i;
        EXPECT_EQ(cases[i].written, Exists(base + ".jpg")) << "case " << i;
        EXPECT_EQ(before, Media()) << "case " << i;
        EXPECT_TRUE(Ledger(1)) << "case " << i;
        camera.ClearFaults();
    }
}

TEST_F(TransferTest, ATransferCutPartWayLeavesNoFileItMade) {
    const std::string fresh = dir + "\\cut", mine = dir + "\\mine";
    const struct {
        std::string base, before;  // before: the file's data before the call; "" none
        bool left;
    } cases[] = {
        {fresh, "", false},
        // An existing file is written in place, as ever, and stays whatever the service left.
        {mine, "mine", true},
    };
    for (size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
        if (!cases[i].before.empty()) WriteFile(cases[i].base + ".jpg", cases[i].before);
        Guarded<256> name;
        name.Set(cases[i].base.c_str());
        camera.CutTransfer(E_FAIL);
        lib.TransferPicture(Take(), name.chars(), 3, 1);
        EXPECT_EQ(std::string(kGetDataTrace) + "0x80004005\n", Output()) << "case " << i;
        EXPECT_EQ(cases[i].left, Exists(cases[i].base + ".jpg")) << "case " << i;
        EXPECT_TRUE(Ledger(1)) << "case " << i;
    }
    EXPECT_EQ(std::vector<std::string>{"mine.jpg"}, Files());
}

TEST_F(TransferTest, AFailedTransferKeepsAFileAnotherProgramSavedMeanwhile) {
    // The name is free when the transfer starts; another program saves a file of its own there
    // while the service works (written aside, then moved over the name), then the service fails
    // without touching it: that file is not the transfer's.
    const std::string base = dir + "\\theirs", aside = dir + "\\theirs.tmp";
    camera.onCall = [&](Op op) {
        if (op != Op::GetData) return;
        WriteFile(aside, "theirs");
        EXPECT_TRUE(MoveFileExA(aside.c_str(), (base + ".jpg").c_str(), MOVEFILE_REPLACE_EXISTING)) << GetLastError();
    };
    camera.FailOn(Op::GetData, E_FAIL);
    Guarded<256> name;
    name.Set(base.c_str());
    lib.TransferPicture(Take(), name.chars(), 3, 1);
    camera.onCall = nullptr;
    EXPECT_EQ(std::string(kGetDataTrace) + "0x80004005\n", Output());
    EXPECT_EQ("theirs", ReadFile(base + ".jpg"));
    EXPECT_TRUE(Ledger(1));
}

TEST_F(TransferTest, AFreeNameIsTakenWhileTheServiceWritesAndFreedWhenItFails) {
    // A program that only ever creates new files finds the name held during the transfer, so
    // it cannot lose a file to the removal after the failure.
    const std::string base = dir + "\\held";
    DWORD error = 0;
    camera.onCall = [&](Op op) {
        if (op != Op::GetData) return;
        const HANDLE h = CreateFileA((base + ".jpg").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
        error = h == INVALID_HANDLE_VALUE ? GetLastError() : 0;
        if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
    };
    camera.FailOn(Op::GetData, E_FAIL);
    Guarded<256> name;
    name.Set(base.c_str());
    lib.TransferPicture(Take(), name.chars(), 3, 1);
    camera.onCall = nullptr;
    EXPECT_EQ(std::string(kGetDataTrace) + "0x80004005\n", Output());
    EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_EXISTS), error);
    EXPECT_FALSE(Exists(base + ".jpg"));
    // The same name then takes a transfer that succeeds.
    camera.ClearFaults();
    name.Set(base.c_str());
    lib.TransferPicture(Take(), name.chars(), 3, 1);
    EXPECT_EQ("", Output());
    EXPECT_TRUE(IsJpeg(ReadFile(base + ".jpg")));
    EXPECT_TRUE(Ledger(1));
}

TEST_F(TransferTest, CodeWithoutExtensionNeverWritesIntoTheName) {
    // A constant string in read-only memory: any write into it faults.
    char* page = static_cast<char*>(VirtualAlloc(nullptr, 4096, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
    ASSERT_NE(nullptr, page);
    const std::string base = dir + "\\ro";
    std::memcpy(page, base.c_str(), base.size() + 1);
    DWORD old = 0;
    ASSERT_TRUE(VirtualProtect(page, 4096, PAGE_READONLY, &old));
    for (int code : {20, 127, -1}) {
        lib.TransferPicture(Take(), page, code, 0);
        EXPECT_EQ(base, std::string(page)) << "code " << code;
        EXPECT_TRUE(IsJpeg(ReadFile(base))) << "code " << code;
        DeleteFileA(base.c_str());
    }
    VirtualFree(page, 0, MEM_RELEASE);
    EXPECT_EQ("", Output());
    EXPECT_TRUE(Ledger(1));
}

TEST_F(TransferTest, NullItemCallsNothing) {
    Guarded<256> name;
    name.Set("C:\\a");
    const int before = camera.TotalCalls();
    lib.TransferPicture(0, name.chars(), 3, 1);
    EXPECT_EQ("C:\\a", name.str());
    EXPECT_EQ(before, camera.TotalCalls());
    EXPECT_EQ("", Output());
}

TEST_F(TransferTest, NullNameTransfersNothingButReleasesTheHandle) {
    FOTEX_ITEM item = Take();
    lib.TransferPicture(item, nullptr, 3, 1);
    EXPECT_EQ(0, camera.Calls(Op::QueryPropertyStorage));
    EXPECT_EQ(0, camera.Calls(Op::GetData));
    EXPECT_TRUE(Ledger(1));
}

TEST_F(TransferTest, CompleteNameMayHaveAtMost127Units) {
    const struct {
        size_t units;
        bool accepted;
    } cases[] = {{127, true}, {128, false}, {1000, false}};
    for (size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
        const std::string head = dir + "\\";
        const std::string base = head + std::string(cases[i].units - head.size() - 4, 'n');
        std::vector<char> buffer(base.begin(), base.end());
        buffer.resize(base.size() + 64, '\0');
        const int before = camera.TotalCalls();
        lib.TransferPicture(Take(), buffer.data(), 3, 0);
        EXPECT_EQ(cases[i].accepted ? "" : kTooLongTrace, Output()) << "case " << i;
        EXPECT_EQ(cases[i].accepted ? base + ".jpg" : base, std::string(buffer.data())) << "case " << i;
        EXPECT_EQ(cases[i].accepted, Exists(base + ".jpg")) << "case " << i;
        if (!cases[i].accepted) {
            EXPECT_EQ(before + 1, camera.TotalCalls()) << "only the take-picture command";
        }
        EXPECT_TRUE(Ledger(1)) << "case " << i;
    }
}

// 127 UTF-16 units, not bytes, for one picture's name and for the walk's numbered names: the
// folder is ASCII, the rest two-byte characters of code page 932 or three-byte ones of UTF-8.
TEST_F(TransferTest, NameLimitCountsUnitsInMultibyteCodePages) {
    const struct {
        UINT codePage;
        const char* unit;
        const wchar_t* wide;
    } cases[] = {{932, "\x82\xA0", L"\x3042"}, {65001, "\xE3\x81\x82", L"\x3042"}};  // HIRAGANA LETTER A
    const std::string head = dir + "\\";
    const std::wstring wideHead(head.begin(), head.end());
    auto wideName = [&](const wchar_t* unit, size_t count, const std::wstring& tail) {
        std::wstring name = wideHead;
        for (size_t i = 0; i < count; ++i) name += unit;
        return name + tail;
    };
    auto existsW = [](const std::wstring& name) { return GetFileAttributesW(name.c_str()) != INVALID_FILE_ATTRIBUTES; };
    for (size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
        ASSERT_TRUE(IsValidCodePage(cases[i].codePage)) << cases[i].codePage;
        fotextest::AnsiCodePage page(lib.module(), cases[i].codePage);
        ASSERT_TRUE(page.active());
        const size_t fits = 127 - head.size() - 4;  // ".jpg"
        for (size_t count : {fits, fits + 1}) {
            const bool accepted = count == fits;
            const std::string base = head + fotextest::Repeat(cases[i].unit, count);
            std::vector<char> buffer(base.begin(), base.end());
            buffer.resize(base.size() + 8, '\0');
            lib.TransferPicture(Take(), buffer.data(), 3, 0);
            EXPECT_EQ(accepted ? "" : kTooLongTrace, Output()) << "case " << i << ", " << count;
            EXPECT_EQ(accepted ? base + ".jpg" : base, std::string(buffer.data())) << "case " << i << ", " << count;
            const std::wstring file = wideName(cases[i].wide, count, L".jpg");
            EXPECT_EQ(accepted, existsW(file)) << "case " << i << ", " << count;
            DeleteFileW(file.c_str());
        }
        // The walk's names: the prefix, eight characters of number and ".jpg".
        const size_t prefixFits = fits - 8;
        for (size_t count : {prefixFits, prefixFits + 1}) {
            const bool accepted = count == prefixFits;
            root().children.clear();
            root().Add(L"IMG", wia::kItemTypeImage | wia::kItemTypeFile);
            lib.TransferAllImages(handle, dir.c_str(), fotextest::Repeat(cases[i].unit, count).c_str(), 3, 0);
            EXPECT_EQ(accepted ? "" : kTooLongTrace, Output()) << "case " << i << ", walk " << count;
            char number[16];
            std::snprintf(number, sizeof number, "%8d", static_cast<int>(2 * i + (accepted ? 0 : 1)));
            const std::wstring file = wideName(cases[i].wide, count, std::wstring(number, number + 8) + L".jpg");
            EXPECT_EQ(accepted, existsW(file)) << "case " << i << ", walk " << count;
            DeleteFileW(file.c_str());
        }
    }
    EXPECT_TRUE(Ledger(1));
}

// ---- progress, cancel and memory -------------------------------------------------------------

constexpr int kOk = 1;
constexpr int kCancelled = static_cast<int>(0x800704C7);
constexpr int kSmallBuffer = static_cast<int>(0x8007007A);
constexpr int kPointer = static_cast<int>(0x80004003);
constexpr int kInvalidArg = static_cast<int>(0x80070057);
constexpr int kHandle = static_cast<int>(0x80070006);
constexpr int kIsFolder = static_cast<int>(0x80070150);
constexpr int kFormat = static_cast<int>(0x80070032);
constexpr int kIncomplete = static_cast<int>(0x8007012B);
constexpr int kBmp = 0, kPng = 4, kDelete = 1;
constexpr LONG kTymedFile = 2, kTymedCallback = 128;

// The host's progress routine: records each call and answers as told.
struct Progress {
    std::vector<int> percents;
    std::function<int(int percent, size_t call)> answer = [](int, size_t) { return 0; };
    static int FOTEX_CALL Call(void* self, int percent) {
        Progress& p = *static_cast<Progress*>(self);
        p.percents.push_back(percent);
        return p.answer(percent, p.percents.size() - 1);
    }
};

// A picture of some megabytes, so that its transfer reports many steps.
class ProgressTest : public TransferTest {
protected:
    void SetUp() override {
        // A temporary folder of this process's own: another test program running beside this
        // one makes temporary files of its own in the shared one.
        wchar_t temp[MAX_PATH];
        GetTempPathW(MAX_PATH, temp);
        savedTmp_ = temp;
        const std::wstring own = savedTmp_ + L"progress-" + std::to_wstring(GetCurrentProcessId());
        CreateDirectoryW(own.c_str(), nullptr);
        SetEnvironmentVariableW(L"TMP", own.c_str());
        TransferTest::SetUp();
        if (HasFatalFailure()) return;
        item = Take();
        picture = camera.ItemsOf(device()).back();
        picture->width = 1024;
        picture->height = 768;
    }
    void TearDown() override {
        lib.ReleaseCameraItem(&item);
        TransferTest::TearDown();
        wchar_t own[MAX_PATH];
        GetTempPathW(MAX_PATH, own);
        SetEnvironmentVariableW(L"TMP", savedTmp_.c_str());
        RemoveDirectoryW(own);
    }
    std::wstring savedTmp_;
    // Offers the memory transfer, or only the file.
    void OfferMemory(bool on) {
        picture->props[wia::kIpaTymed].allowed = on ? std::vector<int32_t>{kTymedFile, kTymedCallback}
                                                    : std::vector<int32_t>{kTymedFile};
    }
    // The item as SaveCameraItem writes it.
    std::string Saved(int format) {
        const std::wstring name = Wide(At("reference"));
        EXPECT_EQ(kOk, lib.SaveCameraItem(item, name.c_str(), format, FOTEX_SAVE_REPLACE));
        std::string data = ReadFile(At("reference"));
        DeleteFileW(name.c_str());
        return data;
    }
    static std::wstring Wide(const std::string& s) { return std::wstring(s.begin(), s.end()); }
    // Temporary files the memory path may have left.
    static std::vector<std::wstring> Leftovers() {
        wchar_t temp[MAX_PATH];
        GetTempPathW(MAX_PATH, temp);
        std::vector<std::wstring> names;
        WIN32_FIND_DATAW found;
        HANDLE h = FindFirstFileW((std::wstring(temp) + L"ftx*.tmp").c_str(), &found);
        if (h == INVALID_HANDLE_VALUE) return names;
        do names.push_back(found.cFileName);
        while (FindNextFileW(h, &found));
        FindClose(h);
        return names;
    }

    FOTEX_ITEM item = 0;
    Item* picture = nullptr;
};

void ExpectSteadyProgress(const std::vector<int>& percents, size_t bytes, const char* what) {
    ASSERT_FALSE(percents.empty()) << what;
    EXPECT_GE(percents.size(), bytes / 65536) << what << ": a report at least every 64 KiB";
    for (size_t i = 1; i < percents.size(); ++i) EXPECT_LE(percents[i - 1], percents[i]) << what << " call " << i;
    EXPECT_GE(percents.front(), 0) << what;
    EXPECT_EQ(100, percents.back()) << what;
    EXPECT_EQ(1, std::count(percents.begin(), percents.end(), 100)) << what << ": 100 comes once";
}

TEST_F(ProgressTest, SaveReportsSteadyProgressAndOneHundredBeforeTheNameAppears) {
    const std::string reference = Saved(kBmp);
    const std::wstring name = Wide(At("big.bmp"));
    Progress progress;
    bool namedAtHundred = true;
    size_t filesAtHundred = 0;
    progress.answer = [&](int percent, size_t) {
        if (percent == 100) {
            namedAtHundred = Exists(At("big.bmp"));
            filesAtHundred = Files().size();
        }
        return 0;
    };
    ASSERT_EQ(kOk, lib.SaveCameraItemWithProgress(item, name.c_str(), kBmp, 0, &Progress::Call, &progress));
    ExpectSteadyProgress(progress.percents, reference.size(), "save");
    EXPECT_FALSE(namedAtHundred);
    EXPECT_EQ(1u, filesAtHundred) << "the complete temporary file";
    EXPECT_EQ(reference, ReadFile(At("big.bmp")));
    EXPECT_TRUE(camera.last.getData.callback);
    // Without a routine the service is given no callback.
    ASSERT_EQ(kOk, lib.SaveCameraItemWithProgress(item, name.c_str(), kBmp, FOTEX_SAVE_REPLACE, nullptr, &progress));
    EXPECT_FALSE(camera.last.getData.callback);
    EXPECT_EQ("", Output());
}

TEST_F(ProgressTest, CancelAnywhereLeavesNoFileAndTheItemOnTheCamera) {
    const size_t bytes = Saved(kBmp).size();
    const struct {
        const char* when;
        std::function<int(int, size_t)> answer;
    } cases[] = {
        {"first call", [](int, size_t call) { return call == 0; }},
        {"at 0", [](int percent, size_t) { return percent == 0; }},
        {"in the middle", [](int percent, size_t) { return percent >= 50 ? 7 : 0; }},
        {"at 100", [](int percent, size_t) { return percent == 100 ? -1 : 0; }},
    };
    for (const auto& c : cases) {
        for (const bool memory : {false, true}) {
            OfferMemory(memory);
            Progress save, read;
            save.answer = read.answer = c.answer;
            EXPECT_EQ(kCancelled, lib.SaveCameraItemWithProgress(item, Wide(At("x.bmp")).c_str(), kBmp, kDelete,
                                                                 &Progress::Call, &save))
                << c.when;
            std::vector<uint8_t> buffer(bytes);
            int size = -7;
            EXPECT_EQ(kCancelled, lib.ReadCameraItem(item, kBmp, buffer.data(), static_cast<int>(bytes), &size,
                                                     &Progress::Call, &read))
                << c.when << (memory ? ", memory" : ", file");
            EXPECT_EQ(-7, size) << c.when;
            EXPECT_EQ(save.percents.back() == 100 ? 1 : 0, std::count(save.percents.begin(), save.percents.end(), 100));
            EXPECT_TRUE(Files().empty()) << c.when;
            EXPECT_TRUE(Leftovers().empty()) << c.when;
            EXPECT_EQ(1u, Media()) << c.when << ": the item stays, even with FOTEX_SAVE_DELETE";
        }
    }
    EXPECT_EQ("", Output());
}

TEST_F(ProgressTest, ReadFillsTheBufferByMemoryOrThroughATemporaryFile) {
    const std::string reference = Saved(kPng);
    const int needed = static_cast<int>(reference.size());
    for (const bool memory : {true, false}) {
        const char* path = memory ? "memory" : "file";
        OfferMemory(memory);
        const int banded = camera.Calls(Op::GetBandedData), data = camera.Calls(Op::GetData);
        std::vector<uint8_t> buffer(reference.size() + 64, 0xCD);
        Progress progress;
        int size = -7;
        ASSERT_EQ(kOk, lib.ReadCameraItem(item, kPng, buffer.data(), needed, &size, &Progress::Call, &progress));
        EXPECT_EQ(needed, size) << path;
        EXPECT_EQ(reference, std::string(buffer.begin(), buffer.begin() + needed)) << path;
        EXPECT_EQ(std::vector<uint8_t>(64, 0xCD), std::vector<uint8_t>(buffer.begin() + needed, buffer.end()));
        ExpectSteadyProgress(progress.percents, reference.size(), path);
        // One byte short, then no buffer at all: the size needed, nothing written beyond.
        std::fill(buffer.begin(), buffer.end(), 0xCD);
        size = -7;
        EXPECT_EQ(kSmallBuffer, lib.ReadCameraItem(item, kPng, buffer.data(), needed - 1, &size, nullptr, nullptr));
        EXPECT_EQ(needed, size) << path;
        EXPECT_EQ(std::vector<uint8_t>(65, 0xCD), std::vector<uint8_t>(buffer.begin() + needed - 1, buffer.end()));
        size = -7;
        EXPECT_EQ(kSmallBuffer, lib.ReadCameraItem(item, kPng, nullptr, 0, &size, nullptr, nullptr));
        EXPECT_EQ(needed, size) << path;
        EXPECT_EQ(memory ? 2 : 0, camera.Calls(Op::GetBandedData) - banded) << path;
        EXPECT_EQ(memory ? 0 : 2, camera.Calls(Op::GetData) - data) << path;
        EXPECT_TRUE(Leftovers().empty()) << path;
        int value = 0;  // another call for the item drops the data kept for the read that did not fit
        EXPECT_EQ(kOk, lib.GetItemValue(item, FOTEX_ITEM_SIZE, &value));
    }
    EXPECT_TRUE(Files().empty());
    EXPECT_EQ("", Output());
}

// Asking for the size transfers the data; the read that follows copies it without the camera.
TEST_F(ProgressTest, TheSizeAndTheReadThatFollowsTransferOnce) {
    const std::string reference = Saved(kBmp);
    const int needed = static_cast<int>(reference.size());
    wchar_t name[256];
    ASSERT_EQ(kOk, lib.GetItemText(item, FOTEX_ITEM_FULL_NAME, name, sizeof name));
    std::vector<uint8_t> buffer(reference.size());
    int size = -7, value = 0;
    auto read = [&](int format, bool room, Progress* progress = nullptr) {
        size = -7;
        return lib.ReadCameraItem(item, format, room ? buffer.data() : nullptr, room ? needed : 0, &size,
                                  progress ? &Progress::Call : nullptr, progress);
    };
    for (const bool memory : {true, false}) {
        const char* path = memory ? "memory" : "file";
        OfferMemory(memory);
        const Op op = memory ? Op::GetBandedData : Op::GetData;
        const int before = camera.Calls(op);
        auto transfers = [&] { return camera.Calls(op) - before; };
        EXPECT_EQ(kSmallBuffer, read(kBmp, false)) << path;
        EXPECT_EQ(needed, size) << path;
        EXPECT_EQ(kSmallBuffer, read(kBmp, false)) << path << ": still kept after a read that does not fit";
        Progress progress;
        ASSERT_EQ(kOk, read(kBmp, true, &progress)) << path;
        EXPECT_EQ(needed, size) << path;
        EXPECT_EQ(reference, std::string(buffer.begin(), buffer.end())) << path;
        EXPECT_EQ(std::vector<int>{100}, progress.percents) << path;
        EXPECT_EQ(1, transfers()) << path;
        // Used once: the next read transfers again.
        EXPECT_EQ(kOk, read(kBmp, true)) << path;
        EXPECT_EQ(2, transfers()) << path;
        // Another format, another call for the item, and the handle's release each drop it.
        EXPECT_EQ(kSmallBuffer, read(kBmp, false)) << path;
        EXPECT_EQ(kSmallBuffer, read(kPng, false)) << path;
        EXPECT_EQ(kOk, read(kBmp, true)) << path;
        EXPECT_EQ(5, transfers()) << path;
        EXPECT_EQ(kSmallBuffer, read(kBmp, false)) << path;
        EXPECT_EQ(kOk, lib.GetItemValue(item, FOTEX_ITEM_SIZE, &value)) << path;
        EXPECT_EQ(kOk, read(kBmp, true)) << path;
        EXPECT_EQ(7, transfers()) << path;
        EXPECT_EQ(kSmallBuffer, read(kBmp, false)) << path;
        lib.ReleaseCameraItem(&item);
        ASSERT_EQ(kOk, lib.FindCameraItem(handle, name, &item)) << path;
        EXPECT_EQ(kOk, read(kBmp, true)) << path;
        EXPECT_EQ(9, transfers()) << path;
        EXPECT_EQ(reference, std::string(buffer.begin(), buffer.end())) << path;
    }
    EXPECT_TRUE(Leftovers().empty());
    EXPECT_EQ("", Output());
}

// A handler that gives the handle back while a read that does not fit works: nothing stays kept
// under the handle's value, which the next object at that address (here the item's own next
// object) would otherwise read without a transfer.
TEST_F(ProgressTest, ReleaseInsideAReadThatDidNotFitKeepsNothing) {
    const std::string reference = Saved(kBmp);
    const int needed = static_cast<int>(reference.size());
    wchar_t name[256];
    ASSERT_EQ(kOk, lib.GetItemText(item, FOTEX_ITEM_FULL_NAME, name, sizeof name));
    std::vector<uint8_t> buffer(reference.size());
    for (const bool memory : {true, false}) {
        OfferMemory(memory);
        const Op transfer = memory ? Op::GetBandedData : Op::GetData;
        for (const Op during : {Op::GetItemType, transfer}) {
            auto left = std::make_shared<int>(1);
            camera.onCall = [&, during, left](Op called) {
                if (called == during && --*left == 0) lib.ReleaseCameraItem(&item);
            };
            int size = -7;
            EXPECT_EQ(kSmallBuffer, lib.ReadCameraItem(item, kBmp, nullptr, 0, &size, nullptr, nullptr));
            camera.onCall = nullptr;
            EXPECT_EQ(0, item);
            ASSERT_EQ(kOk, lib.FindCameraItem(handle, name, &item));
            const int before = camera.Calls(transfer);
            EXPECT_EQ(kOk, lib.ReadCameraItem(item, kBmp, buffer.data(), needed, &size, nullptr, nullptr));
            EXPECT_EQ(1, camera.Calls(transfer) - before) << memory << " " << static_cast<int>(during);
            EXPECT_EQ(reference, std::string(buffer.begin(), buffer.end()));
        }
    }
    EXPECT_TRUE(Leftovers().empty());
}

// A faulty service that goes on past a refused band, leaves a gap or sends another format: the
// read fails with a status of its own and no size, and keeps nothing for the next read.
TEST_F(ProgressTest, ReadOfDataThatDidNotArriveWholeOrAsAskedFails) {
    using Fault = fotexsim::Camera::BandFault;
    const std::string reference = Saved(kBmp);
    const int needed = static_cast<int>(reference.size());
    ASSERT_GT(needed, 3 * 65536) << "several bands";
    const struct {
        Fault fault;
        int status;
    } cases[] = {{Fault::Overlong, kIncomplete}, {Fault::Gap, kIncomplete}, {Fault::OtherFormat, kFormat}};
    std::vector<uint8_t> buffer(reference.size() + 64, 0xCD);
    for (size_t i = 0; i < std::size(cases); ++i) {
        for (const bool room : {true, false}) {
            camera.SpoilBands(cases[i].fault);
            int size = -7;
            EXPECT_EQ(cases[i].status, lib.ReadCameraItem(item, kBmp, room ? buffer.data() : nullptr, room ? needed : 0,
                                                          &size, nullptr, nullptr))
                << "case " << i << (room ? ", room" : ", size");
            EXPECT_EQ(-7, size) << "case " << i;
            camera.SpoilBands(Fault::None);
        }
        // Nothing was kept: a sound read transfers again and is whole.
        const int before = camera.Calls(Op::GetBandedData);
        int size = -7;
        ASSERT_EQ(kOk, lib.ReadCameraItem(item, kBmp, buffer.data(), needed, &size, nullptr, nullptr)) << "case " << i;
        EXPECT_EQ(needed, size);
        EXPECT_EQ(1, camera.Calls(Op::GetBandedData) - before) << "case " << i;
        EXPECT_EQ(reference, std::string(buffer.begin(), buffer.begin() + needed)) << "case " << i;
        EXPECT_EQ(std::vector<uint8_t>(64, 0xCD), std::vector<uint8_t>(buffer.begin() + needed, buffer.end()));
    }
    EXPECT_EQ("", Output());
}

TEST_F(ProgressTest, ReadRefusesBadArgumentsFoldersAndFormatsWritingNothing) {
    FOTEX_ITEM folder = 0;
    ASSERT_EQ(kOk, lib.FindCameraItem(handle, L"dev-a\\Root", &folder));
    Guarded<64> buffer;
    int size = -7;
    for (const bool memory : {true, false}) {
        OfferMemory(memory);
        const int statuses[][2] = {
            {lib.ReadCameraItem(0, kBmp, buffer.data(), 64, &size, nullptr, nullptr), kHandle},
            {lib.ReadCameraItem(item, kBmp, buffer.data(), 64, nullptr, nullptr, nullptr), kPointer},
            {lib.ReadCameraItem(item, kBmp, nullptr, 64, &size, nullptr, nullptr), kPointer},
            {lib.ReadCameraItem(item, kBmp, buffer.data(), -1, &size, nullptr, nullptr), kInvalidArg},
            {lib.ReadCameraItem(folder, kBmp, buffer.data(), 64, &size, nullptr, nullptr), kIsFolder},
            {lib.ReadCameraItem(item, FOTEX_FORMAT_GIF, buffer.data(), 64, &size, nullptr, nullptr), kFormat},
        };
        for (size_t i = 0; i < std::size(statuses); ++i) EXPECT_EQ(statuses[i][1], statuses[i][0]) << "case " << i;
    }
    EXPECT_EQ(-7, size);
    EXPECT_TRUE(buffer.Untouched());
    EXPECT_TRUE(Leftovers().empty());
    lib.ReleaseCameraItem(&folder);
}

TEST_F(ProgressTest, ProgressRoutineMayReleaseTheItemAndReadItAgain) {
    wchar_t name[256];
    ASSERT_EQ(kOk, lib.GetItemText(item, FOTEX_ITEM_FULL_NAME, name, sizeof name));
    FOTEX_ITEM other = 0;
    ASSERT_EQ(kOk, lib.FindCameraItem(handle, name, &other));
    const size_t bytes = Saved(kBmp).size();
    std::vector<uint8_t> inner(bytes), outer(bytes);
    Progress progress;
    int innerStatus = 0;
    progress.answer = [&](int, size_t call) {
        if (call == 1) {
            int size = 0;
            innerStatus = lib.ReadCameraItem(other, kBmp, inner.data(), static_cast<int>(bytes), &size, nullptr, nullptr);
            lib.ReleaseCameraItem(&other);
        }
        return 0;
    };
    int size = 0;
    ASSERT_EQ(kOk, lib.ReadCameraItem(item, kBmp, outer.data(), static_cast<int>(bytes), &size, &Progress::Call,
                                      &progress));
    EXPECT_EQ(kOk, innerStatus);
    EXPECT_EQ(0, other);
    EXPECT_EQ(Saved(kBmp), std::string(outer.begin(), outer.end()));
}

// ---- TransferAllImages ----------------------------------------------------------------------

class WalkTest : public TransferTest {
protected:
    // A folder of images whose widths 101, 102, ... tell which item a BMP file holds.
    Item& Folder(Item& parent, int images, const wchar_t* name = L"DCIM") {
        Item& folder = parent.Add(name, wia::kItemTypeFolder);
        for (int i = 0; i < images; ++i) Image(folder);
        return folder;
    }
    Item& Image(Item& parent, LONG type = wia::kItemTypeImage | wia::kItemTypeFile) {
        Item& image = parent.Add(L"IMG_" + std::to_wstring(++made_), type);
        image.width = 100 + made_;
        image.height = 8;
        return image;
    }
    int WidthIn(const std::string& file) {
        const std::string d = ReadFile(At(file));
        if (d.size() < 22) return -1;
        return static_cast<unsigned char>(d[18]) | static_cast<unsigned char>(d[19]) << 8;
    }
    std::vector<std::string> Names(std::initializer_list<std::string> names) {
        std::vector<std::string> v(names);
        std::sort(v.begin(), v.end());
        return v;
    }

    int made_ = 0;
};

TEST_F(WalkTest, ImagesAreNumberedInEnumerationOrder) {
    Folder(root(), 3);
    Walk("img", 0);
    EXPECT_EQ(Names({Numbered("img", 0, ".bmp"), Numbered("img", 1, ".bmp"), Numbered("img", 2, ".bmp")}), Files());
    for (int i = 0; i < 3; ++i) EXPECT_EQ(101 + i, WidthIn(Numbered("img", i, ".bmp")));
    EXPECT_EQ("", Output());
    EXPECT_TRUE(Ledger(1));
}

TEST_F(WalkTest, DepthFirstAnItemBeforeItsChildrenAndEachSubtreeBeforeTheNextSibling) {
    Item& a = Folder(root(), 1, L"A");       // image 101
    Folder(a, 2, L"A1");                     // 102, 103
    Image(a);                                // 104
    Item& shot = Image(root(), wia::kItemTypeImage | wia::kItemTypeHasAttachments);  // 105
    Image(shot);                                                                     // 106
    Walk("o", 0);
    for (int i = 0; i < 6; ++i) EXPECT_EQ(101 + i, WidthIn(Numbered("o", i, ".bmp"))) << "file " << i;
    EXPECT_EQ(6u, Files().size());
}

TEST_F(WalkTest, CountersContinueAcrossCallsAndRestartWithTheLibrary) {
    Folder(root(), 3);
    Walk("a");
    Walk("b");
    EXPECT_TRUE(Exists(At(Numbered("b", 3))));
    EXPECT_FALSE(Exists(At(Numbered("b", 0))));
    lib.CloseWiaDevice(&handle);
    lib.Unload();
    ASSERT_TRUE(lib.Load());
    Enumerate(1);
    handle = Open();
    Walk("c");
    EXPECT_TRUE(Exists(At(Numbered("c", 0))));
    EXPECT_EQ(9u, Files().size());
}

TEST_F(WalkTest, VideosHaveTheirOwnCounterAndNeverReplaceAnImageFile) {
    Item& folder = root().Add(L"DCIM", wia::kItemTypeFolder);
    Image(folder);
    // Videos of a camera that also gives their first frame as a still, so that one format code
    // transfers images and videos alike.
    Image(folder, wia::kItemTypeVideo | wia::kItemTypeFile).formats = {wia::WiaImgFmt_AVI, wia::WiaImgFmt_BMP};
    Image(folder, wia::kItemTypeVideo | wia::kItemTypeFile).formats = {wia::WiaImgFmt_AVI, wia::WiaImgFmt_BMP};
    Image(folder);
    Image(folder, wia::kItemTypeImage | wia::kItemTypeVideo | wia::kItemTypeFile);
    Walk("m", 0);
    // Images take 0, 1, 2 and videos 0, 1, 2; a video whose name an image holds steps aside,
    // and so does an image whose name a video took first.
    EXPECT_EQ(101, WidthIn(Numbered("m", 0, ".bmp")));
    EXPECT_EQ(104, WidthIn(Numbered("m", 1, "~1.bmp")));
    EXPECT_EQ(105, WidthIn(Numbered("m", 2, ".bmp")));
    EXPECT_EQ(105, WidthIn(Numbered("m", 2, "~1.bmp")));  // the item flagged both, as a video
    EXPECT_EQ(102, WidthIn(Numbered("m", 0, "~1.bmp"))) << "the first video, stepped aside";
    EXPECT_EQ(103, WidthIn(Numbered("m", 1, ".bmp"))) << "the second video";
    EXPECT_TRUE(IsBmp(ReadFile(At(Numbered("m", 1, ".bmp"))))) << "its still, in the format asked for";
    EXPECT_EQ(6u, Files().size());
    EXPECT_TRUE(fotexsim::Value::Guid(wia::WiaImgFmt_BMP) == camera.last.write.values.at(0));
}

TEST_F(WalkTest, ExistingFilesAreKeptAndTheFirstFreeTildeNameUsed) {
    Folder(root(), 1);
    WriteFile(At(Numbered("k", 0)), "mine");
    WriteFile(At(Numbered("k", 0, "~1.jpg")), "mine too");
    Walk("k");
    EXPECT_EQ("mine", ReadFile(At(Numbered("k", 0))));
    EXPECT_EQ("mine too", ReadFile(At(Numbered("k", 0, "~1.jpg"))));
    EXPECT_TRUE(IsJpeg(ReadFile(At(Numbered("k", 0, "~2.jpg")))));
    EXPECT_EQ("", Output());
}

TEST_F(WalkTest, AFolderAtTheNameIsSteppedAsideFromLikeAFile) {
    Folder(root(), 1);
    ASSERT_TRUE(CreateDirectoryA(At(Numbered("d", 0)).c_str(), nullptr));
    Walk("d");
    EXPECT_TRUE(IsJpeg(ReadFile(At(Numbered("d", 0, "~1.jpg")))));
    EXPECT_EQ("", Output());
    RemoveDirectoryA(At(Numbered("d", 0)).c_str());
}

TEST_F(WalkTest, FileSavedByAnotherProgramDuringTheWalkIsKept) {
    Folder(root(), 3);
    // Another program saves the name of the third picture while the first one is transferred,
    // long after the walk began with the folder empty.
    const std::string theirs = At(Numbered("w", 2));
    camera.onCall = [&](Op op) {
        if (op == Op::GetData && !Exists(theirs)) WriteFile(theirs, "theirs");
    };
    Walk("w");
    camera.onCall = nullptr;
    EXPECT_EQ("theirs", ReadFile(theirs));
    EXPECT_TRUE(IsJpeg(ReadFile(At(Numbered("w", 2, "~1.jpg")))));
    EXPECT_EQ(Names({Numbered("w", 0), Numbered("w", 1), Numbered("w", 2), Numbered("w", 2, "~1.jpg")}), Files());
    EXPECT_EQ("", Output());
}

TEST_F(WalkTest, TheNameOfThePictureInTransferIsHeldAgainstNewFiles) {
    Folder(root(), 1);
    // The walk settles the name before the service writes: another program creating only new
    // files cannot take it in between and see its file written over.
    const std::string mine = At(Numbered("w", 0));
    DWORD error = 0;
    camera.onCall = [&](Op op) {
        if (op != Op::GetData) return;
        const HANDLE h = CreateFileA(mine.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
        error = h == INVALID_HANDLE_VALUE ? GetLastError() : 0;
        if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
    };
    Walk("w");
    camera.onCall = nullptr;
    EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_EXISTS), error);
    EXPECT_TRUE(IsJpeg(ReadFile(mine)));
    EXPECT_EQ(Names({Numbered("w", 0)}), Files());
    EXPECT_EQ("", Output());
}

TEST_F(WalkTest, ATransferCutPartWayLeavesNoFileAndEndsTheWalk) {
    Folder(root(), 3);
    camera.CutTransfer(E_FAIL, 2);
    Walk("cut");
    EXPECT_EQ(std::string(kGetDataTrace) + "0x80004005\n", Output());
    EXPECT_EQ(Names({Numbered("cut", 0)}), Files());
    EXPECT_TRUE(IsJpeg(ReadFile(At(Numbered("cut", 0)))));
}

TEST_F(WalkTest, NameWithoutExtensionStepsAsideToo) {
    Folder(root(), 1);
    WriteFile(At(Numbered("u", 0, "")), "mine");
    Walk("u", 20);
    EXPECT_EQ("mine", ReadFile(At(Numbered("u", 0, ""))));
    EXPECT_TRUE(IsJpeg(ReadFile(At(Numbered("u", 0, "~1")))));
}

TEST_F(WalkTest, DeleteFlagOneDeletesEachTransferredItem) {
    const struct {
        int flag;
        size_t left;
    } cases[] = {{0, 3}, {2, 3}, {1, 0}};
    for (size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
        root().children.clear();
        Folder(root(), 3);
        Walk(("d" + std::to_string(i)).c_str(), 3, cases[i].flag);
        EXPECT_EQ(cases[i].left, Media()) << "case " << i;
        EXPECT_EQ(3 * (i + 1), Files().size()) << "case " << i;
        EXPECT_TRUE(Ledger(1)) << "case " << i;
    }
}

TEST_F(WalkTest, SkipsEmptyFoldersAndItemsOfOtherKinds) {
    root().Add(L"empty", wia::kItemTypeFolder);
    root().Add(L"sound", wia::kItemTypeAudio | wia::kItemTypeFile);
    root().Add(L"plain", wia::kItemTypeFile);
    Folder(root(), 2);
    Walk();
    EXPECT_EQ(Names({Numbered("img", 0), Numbered("img", 1)}), Files());
    EXPECT_EQ("", Output());
}

TEST_F(WalkTest, FailedTransferStopsTheWholeWalkAfterAdvancingItsCounter) {
    Folder(root(), 3);
    Folder(root(), 1, L"later");
    camera.FailOn(Op::GetData, E_FAIL, 2);
    Walk("s");
    EXPECT_EQ(std::string(kGetDataTrace) + "0x80004005\n", Output());
    EXPECT_EQ(Names({Numbered("s", 0)}), Files());
    Walk("t");  // the failed attempt took number 1
    EXPECT_EQ(Numbered("t", 2), Files().at(1));
    EXPECT_TRUE(Ledger(1));
}

TEST_F(WalkTest, ServiceFailuresStopTheWalk) {
    const struct {
        Op op;
        HRESULT hr;
        int nth;
        const char* trace;
    } cases[] = {
        {Op::GetItemType, E_FAIL, 2, ""},      // the first image: skipped, and the walk stops
        {Op::EnumChildItems, E_FAIL, 2, ""},  // the folder's children
        {Op::EnumChildItems, S_OK, 2, ""},    // no enumerator handed out
        {Op::ItemNext, E_FAIL, 2, "Error calling pEnumWiaItem->Next: HRESULT: 0x80004005\n"},
        {Op::ItemNext, S_OK, 2, ""},          // no item handed out
    };
    Folder(root(), 2);
    for (size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
        camera.FailOn(cases[i].op, cases[i].hr, cases[i].nth);
        Walk(("f" + std::to_string(i)).c_str());
        EXPECT_EQ(cases[i].trace, Output()) << "case " << i;
        EXPECT_TRUE(Files().empty()) << "case " << i;
        EXPECT_TRUE(Ledger(1)) << "case " << i;
        camera.ClearFaults();
    }
}

TEST_F(WalkTest, NameTooLongStopsTheWalk) {
    Folder(root(), 2);
    const std::string prefix(120, 'p');
    Walk(prefix.c_str());
    EXPECT_EQ(kTooLongTrace, Output());
    EXPECT_EQ(0, camera.Calls(Op::GetData));
    Walk("q");
    EXPECT_EQ(Names({Numbered("q", 1), Numbered("q", 2)}), Files());
}

TEST_F(WalkTest, FolderAndPrefixBeyondTheNameBufferStopBeforeAnyTransfer) {
    Folder(root(), 1);
    // Around the walk's own buffer: up to 381 bytes of folder, backslash and prefix may widen
    // into 127 units in some code page, so the walk composes them; beyond, it refuses at once.
    const size_t head = dir.size() + 1;
    for (size_t total : {size_t{381}, size_t{382}, size_t{413}, size_t{5000}}) {
        const std::string prefix(total - head, 'p');
        Walk(prefix.c_str());
        EXPECT_EQ(kTooLongTrace, Output()) << total;
        EXPECT_EQ(0, camera.Calls(Op::GetData)) << total;
        EXPECT_TRUE(Files().empty()) << total;
    }
    EXPECT_TRUE(Ledger(1));
}

TEST_F(WalkTest, TildeNameBeyondTheBoundStopsAndKeepsTheFile) {
    Folder(root(), 1);
    const std::string head = dir + "\\";
    const std::string prefix(127 - head.size() - 8 - 4, 'p');
    ASSERT_EQ(127u, At(Numbered(prefix, 0)).size());
    WriteFile(At(Numbered(prefix, 0)), "mine");
    Walk(prefix.c_str());
    EXPECT_EQ(kTooLongTrace, Output());
    EXPECT_EQ("mine", ReadFile(At(Numbered(prefix, 0))));
    EXPECT_EQ(1u, Files().size());
}

TEST_F(WalkTest, DepthIsBoundedAtSixtyFourLevelsBelowTheRoot) {
    const struct {
        int folders;
        bool transferred;
    } cases[] = {{63, true}, {64, false}, {100000, false}};
    for (size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
        root().children.clear();
        Item* level = &root();
        for (int n = 0; n < cases[i].folders; ++n) level = &level->Add(L"f", wia::kItemTypeFolder);
        Image(*level);
        Walk(("z" + std::to_string(i)).c_str());
        EXPECT_EQ(cases[i].transferred ? "" : kTooDeepTrace, Output()) << "case " << i;
        EXPECT_EQ(cases[i].transferred ? 1 : 0, camera.Calls(Op::GetData)) << "case " << i;
        EXPECT_TRUE(Ledger(1)) << "case " << i;
        camera.ClearLog();
    }
    root().children.clear();
}

TEST_F(WalkTest, FolderThatContainsItselfEndsAtTheDepthBound) {
    Item& folder = root().Add(L"loop", wia::kItemTypeFolder);
    folder.children.push_back(root().children.back());
    Walk();
    EXPECT_EQ(kTooDeepTrace, Output());
    EXPECT_TRUE(Ledger(1));
    folder.children.clear();  // break the cycle
}

// A RAW+JPEG camera as Windows' PTP layer presents it: the RAW half of each pair comes first
// and refuses JPEG, so 1.3's walk stops there as at any refused format, and TransferPicture of
// it writes nothing; the JPEG halves transfer as ever, and the RAW ones in their own format.
TEST_F(WalkTest, OnARawAndJpegCameraTheWalkStopsAtTheFirstRawHalfAndTheJpegHalvesTransfer) {
    Folder(root(), 2);
    ASSERT_TRUE(camera.SetProfile(0, 1));
    Walk("p", 3);
    EXPECT_TRUE(Files().empty());
    EXPECT_EQ("", Output());
    const struct {
        const wchar_t* fullName;
        const char* name;
        bool jpeg;
    } cases[] = {{L"dev-a\\Root\\IMG_1", "raw1", false}, {L"dev-a\\Root\\IMG_1.jpg", "jpeg1", true}, {L"dev-a\\Root\\IMG_2.jpg", "jpeg2", true}};
    for (const auto& c : cases) {
        FOTEX_ITEM item = 0;
        ASSERT_EQ(1, lib.FindCameraItem(handle, c.fullName, &item)) << c.name;
        Guarded<256> name;
        name.Set((dir + "\\" + c.name).c_str());
        lib.TransferPicture(item, name.chars(), 3, 0);
        EXPECT_EQ(c.jpeg, IsJpeg(ReadFile(At(std::string(c.name) + ".jpg")))) << c.name;
        EXPECT_EQ(c.jpeg, Exists(At(std::string(c.name) + ".jpg"))) << c.name;
    }
    FOTEX_ITEM raw = 0;
    ASSERT_EQ(1, lib.FindCameraItem(handle, L"dev-a\\Root\\IMG_2", &raw));
    const std::wstring native = std::wstring(dir.begin(), dir.end()) + L"\\IMG_2.nef";
    EXPECT_EQ(1, lib.SaveCameraItem(raw, native.c_str(), 256, 0));
    EXPECT_EQ("FOTEXRAW", ReadFile(At("IMG_2.nef")).substr(0, 8));
    lib.ReleaseCameraItem(&raw);
    EXPECT_EQ("", Output());
    EXPECT_TRUE(Ledger(1));
}

TEST_F(WalkTest, NullDeviceOrTextsCallNothingAndKeepTheCounters) {
    Folder(root(), 1);
    const int before = camera.TotalCalls();
    lib.TransferAllImages(0, dir.c_str(), "n", 3, 1);
    lib.TransferAllImages(handle, nullptr, "n", 3, 1);
    lib.TransferAllImages(handle, dir.c_str(), nullptr, 3, 1);
    EXPECT_EQ(before, camera.TotalCalls());
    Walk("n");
    EXPECT_EQ(Names({Numbered("n", 0)}), Files());
}

// ---- ImageTransferDialog --------------------------------------------------------------------

TEST_F(TransferTest, DialogWritesTheChosenPictureToKalto) {
    DeleteFileA("C:\\kalto.jpg");
    EXPECT_EQ(1, lib.ImageTransferDialog(0x1234, handle));
    EXPECT_TRUE(IsJpeg(ReadFile("C:\\kalto.jpg")));
    DeleteFileA("C:\\kalto.jpg");
    const auto& d = camera.last.dialog;
    EXPECT_EQ(reinterpret_cast<HWND>(0x1234), d.parent);
    EXPECT_EQ(wia::kStiDeviceTypeDigitalCamera, d.deviceType);
    EXPECT_EQ(wia::kDialogSingleImage, d.flags);
    EXPECT_EQ(0x20001, d.intent);
    EXPECT_EQ(reinterpret_cast<IWiaItem*>(handle), d.root);
    EXPECT_EQ(L"C:\\kalto.jpg", d.fileName);
    EXPECT_FALSE(d.formatNull);
    EXPECT_TRUE(IsEqualGUID(wia::WiaImgFmt_JPEG, d.format));
    EXPECT_TRUE(Boxes().empty());
    EXPECT_EQ("", Output());
    EXPECT_TRUE(Ledger(1));
}

TEST_F(TransferTest, DialogFailuresAreShownInBoxes) {
    const struct {
        HRESULT hr;
        std::vector<std::string> texts;
    } cases[] = {
        {E_NOTIMPL, {"No UI is available", "Open UI error: 80004001\n"}},
        {S_FALSE, {"Open UI error:        1\n"}},
        {E_INVALIDARG, {"Open UI error: 80070057\n"}},
        {E_UNEXPECTED, {"Open UI error: 8000ffff\n"}},
    };
    for (size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
        Boxes().clear();
        camera.dialogResult = cases[i].hr;
        EXPECT_EQ(1, lib.ImageTransferDialog(0, handle)) << "case " << i;
        EXPECT_EQ(nullptr, camera.last.dialog.parent);
        ASSERT_EQ(cases[i].texts.size(), Boxes().size()) << "case " << i;
        for (size_t b = 0; b < Boxes().size(); ++b) {
            EXPECT_EQ(cases[i].texts[b], Boxes()[b].text) << "case " << i;
            EXPECT_EQ("Info", Boxes()[b].caption);
            EXPECT_EQ(static_cast<UINT>(MB_ICONERROR), Boxes()[b].style);
            EXPECT_EQ(nullptr, Boxes()[b].owner);
        }
        EXPECT_EQ("", Output());
        EXPECT_TRUE(Ledger(1)) << "case " << i;
    }
}

TEST_F(TransferTest, DialogWithoutDeviceOrManagerShowsNothing) {
    const int before = camera.TotalCalls();
    EXPECT_EQ(-1, lib.ImageTransferDialog(0, 0));
    EXPECT_EQ(before, camera.TotalCalls());

    camera.FailOn(Op::CreateInstance, E_OUTOFMEMORY);
    EXPECT_EQ(-2, lib.ImageTransferDialog(0, handle));
    EXPECT_EQ("CoCreateInstance failed on CLSID_WiaDevMgr: HRESULT: 0x8007000E\n", Output());
    camera.FailOn(Op::CreateInstance, S_OK);
    EXPECT_EQ(-2, lib.ImageTransferDialog(0, handle));
    EXPECT_EQ(0, camera.Calls(Op::GetImageDlg));
    EXPECT_TRUE(Boxes().empty());
    EXPECT_TRUE(Ledger(1));
}

}  // namespace

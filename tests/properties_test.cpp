// The camera settings: every export of the family, driven by the property table.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <string>
#include <type_traits>
#include <vector>

#include "fixture.h"
#include "property_table.h"
#include "wia_ids.h"

namespace {

using fotexsim::Op;
using fotexsim::Value;
using fotextest::FotexTest;
using fotextest::Guarded;
using fotextest::Utf16Bytes;

using IntGetter = int(FOTEX_CALL*)(FOTEX_DEVICE, int*);
using IntSetter = int(FOTEX_CALL*)(FOTEX_DEVICE, int);
using TextGetter = int(FOTEX_CALL*)(FOTEX_DEVICE, void*);
using TextSetter = int(FOTEX_CALL*)(FOTEX_DEVICE, const char*);

// The public header declares every export of the table with the signature of its kind.
#define CHECK_GETTER_FOTEX_KIND_INTEGER(getter) static_assert(std::is_same_v<decltype(&::getter), IntGetter>, #getter);
#define CHECK_SETTER_FOTEX_KIND_INTEGER(setter) static_assert(std::is_same_v<decltype(&::setter), IntSetter>, #setter);
#define CHECK_GETTER_FOTEX_KIND_READ_ONLY CHECK_GETTER_FOTEX_KIND_INTEGER
#define CHECK_SETTER_FOTEX_KIND_READ_ONLY(setter)
#define CHECK_GETTER_FOTEX_KIND_TEXT(getter) static_assert(std::is_same_v<decltype(&::getter), TextGetter>, #getter);
#define CHECK_SETTER_FOTEX_KIND_TEXT(setter) static_assert(std::is_same_v<decltype(&::setter), TextSetter>, #setter);
#define CHECK_DECLARED(kind, id, getter, setter) CHECK_GETTER_##kind(getter) CHECK_SETTER_##kind(setter)
FOTEX_PROPERTY_TABLE(CHECK_DECLARED)

enum class Kind { Integer, ReadOnly, Text };
#define TEST_KIND_FOTEX_KIND_INTEGER Kind::Integer
#define TEST_KIND_FOTEX_KIND_READ_ONLY Kind::ReadOnly
#define TEST_KIND_FOTEX_KIND_TEXT Kind::Text

struct Row {
    Kind kind;
    PROPID id;
    const char* getter;
    const char* setter;  // null: read only
    bool text() const { return kind == Kind::Text; }
    bool writable() const { return kind != Kind::ReadOnly; }
};

#define TEST_ROW(kind, id, getter, setter) \
    Row{TEST_KIND_##kind, id, #getter, TEST_KIND_##kind == Kind::ReadOnly ? nullptr : #setter},
const std::vector<Row> kRows = {FOTEX_PROPERTY_TABLE(TEST_ROW)};

constexpr int kSentinel = 0x5EED;
constexpr HRESULT kOffline = static_cast<HRESULT>(0x80210005);

class PropertyTest : public FotexTest {
protected:
    void SetUp() override {
        FotexTest::SetUp();
        if (HasFatalFailure()) return;
        camera.AddDevice(L"dev-a", L"Alpha", L"First camera");
        Enumerate(1);
        device = Open();
        // Whatever the camera allows elsewhere, these tests decide the values themselves.
        for (auto& [id, property] : Props()) property.ClearLimits();
        camera.ClearLog();
        Output();
    }
    void TearDown() override {
        lib.CloseWiaDevice(&device);
        FotexTest::TearDown();
    }

    fotexsim::PropertyMap& Props() { return camera.devices[0].root->props; }

    template <class F>
    F Export(const char* name) {
        auto f = reinterpret_cast<F>(lib.Symbol(name));
        EXPECT_NE(nullptr, f) << name << " is not exported";
        return f;
    }

    int GetInt(const Row& row, FOTEX_DEVICE handle, int* value) { return Export<IntGetter>(row.getter)(handle, value); }
    int SetInt(const Row& row, FOTEX_DEVICE handle, int value) { return Export<IntSetter>(row.setter)(handle, value); }
    int GetText(const Row& row, FOTEX_DEVICE handle, void* buffer) { return Export<TextGetter>(row.getter)(handle, buffer); }
    int SetText(const Row& row, FOTEX_DEVICE handle, const char* text) { return Export<TextSetter>(row.setter)(handle, text); }

    // A getter that must not write: the status, with the output checked for the sentinel.
    int GetUntouched(const Row& row, FOTEX_DEVICE handle) {
        if (row.text()) {
            Guarded<FOTEX_TEXT_BYTES> buffer;
            const int status = GetText(row, handle, buffer.data());
            EXPECT_TRUE(buffer.Untouched() && buffer.GuardsIntact()) << row.getter;
            return status;
        }
        int value = kSentinel;
        const int status = GetInt(row, handle, &value);
        EXPECT_EQ(kSentinel, value) << row.getter;
        return status;
    }

    // A setter with a value the camera would otherwise accept.
    int SetAny(const Row& row, FOTEX_DEVICE handle) { return row.text() ? SetText(row, handle, "abc") : SetInt(row, handle, 1); }

    // No trace line, no message box, only the host's handle alive.
    // Failure messages land in the same capture: once one is there, the output proves nothing
    // and quoting it again would only grow it.
    void ExpectQuiet(const char* name, long references = 1) {
        const std::string printed = Output();
        if (!HasFailure()) {
            EXPECT_EQ("", printed) << name;
        }
        EXPECT_TRUE(Boxes().empty()) << name;
        EXPECT_TRUE(Ledger(references)) << name;
    }

    FOTEX_DEVICE device = 0;
};

TEST(PropertyTable, HasThirtySevenSettingsInIdOrderWithThirtyFourSetters) {
    ASSERT_EQ(37u, kRows.size());
    size_t setters = 0, texts = 0;
    for (size_t i = 0; i < kRows.size(); ++i) {
        const Row& row = kRows[i];
        EXPECT_TRUE(row.id >= 2052 && row.id <= 2092) << row.getter;
        if (i > 0) {
            EXPECT_LT(kRows[i - 1].id, row.id) << row.getter;
        }
        EXPECT_EQ(0, std::string(row.getter).rfind("Get", 0)) << row.getter;
        if (row.setter) {
            EXPECT_EQ(0, std::string(row.setter).rfind("Set", 0)) << row.setter;
        }
        setters += row.writable();
        texts += row.text();
    }
    EXPECT_EQ(34u, setters);
    EXPECT_EQ(4u, texts);
}

TEST_F(PropertyTest, NullHandleReturnsMinusThreeWithoutCallingTheService) {
    for (const Row& row : kRows) {
        EXPECT_EQ(-3, GetUntouched(row, 0)) << row.getter;
        if (row.writable()) {
            EXPECT_EQ(-3, SetAny(row, 0)) << row.setter;
        }
        ExpectQuiet(row.getter);
    }
    EXPECT_EQ(0, camera.TotalCalls());
}

TEST_F(PropertyTest, NullValuePointerReturnsMinusOneWithoutCallingTheService) {
    for (const Row& row : kRows) {
        const int status = row.text() ? GetText(row, device, nullptr) : GetInt(row, device, nullptr);
        EXPECT_EQ(-1, status) << row.getter;
        if (row.text()) {
            EXPECT_EQ(-1, SetText(row, device, nullptr)) << row.setter;
        }
        ExpectQuiet(row.getter);
    }
    EXPECT_EQ(0, camera.TotalCalls());
}

TEST_F(PropertyTest, HandleWithoutPropertyStorageReturnsMinusTwo) {
    // S_OK without an object counts as no storage too: there is nothing to read through.
    for (HRESULT hr : {E_NOINTERFACE, E_FAIL, S_OK}) {
        for (const Row& row : kRows) {
            camera.FailOn(Op::QueryPropertyStorage, hr);
            EXPECT_EQ(-2, GetUntouched(row, device)) << row.getter << " " << std::hex << hr;
            if (row.writable()) {
                camera.FailOn(Op::QueryPropertyStorage, hr);
                EXPECT_EQ(-2, SetAny(row, device)) << row.setter << " " << std::hex << hr;
            }
            ExpectQuiet(row.getter);
        }
    }
    EXPECT_EQ(0, camera.Calls(Op::ReadMultiple) + camera.Calls(Op::WriteMultiple));
}

TEST_F(PropertyTest, IntegerGettersReadTheirOwnPropertyOnce) {
    for (const Row& row : kRows) {
        if (row.text()) continue;
        const int stored = -static_cast<int>(row.id) * 1000;
        Props()[row.id].value = Value::Int(stored);
        camera.ClearLog();
        int value = kSentinel;
        EXPECT_EQ(1, GetInt(row, device, &value)) << row.getter;
        EXPECT_EQ(stored, value) << row.getter;
        EXPECT_EQ(std::vector<PROPID>{row.id}, camera.last.read) << row.getter;
        EXPECT_EQ(1, camera.Calls(Op::QueryPropertyStorage)) << row.getter;
        EXPECT_EQ(1, camera.Calls(Op::ReadMultiple)) << row.getter;
        ExpectQuiet(row.getter);
    }
}

TEST_F(PropertyTest, GetterOfAnAbsentPropertyReturnsMinusOne) {
    for (const Row& row : kRows) {
        Props().erase(row.id);  // the read answers S_FALSE
        EXPECT_EQ(-1, GetUntouched(row, device)) << row.getter;
        ExpectQuiet(row.getter);
    }
}

TEST_F(PropertyTest, GetterReturnsMinusOneForAnyReadResultButOk) {
    Reconnecting(false);  // the failure's own status, not a device opened again
    for (HRESULT hr : {S_FALSE, HRESULT(2), E_FAIL, kOffline}) {
        for (const Row& row : kRows) {
            camera.FailOn(Op::ReadMultiple, hr);
            EXPECT_EQ(-1, GetUntouched(row, device)) << row.getter << " " << std::hex << hr;
            ExpectQuiet(row.getter);
        }
    }
}

TEST_F(PropertyTest, GetterLeavesItsOutputForAValueOfAnotherType) {
    const Value integerOthers[] = {Value::UInt(7), Value::Empty(), Value::Text(L"12"), Value::NullText()};
    const Value textOthers[] = {Value::Int(7), Value::UInt(7), Value::Empty()};
    for (const Row& row : kRows) {
        const auto& others = row.text() ? std::vector<Value>(std::begin(textOthers), std::end(textOthers))
                                        : std::vector<Value>(std::begin(integerOthers), std::end(integerOthers));
        for (size_t i = 0; i < others.size(); ++i) {
            Props()[row.id].value = others[i];
            EXPECT_EQ(1, GetUntouched(row, device)) << row.getter << " value " << i;
            ExpectQuiet(row.getter);
        }
    }
}

TEST_F(PropertyTest, IntegerSettersSendTheValueUnchanged) {
    for (const Row& row : kRows) {
        if (row.text() || !row.writable()) continue;
        for (int value : {INT_MIN, -1, 0, 0x7FFFFFFF}) {
            EXPECT_EQ(1, SetInt(row, device, value)) << row.setter << " " << value;
            const auto& write = camera.last.write;
            ASSERT_EQ(1u, write.specs.size()) << row.setter;
            EXPECT_EQ(ULONG(PRSPEC_PROPID), write.specs[0].ulKind) << row.setter;
            EXPECT_EQ(row.id, write.specs[0].propid) << row.setter;
            EXPECT_EQ(VT_I4, write.values[0].type) << row.setter;
            EXPECT_EQ(value, write.values[0].i) << row.setter;
            EXPECT_EQ(fotex::wia::kIpaFirst, write.nameFirst) << row.setter;
            int back = kSentinel;
            EXPECT_EQ(1, GetInt(row, device, &back)) << row.getter;
            EXPECT_EQ(value, back) << row.getter;
            ExpectQuiet(row.setter);
        }
    }
}

TEST_F(PropertyTest, SetterReturnsMinusOneWhenTheCameraRefuses) {
    for (const Row& row : kRows) {
        if (!row.writable()) continue;
        const Value before = Props()[row.id].value;

        Props()[row.id].readOnly = true;
        EXPECT_EQ(-1, SetAny(row, device)) << row.setter << " read only";
        Props()[row.id].readOnly = false;

        if (!row.text()) {
            Props()[row.id].allowed = {5, 6};
            EXPECT_EQ(-1, SetInt(row, device, 7)) << row.setter << " value not allowed";
            Props()[row.id].allowed.clear();
        }
        for (HRESULT hr : {S_FALSE, HRESULT(2), E_FAIL}) {
            camera.FailOn(Op::WriteMultiple, hr);
            EXPECT_EQ(-1, SetAny(row, device)) << row.setter << " " << std::hex << hr;
        }
        Props().erase(row.id);
        EXPECT_EQ(-1, SetAny(row, device)) << row.setter << " absent";
        Props()[row.id].value = before;

        EXPECT_TRUE(Props()[row.id].value == before) << row.setter << " stored a refused value";
        ExpectQuiet(row.setter);
    }
}

TEST_F(PropertyTest, TextSetterSendsTheTextAndItReadsBackAsUtf16) {
    for (const Row& row : kRows) {
        if (!row.text()) continue;
        EXPECT_EQ(1, SetText(row, device, "abc")) << row.setter;
        const auto& write = camera.last.write;
        ASSERT_EQ(1u, write.specs.size()) << row.setter;
        EXPECT_EQ(row.id, write.specs[0].propid) << row.setter;
        EXPECT_EQ(VT_BSTR, write.values[0].type) << row.setter;
        EXPECT_EQ(L"abc", write.values[0].s) << row.setter;
        EXPECT_EQ(fotex::wia::kIpaFirst, write.nameFirst) << row.setter;

        Guarded<FOTEX_TEXT_BYTES> buffer;
        EXPECT_EQ(1, GetText(row, device, buffer.data())) << row.getter;
        const std::vector<uint8_t> expected = {0x61, 0, 0x62, 0, 0x63, 0, 0, 0};
        EXPECT_EQ(expected, buffer.bytes(8)) << row.getter;
        EXPECT_TRUE(buffer.GuardsIntact()) << row.getter;
        ExpectQuiet(row.setter);
    }
}

TEST_F(PropertyTest, TextGetterCopiesAtMostSixtyFourUnitsRaw) {
    struct Case {
        std::wstring stored;
        std::vector<uint8_t> expected;  // the bytes compared, from the buffer's start
    };
    const std::wstring u63(63, L'\u4e2d'), u64(64, L'x'), u70(70, L'y');
    std::vector<uint8_t> full63 = Utf16Bytes(u63);
    full63.push_back(0);
    full63.push_back(0);
    const std::vector<Case> cases = {
        {L"abc", {0x61, 0, 0x62, 0, 0x63, 0, 0, 0}},
        {L"\u00e9\u4e2d", {0xE9, 0x00, 0x2D, 0x4E, 0, 0}},
        {u63, full63},
        {u64, Utf16Bytes(u64)},
        {u70, Utf16Bytes(u70.substr(0, 64))},
        {L"", {0, 0}},
    };
    for (const Row& row : kRows) {
        if (!row.text()) continue;
        for (size_t i = 0; i < cases.size(); ++i) {
            Props()[row.id].value = Value::Text(cases[i].stored);
            Guarded<FOTEX_TEXT_BYTES> buffer;
            EXPECT_EQ(1, GetText(row, device, buffer.data())) << row.getter << " case " << i;
            EXPECT_EQ(cases[i].expected, buffer.bytes(cases[i].expected.size())) << row.getter << " case " << i;
            EXPECT_TRUE(buffer.GuardsIntact()) << row.getter << " case " << i;
            ExpectQuiet(row.getter);
        }
    }
}

TEST_F(PropertyTest, TextGetterGivesATerminatorForANullString) {
    for (const Row& row : kRows) {
        if (!row.text()) continue;
        Props()[row.id].value = Value::NullText();
        Guarded<FOTEX_TEXT_BYTES> buffer;
        EXPECT_EQ(1, GetText(row, device, buffer.data())) << row.getter;
        EXPECT_EQ((std::vector<uint8_t>{0, 0}), buffer.bytes(2)) << row.getter;
        ExpectQuiet(row.getter);
    }
}

TEST_F(PropertyTest, TextSetterPassesUpTo127UnitsWholeAndRefusesLonger) {
    const std::string empty, longest(127, 'L'), tooLong(128, 'T'), farTooLong(300, 'F');
    for (const Row& row : kRows) {
        if (!row.text()) continue;
        for (const std::string* text : {&empty, &longest}) {
            EXPECT_EQ(1, SetText(row, device, text->c_str())) << row.setter << " " << text->size();
            EXPECT_EQ(std::wstring(text->begin(), text->end()), camera.last.write.values.at(0).s) << row.setter;
        }
        const Value stored = Props()[row.id].value;
        const int writes = camera.Calls(Op::WriteMultiple);
        for (const std::string* text : {&tooLong, &farTooLong}) {
            EXPECT_EQ(-1, SetText(row, device, text->c_str())) << row.setter << " " << text->size();
        }
        EXPECT_EQ(writes, camera.Calls(Op::WriteMultiple)) << row.setter << " wrote a cut text";
        EXPECT_TRUE(Props()[row.id].value == stored) << row.setter;
        ExpectQuiet(row.setter);
    }
}

TEST_F(PropertyTest, TextSetterWidensWithTheAnsiCodePage) {
    const char ansi[] = "caf\xE9 \xA9";
    WCHAR wide[16] = {};
    ASSERT_NE(0, MultiByteToWideChar(CP_ACP, 0, ansi, -1, wide, 16));
    for (const Row& row : kRows) {
        if (!row.text()) continue;
        EXPECT_EQ(1, SetText(row, device, ansi)) << row.setter;
        EXPECT_EQ(std::wstring(wide), camera.last.write.values.at(0).s) << row.setter;
        ExpectQuiet(row.setter);
    }
}

// The limit counts UTF-16 units, not bytes: two-byte characters of code page 932 and the three-
// and four-byte sequences of UTF-8 (a four-byte one widens into two units) against 127 units.
TEST_F(PropertyTest, TextSetterLimitCountsUnitsInMultibyteCodePages) {
    const struct {
        UINT codePage;
        const char* unit;    // one character
        size_t unitsEach;    // UTF-16 units it widens into
        std::wstring wide;
    } cases[] = {
        {932, "\x82\xA0", 1, L"\x3042"},               // HIRAGANA LETTER A
        {65001, "\xE3\x81\x82", 1, L"\x3042"},          // HIRAGANA LETTER A
        {65001, "\xF0\x9F\x98\x80", 2, L"\xD83D\xDE00"},  // GRINNING FACE, a surrogate pair
    };
    for (size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i)
    for (const Row& row : kRows) {
        if (!row.text()) continue;
        ASSERT_TRUE(IsValidCodePage(cases[i].codePage)) << cases[i].codePage;
        fotextest::AnsiCodePage page(lib.module(), cases[i].codePage);
        ASSERT_TRUE(page.active());
        const size_t fits = 127 / cases[i].unitsEach;
        // Filled to exactly 127 units with ASCII where the characters leave one over.
        const std::string longest = fotextest::Repeat(cases[i].unit, fits) + std::string(127 - fits * cases[i].unitsEach, 'x');
        EXPECT_EQ(1, SetText(row, device, longest.c_str())) << row.setter << " case " << i;
        std::wstring expected;
        for (size_t n = 0; n < fits; ++n) expected += cases[i].wide;
        expected += std::wstring(127 - fits * cases[i].unitsEach, L'x');
        EXPECT_EQ(expected, camera.last.write.values.at(0).s) << row.setter << " case " << i;
        const int writes = camera.Calls(Op::WriteMultiple);
        EXPECT_EQ(-1, SetText(row, device, (longest + "y").c_str())) << row.setter << " case " << i;
        EXPECT_EQ(-1, SetText(row, device, fotextest::Repeat(cases[i].unit, 128).c_str())) << row.setter << " case " << i;
        EXPECT_EQ(writes, camera.Calls(Op::WriteMultiple)) << row.setter << " case " << i << " wrote a cut text";
        ExpectQuiet(row.setter);
    }
}

// These names differ from their getters' on purpose; each pair must still meet on one id.
TEST_F(PropertyTest, DifferentlyNamedPairsAddressTheSameProperty) {
    struct Pair {
        const char* getter;
        const char* setter;
        PROPID id;
    };
    const Pair pairs[] = {{"GetPanPosition", "SetPanPos", 2060},
                          {"GetTiltPosition", "SetTiltPos", 2061},
                          {"GetTimeLapseInterval", "SetTimeElapseInterval", 2073},
                          {"GetExposIndex", "SetExposureIndex", 2083}};
    for (const Pair& pair : pairs) {
        const int value = 4000 + static_cast<int>(pair.id);
        EXPECT_EQ(1, Export<IntSetter>(pair.setter)(device, value)) << pair.setter;
        EXPECT_EQ(pair.id, camera.last.write.specs.at(0).propid) << pair.setter;
        int back = kSentinel;
        EXPECT_EQ(1, Export<IntGetter>(pair.getter)(device, &back)) << pair.getter;
        EXPECT_EQ(std::vector<PROPID>{pair.id}, camera.last.read) << pair.getter;
        EXPECT_EQ(value, back) << pair.getter;
        ExpectQuiet(pair.setter);
    }
}

TEST_F(PropertyTest, ReadOnlySettingsHaveNoSetter) {
    for (const char* name : {"SetPowerMode", "SetBatteryStatus", "SetFocusLength", "SetFocalLength"}) {
        EXPECT_EQ(nullptr, lib.Symbol(name)) << name;
    }
}

// An offline device answers even QueryInterface with WIA_ERROR_OFFLINE.
TEST_F(PropertyTest, DeviceGoneOfflineYieldsNoPropertyStorage) {
    camera.devices[0].offline = true;
    for (const Row& row : kRows) {
        EXPECT_EQ(-2, GetUntouched(row, device)) << row.getter;
        if (row.writable()) {
            EXPECT_EQ(-2, SetAny(row, device)) << row.setter;
        }
        ExpectQuiet(row.getter);
    }
}


// ---- setting choices -------------------------------------------------------------------------

constexpr int kChoiceSentinel = 0x7E57;
constexpr int kAny = 0, kRange = 1, kList = 2, kFlags = 3;  // FOTEX_CHOICES_*
constexpr int kRead = 1, kReadWrite = 3;                     // FOTEX_ACCESS_*
constexpr int kMoreData = static_cast<int>(0x800700EA);

struct Choices {
    int status = kChoiceSentinel, access = kChoiceSentinel, kind = kChoiceSentinel, nominal = kChoiceSentinel,
        count = kChoiceSentinel;
    std::vector<int> values;  // the whole array handed in, sentinels after what was written
    bool Untouched() const {
        for (int v : values)
            if (v != kChoiceSentinel) return false;
        return access == kChoiceSentinel && kind == kChoiceSentinel && nominal == kChoiceSentinel &&
               count == kChoiceSentinel;
    }
};

// The camera's own settings and limits, unlike PropertyTest.
class ChoicesTest : public fotextest::OpenDeviceTest {
protected:
    void SetUp() override {
        OpenDeviceTest::SetUp();
        camera.ClearLog();
    }
    fotexsim::PropertyMap& Props() { return device().root->props; }

    Choices Ask(int id, int capacity = 16) {
        Choices c;
        c.values.assign(static_cast<size_t>(capacity) + 2, kChoiceSentinel);  // two beyond the capacity
        c.status = lib.GetSettingChoices(handle, id, &c.access, &c.kind, &c.nominal, c.values.data(), capacity, &c.count);
        EXPECT_EQ(kChoiceSentinel, c.values[capacity]) << id << " wrote beyond the capacity";
        EXPECT_EQ(kChoiceSentinel, c.values[capacity + 1]) << id << " wrote beyond the capacity";
        if (c.status == 1 || c.status == kMoreData) c.values.resize(std::min(capacity, c.count));
        return c;
    }
    int Set(const char* setter, int value) {
        return reinterpret_cast<IntSetter>(lib.Symbol(setter))(handle, value);
    }
};

TEST_F(ChoicesTest, SettingsReportTheirAccessKindNominalAndValues) {
    struct Case {
        int id;
        int access, kind, nominal;
        std::vector<int> values;
    } cases[] = {
        {2089, kReadWrite, kList, 2, {1, 2, 3, 4, 5, 6, 7}},            // white balance
        {2055, kReadWrite, kList, 280, {280, 400, 560, 800, 1100, 1600}},  // f-number
        {2079, kReadWrite, kRange, 0, {-2, 2, 1}},                        // sharpness
        {2066, kReadWrite, kRange, 160, {80, 320, 80}},                   // thumbnail width
        {2062, kReadWrite, kFlags, 0, {3}},                               // timer mode
        {2065, kRead, kRange, 80, {0, 100, 1}},                           // battery status
        {2064, kRead, kAny, 0, {}},                                       // power mode
        {2053, kReadWrite, kAny, 0, {}},                                  // exposure compensation
        {2091, kReadWrite, kAny, 0, {}},                                  // artist: text
        {2050, kRead, kAny, 0, {}},                                       // pictures taken: no setting
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        const Case& k = cases[i];
        const Choices c = Ask(k.id);
        EXPECT_EQ(1, c.status) << "case " << i;
        EXPECT_EQ(k.access, c.access) << "case " << i;
        EXPECT_EQ(k.kind, c.kind) << "case " << i;
        EXPECT_EQ(k.nominal, c.nominal) << "case " << i;
        EXPECT_EQ(static_cast<int>(k.values.size()), c.count) << "case " << i;
        EXPECT_EQ(k.values, c.values) << "case " << i;
    }
    EXPECT_EQ("", Output());
}

// What GetSettingChoices reports is what the camera takes: each reported value is accepted, the
// values just outside are refused; the nominal value stays the camera's after writes.
TEST_F(ChoicesTest, EveryWritableSettingAcceptsExactlyItsReportedValues) {
    int checked = 0;
    for (const Row& row : kRows) {
        const Choices c = Ask(static_cast<int>(row.id));
        ASSERT_EQ(1, c.status) << row.getter;
        EXPECT_EQ(row.writable() ? kReadWrite : kRead, c.access) << row.getter;
        if (row.text()) {
            EXPECT_EQ(kAny, c.kind) << row.getter;
        }
        if (!row.writable() || row.text() || c.kind == kAny) continue;
        std::vector<int> good, bad;
        if (c.kind == kList) {
            good = c.values;
            bad = {*std::max_element(c.values.begin(), c.values.end()) + 1, *std::min_element(c.values.begin(), c.values.end()) - 1};
        } else if (c.kind == kRange) {
            const int min = c.values[0], max = c.values[1], step = c.values[2];
            good = {min, max, min + step};
            bad = {min - step, max + step};
            if (step > 1) bad.push_back(min + 1);
        } else {
            const int mask = c.values[0];
            good = {0, mask};
            bad = {static_cast<int>(static_cast<unsigned>(mask + 1) | static_cast<unsigned>(mask))};
        }
        for (int v : good) EXPECT_EQ(1, Set(row.setter, v)) << row.setter << " " << v;
        for (int v : bad) EXPECT_EQ(-1, Set(row.setter, v)) << row.setter << " " << v;
        EXPECT_EQ(c.nominal, Ask(static_cast<int>(row.id)).nominal) << row.getter;
        ++checked;
    }
    EXPECT_EQ(29, checked) << "every writable integer setting but exposure compensation";
}

TEST_F(ChoicesTest, MoreValuesThanTheCapacityWriteThePrefixAndReturnMoreData) {
    for (int capacity : {0, 1, 6, 7}) {
        const Choices c = Ask(2089, capacity);  // seven white balance values
        EXPECT_EQ(capacity < 7 ? kMoreData : 1, c.status) << capacity;
        EXPECT_EQ(7, c.count) << capacity;
        EXPECT_EQ(kList, c.kind) << capacity;
        EXPECT_EQ(2, c.nominal) << capacity;
        std::vector<int> prefix = {1, 2, 3, 4, 5, 6, 7};
        prefix.resize(static_cast<size_t>(capacity));
        EXPECT_EQ(prefix, c.values) << capacity;
    }
    // The count alone, without an array.
    int count = kChoiceSentinel;
    EXPECT_EQ(kMoreData, lib.GetSettingChoices(handle, 2079, nullptr, nullptr, nullptr, nullptr, 0, &count));
    EXPECT_EQ(3, count);
    EXPECT_EQ(1, lib.GetSettingChoices(handle, 2091, nullptr, nullptr, nullptr, nullptr, 0, nullptr));
}

TEST_F(ChoicesTest, BadArgumentsAreRefusedBeforeAskingTheCamera) {
    int values[4] = {kChoiceSentinel, kChoiceSentinel, kChoiceSentinel, kChoiceSentinel};
    struct Case {
        FOTEX_DEVICE device;
        int* values;
        int capacity;
        int status;
    } cases[] = {
        {0, values, 4, static_cast<int>(0x80070006)},        // E_HANDLE
        {-1, values, -1, static_cast<int>(0x80070057)},      // E_INVALIDARG
        {-1, values, INT_MIN, static_cast<int>(0x80070057)},
        {-1, nullptr, 1, static_cast<int>(0x80004003)},      // E_POINTER
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        int access = kChoiceSentinel, kind = kChoiceSentinel, nominal = kChoiceSentinel, count = kChoiceSentinel;
        const FOTEX_DEVICE which = cases[i].device == -1 ? handle : cases[i].device;
        EXPECT_EQ(cases[i].status, lib.GetSettingChoices(which, 2089, &access, &kind, &nominal, cases[i].values,
                                                         cases[i].capacity, &count))
            << "case " << i;
        EXPECT_EQ(kChoiceSentinel, access + kind + nominal + count - 3 * kChoiceSentinel) << "case " << i;
    }
    for (int v : values) EXPECT_EQ(kChoiceSentinel, v);
    EXPECT_EQ(0, camera.TotalCalls());
}

TEST_F(ChoicesTest, FailuresComeBackAsTheServiceResultWithNothingWritten) {
    Reconnecting(false);  // the failure's own status, not a device opened again
    const HRESULT kOfflineResult = static_cast<HRESULT>(0x80210005);
    struct Case {
        Op op;
        HRESULT hr;
        int status;
    } cases[] = {
        {Op::QueryPropertyStorage, E_FAIL, static_cast<int>(0x80004005)},
        {Op::QueryPropertyStorage, S_FALSE, static_cast<int>(0x80004002)},  // no storage: E_NOINTERFACE
        {Op::GetPropertyAttributes, kOfflineResult, static_cast<int>(0x80210005)},
        {Op::GetPropertyAttributes, S_FALSE, static_cast<int>(0x80070490)},  // ERROR_NOT_FOUND
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        camera.FailOn(cases[i].op, cases[i].hr);
        const Choices c = Ask(2089);
        EXPECT_EQ(cases[i].status, c.status) << "case " << i;
        EXPECT_TRUE(c.Untouched()) << "case " << i;
        EXPECT_TRUE(Ledger(1)) << "case " << i;
    }
    for (int absent : {9999, 0, -1}) {
        const Choices c = Ask(absent);
        EXPECT_EQ(static_cast<int>(0x80070490), c.status) << absent;
        EXPECT_TRUE(c.Untouched()) << absent;
    }
    device().offline = true;
    EXPECT_EQ(static_cast<int>(0x80210005), Ask(2089).status);
    device().offline = false;
    EXPECT_EQ("", Output());
}

TEST_F(ChoicesTest, UnsignedLimitsArriveAsTheirBitPatterns) {
    fotexsim::Property& focal = Props()[2087];
    focal.value = Value::UInt(3500);
    focal.range = {true, 1000, 6000, 500};
    focal.nominal = 3500;
    Choices c = Ask(2087);
    EXPECT_EQ(1, c.status);
    EXPECT_EQ(kRange, c.kind);
    EXPECT_EQ(std::vector<int>({1000, 6000, 500}), c.values);

    fotexsim::Property& timer = Props()[2062];
    timer.value = Value::UInt(1);
    timer.flags.mask = 0x80000001u;
    timer.nominal = 1;
    c = Ask(2062);
    EXPECT_EQ(kFlags, c.kind);
    EXPECT_EQ(std::vector<int>({static_cast<int>(0x80000001u)}), c.values);
}


// ---- settings by property id -----------------------------------------------------------------

constexpr int kHandleError = static_cast<int>(0x80070006);    // E_HANDLE
constexpr int kPointerError = static_cast<int>(0x80004003);   // E_POINTER
constexpr int kNotFound = static_cast<int>(0x80070490);       // ERROR_NOT_FOUND
constexpr int kTypeMismatch = static_cast<int>(0x80020005);   // DISP_E_TYPEMISMATCH
constexpr int kAccessDenied = static_cast<int>(0x80070005);   // E_ACCESSDENIED
constexpr int kInvalidValue = static_cast<int>(0x8007000D);   // ERROR_INVALID_DATA
constexpr int kSmallBuffer = static_cast<int>(0x8007007A);    // ERROR_INSUFFICIENT_BUFFER
constexpr int kOverflowError = static_cast<int>(0x80070216);  // ERROR_ARITHMETIC_OVERFLOW

// The camera's own settings and limits, as a settings screen meets them.
class SettingTest : public ChoicesTest {
protected:
    int Get(int id, int* value) { return lib.GetSetting(handle, id, value); }
    int Named(const Row& row, int* value) { return reinterpret_cast<IntGetter>(lib.Symbol(row.getter))(handle, value); }
    // The text of a text setting, read into a buffer of `bytes` bytes.
    int GetText(int id, std::wstring& text, int bytes = 1024) {
        std::vector<wchar_t> buffer(static_cast<size_t>(bytes) / 2 + 1, L'\x7E57');
        const int status = lib.GetSettingText(handle, id, buffer.data(), bytes);
        if (status == 1) text = buffer.data();
        return status;
    }
};

TEST_F(SettingTest, EverySettingReadsAsItsNamedGetterReadsIt) {
    for (const Row& row : kRows) {
        int generic = kChoiceSentinel, named = kChoiceSentinel;
        if (row.text()) {
            EXPECT_EQ(kTypeMismatch, Get(static_cast<int>(row.id), &generic)) << row.getter;
            EXPECT_EQ(kChoiceSentinel, generic) << row.getter;
            Guarded<FOTEX_TEXT_BYTES> bytes;
            ASSERT_EQ(1, reinterpret_cast<TextGetter>(lib.Symbol(row.getter))(handle, bytes.data())) << row.getter;
            std::wstring text;
            EXPECT_EQ(1, GetText(static_cast<int>(row.id), text)) << row.getter;
            EXPECT_EQ(std::wstring(reinterpret_cast<const wchar_t*>(bytes.data())), text) << row.getter;
            continue;
        }
        ASSERT_EQ(1, Named(row, &named)) << row.getter;
        EXPECT_EQ(1, Get(static_cast<int>(row.id), &generic)) << row.getter;
        EXPECT_EQ(named, generic) << row.getter;
    }
    // Any integer property of the root item, not only the 37.
    int taken = kChoiceSentinel, counted = kChoiceSentinel, remaining = 0;
    EXPECT_EQ(1, Get(2050, &taken));
    ASSERT_EQ(1, lib.GetStorageInfo(handle, &counted, &remaining));
    EXPECT_EQ(counted, taken);
    EXPECT_EQ("", Output());
    EXPECT_TRUE(Ledger(1));
}

TEST_F(SettingTest, GetSettingTellsAMissingPropertyFromAValueOfAnotherType) {
    Props()[2062].value = Value::UInt(0x80000001u);
    Props()[2063].value = Value::Empty();
    Props()[2071].value = Value::Guid(fotex::wia::WiaImgFmt_JPEG);
    Props().erase(2060);
    const struct {
        int id;
        int status;
        int value;
    } cases[] = {
        {2062, 1, static_cast<int>(0x80000001u)},  // unsigned: its bit pattern
        {2063, kNotFound, kChoiceSentinel},        // no value at all
        {2071, kTypeMismatch, kChoiceSentinel},
        {2091, kTypeMismatch, kChoiceSentinel},    // text
        {2060, kNotFound, kChoiceSentinel},        // absent
        {9999, kNotFound, kChoiceSentinel},
        {-1, kNotFound, kChoiceSentinel},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        int value = kChoiceSentinel;
        EXPECT_EQ(cases[i].status, Get(cases[i].id, &value)) << "case " << i;
        EXPECT_EQ(cases[i].value, value) << "case " << i;
    }
    EXPECT_EQ("", Output());
}

TEST_F(SettingTest, BadArgumentsAreRefusedBeforeAskingTheCamera) {
    int value = kChoiceSentinel;
    wchar_t text[8] = {L'x'};
    EXPECT_EQ(kHandleError, lib.GetSetting(0, 2056, &value));
    EXPECT_EQ(kPointerError, lib.GetSetting(handle, 2056, nullptr));
    EXPECT_EQ(kHandleError, lib.SetSetting(0, 2056, 1));
    EXPECT_EQ(kHandleError, lib.GetSettingText(0, 2091, text, sizeof text));
    EXPECT_EQ(kPointerError, lib.GetSettingText(handle, 2091, nullptr, 16));
    EXPECT_EQ(kHandleError, lib.SetSettingText(0, 2091, L"a"));
    EXPECT_EQ(kPointerError, lib.SetSettingText(handle, 2091, nullptr));
    EXPECT_EQ(kChoiceSentinel, value);
    EXPECT_EQ(L'x', text[0]);
    EXPECT_EQ(0, camera.TotalCalls());
}

// Each writable integer setting takes what GetSettingChoices reports, up to the edges, and refuses
// the values just beyond them without sending anything.
TEST_F(SettingTest, SetSettingTakesExactlyTheReportedChoices) {
    int checked = 0;
    for (const Row& row : kRows) {
        if (!row.writable() || row.text()) continue;
        const int id = static_cast<int>(row.id);
        const Choices c = Ask(id);
        ASSERT_EQ(1, c.status) << row.getter;
        std::vector<int> good, bad;
        if (c.kind == kList) {
            good = c.values;
            bad = {*std::max_element(c.values.begin(), c.values.end()) + 1,
                   *std::min_element(c.values.begin(), c.values.end()) - 1};
        } else if (c.kind == kRange) {
            const int min = c.values[0], max = c.values[1], step = c.values[2];
            good = {min, max, min + step, max - step};
            bad = {min - 1, max + 1};
            if (step > 1) bad.push_back(min + 1), bad.push_back(max - 1);
        } else if (c.kind == kFlags) {
            const int mask = c.values[0];
            good = {0, mask};
            bad = {static_cast<int>(static_cast<unsigned>(mask + 1) | static_cast<unsigned>(mask)), -1};
        } else {
            good = {INT_MIN, -1, 0, INT_MAX};
        }
        for (int v : good) {
            EXPECT_EQ(1, lib.SetSetting(handle, id, v)) << row.getter << " " << v;
            int back = kChoiceSentinel;
            EXPECT_EQ(1, Get(id, &back)) << row.getter;
            EXPECT_EQ(v, back) << row.getter;
        }
        const int writes = camera.Calls(Op::WriteMultiple);
        for (int v : bad) EXPECT_EQ(kInvalidValue, lib.SetSetting(handle, id, v)) << row.getter << " " << v;
        EXPECT_EQ(writes, camera.Calls(Op::WriteMultiple)) << row.getter << " sent a refused value";
        ++checked;
    }
    EXPECT_EQ(30, checked);
    EXPECT_EQ("", Output());
    EXPECT_TRUE(Ledger(1));
}

TEST_F(SettingTest, ReadOnlyAndMismatchedSettingsAreRefusedWithoutSending) {
    for (int id : {2064, 2065, 2087, 2050}) {
        EXPECT_EQ(kAccessDenied, lib.SetSetting(handle, id, 1)) << id;
    }
    Props()[2092].readOnly = true;
    EXPECT_EQ(kAccessDenied, lib.SetSettingText(handle, 2092, L"mine"));
    EXPECT_EQ(kTypeMismatch, lib.SetSetting(handle, 2091, 1));
    EXPECT_EQ(kTypeMismatch, lib.SetSettingText(handle, 2056, L"Auto"));
    std::wstring text = L"untouched";
    EXPECT_EQ(kTypeMismatch, GetText(2056, text));
    EXPECT_EQ(kNotFound, lib.SetSetting(handle, 9999, 1));
    EXPECT_EQ(kNotFound, lib.SetSettingText(handle, 9999, L"a"));
    EXPECT_EQ(kNotFound, GetText(9999, text));
    EXPECT_EQ(L"untouched", text);
    EXPECT_EQ(0, camera.Calls(Op::WriteMultiple));
    EXPECT_EQ("", Output());
}

TEST_F(SettingTest, TheServicesOwnRefusalComesBackAsItCame) {
    Reconnecting(false);  // the failure's own status, not a device opened again
    const HRESULT offline = static_cast<HRESULT>(0x80210005);
    camera.FailOn(Op::WriteMultiple, offline);
    EXPECT_EQ(static_cast<int>(offline), lib.SetSetting(handle, 2056, 2));
    camera.FailOn(Op::WriteMultiple, offline);
    EXPECT_EQ(static_cast<int>(offline), lib.SetSettingText(handle, 2091, L"a"));
    camera.FailOn(Op::WriteMultiple, S_FALSE);
    EXPECT_EQ(static_cast<int>(E_FAIL), lib.SetSetting(handle, 2056, 2));
    camera.FailOn(Op::ReadMultiple, offline);
    int value = kChoiceSentinel;
    EXPECT_EQ(static_cast<int>(offline), Get(2056, &value));
    camera.FailOn(Op::GetPropertyAttributes, offline);
    EXPECT_EQ(static_cast<int>(offline), lib.SetSetting(handle, 2056, 2));
    EXPECT_EQ(kChoiceSentinel, value);
    int flash = 0;
    EXPECT_EQ(1, Get(2056, &flash));
    EXPECT_EQ(1, flash) << "a refused write changed the camera";
    EXPECT_EQ("", Output());
    EXPECT_TRUE(Ledger(1));
}

// An unsigned property's limits are bit patterns: a maximum of 2^31 or more reads as a negative
// int, yet the small values inside the range are the camera's to take, not refused unsent.
TEST_F(SettingTest, AnUnsignedRangeReachingPastTheSignedLimitStillSendsItsSmallValues) {
    fotexsim::Property& width = Props()[2066];
    width.value = Value::UInt(160);
    width.ClearLimits();
    width.range = {true, 80, static_cast<int32_t>(0x80000000u), 80};
    width.nominal = 160;
    const Choices c = Ask(2066);
    ASSERT_EQ(kRange, c.kind);
    ASSERT_EQ(std::vector<int>({80, static_cast<int>(0x80000000u), 80}), c.values);
    const int writes = camera.Calls(Op::WriteMultiple);
    EXPECT_NE(kInvalidValue, lib.SetSetting(handle, 2066, 240)) << "80 <= 240 <= 2^31 on a step of 80";
    EXPECT_EQ(writes + 1, camera.Calls(Op::WriteMultiple)) << "a value inside the unsigned range was never sent";
    EXPECT_EQ(kInvalidValue, lib.SetSetting(handle, 2066, 0)) << "below the minimum";
    EXPECT_EQ("", Output());
}

// A 16-bit property is written back as one, with its limits read from a 16-bit vector; a value
// the type cannot hold is refused before anything is sent, never cut to fit.
TEST_F(SettingTest, ANarrowPropertyIsWrittenInItsOwnTypeAndNothingIsCutToFit) {
    fotexsim::Property& sharpness = Props()[2079];
    sharpness.value = Value::UShort(5);
    sharpness.ClearLimits();
    sharpness.range = {true, 0, 40000, 5};
    sharpness.nominal = 5;
    const Choices c = Ask(2079);
    ASSERT_EQ(kRange, c.kind);
    EXPECT_EQ(std::vector<int>({0, 40000, 5}), c.values);
    EXPECT_EQ(1, lib.SetSetting(handle, 2079, 35000));
    ASSERT_EQ(1u, camera.last.write.values.size());
    EXPECT_EQ(Value::UShort(35000), camera.last.write.values[0]);
    int back = kChoiceSentinel;
    EXPECT_EQ(1, Get(2079, &back));
    EXPECT_EQ(35000, back);

    sharpness.ClearLimits();
    const int writes = camera.Calls(Op::WriteMultiple);
    for (int v : {65536, -1, 35000 + 65536, INT_MIN})
        EXPECT_EQ(kInvalidValue, lib.SetSetting(handle, 2079, v)) << v;
    EXPECT_EQ(writes, camera.Calls(Op::WriteMultiple)) << "a value the property cannot hold was sent";
    EXPECT_EQ(1, lib.SetSetting(handle, 2079, 65535));
    EXPECT_EQ(Value::UShort(65535), sharpness.value);

    sharpness.allowed = {1, 3, 60000};
    const Choices listed = Ask(2079);
    ASSERT_EQ(kList, listed.kind);
    EXPECT_EQ(std::vector<int>({1, 3, 60000}), listed.values);
    EXPECT_EQ(1, lib.SetSetting(handle, 2079, 60000));
    EXPECT_EQ(kInvalidValue, lib.SetSetting(handle, 2079, 2));
    EXPECT_EQ("", Output());
    EXPECT_TRUE(Ledger(1));
}

TEST_F(SettingTest, TextOfAnyLengthGoesAndComesWhole) {
    const std::wstring texts[] = {L"", L"Ann", std::wstring(63, L'a'), std::wstring(64, L'b'), std::wstring(1000, L'\u4e2d')};
    for (const std::wstring& sent : texts) {
        EXPECT_EQ(1, lib.SetSettingText(handle, 2091, sent.c_str())) << sent.size();
        EXPECT_EQ(sent, camera.last.write.values.at(0).s) << sent.size();
        std::wstring back;
        EXPECT_EQ(1, GetText(2091, back, 4096)) << sent.size();
        EXPECT_EQ(sent, back) << sent.size();
    }
    Props()[2091].value = Value::NullText();
    std::wstring back = L"x";
    EXPECT_EQ(1, GetText(2091, back, 2));
    EXPECT_EQ(L"", back);
    EXPECT_EQ("", Output());
    EXPECT_TRUE(Ledger(1));
}

TEST_F(SettingTest, TextThatDoesNotFitWritesNothing) {
    // "Fotex" and its terminator: 12 bytes.
    for (int bytes : {11, 1, 0, -1, INT_MIN}) {
        Guarded<16> buffer;
        EXPECT_EQ(kSmallBuffer, lib.GetSettingText(handle, 2091, buffer.data(), bytes)) << bytes;
        EXPECT_TRUE(buffer.Untouched() && buffer.GuardsIntact()) << bytes;
    }
    Guarded<12> exact;
    EXPECT_EQ(1, lib.GetSettingText(handle, 2091, exact.data(), 12));
    EXPECT_EQ(L"Fotex", std::wstring(reinterpret_cast<const wchar_t*>(exact.data())));
    EXPECT_TRUE(exact.GuardsIntact());
}

// The header's names for the enumerated values and the new statuses, against the published numbers.
TEST(SettingNames, HeaderNamesThePublishedValues) {
    const struct {
        long long named, published;
        const char* name;
    } cases[] = {
#define PIN(name, value) {name, value, #name}
        PIN(FOTEX_FLASH_AUTO, 1), PIN(FOTEX_FLASH_OFF, 2), PIN(FOTEX_FLASH_FILL, 3), PIN(FOTEX_FLASH_REDEYE_AUTO, 4),
        PIN(FOTEX_FLASH_REDEYE_FILL, 5), PIN(FOTEX_FLASH_EXTERNAL_SYNC, 6),
        PIN(FOTEX_WHITEBALANCE_MANUAL, 1), PIN(FOTEX_WHITEBALANCE_AUTO, 2), PIN(FOTEX_WHITEBALANCE_ONEPUSH_AUTO, 3),
        PIN(FOTEX_WHITEBALANCE_DAYLIGHT, 4), PIN(FOTEX_WHITEBALANCE_FLUORESCENT, 5), PIN(FOTEX_WHITEBALANCE_TUNGSTEN, 6),
        PIN(FOTEX_WHITEBALANCE_FLASH, 7),
        PIN(FOTEX_EXPOSUREMODE_MANUAL, 1), PIN(FOTEX_EXPOSUREMODE_AUTO, 2), PIN(FOTEX_EXPOSUREMODE_APERTURE_PRIORITY, 3),
        PIN(FOTEX_EXPOSUREMODE_SHUTTER_PRIORITY, 4), PIN(FOTEX_EXPOSUREMODE_PROGRAM_CREATIVE, 5),
        PIN(FOTEX_EXPOSUREMODE_PROGRAM_ACTION, 6), PIN(FOTEX_EXPOSUREMODE_PORTRAIT, 7),
        PIN(FOTEX_FOCUSMODE_MANUAL, 1), PIN(FOTEX_FOCUSMODE_AUTO, 2), PIN(FOTEX_FOCUSMODE_MACRO_AUTO, 3),
        PIN(FOTEX_EXPOSUREMETERING_AVERAGE, 1), PIN(FOTEX_EXPOSUREMETERING_CENTER_WEIGHT, 2),
        PIN(FOTEX_EXPOSUREMETERING_MULTISPOT, 3), PIN(FOTEX_EXPOSUREMETERING_CENTER_SPOT, 4),
        PIN(FOTEX_FOCUSMETERING_CENTER_SPOT, 1), PIN(FOTEX_FOCUSMETERING_MULTISPOT, 2),
        PIN(FOTEX_CAPTUREMODE_NORMAL, 1), PIN(FOTEX_CAPTUREMODE_BURST, 2), PIN(FOTEX_CAPTUREMODE_TIMELAPSE, 3),
        PIN(FOTEX_EFFECTMODE_STANDARD, 1), PIN(FOTEX_EFFECTMODE_BW, 2), PIN(FOTEX_EFFECTMODE_SEPIA, 3),
        PIN(FOTEX_POWERMODE_LINE, 1), PIN(FOTEX_POWERMODE_BATTERY, 2),
        PIN(FOTEX_E_VALUE, static_cast<int>(0x8007000D)), PIN(FOTEX_E_TYPE, static_cast<int>(0x80020005)),
        PIN(FOTEX_E_ACCESS_DENIED, static_cast<int>(0x80070005)),
#undef PIN
    };
    for (const auto& c : cases) EXPECT_EQ(c.published, c.named) << c.name;
}

// ---- names of settings and values ------------------------------------------------------------

std::wstring Described(int status, const std::vector<wchar_t>& buffer) {
    return status == 1 ? std::wstring(buffer.data()) : L"status " + std::to_wstring(status);
}

class NameTest : public fotextest::FotexTest {
protected:
    std::wstring Label(int id, int bytes = 128) {
        std::vector<wchar_t> buffer(64, L'\x7E57');
        return Described(lib.DescribeSetting(id, buffer.data(), bytes), buffer);
    }
    std::wstring ValueText(int id, int value, int bytes = 128) {
        std::vector<wchar_t> buffer(64, L'\x7E57');
        return Described(lib.DescribeSettingValue(id, value, buffer.data(), bytes), buffer);
    }
    int Find(int id, const wchar_t* name) {
        int value = kChoiceSentinel;
        const int status = lib.FindSettingValue(id, name, &value);
        return status == 1 ? value : status;
    }
};

TEST_F(NameTest, EverySettingHasTheServicesLabel) {
    const wchar_t* labels[] = {
        L"Exposure Mode", L"Exposure Compensation", L"Exposure Time", L"F Number", L"Flash Mode", L"Focus Mode",
        L"Pan Position", L"Tilt Position", L"Timer Mode", L"Timer Value", L"Power Mode", L"Battery Status",
        L"Thumbnail Width", L"Thumbnail Height", L"Picture Width", L"Picture Height", L"Compression Setting",
        L"Timelapse Interval", L"Timelapse Number", L"Burst Interval", L"Burst Number", L"Effect Mode",
        L"Digital Zoom", L"Sharpness", L"Contrast", L"Capture Mode", L"Capture Delay", L"Exposure Index",
        L"Exposure Metering Mode", L"Focus Metering Mode", L"Focus Distance", L"Focus Length", L"RGB Gain",
        L"White Balance", L"Upload URL", L"Artist", L"Copyright Info",
    };
    ASSERT_EQ(kRows.size(), std::size(labels));
    for (size_t i = 0; i < kRows.size(); ++i) EXPECT_EQ(labels[i], Label(static_cast<int>(kRows[i].id))) << kRows[i].getter;
}

TEST_F(NameTest, DevicePropertiesScannerAndItemPropertiesAreNamedToo) {
    const struct {
        int id;
        const wchar_t* label;
    } cases[] = {
        {2, L"Unique Device ID"}, {2050, L"Pictures Taken"}, {3088, L"Document Handling Select"},
        {3104, L"Minimum Horizontal Sheet Feed Size"}, {4098, L"Item Name"}, {6147, L"Horizontal Resolution"},
        {2058, L"Focus Manual Dist"}, {5122, L"Thumbnail Data"},
        {0, L"status -2147023728"}, {1, L"status -2147023728"}, {2093, L"status -2147023728"},
        {-1, L"status -2147023728"}, {INT_MIN, L"status -2147023728"},
    };
    for (size_t i = 0; i < std::size(cases); ++i) EXPECT_EQ(cases[i].label, Label(cases[i].id)) << "case " << i;
    // The longest name of all, 34 units: 70 bytes with its terminator.
    EXPECT_EQ(L"Minimum Horizontal Sheet Feed Size", Label(3104, 70));
    EXPECT_EQ(L"status -2147024774", Label(3104, 69));
}

TEST_F(NameTest, EveryEnumeratedValueIsNamedBothWays) {
    const struct {
        int id, value;
        const wchar_t* name;
    } cases[] = {
        {2056, 1, L"Auto"}, {2056, 2, L"Off"}, {2056, 3, L"Fill"}, {2056, 4, L"Red-eye auto"},
        {2056, 5, L"Red-eye fill"}, {2056, 6, L"External sync"},
        {2089, 1, L"Manual"}, {2089, 2, L"Auto"}, {2089, 3, L"One-push auto"}, {2089, 4, L"Daylight"},
        {2089, 5, L"Fluorescent"}, {2089, 6, L"Tungsten"}, {2089, 7, L"Flash"},
        {2052, 1, L"Manual"}, {2052, 2, L"Auto"}, {2052, 3, L"Aperture priority"}, {2052, 4, L"Shutter priority"},
        {2052, 5, L"Program creative"}, {2052, 6, L"Program action"}, {2052, 7, L"Portrait"},
        {2057, 1, L"Manual"}, {2057, 2, L"Auto"}, {2057, 3, L"Macro auto"},
        {2084, 1, L"Average"}, {2084, 2, L"Center-weighted"}, {2084, 3, L"Multi-spot"}, {2084, 4, L"Center spot"},
        {2085, 1, L"Center spot"}, {2085, 2, L"Multi-spot"},
        {2081, 1, L"Normal"}, {2081, 2, L"Burst"}, {2081, 3, L"Time-lapse"},
        {2077, 1, L"Standard"}, {2077, 2, L"Black and white"}, {2077, 3, L"Sepia"},
        {2064, 1, L"Line"}, {2064, 2, L"Battery"},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        const auto& c = cases[i];
        EXPECT_EQ(c.name, ValueText(c.id, c.value)) << "case " << i;
        EXPECT_EQ(c.value, Find(c.id, c.name)) << "case " << i;
        std::wstring upper = c.name, lower = c.name;
        for (wchar_t& ch : upper) ch = static_cast<wchar_t>(towupper(ch));
        for (wchar_t& ch : lower) ch = static_cast<wchar_t>(towlower(ch));
        EXPECT_EQ(c.value, Find(c.id, upper.c_str())) << "case " << i;
        EXPECT_EQ(c.value, Find(c.id, lower.c_str())) << "case " << i;
        // Too small by one byte: nothing written.
        const int exact = static_cast<int>((wcslen(c.name) + 1) * sizeof(wchar_t));
        Guarded<64> buffer;
        EXPECT_EQ(kSmallBuffer, lib.DescribeSettingValue(c.id, c.value, buffer.data(), exact - 1)) << "case " << i;
        EXPECT_TRUE(buffer.Untouched()) << "case " << i;
        EXPECT_EQ(1, lib.DescribeSettingValue(c.id, c.value, buffer.data(), exact)) << "case " << i;
        EXPECT_TRUE(buffer.GuardsIntact()) << "case " << i;
    }
    // Values and names that are none of these.
    const std::wstring notFound = L"status -2147023728";
    for (auto [id, value] : {std::pair{2056, 0}, {2056, 7}, {2089, 8}, {2064, 3}, {2062, 1}, {2091, 1}, {9999, 1}})
        EXPECT_EQ(notFound, ValueText(id, value)) << id << " " << value;
    EXPECT_EQ(kNotFound, Find(2056, L"Daylight"));
    EXPECT_EQ(kNotFound, Find(2056, L"Auto "));
    EXPECT_EQ(kNotFound, Find(2056, L""));
    EXPECT_EQ(kNotFound, Find(2062, L"Auto"));
}

TEST_F(NameTest, ValuesWithUnitsReadAsPhotographersReadThem) {
    const struct {
        int id, value;
        const wchar_t* text;
    } cases[] = {
        {2055, 280, L"f/2.8"}, {2055, 400, L"f/4"}, {2055, 1100, L"f/11"}, {2055, 283, L"f/2.83"},
        {2055, 205, L"f/2.05"}, {2055, 1, L"f/0.01"}, {2055, INT_MAX, L"f/21474836.47"},
        {2054, 40, L"1/250 s"}, {2054, 80, L"1/125 s"}, {2054, 1, L"1/10000 s"}, {2054, 333, L"1/30 s"},
        {2054, 2500, L"1/4 s"}, {2054, 2999, L"1/3 s"}, {2054, 3000, L"0.3 s"}, {2054, 4000, L"0.4 s"},
        {2054, 10000, L"1 s"}, {2054, 15000, L"1.5 s"}, {2054, 20000, L"2 s"}, {2054, INT_MAX, L"214748.4 s"},
        {2053, 0, L"0.0 EV"}, {2053, 49, L"0.0 EV"}, {2053, -50, L"-0.1 EV"}, {2053, 333, L"+0.3 EV"},
        {2053, 667, L"+0.7 EV"}, {2053, 1000, L"+1.0 EV"}, {2053, -1333, L"-1.3 EV"},
        {2053, INT_MIN, L"-2147483.6 EV"}, {2053, INT_MAX, L"+2147483.6 EV"},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        EXPECT_EQ(cases[i].text, ValueText(cases[i].id, cases[i].value)) << "case " << i;
        const int exact = static_cast<int>((wcslen(cases[i].text) + 1) * sizeof(wchar_t));
        EXPECT_EQ(L"status -2147024774", ValueText(cases[i].id, cases[i].value, exact - 1)) << "case " << i;
    }
    for (auto [id, value] : {std::pair{2055, 0}, {2055, -280}, {2055, INT_MIN}, {2054, 0}, {2054, -1}})
        EXPECT_EQ(L"status -2147023728", ValueText(id, value)) << id << " " << value;
}

TEST_F(NameTest, FNumbersAreTakenBackExactlyAndExposureTextsAreNot) {
    const struct {
        const wchar_t* name;
        int value;
    } cases[] = {
        {L"f/2.8", 280}, {L"F/5.6", 560}, {L"f/11", 1100}, {L"f/2.05", 205}, {L"f/0.01", 1},
        {L"f/21474836.47", INT_MAX}, {L"f/21474836.48", kNotFound}, {L"f/99999999999", kNotFound},
        {L"f/", kNotFound}, {L"f/x", kNotFound}, {L"f/2.", 200}, {L"f/2.888", kNotFound}, {L"f/0", kNotFound},
        // Any plain decimal of whole hundredths, as people type them; nothing rounded, no exponent.
        {L"f/5.600", 560}, {L"f/8.", 800}, {L"f/2.80000000000000000000", 280}, {L"f/08.0", 800},
        {L"f/2.8001", kNotFound}, {L"f/2.0000001", kNotFound}, {L"f/4.0e0", kNotFound}, {L"f/.5", kNotFound},
        {L"f/0.", kNotFound}, {L"f/0.000", kNotFound}, {L"f/21474836.4700", INT_MAX}, {L"f/8..", kNotFound},
        {L"f/-2", kNotFound}, {L"2.8", kNotFound}, {L"f/2.8 ", kNotFound}, {L" f/2.8", kNotFound},
    };
    for (size_t i = 0; i < std::size(cases); ++i) EXPECT_EQ(cases[i].value, Find(2055, cases[i].name)) << "case " << i;
    EXPECT_EQ(kNotFound, Find(2054, L"1/250 s"));
    EXPECT_EQ(kNotFound, Find(2053, L"+0.7 EV"));
    EXPECT_EQ(kNotFound, Find(2056, L"f/2.8"));
}

// The statuses of the settings by id read as what they mean there; the one code that the
// thumbnail shares says both.
TEST_F(NameTest, StatusesOfTheSettingsHaveTexts) {
    const struct {
        int status;
        std::vector<const wchar_t*> parts;
    } cases[] = {
        {static_cast<int>(0x8007000D), {L"ERROR_INVALID_DATA: ", L"setting takes", L"thumbnail"}},
        {static_cast<int>(0x80020005), {L"DISP_E_TYPEMISMATCH: ", L"text", L"number"}},
        {static_cast<int>(0x80070005), {L"E_ACCESSDENIED: ", L"read only", L"file"}},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        Guarded<256> text;
        ASSERT_EQ(1, lib.DescribeStatus(cases[i].status, text.data(), 256)) << "case " << i;
        const std::wstring got = reinterpret_cast<const wchar_t*>(text.data());
        for (const wchar_t* part : cases[i].parts) EXPECT_NE(std::wstring::npos, got.find(part)) << "case " << i;
        EXPECT_EQ(0u, got.find(cases[i].parts[0])) << "case " << i;
    }
}

TEST_F(NameTest, NullPointersAreRefused) {
    int value = kChoiceSentinel;
    EXPECT_EQ(kPointerError, lib.DescribeSetting(2056, nullptr, 64));
    EXPECT_EQ(kPointerError, lib.DescribeSettingValue(2056, 1, nullptr, 64));
    EXPECT_EQ(kPointerError, lib.FindSettingValue(2056, nullptr, &value));
    EXPECT_EQ(kPointerError, lib.FindSettingValue(2056, L"Auto", nullptr));
    EXPECT_EQ(kChoiceSentinel, value);
    // A label too small by one byte, or of no size at all, writes nothing.
    Guarded<32> label;
    EXPECT_EQ(kSmallBuffer, lib.DescribeSetting(2056, label.data(), 21));
    EXPECT_EQ(kSmallBuffer, lib.DescribeSetting(2056, label.data(), -1));
    EXPECT_TRUE(label.Untouched());
    EXPECT_EQ(1, lib.DescribeSetting(2056, label.data(), 22));
    EXPECT_EQ(L"Flash Mode", std::wstring(reinterpret_cast<const wchar_t*>(label.data())));
    EXPECT_TRUE(label.GuardsIntact());
}

}  // namespace

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
#define CHECK_GETTER_Integer(getter) static_assert(std::is_same_v<decltype(&::getter), IntGetter>, #getter);
#define CHECK_SETTER_Integer(setter) static_assert(std::is_same_v<decltype(&::setter), IntSetter>, #setter);
#define CHECK_GETTER_ReadOnly CHECK_GETTER_Integer
#define CHECK_SETTER_ReadOnly(setter)
#define CHECK_GETTER_Text(getter) static_assert(std::is_same_v<decltype(&::getter), TextGetter>, #getter);
#define CHECK_SETTER_Text(setter) static_assert(std::is_same_v<decltype(&::setter), TextSetter>, #setter);
#define CHECK_DECLARED(kind, id, getter, setter) CHECK_GETTER_##kind(getter) CHECK_SETTER_##kind(setter)
FOTEX_PROPERTY_TABLE(CHECK_DECLARED)

enum class Kind { Integer, ReadOnly, Text };

struct Row {
    Kind kind;
    PROPID id;
    const char* getter;
    const char* setter;  // null: read only
    bool text() const { return kind == Kind::Text; }
    bool writable() const { return kind != Kind::ReadOnly; }
};

#define TEST_ROW(kind, id, getter, setter) \
    Row{Kind::kind, id, #getter, Kind::kind == Kind::ReadOnly ? nullptr : #setter},
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

}  // namespace

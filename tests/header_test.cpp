// fotex.h against the ABI: the module-definition list and the property table.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdint>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <type_traits>

#include "fotex.h"
#include "host.h"
#include "property_table.h"

namespace {

// Each table row's functions are declared with the shape of its kind.
using IntegerGetter = int(FOTEX_CALL*)(FOTEX_DEVICE, int*);
using IntegerSetter = int(FOTEX_CALL*)(FOTEX_DEVICE, int);
using TextGetter = int(FOTEX_CALL*)(FOTEX_DEVICE, void*);
using TextSetter = int(FOTEX_CALL*)(FOTEX_DEVICE, const char*);
#define CHECK_FOTEX_KIND_INTEGER(getter, setter)                                                   \
    static_assert(std::is_same_v<decltype(&getter), IntegerGetter>, #getter " shape"); \
    static_assert(std::is_same_v<decltype(&setter), IntegerSetter>, #setter " shape");
#define CHECK_FOTEX_KIND_READ_ONLY(getter, setter) \
    static_assert(std::is_same_v<decltype(&getter), IntegerGetter>, #getter " shape");
#define CHECK_FOTEX_KIND_TEXT(getter, setter)                                                   \
    static_assert(std::is_same_v<decltype(&getter), TextGetter>, #getter " shape"); \
    static_assert(std::is_same_v<decltype(&setter), TextSetter>, #setter " shape");
#define CHECK_ROW(kind, id, getter, setter) CHECK_##kind(getter, setter)
FOTEX_PROPERTY_TABLE(CHECK_ROW)
#undef CHECK_ROW

std::string ReadText(const char* path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

std::set<std::string> DefExports() {
    const std::vector<std::string> names = fotextest::ModuleDefinitionExports(FOTEX_DEF_FILE);
    return {names.begin(), names.end()};
}

// Every match of `pattern` in the header: first group to second group (empty without one).
std::map<std::string, std::string> HeaderMatches(const char* pattern) {
    static const std::string header = ReadText(FOTEX_HEADER_FILE);
    std::map<std::string, std::string> found;
    const std::regex re(pattern);
    for (std::sregex_iterator m(header.begin(), header.end(), re), end; m != end; ++m)
        found[(*m)[1]] = m->size() > 2 ? (*m)[2].str() : "";
    return found;
}

TEST(Header, DeclaresExactlyTheModuleDefinitionNames) {
    const auto declared = HeaderMatches(R"(FOTEX_CALL\s+(\w+)\s*\()");
    const std::set<std::string> def = DefExports();
    // The header's table of API levels: each level's count of functions, from the first one up
    // (in numeric order: the matches come keyed by text, where "10" sorts before "2").
    std::map<unsigned long, unsigned long> table;
    for (const auto& [level, count] : HeaderMatches(R"(level (\d+) \((\d+) functions?, from \w+\))"))
        table[std::stoul(level)] = std::stoul(count);
    size_t levels = 0, functions = 0;
    for (const auto& [level, count] : table) {
        EXPECT_EQ(++levels, level) << "levels are numbered from 1 without a gap";
        functions += count;
    }
    EXPECT_EQ(static_cast<size_t>(FOTEX_API_LEVEL), levels) << "FOTEX_API_LEVEL is the table's last level";
    ASSERT_EQ(functions, def.size()) << "the levels' functions are the exports";
    for (const auto& name : def) EXPECT_TRUE(declared.count(name)) << name << " is exported but not declared";
    for (const auto& [name, unused] : declared)
        EXPECT_TRUE(def.count(name)) << name << " is declared but not exported";
}

// A host finds the level by name and compares it with the header's.
TEST(Header, TheDllHasTheLevelTheHeaderDeclares) {
    static_assert(std::is_same_v<decltype(&GetFotexApiLevel), int(FOTEX_CALL*)()>, "GetFotexApiLevel shape");
    HMODULE dll = LoadLibraryW(L"Fotex.dll");
    ASSERT_NE(nullptr, dll);
    const auto level = reinterpret_cast<int(FOTEX_CALL*)()>(reinterpret_cast<void*>(GetProcAddress(dll, "GetFotexApiLevel")));
    ASSERT_NE(nullptr, level);
    EXPECT_EQ(FOTEX_API_LEVEL, level());
    FreeLibrary(dll);
}

TEST(Header, EachGetterNamesThePropertyIdOfItsTableRow) {
    const auto idNames = HeaderMatches(R"(FOTEX_CALL\s+(Get\w+)\(FOTEX_DEVICE[^;]*;[ \t]*/\* (FOTEX_PROP_\w+))");
    const auto ids = HeaderMatches(R"(#define (FOTEX_PROP_\w+) (\d+))");
    struct Row {
        int id;
        const char* getter;
    };
    const Row rows[] = {
#define ROW(kind, id, getter, setter) {id, #getter},
        FOTEX_PROPERTY_TABLE(ROW)
#undef ROW
    };
    for (size_t i = 0; i < std::size(rows); ++i) {
        const auto name = idNames.find(rows[i].getter);
        ASSERT_NE(idNames.end(), name) << "row " << i << ": " << rows[i].getter << " names no FOTEX_PROP_ id";
        const auto value = ids.find(name->second);
        ASSERT_NE(ids.end(), value) << "row " << i << ": " << name->second << " is not defined";
        EXPECT_EQ(rows[i].id, std::stoi(value->second)) << "row " << i << ": " << rows[i].getter;
    }
}

TEST(Header, PropertyIdsCoverTheCameraRangeOnce) {
    std::set<int> values;
    for (const auto& [name, value] : HeaderMatches(R"(#define (FOTEX_PROP_\w+) (\d+))"))
        EXPECT_TRUE(values.insert(std::stoi(value)).second) << name << " repeats " << value;
    ASSERT_EQ(43u, values.size());
    EXPECT_EQ(FOTEX_PROP_PICTURES_TAKEN, *values.begin());
    EXPECT_EQ(FOTEX_PROP_COPYRIGHT_INFO, *values.rbegin());
    EXPECT_EQ(2092, FOTEX_PROP_COPYRIGHT_INFO);
}

TEST(Header, FormatCodesAreTheEighteenTransferFormatsAndTheNativeOne) {
    std::set<int> values;
    for (const auto& [name, value] : HeaderMatches(R"(#define (FOTEX_FORMAT_\w+) (\d+))"))
        EXPECT_TRUE(values.insert(std::stoi(value)).second) << name << " repeats " << value;
    std::set<int> expected = {128, 129, 256};
    for (int code = 0; code <= 15; ++code) expected.insert(code);
    EXPECT_EQ(expected, values);
}

// ---- the handle size and the calling convention, which differ by machine ----------------------

TEST(Abi, HandlesHoldAnInterfacePointer) {
#if defined(_WIN64)
    EXPECT_EQ(8u, sizeof(FOTEX_DEVICE));  // x86_64
#else
    EXPECT_EQ(4u, sizeof(FOTEX_DEVICE));  // i686
#endif
    EXPECT_EQ(sizeof(void*), sizeof(FOTEX_DEVICE));
    EXPECT_EQ(sizeof(void*), sizeof(FOTEX_ITEM));
}

#if defined(__i386__)
struct CallResult {
    int status;
    unsigned popped;  // bytes of its arguments that the callee took off the stack
};

// Calls `function` with four argument slots on the stack, as a host written in any language
// would for cdecl; a stdcall export would pop its own arguments and unbalance such a host.
CallResult CallWithFourSlots(void* function, const uint32_t (&slots)[4]) {
    unsigned popped;
    void* target = function;
    const uint32_t* from = slots;
    __asm__ volatile(
        "movl %%esp, %%esi\n\t"
        "subl $16, %%esp\n\t"
        "andl $-16, %%esp\n\t"
        "movl 0(%%edx), %%ecx\n\tmovl %%ecx, 0(%%esp)\n\t"
        "movl 4(%%edx), %%ecx\n\tmovl %%ecx, 4(%%esp)\n\t"
        "movl 8(%%edx), %%ecx\n\tmovl %%ecx, 8(%%esp)\n\t"
        "movl 12(%%edx), %%ecx\n\tmovl %%ecx, 12(%%esp)\n\t"
        "movl %%esp, %%edi\n\t"
        "call *%%eax\n\t"
        "movl %%esp, %%ecx\n\t"
        "subl %%edi, %%ecx\n\t"
        "movl %%esi, %%esp\n\t"
        : "=c"(popped), "+a"(target), "+d"(from)
        :
        : "esi", "edi", "memory", "cc");
    return {static_cast<int>(reinterpret_cast<intptr_t>(target)), popped};
}
#endif

TEST(Abi, EveryExportLeavesItsArgumentsForTheCallerToPop) {
#if defined(__i386__)
    HMODULE dll = LoadLibraryW(L"Fotex.dll");
    ASSERT_NE(nullptr, dll);
    uint32_t value = 0xCDCDCDCD;
    const uint32_t pointer = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(&value));
    struct Case {
        const char* name;
        uint32_t slots[4];
    };
    // Device 0 makes every setting refuse at once (-3), so nothing else happens.
    std::vector<Case> cases;
#define ABI_GETTER(getter) cases.push_back({#getter, {0, pointer, 0, 0}});
#define ABI_SETTER(setter) cases.push_back({#setter, {0, 0, 0, 0}});
#define ABI_FOTEX_KIND_INTEGER(getter, setter) ABI_GETTER(getter) ABI_SETTER(setter)
#define ABI_FOTEX_KIND_READ_ONLY(getter, setter) ABI_GETTER(getter)
#define ABI_FOTEX_KIND_TEXT(getter, setter) ABI_GETTER(getter) ABI_SETTER(setter)
#define ABI_ROW(kind, id, getter, setter) ABI_##kind(getter, setter)
    FOTEX_PROPERTY_TABLE(ABI_ROW)
#undef ABI_ROW
#undef ABI_FOTEX_KIND_TEXT
#undef ABI_FOTEX_KIND_READ_ONLY
#undef ABI_FOTEX_KIND_INTEGER
#undef ABI_SETTER
#undef ABI_GETTER
    ASSERT_EQ(71u, cases.size());
    for (size_t i = 0; i < cases.size(); ++i) {
        void* function = reinterpret_cast<void*>(GetProcAddress(dll, cases[i].name));
        ASSERT_NE(nullptr, function) << "case " << i << ": " << cases[i].name;
        const CallResult result = CallWithFourSlots(function, cases[i].slots);
        EXPECT_EQ(0u, result.popped) << "case " << i << ": " << cases[i].name;
        EXPECT_EQ(-3, result.status) << "case " << i << ": " << cases[i].name;
    }
    EXPECT_EQ(0xCDCDCDCDu, value) << "no getter wrote without a device";

    // Exports of other shapes: null buffers are skipped, a null handle is left alone.
    uint32_t handle = 0;
    const uint32_t version[4] = {0, 0, 0, 0};
    const uint32_t close[4] = {static_cast<uint32_t>(reinterpret_cast<uintptr_t>(&handle)), 0, 0, 0};
    EXPECT_EQ(0u, CallWithFourSlots(reinterpret_cast<void*>(GetProcAddress(dll, "VexaVersionInfo")), version).popped);
    EXPECT_EQ(0u, CallWithFourSlots(reinterpret_cast<void*>(GetProcAddress(dll, "CloseWiaDevice")), close).popped);
    const CallResult level = CallWithFourSlots(reinterpret_cast<void*>(GetProcAddress(dll, "GetFotexApiLevel")), version);
    EXPECT_EQ(0u, level.popped);
    EXPECT_EQ(FOTEX_API_LEVEL, level.status);
    // The options: an unknown one is refused, after the arguments were left in place.
    const uint32_t unknownOption[4] = {99, 0, 0, 0};
    const CallResult option = CallWithFourSlots(reinterpret_cast<void*>(GetProcAddress(dll, "SetFotexOption")), unknownOption);
    EXPECT_EQ(0u, option.popped);
    EXPECT_EQ(static_cast<int>(0x80070057), option.status);
    FreeLibrary(dll);
#else
    GTEST_SKIP() << "i686 only: x86_64 has a single calling convention";
#endif
}

}  // namespace

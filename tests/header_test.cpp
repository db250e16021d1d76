// fotex.h against the ABI: the module-definition list and the property table.
#include <gtest/gtest.h>

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
#define CHECK_Integer(getter, setter)                                                   \
    static_assert(std::is_same_v<decltype(&getter), IntegerGetter>, #getter " shape"); \
    static_assert(std::is_same_v<decltype(&setter), IntegerSetter>, #setter " shape");
#define CHECK_ReadOnly(getter, setter) \
    static_assert(std::is_same_v<decltype(&getter), IntegerGetter>, #getter " shape");
#define CHECK_Text(getter, setter)                                                   \
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
    ASSERT_EQ(83u + 10u + 3u, def.size()) << "the 83 of 1.3, the ten camera contents functions, choices and events";
    for (const auto& name : def) EXPECT_TRUE(declared.count(name)) << name << " is exported but not declared";
    for (const auto& [name, unused] : declared)
        EXPECT_TRUE(def.count(name)) << name << " is declared but not exported";
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

TEST(Header, FormatCodesAreTheEighteenTransferFormats) {
    std::set<int> values;
    for (const auto& [name, value] : HeaderMatches(R"(#define (FOTEX_FORMAT_\w+) (\d+))"))
        EXPECT_TRUE(values.insert(std::stoi(value)).second) << name << " repeats " << value;
    std::set<int> expected = {128, 129};
    for (int code = 0; code <= 15; ++code) expected.insert(code);
    EXPECT_EQ(expected, values);
}

}  // namespace

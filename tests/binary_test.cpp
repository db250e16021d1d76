// Static checks of the shipped DLLs, read as files: the 32-bit one cannot run on this machine.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "host.h"

#include "property_table.h"

namespace {

std::vector<uint8_t> ReadFile(const char* path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// A PE image as a file, with RVAs mapped through the section table.
class PeFile {
public:
    explicit PeFile(std::vector<uint8_t> bytes) : b_(std::move(bytes)) {
        if (b_.size() < sizeof(IMAGE_DOS_HEADER)) return;
        const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(b_.data());
        if (dos->e_magic != IMAGE_DOS_SIGNATURE) return;
        nt_ = dos->e_lfanew;
        if (u32(nt_) != IMAGE_NT_SIGNATURE) return;
        machine_ = u16(nt_ + 4);
        const uint16_t sections = u16(nt_ + 6);
        const uint16_t optionalSize = u16(nt_ + 20);
        optional_ = nt_ + 24;
        magic_ = u16(optional_);
        const size_t table = optional_ + optionalSize;
        for (uint16_t i = 0; i < sections; ++i) {
            const size_t s = table + i * 40;
            sections_.push_back({u32(s + 12), std::max(u32(s + 8), u32(s + 16)), u32(s + 20)});
        }
        valid_ = true;
    }

    bool valid() const { return valid_; }
    uint16_t machine() const { return machine_; }
    uint16_t magic() const { return magic_; }

    // Data directory entry i: RVA and size.
    std::pair<uint32_t, uint32_t> Directory(int i) const {
        const size_t dirs = optional_ + (magic_ == 0x20B ? 112 : 96);
        return {u32(dirs + i * 8), u32(dirs + i * 8 + 4)};
    }

    size_t Offset(uint32_t rva) const {
        for (const auto& s : sections_)
            if (rva >= s.rva && rva < s.rva + s.size) return rva - s.rva + s.raw;
        return 0;
    }

    std::string CString(uint32_t rva) const {
        const size_t o = Offset(rva);
        return std::string(reinterpret_cast<const char*>(b_.data() + o));
    }

    std::vector<std::string> ExportNames() const {
        std::vector<std::string> names;
        const auto [rva, size] = Directory(IMAGE_DIRECTORY_ENTRY_EXPORT);
        if (rva == 0) return names;
        const size_t e = Offset(rva);
        const uint32_t count = u32(e + 24);
        const size_t table = Offset(u32(e + 32));
        for (uint32_t i = 0; i < count; ++i) names.push_back(CString(u32(table + i * 4)));
        return names;
    }

    uint32_t ExportFunctionCount() const {
        const auto [rva, size] = Directory(IMAGE_DIRECTORY_ENTRY_EXPORT);
        return rva == 0 ? 0 : u32(Offset(rva) + 20);
    }

    std::vector<std::string> ImportedDlls() const {
        std::vector<std::string> dlls;
        const auto [rva, size] = Directory(IMAGE_DIRECTORY_ENTRY_IMPORT);
        if (rva == 0) return dlls;
        for (size_t d = Offset(rva); u32(d + 12) != 0; d += 20) dlls.push_back(CString(u32(d + 12)));
        return dlls;
    }

    const std::vector<uint8_t>& bytes() const { return b_; }

private:
    struct Section {
        uint32_t rva, size, raw;
    };
    uint16_t u16(size_t o) const { return o + 2 <= b_.size() ? uint16_t(b_[o] | b_[o + 1] << 8) : 0; }
    uint32_t u32(size_t o) const { return o + 4 <= b_.size() ? uint32_t(u16(o) | uint32_t(u16(o + 2)) << 16) : 0; }

    std::vector<uint8_t> b_;
    std::vector<Section> sections_;
    size_t nt_ = 0, optional_ = 0;
    uint16_t machine_ = 0, magic_ = 0;
    bool valid_ = false;
};

std::vector<std::string> DefExports() { return fotextest::ModuleDefinitionExports(FOTEX_DEF_FILE); }

// The value of a string of the version resource, found by its UTF-16 key.
std::string VersionString(const std::vector<uint8_t>& b, const std::string& key) {
    std::vector<uint8_t> pattern;
    for (char c : key) {
        pattern.push_back(static_cast<uint8_t>(c));
        pattern.push_back(0);
    }
    pattern.push_back(0);
    pattern.push_back(0);
    auto at = std::search(b.begin(), b.end(), pattern.begin(), pattern.end());
    if (at == b.end()) return "(missing)";
    const size_t keyStart = static_cast<size_t>(at - b.begin());
    const size_t structStart = keyStart - 6;  // wLength, wValueLength, wType
    size_t value = keyStart + pattern.size();
    value = structStart + ((value - structStart + 3) & ~size_t(3));
    std::string text;
    for (size_t i = value; i + 1 < b.size() && (b[i] | b[i + 1]) != 0; i += 2) text += static_cast<char>(b[i]);
    return text;
}

struct Build {
    const char* path;
    uint16_t machine;
    uint16_t magic;
};

class BinaryTest : public ::testing::TestWithParam<Build> {};

TEST_P(BinaryTest, IsAPortableExecutableForItsMachine) {
    PeFile pe(ReadFile(GetParam().path));
    ASSERT_TRUE(pe.valid()) << GetParam().path;
    EXPECT_EQ(GetParam().machine, pe.machine());
    EXPECT_EQ(GetParam().magic, pe.magic());
}

TEST_P(BinaryTest, ExportsExactlyTheModuleDefinitionNamesUndecorated) {
    PeFile pe(ReadFile(GetParam().path));
    ASSERT_TRUE(pe.valid()) << GetParam().path;
    std::vector<std::string> names = pe.ExportNames();
    std::sort(names.begin(), names.end());
    const std::vector<std::string> expected = DefExports();
    ASSERT_FALSE(expected.empty());
    EXPECT_EQ(expected, names);
    EXPECT_EQ(expected.size(), pe.ExportFunctionCount()) << "exports by ordinal only";
    for (const std::string& name : names) {
        EXPECT_EQ(std::string::npos, name.find_first_of("@?_")) << name;
    }
}

TEST_P(BinaryTest, ImportsOnlySystemDlls) {
    PeFile pe(ReadFile(GetParam().path));
    ASSERT_TRUE(pe.valid()) << GetParam().path;
    const std::set<std::string> allowed = {"kernel32.dll", "ole32.dll", "oleaut32.dll", "user32.dll", "msvcrt.dll"};
    const std::vector<std::string> dlls = pe.ImportedDlls();
    EXPECT_FALSE(dlls.empty());
    for (std::string dll : dlls) {
        std::transform(dll.begin(), dll.end(), dll.begin(), [](unsigned char c) { return std::tolower(c); });
        EXPECT_TRUE(allowed.count(dll)) << "imports " << dll;
    }
}

TEST_P(BinaryTest, CarriesTheVersionResource) {
    PeFile pe(ReadFile(GetParam().path));
    ASSERT_TRUE(pe.valid()) << GetParam().path;
    const auto& b = pe.bytes();
    EXPECT_EQ("1, 3, 0, 0", VersionString(b, "FileVersion"));
    EXPECT_EQ("1, 3, 0, 0", VersionString(b, "ProductVersion"));
    EXPECT_EQ("Fotex.dll", VersionString(b, "InternalName"));
    EXPECT_EQ("Fotex.dll", VersionString(b, "OriginalFilename"));

    // The fixed part carries the same numbers.
    const uint8_t signature[] = {0xBD, 0x04, 0xEF, 0xFE};
    auto at = std::search(b.begin(), b.end(), std::begin(signature), std::end(signature));
    ASSERT_NE(b.end(), at);
    const size_t o = static_cast<size_t>(at - b.begin());
    auto u32 = [&](size_t p) { return uint32_t(b[p] | b[p + 1] << 8 | b[p + 2] << 16 | uint32_t(b[p + 3]) << 24); };
    EXPECT_EQ(0x00010003u, u32(o + 8));   // file version, major.minor
    EXPECT_EQ(0x00000000u, u32(o + 12));  // build.revision
    EXPECT_EQ(0x00010003u, u32(o + 16));  // product version
}

// Every getter and setter of the property table; read-only rows name NoSetter.
std::vector<std::string> TableExports() {
    std::vector<std::string> names;
#define FOTEX_TABLE_NAMES(kind, id, getter, setter) \
    names.push_back(#getter);                       \
    if (std::string(#setter) != "NoSetter") names.push_back(#setter);
    FOTEX_PROPERTY_TABLE(FOTEX_TABLE_NAMES)
#undef FOTEX_TABLE_NAMES
    return names;
}

TEST(ModuleDefinition, ListsEverySettingOfThePropertyTable) {
    const std::vector<std::string> def = DefExports();
    const std::vector<std::string> table = TableExports();
    EXPECT_EQ(71u, table.size());
    for (const std::string& name : table) {
        EXPECT_TRUE(std::binary_search(def.begin(), def.end(), name)) << name << " missing from Fotex.def";
    }
}

INSTANTIATE_TEST_SUITE_P(Builds, BinaryTest,
                         ::testing::Values(Build{FOTEX_X86_DLL, IMAGE_FILE_MACHINE_I386, 0x10B},
                                           Build{FOTEX_X64_DLL, IMAGE_FILE_MACHINE_AMD64, 0x20B}),
                         [](const ::testing::TestParamInfo<Build>& info) {
                             return info.param.machine == IMAGE_FILE_MACHINE_I386 ? std::string("i686") : std::string("x86_64");
                         });

}  // namespace

// Static checks of the shipped DLLs, read as files: the 32-bit one cannot run on this machine.
#include <gtest/gtest.h>

#include <windows.h>
#include <initguid.h>  // defines mingw-w64's own WIA GUIDs in this file, to cross-check ours
#include <wia.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "host.h"

#include "property_table.h"
#include "wia_ids.h"

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

// Every getter and setter of the property table; read-only rows name FOTEX_NO_SETTER.
std::vector<std::string> TableExports() {
    std::vector<std::string> names;
#define FOTEX_TABLE_NAMES(kind, id, getter, setter) \
    names.push_back(#getter);                       \
    if (std::string(#setter) != "FOTEX_NO_SETTER") names.push_back(#setter);
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

// ---- identifiers, pinned to the values Microsoft publishes ----------------------------------
// Windows SDK wia.h / wiadef.h and the WIA documentation. The library, its virtual camera and the
// other tests take these from one header, so a wrong value there would pass everything else.

namespace wia = fotex::wia;

GUID Parse(const char* text) {
    unsigned long d1 = 0;
    unsigned d2 = 0, d3 = 0, b[8] = {};
    std::sscanf(text, "{%8lx-%4x-%4x-%2x%2x-%2x%2x%2x%2x%2x%2x}", &d1, &d2, &d3, &b[0], &b[1], &b[2], &b[3],
                &b[4], &b[5], &b[6], &b[7]);
    GUID g{static_cast<unsigned long>(d1), static_cast<unsigned short>(d2), static_cast<unsigned short>(d3), {}};
    for (int i = 0; i < 8; ++i) g.Data4[i] = static_cast<unsigned char>(b[i]);
    return g;
}

struct PublishedGuid {
    const char* name;
    const char* published;
    const GUID* ours;
    const GUID* mingw;  // mingw-w64's definition, where it has one
    bool inFotex;       // Fotex.dll passes or compares it
};
#define FOTEX_GUID(name, text, inFotex) {#name, text, &wia::name, nullptr, inFotex}
#define FOTEX_GUID_M(name, text, inFotex) {#name, text, &wia::name, &::name, inFotex}
const PublishedGuid kGuids[] = {
    FOTEX_GUID(CLSID_WiaDevMgr, "{A1F4E726-8CF1-11D1-BF92-0060081ED811}", true),
    FOTEX_GUID(IID_IWiaDevMgr, "{5EB2502A-8CF1-11D1-BF92-0060081ED811}", true),
    FOTEX_GUID(IID_IWiaItem, "{4DB1AD10-3391-11D2-9A33-00C04FA36145}", false),
    FOTEX_GUID(IID_IWiaPropertyStorage, "{98B5E8A0-29CC-491A-AAC0-E6DB4FDCCEB6}", true),
    FOTEX_GUID(IID_IWiaDataTransfer, "{A6CEF998-A5B0-11D2-A08F-00C04F72DC3C}", true),
    FOTEX_GUID(IID_IWiaDataCallback, "{A558A866-A5B0-11D2-A08F-00C04F72DC3C}", false),
    FOTEX_GUID(IID_IEnumWIA_DEV_INFO, "{5E38B83C-8CF1-11D1-BF92-0060081ED811}", false),
    FOTEX_GUID(IID_IEnumWiaItem, "{5E8383FC-3391-11D2-9A33-00C04FA36145}", false),
    FOTEX_GUID(IID_IEnumWIA_DEV_CAPS, "{1FCC4287-ACA6-11D2-A093-00C04F72DC3C}", false),
    FOTEX_GUID_M(WIA_CMD_TAKE_PICTURE, "{AF933CAC-ACAD-11D2-A093-00C04F72DC3C}", true),
    FOTEX_GUID_M(WIA_CMD_DELETE_ALL_ITEMS, "{E208C170-ACAD-11D2-A093-00C04F72DC3C}", true),
    FOTEX_GUID_M(WIA_CMD_SYNCHRONIZE, "{9B26B7B2-ACAD-11D2-A093-00C04F72DC3C}", false),
    FOTEX_GUID_M(WiaImgFmt_BMP, "{B96B3CAB-0728-11D3-9D7B-0000F81EF32E}", true),
    FOTEX_GUID_M(WiaImgFmt_EMF, "{B96B3CAC-0728-11D3-9D7B-0000F81EF32E}", true),
    FOTEX_GUID_M(WiaImgFmt_WMF, "{B96B3CAD-0728-11D3-9D7B-0000F81EF32E}", true),
    FOTEX_GUID_M(WiaImgFmt_JPEG, "{B96B3CAE-0728-11D3-9D7B-0000F81EF32E}", true),
    FOTEX_GUID_M(WiaImgFmt_PNG, "{B96B3CAF-0728-11D3-9D7B-0000F81EF32E}", true),
    FOTEX_GUID_M(WiaImgFmt_GIF, "{B96B3CB0-0728-11D3-9D7B-0000F81EF32E}", true),
    FOTEX_GUID_M(WiaImgFmt_TIFF, "{B96B3CB1-0728-11D3-9D7B-0000F81EF32E}", true),
    FOTEX_GUID_M(WiaImgFmt_EXIF, "{B96B3CB2-0728-11D3-9D7B-0000F81EF32E}", true),
    FOTEX_GUID_M(WiaImgFmt_PHOTOCD, "{B96B3CB3-0728-11D3-9D7B-0000F81EF32E}", true),
    FOTEX_GUID_M(WiaImgFmt_FLASHPIX, "{B96B3CB4-0728-11D3-9D7B-0000F81EF32E}", true),
    FOTEX_GUID_M(WiaImgFmt_ICO, "{B96B3CB5-0728-11D3-9D7B-0000F81EF32E}", true),
    FOTEX_GUID_M(WiaImgFmt_CIFF, "{9821A8AB-3A7E-4215-94E0-D27A460C03B2}", true),
    FOTEX_GUID_M(WiaImgFmt_PICT, "{A6BC85D8-6B3E-40EE-A95C-25D482E41ADC}", true),
    FOTEX_GUID_M(WiaImgFmt_JPEG2K, "{344EE2B2-39DB-4DDE-8173-C4B75F8F1E49}", true),
    FOTEX_GUID_M(WiaImgFmt_JPEG2KX, "{43E14614-C80A-4850-BAF3-4B152DC8DA27}", true),
    FOTEX_GUID_M(WiaImgFmt_RAWRGB, "{BCA48B55-F272-4371-B0F1-4A150D057BB4}", true),
    FOTEX_GUID_M(WiaImgFmt_AVI, "{32F8CA14-087C-4908-B7C4-6757FE7E90AB}", true),
    FOTEX_GUID_M(WiaImgFmt_MPG, "{ECD757E4-D2EC-4F57-955D-BCF8A97C4E52}", true),
};
#undef FOTEX_GUID
#undef FOTEX_GUID_M

struct PublishedNumber {
    const char* name;
    long long published;
    long long ours;
    long long mingw;  // kAbsent where mingw-w64 has no definition
};
constexpr long long kAbsent = -0x7FFFFFFFFFFF;
// A published number, our constant for it, and mingw-w64's macro (some are unparenthesised sums).
#define FOTEX_NUM_M(name, value, ours) {#name, value, ours, (name)}
#define FOTEX_NUM(name, value, ours) {#name, value, ours, kAbsent}
const PublishedNumber kNumbers[] = {
    FOTEX_NUM_M(WIA_DIP_DEV_ID, 2, wia::kDipDevId),
    FOTEX_NUM_M(WIA_DIP_DEV_DESC, 4, wia::kDipDevDesc),
    FOTEX_NUM_M(WIA_DIP_DEV_NAME, 7, wia::kDipDevName),
    FOTEX_NUM_M(WIA_DPC_PICTURES_TAKEN, 2050, wia::kDpcPicturesTaken),
    FOTEX_NUM_M(WIA_DPC_PICTURES_REMAINING, 2051, wia::kDpcPicturesRemaining),
    FOTEX_NUM_M(WIA_IPA_FIRST, 4098, wia::kIpaFirst),
    FOTEX_NUM_M(WIA_IPA_PREFERRED_FORMAT, 4105, wia::kIpaPreferredFormat),
    FOTEX_NUM_M(WIA_IPA_FORMAT, 4106, wia::kIpaFormat),
    FOTEX_NUM_M(WIA_IPA_TYMED, 4108, wia::kIpaTymed),
    FOTEX_NUM_M(IT_MSG_DATA_HEADER, 1, wia::kMsgDataHeader),
    FOTEX_NUM_M(IT_MSG_DATA, 2, wia::kMsgData),
    FOTEX_NUM_M(IT_MSG_STATUS, 3, wia::kMsgStatus),
    FOTEX_NUM_M(IT_MSG_TERMINATION, 4, wia::kMsgTermination),
    FOTEX_NUM_M(WIA_DEVINFO_ENUM_LOCAL, 0x10, wia::kDevInfoEnumLocal),
    FOTEX_NUM_M(WIA_DEVICE_COMMANDS, 1, wia::kDeviceCommands),
    FOTEX_NUM_M(WiaItemTypeImage, 0x00000001, wia::kItemTypeImage),
    FOTEX_NUM_M(WiaItemTypeFile, 0x00000002, wia::kItemTypeFile),
    FOTEX_NUM_M(WiaItemTypeFolder, 0x00000004, wia::kItemTypeFolder),
    FOTEX_NUM_M(WiaItemTypeRoot, 0x00000008, wia::kItemTypeRoot),
    FOTEX_NUM_M(WiaItemTypeAudio, 0x00000020, wia::kItemTypeAudio),
    FOTEX_NUM_M(WiaItemTypeDevice, 0x00000040, wia::kItemTypeDevice),
    FOTEX_NUM_M(WiaItemTypeHasAttachments, 0x00008000, wia::kItemTypeHasAttachments),
    FOTEX_NUM_M(WiaItemTypeVideo, 0x00010000, wia::kItemTypeVideo),
    FOTEX_NUM_M(WiaItemTypeImage, 0x00000001, FOTEX_ITEM_IMAGE),
    FOTEX_NUM_M(WiaItemTypeFolder, 0x00000004, FOTEX_ITEM_FOLDER),
    FOTEX_NUM_M(WiaItemTypeHasAttachments, 0x00008000, FOTEX_ITEM_HAS_ATTACHMENTS),
    FOTEX_NUM_M(WiaItemTypeVideo, 0x00010000, FOTEX_ITEM_VIDEO),
    FOTEX_NUM(StiDeviceTypeDigitalCamera, 2, wia::kStiDeviceTypeDigitalCamera),
    FOTEX_NUM_M(WIA_DEVICE_DIALOG_SINGLE_IMAGE, 2, wia::kDialogSingleImage),
    FOTEX_NUM(WIA_INTENT_IMAGE_TYPE_COLOR | WIA_INTENT_MAXIMIZE_QUALITY, 0x00020001, wia::kIntentColourMaximumQuality),
    FOTEX_NUM_M(WIA_ERROR_OFFLINE, static_cast<HRESULT>(0x80210005), wia::kWiaErrorOffline),
    FOTEX_NUM_M(WIA_DPC_PICTURES_TAKEN, 2050, FOTEX_PROP_PICTURES_TAKEN),
    FOTEX_NUM_M(WIA_DPC_PICTURES_REMAINING, 2051, FOTEX_PROP_PICTURES_REMAINING),
    FOTEX_NUM_M(WIA_DPC_EXPOSURE_MODE, 2052, FOTEX_PROP_EXPOSURE_MODE),
    FOTEX_NUM_M(WIA_DPC_EXPOSURE_COMP, 2053, FOTEX_PROP_EXPOSURE_COMP),
    FOTEX_NUM_M(WIA_DPC_EXPOSURE_TIME, 2054, FOTEX_PROP_EXPOSURE_TIME),
    FOTEX_NUM_M(WIA_DPC_FNUMBER, 2055, FOTEX_PROP_FNUMBER),
    FOTEX_NUM_M(WIA_DPC_FLASH_MODE, 2056, FOTEX_PROP_FLASH_MODE),
    FOTEX_NUM_M(WIA_DPC_FOCUS_MODE, 2057, FOTEX_PROP_FOCUS_MODE),
    FOTEX_NUM_M(WIA_DPC_FOCUS_MANUAL_DIST, 2058, FOTEX_PROP_FOCUS_MANUAL_DIST),
    FOTEX_NUM_M(WIA_DPC_ZOOM_POSITION, 2059, FOTEX_PROP_ZOOM_POSITION),
    FOTEX_NUM_M(WIA_DPC_PAN_POSITION, 2060, FOTEX_PROP_PAN_POSITION),
    FOTEX_NUM_M(WIA_DPC_TILT_POSITION, 2061, FOTEX_PROP_TILT_POSITION),
    FOTEX_NUM_M(WIA_DPC_TIMER_MODE, 2062, FOTEX_PROP_TIMER_MODE),
    FOTEX_NUM_M(WIA_DPC_TIMER_VALUE, 2063, FOTEX_PROP_TIMER_VALUE),
    FOTEX_NUM_M(WIA_DPC_POWER_MODE, 2064, FOTEX_PROP_POWER_MODE),
    FOTEX_NUM_M(WIA_DPC_BATTERY_STATUS, 2065, FOTEX_PROP_BATTERY_STATUS),
    FOTEX_NUM_M(WIA_DPC_THUMB_WIDTH, 2066, FOTEX_PROP_THUMB_WIDTH),
    FOTEX_NUM_M(WIA_DPC_THUMB_HEIGHT, 2067, FOTEX_PROP_THUMB_HEIGHT),
    FOTEX_NUM_M(WIA_DPC_PICT_WIDTH, 2068, FOTEX_PROP_PICT_WIDTH),
    FOTEX_NUM_M(WIA_DPC_PICT_HEIGHT, 2069, FOTEX_PROP_PICT_HEIGHT),
    FOTEX_NUM_M(WIA_DPC_DIMENSION, 2070, FOTEX_PROP_DIMENSION),
    FOTEX_NUM_M(WIA_DPC_COMPRESSION_SETTING, 2071, FOTEX_PROP_COMPRESSION_SETTING),
    FOTEX_NUM_M(WIA_DPC_FOCUS_METERING, 2072, FOTEX_PROP_FOCUS_METERING),
    FOTEX_NUM_M(WIA_DPC_TIMELAPSE_INTERVAL, 2073, FOTEX_PROP_TIMELAPSE_INTERVAL),
    FOTEX_NUM_M(WIA_DPC_TIMELAPSE_NUMBER, 2074, FOTEX_PROP_TIMELAPSE_NUMBER),
    FOTEX_NUM_M(WIA_DPC_BURST_INTERVAL, 2075, FOTEX_PROP_BURST_INTERVAL),
    FOTEX_NUM_M(WIA_DPC_BURST_NUMBER, 2076, FOTEX_PROP_BURST_NUMBER),
    FOTEX_NUM_M(WIA_DPC_EFFECT_MODE, 2077, FOTEX_PROP_EFFECT_MODE),
    FOTEX_NUM_M(WIA_DPC_DIGITAL_ZOOM, 2078, FOTEX_PROP_DIGITAL_ZOOM),
    FOTEX_NUM_M(WIA_DPC_SHARPNESS, 2079, FOTEX_PROP_SHARPNESS),
    FOTEX_NUM_M(WIA_DPC_CONTRAST, 2080, FOTEX_PROP_CONTRAST),
    FOTEX_NUM_M(WIA_DPC_CAPTURE_MODE, 2081, FOTEX_PROP_CAPTURE_MODE),
    FOTEX_NUM_M(WIA_DPC_CAPTURE_DELAY, 2082, FOTEX_PROP_CAPTURE_DELAY),
    FOTEX_NUM_M(WIA_DPC_EXPOSURE_INDEX, 2083, FOTEX_PROP_EXPOSURE_INDEX),
    FOTEX_NUM_M(WIA_DPC_EXPOSURE_METERING_MODE, 2084, FOTEX_PROP_EXPOSURE_METERING_MODE),
    FOTEX_NUM_M(WIA_DPC_FOCUS_METERING_MODE, 2085, FOTEX_PROP_FOCUS_METERING_MODE),
    FOTEX_NUM_M(WIA_DPC_FOCUS_DISTANCE, 2086, FOTEX_PROP_FOCUS_DISTANCE),
    FOTEX_NUM_M(WIA_DPC_FOCAL_LENGTH, 2087, FOTEX_PROP_FOCAL_LENGTH),
    FOTEX_NUM_M(WIA_DPC_RGB_GAIN, 2088, FOTEX_PROP_RGB_GAIN),
    FOTEX_NUM_M(WIA_DPC_WHITE_BALANCE, 2089, FOTEX_PROP_WHITE_BALANCE),
    FOTEX_NUM_M(WIA_DPC_UPLOAD_URL, 2090, FOTEX_PROP_UPLOAD_URL),
    FOTEX_NUM_M(WIA_DPC_ARTIST, 2091, FOTEX_PROP_ARTIST),
    FOTEX_NUM_M(WIA_DPC_COPYRIGHT_INFO, 2092, FOTEX_PROP_COPYRIGHT_INFO),
};
#undef FOTEX_NUM
#undef FOTEX_NUM_M

TEST(Identifiers, GuidsAreThePublishedValues) {
    for (const PublishedGuid& g : kGuids) {
        const GUID published = Parse(g.published);
        EXPECT_TRUE(IsEqualGUID(published, *g.ours)) << g.name;
        if (g.mingw != nullptr) {
            EXPECT_TRUE(IsEqualGUID(published, *g.mingw)) << g.name << " (mingw-w64)";
        }
    }
}

TEST(Identifiers, NumbersAreThePublishedValues) {
    for (const PublishedNumber& n : kNumbers) {
        EXPECT_EQ(n.published, n.ours) << n.name;
        if (n.mingw != kAbsent) {
            EXPECT_EQ(n.published, n.mingw) << n.name << " (mingw-w64)";
        }
    }
}

// The settings' table gives each export its property id; the header names the same ids.
TEST(Identifiers, EverySettingUsesItsPublishedPropertyId) {
    std::set<long long> published;
    for (const PublishedNumber& n : kNumbers)
        if (std::strncmp(n.name, "WIA_DPC_", 8) == 0) published.insert(n.published);
#define FOTEX_ID_ROW(kind, id, getter, setter) EXPECT_EQ(1u, published.count(id)) << #getter;
    FOTEX_PROPERTY_TABLE(FOTEX_ID_ROW)
#undef FOTEX_ID_ROW
}

bool Holds(const std::vector<uint8_t>& bytes, const GUID& g) {
    const auto* p = reinterpret_cast<const uint8_t*>(&g);
    return std::search(bytes.begin(), bytes.end(), p, p + sizeof g) != bytes.end();
}

// What the built DLL passes to the service, as 16 bytes in its image: the published value.
TEST_P(BinaryTest, HoldsThePublishedIdentifiersItPassesToTheService) {
    const std::vector<uint8_t> bytes = ReadFile(GetParam().path);
    for (const PublishedGuid& g : kGuids) {
        if (g.inFotex) {
            EXPECT_TRUE(Holds(bytes, Parse(g.published))) << g.name;
        }
    }
}

// The virtual camera answers every interface and command by the published value.
TEST(Identifiers, VirtualCameraHoldsEveryPublishedIdentifier) {
    const std::vector<uint8_t> bytes = ReadFile(FOTEX_SIM_DLL);
    ASSERT_FALSE(bytes.empty());
    for (const PublishedGuid& g : kGuids) EXPECT_TRUE(Holds(bytes, Parse(g.published))) << g.name;
}

INSTANTIATE_TEST_SUITE_P(Builds, BinaryTest,
                         ::testing::Values(Build{FOTEX_X86_DLL, IMAGE_FILE_MACHINE_I386, 0x10B},
                                           Build{FOTEX_X64_DLL, IMAGE_FILE_MACHINE_AMD64, 0x20B}),
                         [](const ::testing::TestParamInfo<Build>& info) {
                             return info.param.machine == IMAGE_FILE_MACHINE_I386 ? std::string("i686") : std::string("x86_64");
                         });

}  // namespace

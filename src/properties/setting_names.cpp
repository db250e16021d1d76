// The names of settings and of their values: the service headers' names of the properties, the
// documented names of the enumerated values, and the values that carry units written as
// photographers read them. Pure tables and arithmetic: no device, no allocation.
#include "properties.h"

#include <wia.h>

#include <climits>
#include <cstdint>
#include <cstring>

namespace fotex {

namespace {

struct WideLabel {
    PROPID id;
    const WCHAR* text;
};

// Every property the service's headers name (WIA_*_STR), by the headers' own definitions. Read
// only while compiling: the DLL holds the packed form below.
#define FOTEX_LABEL(id) {id, id##_STR},
constexpr WideLabel kWideLabels[] = {
    FOTEX_LABEL(WIA_DIP_DEV_ID) FOTEX_LABEL(WIA_DIP_VEND_DESC) FOTEX_LABEL(WIA_DIP_DEV_DESC)
    FOTEX_LABEL(WIA_DIP_DEV_TYPE) FOTEX_LABEL(WIA_DIP_PORT_NAME) FOTEX_LABEL(WIA_DIP_DEV_NAME)
    FOTEX_LABEL(WIA_DIP_SERVER_NAME) FOTEX_LABEL(WIA_DIP_REMOTE_DEV_ID) FOTEX_LABEL(WIA_DIP_UI_CLSID)
    FOTEX_LABEL(WIA_DIP_HW_CONFIG) FOTEX_LABEL(WIA_DIP_BAUDRATE) FOTEX_LABEL(WIA_DIP_STI_GEN_CAPABILITIES)
    FOTEX_LABEL(WIA_DIP_WIA_VERSION) FOTEX_LABEL(WIA_DIP_DRIVER_VERSION) FOTEX_LABEL(WIA_DPA_FIRMWARE_VERSION)
    FOTEX_LABEL(WIA_DPA_CONNECT_STATUS) FOTEX_LABEL(WIA_DPA_DEVICE_TIME) FOTEX_LABEL(WIA_DPC_PICTURES_TAKEN)
    FOTEX_LABEL(WIA_DPC_PICTURES_REMAINING) FOTEX_LABEL(WIA_DPC_EXPOSURE_MODE) FOTEX_LABEL(WIA_DPC_EXPOSURE_COMP)
    FOTEX_LABEL(WIA_DPC_EXPOSURE_TIME) FOTEX_LABEL(WIA_DPC_FNUMBER) FOTEX_LABEL(WIA_DPC_FLASH_MODE)
    FOTEX_LABEL(WIA_DPC_FOCUS_MODE) FOTEX_LABEL(WIA_DPC_FOCUS_MANUAL_DIST) FOTEX_LABEL(WIA_DPC_ZOOM_POSITION)
    FOTEX_LABEL(WIA_DPC_PAN_POSITION) FOTEX_LABEL(WIA_DPC_TILT_POSITION) FOTEX_LABEL(WIA_DPC_TIMER_MODE)
    FOTEX_LABEL(WIA_DPC_TIMER_VALUE) FOTEX_LABEL(WIA_DPC_POWER_MODE) FOTEX_LABEL(WIA_DPC_BATTERY_STATUS)
    FOTEX_LABEL(WIA_DPC_THUMB_WIDTH) FOTEX_LABEL(WIA_DPC_THUMB_HEIGHT) FOTEX_LABEL(WIA_DPC_PICT_WIDTH)
    FOTEX_LABEL(WIA_DPC_PICT_HEIGHT) FOTEX_LABEL(WIA_DPC_DIMENSION) FOTEX_LABEL(WIA_DPC_COMPRESSION_SETTING)
    FOTEX_LABEL(WIA_DPC_FOCUS_METERING_MODE) FOTEX_LABEL(WIA_DPC_TIMELAPSE_INTERVAL)
    FOTEX_LABEL(WIA_DPC_TIMELAPSE_NUMBER) FOTEX_LABEL(WIA_DPC_BURST_INTERVAL) FOTEX_LABEL(WIA_DPC_BURST_NUMBER)
    FOTEX_LABEL(WIA_DPC_EFFECT_MODE) FOTEX_LABEL(WIA_DPC_DIGITAL_ZOOM) FOTEX_LABEL(WIA_DPC_SHARPNESS)
    FOTEX_LABEL(WIA_DPC_CONTRAST) FOTEX_LABEL(WIA_DPC_CAPTURE_MODE) FOTEX_LABEL(WIA_DPC_CAPTURE_DELAY)
    FOTEX_LABEL(WIA_DPC_EXPOSURE_INDEX) FOTEX_LABEL(WIA_DPC_EXPOSURE_METERING_MODE)
    FOTEX_LABEL(WIA_DPC_FOCUS_DISTANCE) FOTEX_LABEL(WIA_DPC_FOCAL_LENGTH) FOTEX_LABEL(WIA_DPC_RGB_GAIN)
    FOTEX_LABEL(WIA_DPC_WHITE_BALANCE) FOTEX_LABEL(WIA_DPC_UPLOAD_URL) FOTEX_LABEL(WIA_DPC_ARTIST)
    FOTEX_LABEL(WIA_DPC_COPYRIGHT_INFO) FOTEX_LABEL(WIA_DPS_HORIZONTAL_BED_SIZE)
    FOTEX_LABEL(WIA_DPS_VERTICAL_BED_SIZE) FOTEX_LABEL(WIA_DPS_HORIZONTAL_SHEET_FEED_SIZE)
    FOTEX_LABEL(WIA_DPS_VERTICAL_SHEET_FEED_SIZE) FOTEX_LABEL(WIA_DPS_SHEET_FEEDER_REGISTRATION)
    FOTEX_LABEL(WIA_DPS_HORIZONTAL_BED_REGISTRATION) FOTEX_LABEL(WIA_DPS_VERTICAL_BED_REGISTRATION)
    FOTEX_LABEL(WIA_DPS_PLATEN_COLOR) FOTEX_LABEL(WIA_DPS_PAD_COLOR) FOTEX_LABEL(WIA_DPS_FILTER_SELECT)
    FOTEX_LABEL(WIA_DPS_DITHER_SELECT) FOTEX_LABEL(WIA_DPS_DITHER_PATTERN_DATA)
    FOTEX_LABEL(WIA_DPS_DOCUMENT_HANDLING_CAPABILITIES) FOTEX_LABEL(WIA_DPS_DOCUMENT_HANDLING_STATUS)
    FOTEX_LABEL(WIA_DPS_DOCUMENT_HANDLING_SELECT) FOTEX_LABEL(WIA_DPS_DOCUMENT_HANDLING_CAPACITY)
    FOTEX_LABEL(WIA_DPS_OPTICAL_XRES) FOTEX_LABEL(WIA_DPS_OPTICAL_YRES) FOTEX_LABEL(WIA_DPS_ENDORSER_CHARACTERS)
    FOTEX_LABEL(WIA_DPS_ENDORSER_STRING) FOTEX_LABEL(WIA_DPS_SCAN_AHEAD_PAGES) FOTEX_LABEL(WIA_DPS_MAX_SCAN_TIME)
    FOTEX_LABEL(WIA_DPS_PAGES) FOTEX_LABEL(WIA_DPS_PAGE_SIZE) FOTEX_LABEL(WIA_DPS_PAGE_WIDTH)
    FOTEX_LABEL(WIA_DPS_PAGE_HEIGHT) FOTEX_LABEL(WIA_DPS_PREVIEW) FOTEX_LABEL(WIA_DPS_TRANSPARENCY)
    FOTEX_LABEL(WIA_DPS_TRANSPARENCY_SELECT) FOTEX_LABEL(WIA_DPS_SHOW_PREVIEW_CONTROL)
    FOTEX_LABEL(WIA_DPS_MIN_HORIZONTAL_SHEET_FEED_SIZE) FOTEX_LABEL(WIA_DPS_MIN_VERTICAL_SHEET_FEED_SIZE)
    FOTEX_LABEL(WIA_DPF_MOUNT_POINT) FOTEX_LABEL(WIA_DPV_LAST_PICTURE_TAKEN) FOTEX_LABEL(WIA_DPV_IMAGES_DIRECTORY)
    FOTEX_LABEL(WIA_DPV_DSHOW_DEVICE_PATH) FOTEX_LABEL(WIA_IPA_ITEM_NAME) FOTEX_LABEL(WIA_IPA_FULL_ITEM_NAME)
    FOTEX_LABEL(WIA_IPA_ITEM_TIME) FOTEX_LABEL(WIA_IPA_ITEM_FLAGS) FOTEX_LABEL(WIA_IPA_ACCESS_RIGHTS)
    FOTEX_LABEL(WIA_IPA_DATATYPE) FOTEX_LABEL(WIA_IPA_DEPTH) FOTEX_LABEL(WIA_IPA_PREFERRED_FORMAT)
    FOTEX_LABEL(WIA_IPA_FORMAT) FOTEX_LABEL(WIA_IPA_COMPRESSION) FOTEX_LABEL(WIA_IPA_TYMED)
    FOTEX_LABEL(WIA_IPA_CHANNELS_PER_PIXEL) FOTEX_LABEL(WIA_IPA_BITS_PER_CHANNEL) FOTEX_LABEL(WIA_IPA_PLANAR)
    FOTEX_LABEL(WIA_IPA_PIXELS_PER_LINE) FOTEX_LABEL(WIA_IPA_BYTES_PER_LINE) FOTEX_LABEL(WIA_IPA_NUMBER_OF_LINES)
    FOTEX_LABEL(WIA_IPA_GAMMA_CURVES) FOTEX_LABEL(WIA_IPA_ITEM_SIZE) FOTEX_LABEL(WIA_IPA_COLOR_PROFILE)
    FOTEX_LABEL(WIA_IPA_MIN_BUFFER_SIZE) FOTEX_LABEL(WIA_IPA_REGION_TYPE) FOTEX_LABEL(WIA_IPA_ICM_PROFILE_NAME)
    FOTEX_LABEL(WIA_IPA_APP_COLOR_MAPPING) FOTEX_LABEL(WIA_IPA_PROP_STREAM_COMPAT_ID)
    FOTEX_LABEL(WIA_IPA_FILENAME_EXTENSION) FOTEX_LABEL(WIA_IPA_SUPPRESS_PROPERTY_PAGE)
    FOTEX_LABEL(WIA_IPC_THUMBNAIL) FOTEX_LABEL(WIA_IPC_THUMB_WIDTH) FOTEX_LABEL(WIA_IPC_THUMB_HEIGHT)
    FOTEX_LABEL(WIA_IPC_AUDIO_AVAILABLE) FOTEX_LABEL(WIA_IPC_AUDIO_DATA_FORMAT) FOTEX_LABEL(WIA_IPC_AUDIO_DATA)
    FOTEX_LABEL(WIA_IPC_NUM_PICT_PER_ROW) FOTEX_LABEL(WIA_IPC_SEQUENCE) FOTEX_LABEL(WIA_IPC_TIMEDELAY)
    FOTEX_LABEL(WIA_IPS_CUR_INTENT) FOTEX_LABEL(WIA_IPS_XRES) FOTEX_LABEL(WIA_IPS_YRES) FOTEX_LABEL(WIA_IPS_XPOS)
    FOTEX_LABEL(WIA_IPS_YPOS) FOTEX_LABEL(WIA_IPS_XEXTENT) FOTEX_LABEL(WIA_IPS_YEXTENT)
    FOTEX_LABEL(WIA_IPS_PHOTOMETRIC_INTERP) FOTEX_LABEL(WIA_IPS_BRIGHTNESS) FOTEX_LABEL(WIA_IPS_CONTRAST)
    FOTEX_LABEL(WIA_IPS_ORIENTATION) FOTEX_LABEL(WIA_IPS_ROTATION) FOTEX_LABEL(WIA_IPS_MIRROR)
    FOTEX_LABEL(WIA_IPS_THRESHOLD) FOTEX_LABEL(WIA_IPS_INVERT) FOTEX_LABEL(WIA_IPS_WARM_UP_TIME)
};
#undef FOTEX_LABEL
constexpr size_t kLabelCount = sizeof kWideLabels / sizeof kWideLabels[0];

constexpr size_t LabelUnits() {
    size_t n = 0;
    for (const WideLabel& l : kWideLabels)
        for (const WCHAR* c = l.text; *c != 0; ++c) ++n;
    return n;
}

// The names as ASCII one after another, with each id and where its name starts: a third of the
// size of wide strings behind pointers, which keeps the DLL small.
struct PackedLabels {
    uint16_t id[kLabelCount];
    uint16_t start[kLabelCount + 1];
    char text[LabelUnits()];
};

constexpr PackedLabels Pack() {
    PackedLabels p{};
    size_t at = 0;
    for (size_t i = 0; i < kLabelCount; ++i) {
        p.id[i] = static_cast<uint16_t>(kWideLabels[i].id);
        p.start[i] = static_cast<uint16_t>(at);
        for (const WCHAR* c = kWideLabels[i].text; *c != 0; ++c) p.text[at++] = static_cast<char>(*c);
    }
    p.start[kLabelCount] = static_cast<uint16_t>(at);
    return p;
}

constexpr bool PacksWhole() {
    if (LabelUnits() > 0xFFFF) return false;
    for (const WideLabel& a : kWideLabels) {
        if (a.id > 0xFFFF) return false;
        for (const WCHAR* c = a.text; *c != 0; ++c)
            if (*c > 0x7F) return false;
        int seen = 0;
        for (const WideLabel& b : kWideLabels) seen += a.id == b.id;
        if (seen != 1) return false;
    }
    return true;
}
static_assert(PacksWhole(), "a property name that is not ASCII, an id beyond 16 bits, or two names for one id");

constexpr PackedLabels kLabels = Pack();

struct ValueName {
    uint16_t id;
    uint16_t value;
    char text[18];
};

// The documented values of the enumerated camera settings.
constexpr ValueName kValueNames[] = {
    {FOTEX_PROP_FLASH_MODE, FOTEX_FLASH_AUTO, "Auto"},
    {FOTEX_PROP_FLASH_MODE, FOTEX_FLASH_OFF, "Off"},
    {FOTEX_PROP_FLASH_MODE, FOTEX_FLASH_FILL, "Fill"},
    {FOTEX_PROP_FLASH_MODE, FOTEX_FLASH_REDEYE_AUTO, "Red-eye auto"},
    {FOTEX_PROP_FLASH_MODE, FOTEX_FLASH_REDEYE_FILL, "Red-eye fill"},
    {FOTEX_PROP_FLASH_MODE, FOTEX_FLASH_EXTERNAL_SYNC, "External sync"},
    {FOTEX_PROP_WHITE_BALANCE, FOTEX_WHITEBALANCE_MANUAL, "Manual"},
    {FOTEX_PROP_WHITE_BALANCE, FOTEX_WHITEBALANCE_AUTO, "Auto"},
    {FOTEX_PROP_WHITE_BALANCE, FOTEX_WHITEBALANCE_ONEPUSH_AUTO, "One-push auto"},
    {FOTEX_PROP_WHITE_BALANCE, FOTEX_WHITEBALANCE_DAYLIGHT, "Daylight"},
    {FOTEX_PROP_WHITE_BALANCE, FOTEX_WHITEBALANCE_FLUORESCENT, "Fluorescent"},
    {FOTEX_PROP_WHITE_BALANCE, FOTEX_WHITEBALANCE_TUNGSTEN, "Tungsten"},
    {FOTEX_PROP_WHITE_BALANCE, FOTEX_WHITEBALANCE_FLASH, "Flash"},
    {FOTEX_PROP_EXPOSURE_MODE, FOTEX_EXPOSUREMODE_MANUAL, "Manual"},
    {FOTEX_PROP_EXPOSURE_MODE, FOTEX_EXPOSUREMODE_AUTO, "Auto"},
    {FOTEX_PROP_EXPOSURE_MODE, FOTEX_EXPOSUREMODE_APERTURE_PRIORITY, "Aperture priority"},
    {FOTEX_PROP_EXPOSURE_MODE, FOTEX_EXPOSUREMODE_SHUTTER_PRIORITY, "Shutter priority"},
    {FOTEX_PROP_EXPOSURE_MODE, FOTEX_EXPOSUREMODE_PROGRAM_CREATIVE, "Program creative"},
    {FOTEX_PROP_EXPOSURE_MODE, FOTEX_EXPOSUREMODE_PROGRAM_ACTION, "Program action"},
    {FOTEX_PROP_EXPOSURE_MODE, FOTEX_EXPOSUREMODE_PORTRAIT, "Portrait"},
    {FOTEX_PROP_FOCUS_MODE, FOTEX_FOCUSMODE_MANUAL, "Manual"},
    {FOTEX_PROP_FOCUS_MODE, FOTEX_FOCUSMODE_AUTO, "Auto"},
    {FOTEX_PROP_FOCUS_MODE, FOTEX_FOCUSMODE_MACRO_AUTO, "Macro auto"},
    {FOTEX_PROP_EXPOSURE_METERING_MODE, FOTEX_EXPOSUREMETERING_AVERAGE, "Average"},
    {FOTEX_PROP_EXPOSURE_METERING_MODE, FOTEX_EXPOSUREMETERING_CENTER_WEIGHT, "Center-weighted"},
    {FOTEX_PROP_EXPOSURE_METERING_MODE, FOTEX_EXPOSUREMETERING_MULTISPOT, "Multi-spot"},
    {FOTEX_PROP_EXPOSURE_METERING_MODE, FOTEX_EXPOSUREMETERING_CENTER_SPOT, "Center spot"},
    {FOTEX_PROP_FOCUS_METERING_MODE, FOTEX_FOCUSMETERING_CENTER_SPOT, "Center spot"},
    {FOTEX_PROP_FOCUS_METERING_MODE, FOTEX_FOCUSMETERING_MULTISPOT, "Multi-spot"},
    {FOTEX_PROP_CAPTURE_MODE, FOTEX_CAPTUREMODE_NORMAL, "Normal"},
    {FOTEX_PROP_CAPTURE_MODE, FOTEX_CAPTUREMODE_BURST, "Burst"},
    {FOTEX_PROP_CAPTURE_MODE, FOTEX_CAPTUREMODE_TIMELAPSE, "Time-lapse"},
    {FOTEX_PROP_EFFECT_MODE, FOTEX_EFFECTMODE_STANDARD, "Standard"},
    {FOTEX_PROP_EFFECT_MODE, FOTEX_EFFECTMODE_BW, "Black and white"},
    {FOTEX_PROP_EFFECT_MODE, FOTEX_EFFECTMODE_SEPIA, "Sepia"},
    {FOTEX_PROP_POWER_MODE, FOTEX_POWERMODE_LINE, "Line"},
    {FOTEX_PROP_POWER_MODE, FOTEX_POWERMODE_BATTERY, "Battery"},
};

// ASCII text widened into the host's buffer, with the rule of PutUtf16.
int PutAscii(void* out, int bytes, const char* text, size_t units) {
    if (bytes < 0 || (units + 1) * sizeof(WCHAR) > static_cast<size_t>(bytes)) return FOTEX_E_INSUFFICIENT_BUFFER;
    auto* to = static_cast<WCHAR*>(out);
    for (size_t u = 0; u < units; ++u) to[u] = static_cast<WCHAR>(text[u]);
    to[units] = 0;
    return FOTEX_OK;
}

// A short text built in place; 32 units hold the longest value text. Kept out of line: inlined
// in every format it would make the DLL larger, not the call measurably faster.
class Text {
public:
    [[gnu::noinline]] Text& Add(const WCHAR* part) {
        while (*part != 0 && n_ < kUnits) units_[n_++] = *part++;
        return *this;
    }
    [[gnu::noinline]] Text& Add(unsigned long long number) {
        WCHAR digits[24];
        int d = 0;
        do digits[d++] = static_cast<WCHAR>(L'0' + number % 10);
        while ((number /= 10) != 0);
        while (d > 0 && n_ < kUnits) units_[n_++] = digits[--d];
        return *this;
    }
    int Put(void* out, int bytes) const { return PutUtf16(out, bytes, units_, n_); }

private:
    static constexpr size_t kUnits = 32;
    WCHAR units_[kUnits];
    size_t n_ = 0;
};

// WIA_DPC_FNUMBER is documented in hundredths: 280 is f/2.8.
int PutFNumber(int value, void* out, int bytes) {
    if (value <= 0) return FOTEX_E_NOT_FOUND;
    Text t;
    t.Add(L"f/").Add(static_cast<unsigned long long>(value / 100));
    const int hundredths = value % 100;
    if (hundredths % 10 == 0 && hundredths != 0) t.Add(L".").Add(static_cast<unsigned long long>(hundredths / 10));
    else if (hundredths != 0) t.Add(hundredths < 10 ? L".0" : L".").Add(static_cast<unsigned long long>(hundredths));
    return t.Put(out, bytes);
}

// WIA_DPC_EXPOSURE_TIME is documented in ten-thousandths of a second. Times from 0.3 s up are
// read in seconds to a tenth, shorter ones as the nearest fraction 1/N.
int PutExposureTime(int value, void* out, int bytes) {
    if (value <= 0) return FOTEX_E_NOT_FOUND;
    Text t;
    if (value >= 3000) {
        const unsigned long long tenths = (static_cast<unsigned long long>(value) + 500) / 1000;
        t.Add(tenths / 10);
        if (tenths % 10 != 0) t.Add(L".").Add(tenths % 10);
    } else {
        t.Add(L"1/").Add(static_cast<unsigned long long>((10000 + value / 2) / value));
    }
    return t.Add(L" s").Put(out, bytes);
}

// WIA_DPC_EXPOSURE_COMP is documented in thousandths of a stop (EV); read to a tenth, with a
// sign unless it rounds to 0.
int PutExposureComp(int value, void* out, int bytes) {
    const long long v = value;
    const unsigned long long tenths = static_cast<unsigned long long>((v < 0 ? -v : v) + 50) / 100;
    Text t;
    if (tenths != 0) t.Add(v < 0 ? L"-" : L"+");
    return t.Add(tenths / 10).Add(L".").Add(tenths % 10).Add(L" EV").Put(out, bytes);
}

WCHAR Folded(WCHAR c) { return c >= L'A' && c <= L'Z' ? static_cast<WCHAR>(c - L'A' + L'a') : c; }

bool SameIgnoringCase(const char* ours, const WCHAR* theirs) {
    for (; *ours != 0 && *theirs != 0; ++ours, ++theirs)
        if (Folded(static_cast<WCHAR>(*ours)) != Folded(*theirs)) return false;
    return *ours == 0 && *theirs == 0;
}

bool IsDigit(WCHAR c) { return c >= L'0' && c <= L'9'; }

// "f/2.8" as 280: any plain decimal that is a whole number of hundredths above 0, so "f/5.600"
// and "f/8." are taken; "f/2.888" is no f-number a camera keeps.
bool ParseFNumber(const WCHAR* name, int* value) {
    if (Folded(name[0]) != L'f' || name[1] != L'/' || !IsDigit(name[2])) return false;
    const WCHAR* p = name + 2;
    long long hundredths = 0;
    for (; IsDigit(*p); ++p) {
        hundredths = hundredths * 10 + (*p - L'0');
        if (hundredths > INT_MAX) return false;
    }
    hundredths *= 100;
    if (*p == L'.') {
        ++p;
        if (IsDigit(*p)) hundredths += 10 * (*p++ - L'0');
        if (IsDigit(*p)) hundredths += *p++ - L'0';
        while (*p == L'0') ++p;
    }
    if (*p != 0 || hundredths <= 0 || hundredths > INT_MAX) return false;
    *value = static_cast<int>(hundredths);
    return true;
}

}  // namespace

}  // namespace fotex

using namespace fotex;

extern "C" int FOTEX_CALL DescribeSetting(int property_id, void* label, int bytes) {
    if (label == nullptr) return FOTEX_E_POINTER;
    for (size_t i = 0; i < kLabelCount; ++i)
        if (kLabels.id[i] == property_id) {
            const size_t start = kLabels.start[i];
            return PutAscii(label, bytes, kLabels.text + start, kLabels.start[i + 1] - start);
        }
    return FOTEX_E_NOT_FOUND;
}

extern "C" int FOTEX_CALL DescribeSettingValue(int property_id, int value, void* text, int bytes) {
    if (text == nullptr) return FOTEX_E_POINTER;
    switch (property_id) {
        case FOTEX_PROP_FNUMBER: return PutFNumber(value, text, bytes);
        case FOTEX_PROP_EXPOSURE_TIME: return PutExposureTime(value, text, bytes);
        case FOTEX_PROP_EXPOSURE_COMP: return PutExposureComp(value, text, bytes);
        default: break;
    }
    for (const ValueName& n : kValueNames)
        if (n.id == property_id && n.value == value) return PutAscii(text, bytes, n.text, std::strlen(n.text));
    return FOTEX_E_NOT_FOUND;
}

extern "C" int FOTEX_CALL FindSettingValue(int property_id, const wchar_t* name, int* value) {
    if (name == nullptr || value == nullptr) return FOTEX_E_POINTER;
    if (property_id == FOTEX_PROP_FNUMBER) return ParseFNumber(name, value) ? FOTEX_OK : FOTEX_E_NOT_FOUND;
    for (const ValueName& n : kValueNames)
        if (n.id == property_id && SameIgnoringCase(n.text, name)) {
            *value = n.value;
            return FOTEX_OK;
        }
    return FOTEX_E_NOT_FOUND;
}

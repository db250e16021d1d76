// The names of settings and of their values: the service headers' names of the properties, the
// documented names of the enumerated values, and the values that carry units written as
// photographers read them. Pure tables and arithmetic: no device, no allocation.
#include "properties.h"

#include <wia.h>

#include <climits>

namespace fotex {

namespace {

struct Label {
    PROPID id;
    const WCHAR* text;
};

// Every property the service's headers name (WIA_*_STR), by the headers' own definitions.
#define FOTEX_LABEL(id) {id, id##_STR},
constexpr Label kLabels[] = {
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

constexpr bool IdsAreUnique() {
    for (const Label& a : kLabels) {
        int seen = 0;
        for (const Label& b : kLabels) seen += a.id == b.id;
        if (seen != 1) return false;
    }
    return true;
}
static_assert(IdsAreUnique(), "two names for one property id");

struct ValueName {
    PROPID id;
    int value;
    const WCHAR* text;
};

// The documented values of the enumerated camera settings.
constexpr ValueName kValueNames[] = {
    {FOTEX_PROP_FLASH_MODE, FOTEX_FLASH_AUTO, L"Auto"},
    {FOTEX_PROP_FLASH_MODE, FOTEX_FLASH_OFF, L"Off"},
    {FOTEX_PROP_FLASH_MODE, FOTEX_FLASH_FILL, L"Fill"},
    {FOTEX_PROP_FLASH_MODE, FOTEX_FLASH_REDEYE_AUTO, L"Red-eye auto"},
    {FOTEX_PROP_FLASH_MODE, FOTEX_FLASH_REDEYE_FILL, L"Red-eye fill"},
    {FOTEX_PROP_FLASH_MODE, FOTEX_FLASH_EXTERNAL_SYNC, L"External sync"},
    {FOTEX_PROP_WHITE_BALANCE, FOTEX_WHITEBALANCE_MANUAL, L"Manual"},
    {FOTEX_PROP_WHITE_BALANCE, FOTEX_WHITEBALANCE_AUTO, L"Auto"},
    {FOTEX_PROP_WHITE_BALANCE, FOTEX_WHITEBALANCE_ONEPUSH_AUTO, L"One-push auto"},
    {FOTEX_PROP_WHITE_BALANCE, FOTEX_WHITEBALANCE_DAYLIGHT, L"Daylight"},
    {FOTEX_PROP_WHITE_BALANCE, FOTEX_WHITEBALANCE_FLUORESCENT, L"Fluorescent"},
    {FOTEX_PROP_WHITE_BALANCE, FOTEX_WHITEBALANCE_TUNGSTEN, L"Tungsten"},
    {FOTEX_PROP_WHITE_BALANCE, FOTEX_WHITEBALANCE_FLASH, L"Flash"},
    {FOTEX_PROP_EXPOSURE_MODE, FOTEX_EXPOSUREMODE_MANUAL, L"Manual"},
    {FOTEX_PROP_EXPOSURE_MODE, FOTEX_EXPOSUREMODE_AUTO, L"Auto"},
    {FOTEX_PROP_EXPOSURE_MODE, FOTEX_EXPOSUREMODE_APERTURE_PRIORITY, L"Aperture priority"},
    {FOTEX_PROP_EXPOSURE_MODE, FOTEX_EXPOSUREMODE_SHUTTER_PRIORITY, L"Shutter priority"},
    {FOTEX_PROP_EXPOSURE_MODE, FOTEX_EXPOSUREMODE_PROGRAM_CREATIVE, L"Program creative"},
    {FOTEX_PROP_EXPOSURE_MODE, FOTEX_EXPOSUREMODE_PROGRAM_ACTION, L"Program action"},
    {FOTEX_PROP_EXPOSURE_MODE, FOTEX_EXPOSUREMODE_PORTRAIT, L"Portrait"},
    {FOTEX_PROP_FOCUS_MODE, FOTEX_FOCUSMODE_MANUAL, L"Manual"},
    {FOTEX_PROP_FOCUS_MODE, FOTEX_FOCUSMODE_AUTO, L"Auto"},
    {FOTEX_PROP_FOCUS_MODE, FOTEX_FOCUSMODE_MACRO_AUTO, L"Macro auto"},
    {FOTEX_PROP_EXPOSURE_METERING_MODE, FOTEX_EXPOSUREMETERING_AVERAGE, L"Average"},
    {FOTEX_PROP_EXPOSURE_METERING_MODE, FOTEX_EXPOSUREMETERING_CENTER_WEIGHT, L"Center-weighted"},
    {FOTEX_PROP_EXPOSURE_METERING_MODE, FOTEX_EXPOSUREMETERING_MULTISPOT, L"Multi-spot"},
    {FOTEX_PROP_EXPOSURE_METERING_MODE, FOTEX_EXPOSUREMETERING_CENTER_SPOT, L"Center spot"},
    {FOTEX_PROP_FOCUS_METERING_MODE, FOTEX_FOCUSMETERING_CENTER_SPOT, L"Center spot"},
    {FOTEX_PROP_FOCUS_METERING_MODE, FOTEX_FOCUSMETERING_MULTISPOT, L"Multi-spot"},
    {FOTEX_PROP_CAPTURE_MODE, FOTEX_CAPTUREMODE_NORMAL, L"Normal"},
    {FOTEX_PROP_CAPTURE_MODE, FOTEX_CAPTUREMODE_BURST, L"Burst"},
    {FOTEX_PROP_CAPTURE_MODE, FOTEX_CAPTUREMODE_TIMELAPSE, L"Time-lapse"},
    {FOTEX_PROP_EFFECT_MODE, FOTEX_EFFECTMODE_STANDARD, L"Standard"},
    {FOTEX_PROP_EFFECT_MODE, FOTEX_EFFECTMODE_BW, L"Black and white"},
    {FOTEX_PROP_EFFECT_MODE, FOTEX_EFFECTMODE_SEPIA, L"Sepia"},
    {FOTEX_PROP_POWER_MODE, FOTEX_POWERMODE_LINE, L"Line"},
    {FOTEX_PROP_POWER_MODE, FOTEX_POWERMODE_BATTERY, L"Battery"},
};

size_t Length(const WCHAR* text) {
    size_t n = 0;
    while (text[n] != 0) ++n;
    return n;
}

// A short text built in place; 32 units hold the longest value text.
class Text {
public:
    Text& Add(const WCHAR* part) {
        while (*part != 0 && n_ < kUnits) units_[n_++] = *part++;
        return *this;
    }
    Text& Add(unsigned long long number) {
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

bool SameIgnoringCase(const WCHAR* a, const WCHAR* b) {
    for (; *a != 0 && *b != 0; ++a, ++b)
        if (Folded(*a) != Folded(*b)) return false;
    return *a == *b;
}

bool IsDigit(WCHAR c) { return c >= L'0' && c <= L'9'; }

// "f/2.8" as 280: whole hundredths only, above 0.
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
        if (!IsDigit(*p)) return false;
        hundredths += 10 * (*p++ - L'0');
        if (IsDigit(*p)) hundredths += *p++ - L'0';
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
    for (const Label& l : kLabels)
        if (l.id == static_cast<PROPID>(property_id)) return PutUtf16(label, bytes, l.text, Length(l.text));
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
        if (n.id == static_cast<PROPID>(property_id) && n.value == value) return PutUtf16(text, bytes, n.text, Length(n.text));
    return FOTEX_E_NOT_FOUND;
}

extern "C" int FOTEX_CALL FindSettingValue(int property_id, const wchar_t* name, int* value) {
    if (name == nullptr || value == nullptr) return FOTEX_E_POINTER;
    if (property_id == FOTEX_PROP_FNUMBER) return ParseFNumber(name, value) ? FOTEX_OK : FOTEX_E_NOT_FOUND;
    for (const ValueName& n : kValueNames)
        if (n.id == static_cast<PROPID>(property_id) && SameIgnoringCase(n.text, name)) {
            *value = n.value;
            return FOTEX_OK;
        }
    return FOTEX_E_NOT_FOUND;
}

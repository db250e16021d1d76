// Camera settings from the command line: --list-config, --get-config NAME, --set-config NAME=VALUE.
// Names are the getters' without "Get", lower-cased (flashmode, fnumber, artist, ...).
#include <windows.h>
#include <wia.h>

#include <cctype>
#include <climits>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "commands.h"
#include "options.h"
#include "property_table.h"

namespace fotexcli {

namespace {

using IntGetter = int(FOTEX_CALL*)(FOTEX_DEVICE, int*);
using IntSetter = int(FOTEX_CALL*)(FOTEX_DEVICE, int);
using TextGetter = int(FOTEX_CALL*)(FOTEX_DEVICE, void*);
using TextSetter = int(FOTEX_CALL*)(FOTEX_DEVICE, const char*);

struct Setting {
    const char* getterName;
    int id;
    IntGetter getInt = nullptr;
    IntSetter setInt = nullptr;
    TextGetter getText = nullptr;
    TextSetter setText = nullptr;

    std::string name() const {
        std::string n = getterName + 3;  // after "Get"
        for (char& c : n) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        return n;
    }
    bool text() const { return getText != nullptr; }
    bool writable() const { return setInt != nullptr || setText != nullptr; }
};

#define CLI_SETTING_Integer(id, getter, setter) Setting{#getter, id, &::getter, &::setter, nullptr, nullptr},
#define CLI_SETTING_ReadOnly(id, getter, setter) Setting{#getter, id, &::getter, nullptr, nullptr, nullptr},
#define CLI_SETTING_Text(id, getter, setter) Setting{#getter, id, nullptr, nullptr, &::getter, &::setter},
#define CLI_SETTING(kind, id, getter, setter) CLI_SETTING_##kind(id, getter, setter)
const std::vector<Setting> kSettings = {FOTEX_PROPERTY_TABLE(CLI_SETTING)};

// The service's own names of the camera properties, for gphoto2's "Label:".
const struct {
    int id;
    const wchar_t* label;
} kLabels[] = {
    {WIA_DPC_EXPOSURE_MODE, WIA_DPC_EXPOSURE_MODE_STR}, {WIA_DPC_EXPOSURE_COMP, WIA_DPC_EXPOSURE_COMP_STR},
    {WIA_DPC_EXPOSURE_TIME, WIA_DPC_EXPOSURE_TIME_STR}, {WIA_DPC_FNUMBER, WIA_DPC_FNUMBER_STR},
    {WIA_DPC_FLASH_MODE, WIA_DPC_FLASH_MODE_STR}, {WIA_DPC_FOCUS_MODE, WIA_DPC_FOCUS_MODE_STR},
    {WIA_DPC_PAN_POSITION, WIA_DPC_PAN_POSITION_STR}, {WIA_DPC_TILT_POSITION, WIA_DPC_TILT_POSITION_STR},
    {WIA_DPC_TIMER_MODE, WIA_DPC_TIMER_MODE_STR}, {WIA_DPC_TIMER_VALUE, WIA_DPC_TIMER_VALUE_STR},
    {WIA_DPC_POWER_MODE, WIA_DPC_POWER_MODE_STR}, {WIA_DPC_BATTERY_STATUS, WIA_DPC_BATTERY_STATUS_STR},
    {WIA_DPC_THUMB_WIDTH, WIA_DPC_THUMB_WIDTH_STR}, {WIA_DPC_THUMB_HEIGHT, WIA_DPC_THUMB_HEIGHT_STR},
    {WIA_DPC_PICT_WIDTH, WIA_DPC_PICT_WIDTH_STR}, {WIA_DPC_PICT_HEIGHT, WIA_DPC_PICT_HEIGHT_STR},
    {WIA_DPC_COMPRESSION_SETTING, WIA_DPC_COMPRESSION_SETTING_STR},
    {WIA_DPC_TIMELAPSE_INTERVAL, WIA_DPC_TIMELAPSE_INTERVAL_STR}, {WIA_DPC_TIMELAPSE_NUMBER, WIA_DPC_TIMELAPSE_NUMBER_STR},
    {WIA_DPC_BURST_INTERVAL, WIA_DPC_BURST_INTERVAL_STR}, {WIA_DPC_BURST_NUMBER, WIA_DPC_BURST_NUMBER_STR},
    {WIA_DPC_EFFECT_MODE, WIA_DPC_EFFECT_MODE_STR}, {WIA_DPC_DIGITAL_ZOOM, WIA_DPC_DIGITAL_ZOOM_STR},
    {WIA_DPC_SHARPNESS, WIA_DPC_SHARPNESS_STR}, {WIA_DPC_CONTRAST, WIA_DPC_CONTRAST_STR},
    {WIA_DPC_CAPTURE_MODE, WIA_DPC_CAPTURE_MODE_STR}, {WIA_DPC_CAPTURE_DELAY, WIA_DPC_CAPTURE_DELAY_STR},
    {WIA_DPC_EXPOSURE_INDEX, WIA_DPC_EXPOSURE_INDEX_STR},
    {WIA_DPC_EXPOSURE_METERING_MODE, WIA_DPC_EXPOSURE_METERING_MODE_STR},
    {WIA_DPC_FOCUS_METERING_MODE, WIA_DPC_FOCUS_METERING_MODE_STR}, {WIA_DPC_FOCUS_DISTANCE, WIA_DPC_FOCUS_DISTANCE_STR},
    {WIA_DPC_FOCAL_LENGTH, WIA_DPC_FOCAL_LENGTH_STR}, {WIA_DPC_RGB_GAIN, WIA_DPC_RGB_GAIN_STR},
    {WIA_DPC_WHITE_BALANCE, WIA_DPC_WHITE_BALANCE_STR}, {WIA_DPC_UPLOAD_URL, WIA_DPC_UPLOAD_URL_STR},
    {WIA_DPC_ARTIST, WIA_DPC_ARTIST_STR}, {WIA_DPC_COPYRIGHT_INFO, WIA_DPC_COPYRIGHT_INFO_STR},
};

std::string Label(const Setting& s) {
    for (const auto& l : kLabels)
        if (l.id == s.id) return Utf8(l.label);
    return s.name();
}

const Setting* Find(const std::string& name) {
    for (const Setting& s : kSettings)
        if (s.name() == name) return &s;
    return nullptr;
}

std::string UnknownSetting(const std::string& name) { return "unknown setting '" + name + "' (see --list-config)"; }

std::string Why(int status) {
    switch (status) {
        case FOTEX_ERR_REFUSED: return "the camera refused";
        case FOTEX_ERR_NO_STORAGE: return "the device has no property storage";
        case FOTEX_ERR_NO_DEVICE: return "no device";
        default: return "status " + std::to_string(status);
    }
}

std::string Unreadable(int status) {
    const std::string why = status == FOTEX_ERR_REFUSED ? "the camera lacks it or refused the read" : Why(status);
    return why + " (status " + std::to_string(status) + ")";
}

// A setting's value as read. A getter that meets another type than its own succeeds without
// writing, so an output left at its preset is read again with a second preset before it counts.
struct Reading {
    bool ok = false;
    std::string text;   // the value, or why it could not be read
    bool full = false;  // a text that filled the library's buffer
};

Reading Read(Session& session, const Setting& s) {
    Reading r;
    const FOTEX_DEVICE device = session.device();
    if (s.text()) {
        unsigned char buffer[FOTEX_TEXT_BYTES];
        for (unsigned char preset : {0xFF, 0xFE}) {
            std::memset(buffer, preset, sizeof buffer);
            const int status = session.Call([&] { return s.getText(device, buffer); });
            if (status != FOTEX_OK) {
                r.text = Unreadable(status);
                return r;
            }
            if (buffer[0] != preset || buffer[1] != preset) {
                r.ok = true;
                r.text = FromUtf16(buffer, sizeof buffer, &r.full);
                return r;
            }
        }
        r.text = "the camera gave a value that is not text";
        return r;
    }
    for (int preset : {INT_MIN, INT_MAX}) {
        int value = preset;
        const int status = session.Call([&] { return s.getInt(device, &value); });
        if (status != FOTEX_OK) {
            r.text = Unreadable(status);
            return r;
        }
        if (value != preset) {
            r.ok = true;
            r.text = std::to_string(value);
            return r;
        }
    }
    r.text = "the camera gave a value that is not an integer";
    return r;
}

void NoteFull(Session& session, const Setting& s) {
    session.Note("note: " + s.name() + " fills the library's buffer (" + std::to_string(FOTEX_TEXT_BYTES / 2) +
                 " characters): the camera's text may be longer");
}

// NAME=VALUE, with blanks around the name ignored.
bool Split(const std::string& assignment, std::string& name, std::string& value) {
    const size_t eq = assignment.find('=');
    if (eq == std::string::npos) return false;
    name = Trim(assignment.substr(0, eq));
    value = assignment.substr(eq + 1);
    return true;
}

// The text as the library will send it: in the system code page, at most 127 UTF-16 units.
std::string TextProblem(const std::string& name, const std::string& text, std::string& ansi) {
    if (!ToAnsi(text, ansi))
        return "'" + text + "' cannot be sent: Fotex.dll takes text in the system code page (" + std::to_string(GetACP()) +
               "), which cannot write all of it";
    // The setters widen the text into a buffer of FOTEX_TEXT_BYTES units, terminator included.
    if (Wide(text).size() > FOTEX_TEXT_BYTES - 1)
        return "text for " + name + " is too long (at most " + std::to_string(FOTEX_TEXT_BYTES - 1) + " characters)";
    return "";
}

std::string NotANumber(const std::string& name, const std::string& text) {
    return "'" + text + "' is not a decimal number (" + name + " takes a whole number from " + std::to_string(INT_MIN) +
           " to " + std::to_string(INT_MAX) + ")";
}

}  // namespace

void PrintSettings(Session& session, const char* indent) {
    const bool parsable = session.options().parsable;
    for (const Setting& s : kSettings) {
        const Reading r = Read(session, s);
        if (r.full) NoteFull(session, s);
        if (parsable) {
            Print(TabbedLine({s.name(), s.writable() ? "rw" : "ro", r.ok ? "value" : "error", r.text}));
            continue;
        }
        std::string line = indent + s.name() + (r.ok ? " = " + r.text : ": cannot be read: " + r.text);
        if (!s.writable()) line += " (read only)";
        Print(line);
    }
}

int ListConfig(Session& session, const Action&) {
    if (!session.Open()) return kFailed;
    PrintSettings(session, "");
    return kDone;
}

std::string CheckGetConfig(const Action& action) {
    return Find(Trim(action.argument)) ? "" : UnknownSetting(Trim(action.argument));
}

int GetConfig(Session& session, const Action& action) {
    const Setting& s = *Find(Trim(action.argument));
    if (!session.Open()) return kFailed;
    const Reading r = Read(session, s);
    if (!r.ok) return Fail(s.name() + " cannot be read: " + r.text);
    if (r.full) NoteFull(session, s);
    Print("Label: " + Label(s));
    Print(std::string("Readonly: ") + (s.writable() ? "0" : "1"));
    Print("Type: TEXT");
    Print("Current: " + r.text);
    Print("END");
    return kDone;
}

std::string CheckSetConfig(const Action& action) {
    std::string name, text, ansi;
    if (!Split(action.argument, name, text)) return "--set-config needs NAME=VALUE, not '" + action.argument + "'";
    const Setting* s = Find(name);
    if (!s) return UnknownSetting(name);
    if (!s->writable()) return name + " is read only";
    int value = 0;
    if (s->text()) return TextProblem(name, text, ansi);
    return ParseDecimal(text, value) ? "" : NotANumber(name, text);
}

int SetConfig(Session& session, const Action& action) {
    std::string name, text, ansi;
    Split(action.argument, name, text);
    const Setting& s = *Find(name);
    if (!session.Open()) return kFailed;
    int status = 0;
    std::string shown = text;
    if (s.text()) {
        TextProblem(name, text, ansi);
        status = session.Call([&] { return s.setText(session.device(), ansi.c_str()); });
    } else {
        int value = 0;
        ParseDecimal(text, value);
        shown = std::to_string(value);
        status = session.Call([&] { return s.setInt(session.device(), value); });
    }
    if (status != FOTEX_OK) return Fail(Why(status) + " " + name + "=" + shown + " (status " + std::to_string(status) + ")");
    session.Progress(name + " set to " + shown);
    return kDone;
}

}  // namespace fotexcli

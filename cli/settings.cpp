// Camera settings from the command line: --list-config, --get-config NAME, --set-config NAME=VALUE.
// Names are the getters' without "Get", lower-cased (flashmode, fnumber, artist, ...).
#include <windows.h>

#include <cctype>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "commands.h"
#include "text.h"

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

#define CLI_SETTING_FOTEX_KIND_INTEGER(id, getter, setter) Setting{#getter, id, &::getter, &::setter, nullptr, nullptr},
#define CLI_SETTING_FOTEX_KIND_READ_ONLY(id, getter, setter) Setting{#getter, id, &::getter, nullptr, nullptr, nullptr},
#define CLI_SETTING_FOTEX_KIND_TEXT(id, getter, setter) Setting{#getter, id, nullptr, nullptr, &::getter, &::setter},
#define CLI_SETTING(kind, id, getter, setter) CLI_SETTING_##kind(id, getter, setter)
const std::vector<Setting> kSettings = {FOTEX_SETTINGS(CLI_SETTING)};

// A value as people say it, when the library has a name for it that leads back to it (the
// enumerations and f-numbers): whatever fotex prints can be typed back. Rounded texts such as
// exposure times stay numbers.
std::string ValueText(int id, int value) {
    wchar_t text[64];
    int back = 0;
    if (DescribeSettingValue(id, value, text, sizeof text) == FOTEX_OK && FindSettingValue(id, text, &back) == FOTEX_OK &&
        back == value)
        return Utf8(text);
    return std::to_string(value);
}

// The names a setting's values have, for messages; "" when none. A setting that names every
// small value has a scale rather than a list, shown by one example from its middle.
std::string NamesOf(int id) {
    constexpr int kProbed = 64;
    constexpr int kScaleExample = 280;
    std::string names;
    int named = 0;
    for (int v = 0; v < kProbed; ++v) {
        const std::string text = ValueText(id, v);
        if (text == std::to_string(v)) continue;
        names += (names.empty() ? "" : ", ") + text;
        ++named;
    }
    if (named >= kProbed - 1) return ValueText(id, kScaleExample) + " and the like";
    return names;
}

// A decimal number, or a name of one of the setting's values (any case, blanks around ignored).
bool ParseValue(int id, const std::string& text, int& value) {
    if (ParseDecimal(text, value)) return true;
    const std::wstring name = Wide(Trim(text));
    int found = 0;
    if (FindSettingValue(id, name.c_str(), &found) == FOTEX_OK) {
        value = found;
        return true;
    }
    // fotex has always read an f-number as any C decimal (f/4.0e0, f/2.888), to the nearest
    // hundredth; the library keeps to f-numbers as cameras write them.
    const std::string t = Trim(text);
    double f = 0;
    char rest = 0;
    if (id != FOTEX_PROP_FNUMBER || t.size() <= 2 || (t[0] != 'f' && t[0] != 'F') || t[1] != '/' ||
        std::sscanf(t.c_str() + 2, "%lf%c", &f, &rest) != 1 || !(f > 0 && f < 2e7))
        return false;
    value = static_cast<int>(f * 100 + 0.5);
    return true;
}

// What the camera says about a setting's values.
struct Choices {
    bool known = false;
    int access = FOTEX_ACCESS_READ | FOTEX_ACCESS_WRITE;
    int kind = FOTEX_CHOICES_ANY;
    std::vector<int> values;
};

Choices AskChoices(Session& session, int id) {
    Choices c;
    int nominal = 0, count = 0;
    std::vector<int> values(16);
    for (;;) {
        const int status = session.Call([&] {
            return GetSettingChoices(session.device(), id, &c.access, &c.kind, &nominal, values.data(),
                                     static_cast<int>(values.size()), &count);
        });
        if (status == FOTEX_E_MORE_DATA && count > static_cast<int>(values.size())) {
            values.resize(static_cast<size_t>(count));
            continue;
        }
        c.known = status == FOTEX_OK;
        if (c.known) c.values.assign(values.begin(), values.begin() + count);
        return c;
    }
}

// The values a list or a mask allows, at most 64 of a mask.
std::vector<int> Allowed(const Choices& c) {
    if (c.kind == FOTEX_CHOICES_LIST) return c.values;
    std::vector<int> all;
    if (c.kind != FOTEX_CHOICES_FLAGS || c.values.empty()) return all;
    const unsigned mask = static_cast<unsigned>(c.values[0]);
    unsigned sub = 0;
    do {
        all.push_back(static_cast<int>(sub));
        sub = (sub - mask) & mask;  // the next combination of the mask's bits
    } while (sub != 0 && all.size() < 64);
    return all;
}

// "" when the camera takes the value, else what it takes.
std::string Refusal(const Choices& c, int id, int value) {
    if (!c.known || c.kind == FOTEX_CHOICES_ANY) return "";
    if (c.kind == FOTEX_CHOICES_RANGE && c.values.size() == 3) {
        const int min = c.values[0], max = c.values[1], step = c.values[2];
        if (value >= min && value <= max && (step <= 0 || (static_cast<long long>(value) - min) % step == 0)) return "";
        return "from " + ValueText(id, min) + " to " + ValueText(id, max) + " in steps of " + std::to_string(step);
    }
    if (c.kind == FOTEX_CHOICES_FLAGS && !c.values.empty()) {
        if ((static_cast<unsigned>(value) & ~static_cast<unsigned>(c.values[0])) == 0) return "";
        return "the bits of " + Hex(c.values[0]) + " only";
    }
    std::string list;
    for (int v : c.values) {
        if (v == value) return "";
        const std::string text = ValueText(id, v);
        list += (list.empty() ? "" : ", ") + (text == std::to_string(v) ? text : text + " (" + std::to_string(v) + ")");
    }
    return list;
}

// The service's name of the property, for gphoto2's "Label:".
std::string Label(const Setting& s) {
    wchar_t label[128];
    return DescribeSetting(s.id, label, sizeof label) == FOTEX_OK ? Utf8(label) : s.name();
}

// The path --list-all-config prints before each setting's name.
constexpr char kSettingsPath[] = "/main/settings/";

// By its name, or by its path as --list-all-config prints it (gphoto2 takes both).
const Setting* Find(const std::string& name) {
    const size_t prefix = sizeof kSettingsPath - 1;
    const std::string shortName = name.compare(0, prefix, kSettingsPath) == 0 ? name.substr(prefix) : name;
    for (const Setting& s : kSettings)
        if (s.name() == shortName) return &s;
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

// Sends the value (a number or a name of one) to the setting; reports what happened.
int SetValue(Session& session, const Setting& s, const std::string& name, const std::string& text);

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

namespace {

// A setting in gphoto2's layout, from "Label:" to "END".
int ShowConfig(Session& session, const Setting& s) {
    const Reading r = Read(session, s);
    if (!r.ok) return Fail(s.name() + " cannot be read: " + r.text);
    if (r.full) NoteFull(session, s);
    const Choices c = AskChoices(session, s.id);
    const std::vector<int> allowed = Allowed(c);
    const bool toggle = c.kind == FOTEX_CHOICES_LIST && allowed == std::vector<int>{0, 1};
    const char* type = s.text() || !c.known || c.kind == FOTEX_CHOICES_ANY || (c.kind == FOTEX_CHOICES_FLAGS && allowed.empty()) ? "TEXT"
                       : c.kind == FOTEX_CHOICES_RANGE ? "RANGE"
                       : toggle ? "TOGGLE"
                                : "MENU";
    Print("Label: " + Label(s));
    Print(std::string("Readonly: ") + (s.writable() && (c.access & FOTEX_ACCESS_WRITE) ? "0" : "1"));
    Print(std::string("Type: ") + type);
    Print("Current: " + (s.text() || toggle ? r.text : ValueText(s.id, std::atoi(r.text.c_str()))));
    if (c.kind == FOTEX_CHOICES_RANGE && c.values.size() == 3 && !s.text()) {
        Print("Bottom: " + std::to_string(c.values[0]));
        Print("Top: " + std::to_string(c.values[1]));
        Print("Step: " + std::to_string(c.values[2]));
    } else if (!toggle && !s.text()) {
        for (size_t i = 0; i < allowed.size(); ++i) Print("Choice: " + std::to_string(i) + " " + ValueText(s.id, allowed[i]));
    }
    Print("END");
    return kDone;
}

}  // namespace

int GetConfig(Session& session, const Action& action) {
    const Setting& s = *Find(Trim(action.argument));
    if (!session.Open()) return kFailed;
    return ShowConfig(session, s);
}

int ListAllConfig(Session& session, const Action&) {
    if (!session.Open()) return kFailed;
    // A setting that cannot be read is named, as --list-config does, and the rest still shown.
    for (const Setting& s : kSettings) {
        Print(kSettingsPath + s.name());
        if (ShowConfig(session, s) != kDone) Print("END");
    }
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
    if (ParseValue(s->id, text, value)) return "";
    const std::string names = NamesOf(s->id);
    return names.empty() ? NotANumber(name, text)
                         : "'" + text + "' is neither a decimal number nor a value of " + name + " (" + names + ")";
}

std::string CheckSetConfigIndex(const Action& action) {
    std::string name, text;
    int index = 0;
    if (!Split(action.argument, name, text)) return "--set-config-index needs NAME=I, not '" + action.argument + "'";
    const Setting* s = Find(name);
    if (!s) return UnknownSetting(name);
    if (!s->writable() || s->text()) return name + (s->text() ? " is text, without choices" : " is read only");
    if (!ParseDecimal(text, index) || index < 0) return "--set-config-index takes a choice's number from 0, not '" + text + "'";
    return "";
}

int SetConfigIndex(Session& session, const Action& action) {
    std::string name, text;
    Split(action.argument, name, text);
    const Setting& s = *Find(name);
    int index = 0;
    ParseDecimal(text, index);
    if (!session.Open()) return kFailed;
    const std::vector<int> allowed = Allowed(AskChoices(session, s.id));
    if (static_cast<size_t>(index) >= allowed.size())
        return Fail(name + " has no choice " + std::to_string(index) + " (" + std::to_string(allowed.size()) +
                    " choices, from 0; see --get-config " + name + ")");
    return SetValue(session, s, name, std::to_string(allowed[static_cast<size_t>(index)]));
}

int SetConfig(Session& session, const Action& action) {
    std::string name, text;
    Split(action.argument, name, text);
    const Setting& s = *Find(name);
    if (!session.Open()) return kFailed;
    return SetValue(session, s, name, text);
}

namespace {

int SetValue(Session& session, const Setting& s, const std::string& name, const std::string& text) {
    std::string ansi;
    int status = 0;
    std::string shown = text;
    if (s.text()) {
        TextProblem(name, text, ansi);
        status = session.Call([&] { return s.setText(session.device(), ansi.c_str()); });
    } else {
        int value = 0;
        ParseValue(s.id, text, value);
        const std::string named = ValueText(s.id, value);
        shown = std::to_string(value) + (named == std::to_string(value) ? "" : " (" + named + ")");
        // The camera says which values it takes; say them rather than send one it refuses.
        const Choices c = AskChoices(session, s.id);
        if (c.known && !(c.access & FOTEX_ACCESS_WRITE)) return Fail(name + " is read only on this camera");
        const std::string takes = Refusal(c, s.id, value);
        if (!takes.empty()) return Fail(name + " cannot be " + shown + ": the camera takes " + takes);
        status = session.Call([&] { return s.setInt(session.device(), value); });
    }
    if (status != FOTEX_OK) return Fail(Why(status) + " " + name + "=" + shown + " (status " + std::to_string(status) + ")");
    session.Progress(name + " set to " + shown);
    return kDone;
}

}  // namespace

}  // namespace fotexcli

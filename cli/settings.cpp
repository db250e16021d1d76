// Camera settings from the command line: --list-config, --get-config NAME, --set-config NAME=VALUE.
// Names are the getters' without "Get", lower-cased (flashmode, fnumber, artist, ...).
#include <windows.h>

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "cli.h"
#include "property_table.h"

namespace fotexcli {

namespace {

using IntGetter = int(FOTEX_CALL*)(FOTEX_DEVICE, int*);
using IntSetter = int(FOTEX_CALL*)(FOTEX_DEVICE, int);
using TextGetter = int(FOTEX_CALL*)(FOTEX_DEVICE, void*);
using TextSetter = int(FOTEX_CALL*)(FOTEX_DEVICE, const char*);

struct Setting {
    const char* getterName;
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

#define CLI_SETTING_Integer(getter, setter) Setting{#getter, &::getter, &::setter, nullptr, nullptr},
#define CLI_SETTING_ReadOnly(getter, setter) Setting{#getter, &::getter, nullptr, nullptr, nullptr},
#define CLI_SETTING_Text(getter, setter) Setting{#getter, nullptr, nullptr, &::getter, &::setter},
#define CLI_SETTING(kind, id, getter, setter) CLI_SETTING_##kind(getter, setter)
const std::vector<Setting> kSettings = {FOTEX_PROPERTY_TABLE(CLI_SETTING)};

const Setting* Find(const std::string& name) {
    for (const Setting& s : kSettings)
        if (s.name() == name) return &s;
    return nullptr;
}

std::string Why(int status) {
    switch (status) {
        case -1: return "the camera refused";
        case -2: return "the device has no property storage";
        case -3: return "no device";
        default: return "status " + std::to_string(status);
    }
}

std::string Unreadable(int status) {
    const std::string why = status == -1 ? "the camera lacks it or refused the read" : Why(status);
    return "cannot be read: " + why + " (status " + std::to_string(status) + ")";
}

// The setting's value as text, or why it could not be read. A getter that meets another type
// than its own succeeds without writing, so an output left at its preset is read again with a
// second preset before it counts as the value.
bool Read(const Setting& s, FOTEX_DEVICE device, std::string& out) {
    if (s.text()) {
        unsigned char buffer[FOTEX_TEXT_BYTES];
        for (unsigned char preset : {0xFF, 0xFE}) {
            std::memset(buffer, preset, sizeof buffer);
            const int status = s.getText(device, buffer);
            if (status != 1) {
                out = Unreadable(status);
                return false;
            }
            if (buffer[0] != preset || buffer[1] != preset) {
                out = FromUtf16(buffer);
                return true;
            }
        }
        out = "cannot be read: the camera gave a value that is not text";
        return false;
    }
    for (int preset : {INT_MIN, INT_MAX}) {
        int value = preset;
        const int status = s.getInt(device, &value);
        if (status != 1) {
            out = Unreadable(status);
            return false;
        }
        if (value != preset) {
            out = std::to_string(value);
            return true;
        }
    }
    out = "cannot be read: the camera gave a value that is not an integer";
    return false;
}

std::string Line(const Setting& s, FOTEX_DEVICE device) {
    std::string value;
    const bool read = Read(s, device, value);
    std::string line = s.name() + (read ? " = " + value : ": " + value);
    if (!s.writable()) line += " (read only)";
    return line;
}

bool ParseInt(const std::string& text, int& value) {
    if (text.empty()) return false;
    char* end = nullptr;
    errno = 0;
    const long long v = std::strtoll(text.c_str(), &end, 0);
    if (*end != '\0' || errno == ERANGE || v < INT_MIN || v > INT_MAX) return false;
    value = static_cast<int>(v);
    return true;
}

int Get(Session& session, const std::string& name) {
    const Setting* s = Find(name);
    if (!s) return Fail("unknown setting '" + name + "' (see --list-config)");
    if (!session.Open()) return 1;
    std::string value;
    if (!Read(*s, session.device(), value)) return Fail(name + " " + value);
    std::printf("%s = %s\n", name.c_str(), value.c_str());
    return 0;
}

int Set(Session& session, const std::string& assignment) {
    const size_t eq = assignment.find('=');
    if (eq == std::string::npos) return Fail("--set-config needs NAME=VALUE, not '" + assignment + "'");
    const std::string name = assignment.substr(0, eq), text = assignment.substr(eq + 1);
    const Setting* s = Find(name);
    if (!s) return Fail("unknown setting '" + name + "' (see --list-config)");
    if (!s->writable()) return Fail(name + " is read only");
    int status = 0;
    if (s->text()) {
        // The library refuses what does not fit whole; say so rather than blame the camera.
        WCHAR wide[128];
        if (MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, wide, 128) == 0)
            return Fail("text for " + name + " is too long (at most 127 characters)");
        if (!session.Open()) return 1;
        status = s->setText(session.device(), text.c_str());
    } else {
        int value = 0;
        if (!ParseInt(text, value)) return Fail("'" + text + "' is not a number (" + name + " takes a 32-bit integer)");
        if (!session.Open()) return 1;
        status = s->setInt(session.device(), value);
    }
    if (status != 1) return Fail(Why(status) + " " + name + "=" + text + " (status " + std::to_string(status) + ")");
    std::printf("%s set to %s\n", name.c_str(), text.c_str());
    return 0;
}

}  // namespace

void PrintSettings(Session& session, const char* indent) {
    for (const Setting& s : kSettings) std::printf("%s%s\n", indent, Line(s, session.device()).c_str());
}

int Settings(Session& session, const std::string& action) {
    if (action == "list-config") {
        if (!session.Open()) return 1;
        PrintSettings(session, "");
        return 0;
    }
    const size_t blank = action.find(' ');
    const std::string verb = action.substr(0, blank), argument = action.substr(blank + 1);
    if (verb == "get-config") return Get(session, argument);
    if (verb == "set-config") return Set(session, argument);
    return Fail("unknown action " + action);
}

}  // namespace fotexcli

// The actions about the library and the device: version, devices, summary, abilities, storage,
// delete all; and the format codes.
#include <windows.h>

#include <cctype>
#include <cstdio>
#include <cstring>

#include "commands.h"
#include "text.h"

namespace fotexcli {

namespace {

// The extension the library appends to a name, by the header's format codes (the header gives
// them in its comments only). Both JPEG 2000 codes get ".jpg", as the library writes them.
const struct {
    int code;
    const char* extension;
} kExtensions[] = {
    {FOTEX_FORMAT_BMP, "bmp"},  {FOTEX_FORMAT_EMF, "emf"},      {FOTEX_FORMAT_WMF, "wmf"},       {FOTEX_FORMAT_JPEG, "jpg"},
    {FOTEX_FORMAT_PNG, "png"},  {FOTEX_FORMAT_GIF, "gif"},      {FOTEX_FORMAT_TIFF, "tiff"},     {FOTEX_FORMAT_EXIF, "exif"},
    {FOTEX_FORMAT_PHOTOCD, "pcd"}, {FOTEX_FORMAT_FLASHPIX, "fpix"}, {FOTEX_FORMAT_ICO, "ico"},   {FOTEX_FORMAT_CIFF, "ciff"},
    {FOTEX_FORMAT_PICT, "pict"}, {FOTEX_FORMAT_JPEG2K, "jpg"},  {FOTEX_FORMAT_JPEG2KX, "jpg"},   {FOTEX_FORMAT_RAWRGB, "raw"},
    {FOTEX_FORMAT_AVI, "avi"},  {FOTEX_FORMAT_MPG, "mpg"},
};

// The names a user may give --format, and the extensions of camera files that name a format.
const struct {
    const char* name;
    int code;
} kSpellings[] = {
    {"bmp", FOTEX_FORMAT_BMP},      {"emf", FOTEX_FORMAT_EMF},         {"wmf", FOTEX_FORMAT_WMF},
    {"jpg", FOTEX_FORMAT_JPEG},     {"jpeg", FOTEX_FORMAT_JPEG},       {"png", FOTEX_FORMAT_PNG},
    {"gif", FOTEX_FORMAT_GIF},      {"tiff", FOTEX_FORMAT_TIFF},       {"tif", FOTEX_FORMAT_TIFF},
    {"exif", FOTEX_FORMAT_EXIF},    {"pcd", FOTEX_FORMAT_PHOTOCD},     {"fpix", FOTEX_FORMAT_FLASHPIX},
    {"ico", FOTEX_FORMAT_ICO},      {"ciff", FOTEX_FORMAT_CIFF},       {"pict", FOTEX_FORMAT_PICT},
    {"jp2", FOTEX_FORMAT_JPEG2K},   {"jpx", FOTEX_FORMAT_JPEG2KX},     {"raw", FOTEX_FORMAT_RAWRGB},
    {"avi", FOTEX_FORMAT_AVI},      {"mpg", FOTEX_FORMAT_MPG},
};

// One device's identity; notes a text that filled the library's buffer.
struct Identity {
    std::string id, name, description;
};

Identity ReadIdentity(Session& session, int index) {
    char id[FOTEX_TEXT_BYTES], name[FOTEX_TEXT_BYTES], description[FOTEX_TEXT_BYTES];
    std::memset(id, 0, sizeof id);
    std::memset(name, 0, sizeof name);
    std::memset(description, 0, sizeof description);
    session.Call([&] {
        GetWiaDeviceInfo(index, id, name, description);
        return 0;
    });
    Identity identity;
    const struct {
        const char* what;
        const char* bytes;
        std::string* text;
    } fields[] = {{"identifier", id, &identity.id}, {"name", name, &identity.name}, {"description", description, &identity.description}};
    for (const auto& f : fields) {
        bool full = false;
        *f.text = FromUtf16(f.bytes, FOTEX_TEXT_BYTES, &full);
        if (full)
            session.Note("note: the " + std::string(f.what) + " of device " + std::to_string(index) +
                         " fills the library's buffer (" + std::to_string(FOTEX_TEXT_BYTES / 2) + " characters) and may be cut");
    }
    return identity;
}

// A field of --parsable output holds no tab or line break.
std::string Field(std::string text) {
    for (char& c : text)
        if (c == '\t' || c == '\n' || c == '\r') c = ' ';
    return text;
}

std::string Pad(const std::string& text, size_t width) {
    const size_t n = Columns(text);
    return n >= width ? text : text + std::string(width - n, ' ');
}

}  // namespace

std::string DeviceIdentifier(Session& session, int index) { return ReadIdentity(session, index).id; }

std::string ExtensionOf(int format) {
    for (const auto& f : kExtensions)
        if (f.code == format) return f.extension;
    return "";
}

bool ParseFormat(const std::string& text, int& format) {
    if (ParseDecimal(text, format)) return true;
    std::string name = text.size() > 1 && text[0] == '.' ? text.substr(1) : text;
    for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    for (const auto& f : kSpellings) {
        if (name == f.name) {
            format = f.code;
            return true;
        }
    }
    return false;
}

std::string FormatNames() {
    std::string names;
    for (const auto& f : kSpellings) names += (names.empty() ? "" : " ") + std::string(f.name);
    return names;
}

std::string TabbedLine(const std::vector<std::string>& fields) {
    std::string line;
    for (size_t i = 0; i < fields.size(); ++i) line += (i ? "\t" : "") + Field(fields[i]);
    return line;
}

int Version(Session& session, const Action&) {
    char product[FOTEX_VERSION_BYTES], file[FOTEX_VERSION_BYTES], arch[FOTEX_VERSION_BYTES];
    session.Call([&] {
        VexaVersionInfo(product, file, arch);
        return 0;
    });
    Print(std::string(product) + " (file version " + file + ", " + arch + ")");
    return kDone;
}

int AutoDetect(Session& session, const Action&) {
    if (!session.List()) return kFailed;
    const int count = session.count();
    std::vector<Identity> devices;
    for (int i = 0; i < count; ++i) devices.push_back(ReadIdentity(session, i));
    if (session.options().parsable) {
        for (int i = 0; i < count; ++i) Print(TabbedLine({std::to_string(i), devices[i].name, devices[i].description, devices[i].id}));
        return kDone;
    }
    size_t name = 4, description = 11;
    for (const Identity& d : devices) {
        name = std::max(name, Columns(d.name));
        description = std::max(description, Columns(d.description));
    }
    Print(Pad("Index", 6) + Pad("Name", name + 2) + Pad("Description", description + 2) + "Identifier");
    Print(Pad("-----", 6) + Pad("----", name + 2) + Pad("-----------", description + 2) + "----------");
    for (int i = 0; i < count; ++i)
        Print(Pad(std::to_string(i), 6) + Pad(devices[i].name, name + 2) + Pad(devices[i].description, description + 2) + devices[i].id);
    if (count == 0) session.Note("no device found");
    return kDone;
}

int Summary(Session& session, const Action&) {
    if (!session.Open()) return kFailed;
    const Identity d = ReadIdentity(session, session.index());
    Print("Camera summary:");
    Print("  Device:      " + std::to_string(session.index()) + " of " + std::to_string(session.count()));
    Print("  Name:        " + d.name);
    Print("  Description: " + d.description);
    Print("  Identifier:  " + d.id);
    Print("Settings:");
    PrintSettings(session, "  ");
    return kDone;
}

int Abilities(Session& session, const Action&) {
    if (!session.Open()) return kFailed;
    int take = 0, remove = 0;
    const int count = session.Call([&] { return EnumDeviceCap(session.device(), &take, &remove); });
    if (count < 0) return Fail("cannot read the camera's commands (status " + std::to_string(count) + ")");
    const Identity d = ReadIdentity(session, session.index());
    const int others = count - (take ? 1 : 0) - (remove ? 1 : 0);
    Print("Abilities for camera             : " + d.name);
    Print("Capture choices                  : " + std::string(take ? "Image" : "Capture not supported by the camera"));
    Print("Delete all files                 : " + std::string(remove ? "yes" : "no"));
    Print("Other device commands            : " + std::to_string(others) + " (not offered by fotex)");
    return kDone;
}

int StorageInfo(Session& session, const Action&) {
    if (!session.Open()) return kFailed;
    int taken = -1, remaining = -1;
    const int status = session.Call([&] { return GetStorageInfo(session.device(), &taken, &remaining); });
    if (status != FOTEX_OK) return Fail("cannot read the storage counters (status " + std::to_string(status) + ")");
    auto text = [](int n) { return n < 0 ? std::string() : std::to_string(n); };
    if (session.options().parsable) {
        Print(TabbedLine({"taken", text(taken)}));
        Print(TabbedLine({"remaining", text(remaining)}));
        return kDone;
    }
    Print("Storage:");
    Print("  Pictures taken:      " + (taken < 0 ? std::string("unknown") : text(taken)));
    Print("  Pictures remaining:  " + (remaining < 0 ? std::string("unknown") : text(remaining)));
    return kDone;
}

int DeleteAllFiles(Session& session, const Action&) {
    if (!session.Open()) return kFailed;
    session.Call([&] {
        DeleteAll(session.device());
        return 0;
    });
    // The library reports nothing: what is left on the camera tells.
    const int left = RemainingFiles(session);
    if (left < 0) return kFailed;
    if (left > 0) return Fail("the camera did not delete all its files: " + std::to_string(left) + " left");
    session.Progress("Deleted all files on the camera");
    return kDone;
}

}  // namespace fotexcli

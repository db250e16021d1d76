// File names, folders and the never-replace rule.
#include "files.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <cwchar>

namespace fotexcli {

namespace {

bool Forbidden(wchar_t c) { return c < 0x20 || (c >= 0x7F && c <= 0x9F) || std::wcschr(L"<>:\"/\\|?*", c) != nullptr; }

// Where a device name ends in `name`, or npos when the name is none: Windows takes the part
// before the first dot, trailing blanks ignored, as the device whatever follows.
size_t DeviceNameEnd(const std::wstring& name) {
    const size_t end = std::min(name.find(L'.'), name.size());
    std::wstring base = name.substr(0, end);
    while (!base.empty() && base.back() == L' ') base.pop_back();
    static const wchar_t* const devices[] = {L"CON", L"PRN", L"AUX", L"NUL", L"CONIN$", L"CONOUT$"};
    for (const wchar_t* d : devices)
        if (_wcsicmp(base.c_str(), d) == 0) return end;
    const bool numbered = base.size() == 4 && (_wcsnicmp(base.c_str(), L"COM", 3) == 0 || _wcsnicmp(base.c_str(), L"LPT", 3) == 0);
    // Superscript digits count too.
    if (numbered && ((base[3] >= L'1' && base[3] <= L'9') || base[3] == 0xB9 || base[3] == 0xB2 || base[3] == 0xB3)) return end;
    return std::wstring::npos;
}

std::wstring FullPath(const std::wstring& path) {
    std::wstring full(MAX_PATH, L'\0');
    for (int tries = 0; tries < 3; ++tries) {
        const DWORD n = GetFullPathNameW(path.c_str(), static_cast<DWORD>(full.size()), &full[0], nullptr);
        if (n == 0) return L"";
        if (n < full.size()) {
            full.resize(n);
            return full;
        }
        full.resize(n + 1);
    }
    return L"";
}

std::string LeafOf(const std::string& path) {
    const size_t slash = path.find_last_of("\\/");
    if (slash != std::string::npos) return path.substr(slash + 1);
    // "C:name", in the drive's current folder.
    const bool drive = path.size() > 2 && path[1] == ':' && std::isalpha(static_cast<unsigned char>(path[0]));
    return drive ? path.substr(2) : path;
}

// The folder a pattern names before its first field: "..\out" for "..\out\%f", "" for "%n_%f".
std::string LiteralFolder(const std::string& pattern) { return FolderOf(pattern.substr(0, pattern.find('%'))); }

}  // namespace

std::string SafeNamePart(const std::string& part, bool extension) {
    std::wstring w = Wide(part);
    if (extension && w.size() > kMaxExtension) {
        w.resize(kMaxExtension);
        if (w.back() >= 0xD800 && w.back() <= 0xDBFF) w.pop_back();  // half a character
    }
    for (wchar_t& c : w)
        if (Forbidden(c)) c = L'_';
    if (extension && w.empty()) return "";
    // Both rules apply: "CON." made "CON._" alone is still the console.
    const size_t device = DeviceNameEnd(w);
    if (device != std::wstring::npos) w.insert(device, 1, L'_');
    if (w.empty() || w == L"." || w == L".." || w.back() == L'.' || w.back() == L' ') w += L'_';
    return Utf8(w);
}

std::string Printable(const std::string& text) {
    std::wstring w = Wide(text);
    for (wchar_t& c : w)
        if (c < 0x20 || (c >= 0x7F && c <= 0x9F)) c = L'?';
    return Utf8(w);
}

std::string CameraFilePath(const Shape& shape, const std::string& pattern, NameParts parts, std::string& why) {
    if (parts.hasCameraName) {
        parts.cameraName = SafeNamePart(parts.cameraName);
        parts.cameraFile = SafeNamePart(parts.cameraFile);
    }
    parts.extension = SafeNamePart(parts.extension, true);
    const std::string name = WithExtension(Expand(pattern, parts), parts.extension);
    const std::string path = shape.folder == "." ? name : JoinPath(shape.folder, name);
    const std::string literal = LiteralFolder(pattern);
    const std::string folder = literal.empty() ? shape.folder : shape.folder == "." ? literal : JoinPath(shape.folder, literal);
    // The file system's own reading of the path decides: it drops trailing dots and blanks, and
    // turns device names into devices.
    const std::wstring full = FullPath(Wide(path));
    std::wstring base = FullPath(Wide(folder));
    if (!base.empty() && base.back() != L'\\') base += L'\\';
    const bool inside = !full.empty() && !base.empty() && full.size() > base.size() &&
                        _wcsnicmp(full.c_str(), base.c_str(), base.size()) == 0;
    if (!inside) why = path + " lies outside " + (folder.empty() ? std::string(".") : folder);
    else if (LeafOf(path) != LeafOf(Utf8(full))) why = path + " is not a name the file system keeps as written";
    else return path;
    return "";
}

namespace {

// The fields, as gphoto2 documents them; those after kCameraFields need a file on the camera.
constexpr char kFields[] = "nCYymdHMSbBaAjIklps%" "fF:";
constexpr size_t kCameraFields = sizeof kFields - 1 - 3;

const char* const kMonths[] = {"January", "February", "March",     "April",   "May",      "June",
                               "July",    "August",   "September", "October", "November", "December"};
const char* const kDays[] = {"Sunday", "Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday"};

// The day of the week and the seconds since 1970 (the time read as local time); false for a time
// the system cannot convert.
bool WeekdayAndEpoch(const SYSTEMTIME& local, int& weekday, long long& epoch) {
    SYSTEMTIME withDay, utc;
    FILETIME file, utcFile;
    if (!SystemTimeToFileTime(&local, &file) || !FileTimeToSystemTime(&file, &withDay)) return false;
    weekday = withDay.wDayOfWeek;
    if (!TzSpecificLocalTimeToSystemTime(nullptr, &local, &utc) || !SystemTimeToFileTime(&utc, &utcFile)) return false;
    const unsigned long long ticks = (static_cast<unsigned long long>(utcFile.dwHighDateTime) << 32) | utcFile.dwLowDateTime;
    epoch = static_cast<long long>(ticks / 10000000ULL) - 11644473600LL;
    return true;
}

int DayOfYear(const SYSTEMTIME& t) {
    static const int before[] = {0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334};
    const bool leap = (t.wYear % 4 == 0 && t.wYear % 100 != 0) || t.wYear % 400 == 0;
    const int month = t.wMonth >= 1 && t.wMonth <= 12 ? t.wMonth : 1;
    return before[month - 1] + t.wDay + (leap && month > 2 ? 1 : 0);
}

// "/DCIM/100CANON" as "DCIM\100CANON", each part made safe; "" for the root.
std::string FolderField(const std::string& folder) {
    std::string out, part;
    for (size_t i = 0; i <= folder.size(); ++i) {
        if (i < folder.size() && folder[i] != '/' && folder[i] != '\\') {
            part += folder[i];
            continue;
        }
        if (!part.empty()) out += (out.empty() ? "" : "\\") + SafeNamePart(part);
        part.clear();
    }
    return out;
}

}  // namespace

std::string CheckPattern(const std::string& pattern, bool cameraName) {
    if (pattern.empty()) return "--filename needs a name";
    for (size_t i = 0; i < pattern.size(); ++i) {
        if (pattern[i] != '%') continue;
        size_t j = i + 1;
        while (j < pattern.size() && pattern[j] >= '0' && pattern[j] <= '9') ++j;
        if (j >= pattern.size()) return "--filename '" + pattern + "' ends in an unfinished %";
        // A field is padded into a small buffer: a wider one would come out cut short.
        if (j - i - 1 > 2 || (j - i - 1 == 2 && pattern.compare(i + 1, 2, "20") > 0))
            return "--filename '" + pattern + "': a field is at most 20 characters wide";
        const char c = pattern[j];
        const char* field = std::strchr(kFields, c);
        if (c == 0 || field == nullptr) return "--filename '" + pattern + "': unknown field %" + c + " (see --help)";
        if (static_cast<size_t>(field - kFields) >= kCameraFields && !cameraName)
            return "--filename '" + pattern + "': %" + c + (c == 'F' ? " (the camera folder)" : " (the camera's file name)") +
                   " has no value here";
        i = j;
    }
    return "";
}

std::string Expand(const std::string& pattern, const NameParts& parts) {
    std::string out;
    int weekday = 0;
    long long epoch = 0;
    const bool known = WeekdayAndEpoch(parts.time, weekday, epoch);
    const SYSTEMTIME& t = parts.time;
    const int month = t.wMonth >= 1 && t.wMonth <= 12 ? t.wMonth - 1 : 0;
    for (size_t i = 0; i < pattern.size(); ++i) {
        if (pattern[i] != '%') {
            out += pattern[i];
            continue;
        }
        size_t j = i + 1;
        int width = 0;
        for (; j < pattern.size() && pattern[j] >= '0' && pattern[j] <= '9'; ++j) width = width * 10 + (pattern[j] - '0');
        char number[32];
        auto two = [&](long long v, int w, bool blank = false) {
            std::snprintf(number, sizeof number, blank ? "%*lld" : "%0*lld", w, v);
            return std::string(number);
        };
        const int hour12 = t.wHour % 12 == 0 ? 12 : t.wHour % 12;
        switch (j < pattern.size() ? pattern[j] : '%') {
            case 'n': out += two(parts.number, width); break;
            case 'f': out += parts.cameraName; break;
            case ':': out += parts.cameraFile; break;
            case 'F': {
                const std::string folder = FolderField(parts.cameraFolder);
                out += folder;
                // The root has no name: "%F/%f" is then the file alone.
                if (folder.empty() && j + 1 < pattern.size() && (pattern[j + 1] == '/' || pattern[j + 1] == '\\')) ++j;
                break;
            }
            case 'C':
                // "%f.%C" without an extension is the name alone, not one ending in a dot.
                if (parts.extension.empty() && i > 0 && pattern[i - 1] == '.' && !out.empty() && out.back() == '.')
                    out.pop_back();
                out += parts.extension;
                break;
            case 'Y': out += two(t.wYear, 4); break;
            case 'y': out += two(t.wYear % 100, 2); break;
            case 'm': out += two(t.wMonth, 2); break;
            case 'd': out += two(t.wDay, 2); break;
            case 'j': out += two(DayOfYear(t), 3); break;
            case 'H': out += two(t.wHour, 2); break;
            case 'k': out += two(t.wHour, 2, true); break;
            case 'I': out += two(hour12, 2); break;
            case 'l': out += two(hour12, 2, true); break;
            case 'p': out += t.wHour < 12 ? "AM" : "PM"; break;
            case 'M': out += two(t.wMinute, 2); break;
            case 'S': out += two(t.wSecond, 2); break;
            case 's': out += two(known ? epoch : 0, 1); break;
            case 'B': out += kMonths[month]; break;
            case 'b': out += std::string(kMonths[month], 3); break;
            case 'A': out += kDays[weekday]; break;
            case 'a': out += std::string(kDays[weekday], 3); break;
            default: out += '%'; break;
        }
        i = j;
    }
    return out;
}

std::string WithExtension(const std::string& name, const std::string& extension) {
    if (extension.empty()) return name;
    const std::string dotted = "." + extension;
    if (name.size() > dotted.size() && _stricmp(name.c_str() + name.size() - dotted.size(), dotted.c_str()) == 0)
        return name.substr(0, name.size() - dotted.size()) + dotted;
    return name + dotted;
}

std::string JoinPath(const std::string& folder, const std::string& name) {
    // A folder "C:" stands for that drive's current folder, which "C:\name" would leave.
    if (folder.empty() || std::strchr(":\\/", folder.back()) != nullptr) return folder + name;
    return folder + "\\" + name;
}

std::string FolderOf(const std::string& path) {
    const size_t slash = path.find_last_of("\\/");
    return slash == std::string::npos ? "" : path.substr(0, slash == 0 ? 1 : slash);
}

bool IsFile(const std::string& path) {
    const DWORD a = GetFileAttributesW(Wide(path).c_str());
    return a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY);
}

bool MakeFolders(const std::string& folder, std::string& why, std::vector<std::string>* made) {
    if (folder.empty()) return true;
    const DWORD a = GetFileAttributesW(Wide(folder).c_str());
    if (a != INVALID_FILE_ATTRIBUTES) {
        if (a & FILE_ATTRIBUTE_DIRECTORY) return true;
        why = folder + " is a file, not a folder";
        return false;
    }
    const std::string parent = FolderOf(folder);
    // "C:" and "\\server\share" are not made; their absence shows up in CreateDirectory.
    if (!parent.empty() && parent != folder && parent.back() != ':' && !MakeFolders(parent, why, made)) return false;
    if (CreateDirectoryW(Wide(folder).c_str(), nullptr)) {
        if (made) made->push_back(folder);
    } else if (GetLastError() != ERROR_ALREADY_EXISTS) {
        why = "cannot make the folder " + folder + " (error " + std::to_string(GetLastError()) + ")";
        return false;
    }
    return true;
}

void DropMadeFolders(Session& session) {
    for (auto f = session.madeFolders.rbegin(); f != session.madeFolders.rend(); ++f) RemoveDirectoryW(Wide(*f).c_str());
    session.madeFolders.clear();
}

bool OnlyDeleteFailed(int status, const std::string& path, const std::wstring& before) {
    if (status == FOTEX_OK || status == FOTEX_E_FILE_EXISTS) return false;
    const std::wstring now = FileKey(path);
    return !now.empty() && now != before;
}

namespace {

// The names in a folder, as the file system lists them.
std::set<std::wstring> NamesIn(const std::string& folder) {
    std::set<std::wstring> names;
    WIN32_FIND_DATAW found;
    const HANDLE find = FindFirstFileW(Wide(JoinPath(folder.empty() ? "." : folder, "*")).c_str(), &found);
    if (find == INVALID_HANDLE_VALUE) return names;
    do
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) names.insert(found.cFileName);
    while (FindNextFileW(find, &found));
    FindClose(find);
    return names;
}

// Names this long may be changed on the way; shorter ones are kept by every file system here.
constexpr size_t kMayBeCut = 128;

bool ToFileTime(const SYSTEMTIME& local, FILETIME& file) {
    SYSTEMTIME utc;
    return TzSpecificLocalTimeToSystemTime(nullptr, &local, &utc) && SystemTimeToFileTime(&utc, &file);
}

unsigned long long Ticks(const FILETIME& t) { return (static_cast<unsigned long long>(t.dwHighDateTime) << 32) | t.dwLowDateTime; }

}  // namespace

Landing::Landing(const std::string& path) : path_(path) {
    watched_ = LeafOf(path).size() > kMayBeCut;
    if (watched_) before_ = NamesIn(FolderOf(path));
}

std::string Landing::Path() const {
    if (!watched_ || GetFileAttributesW(Wide(path_).c_str()) != INVALID_FILE_ATTRIBUTES) return path_;
    std::wstring got;
    for (const std::wstring& name : NamesIn(FolderOf(path_))) {
        if (before_.count(name)) continue;
        if (!got.empty()) return path_;  // more than one new name: another program's too
        got = name;
    }
    return got.empty() ? path_ : JoinPath(FolderOf(path_), Utf8(got));
}

bool ParseItemTime(const std::string& text, SYSTEMTIME& time) {
    int y, mo, d, h, mi, s;
    if (std::sscanf(text.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d", &y, &mo, &d, &h, &mi, &s) != 6) return false;
    time = SYSTEMTIME{static_cast<WORD>(y), static_cast<WORD>(mo), 0, static_cast<WORD>(d),
                      static_cast<WORD>(h), static_cast<WORD>(mi), static_cast<WORD>(s), 0};
    return true;
}

void SetFileTimeTo(const std::string& path, const SYSTEMTIME& local) {
    FILETIME time;
    if (!ToFileTime(local, time)) return;
    const HANDLE file = CreateFileW(Wide(path).c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    SetFileTime(file, nullptr, nullptr, &time);
    CloseHandle(file);
}

bool FileHasTime(const std::string& path, const SYSTEMTIME& local) {
    FILETIME want;
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!ToFileTime(local, want) || !GetFileAttributesExW(Wide(path).c_str(), GetFileExInfoStandard, &data)) return false;
    const unsigned long long a = Ticks(want), b = Ticks(data.ftLastWriteTime);
    return (a > b ? a - b : b - a) <= 20000000ULL;
}

long long FileSize(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(Wide(path).c_str(), GetFileExInfoStandard, &data)) return -1;
    return static_cast<long long>((static_cast<unsigned long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow);
}

bool InRecord(const std::string& record, const std::string& key) {
    const HANDLE file = CreateFileW(Wide(record).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    std::string text;
    char chunk[4096];
    DWORD got = 0;
    while (ReadFile(file, chunk, sizeof chunk, &got, nullptr) && got > 0) text.append(chunk, got);
    CloseHandle(file);
    return ("\n" + text).find("\n" + key + "\n") != std::string::npos;
}

bool AddToRecord(Session& session, const std::string& record, const std::string& key) {
    const HANDLE file = CreateFileW(Wide(record).c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_HIDDEN, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    const std::string line = key + "\n";
    DWORD written = 0;
    const bool ok = WriteFile(file, line.data(), static_cast<DWORD>(line.size()), &written, nullptr) && written == line.size();
    CloseHandle(file);
    if (ok && session.records.insert(PathKey(record)).second) session.Note("note: --new records the files it saves in " + record);
    return ok;
}

std::string ExistsMessage(const std::string& path) {
    return path + " exists (--force-overwrite replaces it, --skip-existing leaves it)";
}

std::wstring PathKey(const std::string& path) {
    std::wstring key = FullPath(Wide(path));
    if (key.empty()) key = Wide(path);
    if (!key.empty()) CharUpperBuffW(&key[0], static_cast<DWORD>(key.size()));
    return key;
}

std::wstring FileKey(const std::string& path) {
    struct Owner {
        HANDLE h;
        ~Owner() {
            if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
        }
    } file{CreateFileW(Wide(path).c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                       nullptr, OPEN_EXISTING, 0, nullptr)};
    BY_HANDLE_FILE_INFORMATION info;
    if (file.h == INVALID_HANDLE_VALUE || !GetFileInformationByHandle(file.h, &info)) return L"";
    // '|' never appears in a full path, so no path key can equal it.
    wchar_t key[40];
    std::swprintf(key, sizeof key / sizeof key[0], L"|%08lX|%08lX%08lX", info.dwVolumeSerialNumber, info.nFileIndexHigh,
                  info.nFileIndexLow);
    return key;
}

void Remember(Session& session, const std::string& path) {
    session.written.insert(PathKey(path));
    const std::wstring file = FileKey(path);
    if (!file.empty()) session.written.insert(file);
}

void Session::Saved(const std::string& path) {
    Remember(*this, path);
    madeFolders.clear();
    Hook("download", path);
}

bool WrittenThisRun(const Session& session, const std::string& path) {
    if (session.written.count(PathKey(path))) return true;
    // Another spelling of a saved file: its 8.3 alias, a hard link, another case.
    const std::wstring file = FileKey(path);
    return !file.empty() && session.written.count(file) > 0;
}

Target::Decision Target::Ready(Session& session, const std::string& path, Existing rule, std::string& why) {
    if (WrittenThisRun(session, path)) {
        why = path + " was saved by this run already, from another file of the same name";
        return Refuse;
    }
    if (!MakeFolders(FolderOf(path), why, &session.madeFolders)) return Refuse;
    const Decision decision = Look(path, rule, why);
    if (decision == Skip) session.Progress("Skipping existing file " + path);
    return decision;
}

Target::Decision Target::Look(const std::string& path, Existing rule, std::string& why) {
    const DWORD a = GetFileAttributesW(Wide(path).c_str());
    if (a == INVALID_FILE_ATTRIBUTES) return Write;
    if (a & FILE_ATTRIBUTE_DIRECTORY) {
        why = path + " is a folder";
        return Refuse;
    }
    if (rule == Existing::Skip) return Skip;
    if (rule == Existing::Refuse) {
        why = ExistsMessage(path);
        return Refuse;
    }
    return Write;
}

Target::Decision Target::Prepare(Existing rule, std::string& why) {
    const std::wstring path = Wide(path_);
    const Decision decision = Look(path_, rule, why);
    if (decision != Write) return decision;
    pending_ = true;
    if (GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES) return Write;
    std::wstring folder = Wide(FolderOf(path_));
    if (folder.empty()) folder = L".";
    wchar_t aside[MAX_PATH];
    if (!GetTempFileNameW(folder.c_str(), L"ftx", 0, aside)) aside[0] = 0;
    if (!aside[0] || !MoveFileExW(path.c_str(), aside, MOVEFILE_REPLACE_EXISTING)) {
        const DWORD error = GetLastError();
        if (aside[0]) DeleteFileW(aside);
        why = "cannot move " + path_ + " aside to replace it (error " + std::to_string(error) + ")";
        pending_ = false;
        return Refuse;
    }
    aside_ = aside;
    return Write;
}

void Target::Keep() {
    if (!aside_.empty()) DeleteFileW(aside_.c_str());
    aside_.clear();
    pending_ = false;
}

Target::~Target() {
    if (!pending_) return;
    // Only this program made the file since Prepare found the name free or moved the old one.
    DeleteFileW(Wide(path_).c_str());
    if (!aside_.empty()) MoveFileExW(aside_.c_str(), Wide(path_).c_str(), MOVEFILE_REPLACE_EXISTING);
}

}  // namespace fotexcli

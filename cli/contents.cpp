// What is on the camera: list, count, save chosen files or their thumbnails, delete chosen files,
// save every file, each through its own transfer. Files go by the numbers --list-files shows, from 1.
#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <algorithm>
#include <cstdio>
#include <set>
#include <iterator>
#include <map>
#include <vector>

#include "commands.h"
#include "fotexsim_api.h"
#include "files.h"
#include "progress.h"
#include "text.h"

namespace fotexcli {

namespace {

// Lists the camera's items; reports and returns false when it cannot.
bool ListAll(Session& session, int& count) {
    if (!session.Open()) return false;
    count = 0;
    const int status = session.Call([&] { return ListCameraItems(session.device(), &count); });
    session.cameraNames.clear();
    session.listed = status == FOTEX_OK ? count : 0;
    if (status == FOTEX_OK) return true;
    Fail("cannot list the files on the camera: " + StatusText(status));
    return false;
}

// A text of the listed item at `index`, any length; "" and the status when it cannot be read.
std::string ItemText(Session& session, int index, int what, int* failure = nullptr) {
    std::vector<wchar_t> text(256);
    for (;;) {
        const int bytes = static_cast<int>(text.size() * sizeof(wchar_t));
        const int status = session.Call([&] { return GetCameraItemText(session.device(), index, what, text.data(), bytes); });
        if (status == FOTEX_OK) return Utf8(text.data());
        if (status != FOTEX_E_INSUFFICIENT_BUFFER || text.size() >= (1u << 16)) {
            if (failure) *failure = status;
            return "";
        }
        text.resize(text.size() * 2);
    }
}

int ItemValue(Session& session, int index, int what, int fallback) {
    int value = fallback;
    const int status = session.Call([&] { return GetCameraItemValue(session.device(), index, what, &value); });
    return status == FOTEX_OK ? value : fallback;
}

bool SameFolder(const std::string& a, const std::string& b) { return lstrcmpiA(a.c_str(), b.c_str()) == 0; }

// Whether a file of `folder` is one --folder and --no-recurse take.
bool Chosen(const Options& o, const std::string& folder) {
    if (SameFolder(folder, o.cameraFolder)) return true;
    if (!o.recurse) return false;
    const std::string under = o.cameraFolder == "/" ? "/" : o.cameraFolder + "/";
    return folder.size() > under.size() && SameFolder(folder.substr(0, under.size()), under);
}

// A file as the actions number it: its index in the library's list, and its number from 1.
struct File {
    int index, number;
};

// Lists the camera and picks the files of --folder; reports and returns false when it cannot list
// them, or when the folder is not on the camera.
bool ListItems(Session& session, std::vector<File>& files) {
    int count = 0;
    if (!ListAll(session, count)) return false;
    files.clear();
    for (int i = 0; i < count; ++i) {
        const std::string folder = FolderOfFullName(ItemText(session, i, FOTEX_ITEM_FULL_NAME));
        if (Chosen(session.options(), folder)) files.push_back({i, static_cast<int>(files.size()) + 1});
    }
    if (session.options().cameraFolder == "/" || !files.empty()) return true;
    // A folder without pictures: the camera says whether it is there.
    const std::string id = DeviceIdentifier(session, session.index());
    std::string name = id.substr(id.rfind('\\') + 1) + "\\Root" + session.options().cameraFolder;
    for (char& c : name)
        if (c == '/') c = '\\';
    FOTEX_ITEM item = 0;
    const std::wstring wide = Wide(name);
    const int status = session.Call([&] { return FindCameraItem(session.device(), wide.c_str(), &item); });
    int type = 0;
    if (status == FOTEX_OK) session.Call([&] { return GetItemValue(item, FOTEX_ITEM_TYPE, &type); });
    session.Call([&] {
        ReleaseCameraItem(&item);
        return 0;
    });
    if (status == FOTEX_OK && (type & FOTEX_ITEM_FOLDER)) return true;
    // gphoto2 says "Directory not found" for a file as for nothing.
    Fail("there is no folder " + session.options().cameraFolder + " on the camera" +
         (status == FOTEX_OK ? std::string(": it is a file") : std::string()) +
         " (see --list-folders): --folder names a camera folder; a folder here for the files goes in --filename "
         "(--filename \"out\\%f.%C\")");
    return false;
}

// The library gives the name, then "." and the extension: ".jpg" is an empty name's.
std::string WithoutExtension(const std::string& name) {
    const size_t dot = name.rfind('.');
    return dot == std::string::npos ? name : name.substr(0, dot);
}

std::string ExtensionOfName(const std::string& name) {
    const size_t dot = name.rfind('.');
    return dot == std::string::npos ? "" : name.substr(dot + 1);
}

// The path a listed item is saved under, with what its pattern needs; "" and why when refused.
std::string FileNameFor(Session& session, File file, const Shape& shape, const std::string& pattern, bool thumbnail,
                        const std::string& cameraName, const std::string& extension, std::string& why) {
    NameParts parts;
    parts.number = file.number + session.options().fileNumber - 1;
    parts.cameraName = WithoutExtension(cameraName);
    parts.cameraFile = cameraName;
    parts.cameraFolder = FolderOfFullName(ItemText(session, file.index, FOTEX_ITEM_FULL_NAME));
    parts.hasCameraName = true;
    if (!ParseItemTime(ItemText(session, file.index, FOTEX_ITEM_TIME), parts.time)) GetLocalTime(&parts.time);
    parts.extension = thumbnail ? "bmp" : extension;
    return CameraFilePath(shape, pattern, parts, why);
}

// The MIME type of a file, by its extension as cameras write them.
std::string MimeType(const std::string& extension, const char* kind) {
    static const struct {
        const char* extension;
        const char* type;
    } kTypes[] = {
        {"jpg", "image/jpeg"},  {"jpeg", "image/jpeg"},       {"png", "image/png"},          {"bmp", "image/bmp"},
        {"gif", "image/gif"},   {"tif", "image/tiff"},        {"tiff", "image/tiff"},        {"avi", "video/x-msvideo"},
        {"mpg", "video/mpeg"},  {"mpeg", "video/mpeg"},       {"mp4", "video/mp4"},          {"mov", "video/quicktime"},
        {"heic", "image/heic"}, {"dng", "image/x-adobe-dng"}, {"cr2", "image/x-canon-cr2"},  {"nef", "image/x-nikon-nef"},
        {"arw", "image/x-sony-arw"},
    };
    for (const auto& t : kTypes)
        if (lstrcmpiA(extension.c_str(), t.extension) == 0) return t.type;
    return std::string(kind) + "/unknown";
}

// The transfer format: --format when given, else the camera's own, as gphoto2 downloads.
int FormatFor(const Shape& shape) { return shape.given & kFormat ? shape.format : FOTEX_FORMAT_NATIVE; }

// The extension of a file saved in `format`: the camera's own extension for its own format, or
// the one of the item's format when the camera gives its name none.
std::string SavedExtension(Session& session, int index, int format, const std::string& cameraName) {
    if (format != FOTEX_FORMAT_NATIVE) return ExtensionOf(format);
    const std::string own = ExtensionOfName(cameraName);
    return own.empty() ? ExtensionOf(ItemValue(session, index, FOTEX_ITEM_FORMAT, FOTEX_FORMAT_NONE)) : SafeNamePart(own, true);
}

// --get-all-files' own names: folder\prefix and a number right-aligned in eight places, images
// and videos numbered apart from 0 through the run, each item taking one whether saved or not.
std::string NumberedBase(Session& session, int index, const Shape& shape) {
    const bool video = ItemValue(session, index, FOTEX_ITEM_TYPE, 0) & FOTEX_ITEM_VIDEO;
    char number[16];
    std::snprintf(number, sizeof number, "%8d", video ? session.videosNumbered++ : session.imagesNumbered++);
    return shape.prefix + number;
}

// Bounds the search for a free numbered name, so that a folder that claims every name ends it.
constexpr unsigned kMaxSteps = 100000;

// The first of base.ext, base~1.ext, base~2.ext, ... from `step` on that no file and no file of
// this run holds; `step` tells which.
std::string FreeName(Session& session, const std::string& base, const std::string& extension, unsigned& step) {
    for (;; ++step) {
        const std::string path = WithExtension(step ? base + "~" + std::to_string(step) : base, extension);
        if (step >= kMaxSteps) return path;
        if (!session.written.count(PathKey(path)) && GetFileAttributesW(Wide(path).c_str()) == INVALID_FILE_ATTRIBUTES) return path;
    }
}

// A file under a pattern, with the file rules; its thumbnail; or a file under a numbered name.
enum class Save { File, Thumbnail, Numbered };

// Kept: saved, but a step after the save failed (the camera's deletion, --new's record). Gone:
// not saved because the camera went away.
enum class Saved { Yes, Skipped, No, Kept, Gone };

// The camera file behind a listed item, as --new records it: full name, size and time.
std::string CameraFileKey(Session& session, int index, Save what) {
    return ItemText(session, index, FOTEX_ITEM_FULL_NAME) + "\t" + std::to_string(ItemValue(session, index, FOTEX_ITEM_SIZE, -1)) +
           "\t" + ItemText(session, index, FOTEX_ITEM_TIME) + (what == Save::Thumbnail ? "\tthumbnail" : "");
}

// The camera files a walk of the whole camera saved (CameraFileKey), with the paths they were
// saved as: a walk begun again after the camera came back skips them.
using Done = std::map<std::string, std::string>;

Saved Unsaved(Session& session, const std::string& message) {
    DropMadeFolders(session);
    Fail(message);
    return Saved::No;
}

// The names and folders of the list the action numbered its files by, read once: listing again
// would renumber them, and a file --no-keep deleted no longer tells its name.
void KnowCameraNames(Session& session) {
    if (!session.cameraNames.empty()) return;
    for (int i = 0; i < session.listed; ++i) {
        std::wstring name = Wide(ItemText(session, i, FOTEX_ITEM_FILE_NAME));
        if (!name.empty()) CharUpperBuffW(&name[0], static_cast<DWORD>(name.size()));
        session.cameraNames.push_back({name, FolderOfFullName(ItemText(session, i, FOTEX_ITEM_FULL_NAME))});
    }
}

// Whether a file in another camera folder has the item's file name: then an existing file of
// that name may well be the other one's, and %F keeps them apart.
bool NameShared(Session& session, int index, const std::string& cameraName) {
    KnowCameraNames(session);
    std::wstring name = Wide(cameraName);
    if (!name.empty()) CharUpperBuffW(&name[0], static_cast<DWORD>(name.size()));
    const std::string folder = FolderOfFullName(ItemText(session, index, FOTEX_ITEM_FULL_NAME));
    for (size_t i = 0; i < session.cameraNames.size(); ++i)
        if (static_cast<int>(i) != index && session.cameraNames[i].first == name && !SameFolder(session.cameraNames[i].second, folder))
            return true;
    return false;
}

constexpr char kFolderHint[] = "--filename '%F/%f.%C' keeps each camera folder's files apart";

// Whether a file of the item's camera folder has its name with another extension: the other
// half of a RAW+JPEG pair, whose thumbnail thumb_%f.bmp names alike.
bool PairShared(Session& session, int index, const std::string& cameraName) {
    KnowCameraNames(session);
    std::wstring name = Wide(cameraName);
    if (!name.empty()) CharUpperBuffW(&name[0], static_cast<DWORD>(name.size()));
    const std::wstring stem = name.substr(0, name.rfind(L'.'));
    const std::string folder = FolderOfFullName(ItemText(session, index, FOTEX_ITEM_FULL_NAME));
    for (size_t i = 0; i < session.cameraNames.size(); ++i) {
        const std::wstring& other = session.cameraNames[i].first;
        if (static_cast<int>(i) != index && other != name && other.substr(0, other.rfind(L'.')) == stem &&
            SameFolder(session.cameraNames[i].second, folder))
            return true;
    }
    return false;
}

// Whether the file at `path` is the item's picture: as long as the item says (when saved in its
// own format) and with its time (where it gives one), as fotex leaves every file it saves.
bool SamePicture(Session& session, int index, int format, const std::string& path) {
    const int size = ItemValue(session, index, FOTEX_ITEM_SIZE, -1);
    if (format == FOTEX_FORMAT_NATIVE && size >= 0 && FileSize(path) != size) return false;
    SYSTEMTIME time;
    return !ParseItemTime(ItemText(session, index, FOTEX_ITEM_TIME), time) || FileHasTime(path, time);
}

// An existing file under the name a camera file is to be saved as, under the file rules: "" to
// go on (no such file, or --force-overwrite), "skip" for the same picture under
// --skip-existing, else why the save is refused.
std::string ExistingFile(Session& session, File file, const Shape& shape, int format, const std::string& cameraName,
                         const std::string& path) {
    if (WrittenThisRun(session, path))
        return path + " was saved by this run already, from another file of the same name" +
               (NameShared(session, file.index, cameraName) ? std::string("; ") + kFolderHint : std::string());
    if (shape.existing == Existing::Replace || !IsFile(path)) return "";
    const bool same = SamePicture(session, file.index, format, path);
    if (same && shape.existing == Existing::Skip) return "skip";
    if (same) return ExistsMessage(path);
    if (NameShared(session, file.index, cameraName))
        return path + " exists and holds another picture, likely the camera's other file of that name; " + kFolderHint;
    return path + " exists and holds another picture (--force-overwrite replaces it)";
}

// Saves the listed item (or its thumbnail) at `index`; failures reported. With `done`, a camera
// file it holds is skipped and each one saved is added.
Saved SaveItem(Session& session, File file, const Shape& shape, Save what, Done* done = nullptr) {
    const int index = file.index;
    const bool numbered = what == Save::Numbered;
    const std::string base = numbered ? NumberedBase(session, index, shape) : "";
    int failure = 0;
    const std::string cameraName = ItemText(session, index, FOTEX_ITEM_FILE_NAME, &failure);
    const std::string label = "#" + std::to_string(file.number) + (cameraName.empty() ? "" : " " + Printable(cameraName));
    if (failure) return Unsaved(session, "could not save " + label + ": cannot read its name: " + StatusText(failure));
    const std::string cameraFile = done ? CameraFileKey(session, index, what) : "";
    if (done && done->count(cameraFile)) {
        // This run saved it before the camera went away: it counts as saved.
        session.Progress("Skipping existing file " + done->at(cameraFile));
        return Saved::Yes;
    }
    const int format = FormatFor(shape);
    const std::string extension = SavedExtension(session, index, format, cameraName);
    std::string why, path;
    unsigned step = 0;
    // --new: a file the target folder's record lists was saved before.
    std::string key, record;
    auto savedBefore = [&](const std::string& target) {
        if (!session.options().onlyNew) return false;
        key = done ? cameraFile : CameraFileKey(session, index, what);
        record = JoinPath(FolderOf(target).empty() ? "." : FolderOf(target), kRecordName);
        if (!InRecord(record, key)) return false;
        session.Progress("Skipping " + label + ": saved before, as " + record + " says");
        return true;
    };
    if (numbered) {
        if (savedBefore(base)) return Saved::Skipped;
        // A name in use is stepped aside from, never replaced.
        path = FreeName(session, base, extension, step);
        if (!MakeFolders(FolderOf(path), why, &session.madeFolders)) return Unsaved(session, "could not save " + label + ": " + why);
    } else {
        const std::string pattern =
            !shape.filename.empty() ? shape.filename : what == Save::Thumbnail ? "thumb_%f.%C" : "%f.%C";
        path = FileNameFor(session, file, shape, pattern, what == Save::Thumbnail, cameraName, extension, why);
        if (path.empty()) return Unsaved(session, "could not save " + label + ": " + why);
        if (savedBefore(path)) return Saved::Skipped;
        why = what == Save::Thumbnail ? "" : ExistingFile(session, file, shape, format, cameraName, path);
        if (why == "skip") {
            session.Progress("Skipping existing file " + path);
            return Saved::Skipped;
        }
        if (!why.empty()) return Unsaved(session, "could not save " + label + ": " + why);
        switch (Target::Ready(session, path, shape.existing, why)) {
            case Target::Refuse:
                if (what == Save::Thumbnail && WrittenThisRun(session, path) && PairShared(session, index, cameraName))
                    why += "; --filename 'thumb_%:.bmp' keeps the halves of a pair apart";
                return Unsaved(session, "could not save " + label + ": " + why);
            case Target::Skip: return Saved::Skipped;
            case Target::Write: break;
        }
    }
    FOTEX_ITEM item = 0;
    const std::wstring before = FileKey(path);
    const int remove = what != Save::Thumbnail && !shape.keep ? FOTEX_SAVE_DELETE : 0;
    if (remove) KnowCameraNames(session);
    // Read before the save, which may delete the item.
    SYSTEMTIME time;
    const bool timed = what != Save::Thumbnail && ParseItemTime(ItemText(session, index, FOTEX_ITEM_TIME), time);
    int status = session.Call([&] { return OpenCameraItem(session.device(), index, &item); });
    if (status == FOTEX_OK) {
        const int replace = !numbered && shape.existing == Existing::Replace ? FOTEX_SAVE_REPLACE : 0;
        for (;;) {
            const std::wstring wide = Wide(path);
            TransferProgress progress(session, Printable(cameraName), ItemValue(session, index, FOTEX_ITEM_SIZE, -1));
            const Landing landing(path);
            status = session.Call([&] {
                return what == Save::Thumbnail
                           ? SaveCameraThumbnail(item, wide.c_str(), replace)
                           : SaveCameraItemWithProgress(item, wide.c_str(), format, replace | remove, TransferProgress::Report, &progress);
            });
            if (status != FOTEX_E_FILE_EXISTS) path = landing.Path();
            // Another program took the free name meanwhile: the next one.
            if (!numbered || status != FOTEX_E_FILE_EXISTS || step >= kMaxSteps) break;
            path = FreeName(session, base, extension, ++step);
        }
        session.Call([&] {
            ReleaseCameraItem(&item);
            return 0;
        });
    }
    if (status == FOTEX_E_CANCELLED) {
        // Ctrl-C: the library left no file and the item on the camera; the action names it.
        session.cancelled = true;
        DropMadeFolders(session);
        return Saved::No;
    }
    if (status == FOTEX_E_FILE_EXISTS && !numbered)
        return Unsaved(session, "could not save " + label + ": " + ExistsMessage(path));
    const bool deleteFailed = remove && OnlyDeleteFailed(status, path, before);
    if (status != FOTEX_OK && !deleteFailed) {
        const Saved unsaved = Unsaved(session, "could not save " + label + " as " + path + ": " + StatusText(status));
        return CameraGone(status) ? Saved::Gone : unsaved;
    }
    // The camera's time on the file, as gphoto2 leaves it: --skip-existing knows the picture by it.
    if (timed) SetFileTimeTo(path, time);
    session.Saved(path);
    if (done) (*done)[cameraFile] = path;
    session.Progress("Saving file as " + path);
    Saved result = Saved::Yes;
    if (deleteFailed) {
        Fail(label + " is saved as " + path + ", but the camera could not delete it: " + StatusText(status) +
             "; the picture stays on the camera");
        result = Saved::Kept;
    } else if (remove) {
        session.Progress("Deleting " + Printable(cameraName) + " from the camera");
    }
    if (!key.empty() && !AddToRecord(session, record, key)) {
        Fail(label + " is saved as " + path + ", but could not be recorded in " + record + ": a later --new saves it again");
        result = Saved::Kept;
    }
    return result;
}

// Ends an action that Ctrl-C stopped, naming the files from `next` on that it did not reach.
void Stopped(Session& session, const std::vector<File>& files, size_t next, const char* undone) {
    std::string names;
    for (size_t k = next; k < files.size(); ++k) {
        const std::string name = Printable(ItemText(session, files[k].index, FOTEX_ITEM_FILE_NAME));
        names += (names.empty() ? "" : ", ") + ("#" + std::to_string(files[k].number)) + (name.empty() ? "" : " " + name);
    }
    Fail("interrupted: " + std::to_string(files.size() - next) + (files.size() - next == 1 ? " file " : " files ") +
                    undone + (names.empty() ? "" : ": " + names));
}

// Runs `each` on every listed item the action's numbers name, until Ctrl-C; kFailed when any
// failed, was missing or was not reached.
template <class Each>
int ForNumbers(Session& session, const Action& action, const char* undone, Each each) {
    std::vector<std::pair<int, int>> ranges;
    ParseNumbers(action.argument, ranges);
    std::vector<File> listed, files;
    if (!ListItems(session, listed)) return kFailed;
    const int count = static_cast<int>(listed.size());
    bool ok = true;
    for (const auto& range : ranges) {
        for (int n = range.first; n <= range.second && n <= count; ++n) files.push_back(listed[n - 1]);
        if (range.second > count) {
            const std::string missing = range.second > std::max(range.first, count + 1)
                                            ? "files " + std::to_string(std::max(range.first, count + 1)) + "-" + std::to_string(range.second) + " are"
                                            : "file " + std::to_string(range.second) + " is";
            ok = FailItem(missing + " not on the camera (" + std::to_string(count) + " listed, from 1)");
        }
    }
    for (size_t k = 0; k < files.size(); ++k) {
        if (Interrupted()) {
            Stopped(session, files, k, undone);
            return kFailed;
        }
        ok = each(files[k]) && ok;
        if (session.cancelled) {
            Stopped(session, files, k, undone);
            return kFailed;
        }
    }
    return ok ? kDone : kFailed;
}

}  // namespace

std::string StatusText(int status) {
    wchar_t text[512] = L"";
    DescribeStatus(status, text, sizeof text);  // prints nothing
    return (text[0] ? Utf8(text) + " " : std::string()) + "(" + Hex(status) + ")";
}

std::string CheckFiles(const Action& action) {
    std::vector<std::pair<int, int>> ranges;
    if (!ParseNumbers(action.argument, ranges))
        return "--" + action.verb + " takes file numbers as --list-files shows them (3, or 1-3,7), not '" + action.argument + "'";
    return action.shape.filename.empty() ? "" : CheckPattern(action.shape.filename, true);
}

int ListFiles(Session& session, const Action&) {
    std::vector<File> files;
    if (!ListItems(session, files)) return kFailed;
    struct Row {
        std::string folder, line;
    };
    std::vector<Row> rows;
    bool ok = true;
    for (const File& file : files) {
        const int i = file.index;
        int failure = 0;
        const std::string name = ItemText(session, i, FOTEX_ITEM_FILE_NAME, &failure);
        if (failure) {
            ok = FailItem("cannot read the name of file #" + std::to_string(file.number) + ": " + StatusText(failure));
            continue;
        }
        const std::string full = ItemText(session, i, FOTEX_ITEM_FULL_NAME), time = ItemText(session, i, FOTEX_ITEM_TIME);
        const int size = ItemValue(session, i, FOTEX_ITEM_SIZE, -1);
        const char* kind = ItemValue(session, i, FOTEX_ITEM_TYPE, 0) & FOTEX_ITEM_VIDEO ? "video" : "image";
        if (session.options().parsable) {
            Print(TabbedLine({std::to_string(file.number), name, size < 0 ? "" : std::to_string(size), kind, time, full}));
            continue;
        }
        char line[512];
        const std::string kb = size < 0 ? "?" : std::to_string((size + 1023) / 1024);
        std::snprintf(line, sizeof line, "#%-5d %-27s rd %5s KB %s %s", file.number, name.c_str(), kb.c_str(),
                      MimeType(ExtensionOfName(name), kind).c_str(), time.c_str());
        rows.push_back({FolderOfFullName(full), line});
    }
    // gphoto2's layout: the files of each folder under a line naming it, folders in the order met.
    std::vector<bool> printed(rows.size(), false);
    for (size_t r = 0; r < rows.size(); ++r) {
        if (printed[r]) continue;
        std::vector<size_t> in;
        for (size_t o = r; o < rows.size(); ++o)
            if (!printed[o] && rows[o].folder == rows[r].folder) in.push_back(o);
        Print(in.size() == 1 ? "There is 1 file in folder '" + rows[r].folder + "'."
                             : "There are " + std::to_string(in.size()) + " files in folder '" + rows[r].folder + "'.");
        for (size_t o : in) {
            Print(rows[o].line);
            printed[o] = true;
        }
    }
    if (files.empty() && !session.options().parsable) Print("There is no file in folder '" + session.options().cameraFolder + "'.");
    return ok ? kDone : kFailed;
}

namespace {

std::string ParentFolder(const std::string& folder) {
    const size_t slash = folder.rfind('/');
    return slash == 0 || slash == std::string::npos ? "/" : folder.substr(0, slash);
}

// gphoto2's layout: each folder's subfolders under a line naming it, and theirs after.
void PrintFolders(const std::set<std::string>& folders, const std::string& folder, bool recurse) {
    std::vector<std::string> children;
    for (const std::string& f : folders)
        if (f != "/" && SameFolder(ParentFolder(f), folder)) children.push_back(f);
    const std::string in = " in folder '" + folder + "'.";
    Print(children.empty() ? "There are no folders" + in
                           : children.size() == 1 ? "There is 1 folder" + in : "There are " + std::to_string(children.size()) + " folders" + in);
    for (const std::string& c : children) Print(" - " + c.substr(c.rfind('/') + 1));
    if (recurse)
        for (const std::string& c : children) PrintFolders(folders, c, recurse);
}

}  // namespace

int ListFolders(Session& session, const Action&) {
    std::vector<File> files;
    int count = 0;
    if (!ListItems(session, files) || !ListAll(session, count)) return kFailed;
    // The folders that hold files, and those above them: the library lists files only.
    std::set<std::string> folders;
    for (int i = 0; i < count; ++i)
        for (std::string f = FolderOfFullName(ItemText(session, i, FOTEX_ITEM_FULL_NAME)); f != "/"; f = ParentFolder(f)) folders.insert(f);
    PrintFolders(folders, session.options().cameraFolder, session.options().recurse);
    return kDone;
}

std::string CheckShowInfo(const Action& action) {
    int number = 0;
    if (!ParseDecimal(action.argument, number) || number < 1)
        return "--show-info takes a file number as --list-files shows it, not '" + action.argument + "'";
    return "";
}

int ShowInfo(Session& session, const Action& action) {
    int number = 0;
    ParseDecimal(action.argument, number);
    std::vector<File> files;
    if (!ListItems(session, files)) return kFailed;
    if (number > static_cast<int>(files.size()))
        return Fail("file " + std::to_string(number) + " is not on the camera (" + std::to_string(files.size()) + " listed, from 1)");
    FOTEX_ITEM item = 0;
    const int opened = session.Call([&] { return OpenCameraItem(session.device(), files[number - 1].index, &item); });
    if (opened != FOTEX_OK) return Fail("cannot open file " + std::to_string(number) + ": " + StatusText(opened));
    // What the item's own handle says, as a host that keeps handles reads it.
    auto text = [&](int what) {
        wchar_t buffer[1024] = L"";
        return session.Call([&] { return GetItemText(item, what, buffer, sizeof buffer); }) == FOTEX_OK ? Utf8(buffer) : "";
    };
    auto value = [&](int what, int fallback) {
        int v = fallback;
        return session.Call([&] { return GetItemValue(item, what, &v); }) == FOTEX_OK ? v : fallback;
    };
    const std::string name = text(FOTEX_ITEM_FILE_NAME), full = text(FOTEX_ITEM_FULL_NAME), time = text(FOTEX_ITEM_TIME);
    const int size = value(FOTEX_ITEM_SIZE, -1), type = value(FOTEX_ITEM_TYPE, 0), format = value(FOTEX_ITEM_FORMAT, FOTEX_FORMAT_NONE);
    session.Call([&] {
        ReleaseCameraItem(&item);
        return 0;
    });
    const char* kind = type & FOTEX_ITEM_VIDEO ? "video" : "image";
    Print("Information on file '" + name + "' (folder '" + FolderOfFullName(full) + "'):");
    Print("File:");
    Print("  Name:        '" + name + "'");
    Print("  Mime type:   '" + MimeType(ExtensionOfName(name), kind) + "'");
    Print("  Size:        " + (size < 0 ? std::string("unknown") : std::to_string(size) + " byte(s)"));
    Print("  Time:        " + time);
    Print("  Type:        " + std::string(kind));
    Print("  Format:      " + (format < 0 ? std::string("the camera's own, which has no FOTEX_FORMAT code")
                                          : ExtensionOf(format) + " (FOTEX_FORMAT code " + std::to_string(format) + ")"));
    return kDone;
}

int NumFiles(Session& session, const Action&) {
    std::vector<File> files;
    if (!ListItems(session, files)) return kFailed;
    // As gphoto2: the folder's own files, not its subfolders'.
    const std::string& folder = session.options().cameraFolder;
    size_t own = 0;
    for (const File& file : files)
        if (SameFolder(FolderOfFullName(ItemText(session, file.index, FOTEX_ITEM_FULL_NAME)), folder)) ++own;
    const std::string count = std::to_string(own);
    Print(session.options().parsable ? count : "Number of files in folder '" + folder + "': " + count);
    return kDone;
}

namespace {

// --stdout: the file's bytes, read into memory through the library, on standard output alone.
bool WriteToStdout(Session& session, File file, const Shape& shape) {
    const std::string name = Printable(ItemText(session, file.index, FOTEX_ITEM_FILE_NAME));
    const std::string label = "#" + std::to_string(file.number) + (name.empty() ? "" : " " + name);
    FOTEX_ITEM item = 0;
    int status = session.Call([&] { return OpenCameraItem(session.device(), file.index, &item); });
    std::vector<char> data(static_cast<size_t>(std::max(1, ItemValue(session, file.index, FOTEX_ITEM_SIZE, 1))));
    int size = 0;
    // A camera's size is a hint: when the data is larger, the library says how large.
    for (int attempt = 0; status == FOTEX_OK && attempt < 2; ++attempt) {
        TransferProgress progress(session, name, static_cast<int>(data.size()));
        status = session.Call([&] {
            return ReadCameraItem(item, FormatFor(shape), data.data(), static_cast<int>(data.size()), &size, TransferProgress::Report,
                                  &progress);
        });
        if (status != FOTEX_E_INSUFFICIENT_BUFFER || size <= static_cast<int>(data.size())) break;
        data.resize(static_cast<size_t>(size));
    }
    session.Call([&] {
        ReleaseCameraItem(&item);
        return 0;
    });
    if (status == FOTEX_E_CANCELLED) {
        session.cancelled = true;
        return false;
    }
    if (status != FOTEX_OK) return FailItem("could not read " + label + ": " + StatusText(status));
    std::fflush(stdout);
    _setmode(_fileno(stdout), _O_BINARY);
    std::fwrite(data.data(), 1, static_cast<size_t>(size), stdout);
    std::fflush(stdout);
    return true;
}

}  // namespace

int GetFile(Session& session, const Action& action) {
    if (session.options().toStdout)
        return ForNumbers(session, action, "not written", [&](File file) { return WriteToStdout(session, file, action.shape); });
    return ForNumbers(session, action, "not saved", [&](File file) { return SaveItem(session, file, action.shape, Save::File) <= Saved::Skipped; });
}

int GetThumbnail(Session& session, const Action& action) {
    return ForNumbers(session, action, "not saved", [&](File file) {
        const Saved saved = SaveItem(session, file, action.shape, Save::Thumbnail);
        return saved != Saved::No && saved != Saved::Gone;
    });
}

int DeleteFiles(Session& session, const Action& action) {
    // Every handle first: deleting one renumbers nothing that is already open, and a number
    // that names no file stops the action before anything is deleted.
    std::vector<std::pair<FOTEX_ITEM, std::string>> chosen;
    int result = ForNumbers(session, action, "not deleted", [&](File file) {
        FOTEX_ITEM item = 0;
        const std::string label = "#" + std::to_string(file.number) + " " + ItemText(session, file.index, FOTEX_ITEM_FILE_NAME);
        const int status = session.Call([&] { return OpenCameraItem(session.device(), file.index, &item); });
        if (status != FOTEX_OK) return FailItem("cannot delete " + label + ": " + StatusText(status));
        chosen.push_back({item, label});
        return true;
    });
    const bool go = result == kDone && !Interrupted();
    if (!go && !chosen.empty()) Fail("nothing deleted");
    for (auto& c : chosen) {
        const int status = go ? session.Call([&] { return DeleteCameraItem(c.first); }) : FOTEX_OK;
        session.Call([&] {
            ReleaseCameraItem(&c.first);
            return 0;
        });
        if (!go) continue;
        if (status != FOTEX_OK) result = Fail("cannot delete " + c.second + ": " + StatusText(status));
        else session.Progress("Deleted " + c.second + " from the camera");
    }
    return go ? result : kFailed;
}

std::string CheckGetAllFiles(const Action& action) {
    const unsigned given = action.shape.given;
    if (given & kPrefix) {
        if (given & kFilename) return "--get-all-files takes --filename or --prefix, not both";
        if (given & kExisting)
            return "--get-all-files --prefix takes neither --force-overwrite nor --skip-existing: each file gets a "
                   "numbered name no file holds, and none is replaced";
    }
    return action.shape.filename.empty() ? "" : CheckPattern(action.shape.filename, true);
}

// Every file of --folder, or its thumbnail.
int ForAll(Session& session, const Action& action, Save what) {
    std::vector<File> files;
    if (!ListItems(session, files)) return kFailed;
    int tally[3] = {0, 0, 0};
    bool stopped = false, kept = false;
    Done done;
    // Walks begun again without a file saved in between: a camera that goes away again and again
    // before any file is through ends the download instead of walking it for ever.
    constexpr int kMaxBarrenReturns = 5;
    int barren = 0;
    size_t savedAtReturn = 0;
    for (size_t k = 0; k < files.size(); ++k) {
        if (Interrupted()) {
            Stopped(session, files, k, "not saved");
            stopped = true;
            break;
        }
        const Saved saved = SaveItem(session, files[k], action.shape, what, &done);
        // Away and back: the camera's list is made anew and walked again from the start, skipping
        // the files saved before, and counted anew.
        if (saved == Saved::Gone) {
            barren = done.size() > savedAtReturn ? 0 : barren + 1;
            savedAtReturn = done.size();
            if (barren > kMaxBarrenReturns) Fail("the camera keeps going away before a file is through");
            if (barren > kMaxBarrenReturns || !AwaitCamera(session)) {
                // The rest would each wait for it again.
                tally[2] += static_cast<int>(files.size() - k);
                break;
            }
            if (!ListItems(session, files)) return kFailed;
            k = static_cast<size_t>(-1);
            std::fill(std::begin(tally), std::end(tally), 0);
            continue;
        }
        if (session.cancelled) {
            Stopped(session, files, k, "not saved");
            stopped = true;
            break;
        }
        kept = kept || saved == Saved::Kept;
        ++tally[saved == Saved::Kept ? 0 : static_cast<int>(saved)];
    }
    const char* noun = what == Save::Thumbnail ? " thumbnails saved, " : " files saved, ";
    session.Progress(std::to_string(tally[0]) + " of " + std::to_string(files.size()) + noun + std::to_string(tally[1]) +
                     " skipped, " + std::to_string(tally[2]) + " failed");
    return tally[2] || stopped || kept ? kFailed : kDone;
}

bool CameraGone(int status) { return status == FOTEX_E_OFFLINE || status == FOTEX_E_DISCONNECTED; }

bool AwaitCamera(Session& session) {
    constexpr int kWaitSeconds = 60;
    session.Note("the camera went away; waiting for it (up to " + std::to_string(kWaitSeconds) + " s)");
    for (int tenth = 0; tenth < kWaitSeconds * 10 && !Interrupted(); ++tenth) {
        // The virtual camera pulled out (--virtual-unplug-after) or asleep (--virtual-asleep)
        // comes back after a moment.
        if (tenth == 3 && session.options().virtualCamera) {
            FotexSimSetCondition(session.options().device, FOTEXSIM_PLUG_IN_ANEW, 0);
            FotexSimSetCondition(session.options().device, FOTEXSIM_ASLEEP, 0);
        }
        int count = 0;
        // A device call opens the camera again once it is back.
        if (session.Call([&] { return ListCameraItems(session.device(), &count); }) == FOTEX_OK) {
            session.Note("the camera is back; going on");
            return true;
        }
        Sleep(100);
    }
    Fail("the camera did not come back");
    return false;
}

int GetAllFiles(Session& session, const Action& action) {
    return ForAll(session, action, action.shape.given & kPrefix ? Save::Numbered : Save::File);
}

int GetAllThumbnails(Session& session, const Action& action) { return ForAll(session, action, Save::Thumbnail); }

int RemainingFiles(Session& session) {
    int count = 0;
    return ListAll(session, count) ? count : -1;
}

}  // namespace fotexcli

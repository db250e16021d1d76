// Files the host writes: names from --filename patterns, missing folders, and the rule that a
// file is never replaced unless asked, nor lost when a transfer fails.
#pragma once

#include <windows.h>

#include <set>
#include <string>
#include <vector>

#include "cli.h"

namespace fotexcli {

// What a pattern's fields stand for.
struct NameParts {
    int number = 0;          // %n
    SYSTEMTIME time{};       // %Y %m %d %H %M %S and the other date fields
    std::string extension;   // %C, without the dot
    std::string cameraName;  // %f: the camera's file name without extension
    bool hasCameraName = false;
    std::string cameraFolder;  // %F: the camera folder, "/DCIM/100CANON"
    std::string cameraFile;    // %:: the camera's file name with its extension
};

// A part of a file name that comes from the camera (its name, an extension, the leaf of an
// event's item name), made an ordinary name that stays where it is put: characters Windows
// forbids in names and control characters become '_'; an empty part, "." or "..", a device name
// (CON, NUL.txt, COM1, ...) or one ending in a dot or a space gets a '_'. An extension keeps at
// most kMaxExtension characters, and an empty one stays empty (no extension).
constexpr size_t kMaxExtension = 16;
std::string SafeNamePart(const std::string& part, bool extension = false);

// The path a file from the camera is saved under: the pattern expanded with the camera's parts
// made safe, the extension added, inside shape.folder. "" and why when the result would lie
// outside that folder (the current one by default) joined with the folder the pattern names
// before its first field.
std::string CameraFilePath(const Shape& shape, const std::string& pattern, NameParts parts, std::string& why);

// The text with control characters shown as '?', for naming what the camera sent.
std::string Printable(const std::string& text);

// "" when the pattern can be expanded (with or without %f), else why not.
std::string CheckPattern(const std::string& pattern, bool cameraName);
std::string Expand(const std::string& pattern, const NameParts& parts);

// The name with ".extension" added unless it ends in it (any case); the library writes that
// extension whatever the name.
std::string WithExtension(const std::string& name, const std::string& extension);

// The path as the file system reads it, in capitals: the key of a name no file holds yet.
std::wstring PathKey(const std::string& path);
// The identity of the file at `path` (volume serial and file index), or "" when there is none:
// one key for all its names, 8.3 aliases and hard links included. Never equal to a PathKey.
std::wstring FileKey(const std::string& path);
// Records a file this run wrote (Session::written), under its path and its identity; call it
// once the file is there.
void Remember(Session& session, const std::string& path);
// Whether the path names a file this run wrote, under any of its names.
bool WrittenThisRun(const Session& session, const std::string& path);

// Makes the folder and its missing parents; false with the reason. `made` gets the folders made.
bool MakeFolders(const std::string& folder, std::string& why, std::vector<std::string>* made = nullptr);
// A save failed: the folders made for it (Session::madeFolders) go again, those still empty.
void DropMadeFolders(Session& session);
// A save that was to delete the item failed with `status`: whether it wrote the file all the same
// (only the camera's deletion failed), by the file's identity (FileKey) before the save. A file
// that took the name during the transfer (FOTEX_E_FILE_EXISTS) is another program's.
bool OnlyDeleteFailed(int status, const std::string& path, const std::wstring& before);
// `name` in `folder`, with no '\\' added after a folder ending in ':', '\\' or '/'.
std::string JoinPath(const std::string& folder, const std::string& name);
// The folder part of a path ("" for a bare name).
std::string FolderOf(const std::string& path);
bool IsFile(const std::string& path);

// A file about to be written. Prepare decides under the rules: a free name is written; an
// existing file is refused, skipped, or moved aside until the new one is complete (Keep) or the
// write failed (the destructor puts it back and removes what the failed write left).
class Target {
public:
    enum Decision { Write, Skip, Refuse };
    explicit Target(std::string path) : path_(std::move(path)) {}
    ~Target();
    Target(const Target&) = delete;
    Target& operator=(const Target&) = delete;

    // The decision alone, for writers that replace through the library (FOTEX_SAVE_REPLACE).
    static Decision Look(const std::string& path, Existing rule, std::string& why);
    // The same after making the file's missing folders (a folder that cannot be made refuses);
    // a skipped file is reported as progress. A file this run wrote is refused under every rule.
    static Decision Ready(Session& session, const std::string& path, Existing rule, std::string& why);
    Decision Prepare(Existing rule, std::string& why);
    // The new file is there: keep it and drop the old one.
    void Keep();
    const std::string& path() const { return path_; }

private:
    std::string path_;
    std::wstring aside_;  // the old file, while it is moved aside
    bool pending_ = false;
};

// The file system may save a file under another name than the one asked (Wine cuts a Unix name
// at 255 bytes): for a long name, the folder's names before the save tell which one it got.
class Landing {
public:
    explicit Landing(const std::string& path);
    // The path the file is saved under: the one asked when it is there, else the one new name.
    std::string Path() const;

private:
    std::string path_;
    std::set<std::wstring> before_;
    bool watched_ = false;
};

// An item's time, "2026-12-08T10:30:00", into the time fields of a pattern; false when it is not
// such a text.
bool ParseItemTime(const std::string& text, SYSTEMTIME& time);
// The camera's time of a picture (local time, as the camera keeps it) as the file's last-write
// time, as gphoto2 does; and whether a file has that time (within the two seconds FAT keeps).
void SetFileTimeTo(const std::string& path, const SYSTEMTIME& local);
bool FileHasTime(const std::string& path, const SYSTEMTIME& local);
// The file's size, or -1 when there is no such file.
long long FileSize(const std::string& path);

// --new's record of the files saved into a folder, one key a line, in that folder.
constexpr char kRecordName[] = ".fotex-saved";
bool InRecord(const std::string& record, const std::string& key);
// Adds the key; the first time a run writes a record, it says where.
bool AddToRecord(Session& session, const std::string& record, const std::string& key);

// "PATH exists (--force-overwrite replaces it, --skip-existing leaves it)".
std::string ExistsMessage(const std::string& path);

}  // namespace fotexcli

// Files the host writes: names from --filename patterns, missing folders, and the rule that a
// file is never replaced unless asked, nor lost when a transfer fails.
#pragma once

#include <windows.h>

#include <string>

#include "cli.h"

namespace fotexcli {

// What a pattern's fields stand for.
struct NameParts {
    int number = 0;          // %n
    SYSTEMTIME time{};       // %Y %m %d %H %M %S
    std::string extension;   // %C, without the dot
    std::string cameraName;  // %f: the camera's file name without extension
    bool hasCameraName = false;
};

// "" when the pattern can be expanded (with or without %f), else why not.
std::string CheckPattern(const std::string& pattern, bool cameraName);
std::string Expand(const std::string& pattern, const NameParts& parts);

// The name with ".extension" added unless it ends in it (any case); the library writes that
// extension whatever the name.
std::string WithExtension(const std::string& name, const std::string& extension);

// Makes the folder and its missing parents; false with the reason.
bool MakeFolders(const std::string& folder, std::string& why);
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
    // a skipped file is reported as progress.
    static Decision Ready(const Session& session, const std::string& path, Existing rule, std::string& why);
    Decision Prepare(Existing rule, std::string& why);
    // The new file is there: keep it and drop the old one.
    void Keep();
    const std::string& path() const { return path_; }

private:
    std::string path_;
    std::wstring aside_;  // the old file, while it is moved aside
    bool pending_ = false;
};

// "PATH exists (--force-overwrite replaces it, --skip-existing leaves it)".
std::string ExistsMessage(const std::string& path);

// Says why a name is not one the library can take, or "": at most FOTEX_MAX_FILE_NAME UTF-16
// units, and written in the system code page.
std::string LibraryNameProblem(const std::string& name, std::string& ansi);

}  // namespace fotexcli

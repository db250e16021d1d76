// File names, folders and the never-replace rule.
#include "files.h"

#include <cstdio>

namespace fotexcli {

std::string CheckPattern(const std::string& pattern, bool cameraName) {
    if (pattern.empty()) return "--filename needs a name";
    for (size_t i = 0; i < pattern.size(); ++i) {
        if (pattern[i] != '%') continue;
        size_t j = i + 1;
        while (j < pattern.size() && pattern[j] >= '0' && pattern[j] <= '9') ++j;
        if (j >= pattern.size()) return "--filename '" + pattern + "' ends in an unfinished %";
        const char c = pattern[j];
        if (c == 'f' && !cameraName) return "--filename '" + pattern + "': %f (the camera's file name) has no value here";
        if (std::string("nfCYmdHMS%").find(c) == std::string::npos)
            return "--filename '" + pattern + "': unknown field %" + c + " (see --help)";
        i = j;
    }
    return "";
}

std::string Expand(const std::string& pattern, const NameParts& parts) {
    std::string out;
    for (size_t i = 0; i < pattern.size(); ++i) {
        if (pattern[i] != '%') {
            out += pattern[i];
            continue;
        }
        size_t j = i + 1;
        int width = 0;
        for (; j < pattern.size() && pattern[j] >= '0' && pattern[j] <= '9'; ++j) width = width * 10 + (pattern[j] - '0');
        char number[32];
        auto two = [&](int v, int w) {
            std::snprintf(number, sizeof number, "%0*d", w, v);
            return std::string(number);
        };
        switch (j < pattern.size() ? pattern[j] : '%') {
            case 'n': out += two(parts.number, width); break;
            case 'f': out += parts.cameraName; break;
            case 'C': out += parts.extension; break;
            case 'Y': out += two(parts.time.wYear, 4); break;
            case 'm': out += two(parts.time.wMonth, 2); break;
            case 'd': out += two(parts.time.wDay, 2); break;
            case 'H': out += two(parts.time.wHour, 2); break;
            case 'M': out += two(parts.time.wMinute, 2); break;
            case 'S': out += two(parts.time.wSecond, 2); break;
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

std::string FolderOf(const std::string& path) {
    const size_t slash = path.find_last_of("\\/");
    return slash == std::string::npos ? "" : path.substr(0, slash == 0 ? 1 : slash);
}

bool IsFile(const std::string& path) {
    const DWORD a = GetFileAttributesW(Wide(path).c_str());
    return a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY);
}

bool MakeFolders(const std::string& folder, std::string& why) {
    if (folder.empty()) return true;
    const DWORD a = GetFileAttributesW(Wide(folder).c_str());
    if (a != INVALID_FILE_ATTRIBUTES) {
        if (a & FILE_ATTRIBUTE_DIRECTORY) return true;
        why = folder + " is a file, not a folder";
        return false;
    }
    const std::string parent = FolderOf(folder);
    // "C:" and "\\server\share" are not made; their absence shows up in CreateDirectory.
    if (!parent.empty() && parent != folder && parent.back() != ':' && !MakeFolders(parent, why)) return false;
    if (!CreateDirectoryW(Wide(folder).c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
        why = "cannot make the folder " + folder + " (error " + std::to_string(GetLastError()) + ")";
        return false;
    }
    return true;
}

std::string LibraryNameProblem(const std::string& name, std::string& ansi) {
    const size_t units = Wide(name).size();
    if (units > FOTEX_MAX_FILE_NAME)
        return "the name " + name + " is " + std::to_string(units) + " characters long; Fotex.dll takes at most " +
               std::to_string(FOTEX_MAX_FILE_NAME) + ", extension included";
    if (!ToAnsi(name, ansi))
        return "the name " + name + " cannot be written in the system code page (" + std::to_string(GetACP()) +
               "), the only one Fotex.dll takes names in";
    return "";
}

std::string ExistsMessage(const std::string& path) {
    return path + " exists (--force-overwrite replaces it, --skip-existing leaves it)";
}

Target::Decision Target::Ready(const Session& session, const std::string& path, Existing rule, std::string& why) {
    if (!MakeFolders(FolderOf(path), why)) return Refuse;
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

// fotex options over the device commands and transfers: abilities, storage, capture, download,
// delete, dialog.
#include "commands.h"

#include <windows.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>

namespace fotexcli {

const char kCommandsUsage[] =
    "  --abilities          show which commands the camera offers\n"
    "  --storage-info       show how many pictures were taken and how many fit\n"
    "  --capture-image-and-download\n"
    "                       take a picture and save it as --filename with --format's extension\n"
    "  --get-all-files      save every picture and video into --folder as PREFIX<number>.EXT\n"
    "  --delete-all-files   delete every picture and video on the camera\n"
    "  --dialog             acquire a picture through the system dialog (C:\\kalto.jpg)\n"
    "  --filename NAME      file name without extension (default capture)\n"
    "  --format F           a format code or extension: jpg, bmp, png, tiff, avi, ... (default jpg)\n"
    "  --folder DIR         folder for --get-all-files, made when missing (default .)\n"
    "  --prefix P           file-name prefix for --get-all-files (default img)\n"
    "  --keep, --no-keep    keep saved pictures on the camera, or delete them (default --keep)\n";

namespace {

struct Settings {
    std::string filename = "capture";
    int format = FOTEX_FORMAT_JPEG;
    std::string folder = ".";
    std::string prefix = "img";
    bool keep = true;
} g_settings;

// The extensions the DLL appends, by format code; the first name of a code is the one it writes.
const struct {
    const char* name;
    int code;
} kFormats[] = {
    {"bmp", 0},  {"emf", 1},  {"wmf", 2},   {"jpg", 3},   {"jpeg", 3}, {"png", 4},  {"gif", 5},
    {"tiff", 6}, {"tif", 6},  {"exif", 7},  {"pcd", 8},   {"fpix", 9}, {"ico", 10}, {"ciff", 11},
    {"pict", 12}, {"jp2", 13}, {"raw", 15}, {"avi", 128}, {"mpg", 129},
};

bool ParseFormat(const char* text, int& code) {
    char* end = nullptr;
    const long number = std::strtol(text, &end, 10);
    if (end != text && *end == '\0') {
        code = static_cast<int>(number);
        return true;
    }
    std::string name = text[0] == '.' ? text + 1 : text;
    for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    for (const auto& f : kFormats) {
        if (name == f.name) {
            code = f.code;
            return true;
        }
    }
    return false;
}

// The extension the DLL appends for a code ("" for codes it leaves the name alone for).
std::string ExtensionOf(int code) {
    if (code == 13 || code == 14) return ".jpg";
    for (const auto& f : kFormats)
        if (f.code == code) return std::string(".") + f.name;
    return "";
}

std::set<std::string> FilesIn(const std::string& folder) {
    std::set<std::string> names;
    WIN32_FIND_DATAA data;
    HANDLE find = FindFirstFileA((folder + "\\*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) return names;
    do {
        if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) names.insert(data.cFileName);
    } while (FindNextFileA(find, &data));
    FindClose(find);
    return names;
}

int Abilities(Session& session) {
    if (!session.Open()) return 1;
    int take = 0, remove = 0;
    const int count = EnumDeviceCap(session.device(), &take, &remove);
    if (count < 0) return Fail("cannot read the camera's commands (status " + std::to_string(count) + ")");
    std::printf("Abilities:\n");
    std::printf("  Take picture:      %s\n", take ? "yes" : "no");
    std::printf("  Delete all files:  %s\n", remove ? "yes" : "no");
    std::printf("  Commands offered:  %d\n", count);
    return 0;
}

int StorageInfo(Session& session) {
    if (!session.Open()) return 1;
    int taken = -1, remaining = -1;
    const int status = GetStorageInfo(session.device(), &taken, &remaining);
    if (status != 1) return Fail("cannot read the storage counters (status " + std::to_string(status) + ")");
    std::printf("Storage:\n");
    std::printf("  Pictures taken:      %s\n", taken < 0 ? "unknown" : std::to_string(taken).c_str());
    std::printf("  Pictures remaining:  %s\n", remaining < 0 ? "unknown" : std::to_string(remaining).c_str());
    return 0;
}

int CaptureAndDownload(Session& session) {
    if (!session.Open()) return 1;
    // The DLL appends the extension: a name that already ends in it would get it twice.
    std::string base = g_settings.filename;
    const std::string extension = ExtensionOf(g_settings.format);
    if (!extension.empty() && base.size() > extension.size() &&
        _stricmp(base.c_str() + base.size() - extension.size(), extension.c_str()) == 0)
        base.resize(base.size() - extension.size());
    char name[MAX_PATH + FOTEX_EXTENSION_ROOM];
    if (base.size() >= MAX_PATH) return Fail("file name too long");
    std::memcpy(name, base.c_str(), base.size() + 1);

    FOTEX_ITEM item = 0;
    TakeAPicture(session.device(), &item);
    if (item == 0) return Fail("the camera took no picture");
    std::printf("New picture taken\n");
    TransferPicture(item, name, g_settings.format, g_settings.keep ? 0 : 1);
    if (GetFileAttributesA(name) == INVALID_FILE_ATTRIBUTES) return Fail(std::string("could not save ") + name);
    std::printf("Saving file as %s\n", name);
    if (!g_settings.keep) std::printf("Deleting the picture on the camera\n");
    return 0;
}

int GetAllFiles(Session& session) {
    if (!session.Open()) return 1;
    const std::string& folder = g_settings.folder;
    if (GetFileAttributesA(folder.c_str()) == INVALID_FILE_ATTRIBUTES && !CreateDirectoryA(folder.c_str(), nullptr))
        return Fail("cannot make the folder " + folder);
    const std::set<std::string> before = FilesIn(folder);
    TransferAllImages(session.device(), folder.c_str(), g_settings.prefix.c_str(), g_settings.format,
                      g_settings.keep ? 0 : 1);
    int saved = 0;
    for (const std::string& file : FilesIn(folder)) {
        if (before.count(file)) continue;
        std::printf("Saving file as %s\\%s\n", folder.c_str(), file.c_str());
        ++saved;
    }
    std::printf("%d file%s saved in %s\n", saved, saved == 1 ? "" : "s", folder.c_str());
    return 0;
}

int DeleteAllFiles(Session& session) {
    if (!session.Open()) return 1;
    DeleteAll(session.device());
    std::printf("Asked the camera to delete all its files\n");
    return 0;
}

int Dialog(Session& session) {
    if (!session.Open()) return 1;
    const int status = ImageTransferDialog(0, session.device());
    if (status != 1) return Fail("cannot open the dialog (status " + std::to_string(status) + ")");
    std::printf("Dialog closed; the picture acquired through it is in C:\\kalto.jpg\n");
    return 0;
}

}  // namespace

int ParseCommandOption(int argc, char** argv, int& i, std::vector<std::string>& actions) {
    const std::string arg = argv[i];
    if (arg == "--abilities" || arg == "--storage-info" || arg == "--capture-image-and-download" ||
        arg == "--get-all-files" || arg == "--delete-all-files" || arg == "--dialog") {
        actions.push_back(arg.substr(2));
        return 1;
    }
    if (arg == "--keep" || arg == "--no-keep") {
        g_settings.keep = arg == "--keep";
        return 1;
    }
    std::string* text = arg == "--filename" ? &g_settings.filename
                        : arg == "--folder" ? &g_settings.folder
                        : arg == "--prefix" ? &g_settings.prefix
                                            : nullptr;
    if (text == nullptr && arg != "--format") return 0;
    if (i + 1 >= argc) {
        Fail(arg + " needs a value");
        return -1;
    }
    const char* value = argv[++i];
    if (text != nullptr) {
        *text = value;
    } else if (!ParseFormat(value, g_settings.format)) {
        Fail(std::string("unknown format ") + value);
        return -1;
    }
    return 1;
}

int RunCommandAction(const std::string& action, Session& session) {
    if (action == "abilities") return Abilities(session);
    if (action == "storage-info") return StorageInfo(session);
    if (action == "capture-image-and-download") return CaptureAndDownload(session);
    if (action == "get-all-files") return GetAllFiles(session);
    if (action == "delete-all-files") return DeleteAllFiles(session);
    if (action == "dialog") return Dialog(session);
    return -1;
}

}  // namespace fotexcli

// The folder camera: the picture and video files under a folder of the host's machine, as a
// camera shows them; subfolders are camera folders.
#include "sim_internal.h"

#include <algorithm>
#include <cwchar>
#include <map>

namespace fotexsim {

namespace wia = fotex::wia;

namespace {

struct FileKind {
    const wchar_t* extension;
    GUID format;
    LONG type;
};

// Formats WIA has no GUID for (RAW files, newer videos): each a GUID of its own, as a driver
// gives its private formats, so that a host sees an unknown format rather than a wrong one.
constexpr GUID OwnFormat(unsigned long n) { return {0xF07E5100 + n, 0x5A1D, 0x4F0E, {0x9A, 0x3C, 0x46, 0x4F, 0x54, 0x45, 0x58, 0x00}}; }

const FileKind kKinds[] = {
    {L"jpg", wia::WiaImgFmt_JPEG, wia::kItemTypeImage},  {L"jpeg", wia::WiaImgFmt_JPEG, wia::kItemTypeImage},
    {L"jpe", wia::WiaImgFmt_JPEG, wia::kItemTypeImage},  {L"png", wia::WiaImgFmt_PNG, wia::kItemTypeImage},
    {L"bmp", wia::WiaImgFmt_BMP, wia::kItemTypeImage},   {L"gif", wia::WiaImgFmt_GIF, wia::kItemTypeImage},
    {L"tif", wia::WiaImgFmt_TIFF, wia::kItemTypeImage},  {L"tiff", wia::WiaImgFmt_TIFF, wia::kItemTypeImage},
    {L"avi", wia::WiaImgFmt_AVI, wia::kItemTypeVideo},   {L"mpg", wia::WiaImgFmt_MPG, wia::kItemTypeVideo},
    {L"mpeg", wia::WiaImgFmt_MPG, wia::kItemTypeVideo},
    {L"mp4", OwnFormat(1), wia::kItemTypeVideo},         {L"m4v", OwnFormat(1), wia::kItemTypeVideo},
    {L"mov", OwnFormat(2), wia::kItemTypeVideo},         {L"mts", OwnFormat(3), wia::kItemTypeVideo},
    {L"heic", OwnFormat(4), wia::kItemTypeImage},        {L"heif", OwnFormat(4), wia::kItemTypeImage},
    {L"dng", OwnFormat(5), wia::kItemTypeImage},         {L"nef", OwnFormat(6), wia::kItemTypeImage},
    {L"nrw", OwnFormat(6), wia::kItemTypeImage},         {L"cr2", OwnFormat(7), wia::kItemTypeImage},
    {L"cr3", OwnFormat(8), wia::kItemTypeImage},         {L"crw", wia::WiaImgFmt_CIFF, wia::kItemTypeImage},
    {L"arw", OwnFormat(9), wia::kItemTypeImage},         {L"orf", OwnFormat(10), wia::kItemTypeImage},
    {L"rw2", OwnFormat(11), wia::kItemTypeImage},        {L"raf", OwnFormat(12), wia::kItemTypeImage},
    {L"pef", OwnFormat(13), wia::kItemTypeImage},        {L"srw", OwnFormat(14), wia::kItemTypeImage},
};

// Deeper than any camera's folders; a link that loops back ends here.
constexpr int kMaxFolderDepth = 32;

const FileKind* KindOf(const std::wstring& fileName) {
    const size_t dot = fileName.rfind(L'.');
    if (dot == std::wstring::npos) return nullptr;
    for (const FileKind& k : kKinds)
        if (_wcsicmp(fileName.c_str() + dot + 1, k.extension) == 0) return &k;
    return nullptr;
}

SYSTEMTIME LocalTime(const FILETIME& written) {
    FILETIME local;
    SYSTEMTIME time{};
    FileTimeToLocalFileTime(&written, &local);
    FileTimeToSystemTime(&local, &time);
    return time;
}

std::wstring Upper(std::wstring text) {
    if (!text.empty()) CharUpperBuffW(&text[0], static_cast<DWORD>(text.size()));
    return text;
}

// A file whose name without extension another item of the folder also has (the RAW+JPEG pair,
// a folder of that name) keeps its extension in its full name: the full name is the item's
// identity. Repeated until nothing collides, as "a.b" may then meet "a.b.jpg"'s name; file names
// themselves never collide, so it ends.
void KeepFullNamesApart(const Item& parent, const std::vector<std::pair<Item*, std::wstring>>& files) {
    for (bool changed = true; changed;) {
        changed = false;
        std::map<std::wstring, int> uses;
        for (const auto& c : parent.children) ++uses[Upper(KeyOf(*c))];
        for (const auto& [item, fileName] : files) {
            if (!item->key.empty() || uses[Upper(item->name)] < 2) continue;
            item->key = fileName;
            changed = true;
        }
    }
}

// The path in the form the file system takes as written: a camera's file may be named CON.JPG
// or end in a blank, which the short form turns into a device or another name.
std::wstring LongForm(const std::wstring& path) {
    if (path.compare(0, 4, L"\\\\?\\") == 0) return path;
    // A device path (\\.\C:\card) is no server: the same path, taken as written.
    if (path.compare(0, 4, L"\\\\.\\") == 0) return L"\\\\?\\" + path.substr(4);
    if (path.compare(0, 2, L"\\\\") == 0) return L"\\\\?\\UNC" + path.substr(1);
    return L"\\\\?\\" + path;
}

// Adds the files and folders of `path` under `parent`, sorted by name as a camera lists them.
HRESULT AddFolder(Item& parent, const std::wstring& path, int depth) {
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((path + L"\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND ? S_OK : HRESULT_FROM_WIN32(error);
    }
    std::vector<WIN32_FIND_DATAW> entries;
    do {
        if (found.cFileName[0] != L'.') entries.push_back(found);  // ".", ".." and hidden names
    } while (FindNextFileW(search, &found));
    FindClose(search);
    std::sort(entries.begin(), entries.end(), [](const WIN32_FIND_DATAW& a, const WIN32_FIND_DATAW& b) {
        return _wcsicmp(a.cFileName, b.cFileName) < 0;
    });

    std::vector<std::pair<Item*, std::wstring>> files;  // each file's item and file name
    for (const WIN32_FIND_DATAW& entry : entries) {
        // A drive's root (E:\, a card) ends in its separator: a second one is an empty name
        // in the long form.
        const std::wstring name = entry.cFileName, full = path + (path.back() == L'\\' ? L"" : L"\\") + name;
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            if (depth >= kMaxFolderDepth) continue;
            Item& folder = parent.Add(name, wia::kItemTypeFolder);
            folder.time = LocalTime(entry.ftLastWriteTime);
            HRESULT hr = AddFolder(folder, full, depth + 1);
            if (FAILED(hr)) return hr;
            continue;
        }
        const FileKind* kind = KindOf(name);
        if (!kind) continue;
        Item& item = parent.Add(name.substr(0, name.rfind(L'.')), kind->type | wia::kItemTypeFile);
        item.file = LongForm(full);
        item.time = LocalTime(entry.ftLastWriteTime);
        item.formats = {kind->format};
        item.props[wia::kIpaFormat].value = Value::Guid(kind->format);
        item.props[wia::kIpaPreferredFormat].value = Value::Guid(kind->format);
        files.emplace_back(&item, name);
    }
    KeepFullNamesApart(parent, files);
    return S_OK;
}

}  // namespace

HRESULT Camera::AddFolderCamera(const std::wstring& folder, const std::wstring& name, Device** added) {
    if (added) *added = nullptr;
    wchar_t full[MAX_PATH * 4];
    const DWORD length = GetFullPathNameW(folder.c_str(), MAX_PATH * 4, full, nullptr);
    if (length == 0 || length >= MAX_PATH * 4) return HRESULT_FROM_WIN32(ERROR_BAD_PATHNAME);
    std::wstring path(full, length);
    while (path.size() > 3 && path.back() == L'\\') path.pop_back();
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return HRESULT_FROM_WIN32(GetLastError());
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) return HRESULT_FROM_WIN32(ERROR_DIRECTORY);

    // Built apart and added only when complete: a folder that cannot be read changes nothing.
    Item root;
    HRESULT hr = AddFolder(root, path, 0);
    if (FAILED(hr)) return hr;

    wchar_t id[64];
    swprintf(id, 64, L"{6BDD1FC6-810F-11D0-BEC7-08002BE2092F}\\%04u", static_cast<unsigned>(devices.size()));
    Device& d = AddDevice(id, name.empty() ? L"Fotex Folder Camera" : name, L"Fotex virtual camera showing " + path);
    d.root->children = std::move(root.children);
    for (auto& c : d.root->children) c->parent = d.root.get();
    int media = 0;
    for (Item* item : ItemsOf(d))
        if (item->type & (wia::kItemTypeImage | wia::kItemTypeVideo)) ++media;
    d.root->props[wia::kDpcPicturesTaken].value = Value::Int(media);
    if (added) *added = &d;
    return S_OK;
}

}  // namespace fotexsim

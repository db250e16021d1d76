// What a camera tells about its items: names, full names, times, sizes, extensions and
// thumbnails, worked out when a host reads them; and finding an item by its full name.
#include "sim_internal.h"

#include <algorithm>
#include <cwchar>

namespace fotexsim {

namespace wia = fotex::wia;

namespace {

constexpr LONG kMedia = wia::kItemTypeImage | wia::kItemTypeVideo;
// The folder camera's thumbnails fit in this box, keeping the picture's proportions.
constexpr int kThumbBox[2] = {160, 120};

GUID CurrentFormat(const Item& item) {
    auto it = item.props.find(wia::kIpaFormat);
    return it != item.props.end() && it->second.value.type == VT_CLSID ? it->second.value.guid : wia::WiaImgFmt_JPEG;
}

bool ReadWholeFile(const std::wstring& path, std::vector<unsigned char>& bytes) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    LARGE_INTEGER size{};
    bool ok = GetFileSizeEx(file, &size) && size.QuadPart < (1LL << 30);
    if (ok) {
        bytes.resize(static_cast<size_t>(size.QuadPart));
        DWORD read = 0;
        ok = bytes.empty() || (ReadFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr) &&
                               read == bytes.size());
    }
    CloseHandle(file);
    return ok;
}

// A folder camera's thumbnail: its picture scaled into the box by averaging, once.
void MakeFileThumbnail(Item& item) {
    if (item.thumbnailMade) return;
    item.thumbnailMade = true;
    std::vector<unsigned char> file, rgb;
    int w = 0, h = 0;
    if (!(item.type & wia::kItemTypeImage) || !ReadWholeFile(item.file, file) || !DecodePicture(file, rgb, &w, &h))
        return;
    const double scale = std::min({1.0, static_cast<double>(kThumbBox[0]) / w, static_cast<double>(kThumbBox[1]) / h});
    const int tw = std::max(1, static_cast<int>(w * scale + 0.5)), th = std::max(1, static_cast<int>(h * scale + 0.5));
    std::vector<unsigned char> small(static_cast<size_t>(tw) * th * 3);
    for (int y = 0; y < th; ++y) {
        const int y0 = y * h / th, y1 = std::max(y0 + 1, (y + 1) * h / th);
        for (int x = 0; x < tw; ++x) {
            const int x0 = x * w / tw, x1 = std::max(x0 + 1, (x + 1) * w / tw);
            unsigned long sum[3] = {0, 0, 0};
            for (int sy = y0; sy < y1; ++sy)
                for (int sx = x0; sx < x1; ++sx)
                    for (int c = 0; c < 3; ++c) sum[c] += rgb[(static_cast<size_t>(sy) * w + sx) * 3 + c];
            const unsigned long n = static_cast<unsigned long>(y1 - y0) * (x1 - x0);
            for (int c = 0; c < 3; ++c) small[(static_cast<size_t>(y) * tw + x) * 3 + c] = static_cast<unsigned char>(sum[c] / n);
        }
    }
    item.thumbWidth = tw;
    item.thumbHeight = th;
    item.thumbnail = std::make_shared<const std::vector<unsigned char>>(DibFromRgb(small, tw, th));
}

// In the PTP profile every picture and video has a thumbnail: a file the camera cannot decode
// (a RAW file, a video) shows the one of the item of its name that has one, as a RAW file's
// preview is its JPEG's picture, else one the camera draws.
void LendThumbnail(Item& item) {
    for (const auto& other : item.parent->children) {
        if (!other || other.get() == &item || other->deleted || other->file.empty() ||
            _wcsicmp(other->name.c_str(), item.name.c_str()) != 0)
            continue;
        MakeFileThumbnail(*other);
        if (!other->thumbnail) continue;
        item.thumbnail = other->thumbnail;
        item.thumbWidth = other->thumbWidth;
        item.thumbHeight = other->thumbHeight;
        return;
    }
    item.thumbWidth = kThumbBox[0];
    item.thumbHeight = kThumbBox[1];
    item.thumbnail = std::make_shared<const std::vector<unsigned char>>(RenderThumbnail(item));
}

// The thumbnail, or false when the item has none.
bool Thumbnail(const Device* device, Item& item, std::vector<unsigned char>* data) {
    if (!(item.type & kMedia)) return false;
    if (item.file.empty()) {
        if (data) *data = RenderThumbnail(item);
        return true;
    }
    MakeFileThumbnail(item);
    if (!item.thumbnail && item.parent && device && device->profile == Device::Profile::Ptp) LendThumbnail(item);
    if (!item.thumbnail) return false;
    if (data) *data = *item.thumbnail;
    return true;
}

std::wstring ExtensionOf(const std::wstring& file) {
    const size_t dot = file.find_last_of(L".\\");
    return dot == std::wstring::npos || file[dot] != L'.' ? std::wstring() : file.substr(dot + 1);
}

}  // namespace

std::wstring FullItemName(const Device& device, const Item& item) {
    std::vector<const Item*> chain;
    for (const Item* at = &item; at; at = at->parent) chain.push_back(at);
    std::wstring name = device.id.substr(device.id.find_last_of(L'\\') + 1);  // npos + 1 is 0
    for (auto it = chain.rbegin(); it != chain.rend(); ++it) name += L"\\" + KeyOf(**it);
    return name;
}

std::shared_ptr<Item> FindByFullName(const Device& device, const wchar_t* fullName) {
    if (!device.root) return nullptr;
    const std::wstring wanted = fullName;
    // Walked down by name, one component a level: the number, then the root's name, then on.
    std::vector<std::wstring> parts;
    for (size_t start = 0;;) {
        const size_t end = wanted.find(L'\\', start);
        parts.push_back(wanted.substr(start, end - start));
        if (end == std::wstring::npos) break;
        start = end + 1;
    }
    const std::wstring number = device.id.substr(device.id.find_last_of(L'\\') + 1);
    if (parts.size() < 2 || _wcsicmp(parts[0].c_str(), number.c_str()) != 0 ||
        _wcsicmp(parts[1].c_str(), KeyOf(*device.root).c_str()) != 0)
        return nullptr;
    std::shared_ptr<Item> at = device.root;
    for (size_t i = 2; at && i < parts.size(); ++i) {
        std::shared_ptr<Item> next;
        for (const auto& c : at->children)
            if (c && !c->deleted && _wcsicmp(KeyOf(*c).c_str(), parts[i].c_str()) == 0) {
                next = c;
                break;
            }
        at = std::move(next);
    }
    return at;
}

bool ComputedProperty(const Device* device, Item& item, PROPID id, Value* out) {
    if (std::find(item.lacks.begin(), item.lacks.end(), id) != item.lacks.end()) return false;
    const bool media = (item.type & kMedia) != 0;
    switch (id) {
    case wia::kIpaItemName:
        *out = Value::Text(item.name);
        return true;
    case wia::kIpaItemFlags:  // every item of a real service has it, equal to its type
        *out = Value::Int(item.type);
        return true;
    case wia::kIpaFullItemName:
        if (!device) return false;
        *out = Value::Text(FullItemName(*device, item));
        return true;
    case wia::kIpaItemTime: {
        const SYSTEMTIME& t = item.time;
        *out = Value::Words({t.wYear, t.wMonth, t.wDayOfWeek, t.wDay, t.wHour, t.wMinute, t.wSecond, t.wMilliseconds});
        return true;
    }
    case wia::kIpaItemSize: {
        if (!media) return false;
        if (!item.file.empty()) {
            WIN32_FILE_ATTRIBUTE_DATA data;
            if (!GetFileAttributesExW(item.file.c_str(), GetFileExInfoStandard, &data)) return false;
            // The whole size: 64 bits when 32 cannot hold it, as a host must see it to refuse it.
            const int64_t size = static_cast<int64_t>(data.nFileSizeHigh) << 32 | data.nFileSizeLow;
            *out = size <= INT32_MAX ? Value::Int(static_cast<int32_t>(size)) : Value::Int64(size);
            return true;
        }
        std::vector<unsigned char> bytes;
        if (FAILED(ItemBytes(item, CurrentFormat(item), bytes))) return false;
        *out = Value::Int(static_cast<int32_t>(bytes.size()));
        return true;
    }
    case wia::kIpaFilenameExtension: {
        if (!media) return false;
        const wchar_t* extension = FormatExtension(CurrentFormat(item));
        std::wstring text = item.file.empty() ? (extension ? extension : L"") : ExtensionOf(item.file);
        *out = Value::Text(std::move(text));
        return true;
    }
    case wia::kIpcThumbnail: {
        std::vector<unsigned char> data;
        if (!Thumbnail(device, item, &data)) return false;
        *out = Value::Bytes(std::move(data));
        return true;
    }
    case wia::kIpcThumbWidth:
    case wia::kIpcThumbHeight:
        if (!Thumbnail(device, item, nullptr)) return false;
        *out = Value::Int(id == wia::kIpcThumbWidth ? item.thumbWidth : item.thumbHeight);
        return true;
    default:
        return false;
    }
}

}  // namespace fotexsim

// The files the camera writes: a generated picture in a real image format, or a short text
// for the formats it cannot encode.
#include "sim_internal.h"

#include <cstdio>
#include <cstring>
#include <string>

namespace fotexsim {

namespace wia = fotex::wia;

namespace {

struct NamedFormat {
    const GUID* guid;
    const char* name;
    const wchar_t* extension;  // WIA_IPA_FILENAME_EXTENSION
};

const NamedFormat kFormats[] = {
    {&wia::WiaImgFmt_BMP, "BMP", L"bmp"},         {&wia::WiaImgFmt_EMF, "EMF", L"emf"},
    {&wia::WiaImgFmt_WMF, "WMF", L"wmf"},         {&wia::WiaImgFmt_JPEG, "JPEG", L"jpg"},
    {&wia::WiaImgFmt_PNG, "PNG", L"png"},         {&wia::WiaImgFmt_GIF, "GIF", L"gif"},
    {&wia::WiaImgFmt_TIFF, "TIFF", L"tif"},       {&wia::WiaImgFmt_EXIF, "EXIF", L"exif"},
    {&wia::WiaImgFmt_PHOTOCD, "PHOTOCD", L"pcd"}, {&wia::WiaImgFmt_FLASHPIX, "FLASHPIX", L"fpx"},
    {&wia::WiaImgFmt_ICO, "ICO", L"ico"},         {&wia::WiaImgFmt_CIFF, "CIFF", L"crw"},
    {&wia::WiaImgFmt_PICT, "PICT", L"pct"},       {&wia::WiaImgFmt_JPEG2K, "JPEG2K", L"jp2"},
    {&wia::WiaImgFmt_JPEG2KX, "JPEG2KX", L"jpx"}, {&wia::WiaImgFmt_RAWRGB, "RAWRGB", L"raw"},
    {&wia::WiaImgFmt_AVI, "AVI", L"avi"},         {&wia::WiaImgFmt_MPG, "MPG", L"mpg"},
};

// A gradient under a bright square whose colour and place follow the seed, so two pictures
// of the camera rarely look alike.
std::vector<unsigned char> Render(uint32_t seed, int w, int h) {
    std::vector<unsigned char> rgb(static_cast<size_t>(w) * h * 3);
    const int r0 = seed & 0xFF, g0 = (seed >> 8) & 0xFF, b0 = (seed >> 16) & 0xFF;
    const int side = (w < h ? w : h) / 3 + 1;
    const int sx = static_cast<int>((seed >> 4) % static_cast<uint32_t>(w - side + 1));
    const int sy = static_cast<int>((seed >> 12) % static_cast<uint32_t>(h - side + 1));
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            unsigned char* p = &rgb[(static_cast<size_t>(y) * w + x) * 3];
            bool square = x >= sx && x < sx + side && y >= sy && y < sy + side;
            p[0] = static_cast<unsigned char>(square ? 255 - r0 / 4 : (r0 + x * 255 / w) / 2);
            p[1] = static_cast<unsigned char>(square ? 255 - g0 / 4 : (g0 + y * 255 / h) / 2);
            p[2] = static_cast<unsigned char>(square ? 64 + b0 / 2 : (b0 + (x + y) * 127 / (w + h)));
        }
    }
    return rgb;
}

HRESULT WriteBytes(const wchar_t* path, const void* data, size_t size) {
    HANDLE file = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return HRESULT_FROM_WIN32(GetLastError());
    DWORD written = 0;
    BOOL ok = WriteFile(file, data, static_cast<DWORD>(size), &written, nullptr);
    HRESULT hr = ok && written == size ? S_OK : HRESULT_FROM_WIN32(GetLastError());
    CloseHandle(file);
    if (hr == S_OK && !ok) hr = E_FAIL;
    return hr;
}

std::string Narrow(const std::wstring& s) {
    std::string out;
    for (wchar_t c : s) out += (c > 0 && c < 128) ? static_cast<char>(c) : '?';
    return out;
}

}  // namespace

const char* FormatName(const GUID& format) {
    for (const NamedFormat& f : kFormats)
        if (*f.guid == format) return f.name;
    return nullptr;
}

const wchar_t* FormatExtension(const GUID& format) {
    for (const NamedFormat& f : kFormats)
        if (*f.guid == format) return f.extension;
    return nullptr;
}

bool AcceptsFormat(const Item& item, const GUID& format) {
    if (item.formats.empty()) return FormatName(format) != nullptr;
    for (const GUID& g : item.formats)
        if (g == format) return true;
    return false;
}

HRESULT WriteItemFile(const Item& item, const GUID& format, const wchar_t* path) {
    // The folder camera's items are their files, byte for byte.
    if (!item.file.empty())
        return CopyFileW(item.file.c_str(), path, FALSE) ? S_OK : HRESULT_FROM_WIN32(GetLastError());
    std::vector<unsigned char> bytes;
    HRESULT hr = ItemBytes(item, format, bytes);
    if (FAILED(hr)) return hr;
    return WriteBytes(path, bytes.data(), bytes.size());
}

HRESULT ItemBytes(const Item& item, const GUID& format, std::vector<unsigned char>& bytes) {
    const bool video = (item.type & wia::kItemTypeVideo) && !(item.type & wia::kItemTypeImage);
    const int w = item.width > 0 ? item.width : 1, h = item.height > 0 ? item.height : 1;
    bytes.clear();
    if (!video && (format == wia::WiaImgFmt_BMP || format == wia::WiaImgFmt_PNG ||
                   format == wia::WiaImgFmt_JPEG)) {
        std::vector<unsigned char> rgb = Render(item.seed, w, h);
        bool ok = format == wia::WiaImgFmt_BMP   ? EncodeBmp(bytes, w, h, rgb.data())
                  : format == wia::WiaImgFmt_PNG ? EncodePng(bytes, w, h, rgb.data())
                                                 : EncodeJpeg(bytes, w, h, rgb.data());
        if (!ok) return E_OUTOFMEMORY;
    } else {
        const char* name = FormatName(format);
        std::string text = std::string("FOTEXSIM ") + (video ? "VIDEO " : "IMAGE ") +
                           (name ? name : "UNKNOWN") + " " + std::to_string(w) + "x" +
                           std::to_string(h) + " " + Narrow(item.name) + "\n";
        bytes.assign(text.begin(), text.end());
    }
    return S_OK;
}

std::vector<unsigned char> RenderThumbnail(const Item& item) {
    const int w = item.thumbWidth > 0 ? item.thumbWidth : 1, h = item.thumbHeight > 0 ? item.thumbHeight : 1;
    return DibFromRgb(Render(item.seed, w, h), w, h);
}

std::vector<unsigned char> DibFromRgb(const std::vector<unsigned char>& rgb, int w, int h) {
    const size_t stride = (static_cast<size_t>(w) * 3 + 3) & ~size_t{3};
    std::vector<unsigned char> dib(stride * h, 0);
    for (int y = 0; y < h; ++y) {
        const unsigned char* from = &rgb[static_cast<size_t>(h - 1 - y) * w * 3];
        unsigned char* to = &dib[stride * y];
        for (int x = 0; x < w; ++x, from += 3, to += 3) {
            to[0] = from[2];
            to[1] = from[1];
            to[2] = from[0];
        }
    }
    return dib;
}

HRESULT WriteDialogPicture(uint32_t seed, const wchar_t* path) {
    constexpr int w = 160, h = 120;
    std::vector<unsigned char> rgb = Render(seed * 2654435761u, w, h);
    std::vector<unsigned char> bytes;
    if (!EncodeJpeg(bytes, w, h, rgb.data())) return E_OUTOFMEMORY;
    return WriteBytes(path, bytes.data(), bytes.size());
}

}  // namespace fotexsim

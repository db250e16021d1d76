// The files the camera writes: a generated picture in a real image format, a generated video
// as a one-frame Motion-JPEG AVI.
#include "sim_internal.h"

#include <cstdio>
#include <cstring>
#include <string>

namespace fotexsim {

namespace wia = fotex::wia;

HRESULT WriteWhole(HANDLE file, const void* data, size_t size) {
    DWORD written = 0;
    if (size > MAXDWORD) return HRESULT_FROM_WIN32(ERROR_ARITHMETIC_OVERFLOW);
    if (!WriteFile(file, data, static_cast<DWORD>(size), &written, nullptr)) {
        const DWORD error = GetLastError();
        return error == ERROR_SUCCESS ? E_FAIL : HRESULT_FROM_WIN32(error);
    }
    // The file system took part of it: the disk is full, as the service reports it.
    return written == size ? S_OK : HRESULT_FROM_WIN32(ERROR_DISK_FULL);
}

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
    HRESULT hr = WriteWhole(file, data, size);
    CloseHandle(file);
    return hr;
}

void Put32(std::vector<unsigned char>& out, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) out[at + i] = static_cast<unsigned char>(v >> (8 * i));
}

// Little-endian fields and four-character codes, appended.
struct Riff {
    std::vector<unsigned char>& out;
    void Code(const char* fourcc) {
        for (int i = 0; i < 4; ++i) out.push_back(static_cast<unsigned char>(fourcc[i]));
    }
    void U32(uint32_t v) {
        out.resize(out.size() + 4);
        Put32(out, out.size() - 4, v);
    }
    void U16(uint16_t v) {
        out.push_back(static_cast<unsigned char>(v));
        out.push_back(static_cast<unsigned char>(v >> 8));
    }
    // A chunk or list header whose size is filled in by End.
    size_t Begin(const char* fourcc, const char* form = nullptr) {
        Code(fourcc);
        const size_t at = out.size();
        U32(0);
        if (form) Code(form);
        return at;
    }
    // The size counts the chunk's data, not the byte that pads it to a word.
    void End(size_t at) {
        Put32(out, at, static_cast<uint32_t>(out.size() - at - 4));
        if (out.size() % 2) out.push_back(0);
    }
};

}  // namespace

bool EncodeAvi(std::vector<unsigned char>& out, int w, int h, const unsigned char* rgb) {
    std::vector<unsigned char> frame;
    if (!EncodeJpeg(frame, w, h, rgb)) return false;
    const uint32_t frameSize = static_cast<uint32_t>(frame.size());
    out.clear();
    Riff r{out};
    const size_t riff = r.Begin("RIFF", "AVI ");
    const size_t hdrl = r.Begin("LIST", "hdrl");
    const size_t avih = r.Begin("avih");
    for (uint32_t v : {1000000u, frameSize, 0u, 0x10u /* AVIF_HASINDEX */, 1u, 0u, 1u, frameSize,
                       static_cast<uint32_t>(w), static_cast<uint32_t>(h), 0u, 0u, 0u, 0u})
        r.U32(v);  // one frame a second, one stream
    r.End(avih);
    const size_t strl = r.Begin("LIST", "strl");
    const size_t strh = r.Begin("strh");
    r.Code("vids");
    r.Code("MJPG");
    for (uint32_t v : {0u, 0u, 0u, 1u, 1u, 0u, 1u, frameSize, 0xFFFFFFFFu, 0u}) r.U32(v);
    for (int v : {0, 0, w, h}) r.U16(static_cast<uint16_t>(v));
    r.End(strh);
    const size_t strf = r.Begin("strf");  // BITMAPINFOHEADER
    for (uint32_t v : {40u, static_cast<uint32_t>(w), static_cast<uint32_t>(h)}) r.U32(v);
    r.U16(1);
    r.U16(24);
    r.Code("MJPG");
    for (uint32_t v : {static_cast<uint32_t>(w) * h * 3, 0u, 0u, 0u, 0u}) r.U32(v);
    r.End(strf);
    r.End(strl);
    r.End(hdrl);
    const size_t movi = r.Begin("LIST", "movi");
    const size_t chunk = r.Begin("00dc");
    out.insert(out.end(), frame.begin(), frame.end());
    r.End(chunk);
    r.End(movi);
    const size_t idx1 = r.Begin("idx1");
    r.Code("00dc");
    r.U32(0x10);  // AVIIF_KEYFRAME
    r.U32(static_cast<uint32_t>(chunk - 4 - (movi + 4)));  // from the "movi" code
    r.U32(frameSize);
    r.End(idx1);
    r.End(riff);
    return true;
}

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

std::vector<GUID> OfferedFormats(const Item& item) {
    if (!item.formats.empty()) return item.formats;
    if (item.type & wia::kItemTypeFolder) return {};
    if (item.type & wia::kItemTypeImage) return {wia::WiaImgFmt_JPEG, wia::WiaImgFmt_BMP, wia::WiaImgFmt_PNG};
    if (item.type & wia::kItemTypeVideo) return {wia::WiaImgFmt_AVI};
    if (item.type & wia::kItemTypeAudio) return {};  // a sound is no picture
    return {wia::WiaImgFmt_JPEG, wia::WiaImgFmt_BMP, wia::WiaImgFmt_PNG};
}

bool AcceptsFormat(const Item& item, const GUID& format) {
    for (const GUID& g : OfferedFormats(item))
        if (g == format) return true;
    return false;
}

HRESULT ItemBytes(const Item& item, const GUID& format, std::vector<unsigned char>& bytes) {
    const int w = item.width > 0 ? item.width : 1, h = item.height > 0 ? item.height : 1;
    bytes.clear();
    // Only what the item offers. A format the camera cannot make (a RAW format given in
    // `formats`) comes as JPEG bytes, as the picture inside such a file would.
    if (!AcceptsFormat(item, format)) return E_INVALIDARG;
    if (item.raw) {
        bytes = RawBytes(item);
        return S_OK;
    }
    std::vector<unsigned char> rgb = Render(item.seed, w, h);
    bool ok = format == wia::WiaImgFmt_BMP   ? EncodeBmp(bytes, w, h, rgb.data())
              : format == wia::WiaImgFmt_PNG ? EncodePng(bytes, w, h, rgb.data())
              : format == wia::WiaImgFmt_AVI ? EncodeAvi(bytes, w, h, rgb.data())
                                             : EncodeJpeg(bytes, w, h, rgb.data());
    return ok ? S_OK : E_OUTOFMEMORY;
}

std::vector<unsigned char> RawBytes(const Item& item) {
    const int w = item.width > 0 ? item.width : 1, h = item.height > 0 ? item.height : 1;
    static const char kMagic[8] = {'F', 'O', 'T', 'E', 'X', 'R', 'A', 'W'};
    std::vector<unsigned char> bytes(kMagic, kMagic + 8);
    for (const int side : {w, h})
        for (int shift = 0; shift < 32; shift += 8) bytes.push_back(static_cast<unsigned char>(side >> shift));
    const std::vector<unsigned char> rgb = Render(item.seed, w, h);
    bytes.insert(bytes.end(), rgb.begin(), rgb.end());
    return bytes;
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

// An item's data handed over in steps, as a device delivers it: progress reports through the
// host's data callback, a rate limit, and a cancel that leaves nothing behind.
#include "sim_internal.h"

#include <algorithm>

namespace fotexsim {

namespace wia = fotex::wia;

namespace {

// Status of a report: the data moves from the device (the only stage a camera has here).
constexpr LONG kStatusFromDevice = 1;

// Waits until `done` bytes are due at `rate` bytes a second since `start`.
void Pace(ULONGLONG start, uint64_t done, int rate) {
    if (rate <= 0) return;
    const ULONGLONG due = start + done * 1000 / static_cast<uint64_t>(rate);
    const ULONGLONG now = GetTickCount64();
    if (due > now) Sleep(static_cast<DWORD>(due - now));
}

}  // namespace

HRESULT ItemSource::Open(const Item& item, const GUID& format) {
    if (item.file.empty()) {
        const HRESULT hr = ItemBytes(item, format, bytes_);
        size_ = bytes_.size();
        return hr;
    }
    file_ = CreateFileW(item.file.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    LARGE_INTEGER size{};
    if (file_ == INVALID_HANDLE_VALUE || !GetFileSizeEx(file_, &size)) return HRESULT_FROM_WIN32(GetLastError());
    size_ = static_cast<uint64_t>(size.QuadPart);
    return S_OK;
}

ItemSource::~ItemSource() {
    if (file_ != INVALID_HANDLE_VALUE) CloseHandle(file_);
}

HRESULT ItemSource::Read(uint8_t* out, DWORD count) {
    if (file_ == INVALID_HANDLE_VALUE) {
        std::copy_n(bytes_.data() + at_, count, out);
        at_ += count;
        return S_OK;
    }
    DWORD got = 0;
    if (!ReadFile(file_, out, count, &got, nullptr)) return HRESULT_FROM_WIN32(GetLastError());
    at_ += got;
    return got == count ? S_OK : HRESULT_FROM_WIN32(ERROR_HANDLE_EOF);
}

HRESULT StepThrough(ItemSource& source, const Steps& steps, const std::function<HRESULT(const uint8_t*, DWORD)>& sink) {
    IWiaDataCallback* callback = steps.callback;
    const uint64_t total = source.size();
    HRESULT hr = S_OK;
    // A callback must be a whole COM object: across processes it is reached through its proxy.
    if (callback) {
        IWiaDataCallback* same = nullptr;
        hr = callback->QueryInterface(wia::IID_IWiaDataCallback, reinterpret_cast<void**>(&same));
        if (FAILED(hr) || same == nullptr) return FAILED(hr) ? hr : E_NOINTERFACE;
        same->Release();
    }
    if (callback) hr = callback->BandedDataCallback(wia::kMsgStatus, kStatusFromDevice, 0, 0, 0, 0, 0, nullptr);
    if (hr == S_OK && callback && steps.banded) {
        WIA_DATA_CALLBACK_HEADER header{};
        header.lSize = sizeof header;
        header.guidFormatID = steps.format;
        if (steps.fault == Camera::BandFault::OtherFormat)
            header.guidFormatID = steps.format == wia::WiaImgFmt_BMP ? wia::WiaImgFmt_PNG : wia::WiaImgFmt_BMP;
        header.lBufferSize = static_cast<LONG>(std::min<uint64_t>(total, 0x7FFFFFFF));
        hr = callback->BandedDataCallback(wia::kMsgDataHeader, kStatusFromDevice, 0, 0, sizeof header, 0, sizeof header,
                                          reinterpret_cast<BYTE*>(&header));
    }
    // A faulty service goes on past the callback's refusals; only a cancel stops it.
    const bool faulty = steps.fault != Camera::BandFault::None;
    if (faulty && FAILED(hr)) hr = S_OK;
    std::vector<uint8_t> band(static_cast<size_t>(std::min<uint64_t>(steps.band, std::max<uint64_t>(total, 1))));
    const ULONGLONG start = GetTickCount64();
    const uint64_t end = std::min(total, steps.stopAfter);
    for (uint64_t done = 0, index = 0; hr == S_OK && done < end; ++index) {
        const DWORD count = static_cast<DWORD>(std::min<uint64_t>(band.size(), end - done));
        hr = source.Read(band.data(), count);
        if (hr == S_OK) hr = sink(band.data(), count);
        if (hr != S_OK) break;
        done += count;
        Pace(start, done, steps.rate);
        if (!callback) continue;
        const LONG percent = static_cast<LONG>(done * 100 / total);
        const bool second = steps.banded && index == 1;
        if (second && steps.fault == Camera::BandFault::Gap) continue;
        const LONG carried = second && steps.fault == Camera::BandFault::Overlong ? static_cast<LONG>(count / 2)
                                                                                   : static_cast<LONG>(count);
        hr = steps.banded ? callback->BandedDataCallback(wia::kMsgData, kStatusFromDevice, percent,
                                                         static_cast<LONG>(done - count), count, 0, carried, band.data())
                          : callback->BandedDataCallback(wia::kMsgStatus, kStatusFromDevice, percent, 0, 0, 0, 0,
                                                         nullptr);
        if (faulty && FAILED(hr)) hr = S_OK;
    }
    if (hr == S_OK && end < total) return wia::kWiaErrorOffline;
    if (hr == S_OK && callback && total == 0)
        hr = callback->BandedDataCallback(wia::kMsgStatus, kStatusFromDevice, 100, 0, 0, 0, 0, nullptr);
    if (hr == S_OK && callback && steps.banded)
        hr = callback->BandedDataCallback(wia::kMsgTermination, kStatusFromDevice, 100, 0, 0, 0, 0, nullptr);
    if (faulty && FAILED(hr)) hr = S_OK;
    // A callback's S_FALSE cancels; the service says so with S_FALSE too.
    return hr;
}

}  // namespace fotexsim

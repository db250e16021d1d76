// The host's progress routine behind the service's data callback.
#include "progress.h"

#include <climits>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <new>

#include "wia_ids.h"

namespace fotex {

TransferCallback* TransferCallback::Create(FOTEX_PROGRESS progress, void* context, void* buffer, uint32_t capacity) {
    // malloc: the library has no use for the runtime's throwing allocators.
    void* memory = std::malloc(sizeof(TransferCallback));
    return memory != nullptr ? ::new (memory) TransferCallback(progress, context, buffer, capacity) : nullptr;
}

HRESULT WINAPI TransferCallback::QueryInterface(REFIID riid, void** ppv) {
    if (ppv == nullptr) return E_POINTER;
    *ppv = nullptr;
    if (riid != IID_IUnknown && riid != wia::IID_IWiaDataCallback) return E_NOINTERFACE;
    *ppv = static_cast<IWiaDataCallback*>(this);
    AddRef();
    return S_OK;
}

ULONG WINAPI TransferCallback::AddRef() { return static_cast<ULONG>(InterlockedIncrement(&refs_)); }

ULONG WINAPI TransferCallback::Release() {
    const LONG r = InterlockedDecrement(&refs_);
    if (r == 0) {
        this->~TransferCallback();
        std::free(this);
    }
    return static_cast<ULONG>(r);
}

TransferCallback::~TransferCallback() { std::free(kept_); }

HRESULT WINAPI TransferCallback::BandedDataCallback(LONG message, LONG, LONG percent, LONG offset, LONG length, LONG,
                                                    LONG resLength, BYTE* data) {
    if (cancelled_ || overflow_ || incomplete_ || otherFormat_) return S_FALSE;
    if (message == wia::kMsgDataHeader) return Header(length, resLength, data);
    if (message != wia::kMsgData) return message == wia::kMsgStatus ? Report(percent) : S_OK;
    // Across processes the buffer holds resLength bytes: a longer length would read past it.
    // Once a band is refused the data cannot be whole, whatever the service does next.
    if (length < 0 || length > resLength || (length > 0 && data == nullptr)) {
        incomplete_ = true;
        return E_INVALIDARG;
    }
    // The offset is a LONG, negative for data past 2 GiB. No host buffer reaches that far
    // (capacities are ints), so the transfer stops there: the data is too large to read.
    const uint64_t end = static_cast<uint64_t>(offset) + static_cast<uint64_t>(length);
    if (offset < 0 || end > static_cast<uint64_t>(INT_MAX)) {
        overflow_ = true;
        return S_FALSE;
    }
    // A band past the end of those before it leaves bytes nobody delivered.
    if (static_cast<uint64_t>(offset) > received_) {
        incomplete_ = true;
        return S_FALSE;
    }
    if (buffer_ != nullptr && static_cast<uint64_t>(offset) < capacity_) {
        const uint64_t fits = (end < capacity_ ? end : capacity_) - static_cast<uint64_t>(offset);
        std::memcpy(buffer_ + offset, data, static_cast<size_t>(fits));
    }
    if (end > capacity_) Keep(static_cast<uint32_t>(offset), static_cast<uint32_t>(end), data);
    if (end > received_) received_ = static_cast<uint32_t>(end);
    return Report(percent);
}

HRESULT TransferCallback::Header(LONG length, LONG resLength, const BYTE* data) {
    if (!checkFormat_) return S_OK;
    constexpr LONG kNeeded = static_cast<LONG>(offsetof(WIA_DATA_CALLBACK_HEADER, guidFormatID) + sizeof(GUID));
    if (data == nullptr || length < kNeeded || resLength < kNeeded) {
        incomplete_ = true;
        return E_INVALIDARG;
    }
    GUID named;
    std::memcpy(&named, data + offsetof(WIA_DATA_CALLBACK_HEADER, guidFormatID), sizeof named);
    if (named == format_) return S_OK;
    otherFormat_ = true;
    return S_FALSE;
}

void TransferCallback::Keep(uint32_t offset, uint32_t end, const BYTE* data) {
    if (!keeping_) return;
    if (end > keepLimit_) {
        keeping_ = false;
        std::free(kept_);
        kept_ = nullptr;
        return;
    }
    if (end > keptRoom_) {
        uint32_t room = keptRoom_ > 0 ? keptRoom_ : (capacity_ > 0 ? capacity_ : 64 * 1024);
        while (room < end) room = room > keepLimit_ / 2 ? keepLimit_ : room * 2;
        auto* grown = static_cast<uint8_t*>(std::realloc(kept_, room));
        if (grown == nullptr) {
            keeping_ = false;
            std::free(kept_);
            kept_ = nullptr;
            return;
        }
        // The bytes that went into the buffer come along once, when keeping starts.
        if (kept_ == nullptr && buffer_ != nullptr) std::memcpy(grown, buffer_, received_ < capacity_ ? received_ : capacity_);
        kept_ = grown;
        keptRoom_ = room;
    }
    std::memcpy(kept_ + offset, data, end - offset);
}

uint8_t* TransferCallback::TakeKept() {
    if (!keeping_ || kept_ == nullptr || received_ <= capacity_) return nullptr;
    uint8_t* taken = kept_;
    kept_ = nullptr;
    keptRoom_ = 0;
    return taken;
}

HRESULT TransferCallback::Report(LONG percent) {
    if (progress_ == nullptr) return S_OK;
    // 100 is kept for Complete: the service may say it before the data is in its place.
    const int clamped = percent < 0 ? 0 : percent > 99 ? 99 : static_cast<int>(percent);
    if (clamped > last_) last_ = clamped;
    if (progress_(context_, last_) == 0) return S_OK;
    cancelled_ = true;
    return S_FALSE;
}

HRESULT TransferCallback::Complete() {
    if (cancelled_) return FOTEX_E_CANCELLED;
    if (progress_ == nullptr || progress_(context_, 100) == 0) return S_OK;
    cancelled_ = true;
    return FOTEX_E_CANCELLED;
}

HRESULT TransferCallback::Outcome(HRESULT service) const {
    if (overflow_) return FOTEX_E_OVERFLOW;
    if (cancelled_) return FOTEX_E_CANCELLED;
    if (otherFormat_) return FOTEX_E_FORMAT;
    return incomplete_ ? FOTEX_E_INCOMPLETE : service;
}

void TransferCallback::Detach() {
    progress_ = nullptr;
    buffer_ = nullptr;
    capacity_ = 0;
    cancelled_ = true;
}

}  // namespace fotex

// The host's progress routine behind the service's data callback.
#include "progress.h"

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

HRESULT WINAPI TransferCallback::BandedDataCallback(LONG message, LONG, LONG percent, LONG offset, LONG length, LONG,
                                                    LONG, BYTE* data) {
    if (cancelled_) return S_FALSE;
    if (message == wia::kMsgData) {
        if (offset < 0 || length < 0 || (length > 0 && data == nullptr)) return E_INVALIDARG;
        const uint64_t end = static_cast<uint64_t>(offset) + static_cast<uint64_t>(length);
        if (buffer_ != nullptr && static_cast<uint64_t>(offset) < capacity_) {
            const uint64_t fits = (end < capacity_ ? end : capacity_) - static_cast<uint64_t>(offset);
            std::memcpy(buffer_ + offset, data, static_cast<size_t>(fits));
        }
        if (end > received_) received_ = end > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(end);
        return Report(percent);
    }
    return message == wia::kMsgStatus ? Report(percent) : S_OK;
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

HRESULT TransferCallback::Outcome(HRESULT service) const { return cancelled_ ? FOTEX_E_CANCELLED : service; }

void TransferCallback::Detach() {
    progress_ = nullptr;
    buffer_ = nullptr;
    capacity_ = 0;
    cancelled_ = true;
}

}  // namespace fotex

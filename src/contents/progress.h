// The callback object a transfer hands the service: it passes the service's progress reports to
// the host's routine, takes the host's cancel, and for a memory transfer keeps the data.
#pragma once

#include <windows.h>
#include <wia.h>

#include <cstdint>

#include "fotex.h"

namespace fotex {

class TransferCallback final : public IWiaDataCallback {
public:
    // Null when memory cannot be had. `buffer` (`capacity` bytes) receives the data of a memory
    // transfer; bytes beyond it are counted, never written.
    static TransferCallback* Create(FOTEX_PROGRESS progress, void* context, void* buffer = nullptr,
                                    uint32_t capacity = 0);

    HRESULT WINAPI QueryInterface(REFIID riid, void** ppv) override;
    ULONG WINAPI AddRef() override;
    ULONG WINAPI Release() override;
    HRESULT WINAPI BandedDataCallback(LONG message, LONG status, LONG percent, LONG offset, LONG length, LONG reserved,
                                      LONG resLength, BYTE* data) override;

    // The call with 100, once the data is complete; FOTEX_E_CANCELLED when the host cancels there.
    HRESULT Complete();
    // What the transfer comes to, given the service's result: FOTEX_E_CANCELLED once the host
    // cancelled, whatever the service made of it; its own result otherwise.
    HRESULT Outcome(HRESULT service) const;
    // Ends the callback's use of the host's routine and buffer: a service that calls later
    // reaches neither.
    void Detach();
    // The bytes a memory transfer delivered: one past the furthest byte, capped at 2^32 - 1.
    uint32_t received() const { return received_; }

private:
    TransferCallback(FOTEX_PROGRESS progress, void* context, void* buffer, uint32_t capacity)
        : progress_(progress), context_(context), buffer_(static_cast<uint8_t*>(buffer)), capacity_(capacity) {}
    ~TransferCallback() = default;
    HRESULT Report(LONG percent);

    LONG refs_ = 1;
    FOTEX_PROGRESS progress_;
    void* context_;
    uint8_t* buffer_;
    uint32_t capacity_;
    uint32_t received_ = 0;
    int last_ = 0;
    bool cancelled_ = false;
};

// Owns the transfer's reference to its callback; on every path detaches it before releasing it,
// since the service may keep a reference of its own.
class HeldCallback {
public:
    explicit HeldCallback(TransferCallback* callback) : p_(callback) {}
    HeldCallback(const HeldCallback&) = delete;
    HeldCallback& operator=(const HeldCallback&) = delete;
    ~HeldCallback() {
        if (p_ == nullptr) return;
        p_->Detach();
        p_->Release();
    }
    TransferCallback* get() const { return p_; }
    TransferCallback* operator->() const { return p_; }

private:
    TransferCallback* p_;
};

}  // namespace fotex

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
    // transfer; bytes beyond it are counted, never written there.
    static TransferCallback* Create(FOTEX_PROGRESS progress, void* context, void* buffer = nullptr,
                                    uint32_t capacity = 0);
    // For a memory transfer: the format asked for, which a data header must name.
    void Expect(const GUID& format) {
        format_ = format;
        checkFormat_ = true;
    }
    // For a memory transfer: data that does not fit the buffer is kept whole in storage of the
    // callback's own, up to `limit` bytes (beyond that, nothing is kept).
    void KeepOverflow(uint32_t limit) { keepLimit_ = limit; }
    // The whole data kept, when it did not fit the buffer and was kept; the caller takes the
    // storage (to free with std::free). Null otherwise.
    uint8_t* TakeKept();

    HRESULT WINAPI QueryInterface(REFIID riid, void** ppv) override;
    ULONG WINAPI AddRef() override;
    ULONG WINAPI Release() override;
    HRESULT WINAPI BandedDataCallback(LONG message, LONG status, LONG percent, LONG offset, LONG length, LONG reserved,
                                      LONG resLength, BYTE* data) override;

    // The call with 100, once the data is complete; FOTEX_E_CANCELLED when the host cancels there.
    HRESULT Complete();
    // What the transfer comes to, given the service's result, whatever the service made of it:
    // FOTEX_E_OVERFLOW once the data passed 2 GiB, FOTEX_E_CANCELLED once the host cancelled,
    // FOTEX_E_FORMAT once a data header named another format than the one expected,
    // FOTEX_E_INCOMPLETE once a band was refused or came past a gap; the service's own result
    // otherwise.
    HRESULT Outcome(HRESULT service) const;
    // Ends the callback's use of the host's routine and buffer: a service that calls later
    // reaches neither.
    void Detach();
    // The bytes a memory transfer delivered, every one of them from the first: bands come in
    // order, each starting at or before the end of those before it.
    uint32_t received() const { return received_; }

private:
    TransferCallback(FOTEX_PROGRESS progress, void* context, void* buffer, uint32_t capacity)
        : progress_(progress), context_(context), buffer_(static_cast<uint8_t*>(buffer)), capacity_(capacity) {}
    ~TransferCallback();
    HRESULT Report(LONG percent);
    HRESULT Header(LONG length, LONG resLength, const BYTE* data);
    // Copies a band that reaches past the buffer into the kept storage; gives up keeping when
    // the data outgrows the limit or memory.
    void Keep(uint32_t offset, uint32_t end, const BYTE* data);

    LONG refs_ = 1;
    FOTEX_PROGRESS progress_;
    void* context_;
    uint8_t* buffer_;
    uint32_t capacity_;
    uint32_t received_ = 0;
    int last_ = 0;
    bool cancelled_ = false;
    bool overflow_ = false;
    bool incomplete_ = false;
    bool otherFormat_ = false;
    bool checkFormat_ = false;
    GUID format_{};
    uint32_t keepLimit_ = 0;
    uint8_t* kept_ = nullptr;  // the data from byte 0, once it passed the buffer
    uint32_t keptRoom_ = 0;
    bool keeping_ = true;
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

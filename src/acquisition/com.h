// RAII owners for COM pointers, BSTRs, PROPVARIANTs and file handles: whatever a call obtains is
// released on every path by construction, so an early return is always safe.
#pragma once

#include <windows.h>
#include <oleauto.h>
#include <propidl.h>

#include <cstddef>

namespace fotex {

// Owns one reference. put() releases the old pointer before handing out its address; attach()
// adopts a reference without adding one.
template <class T>
class ComPtr {
public:
    ComPtr() = default;
    ComPtr(const ComPtr&) = delete;
    ComPtr& operator=(const ComPtr&) = delete;
    ComPtr(ComPtr&& other) noexcept : p_(other.detach()) {}
    ComPtr& operator=(ComPtr&& other) noexcept {
        if (this != &other) {
            reset();
            p_ = other.detach();
        }
        return *this;
    }
    ~ComPtr() { reset(); }

    static ComPtr attach(T* p) {
        ComPtr c;
        c.p_ = p;
        return c;
    }

    T* get() const { return p_; }
    T* operator->() const { return p_; }
    explicit operator bool() const { return p_ != nullptr; }

    T** put() {
        reset();
        return &p_;
    }
    void** put_void() { return reinterpret_cast<void**>(put()); }

    // Takes the result of a call that was given put(): a failed call hands out nothing, so what
    // it may have left in the slot is dropped without a release. Returns the result.
    HRESULT receive(HRESULT hr) {
        if (FAILED(hr)) p_ = nullptr;
        return hr;
    }
    // The same for an enumerator's Next(1, ...), which hands out an element only with S_OK.
    HRESULT fetch(HRESULT hr) {
        if (hr != S_OK) p_ = nullptr;
        return hr;
    }

    T* detach() {
        T* p = p_;
        p_ = nullptr;
        return p;
    }
    void reset() {
        if (T* p = p_) {
            p_ = nullptr;
            p->Release();
        }
    }

private:
    T* p_ = nullptr;
};

// Owns a BSTR made with SysAllocString.
class Bstr {
public:
    explicit Bstr(const OLECHAR* text) : s_(SysAllocString(text)) {}
    Bstr(const Bstr&) = delete;
    Bstr& operator=(const Bstr&) = delete;
    ~Bstr() {
        if (s_) SysFreeString(s_);
    }
    BSTR get() const { return s_; }
    explicit operator bool() const { return s_ != nullptr; }
    // Hands the string to a new owner, who frees it with SysFreeString.
    BSTR release() {
        BSTR s = s_;
        s_ = nullptr;
        return s;
    }

private:
    BSTR s_;
};

// N values for one ReadMultiple call: cleared to VT_EMPTY on construction, freed together with
// FreePropVariantArray on destruction, whatever the read left in them.
template <size_t N>
class PropVariants {
public:
    PropVariants() {
        for (PROPVARIANT& v : v_) PropVariantInit(&v);
    }
    PropVariants(const PropVariants&) = delete;
    PropVariants& operator=(const PropVariants&) = delete;
    ~PropVariants() { FreePropVariantArray(N, v_); }

    // Reads all N; a failing read may leave anything in the values, none of it ours to free.
    template <class Storage>
    HRESULT ReadFrom(Storage* storage, const PROPSPEC* specs) {
        const HRESULT hr = storage->ReadMultiple(N, specs, v_);
        if (FAILED(hr)) Disown();
        return hr;
    }
    // The attributes of all N, with the same rule.
    template <class Storage>
    HRESULT AttributesFrom(Storage* storage, PROPSPEC* specs, ULONG* flags) {
        const HRESULT hr = storage->GetPropertyAttributes(N, specs, flags, v_);
        if (FAILED(hr)) Disown();
        return hr;
    }
    void Disown() {
        for (PROPVARIANT& v : v_) PropVariantInit(&v);
    }
    // Frees the values, for the next read into the same owner.
    void Clear() {
        FreePropVariantArray(N, v_);
        Disown();
    }

    PROPVARIANT* data() { return v_; }
    PROPVARIANT& operator[](size_t i) { return v_[i]; }
    static constexpr ULONG size() { return N; }

private:
    PROPVARIANT v_[N];
};

// A selector by numeric property id.
inline PROPSPEC PropSpecById(PROPID id) {
    PROPSPEC selector{};
    selector.ulKind = PRSPEC_PROPID;
    selector.propid = id;
    return selector;
}

// An open file closed on every path.
class File {
public:
    explicit File(HANDLE h) : h_(h) {}
    File(const File&) = delete;
    File& operator=(const File&) = delete;
    ~File() {
        if (h_ != INVALID_HANDLE_VALUE) CloseHandle(h_);
    }
    HANDLE get() const { return h_; }
    HRESULT Put(const void* data, DWORD size) {
        DWORD written = 0;
        if (!WriteFile(h_, data, size, &written, nullptr)) return HRESULT_FROM_WIN32(GetLastError());
        return written == size ? S_OK : HRESULT_FROM_WIN32(ERROR_WRITE_FAULT);
    }
    HRESULT Close() {
        const HANDLE h = h_;
        h_ = INVALID_HANDLE_VALUE;
        return CloseHandle(h) ? S_OK : HRESULT_FROM_WIN32(GetLastError());
    }

private:
    HANDLE h_;
};

}  // namespace fotex

// What the service's COM objects share across their files. Each is a small class over one mingw
// <wia.h> interface with a reference count that the ledger sees; the makers below hand out the
// objects of one file to another's.
#pragma once

#include "sim_internal.h"

namespace fotexsim {

template <class I>
class Object : public I, public Tracked {
public:
    Object(std::shared_ptr<Core> c, const char* k, std::wstring l) : Tracked(std::move(c), k, std::move(l)) {}
    ULONG WINAPI AddRef() override { return ++refs; }
    ULONG WINAPI Release() override {
        ULONG r = --refs;
        if (r == 0 && !stray) delete this;
        return r;
    }

protected:
    // QueryInterface for IUnknown and the object's own interface.
    HRESULT Self(REFIID riid, const GUID& own, void** ppv) {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        if (riid != IID_IUnknown && riid != own) return E_NOINTERFACE;
        *ppv = static_cast<I*>(this);
        AddRef();
        return S_OK;
    }
};

template <class T>
void Clear(T** pp) {
    if (pp) *pp = nullptr;
}

// What a dirty failure leaves in an item slot.
std::shared_ptr<Item> StrayItem();

// Property storage (property_storage.cpp): over an item's properties, bound to its device; over
// a device-information snapshot, so it works while the device is offline.
Object<IWiaPropertyStorage>* NewItemStorage(std::shared_ptr<Core> c, DeviceRef dev, std::shared_ptr<Item> item);
Object<IWiaPropertyStorage>* NewInfoStorage(std::shared_ptr<Core> c, std::shared_ptr<PropertyMap> info,
                                            std::wstring id);
// A new object over the item (item_objects.cpp), never the item's live one.
Object<IWiaItem>* NewItemObject(std::shared_ptr<Core> c, DeviceRef dev, std::shared_ptr<Item> item);

}  // namespace fotexsim

// The device's item list and what the host reads from it: texts, numbers, a handle per item.
#include <climits>

#include "busy.h"
#include "com.h"
#include "conditions.h"
#include "contents.h"
#include "fotex.h"
#include "handles.h"
#include "integers.h"
#include "item_data.h"
#include "service.h"
#include "wia_ids.h"

namespace fotex {

namespace {

// What the listing reads of each item in one ReadMultiple: the type flags, then every fact.
constexpr PROPID kListingIds[] = {wia::kIpaItemFlags,    wia::kIpaItemName,     wia::kIpaFilenameExtension,
                                  wia::kIpaFullItemName, wia::kIpaItemTime,     wia::kIpaItemSize,
                                  wia::kIpcThumbWidth,   wia::kIpcThumbHeight,  wia::kIpaPreferredFormat};
enum { kFlagsAt, kNameAt, kExtensionAt, kFullNameAt, kTimeAt, kSizeAt, kThumbWidthAt, kThumbHeightAt, kFormatAt };
constexpr size_t kListingReads = sizeof kListingIds / sizeof kListingIds[0];

bool TextOf(const PROPVARIANT& v, TextPiece* piece);
int NumberOf(const PROPVARIANT& v, bool format, int* value);

// Lists each image and video item once, with the facts read together with its type; an item
// that cannot be listed stops the walk. The failure is kept here too: the walk reports the
// children's result for an item it walks into (one with attachments), which would otherwise
// hide that the item itself is missing.
class ListVisitor final : public ItemVisitor {
public:
    explicit ListVisitor(ListedItems& list) : list_(list) {}

    // One read for the type and the facts. Where the read fails, or the service keeps no type
    // flags, the type is asked for as ever, and facts the read did not give are read when asked.
    HRESULT TypeOf(IWiaItem* item, LONG& type) override {
        read_ = false;
        values_.Clear();
        ComPtr<IWiaPropertyStorage> storage;
        HRESULT hr = QueryPropertyStorage(item, storage);
        if (SUCCEEDED(hr) && storage) {
            PROPSPEC specs[kListingReads];
            for (size_t i = 0; i < kListingReads; ++i) specs[i] = PropSpecById(kListingIds[i]);
            hr = Retrying([&] { return values_.ReadFrom(storage.get(), specs); });
            read_ = SUCCEEDED(hr);
        }
        // A camera gone or held past the busy wait answers the type no better.
        if (DeviceGone(hr) || hr == wia::kWiaErrorBusy) return hr;
        int flags = 0;
        if (read_ && IntValue(values_[kFlagsAt], &flags, true) == S_OK) {
            type = flags;
            return S_OK;
        }
        return ItemVisitor::TypeOf(item, type);
    }

    HRESULT Visit(IWiaItem* item, LONG type, HRESULT current) override {
        if (FAILED(failure_)) return failure_;
        if ((type & (wia::kItemTypeImage | wia::kItemTypeVideo)) == 0) return current;
        // The count goes to the host as an int.
        if (++listed_ > static_cast<uint32_t>(INT_MAX))
            failure_ = FOTEX_E_BOUNDS;
        else if (!(read_ ? AppendWithFacts(item, type) : list_.Append(item, type)))
            failure_ = E_OUTOFMEMORY;
        return FAILED(failure_) ? failure_ : current;
    }
    HRESULT ServiceFailure(HRESULT hr) override { return ServiceStatus(hr); }
    HRESULT failure() const { return failure_; }

private:
    bool AppendWithFacts(IWiaItem* item, LONG type) {
        ListedFacts facts{};
        TextPiece name{}, extension{}, full{};
        if (TextOf(values_[kNameAt], &name)) facts.texts |= ListedFacts::kName;
        if (TextOf(values_[kFullNameAt], &full)) facts.texts |= ListedFacts::kFullName;
        if (!TextOf(values_[kExtensionAt], &extension)) extension = {};
        const PROPVARIANT& time = values_[kTimeAt];
        if (time.vt == (VT_VECTOR | VT_UI2) && time.caui.cElems >= 7 && time.caui.pElems != nullptr) {
            const USHORT* t = time.caui.pElems;  // year, month, day of week, day, hour, minute, second
            const uint16_t kept[6] = {t[0], t[1], t[3], t[4], t[5], t[6]};
            for (int i = 0; i < 6; ++i) facts.time[i] = kept[i];
            facts.texts |= ListedFacts::kTime;
        }
        for (int i = 0; i < ListedFacts::kNumbers; ++i)
            facts.numberStatus[i] = NumberOf(values_[kSizeAt + i], i == ListedFacts::kFormat, &facts.numbers[i]);
        facts.nameUnits = name.units;
        facts.extensionUnits = extension.units;
        facts.fullNameUnits = full.units;
        const WCHAR* const texts[3] = {name.text, extension.text, full.text};
        return list_.Append(item, type, facts, texts);
    }

    ListedItems& list_;
    PropVariants<kListingReads> values_;
    bool read_ = false;  // values_ holds the read of the item being visited
    uint32_t listed_ = 0;
    HRESULT failure_ = S_OK;
};

// The listed item at `index` with a reference of the call's own, so that a listing or a close
// run from a handler inside the call's service calls cannot take it away; or the status that
// says why there is none.
HRESULT HoldListed(FOTEX_DEVICE device, int index, ComPtr<IWiaItem>& item, LONG* type = nullptr) {
    const ListedItems* list = Lists().Find(ItemFromHandle(device));
    if (list == nullptr || index < 0 || static_cast<uint32_t>(index) >= list->count) return FOTEX_E_BOUNDS;
    const ListedItem& listed = list->items[index];
    listed.item->AddRef();
    item = ComPtr<IWiaItem>::attach(listed.item);
    if (type != nullptr) *type = listed.type;
    return S_OK;
}

// The listed item at `index` with the facts the listing kept, and its list; null when there is
// none or its facts were not read. Valid until the next call that may reach the service. The
// item's kept read (of ReadCameraItem) ends here, as with any call for the item.
const ListedItem* KeptFacts(FOTEX_DEVICE device, int index, const ListedItems** list) {
    for (int pass = 0; pass < 2; ++pass) {
        *list = Lists().Find(ItemFromHandle(device));
        if (*list == nullptr || index < 0 || static_cast<uint32_t>(index) >= (*list)->count) return nullptr;
        const ListedItem& listed = (*list)->items[index];
        if (!listed.known) return nullptr;
        if (pass == 1) return &listed;
        // Found again after: what is dropped may release a reference, and a handler run meanwhile
        // may list again.
        ForgetKeptRead(listed.item);
    }
    return nullptr;
}

// Reads properties of an item into `values`; S_OK when the first is there.
template <size_t N>
HRESULT ReadItem(IWiaItem* item, const PROPID (&ids)[N], PropVariants<N>& values) {
    ForgetKeptRead(item);
    ComPtr<IWiaPropertyStorage> storage;
    HRESULT hr = QueryPropertyStorage(item, storage);
    if (FAILED(hr)) return ServiceStatus(hr);
    PROPSPEC specs[N];
    for (size_t i = 0; i < N; ++i) specs[i] = PropSpecById(ids[i]);
    hr = Retrying([&] { return values.ReadFrom(storage.get(), specs); });
    if (FAILED(hr)) return ServiceStatus(hr);
    return values[0].vt == VT_EMPTY ? FOTEX_E_NOT_FOUND : S_OK;
}

// The text of a string value, or false for any other type.
bool TextOf(const PROPVARIANT& v, TextPiece* piece) {
    if (v.vt == VT_BSTR) {
        *piece = {v.bstrVal, v.bstrVal ? SysStringLen(v.bstrVal) : 0u};
        return true;
    }
    if (v.vt == VT_LPWSTR) {
        *piece = {v.pwszVal, v.pwszVal ? static_cast<uint32_t>(lstrlenW(v.pwszVal)) : 0u};
        return true;
    }
    return false;
}

void PutDigits(WCHAR* out, unsigned value, int digits) {
    for (int i = digits - 1; i >= 0; --i, value /= 10) out[i] = static_cast<WCHAR>(L'0' + value % 10);
}

// "YYYY-MM-DDThh:mm:ss" from the year, month, day, hour, minute and second.
void TimeText(const uint16_t (&t)[6], WCHAR (&text)[20]) {
    static const WCHAR kPattern[] = L"0000-00-00T00:00:00";
    for (int i = 0; i < 20; ++i) text[i] = kPattern[i];
    PutDigits(text, t[0] % 10000u, 4);
    for (int i = 1; i < 6; ++i) PutDigits(text + 2 + 3 * i, t[i] % 100u, 2);
}

// The same from a SYSTEMTIME held as a vector of WORDs, the service's form.
bool TimeOf(const PROPVARIANT& v, WCHAR (&text)[20]) {
    if (v.vt != (VT_VECTOR | VT_UI2) || v.caui.cElems < 7 || v.caui.pElems == nullptr) return false;
    const USHORT* t = v.caui.pElems;  // year, month, day of week, day, hour, minute, second, ms
    const uint16_t parts[6] = {t[0], t[1], t[3], t[4], t[5], t[6]};
    TimeText(parts, text);
    return true;
}

bool KnownText(int what) {
    return what == FOTEX_ITEM_FILE_NAME || what == FOTEX_ITEM_FULL_NAME || what == FOTEX_ITEM_TIME;
}
bool KnownValue(int what) { return what >= FOTEX_ITEM_TYPE && what <= FOTEX_ITEM_FORMAT; }

// The FOTEX_FORMAT_* code of a format, or FOTEX_FORMAT_NONE when the table has none.
int FormatCodeOf(const GUID& format) {
    for (int code = FOTEX_FORMAT_BMP; code <= FOTEX_FORMAT_RAWRGB; ++code)
        if (*LookUpFormat(code).format == format) return code;
    for (int code = FOTEX_FORMAT_AVI; code <= FOTEX_FORMAT_MPG; ++code)
        if (*LookUpFormat(code).format == format) return code;
    return FOTEX_FORMAT_NONE;
}

// A text of the item (`what` checked by the caller), read from the camera.
int ItemText(IWiaItem* item, int what, void* text, int bytes) {
    const PROPID first = what == FOTEX_ITEM_FILE_NAME   ? wia::kIpaItemName
                         : what == FOTEX_ITEM_FULL_NAME ? wia::kIpaFullItemName
                                                        : wia::kIpaItemTime;
    const PROPID ids[2] = {first, wia::kIpaFilenameExtension};
    PropVariants<2> values;
    const HRESULT hr = ReadItem(item, ids, values);
    if (hr != S_OK) return FailureStatus(hr);

    if (what == FOTEX_ITEM_TIME) {
        WCHAR time[20];
        if (!TimeOf(values[0], time)) return FOTEX_E_NOT_FOUND;
        const TextPiece piece = {time, 19};
        return PutText(text, bytes, &piece, 1);
    }
    TextPiece pieces[3] = {};
    if (!TextOf(values[0], &pieces[0])) return FOTEX_E_NOT_FOUND;
    int count = 1;
    if (what == FOTEX_ITEM_FILE_NAME && TextOf(values[1], &pieces[2]) && pieces[2].units > 0) {
        pieces[1] = {L".", 1};
        count = 3;
    }
    return PutText(text, bytes, pieces, count);
}

// A number of an item as the service gave it, into *value: S_OK, FOTEX_E_NOT_FOUND (none, or
// none of the kind: a format is a GUID, the others any integer type) or FOTEX_E_OVERFLOW.
int NumberOf(const PROPVARIANT& v, bool format, int* value) {
    if (format) {
        if (v.vt != VT_CLSID || v.puuid == nullptr) return FOTEX_E_NOT_FOUND;
        *value = FormatCodeOf(*v.puuid);
        return S_OK;
    }
    const HRESULT hr = IntValue(v, value, false);
    return hr == FOTEX_E_TYPE ? FOTEX_E_NOT_FOUND : hr;
}

// A number of the item other than its type, read from the camera.
int ItemValue(IWiaItem* item, int what, int* value) {
    const PROPID ids[1] = {what == FOTEX_ITEM_SIZE          ? wia::kIpaItemSize
                           : what == FOTEX_ITEM_THUMB_WIDTH  ? wia::kIpcThumbWidth
                           : what == FOTEX_ITEM_THUMB_HEIGHT ? wia::kIpcThumbHeight
                                                             : wia::kIpaPreferredFormat};
    PropVariants<1> values;
    HRESULT hr = ReadItem(item, ids, values);
    if (hr == S_OK) hr = NumberOf(values[0], what == FOTEX_ITEM_FORMAT, value);
    return hr == S_OK ? FOTEX_OK : FailureStatus(hr);
}

// A text of a listed item from what the listing kept.
int KeptText(const ListedItems& list, const ListedFacts& facts, int what, void* text, int bytes) {
    if (what == FOTEX_ITEM_TIME) {
        if ((facts.texts & ListedFacts::kTime) == 0) return FOTEX_E_NOT_FOUND;
        WCHAR time[20];
        TimeText(facts.time, time);
        const TextPiece piece = {time, 19};
        return PutText(text, bytes, &piece, 1);
    }
    const WCHAR* name = list.text + facts.text;
    if (what == FOTEX_ITEM_FULL_NAME) {
        if ((facts.texts & ListedFacts::kFullName) == 0) return FOTEX_E_NOT_FOUND;
        const TextPiece piece = {name + facts.nameUnits + facts.extensionUnits, facts.fullNameUnits};
        return PutText(text, bytes, &piece, 1);
    }
    if ((facts.texts & ListedFacts::kName) == 0) return FOTEX_E_NOT_FOUND;
    const TextPiece pieces[3] = {{name, facts.nameUnits}, {L".", 1}, {name + facts.nameUnits, facts.extensionUnits}};
    return PutText(text, bytes, pieces, facts.extensionUnits > 0 ? 3 : 1);
}

// A number of a listed item other than its type, from what the listing kept.
int KeptValue(const ListedFacts& facts, int what, int* value) {
    const int at = what == FOTEX_ITEM_SIZE          ? ListedFacts::kSize
                   : what == FOTEX_ITEM_THUMB_WIDTH  ? ListedFacts::kThumbWidth
                   : what == FOTEX_ITEM_THUMB_HEIGHT ? ListedFacts::kThumbHeight
                                                     : ListedFacts::kFormat;
    if (facts.numberStatus[at] != S_OK) return facts.numberStatus[at];
    *value = facts.numbers[at];
    return FOTEX_OK;
}

}  // namespace

HRESULT ListInto(IWiaItem* root, ListedItems& list) {
    ListVisitor visitor(list);
    const HRESULT hr = WalkItemTreeInBatches(root, visitor);
    return hr == S_OK ? visitor.failure() : hr;
}

}  // namespace fotex

using namespace fotex;

extern "C" int FOTEX_CALL ListCameraItems(FOTEX_DEVICE device, int* count) {
    if (device == 0) return FOTEX_E_HANDLE;
    if (count == nullptr) return FOTEX_E_POINTER;
    // The list belongs to the handle, whichever root its calls reach after a reconnect.
    IWiaItem* const key = ItemFromHandle(device);
    ForgetKeptRead(key);
    return OnDevice(device, [&](IWiaItem* root) {
        ListedItems built;
        uint32_t serial = 0;
        if (!Lists().Begin(key, built, serial)) return static_cast<int>(E_OUTOFMEMORY);

        const HRESULT hr = ListInto(root, built);
        if (hr != S_OK) built.Release();  // a failed list is empty
        const uint32_t listed = built.count;
        Lists().Publish(key, serial, built);
        if (hr != S_OK) return FailureStatus(hr);
        *count = static_cast<int>(listed);
        return FOTEX_OK;
    });
}

extern "C" int FOTEX_CALL GetCameraItemText(FOTEX_DEVICE device, int index, int what, void* text, int bytes) {
    if (device == 0) return FOTEX_E_HANDLE;
    if (text == nullptr) return FOTEX_E_POINTER;
    if (!KnownText(what)) return FOTEX_E_INVALIDARG;
    const ListedItems* list = nullptr;
    if (const ListedItem* listed = KeptFacts(device, index, &list)) return KeptText(*list, listed->facts, what, text, bytes);
    ComPtr<IWiaItem> item;
    const HRESULT hr = HoldListed(device, index, item);
    if (hr != S_OK) return hr;
    return ItemText(item.get(), what, text, bytes);
}

extern "C" int FOTEX_CALL GetCameraItemValue(FOTEX_DEVICE device, int index, int what, int* value) {
    if (device == 0) return FOTEX_E_HANDLE;
    if (value == nullptr) return FOTEX_E_POINTER;
    if (!KnownValue(what)) return FOTEX_E_INVALIDARG;
    const ListedItems* list = nullptr;
    if (what != FOTEX_ITEM_TYPE)
        if (const ListedItem* listed = KeptFacts(device, index, &list)) return KeptValue(listed->facts, what, value);
    ComPtr<IWiaItem> item;
    LONG type = 0;
    const HRESULT hr = HoldListed(device, index, item, &type);
    if (hr != S_OK) return hr;
    if (what == FOTEX_ITEM_TYPE) {
        *value = static_cast<int>(type);
        return FOTEX_OK;
    }
    return ItemValue(item.get(), what, value);
}

extern "C" int FOTEX_CALL GetItemText(FOTEX_ITEM item, int what, void* text, int bytes) {
    if (item == 0) return FOTEX_E_HANDLE;
    if (text == nullptr) return FOTEX_E_POINTER;
    if (!KnownText(what)) return FOTEX_E_INVALIDARG;
    const ComPtr<IWiaItem> held = HoldHandle(item);
    return ItemText(held.get(), what, text, bytes);
}

extern "C" int FOTEX_CALL GetItemValue(FOTEX_ITEM item, int what, int* value) {
    if (item == 0) return FOTEX_E_HANDLE;
    if (value == nullptr) return FOTEX_E_POINTER;
    if (!KnownValue(what)) return FOTEX_E_INVALIDARG;
    const ComPtr<IWiaItem> held = HoldHandle(item);
    if (what != FOTEX_ITEM_TYPE) return ItemValue(held.get(), what, value);
    ForgetKeptRead(held.get());
    LONG type = 0;
    const HRESULT hr = Retrying([&] { return held->GetItemType(&type); });
    if (hr != S_OK) return FailureStatus(ServiceStatus(hr));
    *value = static_cast<int>(type);
    return FOTEX_OK;
}

extern "C" int FOTEX_CALL OpenCameraItem(FOTEX_DEVICE device, int index, FOTEX_ITEM* item) {
    if (device == 0) return FOTEX_E_HANDLE;
    if (item == nullptr) return FOTEX_E_POINTER;
    ComPtr<IWiaItem> listed;
    const HRESULT hr = HoldListed(device, index, listed);
    if (hr != S_OK) return hr;
    *item = HandleFromItem(listed.detach());
    return FOTEX_OK;
}

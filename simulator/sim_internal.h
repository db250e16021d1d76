// What the virtual camera's objects share. Every object holds the Core by shared_ptr, so an
// object released after its Camera is gone still has its counters and ledger to report to.
#pragma once

#include "fotexsim.h"
#include "wia_ids.h"

#include <atomic>
#include <mutex>

namespace fotexsim {

constexpr HRESULT kItemDeleted = fotex::wia::kWiaErrorItemDeleted;
constexpr HRESULT kNoDevice = fotex::wia::kWiaNoDeviceAvailable;

struct Tracked;
struct Core;
struct EventLink;

// Names a device without pointing into Camera::devices, which may grow or vanish. The root
// item is the identity; the index is only where it was last seen.
struct DeviceRef {
    std::shared_ptr<Item> root;
    size_t hint = 0;
};

struct Core {
    Camera* camera = nullptr;  // null once the camera is destroyed
    std::array<int, kOpCount> calls{};  // since ClearLog
    std::array<long, kOpCount> seq{};   // never reset: the fault plan counts from it
    std::vector<Op> log;
    bool logging = true;

    struct Fault {
        Op op;
        HRESULT hr;
        long first, last;  // call numbers in `seq`, inclusive
    };
    std::vector<Fault> faults;
    long cutAt = 0;  // the GetData call (in `seq`) that Camera::CutTransfer cuts
    HRESULT cutHr = S_OK;
    long spoilFrom = 0;  // the GetBandedData call (in `seq`) from which Camera::SpoilBands acts
    int spoil = 0;       // a Camera::BandFault

    Tracked* head = nullptr;
    Tracked* tail = nullptr;
    long created = 0;
    long stringsOut = 0;
    long valuesOut = 0;
    int nextPicture = 1;
    bool dirty = false;              // see Camera::SetDirtyFailures
    std::vector<Tracked*> strays;    // left in failing calls' outputs; the core holds one reference
    LastCalls orphanLast;  // where calls land once the camera is gone

    // Event registrations and the hidden window of each registering thread; read by whichever
    // thread raises an event.
    std::mutex eventLock;
    std::vector<std::shared_ptr<EventLink>> links;
    std::map<DWORD, HWND> windows;
    std::atomic<long> delivered{0};
    std::atomic<long> pending{0};
    std::atomic<DWORD> deliveryThread{0};  // of the last callback made

    LastCalls& last() { return camera ? camera->last : orphanLast; }
    // Counts the call; true when the fault plan claims it, with the planned result in *hr.
    bool Faulted(Op op, HRESULT* hr);
    Device* Locate(DeviceRef& ref);
    // Fault, then an offline or vanished device, then a deleted item (when one is given).
    bool Stop(Op op, DeviceRef& ref, const Item* item, HRESULT* hr);
    bool Unavailable(DeviceRef& ref, const Item* item, HRESULT* hr);
    // Posts the event to every registration for it on this device or on all devices.
    void Raise(const GUID& event, const Device& device, const std::wstring& itemName);

    // In dirty mode, `*out` receives an object from `make` that the caller does not own.
    template <class I, class Make>
    void LeaveStray(I** out, Make make) {
        if (!dirty || !out) return;
        auto* object = make();
        object->stray = true;
        strays.push_back(object);
        *out = object;
    }
    // In dirty mode, a string the caller must not free (it is not counted as handed out).
    BSTR StrayString() { return dirty ? SysAllocString(L"stray") : nullptr; }
};

struct Camera::State {
    std::shared_ptr<Core> core = std::make_shared<Core>();
};

// One live object as the ledger keeps it: linked in on construction, out on destruction.
struct Tracked {
    Tracked(std::shared_ptr<Core> core, const char* kind, std::wstring label);
    virtual ~Tracked();
    Tracked(const Tracked&) = delete;
    Tracked& operator=(const Tracked&) = delete;

    std::shared_ptr<Core> core;
    const char* kind;
    std::wstring label;
    ULONG refs = 1;
    bool stray = false;  // held by the core, never handed over: it outlives a release to 0
    Tracked* prev = nullptr;
    Tracked* next = nullptr;
};

// The class factory registered for CLSID_WiaDevMgr; it serves Camera::Current(). COM holds it,
// not the client, so it stays out of the ledger.
IClassFactory* NewClassFactory();

// Events (events.cpp). A registration's link, with its thread's window made when needed; null
// with the failure in *hr. Unsubscribe ends the deliveries still on their way too.
std::shared_ptr<EventLink> Subscribe(const std::shared_ptr<Core>& core, const GUID& event, BSTR deviceId,
                                     IWiaEventCallback* callback, HRESULT* hr);
void Unsubscribe(Core& core, const std::shared_ptr<EventLink>& link);
// Destroys the windows of the calling thread with what is still posted to them.
void CloseEventWindows(Core& core);
// An IUnknown whose last release ends the registration (device_manager.cpp).
IUnknown* NewEventRegistration(std::shared_ptr<Core> core, std::shared_ptr<EventLink> link);

// A new picture in the first folder of the device (or its root), counted in the device's
// counters, with ITEM_CREATED raised.
// `name`: the new item's name instead of the camera's own numbering.
std::shared_ptr<Item> TakeNewPicture(Core& core, Device& device, const std::wstring* name = nullptr);

// Item-tree operations shared by the camera and the item objects; none of them recurses.
void AddTransferProperties(Item& item);
void DetachItem(Item& item);           // flags the subtree deleted and takes it off its parent
void DeleteAllMedia(Item& root);       // every image and video item of the tree
bool AcceptsFormat(const Item& item, const GUID& format);
// The formats an item offers: its own list, or those of its type.
std::vector<GUID> OfferedFormats(const Item& item);
// The item's part of its full name.
inline const std::wstring& KeyOf(const Item& item) { return item.key.empty() ? item.name : item.key; }
const char* FormatName(const GUID& format);  // "BMP", ...; null for an unknown format

const wchar_t* FormatExtension(const GUID& format);  // "jpg", ...; null for an unknown format

// A generated item's data in `format`: a picture in BMP, PNG or JPEG, or a video as a
// one-frame Motion-JPEG AVI. E_INVALIDARG for a format the item does not offer.
HRESULT ItemBytes(const Item& item, const GUID& format, std::vector<unsigned char>& bytes);

// An item's bytes read in order (transfer_steps.cpp): a generated item's from memory, a folder
// camera's from its file, which may be larger than memory.
class ItemSource {
public:
    ItemSource() = default;
    ItemSource(const ItemSource&) = delete;
    ItemSource& operator=(const ItemSource&) = delete;
    ~ItemSource();
    HRESULT Open(const Item& item, const GUID& format);
    uint64_t size() const { return size_; }
    HRESULT Read(uint8_t* out, DWORD count);

private:
    std::vector<unsigned char> bytes_;
    HANDLE file_ = INVALID_HANDLE_VALUE;
    uint64_t size_ = 0, at_ = 0;
};

// How a transfer hands its data over: in steps of `band` bytes, at most `rate` bytes a second
// (0: at once), reporting each step to `callback` when there is one: as data (IT_MSG_DATA, after
// a header) when `banded`, else as status. A report at 0 comes first.
struct Steps {
    IWiaDataCallback* callback = nullptr;
    bool banded = false;
    GUID format{};
    uint64_t band = 64 * 1024;
    int rate = 0;
    Camera::BandFault fault = Camera::BandFault::None;
    uint64_t stopAfter = UINT64_MAX;  // the device goes away after this many bytes: WIA_ERROR_OFFLINE
};
// Moves the source through `sink` step by step. S_FALSE when the callback cancelled (answered
// S_FALSE); the callback's failure or the sink's as they come.
HRESULT StepThrough(ItemSource& source, const Steps& steps, const std::function<HRESULT(const uint8_t*, DWORD)>& sink);

// Item contents (contents.cpp): the value of a property the item computes when read, false when
// it has none; the item of a device with that full name, or null.
bool ComputedProperty(const Device* device, Item& item, PROPID id, Value* out);
std::shared_ptr<Item> FindByFullName(const Device& device, const wchar_t* fullName);

// Thumbnails as WIA_IPC_THUMBNAIL gives them: the pixels of a 24-bit bottom-up DIB, BGR, each
// row padded to four bytes. From a generated item, and from RGB rows top row first.
std::vector<unsigned char> RenderThumbnail(const Item& item);
std::vector<unsigned char> DibFromRgb(const std::vector<unsigned char>& rgb, int w, int h);
// Decodes a JPEG, PNG, BMP or GIF file's bytes into RGB rows (stb_image); false when it cannot.
bool DecodePicture(const std::vector<unsigned char>& file, std::vector<unsigned char>& rgb, int* w, int* h);
// Writes all of `data` to the file; a write the file system takes only part of fails as the
// service reports a full disk (HRESULT_FROM_WIN32(ERROR_DISK_FULL)).
HRESULT WriteWhole(HANDLE file, const void* data, size_t size);
// The dialog's picture: a JPEG.
HRESULT WriteDialogPicture(uint32_t seed, const wchar_t* path);

// Encoders over 8-bit RGB rows, top row first (stb_image_write).
bool EncodeBmp(std::vector<unsigned char>& out, int w, int h, const unsigned char* rgb);
bool EncodePng(std::vector<unsigned char>& out, int w, int h, const unsigned char* rgb);
bool EncodeJpeg(std::vector<unsigned char>& out, int w, int h, const unsigned char* rgb);
// A one-frame video: the picture as a Motion-JPEG AVI.
bool EncodeAvi(std::vector<unsigned char>& out, int w, int h, const unsigned char* rgb);

}  // namespace fotexsim

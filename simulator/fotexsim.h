// The virtual camera: a simulated image-acquisition service that a host registers in its own
// process for CLSID_WiaDevMgr. Devices, item trees, typed properties and capabilities are plain
// data set up in a few lines; every operation can be made to fail on its n-th call; every call is
// counted and every object handed out keeps a ledger of its live references.
#pragma once

#include <windows.h>
#include <wia.h>

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace fotexsim {

// Every service operation the virtual camera offers, as the fault plan and the call log name them.
enum class Op {
    CreateInstance,          // the class factory creating a device manager
    EnumDeviceInfo,          // IWiaDevMgr::EnumDeviceInfo
    DevInfoReset,            // IEnumWIA_DEV_INFO::Reset
    DevInfoNext,             // IEnumWIA_DEV_INFO::Next
    CreateDevice,            // IWiaDevMgr::CreateDevice
    GetImageDlg,             // IWiaDevMgr::GetImageDlg
    QueryPropertyStorage,    // QueryInterface(IID_IWiaPropertyStorage) on an item
    QueryDataTransfer,       // QueryInterface(IID_IWiaDataTransfer) on an item
    ReadMultiple,            // IWiaPropertyStorage::ReadMultiple (device info and items)
    WriteMultiple,           // IWiaPropertyStorage::WriteMultiple
    GetItemType,             // IWiaItem::GetItemType
    EnumChildItems,          // IWiaItem::EnumChildItems
    ItemNext,                // IEnumWiaItem::Next
    DeleteItem,              // IWiaItem::DeleteItem
    DeviceCommand,           // IWiaItem::DeviceCommand
    EnumDeviceCapabilities,  // IWiaItem::EnumDeviceCapabilities
    CapsReset,               // IEnumWIA_DEV_CAPS::Reset
    CapsGetCount,            // IEnumWIA_DEV_CAPS::GetCount
    CapsNext,                // IEnumWIA_DEV_CAPS::Next
    GetData,                 // IWiaDataTransfer::idtGetData
    GetBandedData,           // IWiaDataTransfer::idtGetBandedData
    FindItemByName,          // IWiaItem::FindItemByName
    GetPropertyAttributes,   // IWiaPropertyStorage::GetPropertyAttributes
    RegisterEventCallback,   // IWiaDevMgr::RegisterEventCallbackInterface
    Count
};
constexpr int kOpCount = static_cast<int>(Op::Count);
const char* OpName(Op op);

// A typed property value, as the service hands it out in a PROPVARIANT.
struct Value {
    VARTYPE type = VT_EMPTY;
    int32_t i = 0;      // VT_I4, VT_UI4 (bit pattern), VT_UI2 and the other integers to 32 bits
    int64_t l = 0;      // VT_I8, VT_UI8
    std::wstring s;     // VT_BSTR
    bool nullString = false;  // VT_BSTR with a null BSTR
    GUID guid{};        // VT_CLSID
    std::vector<uint16_t> words;  // VT_VECTOR | VT_UI2
    std::vector<uint8_t> bytes;   // VT_VECTOR | VT_UI1

    static Value Empty() { return {}; }
    static Value Int(int32_t v) { Value x; x.type = VT_I4; x.i = v; return x; }
    static Value UInt(uint32_t v) { Value x; x.type = VT_UI4; x.i = static_cast<int32_t>(v); return x; }
    static Value UShort(uint16_t v) { Value x; x.type = VT_UI2; x.i = v; return x; }
    static Value Int64(int64_t v) { Value x; x.type = VT_I8; x.l = v; return x; }
    // Any integer type: VT_I1, VT_UI1, VT_I2, VT_UI2, VT_I4, VT_UI4, VT_INT, VT_UINT in `i`
    // (cut to the type), VT_I8 and VT_UI8 in `l`.
    static Value Integer(VARTYPE t, int64_t v) {
        Value x;
        x.type = t;
        if (t == VT_I8 || t == VT_UI8) x.l = v;
        else x.i = static_cast<int32_t>(v);
        return x;
    }
    static Value Text(std::wstring v) { Value x; x.type = VT_BSTR; x.s = std::move(v); return x; }
    static Value NullText() { Value x; x.type = VT_BSTR; x.nullString = true; return x; }
    static Value Guid(const GUID& g) { Value x; x.type = VT_CLSID; x.guid = g; return x; }
    static Value Words(std::vector<uint16_t> v) { Value x; x.type = VT_VECTOR | VT_UI2; x.words = std::move(v); return x; }
    static Value Bytes(std::vector<uint8_t> v) { Value x; x.type = VT_VECTOR | VT_UI1; x.bytes = std::move(v); return x; }
};
bool operator==(const Value& a, const Value& b);

// One property of a storage. A write is refused (E_ACCESSDENIED) when read-only, and refused
// (E_INVALIDARG) when the value's type differs from `writeType` or, for integers, is not among
// `allowed`, outside `range` (unsigned for VT_UI4) or has bits outside `flags`. GetPropertyAttributes reports the
// same limits (the list first, then the range, then the flags) with `nominal`.
struct Property {
    Value value;
    bool readOnly = false;
    VARTYPE writeType = VT_EMPTY;     // VT_EMPTY: the type of `value`
    std::vector<int32_t> allowed;     // integers only; empty: any value
    struct Range {
        bool on = false;
        int32_t min = 0, max = 0, step = 1;  // min, min + step, ... up to max
    } range;
    struct Flags {
        bool on = false;
        uint32_t mask = 0;            // the bits that may be set
    } flags;
    int32_t nominal = 0;

    // Whether a write of the integer `v` passes the limits.
    bool Accepts(int32_t v) const;
    // No limits at all: any value of the type.
    void ClearLimits();
};
using PropertyMap = std::map<PROPID, Property>;

// One item of a device's tree. Besides `props`, every item answers reads of its name, full name
// and time (WIA_IPA_ITEM_NAME, _FULL_ITEM_NAME, _ITEM_TIME), and image and video items of their
// size, file name extension and thumbnail (WIA_IPA_ITEM_SIZE, _FILENAME_EXTENSION, WIA_IPC_THUMBNAIL,
// _THUMB_WIDTH, _THUMB_HEIGHT), computed from the fields below when read. An entry in `props`
// overrides such a value; an id in `lacks` removes it.
struct Item {
    std::wstring name;
    // The item's part of its full name when that differs from `name`: the folder camera's
    // RAW+JPEG pair shares a name, and the full name is each one's identity.
    std::wstring key;
    LONG type = 0;                    // WiaItemType flags
    PropertyMap props;
    std::vector<PROPID> lacks;        // computed properties this item does not have
    SYSTEMTIME time{};                // WIA_IPA_ITEM_TIME
    int thumbWidth = 160, thumbHeight = 120;  // thumbnail size of a generated picture
    std::wstring file;                // the folder camera: the file whose bytes the item gives
    // What the folder camera has worked out once: the thumbnail (empty when the file is no
    // picture it can decode) and its size.
    std::shared_ptr<const std::vector<uint8_t>> thumbnail;
    bool thumbnailMade = false;
    // The service object of this item while one lives: enumerations and searches hand the same
    // object out again, as a real service's proxies keep one identity per item. Not copied.
    struct HandedOut {
        IWiaItem* object = nullptr;
        HandedOut() = default;
        HandedOut(const HandedOut&) {}
        HandedOut& operator=(const HandedOut&) { return *this; }
    } handedOut;
    std::vector<std::shared_ptr<Item>> children;
    // Formats the item offers; empty: those of its type (a picture BMP, PNG and JPEG, a video
    // AVI, a folder or a sound none). A write of any other to WIA_IPA_FORMAT is refused.
    std::vector<GUID> formats;
    uint32_t seed = 0;                // picks the picture's colours
    bool raw = false;                 // a generated RAW file: the picture's pixels under a header of the camera's own
    int width = 160, height = 120;    // picture size in pixels
    bool deleted = false;
    bool endless = false;             // a faulty driver: its children enumerator never ends
    Item* parent = nullptr;
    // Deleted children still flagged in a long `children` list; swept once they are half of it,
    // so deleting a whole flat folder one item at a time stays linear. Short lists are exact.
    size_t deletedChildren = 0;

    Item() = default;
    Item(const Item&) = default;
    Item& operator=(const Item&) = default;
    // Tears the subtree down without recursion: trees may be 100,000 levels deep.
    ~Item();

    // Adds a child with the transfer properties (the first format its type offers, else JPEG;
    // medium TYMED_NULL) and returns it, for building trees in a few lines.
    Item& Add(std::wstring childName, LONG childType);
};

// One command the device offers.
struct Capability {
    GUID command{};
    LONG flags = 0;
    std::wstring name, description, icon, commandline;
};

struct Device {
    std::wstring id, name, description;
    PropertyMap info;                 // device-information storage; ids 2, 7, 4 from the three texts
    std::shared_ptr<Item> root;       // root item: camera properties and the picture tree
    std::vector<Capability> capabilities;
    bool present = true;              // false: listed, but CreateDevice fails (detached)
    int transferRate = 0;             // bytes a second a transfer takes at most; 0: full speed
    bool offline = false;             // true: every call on its objects fails with WIA_ERROR_OFFLINE
    // How the device's item events (ITEM_CREATED, ITEM_DELETED, TREE_UPDATED) reach hosts, as
    // cameras and the layers between them behave: all; none (the WIA-WPD layer may pass none);
    // a share lost; each twice; each late; or, for a picture, first a temporary item that the
    // camera deletes before its ITEM_CREATED is delivered (a capture into the camera's memory,
    // then onto the card). Connection events always come.
    struct Events {
        enum Mode : int32_t { All = 0, None = 1, Lost = 2, Twice = 3, Late = 4, DeletedFirst = 5, Count = 6 };
        int32_t mode = All;
        int32_t value = 0;             // Lost: the share lost in percent (1 to 100); Late: milliseconds
        mutable uint32_t raised = 0;   // item events raised so far: Lost spreads its share over them
    } events;
    // A camera's conditions (Camera::SetCondition): every call on its objects answers
    // WIA_ERROR_BUSY while it works after a shot or another program holds it, WIA_ERROR_OFFLINE
    // while it sleeps (it stays listed, but cannot be opened).
    int busyAfterShot = 0;            // milliseconds of work after each picture taken
    ULONGLONG busyUntil = 0;          // GetTickCount64 value the current work ends at
    bool held = false;
    bool asleep = false;
    int64_t unplugAfter = -1;         // >= 0: unplugged once transfers moved this many more bytes
    // How the device's contents reach hosts: as the camera's own tree, or as Windows' layer over
    // the PTP/MTP driver presents a real camera (Camera::SetProfile).
    enum class Profile : int32_t { Tree = 0, Ptp = 1 };
    Profile profile = Profile::Tree;
    uint32_t nextObject = 1;           // the PTP profile: the next object's number, in generated names
};

// Arguments of the last calls that tests look at.
struct LastCalls {
    LONG enumDeviceInfoFlag = -1;
    std::wstring createDeviceId;
    struct Dialog {
        HWND parent = nullptr;
        LONG deviceType = 0, flags = 0, intent = 0;
        IWiaItem* root = nullptr;
        std::wstring fileName;
        bool fileNameNull = true;
        GUID format{};
        bool formatNull = true;
    } dialog;
    struct Write {
        std::vector<PROPSPEC> specs;  // lpwstr members are not kept
        std::vector<Value> values;
        PROPID nameFirst = 0;
    } write;
    std::vector<PROPID> read;
    struct Command {
        LONG flags = -1;
        GUID command{};
        bool itemOut = false;         // an item-pointer address was given
    } command;
    struct Registration {
        LONG flags = -1;
        bool deviceIdNull = true;
        std::wstring deviceId;
        std::vector<GUID> events;     // every event registered for while logging, in order
    } registration;
    LONG capsFlag = -1;
    LONG deleteFlags = -1;
    struct GetData {
        DWORD tymed = 0xFFFFFFFF;
        std::wstring fileName;
        bool fileNameNull = true;
        bool callback = false;
        bool releaseObject = false;
        GUID format{};
    } getData;
};

// One object handed out, as the ledger sees it.
struct LiveObject {
    const char* kind;  // "DevMgr", "EnumDevInfo", "DevInfoStorage", "Item", "ItemStorage", ...
    std::wstring item; // the item's name, where there is one
    ULONG refs;
};

class Camera {
public:
    Camera();
    ~Camera();
    Camera(const Camera&) = delete;
    Camera& operator=(const Camera&) = delete;

    // The one camera that the registered factory serves. Null when none exists.
    static Camera* Current();

    // --- scenario -------------------------------------------------------------------------------
    std::vector<Device> devices;
    HRESULT dialogResult = S_OK;     // what GetImageDlg returns; S_OK writes a JPEG to the name given
    HRESULT factoryResult = S_OK;    // what the factory's CreateInstance returns when not S_OK
    bool endlessDevices = false;     // a faulty service: the device enumerator starts over, never ends
    // Called at every counted call, before the fault plan: a test acts while the service works
    // (another program saving a file in the middle of a transfer, say).
    std::function<void(Op)> onCall;

    // A device with the three identity texts, a root item with the camera properties of a
    // typical camera, and take-picture, delete-all and synchronize capabilities.
    Device& AddDevice(std::wstring id, std::wstring name, std::wstring description);
    // AddDevice plus a DCIM folder with `pictures` images and one video.
    Device& AddStandardCamera(std::wstring id, std::wstring name, std::wstring description,
                              int pictures = 3);
    // The scenario FotexSim.dll registers: one camera with pictures, settings and commands.
    void LoadDefaultScenario();

    // --- fault plan -----------------------------------------------------------------------------
    // The `nth` call (1-based, counted from now) of `op` returns `hr` instead of working, and
    // the `times - 1` calls after it too (times < 0: every call from then on). A faulted call does
    // nothing else: its out-pointers are cleared and no object is handed out, so a fault of S_OK
    // on an operation that yields an object means "succeeds but yields nothing".
    void FailOn(Op op, HRESULT hr, int nth = 1, int times = 1);
    void ClearFaults();
    // The `nth` transfer (idtGetData) from now writes the first half of its file, then fails with
    // `hr`, as a service that loses the device part-way through.
    void CutTransfer(HRESULT hr, int nth = 1);
    // A faulty service's memory transfers. From the `nth` one (idtGetBandedData) from now on:
    // Overlong: the second band says it carries more bytes (lLength) than its buffer holds
    //   (lResLength, half of them);
    // Gap: the second band is never sent, the later ones keep their offsets;
    // OtherFormat: the data header names another format than the one set (BMP, or PNG when
    //   BMP was set).
    // The service goes on whatever the callback answers, except a cancel (S_FALSE), and ends
    // with S_OK. None: every transfer is sound again.
    enum class BandFault { None, Overlong, Gap, OtherFormat };
    void SpoilBands(BandFault fault, int nth = 1);
    // Dirty failures: a call that fails (a negative result, or an enumerator's Next that fetches
    // nothing) leaves its outputs as a careless service does: object slots hold a live object the
    // caller does not own, values hold strings the caller must not free, item types hold every
    // flag. The ledger counts a stray object's references beyond its own one, so releasing or
    // keeping it shows, and such strings are not counted as handed out.
    void SetDirtyFailures(bool on);
    // Frees the strays left so far, once the ledger has been checked.
    void ReleaseStrays();

    // --- call log -------------------------------------------------------------------------------
    int Calls(Op op) const;
    int TotalCalls() const;
    const std::vector<Op>& Log() const;  // in order; kept while logging is on
    void ClearLog();
    void SetLogging(bool on);            // counting never stops
    LastCalls last;

    // --- reference ledger -----------------------------------------------------------------------
    long LiveReferences() const;         // sum of the references of every live object
    std::vector<LiveObject> LiveObjects() const;
    std::string Describe() const;        // the live objects, one per line, for failure messages
    long ObjectsCreated() const;
    // Strings handed out (in read values and capability records) for the caller to free, and
    // reads that handed values out; a caller's frees should match them.
    long StringsHandedOut() const;
    long ValuesHandedOut() const;

    // --- registration ---------------------------------------------------------------------------
    // CoRegisterClassObject(CLSID_WiaDevMgr, ..., CLSCTX_LOCAL_SERVER, REGCLS_MULTIPLEUSE) on
    // the calling thread, which must have initialised COM.
    HRESULT Register();
    void Revoke();

    // --- events ---------------------------------------------------------------------------------
    // Each registration (IWiaDevMgr::RegisterEventCallbackInterface) is served by a hidden
    // window of the registering thread: an event raised on any thread is posted there, and the
    // callback is called when that thread dispatches its messages, as the service's calls reach
    // a single-threaded apartment. Captures, deletions, delete-all, unplugging and plugging in
    // raise their events; these may be called from any thread while no other thread is inside
    // a call to the camera.
    // A picture taken with the camera's own button: a new item and ITEM_CREATED. Null when
    // there is no such device or it is unplugged.
    Item* PressShutter(size_t device);
    // The same with the name the camera gives the picture, any text at all, and its file name
    // extension when not null: a camera, or a device posing as one, may name files as it likes.
    Item* PressShutter(size_t device, const std::wstring& name, const std::wstring* extension);
    // Unplugging makes the device offline (every call on its objects fails) and raises
    // DEVICE_DISCONNECTED; plugging in undoes it and raises DEVICE_CONNECTED. False when there
    // is no such device or it is already in that state.
    bool Unplug(size_t device);
    bool PlugIn(size_t device);
    // The device's event mode (Device::Events) with its value: the share lost (1 to 100) for
    // Lost, milliseconds (0 to 600,000) for Late, 0 for the others. False when there is no such
    // device or the mode or value is not one of these.
    bool SetEventMode(size_t device, int mode, int value);
    // Conditions a real camera meets; `value` as each says. False when there is no such device or
    // the value makes no sense. PlugInAnew: back with the same id and a new root item (a copy
    // of its tree), so the objects handed out before answer WIA_ERROR_OFFLINE, as after the
    // driver started over; DEVICE_CONNECTED is raised.
    enum class Condition {
        BusyAfterShot = 1,     // value: milliseconds, 0 ends it
        Held = 2,              // value: 1 held by another program, 0 free
        Asleep = 3,            // value: 1 asleep, 0 woken
        UnplugAfterBytes = 4,  // value: bytes the transfers move before it; -1 cancels
        PlugInAnew = 5,        // value unused; the device must be unplugged
    };
    bool SetCondition(size_t device, Condition condition, int value);
    // Presents the device's contents as `profile` (a Device::Profile) from now on: Ptp flattens
    // every folder into the root (names stay without extension), gives a
    // nameless object "Image" and its number, turns formats WIA has no GUID for into
    // WiaImgFmt_UNDEFINED (bytes unchanged), gives every picture and video a thumbnail, and makes
    // each generated picture a RAW+JPEG pair (a RAW item "nef" before the JPEG of the same name),
    // its later pictures too. The presented items are new objects: those handed out before are
    // gone. Of the items sharing a name, the first in the camera's order keeps
    // the name as its part of the full name; each later one adds "." and its extension, and a
    // number ("~2") before the dot when that is taken too. False when there is no such device,
    // no such profile, or the device is in the Ptp profile already and Tree is asked (a camera's
    // driver does not change under it).
    bool SetProfile(size_t device, int profile);
    // Raises any event for a device, with an item name or none.
    void RaiseEvent(const GUID& event, size_t device, const std::wstring& itemName = L"");
    long EventRegistrations() const;  // live registrations
    long EventsDelivered() const;     // callbacks made
    long EventsPending() const;       // posted, not yet dispatched
    DWORD LastDeliveryThread() const; // the thread that received the last callback

    // --- helpers for tests ----------------------------------------------------------------------
    Device* FindDevice(const std::wstring& id);
    // Items of a device, depth first, not counting the root; deleted items are gone.
    std::vector<Item*> ItemsOf(const Device& device);

    // A camera whose items are the picture and video files under `folder` (JPEG, PNG, BMP, GIF,
    // TIFF, AVI, MPEG), its subfolders being camera folders; each item transfers its file's bytes
    // in the file's own format and refuses every other format. An item is named by its file name
    // without extension; files of one folder that share that name keep their extensions in their
    // full names ("IMG_0010.jpg", "IMG_0010.CR2"). Sizes beyond 2^31 - 1 bytes are given as
    // VT_I8. Deleting items and taking pictures change the camera only, never the folder. Fails
    // with the file system's error when the folder cannot be read; the camera is then unchanged.
    HRESULT AddFolderCamera(const std::wstring& folder, const std::wstring& name, Device** added = nullptr);

    // --- in another process -----------------------------------------------------------------------
    // Set by a test host whose camera serves from another process (FotexSimServer.exe) while
    // this one mirrors it: the device actions, the live references and the event counts are then
    // that process's.
    struct Remote {
        virtual ~Remote() = default;
        virtual Item* PressShutter(size_t device, const std::wstring* name, const std::wstring* extension) = 0;
        virtual bool Plug(size_t device, bool in) = 0;
        virtual void RaiseEvent(const GUID& event, size_t device, const std::wstring& itemName) = 0;
        enum class Count { References, Registrations, Delivered, Pending };
        virtual long Counted(Count what) = 0;
        virtual std::string Describe() = 0;
    };
    Remote* remote = nullptr;

    struct State;
    State& state() { return *state_; }

private:
    std::unique_ptr<State> state_;
    DWORD cookie_ = 0;
};

// The service's full item name: the device's number (its id after the last backslash), then the
// names (or keys) from the root down, joined by backslashes: "0000\Root\DCIM\IMG_0001". The one
// place that makes these names; FindItemByName and events take them.
std::wstring FullItemName(const Device& device, const Item& item);

}  // namespace fotexsim

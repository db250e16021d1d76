// The camera as data: scenario building, the fault plan, the call log and the reference ledger.
#include "sim_internal.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>
#include <utility>

namespace fotexsim {

namespace wia = fotex::wia;

namespace {

Camera* g_current = nullptr;

// Lists this short are kept exact on every delete; tests look at them directly.
constexpr size_t kEagerSweep = 256;

uint32_t Hash(const std::wstring& s, uint32_t salt) {
    uint32_t h = 2166136261u ^ salt;
    for (wchar_t c : s) h = (h ^ static_cast<uint32_t>(c)) * 16777619u;
    return h;
}

void SweepDeleted(Item& parent) {
    auto& v = parent.children;
    v.erase(std::remove_if(v.begin(), v.end(),
                           [](const std::shared_ptr<Item>& c) { return !c || c->deleted; }),
            v.end());
    parent.deletedChildren = 0;
}

void MarkSubtreeDeleted(Item& top) {
    std::vector<Item*> stack{&top};
    while (!stack.empty()) {
        Item* it = stack.back();
        stack.pop_back();
        it->deleted = true;
        for (auto& c : it->children)
            if (c && !c->deleted) stack.push_back(c.get());
    }
}

struct Setting {
    PROPID id;
    int32_t value;        // also the nominal value
    const wchar_t* text;  // non-null: a VT_BSTR setting
    bool readOnly;
    std::vector<int32_t> allowed;
    Property::Range range;
    Property::Flags flags;
};

constexpr Property::Range Range(int32_t min, int32_t max, int32_t step) { return {true, min, max, step}; }

// The camera settings of a typical compact camera, with the values it takes: a list, a range or
// a mask of flags; the rest take any value.
const std::vector<Setting>& Settings() {
    static const std::vector<Setting> table = {
        {FOTEX_PROP_EXPOSURE_MODE, 2, nullptr, false, {1, 2, 3, 4, 5, 6, 7, 8}, {}, {}},  // exposure mode: auto
        {FOTEX_PROP_EXPOSURE_COMP, 0, nullptr, false, {}, {}, {}},                        // exposure compensation
        {FOTEX_PROP_EXPOSURE_TIME, 80, nullptr, false, {10, 20, 40, 80, 125, 250, 500, 1000, 2000}, {}, {}},  // 1/10000 s
        {FOTEX_PROP_FNUMBER, 280, nullptr, false, {280, 400, 560, 800, 1100, 1600}, {}, {}},  // f-number x100
        {FOTEX_PROP_FLASH_MODE, 1, nullptr, false, {1, 2, 3, 4, 5, 6}, {}, {}},        // flash mode: auto
        {FOTEX_PROP_FOCUS_MODE, 2, nullptr, false, {1, 2, 3}, {}, {}},                 // focus mode: auto
        {FOTEX_PROP_PAN_POSITION, 0, nullptr, false, {}, Range(-180, 180, 1), {}},       // pan position
        {FOTEX_PROP_TILT_POSITION, 0, nullptr, false, {}, Range(-90, 90, 1), {}},         // tilt position
        {FOTEX_PROP_TIMER_MODE, 0, nullptr, false, {}, {}, {true, 0x3}},               // timer mode: flags
        {FOTEX_PROP_TIMER_VALUE, 0, nullptr, false, {}, Range(0, 30000, 1000), {}},     // timer value, ms
        {FOTEX_PROP_POWER_MODE, 2, nullptr, true, {}, {}, {}},                         // power mode: battery
        {FOTEX_PROP_BATTERY_STATUS, 80, nullptr, true, {}, Range(0, 100, 1), {}},          // battery status, percent
        {FOTEX_PROP_THUMB_WIDTH, 160, nullptr, false, {}, Range(80, 320, 80), {}},      // thumbnail width
        {FOTEX_PROP_THUMB_HEIGHT, 120, nullptr, false, {}, Range(60, 240, 60), {}},      // thumbnail height
        {FOTEX_PROP_PICT_WIDTH, 1600, nullptr, false, {640, 1024, 1600, 2048}, {}, {}},  // picture width
        {FOTEX_PROP_PICT_HEIGHT, 1200, nullptr, false, {480, 768, 1200, 1536}, {}, {}},   // picture height
        {FOTEX_PROP_COMPRESSION_SETTING, 1, nullptr, false, {0, 1, 2}, {}, {}},                 // compression setting
        {FOTEX_PROP_TIMELAPSE_INTERVAL, 1000, nullptr, false, {}, Range(1000, 60000, 1000), {}},  // time-lapse interval
        {FOTEX_PROP_TIMELAPSE_NUMBER, 0, nullptr, false, {}, Range(0, 100, 1), {}},          // time-lapse number
        {FOTEX_PROP_BURST_INTERVAL, 100, nullptr, false, {}, Range(100, 1000, 100), {}},   // burst interval
        {FOTEX_PROP_BURST_NUMBER, 1, nullptr, false, {}, Range(1, 10, 1), {}},           // burst number
        {FOTEX_PROP_EFFECT_MODE, 1, nullptr, false, {1, 2, 3}, {}, {}},                 // effect mode: standard
        {FOTEX_PROP_DIGITAL_ZOOM, 10, nullptr, false, {}, Range(10, 40, 1), {}},         // digital zoom x10
        {FOTEX_PROP_SHARPNESS, 0, nullptr, false, {}, Range(-2, 2, 1), {}},           // sharpness
        {FOTEX_PROP_CONTRAST, 0, nullptr, false, {}, Range(-2, 2, 1), {}},           // contrast
        {FOTEX_PROP_CAPTURE_MODE, 1, nullptr, false, {1, 2, 3}, {}, {}},                 // capture mode: normal
        {FOTEX_PROP_CAPTURE_DELAY, 0, nullptr, false, {}, Range(0, 10000, 1000), {}},     // capture delay
        {FOTEX_PROP_EXPOSURE_INDEX, 100, nullptr, false, {100, 200, 400, 800, 1600}, {}, {}},  // exposure index (ISO)
        {FOTEX_PROP_EXPOSURE_METERING_MODE, 1, nullptr, false, {1, 2, 3, 4}, {}, {}},              // exposure metering: average
        {FOTEX_PROP_FOCUS_METERING_MODE, 1, nullptr, false, {1, 2}, {}, {}},                    // focus metering
        {FOTEX_PROP_FOCUS_DISTANCE, 0, nullptr, false, {}, Range(0, 10000, 10), {}},       // focus distance
        {FOTEX_PROP_FOCAL_LENGTH, 5000, nullptr, true, {}, {}, {}},                      // focal length, 1/100 mm
        {FOTEX_PROP_RGB_GAIN, 0, L"1.0:1.0:1.0", false, {}, {}, {}},                 // RGB gain
        {FOTEX_PROP_WHITE_BALANCE, 2, nullptr, false, {1, 2, 3, 4, 5, 6, 7}, {}, {}},     // white balance: auto
        {FOTEX_PROP_UPLOAD_URL, 0, L"", false, {}, {}, {}},                            // upload URL
        {FOTEX_PROP_ARTIST, 0, L"Fotex", false, {}, {}, {}},                       // artist
        {FOTEX_PROP_COPYRIGHT_INFO, 0, L"(c) Fotex", false, {}, {}, {}},                   // copyright
    };
    return table;
}

Capability MakeCapability(const GUID& command, const wchar_t* name, const wchar_t* description) {
    Capability c;
    c.command = command;
    c.flags = 0;
    c.name = name;
    c.description = description;
    c.icon = L"wiacam.dll,-100";
    c.commandline = L"";
    return c;
}

}  // namespace

const char* OpName(Op op) {
    static const char* const names[kOpCount] = {
        "CreateInstance", "EnumDeviceInfo", "DevInfoReset", "DevInfoNext", "CreateDevice",
        "GetImageDlg", "QueryPropertyStorage", "QueryDataTransfer", "ReadMultiple",
        "WriteMultiple", "GetItemType", "EnumChildItems", "ItemNext", "DeleteItem",
        "DeviceCommand", "EnumDeviceCapabilities", "CapsReset", "CapsGetCount", "CapsNext",
        "GetData", "GetBandedData", "FindItemByName", "GetPropertyAttributes", "RegisterEventCallback"};
    int i = static_cast<int>(op);
    return i >= 0 && i < kOpCount ? names[i] : "?";
}

bool operator==(const Value& a, const Value& b) {
    if (a.type != b.type) return false;
    switch (a.type) {
    case VT_I1:
    case VT_UI1:
    case VT_I2:
    case VT_UI2:
    case VT_I4:
    case VT_UI4:
    case VT_INT:
    case VT_UINT:
        return a.i == b.i;
    case VT_I8:
    case VT_UI8:
        return a.l == b.l;
    case VT_BSTR:
        return a.nullString == b.nullString && a.s == b.s;
    case VT_CLSID:
        return IsEqualGUID(a.guid, b.guid) != 0;
    case VT_VECTOR | VT_UI2:
        return a.words == b.words;
    case VT_VECTOR | VT_UI1:
        return a.bytes == b.bytes;
    default:
        return true;
    }
}

bool Property::Accepts(int32_t v) const {
    if (!allowed.empty() && std::find(allowed.begin(), allowed.end(), v) == allowed.end()) return false;
    if (range.on) {
        // An unsigned property's limits are bit patterns.
        const bool u = value.type == VT_UI4;
        const auto wide = [u](int32_t x) { return u ? static_cast<int64_t>(static_cast<uint32_t>(x)) : x; };
        if (wide(v) < wide(range.min) || wide(v) > wide(range.max)) return false;
        if (range.step > 0 && (wide(v) - wide(range.min)) % range.step != 0) return false;
    }
    return !flags.on || (static_cast<uint32_t>(v) & ~flags.mask) == 0;
}

void Property::ClearLimits() {
    allowed.clear();
    range = {};
    flags = {};
}

// --- items -----------------------------------------------------------------------------------

Item::~Item() {
    std::vector<std::shared_ptr<Item>> pending = std::move(children);
    while (!pending.empty()) {
        std::shared_ptr<Item> it = std::move(pending.back());
        pending.pop_back();
        if (!it) continue;
        it->parent = nullptr;
        // Only the last owner takes the children along; an item someone still holds keeps them.
        if (it.use_count() == 1) {
            for (auto& c : it->children) pending.push_back(std::move(c));
            it->children.clear();
        }
    }
}

Item& Item::Add(std::wstring childName, LONG childType) {
    auto child = std::make_shared<Item>();
    child->seed = Hash(childName, static_cast<uint32_t>(children.size()));
    child->name = std::move(childName);
    child->type = childType;
    child->parent = this;
    // A second apart, in the order the camera took them.
    const unsigned n = static_cast<unsigned>(children.size());
    child->time = {2026, 12, 2, 1, static_cast<WORD>(9 + n / 3600 % 12), static_cast<WORD>(n / 60 % 60),
                   static_cast<WORD>(n % 60), 0};
    AddTransferProperties(*child);
    children.push_back(child);
    return *child;
}

void AddTransferProperties(Item& item) {
    const std::vector<GUID> offered = OfferedFormats(item);
    Property format;
    format.value = Value::Guid(offered.empty() ? wia::WiaImgFmt_JPEG : offered.front());
    item.props[wia::kIpaFormat] = format;
    // The format the camera keeps the item in.
    format.readOnly = true;
    item.props[wia::kIpaPreferredFormat] = format;
    // TYMED_NULL at first, so a transfer that never asks for the file medium fails.
    Property tymed;
    tymed.value = Value::Int(TYMED_NULL);
    tymed.allowed = {TYMED_FILE, TYMED_CALLBACK};
    item.props[wia::kIpaTymed] = tymed;
}

void DetachItem(Item& item) {
    Item* parent = item.parent;
    MarkSubtreeDeleted(item);
    item.parent = nullptr;
    if (!parent) return;
    ++parent->deletedChildren;
    if (parent->children.size() <= kEagerSweep ||
        parent->deletedChildren * 2 > parent->children.size())
        SweepDeleted(*parent);  // may destroy `item`: nothing touches it after this
}

void DeleteAllMedia(Item& root) {
    constexpr LONG media = wia::kItemTypeImage | wia::kItemTypeVideo;
    std::vector<Item*> stack{&root};
    while (!stack.empty()) {
        Item* node = stack.back();
        stack.pop_back();
        for (auto& c : node->children) {
            if (!c || c->deleted) continue;
            if (c->type & media) {
                MarkSubtreeDeleted(*c);
                c->parent = nullptr;
            } else {
                stack.push_back(c.get());
            }
        }
        SweepDeleted(*node);
    }
}

std::shared_ptr<Item> TakeNewPicture(Core& core, Device& device, const std::wstring* chosen) {
    Item& root = *device.root;
    Item* target = &root;
    for (const auto& c : root.children) {
        if (c && !c->deleted && (c->type & wia::kItemTypeFolder)) {
            target = c.get();
            break;
        }
    }
    if (device.events.mode == Device::Events::DeletedFirst) {
        // Into the camera's memory first: gone again before a host can have its event.
        target->Add(L"CAPT_TMP", wia::kItemTypeImage | wia::kItemTypeFile);
        std::shared_ptr<Item> first = target->children.back();
        GetLocalTime(&first->time);
        const std::wstring firstName = FullItemName(device, *first);
        core.Raise(wia::WIA_EVENT_ITEM_CREATED, device, firstName);
        DetachItem(*first);
        core.Raise(wia::WIA_EVENT_ITEM_DELETED, device, firstName);
    }
    // A name no item of the folder has, as a camera numbers its files.
    wchar_t name[32];
    bool used = chosen == nullptr;
    for (; used; ++core.nextPicture) {
        swprintf(name, 32, L"IMG_%04d", core.nextPicture);
        used = std::any_of(target->children.begin(), target->children.end(), [&name](const std::shared_ptr<Item>& c) {
            return c && !c->deleted && (_wcsicmp(c->name.c_str(), name) == 0 || _wcsicmp(KeyOf(*c).c_str(), name) == 0);
        });
    }
    target->Add(chosen ? *chosen : std::wstring(name), wia::kItemTypeImage | wia::kItemTypeFile);
    std::shared_ptr<Item> picture = target->children.back();
    GetLocalTime(&picture->time);

    auto taken = root.props.find(wia::kDpcPicturesTaken);
    if (taken != root.props.end() && taken->second.value.type == VT_I4) ++taken->second.value.i;
    auto left = root.props.find(wia::kDpcPicturesRemaining);
    if (left != root.props.end() && left->second.value.type == VT_I4 && left->second.value.i > 0)
        --left->second.value.i;
    if (device.busyAfterShot > 0) device.busyUntil = GetTickCount64() + static_cast<ULONGLONG>(device.busyAfterShot);
    core.Raise(wia::WIA_EVENT_ITEM_CREATED, device, FullItemName(device, *picture));
    return picture;
}

// --- core ------------------------------------------------------------------------------------

bool Core::Faulted(Op op, HRESULT* hr) {
    int i = static_cast<int>(op);
    ++calls[i];
    long n = ++seq[i];
    if (logging) log.push_back(op);
    if (camera && camera->onCall) camera->onCall(op);
    for (const Fault& f : faults) {
        if (f.op == op && n >= f.first && n <= f.last) {
            *hr = f.hr;
            return true;
        }
    }
    return false;
}

Device* Core::Locate(DeviceRef& ref) {
    if (!camera || !ref.root) return nullptr;
    auto& devices = camera->devices;
    if (ref.hint < devices.size() && devices[ref.hint].root == ref.root) return &devices[ref.hint];
    for (size_t i = 0; i < devices.size(); ++i) {
        if (devices[i].root == ref.root) {
            ref.hint = i;
            return &devices[i];
        }
    }
    return nullptr;
}

bool Core::Unavailable(DeviceRef& ref, const Item* item, HRESULT* hr) {
    // A device that left the camera's list is as good as unplugged.
    Device* d = Locate(ref);
    if (!d || d->offline || d->asleep) {
        *hr = wia::kWiaErrorOffline;
        return true;
    }
    if (d->held || (d->busyUntil != 0 && GetTickCount64() < d->busyUntil)) {
        *hr = wia::kWiaErrorBusy;
        return true;
    }
    if (item && item->deleted) {
        *hr = kItemDeleted;
        return true;
    }
    return false;
}

bool Core::Stop(Op op, DeviceRef& ref, const Item* item, HRESULT* hr) {
    return Faulted(op, hr) || Unavailable(ref, item, hr);
}

Tracked::Tracked(std::shared_ptr<Core> c, const char* k, std::wstring l)
    : core(std::move(c)), kind(k), label(std::move(l)) {
    ++core->created;
    prev = core->tail;
    if (prev)
        prev->next = this;
    else
        core->head = this;
    core->tail = this;
}

Tracked::~Tracked() {
    if (prev)
        prev->next = next;
    else
        core->head = next;
    if (next)
        next->prev = prev;
    else
        core->tail = prev;
}

// --- camera ----------------------------------------------------------------------------------

Camera::Camera() : state_(std::make_unique<State>()) {
    state_->core->camera = this;
    g_current = this;
}

Camera::~Camera() {
    Revoke();
    CloseEventWindows(*state_->core);
    // Strays hold the core: free them, or neither would ever go.
    ReleaseStrays();
    state_->core->camera = nullptr;
    if (g_current == this) g_current = nullptr;
}

Camera* Camera::Current() { return g_current; }

Device& Camera::AddDevice(std::wstring id, std::wstring name, std::wstring description) {
    Device d;
    d.id = std::move(id);
    d.name = std::move(name);
    d.description = std::move(description);
    d.info[wia::kDipDevId].value = Value::Text(d.id);
    d.info[wia::kDipDevName].value = Value::Text(d.name);
    d.info[wia::kDipDevDesc].value = Value::Text(d.description);
    d.info[5].value = Value::Int(wia::kStiDeviceTypeDigitalCamera << 16);  // WIA_DIP_DEV_TYPE
    d.info[3].value = Value::Text(L"Fotex");                                 // WIA_DIP_VEND_DESC
    for (auto& [pid, p] : d.info) p.readOnly = true;

    d.root = std::make_shared<Item>();
    Item& root = *d.root;
    root.name = L"Root";
    root.type = wia::kItemTypeRoot | wia::kItemTypeFolder | wia::kItemTypeDevice;
    AddTransferProperties(root);
    Property taken, remaining;
    taken.value = Value::Int(0);
    taken.readOnly = true;
    remaining.value = Value::Int(500);
    remaining.readOnly = true;
    root.props[wia::kDpcPicturesTaken] = taken;
    root.props[wia::kDpcPicturesRemaining] = remaining;
    for (const Setting& s : Settings()) {
        Property p;
        p.value = s.text ? Value::Text(s.text) : Value::Int(s.value);
        p.readOnly = s.readOnly;
        p.allowed = s.allowed;
        p.range = s.range;
        p.flags = s.flags;
        p.nominal = s.value;
        root.props[s.id] = p;
    }

    d.capabilities = {
        MakeCapability(wia::WIA_CMD_TAKE_PICTURE, L"Take picture", L"Takes a new picture"),
        MakeCapability(wia::WIA_CMD_DELETE_ALL_ITEMS, L"Delete all", L"Deletes every picture"),
        MakeCapability(wia::WIA_CMD_SYNCHRONIZE, L"Synchronize", L"Refreshes the item tree"),
    };
    devices.push_back(std::move(d));
    return devices.back();
}

Device& Camera::AddStandardCamera(std::wstring id, std::wstring name, std::wstring description,
                                  int pictures) {
    Device& d = AddDevice(std::move(id), std::move(name), std::move(description));
    Item& dcim = d.root->Add(L"DCIM", wia::kItemTypeFolder);
    for (int i = 1; i <= pictures; ++i) {
        wchar_t n[32];
        swprintf(n, 32, L"IMG_%04d", i);
        dcim.Add(n, wia::kItemTypeImage | wia::kItemTypeFile);
    }
    Item& video = dcim.Add(L"MOV_0001", wia::kItemTypeVideo | wia::kItemTypeFile);
    video.props[wia::kIpaFormat].value = Value::Guid(wia::WiaImgFmt_AVI);
    Property& taken = d.root->props[wia::kDpcPicturesTaken];
    Property& remaining = d.root->props[wia::kDpcPicturesRemaining];
    taken.value = Value::Int(std::max(pictures, 0));
    remaining.value = Value::Int(std::max(500 - pictures, 0));
    return d;
}

void Camera::LoadDefaultScenario() {
    AddStandardCamera(L"{6BDD1FC6-810F-11D0-BEC7-08002BE2092F}\\0000", L"Fotex Virtual Camera",
                      L"Fotex virtual digital camera", 3);
    Device& pocket = AddDevice(L"{6BDD1FC6-810F-11D0-BEC7-08002BE2092F}\\0001", L"Fotex Pocket Camera",
                               L"Fotex virtual camera without pictures");
    // A fixed lens without pan or tilt, whose driver reports the focal length unsigned: hosts
    // meet settings that are absent or of another type than the one they expect.
    pocket.root->props.erase(FOTEX_PROP_PAN_POSITION);
    pocket.root->props.erase(FOTEX_PROP_TILT_POSITION);
    pocket.root->props[FOTEX_PROP_FOCAL_LENGTH].value = Value::UInt(3500);
}

void Camera::FailOn(Op op, HRESULT hr, int nth, int times) {
    Core& c = *state_->core;
    if (nth < 1 || times == 0) return;
    long first = c.seq[static_cast<int>(op)] + nth;
    long last = times < 0 ? LONG_MAX : first + times - 1;
    c.faults.push_back({op, hr, first, last});
}

void Camera::ClearFaults() { state_->core->faults.clear(); }

void Camera::CutTransfer(HRESULT hr, int nth) {
    Core& c = *state_->core;
    c.cutAt = nth < 1 ? 0 : c.seq[static_cast<int>(Op::GetData)] + nth;
    c.cutHr = hr;
}

void Camera::SpoilBands(BandFault fault, int nth) {
    Core& c = *state_->core;
    c.spoilFrom = c.seq[static_cast<int>(Op::GetBandedData)] + (nth < 1 ? 1 : nth);
    c.spoil = static_cast<int>(fault);
}

void Camera::SetDirtyFailures(bool on) { state_->core->dirty = on; }

void Camera::ReleaseStrays() {
    for (Tracked* t : std::exchange(state_->core->strays, {})) delete t;
}

int Camera::Calls(Op op) const { return state_->core->calls[static_cast<int>(op)]; }

int Camera::TotalCalls() const {
    int total = 0;
    for (int n : state_->core->calls) total += n;
    return total;
}

const std::vector<Op>& Camera::Log() const { return state_->core->log; }

void Camera::ClearLog() {
    state_->core->log.clear();
    state_->core->calls.fill(0);
}

void Camera::SetLogging(bool on) { state_->core->logging = on; }

long Camera::LiveReferences() const {
    if (remote) return remote->Counted(Remote::Count::References);
    long sum = 0;
    // A stray's own reference is the core's; any other count than 1 is the caller's doing.
    for (Tracked* t = state_->core->head; t; t = t->next) sum += static_cast<long>(t->refs) - (t->stray ? 1 : 0);
    return sum;
}

std::vector<LiveObject> Camera::LiveObjects() const {
    std::vector<LiveObject> out;
    for (Tracked* t = state_->core->head; t; t = t->next) out.push_back({t->kind, t->label, t->refs});
    return out;
}

std::string Camera::Describe() const {
    if (remote) return remote->Describe();
    std::string out;
    for (Tracked* t = state_->core->head; t; t = t->next) {
        if (t->stray && t->refs == 1) continue;
        out += t->kind;
        if (t->stray) out += " (stray, 1 is its own)";
        if (!t->label.empty()) {
            out += " '";
            for (wchar_t ch : t->label) out += (ch > 0 && ch < 128) ? static_cast<char>(ch) : '?';
            out += "'";
        }
        out += " refs=" + std::to_string(t->refs) + "\n";
    }
    return out;
}

long Camera::ObjectsCreated() const { return state_->core->created; }
long Camera::StringsHandedOut() const { return state_->core->stringsOut; }
long Camera::ValuesHandedOut() const { return state_->core->valuesOut; }

HRESULT Camera::Register() {
    if (cookie_) return S_FALSE;
    IClassFactory* factory = NewClassFactory();
    HRESULT hr = CoRegisterClassObject(fotex::wia::CLSID_WiaDevMgr, factory, CLSCTX_LOCAL_SERVER,
                                       REGCLS_MULTIPLEUSE, &cookie_);
    factory->Release();
    if (FAILED(hr)) cookie_ = 0;
    return hr;
}

void Camera::Revoke() {
    if (!cookie_) return;
    CoRevokeClassObject(cookie_);
    cookie_ = 0;
}

Item* Camera::PressShutter(size_t device) {
    if (remote) return remote->PressShutter(device, nullptr, nullptr);
    if (device >= devices.size() || devices[device].offline || !devices[device].root) return nullptr;
    return TakeNewPicture(*state_->core, devices[device]).get();
}

Item* Camera::PressShutter(size_t device, const std::wstring& name, const std::wstring* extension) {
    if (remote) return remote->PressShutter(device, &name, extension);
    if (device >= devices.size() || devices[device].offline || !devices[device].root) return nullptr;
    std::shared_ptr<Item> picture = TakeNewPicture(*state_->core, devices[device], &name);
    if (extension) picture->props[wia::kIpaFilenameExtension].value = Value::Text(*extension);
    return picture.get();
}

bool Camera::Unplug(size_t device) {
    if (remote) return remote->Plug(device, false);
    if (device >= devices.size() || devices[device].offline) return false;
    devices[device].offline = true;
    devices[device].present = false;
    state_->core->Raise(wia::WIA_EVENT_DEVICE_DISCONNECTED, devices[device], L"");
    return true;
}

bool Camera::PlugIn(size_t device) {
    if (remote) return remote->Plug(device, true);
    if (device >= devices.size() || !devices[device].offline) return false;
    devices[device].offline = false;
    devices[device].present = true;
    state_->core->Raise(wia::WIA_EVENT_DEVICE_CONNECTED, devices[device], L"");
    return true;
}

bool Camera::SetEventMode(size_t device, int mode, int value) {
    using Events = Device::Events;
    if (device >= devices.size() || mode < Events::All || mode >= Events::Count) return false;
    const bool valued = mode == Events::Lost || mode == Events::Late;
    if (!valued && value != 0) return false;
    if (mode == Events::Lost && (value < 1 || value > 100)) return false;
    if (mode == Events::Late && (value < 0 || value > 600000)) return false;
    devices[device].events.mode = mode;
    devices[device].events.value = value;
    return true;
}

namespace {

// A copy of the tree with new items throughout, none of them handed out yet; without recursion.
std::shared_ptr<Item> CopyTree(const Item& root) {
    auto top = std::make_shared<Item>(root);
    std::vector<Item*> stack{top.get()};
    while (!stack.empty()) {
        Item* node = stack.back();
        stack.pop_back();
        for (auto& child : node->children) {
            if (!child || child->deleted) continue;
            child = std::make_shared<Item>(*child);
            child->parent = node;
            stack.push_back(child.get());
        }
        node->children.erase(std::remove_if(node->children.begin(), node->children.end(),
                                            [](const std::shared_ptr<Item>& c) { return !c || c->deleted; }),
                             node->children.end());
        node->deletedChildren = 0;
    }
    top->parent = nullptr;
    return top;
}

}  // namespace

bool Camera::SetCondition(size_t device, Condition condition, int value) {
    if (remote || device >= devices.size()) return false;
    Device& d = devices[device];
    switch (condition) {
    case Condition::BusyAfterShot:
        if (value < 0) return false;
        d.busyAfterShot = value;
        if (value == 0) d.busyUntil = 0;
        return true;
    case Condition::Held:
        d.held = value != 0;
        return true;
    case Condition::Asleep:
        d.asleep = value != 0;
        return true;
    case Condition::UnplugAfterBytes:
        if (value < -1) return false;
        d.unplugAfter = value;
        return true;
    case Condition::PlugInAnew:
        if (!d.offline || !d.root) return false;
        d.root = CopyTree(*d.root);
        return PlugIn(device);
    }
    return false;
}

void Camera::RaiseEvent(const GUID& event, size_t device, const std::wstring& itemName) {
    if (remote) return remote->RaiseEvent(event, device, itemName);
    if (device < devices.size()) state_->core->Raise(event, devices[device], itemName);
}

long Camera::EventRegistrations() const {
    if (remote) return remote->Counted(Remote::Count::Registrations);
    std::lock_guard<std::mutex> hold(state_->core->eventLock);
    return static_cast<long>(state_->core->links.size());
}

long Camera::EventsDelivered() const {
    return remote ? remote->Counted(Remote::Count::Delivered) : state_->core->delivered.load();
}
long Camera::EventsPending() const {
    return remote ? remote->Counted(Remote::Count::Pending) : state_->core->pending.load();
}
DWORD Camera::LastDeliveryThread() const { return state_->core->deliveryThread; }

Device* Camera::FindDevice(const std::wstring& id) {
    for (Device& d : devices)
        if (d.id == id) return &d;
    return nullptr;
}

std::vector<Item*> Camera::ItemsOf(const Device& device) {
    std::vector<Item*> out;
    if (!device.root) return out;
    std::vector<Item*> stack;
    auto pushChildren = [&stack](Item* it) {
        for (auto c = it->children.rbegin(); c != it->children.rend(); ++c)
            if (*c && !(*c)->deleted) stack.push_back(c->get());
    };
    pushChildren(device.root.get());
    while (!stack.empty()) {
        Item* it = stack.back();
        stack.pop_back();
        out.push_back(it);
        pushChildren(it);
    }
    return out;
}

}  // namespace fotexsim

// The camera as bytes and back. One field list per structure serves both directions, so the
// writer and the reader cannot drift apart.
#include "image.h"

#include <cstring>
#include <set>

#include "sim_internal.h"

namespace fotexsim {

namespace {

constexpr uint32_t kMagic = 0x31495346;  // "FSI1"

class Out {
public:
    static constexpr bool kReading = false;
    void Raw(void* p, size_t n) { bytes.append(static_cast<const char*>(p), n); }
    size_t Left() const { return SIZE_MAX; }
    std::string bytes;
    bool ok = true;
};

class In {
public:
    static constexpr bool kReading = true;
    explicit In(const std::string& b) : bytes(b) {}
    void Raw(void* p, size_t n) {
        if (!ok || n > Left()) {
            ok = false;
            std::memset(p, 0, n);
            return;
        }
        std::memcpy(p, bytes.data() + at, n);
        at += n;
    }
    size_t Left() const { return bytes.size() - at; }
    const std::string& bytes;
    size_t at = 0;
    bool ok = true;
};

template <class Io, class T>
void Pod(Io& io, T& v) {
    io.Raw(&v, sizeof v);
}

// A count, checked against what is left when reading: each element takes a byte at least.
template <class Io>
bool Count(Io& io, size_t size, uint32_t* n) {
    *n = static_cast<uint32_t>(size);
    Pod(io, *n);
    if (Io::kReading && *n > io.Left()) io.ok = false;
    return io.ok;
}

template <class Io, class T, class Each>
void List(Io& io, std::vector<T>& v, Each each) {
    uint32_t n;
    if (!Count(io, v.size(), &n)) return;
    if (Io::kReading) v.resize(n);
    for (T& x : v) each(x);
}

template <class Io, class T>
void Pods(Io& io, std::vector<T>& v) {
    List(io, v, [&](T& x) { Pod(io, x); });
}

template <class Io>
void Text(Io& io, std::wstring& s) {
    uint32_t n;
    if (!Count(io, s.size(), &n)) return;
    if (Io::kReading) s.resize(n);
    io.Raw(s.data(), n * sizeof(wchar_t));
}

template <class Io>
void Fields(Io& io, Value& v) {
    Pod(io, v.type);
    Pod(io, v.i);
    Pod(io, v.l);
    Text(io, v.s);
    Pod(io, v.nullString);
    Pod(io, v.guid);
    Pods(io, v.words);
    Pods(io, v.bytes);
}

// Read in place: a property both sides have stays the same object, as a test holds one across
// its calls.
template <class Io>
void Fields(Io& io, PropertyMap& map) {
    uint32_t n;
    if (!Count(io, map.size(), &n)) return;
    if (Io::kReading) {
        std::set<PROPID> read;
        for (uint32_t k = 0; k < n && io.ok; ++k) {
            PROPID id = 0;
            Pod(io, id);
            Fields(io, map[id]);
            read.insert(id);
        }
        for (auto it = map.begin(); it != map.end();) it = read.count(it->first) ? std::next(it) : map.erase(it);
        return;
    }
    for (auto& [id, p] : map) {
        PROPID key = id;
        Pod(io, key);
        Fields(io, p);
    }
}

template <class Io>
void Fields(Io& io, Property& p) {
    Fields(io, p.value);
    Pod(io, p.readOnly);
    Pod(io, p.writeType);
    Pods(io, p.allowed);
    Pod(io, p.range);
    Pod(io, p.flags);
    Pod(io, p.nominal);
}

// An item without its children.
template <class Io>
void Fields(Io& io, Item& it) {
    Text(io, it.name);
    Text(io, it.key);
    Pod(io, it.type);
    Fields(io, it.props);
    Pods(io, it.lacks);
    Pod(io, it.time);
    Pod(io, it.thumbWidth);
    Pod(io, it.thumbHeight);
    Text(io, it.file);
    Pods(io, it.formats);
    Pod(io, it.seed);
    Pod(io, it.width);
    Pod(io, it.height);
    Pod(io, it.endless);
}

bool Live(const std::shared_ptr<Item>& c) { return c && !c->deleted; }

// Pre-order, each item followed by its count of live children; no recursion, trees go deep.
// A faulty tree whose folder holds itself (or an ancestor) is cut there: an image has no cycles.
void WriteTree(Out& io, Item& root) {
    std::vector<Item*> stack{&root};
    std::set<const Item*> seen;
    while (!stack.empty()) {
        Item* it = stack.back();
        stack.pop_back();
        Fields(io, *it);
        uint32_t live = 0;
        const bool first = seen.insert(it).second;
        for (auto c = it->children.rbegin(); first && c != it->children.rend(); ++c)
            if (Live(*c)) {
                stack.push_back(c->get());
                ++live;
            }
        Pod(io, live);
    }
}

std::shared_ptr<Item> ReadTree(In& io) {
    auto root = std::make_shared<Item>();
    struct Open {
        Item* item;
        uint32_t left;
    };
    std::vector<Open> stack;
    Item* next = root.get();
    while (io.ok) {
        Fields(io, *next);
        uint32_t n = 0;
        Pod(io, n);
        if (n > io.Left()) io.ok = false;
        stack.push_back({next, n});
        while (!stack.empty() && stack.back().left == 0) stack.pop_back();
        if (stack.empty()) break;
        --stack.back().left;
        Item* parent = stack.back().item;
        parent->children.push_back(std::make_shared<Item>());
        next = parent->children.back().get();
        next->parent = parent;
    }
    return root;
}

template <class Io>
void Fields(Io& io, Capability& c) {
    Pod(io, c.command);
    Pod(io, c.flags);
    Text(io, c.name);
    Text(io, c.description);
    Text(io, c.icon);
    Text(io, c.commandline);
}

template <class Io>
void Fields(Io& io, LastCalls& last) {
    Pod(io, last.enumDeviceInfoFlag);
    Text(io, last.createDeviceId);
    LastCalls::Dialog& d = last.dialog;
    Pod(io, d.parent);
    Pod(io, d.deviceType);
    Pod(io, d.flags);
    Pod(io, d.intent);
    Text(io, d.fileName);
    Pod(io, d.fileNameNull);
    Pod(io, d.format);
    Pod(io, d.formatNull);
    List(io, last.write.specs, [&](PROPSPEC& s) {
        Pod(io, s.ulKind);
        if (s.ulKind == PRSPEC_PROPID) Pod(io, s.propid);
    });
    List(io, last.write.values, [&](Value& v) { Fields(io, v); });
    Pod(io, last.write.nameFirst);
    Pods(io, last.read);
    // Field by field: the record's padding holds whatever the stack had.
    Pod(io, last.command.flags);
    Pod(io, last.command.command);
    Pod(io, last.command.itemOut);
    Pod(io, last.registration.flags);
    Pod(io, last.registration.deviceIdNull);
    Text(io, last.registration.deviceId);
    Pods(io, last.registration.events);
    Pod(io, last.capsFlag);
    Pod(io, last.deleteFlags);
    LastCalls::GetData& g = last.getData;
    Pod(io, g.tymed);
    Text(io, g.fileName);
    Pod(io, g.fileNameNull);
    Pod(io, g.callback);
    Pod(io, g.releaseObject);
    Pod(io, g.format);
}

template <class Io>
void Fields(Io& io, Core& c) {
    Pod(io, c.calls);
    Pod(io, c.seq);
    Pods(io, c.faults);
    Pod(io, c.cutAt);
    Pod(io, c.cutHr);
    Pod(io, c.spoilFrom);
    Pod(io, c.spoil);
    Pod(io, c.dirty);
    Pod(io, c.logging);
    Pod(io, c.nextPicture);
    Pod(io, c.created);
    Pod(io, c.stringsOut);
    Pod(io, c.valuesOut);
}

template <class Io>
void DeviceFields(Io& io, Device& d) {
    Text(io, d.id);
    Text(io, d.name);
    Text(io, d.description);
    Fields(io, d.info);
    List(io, d.capabilities, [&](Capability& c) { Fields(io, c); });
    Pod(io, d.present);
    Pod(io, d.offline);
    Pod(io, d.transferRate);
    Pod(io, d.events.mode);
    Pod(io, d.events.value);
    Pod(io, d.busyAfterShot);
    Pod(io, d.busyUntil);
    Pod(io, d.held);
    Pod(io, d.asleep);
    Pod(io, d.unplugAfter);
}

// Takes `fresh`'s values into `kept`, which keeps its identity (and an item its children and
// what it has worked out); through the field list itself, so a field added there is never left
// behind here.
template <class T>
void Take(T& kept, T& fresh) {
    Out out;
    Fields(out, fresh);
    In in(out.bytes);
    Fields(in, kept);
}

void TakeFields(Item& kept, Item& fresh) {
    const bool sameFile = kept.file == fresh.file;
    Take(kept, fresh);
    if (!sameFile) {
        kept.thumbnail.reset();
        kept.thumbnailMade = false;
    }
}

bool SameItem(const Item& a, const Item& b) { return a.type == b.type && KeyOf(a) == KeyOf(b); }

// Makes `kept`'s tree the shape of `fresh`'s. Children pair up in order by name and type: a
// renamed item is another one.
void MergeTree(Item& keptRoot, Item& freshRoot, std::vector<std::shared_ptr<Item>>* removed) {
    std::vector<std::pair<Item*, Item*>> stack{{&keptRoot, &freshRoot}};
    while (!stack.empty()) {
        auto [kept, fresh] = stack.back();
        stack.pop_back();
        TakeFields(*kept, *fresh);
        std::vector<std::shared_ptr<Item>> old;
        for (auto& c : kept->children)
            if (Live(c)) old.push_back(c);
        std::vector<std::shared_ptr<Item>> now, gone;
        size_t i = 0;
        for (auto& f : fresh->children) {
            size_t j = i;
            while (j < old.size() && !SameItem(*old[j], *f)) ++j;
            if (j < old.size()) {
                gone.insert(gone.end(), old.begin() + static_cast<ptrdiff_t>(i), old.begin() + static_cast<ptrdiff_t>(j));
                now.push_back(old[j]);
                stack.push_back({old[j].get(), f.get()});
                i = j + 1;
            } else {
                // Moved, not shared: the fresh tree's end would take the item's parent along.
                f->parent = kept;
                now.push_back(std::move(f));
            }
        }
        gone.insert(gone.end(), old.begin() + static_cast<ptrdiff_t>(i), old.end());
        kept->children = std::move(now);
        kept->deletedChildren = 0;
        for (auto& g : gone) {
            DetachItem(*g);
            if (removed) removed->push_back(g);
        }
    }
}

}  // namespace

std::string SaveImage(Camera& camera) {
    Out io;
    uint32_t magic = kMagic;
    Pod(io, magic);
    Pod(io, camera.dialogResult);
    Pod(io, camera.factoryResult);
    Pod(io, camera.endlessDevices);
    Fields(io, *camera.state().core);
    Fields(io, camera.last);
    uint32_t n;
    Count(io, camera.devices.size(), &n);
    for (Device& d : camera.devices) {
        DeviceFields(io, d);
        bool hasRoot = d.root != nullptr;
        Pod(io, hasRoot);
        if (hasRoot) WriteTree(io, *d.root);
    }
    // Whole UTF-16 units: a BSTR carries the image across.
    if (io.bytes.size() % 2) io.bytes.push_back('\0');
    return std::move(io.bytes);
}

bool LoadImage(Camera& camera, const std::string& image, std::vector<std::shared_ptr<Item>>* removed) {
    In io(image);
    uint32_t magic = 0;
    Pod(io, magic);
    if (magic != kMagic) return false;
    HRESULT dialogResult, factoryResult;
    bool endlessDevices;
    Pod(io, dialogResult);
    Pod(io, factoryResult);
    Pod(io, endlessDevices);
    Core fresh;
    Fields(io, fresh);
    LastCalls last;
    Fields(io, last);
    std::vector<Device> devices;
    uint32_t n;
    if (Count(io, 0, &n)) devices.resize(n);
    for (Device& d : devices) {
        DeviceFields(io, d);
        bool hasRoot = false;
        Pod(io, hasRoot);
        if (hasRoot && io.ok) d.root = ReadTree(io);
    }
    if (!io.ok || io.Left() != io.at % 2 || (io.Left() && image.back() != '\0')) return false;

    camera.dialogResult = dialogResult;
    camera.factoryResult = factoryResult;
    camera.endlessDevices = endlessDevices;
    Core& core = *camera.state().core;
    core.calls = fresh.calls;
    core.seq = fresh.seq;
    core.faults = fresh.faults;
    core.cutAt = fresh.cutAt;
    core.cutHr = fresh.cutHr;
    core.spoilFrom = fresh.spoilFrom;
    core.spoil = fresh.spoil;
    core.dirty = fresh.dirty;
    core.logging = fresh.logging;
    core.nextPicture = fresh.nextPicture;
    core.created = fresh.created;
    core.stringsOut = fresh.stringsOut;
    core.valuesOut = fresh.valuesOut;
    camera.last = std::move(last);

    // Devices pair up by place while the list keeps its ids in order (so references into it
    // stay good), else by id: a device taken out of the list leaves the others what they were.
    bool inPlace = devices.size() >= camera.devices.size();
    for (size_t k = 0; inPlace && k < camera.devices.size(); ++k) inPlace = camera.devices[k].id == devices[k].id;
    if (!inPlace) {
        std::vector<Device> paired;
        std::vector<bool> used(camera.devices.size());
        for (Device& d : devices) {
            size_t k = 0;
            while (k < used.size() && (used[k] || camera.devices[k].id != d.id)) ++k;
            if (k < used.size()) used[k] = true;
            paired.push_back(k < used.size() ? std::move(camera.devices[k]) : Device{});
        }
        camera.devices = std::move(paired);
    }
    for (size_t k = 0; k < devices.size(); ++k) {
        if (k == camera.devices.size()) {
            camera.devices.push_back(std::move(devices[k]));
            continue;
        }
        Device& kept = camera.devices[k];
        Device& d = devices[k];
        kept.id = d.id;
        kept.name = d.name;
        kept.description = d.description;
        Take(kept.info, d.info);
        kept.capabilities = d.capabilities;
        kept.present = d.present;
        kept.offline = d.offline;
        kept.events.mode = d.events.mode;
        kept.events.value = d.events.value;
        kept.busyAfterShot = d.busyAfterShot;
        kept.busyUntil = d.busyUntil;
        kept.held = d.held;
        kept.asleep = d.asleep;
        kept.unplugAfter = d.unplugAfter;
        if (!d.root || !kept.root)
            kept.root = d.root;
        else
            MergeTree(*kept.root, *d.root, removed);
    }
    return true;
}

}  // namespace fotexsim

// The PTP profile: a camera's card as Windows' layer over the PTP/MTP driver presents it to WIA
// programs. Folders flattened, formats without a WIA GUID undefined, nameless objects named by
// their number, a RAW+JPEG camera's pairs as two items of one name.
#include "sim_internal.h"

#include <cwchar>
#include <set>
#include <string>

namespace fotexsim {

namespace wia = fotex::wia;

namespace {

// WiaImgFmt_UNDEFINED: what the layer gives a format WIA has no GUID for.
constexpr GUID kUndefined = {0xB96B3CA9, 0x0728, 0x11D3, {0x9D, 0x7B, 0x00, 0x00, 0xF8, 0x1E, 0xF3, 0x2E}};

std::wstring Upper(std::wstring text) {
    if (!text.empty()) CharUpperBuffW(&text[0], static_cast<DWORD>(text.size()));
    return text;
}

// The file name extension as a host reads it: the item's own entry, else the computed one.
std::wstring Extension(const Device& device, Item& item) {
    auto it = item.props.find(wia::kIpaFilenameExtension);
    if (it != item.props.end()) return it->second.value.type == VT_BSTR ? it->second.value.s : std::wstring();
    Value value;
    return ComputedProperty(&device, item, wia::kIpaFilenameExtension, &value) && value.type == VT_BSTR ? value.s
                                                                                                       : std::wstring();
}

// The object's number; a nameless object is named by it, as the driver does.
void Number(Device& device, Item& item) {
    const uint32_t number = device.nextObject++;
    if (item.name.empty()) item.name = L"Image" + std::to_wstring(number);
}

void UndefineUnknownFormat(Item& item) {
    auto preferred = item.props.find(wia::kIpaPreferredFormat);
    if (preferred == item.props.end() || preferred->second.value.type != VT_CLSID ||
        FormatName(preferred->second.value.guid) != nullptr)
        return;
    preferred->second.value.guid = kUndefined;
    item.props[wia::kIpaFormat].value = Value::Guid(kUndefined);
    item.formats = {kUndefined};
}

// A generated JPEG picture: the camera shoots it as RAW+JPEG.
bool ShotAsPair(const Item& item) {
    if (!item.file.empty() || item.raw || !(item.type & wia::kItemTypeImage) || (item.type & wia::kItemTypeFolder)) return false;
    auto preferred = item.props.find(wia::kIpaPreferredFormat);
    return preferred != item.props.end() && preferred->second.value.type == VT_CLSID &&
           preferred->second.value.guid == wia::WiaImgFmt_JPEG;
}

std::shared_ptr<Item> RawHalf(Device& device, const Item& jpeg) {
    auto raw = std::make_shared<Item>();
    raw->name = jpeg.name;
    raw->type = jpeg.type;
    raw->time = jpeg.time;
    raw->seed = jpeg.seed;
    raw->width = jpeg.width;
    raw->height = jpeg.height;
    raw->thumbWidth = jpeg.thumbWidth;
    raw->thumbHeight = jpeg.thumbHeight;
    raw->parent = jpeg.parent;
    raw->raw = true;
    raw->formats = {kUndefined};
    AddTransferProperties(*raw);
    raw->props[wia::kIpaFilenameExtension].value = Value::Text(L"nef");
    Number(device, *raw);
    return raw;
}

// Gives the item a part of its full name that none of `taken` is: its name when free, else the
// name and its extension, else a number before the extension.
void KeyApart(const Device& device, Item& item, std::set<std::wstring>& taken) {
    std::wstring key = item.name;
    if (taken.count(Upper(key))) {
        const std::wstring ext = Extension(device, item);
        const std::wstring dot = ext.empty() ? std::wstring() : L"." + ext;
        key = item.name + dot;
        for (int n = 2; taken.count(Upper(key)); ++n) key = item.name + L"~" + std::to_wstring(n) + dot;
    }
    taken.insert(Upper(key));
    item.key = key == item.name ? std::wstring() : key;
}

}  // namespace

void PresentAsPtp(Device& device) {
    Item& root = *device.root;
    // Depth first in the camera's order, each folder's items in its place; a folder that holds
    // itself (a faulty tree) is walked once.
    std::vector<std::shared_ptr<Item>> flat, stack(root.children.rbegin(), root.children.rend());
    std::set<const Item*> seen{&root};
    while (!stack.empty()) {
        std::shared_ptr<Item> at = std::move(stack.back());
        stack.pop_back();
        if (!at || at->deleted || !seen.insert(at.get()).second) continue;
        if (!(at->type & wia::kItemTypeFolder)) {
            flat.push_back(std::move(at));
            continue;
        }
        for (auto c = at->children.rbegin(); c != at->children.rend(); ++c) stack.push_back(*c);
        // The folder is no object of the layer's: gone for a host that holds it.
        at->children.clear();
        at->deleted = true;
        at->parent = nullptr;
    }
    std::vector<std::shared_ptr<Item>> presented;
    for (const std::shared_ptr<Item>& was : flat) {
        // The layer's object, not the camera's: one a host held before is gone, as the server's
        // camera (which gets the flat tree as new items) has it too.
        auto item = std::make_shared<Item>(*was);
        for (auto& c : item->children)
            if (c) c->parent = item.get();
        was->children.clear();
        was->deleted = true;
        was->parent = nullptr;
        item->parent = &root;
        Number(device, *item);
        UndefineUnknownFormat(*item);
        if (ShotAsPair(*item)) presented.push_back(RawHalf(device, *item));
        presented.push_back(std::move(item));
    }
    root.children = std::move(presented);
    root.deletedChildren = 0;
    std::set<std::wstring> taken;
    for (const auto& c : root.children) KeyApart(device, *c, taken);
}

void PresentNewPicture(Core& core, Device& device, const std::shared_ptr<Item>& picture) {
    Number(device, *picture);
    UndefineUnknownFormat(*picture);
    Item* parent = picture->parent;
    std::set<std::wstring> taken;
    for (const auto& c : parent->children)
        if (c && !c->deleted && c != picture) taken.insert(Upper(KeyOf(*c)));
    if (ShotAsPair(*picture)) {
        std::shared_ptr<Item> raw = RawHalf(device, *picture);
        KeyApart(device, *raw, taken);
        parent->children.insert(parent->children.end() - 1, raw);
        core.Raise(wia::WIA_EVENT_ITEM_CREATED, device, FullItemName(device, *raw));
    }
    KeyApart(device, *picture, taken);
}

}  // namespace fotexsim

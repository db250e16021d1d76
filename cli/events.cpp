// What the camera does by itself: --wait-event prints each event, --capture-tethered saves each
// new picture as it appears. Both run until a count or a time is reached, or Ctrl-C.
#include <windows.h>

#include <algorithm>
#include <set>
#include <vector>

#include "commands.h"
#include "files.h"
#include "progress.h"
#include "text.h"

namespace fotexcli {

namespace {

// How long to go on: COUNT events, N seconds ("Ns"), N milliseconds ("Nms"), or, with nothing,
// until Ctrl-C.
struct Until {
    int count = 0;
    DWORD ms = 0;
};

bool ParseUntil(const std::string& text, Until& until) {
    until = Until{};
    if (text.empty()) return true;
    const size_t digits = text.find_first_not_of("0123456789");
    int n = 0;
    if (digits == 0 || !ParseDecimal(text.substr(0, digits), n) || n <= 0) return false;
    const std::string unit = digits == std::string::npos ? "" : text.substr(digits);
    if (unit.empty()) until.count = n;
    else if (unit == "s" && n <= 86400 * 24) until.ms = static_cast<DWORD>(n) * 1000;
    else if (unit == "ms") until.ms = static_cast<DWORD>(n);
    else return false;
    return true;
}

struct Event {
    int kind = 0;
    std::string device, item;
};

const char* KindName(int kind) {
    switch (kind) {
        case FOTEX_EVENT_DEVICE_CONNECTED: return "DEVICE_CONNECTED";
        case FOTEX_EVENT_DEVICE_DISCONNECTED: return "DEVICE_DISCONNECTED";
        case FOTEX_EVENT_ITEM_CREATED: return "ITEM_CREATED";
        case FOTEX_EVENT_ITEM_DELETED: return "ITEM_DELETED";
        case FOTEX_EVENT_TREE_UPDATED: return "TREE_UPDATED";
        case FOTEX_EVENT_LOST: return "LOST";
        default: return "UNKNOWN";
    }
}

// One wait of at most `ms`: 1 with an event, 0 without, or the library's failure.
int Next(Session& session, int ms, Event& event) {
    wchar_t device[FOTEX_EVENT_DEVICE_UNITS] = L"", item[FOTEX_EVENT_NAME_UNITS] = L"";
    const int status = session.Call([&] {
        return WaitForCameraEvent(ms, &event.kind, device, sizeof device, item, sizeof item);
    });
    event.device = Utf8(device);
    event.item = Utf8(item);
    return status;
}

// Waits for events and hands each to `handle`, which says how many it counts towards a COUNT.
// kDone when the count or time was reached (or Ctrl-C ended a wait without either).
template <class Handle>
int Watch(Session& session, const Action& action, Handle handle) {
    Until until;
    ParseUntil(action.argument, until);
    const DWORD start = GetTickCount();
    int counted = 0, status = kDone;
    Event event;
    // The first call registers for the events; they are queued from then on.
    int got = Next(session, 0, event);
    int presses = session.options().virtualShutter;
    if (session.flood) session.flood();
    for (;;) {
        if (got < 0) {
            status = Fail("cannot wait for camera events: " + StatusText(got));
            break;
        }
        if (got == 1) counted += handle(event);
        if (until.count && counted >= until.count) break;
        const DWORD elapsed = GetTickCount() - start;
        if (until.ms && elapsed >= until.ms) break;
        if (Interrupted()) {
            if (until.count || until.ms) status = Fail("interrupted");
            break;
        }
        if (presses > 0 && session.pressShutter) {
            --presses;
            session.pressShutter();
        }
        const DWORD slice = until.ms ? std::min<DWORD>(100, until.ms - elapsed) : 100;
        got = Next(session, static_cast<int>(slice), event);
    }
    session.Call([] {
        StopCameraEvents();
        return 0;
    });
    return status;
}

std::string Leaf(const std::string& fullName) {
    const size_t slash = fullName.rfind('\\');
    return slash == std::string::npos ? fullName : fullName.substr(slash + 1);
}

// Saves a new picture the camera announced, in its own format unless --format; 1, or what
// `failed` returns.
template <class Failed>
int SaveFound(Session& session, const Shape& shape, const std::string& fullName, FOTEX_ITEM item, int number, Failed failed) {
    wchar_t fileName[FOTEX_EVENT_NAME_UNITS] = L"";
    session.Call([&] { return GetItemText(item, FOTEX_ITEM_FILE_NAME, fileName, sizeof fileName); });
    const std::string own = Utf8(fileName);
    const size_t dot = own.rfind('.');
    const int format = shape.given & kFormat ? shape.format : FOTEX_FORMAT_NATIVE;
    int code = FOTEX_FORMAT_NONE;
    if (format == FOTEX_FORMAT_NATIVE && dot == std::string::npos) session.Call([&] { return GetItemValue(item, FOTEX_ITEM_FORMAT, &code); });
    NameParts parts;
    parts.number = number;
    GetLocalTime(&parts.time);
    parts.cameraName = Leaf(fullName);
    parts.hasCameraName = true;
    parts.extension = format != FOTEX_FORMAT_NATIVE ? ExtensionOf(format) : dot != std::string::npos ? own.substr(dot + 1) : ExtensionOf(code);
    std::string why;
    const std::string path = CameraFilePath(shape, shape.filename.empty() ? "%f.%C" : shape.filename, parts, why);
    if (path.empty()) return failed("could not save " + Printable(fullName) + ": " + why);
    switch (Target::Ready(session, path, shape.existing, why)) {
        case Target::Refuse: return failed("could not save " + Printable(fullName) + ": " + why);
        case Target::Skip: return 1;
        case Target::Write: break;
    }
    const std::wstring file = Wide(path), before = FileKey(path);
    const int flags = (shape.existing == Existing::Replace ? FOTEX_SAVE_REPLACE : 0) | (shape.keep ? 0 : FOTEX_SAVE_DELETE);
    TransferProgress progress(session, Printable(parts.cameraName), -1);
    const int saved = session.Call([&] {
        return SaveCameraItemWithProgress(item, file.c_str(), format, flags, TransferProgress::Report, &progress);
    });
    if (saved != FOTEX_OK && !shape.keep && OnlyDeleteFailed(path, before)) {
        session.Saved(path);
        session.Progress("Saving file as " + path);
        return failed(Printable(fullName) + " is saved as " + path + ", but the camera could not delete it: " + StatusText(saved) +
                      "; the picture stays on the camera");
    }
    if (saved != FOTEX_OK) {
        DropMadeFolders(session);
        if (saved == FOTEX_E_CANCELLED) return failed("interrupted: " + Printable(fullName) + " not saved; it stays on the camera");
        return failed("could not save " + Printable(fullName) + " as " + path + ": " + StatusText(saved));
    }
    session.Saved(path);
    session.Progress("Saving file as " + path);
    return 1;
}

}  // namespace

std::string CheckUntil(const Action& action) {
    Until until;
    if (!ParseUntil(action.argument, until))
        return "--" + action.verb + " takes a count (5), seconds (10s) or milliseconds (500ms), not '" + action.argument + "'";
    return action.shape.filename.empty() ? "" : CheckPattern(action.shape.filename, true);
}

int WaitEvent(Session& session, const Action& action) {
    return Watch(session, action, [&](const Event& e) {
        if (session.options().parsable) Print(TabbedLine({KindName(e.kind), e.device, e.item}));
        else Print(std::string(KindName(e.kind)) + " " + (e.item.empty() ? e.device : e.item + " on " + e.device));
        return 1;
    });
}

int CaptureTethered(Session& session, const Action& action) {
    if (!session.Open()) return kFailed;
    const std::string mine = DeviceIdentifier(session, session.index());
    const Shape& shape = action.shape;
    bool ok = true;
    int number = 0;
    // What the camera held at the start and what came since: after lost events, the rest is new.
    std::set<std::string> known;
    if (!ListFullNames(session, known)) return kFailed;
    auto failed = [&](const std::string& message) {
        ok = FailItem(message);
        return 1;  // a picture all the same
    };
    auto save = [&](const std::string& fullName) {
        known.insert(fullName);
        FOTEX_ITEM item = 0;
        const std::wstring name = Wide(fullName);
        int found = session.Call([&] { return FindCameraItem(session.device(), name.c_str(), &item); });
        // Asleep or away since the shot: once it is back, the picture is looked for again.
        if (CameraGone(found) && AwaitCamera(session))
            found = session.Call([&] { return FindCameraItem(session.device(), name.c_str(), &item); });
        if (found != FOTEX_OK) return failed("could not save " + Printable(fullName) + ": " + StatusText(found));
        const int saved = SaveFound(session, shape, fullName, item, ++number, failed);
        session.Call([&] {
            ReleaseCameraItem(&item);
            return 0;
        });
        // A picture deleted after its save frees its name: a later picture may take it again.
        if (!shape.keep) {
            FOTEX_ITEM again = 0;
            if (session.Call([&] { return FindCameraItem(session.device(), name.c_str(), &again); }) == FOTEX_OK)
                session.Call([&] {
                    ReleaseCameraItem(&again);
                    return 0;
                });
            else
                known.erase(fullName);
        }
        return saved;
    };
    const int status = Watch(session, action, [&](const Event& e) {
        if (e.kind == FOTEX_EVENT_LOST) {
            // Some events never came: what the camera holds tells which pictures are new.
            std::set<std::string> now;
            if (!ListFullNames(session, now)) {
                ok = FailItem("camera events were lost, and the camera cannot be listed to find the pictures they announced");
                return 0;
            }
            session.Note("note: camera events were lost; saving the pictures taken meanwhile");
            int saved = 0;
            for (const std::string& name : now)
                if (!known.count(name)) saved += save(name);
            return saved;
        }
        if (e.kind != FOTEX_EVENT_ITEM_CREATED || e.device != mine || known.count(e.item)) return 0;
        return save(e.item);
    });
    return status == kDone && ok ? kDone : kFailed;
}

}  // namespace fotexcli

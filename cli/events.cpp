// What the camera does by itself: --wait-event prints each event, --capture-tethered saves each
// new picture as it appears. Both run until a count or a time is reached, or Ctrl-C.
#include <windows.h>

#include <algorithm>
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
int SaveFound(Session& session, const Shape& shape, const std::string& fullName, FOTEX_ITEM item, int number, Failed failed,
              bool* gone = nullptr) {
    wchar_t fileName[FOTEX_EVENT_NAME_UNITS] = L"";
    session.Call([&] { return GetItemText(item, FOTEX_ITEM_FILE_NAME, fileName, sizeof fileName); });
    const std::string own = Utf8(fileName);
    const size_t dot = own.rfind('.');
    const int format = shape.given & kFormat ? shape.format : FOTEX_FORMAT_NATIVE;
    int code = FOTEX_FORMAT_NONE;
    if (format == FOTEX_FORMAT_NATIVE && dot == std::string::npos) session.Call([&] { return GetItemValue(item, FOTEX_ITEM_FORMAT, &code); });
    // The camera's time, as for the files -P saves: the date fields, and the file's own time, by
    // which a later --skip-existing knows the picture.
    wchar_t timeText[64] = L"";
    session.Call([&] { return GetItemText(item, FOTEX_ITEM_TIME, timeText, sizeof timeText); });
    NameParts parts;
    parts.number = number;
    const bool timed = ParseItemTime(Utf8(timeText), parts.time);
    if (!timed) GetLocalTime(&parts.time);
    parts.cameraName = Leaf(fullName);
    parts.cameraFile = own;
    parts.cameraFolder = FolderOfFullName(fullName);
    parts.hasCameraName = true;
    parts.extension = format != FOTEX_FORMAT_NATIVE ? ExtensionOf(format) : dot != std::string::npos ? own.substr(dot + 1) : ExtensionOf(code);
    std::string why;
    const std::string path = CameraFilePath(shape, shape.filename.empty() ? "%f.%C" : shape.filename, parts, why);
    if (path.empty()) return failed("could not save " + Printable(fullName) + ": " + why);
    // A new picture: an existing file of its name is another, unless it has its size and time.
    if (shape.existing == Existing::Skip && IsFile(path) && !WrittenThisRun(session, path)) {
        int size = -1;
        if (format == FOTEX_FORMAT_NATIVE && session.Call([&] { return GetItemValue(item, FOTEX_ITEM_SIZE, &size); }) != FOTEX_OK) size = -1;
        if ((size >= 0 && FileSize(path) != size) || (timed && !FileHasTime(path, parts.time)))
            return failed("could not save " + Printable(fullName) + ": " + path + " exists and holds another picture (--force-overwrite replaces it)");
    }
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
    if (!shape.keep && OnlyDeleteFailed(saved, path, before)) {
        if (timed) SetFileTimeTo(path, parts.time);
        session.Saved(path);
        session.Progress("Saving file as " + path);
        return failed(Printable(fullName) + " is saved as " + path + ", but the camera could not delete it: " + StatusText(saved) +
                      "; the picture stays on the camera");
    }
    if (saved != FOTEX_OK) {
        DropMadeFolders(session);
        if (gone != nullptr && CameraGone(saved)) {
            *gone = true;
            return 0;
        }
        if (saved == FOTEX_E_CANCELLED) return failed("interrupted: " + Printable(fullName) + " not saved; it stays on the camera");
        return failed("could not save " + Printable(fullName) + " as " + path + ": " + StatusText(saved));
    }
    if (timed) SetFileTimeTo(path, parts.time);
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
    const Shape& shape = action.shape;
    const Options& options = session.options();
    Until until;
    ParseUntil(action.argument, until);
    bool ok = true;
    int number = 0, saved = 0;
    auto failed = [&](const std::string& message) {
        ok = FailItem(message);
        return 1;  // a picture all the same
    };
    // Registered for the events before the camera is taken as seen: a picture taken in between
    // is listed by the first look, never lost between the two.
    Event event;
    int got = Next(session, 0, event);
    if (got < 0) return Fail("cannot wait for camera events: " + StatusText(got));
    int count = 0;
    const int reset = session.Call([&] { return ListNewCameraItems(session.device(), FOTEX_NEW_RESET, &count); });
    if (reset != FOTEX_OK) {
        session.Call([] {
            StopCameraEvents();
            return 0;
        });
        return Fail("cannot list the camera: " + StatusText(reset));
    }
    if (session.flood) session.flood();
    // What the camera holds that the previous look did not: each is saved once, whatever the
    // events said. A failed look changes nothing and is made again at the next wake-up.
    bool lookFailed = false;
    auto look = [&] {
        int status = session.Call([&] { return ListNewCameraItems(session.device(), 0, &count); });
        // Asleep or away: once it is back, the look is made again.
        if (CameraGone(status) && AwaitCamera(session))
            status = session.Call([&] { return ListNewCameraItems(session.device(), 0, &count); });
        if (status != FOTEX_OK) {
            if (!lookFailed) session.Note("cannot list the camera (" + StatusText(status) + "); trying again");
            lookFailed = true;
            return;
        }
        lookFailed = false;
        for (int i = 0; i < count && !Interrupted() && !(until.count && saved >= until.count); ++i) {
            FOTEX_ITEM item = 0;
            wchar_t name[FOTEX_EVENT_NAME_UNITS] = L"";
            const int opened = session.Call([&] { return OpenCameraItem(session.device(), i, &item); });
            if (opened == FOTEX_OK)
                session.Call([&] { return GetItemText(item, FOTEX_ITEM_FULL_NAME, name, sizeof name); });
            const std::string fullName = Utf8(name);
            if (opened != FOTEX_OK) saved += failed("could not save new file #" + std::to_string(i + 1) + ": " + StatusText(opened));
            else {
                bool gone = false;
                saved += SaveFound(session, shape, fullName, item, ++number, failed, &gone);
                // Away in the middle of the save: the picture, already taken as seen, is found
                // again by its name once the camera is back.
                if (gone) {
                    session.Call([&] {
                        ReleaseCameraItem(&item);
                        return 0;
                    });
                    const std::wstring wide = Wide(fullName);
                    const int found = AwaitCamera(session) ? session.Call([&] { return FindCameraItem(session.device(), wide.c_str(), &item); })
                                                           : static_cast<int>(FOTEX_E_DISCONNECTED);
                    saved += found == FOTEX_OK ? SaveFound(session, shape, fullName, item, number, failed)
                                               : failed("could not save " + Printable(fullName) + ": " + StatusText(found));
                }
            }
            session.Call([&] {
                ReleaseCameraItem(&item);
                return 0;
            });
        }
    };
    const DWORD start = GetTickCount(), every = static_cast<DWORD>(options.poll) * 1000;
    DWORD lastLook = start;
    int presses = options.virtualShutter, status = kDone;
    bool wake = got == 1;
    for (;;) {
        if (got < 0) {
            status = Fail("cannot wait for camera events: " + StatusText(got));
            break;
        }
        // Any event is a wake-up only: what is new comes from the camera itself. The events
        // queued behind it wake the same look.
        bool lost = false;
        for (; got == 1; got = Next(session, 0, event)) {
            wake = true;
            lost = lost || event.kind == FOTEX_EVENT_LOST;
        }
        if (got < 0) continue;
        if (lost) session.Note("note: camera events were lost; the camera's own listing finds the pictures they announced");
        if (every && GetTickCount() - lastLook >= every) wake = true;
        if (wake) {
            wake = false;
            lastLook = GetTickCount();
            look();
        }
        if (until.count && saved >= until.count) break;
        const DWORD elapsed = GetTickCount() - start;
        if (until.ms && elapsed >= until.ms) {
            look();  // what came in the last moments
            break;
        }
        if (Interrupted()) {
            if (until.count || until.ms) status = Fail("interrupted");
            break;
        }
        if (session.pressDue) session.pressDue();
        else if (presses > 0 && session.pressShutter) {
            --presses;
            session.pressShutter();
        }
        DWORD slice = 100;
        if (until.ms) slice = std::min<DWORD>(slice, until.ms - elapsed);
        if (every) slice = std::min<DWORD>(slice, every - std::min(every, GetTickCount() - lastLook));
        got = Next(session, static_cast<int>(slice), event);
    }
    session.Call([] {
        StopCameraEvents();
        return 0;
    });
    if (lookFailed && status == kDone) status = Fail("the camera could not be listed at the end; pictures may not be saved");
    return status == kDone && ok ? kDone : kFailed;
}

}  // namespace fotexcli

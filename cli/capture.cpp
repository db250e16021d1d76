// Pictures into files: capture and the system dialog. The dialog reports nothing about its
// transfer, so its picture counts as saved only when its file is there.
#include <windows.h>

#include "commands.h"
#include "files.h"

namespace fotexcli {

namespace {

// Where ImageTransferDialog puts the picture it acquires.
const char kDialogFile[] = "C:\\kalto.jpg";

// Takes a picture; 0 when the camera took none.
FOTEX_ITEM Take(Session& session) {
    FOTEX_ITEM item = 0;
    session.Call([&] {
        TakeAPicture(session.device(), &item);
        return 0;
    });
    return item;
}

}  // namespace

std::string CheckCapture(const Action& action) {
    return action.shape.filename.empty() ? "" : CheckPattern(action.shape.filename, false);
}

int CaptureImage(Session& session, const Action&) {
    if (!session.Open()) return kFailed;
    FOTEX_ITEM item = Take(session);
    if (item == 0) return Fail("the camera took no picture");
    // A transfer without a name only gives the handle back.
    session.Call([&] {
        TransferPicture(item, nullptr, FOTEX_FORMAT_JPEG, FOTEX_KEEP);
        return 0;
    });
    ++session.captures;
    session.Progress("New picture taken; it stays on the camera");
    return kDone;
}

int CaptureAndDownload(Session& session, const Action& action) {
    const Shape& shape = action.shape;
    NameParts parts;
    parts.number = session.captures + session.options().fileNumber;
    GetLocalTime(&parts.time);
    parts.extension = ExtensionOf(shape.format);
    const std::string name = WithExtension(Expand(shape.filename.empty() ? "capt%04n" : shape.filename, parts), parts.extension);
    std::string why;
    // Checked before the picture is taken; the library then keeps the rule while it writes.
    switch (Target::Ready(session, name, shape.existing, why)) {
        case Target::Refuse: return Fail(why + "; no picture taken");
        case Target::Skip: return kDone;
        case Target::Write: break;
    }
    if (!session.Open()) return kFailed;

    FOTEX_ITEM item = Take(session);
    if (item == 0) return Fail("the camera took no picture");
    ++session.captures;
    const std::wstring wide = Wide(name), before = FileKey(name);
    const int flags = (shape.existing == Existing::Replace ? FOTEX_SAVE_REPLACE : 0) | (shape.keep ? 0 : FOTEX_SAVE_DELETE);
    const int status = session.Call([&] { return SaveCameraItem(item, wide.c_str(), shape.format, flags); });
    session.Call([&] {
        ReleaseCameraItem(&item);
        return 0;
    });
    if (!shape.keep && OnlyDeleteFailed(status, name, before)) {
        session.Saved(name);
        session.Progress("Saving file as " + name);
        return Fail("the new picture is saved as " + name + ", but the camera could not delete it: " + StatusText(status) +
                    "; it stays on the camera");
    }
    if (status != FOTEX_OK) return Fail("could not save the new picture as " + name + ": " + StatusText(status) + "; it stays on the camera");
    session.Saved(name);
    session.Progress("Saving file as " + name);
    if (!shape.keep) session.Progress("Deleting the picture from the camera");
    return kDone;
}

int Dialog(Session& session, const Action& action) {
    Target target(kDialogFile);
    std::string why;
    if (WrittenThisRun(session, kDialogFile))
        return Fail(std::string(kDialogFile) + " was saved by this run already; the dialog was not shown");
    switch (target.Prepare(action.shape.existing, why)) {
        case Target::Refuse: return Fail(why + "; the dialog was not shown");
        case Target::Skip: session.Progress(std::string("Skipping existing file ") + kDialogFile); return kDone;
        case Target::Write: break;
    }
    if (!session.Open()) return kFailed;
    const int status = session.Call([&] { return ImageTransferDialog(0, session.device()); });
    if (status != FOTEX_OK) {
        const std::string reason = status == FOTEX_DIALOG_NO_MANAGER ? "the device manager could not be created" : "no device";
        return Fail("cannot show the dialog: " + reason + " (status " + std::to_string(status) + ")");
    }
    if (!IsFile(kDialogFile)) return Fail("no picture was acquired: the dialog was cancelled or failed");
    target.Keep();
    Remember(session, kDialogFile);
    session.Progress(std::string("Saving file as ") + kDialogFile);
    return kDone;
}

}  // namespace fotexcli

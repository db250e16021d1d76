// Pictures into files: capture, download everything, the system dialog. The library reports
// nothing about a transfer, so a picture counts as saved only when its file is there and the
// library traced no failure while writing it.
#include <windows.h>

#include <algorithm>
#include <set>
#include <vector>

#include "commands.h"
#include "files.h"
#include "options.h"

namespace fotexcli {

namespace {

// Where ImageTransferDialog puts the picture it acquires.
const char kDialogFile[] = "C:\\kalto.jpg";

std::set<std::wstring> FilesIn(const std::string& folder) {
    std::set<std::wstring> names;
    WIN32_FIND_DATAW data;
    const HANDLE find = FindFirstFileW(Wide(folder + "\\*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) return names;
    do {
        if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) names.insert(data.cFileName);
    } while (FindNextFileW(find, &data));
    FindClose(find);
    return names;
}

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
    parts.number = session.captures + 1;
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
    const std::wstring wide = Wide(name);
    const int flags = (shape.existing == Existing::Replace ? FOTEX_SAVE_REPLACE : 0) | (shape.keep ? 0 : FOTEX_SAVE_DELETE);
    const int status = session.Call([&] { return SaveCameraItem(item, wide.c_str(), shape.format, flags); });
    session.Call([&] {
        ReleaseCameraItem(&item);
        return 0;
    });
    if (status != FOTEX_OK) return Fail("could not save the new picture as " + name + ": " + StatusText(status) + "; it stays on the camera");
    Remember(session, name);
    session.Progress("Saving file as " + name);
    if (!shape.keep) session.Progress("Deleting the picture from the camera");
    return kDone;
}

std::string CheckGetAllFiles(const Action& action) {
    const unsigned given = action.shape.given;
    if (given & kFilename) {
        if (given & kPrefix) return "--get-all-files takes --filename or --prefix, not both";
        return CheckPattern(action.shape.filename, true);
    }
    if (given & kExisting)
        return "--get-all-files takes --force-overwrite and --skip-existing with --filename only: without it the "
               "library names the files and never replaces one";
    return "";
}

int GetAllFiles(Session& session, const Action& action) {
    if (action.shape.given & kFilename) return GetAllFilesByPattern(session, action);
    const Shape& shape = action.shape;
    std::string why;
    if (!MakeFolders(shape.folder, why)) return Fail(why + "; nothing saved");
    // The library names each file folder\prefix, the number in eight places, the extension.
    const std::string extension = ExtensionOf(shape.format);
    const std::string longest = shape.folder + "\\" + shape.prefix + "12345678" + (extension.empty() ? "" : "." + extension);
    std::string folder, prefix, ignored;
    std::string problem = LibraryNameProblem(longest, ignored);
    if (problem.empty() && !ToAnsi(shape.folder, folder)) problem = "the folder cannot be written in the system code page";
    if (problem.empty() && !ToAnsi(shape.prefix, prefix)) problem = "the prefix cannot be written in the system code page";
    if (!problem.empty()) return Fail("names like " + longest + " do not fit: " + problem + "; nothing saved");
    // The library says nothing of the files it did not save: the list, in the same order as its
    // walk, names them.
    std::vector<std::string> names;
    if (!CameraFileNames(session, names)) return kFailed;

    const std::set<std::wstring> before = FilesIn(shape.folder);
    session.Call([&] {
        TransferAllImages(session.device(), folder.c_str(), prefix.c_str(), shape.format,
                          shape.keep ? FOTEX_KEEP : FOTEX_DELETE_AFTER_TRANSFER);
        return 0;
    });
    int saved = 0;
    for (const std::wstring& file : FilesIn(shape.folder)) {
        if (before.count(file)) continue;
        session.Progress("Saving file as " + shape.folder + "\\" + Utf8(file));
        ++saved;
    }
    session.Progress(std::to_string(saved) + " file" + (saved == 1 ? "" : "s") + " saved in " + shape.folder);
    if (session.traced().empty() && static_cast<size_t>(saved) >= names.size()) return kDone;
    if (static_cast<size_t>(saved) >= names.size()) return Fail("the transfer failed (the line above)");
    Fail("could not save #" + std::to_string(saved + 1) + " " + names[saved] + " (the line above)");
    std::string rest;
    for (size_t i = saved + 1; i < names.size(); ++i) rest += (rest.empty() ? "" : ", ") + ("#" + std::to_string(i + 1) + " " + names[i]);
    if (!rest.empty()) Fail("not saved either, as the transfer stopped: " + rest);
    return kFailed;
}

int Dialog(Session& session, const Action& action) {
    Target target(kDialogFile);
    std::string why;
    if (session.written.count(PathKey(kDialogFile)))
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

// The actions of the fotex host, by family. Each runs one action and returns its exit status;
// each Check returns "" when the action can run, else why not (a usage error).
#pragma once

#include <set>
#include <string>
#include <vector>

#include "cli.h"

namespace fotexcli {

// Devices and the library (commands.cpp).
// A status that says the camera went away (asleep, unplugged, or the service ended).
bool CameraGone(int status);
// Says the camera went away and waits for it, up to a minute; true once a device call works again.
bool AwaitCamera(Session& session);

int Version(Session& session, const Action& action);
int AutoDetect(Session& session, const Action& action);
int Summary(Session& session, const Action& action);
int Abilities(Session& session, const Action& action);
int StorageInfo(Session& session, const Action& action);
int DeleteAllFiles(Session& session, const Action& action);

// Pictures into files (capture.cpp).
int CaptureImage(Session& session, const Action& action);
int CaptureAndDownload(Session& session, const Action& action);
std::string CheckCapture(const Action& action);
int Dialog(Session& session, const Action& action);

// What is on the camera (contents.cpp). Files go by the numbers --list-files shows, from 1.
int ListFiles(Session& session, const Action& action);
int ListFolders(Session& session, const Action& action);
int NumFiles(Session& session, const Action& action);
int ShowInfo(Session& session, const Action& action);
std::string CheckShowInfo(const Action& action);
int GetFile(Session& session, const Action& action);
int GetThumbnail(Session& session, const Action& action);
int DeleteFiles(Session& session, const Action& action);
std::string CheckFiles(const Action& action);
// Every file, each through its own transfer: under the --filename pattern with the file rules,
// or without one under a numbered name no file holds.
int GetAllFiles(Session& session, const Action& action);
int GetAllThumbnails(Session& session, const Action& action);
std::string CheckGetAllFiles(const Action& action);
// How many files the camera lists; -1 reported when it cannot list them.
int RemainingFiles(Session& session);
// The identifier of the listed device at `index`.
std::string DeviceIdentifier(Session& session, int index);
// The library's words for a status of its newer functions, with the code.
std::string StatusText(int status);

// Camera events (events.cpp).
int WaitEvent(Session& session, const Action& action);
int CaptureTethered(Session& session, const Action& action);
std::string CheckUntil(const Action& action);

// Camera settings (settings.cpp).
int ListConfig(Session& session, const Action& action);
int GetConfig(Session& session, const Action& action);
int SetConfig(Session& session, const Action& action);
int SetConfigIndex(Session& session, const Action& action);
int ListAllConfig(Session& session, const Action& action);
std::string CheckSetConfigIndex(const Action& action);
std::string CheckGetConfig(const Action& action);
std::string CheckSetConfig(const Action& action);
// Every setting, one per line: its value, or why it could not be read.
void PrintSettings(Session& session, const char* indent);

// The format codes and their extensions, from the library's header: "jpg" for
// FOTEX_FORMAT_JPEG, "" for codes the library adds no extension for.
std::string ExtensionOf(int format);
// A format code, or an extension (jpg, .png, tif, ...): false when neither.
bool ParseFormat(const std::string& text, int& format);
// The formats by name, for --help.
std::string FormatNames();
// One record of --parsable output: the fields joined by tabs; a tab or line break inside a
// field becomes a blank.
std::string TabbedLine(const std::vector<std::string>& fields);

}  // namespace fotexcli

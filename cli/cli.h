// The fotex command-line host: gphoto2-style options over Fotex.dll's exports.
#pragma once

#include <string>
#include <vector>

#include "fotex.h"

namespace fotexcli {

struct Options {
    bool virtualCamera = false;
    int device = 0;                  // --device N: index in the device list
    std::vector<std::string> actions;  // in the order given: "version", "auto-detect", "summary", ...
};

// Reports one failure on stderr; returns the exit status to use.
int Fail(const std::string& message);

// UTF-16LE bytes from the DLL (at most 128 bytes, maybe unterminated) as UTF-8 text.
std::string FromUtf16(const void* bytes, size_t maxBytes = FOTEX_TEXT_BYTES);

// An open device for the length of the program.
class Session {
public:
    explicit Session(const Options& options) : options_(options) {}
    ~Session();
    // Lists the devices and opens the chosen one; reports and returns false on failure.
    bool Open();
    FOTEX_DEVICE device() const { return device_; }
    int count() const { return count_; }
    int index() const { return options_.device; }

private:
    const Options& options_;
    FOTEX_DEVICE device_ = 0;
    int count_ = -1;
};

int PrintVersion();
int AutoDetect();
int Summary(Session& session);

// Camera settings. `action` is "list-config", "get-config NAME" or "set-config NAME=VALUE".
int Settings(Session& session, const std::string& action);
// Every setting, one per line: its value, or why it could not be read.
void PrintSettings(Session& session, const char* indent);

}  // namespace fotexcli

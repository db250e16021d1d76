// One transfer's progress: a bar on standard error when it is a console, and Ctrl-C, which
// cancels the transfer in flight.
#pragma once

#include <windows.h>

#include <string>

#include "cli.h"

namespace fotexcli {

class TransferProgress {
public:
    // `size` in bytes, or below 0 when the camera does not say.
    TransferProgress(Session& session, std::string name, int size);
    ~TransferProgress();
    TransferProgress(const TransferProgress&) = delete;
    TransferProgress& operator=(const TransferProgress&) = delete;

    // The library's callback (FOTEX_PROGRESS), with this object as its context: non-zero cancels.
    static int FOTEX_CALL Report(void* context, int percent);

private:
    Session& session_;
    std::string name_;
    int size_;
    DWORD start_;
    HANDLE console_ = nullptr;  // standard error when it is a console and fotex is not quiet
    int shown_ = -1;            // the percent last drawn
};

}  // namespace fotexcli

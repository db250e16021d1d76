#include "progress.h"

#include <cstdio>

namespace fotexcli {

namespace {

// "1.2 MB", "350 KB", "80 bytes".
std::string Bytes(double n) {
    char text[32];
    if (n >= 1024.0 * 1024) std::snprintf(text, sizeof text, "%.1f MB", n / (1024.0 * 1024));
    else if (n >= 1024) std::snprintf(text, sizeof text, "%.0f KB", n / 1024);
    else std::snprintf(text, sizeof text, "%.0f bytes", n);
    return text;
}

}  // namespace

TransferProgress::TransferProgress(Session& session, std::string name, int size)
    : session_(session), name_(std::move(name)), size_(size), start_(GetTickCount()) {
    ++session_.transfers;
    const HANDLE error = GetStdHandle(STD_ERROR_HANDLE);
    DWORD mode = 0;
    if (!session_.quiet() && GetConsoleMode(error, &mode)) console_ = error;
}

TransferProgress::~TransferProgress() {
    DWORD written = 0;
    if (console_ && shown_ >= 0) WriteConsoleW(console_, L"\n", 1, &written, nullptr);
}

int FOTEX_CALL TransferProgress::Report(void* context, int percent) {
    auto& p = *static_cast<TransferProgress*>(context);
    if (p.session_.transfers == p.session_.options().virtualInterrupt) Interrupt();
    if (p.session_.pressDue) p.session_.pressDue();
    if (p.console_ && percent != p.shown_) {
        p.shown_ = percent;
        std::string line = "\r" + p.name_ + " " + std::to_string(percent) + "%";
        if (p.size_ >= 0) {
            const double done = static_cast<double>(p.size_) * percent / 100;
            const double seconds = (GetTickCount() - p.start_) / 1000.0;
            line += " " + Bytes(done) + " of " + Bytes(p.size_);
            if (seconds > 0) line += ", " + Bytes(done / seconds) + "/s";
        }
        const std::wstring wide = Wide(line + "   ");
        DWORD written = 0;
        WriteConsoleW(p.console_, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr);
    }
    return Interrupted() ? 1 : 0;
}

}  // namespace fotexcli

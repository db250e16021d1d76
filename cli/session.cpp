// Text conversions, output streams, the library's trace and the open device.
#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <algorithm>
#include <cstdio>

#include "cli.h"

namespace fotexcli {

std::wstring Wide(const std::string& utf8) {
    if (utf8.empty()) return {};
    const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring wide(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), &wide[0], n);
    return wide;
}

std::string Utf8(const std::wstring& wide) {
    if (wide.empty()) return {};
    const int n = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0, nullptr, nullptr);
    std::string text(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), &text[0], n, nullptr, nullptr);
    return text;
}

std::string FromUtf16(const void* bytes, size_t maxBytes, bool* full) {
    const auto* units = static_cast<const wchar_t*>(bytes);
    size_t n = 0;
    while (n < maxBytes / 2 && units[n] != 0) ++n;
    if (full) *full = n == maxBytes / 2;
    return Utf8(std::wstring(units, n));
}

bool ToAnsi(const std::string& utf8, std::string& ansi) {
    const std::wstring wide = Wide(utf8);
    ansi.clear();
    if (wide.empty()) return true;
    BOOL lossy = FALSE;
    const int n = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.data(), static_cast<int>(wide.size()), nullptr, 0,
                                      nullptr, &lossy);
    if (n <= 0 || lossy) return false;
    ansi.assign(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.data(), static_cast<int>(wide.size()), &ansi[0], n, nullptr, &lossy);
    return !lossy;
}

std::string Hex(long code) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(code));
    return text;
}

size_t Columns(const std::string& utf8) {
    size_t n = 0;
    for (unsigned char c : utf8)
        if ((c & 0xC0) != 0x80) ++n;
    return n;
}

void Print(const std::string& line) {
    // A console shows UTF-16 whatever its code page; files and pipes get UTF-8 bytes.
    const HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD mode = 0, written = 0;
    if (GetConsoleMode(out, &mode)) {
        std::fflush(stdout);
        const std::wstring wide = Wide(line) + L"\r\n";
        if (WriteConsoleW(out, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr)) return;
    }
    std::fputs(line.c_str(), stdout);
    std::fputc('\n', stdout);
}

void LinesEndInLineFeeds() {
    DWORD mode;
    std::fflush(stdout);
    std::fflush(stderr);
    if (!GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode)) _setmode(_fileno(stdout), _O_BINARY);
    if (!GetConsoleMode(GetStdHandle(STD_ERROR_HANDLE), &mode)) _setmode(_fileno(stderr), _O_BINARY);
}

int Fail(const std::string& message) {
    std::fflush(stdout);
    std::fprintf(stderr, "fotex: %s\n", message.c_str());
    std::fflush(stderr);
    return kFailed;
}

bool FailItem(const std::string& message) {
    Fail(message);
    return false;
}

int UsageError(const std::string& message) {
    Fail(message);
    return kUsage;
}

namespace {

// Set by the console's Ctrl-C handler, which the system calls on a thread of its own with no
// way to pass it anything else.
volatile LONG g_interrupted = 0;

BOOL WINAPI OnCtrlC(DWORD type) {
    if (type != CTRL_C_EVENT && type != CTRL_BREAK_EVENT) return FALSE;
    InterlockedExchange(&g_interrupted, 1);
    return TRUE;
}

}  // namespace

void CatchInterrupts() { SetConsoleCtrlHandler(OnCtrlC, TRUE); }

void Interrupt() { OnCtrlC(CTRL_C_EVENT); }

bool Interrupted() { return g_interrupted != 0; }

Trace::Trace() {
    wchar_t folder[MAX_PATH], path[MAX_PATH];
    if (!GetTempPathW(MAX_PATH, folder) || !GetTempFileNameW(folder, L"ftx", 0, path)) return;
    const HANDLE file = CreateFileW(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    scratch_ = _open_osfhandle(reinterpret_cast<intptr_t>(file), _O_RDWR | _O_BINARY);
    if (scratch_ < 0) CloseHandle(file);
}

Trace::~Trace() {
    if (scratch_ >= 0) _close(scratch_);
}

void Trace::Begin() {
    std::fflush(stdout);
    saved_ = _dup(1);
    if (saved_ < 0) return;
    // Without a scratch file the lines still reach stderr, only not read back.
    _dup2(scratch_ >= 0 ? scratch_ : 2, 1);
}

std::string Trace::End() {
    std::fflush(stdout);
    if (saved_ >= 0) {
        _dup2(saved_, 1);
        _close(saved_);
        saved_ = -1;
    }
    std::string text;
    if (scratch_ < 0) return text;
    const long size = _lseek(scratch_, 0, SEEK_END);
    if (size > 0) {
        text.resize(static_cast<size_t>(size));
        _lseek(scratch_, 0, SEEK_SET);
        text.resize(static_cast<size_t>(std::max(0, _read(scratch_, &text[0], static_cast<unsigned>(size)))));
        std::fputs(text.c_str(), stderr);
        std::fflush(stderr);
    }
    _chsize(scratch_, 0);
    _lseek(scratch_, 0, SEEK_SET);
    return text;
}

Session::~Session() {
    Call([&] {
        CloseWiaDevice(&device_);
        return 0;
    });
}

void Session::Progress(const std::string& line) const {
    if (!quiet()) Print(line);
}

void Session::Note(const std::string& line) const {
    if (quiet()) return;
    std::fflush(stdout);
    std::fprintf(stderr, "fotex: %s\n", line.c_str());
    std::fflush(stderr);
}

namespace {

std::string WhyNoList(int status) {
    switch (status) {
        case FOTEX_ENUM_SERVICE_FAILED: return "the image-acquisition service failed";
        case FOTEX_ENUM_NO_MANAGER: return "the device manager could not be created";
        default: return "unexpected status";
    }
}

std::string WhyNotOpen(int status) {
    switch (status) {
        case FOTEX_OPEN_NO_MANAGER: return "the device manager could not be created";
        case FOTEX_OPEN_BAD_INDEX: return "the device is no longer listed";
        case FOTEX_OK: return "the service could not open it";
        default: return "unexpected status";
    }
}

}  // namespace

bool Session::List() {
    const int status = Call([&] { return EnumerateWiaDevices(&count_); });
    if (status == FOTEX_OK) return true;
    Fail("cannot list the devices: " + WhyNoList(status) + " (status " + std::to_string(status) + ")");
    return false;
}

bool Session::Hook(const char* action, const std::string& argument) {
    if (options_.hook.empty()) return true;
    SetEnvironmentVariableW(L"ACTION", Wide(action).c_str());
    SetEnvironmentVariableW(L"ARGUMENT", argument.empty() ? nullptr : Wide(argument).c_str());
    // cmd runs batch files and programs alike; the outer quotes are its own.
    std::wstring command = L"cmd.exe /c \"\"" + Wide(options_.hook) + L"\"\"";
    STARTUPINFOW start{};
    start.cb = sizeof start;
    // With --stdout, standard output holds a file's bytes: what the script prints goes to stderr.
    HANDLE aside = nullptr;
    const HANDLE err = GetStdHandle(STD_ERROR_HANDLE);
    if (options_.toStdout && err != nullptr && err != INVALID_HANDLE_VALUE &&
        DuplicateHandle(GetCurrentProcess(), err, GetCurrentProcess(), &aside, 0, TRUE, DUPLICATE_SAME_ACCESS)) {
        start.dwFlags = STARTF_USESTDHANDLES;
        start.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
        start.hStdOutput = aside;
        start.hStdError = aside;
    }
    PROCESS_INFORMATION process{};
    const BOOL started =
        CreateProcessW(nullptr, &command[0], nullptr, nullptr, aside != nullptr, 0, nullptr, nullptr, &start, &process);
    const DWORD error = GetLastError();
    if (aside != nullptr) CloseHandle(aside);
    if (!started) {
        Note("cannot run the hook script " + options_.hook + " (error " + std::to_string(error) + ")");
        return false;
    }
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD exit = 0;
    GetExitCodeProcess(process.hProcess, &exit);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    if (exit != 0) Note("the hook script " + options_.hook + " ended with status " + std::to_string(exit));
    return exit == 0;
}

// The index of the device whose name or identifier is `name` (any case), or -1.
int Session::Find(const std::string& name) {
    for (int i = 0; i < count_; ++i) {
        char id[FOTEX_TEXT_BYTES] = {}, shown[FOTEX_TEXT_BYTES] = {}, description[FOTEX_TEXT_BYTES] = {};
        Call([&] {
            GetWiaDeviceInfo(i, id, shown, description);
            return 0;
        });
        for (const char* text : {shown, id})
            if (lstrcmpiW(Wide(FromUtf16(text)).c_str(), Wide(name).c_str()) == 0) return i;
    }
    return -1;
}

bool Session::Open() {
    if (device_ != 0) return true;
    if (!List()) return false;
    if (!options_.camera.empty()) {
        index_ = Find(options_.camera);
        if (index_ < 0) {
            Fail("no camera named '" + options_.camera + "' (see --auto-detect)");
            return false;
        }
    }
    if (index() >= count_) {
        Fail(count_ == 0 ? std::string("no device found")
                         : "no device " + std::to_string(options_.device) + " (" + std::to_string(count_) + " listed, from 0)");
        return false;
    }
    const int opened = Call([&] { return OpenWiaDevice(index(), &device_); });
    if (opened != FOTEX_OK || device_ == 0) {
        Fail("cannot open device " + std::to_string(index()) + ": " + WhyNotOpen(opened) + " (status " +
             std::to_string(opened) + ")");
        return false;
    }
    return true;
}

}  // namespace fotexcli

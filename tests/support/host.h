// Test host techniques: loading Fotex.dll fresh, capturing what it prints, recording message
// boxes instead of showing them, patching its imports, and guarded host buffers.
#pragma once

#include <windows.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "fotex.h"

namespace fotextest {

// Replaces the function that `module` imports as `dll!function` and returns the original, or
// null when the module does not import it.
void* PatchImport(HMODULE module, const char* dll, const char* function, void* replacement);

// Makes `module` widen ANSI text with `codePage` (932, 65001, ...) as on a system whose ANSI code
// page it is, by patching its import of MultiByteToWideChar; undone on destruction.
class AnsiCodePage {
public:
    AnsiCodePage(HMODULE module, UINT codePage);
    ~AnsiCodePage();
    AnsiCodePage(const AnsiCodePage&) = delete;
    AnsiCodePage& operator=(const AnsiCodePage&) = delete;
    bool active() const { return original_ != nullptr; }

private:
    HMODULE module_;
    void* original_;
};

// Text of `count` copies of `unit`, a multibyte character given by its bytes.
std::string Repeat(const char* unit, size_t count);

// Redirects descriptor 1 of msvcrt (shared by the DLL and this host) into a file.
class StdoutCapture {
public:
    StdoutCapture();
    ~StdoutCapture();
    // What was printed since the last call.
    std::string Take();

    // The capture in force, if any; the test runner's own lines go around it.
    static StdoutCapture* Active();
    void Suspend();
    void Resume();

private:
    int saved_ = -1;
    int fd_ = -1;
    std::string path_;
    long offset_ = 0;
};

struct MessageBoxCall {
    HWND owner;
    std::string text;
    std::string caption;
    UINT style;
};

// The exports, resolved by name from a freshly loaded Fotex.dll.
#define FOTEX_TEST_EXPORTS(X) \
    X(VexaVersionInfo)        \
    X(EnumerateWiaDevices)    \
    X(GetWiaDeviceInfo)       \
    X(OpenWiaDevice)          \
    X(CloseWiaDevice)         \
    X(TakeAPicture)           \
    X(DeleteAll)              \
    X(EnumDeviceCap)          \
    X(GetStorageInfo)         \
    X(TransferPicture)        \
    X(TransferAllImages)      \
    X(ImageTransferDialog)    \
    X(ListCameraItems)        \
    X(GetCameraItemText)      \
    X(GetCameraItemValue)     \
    X(OpenCameraItem)         \
    X(FindCameraItem)         \
    X(SaveCameraItem)         \
    X(SaveCameraThumbnail)    \
    X(DeleteCameraItem)       \
    X(ReleaseCameraItem)      \
    X(DescribeStatus)         \
    X(GetSettingChoices)      \
    X(WaitForCameraEvent)     \
    X(StopCameraEvents)       \
    X(GetSetting)             \
    X(SetSetting)             \
    X(GetSettingText)         \
    X(SetSettingText)         \
    X(DescribeSetting)        \
    X(DescribeSettingValue)   \
    X(FindSettingValue)       \
    X(SaveCameraItemWithProgress) \
    X(ReadCameraItem)         \
    X(ReadCameraThumbnail)    \
    X(GetItemText)            \
    X(GetItemValue)           \
    X(ListNewCameraItems)

class Library {
public:
    // Loads the DLL (its entry point initialises COM on this thread) and patches its
    // MessageBoxA so that boxes are recorded, never shown.
    bool Load();
    void Unload();
    bool loaded() const { return module_ != nullptr; }
    HMODULE module() const { return module_; }
    void* Symbol(const char* name) const;
    // When set, every symbol handed out (the exports above too) is what this makes of it.
    using SymbolFilter = void* (*)(const char* name, void* symbol);
    static SymbolFilter& Filter();

#define FOTEX_TEST_DECLARE(name) decltype(&::name) name = nullptr;
    FOTEX_TEST_EXPORTS(FOTEX_TEST_DECLARE)
#undef FOTEX_TEST_DECLARE

    static std::vector<MessageBoxCall>& Boxes();
    // What the recorded boxes return; IDOK by default.
    static int& BoxAnswer();

private:
    HMODULE module_ = nullptr;
};

// A host buffer with guard bytes on both sides, preset to a sentinel.
template <size_t N>
class Guarded {
public:
    static constexpr uint8_t kGuard = 0xA5;
    static constexpr uint8_t kSentinel = 0xCD;
    static constexpr size_t kPad = 32;

    Guarded() {
        std::memset(raw_, kGuard, sizeof raw_);
        Fill(kSentinel);
    }
    void Fill(uint8_t byte) { std::memset(raw_ + kPad, byte, N); }
    void Set(const char* text) {
        Fill(0);
        std::memcpy(raw_ + kPad, text, std::strlen(text) + 1);
    }
    uint8_t* data() { return raw_ + kPad; }
    char* chars() { return reinterpret_cast<char*>(data()); }
    const uint8_t* data() const { return raw_ + kPad; }
    std::string str() const { return std::string(reinterpret_cast<const char*>(data()), strnlen(reinterpret_cast<const char*>(data()), N)); }
    bool Untouched() const {
        for (size_t i = 0; i < N; ++i)
            if (data()[i] != kSentinel) return false;
        return true;
    }
    bool GuardsIntact() const {
        for (size_t i = 0; i < kPad; ++i)
            if (raw_[i] != kGuard || raw_[kPad + N + i] != kGuard) return false;
        return true;
    }
    std::vector<uint8_t> bytes(size_t count = N) const { return {data(), data() + count}; }

private:
    uint8_t raw_[kPad + N + kPad];
};

// A program run to its end (the command line in UTF-8), with its standard output and error kept
// apart and its lines' CR LF read as LF. Its output must fit the pipes' buffers (64 KiB each).
struct ProgramRun {
    DWORD exit = 0xFFFFFFFF;
    std::string out, err;
};
ProgramRun RunProgram(const std::string& commandLine);

// This test program run again with --gtest_filter=`filter` and the environment variable
// `variable` set to `value`, its standard output and error read together as it goes. One that
// has not ended after `timeoutMs` is ended (ended false, exit 99).
struct ChildRun {
    bool ended = false;
    DWORD exit = 0xFFFFFFFF;
    std::string output;
};
ChildRun RunThisProgram(const std::wstring& filter, const wchar_t* variable, const wchar_t* value, DWORD timeoutMs);

// The names a module-definition file exports, sorted.
std::vector<std::string> ModuleDefinitionExports(const char* path);

// UTF-16LE bytes of a text, for comparing with what the DLL writes.
std::vector<uint8_t> Utf16Bytes(const std::wstring& text);

}  // namespace fotextest

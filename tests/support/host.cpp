#include "host.h"

#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <thread>

namespace fotextest {

void* PatchImport(HMODULE module, const char* dll, const char* function, void* replacement) {
    auto* base = reinterpret_cast<uint8_t*>(module);
    auto* dos = reinterpret_cast<IMAGE_DOS_HEADER*>(base);
    auto* nt = reinterpret_cast<IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (dir.VirtualAddress == 0) return nullptr;
    for (auto* desc = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + dir.VirtualAddress); desc->Name != 0; ++desc) {
        if (_stricmp(reinterpret_cast<const char*>(base + desc->Name), dll) != 0) continue;
        auto* names = reinterpret_cast<IMAGE_THUNK_DATA*>(base + (desc->OriginalFirstThunk ? desc->OriginalFirstThunk : desc->FirstThunk));
        auto* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + desc->FirstThunk);
        for (; names->u1.AddressOfData != 0; ++names, ++slots) {
            if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) continue;
            auto* byName = reinterpret_cast<IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
            if (std::strcmp(reinterpret_cast<const char*>(byName->Name), function) != 0) continue;
            DWORD old = 0;
            VirtualProtect(&slots->u1.Function, sizeof(void*), PAGE_READWRITE, &old);
            void* original = reinterpret_cast<void*>(slots->u1.Function);
            slots->u1.Function = reinterpret_cast<ULONG_PTR>(replacement);
            VirtualProtect(&slots->u1.Function, sizeof(void*), old, &old);
            return original;
        }
    }
    return nullptr;
}

namespace {
UINT g_codePage = CP_ACP;
int WINAPI WidenInCodePage(UINT codePage, DWORD flags, LPCCH text, int bytes, LPWSTR wide, int units) {
    return MultiByteToWideChar(codePage == CP_ACP ? g_codePage : codePage, flags, text, bytes, wide, units);
}
}  // namespace

AnsiCodePage::AnsiCodePage(HMODULE module, UINT codePage) : module_(module) {
    g_codePage = codePage;
    original_ = PatchImport(module, "kernel32.dll", "MultiByteToWideChar", reinterpret_cast<void*>(&WidenInCodePage));
}

AnsiCodePage::~AnsiCodePage() {
    if (original_ != nullptr) PatchImport(module_, "kernel32.dll", "MultiByteToWideChar", original_);
    g_codePage = CP_ACP;
}

std::string Repeat(const char* unit, size_t count) {
    std::string text;
    for (size_t i = 0; i < count; ++i) text += unit;
    return text;
}

namespace {
StdoutCapture* g_active = nullptr;
}  // namespace

StdoutCapture* StdoutCapture::Active() { return g_active; }

void StdoutCapture::Suspend() {
    std::fflush(stdout);
    _dup2(saved_, 1);
}

void StdoutCapture::Resume() {
    std::fflush(stdout);
    _dup2(fd_, 1);
}

StdoutCapture::StdoutCapture() {
    char dir[MAX_PATH];
    char name[MAX_PATH];
    GetTempPathA(MAX_PATH, dir);
    GetTempFileNameA(dir, "fxo", 0, name);
    path_ = name;
    std::fflush(stdout);
    saved_ = _dup(1);
    fd_ = _open(name, _O_RDWR | _O_CREAT | _O_TRUNC | _O_BINARY, _S_IREAD | _S_IWRITE);
    _dup2(fd_, 1);
    g_active = this;
}

StdoutCapture::~StdoutCapture() {
    if (g_active == this) g_active = nullptr;
    std::fflush(stdout);
    _dup2(saved_, 1);
    _close(saved_);
    _close(fd_);
    DeleteFileA(path_.c_str());
}

std::string StdoutCapture::Take() {
    std::fflush(stdout);
    std::string text;
    FILE* f = std::fopen(path_.c_str(), "rb");
    if (f == nullptr) return text;
    std::fseek(f, offset_, SEEK_SET);
    char chunk[4096];
    size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0) text.append(chunk, n);
    std::fclose(f);
    offset_ += static_cast<long>(text.size());
    return text;
}

namespace {
int WINAPI RecordMessageBox(HWND owner, LPCSTR text, LPCSTR caption, UINT style) {
    Library::Boxes().push_back({owner, text ? text : "(null)", caption ? caption : "(null)", style});
    return Library::BoxAnswer();
}
}  // namespace

std::vector<MessageBoxCall>& Library::Boxes() {
    static std::vector<MessageBoxCall> boxes;
    return boxes;
}

int& Library::BoxAnswer() {
    static int answer = IDOK;
    return answer;
}

bool Library::Load() {
    module_ = LoadLibraryW(L"Fotex.dll");
    if (module_ == nullptr) return false;
    PatchImport(module_, "user32.dll", "MessageBoxA", reinterpret_cast<void*>(&RecordMessageBox));
    Boxes().clear();
#define FOTEX_TEST_RESOLVE(name) name = reinterpret_cast<decltype(name)>(Symbol(#name));
    FOTEX_TEST_EXPORTS(FOTEX_TEST_RESOLVE)
#undef FOTEX_TEST_RESOLVE
    return true;
}

void Library::Unload() {
    if (module_ != nullptr) FreeLibrary(module_);
    module_ = nullptr;
}

void* Library::Symbol(const char* name) const {
    void* symbol = reinterpret_cast<void*>(GetProcAddress(module_, name));
    return symbol && Filter() ? Filter()(name, symbol) : symbol;
}

Library::SymbolFilter& Library::Filter() {
    static SymbolFilter filter = nullptr;
    return filter;
}

namespace {
std::string ReadAll(HANDLE pipe) {
    std::string text;
    char chunk[4096];
    DWORD n = 0;
    while (ReadFile(pipe, chunk, sizeof chunk, &n, nullptr) && n > 0) text.append(chunk, n);
    std::string lines;
    for (char c : text)
        if (c != '\r') lines += c;
    return lines;
}
}  // namespace

namespace {
// A child's start-up record: this process's input, and the given output and error.
STARTUPINFOW StartupWith(HANDLE out, HANDLE err) {
    STARTUPINFOW start{};
    start.cb = sizeof start;
    start.dwFlags = STARTF_USESTDHANDLES;
    start.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    start.hStdOutput = out;
    start.hStdError = err;
    return start;
}
}  // namespace

ProgramRun RunProgram(const std::string& commandLine) {
    ProgramRun run;
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE outRead, outWrite, errRead, errWrite;
    if (!CreatePipe(&outRead, &outWrite, &inherit, 1 << 16)) return run;
    if (!CreatePipe(&errRead, &errWrite, &inherit, 1 << 16)) {
        CloseHandle(outRead);
        CloseHandle(outWrite);
        return run;
    }
    SetHandleInformation(outRead, HANDLE_FLAG_INHERIT, 0);
    SetHandleInformation(errRead, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW start = StartupWith(outWrite, errWrite);
    // UTF-8 in, so that tests can pass any text on the command line.
    std::wstring command(static_cast<size_t>(MultiByteToWideChar(CP_UTF8, 0, commandLine.c_str(), -1, nullptr, 0)), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, commandLine.c_str(), -1, &command[0], static_cast<int>(command.size()));
    PROCESS_INFORMATION process{};
    const BOOL started = CreateProcessW(nullptr, &command[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &start, &process);
    CloseHandle(outWrite);
    CloseHandle(errWrite);
    if (started) {
        // Small output fits the pipes, so reading after the exit cannot deadlock.
        run.out = ReadAll(outRead);
        run.err = ReadAll(errRead);
        WaitForSingleObject(process.hProcess, 60000);
        GetExitCodeProcess(process.hProcess, &run.exit);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }
    CloseHandle(outRead);
    CloseHandle(errRead);
    return run;
}

ChildRun RunThisProgram(const std::wstring& filter, const wchar_t* variable, const wchar_t* value, DWORD timeoutMs) {
    ChildRun run;
    wchar_t exe[MAX_PATH] = L"";
    if (GetModuleFileNameW(nullptr, exe, MAX_PATH) == 0) return run;
    std::wstring command = L"\"" + std::wstring(exe) + L"\" --gtest_filter=" + filter;
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE readEnd = nullptr, writeEnd = nullptr;
    if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0)) return run;
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW start = StartupWith(writeEnd, writeEnd);
    PROCESS_INFORMATION child{};
    SetEnvironmentVariableW(variable, value);
    const BOOL started = CreateProcessW(nullptr, &command[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &start, &child);
    SetEnvironmentVariableW(variable, nullptr);
    CloseHandle(writeEnd);
    if (!started) {
        CloseHandle(readEnd);
        return run;
    }
    // Read while it runs: a child that hangs must not hang the reading too.
    std::thread reader([&] {
        char chunk[1024];
        DWORD n = 0;
        while (ReadFile(readEnd, chunk, sizeof chunk, &n, nullptr) && n > 0) run.output.append(chunk, n);
    });
    run.ended = WaitForSingleObject(child.hProcess, timeoutMs) == WAIT_OBJECT_0;
    if (!run.ended) TerminateProcess(child.hProcess, 99);
    reader.join();
    GetExitCodeProcess(child.hProcess, &run.exit);
    CloseHandle(child.hProcess);
    CloseHandle(child.hThread);
    CloseHandle(readEnd);
    return run;
}

std::vector<std::string> ModuleDefinitionExports(const char* path) {
    std::ifstream in(path);
    std::vector<std::string> names;
    std::string line;
    bool exports = false;
    while (std::getline(in, line)) {
        std::istringstream words(line);
        std::string word;
        if (!(words >> word) || word[0] == ';') continue;
        if (word == "EXPORTS")
            exports = true;
        else if (exports)
            names.push_back(word);
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::vector<uint8_t> Utf16Bytes(const std::wstring& text) {
    std::vector<uint8_t> bytes;
    for (wchar_t c : text) {
        bytes.push_back(static_cast<uint8_t>(c & 0xFF));
        bytes.push_back(static_cast<uint8_t>((c >> 8) & 0xFF));
    }
    return bytes;
}

}  // namespace fotextest

// Loading and unloading, the trace routine, the version export.
#include <gtest/gtest.h>

#include <windows.h>
#include <objbase.h>

#include <functional>
#include <thread>

#include "fixture.h"
#include "trace.h"

namespace {

using fotextest::FotexTest;
using fotextest::Guarded;
using fotextest::Library;
using fotextest::StdoutCapture;

// COM state is per thread, so each check runs on a thread of its own whose apartment starts empty.
constexpr int kUnsetCount = -7;
constexpr FOTEX_DEVICE kUnsetDevice = 7;

void OnFreshThread(const std::function<void()>& body) {
    std::thread worker([&] { body(); });
    worker.join();
}

// S_FALSE: COM is initialised on this thread already; S_OK: it was not. Undoes its own call.
HRESULT ProbeCom() {
    const HRESULT hr = CoInitialize(nullptr);
    if (SUCCEEDED(hr)) CoUninitialize();
    return hr;
}

TEST(LibraryEntry, LoadInitialisesComOnceAndUnloadUninitialisesIt) {
    OnFreshThread([] {
        ASSERT_EQ(S_OK, ProbeCom());
        HMODULE dll = LoadLibraryW(L"Fotex.dll");
        ASSERT_NE(nullptr, dll);
        EXPECT_EQ(S_FALSE, ProbeCom());
        FreeLibrary(dll);
        // Had the DLL initialised twice, one uninitialisation would leave COM alive here.
        EXPECT_EQ(S_OK, ProbeCom());
    });
}

TEST(LibraryEntry, ThreadsStartingAndEndingTriggerNothing) {
    OnFreshThread([] {
        HMODULE dll = LoadLibraryW(L"Fotex.dll");
        ASSERT_NE(nullptr, dll);
        for (int i = 0; i < 3; ++i) {
            HRESULT other = E_FAIL;
            std::thread([&] { other = ProbeCom(); }).join();
            EXPECT_EQ(S_OK, other) << "a thread attach initialised COM on the new thread";
        }
        EXPECT_EQ(S_FALSE, ProbeCom());
        FreeLibrary(dll);
        EXPECT_EQ(S_OK, ProbeCom());
    });
}

TEST(LibraryEntry, DetachDuringProcessExitLeavesComAlone) {
    OnFreshThread([] {
        HMODULE dll = LoadLibraryW(L"Fotex.dll");
        ASSERT_NE(nullptr, dll);
        auto* base = reinterpret_cast<uint8_t*>(dll);
        auto* nt = reinterpret_cast<IMAGE_NT_HEADERS*>(base + reinterpret_cast<IMAGE_DOS_HEADER*>(base)->e_lfanew);
        auto entry = reinterpret_cast<BOOL(WINAPI*)(HINSTANCE, DWORD, LPVOID)>(base + nt->OptionalHeader.AddressOfEntryPoint);
        // What the loader does when the process exits: a non-null reserved argument.
        EXPECT_TRUE(entry(dll, DLL_PROCESS_DETACH, reinterpret_cast<LPVOID>(1)));
        EXPECT_EQ(S_FALSE, ProbeCom()) << "COM was uninitialised during process exit";
        // The runtime now counts the module as detached and skips the entry point on unload;
        // the initialisation left alone is this thread's to undo.
        FreeLibrary(dll);
        CoUninitialize();
        EXPECT_EQ(S_OK, ProbeCom());
    });
}

// A host thread already in the multithreaded apartment: load's CoInitialize adds nothing
// (RPC_E_CHANGED_MODE), so unload must take nothing away.
TEST(LibraryEntry, UnloadLeavesTheMultithreadedApartmentOfTheLoadingThread) {
    OnFreshThread([] {
        ASSERT_EQ(S_OK, CoInitializeEx(nullptr, COINIT_MULTITHREADED));
        HMODULE dll = LoadLibraryW(L"Fotex.dll");
        ASSERT_NE(nullptr, dll);
        FreeLibrary(dll);
        IGlobalInterfaceTable* table = nullptr;
        EXPECT_EQ(S_OK, CoCreateInstance(CLSID_StdGlobalInterfaceTable, nullptr, CLSCTX_INPROC_SERVER,
                                         IID_IGlobalInterfaceTable, reinterpret_cast<void**>(&table)));
        if (table != nullptr) table->Release();
        EXPECT_EQ(S_FALSE, CoInitializeEx(nullptr, COINIT_MULTITHREADED)) << "the host's COM is gone";
        CoUninitialize();
        CoUninitialize();
    });
}

// COM is per thread: an unload on another thread than the load must not end that thread's COM.
TEST(LibraryEntry, UnloadOnAnotherThreadLeavesThatThreadsComAlone) {
    HMODULE dll = nullptr;
    HANDLE unloaded = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    // The loading thread lives on until the unload, so no thread can reuse its id.
    std::thread loader([&] {
        dll = LoadLibraryW(L"Fotex.dll");
        OnFreshThread([&] {
            ASSERT_EQ(S_OK, CoInitializeEx(nullptr, COINIT_MULTITHREADED));
            FreeLibrary(dll);
            EXPECT_EQ(S_FALSE, CoInitializeEx(nullptr, COINIT_MULTITHREADED)) << "the unloading thread's COM is gone";
            CoUninitialize();
            CoUninitialize();
            SetEvent(unloaded);
        });
        WaitForSingleObject(unloaded, INFINITE);
    });
    loader.join();
    CloseHandle(unloaded);
    ASSERT_NE(nullptr, dll);
}

TEST(Trace, ZeroHresultPrintsTheMessageAlone) {
    StdoutCapture capture;
    fotex::TraceHresult("x", 0);
    EXPECT_EQ("x\n", capture.Take());
}

TEST(Trace, FailurePrintsEightUpperCaseHexDigits) {
    StdoutCapture capture;
    fotex::TraceHresult("x", E_INVALIDARG);
    fotex::TraceHresult("Error calling y", S_FALSE);
    fotex::TraceHresult("z", static_cast<HRESULT>(0x8021000A));
    EXPECT_EQ("x: HRESULT: 0x80070057\nError calling y: HRESULT: 0x00000001\nz: HRESULT: 0x8021000A\n", capture.Take());
}

class VersionTest : public FotexTest {};

TEST_F(VersionTest, WritesProductFileVersionAndArchitectureInTenBytes) {
    Guarded<10> product, file, arch;
    lib.VexaVersionInfo(product.chars(), file.chars(), arch.chars());
    EXPECT_STREQ("Fotex 1.3", product.chars());
    EXPECT_STREQ("1.3.0.0", file.chars());
#if defined(_WIN64)
    EXPECT_STREQ("x64", arch.chars());
#else
    EXPECT_STREQ("x86", arch.chars());
#endif
    EXPECT_TRUE(product.GuardsIntact() && file.GuardsIntact() && arch.GuardsIntact());
    EXPECT_EQ(0, camera.TotalCalls()) << "needs no device";
    EXPECT_EQ("", Output());
}

TEST_F(VersionTest, SkipsNullBuffers) {
    Guarded<10> file;
    lib.VexaVersionInfo(nullptr, file.chars(), nullptr);
    EXPECT_STREQ("1.3.0.0", file.chars());
}

class OtherThreadTest : public FotexTest {};

// Calls from a thread that never joined COM fail where the device manager is needed, with the
// manager-creation statuses and trace; the loading thread goes on working.
TEST_F(OtherThreadTest, CallsWithoutComFailToCreateTheManager) {
    camera.AddDevice(L"dev-a", L"Alpha", L"First camera");
    Enumerate(1);
    FOTEX_DEVICE device = Open();
    int count = kUnsetCount, enumerated = 0, opened = 0, dialog = 0;
    FOTEX_DEVICE other = kUnsetDevice;
    std::thread([&] {
        enumerated = lib.EnumerateWiaDevices(&count);
        opened = lib.OpenWiaDevice(0, &other);
        dialog = lib.ImageTransferDialog(0, device);
    }).join();
    EXPECT_EQ(-2, enumerated);
    EXPECT_EQ(-1, opened);
    EXPECT_EQ(-2, dialog);
    EXPECT_EQ(kUnsetCount, count);
    EXPECT_EQ(kUnsetDevice, other);
    const std::string line = "CoCreateInstance failed on CLSID_WiaDevMgr: HRESULT: 0x800401F0\n";
    EXPECT_EQ(line + line + line, Output());
    EXPECT_TRUE(Boxes().empty());
    Enumerate(1);
    lib.CloseWiaDevice(&device);
    EXPECT_TRUE(Ledger(0));
}

}  // namespace

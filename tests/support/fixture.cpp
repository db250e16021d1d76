#include "fixture.h"

#include <cstdio>
#include <sstream>

namespace fotextest {

void FotexTest::SetUp() {
    capture_ = std::make_unique<StdoutCapture>();
    if (ServerMode())
        ASSERT_EQ(S_OK, mirror_.Attach(camera)) << "FotexSimServer.exe did not answer";
    else
        ASSERT_EQ(S_OK, camera.Register());
    ASSERT_TRUE(lib.Load()) << "Fotex.dll did not load: " << GetLastError();
}

void FotexTest::TearDown() {
    lib.Unload();
    mirror_.Detach();
    camera.Revoke();
    transcript_ += capture_->Take();
    capture_.reset();
    // What the DLL printed helps to read a failure.
    if (HasFailure() && !transcript_.empty()) {
        std::printf("--- output during the test ---\n%s------------------------------\n", transcript_.c_str());
        std::fflush(stdout);
    }
}

std::string FotexTest::Output() {
    std::string text = capture_->Take();
    transcript_ += text;
    return text;
}

::testing::AssertionResult FotexTest::Ledger(long hostReferences) {
    const long live = camera.LiveReferences();
    if (live == hostReferences) return ::testing::AssertionSuccess();
    // Out of process the host's references are the proxies': the server's objects are held by
    // the stubs, once per object the host reached and with the interfaces it asked for until the
    // object goes. Only "nothing left" compares; "something held" is all that shows otherwise.
    if (ServerMode() && hostReferences > 0 && live > 0) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << live << " live references, expected " << hostReferences << ":\n"
                                         << camera.Describe();
}

void FotexTest::Reconnecting(bool on) {
    auto set = reinterpret_cast<int(__cdecl*)(int, int)>(lib.Symbol("SetFotexOption"));
    ASSERT_NE(nullptr, set);
    ASSERT_EQ(1, set(2, on ? 1 : 0));
}

void FotexTest::Enumerate(int expected) {
    int count = -7;
    ASSERT_EQ(1, lib.EnumerateWiaDevices(&count));
    ASSERT_EQ(expected, count);
}

FOTEX_DEVICE FotexTest::Open(int index) {
    FOTEX_DEVICE device = 0;
    EXPECT_EQ(1, lib.OpenWiaDevice(index, &device));
    EXPECT_NE(0, device);
    return device;
}

void OpenDeviceTest::SetUp() {
    FotexTest::SetUp();
    if (HasFatalFailure()) return;
    camera.AddDevice(L"dev-a", L"Alpha", L"First camera");
    Enumerate(1);
    handle = Open();
}

void OpenDeviceTest::TearDown() {
    lib.CloseWiaDevice(&handle);
    EXPECT_TRUE(Ledger(0));
    FotexTest::TearDown();
}

size_t OpenDeviceTest::Media() {
    size_t n = 0;
    for (fotexsim::Item* item : camera.ItemsOf(device()))
        if (item->type & (0x00000001 | 0x00010000)) ++n;  // image, video
    return n;
}

}  // namespace fotextest

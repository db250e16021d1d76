// The fixture of every test of the DLL: a virtual camera registered in this process, Fotex.dll
// loaded fresh (so its process-wide state restarts), its output captured and its boxes recorded.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "fotexsim.h"
#include "host.h"
#include "mirror.h"

namespace fotextest {

class FotexTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // What the DLL printed since the last call.
    std::string Output();
    std::vector<MessageBoxCall>& Boxes() { return Library::Boxes(); }

    // Only the references that the host holds are alive.
    ::testing::AssertionResult Ledger(long hostReferences);

    // Turns the library's reconnect on or off (FOTEX_OPTION_RECONNECT): a test of how a failure
    // comes back turns it off, so that a device answering offline once is not opened again.
    void Reconnecting(bool on);

    // Enumerates and expects success with `expected` devices.
    void Enumerate(int expected);
    // Enumerates and opens device `index`; fails the test when no handle results.
    FOTEX_DEVICE Open(int index = 0);

    fotexsim::Camera camera;
    Library lib;

private:
    Mirror mirror_;  // with FOTEX_TEST_CAMERA=server, what the camera is
    std::unique_ptr<StdoutCapture> capture_;
    std::string transcript_;
};

// A fixture with one camera listed and open in `handle`, closed again after the test, when the
// ledger must be empty.
class OpenDeviceTest : public FotexTest {
protected:
    void SetUp() override;
    void TearDown() override;

    fotexsim::Device& device() { return camera.devices[0]; }
    // Image and video items on the camera.
    size_t Media();

    FOTEX_DEVICE handle = 0;
};

}  // namespace fotextest

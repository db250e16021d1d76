// Test programs join a single-threaded apartment first, as a host of the DLL does, so that the
// virtual camera registered on this thread serves the DLL's requests.
#include <objbase.h>

#include <gtest/gtest.h>

#include <memory>

#include "host.h"

namespace {

// Prints the runner's failure lines on the real standard output, never into a test's capture of
// what the DLL prints.
class CaptureAwarePrinter : public ::testing::TestEventListener {
public:
    explicit CaptureAwarePrinter(::testing::TestEventListener* inner) : inner_(inner) {}

    void OnTestProgramStart(const ::testing::UnitTest& u) override { inner_->OnTestProgramStart(u); }
    void OnTestIterationStart(const ::testing::UnitTest& u, int i) override { inner_->OnTestIterationStart(u, i); }
    void OnEnvironmentsSetUpStart(const ::testing::UnitTest& u) override { inner_->OnEnvironmentsSetUpStart(u); }
    void OnEnvironmentsSetUpEnd(const ::testing::UnitTest& u) override { inner_->OnEnvironmentsSetUpEnd(u); }
    void OnTestSuiteStart(const ::testing::TestSuite& s) override { inner_->OnTestSuiteStart(s); }
    void OnTestStart(const ::testing::TestInfo& t) override { inner_->OnTestStart(t); }
    void OnTestPartResult(const ::testing::TestPartResult& r) override {
        fotextest::StdoutCapture* capture = fotextest::StdoutCapture::Active();
        if (capture != nullptr) capture->Suspend();
        inner_->OnTestPartResult(r);
        if (capture != nullptr) capture->Resume();
    }
    void OnTestEnd(const ::testing::TestInfo& t) override { inner_->OnTestEnd(t); }
    void OnTestSuiteEnd(const ::testing::TestSuite& s) override { inner_->OnTestSuiteEnd(s); }
    void OnEnvironmentsTearDownStart(const ::testing::UnitTest& u) override { inner_->OnEnvironmentsTearDownStart(u); }
    void OnEnvironmentsTearDownEnd(const ::testing::UnitTest& u) override { inner_->OnEnvironmentsTearDownEnd(u); }
    void OnTestIterationEnd(const ::testing::UnitTest& u, int i) override { inner_->OnTestIterationEnd(u, i); }
    void OnTestProgramEnd(const ::testing::UnitTest& u) override { inner_->OnTestProgramEnd(u); }

private:
    std::unique_ptr<::testing::TestEventListener> inner_;
};

}  // namespace

int main(int argc, char** argv) {
    CoInitialize(nullptr);
    ::testing::InitGoogleTest(&argc, argv);
    ::testing::TestEventListeners& listeners = ::testing::UnitTest::GetInstance()->listeners();
    ::testing::TestEventListener* printer = listeners.Release(listeners.default_result_printer());
    if (printer != nullptr) listeners.Append(new CaptureAwarePrinter(printer));
    const int result = RUN_ALL_TESTS();
    CoUninitialize();
    return result;
}

// Test programs join a single-threaded apartment first, as a host of the DLL does, so that the
// virtual camera registered on this thread serves the DLL's requests.
#include <objbase.h>

#include <gtest/gtest.h>

int main(int argc, char** argv) {
    CoInitialize(nullptr);
    ::testing::InitGoogleTest(&argc, argv);
    const int result = RUN_ALL_TESTS();
    CoUninitialize();
    return result;
}

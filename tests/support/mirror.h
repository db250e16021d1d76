// The second mode of the test programs (FOTEX_TEST_CAMERA=server): the camera serves from
// FotexSimServer.exe, and the test's own fotexsim::Camera is its mirror. Before each call into
// Fotex.dll what the test changed goes over, after it what the service changed comes back, so
// tests set up and read the camera as they do in process.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "fotexsim.h"
#include "server.h"

namespace fotextest {

bool ServerMode();

class Mirror final : public fotexsim::Camera::Remote {
public:
    // Gives the server a fresh camera like `camera` and routes every export the Library hands
    // out from now through the mirror.
    HRESULT Attach(fotexsim::Camera& camera);
    void Detach();

    fotexsim::Item* PressShutter(size_t device, const std::wstring* name, const std::wstring* extension) override;
    bool Plug(size_t device, bool in) override;
    void RaiseEvent(const GUID& event, size_t device, const std::wstring& itemName) override;
    long Counted(Count what) override;
    std::string Describe() override;

    // Around each call into the DLL: the outermost on the test's thread syncs.
    void Enter();
    void Leave();

private:
    void Push();
    void Pull();
    bool OnItsThread();

    fotexsim::Camera* camera_ = nullptr;
    DWORD thread_ = 0;
    int depth_ = 0;  // the test thread's calls in flight
    std::string synced_;  // the image both sides had last
    // Items the service deleted stay alive here: tests look at them afterwards.
    std::vector<std::shared_ptr<fotexsim::Item>> removed_;
};

}  // namespace fotextest

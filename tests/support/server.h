// The virtual camera in FotexSimServer.exe, reached through its control interface: the test
// side of running against real COM marshalling. Needs the prefix that scripts/oop-prefix.sh
// registers.
#pragma once

#include <windows.h>

#include <string>

#include "com.h"
#include "fotexsim.h"
#include "fotexsim_control.h"

namespace fotextest {

extern const CLSID kServerControlClass;

class Server {
public:
    // Starts the server (or joins the running one), ties its life to this process and gives it
    // a camera without devices.
    HRESULT Connect();
    IFotexSimControl* operator->() const { return control_.get(); }
    explicit operator bool() const { return static_cast<bool>(control_); }
    void Disconnect() { control_.reset(); }

    HRESULT Reset(const wchar_t* scenario);
    HRESULT AddCamera(const wchar_t* id, const wchar_t* name, const wchar_t* description, int pictures);
    HRESULT FailOn(fotexsim::Op op, HRESULT result, int nth = 1, int times = 1);
    HRESULT Delay(fotexsim::Op op, int milliseconds);
    long Calls(fotexsim::Op op);
    // The server's live references, with its description of them.
    long Live(std::string* description = nullptr);

private:
    fotex::ComPtr<IFotexSimControl> control_;
};

}  // namespace fotextest

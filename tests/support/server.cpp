#include "server.h"

namespace fotextest {

const CLSID kServerControlClass = {0xC4BAC9C0, 0x2F6F, 0x4343, {0x9F, 0x7C, 0x59, 0x74, 0xB9, 0x44, 0x67, 0x2F}};

HRESULT Server::Connect() {
    HRESULT hr = CoCreateInstance(kServerControlClass, nullptr, CLSCTX_LOCAL_SERVER, IID_IFotexSimControl,
                                  control_.put_void());
    if (FAILED(hr)) return hr;
    hr = control_->Attach(GetCurrentProcessId());
    if (FAILED(hr)) return hr;
    return Reset(L"empty");
}

HRESULT Server::Reset(const wchar_t* scenario) {
    fotex::Bstr name(scenario);
    return control_->Reset(name.get());
}

HRESULT Server::AddCamera(const wchar_t* id, const wchar_t* name, const wchar_t* description, int pictures) {
    fotex::Bstr i(id), n(name), d(description);
    return control_->AddCamera(i.get(), n.get(), d.get(), pictures);
}

HRESULT Server::FailOn(fotexsim::Op op, HRESULT result, int nth, int times) {
    return control_->FailOn(static_cast<LONG>(op), result, nth, times);
}

HRESULT Server::Delay(fotexsim::Op op, int milliseconds) {
    return control_->SetCallDelay(static_cast<LONG>(op), milliseconds);
}

long Server::Calls(fotexsim::Op op) {
    LONG count = -1;
    return SUCCEEDED(control_->Calls(static_cast<LONG>(op), &count)) ? count : -1;
}

long Server::Live(std::string* description) {
    LONG live = -1;
    BSTR text = nullptr;
    if (FAILED(control_->Ledger(&live, &text))) return -1;
    if (description) {
        description->clear();
        for (UINT i = 0; text && i < SysStringLen(text); ++i) description->push_back(static_cast<char>(text[i]));
    }
    SysFreeString(text);
    return live;
}

}  // namespace fotextest

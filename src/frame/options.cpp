// Process-wide options of a camera's conditions, and the host's log routine.
#include "conditions.h"
#include "fotex.h"
#include "trace.h"

using namespace fotex;

extern "C" int FOTEX_CALL SetFotexOption(int option, int value) {
    switch (option) {
    case FOTEX_OPTION_BUSY_WAIT:
        if (value < 0 || value > kBusyWaitMaxMs) return FOTEX_E_INVALIDARG;
        SetBusyWaitMs(value);
        return FOTEX_OK;
    case FOTEX_OPTION_RECONNECT:
        if (value != 0 && value != 1) return FOTEX_E_INVALIDARG;
        SetReconnect(value == 1);
        return FOTEX_OK;
    default:
        return FOTEX_E_INVALIDARG;
    }
}

extern "C" int FOTEX_CALL GetFotexOption(int option, int* value) {
    if (value == nullptr) return FOTEX_E_POINTER;
    switch (option) {
    case FOTEX_OPTION_BUSY_WAIT: *value = BusyWaitMs(); return FOTEX_OK;
    case FOTEX_OPTION_RECONNECT: *value = ReconnectOn() ? 1 : 0; return FOTEX_OK;
    default: return FOTEX_E_INVALIDARG;
    }
}

extern "C" int FOTEX_CALL SetFotexLog(FOTEX_LOG routine, void* context) {
    SetTraceRoutine(routine, context);
    return FOTEX_OK;
}

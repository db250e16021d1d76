// Status texts: the library's own statuses and the service's errors by name, the system's
// messages for the rest.
#include "contents.h"
#include "fotex.h"
#include "item_data.h"
#include "wia_ids.h"

namespace fotex {

namespace {

struct StatusText {
    HRESULT status;
    const WCHAR* text;
};

const StatusText kTexts[] = {
    {FOTEX_OK, L"Done"},
    {FOTEX_E_HANDLE, L"E_HANDLE: the device or item handle is 0"},
    {FOTEX_E_POINTER, L"E_POINTER: a pointer the call needs is null"},
    {FOTEX_E_INVALIDARG, L"E_INVALIDARG: an unknown selector, flag or argument"},
    {FOTEX_E_BOUNDS, L"E_BOUNDS: the index is not in the list, or a folder holds more than 1,000,000 items"},
    {FOTEX_E_INSUFFICIENT_BUFFER, L"ERROR_INSUFFICIENT_BUFFER: the buffer is too small"},
    {FOTEX_E_CANCELLED, L"ERROR_CANCELLED: the transfer was cancelled by the progress routine"},
    {FOTEX_E_NOT_FOUND, L"ERROR_NOT_FOUND: the camera or item lacks the property, or no item has that name"},
    {FOTEX_E_MORE_DATA, L"ERROR_MORE_DATA: there are more values than the array holds"},
    {FOTEX_E_WRONG_THREAD, L"RPC_E_WRONG_THREAD: the events were registered on another thread"},
    {FOTEX_E_FILE_EXISTS, L"ERROR_FILE_EXISTS: the file exists and replacing it was not asked for"},
    {FOTEX_E_BUSY, L"ERROR_BUSY: called from a message handler inside a camera event wait"},
    {FOTEX_E_FOLDER, L"ERROR_DIRECTORY_NOT_SUPPORTED: the item is a folder and has no data to save"},
    {FOTEX_E_FORMAT, L"ERROR_NOT_SUPPORTED: the camera does not offer this item in the format asked for"},
    {kNameTooLong, L"ERROR_FILENAME_EXCED_RANGE: the file name is too long"},
    {FOTEX_E_TREE_TOO_DEEP, L"ERROR_STACK_OVERFLOW: the camera's item tree is deeper than 64 levels"},
    // One code, two meanings: a setting's value and a thumbnail's data.
    {FOTEX_E_VALUE, L"ERROR_INVALID_DATA: the value is not one the setting takes, or the camera's thumbnail is shorter than its size needs"},
    {FOTEX_E_TYPE, L"DISP_E_TYPEMISMATCH: the setting is text where a number was asked for, or a number where text was"},
    // The settings' refusal and the file system's share it: the text says both.
    {FOTEX_E_ACCESS_DENIED, L"E_ACCESSDENIED: the property is read only, or the system refuses the file"},
    {FOTEX_E_OVERFLOW, L"ERROR_ARITHMETIC_OVERFLOW: the camera's value does not fit in 32 bits"},
    {E_OUTOFMEMORY, L"E_OUTOFMEMORY: not enough memory"},
    {FOTEX_E_SERVICE_FAILED, L"E_FAIL: the camera or the service failed"},
    {FOTEX_E_INCOMPLETE, L"ERROR_PARTIAL_COPY: the camera's data did not arrive whole, or not as long as the item says"},
    {FOTEX_E_DISCONNECTED, L"RPC_E_DISCONNECTED: the image-acquisition service's process ended (restarted or crashed)"},
    {E_NOTIMPL, L"E_NOTIMPL: the service does not offer this"},
    {E_NOINTERFACE, L"E_NOINTERFACE: the camera item does not offer what the call needs"},
    {static_cast<HRESULT>(0x80210001), L"WIA_ERROR_GENERAL_ERROR: the device failed"},
    {static_cast<HRESULT>(0x80210002), L"WIA_ERROR_PAPER_JAM: paper is jammed in the feeder"},
    {static_cast<HRESULT>(0x80210003), L"WIA_ERROR_PAPER_EMPTY: the feeder is empty"},
    {static_cast<HRESULT>(0x80210004), L"WIA_ERROR_PAPER_PROBLEM: a problem with the feeder's paper"},
    {FOTEX_E_OFFLINE, L"WIA_ERROR_OFFLINE: the device is offline (unplugged, switched off or asleep)"},
    {FOTEX_E_DEVICE_BUSY, L"WIA_ERROR_BUSY: the device is busy"},
    {static_cast<HRESULT>(0x80210007), L"WIA_ERROR_WARMING_UP: the device is warming up"},
    {static_cast<HRESULT>(0x80210008), L"WIA_ERROR_USER_INTERVENTION: the device needs the user's attention"},
    {wia::kWiaErrorItemDeleted, L"WIA_ERROR_ITEM_DELETED: the item was deleted from the device"},
    {FOTEX_E_DEVICE_COMMUNICATION, L"WIA_ERROR_DEVICE_COMMUNICATION: the device does not answer"},
    {static_cast<HRESULT>(0x8021000B), L"WIA_ERROR_INVALID_COMMAND: the device does not know the command"},
    {static_cast<HRESULT>(0x8021000C), L"WIA_ERROR_INCORRECT_HARDWARE_SETTING: a setting of the device is wrong"},
    {static_cast<HRESULT>(0x8021000D), L"WIA_ERROR_DEVICE_LOCKED: the device is locked"},
    {static_cast<HRESULT>(0x8021000E), L"WIA_ERROR_EXCEPTION_IN_DRIVER: the device's driver failed"},
    {static_cast<HRESULT>(0x8021000F), L"WIA_ERROR_INVALID_DRIVER_RESPONSE: the device's driver answered wrongly"},
    {static_cast<HRESULT>(0x80210010), L"WIA_ERROR_COVER_OPEN: the device's cover is open"},
    {static_cast<HRESULT>(0x80210011), L"WIA_ERROR_LAMP_OFF: the device's lamp is off"},
    {static_cast<HRESULT>(0x80210012), L"WIA_ERROR_DESTINATION: the destination is not available"},
    {static_cast<HRESULT>(0x80210013), L"WIA_ERROR_NETWORK_RESERVATION_FAILED: the network device is reserved"},
    {wia::kWiaNoDeviceAvailable, L"WIA_S_NO_DEVICE_AVAILABLE: no such device is connected"},
};

constexpr DWORD kMessageUnits = 512;

uint32_t Length(const WCHAR* text) { return static_cast<uint32_t>(lstrlenW(text)); }

}  // namespace

}  // namespace fotex

using namespace fotex;

extern "C" int FOTEX_CALL DescribeStatus(int status, void* text, int bytes) {
    if (text == nullptr) return FOTEX_E_POINTER;
    for (const StatusText& known : kTexts) {
        if (known.status != status) continue;
        const TextPiece piece = {known.text, Length(known.text)};
        return PutText(text, bytes, &piece, 1);
    }

    // The small codes of the 83 functions of 1.3 mean something else for each of them.
    if (status < 0 && status >= FOTEX_CAP_READ_FAILED) {
        static const WCHAR kOlder[] = L"A failure status of a function of Fotex 1.3: its meaning is given with that function";
        const TextPiece piece = {kOlder, Length(kOlder)};
        return PutText(text, bytes, &piece, 1);
    }

    // A Win32 error wrapped in an HRESULT is looked up as the error itself.
    const HRESULT hr = status;
    const DWORD code = HRESULT_FACILITY(hr) == FACILITY_WIN32 && FAILED(hr) ? HRESULT_CODE(hr) : static_cast<DWORD>(hr);
    WCHAR message[kMessageUnits];
    DWORD units = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_MAX_WIDTH_MASK,
                                 nullptr, code, MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US), message, kMessageUnits,
                                 nullptr);
    if (units == 0)
        units = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_MAX_WIDTH_MASK,
                               nullptr, code, 0, message, kMessageUnits, nullptr);
    while (units > 0 && (message[units - 1] == L' ' || message[units - 1] == L'.' || message[units - 1] == L'\r' ||
                         message[units - 1] == L'\n'))
        --units;
    if (units > 0) {
        const TextPiece piece = {message, units};
        return PutText(text, bytes, &piece, 1);
    }

    // Neither ours nor the system's: the number itself, which a host can look up.
    WCHAR unknown[40];
    const WCHAR* label = L"Unknown status 0x";
    uint32_t n = 0;
    for (; label[n] != 0; ++n) unknown[n] = label[n];
    for (int shift = 28; shift >= 0; shift -= 4) unknown[n++] = L"0123456789ABCDEF"[(static_cast<DWORD>(hr) >> shift) & 0xF];
    const TextPiece piece = {unknown, n};
    return PutText(text, bytes, &piece, 1);
}

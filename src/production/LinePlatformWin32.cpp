// Windows: the priority class a download raises belongs to the whole process; the forms share
// it through platform::SharedPriority, so the last one to finish puts it back. A COM port is
// there while its DOS device name is: a USB adapter's name comes when it is plugged in and
// goes when it is pulled, and asking for one name costs next to nothing every 100 ms. A port
// named by its fixture (usb-serial:SERIAL, location:PATH) is the COM port present with that
// serial number or location, looked up in SetupAPI's list at every look.
#include <windows.h>

#include "platform/Text.h"
#include "platform/Utf16Win32.h"
#include "production/LinePlatform.h"
#include "serial/FixtureNames.h"
#include "serial/SerialPort.h"

namespace tarvex::production {

std::string LineUnsupported() {
    return {};
}

bool PortPresent(const std::string& port) {
    // A fixture's name: whether a COM port with its serial number or location is there.
    const std::string resolved = ResolvePortName(port);
    if (resolved.empty()) {
        return false;
    }
    std::wstring name = platform::Widen(resolved);
    if (name.rfind(L"\\\\.\\", 0) == 0) {
        name.erase(0, 4);
    }
    wchar_t target[1024];
    return ::QueryDosDeviceW(name.c_str(), target, 1024) != 0 ||
           ::GetLastError() == ERROR_INSUFFICIENT_BUFFER;
}

std::string DeviceKey(const std::string& port) {
    // A COM port has one name in the device namespace, whatever the case it is written in;
    // opening it to ask (even for no access) could disturb a download running on it.
    const std::string resolved = ResolvePortName(port);
    return ToUpperAscii(DevicePathForPortName(resolved.empty() ? port : resolved));
}

}  // namespace tarvex::production

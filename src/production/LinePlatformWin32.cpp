// Windows: the priority class a download raises belongs to the whole process, not to the
// thread that raised it, so forms side by side would restore each other's class; and a COM
// port's coming and going is not watched yet. A Windows line runs one `tarvex-cli download`
// per port.
#include "platform/Text.h"
#include "production/LinePlatform.h"
#include "serial/SerialPort.h"

namespace tarvex::production {

std::string LineUnsupported() {
    return "not supported on this platform yet";
}

bool PortPresent(const std::string& /*port*/) {
    return false;
}

std::string DeviceKey(const std::string& port) {
    // A COM port has one name in the device namespace, whatever the case it is written in;
    // opening it to ask (even for no access) could disturb a download running on it.
    return ToUpperAscii(DevicePathForPortName(port));
}

}  // namespace tarvex::production

// Linux: scheduling policy and nice value belong to the thread that sets them, so forms on
// threads of one process raise and restore their priority without touching each other; a
// port's device appears and goes away as a node (or a /dev/serial/by-id link) under /dev.
#include <filesystem>

#include "production/LinePlatform.h"
#include "serial/SerialPort.h"

namespace tarvex::production {

std::string LineUnsupported() {
    return {};
}

bool PortPresent(const std::string& port) {
    std::error_code ec;
    return std::filesystem::exists(DevicePathForPortName(port), ec);
}

}  // namespace tarvex::production

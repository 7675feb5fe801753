// Linux: scheduling policy and nice value belong to the thread that sets them, so forms on
// threads of one process raise and restore their priority without touching each other; a
// port's device appears and goes away as a node (or a /dev/serial/by-id link) under /dev.
#include <filesystem>
#include <optional>

#include "platform/FileStamp.h"
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

std::string DeviceKey(const std::string& port) {
    // The node's identity: every link that leads to it has the same.
    const std::optional<platform::FileStamp> stamp = platform::StampOf(DevicePathForPortName(port));
    return stamp ? std::to_string(stamp->device) + ":" + std::to_string(stamp->inode)
                 : std::string();
}

}  // namespace tarvex::production

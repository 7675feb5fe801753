// udev names a USB serial adapter in /dev/serial/by-id after its vendor, product and serial
// number. Without a serial number two alike adapters get one name (the last plugged wins) and
// a name follows the adapter, not the fixture; /dev/serial/by-path names the USB socket.
#include <filesystem>

#include "app/cli/commands/PortNames.h"

namespace tarvex::cli {
namespace {

namespace fs = std::filesystem;

// The by-path link that leads to the same device node; empty when there is none.
std::string ByPathLinkTo(const std::string& devicePath, const std::string& devRoot) {
    std::error_code ec;
    const fs::path device = fs::canonical(devicePath, ec);
    if (ec) {
        return {};
    }
    const fs::path folder = fs::path(devRoot) / "serial" / "by-path";
    for (const fs::directory_entry& entry : fs::directory_iterator(folder, ec)) {
        std::error_code linkEc;
        if (fs::canonical(entry.path(), linkEc) == device && !linkEc) {
            return entry.path().string();
        }
    }
    return {};
}

}  // namespace

std::string UnstableNameWarning(const PortInfo& port, const std::string& devRoot) {
    if (!port.usbVendorId || !port.serialNumber.empty() || port.fromEnvironment) {
        return {};
    }
    const std::string link = ByPathLinkTo(port.path, devRoot);
    return "the adapter has no USB serial number: its /dev/serial/by-id name is neither unique "
           "nor stable (an alike adapter gets the same name); for a fixture name the USB "
           "socket: " +
           (link.empty() ? std::string("its /dev/serial/by-path name") : link);
}

}  // namespace tarvex::cli

// The serial devices of a Linux system, from sysfs, and the device path of a COM port name.
//
// Every tty has an entry under /sys/class/tty; those with a driver behind them also have a
// "device" link there, while virtual terminals, the console and pseudo-terminals do not. The
// link leads into the device tree, where the driver and, for a USB adapter, the USB device with
// its vendor and product ids and strings can be found by walking up.
#include <charconv>
#include <filesystem>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include "platform/Files.h"
#include "platform/Text.h"
#include "serial/FixtureNames.h"
#include "serial/LowLatency.h"
#include "serial/SerialInternal.h"

namespace tarvex::serial_detail {
namespace {

namespace fs = std::filesystem;

// How far up the device tree to look for a driver or a USB device: a ttyUSB port sits three
// levels below its USB device (port, interface, device), a UART port two below its driver.
constexpr int kMaxWalkUp = 6;

std::string ReadAttribute(const fs::path& path) {
    const platform::FileBytes file = platform::ReadWholeFile(path.string(), 64 * 1024);
    if (file.error != platform::ReadError::None) {
        return {};
    }
    const std::string_view text(reinterpret_cast<const char*>(file.bytes.data()),
                                file.bytes.size());
    return std::string(TrimWhitespace(text));
}

std::string LinkName(const fs::path& link) {
    std::error_code ec;
    const fs::path target = fs::read_symlink(link, ec);
    return ec ? std::string() : target.filename().string();
}

bool HasEntry(const fs::path& path) {
    std::error_code ec;
    return fs::exists(path, ec);
}

// The driver that serves the port. Since Linux 6.5 a UART port sits on the "serial-base" bus
// below its controller, with the generic drivers "port" and "ctrl" bound there; the name that
// tells the user something (serial8250, 8250_pnp's "serial", a PCI card's driver) is that of
// the first device above them.
std::string DriverOf(const fs::path& deviceDir) {
    fs::path dir = deviceDir;
    for (int depth = 0; depth < kMaxWalkUp && dir.has_relative_path(); ++depth) {
        const bool serialBase = LinkName(dir / "subsystem") == "serial-base";
        const std::string driver = LinkName(dir / "driver");
        if (!serialBase) {
            return driver;
        }
        dir = dir.parent_path();
    }
    return {};
}

std::optional<std::uint16_t> ParseHexId(const std::string& text) {
    unsigned value = 0;
    const char* first = text.data();
    const char* last = text.data() + text.size();
    const auto [end, ec] = std::from_chars(first, last, value, 16);
    if (ec != std::errc() || end != last || value > 0xFFFF || text.empty()) {
        return std::nullopt;
    }
    return static_cast<std::uint16_t>(value);
}

// Vendor and product of the USB device the port belongs to, if it is one: the first
// directory above the port that carries idVendor and idProduct.
void ReadUsbDetails(const fs::path& deviceDir, PortInfo& info) {
    fs::path dir = deviceDir;
    for (int depth = 0; depth < kMaxWalkUp && dir.has_relative_path(); ++depth) {
        if (HasEntry(dir / "idVendor") && HasEntry(dir / "idProduct")) {
            info.usbVendorId = ParseHexId(ReadAttribute(dir / "idVendor"));
            info.usbProductId = ParseHexId(ReadAttribute(dir / "idProduct"));
            info.manufacturer = ReadAttribute(dir / "manufacturer");
            info.product = ReadAttribute(dir / "product");
            info.serialNumber = ReadAttribute(dir / "serial");
            return;
        }
        dir = dir.parent_path();
    }
}

}  // namespace

std::string SystemPortSource(const std::string& sysfsRoot) {
    return "the tty devices with a serial driver in " + sysfsRoot + "/class/tty";
}

std::vector<PortInfo> ListSystemPorts(const std::string& sysfsRoot, const std::string& devRoot) {
    std::vector<PortInfo> ports;
    const fs::path classDir = fs::path(sysfsRoot) / "class" / "tty";
    std::error_code ec;
    fs::directory_iterator it(classDir, ec);
    if (ec) {
        return ports;
    }
    for (const fs::directory_entry& entry : it) {
        const std::string name = entry.path().filename().string();
        const fs::path ttyDir = classDir / name;
        std::error_code linkEc;
        const fs::path deviceDir = fs::canonical(ttyDir / "device", linkEc);
        if (linkEc) {
            continue;  // no driver behind it: a virtual terminal, the console, a pty
        }
        // The serial core registers every port its drivers reserve, also the legacy ones with
        // no UART at the address (the four ttyS of the 8250 driver, for one). Their UART type is
        // 0, "unknown"; opening them fails or leads nowhere, so they are no candidates.
        const fs::path typeFile = ttyDir / "type";
        if (HasEntry(typeFile) && ReadAttribute(typeFile) == "0") {
            continue;
        }
        PortInfo info;
        info.path = platform::JoinPath(devRoot, name);
        info.driver = DriverOf(deviceDir);
        ReadUsbDetails(deviceDir, info);
        info.latencyTimerMs = TtyLatencyTimerMs(sysfsRoot, name);
        ports.push_back(std::move(info));
    }
    return ports;
}

}  // namespace tarvex::serial_detail

namespace tarvex {

std::string DevicePathForPortName(std::string_view portName) {
    // Settings files written on Windows name ports COM1, COM2, ...; Wine maps COMn to
    // /dev/ttyS(n-1), and so does this program. Any other name is a device path already.
    if (const std::optional<unsigned long> n = ComPortNumber(portName)) {
        return "/dev/ttyS" + std::to_string(*n - 1);
    }
    return std::string(portName);
}

std::string ListedPortName(std::string_view portName) {
    return DevicePathForPortName(portName);
}

std::string ResolvePortName(std::string_view name) {
    // A fixture is named by its /dev/serial link here, which the kernel follows at every open.
    return std::string(name);
}

}  // namespace tarvex

// The COM ports of a Windows system, and the device path of a COM port name.
//
// The serial drivers register every port they create under HKLM\HARDWARE\DEVICEMAP\SERIALCOMM
// (value: the driver's device name, data: "COMn"). Ports some drivers leave out of that key
// still have a DOS device name, so QueryDosDeviceW's list adds every "COMn" it holds. SetupAPI
// then tells, where it knows the port, its friendly name and, for a USB adapter, the vendor and
// product ids; the configuration manager, walking up from the port to its USB device, the
// serial number and the location (DeviceIds.h reads their text).
#include <windows.h>
// windows.h first: the SetupAPI headers need its types.
#include <cfgmgr32.h>
#include <devguid.h>
#include <setupapi.h>

#include <cwchar>
#include <map>
#include <string>
#include <vector>

#include "platform/Utf16Win32.h"
#include "serial/DeviceIds.h"
#include "serial/FixtureNames.h"
#include "serial/SerialInternal.h"

namespace tarvex::serial_detail {
namespace {

struct DeviceDetails {
    std::string friendlyName;
    std::string manufacturer;
    std::string service;
    std::optional<std::uint16_t> vendorId;
    std::optional<std::uint16_t> productId;
    std::string serialNumber;
    std::string location;
};

bool IsComName(std::wstring_view name) {
    return ComPortNumber(platform::Narrow(name)).has_value();
}

std::string Upper(std::string s) {
    for (char& c : s) {
        if (c >= 'a' && c <= 'z') {
            c = static_cast<char>(c - 'a' + 'A');
        }
    }
    return s;
}

// "COMn" -> the driver's device name, from the SERIALCOMM key.
void AddRegisteredPorts(std::map<std::string, std::string>& ports) {
    HKEY key = nullptr;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ,
                        &key) != ERROR_SUCCESS) {
        return;
    }
    for (DWORD index = 0;; ++index) {
        wchar_t name[256];
        DWORD nameLength = 256;
        wchar_t data[256];
        DWORD dataBytes = sizeof data;
        DWORD type = 0;
        const LONG rc = ::RegEnumValueW(key, index, name, &nameLength, nullptr, &type,
                                        reinterpret_cast<BYTE*>(data), &dataBytes);
        if (rc == ERROR_NO_MORE_ITEMS) {
            break;
        }
        if (rc != ERROR_SUCCESS || type != REG_SZ) {
            continue;
        }
        const std::wstring value(data, wcsnlen(data, dataBytes / sizeof(wchar_t)));
        if (IsComName(value)) {
            ports.emplace(Upper(platform::Narrow(value)),
                          platform::Narrow(std::wstring_view(name, nameLength)));
        }
    }
    ::RegCloseKey(key);
}

// Every "COMn" among the DOS device names.
void AddDosDevicePorts(std::map<std::string, std::string>& ports) {
    std::vector<wchar_t> buffer(64 * 1024);
    for (int attempt = 0; attempt < 4; ++attempt) {
        const DWORD n =
            ::QueryDosDeviceW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (n == 0) {
            if (::GetLastError() == ERROR_INSUFFICIENT_BUFFER) {
                buffer.resize(buffer.size() * 4);
                continue;
            }
            return;
        }
        for (std::size_t at = 0; at < n && buffer[at] != L'\0';) {
            const std::wstring_view name(&buffer[at]);
            if (IsComName(name)) {
                ports.emplace(Upper(platform::Narrow(name)), std::string());
            }
            at += name.size() + 1;
        }
        return;
    }
}

std::string Property(HDEVINFO set, SP_DEVINFO_DATA& device, DWORD property) {
    wchar_t value[512];
    DWORD type = 0;
    if (::SetupDiGetDeviceRegistryPropertyW(set, &device, property, &type,
                                            reinterpret_cast<BYTE*>(value), sizeof value - 2,
                                            nullptr) == 0) {
        return {};
    }
    value[511] = L'\0';
    return platform::Narrow(value);  // a multi-string gives its first item
}

// A multi-string property of a device node (the first item of a plain string); none when the
// node has no such property.
std::vector<std::string> NodeStrings(DEVINST node, ULONG property) {
    wchar_t value[1024];
    ULONG bytes = sizeof value - 2 * sizeof(wchar_t);
    ULONG type = 0;
    if (::CM_Get_DevNode_Registry_PropertyW(node, property, &type, value, &bytes, 0) !=
        CR_SUCCESS) {
        return {};
    }
    const std::size_t count = bytes / sizeof(wchar_t);
    value[count] = L'\0';
    value[count + 1] = L'\0';
    std::vector<std::string> out;
    for (std::size_t at = 0; at < count && value[at] != L'\0';) {
        const std::wstring_view item(&value[at]);
        out.push_back(platform::Narrow(item));
        at += item.size() + 1;
    }
    return out;
}

std::string NodeId(DEVINST node) {
    wchar_t id[MAX_DEVICE_ID_LEN + 1] = {};
    if (::CM_Get_Device_IDW(node, id, MAX_DEVICE_ID_LEN, 0) != CR_SUCCESS) {
        return {};
    }
    return platform::Narrow(id);
}

// How far up from a port its USB device may be: the port itself (a CDC or CH340 port), its
// parent (an FTDI port under its USB device, an interface of a composite device), or the
// grandparent (an FTDI port of an interface of a two-port adapter).
constexpr int kLevelsUp = 3;

// The serial number of the port's USB device, from the instance ids on the way up.
std::string SerialNumberOf(DEVINST port, const std::string& portId) {
    InstanceId id = ParseInstanceId(portId);
    DEVINST node = port;
    for (int level = 0; level < kLevelsUp && id.askParent; ++level) {
        DEVINST parent = 0;
        if (::CM_Get_Parent(&parent, node, 0) != CR_SUCCESS) {
            break;
        }
        const InstanceId above = ParseInstanceId(NodeId(parent));
        if (above.bus != "USB") {
            break;
        }
        node = parent;
        id = above;
    }
    return id.serialNumber;
}

// The nearest location path on the way up; else the nearest location information (such as
// Port_#0002.Hub_#0001, which names the socket only within its hub).
std::string LocationOf(DEVINST port) {
    std::string information;
    DEVINST node = port;
    for (int level = 0; level < kLevelsUp; ++level) {
        if (std::string path = LocationFromPaths(NodeStrings(node, CM_DRP_LOCATION_PATHS));
            !path.empty()) {
            return path;
        }
        if (information.empty()) {
            const std::vector<std::string> info = NodeStrings(node, CM_DRP_LOCATION_INFORMATION);
            information = info.empty() ? std::string() : info.front();
        }
        DEVINST parent = 0;
        if (::CM_Get_Parent(&parent, node, 0) != CR_SUCCESS) {
            break;
        }
        node = parent;
    }
    return information;
}

// What SetupAPI knows of the ports class, by "COMn".
std::map<std::string, DeviceDetails> PortDetails() {
    std::map<std::string, DeviceDetails> out;
    const HDEVINFO set =
        ::SetupDiGetClassDevsW(&GUID_DEVCLASS_PORTS, nullptr, nullptr, DIGCF_PRESENT);
    if (set == INVALID_HANDLE_VALUE) {
        return out;
    }
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof device;
    for (DWORD index = 0; ::SetupDiEnumDeviceInfo(set, index, &device) != 0; ++index) {
        const HKEY key =
            ::SetupDiOpenDevRegKey(set, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
        if (key == INVALID_HANDLE_VALUE) {
            continue;
        }
        wchar_t portName[64] = {};
        DWORD bytes = sizeof portName - sizeof(wchar_t);
        DWORD type = 0;
        const bool named =
            ::RegQueryValueExW(key, L"PortName", nullptr, &type, reinterpret_cast<BYTE*>(portName),
                               &bytes) == ERROR_SUCCESS &&
            type == REG_SZ;
        ::RegCloseKey(key);
        if (!named || !IsComName(portName)) {
            continue;
        }
        DeviceDetails details;
        details.friendlyName = Property(set, device, SPDRP_FRIENDLYNAME);
        details.manufacturer = Property(set, device, SPDRP_MFG);
        details.service = Property(set, device, SPDRP_SERVICE);
        const std::string hardwareId = Property(set, device, SPDRP_HARDWAREID);
        details.vendorId = UsbIdAfter(hardwareId, "VID_");
        details.productId = UsbIdAfter(hardwareId, "PID_");
        if (details.vendorId) {
            details.serialNumber = SerialNumberOf(device.DevInst, NodeId(device.DevInst));
        }
        details.location = LocationOf(device.DevInst);
        out.emplace(Upper(platform::Narrow(portName)), std::move(details));
    }
    ::SetupDiDestroyDeviceInfoList(set);
    return out;
}

}  // namespace

std::string SystemPortSource(const std::string& /*sysfsRoot*/) {
    return "the COM ports of HKLM\\HARDWARE\\DEVICEMAP\\SERIALCOMM and the DOS device names";
}

std::vector<PortInfo> ListSystemPorts(const std::string& /*sysfsRoot*/,
                                      const std::string& /*devRoot*/) {
    std::map<std::string, std::string> ports;  // "COMn" -> driver's device name
    AddRegisteredPorts(ports);
    AddDosDevicePorts(ports);
    const std::map<std::string, DeviceDetails> details = PortDetails();

    std::vector<PortInfo> out;
    for (const auto& [name, deviceName] : ports) {
        PortInfo info;
        info.path = name;
        // "\Device\Serial0" -> "Serial", "\Device\VCP0" -> "VCP": the driver's device kind.
        std::string driver = deviceName.substr(deviceName.rfind('\\') + 1);
        while (!driver.empty() && driver.back() >= '0' && driver.back() <= '9') {
            driver.pop_back();
        }
        info.driver = driver;
        if (const auto found = details.find(name); found != details.end()) {
            const DeviceDetails& d = found->second;
            if (!d.service.empty()) {
                info.driver = d.service;
            }
            info.product = d.friendlyName;
            info.manufacturer = d.manufacturer;
            info.usbVendorId = d.vendorId;
            info.usbProductId = d.productId;
            info.serialNumber = d.serialNumber;
            info.location = d.location;
        }
        out.push_back(std::move(info));
    }
    return out;
}

}  // namespace tarvex::serial_detail

namespace tarvex {

std::string DevicePathForPortName(std::string_view portName) {
    // Every COM port opens as \\.\COMn; from COM10 on the plain name would not open at all.
    if (const std::optional<unsigned long> n = ComPortNumber(portName)) {
        return "\\\\.\\COM" + std::to_string(*n);
    }
    return std::string(portName);
}

std::string ResolvePortName(std::string_view name) {
    const std::optional<FixtureName> fixture = ParseFixtureName(name);
    if (!fixture) {
        return std::string(name);
    }
    // A fixture's port is a device SetupAPI knows: its present ports are enough.
    std::vector<PortInfo> present;
    for (const auto& [port, details] : serial_detail::PortDetails()) {
        PortInfo info;
        info.path = port;
        info.serialNumber = details.serialNumber;
        info.location = details.location;
        present.push_back(std::move(info));
    }
    return PortForFixture(*fixture, present);
}

std::string ListedPortName(std::string_view portName) {
    // The device path of a COM port, given as the name, is listed by the port's name too.
    constexpr std::string_view kDevicePrefix = "\\\\.\\";
    std::string_view name = portName;
    if (name.substr(0, kDevicePrefix.size()) == kDevicePrefix &&
        ComPortNumber(name.substr(kDevicePrefix.size()))) {
        name.remove_prefix(kDevicePrefix.size());
    }
    if (const std::optional<unsigned long> n = ComPortNumber(name)) {
        return "COM" + std::to_string(*n);
    }
    return std::string(portName);
}

}  // namespace tarvex

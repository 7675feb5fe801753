// What the text of a Windows device's instance id and location paths tells, read without the
// system: PortListWin32.cpp hands these the strings SetupAPI and the configuration manager
// return, the tests the strings real adapters give.
//
//   ParseInstanceId(id)        the bus, the USB ids and the serial number an instance id
//                              carries, and whether the device above it knows the serial better:
//     USB\VID_0403&PID_6001\A12345              a USB device with serial number A12345
//     USB\VID_1A86&PID_7523\5&2B6C1A3&0&2       one without (Windows made the last part up)
//     USB\VID_2341&PID_0043&MI_00\6&1F2E&0&0000 one interface of a composite device: ask the
//                                               device above it
//     FTDIBUS\VID_0403+PID_6001+A12345A\0000    a port of the FTDI driver's own bus: its USB
//                                               device above it has the serial (A12345; the
//                                               driver adds the port's letter A, B, ...)
//   UsbIdAfter(text, tag)      the four hex digits after "VID_" or "PID_" in a hardware or
//                              instance id, in any letter case and either separator
//   LocationFromPaths(paths)   the location to name a device by, from its location paths (a
//                              multi-string): the PCI one (PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(2))
//                              where there is one, else the first; empty when none
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarvex {

struct InstanceId {
    std::string bus;  // the enumerator, in upper case: USB, FTDIBUS, ACPI, ...
    std::optional<std::uint16_t> vendorId;
    std::optional<std::uint16_t> productId;
    std::string serialNumber;  // empty when the id carries none
    bool askParent = false;    // the device above knows the serial number (serialNumber: a guess)
};

InstanceId ParseInstanceId(std::string_view id);
std::optional<std::uint16_t> UsbIdAfter(std::string_view text, std::string_view tag);
std::string LocationFromPaths(const std::vector<std::string>& paths);

}  // namespace tarvex

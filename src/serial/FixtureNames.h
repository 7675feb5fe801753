// A fixture's port named by what stays with the fixture rather than by the number the system
// hands out (Windows gives every new adapter, and every panel's own USB port, a COM number of
// its own):
//
//   usb-serial:SERIAL   the port of the USB adapter with that serial number
//   location:PATH       the port of the device at that location: for a USB device its socket,
//                       as `tarvex-cli ports` gives it (PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(2))
//
// Letter case is ignored in both. On Linux the /dev/serial/by-id and by-path links name a
// fixture, and the system follows them at every open.
//
//   ParseFixtureName(name)           what the name picks a port by; none for any other name
//   PortForFixture(fixture, ports)   the path of the one port among `ports` the fixture names;
//                                    empty when none does, or more than one (the ports of a
//                                    two-port adapter share its serial number: name each by
//                                    its location)
//   ResolvePortName(name)            the port a name leads to now: for a fixture name the one
//                                    present (empty when none is), found without opening any;
//                                    any other name as it stands (PortList*.cpp)
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "serial/PortProbe.h"

namespace tarvex {

struct FixtureName {
    enum class By { SerialNumber, Location };
    By by = By::SerialNumber;
    std::string value;
};

std::optional<FixtureName> ParseFixtureName(std::string_view name);
std::string PortForFixture(const FixtureName& fixture, const std::vector<PortInfo>& ports);
std::string ResolvePortName(std::string_view name);

}  // namespace tarvex

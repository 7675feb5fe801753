// A fixture named by what stays with it: the port that a usb-serial: or location: name leads to.
#include <gtest/gtest.h>

#include "serial/FixtureNames.h"

namespace tarvex {
namespace {

TEST(FixtureNames, ANamePicksTheOnePortWithItsSerialOrLocation) {
    const char* const kSocket2 = "PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(2)";
    const char* const kSocket3 = "PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(3)";
    std::vector<PortInfo> present(5);
    present[0].path = "COM1";  // on the board: neither serial nor USB location
    present[0].location = "ACPI(_SB_)#ACPI(PCI0)#ACPI(LPCB)#ACPI(UAR1)";
    present[1].path = "COM5";
    present[1].serialNumber = "A12345";
    present[1].location = kSocket2;
    present[2].path = "COM9";  // a CH340: no serial number
    present[2].location = kSocket3;
    present[3].path = "COM11";  // the two ports of one FT2232
    present[3].serialNumber = "FT4XYZ";
    present[3].location = "PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(4)#USBMI(0)";
    present[4].path = "COM12";
    present[4].serialNumber = "FT4XYZ";
    present[4].location = "PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(4)#USBMI(2)";

    struct Case {
        const char* name;
        const char* port;  // nullptr: not a fixture name
    };
    const Case cases[] = {
        {"usb-serial:A12345", "COM5"},
        {"USB-SERIAL:a12345", "COM5"},
        {"usb-serial: A12345 ", "COM5"},
        {"location:PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(3)", "COM9"},
        {"Location:pciroot(0)#pci(1400)#usbroot(0)#usb(2)", "COM5"},
        {"location:ACPI(_SB_)#ACPI(PCI0)#ACPI(LPCB)#ACPI(UAR1)", "COM1"},
        // Not there (yet): no port.
        {"usb-serial:B99999", ""},
        {"location:PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(7)", ""},
        // A location names a socket, not the hub above it.
        {"location:PCIROOT(0)#PCI(1400)#USBROOT(0)", ""},
        // Shared by two ports: neither, rather than a guess.
        {"usb-serial:FT4XYZ", ""},
        {"location:PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(4)#USBMI(2)", "COM12"},
        // Other names are no fixture names.
        {"usb-serial:", nullptr},
        {"location:  ", nullptr},
        {"COM5", nullptr},
        {"\\\\.\\COM5", nullptr},
        {"/dev/serial/by-id/usb-FTDI_FT232R_A12345-if00-port0", nullptr},
        {"rfc2217://10.0.0.5:4001", nullptr},
        {"serial:A12345", nullptr},
    };
    for (const Case& c : cases) {
        const std::optional<FixtureName> fixture = ParseFixtureName(c.name);
        ASSERT_EQ(fixture.has_value(), c.port != nullptr) << c.name;
        if (fixture) {
            EXPECT_EQ(PortForFixture(*fixture, present), c.port) << c.name;
        }
    }
    EXPECT_EQ(ParseFixtureName("location:X#Y")->by, FixtureName::By::Location);
    EXPECT_EQ(ParseFixtureName("usb-serial:X")->by, FixtureName::By::SerialNumber);
    // A port listed twice under one name (the registry and SetupAPI) is still one port.
    std::vector<PortInfo> twice(2, present[1]);
    twice[1].path = "com5";
    EXPECT_EQ(PortForFixture(*ParseFixtureName("usb-serial:A12345"), twice), "COM5");
}

TEST(FixtureNames, OtherNamesResolveToThemselves) {
    for (const char* name : {"COM3", "\\\\.\\COM20", "/dev/ttyUSB0", "socket://host:4001"}) {
        EXPECT_EQ(ResolvePortName(name), name);
    }
}

}  // namespace
}  // namespace tarvex

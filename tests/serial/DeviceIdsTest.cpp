// The text of Windows' device ids and location paths, as real adapters give it: what the port
// list reads the USB ids, the serial number and the location from.
#include <gtest/gtest.h>

#include "serial/DeviceIds.h"

namespace tarvex {
namespace {

TEST(DeviceIds, InstanceIdsOfRealAdapters) {
    struct Case {
        const char* id;
        const char* bus;
        std::optional<std::uint16_t> vendor;
        std::optional<std::uint16_t> product;
        const char* serial;
        bool askParent;
    };
    const Case cases[] = {
        // FT232R under the USB bus: the serial number is the id's last part.
        {"USB\\VID_0403&PID_6001\\A12345", "USB", 0x0403, 0x6001, "A12345", false},
        {"usb\\vid_10c4&pid_ea60\\0001", "USB", 0x10C4, 0xEA60, "0001", false},
        // CH340 without a serial number: the last part is made up, and has '&'.
        {"USB\\VID_1A86&PID_7523\\5&2B6C1A3&0&2", "USB", 0x1A86, 0x7523, "", false},
        // One interface of a composite device (a CDC panel port): its device above knows.
        {"USB\\VID_2341&PID_0043&MI_00\\6&1F2E3D&0&0000", "USB", 0x2341, 0x0043, "", true},
        // The FTDI driver's own bus: the serial number with the port's letter; the USB device
        // above has it whole.
        {"FTDIBUS\\VID_0403+PID_6001+A12345A\\0000", "FTDIBUS", 0x0403, 0x6001, "A12345", true},
        {"FTDIBUS\\VID_0403+PID_6010+FT4XYZB\\0000", "FTDIBUS", 0x0403, 0x6010, "FT4XYZ", true},
        {"FTDIBUS\\VID_0403+PID_6001+A\\0000", "FTDIBUS", 0x0403, 0x6001, "", true},
        // Not USB at all.
        {"ACPI\\PNP0501\\1", "ACPI", std::nullopt, std::nullopt, "", false},
        // Damaged or cut short: nothing is made of them.
        {"USB\\VID_0403&PID_6001", "USB", 0x0403, 0x6001, "", false},
        {"USB\\VID_04G3&PID_60\\X", "USB", std::nullopt, std::nullopt, "X", false},
        {"", "", std::nullopt, std::nullopt, "", false},
    };
    for (const Case& c : cases) {
        const InstanceId id = ParseInstanceId(c.id);
        EXPECT_EQ(id.bus, c.bus) << c.id;
        EXPECT_EQ(id.vendorId, c.vendor) << c.id;
        EXPECT_EQ(id.productId, c.product) << c.id;
        EXPECT_EQ(id.serialNumber, c.serial) << c.id;
        EXPECT_EQ(id.askParent, c.askParent) << c.id;
    }
}

TEST(DeviceIds, LocationPrefersThePciPath) {
    struct Case {
        std::vector<std::string> paths;
        const char* location;
    };
    const Case cases[] = {
        {{"PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(2)"}, "PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(2)"},
        {{"ACPI(_SB_)#ACPI(PCI0)#ACPI(XHC_)#ACPI(RHUB)#ACPI(HS02)",
          "PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(2)#USBMI(0)"},
         "PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(2)#USBMI(0)"},
        {{"ACPI(_SB_)#ACPI(PCI0)#ACPI(LPCB)#ACPI(UAR1)"},
         "ACPI(_SB_)#ACPI(PCI0)#ACPI(LPCB)#ACPI(UAR1)"},
        {{"", "pciroot(0)#pci(1d00)#usbroot(0)#usb(1)#usb(3)"},
         "pciroot(0)#pci(1d00)#usbroot(0)#usb(1)#usb(3)"},
        {{}, ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(LocationFromPaths(c.paths), c.location) << c.location;
    }
}

}  // namespace
}  // namespace tarvex

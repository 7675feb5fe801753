// COM port names on Windows: the list and the settings file keep the name the user knows, the
// device path is only what a port opens by.
#include <gtest/gtest.h>

#include "serial/SerialPort.h"

namespace tarvex {
namespace {

TEST(PortNamesWin32, ListedByNameOpenedByDevicePath) {
    struct Case {
        const char* given;
        const char* listed;
        const char* device;
    };
    const Case cases[] = {
        {"COM3", "COM3", "\\\\.\\COM3"},
        {"com20", "COM20", "\\\\.\\COM20"},
        {"\\\\.\\COM20", "COM20", "\\\\.\\COM20"},
        // Not a COM port: taken as it stands, both ways.
        {"\\\\.\\CNCA0", "\\\\.\\CNCA0", "\\\\.\\CNCA0"},
        {"COM01", "COM01", "COM01"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ListedPortName(c.given), c.listed) << c.given;
        EXPECT_EQ(DevicePathForPortName(c.given), c.device) << c.given;
    }
}

}  // namespace
}  // namespace tarvex

// The report's adapter on Windows: the download opens \\.\COMn, the port list says COMn, and
// the lookup must see them as one port.
#include <gtest/gtest.h>

#include "production/DownloadReport.h"
#include "serial/PortProbe.h"

namespace tarvex::production {
namespace {

TEST(DescribeDevice, FindsAComPortByTheDevicePathTheDownloadOpened) {
    const ProbeOptions probe = ProbeOptionsFromEnvironment();
    int seen = 0;
    for (const PortInfo& port : ListPorts(probe)) {
        const std::string device = DevicePathForPortName(port.path);
        if (port.fromEnvironment || device == port.path) {
            continue;  // not a COM name of the system's list
        }
        ++seen;
        const std::optional<PortInfo> found = DescribeDevice(probe, device);
        ASSERT_TRUE(found.has_value()) << device;
        EXPECT_EQ(found->path, port.path);
    }
    if (seen == 0) {
        GTEST_SKIP() << "this system has no COM port";
    }
}

}  // namespace
}  // namespace tarvex::production

// Low latency on USB adapters: which devices are asked, what is changed, and that closing puts
// back exactly that. A fake sysfs holds the adapters' latency_timer files; the driver's serial
// flags are a recorded seam, since a pseudo-terminal has none.
#include <fcntl.h>
#include <gtest/gtest.h>

#include <fstream>
#include <optional>
#include <string>

#include "serial/LowLatency.h"
#include "serial/TermiosLinePosix.h"
#include "support/FakeSysfs.h"
#include "support/NamedCases.h"

namespace tarvex {
namespace {

using test::FakeSysfs;

// Real sysfs files, a recorded low-latency flag.
class RecordedFlag final : public ILatencyControls {
  public:
    std::optional<bool> flag;  // nothing: the driver keeps no serial flags
    bool refuseSet = false;
    int sets = 0;

    std::optional<bool> GetLowLatencyFlag(int) override { return flag; }
    bool SetLowLatencyFlag(int, bool on) override {
        ++sets;
        if (refuseSet || !flag) {
            return false;
        }
        flag = on;
        return true;
    }
    std::optional<std::string> ReadAttribute(const std::string& path) override {
        return files_.ReadAttribute(path);
    }
    bool WriteAttribute(const std::string& path, const std::string& value) override {
        return files_.WriteAttribute(path, value);
    }

  private:
    SystemLatencyControls files_;
};

struct LatencyCase {
    const char* name;
    bool usb;
    std::optional<std::string> timer;  // the adapter's latency_timer, when it has one
    std::optional<bool> flag;
    bool refuseFlag;
    // Expected while open, and after close.
    std::optional<std::string> timerOpen;
    std::optional<bool> flagOpen;
    std::optional<int> shownMs;  // what `ports` shows
};
using test::PrintTo;

class LowLatency : public ::testing::TestWithParam<LatencyCase> {};

std::optional<std::string> ReadTimer(const FakeSysfs& sys, const std::string& device) {
    std::ifstream in(sys.sysfs() + "/" + device + "/latency_timer");
    std::string text;
    if (!std::getline(in, text)) {
        return std::nullopt;
    }
    return text;
}

TEST_P(LowLatency, AskedOnUsbAdaptersOnlyAndPutBackAtClose) {
    const LatencyCase& c = GetParam();
    FakeSysfs sys;
    const std::string usbDev = "devices/pci0000:00/0000:00:14.0/usb1/1-2";
    const std::string port = usbDev + "/1-2:1.0/ttyUSB0";
    if (c.usb) {
        sys.Attribute(usbDev, "idVendor", "0403");
        sys.Attribute(usbDev, "idProduct", "6001");
        sys.Bind(usbDev + "/1-2:1.0", "usb", "ftdi_sio");
        sys.Bind(port, "usb-serial", "ftdi_sio");
        sys.AddTty("ttyUSB0", port);
    } else {
        sys.Bind("devices/pnp0/00:01", "pnp", "serial");
        sys.AddTty("ttyUSB0", "devices/pnp0/00:01", "4");
    }
    const std::string timerDevice = c.usb ? port : "devices/pnp0/00:01";
    if (c.timer) {
        sys.Attribute(timerDevice, "latency_timer", *c.timer);
    }

    const UsbLatency device = FindUsbLatency(sys.sysfs(), "ttyUSB0");
    EXPECT_EQ(device.usb, c.usb);
    EXPECT_EQ(TtyLatencyTimerMs(sys.sysfs(), "ttyUSB0"), c.shownMs);

    RecordedFlag controls;
    controls.flag = c.flag;
    controls.refuseSet = c.refuseFlag;
    const LatencyRestore restore = RequestLowLatency(7, device, controls);
    EXPECT_EQ(ReadTimer(sys, timerDevice), c.timerOpen);
    EXPECT_EQ(controls.flag, c.flagOpen);

    RestoreLatency(7, restore, controls);
    EXPECT_EQ(ReadTimer(sys, timerDevice), c.timer) << "the timer as found";
    EXPECT_EQ(controls.flag, c.flag) << "the flag as found";

    // The emergency exit of a second Ctrl-C: what was prepared at open puts the timer back as
    // the handler does it, and the descriptor is closed. (The driver's flags need a real serial
    // driver, which neither a pseudo-terminal nor /dev/null has.)
    const LatencyRestore again = RequestLowLatency(7, device, controls);
    EXPECT_EQ(ReadTimer(sys, timerDevice), c.timerOpen);
    const EmergencyLatency prepared = PrepareEmergencyLatency(-1, again);
    const int fd = ::open("/dev/null", O_RDWR | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    EmergencyRestoreAndClose(fd, nullptr, &prepared);
    EXPECT_EQ(ReadTimer(sys, timerDevice), c.timer) << "the timer as found, after the emergency";
    EXPECT_EQ(::fcntl(fd, F_GETFD), -1) << "the descriptor is closed";
}

INSTANTIATE_TEST_SUITE_P(
    Devices, LowLatency,
    ::testing::Values(
        LatencyCase{"FtdiAt16Ms", true, "16", false, false, "1", true, 16},
        LatencyCase{"AlreadyLow", true, "1", true, false, "1", true, 1},
        LatencyCase{"UsbWithoutTimer", true, std::nullopt, false, false, std::nullopt, true,
                    std::nullopt},
        LatencyCase{"DriverWithoutFlags", true, "16", std::nullopt, false, "1", std::nullopt, 16},
        LatencyCase{"FlagRefused", true, "10", false, true, "1", false, 10},
        LatencyCase{"UartIsLeftAlone", false, "16", false, false, "16", false, std::nullopt},
        LatencyCase{"UnreadableTimer", true, "sixteen", false, false, "sixteen", true,
                    std::nullopt}),
    test::CaseName());

TEST(LowLatencyDevices, APseudoTerminalOrUnknownTtyIsNoUsbDevice) {
    FakeSysfs sys;
    sys.AddVirtualTty("tty1");
    EXPECT_FALSE(FindUsbLatency(sys.sysfs(), "tty1").usb);
    EXPECT_FALSE(FindUsbLatency(sys.sysfs(), "ttyUSB9").usb);
    EXPECT_FALSE(FindUsbLatency(sys.sysfs(), "..").usb);
    RecordedFlag controls;
    controls.flag = false;
    EXPECT_TRUE(RequestLowLatency(7, FindUsbLatency(sys.sysfs(), "tty1"), controls).Empty());
    EXPECT_EQ(controls.sets, 0);
}

}  // namespace
}  // namespace tarvex

// Port probing over a fake sysfs tree, with device nodes that are links to real pseudo-terminals.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "serial/PortProbe.h"
#include "support/FakeSysfs.h"
#include "support/PtyPair.h"
#include "support/RecordingUi.h"
#include "support/ScopedEnv.h"
#include "support/TempDir.h"

namespace tarvex {
namespace {

using test::FakeSysfs;
using test::PtyPair;
using test::ScopedEnv;
using test::TempDir;

const PortInfo* Find(const std::vector<PortInfo>& ports, const std::string& path) {
    const auto it =
        std::find_if(ports.begin(), ports.end(), [&](const PortInfo& p) { return p.path == path; });
    return it == ports.end() ? nullptr : &*it;
}

std::vector<std::string> Paths(const std::vector<PortInfo>& ports) {
    std::vector<std::string> out;
    for (const auto& p : ports) {
        out.push_back(p.path);
    }
    return out;
}

TEST(NaturalLess, DigitRunsCompareByValue) {
    EXPECT_TRUE(NaturalLess("ttyS2", "ttyS10"));
    EXPECT_FALSE(NaturalLess("ttyS10", "ttyS2"));
    EXPECT_FALSE(NaturalLess("ttyS2", "ttyS2"));
    EXPECT_TRUE(NaturalLess("ttyS9", "ttyUSB0"));
    EXPECT_TRUE(NaturalLess("ttyUSB1", "ttyUSB1a"));
    EXPECT_TRUE(NaturalLess("port9z", "port10a"));
    EXPECT_TRUE(NaturalLess("x12345678901234567890", "x12345678901234567891"));
    EXPECT_TRUE(NaturalLess("x99999999999999999999", "x100000000000000000000"));
    // Equal in value but spelled differently: still a strict order, one way only.
    EXPECT_NE(NaturalLess("ttyS01", "ttyS1"), NaturalLess("ttyS1", "ttyS01"));

    std::vector<std::string> names = {"ttyS10", "ttyUSB0", "ttyS2", "ttyACM1", "ttyS0", "ttyS1"};
    std::sort(names.begin(), names.end(), NaturalLess);
    EXPECT_EQ(names, (std::vector<std::string>{"ttyACM1", "ttyS0", "ttyS1", "ttyS2", "ttyS10",
                                               "ttyUSB0"}));
}

TEST(ProbeOptionsFromEnvironment, ExtraPortsAreSplitAtColonsWithoutEmptiesOrRepeats) {
    {
        ScopedEnv env("TARVEX_EXTRA_PORTS", "::/dev/pts/3::/tmp/sim:/dev/pts/3:");
        EXPECT_EQ(ProbeOptionsFromEnvironment().extraPorts,
                  (std::vector<std::string>{"/dev/pts/3", "/tmp/sim"}));
    }
    {
        ScopedEnv env("TARVEX_EXTRA_PORTS", nullptr);
        const ProbeOptions options = ProbeOptionsFromEnvironment();
        EXPECT_TRUE(options.extraPorts.empty());
        EXPECT_EQ(options.sysfsRoot, "/sys");
        EXPECT_EQ(options.devRoot, "/dev");
    }
}

TEST(ProbePorts, ReadsTheSystemsSerialDevicesAndLeavesTheRestOut) {
    FakeSysfs sys;
    PtyPair s1;
    PtyPair s2;
    PtyPair s10;
    PtyPair usb;
    PtyPair acm;

    // Legacy 8250 ports: one with a UART (type 4, 16550A), one without (type 0).
    sys.Bind("devices/platform/serial8250", "platform", "serial8250");
    sys.AddTty("ttyS0", "devices/platform/serial8250", "0");
    sys.AddTty("ttyS10", "devices/platform/serial8250", "4");
    sys.Node("ttyS0", s1.slavePath());  // opens, but there is no UART behind it
    sys.Node("ttyS10", s10.slavePath());

    // A newer kernel's layout: the port on the serial-base bus below its controller, the
    // useful driver name on the PnP device above both.
    sys.Bind("devices/pnp0/00:01", "pnp", "serial");
    sys.Bind("devices/pnp0/00:01/00:01:0", "serial-base", "ctrl");
    sys.Bind("devices/pnp0/00:01/00:01:0/00:01:0.0", "serial-base", "port");
    sys.AddTty("ttyS1", "devices/pnp0/00:01/00:01:0/00:01:0.0", "4");
    sys.Node("ttyS1", s1.slavePath());
    sys.AddPnpPort("ttyS2", "00:02", s2.slavePath());

    // A USB adapter: tty below the usb-serial port, below the interface, below the device.
    const std::string usbDev = "devices/pci0000:00/0000:00:14.0/usb1/1-2";
    sys.Attribute(usbDev, "idVendor", "0403");
    sys.Attribute(usbDev, "idProduct", "6001");
    sys.Attribute(usbDev, "manufacturer", "FTDI");
    sys.Attribute(usbDev, "product", "FT232R USB UART");
    sys.Attribute(usbDev, "serial", "A50285BI");
    sys.Bind(usbDev + "/1-2:1.0", "usb", "ftdi_sio");
    sys.Bind(usbDev + "/1-2:1.0/ttyUSB0", "usb-serial", "ftdi_sio");
    sys.AddTty("ttyUSB0", usbDev + "/1-2:1.0/ttyUSB0");
    sys.Node("ttyUSB0", usb.slavePath());

    // A CDC-ACM device (a panel's own USB port): the tty hangs off the interface directly,
    // and the device has no serial number.
    const std::string acmDev = "devices/pci0000:00/0000:00:14.0/usb1/1-3";
    sys.Attribute(acmDev, "idVendor", "2a03");
    sys.Attribute(acmDev, "idProduct", "0043");
    sys.Bind(acmDev + "/1-3:1.0", "usb", "cdc_acm");
    sys.AddTty("ttyACM0", acmDev + "/1-3:1.0");
    sys.Node("ttyACM0", acm.slavePath());

    // Virtual terminals and the console have no device link; ttyS5 has no device node.
    sys.AddVirtualTty("tty0");
    sys.AddVirtualTty("console");
    sys.AddTty("ttyS5", "devices/platform/serial8250", "4");

    const std::vector<PortInfo> ports = ProbePorts(sys.Options());
    const std::string d = sys.dev() + "/";
    const std::vector<std::string> serialPorts = {d + "ttyACM0", d + "ttyS1", d + "ttyS2",
                                                  d + "ttyS10", d + "ttyUSB0"};
    EXPECT_EQ(Paths(ports), serialPorts);

    const PortInfo* ftdi = Find(ports, d + "ttyUSB0");
    ASSERT_NE(ftdi, nullptr);
    EXPECT_TRUE(ftdi->opens);
    EXPECT_EQ(ftdi->error, SerialError::None);
    EXPECT_EQ(ftdi->driver, "ftdi_sio");
    EXPECT_EQ(ftdi->usbVendorId, 0x0403);
    EXPECT_EQ(ftdi->usbProductId, 0x6001);
    EXPECT_EQ(ftdi->manufacturer, "FTDI");
    EXPECT_EQ(ftdi->product, "FT232R USB UART");
    EXPECT_EQ(ftdi->serialNumber, "A50285BI");
    EXPECT_FALSE(ftdi->fromEnvironment);

    const PortInfo* cdc = Find(ports, d + "ttyACM0");
    ASSERT_NE(cdc, nullptr);
    EXPECT_EQ(cdc->driver, "cdc_acm");
    EXPECT_EQ(cdc->usbVendorId, 0x2a03);
    EXPECT_EQ(cdc->usbProductId, 0x0043);
    EXPECT_EQ(cdc->serialNumber, "");

    const PortInfo* uart = Find(ports, d + "ttyS1");
    ASSERT_NE(uart, nullptr);
    EXPECT_EQ(uart->driver, "serial");
    EXPECT_FALSE(uart->usbVendorId.has_value());
    EXPECT_EQ(Find(ports, d + "ttyS10")->driver, "serial8250");

    EXPECT_EQ(OpenablePorts(sys.Options()), serialPorts);
}

TEST(ProbePorts, AHeldPortIsListedAsBusyAndNotOffered) {
    FakeSysfs sys;
    PtyPair a;
    PtyPair b;
    sys.AddPnpPort("ttyS0", "00:01", a.slavePath());
    sys.AddPnpPort("ttyS1", "00:02", b.slavePath());

    test::RecordingUi ui;
    CSerialPort holder(ui);
    ASSERT_TRUE(holder.Open(sys.dev() + "/ttyS1"));

    const std::vector<PortInfo> ports = ProbePorts(sys.Options());
    ASSERT_EQ(ports.size(), 2u);
    EXPECT_TRUE(ports[0].opens);
    EXPECT_FALSE(ports[1].opens);
    EXPECT_EQ(ports[1].error, SerialError::Busy);
    EXPECT_EQ(OpenablePorts(sys.Options()), (std::vector<std::string>{sys.dev() + "/ttyS0"}));

    // Probing left the holder's port alone, and released the one it tried.
    EXPECT_TRUE(holder.IsOpen());
    CSerialPort other(ui);
    EXPECT_TRUE(other.Open(sys.dev() + "/ttyS0"));
}

TEST(ProbePorts, ExtraPortsJoinTheListOnce) {
    FakeSysfs sys;
    PtyPair known;
    PtyPair extra;
    sys.AddPnpPort("ttyS0", "00:01", known.slavePath());

    ProbeOptions options = sys.Options();
    options.extraPorts = {extra.slavePath(), sys.dev() + "/ttyS0", "", sys.dev() + "/missing"};
    const std::vector<PortInfo> ports = ProbePorts(options);
    ASSERT_EQ(ports.size(), 2u);
    const PortInfo* fromEnv = Find(ports, extra.slavePath());
    ASSERT_NE(fromEnv, nullptr);
    EXPECT_TRUE(fromEnv->fromEnvironment);
    EXPECT_TRUE(fromEnv->opens);
    const PortInfo* fromSys = Find(ports, sys.dev() + "/ttyS0");
    ASSERT_NE(fromSys, nullptr);
    EXPECT_FALSE(fromSys->fromEnvironment);
    EXPECT_EQ(fromSys->driver, "serial");
}

TEST(ProbePorts, AnExtraPathThatIsNoTerminalIsListedWithTheReason) {
    TempDir dir;
    ProbeOptions options;
    options.sysfsRoot = dir / "no-sysfs";
    options.devRoot = dir / "no-dev";
    options.extraPorts = {dir.Write("notes.txt", "hello")};
    const std::vector<PortInfo> ports = ProbePorts(options);
    ASSERT_EQ(ports.size(), 1u);
    EXPECT_FALSE(ports[0].opens);
    EXPECT_EQ(ports[0].error, SerialError::NotATerminal);
    EXPECT_TRUE(OpenablePorts(options).empty());
}

TEST(ProbePorts, NothingConfiguredWhileProbing) {
    PtyPair pty;
    struct termios before {};
    ASSERT_EQ(tcgetattr(pty.master(), &before), 0);
    TempDir dir;
    ProbeOptions options;
    options.sysfsRoot = dir / "sys";
    options.devRoot = dir / "dev";
    options.extraPorts = {pty.slavePath()};
    ASSERT_EQ(OpenablePorts(options), (std::vector<std::string>{pty.slavePath()}));
    struct termios after {};
    ASSERT_EQ(tcgetattr(pty.master(), &after), 0);
    EXPECT_EQ(after.c_iflag, before.c_iflag);
    EXPECT_EQ(after.c_oflag, before.c_oflag);
    EXPECT_EQ(after.c_lflag, before.c_lflag);
    EXPECT_EQ(after.c_cflag, before.c_cflag);
}

// Another program holding a port: a child process that opens it (and, when asked, takes the
// lock the port class takes) and keeps it until the object goes. It keeps nothing else of this
// process open, the pseudo-terminals' master sides in particular.
class OtherHolder {
  public:
    OtherHolder(const std::string& path, bool lock) {
        int ready[2];
        if (::pipe(ready) != 0) {
            return;
        }
        pid_ = ::fork();
        if (pid_ == 0) {
            const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
            for (int other = 3; other < 1024; ++other) {
                if (other != fd && other != ready[1]) {
                    ::close(other);
                }
            }
            const char ok = (fd >= 0 && (!lock || ::flock(fd, LOCK_EX | LOCK_NB) == 0)) ? 'y' : 'n';
            (void)!::write(ready[1], &ok, 1);
            for (;;) {
                ::pause();
            }
        }
        ::close(ready[1]);
        char answer = 0;
        held_ = pid_ > 0 && ::read(ready[0], &answer, 1) == 1 && answer == 'y';
        ::close(ready[0]);
    }
    ~OtherHolder() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            int status = 0;
            ::waitpid(pid_, &status, 0);
        }
    }
    OtherHolder(const OtherHolder&) = delete;
    OtherHolder& operator=(const OtherHolder&) = delete;

    bool held() const { return held_; }
    int pid() const { return pid_; }

  private:
    pid_t pid_ = -1;
    bool held_ = false;
};

// Counts the opens of device nodes (inotify sees every open, also one that fails later). It
// merges an event with an equal one just before it: the closes, watched too, keep opens apart.
class OpenWatch {
  public:
    OpenWatch() : fd_(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {}
    ~OpenWatch() { ::close(fd_); }
    void Watch(const std::string& path) {
        watches_[::inotify_add_watch(fd_, path.c_str(), IN_OPEN | IN_CLOSE)] = path;
    }
    std::map<std::string, int> Opens() {
        std::map<std::string, int> opens;
        alignas(inotify_event) char buf[4096];
        ssize_t n = 0;
        while ((n = ::read(fd_, buf, sizeof buf)) > 0) {
            for (char* p = buf; p < buf + n;) {
                const auto* event = reinterpret_cast<const inotify_event*>(p);
                if ((event->mask & IN_OPEN) != 0) {
                    ++opens[watches_[event->wd]];
                }
                p += sizeof(inotify_event) + event->len;
            }
        }
        return opens;
    }

  private:
    int fd_;
    std::map<int, std::string> watches_;
};

// The modem-line request, as the probe makes it: which device it went to, while still open.
class RecordingLines : public IModemLines {
  public:
    bool DropDtrRts(int handle) override {
        struct stat st {};
        devices.push_back(::fstat(handle, &st) == 0 ? st.st_rdev : 0);
        return true;
    }
    std::vector<dev_t> devices;
};

// Opening a USB adapter resets it and pulses DTR and RTS: the probe opens no port at all. A
// port locked by another program is busy; one merely held open is found only when asked for
// (one walk over the process table for all ports). A download opens exclusively first and asks
// who else has the port afterwards, so that nobody can take it in between.
TEST(ProbePorts, OpensNoPortAndTheDownloadsExclusiveOpenComesBeforeTheHolderCheck) {
    PtyPair free;
    PtyPair locked;
    PtyPair open;
    OtherHolder locker(locked.slavePath(), true);
    OtherHolder opener(open.slavePath(), false);
    ASSERT_TRUE(locker.held());
    ASSERT_TRUE(opener.held());

    EXPECT_TRUE(PortLockedElsewhere(locked.slavePath()));
    EXPECT_FALSE(PortLockedElsewhere(open.slavePath()));
    EXPECT_FALSE(PortLockedElsewhere(free.slavePath()));
    const std::vector<PortHolder> holders = FindPortHolders(open.slavePath());
    ASSERT_EQ(holders.size(), 1u);
    EXPECT_EQ(holders[0].pid, opener.pid());
    EXPECT_FALSE(holders[0].command.empty());
    // This process holds every pair's master: it plays their device, and holds no line.
    EXPECT_TRUE(FindPortHolders(free.slavePath()).empty());
    const std::vector<std::vector<PortHolder>> each =
        FindPortHoldersOfEach({free.slavePath(), open.slavePath(), "/no/such/device"});
    ASSERT_EQ(each.size(), 3u);
    EXPECT_TRUE(each[0].empty());
    ASSERT_EQ(each[1].size(), 1u);
    EXPECT_EQ(each[1][0].pid, opener.pid());
    EXPECT_TRUE(each[2].empty());

    OpenWatch watch;
    for (const PtyPair* pair : {&free, &locked, &open}) {
        watch.Watch(pair->slavePath());
    }
    TempDir dir;
    RecordingLines lines;
    ProbeOptions options;
    options.sysfsRoot = dir / "sys";
    options.devRoot = dir / "dev";
    options.extraPorts = {free.slavePath(), locked.slavePath(), open.slavePath()};
    options.modemLines = &lines;
    for (const bool findHolders : {false, true}) {
        SCOPED_TRACE(findHolders ? "with the holders" : "without the holders");
        options.findHolders = findHolders;
        const std::vector<PortInfo> ports = ProbePorts(options);
        ASSERT_EQ(ports.size(), 3u);
        EXPECT_TRUE(Find(ports, free.slavePath())->opens);
        EXPECT_EQ(Find(ports, locked.slavePath())->error, SerialError::Busy);
        EXPECT_EQ(Find(ports, open.slavePath())->opens, !findHolders);
        EXPECT_EQ(Find(ports, open.slavePath())->error,
                  findHolders ? SerialError::Busy : SerialError::None);
        EXPECT_EQ(PortAvailable(locked.slavePath(), options), SerialError::Busy);
        EXPECT_EQ(PortAvailable(free.slavePath(), options), SerialError::None);
    }
    EXPECT_TRUE(watch.Opens().empty()) << "the probe opened a port";
    EXPECT_TRUE(lines.devices.empty());

    // The download's open: tried once, exclusively, and given up when another program turns
    // out to have the line; the port is left to that program, unexcluded.
    test::RecordingUi ui;
    CSerialPort port(ui);
    EXPECT_FALSE(port.Open(open.slavePath()));
    EXPECT_EQ(port.LastError(), SerialError::Busy);
    EXPECT_EQ(watch.Opens()[open.slavePath()], 1);
    const int again = ::open(open.slavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    EXPECT_GE(again, 0) << "exclusive mode was left on the held port";
    if (again >= 0) {
        ::close(again);
    }
    watch.Opens();
    ASSERT_TRUE(port.Open(free.slavePath()));
    EXPECT_EQ(watch.Opens()[free.slavePath()], 1);
}

}  // namespace
}  // namespace tarvex

// tarvex-cli ports, run as the user runs it, over a fake sysfs tree.
#include <grp.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <pwd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "app/cli/commands/PortNames.h"
#include "serial/SerialPort.h"
#include "support/FakeSysfs.h"
#include "support/JsonOutput.h"
#include "support/PtyPair.h"
#include "support/RecordingUi.h"
#include "support/RunProgram.h"
#include "support/ScopedEnv.h"
#include "support/TempDir.h"

namespace tarvex {
namespace {

using test::ProgramResult;

class PortsCommand : public ::testing::Test {
  protected:
    // The command against the fake system, empty unless a test fills it.
    std::vector<std::string> Args(std::vector<std::string> extraArgs = {}) const {
        std::vector<std::string> args = {"ports", "--sysfs-root", sys.sysfs(), "--dev-root",
                                         sys.dev()};
        args.insert(args.end(), extraArgs.begin(), extraArgs.end());
        return args;
    }
    ProgramResult Ports(std::vector<std::string> extraArgs = {}) {
        return test::RunProgram(test::ProjectBinary("tarvex-cli"), Args(std::move(extraArgs)));
    }

    nlohmann::json PortsJson() {
        const nlohmann::json j = test::JsonOutput(Ports({"--json"}));
        EXPECT_TRUE(j.is_array());
        return j;
    }

    test::FakeSysfs sys;
};

TEST_F(PortsCommand, NoSerialHardwareSaysSo) {
    test::ScopedEnv env("TARVEX_EXTRA_PORTS", nullptr);
    const ProgramResult r = Ports();
    EXPECT_EQ(r.exitStatus, 0);
    EXPECT_EQ(r.out, "No serial ports found.\n");
    EXPECT_EQ(PortsJson(), nlohmann::json::array());
}

TEST_F(PortsCommand, ListsAPseudoTerminalNamedInTheEnvironment) {
    test::PtyPair pty;
    test::ScopedEnv env("TARVEX_EXTRA_PORTS", pty.slavePath().c_str());
    const ProgramResult r = Ports();
    EXPECT_EQ(r.exitStatus, 0);
    EXPECT_EQ(r.out.rfind(pty.slavePath() + "  ok", 0), 0u) << r.out;
    EXPECT_NE(r.out.find("from TARVEX_EXTRA_PORTS"), std::string::npos);

    const nlohmann::json j = PortsJson();
    ASSERT_EQ(j.size(), 1u);
    EXPECT_EQ(j[0]["path"], pty.slavePath());
    EXPECT_EQ(j[0]["opens"], true);
    EXPECT_TRUE(j[0]["error"].is_null());
    EXPECT_TRUE(j[0]["usb_vendor_id"].is_null());
}

TEST_F(PortsCommand, APortHeldByThisProcessIsBusyForTheTool) {
    // Two processes now: the advisory lock, not only the in-process bookkeeping, must hold.
    test::PtyPair pty;
    test::RecordingUi ui;
    CSerialPort holder(ui);
    ASSERT_TRUE(holder.Open(pty.slavePath()));
    test::ScopedEnv env("TARVEX_EXTRA_PORTS", pty.slavePath().c_str());
    const ProgramResult r = Ports();
    EXPECT_EQ(r.exitStatus, 0);
    EXPECT_NE(r.out.find(pty.slavePath() + "  busy"), std::string::npos) << r.out;
    const nlohmann::json j = PortsJson();
    ASSERT_EQ(j.size(), 1u);
    EXPECT_EQ(j[0]["opens"], false);
    EXPECT_EQ(j[0]["error"], "busy");
}

TEST_F(PortsCommand, UsbAdapterShowsItsIdsAndStrings) {
    test::ScopedEnv env("TARVEX_EXTRA_PORTS", nullptr);
    test::PtyPair pty;
    const std::string usbDev = "devices/pci0000:00/usb1/1-1";
    sys.Attribute(usbDev, "idVendor", "067b");
    sys.Attribute(usbDev, "idProduct", "2303");
    sys.Attribute(usbDev, "manufacturer", "Prolific Technology Inc.");
    sys.Attribute(usbDev, "product", "USB-Serial Controller");
    sys.Bind(usbDev + "/1-1:1.0/ttyUSB3", "usb-serial", "pl2303");
    sys.AddTty("ttyUSB3", usbDev + "/1-1:1.0/ttyUSB3");
    sys.Node("ttyUSB3", pty.slavePath());

    const ProgramResult r = Ports();
    EXPECT_EQ(r.exitStatus, 0);
    // No serial number: the by-id name is not one to build a fixture on.
    const std::string indent(sys.dev().size() + 10, ' ');
    EXPECT_EQ(r.out, sys.dev() + "/ttyUSB3" +
                         "  ok; driver pl2303, USB 067b:2303 Prolific Technology Inc. "
                         "USB-Serial Controller\n" +
                         indent +
                         "warning: the adapter has no USB serial number: its /dev/serial/by-id "
                         "name is neither unique nor stable (an alike adapter gets the same "
                         "name); for a fixture name the USB socket: its /dev/serial/by-path "
                         "name\n");
    const nlohmann::json j = PortsJson();
    ASSERT_EQ(j.size(), 1u);
    EXPECT_EQ(j[0]["driver"], "pl2303");
    EXPECT_EQ(j[0]["usb_vendor_id"], "067b");
    EXPECT_EQ(j[0]["usb_product_id"], "2303");
    EXPECT_EQ(j[0]["manufacturer"], "Prolific Technology Inc.");
    EXPECT_TRUE(j[0]["serial_number"].is_null());
    EXPECT_NE(j[0]["name_warning"].get<std::string>().find("/dev/serial/by-path"),
              std::string::npos);

    // An attribute that is a FIFO is not read (it would block the probe): it is left out.
    const std::string product = sys.sysfs() + "/" + usbDev + "/product";
    ASSERT_EQ(::unlink(product.c_str()), 0);
    ASSERT_EQ(::mkfifo(product.c_str(), 0600), 0);
    const ProgramResult fifo = Ports({"--json"});
    EXPECT_FALSE(fifo.timedOut);
    const nlohmann::json k = test::JsonOutput(fifo);
    ASSERT_EQ(k.size(), 1u);
    EXPECT_TRUE(k[0]["product"].is_null());
    EXPECT_EQ(k[0]["manufacturer"], "Prolific Technology Inc.");
}

TEST_F(PortsCommand, PermissionDeniedNamesTheGroupToJoin) {
    test::PtyPair pty;
    // A pseudo-terminal slave belongs to its owner and the tty group, mode 0620: anyone else
    // may not open it for reading. As root the tool runs as "nobody" for this.
    std::string program = test::ProjectBinary("tarvex-cli");
    std::vector<std::string> args = Args();
    if (geteuid() == 0) {
        const char* setpriv = "/usr/bin/setpriv";
        if (access(setpriv, X_OK) != 0) {
            GTEST_SKIP() << "running as root without setpriv: the refusal cannot be shown";
        }
        args.insert(args.begin(), {"--reuid=65534", "--regid=65534", "--clear-groups", program});
        program = setpriv;
        ASSERT_EQ(chmod(pty.slavePath().c_str(), 0620), 0);
    } else {
        ASSERT_EQ(chmod(pty.slavePath().c_str(), 0), 0);
    }
    struct stat st {};
    ASSERT_EQ(stat(pty.slavePath().c_str(), &st), 0);
    const group* owner = getgrgid(st.st_gid);
    ASSERT_NE(owner, nullptr);
    const std::string groupName = owner->gr_name;

    test::ScopedEnv env("TARVEX_EXTRA_PORTS", pty.slavePath().c_str());
    const ProgramResult r = test::RunProgram(program, args);
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_NE(r.out.find(pty.slavePath() + "  permission denied"), std::string::npos) << r.out;
    if (st.st_gid == 0) {
        // Never advise joining root: the device goes to dialout, and the user joins that.
        EXPECT_NE(r.out.find("sudo chgrp dialout " + pty.slavePath()), std::string::npos) << r.out;
        EXPECT_EQ(r.out.find("usermod -aG root"), std::string::npos) << r.out;
    } else {
        const std::string user = geteuid() == 0 ? "nobody" : getpwuid(geteuid())->pw_name;
        EXPECT_NE(r.out.find("sudo usermod -aG " + groupName + " " + user), std::string::npos)
            << r.out;
    }
    EXPECT_NE(r.out.find("a group change needs a new login"), std::string::npos) << r.out;
}

// Ports named on the command line: each listed once, as named, a local one probed like the
// system's and a network one only checked by its name, never connected to.
TEST_F(PortsCommand, NamedPortsAreListedAsNamedAndNetworkOnesAreNotReached) {
    test::ScopedEnv env("TARVEX_EXTRA_PORTS", nullptr);
    test::PtyPair pty;
    // A server that would see any connect in its queue.
    const platform::UniqueFd server(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(server.get(), reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    ASSERT_EQ(::listen(server.get(), 4), 0);
    socklen_t len = sizeof a;
    ASSERT_EQ(::getsockname(server.get(), reinterpret_cast<sockaddr*>(&a), &len), 0);
    const std::string listening = "rfc2217://127.0.0.1:" + std::to_string(ntohs(a.sin_port));
    const std::string missing = sys.dev() + "/ttyUSB9";

    struct Case {
        std::string path;
        const char* kind;
        nlohmann::json opens;
        nlohmann::json error;
        std::string text;  // what the plain listing says after the name
    };
    const std::string badName = "not a network port name (HOST:PORT, port 1 to 65535)";
    const Case cases[] = {
        {pty.slavePath(), "local", true, nullptr, "ok"},
        {missing, "local", false, "not found", "not found"},
        {listening, "network", nullptr, nullptr,
         "network port over RFC 2217, not reached before a download"},
        {"SOCKET://[::1]:4001", "network", nullptr, nullptr,
         "network port over raw TCP, not reached before a download"},
        {"socket://panel-7:0", "network", false, badName, badName},
    };
    std::vector<std::string> args;
    for (const Case& c : cases) {
        args.insert(args.end(), {"--port", c.path});
    }
    args.insert(args.end(), {"--port", listening});  // once is enough

    const ProgramResult text = Ports(args);
    EXPECT_EQ(text.exitStatus, 0) << text.err;
    args.push_back("--json");
    const nlohmann::json j = test::JsonOutput(Ports(args));
    ASSERT_EQ(j.size(), std::size(cases)) << j.dump(2);
    std::istringstream lines(text.out);
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        const Case& c = cases[i];
        SCOPED_TRACE(c.path);
        EXPECT_EQ(j[i]["path"], c.path);
        EXPECT_EQ(j[i]["kind"], c.kind);
        EXPECT_EQ(j[i]["opens"], c.opens);
        EXPECT_EQ(j[i]["error"], c.error);
        EXPECT_EQ(j[i]["from_environment"], false);
        EXPECT_TRUE(j[i]["driver"].is_null());
        std::string line;
        std::getline(lines, line);
        EXPECT_EQ(line.rfind(c.path + " ", 0), 0u) << line;
        EXPECT_EQ(line.substr(line.find_first_not_of(' ', c.path.size())), c.text) << line;
    }
    pollfd pfd{server.get(), POLLIN, 0};
    EXPECT_EQ(::poll(&pfd, 1, 0), 0) << "the listing connected to a network port";
}

// Which ports get the warning that their by-id name does not stay, and what it points to.
TEST(PortNames, OnlyAUsbAdapterWithoutSerialNumberIsWarnedAndPointedToItsSocket) {
    test::TempDir dev;
    const std::string node = dev.Write("ttyUSB0", "");
    const std::string socket = dev / "serial/by-path/pci-0000:00:14.0-usb-0:2:1.0-port0";
    dev.MakeDir("serial/by-path");
    std::filesystem::create_symlink(node, socket);
    dev.Write("ttyUSB1", "");

    const auto usb = [](std::string path, std::string serial) {
        PortInfo p;
        p.path = std::move(path);
        p.usbVendorId = 0x1a86;
        p.usbProductId = 0x7523;
        p.serialNumber = std::move(serial);
        return p;
    };
    PortInfo uart;
    uart.path = dev / "ttyS0";
    PortInfo extra = usb(dev / "ttyUSB0", "");
    extra.fromEnvironment = true;
    struct Case {
        const char* what;
        PortInfo port;
        std::string warning;  // empty: none
    };
    const Case cases[] = {
        {"with a serial number", usb(node, "A50285BI"), ""},
        {"a UART", uart, ""},
        {"named in the environment", extra, ""},
        {"without, in a socket", usb(node, ""), socket},
        {"without, no socket link", usb(dev / "ttyUSB1", ""), "its /dev/serial/by-path name"},
    };
    for (const Case& c : cases) {
        const std::string w = cli::UnstableNameWarning(c.port, dev.path());
        if (c.warning.empty()) {
            EXPECT_EQ(w, "") << c.what;
            continue;
        }
        EXPECT_EQ(w.rfind("the adapter has no USB serial number: its /dev/serial/by-id name is "
                          "neither unique nor stable",
                          0),
                  0U)
            << c.what << ": " << w;
        EXPECT_EQ(w.substr(w.size() - c.warning.size()), c.warning) << c.what << ": " << w;
    }
}

}  // namespace
}  // namespace tarvex

// tarvex-cli ports, run as the user runs it. The real /sys is never used: a machine's own
// serial ports (possibly its console) are not the tests' to open.
#include <grp.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "serial/SerialPort.h"
#include "support/PtyPair.h"
#include "support/RecordingUi.h"
#include "support/RunProgram.h"
#include "support/TempDir.h"

namespace tarvex {
namespace {

namespace fs = std::filesystem;
using test::ProgramResult;

// Sets an environment variable for the life of the object (the tool inherits it) and puts the
// old value back.
class ScopedEnv {
  public:
    ScopedEnv(const char* name, const char* value) : name_(name) {
        if (const char* old = getenv(name)) {
            old_ = old;
        }
        if (value != nullptr) {
            setenv(name, value, 1);
        } else {
            unsetenv(name);
        }
    }
    ~ScopedEnv() {
        if (old_) {
            setenv(name_, old_->c_str(), 1);
        } else {
            unsetenv(name_);
        }
    }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

  private:
    const char* name_;
    std::optional<std::string> old_;
};

class PortsCommand : public ::testing::Test {
  protected:
    // Runs the command against an empty system: no sysfs entries, no device nodes.
    ProgramResult Ports(std::vector<std::string> extraArgs = {}) {
        std::vector<std::string> args = {"ports", "--sysfs-root", dir / "sys", "--dev-root",
                                         dir / "dev"};
        args.insert(args.end(), extraArgs.begin(), extraArgs.end());
        return test::RunProgram(test::ProjectBinary("tarvex-cli"), args);
    }

    nlohmann::json PortsJson() {
        const ProgramResult r = Ports({"--json"});
        EXPECT_EQ(r.exitStatus, 0) << r.err;
        nlohmann::json j;
        try {
            j = nlohmann::json::parse(r.out);
        } catch (const nlohmann::json::exception& e) {
            ADD_FAILURE() << "not JSON: " << e.what() << "\n" << r.out;
        }
        EXPECT_TRUE(j.is_array());
        return j;
    }

    test::TempDir dir;
};

TEST_F(PortsCommand, NoSerialHardwareSaysSo) {
    ScopedEnv env("TARVEX_EXTRA_PORTS", nullptr);
    const ProgramResult r = Ports();
    EXPECT_EQ(r.exitStatus, 0);
    EXPECT_EQ(r.out, "No serial ports found.\n");
    EXPECT_EQ(PortsJson(), nlohmann::json::array());
}

TEST_F(PortsCommand, ListsAPseudoTerminalNamedInTheEnvironment) {
    test::PtyPair pty;
    ScopedEnv env("TARVEX_EXTRA_PORTS", pty.slavePath().c_str());
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
    ScopedEnv env("TARVEX_EXTRA_PORTS", pty.slavePath().c_str());
    const ProgramResult r = Ports();
    EXPECT_EQ(r.exitStatus, 0);
    EXPECT_NE(r.out.find(pty.slavePath() + "  busy"), std::string::npos) << r.out;
    const nlohmann::json j = PortsJson();
    ASSERT_EQ(j.size(), 1u);
    EXPECT_EQ(j[0]["opens"], false);
    EXPECT_EQ(j[0]["error"], "busy");
}

TEST_F(PortsCommand, UsbAdapterShowsItsIdsAndStrings) {
    ScopedEnv env("TARVEX_EXTRA_PORTS", nullptr);
    test::PtyPair pty;
    const std::string usbDev = "sys/devices/pci0000:00/usb1/1-1";
    dir.Write(usbDev + "/idVendor", "067b\n");
    dir.Write(usbDev + "/idProduct", "2303\n");
    dir.Write(usbDev + "/manufacturer", "Prolific Technology Inc.\n");
    dir.Write(usbDev + "/product", "USB-Serial Controller\n");
    const fs::path port = dir / (usbDev + "/1-1:1.0/ttyUSB3");
    const fs::path tty = port / "tty/ttyUSB3";
    fs::create_directories(tty);
    fs::create_directories(dir / "sys/bus/usb-serial/drivers/pl2303");
    fs::create_directory_symlink(fs::relative(dir / "sys/bus/usb-serial/drivers/pl2303", port),
                                 port / "driver");
    fs::create_directory_symlink(fs::relative(port, tty), tty / "device");
    fs::create_directories(dir / "sys/class/tty");
    fs::create_directory_symlink(fs::relative(tty, dir / "sys/class/tty"),
                                 dir / "sys/class/tty/ttyUSB3");
    fs::create_directories(dir / "dev");
    fs::create_symlink(pty.slavePath(), dir / "dev/ttyUSB3");

    const ProgramResult r = Ports();
    EXPECT_EQ(r.exitStatus, 0);
    EXPECT_EQ(r.out, dir / "dev/ttyUSB3" +
                         "  ok; driver pl2303, USB 067b:2303 Prolific Technology Inc. "
                         "USB-Serial Controller\n");
    const nlohmann::json j = PortsJson();
    ASSERT_EQ(j.size(), 1u);
    EXPECT_EQ(j[0]["driver"], "pl2303");
    EXPECT_EQ(j[0]["usb_vendor_id"], "067b");
    EXPECT_EQ(j[0]["usb_product_id"], "2303");
    EXPECT_EQ(j[0]["manufacturer"], "Prolific Technology Inc.");
    EXPECT_TRUE(j[0]["serial_number"].is_null());
}

TEST_F(PortsCommand, PermissionDeniedNamesTheGroupToJoin) {
    test::PtyPair pty;
    // A pseudo-terminal slave belongs to its owner and the tty group, mode 0620: anyone else
    // may not open it for reading. As root the tool runs as "nobody" for this.
    std::string program = test::ProjectBinary("tarvex-cli");
    std::vector<std::string> args = {"ports", "--sysfs-root", dir / "sys", "--dev-root",
                                     dir / "dev"};
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

    ScopedEnv env("TARVEX_EXTRA_PORTS", pty.slavePath().c_str());
    const ProgramResult r = test::RunProgram(program, args);
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_NE(r.out.find(pty.slavePath() + "  permission denied"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("(" + groupName + "): sudo usermod -aG " + groupName + " $USER"),
              std::string::npos)
        << r.out;
}

}  // namespace
}  // namespace tarvex

// tarvex-cli doctor on a fake sysfs whose device nodes lead to real pseudo-terminals, in a copy
// of the sample workspace: a port held by another process, an adapter with a slow latency
// timer, a broken catalogue file, and a port this user may not open.
#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "serial/SerialPort.h"
#include "support/FakeSysfs.h"
#include "support/JsonOutput.h"
#include "support/PtyPair.h"
#include "support/RecordingUi.h"
#include "support/RunProgram.h"
#include "support/ScopedEnv.h"
#include "support/TempDir.h"

namespace tarvex::test {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Strings = std::vector<std::string>;

// A child process that holds the slave side of `pty` open and locked, as another serial program
// would. It lets go of the master it inherited: a process holding the master plays the device.
class PortHolderProcess {
  public:
    explicit PortHolderProcess(const PtyPair& pty) {
        const std::string path = pty.slavePath();
        PipeEnds ready = MakePipe();
        pid_ = ::fork();
        if (pid_ == 0) {
            ::close(pty.master());
            RecordingUi ui;
            CSerialPort port(ui);
            const char ok = port.Open(path) ? '1' : '0';
            (void)::write(ready.write.get(), &ok, 1);
            for (;;) {
                ::pause();
            }
        }
        char ok = 0;
        EXPECT_EQ(::read(ready.read.get(), &ok, 1), 1);
        EXPECT_EQ(ok, '1') << "the holder could not open " << path;
    }
    ~PortHolderProcess() {
        ::kill(pid_, SIGKILL);
        int status = 0;
        ::waitpid(pid_, &status, 0);
    }
    pid_t pid() const { return pid_; }

  private:
    pid_t pid_ = -1;
};

const nlohmann::json* FindingFor(const nlohmann::json& report, const std::string& subject,
                                 const std::string& level, const std::string& text) {
    for (const nlohmann::json& f : report["findings"]) {
        if (f["subject"] == subject && f["level"] == level &&
            f["text"].get<std::string>().find(text) != std::string::npos) {
            return &f;
        }
    }
    ADD_FAILURE() << "no " << level << " for " << subject << " saying \"" << text << "\" in\n"
                  << report.dump(2);
    return nullptr;
}

class DoctorCommand : public ::testing::Test {
  protected:
    void SetUp() override {
        fs::copy(std::string(TARVEX_BINARY_DIR) + "/sample-workspace", ws.path(),
                 fs::copy_options::recursive | fs::copy_options::overwrite_existing);
    }
    ProgramResult Doctor(Strings more = {}) const {
        Strings args = {"doctor", "--sysfs-root", sys.sysfs(), "--dev-root", sys.dev()};
        args.insert(args.end(), more.begin(), more.end());
        return RunProgram(ProjectBinary("tarvex-cli"), args, 20s, ws.path());
    }

    TempDir ws;
    FakeSysfs sys;
    ScopedEnv noExtraPorts{"TARVEX_EXTRA_PORTS", nullptr};
};

TEST_F(DoctorCommand, AllWellIsOkWithExitStatusZero) {
    PtyPair pty;
    sys.AddPnpPort("ttyS4", "00:05", pty.slavePath());
    const ProgramResult r = Doctor();
    EXPECT_EQ(r.exitStatus, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("  ok       " + sys.dev() +
                         "/ttyS4: present, opens for reading and "
                         "writing"),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("  ok       Pxx/H1.CFG: read without errors"), std::string::npos);
    EXPECT_NE(r.out.find("Result: 0 problems"), std::string::npos) << r.out;
}

TEST_F(DoctorCommand, NamesTheHolderTheSlowAdapterAndTheBrokenCatalogueFile) {
    PtyPair usb;
    PtyPair held;
    const std::string usbDev = "devices/pci0000:00/usb1/1-1";
    sys.Attribute(usbDev, "idVendor", "0403");
    sys.Attribute(usbDev, "idProduct", "6001");
    sys.Bind(usbDev + "/1-1:1.0/ttyUSB0", "usb-serial", "ftdi_sio");
    sys.Attribute(usbDev + "/1-1:1.0/ttyUSB0", "latency_timer", "16");
    sys.AddTty("ttyUSB0", usbDev + "/1-1:1.0/ttyUSB0");
    sys.Node("ttyUSB0", usb.slavePath());
    sys.AddPnpPort("ttyS4", "00:05", held.slavePath());
    PortHolderProcess holder(held);
    ws.Write("Pxx/K3.CFG", "This is not a configuration file.\n[EOF]\n");

    const nlohmann::json report = JsonOutput(Doctor({"--json"}), 1);
    EXPECT_EQ(report["problems"], 2) << report.dump(2);
    FindingFor(report, sys.dev() + "/ttyUSB0", "ok", "opens for reading and writing");
    // Every download sets a writable timer to 1 ms and puts it back: no warning, but what the
    // download will do.
    FindingFor(report, sys.dev() + "/ttyUSB0", "ok",
               "latency timer is 16 ms; a download sets it to 1 ms and puts it back after");
    if (::geteuid() != 0) {
        const std::string attribute =
            sys.sysfs() + "/devices/pci0000:00/usb1/1-1/1-1:1.0/ttyUSB0/latency_timer";
        ASSERT_EQ(::chmod(attribute.c_str(), 0444), 0) << attribute;
        const nlohmann::json locked = JsonOutput(Doctor({"--json"}), 1);
        if (const nlohmann::json* slow =
                FindingFor(locked, sys.dev() + "/ttyUSB0", "warning",
                           "latency timer is 16 ms and this user cannot set it to 1 ms")) {
            EXPECT_EQ((*slow)["fix"], "echo 1 | sudo tee " + sys.sysfs() +
                                          "/class/tty/ttyUSB0/device/latency_timer");
        }
    }
    // An adapter without a USB serial number: its by-id name is no fixture's name.
    FindingFor(report, sys.dev() + "/ttyUSB0", "warning", "has no USB serial number");
    // The holder among those that have it open (this test keeps the pty's slave open too).
    if (const nlohmann::json* busy = FindingFor(report, sys.dev() + "/ttyS4", "problem",
                                                "busy: held by tarvex_app_test (pid ")) {
        EXPECT_NE(
            (*busy)["text"].get<std::string>().find("(pid " + std::to_string(holder.pid()) + ")"),
            std::string::npos);
    }
    FindingFor(report, "Pxx/K3.CFG", "problem", "holds no version record");
    FindingFor(report, "Pxx/H1.CFG", "ok", "read without errors");
    FindingFor(report, "Vxx/K3.CFG", "ok", "read without errors");
}

TEST_F(DoctorCommand, ChecksTheSavedPortAndBothContainers) {
    PtyPair pty;
    sys.AddPnpPort("ttyS4", "00:05", pty.slavePath());
    const std::string link = ws / "by-path-link";
    fs::create_symlink(pty.slavePath(), link);
    {
        SCOPED_TRACE("a saved link to a live device; dnld.sv names a container that is gone");
        ws.Write("dnld.sv", "COM PORT:" + link + "\nPRODUCT NAME:H1\nBIN FILE PATH:" +
                                (ws / "project/Gone.bin") + "\n[EOF]");
        const nlohmann::json report = JsonOutput(Doctor({"--json"}), 1);
        EXPECT_EQ(report["problems"], 1) << report.dump(2);
        FindingFor(report, link, "ok", "opens for reading and writing");
        FindingFor(report, "project/H1.bin", "ok", "valid container, product code 17");
        FindingFor(report, "project/Gone.bin", "problem", "the container named in dnld.sv is not");
    }
    {
        SCOPED_TRACE("no port saved; the project's container is gone");
        ws.Write("dnld.sv", "SLAVE ID:1\n[EOF]");
        fs::remove(ws / "project/H1.bin");
        const nlohmann::json report = JsonOutput(Doctor({"--json"}), 1);
        if (const nlohmann::json* none = FindingFor(report, "-", "warning", "saves no port")) {
            EXPECT_EQ((*none)["fix"],
                      "name the port with --port; choose one of the ports present: " + sys.dev() +
                          "/ttyS4");
        }
        FindingFor(report, "project/H1.bin", "problem", "Bin file does not exist!");
    }
}

// Runs the command as an unprivileged user: "nobody" in a forked child when the tests run as
// root (as CI does), this user otherwise.
ProgramResult RunUnprivileged(const Strings& args) {
    PipeEnds out = MakePipe();
    const std::string program = ProjectBinary("tarvex-cli");
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(out.write.get(), STDOUT_FILENO);
        const int null = ::open("/dev/null", O_RDWR);
        ::dup2(null, STDIN_FILENO);
        ::dup2(null, STDERR_FILENO);
        if (::chdir("/") != 0) {
            ::_exit(125);
        }
        if (::geteuid() == 0 &&
            (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0)) {
            ::_exit(126);
        }
        std::vector<char*> argv{const_cast<char*>(program.c_str())};
        for (const std::string& a : args) {
            argv.push_back(const_cast<char*>(a.c_str()));
        }
        argv.push_back(nullptr);
        ::execv(program.c_str(), argv.data());
        ::_exit(127);
    }
    out.write = UniqueFd();
    ProgramResult r;
    char buf[4096];
    for (ssize_t n; (n = ::read(out.read.get(), buf, sizeof buf)) > 0;) {
        r.out.append(buf, static_cast<std::size_t>(n));
    }
    r.exitStatus = ExitStatusWithin(pid, 20s).value_or(-1);
    return r;
}

TEST_F(DoctorCommand, PermissionDeniedGivesOwnerGroupModeAndTheFix) {
    PtyPair pty;
    // A pseudo-terminal slave belongs to its owner and the tty group (or root), mode 0620:
    // nobody else may open it for reading.
    ASSERT_EQ(::chmod(pty.slavePath().c_str(), ::geteuid() == 0 ? 0620 : 0), 0);
    struct stat st {};
    ASSERT_EQ(::stat(pty.slavePath().c_str(), &st), 0);
    const ProgramResult r = RunUnprivileged(
        {"doctor", "--json", "--port", pty.slavePath(), "--sysfs-root", sys.sysfs()});
    const nlohmann::json report = JsonOutput(r, 1);
    const nlohmann::json* denied =
        FindingFor(report, pty.slavePath(), "problem", "permission denied (");
    ASSERT_NE(denied, nullptr);
    const std::string text = (*denied)["text"];
    const std::string fix = (*denied)["fix"];
    char mode[8];
    std::snprintf(mode, sizeof mode, "%04o", st.st_mode & 07777U);
    EXPECT_NE(text.find(std::string(" ") + mode), std::string::npos) << text;
    EXPECT_EQ(fix.find("usermod -aG root"), std::string::npos) << "never advise joining root";
    if (st.st_gid == 0) {
        EXPECT_NE(fix.find("sudo chgrp dialout " + pty.slavePath()), std::string::npos) << fix;
    } else {
        const group* owner = ::getgrgid(st.st_gid);
        ASSERT_NE(owner, nullptr);
        EXPECT_NE(text.find(std::string(":") + owner->gr_name), std::string::npos) << text;
        EXPECT_NE(fix.find(std::string("usermod -aG ") + owner->gr_name), std::string::npos) << fix;
    }
    EXPECT_NE(fix.find("a group change needs a new login"), std::string::npos) << fix;
}

}  // namespace
}  // namespace tarvex::test

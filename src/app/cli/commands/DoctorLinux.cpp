// What a Linux machine puts between the tool and a port: device permissions and the group
// that grants them, the holders of a busy port found in /proc, ModemManager, brltty, the USB
// adapter's latency timer in sysfs.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "app/cli/commands/Doctor.h"
#include "app/cli/commands/PortNames.h"
#include "platform/Files.h"
#include "serial/LowLatency.h"
#include "serial/PortAccess.h"
#include "serial/PortProbe.h"

namespace tarvex::cli::doctor {
namespace {

std::string Why(int error) {
    return std::strerror(error);
}

class LinuxChecks final : public PlatformChecks {
  public:
    LinuxChecks(const Options& options, FindingSink& sink, std::string appDir)
        : options_(options), sink_(sink), appDir_(std::move(appDir)) {
        probe_ = ProbeOptionsFromEnvironment();
        if (!options.sysfsRoot.empty()) {
            probe_.sysfsRoot = options.sysfsRoot;
        }
        if (!options.devRoot.empty()) {
            probe_.devRoot = options.devRoot;
        }
        services_.sysfsRoot = probe_.sysfsRoot;
        probe_.findHolders = true;
    }

    ProbeOptions Probe() const override { return probe_; }

    std::optional<PortInfo> ExamineUnlisted(const std::string& device) override {
        if (!platform::FileExists(device) && !PathExists(device)) {
            return std::nullopt;
        }
        // A device the probe does not list (no sysfs entry): try it all the same.
        ProbeOptions probe = probe_;
        probe.extraPorts = {device};
        probe.sysfsRoot = platform::JoinPath(appDir_, ".no-sysfs-here");
        const std::vector<PortInfo> one = ProbePorts(probe);
        if (one.empty()) {
            return std::nullopt;
        }
        return one.front();
    }

    std::string NoPortText() const override {
        return "no serial port found: is the adapter plugged in? (dmesg | tail shows what the "
               "kernel made of it)";
    }

    void CheckPort(const PortInfo& p) override {
        if (p.opens) {
            sink_.Add("port", p.path, Level::Ok, "present, opens for reading and writing");
        } else if (p.error == SerialError::PermissionDenied) {
            const PortAccess access = ExaminePortAccess(p.path);
            std::string fix = access.fixCommand;
            if (!fix.empty() && access.needsNewLogin) {
                fix += fix.rfind("newgrp", 0) == 0
                           ? " (or log out and in again)"
                           : "; then log out and in again: a group change needs a new login";
            }
            std::string text = PermissionAdvice(p.path, access);
            text = text.substr(
                0, text.find("): ") == std::string::npos ? text.size() : text.find("): ") + 1);
            sink_.Add("port", p.path, Level::Problem, text.empty() ? "permission denied" : text,
                      fix);
        } else if (p.error == SerialError::Busy) {
            const std::vector<PortHolder> holders = FindPortHolders(p.path);
            std::string fix = "end that program or choose another port";
            if (!holders.empty()) {
                fix = "end " +
                      (holders.front().command.empty() ? std::string("it")
                                                       : holders.front().command) +
                      " (kill " + std::to_string(holders.front().pid) + ") or choose another port";
            }
            sink_.Add("port", p.path, Level::Problem, "busy: " + HolderText(p.path, holders), fix);
        } else {
            sink_.Add("port", p.path, Level::Problem,
                      "does not open: " + std::string(SerialErrorText(p.error)));
        }
        if (const std::string warning = UnstableNameWarning(p, probe_.devRoot); !warning.empty()) {
            sink_.Add("port", p.path, Level::Warning, warning,
                      "name the fixture's port by its /dev/serial/by-path name");
        }
        CheckServicesFor(p);
    }

    void CheckServicesFor(const PortInfo& p) {
        const std::string tty = p.fromEnvironment ? std::string() : BaseName(p.path);
        const LineServices s = ExamineLineServices(p.path, tty, services_);
        modemManagerRunning_ = s.modemManagerRunning;
        brlttyInstalled_ = s.brlttyInstalled;
        ruleInstalled_ = s.ruleInstalled;
        const bool usb = p.usbVendorId.has_value();
        usbSeen_ = usbSeen_ || usb;
        ch34xSeen_ = ch34xSeen_ || (usb && *p.usbVendorId == 0x1a86);
        if (s.modemManagerRunning && usb) {
            if (s.modemManagerIgnores.value_or(false)) {
                sink_.Add("port", p.path, Level::Ok, "ModemManager is told to leave it alone");
            } else {
                sink_.Add(
                    "port", p.path, Level::Warning,
                    "ModemManager is running and not told to ignore this adapter: it may send "
                    "AT commands to it and hold it for seconds after it appears",
                    s.ruleInstalled ? "sudo udevadm control --reload && sudo udevadm trigger "
                                      "(the rule is installed but not applied), then plug the "
                                      "adapter in again"
                                    : "install the tarvex package (its udev rule "
                                      "60-tarvex.rules sets ID_MM_DEVICE_IGNORE), or: sudo "
                                      "systemctl stop ModemManager");
            }
        }
        if (s.latencyTimerMs) {
            const std::string timer = std::to_string(*s.latencyTimerMs) + " ms";
            const std::string low = std::to_string(kLowLatencyTimerMs) + " ms";
            // A download sets the timer itself where this user may write it, and puts it back
            // after: a slow timer is then nothing to fix.
            if (*s.latencyTimerMs > 4 && ::access(s.latencyTimerPath.c_str(), W_OK) == 0) {
                sink_.Add("port", p.path, Level::Ok,
                          "the adapter's latency timer is " + timer + "; a download sets it to " +
                              low + " and puts it back after");
            } else if (*s.latencyTimerMs > 4) {
                sink_.Add("port", p.path, Level::Warning,
                          "the adapter's latency timer is " + timer +
                              " and this user cannot set it to " + low +
                              ": every reply of the panel waits that long in the adapter",
                          "echo " + std::to_string(kLowLatencyTimerMs) + " | sudo tee " +
                              s.latencyTimerPath);
            } else {
                sink_.Add("port", p.path, Level::Ok,
                          "latency timer " + std::to_string(*s.latencyTimerMs) + " ms");
            }
        }
    }

    static std::string BaseName(const std::string& path) {
        const std::size_t slash = path.rfind('/');
        return slash == std::string::npos ? path : path.substr(slash + 1);
    }

    // --- System -------------------------------------------------------------------------------
    void CheckSystem(bool portsPresent) override {
        if (options_.port || !portsPresent) {
            // The services are looked at once even when no port was examined.
            const LineServices s = ExamineLineServices("", "", services_);
            modemManagerRunning_ = s.modemManagerRunning;
            brlttyInstalled_ = s.brlttyInstalled;
            ruleInstalled_ = s.ruleInstalled;
        }
        sink_.Add(
            "system", "ModemManager",
            modemManagerRunning_ && !ruleInstalled_ ? Level::Warning : Level::Ok,
            modemManagerRunning_ ? (ruleInstalled_ ? "running; the tarvex udev rule keeps it "
                                                     "off USB serial adapters"
                                                   : "running, and no tarvex udev rule keeps it "
                                                     "off USB serial adapters")
                                 : "not running",
            modemManagerRunning_ && !ruleInstalled_
                ? "install the tarvex package (udev rule 60-tarvex.rules), or: sudo systemctl "
                  "disable --now ModemManager"
                : "");
        if (brlttyInstalled_) {
            sink_.Add(
                "system", "brltty", usbSeen_ || ch34xSeen_ ? Level::Warning : Level::Ok,
                std::string("installed: it claims CH340/CH341 USB serial adapters (1a86:7523) "
                            "for braille displays, and the port vanishes") +
                    (ch34xSeen_ ? "; such an adapter is plugged in" : ""),
                usbSeen_ || ch34xSeen_ ? "sudo apt-get remove brltty (unless a braille display "
                                         "is used)"
                                       : "");
        } else {
            sink_.Add("system", "brltty", Level::Ok, "not installed");
        }
    }

  private:
    Options options_;
    FindingSink& sink_;
    std::string appDir_;
    ProbeOptions probe_;
    LineServicesOptions services_;
    bool modemManagerRunning_ = false;
    bool brlttyInstalled_ = false;
    bool ruleInstalled_ = false;
    bool usbSeen_ = false;
    bool ch34xSeen_ = false;
};

}  // namespace

std::unique_ptr<PlatformChecks> MakePlatformChecks(const Options& options, FindingSink& sink,
                                                   const std::string& appDir) {
    return std::make_unique<LinuxChecks>(options, sink, appDir);
}

void AddPlatformOptions(CLI::App& command, Options& options) {
    command.add_option("--sysfs-root", options.sysfsRoot, "Root of sysfs (default /sys)");
    command.add_option("--dev-root", options.devRoot, "Folder of the device nodes (default /dev)");
}

std::string PlatformHelpText() {
    return "Looks at every serial port (present, read and write access for this user, busy and "
           "by whom, ModemManager, the USB adapter's latency timer), at brltty, and at the "
           "workspace in the current directory (DnldData.txt, every catalogue file in Pxx and "
           "Vxx, dnld.sv and the container it names).";
}

std::string ReadFailure(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return Why(errno);
    }
    struct stat st {};
    const bool folder = ::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode);
    ::close(fd);
    return folder ? "it is a folder" : "a read failed";
}

bool PathExists(const std::string& path) {
    return ::access(path.c_str(), F_OK) == 0;
}

bool IsAbsolutePath(const std::string& path) {
    return !path.empty() && path.front() == '/';
}

std::optional<std::string> FolderUnreadable(const std::string& path) {
    if (::access(path.c_str(), R_OK | X_OK) != 0) {
        return Why(errno);
    }
    return std::nullopt;
}

}  // namespace tarvex::cli::doctor

// tarvex-cli doctor [--port P] [--json]: one screen that answers "why can't I download?".
// Every port (or the one named), the services that get between the tool and a USB adapter,
// and the workspace in the current directory, each finding ok, warning or problem with the
// exact fix. Exit status 0 when nothing is a problem.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "app/cli/CliUserInterface.h"
#include "app/cli/Commands.h"
#include "catalogue/Catalogue.h"
#include "catalogue/CfgFile.h"
#include "download/DownloadContainer.h"
#include "hmi/DownloadSet.h"
#include "platform/Files.h"
#include "platform/Text.h"
#include "serial/PortAccess.h"
#include "serial/PortProbe.h"
#include "ui/DnldSettings.h"

namespace tarvex::cli {
namespace {

enum class Level { Ok, Warning, Problem };

struct Finding {
    std::string area;     // "port", "system", "workspace"
    std::string subject;  // a device path, a service, a file
    Level level = Level::Ok;
    std::string text;
    std::string fix;  // the command or step that fixes it; empty for none
};

struct DoctorOptions {
    std::optional<std::string> port;
    bool json = false;
    std::string sysfsRoot;
    std::string devRoot;
};

const char* LevelKey(Level level) {
    switch (level) {
        case Level::Ok:
            return "ok";
        case Level::Warning:
            return "warning";
        case Level::Problem:
            return "problem";
    }
    return "ok";
}

std::string Why(int error) {
    return std::strerror(error);
}

// Why a file or folder cannot be read, from the system's answer to opening it.
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

class Doctor {
  public:
    explicit Doctor(const DoctorOptions& options) : options_(options) {
        probe_ = ProbeOptionsFromEnvironment();
        if (!options.sysfsRoot.empty()) {
            probe_.sysfsRoot = options.sysfsRoot;
        }
        if (!options.devRoot.empty()) {
            probe_.devRoot = options.devRoot;
        }
        services_.sysfsRoot = probe_.sysfsRoot;
        appDir_ = platform::CurrentDirectory();
    }

    void Run() {
        ReadSettings();
        CheckPorts();
        CheckSystem();
        CheckWorkspace();
    }

    const std::vector<Finding>& Findings() const { return findings_; }
    const std::string& AppDir() const { return appDir_; }

  private:
    void Add(std::string area, std::string subject, Level level, std::string text,
             std::string fix = {}) {
        // Files of the workspace by their names in it.
        const std::string prefix = appDir_ + "/";
        if (area == "workspace" && subject.rfind(prefix, 0) == 0) {
            subject = subject.substr(prefix.size());
        }
        findings_.push_back(
            {std::move(area), std::move(subject), level, std::move(text), std::move(fix)});
    }
    std::string InApp(std::string_view name) const { return platform::JoinPath(appDir_, name); }

    void ReadSettings() {
        SetDefaultSettings(settings_);
        const std::string path = InApp(kSettingsFileName);
        if (const auto lines = platform::ReadTextLines(path)) {
            settingsRead_ = true;
            ApplySettingsLines(*lines, settings_);
        } else {
            settingsMissing_ = ::access(path.c_str(), F_OK) != 0;
            settingsError_ = ReadFailure(path);
        }
    }

    // --- Ports --------------------------------------------------------------------------------
    void CheckPorts() {
        ports_ = ProbePorts(probe_);
        if (options_.port) {
            const std::string device = DevicePathForPortName(*options_.port);
            const PortInfo* found = Find(device);
            if (found == nullptr) {
                PortInfo info;
                info.path = device;
                if (!platform::FileExists(device) && !NodeExists(device)) {
                    Add("port", device, Level::Problem, "not present", PresentList());
                    return;
                }
                // A device the probe does not list (no sysfs entry): try it all the same.
                probe_.extraPorts = {device};
                probe_.sysfsRoot = platform::JoinPath(appDir_, ".no-sysfs-here");
                const std::vector<PortInfo> one = ProbePorts(probe_);
                if (one.empty()) {
                    Add("port", device, Level::Problem, "not present", PresentList());
                    return;
                }
                CheckPort(one.front());
            } else {
                CheckPort(*found);
            }
        } else {
            if (ports_.empty()) {
                Add("port", "-", Level::Problem,
                    "no serial port found: is the adapter plugged in? (dmesg | tail shows what "
                    "the kernel made of it)");
            }
            for (const PortInfo& p : ports_) {
                CheckPort(p);
            }
            CheckSavedPort();
        }
    }

    static bool NodeExists(const std::string& path) { return ::access(path.c_str(), F_OK) == 0; }

    const PortInfo* Find(const std::string& device) const {
        for (const PortInfo& p : ports_) {
            if (p.path == device) {
                return &p;
            }
        }
        return nullptr;
    }

    std::string PresentList() const {
        std::string list;
        for (const PortInfo& p : ports_) {
            list += (list.empty() ? "" : ", ") + p.path;
        }
        return list.empty() ? "plug the adapter in; no serial port is present"
                            : "choose one of the ports present: " + list;
    }

    void CheckPort(const PortInfo& p) {
        if (p.opens) {
            Add("port", p.path, Level::Ok, "present, opens for reading and writing");
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
            Add("port", p.path, Level::Problem, text.empty() ? "permission denied" : text, fix);
        } else if (p.error == SerialError::Busy) {
            const std::vector<PortHolder> holders = FindPortHolders(p.path);
            std::string fix = "end that program or choose another port";
            if (!holders.empty()) {
                fix = "end " +
                      (holders.front().command.empty() ? std::string("it")
                                                       : holders.front().command) +
                      " (kill " + std::to_string(holders.front().pid) + ") or choose another port";
            }
            Add("port", p.path, Level::Problem, "busy: " + HolderText(p.path, holders), fix);
        } else {
            Add("port", p.path, Level::Problem,
                "does not open: " + std::string(SerialErrorText(p.error)));
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
                Add("port", p.path, Level::Ok, "ModemManager is told to leave it alone");
            } else {
                Add("port", p.path, Level::Warning,
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
            if (*s.latencyTimerMs > 4) {
                Add("port", p.path, Level::Warning,
                    "the adapter's latency timer is " + std::to_string(*s.latencyTimerMs) +
                        " ms: every reply of the panel waits that long in the adapter",
                    "echo 1 | sudo tee " + s.latencyTimerPath);
            } else {
                Add("port", p.path, Level::Ok,
                    "latency timer " + std::to_string(*s.latencyTimerMs) + " ms");
            }
        }
    }

    static std::string BaseName(const std::string& path) {
        const std::size_t slash = path.rfind('/');
        return slash == std::string::npos ? path : path.substr(slash + 1);
    }

    void CheckSavedPort() {
        if (!settingsRead_) {
            return;
        }
        const std::string& saved = settings_.record.m_strComPort;
        const std::string device = DevicePathForPortName(saved);
        for (const PortInfo& p : ports_) {
            if (p.path == device || EqualsIgnoringCase(p.path, saved)) {
                return;
            }
        }
        Add("port", saved, Level::Problem,
            "the port saved in dnld.sv is not present: tarvex-cli download without --port "
            "refuses to start",
            "name the port with --port; " + PresentList());
    }

    // --- System -------------------------------------------------------------------------------
    void CheckSystem() {
        if (options_.port || ports_.empty()) {
            // The services are looked at once even when no port was examined.
            const LineServices s = ExamineLineServices("", "", services_);
            modemManagerRunning_ = s.modemManagerRunning;
            brlttyInstalled_ = s.brlttyInstalled;
            ruleInstalled_ = s.ruleInstalled;
        }
        Add("system", "ModemManager",
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
            Add("system", "brltty", usbSeen_ || ch34xSeen_ ? Level::Warning : Level::Ok,
                std::string("installed: it claims CH340/CH341 USB serial adapters (1a86:7523) "
                            "for braille displays, and the port vanishes") +
                    (ch34xSeen_ ? "; such an adapter is plugged in" : ""),
                usbSeen_ || ch34xSeen_ ? "sudo apt-get remove brltty (unless a braille display "
                                         "is used)"
                                       : "");
        } else {
            Add("system", "brltty", Level::Ok, "not installed");
        }
    }

    // --- Workspace ----------------------------------------------------------------------------
    void CheckWorkspace() {
        CheckDownloadData();
        CheckCatalogue();
        CheckSettingsAndContainer();
    }

    void CheckDownloadData() {
        const std::string path = InApp(hmi::kDownloadDataFileName);
        const auto lines = platform::ReadTextLines(path);
        if (!lines) {
            Add("workspace", path, Level::Problem,
                "cannot be read (" + ReadFailure(path) +
                    "): the form starts with \"Download Data File not found!\"",
                "run the tool in the workspace folder (the one with Pxx, Vxx and DnldData.txt)");
            return;
        }
        const hmi::DownloadData data = hmi::ParseDownloadData(*lines);
        if (data.Product().empty()) {
            Add("workspace", path, Level::Problem, "names no product on its first line");
            return;
        }
        dataProduct_ = data.Product();
        std::string text = "product " + Printable(data.Product()) + ", project folder " +
                           Printable(data.BinFileDir()) + ", HMI type " + Printable(data.HmiType());
        Add("workspace", path, Level::Ok, text);
        std::string dir = data.BinFileDir();
        if (!dir.empty() && dir.front() != '/') {
            dir = platform::JoinPath(platform::CurrentDirectory(), dir);
        }
        if (!dir.empty() && ::access(dir.c_str(), R_OK | X_OK) != 0) {
            Add("workspace", path, Level::Warning,
                "its project folder " + Printable(data.BinFileDir()) + " cannot be read (" +
                    Why(errno) + ")");
        }
    }

    void CheckCatalogue() {
        const std::string pxx = FindCatalogueFolder(appDir_, kProductFolder);
        const std::string vxx = FindCatalogueFolder(appDir_, kBootLoaderFolder);
        bool opened = false;
        (void)platform::ListEntriesWithExtension(pxx, "cfg", &opened);
        if (!opened) {
            Add("workspace", pxx, Level::Problem,
                "the product folder cannot be read (" + ReadFailure(pxx) +
                    "): the product list stays empty",
                "run the tool in the workspace folder (the one with Pxx, Vxx and DnldData.txt)");
            return;
        }
        const ProductScan scan = ScanProductFolder(pxx);
        if (scan.directoriesSkipped > 0) {
            Add("workspace", pxx, Level::Warning,
                std::to_string(scan.directoriesSkipped) +
                    " folder(s) named like product files: the form says \"dir found\" for each");
        }
        if (scan.products.empty()) {
            Add("workspace", pxx, Level::Problem, "holds no product file (*.CFG)");
            return;
        }
        bool dataProductFound = dataProduct_.empty();
        for (const ScannedProduct& product : scan.products) {
            dataProductFound = dataProductFound || product.name == dataProduct_;
            CheckProduct(platform::JoinPath(pxx, product.fileName), vxx, product.name);
        }
        if (!dataProductFound) {
            Add("workspace", InApp(hmi::kDownloadDataFileName), Level::Warning,
                "its product " + Printable(dataProduct_) + " has no file in Pxx");
        }
    }

    void CheckProduct(const std::string& cfgPath, const std::string& vxx, const std::string& name) {
        std::vector<std::string> faults;
        std::vector<std::string> warnings;
        std::vector<CCFGFileDet> records;
        const CatalogueFileRead read = ReadCfgFile(cfgPath, records);
        const CCFGFileDet* record = nullptr;
        if (!read) {
            faults.push_back("cannot be read (" + ReadFailure(cfgPath) + ")");
        } else if (records.empty()) {
            faults.push_back("holds no version record (no NOOFVERSIONS line with a count above 0)");
        } else {
            record = &records.front();
            if (!record->m_arrProductCode.empty()) {
                productCodes_.emplace_back(name, record->m_arrProductCode.front() & 0xFFFFU);
            }
            if (record->m_arrVersionName.empty()) {
                faults.push_back("no version has a VERSIONNAME");
            } else if (static_cast<std::int64_t>(record->m_arrVersionName.size()) <
                       record->m_nNoOfVersions) {
                warnings.push_back("NOOFVERSIONS is " + std::to_string(record->m_nNoOfVersions) +
                                   " but " + std::to_string(record->m_arrVersionName.size()) +
                                   " version(s) are named");
            }
            if (record->m_arrProductCode.empty()) {
                faults.push_back("no PRODUCTCODE: no container can match the product");
            }
            for (std::size_t v = 0; v < record->m_arrVersionName.size(); ++v) {
                if (v >= record->m_arrDwnldFrameSize.size() ||
                    record->m_arrDwnldFrameSize[v] == 0) {
                    warnings.push_back("version " + Printable(record->m_arrVersionName[v]) +
                                       " has no DWNLDFRAMESIZE: a download with it is refused");
                }
            }
        }
        Report(cfgPath, faults, warnings,
               record != nullptr ? std::to_string(record->m_arrVersionName.size()) +
                                       " version(s), product code " +
                                       (record->m_arrProductCode.empty()
                                            ? std::string("-")
                                            : std::to_string(record->m_arrProductCode.front()))
                                 : std::string());

        // The bootloader-version file of the same product.
        std::string vPath = platform::JoinPath(vxx, name + kCatalogueFileSuffix);
        if (auto found = platform::FindFileIgnoringCase(vxx, name + kCatalogueFileSuffix)) {
            vPath = *found;
        }
        faults.clear();
        warnings.clear();
        CBootLoaderDetails bl;
        if (!platform::ReadTextLines(vPath)) {
            faults.push_back("cannot be read (" + ReadFailure(vPath) +
                             "): the product offers no hardware version");
        } else {
            ReadBootLoaderFile(vPath, bl);
            if (bl.m_strName != name) {
                faults.push_back("its first line names \"" + Printable(bl.m_strName) +
                                 "\", not \"" + Printable(name) +
                                 "\": the product offers no hardware version");
            }
            if (bl.m_arrBLVersion.empty()) {
                faults.push_back(
                    "holds no complete version (version, firmware list, format "
                    "list: three lines each)");
            } else if (bl.m_arrBLVersion.size() != bl.m_nNoOfBLVersions) {
                warnings.push_back("announces " + std::to_string(bl.m_nNoOfBLVersions) +
                                   " version(s), holds " +
                                   std::to_string(bl.m_arrBLVersion.size()));
            }
            for (const std::string& version : bl.m_arrBLVersion) {
                if (record != nullptr &&
                    std::find(record->m_arrVersionName.begin(), record->m_arrVersionName.end(),
                              version) == record->m_arrVersionName.end()) {
                    warnings.push_back("hardware version " + Printable(version) +
                                       " has no section in " + cfgPath);
                }
            }
        }
        Report(vPath, faults, warnings,
               std::to_string(bl.m_arrBLVersion.size()) + " hardware version(s)");
    }

    void Report(const std::string& path, const std::vector<std::string>& faults,
                const std::vector<std::string>& warnings, const std::string& okText) {
        for (const std::string& f : faults) {
            Add("workspace", path, Level::Problem, f);
        }
        for (const std::string& w : warnings) {
            Add("workspace", path, Level::Warning, w);
        }
        if (faults.empty() && warnings.empty()) {
            Add("workspace", path, Level::Ok, "read without errors: " + okText);
        }
    }

    void CheckSettingsAndContainer() {
        const std::string path = InApp(kSettingsFileName);
        if (!settingsRead_) {
            if (settingsMissing_) {
                Add("workspace", path, Level::Ok,
                    "not written yet: the form starts with its defaults (port COM1) and writes "
                    "it at the first download");
            } else {
                Add("workspace", path, Level::Problem, "cannot be read (" + settingsError_ + ")");
            }
            return;
        }
        Add("workspace", path, Level::Ok,
            "port " + Printable(settings_.record.m_strComPort) + ", product " +
                Printable(settings_.productName) + ", file " + Printable(settings_.binFilePath));
        if (settings_.binFilePath.empty()) {
            return;
        }
        CDownloadInfo info;
        std::vector<std::string> names;
        std::vector<std::uint32_t> sizes;
        ContainerReport report;
        const bool valid =
            CheckDownloadContainer(settings_.binFilePath, info, names, sizes, &report);
        if (!valid) {
            std::string text = std::string(ContainerFaultText(report.fault));
            if (!report.detail.empty()) {
                text += " (" + report.detail + ")";
            }
            Add("workspace", settings_.binFilePath, Level::Problem,
                "the container named in dnld.sv is not valid: " + text,
                "tarvex-cli inspect " + settings_.binFilePath + " shows every part");
            return;
        }
        Add("workspace", settings_.binFilePath, Level::Ok,
            "valid container, product code " + std::to_string(report.productCode));
        // The download compares it with the saved product's code before the port is opened.
        for (const auto& [product, code] : productCodes_) {
            if (product == settings_.productName && static_cast<int>(code) != report.productCode) {
                Add("workspace", settings_.binFilePath, Level::Problem,
                    "built for product code " + std::to_string(report.productCode) +
                        ", but the saved product " + Printable(product) + " has code " +
                        std::to_string(code) + ": the download refuses it",
                    "choose the container built for " + Printable(product) +
                        " (Browse, or --file), or the product it was built for");
            }
        }
    }

    DoctorOptions options_;
    ProbeOptions probe_;
    LineServicesOptions services_;
    std::string appDir_;
    std::vector<Finding> findings_;
    std::vector<PortInfo> ports_;
    SettingsFields settings_;
    bool settingsRead_ = false;
    bool settingsMissing_ = false;
    std::string settingsError_;
    std::string dataProduct_;
    std::vector<std::pair<std::string, std::uint32_t>> productCodes_;  // first record's code
    bool modemManagerRunning_ = false;
    bool brlttyInstalled_ = false;
    bool ruleInstalled_ = false;
    bool usbSeen_ = false;
    bool ch34xSeen_ = false;
};

void PrintText(const std::vector<Finding>& findings, const std::string& appDir) {
    std::string area;
    int problems = 0;
    int warnings = 0;
    for (const Finding& f : findings) {
        if (f.area != area) {
            area = f.area;
            std::cout << (area == "port"     ? "Ports"
                          : area == "system" ? "System"
                                             : "Workspace " + Printable(appDir))
                      << '\n';
        }
        char level[16];
        std::snprintf(level, sizeof level, "  %-8s ", LevelKey(f.level));
        std::cout << level << Printable(f.subject) << ": " << f.text << '\n';
        if (!f.fix.empty()) {
            std::cout << "           fix: " << f.fix << '\n';
        }
        problems += f.level == Level::Problem ? 1 : 0;
        warnings += f.level == Level::Warning ? 1 : 0;
    }
    std::cout << "Result: " << problems << " problem" << (problems == 1 ? "" : "s") << ", "
              << warnings << " warning" << (warnings == 1 ? "" : "s") << '\n';
}

nlohmann::json ToJson(const std::vector<Finding>& findings) {
    nlohmann::json list = nlohmann::json::array();
    int problems = 0;
    int warnings = 0;
    for (const Finding& f : findings) {
        list.push_back({{"area", f.area},
                        {"subject", f.subject},
                        {"level", LevelKey(f.level)},
                        {"text", f.text},
                        {"fix", f.fix.empty() ? nlohmann::json(nullptr) : nlohmann::json(f.fix)}});
        problems += f.level == Level::Problem ? 1 : 0;
        warnings += f.level == Level::Warning ? 1 : 0;
    }
    return {{"findings", list}, {"problems", problems}, {"warnings", warnings}};
}

}  // namespace

void RegisterDoctorCommand(CLI::App& app, int& exitStatus) {
    auto options = std::make_shared<DoctorOptions>();
    auto* cmd = app.add_subcommand("doctor", "Find out why a download cannot work here");
    cmd->add_option("--port", options->port,
                    "Look only at this port (a device path or COMn); default: every port");
    cmd->add_flag("--json", options->json,
                  "Print one JSON object: findings (area, subject, level, text, fix), problems, "
                  "warnings");
    cmd->add_option("--sysfs-root", options->sysfsRoot, "Root of sysfs (default /sys)");
    cmd->add_option("--dev-root", options->devRoot, "Folder of the device nodes (default /dev)");
    cmd->footer(
        "Looks at every serial port (present, read and write access for this user, busy and "
        "by whom, ModemManager, the USB adapter's latency timer), at brltty, and at the "
        "workspace in the current directory (DnldData.txt, every catalogue file in Pxx and "
        "Vxx, dnld.sv and the container it names). Each finding is ok, warning or problem, "
        "with the command that fixes it.\n\n"
        "Exit status: 0 nothing is a problem; 1 at least one problem; 2 usage error.");
    cmd->callback([options, &exitStatus] {
        Doctor doctor(*options);
        doctor.Run();
        if (options->json) {
            std::cout << ToJson(doctor.Findings())
                             .dump(2, ' ', false, nlohmann::json::error_handler_t::replace)
                      << '\n';
        } else {
            PrintText(doctor.Findings(), doctor.AppDir());
        }
        std::cout.flush();
        bool problem = false;
        for (const Finding& f : doctor.Findings()) {
            problem = problem || f.level == Level::Problem;
        }
        exitStatus = problem ? kExitFailure : kExitOk;
    });
}

}  // namespace tarvex::cli

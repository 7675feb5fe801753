// tarvex-cli doctor [--port P] [--json]: one screen that answers "why can't I download?".
// Every port (or the one named), what the system puts between the tool and a port, and the
// workspace in the current directory, each finding ok, warning or problem with the exact fix.
// Exit status 0 when nothing is a problem. The checks of ports and of the system are the
// platform's (DoctorLinux.cpp, DoctorWin32.cpp); those of the workspace are shared.
#include "app/cli/commands/Doctor.h"

#include <algorithm>
#include <cstdio>
#include <iostream>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "app/cli/Commands.h"
#include "app/cli/console/CliUserInterface.h"
#include "catalogue/Catalogue.h"
#include "catalogue/CfgFile.h"
#include "download/DownloadContainer.h"
#include "hmi/DownloadSet.h"
#include "platform/Files.h"
#include "platform/Text.h"
#include "serial/PortProbe.h"
#include "serial/SerialPort.h"
#include "ui/DnldSettings.h"

namespace tarvex::cli {
namespace doctor {
namespace {

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

struct Finding {
    std::string area;
    std::string subject;
    Level level = Level::Ok;
    std::string text;
    std::string fix;
};

class Doctor final : public FindingSink {
  public:
    explicit Doctor(const Options& options)
        : options_(options),
          appDir_(platform::CurrentDirectory()),
          platform_(MakePlatformChecks(options, *this, appDir_)) {}

    void Run() {
        ReadSettings();
        CheckPorts();
        platform_->CheckSystem(!ports_.empty());
        CheckWorkspace();
    }

    const std::vector<Finding>& Findings() const { return findings_; }
    const std::string& AppDir() const { return appDir_; }

    void Add(std::string area, std::string subject, Level level, std::string text,
             std::string fix = {}) override {
        // Files of the workspace by their names in it.
        const std::string prefix = platform::JoinPath(appDir_, "");
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
            SettingsFields fromFile;
            ApplySettingsLines(*lines, fromFile);
            savedPortInFile_ = !fromFile.record.m_strComPort.empty();
            ApplySettingsLines(*lines, settings_);
        } else {
            settingsMissing_ = !PathExists(path);
            settingsError_ = ReadFailure(path);
        }
    }

    // --- Ports --------------------------------------------------------------------------------
    void CheckPorts() {
        ports_ = ProbePorts(platform_->Probe());
        if (options_.port) {
            const std::string device = DevicePathForPortName(*options_.port);
            if (const PortInfo* found = Find(device)) {
                platform_->CheckPort(*found);
            } else if (const std::optional<PortInfo> one = platform_->ExamineUnlisted(device)) {
                platform_->CheckPort(*one);
            } else {
                Add("port", device, Level::Problem, "not present", PresentList());
            }
        } else {
            if (ports_.empty()) {
                Add("port", "-", Level::Problem, platform_->NoPortText());
            }
            for (const PortInfo& p : ports_) {
                platform_->CheckPort(p);
            }
            CheckSavedPort();
        }
    }

    const PortInfo* Find(const std::string& device) const {
        for (const PortInfo& p : ports_) {
            // A port the probe lists by its name (COM7) is opened by its device path.
            if (p.path == device || DevicePathForPortName(p.path) == device) {
                return &p;
            }
        }
        return nullptr;
    }

    // Only ports that open are advised: one flagged above (permission denied, busy) would fail
    // the same way.
    std::string PresentList() const {
        std::string list;
        for (const PortInfo& p : ports_) {
            if (p.opens) {
                list += (list.empty() ? "" : ", ") + p.path;
            }
        }
        if (!list.empty()) {
            return "choose one of the ports present: " + list;
        }
        return ports_.empty() ? "plug the adapter in; no serial port is present"
                              : "no port present can be used now: mend the ports above first";
    }

    void CheckSavedPort() {
        if (!settingsRead_) {
            return;
        }
        const std::string& saved = settings_.record.m_strComPort;
        if (!savedPortInFile_) {
            Add("port", "-", Level::Warning,
                "dnld.sv saves no port: tarvex-cli download without --port refuses to start",
                "name the port with --port; " + PresentList());
            return;
        }
        const std::string device = DevicePathForPortName(saved);
        for (const PortInfo& p : ports_) {
            if (p.path == device || EqualsIgnoringCase(p.path, saved)) {
                return;
            }
        }
        // A link the probe does not list (/dev/serial/by-path, a udev rule's) is taken when
        // it opens, as the download takes it.
        if (const std::optional<PortInfo> one = platform_->ExamineUnlisted(device)) {
            platform_->CheckPort(*one);
            return;
        }
        Add("port", saved, Level::Problem,
            "the port saved in dnld.sv is not present: tarvex-cli download without --port "
            "refuses to start",
            "name the port with --port; " + PresentList());
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
        // The form starts with this container in its File to Send field.
        dataContainer_ = data.BinFileDir() + "H1.bin";
        std::string text = "product " + Printable(data.Product()) + ", project folder " +
                           Printable(data.BinFileDir()) + ", HMI type " + Printable(data.HmiType());
        Add("workspace", path, Level::Ok, text);
        std::string dir = data.BinFileDir();
        if (!dir.empty() && !IsAbsolutePath(dir)) {
            dir = platform::JoinPath(platform::CurrentDirectory(), dir);
        }
        if (const std::optional<std::string> why =
                dir.empty() ? std::nullopt : FolderUnreadable(dir)) {
            Add("workspace", path, Level::Warning,
                "its project folder " + Printable(data.BinFileDir()) + " cannot be read (" + *why +
                    ")");
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
                    "it at the first download; until then tarvex-cli download needs --port");
            } else {
                Add("workspace", path, Level::Problem, "cannot be read (" + settingsError_ + ")");
            }
        } else {
            Add("workspace", path, Level::Ok,
                "port " + Printable(settings_.record.m_strComPort) + ", product " +
                    Printable(settings_.productName) + ", file " +
                    Printable(settings_.binFilePath));
        }
        if (!dataContainer_.empty()) {
            CheckContainer(dataContainer_, "the container of DnldData.txt's project folder",
                           dataProduct_);
        }
        if (settingsRead_ && !settings_.binFilePath.empty() &&
            settings_.binFilePath != dataContainer_) {
            CheckContainer(settings_.binFilePath, "the container named in dnld.sv",
                           settings_.productName);
        }
    }

    void CheckContainer(const std::string& file, const std::string& what,
                        const std::string& product) {
        if (!PathExists(file)) {
            Add("workspace", file, Level::Problem,
                what +
                    " is not there: a download without --file says \"Bin file does not "
                    "exist!\"",
                "build it into the project folder, or name the container with --file");
            return;
        }
        CDownloadInfo info;
        std::vector<std::string> names;
        std::vector<std::uint32_t> sizes;
        ContainerReport report;
        const bool valid = CheckDownloadContainer(file, info, names, sizes, &report);
        if (!valid) {
            std::string text = std::string(ContainerFaultText(report.fault));
            if (!report.detail.empty()) {
                text += " (" + report.detail + ")";
            }
            Add("workspace", file, Level::Problem, what + " is not valid: " + text,
                "tarvex-cli inspect " + file + " shows every part");
            return;
        }
        Add("workspace", file, Level::Ok,
            "valid container, product code " + std::to_string(report.productCode));
        // The download compares it with the product's code before the port is opened.
        for (const auto& [name, code] : productCodes_) {
            if (name == product && static_cast<int>(code) != report.productCode) {
                Add("workspace", file, Level::Problem,
                    "built for product code " + std::to_string(report.productCode) +
                        ", but the product " + Printable(name) + " has code " +
                        std::to_string(code) + ": the download refuses it",
                    "choose the container built for " + Printable(name) +
                        " (Browse, or --file), or the product it was built for");
            }
        }
    }

    Options options_;
    std::string appDir_;
    std::unique_ptr<PlatformChecks> platform_;
    std::vector<Finding> findings_;
    std::vector<PortInfo> ports_;
    SettingsFields settings_;
    bool settingsRead_ = false;
    bool savedPortInFile_ = false;
    bool settingsMissing_ = false;
    std::string settingsError_;
    std::string dataProduct_;
    std::string dataContainer_;
    std::vector<std::pair<std::string, std::uint32_t>> productCodes_;  // first record's code
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
}  // namespace doctor

void RegisterDoctorCommand(CLI::App& app, int& exitStatus) {
    using namespace doctor;
    auto options = std::make_shared<Options>();
    auto* cmd = app.add_subcommand("doctor", "Find out why a download cannot work here");
    cmd->add_option("--port", options->port,
                    "Look only at this port (a device path or COMn); default: every port");
    cmd->add_flag("--json", options->json,
                  "Print one JSON object: findings (area, subject, level, text, fix), problems, "
                  "warnings");
    AddPlatformOptions(*cmd, *options);
    cmd->footer(PlatformHelpText() +
                " Each finding is ok, warning or problem, with the command that fixes it.\n\n"
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

#include "app/cli/commands/MultiPort.h"

#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <optional>
#include <thread>

#include "app/cli/Commands.h"
#include "app/cli/console/InterruptWatch.h"
#include "app/cli/console/PasswordSource.h"
#include "app/cli/console/StdinUnitIds.h"
#include "app/cli/output/StatusBoard.h"
#include "app/dashboard/DashboardServer.h"
#include "platform/ProcessPriority.h"
#include "platform/Text.h"
#include "production/BoardState.h"
#include "production/DashboardFeed.h"
#include "production/DownloadReport.h"
#include "production/JsonProgress.h"
#include "serial/PortProbe.h"

namespace tarvex::cli {

namespace fs = std::filesystem;

void AddMultiPortOptions(CLI::App& cmd, MultiPortOptions& o) {
    AddFormOptions(cmd, o.form);
    cmd.remove_option(cmd.get_option("--port"));
    cmd.add_option("--port", o.ports,
                   "A serial port to download to; repeat for every port (a device path, a "
                   "/dev/serial/by-id name, or COMn)")
        ->type_name("PORT")
        ->group("Ports");
    cmd.add_option("--ports-from", o.portsFrom, "Read the ports from FILE, one per line")
        ->type_name("FILE")
        ->group("Ports");
    cmd.add_flag("--all-usb", o.allUsb, "Every USB serial port present")->group("Ports");
    cmd.add_option("--progress", o.progress,
                   "auto (one line per port redrawn on a terminal, plain lines otherwise), bar "
                   "(redrawn), lines, none, or json (JSON Lines on standard output)")
        ->check(CLI::IsMember({"auto", "bar", "lines", "none", "json"}))
        ->group("Download");
    cmd.add_option("--report", o.line.report,
                   "Append one JSON line per panel to FILE (safe for several processes)")
        ->type_name("FILE")
        ->group("Download");
    cmd.add_option("--password-file", o.passwordFile,
                   "Read the download password from the first line of FILE (instead of "
                   "--password, which other users see in the process list; the environment "
                   "variable TARVEX_PASSWORD serves too)")
        ->type_name("FILE")
        ->excludes("--password")
        ->group("Form");
    cmd.add_option("--dashboard", o.dashboard,
                   "Serve the operator's dashboard on [ADDRESS:]PORT while the line runs "
                   "(ADDRESS 127.0.0.1 unless given; any other needs --dashboard-token-file)")
        ->type_name("[ADDRESS:]PORT")
        ->group("Dashboard");
    cmd.add_option("--dashboard-token-file", o.dashboardTokenFile,
                   "Every request to the dashboard needs the token on the first line of FILE")
        ->type_name("FILE")
        ->needs("--dashboard")
        ->group("Dashboard");
    cmd.add_option("--dashboard-linger", o.dashboardLinger,
                   "Keep the dashboard up this many seconds after the line has ended, so that "
                   "the last results stay on the screen (Ctrl-C ends it sooner)")
        ->type_name("SECONDS")
        ->check(CLI::Range(0.0, 86400.0))
        ->needs("--dashboard")
        ->group("Dashboard");
    cmd.add_option("--retries", o.line.retries,
                   "Try a unit up to N more times when its attempt ended with no reply, a lost "
                   "line or a port that could not be opened; never after the panel's code, a "
                   "refusal, a damaged container or a cancel (default 0)")
        ->check(CLI::Range(0, 100))
        ->type_name("N")
        ->group("Line");
    cmd.add_option("--unit-id-from", o.line.unitIdFrom,
                   "Give every unit an id: stdin (one line per unit before it is loaded, as a "
                   "barcode scanner types it; in gang one line per port in port order), "
                   "dashboard (typed or scanned into the port's tile on the --dashboard page; "
                   "each port waits for its own), or counter:PREFIX:START (PREFIX and a number "
                   "from START; the last number is kept in the report's folder). The id goes "
                   "into the report, the JSON start and result and the --on-result environment")
        ->type_name("SOURCE")
        ->check([](const std::string& spec) {
            return production::ParseUnitIdFrom(spec)
                       ? std::string()
                       : std::string("SOURCE is stdin, dashboard or counter:PREFIX:START");
        })
        ->group("Line");
    cmd.add_flag("--allow-repeat", o.line.allowRepeat,
                 "Load a unit whose id has passed before in the report file (refused otherwise)")
        ->group("Line");
}

namespace {

// [ADDRESS:]PORT, with an IPv6 address in brackets.
dashboard::DashboardSettings DashboardSettingsFrom(const MultiPortOptions& o) {
    dashboard::DashboardSettings settings;
    std::string spec = *o.dashboard;
    std::string portText = spec;
    if (const std::size_t colon = spec.rfind(':'); colon != std::string::npos) {
        std::string address = spec.substr(0, colon);
        if (address.size() >= 2 && address.front() == '[' && address.back() == ']') {
            address = address.substr(1, address.size() - 2);
        }
        settings.address = address;
        portText = spec.substr(colon + 1);
    }
    int port = -1;
    try {
        std::size_t used = 0;
        port = std::stoi(portText, &used);
        if (used != portText.size()) {
            port = -1;
        }
    } catch (const std::exception&) {
        port = -1;
    }
    if (port < 0 || port > 65535 || settings.address.empty()) {
        throw UsageError("--dashboard " + spec +
                         ": give [ADDRESS:]PORT, PORT from 1 to 65535 (0: any free port)");
    }
    settings.port = static_cast<std::uint16_t>(port);
    if (o.dashboardTokenFile) {
        std::ifstream in(*o.dashboardTokenFile);
        std::string first;
        if (!in || !std::getline(in, first)) {
            throw UsageError("--dashboard-token-file: cannot read " + *o.dashboardTokenFile);
        }
        settings.token = std::string(TrimWhitespace(first));
        if (settings.token.size() < 16) {
            throw UsageError("--dashboard-token-file: the token in " + *o.dashboardTokenFile +
                             " is shorter than 16 characters");
        }
    } else if (!dashboard::IsLoopbackAddress(settings.address)) {
        throw UsageError("--dashboard " + spec +
                         ": an address other than loopback needs --dashboard-token-file FILE");
    }
    return settings;
}

}  // namespace

std::vector<std::string> ResolvePorts(const MultiPortOptions& o) {
    std::vector<std::string> ports = o.ports;
    if (o.portsFrom) {
        std::ifstream in(*o.portsFrom);
        if (!in) {
            throw UsageError("--ports-from: cannot read " + *o.portsFrom);
        }
        for (std::string line; std::getline(in, line);) {
            const std::string port(TrimWhitespace(line));
            if (!port.empty() && port[0] != '#') {
                ports.push_back(port);
            }
        }
    }
    if (o.allUsb) {
        ProbeOptions probe = ProbeOptionsFromEnvironment();
        if (o.form.sysfsRoot) {
            probe.sysfsRoot = *o.form.sysfsRoot;
        }
        for (const PortInfo& info : ListPorts(probe)) {
            if (info.usbVendorId) {
                ports.push_back(info.path);
            }
        }
    }
    std::vector<std::string> unique;
    for (const std::string& port : ports) {
        if (std::find(unique.begin(), unique.end(), port) == unique.end()) {
            unique.push_back(port);
        }
    }
    if (unique.empty()) {
        throw UsageError(o.allUsb ? "--all-usb: no USB serial port is present"
                                  : "no port: name one with --port, --ports-from or --all-usb");
    }
    return unique;
}

int RunLine(MultiPortOptions& o, bool counts, const LineBody& body) {
    FormOptions form = o.form;
    if (!form.password) {
        form.storedPassword = PasswordFromFileOrEnvironment(o.passwordFile);
    }
    // A port that is not there yet (a station waiting for its panel) or does not open is the
    // download's business: it reports it then.
    form.onUnopenablePort = [](const std::string&) {};
    const std::vector<std::string> ports = ResolvePorts(o);
    if (!o.line.unitIdFrom.empty()) {
        const std::optional<production::UnitIdSpec> spec =
            production::ParseUnitIdFrom(o.line.unitIdFrom);
        if (!spec) {
            throw UsageError("--unit-id-from: SOURCE is stdin, dashboard or counter:PREFIX:START");
        }
        if (spec->kind == production::UnitIdSpec::Kind::Dashboard && !o.dashboard) {
            throw UsageError(
                "--unit-id-from dashboard: the ids are typed into the dashboard's tiles; serve "
                "it with --dashboard [ADDRESS:]PORT");
        }
    }

    LineOutput messages(STDERR_FILENO);
    production::RunShared shared;
    shared.environment = FormEnvironmentFor(form);
    shared.fill = [&form](CTarvexDlg& dlg, production::PortUserInterface& ui,
                          const std::string& port, std::string& why) {
        FormOptions options = form;
        options.port = port;
        try {
            const auto answer = [&ui](std::string path) { ui.SetOpenFileAnswer(std::move(path)); };
            if (ApplyFormOptions(dlg, answer, options) == FormOptionsResult::Refused) {
                return kExitRefused;
            }
        } catch (const UsageError& e) {
            why = e.what();
            return kExitUsage;
        }
        return kExitOk;
    };
    // The report keeps each unit's record before the other sinks see its result.
    production::BoardState boardState;
    MessageLines messageLines(messages, {});
    std::optional<production::JsonLines> jsonLines;
    std::optional<production::JsonProgress> json;
    std::optional<production::ReportSink> report;
    shared.events.Add(&boardState);
    shared.events.Add(&messageLines);
    if (o.progress == "json") {
        jsonLines.emplace(STDOUT_FILENO);
        json.emplace(*jsonLines);
        shared.events.Add(&*json);
    }
    const production::LineOptions& lineOptions = o.line;
    if (lineOptions.report) {
        report.emplace(*lineOptions.report);
        // Before any panel is loaded: a record that cannot be kept would fail every unit the
        // panels took whole.
        if (std::string why; !report->Check(why)) {
            throw UsageError(why);
        }
        if (o.jobStamp) {
            report->SetJob(*o.jobStamp);
        }
        shared.events.AddRecordSink(&*report);
    }
    shared.retries = lineOptions.retries;
    production::Line line(shared);

    // The dashboard binds before any port is touched: an address in use stops the run here.
    std::optional<production::DashboardModel> dashboardModel;
    std::optional<production::DashboardFeed> dashboardFeed;
    std::unique_ptr<dashboard::DashboardServer> dashboardServer;
    if (o.dashboard) {
        dashboard::DashboardSettings settings = DashboardSettingsFrom(o);
        dashboardModel.emplace(ports);
        dashboardModel->Header().command = counts ? "station" : "gang";
        if (o.jobStamp) {
            dashboardModel->Header().job = o.jobStamp->name;
            dashboardModel->Header().containerSha256 = o.jobStamp->sha256;
        }
        dashboardFeed.emplace(*dashboardModel);
        shared.events.Add(&*dashboardFeed);
        dashboardServer = std::make_unique<dashboard::DashboardServer>(
            *dashboardFeed, std::move(settings),
            dashboard::DashboardActions{[&line] { line.StopAfterUnits(); }});
        if (std::string why; !dashboardServer->Start(why)) {
            messages.Write("tarvex-cli: --dashboard " + *o.dashboard + ": " + why);
            return kExitFailure;
        }
        messages.Write("tarvex-cli: dashboard at " + dashboardServer->Url());
    }

    std::unique_ptr<production::IUnitIdSource> idSource;
    const production::CounterIds* counter = nullptr;
    std::optional<production::UnitIds> unitIds;
    if (!lineOptions.unitIdFrom.empty()) {
        const std::optional<production::UnitIdSpec> spec =
            production::ParseUnitIdFrom(lineOptions.unitIdFrom);
        if (spec->kind == production::UnitIdSpec::Kind::Dashboard) {
            idSource = std::make_unique<production::DashboardUnitIds>(*dashboardFeed);
        } else if (spec->kind == production::UnitIdSpec::Kind::Counter) {
            std::error_code ec;
            const std::string folder =
                lineOptions.report ? fs::absolute(*lineOptions.report, ec).parent_path().string()
                                   : std::string(".");
            auto made = std::make_unique<production::CounterIds>(*spec, folder);
            counter = made.get();
            idSource = std::move(made);
        } else {
            idSource = std::make_unique<StdinUnitIds>();
        }
        unitIds.emplace(*idSource, lineOptions.allowRepeat);
        if (lineOptions.report) {
            unitIds->RememberPassed(production::PassedIdsInReport(*lineOptions.report));
        }
        shared.unitIds = &*unitIds;
    }

    if (std::string why; const int status = line.Prepare(ports, why)) {
        if (status == kExitUsage) {
            throw UsageError(why);
        }
        if (!why.empty()) {
            messages.Write("tarvex-cli: " + why);
        }
        return status;  // else the form has said why
    }

    StatusBoard::Style style = StatusBoard::Style::Lines;
    if (o.progress == "none" || o.progress == "json") {
        style = StatusBoard::Style::None;
    } else if (o.progress == "bar" || (o.progress == "auto" && ::isatty(STDOUT_FILENO) == 1)) {
        style = StatusBoard::Style::Redraw;
    }
    StatusBoard board(ports, boardState, style, messages, counts);

    // Ctrl-C cancels every port the way a single port's Cancel does; a second one ends the
    // program at once (the kernel releases the ports' descriptors and locks).
    InterruptWatch watch(platform::SaveProcessPriority());
    watch.CancelOnClose();
    bool told = false;
    const auto tick = [&] {
        if (watch.Requested() && !told) {
            line.Cancel();
            messages.Write(
                "tarvex-cli: interrupted: cancelling every port (interrupt again to stop at "
                "once)");
            told = true;
        }
        board.Update();
    };
    body(line, messages, tick);
    board.Finish();
    if (dashboardServer && o.dashboardLinger > 0) {
        const auto until = std::chrono::steady_clock::now() +
                           std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                               std::chrono::duration<double>(o.dashboardLinger));
        while (std::chrono::steady_clock::now() < until && !watch.Requested()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
    }
    if (std::string why; counter != nullptr && counter->Failed(why)) {
        // The ids given stand; the next run may hand some of them out again.
        messages.Write("tarvex-cli: --unit-id-from: the last number was not kept: " + why);
    }
    return 0;
}

}  // namespace tarvex::cli

#include "app/cli/commands/MultiPort.h"

#include <unistd.h>

#include <fstream>
#include <optional>

#include "app/cli/Commands.h"
#include "app/cli/console/InterruptWatch.h"
#include "app/cli/console/PasswordSource.h"
#include "app/cli/output/StatusBoard.h"
#include "platform/ProcessPriority.h"
#include "platform/Text.h"
#include "production/BoardState.h"
#include "production/DownloadReport.h"
#include "production/JsonProgress.h"
#include "serial/PortProbe.h"

namespace tarvex::cli {

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
    cmd.add_option("--report", o.report,
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
}

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
    if (o.report) {
        report.emplace(*o.report);
        if (o.jobStamp) {
            report->SetJob(*o.jobStamp);
        }
        shared.events.AddRecordSink(&*report);
    }

    production::Line line(shared);
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
    return 0;
}

}  // namespace tarvex::cli

// tarvex-cli station: wait for the next panel, download, report, repeat. For fixtures where
// the panel's USB virtual COM port appears when it is plugged in (the port's path, such as a
// /dev/serial/by-id name, is watched), or where an operator swaps panels on a fixed port (Enter
// starts the next one). With several ports, one station loop runs per port. The loop is the
// production line's (production/Line.h); this command adds the options, Enter on standard
// input, the PASS and FAIL lines and --on-result.
#include <iostream>
#include <memory>

#include "app/cli/Commands.h"
#include "app/cli/commands/JobOptions.h"
#include "app/cli/commands/MultiPort.h"
#include "app/cli/commands/PlatformHelp.h"
#include "app/cli/console/StandardInput.h"
#include "platform/ShellCommand.h"

namespace tarvex::cli {
namespace {

using production::OutcomeKey;
using production::UnitResult;

struct StationOptions {
    MultiPortOptions ports;
    int count = 0;  // 0: until interrupted
    std::optional<std::string> onResult;
    bool fixed = false;
    int settleMs = 300;
};

// Runs CMD with the system's shell, the result in its environment; waits for it.
void RunOnResult(const std::string& command, const UnitResult& r, int passed, int failed,
                 LineOutput& messages) {
    const std::vector<std::string> env = {
        "TARVEX_PORT=" + r.port,
        std::string("TARVEX_RESULT=") + (r.outcome == DownloadOutcome::Cancelled ? "cancelled"
                                         : r.exitStatus == kExitOk               ? "pass"
                                                                                 : "fail"),
        std::string("TARVEX_OUTCOME=") + OutcomeKey(r.outcome),
        "TARVEX_EXIT_STATUS=" + std::to_string(r.exitStatus),
        "TARVEX_PANEL_CODE=" + (r.panelCode > 0 ? std::to_string(r.panelCode) : ""),
        "TARVEX_MESSAGE=" + r.message,
        "TARVEX_SERIAL_NUMBER=" + r.serialNumber,
        "TARVEX_UNIT_ID=" + r.unit.unitId,
        "TARVEX_ATTEMPT=" + std::to_string(r.unit.attempt),
        "TARVEX_ATTEMPTS=" + std::to_string(r.unit.attempts),
        "TARVEX_PASSED=" + std::to_string(passed),
        "TARVEX_FAILED=" + std::to_string(failed),
    };
    const std::optional<int> status = platform::RunShellCommand(command, env);
    if (!status) {
        messages.Write(std::string("tarvex-cli: --on-result: cannot start ") +
                       platform::ShellName());
    } else if (*status != 0) {
        messages.Write("tarvex-cli: --on-result: the command failed for " + r.port);
    }
}

// Enter on standard input; at its end no operator can ask for another panel.
production::PanelCue EnterPressed() {
    switch (PollStandardInput()) {
        case InputPoll::Line:
            return production::PanelCue::Next;
        case InputPoll::End:
            return production::PanelCue::End;
        case InputPoll::Nothing:
            break;
    }
    return production::PanelCue::None;
}

const char* Verdict(const UnitResult& r) {
    if (r.outcome == DownloadOutcome::Cancelled) {
        return "CANCELLED";
    }
    return r.exitStatus == kExitOk ? "PASS" : "FAIL";
}

int RunStation(StationOptions& o) {
    production::StationResult station;
    const int refused = RunLine(
        o.ports, true,
        [&](production::Line& line, LineOutput& messages, const std::function<void()>& tick) {
            production::StationSettings how;
            how.count = o.count;
            how.fixed = o.fixed;
            how.nextPanel = EnterPressed;
            how.settle = std::chrono::milliseconds(o.settleMs);
            how.onResult = [&](const UnitResult& r, int passed, int failed) {
                messages.Write("==== " + r.port + ": " +
                               (r.unit.unitId.empty() ? "" : "unit " + r.unit.unitId + " ") +
                               Verdict(r) + (r.message.empty() ? "" : " (" + r.message + ")") +
                               " ==== passed " + std::to_string(passed) + ", failed " +
                               std::to_string(failed));
                if (o.onResult) {
                    RunOnResult(*o.onResult, r, passed, failed, messages);
                }
            };
            station = production::RunStation(line, how, tick);
            if (station.inputEnded) {
                messages.Write(
                    "tarvex-cli: standard input has ended: no next panel can be asked for, the "
                    "station stops");
            }
        });
    if (refused != 0) {
        return refused;
    }
    (o.ports.progress == "json" ? std::cerr : std::cout)
        << "Station: " << station.yield.Text()
        << (station.cancelled > 0 ? ", cancelled " + std::to_string(station.cancelled) : "")
        << std::endl;
    return station.exitStatus;
}

}  // namespace

void RegisterStationCommand(CLI::App& app, int& exitStatus) {
    auto options = std::make_shared<StationOptions>();
    auto* cmd = app.add_subcommand(
        "station", "Wait for the next panel on a port, download, report, and repeat");
    AddMultiPortOptions(*cmd, options->ports);
    AddJobOption(*cmd, options->ports);
    cmd->add_option("--count", options->count, "Stop after N panels (all ports together)")
        ->check(CLI::NonNegativeNumber)
        ->group("Station");
    cmd->add_option(
           "--on-result", options->onResult,
           std::string("Run CMD with ") + platform::ShellName() +
               " after every panel; its environment has TARVEX_PORT, "
               "TARVEX_RESULT (pass or fail), TARVEX_OUTCOME, TARVEX_EXIT_STATUS, "
               "TARVEX_PANEL_CODE, TARVEX_MESSAGE, TARVEX_SERIAL_NUMBER, TARVEX_PASSED and "
               "TARVEX_FAILED")
        ->type_name("CMD")
        ->group("Station");
    cmd->add_flag("--fixed", options->fixed,
                  "The port stays (an operator swaps panels on it): the first panel is loaded "
                  "at once, each next one when Enter is pressed")
        ->group("Station");
    cmd->add_option("--settle-ms", options->settleMs,
                    "Wait this long after a port appears before opening it (default 300)")
        ->check(CLI::Range(0, 60000))
        ->group("Station");
    cmd->footer(
        "For every port: " + StationWatchHelpText() + " (" + FixturePortHelpText() +
        "). With --fixed, Enter on standard input starts the next panel; when standard input "
        "ends, the station stops. The counts of passed and failed panels stay on the board. " +
        LineInterruptHelpText() +
        ": a running download is cancelled, reported as CANCELLED (counted as neither passed "
        "nor failed), and the station stops. With --unit-id-from stdin each panel waits for its "
        "id line, with --unit-id-from dashboard for the id typed or scanned into its port's "
        "tile (in --fixed mode the id starts the next panel, instead of Enter). The end "
        "line gives the passed and failed units (by outcome), the first-pass yield and the "
        "median cycle time.\n\n"
        "--job FILE runs a job made with tarvex-cli job create as it stands: its workspace, "
        "form, ports and report, and its retries and unit ids unless --retries, --unit-id-from "
        "or --allow-repeat is given; it refuses to start when the container's SHA-256 is not "
        "the job's, and refuses the options that would change what is sent. Every report "
        "record names the job and its container's hash.\n\n"
        "Exit status: 0 when every panel passed, else the status of the first failed panel "
        "(the table in download --help); 6 after an interrupt when no panel failed; 2 usage "
        "error.");
    cmd->callback([cmd, options, &exitStatus] {
        exitStatus = TakeJob(*cmd, options->ports);
        if (exitStatus == kExitOk) {
            exitStatus = RunStation(*options);
        }
    });
}

}  // namespace tarvex::cli

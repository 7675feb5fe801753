// tarvex-cli gang: one download on several ports at once, one process. Every port gets its own
// form, message interface and thread; the container is read and checked once and shared, the
// settings file is written at most once. A summary table (or JSON) ends the run.
#include <cstdio>
#include <iostream>
#include <memory>
#include <nlohmann/json.hpp>

#include "app/cli/Commands.h"
#include "app/cli/commands/JobOptions.h"
#include "app/cli/commands/MultiPort.h"
#include "app/cli/commands/PlatformHelp.h"
#include "platform/Text.h"

namespace tarvex::cli {
namespace {

using production::OutcomeKey;
using production::UnitResult;

struct GangOptions {
    MultiPortOptions ports;
    bool json = false;
};

nlohmann::json SummaryJson(const std::vector<UnitResult>& results, int status,
                           const production::YieldTally& yield) {
    nlohmann::json ports = nlohmann::json::array();
    for (const UnitResult& r : results) {
        nlohmann::json j;
        j["port"] = r.port;
        j["serial_number"] =
            r.serialNumber.empty() ? nlohmann::json(nullptr) : nlohmann::json(r.serialNumber);
        j["outcome"] = OutcomeKey(r.outcome);
        j["exit_status"] = r.exitStatus;
        j["panel_code"] = r.panelCode > 0 ? nlohmann::json(r.panelCode) : nullptr;
        j["message"] = r.message;
        j["bytes"] = r.bytes;
        j["seconds"] = r.seconds;
        j["unit_id"] =
            r.unit.unitId.empty() ? nlohmann::json(nullptr) : nlohmann::json(r.unit.unitId);
        j["attempt"] = r.unit.attempt;
        j["attempts"] = r.unit.attempts;
        ports.push_back(std::move(j));
    }
    return {{"ports", ports}, {"exit_status", status}, {"yield", yield.Json()}};
}

void PrintSummary(std::ostream& os, const std::vector<UnitResult>& results,
                  const production::YieldTally& yield) {
    std::size_t width = 4;
    std::size_t unitWidth = 4;
    for (const UnitResult& r : results) {
        width = std::max(width, r.port.size());
        unitWidth = std::max(unitWidth, Printable(r.unit.unitId).size());
    }
    std::string out;
    char line[768];
    std::snprintf(line, sizeof line, "%-*s  %-*s  %-16s  %-12s  %-5s  %7s  %10s  %8s\n",
                  static_cast<int>(width), "PORT", static_cast<int>(unitWidth), "UNIT", "SERIAL",
                  "RESULT", "CODE", "ATTEMPT", "BYTES", "TIME");
    out += line;
    for (const UnitResult& r : results) {
        const std::string attempt =
            std::to_string(r.unit.attempt) + "/" + std::to_string(r.unit.attempts);
        std::snprintf(line, sizeof line, "%-*s  %-*s  %-16s  %-12s  %-5s  %7s  %10llu  %7.1fs\n",
                      static_cast<int>(width), r.port.c_str(), static_cast<int>(unitWidth),
                      r.unit.unitId.empty() ? "-" : Printable(r.unit.unitId).c_str(),
                      r.serialNumber.empty() ? "-" : Printable(r.serialNumber).c_str(),
                      OutcomeKey(r.outcome),
                      r.panelCode > 0 ? std::to_string(r.panelCode).c_str() : "-", attempt.c_str(),
                      static_cast<unsigned long long>(r.bytes), r.seconds);
        out += line;
    }
    out += "Gang: " + yield.Text() + "\n";
    os << out << std::flush;
}

int RunGang(GangOptions& o) {
    production::GangResult gang;
    const int refused =
        RunLine(o.ports, false,
                [&gang](production::Line& line, LineOutput&, const std::function<void()>& tick) {
                    gang = production::RunGang(line, tick);
                });
    if (refused != 0) {
        return refused;
    }
    // Standard output carries nothing but JSON Lines with --progress json: the summary goes
    // to standard error then.
    std::ostream& out = o.ports.progress == "json" ? std::cerr : std::cout;
    if (o.json) {
        out << SummaryJson(gang.ports, gang.exitStatus, gang.yield)
                   .dump(2, ' ', false, nlohmann::json::error_handler_t::replace)
            << std::endl;
    } else {
        PrintSummary(out, gang.ports, gang.yield);
    }
    return gang.exitStatus;
}

}  // namespace

void RegisterGangCommand(CLI::App& app, int& exitStatus) {
    auto options = std::make_shared<GangOptions>();
    auto* cmd = app.add_subcommand(
        "gang", "Download to several ports at once: one form per port, one container read once");
    AddMultiPortOptions(*cmd, options->ports);
    AddJobOption(*cmd, options->ports);
    cmd->add_flag("--json", options->json, "Print the summary as JSON")->group("Download");
    cmd->footer(
        "Takes the form options of download once and a port several times. Every port gets "
        "its own form, in a thread of its own; the container is read and checked once and "
        "shared; the settings file dnld.sv is written at most once. Each port's messages go to "
        "standard error as \"PORT: Caption: text\". " +
        LineInterruptHelpText() +
        ".\n\n"
        "At the end a summary: port, unit id, USB serial number, result, panel code, attempt, "
        "bytes, time; then the passed and failed units (by outcome), the first-pass yield "
        "(passed on the first attempt) and the median cycle time.\n\n"
        "--job FILE runs a job made with tarvex-cli job create as it stands: its workspace, "
        "form, ports and report, and its retries and unit ids unless --retries, --unit-id-from "
        "or --allow-repeat is given; it refuses to start when the container's SHA-256 is not "
        "the job's, and refuses the options that would change what is sent. Every report "
        "record names the job and its container's hash.\n\n"
        "Exit status: 0 when every port succeeded, else the status of the first failed port "
        "in the order given (the table in download --help); 2 usage error; 3 when a form "
        "refused the options.");
    cmd->callback([cmd, options, &exitStatus] {
        exitStatus = TakeJob(*cmd, options->ports);
        if (exitStatus == kExitOk) {
            exitStatus = RunGang(*options);
        }
    });
}

}  // namespace tarvex::cli

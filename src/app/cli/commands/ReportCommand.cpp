// tarvex-cli report summary FILE...: how a line did, from its report files. The units per
// product and firmware: passed, failed by outcome, first-pass yield, median cycle time. A line
// that is no record (torn by a crash, another program's) is counted and named, and the rest is
// read on.
#include <iostream>
#include <memory>
#include <nlohmann/json.hpp>

#include "app/cli/Commands.h"
#include "production/Yield.h"

namespace tarvex::cli {
namespace {

struct SummaryOptions {
    std::vector<std::string> files;
    bool json = false;
};

int RunSummary(const SummaryOptions& o) {
    const production::ReportSummary summary = production::SummarizeReports(o.files);
    if (o.json) {
        std::cout << production::SummaryJson(summary).dump(2, ' ', false,
                                                           nlohmann::json::error_handler_t::replace)
                  << std::endl;
    } else {
        std::cout << production::SummaryTable(summary) << std::flush;
    }
    for (const std::string& file : summary.unreadable) {
        std::cerr << "tarvex-cli: report summary: cannot read " << file << '\n';
    }
    return summary.unreadable.empty() ? kExitOk : kExitFailure;
}

}  // namespace

void RegisterReportCommand(CLI::App& app, int& exitStatus) {
    auto* report =
        app.add_subcommand("report", "Read the report files of gang, station and download");
    report->require_subcommand(1);
    auto options = std::make_shared<SummaryOptions>();
    auto* summary = report->add_subcommand(
        "summary",
        "Passed, failed by outcome, first-pass yield and median cycle time per "
        "product and firmware");
    summary->add_option("FILE", options->files, "Report files (--report), one JSON line per unit")
        ->required();
    summary->add_flag("--json", options->json, "Print the summary as JSON");
    summary->footer(
        "A unit's attempts (--retries) are its records on one host and port, from the one with "
        "attempt 1; the unit counts once, by its last attempt, and passed on the first pass when "
        "that was attempt 1. The cycle time runs from the first attempt's start to the last "
        "one's end. Lines that are no record of tarvex-cli (torn, not JSON, another program's) "
        "are counted as damaged or foreign and named with their file and line number; they "
        "never stop the summary.\n\n"
        "Exit status: 0; 1 when a file cannot be read; 2 usage error.");
    summary->callback([options, &exitStatus] { exitStatus = RunSummary(*options); });
}

}  // namespace tarvex::cli

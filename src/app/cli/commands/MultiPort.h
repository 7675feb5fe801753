// What the gang and station commands share: the options that name several ports, the outputs
// of a line (message lines, board, JSON Lines, report), Ctrl-C, and the run of the line.
#pragma once

#include <CLI/CLI.hpp>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/cli/commands/FormOptions.h"
#include "app/cli/output/MessageLines.h"
#include "production/JobFile.h"
#include "production/Line.h"

namespace tarvex::cli {

struct MultiPortOptions {
    FormOptions form;
    std::vector<std::string> ports;
    std::optional<std::string> portsFrom;
    bool allUsb = false;
    std::string progress = "auto";
    std::optional<std::string> report;
    std::optional<std::string> passwordFile;
    std::optional<std::string> dashboard;  // [ADDRESS:]PORT
    std::optional<std::string> dashboardTokenFile;
    double dashboardLinger = 0;  // seconds the dashboard stays up after the line has ended
    // --job: the file, and once taken the stamp every report record carries.
    std::optional<std::string> job;
    std::optional<production::JobStamp> jobStamp;
};

// The form options of download (less its single --port), --port (repeatable), --ports-from,
// --all-usb, --progress (auto, bar, lines, none, json), --report and --password-file (the
// password may also come from TARVEX_PASSWORD), and the dashboard's --dashboard,
// --dashboard-token-file and --dashboard-linger.
void AddMultiPortOptions(CLI::App& cmd, MultiPortOptions& options);

// The ports in the order given, each once; a usage error when there is none.
std::vector<std::string> ResolvePorts(const MultiPortOptions& options);

// Hands the prepared line to `run`, with the message lines for the command's own lines and
// the tick the line's main thread must call (the board, Ctrl-C).
using LineBody = std::function<void(production::Line& line, LineOutput& messages,
                                    const std::function<void()>& tick)>;

// Sets up the line from the options: the forms filled in from the form options, the message
// lines on standard error, the board on standard output (or JSON Lines with --progress json),
// the report (--report). Prepares every port's form, then runs `body`; Ctrl-C or SIGTERM
// cancels every port. Returns 0, or the exit status of a refusal that stopped the run before
// any download (told on standard error); a usage error is thrown.
int RunLine(MultiPortOptions& options, bool counts, const LineBody& body);

}  // namespace tarvex::cli

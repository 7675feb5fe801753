// What gang and station share: the options that name several ports, the ports' forms, the
// board, Ctrl-C, and one thread per port.
#pragma once

#include <CLI/CLI.hpp>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/cli/PortRun.h"

namespace tarvex::cli {

struct MultiPortOptions {
    FormOptions form;
    std::vector<std::string> ports;
    std::optional<std::string> portsFrom;
    bool allUsb = false;
    std::string progress = "auto";
    std::optional<std::string> report;
    std::optional<std::string> passwordFile;
};

// The form options of download (less its single --port), --port (repeatable), --ports-from,
// --all-usb, --progress (auto, bar, lines, none, json), --report and --password-file (the
// password may also come from TARVEX_PASSWORD).
void AddMultiPortOptions(CLI::App& cmd, MultiPortOptions& options);

// The ports in the order given, each once; a usage error when there is none.
std::vector<std::string> ResolvePorts(const MultiPortOptions& options);

// What every port of a run shares, set up from the options: the form options, the message
// lines on standard error, the JSON Lines on standard output (--progress json) and the report
// (--report). `shared` points into this object, which must outlive the run.
class RunOutputs {
  public:
    RunOutputs(const MultiPortOptions& options, RunShared& shared);
    RunOutputs(const RunOutputs&) = delete;
    RunOutputs& operator=(const RunOutputs&) = delete;

  private:
    LineOutput messages_;
    std::optional<JsonLines> json_;
    std::optional<ReportWriter> report_;
};

// One port's work on its own thread.
using PortBody = std::function<void(PortRun& run, std::size_t index)>;

// Prepares every port's form (one after another: a form's start probes the ports), then runs
// `body` for each port on a thread of its own. The main thread draws the board and turns
// Ctrl-C or SIGTERM into a cancel of every port. Returns 0, or the exit status of a usage error
// or a refusal that stopped the run before any download (told on standard error).
// `sized` is told the number of ports before any thread starts.
int RunPorts(MultiPortOptions& options, bool counts, const PortBody& body,
             std::vector<std::unique_ptr<PortRun>>& runs, RunShared& shared,
             const std::function<void(std::size_t)>& sized = {});

}  // namespace tarvex::cli

// tarvex-cli download [options]: the Download button, headless. The form starts in the current
// directory exactly as the dialog starts, the options are applied as a person fills the form,
// and then Download is pressed; from there on the form does everything, as it does for the
// dialog. This command only watches: progress on standard output, the form's messages on
// standard error, an optional trace of the line, and Ctrl-C or SIGTERM, which press Cancel.
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <iostream>
#include <memory>
#include <optional>
#include <span>
#include <string>

#include "app/cli/CliUserInterface.h"
#include "app/cli/Commands.h"
#include "app/cli/FormOptions.h"
#include "app/cli/InterruptWatch.h"
#include "app/cli/PortRun.h"
#include "app/cli/ProgressReporter.h"
#include "download/DownloadContainer.h"
#include "hmi/HmiFrames.h"
#include "platform/ProcessPriority.h"
#include "ui/TarvexDlg.h"

namespace tarvex::cli {
namespace {

struct DownloadCommandOptions {
    FormOptions form;
    std::optional<std::string> trace;
    std::string progress = "auto";
    std::optional<std::string> report;
};

// The form's messages also go to the JSON progress lines.
class JsonMessagesUi final : public CliUserInterface {
  public:
    using CliUserInterface::CliUserInterface;
    void ShowMessage(MessageKind kind, std::string_view caption, std::string_view text) override {
        CliUserInterface::ShowMessage(kind, caption, text);
        if (json != nullptr) {
            json->Message(kind, caption, text);
        }
    }
    JsonProgress* json = nullptr;
};

// Every frame written and every reply read, one line each: milliseconds since Download was
// pressed, "tx" (to the panel) or "rx" (from it), the bytes in hex. Each line is flushed, so
// that the trace is complete up to the moment the program ended, however it ended.
class FrameTrace {
  public:
    explicit FrameTrace(const std::string& path) : path_(path), out_(path, std::ios::trunc) {
        if (!out_) {
            throw UsageError("--trace: cannot write " + path);
        }
        out_ << "# tarvex-cli download: ms since Download, tx = to the panel, rx = from it\n";
    }

    void Start() { start_ = std::chrono::steady_clock::now(); }

    void Write(bool written, std::span<const std::uint8_t> bytes) {
        const double ms =
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start_)
                .count();
        std::string line(32 + bytes.size() * 3, '\0');
        int at = std::snprintf(line.data(), line.size(), "%10.3f %s", ms, written ? "tx" : "rx");
        for (const std::uint8_t b : bytes) {
            at += std::snprintf(line.data() + at, line.size() - static_cast<std::size_t>(at),
                                " %02x", b);
        }
        line.resize(static_cast<std::size_t>(at));
        out_ << line << '\n' << std::flush;
    }

    bool Good() const { return out_.good(); }
    const std::string& Path() const { return path_; }

  private:
    std::string path_;
    std::ofstream out_;
    std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
};

ProgressReporter::Style ProgressStyle(const std::string& mode) {
    if (mode == "bar") {
        return ProgressReporter::Style::Bar;
    }
    if (mode == "lines") {
        return ProgressReporter::Style::Lines;
    }
    if (mode == "none" || mode == "json") {
        return ProgressReporter::Style::None;
    }
    return ::isatty(STDOUT_FILENO) == 1 ? ProgressReporter::Style::Bar
                                        : ProgressReporter::Style::Lines;
}

int RunDownloadCommand(DownloadCommandOptions& options) {
    std::optional<FrameTrace> trace;
    if (options.trace) {
        trace.emplace(*options.trace);
    }
    ProgressReporter progress(std::cout, ProgressStyle(options.progress));
    JsonMessagesUi ui(std::cerr);
    std::optional<JsonLines> jsonLines;
    std::optional<JsonProgress> json;
    if (options.progress == "json") {
        jsonLines.emplace(STDOUT_FILENO);
        json.emplace(*jsonLines, options.form.port.value_or(""));
        ui.json = &*json;
    }
    ReportCollector collected;
    ProgressFanOut listeners;
    listeners.Add(json ? &*json : nullptr);
    listeners.Add(&collected);
    ui.SetBeforeMessageHook([&progress] { progress.BreakLine(); });
    // A port that does not open is the download's failure (exit status 4), not a usage error:
    // the form reports it when Download opens the port.
    options.form.onUnopenablePort = [](const std::string& why) {
        std::cerr << "tarvex-cli: " << why << '\n';
    };

    CDownloadInfo info;
    CTarvexDlg form(info, ui, FormEnvironmentFor(options.form));
    form.OnInitDialog();
    if (ApplyFormOptions(form, ui, options.form) == FormOptionsResult::Refused) {
        return kExitRefused;
    }

    // From here on an interrupt presses Cancel; until here it simply ends the program, which
    // has nothing open then that needs putting back.
    InterruptWatch watch(platform::SaveProcessPriority());
    const auto publishPort = [&form, &watch] {
        watch.PublishPort(form.SerialPort().NativeHandle(), form.SerialPort().SavedSettings());
    };
    bool planned = false;
    form.SetFrameObserver([&](bool written, std::span<const std::uint8_t> bytes) {
        publishPort();  // the first frame follows the opening of the port closely
        if (!planned) {
            progress.SetPlannedBytes(PlannedDataBytes(form));
            planned = true;
        }
        if (trace) {
            trace->Write(written, bytes);
        }
        progress.OnFrame(written, bytes);
    });
    form.m_progress.SetListener([&progress](const Control& control) {
        const auto& bar = static_cast<const ProgressBar&>(control);
        progress.OnBar(bar.Lower(), bar.Upper(), bar.GetPos());
    });
    bool interruptTold = false;
    const auto tellInterrupt = [&] {
        if (!interruptTold) {
            progress.BreakLine();
            std::cerr << "tarvex-cli: interrupted: cancelling the download (interrupt again to "
                         "stop at once)\n";
            interruptTold = true;
        }
    };
    // The transfer calls this before every reply it reads and about every 25 ms while it
    // waits. Cancel is pressed again each time: every item but the bitmap clears the request
    // when it starts, and an interrupted download must not go on with the next item.
    ui.SetPumpHook([&] {
        publishPort();
        if (watch.Requested()) {
            tellInterrupt();
            if (form.DownloadRunning()) {
                form.UserClick(form.m_btnCancel);
            }
        }
    });

    if (trace) {
        trace->Start();
    }
    if (json) {
        json->Start(form);
    }
    form.SetProgressListener(&listeners);
    const auto started = std::chrono::system_clock::now();
    const std::size_t messagesBefore = ui.Messages().size();
    const bool pressed = form.UserClick(form.m_btnDownload);
    form.SetProgressListener(nullptr);
    watch.PublishPort(-1, nullptr);  // the form has closed the port
    progress.Finish();
    ui.SetPumpHook({});
    form.SetFrameObserver({});
    form.m_progress.SetListener({});

    if (trace && !trace->Good()) {
        std::cerr << "tarvex-cli: --trace: could not write all of " << trace->Path() << '\n';
    }
    if (!pressed) {
        std::cerr << "tarvex-cli: the Download button cannot be pressed\n";
        return kExitFailure;
    }
    int status = ExitStatusFor(form);
    if (watch.Requested()) {
        tellInterrupt();
        // Whatever the panel got, the run was interrupted: a script must not take it for a
        // clean download.
        if (status == kExitOk) {
            status = kExitFailure;
        }
    }
    std::string message;
    if (ui.Messages().size() > messagesBefore) {
        message = ui.Messages().back().caption + ": " + ui.Messages().back().text;
    }
    const int panelCode =
        form.LastDownloadOutcome() == DownloadOutcome::PanelCode ? form.OutcomePanelCode() : 0;
    if (json) {
        json->Result(form.LastDownloadOutcome(), status, panelCode, message);
    }
    if (options.report) {
        ReportWriter report(*options.report);
        const std::string port = form.m_cmbComPort.GetWindowText();
        const DownloadEnd end{port,
                              started,
                              std::chrono::system_clock::now(),
                              form.LastDownloadOutcome(),
                              status,
                              panelCode,
                              message};
        std::string error;
        if (!report.Append(form, collected, end,
                           DescribeDevice(form.Environment().probe, DevicePathForPortName(port)),
                           error)) {
            std::cerr << "tarvex-cli: --report: cannot append to " << *options.report << ": "
                      << error << '\n';
            if (status == kExitOk) {
                status = kExitFailure;  // a unit without its record is no pass
            }
        }
    }
    return status;
}

}  // namespace

void RegisterDownloadCommand(CLI::App& app, int& exitStatus) {
    auto options = std::make_shared<DownloadCommandOptions>();
    auto* cmd = app.add_subcommand(
        "download", "Start the form in the current directory, apply the options and download");
    AddFormOptions(*cmd, options->form);
    cmd->add_option("--trace", options->trace,
                    "Write every frame sent and every reply read to FILE: milliseconds since "
                    "Download, tx or rx, the bytes in hex")
        ->type_name("FILE")
        ->group("Download");
    cmd->add_option("--progress", options->progress,
                    "auto (a bar on a terminal, plain lines otherwise), bar, lines, none, or "
                    "json (JSON Lines on standard output, see docs/progress-json.md)")
        ->check(CLI::IsMember({"auto", "bar", "lines", "none", "json"}))
        ->group("Download");
    cmd->add_option("--report", options->report,
                    "Append one JSON line describing this download to FILE (safe for several "
                    "processes)")
        ->type_name("FILE")
        ->group("Download");
    cmd->footer(
        "The catalogue (Pxx, Vxx), the settings file dnld.sv and the download data file "
        "DnldData.txt are read from the current directory, and dnld.sv is rewritten, as the "
        "dialog does. Messages the form shows go to standard error as \"Caption: text\"; "
        "progress goes to standard output. Ctrl-C or SIGTERM presses Cancel (the panel is "
        "told); a second one stops at once, putting the port back as it was found (exit status "
        "128 + the signal: 130 for Ctrl-C).\n\n"
        "Exit status:\n"
        "  0      \"Download Complete!\"\n"
        "  1      any other failure: no reply, attempts used up, the line lost; also after a "
        "cancel\n"
        "  2      usage error (an option names something the form does not offer)\n"
        "  3      refused before the port was opened: the form's checks, the container or its "
        "product, a selection the panel protocol cannot serve, a choice the form refused "
        "(USB Download for a firmware version without it)\n"
        "  4      the port could not be opened or configured\n"
        "  5      a ticked item is not in the container\n"
        "  11-19  the panel reported code 1-9 (10 + code), e.g. 12 \"Password Verification "
        "Failed!\"");
    cmd->callback([options, &exitStatus] { exitStatus = RunDownloadCommand(*options); });
}

}  // namespace tarvex::cli

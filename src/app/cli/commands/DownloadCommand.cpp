// tarvex-cli download [options]: the Download button, headless. The form starts in the current
// directory exactly as the dialog starts, the options are applied as a person fills the form,
// and then Download is pressed; from there on the form does everything, as it does for the
// dialog. This command only watches: progress on standard output, the form's messages on
// standard error, an optional trace of the line, and Ctrl-C or SIGTERM, which press Cancel.
#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <memory>
#include <optional>
#include <span>
#include <string>

#include "app/cli/Commands.h"
#include "app/cli/commands/FormOptions.h"
#include "app/cli/commands/PlatformHelp.h"
#include "app/cli/console/CliUserInterface.h"
#include "app/cli/console/Console.h"
#include "app/cli/console/InterruptWatch.h"
#include "app/cli/console/PasswordSource.h"
#include "app/cli/output/MessageLines.h"
#include "app/cli/output/ProgressReporter.h"
#include "download/DownloadContainer.h"
#include "hmi/HmiFrames.h"
#include "platform/Files.h"
#include "platform/ProcessPriority.h"
#include "platform/Text.h"
#include "production/DownloadEnd.h"
#include "production/DownloadReport.h"
#include "production/Hints.h"
#include "production/JsonProgress.h"
#include "production/ProgressFanOut.h"
#include "ui/DnldSettings.h"
#include "ui/TarvexDlg.h"

namespace tarvex::cli {
namespace {

using production::AboutToSendText;
using production::DescribeLine;
using production::LineDescription;
using production::MissingSavedPortText;
using production::NoPortChosenText;

struct DownloadCommandOptions {
    FormOptions form;
    std::optional<std::string> trace;
    std::string progress = "auto";
    bool quiet = false;
    std::optional<std::string> passwordFile;
    bool allowDamagedBody = false;
    std::optional<std::string> report;
};

// The form's messages also go out as events (to the JSON progress lines).
class EventMessagesUi final : public CliUserInterface {
  public:
    EventMessagesUi(std::ostream& err, production::UnitEvents& events)
        : CliUserInterface(err), events_(events) {}
    void ShowMessage(MessageKind kind, std::string_view caption, std::string_view text) override {
        CliUserInterface::ShowMessage(kind, caption, text);
        events_.Message(kind, caption, text);
    }

  private:
    production::UnitEvents& events_;
};

// Every frame written and every reply read, one line each: milliseconds since Download was
// pressed, "tx" (to the panel) or "rx" (from it), the bytes in hex. Each line is flushed, so
// that the trace is complete up to the moment the program ended, however it ended. The path
// "-" stands for standard error.
class FrameTrace {
  public:
    explicit FrameTrace(const std::string& path) : path_(path) {
        if (path != "-") {
            file_.open(path, std::ios::trunc);
            if (!file_) {
                throw UsageError("--trace: cannot write " + path);
            }
        }
        out() << "# tarvex-cli download: ms since Download, tx = to the panel, rx = from it\n";
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
        out() << line << '\n' << std::flush;
    }

    bool Good() const { return path_ == "-" ? std::cerr.good() : file_.good(); }
    const std::string& Path() const { return path_; }

  private:
    std::ostream& out() { return path_ == "-" ? std::cerr : file_; }

    std::string path_;
    std::ofstream file_;
    std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
};

ProgressReporter::Style ProgressStyle(const std::string& mode, const ConsoleTraits& console) {
    if (mode == "bar") {
        return ProgressReporter::Style::Bar;
    }
    if (mode == "lines") {
        return ProgressReporter::Style::Lines;
    }
    if (mode == "none" || mode == "json") {
        return ProgressReporter::Style::None;
    }
    return console.stdoutIsTerminal ? ProgressReporter::Style::Bar : ProgressReporter::Style::Lines;
}

// The port the settings file saves, as the form read it; nothing when it saves none (no file
// yet, or no COM PORT line), where the form starts with its own default, COM1.
std::optional<std::string> SavedPort(const CTarvexDlg& form) {
    const auto lines = platform::ReadTextLines(form.m_strAppDir + kSettingsFileName);
    if (!lines) {
        return std::nullopt;
    }
    SettingsFields fields;
    ApplySettingsLines(*lines, fields);
    if (fields.record.m_strComPort.empty()) {
        return std::nullopt;
    }
    return fields.record.m_strComPort;
}

// Without --port the form takes the saved port when it is listed, and else its first entry,
// or COM1 when nothing was saved: on many PCs a legacy serial port that leads nowhere, or the
// machine's console. The command line sends only to a port someone chose: the saved one, taken
// as --port takes a port (a udev link to a live device opens), or none at all. Returns 0, or
// the exit status of the refusal, told on standard error.
int ChooseSavedPort(CTarvexDlg& form) {
    const ProbeOptions& probe = form.Environment().probe;
    const std::optional<std::string> saved = SavedPort(form);
    if (!saved) {
        throw UsageError(NoPortChosenText(ProbePorts(probe)));
    }
    SerialError error = SerialError::None;
    if (const int index = PortEntry(form, *saved, error); index >= 0) {
        if (!form.UserSelect(form.m_cmbComPort, index)) {
            throw UsageError("the saved port " + *saved +
                             " cannot be chosen: the Com Port list is disabled");
        }
        return kExitOk;
    }
    std::vector<PortInfo> ports = ProbePorts(probe);
    const std::string device = DevicePathForPortName(*saved);
    if (error != SerialError::NotFound &&
        std::none_of(ports.begin(), ports.end(),
                     [&device](const PortInfo& p) { return p.path == device; })) {
        PortInfo examined;  // there, but not listed: say why it does not open
        examined.path = device;
        examined.error = error;
        ports.push_back(examined);
    }
    std::cerr << MissingSavedPortText(*saved, ports);
    return kExitRefused;
}

int RunDownloadCommand(DownloadCommandOptions& options) {
    std::optional<FrameTrace> trace;
    if (options.trace) {
        trace.emplace(*options.trace);
    }
    // Read before anything else, so that an unreadable file is a usage error at once.
    const std::optional<std::string> storedPassword =
        options.form.password ? std::nullopt : PasswordFromFileOrEnvironment(options.passwordFile);
    const ConsoleTraits console = PrepareConsole();
    ProgressReporter progress(std::cout, options.quiet ? ProgressReporter::Style::None
                                                       : ProgressStyle(options.progress, console));
    progress.SetVtSequences(console.vtSequences || !console.stdoutIsTerminal);
    // The download's events: the form's messages and the line's notes (hints, a record that
    // failed) on standard error, JSON Lines with --progress json, the record with --report.
    production::EventStream stream;
    LineOutput errLines(STDERR_FILENO);
    MessageLines notes(errLines, {.portPrefix = false, .boxes = false});
    stream.Add(&notes);
    std::optional<production::JsonLines> jsonLines;
    std::optional<production::JsonProgress> json;
    if (options.progress == "json") {
        jsonLines.emplace(STDOUT_FILENO);
        json.emplace(*jsonLines);
        stream.Add(&*json);
    }
    std::optional<production::ReportSink> report;
    if (options.report) {
        report.emplace(*options.report);
        // Before the panel is loaded: a record that cannot be kept fails a download that the
        // panel took whole.
        if (std::string why; !report->Check(why)) {
            throw UsageError(why);
        }
        stream.AddRecordSink(&*report);
    }
    production::UnitEvents events(stream, options.form.port.value_or(""));
    EventMessagesUi ui(std::cerr, events);
    ui.SetYesNoAnswer(options.allowDamagedBody, "--allow-damaged-body");
    production::ProgressFanOut listeners;
    listeners.Add(&events);
    listeners.Add(&progress);
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
    if (!options.form.port) {
        if (const int refused = ChooseSavedPort(form); refused != kExitOk) {
            return refused;
        }
    }
    // A password from a file or the environment goes where a person would type it, when the
    // chosen version shows the field at all.
    if (storedPassword && form.m_editPassword.IsVisible() && form.m_editPassword.IsEnabled() &&
        storedPassword->find_first_of("\r\n") == std::string::npos) {
        form.UserSetText(form.m_editPassword, *storedPassword);
    }
    if (VersionNeedsPassword(form)) {
        const std::optional<std::string> typed = AskPasswordOnTerminal("Download password: ");
        if (!typed) {
            throw UsageError(
                "the firmware version needs a download password: give it with --password-file "
                "FILE, the environment variable TARVEX_PASSWORD or --password");
        }
        if (typed->find_first_of("\r\n") != std::string::npos ||
            !form.UserSetText(form.m_editPassword, *typed)) {
            throw UsageError("the password cannot be entered into the form");
        }
    }
    const LineDescription line = DescribeLine(form);

    // From here on an interrupt presses Cancel; until here it simply ends the program, which
    // has nothing open then that needs putting back.
    InterruptWatch watch(platform::SaveProcessPriority());
    const auto publishPort = [&form, &watch] { watch.PublishPort(&form.SerialPort()); };
    progress.SetPlanner([&form] { return production::PlannedDataBytes(form); });
    events.SetPlanner([&form] { return production::PlannedDataBytes(form); });
    std::uint64_t repliesRead = 0;
    form.SetFrameObserver([&](bool written, std::span<const std::uint8_t> bytes) {
        publishPort();  // the first frame follows the opening of the port closely
        if (trace) {
            trace->Write(written, bytes);
        }
        repliesRead += written ? 0 : 1;
    });
    bool interruptTold = false;
    const auto tellInterrupt = [&] {
        if (!interruptTold) {
            progress.BreakLine();
            std::cerr << "tarvex-cli: interrupted: cancelling the download (interrupt again, "
                         "a second or more later, to stop at once)\n";
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

    if (!options.quiet && !json) {  // JSON progress keeps standard output to its lines
        std::cout << AboutToSendText(line) << '\n' << std::flush;
    }
    if (trace) {
        trace->Start();
    }
    events.Start(form);
    form.SetProgressListener(&listeners);
    production::DownloadEnding end;
    end.started = std::chrono::system_clock::now();
    end.line = line;
    const std::size_t messagesBefore = ui.Messages().size();
    const bool pressed = form.UserClick(form.m_btnDownload);
    form.SetProgressListener(nullptr);
    watch.PublishPort(nullptr);  // the form has closed the port
    progress.Finish();
    ui.SetPumpHook({});
    form.SetFrameObserver({});

    if (trace && !trace->Good()) {
        std::cerr << "tarvex-cli: --trace: could not write all of " << trace->Path() << '\n';
    }
    if (watch.Requested()) {
        tellInterrupt();
    }
    end.pressed = pressed;
    end.interrupted = watch.Requested();
    end.repliesRead = repliesRead;
    if (ui.Messages().size() > messagesBefore) {
        end.lastMessage = ui.Messages().back().caption + ": " + ui.Messages().back().text;
    }
    end.recordPort = form.m_cmbComPort.GetWindowText();
    return production::FinishDownload(form, events, end).exitStatus;
}

}  // namespace

void RegisterDownloadCommand(CLI::App& app, int& exitStatus) {
    auto options = std::make_shared<DownloadCommandOptions>();
    auto* cmd = app.add_subcommand(
        "download", "Start the form in the current directory, apply the options and download");
    AddFormOptions(*cmd, options->form);
    cmd->add_option("--trace", options->trace,
                    "Write every frame sent and every reply read to FILE (- for standard "
                    "error): milliseconds since Download, tx or rx, the bytes in hex")
        ->type_name("FILE")
        ->group("Download");
    cmd->add_option("--progress", options->progress, ProgressJsonHelpText())
        ->check(CLI::IsMember({"auto", "bar", "lines", "none", "json"}))
        ->group("Download");
    cmd->add_option("--report", options->report,
                    "Append one JSON line describing this download to FILE (safe for several "
                    "processes)")
        ->type_name("FILE")
        ->group("Download");
    cmd->add_flag("--quiet,-q", options->quiet,
                  "Print only errors and the result line: no progress, no summary of what is "
                  "sent")
        ->group("Download");
    cmd->add_option("--password-file", options->passwordFile,
                    "Read the download password from the first line of FILE (instead of "
                    "--password, which other users see in the process list)")
        ->type_name("FILE")
        ->excludes("--password")
        ->group("Form");
    cmd->add_flag("--allow-damaged-body", options->allowDamagedBody,
                  "Download a container accepted on its header checksum although its body does "
                  "not match the body checksum (the dialog asks; without this the answer is No "
                  "and the exit status 3)")
        ->group("Download");
    cmd->footer(
        "The catalogue (Pxx, Vxx), the settings file dnld.sv and the download data file "
        "DnldData.txt are read from the current directory, and dnld.sv is rewritten, as the "
        "dialog does. Messages the form shows go to standard error as \"Caption: text\"; "
        "progress goes to standard output. Without --port the port saved in dnld.sv is used; "
        "when it is not present the download is refused (exit status 3), and when none is saved "
        "(the form's default COM1 is nobody's choice) it is a usage error (exit status 2): "
        "either names the ports present and sends nothing. The password may also come from "
        "--password-file or the environment variable TARVEX_PASSWORD; a version that needs one "
        "asks for it on a terminal and is refused (exit status 2) otherwise. " +
        InterruptHelpText() + "\n\n" + ExitStatusHelp());
    cmd->callback([options, &exitStatus] { exitStatus = RunDownloadCommand(*options); });
}

}  // namespace tarvex::cli

#include "app/cli/MultiPort.h"

#include <unistd.h>

#include <fstream>
#include <iostream>
#include <thread>

#include "app/cli/Commands.h"
#include "app/cli/InterruptWatch.h"
#include "app/cli/PasswordSource.h"
#include "app/cli/StatusBoard.h"
#include "platform/ProcessPriority.h"
#include "platform/Text.h"
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

RunOutputs::RunOutputs(const MultiPortOptions& o, RunShared& shared) : messages_(STDERR_FILENO) {
    shared.form = o.form;
    shared.messages = &messages_;
    if (o.progress == "json") {
        json_.emplace(STDOUT_FILENO);
        shared.json = &*json_;
    }
    if (o.report) {
        report_.emplace(*o.report);
        shared.report = &*report_;
    }
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

int RunPorts(MultiPortOptions& o, bool counts, const PortBody& body,
             std::vector<std::unique_ptr<PortRun>>& runs, RunShared& shared,
             const std::function<void(std::size_t)>& sized) {
    if (!shared.form.password) {
        shared.form.storedPassword = PasswordFromFileOrEnvironment(o.passwordFile);
    }
    const std::vector<std::string> ports = ResolvePorts(o);
    for (const std::string& port : ports) {
        runs.push_back(std::make_unique<PortRun>(shared, port));
    }
    for (auto& run : runs) {
        std::string why;
        const int status = run->Prepare(why);
        if (status == kExitUsage) {
            throw UsageError(why);
        }
        if (status != 0) {
            return status;  // the form has said why
        }
    }

    if (sized) {
        sized(runs.size());
    }
    StatusBoard::Style style = StatusBoard::Style::Lines;
    if (o.progress == "none" || o.progress == "json") {
        style = StatusBoard::Style::None;
    } else if (o.progress == "bar" || (o.progress == "auto" && ::isatty(STDOUT_FILENO) == 1)) {
        style = StatusBoard::Style::Redraw;
    }
    std::vector<const PortRun*> shown;
    for (const auto& run : runs) {
        shown.push_back(run.get());
    }
    StatusBoard board(shown, style, *shared.messages, counts);

    // Ctrl-C cancels every port the way a single port's Cancel does; a second one ends the
    // program at once (the kernel releases the ports' descriptors and locks).
    InterruptWatch watch(platform::SaveProcessPriority());
    std::vector<std::thread> threads;
    std::atomic<std::size_t> running{runs.size()};
    for (std::size_t i = 0; i < runs.size(); ++i) {
        threads.emplace_back([&, i] {
            body(*runs[i], i);
            --running;
        });
    }
    bool told = false;
    while (running.load() > 0) {
        if (watch.Requested() && !told) {
            shared.cancel.store(true);
            shared.messages->Write(
                "tarvex-cli: interrupted: cancelling every port (interrupt again to stop at "
                "once)");
            told = true;
        }
        board.Update();
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    for (std::thread& t : threads) {
        t.join();
    }
    board.Finish();
    return 0;
}

}  // namespace tarvex::cli

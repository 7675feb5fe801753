// tarvex-cli station: wait for the next panel, download, report, repeat. For fixtures where
// the panel's USB virtual COM port appears when it is plugged in (the port's path, such as a
// /dev/serial/by-id name, is watched), or where an operator swaps panels on a fixed port (Enter
// starts the next one). With several ports, one station loop runs per port.
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <iostream>
#include <memory>
#include <mutex>
#include <thread>

#include "app/cli/Commands.h"
#include "app/cli/MultiPort.h"

extern char** environ;

namespace tarvex::cli {
namespace {

using namespace std::chrono_literals;

struct StationOptions {
    MultiPortOptions ports;
    int count = 0;  // 0: until interrupted
    std::optional<std::string> onResult;
    bool fixed = false;
    int settleMs = 300;
};

// How often the port's path is looked at while waiting.
constexpr auto kWatchInterval = 100ms;

bool PortPresent(const std::string& port) {
    std::error_code ec;
    return std::filesystem::exists(DevicePathForPortName(port), ec);
}

// Runs CMD with /bin/sh, the result in its environment; waits for it.
void RunOnResult(const std::string& command, const PortResult& r, int passed, int failed,
                 LineOutput& messages) {
    std::vector<std::string> env;
    for (char** e = environ; *e != nullptr; ++e) {
        env.emplace_back(*e);
    }
    env.push_back("TARVEX_PORT=" + r.port);
    env.push_back(std::string("TARVEX_RESULT=") + (r.exitStatus == kExitOk ? "pass" : "fail"));
    env.push_back(std::string("TARVEX_OUTCOME=") + OutcomeKey(r.outcome));
    env.push_back("TARVEX_EXIT_STATUS=" + std::to_string(r.exitStatus));
    env.push_back("TARVEX_PANEL_CODE=" + (r.panelCode > 0 ? std::to_string(r.panelCode) : ""));
    env.push_back("TARVEX_MESSAGE=" + r.message);
    env.push_back("TARVEX_SERIAL_NUMBER=" + r.serialNumber);
    env.push_back("TARVEX_PASSED=" + std::to_string(passed));
    env.push_back("TARVEX_FAILED=" + std::to_string(failed));
    std::vector<char*> envp;
    for (std::string& e : env) {
        envp.push_back(e.data());
    }
    envp.push_back(nullptr);
    std::string sh = "/bin/sh", dashC = "-c", cmd = command;
    char* argv[] = {sh.data(), dashC.data(), cmd.data(), nullptr};
    pid_t pid = -1;
    if (::posix_spawn(&pid, "/bin/sh", nullptr, nullptr, argv, envp.data()) != 0) {
        messages.Write("tarvex-cli: --on-result: cannot start /bin/sh");
        return;
    }
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        messages.Write("tarvex-cli: --on-result: the command failed for " + r.port);
    }
}

struct StationState {
    std::atomic<int> claimed{0};
    std::atomic<int> done{0};
    std::mutex mutex;
    int passed = 0;
    int failed = 0;
    int firstFailure = kExitOk;
    std::mutex enterMutex;  // one port at a time waits for Enter
};

int RunStation(StationOptions& o) {
    RunShared shared;
    const RunOutputs outputs(o.ports, shared);
    StationState state;
    const auto finished = [&] {
        return shared.cancel.load() || (o.count > 0 && state.done.load() >= o.count);
    };
    // Waits until `ready` holds; false when the station is to stop meanwhile.
    const auto waitFor = [&](const std::function<bool()>& ready) {
        while (!finished()) {
            if (ready()) {
                return true;
            }
            std::this_thread::sleep_for(kWatchInterval);
        }
        return false;
    };
    const auto enterPressed = [&] {
        struct pollfd in {
            STDIN_FILENO, POLLIN, 0
        };
        if (::poll(&in, 1, 0) <= 0) {
            return false;
        }
        char c = 0;
        const ssize_t got = ::read(STDIN_FILENO, &c, 1);
        return got <= 0 || c == '\n';  // end of input counts as a press: nothing more comes
    };

    const auto body = [&](PortRun& run, std::size_t) {
        const std::string& port = run.Port();
        bool first = true;
        while (!finished()) {
            if (o.fixed) {
                if (!first) {
                    run.SetState("press Enter for the next panel");
                    const std::lock_guard<std::mutex> lock(state.enterMutex);
                    if (!waitFor(enterPressed)) {
                        break;
                    }
                }
            } else {
                run.SetState("waiting for a panel");
                if (!waitFor([&] { return PortPresent(port); })) {
                    break;
                }
                // A freshly plugged device needs a moment before it can be opened (udev).
                std::this_thread::sleep_for(std::chrono::milliseconds(o.settleMs));
            }
            first = false;
            if (o.count > 0 && state.claimed.fetch_add(1) >= o.count) {
                break;
            }
            const PortResult r = run.Download();
            const bool passed = r.exitStatus == kExitOk;
            run.Count(passed);
            int passedNow = 0;
            int failedNow = 0;
            {
                const std::lock_guard<std::mutex> lock(state.mutex);
                ++(passed ? state.passed : state.failed);
                passedNow = state.passed;
                failedNow = state.failed;
                if (!passed && state.firstFailure == kExitOk) {
                    state.firstFailure = r.exitStatus;
                }
            }
            shared.messages->Write("==== " + port + ": " + (passed ? "PASS" : "FAIL") +
                                   (r.message.empty() ? "" : " (" + r.message + ")") +
                                   " ==== passed " + std::to_string(passedNow) + ", failed " +
                                   std::to_string(failedNow));
            if (o.onResult) {
                RunOnResult(*o.onResult, r, passedNow, failedNow, *shared.messages);
            }
            ++state.done;
            if (!o.fixed) {
                run.SetState(passed ? "passed: remove the panel" : "failed: remove the panel");
                if (!waitFor([&] { return !PortPresent(port); })) {
                    break;
                }
            }
        }
        run.SetState("stopped");
    };

    std::vector<std::unique_ptr<PortRun>> runs;
    const int refused = RunPorts(o.ports, true, body, runs, shared);
    if (refused != 0) {
        return refused;
    }
    (o.ports.progress == "json" ? std::cerr : std::cout)
        << "Station: passed " << state.passed << ", failed " << state.failed << std::endl;
    if (shared.cancel.load() && state.firstFailure == kExitOk) {
        return kExitFailure;
    }
    return state.firstFailure;
}

}  // namespace

void RegisterStationCommand(CLI::App& app, int& exitStatus) {
    auto options = std::make_shared<StationOptions>();
    auto* cmd = app.add_subcommand(
        "station", "Wait for the next panel on a port, download, report, and repeat");
    AddMultiPortOptions(*cmd, options->ports);
    cmd->add_option("--count", options->count, "Stop after N panels (all ports together)")
        ->check(CLI::NonNegativeNumber)
        ->group("Station");
    cmd->add_option("--on-result", options->onResult,
                    "Run CMD with /bin/sh after every panel; its environment has TARVEX_PORT, "
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
        "For every port: wait until the port's path exists (a panel plugged in; a "
        "/dev/serial/by-id name is the stable choice), download, report PASS or FAIL, wait "
        "until the path goes away, and repeat. The counts of passed and failed panels stay on "
        "the board. Ctrl-C or SIGTERM cancels a running download and stops.\n\n"
        "Exit status: 0 when every panel passed, else the status of the first failed panel "
        "(the table in download --help); 1 after an interrupt; 2 usage error.");
    cmd->callback([options, &exitStatus] { exitStatus = RunStation(*options); });
}

}  // namespace tarvex::cli

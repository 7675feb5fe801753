#include "production/Line.h"

#include <atomic>
#include <condition_variable>
#include <filesystem>
#include <memory>
#include <mutex>
#include <thread>

#include "production/ExitStatus.h"
#include "production/LinePlatform.h"
#include "serial/PortProbe.h"
#include "serial/SerialPort.h"

namespace tarvex::production {
namespace {

using namespace std::chrono_literals;

constexpr auto kTickInterval = 100ms;
// How often a station looks at a port's device, or asks for the next panel, while it waits.
constexpr auto kWatchInterval = 100ms;
// Before another attempt: a USB adapter that dropped off the bus needs a moment to return.
constexpr auto kRetryPause = 500ms;

std::string UnitText(const std::string& id) {
    return id.empty() ? "" : " " + id;
}

void Count(YieldTally& yield, const UnitResult& r) {
    yield.Add(r.exitStatus == Code(ExitStatus::Ok), OutcomeKey(r.outcome), r.unit.attempt,
              r.cycleSeconds);
}

// A unit's id for `run` when the line numbers units; nothing when none will come. Refusals
// and the id taken are told on the port.
std::optional<std::string> TakeUnitId(Line& line, PortRun& run, const std::function<bool()>& stop,
                                      const std::function<void()>& idle) {
    UnitIds* ids = line.Shared().unitIds;
    if (ids == nullptr) {
        return std::string();
    }
    run.SetState("waiting for the unit's id");
    std::optional<std::string> id = ids->Next(
        run.Port(), stop, [&run](const std::string& text) { run.Note(text); }, idle);
    if (id) {
        run.SetState("unit " + *id);
        run.Note("tarvex-cli: unit " + *id);
    }
    return id;
}

// The result of a port that got no unit id (standard input ended, or a cancel).
UnitResult NoUnitId(const Line& line, const PortRun& run) {
    UnitResult r;
    r.port = run.Port();
    r.outcome = line.Cancelled() ? DownloadOutcome::Cancelled : DownloadOutcome::None;
    r.exitStatus = Code(line.Cancelled() ? ExitStatus::Cancelled : ExitStatus::Failure);
    r.message = "no unit id came for this port";
    return r;
}

}  // namespace

std::string SameDeviceTwice(const std::vector<std::string>& ports) {
    // A port that is not there yet (a station's) cannot be compared, and is not.
    std::vector<std::string> keys;
    for (const std::string& port : ports) {
        keys.push_back(DeviceKey(port));
    }
    for (std::size_t i = 0; i < ports.size(); ++i) {
        for (std::size_t j = 0; j < i; ++j) {
            if (!keys[i].empty() && keys[i] == keys[j]) {
                std::error_code ec;
                const std::filesystem::path device =
                    std::filesystem::canonical(DevicePathForPortName(ports[i]), ec);
                return ports[j] + " and " + ports[i] + " name one device" +
                       (ec ? std::string() : " (" + device.string() + ")") +
                       ": give each port once";
            }
        }
    }
    return {};
}

int Line::Prepare(const std::vector<std::string>& ports, std::string& why) {
    if (const std::string unsupported = LineUnsupported(); !unsupported.empty()) {
        why = "several ports in one process are " + unsupported;
        return Code(ExitStatus::Failure);
    }
    if (std::string twice = SameDeviceTwice(ports); !twice.empty()) {
        why = std::move(twice);
        return Code(ExitStatus::Usage);
    }
    for (const std::string& port : ports) {
        runs_.push_back(std::make_unique<PortRun>(shared_, port));
    }
    // Every form fills its Com Port list at its start: one probe of the ports serves them all,
    // rather than each form probing every port.
    if (!shared_.environment.listPorts) {
        auto listed = std::make_shared<const std::vector<std::string>>(
            OpenablePorts(shared_.environment.probe));
        shared_.environment.listPorts = [listed] { return *listed; };
    }
    // The forms start side by side (each reads the catalogue and the settings on its own); a
    // port that cannot start ends the line with the status of the first such port in order.
    std::vector<int> statuses(runs_.size(), 0);
    std::vector<std::string> whys(runs_.size());
    {
        std::vector<std::jthread> starts;
        for (std::size_t i = 0; i < runs_.size(); ++i) {
            starts.emplace_back([&, i] { statuses[i] = runs_[i]->Prepare(whys[i]); });
        }
    }
    for (std::size_t i = 0; i < runs_.size(); ++i) {
        if (statuses[i] != 0) {
            why = std::move(whys[i]);
            return statuses[i];
        }
    }
    return 0;
}

void Line::Run(const PortBody& body, const std::function<void()>& tick) {
    std::vector<std::thread> threads;
    std::mutex mutex;
    std::condition_variable ended;
    std::size_t running = runs_.size();
    for (std::size_t i = 0; i < runs_.size(); ++i) {
        threads.emplace_back([&, i] {
            body(*runs_[i], i);
            {
                const std::lock_guard<std::mutex> lock(mutex);
                --running;
            }
            ended.notify_one();
        });
    }
    // Ticks while ports run; the last port's end wakes the wait at once rather than at the
    // next tick, so the line ends when its slowest port does.
    for (;;) {
        if (tick) {
            tick();
        }
        std::unique_lock<std::mutex> lock(mutex);
        if (ended.wait_for(lock, kTickInterval, [&running] { return running == 0; })) {
            break;
        }
    }
    for (std::thread& t : threads) {
        t.join();
    }
}

UnitResult LoadUnit(Line& line, PortRun& run, const std::string& unitId) {
    const auto started = std::chrono::steady_clock::now();
    const int attempts = 1 + std::max(0, line.Shared().retries);
    UnitResult r;
    for (int attempt = 1;; ++attempt) {
        r = run.Download(UnitTag{unitId, attempt, attempts});
        if (!r.mayRetry || attempt >= attempts || line.Cancelled()) {
            break;
        }
        run.Note("tarvex-cli: attempt " + std::to_string(attempt) + " of " +
                 std::to_string(attempts) + " for unit" + UnitText(unitId) + " failed (" +
                 OutcomeKey(r.outcome) + "); trying again");
        for (auto waited = 0ms; waited < kRetryPause && !line.Cancelled(); waited += 50ms) {
            std::this_thread::sleep_for(50ms);
        }
        if (line.Cancelled()) {
            break;
        }
    }
    r.cycleSeconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    return r;
}

GangResult RunGang(Line& line, const std::function<void()>& tick) {
    GangResult gang;
    const auto& runs = line.Ports();
    gang.ports.resize(runs.size());
    // One id per port, in port order (a scanner's lines follow the fixture's order), before
    // any port starts; ids of a port's own (its tile's) are waited for on the port's thread,
    // every port at once, and each port starts with its id.
    UnitIds* unitIds = line.Shared().unitIds;
    const bool perPort = unitIds != nullptr && unitIds->IdsPerPort();
    const auto cancelled = [&line] { return line.Cancelled(); };
    std::vector<std::optional<std::string>> ids(runs.size(), std::string());
    if (unitIds != nullptr && !perPort) {
        for (std::size_t i = 0; i < runs.size(); ++i) {
            ids[i] = line.Cancelled() ? std::nullopt : TakeUnitId(line, *runs[i], cancelled, tick);
        }
    }
    line.Run(
        [&](PortRun& run, std::size_t index) {
            if (perPort) {
                ids[index] = TakeUnitId(line, run, cancelled, {});
            }
            gang.ports[index] = ids[index] ? LoadUnit(line, run, *ids[index]) : NoUnitId(line, run);
        },
        tick);
    for (const UnitResult& r : gang.ports) {
        Count(gang.yield, r);
        if (r.exitStatus != Code(ExitStatus::Ok) && gang.exitStatus == Code(ExitStatus::Ok)) {
            gang.exitStatus = r.exitStatus;
        }
    }
    return gang;
}

StationResult RunStation(Line& line, const StationSettings& how,
                         const std::function<void()>& tick) {
    std::atomic<int> claimed{0};
    std::atomic<int> done{0};
    std::mutex countsMutex;
    StationResult counts;
    int firstFailure = Code(ExitStatus::Ok);
    std::mutex nextPanelMutex;  // one port at a time waits for the operator
    std::atomic<bool> inputEnded{false};

    const auto finished = [&] {
        return line.Cancelled() || line.Shared().stop.load() || inputEnded.load() ||
               (how.count > 0 && done.load() >= how.count);
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

    const auto body = [&](PortRun& run, std::size_t) {
        const std::string& port = run.Port();
        bool first = true;
        // A scanned id is what starts the next panel; a counted one waits for Enter.
        const bool idStarts =
            line.Shared().unitIds != nullptr && line.Shared().unitIds->IdMarksNextUnit();
        while (!finished()) {
            if (how.fixed) {
                if (!first && !idStarts) {
                    run.SetState("press Enter for the next panel");
                    const std::lock_guard<std::mutex> lock(nextPanelMutex);
                    const auto cue = [&] {
                        const PanelCue c = how.nextPanel ? how.nextPanel() : PanelCue::None;
                        if (c == PanelCue::End) {
                            inputEnded = true;
                        }
                        return c == PanelCue::Next;
                    };
                    if (!waitFor(cue)) {
                        break;
                    }
                }
            } else {
                run.SetState("waiting for a panel");
                if (!waitFor([&] { return PortPresent(port); })) {
                    break;
                }
                run.Appeared();
                // A freshly plugged device needs a moment before it can be opened (udev).
                std::this_thread::sleep_for(how.settle);
            }
            first = false;
            if (how.count > 0 && claimed.fetch_add(1) >= how.count) {
                break;
            }
            std::optional<std::string> id;
            {
                // Ids in one sequence go to one port at a time, as Enter does.
                std::unique_lock<std::mutex> lock(nextPanelMutex, std::defer_lock);
                if (line.Shared().unitIds == nullptr || !line.Shared().unitIds->IdsPerPort()) {
                    lock.lock();
                }
                id = TakeUnitId(line, run, finished, {});
            }
            if (!id) {
                break;
            }
            const UnitResult r = LoadUnit(line, run, *id);
            const bool passed = r.exitStatus == Code(ExitStatus::Ok);
            if (passed && !id->empty()) {
                line.Shared().unitIds->Passed(*id);
            }
            const bool cancelled = r.outcome == DownloadOutcome::Cancelled;
            int passedNow = 0;
            int failedNow = 0;
            {
                const std::lock_guard<std::mutex> lock(countsMutex);
                ++(cancelled ? counts.cancelled : passed ? counts.passed : counts.failed);
                if (!cancelled) {
                    Count(counts.yield, r);
                }
                passedNow = counts.passed;
                failedNow = counts.failed;
                if (!passed && !cancelled && firstFailure == Code(ExitStatus::Ok)) {
                    firstFailure = r.exitStatus;
                }
            }
            if (how.onResult) {
                how.onResult(r, passedNow, failedNow);
            }
            ++done;
            if (!how.fixed) {
                run.SetState(passed      ? "passed: remove the panel"
                             : cancelled ? "cancelled: remove the panel"
                                         : "failed: remove the panel");
                if (!waitFor([&] { return !PortPresent(port); })) {
                    break;
                }
                run.Left();
            }
        }
        run.SetState("stopped");
    };
    line.Run(body, tick);

    counts.exitStatus = firstFailure;
    counts.inputEnded = inputEnded.load();
    if (line.Cancelled() && firstFailure == Code(ExitStatus::Ok)) {
        counts.exitStatus = Code(ExitStatus::Cancelled);
    }
    return counts;
}

}  // namespace tarvex::production

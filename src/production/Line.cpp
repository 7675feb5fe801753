#include "production/Line.h"

#include <atomic>
#include <filesystem>
#include <mutex>
#include <thread>

#include "production/ExitStatus.h"
#include "production/LinePlatform.h"
#include "serial/SerialPort.h"

namespace tarvex::production {
namespace {

using namespace std::chrono_literals;

constexpr auto kTickInterval = 100ms;
// How often a station looks at a port's device, or asks for the next panel, while it waits.
constexpr auto kWatchInterval = 100ms;

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
    for (auto& run : runs_) {
        if (const int status = run->Prepare(why); status != 0) {
            return status;
        }
    }
    return 0;
}

void Line::Run(const PortBody& body, const std::function<void()>& tick) {
    std::vector<std::thread> threads;
    std::atomic<std::size_t> running{runs_.size()};
    for (std::size_t i = 0; i < runs_.size(); ++i) {
        threads.emplace_back([&, i] {
            body(*runs_[i], i);
            --running;
        });
    }
    while (running.load() > 0) {
        if (tick) {
            tick();
        }
        std::this_thread::sleep_for(kTickInterval);
    }
    for (std::thread& t : threads) {
        t.join();
    }
}

GangResult RunGang(Line& line, const std::function<void()>& tick) {
    GangResult gang;
    gang.ports.resize(line.Ports().size());
    line.Run([&gang](PortRun& run, std::size_t index) { gang.ports[index] = run.Download(); },
             tick);
    for (const UnitResult& r : gang.ports) {
        if (r.exitStatus != Code(ExitStatus::Ok)) {
            gang.exitStatus = r.exitStatus;
            break;
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

    const auto finished = [&] {
        return line.Cancelled() || line.Shared().stop.load() ||
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
        while (!finished()) {
            if (how.fixed) {
                if (!first) {
                    run.SetState("press Enter for the next panel");
                    const std::lock_guard<std::mutex> lock(nextPanelMutex);
                    if (!waitFor([&] { return how.nextPanel && how.nextPanel(); })) {
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
            const UnitResult r = run.Download();
            const bool passed = r.exitStatus == Code(ExitStatus::Ok);
            int passedNow = 0;
            int failedNow = 0;
            {
                const std::lock_guard<std::mutex> lock(countsMutex);
                ++(passed ? counts.passed : counts.failed);
                passedNow = counts.passed;
                failedNow = counts.failed;
                if (!passed && firstFailure == Code(ExitStatus::Ok)) {
                    firstFailure = r.exitStatus;
                }
            }
            if (how.onResult) {
                how.onResult(r, passedNow, failedNow);
            }
            ++done;
            if (!how.fixed) {
                run.SetState(passed ? "passed: remove the panel" : "failed: remove the panel");
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
    if (line.Cancelled() && firstFailure == Code(ExitStatus::Ok)) {
        counts.exitStatus = Code(ExitStatus::Failure);
    }
    return counts;
}

}  // namespace tarvex::production

// A production line: one form per port, side by side in one process, and the two ways to run
// them: a gang (one download on every port at once) and a station (wait for the next panel on
// each port, download, repeat).
//
//   Line::Prepare(ports, why)   a PortRun per port, the forms started and filled in one after
//                               another (a form's start probes the ports): 0, or the status
//                               of the first port that could not be prepared (`why` tells a
//                               usage error, or a platform that cannot run a line)
//   Line::Run(body, tick)       `body` for each port on a thread of its own; the calling thread
//                               runs `tick` about every 100 ms until every body has returned
//                               (a display, and the place where a front end turns an interrupt
//                               into Cancel())
//   LoadUnit(line, run, id)     one unit: up to 1 + retries attempts, again only while an
//                               attempt may be retried (UnitResult::mayRetry); the last one's
//                               result
//   SameDeviceTwice(ports)      empty when no two of the ports are names of one device (a
//                               by-id link and its node); else the refusal naming both (Prepare
//                               refuses such a line as a usage error)
//   RunGang(line, tick)         every port's result, and the status of the run: 0 when every
//                               port succeeded, else the first failure's in port order; with
//                               unit ids, one id per port is taken first, in port order
//                               (ids per port, from the dashboard: each port waits for its own
//                               and starts with it)
//   RunStation(line, how, tick) the station loop on every port; the counts and the status of
//                               the run
//
// Whether this platform can run a line at all, and how a station sees a port's device come and
// go, is in LinePlatform.h.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "production/PortRun.h"
#include "production/Yield.h"

namespace tarvex::production {

using PortBody = std::function<void(PortRun& run, std::size_t index)>;

class Line {
  public:
    explicit Line(RunShared& shared) : shared_(shared) {}

    int Prepare(const std::vector<std::string>& ports, std::string& why);
    void Run(const PortBody& body, const std::function<void()>& tick);

    void Cancel() { shared_.cancel.store(true); }
    // A station ends the downloads in progress and starts no more (a gang runs one anyway).
    void StopAfterUnits() { shared_.stop.store(true); }
    bool Cancelled() const { return shared_.cancel.load(); }
    RunShared& Shared() { return shared_; }
    const std::vector<std::unique_ptr<PortRun>>& Ports() const { return runs_; }

  private:
    RunShared& shared_;
    std::vector<std::unique_ptr<PortRun>> runs_;
};

UnitResult LoadUnit(Line& line, PortRun& run, const std::string& unitId);
std::string SameDeviceTwice(const std::vector<std::string>& ports);

struct GangResult {
    std::vector<UnitResult> ports;  // in port order
    int exitStatus = 0;
    YieldTally yield;
};

GangResult RunGang(Line& line, const std::function<void()>& tick);

// What the operator of a fixed port said: nothing yet, the next panel is in, or no more will
// come (standard input has ended): the station stops.
enum class PanelCue { None, Next, End };

struct StationSettings {
    int count = 0;  // stop after this many panels on all ports together; 0: until cancelled
    // The port stays (an operator swaps panels on it): the first panel is loaded at once, each
    // next one when `nextPanel` says so (asked about every 100 ms, one port at a time).
    bool fixed = false;
    std::function<PanelCue()> nextPanel;
    std::chrono::milliseconds settle{300};  // after a port appears, before it is opened
    // After every panel, on the port's thread: its result and the counts so far (a cancelled
    // panel counts as neither passed nor failed).
    std::function<void(const UnitResult& result, int passed, int failed)> onResult;
};

struct StationResult {
    int passed = 0;
    int failed = 0;
    int cancelled = 0;
    YieldTally yield;
    bool inputEnded = false;  // the fixed port's operator input ended
    // 0 when every panel passed, else the first failure's; when none failed, 6 (cancelled)
    // after a cancel.
    int exitStatus = 0;
};

StationResult RunStation(Line& line, const StationSettings& how, const std::function<void()>& tick);

}  // namespace tarvex::production

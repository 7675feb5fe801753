// The state of every port for a display of the line (the terminal's board, a dashboard): a
// sink of the line's events, read from another thread.
//
// state: "waiting" until something happens, "downloading" from a start, "passed", "failed" or
// "cancelled" at the result, else what the port waits for (a station's "waiting for a panel").
// The counts of passed, failed and cancelled units add up over the run. The speed is that of
// a running download only, and a port that waits has no percent: nothing of the last unit
// stays on a port that has moved on.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "production/LineEvents.h"

namespace tarvex::production {

struct PortStatus {
    std::string state = "waiting";
    std::string item;    // "Application", "Recipe Alpha"
    std::string unitId;  // the unit on the port now; empty when the line numbers none
    int attempt = 1;
    int attempts = 1;
    std::uint64_t bytesDone = 0;
    std::uint64_t bytesPlanned = 0;
    double bytesPerSecond = 0;
    int passed = 0;
    int failed = 0;
    int cancelled = 0;
};

class BoardState final : public IEventSink {
  public:
    void OnEvent(const LineEvent& event) override;
    // A copy; a port not heard of yet is waiting.
    PortStatus Status(const std::string& port) const;

  private:
    mutable std::mutex mutex_;
    std::map<std::string, PortStatus> ports_;
};

}  // namespace tarvex::production

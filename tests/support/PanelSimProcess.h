// tarvex-panel-sim as a child process of a test: started with the given options, its pty path
// read from the first line it prints, stopped (SIGTERM, then SIGKILL) when the object goes.
//
//   PanelSimProcess sim({"--product-code", "17", "--out", dir});
//   sim.port()              the pty slave to open as the serial port
//   sim.WaitExit(2s)        its exit status once it has ended
#pragma once

#include <sys/types.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "support/PtyPair.h"

namespace tarvex::test {

class PanelSimProcess {
  public:
    explicit PanelSimProcess(const std::vector<std::string>& args);
    PanelSimProcess(const PanelSimProcess&) = delete;
    PanelSimProcess& operator=(const PanelSimProcess&) = delete;
    ~PanelSimProcess();

    // Empty when the simulator did not print its port.
    const std::string& port() const { return port_; }
    void Signal(int signal) const;

    // The exit status once the process has ended within the time-out; 128 + n for a signal n.
    std::optional<int> WaitExit(std::chrono::milliseconds timeout);

    static std::string Path();

  private:
    std::string ReadLine(std::chrono::milliseconds timeout);

    pid_t pid_ = -1;
    UniqueFd out_;
    std::string port_;
    std::optional<int> status_;
};

}  // namespace tarvex::test

// One form on one port, for the commands that run several ports in one process (gang,
// station) and for the pieces they share with download.
//
// Every port gets its own form (CTarvexDlg), its own message interface and its own thread.
// What the ports share is given to each of them in RunShared: the form options, the checked
// container (read once, held once), the one permission to write the settings file, the JSON
// Lines writer, the report, the message lines and the cancel request. A port's thread only
// ever touches its own form.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <sstream>
#include <string>

#include "app/cli/CliUserInterface.h"
#include "app/cli/DownloadReport.h"
#include "app/cli/FormOptions.h"
#include "app/cli/JsonProgress.h"
#include "download/SharedContainer.h"
#include "hmi/TransferProgress.h"
#include "ui/TarvexDlg.h"

namespace tarvex::cli {

inline constexpr int kExitPortFailed = 4;
inline constexpr int kExitItemMissing = 5;
inline constexpr int kExitCancelled = 6;
inline constexpr int kExitPanelCodeBase = 10;  // + the panel's code 1..9

// The exit status of the form's last download (the table in `download --help`).
int ExitStatusFor(const CTarvexDlg& form);
// Image bytes the ticked items carry (padding not counted, as the progress sink counts them);
// right when the first item starts, before anything was consumed.
std::uint64_t PlannedDataBytes(const CTarvexDlg& form);

// Lines written whole, one write() each, from any thread (messages of several ports).
class LineOutput {
  public:
    explicit LineOutput(int fd) : fd_(fd) {}
    void Write(const std::string& line);
    // Runs before a line is written, under the same lock (a redrawn display steps aside).
    void SetBeforeWrite(std::function<void()> hook);
    std::mutex& Mutex() { return mutex_; }

  private:
    int fd_;
    std::mutex mutex_;
    std::function<void()> before_;
};

// Passes every event on to several listeners.
class ProgressFanOut final : public ITransferProgress {
  public:
    void Add(ITransferProgress* listener) {
        if (listener != nullptr) {
            listeners_.push_back(listener);
        }
    }
    void OnItemStarted(const TransferItem& i) override {
        Each([&](auto* l) { l->OnItemStarted(i); });
    }
    void OnPhase(TransferPhase p) override {
        Each([&](auto* l) { l->OnPhase(p); });
    }
    void OnConfirmed(TransferPhase p) override {
        Each([&](auto* l) { l->OnConfirmed(p); });
    }
    void OnDescribeWaitOver() override {
        Each([](auto* l) { l->OnDescribeWaitOver(); });
    }
    void OnPacketSent(std::uint32_t n, std::uint64_t b) override {
        Each([&](auto* l) { l->OnPacketSent(n, b); });
    }
    void OnResend(TransferPhase p, int a) override {
        Each([&](auto* l) { l->OnResend(p, a); });
    }
    void OnItemEnded(int r) override {
        Each([&](auto* l) { l->OnItemEnded(r); });
    }
    void OnCancelled() override {
        Each([](auto* l) { l->OnCancelled(); });
    }

  private:
    template <typename F>
    void Each(F f) {
        for (ITransferProgress* l : listeners_) {
            f(l);
        }
    }
    std::vector<ITransferProgress*> listeners_;
};

// A port's state for a display: updated by the port's thread, read by the display's.
struct PortStatus {
    std::string state = "waiting";  // waiting, downloading, passed, failed, ...
    std::string item;
    std::uint64_t bytesDone = 0;
    std::uint64_t bytesPlanned = 0;
    double bytesPerSecond = 0;
    int passed = 0;
    int failed = 0;
};

struct RunShared {
    FormOptions form;  // the port is set per port
    std::shared_ptr<ContainerCache> containers = std::make_shared<ContainerCache>();
    JsonLines* json = nullptr;
    ReportWriter* report = nullptr;
    LineOutput* messages = nullptr;  // "port: Caption: text" lines
    std::atomic<bool> cancel{false};
    std::atomic<bool> settingsWritten{false};
    std::mutex startMutex;  // a form's start probes every port: one form at a time
};

struct PortResult {
    std::string port;
    int exitStatus = 0;
    DownloadOutcome outcome = DownloadOutcome::None;
    int panelCode = 0;
    std::string message;
    std::uint64_t bytes = 0;
    double seconds = 0;
    std::string serialNumber;
};

class PortRun {
  public:
    PortRun(RunShared& shared, std::string port);
    PortRun(const PortRun&) = delete;
    PortRun& operator=(const PortRun&) = delete;
    ~PortRun();

    const std::string& Port() const { return port_; }
    // Starts the form and fills it in from the options. 0, or the exit status that ends this
    // port (2 usage error, 3 refused); `why` tells a usage error.
    int Prepare(std::string& why);
    // Presses Download and waits for its end; listens to the transfer meanwhile.
    PortResult Download();

    // A copy of the port's state, for a display on another thread.
    PortStatus Status() const;
    void SetState(const std::string& state);
    void Count(bool passed);

  private:
    class Ui;
    class StatusListener;

    RunShared& shared_;
    std::string port_;
    std::unique_ptr<std::ostream> errStream_;
    std::unique_ptr<Ui> ui_;
    CDownloadInfo info_;
    std::unique_ptr<CTarvexDlg> form_;
    std::unique_ptr<StatusListener> status_;
    std::optional<JsonProgress> json_;
    ReportCollector collected_;
    ProgressFanOut fanOut_;
    mutable std::mutex statusMutex_;
    PortStatus statusCopy_;
};

}  // namespace tarvex::cli

// --report FILE: one JSON line appended per panel, a traceable record of what went into which
// unit.
//
//   ReportCollector    listens to the transfer: the items sent with their sizes and results,
//                      the resends
//   ReportWriter       builds the record (times, host, port and adapter, product and versions,
//                      slave ID, the container's path, size, SHA-256 and stored checksums, the
//                      items, outcome, exit status, the panel's code and message, resends, the
//                      tool's version; never a password) and appends it
//   AppendLine(...)    O_APPEND, the whole line in one write(), then fsync: several processes
//                      may append to one file at once and no line is lost or torn
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "download/SharedContainer.h"
#include "hmi/TransferProgress.h"
#include "serial/PortProbe.h"
#include "ui/TarvexDlg.h"

namespace tarvex::cli {

class ReportCollector final : public ITransferProgress {
  public:
    struct Item {
        std::string item;
        std::string name;
        std::uint64_t bytes = 0;
        int result = -1;  // 0 done, 1 failed or cancelled, -1 not ended
    };

    void Reset() { *this = ReportCollector(); }
    void OnItemStarted(const TransferItem& item) override;
    void OnResend(TransferPhase phase, int attempt) override;
    void OnItemEnded(int result) override;

    const std::vector<Item>& Items() const { return items_; }
    std::uint64_t Resends() const { return resends_; }

  private:
    std::vector<Item> items_;
    std::uint64_t resends_ = 0;
};

// The result of one download, as the command saw it.
struct DownloadEnd {
    std::string port;
    std::chrono::system_clock::time_point started;
    std::chrono::system_clock::time_point ended;
    DownloadOutcome outcome = DownloadOutcome::None;
    int exitStatus = 0;
    int panelCode = 0;    // 1..9, else 0
    std::string message;  // the form's last message, "Caption: text"
};

// Appends line (a newline is added) to path. False, with the reason, when it could not be
// written completely and synced.
bool AppendLine(const std::string& path, const std::string& line, std::string& error);

class ReportWriter {
  public:
    explicit ReportWriter(std::string path) : path_(std::move(path)) {}

    const std::string& Path() const { return path_; }
    // The record of one download. `adapter` is what the system knows of the port, if anything.
    nlohmann::json Record(const CTarvexDlg& form, const ReportCollector& collected,
                          const DownloadEnd& end, const std::optional<PortInfo>& adapter);
    // Builds and appends the record; false with the reason when it could not be written.
    bool Append(const CTarvexDlg& form, const ReportCollector& collected, const DownloadEnd& end,
                const std::optional<PortInfo>& adapter, std::string& error);

  private:
    std::string Digest(const CTarvexDlg& form, const std::string& path);

    std::string path_;
    std::mutex mutex_;  // the digests of the shared containers, computed once each
    std::vector<std::pair<std::weak_ptr<const SharedContainer>, std::string>> digests_;
};

// What the system knows of a device (USB ids, serial number), without opening it.
std::optional<PortInfo> DescribeDevice(const ProbeOptions& probe, const std::string& devicePath);

}  // namespace tarvex::cli

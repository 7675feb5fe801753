// Machine-readable progress: JSON Lines, one object per event, on standard output.
//
//   JsonLines          the shared writer: one line per object, written with a single write(),
//                      so that lines from several ports never interleave
//   JsonProgress       one port's events: start, item, progress, message, result
//
// Every object carries "event", "port" and "time" (UTC, ISO 8601 with milliseconds); the fields
// of each event are documented in docs/progress-json.md and, as a JSON Schema, in
// docs/progress-json.schema.json.
#pragma once

#include <chrono>
#include <cstdint>
#include <mutex>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>

#include "hmi/TransferProgress.h"
#include "platform/UserInterface.h"
#include "ui/TarvexDlg.h"

namespace tarvex::cli {

// "2026-12-08T21:44:12.123Z"
std::string IsoTimeUtc(std::chrono::system_clock::time_point when);
// "complete", "refused", "port_failed", "item_missing", "panel_code", "failed", "cancelled"
const char* OutcomeKey(DownloadOutcome outcome);

class JsonLines {
  public:
    explicit JsonLines(int fd) : fd_(fd) {}
    void Emit(const nlohmann::json& object);

  private:
    int fd_;
    std::mutex mutex_;
};

class JsonProgress final : public ITransferProgress {
  public:
    // At most this often a "progress" event per port, besides every item's last packet.
    static constexpr std::chrono::milliseconds kInterval{200};

    JsonProgress(JsonLines& out, std::string port) : out_(out), port_(std::move(port)) {}

    void Start(const CTarvexDlg& form);
    void Message(MessageKind kind, std::string_view caption, std::string_view text);
    void Result(DownloadOutcome outcome, int exitStatus, int panelCode, std::string_view message);

    void OnItemStarted(const TransferItem& item) override;
    void OnPacketSent(std::uint32_t packetsDone, std::uint64_t bytesDone) override;
    void OnResend(TransferPhase phase, int attempt) override;

  private:
    nlohmann::json Event(const char* name) const;

    JsonLines& out_;
    std::string port_;
    std::string item_;
    nlohmann::json itemName_;
    std::uint64_t itemBytes_ = 0;
    std::uint32_t itemPackets_ = 0;
    std::uint64_t doneBefore_ = 0;  // bytes of the items before this one
    std::uint64_t itemDone_ = 0;
    std::uint64_t resends_ = 0;
    std::chrono::steady_clock::time_point start_{};
    std::chrono::steady_clock::time_point itemStart_{};
    std::chrono::steady_clock::time_point lastShown_{};
};

}  // namespace tarvex::cli

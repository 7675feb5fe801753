#include "app/cli/JsonProgress.h"

#include <ctime>

#include "app/cli/CliUserInterface.h"
#include "platform/Files.h"
#include "platform/Host.h"

namespace tarvex::cli {

std::string IsoTimeUtc(std::chrono::system_clock::time_point when) {
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(when.time_since_epoch());
    const std::time_t seconds = static_cast<std::time_t>(ms.count() / 1000);
    const std::tm utc = platform::UtcCalendar(seconds);
    char text[96];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", utc.tm_year + 1900,
                  utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec,
                  static_cast<int>(ms.count() % 1000));
    return text;
}

const char* OutcomeKey(DownloadOutcome outcome) {
    switch (outcome) {
        case DownloadOutcome::Complete:
            return "complete";
        case DownloadOutcome::Refused:
            return "refused";
        case DownloadOutcome::PortFailed:
            return "port_failed";
        case DownloadOutcome::ItemMissing:
            return "item_missing";
        case DownloadOutcome::PanelCode:
            return "panel_code";
        case DownloadOutcome::Cancelled:
            return "cancelled";
        case DownloadOutcome::None:
        case DownloadOutcome::Failed:
            break;
    }
    return "failed";
}

void JsonLines::Emit(const nlohmann::json& object) {
    // Invalid UTF-8 in a file's text (a recipe name, a path) is replaced, never thrown at.
    const std::string line =
        object.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
    const std::lock_guard<std::mutex> lock(mutex_);
    (void)platform::WriteAll(fd_, line);
}

nlohmann::json JsonProgress::Event(const char* name) const {
    nlohmann::json event;
    event["event"] = name;
    event["port"] = port_;
    event["time"] = IsoTimeUtc(std::chrono::system_clock::now());
    return event;
}

void JsonProgress::Start(const CTarvexDlg& form) {
    start_ = std::chrono::steady_clock::now();
    doneBefore_ = 0;
    itemDone_ = 0;
    itemBytes_ = 0;
    resends_ = 0;
    nlohmann::json event = Event("start");
    event["product"] = form.m_cmbProduct.GetWindowText();
    event["bootloader"] = form.m_cmbBootloaderVersion.GetWindowText();
    event["firmware"] = form.m_cmbFirmwareVersion.GetWindowText();
    event["container"] = form.m_editFileToSend.GetWindowText();
    out_.Emit(event);
}

void JsonProgress::Message(MessageKind kind, std::string_view caption, std::string_view text) {
    nlohmann::json event = Event("message");
    event["kind"] = MessageKindKey(kind);
    event["caption"] = std::string(caption);
    event["text"] = std::string(text);
    out_.Emit(event);
}

void JsonProgress::Result(DownloadOutcome outcome, int exitStatus, int panelCode,
                          std::string_view message) {
    nlohmann::json event = Event("result");
    event["outcome"] = OutcomeKey(outcome);
    event["exit_status"] = exitStatus;
    event["panel_code"] = panelCode > 0 ? nlohmann::json(panelCode) : nlohmann::json(nullptr);
    event["message"] = std::string(message);
    event["bytes_done"] = doneBefore_ + itemDone_;
    event["resends"] = resends_;
    event["seconds"] =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
    out_.Emit(event);
}

void JsonProgress::OnItemStarted(const TransferItem& item) {
    doneBefore_ += itemDone_;
    itemDone_ = 0;
    item_ = std::string(TransferItemLabel(item.kind));
    itemName_ = item.name.empty() ? nlohmann::json(nullptr) : nlohmann::json(item.name);
    itemBytes_ = item.bytes;
    itemPackets_ = item.packets;
    itemStart_ = std::chrono::steady_clock::now();
    lastShown_ = {};
    nlohmann::json event = Event("item");
    event["item"] = item_;
    event["name"] = itemName_;
    event["bytes"] = item.bytes;
    event["packets"] = item.packets;
    out_.Emit(event);
}

void JsonProgress::OnPacketSent(std::uint32_t packetsDone, std::uint64_t bytesDone) {
    itemDone_ = bytesDone;
    const auto now = std::chrono::steady_clock::now();
    if (packetsDone < itemPackets_ && now - lastShown_ < kInterval) {
        return;
    }
    lastShown_ = now;
    const double seconds = std::chrono::duration<double>(now - itemStart_).count();
    nlohmann::json event = Event("progress");
    event["item"] = item_;
    event["name"] = itemName_;
    event["bytes_done"] = bytesDone;
    event["bytes_total"] = itemBytes_;
    event["rate"] = seconds > 0 ? static_cast<double>(bytesDone) / seconds : 0.0;
    out_.Emit(event);
}

void JsonProgress::OnResend(TransferPhase, int) {
    ++resends_;
}

}  // namespace tarvex::cli

#include "production/BoardState.h"

namespace tarvex::production {

void BoardState::OnEvent(const LineEvent& any) {
    const std::lock_guard<std::mutex> lock(mutex_);
    PortStatus& s = ports_[PortOf(any)];
    if (const auto* start = std::get_if<StartEvent>(&any)) {
        s.state = "downloading";
        s.unitId = start->unit.unitId;
        s.attempt = start->unit.attempt;
        s.attempts = start->unit.attempts;
        s.item.clear();
        s.bytesDone = 0;
        s.bytesPlanned = 0;
        s.bytesPerSecond = 0;
    } else if (const auto* item = std::get_if<ItemEvent>(&any)) {
        s.item = item->item + (item->name.empty() ? "" : " " + item->name);
    } else if (const auto* progress = std::get_if<ProgressEvent>(&any)) {
        s.bytesDone = progress->unitBytesDone;
        s.bytesPlanned = progress->unitBytesPlanned;
        s.bytesPerSecond = progress->unitRate;
    } else if (const auto* result = std::get_if<ResultEvent>(&any)) {
        const bool cancelled = result->outcome == DownloadOutcome::Cancelled;
        const bool passed = !cancelled && result->exitStatus == 0;
        s.state = cancelled ? "cancelled" : passed ? "passed" : "failed";
        ++(cancelled ? s.cancelled : passed ? s.passed : s.failed);
        s.bytesPerSecond = 0;
    } else if (const auto* state = std::get_if<PortStateEvent>(&any)) {
        s.state = state->state;
        s.item.clear();
        s.bytesDone = 0;
        s.bytesPlanned = 0;
        s.bytesPerSecond = 0;
    }
}

PortStatus BoardState::Status(const std::string& port) const {
    const std::lock_guard<std::mutex> lock(mutex_);
    const auto found = ports_.find(port);
    return found == ports_.end() ? PortStatus{} : found->second;
}

}  // namespace tarvex::production

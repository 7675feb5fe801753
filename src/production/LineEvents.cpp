#include "production/LineEvents.h"

namespace tarvex::production {

const std::string& PortOf(const LineEvent& event) {
    return std::visit([](const auto& e) -> const std::string& { return e.port; }, event);
}

const char* MessageKindKey(MessageKind kind) {
    switch (kind) {
        case MessageKind::Notice:
            return "notice";
        case MessageKind::ErrorBox:
            return "error";
        case MessageKind::PlainBox:
            return "plain";
    }
    return "notice";
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

void EventStream::Add(IEventSink* sink) {
    if (sink != nullptr) {
        sinks_.push_back(sink);
    }
}

void EventStream::AddRecordSink(IRecordSink* sink) {
    if (sink != nullptr) {
        records_.push_back(sink);
    }
}

void EventStream::Emit(const LineEvent& event) const {
    for (IEventSink* sink : sinks_) {
        sink->OnEvent(event);
    }
}

bool EventStream::Keep(const ResultEvent& result, std::string& failure) const {
    for (IRecordSink* sink : records_) {
        if (!sink->Keep(result, failure)) {
            return false;
        }
    }
    return true;
}

}  // namespace tarvex::production

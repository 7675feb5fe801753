#include "production/JsonProgress.h"

#include "platform/Files.h"
#include "production/DownloadReport.h"

namespace tarvex::production {
namespace {

nlohmann::json Base(const char* name, const std::string& port, WallTime time) {
    nlohmann::json event;
    event["event"] = name;
    event["port"] = port;
    event["time"] = IsoTimeUtc(time);
    return event;
}

nlohmann::json NameOrNull(const std::string& name) {
    return name.empty() ? nlohmann::json(nullptr) : nlohmann::json(name);
}

}  // namespace

void JsonLines::Emit(const nlohmann::json& object) {
    // Invalid UTF-8 in a file's text (a recipe name, a path) is replaced, never thrown at.
    const std::string line =
        object.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
    const std::lock_guard<std::mutex> lock(mutex_);
    (void)platform::WriteAll(fd_, line);
}

nlohmann::json JsonProgress::Object(const LineEvent& any) {
    if (const auto* e = std::get_if<StartEvent>(&any)) {
        nlohmann::json event = Base("start", e->port, e->time);
        event["product"] = e->product;
        event["bootloader"] = e->bootloader;
        event["firmware"] = e->firmware;
        event["container"] = e->container;
        return event;
    }
    if (const auto* e = std::get_if<ItemEvent>(&any)) {
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            lastProgress_.erase(e->port);
        }
        nlohmann::json event = Base("item", e->port, e->time);
        event["item"] = e->item;
        event["name"] = NameOrNull(e->name);
        event["bytes"] = e->bytes;
        event["packets"] = e->packets;
        return event;
    }
    if (const auto* e = std::get_if<ProgressEvent>(&any)) {
        const auto now = std::chrono::steady_clock::now();
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            const auto last = lastProgress_.find(e->port);
            if (e->packetsDone < e->packets && last != lastProgress_.end() &&
                now - last->second < kInterval) {
                return nullptr;
            }
            lastProgress_[e->port] = now;
        }
        nlohmann::json event = Base("progress", e->port, e->time);
        event["item"] = e->item;
        event["name"] = NameOrNull(e->name);
        event["bytes_done"] = e->bytesDone;
        event["bytes_total"] = e->bytesTotal;
        event["rate"] = e->rate;
        return event;
    }
    if (const auto* e = std::get_if<MessageEvent>(&any)) {
        if (!e->box) {
            return nullptr;  // the line's own notes are for people
        }
        nlohmann::json event = Base("message", e->port, e->time);
        event["kind"] = MessageKindKey(*e->box);
        event["caption"] = e->caption;
        event["text"] = e->text;
        return event;
    }
    if (const auto* e = std::get_if<ResultEvent>(&any)) {
        nlohmann::json event = Base("result", e->port, e->time);
        event["outcome"] = OutcomeKey(e->outcome);
        event["exit_status"] = e->exitStatus;
        event["panel_code"] =
            e->panelCode > 0 ? nlohmann::json(e->panelCode) : nlohmann::json(nullptr);
        event["message"] = e->message;
        event["bytes_done"] = e->bytesDone;
        event["resends"] = e->resends;
        event["seconds"] = e->seconds;
        return event;
    }
    return nullptr;
}

void JsonProgress::OnEvent(const LineEvent& event) {
    if (out_ == nullptr) {
        return;
    }
    if (const nlohmann::json object = Object(event); !object.is_null()) {
        out_->Emit(object);
    }
}

nlohmann::json PortEventObject(const LineEvent& any) {
    if (const auto* e = std::get_if<PortStateEvent>(&any)) {
        nlohmann::json event = Base("port_state", e->port, e->time);
        event["state"] = e->state;
        return event;
    }
    if (const auto* e = std::get_if<PortAppearedEvent>(&any)) {
        return Base("port_appeared", e->port, e->time);
    }
    if (const auto* e = std::get_if<PortLeftEvent>(&any)) {
        return Base("port_left", e->port, e->time);
    }
    return nullptr;
}

}  // namespace tarvex::production

// Machine-readable progress: JSON Lines, one object per event, on standard output.
//
//   JsonLines          the shared writer: one line per object, written with a single write(),
//                      so that lines from several ports never interleave
//   JsonProgress       the sink of the line's events that writes them: start, item, progress
//                      (at most every kInterval per port, and at every item's last packet),
//                      message (the form's message boxes), result; made without a writer, it
//                      only turns events into objects (the dashboard's live stream)
//   PortEventObject    port_state, port_appeared, port_left: the ports' own events, which the
//                      dashboard's stream carries beside the progress objects
//
// Every object carries "event", "port" and "time" (UTC, ISO 8601 with milliseconds); the fields
// of each event are documented in docs/progress-json.md and, as a JSON Schema, in
// docs/progress-json.schema.json.
#pragma once

#include <chrono>
#include <map>
#include <mutex>
#include <nlohmann/json.hpp>
#include <string>

#include "production/LineEvents.h"

namespace tarvex::production {

class JsonLines {
  public:
    explicit JsonLines(int fd) : fd_(fd) {}
    void Emit(const nlohmann::json& object);

  private:
    int fd_;
    std::mutex mutex_;
};

class JsonProgress final : public IEventSink {
  public:
    static constexpr std::chrono::milliseconds kInterval{200};

    JsonProgress() = default;
    explicit JsonProgress(JsonLines& out) : out_(&out) {}

    void OnEvent(const LineEvent& event) override;
    // The object an event becomes; null for the events that have none.
    nlohmann::json Object(const LineEvent& event);

  private:
    JsonLines* out_ = nullptr;
    std::mutex mutex_;
    std::map<std::string, std::chrono::steady_clock::time_point> lastProgress_;  // per port
};

// Null for the events that are not a port's own.
nlohmann::json PortEventObject(const LineEvent& event);

}  // namespace tarvex::production

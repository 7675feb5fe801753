// Text lines on standard error, whole, from any thread: the messages of the ports of a line.
//
//   LineOutput         one write() per line, under a lock; a hook runs before each line under
//                      the same lock (a board redrawn in place steps aside there)
//   MessageLines       the sink of the line's messages: a form's message box as
//                      "Caption: text", a note of the line (a hint, a question answered, a
//                      record that failed) as its text; each line prefixed with "PORT: " when
//                      several ports share the output. Boxes can be left out where the
//                      command's message interface prints them already.
#pragma once

#include <functional>
#include <mutex>
#include <string>

#include "production/LineEvents.h"

namespace tarvex::cli {

class LineOutput {
  public:
    explicit LineOutput(int fd) : fd_(fd) {}
    void Write(const std::string& line);
    void SetBeforeWrite(std::function<void()> hook);
    std::mutex& Mutex() { return mutex_; }

  private:
    int fd_;
    std::mutex mutex_;
    std::function<void()> before_;
};

class MessageLines final : public production::IEventSink {
  public:
    struct Style {
        bool portPrefix = true;
        bool boxes = true;
    };
    MessageLines(LineOutput& out, Style style) : out_(out), style_(style) {}
    void OnEvent(const production::LineEvent& event) override;

  private:
    LineOutput& out_;
    Style style_;
};

}  // namespace tarvex::cli

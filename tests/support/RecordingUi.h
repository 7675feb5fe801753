// An IUserInterface for tests: records every message, answers the open-file dialog from a
// queue, and runs a hook on each event pump (a test presses Cancel from there).
#pragma once

#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/UserInterface.h"

namespace tarvex::test {

struct RecordedMessage {
    MessageKind kind;
    std::string caption;
    std::string text;
};

class RecordingUi : public IUserInterface {
  public:
    void ShowMessage(MessageKind kind, std::string_view caption, std::string_view text) override;
    std::optional<std::string> AskOpenFile(std::string_view filter,
                                           std::string_view initialDir) override;
    bool AskYesNo(std::string_view caption, std::string_view text, bool defaultYes) override;
    void PumpEvents() override;
    void Idle() override;

    std::vector<RecordedMessage> messages;
    std::vector<std::string> filtersAsked;
    std::deque<std::optional<std::string>> fileAnswers;  // empty queue: the user cancels
    std::deque<bool> yesNoAnswers;                       // empty queue: the default button
    std::vector<std::string> questions;  // "caption: text (default Yes|No)" for every question
    std::function<void()> onPump;        // run by every PumpEvents
    std::function<void(const RecordedMessage&)> onMessage;
    int pumpCount = 0;
    int idleCount = 0;

    // Texts of the recorded messages, in order.
    std::vector<std::string> Texts() const;
    void Clear() { messages.clear(); }
};

}  // namespace tarvex::test

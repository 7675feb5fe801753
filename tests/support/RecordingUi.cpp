#include "support/RecordingUi.h"

namespace tarvex::test {

void RecordingUi::ShowMessage(MessageKind kind, std::string_view caption, std::string_view text) {
    messages.push_back({kind, std::string(caption), std::string(text)});
    if (onMessage) {
        onMessage(messages.back());
    }
}

std::optional<std::string> RecordingUi::AskOpenFile(std::string_view filter, std::string_view) {
    filtersAsked.emplace_back(filter);
    if (fileAnswers.empty()) {
        return std::nullopt;
    }
    auto answer = fileAnswers.front();
    fileAnswers.pop_front();
    return answer;
}

bool RecordingUi::AskYesNo(std::string_view caption, std::string_view text, bool defaultYes) {
    questions.push_back(std::string(caption) + ": " + std::string(text) +
                        (defaultYes ? " (default Yes)" : " (default No)"));
    if (yesNoAnswers.empty()) {
        return defaultYes;
    }
    const bool answer = yesNoAnswers.front();
    yesNoAnswers.pop_front();
    return answer;
}

void RecordingUi::PumpEvents() {
    ++pumpCount;
    if (onPump) {
        onPump();
    }
}

void RecordingUi::Idle() {
    ++idleCount;
}

std::vector<std::string> RecordingUi::Texts() const {
    std::vector<std::string> out;
    out.reserve(messages.size());
    for (const auto& m : messages) {
        out.push_back(m.text);
    }
    return out;
}

}  // namespace tarvex::test

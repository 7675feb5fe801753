#include "app/cli/output/MessageLines.h"

#include <sstream>

#include "platform/Files.h"

namespace tarvex::cli {

void LineOutput::Write(const std::string& line) {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (before_) {
        before_();
    }
    (void)platform::WriteAll(fd_, line + "\n");
}

void LineOutput::SetBeforeWrite(std::function<void()> hook) {
    const std::lock_guard<std::mutex> lock(mutex_);
    before_ = std::move(hook);
}

void MessageLines::OnEvent(const production::LineEvent& event) {
    const auto* message = std::get_if<production::MessageEvent>(&event);
    if (message == nullptr || (message->box && !style_.boxes)) {
        return;
    }
    const std::string text = message->box ? message->caption + ": " + message->text : message->text;
    const std::string prefix = style_.portPrefix ? message->port + ": " : std::string();
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        out_.Write(prefix + line);
    }
}

}  // namespace tarvex::cli

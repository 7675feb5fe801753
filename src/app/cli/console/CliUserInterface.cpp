#include "app/cli/console/CliUserInterface.h"

#include <cstdio>
#include <ostream>

namespace tarvex::cli {

CliUserInterface::CliUserInterface(std::ostream& err) : err_(err) {}

void CliUserInterface::ShowMessage(MessageKind kind, std::string_view caption,
                                   std::string_view text) {
    if (beforeMessage_) {
        beforeMessage_();
    }
    err_ << caption << ": " << text << '\n';
    err_.flush();
    messages_.push_back({kind, std::string(caption), std::string(text)});
}

bool CliUserInterface::AskYesNo(std::string_view caption, std::string_view text, bool defaultYes) {
    if (beforeMessage_) {
        beforeMessage_();
    }
    const bool answer = yesNoAnswer_.value_or(defaultYes);
    err_ << caption << ": " << text << ' ' << (answer ? "Yes" : "No");
    if (!yesNoOption_.empty()) {
        err_ << (answer ? " (" + yesNoOption_ + " given)" : " (give " + yesNoOption_ + " for Yes)");
    }
    err_ << '\n';
    err_.flush();
    return answer;
}

std::optional<std::string> CliUserInterface::AskOpenFile(std::string_view, std::string_view) {
    std::optional<std::string> answer = std::move(openFileAnswer_);
    openFileAnswer_.reset();
    return answer;
}

void CliUserInterface::PumpEvents() {
    if (pumpHook_) {
        pumpHook_();
    }
}

void CliUserInterface::Idle() {
    if (pumpHook_) {
        pumpHook_();
    }
}

}  // namespace tarvex::cli

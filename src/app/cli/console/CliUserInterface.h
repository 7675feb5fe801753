// The user interface of the command line: every message box becomes one line on standard error,
// "Caption: text", and is kept for a report; nobody is there to pick a file, unless the command
// has named one in advance (an option that stands for the open-file dialog).
#pragma once

#include <functional>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

#include "platform/Text.h"  // Printable, for the commands that print what files hold
#include "platform/UserInterface.h"

namespace tarvex::cli {

struct ShownMessage {
    MessageKind kind;
    std::string caption;
    std::string text;
};

class CliUserInterface : public IUserInterface {
  public:
    explicit CliUserInterface(std::ostream& err);

    void ShowMessage(MessageKind kind, std::string_view caption, std::string_view text) override;
    // The answer named with SetOpenFileAnswer, once; otherwise nothing (the user cancels).
    std::optional<std::string> AskOpenFile(std::string_view filter,
                                           std::string_view initialDir) override;
    // Writes the question as one line, "Caption: text", and the answer given in advance with
    // SetYesNoAnswer (the option that stands for the user's answer), else the default.
    bool AskYesNo(std::string_view caption, std::string_view text, bool defaultYes) override;
    // Both run the pump hook, if any: the download command checks for an interrupt there.
    void PumpEvents() override;
    void Idle() override;

    void SetOpenFileAnswer(std::string path) { openFileAnswer_ = std::move(path); }
    // Every Yes/No question gets `answer`; `option` names the option that gave it.
    void SetYesNoAnswer(bool answer, std::string option) {
        yesNoAnswer_ = answer;
        yesNoOption_ = std::move(option);
    }
    void SetPumpHook(std::function<void()> hook) { pumpHook_ = std::move(hook); }
    // Runs before a message is written (a progress bar ends its line there).
    void SetBeforeMessageHook(std::function<void()> hook) { beforeMessage_ = std::move(hook); }
    const std::vector<ShownMessage>& Messages() const { return messages_; }

  private:
    std::ostream& err_;
    std::vector<ShownMessage> messages_;
    std::optional<std::string> openFileAnswer_;
    std::optional<bool> yesNoAnswer_;
    std::string yesNoOption_;
    std::function<void()> pumpHook_;
    std::function<void()> beforeMessage_;
};

}  // namespace tarvex::cli

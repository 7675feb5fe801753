#include "platform/UserInterface.h"

namespace tarvex {

void IUserInterface::ShowAbout() {
    ShowMessage(MessageKind::Notice, kAppName, kAboutText);
}

void Notice(IUserInterface& ui, std::string_view text) {
    ui.ShowMessage(MessageKind::Notice, kAppName, text);
}

void ErrorBox(IUserInterface& ui, std::string_view text, std::string_view caption) {
    ui.ShowMessage(MessageKind::ErrorBox, caption, text);
}

void PlainBox(IUserInterface& ui, std::string_view text) {
    ui.ShowMessage(MessageKind::PlainBox, "Error", text);
}

}  // namespace tarvex

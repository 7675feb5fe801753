// IUserInterface for the Qt dialog: message boxes, the file dialog and the event pump are Qt's.
//
//   notice      caption as given (the application's name), OK, no icon
//   error box   caption as given ("Error", "Com Port Error"), OK, the critical icon
//   plain box   caption "Error", OK, no icon
//
// Every box is modal and owned by the dialog, and shows its text literally (never as rich
// text). PumpEvents and Idle let Qt deliver pending events (repaint, a click on Cancel) while a
// download runs inside a button's handler.
#pragma once

#include <QMessageBox>
#include <QPointer>
#include <QWidget>

#include "platform/UserInterface.h"

namespace tarvex::qt {

QMessageBox::Icon IconFor(MessageKind kind);

class QtUserInterface : public IUserInterface {
  public:
    explicit QtUserInterface(QWidget* owner) : owner_(owner) {}

    void ShowMessage(MessageKind kind, std::string_view caption, std::string_view text) override;
    bool AskYesNo(std::string_view caption, std::string_view text, bool defaultYes) override;
    std::optional<std::string> AskOpenFile(std::string_view filter,
                                           std::string_view initialDir) override;
    void PumpEvents() override;
    void Idle() override;
    void ShowAbout() override;

  private:
    QPointer<QWidget> owner_;
};

}  // namespace tarvex::qt

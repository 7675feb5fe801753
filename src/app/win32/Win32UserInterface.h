// IUserInterface for the native dialog: message boxes, the open-file dialog and the event pump
// are the Win32 API's.
//
//   notice      caption as given (the application's name), OK, no icon
//   error box   caption as given ("Error", "Com Port Error"), OK, the error icon
//   plain box   caption "Error", OK, no icon
//
// Every box is modal and owned by the form's window. PumpEvents and Idle remove and dispatch
// the thread's pending messages (PeekMessageW, IsDialogMessageW for the form's keys), so that
// the progress bar repaints and Cancel can be pressed while a download runs inside the Download
// button's handler. A WM_QUIT met there is posted again for the loop that owns it.
#pragma once

#include "app/win32/Win32Api.h"

#include "app/win32/AutoTest.h"
#include "platform/UserInterface.h"

namespace tarvex::win32 {

// The MessageBoxW style of each presentation.
UINT MessageBoxStyle(MessageKind kind);

class Win32UserInterface : public IUserInterface {
  public:
    explicit Win32UserInterface(HINSTANCE instance) : instance_(instance) {}

    // The form's window: owner of the boxes, target of IsDialogMessageW.
    void SetOwner(HWND owner) { owner_ = owner; }
    // Scripted runs: boxes are logged and closed after the hook's pause.
    void SetAutoTest(const AutoTest* autoTest) { autoTest_ = autoTest; }

    void ShowMessage(MessageKind kind, std::string_view caption, std::string_view text) override;
    bool AskYesNo(std::string_view caption, std::string_view text, bool defaultYes) override;
    std::optional<std::string> AskOpenFile(std::string_view filter,
                                           std::string_view initialDir) override;
    void PumpEvents() override;
    void Idle() override;
    void ShowAbout() override;

  private:
    HINSTANCE instance_;
    HWND owner_ = nullptr;
    const AutoTest* autoTest_ = nullptr;
};

}  // namespace tarvex::win32

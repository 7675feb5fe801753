// The narrow interface through which the core talks to whoever shows it to a person.
//
// Message boxes, the open-file dialog and the event pump are the only things the core needs
// from a windowing toolkit. The Qt dialog, the command line and the tests each implement this
// interface; nothing in the core knows which one it is talking to.
//
//   ShowMessage   modal message, returns once acknowledged
//   AskOpenFile   choose an existing file, or nothing when the user cancels
//   AskYesNo      a modal Yes/No question
//   PumpEvents    handle pending input (repaint, a Cancel click) while long work runs
//   Idle          called repeatedly while a pause or a line read waits; may pump events
//
// Three presentations exist: a notice (the application's name as caption), an error box (error
// icon, caption "Error" or "Com Port Error") and a plain box (caption "Error", no icon).
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace tarvex {

inline constexpr std::string_view kAppName = "Tarvex";
inline constexpr std::string_view kAboutText = "Tarvex Version 1.1";

enum class MessageKind {
    Notice,    // OK button, application name as caption, no icon
    ErrorBox,  // OK button, error icon
    PlainBox,  // OK button, no icon
};

class IUserInterface {
  public:
    virtual ~IUserInterface() = default;

    // Shows one modal message; returns when the user has acknowledged it.
    virtual void ShowMessage(MessageKind kind, std::string_view caption, std::string_view text) = 0;

    // Asks for an existing file. `filter` has the form "BIN Files (*.bin)|*.bin||".
    // Returns the chosen full path, or nothing when the user cancelled.
    virtual std::optional<std::string> AskOpenFile(std::string_view filter,
                                                   std::string_view initialDir) = 0;

    // Asks a modal Yes/No question (caption, text, the default button); true for Yes. The
    // default gives the default answer without asking, for front ends that cannot ask.
    virtual bool AskYesNo(std::string_view caption, std::string_view text, bool defaultYes) {
        (void)caption;
        (void)text;
        return defaultYes;
    }

    // Removes and dispatches the pending user-interface events (repaint, button clicks).
    virtual void PumpEvents() = 0;

    // Called about every few tens of milliseconds while the core waits (a pause, a read on the
    // line). The default does nothing; a windowing front end pumps its events here so that the
    // window stays responsive. Must not start long work of its own.
    virtual void Idle() {}

    // The About box, modal. The default shows kAboutText as a notice; a windowing front end
    // shows a box of its own.
    virtual void ShowAbout();
};

// Convenience forms of the three presentations.
void Notice(IUserInterface& ui, std::string_view text);
void ErrorBox(IUserInterface& ui, std::string_view text, std::string_view caption = "Error");
void PlainBox(IUserInterface& ui, std::string_view text);

}  // namespace tarvex

// A hook for scripted runs of tarvex.exe, where no person sits at the screen.
//
// TARVEX_AUTOTEST=<log file> makes the dialog, once it is up, press Download through the form's
// own entry point, log every message box to the file as it appears (kind, caption, text, one
// line each, tab-separated) and close it after a pause, then log the outcome and, after the same
// pause, press Close. TARVEX_AUTOTEST_HOLD_MS sets the pause (default 3000 ms), which leaves a
// script time to take a screenshot of each box and of the finished form.
//
// Lines of the log:   workspace <folder> | status <status line> | ready |
//                      message <kind> <caption> <text> | about | download | outcome <name> |
//                      close
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "ui/TarvexDlg.h"

namespace tarvex::win32 {

struct AutoTest {
    std::wstring logPath;
    unsigned holdMs = 3000;
    bool pressButtons = true;  // false: only log and answer the boxes (the window tests)

    // Nothing unless TARVEX_AUTOTEST names a log file.
    static std::optional<AutoTest> FromEnvironment();

    // Appends one line; the file is closed after each line so that a watching script sees it.
    void Log(std::string_view line) const;
};

std::string_view OutcomeName(DownloadOutcome outcome);
std::string_view MessageKindName(MessageKind kind);

}  // namespace tarvex::win32

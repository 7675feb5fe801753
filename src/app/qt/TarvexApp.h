// CTarvexApp: the application object of the dialog. It owns the one CDownloadInfo for the whole
// run and runs the main dialog modally; when the dialog ends, the application ends, without an
// event loop of its own.
//
//   tarvex [DIR]   DIR (else TARVEX_WORKSPACE, else the current directory) is the workspace;
//                  see Workspace.h for how the dialog finds one when that holds no catalogue.
//   tarvex --job FILE   the job's workspace, the job shown read-only (production/JobForm.h)
#pragma once

#include <QApplication>
#include <QProcessEnvironment>
#include <QString>

#include "app/qt/Workspace.h"
#include "download/DownloadContainer.h"
#include "production/JobFile.h"

namespace tarvex::qt {

class TarvexDialog;

class CTarvexApp : public QApplication {
  public:
    // Qt's own options (-platform, -style, ...) are taken out of argv here.
    CTarvexApp(int& argc, char** argv);

    // Enters the workspace and runs the main dialog there; returns the process's exit status.
    int InitInstance();

    CDownloadInfo& DownloadInfo() { return m_downloadInfo; }

  private:
    CDownloadInfo m_downloadInfo;
};

// What the command line of the dialog asks for, read before the application object exists (so
// that --help and --version need no display).
struct DialogCommandLine {
    enum class Action { Run, Help, Version, Usage } action = Action::Run;
    QString workspace;  // the DIR argument, if any
    QString job;        // --job FILE
    QString error;      // for Action::Usage
};
DialogCommandLine ParseDialogCommandLine(const QStringList& arguments);
QString DialogHelpText();

// Opens `job` read-only in the dialog: the title names it, a problem is shown as an error box.
void ShowJob(TarvexDialog& dialog, const production::Job& job);

// Why the dialog cannot have a display, read before the application object exists: Qt would
// end the program with abort() instead. Empty when a display may be there: a platform that
// needs none (-platform or QT_QPA_PLATFORM: offscreen, vnc, ...), or DISPLAY or
// WAYLAND_DISPLAY set for the X11 or Wayland one.
QString MissingDisplayReason(const QStringList& arguments, const QProcessEnvironment& environment,
                             bool desktopNeedsDisplay);

inline constexpr char kNoDisplayAdvice[] =
    "Start tarvex in a desktop session, or use tarvex-cli, which needs no display.";

// While it lives, a fatal message of Qt's (a display that DISPLAY names but nobody serves,
// met while the application object is made) ends the program with a message and exit
// status 1 instead of abort().
class StartupFailureGuard {
  public:
    StartupFailureGuard();
    ~StartupFailureGuard();
    StartupFailureGuard(const StartupFailureGuard&) = delete;
    StartupFailureGuard& operator=(const StartupFailureGuard&) = delete;
};

}  // namespace tarvex::qt

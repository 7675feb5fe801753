// CTarvexApp: the application object of the dialog. It owns the one CDownloadInfo for the whole
// run and runs the main dialog modally; when the dialog ends, the application ends, without an
// event loop of its own.
//
//   tarvex [DIR]   DIR (else TARVEX_WORKSPACE, else the current directory) is the workspace;
//                  see Workspace.h for how the dialog finds one when that holds no catalogue.
#pragma once

#include <QApplication>
#include <QString>

#include "app/qt/Workspace.h"
#include "download/DownloadContainer.h"

namespace tarvex::qt {

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
    QString error;      // for Action::Usage
};
DialogCommandLine ParseDialogCommandLine(const QStringList& arguments);
QString DialogHelpText();

}  // namespace tarvex::qt

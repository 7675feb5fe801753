// CTarvexApp: the application object of the dialog. It owns the one CDownloadInfo for the whole
// run and runs the main dialog modally; when the dialog ends, the application ends, without an
// event loop of its own.
#pragma once

#include <QApplication>

#include "download/DownloadContainer.h"

namespace tarvex::qt {

class CTarvexApp : public QApplication {
  public:
    CTarvexApp(int& argc, char** argv);

    // Runs the main dialog in the current directory; returns the process's exit status.
    int InitInstance();

    CDownloadInfo& DownloadInfo() { return m_downloadInfo; }

  private:
    CDownloadInfo m_downloadInfo;
};

}  // namespace tarvex::qt

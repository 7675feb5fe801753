// CTarvexApp: the application object of tarvex.exe. It owns the one CDownloadInfo for the whole
// run, initialises the common controls, enters the workspace and runs the main dialog modally;
// when the dialog ends, the application ends, without a message loop of its own.
//
//   tarvex.exe [DIR]   DIR (else TARVEX_WORKSPACE, else the current directory) is the
//                      workspace; see Workspace.h for how the dialog finds one when that holds
//                      no catalogue.
//   tarvex.exe --job FILE   the job's workspace, the job shown read-only
#pragma once

#include "app/win32/Win32Api.h"

#include "download/DownloadContainer.h"

namespace tarvex::win32 {

class CTarvexApp {
  public:
    explicit CTarvexApp(HINSTANCE instance) : instance_(instance) {}

    // Enters the workspace and runs the main dialog there; returns the process's exit status.
    int InitInstance();

    CDownloadInfo& DownloadInfo() { return m_downloadInfo; }

  private:
    HINSTANCE instance_;
    CDownloadInfo m_downloadInfo;
};

}  // namespace tarvex::win32

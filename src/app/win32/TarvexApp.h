// CTarvexApp: the application object of tarvex.exe. It owns the one CDownloadInfo for the whole
// run, initialises the common controls and runs the main dialog modally; when the dialog ends,
// the application ends, without a message loop of its own.
#pragma once

#include "app/win32/Win32Api.h"

#include "download/DownloadContainer.h"

namespace tarvex::win32 {

class CTarvexApp {
  public:
    explicit CTarvexApp(HINSTANCE instance) : instance_(instance) {}

    // Runs the main dialog in the current directory; returns the process's exit status.
    int InitInstance();

    CDownloadInfo& DownloadInfo() { return m_downloadInfo; }

  private:
    HINSTANCE instance_;
    CDownloadInfo m_downloadInfo;
};

}  // namespace tarvex::win32

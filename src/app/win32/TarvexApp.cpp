#include "app/win32/TarvexApp.h"

#include <commctrl.h>

#include <string>

#include "app/win32/TarvexWindow.h"
#include "app/win32/WideText.h"
#include "app/win32/Workspace.h"
#include "platform/UserInterface.h"

namespace tarvex::win32 {

int CTarvexApp::InitInstance() {
    INITCOMMONCONTROLSEX controls = {};
    controls.dwSize = sizeof(controls);
    controls.dwICC = ICC_STANDARD_CLASSES | ICC_PROGRESS_CLASS;
    InitCommonControlsEx(&controls);

    std::string error;
    const std::wstring named = NamedWorkspace(error);
    WorkspaceResult workspace;
    if (error.empty()) {
        RegistryWorkspaceStore store;
        workspace = EnterWorkspace(named, SystemWorkspaceLocations(), store, SystemFolderChooser());
        error = workspace.error;
    }
    if (!error.empty()) {
        const std::wstring text = Widen("Tarvex cannot start: " + error + ".");
        MessageBoxW(nullptr, text.c_str(), Widen(kAppName).c_str(), MB_OK | MB_ICONERROR);
        return 2;
    }

    TarvexWindow dialog(instance_, m_downloadInfo);
    dialog.Run();  // the dialog's result is not looked at
    return 0;
}

}  // namespace tarvex::win32

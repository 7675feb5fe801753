#include "app/win32/TarvexApp.h"

#include <commctrl.h>

#include "app/win32/TarvexWindow.h"

namespace tarvex::win32 {

int CTarvexApp::InitInstance() {
    INITCOMMONCONTROLSEX controls = {};
    controls.dwSize = sizeof(controls);
    controls.dwICC = ICC_STANDARD_CLASSES | ICC_PROGRESS_CLASS;
    InitCommonControlsEx(&controls);

    TarvexWindow dialog(instance_, m_downloadInfo);
    dialog.Run();  // the dialog's result is not looked at
    return 0;
}

}  // namespace tarvex::win32

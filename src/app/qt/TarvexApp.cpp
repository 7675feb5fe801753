#include "app/qt/TarvexApp.h"

#include "app/qt/AppIcon.h"
#include "app/qt/TarvexDialog.h"
#include "app/qt/TextCodec.h"
#include "ui/UserInterface.h"

namespace tarvex::qt {

CTarvexApp::CTarvexApp(int& argc, char** argv) : QApplication(argc, argv) {
    setApplicationName(ToQString(kAppName));
    setApplicationVersion(QStringLiteral(TARVEX_VERSION));
    setWindowIcon(AppIcon());
}

int CTarvexApp::InitInstance() {
    TarvexDialog dialog(m_downloadInfo);
    dialog.InitDialog();
    dialog.exec();  // the dialog's result is not looked at
    return 0;
}

}  // namespace tarvex::qt

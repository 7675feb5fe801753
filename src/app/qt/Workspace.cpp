#include "app/qt/Workspace.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <memory>

#include "app/qt/TextCodec.h"
#include "catalogue/Catalogue.h"

namespace tarvex::qt {

FolderChooser SystemFolderChooser() {
    return [](const QString& title, const QString& startDir) {
        return QFileDialog::getExistingDirectory(nullptr, title, startDir);
    };
}

std::unique_ptr<QSettings> UserSettings() {
    return std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope,
                                       QStringLiteral("tarvex"), QStringLiteral("tarvex"));
}

bool HoldsCatalogue(const QString& dir) {
    const std::string bytes = ToBytes(dir);
    for (const char* name : {kProductFolder, kBootLoaderFolder}) {
        if (QFileInfo(ToQString(FindCatalogueFolder(bytes, name))).isDir()) {
            return true;
        }
    }
    return false;
}

WorkspaceResult EnterWorkspace(const QString& named, QSettings& settings,
                               const FolderChooser& choose) {
    QString dir = named.isEmpty() ? QDir::currentPath() : QDir(named).absolutePath();
    if (!named.isEmpty() && !QFileInfo(dir).isDir()) {
        return {{}, QStringLiteral("the workspace %1 is not a folder").arg(named)};
    }
    if (!HoldsCatalogue(dir)) {
        const QString remembered = settings.value(QLatin1String(kWorkspaceSettingsKey)).toString();
        if (named.isEmpty() && !remembered.isEmpty() && HoldsCatalogue(remembered)) {
            dir = remembered;
        } else {
            const QString startDir =
                named.isEmpty() && !remembered.isEmpty() && QFileInfo(remembered).isDir()
                    ? remembered
                    : dir;
            const QString chosen = choose(QString::fromUtf8(kChooseWorkspaceTitle), startDir);
            if (!chosen.isEmpty()) {
                dir = QDir(chosen).absolutePath();
                settings.setValue(QLatin1String(kWorkspaceSettingsKey), dir);
                settings.sync();
            }
        }
    }
    if (!QDir::setCurrent(dir)) {
        return {{}, QStringLiteral("cannot change to the workspace %1").arg(dir)};
    }
    return {QDir::currentPath(), {}};
}

}  // namespace tarvex::qt

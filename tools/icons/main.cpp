// tarvex-icons DIR SIZE...: renders the application icon, as the dialog draws it, into
// DIR/SIZExSIZE/apps/org.tarvex.Tarvex.png for each size: the hicolor icon theme's layout, for
// the package. Runs at build time on Qt's offscreen platform.
#include <QDir>
#include <QGuiApplication>
#include <QPixmap>
#include <cstdio>
#include <cstdlib>

#include "app/qt/AppIcon.h"

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fputs("usage: tarvex-icons DIR SIZE...\n", stderr);
        return 2;
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QGuiApplication app(argc, argv);
    const QString root = QString::fromLocal8Bit(argv[1]);
    for (int i = 2; i < argc; ++i) {
        const int size = std::atoi(argv[i]);
        if (size < 8 || size > 1024) {
            std::fprintf(stderr, "tarvex-icons: bad size %s\n", argv[i]);
            return 2;
        }
        const QString dir = QStringLiteral("%1/%2x%2/apps").arg(root).arg(size);
        const QString file = dir + QStringLiteral("/org.tarvex.Tarvex.png");
        if (!QDir().mkpath(dir) || !tarvex::qt::AppIconPixmap(size).save(file, "PNG")) {
            std::fprintf(stderr, "tarvex-icons: cannot write %s\n", qPrintable(file));
            return 1;
        }
    }
    return 0;
}

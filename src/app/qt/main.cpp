// tarvex [DIR]: the desktop dialog, started in the workspace DIR (see Workspace.h).
// TARVEX_EXTRA_PORTS (colon-separated device paths) adds ports the system does not list, such as
// the simulated panel's pseudo-terminal.
#include <QProcessEnvironment>
#include <QStringList>
#include <QSysInfo>
#include <cstdio>
#include <optional>

#include "app/qt/TarvexApp.h"

int main(int argc, char** argv) {
    using namespace tarvex::qt;
    // --help and --version are answered before Qt looks for a display.
    QStringList arguments;
    for (int i = 0; i < argc; ++i) {
        arguments << QString::fromLocal8Bit(argv[i]);
    }
    const DialogCommandLine line = ParseDialogCommandLine(arguments);
    if (line.action == DialogCommandLine::Action::Help) {
        std::fputs(qPrintable(DialogHelpText()), stdout);
        return 0;
    }
    if (line.action == DialogCommandLine::Action::Version) {
        std::puts("tarvex " TARVEX_VERSION);
        return 0;
    }

    // Without a display Qt would abort(): say so and end with status 1.
    const QString noDisplay =
        MissingDisplayReason(arguments, QProcessEnvironment::systemEnvironment(),
                             QSysInfo::kernelType() == QLatin1String("linux"));
    if (!noDisplay.isEmpty()) {
        std::fprintf(stderr, "tarvex: %s\n%s\n", qPrintable(noDisplay), kNoDisplayAdvice);
        return 1;
    }
    std::optional<StartupFailureGuard> guard(std::in_place);
    CTarvexApp app(argc, argv);
    guard.reset();
    return app.InitInstance();
}

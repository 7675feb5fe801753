#include "app/qt/TarvexApp.h"

#include <QProcessEnvironment>
#include <cstdio>
#include <cstdlib>
#include <optional>

#include "app/qt/AppIcon.h"
#include "app/qt/TarvexDialog.h"
#include "app/qt/TextCodec.h"
#include "platform/UserInterface.h"
#include "production/JobForm.h"

namespace tarvex::qt {

CTarvexApp::CTarvexApp(int& argc, char** argv) : QApplication(argc, argv) {
    setApplicationName(ToQString(kAppName));
    setApplicationVersion(QStringLiteral(TARVEX_VERSION));
    setWindowIcon(AppIcon());
    setDesktopFileName(QStringLiteral("org.tarvex.Tarvex"));
}

int CTarvexApp::InitInstance() {
    // Qt has taken its own options out of the arguments by now.
    const DialogCommandLine line = ParseDialogCommandLine(arguments());
    if (line.action != DialogCommandLine::Action::Run) {
        std::fprintf(stderr, "tarvex: %s\n", qPrintable(line.error));
        return 2;
    }
    QString named = line.workspace;
    std::optional<production::Job> job;
    if (!line.job.isEmpty()) {
        // Read before the workspace is entered: a relative FILE is the caller's.
        job.emplace();
        if (std::string error; !production::ReadJob(ToBytes(line.job), *job, error)) {
            std::fprintf(stderr, "tarvex: --job: %s\n", error.c_str());
            return 2;
        }
        if (!named.isEmpty()) {
            std::fprintf(stderr, "tarvex: --job: the job names its workspace; give no DIR\n");
            return 2;
        }
        named = ToQString(job->workspace);
    }
    if (named.isEmpty()) {
        named = QProcessEnvironment::systemEnvironment().value(
            QLatin1String(kWorkspaceEnvironmentVariable));
    }
    const auto settings = UserSettings();
    const WorkspaceResult workspace = EnterWorkspace(named, *settings, SystemFolderChooser());
    if (!workspace.error.isEmpty()) {
        std::fprintf(stderr, "tarvex: %s\n", qPrintable(workspace.error));
        return 2;
    }

    TarvexDialog dialog(m_downloadInfo);
    dialog.InitDialog();
    if (job) {
        ShowJob(dialog, *job);
    }
    dialog.exec();  // the dialog's result is not looked at
    return 0;
}

DialogCommandLine ParseDialogCommandLine(const QStringList& arguments) {
    DialogCommandLine line;
    bool onlyOperands = false;
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString& arg = arguments[i];
        if (!onlyOperands && arg == QLatin1String("--")) {
            onlyOperands = true;
        } else if (!onlyOperands &&
                   (arg == QLatin1String("-h") || arg == QLatin1String("--help"))) {
            line.action = DialogCommandLine::Action::Help;
            return line;
        } else if (!onlyOperands && arg == QLatin1String("--version")) {
            line.action = DialogCommandLine::Action::Version;
            return line;
        } else if (!onlyOperands && arg == QLatin1String("--job")) {
            if (i + 1 >= arguments.size()) {
                line.action = DialogCommandLine::Action::Usage;
                line.error = QStringLiteral("--job needs a FILE (try --help)");
                return line;
            }
            line.job = arguments[++i];
        } else if (!onlyOperands && arg.startsWith(QLatin1String("--job="))) {
            line.job = arg.mid(6);
        } else if (!onlyOperands && arg.startsWith(QLatin1Char('-')) && arg.size() > 1) {
            line.action = DialogCommandLine::Action::Usage;
            line.error = QStringLiteral("unknown option %1 (try --help)").arg(arg);
            return line;
        } else if (line.workspace.isEmpty()) {
            line.workspace = arg;
        } else {
            line.action = DialogCommandLine::Action::Usage;
            line.error = QStringLiteral("one workspace only: %1 and %2 given (try --help)")
                             .arg(line.workspace, arg);
            return line;
        }
    }
    return line;
}

QString DialogHelpText() {
    return QStringLiteral(
        "Usage: tarvex [OPTION]... [DIR]\n"
        "The desktop dialog of Tarvex: loads an operator panel (HMI) over a serial line.\n"
        "\n"
        "DIR is the workspace, the folder that holds the catalogue (Pxx, Vxx), the download\n"
        "data file DnldData.txt and the settings file dnld.sv. Without DIR, TARVEX_WORKSPACE\n"
        "names it, else the current directory is used. When that holds neither Pxx nor Vxx,\n"
        "the dialog starts in the workspace chosen at an earlier start, or asks for one with\n"
        "a folder chooser and remembers the choice.\n"
        "\n"
        "Options:\n"
        "      --job FILE  open the job FILE (tarvex-cli job create) read-only: its workspace,\n"
        "                  its choices, the controls that would change what is sent disabled\n"
        "  -h, --help      display this help and exit\n"
        "      --version   output version information and exit\n"
        "\n"
        "Qt's own options (-platform NAME, -style NAME, ...) are taken as well.\n");
}

void ShowJob(TarvexDialog& dialog, const production::Job& job) {
    dialog.setWindowTitle(dialog.windowTitle() +
                          QStringLiteral(" - job %1 (read-only)").arg(ToQString(job.name)));
    if (const std::string problem = production::OpenJobReadOnly(dialog.Form(), job);
        !problem.empty()) {
        dialog.UserInterface().ShowMessage(MessageKind::ErrorBox, "Error", problem);
    }
}

namespace {

// Whether the display a platform plugin needs is named in the environment; plugins that need
// no display (offscreen, vnc, linuxfb, windows, ...) always have one.
bool PlatformHasDisplay(const QString& name, bool x11, bool wayland) {
    const QString base = name.section(QLatin1Char(':'), 0, 0);
    if (base == QLatin1String("xcb")) {
        return x11;
    }
    if (base.startsWith(QLatin1String("wayland"))) {
        return wayland;
    }
    return true;
}

QtMessageHandler g_previousHandler = nullptr;

void StartupMessageHandler(QtMsgType type, const QMessageLogContext& context,
                           const QString& message) {
    if (type != QtFatalMsg) {
        if (g_previousHandler != nullptr) {
            g_previousHandler(type, context, message);
        } else {
            std::fprintf(stderr, "%s\n", qPrintable(message));
        }
        return;
    }
    std::fprintf(stderr, "tarvex: cannot open the display: %s\n%s\n", qPrintable(message),
                 kNoDisplayAdvice);
    std::fflush(stderr);
    std::_Exit(1);
}

}  // namespace

QString MissingDisplayReason(const QStringList& arguments, const QProcessEnvironment& environment,
                             bool desktopNeedsDisplay) {
    QString platform = environment.value(QStringLiteral("QT_QPA_PLATFORM"));
    for (qsizetype i = 1; i + 1 < arguments.size(); ++i) {
        if (arguments[i] == QLatin1String("-platform") ||
            arguments[i] == QLatin1String("--platform")) {
            platform = arguments[i + 1];
        }
    }
    const bool x11 = !environment.value(QStringLiteral("DISPLAY")).isEmpty();
    const bool wayland = !environment.value(QStringLiteral("WAYLAND_DISPLAY")).isEmpty();
    // A list ("wayland;xcb") is tried in its order: one usable entry is enough.
    const QStringList names = platform.split(QLatin1Char(';'), Qt::SkipEmptyParts);
    if (names.isEmpty()) {
        return desktopNeedsDisplay && !x11 && !wayland
                   ? QStringLiteral("no display: neither DISPLAY nor WAYLAND_DISPLAY is set")
                   : QString();
    }
    for (const QString& name : names) {
        if (PlatformHasDisplay(name, x11, wayland)) {
            return {};
        }
    }
    const bool waylandFirst = names.front().startsWith(QLatin1String("wayland"));
    return QStringLiteral("no display for the platform %1: %2 is not set")
        .arg(platform,
             waylandFirst ? QStringLiteral("WAYLAND_DISPLAY") : QStringLiteral("DISPLAY"));
}

StartupFailureGuard::StartupFailureGuard() {
    g_previousHandler = qInstallMessageHandler(StartupMessageHandler);
}

StartupFailureGuard::~StartupFailureGuard() {
    qInstallMessageHandler(g_previousHandler);
    g_previousHandler = nullptr;
}

}  // namespace tarvex::qt

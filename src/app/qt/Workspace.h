// Where the dialog starts: the workspace, the folder that holds the catalogue (Pxx, Vxx), the
// download data file DnldData.txt and the settings file dnld.sv.
//
//   1. the folder named on the command line (tarvex DIR), else TARVEX_WORKSPACE, else the
//      current directory;
//   2. when that holds no catalogue (neither Pxx nor Vxx) and no folder was named: the
//      workspace remembered from an earlier start, if it holds one;
//   3. else the user is asked with a folder chooser, and the folder chosen is remembered for
//      the next start. Cancelled, the dialog starts where it was going to (and the form tells
//      what it misses there).
//
// EnterWorkspace makes the folder found the process's current directory, so that the relative
// paths in the workspace's files resolve against it as they always have. The folder chooser is
// a parameter: the application passes the system's, the tests give their own answer.
#pragma once

#include <QSettings>
#include <QString>
#include <functional>
#include <memory>

namespace tarvex::qt {

inline constexpr char kChooseWorkspaceTitle[] =
    "Choose the workspace: the folder that holds Pxx and Vxx";
inline constexpr char kWorkspaceEnvironmentVariable[] = "TARVEX_WORKSPACE";
inline constexpr char kWorkspaceSettingsKey[] = "workspace";

// Shows a folder chooser with the given title, opened at startDir; returns the folder chosen,
// or an empty string when the user cancelled.
using FolderChooser = std::function<QString(const QString& title, const QString& startDir)>;

// QFileDialog's folder chooser.
FolderChooser SystemFolderChooser();

// The settings of the dialog that outlive a run (the remembered workspace), per user.
std::unique_ptr<QSettings> UserSettings();

// True when dir holds Pxx or Vxx (in any letter case), as the form looks for them.
bool HoldsCatalogue(const QString& dir);

struct WorkspaceResult {
    QString dir;    // the absolute path of the workspace, when entered
    QString error;  // why the named folder cannot be used; empty on success
};

// named: the folder from the command line or TARVEX_WORKSPACE; empty for the current
// directory. Changes the current directory to the workspace found.
WorkspaceResult EnterWorkspace(const QString& named, QSettings& settings,
                               const FolderChooser& choose);

}  // namespace tarvex::qt

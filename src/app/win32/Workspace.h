// Where tarvex.exe starts: the workspace, the folder that holds the catalogue (Pxx, Vxx), the
// download data file DnldData.txt and the settings file dnld.sv.
//
//   1. the folder named on the command line (tarvex.exe DIR), else TARVEX_WORKSPACE, else the
//      current directory (the program's own folder when Explorer starts it);
//   2. when that holds no catalogue (neither Pxx nor Vxx) and no folder was named: the
//      workspace remembered from an earlier start, if it still holds one;
//   3. else (a first start, or the remembered folder is gone) the sample workspace that comes
//      with the program
//      (sample-workspace beside tarvex.exe, in the zip and the installation). Where that
//      cannot be written to (Program Files), a copy in the user's Documents folder is made
//      once and opened instead, since each download writes dnld.sv into the workspace;
//   4. else the user is asked with the folder chooser.
// The workspace found in 2 to 4 is remembered for the next start (per user, in the registry).
// Cancelled, the dialog starts where it was going to, and the form tells what it misses there.
//
// EnterWorkspace makes the folder found the process's current directory, so that the relative
// paths in the workspace's files resolve against it. The store and the folder chooser are
// parameters: the application passes the registry's and the system's, the tests their own.
#pragma once

#include <functional>
#include <optional>
#include <string>

namespace tarvex::win32 {

inline constexpr wchar_t kChooseWorkspaceTitle[] =
    L"Choose the workspace: the folder that holds Pxx and Vxx";
inline constexpr wchar_t kWorkspaceEnvironmentVariable[] = L"TARVEX_WORKSPACE";
inline constexpr wchar_t kSampleWorkspaceFolder[] = L"sample-workspace";
// The copy of a sample that cannot be written where it is installed, in the user's Documents.
inline constexpr wchar_t kSampleCopyFolder[] = L"Tarvex sample workspace";
// HKEY_CURRENT_USER\Software\Tarvex, value Workspace.
inline constexpr wchar_t kSettingsKey[] = L"Software\\Tarvex";
inline constexpr wchar_t kWorkspaceValue[] = L"Workspace";

// The workspace remembered between starts.
class WorkspaceStore {
  public:
    virtual ~WorkspaceStore() = default;
    virtual std::wstring Remembered() const = 0;  // empty when none
    virtual void Remember(const std::wstring& dir) = 0;
};

// The value kWorkspaceValue under HKEY_CURRENT_USER\<key>.
class RegistryWorkspaceStore final : public WorkspaceStore {
  public:
    explicit RegistryWorkspaceStore(std::wstring key = kSettingsKey) : key_(std::move(key)) {}
    std::wstring Remembered() const override;
    void Remember(const std::wstring& dir) override;

  private:
    std::wstring key_;
};

// Shows a folder chooser with the given title, opened at startDir; nothing when the user
// cancelled.
using FolderChooser = std::function<std::optional<std::wstring>(const std::wstring& title,
                                                                const std::wstring& startDir)>;
// The shell's folder chooser, owned by no window.
FolderChooser SystemFolderChooser();

// True when dir holds Pxx or Vxx (in any letter case), as the form looks for them.
bool HoldsCatalogue(const std::wstring& dir);

struct WorkspaceLocations {
    std::wstring programDir;  // the folder of tarvex.exe, where the sample lies
    std::wstring documents;   // the user's Documents folder, for the copy of the sample
};
// The folder of the running program and the user's Documents folder.
WorkspaceLocations SystemWorkspaceLocations();

struct WorkspaceResult {
    std::wstring dir;   // the absolute path of the workspace, when entered
    std::string error;  // why the named folder cannot be used; empty on success
};

// named: the folder from the command line or TARVEX_WORKSPACE; empty for the current
// directory. Changes the current directory to the workspace found.
WorkspaceResult EnterWorkspace(const std::wstring& named, const WorkspaceLocations& locations,
                               WorkspaceStore& store, const FolderChooser& choose);

// The workspace named on tarvex.exe's command line (its first argument), else in
// TARVEX_WORKSPACE; empty for none. More than one argument: an error in `error`.
std::wstring NamedWorkspace(std::string& error);

}  // namespace tarvex::win32

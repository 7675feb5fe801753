#include "app/win32/TarvexApp.h"

#include <commctrl.h>
#include <shellapi.h>

#include <optional>
#include <string>

#include "app/win32/TarvexWindow.h"
#include "app/win32/WideText.h"
#include "app/win32/Workspace.h"
#include "platform/UserInterface.h"
#include "production/JobForm.h"

namespace tarvex::win32 {
namespace {

// tarvex.exe --job FILE: the job brings its workspace, so no DIR goes with it.
std::optional<std::wstring> JobArgument(std::string& error) {
    int count = 0;
    LPWSTR* arguments = CommandLineToArgvW(GetCommandLineW(), &count);
    std::optional<std::wstring> job;
    if (arguments != nullptr) {
        if (count >= 2 && std::wstring(arguments[1]) == L"--job") {
            if (count == 3) {
                job = arguments[2];
            } else {
                error = "--job takes one FILE and no workspace";
            }
        }
        LocalFree(arguments);
    }
    return job;
}

}  // namespace

int CTarvexApp::InitInstance() {
    INITCOMMONCONTROLSEX controls = {};
    controls.dwSize = sizeof(controls);
    controls.dwICC = ICC_STANDARD_CLASSES | ICC_PROGRESS_CLASS;
    InitCommonControlsEx(&controls);

    std::string error;
    std::optional<production::Job> job;
    std::wstring named;
    if (const std::optional<std::wstring> jobFile = JobArgument(error); jobFile) {
        job.emplace();
        if (production::ReadJob(Narrow(*jobFile), *job, error)) {
            named = Widen(job->workspace);
        } else {
            error = "--job: " + error;
        }
    } else if (error.empty()) {
        named = NamedWorkspace(error);
    }
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
    if (job) {
        dialog.SetJob(std::move(*job));
    }
    dialog.Run();  // the dialog's result is not looked at
    return 0;
}

}  // namespace tarvex::win32

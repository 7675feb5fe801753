// The main dialog: a Win32 view of the toolkit-free form CTarvexDlg.
//
// The window comes from the dialog template IDD_TARVEX_DIALOG of tarvex.rc; every control of the
// form has the child window of its identifier there. The child mirrors its control model (the
// model tells the view when it changed) and hands a person's action to the form's entry point:
// a list entry picked (CBN_SELCHANGE), a box or button clicked (BN_CLICKED), text typed
// (EN_CHANGE), a list opened (CBN_DROPDOWN). The form decides everything; check boxes and radio
// buttons do not toggle themselves, and the view never changes a model.
//
//   Enter              the default button, Close (only while it is enabled)
//   Esc, close box     the form's Cancel: the dialog stays open
//   system menu        "&About Tarvex..." (command 16) goes to the form's OnSysCommand
//
// A saved port that is not in the Com Port list leaves the list without a current entry, so
// that Download refuses until the user picks a port; the status line under the progress bar
// says why, and what the transfer is doing while it runs.
//
// tarvex.exe --job FILE shows a job read-only (SetJob).
//
// Run() shows the dialog modally; the form starts (OnInitDialog) when the window has been
// created, and Close ends both.
#pragma once

#include "app/win32/Win32Api.h"

#include <functional>
#include <optional>
#include <string>
#include <unordered_set>

#include "app/win32/AutoTest.h"
#include "app/win32/Win32UserInterface.h"
#include "download/DownloadContainer.h"
#include "production/JobFile.h"
#include "ui/StatusText.h"
#include "ui/TarvexDlg.h"

namespace tarvex::win32 {

class TarvexWindow {
  public:
    TarvexWindow(HINSTANCE instance, CDownloadInfo& downloadInfo, FormEnvironment env = {},
                 std::optional<AutoTest> autoTest = AutoTest::FromEnvironment());
    ~TarvexWindow();
    TarvexWindow(const TarvexWindow&) = delete;
    TarvexWindow& operator=(const TarvexWindow&) = delete;

    // Shows the dialog and returns when the form has ended (or the window could not be made).
    void Run();
    // Makes the window and starts the form without running a message loop or showing it (the
    // tests send it messages); Close then destroys it. nullptr when it could not be made.
    HWND CreateModeless();
    HWND Window() const { return hwnd_; }

    CTarvexDlg& Form() { return form_; }
    // Before the window is made: the job to show read-only (production/JobForm.h), its name in
    // the title, a problem with it in an error box.
    void SetJob(production::Job job) { job_ = std::move(job); }
    const std::string& StatusLineText() const { return status_.Text(); }

  private:
    static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    INT_PTR HandleMessage(UINT message, WPARAM wParam);  // none of its messages needs lParam

    void InitDialog();
    void AddAboutItem();
    void OnCommand(int id, int code);
    bool PaintMinimised();

    HWND Item(const Control& control) const;
    void Bind(Control& control);
    void Refresh(const Control& control);
    // Runs a person's action unless the same control's action is still running further up the
    // stack (a download pumps messages; a second click on its button must not start another).
    void Act(const Control& control, const std::function<void()>& action);

    void StartAutoTest();
    // After the Com Port list was filled: the saved port when it is not chosen, the ports that
    // cannot be used.
    void ShowPortStatus();

    HINSTANCE instance_;
    Win32UserInterface ui_;
    StatusText status_;
    CTarvexDlg form_;
    HWND hwnd_ = nullptr;
    bool modal_ = true;
    HICON icon_ = nullptr;
    HICON smallIcon_ = nullptr;
    std::unordered_set<const Control*> running_;
    int refreshing_ = 0;  // > 0 while the view itself changes its windows
    std::optional<AutoTest> autoTest_;
    std::optional<production::Job> job_;
};

}  // namespace tarvex::win32

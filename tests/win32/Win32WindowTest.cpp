// The native dialog made from its real template, started on an empty folder and driven with the
// messages Windows sends when a person acts. Message boxes are answered by the dialog's own
// scripted-run hook and read back from its log.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "app/win32/TarvexWindow.h"
#include "app/win32/WideText.h"
#include "app/win32/resource.h"

namespace tarvex::win32 {
namespace {

std::wstring TempFolder() {
    wchar_t base[MAX_PATH + 1] = {};
    GetTempPathW(MAX_PATH + 1, base);
    static int counter = 0;
    std::wstring dir = std::wstring(base) + L"tarvex-window-" +
                       std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(++counter);
    CreateDirectoryW(dir.c_str(), nullptr);
    return dir;
}

std::string Text(HWND window) {
    wchar_t text[256] = {};
    GetWindowTextW(window, text, 256);
    return Narrow(text);
}

class WindowTest : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = TempFolder();
        AutoTest hook;
        hook.logPath = dir_ + L"\\boxes.log";
        hook.holdMs = 20;
        hook.pressButtons = false;
        FormEnvironment env;
        env.appDir = Narrow(dir_);
        window_ = std::make_unique<TarvexWindow>(GetModuleHandleW(nullptr), info_, env, hook);
        hwnd_ = window_->CreateModeless();
        ASSERT_NE(hwnd_, nullptr);
    }
    void TearDown() override {
        window_.reset();
        DeleteFileW((dir_ + L"\\boxes.log").c_str());
        RemoveDirectoryW(dir_.c_str());
    }

    CTarvexDlg& Form() { return window_->Form(); }
    HWND Item(int id) const { return GetDlgItem(hwnd_, id); }
    // What a click on a button, box or radio button sends to the dialog.
    void Click(int id) {
        SendMessageW(hwnd_, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                     reinterpret_cast<LPARAM>(Item(id)));
    }
    bool Checked(int id) const { return SendMessageW(Item(id), BM_GETCHECK, 0, 0) == BST_CHECKED; }
    bool Shown(int id) const { return (GetWindowLongW(Item(id), GWL_STYLE) & WS_VISIBLE) != 0; }
    std::vector<std::string> Log() const {
        std::ifstream in(Narrow(dir_ + L"\\boxes.log"));
        std::vector<std::string> lines;
        for (std::string line; std::getline(in, line);) {
            lines.push_back(line);
        }
        return lines;
    }
    bool Logged(const std::string& line) const {
        const auto lines = Log();
        return std::find(lines.begin(), lines.end(), line) != lines.end();
    }

    std::wstring dir_;
    CDownloadInfo info_;
    std::unique_ptr<TarvexWindow> window_;
    HWND hwnd_ = nullptr;
};

TEST_F(WindowTest, TemplateHoldsEveryControlWithTheFormsCaptionAndState) {
    EXPECT_EQ(Text(hwnd_), kFormTitle);
    Form().ForEachControl([&](Control& control) {
        HWND item = Item(control.Id());
        ASSERT_NE(item, nullptr) << "control " << control.Id();
        if (dynamic_cast<Label*>(&control) || dynamic_cast<Button*>(&control) ||
            dynamic_cast<CheckBox*>(&control)) {
            EXPECT_EQ(Text(item), control.Caption()) << "control " << control.Id();
        }
        EXPECT_EQ(Shown(control.Id()), control.IsVisible()) << "control " << control.Id();
        EXPECT_EQ(IsWindowEnabled(item) != FALSE, control.IsEnabled()) << control.Id();
    });
    for (const int hidden : {IDC_UPLOAD, IDC_SELECT_RECIPE, IDC_SELECT_RECIPE_LABEL, IDC_BL_VERSION,
                             IDC_BL_VERSION_LABEL}) {
        EXPECT_FALSE(Shown(hidden)) << "control " << hidden;
    }
    EXPECT_TRUE(Checked(IDC_SERIAL_DOWNLOAD));
    EXPECT_FALSE(Checked(IDC_USB_DOWNLOAD));
    EXPECT_TRUE(Checked(IDC_APPLICATION));
    const std::vector<std::string> parity = {"None", "Even", "Odd", "Mark", "Space"};
    ASSERT_EQ(SendMessageW(Item(IDC_PARITY), CB_GETCOUNT, 0, 0), 5);
    for (int i = 0; i < 5; ++i) {
        wchar_t entry[16] = {};
        SendMessageW(Item(IDC_PARITY), CB_GETLBTEXT, static_cast<WPARAM>(i),
                     reinterpret_cast<LPARAM>(entry));
        EXPECT_EQ(Narrow(entry), parity[static_cast<std::size_t>(i)]);
    }
    EXPECT_TRUE(GetWindowLongW(Item(IDC_PASSWORD), GWL_STYLE) & ES_PASSWORD);

    // The system menu ends with a separator and "&About Tarvex..." as command 16.
    HMENU menu = GetSystemMenu(hwnd_, FALSE);
    const int count = GetMenuItemCount(menu);
    ASSERT_GE(count, 2);
    EXPECT_EQ(GetMenuItemID(menu, count - 1), IDM_ABOUTBOX);
    wchar_t item[64] = {};
    GetMenuStringW(menu, static_cast<UINT>(count - 1), item, 64, MF_BYPOSITION);
    EXPECT_EQ(Narrow(item), "&About Tarvex...");
    EXPECT_EQ(GetMenuState(menu, static_cast<UINT>(count - 2), MF_BYPOSITION) & MF_SEPARATOR,
              static_cast<UINT>(MF_SEPARATOR));
    // The empty folder's problems were told in boxes, not lost.
    EXPECT_GT(Log().size(), 1u);
}

TEST_F(WindowTest, ClicksAndTypingReachTheFormAndTheFormDecides) {
    const int images[] = {IDC_APPLICATION, IDC_BITMAP, IDC_FONT, IDC_RECIPE};
    Click(IDC_ALL);
    EXPECT_TRUE(Checked(IDC_ALL));
    for (const int id : images) {
        EXPECT_TRUE(Checked(id)) << "control " << id;
    }
    Click(IDC_ALL);
    for (const int id : images) {
        EXPECT_FALSE(Checked(id)) << "control " << id;
    }
    Click(IDC_FONT);  // the box does not toggle itself: the form does, once
    EXPECT_TRUE(Checked(IDC_FONT));
    EXPECT_TRUE(Form().m_chkFont.GetCheck());

    // No firmware entry supports USB here: the form refuses and goes back to Serial Download.
    Click(IDC_USB_DOWNLOAD);
    EXPECT_TRUE(
        Logged("message\tnotice\tTarvex\t"
               "USB downloading is not supported in selected firmware version!"));
    EXPECT_TRUE(Checked(IDC_SERIAL_DOWNLOAD));
    EXPECT_FALSE(Checked(IDC_USB_DOWNLOAD));
    EXPECT_TRUE(IsWindowEnabled(Item(IDC_BAUD_RATE)));

    SetWindowTextW(Item(IDC_SLAVE_ID), L"42");  // EN_CHANGE, as typing sends
    EXPECT_EQ(Form().m_editSlaveID.GetWindowText(), "42");
    Form().m_editSlaveID.SetWindowText("7");  // from code: shown, and not typed back
    EXPECT_EQ(Text(Item(IDC_SLAVE_ID)), "7");

    Form().m_cmbParity.SetCurSel(2);
    EXPECT_EQ(SendMessageW(Item(IDC_PARITY), CB_GETCURSEL, 0, 0), 2);
    SendMessageW(Item(IDC_PARITY), CB_SETCURSEL, 4, 0);  // a person picks "Space"
    SendMessageW(hwnd_, WM_COMMAND, MAKEWPARAM(IDC_PARITY, CBN_SELCHANGE),
                 reinterpret_cast<LPARAM>(Item(IDC_PARITY)));
    EXPECT_EQ(Form().m_cmbParity.GetWindowText(), "Space");
}

TEST_F(WindowTest, OnlyCloseEndsTheFormAndAboutIsSystemCommandSixteen) {
    SendMessageW(hwnd_, WM_COMMAND, IDCANCEL, 0);  // Esc
    EXPECT_TRUE(Form().m_bCancelRequested);
    Form().m_bCancelRequested = false;
    SendMessageW(hwnd_, WM_CLOSE, 0, 0);  // the close box
    EXPECT_TRUE(Form().m_bCancelRequested);
    Form().m_bCancelRequested = false;
    SendMessageW(hwnd_, WM_SYSCOMMAND, SC_CLOSE, 0);
    EXPECT_TRUE(Form().m_bCancelRequested);
    EXPECT_TRUE(IsWindow(hwnd_));

    SendMessageW(hwnd_, WM_SYSCOMMAND, IDM_ABOUTBOX | 0x7, 0);  // low four bits ignored
    EXPECT_TRUE(Logged("about"));

    Form().m_btnClose.EnableWindow(false);  // as during a download: Enter does nothing
    EXPECT_FALSE(IsWindowEnabled(Item(IDOK)));
    SendMessageW(hwnd_, WM_COMMAND, IDOK, 0);
    EXPECT_FALSE(Form().IsEnded());
    Form().m_btnClose.EnableWindow(true);
    SendMessageW(hwnd_, WM_COMMAND, IDOK, 0);  // Enter, the default button Close
    EXPECT_TRUE(Form().IsEnded());
    EXPECT_FALSE(IsWindow(hwnd_));
}

// A saved port that is not there: no port stands in for it (the form then refuses Download
// until one is picked), and the status line says why.
TEST(WindowPorts, AMissingSavedPortLeavesTheListUnselectedAndTheStatusLineSaysWhy) {
    const std::wstring dir = TempFolder();
    const std::string settings = Narrow(dir) + "\\dnld.sv";
    {
        std::ofstream out(settings, std::ios::binary);
        out << "COM PORT:COM99\r\n[EOF]";
    }
    AutoTest hook;
    hook.logPath = dir + L"\\boxes.log";
    hook.holdMs = 20;
    hook.pressButtons = false;
    FormEnvironment env;
    env.appDir = Narrow(dir);
    CDownloadInfo info;
    {
        TarvexWindow window(GetModuleHandleW(nullptr), info, env, hook);
        HWND hwnd = window.CreateModeless();
        ASSERT_NE(hwnd, nullptr);
        EXPECT_EQ(SendMessageW(GetDlgItem(hwnd, IDC_COM_PORT), CB_GETCURSEL, 0, 0), CB_ERR);
        EXPECT_EQ(window.Form().m_cmbComPort.GetCurSel(), -1);
        wchar_t shown[1024] = {};
        GetDlgItemTextW(hwnd, IDC_STATUS_LINE, shown, 1024);
        EXPECT_EQ(Narrow(shown).rfind("The saved port COM99 is missing; ", 0), 0u) << Narrow(shown);
        EXPECT_EQ(window.StatusLineText().rfind("The saved port COM99 is missing; ", 0), 0u);
    }
    DeleteFileW((dir + L"\\boxes.log").c_str());
    DeleteFileW(Widen(settings).c_str());
    RemoveDirectoryW(dir.c_str());
}

// A job opened read-only: its name in the title, the controls that would change what is sent
// disabled, and a job the form cannot show as it is (here: a workspace without its product)
// told in an error box, with Download disabled.
TEST(WindowJob, AJobIsShownReadOnlyAndOneTheFormCannotShowIsTold) {
    const std::wstring dir = TempFolder();
    AutoTest hook;
    hook.logPath = dir + L"\\boxes.log";
    hook.holdMs = 20;
    hook.pressButtons = false;
    FormEnvironment env;
    env.appDir = Narrow(dir);
    production::Job job;
    job.name = "line7";
    job.product = "H1";
    CDownloadInfo info;
    {
        TarvexWindow window(GetModuleHandleW(nullptr), info, env, hook);
        window.SetJob(job);
        HWND hwnd = window.CreateModeless();
        ASSERT_NE(hwnd, nullptr);
        EXPECT_NE(Text(hwnd).find(" - job line7 (read-only)"), std::string::npos) << Text(hwnd);
        for (int id : {IDC_PRODUCT, IDC_FIRMWARE_VERSION, IDC_BROWSE, IDC_SLAVE_ID, IDC_BAUD_RATE,
                       IDC_ALL, IDC_USB_DOWNLOAD, IDC_DOWNLOAD}) {
            EXPECT_FALSE(IsWindowEnabled(GetDlgItem(hwnd, id))) << id;
        }
        EXPECT_TRUE(IsWindowEnabled(GetDlgItem(hwnd, IDC_COM_PORT)));
        std::ifstream in(Narrow(dir + L"\\boxes.log"));
        std::stringstream log;
        log << in.rdbuf();
        EXPECT_NE(log.str().find("The job \"line7\" cannot be shown as it is: the form offers "
                                 "no product \"H1\""),
                  std::string::npos)
            << log.str();
    }
    DeleteFileW((dir + L"\\boxes.log").c_str());
    RemoveDirectoryW(dir.c_str());
}

}  // namespace
}  // namespace tarvex::win32

#include "app/win32/TarvexWindow.h"

#include <commctrl.h>

#include <algorithm>
#include <string>
#include <vector>

#include "app/win32/WideText.h"
#include "app/win32/resource.h"
#include "platform/Files.h"
#include "production/JobForm.h"

namespace tarvex::win32 {
namespace {

// The template's identifiers are the form's.
static_assert(CTL_CLOSE == IDC_CLOSE && CTL_CANCEL == IDC_CANCEL);
static_assert(CTL_CLOSE == IDOK && CTL_CANCEL == IDCANCEL);
static_assert(CTL_FILE_TO_SEND == IDC_FILE_TO_SEND && CTL_BROWSE == IDC_BROWSE);
static_assert(CTL_COM_PORT == IDC_COM_PORT && CTL_BAUD_RATE == IDC_BAUD_RATE);
static_assert(CTL_PARITY == IDC_PARITY && CTL_PASSWORD == IDC_PASSWORD);
static_assert(CTL_DATA_BITS == IDC_DATA_BITS && CTL_STOP_BITS == IDC_STOP_BITS);
static_assert(CTL_DOWNLOAD == IDC_DOWNLOAD && CTL_PROGRESS == IDC_PROGRESS);
static_assert(CTL_REMEMBER_PASSWORD == IDC_REMEMBER_PASSWORD && CTL_PRODUCT == IDC_PRODUCT);
static_assert(CTL_SLAVE_ID == IDC_SLAVE_ID && CTL_BOOTLOADER_VERSION == IDC_BOOTLOADER_VERSION);
static_assert(CTL_SLAVE_ID_LABEL == IDC_SLAVE_ID_LABEL && CTL_BL_VERSION == IDC_BL_VERSION);
static_assert(CTL_BL_VERSION_LABEL == IDC_BL_VERSION_LABEL);
static_assert(CTL_FIRMWARE_VERSION == IDC_FIRMWARE_VERSION && CTL_APPLICATION == IDC_APPLICATION);
static_assert(CTL_UPLOAD == IDC_UPLOAD && CTL_BITMAP == IDC_BITMAP && CTL_FONT == IDC_FONT);
static_assert(CTL_RECIPE == IDC_RECIPE && CTL_ALL == IDC_ALL);
static_assert(CTL_SELECT_RECIPE_LABEL == IDC_SELECT_RECIPE_LABEL);
static_assert(CTL_SELECT_RECIPE == IDC_SELECT_RECIPE);
static_assert(CTL_SERIAL_DOWNLOAD == IDC_SERIAL_DOWNLOAD && CTL_USB_DOWNLOAD == IDC_USB_DOWNLOAD);
static_assert(CTL_PRODUCT_LABEL == IDC_PRODUCT_LABEL &&
              CTL_BOOTLOADER_LABEL == IDC_BOOTLOADER_LABEL);
static_assert(CTL_FIRMWARE_LABEL == IDC_FIRMWARE_LABEL);
static_assert(CTL_FILE_TO_SEND_LABEL == IDC_FILE_TO_SEND_LABEL);
static_assert(CTL_COM_PORT_LABEL == IDC_COM_PORT_LABEL &&
              CTL_BAUD_RATE_LABEL == IDC_BAUD_RATE_LABEL);
static_assert(CTL_PARITY_LABEL == IDC_PARITY_LABEL && CTL_DATA_BITS_LABEL == IDC_DATA_BITS_LABEL);
static_assert(CTL_STOP_BITS_LABEL == IDC_STOP_BITS_LABEL &&
              CTL_PASSWORD_LABEL == IDC_PASSWORD_LABEL);
static_assert(CTL_ECHO == IDC_ECHO && CTL_ECHO_LABEL == IDC_ECHO_LABEL && CTL_RS485 == IDC_RS485);

// Scripted runs: Download is pressed once the window has been painted (a timer comes after the
// paint), Close after the hook's pause.
constexpr UINT_PTR kAutoTestStartTimer = 1;
constexpr UINT_PTR kAutoTestCloseTimer = 2;
constexpr UINT kAutoTestStartMs = 500;

// A short system-menu text is plenty; the resource holds "&About Tarvex...".
constexpr int kMenuTextChars = 64;

std::wstring WindowText(HWND window) {
    const int length = GetWindowTextLengthW(window);
    std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
    const int copied = GetWindowTextW(window, text.data(), length + 1);
    text.resize(static_cast<std::size_t>(std::max(copied, 0)));
    return text;
}

std::string ListText(HWND combo, int index) {
    const LRESULT length = SendMessageW(combo, CB_GETLBTEXTLEN, static_cast<WPARAM>(index), 0);
    if (length == CB_ERR) {
        return {};
    }
    std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
    SendMessageW(combo, CB_GETLBTEXT, static_cast<WPARAM>(index),
                 reinterpret_cast<LPARAM>(text.data()));
    text.resize(static_cast<std::size_t>(length));
    return Narrow(text);
}

// Brings a list window's entries in line with the model's, touching only what differs.
void SyncEntries(HWND combo, const std::vector<std::string>& entries) {
    const int count = static_cast<int>(SendMessageW(combo, CB_GETCOUNT, 0, 0));
    const int shared = std::min(count, static_cast<int>(entries.size()));
    int same = 0;
    while (same < shared && ListText(combo, same) == entries[static_cast<std::size_t>(same)]) {
        ++same;
    }
    for (int i = count - 1; i >= same; --i) {
        SendMessageW(combo, CB_DELETESTRING, static_cast<WPARAM>(i), 0);
    }
    for (std::size_t i = static_cast<std::size_t>(same); i < entries.size(); ++i) {
        const std::wstring text = Widen(entries[i]);
        SendMessageW(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.c_str()));
    }
}

// The native dialog never lets a port stand in for a missing saved one.
FormEnvironment WithoutStandInPort(FormEnvironment env) {
    env.leaveMissingSavedPortUnselected = true;
    return env;
}

// A static control starts a new line at CR LF.
std::wstring StaticText(const std::string& text) {
    std::string out;
    for (const char c : text) {
        if (c == '\n') {
            out += "\r\n";
        } else {
            out.push_back(c);
        }
    }
    return Widen(out);
}

}  // namespace

TarvexWindow::TarvexWindow(HINSTANCE instance, CDownloadInfo& downloadInfo, FormEnvironment env,
                           std::optional<AutoTest> autoTest)
    : instance_(instance),
      ui_(instance),
      status_([this](const std::string& text) {
          if (hwnd_ != nullptr) {
              SetDlgItemTextW(hwnd_, IDC_STATUS_LINE, StaticText(text).c_str());
          }
      }),
      form_(downloadInfo, ui_, WithoutStandInPort(std::move(env))),
      autoTest_(std::move(autoTest)) {
    icon_ = static_cast<HICON>(LoadImageW(instance_, MAKEINTRESOURCEW(IDR_MAINFRAME), IMAGE_ICON,
                                          GetSystemMetrics(SM_CXICON), GetSystemMetrics(SM_CYICON),
                                          LR_DEFAULTCOLOR));
    smallIcon_ = static_cast<HICON>(LoadImageW(instance_, MAKEINTRESOURCEW(IDR_MAINFRAME),
                                               IMAGE_ICON, GetSystemMetrics(SM_CXSMICON),
                                               GetSystemMetrics(SM_CYSMICON), LR_DEFAULTCOLOR));
    if (autoTest_) {
        ui_.SetAutoTest(&*autoTest_);
    }
    form_.SetEndListener([this] {
        if (hwnd_ == nullptr) {
            return;
        }
        if (modal_) {
            EndDialog(hwnd_, IDOK);
        } else {
            DestroyWindow(hwnd_);
        }
    });
}

TarvexWindow::~TarvexWindow() {
    if (!modal_ && hwnd_ != nullptr) {
        DestroyWindow(hwnd_);
    }
    // The windows are gone before the form; the form must not reach them on its way out.
    form_.ForEachControl([](Control& control) { control.SetListener(nullptr); });
    form_.SetEndListener(nullptr);
    form_.SetProgressListener(nullptr);
    for (HICON icon : {icon_, smallIcon_}) {
        if (icon != nullptr) {
            DestroyIcon(icon);
        }
    }
}

void TarvexWindow::Run() {
    modal_ = true;
    DialogBoxParamW(instance_, MAKEINTRESOURCEW(IDD_TARVEX_DIALOG), nullptr, DialogProc,
                    reinterpret_cast<LPARAM>(this));
}

HWND TarvexWindow::CreateModeless() {
    modal_ = false;
    return CreateDialogParamW(instance_, MAKEINTRESOURCEW(IDD_TARVEX_DIALOG), nullptr, DialogProc,
                              reinterpret_cast<LPARAM>(this));
}

INT_PTR CALLBACK TarvexWindow::DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        auto* self = reinterpret_cast<TarvexWindow*>(lParam);
        SetWindowLongPtrW(window, DWLP_USER, lParam);
        self->hwnd_ = window;
        self->InitDialog();
        return FALSE;  // the Download button has the keyboard focus
    }
    auto* self = reinterpret_cast<TarvexWindow*>(GetWindowLongPtrW(window, DWLP_USER));
    if (self == nullptr) {
        return FALSE;
    }
    return self->HandleMessage(message, wParam);
}

INT_PTR TarvexWindow::HandleMessage(UINT message, WPARAM wParam) {
    switch (message) {
        case WM_COMMAND:
            OnCommand(LOWORD(wParam), HIWORD(wParam));
            return TRUE;
        case WM_SYSCOMMAND: {
            const auto command = static_cast<std::uint32_t>(wParam);
            if ((command & 0xFFF0u) != IDM_ABOUTBOX) {
                return FALSE;  // the system's own handling
            }
            form_.OnSysCommand(command);
            return TRUE;
        }
        case WM_CLOSE:
            // The close box (and Alt+F4) only asks a running transfer to stop.
            form_.OnCancel();
            return TRUE;
        case WM_PAINT:
            return PaintMinimised() ? TRUE : FALSE;
        case WM_QUERYDRAGICON:
            return reinterpret_cast<INT_PTR>(smallIcon_ != nullptr ? smallIcon_ : icon_);
        case WM_TIMER:
            if (wParam == kAutoTestStartTimer && autoTest_) {
                KillTimer(hwnd_, kAutoTestStartTimer);
                StartAutoTest();
                return TRUE;
            }
            if (wParam == kAutoTestCloseTimer && autoTest_) {
                KillTimer(hwnd_, kAutoTestCloseTimer);
                autoTest_->Log("close");
                Act(form_.m_btnClose, [this] { form_.UserClick(form_.m_btnClose); });
                return TRUE;
            }
            return FALSE;
        case WM_NCDESTROY:
            SetWindowLongPtrW(hwnd_, DWLP_USER, 0);
            hwnd_ = nullptr;
            ui_.SetOwner(nullptr);
            return FALSE;
        default:
            break;
    }
    return FALSE;
}

void TarvexWindow::InitDialog() {
    ui_.SetOwner(hwnd_);
    AddAboutItem();
    SendMessageW(hwnd_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon_));
    SendMessageW(hwnd_, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(smallIcon_));
    SetWindowTextW(hwnd_, Widen(kFormTitle).c_str());

    form_.ForEachControl([this](Control& control) { Bind(control); });
    form_.SetProgressListener(&status_);
    form_.OnInitDialog();
    std::string jobProblem;
    if (job_) {
        jobProblem = production::OpenJobReadOnly(form_, *job_);
        SetWindowTextW(
            hwnd_,
            Widen(std::string(kFormTitle) + " - job " + job_->name + " (read-only)").c_str());
    }
    form_.ForEachControl([this](Control& control) { Refresh(control); });
    ShowPortStatus();
    if (!jobProblem.empty()) {
        ui_.ShowMessage(MessageKind::ErrorBox, "Error", jobProblem);
    }
    if (HWND download = Item(form_.m_btnDownload)) {
        SetFocus(download);
    }
    if (autoTest_) {
        // Where the dialog started and what its status line says, for the script to check.
        autoTest_->Log("workspace\t" + form_.m_strAppDir);
        std::string status = status_.Text();
        std::replace(status.begin(), status.end(), '\n', ' ');
        autoTest_->Log("status\t" + status);
        autoTest_->Log("ready");
        if (autoTest_->pressButtons) {
            SetTimer(hwnd_, kAutoTestStartTimer, kAutoTestStartMs, nullptr);
        }
    }
}

void TarvexWindow::AddAboutItem() {
    wchar_t text[kMenuTextChars] = {};
    if (LoadStringW(instance_, IDS_ABOUTBOX, text, kMenuTextChars) <= 0) {
        return;  // no text, no item
    }
    if (HMENU menu = GetSystemMenu(hwnd_, FALSE)) {
        AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
        AppendMenuW(menu, MF_STRING, IDM_ABOUTBOX, text);
    }
}

bool TarvexWindow::PaintMinimised() {
    if (!IsIconic(hwnd_)) {
        return false;
    }
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(hwnd_, &paint);
    SendMessageW(hwnd_, WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
    RECT client;
    GetClientRect(hwnd_, &client);
    const int x = (client.right - client.left - GetSystemMetrics(SM_CXICON) + 1) / 2;
    const int y = (client.bottom - client.top - GetSystemMetrics(SM_CYICON) + 1) / 2;
    DrawIcon(dc, x, y, icon_);
    EndPaint(hwnd_, &paint);
    return true;
}

void TarvexWindow::OnCommand(int id, int code) {
    if (id == IDCANCEL) {
        // The Cancel button and Esc: the form's Cancel, which never ends the form.
        Act(form_.m_btnCancel, [this] {
            if (!form_.UserClick(form_.m_btnCancel)) {
                form_.OnCancel();
            }
        });
        return;
    }
    Control* control = form_.FindControl(id);
    if (control == nullptr) {
        return;
    }
    if (auto* list = dynamic_cast<ComboBox*>(control)) {
        if (code == CBN_SELCHANGE) {
            const int index = static_cast<int>(SendMessageW(Item(*list), CB_GETCURSEL, 0, 0));
            Act(*list, [&] { form_.UserSelect(*list, index); });
            Refresh(*list);
        } else if (code == CBN_DROPDOWN) {
            Act(*list, [&] { form_.UserDropDown(*list); });
        }
        if (list == &form_.m_cmbComPort && (code == CBN_SELCHANGE || code == CBN_DROPDOWN)) {
            ShowPortStatus();
        }
    } else if (auto* field = dynamic_cast<EditField*>(control)) {
        if (code == EN_CHANGE && refreshing_ == 0) {
            const std::string text = Narrow(WindowText(Item(*field)));
            Act(*field, [&] { form_.UserSetText(*field, text); });
            if (field->GetWindowText() != text) {
                Refresh(*field);
            }
        }
    } else if (code == BN_CLICKED) {
        // Push buttons, check boxes and radio buttons; Enter arrives here as Close (IDOK).
        Act(*control, [&] { form_.UserClick(*control); });
        Refresh(*control);
        // The two modes probe the ports again.
        if (control == &form_.m_radSerialDownload || control == &form_.m_radUSBDownload) {
            ShowPortStatus();
        }
    }
}

void TarvexWindow::ShowPortStatus() {
    // Without a settings file COM1 is only the form's default, which nobody saved.
    const bool saved = platform::FileExists(form_.m_strAppDir + kSettingsFileName);
    status_.ShowPorts(form_.Environment().probe, saved ? form_.m_settings.m_strComPort : "",
                      form_.m_cmbComPort.GetWindowText());
}

HWND TarvexWindow::Item(const Control& control) const {
    return hwnd_ == nullptr ? nullptr : GetDlgItem(hwnd_, control.Id());
}

void TarvexWindow::Bind(Control& control) {
    HWND item = Item(control);
    if (item == nullptr) {
        return;
    }
    // Captions are the form's; the template's are only there to lay it out.
    const bool captioned = dynamic_cast<const Label*>(&control) != nullptr ||
                           dynamic_cast<const Button*>(&control) != nullptr ||
                           dynamic_cast<const CheckBox*>(&control) != nullptr;
    if (captioned) {
        SetWindowTextW(item, Widen(control.Caption()).c_str());
    }
    control.SetListener([this](const Control& changed) { Refresh(changed); });
    Refresh(control);
}

void TarvexWindow::Refresh(const Control& control) {
    HWND item = Item(control);
    if (item == nullptr) {
        return;
    }
    ++refreshing_;
    // Nothing set here reaches the form: a list's current entry set by message raises no
    // CBN_SELCHANGE, and EN_CHANGE is ignored while refreshing_ is set.
    if (const auto* list = dynamic_cast<const ComboBox*>(&control)) {
        SyncEntries(item, list->Entries());
        if (SendMessageW(item, CB_GETCURSEL, 0, 0) != list->GetCurSel()) {
            SendMessageW(item, CB_SETCURSEL, static_cast<WPARAM>(list->GetCurSel()), 0);
        }
    } else if (const auto* box = dynamic_cast<const CheckBox*>(&control)) {
        SendMessageW(item, BM_SETCHECK, box->GetCheck() ? BST_CHECKED : BST_UNCHECKED, 0);
    } else if (const auto* field = dynamic_cast<const EditField*>(&control)) {
        // Text the person is typing is already the model's: leave the caret where it is.
        if (Narrow(WindowText(item)) != field->GetWindowText()) {
            SetWindowTextW(item, Widen(field->GetWindowText()).c_str());
        }
    } else if (const auto* bar = dynamic_cast<const ProgressBar*>(&control)) {
        SendMessageW(item, PBM_SETRANGE32, static_cast<WPARAM>(bar->Lower()),
                     static_cast<LPARAM>(bar->Upper()));
        SendMessageW(item, PBM_SETPOS, static_cast<WPARAM>(bar->GetPos()), 0);
    }
    if ((IsWindowEnabled(item) != FALSE) != control.IsEnabled()) {
        EnableWindow(item, control.IsEnabled() ? TRUE : FALSE);
    }
    const bool shown = (GetWindowLongW(item, GWL_STYLE) & WS_VISIBLE) != 0;
    if (shown != control.IsVisible()) {
        ShowWindow(item, control.IsVisible() ? SW_SHOWNA : SW_HIDE);
    }
    --refreshing_;
}

void TarvexWindow::Act(const Control& control, const std::function<void()>& action) {
    if (running_.count(&control) != 0) {
        return;
    }
    running_.insert(&control);
    struct Done {
        std::unordered_set<const Control*>& set;
        const Control* control;
        ~Done() { set.erase(control); }
    } done{running_, &control};
    action();
}

void TarvexWindow::StartAutoTest() {
    autoTest_->Log("download");
    Act(form_.m_btnDownload, [this] { form_.UserClick(form_.m_btnDownload); });
    autoTest_->Log(std::string("outcome\t").append(OutcomeName(form_.LastDownloadOutcome())));
    SetTimer(hwnd_, kAutoTestCloseTimer, autoTest_->holdMs, nullptr);
}

}  // namespace tarvex::win32

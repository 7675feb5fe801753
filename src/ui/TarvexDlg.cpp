// CTarvexDlg: construction, start-up, the entry points of a person's actions, and the end.
#include "ui/TarvexDlg.h"

#include <array>

#include "platform/Files.h"

namespace tarvex {
namespace {

constexpr std::array<const char*, 7> kBaudRates = {"2400",  "4800",  "9600",  "19200",
                                                   "38400", "57600", "115200"};
constexpr std::array<const char*, 5> kParities = {"None", "Even", "Odd", "Mark", "Space"};
constexpr std::array<const char*, 2> kDataBits = {"7", "8"};
constexpr std::array<const char*, 2> kStopBits = {"1", "2"};
constexpr std::array<const char*, 3> kEchoModes = {"None", "Discard", "Verify"};

template <std::size_t N>
void Fill(ComboBox& list, const std::array<const char*, N>& entries) {
    for (const char* entry : entries) {
        list.AddString(entry);
    }
}

}  // namespace

CTarvexDlg::CTarvexDlg(CDownloadInfo& downloadInfo, IUserInterface& ui, FormEnvironment env)
    : m_downloadInfo(downloadInfo), m_ui(ui), m_env(std::move(env)), m_serialPort(ui) {
    Fill(m_cmbBaudRate, kBaudRates);
    Fill(m_cmbParity, kParities);
    Fill(m_cmbDataBits, kDataBits);
    Fill(m_cmbStopBits, kStopBits);
    Fill(m_cmbEcho, kEchoModes);
    m_cmbEcho.SetCurSel(0);

    // Parts of the layout the tool never uses: created hidden, never shown.
    m_lblBLVersion.ShowWindow(false);
    m_editBLVersion.ShowWindow(false);
    m_chkUpload.ShowWindow(false);
    m_lblSelectRecipe.ShowWindow(false);
    m_cmbSelectRecipe.ShowWindow(false);
}

CTarvexDlg::~CTarvexDlg() = default;

void CTarvexDlg::OnInitDialog() {
    // The view has created its window and bound the controls by now; it also adds the About
    // item to the system menu and sets the icons before it calls this.
    SetTransferMode(/*usb=*/false);

    // Everything read at start is found under the start-up directory.
    m_strAppDir = m_env.appDir.empty() ? platform::CurrentDirectory() : m_env.appDir;
    if (m_strAppDir.empty() || m_strAppDir.back() != platform::kPathSeparator) {
        m_strAppDir.push_back(platform::kPathSeparator);
    }

    ReadDownloadDataFile();
    m_strBinFilePath = m_strBinFileDir + "H1.bin";
    m_chkBitmap.SetCheck(
        platform::FileExists(m_strBinFileDir + "BMP" + platform::kPathSeparator + "BMP.bin"));
    m_editFileToSend.SetWindowText(m_strBinFilePath);
    m_chkApplication.SetCheck(true);
    m_chkFont.SetCheck(false);
    m_chkRecipe.SetCheck(false);
    m_chkAll.SetCheck(false);
    m_bPortOpen = false;
    m_strBinExtension.clear();
    // The view gives the Download button the keyboard focus.
    m_lblBLVersion.ShowWindow(false);
    m_editBLVersion.ShowWindow(false);

    ScanCatalogue();
    LoadSettings();
    EnumeratePorts();
    FillCatalogueLists();

    // The saved bin file path is never shown: the field starts with the project's container.
    m_strBinFilePath = m_strBinFileDir + "H1.bin";
    m_editFileToSend.SetWindowText(m_strBinFilePath);
    ApplySettingsToControls();
}

void CTarvexDlg::SetTransferMode(bool usb) {
    m_radSerialDownload.SetCheck(!usb);
    m_radUSBDownload.SetCheck(usb);
}

// --- A person's actions ---------------------------------------------------------------------

bool CTarvexDlg::UserSelect(ComboBox& list, int index) {
    if (m_bEnded || !list.IsEnabled() || !list.IsVisible() || index < 0 ||
        index >= list.GetCount()) {
        return false;
    }
    list.SetCurSel(index);
    if (&list == &m_cmbProduct) {
        OnSelchangeProduct();
    } else if (&list == &m_cmbBootloaderVersion) {
        OnSelchangeBootloaderVersion();
    } else if (&list == &m_cmbSelectRecipe) {
        OnSelchangeRecipe();
    }
    return true;
}

bool CTarvexDlg::UserClick(Control& control) {
    if (m_bEnded || !control.IsEnabled() || !control.IsVisible()) {
        return false;
    }
    if (&control == &m_radSerialDownload) {
        SetTransferMode(/*usb=*/false);
        OnSerialDownload();
    } else if (&control == &m_radUSBDownload) {
        SetTransferMode(/*usb=*/true);
        OnUsbDownload();
    } else if (&control == &m_btnBrowse) {
        OnBrowse();
    } else if (&control == &m_btnDownload) {
        OnDownload();
    } else if (&control == &m_btnClose) {
        OnClose();
    } else if (&control == &m_btnCancel) {
        OnCancel();
    } else if (auto* box = dynamic_cast<CheckBox*>(&control)) {
        box->SetCheck(!box->GetCheck());
        if (box == &m_chkRecipe) {
            OnRecipe();
        } else if (box == &m_chkAll) {
            OnAll();
        }
    } else {
        return false;  // labels, fields, lists and the progress bar are not clicked
    }
    return true;
}

bool CTarvexDlg::UserSetText(EditField& field, std::string text) {
    if (m_bEnded || !field.IsEnabled() || !field.IsVisible()) {
        return false;
    }
    field.SetWindowText(std::move(text));
    return true;
}

bool CTarvexDlg::UserDropDown(ComboBox& list) {
    if (m_bEnded || !list.IsEnabled() || !list.IsVisible()) {
        return false;
    }
    if (&list == &m_cmbComPort) {
        OnDropdownComPort();
    }
    return true;
}

void CTarvexDlg::OnSysCommand(std::uint32_t commandId) {
    // The toolkit uses the low four bits of a system command for its own purposes.
    if ((commandId & 0xFFF0u) == IDM_ABOUTBOX) {
        m_ui.ShowAbout();
    }
}

void CTarvexDlg::ForEachControl(const std::function<void(Control&)>& fn) {
    Control* const controls[] = {
        &m_lblProduct,      &m_cmbProduct,
        &m_lblBootloader,   &m_cmbBootloaderVersion,
        &m_lblFirmware,     &m_cmbFirmwareVersion,
        &m_lblFileToSend,   &m_editFileToSend,
        &m_btnBrowse,       &m_lblSlaveID,
        &m_editSlaveID,     &m_radSerialDownload,
        &m_radUSBDownload,  &m_lblComPort,
        &m_cmbComPort,      &m_lblBaudRate,
        &m_cmbBaudRate,     &m_lblParity,
        &m_cmbParity,       &m_lblDataBits,
        &m_cmbDataBits,     &m_lblStopBits,
        &m_cmbStopBits,     &m_lblPassword,
        &m_editPassword,    &m_chkRememberPassword,
        &m_chkApplication,  &m_chkBitmap,
        &m_chkFont,         &m_chkRecipe,
        &m_chkAll,          &m_chkUpload,
        &m_lblSelectRecipe, &m_cmbSelectRecipe,
        &m_progress,        &m_lblBLVersion,
        &m_editBLVersion,   &m_btnDownload,
        &m_btnClose,        &m_btnCancel,
        &m_lblEcho,         &m_cmbEcho,
        &m_chkRs485,
    };
    for (Control* control : controls) {
        fn(*control);
    }
}

Control* CTarvexDlg::FindControl(int id) {
    Control* found = nullptr;
    ForEachControl([&](Control& control) {
        if (found == nullptr && control.Id() == id) {
            found = &control;
        }
    });
    return found;
}

// --- Cancel and Close -----------------------------------------------------------------------

void CTarvexDlg::OnCancel() {
    // Esc and the window's close box come here too: they never end the form, they only ask a
    // running transfer to stop.
    m_bCancelRequested = true;
    if (m_bDownloadRunning) {
        m_bCancelledByUser = true;
    }
}

void CTarvexDlg::OnClose() {
    if (m_bPortOpen) {
        m_serialPort.Close();
        m_bPortOpen = false;
        platform::RestoreProcessPriority(m_nSavedPriorityClass);
    }
    if (m_bEnded) {
        return;
    }
    m_bEnded = true;
    if (m_onEnd) {
        m_onEnd();
    }
}

}  // namespace tarvex

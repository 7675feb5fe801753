// CTarvexDlg: the check before a download and the handlers of the form's controls.
#include <algorithm>
#include <string_view>

#include "platform/Files.h"
#include "platform/Text.h"
#include "serial/PortProbe.h"
#include "ui/TarvexDlg.h"

namespace tarvex {
namespace {

constexpr std::string_view kSlaveIdRange = "Invalid Slave ID! Valid Range for Slave ID is 1 - 255.";
constexpr char kRecipeFolder[] = "Recipe";
constexpr char kAllRecipes[] = "All";

// The bin file's extension check: the text after the first '.' of the file name must equal the
// expected extension in any letter case. A path without a folder part, or a file name without
// a '.', is not judged.
bool ExtensionMatches(const std::string& path, std::string_view expected) {
    const auto separator = platform::LastSeparator(path);
    if (separator == std::string::npos) {
        return true;
    }
    const std::string_view fileName = std::string_view(path).substr(separator + 1);
    const auto dot = fileName.find('.');
    if (dot == std::string_view::npos) {
        return true;
    }
    return EqualsIgnoringCase(fileName.substr(dot + 1), expected);
}

}  // namespace

bool CTarvexDlg::ValidateInputs() {
    const auto fail = [this](std::string_view text) {
        Notice(m_ui, text);
        return false;
    };
    if (m_cmbProduct.GetCurSel() <= 0) {
        return fail("Please select a valid product to continue!");
    }
    if (m_cmbBootloaderVersion.GetCurSel() <= 0 || m_nBootloaderIndex < 0) {
        return fail("Please select a valid hardware version to continue!");
    }
    const std::string& slaveId = m_editSlaveID.GetWindowText();
    if (slaveId.find_first_not_of("0123456789") != std::string::npos) {
        return fail(kSlaveIdRange);
    }
    const std::int32_t slave = ParseDecimal(slaveId);
    if (slave < 1 || slave > 255) {
        return fail(kSlaveIdRange);
    }
    if (m_cmbComPort.GetWindowText().empty()) {
        return fail("Please select a valid comport!");
    }
    if (m_cmbBaudRate.GetWindowText().empty()) {
        return fail("Please select baud rate!");
    }
    if (m_cmbParity.GetWindowText().empty()) {
        return fail("Please select parity!");
    }
    if (m_cmbDataBits.GetWindowText().empty()) {
        return fail("Please select word length!");
    }
    if (m_cmbStopBits.GetWindowText().empty()) {
        return fail("Please select stop bits!");
    }
    // The path chosen by Browse or set at start; a path typed into the field only counts once
    // the settings are saved.
    if (!platform::FileExists(m_strBinFilePath)) {
        return fail("Bin file does not exist!");
    }
    if (!ExtensionMatches(m_strBinFilePath, m_strBinExtension)) {
        return fail("Please select correct bin file");
    }
    return true;
}

void CTarvexDlg::OnBrowse() {
    const std::string upper = ToUpperAscii(m_strBinExtension);
    const std::string filter =
        upper + " Files (*." + m_strBinExtension + ")|*." + m_strBinExtension + "||";
    if (auto chosen = m_ui.AskOpenFile(filter, m_strBinFileDir)) {
        if (HasLineBreak(*chosen)) {
            Notice(m_ui, kLineBreakInFileName);
            return;
        }
        ApplyBrowseResult(*chosen);
    }
}

void CTarvexDlg::ApplyBrowseResult(const std::string& path) {
    m_strBinFilePath = path;
    m_editFileToSend.SetWindowText(m_strBinFilePath);
    const auto separator = platform::LastSeparator(path);
    m_strBinFileDir =
        separator == std::string::npos ? std::string() : path.substr(0, separator + 1);
    OnRecipe();
}

void CTarvexDlg::OnRecipe() {
    if (!m_chkRecipe.GetCheck()) {
        m_cmbSelectRecipe.ResetContent();
        return;
    }
    // The Recipe folder beside the bin file, listed by its full path: the process's current
    // directory is shared by every form in the process and is never changed. A bin file path
    // without any folder names a file in the current directory, so its Recipe folder is the
    // relative "Recipe".
    const auto separator = platform::LastSeparator(m_strBinFilePath);
    const std::string folder =
        separator == std::string::npos
            ? std::string(kRecipeFolder)
            : m_strBinFilePath.substr(0, separator) + platform::kPathSeparator + kRecipeFolder;
    bool opened = false;
    const std::vector<platform::DirEntry> entries =
        platform::ListEntriesWithExtension(folder, "bin", &opened);
    if (!opened) {
        return;
    }
    m_cmbSelectRecipe.ResetContent();
    // Names stay from earlier folders until a download's container check replaces the list.
    for (const platform::DirEntry& entry : entries) {
        if (!entry.isRegularFile) {
            continue;
        }
        if (std::find(m_arrRecipeNames.begin(), m_arrRecipeNames.end(), entry.name) ==
            m_arrRecipeNames.end()) {
            m_arrRecipeNames.push_back(entry.name);
        }
    }
    for (const std::string& name : m_arrRecipeNames) {
        m_cmbSelectRecipe.AddString(name);
    }
    m_cmbSelectRecipe.AddString(kAllRecipes);
    m_cmbSelectRecipe.SetCurSel(0);
    m_strSelectedRecipe = m_cmbSelectRecipe.GetWindowText();
}

void CTarvexDlg::OnSelchangeRecipe() {
    if (m_cmbSelectRecipe.GetCurSel() >= 0) {
        m_strSelectedRecipe = m_cmbSelectRecipe.GetWindowText();
    }
}

void CTarvexDlg::OnAll() {
    // Ticking Recipe this way does not refresh the recipe list.
    const bool all = m_chkAll.GetCheck();
    m_chkApplication.SetCheck(all);
    m_chkBitmap.SetCheck(all);
    m_chkFont.SetCheck(all);
    m_chkRecipe.SetCheck(all);
}

void CTarvexDlg::OnSerialDownload() {
    m_cmbBaudRate.EnableWindow(true);
    m_cmbParity.EnableWindow(true);
    m_cmbDataBits.EnableWindow(true);
    m_cmbStopBits.EnableWindow(true);
    EnumeratePorts();
}

void CTarvexDlg::OnUsbDownload() {
    // The line settings still reach the port; the virtual COM port of a USB link ignores them.
    m_cmbBaudRate.EnableWindow(false);
    m_cmbParity.EnableWindow(false);
    m_cmbDataBits.EnableWindow(false);
    m_cmbStopBits.EnableWindow(false);
    if (CurrentFirmwareFormat() == 0) {
        Notice(m_ui, "USB downloading is not supported in selected firmware version!");
        SetTransferMode(/*usb=*/false);
        OnSerialDownload();
    }
    EnumeratePorts();
}

void CTarvexDlg::EnumeratePorts() {
    const std::string previous = m_cmbComPort.GetWindowText();
    m_cmbComPort.ResetContent();
    // The list shows device paths: what the user recognises and what the port opens.
    const std::vector<std::string> ports =
        m_env.listPorts ? m_env.listPorts() : OpenablePorts(m_env.probe);
    for (const std::string& path : ports) {
        m_cmbComPort.AddString(path);
    }
    SelectSavedPort(previous);
}

void CTarvexDlg::SelectSavedPort(const std::string& previous) {
    const std::string& saved = m_settings.m_strComPort;
    int chosen = -1;
    for (int i = 0; i < m_cmbComPort.GetCount() && chosen < 0; ++i) {
        if (EqualsIgnoringCase(m_cmbComPort.GetLBText(i), saved)) {
            chosen = i;
        }
    }
    // A settings file written elsewhere may name the port COMn.
    const std::string device = DevicePathForPortName(saved);
    for (int i = 0; i < m_cmbComPort.GetCount() && chosen < 0; ++i) {
        if (m_cmbComPort.GetLBText(i) == device) {
            chosen = i;
        }
    }
    if (chosen < 0 && !m_env.leaveMissingSavedPortUnselected) {
        chosen = 0;
    }
    // Never a port nobody picked: only the one the user chose before the list was probed again.
    if (chosen < 0 && !previous.empty()) {
        chosen = m_cmbComPort.FindStringExact(previous);
    }
    m_cmbComPort.SetCurSel(chosen);
}

void CTarvexDlg::OnDropdownComPort() {
    // The open port cannot be probed; its entry stays as it is while it is in use.
    if (!m_bPortOpen) {
        EnumeratePorts();
    }
}

}  // namespace tarvex

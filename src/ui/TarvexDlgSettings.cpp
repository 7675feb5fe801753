// CTarvexDlg: the settings file "dnld.sv", the download data file "DnldData.txt" and the check
// of the items a download carries. The file formats live in ui/DnldSettings and
// hmi/DownloadSet; this is the glue between them, the files and the controls.
#include <string>

#include "hmi/DownloadSet.h"
#include "platform/Files.h"
#include "platform/Text.h"
#include "ui/TarvexDlg.h"

namespace tarvex {
namespace {

void SelectMatching(ComboBox& list, std::string_view saved) {
    const int found = list.FindStringExact(saved);
    list.SetCurSel(found >= 0 ? found : 0);
}

}  // namespace

SettingsFields CTarvexDlg::CurrentSettingsFields() const {
    SettingsFields fields;
    fields.record = m_settings;
    fields.rememberPassword = m_bRememberPassword;
    fields.productName = m_strProductName;
    fields.bootloaderVersion = m_strBootloaderVersion;
    fields.firmwareVersion = m_strFirmwareVersion;
    fields.binFilePath = m_strBinFilePath;
    fields.echo = m_strEcho;
    fields.rs485 = m_bRs485;
    return fields;
}

void CTarvexDlg::StoreSettingsFields(const SettingsFields& fields) {
    m_settings = fields.record;
    m_bRememberPassword = fields.rememberPassword;
    m_strProductName = fields.productName;
    m_strBootloaderVersion = fields.bootloaderVersion;
    m_strFirmwareVersion = fields.firmwareVersion;
    m_strBinFilePath = fields.binFilePath;
    m_strEcho = fields.echo;
    m_bRs485 = fields.rs485;
}

void CTarvexDlg::LoadSettings() {
    const std::string path = m_strAppDir + kSettingsFileName;
    // A file that exists but lacks some keys does not get defaults for them.
    if (platform::FileExists(path)) {
        ReadSettings(path);
    } else {
        ApplyDefaultSettings();
    }
}

void CTarvexDlg::ReadSettings(const std::string& path) {
    const auto lines = platform::ReadTextLines(path);
    if (!lines) {
        Notice(m_ui, "Error in reading deafult download settings!");
        return;
    }
    SettingsFields fields = CurrentSettingsFields();
    ApplySettingsLines(*lines, fields);
    StoreSettingsFields(fields);
}

void CTarvexDlg::ApplyDefaultSettings() {
    SettingsFields fields = CurrentSettingsFields();
    SetDefaultSettings(fields);
    StoreSettingsFields(fields);
}

void CTarvexDlg::SaveSettings(const std::string& path) {
    SettingsFileValues values;
    values.slaveIdText = m_editSlaveID.GetWindowText();
    values.comPort = m_cmbComPort.GetWindowText();
    values.baudRate = m_cmbBaudRate.GetWindowText();
    values.parity = m_cmbParity.GetWindowText();
    values.wordLength = m_cmbDataBits.GetWindowText();
    values.stopBits = m_cmbStopBits.GetWindowText();
    values.rememberPassword = m_chkRememberPassword.GetCheck();
    values.password = m_editPassword.GetWindowText();
    values.productName = m_cmbProduct.GetWindowText();
    values.bootloaderVersion = m_strBootloaderVersion;
    values.firmwareVersion = m_cmbFirmwareVersion.GetWindowText();
    values.binFilePath = m_editFileToSend.GetWindowText();
    values.echo = m_cmbEcho.GetWindowText();
    values.rs485 = m_chkRs485.GetCheck();

    // The new file replaces the old one only once it is complete, so a full disk or a crash
    // leaves the previous settings readable. A file that a team shares keeps its mode and
    // group; a new one is for its owner's eyes only when it holds a remembered password.
    const platform::NewFileAccess access = HoldsRememberedPassword(values)
                                               ? platform::NewFileAccess::OwnerOnly
                                               : platform::NewFileAccess::Usual;
    if (!platform::ReplaceFileKeepingAccess(path, FormatSettingsFile(values), access)) {
        Notice(m_ui, "Error in creating download data file!");
        return;
    }
    m_settings.m_nSlaveID = ParseDecimal(values.slaveIdText);
    m_settings.m_strComPort = values.comPort;
    m_settings.m_strBaudRate = values.baudRate;
    m_settings.m_strParity = values.parity;
    m_settings.m_strWordLength = values.wordLength;
    m_settings.m_strStopBits = values.stopBits;
    m_settings.m_strSavedPassword = values.password;
    m_strBinFilePath = values.binFilePath;
    m_strEcho = values.echo;
    m_bRs485 = values.rs485;
}

void CTarvexDlg::ApplySettingsToControls() {
    // With Remember Password off the field is left as the catalogue set it: empty, or the fixed
    // password of a version that takes no password of its own.
    m_chkRememberPassword.SetCheck(m_bRememberPassword);
    if (m_bRememberPassword) {
        m_editPassword.SetWindowText(m_settings.m_strSavedPassword);
    }
    SelectSavedPort();
    SelectMatching(m_cmbBaudRate, m_settings.m_strBaudRate);
    SelectMatching(m_cmbParity, m_settings.m_strParity);
    SelectMatching(m_cmbDataBits, m_settings.m_strWordLength);
    SelectMatching(m_cmbStopBits, m_settings.m_strStopBits);
    SelectMatching(m_cmbEcho, m_strEcho);  // an unknown value is None, entry 0
    m_chkRs485.SetCheck(m_bRs485);
    m_editSlaveID.SetWindowText(std::to_string(m_settings.m_nSlaveID));
}

void CTarvexDlg::ReadDownloadDataFile() {
    const auto lines = platform::ReadTextLines(m_strAppDir + hmi::kDownloadDataFileName);
    if (!lines) {
        Notice(m_ui, "Download Data File not found!");
        return;
    }
    const hmi::DownloadData data = hmi::ParseDownloadData(*lines);
    m_strDnldProduct = data.Product();
    m_strBinFileDir = data.BinFileDir();
    m_strApplicationName = data.ApplicationName();
    m_strHMIType = data.HmiType();
}

int CTarvexDlg::CheckDownloadSet() {
    const hmi::DownloadSetChoice choice{
        .application = m_chkApplication.GetCheck(),
        .bitmap = m_chkBitmap.GetCheck(),
        .font = m_chkFont.GetCheck(),
        .recipe = m_chkRecipe.GetCheck(),
    };
    const hmi::ItemBuffers buffers{m_arrAppImage, m_arrBitmapImage, m_arrFontImage,
                                   m_arrRecipeImage};
    const auto missing = m_sharedContainer
                             ? hmi::FillDownloadSet(choice, *m_sharedContainer, buffers)
                             : hmi::FillDownloadSet(choice, m_downloadInfo, buffers);
    for (std::string_view text : missing) {
        Notice(m_ui, text);
    }
    return missing.empty() ? 0 : 1;
}

}  // namespace tarvex

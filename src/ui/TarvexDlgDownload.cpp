// The Download button: from the form's choices to the panel's last reply, in one pass on the
// user-interface thread. The transfer itself (CHmiTransfer) pumps the user interface while it
// waits, so that the window repaints and Cancel can raise its request; Download and Close are
// disabled while the port is open, so the form cannot be ended or re-entered meanwhile.
#include <cstdlib>
#include <exception>
#include <optional>
#include <string>

#include "hmi/HmiFrames.h"
#include "hmi/HmiTransfer.h"
#include "platform/Files.h"
#include "platform/ProcessPriority.h"
#include "platform/Text.h"
#include "platform/Time.h"
#include "ui/TarvexDlg.h"

namespace tarvex {
namespace {

// The download's fixed line and time-out values: 8 data bits whatever the Data bits list shows,
// no parity checking, and a read that waits at most two seconds for a whole reply.
constexpr std::uint8_t kDataBits = 8;
constexpr std::uint8_t kParityCheckingOff = 0;
constexpr std::uint32_t kReadTotalTimeoutMs = 2000;

std::uint8_t ParityCode(const std::string& text) {
    if (text == "Odd") {
        return 1;
    }
    if (text == "Even") {
        return 2;
    }
    if (text == "Mark") {
        return 3;
    }
    if (text == "Space") {
        return 4;
    }
    return 0;  // "None"; the list offers nothing else
}

std::uint8_t StopBitsCode(const std::string& text) {
    return text == "2" ? 2 : 0;
}

// The message of a panel code at the end of a download.
std::string CodeMessageText(std::uint8_t code, bool usb) {
    if (const auto text = hmi::TargetCodeMessage(code)) {
        return std::string(*text);
    }
    if (code == 9) {
        return usb ? "Invalid comm port selected,please select comm port applicable to USB "
                     "downloading"
                   : "Invalid comm port selected,please select comm port applicable to serial "
                     "downloading";
    }
    return "Download not successful!";
}

// Shows it; code 9 is a notice, every other code a plain box.
void ShowCodeMessage(IUserInterface& ui, std::uint8_t code, bool usb) {
    if (code == 9) {
        Notice(ui, CodeMessageText(code, usb));
    } else {
        PlainBox(ui, CodeMessageText(code, usb));
    }
}

bool IsPanelCode(std::uint8_t code) {
    return code >= 1 && code <= 9;
}

}  // namespace

std::string CTarvexDlg::TimingLogPath() const {
    if (!m_env.timingLogPath.empty()) {
        return m_env.timingLogPath;
    }
    if (const char* fromEnv = std::getenv("TARVEX_TIMING_LOG"); fromEnv && *fromEnv) {
        return fromEnv;
    }
    return platform::kFormTimingLogPath;
}

// One press of Download. Whichever way OnDownload leaves (a refusal, a port that fails, the end
// of the transfer, or an exception out of a message box or the event pump), the end of the scope
// puts the form back to idle: the port closed, Download and Close enabled, the idle hook gone,
// the priority as it was before the press.
class CTarvexDlg::DownloadScope {
  public:
    explicit DownloadScope(CTarvexDlg& form)
        : form_(form), exceptionsAtStart_(std::uncaught_exceptions()) {
        form_.m_nSavedPriorityClass = priority_.Saved();
    }
    ~DownloadScope() {
        form_.BackToIdle(priority_, transferStarted_);
        if (std::uncaught_exceptions() > exceptionsAtStart_) {
            // Whatever the panel got, it was not a whole download.
            form_.m_lastOutcome = DownloadOutcome::Failed;
        }
    }
    DownloadScope(const DownloadScope&) = delete;
    DownloadScope& operator=(const DownloadScope&) = delete;

    const platform::RaisedPriorityScope& Priority() const { return priority_; }
    void TransferStarts() { transferStarted_ = true; }

  private:
    CTarvexDlg& form_;
    // BackToIdle restores it in its place among the other steps; its own end restores once
    // more after everything else, which then changes nothing.
    platform::RaisedPriorityScope priority_;
    int exceptionsAtStart_;
    bool transferStarted_ = false;
};

void CTarvexDlg::OnDownload() {
    m_lastOutcome = DownloadOutcome::Refused;
    m_nOutcomeCode = 0;
    m_bCancelledByUser = false;
    TakeTransferMode();

    // Run raised, so that other programs disturb the byte timing on the line less.
    DownloadScope scope(*this);

    const std::optional<std::string> firmwareText = CheckBeforeThePort();
    if (!firmwareText) {
        return;
    }
    StoreDownloadSettings();
    if (!OpenThePort()) {
        m_lastOutcome = DownloadOutcome::PortFailed;
        return;
    }
    // Every ticked item must be in the container; the check has said why not.
    if (CheckDownloadSet() == 1) {
        m_lastOutcome = DownloadOutcome::ItemMissing;
        return;
    }
    scope.TransferStarts();
    RunTransfer(*firmwareText, scope.Priority());
}

void CTarvexDlg::TakeTransferMode() {
    // With neither radio button checked the previous mode stays.
    if (m_radSerialDownload.GetCheck()) {
        m_bUSBDownload = false;
    } else if (m_radUSBDownload.GetCheck()) {
        m_bUSBDownload = true;
    }
}

std::optional<std::string> CTarvexDlg::CheckBeforeThePort() {
    // The form.
    m_nBootloaderIndex = CurrentVersionIndex();
    if (!ValidateInputs()) {
        return std::nullopt;
    }
    const auto refuse = [this](std::string_view notice) -> std::optional<std::string> {
        Notice(m_ui, notice);
        return std::nullopt;
    };

    // Placeholders.
    m_strBootloaderVersion = m_cmbBootloaderVersion.GetWindowText();
    std::string firmwareText = m_cmbFirmwareVersion.GetWindowText();
    if (m_strBootloaderVersion == "Select Hardware Version") {
        return refuse("Please select the hardware version to continue!");
    }
    if (firmwareText == "Select Firmware Version") {
        return refuse("Please select the firmware version to continue!");
    }

    // The container, and the product it was built for.
    m_strProductName = m_cmbProduct.GetWindowText();
    const std::string fileToSend = m_editFileToSend.GetWindowText();
    // The name goes into a line of the settings file, where a line break would start lines of
    // its own (a password, an early end).
    if (HasLineBreak(fileToSend)) {
        return refuse(kLineBreakInFileName);
    }
    // Forms that run side by side on one container share it: read and checked once, the
    // parts held once, each form's item buffers views into them.
    ContainerReport containerReport;
    m_sharedContainer.reset();
    bool containerValid = false;
    if (m_env.containers) {
        m_sharedContainer = m_env.containers->Get(fileToSend, &containerReport);
        if (m_sharedContainer) {
            m_downloadInfo.m_strSignature = m_sharedContainer->signature;
            m_downloadInfo.m_nProductCode = m_sharedContainer->productCode;
            m_arrRecipeNames = m_sharedContainer->recipeNames;
            m_arrRecipeSizes = m_sharedContainer->recipeSizes;
            containerValid = true;
        }
    } else {
        containerValid = CheckDownloadContainer(fileToSend, m_downloadInfo, m_arrRecipeNames,
                                                m_arrRecipeSizes, &containerReport);
    }
    if (!containerValid) {
        return refuse(
            containerReport.fault == ContainerFault::OutOfMemory
                ? "Invalid file for download!\nThe file is too large for the memory available."
                : "Invalid file for download!");
    }
    const std::optional<std::uint16_t> productCode = GetProductCode(m_strProductName);
    if (!productCode || *productCode != m_downloadInfo.m_nProductCode) {
        return refuse(
            "Invalid file for download, file is compiled for diffrent product and user selected "
            "different product!");
    }

    // Accepted on its header checksum, but the body matches its checksum under neither rule:
    // the images may be damaged, and only the user can say whether to flash them.
    if (containerReport.BodyDamaged() && !m_ui.AskYesNo(kAppName, kDamagedBodyQuestion, false)) {
        return std::nullopt;
    }

    // Selections the panel protocol cannot serve are refused before anything is written.
    if (RefuseUnsupportedSelection()) {
        return std::nullopt;
    }
    return firmwareText;
}

void CTarvexDlg::StoreDownloadSettings() {
    if (!m_env.maySaveSettings || m_env.maySaveSettings()) {
        SaveSettings(m_strAppDir + "dnld.sv");
        return;
    }
    // Another form of this run writes the file; this one takes the values as a written file
    // would have given them (the transfer addresses the panel by this slave ID).
    m_settings.m_nSlaveID = ParseDecimal(m_editSlaveID.GetWindowText());
    m_settings.m_strComPort = m_cmbComPort.GetWindowText();
    m_settings.m_strBaudRate = m_cmbBaudRate.GetWindowText();
    m_settings.m_strParity = m_cmbParity.GetWindowText();
    m_settings.m_strWordLength = m_cmbDataBits.GetWindowText();
    m_settings.m_strStopBits = m_cmbStopBits.GetWindowText();
    m_settings.m_strSavedPassword = m_editPassword.GetWindowText();
    m_strBinFilePath = m_editFileToSend.GetWindowText();
    m_strEcho = m_cmbEcho.GetWindowText();
    m_bRs485 = m_chkRs485.GetCheck();
}

bool CTarvexDlg::OpenThePort() {
    // Line settings.
    m_bPortOpen = false;
    m_bCancelRequested = false;
    const std::string portName = m_cmbComPort.GetWindowText();
    const auto baudRate = static_cast<std::uint32_t>(ParseDecimal(m_cmbBaudRate.GetWindowText()));
    const std::uint8_t parity = ParityCode(m_cmbParity.GetWindowText());
    const std::uint8_t stopBits = StopBitsCode(m_cmbStopBits.GetWindowText());

    // The port phase: only Cancel stays usable.
    m_btnDownload.EnableWindow(false);
    m_btnClose.EnableWindow(false);
    m_nTargetCode = 255;
    m_bDownloadRunning = true;
    m_serialPort.SetIdleHook([this] { m_ui.Idle(); });
    // The two-wire line's options, as the form shows them.
    const std::string echo = m_cmbEcho.GetWindowText();
    m_serialPort.SetEcho(EqualsIgnoringCase(echo, "Discard")  ? EchoMode::Discard
                         : EqualsIgnoringCase(echo, "Verify") ? EchoMode::Verify
                                                              : EchoMode::None);
    m_serialPort.SetRs485(m_chkRs485.GetCheck());

    // Open and configure the line; the box comes while the port is still open.
    if (!m_serialPort.Open(portName)) {
        const SerialError error = m_serialPort.LastError();
        if (error == SerialError::NoRs485Mode || error == SerialError::Rs485Remote) {
            // Restarting the PC would not give the driver a mode it lacks: say what is wrong.
            ErrorBox(m_ui, "Cannot open " + portName +
                               " for two-wire RS-485: " + std::string(SerialErrorText(error)) +
                               (error == SerialError::NoRs485Mode
                                    ? ".\nUse an adapter that switches the direction itself, and "
                                      "download without RS-485."
                                    : ".\nSet RS-485 on the device server's port, and download "
                                      "without RS-485 here."));
            return false;
        }
        ErrorBox(m_ui,
                 "Cannot open Communication Port.Please\nquit the application & re-start your PC.");
        return false;
    }
    m_bPortOpen = true;
    if (!m_serialPort.ConfigureLine(baudRate, kDataBits, kParityCheckingOff, parity, stopBits)) {
        ErrorBox(m_ui, "Cannot Configure Communication Port");
        return false;
    }
    if (!m_serialPort.SetTimeouts(0, 0, kReadTotalTimeoutMs, 0, 0)) {
        ErrorBox(m_ui, "Cannot Configure Communication Timeouts");
        return false;
    }
    return true;
}

void CTarvexDlg::RunTransfer(const std::string& firmwareText,
                             const platform::RaisedPriorityScope& priority) {
    HmiTransferSettings settings;
    // The address is the one the user typed and the form validated: the settings record is
    // refreshed only by a save that succeeded, and a stale address would reach another panel on
    // a multi-drop line.
    settings.slaveAddress =
        static_cast<std::uint8_t>(ParseDecimal(m_editSlaveID.GetWindowText()) & 0xFF);
    settings.usbDownload = m_bUSBDownload;
    settings.firmwareFormat = CurrentFirmwareFormat();
    settings.packetSize = LookupPacketSize(m_strDnldProduct, m_strBootloaderVersion);
    settings.productCode = GetProductCode(m_strDnldProduct).value_or(0);
    settings.bootloaderText = m_strBootloaderVersion;
    settings.firmwareText = firmwareText;
    settings.passwordText = m_editPassword.GetWindowText();
    settings.applicationName = m_strApplicationName;
    settings.hmiType = m_strHMIType;
    settings.sendApplication = m_chkApplication.GetCheck();
    settings.sendBitmap = m_chkBitmap.GetCheck();
    settings.sendFont = m_chkFont.GetCheck();
    settings.sendRecipes = m_chkRecipe.GetCheck();
    HmiTransferState state{m_bCancelRequested,      m_nTargetCode,    m_dwTransferStartTick,
                           m_bTransferStartTickSet, m_nPacketCount,   m_bPortOpen,
                           m_strSelectedRecipe,     m_arrAppImage,    m_arrBitmapImage,
                           m_arrFontImage,          m_arrRecipeImage, m_arrRecipeNames,
                           m_arrRecipeSizes,        m_progressBarSink};
    CHmiTransfer transfer(m_serialPort, m_ui, settings, state, [&priority] { priority.Restore(); });
    transfer.SetFrameObserver(m_frameObserver);
    const std::uint32_t transferStart = platform::TickCount();
    const int result = transfer.RunHMITransfer();
    ShowOutcome(result, transfer, transferStart);
}

void CTarvexDlg::ShowOutcome(int transferResult, const CHmiTransfer& transfer,
                             std::uint32_t transferStart) {
    if (m_nTargetCode != 0) {
        // The panel's code (or the failure's 255) is shown with the port already closed.
        if (m_bPortOpen) {
            m_serialPort.Close();
            m_bPortOpen = false;
        }
        // The status line says it first, so that it does not still tell of the last step
        // while the box waits for the user; also when the box came earlier, from the recipe.
        m_progressBarSink.OnOutcome(CodeMessageText(m_nTargetCode, m_bUSBDownload));
        if (transfer.ShownCode() != m_nTargetCode) {
            ShowCodeMessage(m_ui, m_nTargetCode, m_bUSBDownload);
        }
        if (IsPanelCode(m_nTargetCode)) {
            m_lastOutcome = DownloadOutcome::PanelCode;
            m_nOutcomeCode = m_nTargetCode;
        } else {
            m_lastOutcome = DownloadOutcome::Failed;
        }
    } else if (transferResult == 0 && (transfer.AnyItemFailed() || transfer.PassedUnconfirmed())) {
        // A later item's success must not hide an earlier item's failure, and a frame that
        // Cancel let pass unconfirmed leaves the panel's state unknown.
        const std::uint8_t code = transfer.AnyItemFailed() ? transfer.FailedItemCode() : 255;
        // A recipe's code has been shown when the recipe failed; it is not shown again.
        const std::uint8_t shown = IsPanelCode(code) ? code : 255;
        m_progressBarSink.OnOutcome(CodeMessageText(shown, m_bUSBDownload));
        if (!IsPanelCode(code) || transfer.ShownCode() != code) {
            ShowCodeMessage(m_ui, shown, m_bUSBDownload);
        }
        m_lastOutcome = IsPanelCode(code) ? DownloadOutcome::PanelCode : DownloadOutcome::Failed;
        m_nOutcomeCode = IsPanelCode(code) ? code : 0;
    } else if (transferResult == 0) {
        const std::uint32_t endTick = platform::TickCount();
        m_progressBarSink.OnOutcome("Download Complete!");
        Notice(m_ui, "Download Complete!");
        // Without a bitmap transfer the time counts from the start of this transfer.
        WriteTimingLog(endTick, m_bTransferStartTickSet ? m_dwTransferStartTick : transferStart);
        m_lastOutcome = DownloadOutcome::Complete;
    } else {
        m_progressBarSink.OnOutcome("Download not successful!");
        Notice(m_ui, "Download not successful!");
        m_lastOutcome = DownloadOutcome::Failed;
    }
    // A click that came too late to stop anything leaves a complete download complete.
    if (m_bCancelledByUser && m_lastOutcome != DownloadOutcome::Complete) {
        m_lastOutcome = DownloadOutcome::Cancelled;
    }
}

void CTarvexDlg::BackToIdle(const platform::RaisedPriorityScope& priority, bool transferStarted) {
    // Before the port phase nothing else was touched. In it, Close does nothing for a port that
    // never opened or that the transfer has closed already.
    if (m_bDownloadRunning) {
        m_serialPort.Close();
        m_bPortOpen = false;
        m_btnDownload.EnableWindow(true);
        m_btnClose.EnableWindow(true);
        m_bDownloadRunning = false;
        m_serialPort.SetIdleHook({});
    }
    priority.Restore();
    if (transferStarted) {
        m_progress.SetPos(0);
    }
}

bool CTarvexDlg::RefuseUnsupportedSelection() {
    // A panel that is not addressed by slave ID answers in a shorter form that cannot be told
    // apart from a lost byte; such versions are not supported.
    const auto index = static_cast<std::size_t>(m_nBootloaderIndex);
    const auto& slaveIdSupport = m_curCfg.m_arrDnldCmdSlaveIDSupport;
    if (index < slaveIdSupport.size() && slaveIdSupport[index] == "0") {
        Notice(m_ui,
               "The selected hardware version is not addressed by slave ID; downloading to "
               "it is not supported.");
        return true;
    }
    // Without a packet size the items cannot be cut into packets.
    if (LookupPacketSize(m_strDnldProduct, m_strBootloaderVersion) == 0) {
        Notice(m_ui, "No packet size is configured for the selected hardware version \"" +
                         m_strBootloaderVersion + "\" of \"" + m_strDnldProduct +
                         "\"; check its configuration file.");
        return true;
    }
    // Bitmaps and fonts have item codes of their own only for the known HMI types; under any
    // other type they would be announced to the panel as an application.
    if ((m_chkBitmap.GetCheck() || m_chkFont.GetCheck()) && !hmi::HmiTypeKnown(m_strHMIType)) {
        Notice(m_ui, "Bitmap and Font cannot be downloaded to the HMI type \"" + m_strHMIType +
                         "\" named in DnldData.txt; only USER_HMI and INTERNAL_MMI take them.");
        return true;
    }
    return false;
}

void CTarvexDlg::WriteTimingLog(std::uint32_t endTick, std::uint32_t transferStartTick) {
    const auto elapsed = static_cast<std::int32_t>(endTick - transferStartTick);
    // The log keeps the CR LF line ends that its readers know.
    const std::string text = "Total Download Time," + std::to_string(elapsed) +
                             "\r\nNo of Packets," + std::to_string(m_nPacketCount) +
                             "\r\n\r\n[EOF]";
    // A log that cannot be written is skipped without a word: it is a diagnostic aid only.
    (void)platform::WriteFileAtomically(TimingLogPath(), text, 0644);
}

}  // namespace tarvex

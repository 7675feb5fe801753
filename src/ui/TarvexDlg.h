// CTarvexDlg: the main form, without a toolkit.
//
// The form holds the state of the tool and its handlers; its controls are the small models of
// ui/Controls.h. A view mirrors the models and calls the user-action entry points below when a
// person acts; the command line and the tests call the same entry points. Message boxes, the
// open-file dialog and the event pump go through IUserInterface.
//
//   OnInitDialog()              start-up in a fixed order: data file, catalogue, settings, ports
//   UserSelect / UserClick /    what a person does: pick a list entry, click a button or box,
//   UserSetText / UserDropDown  type into a field, open a drop-down list; a disabled or hidden
//                               control, or an ended form, does nothing (the call returns false)
//   OnDownload()                the Download button: the whole download
//   IsEnded()                   Close was pressed; the view closes its window
//
// Handlers change the control models from code; that only tells the view to repaint and never
// runs another handler. Where a handler must run another one (the start-up restoring the saved
// product, a bootloader choice switching back to Serial Download), it calls it itself.
//
// One form serves one port; several forms may live side by side in one process: the form keeps
// no global state, and everything it finds on disk is found under its start-up directory.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "catalogue/Catalogue.h"
#include "catalogue/CfgFile.h"
#include "download/DownloadContainer.h"
#include "download/SharedContainer.h"
#include "hmi/HmiTransfer.h"
#include "platform/ProcessPriority.h"
#include "platform/UserInterface.h"
#include "serial/PortProbe.h"
#include "serial/SerialPort.h"
#include "ui/Controls.h"
#include "ui/DnldSettings.h"
#include "ui/TransferProgressBar.h"

namespace tarvex {

// Control identifiers. Close and Cancel carry the identities of a dialog's OK and Cancel.
enum ControlIds : int {
    IDC_CLOSE = 1,  // "Close": the default button, the dialog's OK
    IDC_CANCEL = 2,
    IDC_FILE_TO_SEND = 1000,
    IDC_BROWSE = 1001,
    IDC_COM_PORT = 1002,
    IDC_BAUD_RATE = 1003,
    IDC_PARITY = 1004,
    IDC_PASSWORD = 1005,
    IDC_DATA_BITS = 1006,
    IDC_STOP_BITS = 1007,
    IDC_DOWNLOAD = 1008,
    IDC_PROGRESS = 1009,
    IDC_REMEMBER_PASSWORD = 1010,
    IDC_PRODUCT = 1011,
    IDC_SLAVE_ID = 1012,
    IDC_BOOTLOADER_VERSION = 1014,
    IDC_SLAVE_ID_LABEL = 1015,
    IDC_BL_VERSION = 1016,
    IDC_BL_VERSION_LABEL = 1017,
    IDC_FIRMWARE_VERSION = 1019,
    IDC_APPLICATION = 1020,
    IDC_UPLOAD = 1021,
    IDC_BITMAP = 1022,
    IDC_FONT = 1023,
    IDC_RECIPE = 1024,
    IDC_ALL = 1025,
    IDC_SELECT_RECIPE_LABEL = 1026,
    IDC_SELECT_RECIPE = 1027,
    IDC_SERIAL_DOWNLOAD = 1035,
    IDC_USB_DOWNLOAD = 1036,
    IDC_ECHO = 1037,
    IDC_RS485 = 1038,
    IDC_PRODUCT_LABEL = 1101,
    IDC_BOOTLOADER_LABEL = 1102,
    IDC_FIRMWARE_LABEL = 1103,
    IDC_FILE_TO_SEND_LABEL = 1104,
    IDC_COM_PORT_LABEL = 1105,
    IDC_BAUD_RATE_LABEL = 1106,
    IDC_PARITY_LABEL = 1107,
    IDC_DATA_BITS_LABEL = 1108,
    IDC_STOP_BITS_LABEL = 1109,
    IDC_PASSWORD_LABEL = 1110,
    IDC_ECHO_LABEL = 1111,
};

// The system-menu command of the About box; the low four bits are the toolkit's own.
inline constexpr std::uint32_t IDM_ABOUTBOX = 16;

inline constexpr char kFormTitle[] = "Separate Tarvex Version 1.1";

// Asked before a container accepted on its header checksum, with a damaged body, is downloaded.
inline constexpr char kDamagedBodyQuestion[] =
    "The contents of this file do not match its checksum: the images in it may be damaged. "
    "Download anyway?";

// A bin file's name goes into one line of the settings file; a name with a line break is refused.
inline constexpr char kLineBreakInFileName[] =
    "The name of the file to send contains a line break. Rename the file or choose another "
    "one.";
inline bool HasLineBreak(std::string_view text) {
    return text.find_first_of("\r\n") != std::string_view::npos;
}

// Where the form finds its files and ports. Defaults: the current directory, the real sysfs and
// TARVEX_EXTRA_PORTS, the timing log from TARVEX_TIMING_LOG or its fixed path.
struct FormEnvironment {
    // appDir: the start-up directory (catalogue, settings file, download data file). Relative
    // paths read from those files (the project directory) still resolve against the process's
    // current directory, as they do when appDir is left empty.
    std::string appDir;  // empty: the process's current directory at start-up
    ProbeOptions probe = ProbeOptionsFromEnvironment();
    std::string timingLogPath;  // empty: TARVEX_TIMING_LOG, else the fixed path
    // Forms that run side by side on one container share this cache: Download takes the
    // container from it, read and checked once, and the form's item images share its bytes
    // instead of copying them. The form's CDownloadInfo then only gets the signature and the
    // product code. Null: the form reads and checks the file itself at every Download.
    std::shared_ptr<ContainerCache> containers;
    // Asked before Download writes the settings file; false skips the write. Forms that run
    // side by side give one answer "yes" per run, so that the file is written at most once and
    // never by two forms at once. Empty: always written, as the dialog does.
    std::function<bool()> maySaveSettings;
    // A saved port that is not in the Com Port list: false, the list's first entry stands in
    // for it; true, the list keeps the entry the user picked if it is still there, and else
    // has no current entry, so that Download refuses until a port is chosen (the native
    // Windows dialog, whose status line says why).
    bool leaveMissingSavedPortUnselected = false;
    // The Com Port list's entries. Forms that start side by side share one probe of the
    // ports instead of each probing every port. Empty: the form probes with `probe`.
    std::function<std::vector<std::string>()> listPorts;
};

// How the last press of Download ended; the command line turns it into its exit status.
enum class DownloadOutcome {
    None,         // no download yet
    Complete,     // "Download Complete!"
    Refused,      // stopped before the port was opened (validation, selection, container)
    PortFailed,   // the port could not be opened or configured
    ItemMissing,  // a ticked item is not in the container
    PanelCode,    // the panel reported a code (in m_nTargetCode, or FailedPanelCode())
    Failed,       // any other failure: no reply, attempt limit, the line lost
    Cancelled,    // the user pressed Cancel during the transfer
};

class CTarvexDlg {
  public:
    CTarvexDlg(CDownloadInfo& downloadInfo, IUserInterface& ui, FormEnvironment env = {});
    CTarvexDlg(const CTarvexDlg&) = delete;
    CTarvexDlg& operator=(const CTarvexDlg&) = delete;
    ~CTarvexDlg();

    // --- Start-up and end --------------------------------------------------------------------
    void OnInitDialog();
    bool IsEnded() const { return m_bEnded; }
    // Called once when Close ends the form (the view closes its window from here).
    void SetEndListener(std::function<void()> listener) { m_onEnd = std::move(listener); }

    // --- What a person does (the view, the command line and the tests call these) -----------
    // Each returns false, and does nothing, when the control is disabled or hidden, when the
    // entry does not exist, or when the form has ended.
    bool UserSelect(ComboBox& list, int index);  // picks an entry: runs the list's handler
    // A check box toggles, a radio button becomes checked (its partner unchecked); then the
    // control's handler runs. A push button runs its handler.
    bool UserClick(Control& control);
    bool UserSetText(EditField& field, std::string text);  // typing; no handler
    bool UserDropDown(ComboBox& list);                     // opens a drop-down list
    void OnSysCommand(std::uint32_t commandId);  // the About item and other system commands
    Control* FindControl(int id);
    void ForEachControl(const std::function<void(Control&)>& fn);

    // --- Handlers -----------------------------------------------------------------------------
    bool ValidateInputs();
    void OnBrowse();
    // What Browse does with a file the user confirmed: path, field, folder, Recipe refresh.
    void ApplyBrowseResult(const std::string& path);
    void OnRecipe();  // the Recipe refresh
    void OnSelchangeRecipe();
    void OnAll();
    void OnSerialDownload();
    void OnUsbDownload();
    void EnumeratePorts();
    void OnDropdownComPort();
    void OnCancel();
    void OnClose();
    void OnDownload();

    // --- Catalogue ------------------------------------------------------------------------------
    void ScanCatalogue();
    void FillCatalogueLists();
    void OnSelchangeProduct();
    void OnSelchangeBootloaderVersion();
    void ApplyProductVersion(int versionIndex, int productIndex);
    // Code of the first record named productName (exact), low 16 bits; nothing when no record
    // carries the name, so that no container can match it.
    std::optional<std::uint16_t> GetProductCode(std::string_view productName) const;
    // Packet size of the version named bootloaderText of productName: the serial size while
    // Serial Download is checked, the USB size otherwise. 0 when nothing matches.
    std::uint16_t LookupPacketSize(std::string_view productName,
                                   std::string_view bootloaderText) const;
    std::uint16_t LookupUploadFrameSize(std::string_view productName,
                                        std::string_view bootloaderText) const;
    // Format code of the current Firmware Version entry; 0 when there is none at its position.
    std::uint32_t CurrentFirmwareFormat() const;
    // Position of the current Bootloader Version entry minus one (-1: placeholder, -2: none).
    int CurrentVersionIndex() const { return m_cmbBootloaderVersion.GetCurSel() - 1; }

    // --- Settings file --------------------------------------------------------------------------
    void LoadSettings();
    void ReadSettings(const std::string& path);
    void ApplyDefaultSettings();
    void SaveSettings(const std::string& path);

    // --- Download data file and download set ---------------------------------------------------
    void ReadDownloadDataFile();
    int CheckDownloadSet();

    // --- Download
    // ---------------------------------------------------------------------------------
    DownloadOutcome LastDownloadOutcome() const { return m_lastOutcome; }
    // The panel code that the outcome reports (1..9), when the outcome is PanelCode.
    std::uint8_t OutcomePanelCode() const { return m_nOutcomeCode; }
    bool DownloadRunning() const { return m_bDownloadRunning; }
    // Sees every frame written and every reply read by the transfers (for a trace).
    void SetFrameObserver(CHmiTransfer::FrameObserver observer) {
        m_frameObserver = std::move(observer);
    }
    // Hears every step of the transfers (items, phases, packets, resends) after the form's own
    // progress bar has moved; nullptr for none. Not owned; must outlive the downloads.
    void SetProgressListener(ITransferProgress* listener) { m_progressBarSink.SetNext(listener); }
    // Where the timing log goes: the environment's path, TARVEX_TIMING_LOG, or the fixed path.
    std::string TimingLogPath() const;

    IUserInterface& UI() { return m_ui; }
    CSerialPort& SerialPort() { return m_serialPort; }
    CDownloadInfo& DownloadInfo() { return m_downloadInfo; }
    // The shared container the last Download used (environment's cache), else null.
    std::shared_ptr<const SharedContainer> UsedSharedContainer() const { return m_sharedContainer; }
    const FormEnvironment& Environment() const { return m_env; }

    // --- Controls -------------------------------------------------------------------------------
    // "Details"
    Label m_lblProduct{IDC_PRODUCT_LABEL, "Select Product"};
    ComboBox m_cmbProduct{IDC_PRODUCT, ""};
    Label m_lblBootloader{IDC_BOOTLOADER_LABEL, "Bootloader Version No."};
    ComboBox m_cmbBootloaderVersion{IDC_BOOTLOADER_VERSION, ""};
    Label m_lblFirmware{IDC_FIRMWARE_LABEL, "Firmware Version No:"};
    ComboBox m_cmbFirmwareVersion{IDC_FIRMWARE_VERSION, ""};
    Label m_lblFileToSend{IDC_FILE_TO_SEND_LABEL, "File to Send"};
    EditField m_editFileToSend{IDC_FILE_TO_SEND, ""};
    Button m_btnBrowse{IDC_BROWSE, "Browse"};
    Label m_lblSlaveID{IDC_SLAVE_ID_LABEL, "Slave ID"};
    EditField m_editSlaveID{IDC_SLAVE_ID, ""};
    // "Communication Settings"
    RadioButton m_radSerialDownload{IDC_SERIAL_DOWNLOAD, "Serial Download"};
    RadioButton m_radUSBDownload{IDC_USB_DOWNLOAD, "USB Download"};
    Label m_lblComPort{IDC_COM_PORT_LABEL, "Com Port"};
    ComboBox m_cmbComPort{IDC_COM_PORT, ""};
    Label m_lblBaudRate{IDC_BAUD_RATE_LABEL, "Baud Rate"};
    ComboBox m_cmbBaudRate{IDC_BAUD_RATE, ""};
    Label m_lblParity{IDC_PARITY_LABEL, "Parity"};
    ComboBox m_cmbParity{IDC_PARITY, ""};
    Label m_lblDataBits{IDC_DATA_BITS_LABEL, "Data bits"};
    ComboBox m_cmbDataBits{IDC_DATA_BITS, ""};
    Label m_lblStopBits{IDC_STOP_BITS_LABEL, "Stop Bits"};
    ComboBox m_cmbStopBits{IDC_STOP_BITS, ""};
    Label m_lblPassword{IDC_PASSWORD_LABEL, "Password"};
    EditField m_editPassword{IDC_PASSWORD, "", /*hideCharacters=*/true};
    CheckBox m_chkRememberPassword{IDC_REMEMBER_PASSWORD, "Remember Password"};
    // A two-wire line: what to do with the echo of each frame (None, Discard, Verify), and
    // whether the driver switches the direction with RTS.
    Label m_lblEcho{IDC_ECHO_LABEL, "Echo"};
    ComboBox m_cmbEcho{IDC_ECHO, ""};
    CheckBox m_chkRs485{IDC_RS485, "RS-485"};
    // "Download"
    CheckBox m_chkApplication{IDC_APPLICATION, "Application"};
    CheckBox m_chkBitmap{IDC_BITMAP, "Bitmap"};
    CheckBox m_chkFont{IDC_FONT, "Font"};
    CheckBox m_chkRecipe{IDC_RECIPE, "Recipe"};
    CheckBox m_chkAll{IDC_ALL, "All"};
    CheckBox m_chkUpload{IDC_UPLOAD, "Upload"};
    Label m_lblSelectRecipe{IDC_SELECT_RECIPE_LABEL, "Select Recipe"};
    ComboBox m_cmbSelectRecipe{IDC_SELECT_RECIPE, ""};
    // Bottom
    ProgressBar m_progress{IDC_PROGRESS, ""};
    Label m_lblBLVersion{IDC_BL_VERSION_LABEL, "BL Version"};
    EditField m_editBLVersion{IDC_BL_VERSION, ""};
    Button m_btnDownload{IDC_DOWNLOAD, "Download"};
    Button m_btnClose{IDC_CLOSE, "Close"};
    Button m_btnCancel{IDC_CANCEL, "Cancel"};

    // --- Form fields --------------------------------------------------------------------------
    std::string m_strAppDir;  // start-up directory with a trailing separator
    std::string m_strBinFilePath;
    std::string m_strBinFileDir;
    std::string m_strBinExtension;
    std::string m_strSelectedRecipe;
    std::vector<std::string> m_arrRecipeNames;
    std::vector<std::uint32_t> m_arrRecipeSizes;

    // Settings
    CDnldSettings m_settings;
    bool m_bRememberPassword = false;
    std::string m_strProductName;
    std::string m_strBootloaderVersion;
    std::string m_strFirmwareVersion;
    std::string m_strEcho = "None";  // the Echo list's text as saved
    bool m_bRs485 = false;

    // Catalogue
    std::vector<std::string> m_arrProducts;
    std::vector<CBootLoaderDetails> m_arrBootLoaderDetails;
    std::vector<CCFGFileDet> m_arrCfgFileDet;
    CurrentVersionTables m_curCfg;
    std::vector<std::uint32_t> m_arrFirmwareFormat;

    // Download data file and download set
    std::string m_strDnldProduct;
    std::string m_strApplicationName;
    std::string m_strHMIType;
    SharedBytes m_arrAppImage;
    SharedBytes m_arrBitmapImage;
    SharedBytes m_arrFontImage;
    SharedBytes m_arrRecipeImage;

    // Download fields; they outlive a download
    bool m_bUSBDownload = false;
    platform::SavedPriority m_nSavedPriorityClass;
    std::int32_t m_nBootloaderIndex = -1;
    bool m_bPortOpen = false;
    bool m_bCancelRequested = false;
    std::uint8_t m_nTargetCode = 255;
    std::uint32_t m_dwTransferStartTick = 0;
    bool m_bTransferStartTickSet = false;  // a bitmap transfer has run in this form
    std::int32_t m_nPacketCount = 0;

  private:
    SettingsFields CurrentSettingsFields() const;
    void StoreSettingsFields(const SettingsFields& fields);
    void ApplySettingsToControls();
    // Makes the saved port current: its entry in any letter case, else the device a COMn name
    // stands for, else entry 0 (or, as the environment asks, the entry named previous, else
    // none).
    void SelectSavedPort(const std::string& previous = {});
    void SetTransferMode(bool usb);
    std::string CatalogueFile(const std::string& folder, const std::string& product) const;

    CDownloadInfo& m_downloadInfo;
    IUserInterface& m_ui;
    FormEnvironment m_env;
    CSerialPort m_serialPort;
    // File names in Pxx as found by the scan, one per entry of m_arrProducts.
    std::vector<std::string> m_arrProductFiles;
    bool m_bEnded = false;
    std::function<void()> m_onEnd;

    // The phases of OnDownload, in order. A phase that stops the download has shown why.
    class DownloadScope;  // puts the form back to idle on every way out
    void TakeTransferMode();
    // The form's checks, the placeholders, the container and its product, the selection: the
    // firmware version's text when the download may go on.
    std::optional<std::string> CheckBeforeThePort();
    bool RefuseUnsupportedSelection();
    void StoreDownloadSettings();
    bool OpenThePort();  // open, line settings, time-outs; the port phase starts here
    void RunTransfer(const std::string& firmwareText,
                     const platform::RaisedPriorityScope& priority);
    // The one message for the transfer's end, and the outcome.
    void ShowOutcome(int transferResult, const CHmiTransfer& transfer, std::uint32_t transferStart);
    void BackToIdle(const platform::RaisedPriorityScope& priority, bool transferStarted);
    void WriteTimingLog(std::uint32_t endTick, std::uint32_t transferStartTick);
    DownloadOutcome m_lastOutcome = DownloadOutcome::None;
    std::uint8_t m_nOutcomeCode = 0;
    bool m_bDownloadRunning = false;
    bool m_bCancelledByUser = false;
    CHmiTransfer::FrameObserver m_frameObserver;
    TransferProgressBar m_progressBarSink{m_progress};
    std::shared_ptr<const SharedContainer> m_sharedContainer;
};

}  // namespace tarvex

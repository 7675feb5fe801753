// The form's start-up, run headless in a workspace: every list, box and field as it comes up.
#include <gtest/gtest.h>
#include <unistd.h>

#include "FormFixture.h"
#include "platform/Files.h"
#include "support/PtyPair.h"

namespace tarvex::test {
namespace {

using Entries = std::vector<std::string>;

class FormStartup : public FormTest {};

TEST_F(FormStartup, EmptyWorkspaceComesUpWithDefaultsAndOneNotice) {
    PtyPair pty;
    CTarvexDlg& f = Start({pty.slavePath()});

    ASSERT_EQ(ui.Texts(), Entries{"Download Data File not found!"});
    EXPECT_EQ(ui.messages[0].kind, MessageKind::Notice);
    EXPECT_EQ(ui.messages[0].caption, "Tarvex");

    EXPECT_EQ(f.m_strAppDir, ws.path() + "/");
    EXPECT_TRUE(f.m_radSerialDownload.GetCheck());
    EXPECT_FALSE(f.m_radUSBDownload.GetCheck());
    EXPECT_TRUE(f.m_chkApplication.GetCheck());
    EXPECT_FALSE(f.m_chkBitmap.GetCheck());
    EXPECT_FALSE(f.m_chkFont.GetCheck());
    EXPECT_FALSE(f.m_chkRecipe.GetCheck());
    EXPECT_FALSE(f.m_chkAll.GetCheck());
    EXPECT_EQ(f.m_editFileToSend.GetWindowText(), "H1.bin");
    EXPECT_EQ(f.m_strBinFilePath, "H1.bin");

    // No catalogue: the product placeholder alone with nothing current.
    EXPECT_EQ(f.m_cmbProduct.Entries(), Entries{"Select Product"});
    EXPECT_EQ(f.m_cmbProduct.GetCurSel(), -1);
    EXPECT_EQ(f.m_cmbBootloaderVersion.GetCount(), 0);
    EXPECT_EQ(f.m_cmbFirmwareVersion.Entries(), Entries{"Select Firmware Version"});
    EXPECT_EQ(f.m_cmbFirmwareVersion.GetCurSel(), 0);
    EXPECT_TRUE(f.m_arrFirmwareFormat.empty());
    EXPECT_TRUE(f.m_curCfg.m_arrVersionName.empty());
    EXPECT_EQ(f.m_strBinExtension, "");

    // The defaults of a missing settings file, in the controls.
    EXPECT_EQ(f.m_cmbBaudRate.Entries(),
              (Entries{"2400", "4800", "9600", "19200", "38400", "57600", "115200"}));
    EXPECT_EQ(f.m_cmbBaudRate.GetWindowText(), "19200");
    EXPECT_EQ(f.m_cmbParity.Entries(), (Entries{"None", "Even", "Odd", "Mark", "Space"}));
    EXPECT_EQ(f.m_cmbParity.GetWindowText(), "None");
    EXPECT_EQ(f.m_cmbDataBits.GetWindowText(), "8");
    EXPECT_EQ(f.m_cmbStopBits.GetWindowText(), "2");
    EXPECT_EQ(f.m_editSlaveID.GetWindowText(), "1");
    EXPECT_EQ(f.m_editPassword.GetWindowText(), "");
    EXPECT_TRUE(f.m_editPassword.HidesCharacters());
    EXPECT_FALSE(f.m_chkRememberPassword.GetCheck());
    EXPECT_EQ(f.m_settings.m_strComPort, "COM1");

    // The saved COM1 is not among the ports, so the first port is current.
    EXPECT_EQ(f.m_cmbComPort.Entries(), Entries{pty.slavePath()});
    EXPECT_EQ(f.m_cmbComPort.GetCurSel(), 0);

    for (const Control* hidden : {static_cast<const Control*>(&f.m_lblBLVersion),
                                  static_cast<const Control*>(&f.m_editBLVersion),
                                  static_cast<const Control*>(&f.m_chkUpload),
                                  static_cast<const Control*>(&f.m_lblSelectRecipe),
                                  static_cast<const Control*>(&f.m_cmbSelectRecipe)}) {
        EXPECT_FALSE(hidden->IsVisible()) << hidden->Caption();
    }
    EXPECT_TRUE(f.m_editSlaveID.IsVisible());
    EXPECT_FALSE(f.IsEnded());
    EXPECT_EQ(f.m_nTargetCode, 255);
    EXPECT_FALSE(f.m_bUSBDownload);
}

TEST_F(FormStartup, NoPortThatOpensLeavesTheComPortListEmpty) {
    CTarvexDlg& f = Start({ws / "no-such-device"});
    EXPECT_EQ(f.m_cmbComPort.GetCount(), 0);
    EXPECT_EQ(f.m_cmbComPort.GetCurSel(), -1);
}

TEST_F(FormStartup, SavedSelectionIsRestoredWithoutUserAction) {
    AddStandardCatalogue();
    ws.WriteDownloadData("Alpha", ws / "project/");
    // Letter case differs from the lists: the search ignores it.
    ws.WriteSettings({{"PRODUCT NAME", "alpha"},
                      {"BOOTLOADER VERSION", "v2.0-b"},
                      {"FIRMWARE VERSION", "F2.1"},
                      {"REMEMBER PASSWORD", "Yes"},
                      {"PASSWORD", "5826"}});
    CTarvexDlg& f = Start();

    EXPECT_TRUE(ui.messages.empty()) << ui.Texts().front();
    EXPECT_EQ(f.m_cmbProduct.Entries(), (Entries{"Select Product", "Alpha", "beta"}));
    EXPECT_EQ(f.m_cmbProduct.GetWindowText(), "Alpha");
    EXPECT_EQ(f.m_cmbBootloaderVersion.Entries(),
              (Entries{"Select Hardware Version", "V1.0-A", "V2.0-B"}));
    EXPECT_EQ(f.m_cmbBootloaderVersion.GetWindowText(), "V2.0-B");
    EXPECT_EQ(f.m_cmbFirmwareVersion.Entries(),
              (Entries{"Select Firmware Version", "F2.0", "F2.1", "F2.2"}));
    EXPECT_EQ(f.m_cmbFirmwareVersion.GetWindowText(), "F2.1");

    EXPECT_EQ(f.m_strDnldProduct, "Alpha");
    EXPECT_EQ(f.m_curCfg.m_arrVersionName, (Entries{"V1.0-A", "V2.0-B"}));
    EXPECT_EQ(f.m_curCfg.m_arrDwnldFrameSize, (std::vector<std::uint32_t>{128, 256}));
    EXPECT_EQ(f.m_strBinExtension, "abc");
    EXPECT_EQ(f.m_arrFirmwareFormat, (std::vector<std::uint32_t>{255, 1, 1}));
    // Version 2 takes no slave ID and no password of its own.
    EXPECT_FALSE(f.m_editSlaveID.IsVisible());
    EXPECT_FALSE(f.m_lblSlaveID.IsVisible());
    EXPECT_EQ(f.m_editPassword.GetWindowText(), "5826");
    EXPECT_TRUE(f.m_chkRememberPassword.GetCheck());
    EXPECT_EQ(f.LookupPacketSize(f.m_strDnldProduct, f.m_cmbBootloaderVersion.GetWindowText()),
              256);
}

TEST_F(FormStartup, UnknownSavedProductLeavesThePlaceholders) {
    AddStandardCatalogue();
    ws.WriteDownloadData("Alpha", ws / "project/");
    ws.WriteSettings({{"PRODUCT NAME", "Gamma"},
                      {"BOOTLOADER VERSION", "V1.0-A"},
                      {"FIRMWARE VERSION", "F1.0"}});
    CTarvexDlg& f = Start();

    EXPECT_EQ(f.m_cmbProduct.GetCurSel(), 0);
    EXPECT_EQ(f.m_cmbBootloaderVersion.GetCount(), 0);
    EXPECT_EQ(f.m_cmbFirmwareVersion.Entries(), Entries{"Select Firmware Version"});
    EXPECT_EQ(f.m_cmbFirmwareVersion.GetCurSel(), 0);
    // The product of the download data file stays until a product is chosen.
    EXPECT_EQ(f.m_strDnldProduct, "Alpha");
}

TEST_F(FormStartup, SavedProductWithUnknownBootloaderShowsItsVersions) {
    AddStandardCatalogue();
    ws.WriteDownloadData("Alpha", ws / "project/");
    ws.WriteSettings({{"PRODUCT NAME", "beta"}, {"BOOTLOADER VERSION", "B9"}});
    CTarvexDlg& f = Start();

    EXPECT_EQ(f.m_cmbProduct.GetWindowText(), "beta");
    EXPECT_EQ(f.m_strDnldProduct, "beta");
    EXPECT_EQ(f.m_cmbBootloaderVersion.Entries(), (Entries{"Select Hardware Version", "B1"}));
    EXPECT_EQ(f.m_cmbBootloaderVersion.GetCurSel(), 0);
    EXPECT_EQ(f.m_cmbFirmwareVersion.Entries(), Entries{"Select Firmware Version"});
    EXPECT_TRUE(f.m_curCfg.m_arrVersionName.empty());
}

TEST_F(FormStartup, DownloadDataFileSetsTheProjectAndTheFileField) {
    AddStandardCatalogue();
    const std::string project = ws / "project/";
    ws.WriteDownloadData("beta", project, "Panel7", "INTERNAL_MMI");
    ws.Write("project/BMP/BMP.bin", "bitmaps");
    // The saved path is never shown at start.
    ws.WriteSettings({{"BIN FILE PATH", "/elsewhere/other.bin"}});
    CTarvexDlg& f = Start();

    EXPECT_EQ(f.m_strBinFileDir, project);
    EXPECT_EQ(f.m_strBinFilePath, project + "H1.bin");
    EXPECT_EQ(f.m_editFileToSend.GetWindowText(), project + "H1.bin");
    EXPECT_TRUE(f.m_chkBitmap.GetCheck());
    EXPECT_EQ(f.m_strDnldProduct, "beta");
    EXPECT_EQ(f.m_strApplicationName, "Panel7");
    EXPECT_EQ(f.m_strHMIType, "INTERNAL_MMI");
}

TEST_F(FormStartup, SavedLineSettingsPasswordAndSlaveIdReachTheControls) {
    PtyPair first;
    PtyPair second;
    ws.WriteDownloadData("", ws / "p/");
    ws.WriteSettings({{"SLAVE ID", "12ab"},
                      {"COM PORT", second.slavePath()},
                      {"BAUD RATE", "300"},
                      {"PARITY", "even"},
                      {"WORD LENGTH", "7"},
                      {"STOP BITS", "1"},
                      {"REMEMBER PASSWORD", "No"},
                      {"PASSWORD", "secret"}});
    CTarvexDlg& f = Start({first.slavePath(), second.slavePath()});

    EXPECT_TRUE(ui.messages.empty());
    // Baud rate 300 is not offered: the first entry.
    EXPECT_EQ(LineControls(f), (Entries{"12", second.slavePath(), "2400", "Even", "7", "1"}));
    // Not remembered: the field starts empty though the file keeps the password.
    EXPECT_FALSE(f.m_chkRememberPassword.GetCheck());
    EXPECT_EQ(f.m_editPassword.GetWindowText(), "");
    EXPECT_EQ(f.m_settings.m_strSavedPassword, "secret");
}

TEST_F(FormStartup, SettingsFileWithoutSlaveIdOrRememberKeysKeepsTheCreationValues) {
    ws.WriteDownloadData("", ws / "p/");
    ws.WriteSettings({{"PASSWORD", "pw"}});
    CTarvexDlg& f = Start();
    EXPECT_EQ(f.m_settings.m_nSlaveID, 1);
    EXPECT_EQ(f.m_editSlaveID.GetWindowText(), "1");
    EXPECT_FALSE(f.m_chkRememberPassword.GetCheck());
    // No defaults for the missing keys: the lists fall back to their first entries.
    EXPECT_EQ(f.m_settings.m_strBaudRate, "");
    EXPECT_EQ(f.m_cmbBaudRate.GetWindowText(), "2400");
    EXPECT_EQ(f.m_cmbStopBits.GetWindowText(), "1");
}

TEST_F(FormStartup, ProductWithoutConfigurationRecordDoesNotShiftTheOthers) {
    // Aardvark's configuration file is named in Pxx but missing (a link to nowhere); Anteater's
    // holds no version section. Neither yields a record.
    ProductSpec aardvark{.name = "Aardvark",
                         .versions = {{.name = "X1", .firmwareList = "a", .binExtension = "aa"}}};
    ws.AddProduct(aardvark, /*withCfgFile=*/false);
    ASSERT_EQ(::symlink((ws / "gone.CFG").c_str(), (ws / "Pxx/Aardvark.CFG").c_str()), 0);
    ProductSpec anteater{.name = "Anteater", .versions = {{.name = "Y1", .firmwareList = "y"}}};
    ws.AddProduct(anteater);
    ws.Write("Pxx/Anteater.CFG", "NOOFVERSIONS:0\n[EOF]\n");
    AddStandardCatalogue();
    ws.WriteDownloadData("", ws / "p/");
    CTarvexDlg& f = Start();

    ASSERT_EQ(f.m_cmbProduct.Entries(),
              (Entries{"Select Product", "Aardvark", "Alpha", "Anteater", "beta"}));
    EXPECT_EQ(ui.Texts(), Entries{"Cannot open config file!"});
    EXPECT_EQ(ui.messages[0].kind, MessageKind::PlainBox);
    EXPECT_EQ(ui.messages[0].caption, "Error");
    ASSERT_EQ(f.m_arrCfgFileDet.size(), 2u);

    // Every other product still finds its own record.
    Choose("Alpha", "V2.0-B");
    EXPECT_EQ(f.m_strBinExtension, "abc");
    EXPECT_EQ(f.m_curCfg.m_arrVersionName, (Entries{"V1.0-A", "V2.0-B"}));
    Choose("beta", "B1");
    EXPECT_EQ(f.m_strBinExtension, "bbin");
    EXPECT_EQ(f.m_curCfg.m_arrProductCode, (std::vector<std::uint32_t>{9}));
    EXPECT_EQ(f.GetProductCode("beta"), 9);
    EXPECT_EQ(f.GetProductCode("Alpha"), 7);
    EXPECT_EQ(f.GetProductCode("Aardvark"), std::nullopt);

    // A product without a record offers its versions but changes nothing when one is chosen.
    Choose("Aardvark", "X1");
    EXPECT_EQ(f.m_cmbFirmwareVersion.Entries(), (Entries{"Select Firmware Version", "a"}));
    EXPECT_EQ(f.m_strBinExtension, "bbin");
    EXPECT_EQ(f.m_curCfg.m_arrVersionName, Entries{"B1"});
    Choose("Anteater", "Y1");
    EXPECT_EQ(f.m_strBinExtension, "bbin");
}

TEST_F(FormStartup, ScanTakesCfgInAnyCaseSortsByNameAndReportsFolders) {
    ProductSpec b{.name = "B", .versions = {{.name = "b1", .firmwareList = "fb"}}};
    ProductSpec a{.name = "a", .versions = {{.name = "a1", .firmwareList = "fa"}}};
    ws.Write("Pxx/B.cfg", CfgFileText(b));
    ws.Write("Pxx/a.CFG", CfgFileText(a));
    ws.Write("Pxx/notes.txt", "not a product");
    ws.dir().MakeDir("Pxx/folder.cfg");
    // The bootloader-version files are found whatever the letter case of their names.
    ws.Write("Vxx/b.CFG", BootLoaderFileText(b));
    ws.Write("Vxx/A.cfg", BootLoaderFileText(a));
    ws.WriteDownloadData("", ws / "p/");
    CTarvexDlg& f = Start();

    EXPECT_EQ(ui.Texts(), Entries{"dir found"});
    EXPECT_EQ(ui.messages[0].kind, MessageKind::PlainBox);
    EXPECT_EQ(f.m_arrProducts, (Entries{"a", "B"}));
    Choose("B", "b1");
    EXPECT_EQ(f.m_cmbFirmwareVersion.Entries(), (Entries{"Select Firmware Version", "fb"}));
    EXPECT_EQ(f.m_curCfg.m_arrVersionName, Entries{"b1"});
    Choose("a", "a1");
    EXPECT_EQ(f.m_curCfg.m_arrVersionName, Entries{"a1"});
}

TEST_F(FormStartup, CatalogueFoldersAreFoundInAnyLetterCase) {
    ws.Write("pXX/Alpha.CFG", CfgFileText(AlphaProduct()));
    ws.Write("VXX/Alpha.CFG", BootLoaderFileText(AlphaProduct()));
    ws.WriteDownloadData("", ws / "p/");
    CTarvexDlg& f = Start();
    EXPECT_EQ(f.m_cmbProduct.Entries(), (Entries{"Select Product", "Alpha"}));
    Choose("Alpha", "V1.0-A");
    EXPECT_EQ(f.m_cmbFirmwareVersion.GetCount(), 3);
}

TEST_F(FormStartup, StartsFromTheCurrentDirectoryWhenNoneIsGiven) {
    FormEnvironment env = ws.Environment();
    env.appDir.clear();
    CTarvexDlg f(info, ui, env);
    f.OnInitDialog();
    EXPECT_EQ(f.m_strAppDir, platform::CurrentDirectory() + "/");
}

}  // namespace
}  // namespace tarvex::test

// The form's handlers, driven through its user-action entry points as a person would.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>

#include "FormFixture.h"
#include "platform/Files.h"
#include "support/PtyPair.h"

namespace tarvex::test {
namespace {

using Entries = std::vector<std::string>;

class FormHandlers : public FormTest {
  protected:
    void SetUp() override {
        AddStandardCatalogue();
        ws.WriteDownloadData("Alpha", ws / "project/");
    }
};

// --- Validation ------------------------------------------------------------------------------

class Validation : public FormHandlers {
  protected:
    // A form that passes every check: Alpha V1.0-A, slave ID 1, a port, an existing bin file.
    CTarvexDlg& StartValid() {
        CTarvexDlg& f = Start({pty.slavePath()});
        Choose("Alpha", "V1.0-A", "F1.0");
        f.m_nBootloaderIndex = f.CurrentVersionIndex();
        binFile = ws.Write("project/fw.bin", "x");
        f.ApplyBrowseResult(binFile);
        ui.Clear();
        return f;
    }

    // The message of the one failed check, or "" when the form passes.
    std::string Verdict() {
        ui.Clear();
        const bool ok = form->ValidateInputs();
        if (ok) {
            EXPECT_TRUE(ui.messages.empty());
            return "";
        }
        EXPECT_EQ(ui.messages.size(), 1u);
        if (ui.messages.empty()) {
            return "?";
        }
        EXPECT_EQ(ui.messages[0].kind, MessageKind::Notice);
        EXPECT_EQ(ui.messages[0].caption, "Tarvex");
        return ui.messages[0].text;
    }

    PtyPair pty;
    std::string binFile;
};

TEST_F(Validation, ChecksRunInTheirOrderAndStopAtTheFirstFailure) {
    CTarvexDlg& f = Start();  // no port at all
    f.m_editSlaveID.SetWindowText("abc");
    f.m_cmbBaudRate.SetCurSel(-1);
    f.m_strBinFilePath = ws / "missing.bin";

    // Each step repairs the check that failed last; the next check in the table speaks.
    EXPECT_EQ(Verdict(), "Please select a valid product to continue!");
    ASSERT_TRUE(Select(f.m_cmbProduct, "Alpha"));
    f.m_nBootloaderIndex = f.CurrentVersionIndex();
    EXPECT_EQ(f.m_nBootloaderIndex, -1);
    EXPECT_EQ(Verdict(), "Please select a valid hardware version to continue!");
    ASSERT_TRUE(Select(f.m_cmbBootloaderVersion, "V1.0-A"));
    EXPECT_EQ(Verdict(), "Please select a valid hardware version to continue!");
    f.m_nBootloaderIndex = f.CurrentVersionIndex();
    EXPECT_EQ(Verdict(), "Invalid Slave ID! Valid Range for Slave ID is 1 - 255.");
    f.m_editSlaveID.SetWindowText("255");
    EXPECT_EQ(Verdict(), "Please select a valid comport!");
    f.m_cmbComPort.AddString("/dev/ttyX");
    f.m_cmbComPort.SetCurSel(0);
    EXPECT_EQ(Verdict(), "Please select baud rate!");
    f.m_cmbBaudRate.SetCurSel(0);
    f.m_cmbParity.SetCurSel(-1);
    EXPECT_EQ(Verdict(), "Please select parity!");
    f.m_cmbParity.SetCurSel(0);
    f.m_cmbDataBits.SetCurSel(-1);
    EXPECT_EQ(Verdict(), "Please select word length!");
    f.m_cmbDataBits.SetCurSel(0);
    f.m_cmbStopBits.SetCurSel(-1);
    EXPECT_EQ(Verdict(), "Please select stop bits!");
    f.m_cmbStopBits.SetCurSel(0);
    EXPECT_EQ(Verdict(), "Bin file does not exist!");
    f.m_strBinFilePath = ws.Write("project/fw.new.bin", "x");
    EXPECT_EQ(Verdict(), "Please select correct bin file");
    f.m_strBinFilePath = ws.Write("project/FW.BIN", "x");
    EXPECT_EQ(Verdict(), "");
}

TEST_F(Validation, SlaveIdMustBeDigitsFrom1To255) {
    CTarvexDlg& f = StartValid();
    for (const char* bad : {"", "0", "256", "-1", "1a", " 1", "+5", "99999999999999999999"}) {
        f.m_editSlaveID.SetWindowText(bad);
        EXPECT_EQ(Verdict(), "Invalid Slave ID! Valid Range for Slave ID is 1 - 255.") << bad;
    }
    for (const char* good : {"001", "1", "255"}) {
        f.m_editSlaveID.SetWindowText(good);
        EXPECT_EQ(Verdict(), "") << good;
    }
}

TEST_F(Validation, ExtensionIsTakenFromTheFirstDotOfTheFileName) {
    CTarvexDlg& f = StartValid();
    f.m_strBinFilePath = ws.Write("project/fw.new.bin", "x");
    EXPECT_EQ(Verdict(), "Please select correct bin file");
    // Dots in folder names do not count; a name without a dot is not judged.
    f.m_strBinFilePath = ws.Write("pro.ject/firmware", "x");
    EXPECT_EQ(Verdict(), "");
    f.m_strBinFilePath = ws.Write("pro.ject/app.BiN", "x");
    EXPECT_EQ(Verdict(), "");
    // Version 2 expects the extension abc.
    Choose("Alpha", "V2.0-B");
    f.m_nBootloaderIndex = f.CurrentVersionIndex();
    f.m_editSlaveID.SetWindowText("1");
    EXPECT_EQ(Verdict(), "Please select correct bin file");
    f.m_strBinFilePath = ws.Write("project/fw.abc", "x");
    EXPECT_EQ(Verdict(), "");
}

TEST_F(Validation, PathWithoutFolderSkipsTheExtensionCheck) {
    CTarvexDlg& f = StartValid();
    // A file in the current directory, named without any folder.
    const std::string name = "tarvex-validation-" + std::to_string(::getpid()) + ".wrong";
    { std::ofstream(name) << "x"; }
    ASSERT_TRUE(platform::FileExists(name));
    f.m_strBinFilePath = name;
    const std::string verdict = Verdict();
    std::remove(name.c_str());
    EXPECT_EQ(verdict, "");
}

TEST_F(Validation, TypedFileTextIsNotWhatIsChecked) {
    CTarvexDlg& f = StartValid();
    ASSERT_TRUE(f.UserSetText(f.m_editFileToSend, ws / "nothing-here.bin"));
    EXPECT_EQ(Verdict(), "");
    f.m_strBinFilePath = ws / "nothing-here.bin";
    EXPECT_EQ(Verdict(), "Bin file does not exist!");
}

// --- Browse and the recipe list ------------------------------------------------------------

TEST_F(FormHandlers, BrowseAsksWithTheExtensionFilterAndTakesTheChoice) {
    CTarvexDlg& f = Start();
    Choose("Alpha", "V2.0-B");
    const std::string chosen = ws.Write("other/dir/app.abc", "x");
    ui.fileAnswers.push_back(chosen);
    ASSERT_TRUE(f.UserClick(f.m_btnBrowse));
    EXPECT_EQ(ui.filtersAsked, Entries{"ABC Files (*.abc)|*.abc||"});
    EXPECT_EQ(f.m_strBinFilePath, chosen);
    EXPECT_EQ(f.m_editFileToSend.GetWindowText(), chosen);
    EXPECT_EQ(f.m_strBinFileDir, ws / "other/dir/");

    // Cancelling changes nothing.
    ASSERT_TRUE(f.UserClick(f.m_btnBrowse));
    EXPECT_EQ(f.m_strBinFilePath, chosen);
    EXPECT_EQ(f.m_strBinFileDir, ws / "other/dir/");
    EXPECT_TRUE(ui.messages.empty());
}

TEST_F(FormHandlers, RecipeListGathersNamesAcrossFolders) {
    ws.Write("one/Recipe/r1.bin", "a");
    ws.Write("one/Recipe/R2.BIN", "b");
    ws.Write("one/Recipe/notes.txt", "c");
    ws.dir().MakeDir("one/Recipe/folder.bin");
    ws.Write("two/Recipe/r3.bin", "d");
    ws.Write("two/Recipe/r1.bin", "e");
    CTarvexDlg& f = Start();
    ASSERT_TRUE(f.UserClick(f.m_chkRecipe));
    ASSERT_TRUE(f.m_chkRecipe.GetCheck());

    ui.fileAnswers.push_back(ws.Write("one/app.bin", "x"));
    ui.fileAnswers.push_back(ws.Write("two/app.bin", "x"));
    ASSERT_TRUE(f.UserClick(f.m_btnBrowse));
    EXPECT_EQ(f.m_cmbSelectRecipe.Entries(), (Entries{"r1.bin", "R2.BIN", "All"}));
    ASSERT_TRUE(f.UserClick(f.m_btnBrowse));
    EXPECT_EQ(f.m_arrRecipeNames, (Entries{"r1.bin", "R2.BIN", "r3.bin"}));
    EXPECT_EQ(f.m_cmbSelectRecipe.Entries(), (Entries{"r1.bin", "R2.BIN", "r3.bin", "All"}));
    EXPECT_EQ(f.m_cmbSelectRecipe.GetCurSel(), 0);
    EXPECT_EQ(f.m_strSelectedRecipe, "r1.bin");

    // The list is hidden, so only the form changes its entry; the choice handler copies it.
    f.m_cmbSelectRecipe.SetCurSel(3);
    f.OnSelchangeRecipe();
    EXPECT_EQ(f.m_strSelectedRecipe, "All");

    // A folder without a Recipe folder leaves the list as it was.
    ui.fileAnswers.push_back(ws.Write("three/app.bin", "x"));
    ASSERT_TRUE(f.UserClick(f.m_btnBrowse));
    EXPECT_EQ(f.m_cmbSelectRecipe.GetCount(), 4);

    // Unticking Recipe empties the list; the names stay for the next refresh.
    ASSERT_TRUE(f.UserClick(f.m_chkRecipe));
    EXPECT_EQ(f.m_cmbSelectRecipe.GetCount(), 0);
    EXPECT_EQ(f.m_arrRecipeNames.size(), 3u);
    EXPECT_TRUE(ui.messages.empty());
}

TEST_F(FormHandlers, EmptyRecipeFolderLeavesOnlyAll) {
    ws.dir().MakeDir("project/Recipe");
    CTarvexDlg& f = Start();
    ASSERT_TRUE(f.UserClick(f.m_chkRecipe));
    EXPECT_EQ(f.m_cmbSelectRecipe.Entries(), Entries{"All"});
    EXPECT_EQ(f.m_strSelectedRecipe, "All");
}

TEST_F(FormHandlers, AllTicksAndClearsTheFourImageBoxes) {
    CTarvexDlg& f = Start();
    ws.Write("project/Recipe/r.bin", "x");
    ASSERT_TRUE(f.UserClick(f.m_chkAll));
    EXPECT_TRUE(f.m_chkApplication.GetCheck());
    EXPECT_TRUE(f.m_chkBitmap.GetCheck());
    EXPECT_TRUE(f.m_chkFont.GetCheck());
    EXPECT_TRUE(f.m_chkRecipe.GetCheck());
    EXPECT_FALSE(f.m_chkUpload.GetCheck());
    // Ticked through All, Recipe does not refresh the recipe list.
    EXPECT_EQ(f.m_cmbSelectRecipe.GetCount(), 0);

    ASSERT_TRUE(f.UserClick(f.m_chkFont));
    EXPECT_FALSE(f.m_chkFont.GetCheck());
    ASSERT_TRUE(f.UserClick(f.m_chkAll));
    for (const CheckBox* box :
         {&f.m_chkApplication, &f.m_chkBitmap, &f.m_chkFont, &f.m_chkRecipe}) {
        EXPECT_FALSE(box->GetCheck()) << box->Caption();
    }
}

// --- Serial and USB ----------------------------------------------------------------------------

class TransferMode : public FormHandlers {
  protected:
    bool LineListsEnabled() const {
        return form->m_cmbBaudRate.IsEnabled() && form->m_cmbParity.IsEnabled() &&
               form->m_cmbDataBits.IsEnabled() && form->m_cmbStopBits.IsEnabled();
    }
    bool LineListsDisabled() const {
        return !form->m_cmbBaudRate.IsEnabled() && !form->m_cmbParity.IsEnabled() &&
               !form->m_cmbDataBits.IsEnabled() && !form->m_cmbStopBits.IsEnabled();
    }
};

TEST_F(TransferMode, UsbIsRefusedForFirmwareWithFormatCodeZero) {
    CTarvexDlg& f = Start();
    Choose("Alpha", "V1.0-A");
    EXPECT_EQ(f.m_arrFirmwareFormat, (std::vector<std::uint32_t>{255, 1, 0}));

    ASSERT_TRUE(Select(f.m_cmbFirmwareVersion, "F1.1"));
    ASSERT_TRUE(f.UserClick(f.m_radUSBDownload));
    EXPECT_EQ(ui.Texts(),
              Entries{"USB downloading is not supported in selected firmware version!"});
    EXPECT_EQ(ui.messages[0].caption, "Tarvex");
    EXPECT_TRUE(f.m_radSerialDownload.GetCheck());
    EXPECT_FALSE(f.m_radUSBDownload.GetCheck());
    EXPECT_TRUE(LineListsEnabled());

    ui.Clear();
    ASSERT_TRUE(Select(f.m_cmbFirmwareVersion, "F1.0"));
    ASSERT_TRUE(f.UserClick(f.m_radUSBDownload));
    EXPECT_TRUE(ui.messages.empty());
    EXPECT_TRUE(f.m_radUSBDownload.GetCheck());
    EXPECT_FALSE(f.m_radSerialDownload.GetCheck());
    EXPECT_TRUE(LineListsDisabled());
    // A disabled list cannot be chosen in.
    EXPECT_FALSE(f.UserSelect(f.m_cmbBaudRate, 2));

    // The firmware placeholder carries 255 and lets USB through.
    ASSERT_TRUE(Select(f.m_cmbFirmwareVersion, "Select Firmware Version"));
    ASSERT_TRUE(f.UserClick(f.m_radUSBDownload));
    EXPECT_TRUE(ui.messages.empty());

    ASSERT_TRUE(f.UserClick(f.m_radSerialDownload));
    EXPECT_TRUE(LineListsEnabled());
}

TEST_F(TransferMode, FirmwareWithoutCodeCountsAsZero) {
    CTarvexDlg& f = Start();
    Choose("Alpha", "V2.0-B", "F2.2");
    EXPECT_EQ(f.m_arrFirmwareFormat, (std::vector<std::uint32_t>{255, 1, 1}));
    EXPECT_EQ(f.CurrentFirmwareFormat(), 0u);
    ASSERT_TRUE(f.UserClick(f.m_radUSBDownload));
    EXPECT_EQ(ui.Texts(),
              Entries{"USB downloading is not supported in selected firmware version!"});
    EXPECT_TRUE(f.m_radSerialDownload.GetCheck());
}

TEST_F(TransferMode, UsbBeforeAnyVersionIsRefused) {
    CTarvexDlg& f = Start();
    ASSERT_TRUE(f.UserClick(f.m_radUSBDownload));
    EXPECT_EQ(ui.messages.size(), 1u);
    EXPECT_TRUE(f.m_radSerialDownload.GetCheck());
}

TEST_F(TransferMode, ChoosingABootloaderVersionSwitchesBackToSerial) {
    CTarvexDlg& f = Start();
    Choose("Alpha", "V1.0-A", "F1.0");
    ASSERT_TRUE(f.UserClick(f.m_radUSBDownload));
    ASSERT_TRUE(f.m_radUSBDownload.GetCheck());
    EXPECT_EQ(f.LookupPacketSize("Alpha", "V1.0-A"), 512);
    ASSERT_TRUE(Select(f.m_cmbBootloaderVersion, "V2.0-B"));
    EXPECT_TRUE(f.m_radSerialDownload.GetCheck());
    EXPECT_FALSE(f.m_radUSBDownload.GetCheck());
    EXPECT_TRUE(LineListsEnabled());
    EXPECT_EQ(f.LookupPacketSize("Alpha", "V1.0-A"), 128);
    EXPECT_EQ(f.LookupUploadFrameSize("Alpha", "V1.0-A"), 64);
    EXPECT_EQ(f.LookupPacketSize("Alpha", "V9"), 0);
    EXPECT_EQ(f.LookupPacketSize("alpha", "V1.0-A"), 0);
}

// --- Catalogue choices -------------------------------------------------------------------------

TEST_F(FormHandlers, ProductPlaceholderKeepsTheVersionListsFilled) {
    CTarvexDlg& f = Start();
    Choose("Alpha", "V1.0-A", "F1.1");
    ASSERT_TRUE(Select(f.m_cmbProduct, "Select Product"));
    EXPECT_EQ(f.m_strDnldProduct, "Select Product");
    EXPECT_EQ(f.m_cmbBootloaderVersion.GetCount(), 3);
    EXPECT_EQ(f.m_cmbBootloaderVersion.GetCurSel(), 0);
    EXPECT_EQ(f.m_cmbFirmwareVersion.GetCount(), 3);
    EXPECT_EQ(f.m_cmbFirmwareVersion.GetCurSel(), 0);
    // Choosing a product leaves the version tables of the last version choice.
    ASSERT_TRUE(Select(f.m_cmbProduct, "beta"));
    EXPECT_EQ(f.m_cmbBootloaderVersion.Entries(), (Entries{"Select Hardware Version", "B1"}));
    EXPECT_EQ(f.m_cmbFirmwareVersion.Entries(), Entries{"Select Firmware Version"});
    EXPECT_EQ(f.m_strBinExtension, "bin");
    EXPECT_EQ(f.m_arrFirmwareFormat, (std::vector<std::uint32_t>{255, 1, 0}));
}

TEST_F(FormHandlers, HardwarePlaceholderEmptiesTheFirmwareList) {
    CTarvexDlg& f = Start();
    Choose("Alpha", "V2.0-B", "F2.1");
    ASSERT_TRUE(Select(f.m_cmbBootloaderVersion, "Select Hardware Version"));
    EXPECT_EQ(f.m_cmbFirmwareVersion.Entries(), Entries{"Select Firmware Version"});
    EXPECT_EQ(f.m_arrFirmwareFormat, std::vector<std::uint32_t>{255});
    // The version tables stay those of V2.0-B.
    EXPECT_EQ(f.m_strBinExtension, "abc");
    EXPECT_EQ(f.m_curCfg.m_arrVersionName.size(), 2u);
}

TEST_F(FormHandlers, SlaveIdFieldFollowsTheVersion) {
    CTarvexDlg& f = Start();
    Choose("Alpha", "V2.0-B");
    EXPECT_FALSE(f.m_editSlaveID.IsVisible());
    EXPECT_FALSE(f.m_lblSlaveID.IsVisible());
    EXPECT_FALSE(f.UserSetText(f.m_editSlaveID, "5"));
    // "2" is neither yes nor no: nothing changes.
    Choose("beta", "B1");
    EXPECT_FALSE(f.m_editSlaveID.IsVisible());
    Choose("Alpha", "V1.0-A");
    EXPECT_TRUE(f.m_editSlaveID.IsVisible());
    EXPECT_TRUE(f.m_lblSlaveID.IsVisible());
    Choose("beta", "B1");
    EXPECT_TRUE(f.m_editSlaveID.IsVisible());
}

TEST_F(FormHandlers, VersionWithoutPasswordOffersOnlyTheFixedPassword) {
    ws.WriteSettings({{"REMEMBER PASSWORD", "Yes"}, {"PASSWORD", "1234"}});
    CTarvexDlg& f = Start();
    ASSERT_EQ(f.m_editPassword.GetWindowText(), "1234");
    ASSERT_TRUE(f.m_chkRememberPassword.GetCheck());
    Choose("Alpha", "V2.0-B");
    EXPECT_EQ(f.m_editPassword.GetWindowText(), "");
    EXPECT_FALSE(f.m_chkRememberPassword.GetCheck());
    // "1" shows the controls; the text stays as it is.
    f.m_editPassword.SetWindowText("typed");
    Choose("Alpha", "V1.0-A");
    EXPECT_EQ(f.m_editPassword.GetWindowText(), "typed");
    EXPECT_TRUE(f.m_editPassword.IsVisible());
    EXPECT_TRUE(f.m_chkRememberPassword.IsVisible());
}

TEST_F(FormHandlers, VersionWithoutPasswordShowsTheSavedFixedPassword) {
    ws.WriteSettings({{"REMEMBER PASSWORD", "No"}, {"PASSWORD", "5826"}});
    CTarvexDlg& f = Start();
    ASSERT_EQ(f.m_editPassword.GetWindowText(), "");
    Choose("Alpha", "V2.0-B");
    EXPECT_EQ(f.m_editPassword.GetWindowText(), "5826");
    EXPECT_FALSE(f.m_chkRememberPassword.GetCheck());
}

// --- Ports -------------------------------------------------------------------------------------

TEST_F(FormHandlers, OpeningThePortListProbesAgainAndBringsBackTheSavedPort) {
    PtyPair first;
    PtyPair second;
    ws.WriteSettings({{"COM PORT", second.slavePath()}});
    CTarvexDlg& f = Start({first.slavePath(), second.slavePath()});
    ASSERT_EQ(f.m_cmbComPort.GetWindowText(), second.slavePath());

    ASSERT_TRUE(Select(f.m_cmbComPort, first.slavePath()));
    ASSERT_TRUE(f.UserDropDown(f.m_cmbComPort));
    EXPECT_EQ(f.m_cmbComPort.GetWindowText(), second.slavePath());

    // While the port is open the list is left alone.
    ASSERT_TRUE(Select(f.m_cmbComPort, first.slavePath()));
    f.m_bPortOpen = true;
    ASSERT_TRUE(f.UserDropDown(f.m_cmbComPort));
    EXPECT_EQ(f.m_cmbComPort.GetWindowText(), first.slavePath());
    f.m_bPortOpen = false;
}

TEST_F(FormHandlers, AMissingSavedPortLeftUnchosenSendsNothingUntilAPortIsPicked) {
    PtyPair first;
    PtyPair second;
    ws.WriteSettings({{"COM PORT", "/dev/ttyUSB7"}});
    const std::vector<std::string> ports = {first.slavePath(), second.slavePath()};

    // The first entry stands in for the missing port, unless the environment asks otherwise.
    for (const bool unselected : {false, true}) {
        FormEnvironment env = ws.Environment(ports);
        env.leaveMissingSavedPortUnselected = unselected;
        form = std::make_unique<CTarvexDlg>(info, ui, std::move(env));
        form->OnInitDialog();
        EXPECT_EQ(form->m_cmbComPort.Entries(), ports);
        EXPECT_EQ(form->m_cmbComPort.GetCurSel(), unselected ? -1 : 0);
    }
    CTarvexDlg& f = *form;
    Choose("Alpha", "V1.0-A", "F1.0");
    f.ApplyBrowseResult(ws.Write("project/fw.bin", "x"));
    ui.Clear();
    ASSERT_TRUE(f.UserClick(f.m_btnDownload));
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(ui.messages[0].text, "Please select a valid comport!");
    EXPECT_EQ(f.LastDownloadOutcome(), DownloadOutcome::Refused);
    for (PtyPair* pty : {&first, &second}) {
        EXPECT_TRUE(pty->Read(1, std::chrono::milliseconds(200)).empty()) << pty->slavePath();
    }

    // A port the user picked stays current when the list is probed again.
    ASSERT_TRUE(Select(f.m_cmbComPort, second.slavePath()));
    ASSERT_TRUE(f.UserDropDown(f.m_cmbComPort));
    EXPECT_EQ(f.m_cmbComPort.GetWindowText(), second.slavePath());
}

TEST_F(FormHandlers, PortThatStopsOpeningLeavesTheList) {
    PtyPair first;
    auto second = std::make_unique<PtyPair>();
    const std::string secondPath = second->slavePath();
    CTarvexDlg& f = Start({first.slavePath(), secondPath});
    ASSERT_EQ(f.m_cmbComPort.GetCount(), 2);
    second.reset();
    ASSERT_TRUE(f.UserClick(f.m_radSerialDownload));
    EXPECT_EQ(f.m_cmbComPort.Entries(), Entries{first.slavePath()});
}

// --- Cancel, Close, About, the entry points ----------------------------------------------------

TEST_F(FormHandlers, CancelOnlyRaisesTheFlagAndCloseEndsTheFormOnce) {
    CTarvexDlg& f = Start();
    int ends = 0;
    f.SetEndListener([&] { ++ends; });

    ASSERT_TRUE(f.UserClick(f.m_btnCancel));
    EXPECT_TRUE(f.m_bCancelRequested);
    EXPECT_FALSE(f.IsEnded());
    f.OnCancel();  // Esc and the close box
    EXPECT_FALSE(f.IsEnded());

    // Disabled during a download: Close does nothing.
    f.m_btnClose.EnableWindow(false);
    EXPECT_FALSE(f.UserClick(f.m_btnClose));
    EXPECT_FALSE(f.IsEnded());
    f.m_btnClose.EnableWindow(true);

    ASSERT_TRUE(f.UserClick(f.m_btnClose));
    EXPECT_TRUE(f.IsEnded());
    EXPECT_EQ(ends, 1);
    f.OnClose();
    EXPECT_EQ(ends, 1);
    // An ended form takes no more actions.
    EXPECT_FALSE(f.UserClick(f.m_chkFont));
    EXPECT_FALSE(f.UserSelect(f.m_cmbProduct, 1));
    EXPECT_TRUE(ui.messages.empty());
}

TEST_F(FormHandlers, CloseReleasesAnOpenPort) {
    PtyPair pty;
    CTarvexDlg& f = Start();
    ASSERT_TRUE(f.SerialPort().Open(pty.slavePath()));
    f.m_bPortOpen = true;
    f.m_nSavedPriorityClass = platform::SaveProcessPriority();
    f.OnClose();
    EXPECT_FALSE(f.m_bPortOpen);
    EXPECT_FALSE(f.SerialPort().IsOpen());
    EXPECT_TRUE(f.IsEnded());
}

TEST_F(FormHandlers, AboutCommandIgnoresTheLowFourBits) {
    CTarvexDlg& f = Start();
    f.OnSysCommand(IDM_ABOUTBOX);
    f.OnSysCommand(IDM_ABOUTBOX | 0xF);
    f.OnSysCommand(0x20);
    f.OnSysCommand(0xF060);  // the toolkit's own close command
    ASSERT_EQ(ui.messages.size(), 2u);
    EXPECT_EQ(ui.messages[0].text, "Tarvex Version 1.1");
    EXPECT_EQ(ui.messages[0].kind, MessageKind::Notice);
    EXPECT_FALSE(f.IsEnded());
}

TEST_F(FormHandlers, EntryPointsRefuseWhatAPersonCannotDo) {
    CTarvexDlg& f = Start();
    EXPECT_FALSE(f.UserClick(f.m_chkUpload));  // hidden
    EXPECT_FALSE(f.m_chkUpload.GetCheck());
    EXPECT_FALSE(f.UserClick(f.m_lblProduct));
    EXPECT_FALSE(f.UserSelect(f.m_cmbProduct, 99));
    EXPECT_FALSE(f.UserSelect(f.m_cmbProduct, -1));
    f.m_btnBrowse.EnableWindow(false);
    EXPECT_FALSE(f.UserClick(f.m_btnBrowse));
    EXPECT_TRUE(ui.filtersAsked.empty());

    ASSERT_TRUE(f.UserClick(f.m_chkRememberPassword));
    EXPECT_TRUE(f.m_chkRememberPassword.GetCheck());
    ASSERT_TRUE(f.UserSetText(f.m_editPassword, "pw"));
    EXPECT_EQ(f.m_editPassword.GetWindowText(), "pw");

    EXPECT_EQ(f.FindControl(IDC_DOWNLOAD), &f.m_btnDownload);
    EXPECT_EQ(f.FindControl(IDC_CLOSE), &f.m_btnClose);
    EXPECT_EQ(f.FindControl(4242), nullptr);
    int count = 0;
    f.ForEachControl([&](Control&) { ++count; });
    EXPECT_EQ(count, 43);
}

TEST_F(FormHandlers, ListenersHearChangesButNoHandlerRunsFromCode) {
    CTarvexDlg& f = Start();
    int changes = 0;
    f.m_cmbBootloaderVersion.SetListener([&](const Control&) { ++changes; });
    f.m_cmbProduct.SetCurSel(1);  // from code: the bootloader list stays as it was
    EXPECT_EQ(f.m_cmbBootloaderVersion.GetCount(), 0);
    EXPECT_EQ(changes, 0);
    ASSERT_TRUE(f.UserSelect(f.m_cmbProduct, 1));
    EXPECT_EQ(f.m_cmbBootloaderVersion.GetCount(), 3);
    EXPECT_GT(changes, 0);
}

// --- Download set ------------------------------------------------------------------------------

TEST_F(FormHandlers, DownloadSetNamesEveryMissingItemInOrder) {
    CTarvexDlg& f = Start();
    f.m_chkApplication.SetCheck(true);
    f.m_chkBitmap.SetCheck(false);
    f.m_chkFont.SetCheck(true);
    f.m_chkRecipe.SetCheck(false);
    f.m_arrAppImage = {9, 9};
    EXPECT_EQ(f.CheckDownloadSet(), 1);
    EXPECT_EQ(ui.Texts(), (Entries{"Application doesnot exist to download!",
                                   "Font doesnot exist to download!"}));
    EXPECT_EQ(f.m_arrAppImage, (std::vector<std::uint8_t>{9, 9}));

    ui.Clear();
    info.m_arrApplication = {1, 2, 3};
    info.m_arrFont = {4};
    info.m_arrBitmap = {5};
    EXPECT_EQ(f.CheckDownloadSet(), 0);
    EXPECT_TRUE(ui.messages.empty());
    EXPECT_EQ(f.m_arrAppImage, (std::vector<std::uint8_t>{1, 2, 3}));
    EXPECT_EQ(f.m_arrFontImage, std::vector<std::uint8_t>{4});
    EXPECT_TRUE(f.m_arrBitmapImage.empty());  // not ticked

    f.m_chkApplication.SetCheck(false);
    f.m_chkFont.SetCheck(false);
    EXPECT_EQ(f.CheckDownloadSet(), 0);
}

}  // namespace
}  // namespace tarvex::test

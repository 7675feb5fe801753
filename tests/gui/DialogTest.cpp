// The dialog as a person sees and uses it: captions in their groups, the lists after start-up,
// what Esc, Enter and the close box do, choices that fill lists and show or hide controls, and
// the boxes in which messages appear.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QFontDatabase>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <filesystem>
#include <fstream>

#include "GuiSupport.h"
#include "app/qt/QtUserInterface.h"
#include "support/FormCatalogue.h"
#include "support/PtyPair.h"
#include "ui/TarvexDlg.h"

namespace tarvex::test {
namespace {

QString Text(const QWidget* w) {
    if (const auto* label = qobject_cast<const QLabel*>(w)) {
        return label->text();
    }
    if (const auto* button = qobject_cast<const QAbstractButton*>(w)) {
        return button->text();
    }
    return {};
}

// The group box a widget sits in, if any.
QString GroupOf(const QWidget* w) {
    for (const QWidget* p = w->parentWidget(); p != nullptr; p = p->parentWidget()) {
        if (const auto* group = qobject_cast<const QGroupBox*>(p)) {
            return group->title();
        }
    }
    return {};
}

class DialogTest : public DialogFixture {
  protected:
    SampleWorkspace sample;
    CurrentDirectory cwd{sample.path()};
};

TEST_F(DialogTest, StartsInTheSampleWorkspaceAsTheFormSays) {
    PtyPair pty;
    DialogHarness& h = Show(sample.Environment({pty.slavePath()}));
    CTarvexDlg& f = h.form();
    qt::TarvexDialog& d = h.dialog();

    EXPECT_EQ(d.windowTitle(), QStringLiteral("Separate Tarvex Version 1.1"));
    EXPECT_FALSE(d.windowIcon().isNull());
    if (QFontDatabase::hasFamily(QStringLiteral("Verdana"))) {
        EXPECT_EQ(d.font().family(), QStringLiteral("Verdana"));
        EXPECT_EQ(d.font().pointSize(), 9);
    } else {
        EXPECT_EQ(d.font().family(), QApplication::font().family());
    }

    // Every caption, in its group.
    struct Expected {
        const Control& control;
        const char* caption;
        const char* group;
    };
    const Expected captions[] = {
        {f.m_lblProduct, "Select Product", "Details"},
        {f.m_lblBootloader, "Bootloader Version No.", "Details"},
        {f.m_lblFirmware, "Firmware Version No:", "Details"},
        {f.m_lblFileToSend, "File to Send", "Details"},
        {f.m_btnBrowse, "Browse", "Details"},
        {f.m_lblSlaveID, "Slave ID", "Details"},
        {f.m_radSerialDownload, "Serial Download", "Communication Settings"},
        {f.m_radUSBDownload, "USB Download", "Communication Settings"},
        {f.m_lblComPort, "Com Port", "Communication Settings"},
        {f.m_lblBaudRate, "Baud Rate", "Communication Settings"},
        {f.m_lblParity, "Parity", "Communication Settings"},
        {f.m_lblDataBits, "Data bits", "Communication Settings"},
        {f.m_lblStopBits, "Stop Bits", "Communication Settings"},
        {f.m_lblPassword, "Password", "Communication Settings"},
        {f.m_chkRememberPassword, "Remember Password", "Communication Settings"},
        {f.m_chkApplication, "Application", "Download"},
        {f.m_chkBitmap, "Bitmap", "Download"},
        {f.m_chkFont, "Font", "Download"},
        {f.m_chkRecipe, "Recipe", "Download"},
        {f.m_chkAll, "All", "Download"},
        {f.m_btnDownload, "Download", ""},
        {f.m_btnClose, "Close", ""},
        {f.m_btnCancel, "Cancel", ""},
    };
    for (const Expected& e : captions) {
        QWidget* w = d.WidgetFor(e.control);
        ASSERT_NE(w, nullptr) << e.caption;
        EXPECT_EQ(Text(w), QString::fromLatin1(e.caption));
        EXPECT_EQ(GroupOf(w), QString::fromLatin1(e.group)) << e.caption;
        EXPECT_TRUE(w->isVisible()) << e.caption;
    }
    // The fields and lists sit in the groups of their labels.
    for (const auto& [control, group] :
         std::initializer_list<std::pair<const Control*, const char*>>{
             {&f.m_cmbProduct, "Details"},
             {&f.m_cmbBootloaderVersion, "Details"},
             {&f.m_cmbFirmwareVersion, "Details"},
             {&f.m_editFileToSend, "Details"},
             {&f.m_editSlaveID, "Details"},
             {&f.m_cmbComPort, "Communication Settings"},
             {&f.m_cmbBaudRate, "Communication Settings"},
             {&f.m_cmbParity, "Communication Settings"},
             {&f.m_cmbDataBits, "Communication Settings"},
             {&f.m_cmbStopBits, "Communication Settings"},
             {&f.m_editPassword, "Communication Settings"},
         }) {
        EXPECT_EQ(GroupOf(d.WidgetFor(*control)), QString::fromLatin1(group));
        EXPECT_TRUE(d.WidgetFor(*control)->isVisible());
    }
    ASSERT_NE(h.widget<QProgressBar>(f.m_progress), nullptr);
    EXPECT_TRUE(h.widget<QProgressBar>(f.m_progress)->isVisible());

    // Never shown.
    for (const Control* hidden : std::initializer_list<const Control*>{
             &f.m_chkUpload, &f.m_lblSelectRecipe, &f.m_cmbSelectRecipe, &f.m_lblBLVersion,
             &f.m_editBLVersion}) {
        ASSERT_NE(d.WidgetFor(*hidden), nullptr);
        EXPECT_TRUE(d.WidgetFor(*hidden)->isHidden()) << hidden->Caption();
    }

    // Lists: no settings file, so the placeholders and the defaults.
    EXPECT_EQ(EntriesOf(h.widget<QComboBox>(f.m_cmbProduct)),
              QStringList({"Select Product", "H1", "K3"}));
    EXPECT_EQ(h.widget<QComboBox>(f.m_cmbProduct)->currentText(), QStringLiteral("Select Product"));
    EXPECT_EQ(h.widget<QComboBox>(f.m_cmbBootloaderVersion)->count(), 0);
    EXPECT_EQ(EntriesOf(h.widget<QComboBox>(f.m_cmbFirmwareVersion)),
              QStringList({"Select Firmware Version"}));
    EXPECT_EQ(EntriesOf(h.widget<QComboBox>(f.m_cmbComPort)),
              QStringList({QString::fromStdString(pty.slavePath())}));
    EXPECT_EQ(h.widget<QComboBox>(f.m_cmbComPort)->currentIndex(), 0);
    EXPECT_EQ(EntriesOf(h.widget<QComboBox>(f.m_cmbBaudRate)),
              QStringList({"2400", "4800", "9600", "19200", "38400", "57600", "115200"}));
    EXPECT_EQ(h.widget<QComboBox>(f.m_cmbBaudRate)->currentText(), QStringLiteral("19200"));
    EXPECT_EQ(EntriesOf(h.widget<QComboBox>(f.m_cmbParity)),
              QStringList({"None", "Even", "Odd", "Mark", "Space"}));
    EXPECT_EQ(h.widget<QComboBox>(f.m_cmbParity)->currentText(), QStringLiteral("None"));
    EXPECT_EQ(EntriesOf(h.widget<QComboBox>(f.m_cmbDataBits)), QStringList({"7", "8"}));
    EXPECT_EQ(h.widget<QComboBox>(f.m_cmbDataBits)->currentText(), QStringLiteral("8"));
    EXPECT_EQ(EntriesOf(h.widget<QComboBox>(f.m_cmbStopBits)), QStringList({"1", "2"}));
    EXPECT_EQ(h.widget<QComboBox>(f.m_cmbStopBits)->currentText(), QStringLiteral("2"));

    // Fields and boxes.
    EXPECT_EQ(h.widget<QLineEdit>(f.m_editFileToSend)->text(), QStringLiteral("project/H1.bin"));
    EXPECT_EQ(h.widget<QLineEdit>(f.m_editSlaveID)->text(), QStringLiteral("1"));
    EXPECT_EQ(h.widget<QLineEdit>(f.m_editPassword)->echoMode(), QLineEdit::Password);
    EXPECT_TRUE(h.widget<QRadioButton>(f.m_radSerialDownload)->isChecked());
    EXPECT_FALSE(h.widget<QRadioButton>(f.m_radUSBDownload)->isChecked());
    EXPECT_TRUE(h.widget<QCheckBox>(f.m_chkApplication)->isChecked());
    EXPECT_TRUE(h.widget<QCheckBox>(f.m_chkBitmap)->isChecked());  // project/BMP/BMP.bin exists
    EXPECT_FALSE(h.widget<QCheckBox>(f.m_chkFont)->isChecked());
    EXPECT_FALSE(h.widget<QCheckBox>(f.m_chkRecipe)->isChecked());
    EXPECT_FALSE(h.widget<QCheckBox>(f.m_chkAll)->isChecked());
    EXPECT_FALSE(h.widget<QCheckBox>(f.m_chkRememberPassword)->isChecked());

    // Buttons: Close is the default, Download has the keyboard focus.
    EXPECT_TRUE(h.widget<QPushButton>(f.m_btnClose)->isDefault());
    EXPECT_FALSE(h.widget<QPushButton>(f.m_btnDownload)->isDefault());
    EXPECT_EQ(d.focusWidget(), d.WidgetFor(f.m_btnDownload));
    EXPECT_TRUE(answerer.boxes.empty());
}

TEST_F(DialogTest, SavedChoicesComeBackAtStart) {
    PtyPair pty;
    {
        std::ofstream settings(sample / "dnld.sv");
        settings << "SLAVE ID:7\nCOM PORT:" << pty.slavePath()
                 << "\nBAUD RATE:115200\nPARITY:Even\nWORD LENGTH:7\nSTOP BITS:1\n"
                    "REMEMBER PASSWORD:Yes\nPASSWORD:4321\nPRODUCT NAME:h1\n"
                    "BOOTLOADER VERSION:BL1.3-2\nFIRMWARE VERSION:FW2.1\n"
                    "BIN FILE PATH:/elsewhere/x.bin\n[EOF]";
    }
    DialogHarness& h = Show(sample.Environment({pty.slavePath()}));
    CTarvexDlg& f = h.form();
    EXPECT_EQ(h.widget<QComboBox>(f.m_cmbProduct)->currentText(), QStringLiteral("H1"));
    EXPECT_EQ(EntriesOf(h.widget<QComboBox>(f.m_cmbBootloaderVersion)),
              QStringList({"Select Hardware Version", "BL1.2-1", "BL1.3-2"}));
    EXPECT_EQ(h.widget<QComboBox>(f.m_cmbBootloaderVersion)->currentText(),
              QStringLiteral("BL1.3-2"));
    EXPECT_EQ(EntriesOf(h.widget<QComboBox>(f.m_cmbFirmwareVersion)),
              QStringList({"Select Firmware Version", "FW2.0", "FW2.1"}));
    EXPECT_EQ(h.widget<QComboBox>(f.m_cmbFirmwareVersion)->currentText(), QStringLiteral("FW2.1"));
    EXPECT_EQ(h.widget<QComboBox>(f.m_cmbBaudRate)->currentText(), QStringLiteral("115200"));
    EXPECT_EQ(h.widget<QComboBox>(f.m_cmbParity)->currentText(), QStringLiteral("Even"));
    EXPECT_EQ(h.widget<QComboBox>(f.m_cmbDataBits)->currentText(), QStringLiteral("7"));
    EXPECT_EQ(h.widget<QComboBox>(f.m_cmbStopBits)->currentText(), QStringLiteral("1"));
    EXPECT_EQ(h.widget<QLineEdit>(f.m_editSlaveID)->text(), QStringLiteral("7"));
    EXPECT_EQ(h.widget<QLineEdit>(f.m_editPassword)->text(), QStringLiteral("4321"));
    EXPECT_TRUE(h.widget<QCheckBox>(f.m_chkRememberPassword)->isChecked());
    EXPECT_EQ(h.widget<QLineEdit>(f.m_editFileToSend)->text(), QStringLiteral("project/H1.bin"));
    EXPECT_TRUE(answerer.boxes.empty());
}

TEST_F(DialogTest, EscAndTheCloseBoxOnlyCancelCloseEndsTheDialog) {
    DialogHarness& h = Show(sample.Environment());
    qt::TarvexDialog& d = h.dialog();
    CTarvexDlg& f = h.form();

    QTest::keyClick(&d, Qt::Key_Escape);
    EXPECT_TRUE(d.isVisible());
    EXPECT_TRUE(f.m_bCancelRequested);

    f.m_bCancelRequested = false;
    EXPECT_FALSE(d.close());  // the window's close box
    EXPECT_TRUE(d.isVisible());
    EXPECT_TRUE(f.m_bCancelRequested);

    f.m_bCancelRequested = false;
    ClickWidget(h.widget<QPushButton>(f.m_btnCancel));
    EXPECT_TRUE(d.isVisible());
    EXPECT_TRUE(f.m_bCancelRequested);
    EXPECT_FALSE(f.IsEnded());

    ClickWidget(h.widget<QPushButton>(f.m_btnClose));
    EXPECT_TRUE(f.IsEnded());
    EXPECT_FALSE(d.isVisible());
    EXPECT_EQ(d.result(), QDialog::Accepted);
}

TEST_F(DialogTest, EnterClosesOnlyWhileCloseIsEnabled) {
    DialogHarness& h = Show(sample.Environment());
    qt::TarvexDialog& d = h.dialog();
    CTarvexDlg& f = h.form();

    // The form disables Close while the port is open; the view follows, and Enter does nothing.
    f.m_btnClose.EnableWindow(false);
    f.m_btnDownload.EnableWindow(false);
    EXPECT_FALSE(h.widget<QPushButton>(f.m_btnClose)->isEnabled());
    EXPECT_FALSE(h.widget<QPushButton>(f.m_btnDownload)->isEnabled());
    QTest::keyClick(h.widget<QLineEdit>(f.m_editSlaveID), Qt::Key_Return);
    EXPECT_TRUE(d.isVisible());
    EXPECT_FALSE(f.IsEnded());

    f.m_btnClose.EnableWindow(true);
    f.m_btnDownload.EnableWindow(true);
    QTest::keyClick(h.widget<QLineEdit>(f.m_editSlaveID), Qt::Key_Return);
    EXPECT_TRUE(f.IsEnded());
    EXPECT_FALSE(d.isVisible());
}

TEST_F(DialogTest, ModalRunEndsOnlyWithClose) {
    CDownloadInfo info;
    qt::TarvexDialog d(info, sample.Environment());
    d.InitDialog();
    int step = 0;
    bool stayedOpen = true;
    answerer.onTick = [&] {
        if (!d.isVisible()) {
            return;
        }
        switch (step++) {
            case 0:
                QTest::keyClick(&d, Qt::Key_Escape);
                break;
            case 1:
                d.close();
                break;
            case 2:
                stayedOpen = d.isVisible();
                ClickWidget(d.Widget<QPushButton>(d.Form().m_btnClose));
                break;
            default:
                break;
        }
    };
    EXPECT_EQ(d.exec(), QDialog::Accepted);
    EXPECT_TRUE(stayedOpen);
    EXPECT_EQ(step, 3);
}

// A catalogue whose versions differ in slave ID and password support.
class SelectionTest : public DialogFixture {
  protected:
    SelectionTest() {
        AddStandardCatalogue(ws);
        ws.WriteDownloadData("Alpha", ws / "project/");
    }
    Workspace ws;
};

TEST_F(SelectionTest, ChoosingProductAndVersionFillsListsAndShowsOrHidesSlaveId) {
    DialogHarness& h = Show(ws.Environment());
    CTarvexDlg& f = h.form();
    auto* product = h.widget<QComboBox>(f.m_cmbProduct);
    auto* bootloader = h.widget<QComboBox>(f.m_cmbBootloaderVersion);
    auto* firmware = h.widget<QComboBox>(f.m_cmbFirmwareVersion);
    QWidget* slaveId = h.dialog().WidgetFor(f.m_editSlaveID);
    QWidget* slaveIdLabel = h.dialog().WidgetFor(f.m_lblSlaveID);

    PickEntry(product, QStringLiteral("Alpha"));
    EXPECT_EQ(EntriesOf(bootloader), QStringList({"Select Hardware Version", "V1.0-A", "V2.0-B"}));
    EXPECT_EQ(bootloader->currentIndex(), 0);
    EXPECT_EQ(EntriesOf(firmware), QStringList({"Select Firmware Version"}));
    EXPECT_EQ(f.m_strDnldProduct, "Alpha");

    // A password typed and to be remembered...
    auto* password = h.widget<QLineEdit>(f.m_editPassword);
    auto* remember = h.widget<QCheckBox>(f.m_chkRememberPassword);
    password->setFocus();
    QTest::keyClicks(password, QStringLiteral("1234"));
    ClickWidget(remember);
    ASSERT_TRUE(f.m_chkRememberPassword.GetCheck());

    // ... is dropped by a version without password support, which also has no slave ID.
    PickEntry(bootloader, QStringLiteral("V2.0-B"));
    EXPECT_EQ(EntriesOf(firmware),
              QStringList({"Select Firmware Version", "F2.0", "F2.1", "F2.2"}));
    EXPECT_EQ(firmware->currentIndex(), 0);
    EXPECT_TRUE(slaveId->isHidden());
    EXPECT_TRUE(slaveIdLabel->isHidden());
    EXPECT_EQ(password->text(), QString());
    EXPECT_FALSE(remember->isChecked());

    PickEntry(bootloader, QStringLiteral("V1.0-A"));
    EXPECT_EQ(EntriesOf(firmware), QStringList({"Select Firmware Version", "F1.0", "F1.1"}));
    EXPECT_TRUE(slaveId->isVisible());
    EXPECT_TRUE(slaveIdLabel->isVisible());
    EXPECT_TRUE(password->isVisible());
    EXPECT_TRUE(remember->isVisible());

    PickEntry(firmware, QStringLiteral("F1.0"));
    EXPECT_EQ(f.m_cmbFirmwareVersion.GetCurSel(), 1);

    // Another product: the version lists start over at their placeholders.
    PickEntry(product, QStringLiteral("beta"));
    EXPECT_EQ(EntriesOf(bootloader), QStringList({"Select Hardware Version", "B1"}));
    EXPECT_EQ(EntriesOf(firmware), QStringList({"Select Firmware Version"}));
    EXPECT_TRUE(answerer.boxes.empty());
}

TEST_F(SelectionTest, UsbRefusedForAFirmwareWithoutItInANoticeBox) {
    DialogHarness& h = Show(ws.Environment());
    CTarvexDlg& f = h.form();
    PickEntry(h.widget<QComboBox>(f.m_cmbProduct), QStringLiteral("Alpha"));
    PickEntry(h.widget<QComboBox>(f.m_cmbBootloaderVersion), QStringLiteral("V1.0-A"));

    // F1.0 (code 1) takes USB: the line lists are disabled.
    PickEntry(h.widget<QComboBox>(f.m_cmbFirmwareVersion), QStringLiteral("F1.0"));
    ClickWidget(h.widget<QRadioButton>(f.m_radUSBDownload));
    EXPECT_TRUE(h.widget<QRadioButton>(f.m_radUSBDownload)->isChecked());
    EXPECT_FALSE(h.widget<QRadioButton>(f.m_radSerialDownload)->isChecked());
    EXPECT_FALSE(h.widget<QComboBox>(f.m_cmbBaudRate)->isEnabled());
    EXPECT_FALSE(h.widget<QComboBox>(f.m_cmbStopBits)->isEnabled());
    EXPECT_TRUE(answerer.boxes.empty());

    // Back to serial, then F1.1 (code 0): refused, with a notice.
    ClickWidget(h.widget<QRadioButton>(f.m_radSerialDownload));
    EXPECT_TRUE(h.widget<QComboBox>(f.m_cmbBaudRate)->isEnabled());
    PickEntry(h.widget<QComboBox>(f.m_cmbFirmwareVersion), QStringLiteral("F1.1"));
    ClickWidget(h.widget<QRadioButton>(f.m_radUSBDownload));
    ASSERT_EQ(answerer.boxes.size(), 1u);
    EXPECT_EQ(answerer.boxes[0].caption, QStringLiteral("Tarvex"));
    EXPECT_EQ(answerer.boxes[0].text,
              QStringLiteral("USB downloading is not supported in selected firmware version!"));
    EXPECT_EQ(answerer.boxes[0].icon, QMessageBox::NoIcon);
    EXPECT_TRUE(h.widget<QRadioButton>(f.m_radSerialDownload)->isChecked());
    EXPECT_FALSE(h.widget<QRadioButton>(f.m_radUSBDownload)->isChecked());
    for (const ComboBox* line :
         {&f.m_cmbBaudRate, &f.m_cmbParity, &f.m_cmbDataBits, &f.m_cmbStopBits}) {
        EXPECT_TRUE(h.dialog().WidgetFor(*line)->isEnabled());
    }
}

TEST_F(SelectionTest, AllTicksAndClearsTheFourBoxes) {
    DialogHarness& h = Show(ws.Environment());
    CTarvexDlg& f = h.form();
    QCheckBox* boxes[] = {h.widget<QCheckBox>(f.m_chkApplication),
                          h.widget<QCheckBox>(f.m_chkBitmap), h.widget<QCheckBox>(f.m_chkFont),
                          h.widget<QCheckBox>(f.m_chkRecipe)};
    ClickWidget(h.widget<QCheckBox>(f.m_chkFont));
    EXPECT_TRUE(f.m_chkFont.GetCheck());
    ClickWidget(h.widget<QCheckBox>(f.m_chkAll));
    for (QCheckBox* box : boxes) {
        EXPECT_TRUE(box->isChecked()) << box->text().toStdString();
    }
    ClickWidget(h.widget<QCheckBox>(f.m_chkAll));
    for (QCheckBox* box : boxes) {
        EXPECT_FALSE(box->isChecked()) << box->text().toStdString();
    }
    // The keyboard works the same way: Space on the focused box.
    h.widget<QCheckBox>(f.m_chkRecipe)->setFocus();
    QTest::keyClick(h.widget<QCheckBox>(f.m_chkRecipe), Qt::Key_Space);
    EXPECT_TRUE(f.m_chkRecipe.GetCheck());
}

TEST_F(SelectionTest, OpeningTheComPortListProbesThePortsAgain) {
    PtyPair first;
    PtyPair second;
    TempDir links;
    const std::string late = links / "late-port";  // does not exist at start-up
    DialogHarness& h = Show(ws.Environment({first.slavePath(), late}));
    auto* ports = h.widget<QComboBox>(h.form().m_cmbComPort);
    EXPECT_EQ(EntriesOf(ports), QStringList({QString::fromStdString(first.slavePath())}));

    std::filesystem::create_symlink(second.slavePath(), late);
    ports->showPopup();
    EXPECT_EQ(EntriesOf(ports).size(), 2);
    EXPECT_TRUE(EntriesOf(ports).contains(QString::fromStdString(late)));
    ports->hidePopup();

    PickEntry(ports, QString::fromStdString(late));
    EXPECT_EQ(h.form().m_cmbComPort.GetWindowText(), late);
}

TEST_F(SelectionTest, TypedTextReachesTheFormWithItsBytes) {
    DialogHarness& h = Show(ws.Environment());
    CTarvexDlg& f = h.form();
    auto* slaveId = h.widget<QLineEdit>(f.m_editSlaveID);
    slaveId->setFocus();
    slaveId->selectAll();
    QTest::keyClicks(slaveId, QStringLiteral("42"));
    EXPECT_EQ(f.m_editSlaveID.GetWindowText(), "42");

    // A path in Latin-1 (not UTF-8) that the form put into the field keeps its bytes when a
    // person edits the field.
    const std::string latin1 = "/proj\xE9t/H1.bin";
    f.m_editFileToSend.SetWindowText(latin1);
    auto* file = h.widget<QLineEdit>(f.m_editFileToSend);
    file->setFocus();
    file->end(false);
    QTest::keyClicks(file, QStringLiteral("x"));
    EXPECT_EQ(f.m_editFileToSend.GetWindowText(), latin1 + "x");
    // Typing does not move the cursor away from where the person types.
    QTest::keyClick(file, Qt::Key_Home);
    QTest::keyClicks(file, QStringLiteral("~"));
    EXPECT_EQ(f.m_editFileToSend.GetWindowText(), "~" + latin1 + "x");
}

TEST_F(SelectionTest, BrowseUsesTheFileDialogWithTheFormsFilter) {
    TempDir project;
    const std::string chosen = project.Write("H7.bin", "x");
    project.Write("Recipe/R1.bin", "r");
    DialogHarness& h = Show(ws.Environment());
    CTarvexDlg& f = h.form();
    PickEntry(h.widget<QComboBox>(f.m_cmbProduct), QStringLiteral("Alpha"));
    PickEntry(h.widget<QComboBox>(f.m_cmbBootloaderVersion), QStringLiteral("V1.0-A"));
    ClickWidget(h.widget<QCheckBox>(f.m_chkRecipe));

    QStringList filters;
    QFileDialog::FileMode mode = QFileDialog::AnyFile;
    answerer.onOtherModal = [&](QWidget* modal) {
        auto* dialog = qobject_cast<QFileDialog*>(modal);
        ASSERT_NE(dialog, nullptr);
        filters = dialog->nameFilters();
        mode = dialog->fileMode();
        dialog->selectFile(QString::fromStdString(chosen));
        static_cast<QDialog*>(dialog)->accept();  // accepts the selected file
    };
    ClickWidget(h.widget<QPushButton>(f.m_btnBrowse));
    EXPECT_EQ(filters, QStringList({"BIN Files (*.bin)"}));
    EXPECT_EQ(mode, QFileDialog::ExistingFile);
    EXPECT_EQ(h.widget<QLineEdit>(f.m_editFileToSend)->text(), QString::fromStdString(chosen));
    EXPECT_EQ(f.m_strBinFilePath, chosen);
    EXPECT_EQ(f.m_strSelectedRecipe, "R1.bin");

    // Cancelled: nothing changes.
    answerer.onOtherModal = [](QWidget* modal) { qobject_cast<QDialog*>(modal)->reject(); };
    ClickWidget(h.widget<QPushButton>(f.m_btnBrowse));
    EXPECT_EQ(f.m_strBinFilePath, chosen);
    EXPECT_TRUE(answerer.boxes.empty());
}

TEST_F(SelectionTest, AboutOnF1AndInTheContextMenu) {
    DialogHarness& h = Show(ws.Environment());
    QAction* about = h.dialog().AboutAction();
    ASSERT_NE(about, nullptr);
    EXPECT_EQ(about->text(), QStringLiteral("&About Tarvex..."));
    EXPECT_TRUE(h.dialog().actions().contains(about));
    EXPECT_EQ(h.dialog().contextMenuPolicy(), Qt::ActionsContextMenu);

    QTest::keyClick(&h.dialog(), Qt::Key_F1);
    ASSERT_EQ(answerer.boxes.size(), 1u);
    EXPECT_EQ(answerer.boxes[0].caption, QStringLiteral("About Tarvex"));
    EXPECT_EQ(answerer.boxes[0].text, QStringLiteral("Tarvex Version 1.1"));
    EXPECT_TRUE(answerer.boxes[0].hasIconPixmap);

    // The routing stays the form's: the low four bits of the command do not matter.
    h.form().OnSysCommand(IDM_ABOUTBOX | 0x7);
    EXPECT_EQ(answerer.boxes.size(), 2u);
    h.form().OnSysCommand(IDM_ABOUTBOX + 0x10);
    EXPECT_EQ(answerer.boxes.size(), 2u);
}

TEST(MessageBoxTest, EachKindInItsBox) {
    BoxAnswerer answerer;
    QWidget owner;
    qt::QtUserInterface ui(&owner);
    Notice(ui, "Please select a valid comport!");
    ErrorBox(ui, "Cannot Configure Communication Port", "Com Port Error");
    PlainBox(ui, "Password Verification Failed!");
    ui.ShowMessage(MessageKind::Notice, "Tarvex", "<b>not bold</b> & \xC3\xBC");
    ASSERT_EQ(answerer.boxes.size(), 4u);
    EXPECT_EQ(answerer.boxes[0].caption, QStringLiteral("Tarvex"));
    EXPECT_EQ(answerer.boxes[0].icon, QMessageBox::NoIcon);
    EXPECT_EQ(answerer.boxes[1].caption, QStringLiteral("Com Port Error"));
    EXPECT_EQ(answerer.boxes[1].text, QStringLiteral("Cannot Configure Communication Port"));
    EXPECT_EQ(answerer.boxes[1].icon, QMessageBox::Critical);
    EXPECT_EQ(answerer.boxes[2].caption, QStringLiteral("Error"));
    EXPECT_EQ(answerer.boxes[2].icon, QMessageBox::NoIcon);
    EXPECT_EQ(answerer.boxes[3].text, QStringLiteral("<b>not bold</b> & \u00FC"));
    for (const SeenBox& box : answerer.boxes) {
        EXPECT_TRUE(box.plainText);
    }

    // A question: Yes and No, the given default taken with Enter.
    EXPECT_FALSE(ui.AskYesNo("Tarvex", kDamagedBodyQuestion, false));
    EXPECT_TRUE(ui.AskYesNo("Tarvex", "Go on?", true));
    ASSERT_EQ(answerer.boxes.size(), 6u);
    EXPECT_EQ(answerer.boxes[4].caption, QStringLiteral("Tarvex"));
    EXPECT_EQ(answerer.boxes[4].text, QString::fromUtf8(kDamagedBodyQuestion));
    EXPECT_EQ(answerer.boxes[4].icon, QMessageBox::Question);
    EXPECT_EQ(answerer.boxes[4].buttons, QMessageBox::Yes | QMessageBox::No);
    EXPECT_EQ(answerer.boxes[4].defaultButton, QMessageBox::No);
    EXPECT_EQ(answerer.boxes[5].defaultButton, QMessageBox::Yes);
}

}  // namespace
}  // namespace tarvex::test

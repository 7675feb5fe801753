// The dialog opening a job read-only: the job's choices shown, every control that would change
// what is sent disabled, and a job whose container changed shown with the reason and no
// Download.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <filesystem>

#include "GuiSupport.h"
#include "app/qt/TarvexApp.h"
#include "download/Sha256.h"
#include "production/JobFile.h"
#include "support/PtyPair.h"

namespace tarvex::test {
namespace {

class JobView : public DialogFixture {
  protected:
    production::Job SampleJob() const {
        production::Job job;
        job.name = "line7";
        job.workspace = sample.path();
        job.product = "H1";
        job.bootloader = "BL1.2-1";
        job.firmware = "FW1.5";
        job.container = sample / "project/H1.bin";
        job.containerSha256 = *Sha256OfFile(job.container);
        job.containerSize = std::filesystem::file_size(job.container);
        job.baud = "115200";
        job.items = {"application", "recipe"};
        return job;
    }

    SampleWorkspace sample;
    CurrentDirectory cwd{sample.path()};
};

TEST_F(JobView, TheJobIsShownWithWhatWouldChangeTheSentBytesDisabled) {
    PtyPair pty;
    DialogHarness& h = Show(sample.Environment({pty.slavePath()}));
    CTarvexDlg& f = h.form();
    qt::ShowJob(h.dialog(), SampleJob());

    EXPECT_TRUE(answerer.boxes.empty())
        << answerer.Texts().join(QStringLiteral("; ")).toStdString();
    EXPECT_TRUE(h.dialog().windowTitle().endsWith(QStringLiteral(" - job line7 (read-only)")));
    struct Shown {
        const ComboBox& list;
        const char* text;
    };
    for (const Shown& s :
         {Shown{f.m_cmbProduct, "H1"}, Shown{f.m_cmbBootloaderVersion, "BL1.2-1"},
          Shown{f.m_cmbFirmwareVersion, "FW1.5"}, Shown{f.m_cmbBaudRate, "115200"}}) {
        const QComboBox* combo = h.widget<QComboBox>(s.list);
        ASSERT_NE(combo, nullptr);
        EXPECT_EQ(combo->currentText(), QString::fromUtf8(s.text));
        EXPECT_FALSE(combo->isEnabled()) << s.text;
    }
    EXPECT_EQ(h.widget<QLineEdit>(f.m_editFileToSend)->text(),
              QString::fromStdString(sample / "project/H1.bin"));
    EXPECT_TRUE(f.m_chkApplication.GetCheck());
    EXPECT_TRUE(f.m_chkRecipe.GetCheck());
    EXPECT_FALSE(f.m_chkBitmap.GetCheck());
    const Control* const locked[] = {&f.m_btnBrowse, &f.m_editSlaveID, &f.m_radUSBDownload,
                                     &f.m_chkAll,    &f.m_chkBitmap,   &f.m_cmbStopBits};
    for (const Control* control : locked) {
        EXPECT_FALSE(h.dialog().WidgetFor(*control)->isEnabled()) << control->Caption();
    }
    // A click on a locked control does nothing; the port and Download stay the engineer's.
    EXPECT_FALSE(f.UserClick(f.m_chkBitmap));
    EXPECT_TRUE(h.widget<QComboBox>(f.m_cmbComPort)->isEnabled());
    EXPECT_TRUE(h.widget<QPushButton>(f.m_btnDownload)->isEnabled());
}

TEST_F(JobView, AChangedContainerIsToldAndNothingCanBeSent) {
    production::Job job = SampleJob();
    job.containerSha256 = std::string(64, '0');
    DialogHarness& h = Show(sample.Environment());
    qt::ShowJob(h.dialog(), job);

    ASSERT_EQ(answerer.boxes.size(), 1U);
    EXPECT_TRUE(answerer.boxes[0].text.startsWith(
        QStringLiteral("the container changed since the job was made: ")))
        << answerer.boxes[0].text.toStdString();
    EXPECT_TRUE(answerer.boxes[0].text.contains(QString::fromStdString(job.containerSha256)));
    EXPECT_FALSE(h.widget<QPushButton>(h.form().m_btnDownload)->isEnabled());
    EXPECT_FALSE(h.widget<QComboBox>(h.form().m_cmbProduct)->isEnabled());
}

TEST(JobViewCommandLine, TakesTheJobFileAndSaysSoInItsHelp) {
    const qt::DialogCommandLine line = qt::ParseDialogCommandLine(
        {QStringLiteral("tarvex"), QStringLiteral("--job"), QStringLiteral("line7.json")});
    EXPECT_EQ(line.action, qt::DialogCommandLine::Action::Run);
    EXPECT_EQ(line.job, QStringLiteral("line7.json"));
    EXPECT_EQ(
        qt::ParseDialogCommandLine({QStringLiteral("tarvex"), QStringLiteral("--job=a.json")}).job,
        QStringLiteral("a.json"));
    EXPECT_EQ(
        qt::ParseDialogCommandLine({QStringLiteral("tarvex"), QStringLiteral("--job")}).action,
        qt::DialogCommandLine::Action::Usage);
    EXPECT_TRUE(qt::DialogHelpText().contains(QStringLiteral("--job FILE")));
}

}  // namespace
}  // namespace tarvex::test

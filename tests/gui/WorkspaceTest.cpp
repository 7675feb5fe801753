// Where the dialog starts: started in a folder without a catalogue it asks for the workspace
// with a folder chooser (answered here by the test), starts there, and next time goes there
// without asking.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QDir>
#include <QSettings>

#include "GuiSupport.h"
#include "app/qt/Workspace.h"

namespace tarvex::test {
namespace {

// A folder chooser that records what it was asked and gives the test's answer.
struct ChooserSpy {
    explicit ChooserSpy(QString answerGiven = {}) : answer(std::move(answerGiven)) {}
    QString answer;
    QStringList titles;
    QStringList startDirs;
    qt::FolderChooser Chooser() {
        return [this](const QString& title, const QString& startDir) {
            titles << title;
            startDirs << startDir;
            return answer;
        };
    }
};

class WorkspaceTest : public DialogFixture {
  protected:
    // Shows the dialog in the current directory, as the application does.
    DialogHarness& ShowInCurrentDirectory() {
        FormEnvironment env = sample.Environment();
        env.appDir.clear();
        return Show(std::move(env));
    }
    QStringList ProductEntries() {
        return EntriesOf(harness().widget<QComboBox>(harness().form().m_cmbProduct));
    }

    SampleWorkspace sample;
    TempDir empty;
    TempDir config;
    QSettings settings{QString::fromStdString(config / "tarvex.conf"), QSettings::IniFormat};
    CurrentDirectory cwd{empty.path()};
};

TEST_F(WorkspaceTest, EmptyFolderAsksForTheWorkspaceAndRemembersIt) {
    const QString samplePath = QString::fromStdString(sample.path());
    ChooserSpy spy(samplePath);
    const qt::WorkspaceResult first = qt::EnterWorkspace({}, settings, spy.Chooser());
    ASSERT_TRUE(first.error.isEmpty()) << first.error.toStdString();
    EXPECT_EQ(
        spy.titles,
        QStringList{QStringLiteral("Choose the workspace: the folder that holds Pxx and Vxx")});
    EXPECT_EQ(spy.startDirs, QStringList{QString::fromStdString(empty.path())});
    EXPECT_EQ(first.dir, samplePath);
    EXPECT_EQ(QDir::currentPath(), samplePath);

    // The form reads the chosen workspace, and the project folder of DnldData.txt resolves
    // there: its bitmap ticks Bitmap.
    ShowInCurrentDirectory();
    EXPECT_EQ(harness().form().m_strAppDir, sample.path() + "/");
    EXPECT_TRUE(harness().form().m_chkBitmap.GetCheck());
    EXPECT_EQ(ProductEntries(), QStringList({"Select Product", "H1", "K3"}));
    EXPECT_TRUE(answerer.boxes.empty()) << answerer.Texts().join(" | ").toStdString();
    TearDown();

    // The next start from the empty folder goes there without asking.
    QDir::setCurrent(QString::fromStdString(empty.path()));
    ChooserSpy notAsked(QStringLiteral("/nowhere"));
    EXPECT_EQ(qt::EnterWorkspace({}, settings, notAsked.Chooser()).dir, samplePath);
    EXPECT_TRUE(notAsked.titles.isEmpty());

    // A folder that holds a catalogue is taken as it is, the remembered one left alone.
    QDir::setCurrent(QString::fromStdString(empty.path()));
    const QString other = QString::fromStdString(empty.MakeDir("other"));
    QDir().mkpath(other + QStringLiteral("/Vxx"));
    EXPECT_EQ(qt::EnterWorkspace(other, settings, notAsked.Chooser()).dir, other);
    EXPECT_TRUE(notAsked.titles.isEmpty());
    EXPECT_EQ(settings.value(QStringLiteral("workspace")).toString(), samplePath);
}

TEST_F(WorkspaceTest, CancelledChooserStartsWhereTheDialogWasGoingTo) {
    ChooserSpy cancel;  // the empty answer of Cancel
    const qt::WorkspaceResult result = qt::EnterWorkspace({}, settings, cancel.Chooser());
    EXPECT_EQ(cancel.titles.size(), 1);
    EXPECT_EQ(result.dir, QString::fromStdString(empty.path()));
    EXPECT_FALSE(settings.contains(QStringLiteral("workspace")));

    // The form then says what it misses, as it always has.
    ShowInCurrentDirectory();
    EXPECT_TRUE(answerer.Texts().contains(QStringLiteral("Download Data File not found!")))
        << answerer.Texts().join(" | ").toStdString();
    EXPECT_EQ(ProductEntries(), QStringList({"Select Product"}));

    // A named folder that does not exist is refused before anything is asked.
    const qt::WorkspaceResult missing =
        qt::EnterWorkspace(QString::fromStdString(empty / "no-such"), settings, cancel.Chooser());
    EXPECT_FALSE(missing.error.isEmpty());
    EXPECT_EQ(cancel.titles.size(), 1);
}

}  // namespace
}  // namespace tarvex::test

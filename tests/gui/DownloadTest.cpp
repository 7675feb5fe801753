// Whole downloads through the dialog to the simulated panel: chosen and started with the mouse
// and the keyboard, the message boxes answered by the test, what the panel received compared
// with the container's parts, and Cancel pressed while the transfer runs.
#include <signal.h>

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>
#include <chrono>
#include <filesystem>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>

#include "GuiSupport.h"
#include "support/PanelSimProcess.h"

namespace tarvex::test {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

// The files the panel stored, by kind, in the order they arrived.
std::map<std::string, std::vector<fs::path>> ReceivedItems(const fs::path& out) {
    std::vector<fs::path> files;
    for (const auto& entry : fs::directory_iterator(out)) {
        if (entry.path().extension() == ".bin") {
            files.push_back(entry.path());
        }
    }
    std::sort(files.begin(), files.end());  // NN- prefix: order of arrival
    std::map<std::string, std::vector<fs::path>> byKind;
    for (const fs::path& file : files) {
        const std::string name = file.filename().string();
        const auto first = name.find('-');
        const auto second = name.find('-', first + 1);
        byKind[name.substr(first + 1, second - first - 1)].push_back(file);
    }
    return byKind;
}

// Sends a press and a release to a button through the event queue, as the window system does:
// only the download's event pump can deliver them.
void PostClick(QWidget* button) {
    const QPointF at = QRectF(button->rect()).center();
    const QPointF global = button->mapToGlobal(at);
    QCoreApplication::postEvent(
        button, new QMouseEvent(QEvent::MouseButtonPress, at, global, Qt::LeftButton,
                                Qt::LeftButton, Qt::NoModifier));
    QCoreApplication::postEvent(
        button, new QMouseEvent(QEvent::MouseButtonRelease, at, global, Qt::LeftButton,
                                Qt::NoButton, Qt::NoModifier));
}

class DownloadTest : public DialogFixture {
  protected:
    // Chooses what a service engineer chooses for the sample H1 panel.
    void FillForm(DialogHarness& h, const std::string& port) {
        CTarvexDlg& f = h.form();
        PickEntry(h.widget<QComboBox>(f.m_cmbProduct), QStringLiteral("H1"));
        PickEntry(h.widget<QComboBox>(f.m_cmbBootloaderVersion), QStringLiteral("BL1.2-1"));
        PickEntry(h.widget<QComboBox>(f.m_cmbFirmwareVersion), QStringLiteral("FW1.5"));
        PickEntry(h.widget<QComboBox>(f.m_cmbComPort), QString::fromStdString(port));
        PickEntry(h.widget<QComboBox>(f.m_cmbBaudRate), QStringLiteral("115200"));
        auto* slaveId = h.widget<QLineEdit>(f.m_editSlaveID);
        slaveId->setFocus();
        slaveId->selectAll();
        QTest::keyClicks(slaveId, QStringLiteral("1"));
        auto* password = h.widget<QLineEdit>(f.m_editPassword);
        password->setFocus();
        QTest::keyClicks(password, QStringLiteral("4321"));
        ClickWidget(h.widget<QCheckBox>(f.m_chkAll));
    }

    // Starts the panel with these options besides the sample's product code and its output in
    // `out`; it stays until the test ends it, so that its last reply is never lost to its exit.
    // Then shows the dialog on its port and fills the form in.
    void StartWithPanel(std::vector<std::string> options) {
        options.insert(options.end(),
                       {"--product-code", "17", "--idle-exit-ms", "60000", "--out", out.path()});
        sim = std::make_unique<PanelSimProcess>(options);
        ASSERT_FALSE(sim->port().empty());
        FillForm(Show(sample.Environment({sim->port()})), sim->port());
    }

    // Ends the panel and reads the report it wrote.
    nlohmann::json StopPanel() {
        sim->Signal(SIGTERM);
        EXPECT_EQ(sim->WaitExit(5s), 0);
        return nlohmann::json::parse(ReadFileText(out / "session.json"));
    }

    SampleWorkspace sample;
    CurrentDirectory cwd{sample.path()};
    TempDir out;
    std::unique_ptr<PanelSimProcess> sim;
};

TEST_F(DownloadTest, WholeDownloadFromAClickOnDownload) {
    ASSERT_NO_FATAL_FAILURE(StartWithPanel({"--password", "4321"}));
    DialogHarness& h = harness();
    CTarvexDlg& f = h.form();

    auto* download = h.widget<QPushButton>(f.m_btnDownload);
    auto* close = h.widget<QPushButton>(f.m_btnClose);
    auto* cancel = h.widget<QPushButton>(f.m_btnCancel);
    auto* progress = h.widget<QProgressBar>(f.m_progress);
    int ticksWhileRunning = 0;
    bool buttonsRight = true;
    int highestProgress = 0;
    QStringList statusTexts;  // the status line under the bar, as it changed
    answerer.onTick = [&] {
        if (!f.DownloadRunning()) {
            return;
        }
        const QString status = h.dialog().StatusLabel()->text();
        if (statusTexts.isEmpty() || statusTexts.back() != status) {
            statusTexts.push_back(status);
        }
        ++ticksWhileRunning;
        buttonsRight =
            buttonsRight && !download->isEnabled() && !close->isEnabled() && cancel->isEnabled();
        highestProgress = std::max(highestProgress, progress->value() - progress->minimum());
        // Enter reaches a disabled Close: the dialog stays.
        QTest::keyClick(&h.dialog(), Qt::Key_Return);
    };
    ClickWidget(download);

    EXPECT_EQ(answerer.Texts(), QStringList({"Download Complete!"}));
    // The status line named each item and its progress, and the panel's erase pause.
    EXPECT_FALSE(statusTexts.filter("Sending Bitmap: the panel is erasing its memory").isEmpty())
        << statusTexts.join("\n").toStdString();
    EXPECT_FALSE(statusTexts
                     .filter(QRegularExpression("^Sending Application: packet \\d+ of "
                                                "\\d+ \\(\\d+ %\\)$"))
                     .isEmpty())
        << statusTexts.join("\n").toStdString();
    ASSERT_EQ(answerer.boxes.size(), 1u);
    EXPECT_EQ(answerer.boxes[0].caption, QStringLiteral("Tarvex"));
    EXPECT_EQ(answerer.boxes[0].icon, QMessageBox::NoIcon);
    EXPECT_EQ(f.LastDownloadOutcome(), DownloadOutcome::Complete);
    EXPECT_FALSE(answerer.timedOut);
    // The window was served while the transfer ran, with only Cancel usable.
    EXPECT_GT(ticksWhileRunning, 0);
    EXPECT_TRUE(buttonsRight);
    EXPECT_GT(highestProgress, 0);
    EXPECT_TRUE(h.dialog().isVisible());
    EXPECT_FALSE(f.IsEnded());
    EXPECT_TRUE(download->isEnabled());
    EXPECT_TRUE(close->isEnabled());
    EXPECT_TRUE(fs::exists(sample / "dnld.sv"));  // in the copy, not in the build tree

    const nlohmann::json session = StopPanel();
    // Bitmap, font, the recipes in container order, then the application.
    const auto items = ReceivedItems(out.path());
    const fs::path parts = fs::path(TARVEX_SOURCE_DIR) / "examples" / "parts";
    ASSERT_EQ(items.count("application"), 1u);
    ASSERT_EQ(items.count("bitmap"), 1u);
    ASSERT_EQ(items.count("font"), 1u);
    ASSERT_EQ(items.count("recipe"), 1u);
    EXPECT_EQ(ReadFileBytes(items.at("application").at(0)),
              ReadFileBytes(parts / "H1-application.txt"));
    EXPECT_EQ(ReadFileBytes(items.at("font").at(0)), ReadFileBytes(parts / "panel-font.txt"));
    EXPECT_EQ(ReadFileBytes(items.at("bitmap").at(0)),
              ReadFileBytes(sample / "project/BMP/BMP.bin"));
    ASSERT_EQ(items.at("recipe").size(), 2u);
    EXPECT_EQ(ReadFileBytes(items.at("recipe")[0]),
              ReadFileBytes(sample / "project/Recipe/Alpha.bin"));
    EXPECT_EQ(ReadFileBytes(items.at("recipe")[1]),
              ReadFileBytes(sample / "project/Recipe/Beta.bin"));

    EXPECT_TRUE(session.at("over_received").get<bool>());
    EXPECT_EQ(session.at("items").size(), 5u);
    for (const auto& item : session.at("items")) {
        EXPECT_TRUE(item.at("complete").get<bool>()) << item.dump();
        EXPECT_TRUE(item.at("byte_sum_ok").get<bool>()) << item.dump();
        EXPECT_EQ(item.at("password").get<int>(), 4321);
        EXPECT_EQ(item.at("product_code").get<int>(), 17);
    }

    // The dialog ends with Close as before.
    ClickWidget(close);
    EXPECT_TRUE(f.IsEnded());
    EXPECT_FALSE(h.dialog().isVisible());
}

TEST_F(DownloadTest, CancelClickedDuringTheTransferStopsIt) {
    // A slow panel, so that the transfer is still running when Cancel arrives.
    ASSERT_NO_FATAL_FAILURE(StartWithPanel({"--reply-delay-ms", "20"}));
    DialogHarness& h = harness();
    CTarvexDlg& f = h.form();

    auto* progress = h.widget<QProgressBar>(f.m_progress);
    bool posted = false;
    answerer.onTick = [&] {
        if (!posted && f.DownloadRunning() && progress->value() > progress->minimum()) {
            PostClick(h.dialog().WidgetFor(f.m_btnCancel));
            posted = true;
        }
    };
    ClickWidget(h.widget<QPushButton>(f.m_btnDownload));

    EXPECT_TRUE(posted);
    EXPECT_EQ(f.LastDownloadOutcome(), DownloadOutcome::Cancelled);
    EXPECT_EQ(answerer.Texts(), QStringList({"Download not successful!"}));
    EXPECT_FALSE(answerer.timedOut);
    EXPECT_TRUE(h.widget<QPushButton>(f.m_btnDownload)->isEnabled());
    EXPECT_TRUE(h.widget<QPushButton>(f.m_btnClose)->isEnabled());
    EXPECT_TRUE(h.dialog().isVisible());

    // The panel saw fewer items than were ticked, the last one cancelled or unfinished.
    const nlohmann::json session = StopPanel();
    bool allComplete = session.at("items").size() == 5;
    for (const auto& item : session.at("items")) {
        allComplete = allComplete && item.at("complete").get<bool>();
    }
    EXPECT_FALSE(allComplete) << session.dump();
}

}  // namespace
}  // namespace tarvex::test

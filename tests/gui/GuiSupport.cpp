#include "GuiSupport.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>

namespace tarvex::test {

using namespace std::chrono_literals;

namespace {
constexpr auto kPollInterval = 10ms;
// Generous for a loaded machine; a hang ends the test here rather than at CTest's time-out.
constexpr auto kWatchdog = 60s;
}  // namespace

BoxAnswerer::BoxAnswerer() {
    QObject::connect(&poll_, &QTimer::timeout, [this] { Poll(); });
    poll_.start(kPollInterval);
    watchdog_.setSingleShot(true);
    QObject::connect(&watchdog_, &QTimer::timeout, [this] {
        timedOut = true;
        ADD_FAILURE() << "watchdog: the dialog did not finish in time";
        // Unblock whatever waits: boxes, the file dialog, a running transfer.
        if (QWidget* modal = QApplication::activeModalWidget()) {
            modal->close();
        }
        for (QWidget* top : QApplication::topLevelWidgets()) {
            if (auto* dlg = dynamic_cast<qt::TarvexDialog*>(top)) {
                dlg->Form().OnCancel();
            }
        }
    });
    watchdog_.start(kWatchdog);
}

BoxAnswerer::~BoxAnswerer() = default;

QStringList BoxAnswerer::Texts() const {
    QStringList texts;
    for (const SeenBox& box : boxes) {
        texts << box.text;
    }
    return texts;
}

void BoxAnswerer::Poll() {
    QWidget* modal = QApplication::activeModalWidget();
    if (modal != nullptr && !answered_.contains(QPointer<QWidget>(modal))) {
        if (auto* box = qobject_cast<QMessageBox*>(modal)) {
            answered_.push_back(box);
            QPushButton* preset = box->defaultButton();
            boxes.push_back(
                {box->windowTitle(), box->text(), box->icon(), box->textFormat() == Qt::PlainText,
                 !box->iconPixmap().isNull(), box->standardButtons(),
                 preset != nullptr ? box->standardButton(preset) : QMessageBox::NoButton});
            if (QAbstractButton* ok = box->button(QMessageBox::Ok)) {
                ok->click();
            } else if (preset != nullptr) {
                preset->click();  // a question: Enter takes the default answer
            } else {
                box->done(QMessageBox::Ok);
            }
        } else if (onOtherModal && dynamic_cast<qt::TarvexDialog*>(modal) == nullptr) {
            answered_.push_back(modal);
            onOtherModal(modal);
        }
    }
    if (onTick) {
        onTick();
    }
}

CurrentDirectory::CurrentDirectory(const std::string& path)
    : previous_(std::filesystem::current_path()) {
    std::filesystem::current_path(path);
}

CurrentDirectory::~CurrentDirectory() {
    std::error_code ignored;
    std::filesystem::current_path(previous_, ignored);
}

SampleWorkspace::SampleWorkspace() {
    const std::filesystem::path source =
        std::filesystem::path(TARVEX_BINARY_DIR) / "sample-workspace";
    std::filesystem::copy(source, dir_.path(), std::filesystem::copy_options::recursive);
}

FormEnvironment SampleWorkspace::Environment(std::vector<std::string> extraPorts) const {
    FormEnvironment env;
    env.probe.sysfsRoot = sysfs_.path();
    env.probe.devRoot = sysfs_.path();
    env.probe.extraPorts = std::move(extraPorts);
    env.timingLogPath = dir_ / "ReadTimeDiff.csv";
    return env;
}

DialogHarness::DialogHarness(FormEnvironment env)
    : dialog_(std::make_unique<qt::TarvexDialog>(info_, std::move(env))) {
    dialog_->show();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(dialog_.get()));
}

DialogHarness::~DialogHarness() = default;

QStringList EntriesOf(const QComboBox* combo) {
    QStringList entries;
    for (int i = 0; i < combo->count(); ++i) {
        entries << combo->itemText(i);
    }
    return entries;
}

void PickEntry(QComboBox* combo, const QString& text) {
    ASSERT_NE(combo, nullptr);
    combo->showPopup();
    const int index = combo->findText(text, Qt::MatchExactly);
    ASSERT_GE(index, 0) << "no entry " << text.toStdString() << " in "
                        << EntriesOf(combo).join(", ").toStdString();
    QAbstractItemView* view = combo->view();
    view->setCurrentIndex(view->model()->index(index, combo->modelColumn()));
    QTest::keyClick(view, Qt::Key_Return);
}

void ClickWidget(QAbstractButton* button) {
    ASSERT_NE(button, nullptr);
    // Boxes and radio buttons take a click on their indicator; push buttons anywhere.
    const bool indicator = qobject_cast<QCheckBox*>(button) != nullptr ||
                           qobject_cast<QRadioButton*>(button) != nullptr;
    const QPoint at = indicator ? QPoint(6, button->height() / 2) : button->rect().center();
    QTest::mouseClick(button, Qt::LeftButton, Qt::KeyboardModifiers(), at);
}

}  // namespace tarvex::test

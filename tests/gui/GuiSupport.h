// Helpers for driving the Qt dialog in tests on the offscreen platform.
//
//   BoxAnswerer       polls for modal boxes while the test (or a download) runs, records what
//                     each message box showed and presses its OK button
//   DialogHarness     a TarvexDialog shown in a start-up directory of the test's choosing
//   DialogFixture     a test that shows one dialog and answers its boxes
//   PickEntry         opens a list and picks an entry with the keyboard, as a person would
//   ClickWidget       a mouse click where a person clicks (a box's indicator, a button's middle)
//   SampleWorkspace   a copy of <build>/sample-workspace, so that nothing is written into the
//                     build tree
//   CurrentDirectory  the process's current directory, for one test
#pragma once

#include <gtest/gtest.h>

#include <QMessageBox>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "app/qt/TarvexDialog.h"
#include "support/TempDir.h"

class QAbstractButton;
class QComboBox;

// Readable failure messages for Qt's strings.
inline void PrintTo(const QString& text, std::ostream* os) {
    *os << '"' << text.toStdString() << '"';
}

namespace tarvex::test {

struct SeenBox {
    QString caption;
    QString text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    bool plainText = false;
    bool hasIconPixmap = false;
    QMessageBox::StandardButtons buttons;
    QMessageBox::StandardButton defaultButton = QMessageBox::NoButton;
};

class BoxAnswerer {
  public:
    BoxAnswerer();
    ~BoxAnswerer();
    BoxAnswerer(const BoxAnswerer&) = delete;
    BoxAnswerer& operator=(const BoxAnswerer&) = delete;

    // Runs on every poll, also while a download pumps events (the test's hand on the mouse).
    std::function<void()> onTick;
    // Runs for a modal widget that is not a message box (the file dialog); the test answers it.
    std::function<void(QWidget*)> onOtherModal;

    std::vector<SeenBox> boxes;
    QStringList Texts() const;
    // True when the watchdog ran out: the test took too long, and Cancel was raised.
    bool timedOut = false;

  private:
    void Poll();
    QTimer poll_;
    QTimer watchdog_;
    QList<QPointer<QWidget>> answered_;
};

// The process's current directory for the life of the object; the form resolves the project
// folder of the download data file against it.
class CurrentDirectory {
  public:
    explicit CurrentDirectory(const std::string& path);
    ~CurrentDirectory();
    CurrentDirectory(const CurrentDirectory&) = delete;
    CurrentDirectory& operator=(const CurrentDirectory&) = delete;

  private:
    std::filesystem::path previous_;
};

// A copy of the sample workspace in a fresh temporary folder.
class SampleWorkspace {
  public:
    SampleWorkspace();
    const std::string& path() const { return dir_.path(); }
    std::string operator/(std::string_view relative) const { return dir_ / relative; }
    // The form's environment: only the given ports, the timing log inside the copy.
    FormEnvironment Environment(std::vector<std::string> extraPorts = {}) const;

  private:
    TempDir dir_;
    TempDir sysfs_;
};

// A dialog shown on the offscreen screen; the form starts with the first show.
class DialogHarness {
  public:
    DialogHarness(FormEnvironment env);
    ~DialogHarness();
    qt::TarvexDialog& dialog() { return *dialog_; }
    CTarvexDlg& form() { return dialog_->Form(); }
    template <class W>
    W* widget(const Control& control) {
        return dialog_->Widget<W>(control);
    }

  private:
    CDownloadInfo info_;
    std::unique_ptr<qt::TarvexDialog> dialog_;
};

// A test that shows one dialog with Show() and answers its message boxes. The dialog goes at
// TearDown, before the folders of the derived fixture that it may still use.
class DialogFixture : public ::testing::Test {
  protected:
    DialogHarness& Show(FormEnvironment env) {
        harness_ = std::make_unique<DialogHarness>(std::move(env));
        return *harness_;
    }
    DialogHarness& harness() { return *harness_; }
    void TearDown() override { harness_.reset(); }

    BoxAnswerer answerer;

  private:
    std::unique_ptr<DialogHarness> harness_;
};

// Entries of a list widget, in order.
QStringList EntriesOf(const QComboBox* combo);

// Opens the list (as a click on its arrow would), moves to the entry with the given text and
// confirms it with Enter. Fails the test when there is no such entry.
void PickEntry(QComboBox* combo, const QString& text);

void ClickWidget(QAbstractButton* button);

}  // namespace tarvex::test

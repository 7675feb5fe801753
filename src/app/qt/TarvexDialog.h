// The main dialog: a Qt view of the toolkit-free form CTarvexDlg.
//
// Every control of the form has one widget here. The widget mirrors its control model (the
// model tells the view when it changed) and hands a person's action to the form's entry point:
// a list entry picked, a box or button clicked, text typed, the Com Port list opened. The form
// decides everything; the view never changes a model itself and runs no handler of its own.
//
//   Enter           the default button, Close (only while it is enabled)
//   Esc, close box  the form's Cancel: the dialog stays open
//   F1, the context menu's "&About Tarvex..."   the form's system command IDM_ABOUTBOX
//
// The form starts (OnInitDialog) when InitDialog() is called or, at the latest, when the
// dialog is first shown. Close ends the form, and the dialog is accepted.
#pragma once

#include <QComboBox>
#include <QDialog>
#include <functional>
#include <memory>
#include <string>
#include <unordered_map>
#include <unordered_set>

#include "app/qt/QtUserInterface.h"
#include "app/qt/StatusLine.h"
#include "download/DownloadContainer.h"
#include "ui/TarvexDlg.h"

class QAction;
class QGroupBox;

namespace tarvex::qt {

inline constexpr char kAboutMenuText[] = "&About Tarvex...";

// The Com Port list: opening it lets the form re-probe the ports before the entries show.
class PortComboBox : public QComboBox {
  public:
    explicit PortComboBox(std::function<void()> beforePopup, QWidget* parent = nullptr)
        : QComboBox(parent), beforePopup_(std::move(beforePopup)) {}
    void showPopup() override;

  private:
    std::function<void()> beforePopup_;
};

class TarvexDialog : public QDialog {
  public:
    explicit TarvexDialog(CDownloadInfo& downloadInfo, FormEnvironment env = {},
                          QWidget* parent = nullptr);
    ~TarvexDialog() override;
    TarvexDialog(const TarvexDialog&) = delete;
    TarvexDialog& operator=(const TarvexDialog&) = delete;

    // Runs the form's start-up once (later calls do nothing) and mirrors the result.
    void InitDialog();

    CTarvexDlg& Form() { return form_; }
    QtUserInterface& UserInterface() { return ui_; }
    // The widget that shows a control of the form.
    QWidget* WidgetFor(const Control& control) const;
    template <class W>
    W* Widget(const Control& control) const {
        return dynamic_cast<W*>(WidgetFor(control));
    }
    QGroupBox* Group(const char* title) const;
    QAction* AboutAction() const { return aboutAction_; }
    // The status line under the progress bar.
    QLabel* StatusLabel() const { return statusLabel_; }

    // Esc: the form's Cancel; the dialog stays open.
    void reject() override;

  protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;

  private:
    void BuildWidgets();
    void Bind(Control& control, QWidget* widget);
    void Refresh(const Control& control);
    // Runs a person's action unless the same control's action is still running further up the
    // stack (a download pumps events; a second click on its button must not start another).
    void Act(const Control& control, const std::function<void()>& action);
    // After the ports were probed: the ports present but not usable, the saved port missing.
    void ShowPortStatus();

    QtUserInterface ui_;
    CTarvexDlg form_;
    std::unordered_map<const Control*, QWidget*> widgets_;
    std::unordered_set<const Control*> running_;
    std::unordered_map<std::string, QGroupBox*> groups_;
    QAction* aboutAction_ = nullptr;
    QLabel* statusLabel_ = nullptr;
    std::unique_ptr<StatusLine> status_;
    bool initialised_ = false;
};

}  // namespace tarvex::qt

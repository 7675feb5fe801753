#include "app/qt/TarvexDialog.h"

#include <QAction>
#include <QCheckBox>
#include <QCloseEvent>
#include <QFontDatabase>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalBlocker>
#include <QVBoxLayout>
#include <algorithm>

#include "app/qt/AppIcon.h"
#include "app/qt/TextCodec.h"

namespace tarvex::qt {
namespace {

constexpr char kGroupDetails[] = "Details";
constexpr char kGroupCommunication[] = "Communication Settings";
constexpr char kGroupDownload[] = "Download";

// Long enough for device paths such as /dev/ttyUSB10 and for the placeholders of the lists.
constexpr int kPortListChars = 14;
constexpr int kSelectionListChars = 24;
constexpr int kShortListChars = 7;

// Keeps the place of a control that versions show and hide, so that the rows do not move.
void KeepPlaceWhenHidden(QWidget* widget) {
    QSizePolicy policy = widget->sizePolicy();
    policy.setRetainSizeWhenHidden(true);
    widget->setSizePolicy(policy);
}

// Brings a list widget's entries in line with the model's, touching only what differs.
void SyncEntries(QComboBox& combo, const std::vector<std::string>& entries) {
    int same = 0;
    const int shared = std::min(combo.count(), static_cast<int>(entries.size()));
    while (same < shared &&
           ToBytes(combo.itemText(same)) == entries[static_cast<std::size_t>(same)]) {
        ++same;
    }
    while (combo.count() > same) {
        combo.removeItem(combo.count() - 1);
    }
    for (std::size_t i = static_cast<std::size_t>(same); i < entries.size(); ++i) {
        combo.addItem(ToQString(entries[i]));
    }
}

}  // namespace

void PortComboBox::showPopup() {
    if (beforePopup_) {
        beforePopup_();
    }
    QComboBox::showPopup();
}

TarvexDialog::TarvexDialog(CDownloadInfo& downloadInfo, FormEnvironment env, QWidget* parent)
    : QDialog(parent), ui_(this), form_(downloadInfo, ui_, std::move(env)) {
    setWindowTitle(ToQString(kFormTitle));
    setWindowIcon(AppIcon());
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    if (QFontDatabase::hasFamily(QStringLiteral("Verdana"))) {
        QFont verdana(QStringLiteral("Verdana"));
        verdana.setPointSize(9);
        setFont(verdana);
    }

    // Window managers on Linux give an application no system menu: the About item lives in the
    // dialog's context menu and on F1, and still goes through the form's system command.
    aboutAction_ = new QAction(QString::fromLatin1(kAboutMenuText), this);
    aboutAction_->setShortcut(QKeySequence(Qt::Key_F1));
    connect(aboutAction_, &QAction::triggered, this, [this] { form_.OnSysCommand(IDM_ABOUTBOX); });
    addAction(aboutAction_);
    setContextMenuPolicy(Qt::ActionsContextMenu);

    BuildWidgets();
    form_.SetEndListener([this] { accept(); });
}

TarvexDialog::~TarvexDialog() {
    // The widgets go after the form; the form must not reach them on its way out.
    form_.ForEachControl([](Control& control) { control.SetListener(nullptr); });
    form_.SetEndListener(nullptr);
    form_.SetProgressListener(nullptr);
}

void TarvexDialog::BuildWidgets() {
    CTarvexDlg& f = form_;
    const auto label = [this](Label& model) {
        auto* w = new QLabel(ToQString(model.Caption()));
        Bind(model, w);
        return w;
    };
    const auto list = [this](ComboBox& model, int chars) {
        auto* w = new QComboBox;
        w->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
        w->setMinimumContentsLength(chars);
        Bind(model, w);
        connect(w, &QComboBox::activated, this, [this, &model](int index) {
            Act(model, [&] { form_.UserSelect(model, index); });
            Refresh(model);
        });
        return w;
    };
    const auto edit = [this](EditField& model) {
        auto* w = new QLineEdit;
        if (model.HidesCharacters()) {
            w->setEchoMode(QLineEdit::Password);
        }
        Bind(model, w);
        connect(w, &QLineEdit::textEdited, this, [this, &model](const QString& text) {
            Act(model, [&] { form_.UserSetText(model, ToBytes(text)); });
            Refresh(model);
        });
        return w;
    };
    const auto box = [this](CheckBox& model, QAbstractButton* w) {
        // The form keeps the radio pair consistent; Qt's own exclusivity would fight it.
        w->setAutoExclusive(false);
        Bind(model, w);
        connect(w, &QAbstractButton::clicked, this, [this, &model] {
            Act(model, [&] { form_.UserClick(model); });
            Refresh(model);
        });
        return w;
    };
    const auto check = [&](CheckBox& model) {
        return box(model, new QCheckBox(ToQString(model.Caption())));
    };
    const auto radio = [&](RadioButton& model) {
        return box(model, new QRadioButton(ToQString(model.Caption())));
    };
    const auto button = [this](Button& model) {
        auto* w = new QPushButton(ToQString(model.Caption()));
        w->setAutoDefault(false);
        Bind(model, w);
        connect(w, &QPushButton::clicked, this,
                [this, &model] { Act(model, [&] { form_.UserClick(model); }); });
        return w;
    };
    const auto group = [this](const char* title) {
        auto* g = new QGroupBox(QString::fromLatin1(title));
        groups_[title] = g;
        return g;
    };

    // Details
    QGroupBox* details = group(kGroupDetails);
    auto* detailsGrid = new QGridLayout(details);
    detailsGrid->addWidget(label(f.m_lblProduct), 0, 0);
    detailsGrid->addWidget(list(f.m_cmbProduct, kSelectionListChars), 0, 1, 1, 2);
    detailsGrid->addWidget(label(f.m_lblBootloader), 1, 0);
    detailsGrid->addWidget(list(f.m_cmbBootloaderVersion, kSelectionListChars), 1, 1, 1, 2);
    detailsGrid->addWidget(label(f.m_lblFirmware), 2, 0);
    detailsGrid->addWidget(list(f.m_cmbFirmwareVersion, kSelectionListChars), 2, 1, 1, 2);
    detailsGrid->addWidget(label(f.m_lblFileToSend), 3, 0);
    QLineEdit* fileToSend = edit(f.m_editFileToSend);
    fileToSend->setMinimumWidth(fileToSend->fontMetrics().averageCharWidth() * 36);
    detailsGrid->addWidget(fileToSend, 3, 1);
    detailsGrid->addWidget(button(f.m_btnBrowse), 3, 2);
    QLabel* slaveIdLabel = label(f.m_lblSlaveID);
    QLineEdit* slaveId = edit(f.m_editSlaveID);
    slaveId->setMaxLength(32);
    slaveId->setFixedWidth(slaveId->fontMetrics().averageCharWidth() * 10);
    KeepPlaceWhenHidden(slaveIdLabel);
    KeepPlaceWhenHidden(slaveId);
    detailsGrid->addWidget(slaveIdLabel, 4, 0);
    detailsGrid->addWidget(slaveId, 4, 1, Qt::AlignLeft);
    detailsGrid->setColumnStretch(1, 1);

    // Communication Settings
    QGroupBox* communication = group(kGroupCommunication);
    auto* commGrid = new QGridLayout(communication);
    commGrid->addWidget(radio(f.m_radSerialDownload), 0, 0, 1, 2);
    commGrid->addWidget(radio(f.m_radUSBDownload), 0, 2, 1, 2);
    commGrid->addWidget(label(f.m_lblComPort), 1, 0);
    auto* comPort = new PortComboBox([this] {
        Act(form_.m_cmbComPort, [this] {
            form_.UserDropDown(form_.m_cmbComPort);
            ShowPortStatus();
        });
    });
    comPort->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    comPort->setMinimumContentsLength(kPortListChars);
    Bind(f.m_cmbComPort, comPort);
    connect(comPort, &QComboBox::activated, this, [this](int index) {
        Act(form_.m_cmbComPort, [&] { form_.UserSelect(form_.m_cmbComPort, index); });
        Refresh(form_.m_cmbComPort);
    });
    commGrid->addWidget(comPort, 1, 1);
    commGrid->addWidget(label(f.m_lblBaudRate), 1, 2);
    commGrid->addWidget(list(f.m_cmbBaudRate, kShortListChars), 1, 3);
    commGrid->addWidget(label(f.m_lblParity), 2, 0);
    commGrid->addWidget(list(f.m_cmbParity, kShortListChars), 2, 1);
    commGrid->addWidget(label(f.m_lblDataBits), 2, 2);
    commGrid->addWidget(list(f.m_cmbDataBits, kShortListChars), 2, 3);
    commGrid->addWidget(label(f.m_lblStopBits), 3, 0);
    commGrid->addWidget(list(f.m_cmbStopBits, kShortListChars), 3, 1);
    commGrid->addWidget(label(f.m_lblEcho), 3, 2);
    commGrid->addWidget(list(f.m_cmbEcho, kShortListChars), 3, 3);
    commGrid->addWidget(label(f.m_lblPassword), 4, 0);
    QLineEdit* password = edit(f.m_editPassword);
    KeepPlaceWhenHidden(password);
    commGrid->addWidget(password, 4, 1);
    QAbstractButton* remember = check(f.m_chkRememberPassword);
    KeepPlaceWhenHidden(remember);
    commGrid->addWidget(remember, 4, 2, 1, 2);
    commGrid->addWidget(check(f.m_chkRs485), 5, 0, 1, 2);
    commGrid->setColumnStretch(1, 1);
    commGrid->setColumnStretch(3, 1);

    // Download
    QGroupBox* download = group(kGroupDownload);
    auto* downloadBox = new QVBoxLayout(download);
    auto* items = new QHBoxLayout;
    for (CheckBox* item : {&f.m_chkApplication, &f.m_chkBitmap, &f.m_chkFont, &f.m_chkRecipe,
                           &f.m_chkAll, &f.m_chkUpload}) {
        items->addWidget(check(*item));
    }
    items->addStretch(1);
    downloadBox->addLayout(items);
    auto* recipes = new QHBoxLayout;
    recipes->addWidget(label(f.m_lblSelectRecipe));
    recipes->addWidget(list(f.m_cmbSelectRecipe, kSelectionListChars), 1);
    downloadBox->addLayout(recipes);

    // Bottom: progress, the unused BL Version pair, the three buttons.
    auto* progress = new QProgressBar;
    progress->setTextVisible(false);
    Bind(f.m_progress, progress);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(label(f.m_lblBLVersion));
    QLineEdit* blVersion = edit(f.m_editBLVersion);
    blVersion->setReadOnly(true);
    buttons->addWidget(blVersion);
    buttons->addStretch(1);
    QPushButton* downloadButton = button(f.m_btnDownload);
    QPushButton* closeButton = button(f.m_btnClose);
    closeButton->setAutoDefault(true);
    closeButton->setDefault(true);  // Enter
    buttons->addWidget(downloadButton);
    buttons->addWidget(closeButton);
    buttons->addWidget(button(f.m_btnCancel));

    // Under the bar: what the transfer does, and why a port is missing from the list.
    statusLabel_ = new QLabel;
    statusLabel_->setObjectName(QStringLiteral("statusLine"));
    statusLabel_->setTextFormat(Qt::PlainText);
    statusLabel_->setWordWrap(true);
    status_ = std::make_unique<StatusLine>(statusLabel_);
    form_.SetProgressListener(&status_->Progress());

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(details);
    layout->addWidget(communication);
    layout->addWidget(download);
    layout->addWidget(progress);
    layout->addWidget(statusLabel_);
    layout->addLayout(buttons);
    layout->setSizeConstraint(QLayout::SetMinimumSize);
}

void TarvexDialog::Bind(Control& control, QWidget* widget) {
    widget->setObjectName(QStringLiteral("control%1").arg(control.Id()));
    widgets_[&control] = widget;
    control.SetListener([this](const Control& changed) { Refresh(changed); });
    Refresh(control);
}

QWidget* TarvexDialog::WidgetFor(const Control& control) const {
    const auto it = widgets_.find(&control);
    return it == widgets_.end() ? nullptr : it->second;
}

QGroupBox* TarvexDialog::Group(const char* title) const {
    const auto it = groups_.find(title);
    return it == groups_.end() ? nullptr : it->second;
}

void TarvexDialog::Refresh(const Control& control) {
    QWidget* widget = WidgetFor(control);
    if (widget == nullptr) {
        return;
    }
    // Nothing set here reaches the form: the view listens only to what a person does
    // (activated, clicked, textEdited), never to changes made from code.
    if (const auto* list = dynamic_cast<const ComboBox*>(&control)) {
        auto* combo = static_cast<QComboBox*>(widget);
        const QSignalBlocker block(combo);
        SyncEntries(*combo, list->Entries());
        if (combo->currentIndex() != list->GetCurSel()) {
            combo->setCurrentIndex(list->GetCurSel());
        }
    } else if (const auto* box = dynamic_cast<const CheckBox*>(&control)) {
        auto* button = static_cast<QAbstractButton*>(widget);
        const QSignalBlocker block(button);
        button->setChecked(box->GetCheck());
    } else if (const auto* field = dynamic_cast<const EditField*>(&control)) {
        auto* line = static_cast<QLineEdit*>(widget);
        // Text the person is typing is already the model's: leave the cursor where it is.
        if (ToBytes(line->text()) != field->GetWindowText()) {
            const QSignalBlocker block(line);
            line->setText(ToQString(field->GetWindowText()));
        }
    } else if (const auto* bar = dynamic_cast<const ProgressBar*>(&control)) {
        auto* progress = static_cast<QProgressBar*>(widget);
        const int lower = std::min(bar->Lower(), bar->Upper());
        // Equal bounds would turn Qt's bar into a busy indicator; the form means an empty bar.
        const int upper = std::max(std::max(bar->Lower(), bar->Upper()), lower + 1);
        progress->setRange(lower, upper);
        progress->setValue(bar->GetPos());
    }
    widget->setEnabled(control.IsEnabled());
    widget->setHidden(!control.IsVisible());
}

void TarvexDialog::Act(const Control& control, const std::function<void()>& action) {
    if (running_.count(&control) != 0) {
        return;
    }
    running_.insert(&control);
    struct Done {
        std::unordered_set<const Control*>& set;
        const Control* control;
        ~Done() { set.erase(control); }
    } done{running_, &control};
    action();
}

void TarvexDialog::InitDialog() {
    if (initialised_) {
        return;
    }
    initialised_ = true;
    form_.OnInitDialog();
    form_.ForEachControl([this](Control& control) { Refresh(control); });
    ShowPortStatus();
    if (QWidget* download = WidgetFor(form_.m_btnDownload)) {
        download->setFocus(Qt::OtherFocusReason);
    }
}

void TarvexDialog::ShowPortStatus() {
    // The form keeps its rule (the first entry stands in for a missing saved port); the line
    // says so.
    status_->ShowPorts(form_.Environment().probe, form_.m_settings.m_strComPort,
                       form_.m_cmbComPort.GetWindowText());
}

void TarvexDialog::reject() {
    form_.OnCancel();
}

void TarvexDialog::closeEvent(QCloseEvent* event) {
    if (form_.IsEnded()) {
        event->accept();
        return;
    }
    // The close box asks a running transfer to stop; only Close ends the dialog.
    form_.OnCancel();
    event->ignore();
}

void TarvexDialog::showEvent(QShowEvent* event) {
    InitDialog();
    QDialog::showEvent(event);
}

}  // namespace tarvex::qt

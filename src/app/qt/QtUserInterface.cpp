#include "app/qt/QtUserInterface.h"

#include <QCoreApplication>
#include <QFileDialog>

#include "app/qt/AppIcon.h"
#include "app/qt/TextCodec.h"

namespace tarvex::qt {

QMessageBox::Icon IconFor(MessageKind kind) {
    switch (kind) {
        case MessageKind::ErrorBox:
            return QMessageBox::Critical;
        case MessageKind::Notice:
        case MessageKind::PlainBox:
            return QMessageBox::NoIcon;
    }
    return QMessageBox::NoIcon;
}

void QtUserInterface::ShowMessage(MessageKind kind, std::string_view caption,
                                  std::string_view text) {
    QMessageBox box(IconFor(kind), ToQString(caption), ToQString(text), QMessageBox::Ok,
                    owner_.data());
    box.setTextFormat(Qt::PlainText);
    box.setDefaultButton(QMessageBox::Ok);
    box.setEscapeButton(QMessageBox::Ok);
    box.exec();
}

bool QtUserInterface::AskYesNo(std::string_view caption, std::string_view text, bool defaultYes) {
    // QMessageBox::question's box, with the text shown as plain text.
    QMessageBox box(QMessageBox::Question, ToQString(caption), ToQString(text),
                    QMessageBox::Yes | QMessageBox::No, owner_.data());
    box.setTextFormat(Qt::PlainText);
    box.setDefaultButton(defaultYes ? QMessageBox::Yes : QMessageBox::No);
    box.setEscapeButton(QMessageBox::No);
    return box.exec() == QMessageBox::Yes;
}

std::optional<std::string> QtUserInterface::AskOpenFile(std::string_view filter,
                                                        std::string_view initialDir) {
    // getOpenFileName lets the user pick only a file that exists.
    const QString chosen = QFileDialog::getOpenFileName(
        owner_.data(), QStringLiteral("Open"), ToQString(initialDir), QtFileFilter(filter));
    if (chosen.isEmpty()) {
        return std::nullopt;
    }
    return ToBytes(chosen);
}

void QtUserInterface::PumpEvents() {
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

void QtUserInterface::Idle() {
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

void QtUserInterface::ShowAbout() {
    QMessageBox box(owner_.data());
    box.setWindowTitle(QStringLiteral("About ") + ToQString(kAppName));
    box.setIconPixmap(AppIconPixmap(64));
    box.setTextFormat(Qt::PlainText);
    box.setText(ToQString(kAboutText));
    box.setInformativeText(
        QStringLiteral("Loads operator panels over a serial line.\nBuilt with Qt %1.")
            .arg(QString::fromLatin1(qVersion())));
    box.setStandardButtons(QMessageBox::Ok);
    box.exec();
}

}  // namespace tarvex::qt

// The GUI tests run on Qt's offscreen platform unless told otherwise, so that they need no
// display; one QApplication serves every test.
#include <gtest/gtest.h>

#include <QApplication>
#include <QString>
#include <cstdlib>

namespace {

// The offscreen platform says at every window what it cannot do (raise, grab the keyboard);
// that is expected here and would only bury the test output.
void QuietPlatformNotes(QtMsgType type, const QMessageLogContext& context, const QString& text) {
    if (type == QtWarningMsg && text.startsWith(QStringLiteral("This plugin does not support"))) {
        return;
    }
    qt_message_output(type, context, text);
}

}  // namespace

int main(int argc, char** argv) {
    if (std::getenv("QT_QPA_PLATFORM") == nullptr) {
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    }
    ::testing::InitGoogleTest(&argc, argv);
    qInstallMessageHandler(QuietPlatformNotes);
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}

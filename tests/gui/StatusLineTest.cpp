// The dialog's status line after a probe of the ports: a port that is present but cannot be
// used is named with the reason, and a missing saved port is reported while the form keeps its
// rule (the first entry of the list).
#include <gtest/gtest.h>

#include <QComboBox>
#include <QLabel>
#include <fstream>

#include "GuiSupport.h"
#include "serial/SerialPort.h"
#include "support/PtyPair.h"
#include "support/RecordingUi.h"

namespace tarvex::test {
namespace {

class StatusLineTest : public DialogFixture {
  protected:
    SampleWorkspace sample;
    CurrentDirectory cwd{sample.path()};
};

TEST_F(StatusLineTest, SaysWhichPortsCannotBeUsedAndThatTheSavedOneIsMissing) {
    PtyPair usable;
    PtyPair busy;
    RecordingUi ui;
    CSerialPort holder(ui);
    ASSERT_TRUE(holder.Open(busy.slavePath()));
    {
        std::ofstream settings(sample / "dnld.sv");
        settings << "COM PORT:/dev/ttyUSB7\n[EOF]";
    }
    DialogHarness& h = Show(sample.Environment({usable.slavePath(), busy.slavePath()}));
    // The form's rule stands: the first entry, and the busy port is not in the list.
    EXPECT_EQ(EntriesOf(h.widget<QComboBox>(h.form().m_cmbComPort)),
              QStringList({QString::fromStdString(usable.slavePath())}));
    const std::string status = h.dialog().StatusLabel()->text().toStdString();
    EXPECT_NE(status.find("The saved port /dev/ttyUSB7 is missing; the list shows " +
                          usable.slavePath() + " instead."),
              std::string::npos)
        << status;
    EXPECT_NE(status.find(busy.slavePath() + " is not usable: busy, held by"), std::string::npos)
        << status;

    // Freed, and probed again when the list opens: the line follows.
    holder.Close();
    auto* ports = h.widget<QComboBox>(h.form().m_cmbComPort);
    ports->showPopup();
    ports->hidePopup();
    EXPECT_EQ(EntriesOf(ports).size(), 2);
    const std::string after = h.dialog().StatusLabel()->text().toStdString();
    EXPECT_EQ(after.find("not usable"), std::string::npos) << after;
    EXPECT_NE(after.find("/dev/ttyUSB7 is missing"), std::string::npos) << after;
}

}  // namespace
}  // namespace tarvex::test

// The board's line for a port, from the line's events as BoardState keeps them: nothing of the
// last unit stays on a port that has moved on, and a line fits the terminal's width.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/cli/output/StatusBoard.h"

namespace tarvex::cli {
namespace {

using namespace production;
using tarvex::DownloadOutcome;

const std::string kPort = "/dev/ttyUSB0";

ProgressEvent HalfWay() {
    ProgressEvent p;
    p.port = kPort;
    p.unitBytesDone = 5100;
    p.unitBytesPlanned = 10000;
    p.unitRate = 11.0 * 1024;
    return p;
}

ResultEvent Result(DownloadOutcome outcome, int exitStatus) {
    ResultEvent r;
    r.port = kPort;
    r.outcome = outcome;
    r.exitStatus = exitStatus;
    return r;
}

PortStateEvent State(const std::string& state) {
    PortStateEvent s;
    s.port = kPort;
    s.state = state;
    return s;
}

TEST(StatusBoard, ALineShowsOnlyWhatHoldsForThePortNow) {
    struct Case {
        const char* name;
        std::vector<LineEvent> events;
        std::string line;
    };
    StartEvent start;
    start.port = kPort;
    const Case cases[] = {
        {"running", {start, HalfWay()}, " 51%    11.0 KiB/s  downloading  (passed 0, failed 0)"},
        {"passed: all of it, no speed",
         {start, HalfWay(), Result(DownloadOutcome::Complete, 0)},
         "100%                passed  (passed 1, failed 0)"},
        {"failed: where it stopped, no speed",
         {start, HalfWay(), Result(DownloadOutcome::PanelCode, 12)},
         " 51%                failed  (passed 0, failed 1)"},
        {"waiting for the next panel after a pass",
         {start, HalfWay(), Result(DownloadOutcome::Complete, 0), State("waiting for a panel")},
         "                    waiting for a panel  (passed 1, failed 0)"},
        {"waiting after a failure",
         {start, HalfWay(), Result(DownloadOutcome::Failed, 1),
          State("press Enter for the next panel")},
         "                    press Enter for the next panel  (passed 0, failed 1)"},
        {"a cancel is neither passed nor failed",
         {start, HalfWay(), Result(DownloadOutcome::Cancelled, 6)},
         "                    cancelled  (passed 0, failed 0, cancelled 1)"},
    };
    for (const Case& c : cases) {
        BoardState board;
        for (const LineEvent& e : c.events) {
            board.OnEvent(e);
        }
        EXPECT_EQ(StatusBoard::Line(kPort, board.Status(kPort), true), kPort + "  " + c.line)
            << c.name;
    }
}

TEST(StatusBoard, ALongPortNameGivesWayKeepingItsEnd) {
    const std::string byId = "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0";
    PortStatus waiting;
    waiting.state = "waiting for a panel";
    for (const std::size_t columns : {79u, 60u, 40u, 20u}) {
        const std::string line = StatusBoard::Line(byId, waiting, true, columns);
        EXPECT_LE(line.size(), columns) << line;
        if (columns >= 40) {
            // The end of the name is what tells two adapters of one make apart.
            EXPECT_NE(line.find("A50285BI-if00-port0"), std::string::npos) << line;
            EXPECT_EQ(line.rfind("...", 0), 0u) << line;
        }
    }
    // A name that fits stays whole, and no width means no limit.
    EXPECT_EQ(StatusBoard::Line("COM3", waiting, false, 79).rfind("COM3  ", 0), 0u);
    EXPECT_EQ(StatusBoard::Line(byId, waiting, true).rfind(byId, 0), 0u);
}

}  // namespace
}  // namespace tarvex::cli

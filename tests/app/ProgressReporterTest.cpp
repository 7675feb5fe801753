// The download command's progress report, driven by hand-made frames and a hand-set clock.
#include "app/cli/ProgressReporter.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

namespace tarvex::cli {
namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;

// A data frame carrying packet `number` of 256 bytes; only its length and its sameness matter.
Bytes DataFrame(std::uint8_t number, std::uint8_t fill = 0xAA) {
    Bytes frame(6 + 256, fill);
    frame[0] = 1;
    frame[1] = 0x50;
    frame[2] = number;
    frame[3] = 0;
    return frame;
}
const Bytes kCommand = {1, 0x51, 0, 0, 0x12, 0x34};

class ProgressReporterTest : public ::testing::Test {
  protected:
    ProgressReporter Make(ProgressReporter::Style style) {
        return ProgressReporter(out, style, [this] { return now; });
    }
    std::vector<std::string> Lines() const {
        std::vector<std::string> lines;
        std::istringstream in(out.str());
        for (std::string line; std::getline(in, line);) {
            lines.push_back(line);
        }
        return lines;
    }

    std::ostringstream out;
    ProgressReporter::Clock::time_point now{};
};

TEST_F(ProgressReporterTest, CountsEachPacketOnceAndReportsEveryTenth) {
    ProgressReporter p = Make(ProgressReporter::Style::Lines);
    p.SetPlannedBytes(4 * 256);
    p.OnFrame(true, kCommand);
    p.OnFrame(false, kCommand);  // replies carry no image bytes
    now += 1s;
    p.OnFrame(true, DataFrame(0));
    p.OnFrame(true, DataFrame(0));  // resent: the same packet
    EXPECT_EQ(p.BytesSent(), 256U);
    now += 1s;
    p.OnFrame(true, DataFrame(1));
    // A recipe that looks like the previous one is new once another frame came between.
    p.OnFrame(true, kCommand);
    now += 2s;
    p.OnFrame(true, DataFrame(1));
    EXPECT_EQ(p.BytesSent(), 768U);
    p.Finish();

    EXPECT_EQ(Lines(), (std::vector<std::string>{
                           "Sent 0% (0 B of 1.0 KiB), 0 B/s",
                           "Sent 25% (256 B of 1.0 KiB), 256 B/s, 0:03 left",
                           "Sent 50% (512 B of 1.0 KiB), 256 B/s, 0:02 left",
                           "Sent 75% (768 B of 1.0 KiB), 192 B/s, 0:01 left",
                           "Sent 768 B in 4.0 s (192 B/s)",
                       }));
}

TEST_F(ProgressReporterTest, BarRedrawsInPlaceAndGivesWayToMessages) {
    ProgressReporter p = Make(ProgressReporter::Style::Bar);
    p.SetPlannedBytes(2 * 256);
    p.OnFrame(true, kCommand);
    now += 10ms;
    p.OnFrame(true, DataFrame(0));  // too soon for a redraw
    now += 10ms;
    p.OnFrame(true, DataFrame(1));
    EXPECT_EQ(out.str(), "\r[------------------------------]   0%  0 B of 512 B  0 B/s\x1b[K")
        << out.str();
    out.str("");
    p.BreakLine();  // a message follows: the bar shows where it stands and ends its line
    EXPECT_EQ(out.str(),
              "\r[##############################] 100%  512 B of 512 B  25.0 KiB/s\x1b[K\n");
    out.str("");
    p.OnBar(0, 10, 0);  // the form resets its bar at the end: no new bar line for that
    p.Finish();
    EXPECT_EQ(out.str(), "");
}

TEST_F(ProgressReporterTest, WithoutAPlanTheFormsBarGivesThePercentage) {
    ProgressReporter p = Make(ProgressReporter::Style::Lines);
    p.OnFrame(true, kCommand);
    p.OnBar(0, 4, 1);
    EXPECT_EQ(Lines().back(), "Sent 25% (0 B), 0 B/s");
}

}  // namespace
}  // namespace tarvex::cli

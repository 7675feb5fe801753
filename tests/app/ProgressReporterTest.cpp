// The download command's progress report, driven through the transfer's progress sink with a
// hand-set clock and terminal width.
#include "app/cli/output/ProgressReporter.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

namespace tarvex::cli {
namespace {

using namespace std::chrono_literals;

TransferItem Item(TransferItemKind kind, std::uint64_t bytes, std::string_view name = {}) {
    TransferItem item;
    item.kind = kind;
    item.name = name;
    item.bytes = bytes;
    item.packetSize = 256;
    item.packets = static_cast<std::uint32_t>((bytes + 255) / 256);
    return item;
}

class ProgressReporterTest : public ::testing::Test {
  protected:
    ProgressReporter Make(ProgressReporter::Style style) {
        return ProgressReporter(
            out, style, [this] { return now; }, [this] { return width; });
    }
    std::vector<std::string> Lines() const {
        std::vector<std::string> lines;
        std::istringstream in(out.str());
        for (std::string line; std::getline(in, line);) {
            lines.push_back(line);
        }
        return lines;
    }

    // Opens the bar's line again (the next redraw) and ends it.
    void lineOpen(ProgressReporter& p) {
        now += 1s;
        p.OnPhase(TransferPhase::Data);
        p.OnPacketSent(2, 512);
        out.str("");
        p.BreakLine();
    }

    std::ostringstream out;
    ProgressReporter::Clock::time_point now{};
    int width = 80;
};

TEST_F(ProgressReporterTest, CountsItemsAndReportsEveryTenth) {
    ProgressReporter p = Make(ProgressReporter::Style::Lines);
    p.SetPlannedBytes(4 * 256);
    p.OnItemStarted(Item(TransferItemKind::Recipe, 512, "Alpha"));
    p.OnPhase(TransferPhase::Data);
    now += 1s;
    p.OnPacketSent(1, 256);
    p.OnResend(TransferPhase::Data, 2);  // a resend carries no new bytes
    EXPECT_EQ(p.BytesSent(), 256U);
    now += 1s;
    p.OnPacketSent(2, 512);
    // The next item counts from where the last one ended.
    p.OnItemStarted(Item(TransferItemKind::Application, 512));
    now += 2s;
    p.OnPacketSent(1, 256);
    EXPECT_EQ(p.BytesSent(), 768U);
    p.Finish();

    EXPECT_EQ(Lines(), (std::vector<std::string>{
                           "Sent 0% (0 B of 1.0 KiB), 0 B/s, sending Recipe \"Alpha\"",
                           "Sent 25% (256 B of 1.0 KiB), 256 B/s, 0:03 left, sending Recipe "
                           "\"Alpha\"",
                           "Sent 50% (512 B of 1.0 KiB), 256 B/s, 0:02 left, sending Recipe "
                           "\"Alpha\"",
                           "Sent 75% (768 B of 1.0 KiB), 192 B/s, 0:01 left, sending Application",
                           "Sent 768 B in 4.0 s (192 B/s)",
                       }));
}

TEST_F(ProgressReporterTest, ErasePausesDoNotCountIntoTheSpeed) {
    ProgressReporter p = Make(ProgressReporter::Style::Lines);
    p.SetPlannedBytes(2048);
    p.OnItemStarted(Item(TransferItemKind::Bitmap, 2048));
    p.OnPhase(TransferPhase::Describing);
    p.OnPhase(TransferPhase::Erasing);
    now += 10s;  // the panel erases its flash
    p.OnDescribeWaitOver();
    p.OnPhase(TransferPhase::Data);
    now += 1s;
    p.OnPacketSent(4, 1024);
    EXPECT_EQ(Lines().back(),
              "Sent 50% (1.0 KiB of 2.0 KiB), 1.0 KiB/s, 0:01 left, sending Bitmap");
}

TEST_F(ProgressReporterTest, BarNamesTheItemFitsTheWidthAndGivesWayToMessages) {
    ProgressReporter p = Make(ProgressReporter::Style::Bar);
    p.SetPlannedBytes(2 * 256);
    p.OnItemStarted(Item(TransferItemKind::Application, 512));
    now += 10ms;
    p.OnPacketSent(1, 256);  // too soon for a redraw
    now += 10ms;
    p.OnPacketSent(2, 512);
    EXPECT_EQ(out.str(),
              "\rApplication [--------------------------------------]    0%  0 B of 512 B  "
              "0 B/s\x1b[K")
        << out.str();
    out.str("");
    p.BreakLine();  // a message follows: the bar shows where it stands and ends its line
    EXPECT_EQ(out.str(),
              "\rApplication [###############################]  100%  512 B of 512 B  "
              "25.0 KiB/s\x1b[K\n");

    // A narrow terminal (read again at every redraw): the bar shrinks, then the parts at the
    // end give way, then the item's name is shortened; a column always stays free.
    struct Case {
        int columns;
        std::vector<std::string> shown;
        std::vector<std::string> gone;
    };
    for (const Case& c : {Case{60, {"\rApplication [#", "512 B of 512 B", "/s"}, {}},
                          Case{40, {"\rApplication [#", "]  100%"}, {"/s", "of 512 B"}},
                          Case{24, {"\rA... [##########]  100%"}, {"512 B"}}}) {
        SCOPED_TRACE(c.columns);
        width = c.columns;
        out.str("");
        p.OnPacketSent(2, 512);  // within the redraw interval: nothing
        lineOpen(p);
        const std::string text = out.str();
        ASSERT_GE(text.size(), 5U);
        EXPECT_LT(text.size() - 5, static_cast<std::size_t>(c.columns)) << text;  // \r \x1b[K \n
        for (const std::string& part : c.shown) {
            EXPECT_NE(text.find(part), std::string::npos) << text;
        }
        for (const std::string& part : c.gone) {
            EXPECT_EQ(text.find(part), std::string::npos) << text;
        }
    }
}

}  // namespace
}  // namespace tarvex::cli

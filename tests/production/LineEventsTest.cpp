// The production line's one stream of events, driven through the transfer's progress sink as
// a download drives it, and the sinks that consume it without a terminal: the JSON Lines, the
// board's state and the report.
#include "production/LineEvents.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <vector>

#include "production/BoardState.h"
#include "production/DownloadReport.h"
#include "production/JsonProgress.h"
#include "production/UnitEvents.h"
#include "support/TempDir.h"

namespace tarvex::production {
namespace {

using nlohmann::json;
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

// Keeps every event, and the order in which the sinks saw the result.
struct Recorder final : IEventSink, IRecordSink {
    void OnEvent(const LineEvent& event) override {
        events.push_back(event);
        order.push_back("event");
    }
    bool Keep(const ResultEvent&, std::string& failure) override {
        order.push_back("record");
        failure = fail;
        return fail.empty();
    }
    std::vector<LineEvent> events;
    std::vector<std::string> order;
    std::string fail;
};

TEST(LineEvents, TheTransferBecomesItemAndProgressEventsWithTheUnitsTotals) {
    EventStream stream;
    Recorder seen;
    BoardState board;
    stream.Add(&seen);
    stream.Add(&board);
    UnitEvents unit(stream, "/dev/ttyUSB0");
    unit.SetPlanner([] { return 1024; });

    unit.OnItemStarted(Item(TransferItemKind::Recipe, 512, "Alpha"));
    unit.OnPacketSent(1, 256);
    unit.OnResend(TransferPhase::Data, 2);
    unit.OnPacketSent(2, 512);
    unit.OnItemEnded(0);
    unit.OnItemStarted(Item(TransferItemKind::Application, 512));
    unit.OnPacketSent(1, 256);
    unit.OnItemEnded(1);

    ASSERT_EQ(seen.events.size(), 5U);
    const auto& item = std::get<ItemEvent>(seen.events[0]);
    EXPECT_EQ(item.port, "/dev/ttyUSB0");
    EXPECT_EQ(item.item, "Recipe");
    EXPECT_EQ(item.name, "Alpha");
    EXPECT_EQ(item.packets, 2U);
    const auto& last = std::get<ProgressEvent>(seen.events[4]);
    EXPECT_EQ(last.item, "Application");
    EXPECT_EQ(last.bytesDone, 256U);      // of the item
    EXPECT_EQ(last.unitBytesDone, 768U);  // of the download
    EXPECT_EQ(last.unitBytesPlanned, 1024U);
    EXPECT_EQ(unit.Resends(), 1U);
    ASSERT_EQ(unit.Items().size(), 2U);
    EXPECT_EQ(unit.Items()[0].result, 0);
    EXPECT_EQ(unit.Items()[1].result, 1);

    const PortStatus status = board.Status("/dev/ttyUSB0");
    EXPECT_EQ(status.item, "Application");
    EXPECT_EQ(status.bytesDone, 768U);
    EXPECT_EQ(status.bytesPlanned, 1024U);
}

TEST(LineEvents, TheBoardFollowsEachPortsStateAndCounts) {
    BoardState board;
    const WallTime t{};
    struct Step {
        LineEvent event;
        std::string state;
        int passed;
        int failed;
    };
    ResultEvent pass;
    pass.port = "A";
    ResultEvent fail = pass;
    fail.exitStatus = 12;
    const Step steps[] = {
        {PortStateEvent{"A", t, "waiting for a panel"}, "waiting for a panel", 0, 0},
        {PortAppearedEvent{"A", t}, "waiting for a panel", 0, 0},
        {StartEvent{"A", t, "H1", "BL1.2-1", "FW1.5", "H1.bin", {}}, "downloading", 0, 0},
        {pass, "passed", 1, 0},
        {PortStateEvent{"A", t, "passed: remove the panel"}, "passed: remove the panel", 1, 0},
        {PortLeftEvent{"A", t}, "passed: remove the panel", 1, 0},
        {StartEvent{"A", t, "H1", "BL1.2-1", "FW1.5", "H1.bin", {}}, "downloading", 1, 0},
        {fail, "failed", 1, 1},
    };
    for (const Step& step : steps) {
        board.OnEvent(step.event);
        const PortStatus s = board.Status("A");
        EXPECT_EQ(s.state, step.state);
        EXPECT_EQ(s.passed, step.passed) << step.state;
        EXPECT_EQ(s.failed, step.failed) << step.state;
    }
    EXPECT_EQ(board.Status("B").state, "waiting");  // a port not heard of yet
}

TEST(LineEvents, JsonLinesCarryTheDocumentedFieldsAndThinOutTheProgress) {
    JsonLines lines(-1);
    JsonProgress sink(lines);
    const WallTime t{std::chrono::milliseconds(1'765'000'000'123)};

    const json start =
        sink.Object(StartEvent{"P", t, "H1", "BL1.2-1", "FW1.5", "H1.bin", {"SN-1", 2, 3}});
    EXPECT_EQ(start["event"], "start");
    EXPECT_EQ(start["port"], "P");
    EXPECT_EQ(start["time"], "2025-12-06T05:46:40.123Z");
    EXPECT_EQ(start["container"], "H1.bin");
    EXPECT_EQ(start["schema"], kProgressSchema);
    EXPECT_EQ(start["unit_id"], "SN-1");
    EXPECT_EQ(start["attempt"], 2);
    EXPECT_EQ(start["attempts"], 3);

    const json item = sink.Object(ItemEvent{"P", t, "Application", "", 512, 2});
    EXPECT_TRUE(item["name"].is_null());
    ProgressEvent progress{"P", t, "Application", "", 1, 2, 256, 512, 1000.0, 256, 512, 1000.0};
    EXPECT_EQ(sink.Object(progress)["bytes_done"], 256);
    EXPECT_TRUE(sink.Object(progress).is_null()) << "within the interval";
    progress.packetsDone = 2;  // an item's last packet is always told
    EXPECT_EQ(sink.Object(progress)["event"], "progress");
    EXPECT_FALSE(sink.Object(ItemEvent{"Q", t, "Font", "", 10, 1}).is_null());
    EXPECT_FALSE(sink.Object(progress).is_null()) << "after a new item the interval restarts";

    EXPECT_EQ(sink.Object(MessageEvent{"P", t, MessageKind::ErrorBox, "Error", "x"})["kind"],
              "error");
    EXPECT_TRUE(sink.Object(MessageEvent{"P", t, std::nullopt, "", "a hint"}).is_null());
    EXPECT_TRUE(sink.Object(PortAppearedEvent{"P", t}).is_null());

    ResultEvent result;
    result.port = "P";
    result.outcome = DownloadOutcome::PanelCode;
    result.exitStatus = 12;
    result.panelCode = 2;
    const json end = sink.Object(result);
    EXPECT_EQ(end["outcome"], "panel_code");
    EXPECT_EQ(end["exit_status"], 12);
    EXPECT_EQ(end["panel_code"], 2);
    EXPECT_TRUE(end["unit_id"].is_null()) << "no unit ids on this line";
    EXPECT_EQ(end["attempt"], 1);
}

TEST(LineEvents, TheReportKeepsTheRecordBeforeAnyoneSeesTheResult) {
    test::TempDir dir;
    ReportSink report(dir / "report.jsonl");
    ResultEvent result;
    result.port = "P";
    result.outcome = DownloadOutcome::Complete;
    result.facts.port = "/dev/serial/by-id/usb-panel";
    result.facts.product = "H1";
    result.facts.slaveId = 3;
    result.facts.containerPath = dir / "missing.bin";
    result.facts.items = {{"Recipe", "Alpha", 512, 0}, {"Application", "", 512, -1}};
    std::string failure;
    ASSERT_TRUE(report.Keep(result, failure)) << failure;
    const json record = json::parse(test::ReadFileText(dir / "report.jsonl"));
    EXPECT_EQ(record["port"], "/dev/serial/by-id/usb-panel");
    EXPECT_EQ(record["slave_id"], 3);
    EXPECT_TRUE(record["adapter"].is_null());
    EXPECT_TRUE(record["container"]["sha256"].is_null());
    EXPECT_EQ(record["items"][0]["result"], "done");
    EXPECT_EQ(record["items"][1]["result"], "not ended");
    EXPECT_EQ(record["outcome"], "complete");

    ReportSink nowhere(dir / "no-such-folder/report.jsonl");
    EXPECT_FALSE(nowhere.Keep(result, failure));
    EXPECT_EQ(failure.rfind("tarvex-cli: --report: cannot append to ", 0), 0U) << failure;

    // The stream asks the record sinks first; the other sinks then see the result.
    EventStream stream;
    Recorder seen;
    stream.Add(&seen);
    stream.AddRecordSink(&seen);
    seen.fail = "no room";
    EXPECT_FALSE(stream.Keep(result, failure));
    EXPECT_EQ(failure, "no room");
    stream.Emit(result);
    EXPECT_EQ(seen.order, (std::vector<std::string>{"record", "event"}));
}

}  // namespace
}  // namespace tarvex::production

// The dashboard's model: a port's events turn into the tile the operator reads (its state in
// words, what it loads, why it failed), the line's counts, first-pass yield and median cycle
// time, and the last units; and the feed that hands the changes to the live stream.
#include "production/DashboardModel.h"

#include <gtest/gtest.h>

#include <atomic>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <vector>

#include "production/DashboardFeed.h"
#include "production/UnitIds.h"
#include "support/NamedCases.h"

namespace tarvex::production {
namespace {

using nlohmann::json;
using test::PrintTo;
using namespace std::chrono_literals;

const WallTime kT{std::chrono::milliseconds(1'765'000'000'000)};

StartEvent Start(const std::string& port, UnitTag unit = {}) {
    return StartEvent{port, kT, "H1", "BL1.2-1", "FW1.5", "/ws/project/H1.bin", std::move(unit)};
}

ProgressEvent Progress(const std::string& port, std::uint64_t done, std::uint64_t planned,
                       double rate, std::uint32_t packet = 1) {
    return ProgressEvent{port, kT,      "Application", "",   packet,  4,
                         done, planned, rate,          done, planned, rate};
}

ResultEvent Result(const std::string& port, DownloadOutcome outcome, int status, double seconds,
                   int panelCode = 0, std::string message = {}, std::string hint = {}) {
    ResultEvent r;
    r.port = port;
    r.time = kT;
    r.outcome = outcome;
    r.exitStatus = status;
    r.panelCode = panelCode;
    r.message = std::move(message);
    r.hint = std::move(hint);
    r.seconds = seconds;
    return r;
}

const ResultEvent kPass =
    Result("A", DownloadOutcome::Complete, 0, 10.0, 0, "Tarvex: Download Complete!");
const ResultEvent kSilent =
    Result("A", DownloadOutcome::Failed, 1, 4.0, 0, "Tarvex: Download not successful!",
           "tarvex-cli: no reply from the panel: check the cable and the slave ID");
const ResultEvent kPanelCode =
    Result("A", DownloadOutcome::PanelCode, 12, 2.0, 2, "Tarvex: Password incorrect!");
const ResultEvent kCancel = Result("A", DownloadOutcome::Cancelled, 6, 1.0);

// What one tile reads after the events, in order.
struct TileCase {
    const char* name;
    std::vector<LineEvent> events;
    std::string state;
    std::string label;
    json detail;
    json percent;
    json secondsLeft;
    json outcome;
    json panelCode;
    json hint;
    // The unit on the tile: its id, and its attempt when the line retries.
    json unitId = nullptr;
    json attempt = nullptr;
    json attempts = nullptr;
};

class TileStates : public ::testing::TestWithParam<TileCase> {};

TEST_P(TileStates, TheEventsGiveTheTileTheOperatorReads) {
    const TileCase& c = GetParam();
    DashboardModel model({"A"});
    for (const LineEvent& e : c.events) {
        EXPECT_EQ(model.Apply(e), std::optional<std::string>("A"));
    }
    const json tile = model.TileJson(*model.Find("A"));
    EXPECT_EQ(tile["state"], c.state);
    EXPECT_EQ(tile["label"], c.label);
    EXPECT_EQ(tile["detail"], c.detail);
    EXPECT_EQ(tile["percent"], c.percent);
    EXPECT_EQ(tile["seconds_left"], c.secondsLeft);
    EXPECT_EQ(tile["outcome"], c.outcome);
    EXPECT_EQ(tile["panel_code"], c.panelCode);
    EXPECT_EQ(tile["hint"], c.hint);
    EXPECT_EQ(tile["unit_id"], c.unitId);
    EXPECT_EQ(tile["attempt"], c.attempt);
    EXPECT_EQ(tile["attempts"], c.attempts);
}

INSTANTIATE_TEST_SUITE_P(
    Dashboard, TileStates,
    ::testing::Values(
        TileCase{"NothingYetIsWaiting",
                 {},
                 "waiting",
                 "WAITING",
                 nullptr,
                 nullptr,
                 nullptr,
                 nullptr,
                 nullptr,
                 nullptr},
        TileCase{"AStationPortWaitsForItsPanel",
                 {PortStateEvent{"A", kT, "waiting for a panel"}},
                 "waiting",
                 "WAITING",
                 "waiting for a panel",
                 nullptr,
                 nullptr,
                 nullptr,
                 nullptr,
                 nullptr},
        TileCase{"LoadingShowsPercentAndTimeLeft",
                 {Start("A"), ItemEvent{"A", kT, "Application", "", 1000, 4},
                  Progress("A", 250, 1000, 50.0)},
                 "loading",
                 "LOADING",
                 nullptr,
                 25,
                 15.0,
                 nullptr,
                 nullptr,
                 nullptr},
        TileCase{"LoadingBeforeThePlanIsKnownHasNoPercent",
                 {Start("A"), Progress("A", 250, 0, 50.0)},
                 "loading",
                 "LOADING",
                 nullptr,
                 nullptr,
                 nullptr,
                 nullptr,
                 nullptr,
                 nullptr},
        TileCase{"APassDropsTheProgress",
                 {Start("A"), Progress("A", 1000, 1000, 50.0), kPass},
                 "pass",
                 "PASS",
                 nullptr,
                 nullptr,
                 nullptr,
                 "complete",
                 nullptr,
                 nullptr},
        TileCase{"ASilentPanelFailsWithTheHint",
                 {Start("A"), kSilent},
                 "fail",
                 "FAIL",
                 nullptr,
                 nullptr,
                 nullptr,
                 "failed",
                 nullptr,
                 "tarvex-cli: no reply from the panel: check the cable and the slave ID"},
        TileCase{"APanelCodeFailsWithTheCode",
                 {Start("A"), kPanelCode},
                 "fail",
                 "FAIL",
                 nullptr,
                 nullptr,
                 nullptr,
                 "panel_code",
                 2,
                 nullptr},
        TileCase{"ACancelIsNoFailure",
                 {Start("A"), kCancel},
                 "cancelled",
                 "CANCELLED",
                 nullptr,
                 nullptr,
                 nullptr,
                 "cancelled",
                 nullptr,
                 nullptr},
        TileCase{"RemovingThePanelKeepsTheResultWithALine",
                 {Start("A"), kPass, PortStateEvent{"A", kT, "passed: remove the panel"}},
                 "pass",
                 "PASS",
                 "passed: remove the panel",
                 nullptr,
                 nullptr,
                 "complete",
                 nullptr,
                 nullptr},
        TileCase{"TheNextPanelWaitsAgainAndKeepsTheLastOutcome",
                 {Start("A"), kSilent, PortLeftEvent{"A", kT},
                  PortStateEvent{"A", kT, "waiting for a panel"}},
                 "waiting",
                 "WAITING",
                 "waiting for a panel",
                 nullptr,
                 nullptr,
                 "failed",
                 nullptr,
                 "tarvex-cli: no reply from the panel: check the cable and the slave ID"},
        TileCase{"ANewStartClearsTheLastFailure",
                 {Start("A"), kPanelCode, Start("A"), Progress("A", 500, 1000, 100.0)},
                 "loading",
                 "LOADING",
                 nullptr,
                 50,
                 5.0,
                 nullptr,
                 nullptr,
                 nullptr},
        TileCase{"AUnitWithoutRetriesShowsItsIdButNoAttempt",
                 {Start("A", UnitTag{"SN-7", 1, 1})},
                 "loading",
                 "LOADING",
                 nullptr,
                 nullptr,
                 nullptr,
                 nullptr,
                 nullptr,
                 nullptr,
                 "SN-7"},
        TileCase{
            "ARetriedUnitShowsItsAttemptUntilTheResult",
            {Start("A", UnitTag{"SN-7", 1, 3}), kSilent, Start("A", UnitTag{"SN-7", 2, 3}), kPass},
            "pass",
            "PASS",
            nullptr,
            nullptr,
            nullptr,
            "complete",
            nullptr,
            nullptr,
            "SN-7",
            2,
            3},
        TileCase{"TheNextUnitsStartReplacesTheLastOnesId",
                 {Start("A", UnitTag{"SN-7", 3, 3}), kPass, Start("A", UnitTag{"", 1, 3})},
                 "loading",
                 "LOADING",
                 nullptr,
                 nullptr,
                 nullptr,
                 nullptr,
                 nullptr,
                 nullptr,
                 nullptr,
                 1,
                 3},
        TileCase{"AFixedPortWaitsForEnter",
                 {Start("A"), kPass, PortStateEvent{"A", kT, "press Enter for the next panel"}},
                 "waiting",
                 "WAITING",
                 "press Enter for the next panel",
                 nullptr,
                 nullptr,
                 "complete",
                 nullptr,
                 nullptr}),
    test::CaseName());

// The line's counts after a run of results on several ports.
struct CountCase {
    const char* name;
    std::vector<ResultEvent> results;
    int passed;
    int failed;
    json yield;
    json median;
    std::size_t units;
};

class LineCounts : public ::testing::TestWithParam<CountCase> {};

ResultEvent On(const std::string& port, ResultEvent r) {
    r.port = port;
    return r;
}

TEST_P(LineCounts, ResultsGiveCountsYieldAndMedian) {
    const CountCase& c = GetParam();
    DashboardModel model({"A", "B", "C"});
    for (const ResultEvent& r : c.results) {
        model.Apply(Start(r.port));
        model.Apply(r);
    }
    const json counts = model.HeaderJson()["counts"];
    EXPECT_EQ(counts["passed"], c.passed);
    EXPECT_EQ(counts["failed"], c.failed);
    EXPECT_EQ(counts["first_pass_yield"], c.yield);
    EXPECT_EQ(counts["median_seconds"], c.median);
    EXPECT_EQ(model.UnitsJson().size(), c.units);
}

INSTANTIATE_TEST_SUITE_P(
    Dashboard, LineCounts,
    ::testing::Values(CountCase{"NoUnitYet", {}, 0, 0, nullptr, nullptr, 0},
                      CountCase{"ThreePassOneFails",
                                {On("A", kPass), On("B", kSilent), On("C", kPass), On("A", kPass)},
                                3,
                                1,
                                0.75,
                                10.0,
                                4},
                      CountCase{"AnOddCountTakesTheMiddle",
                                {On("A", kPass), On("B", kPanelCode), On("C", kSilent)},
                                1,
                                2,
                                1.0 / 3,
                                4.0,
                                3},
                      CountCase{"ACancelCountsNeitherWayButIsListed",
                                {On("A", kPass), On("B", kCancel)},
                                1,
                                0,
                                1.0,
                                10.0,
                                2}),
    test::CaseName());

TEST(DashboardModel, ARetriedUnitCountsOnceByItsLastAttemptAndListsEach) {
    DashboardModel model({"A", "B"});
    ResultEvent retried = kSilent;
    retried.unit = UnitTag{"SN-1", 1, 3};
    retried.again = true;
    ResultEvent second = kPass;
    second.unit = UnitTag{"SN-1", 2, 3};
    model.Apply(Start("A", retried.unit));
    model.Apply(retried);
    model.Apply(Start("A", second.unit));
    model.Apply(second);
    ResultEvent other = On("B", kPass);
    other.unit = UnitTag{"SN-2", 1, 3};
    model.Apply(Start("B", other.unit));
    model.Apply(other);

    const json counts = model.HeaderJson()["counts"];
    EXPECT_EQ(counts["passed"], 2);
    EXPECT_EQ(counts["failed"], 0);
    EXPECT_EQ(counts["first_pass_yield"], 0.5);
    EXPECT_EQ(counts["median_seconds"], 10.0);
    EXPECT_EQ(model.TileJson(*model.Find("A"))["failed"], 0);
    const json units = model.UnitsJson();
    ASSERT_EQ(units.size(), 3U);
    EXPECT_EQ(units[1]["unit_id"], "SN-1");
    EXPECT_EQ(units[1]["attempt"], 2);
    EXPECT_EQ(units[2]["unit_id"], "SN-1");
    EXPECT_EQ(units[2]["attempt"], 1);
    EXPECT_EQ(units[2]["passed"], false);
}

TEST(DashboardModel, TilesKeepThePortOrderTheirNamesAndTheAdaptersSerial) {
    DashboardModel model({"/dev/ttyUSB1", "/dev/ttyUSB0"}, {{"/dev/ttyUSB0", "Fixture 2"}});
    ResultEvent r = On("/dev/ttyUSB0", kPass);
    r.facts.adapter = PortInfo{};
    r.facts.adapter->serialNumber = "A10K3";
    model.Apply(r);
    const json state = model.StateJson();
    ASSERT_EQ(state["ports"].size(), 2U);
    EXPECT_EQ(state["ports"][0]["name"], "/dev/ttyUSB1");
    EXPECT_EQ(state["ports"][1]["name"], "Fixture 2");
    EXPECT_EQ(state["ports"][1]["serial_number"], "A10K3");
    EXPECT_EQ(state["schema"], 1);
    EXPECT_EQ(model.Apply(Start("/dev/ttyS9")), std::nullopt) << "not a port of the line";
}

TEST(DashboardModel, TheLastUnitsAreBoundedAndNewestFirst) {
    DashboardModel model({"A"});
    for (std::size_t i = 0; i < DashboardModel::kLastUnits + 5; ++i) {
        ResultEvent r = kPass;
        r.seconds = static_cast<double>(i);
        model.Apply(r);
    }
    const json units = model.UnitsJson();
    ASSERT_EQ(units.size(), DashboardModel::kLastUnits);
    EXPECT_EQ(units[0]["seconds"], static_cast<double>(DashboardModel::kLastUnits + 4));
    EXPECT_EQ(units[0]["time"], "2025-12-06T05:46:40.000Z");
}

TEST(DashboardModel, OnlyAFailedTileIsAcknowledgedAndAnIdIsTakenOnce) {
    DashboardModel model({"A"});
    EXPECT_FALSE(model.Acknowledge("A"));
    model.Apply(kSilent);
    EXPECT_FALSE(model.Acknowledge("B"));
    EXPECT_TRUE(model.Acknowledge("A"));
    EXPECT_EQ(model.TileJson(*model.Find("A"))["acknowledged"], true);
    model.Apply(Start("A"));
    EXPECT_EQ(model.TileJson(*model.Find("A"))["acknowledged"], false);

    EXPECT_FALSE(model.SetNextUnitId("B", "SN1"));
    EXPECT_TRUE(model.SetNextUnitId("A", "SN1"));
    EXPECT_EQ(model.TileJson(*model.Find("A"))["next_unit_id"], "SN1");
    EXPECT_EQ(model.TakeNextUnitId("A"), "SN1");
    EXPECT_EQ(model.TakeNextUnitId("A"), std::nullopt);
}

// Frames by their event name, in order.
std::vector<std::string> Names(const std::vector<std::string>& frames) {
    std::vector<std::string> names;
    for (const std::string& f : frames) {
        for (std::size_t at = 0; (at = f.find("event: ", at)) != std::string::npos; ++at) {
            names.push_back(f.substr(at + 7, f.find('\n', at) - at - 7));
        }
    }
    return names;
}

TEST(DashboardFeed, ChangesGoOutOnceAsFramesAndTheServerIsWokenOnce) {
    DashboardModel model({"A", "B"});
    DashboardFeed feed(model);
    int wakes = 0;
    feed.SetWake([&wakes] { ++wakes; });

    feed.OnEvent(Start("A"));
    feed.OnEvent(Progress("A", 100, 1000, 10.0));
    feed.OnEvent(Progress("A", 200, 1000, 10.0));  // within the interval: the model only
    feed.OnEvent(PortStateEvent{"B", kT, "waiting for a panel"});
    EXPECT_EQ(wakes, 1);
    const std::vector<std::string> frames = feed.Drain();
    EXPECT_EQ(Names(frames),
              (std::vector<std::string>{"line", "line", "line", "tile", "tile", "header"}));
    EXPECT_NE(frames[2].find("\"event\":\"port_state\""), std::string::npos) << frames[2];
    EXPECT_NE(frames[3].find("\"percent\":20"), std::string::npos) << frames[3];
    EXPECT_TRUE(feed.Drain().empty());

    feed.OnEvent(Result("A", DownloadOutcome::Complete, 0, 3.0));
    EXPECT_EQ(wakes, 2);
    EXPECT_EQ(Names(feed.Drain()), (std::vector<std::string>{"line", "tile", "header", "unit"}));
}

TEST(DashboardFeed, APortWaitsForTheIdTypedIntoItsTileOrForTheEnd) {
    DashboardModel model({"A", "B"});
    DashboardFeed feed(model);
    std::atomic<bool> stop{false};
    std::optional<std::string> gotA;
    std::optional<std::string> gotB{"none yet"};
    std::thread a([&] {
        gotA = feed.WaitForUnitId(
            "A", [&] { return stop.load(); }, 1ms);
    });
    std::thread b([&] {
        gotB = feed.WaitForUnitId(
            "B", [&] { return stop.load(); }, 1ms);
    });
    const auto asks = [&feed](const char* port) {
        return feed.With([port](DashboardModel& m) { return m.Find(port)->wantsUnitId; });
    };
    // Both ports ask at once: neither waits behind the other.
    while (!asks("A") || !asks("B")) {
        std::this_thread::sleep_for(1ms);
    }
    EXPECT_EQ(feed.With([](DashboardModel& m) { return m.TileJson(*m.Find("A"))["state"]; }),
              "waiting");
    feed.With([](DashboardModel& m) { return m.SetNextUnitId("A", "SN-7"); });
    a.join();
    EXPECT_EQ(gotA, "SN-7");
    EXPECT_FALSE(asks("A")) << "the field goes once the id is taken";
    stop = true;
    b.join();
    EXPECT_EQ(gotB, std::nullopt);
    EXPECT_FALSE(asks("B")) << "and when the wait ends without one";
    EXPECT_EQ(feed.With([](DashboardModel& m) { return m.TakeNextUnitId("A"); }), std::nullopt)
        << "taken once";
}

TEST(DashboardUnitIds, PortsWaitSideBySideAndARepeatIsRefusedOnItsTile) {
    DashboardModel model({"A", "B"});
    DashboardFeed feed(model);
    DashboardUnitIds source(feed);
    EXPECT_TRUE(model.Header().unitIdsFromDashboard);
    UnitIds ids(source, false);
    ids.RememberPassed({"SN-1"});
    std::atomic<bool> stop{false};
    std::optional<std::string> gotA;
    std::optional<std::string> gotB;
    std::vector<std::string> told;
    std::thread a([&] {
        gotA = ids.Next(
            "A", [&] { return stop.load(); }, [&told](const std::string& t) { told.push_back(t); });
    });
    std::thread b([&] { gotB = ids.Next("B", [&] { return stop.load(); }, {}); });
    const auto tile = [&feed](const char* port) {
        return feed.With([port](DashboardModel& m) { return m.TileJson(*m.Find(port)); });
    };
    while (tile("A")["wants_unit_id"] != true) {
        std::this_thread::sleep_for(1ms);
    }
    // A has passed before: refused on A's tile, which asks again; B does not wait behind A.
    feed.With([](DashboardModel& m) { return m.SetNextUnitId("A", "SN-1"); });
    while (!tile("A")["detail"].is_string()) {
        std::this_thread::sleep_for(1ms);
    }
    EXPECT_EQ(tile("A")["detail"],
              "unit SN-1 has passed before in this report; not loaded again (--allow-repeat "
              "loads it)");
    feed.With([](DashboardModel& m) { return m.SetNextUnitId("B", "SN-2"); });
    b.join();
    EXPECT_EQ(gotB, "SN-2");
    EXPECT_EQ(tile("A")["wants_unit_id"], true);
    stop = true;
    a.join();
    EXPECT_EQ(gotA, std::nullopt);
    ASSERT_EQ(told.size(), 1U);
    EXPECT_TRUE(source.IdMarksNextUnit()) << "an id starts the next panel on a fixed port";
}

TEST(DashboardFeed, AServerThatFallsBehindGetsOneSnapshot) {
    DashboardModel model({"A"});
    DashboardFeed feed(model);
    for (std::size_t i = 0; i <= DashboardFeed::kMaxPending; ++i) {
        feed.OnEvent(PortStateEvent{"A", kT, "waiting for a panel"});
    }
    const std::vector<std::string> frames = feed.Drain();
    EXPECT_EQ(Names(frames), std::vector<std::string>{"state"});
    const std::string& f = frames[0];
    const json state = json::parse(f.substr(f.find("data: ") + 6));
    EXPECT_EQ(state["ports"][0]["detail"], "waiting for a panel");
}

}  // namespace
}  // namespace tarvex::production

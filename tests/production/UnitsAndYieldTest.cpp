// What a line knows of its units: where their ids come from and which may not be loaded again,
// which attempts are tried again, how the record describes the container that was sent, and
// the yield counted from report files (real files in a temporary folder throughout).
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "download/Sha256.h"
#include "download/SharedContainer.h"
#include "production/DownloadEnd.h"
#include "production/DownloadReport.h"
#include "production/UnitIds.h"
#include "production/Yield.h"
#include "support/ContainerBuilder.h"
#include "support/TempDir.h"

namespace tarvex::production {
namespace {

using nlohmann::json;
namespace fs = std::filesystem;

void WriteText(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

TEST(UnitIds, SourcesAreParsedAndEverythingElseIsRefused) {
    struct Case {
        std::string spec;
        bool valid;
        UnitIdSpec::Kind kind;
        std::string prefix;
        std::uint64_t start;
        std::size_t digits;
    };
    const std::vector<Case> cases = {
        {"stdin", true, UnitIdSpec::Kind::Stdin, "", 1, 0},
        {"dashboard", true, UnitIdSpec::Kind::Dashboard, "", 1, 0},
        {"counter:SN-:1000", true, UnitIdSpec::Kind::Counter, "SN-", 1000, 0},
        {"counter::7", true, UnitIdSpec::Kind::Counter, "", 7, 0},
        {"counter:L7:A:0042", true, UnitIdSpec::Kind::Counter, "L7:A", 42, 4},
        {"counter:SN-", false, {}, "", 0, 0},
        {"counter:SN-:", false, {}, "", 0, 0},
        {"counter:SN-:12x", false, {}, "", 0, 0},
        {"counter:SN-:-1", false, {}, "", 0, 0},
        {"scanner", false, {}, "", 0, 0},
        {"", false, {}, "", 0, 0},
    };
    for (const Case& c : cases) {
        const std::optional<UnitIdSpec> parsed = ParseUnitIdFrom(c.spec);
        ASSERT_EQ(parsed.has_value(), c.valid) << c.spec;
        if (parsed) {
            EXPECT_EQ(parsed->kind, c.kind) << c.spec;
            if (c.kind == UnitIdSpec::Kind::Counter) {
                EXPECT_EQ(parsed->prefix, c.prefix) << c.spec;
                EXPECT_EQ(parsed->start, c.start) << c.spec;
                EXPECT_EQ(parsed->digits, c.digits) << c.spec;
            }
        }
    }
}

TEST(UnitIds, TheCounterGoesOnAcrossRunsPerPrefix) {
    test::TempDir dir;
    {
        CounterIds run1(*ParseUnitIdFrom("counter:SN-:0098"), dir.path());
        EXPECT_EQ(run1.Take("a"), "SN-0098");
        EXPECT_EQ(run1.Take("b"), "SN-0099");
        EXPECT_EQ(run1.Take("a"), "SN-0100");
        std::string why;
        EXPECT_FALSE(run1.Failed(why)) << why;
    }
    // Another prefix in the same folder keeps its own number.
    CounterIds other(*ParseUnitIdFrom("counter:B-:5"), dir.path());
    EXPECT_EQ(other.Take("a"), "B-5");
    // The next run goes on after the last number drawn, whatever START says.
    CounterIds run2(*ParseUnitIdFrom("counter:SN-:0001"), dir.path());
    EXPECT_EQ(run2.Take("a"), "SN-0101");
    // A START beyond the kept number wins: the engineer moved the range on.
    CounterIds run3(*ParseUnitIdFrom("counter:SN-:5000"), dir.path());
    EXPECT_EQ(run3.Take("a"), "SN-5000");
}

// Hands out a fixed list, then says it is exhausted.
struct ListedIds final : IUnitIdSource {
    explicit ListedIds(std::vector<std::string> list) : ids(std::move(list)) {}
    std::optional<std::string> Take(const std::string&) override {
        if (next >= ids.size()) {
            return std::nullopt;
        }
        return ids[next++];
    }
    bool Exhausted() const override { return next >= ids.size(); }
    std::vector<std::string> ids;
    std::size_t next = 0;
};

TEST(UnitIds, AnIdThatPassedInTheReportIsRefusedUnlessRepeatsAreAllowed) {
    test::TempDir dir;
    const std::string report = dir / "r.jsonl";
    // Passed: A1 (and A3 only in a torn line, which counts for nothing); failed: A2.
    WriteText(report, R"({"unit_id":"A1","exit_status":0})"
                      "\n"
                      R"({"unit_id":"A2","exit_status":12})"
                      "\n"
                      R"({"unit_id":null,"exit_status":0})"
                      "\n"
                      R"({"unit_id":"A3","exit_st)");
    EXPECT_EQ(PassedIdsInReport(report), (std::set<std::string>{"A1"}));

    for (const bool allowRepeat : {false, true}) {
        ListedIds source({"A1", "A2", "A3", "A4"});
        UnitIds ids(source, allowRepeat);
        ids.RememberPassed(PassedIdsInReport(report));
        std::vector<std::string> told;
        const auto tell = [&told](const std::string& text) { told.push_back(text); };
        const auto next = [&] { return ids.Next("p", {}, tell); };
        if (allowRepeat) {
            EXPECT_EQ(next(), "A1");
        }
        EXPECT_EQ(next(), "A2");
        ids.Passed("A2");
        EXPECT_EQ(next(), "A3");
        EXPECT_EQ(next(), "A4");
        EXPECT_EQ(next(), std::nullopt);  // exhausted
        if (allowRepeat) {
            EXPECT_TRUE(told.empty());
        } else {
            ASSERT_EQ(told.size(), 1U);
            EXPECT_EQ(told[0],
                      "tarvex-cli: unit A1 has passed before in this report; not loaded again "
                      "(--allow-repeat loads it)");
        }
    }
}

TEST(Retries, OnlyAnAttemptThatAnotherMayMendIsTriedAgain) {
    struct Case {
        DownloadOutcome outcome;
        bool pressed;
        bool interrupted;
        bool mayRetry;
    };
    const std::vector<Case> cases = {
        {DownloadOutcome::Failed, true, false, true},        // no reply, the line lost
        {DownloadOutcome::PortFailed, true, false, true},    // the port did not open
        {DownloadOutcome::PanelCode, true, false, false},    // the panel said why
        {DownloadOutcome::Refused, true, false, false},      // version, product, damaged file
        {DownloadOutcome::ItemMissing, true, false, false},  // the container lacks it
        {DownloadOutcome::Cancelled, true, false, false},
        {DownloadOutcome::Complete, true, false, false},
        {DownloadOutcome::Failed, true, true, false},    // an interrupt is a cancel
        {DownloadOutcome::Failed, false, false, false},  // Download could not be pressed
    };
    for (const Case& c : cases) {
        EXPECT_EQ(MayRetry(c.outcome, c.pressed, c.interrupted), c.mayRetry)
            << OutcomeKey(c.outcome) << " pressed " << c.pressed << " interrupted "
            << c.interrupted;
    }
}

TEST(ReportRecord, TheDigestIsOfTheBytesLoadedAndTheFileIsCheckedFirst) {
    test::TempDir dir;
    const std::string path = dir / "line.bin";
    test::ContainerParts parts;
    parts.application = std::vector<std::uint8_t>(300, 0x5A);
    const std::vector<std::uint8_t> sent = test::BuildContainer(parts);
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(sent.data()),
               static_cast<std::streamsize>(sent.size()));
    ContainerReport checked;
    const std::shared_ptr<const SharedContainer> loaded = LoadSharedContainer(path, checked);
    ASSERT_TRUE(loaded);
    Sha256 hash;
    hash.Update(sent);
    const std::string sentDigest = hash.HexDigest();

    // The file is replaced while the line runs: the unit got the old bytes.
    parts.application = std::vector<std::uint8_t>(900, 0xA5);
    const std::vector<std::uint8_t> replaced = test::BuildContainer(parts);
    std::ofstream(path, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(replaced.data()),
               static_cast<std::streamsize>(replaced.size()));

    ReportSink sink(dir / "r.jsonl");
    std::string why;
    EXPECT_TRUE(sink.Check(why)) << why;
    ResultEvent result;
    result.facts.containerPath = path;
    result.facts.sharedContainer = loaded;
    result.unit = {"SN-7", 2, 3};
    const json record = sink.Record(result);
    EXPECT_EQ(record["schema"], kReportSchema);
    EXPECT_EQ(record["container"]["sha256"], sentDigest);
    EXPECT_EQ(record["container"]["size"], sent.size());
    EXPECT_EQ(record["unit_id"], "SN-7");
    EXPECT_EQ(record["attempt"], 2);
    EXPECT_EQ(record["attempts"], 3);

    // Without a shared container the file is read once more, and all of it from that reading.
    result.facts.sharedContainer.reset();
    const json again = sink.Record(result);
    EXPECT_EQ(again["container"]["size"], replaced.size());
    EXPECT_EQ(again["container"]["sha256"], Sha256OfFile(path).value_or(""));

    ReportSink nowhere(dir / "missing/r.jsonl");
    EXPECT_FALSE(nowhere.Check(why));
    EXPECT_NE(why.find("--report: cannot append to " + (dir / "missing/r.jsonl")),
              std::string::npos)
        << why;
}

TEST(Yield, TheTallyCountsUnitsByTheirLastAttempt) {
    YieldTally tally;
    EXPECT_EQ(tally.Text(), "passed 0, failed 0");
    EXPECT_EQ(tally.MedianSeconds(), std::nullopt);
    tally.Add(true, "complete", 1, 4.0);
    tally.Add(true, "complete", 2, 9.0);  // passed, but not on the first pass
    tally.Add(false, "panel_code", 1, 1.0);
    tally.Add(true, "complete", 1, 5.0);
    EXPECT_EQ(tally.Units(), 4);
    EXPECT_EQ(tally.FirstPass(), 2);
    EXPECT_DOUBLE_EQ(tally.FirstPassYield(), 0.5);
    EXPECT_DOUBLE_EQ(*tally.MedianSeconds(), 4.5);
    EXPECT_EQ(tally.Text(),
              "passed 3, failed 1 (panel_code 1); first-pass yield 50.0 % (2 of 4); median "
              "cycle time 4.5 s");
    const json j = tally.Json();
    EXPECT_EQ(j["failed_by_outcome"]["panel_code"], 1);
    EXPECT_EQ(j["first_pass"], 2);
}

json Record(const std::string& port, const std::string& product, int attempt, int attempts,
            const std::string& outcome, int status, const std::string& start,
            const std::string& end) {
    return {{"schema", 1},
            {"tool", "tarvex-cli"},
            {"host", "line1"},
            {"port", port},
            {"product", product},
            {"firmware", "FW1.5"},
            {"outcome", outcome},
            {"exit_status", status},
            {"attempt", attempt},
            {"attempts", attempts},
            {"start", "2026-12-09T10:00:" + start + "Z"},
            {"end", "2026-12-09T10:00:" + end + "Z"}};
}

TEST(Yield, ReportFilesAreSummedPerProductWithDamagedAndForeignLinesNamed) {
    test::TempDir dir;
    const std::string first = dir / "a.jsonl";
    const std::string second = dir / "b.jsonl";
    std::string a;
    // p1: passes at once (2 s). p2: silent once, passes on attempt 2 (00..07 = 7 s). p3: the
    // panel's code, not tried again although 3 attempts were allowed (1 s).
    a += Record("p1", "H1", 1, 3, "complete", 0, "00.000", "02.000").dump() + "\n";
    a += Record("p2", "H1", 1, 3, "failed", 1, "00.000", "03.000").dump() + "\n";
    a += "{\"event\":\"start\",\"port\":\"p1\"}\n";  // a progress line, not a record
    a += Record("p3", "H1", 1, 3, "panel_code", 12, "00.000", "01.000").dump() + "\n";
    a += Record("p2", "H1", 2, 3, "complete", 0, "04.000", "07.000").dump() + "\n";
    // Old records have no attempt: each is a unit.
    json old = Record("p1", "H2", 1, 1, "complete", 0, "10.000", "12.500");
    old.erase("attempt");
    old.erase("attempts");
    a += old.dump() + "\n";
    const std::string torn = Record("p1", "H1", 1, 3, "complete", 0, "20.000", "22.000").dump();
    a += torn.substr(0, torn.size() / 2);  // the last line, torn by a crash
    WriteText(first, a);
    WriteText(second,
              "\n" + Record("p9", "H1", 1, 1, "complete", 0, "00.000", "06.000").dump() + "\n");

    const ReportSummary s = SummarizeReports({first, second, dir / "absent.jsonl"});
    EXPECT_EQ(s.records, 6);
    EXPECT_EQ(s.damaged, 1);
    EXPECT_EQ(s.foreign, 1);
    ASSERT_EQ(s.skipped.size(), 2U);
    EXPECT_EQ(s.skipped[0].file, first);
    EXPECT_EQ(s.skipped[0].line, 3);
    EXPECT_EQ(s.skipped[0].why, "foreign: not a tarvex-cli record");
    EXPECT_EQ(s.skipped[1].line, 7);
    EXPECT_EQ(s.skipped[1].why.rfind("damaged", 0), 0U);
    EXPECT_EQ(s.unreadable, std::vector<std::string>{dir / "absent.jsonl"});

    ASSERT_EQ(s.groups.size(), 2U);
    const YieldTally& h1 = s.groups.at({"H1", "FW1.5"});
    EXPECT_EQ(h1.Units(), 4);  // p1, p2 (two records), p3, p9
    EXPECT_EQ(h1.Passed(), 3);
    EXPECT_EQ(h1.FirstPass(), 2);
    EXPECT_EQ(h1.FailedBy(), (std::map<std::string, int>{{"panel_code", 1}}));
    EXPECT_DOUBLE_EQ(*h1.MedianSeconds(), 4.0);  // 1, 2, 6, 7
    const YieldTally& h2 = s.groups.at({"H2", "FW1.5"});
    EXPECT_EQ(h2.Units(), 1);
    EXPECT_DOUBLE_EQ(*h2.MedianSeconds(), 2.5);

    const json j = SummaryJson(s);
    EXPECT_EQ(j["groups"][0]["product"], "H1");
    EXPECT_EQ(j["groups"][0]["first_pass_yield"], 0.5);
    EXPECT_EQ(j["skipped"][1]["line"], 7);
    const std::string table = SummaryTable(s);
    EXPECT_NE(table.find("failed panel_code: 1"), std::string::npos) << table;
    EXPECT_NE(table.find(first + ":7: damaged"), std::string::npos) << table;
    EXPECT_NE(table.find("6 records, 1 damaged lines, 1 foreign lines"), std::string::npos)
        << table;
}

}  // namespace
}  // namespace tarvex::production

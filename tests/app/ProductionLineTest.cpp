// The production line: tarvex-cli gang and station against several simulated panels over real
// pseudo-terminals, their JSON Lines checked against the documented schema, and the report file
// shared by several writers.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "download/DownloadContainer.h"
#include "production/DownloadReport.h"
#include "support/PanelSimProcess.h"
#include "support/RunProgram.h"
#include "support/ScopedEnv.h"
#include "support/TempDir.h"

namespace tarvex::test {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Strings = std::vector<std::string>;
using Bytes = std::vector<std::uint8_t>;
using nlohmann::json;

const Strings kH1 = {"--product", "H1", "--bootloader", "BL1.2-1", "--firmware", "FW1.5"};

// The subset of JSON Schema that docs/progress-json.schema.json uses: type, enum, const,
// required, properties, oneOf, minimum, maximum, pattern. Returns what failed, empty if none.
std::string Violation(const json& schema, const json& value, const std::string& at = "$") {
    if (schema.contains("type")) {
        const Strings types = schema["type"].is_array()
                                  ? schema["type"].get<Strings>()
                                  : Strings{schema["type"].get<std::string>()};
        const auto is = [&value](const std::string& t) {
            return (t == "string" && value.is_string()) ||
                   (t == "integer" && value.is_number_integer()) ||
                   (t == "number" && value.is_number()) || (t == "null" && value.is_null()) ||
                   (t == "object" && value.is_object()) || (t == "boolean" && value.is_boolean()) ||
                   (t == "array" && value.is_array());
        };
        if (std::none_of(types.begin(), types.end(), is)) {
            return at + ": wrong type " + value.dump();
        }
    }
    if (schema.contains("const") && value != schema["const"]) {
        return at + ": not " + schema["const"].dump();
    }
    if (schema.contains("enum") &&
        std::find(schema["enum"].begin(), schema["enum"].end(), value) == schema["enum"].end()) {
        return at + ": " + value.dump() + " not in " + schema["enum"].dump();
    }
    if (value.is_number() && schema.contains("minimum") &&
        value.get<double>() < schema["minimum"]) {
        return at + ": below the minimum";
    }
    if (value.is_number() && schema.contains("maximum") &&
        value.get<double>() > schema["maximum"]) {
        return at + ": above the maximum";
    }
    if (value.is_string() && schema.contains("pattern") &&
        !std::regex_search(value.get<std::string>(),
                           std::regex(schema["pattern"].get<std::string>()))) {
        return at + ": " + value.dump() + " does not match " + schema["pattern"].dump();
    }
    if (schema.contains("required") && value.is_object()) {
        for (const auto& name : schema["required"]) {
            if (!value.contains(name.get<std::string>())) {
                return at + ": no " + name.get<std::string>();
            }
        }
    }
    if (schema.contains("properties") && value.is_object()) {
        for (const auto& [name, sub] : schema["properties"].items()) {
            if (value.contains(name)) {
                if (std::string v = Violation(sub, value[name], at + "." + name); !v.empty()) {
                    return v;
                }
            }
        }
    }
    if (schema.contains("oneOf")) {
        int matching = 0;
        std::string last;
        for (const auto& branch : schema["oneOf"]) {
            last = Violation(branch, value, at);
            matching += last.empty() ? 1 : 0;
        }
        if (matching != 1) {
            return at + ": matches " + std::to_string(matching) + " of oneOf (" + last + ")";
        }
    }
    return {};
}

// Every line of out is an object valid under the documented schema (docs/NAME); they are
// returned.
std::vector<json> CheckedJsonLines(const std::string& out,
                                   const std::string& name = "progress-json.schema.json") {
    const json schema = json::parse(ReadFileText(std::string(TARVEX_SOURCE_DIR) + "/docs/" + name));
    std::vector<json> lines;
    std::istringstream in(out);
    for (std::string line; std::getline(in, line);) {
        const json object = json::parse(line, nullptr, false);
        EXPECT_FALSE(object.is_discarded()) << "not JSON: " << line;
        EXPECT_EQ(Violation(schema, object), "") << line;
        lines.push_back(object);
    }
    return lines;
}

class ProductionLine : public ::testing::Test {
  protected:
    void SetUp() override {
        fs::copy(std::string(TARVEX_BINARY_DIR) + "/sample-workspace", ws.path(),
                 fs::copy_options::recursive | fs::copy_options::overwrite_existing);
        ASSERT_TRUE(CheckDownloadContainer(ws / "project/H1.bin", info, names, sizes));
    }
    Strings Args(const std::string& command, const Strings& more) const {
        Strings all{command, "--sysfs-root", sysfs.path()};
        all.insert(all.end(), kH1.begin(), kH1.end());
        all.insert(all.end(), more.begin(), more.end());
        return all;
    }
    // The panel in `dir` got the application and both recipes, byte for byte.
    void ExpectArrived(const std::string& dir) const {
        const Bytes alpha(info.m_arrRecipe.begin(), info.m_arrRecipe.begin() + sizes[0]);
        EXPECT_EQ(ReadFileBytes(dir + "/01-recipe-Alpha.bin"), alpha) << dir;
        EXPECT_EQ(ReadFileBytes(dir + "/03-application-H1.bin"), info.m_arrApplication) << dir;
    }

    TempDir ws;
    ScopedEnv timingLog{"TARVEX_TIMING_LOG", (ws / "timing.csv").c_str()};
    ScopedEnv noExtraPorts{"TARVEX_EXTRA_PORTS", nullptr};
    TempDir sysfs;
    TempDir out;
    CDownloadInfo info;
    Strings names;
    std::vector<std::uint32_t> sizes;
};

TEST_F(ProductionLine, GangOfFourEndsWithTheRightSummaryAndTheGoodPanelsIntact) {
    // Port order: a good panel, one that refuses the password (code 2), one unplugged during
    // the application, another good one.
    // All at slave ID 3: the one form that writes dnld.sv and the three that do not all take
    // the --slave-id given. The password comes from the environment, for every form.
    ScopedEnv password{"TARVEX_PASSWORD", "4321"};
    PanelSimProcess good1({"--slave-id", "3", "--product-code", "17", "--password", "4321", "--out",
                           out / "a", "--exit-after-over"});
    PanelSimProcess refuses({"--slave-id", "3", "--product-code", "17", "--out", out / "b",
                             "--fault", "item=application,phase=open,count=always:status=2"});
    PanelSimProcess unplugged(
        {"--slave-id", "3", "--product-code", "17", "--out", out / "c", "--close-after", "9"});
    PanelSimProcess good2({"--slave-id", "3", "--product-code", "17", "--password", "4321", "--out",
                           out / "d", "--exit-after-over"});
    const Strings ports = {good1.port(), refuses.port(), unplugged.port(), good2.port()};
    Strings args = {"--items",          "application,recipe", "--progress", "json",
                    "--json",           "--slave-id",         "3",          "--report",
                    ws / "report.jsonl"};
    for (const std::string& port : ports) {
        ASSERT_FALSE(port.empty());
        args.insert(args.end(), {"--port", port});
    }
    const ProgramResult r =
        RunProgram(ProjectBinary("tarvex-cli"), Args("gang", args), 60s, ws.path());
    // The first failure in port order decides: 10 + the panel's code 2.
    EXPECT_EQ(r.exitStatus, 12) << r.err;
    ExpectArrived(out / "a");
    ExpectArrived(out / "d");

    // The summary (on standard error next to the JSON Lines) names each port's result.
    const json summary = json::parse(r.err.substr(r.err.find("{\n")));
    const Strings outcomes = {"complete", "panel_code", "failed", "complete"};
    const std::vector<int> statuses = {0, 12, 1, 0};
    ASSERT_EQ(summary["ports"].size(), 4U);
    for (std::size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(summary["ports"][i]["port"], ports[i]);
        EXPECT_EQ(summary["ports"][i]["outcome"], outcomes[i]) << ports[i];
        EXPECT_EQ(summary["ports"][i]["exit_status"], statuses[i]) << ports[i];
    }
    EXPECT_EQ(summary["ports"][1]["panel_code"], 2);
    // The port whose line went away gets the hint download gives, on its own lines.
    EXPECT_NE(r.err.find(ports[2] + ": tarvex-cli: the line was lost: "), std::string::npos)
        << r.err;
    EXPECT_EQ(summary["exit_status"], 12);

    // The progress lines: valid, one start and one result per port, results as above.
    std::map<std::string, int> starts;
    std::map<std::string, json> results;
    for (const json& line : CheckedJsonLines(r.out)) {
        if (line["event"] == "start") {
            ++starts[line["port"]];
        } else if (line["event"] == "result") {
            results[line["port"]] = line;
        }
    }
    for (std::size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(starts[ports[i]], 1);
        EXPECT_EQ(results[ports[i]]["exit_status"], statuses[i]);
    }

    // One record per panel; the container once for all, never a password.
    const std::string report = ReadFileText(ws / "report.jsonl");
    EXPECT_EQ(report.find("password"), std::string::npos);
    std::istringstream lines(report);
    std::map<std::string, json> records;
    for (std::string line; std::getline(lines, line);) {
        const json record = json::parse(line);
        records[record["port"]] = record;
    }
    ASSERT_EQ(records.size(), 4U);
    EXPECT_EQ(records[ports[0]]["container"]["size"], fs::file_size(ws / "project/H1.bin"));
    EXPECT_EQ(records[ports[0]]["container"]["sha256"].get<std::string>().size(), 64U);
    EXPECT_EQ(records[ports[1]]["panel_code"], 2);
    EXPECT_EQ(records[ports[3]]["items"].size(), 3U);
    EXPECT_EQ(records[ports[3]]["slave_id"], 3);
}

TEST_F(ProductionLine, StationDownloadsEachTimeThePortAppearsAndStopsAfterTheCount) {
    PanelSimProcess panel({"--product-code", "17", "--out", out / "panel"});
    ASSERT_FALSE(panel.port().empty());
    const std::string link = ws / "usb-panel-if00";  // as a /dev/serial/by-id name
    SpawnActions actions;
    actions.OpenForWriting(1, ws / "station.out");
    actions.Dup(1, 2);
    actions.ChangeDirectory(ws.path());
    const pid_t pid = Spawn(
        ProjectBinary("tarvex-cli"),
        Args("station", {"--port", link, "--count", "2", "--items", "application", "--progress",
                         "lines", "--settle-ms", "50", "--report", ws / "r.jsonl", "--on-result",
                         "echo \"$TARVEX_RESULT $TARVEX_EXIT_STATUS $TARVEX_PASSED\" >> lamp.txt"}),
        actions);
    const auto count = [&](const std::string& text) {
        const std::string all = ReadFileText(ws / "station.out");
        int n = 0;
        for (auto at = all.find(text); at != std::string::npos; at = all.find(text, at + 1)) {
            ++n;
        }
        return n;
    };
    const auto waitFor = [&](const std::string& text, int times) {
        const auto deadline = std::chrono::steady_clock::now() + 20s;
        while (count(text) < times && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(20ms);
        }
        return count(text) >= times;
    };

    ASSERT_TRUE(waitFor("waiting for a panel", 1));
    fs::create_symlink(panel.port(), link);  // plugged in
    ASSERT_TRUE(waitFor("==== " + link + ": PASS", 1)) << ReadFileText(ws / "station.out");
    fs::remove(link);  // unplugged
    ASSERT_TRUE(waitFor("waiting for a panel", 2)) << ReadFileText(ws / "station.out");
    fs::create_symlink(panel.port(), link);  // the next panel
    const std::optional<int> status = ExitStatusWithin(pid, 30s);
    if (!status) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
    }
    ASSERT_EQ(status, 0) << ReadFileText(ws / "station.out");
    EXPECT_EQ(count("PASS"), 2);
    EXPECT_EQ(count("Station: passed 2, failed 0"), 1);
    EXPECT_EQ(ReadFileText(ws / "lamp.txt"), "pass 0 1\npass 0 2\n");  // --on-result
    std::istringstream records(ReadFileText(ws / "r.jsonl"));
    int lines = 0;
    for (std::string line; std::getline(records, line);) {
        EXPECT_EQ(json::parse(line)["outcome"], "complete");
        ++lines;
    }
    EXPECT_EQ(lines, 2);
    EXPECT_EQ(json::parse(ReadFileText(out / "panel/session.json"))["sessions_over"], 2);
}

// Runs tarvex-cli with standard input from `input` (a file written first) and both outputs
// into files; its exit status, or nothing when it hung.
struct FedRun {
    std::optional<int> status;
    std::string out;
    std::string err;
};
FedRun RunFed(const std::string& dir, const Strings& args, const std::string& input) {
    const std::string in = dir + "/stdin.txt";
    std::ofstream(in, std::ios::binary) << input;
    const int fd = ::open(in.c_str(), O_RDONLY);
    SpawnActions actions;
    actions.Dup(fd, 0);
    actions.OpenForWriting(1, dir + "/run.out");
    actions.OpenForWriting(2, dir + "/run.err");
    actions.ChangeDirectory(dir);
    const pid_t pid = Spawn(ProjectBinary("tarvex-cli"), args, actions);
    ::close(fd);
    FedRun run;
    run.status = ExitStatusWithin(pid, 60s);
    if (!run.status) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
    }
    run.out = ReadFileText(dir + "/run.out");
    run.err = ReadFileText(dir + "/run.err");
    return run;
}

std::vector<json> Records(const std::string& path) {
    return CheckedJsonLines(ReadFileText(path), "report.schema.json");
}

TEST_F(ProductionLine, GangTriesASilentPanelAgainButNeverOneThatGaveItsCode) {
    // The first panel hears nothing of the first attempt (all three Download commands go
    // unanswered) and answers the second; the second refuses the password every time.
    PanelSimProcess silent({"--product-code", "17", "--out", out / "a", "--fault",
                            "item=application,phase=open,count=3:no-reply"});
    PanelSimProcess coded({"--product-code", "17", "--out", out / "b", "--fault",
                           "item=application,phase=open,count=always:status=2"});
    ASSERT_FALSE(silent.port().empty());
    ASSERT_FALSE(coded.port().empty());
    const std::string report = ws / "report.jsonl";
    // The scanner's lines, one per port in port order; a blank line is no id.
    const FedRun r =
        RunFed(ws.path(),
               Args("gang", {"--port", silent.port(), "--port", coded.port(), "--items",
                             "application", "--progress", "json", "--json", "--retries", "2",
                             "--report", report, "--unit-id-from", "stdin"}),
               "SN-1\n\nSN-2\n");
    ASSERT_EQ(r.status, 12) << r.err;
    EXPECT_EQ(ReadFileBytes(out / "a/01-application-H1.bin"), info.m_arrApplication);
    EXPECT_NE(r.err.find(silent.port() + ": tarvex-cli: unit SN-1"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find(silent.port() + ": tarvex-cli: attempt 1 of 3 for unit SN-1 failed " +
                         "(failed); trying again"),
              std::string::npos)
        << r.err;

    // Each attempt its own record; the unit's outcome is its last attempt's.
    const std::vector<json> records = Records(report);
    ASSERT_EQ(records.size(), 3U) << ReadFileText(report);
    std::map<std::string, std::vector<json>> byPort;
    for (const json& record : records) {
        byPort[record["port"]].push_back(record);
    }
    ASSERT_EQ(byPort[silent.port()].size(), 2U);
    ASSERT_EQ(byPort[coded.port()].size(), 1U) << "a panel's code is never tried again";
    const json& first = byPort[silent.port()][0];
    const json& second = byPort[silent.port()][1];
    EXPECT_EQ(first["outcome"], "failed");
    EXPECT_EQ(first["attempt"], 1);
    EXPECT_EQ(second["outcome"], "complete");
    EXPECT_EQ(second["attempt"], 2);
    for (const json& record : records) {
        EXPECT_EQ(record["attempts"], 3);
        EXPECT_EQ(record["schema"], 1);
    }
    EXPECT_EQ(first["unit_id"], "SN-1");
    EXPECT_EQ(second["unit_id"], "SN-1");
    EXPECT_EQ(byPort[coded.port()][0]["unit_id"], "SN-2");
    EXPECT_EQ(byPort[coded.port()][0]["panel_code"], 2);

    // The JSON Lines: one start per attempt, each naming the unit, the container absolute.
    std::vector<json> silentStarts;
    std::map<std::string, json> results;
    for (const json& line : CheckedJsonLines(r.out)) {
        if (line["event"] == "start" && line["port"] == silent.port()) {
            silentStarts.push_back(line);
            EXPECT_TRUE(fs::path(line["container"].get<std::string>()).is_absolute()) << line;
        } else if (line["event"] == "result") {
            results[line["port"]] = line;
        }
    }
    ASSERT_EQ(silentStarts.size(), 2U);
    EXPECT_EQ(silentStarts[1]["attempt"], 2);
    EXPECT_EQ(silentStarts[1]["unit_id"], "SN-1");
    EXPECT_EQ(results[silent.port()]["outcome"], "complete");
    EXPECT_EQ(results[coded.port()]["unit_id"], "SN-2");

    // The summary: one passed (not on the first pass), one failed by the panel's code.
    const json summary = json::parse(r.err.substr(r.err.find("{\n")));
    EXPECT_EQ(summary["ports"][0]["attempt"], 2);
    EXPECT_EQ(summary["ports"][0]["unit_id"], "SN-1");
    EXPECT_EQ(summary["yield"]["passed"], 1);
    EXPECT_EQ(summary["yield"]["failed_by_outcome"]["panel_code"], 1);
    EXPECT_EQ(summary["yield"]["first_pass"], 0);

    // report summary reads the same from the file.
    const ProgramResult s = RunProgram(ProjectBinary("tarvex-cli"),
                                       {"report", "summary", "--json", report}, 10s, ws.path());
    ASSERT_EQ(s.exitStatus, 0) << s.err;
    const json fromFile = json::parse(s.out);
    ASSERT_EQ(fromFile["groups"].size(), 1U);
    EXPECT_EQ(fromFile["groups"][0]["units"], 2);
    EXPECT_EQ(fromFile["groups"][0]["passed"], 1);
    EXPECT_EQ(fromFile["groups"][0]["first_pass"], 0);

    // SN-1 has passed in this report: scanned again it is refused, and the port gets no unit.
    const FedRun again =
        RunFed(ws.path(),
               Args("gang", {"--port", silent.port(), "--items", "application", "--report", report,
                             "--unit-id-from", "stdin", "--progress", "none"}),
               "SN-1\n");
    EXPECT_EQ(again.status, 1) << again.err;
    EXPECT_NE(again.err.find("unit SN-1 has passed before in this report; not loaded again "
                             "(--allow-repeat loads it)"),
              std::string::npos)
        << again.err;
    EXPECT_EQ(Records(report).size(), 3U);

    // A crash tore the last line: report summary counts it, names it and reads on.
    const std::string whole = ReadFileText(report);
    std::ofstream(report, std::ios::app) << whole.substr(0, whole.find('\n') / 2);
    const ProgramResult torn =
        RunProgram(ProjectBinary("tarvex-cli"), {"report", "summary", report}, 10s, ws.path());
    EXPECT_EQ(torn.exitStatus, 0) << torn.err;
    EXPECT_NE(torn.out.find("3 records, 1 damaged lines, 0 foreign lines"), std::string::npos)
        << torn.out;
    EXPECT_NE(torn.out.find(report + ":4: damaged"), std::string::npos) << torn.out;
    EXPECT_NE(torn.out.find("failed panel_code: 1"), std::string::npos) << torn.out;
}

TEST_F(ProductionLine, StationCountsUnitsAndHandsTheirIdsToOnResult) {
    PanelSimProcess panel({"--product-code", "17", "--out", out / "panel"});
    ASSERT_FALSE(panel.port().empty());
    fs::create_directories(ws / "reports");
    const std::string report = ws / "reports/r.jsonl";
    const Strings args =
        Args("station", {"--port", panel.port(), "--fixed", "--count", "2", "--items",
                         "application", "--progress", "none", "--report", report, "--unit-id-from",
                         "counter:SN-:0007", "--on-result",
                         "echo \"$TARVEX_UNIT_ID $TARVEX_ATTEMPT/$TARVEX_ATTEMPTS "
                         "$TARVEX_RESULT\" >> lamp.txt"});
    // Enter starts the second panel; the counted ids need no line of their own.
    const FedRun r = RunFed(ws.path(), args, "\n");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(ReadFileText(ws / "lamp.txt"), "SN-0007 1/1 pass\nSN-0008 1/1 pass\n");
    EXPECT_NE(r.out.find("Station: passed 2, failed 0; first-pass yield 100.0 % (2 of 2); "
                         "median cycle time "),
              std::string::npos)
        << r.out;
    const std::vector<json> records = Records(report);
    ASSERT_EQ(records.size(), 2U);
    EXPECT_EQ(records[0]["unit_id"], "SN-0007");
    EXPECT_EQ(records[1]["unit_id"], "SN-0008");
    // The last number is kept beside the report: the next run goes on from it.
    EXPECT_EQ(json::parse(ReadFileText(ws / "reports/tarvex-unit-counter.json"))["SN-"], 8);
}

TEST_F(ProductionLine, AReportThatCannotBeWrittenStopsTheLineBeforeAnyPanel) {
    PanelSimProcess panel(
        {"--product-code", "17", "--out", out / "panel", "--log", out / "panel.log"});
    ASSERT_FALSE(panel.port().empty());
    const std::string report = ws / "no-such-folder/r.jsonl";
    const ProgramResult r =
        RunProgram(ProjectBinary("tarvex-cli"),
                   Args("gang", {"--port", panel.port(), "--items", "application", "--progress",
                                 "json", "--report", report}),
                   30s, ws.path());
    EXPECT_EQ(r.exitStatus, 2) << r.err;
    EXPECT_NE(r.err.find("tarvex-cli: --report: cannot append to " + report + ": "),
              std::string::npos)
        << r.err;
    // Not a frame went out, and no JSON says complete.
    EXPECT_EQ(r.out.find("\"complete\""), std::string::npos) << r.out;
    EXPECT_EQ(ReadFileText(out / "panel.log").find("\"rx\""), std::string::npos);
}

// With --fixed the next panel waits for Enter; when standard input has ended (here /dev/null)
// no Enter can come: the station loads the panel on the port once and stops, saying why,
// instead of loading it again and again.
TEST_F(ProductionLine, FixedStationStopsWhenStandardInputEnds) {
    PanelSimProcess panel({"--product-code", "17", "--out", out / "panel"});
    ASSERT_FALSE(panel.port().empty());
    const ProgramResult r = RunProgram(
        ProjectBinary("tarvex-cli"),
        Args("station",
             {"--port", panel.port(), "--fixed", "--items", "application", "--progress", "lines"}),
        60s, ws.path());
    ASSERT_FALSE(r.timedOut) << r.out << r.err;
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_NE(r.err.find("standard input has ended"), std::string::npos) << r.err;
    EXPECT_NE(r.out.find("Station: passed 1, failed 0;"), std::string::npos) << r.out;
    EXPECT_EQ(json::parse(ReadFileText(out / "panel/session.json"))["sessions_over"], 1);
}

// An interrupt stops the station with the status its help gives (6, cancelled) when no panel
// failed.
TEST_F(ProductionLine, InterruptedStationExitsAsCancelled) {
    SpawnActions actions;
    actions.OpenForWriting(1, ws / "station.out");
    actions.Dup(1, 2);
    actions.ChangeDirectory(ws.path());
    const pid_t pid =
        Spawn(ProjectBinary("tarvex-cli"),
              Args("station", {"--port", ws / "no-panel-yet", "--progress", "lines"}), actions);
    const auto deadline = std::chrono::steady_clock::now() + 20s;
    while (ReadFileText(ws / "station.out").find("waiting for a panel") == std::string::npos &&
           std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(20ms);
    }
    ::kill(pid, SIGINT);
    const std::optional<int> status = ExitStatusWithin(pid, 30s);
    if (!status) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
    }
    EXPECT_EQ(status, 6) << ReadFileText(ws / "station.out");
    EXPECT_NE(ReadFileText(ws / "station.out").find("Station: passed 0, failed 0\n"),
              std::string::npos);
}

TEST(ReportFile, TwoProcessesAppendingLoseNoLine) {
    TempDir dir;
    const std::string path = dir / "report.jsonl";
    constexpr int kLines = 300;
    // Lines longer than a pipe's atomic size, so that a torn write would show.
    const auto lineOf = [](char who, int i) {
        return std::string(1, who) + std::to_string(i) + ":" + std::string(6000, who);
    };
    std::vector<pid_t> children;
    for (const char who : {'a', 'b'}) {
        const pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            std::string error;
            for (int i = 0; i < kLines; ++i) {
                if (!production::AppendLine(path, lineOf(who, i), error)) {
                    ::_exit(1);
                }
            }
            ::_exit(0);
        }
        children.push_back(pid);
    }
    for (const pid_t pid : children) {
        EXPECT_EQ(ExitStatusWithin(pid, 60s), 0);
    }
    std::istringstream in(ReadFileText(path));
    std::map<std::string, int> seen;
    int total = 0;
    for (std::string line; std::getline(in, line); ++total) {
        const auto colon = line.find(':');
        ASSERT_NE(colon, std::string::npos);
        ASSERT_EQ(line.substr(colon + 1), std::string(6000, line[0])) << "a torn line";
        ++seen[line.substr(0, colon)];
    }
    EXPECT_EQ(total, 2 * kLines);
    EXPECT_EQ(seen.size(), static_cast<std::size_t>(2 * kLines)) << "every line once";
}

}  // namespace
}  // namespace tarvex::test

// Job files from the command line: job create, then gang --job against simulated panels over
// real pseudo-terminals, and the refusals that keep a line running what the job says. Also the
// line's refusal of one device named twice.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "download/DownloadContainer.h"
#include "download/Sha256.h"
#include "support/PanelSimProcess.h"
#include "support/PtyPair.h"
#include "support/RunProgram.h"
#include "support/ScopedEnv.h"
#include "support/TempDir.h"

namespace tarvex::test {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Strings = std::vector<std::string>;
using nlohmann::json;

// What docs/job-file.schema.json asks of a value (the keywords it uses: type, const, enum,
// pattern, minLength, minimum, maximum, required, properties, additionalProperties false, items,
// uniqueItems). Returns what failed, empty if none.
std::string Violation(const json& schema, const json& value, const std::string& at = "$") {
    if (schema.contains("type")) {
        const Strings types = schema["type"].is_array()
                                  ? schema["type"].get<Strings>()
                                  : Strings{schema["type"].get<std::string>()};
        const auto is = [&value](const std::string& t) {
            return (t == "string" && value.is_string()) ||
                   (t == "integer" && value.is_number_integer()) ||
                   (t == "null" && value.is_null()) || (t == "boolean" && value.is_boolean()) ||
                   (t == "object" && value.is_object()) || (t == "array" && value.is_array());
        };
        if (std::none_of(types.begin(), types.end(), is)) {
            return at + ": wrong type";
        }
    }
    if (schema.contains("const") && value != schema["const"]) {
        return at + ": not " + schema["const"].dump();
    }
    if (schema.contains("enum") &&
        std::find(schema["enum"].begin(), schema["enum"].end(), value) == schema["enum"].end()) {
        return at + ": " + value.dump() + " not in the enum";
    }
    if (value.is_string() && schema.contains("pattern") &&
        !std::regex_search(value.get<std::string>(),
                           std::regex(schema["pattern"].get<std::string>()))) {
        return at + ": does not match the pattern";
    }
    if (value.is_string() && schema.contains("minLength") &&
        value.get<std::string>().size() < schema["minLength"].get<std::size_t>()) {
        return at + ": too short";
    }
    if (value.is_number() && schema.contains("minimum") &&
        value.get<double>() < schema["minimum"]) {
        return at + ": below the minimum";
    }
    if (value.is_number() && schema.contains("maximum") &&
        value.get<double>() > schema["maximum"]) {
        return at + ": above the maximum";
    }
    for (const auto& name : schema.value("required", json::array())) {
        if (!value.contains(name.get<std::string>())) {
            return at + ": no " + name.get<std::string>();
        }
    }
    if (value.is_object()) {
        for (const auto& [name, sub] : value.items()) {
            const json properties = schema.value("properties", json::object());
            if (properties.contains(name)) {
                if (std::string v = Violation(properties[name], sub, at + "." + name); !v.empty()) {
                    return v;
                }
            } else if (schema.value("additionalProperties", true) == false) {
                return at + ": " + name + " is not allowed";
            }
        }
    }
    if (value.is_array() && schema.contains("items")) {
        for (std::size_t i = 0; i < value.size(); ++i) {
            if (std::string v =
                    Violation(schema["items"], value[i], at + "[" + std::to_string(i) + "]");
                !v.empty()) {
                return v;
            }
        }
        if (schema.value("uniqueItems", false) &&
            std::set<json>(value.begin(), value.end()).size() != value.size()) {
            return at + ": repeated items";
        }
    }
    return {};
}

class JobFiles : public ::testing::Test {
  protected:
    void SetUp() override {
        fs::copy(std::string(TARVEX_BINARY_DIR) + "/sample-workspace", ws.path(),
                 fs::copy_options::recursive | fs::copy_options::overwrite_existing);
    }
    // A job for H1 with the application and the recipes, on `ports`, reporting to r.jsonl.
    std::string MakeJob(const Strings& ports, const Strings& more = {}) const {
        Strings args = {"-C",
                        ws.path(),
                        "job",
                        "create",
                        ws / "line7.json",
                        "--product",
                        "H1",
                        "--bootloader",
                        "BL1.2-1",
                        "--firmware",
                        "FW1.5",
                        "--items",
                        "application,recipe",
                        "--report",
                        ws / "r.jsonl"};
        for (const std::string& port : ports) {
            args.insert(args.end(), {"--port", port});
        }
        args.insert(args.end(), more.begin(), more.end());
        const ProgramResult r = RunProgram(ProjectBinary("tarvex-cli"), args, 20s);
        EXPECT_EQ(r.exitStatus, 0) << r.err;
        return ws / "line7.json";
    }
    ProgramResult Gang(const std::string& job, const Strings& more = {}) const {
        Strings args = {"gang", "--sysfs-root", sysfs.path(), "--job", job, "--progress", "none"};
        args.insert(args.end(), more.begin(), more.end());
        return RunProgram(ProjectBinary("tarvex-cli"), args, 60s, elsewhere.path());
    }

    TempDir ws;
    TempDir elsewhere;
    TempDir sysfs;
    TempDir out;
    ScopedEnv timingLog{"TARVEX_TIMING_LOG", (ws / "timing.csv").c_str()};
    ScopedEnv noExtraPorts{"TARVEX_EXTRA_PORTS", nullptr};
};

TEST_F(JobFiles, AJobRunsAGangAndItsNameAndHashReachEveryRecord) {
    PanelSimProcess a({"--product-code", "17", "--out", out / "a", "--exit-after-over"});
    PanelSimProcess b({"--product-code", "17", "--out", out / "b", "--exit-after-over"});
    ASSERT_FALSE(a.port().empty());
    ASSERT_FALSE(b.port().empty());
    const std::string job = MakeJob({a.port(), b.port()});

    // The job holds every choice of the form, the container pinned, the line's settings.
    const json j = json::parse(ReadFileText(job));
    const std::string sha = *Sha256OfFile(ws / "project/H1.bin");
    EXPECT_EQ(j["format"], 1);
    EXPECT_EQ(j["name"], "line7");
    EXPECT_EQ(j["form"]["product"], "H1");
    EXPECT_EQ(j["form"]["items"], json({"application", "recipe"}));
    EXPECT_EQ(j["form"]["slave_id"], "1");  // from the form, though not given
    EXPECT_EQ(j["container"]["sha256"], sha);
    EXPECT_EQ(j["container"]["size"], fs::file_size(ws / "project/H1.bin"));
    EXPECT_EQ(j["line"]["ports"], json({a.port(), b.port()}));
    EXPECT_EQ(ReadFileText(job).find("password"), std::string::npos);
    // The documented schema and the file agree, and both refuse a field nobody knows.
    const json schema =
        json::parse(ReadFileText(std::string(TARVEX_SOURCE_DIR) + "/docs/job-file.schema.json"));
    EXPECT_EQ(Violation(schema, j), "");
    json extra = j;
    extra["form"]["password"] = "4321";
    EXPECT_EQ(Violation(schema, extra), "$.form: password is not allowed");

    const ProgramResult r = Gang(job, {"--json"});
    ASSERT_EQ(r.exitStatus, 0) << r.out << r.err;
    CDownloadInfo info;
    Strings names;
    std::vector<std::uint32_t> sizes;
    ASSERT_TRUE(CheckDownloadContainer(ws / "project/H1.bin", info, names, sizes));
    for (const char* dir : {"a", "b"}) {
        EXPECT_EQ(ReadFileBytes(out / (std::string(dir) + "/03-application-H1.bin")),
                  info.m_arrApplication)
            << dir;
    }
    std::istringstream lines(ReadFileText(ws / "r.jsonl"));
    int records = 0;
    for (std::string line; std::getline(lines, line); ++records) {
        const json record = json::parse(line);
        EXPECT_EQ(record["job"]["name"], "line7");
        EXPECT_EQ(record["job"]["sha256"], sha);
        EXPECT_EQ(record["container"]["sha256"], sha);
        EXPECT_EQ(record["items"].size(), 3U);  // the application and both recipes
    }
    EXPECT_EQ(records, 2);
}

TEST_F(JobFiles, AJobsRetriesAndUnitIdsHoldUnlessTheCommandLineGivesItsOwn) {
    PanelSimProcess a({"--product-code", "17", "--out", out / "a"});
    ASSERT_FALSE(a.port().empty());
    const std::string job =
        MakeJob({a.port()}, {"--retries", "2", "--unit-id-from", "counter:L7-:1"});
    const json j = json::parse(ReadFileText(job));
    EXPECT_EQ(j["line"]["retries"], 2);
    EXPECT_EQ(j["line"]["unit_id_from"], "counter:L7-:1");
    EXPECT_EQ(j["line"]["allow_repeat"], nullptr);
    const json schema =
        json::parse(ReadFileText(std::string(TARVEX_SOURCE_DIR) + "/docs/job-file.schema.json"));
    EXPECT_EQ(Violation(schema, j), "");

    ProgramResult r = Gang(job);
    ASSERT_EQ(r.exitStatus, 0) << r.err;
    // They change nothing that is sent, so the command line may replace them.
    r = Gang(job, {"--retries", "0", "--unit-id-from", "counter:X-:5"});
    ASSERT_EQ(r.exitStatus, 0) << r.err;
    std::vector<json> records;
    std::istringstream lines(ReadFileText(ws / "r.jsonl"));
    for (std::string line; std::getline(lines, line);) {
        records.push_back(json::parse(line));
    }
    ASSERT_EQ(records.size(), 2U);
    EXPECT_EQ(records[0]["unit_id"], "L7-1");
    EXPECT_EQ(records[0]["attempts"], 3);
    EXPECT_EQ(records[1]["unit_id"], "X-5");
    EXPECT_EQ(records[1]["attempts"], 1);
}

TEST_F(JobFiles, AContainerChangedSinceTheJobIsRefusedNamingBothHashes) {
    const std::string job = MakeJob({"/dev/null-port"});
    const std::string pinned = *Sha256OfFile(ws / "project/H1.bin");
    std::vector<std::uint8_t> bytes = ReadFileBytes(ws / "project/H1.bin");
    bytes.back() ^= 0x01;  // the same size, one bit changed
    ws.WriteBytes("project/H1.bin", bytes);
    const std::string now = *Sha256OfFile(ws / "project/H1.bin");

    for (const Strings& command : {Strings{"gang"}, Strings{"station", "--count", "1"}}) {
        Strings args = command;
        args.insert(args.end(), {"--sysfs-root", sysfs.path(), "--job", job});
        const ProgramResult r =
            RunProgram(ProjectBinary("tarvex-cli"), args, 20s, elsewhere.path());
        EXPECT_EQ(r.exitStatus, 3) << command[0] << ": " << r.err;
        EXPECT_NE(r.err.find("the container changed since the job was made"), std::string::npos)
            << r.err;
        EXPECT_NE(r.err.find(pinned), std::string::npos) << r.err;
        EXPECT_NE(r.err.find(now), std::string::npos) << r.err;
    }
    EXPECT_FALSE(fs::exists(ws / "r.jsonl"));  // nothing was loaded
    const ProgramResult show =
        RunProgram(ProjectBinary("tarvex-cli"), {"job", "show", job}, 20s, elsewhere.path());
    EXPECT_EQ(show.exitStatus, 3);
    EXPECT_NE(show.err.find(now), std::string::npos) << show.err;
}

TEST_F(JobFiles, OptionsThatChangeWhatIsSentAreRefusedAndNamed) {
    const std::string job = MakeJob({"/dev/null-port"});
    struct Case {
        Strings options;
        std::string named;
    };
    const Case cases[] = {
        {{"--items", "all"}, "--items would change what is sent"},
        {{"--file", ws / "project/H1.bin"}, "--file would change what is sent"},
        {{"--product", "H1", "--baud", "9600"}, "--product and --baud would change what is sent"},
        {{"--slave-id", "3"}, "--slave-id would change"},
        {{"--usb"}, "--usb would change"},
        {{"--echo", "discard"}, "--echo would change"},
        {{"--rs485"}, "--rs485 would change"},
        {{"--no-rs485"}, "--rs485 would change"},
        // The line's settings the job fixes: not what is sent, but not the operator's either.
        {{"--port", "/dev/ttyUSB0"}, "--port: the job \"line7\" names its own"},
        {{"--report", "other.jsonl"}, "--report: the job \"line7\" names its own"},
    };
    for (const Case& c : cases) {
        const ProgramResult r = Gang(job, c.options);
        EXPECT_EQ(r.exitStatus, 2) << c.options[0];
        EXPECT_NE(r.err.find(c.named), std::string::npos) << c.options[0] << ": " << r.err;
    }
    // A job that is no job says where it went wrong.
    ws.Write("broken.json", R"({"format": 1, "name": "x", "workspace": "/", "colour": "red"})");
    const ProgramResult broken = Gang(ws / "broken.json");
    EXPECT_EQ(broken.exitStatus, 2);
    EXPECT_NE(broken.err.find("unknown field \"colour\""), std::string::npos) << broken.err;
}

// The echo mode and RS-485 are written beside the line settings and applied by the run: the
// echoing panel is loaded only with its echo discarded, and a port without an RS-485 mode does
// not open for a job that asks for it.
TEST_F(JobFiles, AJobCarriesTheTwoWireOptionsAndItsRunAppliesThem) {
    const json schema =
        json::parse(ReadFileText(std::string(TARVEX_SOURCE_DIR) + "/docs/job-file.schema.json"));
    {
        PanelSimProcess sim({"--product-code", "17", "--out", out / "e", "--echo"});
        ASSERT_FALSE(sim.port().empty());
        const std::string job = MakeJob({sim.port()}, {"--echo", "discard"});
        const json j = json::parse(ReadFileText(job));
        EXPECT_EQ(j["form"]["echo"], "Discard");
        EXPECT_EQ(j["form"]["rs485"], false);
        EXPECT_EQ(Violation(schema, j), "");
        const ProgramResult r = Gang(job);
        EXPECT_EQ(r.exitStatus, 0) << r.out << r.err;
    }
    PtyPair plain;
    // The first run saved its Discard in dnld.sv, which a job made now would take over.
    const std::string job = MakeJob({plain.slavePath()}, {"--rs485", "--echo", "none", "--force"});
    const json j = json::parse(ReadFileText(job));
    EXPECT_EQ(j["form"]["echo"], "None");
    EXPECT_EQ(j["form"]["rs485"], true);
    EXPECT_EQ(Violation(schema, j), "");
    const ProgramResult r = Gang(job);
    EXPECT_NE(r.exitStatus, 0) << r.out << r.err;
    EXPECT_NE(r.err.find("Cannot open " + plain.slavePath() + " for two-wire RS-485"),
              std::string::npos)
        << r.err;
}

TEST_F(JobFiles, JobCreateRefusesToReplaceAJobAndNeedsAContainer) {
    const std::string job = MakeJob({});
    const ProgramResult again = RunProgram(
        ProjectBinary("tarvex-cli"),
        {"-C", ws.path(), "job", "create", job, "--product", "H1", "--items", "all"}, 20s);
    EXPECT_EQ(again.exitStatus, 2);
    EXPECT_NE(again.err.find("--force replaces it"), std::string::npos) << again.err;

    ws.Write("project/H2.bin", "not a container");
    const ProgramResult invalid = RunProgram(
        ProjectBinary("tarvex-cli"),
        {"-C", ws.path(), "job", "create", ws / "h2.json", "--product", "H1", "--bootloader",
         "BL1.2-1", "--firmware", "FW1.5", "--file", ws / "project/H2.bin"},
        20s);
    EXPECT_NE(invalid.exitStatus, 0);
    EXPECT_FALSE(fs::exists(ws / "h2.json"));
}

TEST_F(JobFiles, GangRefusesOneDeviceNamedTwice) {
    PtyPair pty;
    const std::string link = ws / "serial-by-id-usb-Panel-if00";
    fs::create_symlink(pty.slavePath(), link);
    const ProgramResult r =
        RunProgram(ProjectBinary("tarvex-cli"),
                   {"gang", "--sysfs-root", sysfs.path(), "--product", "H1", "--bootloader",
                    "BL1.2-1", "--firmware", "FW1.5", "--port", link, "--port", pty.slavePath()},
                   20s, ws.path());
    EXPECT_EQ(r.exitStatus, 2) << r.err;
    EXPECT_NE(r.err.find(link + " and " + pty.slavePath() + " name one device"), std::string::npos)
        << r.err;
}

}  // namespace
}  // namespace tarvex::test

// What tarvex-cli download adds to the form's messages and how it behaves as a command-line
// habit expects: the saved port that is gone, the panel that never replies, the password that
// does not go on the command line, the cancel status, --quiet and --trace -.
#include <fcntl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

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

bool Has(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

class DownloadHints : public ::testing::Test {
  protected:
    void SetUp() override {
        fs::copy(std::string(TARVEX_BINARY_DIR) + "/sample-workspace", ws.path(),
                 fs::copy_options::recursive | fs::copy_options::overwrite_existing);
    }
    // H1 with its first version (which takes a password) and the application alone.
    Strings Args(const Strings& more) const {
        Strings all{"download",  "--sysfs-root", sysfs.path(),   "--progress", "lines",
                    "--product", "H1",           "--bootloader", "BL1.2-1",    "--firmware",
                    "FW1.5",     "--items",      "application"};
        all.insert(all.end(), more.begin(), more.end());
        return all;
    }
    ProgramResult Download(const Strings& more) {
        return RunProgram(ProjectBinary("tarvex-cli"), Args(more), 30s, ws.path());
    }

    TempDir ws;
    TempDir sysfs;
    ScopedEnv timingLog{"TARVEX_TIMING_LOG", (ws / "timing.csv").c_str()};
    ScopedEnv noPassword{"TARVEX_PASSWORD", nullptr};
};

TEST_F(DownloadHints, AMissingSavedPortIsRefusedAndThePresentOnesNamed) {
    PtyPair present;
    ScopedEnv extra("TARVEX_EXTRA_PORTS", present.slavePath().c_str());
    ws.Write("dnld.sv", "COM PORT:/dev/ttyUSB7\n[EOF]");
    const ProgramResult r = Download({"--password", "1234"});
    EXPECT_EQ(r.exitStatus, 3) << r.err;
    EXPECT_TRUE(Has(r.err, "the saved port /dev/ttyUSB7 is not present")) << r.err;
    EXPECT_TRUE(Has(r.err, "Ports present: " + present.slavePath())) << r.err;
    EXPECT_FALSE(Has(r.out, "Sending")) << "nothing may be sent";
}

TEST_F(DownloadHints, NoReplyTellsWhatWasTriedAndWhatToCheck) {
    PtyPair idle;  // opens, but nobody answers on it
    const ProgramResult r = Download(
        {"--port", idle.slavePath(), "--password", "1234", "--baud", "115200", "--slave-id", "7"});
    EXPECT_EQ(r.exitStatus, 1) << r.err;
    // The form's own message stays as it is; the hint follows it.
    const std::size_t form = r.err.find("Error: Download not successful!\n");
    const std::size_t hint = r.err.find("tarvex-cli: the panel never replied. Tried " +
                                        idle.slavePath() + " at 115200 baud");
    ASSERT_NE(form, std::string::npos) << r.err;
    ASSERT_NE(hint, std::string::npos) << r.err;
    EXPECT_LT(form, hint);
    EXPECT_TRUE(Has(r.err, "slave ID 7")) << r.err;
    EXPECT_TRUE(Has(r.err, "in its loader")) << r.err;
    // And before anything was sent, one line said what would be.
    EXPECT_TRUE(Has(r.out, "Sending application of H1 (BL1.2-1, FW1.5) to " + idle.slavePath() +
                               ": 115200 baud"))
        << r.out;
}

TEST_F(DownloadHints, ALostLineIsToldAsSuchNotAsASilentPanel) {
    PanelSimProcess sim({"--product-code", "17", "--fault", "frame=3:close"});
    const ProgramResult r = Download({"--port", sim.port(), "--password", "1234"});
    EXPECT_EQ(r.exitStatus, 1) << r.err;
    EXPECT_TRUE(Has(r.err, "tarvex-cli: the line was lost: " + sim.port() + " went away")) << r.err;
    EXPECT_FALSE(Has(r.err, "never replied")) << r.err;
}

TEST_F(DownloadHints, PasswordComesFromAFileOrTheEnvironmentNeverAsked) {
    PanelSimProcess sim({"--product-code", "17", "--password", "4321"});
    ASSERT_FALSE(sim.port().empty());
    ws.Write("right.txt", "4321\n");
    ws.Write("wrong.txt", "1111\r\n");
    struct Case {
        const char* name;
        Strings args;
        const char* environment;  // TARVEX_PASSWORD, or nullptr
        int status;
        const char* err;
    };
    const Case cases[] = {
        {"from a file", {"--password-file", "right.txt"}, nullptr, 0, "Download Complete!"},
        {"a wrong one from a file (CR LF)",
         {"--password-file", "wrong.txt"},
         nullptr,
         12,
         "Password Verification Failed!"},
        {"from the environment", {}, "4321", 0, "Download Complete!"},
        {"the command line wins", {"--password", "1111"}, "4321", 12, "Password Verification"},
        {"none, and no terminal to ask on", {}, nullptr, 2, "needs a download password"},
        {"an unreadable file",
         {"--password-file", "missing.txt"},
         nullptr,
         2,
         "--password-file: cannot read missing.txt"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScopedEnv env("TARVEX_PASSWORD", c.environment);
        Strings args = {"--port", sim.port()};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const ProgramResult r = Download(args);
        EXPECT_EQ(r.exitStatus, c.status) << r.err;
        EXPECT_TRUE(Has(r.err, c.err)) << r.err;
    }
}

TEST_F(DownloadHints, AMissingPasswordIsAskedForOnATerminalWithoutEcho) {
    PanelSimProcess sim({"--product-code", "17", "--password", "4321"});
    PtyPair terminal;
    // A terminal as a person has it: lines, and what is typed echoed.
    termios t{};
    ASSERT_EQ(::tcgetattr(terminal.master(), &t), 0);
    t.c_lflag |= ICANON | ECHO;
    ASSERT_EQ(::tcsetattr(terminal.master(), TCSANOW, &t), 0);
    const UniqueFd input(::open(terminal.slavePath().c_str(), O_RDWR | O_NOCTTY));
    ASSERT_GE(input.get(), 0);
    const std::string outPath = ws / "cli.out";
    SpawnActions actions;
    actions.Dup(input.get(), 0);
    actions.OpenForWriting(1, outPath);
    actions.Dup(1, 2);
    actions.ChangeDirectory(ws.path());
    const pid_t pid = Spawn(ProjectBinary("tarvex-cli"), Args({"--port", sim.port()}), actions);
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (!Has(ReadFileText(outPath), "Download password: ") &&
           std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(10ms);
    }
    const std::string typed = "4321\n";
    terminal.Write(std::vector<std::uint8_t>(typed.begin(), typed.end()));
    EXPECT_EQ(ExitStatusWithin(pid, 20s), 0) << ReadFileText(outPath);
    EXPECT_TRUE(Has(ReadFileText(outPath), "Tarvex: Download Complete!"));
    const std::vector<std::uint8_t> echoed = terminal.Read(64, 200ms);
    EXPECT_FALSE(Has(std::string(echoed.begin(), echoed.end()), "4321")) << "echoed";
}

TEST_F(DownloadHints, QuietPrintsTheResultAndTheTraceGoesToStandardError) {
    PanelSimProcess sim({"--product-code", "17"});
    const ProgramResult r =
        Download({"--port", sim.port(), "--password", "1234", "--quiet", "--trace", "-"});
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_TRUE(Has(r.err, "# tarvex-cli download: ms since Download")) << r.err;
    EXPECT_TRUE(Has(r.err, " tx 01 51 ")) << r.err;
    EXPECT_TRUE(Has(r.err, " rx 01 ")) << r.err;
    EXPECT_TRUE(Has(r.err, "Tarvex: Download Complete!\n")) << r.err;
    EXPECT_FALSE(fs::exists(ws / "-"));
}

// `timeout -s INT` delivers its signal twice within microseconds (to the program and to its
// process group). That must still be one cancel: the panel is told, and the status is 6.
TEST_F(DownloadHints, TimeoutsDoubleSignalStillCancelsOnTheLine) {
    if (::access("/usr/bin/timeout", X_OK) != 0) {
        GTEST_SKIP() << "no timeout program";
    }
    TempDir panelOut;
    PanelSimProcess sim(
        {"--product-code", "17", "--out", panelOut.path(), "--reply-delay-ms", "200"});
    Strings args = {"--preserve-status", "-s", "INT", "1.5", ProjectBinary("tarvex-cli")};
    const Strings download =
        Args({"--port", sim.port(), "--password", "1234", "--trace", "trace.txt"});
    args.insert(args.end(), download.begin(), download.end());
    const ProgramResult r = RunProgram("/usr/bin/timeout", args, 20s, ws.path());
    EXPECT_EQ(r.exitStatus, 6) << r.out << r.err;
    EXPECT_TRUE(Has(r.err, "tarvex-cli: interrupted: cancelling")) << r.err;
    EXPECT_FALSE(Has(r.err, "stopped at once")) << r.err;
    // The panel got the Cancel command (item 0, action 3).
    EXPECT_TRUE(Has(ReadFileText(ws / "trace.txt"), " tx 01 51 00 03 "));
}

}  // namespace
}  // namespace tarvex::test

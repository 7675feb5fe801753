// What tarvex-cli download adds to the form's messages and how it behaves as a command-line
// habit expects: the saved port that is gone, the panel that never replies, the password that
// does not go on the command line, the cancel status, --quiet and --trace -.
#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>
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

// The form's default COM1 is nobody's choice: with no port named and none saved, nothing is
// sent anywhere, and the ports present are named instead.
TEST_F(DownloadHints, NoPortChosenSendsNothingAndNamesThePorts) {
    PtyPair first;
    PtyPair second;
    const std::string both = first.slavePath() + ":" + second.slavePath();
    ScopedEnv extra("TARVEX_EXTRA_PORTS", both.c_str());
    const struct {
        const char* name;
        const char* settings;  // nullptr: no dnld.sv
    } cases[] = {
        {"no settings file", nullptr},
        {"a settings file without a port", "SLAVE ID:1\nBAUD RATE:19200\n[EOF]"},
        {"a settings file with an empty port", "COM PORT:\n[EOF]"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove(ws / "dnld.sv");
        if (c.settings != nullptr) {
            ws.Write("dnld.sv", c.settings);
        }
        const ProgramResult r = Download({"--password", "1234"});
        EXPECT_EQ(r.exitStatus, 2) << r.err;
        EXPECT_TRUE(Has(r.err, "tarvex-cli: no port chosen: name it with --port")) << r.err;
        EXPECT_TRUE(Has(r.err, "\n    " + first.slavePath() + "\n")) << r.err;
        EXPECT_TRUE(Has(r.err, "\n    " + second.slavePath())) << r.err;
        EXPECT_FALSE(Has(r.out, "Sending")) << r.out;
        EXPECT_TRUE(first.Read(1, 100ms).empty()) << "a byte reached " << first.slavePath();
        EXPECT_TRUE(second.Read(1, 100ms).empty()) << "a byte reached " << second.slavePath();
    }
}

// A saved link to a live device (as /dev/serial/by-path or a udev rule makes them) is taken as
// --port takes it, although the probe lists only the device itself.
TEST_F(DownloadHints, ASavedLinkToALiveDeviceIsTaken) {
    PanelSimProcess sim({"--product-code", "17"});
    ASSERT_FALSE(sim.port().empty());
    ScopedEnv extra("TARVEX_EXTRA_PORTS", nullptr);
    const std::string link = ws / "by-path-link";
    fs::create_symlink(sim.port(), link);
    ws.Write("dnld.sv", "COM PORT:" + link + "\n[EOF]");
    const ProgramResult r = Download({"--password", "1234"});
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_TRUE(Has(r.out, "Sending application of H1 (BL1.2-1, FW1.5) to " + link)) << r.out;

    // A link whose device is gone is still "not present".
    fs::remove(link);
    fs::create_symlink(ws / "no-such-device", link);
    const ProgramResult gone = Download({"--password", "1234"});
    EXPECT_EQ(gone.exitStatus, 3) << gone.err;
    EXPECT_TRUE(Has(gone.err, "the saved port " + link + " is not present")) << gone.err;
}

// The system's own text for a refused open stays as it is; the fix follows it. Run as a user
// outside the device's group, which only root can arrange here.
TEST_F(DownloadHints, APortRefusedForWantOfPermissionGetsTheFix) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "needs root to run the tool as a user outside the device's group";
    }
    const group* dialout = ::getgrnam("dialout");
    if (dialout == nullptr || ::access("/usr/bin/setpriv", X_OK) != 0) {
        GTEST_SKIP() << "needs the group dialout and setpriv";
    }
    PtyPair device;
    ASSERT_EQ(::chown(device.slavePath().c_str(), 0, dialout->gr_gid), 0);
    ASSERT_EQ(::chmod(device.slavePath().c_str(), 0660), 0);
    fs::permissions(ws.path(), fs::perms::all);
    Strings args = {"--reuid=nobody", "--regid=nogroup", "--clear-groups",
                    ProjectBinary("tarvex-cli")};
    const Strings download = Args({"--port", device.slavePath(), "--password", "1234"});
    args.insert(args.end(), download.begin(), download.end());
    const ProgramResult r = RunProgram("/usr/bin/setpriv", args, 20s, ws.path());
    EXPECT_EQ(r.exitStatus, 4) << r.err;
    EXPECT_TRUE(
        Has(r.err, "--port: " + device.slavePath() +
                       " does not open (permission denied): permission denied (root:dialout "
                       "0660; nobody is not in dialout): sudo usermod -aG dialout nobody"))
        << r.err;
    EXPECT_TRUE(device.Read(1, 100ms).empty());
}

TEST_F(DownloadHints, AnUnknownCommandIsNamedWithTheNearestOne) {
    const struct {
        Strings args;
        const char* err;
    } cases[] = {
        {{"dowload"}, "tarvex-cli: unknown command \"dowload\"; did you mean \"download\"?"},
        {{"-C", ".", "prots", "--json"}, "unknown command \"prots\"; did you mean \"ports\"?"},
        {{"frobnicate"}, "tarvex-cli: unknown command \"frobnicate\". The commands are "},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args.back());
        const ProgramResult r = RunProgram(ProjectBinary("tarvex-cli"), c.args, 10s, ws.path());
        EXPECT_EQ(r.exitStatus, 2) << r.err;
        EXPECT_TRUE(Has(r.err, c.err)) << r.err;
        EXPECT_FALSE(Has(r.err, "A subcommand is required")) << r.err;
    }
}

TEST_F(DownloadHints, AMissingContainerIsNamedByTheFullPathLookedFor) {
    PtyPair idle;
    fs::rename(ws / "project/H1.bin", ws / "project/H1.bin.away");
    const ProgramResult r = Download({"--port", idle.slavePath(), "--password", "1234"});
    const std::size_t form = r.err.find("Tarvex: Bin file does not exist!\n");
    const std::size_t hint =
        r.err.find("tarvex-cli: looked for the container at " + (ws / "project/H1.bin"));
    ASSERT_NE(form, std::string::npos) << r.err;
    ASSERT_NE(hint, std::string::npos) << r.err;
    EXPECT_LT(form, hint);
    EXPECT_TRUE(idle.Read(1, 100ms).empty());
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

// --rs485 never downloads without the direction control: a driver without the mode (a
// pseudo-terminal) fails the open and says so; a network port is refused before it is reached.
TEST_F(DownloadHints, Rs485WithoutTheDriversModeIsRefusedNamingThePort) {
    PtyPair plain;
    const struct {
        std::string port;
        int status;
        std::string said;
    } cases[] = {
        {plain.slavePath(), 4,
         "Cannot open " + plain.slavePath() +
             " for two-wire RS-485: the driver has no RS-485 mode"},
        {"socket://127.0.0.1:1", 2,
         "--rs485: socket://127.0.0.1:1 is a network port; RS-485 direction control is set on "
         "the device server"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.port);
        const ProgramResult r = Download({"--port", c.port, "--password", "1234", "--rs485"});
        EXPECT_EQ(r.exitStatus, c.status) << r.err;
        EXPECT_TRUE(Has(r.err, c.said)) << r.err;
        EXPECT_FALSE(Has(r.err, "re-start your PC")) << r.err;
    }
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

// tarvex-panel-sim as a program: each test starts it, plays the tool on the printed pty slave
// (plain POSIX open, raw mode, hand-built frames) and looks at what the panel wrote.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "support/HandFrames.h"
#include "support/PanelSimProcess.h"
#include "support/PtyPair.h"
#include "support/RunProgram.h"
#include "support/TempDir.h"

namespace tarvex::test {
namespace {

using namespace std::chrono_literals;

bool Exists(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

using PanelSim = PanelSimProcess;

// The tool's end of the line.
class Line {
  public:
    explicit Line(const std::string& path) {
        fd_.reset(::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC));
        if (fd_.get() < 0) {
            throw std::runtime_error("cannot open " + path);
        }
        struct termios tio {};
        ::tcgetattr(fd_.get(), &tio);
        ::cfmakeraw(&tio);
        ::tcsetattr(fd_.get(), TCSANOW, &tio);
    }

    void Write(const Bytes& bytes) {
        ASSERT_EQ(::write(fd_.get(), bytes.data(), bytes.size()),
                  static_cast<ssize_t>(bytes.size()));
    }

    // Up to count bytes, within the time-out.
    Bytes Read(std::size_t count, std::chrono::milliseconds timeout) {
        return ReadFor(fd_.get(), count, timeout, &hungUp_);
    }

    Bytes Exchange(const Bytes& frame) {
        Write(frame);
        return Read(7, 2000ms);
    }

    int fd() const { return fd_.get(); }
    bool hungUp() const { return hungUp_; }

  private:
    UniqueFd fd_;
    bool hungUp_ = false;
};

nlohmann::json ReadJson(const std::string& path) {
    return nlohmann::json::parse(ReadFileText(path));
}

// Stops the panel as a user would and reads the report it writes on the way out.
nlohmann::json StopAndReport(PanelSim& sim, const std::string& out) {
    sim.Signal(SIGTERM);
    EXPECT_EQ(sim.WaitExit(3000ms), std::optional<int>(0));
    return ReadJson(out + "/session.json");
}

TEST(PanelSimProgram, ReceivesItemsIntoTheOutputFolder) {
    TempDir dir;
    const std::string out = dir / "out";
    const std::string log = dir / "events.jsonl";
    PanelSim sim({"--out", out, "--log", log, "--exit-after-over", "--product-code", "4660",
                  "--password", "4321"});
    ASSERT_FALSE(sim.port().empty());
    Line line(sim.port());

    Bytes app(2 * 16 + 1);
    for (std::size_t i = 0; i < app.size(); ++i) {
        app[i] = static_cast<std::uint8_t>(0xA0 + i);
    }
    const Bytes appBlock = InfoBlock(BlockFor(app, 16, "Line-7"));
    const Bytes open = RequestFrame(1, 'Q', 0x0000, {1});  // USB link byte
    EXPECT_EQ(line.Exchange(open), ReplyFrame(open, 0));
    const Bytes info = RequestFrame(1, 'R', 0x0000, appBlock);
    EXPECT_EQ(line.Exchange(info), ReplyFrame(info, 0));
    for (std::uint16_t n = 0; n < 3; ++n) {
        Bytes packet(app.begin() + n * 16, app.begin() + std::min<std::size_t>(n * 16 + 16, 33));
        packet.resize(16, 0);
        const Bytes frame = RequestFrame(1, 'P', n, packet);
        EXPECT_EQ(line.Exchange(frame), ReplyFrame(frame, 0)) << "packet " << n;
    }
    const Bytes recipeOpen = RequestFrame(1, 'Q', 0x0004);
    EXPECT_EQ(line.Exchange(recipeOpen), ReplyFrame(recipeOpen, 0));
    const Bytes recipeInfo = RequestFrame(1, 'R', 0x0004, InfoBlock(BlockFor({}, 16, "R 1")));
    EXPECT_EQ(line.Exchange(recipeInfo), ReplyFrame(recipeInfo, 0));
    const Bytes over = RequestFrame(1, 'Q', 0x0200);
    EXPECT_EQ(line.Exchange(over), ReplyFrame(over, 0));
    EXPECT_EQ(sim.WaitExit(3000ms), std::optional<int>(0));

    EXPECT_EQ(ReadFileBytes(out + "/01-application-Line-7.bin"), app);
    EXPECT_EQ(ReadFileBytes(out + "/01-application-Line-7.info"), appBlock);
    EXPECT_TRUE(ReadFileBytes(out + "/02-recipe-R_1.bin").empty());
    EXPECT_TRUE(Exists(out + "/02-recipe-R_1.info"));

    const nlohmann::json report = ReadJson(out + "/session.json");
    ASSERT_EQ(report["items"].size(), 2u);
    EXPECT_EQ(report["items"][0]["name"], "Line-7");
    EXPECT_EQ(report["items"][0]["size"], 33);
    EXPECT_EQ(report["items"][0]["packets_received"], 3);
    EXPECT_EQ(report["items"][0]["link_byte"], 1);
    EXPECT_EQ(report["items"][0]["byte_sum_ok"], true);
    EXPECT_EQ(report["items"][0]["complete"], true);
    EXPECT_EQ(report["items"][1]["kind"], "recipe");
    EXPECT_EQ(report["items"][1]["complete"], true);
    EXPECT_EQ(report["frames_received"], 8);
    EXPECT_EQ(report["replies_sent"], 8);
    EXPECT_EQ(report["over_received"], true);

    int rx = 0;
    int tx = 0;
    const std::string text = ReadFileText(log);
    std::size_t from = 0;
    while (from < text.size()) {
        const std::size_t end = text.find('\n', from);
        ASSERT_NE(end, std::string::npos);
        const auto event = nlohmann::json::parse(text.substr(from, end - from));
        EXPECT_TRUE(event.contains("t_ms"));
        rx += event.value("dir", "") == "rx";
        tx += event.value("dir", "") == "tx";
        from = end + 1;
    }
    EXPECT_EQ(rx, 8);
    EXPECT_EQ(tx, 8);
}

TEST(PanelSimProgram, FaultRefusesTheApplicationWithPasswordStatus) {
    TempDir dir;
    PanelSim sim({"--out", dir / "out", "--fault",
                  "item=application,phase=open,count=always:status=2", "--fault",
                  "frame=4:no-reply"});
    Line line(sim.port());
    const Bytes open = RequestFrame(1, 'Q', 0x0000);
    for (int attempt = 0; attempt < 3; ++attempt) {
        EXPECT_EQ(line.Exchange(open), ReplyFrame(open, 2)) << "attempt " << attempt;
    }
    const Bytes over = RequestFrame(1, 'Q', 0x0200);
    line.Write(over);
    EXPECT_TRUE(line.Read(7, 150ms).empty());  // the 4th frame's reply is lost
    EXPECT_EQ(line.Exchange(over), ReplyFrame(over, 0));

    const nlohmann::json report = StopAndReport(sim, dir / "out");
    EXPECT_TRUE(report["items"].empty());
    EXPECT_EQ(report["frames_received"], 5);
    EXPECT_EQ(report["replies_sent"], 4);
}

TEST(PanelSimProgram, CloseAfterHangsUpTheLine) {
    PanelSim sim({"--close-after", "1"});
    Line line(sim.port());
    const Bytes open = RequestFrame(1, 'Q', 0x0000);
    EXPECT_EQ(line.Exchange(open), ReplyFrame(open, 0));  // answered before the line drops
    EXPECT_TRUE(line.Read(1, 3000ms).empty());
    EXPECT_TRUE(line.hungUp());
    errno = 0;
    EXPECT_EQ(::write(line.fd(), open.data(), open.size()), -1);
    EXPECT_EQ(errno, EIO);
    EXPECT_EQ(sim.WaitExit(3000ms), std::optional<int>(0));
}

TEST(PanelSimProgram, LinkAndPortFileNameTheSlave) {
    TempDir dir;
    const std::string link = dir / "ttyPANEL";
    const std::string portFile = dir / "port";
    ASSERT_EQ(::symlink("/nonexistent", link.c_str()), 0);  // left over from an earlier run
    PanelSim sim({"--link", link, "--port-file", portFile});
    ASSERT_FALSE(sim.port().empty());
    EXPECT_EQ(std::filesystem::read_symlink(link).string(), sim.port());
    EXPECT_EQ(ReadFileText(portFile), sim.port() + "\n");

    Line line(link);
    const Bytes over = RequestFrame(1, 'Q', 0x0200);
    EXPECT_EQ(line.Exchange(over), ReplyFrame(over, 0));
    sim.Signal(SIGINT);
    EXPECT_EQ(sim.WaitExit(3000ms), std::optional<int>(0));
    EXPECT_FALSE(Exists(link));
}

TEST(PanelSimProgram, PortSurvivesTheToolClosingIt) {
    PanelSim sim({});
    const Bytes open = RequestFrame(1, 'Q', 0x0003);
    {
        Line first(sim.port());
        EXPECT_EQ(first.Exchange(open), ReplyFrame(open, 0));
    }
    Line second(sim.port());
    EXPECT_EQ(second.Exchange(open), ReplyFrame(open, 0));
}

TEST(PanelSimProgram, StaysSilentForOtherAddressesAndNoise) {
    TempDir dir;
    PanelSim sim({"--slave-id", "7", "--out", dir / "out"});
    Line line(sim.port());
    line.Write(RequestFrame(1, 'Q', 0x0000));
    EXPECT_TRUE(line.Read(7, 150ms).empty());

    Bytes noisy{0xFF, 0x00, 0x42};
    const Bytes open = RequestFrame(7, 'Q', 0x0002);
    noisy.insert(noisy.end(), open.begin(), open.end());
    line.Write(noisy);
    EXPECT_EQ(line.Read(7, 2000ms), ReplyFrame(open, 0));

    const nlohmann::json report = StopAndReport(sim, dir / "out");
    EXPECT_EQ(report["ignored_frames"], 1);
    EXPECT_EQ(report["frames_received"], 1);
    EXPECT_GE(report["garbage_bytes"].get<int>(), 3);
}

TEST(PanelSimProgram, StopSignalKeepsTheUnfinishedItem) {
    TempDir dir;
    PanelSim sim({"--out", dir / "out"});
    Line line(sim.port());
    const Bytes data(40, 0x5A);
    const Bytes open = RequestFrame(1, 'Q', 0x0005);
    ASSERT_EQ(line.Exchange(open), ReplyFrame(open, 0));
    const Bytes info = RequestFrame(1, 'R', 0x0005, InfoBlock(BlockFor(data, 16, "logo")));
    ASSERT_EQ(line.Exchange(info), ReplyFrame(info, 0));
    const Bytes packet = RequestFrame(1, 'P', 0, Bytes(16, 0x5A));
    ASSERT_EQ(line.Exchange(packet), ReplyFrame(packet, 0));

    const nlohmann::json item = StopAndReport(sim, dir / "out")["items"][0];
    EXPECT_EQ(ReadFileBytes(dir / "out/01-bitmap-logo.bin"), Bytes(16, 0x5A));
    EXPECT_EQ(item["complete"], false);
    EXPECT_EQ(item["cancelled"], false);
    EXPECT_EQ(item["packets_received"], 1);
}

TEST(PanelSimProgram, PacedLineTakesTheTimeOfItsBytes) {
    // At 1200 baud a byte takes 8.3 ms: 6 bytes in and 7 bytes out cannot take less than 108 ms.
    PanelSim sim({"--baud", "1200"});
    Line line(sim.port());
    const Bytes over = RequestFrame(1, 'Q', 0x0200);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(line.Exchange(over), ReplyFrame(over, 0));
    EXPECT_GE(std::chrono::steady_clock::now() - start, 105ms);
}

TEST(PanelSimProgram, IdleExitEndsAQuietRun) {
    PanelSim sim({"--idle-exit-ms", "100"});
    EXPECT_EQ(sim.WaitExit(3000ms), std::optional<int>(0));
}

TEST(PanelSimProgram, CommandLineErrors) {
    TempDir dir;
    const auto help = RunProgram(PanelSimProcess::Path(), {"--help"}, 10s);
    EXPECT_EQ(help.exitStatus, 0);
    EXPECT_NE(help.out.find("--fault"), std::string::npos);
    EXPECT_NE(help.out.find("--exit-after-over"), std::string::npos);

    EXPECT_EQ(RunProgram(PanelSimProcess::Path(), {"--fault", "frame=0:close"}, 10s).exitStatus, 2);
    EXPECT_EQ(RunProgram(PanelSimProcess::Path(), {"--slave-id", "256"}, 10s).exitStatus, 2);
    EXPECT_EQ(RunProgram(PanelSimProcess::Path(), {"--no-such-option"}, 10s).exitStatus, 2);

    // A link path that is a real file is not the panel's to replace.
    const std::string file = dir.Write("precious", "keep me");
    const auto refused =
        RunProgram(PanelSimProcess::Path(), {"--link", file, "--idle-exit-ms", "1"}, 10s);
    EXPECT_EQ(refused.exitStatus, 1);
    EXPECT_NE(refused.err.find("not a symbolic link"), std::string::npos);
    EXPECT_EQ(ReadFileText(file), "keep me");

    const auto noFolder =
        RunProgram(PanelSimProcess::Path(), {"--out", file + "/out", "--idle-exit-ms", "1"}, 10s);
    EXPECT_EQ(noFolder.exitStatus, 1);
}

}  // namespace
}  // namespace tarvex::test

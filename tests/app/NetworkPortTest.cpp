// Network ports end to end: tarvex-cli against Debian's ser2net on loopback, whose serial side
// is the simulated panel's pseudo-terminal; and the two-wire echo against the echoing panel.
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "download/DownloadContainer.h"
#include "serial/NetworkLine.h"
#include "serial/SerialPort.h"
#include "support/PanelSimProcess.h"
#include "support/RecordingUi.h"
#include "support/RunProgram.h"
#include "support/ScopedEnv.h"
#include "support/TempDir.h"

namespace tarvex::test {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Strings = std::vector<std::string>;
using Clock = std::chrono::steady_clock;

const Strings kH1 = {"--product", "H1", "--bootloader", "BL1.2-1", "--firmware", "FW1.5"};

// A loopback port nobody listens on just now.
int FreePort() {
    const UniqueFd s(::socket(AF_INET, SOCK_STREAM, 0));
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    EXPECT_EQ(::bind(s.get(), reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    socklen_t len = sizeof a;
    EXPECT_EQ(::getsockname(s.get(), reinterpret_cast<sockaddr*>(&a), &len), 0);
    return ntohs(a.sin_port);
}

// Whether something listens on the loopback port, seen in the kernel's socket table rather
// than by connecting: ser2net takes a connection as a user, opens the serial device for it and
// is busy closing it again when the test's own connection comes.
bool Listening(int port) {
    std::ifstream table("/proc/net/tcp");
    std::string line;
    std::getline(table, line);  // the heading
    char wanted[16];
    std::snprintf(wanted, sizeof wanted, ":%04X", static_cast<unsigned>(port));
    while (std::getline(table, line)) {
        std::istringstream fields(line);
        std::string slot, local, remote, state;
        fields >> slot >> local >> remote >> state;
        if (state == "0A" && local.size() > 5 && local.compare(local.size() - 5, 5, wanted) == 0) {
            return true;
        }
    }
    return false;
}

// ser2net in the foreground with an RFC 2217 accepter and a raw accepter on loopback, for one
// serial device.
class Ser2net {
  public:
    Ser2net(const std::string& dir, const std::string& device)
        : rfc2217(FreePort()), raw(FreePort()) {
        const std::string config = dir + "/ser2net.yaml";
        std::ofstream(config) << "connection: &rfc\n"
                              << "  accepter: telnet(rfc2217),tcp,127.0.0.1," << rfc2217 << "\n"
                              << "  connector: serialdev," << device << ",115200n81,local\n"
                              << "connection: &raw\n"
                              << "  accepter: tcp,127.0.0.1," << raw << "\n"
                              << "  connector: serialdev," << device << ",115200n81,local\n";
        SpawnActions actions;
        actions.OpenForWriting(1, dir + "/ser2net.log");
        actions.Dup(1, 2);
        pid_ = Spawn("/usr/sbin/ser2net", {"-n", "-d", "-c", config}, actions);
        const auto deadline = Clock::now() + 10s;
        while (Clock::now() < deadline && !(Listening(rfc2217) && Listening(raw))) {
            std::this_thread::sleep_for(20ms);
        }
    }
    ~Ser2net() { Kill(); }
    void Kill() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            int status = 0;
            ::waitpid(pid_, &status, 0);
            pid_ = -1;
        }
    }
    std::string Rfc2217Port() const { return "rfc2217://127.0.0.1:" + std::to_string(rfc2217); }
    std::string RawPort() const { return "socket://127.0.0.1:" + std::to_string(raw); }

    const int rfc2217;
    const int raw;

  private:
    pid_t pid_ = -1;
};

bool Has(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

class NetworkPort : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!fs::exists("/usr/sbin/ser2net")) {
            GTEST_SKIP() << "ser2net is not installed";
        }
        fs::copy(std::string(TARVEX_BINARY_DIR) + "/sample-workspace", ws.path(),
                 fs::copy_options::recursive | fs::copy_options::overwrite_existing);
    }
    ProgramResult Download(const Strings& args) {
        Strings all{"download", "--sysfs-root", sysfs.path(), "--progress", "lines"};
        all.insert(all.end(), kH1.begin(), kH1.end());
        all.insert(all.end(), args.begin(), args.end());
        return RunProgram(ProjectBinary("tarvex-cli"), all, 60s, ws.path());
    }
    std::vector<std::uint8_t> Application() {
        CDownloadInfo info;
        std::vector<std::string> names;
        std::vector<std::uint32_t> sizes;
        EXPECT_TRUE(CheckDownloadContainer(ws / "project/H1.bin", info, names, sizes));
        return {info.m_arrApplication.begin(), info.m_arrApplication.end()};
    }

    TempDir ws;
    ScopedEnv timingLog{"TARVEX_TIMING_LOG", (ws / "timing.csv").c_str()};
    ScopedEnv noExtraPorts{"TARVEX_EXTRA_PORTS", nullptr};
    ScopedEnv password{"TARVEX_PASSWORD", "1234"};
    TempDir sysfs;
    TempDir panelOut;
    TempDir serverDir;
};

TEST_F(NetworkPort, TheSampleArrivesByteForByteOverRfc2217AndRawTcp) {
    for (const bool rfc2217 : {true, false}) {
        SCOPED_TRACE(rfc2217 ? "rfc2217" : "socket");
        TempDir out;
        PanelSimProcess sim({"--product-code", "17", "--out", out.path(), "--exit-after-over"});
        ASSERT_FALSE(sim.port().empty());
        Ser2net server(serverDir.path(), sim.port());
        const ProgramResult r =
            Download({"--port", rfc2217 ? server.Rfc2217Port() : server.RawPort(), "--baud",
                      "115200", "--items", "application"});
        ASSERT_EQ(r.exitStatus, 0) << r.out << r.err;
        EXPECT_EQ(ReadFileBytes(out / "01-application-H1.bin"), Application());
    }
}

// ser2net's admin port shows no device settings for a pseudo-terminal ("device config: ?"), so
// what it took is judged from its RFC 2217 answers, which the line compares with the request.
TEST_F(NetworkPort, TheServerConfirmsTheLineSettingsAskedFor) {
    PanelSimProcess sim({"--product-code", "17"});
    ASSERT_FALSE(sim.port().empty());
    Ser2net server(serverDir.path(), sim.port());
    RecordingUi ui;
    CSerialPort port(ui);
    ASSERT_TRUE(port.Open(server.Rfc2217Port())) << SerialErrorText(port.LastError());
    EXPECT_TRUE(port.ConfigureLine(9600, 8, 0, 2, 0)) << SerialErrorText(port.LastError());
    EXPECT_TRUE(port.ConfigureLine(19200, 7, 0, 1, 2)) << SerialErrorText(port.LastError());
}

TEST_F(NetworkPort, AServerKilledMidTransferIsALostLine) {
    PanelSimProcess sim({"--product-code", "17", "--baud", "115200"});
    ASSERT_FALSE(sim.port().empty());
    Ser2net server(serverDir.path(), sim.port());
    std::thread killer([&server] {
        std::this_thread::sleep_for(1500ms);
        server.Kill();
    });
    const auto start = Clock::now();
    const ProgramResult r = Download({"--port", server.Rfc2217Port(), "--baud", "115200"});
    killer.join();
    EXPECT_EQ(r.exitStatus, 1) << r.out << r.err;
    EXPECT_TRUE(Has(r.err, "tarvex-cli: the line was lost: " + server.Rfc2217Port())) << r.err;
    // Within the reply deadline of the frame that was on its way, not at the end of retries.
    EXPECT_LT(Clock::now() - start, 15s);
}

TEST_F(NetworkPort, APortNobodyListensOnFailsWithinItsConnectDeadline) {
    const std::string nobody = "rfc2217://127.0.0.1:" + std::to_string(FreePort());
    const auto start = Clock::now();
    const ProgramResult r = Download({"--port", nobody});
    EXPECT_NE(r.exitStatus, 0) << r.err;
    EXPECT_TRUE(Has(r.err, nobody + " could not be reached: connection refused")) << r.err;
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(5 + 5));
}

// A peer that never answers the SYN, made on loopback without any network set-up: a socket
// that listens with a backlog of 0 and never accepts. Once its queue holds one connection,
// Linux drops every further SYN, and a connect waits for the answer until its deadline.
TEST_F(NetworkPort, APeerThatNeverAnswersFailsAtTheConnectDeadlineNamingIt) {
    const UniqueFd listener(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(listener.get(), reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    ASSERT_EQ(::listen(listener.get(), 0), 0);
    socklen_t len = sizeof a;
    ASSERT_EQ(::getsockname(listener.get(), reinterpret_cast<sockaddr*>(&a), &len), 0);
    std::vector<UniqueFd> queued;
    const auto connectAsync = [&a] {
        UniqueFd s(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
        (void)::connect(s.get(), reinterpret_cast<const sockaddr*>(&a), sizeof a);
        return s;
    };
    queued.push_back(connectAsync());
    queued.push_back(connectAsync());
    // The trick holds only if a further connect is left waiting; one that completes would
    // make this a test of the server's silence instead.
    const UniqueFd probe = connectAsync();
    pollfd pfd{probe.get(), POLLOUT, 0};
    ASSERT_EQ(::poll(&pfd, 1, 300), 0) << "a connect to the full queue was answered";

    const std::string silent = "rfc2217://127.0.0.1:" + std::to_string(ntohs(a.sin_port));
    const auto start = Clock::now();
    const ProgramResult r = Download({"--port", silent});
    EXPECT_NE(r.exitStatus, 0) << r.err;
    EXPECT_TRUE(Has(r.err, silent + " could not be reached: no connection within the connect "
                                    "deadline (5 s)"))
        << r.err;
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(kConnectDeadlineSeconds + 5));
}

TEST_F(NetworkPort, BadNetworkNamesAreRefusedWithWhatAGoodOneLooksLike) {
    for (const char* name : {"socket://127.0.0.1", "rfc2217://:4000", "socket://h:0",
                             "socket://h:65536", "rfc2217://::1:4000"}) {
        SCOPED_TRACE(name);
        const ProgramResult r = Download({"--port", name});
        EXPECT_NE(r.exitStatus, 0);
        EXPECT_TRUE(Has(r.err, "not a network port name")) << r.err;
    }
}

// The two-wire line: the echoing panel on a local pseudo-terminal.
TEST_F(NetworkPort, TheEchoIsDiscardedOrVerifiedAndACorruptEchoIsALineFault) {
    struct Case {
        Strings sim;
        std::string echo;
        int status;
        std::string said;
    };
    const std::vector<Case> cases = {
        {{"--echo"}, "discard", 0, "Download Complete!"},
        {{"--echo"}, "verify", 0, "Download Complete!"},
        {{"--echo", "--corrupt-echo-byte", "20"}, "verify", 1, "line fault on "},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.echo + (c.status != 0 ? " corrupt" : ""));
        TempDir out;
        Strings args{"--product-code", "17", "--out", out.path()};
        args.insert(args.end(), c.sim.begin(), c.sim.end());
        PanelSimProcess sim(args);
        ASSERT_FALSE(sim.port().empty());
        const ProgramResult r =
            Download({"--port", sim.port(), "--items", "application", "--echo", c.echo});
        EXPECT_EQ(r.exitStatus, c.status) << r.out << r.err;
        EXPECT_TRUE(Has(r.err, c.said)) << r.err;
        EXPECT_FALSE(Has(r.err, "never replied")) << r.err;
        if (c.status == 0) {
            EXPECT_EQ(ReadFileBytes(out / "01-application-H1.bin"), Application());
        }
    }
}

}  // namespace
}  // namespace tarvex::test

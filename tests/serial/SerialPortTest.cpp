// CSerialPort over real pseudo-terminals: the port opens the slave side by its path, and the
// test plays the panel on the master side.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <numeric>
#include <thread>
#include <vector>

#include "serial/SerialPort.h"
#include "serial/SerialPortPosix.h"
#include "support/PtyPair.h"
#include "support/RecordingUi.h"
#include "support/TempDir.h"

namespace tarvex {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using test::PtyPair;
using test::RecordingUi;

long ElapsedMs(Clock::time_point since) {
    return static_cast<long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - since).count());
}

std::vector<std::uint8_t> AllByteValues() {
    std::vector<std::uint8_t> bytes(256);
    std::iota(bytes.begin(), bytes.end(), 0);
    return bytes;
}

// A port, not yet opened, and a fresh pair whose slave it will open.
class SerialPortLine : public ::testing::Test {
  protected:
    bool Read(std::size_t count, std::vector<std::uint8_t>& out) {
        out.assign(count, 0);
        std::size_t got = 0;
        const bool ok = port.ReadBlock(out.data(), count, got);
        out.resize(got);
        return ok;
    }

    // The device goes away, as a pulled USB adapter does.
    void Unplug() {
        pty.CloseSlave();
        pty.CloseMaster();
    }

    // Another open of the same tty, as another program would make it.
    test::UniqueFd OpenElsewhere() const {
        return test::UniqueFd(::open(pty.slavePath().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC));
    }

    PtyPair pty;
    RecordingUi ui;
    CSerialPort port{ui};
};

// The port open and set up the way a download sets it up.
class PortOnPty : public SerialPortLine {
  protected:
    void SetUp() override {
        ASSERT_TRUE(port.Open(pty.slavePath()));
        ASSERT_TRUE(port.ConfigureLine(19200, 8, 0, 0, 0));
        ASSERT_TRUE(port.SetTimeouts(0, 0, 2000, 0, 0));
    }
};

using SerialPortOpen = SerialPortLine;

TEST_F(SerialPortLine, EveryParityAndStopBitChoiceIsAccepted) {
    ASSERT_TRUE(port.Open(pty.slavePath()));
    for (std::uint8_t parity = 0; parity <= 4; ++parity) {
        for (const std::uint8_t stop : {std::uint8_t{0}, std::uint8_t{2}}) {
            for (const std::uint32_t baud : {2400u, 19200u, 115200u}) {
                SCOPED_TRACE(testing::Message() << "parity " << int(parity) << " stop " << int(stop)
                                                << " baud " << baud);
                EXPECT_TRUE(port.ConfigureLine(baud, 8, 0, parity, stop));
            }
        }
    }
    EXPECT_TRUE(ui.messages.empty());

    // The line is raw whatever the parity: bytes that a cooked terminal would eat or change
    // (XON/XOFF, CR, LF, NUL, DEL, the interrupt character) pass unchanged both ways.
    ASSERT_TRUE(port.ConfigureLine(9600, 8, 1, 2, 2));
    ASSERT_TRUE(port.SetTimeouts(0, 0, 2000, 0, 0));
    const auto bytes = AllByteValues();
    ASSERT_TRUE(port.WriteBlock(bytes.data(), bytes.size()));
    EXPECT_EQ(pty.Read(bytes.size(), 2000ms), bytes);
    pty.Write(bytes);
    std::vector<std::uint8_t> in;
    ASSERT_TRUE(Read(bytes.size(), in));
    EXPECT_EQ(in, bytes);
}

TEST_F(SerialPortLine, UnknownSettingsAreRefusedWithoutMessage) {
    ASSERT_TRUE(port.Open(pty.slavePath()));
    EXPECT_FALSE(port.ConfigureLine(12345, 8, 0, 0, 0));
    EXPECT_EQ(port.LastError(), SerialError::Unsupported);
    EXPECT_FALSE(port.ConfigureLine(9600, 8, 0, 7, 0));
    EXPECT_TRUE(ui.messages.empty());
    EXPECT_TRUE(port.IsOpen());
}

TEST_F(SerialPortLine, CloseRestoresTheSettingsFoundAtOpen) {
    // Leave the slave in cooked mode with echo, as a shell would.
    struct termios cooked {};
    ASSERT_EQ(tcgetattr(pty.master(), &cooked), 0);
    cooked.c_lflag |= ICANON | ECHO;
    cooked.c_iflag |= ICRNL | IXON;
    ASSERT_EQ(tcsetattr(pty.master(), TCSANOW, &cooked), 0);

    ASSERT_TRUE(port.Open(pty.slavePath()));
    ASSERT_TRUE(port.ConfigureLine(115200, 8, 0, 0, 0));
    struct termios during {};
    ASSERT_EQ(tcgetattr(pty.master(), &during), 0);
    EXPECT_EQ(during.c_lflag & (ICANON | ECHO), 0u);
    port.Close();

    struct termios after {};
    ASSERT_EQ(tcgetattr(pty.master(), &after), 0);
    EXPECT_EQ(after.c_lflag & (ICANON | ECHO), static_cast<tcflag_t>(ICANON | ECHO));
    EXPECT_EQ(after.c_iflag & (ICRNL | IXON), static_cast<tcflag_t>(ICRNL | IXON));
}

TEST_F(SerialPortLine, EmergencyRestorePutsTheSettingsBack) {
    struct termios cooked {};
    ASSERT_EQ(tcgetattr(pty.master(), &cooked), 0);
    cooked.c_lflag |= ICANON;
    ASSERT_EQ(tcsetattr(pty.master(), TCSANOW, &cooked), 0);

    ASSERT_TRUE(port.Open(pty.slavePath()));
    ASSERT_TRUE(port.ConfigureLine(9600, 8, 0, 0, 0));
    ASSERT_NE(SavedSettings(port), nullptr);
    // A duplicate stands in for the descriptor a signal handler would close.
    EmergencyRestoreAndClose(dup(NativeHandle(port)), SavedSettings(port));
    struct termios after {};
    ASSERT_EQ(tcgetattr(pty.master(), &after), 0);
    EXPECT_NE(after.c_lflag & ICANON, 0u);
}

TEST_F(PortOnPty, WrittenFrameArrivesByteForByte) {
    std::vector<std::uint8_t> frame = {0x01, 'Q', 0x11, 0x13, 0x00, 0x0D, 0x0A, 0xFF, 0x7F, 0x03};
    std::size_t written = 0;
    ASSERT_TRUE(port.WriteBlock(frame.data(), frame.size(), &written));
    EXPECT_EQ(written, frame.size());
    EXPECT_EQ(pty.Read(frame.size(), 2000ms), frame);
}

TEST_F(PortOnPty, LargeWriteIsContinuedUntilAllIsTaken) {
    // Far more than the pseudo-terminal buffers, so the driver takes it in pieces while the
    // other side reads.
    std::vector<std::uint8_t> block(256 * 1024);
    for (std::size_t i = 0; i < block.size(); ++i) {
        block[i] = static_cast<std::uint8_t>(i * 7 + i / 251);
    }
    std::vector<std::uint8_t> received;
    std::thread reader([&] { received = pty.Read(block.size(), 10s); });
    std::size_t written = 0;
    const bool ok = port.WriteBlock(block.data(), block.size(), &written);
    reader.join();
    EXPECT_TRUE(ok);
    EXPECT_EQ(written, block.size());
    EXPECT_EQ(received, block);
}

TEST_F(PortOnPty, ReadReturnsAsSoonAsTheBytesAreThere) {
    pty.Write({1, 2, 3, 4, 5, 6, 7});
    const auto start = Clock::now();
    std::vector<std::uint8_t> reply;
    ASSERT_TRUE(Read(7, reply));
    EXPECT_EQ(reply, (std::vector<std::uint8_t>{1, 2, 3, 4, 5, 6, 7}));
    EXPECT_LT(ElapsedMs(start), 1000) << "the read waited for its time-out";
}

TEST_F(PortOnPty, BytesArrivingInPiecesAreGatheredIntoOneRead) {
    std::thread panel([&] {
        pty.Write({0x01, 'Q', 0x00});
        std::this_thread::sleep_for(50ms);
        pty.Write({0x00, 0x00, 0x12, 0x34});
    });
    const auto start = Clock::now();
    std::vector<std::uint8_t> reply;
    const bool ok = Read(7, reply);
    panel.join();
    ASSERT_TRUE(ok);
    EXPECT_EQ(reply, (std::vector<std::uint8_t>{0x01, 'Q', 0x00, 0x00, 0x00, 0x12, 0x34}));
    EXPECT_LT(ElapsedMs(start), 1000);
}

TEST_F(PortOnPty, ReadTimesOutWithWhatArrived) {
    ASSERT_TRUE(port.SetTimeouts(0, 0, 120, 0, 0));
    std::vector<std::uint8_t> reply;
    auto start = Clock::now();
    ASSERT_TRUE(Read(7, reply));  // a time-out is no failure
    EXPECT_TRUE(reply.empty());
    EXPECT_GE(ElapsedMs(start), 120);

    pty.Write({9, 8, 7});
    start = Clock::now();
    ASSERT_TRUE(Read(7, reply));
    EXPECT_EQ(reply, (std::vector<std::uint8_t>{9, 8, 7}));
    EXPECT_GE(ElapsedMs(start), 120);
}

TEST_F(PortOnPty, TotalTimeOutGrowsWithTheRequestedCount) {
    ASSERT_TRUE(port.SetTimeouts(0, 20, 0, 0, 0));  // 20 ms a byte, nothing constant
    std::vector<std::uint8_t> reply;
    const auto start = Clock::now();
    ASSERT_TRUE(Read(6, reply));
    EXPECT_TRUE(reply.empty());
    EXPECT_GE(ElapsedMs(start), 120);
}

TEST_F(PortOnPty, IntervalTimeOutEndsAReadAfterAGapButNotBeforeTheFirstByte) {
    ASSERT_TRUE(port.SetTimeouts(40, 0, 2000, 0, 0));
    pty.Write({0xAA, 0xBB});
    auto start = Clock::now();
    std::vector<std::uint8_t> reply;
    ASSERT_TRUE(Read(7, reply));
    EXPECT_EQ(reply, (std::vector<std::uint8_t>{0xAA, 0xBB}));
    EXPECT_LT(ElapsedMs(start), 1000) << "the gap after the last byte did not end the read";

    // Nothing at all arrives: the interval has nothing to count from, the total decides.
    ASSERT_TRUE(port.SetTimeouts(40, 0, 150, 0, 0));
    start = Clock::now();
    ASSERT_TRUE(Read(7, reply));
    EXPECT_TRUE(reply.empty());
    EXPECT_GE(ElapsedMs(start), 150);
}

TEST_F(PortOnPty, IntervalOfAllOnesReturnsAtOnceWithWhatIsQueued) {
    ASSERT_TRUE(port.SetTimeouts(0xFFFFFFFFu, 0, 0, 0, 0));
    std::vector<std::uint8_t> reply;
    ASSERT_TRUE(Read(4, reply));
    EXPECT_TRUE(reply.empty());

    pty.Write({5, 6});
    // Give the bytes time to cross the pseudo-terminal, bounded.
    for (int i = 0; i < 100 && reply.empty(); ++i) {
        std::this_thread::sleep_for(5ms);
        ASSERT_TRUE(Read(4, reply));
    }
    EXPECT_EQ(reply, (std::vector<std::uint8_t>{5, 6}));
}

TEST_F(PortOnPty, DiscardInputDropsALateReply) {
    pty.Write({0xDE, 0xAD});
    std::vector<std::uint8_t> reply;
    std::this_thread::sleep_for(50ms);
    ASSERT_TRUE(port.DiscardInput());
    ASSERT_TRUE(port.SetTimeouts(0, 0, 100, 0, 0));
    ASSERT_TRUE(Read(2, reply));
    EXPECT_TRUE(reply.empty());

    pty.Write({0xBE, 0xEF});
    ASSERT_TRUE(port.SetTimeouts(0, 0, 2000, 0, 0));
    ASSERT_TRUE(Read(2, reply));
    EXPECT_EQ(reply, (std::vector<std::uint8_t>{0xBE, 0xEF}));
}

TEST_F(PortOnPty, WaitingCallsTheIdleHookAndCostsNoCpu) {
    int idleCalls = 0;
    port.SetIdleHook([&] { ++idleCalls; });
    ASSERT_TRUE(port.SetTimeouts(0, 0, 200, 0, 0));
    std::vector<std::uint8_t> reply;
    ASSERT_TRUE(Read(7, reply));
    // About one call every 25 ms; the exact count depends on scheduling.
    EXPECT_GE(idleCalls, 3);
    EXPECT_LE(idleCalls, 20);

    // Without a hook the whole wait is one sleep: the process must not spin.
    port.SetIdleHook(nullptr);
    ASSERT_TRUE(port.SetTimeouts(0, 0, 300, 0, 0));
    rusage before{};
    rusage after{};
    ASSERT_EQ(getrusage(RUSAGE_THREAD, &before), 0);
    ASSERT_TRUE(Read(7, reply));
    ASSERT_EQ(getrusage(RUSAGE_THREAD, &after), 0);
    auto cpuUs = [](const rusage& r) {
        return (r.ru_utime.tv_sec + r.ru_stime.tv_sec) * 1000000L + r.ru_utime.tv_usec +
               r.ru_stime.tv_usec;
    };
    EXPECT_LT(cpuUs(after) - cpuUs(before), 100000L) << "a 300 ms wait burned CPU time";
}

// The event pump runs far beyond the read's deadline (a message box left open) while the reply
// comes in: the reply is taken, not left on the line for the next write to discard.
TEST_F(PortOnPty, AReplyQueuedWhileThePumpRanLongIsTaken) {
    ASSERT_TRUE(port.SetTimeouts(0, 0, 100, 0, 0));
    bool sent = false;
    port.SetIdleHook([&] {
        if (!sent) {
            sent = true;
            pty.Write({1, 'Q', 0, 0, 0, 0x12, 0x34});
            std::this_thread::sleep_for(300ms);
        }
    });
    std::vector<std::uint8_t> reply;
    ASSERT_TRUE(Read(7, reply));
    EXPECT_TRUE(sent);
    EXPECT_EQ(reply, (std::vector<std::uint8_t>{1, 'Q', 0, 0, 0, 0x12, 0x34}));
}

TEST_F(PortOnPty, PortClosedFromTheIdleHookEndsTheRead) {
    port.SetIdleHook([&] { port.Close(); });
    const auto start = Clock::now();
    std::vector<std::uint8_t> reply;
    EXPECT_FALSE(Read(7, reply));
    EXPECT_EQ(port.LastError(), SerialError::NotOpen);
    EXPECT_LT(ElapsedMs(start), 1000);
}

TEST_F(PortOnPty, WriteTimeOutWhenNothingTakesTheData) {
    // Nobody reads the master: the pseudo-terminal's buffer fills and the write must give up
    // after its time-out instead of hanging. The pump stays out of a frame, even this one.
    int idleCalls = 0;
    port.SetIdleHook([&] { ++idleCalls; });
    ASSERT_TRUE(port.SetTimeouts(0, 0, 2000, 0, 100));
    std::vector<std::uint8_t> block(1024 * 1024, 0x55);
    std::size_t written = 0;
    EXPECT_FALSE(port.WriteBlock(block.data(), block.size(), &written));
    EXPECT_EQ(port.LastError(), SerialError::Timeout);
    EXPECT_GT(written, 0u);
    EXPECT_LT(written, block.size());
    EXPECT_EQ(idleCalls, 0);
}

TEST_F(PortOnPty, ReadAfterTheOtherSideWentAwayFailsPromptly) {
    Unplug();
    const auto start = Clock::now();
    std::vector<std::uint8_t> reply;
    EXPECT_FALSE(Read(7, reply));
    EXPECT_LT(ElapsedMs(start), 1000) << "a vanished device was waited for";
    EXPECT_EQ(port.LastError(), SerialError::Disconnected);
}

TEST_F(PortOnPty, ReadThatIsWaitingWhenTheOtherSideGoesAwayFailsPromptly) {
    std::thread unplug([&] {
        std::this_thread::sleep_for(50ms);
        Unplug();
    });
    const auto start = Clock::now();
    std::vector<std::uint8_t> reply;
    const bool ok = Read(7, reply);
    unplug.join();
    EXPECT_FALSE(ok);
    EXPECT_LT(ElapsedMs(start), 1000);
    EXPECT_EQ(port.LastError(), SerialError::Disconnected);
}

TEST_F(PortOnPty, WriteAfterTheOtherSideWentAwayFails) {
    Unplug();
    const std::uint8_t frame[] = {1, 2, 3};
    EXPECT_FALSE(port.WriteBlock(frame, sizeof frame));
    EXPECT_EQ(port.LastError(), SerialError::Disconnected);
    port.Close();
    port.Close();
    EXPECT_FALSE(port.IsOpen());
}

TEST_F(PortOnPty, TimeOutsRefusedByAVanishedDeviceCloseThePort) {
    Unplug();
    EXPECT_FALSE(port.SetTimeouts(0, 0, 2000, 0, 0));
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(ui.messages[0].kind, MessageKind::ErrorBox);
    EXPECT_EQ(ui.messages[0].caption, "Com Port Error");
    EXPECT_EQ(ui.messages[0].text, "Error in setting communication timeoouts!");
    EXPECT_FALSE(port.IsOpen());
}

TEST_F(SerialPortOpen, AHeldPortCannotBeOpenedAgain) {
    CSerialPort second(ui);
    ASSERT_TRUE(port.Open(pty.slavePath()));
    EXPECT_FALSE(second.Open(pty.slavePath()));
    EXPECT_EQ(second.LastError(), SerialError::Busy);
    EXPECT_FALSE(second.IsOpen());
    second.Close();  // after a failed open: harmless, and the holder keeps the port
    EXPECT_TRUE(port.IsOpen());

    port.Close();
    EXPECT_TRUE(second.Open(pty.slavePath()));
    EXPECT_TRUE(ui.messages.empty());
}

TEST_F(SerialPortOpen, AnotherProgramsExclusiveModeCountsAsBusy) {
    const test::UniqueFd other = OpenElsewhere();
    ASSERT_GE(other.get(), 0);
    ASSERT_EQ(ioctl(other.get(), TIOCEXCL), 0);
    EXPECT_FALSE(port.Open(pty.slavePath()));
    EXPECT_EQ(port.LastError(), SerialError::Busy);
    ASSERT_EQ(ioctl(other.get(), TIOCNXCL), 0);
    EXPECT_TRUE(port.Open(pty.slavePath()));
}

TEST_F(SerialPortOpen, AnotherInstancesLockCountsAsBusy) {
    // Another instance of the tool holds the lock but (being privileged, or having opened
    // before) no exclusive mode: the lock alone must keep this one out.
    const test::UniqueFd other = OpenElsewhere();
    ASSERT_GE(other.get(), 0);
    ASSERT_EQ(flock(other.get(), LOCK_EX | LOCK_NB), 0);
    EXPECT_FALSE(port.Open(pty.slavePath()));
    EXPECT_EQ(port.LastError(), SerialError::Busy);
    ASSERT_EQ(flock(other.get(), LOCK_UN), 0);
    EXPECT_TRUE(port.Open(pty.slavePath()));
    // The port's lock is now held against the other side in turn.
    EXPECT_NE(flock(other.get(), LOCK_EX | LOCK_NB), 0);
    port.Close();
    EXPECT_EQ(flock(other.get(), LOCK_EX | LOCK_NB), 0);
}

TEST_F(SerialPortOpen, ExclusiveModeLastsUntilClose) {
    ASSERT_TRUE(port.Open(pty.slavePath()));
    {
        // An ordinary user's open is refused outright; a privileged one gets through and
        // finds the mode set.
        const test::UniqueFd other = OpenElsewhere();
        if (other.get() < 0) {
            EXPECT_EQ(errno, EBUSY);
        } else {
            int exclusive = 0;
            ASSERT_EQ(ioctl(other.get(), TIOCGEXCL, &exclusive), 0);
            EXPECT_NE(exclusive, 0);
        }
    }
    port.Close();
    // The test still holds the slave open, so the tty outlives the port's descriptor: the
    // mode must have been cleared explicitly.
    const test::UniqueFd probe = OpenElsewhere();
    ASSERT_GE(probe.get(), 0);
    int exclusive = 1;
    ASSERT_EQ(ioctl(probe.get(), TIOCGEXCL, &exclusive), 0);
    EXPECT_EQ(exclusive, 0);
}

TEST_F(SerialPortOpen, FailuresAreReportedWithoutMessages) {
    test::TempDir dir;
    EXPECT_FALSE(port.Open(dir / "ttyNowhere"));
    EXPECT_EQ(port.LastError(), SerialError::NotFound);
    const std::string file = dir.Write("plain.txt", "not a port");
    EXPECT_FALSE(port.Open(file));
    EXPECT_EQ(port.LastError(), SerialError::NotATerminal);
    EXPECT_FALSE(port.Open(dir.path()));
    EXPECT_EQ(port.LastError(), SerialError::NotATerminal);
    port.Close();
    port.Close();
    EXPECT_FALSE(port.IsOpen());
    EXPECT_TRUE(ui.messages.empty());
}

TEST_F(SerialPortOpen, ClosedPortRefusesEverything) {
    std::uint8_t buf[4] = {};
    std::size_t got = 99;
    EXPECT_FALSE(port.ReadBlock(buf, sizeof buf, got));
    EXPECT_EQ(got, 0u);
    EXPECT_FALSE(port.WriteBlock(buf, sizeof buf));
    EXPECT_FALSE(port.DiscardInput());
    EXPECT_FALSE(port.SetTimeouts(0, 0, 2000, 0, 0));  // silent: no record to read
    EXPECT_TRUE(ui.messages.empty());

    EXPECT_FALSE(port.ConfigureLine(9600, 8, 0, 0, 0));
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(ui.messages[0].kind, MessageKind::ErrorBox);
    EXPECT_EQ(ui.messages[0].caption, "Error");
    EXPECT_EQ(ui.messages[0].text, "GetCommState Error");
}

TEST(SerialPortNames, ComNamesFollowTheWineConvention) {
    EXPECT_EQ(DevicePathForPortName("COM1"), "/dev/ttyS0");
    EXPECT_EQ(DevicePathForPortName("COM10"), "/dev/ttyS9");
    EXPECT_EQ(DevicePathForPortName("com12"), "/dev/ttyS11");
    EXPECT_EQ(DevicePathForPortName("Com2000"), "/dev/ttyS1999");
    // Not a COM name: taken as it stands.
    EXPECT_EQ(DevicePathForPortName("/dev/ttyUSB0"), "/dev/ttyUSB0");
    EXPECT_EQ(DevicePathForPortName("COM0"), "COM0");
    EXPECT_EQ(DevicePathForPortName("COM"), "COM");
    EXPECT_EQ(DevicePathForPortName("COM01"), "COM01");
    EXPECT_EQ(DevicePathForPortName("COM3x"), "COM3x");
    EXPECT_EQ(DevicePathForPortName("COM99999999999"), "COM99999999999");
    // The port list shows device paths here, so a COM name is listed by its path.
    EXPECT_EQ(ListedPortName("com20"), "/dev/ttyS19");
    EXPECT_EQ(ListedPortName("/dev/ttyUSB0"), "/dev/ttyUSB0");
}

TEST(SerialPortNames, ErrnoValuesMapOntoTheFewKinds) {
    EXPECT_EQ(SerialErrorFromErrno(ENOENT), SerialError::NotFound);
    EXPECT_EQ(SerialErrorFromErrno(EACCES), SerialError::PermissionDenied);
    EXPECT_EQ(SerialErrorFromErrno(EBUSY), SerialError::Busy);
    EXPECT_EQ(SerialErrorFromErrno(EWOULDBLOCK), SerialError::Busy);
    EXPECT_EQ(SerialErrorFromErrno(ENOTTY), SerialError::NotATerminal);
    EXPECT_EQ(SerialErrorFromErrno(EIO), SerialError::Disconnected);
    EXPECT_EQ(SerialErrorFromErrno(ENOMEM), SerialError::Io);
    EXPECT_EQ(SerialErrorText(SerialError::Busy), "busy");
}

}  // namespace
}  // namespace tarvex

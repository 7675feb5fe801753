// The contract every ISerialLine keeps, one table of cases run against the system's line: on
// Linux over a pseudo-terminal played in this process, under Wine over a COM port whose far end
// is tarvex-line-peer on the Linux side (TARVEX_TEST_LINE names it). The far end answers
// commands sent over the line itself (support/LinePeer.h), so a case reads the same on both.
#include <gtest/gtest.h>

#include <chrono>
#include <numeric>
#include <thread>
#include <vector>

#include "serial/SerialLine.h"
#include "serial/SerialPort.h"
#include "support/LinePeer.h"
#include "support/NamedCases.h"
#include "support/RecordingUi.h"
#include "support/TempDir.h"

namespace tarvex {
namespace {

using namespace std::chrono_literals;
using Clock = LineClock;
using Bytes = std::vector<std::uint8_t>;
namespace peer = test::line_peer;

long MsSince(Clock::time_point since) {
    return static_cast<long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - since).count());
}

LineWait Within(std::chrono::milliseconds ms) {
    LineWait wait;
    wait.deadline = Clock::now() + ms;
    return wait;
}

LineSettings Settings(std::uint32_t baud, std::uint8_t dataBits = 8, std::uint8_t stopBits = 0) {
    LineSettings s;
    s.baudRate = baud;
    s.dataBits = dataBits;
    s.stopBitsCode = stopBits;
    return s;
}

// What a series of reads under one deadline brought.
struct Gathered {
    Bytes bytes;
    int reads = 0;  // reads that returned bytes
    SerialError error = SerialError::None;
};

// One line open on the peer's port, set up as a download sets it up.
struct Contract {
    std::string path;
    std::unique_ptr<ISerialLine> line;

    std::unique_ptr<ISerialLine> OpenAnother(SerialError& error) const {
        auto another = MakeSerialLine(path);
        error = another->Open(path);
        return another;
    }

    // The whole block, within two seconds.
    void Send(const Bytes& bytes) const {
        const LineWait wait = Within(2000ms);
        std::size_t done = 0;
        while (done < bytes.size()) {
            std::size_t put = 0;
            ASSERT_EQ(line->Write(bytes.data() + done, bytes.size() - done, wait, put),
                      SerialError::None);
            ASSERT_TRUE(put > 0 || Clock::now() < *wait.deadline) << "the write ran out of time";
            done += put;
        }
    }

    // Reads until `count` bytes are in, the line fails or `within` has passed.
    Gathered Gather(std::size_t count, std::chrono::milliseconds within) const {
        Gathered g;
        const LineWait wait = Within(within);
        Bytes buf(count);
        while (g.bytes.size() < count && Clock::now() < *wait.deadline) {
            std::size_t got = 0;
            g.error = line->Read(buf.data(), count - g.bytes.size(), wait, got);
            if (g.error != SerialError::None) {
                break;
            }
            if (got > 0) {
                ++g.reads;
                g.bytes.insert(g.bytes.end(), buf.begin(), buf.begin() + got);
            }
        }
        return g;
    }
};

struct ContractCase {
    const char* name;
    void (*run)(Contract&);
};
using test::PrintTo;

Bytes Sequence(std::size_t n) {
    Bytes bytes(n);
    std::iota(bytes.begin(), bytes.end(), 0);
    return bytes;
}

const ContractCase kCases[] = {
    {"OpenIsExclusiveUntilClose",
     [](Contract& c) {
         SerialError error = SerialError::None;
         auto second = c.OpenAnother(error);
         EXPECT_EQ(error, SerialError::Busy);
         EXPECT_FALSE(second->IsOpen());
         second->Close();  // after a failed open: harmless, and the holder keeps the port
         EXPECT_TRUE(c.line->IsOpen());
         c.line->Close();
         c.line->Close();
         EXPECT_FALSE(c.line->IsOpen());
         auto third = c.OpenAnother(error);
         EXPECT_EQ(error, SerialError::None) << SerialErrorText(error);
         EXPECT_TRUE(third->IsOpen());
     }},
    {"MissingDeviceIsNotFound",
     [](Contract& c) {
         const test::TempDir dir;
         const std::string missing = dir / "no-such-port";
         auto line = MakeSerialLine(missing);
         EXPECT_EQ(line->Open(missing), SerialError::NotFound);
         EXPECT_FALSE(line->IsOpen());
         EXPECT_TRUE(c.line->IsOpen());
     }},
    {"ConfiguresTheFormsSettingsAndRefusesImpossibleOnes",
     [](Contract& c) {
         EXPECT_EQ(c.line->Configure(Settings(115200, 8, 2)), SerialError::None);
         EXPECT_EQ(c.line->Configure(Settings(2400)), SerialError::None);
         EXPECT_EQ(c.line->Configure(Settings(9600, 9)), SerialError::Unsupported);
         EXPECT_EQ(c.line->Configure(Settings(9600, 4)), SerialError::Unsupported);
         EXPECT_TRUE(c.line->IsOpen());
         EXPECT_EQ(c.line->ReadState(), SerialError::None);
         // A device without modem lines takes the request all the same.
         EXPECT_EQ(c.line->SetModemLines(true, true), SerialError::None);
         EXPECT_EQ(c.line->SetModemLines(false, false), SerialError::None);
         EXPECT_EQ(c.line->Configure(Settings(19200)), SerialError::None);
         EXPECT_FALSE(c.line->LineErrorSeen());
         c.Send(peer::Echo({0x01, 'Q', 0x03}));
         EXPECT_EQ(c.Gather(3, 2000ms).bytes, (Bytes{0x01, 'Q', 0x03}));
     }},
    {"WrittenBlockComesBackByteForByte",
     [](Contract& c) {
         // Every byte value, so that nothing on the way translates or eats one (XON/XOFF, CR,
         // LF, NUL, DEL, the interrupt character).
         const Bytes payload = Sequence(256);
         const auto start = Clock::now();
         c.Send(peer::Echo(payload));
         const Gathered g = c.Gather(payload.size(), 2000ms);
         EXPECT_EQ(g.error, SerialError::None);
         EXPECT_EQ(g.bytes, payload);
         EXPECT_LT(MsSince(start), 1500) << "the reads waited past the reply";
     }},
    {"ReplyInPiecesIsTakenAsItArrives",
     [](Contract& c) {
         const Bytes payload = Sequence(12);
         c.Send(peer::InPieces(payload, 3, 100));
         const auto start = Clock::now();
         const Gathered g = c.Gather(payload.size(), 2000ms);
         EXPECT_EQ(g.error, SerialError::None);
         EXPECT_EQ(g.bytes, payload);
         EXPECT_GE(g.reads, 2) << "a read waited for more than what was there";
         EXPECT_LT(MsSince(start), 1500);
     }},
    {"SilentPeerEndsTheReadAtItsDeadlineOrWhenControlIsDue",
     [](Contract& c) {
         Bytes buf(8);
         std::size_t got = 99;
         auto start = Clock::now();
         EXPECT_EQ(c.line->Read(buf.data(), buf.size(), Within(150ms), got), SerialError::None);
         EXPECT_EQ(got, 0u);
         EXPECT_GE(MsSince(start), 140);
         EXPECT_LT(MsSince(start), 1000);

         // Control is handed back at yieldAt, well before the deadline.
         LineWait wait = Within(3000ms);
         wait.yieldAt = Clock::now() + 60ms;
         start = Clock::now();
         EXPECT_EQ(c.line->Read(buf.data(), buf.size(), wait, got), SerialError::None);
         EXPECT_EQ(got, 0u);
         EXPECT_GE(MsSince(start), 50);
         EXPECT_LT(MsSince(start), 1000);

         // A deadline already passed: a look at what is queued, no wait.
         LineWait now;
         now.deadline = Clock::now();
         start = Clock::now();
         EXPECT_EQ(c.line->Read(buf.data(), buf.size(), now, got), SerialError::None);
         EXPECT_EQ(got, 0u);
         EXPECT_LT(MsSince(start), 100);
     }},
    {"PurgeDropsWhatArrivedUnread",
     [](Contract& c) {
         c.Send(peer::Flood(64));
         std::this_thread::sleep_for(250ms);
         EXPECT_EQ(c.line->Purge(LineQueue::Input), SerialError::None);
         EXPECT_EQ(c.line->Purge(LineQueue::Output), SerialError::None);
         EXPECT_TRUE(c.Gather(1, 150ms).bytes.empty());
         // The line goes on as before.
         c.Send(peer::Echo({7, 8, 9}));
         EXPECT_EQ(c.Gather(3, 2000ms).bytes, (Bytes{7, 8, 9}));
     }},
    {"ClosedLineRefusesEverything",
     [](Contract& c) {
         c.line->Close();
         Bytes buf(4);
         std::size_t n = 99;
         EXPECT_EQ(c.line->Read(buf.data(), buf.size(), Within(10ms), n), SerialError::NotOpen);
         EXPECT_EQ(n, 0u);
         EXPECT_EQ(c.line->Write(buf.data(), buf.size(), Within(10ms), n), SerialError::NotOpen);
         EXPECT_EQ(c.line->Purge(LineQueue::Input), SerialError::NotOpen);
         EXPECT_EQ(c.line->Configure(Settings(19200)), SerialError::NotOpen);
         EXPECT_EQ(c.line->ReadState(), SerialError::NotOpen);
         EXPECT_EQ(c.line->SetModemLines(false, false), SerialError::NotOpen);
         EXPECT_FALSE(c.line->LineErrorSeen());
         c.line->Close();
     }},
    {"VanishedPeerEndsReadsAndWritesPromptly",
     [](Contract& c) {
         c.Send(peer::Vanish());
         const auto start = Clock::now();
         const Gathered g = c.Gather(4, 3000ms);
         EXPECT_EQ(g.error, SerialError::Disconnected) << SerialErrorText(g.error);
         EXPECT_LT(MsSince(start), 1500) << "a vanished peer was waited for";
         const Bytes frame = {1, 2, 3};
         std::size_t put = 0;
         EXPECT_EQ(c.line->Write(frame.data(), frame.size(), Within(1000ms), put),
                   SerialError::Disconnected);
         EXPECT_NE(c.line->ReadState(), SerialError::None);
         c.line->Close();
         EXPECT_FALSE(c.line->IsOpen());
     }},
};

// The port over the same line, set up as a download sets it up: what the panel sees of a frame
// and how a reply's deadline holds, whatever the line underneath.
struct PortContract {
    test::RecordingUi ui;
    CSerialPort port{ui};
    bool pump = false;
    int idleCalls = 0;

    void Send(const Bytes& bytes) {
        ASSERT_TRUE(port.WriteBlock(bytes.data(), bytes.size()))
            << SerialErrorText(port.LastError());
    }

    // A reply of `count` bytes under the port's read time-out: what came, and how long it took.
    Bytes Reply(std::size_t count, long& tookMs) {
        Bytes buf(count);
        std::size_t got = 0;
        const auto start = Clock::now();
        EXPECT_TRUE(port.ReadBlock(buf.data(), buf.size(), got))
            << SerialErrorText(port.LastError());
        tookMs = MsSince(start);
        buf.resize(got);
        return buf;
    }
};

struct PortCase {
    const char* name;
    bool pump;  // an idle hook is set, as in the dialog; none as in tarvex-cli
    void (*run)(PortContract&);
};

// Longer than a panel's loader waits for the rest of a frame it has started to receive.
constexpr auto kBlockingPump = 700ms;

void FrameGoesOutWhole(PortContract& c) {
    // Far more than a pseudo-terminal buffers, taken slowly by the far end: the write has to
    // wait for room, long past the pump's slice.
    constexpr std::size_t kKib = 128;
    const Bytes frame = Sequence(kKib * 1024);
    Bytes block = peer::Watch(kKib);
    block.insert(block.end(), frame.begin(), frame.end());
    ASSERT_TRUE(c.port.SetTimeouts(0, 0, 5000, 0, 0));
    bool blocked = false;
    c.port.SetIdleHook([&] {
        ++c.idleCalls;
        if (!blocked) {
            blocked = true;
            std::this_thread::sleep_for(kBlockingPump);  // a message box, answered late
        }
    });
    std::size_t written = 0;
    ASSERT_TRUE(c.port.WriteBlock(block.data(), block.size(), &written))
        << SerialErrorText(c.port.LastError());
    EXPECT_EQ(written, block.size());
    EXPECT_EQ(c.idleCalls, 0) << "the pump ran inside a frame";
    long took = 0;
    const Bytes longest = c.Reply(2, took);
    ASSERT_EQ(longest.size(), 2u);
    EXPECT_LT(longest[0] << 8 | longest[1], 300) << "the frame stopped on the line (ms)";
}

void ReplyCompletedInTheDeadlinesMiddle(PortContract& c) {
    ASSERT_TRUE(c.port.SetTimeouts(0, 0, 1000, 0, 0));
    const Bytes reply = {1, 'Q', 0, 0, 0, 0x12, 0x34};
    c.Send(peer::InPieces(reply, 2, 400));
    long took = 0;
    EXPECT_EQ(c.Reply(reply.size(), took), reply);
    EXPECT_GE(took, 380) << "the read ended with the first piece";
    EXPECT_LT(took, 900) << "the read waited for its deadline with the reply in";
}

void ReplyCutByTheDeadline(PortContract& c) {
    ASSERT_TRUE(c.port.SetTimeouts(0, 0, 300, 0, 0));
    const Bytes reply = {1, 'Q', 0, 0, 0, 0x12, 0x34};
    c.Send(peer::InPieces(reply, 2, 700));
    long took = 0;
    EXPECT_EQ(c.Reply(reply.size(), took), Bytes(reply.begin(), reply.begin() + 4));
    EXPECT_GE(took, 290);
    EXPECT_LT(took, 650) << "the deadline did not end the read";
    // The late piece is still taken by a read that waits for it.
    ASSERT_TRUE(c.port.SetTimeouts(0, 0, 2000, 0, 0));
    EXPECT_EQ(c.Reply(3, took), Bytes(reply.begin() + 4, reply.end()));
}

void SilentPanelEndsTheReadAtItsDeadline(PortContract& c) {
    ASSERT_TRUE(c.port.SetTimeouts(0, 0, 300, 0, 0));
    long took = 0;
    EXPECT_TRUE(c.Reply(7, took).empty());
    EXPECT_GE(took, 290);
    EXPECT_LT(took, 800);
    if (c.pump) {
        EXPECT_GE(c.idleCalls, 3) << "the pump did not run while the reply was awaited";
    }
}

const PortCase kPortCases[] = {
    {"FrameGoesOutWholeWhileThePumpBlocks", true, FrameGoesOutWhole},
    {"ReplyCompletedInTheDeadlinesMiddle", false, ReplyCompletedInTheDeadlinesMiddle},
    {"ReplyCompletedInTheDeadlinesMiddleWithPump", true, ReplyCompletedInTheDeadlinesMiddle},
    {"ReplyCutByTheDeadline", false, ReplyCutByTheDeadline},
    {"ReplyCutByTheDeadlineWithPump", true, ReplyCutByTheDeadline},
    {"SilentPanelEndsTheReadAtItsDeadline", false, SilentPanelEndsTheReadAtItsDeadline},
    {"SilentPanelEndsTheReadAtItsDeadlineWithPump", true, SilentPanelEndsTheReadAtItsDeadline},
};

class SerialLineContract : public ::testing::TestWithParam<ContractCase> {
  protected:
    void SetUp() override {
        std::string whyNot;
        peer_ = test::StartLinePeer(whyNot);
        if (!peer_) {
            GTEST_SKIP() << whyNot;
        }
        contract_.path = DevicePathForPortName(peer_->PortName());
        contract_.line = MakeSerialLine(peer_->PortName());
        // A peer that has just vanished for the case before is back within moments.
        SerialError error = SerialError::NotFound;
        for (const auto until = Clock::now() + 3s;
             (error = contract_.line->Open(contract_.path)) == SerialError::NotFound &&
             Clock::now() < until;) {
            std::this_thread::sleep_for(50ms);
        }
        ASSERT_EQ(error, SerialError::None) << SerialErrorText(error);
        ASSERT_EQ(contract_.line->Configure(Settings(19200)), SerialError::None);
    }

    std::unique_ptr<test::LinePeer> peer_;
    Contract contract_;
};

TEST_P(SerialLineContract, Holds) {
    GetParam().run(contract_);
}

INSTANTIATE_TEST_SUITE_P(SystemLine, SerialLineContract, ::testing::ValuesIn(kCases),
                         test::CaseName());

class SerialPortContract : public ::testing::TestWithParam<PortCase> {
  protected:
    void SetUp() override {
        std::string whyNot;
        peer_ = test::StartLinePeer(whyNot);
        if (!peer_) {
            GTEST_SKIP() << whyNot;
        }
        // A peer that has just vanished for a case before is back within moments.
        bool open = false;
        for (const auto until = Clock::now() + 3s; !(open = c_.port.Open(peer_->PortName())) &&
                                                   c_.port.LastError() == SerialError::NotFound &&
                                                   Clock::now() < until;) {
            std::this_thread::sleep_for(50ms);
        }
        ASSERT_TRUE(open) << SerialErrorText(c_.port.LastError());
        ASSERT_TRUE(c_.port.ConfigureLine(19200, 8, 0, 0, 0));
        c_.pump = GetParam().pump;
        if (c_.pump) {
            c_.port.SetIdleHook([this] { ++c_.idleCalls; });
        }
    }

    std::unique_ptr<test::LinePeer> peer_;
    PortContract c_;
};

TEST_P(SerialPortContract, Holds) {
    GetParam().run(c_);
}

INSTANTIATE_TEST_SUITE_P(SystemLine, SerialPortContract, ::testing::ValuesIn(kPortCases),
                         test::CaseName());

}  // namespace
}  // namespace tarvex

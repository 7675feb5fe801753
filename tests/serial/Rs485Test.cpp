// Two-wire RS-485 direction control: what is asked of the driver, that the record found goes
// back, and that a driver without the mode fails the open instead of being passed over. The
// driver is a recorded seam, since no adapter is at hand; the port's side of it runs on a real
// pseudo-terminal, which has no RS-485 mode.
#include <gtest/gtest.h>

#include <cerrno>
#include <deque>
#include <vector>

#include "serial/Rs485.h"
#include "serial/SerialPort.h"
#include "support/PtyPair.h"
#include "support/RecordingUi.h"

namespace tarvex {
namespace {

// A driver's RS-485 record behind the ioctl pair: it keeps what it is given, less the flags it
// cannot do, and fails the calls it is told to.
class RecordedDriver final : public IRs485Controls {
  public:
    Rs485Record record;
    std::uint32_t supported = ~0u;  // the flags the driver keeps of a request
    std::deque<int> getErrors;      // the next Get calls' results, 0 when empty
    int setError = 0;               // the first Set's result; later ones succeed
    std::vector<Rs485Record> sets;  // every record handed to Set, taken or not

    int Get(int, Rs485Record& out) override {
        const int error = getErrors.empty() ? 0 : getErrors.front();
        if (!getErrors.empty()) {
            getErrors.pop_front();
        }
        if (error == 0) {
            out = record;
        }
        return error;
    }
    int Set(int, const Rs485Record& r) override {
        sets.push_back(r);
        if (const int error = std::exchange(setError, 0); error != 0) {
            return error;
        }
        record = r;
        record.flags &= supported;
        return 0;
    }
};

// What a port used before might hold: RTS raised after sending (an inverted transceiver),
// delays, and addressing words that are none of the tool's business.
Rs485Record UsedRecord() {
    Rs485Record r;
    r.flags = kRs485RtsAfterSend | (1u << 5);
    r.delayRtsBeforeSend = 3;
    r.delayRtsAfterSend = 7;
    r.rest = {0x0102u, 0, 0, 0, 9};
    return r;
}

constexpr int kNoIoctlCommand = 515;  // the kernel's internal "not my ioctl"

TEST(Rs485, TheRequestAndItsRestore) {
    struct Case {
        const char* name;
        std::deque<int> getErrors;
        int setError;
        std::uint32_t supported;
        bool hearOwnFrames;
        SerialError error;
        std::size_t sets;  // Set calls made by the request
    };
    const Case cases[] = {
        {"taken", {}, 0, ~0u, false, SerialError::None, 1},
        {"taken, hearing its own frames", {}, 0, ~0u, true, SerialError::None, 1},
        {"a pseudo-terminal: no such ioctl", {ENOTTY}, 0, ~0u, false, SerialError::NoRs485Mode, 0},
        {"a UART without the mode refuses the get",
         {EINVAL},
         0,
         ~0u,
         false,
         SerialError::NoRs485Mode,
         0},
        {"the kernel's own code comes through",
         {kNoIoctlCommand},
         0,
         ~0u,
         false,
         SerialError::NoRs485Mode,
         0},
        {"the set refused", {}, EINVAL, ~0u, false, SerialError::NoRs485Mode, 1},
        {"the set fails", {}, EIO, ~0u, false, SerialError::Io, 1},
        {"the driver drops the mode", {}, 0, ~kRs485Enabled, false, SerialError::NoRs485Mode, 2},
        {"the driver cannot raise RTS on send",
         {},
         0,
         ~kRs485RtsOnSend,
         false,
         SerialError::NoRs485Mode,
         2},
        {"the read-back fails", {0, EIO}, 0, ~0u, false, SerialError::Io, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RecordedDriver driver;
        driver.record = UsedRecord();
        driver.getErrors = c.getErrors;
        driver.setError = c.setError;
        driver.supported = c.supported;

        const Rs485Request request = RequestRs485(7, c.hearOwnFrames, driver);
        EXPECT_EQ(request.error, c.error);
        ASSERT_EQ(driver.sets.size(), c.sets);
        if (c.error != SerialError::None) {
            // Nothing to put back at close, and the driver is as it was found already.
            EXPECT_FALSE(request.previous);
            EXPECT_EQ(driver.record, UsedRecord());
            continue;
        }
        const Rs485Record& asked = driver.sets.front();
        EXPECT_EQ(asked.flags & (kRs485Enabled | kRs485RtsOnSend | kRs485RtsAfterSend),
                  kRs485Enabled | kRs485RtsOnSend);
        EXPECT_EQ((asked.flags & kRs485RxDuringTx) != 0, c.hearOwnFrames);
        EXPECT_EQ(asked.flags & (1u << 5), 1u << 5) << "flags the tool does not choose are kept";
        EXPECT_EQ(asked.delayRtsBeforeSend, 0u);
        EXPECT_EQ(asked.delayRtsAfterSend, 0u);
        EXPECT_EQ(asked.rest, UsedRecord().rest);
        EXPECT_EQ(driver.record, asked);

        ASSERT_TRUE(request.previous);
        RestoreRs485(7, *request.previous, driver);
        EXPECT_EQ(driver.record, UsedRecord());
    }
}

TEST(Rs485, TheErrorNumbersOfADriverWithoutTheMode) {
    for (const int e : {ENOTTY, EINVAL, kNoIoctlCommand}) {
        EXPECT_TRUE(MeansNoRs485Mode(e)) << e;
    }
    for (const int e : {0, EIO, EPERM, EBUSY, ENODEV}) {
        EXPECT_FALSE(MeansNoRs485Mode(e)) << e;
    }
}

// The port on a pseudo-terminal: the open fails with the mode's own error, and leaves the
// device as found and free, so the next open without RS-485 has it.
TEST(Rs485, AnOpenOnADriverWithoutTheModeFailsAndReleasesThePort) {
    test::PtyPair pty;
    test::RecordingUi ui;
    CSerialPort port(ui);
    port.SetRs485(true);
    EXPECT_FALSE(port.Open(pty.slavePath()));
    EXPECT_EQ(port.LastError(), SerialError::NoRs485Mode);
    EXPECT_FALSE(port.IsOpen());

    CSerialPort plain(ui);
    EXPECT_TRUE(plain.Open(pty.slavePath())) << SerialErrorText(plain.LastError());
}

// A network port's direction belongs to its device server: refused before connecting (nothing
// listens at that address, which would be Refused).
TEST(Rs485, ANetworkPortIsRefusedBeforeItIsReached) {
    test::RecordingUi ui;
    CSerialPort port(ui);
    port.SetRs485(true);
    for (const char* name : {"socket://127.0.0.1:1", "rfc2217://127.0.0.1:1"}) {
        SCOPED_TRACE(name);
        EXPECT_FALSE(port.Open(name));
        EXPECT_EQ(port.LastError(), SerialError::Rs485Remote);
    }
}

}  // namespace
}  // namespace tarvex

// The serial line over a POSIX tty, and the terminal-settings helpers of TermiosLinePosix.cpp
// and TermiosPosix.cpp. Included by POSIX code only.
#pragma once

#include <termios.h>

#include <optional>
#include <string>

#include "platform/UniqueFdPosix.h"
#include "serial/LowLatency.h"
#include "serial/Rs485.h"
#include "serial/SerialInternal.h"
#include "serial/SerialLine.h"

namespace tarvex {

// Running counts of line errors as a serial driver keeps them.
struct LineErrorCounts {
    long frame = 0;
    long overrun = 0;
    long parity = 0;
    long brk = 0;
    long bufferOverrun = 0;  // the driver's receive buffer was full
};

// The device is opened non-blocking and every wait goes through poll() against a deadline on
// the monotonic clock. VMIN/VTIME alone cannot give what the panel protocol needs: a read must
// come back the moment its bytes are there, must give up after its time-out even when nothing
// at all arrives, and must notice a device that went away instead of waiting.
class CTermiosLine final : public ISerialLine {
  public:
    CTermiosLine() = default;
    ~CTermiosLine() override;
    CTermiosLine(const CTermiosLine&) = delete;
    CTermiosLine& operator=(const CTermiosLine&) = delete;

    SerialError Open(const std::string& path) override;
    bool IsOpen() const override { return fd_.valid(); }
    SerialError ReadState() override;
    SerialError Configure(const LineSettings& settings) override;
    SerialError Write(const std::uint8_t* data, std::size_t length, const LineWait& wait,
                      std::size_t& written) override;
    SerialError Read(std::uint8_t* buffer, std::size_t length, const LineWait& wait,
                     std::size_t& received) override;
    SerialError Purge(LineQueue queue) override;
    SerialError SetModemLines(bool dtr, bool rts) override;
    SerialError RequestRs485(bool hearOwnFrames) override;
    bool LineErrorSeen() override;
    void Close() override;

    // For an emergency exit from a signal handler: the descriptor (-1: closed) and the settings
    // found at open, so that the line can be restored with async-signal-safe calls alone.
    int Descriptor() const { return fd_.get(); }
    const struct termios* SavedSettings() const { return haveSaved_ ? &saved_ : nullptr; }
    // What Close would put back of the adapter's latency, ready for the same exit.
    const EmergencyLatency& EmergencyLatencyRestore() const { return emergencyLatency_; }

  private:
    platform::UniqueFd fd_;
    struct termios saved_ {};  // as found at open, restored at close
    bool haveSaved_ = false;
    bool exclusiveSet_ = false;  // this object put the tty into exclusive mode
    bool pseudoTerminal_ = false;

    // Abort-on-error: the device's error counters when the line was configured; a rise in any
    // of them is a line error.
    bool watchLineErrors_ = false;
    bool checkParity_ = false;
    LineErrorCounts errorBaseline_{};

    LatencyRestore latency_;               // what Open changed for low latency on a USB adapter
    EmergencyLatency emergencyLatency_;    // the same for a signal handler
    std::optional<Rs485Record> rs485Was_;  // the driver's RS-485 record before RequestRs485
};

SerialError SerialErrorFromErrno(int err);

// Builds the terminal settings for `line` from the device's current settings `current`.
// Pure: no device is touched. Returns false (and leaves `out` alone) for a value that cannot be
// expressed, such as an unknown baud rate or parity code.
bool BuildTermios(const LineSettings& line, const struct termios& current, struct termios& out);

// Whether the device took the settings `wanted`, judged from what it reports back (`actual`).
// A pseudo-terminal has no line: it keeps no parity or character size of its own, so for one
// only the fields that shape the byte stream (input, output and local modes, VMIN/VTIME,
// flow control) are compared; a real device must also report the speed and framing asked for.
bool SettingsTakenByDevice(const struct termios& wanted, const struct termios& actual,
                           bool pseudoTerminal);

// Restores `saved` and `latency` (each when given) and closes fd using async-signal-safe calls
// only, for a signal handler that must leave the line as it found it. The advisory lock goes
// with the descriptor.
void EmergencyRestoreAndClose(int fd, const struct termios* saved,
                              const EmergencyLatency* latency = nullptr);

namespace serial_detail {

// A device opened for this program alone.
struct ExclusiveDevice {
    platform::UniqueFd fd;
    SerialError error = SerialError::None;  // why it did not open
    bool exclusiveSet = false;              // TIOCEXCL was set by us and must be cleared
    struct termios settings {};             // the settings found at open
};

// Opens path read-write, non-blocking, close-on-exec and without becoming its controlling
// terminal, takes the advisory lock and sets the kernel's exclusive mode. Nothing else about
// the device changes.
ExclusiveDevice OpenExclusive(const std::string& path);

// Undoes OpenExclusive: exclusive mode, lock, descriptor.
void ReleaseExclusive(platform::UniqueFd fd, bool exclusiveSet);

// True for the slave side of a pseudo-terminal, which has no line of its own.
bool IsPseudoTerminal(int fd);

// The device's running counts of line errors; false when the driver keeps none (a
// pseudo-terminal, some USB adapters).
bool ReadLineErrorCounts(int fd, LineErrorCounts& out);

}  // namespace serial_detail
}  // namespace tarvex

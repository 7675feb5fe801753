// The POSIX side of the serial port: what CSerialPort keeps of a tty, and the terminal-settings
// helpers of SerialPortPosix.cpp and TermiosPosix.cpp. Included by POSIX code only.
#pragma once

#include <termios.h>

#include <string>

#include "serial/LowLatency.h"
#include "serial/SerialInternal.h"
#include "serial/SerialPort.h"

namespace tarvex {

struct CSerialPort::Native {
    int fd = -1;
    struct termios saved {};  // as found at open, restored at close
    bool haveSaved = false;
    bool exclusiveSet = false;  // this object put the tty into exclusive mode
    bool pseudoTerminal = false;

    // Abort-on-error: the device's error counters when the line was configured; a rise in any
    // of them makes every later read and write fail until Close.
    bool watchLineErrors = false;
    bool checkParity = false;
    LineErrorCounts errorBaseline{};
    bool lineFailed = false;

    LatencyRestore latency;  // what Open changed for low latency on a USB adapter
};

// For an emergency exit from a signal handler: the descriptor (-1: closed) and the settings
// found at open, so that the line can be restored with async-signal-safe calls alone.
inline int NativeHandle(const CSerialPort& port) {
    return port.NativeState().fd;
}
inline const struct termios* SavedSettings(const CSerialPort& port) {
    return port.NativeState().haveSaved ? &port.NativeState().saved : nullptr;
}

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

// Restores `saved` (when given) and closes fd using async-signal-safe calls only, for a signal
// handler that must leave the line as it found it. The advisory lock goes with the descriptor.
void EmergencyRestoreAndClose(int fd, const struct termios* saved);

namespace serial_detail {

// A device opened for this program alone.
struct ExclusiveDevice {
    int fd = -1;
    SerialError error = SerialError::None;  // why it did not open
    bool exclusiveSet = false;              // TIOCEXCL was set by us and must be cleared
    struct termios settings {};             // the settings found at open
};

// Opens path read-write, non-blocking, close-on-exec and without becoming its controlling
// terminal, takes the advisory lock and sets the kernel's exclusive mode. Nothing else about
// the device changes.
ExclusiveDevice OpenExclusive(const std::string& path);

// Undoes OpenExclusive: exclusive mode, lock, descriptor.
void ReleaseExclusive(int fd, bool exclusiveSet);

// True for the slave side of a pseudo-terminal, which has no line of its own.
bool IsPseudoTerminal(int fd);

// The device's running counts of line errors; false when the driver keeps none (a
// pseudo-terminal, some USB adapters).
bool ReadLineErrorCounts(int fd, LineErrorCounts& out);

}  // namespace serial_detail
}  // namespace tarvex

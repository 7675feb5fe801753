// ISerialLine: the line underneath CSerialPort, one implementation per kind of line.
//
//   Open(path)                  takes the device for this program alone, keeping what Close
//                               needs to leave it as found
//   ReadState()                 asks the device for its current settings: None while it answers
//   Configure(settings)         raw 8-bit line as asked, no flow control, DTR and RTS held off;
//                               from here on line errors are watched (LineErrorSeen)
//   Write(data, n, wait, put)   hands the driver what it takes of the block, waiting for room
//                               no longer than `wait` allows; put < n with None means the wait
//                               ended first (Timeout: the deadline did)
//   Read(buf, n, wait, got)     what is there now; when nothing is, waits as `wait` allows for
//                               the first bytes to arrive; got 0 with None means nothing came
//                               (a line may come back early with nothing: ask again)
//   Purge(queue)                drops bytes received and not read, or sent and not yet gone
//   SetModemLines(dtr, rts)     raises or drops DTR and RTS; None also where the device has no
//                               modem lines (a pseudo-terminal)
//   RequestRs485(hearOwn)       right after Open: the driver switches RTS for two-wire RS-485
//                               until Close, which puts back the mode found (serial/Rs485.h);
//                               NoRs485Mode where the driver has none, Rs485Remote on a
//                               network line, whose direction is the device server's
//   LineErrorSeen()             a framing, overrun or break error (and a parity error, when
//                               parity is checked) since Configure or the last call
//   Close()                     puts back what Open found and releases the device; harmless
//                               twice
//
// A line does no bookkeeping of its own beyond the device: the time-outs, the total deadline,
// the assembly of a reply by length, the idle hook, the abort-on-error state and the error
// kinds the caller sees are CSerialPort's, written once over every line. So each operation
// waits at most once and returns; the caller decides what a short read or write means.
//
// MakeSerialLine(portName) chooses the line for a port's name: "rfc2217://HOST:PORT" is a serial
// port on a device server that speaks the Telnet Com Port Control option, "socket://HOST:PORT"
// raw TCP to one (NetworkLine.h); every other name is the system's serial device (termios, or a
// Windows COM port).
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace tarvex {

// The few kinds of failure the port distinguishes; every line maps its system's error codes
// onto these once.
enum class SerialError {
    None,
    NotFound,          // no such device
    PermissionDenied,  // the user may not open it (not in the group that owns it, usually dialout)
    Busy,              // held by another program
    NotATerminal,      // the path is no serial device
    Unsupported,       // a setting the device does not take
    Timeout,
    Disconnected,  // the device went away (cable or USB adapter pulled)
    Io,            // any other device error
    NotOpen,       // the operation needs an open port
    LineError,     // a framing, overrun or (when checked) parity error was seen since
                   // ConfigureLine; the port refuses reads and writes until it is reopened
    // Network lines.
    Refused,         // nothing listens at the address (or the server turned the connection away)
    ConnectTimeout,  // no connection within the connect deadline
    BadName,         // a network port name without a host or a valid port number
    // Two-wire lines.
    EchoMismatch,  // what came back of a frame differs from what was sent
    NoRs485Mode,   // RS-485 direction control was asked and the driver has no such mode
    Rs485Remote,   // RS-485 direction control was asked on a network port
};

std::string_view SerialErrorText(SerialError e);

// What Configure sets, in the codes of the download form.
struct LineSettings {
    std::uint32_t baudRate = 19200;
    std::uint8_t dataBits = 8;      // 5..8
    bool parityChecking = false;    // check received parity
    std::uint8_t parityCode = 0;    // 0 none, 1 odd, 2 even, 3 mark, 4 space
    std::uint8_t stopBitsCode = 0;  // 0 one stop bit, 2 two stop bits (1: one and a half)
};

using LineClock = std::chrono::steady_clock;

// How long one line operation may wait. It gives up at `deadline` (none: no limit of its own)
// and hands control back by `yieldAt` (none: not before the deadline), so that the caller can
// run its idle hook and call again. A line whose writes block for the time the bytes need on
// the wire hands the driver no more at once than fits before `yieldAt`.
struct LineWait {
    std::optional<LineClock::time_point> deadline;
    std::optional<LineClock::time_point> yieldAt;

    // The earlier of the two; none when neither is set.
    std::optional<LineClock::time_point> Until() const {
        if (deadline && yieldAt) {
            return *yieldAt < *deadline ? *yieldAt : *deadline;
        }
        return deadline ? deadline : yieldAt;
    }
};

enum class LineQueue { Input, Output };

class ISerialLine {
  public:
    virtual ~ISerialLine() = default;

    virtual SerialError Open(const std::string& path) = 0;
    virtual bool IsOpen() const = 0;
    virtual SerialError ReadState() = 0;
    virtual SerialError Configure(const LineSettings& settings) = 0;
    virtual SerialError Write(const std::uint8_t* data, std::size_t length, const LineWait& wait,
                              std::size_t& written) = 0;
    virtual SerialError Read(std::uint8_t* buffer, std::size_t length, const LineWait& wait,
                             std::size_t& received) = 0;
    virtual SerialError Purge(LineQueue queue) = 0;
    virtual SerialError SetModemLines(bool dtr, bool rts) = 0;
    virtual SerialError RequestRs485(bool hearOwnFrames) = 0;
    virtual bool LineErrorSeen() = 0;
    virtual void Close() = 0;
};

// The line for a port's name (the name as the user gave it, before DevicePathForPortName).
std::unique_ptr<ISerialLine> MakeSerialLine(std::string_view portName);

// The system's own serial device: termios on POSIX, a COM port on Windows.
std::unique_ptr<ISerialLine> MakeSystemLine();

}  // namespace tarvex

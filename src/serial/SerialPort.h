// CSerialPort: the one way to the panel, a serial line or the virtual COM port of a USB link.
//
//   Open(name)                    exclusive open of an existing device; "COM3" is the third COM
//                                 port (on Linux /dev/ttyS2)
//   ConfigureLine(...)            raw 8-bit line: baud, data bits, parity, stop bits, no flow
//                                 control, DTR and RTS held off
//   SetTimeouts(five values)      read interval, read multiplier, read constant, write
//                                 multiplier, write constant (milliseconds; 0 leaves a term out)
//   WriteBlock(data, len)         the whole block, or false
//   ReadBlock(buf, len, got)      returns as soon as len bytes are there, or when the total read
//                                 time-out has passed with what arrived; false on a device error
//   DiscardInput()                drops bytes that arrived but were not read
//   Close()                       restores the line as found, releases the device; harmless twice
//
// Every operation is synchronous. While a read or a write waits, the idle hook (if set) is
// called every few tens of milliseconds so that a window can stay responsive.
//
// Once ConfigureLine has run, the first framing, overrun or break error on the line (and parity
// error, when parity is checked) makes every later read and write fail with LineError until the
// port is closed and opened again (abort-on-error). A read with no total time-out waits for its
// whole count. LastError() tells why the last operation failed.
//
// What the port holds of the device (descriptor or handle, the settings found at open) is the
// platform's own: SerialPortPosix.h and SerialPortWin32.h define CSerialPort::Native.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "platform/Time.h"
#include "platform/UserInterface.h"

namespace tarvex {

// The few kinds of failure the port distinguishes; the system's error codes are mapped onto
// these once.
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
};

std::string_view SerialErrorText(SerialError e);

// Device path for a port name. On Linux "COM" + n (any case) gives /dev/ttyS(n - 1); on Windows
// it gives \\.\COMn, the form every COM port opens by (COM10 and above need it). Anything
// else is taken as a path as it stands.
std::string DevicePathForPortName(std::string_view portName);

// n for "COM" + n in any letter case, n from 1 without leading zeros; nothing otherwise.
std::optional<unsigned long> ComPortNumber(std::string_view portName);

// What ConfigureLine sets, in the codes of the download form.
struct LineSettings {
    std::uint32_t baudRate = 19200;
    std::uint8_t dataBits = 8;      // 5..8
    bool parityChecking = false;    // check received parity
    std::uint8_t parityCode = 0;    // 0 none, 1 odd, 2 even, 3 mark, 4 space
    std::uint8_t stopBitsCode = 0;  // 0 one stop bit, 2 two stop bits (1: one and a half)
};

// Running counts of line errors as a serial driver keeps them.
struct LineErrorCounts {
    long frame = 0;
    long overrun = 0;
    long parity = 0;
    long brk = 0;
    long bufferOverrun = 0;  // the driver's receive buffer was full
};

struct Timeouts {
    std::uint32_t readInterval = 0;
    std::uint32_t readMultiplier = 0;
    std::uint32_t readConstant = 0;
    std::uint32_t writeMultiplier = 0;
    std::uint32_t writeConstant = 0;
};

class CSerialPort {
  public:
    explicit CSerialPort(IUserInterface& ui);
    ~CSerialPort();
    CSerialPort(const CSerialPort&) = delete;
    CSerialPort& operator=(const CSerialPort&) = delete;

    bool Open(std::string_view portName);
    bool ConfigureLine(std::uint32_t baudRate, std::uint8_t dataBits, std::uint8_t parityChecking,
                       std::uint8_t parityCode, std::uint8_t stopBitsCode);
    bool SetTimeouts(std::uint32_t readInterval, std::uint32_t readMultiplier,
                     std::uint32_t readConstant, std::uint32_t writeMultiplier,
                     std::uint32_t writeConstant);
    bool WriteBlock(const std::uint8_t* data, std::size_t length, std::size_t* written = nullptr);
    bool ReadBlock(std::uint8_t* buffer, std::size_t length, std::size_t& received);
    bool DiscardInput();
    void Close();

    bool IsOpen() const;
    SerialError LastError() const { return lastError_; }
    const std::string& DevicePath() const { return devicePath_; }
    void SetIdleHook(platform::IdleHook hook) { idle_ = std::move(hook); }

    // The platform's own state of the port (SerialPortPosix.h, SerialPortWin32.h).
    struct Native;
    const Native& NativeState() const { return *native_; }

  private:
    IUserInterface& ui_;
    std::unique_ptr<Native> native_;
    std::string devicePath_;
    Timeouts timeouts_{};
    SerialError lastError_ = SerialError::None;
    platform::IdleHook idle_;

    bool Fail(SerialError e);
    bool LineUsable();
    // The checks a block transfer starts with: none (go on) or the transfer's result.
    std::optional<bool> StartBlock(const void* data, std::size_t length);
};

}  // namespace tarvex

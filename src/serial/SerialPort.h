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
// Every operation is synchronous. While a read waits, the idle hook (if set) is called every few
// tens of milliseconds so that a window can stay responsive. A write never calls it: a frame
// goes out whole, so that a handler that blocks in the hook cannot leave it half on the line.
//
// Once ConfigureLine has run, the first framing, overrun or break error on the line (and parity
// error, when parity is checked) makes every later read and write fail with LineError until the
// port is closed and opened again (abort-on-error). A read with no total time-out waits for its
// whole count. LastError() tells why the last operation failed.
//
// With SetRs485(true), Open also asks the driver to switch RTS for a two-wire RS-485 line and
// fails, naming no fallback, where the driver cannot; Close puts back the mode found.
//
// The port is written once for every kind of line: it works through an ISerialLine
// (serial/SerialLine.h) that MakeSerialLine chooses by the port's name at Open. What a line
// holds of its device (descriptor or handle, the settings found at open) is the line's own; the
// platform's emergency exit reaches it through SerialPortPosix.h or SerialPortWin32.h.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/Time.h"
#include "platform/UserInterface.h"
#include "serial/SerialLine.h"

namespace tarvex {

// Device path for a port name. On Linux "COM" + n (any case) gives /dev/ttyS(n - 1); on Windows
// it gives \\.\COMn, the form every COM port opens by (COM10 and above need it). Anything
// else is taken as a path as it stands.
std::string DevicePathForPortName(std::string_view portName);

// The name under which the Com Port list shows (and dnld.sv saves) a port named by the user.
// On Windows a COM port keeps its name, as every Windows user and tool knows it ("com20" gives
// COM20, never \\.\COM20); on Linux the list shows device paths, so COMn gives /dev/ttyS(n-1).
// The device path serves only to open the port.
std::string ListedPortName(std::string_view portName);

// n for "COM" + n in any letter case, n from 1 without leading zeros; nothing otherwise.
std::optional<unsigned long> ComPortNumber(std::string_view portName);

// What a two-wire line does with the port's own transmission, which it hears as an echo before
// the reply: nothing (a four-wire or RS-232 line hears none), drop it, or drop it after
// comparing it with the frame sent. The echo of a block is read by the next ReadBlock, before
// the reply and under the reply's deadline; an echo that differs is EchoMismatch.
enum class EchoMode { None, Discard, Verify };

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
    void SetEcho(EchoMode mode) { echo_ = mode; }
    EchoMode Echo() const { return echo_; }
    // Two-wire RS-485 direction control by the driver (serial/Rs485.h), asked at every later
    // Open; an Open whose driver has no such mode fails with NoRs485Mode.
    void SetRs485(bool on) { rs485_ = on; }
    bool Rs485() const { return rs485_; }

    // The line underneath, chosen at Open; none before the first Open.
    const ISerialLine* Line() const { return line_.get(); }

  private:
    IUserInterface& ui_;
    std::unique_ptr<ISerialLine> line_;
    std::string devicePath_;
    Timeouts timeouts_{};
    SerialError lastError_ = SerialError::None;
    bool lineFailed_ = false;  // abort-on-error: a line error was seen since ConfigureLine
    platform::IdleHook idle_;
    EchoMode echo_ = EchoMode::None;
    bool rs485_ = false;
    std::vector<std::uint8_t> pendingEcho_;  // sent since the last read, to come back first

    bool Fail(SerialError e);
    // A failure of the line, or LineError when a line error explains it.
    bool FailLine(SerialError e);
    bool LineUsable();
    // The checks a block transfer starts with: none (go on) or the transfer's result.
    std::optional<bool> StartBlock(const void* data, std::size_t length);
};

}  // namespace tarvex

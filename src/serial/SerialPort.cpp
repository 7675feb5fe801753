// The parts of the serial port that are the same on every platform: error texts, COM port
// names and the arithmetic of the total time-outs.
#include <algorithm>

#include "serial/SerialInternal.h"
#include "serial/SerialPort.h"

namespace tarvex {

std::string_view SerialErrorText(SerialError e) {
    switch (e) {
        case SerialError::None:
            return "ok";
        case SerialError::NotFound:
            return "not found";
        case SerialError::PermissionDenied:
            return "permission denied";
        case SerialError::Busy:
            return "busy";
        case SerialError::NotATerminal:
            return "not a serial device";
        case SerialError::Unsupported:
            return "setting not supported by the device";
        case SerialError::Timeout:
            return "timed out";
        case SerialError::Disconnected:
            return "device disconnected";
        case SerialError::Io:
            return "device error";
        case SerialError::NotOpen:
            return "port not open";
        case SerialError::LineError:
            return "line error (framing, overrun or parity)";
    }
    return "device error";
}

std::optional<unsigned long> ComPortNumber(std::string_view portName) {
    if (portName.size() <= 3 || (portName[0] != 'C' && portName[0] != 'c') ||
        (portName[1] != 'O' && portName[1] != 'o') || (portName[2] != 'M' && portName[2] != 'm')) {
        return std::nullopt;
    }
    const std::string_view digits = portName.substr(3);
    if (digits.size() > 9 || digits.front() == '0') {
        return std::nullopt;
    }
    unsigned long n = 0;
    for (const char c : digits) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        n = n * 10 + static_cast<unsigned long>(c - '0');
    }
    return n;
}

namespace serial_detail {

std::optional<std::uint32_t> TotalTimeoutMs(std::uint32_t multiplier, std::uint32_t constant,
                                            std::size_t count) {
    if (multiplier == 0 && constant == 0) {
        return std::nullopt;
    }
    const std::uint64_t perByte =
        static_cast<std::uint64_t>(multiplier) * std::min<std::uint64_t>(count, 0xFFFFFFFFu);
    return static_cast<std::uint32_t>(std::min<std::uint64_t>(perByte + constant, 0xFFFFFFFFu));
}

}  // namespace serial_detail
}  // namespace tarvex

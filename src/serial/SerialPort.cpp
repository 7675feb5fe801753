// The serial port over any line: open and close bookkeeping, the time-outs the form sets, the
// total read deadline with the interval rule, the assembly of a reply by its length under one
// deadline, the idle hook, abort-on-error, error texts and COM port names.
//
// A line operation waits at most once: for the first bytes of a read, for room in a write.
// The loops here turn that into the port's contract by asking again until the count is in or
// the deadline has passed, and by cutting every wait at the next idle call when there is an idle
// hook. Without one, a wait runs to the deadline in one piece, so an idle line costs no CPU.
#include "serial/SerialPort.h"

#include <algorithm>

#include "serial/NetworkLine.h"
#include "serial/SerialInternal.h"

namespace tarvex {
namespace {

using Clock = LineClock;

// The total time-out as a point in time; none when both terms are 0.
std::optional<Clock::time_point> TotalDeadline(Clock::time_point start, std::uint32_t multiplier,
                                               std::uint32_t constant, std::size_t count) {
    const std::optional<std::uint32_t> ms =
        serial_detail::TotalTimeoutMs(multiplier, constant, count);
    if (!ms) {
        return std::nullopt;
    }
    return start + std::chrono::milliseconds(*ms);
}

Clock::time_point NextIdle(Clock::time_point from) {
    return from + std::chrono::milliseconds(platform::kIdleSliceMs);
}

}  // namespace

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
        case SerialError::Refused:
            return "connection refused";
        case SerialError::ConnectTimeout:
            static_assert(kConnectDeadlineSeconds == 5, "the text names the deadline");
            return "no connection within the connect deadline (5 s)";
        case SerialError::BadName:
            return "not a network port name (HOST:PORT, port 1 to 65535)";
        case SerialError::EchoMismatch:
            return "the echo differs from the frame sent (a collision on the line, or a wrong "
                   "termination)";
        case SerialError::NoRs485Mode:
            return "the driver has no RS-485 mode (direction control by RTS)";
        case SerialError::Rs485Remote:
            return "RS-485 direction control is the device server's on a network port";
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

std::unique_ptr<ISerialLine> MakeSerialLine(std::string_view portName) {
    if (IsNetworkPortName(portName)) {
        return MakeNetworkLine();
    }
    return MakeSystemLine();
}

CSerialPort::CSerialPort(IUserInterface& ui) : ui_(ui) {}

CSerialPort::~CSerialPort() {
    Close();
}

bool CSerialPort::IsOpen() const {
    return line_ != nullptr && line_->IsOpen();
}

bool CSerialPort::Fail(SerialError e) {
    lastError_ = e;
    return false;
}

bool CSerialPort::FailLine(SerialError e) {
    // A driver that stops all I/O at the first line error reports the refusal as a failure of
    // its own; the line error is the reason the caller should see.
    return Fail(LineUsable() ? e : SerialError::LineError);
}

bool CSerialPort::Open(std::string_view portName) {
    Close();
    lastError_ = SerialError::None;
    devicePath_ = DevicePathForPortName(portName);
    if (rs485_ && IsNetworkPortName(portName)) {
        // Refused before connecting: a device server may serve one connection at a time.
        return Fail(SerialError::Rs485Remote);
    }
    line_ = MakeSerialLine(portName);
    if (const SerialError e = line_->Open(devicePath_); e != SerialError::None) {
        return Fail(e);
    }
    if (rs485_) {
        // Never a download without the direction control asked for: it would talk over the
        // panel's replies. The line puts back whatever it changed when it closes.
        if (const SerialError e = line_->RequestRs485(echo_ != EchoMode::None);
            e != SerialError::None) {
            line_->Close();
            return Fail(e);
        }
    }
    // A freshly opened port has no time-outs: reads wait for their whole count until
    // SetTimeouts says otherwise.
    timeouts_ = Timeouts{};
    lineFailed_ = false;
    pendingEcho_.clear();
    return true;
}

bool CSerialPort::ConfigureLine(std::uint32_t baudRate, std::uint8_t dataBits,
                                std::uint8_t parityChecking, std::uint8_t parityCode,
                                std::uint8_t stopBitsCode) {
    const SerialError state = IsOpen() ? line_->ReadState() : SerialError::NotOpen;
    if (state != SerialError::None) {
        lastError_ = state;
        ErrorBox(ui_, "GetCommState Error", "Error");
        return false;
    }
    LineSettings line;
    line.baudRate = baudRate;
    line.dataBits = dataBits;
    line.parityChecking = (parityChecking & 1u) != 0;
    line.parityCode = parityCode;
    line.stopBitsCode = stopBitsCode;
    if (const SerialError e = line_->Configure(line); e != SerialError::None) {
        return Fail(e);
    }
    // Abort-on-error counts from the new settings on.
    lineFailed_ = false;
    return true;
}

bool CSerialPort::SetTimeouts(std::uint32_t readInterval, std::uint32_t readMultiplier,
                              std::uint32_t readConstant, std::uint32_t writeMultiplier,
                              std::uint32_t writeConstant) {
    // The time-outs are this object's own record: each read and write gives the line the wait
    // it needs. Reading the record fails only when there is no port.
    if (!IsOpen()) {
        return Fail(SerialError::NotOpen);
    }
    timeouts_ =
        Timeouts{readInterval, readMultiplier, readConstant, writeMultiplier, writeConstant};
    // Any value is acceptable, so the device can refuse the record only by no longer being
    // there (a USB adapter pulled since Open): then the port is of no further use.
    if (const SerialError e = line_->ReadState(); e != SerialError::None) {
        lastError_ = e;
        ErrorBox(ui_, "Error in setting communication timeoouts!", "Com Port Error");
        Close();
        return false;
    }
    return true;
}

bool CSerialPort::LineUsable() {
    if (!lineFailed_ && line_ != nullptr && line_->IsOpen()) {
        lineFailed_ = line_->LineErrorSeen();
    }
    return !lineFailed_;
}

std::optional<bool> CSerialPort::StartBlock(const void* data, std::size_t length) {
    if (!IsOpen()) {
        return Fail(SerialError::NotOpen);
    }
    if (!LineUsable()) {
        return Fail(SerialError::LineError);
    }
    if (length == 0) {
        return true;
    }
    if (data == nullptr) {
        return Fail(SerialError::Io);
    }
    return std::nullopt;
}

bool CSerialPort::ReadBlock(std::uint8_t* buffer, std::size_t length, std::size_t& received) {
    received = 0;
    if (const std::optional<bool> early = StartBlock(buffer, length)) {
        return *early;
    }

    const Clock::time_point start = Clock::now();
    const auto total =
        TotalDeadline(start, timeouts_.readMultiplier, timeouts_.readConstant, length);
    const bool immediate = timeouts_.readInterval == serial_detail::kReturnImmediately && !total;
    // The interval time-out counts from the last byte and only once the first one is in.
    const bool useInterval = timeouts_.readInterval != 0 && !immediate;
    // The echo of what was sent comes first and is read like the reply's first bytes.
    std::vector<std::uint8_t> echo(pendingEcho_.size());
    const std::vector<std::uint8_t> sent = std::move(pendingEcho_);
    pendingEcho_.clear();
    std::size_t echoed = 0;
    Clock::time_point lastByte = start;
    Clock::time_point nextIdle = NextIdle(start);

    for (;;) {
        // The idle hook may have closed the port.
        if (!IsOpen()) {
            return Fail(SerialError::NotOpen);
        }
        const Clock::time_point now = Clock::now();
        std::optional<Clock::time_point> deadline = total;
        if (useInterval && received > 0) {
            const Clock::time_point gapEnd =
                lastByte + std::chrono::milliseconds(timeouts_.readInterval);
            deadline = deadline ? std::min(*deadline, gapEnd) : gapEnd;
        }
        // Past the deadline, one last look at what is queued by now: time spent in the idle
        // hook (a message box left open for seconds) must not cost a reply that is there.
        const bool expired = immediate || (deadline && now >= *deadline);
        LineWait wait;
        wait.deadline = expired ? std::optional<Clock::time_point>(now) : deadline;
        if (!expired && idle_) {
            wait.yieldAt = nextIdle;
        }
        std::size_t got = 0;
        const bool inEcho = echoed < echo.size();
        const SerialError e =
            inEcho ? line_->Read(echo.data() + echoed, echo.size() - echoed, wait, got)
                   : line_->Read(buffer + received, length - received, wait, got);
        if (e != SerialError::None) {
            return FailLine(e);
        }
        if (got > 0 && inEcho) {
            if (echo_ == EchoMode::Verify &&
                !std::equal(echo.begin() + static_cast<std::ptrdiff_t>(echoed),
                            echo.begin() + static_cast<std::ptrdiff_t>(echoed + got),
                            sent.begin() + static_cast<std::ptrdiff_t>(echoed))) {
                return Fail(SerialError::EchoMismatch);
            }
            echoed += got;
            lastByte = Clock::now();
            continue;
        }
        if (got > 0) {
            received += got;
            lastByte = Clock::now();
            if (received == length) {
                return LineUsable() || Fail(SerialError::LineError);
            }
            continue;  // more may be queued already
        }
        if (expired) {
            // A time-out is no failure: the caller judges what arrived.
            return LineUsable() || Fail(SerialError::LineError);
        }
        if (idle_ && Clock::now() >= nextIdle) {
            idle_();
            nextIdle = NextIdle(Clock::now());
        }
    }
}

bool CSerialPort::WriteBlock(const std::uint8_t* data, std::size_t length, std::size_t* written) {
    std::size_t done = 0;
    auto report = [&] {
        if (written != nullptr) {
            *written = done;
        }
    };
    report();
    if (const std::optional<bool> early = StartBlock(data, length)) {
        return *early;
    }

    // The block counts as written once the driver has taken all of it. Waiting for the last
    // bit to leave the wire would only delay the panel's reply, which the read that follows
    // waits for anyway. A write time-out of 0 means no limit, as on the panel's original
    // platform.
    //
    // The idle hook does not run inside a frame: a handler that blocks in it (a message box)
    // would leave the frame half on the line, the panel's loader would time out in the middle
    // of it, and the next frame would start mid-packet. The pump runs between frames and while
    // a reply is awaited; a frame takes at most its own line time.
    const Clock::time_point start = Clock::now();
    const auto deadline =
        TotalDeadline(start, timeouts_.writeMultiplier, timeouts_.writeConstant, length);

    while (done < length) {
        if (deadline && Clock::now() >= *deadline) {
            return Fail(SerialError::Timeout);
        }
        LineWait wait;
        wait.deadline = deadline;
        std::size_t put = 0;
        const SerialError e = line_->Write(data + done, length - done, wait, put);
        if (echo_ != EchoMode::None) {
            pendingEcho_.insert(pendingEcho_.end(), data + done, data + done + put);
        }
        done += put;
        report();
        if (e != SerialError::None) {
            return FailLine(e);
        }
    }
    return LineUsable() || Fail(SerialError::LineError);
}

bool CSerialPort::DiscardInput() {
    if (!IsOpen()) {
        return Fail(SerialError::NotOpen);
    }
    // An echo not read by now is gone with the rest: a read after the purge waits for none.
    pendingEcho_.clear();
    if (const SerialError e = line_->Purge(LineQueue::Input); e != SerialError::None) {
        return Fail(e);
    }
    return true;
}

void CSerialPort::Close() {
    if (!IsOpen()) {
        return;
    }
    // Output stuck behind a failed or vanished device would make the close wait for the
    // driver's closing time (30 s by default on Linux); it can no longer reach the panel anyway.
    if (lastError_ == SerialError::Timeout || lastError_ == SerialError::Disconnected ||
        lastError_ == SerialError::Io) {
        (void)line_->Purge(LineQueue::Output);
    }
    // The line object stays: a read or write that called the idle hook which closed the port
    // still holds on to it.
    line_->Close();
    lineFailed_ = false;
}

}  // namespace tarvex

// CSerialPort over a Windows COM port.
//
// The port is opened without sharing, so a port another program holds fails to open. The line
// is set through the DCB field by field, read back and compared, and the DCB and time-outs
// found at open are put back at close.
//
// Reads give the same deadlines as on Linux (the total time-out of multiplier x count +
// constant, the interval rule from the last byte, the special "return at once") and run the
// idle hook about every 25 ms. They are built from one primitive the driver offers: with
// ReadIntervalTimeout and ReadTotalTimeoutMultiplier both MAXDWORD and a constant c, ReadFile
// returns at once with what is queued, else with the first bytes that arrive, else after c ms
// with nothing. The loop below cuts the wait into such slices, each ending at the next idle
// call, the interval limit or the deadline, whichever comes first. A reply already queued when
// the deadline passes is still read, because every slice starts with a read.
#include "serial/SerialPortWin32.h"

#include <algorithm>
#include <chrono>
#include <cwctype>

#include "platform/Utf16Win32.h"

namespace tarvex {
namespace {

using Clock = std::chrono::steady_clock;

// The longest wait one slice may ask the driver for; ReadTotalTimeoutConstant must stay below
// MAXDWORD in this mode.
constexpr DWORD kLongestSliceMs = 0x7FFFFFFF;

// Writes go out in pieces of about this many milliseconds of line time, so that the idle hook
// runs during a long block.
constexpr std::uint32_t kWriteSliceMs = platform::kIdleSliceMs;

// Errors met while data moves: the device is open, so any failure means it is gone (a USB
// adapter pulled) unless the line's own errors explain it.
SerialError IoError(DWORD error) {
    switch (error) {
        case ERROR_OPERATION_ABORTED:
            return SerialError::LineError;  // the driver's abort-on-error
        case ERROR_INVALID_HANDLE:
            return SerialError::NotOpen;
        default:
            return SerialError::Disconnected;
    }
}

DWORD MsUntil(Clock::time_point when, Clock::time_point now) {
    if (when <= now) {
        return 0;
    }
    const auto ms = std::chrono::ceil<std::chrono::milliseconds>(when - now).count();
    return static_cast<DWORD>(std::min<std::int64_t>(ms, kLongestSliceMs));
}

// A port held by this program: the device handle, and the claim that other instances of this
// program see.
struct HeldDevice {
    HANDLE handle = INVALID_HANDLE_VALUE;
    HANDLE claim = nullptr;
};

void Release(HeldDevice& held) {
    if (held.handle != INVALID_HANDLE_VALUE) {
        ::CloseHandle(held.handle);
        held.handle = INVALID_HANDLE_VALUE;
    }
    if (held.claim != nullptr) {
        ::CloseHandle(held.claim);
        held.claim = nullptr;
    }
}

// Two guards, as on Linux, because Wine enforces only one of them: the device is opened
// without sharing, which keeps every other program out on Windows; and a named mutex per port
// keeps out every other instance of this program, also where the share mode is not enforced.
HeldDevice OpenDevice(const std::string& path, DWORD& error) {
    HeldDevice held;
    const std::wstring wide = platform::Widen(path);
    if (wide.empty()) {
        error = ERROR_FILE_NOT_FOUND;
        return held;
    }
    std::wstring claimName = L"Local\\tarvex-port-";
    for (const wchar_t c : wide) {
        claimName.push_back(c == L'\\' ? L'_' : static_cast<wchar_t>(::towupper(c)));
    }
    held.claim = ::CreateMutexW(nullptr, FALSE, claimName.c_str());
    if (held.claim != nullptr && ::GetLastError() == ERROR_ALREADY_EXISTS) {
        Release(held);
        error = ERROR_BUSY;
        return held;
    }
    // No sharing: a second opener gets ERROR_ACCESS_DENIED (or ERROR_SHARING_VIOLATION).
    held.handle = ::CreateFileW(wide.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    if (held.handle == INVALID_HANDLE_VALUE) {
        error = ::GetLastError();
        Release(held);
        return held;
    }
    error = ERROR_SUCCESS;
    return held;
}

}  // namespace

SerialError SerialErrorFromWin32(DWORD error) {
    switch (error) {
        case ERROR_SUCCESS:
            return SerialError::None;
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_INVALID_NAME:
        case ERROR_BAD_NETPATH:
        case ERROR_DEV_NOT_EXIST:
            return SerialError::NotFound;
        case ERROR_ACCESS_DENIED:
        case ERROR_SHARING_VIOLATION:
        case ERROR_BUSY:
        case ERROR_LOCK_VIOLATION:
            // A COM port held by another program answers "access denied".
            return SerialError::Busy;
        case ERROR_NOT_SUPPORTED:
        case ERROR_INVALID_PARAMETER:
            return SerialError::Unsupported;
        case ERROR_INVALID_FUNCTION:
            return SerialError::NotATerminal;
        case ERROR_SEM_TIMEOUT:
        case WAIT_TIMEOUT:
            return SerialError::Timeout;
        case ERROR_DEVICE_NOT_CONNECTED:
        case ERROR_DEVICE_REMOVED:
        case ERROR_GEN_FAILURE:
        case ERROR_BAD_COMMAND:
            return SerialError::Disconnected;
        default:
            return SerialError::Io;
    }
}

std::string DevicePathForPortName(std::string_view portName) {
    // Every COM port opens as \\.\COMn; from COM10 on the plain name would not open at all.
    if (const std::optional<unsigned long> n = ComPortNumber(portName)) {
        return "\\\\.\\COM" + std::to_string(*n);
    }
    return std::string(portName);
}

bool BuildDcb(const LineSettings& line, const DCB& current, DCB& out) {
    if (line.baudRate == 0 || line.dataBits < 5 || line.dataBits > 8 || line.parityCode > 4) {
        return false;
    }
    // One and a half stop bits exist only with five data bits, two only with more.
    if (line.stopBitsCode > 2 || (line.stopBitsCode == 1 && line.dataBits != 5) ||
        (line.stopBitsCode == 2 && line.dataBits == 5)) {
        return false;
    }
    DCB d = current;
    d.DCBlength = sizeof(DCB);
    d.BaudRate = line.baudRate;
    d.ByteSize = line.dataBits;
    // The form's parity codes are Windows' own: NOPARITY, ODDPARITY, EVENPARITY, MARKPARITY,
    // SPACEPARITY; so are its stop-bit codes: ONESTOPBIT, ONE5STOPBITS, TWOSTOPBITS.
    d.Parity = line.parityCode;
    d.StopBits = line.stopBitsCode;
    d.fParity = line.parityChecking ? TRUE : FALSE;
    d.fBinary = TRUE;
    // No flow control of any kind; DTR and RTS held off.
    d.fOutxCtsFlow = FALSE;
    d.fOutxDsrFlow = FALSE;
    d.fDtrControl = DTR_CONTROL_DISABLE;
    d.fRtsControl = RTS_CONTROL_DISABLE;
    d.fDsrSensitivity = FALSE;
    d.fTXContinueOnXoff = TRUE;
    d.fOutX = FALSE;
    d.fInX = FALSE;
    // Bytes arrive as sent: no replacement of bad bytes, NULs kept.
    d.fErrorChar = FALSE;
    d.fNull = FALSE;
    // The driver stops all I/O at the first line error until ClearCommError.
    d.fAbortOnError = TRUE;
    out = d;
    return true;
}

bool DcbTakenByDevice(const DCB& wanted, const DCB& actual) {
    // A driver that cannot do a rate or a framing reports what it does instead.
    return wanted.BaudRate == actual.BaudRate && wanted.ByteSize == actual.ByteSize &&
           wanted.Parity == actual.Parity && wanted.StopBits == actual.StopBits &&
           actual.fOutxCtsFlow == FALSE && actual.fOutxDsrFlow == FALSE && actual.fOutX == FALSE &&
           actual.fInX == FALSE && actual.fRtsControl != RTS_CONTROL_HANDSHAKE &&
           actual.fDtrControl != DTR_CONTROL_HANDSHAKE;
}

void EmergencyRestoreAndClose(HANDLE handle, const DCB* saved) {
    if (handle == INVALID_HANDLE_VALUE) {
        return;
    }
    if (saved != nullptr) {
        DCB copy = *saved;
        (void)::SetCommState(handle, &copy);
    }
    (void)::CloseHandle(handle);
}

namespace serial_detail {

SerialError TryOpenExclusive(const std::string& path, IModemLines& /*lines*/) {
    DWORD error = ERROR_SUCCESS;
    HeldDevice held = OpenDevice(DevicePathForPortName(path), error);
    if (held.handle == INVALID_HANDLE_VALUE) {
        return SerialErrorFromWin32(error);
    }
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    const bool serial = ::GetCommState(held.handle, &dcb) != 0;
    if (serial) {
        // The driver raised DTR and RTS at the open; drop them at once, as a download does.
        (void)::EscapeCommFunction(held.handle, CLRDTR);
        (void)::EscapeCommFunction(held.handle, CLRRTS);
    }
    Release(held);
    return serial ? SerialError::None : SerialError::NotATerminal;
}

std::string OwningGroup(const std::string& /*path*/) {
    return {};  // COM ports are not given to groups on Windows
}

}  // namespace serial_detail

CSerialPort::CSerialPort(IUserInterface& ui) : ui_(ui), native_(std::make_unique<Native>()) {}

CSerialPort::~CSerialPort() {
    Close();
}

bool CSerialPort::IsOpen() const {
    return native_->handle != INVALID_HANDLE_VALUE;
}

bool CSerialPort::Fail(SerialError e) {
    lastError_ = e;
    return false;
}

bool CSerialPort::Open(std::string_view portName) {
    Close();
    lastError_ = SerialError::None;
    devicePath_ = DevicePathForPortName(portName);
    DWORD error = ERROR_SUCCESS;
    HeldDevice held = OpenDevice(devicePath_, error);
    if (held.handle == INVALID_HANDLE_VALUE) {
        return Fail(SerialErrorFromWin32(error));
    }
    Native& n = *native_;
    n = Native{};
    n.saved.DCBlength = sizeof(DCB);
    if (::GetCommState(held.handle, &n.saved) == 0) {
        Release(held);
        return Fail(SerialError::NotATerminal);
    }
    const HANDLE h = held.handle;
    n.handle = h;
    n.claim = held.claim;
    n.haveSaved = true;
    n.haveSavedTimeouts = ::GetCommTimeouts(h, &n.savedTimeouts) != 0;
    // A freshly opened port has no time-outs: reads wait for their whole count until
    // SetTimeouts says otherwise.
    timeouts_ = Timeouts{};
    return true;
}

bool CSerialPort::ConfigureLine(std::uint32_t baudRate, std::uint8_t dataBits,
                                std::uint8_t parityChecking, std::uint8_t parityCode,
                                std::uint8_t stopBitsCode) {
    Native& n = *native_;
    DCB current{};
    current.DCBlength = sizeof current;
    if (n.handle == INVALID_HANDLE_VALUE || ::GetCommState(n.handle, &current) == 0) {
        lastError_ =
            n.handle == INVALID_HANDLE_VALUE ? SerialError::NotOpen : IoError(::GetLastError());
        ErrorBox(ui_, "GetCommState Error", "Error");
        return false;
    }

    LineSettings line;
    line.baudRate = baudRate;
    line.dataBits = dataBits;
    line.parityChecking = (parityChecking & 1u) != 0;
    line.parityCode = parityCode;
    line.stopBitsCode = stopBitsCode;
    DCB wanted{};
    if (!BuildDcb(line, current, wanted)) {
        return Fail(SerialError::Unsupported);
    }
    if (::SetCommState(n.handle, &wanted) == 0) {
        const DWORD error = ::GetLastError();
        return Fail(error == ERROR_INVALID_PARAMETER || error == ERROR_NOT_SUPPORTED
                        ? SerialError::Unsupported
                        : IoError(error));
    }
    // SetCommState succeeds when the driver took what it could; only reading back tells
    // whether it kept all of it.
    DCB actual{};
    actual.DCBlength = sizeof actual;
    if (::GetCommState(n.handle, &actual) == 0) {
        return Fail(IoError(::GetLastError()));
    }
    if (!DcbTakenByDevice(wanted, actual)) {
        return Fail(SerialError::Unsupported);
    }

    // Abort-on-error: errors from before the new settings do not count. A driver that keeps no
    // error state (ClearCommError fails) has nothing to watch.
    DWORD errors = 0;
    n.checkParity = line.parityChecking;
    n.watchLineErrors = ::ClearCommError(n.handle, &errors, nullptr) != 0;
    n.lineFailed = false;
    return true;
}

bool CSerialPort::SetTimeouts(std::uint32_t readInterval, std::uint32_t readMultiplier,
                              std::uint32_t readConstant, std::uint32_t writeMultiplier,
                              std::uint32_t writeConstant) {
    // Kept as this object's record: each read and write gives the driver the slice it needs.
    Native& n = *native_;
    if (n.handle == INVALID_HANDLE_VALUE) {
        return Fail(SerialError::NotOpen);
    }
    timeouts_ =
        Timeouts{readInterval, readMultiplier, readConstant, writeMultiplier, writeConstant};
    // Any value is acceptable, so the device can refuse only by no longer being there.
    COMMTIMEOUTS probe{};
    if (::GetCommTimeouts(n.handle, &probe) == 0) {
        lastError_ = IoError(::GetLastError());
        ErrorBox(ui_, "Error in setting communication timeoouts!", "Com Port Error");
        Close();
        return false;
    }
    return true;
}

bool CSerialPort::LineUsable() {
    Native& n = *native_;
    if (n.lineFailed) {
        return false;
    }
    if (!n.watchLineErrors) {
        return true;
    }
    DWORD errors = 0;
    if (::ClearCommError(n.handle, &errors, nullptr) == 0) {
        return true;  // the device may have gone: the read or write itself will tell
    }
    DWORD fatal = CE_FRAME | CE_OVERRUN | CE_RXOVER | CE_BREAK;
    if (n.checkParity) {
        fatal |= CE_RXPARITY;
    }
    n.lineFailed = (errors & fatal) != 0;
    return !n.lineFailed;
}

std::optional<bool> CSerialPort::StartBlock(const void* data, std::size_t length) {
    if (native_->handle == INVALID_HANDLE_VALUE) {
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

namespace {

// Gives the driver `wanted` unless it has it already.
bool Apply(CSerialPort::Native& n, const COMMTIMEOUTS& wanted) {
    if (n.haveApplied && n.applied.ReadIntervalTimeout == wanted.ReadIntervalTimeout &&
        n.applied.ReadTotalTimeoutMultiplier == wanted.ReadTotalTimeoutMultiplier &&
        n.applied.ReadTotalTimeoutConstant == wanted.ReadTotalTimeoutConstant &&
        n.applied.WriteTotalTimeoutMultiplier == wanted.WriteTotalTimeoutMultiplier &&
        n.applied.WriteTotalTimeoutConstant == wanted.WriteTotalTimeoutConstant) {
        return true;
    }
    COMMTIMEOUTS copy = wanted;
    if (::SetCommTimeouts(n.handle, &copy) == 0) {
        n.haveApplied = false;
        return false;
    }
    n.applied = wanted;
    n.haveApplied = true;
    return true;
}

// A read that returns at once with what is queued, else with the first bytes to arrive within
// `waitMs`; waitMs 0 returns at once.
COMMTIMEOUTS ReadSlice(DWORD waitMs) {
    COMMTIMEOUTS t{};
    t.ReadIntervalTimeout = MAXDWORD;
    t.ReadTotalTimeoutMultiplier = waitMs == 0 ? 0 : MAXDWORD;
    t.ReadTotalTimeoutConstant = waitMs;
    return t;
}

}  // namespace

bool CSerialPort::ReadBlock(std::uint8_t* buffer, std::size_t length, std::size_t& received) {
    received = 0;
    if (const std::optional<bool> early = StartBlock(buffer, length)) {
        return *early;
    }

    const Clock::time_point start = Clock::now();
    std::optional<Clock::time_point> total;
    if (const auto ms = serial_detail::TotalTimeoutMs(timeouts_.readMultiplier,
                                                      timeouts_.readConstant, length)) {
        total = start + std::chrono::milliseconds(*ms);
    }
    const bool immediate = timeouts_.readInterval == serial_detail::kReturnImmediately && !total;
    // The interval time-out counts from the last byte and only once the first one is in.
    const bool useInterval = timeouts_.readInterval != 0 && !immediate;
    Clock::time_point lastByte = start;
    Clock::time_point nextIdle = start + std::chrono::milliseconds(platform::kIdleSliceMs);

    for (;;) {
        // An idle hook may have closed the port.
        if (native_->handle == INVALID_HANDLE_VALUE) {
            return Fail(SerialError::NotOpen);
        }
        const Clock::time_point now = Clock::now();
        std::optional<Clock::time_point> deadline = total;
        if (useInterval && received > 0) {
            const Clock::time_point gapEnd =
                lastByte + std::chrono::milliseconds(timeouts_.readInterval);
            deadline = deadline ? std::min(*deadline, gapEnd) : gapEnd;
        }
        const bool expired = immediate || (deadline && now >= *deadline);
        DWORD waitMs = kLongestSliceMs;
        if (expired) {
            waitMs = 0;  // one last look at what is queued
        } else {
            if (deadline) {
                waitMs = std::min(waitMs, MsUntil(*deadline, now));
            }
            if (idle_) {
                waitMs = std::min(waitMs, std::max<DWORD>(1, MsUntil(nextIdle, now)));
            }
        }
        if (!Apply(*native_, ReadSlice(waitMs))) {
            return Fail(IoError(::GetLastError()));
        }
        const DWORD want = static_cast<DWORD>(std::min<std::size_t>(length - received, 1u << 30));
        DWORD got = 0;
        if (::ReadFile(native_->handle, buffer + received, want, &got, nullptr) == 0) {
            const DWORD error = ::GetLastError();
            if (!LineUsable()) {
                return Fail(SerialError::LineError);
            }
            return Fail(IoError(error));
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
            nextIdle = Clock::now() + std::chrono::milliseconds(platform::kIdleSliceMs);
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

    // The block counts as written once the driver has taken all of it. A write time-out of 0
    // means no limit.
    const Clock::time_point start = Clock::now();
    std::optional<Clock::time_point> deadline;
    if (const auto ms = serial_detail::TotalTimeoutMs(timeouts_.writeMultiplier,
                                                      timeouts_.writeConstant, length)) {
        deadline = start + std::chrono::milliseconds(*ms);
    }
    // About kWriteSliceMs of line time per piece when there is an idle hook to run; the whole
    // block at once otherwise. Ten bits a byte covers every framing.
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    const std::uint32_t baud =
        ::GetCommState(native_->handle, &dcb) != 0 && dcb.BaudRate > 0 ? dcb.BaudRate : 9600;
    const std::size_t piece =
        idle_ ? std::max<std::size_t>(16, baud / 10 * kWriteSliceMs / 1000) : length;
    Clock::time_point nextIdle = start + std::chrono::milliseconds(platform::kIdleSliceMs);

    while (done < length) {
        if (native_->handle == INVALID_HANDLE_VALUE) {
            return Fail(SerialError::NotOpen);
        }
        const Clock::time_point now = Clock::now();
        if (deadline && now >= *deadline) {
            return Fail(SerialError::Timeout);
        }
        COMMTIMEOUTS t = native_->haveApplied ? native_->applied : ReadSlice(0);
        t.WriteTotalTimeoutMultiplier = 0;
        t.WriteTotalTimeoutConstant = deadline ? std::max<DWORD>(1, MsUntil(*deadline, now)) : 0;
        if (!Apply(*native_, t)) {
            return Fail(IoError(::GetLastError()));
        }
        const DWORD want = static_cast<DWORD>(std::min<std::size_t>(length - done, piece));
        DWORD put = 0;
        if (::WriteFile(native_->handle, data + done, want, &put, nullptr) == 0) {
            const DWORD error = ::GetLastError();
            if (!LineUsable()) {
                return Fail(SerialError::LineError);
            }
            return Fail(IoError(error));
        }
        done += put;
        report();
        if (put < want) {
            return Fail(SerialError::Timeout);  // the write time-out passed
        }
        if (idle_ && done < length && Clock::now() >= nextIdle) {
            idle_();
            nextIdle = Clock::now() + std::chrono::milliseconds(platform::kIdleSliceMs);
        }
    }
    return LineUsable() || Fail(SerialError::LineError);
}

bool CSerialPort::DiscardInput() {
    if (native_->handle == INVALID_HANDLE_VALUE) {
        return Fail(SerialError::NotOpen);
    }
    if (::PurgeComm(native_->handle, PURGE_RXABORT | PURGE_RXCLEAR) == 0) {
        return Fail(IoError(::GetLastError()));
    }
    return true;
}

void CSerialPort::Close() {
    Native& n = *native_;
    if (n.handle == INVALID_HANDLE_VALUE) {
        return;
    }
    // Output stuck behind a failed or vanished device would only delay the close.
    if (lastError_ == SerialError::Timeout || lastError_ == SerialError::Disconnected ||
        lastError_ == SerialError::Io) {
        (void)::PurgeComm(n.handle, PURGE_TXABORT | PURGE_TXCLEAR);
    }
    // Put the line back as it was found; after the device went away this fails harmlessly.
    if (n.haveSaved) {
        (void)::SetCommState(n.handle, &n.saved);
    }
    if (n.haveSavedTimeouts) {
        (void)::SetCommTimeouts(n.handle, &n.savedTimeouts);
    }
    (void)::CloseHandle(n.handle);
    if (n.claim != nullptr) {
        (void)::CloseHandle(n.claim);
    }
    n = Native{};
}

}  // namespace tarvex

// The serial line over a Windows COM port.
//
// Reads are built from one primitive the driver offers: with ReadIntervalTimeout and
// ReadTotalTimeoutMultiplier both MAXDWORD and a constant c, ReadFile returns at once with what
// is queued, else with the first byte that arrives, else after c ms with nothing. Each read asks
// for such a slice, ending where the caller's wait ends, and then takes what else is queued;
// the caller's loop turns slices into its deadlines. Writes block in WriteFile for the time the
// bytes take on the wire, so when the caller wants control back for its idle hook a write hands
// the driver only a piece of about that much line time.
#include "serial/CommLineWin32.h"

#include <algorithm>
#include <chrono>
#include <cwctype>

#include "platform/Utf16Win32.h"
#include "serial/FixtureNames.h"

namespace tarvex {
namespace {

using Clock = LineClock;

// The longest wait one slice may ask the driver for; ReadTotalTimeoutConstant must stay below
// MAXDWORD in this mode.
constexpr DWORD kLongestSliceMs = 0x7FFFFFFF;

// The longest a read waits before it looks whether the device is still there: under Wine a
// COM port whose far end has closed lets a read wait out its whole time-out.
constexpr DWORD kLongestQuietMs = 200;

// The smallest piece a write hands the driver, however soon the caller wants control back.
constexpr std::size_t kSmallestPiece = 16;

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

// Two guards, as on Linux, because Wine enforces only one of them: the device is opened
// without sharing, which keeps every other program out on Windows; and a named mutex per port
// keeps out every other instance of this program, also where the share mode is not enforced.
DWORD OpenDevice(const std::string& named, platform::UniqueHandle& handle,
                 platform::UniqueHandle& claim) {
    // A fixture's name leads to the COM port present now with its serial number or location,
    // and that port is claimed as if named by its own name.
    const std::string resolved = ResolvePortName(named);
    const std::string path = resolved == named ? named : DevicePathForPortName(resolved);
    const std::wstring wide = platform::Widen(path);
    if (wide.empty()) {
        return ERROR_FILE_NOT_FOUND;
    }
    std::wstring claimName = L"Local\\tarvex-port-";
    for (const wchar_t c : wide) {
        claimName.push_back(c == L'\\' ? L'_' : static_cast<wchar_t>(::towupper(c)));
    }
    platform::UniqueHandle mutex(::CreateMutexW(nullptr, FALSE, claimName.c_str()));
    if (mutex && ::GetLastError() == ERROR_ALREADY_EXISTS) {
        return ERROR_BUSY;
    }
    // No sharing: a second opener gets ERROR_ACCESS_DENIED (or ERROR_SHARING_VIOLATION).
    platform::UniqueHandle device(::CreateFileW(wide.c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                                                nullptr, OPEN_EXISTING, 0, nullptr));
    if (!device) {
        return ::GetLastError();
    }
    handle = std::move(device);
    claim = std::move(mutex);
    return ERROR_SUCCESS;
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

bool BuildDcb(const LineSettings& line, const DCB& current, DCB& out, bool rtsToggle) {
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
    // No flow control of any kind; DTR and RTS held off, unless the driver is to switch a
    // two-wire transceiver with RTS.
    d.fOutxCtsFlow = FALSE;
    d.fOutxDsrFlow = FALSE;
    d.fDtrControl = DTR_CONTROL_DISABLE;
    d.fRtsControl = rtsToggle ? RTS_CONTROL_TOGGLE : RTS_CONTROL_DISABLE;
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
           actual.fDtrControl != DTR_CONTROL_HANDSHAKE &&
           (wanted.fRtsControl != RTS_CONTROL_TOGGLE || actual.fRtsControl == RTS_CONTROL_TOGGLE);
}

DCB WithRtsToggle(const DCB& current) {
    DCB d = current;
    d.DCBlength = sizeof(DCB);
    d.fOutxCtsFlow = FALSE;  // RTS cannot be both a handshake line and the direction
    d.fRtsControl = RTS_CONTROL_TOGGLE;
    return d;
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

SerialError PortAvailability(const std::string& path, IModemLines& /*lines*/) {
    // The claim outlives the device handle, so that no other instance gets in between.
    platform::UniqueHandle claim;
    platform::UniqueHandle handle;
    if (const DWORD error = OpenDevice(DevicePathForPortName(path), handle, claim);
        error != ERROR_SUCCESS) {
        return SerialErrorFromWin32(error);
    }
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (::GetCommState(handle.get(), &dcb) == 0) {
        return SerialError::NotATerminal;
    }
    // The driver raised DTR and RTS at the open; drop them at once, as a download does. The
    // DCB is not put back: that would raise them again.
    (void)::EscapeCommFunction(handle.get(), CLRDTR);
    (void)::EscapeCommFunction(handle.get(), CLRRTS);
    return SerialError::None;
}

}  // namespace serial_detail

std::unique_ptr<ISerialLine> MakeSystemLine() {
    return std::make_unique<CCommLine>();
}

CCommLine::~CCommLine() {
    Close();
}

SerialError CCommLine::Open(const std::string& path) {
    Close();
    // The claim outlives the device handle, so that no other instance gets in between.
    platform::UniqueHandle claim;
    platform::UniqueHandle handle;
    if (const DWORD error = OpenDevice(path, handle, claim); error != ERROR_SUCCESS) {
        return SerialErrorFromWin32(error);
    }
    saved_ = DCB{};
    saved_.DCBlength = sizeof(DCB);
    if (::GetCommState(handle.get(), &saved_) == 0) {
        return SerialError::NotATerminal;
    }
    handle_ = std::move(handle);
    claim_ = std::move(claim);
    haveSaved_ = true;
    haveSavedTimeouts_ = ::GetCommTimeouts(handle_.get(), &savedTimeouts_) != 0;
    baudRate_ = saved_.BaudRate > 0 ? saved_.BaudRate : 9600;
    rtsToggle_ = false;
    haveApplied_ = false;
    watchLineErrors_ = false;
    checkParity_ = false;
    return SerialError::None;
}

SerialError CCommLine::ReadState() {
    if (!handle_) {
        return SerialError::NotOpen;
    }
    DCB current{};
    current.DCBlength = sizeof current;
    if (::GetCommState(handle_.get(), &current) == 0) {
        return IoError(::GetLastError());
    }
    return SerialError::None;
}

SerialError CCommLine::Configure(const LineSettings& line) {
    if (!handle_) {
        return SerialError::NotOpen;
    }
    DCB current{};
    current.DCBlength = sizeof current;
    if (::GetCommState(handle_.get(), &current) == 0) {
        return IoError(::GetLastError());
    }
    DCB wanted{};
    if (!BuildDcb(line, current, wanted, rtsToggle_)) {
        return SerialError::Unsupported;
    }
    if (::SetCommState(handle_.get(), &wanted) == 0) {
        const DWORD error = ::GetLastError();
        return error == ERROR_INVALID_PARAMETER || error == ERROR_NOT_SUPPORTED
                   ? SerialError::Unsupported
                   : IoError(error);
    }
    // SetCommState succeeds when the driver took what it could; only reading back tells
    // whether it kept all of it.
    DCB actual{};
    actual.DCBlength = sizeof actual;
    if (::GetCommState(handle_.get(), &actual) == 0) {
        return IoError(::GetLastError());
    }
    if (!DcbTakenByDevice(wanted, actual)) {
        return SerialError::Unsupported;
    }
    baudRate_ = actual.BaudRate;

    // Abort-on-error: errors from before the new settings do not count. A driver that keeps no
    // error state (ClearCommError fails) has nothing to watch.
    DWORD errors = 0;
    checkParity_ = line.parityChecking;
    watchLineErrors_ = ::ClearCommError(handle_.get(), &errors, nullptr) != 0;
    return SerialError::None;
}

SerialError CCommLine::RequestRs485(bool /*hearOwnFrames*/) {
    // The receiver stays on while sending under Windows' RTS toggle: the echo comes as it is.
    if (!handle_) {
        return SerialError::NotOpen;
    }
    DCB current{};
    current.DCBlength = sizeof current;
    if (::GetCommState(handle_.get(), &current) == 0) {
        return IoError(::GetLastError());
    }
    DCB wanted = WithRtsToggle(current);
    if (::SetCommState(handle_.get(), &wanted) == 0) {
        const DWORD error = ::GetLastError();
        return error == ERROR_INVALID_PARAMETER || error == ERROR_NOT_SUPPORTED
                   ? SerialError::NoRs485Mode
                   : IoError(error);
    }
    DCB actual{};
    actual.DCBlength = sizeof actual;
    if (::GetCommState(handle_.get(), &actual) == 0) {
        return IoError(::GetLastError());
    }
    if (actual.fRtsControl != RTS_CONTROL_TOGGLE) {
        return SerialError::NoRs485Mode;  // Close puts back the DCB found at open
    }
    rtsToggle_ = true;
    return SerialError::None;
}

SerialError CCommLine::SetModemLines(bool dtr, bool rts) {
    if (!handle_) {
        return SerialError::NotOpen;
    }
    for (const DWORD function : {dtr ? SETDTR : CLRDTR, rts ? SETRTS : CLRRTS}) {
        if (::EscapeCommFunction(handle_.get(), function) == 0) {
            const DWORD error = ::GetLastError();
            // A device without modem lines (a pseudo-terminal under Wine) refuses the request;
            // the byte stream works all the same there.
            if (error != ERROR_INVALID_FUNCTION && error != ERROR_NOT_SUPPORTED &&
                error != ERROR_INVALID_PARAMETER) {
                return IoError(error);
            }
        }
    }
    return SerialError::None;
}

bool CCommLine::LineErrorSeen() {
    if (!watchLineErrors_ || !handle_) {
        return false;
    }
    DWORD errors = 0;
    if (::ClearCommError(handle_.get(), &errors, nullptr) == 0) {
        return false;  // the device may have gone: the read or write itself will tell
    }
    DWORD fatal = CE_FRAME | CE_OVERRUN | CE_RXOVER | CE_BREAK;
    if (checkParity_) {
        fatal |= CE_RXPARITY;
    }
    return (errors & fatal) != 0;
}

bool CCommLine::Apply(const COMMTIMEOUTS& wanted) {
    if (haveApplied_ && applied_.ReadIntervalTimeout == wanted.ReadIntervalTimeout &&
        applied_.ReadTotalTimeoutMultiplier == wanted.ReadTotalTimeoutMultiplier &&
        applied_.ReadTotalTimeoutConstant == wanted.ReadTotalTimeoutConstant &&
        applied_.WriteTotalTimeoutMultiplier == wanted.WriteTotalTimeoutMultiplier &&
        applied_.WriteTotalTimeoutConstant == wanted.WriteTotalTimeoutConstant) {
        return true;
    }
    COMMTIMEOUTS copy = wanted;
    if (::SetCommTimeouts(handle_.get(), &copy) == 0) {
        haveApplied_ = false;
        return false;
    }
    applied_ = wanted;
    haveApplied_ = true;
    return true;
}

SerialError CCommLine::Read(std::uint8_t* buffer, std::size_t length, const LineWait& wait,
                            std::size_t& received) {
    received = 0;
    if (!handle_) {
        return SerialError::NotOpen;
    }
    const Clock::time_point now = Clock::now();
    const std::optional<Clock::time_point> until = wait.Until();
    DWORD waitMs = std::min(until ? MsUntil(*until, now) : kLongestSliceMs, kLongestQuietMs);
    if (waitMs == 0 && (!wait.deadline || *wait.deadline > now)) {
        // Only the idle call is due: a slice of one millisecond keeps the driver's time-outs as
        // they are instead of switching to "return at once" and back.
        waitMs = 1;
    }
    if (!Apply(ReadSlice(waitMs))) {
        return IoError(::GetLastError());
    }
    // Some drivers (Wine's, for one) wait for the whole count in this mode instead of coming
    // back with the first bytes: a read that may wait asks for one byte, then takes what else
    // is queued without waiting.
    const DWORD most = static_cast<DWORD>(std::min<std::size_t>(length, 1u << 30));
    DWORD got = 0;
    if (::ReadFile(handle_.get(), buffer, waitMs == 0 ? most : 1, &got, nullptr) == 0) {
        return IoError(::GetLastError());
    }
    if (got == 0) {
        // Nothing came. A driver whose device went away may answer every read at once with
        // nothing (Wine's, for a tty whose far end has closed); only the device's state tells.
        return ReadState();
    }
    received = got;
    if (waitMs > 0 && most > 1) {
        if (!Apply(ReadSlice(0))) {
            return IoError(::GetLastError());
        }
        DWORD more = 0;
        if (::ReadFile(handle_.get(), buffer + 1, most - 1, &more, nullptr) == 0) {
            return IoError(::GetLastError());
        }
        received += more;
    }
    return SerialError::None;
}

SerialError CCommLine::Write(const std::uint8_t* data, std::size_t length, const LineWait& wait,
                             std::size_t& written) {
    written = 0;
    if (!handle_) {
        return SerialError::NotOpen;
    }
    const Clock::time_point now = Clock::now();
    // The driver's own write time-out is the remaining total; the read time-outs stay as the
    // last read left them.
    COMMTIMEOUTS t = haveApplied_ ? applied_ : ReadSlice(0);
    t.WriteTotalTimeoutMultiplier = 0;
    t.WriteTotalTimeoutConstant =
        wait.deadline ? std::max<DWORD>(1, MsUntil(*wait.deadline, now)) : 0;
    if (!Apply(t)) {
        return IoError(::GetLastError());
    }
    // About the line time left until yieldAt, ten bits a byte (which covers every framing).
    std::size_t piece = length;
    if (wait.yieldAt) {
        const std::size_t bytesPerSecond = baudRate_ / 10;
        piece = std::max(kSmallestPiece, bytesPerSecond * MsUntil(*wait.yieldAt, now) / 1000);
    }
    const DWORD want = static_cast<DWORD>(std::min<std::size_t>({length, piece, 1u << 30}));
    DWORD put = 0;
    if (::WriteFile(handle_.get(), data, want, &put, nullptr) == 0) {
        return IoError(::GetLastError());
    }
    written = put;
    // The driver stops short only when its write time-out, the caller's deadline, has passed.
    return put < want ? SerialError::Timeout : SerialError::None;
}

SerialError CCommLine::Purge(LineQueue queue) {
    if (!handle_) {
        return SerialError::NotOpen;
    }
    const DWORD flags = queue == LineQueue::Input ? (PURGE_RXABORT | PURGE_RXCLEAR)
                                                  : (PURGE_TXABORT | PURGE_TXCLEAR);
    if (::PurgeComm(handle_.get(), flags) == 0) {
        return IoError(::GetLastError());
    }
    return SerialError::None;
}

void CCommLine::Close() {
    if (!handle_) {
        return;
    }
    // Put the line back as it was found; after the device went away this fails harmlessly.
    if (haveSaved_) {
        (void)::SetCommState(handle_.get(), &saved_);
    }
    if (haveSavedTimeouts_) {
        (void)::SetCommTimeouts(handle_.get(), &savedTimeouts_);
    }
    handle_.reset();
    claim_.reset();
    haveSaved_ = false;
    haveSavedTimeouts_ = false;
    rtsToggle_ = false;
    haveApplied_ = false;
    watchLineErrors_ = false;
    checkParity_ = false;
}

}  // namespace tarvex

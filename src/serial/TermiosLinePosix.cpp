// CSerialPort over a POSIX tty.
//
// The device is opened non-blocking and every wait goes through poll() against a deadline on
// the monotonic clock. VMIN/VTIME alone cannot give the behaviour the panel protocol needs: a
// read must come back the moment its bytes are there, must give up after its total time-out
// even when nothing at all arrives, and must notice a device that went away instead of waiting.
//
// The terminal settings follow the usual pattern: the settings found at open are kept, the new
// ones are built on a copy, applied, read back and compared, and the old ones are put back at
// close, so that the device is left as it was found.
#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <optional>
#include <vector>

#include "serial/PortAccess.h"
#include "serial/SerialPortPosix.h"

namespace tarvex {
namespace {

using Clock = std::chrono::steady_clock;

// Errors met while data moves: on a tty that was open, "no device" means it went away.
SerialError IoErrorFromErrno(int err) {
    const SerialError e = SerialErrorFromErrno(err);
    return e == SerialError::NotFound ? SerialError::Disconnected : e;
}

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

// Time left until `when`, in whole milliseconds rounded up so that poll() never returns a
// moment early and leaves the caller spinning on a zero time-out.
int MsUntil(Clock::time_point when, Clock::time_point now) {
    if (when <= now) {
        return 0;
    }
    const auto ms = std::chrono::ceil<std::chrono::milliseconds>(when - now).count();
    return static_cast<int>(std::min<std::int64_t>(ms, INT_MAX));
}

// Waits for `events` on fd until `deadline` (none: without limit), calling `idle` about every
// kIdleSliceMs while it waits. Without an idle hook the whole wait is one poll() call, so an
// idle line costs no CPU time.
enum class WaitResult { Ready, TimedOut, Failed };

struct Waiter {
    const int& fd;  // the port's own descriptor: an idle hook may have closed the port
    short events;
    const platform::IdleHook& idle;
    Clock::time_point nextIdle;

    Waiter(const int& port, short wanted, const platform::IdleHook& hook, Clock::time_point start)
        : fd(port),
          events(wanted),
          idle(hook),
          nextIdle(start + std::chrono::milliseconds(platform::kIdleSliceMs)) {}

    // On Ready, `revents` holds what poll() reported; on Failed, `error` says why.
    WaitResult Wait(std::optional<Clock::time_point> deadline, short& revents, SerialError& error) {
        for (;;) {
            if (fd < 0) {
                error = IoErrorFromErrno(EBADF);
                return WaitResult::Failed;
            }
            const Clock::time_point now = Clock::now();
            if (deadline && now >= *deadline) {
                return WaitResult::TimedOut;
            }
            int timeout = deadline ? MsUntil(*deadline, now) : -1;
            if (idle) {
                if (now >= nextIdle) {
                    idle();
                    nextIdle = Clock::now() + std::chrono::milliseconds(platform::kIdleSliceMs);
                    continue;  // the hook may have taken a while: look at the clock again
                }
                const int toIdle = MsUntil(nextIdle, now);
                timeout = timeout < 0 ? toIdle : std::min(timeout, toIdle);
            }
            pollfd pfd{fd, events, 0};
            const int r = ::poll(&pfd, 1, timeout);
            if (r < 0) {
                if (errno == EINTR) {
                    continue;  // the deadline is absolute, so the remaining time stays right
                }
                error = IoErrorFromErrno(errno);
                return WaitResult::Failed;
            }
            if (r > 0) {
                if ((pfd.revents & POLLNVAL) != 0) {
                    error = SerialError::Io;
                    return WaitResult::Failed;
                }
                revents = pfd.revents;
                return WaitResult::Ready;
            }
        }
    }
};

}  // namespace

SerialError SerialErrorFromErrno(int err) {
    switch (err) {
        case 0:
            return SerialError::None;
        case ENOENT:
        case ENODEV:
        case ENXIO:
            return SerialError::NotFound;
        case EACCES:
        case EPERM:
        case EROFS:
            return SerialError::PermissionDenied;
        case EBUSY:
        case EAGAIN:
#if EWOULDBLOCK != EAGAIN
        case EWOULDBLOCK:
#endif
            return SerialError::Busy;
        case ENOTTY:
        case EISDIR:
            return SerialError::NotATerminal;
        case EBADF:
            return SerialError::NotOpen;
        case EINVAL:
        case EOPNOTSUPP:
#if ENOTSUP != EOPNOTSUPP
        case ENOTSUP:
#endif
            return SerialError::Unsupported;
        case ETIMEDOUT:
            return SerialError::Timeout;
        case EIO:
        case EPIPE:
        case ESHUTDOWN:
            // A tty whose other side has gone (pty master closed, USB adapter unplugged,
            // hang-up) answers EIO to everything.
            return SerialError::Disconnected;
        default:
            return SerialError::Io;
    }
}

std::string DevicePathForPortName(std::string_view portName) {
    // Settings files written on Windows name ports COM1, COM2, ...; Wine maps COMn to
    // /dev/ttyS(n-1), and so does this program. Any other name is a device path already.
    if (const std::optional<unsigned long> n = ComPortNumber(portName)) {
        return "/dev/ttyS" + std::to_string(*n - 1);
    }
    return std::string(portName);
}

namespace serial_detail {

ExclusiveDevice OpenExclusive(const std::string& path) {
    ExclusiveDevice dev;
    // Opening raises DTR and RTS, and they would stay up for the program that holds the port:
    // a held port is not opened at all.
    if (PortHeldElsewhere(path)) {
        dev.error = SerialError::Busy;
        return dev;
    }
    // O_NONBLOCK: a port without CLOCAL would otherwise wait in open() for a carrier, and all
    // I/O is poll()-driven anyway. O_NOCTTY: a session leader must not adopt the port as its
    // terminal (a hang-up would then send it SIGHUP).
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        dev.error = SerialErrorFromErrno(errno);
        return dev;
    }
    if (::tcgetattr(fd, &dev.settings) != 0) {
        const int err = errno;
        dev.error = (err == ENOTTY || err == EINVAL) ? SerialError::NotATerminal
                                                     : SerialErrorFromErrno(err);
        ReleaseExclusive(fd, false);
        return dev;
    }

    // Two locks, because neither alone keeps a second user out:
    //  - TIOCEXCL makes further open() calls fail with EBUSY, but not for a process with
    //    CAP_SYS_ADMIN, and not for one that opened the device before;
    //  - flock() excludes every program that also locks (a second instance of this tool,
    //    including one running as root), but not programs that never lock.
    // The lock comes first: only its owner may set exclusive mode, because Close clears it
    // again and must never clear the exclusive mode of the instance that really holds the port.
    for (;;) {
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
            break;
        }
        const int err = errno;
        if (err == EINTR) {
            continue;
        }
        if (err == ENOLCK || err == EINVAL || err == EOPNOTSUPP) {
            break;  // a device file system without locks: exclusive mode still protects
        }
        dev.error = SerialErrorFromErrno(err);  // EWOULDBLOCK: held by another instance
        ReleaseExclusive(fd, false);
        return dev;
    }
#ifdef TIOCGEXCL
    // A privileged process gets through another program's exclusive mode; it must still not
    // share the line with it.
    int alreadyExclusive = 0;
    if (::ioctl(fd, TIOCGEXCL, &alreadyExclusive) == 0 && alreadyExclusive != 0) {
        dev.error = SerialError::Busy;
        ReleaseExclusive(fd, false);
        return dev;
    }
#endif
    if (::ioctl(fd, TIOCEXCL) != 0) {
        dev.error = SerialErrorFromErrno(errno);
        ReleaseExclusive(fd, false);
        return dev;
    }
    dev.exclusiveSet = true;
    dev.fd = fd;
    return dev;
}

void ReleaseExclusive(int fd, bool exclusiveSet) {
    if (fd < 0) {
        return;
    }
    // Exclusive mode belongs to the tty, not to this descriptor: when another process still has
    // the device open, it would outlive the close. The lock and the descriptor go together.
    // Failures are of no consequence here: a device that went away has nothing left to release.
    if (exclusiveSet) {
        (void)::ioctl(fd, TIOCNXCL);
    }
    (void)::flock(fd, LOCK_UN);
    // Linux releases the descriptor even when close() reports EINTR, so it is never retried.
    (void)::close(fd);
}

SerialError TryOpenExclusive(const std::string& path, IModemLines& lines) {
    const ExclusiveDevice dev = OpenExclusive(path);
    if (dev.fd < 0) {
        return dev.error;
    }
    (void)lines.DropDtrRts(dev.fd);
    ReleaseExclusive(dev.fd, dev.exclusiveSet);
    return SerialError::None;
}

std::string OwningGroup(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        return {};
    }
    long size = ::sysconf(_SC_GETGR_R_SIZE_MAX);
    if (size <= 0) {
        size = 4096;
    }
    std::vector<char> buf(static_cast<std::size_t>(size));
    for (int attempt = 0; attempt < 6; ++attempt) {
        group grp{};
        group* found = nullptr;
        const int rc = ::getgrgid_r(st.st_gid, &grp, buf.data(), buf.size(), &found);
        if (rc == 0) {
            return found != nullptr ? std::string(found->gr_name) : std::to_string(st.st_gid);
        }
        if (rc != ERANGE) {
            break;
        }
        buf.resize(buf.size() * 2);
    }
    return std::to_string(st.st_gid);
}

}  // namespace serial_detail

void EmergencyRestoreAndClose(int fd, const struct termios* saved) {
    if (fd < 0) {
        return;
    }
    // Only tcsetattr, ioctl and close: plain system calls, safe inside a signal handler. The
    // caller's errno survives, as a handler must leave it.
    const int savedErrno = errno;
    if (saved != nullptr) {
        (void)::tcsetattr(fd, TCSANOW, saved);
    }
    (void)::ioctl(fd, TIOCNXCL);
    (void)::close(fd);
    errno = savedErrno;
}

CSerialPort::CSerialPort(IUserInterface& ui) : ui_(ui), native_(std::make_unique<Native>()) {}

CSerialPort::~CSerialPort() {
    Close();
}

bool CSerialPort::IsOpen() const {
    return native_->fd >= 0;
}

bool CSerialPort::Fail(SerialError e) {
    lastError_ = e;
    return false;
}

bool CSerialPort::Open(std::string_view portName) {
    Close();
    lastError_ = SerialError::None;
    devicePath_ = DevicePathForPortName(portName);
    const serial_detail::ExclusiveDevice dev = serial_detail::OpenExclusive(devicePath_);
    if (dev.fd < 0) {
        return Fail(dev.error);
    }
    native_->fd = dev.fd;
    native_->exclusiveSet = dev.exclusiveSet;
    native_->saved = dev.settings;
    native_->haveSaved = true;
    native_->pseudoTerminal = serial_detail::IsPseudoTerminal(native_->fd);
    if (!native_->pseudoTerminal) {
        SystemLatencyControls controls;
        native_->latency = RequestLowLatency(
            native_->fd, FindUsbLatency("/sys", TtyNameOf(devicePath_)), controls);
    }
    // A freshly opened port has no time-outs: reads wait for their whole count until
    // SetTimeouts says otherwise.
    timeouts_ = Timeouts{};
    native_->watchLineErrors = false;
    native_->lineFailed = false;
    return true;
}

bool CSerialPort::ConfigureLine(std::uint32_t baudRate, std::uint8_t dataBits,
                                std::uint8_t parityChecking, std::uint8_t parityCode,
                                std::uint8_t stopBitsCode) {
    struct termios current {};
    if (native_->fd < 0 || ::tcgetattr(native_->fd, &current) != 0) {
        lastError_ = native_->fd < 0 ? SerialError::NotOpen : IoErrorFromErrno(errno);
        ErrorBox(ui_, "GetCommState Error", "Error");
        return false;
    }

    LineSettings line;
    line.baudRate = baudRate;
    line.dataBits = dataBits;
    line.parityChecking = (parityChecking & 1u) != 0;
    line.parityCode = parityCode;
    line.stopBitsCode = stopBitsCode;
    struct termios wanted {};
    if (!BuildTermios(line, current, wanted)) {
        return Fail(SerialError::Unsupported);
    }
    if (::tcsetattr(native_->fd, TCSANOW, &wanted) != 0) {
        return Fail(IoErrorFromErrno(errno));
    }

    // DTR and RTS held off. This comes after tcsetattr because the serial core raises both when
    // a line leaves speed 0. A pseudo-terminal has no modem lines and refuses the request with
    // ENOTTY (some USB drivers with EINVAL); the byte stream works all the same there.
    int lines = TIOCM_DTR | TIOCM_RTS;
    if (::ioctl(native_->fd, TIOCMBIC, &lines) != 0 && errno != ENOTTY && errno != EINVAL) {
        return Fail(IoErrorFromErrno(errno));
    }

    // tcsetattr succeeds when any part of the request was taken; only reading back tells
    // whether the driver kept all of it.
    struct termios actual {};
    if (::tcgetattr(native_->fd, &actual) != 0) {
        return Fail(IoErrorFromErrno(errno));
    }
    if (!SettingsTakenByDevice(wanted, actual, native_->pseudoTerminal)) {
        return Fail(SerialError::Unsupported);
    }

    // Abort-on-error: from here on, the first framing, overrun or break error (and parity error
    // when parity is checked) makes every read and write fail until the port is reopened. The
    // driver's error counters are the only way Linux reports these without altering the data;
    // drivers that keep none (pseudo-terminals, some USB adapters) have nothing to watch.
    native_->checkParity = line.parityChecking;
    native_->watchLineErrors =
        serial_detail::ReadLineErrorCounts(native_->fd, native_->errorBaseline);
    native_->lineFailed = false;
    return true;
}

bool CSerialPort::SetTimeouts(std::uint32_t readInterval, std::uint32_t readMultiplier,
                              std::uint32_t readConstant, std::uint32_t writeMultiplier,
                              std::uint32_t writeConstant) {
    // The time-outs are this object's own record: the tty keeps none that could be read back.
    // Reading the record fails only when there is no port.
    if (native_->fd < 0) {
        return Fail(SerialError::NotOpen);
    }
    timeouts_ =
        Timeouts{readInterval, readMultiplier, readConstant, writeMultiplier, writeConstant};
    // Any value is acceptable, so the device can refuse the record only by no longer being
    // there (a USB adapter pulled since Open): then the port is of no further use.
    struct termios probe {};
    if (::tcgetattr(native_->fd, &probe) != 0) {
        lastError_ = IoErrorFromErrno(errno);
        ErrorBox(ui_, "Error in setting communication timeoouts!", "Com Port Error");
        Close();
        return false;
    }
    return true;
}

bool CSerialPort::LineUsable() {
    if (native_->lineFailed) {
        return false;
    }
    if (!native_->watchLineErrors) {
        return true;
    }
    LineErrorCounts now;
    if (!serial_detail::ReadLineErrorCounts(native_->fd, now)) {
        return true;  // the device may have gone: the read or write itself will tell
    }
    native_->lineFailed = now.frame != native_->errorBaseline.frame ||
                          now.overrun != native_->errorBaseline.overrun ||
                          now.brk != native_->errorBaseline.brk ||
                          now.bufferOverrun != native_->errorBaseline.bufferOverrun ||
                          (native_->checkParity && now.parity != native_->errorBaseline.parity);
    return !native_->lineFailed;
}

std::optional<bool> CSerialPort::StartBlock(const void* data, std::size_t length) {
    if (native_->fd < 0) {
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
    Clock::time_point lastByte = start;
    bool hangupSeen = false;
    bool deadlinePassed = false;
    Waiter waiter(native_->fd, POLLIN, idle_, start);

    for (;;) {
        const ssize_t n = ::read(native_->fd, buffer + received, length - received);
        if (n > 0) {
            received += static_cast<std::size_t>(n);
            lastByte = Clock::now();
            hangupSeen = false;
            if (received == length) {
                return LineUsable() || Fail(SerialError::LineError);
            }
            continue;  // more may be queued already
        }
        if (n == 0) {
            // With VMIN 1 an empty queue gives EAGAIN; 0 is the end of a hung-up line.
            return Fail(SerialError::Disconnected);
        }
        const int err = errno;
        if (err == EINTR) {
            continue;
        }
        if (err != EAGAIN && err != EWOULDBLOCK) {
            return Fail(IoErrorFromErrno(err));
        }
        if (hangupSeen) {
            // poll() reported a hang-up and nothing is left to read: the device is gone.
            return Fail(SerialError::Disconnected);
        }
        if (immediate || deadlinePassed) {
            return LineUsable() || Fail(SerialError::LineError);
        }

        std::optional<Clock::time_point> deadline = total;
        if (useInterval && received > 0) {
            const Clock::time_point gapEnd =
                lastByte + std::chrono::milliseconds(timeouts_.readInterval);
            deadline = deadline ? std::min(*deadline, gapEnd) : gapEnd;
        }
        short revents = 0;
        SerialError waitError = SerialError::None;
        switch (waiter.Wait(deadline, revents, waitError)) {
            case WaitResult::TimedOut:
                // A time-out is no failure: the caller judges what arrived. The deadline may
                // have passed while the idle hook ran (a message box left open for seconds):
                // what is queued by now is taken first, never left behind as stale.
                deadlinePassed = true;
                continue;
            case WaitResult::Failed:
                return Fail(waitError);
            case WaitResult::Ready:
                break;
        }
        // On POLLHUP or POLLERR read once more: bytes the device sent before it went away are
        // still queued and belong to the caller; the read after them reports the end.
        hangupSeen = (revents & (POLLHUP | POLLERR)) != 0 && (revents & POLLIN) == 0;
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
    // bit to leave the wire (tcdrain) would only delay the panel's reply, which the read that
    // follows waits for anyway. A write time-out of 0 means no limit, as on the panel's
    // original platform.
    const Clock::time_point start = Clock::now();
    const auto deadline =
        TotalDeadline(start, timeouts_.writeMultiplier, timeouts_.writeConstant, length);
    Waiter waiter(native_->fd, POLLOUT, idle_, start);

    while (done < length) {
        const ssize_t n = ::write(native_->fd, data + done, length - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
            report();
            continue;
        }
        if (n < 0) {
            const int err = errno;
            if (err == EINTR) {
                continue;
            }
            if (err != EAGAIN && err != EWOULDBLOCK) {
                return Fail(IoErrorFromErrno(err));
            }
        }
        // The driver's queue is full: wait for room.
        short revents = 0;
        SerialError waitError = SerialError::None;
        switch (waiter.Wait(deadline, revents, waitError)) {
            case WaitResult::TimedOut:
                return Fail(SerialError::Timeout);
            case WaitResult::Failed:
                return Fail(waitError);
            case WaitResult::Ready:
                break;
        }
        if ((revents & (POLLHUP | POLLERR)) != 0 && (revents & POLLOUT) == 0) {
            return Fail(SerialError::Disconnected);
        }
    }
    return LineUsable() || Fail(SerialError::LineError);
}

bool CSerialPort::DiscardInput() {
    if (native_->fd < 0) {
        return Fail(SerialError::NotOpen);
    }
    if (::tcflush(native_->fd, TCIFLUSH) != 0) {
        return Fail(IoErrorFromErrno(errno));
    }
    return true;
}

void CSerialPort::Close() {
    if (native_->fd < 0) {
        return;
    }
    // Output stuck behind a failed or vanished device would make close() wait for the
    // driver's closing time (30 s by default); it can no longer reach the panel anyway.
    if (lastError_ == SerialError::Timeout || lastError_ == SerialError::Disconnected ||
        lastError_ == SerialError::Io) {
        (void)::tcflush(native_->fd, TCOFLUSH);
    }
    // Put the line back as it was found. After a hang-up this fails: there is no line left.
    if (native_->haveSaved) {
        (void)::tcsetattr(native_->fd, TCSANOW, &native_->saved);
    }
    if (!native_->latency.Empty()) {
        SystemLatencyControls controls;
        RestoreLatency(native_->fd, native_->latency, controls);
        native_->latency = {};
    }
    serial_detail::ReleaseExclusive(native_->fd, native_->exclusiveSet);
    native_->fd = -1;
    native_->haveSaved = false;
    native_->exclusiveSet = false;
    native_->pseudoTerminal = false;
    native_->watchLineErrors = false;
    native_->lineFailed = false;
}

}  // namespace tarvex

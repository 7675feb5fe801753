// The serial line over a POSIX tty.
//
// The terminal settings follow the usual pattern: the settings found at open are kept, the new
// ones are built on a copy, applied, read back and compared, and the old ones are put back at
// close, so that the device is left as it was found. What this system adds beyond POSIX (pty
// detection and the driver's error counters, low latency on USB adapters, the holders of a
// port) comes through the serial_detail helpers and LowLatency.h, one file per system.
#include "serial/TermiosLinePosix.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <optional>
#include <utility>

#include "serial/PortAccess.h"

namespace tarvex {
namespace {

using Clock = LineClock;

// Errors met while data moves: on a tty that was open, "no device" means it went away.
SerialError IoErrorFromErrno(int err) {
    const SerialError e = SerialErrorFromErrno(err);
    return e == SerialError::NotFound ? SerialError::Disconnected : e;
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

enum class WaitResult { Ready, TimedOut, Failed };

// Waits for `events` on fd until `until` (none: without limit). On Ready, `revents` holds what
// poll() reported; on Failed, `error` says why.
WaitResult WaitFor(int fd, short events, std::optional<Clock::time_point> until, short& revents,
                   SerialError& error) {
    for (;;) {
        const Clock::time_point now = Clock::now();
        if (until && now >= *until) {
            return WaitResult::TimedOut;
        }
        pollfd pfd{fd, events, 0};
        const int r = ::poll(&pfd, 1, until ? MsUntil(*until, now) : -1);
        if (r < 0) {
            if (errno == EINTR) {
                continue;  // the deadline is absolute, so the remaining time stays right
            }
            error = IoErrorFromErrno(errno);
            return WaitResult::Failed;
        }
        if (r == 0) {
            continue;  // the clock decides whether the time is up
        }
        if ((pfd.revents & POLLNVAL) != 0) {
            error = SerialError::Io;
            return WaitResult::Failed;
        }
        revents = pfd.revents;
        return WaitResult::Ready;
    }
}

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

namespace serial_detail {

ExclusiveDevice OpenExclusive(const std::string& path) {
    ExclusiveDevice dev;
    // O_NONBLOCK: a port without CLOCAL would otherwise wait in open() for a carrier, and all
    // I/O is poll()-driven anyway. O_NOCTTY: a session leader must not adopt the port as its
    // terminal (a hang-up would then send it SIGHUP).
    platform::UniqueFd fd(::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    if (!fd) {
        dev.error = SerialErrorFromErrno(errno);
        return dev;
    }
    if (::tcgetattr(fd.get(), &dev.settings) != 0) {
        const int err = errno;
        dev.error = (err == ENOTTY || err == EINVAL) ? SerialError::NotATerminal
                                                     : SerialErrorFromErrno(err);
        return dev;
    }

    // Two locks, because neither alone keeps a second user out:
    //  - TIOCEXCL makes further open() calls fail with EBUSY, but not for a process with
    //    CAP_SYS_ADMIN, and not for one that opened the device before;
    //  - flock() excludes every program that also locks (a second instance of this tool,
    //    including one running as root), but not programs that never lock.
    // The lock comes first: only its owner may set exclusive mode, because Close clears it
    // again and must never clear the exclusive mode of the instance that really holds the port.
    // A descriptor given up early takes its lock with it.
    for (;;) {
        if (::flock(fd.get(), LOCK_EX | LOCK_NB) == 0) {
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
        return dev;
    }
#ifdef TIOCGEXCL
    // A privileged process gets through another program's exclusive mode; it must still not
    // share the line with it.
    int alreadyExclusive = 0;
    if (::ioctl(fd.get(), TIOCGEXCL, &alreadyExclusive) == 0 && alreadyExclusive != 0) {
        dev.error = SerialError::Busy;
        return dev;
    }
#endif
    if (::ioctl(fd.get(), TIOCEXCL) != 0) {
        dev.error = SerialErrorFromErrno(errno);
        return dev;
    }
    // Exclusive first, then asked who else has it: a check made before the open would leave a
    // gap in which another program could take the port. From here on nobody but a privileged
    // process gets in, so a program found now opened the device before this one, did not lock
    // it, and would share the line.
    if (!FindPortHolders(path).empty()) {
        (void)::ioctl(fd.get(), TIOCNXCL);
        (void)::flock(fd.get(), LOCK_UN);
        dev.error = SerialError::Busy;
        return dev;
    }
    dev.exclusiveSet = true;
    dev.fd = std::move(fd);
    return dev;
}

void ReleaseExclusive(platform::UniqueFd fd, bool exclusiveSet) {
    if (!fd) {
        return;
    }
    // Exclusive mode belongs to the tty, not to this descriptor: when another process still has
    // the device open, it would outlive the close. The lock and the descriptor go together.
    // Failures are of no consequence here: a device that went away has nothing left to release.
    if (exclusiveSet) {
        (void)::ioctl(fd.get(), TIOCNXCL);
    }
    (void)::flock(fd.get(), LOCK_UN);
}

}  // namespace serial_detail

void EmergencyRestoreAndClose(int fd, const struct termios* saved,
                              const EmergencyLatency* latency) {
    if (fd < 0) {
        return;
    }
    // Only tcsetattr, ioctl, open, write and close: plain system calls, safe inside a signal
    // handler. The caller's errno survives, as a handler must leave it.
    const int savedErrno = errno;
    if (latency != nullptr) {
        EmergencyRestoreLatency(fd, *latency);
    }
    if (saved != nullptr) {
        (void)::tcsetattr(fd, TCSANOW, saved);
    }
    (void)::ioctl(fd, TIOCNXCL);
    (void)::close(fd);
    errno = savedErrno;
}

std::unique_ptr<ISerialLine> MakeSystemLine() {
    return std::make_unique<CTermiosLine>();
}

CTermiosLine::~CTermiosLine() {
    Close();
}

SerialError CTermiosLine::Open(const std::string& path) {
    Close();
    serial_detail::ExclusiveDevice dev = serial_detail::OpenExclusive(path);
    if (!dev.fd) {
        return dev.error;
    }
    fd_ = std::move(dev.fd);
    exclusiveSet_ = dev.exclusiveSet;
    saved_ = dev.settings;
    haveSaved_ = true;
    pseudoTerminal_ = serial_detail::IsPseudoTerminal(fd_.get());
    if (!pseudoTerminal_) {
        latency_ = RequestSystemLowLatency(fd_.get(), path);
        emergencyLatency_ = PrepareEmergencyLatency(fd_.get(), latency_);
    }
    watchLineErrors_ = false;
    return SerialError::None;
}

SerialError CTermiosLine::ReadState() {
    // The tty keeps no record of time-outs that could be read back; its settings stand in for
    // "the device still answers".
    struct termios current {};
    if (!fd_) {
        return SerialError::NotOpen;
    }
    if (::tcgetattr(fd_.get(), &current) != 0) {
        return IoErrorFromErrno(errno);
    }
    return SerialError::None;
}

SerialError CTermiosLine::Configure(const LineSettings& line) {
    if (!fd_) {
        return SerialError::NotOpen;
    }
    struct termios current {};
    if (::tcgetattr(fd_.get(), &current) != 0) {
        return IoErrorFromErrno(errno);
    }
    struct termios wanted {};
    if (!BuildTermios(line, current, wanted)) {
        return SerialError::Unsupported;
    }
    if (::tcsetattr(fd_.get(), TCSANOW, &wanted) != 0) {
        return IoErrorFromErrno(errno);
    }

    // DTR and RTS held off. This comes after tcsetattr because the serial core raises both when
    // a line leaves speed 0.
    if (const SerialError e = SetModemLines(false, false); e != SerialError::None) {
        return e;
    }

    // tcsetattr succeeds when any part of the request was taken; only reading back tells
    // whether the driver kept all of it.
    struct termios actual {};
    if (::tcgetattr(fd_.get(), &actual) != 0) {
        return IoErrorFromErrno(errno);
    }
    if (!SettingsTakenByDevice(wanted, actual, pseudoTerminal_)) {
        return SerialError::Unsupported;
    }

    // Abort-on-error: from here on, a rise in the driver's framing, overrun, break or buffer
    // overrun counts (and parity count, when parity is checked) is a line error. The counters
    // are the only way Linux reports these without altering the data; drivers that keep none
    // (pseudo-terminals, some USB adapters) have nothing to watch.
    checkParity_ = line.parityChecking;
    watchLineErrors_ = serial_detail::ReadLineErrorCounts(fd_.get(), errorBaseline_);
    return SerialError::None;
}

SerialError CTermiosLine::SetModemLines(bool dtr, bool rts) {
    if (!fd_) {
        return SerialError::NotOpen;
    }
    // A pseudo-terminal has no modem lines and refuses the request with ENOTTY (some USB
    // drivers with EINVAL); the byte stream works all the same there.
    auto request = [this](unsigned long op, int lines) {
        if (lines == 0 || ::ioctl(fd_.get(), op, &lines) == 0 || errno == ENOTTY ||
            errno == EINVAL) {
            return SerialError::None;
        }
        return IoErrorFromErrno(errno);
    };
    const int raise = (dtr ? TIOCM_DTR : 0) | (rts ? TIOCM_RTS : 0);
    const int drop = (dtr ? 0 : TIOCM_DTR) | (rts ? 0 : TIOCM_RTS);
    if (const SerialError e = request(TIOCMBIS, raise); e != SerialError::None) {
        return e;
    }
    return request(TIOCMBIC, drop);
}

SerialError CTermiosLine::RequestRs485(bool hearOwnFrames) {
    if (!fd_) {
        return SerialError::NotOpen;
    }
    SystemRs485Controls controls;
    const Rs485Request request = tarvex::RequestRs485(fd_.get(), hearOwnFrames, controls);
    if (request.previous) {
        rs485Was_ = request.previous;
    }
    return request.error;
}

bool CTermiosLine::LineErrorSeen() {
    if (!watchLineErrors_ || !fd_) {
        return false;
    }
    LineErrorCounts now;
    if (!serial_detail::ReadLineErrorCounts(fd_.get(), now)) {
        return false;  // the device may have gone: the read or write itself will tell
    }
    return now.frame != errorBaseline_.frame || now.overrun != errorBaseline_.overrun ||
           now.brk != errorBaseline_.brk || now.bufferOverrun != errorBaseline_.bufferOverrun ||
           (checkParity_ && now.parity != errorBaseline_.parity);
}

SerialError CTermiosLine::Read(std::uint8_t* buffer, std::size_t length, const LineWait& wait,
                               std::size_t& received) {
    received = 0;
    if (!fd_) {
        return SerialError::NotOpen;
    }
    const std::optional<Clock::time_point> until = wait.Until();
    bool hangupSeen = false;
    for (;;) {
        const ssize_t n = ::read(fd_.get(), buffer, length);
        if (n > 0) {
            received = static_cast<std::size_t>(n);
            return SerialError::None;
        }
        if (n == 0) {
            // With VMIN 1 an empty queue gives EAGAIN; 0 is the end of a hung-up line.
            return SerialError::Disconnected;
        }
        const int err = errno;
        if (err == EINTR) {
            continue;
        }
        if (err != EAGAIN && err != EWOULDBLOCK) {
            return IoErrorFromErrno(err);
        }
        if (hangupSeen) {
            // poll() reported a hang-up and nothing is left to read: the device is gone.
            return SerialError::Disconnected;
        }
        short revents = 0;
        SerialError error = SerialError::None;
        switch (WaitFor(fd_.get(), POLLIN, until, revents, error)) {
            case WaitResult::TimedOut:
                return SerialError::None;
            case WaitResult::Failed:
                return error;
            case WaitResult::Ready:
                break;
        }
        // On POLLHUP or POLLERR read once more: bytes the device sent before it went away are
        // still queued and belong to the caller; the read after them reports the end.
        hangupSeen = (revents & (POLLHUP | POLLERR)) != 0 && (revents & POLLIN) == 0;
    }
}

SerialError CTermiosLine::Write(const std::uint8_t* data, std::size_t length, const LineWait& wait,
                                std::size_t& written) {
    written = 0;
    if (!fd_) {
        return SerialError::NotOpen;
    }
    // write() only queues: the driver sends on while the caller runs its idle hook, so the
    // wait for room is cut at yieldAt like any other.
    const std::optional<Clock::time_point> until = wait.Until();
    while (written < length) {
        const ssize_t n = ::write(fd_.get(), data + written, length - written);
        if (n > 0) {
            written += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0) {
            const int err = errno;
            if (err == EINTR) {
                continue;
            }
            if (err != EAGAIN && err != EWOULDBLOCK) {
                return IoErrorFromErrno(err);
            }
        }
        // The driver's queue is full: wait for room.
        short revents = 0;
        SerialError error = SerialError::None;
        switch (WaitFor(fd_.get(), POLLOUT, until, revents, error)) {
            case WaitResult::TimedOut:
                return SerialError::None;
            case WaitResult::Failed:
                return error;
            case WaitResult::Ready:
                break;
        }
        if ((revents & (POLLHUP | POLLERR)) != 0 && (revents & POLLOUT) == 0) {
            return SerialError::Disconnected;
        }
    }
    return SerialError::None;
}

SerialError CTermiosLine::Purge(LineQueue queue) {
    if (!fd_) {
        return SerialError::NotOpen;
    }
    if (::tcflush(fd_.get(), queue == LineQueue::Input ? TCIFLUSH : TCOFLUSH) != 0) {
        return IoErrorFromErrno(errno);
    }
    return SerialError::None;
}

void CTermiosLine::Close() {
    if (!fd_) {
        return;
    }
    // Put the line back as it was found. After a hang-up this fails: there is no line left.
    if (haveSaved_) {
        (void)::tcsetattr(fd_.get(), TCSANOW, &saved_);
    }
    if (!latency_.Empty()) {
        SystemLatencyControls controls;
        RestoreLatency(fd_.get(), latency_, controls);
        latency_ = {};
    }
    emergencyLatency_ = {};
    if (rs485Was_) {
        SystemRs485Controls controls;
        RestoreRs485(fd_.get(), *rs485Was_, controls);
        rs485Was_.reset();
    }
    serial_detail::ReleaseExclusive(std::move(fd_), exclusiveSet_);
    haveSaved_ = false;
    exclusiveSet_ = false;
    pseudoTerminal_ = false;
    watchLineErrors_ = false;
}

}  // namespace tarvex

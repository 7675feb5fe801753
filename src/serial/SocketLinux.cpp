// The network lines' TCP connection over the sockets of Linux (BSD sockets, with Linux's
// TCP_QUICKACK).
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>

#include "serial/NetSocket.h"

namespace tarvex {
namespace {

using Clock = LineClock;

int MsUntil(std::optional<Clock::time_point> until) {
    if (!until) {
        return -1;
    }
    const Clock::time_point now = Clock::now();
    if (*until <= now) {
        return 0;
    }
    const auto ms = std::chrono::ceil<std::chrono::milliseconds>(*until - now).count();
    return static_cast<int>(std::min<std::int64_t>(ms, INT_MAX));
}

SerialError FromErrno(int err) {
    switch (err) {
        case ECONNREFUSED:
            return SerialError::Refused;
        case ETIMEDOUT:
            return SerialError::ConnectTimeout;
        case ECONNRESET:
        case EPIPE:
        case ENOTCONN:
        case ECONNABORTED:
        case ENETDOWN:
        case ENETUNREACH:
        case EHOSTUNREACH:
        case ESHUTDOWN:
            return SerialError::Disconnected;
        case EACCES:
        case EPERM:
            return SerialError::PermissionDenied;
        default:
            return SerialError::Io;
    }
}

// Once connected, a refusal or a time-out of the system's own is the connection lost.
SerialError IoFromErrno(int err) {
    const SerialError e = FromErrno(err);
    return e == SerialError::Refused || e == SerialError::ConnectTimeout ? SerialError::Disconnected
                                                                         : e;
}

// Waits for `events` until `until`; false with `error` None when the time is up.
bool WaitFor(int fd, short events, std::optional<Clock::time_point> until, SerialError& error) {
    error = SerialError::None;
    for (;;) {
        pollfd pfd{fd, events, 0};
        const int r = ::poll(&pfd, 1, MsUntil(until));
        if (r > 0) {
            return true;  // errors and hang-ups show in the call that follows
        }
        if (r == 0) {
            if (until && Clock::now() < *until) {
                continue;
            }
            return false;
        }
        if (errno != EINTR) {
            error = FromErrno(errno);
            return false;
        }
    }
}

// Acknowledges what arrives at once. A server that writes a reply in pieces and keeps Nagle's
// algorithm on (ser2net does by default) holds each piece back until the one before has been
// acknowledged, and Linux delays an acknowledgement up to 40 ms: that was 40 ms more for every
// reply. The quick mode does not last (the kernel goes back to delaying on its own), so it is
// asked for again before every wait for data.
void AcknowledgeAtOnce(int fd) {
    const int one = 1;
    (void)::setsockopt(fd, IPPROTO_TCP, TCP_QUICKACK, &one, sizeof one);
}

SerialError ConnectOne(const addrinfo& ai, Clock::time_point deadline, int& out) {
    const int fd =
        ::socket(ai.ai_family, ai.ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK, ai.ai_protocol);
    if (fd < 0) {
        return FromErrno(errno);
    }
    SerialError e = SerialError::None;
    if (::connect(fd, ai.ai_addr, ai.ai_addrlen) != 0) {
        if (errno != EINPROGRESS) {
            e = FromErrno(errno);
        } else if (!WaitFor(fd, POLLOUT, deadline, e)) {
            e = e == SerialError::None ? SerialError::ConnectTimeout : e;
        } else {
            int err = 0;
            socklen_t len = sizeof err;
            if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) != 0) {
                err = errno;
            }
            e = err == 0 ? SerialError::None : FromErrno(err);
        }
    }
    if (e != SerialError::None) {
        ::close(fd);
        return e;
    }
    const int one = 1;
    (void)::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    out = fd;
    return SerialError::None;
}

}  // namespace

NetSocket::~NetSocket() {
    Close();
}

SerialError NetSocket::Connect(const std::string& host, std::uint16_t port,
                               LineClock::time_point deadline) {
    Close();
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_ADDRCONFIG | AI_NUMERICSERV;
    addrinfo* list = nullptr;
    const std::string service = std::to_string(port);
    if (::getaddrinfo(host.c_str(), service.c_str(), &hints, &list) != 0 || list == nullptr) {
        return SerialError::NotFound;
    }
    SerialError e = SerialError::NotFound;
    for (const addrinfo* ai = list; ai != nullptr; ai = ai->ai_next) {
        int fd = -1;
        e = ConnectOne(*ai, deadline, fd);
        if (e == SerialError::None) {
            handle_ = fd;
            break;
        }
        if (e == SerialError::ConnectTimeout) {
            break;  // the deadline covers every address together
        }
    }
    ::freeaddrinfo(list);
    return e;
}

SerialError NetSocket::Send(const std::uint8_t* data, std::size_t length,
                            std::optional<LineClock::time_point> until, std::size_t& sent) {
    sent = 0;
    if (!IsOpen()) {
        return SerialError::NotOpen;
    }
    const int fd = static_cast<int>(handle_);
    for (;;) {
        const ssize_t n = ::send(fd, data, length, MSG_NOSIGNAL);
        if (n >= 0) {
            sent = static_cast<std::size_t>(n);
            return SerialError::None;
        }
        if (errno == EINTR) {
            continue;
        }
        if (errno != EAGAIN && errno != EWOULDBLOCK) {
            return IoFromErrno(errno);
        }
        SerialError e = SerialError::None;
        if (!WaitFor(fd, POLLOUT, until, e)) {
            return e;
        }
    }
}

SerialError NetSocket::Receive(std::uint8_t* buffer, std::size_t length,
                               std::optional<LineClock::time_point> until, std::size_t& got) {
    got = 0;
    if (!IsOpen()) {
        return SerialError::NotOpen;
    }
    const int fd = static_cast<int>(handle_);
    AcknowledgeAtOnce(fd);
    for (;;) {
        const ssize_t n = ::recv(fd, buffer, length, 0);
        if (n > 0) {
            got = static_cast<std::size_t>(n);
            return SerialError::None;
        }
        if (n == 0) {
            return SerialError::Disconnected;  // the server closed the connection
        }
        if (errno == EINTR) {
            continue;
        }
        if (errno != EAGAIN && errno != EWOULDBLOCK) {
            return IoFromErrno(errno);
        }
        AcknowledgeAtOnce(fd);
        SerialError e = SerialError::None;
        if (!WaitFor(fd, POLLIN, until, e)) {
            return e;
        }
    }
}

void NetSocket::Close() {
    if (handle_ != kNone) {
        ::close(static_cast<int>(handle_));
        handle_ = kNone;
    }
}

}  // namespace tarvex

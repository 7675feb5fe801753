// The network lines' TCP connection over Winsock.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <algorithm>
#include <climits>

#include "serial/NetSocket.h"

namespace tarvex {
namespace {

using Clock = LineClock;

// Winsock wants one WSAStartup per process before any call; it stays up until the process
// ends, which is when the system tidies it anyway.
bool WinsockReady() {
    static const bool ready = [] {
        WSADATA data{};
        return ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    return ready;
}

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

SerialError FromWsa(int err) {
    switch (err) {
        case WSAECONNREFUSED:
            return SerialError::Refused;
        case WSAETIMEDOUT:
            return SerialError::ConnectTimeout;
        case WSAECONNRESET:
        case WSAECONNABORTED:
        case WSAENOTCONN:
        case WSAENETDOWN:
        case WSAENETUNREACH:
        case WSAEHOSTUNREACH:
        case WSAESHUTDOWN:
        case WSAENETRESET:
            return SerialError::Disconnected;
        case WSAEACCES:
            return SerialError::PermissionDenied;
        default:
            return SerialError::Io;
    }
}

SerialError IoFromWsa(int err) {
    const SerialError e = FromWsa(err);
    return e == SerialError::Refused || e == SerialError::ConnectTimeout ? SerialError::Disconnected
                                                                         : e;
}

bool WaitFor(SOCKET s, short events, std::optional<Clock::time_point> until, SerialError& error) {
    error = SerialError::None;
    for (;;) {
        WSAPOLLFD pfd{};
        pfd.fd = s;
        pfd.events = events;
        const int r = ::WSAPoll(&pfd, 1, MsUntil(until));
        if (r > 0) {
            return true;
        }
        if (r == 0) {
            if (until && Clock::now() < *until) {
                continue;
            }
            return false;
        }
        error = FromWsa(::WSAGetLastError());
        return false;
    }
}

SerialError ConnectOne(const addrinfo& ai, Clock::time_point deadline, SOCKET& out) {
    const SOCKET s = ::socket(ai.ai_family, ai.ai_socktype, ai.ai_protocol);
    if (s == INVALID_SOCKET) {
        return FromWsa(::WSAGetLastError());
    }
    u_long nonBlocking = 1;
    SerialError e = SerialError::None;
    if (::ioctlsocket(s, FIONBIO, &nonBlocking) != 0) {
        e = FromWsa(::WSAGetLastError());
    } else if (::connect(s, ai.ai_addr, static_cast<int>(ai.ai_addrlen)) != 0) {
        const int err = ::WSAGetLastError();
        if (err != WSAEWOULDBLOCK) {
            e = FromWsa(err);
        } else if (!WaitFor(s, POLLOUT, deadline, e)) {
            e = e == SerialError::None ? SerialError::ConnectTimeout : e;
        } else {
            int soError = 0;
            int len = sizeof soError;
            if (::getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&soError), &len) !=
                0) {
                soError = ::WSAGetLastError();
            }
            e = soError == 0 ? SerialError::None : FromWsa(soError);
        }
    }
    if (e != SerialError::None) {
        ::closesocket(s);
        return e;
    }
    const BOOL one = TRUE;
    (void)::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one),
                       sizeof one);
    out = s;
    return SerialError::None;
}

int ChunkOf(std::size_t length) {
    return static_cast<int>(std::min<std::size_t>(length, INT_MAX));
}

}  // namespace

NetSocket::~NetSocket() {
    Close();
}

SerialError NetSocket::Connect(const std::string& host, std::uint16_t port,
                               LineClock::time_point deadline) {
    Close();
    if (!WinsockReady()) {
        return SerialError::Io;
    }
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV;
    addrinfo* list = nullptr;
    const std::string service = std::to_string(port);
    if (::getaddrinfo(host.c_str(), service.c_str(), &hints, &list) != 0 || list == nullptr) {
        return SerialError::NotFound;
    }
    SerialError e = SerialError::NotFound;
    for (const addrinfo* ai = list; ai != nullptr; ai = ai->ai_next) {
        SOCKET s = INVALID_SOCKET;
        e = ConnectOne(*ai, deadline, s);
        if (e == SerialError::None) {
            handle_ = static_cast<std::intptr_t>(s);
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
    const auto s = static_cast<SOCKET>(handle_);
    for (;;) {
        const int n = ::send(s, reinterpret_cast<const char*>(data), ChunkOf(length), 0);
        if (n >= 0) {
            sent = static_cast<std::size_t>(n);
            return SerialError::None;
        }
        const int err = ::WSAGetLastError();
        if (err != WSAEWOULDBLOCK) {
            return IoFromWsa(err);
        }
        SerialError e = SerialError::None;
        if (!WaitFor(s, POLLWRNORM, until, e)) {
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
    const auto s = static_cast<SOCKET>(handle_);
    for (;;) {
        const int n = ::recv(s, reinterpret_cast<char*>(buffer), ChunkOf(length), 0);
        if (n > 0) {
            got = static_cast<std::size_t>(n);
            return SerialError::None;
        }
        if (n == 0) {
            return SerialError::Disconnected;  // the server closed the connection
        }
        const int err = ::WSAGetLastError();
        if (err != WSAEWOULDBLOCK) {
            return IoFromWsa(err);
        }
        SerialError e = SerialError::None;
        if (!WaitFor(s, POLLRDNORM, until, e)) {
            return e;
        }
    }
}

void NetSocket::Close() {
    if (handle_ != kNone) {
        ::closesocket(static_cast<SOCKET>(handle_));
        handle_ = kNone;
    }
}

}  // namespace tarvex

// A TCP connection for the network lines, over the system's resolver and sockets
// (getaddrinfo; BSD sockets or Winsock, one file per system: SocketLinux.cpp, SocketWin32.cpp).
//
// Every wait is a poll against a point on the steady clock, as on a local line, so that the
// caller's one deadline holds whatever the network does. A peer that closes or resets the
// connection is Disconnected, the same as an unplugged adapter.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "serial/SerialLine.h"

namespace tarvex {

class NetSocket {
  public:
    NetSocket() = default;
    ~NetSocket();
    NetSocket(const NetSocket&) = delete;
    NetSocket& operator=(const NetSocket&) = delete;

    // Resolves host and connects to the first address that answers before `deadline`, with
    // TCP_NODELAY set: the panel protocol sends one short frame and waits for its reply, which
    // Nagle's algorithm would hold back. NotFound: the host is unknown; Refused: nothing
    // listens there; ConnectTimeout: the deadline passed.
    SerialError Connect(const std::string& host, std::uint16_t port,
                        LineClock::time_point deadline);
    bool IsOpen() const { return handle_ != kNone; }

    // Sends as much of the block as the system takes before `until` (none: no limit); a
    // block the send buffer holds at once goes out in one call and so in one segment.
    SerialError Send(const std::uint8_t* data, std::size_t length,
                     std::optional<LineClock::time_point> until, std::size_t& sent);
    // What has arrived, or the first bytes to arrive before `until`; got 0 with None: nothing
    // came in time.
    SerialError Receive(std::uint8_t* buffer, std::size_t length,
                        std::optional<LineClock::time_point> until, std::size_t& got);
    void Close();

  private:
    static constexpr std::intptr_t kNone = -1;
    std::intptr_t handle_ = kNone;  // the descriptor or SOCKET, as the system gives it
};

}  // namespace tarvex

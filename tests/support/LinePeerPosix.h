// The line peer's command loop over a descriptor (the master side of a pseudo-terminal), for
// the in-process peer and for tarvex-line-peer.
#pragma once

#include <atomic>

namespace tarvex::test {

enum class PeerEnd {
    Vanish,   // told to go away: the caller closes its end of the line
    Stopped,  // `stop` was set
    Idle,     // nothing arrived for idleExitMs
};

// Serves the commands of LinePeer.h on fd until one of the PeerEnd reasons. A read error on fd
// (no one holds the other side just now) is waited out. idleExitMs 0: no idle limit.
PeerEnd ServeLinePeer(int fd, const std::atomic<bool>& stop, long idleExitMs = 0);

}  // namespace tarvex::test

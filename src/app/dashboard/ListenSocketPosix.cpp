#include <sys/socket.h>

#include "app/dashboard/ListenSocket.h"

namespace tarvex::dashboard {

bool PrepareListenSocket(std::uintptr_t handle) {
    // SO_REUSEADDR on POSIX only passes over connections in TIME_WAIT; a live listener on
    // the same port still makes bind() fail, which is what tells "already in use".
    const int on = 1;
    return ::setsockopt(static_cast<int>(handle), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) == 0;
}

}  // namespace tarvex::dashboard

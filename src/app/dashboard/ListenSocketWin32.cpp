#include <winsock2.h>

#include "app/dashboard/ListenSocket.h"

namespace tarvex::dashboard {

bool PrepareListenSocket(std::uintptr_t handle) {
    // Winsock's SO_REUSEADDR would let another program take the port over: the exclusive
    // use makes a second bind fail instead.
    const BOOL on = TRUE;
    return ::setsockopt(static_cast<SOCKET>(handle), SOL_SOCKET, SO_EXCLUSIVEADDRUSE,
                        reinterpret_cast<const char*>(&on), sizeof on) == 0;
}

}  // namespace tarvex::dashboard
